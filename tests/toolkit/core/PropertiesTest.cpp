#include "KelvoProperties.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

constexpr uint32_t kReadWrite = kComponentPropertyFlagCanGetNow | kComponentPropertyFlagCanSetNow;

// Any address stands for an object of the later layers: the store keys properties by address.
template <class Obj> Obj fakeObject(void* storage) {
    return reinterpret_cast<Obj>(storage);
}

} // namespace

TEST(TypedProperties, NullObjectsReportTheirClassStatus) {
    struct Case {
        std::unique_ptr<Kelvo_QTObj> property;
        const char* name;
        int32_t status;
    };
    Case cases[] = {
        {std::make_unique<Kelvo_PropertyComponent>(nullptr, FOUR_CHAR_CODE("cpnt")),
         "Kelvo_PropertyComponent", int32_t(0x80008001u)},
        {std::make_unique<Kelvo_PropertyImageDesc>(nullptr), "Kelvo_PropertyImageDesc", -108},
        {std::make_unique<Kelvo_PropertySoundDesc>(nullptr), "Kelvo_PropertySoundDesc", -108},
        {std::make_unique<Kelvo_PropertyMovie>(nullptr, FOUR_CHAR_CODE("mprp")), "Kelvo_PropertyMovie",
         -2010},
        {std::make_unique<Kelvo_PropertyTrack>(nullptr, FOUR_CHAR_CODE("trak")), "Kelvo_PropertyTrack",
         -2009},
        {std::make_unique<Kelvo_PropertyImageCompressionOptions>(nullptr),
         "Kelvo_PropertyImageCompressionOptions", -50},
        {std::make_unique<Kelvo_PropertyImageCompression>(nullptr), "Kelvo_PropertyImageCompression", -50},
        {std::make_unique<Kelvo_PropertySampleTable>(nullptr), "Kelvo_PropertySampleTable", -50},
    };
    for (Case& c : cases) {
        EXPECT_STREQ(c.property->qtObjName(), c.name);
        EXPECT_TRUE(c.property->isA(c.name));
        EXPECT_EQ(c.property->Error(), c.status) << c.name;
        EXPECT_FALSE(c.property->qtObjIsValid()) << c.name;
    }
    Kelvo_PropertyMovie movie(nullptr, FOUR_CHAR_CODE("mprp"));
    EXPECT_FALSE(movie.getInfo(FOUR_CHAR_CODE("dura"))); // the platform is not called
    EXPECT_EQ(movie.Error(), -2010);
    char buf[8];
    EXPECT_EQ(movie.getValue(buf), 0u);
    EXPECT_EQ(movie.getValue(), nullptr);
    EXPECT_FALSE(movie.setValue(buf, 4));
}

TEST(TypedProperties, SelectReadAndWrite) {
    char storage[16] = {};
    Movie movie = fakeObject<Movie>(storage);
    const OSType cls = FOUR_CHAR_CODE("mprp");
    const OSType id = FOUR_CHAR_CODE("dura");
    int32_t value = 600;
    ASSERT_EQ(platform::setStoredProperty(movie, cls, id, FOUR_CHAR_CODE("long"), kReadWrite, &value, 4), 0);

    Kelvo_PropertyMovie p(movie, cls);
    ASSERT_TRUE(p.qtObjIsValid());
    int32_t v = 1;
    EXPECT_FALSE(p.setValue(&v, 0)); // no property selected yet: nothing, no status
    EXPECT_EQ(p.Error(), 0);
    EXPECT_EQ(p.getValue(&v), 0u);

    ASSERT_TRUE(p.getInfo(id));
    EXPECT_EQ(p.propertyType(), FOUR_CHAR_CODE("long"));
    EXPECT_EQ(p.valueSize(), 4u);
    EXPECT_EQ(p.propertyFlags(), kReadWrite);
    EXPECT_EQ(p.getValue(&v), 4u);
    EXPECT_EQ(v, 600);
    EXPECT_EQ(p.getValue(nullptr), 0u);
    EXPECT_EQ(p.Error(), -50);

    int32_t next = 1200;
    EXPECT_TRUE(p.setValue(&next, 0)); // 0: the size getInfo reported
    Handle h = p.getValue();
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(GetHandleSize(h), 4);
    std::memcpy(&v, *h, 4);
    EXPECT_EQ(v, 1200);
    DisposeHandle(h);
    EXPECT_FALSE(p.setValue(&next, 2)); // the platform's size check
    EXPECT_EQ(p.Error(), kQTPropertyBadValueSizeErr);
    EXPECT_FALSE(p.setValue(nullptr, 4));
    EXPECT_EQ(p.Error(), -50);

    // An unknown property: the 16-bit result is kept sign-extended, and no property stays
    // selected, so a later write cannot land on the earlier one.
    EXPECT_FALSE(p.getInfo(FOUR_CHAR_CODE("none")));
    EXPECT_EQ(p.Error(), kQTPropertyNotSupportedErr);
    EXPECT_EQ(p.propertyID(), 0u);
    EXPECT_FALSE(p.setValue(&next, 0));

    p.reset();
    EXPECT_FALSE(p.qtObjIsValid());
    EXPECT_FALSE(p.getInfo(id));
    platform::removeStoredProperties(movie);
}

TEST(TypedProperties, SizesAndFlagsOfTheStoredValue) {
    char storage[16] = {};
    auto desc = fakeObject<Movie>(storage);
    const OSType cls = FOUR_CHAR_CODE("mvie");
    platform::setStoredProperty(desc, cls, FOUR_CHAR_CODE("empt"), FOUR_CHAR_CODE("none"), kReadWrite,
                                nullptr, 0);
    platform::setStoredProperty(desc, cls, FOUR_CHAR_CODE("ro  "), FOUR_CHAR_CODE("long"),
                                kComponentPropertyFlagCanGetNow, "abcd", 4);
    platform::setStoredProperty(desc, cls, FOUR_CHAR_CODE("late"), FOUR_CHAR_CODE("long"),
                                kComponentPropertyFlagCanGetLater, "abcd", 4);

    Kelvo_PropertyMovie p(desc, cls);
    ASSERT_TRUE(p.getInfo(FOUR_CHAR_CODE("empt")));
    EXPECT_EQ(p.getValue(), nullptr); // reported size 0
    EXPECT_EQ(p.Error(), -50);

    ASSERT_TRUE(p.getInfo(FOUR_CHAR_CODE("ro  ")));
    Handle h = p.getValue();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(std::string(*h, 4), "abcd");
    DisposeHandle(h);
    EXPECT_FALSE(p.setValue("wxyz", 0));
    EXPECT_EQ(p.Error(), kQTPropertyReadOnlyErr);

    ASSERT_TRUE(p.getInfo(FOUR_CHAR_CODE("late")));
    h = p.getValue(); // a failed read gives an empty handle
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(GetHandleSize(h), 0);
    EXPECT_EQ(p.Error(), kQTPropertyAskLaterErr);
    DisposeHandle(h);

    // Every family reads the same store through its own calls.
    char other[4] = {};
    auto table = fakeObject<QTSampleTableRef>(other);
    platform::setStoredProperty(table, FOUR_CHAR_CODE("qtst"), FOUR_CHAR_CODE("cnt "), FOUR_CHAR_CODE("long"),
                                kReadWrite, "\1\0\0\0", 4);
    Kelvo_PropertySampleTable t(table);
    EXPECT_TRUE(t.getInfo(FOUR_CHAR_CODE("cnt ")));
    Kelvo_PropertyMovie wrongObject(fakeObject<Movie>(other), cls);
    EXPECT_FALSE(wrongObject.getInfo(FOUR_CHAR_CODE("cnt "))); // another class
    platform::removeStoredProperties(desc);
    platform::removeStoredProperties(table);
    EXPECT_FALSE(t.getInfo(FOUR_CHAR_CODE("cnt ")));
}
