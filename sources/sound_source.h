// The decoding source of one sound: opened by name, it serves the canonical
// stream (the 44-byte WAV header at positions 0-43, PCM from 44 on) whatever
// the file's kind, chosen by the name's last character:
//
//   '?'      PCM WAV under "<name>wav", else block ADPCM under "<name>dec"
//   '2'      signed block ADPCM      'v' 'V'  PCM WAV
//   'c' 'C'  block ADPCM             '3'      MPEG audio (kind 4)
//   'g' 'G'  Ogg Vorbis (kind 5)     other    ADPCM stream
//
// The MPEG audio and Ogg Vorbis sources are not built yet: Open refuses them.
#pragma once

#include <cstdint>

#include "platform/codec/acm.h"
#include "sources/sound_file.h"
#include "sources/wav_header.h"

// Set when the system offers no Microsoft ADPCM codec; effect starts are
// refused while it is set. Never cleared.
extern int32_t adpcmCodecMissing;

constexpr int32_t kSourceKindFile = 0;
constexpr int32_t kSourceKindMpeg = 4;
constexpr int32_t kSourceKindVorbis = 5;

constexpr uint32_t kCodecFormatBytes = 1024;
constexpr uint32_t kCodecBufferBytes = 121440;
constexpr uint32_t kCodecSrcBytes = 20480;   // ten 2048-byte ADPCM blocks
constexpr uint32_t kCodecDstBytes = 116440;
constexpr uint32_t kAdpcmBlockPcmBytes = 81440;  // 20360 stereo frames
constexpr uint32_t kStreamLeadInBytes = 5824;    // decoded and discarded per stream block

struct SoundSource {
    int32_t codecsReady;
    WAVEFORMATEX* streamSrcFormat;
    WAVEFORMATEX* streamDstFormat;
    WAVEFORMATEX* blockSrcFormat;
    WAVEFORMATEX* blockDstFormat;
    WavHeader header;  // PCM WAV: the header served at position 0
    HACMSTREAM streamCodec;
    HACMSTREAM blockCodec;
    ACMSTREAMHEADER streamHeader;
    ACMSTREAMHEADER blockHeader;
    uint8_t* pcmBuffer;
    uint8_t* srcBuffer;
    uint32_t readPos;  // position reached by the last Read or Seek
    int32_t kind;
    SoundFile file;
    uint32_t totalSize;
    uint32_t decodePos;
    int32_t opened;
    int32_t isPcmWave;
    uint32_t leftover;   // ADPCM stream: bytes of the current block delivered
    int32_t needResync;  // ADPCM stream: find the block from the file's start
    int32_t isBlockAdpcm;
    int32_t blockSize;    // block kinds: compressed length of every block
    int32_t extraHeader;  // PCM WAV: file offset of the first PCM byte - 44
    int32_t dataStart;    // block kinds: file offset of the block ADPCM image
    void* decoder;        // the MPEG audio or Ogg Vorbis stream object

    void Reset();
    int32_t PrepareCodecs(int32_t onlyClear);
    int32_t ReleaseCodecs();
    int32_t Open(const char* name);
    int32_t Read(void* destination, uint32_t bytes);
    void Seek(uint32_t position);
    uint32_t Tell();
    int32_t Close();
    void Destroy();

    int32_t OpenWave(const char* name);
    int32_t OpenBlockAdpcm(const char* name);
    int32_t OpenSignedBlockAdpcm(const char* name);
    int32_t OpenAdpcmStream(const char* name);

    // The kinds' halves of Read, Seek, Tell and Close.
    int32_t ReadWave(uint8_t* destination, uint32_t bytes);
    void SeekWave(uint32_t position);
    uint32_t TellWave();
    int32_t ReadBlockAdpcm(uint8_t* destination, uint32_t bytes);
    int32_t ReadAdpcmStream(uint8_t* destination, uint32_t bytes);
    int32_t CloseFile();
    int32_t FinishBlockOpen();
    int32_t DecodeStreamBlock();
};
