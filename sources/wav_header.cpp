#include "sources/wav_header.h"

#include <cstring>

WavHeader WavHeader_Make(uint16_t channels, uint32_t samplesPerSec, uint16_t bitsPerSample,
                         uint32_t dataLength) {
    WavHeader h;
    memcpy(h.riff, "RIFF", 4);
    h.riffLength = dataLength + 36;
    memcpy(h.wave, "WAVE", 4);
    memcpy(h.fmt, "fmt ", 4);
    h.fmtLength = 16;
    h.formatTag = 1;
    h.channels = channels;
    h.samplesPerSec = samplesPerSec;
    h.blockAlign = (uint16_t)(channels * (bitsPerSample / 8));
    h.bytesPerSec = samplesPerSec * h.blockAlign;
    h.bitsPerSample = bitsPerSample;
    memcpy(h.data, "data", 4);
    h.dataLength = dataLength;
    return h;
}
