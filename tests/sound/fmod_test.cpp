// The stream clock on real MP3 files made here with lame, through SDL's dummy and disk drivers.
#include <gtest/gtest.h>
#include <mpg123.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/sound/fmod.h"
#include "platform/sound/fmod_debug.h"

namespace {

std::string tempPath(const std::string& name) { return ::testing::TempDir() + name; }

// A stereo 44.1 kHz WAV of a rising tone, so every sample is distinct enough to line up.
void writeWav(const std::string& path, double seconds) {
    const int rate = 44100, frames = int(seconds * rate);
    std::vector<int16_t> samples(size_t(frames) * 2);
    double phase = 0;
    for (int i = 0; i < frames; ++i) {
        phase += 2 * M_PI * (200.0 + 600.0 * i / frames) / rate;
        samples[size_t(i) * 2] = int16_t(12000 * std::sin(phase));
        samples[size_t(i) * 2 + 1] = int16_t(9000 * std::sin(phase * 1.5));
    }
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const uint32_t bytes = uint32_t(samples.size() * 2);
    out.write("RIFF", 4);
    u32(36 + bytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(2);
    u32(rate);
    u32(rate * 4);
    u16(4);
    u16(16);
    out.write("data", 4);
    u32(bytes);
    out.write(reinterpret_cast<const char*>(samples.data()), bytes);
}

std::string makeMp3(const std::string& name, double seconds) {
    const std::string wav = tempPath(name + ".wav"), mp3 = tempPath(name);
    writeWav(wav, seconds);
    const std::string command = "lame --quiet -b 192 '" + wav + "' '" + mp3 + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << "lame must be installed";
    return mp3;
}

// The reference: the same file decoded straight through libmpg123, gapless.
std::vector<int16_t> decodeAll(const std::string& path) {
    mpg123_handle* h = mpg123_new(nullptr, nullptr);
    mpg123_param(h, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0);
    mpg123_format_none(h);
    mpg123_format(h, 44100, MPG123_STEREO, MPG123_ENC_SIGNED_16);
    mpg123_open(h, path.c_str());
    std::vector<int16_t> out;
    unsigned char buffer[16384];
    size_t got = 0;
    int result;
    do {
        result = mpg123_read(h, buffer, sizeof buffer, &got);
        out.insert(out.end(), reinterpret_cast<int16_t*>(buffer), reinterpret_cast<int16_t*>(buffer + got));
    } while (result == MPG123_OK || result == MPG123_NEW_FORMAT);
    mpg123_close(h);
    mpg123_delete(h);
    return out;
}

void useDriver(const char* driver) { setenv("SDL_AUDIODRIVER", driver, 1); }

// Something that is not a stream, to hand over as one.
int notAStream = 0;

bool initSound() {
    FSOUND_SetOutput(FSOUND_OUTPUT_WINMM);
    FSOUND_SetDriver(0);
    FSOUND_SetBufferSize(500);
    return FSOUND_Init(44100, 1, 0) != 0;
}

class SoundTest : public ::testing::Test {
protected:
    void TearDown() override {
        FSOUND_Close();
        unsetenv("SDL_AUDIODRIVER");
        unsetenv("SDL_DISKAUDIOFILE");
        unsetenv("SDL_DISKAUDIODELAY");
    }
};

TEST_F(SoundTest, InitFailsWithoutAUsableAudioDevice) {
    useDriver("no-such-driver");
    EXPECT_FALSE(initSound());
    EXPECT_EQ(FSOUND_Stream_OpenFile("anything.mp3", 0, 0), nullptr);
    EXPECT_LT(FSOUND_Stream_Play(0, nullptr), 0);
}

TEST_F(SoundTest, MissingAndBrokenFilesGiveNoStream) {
    useDriver("dummy");
    ASSERT_TRUE(initSound());
    const std::string text = tempPath("not-music.mp3");
    std::ofstream(text) << "this is not an mp3 file at all, just some words\n";
    const std::string empty = tempPath("empty.mp3");
    std::ofstream(empty).close();
    const std::string good = makeMp3("short.mp3", 1.0);
    std::ifstream in(good, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string noise = tempPath("noise.mp3");
    {
        std::ofstream out(noise, std::ios::binary);
        uint32_t seed = 7;
        for (int i = 0; i < 20000; ++i) {
            seed = seed * 1103515245u + 12345u;
            out.put(char(seed >> 24));
        }
    }
    for (const std::string& path : {std::string("no/such/file.mp3"), text, empty, noise, ::testing::TempDir()})
        EXPECT_EQ(FSOUND_Stream_OpenFile(path.c_str(), 0, 0), nullptr) << path;
    EXPECT_NE(FSOUND_Stream_OpenFile(good.c_str(), 0, 0), nullptr);
}

TEST_F(SoundTest, PositionFollowsPlaybackFromTheStartTimeAndKeepsGoingPastTheEnd) {
    useDriver("dummy");
    ASSERT_TRUE(initSound());
    const std::string path = makeMp3("clock.mp3", 1.0);
    FSOUND_STREAM* stream = FSOUND_Stream_OpenFile(path.c_str(), 0, 0);
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(FSOUND_Stream_SetTime(stream, 400));
    EXPECT_EQ(FSOUND_Stream_GetTime(stream), 400);
    ASSERT_EQ(FSOUND_Stream_Play(0, stream), 0);
    auto started = std::chrono::steady_clock::now();
    int last = FSOUND_Stream_GetTime(stream);
    EXPECT_GE(last, 400);
    int stalls = 0;
    while (std::chrono::steady_clock::now() - started < std::chrono::milliseconds(1200)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        int now = FSOUND_Stream_GetTime(stream);
        EXPECT_GE(now, last) << "the clock went backwards";
        if (now == last) ++stalls;
        last = now;
    }
    double elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    // The one-second file ended at 600 ms of play; the clock runs on in step with the device.
    EXPECT_NEAR(last, 400 + elapsed, 60);
    EXPECT_LT(stalls, 40);
    FSOUND_Stream_Stop(stream);
}

TEST_F(SoundTest, TheDeviceReceivesTheStreamFromItsFirstSampleOrFromTheSeekPoint) {
    const std::string path = makeMp3("samples.mp3", 1.5);
    const std::vector<int16_t> reference = decodeAll(path);
    ASSERT_GT(reference.size(), 44100u * 2);
    for (int startMs : {0, 500}) {
        const std::string captured = tempPath("disk-" + std::to_string(startMs) + ".raw");
        std::remove(captured.c_str());
        useDriver("disk");
        setenv("SDL_DISKAUDIOFILE", captured.c_str(), 1);
        ASSERT_TRUE(initSound());
        FSOUND_STREAM* stream = FSOUND_Stream_OpenFile(path.c_str(), 0, 0);
        ASSERT_NE(stream, nullptr);
        FSOUND_Stream_SetTime(stream, startMs);
        ASSERT_EQ(FSOUND_Stream_Play(0, stream), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        FSOUND_Stream_Stop(stream);
        FSOUND_Close();
        std::ifstream in(captured, std::ios::binary);
        std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t samples = raw.size() / 2;
        ASSERT_GT(samples, 4096u) << "the disk driver wrote too little";
        const int16_t* written = reinterpret_cast<const int16_t*>(raw.data());
        // The device plays silence while it waits for Play; the music starts after that.
        size_t lead = 0;
        while (lead < samples && written[lead] == 0) ++lead;
        // Zeros at the start point of the music itself are counted in that silent lead.
        size_t offset = size_t(startMs) * 44100 / 1000 * 2;
        while (offset < reference.size() && reference[offset] == 0) ++offset;
        size_t compared = 0, equal = 0;
        for (size_t i = 0; i < 4096 && offset + i < reference.size() && lead + i < samples; ++i, ++compared)
            equal += written[lead + i] == reference[offset + i];
        EXPECT_EQ(lead % 2, 0u) << "the music must start on a whole frame";
        EXPECT_EQ(equal, compared) << "start " << startMs << " ms";
    }
}

// A device that stops asking for samples (stalled, unplugged, its server gone) must not stop the
// show: the clock runs on with real time, and when the device comes back the music skips what it
// missed, so clock and music stay in step.
TEST_F(SoundTest, TheClockRunsOnThroughAStalledDeviceAndTheMusicCatchesUp) {
    useDriver("dummy");
    ASSERT_TRUE(initSound());
    const std::string path = makeMp3("stall.mp3", 3.0);
    FSOUND_STREAM* stream = FSOUND_Stream_OpenFile(path.c_str(), 0, 0);
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(FSOUND_Stream_Play(0, stream), 0);
    const auto started = std::chrono::steady_clock::now();
    auto sinceStart = [&] {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
    };
    int last = FSOUND_Stream_GetTime(stream);
    auto follow = [&](double untilMs) {
        while (sinceStart() < untilMs) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const int now = FSOUND_Stream_GetTime(stream);
            EXPECT_GE(now, last) << "the clock went backwards";
            last = now;
        }
    };
    follow(300);
    fsound_debug::pauseDevice(true);
    follow(1100);
    EXPECT_NEAR(last, sinceStart(), 80) << "the clock stopped with the device";
    fsound_debug::pauseDevice(false);
    follow(1600);
    EXPECT_NEAR(last, sinceStart(), 80) << "the clock fell behind after the device came back";
    FSOUND_Stream_Stop(stream);
}

// A closed stream's handle is refused by every call instead of being used after it was freed.
TEST_F(SoundTest, ClosedAndUnknownHandlesAreRefused) {
    useDriver("dummy");
    ASSERT_TRUE(initSound());
    const std::string path = makeMp3("closed.mp3", 1.0);
    FSOUND_STREAM* stream = FSOUND_Stream_OpenFile(path.c_str(), 0, 0);
    ASSERT_NE(stream, nullptr);
    ASSERT_TRUE(FSOUND_Stream_Close(stream));
    FSOUND_STREAM* foreign = reinterpret_cast<FSOUND_STREAM*>(&notAStream);
    for (FSOUND_STREAM* handle : {stream, foreign}) {
        EXPECT_FALSE(FSOUND_Stream_SetTime(handle, 100));
        EXPECT_LT(FSOUND_Stream_Play(0, handle), 0);
        EXPECT_EQ(FSOUND_Stream_GetTime(handle), 0);
        EXPECT_FALSE(FSOUND_Stream_Stop(handle));
        EXPECT_FALSE(FSOUND_Stream_Close(handle));
    }
}

}  // namespace

