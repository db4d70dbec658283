#include "KelvoAtomics.h"

#include "PlatformEndian.h"
#include "PlatformErrors.h"

#include <cstring>
#include <string>

// ---------------------------------------------------------------------------------------------
// Kelvo_AtomCoord

Kelvo_QTObj* Kelvo_AtomCoord::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new Kelvo_AtomCoord(_container, _atom);
}

void Kelvo_AtomCoord::reset() {
    _container = nullptr;
    _atom = 0;
}

QTAtomType Kelvo_AtomCoord::type() const {
    if (!qtObjIsValid()) return 0;
    QTAtomType t = 0;
    QTGetAtomTypeAndID(_container, _atom, &t, nullptr);
    return t;
}

QTAtomID Kelvo_AtomCoord::id() const {
    if (!qtObjIsValid()) return 0;
    QTAtomID id = 0;
    QTGetAtomTypeAndID(_container, _atom, nullptr, &id);
    return id;
}

bool Kelvo_AtomCoord::isLeaf() const {
    if (!qtObjIsValid()) return true;
    return QTCountChildren(_container, _atom) == 0;
}

int32_t Kelvo_AtomCoord::childCount(QTAtomType type) const {
    if (!qtObjIsValid()) return 0;
    return QTCountChildrenOfType(_container, _atom, type);
}

Kelvo_AtomCoord Kelvo_AtomCoord::getParent() {
    if (!qtObjIsValid()) return Kelvo_AtomCoord(_container, 0);
    QTAtom p = QTGetAtomParent(_container, _atom);
    return Kelvo_AtomCoord(_container, p > 0 ? p : 0);
}

Kelvo_AtomCoord Kelvo_AtomCoord::nextChild(const Kelvo_AtomCoord& current) {
    Kelvo_AtomCoord result(_container, 0);
    if (!qtObjIsValid()) return result;
    QTAtom next = 0;
    _status = QTNextChildAnyType(_container, _atom, current.atom(), &next);
    return Kelvo_AtomCoord(_container, next);
}

namespace {

// The shared part of addChild for a coordinate and for a container's root.
QTAtom addChildAtom(QTAtomContainer container, QTAtom parent, QTAtomType type, QTAtomID id, int32_t index,
                    int32_t& status) {
    if (type == 0 || id < 0 || index < 0) {
        status = paramErr;
        return 0;
    }
    QTAtom atom = 0;
    status = QTInsertChild(container, parent, type, id, index, 0, nullptr, &atom);
    if (status == noErr) return atom;
    // Refused, typically because the pair exists: hand back the existing atom, and keep the
    // insertion's error in the status so that callers can tell.
    if (id != 0) {
        atom = QTFindChildByID(container, parent, type, id, nullptr);
        if (atom != 0) return atom;
    }
    if (index >= 2) return QTFindChildByIndex(container, parent, type, index, nullptr);
    return 0;
}

QTAtom findByIndex(QTAtomContainer container, QTAtom parent, QTAtomType type, int32_t index,
                   int32_t& status) {
    if (index < 1) {
        status = paramErr;
        return 0;
    }
    QTAtom atom = QTFindChildByIndex(container, parent, type, index, nullptr);
    status = atom ? noErr : GetMoviesError();
    return atom;
}

QTAtom findById(QTAtomContainer container, QTAtom parent, QTAtomType type, QTAtomID id, int32_t& status) {
    if (id < 0) {
        status = paramErr;
        return 0;
    }
    QTAtom atom = QTFindChildByID(container, parent, type, id, nullptr);
    status = atom ? noErr : GetMoviesError();
    return atom;
}

} // namespace

Kelvo_AtomCoord Kelvo_AtomCoord::addChild(QTAtomType type, QTAtomID id, int32_t index) {
    if (!qtObjIsValid()) return Kelvo_AtomCoord(_container, 0);
    return Kelvo_AtomCoord(_container, addChildAtom(_container, _atom, type, id, index, _status));
}

Kelvo_AtomCoord Kelvo_AtomCoord::childByIndex(QTAtomType type, int32_t index) {
    if (!qtObjIsValid()) return Kelvo_AtomCoord(_container, 0);
    return Kelvo_AtomCoord(_container, findByIndex(_container, _atom, type, index, _status));
}

Kelvo_AtomCoord Kelvo_AtomCoord::childById(QTAtomType type, QTAtomID id) {
    if (!qtObjIsValid()) return Kelvo_AtomCoord(_container, 0);
    return Kelvo_AtomCoord(_container, findById(_container, _atom, type, id, _status));
}

Handle Kelvo_AtomCoord::getData() {
    if (!qtObjIsValid()) return nullptr;
    if (!isLeaf()) {
        _status = notLeafAtomErr;
        return nullptr;
    }
    Handle h = NewHandle(0);
    if (!h) {
        _status = memFullErr;
        return nullptr;
    }
    if (QTCopyAtomDataToHandle(_container, _atom, h) != noErr) {
        DisposeHandle(h);
        _status = kKelvoCopyFailed;
        return nullptr;
    }
    _status = noErr;
    return h;
}

bool Kelvo_AtomCoord::getData(void* buffer, uint32_t size) {
    if (!qtObjIsValid()) return false;
    if (!isLeaf()) {
        _status = notLeafAtomErr;
        return false;
    }
    if (!buffer || size == 0) {
        _status = paramErr;
        return false;
    }
    int32_t want = size > uint32_t(INT32_MAX) ? INT32_MAX : int32_t(size);
    _status = QTCopyAtomDataToPtr(_container, _atom, true, want, buffer, nullptr);
    return _status == noErr;
}

bool Kelvo_AtomCoord::setData(Handle data) {
    if (!qtObjIsValid()) return false;
    if (!isLeaf()) {
        _status = notLeafAtomErr;
        return false;
    }
    if (!data) {
        _status = QTSetAtomData(_container, _atom, 0, nullptr);
    } else {
        _status = QTSetAtomData(_container, _atom, GetHandleSize(data), *data);
    }
    return _status == noErr;
}

bool Kelvo_AtomCoord::setData(const void* buffer, uint32_t size) {
    if (!qtObjIsValid()) return false;
    if (!isLeaf()) {
        _status = notLeafAtomErr;
        return false;
    }
    if (size > uint32_t(INT32_MAX)) {
        _status = paramErr;
        return false;
    }
    if (!buffer || size == 0)
        _status = QTSetAtomData(_container, _atom, 0, nullptr);
    else
        _status = QTSetAtomData(_container, _atom, int32_t(size), buffer);
    return _status == noErr;
}

// ---------------------------------------------------------------------------------------------
// Kelvo_AtomContainer

Kelvo_AtomContainer::Kelvo_AtomContainer() {
    _status = QTNewAtomContainer(&_container);
}

Kelvo_AtomContainer::Kelvo_AtomContainer(const Kelvo_AtomContainer& other) : Kelvo_QTObj(other) {
    initWithContainer(other._container);
    locked(other._locked);
}

Kelvo_AtomContainer::Kelvo_AtomContainer(QTAtomContainer source) {
    initWithContainer(source);
}

Kelvo_AtomContainer::~Kelvo_AtomContainer() {
    if (_container && !_borrowed) {
        QTUnlockContainer(_container);
        QTDisposeAtomContainer(_container);
    }
}

void Kelvo_AtomContainer::initWithContainer(QTAtomContainer source) {
    if (!source) {
        _status = kKelvoNothingToWorkOn;
        return;
    }
    initWithAtom(source, 0);
}

bool Kelvo_AtomContainer::initWithAtom(QTAtomContainer source, QTAtom atom) {
    // Copy first: the source may be this object's own container.
    QTAtomContainer copy = nullptr;
    OSErr err = QTCopyAtom(source, atom, &copy);
    if (err != noErr) {
        _status = err;
        return false;
    }
    reset();
    _container = copy;
    _status = noErr;
    return true;
}

void Kelvo_AtomContainer::borrowContainer(QTAtomContainer source) {
    reset();
    _container = source;
    _borrowed = source != nullptr;
    _status = source ? int32_t(noErr) : int32_t(kKelvoNothingToWorkOn);
}

void Kelvo_AtomContainer::reset() {
    if (_container && !_borrowed) {
        QTUnlockContainer(_container);
        QTDisposeAtomContainer(_container);
    }
    _container = nullptr;
    _borrowed = false;
    _locked = false;
}

bool Kelvo_AtomContainer::empty() {
    return !_container || QTCountChildren(_container, 0) == 0;
}

int32_t Kelvo_AtomContainer::count() {
    return _container ? QTCountChildren(_container, 0) : 0;
}

int32_t Kelvo_AtomContainer::childCount(QTAtomType type) {
    return _container ? QTCountChildrenOfType(_container, 0, type) : 0;
}

void Kelvo_AtomContainer::clear() {
    if (!_container) return;
    QTUnlockContainer(_container);
    _status = QTRemoveChildren(_container, 0);
    if (_locked) QTLockContainer(_container);
}

void Kelvo_AtomContainer::locked(bool lock) {
    if (!_container || lock == _locked) return;
    if (lock)
        QTLockContainer(_container);
    else
        QTUnlockContainer(_container);
    _locked = lock;
}

void Kelvo_AtomContainer::copy(Kelvo_QTObj& source) {
    if (&source == this || !source.isA("Kelvo_AtomContainer")) return;
    auto& other = static_cast<Kelvo_AtomContainer&>(source);
    initWithContainer(other._container);
    locked(other._locked);
}

Kelvo_QTObj* Kelvo_AtomContainer::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new Kelvo_AtomContainer(*this);
}

bool Kelvo_AtomContainer::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_QTObj::isA(name) || std::strcmp(name, "Kelvo_AtomContainer") == 0;
}

Kelvo_AtomCoord Kelvo_AtomContainer::nextChild(const Kelvo_AtomCoord& current) {
    if (!_container) return Kelvo_AtomCoord();
    QTAtom next = 0;
    _status = QTNextChildAnyType(_container, 0, current.atom(), &next);
    return Kelvo_AtomCoord(_container, next);
}

Kelvo_AtomCoord Kelvo_AtomContainer::addChild(QTAtomType type, QTAtomID id, int32_t index) {
    if (!_container) return Kelvo_AtomCoord();
    return Kelvo_AtomCoord(_container, addChildAtom(_container, 0, type, id, index, _status));
}

Kelvo_AtomCoord Kelvo_AtomContainer::childByIndex(QTAtomType type, int32_t index) {
    if (!_container) return Kelvo_AtomCoord();
    return Kelvo_AtomCoord(_container, findByIndex(_container, 0, type, index, _status));
}

Kelvo_AtomCoord Kelvo_AtomContainer::childById(QTAtomType type, QTAtomID id) {
    if (!_container) return Kelvo_AtomCoord();
    return Kelvo_AtomCoord(_container, findById(_container, 0, type, id, _status));
}

void Kelvo_AtomContainer::flushToText(FILE* file, QTAtom parentAtom) {
    Kelvo_PrintAtomContainerTree(file, _container, parentAtom);
}

void Kelvo_AtomContainer::flushToXml(FILE* file, QTAtom parentAtom) {
    Kelvo_PrintAtomContainerTreeXml(file, _container, parentAtom);
}

// ---------------------------------------------------------------------------------------------
// Kelvo_MediaInputMap

Kelvo_MediaInputMap::Kelvo_MediaInputMap(Media media) {
    takeMediaMap(media);
}

Kelvo_MediaInputMap& Kelvo_MediaInputMap::operator=(Media media) {
    reset();
    takeMediaMap(media);
    return *this;
}

void Kelvo_MediaInputMap::takeMediaMap(Media media) {
    if (!media) return;
    QTAtomContainer map = nullptr;
    _status = GetMediaInputMap(media, &map);
    if (_status != noErr) return;
    reset();
    _container = map;
}

void Kelvo_MediaInputMap::setMedia(Media media) {
    if (!qtObjIsValid()) return;
    if (!media) {
        _status = kKelvoMediaMissing;
        return;
    }
    _status = SetMediaInputMap(media, _container);
}

void Kelvo_MediaInputMap::copy(Kelvo_QTObj& source) {
    if (&source == this || !source.isA("Kelvo_MediaInputMap")) return;
    initWithContainer(static_cast<Kelvo_MediaInputMap&>(source).container());
}

Kelvo_QTObj* Kelvo_MediaInputMap::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new Kelvo_MediaInputMap(*this);
}

bool Kelvo_MediaInputMap::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_AtomContainer::isA(name) || std::strcmp(name, "Kelvo_MediaInputMap") == 0;
}

void Kelvo_MediaInputMap::addInput(QTAtomID id, uint32_t kind, const void* data) {
    if (!qtObjIsValid()) return;
    if (id == 0 || kind == 0) {
        _status = paramErr;
        return;
    }
    constexpr QTAtomType kInput = 0x696E; // "in"
    constexpr QTAtomType kType = 0x7479;  // "ty"
    constexpr uint32_t kEffect = FOUR_CHAR_CODE("EFFE");
    constexpr uint32_t kVideo = FOUR_CHAR_CODE("vide");
    if (QTFindChildByID(_container, 0, kInput, id, nullptr) != 0) return;
    QTAtom input = 0;
    _status = QTInsertChild(_container, 0, kInput, id, 0, 0, nullptr, &input);
    if (_status != noErr) return;
    uint8_t be[4];
    platform::storeBE32(be, kind == kEffect ? kVideo : kind);
    _status = QTInsertChild(_container, input, kType, 1, 0, 4, be, nullptr);
    if (_status != noErr || !data) return;
    uint32_t value = 0;
    std::memcpy(&value, data, 4);
    platform::storeBE32(be, value);
    auto add = [&](QTAtomType type) {
        _status = QTInsertChild(_container, input, type, 1, 0, 4, be, nullptr);
    };
    if (kind >= 1 && kind <= 5) {
        add(FOUR_CHAR_CODE("subi"));
    } else if (kind == 6 || kind == 7) {
        add(FOUR_CHAR_CODE("obid"));
    } else if (kind == kEffect) {
        add(FOUR_CHAR_CODE("dtst"));
        if (_status == noErr) add(FOUR_CHAR_CODE("obid"));
    } else if (kind == kVideo) {
        add(100);
    }
}

// ---------------------------------------------------------------------------------------------
// Free functions

Handle Kelvo_CreateClassicAtom(OSType type, const void* data, uint32_t size, int32_t& error) {
    error = noErr;
    if (type == 0) {
        error = paramErr;
        return nullptr;
    }
    if (!data) size = 0;
    if (size > uint32_t(INT32_MAX) - 8) {
        error = memFullErr;
        return nullptr;
    }
    Handle h = NewHandle(Size(size + 8));
    if (!h) {
        error = memFullErr;
        return nullptr;
    }
    platform::storeBE32(*h, size + 8);
    platform::storeBE32(*h + 4, type);
    if (size > 0) std::memcpy(*h + 8, data, size);
    return h;
}

Handle Kelvo_CreateClassicAtom(OSType type, Handle data, int32_t& error) {
    if (!data) return Kelvo_CreateClassicAtom(type, nullptr, 0, error);
    SInt8 state = HGetState(data);
    HLock(data);
    Handle h = Kelvo_CreateClassicAtom(type, *data, uint32_t(GetHandleSize(data)), error);
    HSetState(data, state);
    return h;
}

Handle QTAtomData(QTAtomContainer container, QTAtomType type, int32_t index, QTAtom parent) {
    if (!container) return nullptr;
    QTAtom atom = QTFindChildByIndex(container, parent, type, index, nullptr);
    if (!atom) return nullptr;
    Handle h = NewHandle(0);
    if (!h) return nullptr;
    if (QTCopyAtomDataToHandle(container, atom, h) != noErr) {
        DisposeHandle(h);
        return nullptr;
    }
    return h;
}

OSErr QTAtomDataGet(QTAtomContainer container, QTAtomType type, void* buffer, uint32_t size, int32_t index,
                    QTAtom parent, uint32_t* copied) {
    if (copied) *copied = 0;
    if (!container || !buffer) return paramErr;
    QTAtom atom = QTFindChildByIndex(container, parent, type, index, nullptr);
    if (!atom) return paramErr;
    int32_t got = 0;
    int32_t want = size > uint32_t(INT32_MAX) ? INT32_MAX : int32_t(size);
    OSErr err = QTCopyAtomDataToPtr(container, atom, true, want, buffer, &got);
    if (copied) *copied = uint32_t(got);
    return err;
}

OSErr QTAtomDataGet(QTAtomContainer container, QTAtomType type, void* buffer, uint32_t size, int32_t index,
                    QTAtom parent) {
    return QTAtomDataGet(container, type, buffer, size, index, parent, nullptr);
}

namespace {

// Sets the data of child (type, index) of `parent`, inserting it at `insertIndex` when missing.
OSErr setChildData(QTAtomContainer container, QTAtomType type, const void* buffer, uint32_t size,
                   int32_t index, QTAtom parent, int32_t insertIndex) {
    if (size > uint32_t(INT32_MAX)) return paramErr;
    if (!buffer) size = 0;
    QTAtom atom = index >= 1 ? QTFindChildByIndex(container, parent, type, index, nullptr) : 0;
    if (atom) return QTSetAtomData(container, atom, int32_t(size), buffer);
    return QTInsertChild(container, parent, type, 0, insertIndex, int32_t(size), buffer, nullptr);
}

} // namespace

OSErr QTAtomDataSet(QTAtomContainer container, QTAtomType type, const void* buffer, uint32_t size,
                    int32_t index, QTAtom parent) {
    if (!container) return paramErr;
    return setChildData(container, type, buffer, size, index, parent, 0);
}

OSErr Kelvo_AtomDataHandle(QTAtomContainer container, QTAtomType type, int32_t direction, void* buffer,
                           uint32_t size, int32_t index, QTAtom parent) {
    if (!container) return paramErr;
    if (direction == 1) {
        int32_t count = QTCountChildrenOfType(container, parent, type);
        return setChildData(container, type, buffer, size, index, parent, index <= count + 1 ? index : 0);
    }
    if (direction != 0) return paramErr;
    if (!buffer) return paramErr;
    QTAtom atom = QTFindChildByIndex(container, parent, type, index, nullptr);
    if (!atom) return cannotFindAtomErr;
    int32_t want = size > uint32_t(INT32_MAX) ? INT32_MAX : int32_t(size);
    return QTCopyAtomDataToPtr(container, atom, true, want, buffer, nullptr);
}

OSErr Kelvo_AtomDataHandle(QTAtomContainer container, QTAtomType type, int32_t direction, Handle& handle,
                           int32_t index, QTAtom parent) {
    if (!container) return paramErr;
    if (direction == 1) {
        if (!handle) return paramErr;
        int32_t count = QTCountChildrenOfType(container, parent, type);
        return setChildData(container, type, *handle, uint32_t(GetHandleSize(handle)), index, parent,
                            index <= count + 1 ? index : 0);
    }
    if (direction != 0) return paramErr;
    QTAtom atom = QTFindChildByIndex(container, parent, type, index, nullptr);
    if (!atom) return cannotFindAtomErr;
    Handle h = NewHandle(0);
    if (!h) return memFullErr;
    if (OSErr err = QTCopyAtomDataToHandle(container, atom, h)) {
        DisposeHandle(h);
        return err;
    }
    handle = h;
    return noErr;
}

namespace {

void printTree(FILE* file, QTAtomContainer container, QTAtom parent, int depth) {
    QTAtom child = 0;
    while (QTNextChildAnyType(container, parent, child, &child) == noErr && child != 0) {
        QTAtomType t = 0;
        QTGetAtomTypeAndID(container, child, &t, nullptr);
        for (int i = 0; i < depth; ++i)
            std::fputc('\t', file);
        std::fprintf(file, "Node(%c%c%c%c)\n", char(t >> 24), char(t >> 16), char(t >> 8), char(t));
        printTree(file, container, child, depth + 1);
    }
}

// The type as an XML attribute value: its four characters when they are printable, escaped as
// needed; otherwise its number in hexadecimal, since control characters have no XML form.
std::string xmlType(QTAtomType t) {
    std::string out;
    for (int shift = 24; shift >= 0; shift -= 8) {
        auto c = char(t >> shift);
        if (uint8_t(c) < 0x20 || uint8_t(c) >= 0x7F) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08X", unsigned(t));
            return hex;
        }
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

void printTreeXml(FILE* file, QTAtomContainer container, QTAtom parent) {
    QTAtom child = 0;
    while (QTNextChildAnyType(container, parent, child, &child) == noErr && child != 0) {
        QTAtomType t = 0;
        QTGetAtomTypeAndID(container, child, &t, nullptr);
        if (QTCountChildren(container, child) == 0) {
            std::fprintf(file, "<Node type=\"%s\"/>\n", xmlType(t).c_str());
        } else {
            std::fprintf(file, "<Node type=\"%s\">\n", xmlType(t).c_str());
            printTreeXml(file, container, child);
            std::fputs("</Node>\n", file);
        }
    }
}

} // namespace

void Kelvo_PrintAtomContainerTree(FILE* file, QTAtomContainer container, QTAtom parent) {
    if (!file || !container) return;
    printTree(file, container, parent, 1);
}

void Kelvo_PrintAtomContainerTreeXml(FILE* file, QTAtomContainer container, QTAtom parent) {
    if (!file || !container) return;
    printTreeXml(file, container, parent);
}
