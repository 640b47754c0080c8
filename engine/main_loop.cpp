// The music clock and the frame loop.
#include <cstdio>

#include "engine/demo_engine.h"
#include "gfx/d3dx/d3dx9.h"
#include "scenes/scene.h"

bool DemoEngine::openMusic(const char* fileName) {
    if (!soundReady) {
        FSOUND_SetOutput(FSOUND_OUTPUT_WINMM);
        FSOUND_SetDriver(0);
        FSOUND_SetBufferSize(500);
        if (!FSOUND_Init(44100, 1, 0)) return false;
        FSOUND_SetVolume(0, 255);
        soundReady = true;
    }
    stream = FSOUND_Stream_OpenFile(fileName, 0, 0);
    if (!stream) {
        // The sound system stays initialised but, with soundReady cleared, teardown leaves it alone.
        soundReady = false;
        return false;
    }
    return true;
}

bool DemoEngine::run(DWORD startMs) {
    if (running) return true;

    if (soundReady) {
        FSOUND_Stream_SetTime(stream, int(startMs));
        if (FSOUND_Stream_Play(0, stream) < 0) return false;
    } else {
        timerBaseMs = timeGetTime();
    }

    running = true;
    FrameRateLine frameRateLine;
    MSG message{};

    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);

    while (running) {
        DWORD frameTime;
        if (soundReady) {
            frameTime = DWORD(FSOUND_Stream_GetTime(stream));
        } else {
            DWORD now = timeGetTime();
            // The 32-bit timer wrapped: the clock starts again at startMs.
            if (now < timerBaseMs) timerBaseMs = now;
            frameTime = now - timerBaseMs + startMs;
        }

        if (device->BeginScene() == D3D_OK) {
            for (Scene* scene : scenes) scene->render(frameTime);
            if (showFps) drawFrameRate(frameRateLine, frameTime);
            device->EndScene();
            device->Present(nullptr, nullptr, nullptr, nullptr);
        }

        if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return true;
}

void DemoEngine::stop() { running = false; }

void DemoEngine::renderFrame(DWORD timeMs) {
    if (device->BeginScene() != D3D_OK) return;
    for (Scene* scene : scenes) scene->render(timeMs);
    device->EndScene();
    device->Present(nullptr, nullptr, nullptr, nullptr);
}

void DemoEngine::drawFrameRate(FrameRateLine& line, DWORD frameTime) {
    line.frameCount += 1;
    if (frameTime - line.measureStart > 1000) {
        line.frameRate = float(line.frameCount) * 1000.0f / float(frameTime - line.measureStart);
        line.measureStart = frameTime;
        line.frameCount = 0;
    }
    char text[64];
    std::snprintf(text, sizeof text, "[FPS: %6.1f] -- [TIME: %5.3f]", double(line.frameRate),
                  double(float(frameTime) * 0.001f));
    if (!font) return;
    RECT area{10, 10, 300, 100};
    font->DrawTextA(text, -1, &area, 0, 0xFFFFFFFF);
}
