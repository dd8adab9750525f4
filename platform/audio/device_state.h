// The software audio device's records, shared by the device, buffer, 3D,
// voice, mixer and inspection files. Not for use outside platform/audio/.
//
// Every record lives in a fixed table and is guarded by one device mutex: the
// client's calls, the mixer (sink thread or SDL's callback) and the test hooks
// all take it. Interface objects are embedded in their record, so a pointer
// handed to the client stays valid for as long as the record is referenced.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/audio/dsound.h"

constexpr int kMaxDevices = 4;
constexpr int kMaxBuffers = 256;
constexpr int kDefaultHardwareVoices = 64;
constexpr DWORD kMinFrequency = 100;
constexpr DWORD kMaxFrequency = 200000;

struct DsBufferState {
    bool used;        // slot holds a buffer
    bool dead;        // its device was released: every call fails
    bool primary;
    int device;       // index in g_devices
    uint64_t serial;  // creation order
    ULONG refs;
    DWORD flags;
    DWORD bytes;
    WAVEFORMATEX format;
    GUID algorithm;
    uint8_t* data;  // secondary only
    DWORD frames;   // whole frames in data

    bool playing;
    bool looping;
    bool lost;
    bool terminated;
    bool holdsVoice;  // a hardware voice is placed on it
    DWORD playFlags;
    // Play position: a frame and a remainder in 1/44100 of a frame, so a
    // buffer at any whole rate moves by exactly rate × seconds frames.
    DWORD frame;
    DWORD sub;

    LONG volume;
    LONG pan;
    DS3DBUFFER params3d;    // in force
    DS3DBUFFER deferred3d;  // waiting for CommitDeferredSettings
    bool hasDeferred3d;

    // Lock hands out a staging copy; Unlock writes it back under the mutex.
    uint8_t* staging;
    bool locked;
    DWORD lockOffset;
    DWORD lockBytes1;
    DWORD lockBytes2;

    IDirectSoundBuffer buffer;
    IDirectSound3DBuffer buffer3d;
    IDirectSound3DListener listener;
};

struct DsDeviceState {
    bool used;
    uint64_t serial;
    ULONG refs;
    HWND window;
    DWORD level;    // cooperative level, 0 before the first call
    int primary;    // index in g_buffers, or -1
    DS3DLISTENER listener;  // in force
    DS3DLISTENER deferredListener;
    bool hasDeferredListener;
    IDirectSound8 device;
};

extern std::mutex g_dsMutex;
extern DsDeviceState g_devices[kMaxDevices];
extern DsBufferState g_buffers[kMaxBuffers];
extern int g_hardwareVoices;

// Forced failures (DsTest_FailNext), each consumed by its next call.
extern bool g_failNext[5];
bool Ds_TakeFailure(int point);
void Ds_ClearCreatedRecord();

// Default 3D records, as a fresh buffer or listener has them.
DS3DBUFFER Ds_Default3DBuffer();
DS3DLISTENER Ds_DefaultListener();

// The one reference count of a buffer's record, behind all its interfaces.
HRESULT Ds_QueryInterface(DsBufferState* b, REFIID iid, void** out);
ULONG Ds_AddRef(DsBufferState* b);
ULONG Ds_Release(DsBufferState* b);

// Under g_dsMutex. A buffer's record gives out every reference when its count
// reaches zero; a device's release leaves its buffers as dead records.
void Ds_FreeBuffer(DsBufferState* b);
// Hardware voices: the count in use, and placing or freeing one on a buffer.
int Ds_VoicesInUse();
void Ds_DropVoice(DsBufferState* b);
// Places a deferred buffer at Play; false when it must be refused.
bool Ds_PlaceDeferred(DsBufferState* b, DWORD playFlags);
// Stops a buffer and frees its voice (terminated marks voice stealing).
void Ds_StopBuffer(DsBufferState* b, bool terminated);
DWORD Ds_StatusOf(const DsBufferState* b);
DWORD Ds_BlockAlign(const DsBufferState* b);

// A valid PCM format for a buffer: 8 or 16 bits, 1 or 2 channels, a block
// align that matches, a rate in range. DS_OK or the error to return.
HRESULT Ds_CheckPcmFormat(const WAVEFORMATEX* format);

// The capture of rendered frames (tests); called by the mixer under g_dsMutex.
void Capture_Append(const int16_t* frames, size_t count);

// Opens the default output unless one is open for the clock's current mode
// (virtual or real). Called by device creation, outside g_dsMutex.
bool AudioOutput_EnsureOpen();
