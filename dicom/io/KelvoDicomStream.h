// DICOM streams: a file opened through the C library together with its header data set and the
// two encoding flags every element read or write needs. The input side reads a Part 10 file or a
// bare ACR-NEMA stream into a data tree; every value is copied into the tree except pixel and
// waveform data, which stay in the file and are described by media-samples atoms and a chunk
// table. The output side writes a tree as text, XML or DICOM.
#pragma once

#include "KelvoDicomTypes.h"
#include "KelvoImageTypes.h"
#include "PlatformFiles.h"

#include <cstdio>
#include <string>
#include <vector>

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
    bool headerMade();
    int64_t _fileSize = 0;
    // How a stream without a Part 10 header is encoded, as its first element shows.
    bool _rawBigEndian = false;
    bool _rawExplicit = false;
};

// Every output file is written beside its destination and put in place only when the whole
// write, its flush and its close succeeded: a failed write leaves the destination as it was and
// answers a non-zero status (101 when the file cannot be made, else the file's error).
class KelvoDicomOutputFile : public KelvoDicomFileStream {
  public:
    using KelvoDicomFileStream::KelvoDicomFileStream;
    ~KelvoDicomOutputFile() override;
    const char* qtObjName() const override { return "KelvoDicomOutputFile"; }
    bool isA(const char* name) const override;
    bool _open() override;
    void _close() override;
    virtual void _writeHeader() {}
    virtual void _writeDataSet(const KelvoDicomDataTree&) {}
    virtual void write(const KelvoDicomDataTree& tree);
    KelvoDicomOutputFile& operator<<(const KelvoDicomDataTree& tree) {
        write(tree);
        return *this;
    }

  protected:
    PlatformSafeFile _file;
};

class KelvoDicomOutputFileText : public KelvoDicomOutputFile {
  public:
    KelvoDicomOutputFileText() { _streamType = FOUR_CHAR_CODE("TEXT"); }
    explicit KelvoDicomOutputFileText(const char* path) : KelvoDicomOutputFile(path) {
        _streamType = FOUR_CHAR_CODE("TEXT");
    }
    // A path with its terminating NUL; the characters before the first NUL are kept.
    explicit KelvoDicomOutputFileText(const KelvoDataT<char>& path);
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
    // A path with its terminating NUL; the characters before the first NUL are kept.
    explicit KelvoDicomOutputFileXml(const KelvoDataT<char>& path);
    const char* qtObjName() const override { return "KelvoDicomOutputFileXml"; }
    bool isA(const char* name) const override;
    void _writeHeader() override;
    void _writeDataSet(const KelvoDicomDataTree& tree) override;
};

class KelvoDicomDirectoryDocument;
class KelvoDicomDataItemGroup;
class KelvoDicomDataFileSet;

// Writes a tree as a DICOM Part 10 file: preamble, "DICM", the file meta information, then every
// group in the byte order and VR form of the header's transfer syntax; a directory document is
// written as a DICOMDIR with its record offsets computed while the records are written.
//
// Pixel and waveform data that stayed in their source file are copied from there. A destination
// that is one of those source files is replaced only once the new file is whole, as every output
// file is, so the source is never truncated while it is still being copied.
//
// Refused before anything is written: encapsulated pixel data in any syntax but their own, or
// native pixel data under an encapsulated syntax (-50); a transfer syntax that is deflated or
// unknown (301); pixel or waveform data whose source file cannot be opened (100) or no longer
// holds the whole value (303); a directory header on a tree that is not a directory document (10).
// A value that could not be copied while writing makes the write fail with 303.
class KelvoDicomOutputFileBinary : public KelvoDicomOutputFile {
  public:
    KelvoDicomOutputFileBinary() = default;
    explicit KelvoDicomOutputFileBinary(const char* path) : KelvoDicomOutputFile(path) {}
    explicit KelvoDicomOutputFileBinary(const KelvoDataT<char>& path) : KelvoDicomOutputFile(path) {}

    const char* qtObjName() const override { return "KelvoDicomOutputFileBinary"; }
    bool isA(const char* name) const override;
    void defaultStatus() override;
    void _writeHeader() override;
    void _writeDataSet(const KelvoDicomDataTree& tree) override;
    void write(const KelvoDicomDataTree& tree) override;

    // When set, every group starts with its group length (gggg,0000), recomputed (directory
    // records never carry one).
    bool& useGroupLength() { return _useGroupLength; }

    void _writeDicomDirDataSet(KelvoDicomDirectoryDocument& doc);
    void _writeDicomDirMainDirectory(KelvoDicomDataItemGroup& records);
    void _writeDicomDirItem(KelvoDicomDataFileSet& record, int64_t& itemStart);

    // What write(tree) puts in its file, written into the caller's open stream, which stays open.
    // Refused (status set, nothing written) when the stream is one of the files the tree's pixel
    // or waveform data are copied from.
    void writeInto(FILE* file, const KelvoDicomDataTree& tree);

  private:
    int32_t prepare(const KelvoDicomDataTree& tree, std::vector<std::string>& sources);
    void writeTree(const KelvoDicomDataTree& tree);
    void linkAsInFile();
    void patchOffset(int64_t at, int64_t value);

    bool _useGroupLength = false;
    // Directory records. Records read from a file keep the hierarchy their offsets gave them;
    // others are linked by their order and types. For that: for each level, where the values of
    // (0004,1400) and (0004,1420) of the last record of that level went (0 for none); where the
    // first and last root records start; and for every record written, where it starts, where
    // its two offsets went and what they held in the file it came from.
    struct RecordPlacement {
        int64_t start = 0;
        int64_t nextAt = 0;
        int64_t lowerAt = 0;
        int64_t fileStart = 0;
        uint32_t fileNext = 0;
        uint32_t fileLower = 0;
    };
    struct PendingLinks {
        int64_t next[4] = {};
        int64_t lower[4] = {};
        int64_t firstRoot = 0;
        int64_t lastRoot = 0;
        bool keepFileLinks = false;
        uint32_t fileFirstRoot = 0;
        std::vector<RecordPlacement> records;
    };
    PendingLinks _links;
};

// Status codes of the streams.
constexpr int32_t kDicomNotDicomStream = 300;
constexpr int32_t kDicomUnknownSyntax = 301;
constexpr int32_t kDicomOddLength = 302;
constexpr int32_t kDicomZeroFragment = 304;
constexpr int32_t kDicomStreamActive = 200;
constexpr int32_t kDicomBadPosition = 111;
