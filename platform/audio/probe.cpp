// What tests see of the device, and the failures and losses they can force.
#include "platform/audio/device_probe.h"
#include "platform/audio/device_state.h"

using Hold = std::lock_guard<std::mutex>;

// The live device made last.
static int CurrentDevice() {
    int best = -1;
    for (int i = 0; i < kMaxDevices; i++)
        if (g_devices[i].used && (best < 0 || g_devices[i].serial > g_devices[best].serial)) best = i;
    return best;
}

// The current device's buffers in creation order; returns how many.
static int Listed(DsBufferState** list) {
    int device = CurrentDevice();
    int n = 0;
    if (device < 0) return 0;
    for (DsBufferState& b : g_buffers) {
        if (!b.used || b.dead || b.device != device) continue;
        int at = n++;
        while (at > 0 && list[at - 1]->serial > b.serial) {
            list[at] = list[at - 1];
            at--;
        }
        list[at] = &b;
    }
    return n;
}

static void Fill(const DsBufferState* b, DsBufferInfo* info) {
    info->primary = b->primary;
    info->flags = b->flags;
    info->bytes = b->bytes;
    info->format = b->format;
    info->algorithm = b->algorithm;
    info->status = Ds_StatusOf(b);
    info->playFlags = b->playFlags;
    info->playCursor = b->primary ? 0 : b->frame * Ds_BlockAlign(b);
    info->volume = b->volume;
    info->pan = b->pan;
    info->params3d = b->params3d;
    info->refs = b->refs;
}

int DsInspect_BufferCount() {
    Hold hold(g_dsMutex);
    DsBufferState* list[kMaxBuffers];
    return Listed(list);
}

bool DsInspect_Buffer(int index, DsBufferInfo* info) {
    Hold hold(g_dsMutex);
    DsBufferState* list[kMaxBuffers];
    int n = Listed(list);
    if (!info || index < 0 || index >= n) return false;
    Fill(list[index], info);
    return true;
}

bool DsInspect_Of(IDirectSoundBuffer* buffer, DsBufferInfo* info) {
    Hold hold(g_dsMutex);
    if (!buffer || !info || !buffer->state || !buffer->state->used) return false;
    Fill(buffer->state, info);
    return true;
}

bool DsInspect_Listener(DS3DLISTENER* params) {
    Hold hold(g_dsMutex);
    int device = CurrentDevice();
    if (!params || device < 0) return false;
    const DsDeviceState& d = g_devices[device];
    if (d.primary < 0 || !(g_buffers[d.primary].flags & DSBCAPS_CTRL3D)) return false;
    *params = d.listener;
    return true;
}

int DsInspect_DeviceCount() {
    Hold hold(g_dsMutex);
    int n = 0;
    for (const DsDeviceState& d : g_devices) n += d.used;
    return n;
}

int DsInspect_VoicesInUse() {
    Hold hold(g_dsMutex);
    return Ds_VoicesInUse();
}

void DsTest_FailNext(DsFailPoint point) {
    Hold hold(g_dsMutex);
    g_failNext[point] = true;
}

// A lost buffer stops, as DirectSound's do; Restore brings back its memory
// (contents kept here) and the caller plays it again.
void DsTest_LoseBuffer(IDirectSoundBuffer* buffer) {
    Hold hold(g_dsMutex);
    if (!buffer || !buffer->state || !buffer->state->used || buffer->state->dead) return;
    buffer->state->lost = true;
    Ds_StopBuffer(buffer->state, false);
}

void DsTest_SetHardwareVoices(int voices) {
    Hold hold(g_dsMutex);
    g_hardwareVoices = voices < 0 ? 0 : voices;
}

void DsTest_Reset() {
    Hold hold(g_dsMutex);
    for (bool& f : g_failNext) f = false;
    Ds_ClearCreatedRecord();
    g_hardwareVoices = kDefaultHardwareVoices;
}
