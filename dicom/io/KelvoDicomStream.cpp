#include "KelvoDicomStream.h"

#include "KelvoDicomDataImagePixel.h"
#include "KelvoDicomDataSetViews.h"
#include "KelvoDicomDataTree.h"
#include "KelvoDicomDictionaries.h"
#include "KelvoDicomUtils.h"
#include "PlatformEndian.h"
#include "PlatformErrors.h"

#include <cctype>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <sys/stat.h>

// ---------------------------------------------------------------------------------------------
// Stream base

KelvoDicomStream::KelvoDicomStream() = default;

KelvoDicomStream::KelvoDicomStream(const char* path) {
    setPath(path);
}

KelvoDicomStream::KelvoDicomStream(const KelvoDataT<char>& path) {
    _path = new KelvoDataT<char>(path);
    if (!_path->qtObjIsValid()) _status = _path->Error() ? _path->Error() : paramErr;
}

KelvoDicomStream::~KelvoDicomStream() {
    if (_stream) std::fclose(_stream);
    delete _path;
    delete _header;
}

void KelvoDicomStream::setPath(const char* path) {
    delete _path;
    _path = KelvoDataT<char>::createWithString(path);
    if (!_path) _status = paramErr;
}

bool KelvoDicomStream::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "KelvoDicomStream") == 0;
}

void KelvoDicomStream::defaultStatus() {
    close();
    _streamType = FOUR_CHAR_CODE("BINA");
}

bool KelvoDicomStream::open() {
    if (!qtObjIsValid()) return false;
    if (isActive()) return true;
    return _open();
}

void KelvoDicomStream::close() {
    if (isActive()) _close();
    _stream = nullptr;
    if (_header) {
        delete _header;
        _header = nullptr;
        _needSwap = _isImplicit = false;
    }
}

void KelvoDicomStream::streamPath(const KelvoDataT<char>* path) {
    if (isActive()) {
        _status = kDicomStreamActive;
        return;
    }
    delete _path;
    _path = path ? new KelvoDataT<char>(*path) : nullptr;
}

bool KelvoDicomFileStream::isA(const char* name) const {
    if (!name) return false;
    return KelvoDicomStream::isA(name) || std::strcmp(name, "KelvoDicomFileStream") == 0;
}

void KelvoDicomFileStream::_close() {
    if (!_stream) return;
    std::fflush(_stream);
    if (std::fclose(_stream) != 0 && _status == 0) _status = ioErr;
    _stream = nullptr;
}

int64_t KelvoDicomFileStream::position() const {
    if (!_stream || std::feof(_stream)) return -1;
    off_t p = ftello(_stream);
    return p < 0 ? -1 : int64_t(p);
}

// ---------------------------------------------------------------------------------------------
// Input streams

bool KelvoDicomInputFile::isA(const char* name) const {
    if (!name) return false;
    return KelvoDicomFileStream::isA(name) || std::strcmp(name, "KelvoDicomInputFile") == 0;
}

bool KelvoDicomInputFile::_open() {
    _status = 0;
    _stream = std::fopen(pathText(), _streamType == FOUR_CHAR_CODE("BINA") ? "rb" : "r");
    if (!_stream) _status = kKelvoCannotOpenForReading;
    return _stream != nullptr;
}

KelvoDicomDataHeader* KelvoDicomInputFile::readHeader() {
    if (isActive()) {
        _status = kDicomStreamActive;
        return nullptr;
    }
    KelvoDicomDataHeader* result = nullptr;
    open();
    if (isActive() && _readHeader() && _header) result = new KelvoDicomDataHeader(*_header);
    close();
    return result;
}

void KelvoDicomInputFile::read(KelvoDicomDataTree& tree) {
    _status = 0;
    if (!qtObjIsValid()) {
        _status = kKelvoNothingToWorkOn;
        return;
    }
    if (!tree.Dictionary()) {
        _status = kKelvoMediaMissing;
        return;
    }
    open();
    if (isActive()) {
        if (_readHeader()) {
            tree.Header(_header);
            _readDataSet(tree);
        }
    }
    int32_t status = _status;
    close();
    _status = status;
}

bool KelvoDicomInputFileBinary::isA(const char* name) const {
    if (!name) return false;
    return KelvoDicomInputFile::isA(name) || std::strcmp(name, "KelvoDicomInputFileBinary") == 0;
}

int32_t KelvoDicomInputFileBinary::_isDicomStream(bool& isPart10) {
    isPart10 = false;
    if (!_stream) return paramErr;
    struct stat st {};
    _fileSize = fstat(fileno(_stream), &st) == 0 ? int64_t(st.st_size) : 0;
    char magic[4];
    if (_fileSize >= 132 && fseeko(_stream, 128, SEEK_SET) == 0 && std::fread(magic, 1, 4, _stream) == 4 &&
        std::memcmp(magic, "DICM", 4) == 0) {
        isPart10 = true;
        return 0;
    }
    // A stream without the header: its first tag must be a standard one, read little or big
    // endian; a VR after it marks explicit VR.
    std::rewind(_stream);
    uint8_t head[6] = {};
    size_t got = std::fread(head, 1, 6, _stream);
    std::rewind(_stream);
    if (got < 4) return kDicomNotDicomStream;
    // Command (0000) and meta (0002) groups do not open a stored data set.
    auto opens = [](uint16_t group, uint16_t element) {
        return group > 0x0002 && DicmDict_Tag(group, element, 0) != nullptr;
    };
    if (opens(platform::loadLE16(head), platform::loadLE16(head + 2)))
        _rawBigEndian = false;
    else if (opens(platform::loadBE16(head), platform::loadBE16(head + 2)))
        _rawBigEndian = true;
    else
        return kDicomNotDicomStream;
    char vr[3] = {char(head[4]), char(head[5]), 0};
    _rawExplicit = got == 6 && std::isupper(static_cast<unsigned char>(vr[0])) &&
                   std::isupper(static_cast<unsigned char>(vr[1])) && DicmDict_VRInfo(vr) != nullptr;
    // Implicit VR big endian is no transfer syntax.
    if (_rawBigEndian && !_rawExplicit) return kDicomNotDicomStream;
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The element reader

namespace {

constexpr uint32_t kKindElement = FOUR_CHAR_CODE("DAEL");
constexpr uint32_t kKindSequence = FOUR_CHAR_CODE("SQIT");
constexpr uint32_t kKindIcon = FOUR_CHAR_CODE("SICN");
constexpr uint32_t kKindSamples = FOUR_CHAR_CODE("SSMP");
constexpr uint32_t kKindItem = FOUR_CHAR_CODE("ITEM");
constexpr QTAtomType kFragmentAtom = FOUR_CHAR_CODE("FRAM");
// Holds a repeated element while it is read, until it is dropped.
constexpr QTAtomType kRepeatedAtom = FOUR_CHAR_CODE("RPTD");

bool isMultiVRWord(uint16_t group, uint16_t element) {
    // Tags whose US/SS representation follows Pixel Representation.
    if (group == 0x0028)
        return (element >= 0x0104 && element <= 0x0111) || element == 0x0120 || element == 0x0121 ||
               element == 0x0071 || element == 0x1101 || element == 0x1102 || element == 0x1103 ||
               element == 0x1111 || element == 0x1112 || element == 0x1113 || element == 0x1100 ||
               element == 0x3002;
    if (group == 0x0040) return element == 0x9211 || element == 0x9216;
    if (group == 0x0060) return element == 0x3004 || element == 0x3006;
    if (group == 0x5400) return element == 0x0110 || element == 0x0112 || element == 0x100A;
    return false;
}

bool isLutData(uint16_t group, uint16_t element) {
    return group == 0x0028 &&
           (element == 0x1200 || element == 0x3006 || (element >= 0x1201 && element <= 0x1204) ||
            element == 0x1221 || element == 0x1222 || element == 0x1223);
}

// What a failed read reports. The reader's own codes and a lack of memory pass as they are;
// anything else the C library or the atom engine returned while the file was being read (a seek
// that failed, an atom that could not be made) means that an element could not be read from the
// file: 303. Callers see the codes of DICOM streams, never the engine's.
int32_t readingStatus(int32_t status) {
    switch (status) {
    case noErr:
    case paramErr:
    case memFullErr:
    case kKelvoNothingToWorkOn:
    case kKelvoMediaMissing:
    case kKelvoCannotOpenForReading:
    case kDicomBadPosition:
    case kDicomStreamActive:
    case kDicomNotDicomStream:
    case kDicomUnknownSyntax:
    case kDicomOddLength:
    case kKelvoElementUnreadable:
    case kDicomZeroFragment:
        return status;
    default:
        return kKelvoElementUnreadable;
    }
}

} // namespace

struct KelvoDicomInputFileBinary::Reader {
    KelvoDicomInputFileBinary& stream;
    FILE* f;
    int64_t fileSize;
    KelvoDicomDataTree& tree;
    QTAtomContainer c;
    int32_t status = 0;
    uint16_t pixelRepresentation = 0;
    uint32_t syntaxCode = 0xFFFFFFFFu;
    const dicmXferSyntaxInfo* syntax = nullptr;
    // Above 0 while a repeated element is read only to be dropped: nothing it holds may reach
    // the tree (thumbnails, pixel representation, chunk table).
    int discarding = 0;
    // The bytes of the value being read, kept from one element to the next.
    std::vector<uint8_t> valueBytes{};

    int64_t pos() const { return int64_t(ftello(f)); }
    bool seek(int64_t p) { return pos() == p || fseeko(f, off_t(p), SEEK_SET) == 0; }

    bool fail(int32_t s) {
        if (status == 0) status = readingStatus(s);
        return false;
    }

    // Reads one element header at the current position into `node`. `limit` is where the
    // enclosing value ends (the file's end at the top).
    bool _readNextDataElementNode(dataElementNode& node, bool implicit, bool swap, int64_t limit) {
        std::memset(&node, 0, sizeof node);
        const int64_t start = pos();
        if (limit - start < 8) return fail(kKelvoElementUnreadable);
        uint8_t b[12];
        if (std::fread(b, 1, 8, f) != 8) return fail(kKelvoElementUnreadable);
        auto u16 = [&](const uint8_t* p) { return swap ? platform::loadBE16(p) : platform::loadLE16(p); };
        auto u32 = [&](const uint8_t* p) { return swap ? platform::loadBE32(p) : platform::loadLE32(p); };
        node.desc.group = u16(b);
        node.desc.element = u16(b + 2);
        char vr[3] = {};
        KelvoDicomStandardDictionaryUtils::dicomVRForTag(
            AttributeTagRecord{node.desc.group, node.desc.element}, 0, vr);
        if (implicit || node.desc.group == 0xFFFE) {
            node.desc.length = u32(b + 4);
            if (node.desc.group == 0xFFFE) {
                std::memcpy(vr, "na", 2);
            } else if (!vr[0]) {
                const uint16_t g = node.desc.group, e = node.desc.element;
                if ((g == 0x7FE0 && e == 0x0010) || (g == 0x5400 && e == 0x1010) || isLutData(g, e))
                    std::memcpy(vr, "OW", 2);
                else if ((g & 1) && e >= 0x0010 && e <= 0x00FF)
                    std::memcpy(vr, "LO", 2); // private creators are LO by definition
                else if (isMultiVRWord(g, e))
                    std::memcpy(vr, pixelRepresentation == 1 ? "SS" : "US", 2);
                else
                    std::memcpy(vr, e == 0 ? "UL" : "UN", 2);
            } else if (!DicmDict_VRInfo(vr)) {
                // An external dictionary may name a VR that no table describes: its bytes are
                // kept as UN, as in explicit files.
                std::memcpy(vr, "UN", 2);
            }
        } else {
            vr[0] = char(b[4]);
            vr[1] = char(b[5]);
            vr[2] = 0;
            const dicmVRInfo* info = DicmDict_VRInfo(vr);
            if (info && info->headerLength == 8) {
                node.desc.length = u16(b + 6);
            } else {
                // Known long-form VRs, and any VR nobody knows: later VRs all use the form with
                // a reserved word and a 32-bit length. Unknown ones are kept as UN bytes.
                if (!info) {
                    bool letters = std::isupper(static_cast<unsigned char>(vr[0])) &&
                                   std::isupper(static_cast<unsigned char>(vr[1]));
                    if (!letters) return fail(kDicomUnknownSyntax);
                    std::memcpy(vr, "UN", 2);
                }
                if (limit - start < 12 || std::fread(b + 8, 1, 4, f) != 4)
                    return fail(kKelvoElementUnreadable);
                node.desc.length = u32(b + 8);
            }
        }
        node.desc.vr[0] = vr[0];
        node.desc.vr[1] = vr[1];
        node.fpos.elementPosition = start;
        node.fpos.valuePosition = pos();
        if (node.desc.length != kDicomUndefinedLength) {
            if (node.desc.length & 1) return fail(kDicomOddLength);
            if (int64_t(node.desc.length) > limit - node.fpos.valuePosition)
                return fail(kKelvoElementUnreadable);
        }
        const uint16_t g = node.desc.group, e = node.desc.element;
        if (std::strncmp(vr, "SQ", 2) == 0)
            node.kind = (g == 0x0088 && e == 0x0200) ? kKindIcon : kKindSequence;
        else if ((g == 0x7FE0 && e == 0x0010) || (g == 0x5400 && e == 0x1010))
            node.kind = kKindSamples;
        else if (g == 0xFFFE && e == 0xE000)
            node.kind = kKindItem;
        else if (node.desc.length == kDicomUndefinedLength && g != 0xFFFE)
            // Not a sequence by its VR but of undefined length (UN, private): items in implicit
            // VR little endian follow.
            node.kind = kKindSequence;
        else
            node.kind = kKindElement;
        return true;
    }

    QTAtom groupAtom(QTAtom parent, uint16_t group) {
        int32_t s = 0;
        QTAtom atom = DicmUtils_AddDataSetNode(c, parent, group, s, 0);
        if (!atom) fail(s ? s : kKelvoElementUnreadable);
        return atom;
    }

    bool addHeaderAtom(QTAtom atom, const dataElementNode& node) {
        qtAtomNodeHeader h{{node.desc.vr[0], node.desc.vr[1]},
                           0,
                           node.desc.length,
                           node.fpos.elementPosition,
                           node.fpos.valuePosition};
        OSErr err = QTInsertChild(c, atom, kDicomNodeHeaderAtom, 0, 1, sizeof h, &h, nullptr);
        return err == noErr || fail(err);
    }

    bool _addDataElementNode(QTAtom parent, const dataElementNode& node, bool swap) {
        QTAtom g = groupAtom(parent, node.desc.group);
        if (!g) return false;
        QTAtom atom = 0;
        OSErr err = QTInsertChild(c, g, kDicomElementAtom, DicmUtils_AtomIDForNumber(node.desc.element), 0, 0,
                                  nullptr, &atom);
        if (err != noErr) return fail(err);
        if (!addHeaderAtom(atom, node)) return false;
        if (node.desc.length > 0) {
            // Straight into the tree: a node of its own for each element would cost a container
            // made and thrown away per element.
            if (int32_t s = KelvoDicomDataNode::readInto(f, node.desc, node.fpos, swap, c, atom, fileSize,
                                                         valueBytes))
                return fail(s);
            if (node.desc.group == 0x0028 && node.desc.element == 0x0103 && discarding == 0) {
                // Pixel Representation decides the VR of the multi-VR elements read after it.
                const char vr[3] = {node.desc.vr[0], node.desc.vr[1], 0};
                KelvoDicomDataNode value;
                KelvoDicomDataNode::read(c, atom, vr, value);
                if (value.Error() == 0 && value.valueCount() > 0) pixelRepresentation = value.usValue(0);
            }
        }
        if (node.desc.group == 0x7FE0 && node.desc.element == 0x0010) {
            err = QTInsertChild(c, atom, kDicomInMemoryPixelsAtom, 0, 0, 0, nullptr, nullptr);
            if (err != noErr) return fail(err);
        }
        return seek(node.fpos.valuePosition + node.desc.length) || fail(ioErr);
    }

    // Elements until `end` (or, for an undefined length, until the item delimiter; at the top
    // level until the end of the file).
    bool readElements(QTAtom parent, int64_t end, bool undefined, bool implicit, bool swap, int depth,
                      uint16_t sequenceElement) {
        const int64_t limit = undefined ? fileSize : end;
        while (true) {
            int64_t here = pos();
            if (!undefined && here >= end) return here == end || fail(kDicomBadPosition);
            if (parent == 0 && here >= fileSize) return true;
            if (parent == 0 && fileSize - here < 8) {
                // Trailing bytes shorter than an element: only padding is accepted.
                uint8_t tail[8] = {};
                size_t n = std::fread(tail, 1, size_t(fileSize - here), f);
                for (size_t i = 0; i < n; ++i)
                    if (tail[i]) return fail(kKelvoElementUnreadable);
                return true;
            }
            dataElementNode node;
            if (!_readNextDataElementNode(node, implicit, swap, limit)) return false;
            if (node.desc.group == 0xFFFE) {
                if (node.desc.element == 0xE00D && parent != 0 && undefined) return true;
                // An item or a delimiter where an element belongs (a sequence delimiter that
                // closes an item, an item delimiter in an item of defined length or at the top):
                // the structure is out of place, as for an element where an item belongs.
                return fail(kDicomBadPosition);
            }
            if (!_loadDataElement(parent, node, implicit, swap, depth, sequenceElement)) return false;
        }
    }

    // Whether the data set or item under `parent` already holds the tag, as an element or a
    // sequence.
    bool holds(QTAtom parent, uint16_t group, uint16_t element) {
        QTAtom g = QTFindChildByID(c, parent, kDicomGroupAtom, DicmUtils_AtomIDForNumber(group), nullptr);
        if (!g) return false;
        const QTAtomID id = DicmUtils_AtomIDForNumber(element);
        return QTFindChildByID(c, g, kDicomElementAtom, id, nullptr) != 0 ||
               QTFindChildByID(c, g, kDicomSequenceAtom, id, nullptr) != 0;
    }

    // A tag met again in the same data set or item: the first occurrence is kept, as DICOM
    // toolkits do, and the rest of the file reads on. A value of defined length is stepped over
    // (its length was checked against its parent); one of undefined length is read into a
    // scratch atom, which finds its end and checks its structure, and then dropped.
    bool skipRepeated(QTAtom parent, const dataElementNode& node, bool implicit, bool swap, int depth,
                      uint16_t sequenceElement) {
        if (node.desc.length != kDicomUndefinedLength)
            return seek(node.fpos.valuePosition + node.desc.length) || fail(ioErr);
        QTAtom scratch = 0;
        OSErr err = QTInsertChild(c, parent, kRepeatedAtom, 0, 0, 0, nullptr, &scratch);
        if (err != noErr) return fail(err);
        ++discarding;
        bool ok = _loadDataElement(scratch, node, implicit, swap, depth, sequenceElement);
        --discarding;
        err = QTRemoveAtom(c, scratch);
        return ok && (err == noErr || fail(err));
    }

    bool _loadDataElement(QTAtom parent, const dataElementNode& node, bool implicit, bool swap, int depth,
                          uint16_t sequenceElement) {
        if (holds(parent, node.desc.group, node.desc.element))
            return skipRepeated(parent, node, implicit, swap, depth, sequenceElement);
        switch (node.kind) {
        case kKindElement:
            return _addDataElementNode(parent, node, swap);
        case kKindSequence:
        case kKindIcon:
            return LoadSequenceofItems(parent, node, implicit, swap, depth);
        case kKindSamples:
            if (sequenceElement == 0x0200 && node.desc.length != kDicomUndefinedLength)
                return _addDataElementNode(parent, node, swap); // an icon's pixels are small: kept in memory
            return _newMediaSamplesTable(parent, node, swap);
        default:
            return fail(kDicomBadPosition);
        }
    }

    bool LoadSequenceofItems(QTAtom parent, const dataElementNode& node, bool implicit, bool swap,
                             int depth) {
        if (depth >= KelvoDicomInputFileBinary::kMaxDepth) return fail(kDicomBadPosition);
        QTAtom g = groupAtom(parent, node.desc.group);
        if (!g) return false;
        QTAtom seq = 0;
        OSErr err = QTInsertChild(c, g, kDicomSequenceAtom, DicmUtils_AtomIDForNumber(node.desc.element), 0,
                                  0, nullptr, &seq);
        if (err != noErr) return fail(err);
        dataElementNode header = node;
        header.desc.vr[0] = 'S';
        header.desc.vr[1] = 'Q';
        if (!addHeaderAtom(seq, header)) return false;
        if (node.kind == kKindIcon && discarding == 0) tree._addThumbnailEntry(seq);
        if (node.desc.length == 0) return true;
        // A value that is a sequence only by its undefined length holds implicit little endian.
        const bool byVR = std::strncmp(node.desc.vr, "SQ", 2) == 0;
        const bool itemsImplicit = byVR ? implicit : true;
        const bool itemsSwap = byVR ? swap : false;
        const bool undefined = node.desc.length == kDicomUndefinedLength;
        const int64_t end = undefined ? fileSize : node.fpos.valuePosition + node.desc.length;
        if (!seek(node.fpos.valuePosition)) return fail(ioErr);
        while (true) {
            int64_t here = pos();
            if (!undefined && here >= end) return here == end || fail(kDicomBadPosition);
            dataElementNode item;
            if (!_readNextDataElementNode(item, itemsImplicit, itemsSwap, end)) return false;
            if (item.desc.group == 0xFFFE && item.desc.element == 0xE0DD) return true;
            if (item.kind != kKindItem) return fail(kDicomBadPosition);
            if (!LoadSequenceItemNode(seq, item, itemsImplicit, itemsSwap, depth, node.desc.element))
                return false;
        }
    }

    bool LoadSequenceItemNode(QTAtom seq, const dataElementNode& node, bool implicit, bool swap, int depth,
                              uint16_t sequenceElement) {
        QTAtom item = 0;
        OSErr err = QTInsertChild(c, seq, kDicomItemAtom, 0, 0, 0, nullptr, &item);
        if (err != noErr) return fail(err);
        if (!addHeaderAtom(item, node)) return false;
        if (node.desc.length == 0) return true;
        const bool undefined = node.desc.length == kDicomUndefinedLength;
        const int64_t end = undefined ? fileSize : node.fpos.valuePosition + node.desc.length;
        return readElements(item, end, undefined, implicit, swap, depth + 1, sequenceElement);
    }

    bool _newMediaSamplesTable(QTAtom parent, const dataElementNode& node, bool swap) {
        QTAtom g = groupAtom(parent, node.desc.group);
        if (!g) return false;
        QTAtom atom = 0;
        OSErr err = QTInsertChild(c, g, kDicomElementAtom, DicmUtils_AtomIDForNumber(node.desc.element), 0, 0,
                                  nullptr, &atom);
        if (err != noErr) return fail(err);
        dataElementNode header = node;
        if (node.desc.length == kDicomUndefinedLength && std::strncmp(header.desc.vr, "OW", 2) == 0)
            std::memcpy(header.desc.vr, "OB", 2); // encapsulated pixel data are bytes
        if (!addHeaderAtom(atom, header)) return false;
        const char* path = stream.pathText();
        // Where the value stays and how it is encoded: without these atoms its frames could not be
        // found again, so each must be made.
        err =
            QTInsertChild(c, atom, kDicomMediaFileAtom, 0, 0, int32_t(std::strlen(path) + 1), path, nullptr);
        if (err == noErr && syntax)
            err = QTInsertChild(c, atom, kDicomMediaSyntaxAtom, 0, 0, 4, &syntaxCode, nullptr);
        if (err == noErr && swap)
            err = QTInsertChild(c, atom, kDicomMediaSwapAtom, 0, 0, 0, nullptr, nullptr);
        const bool pixels = node.desc.group == 0x7FE0;
        if (err == noErr)
            err = QTInsertChild(c, atom, pixels ? kDicomMediaPixelsAtom : kDicomMediaWaveformAtom, 0, 1, 0,
                                nullptr, nullptr);
        QTAtom table = 0;
        if (err == noErr) err = QTInsertChild(c, atom, kDicomMediaSamplesAtom, 0, 0, 0, nullptr, &table);
        if (err != noErr) return fail(err);

        std::unique_ptr<KelvoDicomDataImagePixel> imagePixel;
        if (pixels && parent == 0) {
            Kelvo_QTObj* view = tree.getObjValue(0x0028);
            if (view && view->isA("KelvoDicomDataImagePixel"))
                imagePixel.reset(static_cast<KelvoDicomDataImagePixel*>(view));
            else
                delete view;
        }

        if (node.desc.length != kDicomUndefinedLength) {
            QTAtom sample = 0;
            err = QTInsertChild(c, table, kKindSamples, 0, 0, 0, nullptr, &sample);
            if (err != noErr || !addHeaderAtom(sample, node)) return fail(err ? err : status);
            if (imagePixel) {
                uint32_t frameSize = imagePixel->size();
                // Uncompressed 4:2:2 frames keep one Cb and one Cr for each pair of pixels: two
                // samples a pixel, not the three the description counts.
                const char* photometric = imagePixel->PhotoInterpretation();
                if (photometric && std::strcmp(photometric, "YBR_FULL_422") == 0 &&
                    imagePixel->getUSValueProperty(0x0002) == 3)
                    frameSize = frameSize / 3 * 2;
                if (frameSize != 0 && node.desc.length / frameSize > 0) {
                    uint32_t frames = node.desc.length / frameSize;
                    auto* chunks = new KelvoDicomPixelData(frames, syntax, swap, path);
                    for (uint32_t i = 0; i < frames; ++i)
                        chunks->setChunkInfo(node.fpos.valuePosition + int64_t(i) * frameSize, frameSize, i);
                    tree.pixelData(chunks);
                }
            }
            return seek(node.fpos.valuePosition + node.desc.length) || fail(ioErr);
        }
        return loadFragments(table, node, imagePixel.get(), swap, path);
    }

    // Encapsulated pixel data: the basic offset table item, then one item per fragment, then the
    // sequence delimiter, all little endian.
    bool loadFragments(QTAtom table, const dataElementNode& node, KelvoDicomDataImagePixel* imagePixel,
                       bool swap, const char* path) {
        if (!seek(node.fpos.valuePosition)) return fail(ioErr);
        struct Fragment {
            int64_t itemPosition, value;
            uint32_t length;
            bool opensImage; // starts with a JPEG SOI or a JPEG 2000 SOC marker
        };
        std::vector<Fragment> fragments;
        std::vector<uint32_t> offsets; // the basic offset table
        bool first = true;
        while (true) {
            dataElementNode item;
            if (!_readNextDataElementNode(item, true, false, fileSize)) return false;
            if (item.desc.group != 0xFFFE) return fail(kDicomBadPosition);
            if (item.desc.element == 0xE0DD) break;
            if (item.desc.element != 0xE000 || item.desc.length == kDicomUndefinedLength)
                return fail(kDicomBadPosition);
            QTAtom atom = 0;
            OSErr err = QTInsertChild(c, table, first ? kKindItem : kFragmentAtom, 0, 0, 0, nullptr, &atom);
            if (err != noErr || !addHeaderAtom(atom, item)) return fail(err ? err : status);
            if (first) {
                for (uint32_t i = 0; i + 4 <= item.desc.length; i += 4) {
                    uint8_t b[4];
                    if (std::fread(b, 1, 4, f) != 4) return fail(kKelvoElementUnreadable);
                    offsets.push_back(platform::loadLE32(b));
                }
            } else {
                if (item.desc.length == 0) return fail(kDicomZeroFragment);
                uint8_t marker[2] = {};
                bool opens = item.desc.length >= 2 && std::fread(marker, 1, 2, f) == 2 && marker[0] == 0xFF &&
                             (marker[1] == 0xD8 || marker[1] == 0x4F);
                fragments.push_back(
                    {item.fpos.elementPosition, item.fpos.valuePosition, item.desc.length, opens});
            }
            first = false;
            if (!seek(item.fpos.valuePosition + item.desc.length)) return fail(ioErr);
        }
        if (!imagePixel || fragments.empty()) return true;
        // Frames: the basic offset table when it is there, all fragments for a single frame, the
        // fragments that open a compressed image when they number the frames, else one fragment
        // per frame.
        const int32_t declared = imagePixel->FramesCount();
        const uint32_t frames = declared > 0 ? uint32_t(declared) : 1;
        const int64_t base = fragments.front().itemPosition;
        std::vector<std::pair<size_t, size_t>> spans; // first and last fragment of each frame
        bool byTable = !offsets.empty() && offsets.size() == frames && offsets[0] == 0;
        if (byTable) {
            size_t at = 0;
            for (uint32_t i = 0; i < frames && byTable; ++i) {
                int64_t startPos = base + int64_t(offsets[i]);
                int64_t endPos = i + 1 < frames ? base + int64_t(offsets[i + 1]) : INT64_MAX;
                while (at < fragments.size() && fragments[at].itemPosition < startPos)
                    ++at;
                if (at >= fragments.size() || fragments[at].itemPosition != startPos) {
                    byTable = false;
                    break;
                }
                size_t last = at;
                while (last + 1 < fragments.size() && fragments[last + 1].itemPosition < endPos)
                    ++last;
                spans.push_back({at, last});
                at = last + 1;
            }
        }
        if (!byTable) {
            spans.clear();
            size_t openers = 0;
            for (const Fragment& fr : fragments)
                openers += fr.opensImage ? 1 : 0;
            if (frames == 1) {
                spans.push_back({0, fragments.size() - 1});
            } else if (fragments.size() > frames && openers == frames && fragments.front().opensImage) {
                for (size_t i = 0; i < fragments.size(); ++i) {
                    if (fragments[i].opensImage)
                        spans.push_back({i, i});
                    else
                        spans.back().second = i;
                }
            } else {
                for (size_t i = 0; i < fragments.size() && i < frames; ++i)
                    spans.push_back({i, i});
            }
        }
        // Each frame is the span of its own fragments, whatever the syntax says: every chunk then
        // lies inside the pixel data value, and so inside the file.
        auto* chunks = new KelvoDicomPixelData(uint32_t(spans.size()), syntax, swap, path, true);
        for (uint32_t i = 0; i < spans.size(); ++i) {
            const Fragment& a = fragments[spans[i].first];
            const Fragment& z = fragments[spans[i].second];
            uint64_t span = uint64_t(z.value + z.length - a.value);
            chunks->setChunkInfo(a.value, span > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(span), i);
        }
        tree.pixelData(chunks);
        return true;
    }
};

bool KelvoDicomInputFileBinary::_readHeader() {
    bool part10 = false;
    _status = _isDicomStream(part10);
    if (_status != 0) return false;
    delete _header;
    _header = nullptr;
    if (!part10) {
        _header = KelvoDicomDataHeader::createACRNemaHeader();
        if (_rawExplicit)
            _header->XFerSyntax(
                const_cast<char*>(_rawBigEndian ? "1.2.840.10008.1.2.2" : "1.2.840.10008.1.2.1"));
        _needSwap = _header->Swap();
        _isImplicit = _header->Implicit();
        return headerMade();
    }
    // The meta group is read from an empty header: nothing the file does not hold is added.
    _header = new KelvoDicomDataHeader();
    if (KelvoDicomDataNode* keys = _header->getKeys()) {
        for (int32_t i = 0; i < keys->valueCount(); ++i)
            _header->RemoveKey(keys->usValue(i));
        delete keys;
    }
    KelvoDicomDataTree scratch;
    Reader r{*this, _stream, _fileSize, scratch, scratch.Dictionary()};
    std::set<uint16_t> seen; // a repeated meta element keeps its first value, as in data sets
    int64_t next = 132;
    while (next < _fileSize) {
        // The group is peeked first: the data set after the meta group may be in another encoding.
        uint8_t peek[2];
        if (fseeko(_stream, off_t(next), SEEK_SET) != 0 || std::fread(peek, 1, 2, _stream) != 2 ||
            platform::loadLE16(peek) != 0x0002)
            break;
        fseeko(_stream, off_t(next), SEEK_SET);
        dataElementNode node;
        if (!r._readNextDataElementNode(node, false, false, _fileSize)) {
            _status = r.status;
            return false;
        }
        char vr[3] = {node.desc.vr[0], node.desc.vr[1], 0};
        if (node.desc.length == kDicomUndefinedLength || std::strcmp(vr, "SQ") == 0) {
            _status = kKelvoElementUnreadable; // the meta group holds no sequences
            return false;
        }
        next = node.fpos.valuePosition + node.desc.length;
        if (!seen.insert(node.desc.element).second) continue;
        KelvoDicomDataNode value;
        if (node.desc.length > 0)
            KelvoDicomDataNode::read(_stream, node.desc, node.fpos, false, value);
        else
            value.init(vr);
        if (value.Error() != 0) {
            _status = readingStatus(value.Error());
            return false;
        }
        if (value.qtObjIsValid()) _header->setProperty(node.desc.element, vr, value);
    }
    fseeko(_stream, off_t(next), SEEK_SET);
    _header->setupEncodingRules();
    _needSwap = _header->Swap();
    _isImplicit = _header->Implicit();
    if (!_header->qtObjIsValid()) {
        // No transfer syntax: the first element of the data set tells explicit from implicit.
        uint8_t b[6];
        bool explicitVR =
            std::fread(b, 1, 6, _stream) == 6 && DicmDict_VRInfo(std::string((char*)b + 4, 2).c_str());
        fseeko(_stream, off_t(next), SEEK_SET);
        _header->XFerSyntax(const_cast<char*>(explicitVR ? "1.2.840.10008.1.2.1" : "1.2.840.10008.1.2"));
        _needSwap = _header->Swap();
        _isImplicit = _header->Implicit();
    }
    return headerMade();
}

// A header still without a transfer syntax after reading is one whose values could not be
// stored (every path above gives it one): a missing object, never a quiet stop before the data
// set that would read as a success.
bool KelvoDicomInputFileBinary::headerMade() {
    if (_header && _header->qtObjIsValid()) return true;
    if (_status == 0) _status = memFullErr;
    return false;
}

void KelvoDicomInputFileBinary::_readDataSet(KelvoDicomDataTree& tree) {
    if (!_stream || !_header) return;
    char uid[80] = {};
    _header->getStringValueProperty(0x0010, uid, sizeof uid);
    const dicmXferSyntaxInfo* syntax = DicmDict_XFerSyntax(uid);
    // A syntax nobody knows, or a deflated one, cannot be read element by element.
    if (!syntax || std::strcmp(uid, "1.2.840.10008.1.2.1.99") == 0 ||
        std::strcmp(uid, "1.2.840.10008.1.2.4.95") == 0) {
        _status = kDicomUnknownSyntax;
        tree.Clear();
        return;
    }
    Reader r{*this, _stream, _fileSize, tree, tree.Dictionary()};
    r.syntax = syntax;
    r.syntaxCode = syntax->id;
    bool ok = r.readElements(0, _fileSize, true, _isImplicit, _needSwap, 0, 0);
    _status = ok ? 0 : (r.status ? r.status : kKelvoElementUnreadable);
    if (!ok) tree.Clear();
}

// ---------------------------------------------------------------------------------------------
// The header of a file, read by the binary reader.

KelvoDicomDataHeader* KelvoDicomDataHeader::openFile(const char* path) {
    int32_t status = 0;
    return openFile(path, status);
}

KelvoDicomDataHeader* KelvoDicomDataHeader::openFile(const char* path, int32_t& status) {
    status = 0;
    if (!path) {
        status = paramErr;
        return nullptr;
    }
    KelvoDicomInputFileBinary in(path);
    if (!in.qtObjIsValid()) {
        status = in.Error() ? in.Error() : paramErr;
        return nullptr;
    }
    KelvoDicomDataHeader* header = in.readHeader();
    status = in.Error();
    if (header && status != 0) {
        delete header;
        header = nullptr;
    }
    return header;
}
