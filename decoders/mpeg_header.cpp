// Frame header parsing, bit rates, sampling rates and frame sizes.
#include "decoders/mpeg_internal.h"

int32_t MpegParseHeader(const uint8_t* b, MpegFrameHeader* h) {
    int32_t idBit = (b[1] >> 3) & 1;
    int32_t layerBits = (b[1] >> 1) & 3;
    h->crcPresent = 1 - (b[1] & 1);
    h->bitRateIndex = b[2] >> 4;
    h->sampleRateIndex = (b[2] >> 2) & 3;
    h->padding = (b[2] >> 1) & 1;
    h->privateBit = b[2] & 1;
    h->mode = b[3] >> 6;
    h->modeExtension = (b[3] >> 4) & 3;
    h->copyrightBit = (b[3] >> 3) & 1;
    h->originalBit = (b[3] >> 2) & 1;
    h->emphasis = b[3] & 3;
    if (b[0] != 0xFF) return kMpegErrorNotSync;
    if (h->sampleRateIndex >= 3 || h->bitRateIndex == 0 || h->bitRateIndex == 15 || layerBits == 0)
        return kMpegErrorUnsupported;
    if (b[1] >= 0xF0)
        h->version = idBit ? 1 : 2;
    else if ((b[1] >> 4) == 0xE)
        h->version = 3;
    else
        return kMpegErrorNotSync;
    h->layer = 4 - layerBits;
    return 0;
}

int32_t MpegBitRate(const MpegFrameHeader& h) {
    return kMpegBitRates[h.version == 1 ? 0 : 1][h.layer - 1][h.bitRateIndex] * 1000;
}

int32_t MpegSampleRate(const MpegFrameHeader& h) { return kMpegSampleRates[h.version - 1][h.sampleRateIndex]; }

int32_t MpegFrameBytes(int32_t layer, int32_t version, int32_t bitRate, int32_t sampleRate, int32_t padding) {
    if (sampleRate <= 0) return 0;
    int64_t br = bitRate;
    if (layer == 1) return (int32_t)((12 * br / sampleRate + padding) * 4);
    if (layer == 3 && version != 1) return (int32_t)(144 * br / sampleRate / 2 + padding);
    return (int32_t)(144 * br / sampleRate + padding);
}
