#include "KelvoAtomicsLists.h"

#include <gtest/gtest.h>

namespace {

// A toolkit object that counts the live instances, to catch leaks and double deletions.
class Tracked : public Kelvo_QTObj {
  public:
    static int live;
    explicit Tracked(int v) : value(v) { ++live; }
    Tracked(const Tracked& o) : Kelvo_QTObj(o), value(o.value) { ++live; }
    ~Tracked() override { --live; }
    const char* qtObjName() const override { return "Tracked"; }
    Kelvo_QTObj* clone() override { return new Tracked(*this); }
    int value;
};
int Tracked::live = 0;

int valueAt(Kelvo_List& list, int key) {
    auto* t = static_cast<Tracked*>(list.getObjValueByRef(key));
    return t ? t->value : -1;
}

class Lists : public ::testing::Test {
  protected:
    void TearDown() override { EXPECT_EQ(Tracked::live, 0); }
};

TEST_F(Lists, AddByCloneAndByReference) {
    Kelvo_QTObjectsList list;
    Tracked x(1);
    list.addObjValue(&x);
    EXPECT_NE(list.getObjValueByRef(0), &x);
    EXPECT_TRUE(list.getObjValueByRef(0)->isA("Tracked"));
    EXPECT_TRUE(x.isSameType(*list.getObjValueByRef(0)));
    auto* y = new Tracked(2);
    list.addObjValueByRef(y);
    EXPECT_EQ(list.getObjValueByRef(1), y);
    EXPECT_EQ(list.count(), 2);
    list.addObjValue(nullptr);
    EXPECT_EQ(list.Error(), 9);
    EXPECT_EQ(list.count(), 2);
    // A clone handed out is the caller's.
    Kelvo_QTObj* c = list[1];
    EXPECT_NE(c, y);
    delete c;
}

TEST_F(Lists, ReplaceRemoveClear) {
    Kelvo_QTObjectsList list;
    list.addObjValueByRef(new Tracked(1));
    list.addObjValueByRef(new Tracked(2));
    list.addObjValueByRef(new Tracked(3));
    list.setObjValue(0, new Tracked(10)); // deletes 1
    EXPECT_EQ(valueAt(list, 0), 10);
    EXPECT_EQ(Tracked::live, 3);
    // Handing the list the object it already holds keeps it alive.
    list.setObjValue(0, list.getObjValueByRef(0));
    EXPECT_EQ(valueAt(list, 0), 10);
    // A bad key leaves the object with the caller.
    Tracked stray(7);
    list.setObjValue(5, &stray);
    EXPECT_EQ(list.Error(), 320);
    list.RemoveKey(1); // deletes 2
    EXPECT_EQ(list.count(), 2);
    EXPECT_EQ(valueAt(list, 1), 3);
    EXPECT_EQ(list.FindItem(-1, 0), 0);
    EXPECT_EQ(list.Error(), 320);
    EXPECT_EQ(list.FindItem(list.count(), 0), 0);
    EXPECT_EQ(list.Error(), 320);
    list.clear();
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(Tracked::live, 1); // only `stray`
}

TEST_F(Lists, PlainListClearDoesNothing) {
    Kelvo_List list;
    list.NewItem(new Tracked(1), 0);
    list.NewItem(new Tracked(2), 1); // before the first
    EXPECT_EQ(valueAt(list, 0), 2);
    list.clear();
    list.RemoveKey(0);
    EXPECT_EQ(list.count(), 2);
}

TEST_F(Lists, CopiesOwnTheirObjects) {
    Kelvo_QTObjectsList a;
    a.addObjValueByRef(new Tracked(1));
    a.addObjValueByRef(new Tracked(2));
    {
        Kelvo_QTObjectsList b(a);
        EXPECT_EQ(b.count(), 2);
        EXPECT_NE(b.getObjValueByRef(0), a.getObjValueByRef(0));
        Kelvo_QTObjectsList c;
        c.addObjValueByRef(new Tracked(9));
        c = a; // copy deletes c's own object
        EXPECT_EQ(valueAt(c, 1), 2);
        Kelvo_QTObj* d = a.clone();
        EXPECT_STREQ(d->qtObjName(), "Kelvo_QTObjectsList");
        EXPECT_EQ(static_cast<Kelvo_List*>(d)->count(), 2);
        delete d;
        Kelvo_List plain(a);
        Kelvo_QTObj* e = plain.clone();
        EXPECT_STREQ(e->qtObjName(), "Kelvo_List");
        delete e;
    }
    EXPECT_EQ(Tracked::live, 2);
    // Adopting another list's container of addresses is refused: two owners would delete twice.
    Kelvo_QTObjectsList thief;
    thief.initWithContainer(a.container());
    EXPECT_EQ(thief.Error(), -50);
    EXPECT_EQ(thief.count(), 0);
    Kelvo_Dictionary dict;
    dict.Copy(a); // a dictionary holds no objects: copying the addresses deletes nothing
    thief.Copy(dict.container());
    EXPECT_EQ(thief.count(), 0);
}

TEST_F(Lists, SumsAndAppends) {
    Kelvo_QTObjectsList a, b;
    a.addObjValueByRef(new Tracked(1));
    b.addObjValueByRef(new Tracked(2));
    b.addObjValueByRef(new Tracked(3));
    Kelvo_QTObjectsList* sum = a + b;
    ASSERT_NE(sum, nullptr);
    EXPECT_EQ(sum->count(), 3);
    EXPECT_EQ(valueAt(*sum, 2), 3);
    delete sum;
    EXPECT_EQ(a.count(), 1);
    EXPECT_EQ(b.count(), 2);
    a += a; // appending itself doubles once
    EXPECT_EQ(a.count(), 2);
    Kelvo_QTObjectsList dead;
    dead.reset();
    a += dead;
    EXPECT_EQ(a.Error(), -50);
    Tracked t(4);
    a += &t;
    EXPECT_EQ(a.count(), 3);
    EXPECT_FALSE(dead.qtObjIsValid());
    EXPECT_EQ(dead.clone(), nullptr);
}

} // namespace
