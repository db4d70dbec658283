#include "PlatformAtoms.h"
#include "PlatformEndian.h"
#include "PlatformErrors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr QTAtomType A = FOUR_CHAR_CODE("aaaa");
constexpr QTAtomType B = FOUR_CHAR_CODE("bbbb");

struct Container {
    QTAtomContainer c = nullptr;
    Container() { EXPECT_EQ(QTNewAtomContainer(&c), noErr); }
    explicit Container(QTAtomContainer adopt) : c(adopt) {}
    ~Container() {
        if (c) QTDisposeAtomContainer(c);
    }
    Container(const Container&) = delete;
    Container& operator=(const Container&) = delete;
};

QTAtom insert(QTAtomContainer c, QTAtom parent, QTAtomType type, QTAtomID id, int32_t index = 0,
              const std::string& data = {}) {
    QTAtom atom = 0;
    OSErr err = QTInsertChild(c, parent, type, id, index, int32_t(data.size()), data.data(), &atom);
    EXPECT_EQ(err, noErr);
    return atom;
}

// The children of `parent` as "type:id" words, in order.
std::string layout(QTAtomContainer c, QTAtom parent) {
    std::string out;
    QTAtom child = 0;
    while (QTNextChildAnyType(c, parent, child, &child) == noErr && child != 0) {
        QTAtomType t;
        QTAtomID id;
        QTGetAtomTypeAndID(c, child, &t, &id);
        if (!out.empty()) out += ' ';
        out += char(t >> 24);
        out += ':' + std::to_string(id);
    }
    return out;
}

std::string dataOf(QTAtomContainer c, QTAtom atom) {
    int32_t size = 0;
    Ptr p = nullptr;
    if (QTGetAtomDataPtr(c, atom, &size, &p) != noErr) return "<err>";
    return std::string(p, size_t(size));
}

TEST(Atoms, InsertionOrderAndIndexes) {
    // Each row inserts (type, id, index) into a container that already holds a:1 a:2 b:1, and
    // expects the resulting order or a refusal.
    struct Case {
        QTAtomType type;
        QTAtomID id;
        int32_t index;
        OSErr err;
        const char* expect;
    };
    const Case cases[] = {
        {A, 9, 0, noErr, "a:1 a:2 b:1 a:9"}, // 0 appends after the last child of any type
        {A, 9, 3, noErr, "a:1 a:2 b:1 a:9"}, // k+1 appends too
        {A, 9, 1, noErr, "a:9 a:1 a:2 b:1"}, // before the first of its type
        {A, 9, 2, noErr, "a:1 a:9 a:2 b:1"}, // before the second of its type
        {B, 9, 1, noErr, "a:1 a:2 b:9 b:1"}, // per-type index ignores other types
        {B, 9, 2, noErr, "a:1 a:2 b:1 b:9"}, // k+1 for b
        {A, 0, 0, noErr, "a:1 a:2 b:1 a:3"}, // automatic id is unused
        {B, 0, 1, noErr, "a:1 a:2 b:2 b:1"}, // automatic id for another type
        {A, 2, 0, duplicateAtomTypeAndIDErr, "a:1 a:2 b:1"},
        {A, 9, 4, atomIndexInvalidErr, "a:1 a:2 b:1"},
        {A, 9, -1, atomIndexInvalidErr, "a:1 a:2 b:1"},
        {A, -3, 0, paramErr, "a:1 a:2 b:1"},
        {0, 5, 0, paramErr, "a:1 a:2 b:1"},
    };
    for (const Case& k : cases) {
        Container c;
        insert(c.c, 0, A, 1);
        insert(c.c, 0, A, 2);
        insert(c.c, 0, B, 1);
        QTAtom atom = -1;
        EXPECT_EQ(QTInsertChild(c.c, 0, k.type, k.id, k.index, 0, nullptr, &atom), k.err);
        EXPECT_EQ(GetMoviesError(), k.err);
        EXPECT_EQ(layout(c.c, 0), k.expect) << "type " << k.type << " id " << k.id << " index " << k.index;
        if (k.err != noErr) {
            EXPECT_EQ(atom, 0);
        }
    }
}

TEST(Atoms, InsertBeforeAtomMixesTypes) {
    Container c;
    QTAtom a1 = insert(c.c, 0, A, 1);
    QTAtom b5 = insert(c.c, 0, B, 5);
    QTAtom x = 0;
    ASSERT_EQ(QTInsertChildBeforeAtom(c.c, 0, B, 3, b5, 0, nullptr, &x), noErr);
    ASSERT_EQ(QTInsertChildBeforeAtom(c.c, 0, A, 2, x, 0, nullptr, &x), noErr);
    ASSERT_EQ(QTInsertChildBeforeAtom(c.c, 0, A, 7, 0, 0, nullptr, &x), noErr);
    EXPECT_EQ(layout(c.c, 0), "a:1 a:2 b:3 b:5 a:7");
    // A sibling under another parent is not a place to insert before.
    QTAtom inner = insert(c.c, a1, A, 1);
    EXPECT_EQ(QTInsertChildBeforeAtom(c.c, 0, A, 8, inner, 0, nullptr, &x), invalidAtomErr);
    EXPECT_EQ(QTInsertChildBeforeAtom(c.c, 0, A, 2, b5, 0, nullptr, &x), duplicateAtomTypeAndIDErr);
}

TEST(Atoms, FindCountAndTypes) {
    Container c;
    QTAtom a1 = insert(c.c, 0, A, 10);
    insert(c.c, 0, B, 4);
    QTAtom a2 = insert(c.c, 0, A, 20);
    EXPECT_EQ(QTCountChildren(c.c, 0), 3);
    EXPECT_EQ(QTCountChildrenOfType(c.c, 0, A), 2);
    EXPECT_EQ(QTCountChildrenOfType(c.c, 0, FOUR_CHAR_CODE("zzzz")), 0);
    QTAtomID id = 0;
    EXPECT_EQ(QTFindChildByIndex(c.c, 0, A, 2, &id), a2);
    EXPECT_EQ(id, 20);
    EXPECT_EQ(QTFindChildByIndex(c.c, 0, A, 3, &id), 0);
    EXPECT_EQ(GetMoviesError(), cannotFindAtomErr);
    EXPECT_EQ(QTFindChildByIndex(c.c, 0, A, 0, &id), 0);
    int32_t index = 0;
    EXPECT_EQ(QTFindChildByID(c.c, 0, A, 10, &index), a1);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(QTFindChildByID(c.c, 0, A, 4, &index), 0);
    QTAtomType t = 0;
    ASSERT_EQ(QTGetNextChildType(c.c, 0, 0, &t), noErr);
    EXPECT_EQ(t, A);
    QTGetNextChildType(c.c, 0, t, &t);
    EXPECT_EQ(t, B);
    QTGetNextChildType(c.c, 0, t, &t);
    EXPECT_EQ(t, 0u);
    EXPECT_EQ(QTGetAtomParent(c.c, a1), 0);
}

TEST(Atoms, ReferencesSurviveEditsAndAreNeverReused) {
    Container c;
    QTAtom a1 = insert(c.c, 0, A, 1, 0, "one");
    QTAtom a2 = insert(c.c, 0, A, 2, 0, "two");
    QTAtom parent = insert(c.c, 0, B, 1);
    QTAtom leaf = insert(c.c, parent, A, 1, 0, "leaf");
    // Edits elsewhere: insert before, remove a sibling, grow data.
    insert(c.c, 0, A, 5, 1);
    ASSERT_EQ(QTRemoveAtom(c.c, a1), noErr);
    ASSERT_EQ(QTSetAtomData(c.c, a2, 6, "twotwo"), noErr);
    EXPECT_EQ(dataOf(c.c, leaf), "leaf");
    EXPECT_EQ(dataOf(c.c, a2), "twotwo");
    EXPECT_EQ(QTGetAtomParent(c.c, leaf), parent);
    // A removed reference is refused everywhere, and a new atom never takes it.
    EXPECT_EQ(QTSetAtomData(c.c, a1, 1, "x"), invalidAtomErr);
    EXPECT_EQ(QTRemoveAtom(c.c, a1), invalidAtomErr);
    QTAtom fresh = insert(c.c, 0, A, 1);
    EXPECT_NE(fresh, a1);
    // Removing a parent removes its subtree.
    ASSERT_EQ(QTRemoveAtom(c.c, parent), noErr);
    EXPECT_FALSE(QTAtomIsValid(c.c, leaf));
    EXPECT_EQ(layout(c.c, 0), "a:5 a:2 a:1");
}

TEST(Atoms, LeavesHoldDataParentsHoldChildren) {
    Container c;
    QTAtom parent = insert(c.c, 0, A, 1);
    insert(c.c, parent, B, 1);
    EXPECT_EQ(QTSetAtomData(c.c, parent, 3, "abc"), notLeafAtomErr);
    QTAtom leaf = insert(c.c, 0, B, 2, 0, "data");
    QTAtom x = 0;
    EXPECT_EQ(QTInsertChild(c.c, leaf, A, 1, 0, 0, nullptr, &x), notLeafAtomErr);
    EXPECT_EQ(dataOf(c.c, leaf), "data");
    int32_t size = -1;
    EXPECT_EQ(QTGetAtomDataPtr(c.c, parent, &size, nullptr), notLeafAtomErr);
    // Copies to a caller's buffer honour the size-or-less flag.
    char buf[2];
    int32_t got = 0;
    EXPECT_EQ(QTCopyAtomDataToPtr(c.c, leaf, false, 2, buf, &got), paramErr);
    EXPECT_EQ(QTCopyAtomDataToPtr(c.c, leaf, true, 2, buf, &got), noErr);
    EXPECT_EQ(got, 2);
    EXPECT_EQ(std::string(buf, 2), "da");
    Handle h = NewHandle(0);
    EXPECT_EQ(QTCopyAtomDataToHandle(c.c, leaf, h), noErr);
    EXPECT_EQ(std::string(*h, size_t(GetHandleSize(h))), "data");
    DisposeHandle(h);
}

TEST(Atoms, SetIDKeepsPairsUnique) {
    Container c;
    QTAtom a1 = insert(c.c, 0, A, 1);
    insert(c.c, 0, A, 2);
    insert(c.c, 0, B, 3);
    EXPECT_EQ(QTSetAtomID(c.c, a1, 2), duplicateAtomTypeAndIDErr);
    EXPECT_EQ(QTSetAtomID(c.c, a1, 3), noErr);
    EXPECT_EQ(QTSetAtomID(c.c, a1, 0), paramErr);
    EXPECT_EQ(layout(c.c, 0), "a:3 a:2 b:3");
}

TEST(Atoms, CopiesAndReplacement) {
    Container c;
    QTAtom p = insert(c.c, 0, A, 1);
    QTAtom leaf = insert(c.c, p, B, 7, 0, "xyz");
    // A whole copy keeps every reference; editing it leaves the source alone.
    QTAtomContainer copy = nullptr;
    ASSERT_EQ(QTCopyAtom(c.c, 0, &copy), noErr);
    Container whole(copy);
    EXPECT_EQ(dataOf(whole.c, leaf), "xyz");
    QTSetAtomData(whole.c, leaf, 1, "q");
    EXPECT_EQ(dataOf(c.c, leaf), "xyz");
    // A subtree copy puts the atom under the new root.
    ASSERT_EQ(QTCopyAtom(c.c, p, &copy), noErr);
    Container sub(copy);
    EXPECT_EQ(layout(sub.c, 0), "a:1");
    QTAtom subP = QTFindChildByIndex(sub.c, 0, A, 1, nullptr);
    EXPECT_EQ(dataOf(sub.c, QTFindChildByID(sub.c, subP, B, 7, nullptr)), "xyz");
    // Replace: the target keeps its reference, type and id and takes the other's children.
    Container other;
    insert(other.c, 0, B, 1, 0, "r1");
    insert(other.c, 0, B, 2, 0, "r2");
    ASSERT_EQ(QTReplaceAtom(c.c, p, other.c, 0), noErr);
    EXPECT_EQ(layout(c.c, p), "b:1 b:2");
    EXPECT_FALSE(QTAtomIsValid(c.c, leaf));
    EXPECT_EQ(layout(c.c, 0), "a:1");
    // Replacing an atom with a part of itself works from a copy.
    QTAtom r1 = QTFindChildByID(c.c, p, B, 1, nullptr);
    ASSERT_EQ(QTReplaceAtom(c.c, p, c.c, r1), noErr);
    EXPECT_EQ(dataOf(c.c, p), "r1");
    // Inserting children of a container refuses duplicates without partial effects.
    Container dup;
    insert(dup.c, 0, B, 9);
    insert(dup.c, 0, A, 1);
    EXPECT_EQ(QTInsertChildren(c.c, 0, dup.c), duplicateAtomTypeAndIDErr);
    EXPECT_EQ(layout(c.c, 0), "a:1");
}

std::vector<uint8_t> flatten(QTAtomContainer c) {
    Handle h = nullptr;
    EXPECT_EQ(QTFlattenAtomContainer(c, &h), noErr);
    std::vector<uint8_t> out(reinterpret_cast<uint8_t*>(*h),
                             reinterpret_cast<uint8_t*>(*h) + GetHandleSize(h));
    DisposeHandle(h);
    return out;
}

TEST(Atoms, FlatLayoutIsPinned) {
    Container c;
    QTAtom w = insert(c.c, 0, FOUR_CHAR_CODE("wxyz"), 3);
    insert(c.c, w, FOUR_CHAR_CODE("abcd"), 1, 0, "hi");
    const std::vector<uint8_t> expected = {
        0, 0, 0, 0,  0,   0,   0,   0,   0, 0, 0, 0,                         // container header
        0, 0, 0, 62, 's', 'e', 'a', 'n', 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, // root, 1 child
        0, 0, 0, 42, 'w', 'x', 'y', 'z', 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 0, // parent, 1 child
        0, 0, 0, 22, 'a', 'b', 'c', 'd', 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 'h', 'i'};
    EXPECT_EQ(flatten(c.c), expected);
    int32_t size = 0;
    QTGetFlattenedSize(c.c, &size);
    EXPECT_EQ(size, int32_t(expected.size()));
}

TEST(Atoms, FlattenRoundTrip) {
    Container c;
    for (int i = 1; i <= 5; ++i) {
        QTAtom g = insert(c.c, 0, A, i * 7);
        for (int j = 1; j <= i; ++j)
            insert(c.c, g, B, j, 0, std::string(size_t(j * 3), char('a' + j)));
        insert(c.c, g, A, 1);
    }
    insert(c.c, 0, B, 1, 0, "");
    std::vector<uint8_t> flat = flatten(c.c);
    QTAtomContainer back = nullptr;
    ASSERT_EQ(QTUnflattenAtomContainer(flat.data(), flat.size(), &back), noErr);
    Container b(back);
    EXPECT_EQ(flatten(b.c), flat);
    EXPECT_EQ(layout(b.c, 0), layout(c.c, 0));
}

TEST(Atoms, UnflattenRefusesBadInput) {
    Container c;
    QTAtom w = insert(c.c, 0, A, 1);
    insert(c.c, w, B, 1, 0, "data");
    insert(c.c, w, B, 2, 0, "more");
    const std::vector<uint8_t> good = flatten(c.c);
    auto refused = [](std::vector<uint8_t> bytes) {
        QTAtomContainer out = reinterpret_cast<QTAtomContainer>(1);
        OSErr err = QTUnflattenAtomContainer(bytes.data(), bytes.size(), &out);
        bool ok = err == invalidAtomContainerErr && out == nullptr;
        if (out && out != reinterpret_cast<QTAtomContainer>(1)) QTDisposeAtomContainer(out);
        return ok;
    };
    // Every truncation is refused.
    for (size_t n = 0; n < good.size(); ++n)
        EXPECT_TRUE(refused(std::vector<uint8_t>(good.begin(), good.begin() + std::ptrdiff_t(n)))) << n;
    // Trailing bytes, a lying atom size, a lying child count, a duplicate pair, a zero type.
    auto extra = good;
    extra.push_back(0);
    EXPECT_TRUE(refused(extra));
    auto big = good;
    platform::storeBE32(&big[32], 0x7FFFFFF0);
    EXPECT_TRUE(refused(big));
    auto kids = good;
    platform::storeBE16(&kids[32 + 14], 3);
    EXPECT_TRUE(refused(kids));
    auto dup = good;
    platform::storeBE32(&dup[52 + 24 + 8], 1); // second leaf's id becomes 1 like the first
    EXPECT_TRUE(refused(dup));
    auto zero = good;
    platform::storeBE32(&zero[52 + 4], 0);
    EXPECT_TRUE(refused(zero));
    auto header = good;
    header[3] = 1;
    EXPECT_TRUE(refused(header));
    QTAtomContainer out = nullptr;
    EXPECT_EQ(QTUnflattenAtomContainer(nullptr, 40, &out), paramErr);
}

TEST(Atoms, UnflattenCapsNestingDepth) {
    auto nested = [](int depth) {
        // A chain of `depth` atoms below the root, each the only child of the one above.
        std::vector<uint8_t> bytes(12 + 20 * size_t(depth + 1), 0);
        for (int level = 0; level <= depth; ++level) {
            uint8_t* h = &bytes[12 + 20 * size_t(level)];
            platform::storeBE32(h, uint32_t(20 * (depth + 1 - level)));
            platform::storeBE32(h + 4, level == 0 ? kQTAtomRootType : A);
            platform::storeBE32(h + 8, 1);
            platform::storeBE16(h + 14, level == depth ? 0 : 1);
        }
        return bytes;
    };
    QTAtomContainer out = nullptr;
    auto ok = nested(kQTAtomMaxDepth);
    ASSERT_EQ(QTUnflattenAtomContainer(ok.data(), ok.size(), &out), noErr);
    QTDisposeAtomContainer(out);
    auto deep = nested(kQTAtomMaxDepth + 1);
    EXPECT_EQ(QTUnflattenAtomContainer(deep.data(), deep.size(), &out), invalidAtomContainerErr);
    auto deeper = nested(100000);
    EXPECT_EQ(QTUnflattenAtomContainer(deeper.data(), deeper.size(), &out), invalidAtomContainerErr);
}

TEST(Atoms, NullContainerAndBadReferences) {
    QTAtom x = 0;
    EXPECT_EQ(QTInsertChild(nullptr, 0, A, 1, 0, 0, nullptr, &x), invalidAtomContainerErr);
    EXPECT_EQ(QTCountChildren(nullptr, 0), 0);
    Container c;
    EXPECT_EQ(QTInsertChild(c.c, 99, A, 1, 0, 0, nullptr, &x), invalidAtomErr);
    EXPECT_EQ(QTInsertChild(c.c, -4, A, 1, 0, 0, nullptr, &x), invalidAtomErr);
    EXPECT_EQ(QTRemoveAtom(c.c, 0), invalidAtomErr);
    EXPECT_EQ(QTGetAtomParent(c.c, 42), -1);
}

} // namespace
