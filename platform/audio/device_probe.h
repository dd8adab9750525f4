// What tests may see of, and do to, the software audio device.
#pragma once

#include "platform/audio/dsound.h"

struct DsBufferInfo {
    bool primary;
    DWORD flags;        // as created
    DWORD bytes;        // buffer size
    WAVEFORMATEX format;
    GUID algorithm;     // 3D algorithm of the description
    DWORD status;       // as GetStatus would report it
    DWORD playFlags;    // flags of the last Play
    DWORD playCursor;
    LONG volume;
    LONG pan;
    DS3DBUFFER params3d;
    ULONG refs;
};

// Live buffers of the current device, in creation order (the primary first).
int DsInspect_BufferCount();
bool DsInspect_Buffer(int index, DsBufferInfo* info);
bool DsInspect_Of(IDirectSoundBuffer* buffer, DsBufferInfo* info);
// Every secondary buffer ever created, in order, with the flags it was made with
// (survives the buffer's release, so a test can read what a finished start made).
int DsInspect_CreatedCount();
DWORD DsInspect_CreatedFlags(int index);
// The listener's parameters; false when there is no primary buffer with 3D.
bool DsInspect_Listener(DS3DLISTENER* params);
// Hardware voices placed on buffers (DSBCAPS_LOCHARDWARE buffers and deferred
// buffers playing in hardware).
int DsInspect_VoicesInUse();
// Devices alive, and the window and level of the last cooperative-level call.
int DsInspect_DeviceCount();
HWND DsInspect_CooperativeWindow();
DWORD DsInspect_CooperativeLevel();

enum DsFailPoint {
    DS_FAIL_CREATE_DEVICE,
    DS_FAIL_COOPERATIVE_LEVEL,
    DS_FAIL_PRIMARY_BUFFER,
    DS_FAIL_SECONDARY_BUFFER,
    DS_FAIL_LOCK,
};
// The next call at that point fails (once).
void DsTest_FailNext(DsFailPoint point);
// Marks a buffer lost: status shows DSBSTATUS_BUFFERLOST, Lock and Play fail
// with DSERR_BUFFERLOST until Restore.
void DsTest_LoseBuffer(IDirectSoundBuffer* buffer);
// Hardware voices (default 64); 0 makes DSBCAPS_LOCHARDWARE creation fail.
void DsTest_SetHardwareVoices(int voices);
// Clears pending failures and the created-buffer record, voices back to 64.
void DsTest_Reset();
