#include "sources/sound_archive.h"

#include <cstdio>
#include <cstring>

#include "sources/le_bytes.h"

static bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

static uint8_t Lower(uint8_t c) { return (c >= 'A' && c <= 'Z') ? (uint8_t)(c + 32) : c; }

// The next whitespace-separated word of text from *at: its start and length.
static size_t NextWord(const char* text, size_t* at, const char** word) {
    size_t i = *at;
    while (text[i] && IsSpace(text[i])) i++;
    *word = text + i;
    size_t n = 0;
    while (text[i + n] && !IsSpace(text[i + n])) n++;
    *at = i + n;
    return n;
}

static void KeyOf(const char* word, size_t n, uint8_t* key, size_t width) {
    memset(key, 0, width);
    for (size_t i = 0; i < n && i < width; i++) key[i] = Lower((uint8_t)word[i]);
}

// Dots become spaces, so the base name ends at the first dot and the
// extension at the next; a space in the name ends a word as well.
static void KeysOfFilePart(char* filePart, uint8_t nameKey[8], uint8_t extKey[4]) {
    for (char* p = filePart; *p; p++)
        if (*p == '.') *p = ' ';
    size_t at = 0;
    const char* word;
    size_t n = NextWord(filePart, &at, &word);
    KeyOf(word, n, nameKey, 8);
    n = n ? NextWord(filePart, &at, &word) : 0;
    KeyOf(word, n, extKey, 4);
}

int Archive_SplitName(const char* name, char* folder, size_t folderSize, uint8_t nameKey[8],
                      uint8_t extKey[4]) {
    char copy[kArchiveNameBytes];
    size_t len = strlen(name);
    if (len >= sizeof copy || folderSize == 0) return 0;
    memcpy(copy, name, len + 1);
    char* slash = strrchr(copy, '\\');
    char* filePart = copy;
    folder[0] = 0;
    if (slash) {
        size_t folderLen = (size_t)(slash - copy);
        if (folderLen >= folderSize) return 0;
        memcpy(folder, copy, folderLen);
        folder[folderLen] = 0;
        filePart = slash + 1;
    }
    KeysOfFilePart(filePart, nameKey, extKey);
    return 1;
}

int Archive_CandidateName(const char* folder, int which, char* out, size_t outSize) {
    int n = snprintf(out, outSize, which == 0 ? "%s.arc" : "%s.dat", folder);
    return n >= 0 && (size_t)n < outSize;
}

void Archive_KeysOf(const char* fileName, uint8_t nameKey[8], uint8_t extKey[4]) {
    char copy[kArchiveNameBytes];
    snprintf(copy, sizeof copy, "%s", fileName);
    KeysOfFilePart(copy, nameKey, extKey);
}

// A damaged index ends the search at the end of the file (a short read) or
// after the counts it gives; it never loops or reads past a record.
int Archive_Find(HMMIO archive, const uint8_t nameKey[8], const uint8_t extKey[4], int32_t* size,
                 int32_t* offset) {
    uint8_t head[8];
    if (mmioSeek(archive, 0, SEEK_SET) != 0) return 0;
    if (mmioRead(archive, (char*)head, 8) != 8) return 0;
    int32_t groupCount = Le32(head + 4);
    int32_t tableOffset = 0;
    uint32_t entryCount = 0;
    bool found = false;
    for (int32_t g = 0; g < groupCount && !found; g++) {
        uint8_t rec[12];
        if (mmioRead(archive, (char*)rec, 12) != 12) return 0;
        if (memcmp(rec, extKey, 4) == 0) {
            tableOffset = Le32(rec + 4);
            entryCount = (uint32_t)Le32(rec + 8);
            found = true;
        }
    }
    if (!found) return 0;
    if (tableOffset < 0 || mmioSeek(archive, tableOffset, SEEK_SET) != tableOffset) return 0;
    for (uint32_t e = 0; e < entryCount; e++) {
        uint8_t rec[16];
        if (mmioRead(archive, (char*)rec, 16) != 16) return 0;
        if (memcmp(rec, nameKey, 8) != 0) continue;
        int32_t entryOffset = Le32(rec + 12);
        if (entryOffset < 0 || mmioSeek(archive, entryOffset, SEEK_SET) != entryOffset) return 0;
        *size = Le32(rec + 8);
        *offset = entryOffset;
        return 1;
    }
    return 0;
}
