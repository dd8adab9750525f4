// Helpers shared by the sound data tools: whole-file reads, output written to
// a temporary name and renamed into place (never a partial file), one-line
// errors, and the PCM WAV reader of the encoders.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/text.h"
#include "sources/le_bytes.h"
#include "sources/sound_cipher.h"

inline int ToolFail(const char* tool, const std::string& message) {
    fprintf(stderr, "%s: %s\n", tool, message.c_str());
    return 1;
}

inline bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    out->clear();
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) out->insert(out->end(), chunk, chunk + n);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

// Writes bytes to path through "path.partial", so that a failure leaves no
// output behind.
inline bool WriteFileAtomic(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string temp = path + ".partial";
    FILE* f = fopen(temp.c_str(), "wb");
    if (!f) return false;
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = (fclose(f) == 0) && ok;
    if (ok) ok = rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) remove(temp.c_str());
    return ok;
}

// The last component of a host path, as the system's CP932 text.
inline bool FileNameCp932(const std::string& path, std::string* out) {
    size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    char text[1024];
    if (name.empty() || !Text_Utf8ToCp932(name.c_str(), text, sizeof text)) return false;
    *out = text;
    return true;
}

// The base name key the cipher and the signature use for an output path.
inline bool BaseNameOf(const std::string& path, std::string* out) {
    std::string name;
    char base[1024];
    if (!FileNameCp932(path, &name) || !SoundName_BaseName(name.c_str(), base, sizeof base)) return false;
    *out = base;
    return true;
}

struct PcmWave {
    int channels = 0;
    int samplesPerSec = 0;
    int bitsPerSample = 0;
    int formatTag = 0;
    std::vector<uint8_t> data;
};

// Walks the RIFF chunks of a WAV image for "fmt " and "data". Returns an
// error text, empty on success.
inline std::string ParseWave(const std::vector<uint8_t>& image, PcmWave* wave) {
    if (image.size() < 12 || memcmp(image.data(), "RIFF", 4) != 0 || memcmp(image.data() + 8, "WAVE", 4) != 0)
        return "not a RIFF/WAVE file";
    size_t at = 12;
    bool haveFmt = false;
    while (at + 8 <= image.size()) {
        uint32_t len = (uint32_t)Le32(image.data() + at + 4);
        const uint8_t* body = image.data() + at + 8;
        size_t room = image.size() - at - 8;
        if (memcmp(image.data() + at, "fmt ", 4) == 0) {
            if (len < 16 || len > room) return "damaged fmt chunk";
            wave->formatTag = body[0] | body[1] << 8;
            wave->channels = body[2] | body[3] << 8;
            wave->samplesPerSec = Le32(body + 4);
            wave->bitsPerSample = body[14] | body[15] << 8;
            haveFmt = true;
        } else if (memcmp(image.data() + at, "data", 4) == 0) {
            if (!haveFmt) return "data chunk before fmt chunk";
            if (len > room) len = (uint32_t)room;  // a truncated file keeps what it has
            wave->data.assign(body, body + len);
            return "";
        }
        if (len > room) break;
        at += 8 + (size_t)len + (len & 1);
    }
    return "no data chunk";
}
