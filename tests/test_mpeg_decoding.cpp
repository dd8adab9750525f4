// The MPEG audio decoding core: agreement with an independent decoder on
// fixtures of each layer, the subband limit, integer conversion and 8-bit
// output, channel conversion, rate reduction, the equaliser, the Layer III
// reservoir at a start, refused Layer II combinations and damaged frames.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "decoders/mpeg_audio.h"
#include "decoders/mpeg_internal.h"
#include "sound_test_util.h"

namespace {

std::vector<uint8_t> LoadFixture(const std::string& name) {
    return ReadBytes(std::string(TONE_FIXTURES) + "/mpeg/" + name);
}

// Decodes a whole stream with the given options; frames that fail are skipped
// by searching for the next sync.
std::vector<uint8_t> Decode(const std::vector<uint8_t>& s, MpegOptions options = {0, 0, 24000},
                            const double* bands = nullptr) {
    MpegDecoder* d = new MpegDecoder();
    d->Init();
    d->SetOptions(&options);
    if (bands) {
        d->SetEqualizerBands(bands);
        d->EnableEqualizer(1);
    }
    std::vector<uint8_t> pcm;
    if (d->StartDecoding(s.data(), (int32_t)s.size())) {
        int32_t offset = 0;
        std::vector<uint8_t> frame(4608);
        while (offset < (int32_t)s.size()) {
            MpegFrameRequest r{};
            r.input = s.data() + offset;
            r.inputSize = (int32_t)s.size() - offset;
            r.output = frame.data();
            memset(frame.data(), 0, frame.size());
            if (!d->DecodeFrame(&r)) {
                int32_t found = 0;
                if (!d->FindSync(s.data() + offset + 1, (int32_t)s.size() - offset - 1, &found)) break;
                offset += 1 + found;
                continue;
            }
            pcm.insert(pcm.end(), frame.begin(), frame.begin() + r.outputSize);
            offset += r.inputSize;
        }
    }
    delete d;
    return pcm;
}

double Rms(const std::vector<int16_t>& s) {
    double sum = 0;
    for (int16_t v : s) sum += (double)v * v;
    return s.empty() ? 0 : std::sqrt(sum / s.size());
}

int PeakOf(const std::vector<int16_t>& s) {
    int peak = 0;
    for (int16_t v : s) peak = std::max(peak, std::abs((int)v));
    return peak;
}

// An MPEG-1 Layer I frame, 44.1 kHz, 128 kbit/s, one channel, in which only
// subband sb is coded: 15-bit samples with the given codes and scale factor.
std::vector<uint8_t> Layer1Frame(int sb, int scalefactor, const int (&codes)[12]) {
    std::vector<uint8_t> frame(136, 0);
    int pos = 0;
    auto put = [&](uint32_t value, int n) {
        for (int i = n - 1; i >= 0; i--, pos++)
            if ((value >> i) & 1) frame[pos >> 3] |= (uint8_t)(0x80 >> (pos & 7));
    };
    put(0xFFFF, 16);  // sync, MPEG-1, Layer I, no CRC
    put(0x40, 8);     // 128 kbit/s, 44.1 kHz
    put(0xC0, 8);     // single channel
    for (int i = 0; i < 32; i++) put(i == sb ? 14 : 0, 4);
    if (sb >= 0) put((uint32_t)scalefactor, 6);
    for (int s = 0; s < 12 && sb >= 0; s++) put((uint32_t)codes[s], 15);
    return frame;
}

std::vector<uint8_t> Layer1Stream(int sb, int scalefactor, int amplitude, int frames) {
    std::vector<uint8_t> stream;
    for (int f = 0; f < frames; f++) {
        int codes[12];
        for (int s = 0; s < 12; s++) {
            double phase = 0.7 * (f * 12 + s);
            codes[s] = 16383 + (int)(amplitude * std::sin(phase));
        }
        std::vector<uint8_t> frame = Layer1Frame(sb, scalefactor, codes);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

}  // namespace

TEST(MpegDecoding, AgreesWithReferenceDecoder) {
    // The fixtures' references are mpg123's 16-bit output (rounded); ours is
    // truncated, so the difference stays within 1.5 LSB and about 0.6 RMS.
    for (const char* name : {"fx_l3.mp3", "fx_l3_lsf.mp3", "fx_l2.mp2", "fx_l1.mp1"}) {
        std::vector<uint8_t> stream = LoadFixture(name);
        std::vector<uint8_t> refBytes = LoadFixture(std::string(name) + ".s16");
        ASSERT_FALSE(stream.empty()) << name;
        std::vector<int16_t> ours = Samples(Decode(stream)), ref = Samples(refBytes);
        ASSERT_EQ(ours.size(), ref.size()) << name;
        double sum = 0;
        int worst = 0;
        for (size_t i = 0; i < ref.size(); i++) {
            int d = ours[i] - ref[i];
            sum += (double)d * d;
            worst = std::max(worst, std::abs(d));
        }
        EXPECT_LE(std::sqrt(sum / ref.size()), 0.8) << name;
        EXPECT_LE(worst, 2) << name;
        EXPECT_GT(Rms(ref), 1000.0) << name;  // the comparison is over real signal
    }
}

TEST(MpegDecoding, HuffmanTablesAreCompletePrefixCodes) {
    // Every code table must be a complete prefix code: lengths fill the code
    // space exactly (Kraft sum 1) and no code is the prefix of another.
    for (int t = 1; t < kMpegHuffmanSourceCount; t++) {
        const MpegHuffmanSource& src = kMpegHuffmanSources[t];
        int n = src.size * src.size;
        double kraft = 0;
        for (int i = 0; i < n; i++) kraft += std::ldexp(1.0, -src.lengths[i]);
        EXPECT_DOUBLE_EQ(kraft, 1.0) << "table source " << t;
        for (int i = 0; i < n; i++)
            for (int j = 0; j < n; j++) {
                if (i == j || src.lengths[i] > src.lengths[j]) continue;
                uint32_t prefix = src.codes[j] >> (src.lengths[j] - src.lengths[i]);
                EXPECT_FALSE(prefix == src.codes[i]) << "table source " << t << " codes " << i << ", " << j;
            }
        EXPECT_GT(MpegTables().huffmanUsed[t], 0) << "table source " << t;
    }
}

TEST(MpegDecoding, SubbandLimit) {
    struct Case {
        int subband, limitHz;
        bool audible;
    } cases[] = {
        {31, 24000, false},  // the top subband is never decoded at full rate
        {30, 24000, true},
        {16, 11025, false},  // (11025 * 64 + 22050) / 44100 = 16 subbands
        {15, 11025, true},
        {8, 24000, true},
    };
    for (const Case& c : cases) {
        std::vector<int16_t> out = Samples(Decode(Layer1Stream(c.subband, 10, 8000, 8), {0, 0, c.limitHz}));
        ASSERT_EQ(out.size(), 8u * 384);
        if (c.audible)
            EXPECT_GT(PeakOf(out), 1000) << c.subband << " at " << c.limitHz;
        else
            EXPECT_LE(PeakOf(out), 1) << c.subband << " at " << c.limitHz;
    }
}

TEST(MpegDecoding, IntegerConversion) {
    struct Case {
        float in;
        int32_t out;
    } cases[] = {{40000.0f, 32767}, {32767.9f, 32767}, {-0.9f, 0}, {0.9f, 0}, {1.9f, 1},
                 {-1.9f, -1},       {-32768.5f, -32768}, {-40000.0f, -32768}, {NAN, -32768}};
    for (const Case& c : cases) EXPECT_EQ(MpegToInteger(c.in), c.out) << c.in;
}

TEST(MpegDecoding, ClippingAndEightBitOutput) {
    // A silent frame, then full-scale samples at scale factor 2.0 in subband
    // 0: the output clips at both ends.
    int silent[12] = {};
    std::vector<uint8_t> stream = Layer1Frame(-1, 0, silent);
    for (int f = 0; f < 6; f++) {
        int codes[12];
        for (int s = 0; s < 12; s++) codes[s] = ((s / 3) & 1) ? 32766 : 0;
        std::vector<uint8_t> frame = Layer1Frame(0, 0, codes);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    std::vector<int16_t> wide = Samples(Decode(stream));
    std::vector<uint8_t> narrow = Decode(stream, {0, kMpegConvert8Bit, 24000});
    ASSERT_EQ(wide.size(), 7u * 384);
    ASSERT_EQ(narrow.size(), wide.size());
    bool high = false, low = false;
    for (int16_t v : wide) high |= v == 32767, low |= v == -32768;
    EXPECT_TRUE(high);
    EXPECT_TRUE(low);
    for (size_t i = 0; i < 384; i++) EXPECT_EQ(narrow[i], 0x80) << i;  // silence
    for (size_t i = 0; i < wide.size(); i++)
        ASSERT_EQ(narrow[i], (uint8_t)((wide[i] >> 8) ^ 0x80)) << i;  // 32767 -> 0xFF, -32768 -> 0x00
}

TEST(MpegDecoding, ChannelConversion) {
    std::vector<uint8_t> stream = LoadFixture("fx_l3.mp3");
    std::vector<int16_t> stereo = Samples(Decode(stream));
    std::vector<int16_t> first = Samples(Decode(stream, {0, 2, 24000}));
    std::vector<int16_t> second = Samples(Decode(stream, {0, 3, 24000}));
    std::vector<int16_t> sum = Samples(Decode(stream, {0, 1, 24000}));
    ASSERT_EQ(first.size() * 2, stereo.size());
    ASSERT_EQ(second.size() * 2, stereo.size());
    ASSERT_EQ(sum.size() * 2, stereo.size());
    for (size_t i = 0; i < first.size(); i++) {
        ASSERT_EQ(first[i], stereo[2 * i]) << i;
        ASSERT_EQ(second[i], stereo[2 * i + 1]) << i;
        // The sum of the spectra, unhalved: the sum of both outputs.
        int expected = stereo[2 * i] + stereo[2 * i + 1];
        if (std::abs(expected) < 32000) {
            ASSERT_LE(std::abs(sum[i] - expected), 3) << i;
        }
    }
}

TEST(MpegDecoding, RateReduction) {
    std::vector<uint8_t> stream = LoadFixture("fx_l3.mp3");
    std::vector<int16_t> full = Samples(Decode(stream));
    for (int reduction = 1; reduction <= 2; reduction++) {
        MpegDecoder d{};
        d.Init();
        MpegOptions o{reduction, 0, 24000};
        d.SetOptions(&o);
        MpegStreamInfo info;
        ASSERT_EQ(d.ReadStreamInfo(stream.data(), (int32_t)stream.size(), &info), 1);
        EXPECT_EQ(info.sampleRate, 44100 >> reduction);
        EXPECT_EQ(info.outputSize, (1152 >> reduction) * 4);
        std::vector<int16_t> reduced = Samples(Decode(stream, o));
        ASSERT_EQ(reduced.size(), full.size() >> reduction);
        // The fixture's content lies below the reduced rate's band: the level holds.
        EXPECT_NEAR(Rms(reduced) / Rms(full), 1.0, 0.1) << reduction;
    }
}

TEST(MpegDecoding, EqualizerScalesSubbandsAtFullRateOnly) {
    std::vector<uint8_t> stream = LoadFixture("fx_l2.mp2");
    const double tenth[10] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    std::vector<int16_t> plain = Samples(Decode(stream));
    std::vector<int16_t> lowered = Samples(Decode(stream, {0, 0, 24000}, tenth));
    ASSERT_EQ(plain.size(), lowered.size());
    EXPECT_NEAR(Rms(lowered) / Rms(plain), 0.1, 0.005);
    std::vector<int16_t> halfPlain = Samples(Decode(stream, {1, 0, 24000}));
    std::vector<int16_t> halfEq = Samples(Decode(stream, {1, 0, 24000}, tenth));
    EXPECT_EQ(halfPlain, halfEq);
}

TEST(MpegDecoding, LayerThreeFrameWithoutItsMainDataWritesNothing) {
    std::vector<uint8_t> s = LoadFixture("fx_l3.mp3");
    // Find a frame whose main data begins in earlier frames.
    int32_t offset = 0, frameAt = -1;
    while (offset + 6 < (int32_t)s.size()) {
        int mainDataBegin = s[offset + 4] << 1 | s[offset + 5] >> 7;
        if (mainDataBegin > 0) {
            frameAt = offset;
            break;
        }
        offset += 417 + ((s[offset + 2] >> 1) & 1);
    }
    ASSERT_GE(frameAt, 0);
    MpegDecoder d{};
    d.Init();
    ASSERT_EQ(d.StartDecoding(s.data() + frameAt, (int32_t)s.size() - frameAt), 1);
    std::vector<uint8_t> pcm(4608, 0x5A);
    MpegFrameRequest r{};
    r.input = s.data() + frameAt;
    r.inputSize = (int32_t)s.size() - frameAt;
    r.output = pcm.data();
    ASSERT_EQ(d.DecodeFrame(&r), 1);
    EXPECT_EQ(r.outputSize, 4608);
    EXPECT_EQ(pcm, std::vector<uint8_t>(4608, 0x5A));
    // Once the reservoir holds enough, frames decode again.
    bool wrote = false;
    for (int i = 0; i < 4 && !wrote; i++) {
        r.input += r.inputSize;
        r.inputSize = (int32_t)(s.data() + s.size() - r.input);
        ASSERT_EQ(d.DecodeFrame(&r), 1);
        wrote = pcm != std::vector<uint8_t>(4608, 0x5A);
    }
    EXPECT_TRUE(wrote);
}

TEST(MpegDecoding, LayerTwoCombinationWithoutTableIsRefused) {
    std::vector<uint8_t> b(2000, 0);
    b[0] = 0xFF, b[1] = 0xFD, b[2] = 0x30, b[3] = 0x04;  // Layer II, 56 kbit/s, stereo
    MpegDecoder d{};
    d.Init();
    EXPECT_EQ(d.StartDecoding(b.data(), (int32_t)b.size()), 0);
    EXPECT_EQ(d.GetLastError(), kMpegErrorUnsupported);
    MpegFrameRequest r{};
    std::vector<uint8_t> pcm(4608);
    r.input = b.data(), r.inputSize = (int32_t)b.size(), r.output = pcm.data();
    EXPECT_EQ(d.DecodeFrame(&r), 0);
    b[3] = 0xC4;  // the same rate in one channel has a table
    EXPECT_EQ(d.StartDecoding(b.data(), (int32_t)b.size()), 1);
}

TEST(MpegDecoding, DamagedLayerThreeFramesStayBounded) {
    // Side information at its extremes (part2_3_length 4095, big_values 511,
    // main_data_begin 511, every table) and garbage main data: each frame
    // decodes to something finite and the stream carries on.
    std::vector<uint8_t> s = LoadFixture("fx_l3.mp3");
    size_t intact = Decode(s).size();
    uint32_t seed = 12345;
    int32_t offset = 0, frame = 0;
    while (offset + 418 < (int32_t)s.size()) {
        int size = 417 + ((s[offset + 2] >> 1) & 1);
        for (int i = 4; i < size; i++) {
            seed = seed * 1103515245u + 12345u;
            if (frame % 2 == 0 ? i < 36 : true) s[offset + i] = frame % 3 == 0 ? 0xFF : (uint8_t)(seed >> 16);
        }
        offset += size;
        frame++;
    }
    ASSERT_GT(frame, 10);
    EXPECT_EQ(Decode(s).size(), intact);
}
