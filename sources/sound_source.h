// The decoding source of one sound: opened by name, it serves the canonical
// stream (the 44-byte WAV header, then PCM) whatever the file's kind.
//
// Until the file kinds are built, Open refuses every name.
#pragma once

#include <cstdint>

constexpr uint32_t kWavHeaderBytes = 44;

struct SoundSource {
    int32_t codecsReady;
    uint32_t readPos;   // position reached by the last Read or Seek
    int32_t kind;
    uint32_t totalSize;
    int32_t opened;

    void Reset();
    int32_t PrepareCodecs(int32_t onlyClear);
    int32_t ReleaseCodecs();
    int32_t Open(const char* name);
    int32_t Read(void* destination, uint32_t bytes);
    void Seek(uint32_t position);
    uint32_t Tell();
    int32_t Close();
    void Destroy();
};
