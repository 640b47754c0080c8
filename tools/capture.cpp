// Renders moments of the show offline to PNG files, or several of them as one contact sheet.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/offline/offline_show.h"
#include "tools/offline/video.h"

namespace {

const char* const usage =
    "usage: capture [--show-dir DIR] --time MS --out FILE.png\n"
    "       capture [--show-dir DIR] --from MS --to MS --step MS --out DIR\n"
    "       capture [--show-dir DIR] --sheet FILE.png (--times MS,MS,... | --from MS --to MS --step MS)\n"
    "               [--columns N] [--scale F]\n"
    "       capture [--show-dir DIR] --video FILE.mp4 [--fps N] [--jobs N] [--from MS] [--to MS]\n"
    "       capture [--show-dir DIR] --frames DIR [--fps N] [--jobs N] [--from MS] [--to MS]\n"
    "\n"
    "Renders the show without a window or sound, at exact show times in milliseconds.\n"
    "  --show-dir DIR  the show folder (binary, data/, music); default: the folder of this program's\n"
    "                  sibling show/ or the current folder\n"
    "  --time MS       one frame, written to --out\n"
    "  --from/--to/--step  frames from MS to MS (inclusive) every step, written as DIR/frame-<ms>.png\n"
    "                  (DIR is made if missing)\n"
    "  --sheet FILE    the frames as thumbnails in one picture, each with its time in seconds under it\n"
    "                  (default 4 columns, scale 0.25)\n"
    "  --video FILE    every frame of the show (or of --from..--to) at --fps (default 60), frame n at\n"
    "                  show time n / fps, encoded with ffmpeg (H.264 where available) with the music\n"
    "  --frames DIR    the same frames as a PNG sequence, DIR/frame-<n>.png, for video editors\n"
    "  --jobs N        processes rendering side by side (default 2); the frames are the same for any N\n";

[[noreturn]] void refuse(const std::string& message) {
    std::fprintf(stderr, "capture: %s (see --help)\n", message.c_str());
    std::exit(2);
}

long parseNumber(const std::string& option, const char* text, long min, long max) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (!text[0] || *end || errno || value < min || value > max)
        refuse(option + " needs a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
               ", not '" + text + "'");
    return value;
}

std::string defaultShowDir(const char* argv0) {
    std::string self = argv0;
    std::string dir = self.find('/') == std::string::npos ? "." : self.substr(0, self.rfind('/'));
    for (const std::string& candidate : {dir + "/../show", dir + "/show", std::string(".")})
        if (access((candidate + "/data").c_str(), F_OK) == 0) return candidate;
    return ".";
}

std::string absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) return path;
    return std::string(cwd) + "/" + path;
}

// A 3 x 5 pixel font for the time under each thumbnail of a sheet: rows top to bottom, 3 bits each.
constexpr uint16_t glyphRows(const char* r) {
    uint16_t bits = 0;
    for (int i = 0; i < 15; ++i) bits = uint16_t(bits << 1 | (r[i] == '#'));
    return bits;
}
uint16_t glyph(char c) {
    switch (c) {
        case '0':
            return glyphRows("####.##.##.####");
        case '1':
            return glyphRows(".#.##..#..#.###");
        case '2':
            return glyphRows("###..#####..###");
        case '3':
            return glyphRows("###..###..#####");
        case '4':
            return glyphRows("#.##.####..#..#");
        case '5':
            return glyphRows("####..###..####");
        case '6':
            return glyphRows("####..####.####");
        case '7':
            return glyphRows("###..#..#..#..#");
        case '8':
            return glyphRows("####.#####.####");
        case '9':
            return glyphRows("####.####..####");
        case '.':
            return glyphRows(".............#.");
        case 's':
            return glyphRows(".###...#...###.");
        default:
            return 0;
    }
}

constexpr int labelScale = 2;
constexpr int labelHeight = 5 * labelScale + 4;

// Writes `text` in light grey at (x, y) of a picture `stride` pixels wide.
void drawLabel(std::vector<uint32_t>& pixels, int stride, int x, int y, const std::string& text) {
    for (char c : text) {
        const uint16_t bits = glyph(c);
        for (int row = 0; row < 5; ++row)
            for (int col = 0; col < 3; ++col) {
                if (!(bits >> (14 - (row * 3 + col)) & 1)) continue;
                for (int dy = 0; dy < labelScale; ++dy)
                    for (int dx = 0; dx < labelScale; ++dx) {
                        const size_t at = size_t(y + row * labelScale + dy) * size_t(stride) +
                                          size_t(x + col * labelScale + dx);
                        if (at < pixels.size()) pixels[at] = 0xFFD0D0D0;
                    }
            }
        x += 4 * labelScale;
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string showDir, out, sheet;
    std::vector<long> times;
    long from = -1, to = -1, step = -1, columns = 4;
    double scale = 0.25;
    bool single = false;
    std::string video, framesDir;
    long fps = 60, jobs = 2;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) refuse(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            return 0;
        } else if (arg == "--show-dir") {
            showDir = value();
        } else if (arg == "--time") {
            times = {parseNumber(arg, value(), 0, 0x7FFFFFFF)};
            single = true;
        } else if (arg == "--times") {
            std::string list = value();
            for (size_t start = 0; start <= list.size();) {
                size_t comma = list.find(',', start);
                std::string item =
                    list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
                times.push_back(parseNumber(arg, item.c_str(), 0, 0x7FFFFFFF));
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
        } else if (arg == "--from") {
            from = parseNumber(arg, value(), 0, 0x7FFFFFFF);
        } else if (arg == "--to") {
            to = parseNumber(arg, value(), 0, 0x7FFFFFFF);
        } else if (arg == "--step") {
            step = parseNumber(arg, value(), 1, 0x7FFFFFFF);
        } else if (arg == "--out") {
            out = value();
        } else if (arg == "--video") {
            video = value();
        } else if (arg == "--frames") {
            framesDir = value();
        } else if (arg == "--fps") {
            fps = parseNumber(arg, value(), 1, 240);
        } else if (arg == "--jobs") {
            jobs = parseNumber(arg, value(), 1, 16);
        } else if (arg == "--sheet") {
            sheet = value();
        } else if (arg == "--columns") {
            columns = parseNumber(arg, value(), 1, 64);
        } else if (arg == "--scale") {
            const char* text = value();
            char* end = nullptr;
            scale = std::strtod(text, &end);
            if (!text[0] || *end || !(scale > 0.01 && scale <= 1.0))
                refuse("--scale needs a number in (0.01, 1]");
        } else {
            refuse("unknown argument '" + arg + "'");
        }
    }
    if (!video.empty() || !framesDir.empty()) {
        if (!video.empty() && !framesDir.empty()) refuse("give either --video or --frames");
        if (!times.empty() || step >= 0 || !out.empty() || !sheet.empty())
            refuse("--video and --frames take only --fps, --jobs, --from and --to");
        if (from >= 0 && to >= 0 && to < from) refuse("--to must not be before --from");
        VideoOptions options;
        options.showDir = showDir.empty() ? defaultShowDir(argv[0]) : showDir;
        if (char* resolved = realpath(options.showDir.c_str(), nullptr)) {
            options.showDir = resolved;
            std::free(resolved);
        }
        options.pngSequence = !framesDir.empty();
        options.output = absolute(options.pngSequence ? framesDir : video);
        options.fps = int(fps);
        options.jobs = int(jobs);
        options.fromMs = DWORD(from < 0 ? 0 : from);
        options.toMs = to;
        if (options.pngSequence && access(options.output.c_str(), W_OK) != 0)
            refuse("output folder " + options.output + " is not writable");
        return makeVideo(options);
    }
    const bool range = from >= 0 || to >= 0 || step >= 0;
    if (range) {
        if (from < 0 || to < 0 || step < 0) refuse("--from, --to and --step go together");
        if (to < from) refuse("--to must not be before --from");
        if (!times.empty()) refuse("give either times or a range, not both");
        for (long t = from; t <= to; t += step) times.push_back(t);
    }
    if (times.empty()) refuse("nothing to render: give --time, --times or a range");
    if (sheet.empty() && out.empty()) refuse("give --out (or --sheet)");
    if (!sheet.empty() && !out.empty()) refuse("give either --out or --sheet");
    if (!sheet.empty() && single) refuse("a sheet takes --times or a range");
    if (sheet.empty() && !single && !range) refuse("--times makes a sheet; use --sheet");
    if (times.size() > 100000) refuse("too many frames");

    if (!out.empty()) out = absolute(out);
    if (!sheet.empty()) sheet = absolute(sheet);
    if (range && sheet.empty()) {
        std::error_code ignored;
        std::filesystem::create_directories(out, ignored);
        if (access(out.c_str(), W_OK) != 0) refuse("output folder " + out + " cannot be made or written");
    }

    OfflineShow show(showDir.empty() ? defaultShowDir(argv[0]) : showDir);
    if (!show.ok()) {
        std::fprintf(stderr, "capture: %s\n", show.error().c_str());
        return 1;
    }

    const int thumbWidth = std::max(1, int(OfflineShow::width * scale));
    const int thumbHeight = std::max(1, int(OfflineShow::height * scale));
    const int cellHeight = thumbHeight + labelHeight;
    const int rows = int((times.size() + size_t(columns) - 1) / size_t(columns));
    const int sheetColumns = int(std::min<size_t>(size_t(columns), times.size()));
    std::vector<uint32_t> sheetPixels;
    if (!sheet.empty())
        sheetPixels.assign(size_t(sheetColumns) * thumbWidth * size_t(rows) * cellHeight, 0xFF202020);

    std::string error;
    for (size_t i = 0; i < times.size(); ++i) {
        const DWORD t = DWORD(times[i]);
        if (times.size() > 1)
            std::fprintf(stderr, "\rcapture: frame %zu/%zu at %u ms   ", i + 1, times.size(), unsigned(t));
        const std::vector<uint32_t>& frame = show.frameAt(t);
        if (!show.ok()) {
            std::fprintf(stderr, "\ncapture: %s\n", show.error().c_str());
            return 1;
        }
        if (sheet.empty()) {
            std::string path = single ? out : out + "/frame-" + std::to_string(t) + ".png";
            if (!writePng(path, frame.data(), OfflineShow::width, OfflineShow::height, error)) {
                std::fprintf(stderr, "\ncapture: %s\n", error.c_str());
                return 1;
            }
        } else {
            // Box-filtered thumbnail.
            const int cx = int(i % size_t(columns)), cy = int(i / size_t(columns));
            for (int y = 0; y < thumbHeight; ++y)
                for (int x = 0; x < thumbWidth; ++x) {
                    int x0 = x * OfflineShow::width / thumbWidth,
                        x1 = std::max(x0 + 1, (x + 1) * OfflineShow::width / thumbWidth);
                    int y0 = y * OfflineShow::height / thumbHeight,
                        y1 = std::max(y0 + 1, (y + 1) * OfflineShow::height / thumbHeight);
                    uint32_t sum[3] = {0, 0, 0}, n = 0;
                    for (int sy = y0; sy < y1; ++sy)
                        for (int sx = x0; sx < x1; ++sx) {
                            uint32_t p = frame[size_t(sy) * OfflineShow::width + sx];
                            sum[0] += (p >> 16) & 0xFF;
                            sum[1] += (p >> 8) & 0xFF;
                            sum[2] += p & 0xFF;
                            ++n;
                        }
                    sheetPixels[size_t(cy * cellHeight + y) * size_t(sheetColumns * thumbWidth) +
                                size_t(cx * thumbWidth + x)] =
                        0xFF000000u | ((sum[0] / n) << 16) | ((sum[1] / n) << 8) | (sum[2] / n);
                }
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%u.%03us", unsigned(t / 1000), unsigned(t % 1000));
            drawLabel(sheetPixels, sheetColumns * thumbWidth, cx * thumbWidth + 2,
                      cy * cellHeight + thumbHeight + 2, seconds);
        }
    }
    if (times.size() > 1) std::fputc('\n', stderr);
    if (!sheet.empty() &&
        !writePng(sheet, sheetPixels.data(), sheetColumns * thumbWidth, rows * cellHeight, error)) {
        std::fprintf(stderr, "capture: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
