// Sound effects on the 24 effect channels, the 3D listener, and the effect
// exports.
//
// The effect cache and its loader come with the sound file kinds; until then
// every effect start fails as the start of a missing file does.
#include "engine/effects.h"

#include <cmath>
#include <cstring>

#include "engine/command_queue.h"
#include "engine/engine_state.h"
#include "include/tonecore.h"
#include "platform/clock.h"

namespace {

constexpr float kMinDistance = 50.0f;
constexpr float kMaxDistance = 800.0f;
constexpr float kTwoPi = 6.283185f;

int32_t StartEffect(SoundChannel& channel, const char* name, int32_t loop, const float* px,
                    const float* py, const float* pz, int32_t kind, float scale) {
    (void)channel, (void)name, (void)loop, (void)px, (void)py, (void)pz, (void)kind, (void)scale;
    return 0;
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
    float level = 10000.0f - q * 100.0f;
    if (level < 0.0f) level = 0.0f;
    channel.ApplyLevel((int32_t)level, 1);
    float pan = e * 1500.0f;
    if (pan < -10000.0f) pan = -10000.0f;
    if (pan > 10000.0f) pan = 10000.0f;
    if (channel.buffer) channel.buffer->SetPan((LONG)pan);
}

}  // namespace

int32_t Effect_PlayNow(const char* name, const float* x, const float* y, const float* z,
                       int32_t kind, int32_t loop, float scale) {
    if (!Engine_Running()) return -1;
    EnterCriticalSection(&g_engine.effectLock);
    int32_t chosen = -1;
    for (int32_t i = 0; i < kEffectChannels; i++) {
        if (!g_engine.effects[i].Busy()) {
            chosen = i;
            break;
        }
    }
    if (chosen >= 0) StartEffect(g_engine.effects[chosen], name, loop, x, y, z, kind, scale);
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

void EffectCache_Free() {}
void EffectCache_Forget() {}

extern "C" {

int32_t IPlaySE(const char* name, const float* x, const float* y, const float* z, int32_t kind,
                int32_t loop, float scale) {
    if (!Engine_Running() || !name) return -1;
    CommandRecord r = {};
    size_t length = std::strlen(name);
    if (length >= sizeof r.name) return -1;
    std::memcpy(r.name, name, length + 1);
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
    // A missing coordinate pointer counts as the origin.
    auto read = [](const float* p) { return p ? *p : 0.0f; };
    if (c.buffer3d) {
        c.velocity[0] = vx ? read(vx) : 0.0f;
        c.velocity[1] = vx ? read(vy) : 0.0f;
        c.velocity[2] = vx ? read(vz) : 0.0f;
        c.position[0] = read(x);
        c.position[1] = read(y);
        c.position[2] = read(z);
        Place3DBuffer(c);
    } else if (c.soft3d) {
        c.position[0] = read(x);
        c.position[1] = read(y);
        c.position[2] = read(z);
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
