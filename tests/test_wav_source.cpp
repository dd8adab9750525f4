// The PCM WAV kind of SoundSource: the header as served, the data chunk scan,
// and canonical positions against file offsets.
#include "sound_test_util.h"
#include "sources/sound_source.h"

static Bytes WavWithChunk(const Bytes& pcm, const char* id, size_t chunkLen) {
    WavHeader h = WavHeader_Make(2, 44100, 16, (uint32_t)pcm.size());
    Bytes out((uint8_t*)&h, (uint8_t*)&h + 36);
    if (id) {
        uint8_t head[8];
        memcpy(head, id, 4);
        PutLe32(head + 4, (uint32_t)chunkLen);
        out.insert(out.end(), head, head + 8);
        out.resize(out.size() + chunkLen, 'z');
    }
    out.insert(out.end(), (uint8_t*)&h + 36, (uint8_t*)&h + 44);
    out.insert(out.end(), pcm.begin(), pcm.end());
    return out;
}

class WavSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        memset(&source, 0, sizeof source);
        source.Reset();
    }
    void TearDown() override {
        source.Close();
        source.Destroy();
    }
    ScratchDir dir;
    SoundSource source;
};

TEST_F(WavSourceTest, CanonicalFileServesItsOwnHeaderAndPcm) {
    Bytes pcm = Pattern(4000, 1);
    Bytes file = WavWithChunk(pcm, nullptr, 0);
    WriteBytes("se/door.wav", file);
    ASSERT_EQ(source.Open("se\\door.wav"), 1);
    EXPECT_EQ(source.isPcmWave, 1);
    EXPECT_EQ(source.extraHeader, 0);
    EXPECT_EQ(source.totalSize, 4000u);
    uint8_t header[44];
    ASSERT_EQ(source.Read(header, 44), 1);
    EXPECT_EQ(memcmp(header, file.data(), 44), 0);
    EXPECT_EQ(Le32(header + 40), 4000);
    EXPECT_EQ(source.readPos, 44u);
    uint8_t buf[100];
    ASSERT_EQ(source.Read(buf, 100), 1);
    EXPECT_EQ(memcmp(buf, pcm.data(), 100), 0);
    EXPECT_EQ(source.Tell(), 144u);
    source.Seek(1000);
    EXPECT_EQ(source.Tell(), 1000u);
    ASSERT_EQ(source.Read(buf, 100), 1);
    EXPECT_EQ(memcmp(buf, pcm.data() + 956, 100), 0);
    EXPECT_EQ(source.Close(), 1);
    EXPECT_EQ(source.Close(), 0);
    EXPECT_EQ(source.Read(buf, 100), 0);  // not open
}

TEST_F(WavSourceTest, ChunkBeforeDataShiftsTheFileOffsets) {
    Bytes pcm = Pattern(1000, 2);
    WriteBytes("se/list.wav", WavWithChunk(pcm, "LIST", 18));  // 26 bytes with its head
    ASSERT_EQ(source.Open("se\\list.wav"), 1);
    EXPECT_EQ(source.extraHeader, 26);
    EXPECT_EQ(source.totalSize, 1000u);
    uint8_t header[44];
    source.Seek(0);
    ASSERT_EQ(source.Read(header, 44), 1);
    EXPECT_EQ(Le32(header + 40), 1000);  // the data length, found behind the chunk
    EXPECT_EQ(header[22], 2);            // the format fields as the file has them
    source.Seek(44);
    EXPECT_EQ(source.file.Tell(), 70);
    EXPECT_EQ(source.Tell(), 44u);
    uint8_t buf[8];
    ASSERT_EQ(source.Read(buf, 8), 1);
    EXPECT_EQ(memcmp(buf, pcm.data(), 8), 0);
}

TEST_F(WavSourceTest, DataTagMustEndWithinTheFirst120Bytes) {
    struct Case {
        size_t chunkLen;  // "data" ends at 36 + 8 + chunkLen + 3
        int32_t opens;
    } cases[] = {{72, 1}, {73, 0}, {200, 0}};
    for (const Case& c : cases) {
        WriteBytes("se/far.wav", WavWithChunk(Pattern(100, 3), "junk", c.chunkLen));
        EXPECT_EQ(source.Open("se\\far.wav"), c.opens) << c.chunkLen;
        if (c.opens) {
            EXPECT_EQ(source.extraHeader, (int32_t)(8 + c.chunkLen));
        }
        source.Close();
        EXPECT_EQ(Mmio_OpenCount(), 0);
    }
}

TEST_F(WavSourceTest, OddFilesStayInsideTheirBuffers) {
    // A header read with a small buffer gets only what it asked for.
    WriteBytes("se/a.wav", WavWithChunk(Pattern(50, 4), nullptr, 0));
    ASSERT_EQ(source.Open("se\\a.wav"), 1);
    uint8_t small[8 + 4];
    memset(small, 0xAB, sizeof small);
    ASSERT_EQ(source.Read(small, 8), 1);
    EXPECT_EQ(memcmp(small, "RIFF", 4), 0);
    for (int i = 8; i < 12; i++) EXPECT_EQ(small[i], 0xAB);
    source.Close();

    // A file that ends right after its "data" tag has no PCM rather than a
    // length that wraps around.
    Bytes cut = {'x', 'x', 'd', 'a', 't', 'a'};
    WriteBytes("se/cut.wav", cut);
    ASSERT_EQ(source.Open("se\\cut.wav"), 1);
    EXPECT_EQ(source.totalSize, 0u);
    source.Close();
    WriteBytes("se/empty.wav", Bytes{});
    EXPECT_EQ(source.Open("se\\empty.wav"), 0);
}
