// Shared by the audio device suites: a device on the virtual clock with the
// capture on, buffer making and filling, tones, and measures of the output.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/audio/audio_output.h"
#include "platform/audio/device_probe.h"
#include "platform/audio/dsound.h"
#include "platform/clock.h"

inline HWND FakeWindow() { return reinterpret_cast<HWND>(0x1234); }

inline WAVEFORMATEX Pcm(DWORD rate, WORD channels, WORD bits) {
    WORD align = (WORD)(channels * bits / 8);
    return WAVEFORMATEX{WAVE_FORMAT_PCM, channels, rate, rate * align, align, bits, 0};
}

inline DSBUFFERDESC Desc(DWORD flags, DWORD bytes, WAVEFORMATEX* format) {
    DSBUFFERDESC d{};
    d.dwSize = 36;  // as the engine sets it
    d.dwFlags = flags;
    d.dwBufferBytes = bytes;
    d.lpwfxFormat = format;
    return d;
}

// n frames of a sine at `hz` for a buffer at `rate`, amplitude `amp`, on every channel.
inline std::vector<int16_t> Sine(double hz, DWORD rate, size_t frames, int channels, double amp = 16000.0) {
    std::vector<int16_t> s(frames * channels);
    for (size_t i = 0; i < frames; i++)
        for (int c = 0; c < channels; c++)
            s[i * channels + c] = (int16_t)std::lrint(amp * std::sin(2.0 * M_PI * hz * (double)i / rate));
    return s;
}

// Root mean square of one channel (0 left, 1 right) of interleaved stereo frames.
inline double Rms(const int16_t* frames, size_t from, size_t to, int channel) {
    double sum = 0.0;
    for (size_t i = from; i < to; i++) {
        double v = frames[2 * i + channel];
        sum += v * v;
    }
    return to > from ? std::sqrt(sum / (double)(to - from)) : 0.0;
}

// Frequency of a clean tone on one channel, from its rising zero crossings.
inline double Frequency(const int16_t* frames, size_t from, size_t to, int channel) {
    double first = -1.0, last = -1.0;
    int crossings = 0;
    for (size_t i = from + 1; i < to; i++) {
        double a = frames[2 * (i - 1) + channel], b = frames[2 * i + channel];
        if (a < 0.0 && b >= 0.0) {
            double t = (double)(i - 1) + (-a) / (b - a);
            if (first < 0.0) first = t;
            last = t;
            crossings++;
        }
    }
    if (crossings < 2) return 0.0;
    return (crossings - 1) * (double)kOutputRate / (last - first);
}

// What is left of one channel after taking out the best-fitting sine at hz,
// relative to that sine's RMS: images and noise that resampling added.
inline double Residual(const int16_t* frames, size_t from, size_t to, int channel, double hz) {
    double ss = 0, sc = 0, cc = 0, ys = 0, yc = 0;
    for (size_t i = from; i < to; i++) {
        double w = 2.0 * M_PI * hz * (double)i / kOutputRate, s = std::sin(w), c = std::cos(w);
        double y = frames[2 * i + channel];
        ss += s * s, sc += s * c, cc += c * c, ys += y * s, yc += y * c;
    }
    double det = ss * cc - sc * sc;
    double a = (ys * cc - yc * sc) / det, b = (yc * ss - ys * sc) / det;
    double err = 0.0, fit = 0.0;
    for (size_t i = from; i < to; i++) {
        double w = 2.0 * M_PI * hz * (double)i / kOutputRate;
        double model = a * std::sin(w) + b * std::cos(w);
        double e = frames[2 * i + channel] - model;
        err += e * e;
        fit += model * model;
    }
    return fit > 0.0 ? std::sqrt(err / fit) : 1.0;
}

// A device on the virtual clock with the null output, the cooperative level
// set, the primary buffer and its listener, and the capture on.
class AudioRig : public ::testing::Test {
protected:
    IDirectSound8* ds = nullptr;
    IDirectSoundBuffer* primary = nullptr;
    IDirectSound3DListener* listener = nullptr;

    void SetUp() override {
        Clock_UseVirtual(0);
        DsTest_Reset();
        ASSERT_TRUE(AudioOutput_Open("null"));
        ASSERT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
        ASSERT_EQ(ds->SetCooperativeLevel(FakeWindow(), DSSCL_EXCLUSIVE), DS_OK);
        DSBUFFERDESC d = Desc(DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRL3D, 0, nullptr);
        ASSERT_EQ(ds->CreateSoundBuffer(&d, &primary, nullptr), DS_OK);
        ASSERT_EQ(primary->QueryInterface(IID_IDirectSound3DListener, (void**)&listener), DS_OK);
        AudioOutput_StartCapture();
    }

    void TearDown() override {
        AudioOutput_StopCapture();
        if (listener) listener->Release();
        if (primary) primary->Release();
        if (ds) ds->Release();
        AudioOutput_Close();
        DsTest_Reset();
    }

    IDirectSoundBuffer* Make(DWORD flags, WAVEFORMATEX format, DWORD bytes) {
        DSBUFFERDESC d = Desc(flags, bytes, &format);
        IDirectSoundBuffer* b = nullptr;
        EXPECT_EQ(ds->CreateSoundBuffer(&d, &b, nullptr), DS_OK);
        return b;
    }

    static void Fill(IDirectSoundBuffer* b, const void* data, DWORD bytes, DWORD offset = 0) {
        void *p1, *p2;
        DWORD n1, n2;
        ASSERT_EQ(b->Lock(offset, bytes, &p1, &n1, &p2, &n2, 0), DS_OK);
        std::memcpy(p1, data, n1);
        if (n2) std::memcpy(p2, (const uint8_t*)data + n1, n2);
        ASSERT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);
    }

    // A buffer holding `samples` (16-bit), made and filled.
    IDirectSoundBuffer* MakeFilled(DWORD flags, DWORD rate, WORD channels, const std::vector<int16_t>& samples) {
        DWORD bytes = (DWORD)(samples.size() * 2);
        IDirectSoundBuffer* b = Make(flags, Pcm(rate, channels, 16), bytes);
        if (b) Fill(b, samples.data(), bytes);
        return b;
    }

    static DWORD Status(IDirectSoundBuffer* b) {
        DWORD s = 0;
        EXPECT_EQ(b->GetStatus(&s), DS_OK);
        return s;
    }

    static DWORD PlayCursor(IDirectSoundBuffer* b) {
        DWORD play = 0, write = 0;
        EXPECT_EQ(b->GetCurrentPosition(&play, &write), DS_OK);
        return play;
    }

    static std::vector<int16_t> Captured() {
        size_t n = 0;
        const int16_t* p = AudioOutput_Captured(&n);
        return std::vector<int16_t>(p, p + 2 * n);
    }
};
