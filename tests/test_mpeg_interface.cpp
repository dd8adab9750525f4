// The MPEG audio decoder's interface: sync search, header checks, stream
// information and sizes, the Xing header, frame requests, options, the
// equaliser factors and the decoder state kept per object.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "decoders/mpeg_audio.h"
#include "sound_test_util.h"

namespace {

std::vector<uint8_t> Header(uint8_t b1, uint8_t b2, uint8_t b3, size_t size = 2000) {
    std::vector<uint8_t> v(size, 0);
    v[0] = 0xFF, v[1] = b1, v[2] = b2, v[3] = b3;
    return v;
}

std::vector<uint8_t> LoadFixture(const char* name) {
    return ReadBytes(std::string(TONE_FIXTURES) + "/mpeg/" + name);
}

// Decodes every frame of a stream with one decoder; the PCM of each frame.
std::vector<std::vector<uint8_t>> DecodeAll(MpegDecoder* d, const std::vector<uint8_t>& s) {
    std::vector<std::vector<uint8_t>> frames;
    if (!d->StartDecoding(s.data(), (int32_t)s.size())) return frames;
    int32_t offset = 0;
    while (offset < (int32_t)s.size()) {
        std::vector<uint8_t> pcm(4608, 0);
        MpegFrameRequest r{};
        r.input = s.data() + offset;
        r.inputSize = (int32_t)s.size() - offset;
        r.output = pcm.data();
        if (!d->DecodeFrame(&r)) break;
        pcm.resize(r.outputSize);
        frames.push_back(pcm);
        offset += r.inputSize;
    }
    return frames;
}

}  // namespace

TEST(MpegInterface, FindSync) {
    MpegInit();
    int32_t offset = -1;
    uint8_t atStart[8] = {0xFF, 0xFB, 0x90, 0x64, 0, 0, 0, 0};
    EXPECT_EQ(MpegFindSync(atStart, 8, &offset), 1);
    EXPECT_EQ(offset, 0);
    uint8_t later[10] = {0x49, 0x44, 0xFF, 0x00, 0xFF, 0xE2, 0, 0, 0, 0};
    EXPECT_EQ(MpegFindSync(later, 10, &offset), 1);
    EXPECT_EQ(offset, 4);
    // A sync in the last three bytes is not examined.
    uint8_t tail[6] = {0, 0, 0, 0xFF, 0xFB, 0};
    EXPECT_EQ(MpegFindSync(tail, 6, &offset), 0);
    EXPECT_EQ(MpegGetLastError(), kMpegErrorShortInput);
    EXPECT_EQ(MpegFindSync(atStart, 3, &offset), 0);
    EXPECT_EQ(MpegGetLastError(), kMpegErrorShortInput);
}

TEST(MpegInterface, HeaderErrors) {
    struct Case {
        uint8_t b0, b1, b2;
        int32_t result, error, version;
    } cases[] = {
        {0xFF, 0xFB, 0x90, 1, 0, 1},                      // MPEG-1 Layer III
        {0xFF, 0xF3, 0x90, 1, 0, 2},                      // MPEG-2
        {0xFF, 0xE3, 0x90, 1, 0, 3},                      // MPEG-2.5
        {0xFF, 0xD3, 0x90, 0, kMpegErrorNotSync, 0},      // neither 0xF nor 0xE
        {0xFE, 0xFB, 0x90, 0, kMpegErrorNotSync, 0},      // first byte
        {0xFF, 0xFB, 0x00, 0, kMpegErrorUnsupported, 0},  // free format
        {0xFF, 0xFB, 0xF0, 0, kMpegErrorUnsupported, 0},  // bit-rate index 15
        {0xFF, 0xFB, 0x9C, 0, kMpegErrorUnsupported, 0},  // sampling-rate index 3
        {0xFF, 0xF9, 0x90, 0, kMpegErrorUnsupported, 0},  // layer bits 0
    };
    for (const Case& c : cases) {
        MpegDecoder d{};
        d.Init();
        std::vector<uint8_t> b = Header(c.b1, c.b2, 0x64);
        b[0] = c.b0;
        MpegStreamInfo info;
        EXPECT_EQ(d.ReadStreamInfo(b.data(), 156, &info), c.result) << std::hex << (int)c.b1 << " " << (int)c.b2;
        EXPECT_EQ(d.GetLastError(), c.error);
        if (c.result) {
            EXPECT_EQ(info.header.version, c.version);
        }
        // Frame decoding parses the header the same way.
        MpegFrameRequest r{};
        r.input = b.data();
        r.inputSize = (int32_t)b.size();
        if (!c.result) {
            EXPECT_EQ(d.DecodeFrame(&r), 0);
            EXPECT_EQ(d.GetLastError(), c.error);
        }
    }
}

TEST(MpegInterface, StreamInformationSizes) {
    struct Case {
        const char* what;
        uint8_t b1, b2, b3;
        int32_t conversion, reduction;
        int32_t channels, bits, rate, bitRate, minInput, maxInput, outputSize;
    } cases[] = {
        {"MPEG-1 L3 128k 44.1 stereo", 0xFB, 0x90, 0x44, 0, 0, 2, 16, 44100, 128000, 417, 418, 4608},
        {"MPEG-1 L3 padded", 0xFB, 0x92, 0x44, 0, 0, 2, 16, 44100, 128000, 417, 418, 4608},
        {"MPEG-2 L3 64k 22.05", 0xF3, 0x80, 0x44, 0, 0, 2, 16, 22050, 64000, 208, 209, 2304},
        {"MPEG-2.5 L3 8k 8 kHz mono", 0xE3, 0x18, 0xC4, 0, 0, 1, 16, 8000, 8000, 72, 73, 1152},
        {"MPEG-1 L2 192k 48 stereo", 0xFD, 0xA4, 0x04, 0, 0, 2, 16, 48000, 192000, 576, 577, 4608},
        {"MPEG-1 L1 384k 32 mono", 0xFF, 0xC8, 0xC4, 0, 0, 1, 16, 32000, 384000, 576, 580, 768},
        {"8-bit", 0xFB, 0x90, 0x44, 8, 0, 2, 8, 44100, 128000, 417, 418, 2304},
        {"one channel", 0xFB, 0x90, 0x44, 1, 0, 1, 16, 44100, 128000, 417, 418, 2304},
        {"half rate", 0xFB, 0x90, 0x44, 0, 1, 2, 16, 22050, 128000, 417, 418, 2304},
        {"quarter rate LSF", 0xF3, 0x80, 0x44, 0, 2, 2, 16, 5512, 64000, 208, 209, 576},
    };
    for (const Case& c : cases) {
        MpegDecoder d{};
        d.Init();
        MpegOptions o{c.reduction, c.conversion, 24000};
        d.SetOptions(&o);
        std::vector<uint8_t> b = Header(c.b1, c.b2, c.b3);
        MpegStreamInfo info;
        ASSERT_EQ(d.ReadStreamInfo(b.data(), (int32_t)b.size(), &info), 1) << c.what;
        EXPECT_EQ(info.channels, c.channels) << c.what;
        EXPECT_EQ(info.bitsPerSample, c.bits) << c.what;
        EXPECT_EQ(info.sampleRate, c.rate) << c.what;
        EXPECT_EQ(info.bitRate, c.bitRate) << c.what;
        EXPECT_EQ(info.minInputSize, c.minInput) << c.what;
        EXPECT_EQ(info.maxInputSize, c.maxInput) << c.what;
        EXPECT_EQ(info.outputSize, c.outputSize) << c.what;
        EXPECT_EQ(info.frameCount, 0) << c.what;
        EXPECT_EQ(info.skipSize, 0) << c.what;
    }
}

TEST(MpegInterface, StreamInformationNeeds156Bytes) {
    MpegDecoder d{};
    d.Init();
    std::vector<uint8_t> b = Header(0xFB, 0x90, 0x44);
    MpegStreamInfo info;
    EXPECT_EQ(d.ReadStreamInfo(b.data(), 155, &info), 0);
    EXPECT_EQ(d.GetLastError(), kMpegErrorShortInput);
    EXPECT_EQ(d.ReadStreamInfo(b.data(), 156, &info), 1);
    // A success leaves the last error as it was.
    EXPECT_EQ(d.GetLastError(), kMpegErrorShortInput);
}

TEST(MpegInterface, XingHeader) {
    // MPEG-1 Layer III stereo: the tag follows 4 + 32 bytes; with a CRC, 2 more.
    for (int crc = 0; crc < 2; crc++) {
        MpegDecoder d{};
        d.Init();
        std::vector<uint8_t> b = Header(crc ? 0xFA : 0xFB, 0x92, 0x44);
        int at = 36 + 2 * crc;
        memcpy(&b[at], "Xing", 4);
        b[at + 7] = 0x0F;
        b[at + 10] = 0x03, b[at + 11] = 0xE8;           // 1000 frames
        b[at + 13] = 0x01, b[at + 14] = 0x02, b[at + 15] = 0x03;  // 66051 bytes
        MpegStreamInfo info;
        ASSERT_EQ(d.ReadStreamInfo(b.data(), 156, &info), 1);
        EXPECT_EQ(info.frameCount, 1000);
        EXPECT_EQ(info.dataSize, 66051);
        EXPECT_EQ(info.bitRate, 0);
        EXPECT_EQ(info.skipSize, 418);           // the Xing frame itself, padded
        EXPECT_EQ(info.minInputSize, 104);       // 32 kbit/s
        EXPECT_EQ(info.maxInputSize, 1044 + 1);  // 320 kbit/s
        EXPECT_EQ((int64_t)info.frameCount * info.outputSize, 4608000);
    }
    // A Xing header with neither count flag is refused.
    MpegDecoder d{};
    d.Init();
    std::vector<uint8_t> b = Header(0xFB, 0x90, 0x44);
    memcpy(&b[36], "Xing", 4);
    b[36 + 7] = 0x0C;
    MpegStreamInfo info;
    EXPECT_EQ(d.ReadStreamInfo(b.data(), 156, &info), 0);
    EXPECT_EQ(d.GetLastError(), kMpegErrorUnsupported);
}

TEST(MpegInterface, FrameRequestSizes) {
    std::vector<uint8_t> s = LoadFixture("fx_l3.mp3");
    ASSERT_FALSE(s.empty());
    MpegDecoder d{};
    d.Init();
    ASSERT_EQ(d.StartDecoding(s.data(), (int32_t)s.size()), 1);
    std::vector<uint8_t> pcm(4608);
    MpegFrameRequest r{};
    r.input = s.data();
    r.output = pcm.data();
    r.inputSize = 4;
    EXPECT_EQ(d.DecodeFrame(&r), 0);
    EXPECT_EQ(d.GetLastError(), kMpegErrorShortInput);
    r.inputSize = 416;  // a whole frame is 417 or 418 bytes
    EXPECT_EQ(d.DecodeFrame(&r), 0);
    EXPECT_EQ(d.GetLastError(), kMpegErrorShortInput);
    r.inputSize = (int32_t)s.size();
    ASSERT_EQ(d.DecodeFrame(&r), 1);
    EXPECT_EQ(r.inputSize, 417 + r.header.padding);
    EXPECT_EQ(r.outputSize, 4608);
    EXPECT_EQ(r.bitRate, 128000);
    EXPECT_EQ(r.header.layer, 3);
}

TEST(MpegInterface, FrameOfAnotherLayerIsRefused) {
    // Decoding a Layer II frame with a stream started as Layer III would
    // parse it wrongly and overrun the frame's output.
    std::vector<uint8_t> l3 = LoadFixture("fx_l3.mp3"), l2 = LoadFixture("fx_l2.mp2");
    MpegDecoder d{};
    d.Init();
    ASSERT_EQ(d.StartDecoding(l3.data(), (int32_t)l3.size()), 1);
    std::vector<uint8_t> pcm(4608);
    MpegFrameRequest r{};
    r.input = l2.data();
    r.inputSize = (int32_t)l2.size();
    r.output = pcm.data();
    EXPECT_EQ(d.DecodeFrame(&r), 0);
    EXPECT_EQ(d.GetLastError(), kMpegErrorUnsupported);
}

TEST(MpegInterface, OptionsAndEqualizer) {
    MpegDecoder d{};
    d.Init();
    MpegOptions o{};
    EXPECT_EQ(d.GetOptions(&o), 1);
    EXPECT_EQ(o.reduction, 0);
    EXPECT_EQ(o.conversion, 0);
    EXPECT_EQ(o.frequencyLimit, 24000);
    for (float f : d.equalizer) EXPECT_EQ(f, 1.0f);
    EXPECT_EQ(d.equalizerOn, 0);
    EXPECT_EQ(d.EnableEqualizer(1), 0);
    EXPECT_EQ(d.equalizerOn, 1);

    const double zeros[10] = {};
    EXPECT_EQ(d.SetEqualizerBands(zeros), 1);
    for (float f : d.equalizer) EXPECT_EQ(f, 1.0f);
    // Band b sets its factors to 10^b: 0-5 one each, 6 two, 7 four, 8 eight, 9 twelve.
    const double bands[10] = {-1.0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, -0.5};
    d.SetEqualizerBands(bands);
    EXPECT_FLOAT_EQ(d.equalizer[0], 0.1f);
    const int firstOf[11] = {0, 1, 2, 3, 4, 5, 6, 8, 12, 20, 32};
    for (int b = 0; b < 10; b++)
        for (int i = firstOf[b]; i < firstOf[b + 1]; i++)
            EXPECT_FLOAT_EQ(d.equalizer[i], (float)std::pow(10.0, bands[b])) << i;
    // A new initialisation resets options and equaliser.
    MpegOptions changed{1, 9, 8000};
    d.SetOptions(&changed);
    d.Init();
    d.GetOptions(&o);
    EXPECT_EQ(o.frequencyLimit, 24000);
    EXPECT_EQ(d.equalizer[0], 1.0f);
    EXPECT_EQ(d.equalizerOn, 0);
}

TEST(MpegInterface, DecodersInAlternationKeepTheirOwnState) {
    // Two streams decoded frame by frame in alternation, as two music slots
    // cross-fading, give what each gives alone.
    std::vector<uint8_t> a = LoadFixture("fx_l3.mp3"), b = LoadFixture("fx_l3_lsf.mp3");
    MpegDecoder da{}, db{};
    da.Init();
    db.Init();
    std::vector<std::vector<uint8_t>> aloneA = DecodeAll(&da, a), aloneB = DecodeAll(&db, b);
    ASSERT_GT(aloneA.size(), 5u);
    ASSERT_GT(aloneB.size(), 5u);

    ASSERT_EQ(da.StartDecoding(a.data(), (int32_t)a.size()), 1);
    ASSERT_EQ(db.StartDecoding(b.data(), (int32_t)b.size()), 1);
    int32_t offA = 0, offB = 0;
    for (size_t i = 0; i < 5; i++) {
        std::vector<uint8_t> pa(4608, 0), pb(4608, 0);
        MpegFrameRequest ra{}, rb{};
        ra.input = a.data() + offA, ra.inputSize = (int32_t)a.size() - offA, ra.output = pa.data();
        rb.input = b.data() + offB, rb.inputSize = (int32_t)b.size() - offB, rb.output = pb.data();
        ASSERT_EQ(da.DecodeFrame(&ra), 1);
        ASSERT_EQ(db.DecodeFrame(&rb), 1);
        offA += ra.inputSize, offB += rb.inputSize;
        pa.resize(ra.outputSize), pb.resize(rb.outputSize);
        EXPECT_EQ(pa, aloneA[i]) << "frame " << i;
        EXPECT_EQ(pb, aloneB[i]) << "frame " << i;
    }

    // The flat functions work on a default decoder of the same kind.
    MpegInit();
    ASSERT_EQ(MpegStartDecoding(a.data(), (int32_t)a.size()), 1);
    std::vector<uint8_t> p(4608, 0);
    MpegFrameRequest r{};
    r.input = a.data(), r.inputSize = (int32_t)a.size(), r.output = p.data();
    ASSERT_EQ(MpegDecodeFrame(&r), 1);
    p.resize(r.outputSize);
    EXPECT_EQ(p, aloneA[0]);
}
