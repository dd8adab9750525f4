// Files addressed by the system's Windows-style names, and the buffered
// multimedia file operations the sound files are read through.
//
// Name mapping (File_HostPath): the CP932 name is converted to UTF-8,
// backslashes become slashes, a drive letter "X:" maps to the folder named by
// TONE_DRIVE_X (default $XDG_DATA_HOME/tonecore/drive_x, or
// ~/.local/share/tonecore/drive_x), a name starting with a separator is a
// host-absolute path, and any other name is relative to the current
// directory. "." and ".." are folded as Windows folds them. Each component
// that does not exist under its exact name is matched case-insensitively
// (ASCII letters) against its folder, since Windows names ignore case.
#pragma once

#include <cstddef>
#include <cstdio>

#include "platform/mm_results.h"
#include "platform/win_types.h"

constexpr size_t kHostPathBytes = 4096;

// Returns 1 and the host path in out, or 0 (bad CP932 text, empty name,
// path too long). Components that match nothing are kept as given, so the
// result also names a file about to be created.
int File_HostPath(const char* name, char* out, size_t outSize);

// A C-runtime file opened by a Windows-style name (mode as for fopen).
FILE* File_OpenC(const char* name, const char* mode);

// Multimedia file I/O.
struct MmioFile;
typedef MmioFile* HMMIO;

// The fields of the information block that callers read.
struct MMIOINFO {
    DWORD dwFlags;
    LONG lBufOffset;   // current file position
    LONG lDiskOffset;  // same: our files keep no separate buffer position
};

constexpr DWORD MMIO_READ = 0x00000000;
constexpr DWORD MMIO_WRITE = 0x00000001;
constexpr DWORD MMIO_READWRITE = 0x00000002;
constexpr DWORD MMIO_CREATE = 0x00001000;
constexpr DWORD MMIO_EXIST = 0x00004000;
constexpr DWORD MMIO_ALLOCBUF = 0x00010000;
constexpr DWORD MMIO_DENYWRITE = 0x00000020;

// Opens name. MMIO_CREATE creates (or truncates) it for writing; without it
// the file must exist and is not truncated. Null on failure, or when all
// kMmioFiles handles are in use.
constexpr int kMmioFiles = 64;
HMMIO mmioOpenA(const char* name, MMIOINFO* info, DWORD flags);
// Bytes read (0 at the end), or -1 on error.
LONG mmioRead(HMMIO h, char* buffer, LONG count);
LONG mmioWrite(HMMIO h, const char* buffer, LONG count);
// origin SEEK_SET, SEEK_CUR or SEEK_END; the new position, or -1 (the
// position is then unchanged). Positions past the end are allowed.
LONG mmioSeek(HMMIO h, LONG offset, int origin);
MMRESULT mmioGetInfo(HMMIO h, MMIOINFO* info, UINT flags);
MMRESULT mmioClose(HMMIO h, UINT flags);
// Handles currently open, and mmioRead calls made (for tests).
int Mmio_OpenCount();
int Mmio_ReadCount();
