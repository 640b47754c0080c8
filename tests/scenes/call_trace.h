// Device calls written the way the device's call trace writes them, so a scene test can hold the
// calls of a prepare step and a frame against the order they must come in.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "gfx/d3d9/d3d9debug.h"
#include "gfx/d3dx/d3dx9.h"

namespace calls {

inline std::string format(const char* pattern, auto... args) {
    char line[256];
    std::snprintf(line, sizeof line, pattern, args...);
    return line;
}

inline std::string renderState(D3DRENDERSTATETYPE state, DWORD value) {
    return format("SetRenderState(%u,%u)", unsigned(state), unsigned(value));
}
inline std::string stageState(D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    return format("SetTextureStageState(0,%u,%u)", unsigned(type), unsigned(value));
}
inline std::string samplerState(D3DSAMPLERSTATETYPE type, DWORD value) {
    return format("SetSamplerState(0,%u,%u)", unsigned(type), unsigned(value));
}
inline std::string texture(const void* texture) {
    return format("SetTexture(0,%p)", texture);
}
inline std::string transform(D3DTRANSFORMSTATETYPE state) {
    return format("SetTransform(%u)", unsigned(state));
}
inline std::string lightEnable(BOOL on) {
    return format("LightEnable(0,%d)", int(on));
}
inline std::string clear(D3DCOLOR color) {
    return format("Clear(0,%u,0x%08X,1,0)", unsigned(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL),
                  unsigned(color));
}
inline const std::string material = "SetMaterial()";
inline const std::string drawSubset = "DrawSubset";

inline std::vector<std::string> stencil(DWORD passOp, DWORD func, DWORD ref, DWORD mask) {
    return {renderState(D3DRS_STENCILPASS, passOp), renderState(D3DRS_STENCILFUNC, func),
            renderState(D3DRS_STENCILREF, ref), renderState(D3DRS_STENCILMASK, mask),
            renderState(D3DRS_STENCILWRITEMASK, mask)};
}
inline std::vector<std::string> screenQuad() {
    return {texture(nullptr), "SetFVF(0x44)", "DrawPrimitiveUP(5,2,20)"};
}
inline std::vector<std::string> texturedQuad() {
    return {"SetFVF(0x144)", "DrawPrimitiveUP(5,2,28)"};
}
inline std::vector<std::string> meshScaled() {
    return {transform(D3DTS_WORLD), renderState(D3DRS_ZWRITEENABLE, FALSE), drawSubset,
            renderState(D3DRS_ZWRITEENABLE, TRUE)};
}

// A mesh draw binds its buffers and format before its indexed draws; those lines fold into one
// "DrawSubset" so that the expected order reads like the scene.
inline std::vector<std::string> foldMeshDraws(const std::vector<std::string>& trace) {
    std::vector<std::string> folded;
    auto startsWith = [](const std::string& line, const char* prefix) { return line.rfind(prefix, 0) == 0; };
    for (size_t i = 0; i < trace.size(); ++i) {
        if (startsWith(trace[i], "SetStreamSource(") && i + 2 < trace.size() &&
            startsWith(trace[i + 1], "SetIndices(") && startsWith(trace[i + 2], "SetFVF(")) {
            i += 3;
            while (i < trace.size() && startsWith(trace[i], "DrawIndexedPrimitive(")) ++i;
            --i;
            folded.push_back(drawSubset);
        } else {
            folded.push_back(trace[i]);
        }
    }
    return folded;
}

// Collects the device calls made while it lives.
class Recorder {
public:
    Recorder() { d3d9debug::setCallTrace(&lines_); }
    ~Recorder() { d3d9debug::setCallTrace(nullptr); }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
    std::vector<std::string> folded() const { return foldMeshDraws(lines_); }

private:
    std::vector<std::string> lines_;
};

// Appends the parts in order.
inline std::vector<std::string> sequence(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

}  // namespace calls
