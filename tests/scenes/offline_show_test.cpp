// The offline staging of the show: a frame asked for alone must be the frame a continuous run shows,
// and a show folder that cannot be staged is reported, not fatal.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <map>

#include "engine/demo_engine.h"
#include "gfx/d3d9/d3d9debug.h"
#include "tools/offline/offline_show.h"

namespace {

// Moments of the first two scenes where the state left by an earlier frame or scene matters: the first
// frames of each scene (prepare steps, the state the intro leaves to the biogen scene), key edges, and
// the working meshes and sprite source deep into a scene.
const DWORD probes[] = {0, 200, 4000, 16000, 17800, 18000, 18200, 26000, 33800, 42000, 49800};

TEST(OfflineShowStaging, FramesAskedForAloneEqualTheFramesOfAContinuousRun) {
    std::map<DWORD, std::vector<uint32_t>> continuous;
    {
        OfflineShow run(SHOW_DIR);
        ASSERT_TRUE(run.ok()) << run.error();
        for (DWORD t = 0; t < 50000; t += 200) {
            const auto& frame = run.nextFrame(t);
            if (std::find(std::begin(probes), std::end(probes), t) != std::end(probes)) continuous[t] = frame;
        }
    }
    ASSERT_EQ(continuous.size(), std::size(probes));

    // Backwards, forwards across a scene change, and forwards within a scene: every way frameAt restages.
    const DWORD order[] = {26000, 4000, 49800, 18200, 0, 33800, 16000, 42000, 18000, 17800, 200};
    OfflineShow alone(SHOW_DIR);
    ASSERT_TRUE(alone.ok()) << alone.error();
    for (DWORD t : order) EXPECT_TRUE(alone.frameAt(t) == continuous[t]) << "frame at " << t << " differs";
}

TEST(OfflineShowStaging, AFolderWithoutTheDataIsReportedWithTheLoadersMessage) {
    const std::string empty =
        std::filesystem::temp_directory_path() / ("offline-show-" + std::to_string(getpid()));
    std::filesystem::create_directories(empty);
    const long before = d3d9debug::liveObjectCount();
    {
        OfflineShow show(empty);
        EXPECT_FALSE(show.ok());
        EXPECT_EQ(show.error(), "Can't load texture [data\\text-tovira.png]");
        EXPECT_EQ(show.frameAt(1000).size(), size_t(OfflineShow::width) * OfflineShow::height);
    }
    EXPECT_EQ(d3d9debug::liveObjectCount(), before) << "a failed staging leaks nothing";
    EXPECT_EQ(engine, nullptr);
    std::filesystem::remove_all(empty);

    OfflineShow missing("/nonexistent/show");
    EXPECT_FALSE(missing.ok());
    EXPECT_NE(missing.error().find("/nonexistent/show"), std::string::npos) << missing.error();
}

TEST(OfflineShowStaging, TeardownReleasesEverythingLikeTheEntry) {
    const long before = d3d9debug::liveObjectCount();
    {
        OfflineShow show(SHOW_DIR);
        ASSERT_TRUE(show.ok()) << show.error();
        show.frameAt(30000);
        EXPECT_GT(d3d9debug::liveObjectCount(), before);
    }
    EXPECT_EQ(d3d9debug::liveObjectCount(), before);
    EXPECT_EQ(engine, nullptr);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(direct3d, nullptr);
}

}  // namespace
