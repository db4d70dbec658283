#include "KelvoImageTypes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numeric>
#include <vector>

namespace {

TEST(KelvoDataT, CountConstructorOwnsZeroedElements) {
    KelvoDataT<uint16_t> a(5);
    EXPECT_TRUE(a.qtObjIsValid());
    EXPECT_EQ(a.itemCount(), 5u);
    EXPECT_TRUE(a.ownsItems());
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(a[i], 0);
    EXPECT_STREQ(a.qtObjName(), "KelvoDataT");
    EXPECT_TRUE(a.isA("KelvoDataT"));
    EXPECT_TRUE(a.isA("Kelvo_QTObj"));

    KelvoDataT<char> empty(0u);
    EXPECT_FALSE(empty.qtObjIsValid());
    EXPECT_EQ(empty.items(), nullptr);
}

TEST(KelvoDataT, CreateWithString) {
    EXPECT_EQ(KelvoDataT<char>::createWithString(nullptr), nullptr);
    EXPECT_EQ(KelvoDataT<char>::createWithString(""), nullptr);
    std::unique_ptr<KelvoDataT<char>> s(KelvoDataT<char>::createWithString("ab"));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->itemCount(), 3u);
    EXPECT_TRUE(s->ownsItems());
    EXPECT_STREQ(s->items(), "ab");
    EXPECT_EQ((*s)[2], 0);
}

TEST(KelvoDataT, BorrowingNeverCopiesOrFrees) {
    // The caller's array outlives the borrower, its reset and its clone; ASan catches a free.
    std::vector<uint8_t> bytes{1, 2, 3, 4};
    {
        KelvoDataT<uint8_t> borrower(bytes.data(), 4, 1);
        EXPECT_FALSE(borrower.ownsItems());
        EXPECT_EQ(borrower.items(), bytes.data());
        borrower[1] = 20;
        EXPECT_EQ(bytes[1], 20);

        std::unique_ptr<KelvoDataT<uint8_t>> twin(borrower.clone());
        ASSERT_TRUE(twin);
        EXPECT_FALSE(twin->ownsItems());
        EXPECT_EQ(twin->items(), bytes.data());
        EXPECT_EQ(twin->itemCount(), 4u);

        KelvoDataT<uint8_t> copied(borrower);
        EXPECT_EQ(copied.items(), bytes.data());

        borrower.reset();
        EXPECT_EQ(borrower.items(), nullptr);
        EXPECT_EQ(borrower.itemCount(), 0u);
        EXPECT_FALSE(borrower.ownsItems());
        EXPECT_EQ(borrower.clone(), nullptr);
    }
    EXPECT_EQ(bytes[3], 4);
}

TEST(KelvoDataT, OwnedCopiesAreDeep) {
    uint8_t bytes[3] = {7, 8, 9};
    struct Case {
        uint8_t* data;
        uint32_t count;
        uint8_t borrow;
        bool valid;
        uint8_t first;
    } cases[] = {
        {bytes, 3, 0, true, 7},   // no borrow flag: a copy
        {nullptr, 3, 1, true, 0}, // nothing to borrow: zero-filled
        {bytes, 0, 1, false, 0},  // zero count never borrows and is empty
        {nullptr, 0, 0, false, 0},
    };
    for (const Case& c : cases) {
        KelvoDataT<uint8_t> a(c.data, c.count, c.borrow);
        EXPECT_TRUE(a.ownsItems());
        EXPECT_EQ(a.qtObjIsValid(), c.valid);
        if (c.valid) {
            EXPECT_NE(a.items(), bytes);
            EXPECT_EQ(a[0], c.first);
        }
    }

    // Written with literal arguments, as callers do.
    KelvoDataT<uint8_t> literal(bytes, 0, 1);
    EXPECT_FALSE(literal.qtObjIsValid());
    EXPECT_TRUE(literal.ownsItems());
    KelvoDataT<uint8_t> negative(bytes, -1, 0);
    EXPECT_EQ(negative.Error(), -50);
    EXPECT_FALSE(negative.qtObjIsValid());
    KelvoDataT<uint8_t> wide(bytes, size_t(3), true);
    EXPECT_EQ(wide.items(), bytes);

    KelvoDataT<uint8_t> owner(bytes, 3, 0);
    KelvoDataT<uint8_t> copy(owner);
    ASSERT_TRUE(copy.qtObjIsValid());
    EXPECT_NE(copy.items(), owner.items());
    EXPECT_TRUE(copy.ownsItems());
    copy[0] = 70;
    EXPECT_EQ(owner[0], 7);
    std::unique_ptr<KelvoDataT<uint8_t>> clone(owner.clone());
    ASSERT_TRUE(clone);
    EXPECT_NE(clone->items(), owner.items());
    EXPECT_EQ((*clone)[2], 9);
}

TEST(KelvoDataT, BadIndexUsesTheSpareElement) {
    KelvoDataT<int16_t> a(3);
    for (int64_t bad : {int64_t(-1), int64_t(3), int64_t(1) << 40}) {
        KelvoDataT<int16_t> b(3);
        b[bad] = 42;
        EXPECT_EQ(b.Error(), -50) << bad;
        EXPECT_EQ(b[0] + b[1] + b[2], 0);
    }
    a[2] = 5;
    EXPECT_EQ(a.Error(), 0);
    EXPECT_EQ(a[2], 5);
}

TEST(KelvoDataT, InitResetAndDefaultStatus) {
    uint32_t src[2] = {10, 20};
    KelvoDataT<uint32_t> a(4);
    a.init(2, src); // replaces the four elements (ASan would see them leak otherwise)
    EXPECT_EQ(a.itemCount(), 2u);
    EXPECT_EQ(a[1], 20u);
    a.defaultStatus();
    EXPECT_EQ(a[0], 0u);
    EXPECT_EQ(a[1], 0u);
    a.reset();
    EXPECT_FALSE(a.qtObjIsValid());
    EXPECT_TRUE(a.ownsItems());

    // A borrower given its own elements owns (and frees) them.
    KelvoDataT<uint32_t> borrower(src, 2, 1);
    borrower.init(3, nullptr);
    EXPECT_TRUE(borrower.ownsItems());
    EXPECT_EQ(borrower.itemCount(), 3u);
    EXPECT_EQ(src[0], 10u);
}

TEST(KelvoDataT, RegionOfInterest) {
    std::vector<uint16_t> plane(40);
    std::iota(plane.begin(), plane.end(), 0);
    Rect r{1, 2, 3, 5}; // top 1, left 2, bottom 3, right 5
    KelvoDataT<uint16_t> roi(plane.data(), &r, 10);
    EXPECT_EQ(roi.Error(), 0);
    ASSERT_EQ(roi.itemCount(), 6u);
    const uint16_t want[6] = {12, 13, 14, 22, 23, 24};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(roi[i], want[i]);

    struct Case {
        bool hasRegion;
        Rect rect;
        int32_t status;
        uint32_t count;
    } cases[] = {
        {false, {}, -50, 0},           {true, {2, 2, 2, 5}, -50, 0}, // no height
        {true, {0, -1, 2, 2}, -50, 6},                               // would read before the plane
        {true, {-1, 0, 1, 2}, -50, 4},                               // likewise
        {true, {0, 8, 2, 12}, -50, 8},                               // beyond the row width
    };
    for (Case& c : cases) {
        KelvoDataT<uint16_t> a(plane.data(), c.hasRegion ? &c.rect : nullptr, 10);
        EXPECT_EQ(a.Error(), c.status);
        EXPECT_EQ(a.itemCount(), c.count);
        for (uint32_t i = 0; i < c.count; ++i)
            EXPECT_EQ(a[i], 0);
    }

    // Copying into an existing array: the area must match its count.
    KelvoDataT<int16_t> four(4);
    std::vector<int16_t> s(20, -3);
    Rect three{0, 0, 1, 3};
    four.copyROI(s.data(), &three, 5);
    EXPECT_EQ(four.Error(), -50);
    EXPECT_EQ(four[0], 0);
    four.copyROI(nullptr, &three, 5);
    EXPECT_EQ(four.Error(), 79);
    Rect square{0, 0, 2, 2};
    four.copyROI(s.data(), &square, 5);
    EXPECT_EQ(four[3], -3);
}

TEST(KelvoStatisticsT, StrideCountAndFailures) {
    std::vector<uint8_t> v{1, 100, 100, 3, 100, 100, 5, 100, 100, 7, 100, 100};
    KelvoStatisticsT<uint8_t> s;
    s.init(v.data(), 12, 3); // samples 1, 3, 5, 7
    EXPECT_EQ(s.Error(), 0);
    EXPECT_EQ(s.count, 4u);
    EXPECT_DOUBLE_EQ(s.mean, 4.0);
    EXPECT_DOUBLE_EQ(s.min, 1.0);
    EXPECT_DOUBLE_EQ(s.max, 7.0);
    EXPECT_DOUBLE_EQ(s.variance, 20.0 / 3.0);
    EXPECT_DOUBLE_EQ(s.stdDeviation, std::sqrt(20.0 / 3.0));
    EXPECT_DOUBLE_EQ(s.meanAbsDeviation, 2.0);
    EXPECT_TRUE(s.qtObjIsValid());

    struct Case {
        const char* what;
        bool data;
        uint32_t count, stride;
    } failures[] = {{"three samples", true, 3, 1},
                    {"null data", false, 8, 1},
                    {"zero stride", true, 8, 0},
                    {"under four strides", true, 11, 3}};
    for (const Case& c : failures) {
        KelvoStatisticsT<uint8_t> f;
        f.init(c.data ? v.data() : nullptr, c.count, c.stride);
        EXPECT_EQ(f.Error(), -50) << c.what;
        EXPECT_EQ(f.count, 0u) << c.what;
        EXPECT_EQ(f.max, 0.0) << c.what;
        EXPECT_FALSE(f.qtObjIsValid()) << c.what;
    }
}

TEST(KelvoStatisticsT, SignedFloatAndConstantSamples) {
    int16_t sv[4] = {-300, 200, -5, 1};
    KelvoStatisticsT<int16_t> s;
    s.init(sv, 4, 1);
    EXPECT_EQ(s.min, -300.0);
    EXPECT_EQ(s.max, 200.0);

    std::vector<float> c(7, 0.1f);
    KelvoStatisticsT<float> f;
    f.init(c.data(), 7, 1);
    EXPECT_EQ(f.count, 7u);
    EXPECT_EQ(f.variance, 0.0);
    EXPECT_EQ(f.stdDeviation, 0.0);
    EXPECT_NEAR(f.meanAbsDeviation, 0.0, 1e-12);
    EXPECT_EQ(f.min, f.max);
    EXPECT_NEAR(f.mean, f.min, 1e-12);

    std::vector<uint16_t> big(5, 65535);
    KelvoStatisticsT<uint16_t> u;
    u.init(big.data(), 5, 1);
    EXPECT_EQ(u.mean, 65535.0);
}

TEST(KelvoStatisticsT, CopyAndClone) {
    uint16_t v[4] = {1, 2, 3, 4};
    KelvoStatisticsT<uint16_t> s;
    s.init(v, 4, 1);
    KelvoStatisticsT<uint16_t> copied(s);
    EXPECT_EQ(copied.count, 4u);
    EXPECT_DOUBLE_EQ(copied.mean, 2.5);
    EXPECT_EQ(copied.Error(), -50); // the status clearing left
    std::unique_ptr<KelvoStatisticsT<uint16_t>> c(s.clone());
    ASSERT_TRUE(c);
    EXPECT_DOUBLE_EQ(c->max, 4.0);

    KelvoStatisticsT<float> other;
    other.copy(s); // same class name, other sample type: the results carry over
    EXPECT_EQ(other.count, 4u);

    KelvoDataT<uint8_t> notStats(2);
    KelvoStatisticsT<uint16_t> t;
    t.copy(notStats);
    EXPECT_EQ(t.Error(), 10);
    EXPECT_EQ(t.count, 0u);

    KelvoStatisticsT<uint16_t> empty;
    EXPECT_EQ(empty.clone(), nullptr);
}

} // namespace
