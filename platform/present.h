// The one call through which the graphics device reaches a window: the device knows nothing of SDL.
#pragma once

#include <cstdint>

#include "platform/wintypes.h"

// Shows one frame of 32-bit A8R8G8B8 pixels (0xAARRGGBB words, `pitchBytes` apart) in the window's
// client area, scaled with the aspect kept; the frame's alpha is ignored. With `vsync` the call waits
// for the display's refresh. Returns false when the window has nothing to show it on (a headless
// window, or no window at all); the caller keeps its frame either way.
bool presentToWindow(HWND window, const uint32_t* pixels, int width, int height, int pitchBytes, bool vsync);
