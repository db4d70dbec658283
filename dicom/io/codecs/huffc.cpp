// Lossless JPEG encoder: difference categories, Huffman tables and the entropy coding.
#include "JPEGInternal.h"

#include <bit>

namespace ljpeg {
namespace {

// The difference of a sample from its prediction, modulo 2^16 and taken as signed.
inline int32_t difference(int32_t sample, int32_t prediction) {
    return int16_t(uint16_t(sample - prediction));
}

// Category: the bit length of |d|; -32768 stands for the difference 32768, category 16.
inline int category(int32_t d) {
    const uint32_t magnitude = uint32_t(d < 0 ? -d : d);
    return int(std::bit_width(magnitude));
}

inline int32_t predict(int psv, int32_t ra, int32_t rb, int32_t rc) {
    switch (psv) {
    case 1:
        return ra;
    case 2:
        return rb;
    case 3:
        return rc;
    case 4:
        return ra + rb - rc;
    case 5:
        return ra + ((rb - rc) >> 1);
    case 6:
        return rb + ((ra - rc) >> 1);
    case 7:
        return (ra + rb) >> 1;
    default:
        return 0;
    }
}

inline void encodeDiff(JpegOutput& out, const HuffmanTable& htbl, int32_t d) {
    const int s = category(d);
    out.putBits(htbl.ehufco[s], htbl.ehufsi[s]);
    if (s > 0 && s < 16) out.putBits(uint32_t(d < 0 ? d - 1 : d) & hdMask[s], s);
}

} // namespace

void CountCategories(const CompressInfo& info, uint32_t candidates, uint64_t counts[8][17]) {
    std::memset(counts, 0, sizeof(uint64_t) * 8 * 17);
    const int32_t width = info.imageWidth;
    const uint16_t* s = info.samples.get();
    const int32_t initial = 1 << (info.dataPrecision - info.Pt - 1);
    const int n = int(candidates);

    for (int32_t y = 0; y < info.imageHeight; ++y) {
        const uint16_t* cur = s + size_t(y) * size_t(width);
        // The first row and the first row of every restart interval are coded alike by every
        // predictor. They are counted as they will be coded: a category that occurs only there
        // must still get a code.
        if (y == 0 || (info.restartInRows > 0 && y % info.restartInRows == 0)) {
            int first[17] = {};
            ++first[category(difference(cur[0], initial))];
            for (int32_t x = 1; x < width; ++x)
                ++first[category(difference(cur[x], cur[x - 1]))];
            for (int psv = 1; psv <= n; ++psv)
                for (int c = 0; c < 17; ++c)
                    counts[psv][c] += uint64_t(first[c]);
            continue;
        }
        const uint16_t* above = cur - width;
        const int c0 = category(difference(cur[0], above[0]));
        for (int psv = 1; psv <= n; ++psv)
            ++counts[psv][c0];
        for (int32_t x = 1; x < width; ++x)
            for (int psv = 1; psv <= n; ++psv)
                ++counts[psv][category(difference(cur[x], predict(psv, cur[x - 1], above[x], above[x - 1])))];
    }
}

uint64_t CodedBits(const uint64_t counts[17], const HuffmanTable& htbl) {
    uint64_t bits = 0;
    for (int c = 0; c < 17; ++c) {
        if (!counts[c]) continue;
        if (!htbl.ehufsi[c]) return UINT64_MAX;
        bits += counts[c] * uint64_t(htbl.ehufsi[c] + c);
    }
    return bits;
}

bool GenOptimalTable(const uint64_t counts[17], HuffmanTable* htbl) {
    // Symbol 256 is reserved with a count of 1 so that no real code is all 1-bits.
    uint64_t freq[257] = {};
    for (int c = 0; c < 17; ++c)
        freq[c] = counts[c];
    freq[256] = 1;
    int codesize[257] = {};
    int others[257];
    for (int& o : others)
        o = -1;

    // Huffman's procedure: merge the two least frequent trees until one is left.
    for (;;) {
        int c1 = -1;
        uint64_t v = UINT64_MAX;
        for (int i = 0; i <= 256; ++i)
            if (freq[i] && freq[i] <= v) {
                v = freq[i];
                c1 = i;
            }
        int c2 = -1;
        v = UINT64_MAX;
        for (int i = 0; i <= 256; ++i)
            if (freq[i] && freq[i] <= v && i != c1) {
                v = freq[i];
                c2 = i;
            }
        if (c2 < 0) break;
        freq[c1] += freq[c2];
        freq[c2] = 0;
        ++codesize[c1];
        while (others[c1] >= 0) {
            c1 = others[c1];
            ++codesize[c1];
        }
        others[c1] = c2;
        ++codesize[c2];
        while (others[c2] >= 0) {
            c2 = others[c2];
            ++codesize[c2];
        }
    }

    int bits[33] = {};
    for (int i = 0; i <= 256; ++i) {
        if (!codesize[i]) continue;
        if (codesize[i] > 32) return false;
        ++bits[codesize[i]];
    }
    // Lengths over 16: move pairs of leaves up the tree (T.81 Figure K.3).
    for (int i = 32; i > 16; --i) {
        while (bits[i] > 0) {
            int j = i - 2;
            while (bits[j] == 0)
                --j;
            bits[i] -= 2;
            ++bits[i - 1];
            bits[j + 1] += 2;
            --bits[j];
        }
    }
    // Drop the reserved symbol's code, the longest.
    int i = 16;
    while (bits[i] == 0)
        --i;
    --bits[i];

    std::memset(htbl, 0, sizeof(*htbl));
    for (int l = 1; l <= 16; ++l)
        htbl->bits[l] = uint8_t(bits[l]);
    int p = 0;
    for (int l = 1; l <= 32; ++l)
        for (int c = 0; c < 17; ++c)
            if (codesize[c] == l) htbl->huffval[p++] = uint8_t(c);
    return FixHuffTbl(htbl);
}

void HuffEncode(const CompressInfo& info, JpegOutput& out) {
    const int32_t width = info.imageWidth;
    const uint16_t* s = info.samples.get();
    const HuffmanTable& htbl = *info.dcHuffTblPtrs[info.curCompInfo[0]->dcTblNo];
    const int32_t initial = 1 << (info.dataPrecision - info.Pt - 1);
    const int psv = info.Ss;
    int32_t rowsToGo = info.restartInRows;
    int restartNum = 0;

    for (int32_t y = 0; y < info.imageHeight; ++y) {
        const uint16_t* cur = s + size_t(y) * size_t(width);
        bool firstStyle = y == 0;
        if (y > 0 && info.restartInRows > 0 && rowsToGo == 0) {
            out.flushBits();
            out.putMarker(uint8_t(M_RST0 + restartNum));
            restartNum = (restartNum + 1) & 7;
            rowsToGo = info.restartInRows;
            firstStyle = true;
        }
        if (firstStyle) {
            encodeDiff(out, htbl, difference(cur[0], initial));
            for (int32_t x = 1; x < width; ++x)
                encodeDiff(out, htbl, difference(cur[x], cur[x - 1]));
        } else {
            const uint16_t* above = cur - width;
            encodeDiff(out, htbl, difference(cur[0], above[0]));
            for (int32_t x = 1; x < width; ++x)
                encodeDiff(out, htbl, difference(cur[x], predict(psv, cur[x - 1], above[x], above[x - 1])));
        }
        if (info.restartInRows > 0) --rowsToGo;
    }
}

} // namespace ljpeg
