#include "PlatformAtoms.h"

#include "PlatformEndian.h"
#include "PlatformErrors.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

struct AtomNode {
    QTAtomType type = 0;
    QTAtomID id = 0;
    QTAtom parent = -1;
    bool alive = false;
    // True while every child has the type `childType`: look-ups by per-type index are then
    // positions in `children` (the common case of value lists with thousands of entries).
    bool sameTypeChildren = true;
    QTAtomType childType = 0;
    std::vector<QTAtom> children;
    std::vector<uint8_t> data;
    // The largest id given so far to a child of each type; a new id above it is free.
    std::vector<std::pair<QTAtomType, QTAtomID>> maxIds;
};

} // namespace

struct OpaqueQTAtomContainer {
    // Indexed by reference; index 0 is the root. Removed atoms stay as dead slots so that their
    // references are never handed out again.
    std::vector<AtomNode> atoms;
    int32_t lockCount = 0;

    OpaqueQTAtomContainer() {
        atoms.emplace_back();
        atoms[0].alive = true;
        atoms[0].type = kQTAtomRootType;
        atoms[0].id = 1;
    }
};

namespace {

using platform::setMoviesError;

bool validRef(const OpaqueQTAtomContainer* c, QTAtom a) {
    return a >= 0 && size_t(a) < c->atoms.size() && c->atoms[size_t(a)].alive;
}

AtomNode& node(OpaqueQTAtomContainer* c, QTAtom a) {
    return c->atoms[size_t(a)];
}

void noteChild(AtomNode& parent, QTAtomType type, QTAtomID id) {
    if (parent.children.empty()) {
        parent.sameTypeChildren = true;
        parent.childType = type;
    } else if (type != parent.childType) {
        parent.sameTypeChildren = false;
    }
    for (auto& [t, maxId] : parent.maxIds) {
        if (t == type) {
            if (id > maxId) maxId = id;
            return;
        }
    }
    parent.maxIds.emplace_back(type, id);
}

// Common entry checks: container present, atom alive.
OSErr check(const OpaqueQTAtomContainer* c, QTAtom a) {
    if (!c) return invalidAtomContainerErr;
    if (!validRef(c, a)) return invalidAtomErr;
    return noErr;
}

bool idTaken(OpaqueQTAtomContainer* c, QTAtom parent, QTAtomType type, QTAtomID id) {
    for (QTAtom ch : node(c, parent).children) {
        const AtomNode& n = node(c, ch);
        if (n.type == type && n.id == id) return true;
    }
    return false;
}

QTAtomID uniqueID(OpaqueQTAtomContainer* c, QTAtom parent, QTAtomType type) {
    QTAtomID maxId = 0;
    for (const auto& [t, m] : node(c, parent).maxIds)
        if (t == type) maxId = m;
    if (maxId < INT32_MAX) return maxId + 1;
    for (QTAtomID id = 1; id < INT32_MAX; ++id)
        if (!idTaken(c, parent, type, id)) return id;
    return 0;
}

QTAtom allocAtom(OpaqueQTAtomContainer* c, QTAtom parent, QTAtomType type, QTAtomID id) {
    if (c->atoms.size() >= size_t(INT32_MAX)) return 0;
    QTAtom ref = QTAtom(c->atoms.size());
    c->atoms.emplace_back();
    AtomNode& n = c->atoms.back();
    n.type = type;
    n.id = id;
    n.parent = parent;
    n.alive = true;
    return ref;
}

// Validates the arguments of an insertion and picks the id; noErr or the refusal.
OSErr prepareInsert(OpaqueQTAtomContainer* c, QTAtom parent, QTAtomType type, QTAtomID& id, int32_t dataSize,
                    const void* data) {
    OSErr err = check(c, parent);
    if (err) return err;
    if (type == 0 || id < 0 || dataSize < 0 || (dataSize > 0 && !data)) return paramErr;
    if (parent != 0 && !node(c, parent).data.empty()) return notLeafAtomErr;
    if (id == 0) {
        id = uniqueID(c, parent, type);
        if (id == 0) return duplicateAtomTypeAndIDErr;
    } else if (idTaken(c, parent, type, id)) {
        return duplicateAtomTypeAndIDErr;
    }
    return noErr;
}

OSErr insertAt(OpaqueQTAtomContainer* c, QTAtom parent, QTAtomType type, QTAtomID id, size_t position,
               int32_t dataSize, const void* data, QTAtom* newAtom) {
    try {
        std::vector<uint8_t> bytes;
        if (dataSize > 0)
            bytes.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + dataSize);
        QTAtom ref = allocAtom(c, parent, type, id);
        if (ref == 0) return memFullErr;
        node(c, ref).data = std::move(bytes);
        noteChild(node(c, parent), type, id);
        auto& kids = node(c, parent).children;
        kids.insert(kids.begin() + std::ptrdiff_t(position), ref);
        if (newAtom) *newAtom = ref;
        return noErr;
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
}

void killSubtree(OpaqueQTAtomContainer* c, QTAtom a) {
    std::vector<QTAtom> stack{a};
    while (!stack.empty()) {
        QTAtom x = stack.back();
        stack.pop_back();
        AtomNode& n = node(c, x);
        for (QTAtom ch : n.children)
            stack.push_back(ch);
        n.alive = false;
        n.children.clear();
        n.children.shrink_to_fit();
        n.data.clear();
        n.data.shrink_to_fit();
    }
}

void detach(OpaqueQTAtomContainer* c, QTAtom a) {
    auto& kids = node(c, node(c, a).parent).children;
    kids.erase(std::find(kids.begin(), kids.end(), a));
}

void appendChild(OpaqueQTAtomContainer* c, QTAtom parent, QTAtom child) {
    noteChild(node(c, parent), node(c, child).type, node(c, child).id);
    node(c, parent).children.push_back(child);
}

// Copies the subtree at `srcAtom` of `src` under `parent` of `dst` with new references, keeping
// type, id and data. `dst` may be `src`: the source is read through indices, never references
// into the vector that may grow.
QTAtom copySubtree(OpaqueQTAtomContainer* dst, QTAtom parent, const OpaqueQTAtomContainer* src,
                   QTAtom srcAtom) {
    const AtomNode& s = src->atoms[size_t(srcAtom)];
    QTAtom ref = allocAtom(dst, parent, s.type, s.id);
    const AtomNode& s2 = src->atoms[size_t(srcAtom)]; // the vector may have moved if dst == src
    node(dst, ref).data = s2.data;
    std::vector<QTAtom> kids = s2.children;
    for (QTAtom k : kids) {
        QTAtom child = copySubtree(dst, ref, src, k);
        appendChild(dst, ref, child);
    }
    return ref;
}

// Index of the insertion point for a per-type index, or -1 when the index is out of range.
std::ptrdiff_t positionForIndex(OpaqueQTAtomContainer* c, QTAtom parent, QTAtomType type, int32_t index) {
    auto& kids = node(c, parent).children;
    if (index < 0) return -1;
    if (index == 0) return std::ptrdiff_t(kids.size());
    int32_t seen = 0;
    for (size_t i = 0; i < kids.size(); ++i) {
        if (node(c, kids[i]).type == type && ++seen == index) return std::ptrdiff_t(i);
    }
    return index == seen + 1 ? std::ptrdiff_t(kids.size()) : -1;
}

} // namespace

OSErr QTNewAtomContainer(QTAtomContainer* container) {
    if (!container) return setMoviesError(paramErr);
    *container = new (std::nothrow) OpaqueQTAtomContainer();
    return setMoviesError(*container ? noErr : memFullErr);
}

OSErr QTDisposeAtomContainer(QTAtomContainer container) {
    if (!container) return setMoviesError(invalidAtomContainerErr);
    delete container;
    return setMoviesError(noErr);
}

OSErr QTCopyAtom(QTAtomContainer container, QTAtom atom, QTAtomContainer* target) {
    if (!target) return setMoviesError(paramErr);
    *target = nullptr;
    if (OSErr err = check(container, atom)) return setMoviesError(err);
    try {
        auto* copy = new OpaqueQTAtomContainer();
        if (atom == 0) {
            copy->atoms = container->atoms;
        } else {
            QTAtom ref = copySubtree(copy, 0, container, atom);
            appendChild(copy, 0, ref);
        }
        *target = copy;
        return setMoviesError(noErr);
    } catch (const std::bad_alloc&) {
        return setMoviesError(memFullErr);
    }
}

OSErr QTLockContainer(QTAtomContainer container) {
    if (!container) return setMoviesError(invalidAtomContainerErr);
    ++container->lockCount;
    return setMoviesError(noErr);
}

OSErr QTUnlockContainer(QTAtomContainer container) {
    if (!container) return setMoviesError(invalidAtomContainerErr);
    if (container->lockCount > 0) --container->lockCount;
    return setMoviesError(noErr);
}

int32_t QTContainerLockCount(QTAtomContainer container) {
    return container ? container->lockCount : 0;
}

OSErr QTInsertChild(QTAtomContainer container, QTAtom parent, QTAtomType type, QTAtomID id, int32_t index,
                    int32_t dataSize, const void* data, QTAtom* newAtom) {
    if (newAtom) *newAtom = 0;
    if (OSErr err = prepareInsert(container, parent, type, id, dataSize, data)) return setMoviesError(err);
    std::ptrdiff_t pos = positionForIndex(container, parent, type, index);
    if (pos < 0) return setMoviesError(atomIndexInvalidErr);
    return setMoviesError(insertAt(container, parent, type, id, size_t(pos), dataSize, data, newAtom));
}

OSErr QTInsertChildBeforeAtom(QTAtomContainer container, QTAtom parent, QTAtomType type, QTAtomID id,
                              QTAtom before, int32_t dataSize, const void* data, QTAtom* newAtom) {
    if (newAtom) *newAtom = 0;
    if (OSErr err = prepareInsert(container, parent, type, id, dataSize, data)) return setMoviesError(err);
    auto& kids = node(container, parent).children;
    size_t pos = kids.size();
    if (before != 0) {
        auto it = std::find(kids.begin(), kids.end(), before);
        if (it == kids.end() || !validRef(container, before)) return setMoviesError(invalidAtomErr);
        pos = size_t(it - kids.begin());
    }
    return setMoviesError(insertAt(container, parent, type, id, pos, dataSize, data, newAtom));
}

OSErr QTInsertChildren(QTAtomContainer container, QTAtom parent, QTAtomContainer children) {
    if (OSErr err = check(container, parent)) return setMoviesError(err);
    if (!children) return setMoviesError(invalidAtomContainerErr);
    const auto& srcKids = children->atoms[0].children;
    if (srcKids.empty()) return setMoviesError(noErr);
    if (parent != 0 && !node(container, parent).data.empty()) return setMoviesError(notLeafAtomErr);
    // Refuse before touching anything: a duplicate with the target or among the new atoms.
    for (size_t i = 0; i < srcKids.size(); ++i) {
        const AtomNode& s = children->atoms[size_t(srcKids[i])];
        if (idTaken(container, parent, s.type, s.id)) return setMoviesError(duplicateAtomTypeAndIDErr);
    }
    try {
        std::vector<QTAtom> kids = srcKids; // `children` may be `container`
        for (QTAtom k : kids) {
            QTAtom ref = copySubtree(container, parent, children, k);
            appendChild(container, parent, ref);
        }
        return setMoviesError(noErr);
    } catch (const std::bad_alloc&) {
        return setMoviesError(memFullErr);
    }
}

int32_t QTCountChildren(QTAtomContainer container, QTAtom parent) {
    return QTCountChildrenOfType(container, parent, 0);
}

int32_t QTCountChildrenOfType(QTAtomContainer container, QTAtom parent, QTAtomType type) {
    if (OSErr err = check(container, parent)) {
        setMoviesError(err);
        return 0;
    }
    setMoviesError(noErr);
    const AtomNode& p = node(container, parent);
    const auto& kids = p.children;
    if (type == 0) return int32_t(kids.size());
    if (p.sameTypeChildren) return p.childType == type ? int32_t(kids.size()) : 0;
    int32_t n = 0;
    for (QTAtom k : kids)
        if (node(container, k).type == type) ++n;
    return n;
}

QTAtom QTFindChildByIndex(QTAtomContainer container, QTAtom parent, QTAtomType type, int32_t index,
                          QTAtomID* id) {
    if (id) *id = 0;
    if (OSErr err = check(container, parent)) {
        setMoviesError(err);
        return 0;
    }
    if (index < 1) {
        setMoviesError(atomIndexInvalidErr);
        return 0;
    }
    const AtomNode& p = node(container, parent);
    if (type == 0 || (p.sameTypeChildren && (p.children.empty() || p.childType == type))) {
        if (size_t(index) <= p.children.size()) {
            QTAtom k = p.children[size_t(index) - 1];
            if (id) *id = node(container, k).id;
            setMoviesError(noErr);
            return k;
        }
        setMoviesError(cannotFindAtomErr);
        return 0;
    }
    int32_t seen = 0;
    for (QTAtom k : p.children) {
        const AtomNode& n = node(container, k);
        if (n.type == type && ++seen == index) {
            if (id) *id = n.id;
            setMoviesError(noErr);
            return k;
        }
    }
    setMoviesError(cannotFindAtomErr);
    return 0;
}

QTAtom QTFindChildByID(QTAtomContainer container, QTAtom parent, QTAtomType type, QTAtomID id,
                       int32_t* index) {
    if (index) *index = 0;
    if (OSErr err = check(container, parent)) {
        setMoviesError(err);
        return 0;
    }
    int32_t seen = 0;
    for (QTAtom k : node(container, parent).children) {
        const AtomNode& n = node(container, k);
        if (n.type != type) continue;
        ++seen;
        if (n.id == id) {
            if (index) *index = seen;
            setMoviesError(noErr);
            return k;
        }
    }
    setMoviesError(cannotFindAtomErr);
    return 0;
}

OSErr QTNextChildAnyType(QTAtomContainer container, QTAtom parent, QTAtom current, QTAtom* next) {
    if (!next) return setMoviesError(paramErr);
    *next = 0;
    if (OSErr err = check(container, parent)) return setMoviesError(err);
    const auto& kids = node(container, parent).children;
    if (current == 0) {
        if (!kids.empty()) *next = kids.front();
        return setMoviesError(noErr);
    }
    auto it = std::find(kids.begin(), kids.end(), current);
    if (it == kids.end()) return setMoviesError(invalidAtomErr);
    if (++it != kids.end()) *next = *it;
    return setMoviesError(noErr);
}

OSErr QTGetNextChildType(QTAtomContainer container, QTAtom parent, QTAtomType current, QTAtomType* next) {
    if (!next) return setMoviesError(paramErr);
    *next = 0;
    if (OSErr err = check(container, parent)) return setMoviesError(err);
    std::vector<QTAtomType> types;
    for (QTAtom k : node(container, parent).children) {
        QTAtomType t = node(container, k).type;
        if (std::find(types.begin(), types.end(), t) == types.end()) types.push_back(t);
    }
    if (current == 0) {
        if (!types.empty()) *next = types.front();
    } else {
        auto it = std::find(types.begin(), types.end(), current);
        if (it != types.end() && ++it != types.end()) *next = *it;
    }
    return setMoviesError(noErr);
}

OSErr QTGetAtomTypeAndID(QTAtomContainer container, QTAtom atom, QTAtomType* type, QTAtomID* id) {
    if (type) *type = 0;
    if (id) *id = 0;
    if (OSErr err = check(container, atom)) return setMoviesError(err);
    if (type) *type = node(container, atom).type;
    if (id) *id = node(container, atom).id;
    return setMoviesError(noErr);
}

QTAtom QTGetAtomParent(QTAtomContainer container, QTAtom atom) {
    if (OSErr err = check(container, atom)) {
        setMoviesError(err);
        return -1;
    }
    setMoviesError(noErr);
    return atom == 0 ? 0 : node(container, atom).parent;
}

bool QTAtomIsValid(QTAtomContainer container, QTAtom atom) {
    return container && validRef(container, atom);
}

OSErr QTGetAtomDataSize(QTAtomContainer container, QTAtom atom, int32_t* size) {
    if (size) *size = 0;
    if (OSErr err = check(container, atom)) return setMoviesError(err);
    if (atom == 0) return setMoviesError(notLeafAtomErr);
    if (size) *size = int32_t(node(container, atom).data.size());
    return setMoviesError(noErr);
}

OSErr QTGetAtomDataPtr(QTAtomContainer container, QTAtom atom, int32_t* dataSize, Ptr* atomData) {
    if (dataSize) *dataSize = 0;
    if (atomData) *atomData = nullptr;
    if (OSErr err = check(container, atom)) return setMoviesError(err);
    AtomNode& n = node(container, atom);
    if (atom == 0 || !n.children.empty()) return setMoviesError(notLeafAtomErr);
    if (dataSize) *dataSize = int32_t(n.data.size());
    if (atomData) *atomData = reinterpret_cast<Ptr>(n.data.data());
    return setMoviesError(noErr);
}

OSErr QTCopyAtomDataToHandle(QTAtomContainer container, QTAtom atom, Handle target) {
    if (!target) return setMoviesError(nilHandleErr);
    int32_t size = 0;
    Ptr p = nullptr;
    if (OSErr err = QTGetAtomDataPtr(container, atom, &size, &p)) return err;
    SetHandleSize(target, size);
    if (MemError() != noErr) return setMoviesError(memFullErr);
    if (size > 0) std::memcpy(*target, p, size_t(size));
    return setMoviesError(noErr);
}

OSErr QTCopyAtomDataToPtr(QTAtomContainer container, QTAtom atom, Boolean sizeOrLessOK, int32_t size,
                          void* target, int32_t* actualSize) {
    if (actualSize) *actualSize = 0;
    if (!target || size < 0) return setMoviesError(paramErr);
    int32_t have = 0;
    Ptr p = nullptr;
    if (OSErr err = QTGetAtomDataPtr(container, atom, &have, &p)) return err;
    if (have > size && !sizeOrLessOK) return setMoviesError(paramErr);
    int32_t n = std::min(have, size);
    if (n > 0) std::memcpy(target, p, size_t(n));
    if (actualSize) *actualSize = n;
    return setMoviesError(noErr);
}

OSErr QTSetAtomData(QTAtomContainer container, QTAtom atom, int32_t dataSize, const void* data) {
    if (OSErr err = check(container, atom)) return setMoviesError(err);
    if (dataSize < 0 || (dataSize > 0 && !data)) return setMoviesError(paramErr);
    AtomNode& n = node(container, atom);
    if (atom == 0 || !n.children.empty()) return setMoviesError(notLeafAtomErr);
    try {
        if (dataSize == 0)
            n.data.clear();
        else
            n.data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + dataSize);
    } catch (const std::bad_alloc&) {
        return setMoviesError(memFullErr);
    }
    return setMoviesError(noErr);
}

OSErr QTSetAtomID(QTAtomContainer container, QTAtom atom, QTAtomID newID) {
    if (OSErr err = check(container, atom)) return setMoviesError(err);
    if (atom == 0 || newID <= 0) return setMoviesError(paramErr);
    AtomNode& n = node(container, atom);
    if (n.id == newID) return setMoviesError(noErr);
    if (idTaken(container, n.parent, n.type, newID)) return setMoviesError(duplicateAtomTypeAndIDErr);
    n.id = newID;
    for (auto& [t, maxId] : node(container, n.parent).maxIds)
        if (t == n.type && newID > maxId) maxId = newID;
    return setMoviesError(noErr);
}

OSErr QTRemoveAtom(QTAtomContainer container, QTAtom atom) {
    if (OSErr err = check(container, atom)) return setMoviesError(err);
    if (atom == 0) return setMoviesError(invalidAtomErr);
    detach(container, atom);
    killSubtree(container, atom);
    return setMoviesError(noErr);
}

OSErr QTRemoveChildren(QTAtomContainer container, QTAtom atom) {
    if (OSErr err = check(container, atom)) return setMoviesError(err);
    std::vector<QTAtom> kids;
    kids.swap(node(container, atom).children);
    for (QTAtom k : kids)
        killSubtree(container, k);
    return setMoviesError(noErr);
}

OSErr QTReplaceAtom(QTAtomContainer target, QTAtom targetAtom, QTAtomContainer replacement,
                    QTAtom replacementAtom) {
    if (OSErr err = check(target, targetAtom)) return setMoviesError(err);
    if (OSErr err = check(replacement, replacementAtom)) return setMoviesError(err);
    if (targetAtom == 0 && replacementAtom != 0 && !replacement->atoms[size_t(replacementAtom)].data.empty())
        return setMoviesError(notLeafAtomErr);
    try {
        // Copy the replacement first: it may live inside the subtree being replaced.
        OpaqueQTAtomContainer temp;
        const AtomNode& r = replacement->atoms[size_t(replacementAtom)];
        std::vector<uint8_t> data = replacementAtom == 0 ? std::vector<uint8_t>() : r.data;
        for (QTAtom k : std::vector<QTAtom>(r.children)) {
            QTAtom ref = copySubtree(&temp, 0, replacement, k);
            appendChild(&temp, 0, ref);
        }
        QTRemoveChildren(target, targetAtom);
        node(target, targetAtom).data = std::move(data);
        for (QTAtom k : std::vector<QTAtom>(temp.atoms[0].children)) {
            QTAtom ref = copySubtree(target, targetAtom, &temp, k);
            appendChild(target, targetAtom, ref);
        }
        return setMoviesError(noErr);
    } catch (const std::bad_alloc&) {
        return setMoviesError(memFullErr);
    }
}

namespace {

// Size in the flat form of an atom and its subtree; -1 when it does not fit the format.
int64_t flatSize(const OpaqueQTAtomContainer* c, QTAtom a) {
    const AtomNode& n = c->atoms[size_t(a)];
    if (n.children.size() > 0xFFFF) return -1;
    int64_t size = kQTAtomHeaderSize + int64_t(n.data.size());
    for (QTAtom k : n.children) {
        int64_t s = flatSize(c, k);
        if (s < 0) return -1;
        size += s;
        if (size > INT32_MAX) return -1;
    }
    return size;
}

uint8_t* writeAtom(const OpaqueQTAtomContainer* c, QTAtom a, uint8_t* out) {
    const AtomNode& n = c->atoms[size_t(a)];
    uint8_t* start = out;
    std::memset(out, 0, kQTAtomHeaderSize);
    platform::storeBE32(out + 4, n.type);
    platform::storeBE32(out + 8, uint32_t(n.id));
    platform::storeBE16(out + 14, uint16_t(n.children.size()));
    out += kQTAtomHeaderSize;
    if (!n.data.empty()) {
        std::memcpy(out, n.data.data(), n.data.size());
        out += n.data.size();
    }
    for (QTAtom k : n.children)
        out = writeAtom(c, k, out);
    platform::storeBE32(start, uint32_t(out - start));
    return out;
}

struct Reader {
    const uint8_t* base;
    OpaqueQTAtomContainer* c;
    OSErr err = noErr;

    // Parses `count` atoms in [pos, end) under `parent`; they must fill the range exactly.
    bool parseChildren(size_t pos, size_t end, uint32_t count, QTAtom parent, int depth) {
        if (depth > kQTAtomMaxDepth) return fail();
        for (uint32_t i = 0; i < count; ++i) {
            if (end - pos < size_t(kQTAtomHeaderSize)) return fail();
            const uint8_t* h = base + pos;
            uint32_t size = platform::loadBE32(h);
            QTAtomType type = platform::loadBE32(h + 4);
            int32_t id = int32_t(platform::loadBE32(h + 8));
            uint16_t kids = platform::loadBE16(h + 14);
            if (size < uint32_t(kQTAtomHeaderSize) || size > end - pos || type == 0 || id <= 0) return fail();
            if (idTaken(c, parent, type, id)) return fail();
            QTAtom ref = allocAtom(c, parent, type, id);
            if (ref == 0) return fail();
            appendChild(c, parent, ref);
            size_t bodyStart = pos + kQTAtomHeaderSize, bodyEnd = pos + size;
            if (kids == 0) {
                node(c, ref).data.assign(base + bodyStart, base + bodyEnd);
            } else if (!parseChildren(bodyStart, bodyEnd, kids, ref, depth + 1)) {
                return false;
            }
            pos = bodyEnd;
        }
        return pos == end || fail();
    }
    bool fail() {
        err = invalidAtomContainerErr;
        return false;
    }
};

} // namespace

OSErr QTGetFlattenedSize(QTAtomContainer container, int32_t* size) {
    if (size) *size = 0;
    if (OSErr err = check(container, 0)) return setMoviesError(err);
    int64_t s = flatSize(container, 0);
    if (s < 0 || s + kQTAtomContainerHeaderSize > INT32_MAX) return setMoviesError(paramErr);
    if (size) *size = int32_t(s + kQTAtomContainerHeaderSize);
    return setMoviesError(noErr);
}

OSErr QTFlattenAtomContainerToBytes(QTAtomContainer container, void* buffer, int32_t size) {
    int32_t need = 0;
    if (OSErr err = QTGetFlattenedSize(container, &need)) return err;
    if (!buffer || size < need) return setMoviesError(paramErr);
    auto* out = static_cast<uint8_t*>(buffer);
    std::memset(out, 0, kQTAtomContainerHeaderSize);
    writeAtom(container, 0, out + kQTAtomContainerHeaderSize);
    return setMoviesError(noErr);
}

OSErr QTFlattenAtomContainer(QTAtomContainer container, Handle* flat) {
    if (!flat) return setMoviesError(paramErr);
    *flat = nullptr;
    int32_t need = 0;
    if (OSErr err = QTGetFlattenedSize(container, &need)) return err;
    Handle h = NewHandle(need);
    if (!h) return setMoviesError(memFullErr);
    QTFlattenAtomContainerToBytes(container, *h, need);
    *flat = h;
    return setMoviesError(noErr);
}

OSErr QTUnflattenAtomContainer(const void* bytes, size_t size, QTAtomContainer* container) {
    if (!container) return setMoviesError(paramErr);
    *container = nullptr;
    const size_t minimum = kQTAtomContainerHeaderSize + kQTAtomHeaderSize;
    if (size < minimum || size > size_t(INT32_MAX)) return setMoviesError(invalidAtomContainerErr);
    if (!bytes) return setMoviesError(paramErr);
    const auto* b = static_cast<const uint8_t*>(bytes);
    for (int i = 0; i < 10; ++i)
        if (b[i] != 0) return setMoviesError(invalidAtomContainerErr);
    const uint8_t* root = b + kQTAtomContainerHeaderSize;
    uint32_t rootSize = platform::loadBE32(root);
    if (rootSize != size - kQTAtomContainerHeaderSize || platform::loadBE32(root + 4) != kQTAtomRootType ||
        platform::loadBE32(root + 8) != 1)
        return setMoviesError(invalidAtomContainerErr);
    uint16_t kids = platform::loadBE16(root + 14);
    try {
        auto* c = new OpaqueQTAtomContainer();
        Reader r{b, c};
        size_t bodyStart = kQTAtomContainerHeaderSize + kQTAtomHeaderSize;
        if (!r.parseChildren(bodyStart, size, kids, 0, 1)) {
            delete c;
            return setMoviesError(r.err);
        }
        *container = c;
        return setMoviesError(noErr);
    } catch (const std::bad_alloc&) {
        return setMoviesError(memFullErr);
    }
}
