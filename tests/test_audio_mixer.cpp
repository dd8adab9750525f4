// What reaches the output: pass-through, volume and pan, resampling, and the
// 3D model's distance gain, balance and Doppler, measured on the capture.
#include "test_audio_helpers.h"

using AudioMixer = AudioRig;

namespace {

std::vector<uint8_t> Noise(size_t bytes, uint32_t seed) {
    std::vector<uint8_t> v(bytes);
    for (uint8_t& x : v) {
        seed = seed * 1664525u + 1013904223u;
        x = (uint8_t)(seed >> 24);
    }
    return v;
}

// Frame i, channel c of a buffer's data, in 16-bit units.
int Expected(const std::vector<uint8_t>& data, WORD channels, WORD bits, size_t i, int c) {
    size_t frames = data.size() / (channels * bits / 8);
    size_t at = (i % frames) * channels + (channels == 2 ? c : 0);
    if (bits == 8) return ((int)data[at] - 128) * 256;
    return (int16_t)(data[2 * at] | (data[2 * at + 1] << 8));
}

}  // namespace

// At 44100 Hz, unity volume and pan 0, a buffer's samples reach the output
// bit for bit (8-bit ones scaled to 16), across the loop point.
TEST_F(AudioMixer, EqualRateUnityGainIsBitExact) {
    struct Case {
        WORD channels, bits;
    };
    for (Case c : {Case{2, 16}, Case{1, 16}, Case{1, 8}, Case{2, 8}}) {
        SCOPED_TRACE(testing::Message() << c.channels << "ch " << c.bits << "bit");
        WAVEFORMATEX f = Pcm(44100, c.channels, c.bits);
        std::vector<uint8_t> data = Noise(997 * f.nBlockAlign, 7u + c.bits + c.channels);
        IDirectSoundBuffer* b = Make(0x400C0, f, (DWORD)data.size());
        Fill(b, data.data(), (DWORD)data.size());
        AudioOutput_StartCapture();
        ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        Clock_Advance(100);
        std::vector<int16_t> out = Captured();
        ASSERT_EQ(out.size(), 4410u * 2);
        size_t mismatches = 0;
        for (size_t i = 0; i < 4410; i++)
            for (int ch = 0; ch < 2; ch++) mismatches += out[2 * i + ch] != Expected(data, c.channels, c.bits, i, ch);
        EXPECT_EQ(mismatches, 0u);
        b->Release();
    }
}

// Voices are summed in float and saturated once, at the output.
TEST_F(AudioMixer, VoicesSumAndSaturateOnce) {
    std::vector<int16_t> high(441 * 2, 30000), low(441 * 2, -30000), small(441 * 2, -12000);
    IDirectSoundBuffer* a = MakeFilled(0x400C0, 44100, 2, high);
    IDirectSoundBuffer* b = MakeFilled(0x400C0, 44100, 2, high);
    IDirectSoundBuffer* c = MakeFilled(0x400C0, 44100, 2, small);
    for (IDirectSoundBuffer* x : {a, b, c}) ASSERT_EQ(x->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    Clock_Advance(5);
    std::vector<int16_t> out = Captured();
    EXPECT_EQ(out[0], 32767);  // 48000: clipped
    ASSERT_EQ(a->Stop(), DS_OK);
    AudioOutput_StartCapture();
    Clock_Advance(5);
    out = Captured();
    EXPECT_EQ(out[0], 18000);  // 30000 - 12000, no clipping of the parts on the way
    IDirectSoundBuffer* d = MakeFilled(0x400C0, 44100, 2, low);
    IDirectSoundBuffer* e = MakeFilled(0x400C0, 44100, 2, low);
    ASSERT_EQ(b->Stop(), DS_OK);
    ASSERT_EQ(d->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    ASSERT_EQ(e->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    AudioOutput_StartCapture();
    Clock_Advance(5);
    out = Captured();
    EXPECT_EQ(out[1], -32768);
    for (IDirectSoundBuffer* x : {a, b, c, d, e}) x->Release();
}

// Volume scales by 10^(v/2000); pan attenuates one side only.
TEST_F(AudioMixer, VolumeAndPanLevels) {
    struct Case {
        LONG volume, pan;
        double left, right;
    };
    const Case cases[] = {
        {0, 0, 1.0, 1.0},                  // mono at pan 0: full on both sides
        {-600, 0, 0.501187, 0.501187},
        {-2000, 0, 0.1, 0.1},
        {-7289, 0, 0.000231, 0.000231},    // the engine's level 9000
        {0, 2000, 0.1, 1.0},
        {0, -600, 1.0, 0.501187},
        {-600, 1000, 0.158489, 0.501187},  // volume and pan multiply
        {0, 10000, 0.0, 1.0},
        {0, -10000, 1.0, 0.0},
        {-10000, 0, 0.0, 0.0},
    };
    std::vector<int16_t> tone = Sine(441, 44100, 4410, 1, 30000.0);
    const double source = Rms(Sine(441, 44100, 4410, 2, 30000.0).data(), 0, 4410, 0);
    IDirectSoundBuffer* b = MakeFilled(0x400C0, 44100, 1, tone);
    ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "volume " << c.volume << " pan " << c.pan);
        ASSERT_EQ(b->SetVolume(c.volume), DS_OK);
        ASSERT_EQ(b->SetPan(c.pan), DS_OK);
        AudioOutput_StartCapture();
        Clock_Advance(100);
        std::vector<int16_t> out = Captured();
        EXPECT_NEAR(Rms(out.data(), 0, 4410, 0), c.left * source, 0.002 * c.left * source + 0.5);
        EXPECT_NEAR(Rms(out.data(), 0, 4410, 1), c.right * source, 0.002 * c.right * source + 0.5);
    }
    b->Release();

    // A stereo buffer keeps its channels apart under pan.
    std::vector<int16_t> stereo(4410 * 2);
    for (size_t i = 0; i < 4410; i++) {
        stereo[2 * i] = tone[i];
        stereo[2 * i + 1] = (int16_t)(tone[i] / 2);
    }
    IDirectSoundBuffer* s = MakeFilled(0x400C0, 44100, 2, stereo);
    ASSERT_EQ(s->SetPan(-2000), DS_OK);
    ASSERT_EQ(s->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    AudioOutput_StartCapture();
    Clock_Advance(100);
    std::vector<int16_t> out = Captured();
    EXPECT_NEAR(Rms(out.data(), 0, 4410, 0), source, 0.002 * source);
    EXPECT_NEAR(Rms(out.data(), 0, 4410, 1), 0.1 * source / 2, 0.01 * source / 2);
    s->Release();
}

// Buffers at other rates play at their own pitch and level, and their cursor
// moves at their rate.
TEST_F(AudioMixer, ResampledTonesKeepFrequencyAndLevel) {
    struct Case {
        DWORD rate;
        double hz;
        WORD channels, bits;
    };
    const Case cases[] = {
        {22050, 441, 1, 16}, {11025, 441, 1, 16}, {48000, 480, 2, 16}, {22050, 441, 2, 8}, {8000, 400, 1, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.channels << "ch " << c.bits << "bit");
        // One second: a whole number of cycles, so the loop is seamless.
        double amp = c.bits == 8 ? 120.0 * 256.0 : 20000.0;
        std::vector<int16_t> tone = Sine(c.hz, c.rate, c.rate, c.channels, amp);
        WAVEFORMATEX f = Pcm(c.rate, c.channels, c.bits);
        std::vector<uint8_t> bytes;
        if (c.bits == 8)
            for (int16_t v : tone) bytes.push_back((uint8_t)(128 + std::lrint(v / 256.0)));
        else
            bytes.assign((const uint8_t*)tone.data(), (const uint8_t*)tone.data() + 2 * tone.size());
        IDirectSoundBuffer* b = Make(0x400C0, f, (DWORD)bytes.size());
        Fill(b, bytes.data(), (DWORD)bytes.size());
        AudioOutput_StartCapture();
        ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        Clock_Advance(1500);
        std::vector<int16_t> out = Captured();
        ASSERT_EQ(out.size(), 66150u * 2);
        for (int ch = 0; ch < 2; ch++) {
            EXPECT_NEAR(Frequency(out.data(), 0, 66150, ch), c.hz, c.hz * 0.001);
            // Linear interpolation loses a little at these tones (0.5% at 441 Hz from 11025 Hz).
            EXPECT_NEAR(Rms(out.data(), 0, 66150, ch), amp / std::sqrt(2.0), amp / std::sqrt(2.0) * 0.01);
            // Interpolated, not held: images stay below -40 dB (a sample-and-hold leaves about -27 dB).
            EXPECT_LT(Residual(out.data(), 0, 66150, ch, c.hz), 0.01);
        }
        EXPECT_EQ(PlayCursor(b), c.rate / 2 * f.nBlockAlign);  // 1.5 s into a 1 s loop
        b->Release();
    }
}

namespace {

// The engine's listener: at the origin, facing −y with +z up, rolloff 0.2.
DS3DLISTENER EngineListener() {
    DS3DLISTENER l{};
    l.dwSize = 64;
    l.vOrientFront = {0, -1, 0};
    l.vOrientTop = {0, 0, 1};
    l.flDistanceFactor = 1.0f;
    l.flRolloffFactor = 0.2f;
    l.flDopplerFactor = 1.0f;
    return l;
}

DS3DBUFFER EngineEffect(D3DVECTOR position, DWORD mode = DS3DMODE_NORMAL) {
    DS3DBUFFER p{};
    p.dwSize = 64;
    p.vPosition = position;
    p.dwInsideConeAngle = 360;
    p.dwOutsideConeAngle = 360;
    p.vConeOrientation = {0, 0, 1};
    p.flMinDistance = 50.0f;
    p.flMaxDistance = 800.0f;
    p.dwMode = mode;
    return p;
}

}  // namespace

// Distance gain min/(min + rolloff × (d − min)), held beyond max or muted,
// times an equal-power balance from the azimuth in the listener's frame.
TEST_F(AudioMixer, ThreeDDistanceGainAndBalance) {
    struct Case {
        const char* what;
        DWORD flags;
        D3DVECTOR listenerAt;
        DS3DBUFFER params;
        double left, right;
    };
    const double c45 = 0.707107;
    const Case cases[] = {
        {"inside min, ahead", 0x60010, {0, 0, 0}, EngineEffect({0, -25, 0}), c45, c45},
        {"200 ahead", 0x60010, {0, 0, 0}, EngineEffect({0, -200, 0}), 0.625 * c45, 0.625 * c45},
        {"200 right", 0x60010, {0, 0, 0}, EngineEffect({200, 0, 0}), 0.0, 0.625},
        {"200 left", 0x60010, {0, 0, 0}, EngineEffect({-200, 0, 0}), 0.625, 0.0},
        {"200 behind", 0x60010, {0, 0, 0}, EngineEffect({0, 200, 0}), 0.625 * c45, 0.625 * c45},
        {"200 above", 0x60010, {0, 0, 0}, EngineEffect({0, 0, 200}), 0.625 * c45, 0.625 * c45},
        {"45 degrees right", 0x60010, {0, 0, 0}, EngineEffect({141.421356f, -141.421356f, 0}), 0.625 * 0.228270,
         0.625 * 0.973603},
        {"listener moved", 0x60010, {100, 100, 0}, EngineEffect({300, 100, 0}), 0.0, 0.625},
        {"at max, muted beyond", 0x60010, {0, 0, 0}, EngineEffect({0, -800, 0}), 0.25 * c45, 0.25 * c45},
        {"beyond max, muted", 0x60010, {0, 0, 0}, EngineEffect({0, -1000, 0}), 0.0, 0.0},
        {"beyond max, held", 0x40010, {0, 0, 0}, EngineEffect({0, -1000, 0}), 0.25 * c45, 0.25 * c45},
        {"head-relative right", 0x60010, {500, 500, 0}, EngineEffect({200, 0, 0}, DS3DMODE_HEADRELATIVE), 0.0,
         0.625},
        {"head-relative ahead", 0x60010, {500, 500, 0}, EngineEffect({0, 0, 200}, DS3DMODE_HEADRELATIVE),
         0.625 * c45, 0.625 * c45},
        {"disabled", 0x60010, {0, 0, 0}, EngineEffect({200, 0, 0}, DS3DMODE_DISABLE), 1.0, 1.0},
    };
    std::vector<int16_t> tone = Sine(441, 44100, 4410, 1, 30000.0);
    const double source = 30000.0 / std::sqrt(2.0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DS3DLISTENER l = EngineListener();
        l.vPosition = c.listenerAt;
        ASSERT_EQ(listener->SetAllParameters(&l, DS3D_IMMEDIATE), DS_OK);
        IDirectSoundBuffer* b = MakeFilled(c.flags, 44100, 1, tone);
        IDirectSound3DBuffer* b3 = nullptr;
        ASSERT_EQ(b->QueryInterface(IID_IDirectSound3DBuffer, (void**)&b3), DS_OK);
        ASSERT_EQ(b3->SetAllParameters(&c.params, DS3D_IMMEDIATE), DS_OK);
        AudioOutput_StartCapture();
        ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        Clock_Advance(100);
        std::vector<int16_t> out = Captured();
        EXPECT_NEAR(Rms(out.data(), 0, 4410, 0), c.left * source, 0.003 * source);
        EXPECT_NEAR(Rms(out.data(), 0, 4410, 1), c.right * source, 0.003 * source);
        b3->Release();
        b->Release();
    }
}

// Doppler: the relative velocity along the line of sight moves the pitch by
// c / (c + v) with c = 343.3 m/s.
TEST_F(AudioMixer, DopplerShiftsThePitchAlongTheLineOfSight) {
    struct Case {
        const char* what;
        D3DVECTOR sourceVelocity, listenerVelocity;
        float dopplerFactor;
        double hz;
    };
    const Case cases[] = {
        {"still", {0, 0, 0}, {0, 0, 0}, 1.0f, 441.0},
        {"source receding", {0, -34.33f, 0}, {0, 0, 0}, 1.0f, 441.0 * 343.3 / 377.63},
        {"source approaching", {0, 34.33f, 0}, {0, 0, 0}, 1.0f, 441.0 * 343.3 / 308.97},
        {"listener approaching", {0, 0, 0}, {0, -34.33f, 0}, 1.0f, 441.0 * 343.3 / 308.97},
        {"across the line of sight", {34.33f, 0, 0}, {0, 0, 0}, 1.0f, 441.0},
        {"Doppler off", {0, -34.33f, 0}, {0, 0, 0}, 0.0f, 441.0},
    };
    std::vector<int16_t> tone = Sine(441, 44100, 44100, 1, 20000.0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DS3DLISTENER l = EngineListener();
        l.vVelocity = c.listenerVelocity;
        l.flDopplerFactor = c.dopplerFactor;
        ASSERT_EQ(listener->SetAllParameters(&l, DS3D_IMMEDIATE), DS_OK);
        IDirectSoundBuffer* b = MakeFilled(0x60010, 44100, 1, tone);
        IDirectSound3DBuffer* b3 = nullptr;
        ASSERT_EQ(b->QueryInterface(IID_IDirectSound3DBuffer, (void**)&b3), DS_OK);
        DS3DBUFFER p = EngineEffect({0, -100, 0});
        p.vVelocity = c.sourceVelocity;
        ASSERT_EQ(b3->SetAllParameters(&p, DS3D_IMMEDIATE), DS_OK);
        AudioOutput_StartCapture();
        ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
        Clock_Advance(500);
        std::vector<int16_t> out = Captured();
        EXPECT_NEAR(Frequency(out.data(), 0, 22050, 0), c.hz, c.hz * 0.002);
        b3->Release();
        b->Release();
    }
}
