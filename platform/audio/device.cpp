// The device object: creation, cooperative level, buffer creation with the
// description checks DirectSound makes, and reference counting.
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/audio/device_probe.h"
#include "platform/audio/device_state.h"

std::mutex g_dsMutex;
DsDeviceState g_devices[kMaxDevices];
DsBufferState g_buffers[kMaxBuffers];
int g_hardwareVoices = kDefaultHardwareVoices;
bool g_failNext[5];

static uint64_t s_serial = 0;

bool Ds_TakeFailure(int point) {
    if (!g_failNext[point]) return false;
    g_failNext[point] = false;
    return true;
}

DS3DBUFFER Ds_Default3DBuffer() {
    DS3DBUFFER p{};
    p.dwSize = sizeof(DS3DBUFFER);
    p.dwInsideConeAngle = DS3D_DEFAULTCONEANGLE;
    p.dwOutsideConeAngle = DS3D_DEFAULTCONEANGLE;
    p.vConeOrientation = {0.0f, 0.0f, 1.0f};
    p.flMinDistance = 1.0f;
    p.flMaxDistance = 1000000000.0f;
    p.dwMode = DS3DMODE_NORMAL;
    return p;
}

DS3DLISTENER Ds_DefaultListener() {
    DS3DLISTENER p{};
    p.dwSize = sizeof(DS3DLISTENER);
    p.vOrientFront = {0.0f, 0.0f, 1.0f};
    p.vOrientTop = {0.0f, 1.0f, 0.0f};
    p.flDistanceFactor = 1.0f;
    p.flRolloffFactor = 1.0f;
    p.flDopplerFactor = 1.0f;
    return p;
}

HRESULT Ds_CheckPcmFormat(const WAVEFORMATEX* f) {
    if (!f) return DSERR_INVALIDPARAM;
    if (f->wFormatTag != WAVE_FORMAT_PCM) return DSERR_BADFORMAT;
    if (f->nChannels != 1 && f->nChannels != 2) return DSERR_BADFORMAT;
    if (f->wBitsPerSample != 8 && f->wBitsPerSample != 16) return DSERR_BADFORMAT;
    if (f->nBlockAlign != f->nChannels * f->wBitsPerSample / 8) return DSERR_INVALIDPARAM;
    if (f->nSamplesPerSec < kMinFrequency || f->nSamplesPerSec > kMaxFrequency) return DSERR_INVALIDPARAM;
    return DS_OK;
}

DWORD Ds_BlockAlign(const DsBufferState* b) { return b->format.nBlockAlign ? b->format.nBlockAlign : 1; }

void Ds_FreeBuffer(DsBufferState* b) {
    Ds_DropVoice(b);
    std::free(b->data);
    std::free(b->staging);
    if (b->primary && !b->dead) g_devices[b->device].primary = -1;
    b->used = false;
    b->data = nullptr;
    b->staging = nullptr;
}

// Frees a device: its buffers stay as dead records until their own release,
// so pointers the client still holds never dangle.
static void FreeDevice(DsDeviceState* d) {
    int index = (int)(d - g_devices);
    for (DsBufferState& b : g_buffers) {
        if (!b.used || b.dead || b.device != index) continue;
        b.playing = false;
        Ds_DropVoice(&b);
        std::free(b.data);
        b.data = nullptr;
        // A staging copy the client may still be writing into stays until
        // the buffer's own release.
        b.dead = true;
    }
    d->used = false;
}

HRESULT DirectSoundCreate8(const GUID* device, IDirectSound8** out, void* outer) {
    if (!out) return DSERR_INVALIDPARAM;
    *out = nullptr;
    if (outer) return DSERR_INVALIDPARAM;  // no aggregation
    if (device && !IsEqualGUID(*device, GUID_NULL)) return DSERR_NODRIVER;
    {
        std::lock_guard<std::mutex> hold(g_dsMutex);
        if (Ds_TakeFailure(DS_FAIL_CREATE_DEVICE)) return DSERR_NODRIVER;
    }
    // The output is opened outside the device mutex: its sink may render.
    if (!AudioOutput_EnsureOpen()) return DSERR_NODRIVER;

    std::lock_guard<std::mutex> hold(g_dsMutex);
    for (DsDeviceState& d : g_devices) {
        if (d.used) continue;
        d = DsDeviceState{};
        d.used = true;
        d.serial = ++s_serial;
        d.refs = 1;
        d.primary = -1;
        d.listener = Ds_DefaultListener();
        d.deferredListener = d.listener;
        d.device.state = &d;
        *out = &d.device;
        return DS_OK;
    }
    return DSERR_OUTOFMEMORY;
}

ULONG IDirectSound8::AddRef() {
    std::lock_guard<std::mutex> hold(g_dsMutex);
    if (!state->used) return 0;
    return ++state->refs;
}

ULONG IDirectSound8::Release() {
    std::lock_guard<std::mutex> hold(g_dsMutex);
    if (!state->used) return 0;
    ULONG left = --state->refs;
    if (left == 0) FreeDevice(state);
    return left;
}

static HWND s_lastWindow = nullptr;
static DWORD s_lastLevel = 0;

HRESULT IDirectSound8::SetCooperativeLevel(HWND window, DWORD level) {
    std::lock_guard<std::mutex> hold(g_dsMutex);
    if (!state->used) return DSERR_INVALIDCALL;
    if (Ds_TakeFailure(DS_FAIL_COOPERATIVE_LEVEL)) return DSERR_GENERIC;
    if (!window || level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY) return DSERR_INVALIDPARAM;
    state->window = window;
    state->level = level;
    s_lastWindow = window;
    s_lastLevel = level;
    return DS_OK;
}

HWND DsInspect_CooperativeWindow() {
    std::lock_guard<std::mutex> hold(g_dsMutex);
    return s_lastWindow;
}

DWORD DsInspect_CooperativeLevel() {
    std::lock_guard<std::mutex> hold(g_dsMutex);
    return s_lastLevel;
}

static bool KnownAlgorithm(const GUID& g) {
    return IsEqualGUID(g, DS3DALG_DEFAULT) || IsEqualGUID(g, DS3DALG_NO_VIRTUALIZATION) ||
           IsEqualGUID(g, DS3DALG_HRTF_FULL) || IsEqualGUID(g, DS3DALG_HRTF_LIGHT);
}

// The record's size as the system's 32-bit code sets it (36, or 20 for the
// older record without a 3D algorithm) or as this build lays it out.
constexpr DWORD kDescSize32 = 36;
constexpr DWORD kDescSizeOld32 = 20;
constexpr DWORD kDescSizeOld = offsetof(DSBUFFERDESC, guid3DAlgorithm);

static bool DescSizeKnown(DWORD size) {
    return size == kDescSize32 || size == kDescSizeOld32 || size == sizeof(DSBUFFERDESC) || size == kDescSizeOld;
}

static bool HasAlgorithm(const DSBUFFERDESC* desc) { return desc->dwSize >= kDescSize32; }

static DsBufferState* NewRecord(int device, DWORD flags) {
    for (DsBufferState& b : g_buffers) {
        if (b.used) continue;
        b = DsBufferState{};
        b.used = true;
        b.device = device;
        b.serial = ++s_serial;
        b.refs = 1;
        b.flags = flags;
        b.params3d = Ds_Default3DBuffer();
        b.deferred3d = b.params3d;
        b.buffer.state = &b;
        b.buffer3d.state = &b;
        b.listener.state = &b;
        return &b;
    }
    return nullptr;
}

// The primary buffer: one per device; asking again hands out another
// reference to the same object.
static HRESULT CreatePrimary(DsDeviceState* d, const DSBUFFERDESC* desc, IDirectSoundBuffer** out) {
    if (desc->dwBufferBytes != 0 || desc->lpwfxFormat) return DSERR_INVALIDPARAM;
    if (Ds_TakeFailure(DS_FAIL_PRIMARY_BUFFER)) return DSERR_GENERIC;
    if (d->primary >= 0) {
        DsBufferState* p = &g_buffers[d->primary];
        p->refs++;
        *out = &p->buffer;
        return DS_OK;
    }
    DsBufferState* b = NewRecord((int)(d - g_devices), desc->dwFlags);
    if (!b) return DSERR_OUTOFMEMORY;
    b->primary = true;
    // What the device shows before SetFormat; the mix itself is always
    // 44100 Hz stereo 16-bit.
    b->format = WAVEFORMATEX{WAVE_FORMAT_PCM, 2, 22050, 44100, 2, 8, 0};
    d->primary = (int)(b - g_buffers);
    *out = &b->buffer;
    return DS_OK;
}

// Keeps every secondary buffer's flags, for tests reading what a start made.
constexpr int kCreatedRecord = 65536;
static DWORD s_createdFlags[kCreatedRecord];
static int s_createdCount = 0;

static HRESULT CreateSecondary(DsDeviceState* d, const DSBUFFERDESC* desc, IDirectSoundBuffer** out) {
    DWORD flags = desc->dwFlags;
    if (desc->dwBufferBytes < DSBSIZE_MIN || desc->dwBufferBytes > DSBSIZE_MAX) return DSERR_INVALIDPARAM;
    HRESULT hr = Ds_CheckPcmFormat(desc->lpwfxFormat);
    if (FAILED(hr)) return hr;
    DWORD placements = flags & (DSBCAPS_LOCHARDWARE | DSBCAPS_LOCSOFTWARE | DSBCAPS_LOCDEFER);
    if (placements & (placements - 1)) return DSERR_INVALIDPARAM;  // at most one placement
    if (flags & DSBCAPS_CTRL3D) {
        if (desc->lpwfxFormat->nChannels != 1) return DSERR_INVALIDPARAM;
        if (flags & DSBCAPS_CTRLPAN) return DSERR_INVALIDPARAM;
        if (HasAlgorithm(desc) && !KnownAlgorithm(desc->guid3DAlgorithm))
            return DSERR_INVALIDPARAM;
    }
    if (Ds_TakeFailure(DS_FAIL_SECONDARY_BUFFER)) return DSERR_OUTOFMEMORY;
    if ((flags & DSBCAPS_LOCHARDWARE) && Ds_VoicesInUse() >= g_hardwareVoices) return DSERR_ALLOCATED;

    uint8_t* data = (uint8_t*)std::calloc(desc->dwBufferBytes, 1);
    if (!data) return DSERR_OUTOFMEMORY;
    DsBufferState* b = NewRecord((int)(d - g_devices), flags);
    if (!b) {
        std::free(data);
        return DSERR_OUTOFMEMORY;
    }
    b->bytes = desc->dwBufferBytes;
    b->format = *desc->lpwfxFormat;
    b->format.cbSize = 0;
    b->format.nAvgBytesPerSec = b->format.nSamplesPerSec * b->format.nBlockAlign;
    if (HasAlgorithm(desc)) b->algorithm = desc->guid3DAlgorithm;
    b->data = data;
    b->frames = b->bytes / b->format.nBlockAlign;
    b->holdsVoice = (flags & DSBCAPS_LOCHARDWARE) != 0;
    if (s_createdCount < kCreatedRecord) s_createdFlags[s_createdCount] = flags;
    s_createdCount++;
    *out = &b->buffer;
    return DS_OK;
}

HRESULT IDirectSound8::CreateSoundBuffer(const DSBUFFERDESC* desc, IDirectSoundBuffer** out, void* outer) {
    if (!out) return DSERR_INVALIDPARAM;
    *out = nullptr;
    if (!desc || outer) return DSERR_INVALIDPARAM;
    if (!DescSizeKnown(desc->dwSize)) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> hold(g_dsMutex);
    if (!state->used) return DSERR_INVALIDCALL;
    if (desc->dwFlags & DSBCAPS_PRIMARYBUFFER) return CreatePrimary(state, desc, out);
    return CreateSecondary(state, desc, out);
}

int DsInspect_CreatedCount() {
    std::lock_guard<std::mutex> hold(g_dsMutex);
    return s_createdCount;
}

DWORD DsInspect_CreatedFlags(int index) {
    std::lock_guard<std::mutex> hold(g_dsMutex);
    if (index < 0 || index >= s_createdCount || index >= kCreatedRecord) return 0;
    return s_createdFlags[index];
}

void Ds_ClearCreatedRecord() { s_createdCount = 0; }
