// Decoding speed of the MPEG audio decoder on the small fixtures, from memory:
// frames per second and seconds of audio decoded per second (items are
// output samples per channel). The side-by-side comparison with mpg123 is
// bench/mpeg_speed.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "decoders/mpeg_audio.h"

namespace {

std::vector<uint8_t> Fixture(const char* name) {
    std::string path = std::string(__FILE__);
    path = path.substr(0, path.rfind('/')) + "/../tests/fixtures/mpeg/" + name;
    std::vector<uint8_t> data;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return data;
    uint8_t buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
    fclose(f);
    return data;
}

void DecodeStream(benchmark::State& state, const char* name) {
    std::vector<uint8_t> s = Fixture(name);
    if (s.empty()) {
        state.SkipWithError("fixture missing");
        return;
    }
    static MpegDecoder decoder;
    decoder.Init();
    std::vector<uint8_t> pcm(4608);
    int64_t samples = 0;
    for (auto _ : state) {
        decoder.StartDecoding(s.data(), (int32_t)s.size());
        int32_t offset = 0;
        while (offset < (int32_t)s.size()) {
            MpegFrameRequest r{};
            r.input = s.data() + offset;
            r.inputSize = (int32_t)s.size() - offset;
            r.output = pcm.data();
            if (!decoder.DecodeFrame(&r)) break;
            offset += r.inputSize;
            samples += r.outputSize / 4;
        }
        benchmark::DoNotOptimize(pcm.data());
    }
    state.SetItemsProcessed(samples);
}

void BM_MpegLayer3_128k(benchmark::State& state) { DecodeStream(state, "fx_l3.mp3"); }
void BM_MpegLayer3_Lsf64k(benchmark::State& state) { DecodeStream(state, "fx_l3_lsf.mp3"); }
void BM_MpegLayer2_128k(benchmark::State& state) { DecodeStream(state, "fx_l2.mp2"); }
void BM_MpegLayer1(benchmark::State& state) { DecodeStream(state, "fx_l1.mp1"); }

}  // namespace

BENCHMARK(BM_MpegLayer3_128k);
BENCHMARK(BM_MpegLayer3_Lsf64k);
BENCHMARK(BM_MpegLayer2_128k);
BENCHMARK(BM_MpegLayer1);
BENCHMARK_MAIN();
