// The ADPCM stream kind: a 44-byte header, then blocks of [compressed length,
// data]. Each block decodes on its own; the first 5824 decoded bytes are a
// lead-in and dropped, the next 81440 are the block's audio. The length is
// only estimated at open (11 x the file's size): the real end shows as a
// failed read, with Tell at the last byte delivered.
#include <cstring>

#include "sources/le_bytes.h"
#include "sources/sound_source.h"

int32_t SoundSource::OpenAdpcmStream(const char* name) {
    opened = 0;
    if (file.IsOpen()) return 0;
    if (!file.Open(name, "rb")) return 0;
    decodePos = 0;
    file.Seek(0, 2);
    int32_t length = file.Tell();
    totalSize = (uint32_t)length * 11;
    opened = 1;
    needResync = 1;
    leftover = 0;
    return 1;
}

// Returns 0 at the end of the file, on a truncated block, on a length larger
// than the source buffer, or when the codec refuses.
int32_t SoundSource::DecodeStreamBlock() {
    uint8_t raw[4];
    if (file.Read(raw, 1, 4) != 4) return 0;
    uint32_t compressed = (uint32_t)Le32(raw);
    if (compressed > kCodecBufferBytes) return 0;
    if (file.Read(srcBuffer, 1, (int32_t)compressed) != (int32_t)compressed) return 0;
    streamHeader.cbSrcLength = compressed;
    if (acmStreamOpen(&streamCodec, nullptr, streamSrcFormat, streamDstFormat, nullptr, 0, 0, 0) !=
        MMSYSERR_NOERROR) {
        streamCodec = nullptr;
        return 0;
    }
    streamHeader.cbSrcLengthUsed = 0;
    streamHeader.cbDstLengthUsed = 0;
    acmStreamPrepareHeader(streamCodec, &streamHeader, 0);
    acmStreamConvert(streamCodec, &streamHeader,
                     ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END);
    // A short block is followed by silence, not by an earlier block's audio.
    const uint32_t end = kStreamLeadInBytes + kAdpcmBlockPcmBytes;
    if (streamHeader.cbDstLengthUsed < end)
        memset(pcmBuffer + streamHeader.cbDstLengthUsed, 0, end - streamHeader.cbDstLengthUsed);
    streamHeader.cbDstLengthUsed = kAdpcmBlockPcmBytes;
    needResync = 0;
    acmStreamUnprepareHeader(streamCodec, &streamHeader, 0);
    acmStreamClose(streamCodec, 0);
    streamCodec = nullptr;
    return 1;
}

int32_t SoundSource::ReadAdpcmStream(uint8_t* destination, uint32_t bytes) {
    if (decodePos < kWavHeaderBytes) {
        file.Seek((int32_t)decodePos, 0);
        file.Read(destination, 1, bytes > 0x7FFFFFFF ? 0x7FFFFFFF : (int32_t)bytes);
        decodePos += kWavHeaderBytes;
        return 1;
    }
    if (!codecsReady) return 0;  // no buffers to decode into
    const uint8_t* audio = pcmBuffer + kStreamLeadInBytes;
    auto deliver = [&](const uint8_t* from, uint32_t m) {
        memcpy(destination, from, m);
        destination += m;
        decodePos += m;
        readPos += m;
        bytes -= m;
    };
    while (bytes > 0) {
        if (leftover > 0) {
            uint32_t a = kAdpcmBlockPcmBytes - leftover;
            if (bytes <= a) {
                uint32_t m = bytes;
                deliver(audio + leftover, m);
                leftover += m;
                return 1;
            }
            deliver(audio + leftover, a);
            leftover = 0;
        }
        if (needResync) {
            uint32_t j = (decodePos - kWavHeaderBytes) / kAdpcmBlockPcmBytes;
            uint32_t r = (decodePos - kWavHeaderBytes) % kAdpcmBlockPcmBytes;
            file.Seek((int32_t)kWavHeaderBytes, 0);
            for (uint32_t i = 0; i < j; i++) {
                uint8_t raw[4];
                if (file.Read(raw, 1, 4) != 4) return 0;
                int32_t skip = Le32(raw);
                if (skip < 0 || (uint32_t)skip > kCodecBufferBytes || file.Seek(skip, 1) < 0) return 0;
            }
            if (r > 0) {
                if (!DecodeStreamBlock()) return 0;
                uint32_t a = kAdpcmBlockPcmBytes - r;
                if (bytes < a) {
                    uint32_t m = bytes;
                    deliver(audio + r, m);
                    leftover = r + m;
                    return 1;
                }
                deliver(audio + r, a);
                leftover = 0;
                if (bytes == 0) return 1;
            }
        }
        if (!DecodeStreamBlock()) return 0;
        if (bytes < kAdpcmBlockPcmBytes) {
            uint32_t m = bytes;
            deliver(audio, m);
            leftover = m;
            return 1;
        }
        deliver(audio, kAdpcmBlockPcmBytes);
        leftover = 0;
    }
    return 1;
}
