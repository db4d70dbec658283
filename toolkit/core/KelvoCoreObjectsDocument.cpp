#include "KelvoCoreObjectsDocument.h"

#include "KelvoCoreObjectsUtils.h"

#include "PlatformEndian.h"
#include "PlatformFiles.h"
#include "PlatformMemory.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr QTAtomType kDescAtom = FOUR_CHAR_CODE("DESC");
constexpr QTAtomType kVersAtom = FOUR_CHAR_CODE("VERS");
constexpr QTAtomType kTypeAtom = FOUR_CHAR_CODE("TYPE");
constexpr QTAtomType kDataAtom = FOUR_CHAR_CODE("DATA");
constexpr QTAtomType kFlagsAtom = FOUR_CHAR_CODE("FLGS");
constexpr QTAtomType kPayloadAtom = FOUR_CHAR_CODE("PCKG");
const char kMagic[4] = {'K', 'E', 'L', 'V'};

// The data of a leaf when it is exactly four bytes long.
bool readWord(QTAtomContainer c, QTAtom atom, uint8_t (&out)[4]) {
    int32_t size = 0;
    if (QTGetAtomDataSize(c, atom, &size) != noErr || size != 4) return false;
    int32_t got = 0;
    return QTCopyAtomDataToPtr(c, atom, false, 4, out, &got) == noErr && got == 4;
}

} // namespace

Kelvo_QTObjDocument::Kelvo_QTObjDocument(uint32_t type) : _type(type) {
    if (type == 0) {
        _status = paramErr;
        return;
    }
    _status = QTNewAtomContainer(&_container);
    if (_status != noErr) return;
    QTAtom desc = 0;
    _status = QTInsertChild(_container, 0, kDescAtom, 0, 0, 0, nullptr, &desc);
    if (_status != noErr) return;
    uint8_t be[4];
    platform::storeBE32(be, kDocumentVersion);
    QTInsertChild(_container, desc, kVersAtom, 0, 0, 4, be, nullptr);
    platform::storeBE32(be, type);
    QTInsertChild(_container, desc, kTypeAtom, 0, 0, 4, be, nullptr);
}

Kelvo_QTObjDocument::Kelvo_QTObjDocument(const char* path) {
    Doc_Read(path);
}

Kelvo_QTObjDocument::~Kelvo_QTObjDocument() {
    disposeContainer();
}

void Kelvo_QTObjDocument::disposeContainer() {
    if (_container) QTDisposeAtomContainer(_container);
    _container = nullptr;
}

void Kelvo_QTObjDocument::Doc_NodeData(Handle payload, uint32_t* flags, char* description) {
    if (!_container || !payload) return;
    QTAtom node = 0;
    _status = QTInsertChild(_container, 0, kDataAtom, 0, 0, 0, nullptr, &node);
    if (_status != noErr) return;
    if (flags) QTInsertChild(_container, node, kFlagsAtom, 0, 0, 4, flags, nullptr);
    if (description && *description)
        QTInsertChild(_container, node, kDescAtom, 0, 0, int32_t(std::strlen(description) + 1), description,
                      nullptr);
    Size size = *payload ? GetHandleSize(payload) : 0;
    _status = QTInsertChild(_container, node, kPayloadAtom, 0, 0, size, size ? *payload : nullptr, nullptr);
}

void Kelvo_QTObjDocument::Doc_NodeData(Handle* payload, uint32_t* flags, char** description, int16_t index) {
    QTAtom node = _container && index > 0 ? QTFindChildByIndex(_container, 0, kDataAtom, index, nullptr) : 0;
    QTAtom data = node ? QTFindChildByIndex(_container, node, kPayloadAtom, 1, nullptr) : 0;
    if (!payload || !data) {
        _status = paramErr;
        return;
    }
    *payload = NewHandle(0);
    if (!*payload) {
        _status = memFullErr;
        return;
    }
    _status = QTCopyAtomDataToHandle(_container, data, *payload);
    if (flags) {
        QTAtom f = QTFindChildByIndex(_container, node, kFlagsAtom, 1, nullptr);
        uint8_t word[4];
        if (f && readWord(_container, f, word)) std::memcpy(flags, word, 4);
    }
    Doc_NodeDescription(QTFindChildByIndex(_container, node, kDescAtom, 1, nullptr), description);
}

void Kelvo_QTObjDocument::Doc_NodeDescription(QTAtom atom, char** text) {
    if (!atom || !text || !_container) return;
    *text = nullptr;
    int32_t size = 0;
    Ptr bytes = nullptr;
    if (QTGetAtomDataPtr(_container, atom, &size, &bytes) != noErr || size < 0) return;
    // Terminated even when the stored text lacks its zero byte.
    char* copy = new char[size_t(size) + 1];
    if (size > 0) std::memcpy(copy, bytes, size_t(size));
    copy[size] = 0;
    *text = copy;
}

void Kelvo_QTObjDocument::Doc_NodeDataToAtomContainer(QTAtomContainer* out, uint32_t* flags,
                                                      char** description, int16_t index) {
    if (!out) {
        _status = paramErr;
        return;
    }
    *out = nullptr;
    Handle payload = nullptr;
    Doc_NodeData(&payload, flags, description, index);
    if (_status == noErr && payload) {
        QTAtomContainer c = nullptr;
        _status = QTUnflattenAtomContainer(*payload, size_t(GetHandleSize(payload)), &c);
        if (_status != noErr) {
            if (c) QTDisposeAtomContainer(c);
            c = nullptr;
        }
        *out = c;
    }
    if (payload) DisposeHandle(payload);
}

void Kelvo_QTObjDocument::Doc_Read(const char* path) {
    FILE* file = Kelvo_NewFileStream(path, "rb", _status);
    if (!file) return;
    disposeContainer();
    _nodeCount = 0;
    _status = noErr;

    char magic[4];
    if (std::fseek(file, long(kHeaderPadding), SEEK_SET) != 0 || std::fread(magic, 1, 4, file) != 4 ||
        std::memcmp(magic, kMagic, 4) != 0) {
        _status = kKelvoWrongFileFormat;
        std::fclose(file);
        return;
    }
    off_t end = -1;
    if (fseeko(file, 0, SEEK_END) == 0) end = ftello(file);
    constexpr off_t kBody = off_t(kHeaderPadding) + 4;
    // Nothing after the magic, or more than a handle can hold: not a document of ours.
    if (end <= kBody || end - kBody > off_t(INT32_MAX)) {
        _status = kKelvoWrongFileFormat;
        std::fclose(file);
        return;
    }
    size_t size = size_t(end - kBody);
    Handle bytes = NewHandle(Size(size));
    if (!bytes) {
        _status = memFullErr;
        std::fclose(file);
        return;
    }
    bool complete = fseeko(file, kBody, SEEK_SET) == 0 && std::fread(*bytes, 1, size, file) == size;
    std::fclose(file);
    // The container's sizes, counts and nesting are all checked against the bytes read.
    if (complete && QTUnflattenAtomContainer(*bytes, size, &_container) != noErr) disposeContainer();
    DisposeHandle(bytes);

    QTAtom desc = _container ? QTFindChildByIndex(_container, 0, kDescAtom, 1, nullptr) : 0;
    QTAtom type = desc ? QTFindChildByIndex(_container, desc, kTypeAtom, 1, nullptr) : 0;
    uint8_t word[4];
    if (!type || !readWord(_container, type, word)) {
        _status = kKelvoWrongFileFormat;
        disposeContainer();
        return;
    }
    _type = platform::loadBE32(word);
    QTAtom vers = QTFindChildByIndex(_container, desc, kVersAtom, 1, nullptr);
    if (vers && readWord(_container, vers, word)) _version = platform::loadBE32(word);
    _nodeCount = QTCountChildrenOfType(_container, 0, kDataAtom);
}

void Kelvo_QTObjDocument::Doc_Write(const char* path) {
    if (!qtObjIsValid()) return;
    Handle flat = nullptr;
    OSErr err = QTFlattenAtomContainer(_container, &flat);
    if (err != noErr) {
        _status = err;
        return;
    }
    if (!path) {
        DisposeHandle(flat);
        _status = paramErr;
        return;
    }
    // Written beside the destination and put in place whole: a failed write leaves the document
    // that was there.
    PlatformSafeFile file;
    if (file.open(path) != noErr) {
        DisposeHandle(flat);
        _status = kKelvoCannotOpenForWriting;
        return;
    }
    _status = noErr;
    std::vector<char> zeros(kHeaderPadding, 0);
    file.write(zeros.data(), zeros.size());
    file.write(kMagic, 4);
    file.write(*flat, size_t(GetHandleSize(flat)));
    DisposeHandle(flat);
    // A short write would leave a file that reads back as something else: report it.
    if (file.commit() != noErr) _status = kKelvoCannotOpenForWriting;
}
