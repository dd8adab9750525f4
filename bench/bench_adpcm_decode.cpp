// MS ADPCM decoding through the codec manager, as the block kinds call it:
// 20480 compressed bytes (ten 2048-byte stereo blocks) per conversion.
// Input: the data chunk of the MS ADPCM WAV named by TONE_BENCH_ADPCM (see
// bench_adpcm_vs_ffmpeg.sh), else one minute of our encoder's output.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/codec/acm.h"
#include "platform/codec/msadpcm.h"

static std::vector<uint8_t> LoadData(ADPCMWAVEFORMAT* fmt) {
    std::vector<uint8_t> data;
    const char* path = getenv("TONE_BENCH_ADPCM");
    if (path) {
        FILE* f = fopen(path, "rb");
        if (f) {
            std::vector<uint8_t> image;
            uint8_t chunk[65536];
            size_t n;
            while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) image.insert(image.end(), chunk, chunk + n);
            fclose(f);
            for (size_t at = 12; at + 8 <= image.size();) {
                uint32_t len;
                memcpy(&len, image.data() + at + 4, 4);
                len = (uint32_t)std::min<size_t>(len, image.size() - at - 8);
                if (!memcmp(image.data() + at, "fmt ", 4)) memcpy(fmt, image.data() + at + 8, std::min<size_t>(len, sizeof *fmt));
                if (!memcmp(image.data() + at, "data", 4)) data.assign(image.begin() + at + 8, image.begin() + at + 8 + len);
                at += 8 + len + (len & 1);
            }
            if (!data.empty()) return data;
        }
        fprintf(stderr, "bench_adpcm_decode: cannot use %s, encoding test audio\n", path);
    }
    MsAdpcm_Format(fmt, 44100, 2);
    const int frames = 44100 * 60;
    std::vector<int16_t> pcm(2 * (size_t)frames);
    for (int i = 0; i < frames; i++) {
        double t = i / 44100.0;
        pcm[2 * i] = (int16_t)(8000 * sin(2 * M_PI * 220 * t) * exp(-3 * fmod(t, 0.5)) + 3000 * sin(2 * M_PI * 1500 * t));
        pcm[2 * i + 1] = (int16_t)(7000 * sin(2 * M_PI * 330 * t) + 2000 * sin(2 * M_PI * 4400 * t));
    }
    int spb = fmt->wSamplesPerBlock;
    for (int f = 0; f < frames; f += spb) {
        data.resize(data.size() + fmt->wfx.nBlockAlign);
        MsAdpcm_EncodeBlock(pcm.data() + 2 * f, std::min(spb, frames - f), 2, fmt->wfx.nBlockAlign,
                            data.data() + data.size() - fmt->wfx.nBlockAlign);
    }
    return data;
}

static void BM_AdpcmDecode(benchmark::State& state) {
    ADPCMWAVEFORMAT fmt;
    std::vector<uint8_t> data = LoadData(&fmt);
    const WAVEFORMATEX& src = fmt.wfx;
    WAVEFORMATEX dst = {WAVE_FORMAT_PCM, src.nChannels, src.nSamplesPerSec,
                        src.nSamplesPerSec * 2 * src.nChannels, (WORD)(2 * src.nChannels), 16, 0};
    const size_t piece = (20480 / src.nBlockAlign) * src.nBlockAlign;
    std::vector<uint8_t> out(piece / src.nBlockAlign * MsAdpcm_SamplesPerBlock(src.nBlockAlign, src.nChannels) *
                             dst.nBlockAlign);
    size_t samples = 0;
    for (auto _ : state) {
        for (size_t at = 0; at < data.size(); at += piece) {
            HACMSTREAM s;
            if (acmStreamOpen(&s, nullptr, &src, &dst, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME)) {
                state.SkipWithError("codec refused the format");
                return;
            }
            ACMSTREAMHEADER h = {};
            h.cbStruct = kAcmStreamHeaderBytes;
            h.pbSrc = data.data() + at;
            h.cbSrcLength = (DWORD)std::min(piece, data.size() - at);
            h.pbDst = out.data();
            h.cbDstLength = (DWORD)out.size();
            acmStreamPrepareHeader(s, &h, 0);
            acmStreamConvert(s, &h, 0);
            acmStreamUnprepareHeader(s, &h, 0);
            acmStreamClose(s, 0);
            samples += h.cbDstLengthUsed / 2;
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)data.size());
    state.counters["audio_s_per_s"] = benchmark::Counter(
        (double)samples / src.nChannels / src.nSamplesPerSec, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AdpcmDecode)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
