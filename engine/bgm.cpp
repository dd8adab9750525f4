// Music on the two BGM slots, and the BGM exports.
//
// A slot streams its sound through a three-second looping buffer, refilled
// one second (one third) at a time behind the play cursor by the tick.
#include "engine/bgm.h"

#include <cstring>

#include "engine/command_queue.h"
#include "engine/engine_state.h"
#include "include/tonecore.h"
#include "platform/clock.h"
#include "sources/wav_header.h"

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
    if (!Command_SetName(r, name)) return 0;
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

// Reads up to want bytes and returns how many the source really delivered,
// by how far its position moved: kinds whose length is an estimate show their
// real end that way. What was not delivered is silence, never stale audio.
uint32_t ReadSome(SoundChannel& slot, uint8_t* destination, uint32_t want) {
    if (want == 0) return 0;
    uint32_t before = slot.Tell();
    slot.Read(destination, want);
    uint32_t after = slot.Tell();
    uint32_t got = after > before ? after - before : 0;
    if (got >= want) return want;
    std::memset(destination + got, 0, want - got);
    return got;
}

// Refill pieces: read what the source has up to the stream's end, wrapping to
// the loop start as often as the piece needs when looping. A source that ends
// before the end point moves the end point to where it really ended.
void FillRegion(SoundChannel& slot, uint8_t* region, uint32_t n, uint32_t offset) {
    uint32_t t = slot.Tell();
    uint32_t end = (uint32_t)slot.loopEnd;
    if (!slot.loop) {
        uint32_t r = t < end ? end - t : 0;
        uint32_t want = r < n ? r : n;
        uint32_t got = ReadSome(slot, region, want);
        if (got < want) slot.loopEnd = (int32_t)(t + got);
        if (got == n && t + n < end) return;
        // Past the end the buffer plays silence until the cursor has passed
        // the last byte of the piece; then the stream stops.
        std::memset(region + got, 0, n - got);
        slot.drainPadding += n - got;
        if (!slot.draining) {
            slot.draining = 1;
            uint32_t size = 3 * slot.format.nAvgBytesPerSec;
            uint32_t left = (offset + got + size - slot.lastPlayCursor) % size;
            // Data just written lies ahead of the cursor: a tail that lands on
            // the cursor is a whole lap away.
            slot.drainLeft = (int32_t)(left == 0 && got > 0 ? size : left);
        }
        return;
    }
    // Any negative loop start means the first PCM byte: the -1 frame of 16-bit
    // stereo data comes out as -4 bytes and must not loop into the header.
    const uint32_t loopPos = slot.loopStart < 0 ? kWavHeaderBytes
                                                : (uint32_t)(slot.loopStart + (int32_t)kWavHeaderBytes);
    uint32_t done = 0;
    while (done < n) {
        uint32_t want = n - done;
        uint32_t r = t < end ? end - t : 0;
        if (r > 0) {
            uint32_t take = r < want ? r : want;
            uint32_t got = ReadSome(slot, region + done, take);
            done += got;
            t += got;
            if (got < take) end = t, slot.loopEnd = (int32_t)t;
            if (done == n) return;
        }
        slot.Seek(loopPos);
        t = loopPos;
        // A loop section with nothing in it cannot be wrapped into: the rest
        // is read on from the loop start, as a single wrap would.
        if (loopPos >= end) {
            ReadSome(slot, region + done, n - done);
            return;
        }
    }
}

int32_t Refill(SoundChannel& slot, uint32_t n, uint32_t offset) {
    slot.buffer->Restore();
    void* p1 = nullptr;
    void* p2 = nullptr;
    DWORD b1 = 0, b2 = 0;
    if (FAILED(slot.buffer->Lock(offset, n, &p1, &b1, &p2, &b2, 0)) || !p1) return 0;
    FillRegion(slot, (uint8_t*)p1, b1 < n ? b1 : n, offset);
    slot.buffer->Unlock(p1, b1, p2, b2);
    return 1;
}

int32_t StartStream(SoundChannel& slot, const char* name, int32_t loop, int32_t startFrame,
                    int32_t loopStartFrame, int32_t endFrame) {
    if (!slot.device || !slot.primary) return 0;
    if (slot.Busy()) slot.Stop();
    if (endFrame == 0) return 0;
    if (!slot.codecsReady) slot.PrepareCodecs(0);
    if (!slot.Open(name)) return 0;
    if (!slot.Read(slot.soundHeader, kWavHeaderBytes)) {
        slot.Close();
        return 0;
    }
    slot.FormatFromHeader();

    if (!slot.buffer) {
        DSBUFFERDESC desc = {};
        desc.dwSize = sizeof desc;
        desc.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN;
        int32_t placement = g_engine.bgmPlacement.load(std::memory_order_relaxed);
        if (placement == 2) desc.dwFlags |= DSBCAPS_LOCHARDWARE;
        if (placement == 1) desc.dwFlags |= DSBCAPS_LOCSOFTWARE;
        desc.dwBufferBytes = 3 * slot.format.nAvgBytesPerSec;
        desc.lpwfxFormat = &slot.format;
        if (!slot.CreateBuffer(desc)) {
            slot.Close();  // the file opened above is not left open
            return 0;
        }
    }
    slot.loopStart = FramesToBytes(slot, loopStartFrame);
    slot.endOffset = FramesToBytes(slot, endFrame);
    if ((uint32_t)slot.endOffset > slot.totalSize) slot.endOffset = (int32_t)slot.totalSize;
    if (slot.endOffset == 0) {
        // Nothing to play: an empty stream does not start.
        slot.Close();
        return 0;
    }
    slot.loopEnd = slot.endOffset + (int32_t)kWavHeaderBytes;
    slot.Seek((uint32_t)(FramesToBytes(slot, startFrame) + (int32_t)kWavHeaderBytes));
    // A buffer kept from an earlier start keeps that start's size and format;
    // its thirds are counted in its own bytes per second.
    DWORD written = 0;
    slot.buffer->GetFormat(&slot.format, sizeof slot.format, &written);
    slot.loop = loop;
    slot.draining = 0;
    slot.drainLeft = 0;
    slot.drainPadding = 0;
    slot.lastPlayCursor = 0;
    slot.buffer->SetCurrentPosition(0);
    Refill(slot, 2 * slot.format.nAvgBytesPerSec, 0);
    slot.segmentDone[0] = 0;
    slot.segmentDone[1] = 1;
    slot.segmentDone[2] = 1;
    slot.streaming = 1;
    slot.buffer->Restore();
    slot.primary->Restore();
    slot.buffer->Play(0, 0, DSBPLAY_LOOPING);
    return 1;
}

// Silences a slot that is about to be replaced and resets its fade.
void Prelude(SoundChannel& slot) {
    slot.fadeTarget = slot.level;
    slot.stopAtFadeEnd = 0;
    slot.fadeRemaining = 0;
    slot.level = kLevelSilent;
    if (slot.Busy()) slot.buffer->SetVolume(DSBVOLUME_MIN);
}

}  // namespace

int32_t Bgm_PlayNow(SoundChannel& slot, const char* name, int32_t loop, int32_t startFrame,
                    int32_t loopStartFrame, int32_t endFrame) {
    Prelude(slot);
    int32_t started = StartStream(slot, name, loop, startFrame, loopStartFrame, endFrame);
    int32_t level = g_engine.bgmLevel.load(std::memory_order_relaxed);
    slot.stopAtFadeEnd = 0;
    slot.fadeTarget = level;
    slot.fadeRemaining = 0;
    slot.fadeLastTick = GetTickCount();
    slot.level = level;
    if (slot.Busy()) slot.ApplyLevel(level, 0);
    return started;
}

int32_t Bgm_PlayFadeIn(SoundChannel& slot, const char* name, int32_t loop, int32_t startFrame,
                       int32_t loopStartFrame, int32_t endFrame) {
    Prelude(slot);
    int32_t started = StartStream(slot, name, loop, startFrame, loopStartFrame, endFrame);
    // The level stays silent: the fade rises from there, the first step sets
    // the buffer's volume.
    slot.stopAtFadeEnd = 0;
    slot.fadeTarget = g_engine.bgmLevel.load(std::memory_order_relaxed);
    slot.fadeRemaining = 1000;
    slot.fadeLastTick = GetTickCount();
    return started;
}

int32_t Bgm_PlayTimedFadeIn(SoundChannel& slot, const char* name, int32_t loop, int32_t startFrame,
                            int32_t loopStartFrame, int32_t endFrame, int32_t fadeMs) {
    Prelude(slot);
    int32_t started = StartStream(slot, name, loop, startFrame, loopStartFrame, endFrame);
    slot.StartFade(g_engine.bgmLevel.load(std::memory_order_relaxed), fadeMs);
    return started;
}

int32_t Bgm_Update(SoundChannel& slot) {
    if (!slot.Bound() || !slot.streaming) return 0;
    if (slot.FadeStep() == kFadeStopped) return 1;
    DWORD cursor = 0, write = 0;
    slot.buffer->GetCurrentPosition(&cursor, &write);
    uint32_t a = slot.format.nAvgBytesPerSec;
    if (slot.draining) {
        uint32_t travelled = (cursor + 3 * a - slot.lastPlayCursor) % (3 * a);
        slot.drainLeft -= (int32_t)travelled;
        if (slot.drainLeft <= 0) {
            slot.lastPlayCursor = cursor;
            slot.Stop();
            return 1;
        }
    }
    slot.lastPlayCursor = cursor;
    if (cursor < a) {
        if (!slot.segmentDone[0]) {
            Refill(slot, a, 2 * a);
            slot.segmentDone[0] = 1, slot.segmentDone[1] = 0, slot.segmentDone[2] = 1;
        }
    } else if (cursor < 2 * a) {
        if (!slot.segmentDone[1]) {
            Refill(slot, a, 0);
            slot.segmentDone[0] = 1, slot.segmentDone[1] = 1, slot.segmentDone[2] = 0;
        }
    } else if (cursor < 3 * a) {
        if (!slot.segmentDone[2]) {
            Refill(slot, a, a);
            slot.segmentDone[0] = 0, slot.segmentDone[1] = 1, slot.segmentDone[2] = 1;
        }
    }
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
    uint32_t s = slot.readPos + slot.drainPadding;
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
