#include "platform/file.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <mutex>

#include "platform/text.h"

// ---- name mapping ----

static bool Exists(const char* path) {
    struct stat st;
    return lstat(path, &st) == 0;
}

// The folder a drive letter stands for, without a trailing slash.
static int DriveFolder(char letter, char* out, size_t outSize) {
    char var[] = "TONE_DRIVE_X";
    var[11] = (char)toupper((unsigned char)letter);
    const char* dir = getenv(var);
    int n;
    if (dir && *dir) {
        n = snprintf(out, outSize, "%s", dir);
    } else {
        char lower = (char)tolower((unsigned char)letter);
        const char* data = getenv("XDG_DATA_HOME");
        const char* home = getenv("HOME");
        if (data && *data)
            n = snprintf(out, outSize, "%s/tonecore/drive_%c", data, lower);
        else if (home && *home)
            n = snprintf(out, outSize, "%s/.local/share/tonecore/drive_%c", home, lower);
        else
            n = snprintf(out, outSize, "/tmp/tonecore/drive_%c", lower);
    }
    if (n < 0 || (size_t)n >= outSize) return 0;
    while (n > 1 && out[n - 1] == '/') out[--n] = 0;
    return 1;
}

// Appends component to path (length *len): the exact name when it exists,
// else the first entry of the folder that matches it ignoring ASCII case,
// else the name as given.
static int AppendComponent(char* path, size_t* len, size_t size, const char* comp, size_t compLen) {
    char want[256];
    if (compLen >= sizeof want) return 0;
    memcpy(want, comp, compLen);
    want[compLen] = 0;
    size_t parentLen = *len;
    bool root = parentLen == 1 && path[0] == '/';
    size_t at = root ? 1 : parentLen + 1;
    if (at + compLen + 1 > size) return 0;
    if (!root) path[parentLen] = '/';
    memcpy(path + at, want, compLen + 1);
    *len = at + compLen;
    if (Exists(path)) return 1;

    // Search the parent folder for the same name in another case.
    char saved = path[at - (root ? 0 : 1)];
    path[at - (root ? 0 : 1)] = 0;
    DIR* dir = opendir(root ? "/" : path);
    path[at - (root ? 0 : 1)] = saved;
    if (!dir) return 1;
    while (struct dirent* e = readdir(dir)) {
        if (strcasecmp(e->d_name, want) == 0) {
            memcpy(path + at, e->d_name, compLen + 1);
            break;
        }
    }
    closedir(dir);
    return 1;
}

int File_HostPath(const char* name, char* out, size_t outSize) {
    if (!name || !*name || outSize < 2) return 0;
    char text[kHostPathBytes];
    if (!Text_Cp932ToUtf8(name, text, sizeof text)) return 0;
    for (char* p = text; *p; p++)
        if (*p == '\\') *p = '/';

    // The starting folder and the rest of the name.
    char start[kHostPathBytes];
    const char* rest = text;
    if (isalpha((unsigned char)text[0]) && text[1] == ':') {
        if (!DriveFolder(text[0], start, sizeof start)) return 0;
        rest = text + 2;
    } else if (text[0] == '/') {
        strcpy(start, "/");
    } else {
        if (!getcwd(start, sizeof start)) return 0;
    }

    // Fold the components of the start folder lexically first, then walk
    // the name's components with the case-insensitive match.
    size_t len = 1;
    out[0] = '/';
    out[1] = 0;
    for (int pass = 0; pass < 2; pass++) {
        const char* p = pass == 0 ? start : rest;
        while (*p) {
            while (*p == '/') p++;
            const char* c = p;
            while (*p && *p != '/') p++;
            size_t n = (size_t)(p - c);
            if (n == 0 || (n == 1 && c[0] == '.')) continue;
            if (n == 2 && c[0] == '.' && c[1] == '.') {
                while (len > 1 && out[len - 1] != '/') len--;
                if (len > 1) len--;
                out[len] = 0;
                continue;
            }
            if (pass == 0) {
                // The start folder is a host path already: keep it as it is.
                bool root = len == 1;
                if (len + (root ? 0 : 1) + n + 1 > outSize) return 0;
                if (!root) out[len++] = '/';
                memcpy(out + len, c, n);
                len += n;
                out[len] = 0;
            } else if (!AppendComponent(out, &len, outSize, c, n)) {
                return 0;
            }
        }
    }
    return 1;
}

FILE* File_OpenC(const char* name, const char* mode) {
    char path[kHostPathBytes];
    if (!File_HostPath(name, path, sizeof path)) return nullptr;
    return fopen(path, mode);
}

// ---- multimedia file I/O ----

struct MmioFile {
    FILE* fp;
    bool used;
};

static MmioFile files[kMmioFiles];
static std::mutex filesLock;
static std::atomic<int> readCount{0};

int Mmio_ReadCount() { return readCount; }

static bool Valid(HMMIO h) {
    return h && h >= files && h < files + kMmioFiles && h->used && h->fp;
}

HMMIO mmioOpenA(const char* name, MMIOINFO* info, DWORD flags) {
    if (info) memset(info, 0, sizeof *info);
    char path[kHostPathBytes];
    if (!File_HostPath(name, path, sizeof path)) return nullptr;
    struct stat st;
    if (!(flags & MMIO_CREATE) && (stat(path, &st) != 0 || !S_ISREG(st.st_mode))) return nullptr;
    const char* mode = "rb";
    if (flags & MMIO_CREATE)
        mode = (flags & MMIO_READWRITE) ? "w+b" : "wb";
    else if (flags & (MMIO_WRITE | MMIO_READWRITE))
        mode = "r+b";

    std::lock_guard<std::mutex> guard(filesLock);
    for (MmioFile& f : files) {
        if (f.used) continue;
        f.fp = fopen(path, mode);
        if (!f.fp) return nullptr;
        f.used = true;
        return &f;
    }
    return nullptr;
}

LONG mmioRead(HMMIO h, char* buffer, LONG count) {
    if (!Valid(h) || count < 0 || (count > 0 && !buffer)) return -1;
    readCount++;
    size_t n = fread(buffer, 1, (size_t)count, h->fp);
    if (n < (size_t)count && ferror(h->fp)) {
        clearerr(h->fp);
        if (n == 0) return -1;
    }
    clearerr(h->fp);
    return (LONG)n;
}

LONG mmioWrite(HMMIO h, const char* buffer, LONG count) {
    if (!Valid(h) || count < 0 || (count > 0 && !buffer)) return -1;
    size_t n = fwrite(buffer, 1, (size_t)count, h->fp);
    return n == 0 && count > 0 ? -1 : (LONG)n;
}

LONG mmioSeek(HMMIO h, LONG offset, int origin) {
    if (!Valid(h) || origin < SEEK_SET || origin > SEEK_END) return -1;
    long before = ftell(h->fp);
    if (fseek(h->fp, offset, origin) != 0) return -1;
    long now = ftell(h->fp);
    if (now < 0 || now > 0x7FFFFFFFL) {
        fseek(h->fp, before, SEEK_SET);
        return -1;
    }
    return (LONG)now;
}

MMRESULT mmioGetInfo(HMMIO h, MMIOINFO* info, UINT) {
    if (!Valid(h)) return MMSYSERR_INVALHANDLE;
    if (!info) return MMSYSERR_INVALPARAM;
    long pos = ftell(h->fp);
    info->dwFlags = 0;
    info->lBufOffset = (LONG)pos;
    info->lDiskOffset = (LONG)pos;
    return MMSYSERR_NOERROR;
}

MMRESULT mmioClose(HMMIO h, UINT) {
    if (!Valid(h)) return MMSYSERR_INVALHANDLE;
    std::lock_guard<std::mutex> guard(filesLock);
    fclose(h->fp);
    h->fp = nullptr;
    h->used = false;
    return MMSYSERR_NOERROR;
}

int Mmio_OpenCount() {
    std::lock_guard<std::mutex> guard(filesLock);
    int n = 0;
    for (const MmioFile& f : files) n += f.used;
    return n;
}
