#include "platform/codec/acm.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/codec/msadpcm.h"

struct AcmStream {
    bool used;
    bool decode;  // ADPCM -> PCM; else PCM -> ADPCM
    int channels;
    int blockAlign;  // of the ADPCM side
    int samplesPerBlock;
};

constexpr int kAcmStreams = 32;
static AcmStream streams[kAcmStreams];
static std::mutex streamsLock;
static std::atomic<bool> codecInstalled{true};
static std::atomic<int> convertCount{0};

void Acm_SetCodecInstalled(bool installed) { codecInstalled = installed; }
void Acm_ResetCounters() { convertCount = 0; }
int Acm_ConvertCount() { return convertCount; }
int Acm_OpenStreamCount() {
    std::lock_guard<std::mutex> guard(streamsLock);
    int n = 0;
    for (const AcmStream& s : streams) n += s.used;
    return n;
}

static bool IsPcm16(const WAVEFORMATEX* f) {
    return f->wFormatTag == WAVE_FORMAT_PCM && f->wBitsPerSample == 16 && f->nChannels >= 1 &&
           f->nChannels <= 2 && f->nSamplesPerSec > 0 && f->nBlockAlign == f->nChannels * 2;
}

// The coefficient table of an ADPCM format is not read: the format fixes the
// seven standard pairs, which are the only ones this codec decodes.
static bool IsAdpcm(const WAVEFORMATEX* f) {
    return f->wFormatTag == WAVE_FORMAT_ADPCM && f->wBitsPerSample == 4 && f->nChannels >= 1 &&
           f->nChannels <= 2 && f->nSamplesPerSec > 0 && f->nBlockAlign >= 7 * f->nChannels &&
           f->cbSize >= 32;
}

MMRESULT acmFormatSuggest(HACMDRIVER, const WAVEFORMATEX* src, WAVEFORMATEX* dst, DWORD cbDst,
                          DWORD flags) {
    if (!src || !dst) return MMSYSERR_INVALPARAM;
    if (flags & ~ACM_FORMATSUGGESTF_TYPEMASK) return MMSYSERR_INVALFLAG;
    if (!codecInstalled) return ACMERR_NOTPOSSIBLE;
    WORD tag;
    if (IsPcm16(src))
        tag = WAVE_FORMAT_ADPCM;
    else if (IsAdpcm(src))
        tag = WAVE_FORMAT_PCM;
    else
        return ACMERR_NOTPOSSIBLE;
    // The codec keeps channels and rate, and has one bit depth per side.
    if ((flags & ACM_FORMATSUGGESTF_WFORMATTAG) && dst->wFormatTag != tag) return ACMERR_NOTPOSSIBLE;
    if ((flags & ACM_FORMATSUGGESTF_NCHANNELS) && dst->nChannels != src->nChannels)
        return ACMERR_NOTPOSSIBLE;
    if ((flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) && dst->nSamplesPerSec != src->nSamplesPerSec)
        return ACMERR_NOTPOSSIBLE;
    if ((flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) &&
        dst->wBitsPerSample != (tag == WAVE_FORMAT_PCM ? 16 : 4))
        return ACMERR_NOTPOSSIBLE;

    if (tag == WAVE_FORMAT_ADPCM) {
        if (cbDst < sizeof(ADPCMWAVEFORMAT)) return ACMERR_NOTPOSSIBLE;
        ADPCMWAVEFORMAT f;
        MsAdpcm_Format(&f, (int)src->nSamplesPerSec, src->nChannels);
        memcpy(dst, &f, sizeof f);
        return MMSYSERR_NOERROR;
    }
    if (cbDst < sizeof(WAVEFORMATEX)) return ACMERR_NOTPOSSIBLE;
    WAVEFORMATEX f;
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = src->nChannels;
    f.nSamplesPerSec = src->nSamplesPerSec;
    f.nBlockAlign = (WORD)(2 * src->nChannels);
    f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
    f.wBitsPerSample = 16;
    f.cbSize = 0;
    memcpy(dst, &f, sizeof f);
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER, const WAVEFORMATEX* src, const WAVEFORMATEX* dst,
                       WAVEFILTER* filter, DWORD_PTR, DWORD_PTR, DWORD flags) {
    if (phas) *phas = nullptr;
    if (!src || !dst || filter) return MMSYSERR_INVALPARAM;
    if (!phas && !(flags & ACM_STREAMOPENF_QUERY)) return MMSYSERR_INVALPARAM;
    if (flags & ~(ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_ASYNC | ACM_STREAMOPENF_NONREALTIME))
        return MMSYSERR_INVALFLAG;
    if (flags & ACM_STREAMOPENF_ASYNC) return ACMERR_NOTPOSSIBLE;
    if (!codecInstalled) return ACMERR_NOTPOSSIBLE;
    bool decode;
    const WAVEFORMATEX* adpcm;
    if (IsAdpcm(src) && IsPcm16(dst)) {
        decode = true;
        adpcm = src;
    } else if (IsPcm16(src) && IsAdpcm(dst)) {
        decode = false;
        adpcm = dst;
    } else {
        return ACMERR_NOTPOSSIBLE;
    }
    if (src->nChannels != dst->nChannels || src->nSamplesPerSec != dst->nSamplesPerSec)
        return ACMERR_NOTPOSSIBLE;
    if (flags & ACM_STREAMOPENF_QUERY) return MMSYSERR_NOERROR;

    std::lock_guard<std::mutex> guard(streamsLock);
    for (AcmStream& s : streams) {
        if (s.used) continue;
        s.used = true;
        s.decode = decode;
        s.channels = adpcm->nChannels;
        s.blockAlign = adpcm->nBlockAlign;
        s.samplesPerBlock = MsAdpcm_SamplesPerBlock(s.blockAlign, s.channels);
        *phas = &s;
        return MMSYSERR_NOERROR;
    }
    return MMSYSERR_NOMEM;
}

static bool ValidStream(HACMSTREAM has) {
    return has && has >= streams && has < streams + kAcmStreams && has->used;
}

static bool ValidHeader(const ACMSTREAMHEADER* h) {
    return h && (h->cbStruct == kAcmStreamHeaderBytes || h->cbStruct == sizeof(ACMSTREAMHEADER)) &&
           h->pbSrc && h->pbDst;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER* h, DWORD) {
    if (!ValidStream(has)) return MMSYSERR_INVALHANDLE;
    if (!ValidHeader(h)) return MMSYSERR_INVALPARAM;
    h->fdwStatus |= ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER* h, DWORD) {
    if (!ValidStream(has)) return MMSYSERR_INVALHANDLE;
    if (!ValidHeader(h)) return MMSYSERR_INVALPARAM;
    if (!(h->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
    h->fdwStatus &= ~(ACMSTREAMHEADER_STATUSF_PREPARED | ACMSTREAMHEADER_STATUSF_DONE);
    return MMSYSERR_NOERROR;
}

// Whole blocks while the output has room; without BLOCKALIGN a last partial
// block (at least its headers, or a last run of PCM frames) is converted too.
static void Decode(const AcmStream& s, ACMSTREAMHEADER* h, bool blockAlign) {
    DWORD frameBytes = (DWORD)(2 * s.channels);
    DWORD fullOut = (DWORD)s.samplesPerBlock * frameBytes;
    DWORD in = 0, out = 0;
    while (in < h->cbSrcLength) {
        DWORD bytes = h->cbSrcLength - in;
        if (bytes > (DWORD)s.blockAlign) bytes = (DWORD)s.blockAlign;
        if (bytes < (DWORD)s.blockAlign && (blockAlign || bytes < (DWORD)(7 * s.channels))) break;
        DWORD need = bytes == (DWORD)s.blockAlign
                         ? fullOut
                         : (DWORD)MsAdpcm_SamplesPerBlock((int)bytes, s.channels) * frameBytes;
        if (h->cbDstLength - out < need) break;
        int frames = MsAdpcm_DecodeBlock(h->pbSrc + in, (int)bytes, s.channels, (int16_t*)(h->pbDst + out));
        in += bytes;
        out += (DWORD)frames * frameBytes;
    }
    h->cbSrcLengthUsed = in;
    h->cbDstLengthUsed = out;
}

static void Encode(const AcmStream& s, ACMSTREAMHEADER* h, bool blockAlign) {
    DWORD frameBytes = (DWORD)(2 * s.channels);
    DWORD fullIn = (DWORD)s.samplesPerBlock * frameBytes;
    DWORD in = 0, out = 0;
    while (h->cbSrcLength - in >= frameBytes) {
        DWORD bytes = h->cbSrcLength - in;
        if (bytes > fullIn) bytes = fullIn;
        if (bytes < fullIn && blockAlign) break;
        if (h->cbDstLength - out < (DWORD)s.blockAlign) break;
        int frames = (int)(bytes / frameBytes);
        MsAdpcm_EncodeBlock((const int16_t*)(h->pbSrc + in), frames, s.channels, s.blockAlign,
                            h->pbDst + out);
        in += (DWORD)frames * frameBytes;
        out += (DWORD)s.blockAlign;
    }
    h->cbSrcLengthUsed = in;
    h->cbDstLengthUsed = out;
}

MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER* h, DWORD flags) {
    if (!ValidStream(has)) return MMSYSERR_INVALHANDLE;
    if (!ValidHeader(h)) return MMSYSERR_INVALPARAM;
    if (flags & ~(ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END))
        return MMSYSERR_INVALFLAG;
    if (!(h->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
    h->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    bool blockAlign = (flags & ACM_STREAMCONVERTF_BLOCKALIGN) != 0;
    if (has->decode)
        Decode(*has, h, blockAlign);
    else
        Encode(*has, h, blockAlign);
    h->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    convertCount++;
    return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM has, DWORD) {
    std::lock_guard<std::mutex> guard(streamsLock);
    if (!ValidStream(has)) return MMSYSERR_INVALHANDLE;
    has->used = false;
    return MMSYSERR_NOERROR;
}
