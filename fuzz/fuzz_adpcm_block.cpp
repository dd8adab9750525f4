// The block ADPCM and signed block ADPCM kinds on any file: open, header,
// and reads at positions taken from the input's last 8 bytes.
#include <cstring>

#include "sound_fuzz_file.h"
#include "sources/sound_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SoundSource& s = FuzzPreparedSource();
    uint32_t seeks[2] = {kWavHeaderBytes, kWavHeaderBytes};
    if (size >= 8) {
        memcpy(seeks, data + size - 8, 8);
        size -= 8;
    }
    FuzzWriteFile("x.dec", data, size);
    FuzzWriteFile("x.dc2", data, size);
    static uint8_t out[200000];
    for (const char* name : {"x.dec", "x.dc2"}) {
        if (!s.Open(FuzzName(name).c_str())) continue;
        s.Seek(0);
        s.Read(out, kWavHeaderBytes);
        for (uint32_t p : seeks) {
            s.Seek(kWavHeaderBytes + p % (4 * kAdpcmBlockPcmBytes));
            s.Read(out, (p >> 8) % sizeof out);
        }
        s.Close();
    }
    return 0;
}
