// "kaldra.mp3": the music, synthesised note by note and encoded with LAME.
//
// 120 beats per minute: a beat is 0.5 s, a bar 2 s, and every section boundary of the show falls on a bar
// line. The score below follows the show's timeline:
//   0-16 s    intro: a hit on every bar from 0 to 14 s (the box jolts), dark pads, ticking hats
//   16 s      the big hit (white flash), then a riser and a snare roll into 18 s
//   18-50 s   biogen: four-on-the-floor groove, a crash on every section change (18, 26, 34, 42),
//             a reverse cymbal in the last second of each section (the glow swells back)
//   50-82 s   plupo: a second theme, crashes at 50, 58, 66, 74; drums leave at 80 (fade to black)
//   82-98 s   corrosion: the calm part, bells and pads, a riser from 96 s into the white fade at 98 s
//   98-130 s  greetings: a stab, a clap and a kick on each of the 48 beat times of the greetings scene
//   130-140 s outro: a last chord that fades out after 136 s
// The synthesis is single-threaded, seeded with constants and rounded explicitly to 16 bits, so the
// same program writes the same bytes.
#include <lame/lame.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <vector>

#include "assets/generator.h"
#include "assets/image.h"

namespace gen {

namespace {

constexpr int sampleRate = 44100;
constexpr double lengthSeconds = 140.0;
constexpr int totalSamples = int(lengthSeconds * sampleRate);
constexpr float pi = 3.14159265358979f;
constexpr float twoPi = 2.0f * pi;
constexpr float beat = 0.5f, bar = 2.0f, sixteenth = 0.125f;

int toSample(double seconds) {
    return int(std::floor(seconds * sampleRate + 0.5));
}
float midiHz(float note) {
    return 440.0f * std::pow(2.0f, (note - 69.0f) / 12.0f);
}

struct Bus {
    std::vector<float> l, r;
    Bus() : l(totalSamples, 0.0f), r(totalSamples, 0.0f) {}
    void add(int i, float left, float right) {
        if (i < 0 || i >= totalSamples) return;
        l[size_t(i)] += left;
        r[size_t(i)] += right;
    }
};

struct Pan {
    float gl, gr;
    explicit Pan(float pan)
        : gl(std::cos((pan + 1.0f) * pi * 0.25f)), gr(std::sin((pan + 1.0f) * pi * 0.25f)) {}
};

// Trapezoidal state-variable filter (low, band and high outputs).
struct Svf {
    float ic1 = 0, ic2 = 0, a1 = 0, a2 = 0, a3 = 0, k = 2;
    void set(float cutoff, float resonance) {
        float g = std::tan(pi * std::min(cutoff, 0.45f * sampleRate) / float(sampleRate));
        k = 2.0f - 2.0f * resonance;
        a1 = 1.0f / (1.0f + g * (g + k));
        a2 = g * a1;
        a3 = g * a2;
    }
    float low = 0, band = 0, high = 0;
    void run(float x) {
        float v3 = x - ic2, v1 = a1 * ic1 + a2 * v3, v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2 * v1 - ic1;
        ic2 = 2 * v2 - ic2;
        low = v2;
        band = v1;
        high = x - k * v1 - v2;
    }
};

float polyBlep(float t, float dt) {
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0f;
    }
    if (t > 1.0f - dt) {
        t = (t - 1.0f) / dt;
        return t * t + t + t + 1.0f;
    }
    return 0.0f;
}

struct Saw {
    float phase = 0;
    float next(float hz) {
        float dt = hz / float(sampleRate);
        float v = 2.0f * phase - 1.0f - polyBlep(phase, dt);
        phase += dt;
        if (phase >= 1.0f) phase -= 1.0f;
        return v;
    }
};

struct Square {
    float phase = 0;
    float next(float hz) {
        float dt = hz / float(sampleRate);
        float v = (phase < 0.5f ? 1.0f : -1.0f) + polyBlep(phase, dt);
        float t2 = phase + 0.5f;
        if (t2 >= 1.0f) t2 -= 1.0f;
        v -= polyBlep(t2, dt);
        phase += dt;
        if (phase >= 1.0f) phase -= 1.0f;
        return v;
    }
};

float noise(Rng& rng) {
    return rng.uniform() * 2.0f - 1.0f;
}

// The last 10 ms of a sound of n samples fade to zero, so no sound ends with a click.
float endFade(int i, int n) {
    return std::min(1.0f, float(n - i) / 441.0f);
}

// ---------------------------------------------------------------------------------------------------
// The mix: drums and effects dry, bass and synths ducked by the kick, two sends.

struct Mix {
    // Two sums keep the memory down (a stereo bus of the whole piece is 49 MB): the dry one for drums
    // and effects, the pumped one for bass and synths, which the kick ducks.
    Bus dry, pumped, reverbSend, delaySend;
    Bus& drums = dry;
    Bus& fx = dry;
    Bus& bass = pumped;
    Bus& synths = pumped;
    std::vector<float> duck = std::vector<float>(totalSamples, 1.0f);
    uint32_t seed = 1;
    Rng rngFor() { return Rng(seed++); }
};

void duckAt(Mix& m, float t, float depth) {
    int s0 = toSample(t);
    for (int i = 0; i < toSample(0.35); ++i) {
        int s = s0 + i;
        if (s >= totalSamples) break;
        float tau = float(i) / sampleRate;
        float env = tau < 0.004f ? tau / 0.004f : std::exp(-(tau - 0.004f) / 0.09f);
        m.duck[size_t(s)] = std::min(m.duck[size_t(s)], 1.0f - depth * env);
    }
}

// ---------------------------------------------------------------------------------------------------
// Drums.

void kick(Mix& m, float t, float gain, bool duck = true) {
    Rng rng = m.rngFor();
    int s0 = toSample(t), n = toSample(0.5);
    float phase = 0;
    for (int i = 0; i < n; ++i) {
        float tau = float(i) / sampleRate;
        float hz = 44.0f + 120.0f * std::exp(-tau / 0.03f) + 40.0f * std::exp(-tau / 0.006f);
        phase += twoPi * hz / sampleRate;
        float body = std::sin(phase) * std::exp(-tau / 0.3f) * std::min(1.0f, tau / 0.0008f + 0.3f);
        float click = noise(rng) * std::exp(-tau / 0.0025f) * 0.35f;
        float v = std::tanh((body + click) * 1.6f) * gain * endFade(i, n);
        m.drums.add(s0 + i, v, v);
    }
    if (duck) duckAt(m, t, 0.55f);
}

void snare(Mix& m, float t, float gain, float decay = 0.14f) {
    Rng rng = m.rngFor();
    int s0 = toSample(t), n = toSample(0.45);
    Svf hl, hr;
    hl.set(1800, 0.2f);
    hr.set(1800, 0.2f);
    for (int i = 0; i < n; ++i) {
        float tau = float(i) / sampleRate;
        float tone = (std::sin(twoPi * 185.0f * tau) * 0.55f + std::sin(twoPi * 330.0f * tau) * 0.25f) *
                     std::exp(-tau / 0.05f);
        hl.run(noise(rng));
        hr.run(noise(rng));
        float env = std::exp(-tau / decay) * endFade(i, n);
        float l = (tone + (hl.high + hl.band * 0.5f) * env * 0.8f) * gain;
        float r = (tone + (hr.high + hr.band * 0.5f) * env * 0.8f) * gain;
        m.drums.add(s0 + i, l, r);
        m.reverbSend.add(s0 + i, l * 0.25f, r * 0.25f);
    }
}

void clap(Mix& m, float t, float gain) {
    Rng rng = m.rngFor();
    int s0 = toSample(t), n = toSample(0.4);
    Svf bl, br;
    bl.set(1400, 0.45f);
    br.set(1500, 0.45f);
    for (int i = 0; i < n; ++i) {
        float tau = float(i) / sampleRate;
        float env = 0;
        for (float start : {0.0f, 0.011f, 0.022f})
            if (tau >= start && tau < start + 0.011f) env = std::max(env, std::exp(-(tau - start) / 0.004f));
        if (tau >= 0.031f) env = std::exp(-(tau - 0.031f) / 0.12f) * endFade(i, n);
        bl.run(noise(rng));
        br.run(noise(rng));
        float l = bl.band * env * gain * 1.6f, r = br.band * env * gain * 1.6f;
        m.drums.add(s0 + i, l, r);
        m.reverbSend.add(s0 + i, l * 0.35f, r * 0.35f);
    }
}

// Metallic source for hats and cymbals: six detuned square waves plus noise, high-passed.
void metal(Mix& m, float t, float gain, float decay, float length, float cutoff, float pan, float attack,
           Bus* target, float reverb) {
    Rng rng = m.rngFor();
    const float ratios[6] = {2.0f, 3.0f, 4.16f, 5.43f, 6.79f, 8.21f};
    Square osc[6];
    int s0 = toSample(t), n = toSample(length);
    Svf hp1, hp2;
    hp1.set(cutoff, 0.1f);
    hp2.set(cutoff * 0.8f, 0.1f);
    Pan p(pan);
    for (int i = 0; i < n; ++i) {
        float tau = float(i) / sampleRate;
        float src = 0;
        for (int k = 0; k < 6; ++k) src += osc[k].next(147.0f * ratios[k]);
        hp1.run(src * 0.12f + noise(rng) * 0.5f);
        float a = hp1.high;
        hp2.run(noise(rng));
        float b = hp2.high;
        float env =
            std::exp(-tau / decay) * (attack > 0 ? std::min(1.0f, tau / attack) : 1.0f) * endFade(i, n);
        float l = (a * 0.8f + b * 0.4f) * env * gain * p.gl, r = (a * 0.4f + b * 0.8f) * env * gain * p.gr;
        target->add(s0 + i, l, r);
        if (reverb > 0) m.reverbSend.add(s0 + i, l * reverb, r * reverb);
    }
}

void hat(Mix& m, float t, float gain, bool open = false) {
    metal(m, t, gain, open ? 0.16f : 0.028f, open ? 0.5f : 0.12f, 7500.0f, open ? 0.25f : -0.2f, 0.0f,
          &m.drums, 0.05f);
}

// Five seconds long: the ring has decayed to 1 % before the sound ends.
void crash(Mix& m, float t, float gain) {
    metal(m, t, gain, 1.1f, 5.0f, 3800.0f, 0.0f, 0.0f, &m.fx, 0.4f);
}

// A cymbal played backwards: swells up to `end` and stops there.
void reverseCymbal(Mix& m, float end, float length, float gain) {
    Rng rng = m.rngFor();
    int s1 = toSample(end), n = toSample(length);
    Svf hl, hr;
    hl.set(4000, 0.1f);
    hr.set(4200, 0.1f);
    for (int i = 0; i < n; ++i) {
        float left = float(n - i) / sampleRate;  // seconds before the end
        float env = std::exp(-left / (length * 0.35f));
        hl.run(noise(rng));
        hr.run(noise(rng));
        m.fx.add(s1 - n + i, hl.high * env * gain, hr.high * env * gain);
        m.reverbSend.add(s1 - n + i, hl.high * env * gain * 0.3f, hr.high * env * gain * 0.3f);
    }
}

// Noise through a band-pass sweeping up from 300 Hz to 9 kHz, growing towards `end`, plus a rising tone.
void riser(Mix& m, float start, float end, float gain) {
    Rng rng = m.rngFor();
    int s0 = toSample(start), n = toSample(end) - s0;
    Svf fl, fr;
    Saw tone, tone2;
    for (int i = 0; i < n; ++i) {
        float x = float(i) / float(n);
        if (i % 16 == 0) {
            float hz = 300.0f * std::pow(30.0f, x);
            fl.set(hz, 0.55f + 0.3f * x);
            fr.set(hz * 1.06f, 0.55f + 0.3f * x);
        }
        fl.run(noise(rng));
        fr.run(noise(rng));
        float env = x * x * gain;
        float pitch = midiHz(45.0f + 24.0f * x * x);
        float t = (tone.next(pitch) + tone2.next(pitch * 1.007f)) * 0.08f * x;
        m.fx.add(s0 + i, (fl.band + t) * env, (fr.band + t) * env);
        m.reverbSend.add(s0 + i, fl.band * env * 0.3f, fr.band * env * 0.3f);
    }
}

// The reverse: noise sweeping down from 6 kHz, fading out.
void downlifter(Mix& m, float start, float length, float gain) {
    Rng rng = m.rngFor();
    int s0 = toSample(start), n = toSample(length);
    Svf fl, fr;
    for (int i = 0; i < n; ++i) {
        float x = float(i) / float(n);
        if (i % 16 == 0) {
            fl.set(6000.0f * std::pow(0.04f, x), 0.6f);
            fr.set(6300.0f * std::pow(0.04f, x), 0.6f);
        }
        fl.run(noise(rng));
        fr.run(noise(rng));
        float env = (1.0f - x) * (1.0f - x) * gain;
        m.fx.add(s0 + i, fl.band * env, fr.band * env);
        m.reverbSend.add(s0 + i, fl.band * env * 0.5f, fr.band * env * 0.5f);
    }
}

// A tom: a sine falling a fifth, with a little noise on the attack.
void tom(Mix& m, float t, float note, float gain, float pan) {
    Rng rng = m.rngFor();
    int s0 = toSample(t), n = toSample(0.45);
    Pan p(pan);
    float phase = 0, hz = midiHz(note);
    for (int i = 0; i < n; ++i) {
        float tau = float(i) / sampleRate;
        phase += twoPi * hz * (1.0f + 0.5f * std::exp(-tau / 0.04f)) / sampleRate;
        float v = (std::sin(phase) * std::exp(-tau / 0.16f) + noise(rng) * 0.3f * std::exp(-tau / 0.01f)) *
                  gain * std::min(1.0f, tau / 0.001f) * endFade(i, n);
        m.drums.add(s0 + i, v * p.gl, v * p.gr);
        m.reverbSend.add(s0 + i, v * p.gl * 0.3f, v * p.gr * 0.3f);
    }
}

void snareRoll(Mix& m, float start, float end, float gain) {
    // Eighths, then sixteenths, then thirty-seconds in the last quarter, rising in level.
    float t = start;
    while (t < end - 1e-4f) {
        float x = (t - start) / (end - start);
        snare(m, t, gain * (0.25f + 0.75f * x * x), 0.09f);
        float step = x < 0.25f ? beat * 0.5f : (x < 0.75f ? sixteenth : sixteenth * 0.5f);
        t += step;
    }
}

// ---------------------------------------------------------------------------------------------------
// Tonal instruments.

// An FM bell or clang: carrier `hz`, modulator at `ratio`, index decaying.
void bell(Mix& m, float t, float hz, float ratio, float index, float decay, float gain, float pan,
          Bus* target, float reverb, float delay = 0.0f) {
    int s0 = toSample(t), n = toSample(std::min(6.0f, decay * 5.0f));
    Pan p(pan);
    for (int i = 0; i < n; ++i) {
        float tau = float(i) / sampleRate;
        float idx = index * std::exp(-tau / (decay * 0.4f));
        float v = std::sin(twoPi * hz * tau + idx * std::sin(twoPi * hz * ratio * tau)) *
                  std::exp(-tau / decay) * std::min(1.0f, tau / 0.002f) * gain * endFade(i, n);
        target->add(s0 + i, v * p.gl, v * p.gr);
        if (reverb > 0) m.reverbSend.add(s0 + i, v * p.gl * reverb, v * p.gr * reverb);
        if (delay > 0) m.delaySend.add(s0 + i, v * p.gl * delay, v * p.gr * delay);
    }
}

// The box hit of the intro: kick, a low boom and a metal clang.
void boxHit(Mix& m, float t, float clangNote, float gain) {
    kick(m, t, 0.95f * gain, false);
    int s0 = toSample(t), n = toSample(1.8);
    float phase = 0;
    for (int i = 0; i < n; ++i) {
        float tau = float(i) / sampleRate;
        phase += twoPi * (38.0f + 30.0f * std::exp(-tau / 0.25f)) / sampleRate;
        float v = std::sin(phase) * std::exp(-tau / 0.55f) * 0.5f * gain * std::min(1.0f, tau / 0.003f) *
                  endFade(i, n);
        m.drums.add(s0 + i, v, v);
    }
    bell(m, t, midiHz(clangNote), 1.414f, 3.0f, 0.45f, 0.16f * gain, -0.3f, &m.fx, 0.5f, 0.25f);
    bell(m, t, midiHz(clangNote + 7.0f), 2.76f, 2.0f, 0.3f, 0.08f * gain, 0.4f, &m.fx, 0.5f, 0.25f);
    metal(m, t, 0.22f * gain, 0.35f, 1.2f, 5000.0f, 0.0f, 0.0f, &m.fx, 0.3f);
}

void bassNote(Mix& m, float t, float length, float note, float gain, float bright = 1.0f) {
    int s0 = toSample(t), n = toSample(length);
    int tail = toSample(0.02);
    Saw saw;
    Square sub;
    Svf f;
    float hz = midiHz(note);
    for (int i = 0; i < n + tail; ++i) {
        float tau = float(i) / sampleRate;
        if (i % 8 == 0) f.set((160.0f + 1600.0f * bright * std::exp(-tau / 0.09f)), 0.35f);
        float env = std::min(1.0f, tau / 0.003f) * (i < n ? 1.0f : 1.0f - float(i - n) / float(tail));
        f.run(saw.next(hz) * 0.7f + sub.next(hz * 0.5f) * 0.45f);
        float v = std::tanh(f.low * 1.8f) * env * gain;
        m.bass.add(s0 + i, v, v);
    }
}

// A pad chord: five detuned saws per note, spread across the stereo field, through a slowly breathing
// low-pass; soft attack and release.
void padChord(Mix& m, float t, float length, const std::vector<float>& notes, float gain,
              float cutoff = 1400.0f, float attack = 0.4f) {
    const float detune[5] = {-0.13f, -0.06f, 0.0f, 0.07f, 0.12f};
    const Pan pans[5] = {Pan(-0.8f), Pan(-0.35f), Pan(0.0f), Pan(0.4f), Pan(0.85f)};
    int s0 = toSample(t), n = toSample(length), release = toSample(0.9);
    int v = 0;
    for (float note : notes) {
        Saw saws[5];
        float hz[5];
        for (int k = 0; k < 5; ++k) {
            saws[k].phase = float((int(note) * 7 + k * 37) % 100) / 100.0f;
            hz[k] = midiHz(note + detune[k]);
        }
        Svf fl, fr;
        for (int i = 0; i < n + release; ++i) {
            float tau = float(i) / sampleRate;
            if (i % 16 == 0) {
                float c = cutoff * (1.0f + 0.35f * std::sin(twoPi * 0.23f * (t + tau) + float(v)));
                fl.set(c, 0.2f);
                fr.set(c * 1.03f, 0.2f);
            }
            float l = 0, r = 0;
            for (int k = 0; k < 5; ++k) {
                float s = saws[k].next(hz[k]);
                l += s * pans[k].gl;
                r += s * pans[k].gr;
            }
            float env = std::min(1.0f, tau / attack) *
                        (i < n ? 1.0f : std::exp(-float(i - n) / (0.25f * sampleRate))) *
                        endFade(i, n + release);
            fl.run(l);
            fr.run(r);
            m.synths.add(s0 + i, fl.low * env * gain * 0.2f, fr.low * env * gain * 0.2f);
            m.reverbSend.add(s0 + i, fl.low * env * gain * 0.06f, fr.low * env * gain * 0.06f);
        }
        ++v;
    }
}

void pluck(Mix& m, float t, float note, float gain, float pan, float bright = 1.0f) {
    int s0 = toSample(t), n = toSample(0.4);
    Saw saw;
    Square sq;
    Svf f;
    Pan p(pan);
    float hz = midiHz(note);
    for (int i = 0; i < n; ++i) {
        float tau = float(i) / sampleRate;
        if (i % 8 == 0) f.set(250.0f + 4200.0f * bright * std::exp(-tau / 0.045f), 0.3f);
        f.run(saw.next(hz) * 0.6f + sq.next(hz * 1.003f) * 0.4f);
        float v = f.low * std::exp(-tau / 0.16f) * std::min(1.0f, tau / 0.002f) * gain * endFade(i, n);
        m.synths.add(s0 + i, v * p.gl, v * p.gr);
        m.delaySend.add(s0 + i, v * p.gl * 0.45f, v * p.gr * 0.45f);
    }
}

void leadNote(Mix& m, float t, float length, float note, float gain) {
    int s0 = toSample(t), n = toSample(length), release = toSample(0.12);
    Saw a, b;
    Square c;
    Svf f;
    const float base = midiHz(note);
    for (int i = 0; i < n + release; ++i) {
        float tau = float(i) / sampleRate;
        float vib =
            1.0f + 0.004f * std::sin(twoPi * 5.5f * tau) * std::min(1.0f, std::max(0.0f, tau - 0.2f) * 3.0f);
        float hz = base * vib;
        if (i % 8 == 0) f.set(1800.0f + 2200.0f * std::exp(-tau / 0.25f), 0.3f);
        f.run(a.next(hz) * 0.5f + b.next(hz * 1.006f) * 0.5f + c.next(hz * 0.5f) * 0.3f);
        float env = std::min(1.0f, tau / 0.012f) * (i < n ? 1.0f : 1.0f - float(i - n) / float(release));
        float v = f.low * env * gain;
        m.synths.add(s0 + i, v * 0.9f, v);
        m.delaySend.add(s0 + i, v * 0.35f, v * 0.35f);
        m.reverbSend.add(s0 + i, v * 0.2f, v * 0.2f);
    }
}

// A short bright chord for the greetings accents.
void stab(Mix& m, float t, const std::vector<float>& notes, float gain) {
    int s0 = toSample(t), n = toSample(0.7);
    for (float note : notes) {
        Saw s1, s2, s3;
        Svf fl, fr;
        const float hz = midiHz(note);
        for (int i = 0; i < n; ++i) {
            float tau = float(i) / sampleRate;
            if (i % 8 == 0) {
                float c = 400.0f + 6000.0f * std::exp(-tau / 0.08f);
                fl.set(c, 0.35f);
                fr.set(c * 1.05f, 0.35f);
            }
            float a = s1.next(hz * 0.996f), b = s2.next(hz * 1.004f), c = s3.next(hz * 2.0f);
            fl.run(a + c * 0.3f);
            fr.run(b + c * 0.3f);
            float env = std::exp(-tau / 0.18f) * std::min(1.0f, tau / 0.002f) * gain * 0.3f * endFade(i, n);
            m.fx.add(s0 + i, fl.low * env, fr.low * env);
            m.reverbSend.add(s0 + i, fl.low * env * 0.4f, fr.low * env * 0.4f);
            m.delaySend.add(s0 + i, fl.low * env * 0.2f, fr.low * env * 0.2f);
        }
    }
}

// A deep drop under the big hit: a sine falling from 90 to 30 Hz.
void subDrop(Mix& m, float t, float length, float gain) {
    int s0 = toSample(t), n = toSample(length);
    float phase = 0;
    for (int i = 0; i < n; ++i) {
        float x = float(i) / float(n);
        phase += twoPi * (30.0f + 60.0f * (1.0f - x) * (1.0f - x)) / sampleRate;
        float v = std::sin(phase) * (1.0f - x) * std::min(1.0f, float(i) / 200.0f) * gain;
        m.drums.add(s0 + i, v, v);
    }
}

// ---------------------------------------------------------------------------------------------------
// Effects on the sends.

void applyDelay(Mix& m, Bus& out) {
    const int d = toSample(0.375);  // dotted eighth
    std::vector<float> bl(size_t(d), 0.0f), br(size_t(d), 0.0f);
    float lpL = 0, lpR = 0;
    for (int i = 0; i < totalSamples; ++i) {
        size_t k = size_t(i % d);
        float yl = bl[k], yr = br[k];
        lpL += 0.35f * (yl - lpL);
        lpR += 0.35f * (yr - lpR);
        // Ping-pong: each side feeds the other.
        bl[k] = m.delaySend.l[size_t(i)] + lpR * 0.42f;
        br[k] = m.delaySend.r[size_t(i)] * 0.6f + lpL * 0.42f;
        out.add(i, yl * 0.6f, yr * 0.6f);
        m.reverbSend.add(i, yl * 0.15f, yr * 0.15f);
    }
}

struct Comb {
    std::vector<float> buf;
    size_t pos = 0;
    float store = 0;
    explicit Comb(int n) : buf(size_t(n), 0.0f) {}
    float run(float x, float feedback, float damp) {
        float y = buf[pos];
        store = y * (1 - damp) + store * damp;
        buf[pos] = x + store * feedback;
        if (++pos == buf.size()) pos = 0;
        return y;
    }
};

struct Allpass {
    std::vector<float> buf;
    size_t pos = 0;
    explicit Allpass(int n) : buf(size_t(n), 0.0f) {}
    float run(float x) {
        float b = buf[pos];
        buf[pos] = x + b * 0.5f;
        if (++pos == buf.size()) pos = 0;
        return b - x;
    }
};

void applyReverb(const Bus& send, Bus& out) {
    const int combs[8] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
    const int allpasses[4] = {556, 441, 341, 225};
    const int spread = 23;
    std::vector<Comb> cl, cr;
    std::vector<Allpass> al, ar;
    for (int c : combs) cl.emplace_back(c), cr.emplace_back(c + spread);
    for (int a : allpasses) al.emplace_back(a), ar.emplace_back(a + spread);
    for (int i = 0; i < totalSamples; ++i) {
        float in = (send.l[size_t(i)] + send.r[size_t(i)]) * 0.015f;
        float l = 0, r = 0;
        for (size_t k = 0; k < 8; ++k) {
            l += cl[k].run(in, 0.86f, 0.3f);
            r += cr[k].run(in, 0.86f, 0.3f);
        }
        for (size_t k = 0; k < 4; ++k) {
            l = al[k].run(l);
            r = ar[k].run(r);
        }
        out.add(i, l, r);
    }
}

// ---------------------------------------------------------------------------------------------------
// The score.

struct Chord {
    float root;              // bass note
    std::vector<float> pad;  // pad voicing
};

const Chord Am{45, {57, 60, 64}}, F{41, {53, 57, 60, 64}}, C{48, {55, 60, 64}}, G{43, {55, 59, 62}},
    Em{40, {52, 55, 59, 62}}, E{40, {52, 56, 59, 64}}, Dm9{38, {50, 53, 57, 64}}, Fmaj7{41, {53, 57, 60, 64}},
    Em7{40, {52, 55, 59, 62}}, Am9{45, {57, 60, 64, 71}}, Esus{40, {52, 57, 59, 64}};

void pad(Mix& m, float t, float length, const Chord& c, float gain, float cutoff = 1400.0f,
         float attack = 0.4f) {
    padChord(m, t, length, c.pad, gain, cutoff, attack);
}

void arp(Mix& m, float t, float length, const Chord& c, float gain, float bright) {
    std::vector<float> notes;
    for (float n : c.pad) notes.push_back(n + 12.0f);
    notes.push_back(c.pad.front() + 24.0f);
    const int order[8] = {0, 1, 2, 3, 2, 1, 3, 1};
    int steps = int(std::floor(length / sixteenth + 0.5f));
    for (int k = 0; k < steps; ++k) {
        float note = notes[size_t(order[k % 8]) % notes.size()];
        pluck(m, t + float(k) * sixteenth, note, gain * (k % 4 == 0 ? 1.0f : 0.75f), (k % 2 ? 0.45f : -0.45f),
              bright);
    }
}

struct MelodyNote {
    float beatPos, beats, note;
};

void melody(Mix& m, float t, const std::vector<MelodyNote>& notes, float gain) {
    for (const MelodyNote& n : notes) leadNote(m, t + n.beatPos * beat, n.beats * beat * 0.92f, n.note, gain);
}

const std::vector<MelodyNote> themeA = {
    {0, 1.5f, 76},    {1.5f, 0.5f, 74},  {2, 1, 72},  {3, 0.5f, 71}, {3.5f, 0.5f, 72}, {4, 1.5f, 69},
    {5.5f, 0.5f, 72}, {6, 1, 77},        {7, 1, 76},  {8, 1.5f, 76}, {9.5f, 0.5f, 79}, {10, 1, 76},
    {11, 0.5f, 74},   {11.5f, 0.5f, 72}, {12, 2, 74}, {14, 1, 71},   {15, 1, 67}};
const std::vector<MelodyNote> themeA2 = {
    {0, 1.5f, 76},    {1.5f, 0.5f, 74},  {2, 1, 72},  {3, 0.5f, 71},  {3.5f, 0.5f, 72},  {4, 1.5f, 69},
    {5.5f, 0.5f, 72}, {6, 1, 77},        {7, 1, 79},  {8, 1.5f, 79},  {9.5f, 0.5f, 81},  {10, 1, 79},
    {11, 0.5f, 76},   {11.5f, 0.5f, 79}, {12, 1, 74}, {13, 0.5f, 71}, {13.5f, 0.5f, 74}, {14, 2, 76}};
const std::vector<MelodyNote> themeB = {{0, 1, 72},       {1, 0.5f, 69},  {1.5f, 0.5f, 72},  {2, 1.5f, 77},
                                        {3.5f, 0.5f, 76}, {4, 1, 74},     {5, 0.5f, 71},     {5.5f, 0.5f, 74},
                                        {6, 2, 79},       {8, 1, 79},     {9, 1, 76},        {10, 1, 71},
                                        {11, 1, 76},      {12, 1.5f, 72}, {13.5f, 0.5f, 71}, {14, 2, 69}};
const std::vector<MelodyNote> themeC = {{0, 1, 76},  {1, 1, 81},  {2, 0.5f, 79},  {2.5f, 1.5f, 76},
                                        {4, 1, 74},  {5, 1, 79},  {6, 0.5f, 77},  {6.5f, 1.5f, 74},
                                        {8, 1, 72},  {9, 1, 77},  {10, 0.5f, 76}, {10.5f, 1.5f, 72},
                                        {12, 1, 71}, {13, 1, 76}, {14, 1, 80},    {15, 1, 83}};

// Rolling bass: three sixteenths after every beat (the kick takes the first).
void rollingBass(Mix& m, float t, const Chord& c, float gain) {
    for (int b = 0; b < 4; ++b)
        for (int k = 1; k < 4; ++k) {
            float note = c.root + ((b == 3 && k == 3) ? 12.0f : 0.0f);
            bassNote(m, t + float(b) * beat + float(k) * sixteenth, sixteenth * 0.85f, note,
                     gain * (k == 2 ? 1.0f : 0.85f));
        }
}

void syncopatedBass(Mix& m, float t, const Chord& c, float gain) {
    const int steps[7] = {0, 3, 6, 8, 10, 11, 14};
    const float offsets[7] = {0, 0, 12, 0, 7, 12, 0};
    for (int k = 0; k < 7; ++k)
        bassNote(m, t + float(steps[k]) * sixteenth, sixteenth * (k == 6 ? 1.8f : 0.9f), c.root + offsets[k],
                 gain, 0.8f);
}

void offbeatBass(Mix& m, float t, const Chord& c, float gain) {
    for (int b = 0; b < 4; ++b)
        bassNote(m, t + float(b) * beat + beat * 0.5f, beat * 0.42f, c.root, gain, 1.2f);
}

void grooveDrums(Mix& m, float t, float hatGain, bool openHats, bool claps) {
    for (int b = 0; b < 4; ++b) {
        float tb = t + float(b) * beat;
        kick(m, tb, 0.9f);
        if (claps && (b == 1 || b == 3)) clap(m, tb, 0.5f);
        for (int k = 0; k < 4; ++k)
            hat(m, tb + float(k) * sixteenth, hatGain * (k == 2 ? 1.0f : (k == 0 ? 0.5f : 0.7f)));
        if (openHats) hat(m, tb + beat * 0.5f, hatGain * 0.8f, true);
    }
}

void compose(Mix& m) {
    // 0-16 s: intro. A hit on every bar from 0 to 14 s; pads Am F C G, four seconds each.
    const float clangs[8] = {57, 52, 53, 48, 60, 55, 59, 55};
    for (int n = 0; n < 8; ++n) boxHit(m, float(n) * bar, clangs[n], n == 0 ? 1.15f : 1.0f);
    const Chord* introChords[4] = {&Am, &F, &C, &G};
    for (int k = 0; k < 4; ++k) {
        pad(m, float(k) * 4.0f, 4.0f, *introChords[k], 0.8f, 500.0f + 250.0f * float(k),
            k == 0 ? 0.05f : 0.3f);
        bassNote(m, float(k) * 4.0f, 3.8f, introChords[k]->root - 12.0f, 0.35f, 0.2f);
    }
    for (int i = 0; i < 48; ++i) {  // hats ticking from 4 s, denser from 8 s
        float t = 4.0f + float(i) * beat * 0.5f;
        if (t >= 15.0f) break;
        hat(m, t, t < 8.0f ? 0.12f : 0.2f);
        if (t >= 8.0f) hat(m, t + sixteenth, 0.1f);
    }
    for (int n = 4; n < 7; ++n) kick(m, float(n) * bar + 1.0f, 0.5f);  // a second pulse in each bar from 8 s
    for (int w = 1; w <= 3; ++w) reverseCymbal(m, float(w) * 4.0f, 1.6f, 0.12f);  // the words stretch away
    reverseCymbal(m, 16.0f, 1.5f, 0.35f);
    snareRoll(m, 15.0f, 16.0f, 0.35f);

    // 16 s: the big hit (white flash), riser and roll into 18 s.
    kick(m, 16.0f, 1.3f, false);
    boxHit(m, 16.0f, 45.0f, 1.3f);
    subDrop(m, 16.0f, 2.0f, 0.7f);
    crash(m, 16.0f, 0.55f);
    stab(m, 16.0f, {45, 57, 60, 64, 69}, 1.0f);
    pad(m, 16.0f, 2.0f, Am, 0.7f, 900.0f, 0.02f);
    riser(m, 16.2f, 18.0f, 0.5f);
    snareRoll(m, 17.0f, 18.0f, 0.45f);

    // 18-50 s: biogen. Sections of 8 s; chords Am F C G, one bar each.
    const Chord* prog1[4] = {&Am, &F, &C, &G};
    for (int s = 0; s < 4; ++s) {
        float t0 = 18.0f + 8.0f * float(s);
        crash(m, t0, 0.5f);
        for (int b = 0; b < 4; ++b) {
            float tb = t0 + float(b) * bar;
            bool lastBar = (b == 3);
            grooveDrums(m, tb, 0.22f, true, true);
            pad(m, tb, bar, *prog1[b], 0.55f, 1200.0f + 300.0f * float(s));
            rollingBass(m, tb, *prog1[b], 0.5f);
            if (s >= 1) arp(m, tb, bar, *prog1[b], 0.16f, 0.6f + 0.15f * float(s));
            if (lastBar && s < 3) {
                for (int k = 0; k < 4; ++k)
                    snare(m, tb + 1.5f + float(k) * sixteenth, 0.18f + 0.06f * float(k), 0.08f);
            }
        }
        if (s == 2) melody(m, t0, themeA, 0.22f);
        if (s == 3) melody(m, t0, themeA2, 0.24f);
        if (s < 3) reverseCymbal(m, t0 + 8.0f, 1.0f, 0.25f);
    }
    reverseCymbal(m, 50.0f, 1.5f, 0.35f);
    snareRoll(m, 49.0f, 50.0f, 0.4f);
    riser(m, 48.0f, 50.0f, 0.35f);

    // 50-82 s: plupo. Chords F G Em Am; a crash and a flash at each section start.
    const Chord* prog2[4] = {&F, &G, &Em, &Am};
    for (int s = 0; s < 4; ++s) {
        float t0 = 50.0f + 8.0f * float(s);
        crash(m, t0, 0.55f);
        kick(m, t0, 1.0f);
        for (int b = 0; b < 4; ++b) {
            float tb = t0 + float(b) * bar;
            if (tb >= 80.0f) break;
            for (int k = 0; k < 4; ++k) {
                float tk = tb + float(k) * beat;
                if (!(b == 0 && k == 0)) kick(m, tk, 0.9f);
                if (k == 1 || k == 3) {
                    snare(m, tk, 0.42f);
                    clap(m, tk, 0.25f);
                }
                hat(m, tk + beat * 0.5f, 0.22f, true);
                for (int q = 0; q < 4; ++q) hat(m, tk + float(q) * sixteenth, q % 2 ? 0.12f : 0.07f);
            }
            if (b == 3) kick(m, tb + 1.75f, 0.6f);
            if (b == 3 && s < 3) {  // a tom fill into the next section's crash
                const float fill[4] = {52, 48, 45, 40};
                for (int k = 0; k < 4; ++k)
                    tom(m, tb + 1.5f + float(k) * sixteenth, fill[k], 0.5f, 0.5f - 0.33f * float(k));
            }
            pad(m, tb, bar, *prog2[b], 0.55f, 1500.0f);
            syncopatedBass(m, tb, *prog2[b], 0.55f);
            arp(m, tb, bar, *prog2[b], 0.12f, 0.9f);
        }
        if (s == 1 || s == 2) melody(m, t0, themeB, 0.24f);
        if (s == 3) {
            std::vector<MelodyNote> firstHalf(themeB.begin(), themeB.begin() + 9);
            melody(m, t0, firstHalf, 0.24f);
        }
        if (s < 3) reverseCymbal(m, t0 + 8.0f, 0.8f, 0.2f);
    }
    // 80 s: the drums leave with the fade to black; the pad holds and a downlifter leads into the calm.
    crash(m, 80.0f, 0.35f);
    downlifter(m, 80.0f, 2.2f, 0.3f);
    padChord(m, 80.0f, 2.0f, {53, 57, 60, 64, 69}, 0.6f, 900.0f, 0.05f);

    // 82-98 s: the calm part. Pads, a bell arpeggio, a sustained bass, a light shaker later on.
    const Chord* calm[4] = {&Fmaj7, &Em7, &Dm9, &Esus};
    for (int k = 0; k < 4; ++k) {
        float t0 = 82.0f + 4.0f * float(k);
        pad(m, t0, 4.0f, *calm[k], 0.6f, 800.0f, 0.8f);
        bassNote(m, t0, 3.9f, calm[k]->root, 0.35f, 0.1f);
        for (int i = 0; i < 16; ++i) {
            const std::vector<float>& p = calm[k]->pad;
            float note = p[size_t((i * 3) % int(p.size()))] + 12.0f + ((i / 4) % 2 ? 12.0f : 0.0f);
            if (i % 4 == 3) continue;
            bell(m, t0 + float(i) * beat * 0.5f, midiHz(note), 3.5f, 1.2f, 0.6f, 0.07f,
                 (i % 2 ? 0.5f : -0.5f), &m.synths, 0.6f, 0.4f);
        }
        if (t0 >= 86.0f)
            for (int i = 0; i < 32; ++i) hat(m, t0 + float(i) * sixteenth, i % 2 ? 0.05f : 0.03f);
        if (t0 >= 90.0f) {
            kick(m, t0, 0.45f);
            kick(m, t0 + 2.0f, 0.45f);
        }
    }
    riser(m, 96.0f, 98.0f, 0.45f);
    snareRoll(m, 97.0f, 98.0f, 0.4f);
    reverseCymbal(m, 98.0f, 1.5f, 0.3f);

    // 98-130 s: greetings. Chords Am G F E; the 48 beat accents; lead from 114 s.
    const Chord* prog3[4] = {&Am, &G, &F, &E};
    const float accents[12] = {0, 500, 1125, 1500, 2500, 3125, 3500, 3750, 4500, 5125, 5500, 6500};
    for (int s = 0; s < 4; ++s) {
        float t0 = 98.0f + 8.0f * float(s);
        crash(m, t0, 0.4f);
        for (int b = 0; b < 4; ++b) {
            float tb = t0 + float(b) * bar;
            grooveDrums(m, tb, 0.2f, s >= 1, false);
            pad(m, tb, bar, *prog3[b], 0.5f, 1300.0f + 200.0f * float(s));
            offbeatBass(m, tb, *prog3[b], 0.55f);
            if (s >= 1) arp(m, tb, bar, *prog3[b], 0.1f, 0.8f);
        }
        for (float off : accents) {
            float t = t0 + off / 1000.0f;
            const Chord& c = *prog3[int(off / 2000.0f)];
            std::vector<float> notes = c.pad;
            float top = notes.back() + 12.0f;
            stab(m, t, {c.root + 12.0f, notes[0] + 12.0f, notes[1] + 12.0f, notes[2] + 12.0f, top}, 1.4f);
            clap(m, t, 0.8f);
            if (std::fmod(off, 500.0f) != 0.0f)
                kick(m, t, 0.7f);  // off the beat: add the kick the groove lacks
            metal(m, t, 0.25f, 0.1f, 0.4f, 6000.0f, 0.3f, 0.0f, &m.fx, 0.2f);
        }
        if (s == 2) melody(m, t0, themeC, 0.2f);
        if (s == 3) melody(m, t0, themeC, 0.24f);
    }
    snareRoll(m, 129.0f, 130.0f, 0.35f);

    // 130-140 s: outro. A last hit and chord, the theme's echo, then the fade after 136 s.
    crash(m, 130.0f, 0.5f);
    boxHit(m, 130.0f, 57.0f, 1.0f);
    padChord(m, 130.0f, 9.0f, {45, 57, 60, 64, 71}, 0.6f, 1100.0f, 0.05f);
    bassNote(m, 130.0f, 6.0f, 33.0f, 0.4f, 0.1f);
    melody(m, 130.0f, {{1, 1, 76}, {2, 1, 74}, {3, 1, 72}, {4, 3, 69}}, 0.18f);
    for (int i = 0; i < 8; ++i)
        bell(m, 132.0f + float(i) * 0.5f,
             midiHz(float(std::vector<int>{81, 76, 72, 69, 76, 72, 69, 64}[size_t(i)])), 3.5f, 1.0f, 0.8f,
             0.05f, i % 2 ? 0.5f : -0.5f, &m.synths, 0.6f, 0.4f);
}

// ---------------------------------------------------------------------------------------------------

bool encode(const std::vector<short>& pcm, const std::string& path) {
    lame_t lame = lame_init();
    if (!lame) return false;
    lame_set_in_samplerate(lame, sampleRate);
    lame_set_out_samplerate(lame, sampleRate);
    lame_set_num_channels(lame, 2);
    lame_set_mode(lame, JOINT_STEREO);
    lame_set_brate(lame, 192);
    lame_set_VBR(lame, vbr_off);
    lame_set_quality(lame, 5);
    lame_set_bWriteVbrTag(lame, 1);  // the Info/LAME tag: delay and padding, so decoders start at sample 0
    if (lame_init_params(lame) < 0) {
        lame_close(lame);
        return false;
    }
    std::vector<unsigned char> out;
    const int chunk = 8192;
    std::vector<unsigned char> buf(size_t(chunk) * 5 / 4 + 7200);
    int frames = int(pcm.size() / 2);
    for (int i = 0; i < frames; i += chunk) {
        int n = std::min(chunk, frames - i);
        int w = lame_encode_buffer_interleaved(lame, const_cast<short*>(pcm.data() + size_t(i) * 2), n,
                                               buf.data(), int(buf.size()));
        if (w < 0) {
            lame_close(lame);
            return false;
        }
        out.insert(out.end(), buf.begin(), buf.begin() + w);
    }
    int w = lame_encode_flush(lame, buf.data(), int(buf.size()));
    if (w > 0) out.insert(out.end(), buf.begin(), buf.begin() + w);
    unsigned char tag[2048];
    size_t tagSize = lame_get_lametag_frame(lame, tag, sizeof tag);
    lame_close(lame);
    if (tagSize == 0 || tagSize > out.size()) return false;
    std::copy(tag, tag + tagSize, out.begin());  // the placeholder frame at the start becomes the tag
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return (std::fclose(f) == 0) && ok;
}

}  // namespace

bool writeMusic(const std::string& mp3Path) {
    Mix m;
    compose(m);
    Bus master;
    applyDelay(m, master);
    applyReverb(m.reverbSend, master);
    for (Bus* send : {&m.reverbSend, &m.delaySend}) {  // done with: give their memory back
        std::vector<float>().swap(send->l);
        std::vector<float>().swap(send->r);
    }
    // Master: the sum of the buses, bass and synths pumped by the kick, a soft limiter, the final fade
    // from 136 s to the end, then 16-bit samples rounded half away from zero.
    // The limited mix is written back into the master bus, then scaled to the peak and rounded.
    std::vector<float>& l = master.l;
    std::vector<float>& r = master.r;
    float peak = 0;
    for (int i = 0; i < totalSamples; ++i) {
        size_t k = size_t(i);
        float duck = m.duck[k];
        float sl = m.dry.l[k] + master.l[k] + m.pumped.l[k] * duck;
        float sr = m.dry.r[k] + master.r[k] + m.pumped.r[k] * duck;
        float t = float(i) / sampleRate;
        float fade = t < 136.0f ? 1.0f : std::max(0.0f, std::cos((t - 136.0f) / 3.9f * pi * 0.5f));
        // The groove peaks near 2, the big hit at 16 s near 4.5: the limiter only rounds the tallest peaks.
        l[k] = std::tanh(sl * 0.45f) * fade;
        r[k] = std::tanh(sr * 0.45f) * fade;
        peak = std::max(peak, std::max(std::fabs(l[k]), std::fabs(r[k])));
    }
    float scale = peak > 0 ? 0.94f / peak : 1.0f;
    std::vector<short> pcm(size_t(totalSamples) * 2);
    for (int i = 0; i < totalSamples; ++i) {
        for (int c = 0; c < 2; ++c) {
            float v = (c == 0 ? l : r)[size_t(i)] * scale * 32767.0f;
            float rounded = v < 0 ? -std::floor(-v + 0.5f) : std::floor(v + 0.5f);
            pcm[size_t(i) * 2 + size_t(c)] = short(std::max(-32767.0f, std::min(32767.0f, rounded)));
        }
    }
    if (!encode(pcm, mp3Path)) {
        std::fprintf(stderr, "kaldra-assets: cannot encode %s\n", mp3Path.c_str());
        return false;
    }
    return true;
}

}  // namespace gen
