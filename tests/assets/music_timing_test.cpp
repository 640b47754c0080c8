// The music carries the picture: decoded gaplessly, it starts with a hit at sample 0, hits every bar of
// the intro, peaks at the 16 s flash, is calm from 82 to 98 s, accents the 48 greetings beats and fades
// out after 136 s.
#include <gtest/gtest.h>
#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr int rate = 44100;

struct Decoded {
    std::vector<float> mono;  // (left + right) / 2, full scale 1
    long channels = 0, sampleRate = 0;
    bool ok = false;
};

Decoded decode(const std::string& path) {
    Decoded d;
    mpg123_init();
    int err = 0;
    mpg123_handle* h = mpg123_new(nullptr, &err);
    if (!h) return d;
    mpg123_format_none(h);
    mpg123_format(h, rate, MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(h, path.c_str()) == MPG123_OK) {
        int encoding = 0;
        mpg123_getformat(h, &d.sampleRate, reinterpret_cast<int*>(&d.channels), &encoding);
        std::vector<short> buf(8192);
        size_t got = 0;
        int r;
        while ((r = mpg123_read(h, reinterpret_cast<unsigned char*>(buf.data()), buf.size() * 2, &got)) ==
                   MPG123_OK ||
               r == MPG123_NEW_FORMAT || (r == MPG123_DONE && got > 0)) {
            for (size_t i = 0; i + 1 < got / 2; i += 2) d.mono.push_back((buf[i] + buf[i + 1]) / 65536.0f);
            if (r == MPG123_DONE) break;
        }
        d.ok = r == MPG123_DONE;
        mpg123_close(h);
    }
    mpg123_delete(h);
    return d;
}

class MusicTiming : public ::testing::Test {
protected:
    static void SetUpTestSuite() { music = new Decoded(decode(std::string(SHOW_DIR) + "/kaldra.mp3")); }
    static void TearDownTestSuite() { delete music, music = nullptr; }
    static Decoded* music;

    // Root mean square over [from, to) seconds.
    static double rms(double from, double to) {
        size_t a = size_t(std::max(0.0, from) * rate), b = std::min(music->mono.size(), size_t(to * rate));
        double sum = 0;
        for (size_t i = a; i < b; ++i) sum += double(music->mono[i]) * music->mono[i];
        return b > a ? std::sqrt(sum / double(b - a)) : 0.0;
    }
    // The same of the first difference: a gentle high-pass, so bright sounds (stabs, claps, noise) count
    // more than the kick and the bass.
    static double brightRms(double from, double to) {
        size_t a = size_t(std::max(1.0 / rate, from) * rate),
               b = std::min(music->mono.size(), size_t(to * rate));
        double sum = 0;
        for (size_t i = a; i < b; ++i) {
            double d = double(music->mono[i]) - music->mono[i - 1];
            sum += d * d;
        }
        return b > a ? std::sqrt(sum / double(b - a)) : 0.0;
    }
};

Decoded* MusicTiming::music = nullptr;

TEST_F(MusicTiming, DecodesGaplesslyToExactlyFortyFourKilohertzStereoPastTheShowsEnd) {
    ASSERT_TRUE(music->ok);
    EXPECT_EQ(music->sampleRate, rate);
    EXPECT_EQ(music->channels, 2);
    EXPECT_GT(music->mono.size(), size_t(136 * rate));
    EXPECT_EQ(music->mono.size(), size_t(140 * rate)) << "encoder delay and padding are trimmed";
}

TEST_F(MusicTiming, TheFirstHitSoundsAtSampleZero) {
    ASSERT_TRUE(music->ok);
    // Without the gapless tag the first 1105 samples would be the encoder's silent lead-in.
    float early = 0;
    for (size_t i = 0; i < 200; ++i) early = std::max(early, std::fabs(music->mono[i]));
    EXPECT_GT(early, 0.1f);
}

TEST_F(MusicTiming, HitsOnEveryIntroBarAndTheBiggestAtSixteenSeconds) {
    ASSERT_TRUE(music->ok);
    double loudestBar = 0;
    for (int n = 0; n < 8; ++n) {
        double hit = rms(2.0 * n, 2.0 * n + 0.12), between = rms(2.0 * n + 0.6, 2.0 * n + 0.72);
        EXPECT_GT(hit, 2.0 * between) << "bar at " << 2 * n << " s";
        loudestBar = std::max(loudestBar, hit);
    }
    EXPECT_GT(rms(16.0, 16.12), 1.3 * loudestBar) << "the white flash at 16 s";
    EXPECT_GT(brightRms(17.7, 17.95), 2.0 * brightRms(16.9, 17.15)) << "a riser into 18 s";
}

TEST_F(MusicTiming, AccentsOnTheFortyEightGreetingsBeats) {
    ASSERT_TRUE(music->ok);
    const int offsets[12] = {0, 500, 1125, 1500, 2500, 3125, 3500, 3750, 4500, 5125, 5500, 6500};
    for (int block = 0; block < 4; ++block)
        for (int off : offsets) {
            double t = 98.0 + 8.0 * block + off / 1000.0;
            if (block == 0 && off == 0) continue;  // the riser is loudest just before the first beat
            EXPECT_GT(brightRms(t, t + 0.06), 1.3 * brightRms(t - 0.09, t - 0.03)) << "beat at " << t << " s";
        }
}

TEST_F(MusicTiming, CalmMiddleAndFadeAfterTheShow) {
    ASSERT_TRUE(music->ok);
    EXPECT_LT(rms(84.0, 96.0), 0.7 * rms(20.0, 48.0)) << "82 to 98 s is the calm part";
    EXPECT_LT(rms(139.5, 140.0), 0.05 * rms(130.0, 136.0)) << "faded out by the end";
    EXPECT_GT(rms(134.0, 136.0), 0.2 * rms(130.0, 132.0)) << "still playing while the show runs";
}

}  // namespace
