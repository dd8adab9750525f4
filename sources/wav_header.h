// The canonical 44-byte RIFF/WAVE PCM header every sound source serves at
// positions 0-43 of its stream (integers little-endian).
#pragma once

#include <cstdint>

constexpr uint32_t kWavHeaderBytes = 44;

#pragma pack(push, 1)
struct WavHeader {
    char riff[4];  // "RIFF"
    uint32_t riffLength;
    char wave[4];  // "WAVE"
    char fmt[4];   // "fmt "
    uint32_t fmtLength;  // 16
    uint16_t formatTag;  // 1 = PCM
    uint16_t channels;
    uint32_t samplesPerSec;
    uint32_t bytesPerSec;
    uint16_t blockAlign;
    uint16_t bitsPerSample;
    char data[4];  // "data"
    uint32_t dataLength;
};
#pragma pack(pop)
static_assert(sizeof(WavHeader) == kWavHeaderBytes);

// A canonical header for PCM of this format and data length.
WavHeader WavHeader_Make(uint16_t channels, uint32_t samplesPerSec, uint16_t bitsPerSample,
                         uint32_t dataLength);
