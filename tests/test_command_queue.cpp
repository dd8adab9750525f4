// The command ring and the timer tick, on the virtual clock.
#include <cstring>
#include <string>

#include "engine_fixture.h"

class Queue : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        ASSERT_EQ(IInit(TestWindow()), 1);
    }
    // Pending records left by the ticks so far.
    void Tick10() { Clock_Advance(10); }
};

TEST_F(Queue, ProducersFillTheRecordAsTheTickExpectsIt) {
    float x = 1.5f, y = -2.0f, z = 3.25f;
    Timer_SetStalled(true);
    EXPECT_EQ(IPlay(1, "bgm\\a.wav", 10, 20, 30, 1), -1);
    EXPECT_EQ(IPlayFadeEx(0, "bgm\\b.wav", 1, 2, 3, 0, 750), -1);
    EXPECT_EQ(IPlaySE("se\\c.wav", &x, &y, &z, 2, 0, 0.5f), -1);
    EXPECT_EQ(IPlaySE("se\\d.wav", &x, &y, &z, 0, 1, 1.0f), -1);
    EXPECT_EQ(ISetListen(0.7f, 1, 2, 3, 4, 5, 6, 7, 8, 9), 0);
    ASSERT_EQ(Queue_Pending(), 5);

    const CommandRecord& play = Queue_Record(0);
    EXPECT_EQ(play.command, QueuedPlay);
    EXPECT_STREQ(play.name, "bgm\\a.wav");
    EXPECT_EQ(play.slot, 1);
    EXPECT_EQ(play.args[0], 10);
    EXPECT_EQ(play.args[1], 20);
    EXPECT_EQ(play.args[2], 30);
    EXPECT_EQ(play.args[3], 1);
    EXPECT_EQ(play.timestamp, 0u);  // music never expires

    const CommandRecord& fade = Queue_Record(1);
    EXPECT_EQ(fade.command, QueuedPlayFadeEx);
    EXPECT_EQ(fade.args[4], 750);

    const CommandRecord& se = Queue_Record(2);
    EXPECT_EQ(se.command, QueuedPlaySE);
    EXPECT_EQ(se.args[2], 2);
    EXPECT_EQ(se.args[3], 0);
    EXPECT_EQ(se.values[0], 1.5f);
    EXPECT_EQ(se.values[1], -2.0f);
    EXPECT_EQ(se.values[2], 3.25f);
    EXPECT_EQ(se.values[5], 0.5f);
    EXPECT_EQ(se.timestamp, GetTickCount());

    // Kind 0 carries no position; a looping effect never expires.
    const CommandRecord& plain = Queue_Record(3);
    EXPECT_EQ(plain.values[0], 0.0f);
    EXPECT_EQ(plain.values[1], 0.0f);
    EXPECT_EQ(plain.timestamp, 0u);

    const CommandRecord& listen = Queue_Record(4);
    EXPECT_EQ(listen.command, QueuedSetListen);
    for (int i = 0; i < 9; i++) EXPECT_EQ(listen.values[i], (float)(i + 1));
    EXPECT_EQ(listen.values[9], 0.7f);

    Timer_SetStalled(false);
    Tick10();
    EXPECT_EQ(Queue_Pending(), 0);
    EXPECT_EQ(CarriedCommands().size(), 5u);
}

TEST_F(Queue, NamesMustFitTheirFieldAndNullNamesAreRefused) {
    std::string fits(255, 'a'), tooLong(256, 'a');
    EXPECT_EQ(IPlay(0, fits.c_str(), 0, 0, -1, 0), -1);
    EXPECT_EQ(IPlay(0, tooLong.c_str(), 0, 0, -1, 0), 0);
    EXPECT_EQ(IPlay(0, nullptr, 0, 0, -1, 0), 0);
    EXPECT_EQ(IPlaySE(tooLong.c_str(), nullptr, nullptr, nullptr, 0, 0, 1.0f), -1);
    EXPECT_EQ(IPlaySE(nullptr, nullptr, nullptr, nullptr, 0, 0, 1.0f), -1);
    EXPECT_EQ(Queue_Pending(), 1);
    EXPECT_EQ(std::strlen(Queue_Record(0).name), 255u);
}

TEST_F(Queue, AFullRingRefusesNewCommandsAndKeepsThePendingOnes) {
    Timer_SetStalled(true);
    int taken = 0;
    for (int i = 0; i < 300; i++) {
        std::string name = "m" + std::to_string(i);
        if (IPlay(i & 1, name.c_str(), i, 0, -1, 0) == -1) taken++;
    }
    EXPECT_EQ(taken, 255);
    EXPECT_EQ(Queue_Pending(), 255);
    EXPECT_STREQ(Queue_Record(0).name, "m0");
    EXPECT_STREQ(Queue_Record(254).name, "m254");

    Timer_SetStalled(false);
    Tick10();
    ASSERT_EQ(CarriedCommands().size(), 255u);
    for (int i = 0; i < 255; i++) EXPECT_EQ(CarriedCommands()[i].name, "m" + std::to_string(i));
    EXPECT_EQ(IPlay(0, "again", 0, 0, -1, 0), -1);
}

TEST_F(Queue, RepeatedEffectsInOneBatchStartOnceIgnoringCase) {
    Timer_SetStalled(true);
    for (const char* name : {"a.wav", "b.wav", "A.WAV", "a.wav"})
        IPlaySE(name, nullptr, nullptr, nullptr, 0, 0, 1.0f);
    Timer_SetStalled(false);
    Tick10();
    ASSERT_EQ(CarriedCommands().size(), 2u);
    EXPECT_EQ(CarriedCommands()[0].name, "a.wav");
    EXPECT_EQ(CarriedCommands()[1].name, "b.wav");

    // The same effect in the next tick starts again.
    IPlaySE("a.wav", nullptr, nullptr, nullptr, 0, 0, 1.0f);
    Tick10();
    EXPECT_EQ(CarriedCommands().size(), 3u);
}

TEST_F(Queue, ABatchThatWrapsIsTakenInRingOrderWithItsDuplicates) {
    // Move the head to 253 with commands the tick carries out at once.
    for (int i = 0; i < 253; i++) IPlay(0, "filler", 0, 0, -1, 0);
    Tick10();
    CarriedCommands().clear();

    Timer_SetStalled(true);
    for (const char* name : {"x.wav", "y.wav", "X.wav", "z.wav", "Y.WAV"})
        IPlaySE(name, nullptr, nullptr, nullptr, 0, 0, 1.0f);
    EXPECT_EQ(Queue_Record(253).command, QueuedPlaySE);
    EXPECT_EQ(Queue_Record(1).command, QueuedPlaySE);
    Timer_SetStalled(false);
    Tick10();
    ASSERT_EQ(CarriedCommands().size(), 3u);
    EXPECT_EQ(CarriedCommands()[0].name, "x.wav");
    EXPECT_EQ(CarriedCommands()[1].name, "y.wav");
    EXPECT_EQ(CarriedCommands()[2].name, "z.wav");
    EXPECT_EQ(Queue_Pending(), 0);
}

TEST_F(Queue, OnlyNonLoopingEffectsAndListenerChangesExpireAfterAStall) {
    Timer_SetStalled(true);
    IPlaySE("once.wav", nullptr, nullptr, nullptr, 0, 0, 1.0f);
    IPlaySE("loop.wav", nullptr, nullptr, nullptr, 0, 1, 1.0f);
    ISetListen(1, 0, 0, 0, 0, 1, 0, 0, 0, 1);
    IPlay(0, "music.wav", 0, 0, -1, 1);
    Clock_Advance(2000);
    Timer_SetStalled(false);
    Tick10();
    ASSERT_EQ(CarriedCommands().size(), 2u);
    EXPECT_EQ(CarriedCommands()[0].name, "loop.wav");
    EXPECT_EQ(CarriedCommands()[1].name, "music.wav");

    // Up to 1000 ms of waiting is fine.
    Timer_SetStalled(true);
    IPlaySE("late.wav", nullptr, nullptr, nullptr, 0, 0, 1.0f);
    Clock_Advance(995);
    Timer_SetStalled(false);
    Clock_Advance(5);
    EXPECT_EQ(CarriedCommands().back().name, "late.wav");
}

// Expiry counts the age of a record, so stamps taken in the first second of
// the tick count or just before its 32-bit wrap still run.
class QueueNearWrap : public Queue {
protected:
    void SetUp() override {}
};

TEST_F(QueueNearWrap, FreshRecordsDoNotExpireAroundTheWrapOrAtStartUp) {
    for (DWORD start : {0xFFFFFF00u, 0xFFFFFFF8u, 0u, 300u}) {
        StartClock(start);
        ASSERT_EQ(IInit(TestWindow()), 1) << start;
        Timer_SetStalled(true);
        IPlaySE("fresh.wav", nullptr, nullptr, nullptr, 0, 0, 1.0f);
        Clock_Advance(300);
        Timer_SetStalled(false);
        Clock_Advance(10);
        ASSERT_EQ(CarriedCommands().size(), 1u) << start;
        IRelease();
        AudioOutput_Close();
    }
}

TEST_F(Queue, CommandsRunOldestFirstAndALaterStartOfASlotComesAfter) {
    Timer_SetStalled(true);
    IPlay(0, "first.wav", 0, 0, -1, 0);
    ISetListen(1, 5, 0, 0, 0, 1, 0, 0, 0, 1);
    IPlaySE("fx.wav", nullptr, nullptr, nullptr, 0, 0, 1.0f);
    IPlay(0, "second.wav", 0, 0, -1, 0);
    Timer_SetStalled(false);
    Tick10();
    ASSERT_EQ(CarriedCommands().size(), 4u);
    EXPECT_EQ(CarriedCommands()[0].name, "first.wav");
    EXPECT_EQ(CarriedCommands()[1].command, QueuedSetListen);
    EXPECT_EQ(CarriedCommands()[2].name, "fx.wav");
    EXPECT_EQ(CarriedCommands()[3].name, "second.wav");
    // The listener reached the device before the effect was started.
    DS3DLISTENER l;
    ASSERT_TRUE(DsInspect_Listener(&l));
    EXPECT_EQ(l.vPosition.x, 5.0f);
    EXPECT_EQ(g_engine.listenerPosition[0], 5.0f);
}

TEST_F(Queue, ListenerChangesRepairAZeroFrontAndAZeroTop) {
    ISetListen(0.5f, 1, 2, 3, 0, 0, 0, 0.25f, 0.5f, 0);
    Tick10();
    DS3DLISTENER l;
    ASSERT_TRUE(DsInspect_Listener(&l));
    EXPECT_EQ(l.vOrientFront.x, 0.0f);
    EXPECT_EQ(l.vOrientFront.y, -1.0f);
    EXPECT_EQ(l.vOrientTop.x, 0.25f);
    EXPECT_EQ(l.vOrientTop.y, 0.5f);
    EXPECT_EQ(l.vOrientTop.z, -1.0f);
    EXPECT_FLOAT_EQ(l.flRolloffFactor, 0.5f);
    EXPECT_EQ(g_engine.listenerFront[1], -1.0f);
}

TEST_F(Queue, ReleaseStopsTheTickAndAStopFlagEndsABatchEarly) {
    Timer_SetStalled(true);
    IPlaySE("one.wav", nullptr, nullptr, nullptr, 0, 1, 1.0f);
    IPlaySE("two.wav", nullptr, nullptr, nullptr, 0, 1, 1.0f);
    // A tick that sees the stop flag ends after the command in hand, leaves
    // the head where it was and acknowledges with 2.
    g_engine.stopFlag.store(1);
    Tick();
    EXPECT_EQ(g_engine.stopFlag.load(), 2);
    ASSERT_EQ(CarriedCommands().size(), 1u);
    EXPECT_EQ(Queue_Pending(), 2);
    g_engine.stopFlag.store(0);
    Timer_SetStalled(false);

    EXPECT_EQ(IRelease(), 1);
    size_t seen = CarriedCommands().size();
    Clock_Advance(100);
    EXPECT_EQ(CarriedCommands().size(), seen) << "no tick runs after IRelease";
}
