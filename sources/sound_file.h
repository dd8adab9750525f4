// The engine's file handle: a loose file, or one entry of the folder's sound
// archive presented as a file of its own (positions and size relative to the
// entry).
#pragma once

#include <cstdint>

#include "platform/file.h"

// Long entry reads are cut into pieces of this size with a pause after each
// full piece, so that loading a whole music file leaves the disk to others.
constexpr int32_t kEntryReadPiece = 0x80000;
constexpr uint32_t kEntryReadPauseMs = 2;

struct SoundFile {
    HMMIO handle;   // null while closed
    int32_t size;   // length of the loose file or the entry (read mode)
    int32_t loose;  // -1: the file itself; 0: an entry inside an archive
    int32_t base;   // offset of the entry's first byte in the archive

    // mode as for fopen: 'w' or 'a' in its first two characters writes or
    // appends, anything else reads (through the archive of the name's folder).
    int32_t Open(const char* name, const char* mode);
    int32_t Read(void* destination, int32_t elementSize, int32_t count);
    // origin 0 start, 1 current position, 2 end (of the entry).
    int32_t Seek(int32_t offset, int32_t origin);
    int32_t Tell();
    int32_t Close();
    bool IsOpen() const { return handle != nullptr; }
};
