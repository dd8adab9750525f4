#include "sources/sound_source.h"

void SoundSource::Reset() {
    readPos = 0;
    totalSize = 0;
    opened = 0;
}

int32_t SoundSource::PrepareCodecs(int32_t onlyClear) {
    if (onlyClear) return 0;
    codecsReady = 1;
    return 1;
}

int32_t SoundSource::ReleaseCodecs() {
    if (!codecsReady) return 0;
    codecsReady = 0;
    return 1;
}

int32_t SoundSource::Open(const char* name) {
    (void)name;
    kind = 0;
    return 0;
}

int32_t SoundSource::Read(void* destination, uint32_t bytes) {
    (void)destination;
    (void)bytes;
    return 0;
}

void SoundSource::Seek(uint32_t position) { readPos = position; }

uint32_t SoundSource::Tell() { return readPos; }

int32_t SoundSource::Close() {
    if (!opened) return 0;
    opened = 0;
    return 1;
}

void SoundSource::Destroy() { ReleaseCodecs(); }
