#include "engine/command_queue.h"

#include <atomic>
#include <cstring>

#include "engine/bgm.h"
#include "engine/effects.h"
#include "engine/engine_state.h"
#include "engine/sound_name.h"
#include "platform/clock.h"

namespace {

CommandRecord s_records[kQueueRecords];
// The producer writes the tail and the records outside head..tail; the tick
// writes the head and the records it has taken. Release stores publish both.
std::atomic<uint8_t> s_head{0};
std::atomic<uint8_t> s_tail{0};

constexpr uint32_t kExpiryMs = 1000;

std::atomic<Tick_ObserverFn> s_observer{nullptr};

void RunBgmCommand(CommandRecord& r) {
    SoundChannel& slot = g_engine.bgm[r.slot];
    EnterCriticalSection(&g_engine.bgmLock);
    if (r.command == QueuedPlay)
        Bgm_PlayNow(slot, r.name, r.args[3], r.args[0], r.args[1], r.args[2]);
    else if (r.command == QueuedPlayFade)
        Bgm_PlayFadeIn(slot, r.name, r.args[3], r.args[0], r.args[1], r.args[2]);
    else
        Bgm_PlayTimedFadeIn(slot, r.name, r.args[3], r.args[0], r.args[1], r.args[2], r.args[4]);
    Bgm_Update(slot);
    r.command = kCommandNone;
    LeaveCriticalSection(&g_engine.bgmLock);
}

void RunSetListen(CommandRecord& r) {
    // The listener and the effect channels are also read and moved by the
    // client's thread, under the effect lock.
    EnterCriticalSection(&g_engine.effectLock);
    Effect_SetListener(r.values[9], &r.values[0], &r.values[3], &r.values[6]);
    r.command = kCommandNone;
    for (SoundChannel& channel : g_engine.effects) Effect_Refresh3D(channel);
    LeaveCriticalSection(&g_engine.effectLock);
}

void RunPlaySE(CommandRecord& r, uint8_t i, uint8_t end) {
    // The same effect fired several times between two ticks starts once.
    for (uint8_t j = (uint8_t)(i + 1); j != end; j++) {
        CommandRecord& later = s_records[j];
        if (later.command == QueuedPlaySE && SoundName_Equal(later.name, r.name))
            later.command = kCommandNone;
    }
    if (r.args[2] != 0)
        Effect_PlayNow(r.name, &r.values[0], &r.values[1], &r.values[2], r.args[2], r.args[3],
                       r.values[5]);
    else
        Effect_PlayNow(r.name, nullptr, nullptr, nullptr, 0, r.args[3], r.values[5]);
    r.command = kCommandNone;
}

}  // namespace

bool Command_SetName(CommandRecord& record, const char* name) {
    size_t length = std::strlen(name);
    if (length >= sizeof record.name) return false;
    std::memcpy(record.name, name, length + 1);
    return true;
}

void Queue_Reset() {
    s_head.store(0, std::memory_order_release);
    s_tail.store(0, std::memory_order_release);
}

bool Queue_Push(const CommandRecord& record) {
    if (std::memchr(record.name, 0, kNameChars) == nullptr) return false;
    uint8_t tail = s_tail.load(std::memory_order_relaxed);
    // One record stays free: a tail that caught up with the head would make a
    // full ring look empty and overwrite records the tick has not taken.
    if ((uint8_t)(tail + 1) == s_head.load(std::memory_order_acquire)) return false;
    s_records[tail] = record;
    s_tail.store((uint8_t)(tail + 1), std::memory_order_release);
    return true;
}

int Queue_Pending() {
    return (uint8_t)(s_tail.load(std::memory_order_acquire) - s_head.load(std::memory_order_acquire));
}

const CommandRecord& Queue_Record(int i) { return s_records[(uint8_t)i]; }

void Tick() {
    uint8_t i = s_head.load(std::memory_order_relaxed);
    const uint8_t end = s_tail.load(std::memory_order_acquire);
    while (i != end) {
        CommandRecord& r = s_records[i];
        // Age in modular arithmetic, so that stamps from just before the
        // 32-bit wrap (or the first second of uptime) age correctly.
        if (r.timestamp != 0 && (uint32_t)(GetTickCount() - r.timestamp) > kExpiryMs)
            r.command = kCommandNone;
        if (r.command != kCommandNone)
            if (Tick_ObserverFn observe = s_observer.load(std::memory_order_acquire)) observe(r);
        switch (r.command) {
        case QueuedPlay:
        case QueuedPlayFade:
        case QueuedPlayFadeEx:
            RunBgmCommand(r);
            break;
        case QueuedSetListen:
            RunSetListen(r);
            break;
        case QueuedPlaySE:
            RunPlaySE(r, i, end);
            break;
        default:
            break;
        }
        if (g_engine.stopFlag.load(std::memory_order_acquire) != 0) {
            g_engine.stopFlag.store(2, std::memory_order_release);
            return;
        }
        i++;
    }
    s_head.store(end, std::memory_order_release);

    if (!Engine_Running()) return;
    for (SoundChannel& slot : g_engine.bgm) {
        EnterCriticalSection(&g_engine.bgmLock);
        Bgm_Update(slot);
        LeaveCriticalSection(&g_engine.bgmLock);
    }
}

void Tick_SetObserver(Tick_ObserverFn observer) {
    s_observer.store(observer, std::memory_order_release);
}

void Tick_TimerCallback(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) { Tick(); }
