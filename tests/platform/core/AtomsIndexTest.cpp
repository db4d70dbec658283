// The container's indexes (per-type positions, (type, id) look-ups, sibling order, counts) checked
// against a plain model of ordered child lists under long runs of mixed edits, copies and flattening.
#include "PlatformAtoms.h"
#include "PlatformErrors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr QTAtomType kTypes[] = {FOUR_CHAR_CODE("aaaa"), FOUR_CHAR_CODE("bbbb"), FOUR_CHAR_CODE("cccc")};

struct Child {
    QTAtom ref;
    QTAtomType type;
    QTAtomID id;
};

// What the container should hold: each parent's children in order, and the ids given so far.
struct Model {
    std::map<QTAtom, std::vector<Child>> kids;
    std::map<std::pair<QTAtom, QTAtomType>, QTAtomID> maxIds;
    std::vector<QTAtom> removed;

    std::vector<Child>& of(QTAtom parent) { return kids[parent]; }
    bool taken(QTAtom parent, QTAtomType type, QTAtomID id) {
        for (const Child& c : of(parent))
            if (c.type == type && c.id == id) return true;
        return false;
    }
    int32_t count(QTAtom parent, QTAtomType type) {
        int32_t n = 0;
        for (const Child& c : of(parent))
            if (type == 0 || c.type == type) ++n;
        return n;
    }
    // Position in the list of the index-th child of `type` (1-based); -1 past the end.
    std::ptrdiff_t positionOf(QTAtom parent, QTAtomType type, int32_t index) {
        int32_t seen = 0;
        auto& list = of(parent);
        for (size_t i = 0; i < list.size(); ++i)
            if ((type == 0 || list[i].type == type) && ++seen == index) return std::ptrdiff_t(i);
        return -1;
    }
    QTAtomID nextId(QTAtom parent, QTAtomType type) { return maxIds[{parent, type}] + 1; }
    void noteId(QTAtom parent, QTAtomType type, QTAtomID id) {
        QTAtomID& m = maxIds[{parent, type}];
        m = std::max(m, id);
    }
    void forget(QTAtom atom) {
        auto it = kids.find(atom);
        if (it == kids.end()) return;
        std::vector<Child> list = it->second;
        kids.erase(it);
        for (const Child& c : list) {
            removed.push_back(c.ref);
            forget(c.ref);
        }
    }
};

// Every query the engine answers, compared with the model, for every parent.
void expectSame(QTAtomContainer c, Model& m, const std::string& where) {
    for (auto& [parent, list] : m.kids) {
        SCOPED_TRACE(where + " parent " + std::to_string(parent));
        ASSERT_EQ(QTCountChildren(c, parent), int32_t(list.size()));
        QTAtom walk = 0;
        for (const Child& ch : list) {
            ASSERT_EQ(QTNextChildAnyType(c, parent, walk, &walk), noErr);
            ASSERT_EQ(walk, ch.ref);
        }
        ASSERT_EQ(QTNextChildAnyType(c, parent, walk, &walk), noErr);
        ASSERT_EQ(walk, 0);
        for (QTAtomType type : {QTAtomType(0), kTypes[0], kTypes[1], kTypes[2]}) {
            const int32_t n = m.count(parent, type);
            ASSERT_EQ(QTCountChildrenOfType(c, parent, type), n);
            int32_t index = 0;
            for (const Child& ch : list) {
                if (type != 0 && ch.type != type) continue;
                ++index;
                QTAtomID id = -1;
                ASSERT_EQ(QTFindChildByIndex(c, parent, type, index, &id), ch.ref) << "index " << index;
                ASSERT_EQ(id, ch.id);
                if (type != 0) {
                    int32_t at = 0;
                    ASSERT_EQ(QTFindChildByID(c, parent, type, ch.id, &at), ch.ref);
                    ASSERT_EQ(at, index);
                }
            }
            ASSERT_EQ(QTFindChildByIndex(c, parent, type, n + 1, nullptr), 0);
        }
        // Types in order of their first child.
        std::vector<QTAtomType> types;
        for (const Child& ch : list)
            if (std::find(types.begin(), types.end(), ch.type) == types.end()) types.push_back(ch.type);
        QTAtomType t = 0;
        for (QTAtomType want : types) {
            ASSERT_EQ(QTGetNextChildType(c, parent, t, &t), noErr);
            ASSERT_EQ(t, want);
        }
        QTGetNextChildType(c, parent, t, &t);
        ASSERT_EQ(t, 0u);
        for (const Child& ch : list)
            ASSERT_EQ(QTGetAtomParent(c, ch.ref), parent);
    }
    for (QTAtom gone : m.removed)
        ASSERT_FALSE(QTAtomIsValid(c, gone)) << where << " removed " << gone;
}

// One random edit, applied to both; the engine's status must be the model's.
void randomEdit(std::mt19937& rng, QTAtomContainer c, Model& m, std::vector<QTAtom>& parents, int hotspot) {
    auto pick = [&](size_t n) { return size_t(std::uniform_int_distribution<size_t>(0, n - 1)(rng)); };
    QTAtom parent = hotspot ? 0 : parents[pick(parents.size())];
    auto& list = m.of(parent);
    const QTAtomType type = hotspot ? kTypes[0] : kTypes[pick(3)];
    const int op = int(pick(hotspot ? 4 : 10));
    if (op <= 3) { // insert by index, sometimes out of range, with a given or a new id
        const int32_t k = m.count(parent, type);
        int32_t index = hotspot ? 1 : int32_t(pick(size_t(k) + 3));
        QTAtomID id = pick(4) == 0 ? QTAtomID(1 + pick(40)) : 0;
        OSErr want = noErr;
        if (id != 0 && m.taken(parent, type, id))
            want = duplicateAtomTypeAndIDErr;
        else if (index > k + 1)
            want = atomIndexInvalidErr;
        QTAtom atom = 0;
        ASSERT_EQ(QTInsertChild(c, parent, type, id, index, 0, nullptr, &atom), want);
        if (want) return;
        if (id == 0) id = m.nextId(parent, type);
        m.noteId(parent, type, id);
        std::ptrdiff_t pos =
            index == 0 || index == k + 1 ? std::ptrdiff_t(list.size()) : m.positionOf(parent, type, index);
        list.insert(list.begin() + pos, Child{atom, type, id});
        m.kids[atom];
    } else if (op <= 5) { // insert before a sibling of any type, or at the end
        QTAtom before = list.empty() || pick(5) == 0 ? 0 : list[pick(list.size())].ref;
        QTAtom atom = 0;
        ASSERT_EQ(QTInsertChildBeforeAtom(c, parent, type, 0, before, 3, "abc", &atom), noErr);
        QTAtomID id = m.nextId(parent, type);
        m.noteId(parent, type, id);
        auto it = std::find_if(list.begin(), list.end(), [&](const Child& x) { return x.ref == before; });
        list.insert(it, Child{atom, type, id});
        m.kids[atom];
    } else if (op <= 7) { // remove a child with its subtree
        if (list.empty()) return;
        size_t i = pick(list.size());
        QTAtom atom = list[i].ref;
        ASSERT_EQ(QTRemoveAtom(c, atom), noErr);
        list.erase(list.begin() + std::ptrdiff_t(i));
        m.removed.push_back(atom);
        m.forget(atom);
        parents.erase(
            std::remove_if(parents.begin(), parents.end(), [&](QTAtom x) { return !m.kids.count(x); }),
            parents.end());
    } else if (op == 8) { // a new id
        if (list.empty()) return;
        Child& ch = list[pick(list.size())];
        QTAtomID id = QTAtomID(1 + pick(60));
        OSErr want = id != ch.id && m.taken(parent, ch.type, id) ? duplicateAtomTypeAndIDErr : noErr;
        ASSERT_EQ(QTSetAtomID(c, ch.ref, id), want);
        if (!want) {
            ch.id = id;
            m.noteId(parent, ch.type, id);
        }
    } else { // the child becomes a parent of its own
        if (list.empty() || parents.size() > 12) return;
        QTAtom atom = list[pick(list.size())].ref;
        int32_t size = 0;
        QTGetAtomDataSize(c, atom, &size);
        if (size == 0 && std::find(parents.begin(), parents.end(), atom) == parents.end())
            parents.push_back(atom);
    }
}

TEST(AtomIndexes, MixedEditsKeepEveryIndexRight) {
    for (unsigned seed : {1u, 2u, 3u, 77u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        QTAtomContainer c = nullptr;
        ASSERT_EQ(QTNewAtomContainer(&c), noErr);
        Model m;
        m.kids[0];
        std::vector<QTAtom> parents{0};
        for (int step = 0; step < 3000; ++step) {
            // Bursts at the front of one list wear out the room between order labels.
            const int hotspot = (step / 200) % 3 == 2;
            randomEdit(rng, c, m, parents, hotspot);
            if (::testing::Test::HasFatalFailure()) break;
            if (step % 97 == 0) expectSame(c, m, "step " + std::to_string(step));
            if (step % 500 == 499) {
                // A whole copy answers the same, references included, and takes edits apart.
                QTAtomContainer copy = nullptr;
                ASSERT_EQ(QTCopyAtom(c, 0, &copy), noErr);
                expectSame(copy, m, "copy");
                ASSERT_EQ(QTInsertChild(copy, 0, kTypes[0], 0, 1, 0, nullptr, nullptr), noErr);
                QTDisposeAtomContainer(copy);
                expectSame(c, m, "after copy");
            }
        }
        expectSame(c, m, "end");
        // Flattening keeps the order and ids; the unflattened container answers the same layout.
        Handle flat = nullptr;
        ASSERT_EQ(QTFlattenAtomContainer(c, &flat), noErr);
        QTAtomContainer back = nullptr;
        ASSERT_EQ(QTUnflattenAtomContainer(*flat, size_t(GetHandleSize(flat)), &back), noErr);
        Handle again = nullptr;
        ASSERT_EQ(QTFlattenAtomContainer(back, &again), noErr);
        ASSERT_EQ(GetHandleSize(flat), GetHandleSize(again));
        EXPECT_EQ(std::memcmp(*flat, *again, size_t(GetHandleSize(flat))), 0);
        DisposeHandle(flat);
        DisposeHandle(again);
        QTDisposeAtomContainer(back);
        QTDisposeAtomContainer(c);
    }
}

// A hundred thousand children of two types, made in the orders real data sets are made (appended,
// inserted before a later sibling, inserted by index at the front) and edited: every look-up
// still lands on the right atom.
TEST(AtomIndexes, AHundredThousandChildren) {
    QTAtomContainer c = nullptr;
    ASSERT_EQ(QTNewAtomContainer(&c), noErr);
    const QTAtomType E = kTypes[0], S = kTypes[1];
    const int n = 100000;
    std::vector<QTAtom> byId(n + 1);
    QTAtom tail = 0;
    ASSERT_EQ(QTInsertChild(c, 0, S, 1, 0, 0, nullptr, &tail), noErr);
    for (int i = 1; i <= n; ++i) { // elements before the one trailing sequence, like pixel data
        uint32_t v = uint32_t(i);
        ASSERT_EQ(QTInsertChildBeforeAtom(c, 0, E, i, tail, 4, &v, &byId[size_t(i)]), noErr);
    }
    QTAtom front = 0, beforeTail = 0, firstBeforeTail = 0;
    for (int i = 0; i < 500; ++i) { // repeated insertion at the very front, and before the tail
        ASSERT_EQ(
            QTInsertChildBeforeAtom(c, 0, S, 0, QTFindChildByIndex(c, 0, 0, 1, nullptr), 0, nullptr, &front),
            noErr);
        ASSERT_EQ(QTInsertChild(c, 0, S, 0, QTCountChildrenOfType(c, 0, S), 0, nullptr, &beforeTail), noErr);
        if (i == 0) firstBeforeTail = beforeTail;
    }
    EXPECT_EQ(QTCountChildrenOfType(c, 0, E), n);
    EXPECT_EQ(QTCountChildrenOfType(c, 0, S), 1001);
    for (int i = 1; i <= n; i += 997) {
        int32_t index = 0;
        EXPECT_EQ(QTFindChildByID(c, 0, E, i, &index), byId[size_t(i)]);
        EXPECT_EQ(index, i);
        EXPECT_EQ(QTFindChildByIndex(c, 0, E, i, nullptr), byId[size_t(i)]);
        EXPECT_EQ(QTFindChildByIndex(c, 0, 0, 500 + i, nullptr), byId[size_t(i)]);
    }
    EXPECT_EQ(QTFindChildByIndex(c, 0, S, 1, nullptr), front);
    EXPECT_EQ(QTFindChildByIndex(c, 0, S, 1000, nullptr), beforeTail);
    EXPECT_EQ(QTFindChildByIndex(c, 0, 0, 500 + n + 1, nullptr), firstBeforeTail);
    EXPECT_EQ(QTFindChildByIndex(c, 0, S, 1001, nullptr), tail);
    QTAtom next = 0;
    ASSERT_EQ(QTNextChildAnyType(c, 0, byId[size_t(n)], &next), noErr);
    EXPECT_EQ(next, firstBeforeTail);
    // Remove every other element: positions close up, ids stay found.
    for (int i = 2; i <= n; i += 2)
        ASSERT_EQ(QTRemoveAtom(c, byId[size_t(i)]), noErr);
    EXPECT_EQ(QTCountChildrenOfType(c, 0, E), n / 2);
    for (int i = 1; i <= n; i += 1001) {
        EXPECT_EQ(QTFindChildByID(c, 0, E, i, nullptr), i % 2 ? byId[size_t(i)] : 0);
        if (i % 2) {
            EXPECT_EQ(QTFindChildByIndex(c, 0, E, (i + 1) / 2, nullptr), byId[size_t(i)]);
            EXPECT_EQ(QTFindChildByIndex(c, 0, 0, 500 + (i + 1) / 2, nullptr), byId[size_t(i)]);
            int32_t data = 0, size = 0;
            ASSERT_EQ(QTCopyAtomDataToPtr(c, byId[size_t(i)], false, 4, &data, &size), noErr);
            EXPECT_EQ(data, i);
        }
    }
    // A fresh id is above every id given, removed ones included.
    QTAtom fresh = 0;
    ASSERT_EQ(QTInsertChild(c, 0, E, 0, 0, 0, nullptr, &fresh), noErr);
    QTAtomType t = 0;
    QTAtomID id = 0;
    QTGetAtomTypeAndID(c, fresh, &t, &id);
    EXPECT_EQ(id, n + 1);
    QTDisposeAtomContainer(c);
}

} // namespace
