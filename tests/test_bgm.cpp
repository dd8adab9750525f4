// Music on the BGM slots: streaming through the three thirds, loops, the end
// of a piece, fades and cross-fades, positions; asserted on the PCM that
// reaches the output and on what the device holds.
#include <vector>

#include "engine_fixture.h"
#include "sound_test_util.h"

namespace {

constexpr uint32_t kRate = 44100;

class Bgm : public EngineTest {
protected:
    ScratchDir dir;
    void SetUp() override {
        EngineTest::SetUp();
        ASSERT_EQ(IInit(TestWindow()), 1);
        AudioOutput_StartCapture();
    }
    void TearDown() override {
        AudioOutput_StopCapture();
        EngineTest::TearDown();
    }
    // Writes bgm/<name> as 16-bit PCM and returns its samples.
    std::vector<int16_t> Music(const char* name, uint32_t frames, uint16_t channels = 2,
                               uint32_t seed = 1) {
        std::vector<int16_t> pcm = TestMusic(frames, seed);
        if (channels == 1) pcm.resize(frames);
        WriteBytes(std::string("bgm/") + name, PcmWavImage(pcm, channels, kRate));
        return pcm;
    }
    size_t CapturedFrames() {
        size_t n = 0;
        AudioOutput_Captured(&n);
        return n;
    }
    // Output frame i, channel c.
    int16_t Out(size_t i, int c) {
        size_t n = 0;
        const int16_t* f = AudioOutput_Captured(&n);
        return i < n ? f[2 * i + c] : 0;
    }
    DsBufferInfo SlotBuffer(int slot) {
        DsBufferInfo info = {};
        EXPECT_TRUE(DsInspect_Of(g_engine.bgm[slot].buffer, &info));
        return info;
    }
    // Counts output frames of [from, to) that differ from the expected stereo PCM
    // frame f(i - from).
    template <typename F>
    size_t Mismatches(size_t from, size_t to, F expected) {
        size_t bad = 0;
        for (size_t i = from; i < to; i++) {
            int16_t l, r;
            expected(i - from, &l, &r);
            if (Out(i, 0) != l || Out(i, 1) != r) bad++;
        }
        return bad;
    }
};

}  // namespace

TEST_F(Bgm, ANonLoopingPiecePlaysBitExactToItsLastSampleAndStops) {
    const uint32_t frames = 5 * kRate + kRate / 2;  // 5.5 s
    std::vector<int16_t> pcm = Music("a.wav", frames);
    size_t start = CapturedFrames();
    ASSERT_EQ(IPlayB(0, "bgm\\a.wav", 0, 0, -1, 0), 1);
    DsBufferInfo info = SlotBuffer(0);
    EXPECT_EQ(info.flags, 0x100C0u);
    EXPECT_EQ(info.bytes, 3u * 176400u);
    EXPECT_EQ(info.volume, 0);

    Clock_Advance(5400);
    EXPECT_EQ(g_engine.bgm[0].streaming, 1) << "still playing its last tenth of a second";
    Clock_Advance(300);
    EXPECT_EQ(g_engine.bgm[0].streaming, 0);
    EXPECT_EQ(IPlayStop(0), 0) << "a stopped slot is not sounding";

    EXPECT_EQ(Mismatches(start, start + frames, [&](size_t i, int16_t* l, int16_t* r) {
                  *l = pcm[2 * i], *r = pcm[2 * i + 1];
              }),
              0u);
    // Silence after the end: nothing stale from the buffer.
    EXPECT_EQ(Mismatches(start + frames, CapturedFrames(), [](size_t, int16_t* l, int16_t* r) {
                  *l = 0, *r = 0;
              }),
              0u);
}

TEST_F(Bgm, AWholePieceLoopsWithoutAGapAndStartFramesSkipIn) {
    const uint32_t frames = kRate + 1234;
    std::vector<int16_t> pcm = Music("loop.wav", frames);
    size_t start = CapturedFrames();
    ASSERT_EQ(IPlayB(1, "bgm\\loop.wav", 1000, 0, frames, 1), 1);
    Clock_Advance(4500);
    size_t heard = CapturedFrames() - start - 1000;
    EXPECT_EQ(Mismatches(start, start + heard, [&](size_t i, int16_t* l, int16_t* r) {
                  size_t k = (i + 1000) % frames;
                  *l = pcm[2 * k], *r = pcm[2 * k + 1];
              }),
              0u);
}

TEST_F(Bgm, ALoopShorterThanARefillWrapsAsOftenAsItNeeds) {
    // Loop from 0.25 s to 0.55 s of a 2 s piece: 0.3 s sections, three or four
    // of them in every one-second refill.
    const uint32_t frames = 2 * kRate, loopFrom = 11025, loopTo = 24255;
    std::vector<int16_t> pcm = Music("short.wav", frames);
    size_t start = CapturedFrames();
    ASSERT_EQ(IPlayB(0, "bgm\\short.wav", 0, loopFrom, loopTo, 1), 1);
    Clock_Advance(5000);
    size_t heard = CapturedFrames() - start - 10;
    EXPECT_EQ(Mismatches(start, start + heard, [&](size_t i, int16_t* l, int16_t* r) {
                  size_t k = i < loopTo ? i : loopFrom + (i - loopTo) % (loopTo - loopFrom);
                  *l = pcm[2 * k], *r = pcm[2 * k + 1];
              }),
              0u);
}

TEST_F(Bgm, ALoopStartOfMinusOneMeansTheFirstSampleInEveryFormat) {
    struct Case {
        uint16_t channels, bits;
    } cases[] = {{2, 16}, {1, 8}, {1, 16}};
    for (const Case& c : cases) {
        // 0.7 s of material, looping to its first sample.
        const uint32_t frames = 30870;
        Bytes data;
        std::vector<int16_t> left, right;  // what each frame should sound as
        for (uint32_t i = 0; i < frames; i++) {
            for (uint16_t ch = 0; ch < c.channels; ch++) {
                int16_t v = (int16_t)(((i * 37 + ch * 1000) % 20000) - 10000);
                if (c.bits == 8) {
                    uint8_t b = (uint8_t)(128 + v / 256);
                    data.push_back(b);
                    v = (int16_t)((b - 128) * 256);
                } else {
                    data.push_back((uint8_t)v), data.push_back((uint8_t)(v >> 8));
                }
                (ch == 0 ? left : right).push_back(v);
            }
            if (c.channels == 1) right.push_back(left.back());
        }
        WavHeader h = WavHeader_Make(c.channels, kRate, c.bits, (uint32_t)data.size());
        Bytes image((uint8_t*)&h, (uint8_t*)&h + sizeof h);
        image.insert(image.end(), data.begin(), data.end());
        WriteBytes("bgm/ramp.wav", image);
        size_t start = CapturedFrames();
        ASSERT_EQ(IPlayB(0, "bgm\\ramp.wav", 0, -1, -1, 1), 1);
        Clock_Advance(3000);
        size_t heard = CapturedFrames() - start - 10;
        EXPECT_EQ(Mismatches(start, start + heard, [&](size_t i, int16_t* l, int16_t* r) {
                      *l = left[i % frames], *r = right[i % frames];
                  }),
                  0u)
            << c.channels << " channels, " << c.bits << " bits";
        IPlayStop(0);
        IRelease();  // the next format needs a buffer of its own
        ASSERT_EQ(IInit(TestWindow()), 1);
    }
}

TEST_F(Bgm, StartsThatCannotPlayStopTheOldStreamAndLeaveNoFileOpen) {
    Music("a.wav", kRate);
    WriteBytes("bgm/empty.wav", PcmWavImage({}, 2, kRate));
    ASSERT_EQ(IPlayB(0, "bgm\\a.wav", 0, 0, -1, 1), 1);
    EXPECT_EQ(IPlayB(0, "bgm\\a.wav", 0, 0, 0, 1), 0) << "end frame 0";
    EXPECT_EQ(g_engine.bgm[0].streaming, 0);
    EXPECT_EQ(IPlayB(0, "bgm\\missing.wav", 0, 0, -1, 1), 0);
    EXPECT_EQ(IPlayB(0, "bgm\\empty.wav", 0, 0, -1, 1), 0) << "nothing to play";
    EXPECT_EQ(g_engine.bgm[0].opened, 0);

    DsTest_FailNext(DS_FAIL_SECONDARY_BUFFER);
    EXPECT_EQ(IPlayB(1, "bgm\\a.wav", 0, 0, -1, 1), 0);
    EXPECT_EQ(g_engine.bgm[1].buffer, nullptr);
    EXPECT_EQ(g_engine.bgm[1].opened, 0) << "a failed buffer leaves no file open";

    // The queued start of a missing file is consumed and reported nowhere.
    EXPECT_EQ(IPlay(1, "bgm\\missing.wav", 0, 0, -1, 1), -1);
    Clock_Advance(10);
    EXPECT_EQ(Queue_Pending(), 0);
}

TEST_F(Bgm, PlacementModeChoosesTheBufferFlagsOnTheFirstStartOnly) {
    Music("a.wav", kRate);
    struct Case {
        int32_t mode;
        DWORD flags;
    } cases[] = {{12, 0x100C4}, {1, 0x100C8}, {7, 0x100C0}};
    for (const Case& c : cases) {
        IRelease();
        ASSERT_EQ(IInit(TestWindow()), 1);
        ISetMem(c.mode, 0);
        ASSERT_EQ(IPlayB(0, "bgm\\a.wav", 0, 0, -1, 1), 1);
        EXPECT_EQ(SlotBuffer(0).flags, c.flags) << c.mode;
        ISetMem(0, 0);
        ASSERT_EQ(IPlayB(0, "bgm\\a.wav", 0, 0, -1, 1), 1);
        EXPECT_EQ(SlotBuffer(0).flags, c.flags) << "the buffer is kept";
    }
}

TEST_F(Bgm, FadeInOutAndACrossFadeBetweenSlots) {
    Music("a.wav", 4 * kRate);
    Music("b.wav", 4 * kRate, 2, 7);
    ISetBGMVol(0);
    ASSERT_EQ(IPlayB(0, "bgm\\a.wav", 0, 0, -1, 1), 1);
    Clock_Advance(200);
    // Slot 0 fades out while slot 1 fades in through the queue.
    EXPECT_EQ(IFadeOut(0), 1);
    EXPECT_EQ(IPlayFade(1, "bgm\\b.wav", 0, 0, -1, 1), -1);
    Clock_Advance(500);
    LONG out = SlotBuffer(0).volume, in = SlotBuffer(1).volume;
    EXPECT_GE(out, LevelToVolume(5200));
    EXPECT_LE(out, LevelToVolume(4700));
    EXPECT_GE(in, LevelToVolume(5300));
    EXPECT_LE(in, LevelToVolume(4800));
    Clock_Advance(520);
    EXPECT_EQ(g_engine.bgm[0].streaming, 0) << "faded out and stopped";
    EXPECT_EQ(g_engine.bgm[1].level, 0);
    EXPECT_EQ(SlotBuffer(1).volume, 0);
}

TEST_F(Bgm, VolumeChangesDuringAFadeOutJumpAndTheFadeGoesOn) {
    Music("a.wav", 4 * kRate);
    ASSERT_EQ(IPlayB(0, "bgm\\a.wav", 0, 0, -1, 1), 1);
    IFadeOutEx(0, 2000);
    Clock_Advance(1000);
    int32_t before = g_engine.bgm[0].level;
    EXPECT_NEAR(before, 5000, 60);
    ISetBGMVol(1000);
    EXPECT_EQ(g_engine.bgm[0].level, 1000);
    EXPECT_EQ(SlotBuffer(0).volume, LevelToVolume(1000));
    Clock_Advance(1010);
    EXPECT_EQ(g_engine.bgm[0].streaming, 0);

    // A timed level fade, and one of 0 ms that sets the level at once.
    ASSERT_EQ(IPlayB(1, "bgm\\a.wav", 0, 0, -1, 1), 1);
    EXPECT_EQ(IVolFade(1, 3000, 0), 1);
    EXPECT_EQ(SlotBuffer(1).volume, LevelToVolume(3000));
    EXPECT_EQ(IVolFade(1, 9000, 600), 1);
    Clock_Advance(610);
    EXPECT_EQ(g_engine.bgm[1].level, 9000);
    EXPECT_EQ(g_engine.bgm[1].streaming, 1);
}

TEST_F(Bgm, PositionCountsFramesFromTheStreamStartAndFollowsTheLoopPoint) {
    Music("long.wav", 12 * kRate);
    ASSERT_EQ(IPlayB(0, "bgm\\long.wav", 0, 0, -1, 0), 1);
    Clock_Advance(10000);
    // Ten seconds of frames plus the 11 frames of the header, as of the last tick.
    EXPECT_NEAR(IGetPos(0), 10 * 44100 + 11, 441 + 1);
    EXPECT_EQ(IGetPos(1), 0);

    // Moving the end point takes effect at the next refill.
    ISetLoopPos(0, 0, 11 * kRate);
    EXPECT_EQ(g_engine.bgm[0].endOffset, 11 * 176400);
    EXPECT_EQ(g_engine.bgm[0].loopEnd, 11 * 176400 + 44);
}

TEST_F(Bgm, ASecondStartAtAnotherRateKeepsTheFirstBufferAndStillStreams) {
    Music("a.wav", 2 * kRate);
    std::vector<int16_t> mono = TestMusic(3 * 22050, 3);
    mono.resize(3 * 22050);
    Bytes image = PcmWavImage(mono, 1, 22050);
    WriteBytes("bgm/slow.wav", image);
    ASSERT_EQ(IPlayB(0, "bgm\\a.wav", 0, 0, -1, 1), 1);
    IDirectSoundBuffer8* first = g_engine.bgm[0].buffer;
    ASSERT_EQ(IPlayB(0, "bgm\\slow.wav", 0, 0, -1, 1), 1);
    EXPECT_EQ(g_engine.bgm[0].buffer, first);
    EXPECT_EQ(SlotBuffer(0).format.nSamplesPerSec, 44100u);
    uint32_t before = g_engine.bgm[0].Tell();
    Clock_Advance(4000);
    EXPECT_EQ(g_engine.bgm[0].streaming, 1);
    EXPECT_NE(g_engine.bgm[0].Tell(), before) << "refills go on in the buffer's own thirds";
}
