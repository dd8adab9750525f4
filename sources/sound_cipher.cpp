#include "sources/sound_cipher.h"

#include <cstring>

static const char kKeyString[16] = "PLOKplokWavrEZ_";
static const char kKeyTable[65] = "@Lk9)pWm^3Zt+Hb7=Qv2*Nc5[Jx8]Ry4{Gs1}Fd6<Au0>Ew3|Ki7~Oz2;Ph9:Ml5";

// The name signature table. Each of the 32 signature bytes is one of the
// first 8 characters of the upper-cased base name XOR a constant (index 0-7),
// or a constant alone (index -1). Every character appears an odd number of
// times, so each of the eight changes the XOR value. Signed files depend on
// these exact values: never change them.
struct SignatureByte {
    int8_t index;
    uint8_t value;
};
static const SignatureByte kSignatureTable[kSignatureBytes] = {
    {2, 0xC6}, {2, 0xA3}, {5, 0xB4}, {-1, 0x8E}, {4, 0x79}, {0, 0xC9}, {0, 0x36}, {-1, 0x15},
    {4, 0xDE}, {7, 0x77}, {6, 0x71}, {0, 0x43}, {-1, 0x6A}, {0, 0xE4}, {1, 0x04}, {7, 0x18},
    {-1, 0x86}, {4, 0xEA}, {6, 0x6A}, {3, 0x90}, {6, 0x34}, {1, 0xAD}, {3, 0x7F}, {2, 0xCA},
    {4, 0x37}, {5, 0x7F}, {7, 0xA0}, {4, 0xB0}, {1, 0x8F}, {3, 0x43}, {5, 0xB5}, {0, 0xE7},
};

int SoundName_BaseName(const char* name, char* out, size_t outSize) {
    if (!name || outSize == 0) return 0;
    const char* file = strrchr(name, '\\');
    file = file ? file + 1 : name;
    const char* dot = strrchr(file, '.');
    size_t n = dot ? (size_t)(dot - file) : strlen(file);
    if (n >= outSize) return 0;
    memcpy(out, file, n);
    out[n] = 0;
    return 1;
}

static void UpperCase(char* name) {
    for (; *name; name++)
        if (*name >= 'a' && *name <= 'z') *name -= 32;
}

// The first 8 characters of the upper-cased name, zero-padded.
static void NameKey(char* name, uint8_t key[8]) {
    UpperCase(name);
    memset(key, 0, 8);
    for (int i = 0; i < 8 && name[i]; i++) key[i] = (uint8_t)name[i];
}

int32_t DecipherSound(uint8_t* buffer, int32_t length, char* name, int32_t expectedSum,
                      int32_t expectedXor) {
    uint8_t table[64];
    memcpy(table, kKeyTable, 64);
    NameKey(name, table + 8);
    int32_t sum = 0, xr = kCipherXorStart;
    for (int32_t i = 0; i < length; i++) {
        uint8_t a = (uint8_t)(kKeyString[i % 15] + (i % 8));
        uint8_t k = (uint8_t)(a * table[i % 64]);
        buffer[i] = (uint8_t)~(buffer[i] ^ k);
        sum += buffer[i];
        xr ^= buffer[i];
    }
    return sum == expectedSum && xr == expectedXor;
}

void Cipher_CheckValues(const uint8_t* plain, int32_t length, int32_t* sum, int32_t* xr) {
    *sum = 0;
    *xr = kCipherXorStart;
    for (int32_t i = 0; i < length; i++) {
        *sum += plain[i];
        *xr ^= plain[i];
    }
}

void NameSignature_Values(char* name, int32_t* signatureSum, int32_t* signatureXor) {
    uint8_t key[8];
    NameKey(name, key);
    int32_t sum = 0;
    int32_t xr = 0x37;
    for (const SignatureByte& s : kSignatureTable) {
        uint8_t b = s.index < 0 ? s.value : (uint8_t)(key[s.index] ^ s.value);
        sum += (int8_t)b;
        xr ^= (int32_t)(int8_t)b;
    }
    *signatureSum = sum;
    *signatureXor = (int32_t)(int8_t)xr;
}

int32_t CheckNameSignature(char* name, int32_t signatureSum, int32_t signatureXor) {
    int32_t sum, xr;
    NameSignature_Values(name, &sum, &xr);
    return sum == signatureSum && xr == signatureXor;
}
