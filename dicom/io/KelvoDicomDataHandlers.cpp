#include "KelvoDicomDataHandlers.h"

#include "KelvoDicomDataSet.h"
#include "PlatformEndian.h"
#include "PlatformErrors.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>

int64_t KelvoDicomDataChunks::offsetError = -1;
uint32_t KelvoDicomDataChunks::sizeError = 0;

KelvoDicomDataChunks::KelvoDicomDataChunks(const KelvoDicomDataChunks& other) : Kelvo_QTObj(other) {
    init(const_cast<KelvoDicomDataChunks&>(other));
}

KelvoDicomDataChunks& KelvoDicomDataChunks::operator=(const KelvoDicomDataChunks& other) {
    if (&other != this) {
        reset();
        init(const_cast<KelvoDicomDataChunks&>(other));
    }
    return *this;
}

KelvoDicomDataChunks::~KelvoDicomDataChunks() = default;

bool KelvoDicomDataChunks::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "KelvoDicomDataChunks") == 0;
}

void KelvoDicomDataChunks::allocMemory() {
    if (_count == 0) {
        _status = paramErr;
        return;
    }
    _offsets.assign(_count, 0);
    _enabled.assign(_count, 1);
    _sizes.assign(_sizesCount ? _sizesCount : 1, 0);
}

void KelvoDicomDataChunks::reset() {
    _path.clear();
    _offsets.clear();
    _enabled.clear();
    _sizes.clear();
    _count = _sizesCount = 0;
}

void KelvoDicomDataChunks::init(KelvoDicomDataChunks& other) {
    if (!other.qtObjIsValid()) {
        _status = kKelvoBadArgumentObject;
        return;
    }
    _count = other._count;
    _sizesCount = other._sizesCount;
    _encoding = other._encoding;
    _swap = other._swap;
    _offsets = other._offsets;
    _sizes = other._sizes;
    _enabled = other._enabled;
    _path = other._path;
}

void KelvoDicomDataChunks::init(Kelvo_AtomCoord&, uint32_t) {}

void KelvoDicomDataChunks::setChunkInfo(const int64_t& offset, const uint32_t& size, uint32_t index) {
    if (index >= _count || _offsets.size() != _count) return;
    _offsets[index] = offset;
    if (_sizesCount == _count && index < _sizes.size())
        _sizes[index] = size;
    else if (index == 0 && !_sizes.empty())
        _sizes[0] = size;
}

const int64_t& KelvoDicomDataChunks::chunkOffset(uint32_t index) {
    if (!qtObjIsValid()) return offsetError;
    if (index >= _count) {
        _status = paramErr;
        return offsetError;
    }
    return _offsets[index];
}

const uint32_t& KelvoDicomDataChunks::chunkSize(uint32_t index) {
    if (!qtObjIsValid()) return sizeError;
    if (index >= _count) {
        _status = paramErr;
        return sizeError;
    }
    return _sizesCount == _count ? _sizes[index] : _sizes[0];
}

void KelvoDicomDataChunks::chunkInfo(int64_t& offset, uint32_t& size, uint32_t index) {
    offset = chunkOffset(index);
    size = chunkSize(index);
}

bool KelvoDicomDataChunks::chunkEnabled(uint32_t index) {
    if (!qtObjIsValid()) return false;
    if (index >= _count) {
        _status = paramErr;
        return false;
    }
    return _enabled[index] != 0;
}

void KelvoDicomDataChunks::chunkEnabled(uint8_t flag, uint32_t first, uint32_t n) {
    if (!qtObjIsValid() || first >= _count) return;
    uint64_t end = std::min<uint64_t>(uint64_t(first) + n, _count);
    for (uint64_t i = first; i < end; ++i)
        _enabled[size_t(i)] = flag;
}

const char* KelvoDicomDataChunks::chunksEncodingUID() const {
    return DicmDict_XFerSyntaxUIDByIndex(int(_encoding));
}

const dicmXferSyntaxInfo* KelvoDicomDataChunks::chunksEncodingInfo() const {
    return DicmDict_XFerSyntaxByIndex(int(_encoding));
}

bool KelvoDicomDataChunks::encapsulated() const {
    const dicmXferSyntaxInfo* info = chunksEncodingInfo();
    return info && (info->flags & kDicmXferEncapsulated);
}

void KelvoDicomDataChunks::setSource(const char* path, uint32_t encoding, bool swap) {
    _path = path ? path : "";
    _encoding = encoding;
    _swap = swap;
}

bool KelvoDicomDataChunks::readChunk(uint32_t index, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (!qtObjIsValid() || index >= _count) {
        _status = paramErr;
        return false;
    }
    const int64_t offset = _offsets[index];
    const uint32_t size = chunkSize(index);
    FILE* f = _path.empty() ? nullptr : std::fopen(_path.c_str(), "rb");
    if (!f) {
        _status = kKelvoCannotOpenForReading;
        return false;
    }
    struct stat st {};
    fstat(fileno(f), &st);
    bool ok = offset >= 0 && int64_t(size) <= int64_t(st.st_size) - offset;
    if (ok && encapsulated() && offset >= 8) {
        // The frame may span several fragments: walk their item headers from the first one,
        // which stands just before the chunk, and keep only their values.
        int64_t pos = offset - 8;
        const int64_t end = offset + int64_t(size);
        bytes.reserve(size);
        while (ok && pos + 8 <= end) {
            uint8_t h[8];
            ok = fseeko(f, off_t(pos), SEEK_SET) == 0 && std::fread(h, 1, 8, f) == 8 &&
                 platform::loadLE16(h) == 0xFFFE && platform::loadLE16(h + 2) == 0xE000;
            if (!ok) break;
            uint32_t length = platform::loadLE32(h + 4);
            ok = int64_t(length) <= end - (pos + 8);
            if (!ok) break;
            size_t at = bytes.size();
            bytes.resize(at + length);
            ok = length == 0 || std::fread(bytes.data() + at, 1, length, f) == length;
            pos += 8 + int64_t(length);
        }
        ok = ok && pos == end;
    } else if (ok) {
        bytes.resize(size);
        ok = fseeko(f, off_t(offset), SEEK_SET) == 0 &&
             (size == 0 || std::fread(bytes.data(), 1, size, f) == size);
    }
    std::fclose(f);
    if (!ok) {
        bytes.clear();
        _status = kKelvoElementUnreadable;
    }
    return ok;
}

// ---------------------------------------------------------------------------------------------
// KelvoDicomPixelData

KelvoDicomPixelData::KelvoDicomPixelData(uint32_t count, const dicmXferSyntaxInfo* syntax, bool swap,
                                         const char* path, bool sizePerChunk) {
    _count = count;
    setSource(path, syntax ? syntax->id : 0xFFFFFFFFu, swap);
    _sizesCount = sizePerChunk || !syntax || (syntax->flags & kDicmXferEncapsulated) ? count : 1;
    if (count > 0) allocMemory();
}

KelvoDicomPixelData::KelvoDicomPixelData(Kelvo_AtomCoord& element, uint32_t frameSize) {
    init(element, frameSize);
}

KelvoDicomPixelData::KelvoDicomPixelData(const KelvoDicomPixelData& other) : KelvoDicomDataChunks(other) {}

KelvoDicomPixelData& KelvoDicomPixelData::operator=(const KelvoDicomPixelData& other) {
    KelvoDicomDataChunks::operator=(other);
    return *this;
}

bool KelvoDicomPixelData::isA(const char* name) const {
    if (!name) return false;
    return KelvoDicomDataChunks::isA(name) || std::strcmp(name, "KelvoDicomPixelData") == 0;
}

void KelvoDicomPixelData::copy(Kelvo_QTObj& source) {
    if (&source == this) return;
    reset();
    if (!source.isA("KelvoDicomPixelData")) {
        _status = kKelvoWrongType;
        return;
    }
    init(static_cast<KelvoDicomPixelData&>(source));
}

Kelvo_QTObj* KelvoDicomPixelData::clone() {
    return qtObjIsValid() ? new KelvoDicomPixelData(*this) : nullptr;
}

void KelvoDicomPixelData::init(Kelvo_AtomCoord& element, uint32_t frameSize) {
    if (!element.qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    Kelvo_AtomCoord table = element.childByIndex(kDicomMediaSamplesAtom, 1);
    if (!table.qtObjIsValid()) {
        _status = element.Error();
        return;
    }
    Kelvo_AtomCoord sample = table.childByIndex(FOUR_CHAR_CODE("SSMP"), 1);
    bool native = sample.qtObjIsValid();
    int32_t status = 0;
    if (!native) {
        _count = _sizesCount = uint32_t(table.childCount(FOUR_CHAR_CODE("FRAM")));
    } else if (frameSize != 0) {
        qtAtomNodeHeader header{};
        if (!DicmUtils_NodeInfo(sample, header, status)) return;
        _count = header.length / frameSize;
        _sizesCount = 1;
    }
    if (_count == 0) return;
    allocMemory();
    Kelvo_AtomCoord file = element.childByIndex(kDicomMediaFileAtom, 1);
    Handle path = file.getData();
    std::string p;
    if (path) {
        p.assign(*path, strnlen(*path, size_t(GetHandleSize(path))));
        DisposeHandle(path);
    }
    uint32_t encoding = 0xFFFFFFFFu;
    Kelvo_AtomCoord syntax = element.childByIndex(kDicomMediaSyntaxAtom, 1);
    if (syntax.qtObjIsValid()) syntax.getData(&encoding, sizeof encoding);
    setSource(p.c_str(), encoding, element.childByIndex(kDicomMediaSwapAtom, 1).qtObjIsValid());
    if (native) {
        qtAtomNodeHeader header{};
        DicmUtils_NodeInfo(sample, header, status);
        for (uint32_t i = 0; i < _count; ++i)
            setChunkInfo(header.valuePosition + int64_t(i) * frameSize, frameSize, i);
    } else {
        for (uint32_t i = 0; i < _count; ++i) {
            Kelvo_AtomCoord fragment = table.childByIndex(FOUR_CHAR_CODE("FRAM"), int32_t(i) + 1);
            qtAtomNodeHeader header{};
            if (!DicmUtils_NodeInfo(fragment, header, status)) {
                _status = cannotFindAtomErr;
                break;
            }
            setChunkInfo(header.valuePosition, header.length, i);
        }
    }
}
