// Writes the mix to a 44100 Hz stereo 16-bit WAV file. The header is written
// with zero lengths at open and fixed up at close.
#include <bit>
#include <cstdio>
#include <cstring>

#include "platform/audio/audio_output.h"
#include "platform/audio/backends/backend.h"

static FILE* s_file = nullptr;
static uint64_t s_dataBytes = 0;
// The RIFF length field is 32 bits: the data stops there (about 6.7 hours).
constexpr uint64_t kMaxData = 0xFFFFFFFFull - 36 - 3;

static void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = (uint8_t)(v >> (8 * i));
}

static void Put16(uint8_t* p, uint16_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

static void Header(uint8_t* h, uint32_t dataBytes) {
    std::memcpy(h, "RIFF", 4);
    Put32(h + 4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    Put32(h + 16, 16);
    Put16(h + 20, 1);
    Put16(h + 22, 2);
    Put32(h + 24, kOutputRate);
    Put32(h + 28, kOutputRate * 4);
    Put16(h + 32, 4);
    Put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    Put32(h + 40, dataBytes);
}

static bool WavOpen(const char* path, char* why, size_t whySize) {
    s_file = std::fopen(path, "wb");
    if (!s_file) {
        std::snprintf(why, whySize, "cannot create %s", path);
        return false;
    }
    uint8_t h[44];
    Header(h, 0);
    if (std::fwrite(h, 1, sizeof h, s_file) != sizeof h) {
        std::snprintf(why, whySize, "cannot write %s", path);
        std::fclose(s_file);
        s_file = nullptr;
        return false;
    }
    s_dataBytes = 0;
    return true;
}

static void WavWrite(const int16_t* frames, size_t count) {
    if (!s_file) return;
    uint64_t bytes = (uint64_t)count * 4;
    if (s_dataBytes + bytes > kMaxData) bytes = (kMaxData - s_dataBytes) & ~3ull;
    if constexpr (std::endian::native == std::endian::little) {
        s_dataBytes += std::fwrite(frames, 1, bytes, s_file);
    } else {
        for (uint64_t i = 0; i < bytes / 2; i++) {
            uint8_t le[2];
            Put16(le, (uint16_t)frames[i]);
            s_dataBytes += std::fwrite(le, 1, 2, s_file);
        }
    }
}

static void WavClose() {
    if (!s_file) return;
    uint8_t h[44];
    Header(h, (uint32_t)s_dataBytes);
    std::fseek(s_file, 0, SEEK_SET);
    std::fwrite(h, 1, sizeof h, s_file);
    std::fclose(s_file);
    s_file = nullptr;
}

const AudioBackend kWavBackend = {"wav", true, true, WavOpen, WavWrite, WavClose};
