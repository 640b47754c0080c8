// The engine on a headless window and the real software device: default state, saved targets, the
// frame loop on a clock of the test's own, teardown order, registry and offscreen target failures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/demo_engine.h"
#include "engine/offscreen_target.h"
#include "engine/resources.h"
#include "gfx/d3d9/d3d9debug.h"
#include "platform/control.h"
#include "scenes/scene.h"

namespace {

std::vector<std::string> journal;

LRESULT forwardToEngine(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return engine->handleMessage(window, message, wParam, lParam);
}

struct FatalExit {
    UINT code;
};

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        journal.clear();
        platform::resetForTests();
        platform::setHeadlessWindows(true);
        platform::setMessageBoxHandler([this](const std::string& caption, const std::string& text) {
            boxes.push_back(caption + "|" + text);
            return IDOK;
        });
        platform::setExitHandler([](UINT code) { throw FatalExit{code}; });
        liveBefore = d3d9debug::liveObjectCount();
        WNDCLASSEXA cls{};
        cls.cbSize = 48;
        cls.lpfnWndProc = forwardToEngine;
        cls.lpszClassName = "VEXO";
        RegisterClassExA(&cls);
        engine = new DemoEngine();
    }

    void TearDown() override {
        delete engine;
        engine = nullptr;
        if (device) device->Release();
        if (direct3d) direct3d->Release();
        device = nullptr;
        direct3d = nullptr;
        EXPECT_EQ(d3d9debug::liveObjectCount(), liveBefore) << "teardown left graphics objects alive";
        d3d9debug::setFailures({});
        platform::setTimeSource(nullptr);
        platform::setMessageBoxHandler(nullptr);
        platform::setExitHandler(nullptr);
        platform::resetForTests();
        platform::setHeadlessWindows(false);
    }

    void initDisplay(bool windowed = false) {
        ASSERT_TRUE(engine->initDisplay(640, 480, windowed, true, "TOVIRA -- KALDRA"));
    }

    std::vector<std::string> boxes;
    long liveBefore = 0;
};

TEST_F(EngineTest, InitDisplaySetsTheDefaultStateAndSavesTheDeviceTargets) {
    initDisplay();
    struct RenderRow {
        D3DRENDERSTATETYPE state;
        DWORD value;
    };
    const RenderRow renderStates[] = {
        {D3DRS_LIGHTING, TRUE},           {D3DRS_SPECULARENABLE, TRUE},       {D3DRS_NORMALIZENORMALS, TRUE},
        {D3DRS_ALPHABLENDENABLE, TRUE},   {D3DRS_BLENDOP, D3DBLENDOP_ADD},     {D3DRS_SRCBLEND, D3DBLEND_SRCALPHA},
        {D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA}, {D3DRS_ALPHATESTENABLE, TRUE}, {D3DRS_ALPHAREF, 0},
        {D3DRS_ALPHAFUNC, D3DCMP_GREATER},
        // Defaults the show relies on without setting them.
        {D3DRS_CULLMODE, D3DCULL_CCW},    {D3DRS_ZFUNC, D3DCMP_LESSEQUAL},    {D3DRS_ZENABLE, D3DZB_TRUE},
    };
    for (const RenderRow& row : renderStates) {
        DWORD value = 0xDEAD;
        device->GetRenderState(row.state, &value);
        EXPECT_EQ(value, row.value) << "render state " << row.state;
    }
    struct StageRow {
        D3DTEXTURESTAGESTATETYPE type;
        DWORD value;
    };
    const StageRow stageStates[] = {{D3DTSS_COLOROP, D3DTOP_MODULATE}, {D3DTSS_COLORARG1, D3DTA_TEXTURE},
                                    {D3DTSS_COLORARG2, D3DTA_DIFFUSE}, {D3DTSS_ALPHAOP, D3DTOP_MODULATE},
                                    {D3DTSS_ALPHAARG1, D3DTA_TEXTURE}, {D3DTSS_ALPHAARG2, D3DTA_DIFFUSE}};
    for (const StageRow& row : stageStates) {
        DWORD value = 0;
        device->GetTextureStageState(0, row.type, &value);
        EXPECT_EQ(value, row.value) << "stage state " << row.type;
    }
    for (DWORD sampler = 0; sampler < 5; ++sampler)
        for (D3DSAMPLERSTATETYPE type : {D3DSAMP_MAGFILTER, D3DSAMP_MINFILTER, D3DSAMP_MIPFILTER}) {
            DWORD value = 0;
            device->GetSamplerState(sampler, type, &value);
            DWORD expected = sampler < 4 ? D3DTEXF_LINEAR : (type == D3DSAMP_MIPFILTER ? D3DTEXF_NONE : D3DTEXF_POINT);
            EXPECT_EQ(value, expected) << "sampler " << sampler << " state " << type;
        }

    IDirect3DSurface9* target = nullptr;
    IDirect3DSurface9* depth = nullptr;
    device->GetRenderTarget(0, &target);
    device->GetDepthStencilSurface(&depth);
    EXPECT_EQ(target, engine->savedBackBuffer);
    EXPECT_EQ(depth, engine->savedDepthStencil);
    target->Release();
    depth->Release();
    D3DVIEWPORT9 viewport{};
    device->GetViewport(&viewport);
    EXPECT_EQ(viewport.Width, 640u);
    EXPECT_EQ(viewport.Height, 480u);
    EXPECT_EQ(engine->savedViewport.Width, 640u);
    EXPECT_EQ(engine->savedViewport.MaxZ, 1.0f);
    EXPECT_EQ(screenWidth, 640u);
    EXPECT_EQ(screenHeight, 480u);
    EXPECT_NE(engine->font, nullptr);
    EXPECT_TRUE(platform::cursorHidden());
    EXPECT_TRUE(platform::cursorConfined());
}

TEST_F(EngineTest, WindowedModeLeavesTheCursorAlone) {
    initDisplay(true);
    EXPECT_FALSE(platform::cursorHidden());
    EXPECT_FALSE(platform::cursorConfined());
}

TEST_F(EngineTest, DisplayFailuresReturnFalseQuietlyAndTheSoftwareRetryRescuesTheDevice) {
    struct Case {
        const char* name;
        d3d9debug::Failures failures;
        bool expected;
    };
    d3d9debug::Failures noD3D, noHardware, noDevice;
    noD3D.createDirect3D = true;
    noHardware.hardwareDevice = true;
    noDevice.anyDevice = true;
    for (const Case& c : {Case{"no Direct3D", noD3D, false}, Case{"no hardware processing", noHardware, true},
                          Case{"no device", noDevice, false}}) {
        d3d9debug::setFailures(c.failures);
        EXPECT_EQ(engine->initDisplay(640, 480, false, true, "T"), c.expected) << c.name;
        d3d9debug::setFailures({});
        delete engine;
        engine = new DemoEngine();
        if (device) device->Release();
        if (direct3d) direct3d->Release();
        device = nullptr;
        direct3d = nullptr;
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(EngineTest, NoWindowClassMeansNoDisplay) {
    UnregisterClassA("VEXO", nullptr);
    EXPECT_FALSE(engine->initDisplay(640, 480, false, true, nullptr));
    EXPECT_EQ(direct3d, nullptr);
}

// A scene of the test's own: logs every render and can act inside its frame.
class ProbeScene : public Scene {
public:
    ProbeScene(std::string name, std::function<void(DWORD)> act = nullptr) : name(std::move(name)), act(std::move(act)) {}
    ~ProbeScene() override { journal.push_back("destroy " + name); }
    void render(DWORD timeMs) override {
        journal.push_back(name + "@" + std::to_string(timeMs));
        if (act) act(timeMs);
    }
    std::string name;
    std::function<void(DWORD)> act;
};

TEST_F(EngineTest, EveryFrameRendersEveryScenePresentsAndAStopFinishesTheFrame) {
    initDisplay();
    DWORD now = 5000;
    platform::setTimeSource([&] { return now; });
    int frames = 0;
    engine->addScene(new ProbeScene("a", [&](DWORD) {
        now += 10;
        if (++frames == 3) engine->stop();
    }));
    engine->addScene(new ProbeScene("b"));
    unsigned presentsBefore = d3d9debug::presentCount(device);
    ASSERT_TRUE(engine->run(100));
    EXPECT_EQ(journal, (std::vector<std::string>{"a@100", "b@100", "a@110", "b@110", "a@120", "b@120"}));
    EXPECT_EQ(d3d9debug::presentCount(device) - presentsBefore, 3u);
    EXPECT_FALSE(engine->running);
}

TEST_F(EngineTest, RunWhileRunningReturnsTrueAtOnceAndStopWhileIdleChangesNothing) {
    initDisplay();
    engine->stop();
    EXPECT_FALSE(engine->running);
    DWORD now = 0;
    platform::setTimeSource([&] { return now; });
    bool nested = false;
    engine->addScene(new ProbeScene("a", [&](DWORD) {
        nested = engine->run(0);
        engine->stop();
    }));
    EXPECT_TRUE(engine->run(0));
    EXPECT_TRUE(nested);
    EXPECT_EQ(journal.size(), 1u);
}

TEST_F(EngineTest, TimerWrapRestartsTheClockAtTheStartTime) {
    initDisplay();
    std::vector<DWORD> clock = {0xFFFFFF00u, 0xFFFFFF40u, 0x00000010u, 0x00000030u};
    size_t reads = 0;
    platform::setTimeSource([&] { return clock[std::min(reads++, clock.size() - 1)]; });
    std::vector<DWORD> seen;
    engine->addScene(new ProbeScene("a", [&](DWORD t) {
        seen.push_back(t);
        if (seen.size() == 3) engine->stop();
    }));
    engine->run(7000);
    EXPECT_EQ(seen, (std::vector<DWORD>{7000 + 0x40, 7000, 7000 + 0x20}));
}

TEST_F(EngineTest, EscapeCloseAndAltF4EndTheLoopAfterTheFrameOtherKeysDoNot) {
    initDisplay();
    HWND window = platform::lastCreatedWindow();
    ASSERT_NE(window, nullptr);
    struct Case {
        UINT message;
        WPARAM key;
        bool stops;
    };
    for (const Case& c : {Case{WM_KEYDOWN, 'A', false}, Case{WM_KEYDOWN, VK_SPACE, false},
                          Case{WM_KEYDOWN, VK_ESCAPE, true}, Case{WM_CLOSE, 0, true},
                          Case{WM_SYSKEYDOWN, VK_F4, true}}) {
        DWORD now = 0;
        platform::setTimeSource([&] { return now; });
        int frames = 0;
        for (Scene* scene : engine->scenes) delete scene;
        engine->scenes.clear();
        engine->addScene(new ProbeScene("input", [&](DWORD) {
            ++frames;
            if (frames == 1) PostMessageA(window, c.message, c.key, c.message == WM_SYSKEYDOWN ? (LPARAM(1) << 29) : 0);
            // A frame budget ends the run when the message does not.
            if (frames == 5) engine->stop();
        }));
        engine->run(0);
        EXPECT_EQ(frames, c.stops ? 1 : 5) << "message " << c.message << " key " << c.key;
    }
    journal.clear();
}

TEST_F(EngineTest, FailedBeginSceneDrawsNothingButTheLoopGoesOn) {
    initDisplay();
    DWORD now = 0;
    platform::setTimeSource([&] { return now += 5; });
    d3d9debug::Failures failing;
    failing.beginScene = true;
    d3d9debug::setFailures(failing);
    unsigned presentsBefore = d3d9debug::presentCount(device);
    int loops = 0;
    platform::setTimeSource([&] {
        if (++loops == 4) engine->stop();
        return now += 5;
    });
    engine->run(0);
    EXPECT_TRUE(journal.empty());
    EXPECT_EQ(d3d9debug::presentCount(device), presentsBefore);
}

class CountedObject : public IUnknown {
public:
    explicit CountedObject(std::string name) : name(std::move(name)) {}
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override {
        journal.push_back("release " + name);
        delete this;
        return 0;
    }
    std::string name;
};

TEST_F(EngineTest, TeardownReleasesResourcesOnceInKeyOrderBeforeDestroyingScenes) {
    engine->addScene(new ProbeScene("first"));
    engine->addScene(nullptr);
    engine->addScene(new ProbeScene("second"));
    engine->addResource("planarbox41.x", new CountedObject("planarbox41.x"));
    engine->addResource("grid.x", new CountedObject("grid.x"));
    auto* duplicate = new CountedObject("duplicate");
    engine->addResource("grid.x", duplicate);
    EXPECT_EQ(engine->findResource("grid.x"), engine->resources.at("grid.x"));
    delete engine;
    engine = nullptr;
    EXPECT_EQ(journal, (std::vector<std::string>{"release grid.x", "release planarbox41.x", "destroy first",
                                                 "destroy second"}));
    delete duplicate;
    engine = new DemoEngine();
}

TEST_F(EngineTest, LookupsAreExactAndAMissingNameIsFatal) {
    engine->addResource("grid.x", new CountedObject("grid.x"));
    for (const char* name : {"Grid.x", "grid.X", "data\\grid.x", ""}) {
        try {
            getResource(name);
            FAIL() << name << " was found";
        } catch (const FatalExit& e) {
            EXPECT_EQ(e.code, 1u);
        }
        EXPECT_EQ(boxes.back(), std::string("ERROR|Can't find resource [") + name + "]");
    }
}

TEST_F(EngineTest, MissingDataFilesAreFatalWithTheirPath) {
    initDisplay();
    struct Case {
        std::function<void()> load;
        std::string message;
    };
    for (const Case& c : {Case{[] { loadTexture("no-such.png", 0, D3DFMT_UNKNOWN); },
                               "ERROR|Can't load texture [data\\no-such.png]"},
                          Case{[] { loadMesh("no-such.x", D3DXMESH_MANAGED); }, "ERROR|Can't load mesh [data\\no-such.x]"}}) {
        try {
            c.load();
            FAIL() << "no fatal error for " << c.message;
        } catch (const FatalExit& e) {
            EXPECT_EQ(e.code, 1u);
        }
        EXPECT_EQ(boxes.back(), c.message);
    }
    EXPECT_TRUE(engine->resources.empty());
}

TEST_F(EngineTest, OffscreenTargetBindsItsOwnViewportAndTheEngineRestoresTheSavedOne) {
    initDisplay();
    OffscreenTarget target(160, 120, 1, D3DFMT_A8R8G8B8, D3DFMT_D24S8);
    target.bind();
    D3DVIEWPORT9 viewport{};
    device->GetViewport(&viewport);
    EXPECT_EQ(viewport.X, 0u);
    EXPECT_EQ(viewport.Width, 160u);
    EXPECT_EQ(viewport.Height, 120u);
    EXPECT_EQ(viewport.MinZ, 0.0f);
    EXPECT_EQ(viewport.MaxZ, 1.0f);
    IDirect3DSurface9* surface = nullptr;
    device->GetRenderTarget(0, &surface);
    EXPECT_EQ(surface, target.colorSurface);
    surface->Release();
    engine->restoreRenderTarget();
    device->GetViewport(&viewport);
    EXPECT_EQ(viewport.Width, 640u);
    device->GetRenderTarget(0, &surface);
    EXPECT_EQ(surface, engine->savedBackBuffer);
    surface->Release();
    device->GetDepthStencilSurface(&surface);
    EXPECT_EQ(surface, engine->savedDepthStencil);
    surface->Release();
    target.colorSurface->Release();
    target.depthSurface->Release();
    target.texture->Release();
}

TEST_F(EngineTest, OffscreenTargetCreationFailuresAreFatalWithTheirMessages) {
    initDisplay();
    struct Case {
        d3d9debug::Failures failures;
        const char* message;
    };
    d3d9debug::Failures noTexture, noDepth;
    noTexture.renderTargetTexture = true;
    noDepth.depthStencilSurface = true;
    for (const Case& c : {Case{noTexture, "ERROR|Can't create render target on A8R8G8B8 surface!"},
                          Case{noDepth, "ERROR|Can't create depth/stencil surface for render target!"}}) {
        d3d9debug::setFailures(c.failures);
        try {
            OffscreenTarget target(160, 120, 1, D3DFMT_A8R8G8B8, D3DFMT_D24S8);
            FAIL() << "no fatal error";
        } catch (const FatalExit& e) {
            EXPECT_EQ(e.code, 1u);
        }
        EXPECT_EQ(boxes.back(), c.message);
    }
    d3d9debug::setFailures({});
    // The texture made before the depth surface failed is left to the process, as on the fatal path.
    liveBefore += 1;
}

}  // namespace

namespace {

TEST_F(EngineTest, TheFrameRateLineDrawsWhiteTextInItsCornerOnlyWhenSwitchedOn) {
    initDisplay();
    for (bool showFps : {false, true}) {
        engine->showFps = showFps;
        DWORD now = 0;
        platform::setTimeSource([&] { return now += 100; });
        int frames = 0;
        for (Scene* scene : engine->scenes) delete scene;
        engine->scenes.clear();
        engine->addScene(new ProbeScene("clear", [&](DWORD) {
            device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
            if (++frames == 15) engine->stop();
        }));
        engine->run(0);
        std::vector<uint32_t> pixels;
        UINT w, h;
        d3d9debug::readBackBuffer(device, pixels, w, h);
        int whiteInside = 0, whiteOutside = 0;
        for (UINT y = 0; y < h; ++y)
            for (UINT x = 0; x < w; ++x) {
                bool inside = x >= 10 && x < 300 && y >= 10 && y < 100;
                if ((pixels[y * w + x] & 0xFFFFFF) == 0xFFFFFF) (inside ? whiteInside : whiteOutside)++;
            }
        EXPECT_EQ(whiteOutside, 0);
        if (showFps)
            EXPECT_GT(whiteInside, 100);
        else
            EXPECT_EQ(whiteInside, 0);
    }
    journal.clear();
}

}  // namespace
