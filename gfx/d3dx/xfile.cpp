#include "gfx/d3dx/xfile.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <unordered_map>

#include "gfx/d3d9/d3d9types.h"

namespace xfile {

namespace {

constexpr HRESULT invalidData = static_cast<HRESULT>(0x88760B59u);  // D3DXERR_INVALIDDATA

struct Token {
    enum Kind { End, Name, String, Integer, Float, Open, Close, Guid, Separator, Template, Other } kind = End;
    std::string text;
    double number = 0;
};

struct ParseError {
    std::string message;
};

[[noreturn]] void fail(const std::string& message) { throw ParseError{message}; }

class Lexer {
public:
    virtual ~Lexer() = default;
    virtual Token next() = 0;
    Token peek() {
        if (pending.empty()) pending.push_back(next());
        return pending.front();
    }
    Token take() {
        if (!pending.empty()) {
            Token t = pending.front();
            pending.pop_front();
            return t;
        }
        return next();
    }

protected:
    std::deque<Token> pending;
};

class TextLexer : public Lexer {
public:
    TextLexer(const char* begin, const char* end) : p(begin), e(end) {}

    Token next() override {
        skipSpace();
        Token t;
        if (p >= e) return t;
        char c = *p;
        if (c == '{') { ++p; t.kind = Token::Open; return t; }
        if (c == '}') { ++p; t.kind = Token::Close; return t; }
        if (c == ';' || c == ',') { ++p; t.kind = Token::Separator; return t; }
        if (c == '<') {
            const char* close = static_cast<const char*>(std::memchr(p, '>', size_t(e - p)));
            if (!close) fail("unterminated GUID");
            t.kind = Token::Guid;
            t.text.assign(p + 1, close);
            p = close + 1;
            return t;
        }
        if (c == '"') {
            const char* close = static_cast<const char*>(std::memchr(p + 1, '"', size_t(e - p - 1)));
            if (!close) fail("unterminated string");
            t.kind = Token::String;
            t.text.assign(p + 1, close);
            p = close + 1;
            return t;
        }
        if (c == '[' || c == ']' || c == '(' || c == ')' || c == '.') {
            ++p;
            t.kind = Token::Other;
            return t;
        }
        if ((c >= '0' && c <= '9') || c == '-' || c == '+') {
            const char* start = p;
            while (p < e && (std::isdigit(static_cast<unsigned char>(*p)) || *p == '-' || *p == '+' || *p == '.' ||
                             *p == 'e' || *p == 'E'))
                ++p;
            std::string_view s(start, size_t(p - start));
            bool isFloat = s.find_first_of(".eE") != std::string_view::npos;
            double value = 0;
            auto [ptr, ec] = std::from_chars(start + (*start == '+' ? 1 : 0), p, value);
            if (ec != std::errc() || ptr != p) fail("bad number '" + std::string(s) + "'");
            t.kind = isFloat ? Token::Float : Token::Integer;
            t.number = value;
            return t;
        }
        const char* start = p;
        while (p < e && !std::isspace(static_cast<unsigned char>(*p)) && !std::strchr("{};,<>\"[]()", *p)) {
            if (*p == '/' && p + 1 < e && p[1] == '/') break;
            if (*p == '#') break;
            ++p;
        }
        if (p == start) fail("unexpected character");
        t.text.assign(start, p);
        t.kind = (t.text == "template" || t.text == "TEMPLATE") ? Token::Template : Token::Name;
        return t;
    }

private:
    void skipSpace() {
        while (p < e) {
            if (std::isspace(static_cast<unsigned char>(*p))) {
                ++p;
            } else if (*p == '#' || (*p == '/' && p + 1 < e && p[1] == '/')) {
                while (p < e && *p != '\n') ++p;
            } else {
                break;
            }
        }
    }
    const char* p;
    const char* e;
};

class BinaryLexer : public Lexer {
public:
    BinaryLexer(const uint8_t* begin, const uint8_t* end, bool doubles) : p(begin), e(end), doubles(doubles) {}

    Token next() override {
        // Empty lists yield nothing: a loop, not a recursion, so that millions of them cannot
        // exhaust the stack.
        while (true) {
            Token t = nextToken();
            if (t.kind != Token::Other || !emptyList) return t;
            emptyList = false;
        }
    }

private:
    Token nextToken() {
        Token t;
        if (listLeft > 0) {
            --listLeft;
            if (listIsFloat) {
                t.kind = Token::Float;
                if (doubles) {
                    double d;
                    std::memcpy(&d, take(8), 8);
                    t.number = d;
                } else {
                    float f;
                    std::memcpy(&f, take(4), 4);
                    t.number = f;
                }
            } else {
                t.kind = Token::Integer;
                t.number = word32();
            }
            return t;
        }
        if (p >= e) return t;
        uint16_t id = word16();
        switch (id) {
            case 1: {
                uint32_t n = word32();
                const uint8_t* s = take(n);
                t.kind = Token::Name;
                t.text.assign(reinterpret_cast<const char*>(s), n);
                return t;
            }
            case 2: {
                uint32_t n = word32();
                const uint8_t* s = take(n);
                t.kind = Token::String;
                t.text.assign(reinterpret_cast<const char*>(s), n);
                // The terminator is documented as a DWORD but written as a WORD by some writers.
                if (p + 2 <= e) {
                    uint16_t terminator;
                    std::memcpy(&terminator, p, 2);
                    if (terminator == 19 || terminator == 20) {
                        p += 2;
                        if (p + 2 <= e && p[0] == 0 && p[1] == 0) p += 2;
                    }
                }
                return t;
            }
            case 3:
                t.kind = Token::Integer;
                t.number = word32();
                return t;
            case 5:
                take(16);
                t.kind = Token::Guid;
                return t;
            case 6:
            case 7: {
                uint32_t n = word32();
                size_t element = id == 6 ? 4 : (doubles ? 8 : 4);
                if (size_t(e - p) / element < n) fail("list longer than the file");
                listLeft = n;
                listIsFloat = id == 7;
                if (n > 0) return nextToken();
                emptyList = true;
                t.kind = Token::Other;
                return t;
            }
            case 10: t.kind = Token::Open; return t;
            case 11: t.kind = Token::Close; return t;
            case 19:
            case 20: t.kind = Token::Separator; return t;
            case 31: t.kind = Token::Template; return t;
            default:
                if (id == 0 || id > 53) fail("unknown binary token");
                t.kind = Token::Other;
                return t;
        }
    }

    const uint8_t* take(size_t n) {
        if (size_t(e - p) < n) fail("file ends inside a token");
        const uint8_t* r = p;
        p += n;
        return r;
    }
    uint16_t word16() {
        uint16_t v;
        std::memcpy(&v, take(2), 2);
        return v;
    }
    uint32_t word32() {
        uint32_t v;
        std::memcpy(&v, take(4), 4);
        return v;
    }
    const uint8_t* p;
    const uint8_t* e;
    bool doubles;
    uint32_t listLeft = 0;
    bool listIsFloat = false;
    bool emptyList = false;
};

std::vector<uint8_t> inflateMszip(const uint8_t* p, const uint8_t* e) {
    if (e - p < 4) fail("compressed file too short");
    uint32_t total;
    std::memcpy(&total, p, 4);
    p += 4;
    if (total < 16 || total - 16 > maxFileBytes) fail("bad decompressed size");
    const size_t size = total - 16;
    // Grown block by block: the claimed size alone does not get memory.
    std::vector<uint8_t> out;
    size_t done = 0;
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) fail("inflate unavailable");
    std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&z, inflateEnd);
    while (done < size) {
        if (e - p < 6) fail("compressed block header missing");
        uint16_t usize, csize;
        std::memcpy(&usize, p, 2);
        std::memcpy(&csize, p + 2, 2);
        if (usize == 0 || usize > 32768 || csize < 2 || size_t(e - p) < size_t(4) + csize || p[4] != 'C' ||
            p[5] != 'K' || usize > size - done)
            fail("bad compressed block");
        out.resize(done + usize);
        inflateReset(&z);
        // Each block may refer back into the previous 32 KiB of output.
        if (done > 0) {
            size_t history = std::min<size_t>(32768, done);
            inflateSetDictionary(&z, out.data() + done - history, uInt(history));
        }
        z.next_in = const_cast<Bytef*>(p + 6);
        z.avail_in = uInt(csize - 2);
        z.next_out = out.data() + done;
        z.avail_out = usize;
        int result = inflate(&z, Z_FINISH);
        if (result != Z_STREAM_END || z.avail_out != 0) fail("corrupt compressed block");
        done += usize;
        p += 4 + csize;
    }
    return out;
}

// A polygon list stored flat: corners of face i are corners[start[i] .. start[i + 1]).
struct FaceList {
    std::vector<uint32_t> start{0};
    std::vector<uint32_t> corners;
    size_t size() const { return start.size() - 1; }
    uint32_t cornerCount(size_t face) const { return start[face + 1] - start[face]; }
    const uint32_t* of(size_t face) const { return corners.data() + start[face]; }
};

struct RawMesh {
    std::vector<float> positions;  // 3 per vertex
    FaceList faces;
    std::vector<float> normals;
    FaceList normalFaces;
    std::vector<float> texcoords;  // 2 per vertex
    std::vector<uint32_t> colors;  // per vertex, opaque white where the file gives none
    std::vector<uint32_t> materials;
    bool hasNormals = false, hasTexCoords = false, hasColors = false;
};

// Unit length by plain division; a zero vector stays zero.
void normalise(float v[3]) {
    const float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    for (int j = 0; j < 3; ++j) v[j] = length > 0 ? v[j] / length : 0.0f;
}

class Reader {
public:
    Reader(Lexer& lexer, Mesh& out) : lex(lexer), out(out) {}

    void readFile() {
        while (lex.peek().kind != Token::End) {
            std::string type;
            readHeader(type);
            if (!type.empty()) readObjectBody(type);
        }
    }

    int meshCount = 0;

private:
    uint32_t readCount(const char* what) {
        double v = readNumber(what);
        if (v < 0 || v != std::floor(v)) fail(std::string("bad count for ") + what);
        if (v > maxElements) fail(std::string("too many ") + what);
        return uint32_t(v);
    }

    double readNumber(const char* what) {
        while (true) {
            Token t = lex.take();
            if (t.kind == Token::Separator) continue;
            if (t.kind == Token::Integer || t.kind == Token::Float) {
                if (!std::isfinite(t.number)) fail(std::string("non-finite value in ") + what);
                return t.number;
            }
            fail(std::string("expected a number in ") + what);
        }
    }

    float readFloat(const char* what) {
        double v = readNumber(what);
        if (std::fabs(v) > 1e30) fail(std::string("value out of range in ") + what);
        return float(v);
    }

    void expectOpen() {
        Token t = lex.take();
        if (t.kind != Token::Open) fail("expected '{'");
    }

    // Skips the rest of an object whose '{' has been read.
    void skipBody() {
        int depth = 1;
        while (depth > 0) {
            Token t = lex.take();
            if (t.kind == Token::End) fail("file ends inside an object");
            if (t.kind == Token::Open) ++depth;
            if (t.kind == Token::Close) --depth;
        }
    }

    // Skips what is left of an object whose members have been read, nested objects included.
    void skipToClose() {
        while (true) {
            Token t = lex.take();
            if (t.kind == Token::Close) return;
            if (t.kind == Token::Open) skipBody();
            if (t.kind == Token::End) fail("file ends inside an object");
        }
    }

    // Reads an object header "Type [name] { [<guid>]" and gives its type. Template definitions and
    // references "{ name }" are skipped whole and give "".
    void readHeader(std::string& type) {
        type.clear();
        Token t = lex.take();
        if (t.kind == Token::Template) {
            if (lex.take().kind != Token::Name) fail("template without a name");
            expectOpen();
            skipBody();
            return;
        }
        if (t.kind == Token::Open) {
            skipBody();
            return;
        }
        if (t.kind != Token::Name) fail("expected an object");
        type = t.text;
        Token n = lex.take();
        if (n.kind == Token::Name) n = lex.take();
        if (n.kind != Token::Open) fail("expected '{' after " + type);
        if (lex.peek().kind == Token::Guid) lex.take();
    }

    void readObjectBody(const std::string& type) {
        if (type == "Mesh") {
            readMesh();
        } else if (type == "Frame") {
            readFrame();
        } else {
            skipBody();
        }
    }

    // A frame's matrix applies to every mesh inside it, nested frames included, wherever the matrix
    // stands among the children. Each frame transforms what was appended within it when it closes,
    // so the innermost matrix acts first: the product M_inner x ... x M_outer of row vectors.
    void readFrame() {
        if (++depth > maxNesting) fail("frames nested too deeply");
        const size_t firstVertex = out.vertices.size();
        bool hasMatrix = false;
        float matrix[16];
        while (true) {
            Token t = lex.peek();
            if (t.kind == Token::Close) {
                lex.take();
                break;
            }
            if (t.kind == Token::End) fail("file ends inside a frame");
            if (t.kind == Token::Separator) {
                lex.take();
                continue;
            }
            std::string type;
            readHeader(type);
            if (type.empty()) continue;
            if (type == "FrameTransformMatrix") {
                for (float& v : matrix) v = readFloat("FrameTransformMatrix");
                hasMatrix = true;
                skipToClose();
            } else {
                readObjectBody(type);
            }
        }
        if (hasMatrix) transform(firstVertex, matrix);
        --depth;
    }

    void transform(size_t first, const float* t) {
        for (size_t i = first; i < out.vertices.size(); ++i) {
            Vertex& v = out.vertices[i];
            float p[3], n[3];
            for (int j = 0; j < 3; ++j) {
                p[j] = v.position[0] * t[j] + v.position[1] * t[4 + j] + v.position[2] * t[8 + j] + t[12 + j];
                n[j] = v.normal[0] * t[j] + v.normal[1] * t[4 + j] + v.normal[2] * t[8 + j];
            }
            normalise(n);
            for (int j = 0; j < 3; ++j) {
                if (!std::isfinite(p[j])) fail("frame transform takes a vertex out of range");
                v.position[j] = p[j];
                v.normal[j] = n[j];
            }
        }
    }

    void readFaces(uint32_t count, uint32_t limit, FaceList& faces, const char* what) {
        faces = FaceList{};
        faces.start.reserve(size_t(std::min<uint32_t>(count, 65536)) + 1);
        for (uint32_t i = 0; i < count; ++i) {
            uint32_t corners = readCount(what);
            if (corners < 3 || corners > maxPolygonCorners) fail(std::string("bad polygon in ") + what);
            if (faces.corners.size() + corners > maxElements) fail(std::string("too many corners in ") + what);
            for (uint32_t k = 0; k < corners; ++k) {
                uint32_t c = readCount(what);
                if (c >= limit) fail(std::string("index out of range in ") + what);
                faces.corners.push_back(c);
            }
            faces.start.push_back(uint32_t(faces.corners.size()));
        }
    }

    void readMesh() {
        RawMesh m;
        // Counts are checked against the values actually present as they are read, so a large count
        // in a short file costs nothing before it fails.
        uint32_t vertexCount = readCount("Mesh vertices");
        m.positions.reserve(size_t(std::min<uint32_t>(vertexCount, 65536)) * 3);
        for (uint32_t i = 0; i < vertexCount * 3; ++i) m.positions.push_back(readFloat("Mesh vertices"));
        uint32_t faceCount = readCount("Mesh faces");
        readFaces(faceCount, vertexCount, m.faces, "Mesh faces");
        m.texcoords.assign(size_t(vertexCount) * 2, 0.0f);
        m.colors.assign(vertexCount, 0xFFFFFFFF);
        m.materials.assign(faceCount, 0);
        while (true) {
            Token t = lex.peek();
            if (t.kind == Token::Close) {
                lex.take();
                break;
            }
            if (t.kind == Token::End) fail("file ends inside a mesh");
            if (t.kind == Token::Separator) {
                lex.take();
                continue;
            }
            std::string type;
            readHeader(type);
            if (type == "MeshNormals") {
                uint32_t n = readCount("MeshNormals");
                m.normals.reserve(size_t(std::min<uint32_t>(n, 65536)) * 3);
                for (uint32_t i = 0; i < n * 3; ++i) m.normals.push_back(readFloat("MeshNormals"));
                uint32_t faces = readCount("MeshNormals faces");
                if (faces != faceCount) fail("MeshNormals face count differs from the mesh's");
                readFaces(faces, n, m.normalFaces, "MeshNormals faces");
                for (uint32_t i = 0; i < faces; ++i)
                    if (m.normalFaces.cornerCount(i) != m.faces.cornerCount(i))
                        fail("MeshNormals face differs in corners from the mesh face");
                m.hasNormals = true;
                skipToClose();
            } else if (type == "MeshTextureCoords") {
                uint32_t n = readCount("MeshTextureCoords");
                if (n != vertexCount) fail("MeshTextureCoords count differs from the vertex count");
                for (uint32_t i = 0; i < n * 2; ++i) m.texcoords[i] = readFloat("MeshTextureCoords");
                m.hasTexCoords = true;
                skipToClose();
            } else if (type == "MeshVertexColors") {
                uint32_t n = readCount("MeshVertexColors");
                for (uint32_t i = 0; i < n; ++i) {
                    uint32_t index = readCount("MeshVertexColors");
                    if (index >= vertexCount) fail("MeshVertexColors index out of range");
                    float c[4];
                    for (float& v : c) v = std::clamp(readFloat("MeshVertexColors"), 0.0f, 1.0f);
                    auto byte = [](float v) { return uint32_t(v * 255.0f + 0.5f); };
                    m.colors[index] = (byte(c[3]) << 24) | (byte(c[0]) << 16) | (byte(c[1]) << 8) | byte(c[2]);
                }
                m.hasColors = true;
                skipToClose();
            } else if (type == "MeshMaterialList") {
                readCount("MeshMaterialList");
                uint32_t n = readCount("MeshMaterialList faces");
                std::vector<uint32_t> indexes;
                for (uint32_t i = 0; i < n; ++i) indexes.push_back(readCount("MeshMaterialList faces"));
                // Fewer entries than faces: the last one carries on.
                for (uint32_t i = 0; i < faceCount; ++i)
                    m.materials[i] = indexes.empty() ? 0 : indexes[std::min<size_t>(i, indexes.size() - 1)];
                skipToClose();
            } else if (!type.empty()) {
                skipBody();
            }
        }
        append(m);
    }

    // One output vertex per distinct (position, normal) pair, in order of first use; texture
    // coordinates and colours belong to the position and never split a vertex.
    void append(const RawMesh& m) {
        ++meshCount;
        out.hasNormals |= m.hasNormals;
        out.hasColors |= m.hasColors;
        out.hasTexCoords |= m.hasTexCoords;
        std::unordered_map<uint64_t, uint32_t> seen;
        auto vertexFor = [&](uint32_t position, uint32_t normal) -> uint32_t {
            uint64_t key = (uint64_t(position) << 32) | normal;
            auto found = seen.find(key);
            if (found != seen.end()) return found->second;
            if (out.vertices.size() >= maxOutputVertices) fail("more than 65535 vertices");
            Vertex v{};
            std::memcpy(v.position, &m.positions[size_t(position) * 3], 12);
            if (m.hasNormals) {
                std::memcpy(v.normal, &m.normals[size_t(normal) * 3], 12);
                normalise(v.normal);
            }
            v.color = m.colors[position];
            v.uv[0] = m.texcoords[size_t(position) * 2];
            v.uv[1] = m.texcoords[size_t(position) * 2 + 1];
            uint32_t index = uint32_t(out.vertices.size());
            out.vertices.push_back(v);
            seen.emplace(key, index);
            return index;
        };
        for (size_t f = 0; f < m.faces.size(); ++f) {
            const uint32_t corners = m.faces.cornerCount(f);
            const uint32_t* positions = m.faces.of(f);
            const uint32_t* normals = m.hasNormals ? m.normalFaces.of(f) : nullptr;
            if (out.attributes.size() + (corners - 2) > maxOutputTriangles) fail("too many triangles");
            // A fan from the first corner keeps the file's winding.
            for (uint32_t k = 1; k + 1 < corners; ++k) {
                for (uint32_t c : {0u, k, k + 1}) out.indices.push_back(vertexFor(positions[c], normals ? normals[c] : 0));
                out.attributes.push_back(m.materials[f]);
            }
        }
    }

    Lexer& lex;
    Mesh& out;
    int depth = 0;
};

}  // namespace

HRESULT parse(const uint8_t* data, size_t size, Mesh& out, std::string& error) {
    out = Mesh{};
    try {
        if (size < 16 || std::memcmp(data, "xof ", 4) != 0) fail("not an .x file");
        std::string version(reinterpret_cast<const char*>(data) + 4, 4);
        std::string format(reinterpret_cast<const char*>(data) + 8, 4);
        std::string floats(reinterpret_cast<const char*>(data) + 12, 4);
        if (version != "0302" && version != "0303" && version != "0301") fail("unknown .x version " + version);
        if (floats != "0032" && floats != "0064") fail("unknown float size " + floats);
        const bool doubles = floats == "0064";
        std::vector<uint8_t> inflated;
        const uint8_t* body = data + 16;
        const uint8_t* end = data + size;
        bool binary;
        if (format == "txt ") {
            binary = false;
        } else if (format == "bin ") {
            binary = true;
        } else if (format == "tzip" || format == "bzip") {
            inflated = inflateMszip(body, end);
            body = inflated.data();
            end = inflated.data() + inflated.size();
            binary = format == "bzip";
        } else {
            fail("unknown .x format '" + format + "'");
        }
        std::unique_ptr<Lexer> lexer;
        if (binary)
            lexer = std::make_unique<BinaryLexer>(body, end, doubles);
        else
            lexer = std::make_unique<TextLexer>(reinterpret_cast<const char*>(body), reinterpret_cast<const char*>(end));
        Reader reader(*lexer, out);
        reader.readFile();
        if (reader.meshCount == 0 || out.indices.empty()) {
            error = "no mesh in the file";
            out = Mesh{};
            return E_FAIL;
        }
        return S_OK;
    } catch (const ParseError& e) {
        error = e.message;
        out = Mesh{};
        return invalidData;
    } catch (const std::bad_alloc&) {
        error = "out of memory";
        out = Mesh{};
        return E_OUTOFMEMORY;
    }
}

}  // namespace xfile
