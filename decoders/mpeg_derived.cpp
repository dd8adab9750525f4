// Tables derived from the standard ones: Huffman decoding tables, powers for
// requantisation, IMDCT and window coefficients, alias-reduction factors and
// the scaled synthesis windows. Built once per process, on first use.
#include <cmath>

#include "decoders/mpeg_internal.h"

namespace {

struct Code {
    uint32_t code;
    int32_t length;
    uint8_t value;
};

constexpr int32_t kHuffSubBits = 6;
constexpr int32_t kHuffCapacity = 1 << 12;

// Fills one level of a lookup table for codes whose first depth bits are
// already consumed; returns its start, or -1 when the table is full.
int32_t BuildLevel(MpegHuffEntry* table, int32_t* used, const Code* codes, int32_t count, int32_t depth,
                   int32_t* levelBits) {
    int32_t longest = 1;
    for (int32_t i = 0; i < count; i++)
        if (codes[i].length - depth > longest) longest = codes[i].length - depth;
    int32_t k = longest < (depth == 0 ? kMpegHuffRootBits : kHuffSubBits)
                    ? longest
                    : (depth == 0 ? kMpegHuffRootBits : kHuffSubBits);
    int32_t start = *used;
    if (start + (1 << k) > kHuffCapacity) return -1;
    *used += 1 << k;
    *levelBits = k;
    // Unassigned patterns (none in a complete code) consume the level's bits.
    for (int32_t i = 0; i < (1 << k); i++) table[start + i] = {0, (uint8_t)k, 0};
    for (int32_t i = 0; i < count; i++) {
        int32_t rest = codes[i].length - depth;
        if (rest > k) continue;
        uint32_t tail = codes[i].code & ((1u << rest) - 1);
        for (uint32_t j = 0; j < (1u << (k - rest)); j++)
            table[start + (tail << (k - rest)) + j] = {0, (uint8_t)rest, codes[i].value};
    }
    // Longer codes continue in one sub-table per prefix of k bits.
    bool longer[256] = {};
    for (int32_t i = 0; i < count; i++) {
        int32_t rest = codes[i].length - depth;
        if (rest > k) longer[(codes[i].code >> (rest - k)) & ((1u << k) - 1)] = true;
    }
    Code group[256];
    for (uint32_t prefix = 0; prefix < (1u << k); prefix++) {
        if (!longer[prefix]) continue;
        int32_t n = 0;
        for (int32_t i = 0; i < count; i++) {
            int32_t rest = codes[i].length - depth;
            if (rest > k && ((codes[i].code >> (rest - k)) & ((1u << k) - 1)) == prefix) group[n++] = codes[i];
        }
        int32_t subBits = 0;
        int32_t sub = BuildLevel(table, used, group, n, depth + k, &subBits);
        if (sub < 0) return -1;
        table[start + prefix] = {(uint16_t)sub, (uint8_t)(kMpegHuffSub | subBits), 0};
    }
    return start;
}

void BuildHuffman(MpegDerivedTables* t) {
    for (int32_t s = 0; s < kMpegHuffmanSourceCount; s++) {
        const MpegHuffmanSource& src = kMpegHuffmanSources[s];
        Code codes[256];
        int32_t n = 0;
        for (int32_t x = 0; x < src.size; x++)
            for (int32_t y = 0; y < src.size; y++) {
                int32_t i = x * src.size + y;
                if (src.lengths[i] == 0) continue;
                uint8_t value = s == kMpegQuadSource ? (uint8_t)i : (uint8_t)(x << 4 | y);
                codes[n++] = {src.codes[i], src.lengths[i], value};
            }
        int32_t used = 0, bits = 0;
        t->huffmanUsed[s] = 0;
        if (n == 0) continue;
        if (BuildLevel(t->huffman[s], &used, codes, n, 0, &bits) < 0) continue;  // left unused: reads as zeros
        t->huffmanUsed[s] = used;
        t->huffmanRootBits[s] = bits;
    }
}

double Window(int32_t n) {  // D[n] over the whole 512 values
    if (n <= 256) return kMpegSynthesisWindow[n];
    return (n % 64 == 0) ? kMpegSynthesisWindow[512 - n] : -kMpegSynthesisWindow[512 - n];
}

void Build(MpegDerivedTables* t) {
    BuildHuffman(t);
    for (int32_t i = 0; i < 8207; i++) t->pow43[i] = (float)std::pow((double)i, 4.0 / 3.0);
    for (int32_t e = 0; e < kMpegPow2Entries; e++) t->pow2Quarter[e] = (float)std::exp2((e - kMpegPow2Zero) / 4.0);
    for (int32_t i = 0; i < 63; i++) t->layer12Scale[i] = (float)std::exp2(1.0 - i / 3.0);
    t->layer12Scale[63] = 0.0f;  // reserved index

    const double pi = 3.14159265358979323846;
    for (int32_t k = 0; k < 18; k++)
        for (int32_t o = 0; o < 18; o++) {
            int32_t i = o < 9 ? o : o + 9;
            t->imdctLong[k][o] = (float)std::cos(pi / 72.0 * (2 * i + 1 + 18) * (2 * k + 1));
        }
    for (int32_t k = 0; k < 6; k++)
        for (int32_t i = 0; i < 12; i++)
            t->imdctShort[k][i] = (float)std::cos(pi / 24.0 * (2 * i + 1 + 6) * (2 * k + 1));
    for (int32_t i = 0; i < 36; i++) {
        double longWin = std::sin(pi / 36.0 * (i + 0.5));
        t->window[0][i] = (float)longWin;
        t->window[1][i] = (float)(i < 18 ? longWin
                                         : i < 24 ? 1.0
                                         : i < 30 ? std::sin(pi / 12.0 * (i - 18 + 0.5))
                                                  : 0.0);
        t->window[3][i] = (float)(i < 6 ? 0.0
                                        : i < 12 ? std::sin(pi / 12.0 * (i - 6 + 0.5))
                                        : i < 18 ? 1.0
                                                 : longWin);
        t->window[2][i] = (float)(i < 12 ? std::sin(pi / 12.0 * (i + 0.5)) : 0.0);
    }
    static const double kAlias[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
    for (int32_t i = 0; i < 8; i++) {
        double root = std::sqrt(1.0 + kAlias[i] * kAlias[i]);
        t->aliasCs[i] = (float)(1.0 / root);
        t->aliasCa[i] = (float)(kAlias[i] / root);
    }
    // Output in 16-bit units; the reduced rates sample the window sparsely.
    for (int32_t r = 0; r < 3; r++) {
        int32_t m = 32 >> r;
        for (int32_t n = 0; n < 16 * m; n++) t->synthesis[r][n] = (float)(Window(n << r) * 32768.0);
    }
}

}  // namespace

const MpegDerivedTables& MpegTables() {
    static MpegDerivedTables* tables = [] {
        static MpegDerivedTables built;
        Build(&built);
        return &built;
    }();
    return *tables;
}
