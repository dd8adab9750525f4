// The ADPCM stream kind on any file: sequential reads until it ends, then
// reads after a seek (the resync path). The input's last 4 bytes choose the seek.
#include <cstring>

#include "sound_fuzz_file.h"
#include "sources/sound_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SoundSource& s = FuzzPreparedSource();
    uint32_t seek = 0;
    if (size >= 4) {
        memcpy(&seek, data + size - 4, 4);
        size -= 4;
    }
    FuzzWriteFile("x.bgm", data, size);
    static uint8_t out[100000];
    static const std::string name = FuzzName("x.bgm");
    if (!s.Open(name.c_str())) return 0;
    s.Read(out, kWavHeaderBytes);
    for (int i = 0; i < 8 && s.Read(out, 1000 + 30000 * (i % 3)); i++) {
    }
    s.Seek(kWavHeaderBytes + seek % (6 * kAdpcmBlockPcmBytes));
    s.Read(out, (seek >> 12) % sizeof out);
    s.Read(out, 5000);
    s.Close();
    return 0;
}
