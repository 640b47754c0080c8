// Switches for the offline tools and the tests; the show itself never touches them.
#pragma once

#include <functional>
#include <string>

#include "platform/wintypes.h"

namespace platform {

// Windows made after this call have no display behind them: they exist, take messages and can be
// presented to (nothing is shown), so the engine runs without SDL video.
void setHeadlessWindows(bool headless);

// Windows made after this call are ordinary 640x480 windows instead of covering the desktop.
void setWindowedMode(bool windowed);

// Replaces the millisecond source behind timeGetTime (nullptr puts the real clock back).
void setTimeSource(std::function<DWORD()> source);

// Receives message boxes instead of showing them; returns the button pressed.
void setMessageBoxHandler(std::function<int(const std::string& caption, const std::string& text)> handler);

// Replaces the process exit of ExitProcess, so a test can observe a fatal path (the handler must not
// return: throw, longjmp or exit).
void setExitHandler(std::function<void(UINT code)> handler);

// What the cursor services last did: hidden by SetCursor(NULL), confined by ClipCursor.
bool cursorHidden();
bool cursorConfined();

// The window made last, or null: tools and tests post input to it.
HWND lastCreatedWindow();

// Closes every window and SDL itself, as the end of the process would; called after the entry returns.
void shutdown();

// Drops every window, queued message and SDL video state, as a fresh process would have.
void resetForTests();

// Maps the show's "data\name" paths to the host's separators.
std::string hostPath(const char* path);

}  // namespace platform
