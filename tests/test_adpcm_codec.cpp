// The codec manager's Microsoft ADPCM codec: bit-exact against ffmpeg's
// decoder on sox-encoded material (all seven predictors) and on odd block
// aligns, the truncating prediction, the encoder's quality, and the
// conversion calls' flags and errors.
#include "platform/codec/acm.h"
#include "platform/codec/msadpcm.h"
#include "sound_test_util.h"

struct AdpcmWav {
    Bytes fmt;  // the whole fmt chunk (WAVEFORMATEX and extra bytes)
    Bytes data;
};

static AdpcmWav ParseAdpcmWav(const Bytes& image) {
    AdpcmWav w;
    size_t at = 12;
    while (at + 8 <= image.size()) {
        uint32_t len = (uint32_t)Le32(image.data() + at + 4);
        len = std::min<size_t>(len, image.size() - at - 8);
        Bytes body(image.begin() + at + 8, image.begin() + at + 8 + len);
        if (!memcmp(image.data() + at, "fmt ", 4)) w.fmt = body;
        if (!memcmp(image.data() + at, "data", 4)) w.data = body;
        at += 8 + len + (len & 1);
    }
    return w;
}

static Bytes AdpcmWavImage(const ADPCMWAVEFORMAT& fmt, const Bytes& data) {
    Bytes out(12);
    memcpy(out.data(), "RIFF", 4);
    memcpy(out.data() + 8, "WAVE", 4);
    auto chunk = [&](const char* id, const uint8_t* p, uint32_t n) {
        uint8_t head[8];
        memcpy(head, id, 4);
        PutLe32(head + 4, n);
        out.insert(out.end(), head, head + 8);
        out.insert(out.end(), p, p + n);
        if (n & 1) out.push_back(0);
    };
    chunk("fmt ", (const uint8_t*)&fmt, sizeof fmt);
    chunk("data", data.data(), (uint32_t)data.size());
    PutLe32(out.data() + 4, (uint32_t)out.size() - 8);
    return out;
}

// Converts everything in src through one conversion stream.
static Bytes Convert(const WAVEFORMATEX* from, const WAVEFORMATEX* to, const Bytes& src, size_t dstBytes,
                     DWORD flags = ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END) {
    HACMSTREAM s;
    EXPECT_EQ(acmStreamOpen(&s, nullptr, from, to, nullptr, 0, 0, 0), MMSYSERR_NOERROR);
    Bytes dst(dstBytes);
    ACMSTREAMHEADER h = {};
    h.cbStruct = kAcmStreamHeaderBytes;
    h.pbSrc = (BYTE*)src.data();
    h.cbSrcLength = (DWORD)src.size();
    h.pbDst = dst.data();
    h.cbDstLength = (DWORD)dst.size();
    EXPECT_EQ(acmStreamPrepareHeader(s, &h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(acmStreamConvert(s, &h, flags), MMSYSERR_NOERROR);
    EXPECT_EQ(acmStreamUnprepareHeader(s, &h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(acmStreamClose(s, 0), MMSYSERR_NOERROR);
    dst.resize(h.cbDstLengthUsed);
    return dst;
}

static std::vector<int16_t> FfmpegDecode(const std::string& path) {
    std::string raw = path + ".raw";
    std::string out;
    EXPECT_EQ(RunCommand("ffmpeg -nostdin -loglevel error -y -i " + path + " -f s16le " + raw, &out), 0) << out;
    return Samples(ReadBytes(raw));
}

static std::vector<int16_t> OurDecode(const AdpcmWav& w) {
    const WAVEFORMATEX* f = (const WAVEFORMATEX*)w.fmt.data();
    WAVEFORMATEX pcm = {WAVE_FORMAT_PCM, f->nChannels, f->nSamplesPerSec, f->nSamplesPerSec * 2 * f->nChannels,
                        (WORD)(2 * f->nChannels), 16, 0};
    size_t blocks = w.data.size() / f->nBlockAlign + 1;
    size_t frames = blocks * MsAdpcm_SamplesPerBlock(f->nBlockAlign, f->nChannels);
    return Samples(Convert(f, &pcm, w.data, frames * 2 * f->nChannels, 0));
}

// Compares every sample; both decoders must agree on the length too.
static void ExpectSameAsFfmpeg(const std::string& path) {
    AdpcmWav w = ParseAdpcmWav(ReadBytes(path));
    ASSERT_GE(w.fmt.size(), 50u);
    std::vector<int16_t> ours = OurDecode(w), theirs = FfmpegDecode(path);
    ASSERT_GT(theirs.size(), 1000u) << path;
    ASSERT_EQ(ours.size(), theirs.size()) << path;
    size_t differing = 0;
    for (size_t i = 0; i < ours.size(); i++) differing += ours[i] != theirs[i];
    EXPECT_EQ(differing, 0u) << path << " of " << ours.size();
}

TEST(AdpcmCodec, DecodesSoxFilesBitExactLikeFfmpeg) {
    ScratchDir dir;
    for (const char* name : {"stereo_44k.wav", "mono_22k.wav"}) {
        std::string path = std::string(TONE_FIXTURES) + "/sources/" + name;
        AdpcmWav w = ParseAdpcmWav(ReadBytes(path));
        const WAVEFORMATEX* f = (const WAVEFORMATEX*)w.fmt.data();
        // The fixture must exercise every predictor for this to mean anything.
        bool used[8] = {};
        for (size_t b = 0; b + f->nBlockAlign <= w.data.size(); b += f->nBlockAlign)
            for (int c = 0; c < f->nChannels; c++) used[std::min<int>(w.data[b + c], 7)] = true;
        for (int p = 0; p < 7; p++) EXPECT_TRUE(used[p]) << name << " predictor " << p;
        WriteBytes(name, ReadBytes(path));
        ExpectSameAsFfmpeg(name);
    }
}

TEST(AdpcmCodec, AnyBlockAlignRoundTripsAndMatchesFfmpeg) {
    ScratchDir dir;
    std::vector<int16_t> music = TestMusic(9000, 5);
    struct Case {
        int channels, blockAlign, rate;
    } cases[] = {{2, 1000, 44100}, {1, 333, 22050}, {2, 14 + 1, 44100}, {1, 4096, 11025}};
    for (const Case& c : cases) {
        std::vector<int16_t> pcm;
        for (size_t i = 0; i < music.size(); i += 2) {
            pcm.push_back(music[i]);
            if (c.channels == 2) pcm.push_back(music[i + 1]);
        }
        ADPCMWAVEFORMAT fmt;
        MsAdpcm_Format(&fmt, c.rate, c.channels);
        fmt.wfx.nBlockAlign = (WORD)c.blockAlign;
        fmt.wSamplesPerBlock = (WORD)MsAdpcm_SamplesPerBlock(c.blockAlign, c.channels);
        fmt.wfx.nAvgBytesPerSec = c.rate * c.blockAlign / fmt.wSamplesPerBlock;
        WAVEFORMATEX pcmFormat = {WAVE_FORMAT_PCM, (WORD)c.channels, (DWORD)c.rate,
                                  (DWORD)(c.rate * 2 * c.channels), (WORD)(2 * c.channels), 16, 0};
        Bytes pcmBytes((const uint8_t*)pcm.data(), (const uint8_t*)pcm.data() + pcm.size() * 2);
        size_t blocks = pcm.size() / c.channels / fmt.wSamplesPerBlock + 1;
        Bytes adpcm = Convert(&pcmFormat, &fmt.wfx, pcmBytes, blocks * c.blockAlign);
        ASSERT_EQ(adpcm.size() % c.blockAlign, 0u);
        std::string path = "odd_" + std::to_string(c.blockAlign) + ".wav";
        WriteBytes(path, AdpcmWavImage(fmt, adpcm));
        ExpectSameAsFfmpeg(path);
        std::vector<int16_t> back = OurDecode(ParseAdpcmWav(ReadBytes(path)));
        ASSERT_GE(back.size(), pcm.size());
        EXPECT_GT(SnrDb(pcm.data(), back.data(), pcm.size()), c.blockAlign < 64 ? 18.0 : 25.0) << c.blockAlign;
    }
}

TEST(AdpcmCodec, PredictionTruncatesTowardZero) {
    // Predictor 3 (192, 64) with sample1 -1, sample2 0 predicts -192 / 256:
    // 0 when truncated, -1 when rounded down.
    uint8_t block[7 + 2] = {3, 16, 0, 0xFF, 0xFF, 0, 0, 0x00, 0x00};
    int16_t out[6];
    ASSERT_EQ(MsAdpcm_DecodeBlock(block, sizeof block, 1, out), 6);
    EXPECT_EQ(out[0], 0);   // sample2 comes first
    EXPECT_EQ(out[1], -1);  // then sample1
    EXPECT_EQ(out[2], 0);   // (-1 * 192 + 0 * 64) / 256 -> 0
    // A predictor index outside the seven pairs decodes as silence, not out of the table.
    uint8_t bad[7 + 2] = {200, 16, 0, 0x34, 0x12, 0x21, 0x43, 0x77, 0x77};
    ASSERT_EQ(MsAdpcm_DecodeBlock(bad, sizeof bad, 1, out), 6);
    for (int16_t s : out) EXPECT_EQ(s, 0);
    EXPECT_EQ(MsAdpcm_DecodeBlock(bad, 6, 1, out), 0);  // shorter than its header
}

TEST(AdpcmCodec, EncoderIsAtLeastAsGoodAsSox) {
    ScratchDir dir;
    // The varied material of the sox fixture, decoded, is the input of both encoders.
    WriteBytes("fixture.wav", ReadBytes(std::string(TONE_FIXTURES) + "/sources/stereo_44k.wav"));
    std::vector<int16_t> music = FfmpegDecode("fixture.wav");
    WriteBytes("in.wav", PcmWavImage(music, 2, 44100));
    std::string out;
    ASSERT_EQ(RunCommand("sox in.wav -e ms-adpcm sox.wav", &out), 0) << out;
    std::vector<int16_t> soxBack = FfmpegDecode("sox.wav");

    ADPCMWAVEFORMAT fmt;
    MsAdpcm_Format(&fmt, 44100, 2);
    WAVEFORMATEX pcmFormat = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    Bytes pcmBytes((const uint8_t*)music.data(), (const uint8_t*)music.data() + music.size() * 2);
    Bytes adpcm = Convert(&pcmFormat, &fmt.wfx, pcmBytes, pcmBytes.size());
    WriteBytes("ours.wav", AdpcmWavImage(fmt, adpcm));
    std::vector<int16_t> ourBack = FfmpegDecode("ours.wav");
    ASSERT_GE(soxBack.size(), music.size());
    ASSERT_GE(ourBack.size(), music.size());
    double sox = SnrDb(music.data(), soxBack.data(), music.size());
    double ours = SnrDb(music.data(), ourBack.data(), music.size());
    printf("SNR on the fixture material: ours %.2f dB, sox %.2f dB\n", ours, sox);
    EXPECT_GE(ours, sox - 0.25);
    int predictorsUsed = 0;
    bool used[7] = {};
    for (size_t b = 0; b < adpcm.size(); b += 2048)
        for (int c = 0; c < 2; c++) used[adpcm[b + c]] = true;
    for (bool u : used) predictorsUsed += u;
    EXPECT_GE(predictorsUsed, 5);
}

TEST(AdpcmCodec, ConversionCallsCheckFormatsFlagsAndHeaders) {
    WAVEFORMATEX pcm = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    uint8_t buf[1024] = {};
    ADPCMWAVEFORMAT* adpcm = (ADPCMWAVEFORMAT*)buf;
    adpcm->wfx.wFormatTag = WAVE_FORMAT_ADPCM;
    ASSERT_EQ(acmFormatSuggest(nullptr, &pcm, &adpcm->wfx, sizeof buf, ACM_FORMATSUGGESTF_WFORMATTAG),
              MMSYSERR_NOERROR);
    EXPECT_EQ(adpcm->wfx.nBlockAlign, 2048);
    EXPECT_EQ(adpcm->wSamplesPerBlock, 2036);
    EXPECT_EQ(adpcm->wfx.nAvgBytesPerSec, 44359u);
    EXPECT_EQ(adpcm->wfx.cbSize, 32);
    EXPECT_EQ(adpcm->aCoef[5].iCoef2, -208);

    WAVEFORMATEX back = {};
    back.wFormatTag = WAVE_FORMAT_PCM;
    back.nChannels = 2;
    EXPECT_EQ(acmFormatSuggest(nullptr, &adpcm->wfx, &back, sizeof back,
                               ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS),
              MMSYSERR_NOERROR);
    EXPECT_EQ(back.nBlockAlign, 4);
    EXPECT_EQ(back.wBitsPerSample, 16);
    back.nChannels = 1;
    EXPECT_EQ(acmFormatSuggest(nullptr, &adpcm->wfx, &back, sizeof back, ACM_FORMATSUGGESTF_NCHANNELS),
              ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(acmFormatSuggest(nullptr, &pcm, &adpcm->wfx, 20, 0), ACMERR_NOTPOSSIBLE);  // too small
    EXPECT_EQ(acmFormatSuggest(nullptr, &pcm, &adpcm->wfx, sizeof buf, 0x1), MMSYSERR_INVALFLAG);
    Acm_SetCodecInstalled(false);
    EXPECT_EQ(acmFormatSuggest(nullptr, &pcm, &adpcm->wfx, sizeof buf, 0), ACMERR_NOTPOSSIBLE);
    HACMSTREAM s;
    EXPECT_EQ(acmStreamOpen(&s, nullptr, &adpcm->wfx, &pcm, nullptr, 0, 0, 0), ACMERR_NOTPOSSIBLE);
    Acm_SetCodecInstalled(true);

    // Two and a half blocks: BLOCKALIGN converts the whole ones only; without
    // it the partial block is decoded too; a short output takes whole blocks.
    Bytes src = Pattern(2048 * 2 + 1024, 4);
    for (size_t b = 0; b < src.size(); b += 2048) src[b] = src[b + 1] = 1;
    ASSERT_EQ(acmStreamOpen(&s, nullptr, &adpcm->wfx, &pcm, nullptr, 0, 0, 0), MMSYSERR_NOERROR);
    Bytes dst(3 * 2036 * 4);
    ACMSTREAMHEADER h = {};
    h.cbStruct = kAcmStreamHeaderBytes;
    h.pbSrc = src.data();
    h.cbSrcLength = (DWORD)src.size();
    h.pbDst = dst.data();
    h.cbDstLength = (DWORD)dst.size();
    EXPECT_EQ(acmStreamConvert(s, &h, 0), ACMERR_UNPREPARED);
    ASSERT_EQ(acmStreamPrepareHeader(s, &h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(acmStreamConvert(s, &h, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
    EXPECT_EQ(h.cbSrcLengthUsed, 4096u);
    EXPECT_EQ(h.cbDstLengthUsed, 2u * 2036 * 4);
    EXPECT_TRUE(h.fdwStatus & ACMSTREAMHEADER_STATUSF_DONE);
    EXPECT_EQ(acmStreamConvert(s, &h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(h.cbSrcLengthUsed, (DWORD)src.size());
    EXPECT_EQ(h.cbDstLengthUsed, (2u * 2036 + (1024 - 14) + 2) * 4);
    h.cbDstLength = 2036 * 4 + 100;
    EXPECT_EQ(acmStreamConvert(s, &h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(h.cbSrcLengthUsed, 2048u);
    EXPECT_EQ(acmStreamConvert(s, &h, 0x100), MMSYSERR_INVALFLAG);
    EXPECT_EQ(acmStreamUnprepareHeader(s, &h, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(acmStreamUnprepareHeader(s, &h, 0), ACMERR_UNPREPARED);
    EXPECT_EQ(acmStreamClose(s, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(acmStreamClose(s, 0), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(Acm_OpenStreamCount(), 0);
}
