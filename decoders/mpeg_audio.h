// The MPEG audio decoder: Layers I, II and III at the MPEG-1, MPEG-2 and
// MPEG-2.5 sampling rates, decoded to interleaved 16-bit or 8-bit PCM.
//
// All decoding state lives in one MpegDecoder. The flat Mpeg* functions work
// on a process-wide default decoder; a stream that may be decoded alongside
// another (two music slots cross-fading) keeps a decoder of its own and calls
// the members directly.
#pragma once

#include <cstdint>

// Error codes kept as the last error.
constexpr int32_t kMpegErrorNotSync = 3;      // not a frame header
constexpr int32_t kMpegErrorUnsupported = 4;  // reserved or unsupported field
constexpr int32_t kMpegErrorShortInput = 5;   // too little input

// Bits of MpegOptions::conversion.
constexpr int32_t kMpegConvertChannelMask = 3;  // 1 sum, 2 first, 3 second channel
constexpr int32_t kMpegConvert8Bit = 8;

struct MpegFrameHeader {
    int32_t version;  // 1 MPEG-1, 2 MPEG-2, 3 MPEG-2.5
    int32_t layer;    // 1, 2 or 3
    int32_t crcPresent;
    int32_t bitRateIndex;
    int32_t sampleRateIndex;
    int32_t padding;
    int32_t privateBit;
    int32_t mode;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    int32_t modeExtension;
    int32_t copyrightBit;
    int32_t originalBit;
    int32_t emphasis;
};

struct MpegStreamInfo {
    MpegFrameHeader header;
    int32_t channels;
    int32_t bitsPerSample;
    int32_t sampleRate;
    int32_t bitRate;  // 0 when a Xing header was found
    int32_t frameCount;
    int32_t skipSize;
    int32_t dataSize;
    int32_t minInputSize;
    int32_t maxInputSize;
    int32_t outputSize;
};

struct MpegOptions {
    int32_t reduction;       // 0 full, 1 half, 2 quarter rate
    int32_t conversion;      // kMpegConvert* bits
    int32_t frequencyLimit;  // Hz
};

struct MpegFrameRequest {
    MpegFrameHeader header;
    int32_t bitRate;
    const uint8_t* input;
    int32_t inputSize;  // in: bytes at input; out: the frame size
    void* output;
    int32_t outputSize;  // out: PCM bytes written
};

// Largest Layer III frame (320 kbit/s at 32 kHz, or 160 kbit/s at 8 kHz).
constexpr int32_t kMpegMaxFrameBytes = 1441;
// Reservoir: main data is compacted once the write position passes this.
constexpr int32_t kMpegReservoirCompactAt = 6692;
// Room for the fullest reservoir plus the furthest a granule's Huffman data
// can run past it (576 lines of the longest codes), so reads stay inside.
constexpr int32_t kMpegReservoirBytes = 12288;

struct MpegDecoder;
typedef void (*MpegFrameRoutine)(MpegDecoder* d, const MpegFrameHeader& h, const uint8_t* frame,
                                 int32_t frameSize, uint8_t* out);

// Granule-local Layer III state kept across granules of one frame.
struct MpegLayer3Channel {
    uint8_t scalefactorsLong[22];   // MPEG-1 scfsi reuses granule 0's
    uint8_t scalefactorsShort[13][3];
    uint8_t illegalLong[22];        // LSF intensity: the "not intensity" position
    uint8_t illegalShort[13];
};

struct MpegDecoder {
    MpegOptions options;
    float equalizer[32];
    int32_t equalizerOn;
    int32_t lastError;

    // Remembered by the last ReadStreamInfo.
    int32_t streamRate;
    int32_t outputSize;

    // The stream prepared by StartDecoding.
    MpegFrameRoutine frameRoutine;  // null until a stream is prepared
    int32_t layer;
    int32_t version;
    int32_t limit;         // subbands decoded (L)
    int32_t reduction;     // 0..2
    int32_t outChannels;   // 1 or 2
    int32_t outBits;       // 16 or 8
    int32_t channelMode;   // conversion bits 0-1
    int32_t frameOutBytes; // bytes one frame writes
    int32_t allocTable;    // Layer II table (index into the allocation tables)
    int32_t allocSubbands; // Layer II sblimit

    // Synthesis: per channel 16 blocks of the 64-value matrixing output V.
    float history[2][16 * 64];
    int32_t historyIndex;

    // Layer III.
    uint8_t reservoir[kMpegReservoirBytes];
    int32_t reservoirSize;
    float overlap[2][32 * 18];
    MpegLayer3Channel l3[2];

    // Scratch for one frame: subband samples, [channel][block][subband].
    float subbands[2][36][32];
    float spectrum[2][576];

    void Init();
    int32_t FindSync(const uint8_t* buffer, int32_t length, int32_t* offset);
    int32_t ReadStreamInfo(const uint8_t* buffer, int32_t length, MpegStreamInfo* info);
    int32_t StartDecoding(const uint8_t* buffer, int32_t length);
    int32_t DecodeFrame(MpegFrameRequest* request);
    int32_t GetOptions(MpegOptions* out);
    int32_t SetOptions(const MpegOptions* in);
    int32_t GetLastError();
    int32_t EnableEqualizer(int32_t flag);
    int32_t SetEqualizerBands(const double bands[10]);
};

// The flat interface on the process-wide default decoder.
void MpegInit();
int32_t MpegFindSync(const uint8_t* buffer, int32_t length, int32_t* offset);
int32_t MpegReadStreamInfo(const uint8_t* buffer, int32_t length, MpegStreamInfo* info);
int32_t MpegStartDecoding(const uint8_t* buffer, int32_t length);
int32_t MpegDecodeFrame(MpegFrameRequest* request);
int32_t MpegGetOptions(MpegOptions* out);
int32_t MpegSetOptions(const MpegOptions* in);
int32_t MpegGetLastError();
int32_t MpegEnableEqualizer(int32_t flag);
int32_t MpegSetEqualizerBands(const double bands[10]);
