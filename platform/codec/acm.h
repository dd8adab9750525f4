// The Audio Compression Manager operations the sound sources use, with one
// codec: Microsoft ADPCM <-> 16-bit PCM (our decoder and encoder). Streams
// live in a fixed table; a conversion runs synchronously inside
// acmStreamConvert.
#pragma once

#include "platform/mm_results.h"
#include "platform/win_types.h"

typedef struct AcmDriver* HACMDRIVER;
typedef struct AcmStream* HACMSTREAM;
struct WAVEFILTER;

constexpr MMRESULT ACMERR_BASE = 512;
constexpr MMRESULT ACMERR_NOTPOSSIBLE = ACMERR_BASE + 0;
constexpr MMRESULT ACMERR_BUSY = ACMERR_BASE + 1;
constexpr MMRESULT ACMERR_UNPREPARED = ACMERR_BASE + 2;
constexpr MMRESULT ACMERR_CANCELED = ACMERR_BASE + 3;

constexpr DWORD ACM_FORMATSUGGESTF_WFORMATTAG = 0x00010000;
constexpr DWORD ACM_FORMATSUGGESTF_NCHANNELS = 0x00020000;
constexpr DWORD ACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x00040000;
constexpr DWORD ACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x00080000;
constexpr DWORD ACM_FORMATSUGGESTF_TYPEMASK = 0x00FF0000;

constexpr DWORD ACM_STREAMOPENF_QUERY = 0x00000001;
constexpr DWORD ACM_STREAMOPENF_ASYNC = 0x00000002;
constexpr DWORD ACM_STREAMOPENF_NONREALTIME = 0x00000004;

constexpr DWORD ACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004;
constexpr DWORD ACM_STREAMCONVERTF_START = 0x00000010;
constexpr DWORD ACM_STREAMCONVERTF_END = 0x00000020;

constexpr DWORD ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_INQUEUE = 0x00100000;

// The conversion descriptor. Its length as the system's 32-bit code sets it
// in cbStruct is kAcmStreamHeaderBytes; a header whose cbStruct is that or
// the host's own size is accepted.
constexpr DWORD kAcmStreamHeaderBytes = 84;
struct ACMSTREAMHEADER {
    DWORD cbStruct;
    DWORD fdwStatus;
    DWORD_PTR dwUser;
    BYTE* pbSrc;
    DWORD cbSrcLength;
    DWORD cbSrcLengthUsed;
    DWORD_PTR dwSrcUser;
    BYTE* pbDst;
    DWORD cbDstLength;
    DWORD cbDstLengthUsed;
    DWORD_PTR dwDstUser;
    DWORD dwReservedDriver[10];
};

MMRESULT acmFormatSuggest(HACMDRIVER had, const WAVEFORMATEX* pwfxSrc, WAVEFORMATEX* pwfxDst,
                          DWORD cbwfxDst, DWORD fdwSuggest);
MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const WAVEFORMATEX* pwfxSrc,
                       const WAVEFORMATEX* pwfxDst, WAVEFILTER* pwfltr, DWORD_PTR dwCallback,
                       DWORD_PTR dwInstance, DWORD fdwOpen);
MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwPrepare);
MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwConvert);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* pash, DWORD fdwUnprepare);
MMRESULT acmStreamClose(HACMSTREAM has, DWORD fdwClose);

// Test hooks: without the codec every suggestion and open fails, as on a
// system whose Microsoft ADPCM codec is not installed. Counters of the
// streams opened and the conversions run since the last reset.
void Acm_SetCodecInstalled(bool installed);
int Acm_OpenStreamCount();
void Acm_ResetCounters();
int Acm_ConvertCount();
