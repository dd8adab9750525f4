// The block ADPCM kinds: a 44-byte header, then blocks of [compressed length,
// PCM length, Microsoft ADPCM data], each decoding on its own to 81440 PCM
// bytes. Every block but the last has block 0's compressed length, so block
// k is found by multiplication. The signed kind puts the same image behind a
// 16-byte header that carries its base name's signature.
#include <cstring>

#include "sources/le_bytes.h"
#include "sources/sound_archive.h"
#include "sources/sound_cipher.h"
#include "sources/sound_source.h"

int32_t SoundSource::OpenBlockAdpcm(const char* name) {
    opened = 0;
    if (file.IsOpen()) return 0;
    if (!file.Open(name, "rb")) return 0;
    decodePos = 0;
    dataStart = 0;
    return FinishBlockOpen();
}

int32_t SoundSource::OpenSignedBlockAdpcm(const char* name) {
    opened = 0;
    if (file.IsOpen()) return 0;
    if (!file.Open(name, "rb")) return 0;
    uint8_t head[kSignedHeaderBytes];
    char base[kArchiveNameBytes];
    if (file.Read(head, 1, kSignedHeaderBytes) != kSignedHeaderBytes ||
        !SoundName_BaseName(name, base, sizeof base) ||
        !CheckNameSignature(base, Le32(head), Le32(head + 4))) {
        file.Close();
        return 0;
    }
    // The image lies (keyedOffset XOR signatureXor) bytes behind the header;
    // a distance that leaves the file's 32-bit range is refused.
    int64_t start = (int64_t)(Le32(head + 12) ^ Le32(head + 4)) + kSignedHeaderBytes;
    if (start < kSignedHeaderBytes || start > 0x7FFFFFFF - (int64_t)kWavHeaderBytes) {
        file.Close();
        return 0;
    }
    dataStart = (int32_t)start;
    decodePos = 0;
    return FinishBlockOpen();
}

// Reads blockSize and works out totalSize. A first block length outside
// 1..20480 is refused: no block can hold more, and the length divides the
// file's size.
int32_t SoundSource::FinishBlockOpen() {
    uint8_t raw[4];
    if (file.Seek(dataStart + (int32_t)kWavHeaderBytes, 0) < 0 || file.Read(raw, 1, 4) != 4) {
        file.Close();
        return 0;
    }
    blockSize = Le32(raw);
    if (blockSize <= 0 || blockSize > (int32_t)kCodecSrcBytes) {
        file.Close();
        return 0;
    }
    file.Seek(0, 2);
    int64_t length = file.Tell();
    int64_t total = (length - (int64_t)kWavHeaderBytes - dataStart) * kAdpcmBlockPcmBytes / (blockSize + 8) +
                    kWavHeaderBytes;
    if (total < kWavHeaderBytes) total = kWavHeaderBytes;
    if (total > 0xFFFFFFFFll) total = 0xFFFFFFFFll;
    totalSize = (uint32_t)total;
    opened = 1;
    isBlockAdpcm = 1;
    return 1;
}

int32_t SoundSource::ReadBlockAdpcm(uint8_t* destination, uint32_t bytes) {
    if (bytes > 0x7FFFFFFF) bytes = 0x7FFFFFFF;
    if (decodePos < kWavHeaderBytes) {
        file.Seek(dataStart + (int32_t)decodePos, 0);
        file.Read(destination, 1, (int32_t)bytes);
        readPos = 0;
        return 1;
    }
    if (!codecsReady) return 0;  // no buffers to decode into
    uint32_t c = decodePos - kWavHeaderBytes;
    while (bytes > 0) {
        uint32_t k = c / kAdpcmBlockPcmBytes;
        int64_t at = (int64_t)dataStart + kWavHeaderBytes + (int64_t)k * (blockSize + 8);
        if (at > 0x7FFFFFFF) break;
        file.Seek((int32_t)at, 0);
        if (decodePos >= totalSize) break;
        uint8_t lengths[8];
        if (file.Read(lengths, 1, 8) != 8) break;
        uint32_t compressed = (uint32_t)Le32(lengths);
        if (compressed > kCodecSrcBytes) break;
        // The codec always takes 20480 bytes: what the block does not fill
        // is zero (silence), never the bytes of an earlier block.
        int32_t got = file.Read(srcBuffer, 1, (int32_t)compressed);
        if (got < 0) got = 0;
        memset(srcBuffer + got, 0, kCodecSrcBytes - (uint32_t)got);

        if (acmStreamOpen(&blockCodec, nullptr, blockSrcFormat, blockDstFormat, nullptr, 0, 0,
                          ACM_STREAMOPENF_NONREALTIME) != MMSYSERR_NOERROR) {
            blockCodec = nullptr;
            return 0;
        }
        blockHeader.cbSrcLength = kCodecSrcBytes;
        blockHeader.cbDstLengthUsed = 0;
        acmStreamPrepareHeader(blockCodec, &blockHeader, 0);
        acmStreamConvert(blockCodec, &blockHeader, 0);
        if (blockHeader.cbDstLengthUsed < kAdpcmBlockPcmBytes)
            memset(pcmBuffer + blockHeader.cbDstLengthUsed, 0,
                   kAdpcmBlockPcmBytes - blockHeader.cbDstLengthUsed);
        acmStreamUnprepareHeader(blockCodec, &blockHeader, 0);
        acmStreamClose(blockCodec, 0);
        blockCodec = nullptr;

        uint32_t o = c - k * kAdpcmBlockPcmBytes;
        uint32_t m = kAdpcmBlockPcmBytes - o;
        if (m > bytes) m = bytes;
        memcpy(destination, pcmBuffer + o, m);
        destination += m;
        bytes -= m;
        c += m;
        decodePos += m;
        readPos += m;
    }
    return 1;
}
