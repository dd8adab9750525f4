// SoundFile on loose files and on entries of archives made by tonepack.
#include "platform/clock.h"
#include "sound_test_util.h"
#include "sources/sound_file.h"

static void Pack(const std::string& archive, const std::string& files) {
    std::string out;
    ASSERT_EQ(RunCommand(ToolPath("tonepack") + " create " + archive + " " + files, &out), 0) << out;
}

class SoundFileTest : public ::testing::Test {
protected:
    void SetUp() override { Clock_UseVirtual(0); }
    ScratchDir dir;
};

TEST_F(SoundFileTest, LooseFileOpensAtZeroWithItsSize) {
    Bytes data = Pattern(3000, 1);
    WriteBytes("se/door.wav", data);
    SoundFile f = {};
    ASSERT_EQ(f.Open("se\\DOOR.WAV", "rb"), 1);
    EXPECT_EQ(f.loose, -1);
    EXPECT_EQ(f.size, 3000);
    EXPECT_EQ(f.Tell(), 0);
    // A second open fails and leaves the first file readable.
    EXPECT_EQ(f.Open("se\\door.wav", "rb"), 0);
    uint8_t buf[8];
    EXPECT_EQ(f.Read(buf, 2, 4), 8);
    EXPECT_EQ(memcmp(buf, data.data(), 8), 0);
    f.Seek(-10, 2);
    EXPECT_EQ(f.Tell(), 2990);
    f.Close();
    EXPECT_EQ(f.Tell(), 0);
    EXPECT_EQ(f.Open("se\\missing.wav", "rb"), 0);
    EXPECT_EQ(f.handle, nullptr);
}

TEST_F(SoundFileTest, EntryIsPresentedAsAFileOfItsOwn) {
    Bytes a = Pattern(5000, 2), b = Pattern(700, 3);
    WriteBytes("src/ed01.ogg", a);
    WriteBytes("src/title.wav", b);
    Pack("bgm.arc", "src/ed01.ogg src/title.wav");
    SoundFile f = {};
    ASSERT_EQ(f.Open("bgm\\ED01.OGG", "rb"), 1);
    EXPECT_EQ(f.loose, 0);
    EXPECT_EQ(f.size, 5000);
    EXPECT_EQ(f.Tell(), 0);
    uint8_t buf[16];
    EXPECT_EQ(f.Read(buf, 1, 16), 16);
    EXPECT_EQ(memcmp(buf, a.data(), 16), 0);
    EXPECT_EQ(f.Tell(), 16);
    f.Seek(0, 2);  // the entry's end, not the archive's
    EXPECT_EQ(f.Tell(), 5000);
    f.Seek(-4, 1);
    EXPECT_EQ(f.Tell(), 4996);
    f.Seek(100, 0);
    EXPECT_EQ(f.Read(buf, 1, 4), 4);
    EXPECT_EQ(memcmp(buf, a.data() + 100, 4), 0);
    f.Close();

    // Reads are not clamped to the entry: the following archive bytes come next.
    ASSERT_EQ(f.Open("bgm\\title.wav", "rb"), 1);
    Bytes archive = ReadBytes("bgm.arc");
    std::vector<uint8_t> all(800);
    int32_t got = f.Read(all.data(), 1, 800);
    EXPECT_EQ(got, std::min<int32_t>(800, (int32_t)archive.size() - f.base));
    EXPECT_EQ(memcmp(all.data(), b.data(), 700), 0);
    f.Close();
}

TEST_F(SoundFileTest, ArchiveDecidesAloneAndArcBeatsDat) {
    WriteBytes("src/one.wav", Pattern(100, 4));
    WriteBytes("src/two.wav", Pattern(200, 5));
    Pack("se.dat", "src/two.wav");
    WriteBytes("se/one.wav", Pattern(100, 4));  // a loose copy beside the archive
    SoundFile f = {};
    EXPECT_EQ(f.Open("se\\one.wav", "rb"), 0);  // not in se.dat: the loose copy is not tried
    EXPECT_EQ(f.handle, nullptr);
    ASSERT_EQ(f.Open("se\\two.wav", "rb"), 1);
    EXPECT_EQ(f.size, 200);
    f.Close();
    Pack("se.arc", "src/one.wav");
    EXPECT_EQ(f.Open("se\\two.wav", "rb"), 0);  // se.arc alone is consulted now
    ASSERT_EQ(f.Open("se\\one.wav", "rb"), 1);
    EXPECT_EQ(f.size, 100);
    f.Close();
    EXPECT_EQ(Mmio_OpenCount(), 0);
}

TEST_F(SoundFileTest, NameWithoutFolderUsesArchivesNamedDotArc) {
    WriteBytes("door.wav", Pattern(10, 6));
    SoundFile f = {};
    ASSERT_EQ(f.Open("door.wav", "rb"), 1);  // no ".arc" nor ".dat": the loose file
    EXPECT_EQ(f.loose, -1);
    f.Close();
    WriteBytes("src/bell.wav", Pattern(20, 7));
    Pack(".arc", "src/bell.wav");
    EXPECT_EQ(f.Open("door.wav", "rb"), 0);
    ASSERT_EQ(f.Open("bell.wav", "rb"), 1);
    EXPECT_EQ(f.loose, 0);
    f.Close();
}

TEST_F(SoundFileTest, LongEntryReadsAreCutInto512KiBPieces) {
    Bytes big = Pattern(5 * 1024 * 1024 + 10, 8);
    WriteBytes("src/long.ogg", big);
    Pack("bgm.arc", "src/long.ogg");
    WriteBytes("bgm2/long.ogg", big);
    struct Case {
        const char* name;
        int32_t count;
        int reads;
    } cases[] = {
        {"bgm\\long.ogg", 524288, 1},
        {"bgm\\long.ogg", 524289, 2},
        {"bgm\\long.ogg", 5 * 1024 * 1024, 10},
        {"bgm2\\long.ogg", 524289, 1},  // loose reads are never cut
        {"bgm2\\long.ogg", 5 * 1024 * 1024, 1},
    };
    std::vector<uint8_t> buf(big.size());
    for (const Case& c : cases) {
        SoundFile f = {};
        ASSERT_EQ(f.Open(c.name, "rb"), 1);
        int before = Mmio_ReadCount();
        EXPECT_EQ(f.Read(buf.data(), 1, c.count), c.count) << c.name << " " << c.count;
        EXPECT_EQ(Mmio_ReadCount() - before, c.reads) << c.name << " " << c.count;
        EXPECT_EQ(memcmp(buf.data(), big.data(), c.count), 0);
        f.Close();
    }
}

TEST_F(SoundFileTest, WriteAndAppendModes) {
    SoundFile f = {};
    EXPECT_EQ(f.Open("out\\new.log", "ab"), 0);  // append does not create
    std::filesystem::create_directory("out");
    ASSERT_EQ(f.Open("out\\new.log", "wb"), 1);
    EXPECT_EQ(f.loose, -1);
    f.Close();
    EXPECT_TRUE(std::filesystem::exists("out/new.log"));
    WriteBytes("out/old.log", Pattern(33, 9));
    ASSERT_EQ(f.Open("out\\OLD.log", "ab"), 1);
    EXPECT_EQ(f.Tell(), 33);
    f.Close();
    ASSERT_EQ(f.Open("out\\old.log", "wb"), 1);  // the existing file is kept as it is
    f.Close();
    EXPECT_EQ(ReadBytes("out/old.log").size(), 33u);
}
