// The archive index: name splitting, keys, and lookups in good and damaged
// archives.
#include "sound_test_util.h"
#include "sources/sound_archive.h"
#include "sources/sound_file.h"

TEST(ArchiveIndex, SplitsNamesIntoFolderAndKeys) {
    struct Case {
        const char* name;
        const char* folder;
        const char nameKey[9];
        const char extKey[5];
    } cases[] = {
        {"bgm\\ed01.ogg", "bgm", "ed01\0\0\0\0", "ogg\0"},
        {"se\\Door_Open.WAV", "se", "door_ope", "wav\0"},
        {"data\\bgm\\ed01.ogg", "data\\bgm", "ed01\0\0\0\0", "ogg\0"},
        {"bgm\\ed01.old.ogg", "bgm", "ed01\0\0\0\0", "old\0"},
        {"bgm\\ed01", "bgm", "ed01\0\0\0\0", "\0\0\0\0"},
        {"ed01.wave", "", "ed01\0\0\0\0", "wave"},
        {"se\\a b.wav", "se", "a\0\0\0\0\0\0\0", "b\0\0\0"},  // a space ends a word too
        {"se\\.wav", "se", "wav\0\0\0\0\0", "\0\0\0\0"},
        {"se\\", "se", "\0\0\0\0\0\0\0\0", "\0\0\0\0"},
        {"se\\\x82\xA0.WAV", "se", "\x82\xA0\0\0\0\0\0\0", "wav\0"},  // only A-Z are lowered
    };
    for (const Case& c : cases) {
        char folder[kArchiveNameBytes];
        uint8_t nameKey[8], extKey[4];
        ASSERT_EQ(Archive_SplitName(c.name, folder, sizeof folder, nameKey, extKey), 1) << c.name;
        EXPECT_STREQ(folder, c.folder) << c.name;
        EXPECT_EQ(memcmp(nameKey, c.nameKey, 8), 0) << c.name;
        EXPECT_EQ(memcmp(extKey, c.extKey, 4), 0) << c.name;
    }
    char arc[300];
    ASSERT_EQ(Archive_CandidateName("data\\Bgm", 0, arc, sizeof arc), 1);
    EXPECT_STREQ(arc, "data\\Bgm.arc");
    ASSERT_EQ(Archive_CandidateName("", 1, arc, sizeof arc), 1);
    EXPECT_STREQ(arc, ".dat");
    std::string tooLong(kArchiveNameBytes, 'a');
    char folder[kArchiveNameBytes];
    uint8_t k8[8], k4[4];
    EXPECT_EQ(Archive_SplitName(tooLong.c_str(), folder, sizeof folder, k8, k4), 0);
}

// An archive image built by hand: groups of (extKey, entries of (nameKey, size, offset)).
struct HandEntry {
    const char* key;
    int32_t size, offset;
};
static Bytes Index(int32_t groupCount, const std::vector<std::pair<const char*, std::vector<HandEntry>>>& groups,
                   size_t pad = 0) {
    Bytes b(8 + 12 * groups.size());
    PutLe32(b.data() + 4, (uint32_t)groupCount);
    for (size_t g = 0; g < groups.size(); g++) {
        memcpy(b.data() + 8 + 12 * g, groups[g].first, 4);
        PutLe32(b.data() + 8 + 12 * g + 4, (uint32_t)b.size());
        PutLe32(b.data() + 8 + 12 * g + 8, (uint32_t)groups[g].second.size());
        for (const HandEntry& e : groups[g].second) {
            uint8_t rec[16] = {};
            memcpy(rec, e.key, strnlen(e.key, 8));
            PutLe32(rec + 8, (uint32_t)e.size);
            PutLe32(rec + 12, (uint32_t)e.offset);
            b.insert(b.end(), rec, rec + 16);
        }
    }
    b.resize(b.size() + pad, 0xEE);
    return b;
}

static int32_t OpenSize(const char* name) {
    SoundFile f = {};
    if (!f.Open(name, "rb")) return -1;
    int32_t size = f.size;
    f.Close();
    return size;
}

TEST(ArchiveIndex, FirstMatchWinsAndKeysAreTruncated) {
    ScratchDir dir;
    WriteBytes("se.arc", Index(2, {{"wav\0", {{"door", 1, 40}, {"longname", 2, 40}, {"door", 3, 40}}},
                                   {"wave", {{"door", 4, 40}}}},
                               100));
    EXPECT_EQ(OpenSize("se\\door.wav"), 1);
    EXPECT_EQ(OpenSize("se\\DOOR.WAV"), 1);
    EXPECT_EQ(OpenSize("se\\LongNameOfMany.wav"), 2);
    EXPECT_EQ(OpenSize("se\\door.waveform"), 4);
    EXPECT_EQ(OpenSize("se\\door.wa"), -1);
    EXPECT_EQ(OpenSize("se\\door"), -1);
}

TEST(ArchiveIndex, DamagedIndexesYieldNotFound) {
    ScratchDir dir;
    struct Case {
        const char* what;
        Bytes image;
    } cases[] = {
        {"empty file", Bytes{}},
        {"header only", Bytes(8, 0)},
        {"zero groups", Index(0, {{"wav\0", {{"door", 1, 8}}}})},
        {"negative group count", Index(-5, {{"wav\0", {{"door", 1, 8}}}})},
        {"group count past the end", Index(0x7FFFFFFF, {{"ogg\0", {}}})},
        {"matching group without entries", Index(1, {{"wav\0", {}}})},
        {"entry count past the end", Index(1, {{"wav\0", {{"x", 1, 8}}}})},
    };
    // Raise the entry count of the last case far beyond the file.
    PutLe32(cases[6].image.data() + 16, 0xFFFFFFFFu);
    for (const Case& c : cases) {
        WriteBytes("se.arc", c.image);
        EXPECT_EQ(OpenSize("se\\door.wav"), -1) << c.what;
        EXPECT_EQ(Mmio_OpenCount(), 0) << c.what;
    }
    // A table or entry offset outside the file: not found, or an entry that reads short.
    Bytes bad = Index(1, {{"wav\0", {{"door", 10, 8}}}});
    PutLe32(bad.data() + 12, 0x7FFFFF00u);
    WriteBytes("se.arc", bad);
    EXPECT_EQ(OpenSize("se\\door.wav"), -1);
    WriteBytes("se.arc", Index(1, {{"wav\0", {{"door", 100, 0x10000000}}}}));
    SoundFile f = {};
    ASSERT_EQ(f.Open("se\\door.wav", "rb"), 1);
    uint8_t buf[100];
    EXPECT_EQ(f.Read(buf, 1, 100), 0);
    f.Close();
    WriteBytes("se.arc", Index(1, {{"wav\0", {{"door", 100, -8}}}}));
    EXPECT_EQ(OpenSize("se\\door.wav"), -1);
}
