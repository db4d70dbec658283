#include "KelvoCoreVideoDataDescriptors.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(ImgDesc, DefaultDescriptionHoldsThePlatformDefaults) {
    Kelvo_ImgDesc d;
    ASSERT_TRUE(d.qtObjIsValid());
    EXPECT_EQ(d.Error(), 0);
    EXPECT_EQ(GetHandleSize(d.hdesc()), 86);
    EXPECT_EQ(d.descSize(), 86);
    EXPECT_EQ(d.qtFixHRes(), Fixed(0x00480000));
    EXPECT_EQ(d.qtFixVRes(), Fixed(0x00480000));
    EXPECT_EQ(d.qtFrameCount(), 1);
    EXPECT_EQ(d.qtSpatialQuality(), 512u);
    EXPECT_EQ(d.qtTemporalQuality(), 512u);
    EXPECT_EQ(d.qtClutID(), -1);
    auto* record = reinterpret_cast<ImageDescription*>(*d.hdesc());
    EXPECT_EQ(record->name[0], 0);
    EXPECT_TRUE(d.isA("Kelvo_ImgDesc"));
    EXPECT_TRUE(d.isA("Kelvo_SmpDescriptor"));
    EXPECT_TRUE(d.isA("Kelvo_MediaDataDescriptor"));
}

TEST(ImgDesc, FieldsLandInTheirRecordSlots) {
    Kelvo_ImgDesc d;
    d.dataFormat(FOUR_CHAR_CODE("raw "));
    d.qtWidth(640);
    d.qtHeight(480);
    d.qtDepth(40);
    d.qtSpatialQuality(768);
    d.qtFrameCount(3);
    d.qtDataSize(640 * 480);
    auto* r = reinterpret_cast<ImageDescription*>(*d.hdesc());
    EXPECT_EQ(r->cType, FOUR_CHAR_CODE("raw "));
    EXPECT_EQ(r->width, 640);
    EXPECT_EQ(r->height, 480);
    EXPECT_EQ(r->depth, 40);
    EXPECT_EQ(r->spatialQuality, 768u);
    EXPECT_EQ(r->frameCount, 3);
    EXPECT_EQ(r->dataSize, 640 * 480);
    EXPECT_EQ(d.dataFormat(), FOUR_CHAR_CODE("raw "));

    // A depth of 0 or below is not a depth.
    d.qtDepth(0);
    d.qtDepth(-8);
    EXPECT_EQ(d.qtDepth(), 40);
}

TEST(ImgDesc, CloneIsIndependentAndDefaultsReturn) {
    Kelvo_ImgDesc d;
    d.qtWidth(10);
    Kelvo_QTObj* c = d.clone();
    ASSERT_NE(c, nullptr);
    ASSERT_TRUE(c->isA("Kelvo_ImgDesc"));
    auto* copy = static_cast<Kelvo_ImgDesc*>(c);
    EXPECT_NE(copy->hdesc(), d.hdesc());
    copy->qtWidth(20);
    EXPECT_EQ(d.qtWidth(), 10);
    EXPECT_EQ(copy->qtWidth(), 20);
    delete c;

    d.qtSpatialQuality(1);
    d.defaultStatus();
    EXPECT_EQ(d.qtWidth(), 0);
    EXPECT_EQ(d.qtSpatialQuality(), 512u);
}

} // namespace
