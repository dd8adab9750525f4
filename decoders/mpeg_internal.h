// Shared by the MPEG audio decoder's files: tables, the bit reader, the
// layer routines and the synthesis.
#pragma once

#include <cstdint>
#include <cstring>

#include "decoders/mpeg_audio.h"

// The hottest loops (synthesis, IMDCT) are compiled twice: for the baseline
// processor and for one with AVX2 and FMA, chosen once by the processor's
// features.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MPEG_TARGET_FMA __attribute__((target("avx2,fma")))
inline bool MpegHasFma() {
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return has;
}
#else
#define MPEG_TARGET_FMA
inline bool MpegHasFma() { return false; }
#endif

// ---- Standard tables (mpeg_tables.cpp) ----

// Bit rates in kbit/s: [lsf][layer - 1][index]; lsf is 0 for MPEG-1.
extern const int16_t kMpegBitRates[2][3][16];
// Sampling rates in Hz: [version - 1][index].
extern const int32_t kMpegSampleRates[3][3];
// Layer III scale-factor band boundaries for the nine rates
// (44.1, 48, 32, 22.05, 24, 16, 11.025, 12, 8 kHz).
extern const int16_t kMpegBandsLong[9][23];
extern const int16_t kMpegBandsShort[9][14];
extern const uint8_t kMpegPretab[22];
// The synthesis window D[i] of the standard.
extern const float kMpegSynthesisWindow[512];

// Layer II bit-allocation tables.
struct MpegAllocTable {
    int32_t subbands;
    uint8_t bits[32];            // nbal per subband
    const uint16_t* levels[32];  // quantisation steps per allocation index (index 0 unused)
};
extern const MpegAllocTable kMpegAllocTables[5];  // a, b, c, d, lower sampling frequencies

// Layer III Huffman code tables of the standard: code and length per (x, y).
struct MpegHuffmanSource {
    int32_t size;  // x and y run 0..size-1
    const uint16_t* codes;
    const uint8_t* lengths;
};
extern const MpegHuffmanSource kMpegHuffmanSources[17];  // tables 0,1,2,3,5,...,13,15,16,24 and quad A
extern const uint8_t kMpegHuffmanSourceOf[32];          // table_select -> index in kMpegHuffmanSources
extern const uint8_t kMpegLinbits[32];
constexpr int32_t kMpegHuffmanSourceCount = 17;
constexpr int32_t kMpegQuadSource = 16;

// ---- Derived tables (mpeg_derived.cpp), built once by MpegInit ----

struct MpegHuffEntry {
    uint16_t next;  // sub-table start when bits has kMpegHuffSub
    uint8_t bits;   // bits consumed at this level, or kMpegHuffSub | sub-table bits
    uint8_t value;  // x << 4 | y (quad: vwxy)
};
constexpr uint8_t kMpegHuffSub = 0x80;
constexpr int32_t kMpegHuffRootBits = 8;

constexpr int32_t kMpegPow2Zero = 640;
constexpr int32_t kMpegImdctStride = 20;  // 18 rounded up to whole vectors
constexpr int32_t kMpegPow2Entries = 768;

struct MpegDerivedTables {
    MpegHuffEntry huffman[kMpegHuffmanSourceCount][1 << 12];  // per source table, root level first
    int32_t huffmanUsed[kMpegHuffmanSourceCount];      // entries; 0 when the table could not be built
    int32_t huffmanRootBits[kMpegHuffmanSourceCount];
    float pow43[8207];            // |x|^(4/3)
    float pow2Quarter[kMpegPow2Entries];  // 2^((e - kMpegPow2Zero) / 4)
    float layer12Scale[64];       // 2^(1 - i/3)
    float imdctLong[18][kMpegImdctStride];  // [k][o] for the 18 outputs kept by symmetry, padded
    float imdctShort[6][12];      // [k][i]
    float window[4][36];          // by block type; type 2 holds the short window in 0..11
    float aliasCs[8], aliasCa[8];
    float synthesis[3][512];      // window per reduction, scaled to 16-bit units
};
const MpegDerivedTables& MpegTables();

// ---- Bit reader over a bounded byte range ----

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the bit reader loads little-endian words");

struct MpegBits {
    const uint8_t* data;
    int32_t bytes;  // readable bytes; reads past them give zero bits
    int32_t pos;    // bit position

    uint32_t Get(int32_t n) {  // n <= 24
        if (n == 0) return 0;
        uint32_t v = Peek32() >> (32 - n);
        pos += n;
        return v;
    }
    // The next 32 bits, most significant first.
    uint32_t Peek32() const {
        int32_t byte = pos >> 3;
        uint64_t v = 0;
        if (byte >= 0 && byte + 8 <= bytes) {
            memcpy(&v, data + byte, 8);
            v = __builtin_bswap64(v) >> 24;  // the first five bytes, big-endian (little-endian host)
        } else {
            for (int32_t i = 0; i < 5; i++) {
                int32_t at = byte + i;
                v = v << 8 | ((at >= 0 && at < bytes) ? data[at] : 0u);
            }
        }
        return (uint32_t)(v >> (8 - (pos & 7)));
    }
};

// ---- Frame header and sizes (mpeg_header.cpp) ----

int32_t MpegParseHeader(const uint8_t* b, MpegFrameHeader* h);  // 0 or an error code
int32_t MpegFrameBytes(int32_t layer, int32_t version, int32_t bitRate, int32_t sampleRate, int32_t padding);
int32_t MpegBitRate(const MpegFrameHeader& h);
int32_t MpegSampleRate(const MpegFrameHeader& h);

// ---- Layer routines ----

void MpegDecodeLayer1(MpegDecoder* d, const MpegFrameHeader& h, const uint8_t* frame, int32_t frameSize,
                      uint8_t* out);
void MpegDecodeLayer2(MpegDecoder* d, const MpegFrameHeader& h, const uint8_t* frame, int32_t frameSize,
                      uint8_t* out);
void MpegDecodeLayer3(MpegDecoder* d, const MpegFrameHeader& h, const uint8_t* frame, int32_t frameSize,
                      uint8_t* out);
// Layer II table for a stream, or -1 when the standard allows none.
int32_t MpegLayer2TableFor(const MpegFrameHeader& h);

// ---- Synthesis and output (mpeg_synthesis.cpp) ----

// Runs blocks of 32 subband values of each decoded channel through the
// filter bank and writes interleaved PCM at out, starting at block first.
// channels: the frame's decoded channels (1 or 2), mapped to the output
// channels by the decoder's channel mode.
void MpegSynthesize(MpegDecoder* d, int32_t channels, int32_t firstBlock, int32_t blocks, uint8_t* out);
// One output value to an integer: truncated toward zero, clipped.
[[gnu::always_inline]] inline int32_t MpegToInteger(float v) {
    v = v > -32768.0f ? v : -32768.0f;  // NaN goes to -32768 too
    v = v < 32767.0f ? v : 32767.0f;
    return (int32_t)v;
}
