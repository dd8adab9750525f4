#include "engine/effect_cache.h"

#include <cstdlib>
#include <cstring>

#include "engine/effects.h"
#include "engine/sound_name.h"
#include "sources/le_bytes.h"
#include "sources/sound_cipher.h"
#include "sources/sound_file.h"
#include "sources/sound_source.h"

namespace {

EffectCacheSlot s_slots[kCacheSlots];
uint8_t s_scratch[kCipherScratchBytes];

constexpr uint32_t kDataScanBytes = 120;

bool IsEnciphered(const char* name) {
    size_t n = std::strlen(name);
    return n > 0 && (name[n - 1] == 'm' || name[n - 1] == 'M');
}

// An enciphered effect: the whole file deciphered in the scratch buffer, the
// audio taken from its "data" chunk.
bool LoadEnciphered(EffectCacheSlot& victim, const char* name) {
    SoundFile file = {};
    if (!file.Open(name, "rb")) return false;
    // Files that do not fit the scratch buffer, or have no room for their
    // trailer, are refused before anything is read.
    if (file.size < kCipherTrailerBytes ||
        (uint32_t)(file.size - kCipherTrailerBytes) > kCipherScratchBytes) {
        file.Close();
        return false;
    }
    int32_t length = file.size - kCipherTrailerBytes;
    uint8_t trailer[kCipherTrailerBytes];
    file.Seek(0, 0);
    bool whole = file.Read(s_scratch, 1, length) == length &&
                 file.Read(trailer, 1, kCipherTrailerBytes) == kCipherTrailerBytes;
    file.Close();
    if (!whole) return false;

    char key[256];
    if (!SoundName_BaseName(name, key, sizeof key)) return false;
    if (!DecipherSound(s_scratch, length, key, Le32(trailer + 4), Le32(trailer + 8))) return false;

    std::free(victim.data);
    victim.data = nullptr;
    uint32_t limit = (uint32_t)length < kDataScanBytes ? (uint32_t)length : kDataScanBytes;
    uint32_t i = 5;
    while (i < limit && std::memcmp(s_scratch + i - 3, "data", 4) != 0) i++;
    uint32_t d = i + 5;
    // The chunk's length field and the 44-byte header must lie in the image.
    if (i >= limit || d > (uint32_t)length || (uint32_t)length < kWavHeaderBytes) return false;
    uint32_t size = (uint32_t)length - d;
    victim.data = (uint8_t*)std::malloc(size ? size : 1);
    if (!victim.data) return false;
    std::memcpy(victim.data, s_scratch + d, size);
    std::memcpy(&victim.header, s_scratch, sizeof victim.header);
    uint32_t chunk = (uint32_t)Le32(s_scratch + i + 1);
    victim.header.dataLength = chunk > size ? size : chunk;
    return true;
}

// Any other effect: decoded whole through a sound source.
bool LoadThroughSource(EffectCacheSlot& victim, const char* name) {
    SoundSource source = {};
    source.Reset();
    source.PrepareCodecs(1);
    if (!source.Open(name)) {
        source.Destroy();
        return false;
    }
    source.Seek(0);
    WavHeader header = {};
    bool ok = source.Read(&header, kWavHeaderBytes) != 0 && header.dataLength <= kEffectMaxBytes;
    if (ok) {
        std::free(victim.data);
        // Zero-filled: whatever a short read leaves out plays as silence.
        victim.data = (uint8_t*)std::calloc(header.dataLength ? header.dataLength : 1, 1);
        ok = victim.data != nullptr;
    }
    if (ok) {
        victim.header = header;
        source.Read(victim.data, header.dataLength);
    }
    source.Close();
    source.ReleaseCodecs();
    source.Destroy();
    return ok;
}

}  // namespace

int32_t EffectCache_Lookup(const char* name) {
    if (!name || std::strlen(name) >= sizeof s_slots[0].name) return -1;
    for (EffectCacheSlot& s : s_slots) s.age++;
    for (int32_t i = 0; i < kCacheSlots; i++) {
        if (s_slots[i].data && SoundName_Equal(s_slots[i].name, name)) {
            s_slots[i].age = 0;
            return i;
        }
    }
    int32_t victim = 0;
    for (int32_t i = 1; i < kCacheSlots; i++)
        if (s_slots[i].age > s_slots[victim].age) victim = i;
    EffectCacheSlot& v = s_slots[victim];
    if (!(IsEnciphered(name) ? LoadEnciphered(v, name) : LoadThroughSource(v, name))) return -1;
    std::strcpy(v.name, name);
    v.age = 0;
    return victim;
}

const EffectCacheSlot& EffectCache_Slot(int32_t slot) { return s_slots[slot]; }

void EffectCache_Free() {
    for (EffectCacheSlot& s : s_slots) {
        std::free(s.data);
        s.data = nullptr;
    }
}

void EffectCache_Forget() {
    for (EffectCacheSlot& s : s_slots) s.data = nullptr;
}
