// The encoder the tools write block ADPCM and ADPCM stream files with. Every
// channel of every block tries the seven predictors with a ladder of initial
// steps and keeps the pair with the least squared error, so a block follows its
// material (a low predictor for noise, the steep ones for tones).
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/codec/msadpcm.h"

static const int kAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                    768, 614, 512, 409, 307, 230, 230, 230};

struct EncState {
    int coef1, coef2, delta, sample1, sample2;
};

// Chooses the nibble nearest to the sample and moves the state exactly as
// the decoder will.
static inline int EncodeSample(EncState& s, int sample, int* decoded) {
    int predictor = (s.sample1 * s.coef1 + s.sample2 * s.coef2) / 256;
    int err = sample - predictor;
    int q = err >= 0 ? (err + s.delta / 2) / s.delta : -((-err + s.delta / 2) / s.delta);
    if (q > 7) q = 7;
    if (q < -8) q = -8;
    int value = predictor + q * s.delta;
    if (value > 32767) value = 32767;
    if (value < -32768) value = -32768;
    int nibble = q & 15;
    s.sample2 = s.sample1;
    s.sample1 = value;
    s.delta = kAdaptation[nibble] * s.delta / 256;
    if (s.delta < 16) s.delta = 16;
    if (s.delta > INT_MAX / 768) s.delta = INT_MAX / 768;
    *decoded = value;
    return nibble;
}

// One channel's samples of the block, the last frame repeated as padding.
struct ChannelSamples {
    const int16_t* pcm;
    int frames, channels, channel;
    int operator[](int i) const { return pcm[(i < frames ? i : frames - 1) * channels + channel]; }
};

static EncState StartState(const ChannelSamples& x, int predictor, int delta) {
    EncState s;
    s.coef1 = kMsAdpcmCoef1[predictor];
    s.coef2 = kMsAdpcmCoef2[predictor];
    s.delta = delta;
    s.sample2 = x[0];
    s.sample1 = x[1];
    return s;
}

// Squared error of one channel's samples x[2..n) under a start state, or
// stops early once it exceeds limit.
static int64_t TrialError(const ChannelSamples& x, int n, EncState s, int64_t limit) {
    int64_t total = 0;
    for (int i = 2; i < n && total < limit; i++) {
        int decoded;
        EncodeSample(s, x[i], &decoded);
        int64_t e = x[i] - decoded;
        total += e * e;
    }
    return total;
}

void MsAdpcm_EncodeBlock(const int16_t* pcm, int frames, int channels, int blockAlign,
                         uint8_t* block) {
    int spb = MsAdpcm_SamplesPerBlock(blockAlign, channels);
    memset(block, 0, (size_t)blockAlign);
    if (spb == 0 || frames < 1) return;
    if (frames > spb) frames = spb;

    ChannelSamples x[2] = {{pcm, frames, channels, 0}, {pcm, frames, channels, channels - 1}};
    EncState best[2];
    for (int c = 0; c < channels; c++) {
        int64_t bestErr = INT64_MAX;
        int bestIndex = 0;
        for (int p = 0; p < kMsAdpcmCoefPairs; p++) {
            // Initial steps: a ladder from the smallest step up, so loud and
            // quiet block openings both find a step that fits.
            for (int delta = 16; delta <= 16384; delta = delta * 3 / 2) {
                EncState s = StartState(x[c], p, delta);
                int64_t err = TrialError(x[c], spb, s, bestErr);
                if (err < bestErr) {
                    bestErr = err;
                    best[c] = s;
                    bestIndex = p;
                }
            }
        }
        block[c] = (uint8_t)bestIndex;
        block[channels + 2 * c] = (uint8_t)best[c].delta;
        block[channels + 2 * c + 1] = (uint8_t)(best[c].delta >> 8);
        block[3 * channels + 2 * c] = (uint8_t)x[c][1];
        block[3 * channels + 2 * c + 1] = (uint8_t)(x[c][1] >> 8);
        block[5 * channels + 2 * c] = (uint8_t)x[c][0];
        block[5 * channels + 2 * c + 1] = (uint8_t)(x[c][0] >> 8);
    }

    uint8_t* p = block + 7 * channels;
    int decoded;
    if (channels == 2) {
        for (int i = 2; i < spb; i++) {
            int hi = EncodeSample(best[0], x[0][i], &decoded);
            int lo = EncodeSample(best[1], x[1][i], &decoded);
            *p++ = (uint8_t)(hi << 4 | lo);
        }
    } else {
        for (int i = 2; i < spb; i += 2) {
            int hi = EncodeSample(best[0], x[0][i], &decoded);
            int lo = EncodeSample(best[0], x[0][i + 1], &decoded);
            *p++ = (uint8_t)(hi << 4 | lo);
        }
    }
}
