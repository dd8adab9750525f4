// SoundSource: codec resources and the dispatch by the name's last character.
#include "sources/sound_source.h"

#include <cstring>

#include "engine/tracked_alloc.h"
#include "sources/sound_archive.h"

int32_t adpcmCodecMissing = 0;

void SoundSource::Reset() {
    file.handle = nullptr;
    file.loose = 0;
    opened = 0;
    decodePos = 0;
    streamSrcFormat = streamDstFormat = blockSrcFormat = blockDstFormat = nullptr;
    dataStart = 0;
    streamCodec = blockCodec = nullptr;
    pcmBuffer = srcBuffer = nullptr;
}

static void FillPcmFormat(WAVEFORMATEX* f) {
    f->wFormatTag = WAVE_FORMAT_PCM;
    f->nChannels = 2;
    f->nSamplesPerSec = 44100;
    f->nAvgBytesPerSec = 176400;
    f->nBlockAlign = 4;
    f->wBitsPerSample = 16;
    f->cbSize = 0;
}

static void SetUpHeader(ACMSTREAMHEADER* h, uint8_t* src, uint8_t* dst) {
    memset(h, 0, sizeof *h);
    h->cbStruct = kAcmStreamHeaderBytes;
    h->pbSrc = src;
    h->cbSrcLength = kCodecSrcBytes;
    h->pbDst = dst;
    h->cbDstLength = kCodecDstBytes;
}

int32_t SoundSource::PrepareCodecs(int32_t onlyClear) {
    codecsReady = 0;
    streamSrcFormat = streamDstFormat = blockSrcFormat = blockDstFormat = nullptr;
    streamCodec = blockCodec = nullptr;
    pcmBuffer = srcBuffer = nullptr;
    if (onlyClear) return 0;

    void* blocks[6];
    const uint32_t sizes[6] = {kCodecFormatBytes, kCodecFormatBytes, kCodecFormatBytes,
                               kCodecFormatBytes, kCodecBufferBytes, kCodecBufferBytes};
    for (int i = 0; i < 6; i++) {
        blocks[i] = Tracked_Alloc(sizes[i], "");
        if (!blocks[i]) {
            // Out of memory: give back what was taken and stay unprepared.
            for (int j = 0; j < i; j++) Tracked_Free(blocks[j]);
            return 0;
        }
        // Zeroed, so no codec ever reads stale bytes (the stream format's
        // extra bytes are deliberately left unfilled).
        memset(blocks[i], 0, sizes[i]);
    }
    streamSrcFormat = (WAVEFORMATEX*)blocks[0];
    streamDstFormat = (WAVEFORMATEX*)blocks[1];
    blockSrcFormat = (WAVEFORMATEX*)blocks[2];
    blockDstFormat = (WAVEFORMATEX*)blocks[3];
    pcmBuffer = (uint8_t*)blocks[4];
    srcBuffer = (uint8_t*)blocks[5];

    FillPcmFormat(blockDstFormat);
    FillPcmFormat(streamDstFormat);
    streamSrcFormat->wFormatTag = WAVE_FORMAT_ADPCM;
    streamSrcFormat->nChannels = 2;
    streamSrcFormat->nSamplesPerSec = 44100;
    streamSrcFormat->nAvgBytesPerSec = 44359;
    streamSrcFormat->nBlockAlign = 2048;
    streamSrcFormat->wBitsPerSample = 4;
    streamSrcFormat->cbSize = 32;
    acmFormatSuggest(nullptr, streamSrcFormat, streamDstFormat, kCodecFormatBytes,
                     ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS);
    memset(blockSrcFormat, 0, kCodecFormatBytes);
    blockSrcFormat->wFormatTag = WAVE_FORMAT_ADPCM;
    if (acmFormatSuggest(nullptr, blockDstFormat, blockSrcFormat, kCodecFormatBytes,
                         ACM_FORMATSUGGESTF_WFORMATTAG) != MMSYSERR_NOERROR)
        adpcmCodecMissing = 1;

    SetUpHeader(&streamHeader, srcBuffer, pcmBuffer);
    SetUpHeader(&blockHeader, srcBuffer, pcmBuffer);
    codecsReady = 1;
    return 1;
}

int32_t SoundSource::ReleaseCodecs() {
    if (!codecsReady) return 0;
    if (streamCodec) {
        acmStreamUnprepareHeader(streamCodec, &streamHeader, 0);
        acmStreamClose(streamCodec, 0);
        streamCodec = nullptr;
    }
    if (blockCodec) {
        acmStreamUnprepareHeader(blockCodec, &blockHeader, 0);
        acmStreamClose(blockCodec, 0);
        blockCodec = nullptr;
    }
    Tracked_Free(streamSrcFormat);
    Tracked_Free(streamDstFormat);
    Tracked_Free(blockSrcFormat);
    Tracked_Free(blockDstFormat);
    Tracked_Free(pcmBuffer);
    Tracked_Free(srcBuffer);
    streamSrcFormat = streamDstFormat = blockSrcFormat = blockDstFormat = nullptr;
    pcmBuffer = srcBuffer = nullptr;
    codecsReady = 0;
    return 1;
}

int32_t SoundSource::Open(const char* name) {
    isPcmWave = 0;
    kind = kSourceKindFile;
    isBlockAdpcm = 0;
    // An empty name has no last character to choose a kind by.
    if (!name || !name[0]) return 0;
    size_t len = strlen(name);
    char c = name[len - 1];
    if (c == '?') {
        char stem[kArchiveNameBytes];
        char candidate[kArchiveNameBytes];
        if (len - 1 >= sizeof stem) return 0;
        memcpy(stem, name, len - 1);
        stem[len - 1] = 0;
        if (len + 2 >= sizeof candidate) return 0;
        memcpy(candidate, stem, len - 1);
        memcpy(candidate + len - 1, "wav", 4);
        if (OpenWave(candidate)) return 1;
        memcpy(candidate + len - 1, "dec", 4);
        return OpenBlockAdpcm(candidate) ? 1 : 0;
    }
    if (c == '2') return OpenSignedBlockAdpcm(name);
    if (c == 'v' || c == 'V') return OpenWave(name);
    if (c == 'c' || c == 'C') return OpenBlockAdpcm(name);
    if (c == '3') {
        // MPEG audio: its stream object is created here once it exists.
        kind = kSourceKindMpeg;
        return 0;
    }
    if (c == 'g' || c == 'G') {
        // Ogg Vorbis: its stream object is created here once it exists.
        kind = kSourceKindVorbis;
        return 0;
    }
    return OpenAdpcmStream(name);
}

int32_t SoundSource::Read(void* destination, uint32_t bytes) {
    uint8_t* out = (uint8_t*)destination;
    if (isPcmWave) return ReadWave(out, bytes);
    if (kind == kSourceKindMpeg || kind == kSourceKindVorbis) {
        readPos += bytes;
        return 0;  // no stream object without its decoder
    }
    if (isBlockAdpcm) return ReadBlockAdpcm(out, bytes);
    return ReadAdpcmStream(out, bytes);
}

void SoundSource::Seek(uint32_t position) {
    if (isPcmWave) {
        SeekWave(position);
        return;
    }
    decodePos = position;
    needResync = 1;
    leftover = 0;
    readPos = position;
}

uint32_t SoundSource::Tell() {
    if (isPcmWave) return TellWave();
    return decodePos;
}

int32_t SoundSource::Close() {
    if (kind == kSourceKindMpeg || kind == kSourceKindVorbis) {
        decoder = nullptr;
        return 0;
    }
    return CloseFile();
}

int32_t SoundSource::CloseFile() {
    if (!file.IsOpen()) return 0;
    file.Close();
    opened = 0;
    return 1;
}

void SoundSource::Destroy() {
    ReleaseCodecs();
    if (file.IsOpen()) file.Close();
}
