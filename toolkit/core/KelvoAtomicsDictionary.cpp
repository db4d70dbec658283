#include "KelvoAtomicsDictionary.h"

#include "PlatformErrors.h"
#include "PlatformFiles.h"

#include <cstring>

void Kelvo_Dictionary::copy(Kelvo_QTObj& source) {
    if (&source == this || !source.isA("Kelvo_Dictionary")) return;
    initWithContainer(static_cast<Kelvo_Dictionary&>(source).Dictionary());
}

Kelvo_QTObj* Kelvo_Dictionary::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new Kelvo_Dictionary(*this);
}

bool Kelvo_Dictionary::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_AtomContainer::isA(name) || std::strcmp(name, "Kelvo_Dictionary") == 0;
}

QTAtom Kelvo_Dictionary::FindItem(int32_t index, QTAtom parentAtom) {
    if (!_container) return 0;
    int32_t n = QTCountChildren(_container, parentAtom);
    if (index <= 0 || index > n) {
        _status = kKelvoIndexOutOfRange;
        return 0;
    }
    QTAtom child = 0;
    for (int32_t i = 0; i < index; ++i) {
        OSErr err = QTNextChildAnyType(_container, parentAtom, child, &child);
        if (err != noErr) {
            _status = err;
            return 0;
        }
    }
    _status = noErr;
    return child;
}

void Kelvo_Dictionary::Clear() {
    clear();
}

bool Kelvo_Dictionary::HasKey(int32_t key) {
    return _container && FindItem(key, 0) != 0;
}

void Kelvo_Dictionary::RemoveKey(int32_t key) {
    if (!_container) return;
    QTAtom atom = FindItem(key, 0);
    if (atom) _status = QTRemoveAtom(_container, atom);
}

QTAtom Kelvo_Dictionary::ValueKey(int32_t key) {
    return _container ? FindItem(key, 0) : 0;
}

int32_t Kelvo_Dictionary::Key(int16_t index) {
    if (index < 0) return 0;
    return index < count() ? index : 0;
}

void Kelvo_Dictionary::Copy(Kelvo_Dictionary& other) {
    if (&other != this) initWithContainer(other.Dictionary());
}

void Kelvo_Dictionary::Copy(QTAtomContainer container) {
    if (container != _container) initWithContainer(container);
}

Kelvo_QTObj* Kelvo_Dictionary::getObjValue(int32_t) {
    return nullptr;
}
Kelvo_QTObj* Kelvo_Dictionary::getObjValueByRef(int32_t) {
    return nullptr;
}
void Kelvo_Dictionary::setObjValue(int32_t, Kelvo_QTObj*) {}

void Kelvo_Dictionary::flushToBinary(FILE* file, const void* tag) {
    if (!file) {
        _status = paramErr;
        return;
    }
    if (!qtObjIsValid()) return;
    Handle flat = nullptr;
    OSErr err = QTFlattenAtomContainer(_container, &flat);
    if (err != noErr) {
        _status = err;
        return;
    }
    static const char zeros[512] = {};
    char magic[4];
    std::memcpy(magic, tag ? tag : "DICT", 4);
    size_t size = size_t(GetHandleSize(flat));
    bool ok = std::fwrite(zeros, 1, sizeof zeros, file) == sizeof zeros &&
              std::fwrite(magic, 1, 4, file) == 4 && std::fwrite(*flat, 1, size, file) == size;
    DisposeHandle(flat);
    if (!ok) _status = ioErr;
}

namespace {

// Dumps are written whole or not at all: a failed write leaves the destination as it was.
FILE* openForDump(PlatformSafeFile& file, const char* path, int32_t& status) {
    if (!path) {
        status = paramErr;
        return nullptr;
    }
    FILE* f = file.open(path) == noErr ? file.stream() : nullptr;
    if (!f) status = kKelvoCannotOpenForWriting;
    return f;
}

void closeDump(PlatformSafeFile& file, int32_t& status) {
    if (file.commit() != noErr) status = ioErr;
}

} // namespace

void Kelvo_Dictionary::toTextFile(const char* path) {
    PlatformSafeFile file;
    FILE* f = openForDump(file, path, _status);
    if (!f) return;
    std::fputs("[KelvoDictionary version=1.0]\n", f);
    flushToText(f, 0);
    std::fputs("[KelvoDictionary End]\n", f);
    closeDump(file, _status);
}

void Kelvo_Dictionary::toXmlFile(const char* path) {
    PlatformSafeFile file;
    FILE* f = openForDump(file, path, _status);
    if (!f) return;
    std::fputs("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", f);
    std::fputs("<KelvoDictionary version=\"1.0\">\n", f);
    flushToXml(f, 0);
    std::fputs("</KelvoDictionary>\n", f);
    closeDump(file, _status);
}

void Kelvo_Dictionary::toBinaryFile(const char* path, const void* tag) {
    PlatformSafeFile file;
    FILE* f = openForDump(file, path, _status);
    if (!f) return;
    flushToBinary(f, tag);
    closeDump(file, _status);
}
