// The sound channel: binding, the busy test, stop and release, level to
// volume, and the fade step, on the software device and the virtual clock.
#include <gtest/gtest.h>

#include <vector>

#include "engine/sound_channel.h"
#include "platform/audio/audio_output.h"
#include "platform/audio/device_probe.h"
#include "platform/clock.h"
#include "platform/debug_output.h"

namespace {

HWND Window() { return reinterpret_cast<HWND>(0x77); }

class Channel : public ::testing::Test {
protected:
    SoundChannel device{};
    SoundChannel channel{};

    void SetUp() override {
        Clock_UseVirtual(5000);
        DsTest_Reset();
        ASSERT_TRUE(AudioOutput_Open("null"));
        ASSERT_EQ(device.Bind(Window(), nullptr, nullptr), 1);
        ASSERT_EQ(channel.Bind(Window(), device.device, device.primary), 1);
    }
    void TearDown() override {
        channel.Release();
        device.Release();
        AudioOutput_Close();
    }
    // Gives the channel a looping one-second buffer, playing, as a stream has.
    void GiveStreamingBuffer() {
        WAVEFORMATEX pcm = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
        DSBUFFERDESC desc = {};
        desc.dwSize = sizeof desc;
        desc.dwFlags = DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN | DSBCAPS_GETCURRENTPOSITION2;
        desc.dwBufferBytes = 176400;
        desc.lpwfxFormat = &pcm;
        IDirectSoundBuffer* first = nullptr;
        ASSERT_EQ(device.device->CreateSoundBuffer(&desc, &first, nullptr), DS_OK);
        void* b8 = nullptr;
        ASSERT_EQ(first->QueryInterface(IID_IDirectSoundBuffer8, &b8), DS_OK);
        first->Release();
        channel.buffer = (IDirectSoundBuffer8*)b8;
        channel.buffer->Play(0, 0, DSBPLAY_LOOPING);
        channel.streaming = 1;
    }
    LONG BufferVolume() {
        DsBufferInfo info;
        EXPECT_TRUE(DsInspect_Of(channel.buffer, &info));
        return info.volume;
    }
};

}  // namespace

TEST(LevelToVolume, FollowsTheCubeOfTheLevelAndClamps) {
    struct Case {
        int32_t level;
        LONG volume;
    } cases[] = {{0, 0},      {2000, -80},     {5000, -1250}, {9000, -7289},
                 {10000, -10000}, {-5, 0}, {12000, -10000}, {1, 0}, {9999, -9996}};
    for (const Case& c : cases) EXPECT_EQ(LevelToVolume(c.level), c.volume) << c.level;
}

TEST_F(Channel, BindSharesTheDeviceAndReleaseWritesTheDeviceCount) {
    EXPECT_EQ(channel.device, device.device);
    EXPECT_EQ(channel.deviceBorrowed, 1);
    EXPECT_EQ(channel.primaryBorrowed, 1);
    EXPECT_NE(device.listener, nullptr);
    EXPECT_EQ(channel.listener, nullptr);

    channel.Release();
    EXPECT_EQ(channel.device, nullptr);
    EXPECT_EQ(DsInspect_DeviceCount(), 1) << "a borrowing channel releases nothing of the device";

    DebugOutput_StartCapture();
    device.Release();
    EXPECT_EQ(DebugOutput_StopCapture(), "0");
    EXPECT_EQ(DsInspect_DeviceCount(), 0);
    EXPECT_EQ(device.primary, nullptr);
    EXPECT_EQ(device.listener, nullptr);
}

TEST_F(Channel, BusyFollowsStreamingStartedAndTheBufferStatus) {
    EXPECT_EQ(channel.Busy(), 0) << "no buffer";
    GiveStreamingBuffer();
    EXPECT_EQ(channel.Busy(), 1) << "a stream is busy while it runs";
    channel.streaming = 0;
    EXPECT_EQ(channel.Busy(), 0) << "not started";
    channel.started = 1;
    EXPECT_EQ(channel.Busy(), 1) << "started and playing";
    channel.buffer->Stop();
    EXPECT_EQ(channel.Busy(), 0) << "started, but the buffer stopped";

    // A lost buffer is restored by the busy test.
    channel.buffer->Play(0, 0, DSBPLAY_LOOPING);
    DsTest_LoseBuffer(channel.buffer);
    channel.Busy();
    DWORD status = 0;
    channel.buffer->GetStatus(&status);
    EXPECT_FALSE(status & DSBSTATUS_BUFFERLOST);
}

TEST_F(Channel, StopEndsAStreamAndOnAnIdleChannelChangesNothing) {
    EXPECT_EQ(channel.Stop(), 0);
    GiveStreamingBuffer();
    channel.level = 1234;
    EXPECT_EQ(channel.Stop(), 1);
    EXPECT_EQ(channel.streaming, 0);
    EXPECT_EQ(channel.started, 0);
    DWORD status = 0;
    channel.buffer->GetStatus(&status);
    EXPECT_FALSE(status & DSBSTATUS_PLAYING);
    EXPECT_NE(channel.buffer, nullptr) << "the buffer stays for the next start";
    EXPECT_EQ(channel.Stop(), 0);
    EXPECT_EQ(channel.level, 1234);
}

TEST_F(Channel, LevelsReachTheBufferOnlyWhileBusyUnlessForced) {
    GiveStreamingBuffer();
    channel.streaming = 0;  // idle
    EXPECT_EQ(channel.SetLevel(5000), 1);
    EXPECT_EQ(channel.level, 5000);
    EXPECT_EQ(BufferVolume(), 0) << "an idle channel only stores its level";
    EXPECT_EQ(channel.ApplyLevel(5000, 0), 0);
    EXPECT_EQ(channel.ApplyLevel(9000, 1), 1);
    EXPECT_EQ(BufferVolume(), -7289);
    channel.streaming = 1;
    channel.SetLevel(2000);
    EXPECT_EQ(BufferVolume(), -80);
}

TEST_F(Channel, AFadeStepsLinearlyAndEndsExactlyOnItsTarget) {
    GiveStreamingBuffer();
    channel.SetLevel(0);
    channel.StartFade(10000, 1000);
    EXPECT_EQ(channel.level, 0) << "nothing moves before the first step";
    std::vector<int32_t> levels;
    for (int i = 0; i < 100; i++) {
        Clock_Advance(10);
        ASSERT_EQ(channel.FadeStep(), kFadeGoOn);
        levels.push_back(channel.level);
        ASSERT_EQ(BufferVolume(), LevelToVolume(channel.level));
    }
    for (int i = 0; i < 100; i++) EXPECT_EQ(levels[i], 100 * (i + 1)) << i;
    EXPECT_EQ(channel.fadeRemaining, 0);
    EXPECT_EQ(channel.Busy(), 1);
}

TEST_F(Channel, ALateStepLandsOnTheTargetOrStops) {
    GiveStreamingBuffer();
    channel.SetLevel(3000);
    channel.StartFade(600, 500);
    Clock_Advance(800);
    EXPECT_EQ(channel.FadeStep(), kFadeGoOn);
    EXPECT_EQ(channel.level, 600);

    EXPECT_EQ(channel.FadeOut(), 1);
    EXPECT_EQ(channel.stopAtFadeEnd, 1);
    Clock_Advance(1500);
    EXPECT_EQ(channel.FadeStep(), kFadeStopped);
    EXPECT_EQ(channel.streaming, 0);
    EXPECT_EQ(channel.Busy(), 0);
}

TEST_F(Channel, FadeOutInLimitsItsTimeAndZeroFadesSetAtOnce) {
    struct Case {
        int32_t ms, expected;
    } cases[] = {{0, 1}, {-50, 1}, {1, 1}, {2500, 2500}, {60000, 60000}, {100000, 60000}};
    for (const Case& c : cases) {
        channel.FadeOutIn(c.ms);
        EXPECT_EQ(channel.fadeRemaining, c.expected) << c.ms;
        EXPECT_EQ(channel.fadeTarget, 10000);
        EXPECT_EQ(channel.stopAtFadeEnd, 1);
    }
    GiveStreamingBuffer();
    channel.StartFade(5000, 0);
    EXPECT_EQ(channel.level, 5000);
    EXPECT_EQ(BufferVolume(), -1250);
    EXPECT_EQ(channel.stopAtFadeEnd, 0);

    channel.level = 700;
    channel.CancelFade();
    EXPECT_EQ(channel.fadeTarget, 700);
    EXPECT_EQ(channel.fadeRemaining, 0);
}

TEST_F(Channel, LongFadesDoNotOverflowTheirStep) {
    // 10000 levels times 400000 ms does not fit 32 bits.
    GiveStreamingBuffer();
    channel.SetLevel(0);
    channel.StartFade(10000, 1000000);
    Clock_Advance(400000);
    channel.FadeStep();
    EXPECT_EQ(channel.level, 4000);
    EXPECT_EQ(channel.fadeRemaining, 600000);
}
