// Windows-style names mapped to host paths, and the multimedia file calls.
#include <cstdlib>

#include "platform/file.h"
#include "sound_test_util.h"

static std::string Host(const char* name) {
    char out[kHostPathBytes];
    if (!File_HostPath(name, out, sizeof out)) return "<refused>";
    return out;
}

TEST(FileNames, MapsSeparatorsDrivesCaseAndDots) {
    ScratchDir dir;
    WriteBytes("se/door_open.wav", Bytes{1});
    WriteBytes("Data/BGM/Ed01.Ogg", Bytes{2});
    WriteBytes("cdrive/Sound.LOG", Bytes{3});
    setenv("TONE_DRIVE_C", (dir.path + "/cdrive/").c_str(), 1);
    struct Case {
        const char* name;
        std::string host;
    } cases[] = {
        {"se\\Door_Open.WAV", dir.path + "/se/door_open.wav"},
        {"SE\\DOOR_OPEN.wav", dir.path + "/se/door_open.wav"},
        {"data\\bgm\\ED01.ogg", dir.path + "/Data/BGM/Ed01.Ogg"},
        {"c:\\sound.log", dir.path + "/cdrive/Sound.LOG"},
        {"C:sound.log", dir.path + "/cdrive/Sound.LOG"},
        {".\\se\\..\\se\\door_open.wav", dir.path + "/se/door_open.wav"},
        {"se/door_open.wav", dir.path + "/se/door_open.wav"},
        // Missing components keep their case, so a new file gets the name asked for.
        {"se\\New.wav", dir.path + "/se/New.wav"},
        {"Missing\\Sub\\x.wav", dir.path + "/Missing/Sub/x.wav"},
        {dir.path.c_str(), dir.path},
        {"", "<refused>"},
    };
    for (const Case& c : cases) EXPECT_EQ(Host(c.name), c.host) << c.name;
}

TEST(FileNames, DefaultDriveFolderIsPerUser) {
    unsetenv("TONE_DRIVE_D");
    unsetenv("XDG_DATA_HOME");
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(Host("d:\\x.wav"), "/home/someone/.local/share/tonecore/drive_d/x.wav");
    setenv("XDG_DATA_HOME", "/data", 1);
    EXPECT_EQ(Host("D:\\x.wav"), "/data/tonecore/drive_d/x.wav");
}

TEST(FileNames, Cp932NamesBecomeUtf8BeforeBackslashesAreSplit) {
    ScratchDir dir;
    // "表" is 0x95 0x5C in code page 932: its second byte is a backslash.
    WriteBytes("se/\xE8\xA1\xA8.wav", Bytes{7, 8});
    EXPECT_EQ(Host("se\\\x95\x5C.wav"), dir.path + "/se/\xE8\xA1\xA8.wav");
    HMMIO h = mmioOpenA("se\\\x95\x5C.wav", nullptr, MMIO_READ);
    ASSERT_NE(h, nullptr);
    char buf[4];
    EXPECT_EQ(mmioRead(h, buf, 4), 2);
    mmioClose(h, 0);
    // A lone lead byte is not text in that code page.
    EXPECT_EQ(Host("se\\\x95"), "<refused>");
}

TEST(FileNames, MmioReadsSeeksAndReportsPosition) {
    ScratchDir dir;
    Bytes data = Pattern(1000, 3);
    WriteBytes("a.bin", data);
    EXPECT_EQ(mmioOpenA("missing.bin", nullptr, MMIO_READ), nullptr);
    EXPECT_EQ(mmioOpenA(".", nullptr, MMIO_READ), nullptr);  // a folder is not a file
    HMMIO h = mmioOpenA("A.BIN", nullptr, MMIO_READ);
    ASSERT_NE(h, nullptr);
    char buf[16];
    EXPECT_EQ(mmioRead(h, buf, 10), 10);
    EXPECT_EQ(memcmp(buf, data.data(), 10), 0);
    EXPECT_EQ(mmioSeek(h, 5, SEEK_CUR), 15);
    EXPECT_EQ(mmioSeek(h, -4, SEEK_END), 996);
    EXPECT_EQ(mmioRead(h, buf, 16), 4);
    EXPECT_EQ(mmioRead(h, buf, 16), 0);
    EXPECT_EQ(mmioSeek(h, -1, SEEK_SET), -1);
    MMIOINFO info;
    EXPECT_EQ(mmioGetInfo(h, &info, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(info.lBufOffset, 1000);
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(mmioClose(h, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(Mmio_OpenCount(), 0);

    // Write without create keeps the file's bytes; create truncates.
    h = mmioOpenA("a.bin", nullptr, MMIO_WRITE);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(mmioWrite(h, "xy", 2), 2);
    mmioClose(h, 0);
    Bytes now = ReadBytes("a.bin");
    ASSERT_EQ(now.size(), 1000u);
    EXPECT_EQ(now[0], 'x');
    EXPECT_EQ(now[2], data[2]);
    h = mmioOpenA("a.bin", nullptr, MMIO_WRITE | MMIO_CREATE);
    ASSERT_NE(h, nullptr);
    mmioClose(h, 0);
    EXPECT_EQ(ReadBytes("a.bin").size(), 0u);
}
