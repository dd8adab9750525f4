// The mixer's cost: one second of 44100 Hz stereo output from 26 playing
// voices (rates 11025/22050/44100/48000, mono and stereo, 8- and 16-bit,
// assorted volumes and pans, 4 of them 3D), as the engine's 2 music slots and
// 24 effects would make. Reported as CPU time per rendered second and as a
// multiple of real time.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/audio/audio_output.h"
#include "platform/audio/device_probe.h"
#include "platform/audio/dsound.h"
#include "platform/clock.h"

namespace {

struct Voice {
    DWORD rate;
    WORD channels, bits;
    LONG volume, pan;
    bool threeD;
};

const Voice kVoices[26] = {
    // Music slots.
    {44100, 2, 16, 0, 0, false},
    {48000, 2, 16, -800, 0, false},
    // Effects.
    {22050, 1, 16, -300, -2400, false},
    {22050, 1, 16, -1200, 2400, false},
    {11025, 1, 8, 0, 1000, false},
    {11025, 1, 8, -2000, -500, false},
    {44100, 1, 16, -600, 0, false},
    {44100, 2, 16, -150, 3000, false},
    {48000, 1, 16, -900, -3000, false},
    {22050, 2, 8, -400, 700, false},
    {11025, 2, 16, -1000, 0, false},
    {44100, 1, 8, -50, -7000, false},
    {22050, 1, 16, -2500, 100, false},
    {48000, 2, 8, -700, -100, false},
    {11025, 1, 16, -300, 9000, false},
    {44100, 2, 8, -1500, -1500, false},
    {22050, 2, 16, -200, 200, false},
    {48000, 1, 8, -3300, 0, false},
    {11025, 2, 8, -600, 600, false},
    {44100, 1, 16, -10, -10, false},
    {22050, 1, 8, -5000, 0, false},
    {48000, 2, 16, -100, 4000, false},
    {22050, 1, 16, 0, 0, true},
    {44100, 1, 16, 0, 0, true},
    {11025, 1, 8, 0, 0, true},
    {48000, 1, 16, 0, 0, true},
};

struct Rig {
    IDirectSound8* ds = nullptr;
    IDirectSoundBuffer* primary = nullptr;
    IDirectSound3DListener* listener = nullptr;
    std::vector<IDirectSoundBuffer*> buffers;
};

bool Build(Rig* rig) {
    Clock_UseVirtual(0);  // nothing renders but the benchmark
    if (!AudioOutput_Open("null")) return false;
    if (DirectSoundCreate8(nullptr, &rig->ds, nullptr) != DS_OK) return false;
    rig->ds->SetCooperativeLevel(reinterpret_cast<HWND>(1), DSSCL_EXCLUSIVE);
    DSBUFFERDESC pd{36, DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRL3D, 0, 0, nullptr, GUID_NULL};
    if (rig->ds->CreateSoundBuffer(&pd, &rig->primary, nullptr) != DS_OK) return false;
    rig->primary->QueryInterface(IID_IDirectSound3DListener, (void**)&rig->listener);
    DS3DLISTENER l{};
    l.dwSize = 64;
    rig->listener->GetAllParameters(&l);
    l.vOrientFront = {0, -1, 0};
    l.vOrientTop = {0, 0, 1};
    l.flRolloffFactor = 0.2f;
    rig->listener->SetAllParameters(&l, DS3D_IMMEDIATE);

    int n = 0;
    for (const Voice& v : kVoices) {
        WORD align = (WORD)(v.channels * v.bits / 8);
        WAVEFORMATEX f{WAVE_FORMAT_PCM, v.channels, v.rate, v.rate * align, align, v.bits, 0};
        DWORD bytes = (DWORD)(v.rate * 1.7) * align;  // loops never line up with the second
        DSBUFFERDESC d{36, v.threeD ? 0x60010u : 0x400C0u, bytes, 0, &f, GUID_NULL};
        IDirectSoundBuffer* b = nullptr;
        if (rig->ds->CreateSoundBuffer(&d, &b, nullptr) != DS_OK) return false;
        void *p1, *p2;
        DWORD n1, n2;
        if (b->Lock(0, bytes, &p1, &n1, &p2, &n2, 0) != DS_OK) return false;
        for (DWORD i = 0; i < n1; i++) static_cast<uint8_t*>(p1)[i] = (uint8_t)(i * 37 + n * 11);
        b->Unlock(p1, n1, p2, n2);
        if (v.threeD) {
            IDirectSound3DBuffer* b3 = nullptr;
            b->QueryInterface(IID_IDirectSound3DBuffer, (void**)&b3);
            DS3DBUFFER p{};
            p.dwSize = 64;
            b3->GetAllParameters(&p);
            p.vPosition = {(float)(n * 40 - 900), -150.0f, 0.0f};
            p.flMinDistance = 50.0f;
            p.flMaxDistance = 800.0f;
            b3->SetAllParameters(&p, DS3D_IMMEDIATE);
            b3->Release();
        } else {
            b->SetVolume(v.volume);
            b->SetPan(v.pan);
        }
        b->Play(0, 0, DSBPLAY_LOOPING);
        rig->buffers.push_back(b);
        n++;
    }
    return true;
}

void Tear(Rig* rig) {
    for (IDirectSoundBuffer* b : rig->buffers) b->Release();
    if (rig->listener) rig->listener->Release();
    if (rig->primary) rig->primary->Release();
    if (rig->ds) rig->ds->Release();
    AudioOutput_Close();
}

void BM_RenderOneSecond26Voices(benchmark::State& state) {
    Rig rig;
    if (!Build(&rig)) {
        state.SkipWithError("could not set up the device");
        Tear(&rig);
        return;
    }
    std::vector<int16_t> out(kOutputRate * 2);
    for (auto _ : state) {
        AudioMixer_Render(out.data(), kOutputRate);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.counters["x_realtime"] =
        benchmark::Counter((double)state.iterations(), benchmark::Counter::kIsRate);
    Tear(&rig);
}
BENCHMARK(BM_RenderOneSecond26Voices)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
