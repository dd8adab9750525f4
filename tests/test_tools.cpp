// The sound data tools as black boxes: help, errors without partial output,
// archives, sealed files, encoded kinds, and tonecat's view of every kind.
#include "sound_test_util.h"
#include "sources/sound_cipher.h"

static std::string Tool(const char* name) { return ToolPath(name); }


static bool NoOutput(const std::string& path) {
    return !std::filesystem::exists(path) && !std::filesystem::exists(path + ".partial");
}

static int Lines(const std::string& text) {
    int n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

TEST(Tools, HelpAndOneLineErrorsWithoutPartialFiles) {
    ScratchDir dir;
    for (const char* t : {"tonepack", "toneseal", "toneenc", "tonecat"}) {
        std::string out;
        EXPECT_EQ(RunCommand(Tool(t) + " --help", &out), 0) << t;
        EXPECT_NE(out.find("Usage"), std::string::npos) << t;
    }
    WriteBytes("junk.wav", Pattern(300, 1));
    WriteBytes("mono.wav", PcmWavImage(std::vector<int16_t>(1000, 5), 1, 44100));
    struct Case {
        std::string command, output;
    } cases[] = {
        {Tool("tonepack") + " create out.arc missing.wav", "out.arc"},
        {Tool("tonepack") + " list junk.wav", ""},
        {Tool("toneseal") + " encipher junk.wav out.wam", "out.wam"},
        {Tool("toneseal") + " encipher mono.wav out.wav", "out.wav"},  // not an 'm' name
        {Tool("toneseal") + " sign junk.wav out.dc2", "out.dc2"},
        {Tool("toneseal") + " verify junk.wav", ""},
        {Tool("toneenc") + " block mono.wav out.dec", "out.dec"},
        {Tool("toneenc") + " stream junk.wav out.bgm", "out.bgm"},
        {Tool("toneenc") + " block mono.wav", "out.dec"},
        {Tool("tonecat") + " missing.wav -o out.wav", "out.wav"},
        {Tool("tonecat") + " junk.ogg -o out.wav", "out.wav"},
        {Tool("tonecat") + " mono.wav -o out.wav --start 10", "out.wav"},
    };
    for (const Case& c : cases) {
        std::string out;
        EXPECT_NE(RunCommand(c.command, &out), 0) << c.command;
        EXPECT_EQ(Lines(out), 1) << c.command << ": " << out;
        if (!c.output.empty()) {
            EXPECT_TRUE(NoOutput(c.output)) << c.command;
        }
    }
}

TEST(Tools, TonepackRefusesKeyCollisionsAndRoundTrips) {
    ScratchDir dir;
    WriteBytes("in/door_open1.wav", Pattern(10, 1));
    WriteBytes("in2/Door_Opening.WAV", Pattern(20, 2));
    std::string out;
    EXPECT_NE(RunCommand(Tool("tonepack") + " create se.arc in/door_open1.wav in2/Door_Opening.WAV", &out), 0);
    EXPECT_NE(out.find("door_ope.wav"), std::string::npos) << out;
    EXPECT_TRUE(NoOutput("se.arc"));

    WriteBytes("in/door_open1.ogg", Pattern(30, 3));  // same name, other extension: fine
    WriteBytes("in/bell", Pattern(40, 4));            // no extension
    ASSERT_EQ(RunCommand(Tool("tonepack") + " create se.arc in/door_open1.wav in/door_open1.ogg in/bell", &out), 0) << out;
    ASSERT_EQ(RunCommand(Tool("tonepack") + " list se.arc", &out), 0);
    EXPECT_EQ(Lines(out), 3);
    std::filesystem::create_directory("x");
    ASSERT_EQ(RunCommand(Tool("tonepack") + " extract se.arc -C x", &out), 0) << out;
    EXPECT_EQ(ReadBytes("x/door_ope.wav"), Pattern(10, 1));
    EXPECT_EQ(ReadBytes("x/door_ope.ogg"), Pattern(30, 3));
    EXPECT_EQ(ReadBytes("x/bell"), Pattern(40, 4));
    // A damaged index is reported, not followed.
    Bytes bad = ReadBytes("se.arc");
    PutLe32(bad.data() + 4, 1000);
    WriteBytes("bad.arc", bad);
    EXPECT_NE(RunCommand(Tool("tonepack") + " list bad.arc", &out), 0);
}

TEST(Tools, ToneSealEnciphersForTheOutputName) {
    ScratchDir dir;
    Bytes wav = PcmWavImage(TestMusic(500), 2, 44100);
    WriteBytes("door.wav", wav);
    std::string out;
    ASSERT_EQ(RunCommand(Tool("toneseal") + " encipher door.wav se/Door.wam", &out), 1);  // no folder se yet
    std::filesystem::create_directory("se");
    ASSERT_EQ(RunCommand(Tool("toneseal") + " encipher door.wav se/Door.wam", &out), 0) << out;
    EXPECT_EQ(RunCommand(Tool("toneseal") + " verify se/Door.wam", &out), 0) << out;
    // As the effect loader reads it: L = F - 12 bytes, then the trailer.
    Bytes sealed = ReadBytes("se/Door.wam");
    ASSERT_EQ(sealed.size(), wav.size() + 12);
    EXPECT_NE(memcmp(sealed.data(), wav.data(), 44), 0);
    int32_t L = (int32_t)wav.size();
    char name[] = "Door";
    EXPECT_EQ(DecipherSound(sealed.data(), L, name, Le32(sealed.data() + L + 4), Le32(sealed.data() + L + 8)), 1);
    EXPECT_EQ(Bytes(sealed.begin(), sealed.begin() + L), wav);
    std::filesystem::copy_file("se/Door.wam", "se/window.wam");
    EXPECT_EQ(RunCommand(Tool("toneseal") + " verify se/window.wam", &out), 1);
    EXPECT_NE(out.find("failed"), std::string::npos);
}

// Writes NAME's canonical stream with tonecat and returns the WAV image.
static Bytes Cat(const std::string& name, const std::string& extra = "") {
    std::string out;
    EXPECT_EQ(RunCommand(Tool("tonecat") + " '" + name + "' -o cat.wav " + extra, &out), 0) << name << ": " << out;
    Bytes wav = ReadBytes("cat.wav");
    EXPECT_GE(wav.size(), 44u);
    if (wav.size() < 44) return Bytes(44);
    EXPECT_EQ(Le32(wav.data() + 4), (int32_t)wav.size() - 8) << name;
    EXPECT_EQ(Le32(wav.data() + 40) + 44 + (Le32(wav.data() + 40) & 1), (int32_t)wav.size()) << name;
    return wav;
}

TEST(Tools, TonecatShowsEveryKindAsTheEngineReadsIt) {
    ScratchDir dir;
    const uint32_t frames = 2 * 20360 + 3000;
    std::vector<int16_t> music = TestMusic(frames, 3);
    Bytes wav = PcmWavImage(music, 2, 44100);
    WriteBytes("in.wav", wav);
    std::filesystem::create_directory("bgm");
    std::string out;
    ASSERT_EQ(RunCommand(Tool("toneenc") + " block in.wav bgm/ed01.dec", &out), 0) << out;
    ASSERT_EQ(RunCommand(Tool("toneenc") + " stream in.wav bgm/ed02.bgm", &out), 0) << out;
    ASSERT_EQ(RunCommand(Tool("toneseal") + " sign bgm/ed01.dec bgm/ed03.dc2", &out), 0) << out;
    WriteBytes("bgm/ed04.wav", wav);

    // Loose, then from the folder's archive.
    for (int packed = 0; packed < 2; packed++) {
        if (packed) {
            ASSERT_EQ(RunCommand(Tool("tonepack") + " create bgm.arc bgm/ed01.dec bgm/ed02.bgm bgm/ed03.dc2 bgm/ed04.wav", &out), 0);
            std::filesystem::remove_all("bgm");
        }
        Bytes pcmWav = Cat("bgm\\ED04.WAV");
        EXPECT_EQ(pcmWav, wav);
        struct Case {
            const char* name;
            uint32_t atLeast, atMost;  // PCM bytes
        } cases[] = {
            // The last block's length is estimated from its compressed size:
            // at most one padded ADPCM block more than the input.
            {"bgm\\ed01.dec", frames * 4, frames * 4 + 2036 * 4 + 64},
            {"bgm\\ed03.dc2", frames * 4, frames * 4 + 2036 * 4 + 64},
            {"bgm\\ed01.?", frames * 4, frames * 4 + 2036 * 4 + 64},
            {"bgm\\ed02.bgm", 3 * 81440, 3 * 81440},  // whole blocks, the end found by a failed read
        };
        for (const Case& c : cases) {
            Bytes got = Cat(c.name);
            uint32_t data = (uint32_t)Le32(got.data() + 40);
            EXPECT_GE(data, c.atLeast) << c.name;
            EXPECT_LE(data, c.atMost) << c.name;
            EXPECT_EQ(memcmp(got.data() + 8, wav.data() + 8, 32), 0) << c.name;  // the format as the file has it
            if (got.size() < 44 + frames * 4) continue;
            std::vector<int16_t> decoded = Samples(got, 44);
            EXPECT_GT(SnrDb(music.data(), decoded.data(), music.size()), 30.0) << c.name;
        }
        // A range after a seek is the same bytes as in the whole stream.
        Bytes whole = Cat("bgm\\ed02.bgm");
        Bytes part = Cat("bgm\\ed02.bgm", "--start 81000 --bytes 5000");
        ASSERT_EQ(part.size(), 44u + 5000);
        EXPECT_EQ(memcmp(part.data() + 44, whole.data() + 81000, 5000), 0);
    }
}
