// The buffer object: interfaces and references, cursors, status, Lock and
// Unlock through a staging copy, Play, Stop, Restore, volume and pan.
#include <cstdlib>
#include <cstring>

#include "platform/audio/device_probe.h"
#include "platform/audio/device_state.h"

using Hold = std::lock_guard<std::mutex>;

// A buffer whose device was released fails every call but AddRef and Release.
static HRESULT Usable(const DsBufferState* b) {
    if (!b->used) return DSERR_INVALIDCALL;
    if (b->dead) return DSERR_NODRIVER;
    return DS_OK;
}

HRESULT Ds_QueryInterface(DsBufferState* b, REFIID iid, void** out) {
    if (!out) return DSERR_INVALIDPARAM;
    *out = nullptr;
    Hold hold(g_dsMutex);
    HRESULT hr = Usable(b);
    if (FAILED(hr)) return hr;
    bool has3d = (b->flags & DSBCAPS_CTRL3D) != 0;
    if (IsEqualGUID(iid, IID_IDirectSoundBuffer) || (!b->primary && IsEqualGUID(iid, IID_IDirectSoundBuffer8)))
        *out = &b->buffer;
    else if (!b->primary && has3d && IsEqualGUID(iid, IID_IDirectSound3DBuffer))
        *out = &b->buffer3d;
    else if (b->primary && has3d && IsEqualGUID(iid, IID_IDirectSound3DListener))
        *out = &b->listener;
    else
        return DSERR_NOINTERFACE;
    b->refs++;
    return DS_OK;
}

ULONG Ds_AddRef(DsBufferState* b) {
    Hold hold(g_dsMutex);
    if (!b->used) return 0;
    return ++b->refs;
}

ULONG Ds_Release(DsBufferState* b) {
    Hold hold(g_dsMutex);
    if (!b->used || b->refs == 0) return 0;
    ULONG left = --b->refs;
    if (left == 0) Ds_FreeBuffer(b);
    return left;
}

HRESULT IDirectSoundBuffer::QueryInterface(REFIID iid, void** out) { return Ds_QueryInterface(state, iid, out); }
ULONG IDirectSoundBuffer::AddRef() { return Ds_AddRef(state); }
ULONG IDirectSoundBuffer::Release() { return Ds_Release(state); }

DWORD Ds_StatusOf(const DsBufferState* b) {
    DWORD s = 0;
    if (b->playing) {
        s |= DSBSTATUS_PLAYING;
        if (b->looping) s |= DSBSTATUS_LOOPING;
        if (b->flags & DSBCAPS_LOCDEFER) s |= b->holdsVoice ? DSBSTATUS_LOCHARDWARE : DSBSTATUS_LOCSOFTWARE;
    }
    if (b->lost) s |= DSBSTATUS_BUFFERLOST;
    if (b->terminated) s |= DSBSTATUS_TERMINATED;
    return s;
}

void Ds_StopBuffer(DsBufferState* b, bool terminated) {
    b->playing = false;
    // A deferred buffer's voice is placed per Play; a hardware buffer keeps its own.
    if (b->flags & DSBCAPS_LOCDEFER) Ds_DropVoice(b);
    if (terminated) b->terminated = true;
}

HRESULT IDirectSoundBuffer::GetStatus(DWORD* status) {
    if (!status) return DSERR_INVALIDPARAM;
    *status = 0;
    Hold hold(g_dsMutex);
    HRESULT hr = Usable(state);
    if (FAILED(hr)) return hr;
    *status = Ds_StatusOf(state);
    return DS_OK;
}

// The write cursor runs 10 ms ahead of the play cursor while playing: the
// span the mixer may already have read.
static void Cursors(const DsBufferState* b, DWORD* play, DWORD* write) {
    DWORD align = Ds_BlockAlign(b);
    DWORD frame = b->frame;
    *play = frame * align;
    *write = *play;
    if (b->playing && b->frames > 0) {
        DWORD lead = b->format.nSamplesPerSec / 100;
        *write = (DWORD)((frame + (uint64_t)lead) % b->frames) * align;
    }
}

HRESULT IDirectSoundBuffer::GetCurrentPosition(DWORD* playCursor, DWORD* writeCursor) {
    if (playCursor) *playCursor = 0;
    if (writeCursor) *writeCursor = 0;
    Hold hold(g_dsMutex);
    HRESULT hr = Usable(state);
    if (FAILED(hr)) return hr;
    if (state->primary) return DS_OK;
    DWORD play, write;
    Cursors(state, &play, &write);
    if (playCursor) *playCursor = play;
    if (writeCursor) *writeCursor = write;
    return DS_OK;
}

HRESULT IDirectSoundBuffer::SetCurrentPosition(DWORD position) {
    Hold hold(g_dsMutex);
    HRESULT hr = Usable(state);
    if (FAILED(hr)) return hr;
    if (state->primary) return DSERR_INVALIDCALL;
    if (position >= state->bytes) return DSERR_INVALIDPARAM;
    DWORD frame = position / Ds_BlockAlign(state);
    if (frame >= state->frames) frame = 0;  // inside a trailing partial frame
    state->frame = frame;
    state->sub = 0;
    return DS_OK;
}

HRESULT IDirectSoundBuffer::GetFormat(WAVEFORMATEX* format, DWORD sizeAllocated, DWORD* sizeWritten) {
    Hold hold(g_dsMutex);
    HRESULT hr = Usable(state);
    if (FAILED(hr)) return hr;
    if (!format) {
        if (!sizeWritten) return DSERR_INVALIDPARAM;
        *sizeWritten = sizeof(WAVEFORMATEX);
        return DS_OK;
    }
    DWORD n = sizeAllocated < sizeof(WAVEFORMATEX) ? sizeAllocated : (DWORD)sizeof(WAVEFORMATEX);
    std::memcpy(format, &state->format, n);
    if (sizeWritten) *sizeWritten = n;
    return DS_OK;
}

HRESULT IDirectSoundBuffer::SetFormat(const WAVEFORMATEX* format) {
    Hold hold(g_dsMutex);
    HRESULT hr = Usable(state);
    if (FAILED(hr)) return hr;
    if (!state->primary) return DSERR_INVALIDCALL;
    if (g_devices[state->device].level < DSSCL_PRIORITY) return DSERR_PRIOLEVELNEEDED;
    hr = Ds_CheckPcmFormat(format);
    if (FAILED(hr)) return hr;
    state->format = *format;
    state->format.cbSize = 0;
    return DS_OK;
}

HRESULT IDirectSoundBuffer::GetVolume(LONG* volume) {
    if (!volume) return DSERR_INVALIDPARAM;
    Hold hold(g_dsMutex);
    HRESULT hr = Usable(state);
    if (FAILED(hr)) return hr;
    if (!(state->flags & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
    *volume = state->volume;
    return DS_OK;
}

HRESULT IDirectSoundBuffer::SetVolume(LONG volume) {
    Hold hold(g_dsMutex);
    HRESULT hr = Usable(state);
    if (FAILED(hr)) return hr;
    if (!(state->flags & DSBCAPS_CTRLVOLUME)) return DSERR_CONTROLUNAVAIL;
    if (volume < DSBVOLUME_MIN || volume > DSBVOLUME_MAX) return DSERR_INVALIDPARAM;
    state->volume = volume;
    return DS_OK;
}

HRESULT IDirectSoundBuffer::GetPan(LONG* pan) {
    if (!pan) return DSERR_INVALIDPARAM;
    Hold hold(g_dsMutex);
    HRESULT hr = Usable(state);
    if (FAILED(hr)) return hr;
    if (!(state->flags & DSBCAPS_CTRLPAN)) return DSERR_CONTROLUNAVAIL;
    *pan = state->pan;
    return DS_OK;
}

HRESULT IDirectSoundBuffer::SetPan(LONG pan) {
    Hold hold(g_dsMutex);
    HRESULT hr = Usable(state);
    if (FAILED(hr)) return hr;
    if (!(state->flags & DSBCAPS_CTRLPAN)) return DSERR_CONTROLUNAVAIL;
    if (pan < DSBPAN_LEFT || pan > DSBPAN_RIGHT) return DSERR_INVALIDPARAM;
    state->pan = pan;
    return DS_OK;
}

HRESULT IDirectSoundBuffer::Lock(DWORD offset, DWORD bytes, void** ptr1, DWORD* bytes1, void** ptr2, DWORD* bytes2,
                                 DWORD flags) {
    if (ptr1) *ptr1 = nullptr;
    if (bytes1) *bytes1 = 0;
    if (ptr2) *ptr2 = nullptr;
    if (bytes2) *bytes2 = 0;
    if (!ptr1 || !bytes1) return DSERR_INVALIDPARAM;
    Hold hold(g_dsMutex);
    DsBufferState* b = state;
    HRESULT hr = Usable(b);
    if (FAILED(hr)) return hr;
    if (b->primary) return DSERR_PRIOLEVELNEEDED;  // the primary's memory is the device's own
    if (b->lost) return DSERR_BUFFERLOST;
    if (b->locked) return DSERR_INVALIDCALL;  // one region locked at a time
    if (Ds_TakeFailure(DS_FAIL_LOCK)) return DSERR_GENERIC;
    if (flags & DSBLOCK_FROMWRITECURSOR) {
        DWORD play;
        Cursors(b, &play, &offset);
    }
    if (flags & DSBLOCK_ENTIREBUFFER) bytes = b->bytes;
    if (offset >= b->bytes || bytes == 0 || bytes > b->bytes) return DSERR_INVALIDPARAM;

    DWORD first = bytes < b->bytes - offset ? bytes : b->bytes - offset;
    DWORD second = ptr2 ? bytes - first : 0;  // without ptr2 the wrapped part is not locked
    uint8_t* staging = (uint8_t*)std::malloc((size_t)first + second);
    if (!staging) return DSERR_OUTOFMEMORY;
    // The caller sees the buffer's current bytes: what it does not write keeps them.
    std::memcpy(staging, b->data + offset, first);
    if (second) std::memcpy(staging + first, b->data, second);
    b->staging = staging;
    b->locked = true;
    b->lockOffset = offset;
    b->lockBytes1 = first;
    b->lockBytes2 = second;
    *ptr1 = staging;
    *bytes1 = first;
    if (second) *ptr2 = staging + first;
    if (bytes2) *bytes2 = second;
    return DS_OK;
}

HRESULT IDirectSoundBuffer::Unlock(void* ptr1, DWORD bytes1, void* ptr2, DWORD bytes2) {
    Hold hold(g_dsMutex);
    DsBufferState* b = state;
    HRESULT hr = Usable(b);
    if (FAILED(hr)) return hr;
    if (!b->locked) return DSERR_INVALIDCALL;
    if (ptr1 != b->staging || bytes1 > b->lockBytes1) return DSERR_INVALIDPARAM;
    if (bytes2 > 0 && (ptr2 != b->staging + b->lockBytes1 || bytes2 > b->lockBytes2)) return DSERR_INVALIDPARAM;
    std::memcpy(b->data + b->lockOffset, b->staging, bytes1);
    if (bytes2 > 0) std::memcpy(b->data, b->staging + b->lockBytes1, bytes2);
    std::free(b->staging);
    b->staging = nullptr;
    b->locked = false;
    return DS_OK;
}

HRESULT IDirectSoundBuffer::Play(DWORD reserved, DWORD priority, DWORD flags) {
    Hold hold(g_dsMutex);
    DsBufferState* b = state;
    HRESULT hr = Usable(b);
    if (FAILED(hr)) return hr;
    if (reserved != 0) return DSERR_INVALIDPARAM;
    if (b->lost) return DSERR_BUFFERLOST;
    if (b->primary) {
        if (!(flags & DSBPLAY_LOOPING)) return DSERR_INVALIDPARAM;
        b->playing = true;
        b->looping = true;
        b->playFlags = flags;
        return DS_OK;
    }
    const DWORD voiceFlags = DSBPLAY_LOCHARDWARE | DSBPLAY_LOCSOFTWARE | DSBPLAY_TERMINATEBY_TIME |
                             DSBPLAY_TERMINATEBY_DISTANCE | DSBPLAY_TERMINATEBY_PRIORITY;
    bool deferred = (b->flags & DSBCAPS_LOCDEFER) != 0;
    // Placement and voice management belong to deferred buffers only.
    if (!deferred && (priority != 0 || (flags & voiceFlags))) return DSERR_INVALIDPARAM;
    if ((flags & DSBPLAY_LOCHARDWARE) && (flags & DSBPLAY_LOCSOFTWARE)) return DSERR_INVALIDPARAM;
    if ((flags & DSBPLAY_LOCSOFTWARE) && (flags & voiceFlags & ~DSBPLAY_LOCSOFTWARE)) return DSERR_INVALIDPARAM;
    if (deferred && !b->playing && !Ds_PlaceDeferred(b, flags)) return DSERR_ALLOCATED;
    b->playing = true;
    b->looping = (flags & DSBPLAY_LOOPING) != 0;
    b->playFlags = flags;
    b->terminated = false;
    return DS_OK;
}

HRESULT IDirectSoundBuffer::Stop() {
    Hold hold(g_dsMutex);
    HRESULT hr = Usable(state);
    if (FAILED(hr)) return hr;
    Ds_StopBuffer(state, false);
    return DS_OK;
}

HRESULT IDirectSoundBuffer::Restore() {
    Hold hold(g_dsMutex);
    HRESULT hr = Usable(state);
    if (FAILED(hr)) return hr;
    state->lost = false;
    return DS_OK;
}
