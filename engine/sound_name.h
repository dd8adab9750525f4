// Sound names compare as Windows file names do: ASCII letters without case.
#pragma once

inline bool SoundName_Equal(const char* a, const char* b) {
    for (;; a++, b++) {
        unsigned char ca = (unsigned char)*a, cb = (unsigned char)*b;
        if (ca >= 'A' && ca <= 'Z') ca += 'a' - 'A';
        if (cb >= 'A' && cb <= 'Z') cb += 'a' - 'A';
        if (ca != cb) return false;
        if (ca == 0) return true;
    }
}
