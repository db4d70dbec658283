#include "VUXObject.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <sstream>
#include <string>

namespace {

using VUX::VUXObject;

// A subclass that can be made invalid and that counts the calls of its hooks.
class Probe : public VUXObject {
  public:
    explicit Probe(bool valid = true, int32_t err = 0) : _valid(valid) { _error = err; }
    ~Probe() override { ++destroyed; }
    const char* className() const override { return "Probe"; }
    bool isA(const char* name) const override {
        return VUXObject::isA(name) || (name && std::strcmp(name, "Probe") == 0);
    }
    bool isValid() const override { return _valid; }
    mutable int compares = 0;
    int copies = 0;
    static inline int destroyed = 0;

  protected:
    VUXObject* _clone() const override { return new Probe(*this); }
    bool _compare(VUXObject const&) const override {
        ++compares;
        return true;
    }
    void _copy(VUXObject const&) override { ++copies; }

  private:
    bool _valid;
};

TEST(VUXObject, IsValidInstance) {
    int32_t err = 99;
    VUXObject* none = nullptr;
    EXPECT_FALSE(VUXObject::isValidInstance(none, err, true));
    EXPECT_EQ(err, -107);

    VUXObject* good = new Probe(true, 5);
    EXPECT_TRUE(VUXObject::isValidInstance(good, err, true));
    EXPECT_EQ(err, 0);
    EXPECT_NE(good, nullptr);
    delete good;

    // An invalid object fails and is deleted even when its error is 0.
    const int before = Probe::destroyed;
    VUXObject* bad = new Probe(false, 0);
    EXPECT_FALSE(VUXObject::isValidInstance(bad, err, true));
    EXPECT_EQ(err, 0);
    EXPECT_EQ(bad, nullptr);
    EXPECT_EQ(Probe::destroyed, before + 1);

    Probe kept(false, 42);
    VUXObject* keptPtr = &kept;
    EXPECT_FALSE(VUXObject::isValidInstance(keptPtr, err, false));
    EXPECT_EQ(err, 42);
    EXPECT_EQ(keptPtr, &kept);
}

TEST(VUXObject, EqualityCopyAndClone) {
    Probe a, b;
    EXPECT_TRUE(a.equal(a));
    EXPECT_EQ(a.compares, 0); // the same object is equal without asking the hook
    EXPECT_TRUE(a == b);
    EXPECT_EQ(a.compares, 1);

    VUXObject root1, root2;
    EXPECT_FALSE(root1 == root2); // the root's hook says false
    EXPECT_TRUE(root1 != root2);
    EXPECT_FALSE(a.equal(root1)); // "VUXObject" is a name only the root itself accepts
    EXPECT_FALSE(root1.equal(a));

    a.copy(a);
    a.copy(root1);
    EXPECT_EQ(a.copies, 0);
    VUXObject& asRoot = a;
    asRoot = b; // the root's assignment goes through copy()
    EXPECT_EQ(a.copies, 1);

    EXPECT_EQ(root1.clone(), nullptr);
    VUXObject* c = a.clone();
    ASSERT_NE(c, nullptr);
    EXPECT_TRUE(c->isA("Probe"));
    delete c;
    EXPECT_EQ(Probe(false).clone(), nullptr);

    EXPECT_TRUE(root1.isA("VUXObject"));
    EXPECT_FALSE(root1.isA(nullptr));
    EXPECT_FALSE(a.isA("VUXObject"));
    EXPECT_TRUE(a.isA("Probe"));
}

TEST(VUXObject, IdentifierLabels) {
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        VUXObject o;
        const std::string id = o.uid();
        EXPECT_LE(id.size(), 31u);
        EXPECT_EQ(std::count(id.begin(), id.end(), '.'), 2);
        seen.insert(id);
    }
    // Objects made in quick succession get labels of their own.
    EXPECT_EQ(seen.size(), 2000u);
    VUXObject a;
    VUXObject b(a);
    EXPECT_STRNE(a.uid(), b.uid());
}

TEST(VUXObject, DescriptionAndStreams) {
    VUXObject o;
    std::ostringstream d;
    o.readableDescription(d);
    EXPECT_EQ(d.str(), std::string("<Object\tclass=VUXObject uid=\"") + o.uid() +
                           "\" valid=\"YES\" Error=\"0\">\n</Object>\n");

    Probe invalid(false, -50);
    std::ostringstream d2;
    invalid.readableDescription(d2);
    EXPECT_NE(d2.str().find("valid=\"NO\" Error=\"-50\""), std::string::npos);

    std::ostringstream out;
    out << o;
    EXPECT_EQ(out.str(), std::string("VUXObject ") + o.uid());

    std::ostringstream failed;
    failed.setstate(std::ios::failbit);
    o.write(failed);
    failed.clear();
    EXPECT_TRUE(failed.str().empty());

    std::istringstream in("anything");
    in >> o; // the root reads nothing
    EXPECT_EQ(in.tellg(), 0);
    o.defaultStatus();
    EXPECT_EQ(o.error(), 0);
}

} // namespace
