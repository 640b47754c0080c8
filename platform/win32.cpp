// Windows, messages, cursor and message boxes over SDL2. A window is a record of ours; with a display
// it owns an SDL window, created hidden and shown by ShowWindow, and a renderer made at first present.
#include "platform/win32.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/control.h"
#include "platform/present.h"

struct HWND__ {
    std::string className;
    WNDPROC proc = nullptr;
    bool desktop = false;
    bool visible = false;
    int clientWidth = 0;
    int clientHeight = 0;
    SDL_Window* sdlWindow = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* frame = nullptr;
    int frameWidth = 0;
    int frameHeight = 0;
    bool vsync = false;
};

struct HGDIOBJ__ {
    LOGFONTA font;
};

namespace {

struct WindowClass {
    WNDPROC proc;
    HINSTANCE instance;
};

struct State {
    std::map<std::string, WindowClass> classes;
    std::vector<std::unique_ptr<HWND__>> windows;
    std::deque<MSG> posted;
    HWND__ desktop;
    bool headless = false;
    bool windowed = false;
    bool videoStarted = false;
    bool cursorHidden = false;
    bool cursorConfined = false;
    std::function<DWORD()> timeSource;
    std::function<int(const std::string&, const std::string&)> messageBoxHandler;
    std::function<void(UINT)> exitHandler;
    State() { desktop.desktop = true; }
};

State& state() {
    static State s;
    return s;
}

HWND findWindow(HWND window) {
    for (auto& w : state().windows)
        if (w.get() == window) return w.get();
    return nullptr;
}

HWND sdlToWindow(Uint32 windowId) {
    SDL_Window* sdl = SDL_GetWindowFromID(windowId);
    for (auto& w : state().windows)
        if (sdl && w->sdlWindow == sdl) return w.get();
    // Events that name no window (SDL_QUIT) go to the first window, the show's only one.
    return state().windows.empty() ? nullptr : state().windows.front().get();
}

// SDL falls back to its offscreen or dummy driver when there is no display; the show must then take
// the "no display" path, unless one of those drivers was asked for by name.
bool startVideo() {
    State& s = state();
    if (s.videoStarted) return true;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    const char* driver = SDL_GetCurrentVideoDriver();
    const char* requested = std::getenv("SDL_VIDEODRIVER");
    bool fallback = driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0);
    if (fallback && !(requested && std::strcmp(requested, driver) == 0)) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return false;
    }
    s.videoStarted = true;
    return true;
}

WPARAM virtualKey(SDL_Keycode key) {
    if (key >= SDLK_a && key <= SDLK_z) return 'A' + (key - SDLK_a);
    if (key >= SDLK_0 && key <= SDLK_9) return '0' + (key - SDLK_0);
    if (key >= SDLK_F1 && key <= SDLK_F12) return VK_F1 + (key - SDLK_F1);
    switch (key) {
        case SDLK_ESCAPE: return VK_ESCAPE;
        case SDLK_RETURN: return VK_RETURN;
        case SDLK_SPACE: return VK_SPACE;
        case SDLK_BACKSPACE: return VK_BACK;
        case SDLK_TAB: return VK_TAB;
        case SDLK_LEFT: return VK_LEFT;
        case SDLK_RIGHT: return VK_RIGHT;
        case SDLK_UP: return VK_UP;
        case SDLK_DOWN: return VK_DOWN;
        case SDLK_LSHIFT:
        case SDLK_RSHIFT: return VK_SHIFT;
        case SDLK_LCTRL:
        case SDLK_RCTRL: return VK_CONTROL;
        case SDLK_LALT:
        case SDLK_RALT: return VK_MENU;
        default: return 0;
    }
}

void queue(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!window) return;
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = timeGetTime();
    state().posted.push_back(msg);
}

// Turns waiting SDL events into window messages, in the order they happened.
void pumpSdlEvents() {
    if (!state().videoStarted) return;
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        switch (e.type) {
            case SDL_QUIT:
                queue(sdlToWindow(0), WM_CLOSE, 0, 0);
                break;
            case SDL_WINDOWEVENT:
                if (e.window.event == SDL_WINDOWEVENT_CLOSE) queue(sdlToWindow(e.window.windowID), WM_CLOSE, 0, 0);
                break;
            case SDL_KEYDOWN:
            case SDL_KEYUP: {
                WPARAM vk = virtualKey(e.key.keysym.sym);
                if (!vk) break;
                bool alt = (e.key.keysym.mod & KMOD_ALT) != 0;
                bool down = e.type == SDL_KEYDOWN;
                // Keys pressed with Alt (and Alt itself) arrive as system keys, as on Windows.
                UINT message = (alt || vk == VK_MENU) ? (down ? WM_SYSKEYDOWN : WM_SYSKEYUP)
                                                      : (down ? WM_KEYDOWN : WM_KEYUP);
                LPARAM flags = (alt ? (LPARAM(1) << 29) : 0) | (e.key.repeat ? (LPARAM(1) << 30) : 0) |
                               (down ? 0 : (LPARAM(3) << 30));
                queue(sdlToWindow(e.key.windowID), message, vk, flags | 1);
                break;
            }
            case SDL_MOUSEMOTION:
                // Windows asks the window for its cursor whenever the pointer moves over it.
                if (HWND w = sdlToWindow(e.motion.windowID)) {
                    queue(w, WM_SETCURSOR, WPARAM(w), 1);
                    queue(w, WM_MOUSEMOVE, 0, LPARAM((e.motion.y << 16) | (e.motion.x & 0xFFFF)));
                }
                break;
            default:
                break;
        }
    }
}

// Made with the window: an accelerated renderer may replace the X window behind the SDL window, and
// events already queued for the old one would be lost.
bool createRenderer(HWND__& w) {
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "linear");
    w.renderer = SDL_CreateRenderer(w.sdlWindow, -1, SDL_RENDERER_PRESENTVSYNC);
    if (!w.renderer) w.renderer = SDL_CreateRenderer(w.sdlWindow, -1, SDL_RENDERER_SOFTWARE);
    w.vsync = true;
    return w.renderer != nullptr;
}

void destroyWindowRecord(HWND__& w) {
    if (w.frame) SDL_DestroyTexture(w.frame);
    if (w.renderer) SDL_DestroyRenderer(w.renderer);
    if (w.sdlWindow) SDL_DestroyWindow(w.sdlWindow);
    w.frame = nullptr;
    w.renderer = nullptr;
    w.sdlWindow = nullptr;
}

}  // namespace

HMODULE GetModuleHandleA(LPCSTR) {
    static int processModule;
    return reinterpret_cast<HMODULE>(&processModule);
}

ATOM RegisterClassExA(const WNDCLASSEXA* windowClass) {
    if (!windowClass || !windowClass->lpszClassName || !windowClass->lpfnWndProc) return 0;
    auto& classes = state().classes;
    if (classes.count(windowClass->lpszClassName)) return 0;
    classes[windowClass->lpszClassName] = {windowClass->lpfnWndProc, windowClass->hInstance};
    return ATOM(0xC000 + classes.size());
}

BOOL UnregisterClassA(LPCSTR className, HINSTANCE) {
    if (!className) return FALSE;
    return state().classes.erase(className) ? TRUE : FALSE;
}

BOOL AdjustWindowRectEx(RECT* rect, DWORD style, BOOL menu, DWORD) {
    if (!rect) return FALSE;
    // A fixed frame in the spirit of the classic metrics: borders and a caption bar.
    const LONG border = (style & WS_CAPTION) ? 3 : 0;
    const LONG caption = (style & WS_CAPTION) == WS_CAPTION ? 19 : 0;
    const LONG menuBar = menu ? 19 : 0;
    rect->left -= border;
    rect->right += border;
    rect->top -= border + caption + menuBar;
    rect->bottom += border;
    return TRUE;
}

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int, int, int width,
                     int height, HWND, HMENU, HINSTANCE, LPVOID) {
    State& s = state();
    if (!className) return nullptr;
    auto cls = s.classes.find(className);
    if (cls == s.classes.end()) return nullptr;

    auto window = std::make_unique<HWND__>();
    window->className = className;
    window->proc = cls->second.proc;
    // The show asks for the outer size of a captioned window; its client area is what it renders.
    RECT frame{0, 0, 0, 0};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    window->clientWidth = std::max(1, width - (frame.right - frame.left));
    window->clientHeight = std::max(1, height - (frame.bottom - frame.top));

    if (!s.headless) {
        if (!startVideo()) return nullptr;
        Uint32 flags = SDL_WINDOW_HIDDEN;
        if (!s.windowed) flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
        if (exStyle & WS_EX_TOPMOST) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
        window->sdlWindow = SDL_CreateWindow(windowName ? windowName : "", SDL_WINDOWPOS_CENTERED,
                                             SDL_WINDOWPOS_CENTERED, window->clientWidth, window->clientHeight,
                                             flags);
        if (!window->sdlWindow) return nullptr;
        if (!createRenderer(*window)) {
            SDL_DestroyWindow(window->sdlWindow);
            return nullptr;
        }
    }
    if (style & WS_VISIBLE) window->visible = true;
    s.windows.push_back(std::move(window));
    HWND result = s.windows.back().get();
    if (result->visible && result->sdlWindow) SDL_ShowWindow(result->sdlWindow);
    return result;
}

BOOL DestroyWindow(HWND window) {
    auto& windows = state().windows;
    auto it = std::find_if(windows.begin(), windows.end(), [&](auto& w) { return w.get() == window; });
    if (it == windows.end()) return FALSE;
    if ((*it)->proc) (*it)->proc(window, WM_DESTROY, 0, 0);
    destroyWindowRecord(**it);
    windows.erase(it);
    auto& posted = state().posted;
    posted.erase(std::remove_if(posted.begin(), posted.end(), [&](const MSG& m) { return m.hwnd == window; }),
                 posted.end());
    return TRUE;
}

HWND GetDesktopWindow() { return &state().desktop; }

BOOL ShowWindow(HWND window, int showCommand) {
    HWND w = findWindow(window);
    if (!w) return FALSE;
    bool wasVisible = w->visible;
    w->visible = showCommand != SW_HIDE;
    if (w->sdlWindow) {
        if (w->visible) {
            SDL_ShowWindow(w->sdlWindow);
            SDL_RaiseWindow(w->sdlWindow);
        } else {
            SDL_HideWindow(w->sdlWindow);
        }
    }
    return wasVisible ? TRUE : FALSE;
}

BOOL UpdateWindow(HWND window) { return findWindow(window) ? TRUE : FALSE; }

BOOL GetClientRect(HWND window, RECT* rect) {
    HWND w = findWindow(window);
    if (!w || !rect) return FALSE;
    *rect = RECT{0, 0, w->clientWidth, w->clientHeight};
    return TRUE;
}

HCURSOR SetCursor(HCURSOR cursor) {
    State& s = state();
    HCURSOR previous = s.cursorHidden ? nullptr : reinterpret_cast<HCURSOR>(&s.desktop);
    s.cursorHidden = cursor == nullptr;
    if (s.videoStarted) SDL_ShowCursor(s.cursorHidden ? SDL_DISABLE : SDL_ENABLE);
    return previous;
}

BOOL ClipCursor(const RECT* rect) {
    State& s = state();
    s.cursorConfined = rect != nullptr;
    if (s.videoStarted) {
        for (auto& w : s.windows)
            if (w->sdlWindow) SDL_SetWindowMouseGrab(w->sdlWindow, rect ? SDL_TRUE : SDL_FALSE);
        // Freeing the cursor at teardown also gives it back to the user.
        if (!rect) {
            s.cursorHidden = false;
            SDL_ShowCursor(SDL_ENABLE);
        }
    }
    return TRUE;
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM) {
    // Alt+F4 closes the window, as the system menu does on Windows.
    if (message == WM_SYSKEYDOWN && wParam == VK_F4) {
        SendMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    }
    if (message == WM_CLOSE) {
        DestroyWindow(window);
        return 0;
    }
    return 0;
}

BOOL PeekMessageA(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
    if (!message) return FALSE;
    pumpSdlEvents();
    auto& posted = state().posted;
    for (auto it = posted.begin(); it != posted.end(); ++it) {
        if (window && it->hwnd != window) continue;
        if ((filterMin || filterMax) && (it->message < filterMin || it->message > filterMax)) continue;
        *message = *it;
        if (removeFlags & PM_REMOVE) posted.erase(it);
        return TRUE;
    }
    return FALSE;
}

BOOL TranslateMessage(const MSG* message) {
    // Character messages are not used by the show; report whether a key message was seen.
    return message && (message->message == WM_KEYDOWN || message->message == WM_SYSKEYDOWN) ? TRUE : FALSE;
}

LRESULT DispatchMessageA(const MSG* message) {
    if (!message) return 0;
    HWND w = findWindow(message->hwnd);
    if (!w || !w->proc) return 0;
    return w->proc(w, message->message, message->wParam, message->lParam);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!findWindow(window)) return FALSE;
    queue(window, message, wParam, lParam);
    return TRUE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND w = findWindow(window);
    if (!w || !w->proc) return 0;
    return w->proc(w, message, wParam, lParam);
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
    State& s = state();
    std::string captionText = caption ? caption : "Error";
    std::string bodyText = text ? text : "";
    if (s.messageBoxHandler) return s.messageBoxHandler(captionText, bodyText);
    // Whoever started the show from a terminal sees the message too; without a display it is all
    // they see.
    std::fprintf(stderr, "%s: %s\n", captionText.c_str(), bodyText.c_str());
    std::fflush(stderr);
    if (!s.headless && startVideo()) {
        SDL_Window* parent = nullptr;
        for (auto& w : s.windows)
            if (w->sdlWindow) parent = w->sdlWindow;
        // A fullscreen window that grabs the mouse would hide the box and keep the pointer from it.
        if (parent) {
            SDL_SetWindowMouseGrab(parent, SDL_FALSE);
            SDL_SetWindowFullscreen(parent, 0);
            SDL_ShowCursor(SDL_ENABLE);
        }
        SDL_ShowSimpleMessageBox(0, captionText.c_str(), bodyText.c_str(), parent);
    }
    return IDOK;
}

void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

DWORD timeGetTime() {
    if (state().timeSource) return state().timeSource();
    using namespace std::chrono;
    // Milliseconds of a monotonic clock, cut to 32 bits: it wraps as the system timer does.
    return DWORD(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

HGDIOBJ GetStockObject(int object) {
    if (object != SYSTEM_FONT) return nullptr;
    static HGDIOBJ__ systemFont = [] {
        HGDIOBJ__ f{};
        f.font.lfHeight = 16;
        f.font.lfWidth = 7;
        f.font.lfWeight = FW_BOLD;
        std::strcpy(f.font.lfFaceName, "System");
        return f;
    }();
    return &systemFont;
}

int GetObjectA(HGDIOBJ object, int size, LPVOID buffer) {
    if (!object) return 0;
    if (!buffer) return int(sizeof(LOGFONTA));
    if (size < int(sizeof(LOGFONTA))) return 0;
    std::memcpy(buffer, &object->font, sizeof(LOGFONTA));
    return int(sizeof(LOGFONTA));
}

void ExitProcess(UINT exitCode) {
    if (state().exitHandler) state().exitHandler(exitCode);
    std::fflush(nullptr);
    // No teardown: the show's fatal path leaves everything to the operating system.
    std::_Exit(int(exitCode));
}

bool presentToWindow(HWND window, const uint32_t* pixels, int width, int height, int pitchBytes, bool vsync) {
    HWND w = findWindow(window);
    if (!w || !w->sdlWindow || !pixels || width <= 0 || height <= 0) return false;
    if (!w->renderer && !createRenderer(*w)) return false;
    if (w->vsync != vsync) {
        SDL_RenderSetVSync(w->renderer, vsync ? 1 : 0);
        w->vsync = vsync;
    }
    if (!w->frame || w->frameWidth != width || w->frameHeight != height) {
        if (w->frame) SDL_DestroyTexture(w->frame);
        w->frame = SDL_CreateTexture(w->renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, width,
                                     height);
        if (!w->frame) return false;
        // The back buffer's alpha is not a window transparency.
        SDL_SetTextureBlendMode(w->frame, SDL_BLENDMODE_NONE);
        SDL_RenderSetLogicalSize(w->renderer, width, height);
        w->frameWidth = width;
        w->frameHeight = height;
    }
    SDL_UpdateTexture(w->frame, nullptr, pixels, pitchBytes);
    SDL_SetRenderDrawColor(w->renderer, 0, 0, 0, 255);
    SDL_RenderClear(w->renderer);
    SDL_RenderCopy(w->renderer, w->frame, nullptr, nullptr);
    SDL_RenderPresent(w->renderer);
    return true;
}

namespace platform {

void setHeadlessWindows(bool headless) { state().headless = headless; }
void setWindowedMode(bool windowed) { state().windowed = windowed; }
void setTimeSource(std::function<DWORD()> source) { state().timeSource = std::move(source); }
void setMessageBoxHandler(std::function<int(const std::string&, const std::string&)> handler) {
    state().messageBoxHandler = std::move(handler);
}
void setExitHandler(std::function<void(UINT)> handler) { state().exitHandler = std::move(handler); }
HWND lastCreatedWindow() { return state().windows.empty() ? nullptr : state().windows.back().get(); }
bool cursorHidden() { return state().cursorHidden; }
bool cursorConfined() { return state().cursorConfined; }

void resetForTests() {
    State& s = state();
    for (auto& w : s.windows) destroyWindowRecord(*w);
    s.windows.clear();
    s.posted.clear();
    s.classes.clear();
    s.cursorHidden = false;
    s.cursorConfined = false;
    if (s.videoStarted) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        s.videoStarted = false;
    }
}

void shutdown() {
    resetForTests();
    SDL_Quit();
}

std::string hostPath(const char* path) {
    std::string result = path ? path : "";
    std::replace(result.begin(), result.end(), '\\', '/');
    return result;
}

}  // namespace platform
