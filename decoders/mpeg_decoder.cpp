// The decoder's interface: options, equaliser, sync search, stream
// information (with the Xing header), stream start and frame decoding; and the
// flat functions on the process-wide default decoder.
#include <cmath>
#include <cstring>

#include "decoders/mpeg_internal.h"

namespace {

MpegDecoder g_defaultDecoder;

uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

int32_t SideInfoBytes(const MpegFrameHeader& h) {
    if (h.layer != 3) return 0;
    if (h.version == 1) return h.mode == 3 ? 17 : 32;
    return h.mode == 3 ? 9 : 17;
}

int32_t ClampReduction(int32_t r) { return r < 0 ? 0 : r > 2 ? 2 : r; }

}  // namespace

void MpegDecoder::Init() {
    MpegTables();
    options.reduction = 0;
    options.conversion = 0;
    options.frequencyLimit = 24000;
    for (float& f : equalizer) f = 1.0f;
    equalizerOn = 0;
    frameRoutine = nullptr;
}

int32_t MpegDecoder::FindSync(const uint8_t* buffer, int32_t length, int32_t* offset) {
    *offset = 0;
    for (int32_t i = 0; i < length - 3; i++) {
        if (buffer[i] == 0xFF && ((buffer[i + 1] >> 4) == 0xF || (buffer[i + 1] >> 4) == 0xE)) {
            *offset = i;
            return 1;
        }
    }
    lastError = kMpegErrorShortInput;
    return 0;
}

int32_t MpegDecoder::ReadStreamInfo(const uint8_t* buffer, int32_t length, MpegStreamInfo* info) {
    if (length < 156) {
        lastError = kMpegErrorShortInput;
        return 0;
    }
    MpegFrameHeader& h = info->header;
    int32_t error = MpegParseHeader(buffer, &h);
    if (error) {
        lastError = error;
        return 0;
    }
    int32_t xing = 4 + (h.crcPresent ? 2 : 0) + SideInfoBytes(h);
    int32_t bitRate = MpegBitRate(h);
    int32_t fs = MpegSampleRate(h);
    int32_t lsf = h.version == 1 ? 0 : 1;
    int32_t extra = h.layer == 1 ? 4 : 1;
    int32_t hasXing = memcmp(buffer + xing, "Xing", 4) == 0;
    if (hasXing) {
        uint32_t flags = BigEndian32(buffer + xing + 4);
        if ((flags & 3) == 0) {
            lastError = kMpegErrorUnsupported;
            return 0;
        }
        info->frameCount = (int32_t)BigEndian32(buffer + xing + 8);
        info->dataSize = (int32_t)BigEndian32(buffer + xing + 12);
        int32_t bmin = 0, bmax = 0;
        for (int32_t i = 1; i <= 14; i++) {
            int32_t b = kMpegBitRates[lsf][h.layer - 1][i] * 1000;
            if (bmin == 0 || b < bmin) bmin = b;
            if (b > bmax) bmax = b;
        }
        info->skipSize = MpegFrameBytes(h.layer, h.version, bitRate, fs, h.padding);
        info->minInputSize = MpegFrameBytes(h.layer, h.version, bmin, fs, 0);
        info->maxInputSize = MpegFrameBytes(h.layer, h.version, bmax, fs, 0) + extra;
    } else {
        info->frameCount = 0;
        info->dataSize = 0;
        info->skipSize = 0;
        info->minInputSize = MpegFrameBytes(h.layer, h.version, bitRate, fs, 0);
        info->maxInputSize = info->minInputSize + extra;
    }
    int32_t reduction = ClampReduction(options.reduction);
    int32_t samples = h.layer == 1 ? 384 >> reduction : 1152 >> reduction;
    if (h.layer == 3 && h.version != 1) samples /= 2;
    info->channels = (h.mode == 3 || (options.conversion & kMpegConvertChannelMask)) ? 1 : 2;
    if (options.conversion & kMpegConvert8Bit) {
        info->bitsPerSample = 8;
        info->outputSize = samples * info->channels;
    } else {
        info->bitsPerSample = 16;
        info->outputSize = samples * info->channels * 2;
    }
    streamRate = fs;
    outputSize = info->outputSize;
    info->sampleRate = fs >> reduction;
    info->bitRate = hasXing ? 0 : bitRate;
    return 1;
}

int32_t MpegDecoder::StartDecoding(const uint8_t* buffer, int32_t length) {
    MpegStreamInfo info;
    frameRoutine = nullptr;
    if (!ReadStreamInfo(buffer, length, &info)) return 0;
    const MpegFrameHeader& h = info.header;
    memset(history, 0, sizeof history);
    historyIndex = 0;

    layer = h.layer;
    version = h.version;
    reduction = ClampReduction(options.reduction);
    outChannels = info.channels;
    outBits = info.bitsPerSample;
    channelMode = h.mode == 3 ? 0 : (options.conversion & kMpegConvertChannelMask);
    frameOutBytes = info.outputSize;

    // Subband limit: the subband nearest the frequency limit, never the top
    // one at full rate, and within what the rate reduction keeps.
    int64_t fs = streamRate;
    int64_t nearest = ((int64_t)options.frequencyLimit * 64 + fs / 2) / fs;
    int32_t cap = 32 >> reduction;
    if (cap > 8) cap -= 1;
    limit = nearest < cap ? (int32_t)nearest : cap;
    if (limit < 0) limit = 0;

    if (h.layer == 1) {
        frameRoutine = MpegDecodeLayer1;
    } else if (h.layer == 2) {
        allocTable = MpegLayer2TableFor(h);
        if (allocTable < 0) {
            lastError = kMpegErrorUnsupported;
            return 0;
        }
        allocSubbands = kMpegAllocTables[allocTable].subbands;
        if (limit > allocSubbands) limit = allocSubbands;
        frameRoutine = MpegDecodeLayer2;
    } else {
        reservoirSize = 0;
        memset(reservoir, 0, sizeof reservoir);
        memset(overlap, 0, sizeof overlap);
        memset(l3, 0, sizeof l3);
        frameRoutine = MpegDecodeLayer3;
    }
    return 1;
}

int32_t MpegDecoder::DecodeFrame(MpegFrameRequest* request) {
    if (request->inputSize <= 4) {
        lastError = kMpegErrorShortInput;
        return 0;
    }
    MpegFrameHeader& h = request->header;
    int32_t error = MpegParseHeader(request->input, &h);
    if (error) {
        lastError = error;
        return 0;
    }
    request->bitRate = MpegBitRate(h);
    int32_t frameSize = MpegFrameBytes(h.layer, h.version, request->bitRate, streamRate, h.padding);
    if (request->inputSize < frameSize) {
        lastError = kMpegErrorShortInput;
        return 0;
    }
    // A frame of another layer or version than the started stream would be
    // parsed by the wrong routine and could write past the frame's output.
    if (!frameRoutine || h.layer != layer || h.version != version) {
        lastError = kMpegErrorUnsupported;
        return 0;
    }
    frameRoutine(this, h, request->input, frameSize, (uint8_t*)request->output);
    request->inputSize = frameSize;
    request->outputSize = frameOutBytes;
    return 1;
}

int32_t MpegDecoder::GetOptions(MpegOptions* out) {
    *out = options;
    return 1;
}

int32_t MpegDecoder::SetOptions(const MpegOptions* in) {
    options = *in;
    return 1;
}

int32_t MpegDecoder::GetLastError() { return lastError; }

int32_t MpegDecoder::EnableEqualizer(int32_t flag) {
    equalizerOn = flag != 0;
    return 0;
}

int32_t MpegDecoder::SetEqualizerBands(const double bands[10]) {
    static const uint8_t kBandOf[32] = {0, 1, 2, 3, 4, 5, 6, 6, 7, 7, 7, 7, 8, 8, 8, 8,
                                        8, 8, 8, 8, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
    for (int32_t i = 0; i < 32; i++) equalizer[i] = (float)std::pow(10.0, bands[kBandOf[i]]);
    return 1;
}

void MpegInit() { g_defaultDecoder.Init(); }
int32_t MpegFindSync(const uint8_t* buffer, int32_t length, int32_t* offset) {
    return g_defaultDecoder.FindSync(buffer, length, offset);
}
int32_t MpegReadStreamInfo(const uint8_t* buffer, int32_t length, MpegStreamInfo* info) {
    return g_defaultDecoder.ReadStreamInfo(buffer, length, info);
}
int32_t MpegStartDecoding(const uint8_t* buffer, int32_t length) {
    return g_defaultDecoder.StartDecoding(buffer, length);
}
int32_t MpegDecodeFrame(MpegFrameRequest* request) { return g_defaultDecoder.DecodeFrame(request); }
int32_t MpegGetOptions(MpegOptions* out) { return g_defaultDecoder.GetOptions(out); }
int32_t MpegSetOptions(const MpegOptions* in) { return g_defaultDecoder.SetOptions(in); }
int32_t MpegGetLastError() { return g_defaultDecoder.GetLastError(); }
int32_t MpegEnableEqualizer(int32_t flag) { return g_defaultDecoder.EnableEqualizer(flag); }
int32_t MpegSetEqualizerBands(const double bands[10]) { return g_defaultDecoder.SetEqualizerBands(bands); }
