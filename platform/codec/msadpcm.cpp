#include "platform/codec/msadpcm.h"

#include <climits>
#include <cstring>

const int16_t kMsAdpcmCoef1[kMsAdpcmCoefPairs] = {256, 512, 0, 192, 240, 460, 392};
const int16_t kMsAdpcmCoef2[kMsAdpcmCoefPairs] = {0, -256, 0, 64, 0, -208, -232};
static const int kAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                    768, 614, 512, 409, 307, 230, 230, 230};

int MsAdpcm_SamplesPerBlock(int blockAlign, int channels) {
    if (channels < 1 || channels > 2 || blockAlign < 7 * channels) return 0;
    return (blockAlign - 7 * channels) * 8 / (4 * channels) + 2;
}

int MsAdpcm_BlockAlignFor(int samplesPerSec, int channels) {
    int scale = samplesPerSec / 11025;
    if (scale < 1) scale = 1;
    return 256 * channels * scale;
}

void MsAdpcm_Format(ADPCMWAVEFORMAT* fmt, int samplesPerSec, int channels) {
    memset(fmt, 0, sizeof *fmt);
    int align = MsAdpcm_BlockAlignFor(samplesPerSec, channels);
    int spb = MsAdpcm_SamplesPerBlock(align, channels);
    fmt->wfx.wFormatTag = WAVE_FORMAT_ADPCM;
    fmt->wfx.nChannels = (WORD)channels;
    fmt->wfx.nSamplesPerSec = (DWORD)samplesPerSec;
    fmt->wfx.nAvgBytesPerSec = (DWORD)((int64_t)samplesPerSec * align / spb);
    fmt->wfx.nBlockAlign = (WORD)align;
    fmt->wfx.wBitsPerSample = 4;
    fmt->wfx.cbSize = 32;
    fmt->wSamplesPerBlock = (WORD)spb;
    fmt->wNumCoef = kMsAdpcmCoefPairs;
    for (int i = 0; i < kMsAdpcmCoefPairs; i++) {
        fmt->aCoef[i].iCoef1 = kMsAdpcmCoef1[i];
        fmt->aCoef[i].iCoef2 = kMsAdpcmCoef2[i];
    }
}

struct ChannelState {
    int coef1, coef2;
    int delta;
    int sample1, sample2;
};

// The prediction divides with C's truncation toward zero, as the format's
// reference codec does; rounding down instead drifts on real material.
static inline int16_t Expand(ChannelState& c, int nibble) {
    int predictor = (c.sample1 * c.coef1 + c.sample2 * c.coef2) / 256;
    predictor += ((nibble & 8) ? nibble - 16 : nibble) * c.delta;
    if (predictor > 32767) predictor = 32767;
    if (predictor < -32768) predictor = -32768;
    c.sample2 = c.sample1;
    c.sample1 = predictor;
    c.delta = kAdaptation[nibble] * c.delta / 256;
    if (c.delta < 16) c.delta = 16;
    if (c.delta > INT_MAX / 768) c.delta = INT_MAX / 768;  // damaged data only
    return (int16_t)predictor;
}

static inline int16_t Le16(const uint8_t* p) { return (int16_t)(p[0] | p[1] << 8); }

int MsAdpcm_DecodeBlock(const uint8_t* block, int bytes, int channels, int16_t* out) {
    if (channels < 1 || channels > 2 || bytes < 7 * channels) return 0;
    int frames = MsAdpcm_SamplesPerBlock(bytes, channels);
    ChannelState st[2];
    bool bad = false;
    for (int c = 0; c < channels; c++) {
        int index = block[c];
        if (index >= kMsAdpcmCoefPairs) {
            bad = true;
            index = 0;
        }
        st[c].coef1 = kMsAdpcmCoef1[index];
        st[c].coef2 = kMsAdpcmCoef2[index];
        st[c].delta = Le16(block + channels + 2 * c);
        st[c].sample1 = Le16(block + 3 * channels + 2 * c);
        st[c].sample2 = Le16(block + 5 * channels + 2 * c);
    }
    if (bad) {
        memset(out, 0, (size_t)frames * channels * sizeof(int16_t));
        return frames;
    }
    for (int c = 0; c < channels; c++) {
        out[c] = (int16_t)st[c].sample2;
        out[channels + c] = (int16_t)st[c].sample1;
    }
    const uint8_t* p = block + 7 * channels;
    int16_t* o = out + 2 * channels;
    int nibbles = (frames - 2) * channels;
    if (channels == 2) {
        for (int i = 0; i < nibbles; i += 2) {
            uint8_t b = *p++;
            *o++ = Expand(st[0], b >> 4);
            *o++ = Expand(st[1], b & 15);
        }
    } else {
        for (int i = 0; i < nibbles; i += 2) {
            uint8_t b = *p++;
            *o++ = Expand(st[0], b >> 4);
            *o++ = Expand(st[0], b & 15);
        }
    }
    return frames;
}
