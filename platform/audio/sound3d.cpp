// The 3D interfaces: a 3D buffer's parameters and the listener of the
// primary buffer, each set at once or deferred until CommitDeferredSettings.
#include <cmath>

#include "platform/audio/device_state.h"

using Hold = std::lock_guard<std::mutex>;

static bool Finite(const D3DVECTOR& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

static HRESULT Check3DBuffer(const DS3DBUFFER* p) {
    if (!p || p->dwSize != sizeof(DS3DBUFFER)) return DSERR_INVALIDPARAM;
    if (!Finite(p->vPosition) || !Finite(p->vVelocity) || !Finite(p->vConeOrientation)) return DSERR_INVALIDPARAM;
    if (p->dwInsideConeAngle > 360 || p->dwOutsideConeAngle > 360) return DSERR_INVALIDPARAM;
    if (p->lConeOutsideVolume < DSBVOLUME_MIN || p->lConeOutsideVolume > DSBVOLUME_MAX) return DSERR_INVALIDPARAM;
    if (!(p->flMinDistance >= 0.0f) || !(p->flMaxDistance >= 0.0f)) return DSERR_INVALIDPARAM;  // NaN too
    if (!std::isfinite(p->flMinDistance) || !std::isfinite(p->flMaxDistance)) return DSERR_INVALIDPARAM;
    if (p->dwMode > DS3DMODE_DISABLE) return DSERR_INVALIDPARAM;
    return DS_OK;
}

static HRESULT CheckListener(const DS3DLISTENER* p) {
    if (!p || p->dwSize != sizeof(DS3DLISTENER)) return DSERR_INVALIDPARAM;
    if (!Finite(p->vPosition) || !Finite(p->vVelocity) || !Finite(p->vOrientFront) || !Finite(p->vOrientTop))
        return DSERR_INVALIDPARAM;
    if (!(p->flDistanceFactor > 0.0f) || !std::isfinite(p->flDistanceFactor)) return DSERR_INVALIDPARAM;
    if (!(p->flRolloffFactor >= 0.0f && p->flRolloffFactor <= 10.0f)) return DSERR_INVALIDPARAM;
    if (!(p->flDopplerFactor >= 0.0f && p->flDopplerFactor <= 10.0f)) return DSERR_INVALIDPARAM;
    return DS_OK;
}

static HRESULT Usable3D(const DsBufferState* b) {
    if (!b->used) return DSERR_INVALIDCALL;
    if (b->dead) return DSERR_NODRIVER;
    return DS_OK;
}

HRESULT IDirectSound3DBuffer::QueryInterface(REFIID iid, void** out) { return Ds_QueryInterface(state, iid, out); }
ULONG IDirectSound3DBuffer::AddRef() { return Ds_AddRef(state); }
ULONG IDirectSound3DBuffer::Release() { return Ds_Release(state); }

HRESULT IDirectSound3DBuffer::GetAllParameters(DS3DBUFFER* params) {
    if (!params || params->dwSize < sizeof(DS3DBUFFER)) return DSERR_INVALIDPARAM;
    Hold hold(g_dsMutex);
    HRESULT hr = Usable3D(state);
    if (FAILED(hr)) return hr;
    *params = state->params3d;
    return DS_OK;
}

HRESULT IDirectSound3DBuffer::SetAllParameters(const DS3DBUFFER* params, DWORD apply) {
    HRESULT hr = Check3DBuffer(params);
    if (FAILED(hr)) return hr;
    if (apply != DS3D_IMMEDIATE && apply != DS3D_DEFERRED) return DSERR_INVALIDPARAM;
    Hold hold(g_dsMutex);
    hr = Usable3D(state);
    if (FAILED(hr)) return hr;
    if (apply == DS3D_DEFERRED) {
        state->deferred3d = *params;
        state->hasDeferred3d = true;
    } else {
        state->params3d = *params;
        state->hasDeferred3d = false;  // a whole record set now supersedes what waited
    }
    return DS_OK;
}

// One vector of the 3D record, now or at the next commit.
static HRESULT SetVector(DsBufferState* b, D3DVECTOR DS3DBUFFER::*field, D3DVECTOR v, DWORD apply) {
    if (!Finite(v)) return DSERR_INVALIDPARAM;
    if (apply != DS3D_IMMEDIATE && apply != DS3D_DEFERRED) return DSERR_INVALIDPARAM;
    Hold hold(g_dsMutex);
    HRESULT hr = Usable3D(b);
    if (FAILED(hr)) return hr;
    if (apply == DS3D_DEFERRED) {
        if (!b->hasDeferred3d) b->deferred3d = b->params3d;
        b->deferred3d.*field = v;
        b->hasDeferred3d = true;
    } else {
        b->params3d.*field = v;
        if (b->hasDeferred3d) b->deferred3d.*field = v;  // a later commit must not undo it
    }
    return DS_OK;
}

HRESULT IDirectSound3DBuffer::SetPosition(D3DVALUE x, D3DVALUE y, D3DVALUE z, DWORD apply) {
    return SetVector(state, &DS3DBUFFER::vPosition, D3DVECTOR{x, y, z}, apply);
}

HRESULT IDirectSound3DBuffer::SetVelocity(D3DVALUE x, D3DVALUE y, D3DVALUE z, DWORD apply) {
    return SetVector(state, &DS3DBUFFER::vVelocity, D3DVECTOR{x, y, z}, apply);
}

HRESULT IDirectSound3DListener::QueryInterface(REFIID iid, void** out) { return Ds_QueryInterface(state, iid, out); }
ULONG IDirectSound3DListener::AddRef() { return Ds_AddRef(state); }
ULONG IDirectSound3DListener::Release() { return Ds_Release(state); }

HRESULT IDirectSound3DListener::GetAllParameters(DS3DLISTENER* params) {
    if (!params || params->dwSize < sizeof(DS3DLISTENER)) return DSERR_INVALIDPARAM;
    Hold hold(g_dsMutex);
    HRESULT hr = Usable3D(state);
    if (FAILED(hr)) return hr;
    *params = g_devices[state->device].listener;
    return DS_OK;
}

HRESULT IDirectSound3DListener::SetAllParameters(const DS3DLISTENER* params, DWORD apply) {
    HRESULT hr = CheckListener(params);
    if (FAILED(hr)) return hr;
    if (apply != DS3D_IMMEDIATE && apply != DS3D_DEFERRED) return DSERR_INVALIDPARAM;
    Hold hold(g_dsMutex);
    hr = Usable3D(state);
    if (FAILED(hr)) return hr;
    DsDeviceState& d = g_devices[state->device];
    if (apply == DS3D_DEFERRED) {
        d.deferredListener = *params;
        d.hasDeferredListener = true;
    } else {
        d.listener = *params;
        d.hasDeferredListener = false;
    }
    return DS_OK;
}

// Applies every deferred setting of the device: the listener's and each 3D buffer's.
HRESULT IDirectSound3DListener::CommitDeferredSettings() {
    Hold hold(g_dsMutex);
    HRESULT hr = Usable3D(state);
    if (FAILED(hr)) return hr;
    DsDeviceState& d = g_devices[state->device];
    if (d.hasDeferredListener) d.listener = d.deferredListener;
    d.hasDeferredListener = false;
    for (DsBufferState& b : g_buffers) {
        if (!b.used || b.dead || b.device != state->device || !b.hasDeferred3d) continue;
        b.params3d = b.deferred3d;
        b.hasDeferred3d = false;
    }
    return DS_OK;
}
