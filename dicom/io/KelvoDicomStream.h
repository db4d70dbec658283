// DICOM streams: a file opened through the C library together with its header data set and the
// two encoding flags every element read or write needs. The input side reads a Part 10 file or a
// bare ACR-NEMA stream into a data tree; every value is copied into the tree except pixel and
// waveform data, which stay in the file and are described by media-samples atoms and a chunk
// table. The output side writes a tree as text, XML or DICOM.
#pragma once

#include "KelvoDicomTypes.h"
#include "KelvoImageTypes.h"

#include <cstdio>

class KelvoDicomDataHeader;
class KelvoDicomDataTree;

class KelvoDicomStream : public Kelvo_QTObj {
  public:
    KelvoDicomStream();
    explicit KelvoDicomStream(const char* path);
    explicit KelvoDicomStream(const KelvoDataT<char>& path);
    KelvoDicomStream(const KelvoDicomStream&) = delete;
    KelvoDicomStream& operator=(const KelvoDicomStream&) = delete;
    ~KelvoDicomStream() override;

    const char* qtObjName() const override { return "KelvoDicomStream"; }
    bool qtObjIsValid() override { return _path != nullptr && _path->qtObjIsValid(); }
    bool qtObjIsValid() const override { return _path != nullptr && _path->qtObjIsValid(); }
    void defaultStatus() override;
    bool isA(const char* name) const override;

    virtual bool _open() { return false; }
    virtual void _close() {}
    virtual bool open();
    virtual void close();
    virtual bool isActive() const { return _stream != nullptr; }
    virtual const KelvoDataT<char>* streamPath() const { return _path; }
    virtual void streamPath(const KelvoDataT<char>* path);
    virtual OSType streamType() const { return _streamType; }
    virtual KelvoDicomDataHeader* header() const { return _header; }
    virtual bool needSwap() const { return _needSwap; }
    virtual bool isImplicit() const { return _isImplicit; }
    virtual FILE* stream() const { return _stream; }
    virtual int64_t position() const { return -1; }

    const char* pathText() const { return _path && _path->qtObjIsValid() ? _path->items() : ""; }

  protected:
    void setPath(const char* path);

    bool _needSwap = false;
    bool _isImplicit = false;
    OSType _streamType = FOUR_CHAR_CODE("BINA");
    FILE* _stream = nullptr;
    KelvoDataT<char>* _path = nullptr;
    KelvoDicomDataHeader* _header = nullptr;
};

class KelvoDicomFileStream : public KelvoDicomStream {
  public:
    using KelvoDicomStream::KelvoDicomStream;
    const char* qtObjName() const override { return "KelvoDicomFileStream"; }
    bool isA(const char* name) const override;
    void _close() override;
    int64_t position() const override;
};

class KelvoDicomInputFile : public KelvoDicomFileStream {
  public:
    using KelvoDicomFileStream::KelvoDicomFileStream;
    const char* qtObjName() const override { return "KelvoDicomInputFile"; }
    bool isA(const char* name) const override;
    bool _open() override;
    virtual bool _readHeader() { return false; }
    virtual void _readDataSet(KelvoDicomDataTree&) {}
    // A new copy of the file's header (caller owns), or null.
    virtual KelvoDicomDataHeader* readHeader();
    virtual void read(KelvoDicomDataTree& tree);
    KelvoDicomInputFile& operator>>(KelvoDicomDataTree& tree) {
        read(tree);
        return *this;
    }
};

class KelvoDicomInputFileBinary : public KelvoDicomInputFile {
  public:
    using KelvoDicomInputFile::KelvoDicomInputFile;
    const char* qtObjName() const override { return "KelvoDicomInputFileBinary"; }
    bool isA(const char* name) const override;
    // 0 with isPart10 set for a Part 10 file, 0 for an ACR-NEMA stream, 300 for neither.
    int32_t _isDicomStream(bool& isPart10);
    bool _readHeader() override;
    void _readDataSet(KelvoDicomDataTree& tree) override;

    // How deep sequences may nest before a file is refused.
    static constexpr int kMaxDepth = 64;

  private:
    struct Reader;
    int64_t _fileSize = 0;
    // How a stream without a Part 10 header is encoded, as its first element shows.
    bool _rawBigEndian = false;
    bool _rawExplicit = false;
};

class KelvoDicomOutputFile : public KelvoDicomFileStream {
  public:
    using KelvoDicomFileStream::KelvoDicomFileStream;
    const char* qtObjName() const override { return "KelvoDicomOutputFile"; }
    bool isA(const char* name) const override;
    bool _open() override;
    virtual void _writeHeader() {}
    virtual void _writeDataSet(const KelvoDicomDataTree&) {}
    virtual void write(const KelvoDicomDataTree& tree);
    KelvoDicomOutputFile& operator<<(const KelvoDicomDataTree& tree) {
        write(tree);
        return *this;
    }
};

class KelvoDicomOutputFileText : public KelvoDicomOutputFile {
  public:
    KelvoDicomOutputFileText() { _streamType = FOUR_CHAR_CODE("TEXT"); }
    explicit KelvoDicomOutputFileText(const char* path) : KelvoDicomOutputFile(path) {
        _streamType = FOUR_CHAR_CODE("TEXT");
    }
    const char* qtObjName() const override { return "KelvoDicomOutputFileText"; }
    bool isA(const char* name) const override;
    void _writeHeader() override;
    void _writeDataSet(const KelvoDicomDataTree& tree) override;
};

class KelvoDicomOutputFileXml : public KelvoDicomOutputFile {
  public:
    KelvoDicomOutputFileXml() { _streamType = FOUR_CHAR_CODE("TEXT"); }
    explicit KelvoDicomOutputFileXml(const char* path) : KelvoDicomOutputFile(path) {
        _streamType = FOUR_CHAR_CODE("TEXT");
    }
    const char* qtObjName() const override { return "KelvoDicomOutputFileXml"; }
    bool isA(const char* name) const override;
    void _writeHeader() override;
    void _writeDataSet(const KelvoDicomDataTree& tree) override;
};

// Status codes of the streams.
constexpr int32_t kDicomNotDicomStream = 300;
constexpr int32_t kDicomUnknownSyntax = 301;
constexpr int32_t kDicomOddLength = 302;
constexpr int32_t kDicomZeroFragment = 304;
constexpr int32_t kDicomStreamActive = 200;
constexpr int32_t kDicomBadPosition = 111;
