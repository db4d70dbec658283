// Where pixel data lie in their file: one chunk (file offset, byte size, enabled flag) per frame,
// with the file's path, the transfer-syntax code that says how the bytes are encoded, and whether
// they are big endian. Pixel data are never loaded with the tree; frames are read from here.
#pragma once

#include "KelvoAtomics.h"
#include "KelvoDicomTypes.h"

#include <cstdint>
#include <string>
#include <vector>

class KelvoDicomDataChunks : public Kelvo_QTObj {
  public:
    KelvoDicomDataChunks() = default;
    KelvoDicomDataChunks(const KelvoDicomDataChunks& other);
    KelvoDicomDataChunks& operator=(const KelvoDicomDataChunks& other);
    ~KelvoDicomDataChunks() override;

    const char* qtObjName() const override { return "KelvoDicomDataChunks"; }
    bool qtObjIsValid() override { return _count != 0; }
    bool qtObjIsValid() const override { return _count != 0; }
    void defaultStatus() override { reset(); }
    bool isA(const char* name) const override;

    virtual void allocMemory();
    virtual void reset();
    virtual void init(KelvoDicomDataChunks& other);
    virtual void init(Kelvo_AtomCoord& element, uint32_t frameSize);
    virtual void setChunkInfo(const int64_t& offset, const uint32_t& size, uint32_t index);

    const int64_t& chunkOffset(uint32_t index);
    const uint32_t& chunkSize(uint32_t index);
    void chunkInfo(int64_t& offset, uint32_t& size, uint32_t index);
    bool chunkEnabled(uint32_t index);
    void chunkEnabled(uint8_t flag, uint32_t first, uint32_t n);

    const char* pathToFile() const { return _path.empty() ? "" : _path.c_str(); }
    uint32_t chunksEncoding() const { return _encoding; }
    const char* chunksEncodingUID() const;
    const dicmXferSyntaxInfo* chunksEncodingInfo() const;
    bool needDataSwapping() const { return _swap; }
    uint32_t count() const { return _count; }
    bool isVariableSizeLength() const { return _count >= 2 && _sizesCount == _count; }

    // The bytes of chunk `index` read from the file, without the item headers that separate the
    // fragments of an encapsulated frame. False (status set) when the chunk cannot be read whole.
    bool readChunk(uint32_t index, std::vector<uint8_t>& bytes);

  protected:
    void setSource(const char* path, uint32_t encoding, bool swap);
    bool encapsulated() const;

    std::string _path;
    uint32_t _encoding = 0xFFFFFFFFu;
    bool _swap = false;
    std::vector<uint8_t> _enabled;
    std::vector<int64_t> _offsets;
    std::vector<uint32_t> _sizes;
    uint32_t _count = 0;
    uint32_t _sizesCount = 0;

    static int64_t offsetError;
    static uint32_t sizeError;
};

class KelvoDicomPixelData : public KelvoDicomDataChunks {
  public:
    KelvoDicomPixelData() = default;
    // A table of `count` chunks. Chunks share one size under a native syntax, unless
    // `sizePerChunk` asks for one size each: frames made of fragments always differ in size, and
    // a shared size would stretch the others past their fragments, and the last past the file,
    // when a file holds fragments under a syntax that is not encapsulated.
    KelvoDicomPixelData(uint32_t count, const dicmXferSyntaxInfo* syntax, bool swap, const char* path,
                        bool sizePerChunk = false);
    KelvoDicomPixelData(Kelvo_AtomCoord& element, uint32_t frameSize);
    KelvoDicomPixelData(const KelvoDicomPixelData& other);
    KelvoDicomPixelData& operator=(const KelvoDicomPixelData& other);

    const char* qtObjName() const override { return "KelvoDicomPixelData"; }
    bool isA(const char* name) const override;
    void copy(Kelvo_QTObj& source) override;
    Kelvo_QTObj* clone() override;
    void init(Kelvo_AtomCoord& element, uint32_t frameSize) override;
    using KelvoDicomDataChunks::init;
};
