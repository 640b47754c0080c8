#include "engine/demo_engine.h"

#include "gfx/d3dx/d3dx9.h"
#include "scenes/scene.h"

DemoEngine* engine = nullptr;
IDirect3D9* direct3d = nullptr;
IDirect3DDevice9* device = nullptr;
UINT screenWidth = 0;
UINT screenHeight = 0;

DemoEngine::DemoEngine() : savedViewport{} {}

DemoEngine::~DemoEngine() {
    if (soundReady) {
        if (stream) FSOUND_Stream_Stop(stream);
        FSOUND_Close();
    }
    if (!windowed) ClipCursor(nullptr);
    // Resources go before the scenes, so a scene destructor never touches what it borrowed.
    for (auto& [name, object] : resources) object->Release();
    resources.clear();
    for (Scene* scene : scenes) delete scene;
    scenes.clear();
    if (savedBackBuffer) savedBackBuffer->Release();
    if (savedDepthStencil) savedDepthStencil->Release();
    if (font) font->Release();
    savedBackBuffer = nullptr;
    savedDepthStencil = nullptr;
    font = nullptr;
}

void DemoEngine::addScene(Scene* scene) { scenes.push_back(scene); }
