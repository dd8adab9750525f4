// Reading a 5 MiB sound: from a loose file in one read, and from an archive
// entry in 512 KiB pieces with a 2 ms pause after each full piece (nine
// pauses). The difference should be the pauses and nothing else of note.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sources/le_bytes.h"
#include "sources/sound_file.h"

constexpr int32_t kBytes = 5 * 1024 * 1024;

static std::string Folder() {
    static std::string dir;
    if (!dir.empty()) return dir;
    char tmpl[] = "/tmp/tone_bench_archive_XXXXXX";
    dir = mkdtemp(tmpl);
    std::vector<uint8_t> data(kBytes);
    for (int32_t i = 0; i < kBytes; i++) data[i] = (uint8_t)(i * 7);
    std::filesystem::create_directory(dir + "/loose");
    FILE* f = fopen((dir + "/loose/long.ogg").c_str(), "wb");
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
    // One group "ogg", one entry "long" at offset 36.
    uint8_t index[36] = {};
    PutLe32(index + 4, 1);
    memcpy(index + 8, "ogg", 3);
    PutLe32(index + 12, 20);
    PutLe32(index + 16, 1);
    memcpy(index + 20, "long", 4);
    PutLe32(index + 28, kBytes);
    PutLe32(index + 32, 36);
    f = fopen((dir + "/packed.arc").c_str(), "wb");
    fwrite(index, 1, sizeof index, f);
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
    std::filesystem::current_path(dir);
    return dir;
}

static void ReadWhole(benchmark::State& state, const char* name) {
    Folder();
    Clock_UseReal();
    std::vector<uint8_t> buf(kBytes);
    for (auto _ : state) {
        SoundFile f = {};
        if (!f.Open(name, "rb")) {
            state.SkipWithError("open failed");
            return;
        }
        if (f.Read(buf.data(), 1, kBytes) != kBytes) state.SkipWithError("short read");
        f.Close();
        benchmark::DoNotOptimize(buf.data());
    }
    state.SetBytesProcessed((int64_t)state.iterations() * kBytes);
}

static void BM_LooseRead5MiB(benchmark::State& state) { ReadWhole(state, "loose\\long.ogg"); }
static void BM_EntryRead5MiB(benchmark::State& state) { ReadWhole(state, "packed\\long.ogg"); }
BENCHMARK(BM_LooseRead5MiB)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EntryRead5MiB)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
