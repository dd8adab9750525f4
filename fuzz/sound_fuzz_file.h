// The sound data fuzz targets read their input as a file, the way the engine
// meets it: each run writes the bytes into a private scratch folder, and the
// target opens them by absolute names (the current directory is left alone,
// so relative corpus paths keep working).
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/clock.h"
#include "sources/sound_source.h"

inline const std::string& FuzzDir() {
    static std::string dir;
    if (dir.empty()) {
        char tmpl[] = "/tmp/tone_fuzz_XXXXXX";
        if (!mkdtemp(tmpl)) abort();
        dir = tmpl;
        Clock_UseVirtual(0);  // the 2 ms pauses of long entry reads return at once
    }
    return dir;
}

// The engine's name of a file in the scratch folder, joined with a backslash
// so that the folder and base name come out as they would for a game's name.
inline std::string FuzzName(const char* name) { return FuzzDir() + "\\" + name; }

inline void FuzzWriteFile(const char* fileName, const uint8_t* data, size_t size) {
    FILE* f = fopen((FuzzDir() + "/" + fileName).c_str(), "wb");
    if (!f) abort();
    if (size) fwrite(data, 1, size, f);
    fclose(f);
}

// One source for the whole run, with its codecs prepared as a BGM slot's are.
inline SoundSource& FuzzPreparedSource() {
    static SoundSource s;
    static bool prepared = false;
    if (!prepared) {
        s = SoundSource{};
        s.Reset();
        s.PrepareCodecs(0);
        prepared = true;
    }
    return s;
}
