#include "KelvoDicomDictionaries.h"

#include "PlatformEndian.h"

#include <cctype>
#include <cstring>

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

// Copies one token of at most `max` characters; false when it is longer.
bool token(const char*& p, char* out, size_t max) {
    size_t n = 0;
    while (*p && !std::isspace(static_cast<unsigned char>(*p))) {
        if (n == max) return false;
        out[n++] = *p++;
    }
    out[n] = 0;
    return true;
}

// One dictionary line: "gggg,eeee name VR VM". The VM may be missing; anything else missing,
// out of range or too long for the record makes the line malformed.
bool parseLine(const char* line, dicmDictFileRecord& rec) {
    std::memset(&rec, 0, sizeof rec);
    const char* p = line;
    skipBlanks(p);
    if (!parseHex16(p, rec.group) || *p++ != ',') return false;
    if (!parseHex16(p, rec.element)) return false;
    if (*p != ' ' && *p != '\t') return false;
    skipBlanks(p);
    if (!token(p, rec.name, sizeof rec.name - 1) || rec.name[0] == 0) return false;
    skipBlanks(p);
    char vr[3] = {};
    if (!token(p, vr, 2) || std::strlen(vr) != 2) return false;
    std::memcpy(rec.vr, vr, 2);
    skipBlanks(p);
    // Whatever follows the VM is not part of the entry.
    return token(p, rec.vm, sizeof rec.vm - 1);
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

void KelvoDicomDictionary::readText(FILE* file) {
    char line[300];
    while (std::fgets(line, sizeof line, file)) {
        size_t n = std::strlen(line);
        // A line longer than the buffer is malformed, not two lines.
        if (n == sizeof line - 1 && line[n - 1] != '\n' && !std::feof(file)) return;
        if (line[0] == '#') continue;
        dicmDictFileRecord rec;
        if (!parseLine(line, rec)) return; // a malformed or blank line ends the load
        if (!storeRecord(rec)) return;
    }
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
        if (!storeRecord(rec)) return;
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
    if (format == dicmIOformatText) readText(file);
    if (format == dicmIOformatBinary) readBinary(file);
    std::fclose(file);
    if (!qtObjIsValid()) return false;
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
    auto* dict = new KelvoDicomDictionary(path, format);
    int32_t status = dict->Error();
    if (status == 0 && !dict->qtObjIsValid()) {
        // A file that opens but gives no entry (empty, XML, or malformed from its first line) is
        // reported rather than kept as an empty dictionary.
        status = kKelvoWrongFileFormat;
    }
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
