// Lossless JPEG decoder: Huffman tables, bit input and the decoding of the scan's rows.
#include "JPEGInternal.h"

#include <bit>

namespace ljpeg {
namespace {

// Codes of up to kLookBits bits are found with one look-up; where the appended bits fit in the
// same window, the entry holds the finished difference.
constexpr int kLookBits = 12;

// Look-up entry: bits 0-4 the number of bits to consume, bit 9 set when bits 10 and up hold the
// difference itself, clear when they hold the category whose bits still follow the code. An entry
// of 0: the code is longer than kLookBits.
constexpr int32_t kEntryDone = 0x200;

struct DecodeTable {
    int32_t look[1 << kLookBits];
    int32_t maxcode[17];   // -1: no code of that length
    int32_t valoffset[17]; // huffval index = code + valoffset[l]
    uint8_t huffval[256];
};

int32_t extend(uint32_t v, int s) {
    return int32_t(v) < extendTest[s] ? int32_t(v) + extendOffset[s] : int32_t(v);
}

void buildDecodeTable(const HuffmanTable& h, DecodeTable& t) {
    std::memset(t.look, 0, sizeof(t.look));
    std::memcpy(t.huffval, h.huffval, sizeof(t.huffval));
    for (int l = 1; l <= 16; ++l) {
        t.maxcode[l] = h.maxcode[l];
        t.valoffset[l] = h.valptr[l] - h.mincode[l];
    }
    int p = 0;
    for (int l = 1; l <= kLookBits; ++l) {
        for (int i = 0; i < h.bits[l]; ++i, ++p) {
            const int s = h.huffval[p];
            const uint32_t code = uint32_t(h.mincode[l]) + uint32_t(i);
            const int spare = kLookBits - l;
            for (uint32_t suffix = 0; suffix < (1u << spare); ++suffix) {
                const uint32_t index = (code << spare) | suffix;
                int32_t entry;
                if (s == 0)
                    entry = kEntryDone | l;
                else if (s == 16)
                    entry = (32768 << 10) | kEntryDone | l;
                else if (s <= spare)
                    entry = (extend(suffix >> (spare - s), s) * 1024) | kEntryDone | (l + s);
                else
                    entry = (s << 10) | l;
                t.look[index] = entry;
            }
        }
    }
}

// Bits of the entropy-coded data, most significant first. At a marker (FF followed by anything but
// 00) or the end of the data, zero bits are supplied; taking any of them means the data was cut
// short, which the caller checks after each row.
struct BitReader {
    uint64_t acc = 0; // valid bits at the top
    int32_t nbits = 0;
    int32_t fakeBits = 0; // the last fakeBits of the nbits are supplied zeros
    bool stopped = false;
    const uint8_t* p;
    const uint8_t* end;

    bool truncated() const { return nbits < fakeBits; }

    void fill() {
        if (!stopped && end - p >= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
            const uint64_t inv = ~w; // a zero byte here is an FF byte in the data
            if (((inv - 0x0101010101010101ull) & ~inv & 0x8080808080808080ull) == 0) {
                const int nbytes = (63 - nbits) >> 3;
                acc |= (w >> (64 - 8 * nbytes)) << (64 - 8 * nbytes - nbits);
                nbits += 8 * nbytes;
                p += nbytes;
                return;
            }
        }
        while (nbits <= 56) {
            if (stopped) {
                nbits += 8;
                fakeBits += 8;
                continue;
            }
            if (p >= end) {
                stopped = true;
                continue;
            }
            const uint8_t b = *p;
            if (b == 0xFF) {
                if (end - p < 2 || p[1] != 0) {
                    stopped = true; // a marker: it stays in the data for whoever reads on
                    continue;
                }
                p += 2;
            } else {
                ++p;
            }
            acc |= uint64_t(b) << (56 - nbits);
            nbits += 8;
        }
    }

    void skip(int n) {
        acc <<= n;
        nbits -= n;
    }

    // Drops what is left of the bits and finds the next marker, passing over FF fill bytes and
    // FF 00. -1 when the data ends first.
    int nextMarker() {
        acc = 0;
        nbits = 0;
        fakeBits = 0;
        stopped = false;
        for (;;) {
            while (p < end && *p != 0xFF)
                ++p;
            while (p < end && *p == 0xFF)
                ++p;
            if (p >= end) return -1;
            const uint8_t c = *p++;
            if (c != 0) return c;
        }
    }
};

// One difference. *bad is set for a code that is not in the table.
inline int32_t decodeDiff(BitReader& br, const DecodeTable& t, int* bad) {
    if (br.nbits < 32) br.fill();
    const int32_t entry = t.look[br.acc >> (64 - kLookBits)];
    if (entry & kEntryDone) {
        br.skip(entry & 31);
        return entry >> 10;
    }
    int s;
    if (entry) {
        br.skip(entry & 31);
        s = entry >> 10;
    } else {
        int l = kLookBits + 1;
        int32_t code = int32_t(br.acc >> (64 - l));
        while (l <= 16 && code > t.maxcode[l]) {
            ++l;
            code = int32_t(br.acc >> (64 - l));
        }
        if (l > 16) {
            *bad = 1;
            br.skip(16);
            return 0;
        }
        br.skip(l);
        s = t.huffval[code + t.valoffset[l]];
        if (s == 0) return 0;
        if (s == 16) return 32768;
    }
    const uint32_t v = uint32_t(br.acc >> (64 - s));
    br.skip(s);
    return extend(v, s);
}

template <int PSV> inline int32_t predict(int32_t ra, int32_t rb, int32_t rc) {
    if constexpr (PSV == 1)
        return ra;
    else if constexpr (PSV == 2)
        return rb;
    else if constexpr (PSV == 3)
        return rc;
    else if constexpr (PSV == 4)
        return ra + rb - rc;
    else if constexpr (PSV == 5)
        return ra + ((rb - rc) >> 1);
    else if constexpr (PSV == 6)
        return rb + ((ra - rc) >> 1);
    else if constexpr (PSV == 7)
        return (ra + rb) >> 1;
    else
        return 0;
}

// One row of a one-component scan. PSV 0 stands for the first-row style: the first sample
// against `initial`, the others against their left neighbour.
template <int PSV>
void decodeRow1(BitReader& br, const DecodeTable& t, uint16_t* cur, const uint16_t* prev, int32_t width,
                int32_t initial, int* bad) {
    if constexpr (PSV == 0) {
        int32_t ra = uint16_t(initial + decodeDiff(br, t, bad));
        cur[0] = uint16_t(ra);
        for (int32_t x = 1; x < width; ++x) {
            ra = uint16_t(ra + decodeDiff(br, t, bad));
            cur[x] = uint16_t(ra);
        }
    } else {
        int32_t ra = uint16_t(prev[0] + decodeDiff(br, t, bad));
        cur[0] = uint16_t(ra);
        for (int32_t x = 1; x < width; ++x) {
            ra = uint16_t(predict<PSV>(ra, prev[x], prev[x - 1]) + decodeDiff(br, t, bad));
            cur[x] = uint16_t(ra);
        }
    }
}

// One row of an interleaved scan of n components: the samples of a pixel lie together.
template <int PSV>
void decodeRowN(BitReader& br, const DecodeTable* const* tables, int n, uint16_t* cur, const uint16_t* prev,
                int32_t width, int32_t initial, int* bad) {
    for (int c = 0; c < n; ++c) {
        const int32_t pred = PSV == 0 ? initial : prev[c];
        cur[c] = uint16_t(pred + decodeDiff(br, *tables[c], bad));
    }
    for (int32_t x = 1; x < width; ++x) {
        uint16_t* px = cur + x * n;
        const uint16_t* above = prev + x * n;
        for (int c = 0; c < n; ++c) {
            const int32_t ra = px[c - n];
            const int32_t pred = PSV == 0 ? ra : predict<PSV>(ra, above[c], above[c - n]);
            px[c] = uint16_t(pred + decodeDiff(br, *tables[c], bad));
        }
    }
}

using Row1Fn = void (*)(BitReader&, const DecodeTable&, uint16_t*, const uint16_t*, int32_t, int32_t, int*);
using RowNFn = void (*)(BitReader&, const DecodeTable* const*, int, uint16_t*, const uint16_t*, int32_t,
                        int32_t, int*);

// Predictor selection values outside 1-7 predict 0 (the slot of 8 below).
constexpr Row1Fn kRow1[9] = {decodeRow1<0>, decodeRow1<1>, decodeRow1<2>, decodeRow1<3>, decodeRow1<4>,
                             decodeRow1<5>, decodeRow1<6>, decodeRow1<7>, decodeRow1<8>};
constexpr RowNFn kRowN[9] = {decodeRowN<0>, decodeRowN<1>, decodeRowN<2>, decodeRowN<3>, decodeRowN<4>,
                             decodeRowN<5>, decodeRowN<6>, decodeRowN<7>, decodeRowN<8>};

} // namespace
} // namespace ljpeg

bool FixHuffTbl(HuffmanTable* htbl) {
    // Code lengths in symbol order, then the canonical codes (T.81 Annex C).
    uint8_t huffsize[257];
    uint16_t huffcode[257];
    int p = 0;
    for (int l = 1; l <= 16; ++l)
        for (int i = 0; i < htbl->bits[l]; ++i) {
            if (p >= 256) return false;
            huffsize[p++] = uint8_t(l);
        }
    huffsize[p] = 0;
    const int lastp = p;

    uint32_t code = 0;
    int si = huffsize[0];
    p = 0;
    while (huffsize[p]) {
        while (huffsize[p] == si) {
            huffcode[p++] = uint16_t(code);
            ++code;
        }
        // The codes of one length must fit in that many bits.
        if (code > (1u << si)) return false;
        code <<= 1;
        ++si;
    }

    std::memset(htbl->ehufco, 0, sizeof(htbl->ehufco));
    std::memset(htbl->ehufsi, 0, sizeof(htbl->ehufsi));
    for (p = 0; p < lastp; ++p) {
        // Lossless coding has categories 0-16 only.
        if (htbl->huffval[p] > 16) return false;
        htbl->ehufco[htbl->huffval[p]] = huffcode[p];
        htbl->ehufsi[htbl->huffval[p]] = huffsize[p];
    }

    p = 0;
    for (int l = 1; l <= 16; ++l) {
        if (htbl->bits[l]) {
            htbl->valptr[l] = int16_t(p);
            htbl->mincode[l] = huffcode[p];
            p += htbl->bits[l];
            htbl->maxcode[l] = huffcode[p - 1];
        } else {
            htbl->valptr[l] = 0;
            htbl->mincode[l] = 0;
            htbl->maxcode[l] = -1;
        }
    }
    htbl->valptr[0] = 0;
    htbl->mincode[0] = 0;
    htbl->maxcode[0] = -1;
    htbl->maxcode[17] = 0xFFFFF;

    std::memset(htbl->numbits, 0, sizeof(htbl->numbits));
    std::memset(htbl->value, 0, sizeof(htbl->value));
    for (p = 0; p < lastp; ++p) {
        const int size = huffsize[p];
        if (size > 8) break;
        const int spare = 8 - size;
        const int first = huffcode[p] << spare;
        for (int i = 0; i < (1 << spare); ++i) {
            htbl->numbits[first + i] = uint8_t(size);
            htbl->value[first + i] = htbl->huffval[p];
        }
    }
    return true;
}

namespace ljpeg {

OSStatus DecodeImage(ByteSource& src, DecompressInfo& info, OutputSink& sink, uint32_t* outBytes) {
    *outBytes = 0;
    for (int ci = 0; ci < info.numComponents; ++ci) {
        const JpegComponentInfo& comp = info.compInfo[size_t(ci)];
        if (comp.hSampFactor != 1 || comp.vSampFactor != 1) return kJPEGSamplingFactorsErr;
    }
    const int n = info.compsInScan;
    if (n > 4) return kJPEGTooManyComponentsErr;
    // Components coded in scans of their own are not decoded here: a scan that leaves out some of
    // the frame's components is refused rather than delivered as if it were the whole frame.
    if (n < info.numComponents) return kJPEGUnsupportedErr;
    for (int i = 0; i < n; ++i)
        info.MCUmembership[i] = int16_t(i);

    const int32_t width = info.imageWidth;
    const int32_t height = info.imageHeight;
    if (info.Pt >= info.dataPrecision) return kJPEGCorruptDataErr;
    // Restarts may fall only at the start of a row.
    if (info.restartInterval % width != 0) return kJPEGUnsupportedErr;
    info.restartInRows = info.restartInterval / width;
    info.restartRowsToGo = info.restartInRows;
    info.nextRestartNum = 0;

    Block<DecodeTable> tables;
    if (!tables.allocate(size_t(n))) return memFullErr;
    const DecodeTable* tablePtrs[4] = {};
    for (int i = 0; i < n; ++i) {
        HuffmanTable* htbl =
            info.curCompInfo[i]->dcTblNo < 4 ? info.dcHuffTblPtrs[info.curCompInfo[i]->dcTblNo] : nullptr;
        if (!htbl) return kJPEGUndefinedTableErr;
        if (!FixHuffTbl(htbl)) return kJPEGBadHuffmanTableErr;
        buildDecodeTable(*htbl, tables[size_t(i)]);
        tablePtrs[i] = &tables[size_t(i)];
    }

    const int bytesPerSample = info.dataPrecision > 8 ? 2 : 1;
    const uint64_t rowSamples = uint64_t(width) * uint64_t(n);
    const uint64_t total = rowSamples * uint64_t(height) * uint64_t(bytesPerSample);
    if (total > 0xFFFFFFFFull) return kJPEGOutputTooSmallErr;
    // Every sample takes at least one bit of coded data: a frame larger than that cannot be in
    // what is left of the stream.
    if (rowSamples * uint64_t(height) > uint64_t(src.remaining()) * 8) return kJPEGCorruptDataErr;

    Block<uint16_t> rows;
    if (!rows.allocate(size_t(rowSamples) * 2)) return memFullErr;
    uint16_t* prev = rows.get();
    uint16_t* cur = rows.get() + rowSamples;

    OSStatus err = noErr;
    uint8_t* out = sink.reserve(info, uint32_t(total), &err);
    if (!out) return err;

    BitReader br;
    br.p = src.data + src.pos;
    br.end = src.data + src.size;

    const int32_t initial = 1 << (info.dataPrecision - info.Pt - 1);
    const int psv = info.Ss >= 1 && info.Ss <= 7 ? info.Ss : 8;
    const int shift = info.Pt;
    const size_t rowBytes = size_t(rowSamples) * size_t(bytesPerSample);
    int bad = 0;
    for (int32_t row = 0; row < height; ++row) {
        int kind = row == 0 ? 0 : psv;
        // A restart marker opens every restart interval after the first; the row after it starts
        // afresh, like the first row.
        if (row > 0 && info.restartInRows > 0 && info.restartRowsToGo == 0) {
            const int marker = br.nextMarker();
            if (marker != M_RST0 + info.nextRestartNum) return kJPEGCorruptDataErr;
            info.restartRowsToGo = info.restartInRows;
            info.nextRestartNum = int16_t((info.nextRestartNum + 1) & 7);
            kind = 0;
        }
        if (n == 1)
            kRow1[kind](br, *tablePtrs[0], cur, prev, width, initial, &bad);
        else
            kRowN[kind](br, tablePtrs, n, cur, prev, width, initial, &bad);
        if (info.restartInRows > 0) --info.restartRowsToGo;
        if (bad || br.truncated()) return kJPEGCorruptDataErr;

        uint8_t* dst = out + size_t(row) * rowBytes;
        if (bytesPerSample == 1) {
            for (size_t i = 0; i < rowSamples; ++i)
                dst[i] = uint8_t(cur[i] << shift);
        } else if (shift == 0) {
            std::memcpy(dst, cur, rowBytes);
        } else {
            for (size_t i = 0; i < rowSamples; ++i) {
                const uint16_t v = uint16_t(cur[i] << shift);
                std::memcpy(dst + 2 * i, &v, 2);
            }
        }
        uint16_t* t = prev;
        prev = cur;
        cur = t;
    }
    *outBytes = uint32_t(total);
    return noErr;
}

} // namespace ljpeg
