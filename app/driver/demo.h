// The process entry and the driver that stages the show. The steps are split so the offline tools
// stage exactly the same show without a window or a sound device.
#pragma once

#include "platform/win32.h"

int WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand);
LRESULT windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void runDemo();

// Driver steps shared with the tools: the data files in load order, the scenes in show order, and the
// release of the offscreen target.
void loadShowData();
void buildScenes();
void releaseOffscreenTarget();
