// Frame-exact video of the show: every frame rendered at its exact show time, encoded by ffmpeg and
// muxed with the show's own music, segments rendered by parallel processes.
#pragma once

#include <string>

#include "platform/wintypes.h"

struct VideoOptions {
    std::string showDir;
    std::string output;      // the video file, or a folder for a PNG sequence
    bool pngSequence = false;
    int fps = 60;
    int jobs = 2;            // processes rendering segments side by side
    DWORD fromMs = 0;        // first frame's show time
    long toMs = -1;          // last show time to cover; -1: until the frame that stops the show
};

// Renders and writes; returns 0 on success, prints one clear line and returns non-zero on failure.
// Nothing partial is left behind on failure or interruption.
int makeVideo(const VideoOptions& options);

// Show time of frame n at the given rate, in whole milliseconds (what the show's clock can hold).
inline DWORD frameTime(DWORD fromMs, long n, int fps) { return fromMs + DWORD((long long)n * 1000 / fps); }
