// Layer II: the allocation table of the stream, scale-factor selection,
// scale factors and 36 blocks of (possibly grouped) samples per channel.
#include <cstring>

#include "decoders/mpeg_internal.h"

int32_t MpegLayer2TableFor(const MpegFrameHeader& h) {
    if (h.version != 1) return 4;
    int32_t total = kMpegBitRates[0][1][h.bitRateIndex];
    bool mono = h.mode == 3;
    // Combinations the standard does not allow.
    if (!mono && (total == 32 || total == 48 || total == 56 || total == 80)) return -1;
    if (mono && total >= 224) return -1;
    int32_t perChannel = mono ? total : total / 2;
    if (perChannel <= 48) return h.sampleRateIndex == 2 ? 3 : 2;
    if (h.sampleRateIndex == 1 || perChannel <= 80) return 0;
    return 1;
}

void MpegDecodeLayer2(MpegDecoder* d, const MpegFrameHeader& h, const uint8_t* frame, int32_t frameSize,
                      uint8_t* out) {
    const MpegDerivedTables& t = MpegTables();
    const MpegAllocTable& table = kMpegAllocTables[d->allocTable];
    int32_t sblimit = table.subbands;
    MpegBits bits{frame, frameSize, 32 + (h.crcPresent ? 16 : 0)};
    int32_t channels = h.mode == 3 ? 1 : 2;
    int32_t bound = h.mode == 1 ? 4 * (h.modeExtension + 1) : sblimit;
    if (bound > sblimit) bound = sblimit;

    uint8_t alloc[2][32];
    uint8_t scfsi[2][32];
    float scale[2][32][3];
    for (int32_t sb = 0; sb < sblimit; sb++) {
        int32_t nbal = table.bits[sb];
        alloc[0][sb] = (uint8_t)bits.Get(nbal);
        if (channels == 2) alloc[1][sb] = sb < bound ? (uint8_t)bits.Get(nbal) : alloc[0][sb];
    }
    for (int32_t sb = 0; sb < sblimit; sb++)
        for (int32_t ch = 0; ch < channels; ch++) scfsi[ch][sb] = alloc[ch][sb] ? (uint8_t)bits.Get(2) : 0;
    for (int32_t sb = 0; sb < sblimit; sb++)
        for (int32_t ch = 0; ch < channels; ch++) {
            float* s = scale[ch][sb];
            if (!alloc[ch][sb]) {
                s[0] = s[1] = s[2] = 0.0f;
                continue;
            }
            switch (scfsi[ch][sb]) {
                case 0:
                    s[0] = t.layer12Scale[bits.Get(6)];
                    s[1] = t.layer12Scale[bits.Get(6)];
                    s[2] = t.layer12Scale[bits.Get(6)];
                    break;
                case 1:
                    s[0] = s[1] = t.layer12Scale[bits.Get(6)];
                    s[2] = t.layer12Scale[bits.Get(6)];
                    break;
                case 2:
                    s[0] = s[1] = s[2] = t.layer12Scale[bits.Get(6)];
                    break;
                default:
                    s[0] = t.layer12Scale[bits.Get(6)];
                    s[1] = s[2] = t.layer12Scale[bits.Get(6)];
                    break;
            }
        }

    for (int32_t gr = 0; gr < 12; gr++) {
        for (int32_t sb = 0; sb < sblimit; sb++) {
            float value[2][3] = {{0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}};
            for (int32_t ch = 0; ch < channels; ch++) {
                if (!alloc[ch][sb]) continue;
                if (sb >= bound && ch == 1) {
                    memcpy(value[1], value[0], sizeof value[0]);
                    continue;
                }
                int32_t levels = table.levels[sb][alloc[ch][sb]];
                int32_t v[3];
                if (levels == 3 || levels == 5 || levels == 9) {
                    int32_t code = (int32_t)bits.Get(levels == 3 ? 5 : levels == 5 ? 7 : 10);
                    for (int32_t i = 0; i < 3; i++) {
                        v[i] = code % levels;
                        code /= levels;
                    }
                } else {
                    int32_t nb = 0;
                    while ((1 << nb) <= levels) nb++;
                    for (int32_t i = 0; i < 3; i++) v[i] = (int32_t)bits.Get(nb);
                }
                for (int32_t i = 0; i < 3; i++) value[ch][i] = (float)(2 * v[i] - (levels - 1)) / (float)levels;
            }
            for (int32_t ch = 0; ch < channels; ch++)
                for (int32_t i = 0; i < 3; i++)
                    d->subbands[ch][gr * 3 + i][sb] = sb < d->limit ? value[ch][i] * scale[ch][sb][gr >> 2] : 0.0f;
        }
        for (int32_t ch = 0; ch < channels; ch++)
            for (int32_t i = 0; i < 3; i++)
                for (int32_t sb = sblimit; sb < 32; sb++) d->subbands[ch][gr * 3 + i][sb] = 0.0f;
    }
    if (d->outChannels == 1 && channels == 2) {
        for (int32_t s = 0; s < 36; s++)
            for (int32_t sb = 0; sb < 32; sb++) {
                if (d->channelMode == 1) d->subbands[0][s][sb] += d->subbands[1][s][sb];
                if (d->channelMode == 3) d->subbands[0][s][sb] = d->subbands[1][s][sb];
            }
        channels = 1;
    }
    MpegSynthesize(d, channels, 0, 36, out);
}
