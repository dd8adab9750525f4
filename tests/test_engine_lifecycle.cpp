// Start and stop of the engine, its status exports, and refusals.
#include <cmath>

#include "engine/tracked_alloc.h"
#include "engine_fixture.h"

using Lifecycle = EngineTest;

TEST_F(Lifecycle, InitMakesDeviceListenerLocksAndTimerOnce) {
    ASSERT_EQ(IInit(TestWindow()), 1);
    EXPECT_EQ(DsInspect_DeviceCount(), 1);
    EXPECT_EQ(DsInspect_CooperativeWindow(), TestWindow());
    EXPECT_EQ(DsInspect_CooperativeLevel(), DSSCL_EXCLUSIVE);
    ASSERT_GE(DsInspect_BufferCount(), 1);
    DsBufferInfo primary;
    ASSERT_TRUE(DsInspect_Buffer(0, &primary));
    EXPECT_TRUE(primary.primary);
    EXPECT_EQ(primary.flags, 0x11u);
    EXPECT_EQ(primary.format.nSamplesPerSec, 44100u);
    EXPECT_EQ(primary.format.nChannels, 2);
    EXPECT_TRUE(primary.status & DSBSTATUS_PLAYING);

    DS3DLISTENER l;
    ASSERT_TRUE(DsInspect_Listener(&l));
    EXPECT_EQ(l.vOrientFront.y, -1.0f);
    EXPECT_EQ(l.vOrientTop.z, 1.0f);
    EXPECT_FLOAT_EQ(l.flRolloffFactor, 0.2f);
    EXPECT_FLOAT_EQ(l.flDopplerFactor, 1.0f);

    EXPECT_EQ(Timer_LiveCount(), 1);
    EXPECT_EQ(Timer_OpenPeriods(), 1);
    EXPECT_EQ(IReset(), 1);
    EXPECT_EQ(ITimeGetTime(), GetTickCount());

    // Every channel shares the device channel's device and primary buffer.
    for (SoundChannel& c : g_engine.effects) {
        EXPECT_EQ(c.device, g_engine.deviceChannel.device);
        EXPECT_TRUE(c.deviceBorrowed && c.primaryBorrowed);
    }

    // A second start changes nothing.
    EXPECT_EQ(IInit(TestWindow()), 0);
    EXPECT_EQ(DsInspect_DeviceCount(), 1);
    EXPECT_EQ(Timer_LiveCount(), 1);
}

TEST_F(Lifecycle, ReleaseUndoesInitAndTheEngineStartsAgain) {
    ASSERT_EQ(IInit(TestWindow()), 1);
    DebugOutput_StartCapture();
    EXPECT_EQ(IRelease(), 1);
    // The device's remaining reference count, as a bare decimal number.
    EXPECT_EQ(DebugOutput_StopCapture(), "0");
    EXPECT_EQ(DsInspect_DeviceCount(), 0);
    EXPECT_EQ(Timer_LiveCount(), 0);
    EXPECT_EQ(Timer_OpenPeriods(), 0);
    EXPECT_EQ(g_engine.window, nullptr);
    EXPECT_EQ(ITimeGetTime(), 0u);
    EXPECT_EQ(IRelease(), 0);

    ASSERT_EQ(IInit(TestWindow()), 1);
    Clock_Advance(30);
    EXPECT_EQ(IReset(), 1);
}

TEST_F(Lifecycle, ANullWindowIsRefusedByTheDeviceAndLeavesNothingBehind) {
    EXPECT_EQ(IInit(nullptr), 0);
    EXPECT_EQ(DsInspect_DeviceCount(), 0);
    EXPECT_EQ(IReset(), 0);
    // A null window is no stored window: a later start with a real one works.
    EXPECT_EQ(IInit(TestWindow()), 1);
}

TEST_F(Lifecycle, AFailedDeviceStartKeepsTheWindowAndRefusesLaterStarts) {
    struct Case {
        DsFailPoint point;
    } cases[] = {{DS_FAIL_CREATE_DEVICE}, {DS_FAIL_COOPERATIVE_LEVEL}, {DS_FAIL_PRIMARY_BUFFER}};
    for (const Case& c : cases) {
        g_engine.window = nullptr;
        DsTest_FailNext(c.point);
        EXPECT_EQ(IInit(TestWindow()), 0) << c.point;
        EXPECT_EQ(DsInspect_DeviceCount(), 0) << "whatever was made is released";
        EXPECT_EQ(g_engine.window, TestWindow());
        EXPECT_EQ(IInit(TestWindow()), 0) << "the stored window refuses every later start";
        EXPECT_EQ(IRelease(), 0);
        EXPECT_EQ(Timer_LiveCount(), 0);
    }
    g_engine.window = nullptr;
}

TEST_F(Lifecycle, CallsBeforeInitAreRefusedAndQueueNothing) {
    float x = 1, y = 2, z = 3;
    EXPECT_EQ(IRelease(), 0);
    EXPECT_EQ(IReset(), 0);
    EXPECT_EQ(ITimeGetTime(), 0u);
    EXPECT_EQ(IEnter(), 0);
    EXPECT_EQ(ILeave(), 0);
    EXPECT_EQ(ISetPlayer(), 1);
    EXPECT_EQ(IReInit(), 0);
    EXPECT_EQ(ISetMem(1, 1), 1);
    EXPECT_EQ(IPlay(0, "bgm\\a.wav", 0, 0, -1, 1), 0);
    EXPECT_EQ(IPlayFade(0, "bgm\\a.wav", 0, 0, -1, 1), 0);
    EXPECT_EQ(IPlayFadeEx(0, "bgm\\a.wav", 0, 0, -1, 1, 500), 0);
    EXPECT_EQ(IPlayB(0, "bgm\\a.wav", 0, 0, -1, 1), 0);
    EXPECT_EQ(IPlayStop(0), 0);
    EXPECT_EQ(IFadeOut(0), 0);
    EXPECT_EQ(IFadeOutEx(0, 10), 0);
    EXPECT_EQ(IVolFade(0, 0, 10), 0);
    EXPECT_EQ(ISetBGMVol(0), 0);
    EXPECT_EQ(IGetPos(0), 0);
    EXPECT_EQ(IPlaySE("se\\a.wav", &x, &y, &z, 1, 0, 1.0f), -1);
    EXPECT_EQ(IPlaySEB("se\\a.wav", &x, &y, &z, 1, 0, 1.0f), -1);
    EXPECT_EQ(IStopSE(0), 0);
    EXPECT_EQ(IStopAllSE(), 0);
    EXPECT_EQ(ISetSEVol(0), 0);
    EXPECT_EQ(ISetSEVolume(0, 0), 0);
    EXPECT_EQ(ISetSEPos(12, &x, &y, &z, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(ISetListen(1, 0, 0, 0, 0, 1, 0, 0, 0, 1), 0);
    EXPECT_EQ(Queue_Pending(), 0);
    EXPECT_EQ(DsInspect_DeviceCount(), 0);
}

TEST_F(Lifecycle, SlotsAndChannelsOutOfRangeAreRefused) {
    ASSERT_EQ(IInit(TestWindow()), 1);
    float x = 0;
    for (int slot : {-1, 2, 1000}) {
        EXPECT_EQ(IPlay(slot, "a.wav", 0, 0, -1, 0), 0) << slot;
        EXPECT_EQ(IPlayB(slot, "a.wav", 0, 0, -1, 0), 0) << slot;
        EXPECT_EQ(IPlayStop(slot), 0) << slot;
        EXPECT_EQ(IFadeOut(slot), 0) << slot;
        EXPECT_EQ(IFadeOutEx(slot, 100), 0) << slot;
        EXPECT_EQ(IVolFade(slot, 0, 100), 0) << slot;
        EXPECT_EQ(IGetPos(slot), 0) << slot;
        ISetLoopPos(slot, 0, 100);
    }
    // Effect channels 12..23 exist but only ISetSEPos reaches them.
    EXPECT_EQ(IStopSE(12), 0);
    EXPECT_EQ(IStopSE(-1), 0);
    EXPECT_EQ(ISetSEVolume(12, 0), 0);
    EXPECT_EQ(IStopSE(11), 1);
    EXPECT_EQ(ISetSEVolume(11, 500), 1);
    EXPECT_EQ(ISetSEPos(12, &x, &x, &x, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(ISetSEPos(23, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(ISetSEPos(24, &x, &x, &x, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(ISetSEPos(-1, &x, &x, &x, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(Queue_Pending(), 0);
}

TEST_F(Lifecycle, SetMemSplitsModesWithTruncatingDivision) {
    struct Case {
        int32_t bgm, effect, bgmPlacement, effectPlacement, quality;
    } cases[] = {
        {12, 21, 2, 1, 2},
        {0, 0, 0, 0, 0},
        {1, 102, 1, 2, 10},
        {-13, -25, -3, -5, -2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ISetMem(c.bgm, c.effect), 1);
        EXPECT_EQ(g_engine.bgmPlacement.load(), c.bgmPlacement);
        EXPECT_EQ(g_engine.effectPlacement.load(), c.effectPlacement);
        EXPECT_EQ(g_engine.quality3d.load(), c.quality);
    }
}

TEST_F(Lifecycle, EnterAndLeaveHoldTheBgmLockAndAnUnheldLeaveIsRefused) {
    ASSERT_EQ(IInit(TestWindow()), 1);
    EXPECT_EQ(ILeave(), 0);
    EXPECT_EQ(IEnter(), 1);
    EXPECT_EQ(IEnter(), 1);
    EXPECT_EQ(CriticalSection_HeldByCaller(&g_engine.bgmLock), 2);
    // Immediate BGM calls still work inside: the lock is re-entrant.
    EXPECT_EQ(IFadeOut(0), 1);
    EXPECT_EQ(ILeave(), 1);
    EXPECT_EQ(ILeave(), 1);
    EXPECT_EQ(ILeave(), 0);
}

TEST_F(Lifecycle, ReleaseInsideEnterDoesNotHang) {
    ASSERT_EQ(IInit(TestWindow()), 1);
    ASSERT_EQ(IEnter(), 1);
    EXPECT_EQ(IRelease(), 1);
    EXPECT_EQ(IInit(TestWindow()), 1);
}

TEST(TrackedAllocator, RefusesZeroAndOversizedAndReusesTheLastEntryWhenFull) {
    Tracked_Reset();
    EXPECT_EQ(Tracked_Alloc(0, "x"), nullptr);
    EXPECT_EQ(Tracked_Alloc(kTrackedMaxBytes + 1, "x"), nullptr);
    void* big = Tracked_Alloc(kTrackedMaxBytes, "big");
    ASSERT_NE(big, nullptr);
    Tracked_Free(big);

    static void* blocks[kTrackedEntries + 1];
    for (int i = 0; i <= kTrackedEntries; i++) blocks[i] = Tracked_Alloc(8, "a-very-long-tag-text");
    EXPECT_EQ(Tracked_LiveCount(), kTrackedEntries);
    EXPECT_STREQ(Tracked_TagOf(blocks[0]), "a-very-long-tag");  // 15 characters kept
    // Entry 4095 now holds the last block; the one before it is forgotten.
    EXPECT_STREQ(Tracked_TagOf(blocks[kTrackedEntries - 1]), "");
    for (void* b : blocks) Tracked_Free(b);
    EXPECT_EQ(Tracked_LiveCount(), 0);
}

TEST(ProcessExit, AProcessThatEndsWithoutReleaseExitsCleanly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The real timer and the output's sink thread are still running at exit.
    EXPECT_EXIT(
        {
            Clock_UseReal();
            AudioOutput_Open("null");
            IInit(TestWindow());
            IPlay(0, "bgm\\none.wav", 0, 0, -1, 1);
            Sleep(30);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
