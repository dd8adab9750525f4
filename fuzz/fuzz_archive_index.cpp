// The archive index lookup of a read-mode SoundFile open, on any archive file.
#include <cstring>

#include "sound_fuzz_file.h"
#include "sources/sound_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzWriteFile("se.arc", data, size);
    static const char* names[] = {"se\\door.wav", "se\\ed01.ogg", "se\\LONGNAME.WAVE", "se\\x", "se\\a.b.c"};
    for (const char* name : names) {
        SoundFile f = {};
        if (!f.Open(FuzzName(name).c_str(), "rb")) {
            if (f.handle) abort();  // a failed open holds no file
            continue;
        }
        uint8_t buf[64];
        f.Read(buf, 1, sizeof buf);
        f.Seek(0, 2);
        f.Tell();
        f.Seek(-4, 1);
        f.Read(buf, 4, 2);
        f.Close();
    }
    if (Mmio_OpenCount() != 0) abort();
    return 0;
}
