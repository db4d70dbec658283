#include "KelvoAtomicsLists.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <set>
#include <string>

namespace {

// An object whose validity and status a test sets.
class Probe : public Kelvo_QTObj {
  public:
    Probe(bool valid, int32_t status) : _valid(valid) { _status = status; }
    bool qtObjIsValid() override { return _valid; }
    using Kelvo_QTObj::qtObjIsValid;

  private:
    bool _valid;
};

TEST(CoreObject, IdentifiersAreTimeAndTwoRandomNumbers) {
    std::set<std::string> seen;
    const std::regex form(R"(\d+\.\d+\.\d+)");
    for (int i = 0; i < 200; ++i) {
        Kelvo_QTObj o;
        std::string uid = o.objUID();
        EXPECT_TRUE(std::regex_match(uid, form)) << uid;
        EXPECT_LT(uid.size(), 36u);
        seen.insert(uid.substr(uid.find('.')));
    }
    EXPECT_EQ(seen.size(), 200u); // objects made within one second differ in their random parts
    Kelvo_QTObj a;
    Kelvo_QTObj b(a);
    EXPECT_STRNE(a.objUID(), b.objUID());
}

TEST(CoreObject, LeavesTheCLibraryGeneratorAlone) {
    srandom(1234);
    long first = random();
    srandom(1234);
    for (int i = 0; i < 10; ++i) {
        Kelvo_QTObj o;
        Kelvo_Dictionary d;
    }
    EXPECT_EQ(random(), first);
}

TEST(CoreObject, IsValidInstance) {
    int32_t err = 99;
    Kelvo_QTObj* none = nullptr;
    EXPECT_FALSE(Kelvo_QTObj::isValidInstance(none, err, true));
    EXPECT_EQ(err, -108);
    EXPECT_FALSE(Kelvo_QTObj::isValidInstance(static_cast<Kelvo_QTObj**>(nullptr), err, true));
    EXPECT_EQ(err, -108);

    Kelvo_QTObj* bad = new Probe(false, 80);
    EXPECT_FALSE(Kelvo_QTObj::isValidInstance(bad, err, false));
    EXPECT_EQ(err, 80);
    ASSERT_NE(bad, nullptr);
    EXPECT_FALSE(Kelvo_QTObj::isValidInstance(&bad, err, true));
    EXPECT_EQ(bad, nullptr); // deleted and nulled

    // An invalid object with status 0 passes.
    Probe* quiet = new Probe(false, 0);
    EXPECT_TRUE(Kelvo_QTObj::isValidInstance(quiet, err, true));
    EXPECT_EQ(err, 0);
    EXPECT_NE(quiet, nullptr);
    delete quiet;

    Kelvo_Dictionary* good = new Kelvo_Dictionary();
    EXPECT_TRUE(Kelvo_QTObj::isValidInstance(good, err, true));
    delete good;
}

TEST(CoreObject, NamesAndTypeTests) {
    Kelvo_QTObj root;
    Kelvo_Dictionary dict;
    Kelvo_List list;
    Kelvo_QTObjectsList objects;
    EXPECT_FALSE(root.isA(nullptr));
    EXPECT_TRUE(root.isA("Kelvo_QTObj"));
    EXPECT_TRUE(objects.isA("Kelvo_QTObj"));
    EXPECT_TRUE(objects.isA("Kelvo_AtomContainer"));
    EXPECT_TRUE(objects.isA("Kelvo_Dictionary"));
    EXPECT_TRUE(objects.isA("Kelvo_List"));
    EXPECT_TRUE(objects.isA("Kelvo_QTObjectsList"));
    EXPECT_FALSE(list.isA("Kelvo_QTObjectsList"));
    EXPECT_FALSE(dict.isA("Kelvo_List"));
    EXPECT_STREQ(objects.qtObjName(), "Kelvo_QTObjectsList");

    // A dictionary is not a list; a list is a dictionary.
    EXPECT_FALSE(list.isSameType(dict));
    EXPECT_EQ(list.Error(), 10);
    EXPECT_TRUE(dict.isSameType(list));
    EXPECT_EQ(dict.Error(), 0);

    EXPECT_EQ(root.clone(), nullptr);
    EXPECT_EQ(root.qtObjReference(), nullptr);
}

} // namespace
