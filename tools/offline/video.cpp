#include "tools/offline/video.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "gfx/raster/raster.h"
#include "scenes/timeline.h"
#include "tools/offline/offline_show.h"

namespace fs = std::filesystem;

namespace {

volatile sig_atomic_t interrupted = 0;

void onInterrupt(int) { interrupted = 1; }

std::string quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool haveCommand(const char* name) {
    std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

std::string videoCodec() {
    if (std::system("ffmpeg -hide_banner -encoders 2>/dev/null | grep -q ' libx264 '") == 0)
        return "-c:v libx264 -preset veryfast -crf 16 -pix_fmt yuv420p";
    return "-c:v mpeg4 -q:v 2 -pix_fmt yuv420p";
}

// The number of frames: up to toMs, or through the first frame whose time passes the show's end
// (that frame asks the show to stop and is still shown).
long frameCount(const VideoOptions& o) {
    if (o.toMs >= 0) {
        long n = 0;
        while (long(frameTime(o.fromMs, n, o.fps)) <= o.toMs) ++n;
        return n;
    }
    long n = 0;
    while (frameTime(o.fromMs, n, o.fps) <= showEndMs) ++n;
    return n + 1;
}

// One segment: frames [first, last) rendered in order, written to ffmpeg or as PNGs. Runs in a child.
int renderSegment(const VideoOptions& o, long first, long last, const std::string& segmentFile, int progressFd) {
    raster::setWorkerThreads(1);  // the segments already share the cores
    OfflineShow show(o.showDir);
    if (!show.ok()) {
        std::fprintf(stderr, "capture: %s\n", show.error().c_str());
        return 1;
    }
    FILE* encoder = nullptr;
    if (!o.pngSequence) {
        std::string command = "ffmpeg -hide_banner -loglevel error -y -f rawvideo -pix_fmt bgra -s 640x480 -r " +
                              std::to_string(o.fps) + " -i - " + videoCodec() + " -f mpegts " + quote(segmentFile);
        encoder = popen(command.c_str(), "w");
        if (!encoder) return 1;
    }
    std::string error;
    for (long n = first; n < last && !interrupted; ++n) {
        const DWORD t = frameTime(o.fromMs, n, o.fps);
        const std::vector<uint32_t>& frame = n == first ? show.frameAt(t) : show.nextFrame(t);
        if (!show.ok()) return 1;
        if (encoder) {
            if (std::fwrite(frame.data(), 4, frame.size(), encoder) != frame.size()) {
                pclose(encoder);
                return 1;
            }
        } else {
            char name[64];
            std::snprintf(name, sizeof name, "/frame-%06ld.png", n);
            if (!writePng(o.output + name, frame.data(), OfflineShow::width, OfflineShow::height, error)) {
                std::fprintf(stderr, "capture: %s\n", error.c_str());
                return 1;
            }
        }
        char tick = 1;
        if (write(progressFd, &tick, 1) != 1) return 1;
    }
    if (encoder && pclose(encoder) != 0) return 1;
    return interrupted ? 1 : 0;
}

}  // namespace

int makeVideo(const VideoOptions& o) {
    if (!o.pngSequence && !haveCommand("ffmpeg")) {
        std::fprintf(stderr, "capture: ffmpeg is missing: install it (apt-get install ffmpeg) to make videos\n");
        return 1;
    }
    const std::string music = o.showDir + "/kaldra.mp3";
    const long frames = frameCount(o);
    if (frames <= 0) {
        std::fprintf(stderr, "capture: the range holds no frame\n");
        return 2;
    }
    const int jobs = int(std::max<long>(1, std::min<long>(o.jobs, frames)));
    fs::path work = o.pngSequence ? fs::path(o.output) : fs::path(o.output).parent_path() / (".capture-" + std::to_string(getpid()));
    std::error_code ec;
    fs::create_directories(work, ec);
    if (ec) {
        std::fprintf(stderr, "capture: cannot create %s: %s\n", work.c_str(), ec.message().c_str());
        return 1;
    }
    auto cleanUp = [&] {
        if (!o.pngSequence) fs::remove_all(work, ec);
    };

    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    int progress[2];
    if (pipe(progress) != 0) return 1;
    std::vector<pid_t> children;
    std::vector<std::string> segments;
    for (int j = 0; j < jobs; ++j) {
        const long first = frames * j / jobs, last = frames * (j + 1) / jobs;
        segments.push_back((work / ("segment-" + std::to_string(j) + ".ts")).string());
        pid_t pid = fork();
        if (pid == 0) {
            close(progress[0]);
            _exit(renderSegment(o, first, last, segments.back(), progress[1]));
        }
        children.push_back(pid);
    }
    close(progress[1]);

    const auto started = std::chrono::steady_clock::now();
    long done = 0;
    double lastShown = -1;
    char buffer[256];
    ssize_t got;
    while ((got = read(progress[0], buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR && !interrupted)) {
        if (got > 0) done += got;
        double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (elapsed - lastShown < 0.25 && done < frames && !interrupted) continue;
        lastShown = elapsed;
        double left = done ? elapsed * double(frames - done) / double(done) : 0;
        int bar = int(30 * done / frames);
        std::fprintf(stderr, "\r[%-30s] %ld/%ld frames, show time %6.2f s, %4.0f s left ", std::string(size_t(bar), '#').c_str(),
                     done, frames, frameTime(o.fromMs, done, o.fps) / 1000.0, left);
        if (interrupted) break;
    }
    close(progress[0]);
    bool failed = interrupted != 0;
    for (pid_t pid : children) {
        if (interrupted) kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
        failed |= !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    }
    std::fputc('\n', stderr);
    if (failed) {
        std::fprintf(stderr, interrupted ? "capture: interrupted; nothing was kept\n" : "capture: rendering failed\n");
        cleanUp();
        return 1;
    }
    if (o.pngSequence) return 0;

    // Segments joined without re-encoding; the music cut at the first frame's time so frame n and
    // the sample at n / fps line up.
    const std::string list = (work / "segments.txt").string();
    if (FILE* f = std::fopen(list.c_str(), "w")) {
        for (const std::string& s : segments) std::fprintf(f, "file %s\n", quote(s).c_str());
        std::fclose(f);
    }
    const double duration = double(frames) / o.fps;
    const std::string partial = (work / ("video" + fs::path(o.output).extension().string())).string();
    char seconds[64];
    std::snprintf(seconds, sizeof seconds, "-ss %.3f -t %.6f", o.fromMs / 1000.0, duration);
    std::string command = "ffmpeg -hide_banner -loglevel error -y -f concat -safe 0 -i " + quote(list);
    if (access(music.c_str(), R_OK) == 0)
        command += std::string(" ") + seconds + " -i " + quote(music) + " -map 0:v -map 1:a -c:a aac -b:a 192k";
    command += " -c:v copy -t " + std::to_string(duration) + " " + quote(partial);
    if (std::system(command.c_str()) != 0 || interrupted) {
        std::fprintf(stderr, "capture: ffmpeg could not write the video\n");
        cleanUp();
        return 1;
    }
    fs::rename(partial, o.output, ec);
    if (ec) {
        std::fprintf(stderr, "capture: cannot write %s: %s\n", o.output.c_str(), ec.message().c_str());
        cleanUp();
        return 1;
    }
    cleanUp();
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::fprintf(stderr, "capture: %ld frames (%.2f s of show) in %.1f s, %.2f x real time\n", frames, duration, elapsed,
                 elapsed / duration);
    return 0;
}
