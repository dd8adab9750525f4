// The PCM WAV kind: the file's own header, with the data chunk found within
// the first 120 bytes; canonical position p >= 44 lies at file offset
// p + extraHeader.
#include <cstring>

#include "sources/sound_source.h"

constexpr int32_t kDataTagScanBytes = 120;

int32_t SoundSource::OpenWave(const char* name) {
    opened = 0;
    if (!file.Open(name, "rb")) return 0;
    file.Seek(0, 2);
    int32_t length = file.Tell();
    file.Seek(0, 0);
    uint8_t local[kWavHeaderBytes] = {};
    file.Read(local, 1, kWavHeaderBytes);
    extraHeader = 0;
    file.Seek(0, 0);

    uint8_t scan[kDataTagScanBytes];
    int32_t got = file.Read(scan, 1, kDataTagScanBytes);
    int32_t at = -1;
    for (int32_t i = 5; i < got; i++) {
        if (memcmp(scan + i - 3, "data", 4) == 0) {
            at = i;
            break;
        }
    }
    if (at < 0) {
        file.Close();
        return 0;
    }
    extraHeader = at - 39;
    file.Seek(at + 1, 0);
    file.Read(local + 40, 1, 4);
    file.Seek(0, 0);
    memcpy(&header, local, kWavHeaderBytes);
    // A file that ends inside its header has no PCM rather than a length
    // that wraps around.
    int64_t total = (int64_t)length - (int64_t)kWavHeaderBytes - extraHeader;
    totalSize = total < 0 ? 0 : (uint32_t)total;
    opened = 1;
    isPcmWave = 1;
    return 1;
}

int32_t SoundSource::ReadWave(uint8_t* destination, uint32_t bytes) {
    if (!opened) return 0;
    uint32_t p = (uint32_t)file.Tell();
    readPos = p;
    if (p == 0) {
        // The caller asks for the 44-byte header here; never more than it asked.
        file.Seek((int32_t)kWavHeaderBytes + extraHeader, 0);
        memcpy(destination, &header, bytes < kWavHeaderBytes ? bytes : kWavHeaderBytes);
        readPos += kWavHeaderBytes + extraHeader;
        return 1;
    }
    file.Read(destination, 1, bytes > 0x7FFFFFFF ? 0x7FFFFFFF : (int32_t)bytes);
    readPos += bytes;
    return 1;
}

void SoundSource::SeekWave(uint32_t position) {
    if (position < kWavHeaderBytes) {
        file.Seek((int32_t)position, 0);
        readPos = position;
        return;
    }
    file.Seek((int32_t)(extraHeader + position), 0);
    readPos = extraHeader + position;
}

uint32_t SoundSource::TellWave() {
    int32_t p = file.Tell() - extraHeader;
    return p < 0 ? 0 : (uint32_t)p;
}
