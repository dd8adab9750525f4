// The PCM WAV kind: the "data" tag scan and the header served, on any file.
#include <cstring>

#include "sound_fuzz_file.h"
#include "sources/sound_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzWriteFile("x.wav", data, size);
    SoundSource s;
    memset(&s, 0, sizeof s);
    s.Reset();
    static const std::string name = FuzzName("x.wav");
    if (s.Open(name.c_str())) {
        uint8_t header[kWavHeaderBytes];
        s.Seek(0);
        s.Read(header, 20);  // a caller asking for less than the header
        s.Seek(0);
        s.Read(header, kWavHeaderBytes);
        uint8_t pcm[256];
        s.Seek(kWavHeaderBytes);
        s.Read(pcm, sizeof pcm);
        s.Seek(s.totalSize);
        s.Read(pcm, sizeof pcm);
        s.Tell();
        s.Close();
    }
    s.Destroy();
    return 0;
}
