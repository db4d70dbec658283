// The DICOM Part 10 writer and the DICOMDIR writer, and the tree's binary output.
#include "KelvoDicomDataSetViews.h"
#include "KelvoDicomDataTree.h"
#include "KelvoDicomStream.h"
#include "KelvoDicomUtils.h"
#include "PlatformEndian.h"
#include "PlatformErrors.h"
#include "PlatformFiles.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kExplicitLittleEndian = "1.2.840.10008.1.2.1";

// The levels of the directory record hierarchy: what a record of each type may be found under.
// Leaves never take children of their own (PRIVATE records aside, which are never linked: their
// place in the hierarchy cannot be told from the order of the records).
struct RecordLevel {
    const char* type;
    int level;
    bool leaf;
};

const RecordLevel kRecordLevels[] = {
    // Root directory entity.
    {"PATIENT", 0, false},
    {"HANGING PROTOCOL", 0, true},
    {"PALETTE", 0, true},
    {"IMPLANT", 0, true},
    {"IMPLANT ASSY", 0, true},
    {"IMPLANT GROUP", 0, true},
    {"TOPIC", 0, false},
    {"PRINT QUEUE", 0, false},
    {"FILM SESSION", 0, false},
    // Under a patient (or a film session).
    {"STUDY", 1, false},
    {"HL7 STRUC DOC", 1, true},
    {"VISIT", 1, true},
    {"FILM BOX", 1, false},
    // Under a study (or a film box).
    {"SERIES", 2, false},
    {"STUDY COMPONENT", 2, true},
    {"RESULTS", 2, false},
    {"IMAGE BOX", 2, true},
    // Under a series (or results).
    {"IMAGE", 3, true},
    {"RT DOSE", 3, true},
    {"RT STRUCTURE SET", 3, true},
    {"RT PLAN", 3, true},
    {"RT TREAT RECORD", 3, true},
    {"PRESENTATION", 3, true},
    {"WAVEFORM", 3, true},
    {"SR DOCUMENT", 3, true},
    {"KEY OBJECT DOC", 3, true},
    {"SPECTROSCOPY", 3, true},
    {"RAW DATA", 3, true},
    {"REGISTRATION", 3, true},
    {"FIDUCIAL", 3, true},
    {"ENCAP DOC", 3, true},
    {"VALUE MAP", 3, true},
    {"STEREOMETRIC", 3, true},
    {"PLAN", 3, true},
    {"MEASUREMENT", 3, true},
    {"SURFACE", 3, true},
    {"SURFACE SCAN", 3, true},
    {"TRACT", 3, true},
    {"ASSESSMENT", 3, true},
    {"RADIOTHERAPY", 3, true},
    {"ANNOTATION", 3, true},
    {"OVERLAY", 3, true},
    {"MODALITY LUT", 3, true},
    {"VOI LUT", 3, true},
    {"CURVE", 3, true},
    {"STORED PRINT", 3, true},
    {"INTERPRETATION", 3, true},
};

std::string trimmed(const char* text) {
    std::string s = text ? text : "";
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.pop_back();
    return s;
}

const RecordLevel* recordLevel(const char* type) {
    const std::string name = trimmed(type);
    for (const RecordLevel& r : kRecordLevels)
        if (name == r.type) return &r;
    return nullptr;
}

// An element whose value stayed in its source file, as the reader described it.
struct MediaSource {
    std::string path;
    qtAtomNodeHeader header{};
    bool hasSyntax = false;
    uint32_t syntax = 0;
    uint16_t group = 0;
};

// Every element of the container (at any depth) whose value is to be copied from a file.
void collectMediaSources(QTAtomContainer c, QTAtom parent, uint16_t group, std::vector<MediaSource>& out) {
    QTAtom child = 0;
    while (QTNextChildAnyType(c, parent, child, &child) == noErr && child) {
        const QTAtomType type = DicmUtils_AtomType(c, child);
        if (type == kDicomGroupAtom) {
            collectMediaSources(c, child, DicmUtils_NumberForAtomID(DicmUtils_AtomID(c, child)), out);
        } else if (type == kDicomSequenceAtom || type == kDicomItemAtom) {
            collectMediaSources(c, child, group, out);
        } else if (type == kDicomElementAtom) {
            // Values put into the tree in memory are written from there.
            QTAtom file = QTFindChildByIndex(c, child, kDicomMediaFileAtom, 1, nullptr);
            QTAtom data = QTFindChildByIndex(c, child, kDicomNodeDataAtom, 1, nullptr);
            if (!file || QTFindChildByIndex(c, child, kDicomInMemoryPixelsAtom, 1, nullptr) ||
                (data && QTCountChildrenOfType(c, data, kDicomNodeValueAtom) > 0))
                continue;
            MediaSource m;
            int32_t size = 0;
            Ptr p = nullptr;
            if (QTGetAtomDataPtr(c, file, &size, &p) == noErr && p && size > 0)
                m.path.assign(p, strnlen(p, size_t(size)));
            int32_t status = 0;
            DicmUtils_NodeInfo(m.header, c, child, status);
            if (QTAtom code = QTFindChildByIndex(c, child, kDicomMediaSyntaxAtom, 1, nullptr)) {
                size = 0;
                p = nullptr;
                if (QTGetAtomDataPtr(c, code, &size, &p) == noErr && p && size == 4) {
                    std::memcpy(&m.syntax, p, 4);
                    m.hasSyntax = true;
                }
            }
            m.group = group;
            out.push_back(std::move(m));
        }
    }
}

// Whether the whole value of an element that stays in its file is still there: a defined length
// inside the file, or items up to the sequence delimiter (always little endian).
bool valueIsWhole(FILE* f, const qtAtomNodeHeader& h) {
    struct stat st {};
    if (::fstat(fileno(f), &st) != 0) return false;
    const int64_t size = int64_t(st.st_size);
    if (h.valuePosition < 0 || h.valuePosition > size) return false;
    if (h.length != kDicomUndefinedLength) return int64_t(h.length) <= size - h.valuePosition;
    int64_t at = h.valuePosition;
    while (size - at >= 8) {
        uint8_t b[8];
        if (fseeko(f, off_t(at), SEEK_SET) != 0 || std::fread(b, 1, 8, f) != 8) return false;
        const uint16_t group = platform::loadLE16(b), element = platform::loadLE16(b + 2);
        const uint32_t length = platform::loadLE32(b + 4);
        if (group != 0xFFFE) return false;
        if (element == 0xE0DD) return true;
        if (element != 0xE000 || length == kDicomUndefinedLength || int64_t(length) > size - at - 8)
            return false;
        at += 8 + int64_t(length);
    }
    return false;
}

void store32(uint8_t* b, uint32_t v, bool big) {
    big ? platform::storeBE32(b, v) : platform::storeLE32(b, v);
}

// The bytes a data set writes for its elements before `element` (group length excluded).
uint64_t sizeBefore(KelvoDicomDataSet& set, uint16_t element, uint32_t flags) {
    KelvoDicomDataSet prefix(set);
    if (KelvoDicomDataNode* keys = prefix.getKeys()) {
        for (int32_t i = 0; i < keys->valueCount(); ++i) {
            uint16_t key = keys->usValue(i);
            if (key != 0 && key >= element) prefix.RemoveKey(key);
        }
        delete keys;
    }
    return prefix.binaryContentSize(flags);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The stream

bool KelvoDicomOutputFileBinary::isA(const char* name) const {
    if (!name) return false;
    return KelvoDicomOutputFile::isA(name) || std::strcmp(name, "KelvoDicomOutputFileBinary") == 0;
}

void KelvoDicomOutputFileBinary::defaultStatus() {
    KelvoDicomOutputFile::defaultStatus();
    _useGroupLength = false;
}

// Checks what the tree asks for before a byte is written: the pixel and waveform data that stay
// in their files must still be there whole, and must be writable in the header's transfer
// syntax. Notes the files they come from in `sources`.
int32_t KelvoDicomOutputFileBinary::prepare(const KelvoDicomDataTree& tree,
                                            std::vector<std::string>& sources) {
    sources.clear();
    if (tree.Path()) sources.push_back(tree.Path());
    std::unique_ptr<KelvoDicomDataHeader> header(tree.Header());
    if (!header) return kKelvoNothingToWorkOn;
    char sop[80] = {};
    header->getStringValueProperty(0x0002, sop, sizeof sop);
    if (DicomUtils_IsFileDicomDirectory(trimmed(sop).c_str()) && !tree.isA("KelvoDicomDirectoryDocument"))
        return kKelvoWrongType; // only a directory document holds directory records
    char uid[80] = {};
    header->getStringValueProperty(0x0010, uid, sizeof uid);
    const std::string outputSyntax = trimmed(uid);
    const dicmXferSyntaxInfo* output = DicmDict_XFerSyntax(outputSyntax.c_str());
    // Values are never deflated here, nor written in a syntax nobody can read back.
    if (!output || outputSyntax == "1.2.840.10008.1.2.1.99" || outputSyntax == "1.2.840.10008.1.2.4.95")
        return kDicomUnknownSyntax;
    const bool outputEncapsulated = (output->flags & kDicmXferEncapsulated) != 0;

    std::vector<MediaSource> media;
    collectMediaSources(tree.Dictionary(), 0, 0, media);
    for (const MediaSource& m : media) {
        const bool encapsulated = m.header.length == kDicomUndefinedLength;
        // Encapsulated frames stay in the syntax they were compressed with; native samples
        // cannot stand in for compressed ones.
        if (encapsulated && (!m.hasSyntax || m.syntax != output->id)) return paramErr;
        if (!encapsulated && m.group == 0x7FE0 && outputEncapsulated) return paramErr;
        FILE* f = std::fopen(m.path.c_str(), "rb");
        if (!f) return kKelvoCannotOpenForReading;
        const bool whole = valueIsWhole(f, m.header);
        std::fclose(f);
        if (!whole) return kKelvoElementUnreadable;
        sources.push_back(m.path);
    }
    return 0;
}

void KelvoDicomOutputFileBinary::write(const KelvoDicomDataTree& tree) {
    if (!qtObjIsValid()) {
        _status = kKelvoMediaMissing;
        return;
    }
    if (!tree.qtObjIsValid()) {
        _status = kKelvoNothingToWorkOn;
        return;
    }
    if (tree.readError() != 0) {
        _status = tree.readError(); // what could not be read is not written as if it were whole
        return;
    }
    std::vector<std::string> sources;
    if (int32_t refused = prepare(tree, sources)) {
        _status = refused;
        return;
    }
    open();
    if (isActive()) {
        delete _header;
        _header = tree.Header();
        if (_header && _header->qtObjIsValid()) writeTree(tree);
    }
    int32_t status = _status;
    close();
    if (_status == 0) _status = status;
}

void KelvoDicomOutputFileBinary::writeInto(FILE* file, const KelvoDicomDataTree& tree) {
    if (!file || isActive()) {
        _status = file ? kDicomStreamActive : paramErr;
        return;
    }
    if (!tree.qtObjIsValid()) {
        _status = kKelvoNothingToWorkOn;
        return;
    }
    if (tree.readError() != 0) {
        _status = tree.readError();
        return;
    }
    std::vector<std::string> sources;
    if (int32_t refused = prepare(tree, sources)) {
        _status = refused;
        return;
    }
    // Writing into a file that is still to be copied from would read back what is being written.
    for (const std::string& source : sources)
        if (file && PlatformSameFile(source.c_str(), fileno(file))) {
            _status = paramErr;
            return;
        }
    _status = 0;
    _stream = file;
    delete _header;
    _header = tree.Header();
    if (_header && _header->qtObjIsValid()) writeTree(tree);
    std::fflush(file);
    _stream = nullptr; // the caller's stream stays open
    delete _header;
    _header = nullptr;
    _needSwap = _isImplicit = false;
}

// The header copy completed, then the header and the groups.
void KelvoDicomOutputFileBinary::writeTree(const KelvoDicomDataTree& tree) {
    KelvoDicomDataHeader& header = *_header;
    // A directory is always written with explicit VR, so its header must not say otherwise.
    char sop[80] = {};
    header.getStringValueProperty(0x0002, sop, sizeof sop);
    const bool directory = DicomUtils_IsFileDicomDirectory(trimmed(sop).c_str());
    if (directory && header.Implicit()) header.XFerSyntax(kExplicitLittleEndian);

    // The file meta information names the SOP class and instance of the data set and the
    // implementation that wrote it. A header made up for a stream that had none takes them from
    // the data set.
    std::string sopClass, sopInstance;
    QTAtomContainer c = tree.Dictionary();
    if (QTAtom study = QTFindChildByID(c, 0, kDicomGroupAtom, 0x0008, nullptr)) {
        KelvoDicomDataSet identification(c, study);
        char text[80] = {};
        if (identification.HasKey(0x0016)) {
            identification.getStringValueProperty(0x0016, text, sizeof text);
            sopClass = trimmed(text);
        }
        text[0] = 0;
        if (identification.HasKey(0x0018)) {
            identification.getStringValueProperty(0x0018, text, sizeof text);
            sopInstance = trimmed(text);
        }
    }
    auto missing = [&](uint16_t element) {
        char text[80] = {};
        if (!header.HasKey(element)) return true;
        header.getStringValueProperty(element, text, sizeof text);
        return trimmed(text).empty();
    };
    const bool madeUp = header.isSourceACRNema();
    if (!header.HasKey(0x0001)) header.VersionDefault();
    if (!sopClass.empty() && (madeUp || missing(0x0002)))
        header.setStringValueProperty(0x0002, sopClass.c_str());
    if (!sopInstance.empty() && (madeUp || missing(0x0003)))
        header.setStringValueProperty(0x0003, sopInstance.c_str());
    if (directory && missing(0x0003)) {
        // A directory made in memory has no instance UID anywhere: it gets one of its own.
        char* fresh = DicmUtils_UIDCreate(VUX::VUXDCM::VUXDicomLibrary::defaultRootOrganization());
        if (fresh && fresh[0]) header.setStringValueProperty(0x0003, fresh);
        delete[] fresh;
    }
    if (missing(0x0012))
        header.setStringValueProperty(0x0012, VUX::VUXDCM::VUXDicomLibrary::defaultImplementationUID());

    _needSwap = header.Swap();
    _isImplicit = header.Implicit();
    _writeHeader();
    _writeDataSet(tree);
    if (_stream && std::ferror(_stream) && _status == 0) _status = ioErr;
}

void KelvoDicomOutputFileBinary::_writeHeader() {
    if (!_stream) return;
    static const uint8_t preamble[128] = {};
    std::fwrite(preamble, 1, sizeof preamble, _stream);
    std::fwrite("DICM", 1, 4, _stream);
    std::fflush(_stream);
    if (_header) _header->flushToBinary(_stream, nullptr);
}

void KelvoDicomOutputFileBinary::_writeDataSet(const KelvoDicomDataTree& tree) {
    if (!_stream) return;
    char sop[80] = {};
    if (_header) _header->getStringValueProperty(0x0002, sop, sizeof sop);
    if (DicomUtils_IsFileDicomDirectory(trimmed(sop).c_str())) {
        if (!tree.isA("KelvoDicomDirectoryDocument")) {
            _status = kKelvoWrongType;
            return;
        }
        _writeDicomDirDataSet(
            const_cast<KelvoDicomDirectoryDocument&>(static_cast<const KelvoDicomDirectoryDocument&>(tree)));
        return;
    }
    uint32_t flags = 0;
    if (_isImplicit) flags |= kDicomWriteImplicitVR;
    if (_needSwap) flags |= kDicomWriteBigEndian;
    if (_useGroupLength) flags |= kDicomWriteGroupLength;
    QTAtomContainer c = tree.Dictionary();
    QTAtom child = 0;
    while (QTNextChildAnyType(c, 0, child, &child) == noErr && child) {
        if (DicmUtils_AtomType(c, child) != kDicomGroupAtom) continue;
        // The file meta information has been written from the header.
        if (DicmUtils_NumberForAtomID(DicmUtils_AtomID(c, child)) == 0x0002) continue;
        // Each group exactly as held: a group view could add elements of its own.
        KelvoDicomDataSet set(c, child, KelvoAtomView::borrowed);
        if (!set.qtObjIsValid()) continue;
        // A value that could not be copied is missing from what was written, however quietly.
        const uint64_t expected = set.binaryContentSize(flags) + (_useGroupLength ? 12 : 0);
        const int64_t before = ftello(_stream);
        set.flushToBinary(_stream, &flags);
        if (ftello(_stream) - before != int64_t(expected) && _status == 0) _status = kKelvoElementUnreadable;
    }
}

// ---------------------------------------------------------------------------------------------
// DICOMDIR

namespace {

// A directory record as the records sequence holds it: the item, and its group 0004.
struct RecordItem {
    std::unique_ptr<KelvoDicomDataItem> item;
    int64_t fileStart = 0; // where its item started in the file it was read from (0: made in memory)
};

// The records the writer writes, in order: valid items holding a group 0004.
std::vector<RecordItem> recordItems(KelvoDicomDataItemGroup& records) {
    std::vector<RecordItem> out;
    const int32_t n = records.count();
    for (int32_t i = 1; i <= n; ++i) {
        // Each record read where it lies: the writer only reads them, and a directory of a whole
        // archive holds tens of thousands.
        const QTAtom atom = records.FindItem(i, records.getRootOfItems());
        auto item = std::make_unique<KelvoDicomDataItem>(records.Dictionary(), atom, KelvoAtomView::borrowed);
        if (!item->qtObjIsValid()) continue;
        RecordItem r;
        r.item = std::move(item);
        if (!r.item->HasKey(0x0004)) continue;
        qtAtomNodeHeader h{};
        int32_t status = 0;
        if (DicmUtils_NodeInfo(h, records.Dictionary(), atom, status)) r.fileStart = h.elementPosition;
        out.push_back(std::move(r));
    }
    return out;
}

uint32_t recordOffset(KelvoDicomDataItem& item, uint16_t element) {
    const QTAtom atom = item.FindItem(0x0004, item.getRootOfItems());
    if (!atom) return 0;
    KelvoDicomDataSet group(item.Dictionary(), atom, KelvoAtomView::borrowed);
    if (!group.qtObjIsValid()) return 0;
    return group.HasKey(element) ? group.getULValueProperty(element) : 0;
}

} // namespace

void KelvoDicomOutputFileBinary::_writeDicomDirDataSet(KelvoDicomDirectoryDocument& doc) {
    // Directory records are always explicit VR.
    uint32_t flags = _needSwap ? uint32_t(kDicomWriteBigEndian) : 0u;
    _status = 0;
    _links = PendingLinks{};
    // The records sequence read where it lies, not copied.
    const QTAtom recordsAtom = doc.qtObjIsValid() ? doc.getRootOfItems() : 0;
    std::unique_ptr<KelvoDicomDataItemGroup> records(
        recordsAtom ? new KelvoDicomDataItemGroup(doc.Dictionary(), recordsAtom, KelvoAtomView::borrowed)
                    : nullptr);
    if (records && !records->qtObjIsValid()) {
        _status = records->Error() ? records->Error() : kKelvoUnacceptedValue;
        return;
    }
    std::unique_ptr<KelvoDicomDataFileSet> root(doc.root());
    if (!root) {
        _status = kKelvoBadArgumentObject;
        return;
    }
    std::vector<RecordItem> items;
    if (records) items = recordItems(*records);
    if (items.empty()) {
        // No record: no offset may point anywhere.
        if (root->HasKey(0x1200)) root->setULValueProperty(0x1200, 0);
        if (root->HasKey(0x1202)) root->setULValueProperty(0x1202, 0);
        root->RemoveKey(0x1220);
        root->flushToBinary(_stream, &flags);
        KelvoDicomDataItemGroup none(0x1220);
        _writeDicomDirMainDirectory(none);
        return;
    }

    // Records read from a file keep the hierarchy their offsets describe, when every record came
    // from that file and every offset names one of them; the order of the records need not follow
    // the hierarchy. Records made or rearranged in memory are linked by order and type instead.
    _links.fileFirstRoot = root->HasKey(0x1200) ? root->getULValueProperty(0x1200) : 0;
    std::vector<int64_t> fileStarts;
    bool keep = _links.fileFirstRoot != 0;
    for (RecordItem& r : items) {
        keep = keep && r.fileStart > 0;
        fileStarts.push_back(r.fileStart);
    }
    std::sort(fileStarts.begin(), fileStarts.end());
    keep = keep && std::adjacent_find(fileStarts.begin(), fileStarts.end()) == fileStarts.end();
    auto known = [&](uint32_t offset) {
        return offset == 0 || std::binary_search(fileStarts.begin(), fileStarts.end(), int64_t(offset));
    };
    keep = keep && known(_links.fileFirstRoot);
    for (RecordItem& r : items)
        keep = keep && known(recordOffset(*r.item, 0x1400)) && known(recordOffset(*r.item, 0x1420));
    _links.keepFileLinks = keep;

    root->RemoveKey(0x1220);
    root->setULValueProperty(0x1200, 0);
    root->setULValueProperty(0x1202, 0);
    // Where the two root offsets will lie, to be filled in once the records are written.
    const int64_t start = ftello(_stream);
    const int64_t firstAt = start + int64_t(sizeBefore(*root, 0x1200, flags)) + 8;
    const int64_t lastAt = start + int64_t(sizeBefore(*root, 0x1202, flags)) + 8;
    root->flushToBinary(_stream, &flags);
    _writeDicomDirMainDirectory(*records);
    const int64_t end = ftello(_stream);
    if (_links.keepFileLinks) linkAsInFile();
    patchOffset(firstAt, _links.firstRoot);
    patchOffset(lastAt, _links.lastRoot);
    if (fseeko(_stream, off_t(end), SEEK_SET) != 0) _status = ioErr;
}

// The offsets of the file the records came from, mapped to where the records are now.
void KelvoDicomOutputFileBinary::linkAsInFile() {
    std::map<int64_t, size_t> byFileStart;
    for (size_t i = 0; i < _links.records.size(); ++i)
        byFileStart[_links.records[i].fileStart] = i;
    auto now = [&](uint32_t fileOffset) -> int64_t {
        auto it = fileOffset ? byFileStart.find(fileOffset) : byFileStart.end();
        return it == byFileStart.end() ? 0 : _links.records[it->second].start;
    };
    for (const RecordPlacement& r : _links.records) {
        if (r.nextAt) patchOffset(r.nextAt, now(r.fileNext));
        if (r.lowerAt) patchOffset(r.lowerAt, now(r.fileLower));
    }
    // The last root record: the end of the chain from the first (never more steps than records).
    _links.firstRoot = now(_links.fileFirstRoot);
    uint32_t at = _links.fileFirstRoot;
    for (size_t steps = 0; at && steps < _links.records.size(); ++steps) {
        auto it = byFileStart.find(at);
        if (it == byFileStart.end()) break;
        _links.lastRoot = _links.records[it->second].start;
        at = _links.records[it->second].fileNext;
    }
}

void KelvoDicomOutputFileBinary::patchOffset(int64_t at, int64_t value) {
    if (at <= 0) return;
    if (value < 0 || value > int64_t(0xFFFFFFFFu)) {
        _status = paramErr; // an offset this far cannot be written
        return;
    }
    uint8_t b[4];
    store32(b, uint32_t(value), _needSwap);
    if (fseeko(_stream, off_t(at), SEEK_SET) != 0 || std::fwrite(b, 1, 4, _stream) != 4) _status = ioErr;
}

void KelvoDicomOutputFileBinary::_writeDicomDirMainDirectory(KelvoDicomDataItemGroup& records) {
    uint32_t flags = _needSwap ? uint32_t(kDicomWriteBigEndian) : 0u;
    // (0004,1220) SQ of undefined length: its length cannot be known before the records are.
    DicomUtils_WriteTag(_stream, flags, 0x0004, 0x1220);
    uint8_t header[8] = {'S', 'Q', 0, 0};
    store32(header + 4, kDicomUndefinedLength, _needSwap);
    std::fwrite(header, 1, sizeof header, _stream);
    for (RecordItem& r : recordItems(records)) {
        KelvoDicomDataItem& item = *r.item;
        int64_t itemStart = ftello(_stream);
        RecordPlacement placement;
        placement.start = itemStart;
        placement.fileStart = r.fileStart;
        placement.fileNext = recordOffset(item, 0x1400);
        placement.fileLower = recordOffset(item, 0x1420);
        _links.records.push_back(placement);
        const uint32_t undefined = kDicomUndefinedLength;
        DicomUtils_WriteItemStart(_stream, int32_t(flags), &undefined);
        QTAtomContainer c = item.Dictionary();
        for (int32_t g = 1; g <= item.count(); ++g) {
            QTAtom group = QTFindChildByIndex(c, item.getRootOfItems(), kDicomGroupAtom, g, nullptr);
            if (DicmUtils_AtomID(c, group) == 0x0004) {
                KelvoDicomDataFileSet record(c, group);
                if (record.qtObjIsValid()) _writeDicomDirItem(record, itemStart);
            } else {
                // The other groups exactly as held.
                KelvoDicomDataSet set(c, group, KelvoAtomView::borrowed);
                if (set.qtObjIsValid()) set.flushToBinary(_stream, &flags);
            }
        }
        DicomUtils_WriteEndofDelimiter(_stream, int32_t(flags), 0xE00D);
    }
    DicomUtils_WriteEndofDelimiter(_stream, int32_t(flags), 0xE0DD);
}

void KelvoDicomOutputFileBinary::_writeDicomDirItem(KelvoDicomDataFileSet& record, int64_t& itemStart) {
    const uint32_t flags = _needSwap ? uint32_t(kDicomWriteBigEndian) : 0u;
    // The links are the writer's to make: whatever a record held from another layout goes.
    record.setULValueProperty(0x1400, 0);
    record.setULValueProperty(0x1420, 0);
    record.flushToBinary(_stream, &flags);
    const int64_t next = record.nextRecordOffsetPosition();
    const int64_t lower = record.lowerLevelOffsetPosition();
    const int64_t after = ftello(_stream);
    if (!_links.records.empty() && _links.records.back().start == itemStart) {
        _links.records.back().nextAt = next;
        _links.records.back().lowerAt = lower;
    }
    if (_links.keepFileLinks) return; // linked once every record has its place
    const RecordLevel* kind = recordLevel(record.getStringValueProperty(0x1430));
    if (!kind) return; // written, but not part of the hierarchy
    const int level = kind->level;
    if (level == 0) {
        if (_links.firstRoot == 0) _links.firstRoot = itemStart;
        _links.lastRoot = itemStart;
    }
    // A record starts a new branch at its level: nothing deeper is pending any more.
    for (int deeper = level + 1; deeper < 4; ++deeper)
        _links.next[deeper] = _links.lower[deeper] = 0;
    if (_links.next[level]) patchOffset(_links.next[level], itemStart);
    if (level > 0 && _links.lower[level - 1]) {
        patchOffset(_links.lower[level - 1], itemStart);
        _links.lower[level - 1] = 0; // the parent points to its first child only
    }
    if (fseeko(_stream, off_t(after), SEEK_SET) != 0) _status = ioErr;
    _links.next[level] = next;
    _links.lower[level] = kind->leaf ? 0 : lower;
}

// ---------------------------------------------------------------------------------------------
// The tree's binary output

void KelvoDicomDataTree::flushToBinary(FILE* file, const void*) {
    if (!file || !qtObjIsValid()) return;
    KelvoDicomOutputFileBinary out;
    out.writeInto(file, *this);
    _status = out.Error();
}

namespace {

// Points the elements of `mine` whose values stay in a file at the places the same elements have
// in `fresh`, a tree read from the file just written: the structures are the same, since the one
// was written from the other. The element's own VR stays.
void repointMedia(QTAtomContainer mine, QTAtom myParent, QTAtomContainer fresh, QTAtom freshParent) {
    QTAtom child = 0;
    int32_t item = 0;
    while (QTNextChildAnyType(mine, myParent, child, &child) == noErr && child) {
        const QTAtomType type = DicmUtils_AtomType(mine, child);
        QTAtom other = 0;
        if (type == kDicomItemAtom)
            other = QTFindChildByIndex(fresh, freshParent, kDicomItemAtom, ++item, nullptr);
        else if (type == kDicomGroupAtom || type == kDicomSequenceAtom || type == kDicomElementAtom)
            other = QTFindChildByID(fresh, freshParent, type, DicmUtils_AtomID(mine, child), nullptr);
        if (!other) continue;
        if (type != kDicomElementAtom) {
            repointMedia(mine, child, fresh, other);
            continue;
        }
        if (!QTFindChildByIndex(mine, child, kDicomMediaFileAtom, 1, nullptr) ||
            QTFindChildByIndex(mine, child, kDicomInMemoryPixelsAtom, 1, nullptr) ||
            !QTFindChildByIndex(fresh, other, kDicomMediaFileAtom, 1, nullptr))
            continue;
        qtAtomNodeHeader before{};
        int32_t status = 0;
        const bool hadHeader = DicmUtils_NodeInfo(before, mine, child, status);
        if (QTReplaceAtom(mine, child, fresh, other) != noErr || !hadHeader) continue;
        QTAtom header = QTFindChildByIndex(mine, child, kDicomNodeHeaderAtom, 1, nullptr);
        qtAtomNodeHeader after{};
        if (header && DicmUtils_NodeInfo(after, mine, child, status)) {
            std::memcpy(after.vr, before.vr, 2);
            QTSetAtomData(mine, header, sizeof after, &after);
        }
    }
}

} // namespace

void KelvoDicomDataTree::toBinaryFile(const char* path, const void* option) {
    KelvoDicomOutputFileBinary out(path);
    out.useGroupLength() = option && *static_cast<const uint8_t*>(option) != 0;
    // Written over a file its pixel or waveform data come from, the tree must then find them
    // where they now are.
    bool replacing = false;
    struct stat st {};
    if (path && ::stat(path, &st) == 0 && qtObjIsValid()) {
        std::vector<MediaSource> media;
        collectMediaSources(_container, 0, 0, media);
        for (const MediaSource& m : media)
            replacing = replacing || PlatformSameFile(m.path.c_str(), path);
    }
    _writeToStream(out);
    if (!replacing || _status != 0) return;
    KelvoDicomDataTree written(path);
    if (written.readError() != 0 || !written.Dictionary()) return;
    repointMedia(_container, 0, written.Dictionary(), 0);
    if (written.pixelData() && written.pixelData()->isA("KelvoDicomPixelData"))
        pixelData(new KelvoDicomPixelData(*static_cast<KelvoDicomPixelData*>(written.pixelData())));
    else
        pixelData(nullptr);
}

void KelvoDicomDataTree::toDicomFile(const char* path, uint8_t useGroupLength) {
    toBinaryFile(path, &useGroupLength);
}
