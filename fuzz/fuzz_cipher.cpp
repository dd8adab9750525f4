// The cipher and name signature checks on any name and bytes, and the
// signed kind's open that uses the signature.
#include <cstring>
#include <string>

#include "sound_fuzz_file.h"
#include "sources/sound_archive.h"
#include "sources/sound_cipher.h"
#include "sources/sound_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Input: a name up to the first NUL, then the file bytes.
    const uint8_t* nul = (const uint8_t*)memchr(data, 0, size < 64 ? size : 64);
    size_t nameLen = nul ? (size_t)(nul - data) : 0;
    std::string name((const char*)data, nameLen);
    const uint8_t* body = data + (nul ? nameLen + 1 : 0);
    size_t bodySize = size - (size_t)(body - data);

    char base[kArchiveNameBytes];
    if (SoundName_BaseName(name.c_str(), base, sizeof base)) {
        uint8_t buf[4096];
        size_t n = bodySize < sizeof buf ? bodySize : sizeof buf;
        memcpy(buf, body, n);
        int32_t length = (int32_t)n - kCipherTrailerBytes;
        int32_t sum = 0, xr = 0;
        if (length >= 0) {
            memcpy(&sum, buf + length + 4, 4);
            memcpy(&xr, buf + length + 8, 4);
        }
        std::string key = base;
        DecipherSound(buf, length, key.data(), sum, xr);
        key = base;
        CheckNameSignature(key.data(), sum, xr);
    }
    FuzzWriteFile("s.dc2", body, bodySize);
    SoundSource s;
    memset(&s, 0, sizeof s);
    s.Reset();
    static const std::string signedName = FuzzName("s.dc2");
    if (s.OpenSignedBlockAdpcm(signedName.c_str())) s.Close();
    return 0;
}
