// A whole game session on the virtual clock: two BGM slots cross-fading
// every 6 s between a PCM WAV piece and a block ADPCM piece (started through
// the queue, so the tick opens and fills them), 24 effects kept sounding
// (plain, hardware 3D and software 3D, a new one every 30 ms), and the
// listener moving every 100 ms. Reports:
//   x_realtime        seconds of audio rendered per second of CPU
//   cpu_ms_per_audio_s CPU milliseconds per second of audio
//   longest_tick_us   the longest single virtual millisecond: the output
//                     render of 44 frames plus the 10 ms tick when one is due
//                     (so the tick's worst case, a BGM start, shows here)
//   peak_rss_mb       the process's peak resident memory
// The block ADPCM piece is made with tools/toneenc from the same build.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "include/tonecore.h"
#include "platform/audio/audio_output.h"
#include "platform/clock.h"
#include "sources/wav_header.h"

namespace {

constexpr int kSessionSeconds = 30;

bool WriteWav(const std::string& path, const std::vector<int16_t>& pcm, int channels) {
    WavHeader h = WavHeader_Make((uint16_t)channels, 44100, 16, (uint32_t)(pcm.size() * 2));
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(&h, 1, sizeof h, f) == sizeof h && fwrite(pcm.data(), 2, pcm.size(), f) == pcm.size();
    return (fclose(f) == 0) && ok;
}

// Chords with a little noise: enough that the ADPCM encoder meets real work.
std::vector<int16_t> Music(double seconds, double root) {
    size_t frames = (size_t)(seconds * 44100);
    std::vector<int16_t> pcm(2 * frames);
    uint32_t x = 1;
    for (size_t i = 0; i < frames; i++) {
        double t = i / 44100.0;
        x = x * 1664525u + 1013904223u;
        double v = 0;
        for (double ratio : {1.0, 1.25, 1.5, 2.0}) v += std::sin(2 * M_PI * root * ratio * t);
        v = 5000 * v * std::exp(-2 * std::fmod(t, 0.5)) + ((int32_t)(x >> 16) - 32768) / 64.0;
        pcm[2 * i] = (int16_t)v;
        pcm[2 * i + 1] = (int16_t)(0.8 * v);
    }
    return pcm;
}

std::vector<int16_t> Effect(double seconds, double freq, int channels) {
    size_t frames = (size_t)(seconds * 44100);
    std::vector<int16_t> pcm(channels * frames);
    for (size_t i = 0; i < frames; i++)
        for (int c = 0; c < channels; c++)
            pcm[channels * i + c] = (int16_t)(12000 * std::exp(-3.0 * i / 44100) * std::sin(2 * M_PI * freq * i / 44100));
    return pcm;
}

// Makes the session's sounds in a scratch folder and enters it. Returns an
// error text, empty when ready.
std::string PrepareSounds() {
    static std::string ready;
    static std::string error;
    if (!ready.empty() || !error.empty()) return error;
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return error = "cannot find the build folder";
    self[n] = 0;
    std::string toneenc = std::filesystem::path(self).parent_path().parent_path() / "tools" / "toneenc";
    char tmpl[] = "/tmp/tone_bench_session_XXXXXX";
    if (!mkdtemp(tmpl)) return error = "cannot make a scratch folder";
    ready = tmpl;
    std::filesystem::current_path(ready);
    std::filesystem::create_directories("bgm");
    std::filesystem::create_directories("se");
    if (!WriteWav("bgm/a.wav", Music(20, 220), 2) || !WriteWav("bgm/b_src.wav", Music(20, 196), 2))
        return error = "cannot write the music";
    if (system((toneenc + " block bgm/b_src.wav bgm/b.dec").c_str()) != 0)
        return error = toneenc + " could not make the block ADPCM piece (build the toneenc target)";
    for (int e = 0; e < 8; e++)
        if (!WriteWav("se/e" + std::to_string(e) + ".wav", Effect(0.6 + 0.15 * e, 300 + 110 * e, e % 3 ? 1 : 2),
                      e % 3 ? 1 : 2))
            return error = "cannot write the effects";
    return error;
}

double ThreadCpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec * 1e-9;
}

// One session; returns the longest virtual millisecond in microseconds.
double RunSession(bool* sounding) {
    Clock_UseVirtual(100000);
    AudioOutput_Open("null");
    IInit(reinterpret_cast<void*>(0x7001));
    ISetMem(0, 0);
    ISetSEVol(1000);
    IPlay(0, "bgm\\a.wav", 0, 0, -1, 1);
    double longest = 0;
    int effect = 0;
    for (int ms = 0; ms < kSessionSeconds * 1000; ms++) {
        if (ms % 100 == 0) {
            float x = 300.0f * std::sin(ms / 4000.0f), z = 200.0f * std::cos(ms / 4000.0f);
            ISetListen(1.0f, x, 0, z, std::cos(ms / 3000.0f), 0, std::sin(ms / 3000.0f), 0, 1, 0);
        }
        if (ms % 6000 == 0 && ms > 0) {
            int to = (ms / 6000) % 2;  // slot 1 takes b.dec, slot 0 a.wav
            IFadeOutEx(1 - to, 2000);
            IPlayFadeEx(to, to ? "bgm\\b.dec" : "bgm\\a.wav", 0, 0, -1, 1, 2000);
        }
        if (ms % 30 == 0) {
            std::string name = "se\\e" + std::to_string(effect % 8) + ".wav";
            float p[3] = {100.0f * (effect % 7) - 300.0f, 0.0f, 150.0f * (effect % 5) - 300.0f};
            int kind = effect % 3;  // plain, hardware 3D, software 3D
            if (kind == 0)
                IPlaySE(name.c_str(), nullptr, nullptr, nullptr, 0, 0, 0.8f);
            else
                IPlaySE(name.c_str(), &p[0], &p[1], &p[2], kind, 0, 1.0f);
            effect++;
        }
        auto start = std::chrono::steady_clock::now();
        Clock_Advance(1);
        double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        if (us > longest) longest = us;
    }
    // The session must really have sounded: music on slot 0 (a.wav since
    // 24 s) and every effect channel busy.
    float at[3] = {0, 0, 0};
    *sounding = IGetPos(0) > 0 && IPlaySEB("se\\e0.wav", at, at, at, 1, 0, 1.0f) == -1;
    IRelease();
    AudioOutput_Close();
    return longest;
}

void BM_Session(benchmark::State& state) {
    std::string error = PrepareSounds();
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    double longest = 0, cpu = 0;
    for (auto _ : state) {
        double before = ThreadCpuSeconds();
        bool sounding = false;
        double l = RunSession(&sounding);
        if (!sounding) state.SkipWithError("the session did not sound: no music or free effect channels");
        cpu += ThreadCpuSeconds() - before;
        if (l > longest) longest = l;
    }
    double audio = (double)kSessionSeconds * state.iterations();
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    state.counters["x_realtime"] = audio / cpu;
    state.counters["cpu_ms_per_audio_s"] = 1000 * cpu / audio;
    state.counters["longest_tick_us"] = longest;
    state.counters["peak_rss_mb"] = usage.ru_maxrss / 1024.0;
}

}  // namespace

BENCHMARK(BM_Session)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
