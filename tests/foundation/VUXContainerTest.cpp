#include "VUXContainer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

using VUX::VUXArray;
using VUX::VUXContainer;
using VUX::VUXList;
using VUX::VUXObject;
using VUX::VUXRange;

// An object that counts the live instances of its class, to show who deletes what.
class Counted : public VUXObject {
  public:
    explicit Counted(int v = 0, bool valid = true) : value(v), _valid(valid) { ++live; }
    Counted(Counted const& o) : VUXObject(o), value(o.value), _valid(o._valid) { ++live; }
    ~Counted() override { --live; }
    const char* className() const override { return "Counted"; }
    bool isValid() const override { return _valid; }
    int value;
    static inline int live = 0;

  protected:
    VUXObject* _clone() const override { return new Counted(*this); }

  private:
    bool _valid;
};

int valueAt(VUXContainer<VUXObject*> const& c, int64_t i) {
    return static_cast<Counted*>(c.item(i))->value;
}

std::string describe(VUXObject const& o) {
    std::ostringstream out;
    o.readableDescription(out);
    std::string s = out.str();
    const size_t a = s.find(" uid=\"");
    const size_t b = s.find('"', a + 6);
    return s.erase(a, b + 1 - a);
}

template <typename C> void fill(C& c, std::initializer_list<int64_t> values) {
    for (int64_t v : values)
        c.append(v);
}

TEST(VUXList, CapacityGrowthAndLimits) {
    VUXList<int64_t> growing(0, true);
    for (int64_t i = 0; i < 5; ++i) {
        EXPECT_TRUE(growing.append(i * 10));
        EXPECT_EQ(growing.capacity(), growing.count());
    }
    EXPECT_TRUE(growing.isFilled());
    EXPECT_EQ(growing.item(4), 40);
    EXPECT_EQ(growing[2], 20);

    VUXList<int64_t> fixed(2, false);
    EXPECT_TRUE(fixed.append(1));
    EXPECT_TRUE(fixed.append(2));
    EXPECT_FALSE(fixed.append(3));
    EXPECT_EQ(fixed.count(), 2);
    EXPECT_FALSE(fixed.resize(5));
}

TEST(VUXContainers, OutOfRangeAccessThrows) {
    VUXList<int64_t> list;
    VUXArray<int64_t> array;
    fill(list, {1, 2});
    fill(array, {1, 2});
    for (VUXContainer<int64_t>* c :
         {static_cast<VUXContainer<int64_t>*>(&list), static_cast<VUXContainer<int64_t>*>(&array)}) {
        for (int64_t i : {int64_t(-1), int64_t(2)}) {
            try {
                c->item(i);
                ADD_FAILURE() << "no exception at " << i;
            } catch (std::out_of_range const& e) {
                EXPECT_STREQ(e.what(), "Out of Range Exception raised from a Container Object");
            }
            EXPECT_THROW(c->remove(i), std::out_of_range);
        }
        EXPECT_THROW(c->_insert(2, 9), std::out_of_range); // inserting at count: use append
    }
    VUXArray<VUXObject*> objects;
    try {
        objects.item(0);
    } catch (std::out_of_range const& e) {
        EXPECT_STREQ(e.what(), "Out of Range Exception raised from a Container of Objects Object");
    }
}

TEST(VUXContainers, InsertRemoveAndSearch) {
    VUXList<int64_t> list;
    VUXArray<int64_t> array;
    for (VUXContainer<int64_t>* c :
         {static_cast<VUXContainer<int64_t>*>(&list), static_cast<VUXContainer<int64_t>*>(&array)}) {
        c->append(7);
        EXPECT_EQ(c->item(0), 7);
        EXPECT_EQ(c->remove(0), 7);
        EXPECT_TRUE(c->isEmpty());
        fill(*c, {1, 2, 3});
        c->_insert(0, 0); // the new head
        c->_insert(2, 9);
        ASSERT_EQ(c->count(), 5);
        const int64_t expected[] = {0, 1, 9, 2, 3};
        for (int64_t i = 0; i < 5; ++i)
            EXPECT_EQ(c->item(i), expected[i]) << c->className() << " " << i;
        EXPECT_EQ(c->_indexOfItem(9), 2);
        EXPECT_EQ(c->_indexOfItem(42), -1);
        EXPECT_EQ(c->remove(2), 9);
        EXPECT_EQ(c->item(2), 2);
        EXPECT_EQ(c->item(c->count() - 1), 3);
    }
}

TEST(VUXContainers, RangesMoveAndCopy) {
    VUXList<int64_t> list;
    VUXArray<int64_t> array;
    for (VUXContainer<int64_t>* c :
         {static_cast<VUXContainer<int64_t>*>(&list), static_cast<VUXContainer<int64_t>*>(&array)}) {
        fill(*c, {10, 11, 12, 13, 14});
        std::unique_ptr<VUXContainer<int64_t>> copied(c->_copy(VUXRange<int64_t>(3, 4)));
        ASSERT_NE(copied, nullptr);
        EXPECT_EQ(copied->count(), 2);
        EXPECT_EQ(copied->item(0), 13);

        std::unique_ptr<VUXContainer<int64_t>> removed(c->_remove(VUXRange<int64_t>(1, 2)));
        ASSERT_NE(removed, nullptr);
        EXPECT_EQ(removed->count(), 2);
        EXPECT_FALSE(removed->isResizable());
        EXPECT_EQ(removed->item(0), 11);
        EXPECT_EQ(removed->item(1), 12);
        ASSERT_EQ(c->count(), 3);
        EXPECT_EQ(c->item(0), 10);
        EXPECT_EQ(c->item(1), 13);
        EXPECT_EQ(c->item(2), 14);
        c->append(15); // the links and slots still hold together after the cut
        EXPECT_EQ(c->item(3), 15);

        EXPECT_EQ(c->_remove(VUXRange<int64_t>(2, 9)), nullptr);
        EXPECT_EQ(c->error(), -107);
        EXPECT_EQ(c->_remove(VUXRange<int64_t>(2, 1)), nullptr);
        EXPECT_EQ(c->error(), -50);

        std::unique_ptr<VUXContainer<int64_t>> all(c->_remove(VUXRange<int64_t>(0, c->count() - 1)));
        EXPECT_EQ(all->count(), 4);
        EXPECT_TRUE(c->isEmpty());
    }

    VUXList<int64_t> five;
    fill(five, {1, 2, 3, 4, 5});
    EXPECT_FALSE(five._isSuitableSegment(VUXRange<int64_t>(2, 2)));
    EXPECT_EQ(five.error(), -50);
    EXPECT_FALSE(five._isSuitableSegment(VUXRange<int64_t>(3, 5)));
    EXPECT_EQ(five.error(), 80);
    EXPECT_TRUE(five._isSuitableSegment(VUXRange<int64_t>(0, 4)));
}

TEST(VUXContainers, CompareCopyAndForms) {
    VUXList<int64_t> a, b;
    EXPECT_TRUE(a == b);
    fill(a, {1, 2});
    fill(b, {1, 3});
    EXPECT_FALSE(a == b);
    VUXList<int64_t> c(a);
    EXPECT_TRUE(c == a);
    VUXArray<int64_t> arrayCopy;
    fill(arrayCopy, {5});
    VUXArray<int64_t> other(arrayCopy);
    EXPECT_TRUE(other == arrayCopy);
    EXPECT_TRUE(other.isValid());
    EXPECT_FALSE(VUXArray<int64_t>().isValid()); // no storage yet

    std::ostringstream empty;
    empty << VUXList<int64_t>();
    EXPECT_EQ(empty.str(), std::string(".VCN\x01\x00\0\0\0\0\0\0\0\0", 14));
    std::ostringstream two;
    two << a;
    EXPECT_EQ(two.str(), std::string(".VCN\x01\x00\x02\0\0\0\0\0\0\0"
                                     "\x01\0\0\0\0\0\0\0\x02\0\0\0\0\0\0\0",
                                     30));

    EXPECT_EQ(describe(VUXList<int64_t>(4, true)),
              "<Object\tclass=VUXList valid=\"YES\" Error=\"0\">\nCount=0;Capacity=4;\n</Object>\n");
    EXPECT_EQ(describe(a), "<Object\tclass=VUXList valid=\"YES\" Error=\"0\">\nCount=2;Capacity=2;\n"
                           "item[0]=1;\nitem[1]=2;\n</Object>\n");
    VUXList<VUXRange<int64_t>> ranges;
    ranges.append(VUXRange<int64_t>(0, 1));
    std::ostringstream rangeForm;
    rangeForm << ranges; // items that are objects write their own forms
    EXPECT_EQ(rangeForm.str(), std::string(".VCN\x01\x00\x01\0\0\0\0\0\0\0"
                                           "0 1",
                                           17));
    EXPECT_EQ(describe(ranges), "<Object\tclass=VUXList valid=\"YES\" Error=\"0\">\nCount=1;Capacity=1;\n"
                                "item[0]=0 1;\n</Object>\n");
    VUXList<char*> texts;
    texts.append(nullptr);
    EXPECT_EQ(describe(texts), "<Object\tclass=VUXList valid=\"YES\" Error=\"0\">\nCount=1;Capacity=1;\n"
                               "item[0]=NULL;\n</Object>\n");
}

TEST(VUXObjectArray, OwnsAndHandsOverItsObjects) {
    Counted::live = 0;
    {
        VUXArray<VUXObject*> array;
        for (int i = 0; i < 4; ++i) {
            VUXObject* o = new Counted(i);
            ASSERT_TRUE(array.append(o, true));
        }
        Counted prototype(9);
        EXPECT_TRUE(array.append(prototype)); // a clone goes in
        EXPECT_EQ(Counted::live, 6);

        // An invalid object is refused and, when asked, deleted.
        VUXObject* invalid = new Counted(-1, false);
        EXPECT_FALSE(array.append(invalid, true));
        EXPECT_EQ(invalid, nullptr);
        EXPECT_EQ(Counted::live, 6);

        // Growing keeps the very objects the caller may hold; shrinking deletes the rest.
        VUXObject* first = array.item(0);
        EXPECT_TRUE(array.resize(8));
        EXPECT_EQ(array.item(0), first);
        EXPECT_TRUE(array.resize(4));
        EXPECT_EQ(array.count(), 4);
        EXPECT_EQ(Counted::live, 5); // four held and the prototype

        // A copy holds clones: both arrays delete only their own objects.
        VUXArray<VUXObject*> copy(array);
        EXPECT_EQ(Counted::live, 9);
        EXPECT_NE(copy.item(0), array.item(0));
        EXPECT_EQ(valueAt(copy, 3), 3);
        copy = array;
        EXPECT_EQ(Counted::live, 9);

        // A range moves its objects into the new array.
        VUXObject* moved = array.item(1);
        std::unique_ptr<VUXContainer<VUXObject*>> removed(array._remove(VUXRange<int64_t>(1, 2)));
        ASSERT_NE(removed, nullptr);
        EXPECT_EQ(removed->item(0), moved);
        EXPECT_EQ(array.count(), 2);
        EXPECT_EQ(valueAt(array, 1), 3);
        EXPECT_EQ(Counted::live, 9);
        std::unique_ptr<VUXContainer<VUXObject*>> cloned(array._copy(VUXRange<int64_t>(0, 1)));
        EXPECT_EQ(Counted::live, 11);
        cloned.reset();
        removed.reset();
        EXPECT_EQ(Counted::live, 7);

        // remove(index) hands the object over.
        std::unique_ptr<VUXObject> taken(array.remove(0));
        EXPECT_EQ(static_cast<Counted*>(taken.get())->value, 0);
        EXPECT_EQ(array.count(), 1);

        VUXObject* inserted = new Counted(5);
        EXPECT_FALSE(array.insert(3, inserted, true)); // no item 3: refused and deleted
        EXPECT_EQ(inserted, nullptr);
        inserted = new Counted(6);
        EXPECT_TRUE(array.insert(0, inserted, true));
        EXPECT_EQ(valueAt(array, 0), 6);
        EXPECT_EQ(Counted::live, 8);
    }
    EXPECT_EQ(Counted::live, 0);

    {
        VUXList<VUXObject*> list;
        VUXObject* o = new Counted(1);
        list.append(o, true);
        VUXList<VUXObject*> copy(list);
        EXPECT_NE(copy.item(0), list.item(0));
        EXPECT_EQ(Counted::live, 2);
    }
    EXPECT_EQ(Counted::live, 0);

    VUXArray<VUXObject*> fixed(1, false);
    VUXObject* a = new Counted(1);
    VUXObject* b = new Counted(2);
    EXPECT_TRUE(fixed.append(a, true));
    EXPECT_FALSE(fixed.append(b, false)); // full: the caller keeps it
    ASSERT_NE(b, nullptr);
    delete b;
    fixed.append(static_cast<VUXObject*>(nullptr)); // refused too: full
    std::string text = describe(fixed);
    EXPECT_NE(text.find("Count=1;Capacity=1;\nitem[0]=<Object\tclass=Counted"), std::string::npos);
}

} // namespace
