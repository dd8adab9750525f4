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
inline void Dct(const float* in, float* out) {
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
inline void Dct<1>(const float* in, float* out) {
    out[0] = in[0];
}

// Matrixes one block into the history slot and windows the last 16 blocks.
template <int M>
inline void SynthesizeBlock(const float* s, float* history, int32_t slot, const float* window, float* out) {
    float x[M];
    Dct<M>(s, x);
    float* v = history + slot * 2 * M;
    for (int i = 0; i < M / 2; i++) v[i] = x[M / 2 + i];
    v[M / 2] = 0.0f;
    for (int i = M / 2 + 1; i < M + M / 2; i++) v[i] = -x[M + M / 2 - i];
    v[M + M / 2] = -x[0];
    for (int i = M + M / 2 + 1; i < 2 * M; i++) v[i] = -x[i - M - M / 2];

    float acc[M];
    for (int j = 0; j < M; j++) acc[j] = 0.0f;
    for (int t = 0; t < 16; t++) {
        const float* vt = history + ((slot - t) & 15) * 2 * M + (t & 1) * M;
        const float* dt = window + t * M;
        for (int j = 0; j < M; j++) acc[j] += dt[j] * vt[j];
    }
    for (int j = 0; j < M; j++) out[j] = acc[j];
}

inline void Store(float v, int32_t bits, uint8_t* p) {
    int32_t s = MpegToInteger(v);
    if (bits == 8) {
        p[0] = (uint8_t)((s >> 8) ^ 0x80);
    } else {
        p[0] = (uint8_t)(s & 0xFF);
        p[1] = (uint8_t)((s >> 8) & 0xFF);
    }
}

}  // namespace

void MpegSynthesize(MpegDecoder* d, int32_t channels, int32_t firstBlock, int32_t blocks, uint8_t* out) {
    const MpegDerivedTables& t = MpegTables();
    int32_t m = 32 >> d->reduction;
    int32_t bytes = d->outBits / 8;
    int32_t outCh = d->outChannels;
    int32_t decoded = channels < outCh ? channels : outCh;
    const float* window = t.synthesis[d->reduction];
    for (int32_t b = 0; b < blocks; b++) {
        int32_t block = firstBlock + b;
        int32_t slot = d->historyIndex;
        for (int32_t ch = 0; ch < decoded; ch++) {
            float s[32];
            const float* in = d->subbands[ch][block];
            if (d->equalizerOn && d->reduction == 0) {
                for (int32_t i = 0; i < 32; i++) s[i] = in[i] * d->equalizer[i];
                in = s;
            }
            float pcm[32];
            if (m == 32)
                SynthesizeBlock<32>(in, d->history[ch], slot, window, pcm);
            else if (m == 16)
                SynthesizeBlock<16>(in, d->history[ch], slot, window, pcm);
            else
                SynthesizeBlock<8>(in, d->history[ch], slot, window, pcm);
            uint8_t* p = out + ((size_t)block * m * outCh + ch) * bytes;
            for (int32_t j = 0; j < m; j++) {
                Store(pcm[j], d->outBits, p);
                // A single decoded channel feeding two outputs fills both.
                if (decoded < outCh) Store(pcm[j], d->outBits, p + bytes);
                p += outCh * bytes;
            }
        }
        d->historyIndex = (slot + 1) & 15;
    }
}
