// The sound data fuzz targets read their input as a file, the way the engine
// meets it: each run writes the bytes to a name in a private scratch folder
// that is also the current directory.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/clock.h"

inline void FuzzWriteFile(const char* path, const uint8_t* data, size_t size) {
    static bool ready = false;
    if (!ready) {
        char tmpl[] = "/tmp/tone_fuzz_XXXXXX";
        if (!mkdtemp(tmpl) || chdir(tmpl) != 0) abort();
        Clock_UseVirtual(0);  // the 2 ms pauses of long entry reads return at once
        ready = true;
    }
    FILE* f = fopen(path, "wb");
    if (!f) abort();
    if (size) fwrite(data, 1, size, f);
    fclose(f);
}
