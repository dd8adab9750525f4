// The engine's process-wide state: one engine per process.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/sound_channel.h"
#include "platform/lock.h"

constexpr int kBgmSlots = 2;
constexpr int kEffectChannels = 24;
constexpr int kEffectChannelsAddressable = 12;  // IStopSE and ISetSEVolume reach only these

struct EngineState {
    std::atomic<int32_t> initialised;
    HWND window;
    int32_t timerId = -1;  // -1 when none
    std::atomic<uint8_t> stopFlag;  // 0 running, 1 stop asked, 2 the tick stopped
    CRITICAL_SECTION bgmLock;
    CRITICAL_SECTION effectLock;
    SoundChannel deviceChannel;
    SoundChannel bgm[kBgmSlots];
    SoundChannel effects[kEffectChannels];
    // Plain words written by the client's thread and read by the tick.
    std::atomic<int32_t> bgmLevel;
    std::atomic<int32_t> effectLevel;
    std::atomic<int32_t> bgmPlacement;
    std::atomic<int32_t> effectPlacement;
    std::atomic<int32_t> quality3d;
    float listenerPosition[3];
    float listenerFront[3];
};

extern EngineState g_engine;

inline bool Engine_Running() { return g_engine.initialised.load(std::memory_order_acquire) != 0; }
inline bool Engine_ValidSlot(int32_t slot) { return slot == 0 || slot == 1; }
