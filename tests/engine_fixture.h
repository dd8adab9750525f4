// The engine on the virtual clock with the null output, for the engine suites.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/command_queue.h"
#include "engine/engine_state.h"
#include "include/tonecore.h"
#include "platform/audio/audio_output.h"
#include "platform/audio/device_probe.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "platform/timer.h"

inline void* TestWindow() { return reinterpret_cast<void*>(0x5151); }

// Records what the tick carries out: command code and name, in order.
struct Carried {
    int32_t command;
    std::string name;
    uint32_t timestamp;
};
inline std::vector<Carried>& CarriedCommands() {
    static std::vector<Carried> seen;
    return seen;
}
inline void RecordCarried(const CommandRecord& r) {
    CarriedCommands().push_back({r.command, r.name, r.timestamp});
}

class EngineTest : public ::testing::Test {
protected:
    // start: the virtual tick count the test begins at.
    void StartClock(DWORD start = 100000) {
        Clock_UseVirtual(start);
        DsTest_Reset();
        ASSERT_TRUE(AudioOutput_Open("null"));
        CarriedCommands().clear();
        Tick_SetObserver(RecordCarried);
    }
    void SetUp() override { StartClock(); }
    void TearDown() override {
        Timer_SetStalled(false);
        while (CriticalSection_HeldByCaller(&g_engine.bgmLock) > 0) ILeave();
        IRelease();
        Tick_SetObserver(nullptr);
        AudioOutput_Close();
    }
};
