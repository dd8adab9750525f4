#include "sources/sound_file.h"

#include "platform/clock.h"
#include "sources/sound_archive.h"

static bool ModeHas(const char* mode, char lower) {
    for (int i = 0; i < 2 && mode[i]; i++)
        if (mode[i] == lower || mode[i] == lower - 32) return true;
    return false;
}

int32_t SoundFile::Open(const char* name, const char* mode) {
    if (handle) return 0;
    if (!name || !mode) return 0;
    if (ModeHas(mode, 'w')) {
        // The existing file is opened as it is; only a missing one is created.
        handle = mmioOpenA(name, nullptr, MMIO_WRITE);
        if (!handle) handle = mmioOpenA(name, nullptr, MMIO_WRITE | MMIO_CREATE);
        loose = -1;
        return handle ? 1 : 0;
    }
    if (ModeHas(mode, 'a')) {
        handle = mmioOpenA(name, nullptr, MMIO_READWRITE);
        loose = -1;
        if (!handle) return 0;
        mmioSeek(handle, 0, SEEK_END);
        return 1;
    }

    // A folder with an archive is served from the first archive that opens,
    // and from nothing else.
    char folder[kArchiveNameBytes];
    uint8_t nameKey[8], extKey[4];
    if (!Archive_SplitName(name, folder, sizeof folder, nameKey, extKey)) return 0;
    for (int which = 0; which < 2; which++) {
        char archiveName[kArchiveNameBytes + 4];
        if (!Archive_CandidateName(folder, which, archiveName, sizeof archiveName)) continue;
        handle = mmioOpenA(archiveName, nullptr, MMIO_READ | MMIO_ALLOCBUF | MMIO_DENYWRITE);
        if (!handle) continue;
        int32_t entrySize = 0, entryOffset = 0;
        if (Archive_Find(handle, nameKey, extKey, &entrySize, &entryOffset)) {
            size = entrySize;
            base = entryOffset;
            loose = 0;
            return 1;
        }
        mmioClose(handle, 0);
        handle = nullptr;
        return 0;
    }

    handle = mmioOpenA(name, nullptr, MMIO_READ | MMIO_ALLOCBUF | MMIO_DENYWRITE);
    if (!handle) return 0;
    loose = -1;
    LONG end = mmioSeek(handle, 0, SEEK_END);
    size = end < 0 ? 0 : end;
    mmioSeek(handle, 0, SEEK_SET);
    return 1;
}

int32_t SoundFile::Read(void* destination, int32_t elementSize, int32_t count) {
    if (!handle || elementSize <= 0 || count <= 0) return 0;
    int64_t total = (int64_t)elementSize * count;
    if (total > 0x7FFFFFFF) return 0;
    char* out = (char*)destination;
    int32_t left = (int32_t)total;
    if (loose != 0 || left <= kEntryReadPiece) {
        LONG got = mmioRead(handle, out, left);
        return got < 0 ? 0 : got;
    }
    int32_t done = 0;
    while (left > kEntryReadPiece) {
        LONG got = mmioRead(handle, out + done, kEntryReadPiece);
        if (got > 0) done += got;
        if (got != kEntryReadPiece) return done;  // the archive ended early
        left -= kEntryReadPiece;
        Sleep(kEntryReadPauseMs);
    }
    LONG got = mmioRead(handle, out + done, left);
    if (got > 0) done += got;
    return done;
}

int32_t SoundFile::Seek(int32_t offset, int32_t origin) {
    if (!handle) return -1;
    if (loose != 0) return mmioSeek(handle, offset, origin);
    int64_t target;
    if (origin == 0)
        target = (int64_t)base + offset;
    else if (origin == 2)
        target = (int64_t)base + size + offset;
    else
        return mmioSeek(handle, offset, SEEK_CUR);
    if (target < 0 || target > 0x7FFFFFFF) return -1;
    return mmioSeek(handle, (LONG)target, SEEK_SET);
}

int32_t SoundFile::Tell() {
    if (!handle) return 0;
    MMIOINFO info;
    if (mmioGetInfo(handle, &info, 0) != MMSYSERR_NOERROR) return 0;
    return loose != 0 ? info.lBufOffset : info.lBufOffset - base;
}

int32_t SoundFile::Close() {
    if (!handle) return 0;
    mmioClose(handle, 0);
    handle = nullptr;
    return 1;
}
