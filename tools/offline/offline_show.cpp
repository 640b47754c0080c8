#include "tools/offline/offline_show.h"

#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "anim/noise.h"
#include "app/driver/demo.h"
#include "engine/demo_engine.h"
#include "engine/offscreen_target.h"
#include "gfx/d3d9/d3d9debug.h"
#include "platform/control.h"
#include "scenes/timeline.h"

namespace {

struct FatalError {
    std::string message;
};

}  // namespace

OfflineShow::OfflineShow(const std::string& showDir) : showDir_(showDir) {
    // Staging changes the working directory, so a relative folder would not be found again when
    // the show is restaged.
    if (char* resolved = realpath(showDir.c_str(), nullptr)) {
        showDir_ = resolved;
        std::free(resolved);
    }
    if (!stage() && error_.empty()) error_ = "the show could not be staged";
}

OfflineShow::~OfflineShow() { teardown(); }

bool OfflineShow::stage() {
    if (chdir(showDir_.c_str()) != 0) {
        error_ = "cannot enter the show folder " + showDir_;
        return false;
    }
    platform::setHeadlessWindows(true);
    // A data file that fails to load ends the staging with its message instead of the process.
    platform::setMessageBoxHandler([](const std::string&, const std::string& text) -> int { throw FatalError{text}; });
    platform::setExitHandler([](UINT) {});
    try {
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = 48;
        windowClass.lpfnWndProc = windowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "VEXO";
        RegisterClassExA(&windowClass);
        engine = new DemoEngine();
        fillNoiseTable();
        if (!engine->initDisplay(640, 480, false, true, "TOVIRA -- KALDRA")) {
            error_ = "the software device could not be created";
            return false;
        }
        offscreenTarget = new OffscreenTarget(160, 120, 1, D3DFMT_A8R8G8B8, D3DFMT_D24S8);
        loadShowData();
        buildScenes();
    } catch (const FatalError& fatal) {
        error_ = fatal.message;
        return false;
    }
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    staged_ = true;
    anyFrame_ = false;
    return true;
}

void OfflineShow::teardown() {
    if (!engine && !device && !direct3d) return;
    releaseOffscreenTarget();
    delete engine;
    engine = nullptr;
    if (device) device->Release();
    if (direct3d) direct3d->Release();
    device = nullptr;
    direct3d = nullptr;
    UnregisterClassA("VEXO", GetModuleHandleA(nullptr));
    platform::setMessageBoxHandler(nullptr);
    platform::setExitHandler(nullptr);
    platform::resetForTests();
    staged_ = false;
}

void OfflineShow::render(DWORD timeMs) {
    // The loop's own running flag is set while the show plays, so a scene's stop request is seen.
    engine->running = true;
    engine->renderFrame(timeMs);
    anyFrame_ = true;
    lastTime_ = timeMs;
}

const std::vector<uint32_t>& OfflineShow::nextFrame(DWORD timeMs) {
    if (!staged_) {
        frame_.assign(size_t(width) * height, 0);
        return frame_;
    }
    render(timeMs);
    UINT w, h;
    d3d9debug::readBackBuffer(device, frame_, w, h);
    return frame_;
}

const std::vector<uint32_t>& OfflineShow::frameAt(DWORD timeMs) {
    if (!staged_) return nextFrame(timeMs);
    const int scene = sceneIndexAt(timeMs);
    const bool continues = anyFrame_ && timeMs >= lastTime_ && sceneIndexAt(lastTime_) == scene;
    if (!continues) {
        if (anyFrame_) {
            teardown();
            if (!stage()) return nextFrame(timeMs);
        }
        for (int i = 0; i < scene; ++i) {
            render(sceneStarts[i]);
            render(sceneStarts[i + 1] - 1);
        }
        if (timeMs != sceneStarts[scene]) render(sceneStarts[scene]);
    }
    return nextFrame(timeMs);
}

bool OfflineShow::stopRequested() const { return staged_ && engine && !engine->running; }

bool writePng(const std::string& path, const uint32_t* pixels, int width, int height, std::string& error) {
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    for (size_t i = 0; i < size_t(width) * height; ++i) {
        rgb[i * 3] = uint8_t(pixels[i] >> 16);
        rgb[i * 3 + 1] = uint8_t(pixels[i] >> 8);
        rgb[i * 3 + 2] = uint8_t(pixels[i]);
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(width);
    image.height = png_uint_32(height);
    image.format = PNG_FORMAT_RGB;
    // Lossless either way; the fast setting compresses a little less and writes a frame sequence
    // several times sooner.
    image.flags = PNG_IMAGE_FLAG_FAST;
    if (!png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr)) {
        error = "cannot write " + path + ": " + image.message;
        return false;
    }
    return true;
}
