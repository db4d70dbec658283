// Lossless JPEG encoder: the entry point. The predictor is chosen by trial over the frame; the
// Huffman table is the standard one or one built for the frame.
#include "JPEGInternal.h"

namespace ljpeg {
namespace {

OSStatus chooseTablesAndPredictor(const EncodeParams& p, CompressInfo& info) {
    const uint32_t candidates = p.predictors < 2 ? 1 : p.predictors;
    uint64_t counts[8][17];
    CountCategories(info, candidates, counts);

    HuffmanTable* htbl = static_cast<HuffmanTable*>(std::calloc(1, sizeof(HuffmanTable)));
    if (!htbl) return memFullErr;
    info.dcHuffTblPtrs[0] = htbl;
    info.curCompInfo[0]->dcTblNo = 0;

    uint64_t best = UINT64_MAX;
    int bestPsv = 0;
    if (!p.optimalTables) {
        StandardDCTable(0, htbl);
        FixHuffTbl(htbl);
        for (uint32_t psv = 1; psv <= candidates; ++psv) {
            const uint64_t bits = CodedBits(counts[psv], *htbl);
            if (bits < best) {
                best = bits;
                bestPsv = int(psv);
            }
        }
    } else {
        HuffmanTable trial;
        for (uint32_t psv = 1; psv <= candidates; ++psv) {
            if (!GenOptimalTable(counts[psv], &trial)) continue;
            const uint64_t bits = CodedBits(counts[psv], trial);
            if (bits < best) {
                best = bits;
                bestPsv = int(psv);
                *htbl = trial;
            }
        }
    }
    // The standard table has codes for categories 0-11 only: larger differences (precisions
    // above 11 bits) cannot be coded with it.
    if (bestPsv == 0) return kJPEGNoHuffmanCodeErr;
    info.Ss = bestPsv;
    return noErr;
}

} // namespace
} // namespace ljpeg

OSStatus JPEG14Encode(const uint8_t* samples, void** out, uint32_t* outSize, const uint32_t* params) {
    if (outSize) *outSize = 0;
    if (out) *out = nullptr;
    if (!samples) return kJPEGNoSourceErr;
    if (!out || !outSize || !params) return paramErr;

    ljpeg::EncodeParams p;
    OSStatus err = ljpeg::ReadEncodeParams(params, &p);
    if (err != noErr) return err;
    ljpeg::CompressInfo info;
    err = ljpeg::ReadSamples(samples, p, info);
    if (err != noErr) return err;
    err = ljpeg::chooseTablesAndPredictor(p, info);
    if (err != noErr) return err;

    ljpeg::JpegOutput stream;
    // Room for the usual case; the buffer grows when stuffing or restarts need more.
    stream.reserve(size_t(info.imageWidth) * size_t(info.imageHeight) + 1024);
    ljpeg::WriteFileHeader(info, stream);
    ljpeg::WriteScanHeader(info, stream);
    ljpeg::HuffEncode(info, stream);
    ljpeg::WriteFileTrailer(stream);
    if (stream.failed()) return memFullErr;
    if (stream.size() > 0xFFFFFFFFull) return memFullErr;

    void* block = std::malloc(stream.size());
    if (!block) return memFullErr;
    std::memcpy(block, stream.data(), stream.size());
    *out = block;
    *outSize = uint32_t(stream.size());
    return noErr;
}
