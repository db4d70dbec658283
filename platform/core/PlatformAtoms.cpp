#include "PlatformAtoms.h"

#include "PlatformEndian.h"
#include "PlatformErrors.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <vector>

// The engine keeps every look-up in constant or logarithmic time, whatever the number of
// children under one parent (data sets of 100,000 elements, sequences of 100,000 items):
// - siblings form a doubly linked list, so the next child of any type is one step away;
// - every child carries an order label that grows along its siblings, so a child's position
//   among those of its type is a binary search in that type's list;
// - each parent counts its children per type and keeps, once an index is asked for, the list of
//   its children of each type in order, so the index-th child of a type is one look-up;
// - (parent, type, id) is found through one hash table for the whole container, filled for
//   parents that have more than a few children (a scan of a handful is as fast).
// Leaves hold up to eight bytes of data inside their node; longer data get one block of their own.

namespace {

constexpr uint64_t kLabelGap = uint64_t(1) << 32;
// Parents with more children than this have them in the (parent, type, id) table.
constexpr int32_t kHashFrom = 12;

// The children of one type under one parent.
struct TypeGroup {
    QTAtomType type = 0;
    QTAtomID maxId = 0; // the largest id given so far: a new id above it is free
    int32_t count = 0;
    QTAtom first = 0;
    // The children of this type in order; made when an index is first asked for, then kept.
    std::unique_ptr<std::vector<QTAtom>> order;

    TypeGroup() = default;
    TypeGroup(TypeGroup&&) = default;
    TypeGroup& operator=(TypeGroup&&) = default;
    TypeGroup(const TypeGroup& o) : type(o.type), maxId(o.maxId), count(o.count), first(o.first) {
        if (o.order) order = std::make_unique<std::vector<QTAtom>>(*o.order);
    }
};

struct Children {
    QTAtom first = 0, last = 0;
    int32_t count = 0;
    bool hashed = false;
    // The children of the first type met stay inline (most parents hold one or two types); the
    // other types follow sorted by type.
    TypeGroup one;
    std::vector<TypeGroup> more;
    // Every child in order, for look-ups by index over all types; made when first asked for.
    std::unique_ptr<std::vector<QTAtom>> all;

    Children() = default;
    Children(const Children& o)
        : first(o.first), last(o.last), count(o.count), hashed(o.hashed), one(o.one), more(o.more) {
        if (o.all) all = std::make_unique<std::vector<QTAtom>>(*o.all);
    }
    Children& operator=(const Children& o) {
        if (this == &o) return *this;
        Children copy(o);
        first = copy.first;
        last = copy.last;
        count = copy.count;
        hashed = copy.hashed;
        one = std::move(copy.one);
        more = std::move(copy.more);
        all = std::move(copy.all);
        return *this;
    }

    size_t groupCount() const { return (one.type ? 1 : 0) + more.size(); }
    template <typename Fn> void eachGroup(Fn fn) {
        if (one.type) fn(one);
        for (TypeGroup& g : more)
            fn(g);
    }
    TypeGroup* group(QTAtomType type) {
        if (one.type == type) return type ? &one : nullptr;
        auto it = std::lower_bound(more.begin(), more.end(), type,
                                   [](const TypeGroup& g, QTAtomType t) { return g.type < t; });
        return it != more.end() && it->type == type ? &*it : nullptr;
    }
    // Throws std::bad_alloc.
    TypeGroup& makeGroup(QTAtomType type) {
        if (TypeGroup* g = group(type)) return *g;
        if (!one.type) {
            one.type = type;
            return one;
        }
        auto it = std::lower_bound(more.begin(), more.end(), type,
                                   [](const TypeGroup& g, QTAtomType t) { return g.type < t; });
        it = more.emplace(it);
        it->type = type;
        return *it;
    }
    // Frees what the lists hold (the atom is gone).
    void release() {
        first = last = 0;
        count = 0;
        one = TypeGroup();
        std::vector<TypeGroup>().swap(more);
        all.reset();
    }
};

struct AtomNode {
    QTAtomType type = 0;
    QTAtomID id = 0;
    QTAtom parent = -1;
    QTAtom prev = 0, next = 0;
    uint32_t size = 0;
    uint64_t label = 0;
    union {
        uint8_t inlineBytes[8];
        uint8_t* heap;
    } data{};
    Children* kids = nullptr;
    bool alive = false;

    const uint8_t* bytes() const { return size <= sizeof data.inlineBytes ? data.inlineBytes : data.heap; }
    uint8_t* bytes() { return size <= sizeof data.inlineBytes ? data.inlineBytes : data.heap; }
    bool hasChildren() const { return kids && kids->count > 0; }
};

void freeData(AtomNode& n) {
    if (n.size > sizeof n.data.inlineBytes) std::free(n.data.heap);
    n.size = 0;
    n.data.heap = nullptr;
}

// false when the memory cannot be had; the node is then left as it was.
bool setData(AtomNode& n, const void* bytes, size_t size) {
    if (size > sizeof n.data.inlineBytes) {
        auto* block = static_cast<uint8_t*>(std::malloc(size));
        if (!block) return false;
        std::memcpy(block, bytes, size);
        freeData(n);
        n.data.heap = block;
    } else {
        uint8_t copy[8] = {};
        if (size) std::memcpy(copy, bytes, size);
        freeData(n);
        std::memcpy(n.data.inlineBytes, copy, sizeof copy);
    }
    n.size = uint32_t(size);
    return true;
}

// (parent, type, id) -> reference, open addressing with linear probing. A slot whose ref is 0
// is empty (0 is the root, never a child).
class IdTable {
  public:
    struct Slot {
        QTAtom parent;
        QTAtomType type;
        QTAtomID id;
        QTAtom ref;
    };

    QTAtom find(QTAtom parent, QTAtomType type, QTAtomID id) const {
        if (slots_.empty()) return 0;
        for (size_t i = home(parent, type, id);; i = (i + 1) & mask()) {
            const Slot& s = slots_[i];
            if (s.ref == 0) return 0;
            if (s.parent == parent && s.type == type && s.id == id) return s.ref;
        }
    }
    // Throws std::bad_alloc when the table cannot grow.
    void insert(QTAtom parent, QTAtomType type, QTAtomID id, QTAtom ref) {
        if ((used_ + 1) * 4 > slots_.size() * 3) grow();
        place(Slot{parent, type, id, ref});
        ++used_;
    }
    void erase(QTAtom parent, QTAtomType type, QTAtomID id) {
        if (slots_.empty()) return;
        size_t i = home(parent, type, id);
        for (;; i = (i + 1) & mask()) {
            const Slot& s = slots_[i];
            if (s.ref == 0) return;
            if (s.parent == parent && s.type == type && s.id == id) break;
        }
        // Shift the following run back so that no probe sequence is broken.
        for (size_t j = (i + 1) & mask();; j = (j + 1) & mask()) {
            Slot& s = slots_[j];
            if (s.ref == 0) break;
            size_t k = home(s.parent, s.type, s.id);
            bool movable = (j > i) ? (k <= i || k > j) : (k <= i && k > j);
            if (movable) {
                slots_[i] = s;
                i = j;
            }
        }
        slots_[i].ref = 0;
        --used_;
    }

  private:
    size_t mask() const { return slots_.size() - 1; }
    size_t home(QTAtom parent, QTAtomType type, QTAtomID id) const {
        uint64_t x =
            (uint64_t(uint32_t(parent)) << 32 | type) ^ (uint64_t(uint32_t(id)) * 0x9E3779B97F4A7C15ull);
        x ^= x >> 31;
        x *= 0xBF58476D1CE4E5B9ull;
        x ^= x >> 29;
        return size_t(x) & mask();
    }
    void place(const Slot& slot) {
        size_t i = home(slot.parent, slot.type, slot.id);
        while (slots_[i].ref != 0)
            i = (i + 1) & mask();
        slots_[i] = slot;
    }
    void grow() {
        std::vector<Slot> old;
        old.swap(slots_);
        try {
            slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{0, 0, 0, 0});
        } catch (...) {
            slots_.swap(old);
            throw;
        }
        for (const Slot& s : old)
            if (s.ref != 0) place(s);
    }

    std::vector<Slot> slots_;
    size_t used_ = 0;
};

// Nodes live in blocks that double in size (8, 8, 16, 32, ... nodes), so that a node, and the
// data inside it, never moves, a small container stays small, and finding a node is a few bit
// operations. A block's memory is only written as its nodes are added.
class NodeStore {
  public:
    NodeStore() = default;
    NodeStore(const NodeStore&) = delete;
    NodeStore& operator=(const NodeStore&) = delete;
    ~NodeStore() {
        for (size_t i = 0; i < size_; ++i)
            (*this)[i].~AtomNode();
        for (void* b : blocks_)
            std::free(b);
    }

    size_t size() const { return size_; }
    AtomNode& operator[](size_t i) { return blocks_[blockOf(i)][i - startOf(blockOf(i))]; }
    const AtomNode& operator[](size_t i) const { return blocks_[blockOf(i)][i - startOf(blockOf(i))]; }
    // Throws std::bad_alloc.
    AtomNode& add() {
        const size_t b = blockOf(size_);
        if (b == blocks_.size()) {
            blocks_.reserve(blocks_.size() + 1);
            void* block = std::malloc(sizeof(AtomNode) * sizeOf(b));
            if (!block) throw std::bad_alloc();
            blocks_.push_back(static_cast<AtomNode*>(block));
        }
        AtomNode* n = new (&blocks_[b][size_ - startOf(b)]) AtomNode();
        ++size_;
        return *n;
    }

  private:
    static size_t blockOf(size_t i) { return i < 8 ? 0 : size_t(std::bit_width(i)) - 3; }
    static size_t startOf(size_t b) { return b == 0 ? 0 : size_t(8) << (b - 1); }
    static size_t sizeOf(size_t b) { return b == 0 ? 8 : size_t(8) << (b - 1); }

    std::vector<AtomNode*> blocks_;
    size_t size_ = 0;
};

// Room for one more element, growing geometrically (a bare reserve(size + 1) would copy the
// whole list on every insertion). Throws std::bad_alloc.
void roomForOne(std::vector<QTAtom>& list) {
    if (list.size() == list.capacity()) list.reserve(std::max<size_t>(8, list.size() * 2));
}

} // namespace

struct OpaqueQTAtomContainer {
    // Indexed by reference; node 0 is the root. Removed atoms stay as dead nodes so that their
    // references are never handed out again.
    NodeStore atoms;
    // The child lists of atoms that have (or had) children; an atom keeps its entry while alive.
    // The root's is here; the others are made on first use, since most containers are small and
    // short-lived and hold children under their root only.
    Children rootKids;
    std::unique_ptr<std::deque<Children>> kidsPool;

    // Throws std::bad_alloc.
    Children* newChildren() {
        if (!kidsPool) kidsPool = std::make_unique<std::deque<Children>>();
        return &kidsPool->emplace_back();
    }
    IdTable ids;
    int32_t lockCount = 0;

    OpaqueQTAtomContainer() {
        AtomNode& root = atoms.add();
        root.alive = true;
        root.type = kQTAtomRootType;
        root.id = 1;
        root.kids = &rootKids;
    }
    ~OpaqueQTAtomContainer() {
        for (size_t i = 0; i < atoms.size(); ++i) {
            freeData(atoms[i]);
        }
    }
    OpaqueQTAtomContainer(const OpaqueQTAtomContainer&) = delete;
    OpaqueQTAtomContainer& operator=(const OpaqueQTAtomContainer&) = delete;
};

namespace {

using platform::setMoviesError;

bool validRef(const OpaqueQTAtomContainer* c, QTAtom a) {
    return a >= 0 && size_t(a) < c->atoms.size() && c->atoms[size_t(a)].alive;
}

AtomNode& node(OpaqueQTAtomContainer* c, QTAtom a) {
    return c->atoms[size_t(a)];
}
const AtomNode& node(const OpaqueQTAtomContainer* c, QTAtom a) {
    return c->atoms[size_t(a)];
}

// Common entry checks: container present, atom alive.
OSErr check(const OpaqueQTAtomContainer* c, QTAtom a) {
    if (!c) return invalidAtomContainerErr;
    if (!validRef(c, a)) return invalidAtomErr;
    return noErr;
}

QTAtom findByID(const OpaqueQTAtomContainer* c, QTAtom parent, QTAtomType type, QTAtomID id) {
    const Children* k = node(c, parent).kids;
    if (!k || k->count == 0) return 0;
    if (k->hashed) return c->ids.find(parent, type, id);
    for (QTAtom ch = k->first; ch; ch = node(c, ch).next) {
        const AtomNode& n = node(c, ch);
        if (n.type == type && n.id == id) return ch;
    }
    return 0;
}

bool idTaken(const OpaqueQTAtomContainer* c, QTAtom parent, QTAtomType type, QTAtomID id) {
    return findByID(c, parent, type, id) != 0;
}

QTAtomID uniqueID(OpaqueQTAtomContainer* c, QTAtom parent, QTAtomType type) {
    Children* k = node(c, parent).kids;
    TypeGroup* g = k ? k->group(type) : nullptr;
    QTAtomID maxId = g ? g->maxId : 0;
    if (maxId < INT32_MAX) return maxId + 1;
    for (QTAtomID id = 1; id < INT32_MAX; ++id)
        if (!idTaken(c, parent, type, id)) return id;
    return 0;
}

// The children of one type (or every child: `type` 0) in order.
std::vector<QTAtom>& orderOf(OpaqueQTAtomContainer* c, QTAtom parent, QTAtomType type) {
    Children& k = *node(c, parent).kids;
    std::unique_ptr<std::vector<QTAtom>>* slot = &k.all;
    QTAtom from = k.first;
    int32_t count = k.count;
    if (type != 0) {
        TypeGroup* g = k.group(type);
        slot = &g->order;
        from = g->first;
        count = g->count;
    } else if (k.groupCount() == 1) {
        return orderOf(c, parent, k.one.type ? k.one.type : k.more.front().type);
    }
    if (!*slot) {
        auto list = std::make_unique<std::vector<QTAtom>>();
        list->reserve(size_t(count));
        for (QTAtom ch = from; ch; ch = node(c, ch).next)
            if (type == 0 || node(c, ch).type == type) list->push_back(ch);
        *slot = std::move(list);
    }
    return **slot;
}

// Whether the children of `type` (0: any type) of a parent are found by a walk rather than by
// their ordered list: a parent of a few children is scanned rather than given a list to keep (a
// data set's elements and items hold a handful each, and there are hundreds of thousands of
// them), unless the list was already made.
bool scannedForIndex(Children& k, QTAtomType type) {
    const bool listed = type == 0 ? k.all != nullptr : k.group(type)->order != nullptr;
    return !listed && k.count <= kHashFrom;
}

// The index-th (1-based, in range) child of `type` (0: any type). Throws std::bad_alloc.
QTAtom nthChild(OpaqueQTAtomContainer* c, QTAtom parent, QTAtomType type, int32_t index) {
    Children& k = *node(c, parent).kids;
    if (scannedForIndex(k, type)) {
        int32_t seen = 0;
        for (QTAtom ch = type == 0 ? k.first : k.group(type)->first; ch; ch = node(c, ch).next)
            if ((type == 0 || node(c, ch).type == type) && ++seen == index) return ch;
        return 0;
    }
    return orderOf(c, parent, type)[size_t(index) - 1];
}

// Position of `atom` in an ordered list of siblings (by label); the list's size when absent.
size_t positionIn(const OpaqueQTAtomContainer* c, const std::vector<QTAtom>& list, uint64_t label) {
    auto it = std::lower_bound(list.begin(), list.end(), label,
                               [c](QTAtom a, uint64_t l) { return node(c, a).label < l; });
    return size_t(it - list.begin());
}

// The 1-based index of `atom` among its siblings of `type`. Throws std::bad_alloc.
int32_t indexAmong(OpaqueQTAtomContainer* c, QTAtom parent, QTAtomType type, QTAtom atom) {
    Children& k = *node(c, parent).kids;
    if (scannedForIndex(k, type)) {
        int32_t seen = 0;
        for (QTAtom ch = k.first; ch; ch = node(c, ch).next) {
            if (type == 0 || node(c, ch).type == type) ++seen;
            if (ch == atom) return seen;
        }
        return 0;
    }
    return int32_t(positionIn(c, orderOf(c, parent, type), node(c, atom).label)) + 1;
}

void addToList(const OpaqueQTAtomContainer* c, std::vector<QTAtom>& list, QTAtom atom) {
    const uint64_t label = node(c, atom).label;
    if (list.empty() || node(c, list.back()).label < label)
        list.push_back(atom);
    else
        list.insert(list.begin() + std::ptrdiff_t(positionIn(c, list, label)), atom);
}

void dropFromList(const OpaqueQTAtomContainer* c, std::vector<QTAtom>& list, QTAtom atom) {
    if (!list.empty() && list.back() == atom) {
        list.pop_back();
        return;
    }
    size_t i = positionIn(c, list, node(c, atom).label);
    if (i < list.size() && list[i] == atom) list.erase(list.begin() + std::ptrdiff_t(i));
}

void relabel(OpaqueQTAtomContainer* c, QTAtom parent) {
    uint64_t label = kLabelGap;
    for (QTAtom ch = node(c, parent).kids->first; ch; ch = node(c, ch).next, label += kLabelGap)
        node(c, ch).label = label;
}

// Links `atom` (alive, typed, with its parent set) among the children of its parent just before
// `before` (0: after the last) and enters it in the parent's indexes. Throws std::bad_alloc
// before anything is changed.
void link(OpaqueQTAtomContainer* c, QTAtom atom, QTAtom before) {
    AtomNode& n = node(c, atom);
    const QTAtom parent = n.parent;
    AtomNode& p = node(c, parent);
    if (!p.kids) p.kids = c->newChildren();
    Children& k = *p.kids;

    // Reserve everything that can fail first.
    const bool hashNow = !k.hashed && k.count + 1 > kHashFrom;
    TypeGroup& g = k.makeGroup(n.type);
    if (g.order) roomForOne(*g.order);
    if (k.all) roomForOne(*k.all);
    if (hashNow) {
        try {
            for (QTAtom ch = k.first; ch; ch = node(c, ch).next)
                c->ids.insert(parent, node(c, ch).type, node(c, ch).id, ch);
        } catch (...) {
            for (QTAtom ch = k.first; ch; ch = node(c, ch).next)
                c->ids.erase(parent, node(c, ch).type, node(c, ch).id);
            throw;
        }
        k.hashed = true;
    }
    if (k.hashed) c->ids.insert(parent, n.type, n.id, atom);

    // The new label lies halfway between the neighbours' (a full gap after the last); when there
    // is no room left, the siblings are spread out again first.
    const QTAtom prev = before ? node(c, before).prev : k.last;
    auto labelOf = [c](QTAtom a) { return a ? node(c, a).label : uint64_t(0); };
    const bool room = before ? labelOf(before) - labelOf(prev) >= 2 : labelOf(prev) <= UINT64_MAX - kLabelGap;
    if (!room) relabel(c, parent);
    const uint64_t lo = labelOf(prev);
    n.label = before ? lo + (labelOf(before) - lo) / 2 : lo + kLabelGap;

    n.prev = prev;
    n.next = before;
    if (prev)
        node(c, prev).next = atom;
    else
        k.first = atom;
    if (before)
        node(c, before).prev = atom;
    else
        k.last = atom;
    ++k.count;

    ++g.count;
    if (n.id > g.maxId) g.maxId = n.id;
    if (!g.first || node(c, g.first).label > n.label) g.first = atom;
    if (g.order) addToList(c, *g.order, atom);
    if (k.all) addToList(c, *k.all, atom);
}

// Takes `atom` out of its parent's list and indexes; the node itself is left as it is.
void unlink(OpaqueQTAtomContainer* c, QTAtom atom) {
    AtomNode& n = node(c, atom);
    Children& k = *node(c, n.parent).kids;
    TypeGroup& g = *k.group(n.type);
    if (g.first == atom) {
        QTAtom next = n.next;
        while (next && node(c, next).type != n.type)
            next = node(c, next).next;
        g.first = next;
    }
    if (g.order) dropFromList(c, *g.order, atom);
    if (k.all) dropFromList(c, *k.all, atom);
    --g.count;
    if (k.hashed) c->ids.erase(n.parent, n.type, n.id);

    if (n.prev)
        node(c, n.prev).next = n.next;
    else
        k.first = n.next;
    if (n.next)
        node(c, n.next).prev = n.prev;
    else
        k.last = n.prev;
    --k.count;
    n.prev = n.next = 0;
}

// A new atom under `parent`, not yet linked. Throws std::bad_alloc.
QTAtom allocAtom(OpaqueQTAtomContainer* c, QTAtom parent, QTAtomType type, QTAtomID id) {
    if (c->atoms.size() >= size_t(INT32_MAX)) throw std::bad_alloc();
    QTAtom ref = QTAtom(c->atoms.size());
    AtomNode& n = c->atoms.add();
    n.type = type;
    n.id = id;
    n.parent = parent;
    n.alive = true;
    return ref;
}

// Marks an atom and its subtree dead and frees what they hold. The atom must be unlinked (or its
// parent dying with it); descendants leave the id table.
void killSubtree(OpaqueQTAtomContainer* c, QTAtom a) {
    std::vector<QTAtom> stack{a};
    while (!stack.empty()) {
        QTAtom x = stack.back();
        stack.pop_back();
        AtomNode& n = node(c, x);
        if (n.kids) {
            for (QTAtom ch = n.kids->first; ch; ch = node(c, ch).next) {
                if (n.kids->hashed) c->ids.erase(x, node(c, ch).type, node(c, ch).id);
                stack.push_back(ch);
            }
            n.kids->release();
            n.kids = nullptr;
        }
        n.alive = false;
        n.prev = n.next = 0;
        freeData(n);
    }
}

// Validates the arguments of an insertion and picks the id; noErr or the refusal.
OSErr prepareInsert(OpaqueQTAtomContainer* c, QTAtom parent, QTAtomType type, QTAtomID& id, int32_t dataSize,
                    const void* data) {
    OSErr err = check(c, parent);
    if (err) return err;
    if (type == 0 || id < 0 || dataSize < 0 || (dataSize > 0 && !data)) return paramErr;
    if (parent != 0 && node(c, parent).size != 0) return notLeafAtomErr;
    if (id == 0) {
        id = uniqueID(c, parent, type);
        if (id == 0) return duplicateAtomTypeAndIDErr;
    } else if (idTaken(c, parent, type, id)) {
        return duplicateAtomTypeAndIDErr;
    }
    return noErr;
}

OSErr insertBefore(OpaqueQTAtomContainer* c, QTAtom parent, QTAtomType type, QTAtomID id, QTAtom before,
                   int32_t dataSize, const void* data, QTAtom* newAtom) {
    QTAtom ref = 0;
    try {
        ref = allocAtom(c, parent, type, id);
        if (dataSize > 0 && !setData(node(c, ref), data, size_t(dataSize))) throw std::bad_alloc();
        link(c, ref, before);
    } catch (const std::bad_alloc&) {
        if (ref) {
            freeData(node(c, ref));
            node(c, ref).alive = false;
        }
        return memFullErr;
    }
    if (newAtom) *newAtom = ref;
    return noErr;
}

// Copies the subtree at `srcAtom` of `src` under `parent` of `dst`, before `before` (0 appends),
// with new references, keeping type, id and data. `dst` may be `src`: nodes never move, and the
// children to copy are listed before any is added. Throws std::bad_alloc.
QTAtom copySubtree(OpaqueQTAtomContainer* dst, QTAtom parent, const OpaqueQTAtomContainer* src,
                   QTAtom srcAtom) {
    const AtomNode& s = node(src, srcAtom);
    QTAtom ref = allocAtom(dst, parent, s.type, s.id);
    AtomNode& d = node(dst, ref);
    if (s.size && !setData(d, s.bytes(), s.size)) {
        d.alive = false;
        throw std::bad_alloc();
    }
    try {
        link(dst, ref, 0);
    } catch (...) {
        freeData(d);
        d.alive = false;
        throw;
    }
    std::vector<QTAtom> kids;
    if (s.kids) {
        kids.reserve(size_t(s.kids->count));
        for (QTAtom k = s.kids->first; k; k = node(src, k).next)
            kids.push_back(k);
    }
    for (QTAtom k : kids)
        copySubtree(dst, ref, src, k);
    return ref;
}

// Removes the children of `atom` (their references die) but keeps the ids given so far, so
// that a later id-0 insertion still picks a fresh one.
void clearChildren(OpaqueQTAtomContainer* c, QTAtom atom) {
    Children* k = node(c, atom).kids;
    if (!k) return;
    for (QTAtom ch = k->first; ch;) {
        QTAtom next = node(c, ch).next;
        if (k->hashed) c->ids.erase(atom, node(c, ch).type, node(c, ch).id);
        killSubtree(c, ch);
        ch = next;
    }
    k->first = k->last = 0;
    k->count = 0;
    k->all.reset();
    k->eachGroup([](TypeGroup& g) {
        g.count = 0;
        g.first = 0;
        g.order.reset();
    });
}

// A deep copy of a whole container, references included. Throws std::bad_alloc.
void copyWhole(const OpaqueQTAtomContainer* src, OpaqueQTAtomContainer* dst) {
    for (size_t i = 1; i < src->atoms.size(); ++i)
        dst->atoms.add();
    for (size_t i = 0; i < src->atoms.size(); ++i) {
        const AtomNode& s = src->atoms[i];
        AtomNode& d = dst->atoms[i];
        d.type = s.type;
        d.id = s.id;
        d.parent = s.parent;
        d.prev = s.prev;
        d.next = s.next;
        d.label = s.label;
        d.alive = s.alive;
        if (s.size && !setData(d, s.bytes(), s.size)) throw std::bad_alloc();
        if (s.kids) {
            if (!d.kids) d.kids = dst->newChildren();
            *d.kids = *s.kids;
        }
        if (s.kids && s.kids->hashed)
            for (QTAtom ch = s.kids->first; ch; ch = node(src, ch).next)
                dst->ids.insert(QTAtom(i), node(src, ch).type, node(src, ch).id, ch);
    }
}

} // namespace

OSErr QTNewAtomContainer(QTAtomContainer* container) {
    if (!container) return setMoviesError(paramErr);
    *container = nullptr;
    try {
        *container = new OpaqueQTAtomContainer();
    } catch (const std::bad_alloc&) {
        return setMoviesError(memFullErr);
    }
    return setMoviesError(noErr);
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
    OpaqueQTAtomContainer* copy = nullptr;
    try {
        copy = new OpaqueQTAtomContainer();
        if (atom == 0)
            copyWhole(container, copy);
        else
            copySubtree(copy, 0, container, atom);
        *target = copy;
        return setMoviesError(noErr);
    } catch (const std::bad_alloc&) {
        delete copy;
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
    if (index < 0) return setMoviesError(atomIndexInvalidErr);
    QTAtom before = 0;
    if (index > 0) {
        Children* k = node(container, parent).kids;
        TypeGroup* g = k ? k->group(type) : nullptr;
        const int32_t have = g ? g->count : 0;
        if (index > have + 1) return setMoviesError(atomIndexInvalidErr);
        if (index == 1 && have > 0)
            before = g->first;
        else if (index <= have) {
            try {
                before = nthChild(container, parent, type, index);
            } catch (const std::bad_alloc&) {
                return setMoviesError(memFullErr);
            }
        }
    }
    return setMoviesError(insertBefore(container, parent, type, id, before, dataSize, data, newAtom));
}

OSErr QTInsertChildBeforeAtom(QTAtomContainer container, QTAtom parent, QTAtomType type, QTAtomID id,
                              QTAtom before, int32_t dataSize, const void* data, QTAtom* newAtom) {
    if (newAtom) *newAtom = 0;
    if (OSErr err = prepareInsert(container, parent, type, id, dataSize, data)) return setMoviesError(err);
    if (before != 0 && (!validRef(container, before) || node(container, before).parent != parent))
        return setMoviesError(invalidAtomErr);
    return setMoviesError(insertBefore(container, parent, type, id, before, dataSize, data, newAtom));
}

OSErr QTInsertChildren(QTAtomContainer container, QTAtom parent, QTAtomContainer children) {
    if (OSErr err = check(container, parent)) return setMoviesError(err);
    if (!children) return setMoviesError(invalidAtomContainerErr);
    std::vector<QTAtom> srcKids;
    try {
        if (const Children* k = node(children, 0).kids) {
            srcKids.reserve(size_t(k->count));
            for (QTAtom ch = k->first; ch; ch = node(children, ch).next)
                srcKids.push_back(ch);
        }
    } catch (const std::bad_alloc&) {
        return setMoviesError(memFullErr);
    }
    if (srcKids.empty()) return setMoviesError(noErr);
    if (parent != 0 && node(container, parent).size != 0) return setMoviesError(notLeafAtomErr);
    // Refuse before touching anything: a duplicate with the target.
    for (QTAtom k : srcKids) {
        const AtomNode& s = node(children, k);
        if (idTaken(container, parent, s.type, s.id)) return setMoviesError(duplicateAtomTypeAndIDErr);
    }
    try {
        for (QTAtom k : srcKids) // `children` may be `container`: the list was taken first
            copySubtree(container, parent, children, k);
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
    Children* k = node(container, parent).kids;
    if (!k) return 0;
    if (type == 0) return k->count;
    const TypeGroup* g = k->group(type);
    return g ? g->count : 0;
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
    Children* k = node(container, parent).kids;
    const TypeGroup* g = k && type != 0 ? k->group(type) : nullptr;
    const int32_t have = !k ? 0 : type == 0 ? k->count : g ? g->count : 0;
    if (index > have) {
        setMoviesError(cannotFindAtomErr);
        return 0;
    }
    QTAtom found = 0;
    if (index == 1)
        found = type == 0 ? k->first : g->first;
    else if (index == have && type == 0)
        found = k->last;
    else {
        try {
            found = nthChild(container, parent, type, index);
        } catch (const std::bad_alloc&) {
            setMoviesError(memFullErr);
            return 0;
        }
    }
    if (id) *id = node(container, found).id;
    setMoviesError(noErr);
    return found;
}

QTAtom QTFindChildByID(QTAtomContainer container, QTAtom parent, QTAtomType type, QTAtomID id,
                       int32_t* index) {
    if (index) *index = 0;
    if (OSErr err = check(container, parent)) {
        setMoviesError(err);
        return 0;
    }
    QTAtom found = findByID(container, parent, type, id);
    if (!found) {
        setMoviesError(cannotFindAtomErr);
        return 0;
    }
    if (index) {
        const TypeGroup* g = node(container, parent).kids->group(type);
        if (g->first == found) {
            *index = 1;
        } else {
            try {
                *index = indexAmong(container, parent, type, found);
            } catch (const std::bad_alloc&) {
                setMoviesError(memFullErr);
                return 0;
            }
        }
    }
    setMoviesError(noErr);
    return found;
}

OSErr QTNextChildAnyType(QTAtomContainer container, QTAtom parent, QTAtom current, QTAtom* next) {
    if (!next) return setMoviesError(paramErr);
    *next = 0;
    if (OSErr err = check(container, parent)) return setMoviesError(err);
    if (current == 0) {
        if (const Children* k = node(container, parent).kids) *next = k->first;
        return setMoviesError(noErr);
    }
    if (current < 0 || !validRef(container, current) || node(container, current).parent != parent)
        return setMoviesError(invalidAtomErr);
    *next = node(container, current).next;
    return setMoviesError(noErr);
}

OSErr QTGetNextChildType(QTAtomContainer container, QTAtom parent, QTAtomType current, QTAtomType* next) {
    if (!next) return setMoviesError(paramErr);
    *next = 0;
    if (OSErr err = check(container, parent)) return setMoviesError(err);
    const Children* k = node(container, parent).kids;
    if (!k) return setMoviesError(noErr);
    // Types in order of their first child.
    std::vector<std::pair<uint64_t, QTAtomType>> types;
    try {
        const_cast<Children*>(k)->eachGroup([&](TypeGroup& g) {
            if (g.count > 0) types.emplace_back(node(container, g.first).label, g.type);
        });
    } catch (const std::bad_alloc&) {
        return setMoviesError(memFullErr);
    }
    std::sort(types.begin(), types.end());
    if (current == 0) {
        if (!types.empty()) *next = types.front().second;
    } else {
        auto it = std::find_if(types.begin(), types.end(),
                               [current](const auto& t) { return t.second == current; });
        if (it != types.end() && ++it != types.end()) *next = it->second;
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
    if (size) *size = int32_t(node(container, atom).size);
    return setMoviesError(noErr);
}

OSErr QTGetAtomDataPtr(QTAtomContainer container, QTAtom atom, int32_t* dataSize, Ptr* atomData) {
    if (dataSize) *dataSize = 0;
    if (atomData) *atomData = nullptr;
    if (OSErr err = check(container, atom)) return setMoviesError(err);
    AtomNode& n = node(container, atom);
    if (atom == 0 || n.hasChildren()) return setMoviesError(notLeafAtomErr);
    if (dataSize) *dataSize = int32_t(n.size);
    if (atomData) *atomData = n.size ? reinterpret_cast<Ptr>(n.bytes()) : nullptr;
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
    if (atom == 0 || n.hasChildren()) return setMoviesError(notLeafAtomErr);
    if (!setData(n, data, size_t(dataSize))) return setMoviesError(memFullErr);
    return setMoviesError(noErr);
}

OSErr QTSetAtomID(QTAtomContainer container, QTAtom atom, QTAtomID newID) {
    if (OSErr err = check(container, atom)) return setMoviesError(err);
    if (atom == 0 || newID <= 0) return setMoviesError(paramErr);
    AtomNode& n = node(container, atom);
    if (n.id == newID) return setMoviesError(noErr);
    if (idTaken(container, n.parent, n.type, newID)) return setMoviesError(duplicateAtomTypeAndIDErr);
    Children& k = *node(container, n.parent).kids;
    if (k.hashed) {
        try {
            container->ids.insert(n.parent, n.type, newID, atom);
        } catch (const std::bad_alloc&) {
            return setMoviesError(memFullErr);
        }
        container->ids.erase(n.parent, n.type, n.id);
    }
    n.id = newID;
    TypeGroup& g = *k.group(n.type);
    if (newID > g.maxId) g.maxId = newID;
    return setMoviesError(noErr);
}

OSErr QTRemoveAtom(QTAtomContainer container, QTAtom atom) {
    if (OSErr err = check(container, atom)) return setMoviesError(err);
    if (atom == 0) return setMoviesError(invalidAtomErr);
    unlink(container, atom);
    killSubtree(container, atom);
    return setMoviesError(noErr);
}

OSErr QTRemoveChildren(QTAtomContainer container, QTAtom atom) {
    if (OSErr err = check(container, atom)) return setMoviesError(err);
    clearChildren(container, atom);
    return setMoviesError(noErr);
}

OSErr QTReplaceAtom(QTAtomContainer target, QTAtom targetAtom, QTAtomContainer replacement,
                    QTAtom replacementAtom) {
    if (OSErr err = check(target, targetAtom)) return setMoviesError(err);
    if (OSErr err = check(replacement, replacementAtom)) return setMoviesError(err);
    if (targetAtom == 0 && replacementAtom != 0 && node(replacement, replacementAtom).size != 0)
        return setMoviesError(notLeafAtomErr);
    try {
        // Copy the replacement first: it may live inside the subtree being replaced.
        OpaqueQTAtomContainer temp;
        const AtomNode& r = node(replacement, replacementAtom);
        std::vector<uint8_t> data;
        if (replacementAtom != 0 && r.size) data.assign(r.bytes(), r.bytes() + r.size);
        if (r.kids)
            for (QTAtom k = r.kids->first; k; k = node(replacement, k).next)
                copySubtree(&temp, 0, replacement, k);
        std::vector<QTAtom> kids;
        if (temp.atoms[0].kids)
            for (QTAtom k = temp.atoms[0].kids->first; k; k = node(&temp, k).next)
                kids.push_back(k);
        clearChildren(target, targetAtom);
        if (targetAtom != 0 && !setData(node(target, targetAtom), data.data(), data.size()))
            return setMoviesError(memFullErr);
        for (QTAtom k : kids)
            copySubtree(target, targetAtom, &temp, k);
        return setMoviesError(noErr);
    } catch (const std::bad_alloc&) {
        return setMoviesError(memFullErr);
    }
}

namespace {

// Size in the flat form of an atom and its subtree; -1 when it does not fit the format.
int64_t flatSize(const OpaqueQTAtomContainer* c, QTAtom a) {
    const AtomNode& n = node(c, a);
    const int32_t count = n.kids ? n.kids->count : 0;
    if (count > 0xFFFF) return -1;
    int64_t size = kQTAtomHeaderSize + int64_t(n.size);
    for (QTAtom k = count ? n.kids->first : 0; k; k = node(c, k).next) {
        int64_t s = flatSize(c, k);
        if (s < 0) return -1;
        size += s;
        if (size > INT32_MAX) return -1;
    }
    return size;
}

uint8_t* writeAtom(const OpaqueQTAtomContainer* c, QTAtom a, uint8_t* out) {
    const AtomNode& n = node(c, a);
    const int32_t count = n.kids ? n.kids->count : 0;
    uint8_t* start = out;
    std::memset(out, 0, kQTAtomHeaderSize);
    platform::storeBE32(out + 4, n.type);
    platform::storeBE32(out + 8, uint32_t(n.id));
    platform::storeBE16(out + 14, uint16_t(count));
    out += kQTAtomHeaderSize;
    if (n.size) {
        std::memcpy(out, n.bytes(), n.size);
        out += n.size;
    }
    for (QTAtom k = count ? n.kids->first : 0; k; k = node(c, k).next)
        out = writeAtom(c, k, out);
    platform::storeBE32(start, uint32_t(out - start));
    return out;
}

struct Reader {
    const uint8_t* base;
    OpaqueQTAtomContainer* c;
    OSErr err = noErr;

    // Parses `count` atoms in [pos, end) under `parent`; they must fill the range exactly.
    // Throws std::bad_alloc.
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
            size_t bodyStart = pos + kQTAtomHeaderSize, bodyEnd = pos + size;
            if (insertBefore(c, parent, type, id, 0, kids == 0 ? int32_t(bodyEnd - bodyStart) : 0,
                             base + bodyStart, nullptr) != noErr)
                throw std::bad_alloc();
            QTAtom ref = node(c, parent).kids->last;
            if (kids != 0 && !parseChildren(bodyStart, bodyEnd, kids, ref, depth + 1)) return false;
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
    OpaqueQTAtomContainer* c = nullptr;
    try {
        c = new OpaqueQTAtomContainer();
        Reader r{b, c};
        size_t bodyStart = kQTAtomContainerHeaderSize + kQTAtomHeaderSize;
        if (!r.parseChildren(bodyStart, size, kids, 0, 1)) {
            delete c;
            return setMoviesError(r.err);
        }
        *container = c;
        return setMoviesError(noErr);
    } catch (const std::bad_alloc&) {
        delete c;
        return setMoviesError(memFullErr);
    }
}
