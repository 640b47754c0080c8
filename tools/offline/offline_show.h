// The show staged without a window or a sound device, exactly as the entry and the driver stage it,
// rendering frames at show times of the caller's choosing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/wintypes.h"

class OfflineShow {
public:
    // Stages the show from the show folder (the binary's folder: data/ and the music). On failure
    // `error()` says why and no frame can be rendered.
    explicit OfflineShow(const std::string& showDir);
    ~OfflineShow();
    OfflineShow(const OfflineShow&) = delete;
    OfflineShow& operator=(const OfflineShow&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    // The frame at `timeMs` as a continuous run of the show presents it. Scenes rely on device state
    // that earlier scenes leave behind, so a time before the last one rendered, or in another scene's
    // window, restages the show and plays one frame at the start and end of every earlier scene and
    // at the start of this one first.
    const std::vector<uint32_t>& frameAt(DWORD timeMs);

    // The next frame of a continuous run; times must not decrease.
    const std::vector<uint32_t>& nextFrame(DWORD timeMs);

    // Whether the last frame asked the show to stop.
    bool stopRequested() const;

    static constexpr int width = 640;
    static constexpr int height = 480;

private:
    bool stage();
    void teardown();
    void render(DWORD timeMs);

    std::string showDir_;
    std::string error_;
    bool staged_ = false;
    bool anyFrame_ = false;
    DWORD lastTime_ = 0;
    std::vector<uint32_t> frame_;
};

// Writes 32-bit A8R8G8B8 pixels as an opaque RGB PNG; false with `error` set on failure.
bool writePng(const std::string& path, const uint32_t* pixels, int width, int height, std::string& error);
