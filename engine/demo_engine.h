// The one engine object: display and messages, the music clock and the frame loop, the resource
// registry, and the scenes it owns.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "gfx/d3d9/d3d9.h"
#include "platform/sound/fmod.h"
#include "platform/win32.h"

class Scene;
struct ID3DXFont;
class DemoEngine;

// Ordered by byte-wise comparison of the bare file name; holds the loader's one reference.
using ResourceMap = std::map<std::string, IUnknown*>;

extern DemoEngine* engine;
extern IDirect3D9* direct3d;
extern IDirect3DDevice9* device;
extern UINT screenWidth;
extern UINT screenHeight;

class DemoEngine {
public:
    DemoEngine();
    ~DemoEngine();
    DemoEngine(const DemoEngine&) = delete;
    DemoEngine& operator=(const DemoEngine&) = delete;

    bool initDisplay(UINT width, UINT height, bool windowed, bool vsync, const char* title);
    LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void restoreRenderTarget();

    bool openMusic(const char* fileName);
    bool run(DWORD startMs);
    void stop();

    void addResource(const std::string& name, IUnknown* object);
    IUnknown* findResource(const std::string& name);

    void addScene(Scene* scene);

    // One frame of the show at `timeMs`, as the loop draws it: begin, every scene in list order,
    // end, present. The offline tools drive the show through this with a clock of their own.
    void renderFrame(DWORD timeMs);

    std::vector<Scene*> scenes;
    ResourceMap resources;
    bool windowed = false;
    bool soundReady = false;
    FSOUND_STREAM* stream = nullptr;
    bool running = false;
    DWORD timerBaseMs = 0;
    bool showFps = false;
    IDirect3DSurface9* savedBackBuffer = nullptr;
    IDirect3DSurface9* savedDepthStencil = nullptr;
    D3DVIEWPORT9 savedViewport;
    ID3DXFont* font = nullptr;

private:
    struct FrameRateLine {
        DWORD frameCount = 0;
        DWORD measureStart = 0;
        float frameRate = 0.0f;
    };
    void drawFrameRate(FrameRateLine& line, DWORD frameTime);
};
