// The driver's load list against the generated show folder: every file loads, in order, once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "app/driver/demo.h"
#include "engine/demo_engine.h"
#include "gfx/d3d9/d3d9debug.h"
#include "platform/control.h"

namespace {

LRESULT forward(HWND w, UINT m, WPARAM wp, LPARAM lp) { return engine->handleMessage(w, m, wp, lp); }

TEST(ShowData, EveryDataFileLoadsAndTeardownReleasesEachOnce) {
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(SHOW_DIR), 0);
    platform::resetForTests();
    platform::setHeadlessWindows(true);
    std::string fatal;
    platform::setMessageBoxHandler([&](const std::string& c, const std::string& t) {
        fatal = c + ": " + t;
        return IDOK;
    });
    WNDCLASSEXA cls{};
    cls.lpfnWndProc = forward;
    cls.lpszClassName = "VEXO";
    RegisterClassExA(&cls);
    const long before = d3d9debug::liveObjectCount();
    engine = new DemoEngine();
    ASSERT_TRUE(engine->initDisplay(640, 480, false, true, "TOVIRA -- KALDRA"));
    auto started = std::chrono::steady_clock::now();
    loadShowData();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_TRUE(fatal.empty()) << fatal;
    EXPECT_EQ(engine->resources.size(), 35u);
    for (const char* name : {"grid.x", "planarbox41.x", "seeya.jpg", "text-tovira.png"})
        EXPECT_EQ(engine->resources.count(name), 1u) << name;
    IDirect3DTexture9* seeya = static_cast<IDirect3DTexture9*>(engine->findResource("seeya.jpg"));
    EXPECT_EQ(seeya->GetLevelCount(), 1u);
    IDirect3DTexture9* tovira = static_cast<IDirect3DTexture9*>(engine->findResource("text-tovira.png"));
    EXPECT_GT(tovira->GetLevelCount(), 1u);
    RecordProperty("load_seconds", std::to_string(seconds));
    std::printf("loading all data files took %.2f s\n", seconds);
    delete engine;
    engine = nullptr;
    device->Release();
    direct3d->Release();
    device = nullptr;
    direct3d = nullptr;
    EXPECT_EQ(d3d9debug::liveObjectCount(), before);
    platform::setMessageBoxHandler(nullptr);
    platform::resetForTests();
    platform::setHeadlessWindows(false);
    ASSERT_EQ(chdir(previous), 0);
}

}  // namespace
