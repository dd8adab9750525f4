// Microsoft ADPCM: 4-bit samples predicted from the two before them with one
// of seven coefficient pairs, the step adapting per sample. A block holds, per
// channel, a predictor index byte, the initial step and the first two samples
// (16-bit each), then the nibbles (high nibble first; stereo: high left, low
// right).
#pragma once

#include <cstdint>

#include "platform/win_types.h"

constexpr int kMsAdpcmCoefPairs = 7;
extern const int16_t kMsAdpcmCoef1[kMsAdpcmCoefPairs];
extern const int16_t kMsAdpcmCoef2[kMsAdpcmCoefPairs];

#pragma pack(push, 1)
struct ADPCMCOEFSET {
    int16_t iCoef1;
    int16_t iCoef2;
};
// WAVEFORMATEX followed by the Microsoft ADPCM extra bytes (cbSize 32 with
// the standard seven pairs).
struct ADPCMWAVEFORMAT {
    WAVEFORMATEX wfx;
    WORD wSamplesPerBlock;
    WORD wNumCoef;
    ADPCMCOEFSET aCoef[kMsAdpcmCoefPairs];
};
#pragma pack(pop)
static_assert(sizeof(ADPCMWAVEFORMAT) == 50);

// Samples per channel in a block of blockAlign bytes (0 if too small).
int MsAdpcm_SamplesPerBlock(int blockAlign, int channels);
// The block align the codec chooses for a rate and channel count.
int MsAdpcm_BlockAlignFor(int samplesPerSec, int channels);
// Fills fmt as the codec suggests for 16-bit PCM of this rate and channels.
void MsAdpcm_Format(ADPCMWAVEFORMAT* fmt, int samplesPerSec, int channels);

// Decodes one block of bytes (at least the headers, at most one block align)
// into interleaved 16-bit samples; returns the frames written, 0 when bytes
// are fewer than the headers. A predictor index outside the seven pairs
// decodes the block as silence.
int MsAdpcm_DecodeBlock(const uint8_t* block, int bytes, int channels, int16_t* out);
// Encodes frames (1..samples per block of blockAlign; a short last block is
// padded with its last sample) into one block of blockAlign bytes, choosing
// per channel the predictor and initial step that give the least error.
void MsAdpcm_EncodeBlock(const int16_t* pcm, int frames, int channels, int blockAlign,
                         uint8_t* block);
