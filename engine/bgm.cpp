// Music on the two BGM slots, and the BGM exports.
//
// Streaming (start, refill, loop wrap) comes with the sound file kinds; until
// then every start fails as a start of a missing file does.
#include "engine/bgm.h"

#include <cstring>

#include "engine/command_queue.h"
#include "engine/engine_state.h"
#include "include/tonecore.h"

namespace {

int32_t HeaderBits(const SoundChannel& slot) {
    return (int32_t)(slot.soundHeader[34] | (slot.soundHeader[35] << 8));
}

// Frames to bytes as the slot's data counts them: the division comes before
// the multiplication by the channel count.
int32_t FramesToBytes(const SoundChannel& slot, int32_t frames) {
    return (int32_t)slot.format.nChannels * ((frames * HeaderBits(slot)) / 8);
}

int32_t QueueBgm(int32_t code, int32_t slot, const char* name, int32_t startFrame,
                 int32_t loopStartFrame, int32_t endFrame, int32_t loop, int32_t fadeMs) {
    if (!Engine_Running() || !Engine_ValidSlot(slot) || !name) return 0;
    CommandRecord r = {};
    size_t length = std::strlen(name);
    if (length >= sizeof r.name) return 0;
    std::memcpy(r.name, name, length + 1);
    r.command = code;
    r.slot = slot;
    r.args[0] = startFrame;
    r.args[1] = loopStartFrame;
    r.args[2] = endFrame;
    r.args[3] = loop;
    r.args[4] = fadeMs;
    return Queue_Push(r) ? -1 : 0;
}

// Runs op on a valid slot under the BGM lock; 0 when refused.
template <typename Op>
int32_t WithSlot(int32_t slot, Op op) {
    if (!Engine_Running() || !Engine_ValidSlot(slot)) return 0;
    EnterCriticalSection(&g_engine.bgmLock);
    int32_t result = op(g_engine.bgm[slot]);
    LeaveCriticalSection(&g_engine.bgmLock);
    return result;
}

int32_t StartStream(SoundChannel& slot, const char* name, int32_t loop, int32_t startFrame,
                    int32_t loopStartFrame, int32_t endFrame) {
    (void)slot, (void)name, (void)loop, (void)startFrame, (void)loopStartFrame, (void)endFrame;
    return 0;
}

}  // namespace

int32_t Bgm_PlayNow(SoundChannel& slot, const char* name, int32_t loop, int32_t startFrame,
                    int32_t loopStartFrame, int32_t endFrame) {
    return StartStream(slot, name, loop, startFrame, loopStartFrame, endFrame);
}

int32_t Bgm_PlayFadeIn(SoundChannel& slot, const char* name, int32_t loop, int32_t startFrame,
                       int32_t loopStartFrame, int32_t endFrame) {
    return StartStream(slot, name, loop, startFrame, loopStartFrame, endFrame);
}

int32_t Bgm_PlayTimedFadeIn(SoundChannel& slot, const char* name, int32_t loop, int32_t startFrame,
                            int32_t loopStartFrame, int32_t endFrame, int32_t fadeMs) {
    (void)fadeMs;
    return StartStream(slot, name, loop, startFrame, loopStartFrame, endFrame);
}

int32_t Bgm_Update(SoundChannel& slot) {
    if (!slot.Bound() || !slot.streaming) return 0;
    if (slot.FadeStep() == kFadeStopped) return 1;
    return 1;
}

void Bgm_SetLoopPosition(SoundChannel& slot, int32_t loopStartFrame, int32_t endFrame) {
    slot.loopStart = FramesToBytes(slot, loopStartFrame);
    slot.endOffset = FramesToBytes(slot, endFrame);
    slot.loopEnd = slot.endOffset + (int32_t)kWavHeaderBytes;
}

int32_t Bgm_Position(SoundChannel& slot) {
    if (!slot.Bound() || !slot.codecsReady) return 0;
    int32_t bits = HeaderBits(slot);
    int32_t channels = slot.format.nChannels;
    if (bits == 0 || channels == 0) return 0;
    uint32_t cursor = slot.lastPlayCursor;
    uint32_t perSecond = slot.format.nAvgBytesPerSec;
    uint32_t third = perSecond ? cursor / perSecond : 0;
    if (third > 2) third = 2;
    uint32_t k = 2 + third + (slot.segmentDone[third] ? 1 : 0);
    uint32_t s = slot.readPos;
    if (s < 2 * perSecond) s += (uint32_t)slot.loopEnd;
    int32_t bytes = (int32_t)(s + cursor - k * perSecond);
    return (bytes / channels) * 8 / bits;
}

extern "C" {

int32_t IPlay(int32_t slot, const char* name, int32_t startFrame, int32_t loopStartFrame,
              int32_t endFrame, int32_t loop) {
    return QueueBgm(QueuedPlay, slot, name, startFrame, loopStartFrame, endFrame, loop, 0);
}

int32_t IPlayFade(int32_t slot, const char* name, int32_t startFrame, int32_t loopStartFrame,
                  int32_t endFrame, int32_t loop) {
    return QueueBgm(QueuedPlayFade, slot, name, startFrame, loopStartFrame, endFrame, loop, 0);
}

int32_t IPlayFadeEx(int32_t slot, const char* name, int32_t startFrame, int32_t loopStartFrame,
                    int32_t endFrame, int32_t loop, int32_t fadeMs) {
    return QueueBgm(QueuedPlayFadeEx, slot, name, startFrame, loopStartFrame, endFrame, loop,
                    fadeMs);
}

int32_t IPlayB(int32_t slot, const char* name, int32_t startFrame, int32_t loopStartFrame,
               int32_t endFrame, int32_t loop) {
    return WithSlot(slot, [&](SoundChannel& s) {
        return Bgm_PlayNow(s, name, loop, startFrame, loopStartFrame, endFrame);
    });
}

int32_t IPlayFadeB(int32_t slot, const char* name, int32_t startFrame, int32_t loopStartFrame,
                   int32_t endFrame, int32_t loop) {
    return WithSlot(slot, [&](SoundChannel& s) {
        return Bgm_PlayFadeIn(s, name, loop, startFrame, loopStartFrame, endFrame);
    });
}

int32_t IPlayFadeBEx(int32_t slot, const char* name, int32_t startFrame, int32_t loopStartFrame,
                     int32_t endFrame, int32_t loop, int32_t fadeMs) {
    return WithSlot(slot, [&](SoundChannel& s) {
        return Bgm_PlayTimedFadeIn(s, name, loop, startFrame, loopStartFrame, endFrame, fadeMs);
    });
}

int32_t IPlayStop(int32_t slot) {
    return WithSlot(slot, [](SoundChannel& s) { return s.Stop(); });
}

int32_t IFadeOut(int32_t slot) {
    return WithSlot(slot, [](SoundChannel& s) { return s.FadeOut(); });
}

int32_t IFadeOutEx(int32_t slot, int32_t ms) {
    return WithSlot(slot, [ms](SoundChannel& s) { return s.FadeOutIn(ms); });
}

int32_t IVolFade(int32_t slot, int32_t level, int32_t ms) {
    // The tick steps this slot's fade too: the lock keeps the two apart.
    return WithSlot(slot, [=](SoundChannel& s) { return s.StartFade(level, ms); });
}

int32_t ISetBGMVol(int32_t level) {
    if (!Engine_Running()) return 0;
    EnterCriticalSection(&g_engine.bgmLock);
    g_engine.bgmLevel.store(level, std::memory_order_relaxed);
    for (SoundChannel& s : g_engine.bgm) s.SetLevel(level);
    LeaveCriticalSection(&g_engine.bgmLock);
    return 1;
}

void ISetLoopPos(int32_t slot, int32_t loopStartFrame, int32_t endFrame) {
    WithSlot(slot, [=](SoundChannel& s) {
        Bgm_SetLoopPosition(s, loopStartFrame, endFrame);
        return 1;
    });
}

int32_t IGetPos(int32_t slot) {
    return WithSlot(slot, [](SoundChannel& s) { return s.streaming ? Bgm_Position(s) : 0; });
}

}  // extern "C"
