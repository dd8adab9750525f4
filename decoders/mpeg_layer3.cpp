// Layer III: side information, the bit reservoir, scale factors (MPEG-1 and
// lower sampling frequencies), Huffman decoding, requantisation, mid/side and
// intensity stereo, short-block reordering, alias reduction, IMDCT with
// overlap-add and frequency inversion.
#include <cmath>
#include <cstring>

#include "decoders/mpeg_internal.h"

namespace {

struct Granule {
    int32_t part23Length;
    int32_t bigValues;
    int32_t globalGain;
    int32_t scalefacCompress;
    int32_t windowSwitching;
    int32_t blockType;
    int32_t mixed;
    int32_t tableSelect[3];
    int32_t subblockGain[3];
    int32_t region0Count;
    int32_t region1Count;
    int32_t preflag;
    int32_t scalefacScale;
    int32_t count1Table;
};

struct SideInfo {
    int32_t mainDataBegin;
    int32_t scfsi[2][4];
    Granule gr[2][2];
};

// Where one granule's spectrum is long, short or mixed.
bool IsShort(const Granule& g) { return g.windowSwitching && g.blockType == 2; }

void ReadSideInfo(MpegBits* b, bool lsf, int32_t channels, SideInfo* si) {
    si->mainDataBegin = (int32_t)b->Get(lsf ? 8 : 9);
    b->Get(lsf ? (channels == 1 ? 1 : 2) : (channels == 1 ? 5 : 3));
    if (!lsf)
        for (int32_t ch = 0; ch < channels; ch++)
            for (int32_t i = 0; i < 4; i++) si->scfsi[ch][i] = (int32_t)b->Get(1);
    for (int32_t gr = 0; gr < (lsf ? 1 : 2); gr++)
        for (int32_t ch = 0; ch < channels; ch++) {
            Granule& g = si->gr[gr][ch];
            g.part23Length = (int32_t)b->Get(12);
            g.bigValues = (int32_t)b->Get(9);
            if (g.bigValues > 288) g.bigValues = 288;
            g.globalGain = (int32_t)b->Get(8);
            g.scalefacCompress = (int32_t)b->Get(lsf ? 9 : 4);
            g.windowSwitching = (int32_t)b->Get(1);
            if (g.windowSwitching) {
                g.blockType = (int32_t)b->Get(2);
                g.mixed = (int32_t)b->Get(1);
                g.tableSelect[0] = (int32_t)b->Get(5);
                g.tableSelect[1] = (int32_t)b->Get(5);
                g.tableSelect[2] = 0;
                for (int32_t w = 0; w < 3; w++) g.subblockGain[w] = (int32_t)b->Get(3);
                g.region0Count = 0;
                g.region1Count = 0;
            } else {
                g.blockType = 0;
                g.mixed = 0;
                for (int32_t r = 0; r < 3; r++) g.tableSelect[r] = (int32_t)b->Get(5);
                g.subblockGain[0] = g.subblockGain[1] = g.subblockGain[2] = 0;
                g.region0Count = (int32_t)b->Get(4);
                g.region1Count = (int32_t)b->Get(3);
            }
            g.preflag = lsf ? 0 : (int32_t)b->Get(1);
            g.scalefacScale = (int32_t)b->Get(1);
            g.count1Table = (int32_t)b->Get(1);
        }
}

const uint8_t kSlen[2][16] = {{0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4},
                              {0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3}};

void ReadScalefactorsMpeg1(MpegBits* b, const Granule& g, const SideInfo& si, int32_t gr, int32_t ch,
                           MpegLayer3Channel* c) {
    int32_t slen1 = kSlen[0][g.scalefacCompress], slen2 = kSlen[1][g.scalefacCompress];
    if (IsShort(g)) {
        int32_t sfb = 0;
        if (g.mixed) {
            for (; sfb < 8; sfb++) c->scalefactorsLong[sfb] = (uint8_t)b->Get(slen1);
            sfb = 3;
        }
        for (; sfb < 12; sfb++)
            for (int32_t w = 0; w < 3; w++) c->scalefactorsShort[sfb][w] = (uint8_t)b->Get(sfb < 6 ? slen1 : slen2);
        for (int32_t w = 0; w < 3; w++) c->scalefactorsShort[12][w] = 0;
    } else {
        static const uint8_t kGroupStart[5] = {0, 6, 11, 16, 21};
        for (int32_t grp = 0; grp < 4; grp++) {
            if (gr == 1 && si.scfsi[ch][grp]) continue;  // granule 0's values stand
            for (int32_t sfb = kGroupStart[grp]; sfb < kGroupStart[grp + 1]; sfb++)
                c->scalefactorsLong[sfb] = (uint8_t)b->Get(grp < 2 ? slen1 : slen2);
        }
        c->scalefactorsLong[21] = 0;
    }
}

// Lower sampling frequencies: the partition of the scale factors by
// scalefac_compress (and intensity on the second channel).
const uint8_t kPartitions[6][3][4] = {
    {{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}},     {{6, 5, 7, 3}, {9, 9, 12, 6}, {6, 9, 12, 6}},
    {{11, 10, 0, 0}, {18, 18, 0, 0}, {15, 18, 0, 0}}, {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}},
    {{6, 6, 6, 3}, {12, 9, 9, 6}, {6, 12, 9, 6}},   {{8, 8, 5, 0}, {15, 12, 9, 0}, {6, 18, 9, 0}},
};

void ReadScalefactorsLsf(MpegBits* b, Granule* g, bool intensityChannel, MpegLayer3Channel* c) {
    int32_t slen[4] = {0, 0, 0, 0};
    int32_t table;
    int32_t sfc = g->scalefacCompress;
    if (!intensityChannel) {
        if (sfc < 400) {
            slen[0] = (sfc >> 4) / 5, slen[1] = (sfc >> 4) % 5, slen[2] = (sfc & 15) >> 2, slen[3] = sfc & 3;
            table = 0;
        } else if (sfc < 500) {
            sfc -= 400;
            slen[0] = (sfc >> 2) / 5, slen[1] = (sfc >> 2) % 5, slen[2] = sfc & 3;
            table = 1;
        } else {
            sfc -= 500;
            slen[0] = sfc / 3, slen[1] = sfc % 3;
            table = 2;
            g->preflag = 1;
        }
    } else {
        sfc >>= 1;
        if (sfc < 180) {
            slen[0] = sfc / 36, slen[1] = (sfc % 36) / 6, slen[2] = (sfc % 36) % 6;
            table = 3;
        } else if (sfc < 244) {
            sfc -= 180;
            slen[0] = (sfc & 63) >> 4, slen[1] = (sfc & 15) >> 2, slen[2] = sfc & 3;
            table = 4;
        } else {
            sfc -= 244;
            slen[0] = sfc / 3, slen[1] = sfc % 3;
            table = 5;
        }
    }
    int32_t kind = IsShort(*g) ? (g->mixed ? 2 : 1) : 0;
    uint8_t values[40], illegal[40];
    int32_t n = 0;
    for (int32_t p = 0; p < 4; p++)
        for (int32_t i = 0; i < kPartitions[table][kind][p]; i++) {
            values[n] = (uint8_t)b->Get(slen[p]);
            illegal[n++] = (uint8_t)((1 << slen[p]) - 1);
        }
    int32_t k = 0;
    if (kind == 0) {
        for (int32_t sfb = 0; sfb < 21; sfb++, k++) {
            c->scalefactorsLong[sfb] = values[k];
            c->illegalLong[sfb] = illegal[k];
        }
        c->scalefactorsLong[21] = 0;
        c->illegalLong[21] = c->illegalLong[20];
    } else {
        int32_t sfb = 0;
        if (kind == 2) {
            for (; sfb < 6; sfb++, k++) {
                c->scalefactorsLong[sfb] = values[k];
                c->illegalLong[sfb] = illegal[k];
            }
            sfb = 3;
        }
        for (; sfb < 12; sfb++) {
            for (int32_t w = 0; w < 3; w++, k++) c->scalefactorsShort[sfb][w] = values[k];
            c->illegalShort[sfb] = illegal[k - 1];
        }
        for (int32_t w = 0; w < 3; w++) c->scalefactorsShort[12][w] = 0;
        c->illegalShort[12] = c->illegalShort[11];
    }
}

// Decodes one (x, y) pair or quadruple code from a table; returns the value.
inline uint32_t HuffmanDecode(MpegBits* b, const MpegDerivedTables& t, int32_t source) {
    const MpegHuffEntry* table = t.huffman[source];
    uint32_t w = b->Peek32();
    int32_t k = t.huffmanRootBits[source];
    int32_t used = 0;
    const MpegHuffEntry* level = table;
    for (;;) {
        const MpegHuffEntry& e = level[(w << used) >> (32 - k)];
        if (!(e.bits & kMpegHuffSub)) {
            b->pos += used + e.bits;
            return e.value;
        }
        used += k;
        k = e.bits & 0x7F;
        level = table + e.next;
    }
}

// Huffman decoding of one granule's spectrum into quantised values; returns
// the count of lines up to the last non-zero one.
int32_t DecodeSpectrum(MpegBits* b, const Granule& g, int32_t end, const int16_t* bandsLong,
                       const int16_t* bandsShort, int32_t* q) {
    const MpegDerivedTables& t = MpegTables();
    int32_t bigLines = g.bigValues * 2;
    int32_t region1, region2;
    if (g.windowSwitching) {
        region1 = (g.blockType == 2 && !g.mixed) ? bandsShort[3] * 3 : bandsLong[8];
        region2 = 576;
    } else {
        int32_t r1 = g.region0Count + 1, r2 = g.region0Count + g.region1Count + 2;
        region1 = bandsLong[r1 > 22 ? 22 : r1];
        region2 = bandsLong[r2 > 22 ? 22 : r2];
    }
    int32_t i = 0;
    for (int32_t r = 0; r < 3; r++) {
        int32_t regionEnd = r == 0 ? region1 : r == 1 ? region2 : 576;
        if (regionEnd > bigLines) regionEnd = bigLines;
        int32_t select = g.tableSelect[r];
        int32_t source = kMpegHuffmanSourceOf[select];
        int32_t linbits = kMpegLinbits[select];
        if (source == 0 || !t.huffmanUsed[source]) {
            for (; i < regionEnd; i++) q[i] = 0;
            continue;
        }
        for (; i < regionEnd; i += 2) {
            uint32_t v = HuffmanDecode(b, t, source);
            int32_t x = (int32_t)(v >> 4), y = (int32_t)(v & 15);
            if (x == 15 && linbits) x += (int32_t)b->Get(linbits);
            if (x && b->Get(1)) x = -x;
            if (y == 15 && linbits) y += (int32_t)b->Get(linbits);
            if (y && b->Get(1)) y = -y;
            q[i] = x;
            q[i + 1] = y;
        }
    }
    // Count1 region: quadruples until the granule's bits are spent. A
    // quadruple that runs past the end was not coded and is dropped.
    while (i + 4 <= 576 && b->pos < end) {
        int32_t v;
        if (g.count1Table)
            v = (int32_t)(~b->Get(4) & 15);
        else
            v = (int32_t)HuffmanDecode(b, t, kMpegQuadSource);
        int32_t quad[4] = {(v >> 3) & 1, (v >> 2) & 1, (v >> 1) & 1, v & 1};
        for (int32_t j = 0; j < 4; j++)
            if (quad[j] && b->Get(1)) quad[j] = -1;
        if (b->pos > end) break;
        for (int32_t j = 0; j < 4; j++) q[i + j] = quad[j];
        i += 4;
    }
    int32_t count = i;
    for (; i < 576; i++) q[i] = 0;
    while (count > 0 && q[count - 1] == 0) count--;
    return count;
}

// 2^(exponent / 4), the gain of one band.
inline float BandGain(const MpegDerivedTables& t, int32_t exponent) {
    int32_t e = exponent + kMpegPow2Zero;
    e = e < 0 ? 0 : e >= kMpegPow2Entries ? kMpegPow2Entries - 1 : e;
    return t.pow2Quarter[e];
}

// sign(q) |q|^(4/3) gain for lines start..end; |q| never exceeds 15 + 2^13 - 1.
inline void RequantizeBand(const MpegDerivedTables& t, const int32_t* q, int32_t start, int32_t end, float gain,
                           float* xr) {
    for (int32_t i = start; i < end; i++) {
        int32_t v = q[i];
        float m = t.pow43[v < 0 ? -v : v] * gain;
        xr[i] = v < 0 ? -m : m;
    }
}

// The line where the long part of a mixed block ends (36 at every rate but
// 8 kHz, where the short part starts one band later).
int32_t MixedLongSfbs(const int16_t* bandsLong) {
    int32_t sfb = 0;
    while (sfb < 22 && bandsLong[sfb + 1] <= 36) sfb++;
    return sfb;
}

void Dequantize(const Granule& g, const MpegLayer3Channel& c, const int32_t* q, int32_t count,
                const int16_t* bandsLong, const int16_t* bandsShort, float* xr) {
    const MpegDerivedTables& t = MpegTables();
    int32_t shift = 2 * (1 + g.scalefacScale);
    int32_t base = g.globalGain - 210;
    for (int32_t i = 0; i < 576; i++) xr[i] = 0.0f;
    int32_t longSfbs = IsShort(g) ? (g.mixed ? MixedLongSfbs(bandsLong) : 0) : 22;
    for (int32_t sfb = 0; sfb < longSfbs; sfb++) {
        int32_t start = bandsLong[sfb], end = bandsLong[sfb + 1];
        if (start >= count) return;
        int32_t e = base - shift * (c.scalefactorsLong[sfb] + (g.preflag ? kMpegPretab[sfb] : 0));
        RequantizeBand(t, q, start, end < count ? end : count, BandGain(t, e), xr);
    }
    if (!IsShort(g)) return;
    for (int32_t sfb = g.mixed ? 3 : 0; sfb < 13; sfb++) {
        int32_t width = bandsShort[sfb + 1] - bandsShort[sfb];
        for (int32_t w = 0; w < 3; w++) {
            int32_t start = bandsShort[sfb] * 3 + w * width;
            if (start >= count) return;
            int32_t e = base - 8 * g.subblockGain[w] - shift * c.scalefactorsShort[sfb][w];
            RequantizeBand(t, q, start, start + width < count ? start + width : count, BandGain(t, e), xr);
        }
    }
}

// Intensity factors for the left and right channels at one position.
bool IntensityFactors(bool lsf, int32_t position, int32_t illegal, int32_t intensityScale, float* kl, float* kr) {
    if (lsf) {
        if (position == illegal) return false;
        double io = intensityScale ? 0.70710678118654752 : 0.84089641525371454;  // 2^-1/2, 2^-1/4
        *kl = 1.0f, *kr = 1.0f;
        if (position & 1)
            *kl = (float)std::pow(io, (position + 1) / 2);
        else if (position)
            *kr = (float)std::pow(io, position / 2);
        return true;
    }
    if (position >= 7) return false;
    if (position == 6) {
        *kl = 1.0f, *kr = 0.0f;
        return true;
    }
    double ratio = std::tan(position * 3.14159265358979323846 / 12.0);
    *kl = (float)(ratio / (1.0 + ratio));
    *kr = (float)(1.0 / (1.0 + ratio));
    return true;
}

struct StereoBand {
    int32_t start, width, stride;  // lines start, start + stride, ... (width of them)
};

void StereoRange(float* l, float* r, int32_t start, int32_t width, bool ms, bool intensity, float kl, float kr) {
    const float invSqrt2 = 0.70710678118654752f;
    if (intensity) {
        for (int32_t i = start; i < start + width; i++) {
            float v = l[i];
            l[i] = v * kl;
            r[i] = v * kr;
        }
    } else if (ms) {
        for (int32_t i = start; i < start + width; i++) {
            float m = l[i], s = r[i];
            l[i] = (m + s) * invSqrt2;
            r[i] = (m - s) * invSqrt2;
        }
    }
}

void JointStereo(const MpegFrameHeader& h, const Granule& g, const MpegLayer3Channel& right, int32_t intensityScale,
                 const int16_t* bandsLong, const int16_t* bandsShort, float* l, float* r, int32_t* counts) {
    bool lsf = h.version != 1;
    bool ms = (h.modeExtension & 2) != 0;
    bool intensity = (h.modeExtension & 1) != 0;
    int32_t upper = counts[0] > counts[1] ? counts[0] : counts[1];
    if (!intensity) {
        if (ms) StereoRange(l, r, 0, upper, true, false, 0, 0);
        counts[0] = counts[1] = upper;
        return;
    }
    float kl = 0, kr = 0;
    bool longIntensity = true;  // whether the long part may carry intensity
    int32_t longSfbs = IsShort(g) ? (g.mixed ? MixedLongSfbs(bandsLong) : 0) : 22;
    if (IsShort(g)) {
        int32_t first = g.mixed ? 3 : 0;
        for (int32_t w = 0; w < 3; w++) {
            // Intensity starts above the right channel's last non-zero band in this window.
            int32_t isStart = first;
            for (int32_t sfb = 12; sfb >= first; sfb--) {
                int32_t width = bandsShort[sfb + 1] - bandsShort[sfb];
                int32_t start = bandsShort[sfb] * 3 + w * width;
                bool nonzero = false;
                for (int32_t i = start; i < start + width; i++) nonzero |= r[i] != 0.0f;
                if (nonzero) {
                    isStart = sfb + 1;
                    longIntensity = false;
                    break;
                }
            }
            for (int32_t sfb = first; sfb < 13; sfb++) {
                int32_t width = bandsShort[sfb + 1] - bandsShort[sfb];
                int32_t start = bandsShort[sfb] * 3 + w * width;
                int32_t at = sfb < 12 ? sfb : 11;
                bool is = sfb >= isStart &&
                          IntensityFactors(lsf, right.scalefactorsShort[at][w], right.illegalShort[at], intensityScale, &kl, &kr);
                StereoRange(l, r, start, width, ms, is, kl, kr);
            }
        }
    }
    if (longSfbs > 0) {
        // Intensity starts at the first band above the right channel's last non-zero line.
        int32_t isStart = longSfbs;
        if (longIntensity) {
            isStart = 0;
            while (isStart < longSfbs && bandsLong[isStart] < counts[1]) isStart++;
        }
        for (int32_t sfb = 0; sfb < longSfbs; sfb++) {
            int32_t start = bandsLong[sfb], width = bandsLong[sfb + 1] - start;
            int32_t at = sfb < 21 ? sfb : 20;
            bool is = sfb >= isStart &&
                      IntensityFactors(lsf, right.scalefactorsLong[at], lsf ? right.illegalLong[at] : 7, intensityScale, &kl, &kr);
            StereoRange(l, r, start, width, ms, is, kl, kr);
        }
    }
    counts[0] = counts[1] = 576;
}

// Reorders the short part from (band, window, line) into (line, window) order.
void Reorder(const Granule& g, const int16_t* bandsShort, float* xr) {
    float tmp[576];
    int32_t first = g.mixed ? 3 : 0;
    int32_t begin = bandsShort[first] * 3;
    for (int32_t sfb = first; sfb < 13; sfb++) {
        int32_t start = bandsShort[sfb] * 3, width = bandsShort[sfb + 1] - bandsShort[sfb];
        for (int32_t w = 0; w < 3; w++)
            for (int32_t f = 0; f < width; f++) tmp[start + 3 * f + w] = xr[start + w * width + f];
    }
    memcpy(xr + begin, tmp + begin, (576 - begin) * sizeof(float));
}

[[gnu::always_inline]] inline void AliasReduce(float* xr, int32_t subbands) {
    const MpegDerivedTables& t = MpegTables();
    for (int32_t sb = 1; sb < subbands; sb++) {
        float* a = xr + sb * 18;
        for (int32_t i = 0; i < 8; i++) {
            float lo = a[-1 - i], hi = a[i];
            a[-1 - i] = lo * t.aliasCs[i] - hi * t.aliasCa[i];
            a[i] = hi * t.aliasCs[i] + lo * t.aliasCa[i];
        }
    }
}

[[gnu::always_inline]] inline void ImdctLong(const float* in, const float* window, float* overlap, float* out) {
    const MpegDerivedTables& t = MpegTables();
    float y[kMpegImdctStride];
    for (int32_t o = 0; o < kMpegImdctStride; o++) y[o] = 0.0f;
    for (int32_t k = 0; k < 18; k++) {
        float x = in[k];
        const float* c = t.imdctLong[k];
        for (int32_t o = 0; o < kMpegImdctStride; o++) y[o] += x * c[o];
    }
    float z[36];
    for (int32_t i = 0; i < 9; i++) {
        z[i] = y[i];
        z[17 - i] = -y[i];
        z[18 + i] = y[9 + i];
        z[35 - i] = y[9 + i];
    }
    for (int32_t i = 0; i < 18; i++) {
        out[i] = overlap[i] + z[i] * window[i];
        overlap[i] = z[18 + i] * window[18 + i];
    }
}

[[gnu::always_inline]] inline void ImdctShort(const float* in, const float* window, float* overlap, float* out) {
    const MpegDerivedTables& t = MpegTables();
    float z[36];
    for (int32_t i = 0; i < 36; i++) z[i] = 0.0f;
    for (int32_t w = 0; w < 3; w++) {
        float y[12];
        for (int32_t i = 0; i < 12; i++) y[i] = 0.0f;
        for (int32_t k = 0; k < 6; k++) {
            float x = in[3 * k + w];
            for (int32_t i = 0; i < 12; i++) y[i] += x * t.imdctShort[k][i];
        }
        for (int32_t i = 0; i < 12; i++) z[6 + 6 * w + i] += y[i] * window[i];
    }
    for (int32_t i = 0; i < 18; i++) {
        out[i] = overlap[i] + z[i];
        overlap[i] = z[18 + i];
    }
}

// Alias reduction, IMDCT, overlap-add and frequency inversion of one channel's
// granule into 18 blocks of subband values.
[[gnu::always_inline]] inline void HybridBody(MpegDecoder* d, const Granule& g, int32_t ch, float* xr, int32_t count,
                                             float (*blocks)[32]) {
    const MpegDerivedTables& t = MpegTables();
    int32_t subbands = (count + 17) / 18;
    if (!IsShort(g)) {
        AliasReduce(xr, subbands < 31 ? subbands + 1 : 32);
        subbands = subbands < 31 ? subbands + 1 : 32;
    } else if (g.mixed) {
        AliasReduce(xr, 2);
        if (subbands < 2) subbands = 2;
    }
    if (subbands > d->limit) subbands = d->limit;
    float* overlap = d->overlap[ch];
    for (int32_t sb = 0; sb < 32; sb++) {
        float out[18];
        float* ov = overlap + sb * 18;
        if (sb >= subbands) {
            // No spectrum here: the previous granule's tail is all that remains.
            for (int32_t i = 0; i < 18; i++) out[i] = sb < d->limit ? ov[i] : 0.0f;
            for (int32_t i = 0; i < 18; i++) ov[i] = 0.0f;
        } else if (IsShort(g) && !(g.mixed && sb < 2)) {
            ImdctShort(xr + sb * 18, t.window[2], ov, out);
        } else {
            int32_t type = (g.windowSwitching && !(g.mixed && sb < 2)) ? g.blockType : 0;
            ImdctLong(xr + sb * 18, t.window[type], ov, out);
        }
        if (sb & 1)
            for (int32_t i = 1; i < 18; i += 2) out[i] = -out[i];
        for (int32_t i = 0; i < 18; i++) blocks[i][sb] = out[i];
    }
}

MPEG_TARGET_FMA void HybridFma(MpegDecoder* d, const Granule& g, int32_t ch, float* xr, int32_t count,
                               float (*blocks)[32]) {
    HybridBody(d, g, ch, xr, count, blocks);
}

void HybridBase(MpegDecoder* d, const Granule& g, int32_t ch, float* xr, int32_t count, float (*blocks)[32]) {
    HybridBody(d, g, ch, xr, count, blocks);
}

}  // namespace

void MpegDecodeLayer3(MpegDecoder* d, const MpegFrameHeader& h, const uint8_t* frame, int32_t frameSize,
                      uint8_t* out) {
    bool lsf = h.version != 1;
    int32_t channels = h.mode == 3 ? 1 : 2;
    int32_t crc = h.crcPresent ? 2 : 0;
    int32_t sideBytes = lsf ? (channels == 1 ? 9 : 17) : (channels == 1 ? 17 : 32);
    MpegBits sideBits{frame, frameSize, (4 + crc) * 8};
    SideInfo si;
    ReadSideInfo(&sideBits, lsf, channels, &si);

    // Reservoir: compact, append this frame's main data, then check that the
    // data this frame begins with is still held.
    int32_t mainBytes = frameSize - 4 - crc - sideBytes;
    if (mainBytes < 0) mainBytes = 0;
    if (d->reservoirSize > kMpegReservoirCompactAt) {
        int32_t keep = si.mainDataBegin;
        memmove(d->reservoir, d->reservoir + d->reservoirSize - keep, keep);
        d->reservoirSize = keep;
    }
    int32_t held = d->reservoirSize;
    if (mainBytes > 0) memcpy(d->reservoir + held, frame + 4 + crc + sideBytes, mainBytes);
    d->reservoirSize = held + mainBytes;
    if (si.mainDataBegin > held) return;

    int32_t rateIndex = (h.version == 1 ? 0 : h.version == 2 ? 3 : 6) + h.sampleRateIndex;
    const int16_t* bandsLong = kMpegBandsLong[rateIndex];
    const int16_t* bandsShort = kMpegBandsShort[rateIndex];
    int32_t granules = lsf ? 1 : 2;
    int32_t maxLines = 18 * d->limit;
    bool intensity = h.mode == 1 && (h.modeExtension & 1);
    MpegBits bits{d->reservoir, kMpegReservoirBytes, (held - si.mainDataBegin) * 8};
    int32_t q[576];

    for (int32_t gr = 0; gr < granules; gr++) {
        int32_t counts[2] = {0, 0};
        int32_t intensityScale = 0;
        for (int32_t ch = 0; ch < channels; ch++) {
            Granule& g = si.gr[gr][ch];
            int32_t start = bits.pos;
            int32_t end = start + g.part23Length;
            if (lsf) {
                ReadScalefactorsLsf(&bits, &g, intensity && ch == 1, &d->l3[ch]);
                if (intensity && ch == 1) intensityScale = g.scalefacCompress & 1;
            } else {
                ReadScalefactorsMpeg1(&bits, g, si, gr, ch, &d->l3[ch]);
            }
            int32_t count = DecodeSpectrum(&bits, g, end, bandsLong, bandsShort, q);
            if (count > maxLines) count = maxLines;
            Dequantize(g, d->l3[ch], q, count, bandsLong, bandsShort, d->spectrum[ch]);
            counts[ch] = count;
            bits.pos = end;
        }
        if (channels == 2 && h.mode == 1)
            JointStereo(h, si.gr[gr][0], d->l3[1], intensityScale, bandsLong, bandsShort, d->spectrum[0],
                        d->spectrum[1], counts);
        int32_t decoded = channels;
        if (d->outChannels == 1 && channels == 2) {
            if (d->channelMode == 1)
                for (int32_t i = 0; i < 576; i++) d->spectrum[0][i] += d->spectrum[1][i];
            if (d->channelMode == 3) memcpy(d->spectrum[0], d->spectrum[1], sizeof d->spectrum[0]);
            if (d->channelMode != 2 && counts[1] > counts[0]) counts[0] = counts[1];
            if (d->channelMode == 3) counts[0] = counts[1];
            decoded = 1;
        }
        for (int32_t ch = 0; ch < decoded; ch++) {
            const Granule& g = si.gr[gr][d->channelMode == 3 && decoded == 1 ? 1 : ch];
            int32_t count = counts[ch];
            if (count > maxLines) count = maxLines;
            if (IsShort(g)) {
                Reorder(g, bandsShort, d->spectrum[ch]);
                count = 576;
                if (count > maxLines) count = maxLines;
            }
            if (MpegHasFma())
                HybridFma(d, g, ch, d->spectrum[ch], count, d->subbands[ch] + gr * 18);
            else
                HybridBase(d, g, ch, d->spectrum[ch], count, d->subbands[ch] + gr * 18);
        }
        if (gr == granules - 1) MpegSynthesize(d, decoded, 0, granules * 18, out);
    }
}
