// Lossless JPEG encoder: the output buffer and the markers.
#include "JPEGInternal.h"

namespace ljpeg {

bool JpegOutput::reserve(size_t bytes) {
    if (bytes <= cap_) return true;
    auto* p = static_cast<uint8_t*>(std::realloc(buf_, bytes));
    if (!p) {
        failed_ = true;
        return false;
    }
    buf_ = p;
    cap_ = bytes;
    return true;
}

bool JpegOutput::grow(size_t more) {
    if (failed_) return false;
    size_t want = cap_ < 2048 ? 4096 : cap_ * 2;
    while (want < size_ + more)
        want *= 2;
    return reserve(want);
}

void WriteFileHeader(const CompressInfo& info, JpegOutput& out) {
    out.putMarker(M_SOI);

    out.putMarker(M_SOF3);
    out.put16(8 + 3 * uint32_t(info.numComponents));
    out.putByte(uint8_t(info.dataPrecision));
    out.put16(uint32_t(info.imageHeight));
    out.put16(uint32_t(info.imageWidth));
    out.putByte(uint8_t(info.numComponents));
    for (int ci = 0; ci < info.numComponents; ++ci) {
        const JpegComponentInfo& comp = info.compInfo[size_t(ci)];
        out.putByte(uint8_t(comp.componentId));
        out.putByte(uint8_t((comp.hSampFactor << 4) | comp.vSampFactor));
        out.putByte(0);
    }

    bool written[4] = {};
    for (int i = 0; i < info.compsInScan; ++i) {
        const int t = info.curCompInfo[i]->dcTblNo;
        if (written[t]) continue;
        written[t] = true;
        const HuffmanTable& htbl = *info.dcHuffTblPtrs[t];
        uint32_t count = 0;
        for (int l = 1; l <= 16; ++l)
            count += htbl.bits[l];
        out.putMarker(M_DHT);
        out.put16(19 + count);
        out.putByte(uint8_t(t)); // class DC
        for (int l = 1; l <= 16; ++l)
            out.putByte(htbl.bits[l]);
        for (uint32_t k = 0; k < count; ++k)
            out.putByte(htbl.huffval[k]);
    }

    if (info.restartInterval > 0) {
        out.putMarker(M_DRI);
        out.put16(4);
        out.put16(uint32_t(info.restartInterval));
    }
}

void WriteScanHeader(const CompressInfo& info, JpegOutput& out) {
    out.putMarker(M_SOS);
    out.put16(6 + 2 * uint32_t(info.compsInScan));
    out.putByte(uint8_t(info.compsInScan));
    for (int i = 0; i < info.compsInScan; ++i) {
        out.putByte(uint8_t(info.curCompInfo[i]->componentId));
        out.putByte(uint8_t(info.curCompInfo[i]->dcTblNo << 4));
    }
    out.putByte(uint8_t(info.Ss));
    out.putByte(0);
    out.putByte(uint8_t(info.Pt));
}

void WriteFileTrailer(JpegOutput& out) {
    out.flushBits();
    out.putMarker(M_EOI);
    // DICOM fragments have even lengths.
    if (out.size() & 1) out.putByte(0xFF);
}

} // namespace ljpeg
