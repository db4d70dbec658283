// The text, XML and DICOM binary forms of a data set.
#include "KelvoDicomDataSet.h"

#include "KelvoDicomSequence.h"
#include "KelvoDicomUtils.h"
#include "PlatformEndian.h"
#include "PlatformErrors.h"

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr size_t kCopyChunk = 0x200000;

// Bytes of an element header after the tag in the output encoding.
uint32_t headerBytes(const char* vr, uint32_t flags) {
    if (flags & kDicomWriteImplicitVR) return 4;
    const dicmVRInfo* info = DicmDict_VRInfo(vr);
    return info && info->headerLength == 12 ? 8 : 4;
}

bool bigOut(uint32_t flags) {
    return (flags & kDicomWriteBigEndian) != 0;
}

// The file that holds an element's value, with the element's header and the file's encoding.
struct MediaSource {
    std::string path;
    qtAtomNodeHeader header{};
    bool bigEndian = false; // the values in the source file are big endian
    bool ok = false;
};

MediaSource mediaSource(QTAtomContainer c, QTAtom atom, int32_t& status) {
    MediaSource m;
    QTAtom file = QTFindChildByIndex(c, atom, kDicomMediaFileAtom, 1, nullptr);
    if (!file) {
        status = cannotFindAtomErr;
        return m;
    }
    int32_t size = 0;
    Ptr p = nullptr;
    if (QTGetAtomDataPtr(c, file, &size, &p) != noErr || size == 0) {
        status = cannotFindAtomErr;
        return m;
    }
    m.path.assign(p, strnlen(p, size_t(size)));
    if (!DicmUtils_NodeInfo(m.header, c, atom, status)) return m;
    m.bigEndian = QTFindChildByIndex(c, atom, kDicomMediaSwapAtom, 1, nullptr) != 0;
    m.ok = true;
    return m;
}

// Walks the fragments of an encapsulated value (items up to the sequence delimiter, always
// little endian); calls `visit` with each item's tag element, length and value position. False
// when the walk leaves the file or meets anything else.
template <class Visit> bool walkFragments(FILE* f, int64_t position, int64_t fileSize, Visit&& visit) {
    for (int guard = 0; guard < 1 << 24; ++guard) {
        uint8_t h[8];
        if (position + 8 > fileSize || fseeko(f, off_t(position), SEEK_SET) != 0 ||
            std::fread(h, 1, 8, f) != 8)
            return false;
        uint16_t group = platform::loadLE16(h), element = platform::loadLE16(h + 2);
        uint32_t length = platform::loadLE32(h + 4);
        if (group != 0xFFFE) return false;
        if (element == 0xE0DD) return visit(element, 0u, position + 8);
        if (element != 0xE000 || length == kDicomUndefinedLength || int64_t(length) > fileSize - position - 8)
            return false;
        if (!visit(element, length, position + 8)) return false;
        position += 8 + int64_t(length);
    }
    return false;
}

} // namespace

void DicomUtils_WriteTag(FILE* file, uint32_t flags, uint16_t group, uint16_t element) {
    uint8_t t[4];
    if (bigOut(flags)) {
        platform::storeBE16(t, group);
        platform::storeBE16(t + 2, element);
    } else {
        platform::storeLE16(t, group);
        platform::storeLE16(t + 2, element);
    }
    std::fwrite(t, 1, 4, file);
}

// ---------------------------------------------------------------------------------------------
// Text and XML

void KelvoDicomDataSet::flushToText(FILE* file, QTAtom) {
    if (!file) {
        _status = paramErr;
        return;
    }
    std::fprintf(file, "[Dataset id=%04X count=%lu length=%lu]\n", unsigned(_group), (unsigned long)count(),
                 (unsigned long)GroupLength());
    flushContent(file, dicmIOformatText, 0);
    std::fputs("[Dataset End]\n", file);
}

void KelvoDicomDataSet::flushToXml(FILE* file, QTAtom) {
    if (!file) {
        _status = paramErr;
        return;
    }
    std::fprintf(file, "<Dataset id=\"%04X\" count=\"%lu\" length=\"%lu\">\n", unsigned(_group),
                 (unsigned long)count(), (unsigned long)GroupLength());
    flushContent(file, dicmIOformatXML, 0);
    std::fputs("</Dataset>\n", file);
}

bool KelvoDicomDataSet::isMediaElement(QTAtom atom, uint16_t, KelvoDicomDataNode& node, bool haveNode) {
    return isMediaElement(atom, haveNode, haveNode ? node.valueCount() : 0);
}

bool KelvoDicomDataSet::isMediaElement(QTAtom atom, bool haveValues, int32_t valueCount) {
    // A value that stayed in its file is copied from there; one put into the set in memory is
    // written like any other element.
    if (QTFindChildByIndex(_container, atom, kDicomInMemoryPixelsAtom, 1, nullptr)) return false;
    if (!QTFindChildByIndex(_container, atom, kDicomMediaFileAtom, 1, nullptr)) return false;
    return !haveValues || valueCount == 0;
}

void KelvoDicomDataSet::flushContent(FILE* file, dicmIOformat format, uint32_t flags) {
    if (!file) {
        _status = paramErr;
        return;
    }
    if (!_container) return;
    KelvoDicomDataNode node;
    int32_t firstError = 0;
    QTAtom child = 0;
    while (true) {
        _status = QTNextChildAnyType(_container, _root, child, &child);
        if (_status != noErr || !child) break;
        QTAtomType type = DicmUtils_AtomType(_container, child);
        QTAtomID id = DicmUtils_AtomID(_container, child);
        if (id == kDicomZeroID || (type != kDicomElementAtom && type != kDicomSequenceAtom)) continue;
        const uint16_t element = uint16_t(id);
        qtAtomNodeHeader header{};
        int32_t headerStatus = 0;
        bool haveHeader = DicmUtils_NodeInfo(header, _container, child, headerStatus);
        char vr[3] = {header.vr[0], header.vr[1], 0};
        bool haveNode = false;
        if (haveHeader && type == kDicomElementAtom) {
            KelvoDicomDataNode::read(_container, child, vr, node);
            haveNode = node.qtObjIsValid();
        }
        if (format == dicmIOformatText || format == dicmIOformatXML) {
            if (type == kDicomSequenceAtom) {
                KelvoDicomDataItemGroup sequence(_container, child, KelvoAtomView::borrowed);
                if (format == dicmIOformatText)
                    sequence.flushToText(file, 0);
                else
                    sequence.flushToXml(file, 0);
                continue;
            }
            if (format == dicmIOformatText) {
                std::fprintf(file, "[Element id=%04X vr=%s length=%lu]\n", unsigned(element), vr,
                             (unsigned long)header.length);
                if (haveHeader) node.flushToText(file, 0);
                std::fputs("\n[Element End]\n", file);
            } else {
                std::fprintf(file, "<Element id=\"%04X\" vr=\"%s\" length=\"%lu\">\n", unsigned(element),
                             DicomUtils_XmlEscape(vr).c_str(), (unsigned long)header.length);
                if (haveHeader) node.flushToXml(file, 0);
                std::fputs("\n</Element>\n", file);
            }
            continue;
        }
        if (format != dicmIOformatBinary) continue;
        if (type == kDicomElementAtom && isMediaElement(child, element, node, haveNode)) {
            writeMediaElement(file, child, flags);
            if (_status != noErr && firstError == 0) firstError = _status;
            continue;
        }
        DicomUtils_WriteTag(file, flags, _group, element);
        if (type == kDicomSequenceAtom) {
            KelvoDicomDataItemGroup sequence(_container, child, KelvoAtomView::borrowed);
            sequence.flushToBinary(file, &flags);
        } else if (haveNode) {
            uint8_t f = uint8_t(flags);
            node.flushToBinary(file, &f);
        } else {
            // An element without a usable value: an empty value of its representation.
            KelvoDicomDataNode empty(vr[0] ? vr : "UN");
            uint8_t f = uint8_t(flags);
            empty.flushToBinary(file, &f);
        }
    }
    // A value that could not be copied stays reported; the walk's own steps do not hide it.
    _status = firstError != 0 ? firstError : (child == 0 ? int32_t(noErr) : _status);
}

// ---------------------------------------------------------------------------------------------
// Binary

void KelvoDicomDataSet::writeGroupLength(FILE* file, uint32_t flags) {
    // The length of what follows as it will be written: nested data sets carry their own group
    // lengths too when the flags ask for them.
    uint64_t size = binaryContentSize(flags);
    const uint32_t value = size > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(size);
    KelvoDicomDataNode length;
    if (borrowed()) {
        // A view writes what it reads and leaves the source as it was.
        length = KelvoDicomDataNode("UL");
        length.ulValueSet(value, -1);
    } else {
        setULValueProperty(0, value);
        getProperty(0, length);
    }
    if (length.valueCount() == 0) return;
    DicomUtils_WriteTag(file, flags, _group, 0);
    uint8_t f = uint8_t(flags);
    length.flushToBinary(file, &f);
}

void KelvoDicomDataSet::flushToBinary(FILE* file, const void* flags) {
    if (!file) {
        _status = paramErr;
        return;
    }
    uint32_t f = flags ? *static_cast<const uint32_t*>(flags) : 0;
    if (f & kDicomWriteGroupLength) writeGroupLength(file, f);
    flushContent(file, dicmIOformatBinary, f);
}

uint64_t KelvoDicomDataSet::mediaElementSize(QTAtom atom, uint32_t flags) {
    int32_t status = 0;
    MediaSource m = mediaSource(_container, atom, status);
    if (!m.ok) return 0;
    char vr[3] = {m.header.vr[0], m.header.vr[1], 0};
    uint64_t size = 4 + headerBytes(vr, flags);
    if (m.header.length != kDicomUndefinedLength) return size + m.header.length;
    FILE* f = std::fopen(m.path.c_str(), "rb");
    if (!f) return size;
    struct stat st {};
    fstat(fileno(f), &st);
    walkFragments(f, m.header.valuePosition, int64_t(st.st_size), [&](uint16_t, uint32_t length, int64_t) {
        size += 8 + uint64_t(length);
        return true;
    });
    std::fclose(f);
    return size;
}

void KelvoDicomDataSet::writeMediaElement(FILE* out, QTAtom atom, uint32_t flags) {
    int32_t status = 0;
    MediaSource m = mediaSource(_container, atom, status);
    if (!m.ok) {
        _status = status;
        return;
    }
    FILE* in = std::fopen(m.path.c_str(), "rb");
    if (!in) {
        _status = kKelvoCannotOpenForReading;
        return;
    }
    struct stat st {};
    fstat(fileno(in), &st);
    const int64_t fileSize = int64_t(st.st_size);
    char vr[3] = {m.header.vr[0], m.header.vr[1], 0};
    const uint16_t element = DicmUtils_NumberForAtomID(DicmUtils_AtomID(_container, atom));
    const bool undefined = m.header.length == kDicomUndefinedLength;
    // Check the whole value is still there before writing a byte of it.
    bool complete = undefined ? walkFragments(in, m.header.valuePosition, fileSize,
                                              [](uint16_t, uint32_t, int64_t) { return true; })
                              : m.header.valuePosition >= 0 &&
                                    int64_t(m.header.length) <= fileSize - m.header.valuePosition;
    if (!complete) {
        std::fclose(in);
        _status = kKelvoElementUnreadable;
        return;
    }
    // Header in the output encoding.
    const bool shortForm = !(flags & kDicomWriteImplicitVR) && headerBytes(vr, flags) == 4;
    if (shortForm && (undefined || m.header.length > 0xFFFF)) {
        std::fclose(in);
        _status = paramErr; // no two-byte length can say this
        return;
    }
    DicomUtils_WriteTag(out, flags, _group, element);
    uint8_t h[8] = {};
    size_t n = 0;
    if (!(flags & kDicomWriteImplicitVR)) {
        h[0] = uint8_t(vr[0]);
        h[1] = uint8_t(vr[1]);
        n = shortForm ? 2 : 4;
    }
    if (shortForm)
        bigOut(flags) ? platform::storeBE16(h + n, uint16_t(m.header.length))
                      : platform::storeLE16(h + n, uint16_t(m.header.length));
    else
        bigOut(flags) ? platform::storeBE32(h + n, m.header.length)
                      : platform::storeLE32(h + n, m.header.length);
    std::fwrite(h, 1, n + (shortForm ? 2 : 4), out);
    std::vector<uint8_t> chunk;
    bool ok = true;
    auto copy = [&](int64_t from, uint64_t length, bool swapWords) {
        if (fseeko(in, off_t(from), SEEK_SET) != 0) return ok = false;
        while (length > 0 && ok) {
            size_t want = length < kCopyChunk ? size_t(length) : kCopyChunk;
            chunk.resize(want);
            if (std::fread(chunk.data(), 1, want, in) != want) return ok = false;
            if (swapWords) DicmUtils_OWSwap(chunk.data(), uint32_t(want));
            if (std::fwrite(chunk.data(), 1, want, out) != want) return ok = false;
            length -= want;
        }
        return ok;
    };
    if (!undefined) {
        bool swap = std::strcmp(vr, "OW") == 0 && m.bigEndian != bigOut(flags);
        copy(m.header.valuePosition, m.header.length, swap);
    } else {
        walkFragments(in, m.header.valuePosition, fileSize,
                      [&](uint16_t item, uint32_t length, int64_t value) {
                          DicomUtils_WriteTag(out, flags, 0xFFFE, item);
                          uint8_t l[4];
                          bigOut(flags) ? platform::storeBE32(l, length) : platform::storeLE32(l, length);
                          std::fwrite(l, 1, 4, out);
                          return item == 0xE0DD || copy(value, length, false);
                      });
    }
    std::fclose(in);
    if (!ok || std::ferror(out)) _status = ioErr;
}

uint64_t KelvoDicomDataSet::binaryContentSize(uint32_t flags) {
    if (!_container) return 0;
    uint64_t size = 0;
    QTAtom child = 0;
    while (QTNextChildAnyType(_container, _root, child, &child) == noErr && child) {
        QTAtomType type = DicmUtils_AtomType(_container, child);
        QTAtomID id = DicmUtils_AtomID(_container, child);
        if (id == kDicomZeroID) continue;
        if (type == kDicomSequenceAtom) {
            KelvoDicomDataItemGroup sequence(_container, child, KelvoAtomView::borrowed);
            size += 4 + sequence.binarySize(flags);
            continue;
        }
        if (type != kDicomElementAtom) continue;
        qtAtomNodeHeader header{};
        int32_t status = 0;
        bool haveHeader = DicmUtils_NodeInfo(header, _container, child, status);
        char vr[3] = {header.vr[0], header.vr[1], 0};
        // Sized where the values lie: a copy of each element only to count its bytes would cost
        // more than the write itself.
        uint32_t written = 0;
        int32_t values = 0;
        const bool haveValues =
            haveHeader && KelvoDicomDataNode::writtenDataSizeOf(_container, child, vr, written, values);
        if (isMediaElement(child, haveValues, values)) {
            size += mediaElementSize(child, flags);
        } else {
            size += 4 + headerBytes(vr[0] ? vr : "UN", flags) + (haveValues ? written : 0);
        }
    }
    return size;
}
