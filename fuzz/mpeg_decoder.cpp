// libFuzzer target: stream start and frame decoding of the MPEG audio decoder
// over arbitrary bytes, with options taken from the first bytes so that rate
// reduction, channel conversion, 8-bit output and the equaliser are covered.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "decoders/mpeg_audio.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static MpegDecoder decoder;
    if (size < 2) return 0;
    decoder.Init();
    MpegOptions options{data[0] % 3, data[1] & 0x0B, 24000 - (data[0] >> 2) * 300};
    decoder.SetOptions(&options);
    if (data[1] & 0x80) {
        const double bands[10] = {0.1, -0.2, 0.3, 0, 0, -1, 0.5, 0, 0, 0.2};
        decoder.SetEqualizerBands(bands);
        decoder.EnableEqualizer(1);
    }
    data += 2;
    size -= 2;
    int32_t length = (int32_t)size;
    if (!decoder.StartDecoding(data, length)) return 0;
    static uint8_t output[1152 * 2 * 2];
    int32_t offset = 0;
    for (int frames = 0; frames < 2000 && offset < length; frames++) {
        MpegFrameRequest request{};
        request.input = data + offset;
        request.inputSize = length - offset;
        request.output = output;
        if (decoder.DecodeFrame(&request)) {
            if (request.outputSize > (int32_t)sizeof output || request.inputSize <= 0) __builtin_trap();
            offset += request.inputSize;
            continue;
        }
        int32_t found = 0;
        if (!decoder.FindSync(data + offset + 1, length - offset - 1, &found)) break;
        offset += 1 + found;
    }
    return 0;
}
