#include "app/driver/demo.h"

#include "anim/noise.h"

#include "engine/demo_engine.h"
#include "engine/offscreen_target.h"
#include "engine/resources.h"

namespace {
const char* const windowClassName = "VEXO";
}

LRESULT windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return engine->handleMessage(window, message, wParam, lParam);
}

int WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = 48;
    windowClass.style = 0;
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = windowClassName;
    RegisterClassExA(&windowClass);

    // The engine must exist before any window, because windowProc forwards to it.
    engine = new DemoEngine();

    fillNoiseTable();

    runDemo();

    if (engine) {
        delete engine;
        engine = nullptr;
    }
    if (device) {
        device->Release();
        device = nullptr;
    }
    if (direct3d) {
        direct3d->Release();
        direct3d = nullptr;
    }
    UnregisterClassA(windowClassName, instance);
    return 0;
}

void runDemo() {
    if (!engine->initDisplay(640, 480, false, true, "TOVIRA -- KALDRA")) return;
    Sleep(1000);
    engine->openMusic("kaldra.mp3");
    offscreenTarget = new OffscreenTarget(160, 120, 1, D3DFMT_A8R8G8B8, D3DFMT_D24S8);
    loadShowData();
    buildScenes();
    engine->run(0);
    releaseOffscreenTarget();
}

void releaseOffscreenTarget() {
    if (!offscreenTarget) return;
    offscreenTarget->colorSurface->Release();
    offscreenTarget->depthSurface->Release();
    offscreenTarget->texture->Release();
    delete offscreenTarget;
    offscreenTarget = nullptr;
}
