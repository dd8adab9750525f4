// Sound effects on the 24 effect channels, the 3D listener, and the effect
// exports.
#include "engine/effects.h"

#include <cmath>
#include <cstring>

#include "engine/command_queue.h"
#include "engine/effect_cache.h"
#include "engine/engine_state.h"
#include "include/tonecore.h"
#include "platform/clock.h"
#include "sources/sound_source.h"

namespace {

constexpr float kMinDistance = 50.0f;
constexpr float kMaxDistance = 800.0f;
constexpr float kTwoPi = 6.283185f;

// A missing coordinate counts as the origin: kind 2 and ISetSEPos may come
// without a position.
void ReadPosition(SoundChannel& channel, const float* x, const float* y, const float* z) {
    channel.position[0] = x ? *x : 0.0f;
    channel.position[1] = y ? *y : 0.0f;
    channel.position[2] = z ? *z : 0.0f;
}

// Without an x velocity the effect stands still.
void ReadVelocity(SoundChannel& channel, const float* vx, const float* vy, const float* vz) {
    channel.velocity[0] = vx ? *vx : 0.0f;
    channel.velocity[1] = vx && vy ? *vy : 0.0f;
    channel.velocity[2] = vx && vz ? *vz : 0.0f;
}

// Where the hardware 3D buffer goes: the listener plus the scaled offset.
D3DVECTOR ScaledFromListener(const float position[3], float scale) {
    const float* l = g_engine.listenerPosition;
    return {l[0] + (position[0] - l[0]) * scale, l[1] + (position[1] - l[1]) * scale,
            l[2] + (position[2] - l[2]) * scale};
}

void Place3DBuffer(SoundChannel& channel) {
    DS3DBUFFER params = {};
    params.dwSize = sizeof params;
    channel.buffer3d->GetAllParameters(&params);
    params.vPosition = ScaledFromListener(channel.position, channel.scale);
    params.vVelocity = {channel.velocity[0], channel.velocity[1], channel.velocity[2]};
    params.dwInsideConeAngle = 360;
    params.dwOutsideConeAngle = 360;
    params.flMinDistance = kMinDistance;
    params.flMaxDistance = kMaxDistance;
    params.dwMode = DS3DMODE_NORMAL;
    channel.buffer3d->SetAllParameters(&params, DS3D_IMMEDIATE);
}

// Levels and pans computed from a game's floats: whatever the input (huge,
// infinite, NaN), the integer handed on is in range. NaN falls to the bound.
int32_t ClampToInt(float v, float low, float high, float nan) {
    if (v != v) v = nan;
    if (v < low) v = low;
    if (v > high) v = high;
    return (int32_t)v;
}

float WrapAngle(float a) {
    while (a > kTwoPi) a -= kTwoPi;
    while (a < -kTwoPi) a += kTwoPi;
    return a;
}

// Level from the scaled distance, pan from the unscaled direction.
void Software3DUpdate(SoundChannel& channel) {
    if (!channel.soft3d) return;
    const float* l = g_engine.listenerPosition;
    const float* f = g_engine.listenerFront;
    float dx = channel.position[0] - l[0];
    float dy = channel.position[1] - l[1];
    float dz = channel.position[2] - l[2];
    float dist = std::sqrt(dx * dx + dy * dy + dz * dz);
    float q = (800.0f - dist * channel.scale) / 11.0f;
    float delta = WrapAngle(std::atan2(dx, dy)) - WrapAngle(std::atan2(f[0], f[1]));
    float s = std::sin(delta);
    float e = s * std::fabs(s) * 1.6f;
    channel.ApplyLevel(ClampToInt(10000.0f - q * 100.0f, 0.0f, 10000.0f, 10000.0f), 1);
    if (channel.buffer) channel.buffer->SetPan(ClampToInt(e * 1500.0f, -10000.0f, 10000.0f, 0.0f));
}

void ForgetBuffers(SoundChannel& channel) {
    if (channel.buffer) {
        channel.buffer->Release();
        channel.buffer = nullptr;
    }
    if (channel.buffer3d) {
        channel.buffer3d->Release();
        channel.buffer3d = nullptr;
    }
}

// Copies an effect's data into a locked buffer; a mono fold keeps the first
// channel of every frame.
bool FillEffectBuffer(SoundChannel& channel, const uint8_t* data, uint32_t size, bool fold) {
    void* p1 = nullptr;
    void* p2 = nullptr;
    DWORD b1 = 0, b2 = 0;
    if (FAILED(channel.buffer->Lock(0, size, &p1, &b1, &p2, &b2, 0)) || !p1) return false;
    uint32_t room = b1 < size ? b1 : size;
    if (!fold) {
        std::memcpy(p1, data, room);
    } else if (channel.format.wBitsPerSample == 16) {
        int16_t* out = (int16_t*)p1;
        for (uint32_t j = 0; j < room / 2; j++) std::memcpy(&out[j], data + 4 * j, 2);
    } else {
        // 8-bit stereo frames are two bytes: the first is the left channel.
        uint8_t* out = (uint8_t*)p1;
        for (uint32_t j = 0; j < room; j++) out[j] = data[2 * j];
    }
    channel.buffer->Unlock(p1, b1, p2, b2);
    return true;
}

int32_t StartEffect(SoundChannel& channel, const char* name, int32_t loop, const float* px,
                    const float* py, const float* pz, const float* pvx, const float* pvy,
                    const float* pvz, int32_t kind, float scale) {
    if (!channel.device || !channel.primary) return 0;
    int32_t slot = EffectCache_Lookup(name);
    if (slot < 0) return 0;
    const EffectCacheSlot& cached = EffectCache_Slot(slot);
    std::memcpy(channel.soundHeader, &cached.header, sizeof cached.header);
    uint32_t size = cached.header.dataLength;

    channel.FormatFromHeader();

    const bool hardware3d = px && kind == 1;
    const int32_t placement = g_engine.effectPlacement.load(std::memory_order_relaxed);
    DSBUFFERDESC desc = {};
    desc.dwSize = sizeof desc;
    DWORD placeFlag = placement == 2 ? DSBCAPS_LOCHARDWARE
                      : placement == 1 ? DSBCAPS_LOCSOFTWARE : DSBCAPS_LOCDEFER;
    if (hardware3d) {
        desc.dwFlags = placeFlag | DSBCAPS_CTRL3D | DSBCAPS_MUTE3DATMAXDISTANCE;
        desc.guid3DAlgorithm = g_engine.quality3d.load(std::memory_order_relaxed) != 0
                                   ? DS3DALG_HRTF_FULL
                                   : DS3DALG_HRTF_LIGHT;
    } else {
        desc.dwFlags = placeFlag | DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN;
    }
    DWORD playFlags = (placement == 0 ? DSBPLAY_TERMINATEBY_TIME : 0) | (loop ? DSBPLAY_LOOPING : 0);

    const bool fold = hardware3d && channel.format.nChannels == 2;
    if (fold) {
        channel.format.nChannels = 1;
        channel.format.nAvgBytesPerSec >>= 1;
        channel.format.nBlockAlign = (WORD)((int16_t)channel.format.nBlockAlign / 2);
        size >>= 1;
    }
    desc.dwBufferBytes = size;
    desc.lpwfxFormat = &channel.format;

    if (channel.buffer) {
        channel.buffer->Stop();
        channel.started = 0;
        ForgetBuffers(channel);
    }
    if (!channel.CreateBuffer(desc)) return 0;
    if (hardware3d) {
        void* b3 = nullptr;
        if (SUCCEEDED(channel.buffer->QueryInterface(IID_IDirectSound3DBuffer8, &b3)))
            channel.buffer3d = (IDirectSound3DBuffer8*)b3;
    }
    channel.soft3d = 0;
    channel.scale = scale;

    if (!FillEffectBuffer(channel, cached.data, size, fold)) {
        ForgetBuffers(channel);
        channel.started = 0;
        return 0;
    }
    if (channel.buffer3d) {
        ReadVelocity(channel, pvx, pvy, pvz);
        ReadPosition(channel, px, py, pz);
        Place3DBuffer(channel);
    } else if (kind == 2) {
        ReadPosition(channel, px, py, pz);
        channel.soft3d = 1;
        Software3DUpdate(channel);
    } else if (!px) {
        float effectLevel = (float)g_engine.effectLevel.load(std::memory_order_relaxed);
        channel.ApplyLevel(ClampToInt(10000.0f - (10000.0f - effectLevel) * scale, 0.0f, 10000.0f, 10000.0f), 1);
    }
    channel.buffer->Restore();
    channel.buffer->Play(0, 0, playFlags);
    channel.started = 1;
    channel.streaming = 0;
    return 1;
}

}  // namespace

int32_t Effect_PlayNow(const char* name, const float* x, const float* y, const float* z,
                       int32_t kind, int32_t loop, float scale) {
    if (adpcmCodecMissing || !Engine_Running()) return -1;
    EnterCriticalSection(&g_engine.effectLock);
    int32_t chosen = -1;
    for (int32_t i = 0; i < kEffectChannels; i++) {
        if (!g_engine.effects[i].Busy()) {
            chosen = i;
            break;
        }
    }
    if (chosen >= 0)
        StartEffect(g_engine.effects[chosen], name, loop, x, y, z, nullptr, nullptr, nullptr, kind,
                    scale);
    LeaveCriticalSection(&g_engine.effectLock);
    return chosen;
}

int32_t Effect_SetListener(float rolloff, const float position[3], const float front[3],
                           const float top[3]) {
    IDirectSound3DListener8* listener = g_engine.deviceChannel.listener;
    if (!listener) return 1;
    DS3DLISTENER params = {};
    params.dwSize = sizeof params;
    listener->GetAllParameters(&params);
    params.vPosition = {position[0], position[1], position[2]};
    params.vVelocity = {0.0f, 0.0f, 0.0f};
    if (front[0] == 0.0f && front[1] == 0.0f && front[2] == 0.0f)
        params.vOrientFront = {0.0f, -1.0f, 0.0f};
    else
        params.vOrientFront = {front[0], front[1], front[2]};
    params.vOrientTop = {top[0], top[1], top[2] == 0.0f ? -1.0f : top[2]};
    params.flRolloffFactor = rolloff;
    params.flDopplerFactor = 1.0f;
    listener->SetAllParameters(&params, DS3D_IMMEDIATE);
    std::memcpy(g_engine.listenerPosition, position, sizeof g_engine.listenerPosition);
    g_engine.listenerFront[0] = params.vOrientFront.x;
    g_engine.listenerFront[1] = params.vOrientFront.y;
    g_engine.listenerFront[2] = params.vOrientFront.z;
    return 1;
}

int32_t Effect_Refresh3D(SoundChannel& channel) {
    if (!channel.buffer) return 0;
    if (channel.buffer3d) Place3DBuffer(channel);
    Software3DUpdate(channel);
    return 1;
}


extern "C" {

int32_t IPlaySE(const char* name, const float* x, const float* y, const float* z, int32_t kind,
                int32_t loop, float scale) {
    if (adpcmCodecMissing || !Engine_Running() || !name) return -1;
    CommandRecord r = {};
    if (!Command_SetName(r, name)) return -1;
    r.command = QueuedPlaySE;
    r.args[2] = kind;
    r.args[3] = loop;
    if (kind != 0 && x) {
        r.values[0] = *x;
        r.values[1] = y ? *y : 0.0f;
        r.values[2] = z ? *z : 0.0f;
    }
    r.values[5] = scale;
    r.timestamp = loop ? 0 : GetTickCount();
    Queue_Push(r);
    return -1;
}

int32_t IPlaySEB(const char* name, const float* x, const float* y, const float* z, int32_t kind,
                 int32_t loop, float scale) {
    if (!name) return -1;
    return Effect_PlayNow(name, x, y, z, kind, loop, scale);
}

int32_t IStopSE(int32_t channel) {
    if (!Engine_Running() || channel < 0 || channel >= kEffectChannelsAddressable) return 0;
    EnterCriticalSection(&g_engine.effectLock);
    g_engine.effects[channel].Stop();
    LeaveCriticalSection(&g_engine.effectLock);
    return 1;
}

int32_t IStopAllSE(void) {
    if (!Engine_Running()) return 0;
    EnterCriticalSection(&g_engine.effectLock);
    for (SoundChannel& c : g_engine.effects)
        if (c.Busy()) c.Stop();
    LeaveCriticalSection(&g_engine.effectLock);
    return 0;
}

int32_t ISetSEVol(int32_t level) {
    if (!Engine_Running()) return 0;
    g_engine.effectLevel.store(level, std::memory_order_relaxed);
    return 1;
}

int32_t ISetSEVolume(int32_t channel, int32_t level) {
    if (!Engine_Running() || channel < 0 || channel >= kEffectChannelsAddressable) return 0;
    EnterCriticalSection(&g_engine.effectLock);
    g_engine.effects[channel].CancelFade();
    g_engine.effects[channel].SetLevel(level);
    LeaveCriticalSection(&g_engine.effectLock);
    return 1;
}

int32_t ISetSEPos(int32_t channel, const float* x, const float* y, const float* z,
                  const float* vx, const float* vy, const float* vz) {
    if (channel < 0 || channel >= kEffectChannels) return 0;
    // Works without the engine: before IInit there is no lock to take, and no
    // buffer to move either.
    if (!Engine_Running()) return 1;
    EnterCriticalSection(&g_engine.effectLock);
    SoundChannel& c = g_engine.effects[channel];
    if (c.buffer3d) {
        ReadVelocity(c, vx, vy, vz);
        ReadPosition(c, x, y, z);
        Place3DBuffer(c);
    } else if (c.soft3d) {
        ReadPosition(c, x, y, z);
        Software3DUpdate(c);
    }
    LeaveCriticalSection(&g_engine.effectLock);
    return 1;
}

int32_t ISetListen(float rolloff, float px, float py, float pz, float fx, float fy, float fz,
                   float tx, float ty, float tz) {
    if (!Engine_Running()) return 0;
    CommandRecord r = {};
    r.command = QueuedSetListen;
    float values[10] = {px, py, pz, fx, fy, fz, tx, ty, tz, rolloff};
    std::memcpy(r.values, values, sizeof values);
    r.timestamp = GetTickCount();
    Queue_Push(r);
    return 0;
}

}  // extern "C"
