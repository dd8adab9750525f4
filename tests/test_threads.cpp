// The engine with its tick on another thread: the client's calls, the timer
// thread and the audio sink at once. Run under ThreadSanitizer in CI.
#include <atomic>
#include <chrono>
#include <thread>

#include "engine_fixture.h"
#include "sound_test_util.h"

namespace {

std::atomic<int> s_carried{0};
std::atomic<int> s_effectsCarried{0};

void CountCarried(const CommandRecord& r) {
    s_carried++;
    if (r.command == QueuedPlaySE) s_effectsCarried++;
}

void SleepReal(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

class Threads : public ::testing::Test {
protected:
    void SetUp() override {
        s_carried = 0;
        s_effectsCarried = 0;
        Tick_SetObserver(CountCarried);
    }
    void TearDown() override {
        while (CriticalSection_HeldByCaller(&g_engine.bgmLock) > 0) ILeave();
        IRelease();
        Tick_SetObserver(nullptr);
        AudioOutput_Close();
    }
};

}  // namespace

TEST_F(Threads, EnterHoldsQueuedCommandsBackUntilLeave) {
    Clock_UseVirtual(1000);
    ASSERT_TRUE(AudioOutput_Open("null"));
    ASSERT_EQ(IInit(TestWindow()), 1);
    ASSERT_EQ(IEnter(), 1);
    IPlay(0, "music.wav", 0, 0, -1, 1);
    IPlaySE("fx.wav", nullptr, nullptr, nullptr, 0, 1, 1.0f);

    // Time moves on another thread, as the system's timer thread would.
    std::thread timer([] { Clock_Advance(20); });
    while (s_carried.load() == 0) SleepReal(1);
    SleepReal(50);
    EXPECT_EQ(s_carried.load(), 1) << "the tick waits at the music start";
    EXPECT_EQ(s_effectsCarried.load(), 0) << "and the effect behind it waits too";
    EXPECT_EQ(ILeave(), 1);
    timer.join();
    EXPECT_EQ(s_effectsCarried.load(), 1);
}

TEST_F(Threads, ClientCallsRaceNothingWhileTheTimerTicksInRealTime) {
    ScratchDir dir;
    WriteBytes("a.wav", PcmWavImage(TestMusic(4410, 1), 2, 22050));
    WriteBytes("b.wav", PcmWavImage(TestMusic(2205, 2), 2, 44100));
    WriteBytes("c.wav", PcmWavImage(std::vector<int16_t>(3000, 100), 1, 11025));
    WriteBytes("m.wav", PcmWavImage(TestMusic(44100, 3), 2, 44100));
    Clock_UseReal();
    ASSERT_TRUE(AudioOutput_Open("null"));
    for (int round = 0; round < 3; round++) {
        ASSERT_EQ(IInit(TestWindow()), 1);
        float x = 1, y = 2, z = 3;
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(150);
        for (int i = 0; std::chrono::steady_clock::now() < until; i++) {
            IPlaySE(i & 1 ? "a.wav" : "b.wav", &x, &y, &z, 2, 0, 1.0f);
            IPlaySEB("c.wav", &x, &y, &z, 1, 0, 1.0f);
            ISetListen(1.0f, x, y, z, 0, 1, 0, 0, 0, 1);
            if (i % 16 == 0) IPlay(i & 1, "m.wav", 0, 0, -1, 1);
            IVolFade(i & 1, i % 10000, 100);
            IFadeOutEx(i & 1, 50);
            ISetBGMVol(i % 5000);
            IGetPos(i & 1);
            ISetLoopPos(i & 1, 0, 1000);
            ISetSEPos(i % 24, &x, &y, &z, &x, &y, &z);
            ISetSEVolume(i % 12, 100);
            IStopSE(i % 12);
            IStopAllSE();
            if (IEnter()) {
                IPlayStop(i & 1);
                ILeave();
            }
            x += 0.5f;
            SleepReal(1);
        }
        EXPECT_EQ(IRelease(), 1);
        EXPECT_EQ(Timer_LiveCount(), 0);
    }
    EXPECT_GT(s_carried.load(), 0) << "the timer thread carried commands out";
    EXPECT_GT(DsInspect_CreatedCount(), 24) << "effects and music really started";
}

TEST_F(Threads, ReleaseWhileTheTickWaitsOnAnEnteredLockDoesNotHang) {
    Clock_UseReal();
    ASSERT_TRUE(AudioOutput_Open("null"));
    ASSERT_EQ(IInit(TestWindow()), 1);
    ASSERT_EQ(IEnter(), 1);
    IPlay(0, "music.wav", 0, 0, -1, 1);
    while (s_carried.load() == 0) SleepReal(1);  // the tick is now waiting for the lock
    EXPECT_EQ(IRelease(), 1);
    EXPECT_EQ(Timer_LiveCount(), 0);
    EXPECT_EQ(IInit(TestWindow()), 1);
}
