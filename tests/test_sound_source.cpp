// SoundSource: kind dispatch, codec resources, and the block ADPCM, signed
// block ADPCM and ADPCM stream kinds on files written by toneenc and toneseal.
#include "engine/tracked_alloc.h"
#include "platform/codec/msadpcm.h"
#include "sound_test_util.h"
#include "sources/sound_cipher.h"
#include "sources/sound_source.h"

constexpr uint32_t kBlock = kAdpcmBlockPcmBytes;

static std::vector<int16_t> MakeInput(const std::string& path, uint32_t frames, uint32_t seed = 1) {
    std::vector<int16_t> music = TestMusic(frames, seed);
    WriteBytes(path, PcmWavImage(music, 2, 44100));
    return music;
}

static void Encode(const char* kind, const std::string& in, const std::string& out) {
    std::string text;
    ASSERT_EQ(RunCommand(ToolPath("toneenc") + " " + kind + " " + in + " " + out, &text), 0) << text;
}

class SourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        memset(&source, 0, sizeof source);
        source.Reset();
        ASSERT_EQ(source.PrepareCodecs(0), 1);
        Acm_ResetCounters();
    }
    void TearDown() override {
        source.Close();
        source.Destroy();
        EXPECT_EQ(Mmio_OpenCount(), 0);
        EXPECT_EQ(Acm_OpenStreamCount(), 0);
    }
    // Reads [from, from + n) after a seek.
    Bytes ReadAt(uint32_t from, uint32_t n, int32_t* result = nullptr) {
        Bytes b(n, 0xCD);
        source.Seek(from);
        int32_t r = source.Read(b.data(), n);
        if (result) *result = r;
        return b;
    }
    ScratchDir dir;
    SoundSource source;
};

TEST_F(SourceTest, KindIsChosenByTheLastCharacter) {
    Bytes wav = PcmWavImage(TestMusic(100), 2, 44100);
    for (const char* name : {"a/x.wav", "a/x.WAV", "a/x.Wav", "a/y.wav"}) WriteBytes(name, wav);
    MakeInput("in.wav", 5000);
    Encode("block", "in.wav", "a/y.dec");
    Encode("block", "in.wav", "a/z.dec");
    Encode("stream", "in.wav", "a/s.wam");  // an 'm' name is an ADPCM stream to the source
    WriteBytes("a/x.mp3", Pattern(1000, 1));
    WriteBytes("a/x.ogg", Pattern(1000, 1));
    struct Case {
        const char* name;
        int32_t opens, isPcmWave, isBlockAdpcm, kind;
    } cases[] = {
        {"a\\x.wav", 1, 1, 0, 0}, {"a\\x.WAV", 1, 1, 0, 0}, {"a\\x.Wav", 1, 1, 0, 0},
        {"a\\y.dec", 1, 0, 1, 0}, {"a\\y.DEC", 1, 0, 1, 0},
        {"a\\y.?", 1, 1, 0, 0},  // both present: the wav file
        {"a\\z.?", 1, 0, 1, 0},  // only the dec file
        {"a\\q.?", 0, 0, 0, 0},  // neither
        {"a\\s.wam", 1, 0, 0, 0},
        {"a\\x.mp3", 0, 0, 0, kSourceKindMpeg},    // not built yet
        {"a\\x.OGG", 0, 0, 0, kSourceKindVorbis},  // not built yet
        {"a\\x.wav", 1, 1, 0, 0},  // after a refused kind, a wav opens with kind 0 again
        {"", 0, 0, 0, 0},
        {"?", 0, 0, 0, 0},
        {nullptr, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const char* label = c.name ? c.name : "(null)";
        EXPECT_EQ(source.Open(c.name), c.opens) << label;
        EXPECT_EQ(source.isPcmWave, c.isPcmWave) << label;
        EXPECT_EQ(source.isBlockAdpcm, c.isBlockAdpcm) << label;
        EXPECT_EQ(source.kind, c.kind) << label;
        EXPECT_EQ(source.Close(), c.opens) << label;
    }
    // The '?' names are found in the folder's archive too.
    std::string text;
    ASSERT_EQ(RunCommand(ToolPath("tonepack") + " create b.arc a/z.dec", &text), 0) << text;
    EXPECT_EQ(source.Open("b\\z.?"), 1);
    EXPECT_EQ(source.isBlockAdpcm, 1);
}

TEST_F(SourceTest, CodecResourcesComeFromTheTrackedAllocator) {
    SoundSource other;
    memset(&other, 0, sizeof other);
    int before = Tracked_LiveCount();
    EXPECT_EQ(other.PrepareCodecs(1), 0);
    EXPECT_EQ(other.codecsReady, 0);
    EXPECT_EQ(other.pcmBuffer, nullptr);
    EXPECT_EQ(Tracked_LiveCount(), before);
    EXPECT_EQ(other.ReleaseCodecs(), 0);
    ASSERT_EQ(other.PrepareCodecs(0), 1);
    EXPECT_EQ(Tracked_LiveCount(), before + 6);
    EXPECT_EQ(other.blockSrcFormat->wFormatTag, WAVE_FORMAT_ADPCM);
    EXPECT_EQ(other.blockSrcFormat->nBlockAlign, 2048);
    EXPECT_EQ(other.streamDstFormat->nChannels, 2);
    EXPECT_EQ(other.streamSrcFormat->nAvgBytesPerSec, 44359u);
    EXPECT_EQ(other.blockHeader.cbStruct, 84u);
    EXPECT_EQ(other.blockHeader.cbSrcLength, kCodecSrcBytes);
    EXPECT_EQ(other.blockHeader.cbDstLength, kCodecDstBytes);
    EXPECT_EQ(adpcmCodecMissing, 0);
    EXPECT_EQ(other.ReleaseCodecs(), 1);
    EXPECT_EQ(other.codecsReady, 0);
    EXPECT_EQ(Tracked_LiveCount(), before);
    EXPECT_EQ(other.ReleaseCodecs(), 0);
}

TEST_F(SourceTest, MissingCodecRaisesTheFlagAndAdpcmReadsFail) {
    MakeInput("in.wav", 3000);
    Encode("block", "in.wav", "a.dec");
    SoundSource other;
    memset(&other, 0, sizeof other);
    Acm_SetCodecInstalled(false);
    ASSERT_EQ(other.PrepareCodecs(0), 1);
    EXPECT_EQ(adpcmCodecMissing, 1);
    EXPECT_EQ(other.blockSrcFormat->wFormatTag, WAVE_FORMAT_ADPCM);
    EXPECT_EQ(other.blockSrcFormat->nChannels, 0);  // only its tag
    ASSERT_EQ(other.Open("a.dec"), 1);
    Bytes buf(1000);
    other.Seek(44);
    EXPECT_EQ(other.Read(buf.data(), 1000), 0);
    other.Close();
    other.Destroy();
    Acm_SetCodecInstalled(true);
    // A source whose codecs were only cleared opens ADPCM files but cannot decode them.
    SoundSource bare;
    memset(&bare, 0, sizeof bare);
    bare.PrepareCodecs(1);
    ASSERT_EQ(bare.Open("a.dec"), 1);
    bare.Seek(44);
    EXPECT_EQ(bare.Read(buf.data(), 1000), 0);
    bare.Close();
}

// Concatenates the ADPCM data of a block file into an ADPCM WAV for ffmpeg.
static Bytes AdpcmDataOf(const Bytes& blockFile) {
    Bytes data;
    size_t at = 44;
    while (at + 8 <= blockFile.size()) {
        uint32_t len = (uint32_t)Le32(blockFile.data() + at);
        data.insert(data.end(), blockFile.begin() + at + 8, blockFile.begin() + at + 8 + len);
        at += 8 + len;
    }
    return data;
}

TEST_F(SourceTest, BlockAdpcmDecodesLikeFfmpegAndNearTheInput) {
    const uint32_t frames = 3 * 20360 + 5000;
    std::vector<int16_t> input = MakeInput("in.wav", frames);
    Encode("block", "in.wav", "ed01.dec");
    Bytes file = ReadBytes("ed01.dec");
    ASSERT_EQ(source.Open("ed01.dec"), 1);
    EXPECT_EQ(source.blockSize, 20480);
    EXPECT_EQ(source.totalSize, (uint32_t)((int64_t)(file.size() - 44) * kBlock / 20488 + 44));

    uint8_t header[44];
    ASSERT_EQ(source.Read(header, 44), 1);
    EXPECT_EQ(memcmp(header, file.data(), 44), 0);
    EXPECT_EQ(source.decodePos, 0u);
    EXPECT_EQ(source.readPos, 0u);

    uint32_t pcmBytes = frames * 4;
    Bytes all = ReadAt(44, pcmBytes);
    EXPECT_EQ(source.Tell(), 44 + pcmBytes);
    std::vector<int16_t> decoded = Samples(all);
    EXPECT_GT(SnrDb(input.data(), decoded.data(), input.size()), 30.0);

    // The same ADPCM data through ffmpeg's decoder: every sample equal.
    ADPCMWAVEFORMAT fmt;
    MsAdpcm_Format(&fmt, 44100, 2);
    Bytes data = AdpcmDataOf(file);
    Bytes wav = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    uint8_t len[4];
    PutLe32(len, sizeof fmt);
    wav.insert(wav.end(), len, len + 4);
    wav.insert(wav.end(), (uint8_t*)&fmt, (uint8_t*)&fmt + sizeof fmt);
    wav.insert(wav.end(), {'d', 'a', 't', 'a'});
    PutLe32(len, (uint32_t)data.size());
    wav.insert(wav.end(), len, len + 4);
    wav.insert(wav.end(), data.begin(), data.end());
    PutLe32(wav.data() + 4, (uint32_t)wav.size() - 8);
    WriteBytes("ff.wav", wav);
    std::string text;
    ASSERT_EQ(RunCommand("ffmpeg -nostdin -loglevel error -y -i ff.wav -f s16le ff.raw", &text), 0) << text;
    std::vector<int16_t> ff = Samples(ReadBytes("ff.raw"));
    ASSERT_GE(ff.size(), decoded.size());
    EXPECT_EQ(memcmp(ff.data(), decoded.data(), decoded.size() * 2), 0);
}

TEST_F(SourceTest, BlockAdpcmSeekDecodesOneBlockAndCopiesItsPart) {
    MakeInput("in.wav", 5 * 20360);
    Encode("block", "in.wav", "ed01.dec");
    ASSERT_EQ(source.Open("ed01.dec"), 1);
    Bytes whole = ReadAt(44, 5 * kBlock);
    EXPECT_EQ(source.totalSize, 44 + 5 * kBlock);
    Acm_ResetCounters();
    Bytes part = ReadAt(44 + kBlock * 3 + 100, 1000);
    EXPECT_EQ(Acm_ConvertCount(), 1);
    EXPECT_EQ(memcmp(part.data(), whole.data() + kBlock * 3 + 100, 1000), 0);
    EXPECT_EQ(source.Tell(), 44 + kBlock * 3 + 1100);
    EXPECT_EQ(source.readPos, 44 + kBlock * 3 + 1100);
    // Across a block boundary: two conversions.
    Acm_ResetCounters();
    part = ReadAt(44 + kBlock - 10, 30);
    EXPECT_EQ(Acm_ConvertCount(), 2);
    EXPECT_EQ(memcmp(part.data(), whole.data() + kBlock - 10, 30), 0);
    // At totalSize the read stops: the destination is left as it was.
    int32_t r;
    part = ReadAt(source.totalSize, 16, &r);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(part, Bytes(16, 0xCD));
    EXPECT_EQ(source.Tell(), source.totalSize);
}

TEST_F(SourceTest, ShortLastBlockDecodesToSilenceNotStaleBytes) {
    // Block 0 is full (20480 compressed bytes); block 1 holds one ADPCM block.
    MakeInput("in.wav", 20360 + 2036);
    Encode("block", "in.wav", "ed01.dec");
    ASSERT_EQ(source.Open("ed01.dec"), 1);
    ReadAt(44, kBlock);  // leaves block 0's bytes in the source buffer
    Bytes tail = ReadAt(44 + kBlock, kBlock);
    size_t nonzero = 0;
    for (size_t i = 2036 * 4; i < tail.size(); i++) nonzero += tail[i] != 0;
    EXPECT_EQ(nonzero, 0u);
    EXPECT_NE(tail[100], 0);
}

TEST_F(SourceTest, DamagedBlockFilesAreRefusedOrStop) {
    MakeInput("in.wav", 2 * 20360);
    Encode("block", "in.wav", "good.dec");
    Bytes good = ReadBytes("good.dec");
    struct Case {
        int32_t firstLength;
        int32_t opens;
    } cases[] = {{0, 0}, {-8, 0}, {-1, 0}, {20481, 0}, {0x7FFFFFFF, 0}, {100, 1}};
    for (const Case& c : cases) {
        Bytes bad = good;
        PutLe32(bad.data() + 44, (uint32_t)c.firstLength);
        WriteBytes("bad.dec", bad);
        EXPECT_EQ(source.Open("bad.dec"), c.opens) << c.firstLength;
        if (c.opens) {
            // Block 1 is looked for in the wrong place: its length reads as garbage
            // above 20480, or as data; either way nothing past the buffers.
            Bytes b = ReadAt(44 + kBlock, 5000);
            EXPECT_LE(source.Tell(), 44 + kBlock + 5000);
        }
        source.Close();
    }
    WriteBytes("short.dec", Bytes(good.begin(), good.begin() + 46));
    EXPECT_EQ(source.Open("short.dec"), 0);
    // A block whose length field exceeds 20480 ends the read.
    Bytes big = good;
    PutLe32(big.data() + 44 + 20488, 20481);
    WriteBytes("big.dec", big);
    ASSERT_EQ(source.Open("big.dec"), 1);
    int32_t r;
    ReadAt(44 + kBlock, 100, &r);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(source.Tell(), 44 + kBlock);
}

TEST_F(SourceTest, SignedBlockAdpcmOpensOnlyUnderItsName) {
    MakeInput("in.wav", 20360 + 500);
    Encode("block", "in.wav", "plain.dec");
    std::filesystem::create_directory("bgm");
    std::string text;
    ASSERT_EQ(RunCommand(ToolPath("toneseal") + " sign plain.dec bgm/Title.dc2", &text), 0) << text;
    ASSERT_EQ(source.Open("plain.dec"), 1);
    Bytes plain = ReadAt(44, 2 * kBlock);
    source.Close();

    ASSERT_EQ(source.Open("bgm\\TITLE.dc2"), 1);  // case does not matter
    EXPECT_EQ(source.dataStart, 16);
    EXPECT_EQ(source.isBlockAdpcm, 1);
    uint8_t header[44];
    source.Seek(0);
    ASSERT_EQ(source.Read(header, 44), 1);
    EXPECT_EQ(memcmp(header, "RIFF", 4), 0);
    EXPECT_EQ(ReadAt(44, 2 * kBlock), plain);
    source.Close();

    Bytes signedFile = ReadBytes("bgm/Title.dc2");
    WriteBytes("bgm/other.dc2", signedFile);
    EXPECT_EQ(source.Open("bgm\\other.dc2"), 0);
    EXPECT_EQ(Mmio_OpenCount(), 0);

    // Filler between the header and the image: keyedOffset is the distance XOR signatureXor.
    Bytes filled(signedFile.begin(), signedFile.begin() + 16);
    int32_t xr = Le32(filled.data() + 4);
    PutLe32(filled.data() + 12, (uint32_t)(100 ^ xr));
    filled.resize(116, 0x55);
    filled.insert(filled.end(), signedFile.begin() + 16, signedFile.end());
    WriteBytes("bgm/title.dc2", filled);
    ASSERT_EQ(source.Open("bgm\\title.dc2"), 1);
    EXPECT_EQ(source.dataStart, 116);
    EXPECT_EQ(ReadAt(44, 2 * kBlock), plain);
    source.Close();
    // A distance that points before the header or out of range is refused.
    PutLe32(filled.data() + 12, (uint32_t)(-100 ^ xr));
    WriteBytes("bgm/title.dc2", filled);
    EXPECT_EQ(source.Open("bgm\\title.dc2"), 0);
}

TEST_F(SourceTest, AdpcmStreamServesTheSameBytesWhateverTheReadPattern) {
    const uint32_t frames = 3 * 20360 + 7000;
    std::vector<int16_t> input = MakeInput("in.wav", frames);
    Encode("stream", "in.wav", "bgm.bgm");
    Bytes file = ReadBytes("bgm.bgm");
    ASSERT_EQ(source.Open("bgm.bgm"), 1);
    EXPECT_EQ(source.totalSize, (uint32_t)file.size() * 11);
    uint8_t header[44];
    ASSERT_EQ(source.Read(header, 44), 1);
    EXPECT_EQ(memcmp(header, file.data(), 44), 0);
    EXPECT_EQ(source.decodePos, 44u);

    // Sequential one-second reads, as the BGM refill makes them, until the
    // stream ends: the last read fails and the position tells how far it got.
    Bytes seq;
    for (int i = 0; i < 10; i++) {
        Bytes b(176400);
        uint32_t before = source.Tell();
        int32_t r = source.Read(b.data(), (uint32_t)b.size());
        seq.insert(seq.end(), b.begin(), b.begin() + (source.Tell() - before));
        if (!r) break;
    }
    EXPECT_EQ(seq.size(), 4 * kBlock);
    ASSERT_GE(seq.size(), frames * 4);
    std::vector<int16_t> decoded = Samples(seq);
    EXPECT_GT(SnrDb(input.data(), decoded.data(), input.size()), 30.0);

    struct Case {
        uint32_t from, n;
    } cases[] = {
        {44, 10},  {44, kBlock},          {44 + kBlock, 100},        {44 + kBlock - 7, 20},
        {44 + 500, 2 * kBlock + 3},       {44 + 2 * kBlock, kBlock}, {44 + 3 * kBlock + 1, 900},
    };
    for (const Case& c : cases) {
        Bytes got = ReadAt(c.from, c.n);
        EXPECT_EQ(memcmp(got.data(), seq.data() + (c.from - 44), c.n), 0) << c.from << "+" << c.n;
        EXPECT_EQ(source.Tell(), c.from + c.n);
    }
    // Pieces that leave part of a block pending, then continue.
    source.Seek(44 + 300);
    Bytes pieces;
    for (uint32_t n : {1000u, 80000u, 700u, 90000u}) {
        Bytes b(n);
        ASSERT_EQ(source.Read(b.data(), n), 1);
        pieces.insert(pieces.end(), b.begin(), b.end());
    }
    EXPECT_EQ(memcmp(pieces.data(), seq.data() + 300, pieces.size()), 0);
}

TEST_F(SourceTest, AdpcmStreamEndsCleanly) {
    MakeInput("in.wav", 2 * 20360 + 100);
    Encode("stream", "in.wav", "s.bgm");
    Bytes file = ReadBytes("s.bgm");
    ASSERT_EQ(source.Open("s.bgm"), 1);
    // Three blocks: the read past them fails and the position shows the real end.
    Bytes b(4 * kBlock);
    source.Seek(44);
    EXPECT_EQ(source.Read(b.data(), (uint32_t)b.size()), 0);
    EXPECT_EQ(source.Tell(), 44 + 3 * kBlock);
    int32_t r;
    ReadAt(44 + 5 * kBlock + 9, 100, &r);  // a seek beyond the end
    EXPECT_EQ(r, 0);
    source.Close();

    struct Case {
        const char* what;
        uint32_t at;     // where the length field of block 1 is rewritten
        uint32_t value;
    } cases[] = {
        {"length beyond the source buffer", 0, kCodecBufferBytes + 1},
        {"length running past the file", 0, 100000},
        {"negative length", 0, 0xFFFFFFF0u},
    };
    uint32_t block1 = 44 + 4 + (uint32_t)Le32(file.data() + 44);
    for (const Case& c : cases) {
        Bytes bad = file;
        PutLe32(bad.data() + block1 + c.at, c.value);
        WriteBytes("bad.bgm", bad);
        ASSERT_EQ(source.Open("bad.bgm"), 1) << c.what;
        source.Seek(44);
        EXPECT_EQ(source.Read(b.data(), (uint32_t)b.size()), 0) << c.what;
        EXPECT_EQ(source.Tell(), 44 + kBlock) << c.what;
        ReadAt(44 + kBlock + 5, 10, &r);  // the resync path meets it too
        EXPECT_EQ(r, 0) << c.what;
        ReadAt(44 + 2 * kBlock + 5, 10, &r);
        EXPECT_EQ(r, 0) << c.what;
        source.Close();
    }
    // A truncated last block ends the stream where the whole blocks end.
    WriteBytes("cut.bgm", Bytes(file.begin(), file.end() - 10));
    ASSERT_EQ(source.Open("cut.bgm"), 1);
    source.Seek(44);
    EXPECT_EQ(source.Read(b.data(), (uint32_t)b.size()), 0);
    EXPECT_EQ(source.Tell(), 44 + 2 * kBlock);
}
