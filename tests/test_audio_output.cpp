// Output backends: the WAV writer (checked with sox's own reader), the choice
// by spec and TONE_AUDIO, the fall-back to null with one warning, and SDL
// through its disk driver, which needs no sound card.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "test_audio_helpers.h"

namespace {

std::string TempPath(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/tone_audio_" + std::to_string(getpid()) + "_" + name;
}

std::string Shell(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }

// A device with the output already chosen, a looping tone playing on it.
struct TonePlayer {
    IDirectSound8* ds = nullptr;
    IDirectSoundBuffer* buffer = nullptr;

    void Start(double hz = 441.0, double amp = 20000.0) {
        ASSERT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
        ASSERT_EQ(ds->SetCooperativeLevel(FakeWindow(), DSSCL_EXCLUSIVE), DS_OK);
        std::vector<int16_t> tone = Sine(hz, 44100, 44100, 1, amp);
        WAVEFORMATEX f = Pcm(44100, 1, 16);
        DSBUFFERDESC d = Desc(0x400C0, 88200, &f);
        ASSERT_EQ(ds->CreateSoundBuffer(&d, &buffer, nullptr), DS_OK);
        void *p1, *p2;
        DWORD n1, n2;
        ASSERT_EQ(buffer->Lock(0, 88200, &p1, &n1, &p2, &n2, 0), DS_OK);
        std::memcpy(p1, tone.data(), n1);
        ASSERT_EQ(buffer->Unlock(p1, n1, p2, n2), DS_OK);
        ASSERT_EQ(buffer->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    }

    DWORD Cursor() {
        DWORD play = 0;
        buffer->GetCurrentPosition(&play, nullptr);
        return play;
    }

    // Waits (real mode) until the output has moved the cursor; false after 10 s.
    bool WaitForCursor() {
        for (int i = 0; i < 1000; i++) {
            if (Cursor() != 0) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    ~TonePlayer() {
        if (buffer) buffer->Release();
        if (ds) ds->Release();
    }
};

}  // namespace

TEST(AudioOutput, WavFileHoldsExactlyTheMixAndSoxReadsItsLength) {
    Clock_UseVirtual(0);
    std::string path = TempPath("mix.wav");
    ASSERT_TRUE(AudioOutput_Open(("wav:" + path).c_str()));
    EXPECT_STREQ(AudioOutput_Name(), "wav");
    AudioOutput_StartCapture();
    {
        TonePlayer player;
        player.Start();
        EXPECT_STREQ(AudioOutput_Name(), "wav");  // the device keeps the open output
        Clock_Advance(1500);
    }
    std::vector<int16_t> captured;
    {
        size_t n = 0;
        const int16_t* p = AudioOutput_Captured(&n);
        captured.assign(p, p + 2 * n);
    }
    AudioOutput_StopCapture();
    AudioOutput_Close();
    EXPECT_STREQ(AudioOutput_Name(), "");

    ASSERT_EQ(captured.size(), 66150u * 2);
    EXPECT_EQ(Shell("soxi -s '" + path + "'"), "66150");
    EXPECT_EQ(Shell("soxi -r '" + path + "'"), "44100");
    EXPECT_EQ(Shell("soxi -c '" + path + "'"), "2");
    EXPECT_EQ(Shell("soxi -b '" + path + "'"), "16");
    std::vector<uint8_t> file = ReadAll(path);
    ASSERT_EQ(file.size(), 44u + 66150 * 4);
    EXPECT_EQ(Le32(file.data() + 4), 36u + 66150 * 4);
    EXPECT_EQ(Le32(file.data() + 40), 66150u * 4);
    EXPECT_EQ(std::memcmp(file.data() + 44, captured.data(), 66150 * 4), 0);
    // sox hears the tone at its level: 20000 / sqrt(2) of 32768 is 0.4316.
    std::string stat = Shell("sox '" + path + "' -n stat 2>&1 | grep 'RMS     amplitude'");
    double rms = std::atof(stat.substr(stat.find(':') + 1).c_str());
    EXPECT_NEAR(rms, 20000.0 / std::sqrt(2.0) / 32768.0, 0.001) << stat;
    std::remove(path.c_str());
}

TEST(AudioOutput, SpecsAndTheEnvironmentChooseTheOutput) {
    Clock_UseVirtual(0);
    unsetenv("TONE_AUDIO");
    std::string path = TempPath("env.wav");
    struct Case {
        const char* spec;
        bool opens;
        const char* name;
    };
    std::string wavSpec = "wav:" + path;
    const Case cases[] = {
        {"null", true, "null"},
        {"sdl", true, "null"},  // virtual time is pushed, never pulled by a sound card
        {nullptr, true, "null"},
        {wavSpec.c_str(), true, "wav"},
        {"wav:", false, ""},
        {"wav", false, ""},
        {"wav:/nonexistent-folder/out.wav", false, ""},
        {"alsa", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.spec ? c.spec : "(TONE_AUDIO unset)");
        EXPECT_EQ(AudioOutput_Open(c.spec), c.opens);
        EXPECT_STREQ(AudioOutput_Name(), c.name);
    }
    setenv("TONE_AUDIO", wavSpec.c_str(), 1);
    ASSERT_TRUE(AudioOutput_Open(nullptr));
    EXPECT_STREQ(AudioOutput_Name(), "wav");
    AudioOutput_Close();

    // A device made with no output open opens the default; one that cannot be
    // opened leaves no device.
    setenv("TONE_AUDIO", "null", 1);
    IDirectSound8* ds = nullptr;
    ASSERT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DS_OK);
    EXPECT_STREQ(AudioOutput_Name(), "null");
    ds->Release();
    AudioOutput_Close();
    setenv("TONE_AUDIO", "bogus", 1);
    EXPECT_EQ(DirectSoundCreate8(nullptr, &ds, nullptr), DSERR_NODRIVER);
    EXPECT_EQ(ds, nullptr);
    unsetenv("TONE_AUDIO");
    std::remove(path.c_str());
}

// In real mode, no usable sound device means null, with one warning; the
// null sink still keeps wall-clock time, so cursors move.
TEST(AudioOutput, RealModeFallsBackToNullWithOneWarning) {
    Clock_UseReal();
    unsetenv("TONE_AUDIO");
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(AudioOutput_Open(nullptr));
    EXPECT_STREQ(AudioOutput_Name(), "null");
    ASSERT_TRUE(AudioOutput_Open("sdl"));
    EXPECT_STREQ(AudioOutput_Name(), "null");
    std::string err = testing::internal::GetCapturedStderr();
    size_t first = err.find("unavailable");
    EXPECT_NE(first, std::string::npos) << err;
    EXPECT_EQ(err.find("unavailable", first + 1), std::string::npos) << err;
    {
        TonePlayer player;
        player.Start();
        EXPECT_TRUE(player.WaitForCursor());
    }
    AudioOutput_Close();
    unsetenv("SDL_AUDIODRIVER");
}

// SDL's disk driver writes what its callback pulled: our mix, in real time.
TEST(AudioOutput, SdlBackendPlaysThroughSdlsDiskDriver) {
    Clock_UseReal();
    std::string path = TempPath("sdl_disk.raw");
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
    ASSERT_TRUE(AudioOutput_Open("sdl"));
    ASSERT_STREQ(AudioOutput_Name(), "sdl");
    {
        TonePlayer player;
        player.Start(441.0, 20000.0);
        // Half a second of tone at least.
        for (int i = 0; i < 1000 && ReadAll(path).size() < 44100 * 4 + 2 * 88200; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        AudioOutput_Close();
    }
    unsetenv("SDL_AUDIODRIVER");
    unsetenv("SDL_DISKAUDIOFILE");
    std::vector<uint8_t> raw = ReadAll(path);
    std::remove(path.c_str());
    size_t frames = raw.size() / 4;
    ASSERT_GE(frames, 44100u);
    const int16_t* pcm = reinterpret_cast<const int16_t*>(raw.data());
    // The last 0.25 s: well after the tone started.
    size_t from = frames - 11025;
    for (int ch = 0; ch < 2; ch++) {
        EXPECT_NEAR(Frequency(pcm, from, frames, ch), 441.0, 0.5);
        EXPECT_NEAR(Rms(pcm, from, frames, ch), 20000.0 / std::sqrt(2.0), 30.0);
    }
}
