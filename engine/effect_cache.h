// The effect cache: 48 decoded effects, found by name without case, the one
// unused longest replaced on a miss. Used only under the effect lock.
#pragma once

#include <cstdint>

#include "sources/wav_header.h"

constexpr int kCacheSlots = 48;
constexpr uint32_t kCipherScratchBytes = 2097152;
// Larger effects are refused rather than decoded into memory whole.
constexpr uint32_t kEffectMaxBytes = 100000000;

struct EffectCacheSlot {
    char name[256];
    WavHeader header;  // dataLength is the length of data
    uint8_t* data;     // null: the slot is empty
    uint32_t age;
};

// The slot holding name, loading it on a miss; -1 when it cannot be loaded.
int32_t EffectCache_Lookup(const char* name);
const EffectCacheSlot& EffectCache_Slot(int32_t slot);
