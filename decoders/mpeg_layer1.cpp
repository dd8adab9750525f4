// Layer I: bit allocation, scale factors and 12 blocks of samples per channel.
#include <cstring>

#include "decoders/mpeg_internal.h"

void MpegDecodeLayer1(MpegDecoder* d, const MpegFrameHeader& h, const uint8_t* frame, int32_t frameSize,
                      uint8_t* out) {
    const MpegDerivedTables& t = MpegTables();
    MpegBits bits{frame, frameSize, 32 + (h.crcPresent ? 16 : 0)};
    int32_t channels = h.mode == 3 ? 1 : 2;
    int32_t bound = h.mode == 1 ? 4 * (h.modeExtension + 1) : 32;
    uint8_t alloc[2][32];
    float scale[2][32];
    for (int32_t sb = 0; sb < 32; sb++) {
        for (int32_t ch = 0; ch < channels; ch++) {
            if (sb >= bound && ch == 1) {
                alloc[1][sb] = alloc[0][sb];
                continue;
            }
            alloc[ch][sb] = (uint8_t)bits.Get(4);
            if (alloc[ch][sb] == 15) alloc[ch][sb] = 0;  // forbidden value: nothing follows
        }
    }
    for (int32_t sb = 0; sb < 32; sb++)
        for (int32_t ch = 0; ch < channels; ch++) scale[ch][sb] = alloc[ch][sb] ? t.layer12Scale[bits.Get(6)] : 0.0f;

    for (int32_t s = 0; s < 12; s++) {
        for (int32_t sb = 0; sb < 32; sb++) {
            float value[2] = {0.0f, 0.0f};
            for (int32_t ch = 0; ch < channels; ch++) {
                int32_t nb = alloc[ch][sb] + 1;
                if (nb == 1) continue;
                if (sb >= bound && ch == 1) {
                    value[1] = value[0];
                    continue;
                }
                int32_t levels = (1 << nb) - 1;
                int32_t v = (int32_t)bits.Get(nb);
                value[ch] = (float)(2 * v - (levels - 1)) / (float)levels;
            }
            for (int32_t ch = 0; ch < channels; ch++)
                d->subbands[ch][s][sb] = sb < d->limit ? value[ch] * scale[ch][sb] : 0.0f;
        }
    }
    if (d->outChannels == 1 && channels == 2) {
        for (int32_t s = 0; s < 12; s++)
            for (int32_t sb = 0; sb < 32; sb++) {
                if (d->channelMode == 1) d->subbands[0][s][sb] += d->subbands[1][s][sb];
                if (d->channelMode == 3) d->subbands[0][s][sb] = d->subbands[1][s][sb];
            }
        channels = 1;
    }
    MpegSynthesize(d, channels, 0, 12, out);
}
