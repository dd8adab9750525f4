// Sound effects: the cache, the three kinds of start, the listener, channel
// allocation and the effect exports, on the software device.
#include <cmath>
#include <vector>

#include "engine/effect_cache.h"
#include "engine_fixture.h"
#include "sound_test_util.h"
#include "sources/sound_cipher.h"

namespace {

class Effects : public EngineTest {
protected:
    ScratchDir dir;
    void SetUp() override {
        EngineTest::SetUp();
        ASSERT_EQ(IInit(TestWindow()), 1);
    }
    // A 16-bit effect of `frames` frames at 22050 Hz.
    std::vector<int16_t> Effect(const std::string& name, uint32_t frames, uint16_t channels = 1) {
        std::vector<int16_t> pcm = TestMusic(frames, 5);
        if (channels == 1) pcm.resize(frames);
        WriteBytes(name, PcmWavImage(pcm, channels, 22050));
        return pcm;
    }
    DsBufferInfo Of(int channel) {
        DsBufferInfo info = {};
        EXPECT_TRUE(DsInspect_Of(g_engine.effects[channel].buffer, &info)) << channel;
        return info;
    }
};

}  // namespace

TEST_F(Effects, PlainEffectsTakeTheirLevelFromTheEffectLevelAndScale) {
    Effect("se/shot.wav", 2205);
    struct Case {
        int32_t effectLevel;
        float scale;
        LONG volume;
    } cases[] = {{2000, 0.5f, -2160}, {2000, 0.0f, -10000}, {0, 1.0f, 0}, {5000, 1.0f, -1250}, {0, 2.5f, 0}};
    for (const Case& c : cases) {
        ISetSEVol(c.effectLevel);
        int32_t ch = IPlaySEB("se\\shot.wav", nullptr, nullptr, nullptr, 0, 0, c.scale);
        ASSERT_GE(ch, 0);
        DsBufferInfo info = Of(ch);
        EXPECT_EQ(info.volume, c.volume) << c.effectLevel << " " << c.scale;
        EXPECT_EQ(info.flags, 0x400C0u);
        EXPECT_EQ(info.playFlags, DSBPLAY_TERMINATEBY_TIME);
        EXPECT_EQ(info.bytes, 2205u * 2);
        IStopAllSE();
    }
}

TEST_F(Effects, PlacementModesChooseBufferAndPlayFlags) {
    Effect("se/shot.wav", 2205);
    float x = 0, y = 100, z = 0;
    struct Case {
        int32_t mode;
        int32_t kind;
        DWORD flags;
        DWORD playFlags;
    } cases[] = {
        {0, 0, 0x400C0, DSBPLAY_TERMINATEBY_TIME | DSBPLAY_LOOPING},
        {1, 0, 0xC8, DSBPLAY_LOOPING},
        {2, 0, 0xC4, DSBPLAY_LOOPING},
        {10, 1, 0x60010, DSBPLAY_TERMINATEBY_TIME | DSBPLAY_LOOPING},
        {22, 1, 0x20014, DSBPLAY_LOOPING},
        {1, 1, 0x20018, DSBPLAY_LOOPING},
    };
    for (const Case& c : cases) {
        ISetMem(0, c.mode);
        int32_t ch = IPlaySEB("se\\shot.wav", &x, &y, &z, c.kind, 1, 1.0f);
        ASSERT_GE(ch, 0);
        DsBufferInfo info = Of(ch);
        EXPECT_EQ(info.flags, c.flags) << c.mode;
        EXPECT_EQ(info.playFlags, c.playFlags) << c.mode;
        if (c.kind == 1) {
            EXPECT_TRUE(IsEqualGUID(info.algorithm, c.mode >= 10 ? DS3DALG_HRTF_FULL : DS3DALG_HRTF_LIGHT));
        }
        IStopAllSE();
    }
}

TEST_F(Effects, SoftwareThreeDFollowsDistanceAndDirection) {
    Effect("se/step.wav", 22050);
    ISetListen(1.0f, 0, 0, 0, 0, -1, 0, 0, 0, 1);
    Clock_Advance(10);
    struct Case {
        float x, y, z, scale;
        LONG volume;
        LONG pan;
    } cases[] = {
        {0, -10, 0, 1.0f, LevelToVolume(2818), 0},  // ahead: dist 10
        {10, 0, 0, 1.0f, LevelToVolume(2818), -2400},
        {-10, 0, 0, 1.0f, LevelToVolume(2818), 2400},
        {0, 0, 0, 1.0f, LevelToVolume(2727), 0},    // at the listener
        {0, -1000, 0, 1.0f, -10000, 0},              // beyond 800: silent
        {0, -400, 0, 2.0f, -10000, 0},               // scaled to 800
    };
    for (const Case& c : cases) {
        int32_t ch = IPlaySEB("se\\step.wav", &c.x, &c.y, &c.z, 2, 1, c.scale);
        ASSERT_GE(ch, 0);
        DsBufferInfo info = Of(ch);
        EXPECT_EQ(info.volume, c.volume) << c.x << "," << c.y;
        EXPECT_EQ(info.pan, c.pan) << c.x << "," << c.y;
        IStopAllSE();
    }
    // Null coordinates count as the origin, through the queue and directly.
    int32_t ch = IPlaySEB("se\\step.wav", nullptr, nullptr, nullptr, 2, 1, 1.0f);
    ASSERT_GE(ch, 0);
    EXPECT_EQ(Of(ch).volume, LevelToVolume(2727));

    // Moving the effect or the listener recomputes level and pan.
    float x = 10, y = 0, z = 0;
    EXPECT_EQ(ISetSEPos(ch, &x, &y, &z, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(Of(ch).pan, -2400);
    EXPECT_EQ(ISetSEPos(ch, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(Of(ch).pan, 0);
    ISetSEPos(ch, &x, &y, &z, nullptr, nullptr, nullptr);
    ISetSEVolume(ch, 0);
    EXPECT_EQ(Of(ch).volume, 0);
    ISetListen(1.0f, 0, 0, 0, 1, 0, 0, 0, 0, 1);  // now facing the effect
    Clock_Advance(10);
    EXPECT_EQ(Of(ch).pan, 0);
    EXPECT_EQ(Of(ch).volume, LevelToVolume(2818)) << "the listener change overrides ISetSEVolume";
}

TEST_F(Effects, HardwareThreeDFoldsStereoToItsFirstChannelAndPlacesTheBuffer) {
    std::vector<int16_t> pcm = Effect("se/engine.wav", 1000, 2);
    ISetListen(1.0f, 10, 20, 0, 0, -1, 0, 0, 0, 1);
    Clock_Advance(10);
    float x = 110, y = 20, z = 40;
    int32_t ch = IPlaySEB("se\\engine.wav", &x, &y, &z, 1, 0, 0.5f);
    ASSERT_GE(ch, 0);
    DsBufferInfo info = Of(ch);
    EXPECT_EQ(info.format.nChannels, 1);
    EXPECT_EQ(info.format.nBlockAlign, 2);
    EXPECT_EQ(info.format.nAvgBytesPerSec, 44100u);
    EXPECT_EQ(info.bytes, 2000u);
    EXPECT_EQ(info.params3d.vPosition.x, 60.0f);
    EXPECT_EQ(info.params3d.vPosition.y, 20.0f);
    EXPECT_EQ(info.params3d.vPosition.z, 20.0f);
    EXPECT_EQ(info.params3d.flMinDistance, 50.0f);
    EXPECT_EQ(info.params3d.flMaxDistance, 800.0f);
    EXPECT_EQ(info.params3d.dwInsideConeAngle, 360u);

    void* p1;
    void* p2;
    DWORD b1, b2;
    IDirectSoundBuffer8* b = g_engine.effects[ch].buffer;
    ASSERT_EQ(b->Lock(0, 2000, &p1, &b1, &p2, &b2, 0), DS_OK);
    const int16_t* held = (const int16_t*)p1;
    size_t bad = 0;
    for (size_t j = 0; j < 1000; j++) bad += held[j] != pcm[2 * j];
    b->Unlock(p1, 0, p2, 0);
    EXPECT_EQ(bad, 0u);

    // Through the queue a null x still places the effect in 3D, at the origin.
    IPlaySE("se\\engine.wav", nullptr, nullptr, nullptr, 1, 0, 1.0f);
    Clock_Advance(10);
    DsBufferInfo queued = Of(ch + 1);
    EXPECT_EQ(queued.flags & DSBCAPS_CTRL3D, DSBCAPS_CTRL3D);
    EXPECT_EQ(queued.params3d.vPosition.x, 0.0f);
}

TEST_F(Effects, EightBitStereoFoldsToItsFirstChannelToo) {
    Bytes data;
    for (int i = 0; i < 400; i++) data.push_back((uint8_t)(i % 2 ? 200 : i % 97));
    WavHeader h = WavHeader_Make(2, 22050, 8, (uint32_t)data.size());
    Bytes image((uint8_t*)&h, (uint8_t*)&h + sizeof h);
    image.insert(image.end(), data.begin(), data.end());
    WriteBytes("se/tick.wav", image);
    float x = 1, y = 1, z = 1;
    int32_t ch = IPlaySEB("se\\tick.wav", &x, &y, &z, 1, 0, 1.0f);
    ASSERT_GE(ch, 0);
    void* p1;
    void* p2;
    DWORD b1, b2;
    ASSERT_EQ(g_engine.effects[ch].buffer->Lock(0, 200, &p1, &b1, &p2, &b2, 0), DS_OK);
    size_t bad = 0;
    for (size_t j = 0; j < 200; j++) bad += ((uint8_t*)p1)[j] != data[2 * j];
    g_engine.effects[ch].buffer->Unlock(p1, 0, p2, 0);
    EXPECT_EQ(bad, 0u);
}

TEST_F(Effects, TheCacheMatchesNamesWithoutCaseAndReplacesTheOldest) {
    for (int i = 0; i < 49; i++) Effect("se/e" + std::to_string(i) + ".wav", 100);
    for (int i = 0; i < 48; i++) ASSERT_EQ(EffectCache_Lookup(("se\\e" + std::to_string(i) + ".wav").c_str()), i);
    // e0 was used longest ago: the 49th effect takes its slot.
    EXPECT_EQ(EffectCache_Lookup("se\\e48.wav"), 0);
    EXPECT_EQ(EffectCache_Lookup("se\\e1.wav"), 1) << "still cached";
    EXPECT_EQ(EffectCache_Lookup("se\\e0.wav"), 2) << "a miss again, into the next oldest";

    Effect("se/Shot.wav", 100);
    int32_t a = EffectCache_Lookup("se\\Shot.wav");
    ASSERT_GE(a, 0);
    std::remove("se/Shot.wav");  // a hit no longer needs the file
    EXPECT_EQ(EffectCache_Lookup("SE\\SHOT.WAV"), a);

    IRelease();
    ASSERT_EQ(IInit(TestWindow()), 1);
    EXPECT_EQ(EffectCache_Lookup("se\\shot.wav"), -1) << "IRelease empties the cache";
}

TEST_F(Effects, ATwentyFifthEffectIsDroppedAndStopsReachOnlyTwelveChannels) {
    Effect("se/loop.wav", 2205);
    for (int i = 0; i < 24; i++) ASSERT_EQ(IPlaySEB("se\\loop.wav", nullptr, nullptr, nullptr, 0, 1, 1.0f), i);
    EXPECT_EQ(IPlaySEB("se\\loop.wav", nullptr, nullptr, nullptr, 0, 1, 1.0f), -1);
    IPlaySE("se\\loop.wav", nullptr, nullptr, nullptr, 0, 1, 1.0f);
    Clock_Advance(10);
    EXPECT_EQ(DsInspect_CreatedCount(), 24) << "the queued one was dropped";

    EXPECT_EQ(IStopSE(12), 0);
    EXPECT_EQ(g_engine.effects[12].Busy(), 1);
    EXPECT_EQ(IStopSE(3), 1);
    EXPECT_EQ(g_engine.effects[3].Busy(), 0);
    EXPECT_EQ(IPlaySEB("se\\loop.wav", nullptr, nullptr, nullptr, 0, 0, 1.0f), 3) << "the freed channel";
    EXPECT_EQ(IStopAllSE(), 0);
    for (SoundChannel& c : g_engine.effects) EXPECT_EQ(c.Busy(), 0);
}

TEST_F(Effects, AOneShotEffectFreesItsChannelWhenItEnds) {
    std::vector<int16_t> pcm = Effect("se/blip.wav", 2205);  // 0.1 s at 22050 Hz
    AudioOutput_StartCapture();
    ASSERT_EQ(IPlaySEB("se\\blip.wav", nullptr, nullptr, nullptr, 0, 0, 1.0f), 0);
    EXPECT_EQ(g_engine.effects[0].Busy(), 1);
    Clock_Advance(150);
    EXPECT_EQ(g_engine.effects[0].Busy(), 0);
    size_t n = 0;
    const int16_t* out = AudioOutput_Captured(&n);
    double energy = 0;
    for (size_t i = 0; i < n; i++) energy += std::abs(out[2 * i]);
    EXPECT_GT(energy, 0.0) << "the effect was heard";
    AudioOutput_StopCapture();
}

TEST_F(Effects, EncipheredEffectsLoadTheirDataChunkAndBadOnesAreRefused) {
    std::vector<int16_t> pcm = TestMusic(500, 9);
    pcm.resize(500);
    Bytes plain = PcmWavImage(pcm, 1, 22050);
    auto seal = [](Bytes image, const char* base) {
        int32_t sum, xr;
        Cipher_CheckValues(image.data(), (int32_t)image.size(), &sum, &xr);
        char key[64];
        std::snprintf(key, sizeof key, "%s", base);
        DecipherSound(image.data(), (int32_t)image.size(), key, 0, 0);
        uint8_t trailer[12] = {};
        PutLe32(trailer + 4, (uint32_t)sum);
        PutLe32(trailer + 8, (uint32_t)xr);
        image.insert(image.end(), trailer, trailer + 12);
        return image;
    };
    WriteBytes("se/hit.sem", seal(plain, "HIT"));
    int32_t slot = EffectCache_Lookup("se\\hit.sem");
    ASSERT_GE(slot, 0);
    const EffectCacheSlot& s = EffectCache_Slot(slot);
    EXPECT_EQ(s.header.dataLength, 1000u);
    EXPECT_EQ(std::memcmp(s.data, pcm.data(), 1000), 0);

    // Sealed under another name, too short for a trailer, or larger than the scratch buffer.
    WriteBytes("se/other.sem", seal(plain, "HIT"));
    EXPECT_EQ(EffectCache_Lookup("se\\other.sem"), -1);
    WriteBytes("se/tiny.sem", Bytes(11, 0));
    EXPECT_EQ(EffectCache_Lookup("se\\tiny.sem"), -1);
    Bytes big = PcmWavImage(std::vector<int16_t>(kCipherScratchBytes / 2, 1), 1, 22050);
    WriteBytes("se/big.sem", seal(big, "BIG"));
    EXPECT_EQ(EffectCache_Lookup("se\\big.sem"), -1);
}

TEST_F(Effects, AShortReadLeavesSilenceInTheCache) {
    std::vector<int16_t> pcm(1000, 1234);
    Bytes image = PcmWavImage(pcm, 1, 22050);
    PutLe32(image.data() + 40, 4000);  // claims twice the data it holds
    WriteBytes("se/short.wav", image);
    int32_t slot = EffectCache_Lookup("se\\short.wav");
    ASSERT_GE(slot, 0);
    const EffectCacheSlot& s = EffectCache_Slot(slot);
    ASSERT_EQ(s.header.dataLength, 4000u);
    const int16_t* data = (const int16_t*)s.data;
    EXPECT_EQ(data[999], 1234);
    size_t nonzero = 0;
    for (int i = 1000; i < 2000; i++) nonzero += data[i] != 0;
    EXPECT_EQ(nonzero, 0u);
}

TEST_F(Effects, RepeatedQueuedEffectsStartOnce) {
    Effect("se/a.wav", 2205);
    Effect("se/b.wav", 2205);
    Timer_SetStalled(true);
    for (const char* n : {"se\\a.wav", "se\\b.wav", "SE\\A.WAV", "se\\a.wav"})
        IPlaySE(n, nullptr, nullptr, nullptr, 0, 1, 1.0f);
    Timer_SetStalled(false);
    Clock_Advance(10);
    EXPECT_EQ(DsInspect_CreatedCount(), 2);
    EXPECT_EQ(g_engine.effects[0].Busy() + g_engine.effects[1].Busy() + g_engine.effects[2].Busy(), 2);
}

TEST_F(Effects, WildPositionsGiveInRangeLevelsAndAFiniteMix) {
    Effect("se/step.wav", 22050);
    const float nan = std::nanf(""), inf = INFINITY;
    const float wild[] = {nan, inf, -inf, 1e30f, -1e30f};
    AudioOutput_StartCapture();
    for (float w : wild) {
        for (int kind : {1, 2}) {
            float x = w, y = 10, z = 0;
            int32_t ch = IPlaySEB("se\\step.wav", &x, &y, &z, kind, 0, 1.0f);
            ASSERT_GE(ch, 0);
            DsBufferInfo info = Of(ch);
            EXPECT_GE(info.volume, -10000);
            EXPECT_LE(info.volume, 0);
            EXPECT_GE(info.pan, -10000);
            EXPECT_LE(info.pan, 10000);
            ISetSEPos(ch, &y, &x, &w, &w, &w, &w);
        }
        ISetListen(w, w, 0, 0, w, 1, 0, 0, 0, w);
        Clock_Advance(20);
        IStopAllSE();
    }
    size_t n = 0;
    const int16_t* out = AudioOutput_Captured(&n);
    EXPECT_GT(n, 0u);
    // The mix of ordinary effects beside the wild ones still sounds.
    uint64_t energy = 0;
    for (size_t i = 0; i < 2 * n; i++) energy += (uint64_t)std::abs((int)out[i]);
    EXPECT_GT(energy, 0u);
    AudioOutput_StopCapture();
}
