// The engine's life cycle and status exports.
#include "engine/command_queue.h"
#include "engine/effects.h"
#include "engine/engine_state.h"
#include "engine/tracked_alloc.h"
#include "include/tonecore.h"
#include "platform/clock.h"
#include "platform/timer.h"

EngineState g_engine;

namespace {

constexpr UINT kTickMs = 10;
constexpr UINT kTickResolutionMs = 5;

// Channels are built with the library and destroyed with it; at unload each
// gives back its source's codec buffers and open file.
struct ChannelsAtUnload {
    ~ChannelsAtUnload() {
        g_engine.deviceChannel.Destroy();
        for (SoundChannel& c : g_engine.bgm) c.Destroy();
        for (SoundChannel& c : g_engine.effects) c.Destroy();
    }
} s_channelsAtUnload;

}  // namespace

extern "C" {

int32_t IInit(void* window) {
    if (Engine_Running()) return 0;
    Tracked_Reset();
    EffectCache_Forget();
    if (g_engine.window) return 0;

    g_engine.window = window;
    if (!g_engine.deviceChannel.Bind(window, nullptr, nullptr)) return 0;

    Queue_Reset();
    InitializeCriticalSection(&g_engine.bgmLock);
    InitializeCriticalSection(&g_engine.effectLock);
    timeBeginPeriod(1);
    g_engine.stopFlag.store(0, std::memory_order_release);

    SoundChannel& dc = g_engine.deviceChannel;
    for (SoundChannel& c : g_engine.bgm) c.Bind(window, dc.device, dc.primary);
    for (SoundChannel& c : g_engine.effects) c.Bind(window, dc.device, dc.primary);

    MMRESULT id = timeSetEvent(kTickMs, kTickResolutionMs, Tick_TimerCallback, 0, TIME_PERIODIC);
    // A timer that cannot be made goes unnoticed: the engine runs without a tick.
    g_engine.timerId = id ? (int32_t)id : -1;
    g_engine.initialised.store(1, std::memory_order_release);
    return 1;
}

int32_t IRelease(void) {
    if (!Engine_Running()) return 0;
    g_engine.initialised.store(0, std::memory_order_release);

    // A caller still inside IEnter would hold the BGM lock against a tick that
    // waits for it while we wait for that tick: its holds end here, as the
    // lock itself does below.
    for (int held = CriticalSection_HeldByCaller(&g_engine.bgmLock); held > 0; held--)
        LeaveCriticalSection(&g_engine.bgmLock);

    // timeKillEvent returns only once no tick is running, so nothing is inside
    // a channel or a lock from here on.
    if (g_engine.timerId != -1) timeKillEvent((UINT)g_engine.timerId);
    g_engine.timerId = -1;
    g_engine.stopFlag.store(1, std::memory_order_release);

    for (SoundChannel& c : g_engine.bgm) c.Release();
    for (SoundChannel& c : g_engine.effects) c.Release();
    g_engine.deviceChannel.Release();
    g_engine.window = nullptr;
    timeEndPeriod(1);
    DeleteCriticalSection(&g_engine.bgmLock);
    DeleteCriticalSection(&g_engine.effectLock);
    EffectCache_Free();
    return 1;
}

int32_t IReInit(void) {
    g_engine.deviceChannel.SetCooperativeLevel(g_engine.window);
    return 0;
}

int32_t IReset(void) { return Engine_Running() ? 1 : 0; }

uint32_t ITimeGetTime(void) { return Engine_Running() ? timeGetTime() : 0; }

int32_t ISetPlayer(void) { return 1; }

int32_t IEnter(void) {
    if (!Engine_Running()) return 0;
    EnterCriticalSection(&g_engine.bgmLock);
    return 1;
}

int32_t ILeave(void) {
    if (!Engine_Running()) return 0;
    // Leaving a lock this thread does not hold would break it for everyone.
    if (CriticalSection_HeldByCaller(&g_engine.bgmLock) == 0) return 0;
    LeaveCriticalSection(&g_engine.bgmLock);
    return 1;
}

int32_t ISetMem(int32_t bgmMode, int32_t effectMode) {
    g_engine.bgmPlacement.store(bgmMode % 10, std::memory_order_relaxed);
    g_engine.effectPlacement.store(effectMode % 10, std::memory_order_relaxed);
    g_engine.quality3d.store(effectMode / 10, std::memory_order_relaxed);
    return 1;
}

}  // extern "C"
