// The DirectSound 8 operations the engine uses, on our software audio device.
//
// Objects are plain classes with the interface's method names, arguments and
// results; flags, status bits and error codes keep the platform's values.
// One buffer object serves the buffer, buffer-8 and 3D-buffer interfaces
// (QueryInterface hands out the same object under another type) and keeps one
// reference count for all of them, as a COM object does.
#pragma once

#include "platform/win_types.h"

struct D3DVECTOR {
    float x, y, z;
};

struct DSBUFFERDESC {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwBufferBytes;
    DWORD dwReserved;
    WAVEFORMATEX* lpwfxFormat;
    GUID guid3DAlgorithm;
};

struct DS3DBUFFER {
    DWORD dwSize;  // 64
    D3DVECTOR vPosition;
    D3DVECTOR vVelocity;
    DWORD dwInsideConeAngle;
    DWORD dwOutsideConeAngle;
    D3DVECTOR vConeOrientation;
    LONG lConeOutsideVolume;
    D3DVALUE flMinDistance;
    D3DVALUE flMaxDistance;
    DWORD dwMode;
};
static_assert(sizeof(DS3DBUFFER) == 64);

struct DS3DLISTENER {
    DWORD dwSize;  // 64
    D3DVECTOR vPosition;
    D3DVECTOR vVelocity;
    D3DVECTOR vOrientFront;
    D3DVECTOR vOrientTop;
    D3DVALUE flDistanceFactor;
    D3DVALUE flRolloffFactor;
    D3DVALUE flDopplerFactor;
};
static_assert(sizeof(DS3DLISTENER) == 64);

// Results.
constexpr HRESULT DS_OK = 0;
constexpr HRESULT DSERR_ALLOCATED = (HRESULT)0x8878000Au;
constexpr HRESULT DSERR_CONTROLUNAVAIL = (HRESULT)0x8878001Eu;
constexpr HRESULT DSERR_INVALIDPARAM = E_INVALIDARG;
constexpr HRESULT DSERR_INVALIDCALL = (HRESULT)0x88780032u;
constexpr HRESULT DSERR_GENERIC = E_FAIL;
constexpr HRESULT DSERR_PRIOLEVELNEEDED = (HRESULT)0x88780046u;
constexpr HRESULT DSERR_OUTOFMEMORY = E_OUTOFMEMORY;
constexpr HRESULT DSERR_BADFORMAT = (HRESULT)0x88780064u;
constexpr HRESULT DSERR_UNSUPPORTED = (HRESULT)0x80004001u;
constexpr HRESULT DSERR_NODRIVER = (HRESULT)0x88780078u;
constexpr HRESULT DSERR_BUFFERLOST = (HRESULT)0x88780096u;
constexpr HRESULT DSERR_NOINTERFACE = E_NOINTERFACE;

// Cooperative levels.
constexpr DWORD DSSCL_NORMAL = 1;
constexpr DWORD DSSCL_PRIORITY = 2;
constexpr DWORD DSSCL_EXCLUSIVE = 3;
constexpr DWORD DSSCL_WRITEPRIMARY = 4;

// Buffer capabilities.
constexpr DWORD DSBCAPS_PRIMARYBUFFER = 0x00000001;
constexpr DWORD DSBCAPS_STATIC = 0x00000002;
constexpr DWORD DSBCAPS_LOCHARDWARE = 0x00000004;
constexpr DWORD DSBCAPS_LOCSOFTWARE = 0x00000008;
constexpr DWORD DSBCAPS_CTRL3D = 0x00000010;
constexpr DWORD DSBCAPS_CTRLFREQUENCY = 0x00000020;
constexpr DWORD DSBCAPS_CTRLPAN = 0x00000040;
constexpr DWORD DSBCAPS_CTRLVOLUME = 0x00000080;
constexpr DWORD DSBCAPS_CTRLPOSITIONNOTIFY = 0x00000100;
constexpr DWORD DSBCAPS_STICKYFOCUS = 0x00004000;
constexpr DWORD DSBCAPS_GLOBALFOCUS = 0x00008000;
constexpr DWORD DSBCAPS_GETCURRENTPOSITION2 = 0x00010000;
constexpr DWORD DSBCAPS_MUTE3DATMAXDISTANCE = 0x00020000;
constexpr DWORD DSBCAPS_LOCDEFER = 0x00040000;

// Play flags.
constexpr DWORD DSBPLAY_LOOPING = 0x00000001;
constexpr DWORD DSBPLAY_LOCHARDWARE = 0x00000002;
constexpr DWORD DSBPLAY_LOCSOFTWARE = 0x00000004;
constexpr DWORD DSBPLAY_TERMINATEBY_TIME = 0x00000008;
constexpr DWORD DSBPLAY_TERMINATEBY_DISTANCE = 0x00000010;
constexpr DWORD DSBPLAY_TERMINATEBY_PRIORITY = 0x00000020;

// Status bits.
constexpr DWORD DSBSTATUS_PLAYING = 0x00000001;
constexpr DWORD DSBSTATUS_BUFFERLOST = 0x00000002;
constexpr DWORD DSBSTATUS_LOOPING = 0x00000004;
constexpr DWORD DSBSTATUS_LOCHARDWARE = 0x00000008;
constexpr DWORD DSBSTATUS_LOCSOFTWARE = 0x00000010;
constexpr DWORD DSBSTATUS_TERMINATED = 0x00000020;

// Lock flags.
constexpr DWORD DSBLOCK_FROMWRITECURSOR = 0x00000001;
constexpr DWORD DSBLOCK_ENTIREBUFFER = 0x00000002;

constexpr LONG DSBVOLUME_MIN = -10000;
constexpr LONG DSBVOLUME_MAX = 0;
constexpr LONG DSBPAN_LEFT = -10000;
constexpr LONG DSBPAN_RIGHT = 10000;
constexpr DWORD DSBSIZE_MIN = 4;
constexpr DWORD DSBSIZE_MAX = 0x0FFFFFFF;

// 3D.
constexpr DWORD DS3D_IMMEDIATE = 0;
constexpr DWORD DS3D_DEFERRED = 1;
constexpr DWORD DS3DMODE_NORMAL = 0;
constexpr DWORD DS3DMODE_HEADRELATIVE = 1;
constexpr DWORD DS3DMODE_DISABLE = 2;
constexpr DWORD DS3D_DEFAULTCONEANGLE = 360;

constexpr GUID DS3DALG_DEFAULT = GUID_NULL;
constexpr GUID DS3DALG_NO_VIRTUALIZATION = {0xC241333F, 0x1C1B, 0x11D2, {0x94, 0xF5, 0x00, 0xC0, 0x4F, 0xC2, 0x8A, 0xCA}};
constexpr GUID DS3DALG_HRTF_FULL = {0xC2413340, 0x1C1B, 0x11D2, {0x94, 0xF5, 0x00, 0xC0, 0x4F, 0xC2, 0x8A, 0xCA}};
constexpr GUID DS3DALG_HRTF_LIGHT = {0xC2413342, 0x1C1B, 0x11D2, {0x94, 0xF5, 0x00, 0xC0, 0x4F, 0xC2, 0x8A, 0xCA}};

constexpr GUID IID_IDirectSoundBuffer = {0x279AFA85, 0x4981, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
constexpr GUID IID_IDirectSoundBuffer8 = {0x6825A449, 0x7524, 0x4D82, {0x92, 0x0F, 0x50, 0xE3, 0x6A, 0xB3, 0xAB, 0x1E}};
constexpr GUID IID_IDirectSound3DBuffer = {0x279AFA86, 0x4981, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
constexpr GUID IID_IDirectSound3DBuffer8 = IID_IDirectSound3DBuffer;
constexpr GUID IID_IDirectSound3DListener = {0x279AFA84, 0x4981, 0x11CE, {0xA5, 0x21, 0x00, 0x20, 0xAF, 0x0B, 0xE5, 0x60}};
constexpr GUID IID_IDirectSound3DListener8 = IID_IDirectSound3DListener;

struct DsBufferState;  // the device's record of one buffer

// A primary or secondary buffer. Secondary buffers answer QueryInterface for
// IID_IDirectSoundBuffer8 and, when made with DSBCAPS_CTRL3D,
// IID_IDirectSound3DBuffer; the primary buffer answers IID_IDirectSound3DListener
// when made with DSBCAPS_CTRL3D.
class IDirectSoundBuffer {
public:
    HRESULT QueryInterface(REFIID iid, void** out);
    ULONG AddRef();
    ULONG Release();

    HRESULT GetCurrentPosition(DWORD* playCursor, DWORD* writeCursor);
    HRESULT SetCurrentPosition(DWORD position);
    HRESULT GetFormat(WAVEFORMATEX* format, DWORD sizeAllocated, DWORD* sizeWritten);
    HRESULT SetFormat(const WAVEFORMATEX* format);  // primary buffer only
    HRESULT GetStatus(DWORD* status);
    HRESULT GetVolume(LONG* volume);
    HRESULT SetVolume(LONG volume);  // needs DSBCAPS_CTRLVOLUME
    HRESULT GetPan(LONG* pan);
    HRESULT SetPan(LONG pan);  // needs DSBCAPS_CTRLPAN
    HRESULT Lock(DWORD offset, DWORD bytes, void** ptr1, DWORD* bytes1, void** ptr2, DWORD* bytes2,
                 DWORD flags);
    HRESULT Unlock(void* ptr1, DWORD bytes1, void* ptr2, DWORD bytes2);
    HRESULT Play(DWORD reserved, DWORD priority, DWORD flags);
    HRESULT Stop();
    HRESULT Restore();

    DsBufferState* state;  // owned by the device module
};
typedef IDirectSoundBuffer IDirectSoundBuffer8;

// The 3D interface of a secondary buffer made with DSBCAPS_CTRL3D.
class IDirectSound3DBuffer {
public:
    HRESULT QueryInterface(REFIID iid, void** out);
    ULONG AddRef();
    ULONG Release();
    HRESULT GetAllParameters(DS3DBUFFER* params);
    HRESULT SetAllParameters(const DS3DBUFFER* params, DWORD apply);
    HRESULT SetPosition(D3DVALUE x, D3DVALUE y, D3DVALUE z, DWORD apply);
    HRESULT SetVelocity(D3DVALUE x, D3DVALUE y, D3DVALUE z, DWORD apply);

    DsBufferState* state;
};
typedef IDirectSound3DBuffer IDirectSound3DBuffer8;

// The listener of the primary buffer.
class IDirectSound3DListener {
public:
    HRESULT QueryInterface(REFIID iid, void** out);
    ULONG AddRef();
    ULONG Release();
    HRESULT GetAllParameters(DS3DLISTENER* params);
    HRESULT SetAllParameters(const DS3DLISTENER* params, DWORD apply);
    HRESULT CommitDeferredSettings();

    DsBufferState* state;
};
typedef IDirectSound3DListener IDirectSound3DListener8;

struct DsDeviceState;

class IDirectSound8 {
public:
    ULONG AddRef();
    ULONG Release();
    HRESULT SetCooperativeLevel(HWND window, DWORD level);  // refuses a null window
    HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, IDirectSoundBuffer** out, void* outer);

    DsDeviceState* state;
};

// device: null for the default playback device. outer must be null.
HRESULT DirectSoundCreate8(const GUID* device, IDirectSound8** out, void* outer);
