// Shared between the lossless JPEG decoder and encoder; not part of the library's interface.
#pragma once

#include "JPEGLib.h"

#include <cstdlib>
#include <cstring>

namespace ljpeg {

// Fixed tables: hdMask[s] = 2^s - 1; extendTest[s] = 2^(s-1); extendOffset[s] = 1 - 2^s (the
// EXTEND procedure that turns s appended bits into a signed difference).
extern const uint32_t hdMask[17];
extern const int32_t extendTest[16];
extern const int32_t extendOffset[16];

// Markers (the byte after FF).
enum : uint8_t {
    M_SOF0 = 0xC0,
    M_SOF1 = 0xC1,
    M_SOF2 = 0xC2,
    M_SOF3 = 0xC3,
    M_DHT = 0xC4,
    M_JPG = 0xC8,
    M_DAC = 0xCC,
    M_SOF15 = 0xCF,
    M_RST0 = 0xD0,
    M_RST7 = 0xD7,
    M_SOI = 0xD8,
    M_EOI = 0xD9,
    M_SOS = 0xDA,
    M_DQT = 0xDB,
    M_DRI = 0xDD,
    M_TEM = 0x01,
};

// An owned malloc block that never throws: allocation failures come back as null.
template <typename T> class Block {
  public:
    Block() = default;
    ~Block() { std::free(p_); }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    bool allocate(size_t count) {
        std::free(p_);
        p_ = static_cast<T*>(std::calloc(count ? count : 1, sizeof(T)));
        return p_ != nullptr;
    }
    T* get() const { return p_; }
    T& operator[](size_t i) const { return p_[i]; }
    T* release() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }

  private:
    T* p_ = nullptr;
};

struct JpegComponentInfo {
    int16_t componentId;
    int16_t componentIndex;
    int16_t hSampFactor;
    int16_t vSampFactor;
    int16_t dcTblNo;
};

// The decoder's record of one image (and, with the encoder's own additions, the encoder's).
struct DecompressInfo {
    int32_t imageWidth = 0;
    int32_t imageHeight = 0;
    int32_t dataPrecision = 0;
    Block<JpegComponentInfo> compInfo;
    int16_t numComponents = 0;
    JpegComponentInfo* curCompInfo[4] = {};
    int16_t compsInScan = 0;
    int16_t MCUmembership[4] = {};
    HuffmanTable* dcHuffTblPtrs[4] = {};
    int32_t Ss = 0;              // predictor selection value
    int32_t Pt = 0;              // point transform
    int32_t restartInterval = 0; // in MCUs (one pixel of every scan component)
    int32_t restartInRows = 0;
    int32_t restartRowsToGo = 0;
    int16_t nextRestartNum = 0;

    DecompressInfo() = default;
    DecompressInfo(const DecompressInfo&) = delete;
    DecompressInfo& operator=(const DecompressInfo&) = delete;
    ~DecompressInfo() {
        for (HuffmanTable* t : dcHuffTblPtrs)
            std::free(t);
    }
};

// Bounded reading of the bytes before the entropy-coded data.
struct ByteSource {
    const uint8_t* data;
    uint32_t size;
    uint32_t pos;

    int get() { return pos < size ? data[pos++] : -1; }
    bool get16(uint32_t& v) {
        if (size - pos < 2) return false;
        v = (uint32_t(data[pos]) << 8) | data[pos + 1];
        pos += 2;
        return true;
    }
    uint32_t remaining() const { return size - pos; }
};

// Reads the table segments and the frame header up to and including the first scan header.
// Non-fatal oddities (stray markers, quantisation tables) are passed over.
OSStatus ReadFileHeader(ByteSource& src, DecompressInfo& info);
OSStatus ReadScanHeader(ByteSource& src, DecompressInfo& info);

// Where the decoded samples go: asked once, after the headers, for the whole output.
struct OutputSink {
    virtual ~OutputSink() = default;
    // The buffer for `bytes` bytes of output, or null with *status set.
    virtual uint8_t* reserve(const DecompressInfo& info, uint32_t bytes, OSStatus* status) = 0;
};

// Checks the scan against the frame, derives the decoding tables and decodes the scan's rows
// into the sink. *outBytes receives the output size on success.
OSStatus DecodeImage(ByteSource& src, DecompressInfo& info, OutputSink& sink, uint32_t* outBytes);

// The whole decode of one stream.
OSStatus DecodeStream(const uint8_t* data, uint32_t size, OutputSink& sink, uint32_t* outBytes);

// The standard DC tables of T.81 Annex K (K.3 luminance, K.4 chrominance): categories 0-11.
void StandardDCTable(int which, HuffmanTable* htbl);

} // namespace ljpeg

namespace ljpeg {

// The encoder's parameters, read from the caller's array.
struct EncodeParams {
    bool optimalTables;
    uint32_t restartRows;
    uint32_t pointTransform;
    uint32_t width;
    uint32_t height;
    uint32_t predictors;
    uint32_t maxSampleValue;
};

// The encoder's record: the decoder's fields, and the frame's samples (shifted right by the point
// transform, one unit of one sample per pixel).
struct CompressInfo : DecompressInfo {
    Block<uint16_t> samples;
};

// A growing output buffer with a bit writer in front of it. A failed allocation is remembered and
// reported at the end.
class JpegOutput {
  public:
    JpegOutput() = default;
    ~JpegOutput() { std::free(buf_); }
    JpegOutput(const JpegOutput&) = delete;
    JpegOutput& operator=(const JpegOutput&) = delete;

    bool reserve(size_t bytes);
    void putByte(uint8_t b) {
        if (size_ == cap_ && !grow(1)) return;
        buf_[size_++] = b;
    }
    void put16(uint32_t v) {
        putByte(uint8_t(v >> 8));
        putByte(uint8_t(v));
    }
    void putMarker(uint8_t m) {
        putByte(0xFF);
        putByte(m);
    }
    // Bits enter below those already waiting; every finished byte goes out, an FF followed by 00.
    void putBits(uint32_t code, int length) {
        acc_ = (acc_ << length) | code;
        nbits_ += length;
        while (nbits_ >= 8) {
            nbits_ -= 8;
            const uint8_t b = uint8_t(acc_ >> nbits_);
            putByte(b);
            if (b == 0xFF) putByte(0);
        }
    }
    // Pads the waiting bits to a byte with 1-bits.
    void flushBits() {
        if (nbits_ > 0) putBits((1u << (8 - nbits_)) - 1, 8 - nbits_);
        acc_ = 0;
    }
    bool failed() const { return failed_; }
    size_t size() const { return size_; }
    const uint8_t* data() const { return buf_; }

  private:
    bool grow(size_t more);
    uint8_t* buf_ = nullptr;
    size_t size_ = 0;
    size_t cap_ = 0;
    uint64_t acc_ = 0;
    int nbits_ = 0;
    bool failed_ = false;
};

// pmread: the parameters and the samples.
OSStatus ReadEncodeParams(const uint32_t* params, EncodeParams* p);
OSStatus ReadSamples(const uint8_t* samples, const EncodeParams& p, CompressInfo& info);

// huffc: category counts, tables and the entropy coding.
// counts[psv][s]: how many differences of category s the predictor psv (1-n) gives.
void CountCategories(const CompressInfo& info, uint32_t candidates, uint64_t counts[8][17]);
// Bits of the coded differences under a table; UINT64_MAX when a category in use has no code.
uint64_t CodedBits(const uint64_t counts[17], const HuffmanTable& htbl);
// Builds the optimal table for the counts (code lengths limited to 16).
bool GenOptimalTable(const uint64_t counts[17], HuffmanTable* htbl);
void HuffEncode(const CompressInfo& info, JpegOutput& out);

// write: the markers.
void WriteFileHeader(const CompressInfo& info, JpegOutput& out);
void WriteScanHeader(const CompressInfo& info, JpegOutput& out);
void WriteFileTrailer(JpegOutput& out);

} // namespace ljpeg
