// The sound archive of a folder: every sound of folder "bgm" may be packed
// into "bgm.arc" (or "bgm.dat") beside it. Layout, all integers 32-bit
// little-endian, offsets absolute:
//
//   0  reserved (4), groupCount (4, signed)
//   8  groupCount ArchiveGroup records of 12 bytes: extKey[4], tableOffset,
//      entryCount (unsigned)
//   at tableOffset: entryCount ArchiveEntry records of 16 bytes: nameKey[8],
//      size, offset
//
// nameKey: the first 8 bytes of the base name (before the first dot), A-Z
// lowered, zero-padded; extKey: the first 4 bytes of the word after the first
// dot, the same way. Keys compare as raw bytes; the first match wins.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/file.h"

constexpr int kArchiveNameBytes = 260;  // longest sound name handled, NUL included

struct ArchiveGroup {
    uint8_t extKey[4];
    int32_t tableOffset;
    uint32_t entryCount;
};

struct ArchiveEntry {
    uint8_t nameKey[8];
    int32_t size;
    int32_t offset;
};

// Splits a sound name: the folder part (before the last backslash), and the
// two keys. Returns 0 when the name is too long to handle.
int Archive_SplitName(const char* name, char* folder, size_t folderSize, uint8_t nameKey[8],
                      uint8_t extKey[4]);
// The archive candidates of a folder, in the order they are tried: 0 ".arc",
// 1 ".dat". Returns 0 when the result would not fit.
int Archive_CandidateName(const char* folder, int which, char* out, size_t outSize);
// Builds the keys of one file name (no folder), as the packer writes them.
void Archive_KeysOf(const char* fileName, uint8_t nameKey[8], uint8_t extKey[4]);
// Searches the index of an open archive. On a match leaves the file at the
// entry's first byte, fills size and offset and returns 1; else 0.
int Archive_Find(HMMIO archive, const uint8_t nameKey[8], const uint8_t extKey[4], int32_t* size,
                 int32_t* offset);
