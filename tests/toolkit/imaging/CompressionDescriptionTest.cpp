// The compression description: parameters from settings atoms and compression options, and back.
#include "KelvoVideoCompression.h"

#include "KelvoVideoCompressionSettings.h"
#include "PlatformFixed.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct Settings {
    QTAtomContainer c = nullptr;
    Settings() {
        QTNewAtomContainer(&c);
        QTInsertChild(c, kParentAtomIsContainer, FOUR_CHAR_CODE("vide"), 1, 0, 0, nullptr, nullptr);
    }
    ~Settings() { QTDisposeAtomContainer(c); }
};

// Settings for a codec with temporal quality, key frames, frame rate and data rate filled in.
void fill(Settings& s, OSType codec) {
    uint32_t type = codec, spatial = 768, temporal = 600, minSpatial = 100, minTemporal = 200;
    int16_t depth = 24;
    int32_t keyFrames = 12, dataRate = 100000, frameDuration = 40;
    Fixed rate = Long2Fix(25);
    SpatialSettingsValues(s.c, &type, &spatial, &depth, 1);
    TemporalSettingsValues(s.c, &temporal, &keyFrames, &rate, 1);
    DataRateSettingsValues(s.c, &dataRate, &frameDuration, &minSpatial, &minTemporal, 1);
}

TEST(CompressionDescription, SettingsOfACodecWithoutTemporalOrDataRateLeaveTheParametersZero) {
    // None of the installed codecs compresses temporally or honours a data rate.
    for (OSType codec : {FOUR_CHAR_CODE("jpeg"), FOUR_CHAR_CODE("png "), FOUR_CHAR_CODE("raw ")}) {
        Settings s;
        fill(s, codec);
        Kelvo_ImgDescComp d(s.c);
        EXPECT_EQ(d.Error(), 0);
        EXPECT_EQ(d.dataFormat(), codec);
        EXPECT_EQ(d.qtSpatialQuality(), 768u);
        EXPECT_EQ(d.qtDepth(), 24);
        EXPECT_EQ(d.qtKeyFrames(), 0);
        EXPECT_EQ(d.qtFixFrameRate(), 0);
        EXPECT_EQ(d.qtDataRate(), 0);
        EXPECT_EQ(d.qtFrameDur(), 0);
        EXPECT_EQ(d.qtMinSpatialQual(), 0u);
        EXPECT_EQ(d.qtTemporalQuality(), 512u); // the description's default
    }
}

TEST(CompressionDescription, FillWritesEverySettingsAtom) {
    Kelvo_ImgDescComp d;
    d.dataFormat(FOUR_CHAR_CODE("jpeg"));
    d.qtDepth(32);
    d.qtSpatialQuality(1023);
    d.qtTemporalQuality(256);
    d.qtKeyFrames() = 30;
    d.qtFrameRate(29.97);
    d.qtDataRate() = 5000;
    d.qtFrameDur() = 20;
    d.qtMinSpatialQual() = 1;
    d.qtMinTemporalQual() = 2;
    d.qtWidth(64);
    d.qtHeight(48);
    Settings s;
    EXPECT_EQ(d.FillQTAtomSettings(s.c), 0);
    uint32_t temporal = 0, minSpatial = 0, minTemporal = 0;
    int32_t keyFrames = 0, dataRate = 0, frameDuration = 0;
    Fixed rate = 0, width = 0, height = 0;
    TemporalSettingsValues(s.c, &temporal, &keyFrames, &rate, 0);
    DataRateSettingsValues(s.c, &dataRate, &frameDuration, &minSpatial, &minTemporal, 0);
    EXPECT_EQ(QTSettings_DimensionsValues(s.c, &width, &height, 0), 0);
    EXPECT_EQ(temporal, 256u);
    EXPECT_EQ(keyFrames, 30);
    EXPECT_EQ(rate, X2Fix(29.97));
    EXPECT_EQ(dataRate, 5000);
    EXPECT_EQ(frameDuration, 20);
    EXPECT_EQ(minSpatial, 1u);
    EXPECT_EQ(minTemporal, 2u);
    EXPECT_EQ(width, Long2Fix(64));
    EXPECT_EQ(height, Long2Fix(48));
    Kelvo_ImgDescComp back(s.c);
    EXPECT_EQ(back.dataFormat(), FOUR_CHAR_CODE("jpeg"));
    EXPECT_EQ(back.qtWidth(), 64);
    EXPECT_EQ(d.FillQTAtomSettings(nullptr), -50);
}

TEST(CompressionDescription, OptionsRoundTrip) {
    Kelvo_ImgDescComp d;
    d.dataFormat(FOUR_CHAR_CODE("mjp2"));
    d.qtDepth(24);
    d.qtSpatialQuality(768);
    d.qtFrameCount(3);
    d.qtKeyFrames() = 10;
    d.qtDataRate() = 123456;
    d.qtFrameRate(25.0);
    d.qtTemporalCompressionEnabled() = true;
    d.qtFrameReordering() = true;
    ICMCompressionSessionOptionsRef options = d.copyICMOptions();
    ASSERT_NE(options, nullptr);
    EXPECT_TRUE(ICMCompressionSessionOptionsGetAllowTemporalCompression(options));
    EXPECT_TRUE(ICMCompressionSessionOptionsGetAllowFrameReordering(options));
    EXPECT_EQ(ICMCompressionSessionOptionsGetMaxKeyFrameInterval(options), 10);
    // No multipass: no storage made.
    ICMMultiPassStorageRef storage = reinterpret_cast<ICMMultiPassStorageRef>(1);
    ByteCount used = 0;
    ASSERT_EQ(ICMCompressionSessionOptionsGetProperty(
                  options, kQTPropertyClass_ICMCompressionSessionOptions,
                  kICMCompressionSessionOptionsPropertyID_MultiPassStorage, sizeof storage, &storage, &used),
              0);
    EXPECT_EQ(storage, nullptr);

    Kelvo_ImgDescComp back(options);
    EXPECT_EQ(back.Error(), 0);
    EXPECT_EQ(back.qtDepth(), 24);
    EXPECT_EQ(back.qtSpatialQuality(), 768u);
    EXPECT_EQ(back.qtTemporalQuality(), 768u); // temporal compression: the spatial quality
    EXPECT_EQ(back.qtFrameCount(), 3);
    EXPECT_EQ(back.qtKeyFrames(), 10);
    EXPECT_EQ(back.qtDataRate(), 123456);
    EXPECT_EQ(back.qtFrameRate(), 25.0);
    EXPECT_TRUE(back.qtFrameReordering());
    EXPECT_FALSE(back.qtMultiPassEncoding());

    // Temporal compression off: the temporal quality is 0 whatever the quality is.
    ICMCompressionSessionOptionsSetAllowTemporalCompression(options, false);
    back.setICMOptions(options);
    EXPECT_EQ(back.qtTemporalQuality(), 0u);
    EXPECT_FALSE(back.qtTemporalCompressionEnabled());
    ICMCompressionSessionOptionsRelease(options);

    back.setICMOptions(nullptr);
    EXPECT_EQ(back.Error(), -50);
}

TEST(CompressionDescription, MultipassOptionsCarryATemporaryStorageTheyRelease) {
    Kelvo_ImgDescComp d;
    d.dataFormat(FOUR_CHAR_CODE("jpeg"));
    d.qtMultiPassEncoding() = true;
    ICMCompressionSessionOptionsRef options = d.copyICMOptions();
    ASSERT_NE(options, nullptr);
    ICMMultiPassStorageRef storage = nullptr;
    ByteCount used = 0;
    ASSERT_EQ(ICMCompressionSessionOptionsGetProperty(
                  options, kQTPropertyClass_ICMCompressionSessionOptions,
                  kICMCompressionSessionOptionsPropertyID_MultiPassStorage, sizeof storage, &storage, &used),
              0);
    ASSERT_NE(storage, nullptr);
    EXPECT_NE(platform::multiPassStorageFile(storage), nullptr);
    EXPECT_EQ(platform::multiPassStorageRetainCount(storage), 1); // the options' own
    Kelvo_ImgDescComp back(options);
    EXPECT_TRUE(back.qtMultiPassEncoding());

    // Another storage replaces it: the first goes, the second is held.
    ICMMultiPassStorageRef other = nullptr;
    ASSERT_EQ(ICMMultiPassStorageCreateWithTemporaryFile(nullptr, nullptr, nullptr, 0, &other), 0);
    ASSERT_EQ(ICMCompressionSessionOptionsSetProperty(
                  options, kQTPropertyClass_ICMCompressionSessionOptions,
                  kICMCompressionSessionOptionsPropertyID_MultiPassStorage, sizeof other, &other),
              0);
    EXPECT_EQ(platform::multiPassStorageRetainCount(storage), 0);
    EXPECT_EQ(platform::multiPassStorageRetainCount(other), 2);
    ICMMultiPassStorageRelease(other);
    ICMCompressionSessionOptionsRelease(options);
    EXPECT_EQ(platform::multiPassStorageRetainCount(other), 0);
    // Released options are no longer options.
    EXPECT_EQ(ICMCompressionSessionOptionsSetMaxKeyFrameInterval(options, 1), -50);
}

TEST(CompressionDescription, CopiesCarryTheParameters) {
    Kelvo_ImgDescComp d;
    d.qtKeyFrames() = 7;
    d.qtMultiPassEncoding() = true;
    std::unique_ptr<Kelvo_QTObj> c(d.clone());
    ASSERT_NE(c, nullptr);
    auto* copy = static_cast<Kelvo_ImgDescComp*>(c.get());
    EXPECT_EQ(copy->qtKeyFrames(), 7);
    EXPECT_TRUE(copy->qtMultiPassEncoding());
    Kelvo_ImgDescComp target;
    target = static_cast<Kelvo_SmpDescriptor&>(d);
    EXPECT_EQ(target.qtKeyFrames(), 7);
    // From a plain description: the description only.
    Kelvo_ImgDesc plain;
    plain.qtWidth(99);
    target = static_cast<Kelvo_SmpDescriptor&>(plain);
    EXPECT_EQ(target.qtWidth(), 99);
    EXPECT_EQ(target.qtKeyFrames(), 7);
    target.reset();
    EXPECT_FALSE(target.qtObjIsValid());
    EXPECT_EQ(target.qtKeyFrames(), 0);
}

} // namespace
