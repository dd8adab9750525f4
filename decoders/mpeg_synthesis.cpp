// The polyphase synthesis filter bank at full, half and quarter rate, the
// subband equaliser, and the conversion of output values to PCM.
//
// Each block of M subband values (M = 32, 16 or 8) is matrixed into the 2M
// values V of the standard through a fast DCT-II of M points, because
// V[i] = sum_k cos((M/2 + i)(2k + 1) pi / 2M) S[k] only ever needs the
// DCT-II outputs X[0..M-1], with signs. The output value j of a block is
// then sum over the last 16 blocks t of D[M t + j] * V_t[(t odd ? M : 0) + j].
#include <cmath>
#include <cstring>

#include "decoders/mpeg_internal.h"

namespace {

// 1 / (2 cos((2k + 1) pi / 2N)) for the odd half of each stage.
template <int N>
struct DctFactors {
    float f[N / 2];
    DctFactors() {
        for (int k = 0; k < N / 2; k++)
            f[k] = (float)(0.5 / std::cos((2 * k + 1) * 3.14159265358979323846 / (2.0 * N)));
    }
};

template <int N>
const DctFactors<N> kDctFactors;

// out[m] = sum_k in[k] cos(m (2k + 1) pi / 2N), by halving (even outputs
// from the sums, odd outputs from the scaled differences).
template <int N>
[[gnu::always_inline]] inline void Dct(const float* in, float* out) {
    float a[N / 2], b[N / 2], ea[N / 2], eb[N / 2];
    const float* f = kDctFactors<N>.f;
    for (int k = 0; k < N / 2; k++) {
        a[k] = in[k] + in[N - 1 - k];
        b[k] = (in[k] - in[N - 1 - k]) * f[k];
    }
    Dct<N / 2>(a, ea);
    Dct<N / 2>(b, eb);
    for (int m = 0; m < N / 2 - 1; m++) {
        out[2 * m] = ea[m];
        out[2 * m + 1] = eb[m] + eb[m + 1];
    }
    out[N - 2] = ea[N / 2 - 1];
    out[N - 1] = eb[N / 2 - 1];
}

template <>
[[gnu::always_inline]] inline void Dct<1>(const float* in, float* out) {
    out[0] = in[0];
}

// cos(m (2k + 1) pi / 64) by [k][m]. At full rate the DCT-II is taken as a
// matrix product: eight outputs per vector and one multiply-add per input
// on processors that have it, fewer operations than the halving steps.
struct DctMatrix32 {
    float c[32][32];
    DctMatrix32() {
        for (int k = 0; k < 32; k++)
            for (int m = 0; m < 32; m++) c[k][m] = (float)std::cos(m * (2 * k + 1) * 3.14159265358979323846 / 64.0);
    }
};
const DctMatrix32 kDctMatrix32;

[[gnu::always_inline]] inline void Dct32(const float* in, float* out) {
    typedef float Vec8 __attribute__((vector_size(32)));
    Vec8 x[4] = {};
    for (int k = 0; k < 32; k++) {
        float s = in[k];
        for (int q = 0; q < 4; q++) {
            Vec8 c;
            memcpy(&c, &kDctMatrix32.c[k][8 * q], sizeof c);
            x[q] += c * s;
        }
    }
    memcpy(out, x, sizeof x);
}

// Matrixes one block into the history slot and windows the last 16 blocks.
template <int M, bool Fma>
[[gnu::always_inline]] inline void SynthesizeBlock(const float* s, float* history, int32_t slot, const float* window, float* out) {
    float x[M];
    if constexpr (M == 32 && Fma)
        Dct32(s, x);
    else
        Dct<M>(s, x);
    float* v = history + slot * 2 * M;
    for (int i = 0; i < M / 2; i++) v[i] = x[M / 2 + i];
    v[M / 2] = 0.0f;
    for (int i = M / 2 + 1; i < M + M / 2; i++) v[i] = -x[M + M / 2 - i];
    v[M + M / 2] = -x[0];
    for (int i = M + M / 2 + 1; i < 2 * M; i++) v[i] = -x[i - M - M / 2];

    // Eight outputs per vector; the accumulators stay in registers across the 16 blocks.
    constexpr int kLanes = Fma ? (M < 8 ? M : 8) : 4;
    typedef float Vec __attribute__((vector_size(kLanes * 4)));
    Vec acc[M / kLanes];
    for (int q = 0; q < M / kLanes; q++) acc[q] = Vec{} ;
    for (int t = 0; t < 16; t++) {
        const float* vt = history + ((slot - t) & 15) * 2 * M + (t & 1) * M;
        const float* dt = window + t * M;
        for (int q = 0; q < M / kLanes; q++) {
            Vec a, b;
            memcpy(&a, dt + kLanes * q, sizeof a);
            memcpy(&b, vt + kLanes * q, sizeof b);
            acc[q] += a * b;
        }
    }
    memcpy(out, acc, sizeof acc);
}

// Converts one block of every output channel to integers (truncated,
// clipped) and stores them interleaved, 8-bit or 16-bit little-endian.
template <int M>
[[gnu::always_inline]] inline void Store(const float (*pcm)[32], int32_t decoded, int32_t outCh, int32_t bits, uint8_t* p) {
    if (bits == 16 && outCh == 2 && decoded == 2) {
        int16_t s[2 * M];
        for (int j = 0; j < M; j++) {
            s[2 * j] = (int16_t)MpegToInteger(pcm[0][j]);
            s[2 * j + 1] = (int16_t)MpegToInteger(pcm[1][j]);
        }
        for (int j = 0; j < 2 * M; j++) {
            p[2 * j] = (uint8_t)(s[j] & 0xFF);
            p[2 * j + 1] = (uint8_t)((s[j] >> 8) & 0xFF);
        }
        return;
    }
    int32_t bytes = bits / 8;
    for (int32_t c = 0; c < outCh; c++) {
        const float* in = pcm[c < decoded ? c : 0];  // one decoded channel fills both outputs
        uint8_t* q = p + c * bytes;
        for (int j = 0; j < M; j++, q += outCh * bytes) {
            int32_t v = MpegToInteger(in[j]);
            if (bits == 8) {
                q[0] = (uint8_t)((v >> 8) ^ 0x80);
            } else {
                q[0] = (uint8_t)(v & 0xFF);
                q[1] = (uint8_t)((v >> 8) & 0xFF);
            }
        }
    }
}

template <int M, bool Fma>
[[gnu::always_inline]] inline void SynthesizeBlocks(MpegDecoder* d, int32_t decoded, int32_t firstBlock, int32_t blocks, uint8_t* out) {
    const float* window = MpegTables().synthesis[d->reduction];
    int32_t outCh = d->outChannels;
    int32_t frameBytes = M * outCh * (d->outBits / 8);
    for (int32_t b = 0; b < blocks; b++) {
        int32_t block = firstBlock + b;
        int32_t slot = d->historyIndex;
        float pcm[2][32];
        for (int32_t ch = 0; ch < decoded; ch++) {
            float s[32];
            const float* in = d->subbands[ch][block];
            if (d->equalizerOn && M == 32) {
                for (int32_t i = 0; i < 32; i++) s[i] = in[i] * d->equalizer[i];
                in = s;
            }
            SynthesizeBlock<M, Fma>(in, d->history[ch], slot, window, pcm[ch]);
        }
        Store<M>(pcm, decoded, outCh, d->outBits, out + (size_t)block * frameBytes);
        d->historyIndex = (slot + 1) & 15;
    }
}

// The full-rate filter bank carries most of the decoding time.
MPEG_TARGET_FMA void SynthesizeFullFma(MpegDecoder* d, int32_t decoded, int32_t firstBlock, int32_t blocks,
                                       uint8_t* out) {
    SynthesizeBlocks<32, true>(d, decoded, firstBlock, blocks, out);
}

void SynthesizeFullBase(MpegDecoder* d, int32_t decoded, int32_t firstBlock, int32_t blocks, uint8_t* out) {
    SynthesizeBlocks<32, false>(d, decoded, firstBlock, blocks, out);
}

}  // namespace

void MpegSynthesize(MpegDecoder* d, int32_t channels, int32_t firstBlock, int32_t blocks, uint8_t* out) {
    int32_t decoded = channels < d->outChannels ? channels : d->outChannels;
    if (d->reduction == 0 && MpegHasFma())
        SynthesizeFullFma(d, decoded, firstBlock, blocks, out);
    else if (d->reduction == 0)
        SynthesizeFullBase(d, decoded, firstBlock, blocks, out);
    else if (d->reduction == 1)
        SynthesizeBlocks<16, false>(d, decoded, firstBlock, blocks, out);
    else
        SynthesizeBlocks<8, false>(d, decoded, firstBlock, blocks, out);
}
