#include "KelvoDicomDictionaries.h"

#include "PlatformEndian.h"

#include <cctype>
#include <cstring>
#include <new>
#include <string>

using VUX::VUXDCM::VUXDicomLibrary;

namespace {

uint32_t tagKey(uint16_t group, uint16_t element) {
    return (uint32_t(group) << 16) | element;
}

// Reads hexadecimal digits into a 16-bit number; false when there are none or too many.
bool parseHex16(const char*& p, uint16_t& out) {
    uint32_t v = 0;
    int digits = 0;
    while (std::isxdigit(static_cast<unsigned char>(*p))) {
        int d = std::isdigit(static_cast<unsigned char>(*p)) ? *p - '0' : (std::toupper(*p) - 'A' + 10);
        v = v * 16 + uint32_t(d);
        if (++digits > 4) return false;
        ++p;
    }
    out = uint16_t(v);
    return digits > 0;
}

void skipBlanks(const char*& p) {
    while (*p == ' ' || *p == '\t')
        ++p;
}

// Copies one token of 1 to `max` characters; false (nothing copied) when there is none or it is
// longer.
bool token(const char*& p, char* out, size_t max) {
    size_t n = 0;
    while (p[n] && !std::isspace(static_cast<unsigned char>(p[n])))
        ++n;
    if (n == 0 || n > max) return false;
    std::memcpy(out, p, n);
    out[n] = 0;
    p += n;
    return true;
}

enum class LineKind { Nothing, Entry, Unreadable };

// One dictionary line: "gggg,eeee name VR VM". A comment ("#" first) or a blank line holds
// nothing; a line without a whole tag followed by a blank is unreadable. A line with a tag is an
// entry: its fields are read in turn, and the first that is missing or does not fit its place in
// the record (a name over 119 characters, a VR of other than two, a VM over 19) leaves itself and
// those after it zero. Whatever follows the VM is not part of the entry.
LineKind parseLine(const std::string& line, dicmDictFileRecord& rec) {
    std::memset(&rec, 0, sizeof rec);
    if (!line.empty() && line[0] == '#') return LineKind::Nothing;
    const char* p = line.c_str();
    while (*p && std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    if (*p == 0) return LineKind::Nothing;
    if (!parseHex16(p, rec.group) || *p++ != ',') return LineKind::Unreadable;
    if (!parseHex16(p, rec.element)) return LineKind::Unreadable;
    if (*p && !std::isspace(static_cast<unsigned char>(*p))) return LineKind::Unreadable;
    skipBlanks(p);
    if (!token(p, rec.name, sizeof rec.name - 1)) return LineKind::Entry;
    skipBlanks(p);
    char vr[3] = {};
    if (!token(p, vr, 2) || vr[1] == 0) return LineKind::Entry;
    std::memcpy(rec.vr, vr, 2);
    skipBlanks(p);
    token(p, rec.vm, sizeof rec.vm - 1);
    return LineKind::Entry;
}

// Lines are read whole whatever their length, but only their first kMaxLine characters are kept:
// more than that holds no entry (the fields of one fit in less than 300).
constexpr size_t kMaxLine = 4096;

// The next line without its end; false at the end of the file. `whole` is false for a line longer
// than kMaxLine.
bool nextLine(FILE* file, std::string& line, bool& whole) {
    line.clear();
    whole = true;
    char piece[512];
    bool any = false;
    while (std::fgets(piece, sizeof piece, file)) {
        any = true;
        size_t n = std::strlen(piece);
        const bool ended = n > 0 && piece[n - 1] == '\n';
        if (ended) --n;
        if (line.size() + n > kMaxLine)
            whole = false;
        else
            line.append(piece, n);
        if (ended) break;
    }
    return any;
}

Kelvo_QTObjectsList& externalDictionaries() {
    static Kelvo_QTObjectsList list;
    return list;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// KelvoDicomDictionary

KelvoDicomDictionary::KelvoDicomDictionary() = default;

KelvoDicomDictionary::KelvoDicomDictionary(const char* path, dicmIOformat format) {
    loadEntries(path, format);
}

KelvoDicomDictionary::KelvoDicomDictionary(const KelvoDicomDictionary& other)
    : Kelvo_QTObj(other), _entries(other._entries) {
    description(other._description);
}

KelvoDicomDictionary& KelvoDicomDictionary::operator=(const KelvoDicomDictionary& other) {
    if (&other == this) return *this;
    description(other._description);
    _entries = other._entries;
    _stable.clear();
    _found = nullptr;
    return *this;
}

KelvoDicomDictionary::~KelvoDicomDictionary() {
    delete[] _description;
}

bool KelvoDicomDictionary::qtObjIsValid() {
    return !_entries.empty();
}

void KelvoDicomDictionary::defaultStatus() {
    _found = nullptr;
    _stable.clear();
    description(nullptr);
    _entries.clear();
    _entries.locked(false);
    _status = 0;
}

Kelvo_QTObj* KelvoDicomDictionary::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new KelvoDicomDictionary(*this);
}

void KelvoDicomDictionary::description(const char* text) {
    delete[] _description;
    _description = nullptr;
    if (text && *text) {
        size_t n = std::strlen(text);
        _description = new char[n + 1];
        std::memcpy(_description, text, n + 1);
    }
}

int32_t KelvoDicomDictionary::entryCount() {
    int32_t n = 0;
    for (int32_t g = 1; g <= _entries.childCount(groupAtom); ++g)
        n += _entries.childByIndex(groupAtom, g).childCount(elementAtom);
    return n;
}

bool KelvoDicomDictionary::storeRecord(const dicmDictFileRecord& record) {
    Kelvo_AtomCoord group = _entries.childById(groupAtom, DicmUtils_AtomIDForNumber(record.group));
    if (!group.qtObjIsValid())
        group = _entries.addChild(groupAtom, DicmUtils_AtomIDForNumber(record.group), 0);
    if (!group.qtObjIsValid()) return false;
    // A tag given twice keeps its first entry.
    if (group.childById(elementAtom, DicmUtils_AtomIDForNumber(record.element)).qtObjIsValid()) return true;
    QTAtom atom = 0;
    return QTInsertChild(_entries.container(), group.atom(), elementAtom,
                         DicmUtils_AtomIDForNumber(record.element), 0, sizeof record, &record,
                         &atom) == noErr;
}

bool KelvoDicomDictionary::readText(FILE* file) {
    // Every line is read: one that cannot be used is passed over, never the end of the load.
    std::string line;
    bool whole = true, unreadable = false;
    while (nextLine(file, line, whole)) {
        dicmDictFileRecord rec;
        const LineKind kind = whole ? parseLine(line, rec) : LineKind::Unreadable;
        if (kind == LineKind::Unreadable) unreadable = true;
        if (kind == LineKind::Entry && !storeRecord(rec)) {
            _status = -108; // an entry that cannot be kept is no success
            return true;
        }
    }
    return !unreadable;
}

void KelvoDicomDictionary::readBinary(FILE* file) {
    uint16_t order = 0;
    if (std::fread(&order, 2, 1, file) != 1) return;
    bool swap = order != 1;
    dicmDictFileRecord rec;
    while (std::fread(&rec, sizeof rec, 1, file) == 1) {
        if (swap) {
            rec.group = platform::swap16(rec.group);
            rec.element = platform::swap16(rec.element);
        }
        // Texts from a file are terminated within their fields whatever the file holds.
        rec.name[sizeof rec.name - 1] = 0;
        rec.vm[sizeof rec.vm - 1] = 0;
        if (!storeRecord(rec)) {
            _status = -108;
            return;
        }
    }
}

bool KelvoDicomDictionary::loadEntries(const char* path, dicmIOformat format) {
    defaultStatus();
    if (!path) return false;
    const char* mode = nullptr;
    switch (format) {
    case dicmIOformatText:
        mode = "r";
        break;
    case dicmIOformatXML:
        mode = "r";
        break;
    case dicmIOformatBinary:
        mode = "rb";
        break;
    default:
        _status = kKelvoWrongFileFormat;
        return false;
    }
    FILE* file = std::fopen(path, mode);
    if (!file) {
        _status = kKelvoCannotOpenForReading;
        return false;
    }
    bool understood = true;
    if (format == dicmIOformatText) understood = readText(file);
    if (format == dicmIOformatBinary) readBinary(file);
    // XML dictionaries are not read: answering success would claim entries that were never
    // loaded.
    if (format == dicmIOformatXML) understood = false;
    std::fclose(file);
    if (!qtObjIsValid()) {
        // No entry: an empty file (or one of comments and blank lines) is an empty dictionary;
        // a file whose lines were not dictionary lines is not a dictionary of this format.
        if (!understood) _status = kKelvoWrongFileFormat;
        return false;
    }
    _entries.locked(true);
    return true;
}

const dicmDictEntry* KelvoDicomDictionary::dicomTagInfo(const AttributeTagRecord& tag) {
    _found = nullptr;
    uint32_t key = tagKey(tag.group, tag.element);
    auto it = _stable.find(key);
    if (it != _stable.end()) return _found = &it->second->view;
    Kelvo_AtomCoord group = _entries.childById(groupAtom, DicmUtils_AtomIDForNumber(tag.group));
    if (!group.qtObjIsValid()) return nullptr;
    Kelvo_AtomCoord element = group.childById(elementAtom, DicmUtils_AtomIDForNumber(tag.element));
    if (!element.qtObjIsValid()) return nullptr;
    auto stored = std::make_unique<StoredEntry>();
    std::memset(&stored->record, 0, sizeof stored->record);
    if (!element.getData(&stored->record, sizeof stored->record)) return nullptr;
    stored->record.name[sizeof stored->record.name - 1] = 0;
    stored->record.vm[sizeof stored->record.vm - 1] = 0;
    stored->view.element = stored->record.element;
    stored->view.name = stored->record.name;
    stored->view.vr[0] = stored->record.vr[0];
    stored->view.vr[1] = stored->record.vr[1];
    stored->view.vr[2] = 0;
    stored->view.vm = stored->record.vm;
    _found = &stored->view;
    _stable.emplace(key, std::move(stored));
    return _found;
}

// ---------------------------------------------------------------------------------------------
// KelvoDicomStandardDictionaryUtils

const dicmDictEntry* KelvoDicomStandardDictionaryUtils::dicomTagInfo(const AttributeTagRecord& tag,
                                                                     unsigned char flag) {
    dataElementTagRecord t{tag.group, tag.element};
    if (flag != 0) t = {0, 0};
    if (const dicmDictEntry* row = VUXDicomLibrary::stdDataElementInfo(t)) return row;
    Kelvo_QTObjectsList& list = externalDictionaries();
    AttributeTagRecord asked{t.group, t.element};
    for (int32_t i = 0; i < list.count(); ++i) {
        auto* dict = static_cast<KelvoDicomDictionary*>(list.getObjValueByRef(i));
        if (!dict) continue;
        if (const dicmDictEntry* row = dict->dicomTagInfo(asked)) return row;
    }
    return nullptr;
}

void KelvoDicomStandardDictionaryUtils::dicomVRForTag(const AttributeTagRecord& tag, unsigned char flag,
                                                      char vr[3]) {
    vr[0] = vr[1] = vr[2] = 0;
    const dicmDictEntry* row = dicomTagInfo(tag, flag);
    if (!row) return;
    vr[0] = row->vr[0];
    vr[1] = row->vr[1];
}

bool KelvoDicomStandardDictionaryUtils::dicomTagHasMultipleVR(const AttributeTagRecord& tag) {
    return VUXDicomLibrary::dataElementHasMultipleVR(dataElementTagRecord{tag.group, tag.element});
}

int32_t KelvoDicomStandardDictionaryUtils::loadExternalDictionary(const char* description, const char* path,
                                                                  dicmIOformat format) {
    auto* dict = new (std::nothrow) KelvoDicomDictionary(path, format);
    if (!dict) return -108;
    // A dictionary without entries but without an error (an empty text file) is kept: it holds
    // all the file holds.
    const int32_t status = dict->Error();
    if (status != 0) {
        delete dict;
        return status;
    }
    dict->description(description);
    externalDictionaries().addObjValueByRef(dict);
    return 0;
}

int32_t KelvoDicomStandardDictionaryUtils::externalDictionaryCount() {
    return externalDictionaries().count();
}

void KelvoDicomStandardDictionaryUtils::unloadExternalDictionaries() {
    externalDictionaries().clear();
}

void KelvoDicomStandardDictionaryUtils::libraryInfoWrite(FILE* file, dicmIOformat format) {
    if (!file) return;
    const char* version = VUXDicomLibrary::libraryVersionStr();
    if (format == dicmIOformatText) {
        const char* rule = "#========================================================\n";
        std::fputs(rule, file);
        std::fprintf(file, "#VUXDicom Library version %s\n", version);
        std::fputs(rule, file);
    } else if (format == dicmIOformatXML) {
        std::fputs("<KelvoDicomInfo>\n", file);
        std::fprintf(file, "<version>%s\n</version>\n", version);
        std::fputs("</KelvoDicomInfo>\n", file);
    }
}

bool KelvoDicomStandardDictionaryUtils::isDirectoryTypeValid(const char* type) {
    return VUXDicomLibrary::isDicomDirectoryTypeValid(type);
}
const dicmSOPClassInfo* KelvoDicomStandardDictionaryUtils::sopClassInfo(const char* uid) {
    return VUXDicomLibrary::sopClassInfo(uid);
}
const dicmPhotoInfo* KelvoDicomStandardDictionaryUtils::photoInterpretationInfo(const char* name) {
    return VUXDicomLibrary::photoInterpretationInfo(name);
}
const dicmVRInfo* KelvoDicomStandardDictionaryUtils::vrInfo(const char* vr) {
    return VUXDicomLibrary::vrInfo(vr);
}
uint32_t KelvoDicomStandardDictionaryUtils::vrFormat(const char* vr) {
    return VUXDicomLibrary::vrDataType(vr);
}
const dicmXferSyntaxInfo* KelvoDicomStandardDictionaryUtils::xferSyntaxByUID(const char* uid) {
    return VUXDicomLibrary::xferSyntaxInfo(uid);
}

const dicmDictEntry* DicmDict_Tag(uint16_t group, uint16_t element, unsigned char flag) {
    return KelvoDicomStandardDictionaryUtils::dicomTagInfo(AttributeTagRecord{group, element}, flag);
}
