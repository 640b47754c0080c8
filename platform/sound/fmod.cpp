// One music stream played through one SDL audio device. A decoder thread turns the whole MP3 into
// samples in a buffer sized once at open; the audio callback only copies from what is decoded, so
// it never waits on the decoder, takes no lock across decoding and allocates nothing.
#include "platform/sound/fmod.h"
#include "platform/sound/fmod_debug.h"

#include <SDL.h>
#include <mpg123.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "platform/control.h"

namespace {

constexpr int channels = 2;
// Frames per device buffer: 512 at 44.1 kHz is 11.6 ms, so the interpolated position stays well
// within 25 ms of what is heard even with the mixer's own buffer in front of it.
constexpr int deviceFrames = 512;
// Bounds the memory one stream may take: 30 minutes of stereo 16-bit samples.
constexpr int64_t maxFrames = int64_t(44100) * 60 * 30;
// A device that has not asked for samples for this long has stalled or died: the clock runs on with
// real time, and when the device comes back it skips the music it missed, so both stay in step.
constexpr double stallSeconds = 0.25;

}  // namespace

struct FSOUND_STREAM {
    std::vector<int16_t> samples;        // interleaved stereo, sized once at open
    int64_t totalFrames = 0;             // frames the file promises (gapless length)
    std::atomic<int64_t> decoded{0};     // frames decoded so far
    std::atomic<bool> decoderDone{false};
    std::atomic<bool> stopDecoder{false};
    std::thread decoder;
    mpg123_handle* handle = nullptr;

    int64_t startFrame = 0;              // set by SetTime before play
    // What the callback last did, written under a sequence count so a reader never mixes two
    // callbacks: frames handed to the device since play (silence included past the end), the music
    // frames in the last buffer, and when it ran.
    std::atomic<uint32_t> sequence{0};
    std::atomic<int64_t> delivered{0};
    std::atomic<int64_t> lastMusic{0};
    std::atomic<uint64_t> callbackTicks{0};
    uint64_t playTicks = 0;  // when play began: stands for the first callback until it comes
    std::atomic<int64_t> lastReported{0};
    bool playing = false;

    ~FSOUND_STREAM() {
        stopDecoder = true;
        if (decoder.joinable()) decoder.join();
        if (handle) {
            mpg123_close(handle);
            mpg123_delete(handle);
        }
    }
};

namespace {

struct Sound {
    bool initialised = false;
    SDL_AudioDeviceID device = 0;
    int rate = 44100;
    std::atomic<FSOUND_STREAM*> active{nullptr};
    std::vector<std::unique_ptr<FSOUND_STREAM>> streams;
};

Sound& sound() {
    static Sound s;
    return s;
}

// Handles are checked against the open streams, so a closed or foreign one is refused, not used.
bool isOpen(const FSOUND_STREAM* stream) {
    if (!stream) return false;
    for (const auto& open : sound().streams)
        if (open.get() == stream) return true;
    return false;
}

void audioCallback(void*, Uint8* out, int length) {
    auto* frames = reinterpret_cast<int16_t*>(out);
    int wanted = length / int(sizeof(int16_t) * channels);
    FSOUND_STREAM* stream = sound().active.load(std::memory_order_acquire);
    if (!stream) {
        std::memset(out, 0, size_t(length));
        return;
    }
    const uint64_t now = SDL_GetPerformanceCounter();
    int64_t delivered = stream->delivered.load(std::memory_order_relaxed);
    uint64_t previous = stream->callbackTicks.load(std::memory_order_relaxed);
    if (previous == 0) previous = stream->playTicks;
    if (previous != 0) {
        // Back from a stall: the clock ran on meanwhile, so the music skips what it missed.
        const double gap = double(now - previous) / double(SDL_GetPerformanceFrequency());
        if (gap > stallSeconds) delivered += int64_t(gap * sound().rate) - deviceFrames;
    }
    int64_t cursor = stream->startFrame + delivered;
    int64_t available = stream->decoded.load(std::memory_order_acquire);
    int64_t copy = std::clamp<int64_t>(available - cursor, 0, wanted);
    if (copy > 0) std::memcpy(frames, stream->samples.data() + cursor * channels, size_t(copy) * channels * 2);
    std::memset(frames + copy * channels, 0, size_t(wanted - copy) * channels * 2);
    // Past the end of the music the device plays silence and the clock runs on; before the decoder
    // has caught up, the silence is a wait and the clock waits with it.
    const bool ended = stream->decoderDone.load(std::memory_order_acquire) && cursor + copy >= available;
    const int64_t advanced = ended ? wanted : copy;
    stream->sequence.fetch_add(1, std::memory_order_acq_rel);  // odd: being written
    stream->delivered.store(delivered + advanced, std::memory_order_relaxed);
    stream->lastMusic.store(advanced, std::memory_order_relaxed);
    stream->callbackTicks.store(now, std::memory_order_relaxed);
    stream->sequence.fetch_add(1, std::memory_order_release);  // even: consistent again
}

void decodeAll(FSOUND_STREAM* stream) {
    size_t done = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(stream->samples.data());
    const size_t capacity = stream->samples.size() * sizeof(int16_t);
    while (!stream->stopDecoder && done < capacity) {
        size_t got = 0;
        size_t chunk = std::min<size_t>(capacity - done, 16384);
        int result = mpg123_read(stream->handle, bytes + done, chunk, &got);
        done += got;
        stream->decoded.store(int64_t(done / (sizeof(int16_t) * channels)), std::memory_order_release);
        if (result == MPG123_DONE || (result != MPG123_OK && result != MPG123_NEW_FORMAT && got == 0)) break;
    }
    // A truncated or damaged file ends early: what was decoded plays, then silence.
    stream->totalFrames = stream->decoded.load();
    stream->decoderDone = true;
}

}  // namespace

signed char FSOUND_SetOutput(int) { return sound().initialised ? 0 : 1; }
signed char FSOUND_SetDriver(int driver) { return sound().initialised || driver != 0 ? 0 : 1; }
signed char FSOUND_SetBufferSize(int lengthMs) { return sound().initialised || lengthMs <= 0 ? 0 : 1; }

signed char FSOUND_Init(int mixRate, int, unsigned int) {
    Sound& s = sound();
    if (s.initialised) return 1;
    if (mixRate < 8000 || mixRate > 192000) return 0;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return 0;
    SDL_AudioSpec want{}, have{};
    want.freq = mixRate;
    want.format = AUDIO_S16SYS;
    want.channels = channels;
    want.samples = deviceFrames;
    want.callback = audioCallback;
    // SDL's audio subsystem starts without a sound card; only opening a device tells.
    s.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (!s.device) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return 0;
    }
    s.rate = mixRate;
    s.initialised = true;
    return 1;
}

signed char FSOUND_SetVolume(int, int volume) { return sound().initialised && volume >= 0 && volume <= 255; }

FSOUND_STREAM* FSOUND_Stream_OpenFile(const char* fileName, unsigned int, int) {
    Sound& s = sound();
    if (!s.initialised || !fileName) return nullptr;
    auto stream = std::make_unique<FSOUND_STREAM>();
    int error = 0;
    stream->handle = mpg123_new(nullptr, &error);
    if (!stream->handle) return nullptr;
    mpg123_param(stream->handle, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
    mpg123_format_none(stream->handle);
    if (mpg123_format(stream->handle, s.rate, MPG123_STEREO, MPG123_ENC_SIGNED_16) != MPG123_OK) return nullptr;
    std::string path = platform::hostPath(fileName);
    if (mpg123_open(stream->handle, path.c_str()) != MPG123_OK) return nullptr;
    long rate = 0;
    int count = 0, encoding = 0;
    // Reads the first frame: a file that is not MPEG audio fails here.
    if (mpg123_getformat(stream->handle, &rate, &count, &encoding) != MPG123_OK || rate != s.rate) return nullptr;
    if (mpg123_scan(stream->handle) != MPG123_OK) return nullptr;
    off_t length = mpg123_length(stream->handle);
    if (length <= 0 || length > maxFrames) return nullptr;
    stream->totalFrames = length;
    stream->samples.assign(size_t(length) * channels, 0);
    FSOUND_STREAM* raw = stream.get();
    raw->decoder = std::thread(decodeAll, raw);
    s.streams.push_back(std::move(stream));
    return raw;
}

signed char FSOUND_Stream_SetTime(FSOUND_STREAM* stream, int ms) {
    if (!isOpen(stream) || ms < 0 || stream->playing) return 0;
    stream->startFrame = int64_t(ms) * sound().rate / 1000;
    stream->lastReported = ms;
    return 1;
}

int FSOUND_Stream_Play(int channel, FSOUND_STREAM* stream) {
    Sound& s = sound();
    if (!s.initialised || !isOpen(stream) || channel < 0) return -1;
    // The first buffers must hold music, not a wait: give the decoder a moment (bounded) to get
    // ahead of the start point.
    const int64_t needed = stream->startFrame + 4 * deviceFrames;
    for (int waited = 0; waited < 1000 && !stream->decoderDone && stream->decoded.load() < needed; ++waited)
        SDL_Delay(1);
    SDL_LockAudioDevice(s.device);
    stream->delivered = 0;
    stream->lastMusic = 0;
    stream->callbackTicks = 0;
    stream->playTicks = SDL_GetPerformanceCounter();
    stream->playing = true;
    s.active.store(stream, std::memory_order_release);
    SDL_UnlockAudioDevice(s.device);
    SDL_PauseAudioDevice(s.device, 0);
    return channel == FSOUND_FREE ? 0 : channel;
}

int FSOUND_Stream_GetTime(FSOUND_STREAM* stream) {
    if (!isOpen(stream)) return 0;
    const int rate = sound().rate;
    int64_t position = stream->startFrame;
    if (stream->playing) {
        uint64_t ticks;
        int64_t delivered, lastMusic;
        for (;;) {
            const uint32_t before = stream->sequence.load(std::memory_order_acquire);
            ticks = stream->callbackTicks.load(std::memory_order_relaxed);
            delivered = stream->delivered.load(std::memory_order_relaxed);
            lastMusic = stream->lastMusic.load(std::memory_order_relaxed);
            std::atomic_thread_fence(std::memory_order_acquire);
            if (before % 2 == 0 && stream->sequence.load(std::memory_order_relaxed) == before) break;
            std::this_thread::yield();
        }
        if (ticks == 0) ticks = stream->playTicks;
        if (ticks != 0) {
            // The buffer handed over last is what plays now: step back over its music, then move on
            // with the time passed since, never past that music's end; a stalled device no longer
            // holds the clock back.
            double elapsed = double(SDL_GetPerformanceCounter() - ticks) / double(SDL_GetPerformanceFrequency());
            int64_t since = int64_t(elapsed * rate);
            if (elapsed <= stallSeconds) since = std::min(since, lastMusic);
            position += std::max<int64_t>(0, delivered - lastMusic + since);
        }
    }
    int64_t ms = position * 1000 / rate;
    int64_t last = stream->lastReported.load();
    if (ms < last) ms = last;
    stream->lastReported = ms;
    return int(ms);
}

signed char FSOUND_Stream_Stop(FSOUND_STREAM* stream) {
    Sound& s = sound();
    if (!s.initialised || !isOpen(stream)) return 0;
    SDL_LockAudioDevice(s.device);
    if (s.active.load() == stream) s.active = nullptr;
    stream->playing = false;
    SDL_UnlockAudioDevice(s.device);
    return 1;
}

signed char FSOUND_Stream_Close(FSOUND_STREAM* stream) {
    Sound& s = sound();
    if (!isOpen(stream)) return 0;
    FSOUND_Stream_Stop(stream);
    auto it = std::find_if(s.streams.begin(), s.streams.end(), [&](auto& p) { return p.get() == stream; });
    if (it == s.streams.end()) return 0;
    s.streams.erase(it);
    return 1;
}

void FSOUND_Close() {
    Sound& s = sound();
    if (!s.initialised) return;
    SDL_PauseAudioDevice(s.device, 1);
    SDL_LockAudioDevice(s.device);
    s.active = nullptr;
    SDL_UnlockAudioDevice(s.device);
    SDL_CloseAudioDevice(s.device);
    s.device = 0;
    s.streams.clear();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    s.initialised = false;
}

namespace fsound_debug {

void pauseDevice(bool paused) {
    Sound& s = sound();
    if (s.initialised) SDL_PauseAudioDevice(s.device, paused ? 1 : 0);
}

}  // namespace fsound_debug
