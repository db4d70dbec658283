// Lossless JPEG decoder: the markers and segments before the entropy-coded data.
//
// Every length read from the stream is checked against what remains of it; a stream that ends
// inside a segment is corrupt.
#include "JPEGInternal.h"

namespace ljpeg {
namespace {

// Finds the next marker: bytes other than FF are passed over, as are FF fill bytes and FF 00.
// -1 when the stream ends first.
int nextMarker(ByteSource& src) {
    for (;;) {
        int c = src.get();
        while (c >= 0 && c != 0xFF)
            c = src.get();
        if (c < 0) return -1;
        do {
            c = src.get();
        } while (c == 0xFF);
        if (c < 0) return -1;
        if (c != 0) return c;
    }
}

// Passes over a segment by its length (which counts its own two bytes).
OSStatus skipVariable(ByteSource& src) {
    uint32_t length;
    if (!src.get16(length) || length < 2 || length - 2 > src.remaining()) return kJPEGCorruptDataErr;
    src.pos += length - 2;
    return noErr;
}

OSStatus getDht(ByteSource& src, DecompressInfo& info) {
    uint32_t length;
    if (!src.get16(length) || length < 2 || length - 2 > src.remaining()) return kJPEGCorruptDataErr;
    uint32_t left = length - 2;
    while (left > 0) {
        if (left < 17) return kJPEGBogusDHTCountsErr;
        const int index = src.get();
        uint8_t bits[17] = {0};
        uint32_t count = 0;
        for (int i = 1; i <= 16; ++i) {
            bits[i] = uint8_t(src.get());
            count += bits[i];
        }
        left -= 17;
        if (count > 256 || count > left) return kJPEGBogusDHTCountsErr;
        // Lossless JPEG has DC tables only; an AC table (class bit 0x10) lands here too.
        if (index < 0 || index >= 4) return kJPEGBogusDHTIndexErr;
        HuffmanTable*& htbl = info.dcHuffTblPtrs[index];
        if (!htbl) {
            htbl = static_cast<HuffmanTable*>(std::calloc(1, sizeof(HuffmanTable)));
            if (!htbl) return memFullErr;
        }
        std::memcpy(htbl->bits, bits, sizeof(bits));
        std::memset(htbl->huffval, 0, sizeof(htbl->huffval));
        std::memcpy(htbl->huffval, src.data + src.pos, count);
        src.pos += count;
        left -= count;
    }
    return noErr;
}

OSStatus getDri(ByteSource& src, DecompressInfo& info) {
    uint32_t length, interval;
    if (!src.get16(length)) return kJPEGCorruptDataErr;
    if (length != 4) return kJPEGBogusDRIErr;
    if (!src.get16(interval)) return kJPEGCorruptDataErr;
    info.restartInterval = int32_t(interval);
    return noErr;
}

OSStatus getSof(ByteSource& src, DecompressInfo& info) {
    uint32_t length, height, width;
    int precision = -1, count = -1;
    if (!src.get16(length) || (precision = src.get()) < 0 || !src.get16(height) || !src.get16(width) ||
        (count = src.get()) < 0)
        return kJPEGCorruptDataErr;
    info.dataPrecision = precision;
    info.imageHeight = int32_t(height);
    info.imageWidth = int32_t(width);
    info.numComponents = int16_t(count);
    if (height == 0 || width == 0 || count == 0) return kJPEGEmptyImageErr;
    if (precision < 2 || precision > 16) return kJPEGPrecisionErr;
    if (length != 8 + 3 * uint32_t(count)) return kJPEGBogusSOFErr;
    if (src.remaining() < 3 * uint32_t(count)) return kJPEGCorruptDataErr;
    if (!info.compInfo.allocate(size_t(count))) return memFullErr;
    for (int ci = 0; ci < count; ++ci) {
        JpegComponentInfo& comp = info.compInfo[size_t(ci)];
        comp.componentIndex = int16_t(ci);
        comp.componentId = int16_t(src.get());
        const int sampling = src.get();
        comp.hSampFactor = int16_t((sampling >> 4) & 15);
        comp.vSampFactor = int16_t(sampling & 15);
        (void)src.get(); // quantisation table: none in lossless coding
    }
    return noErr;
}

// Processes table segments until a marker that ends them, which is returned in *marker.
OSStatus processTables(ByteSource& src, DecompressInfo& info, int* marker) {
    for (;;) {
        const int c = nextMarker(src);
        if (c < 0) return kJPEGCorruptDataErr;
        OSStatus err = noErr;
        if ((c >= M_SOF0 && c <= M_SOF15 && c != M_DHT && c != M_DAC) || c == M_SOI || c == M_EOI ||
            c == M_SOS) {
            *marker = c;
            return noErr;
        } else if (c == M_DHT) {
            err = getDht(src, info);
        } else if (c == M_DRI) {
            err = getDri(src, info);
        } else if ((c >= M_RST0 && c <= M_RST7) || c == M_TEM) {
            // A stray parameterless marker: nothing to do.
        } else {
            // Quantisation tables (a lossy stream: its AC tables will end the decode), application
            // and comment segments and every other segment with a length.
            err = skipVariable(src);
        }
        if (err != noErr) return err;
    }
}

} // namespace

OSStatus ReadFileHeader(ByteSource& src, DecompressInfo& info) {
    if (src.size < 2 || src.data[0] != 0xFF || src.data[1] != M_SOI) return kJPEGNoSOIErr;
    src.pos = 2;
    int marker = 0;
    OSStatus err = processTables(src, info, &marker);
    if (err != noErr) return err;
    if (marker != M_SOF0 && marker != M_SOF1 && marker != M_SOF3) return kJPEGFrameTypeErr;
    return getSof(src, info);
}

OSStatus ReadScanHeader(ByteSource& src, DecompressInfo& info) {
    int marker = 0;
    OSStatus err = processTables(src, info, &marker);
    if (err != noErr) return err;
    if (marker != M_SOS) return kJPEGNoScanErr;

    uint32_t length;
    int n = -1;
    if (!src.get16(length) || (n = src.get()) < 0) return kJPEGCorruptDataErr;
    if (n == 0 || length != 6 + 2 * uint32_t(n)) return kJPEGBogusSOSErr;
    if (n > 4) return kJPEGTooManyComponentsErr;
    if (src.remaining() < 2 * uint32_t(n) + 3) return kJPEGCorruptDataErr;
    info.compsInScan = int16_t(n);
    for (int i = 0; i < n; ++i) {
        const int id = src.get();
        const int tables = src.get();
        JpegComponentInfo* comp = nullptr;
        for (int ci = 0; ci < info.numComponents; ++ci)
            if (info.compInfo[size_t(ci)].componentId == id) {
                comp = &info.compInfo[size_t(ci)];
                break;
            }
        if (!comp) return kJPEGBadComponentErr;
        comp->dcTblNo = int16_t((tables >> 4) & 15);
        info.curCompInfo[i] = comp;
    }
    info.Ss = src.get();
    (void)src.get(); // Se: unused in lossless coding
    info.Pt = src.get() & 15;
    return noErr;
}

} // namespace ljpeg
