// tonerun as a black box: scripts refused whole with their line number,
// results printed per call, the WAV's length, and music that reaches the
// output as the file holds it.
#include "sound_test_util.h"

static std::string Tonerun() { return ToolPath("tonerun"); }

static void WriteText(const std::string& path, const std::string& text) {
    WriteBytes(path, Bytes(text.begin(), text.end()));
}

static bool NoOutput(const std::string& path) {
    return !std::filesystem::exists(path) && !std::filesystem::exists(path + ".partial");
}

// The PCM frames of a 44100 Hz stereo WAV file written by tonerun, after
// checking its header.
static std::vector<int16_t> MixOf(const std::string& path) {
    Bytes wav = ReadBytes(path);
    EXPECT_GE(wav.size(), 44u);
    if (wav.size() < 44) return {};
    EXPECT_EQ(Le32(wav.data() + 24), 44100);
    EXPECT_EQ(wav[22] | wav[23] << 8, 2);
    EXPECT_EQ(Le32(wav.data() + 40), (int32_t)wav.size() - 44);
    return Samples(wav, 44);
}

TEST(Tonerun, RefusesABadScriptWholeWithItsLineNumber) {
    ScratchDir dir;
    WriteBytes("bgm/piece.wav", PcmWavImage(TestMusic(4410), 2, 44100));
    std::string out;
    EXPECT_EQ(RunCommand(Tonerun() + " --help", &out), 0);
    EXPECT_NE(out.find("Usage"), std::string::npos);

    // Each script starts with good lines that would play if it ran early.
    const std::string good = "# a session\n@0 Init()\n@0 PlayB(0,bgm\\piece.wav,0,0,-1,1)\n\n";
    struct Case {
        std::string script;
        int line;
    } cases[] = {
        {good + "@10 Foo(1)\n", 5},
        {good + "@10 PlayB(0,bgm\\piece.wav,0,0,-1)\n", 5},        // an argument short
        {good + "@10 PlayStop(0,1)\n", 5},                          // one too many
        {good + "@5 PlayStop(0)\n@4 PlayStop(0)\n", 6},             // time goes back
        {good + "@10 PlaySE(a.wav,x,0,0,1,0,1)\n", 5},              // not a float
        {good + "@10 SetBGMVol(99999999999)\n", 5},                 // beyond 32 bits
        {good + "@10 SetSEVol(1.5)\n", 5},
        {good + "@10 end\n@10 PlayStop(0)\n", 6},                   // after end
        {good + "10 PlayStop(0)\n", 5},
        {good + "@10PlayStop(0)\n", 5},
        {good + "@10 PlayStop(0\n", 5},
        {good + "@10 PlayB(0,,0,0,-1,1)\n", 5},                     // empty name
        {good + "@99999999999 end\n", 5},                           // beyond a WAV file
        {"@0 Init(1,2)\n", 1},
    };
    for (const Case& c : cases) {
        WriteText("s.txt", c.script);
        EXPECT_NE(RunCommand(Tonerun() + " s.txt -o out.wav", &out), 0) << c.script;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
        EXPECT_NE(out.find("line " + std::to_string(c.line) + ":"), std::string::npos) << c.script << out;
        EXPECT_EQ(out.find("@0 Init"), std::string::npos) << "ran before refusing: " << out;
        EXPECT_TRUE(NoOutput("out.wav")) << c.script;
    }
    EXPECT_NE(RunCommand(Tonerun() + " missing.txt -o out.wav", &out), 0);
    WriteText("s.txt", good);
    EXPECT_NE(RunCommand(Tonerun() + " s.txt -o nofolder/out.wav", &out), 0);
    EXPECT_TRUE(NoOutput("nofolder/out.wav"));
}

TEST(Tonerun, PrintsEachResultAndRendersToTheEndTime) {
    ScratchDir dir;
    WriteText("s.txt",
              "@0 TimeGetTime()\n"
              "@0 Init()\r\n"  // a script saved on Windows
              "  # an indented comment\n"
              "@0 ISetMem(12,21)\n"
              "@3 PlayB(2,bgm\\a,b.wav,0,0,-1,1)\n"  // slot 2 is refused; the name keeps its comma
              "@3 PlayB(0,missing.wav,0,0,-1,1)\n"
              "@7 PlaySE(se\\x.wav,0,0,0,0,0)\n"  // the log's form without position
              "@7 PlaySEB(se\\x.wav,1.5f,-,2e1,2,0,0.5)\n"
              "@7 SetListen(1,0,0,0,0,0,1,0,1,0)\n"
              "@20 SetLoopPos(0,1,2)\n"
              "@20 GetPos(0)\n"
              "@20 TimeGetTime()\n"
              "@25 Release()\n"
              "@1234 end\n");
    std::string out;
    ASSERT_EQ(RunCommand(Tonerun() + " s.txt -o out.wav", &out), 0) << out;
    EXPECT_EQ(out,
              "@0 TimeGetTime() = 0\n"
              "@0 Init() = 1\n"
              "@0 SetMem(12,21) = 1\n"
              "@3 PlayB(2,bgm\\a,b.wav,0,0,-1,1) = 0\n"
              "@3 PlayB(0,missing.wav,0,0,-1,1) = 0\n"
              "@7 PlaySE(se\\x.wav,0,0,0,0,0) = -1\n"
              "@7 PlaySEB(se\\x.wav,1.500000,-,20.000000,2,0,0.500000) = 0\n"
              "@7 SetListen(1.000000,0.000000,0.000000,0.000000,0.000000,0.000000,1.000000,0.000000,1.000000,"
              "0.000000) = 0\n"
              "@20 SetLoopPos(0,1,2)\n"
              "@20 GetPos(0) = 0\n"
              "@20 TimeGetTime() = 100020\n"
              "@25 Release() = 1\n");
    // 44.1 frames a millisecond: 1234 ms are 54419 frames, all silent here.
    std::vector<int16_t> mix = MixOf("out.wav");
    EXPECT_EQ(mix.size(), 2u * 54419);
    EXPECT_TRUE(std::all_of(mix.begin(), mix.end(), [](int16_t s) { return s == 0; }));
    EXPECT_FALSE(std::filesystem::exists("out.wav.partial"));

    // Without end the render runs 2000 ms past the last call.
    WriteText("s.txt", "@0 Init()\n@500 Release()\n");
    ASSERT_EQ(RunCommand(Tonerun() + " s.txt -o out.wav", &out), 0) << out;
    EXPECT_EQ(MixOf("out.wav").size(), 2u * 2500 * 441 / 10);
}

TEST(Tonerun, MusicOnABgmSlotReachesTheOutputAsTheFileHoldsIt) {
    ScratchDir dir;
    const uint32_t frames = 2 * 44100 + 1234;
    std::vector<int16_t> music = TestMusic(frames, 7);
    WriteBytes("bgm/piece.wav", PcmWavImage(music, 2, 44100));
    // The script lies elsewhere; the name resolves against the current folder.
    std::filesystem::create_directory("scripts");
    WriteText("scripts/s.txt", "@0 Init()\n@0 PlayB(0,bgm\\piece.wav,0,0,-1,0)\n@3000 end\n");
    std::string out;
    ASSERT_EQ(RunCommand(Tonerun() + " scripts/s.txt -o out.wav", &out), 0) << out;
    EXPECT_NE(out.find("PlayB(0,bgm\\piece.wav,0,0,-1,0) = 1"), std::string::npos) << out;
    std::vector<int16_t> mix = MixOf("out.wav");
    ASSERT_EQ(mix.size(), 2u * 132300);
    // Level 0 and pan 0 at the output rate: the samples come through bit for bit.
    EXPECT_TRUE(std::equal(music.begin(), music.end(), mix.begin()));
    EXPECT_TRUE(std::all_of(mix.begin() + music.size(), mix.end(), [](int16_t s) { return s == 0; }));
    // The virtual clock makes every run the same.
    ASSERT_EQ(RunCommand(Tonerun() + " scripts/s.txt -o again.wav", &out), 0) << out;
    EXPECT_EQ(ReadBytes("again.wav"), ReadBytes("out.wav"));

    // While the script holds the BGM lock the tick waits: a queued start
    // sounds only after Leave.
    WriteText("s.txt", "@0 Init()\n@0 Enter()\n@0 Play(0,bgm\\piece.wav,0,0,-1,0)\n@500 Leave()\n@1000 end\n");
    ASSERT_EQ(RunCommand(Tonerun() + " s.txt -o held.wav", &out), 0) << out;
    mix = MixOf("held.wav");
    ASSERT_EQ(mix.size(), 2u * 44100);
    const size_t leave = 2 * 22050;
    EXPECT_TRUE(std::all_of(mix.begin(), mix.begin() + leave, [](int16_t s) { return s == 0; }));
    auto first = std::find_if(mix.begin() + leave, mix.end(), [](int16_t s) { return s != 0; });
    ASSERT_NE(first, mix.end());
    // It starts at the first tick after Leave, from the piece's beginning.
    size_t start = (size_t)(first - mix.begin()) & ~(size_t)1;
    EXPECT_LE(start, 2u * 22932);  // by 520 ms
    EXPECT_TRUE(std::equal(mix.begin() + start, mix.begin() + start + 2000, music.begin()));
}
