// Compression settings atoms: the 'vide' children and their byte layouts.
#include "KelvoVideoCompressionSettings.h"

#include "PlatformFixed.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

class CompressionSettingsTest : public ::testing::Test {
  protected:
    CompressionSettingsTest() {
        QTNewAtomContainer(&_settings);
        QTInsertChild(_settings, kParentAtomIsContainer, kQTSettingsVideo, 0, 0, 0, nullptr, &_video);
    }
    ~CompressionSettingsTest() override { QTDisposeAtomContainer(_settings); }

    // The bytes of the first child of 'vide' of the type; empty when there is none.
    std::vector<uint8_t> bytesOf(QTAtomType type) {
        QTAtom child = QTFindChildByIndex(_settings, _video, type, 1, nullptr);
        if (!child) return {};
        int32_t size = 0;
        Ptr data = nullptr;
        EXPECT_EQ(QTGetAtomDataPtr(_settings, child, &size, &data), noErr);
        return std::vector<uint8_t>(data, data + size);
    }

    void putRaw(QTAtomType type, std::vector<uint8_t> bytes) {
        QTAtom child = QTFindChildByIndex(_settings, _video, type, 1, nullptr);
        if (child) {
            ASSERT_EQ(QTSetAtomData(_settings, child, int32_t(bytes.size()), bytes.data()), noErr);
        } else {
            ASSERT_EQ(
                QTInsertChild(_settings, _video, type, 0, 0, int32_t(bytes.size()), bytes.data(), nullptr),
                noErr);
        }
    }

    QTAtomContainer _settings = nullptr;
    QTAtom _video = 0;
};

} // namespace

TEST_F(CompressionSettingsTest, SpatialLayout) {
    uint32_t codec = FOUR_CHAR_CODE("jpeg"), quality = 768;
    int16_t depth = 24;
    ASSERT_EQ(SpatialSettingsValues(_settings, &codec, &quality, &depth, 1), noErr);
    EXPECT_EQ(bytesOf(kQTSettingsSpatial),
              (std::vector<uint8_t>{0x6A, 0x70, 0x65, 0x67, 0, 0, 0, 0, 0x00, 0x18, 0x00, 0x00, 0x03, 0x00}));
    uint32_t codecBack = 0, qualityBack = 0;
    int16_t depthBack = 0;
    ASSERT_EQ(SpatialSettingsValues(_settings, &codecBack, &qualityBack, &depthBack, 0), noErr);
    EXPECT_EQ(codecBack, codec);
    EXPECT_EQ(qualityBack, quality);
    EXPECT_EQ(depthBack, depth);

    // Rewriting replaces the record in place; absent fields are written as zeros.
    ASSERT_EQ(SpatialSettingsValues(_settings, nullptr, nullptr, &depth, 1), noErr);
    EXPECT_EQ(QTCountChildrenOfType(_settings, _video, kQTSettingsSpatial), 1);
    EXPECT_EQ(bytesOf(kQTSettingsSpatial),
              (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x18, 0, 0, 0, 0}));
    // Reading fills only what is asked for; the codec component is ignored.
    putRaw(kQTSettingsSpatial, {0x72, 0x61, 0x77, 0x20, 0xDE, 0xAD, 0xBE, 0xEF, 0xFF, 0xFE, 0, 0, 4, 0});
    codecBack = 1;
    qualityBack = 2;
    ASSERT_EQ(SpatialSettingsValues(_settings, &codecBack, nullptr, &depthBack, 0), noErr);
    EXPECT_EQ(codecBack, FOUR_CHAR_CODE("raw "));
    EXPECT_EQ(depthBack, -2);
    EXPECT_EQ(qualityBack, 2u);
}

TEST_F(CompressionSettingsTest, SpatialOfAnotherSizeIsMissing) {
    for (size_t size : {13u, 15u, 0u}) {
        SCOPED_TRACE(size);
        putRaw(kQTSettingsSpatial, std::vector<uint8_t>(size, 0x11));
        uint32_t codec = 7, quality = 8;
        int16_t depth = 9;
        EXPECT_EQ(SpatialSettingsValues(_settings, &codec, &quality, &depth, 0), cannotFindAtomErr);
        EXPECT_EQ(codec, 7u);
        EXPECT_EQ(quality, 8u);
        EXPECT_EQ(depth, 9);
    }
}

TEST_F(CompressionSettingsTest, DimensionsLayoutAndOrder) {
    Fixed width = FixRatio(320, 1), height = FixRatio(481, 2);
    ASSERT_EQ(QTSettings_DimensionsValues(_settings, &width, &height, 1), noErr);
    EXPECT_EQ(bytesOf(kQTSettingsCleanWidth), (std::vector<uint8_t>{0x01, 0x40, 0x00, 0x00}));
    EXPECT_EQ(bytesOf(kQTSettingsCleanHeight), (std::vector<uint8_t>{0x00, 0xF0, 0x80, 0x00}));
    // Height is written first; each new child goes after the others.
    QTAtom first = 0;
    ASSERT_EQ(QTNextChildAnyType(_settings, _video, 0, &first), noErr);
    QTAtomType type = 0;
    QTAtomID id = 0;
    ASSERT_EQ(QTGetAtomTypeAndID(_settings, first, &type, &id), noErr);
    EXPECT_EQ(type, kQTSettingsCleanHeight);

    Fixed w = 0, h = 0;
    ASSERT_EQ(QTSettings_DimensionsValues(_settings, &w, &h, 0), noErr);
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, height);

    // A value of another size is refused, and reading stops at the first error (height first).
    putRaw(kQTSettingsCleanHeight, {1, 2, 3});
    w = h = 5;
    EXPECT_EQ(QTSettings_DimensionsValues(_settings, &w, &h, 0), cannotFindAtomErr);
    EXPECT_EQ(w, 5);
    EXPECT_EQ(h, 5);
    EXPECT_EQ(QTSettings_DimensionsValues(_settings, &w, nullptr, 0), noErr);
    EXPECT_EQ(w, width);
    // Other modes do nothing.
    Fixed other = 1;
    EXPECT_EQ(QTSettings_DimensionsValues(_settings, &other, &other, 2), noErr);
    EXPECT_EQ(other, 1);
    EXPECT_EQ(QTSettings_DimensionsValues(nullptr, &w, &h, 0), paramErr);
}

TEST_F(CompressionSettingsTest, TemporalAndDataRateLayouts) {
    uint32_t temporal = 0x200;
    int32_t keyFrames = 30;
    Fixed rate = FixRatio(30000, 1001);
    TemporalSettingsValues(_settings, &temporal, &keyFrames, &rate, 1);
    const std::vector<uint8_t> tprl = bytesOf(kQTSettingsTemporal);
    ASSERT_EQ(tprl.size(), 12u);
    const uint8_t rateBytes[4] = {uint8_t(uint32_t(rate) >> 24), uint8_t(uint32_t(rate) >> 16),
                                  uint8_t(uint32_t(rate) >> 8), uint8_t(rate)};
    EXPECT_EQ(tprl, (std::vector<uint8_t>{0, 0, 2, 0, rateBytes[0], rateBytes[1], rateBytes[2], rateBytes[3],
                                          0, 0, 0, 30}));
    uint32_t t = 0;
    int32_t k = 0;
    Fixed r = 0;
    TemporalSettingsValues(_settings, &t, &k, &r, 0);
    EXPECT_EQ(t, temporal);
    EXPECT_EQ(k, keyFrames);
    EXPECT_EQ(r, rate);

    int32_t dataRate = 1'000'000, duration = -1;
    uint32_t minSpatial = 256, minTemporal = 0x80000001u;
    DataRateSettingsValues(_settings, &dataRate, &duration, &minSpatial, &minTemporal, 1);
    EXPECT_EQ(bytesOf(kQTSettingsDataRate), (std::vector<uint8_t>{0x00, 0x0F, 0x42, 0x40, 0xFF, 0xFF, 0xFF,
                                                                  0xFF, 0, 0, 1, 0, 0x80, 0, 0, 1}));
    int32_t d = 0, f = 0;
    uint32_t s = 0, m = 0;
    DataRateSettingsValues(_settings, &d, &f, &s, &m, 0);
    EXPECT_EQ(d, dataRate);
    EXPECT_EQ(f, duration);
    EXPECT_EQ(s, minSpatial);
    EXPECT_EQ(m, minTemporal);

    // Records of another size leave the outputs untouched.
    putRaw(kQTSettingsTemporal, std::vector<uint8_t>(11, 0xAA));
    putRaw(kQTSettingsDataRate, std::vector<uint8_t>(17, 0xAA));
    t = 1, k = 2, r = 3, d = 4, f = 5, s = 6, m = 7;
    TemporalSettingsValues(_settings, &t, &k, &r, 0);
    DataRateSettingsValues(_settings, &d, &f, &s, &m, 0);
    EXPECT_EQ(std::vector<int64_t>({t, k, r, d, f, s, m}), std::vector<int64_t>({1, 2, 3, 4, 5, 6, 7}));
}

TEST_F(CompressionSettingsTest, WithoutVideoAtomEverythingIsMissing) {
    QTAtomContainer bare = nullptr;
    ASSERT_EQ(QTNewAtomContainer(&bare), noErr);
    // A 'vide' below the root only counts at the root.
    QTAtom other = 0;
    ASSERT_EQ(QTInsertChild(bare, kParentAtomIsContainer, FOUR_CHAR_CODE("soun"), 0, 0, 0, nullptr, &other),
              noErr);
    ASSERT_EQ(QTInsertChild(bare, other, kQTSettingsVideo, 0, 0, 0, nullptr, nullptr), noErr);
    int32_t flatSize = 0;
    ASSERT_EQ(QTGetFlattenedSize(bare, &flatSize), noErr);

    Handle h = NewHandle(0);
    Fixed fixed = FixRatio(1, 1);
    uint8_t record[16] = {0};
    for (QTAtomType type : {kQTSettingsSpatial, kQTSettingsTemporal, kQTSettingsDataRate,
                            kQTSettingsCleanWidth, kQTSettingsCleanHeight}) {
        EXPECT_EQ(VideoSettingsGetDataAtomType(bare, type, h), cannotFindAtomErr);
        void* data = type == kQTSettingsCleanWidth || type == kQTSettingsCleanHeight
                         ? static_cast<void*>(&fixed)
                         : static_cast<void*>(record);
        EXPECT_EQ(VideoSettingsSetDataAtomType(bare, type, data), cannotFindAtomErr);
    }
    uint32_t codec = 1, quality = 2;
    int16_t depth = 3;
    Fixed w = 4, hgt = 5;
    for (int mode : {0, 1}) {
        EXPECT_EQ(SpatialSettingsValues(bare, &codec, &quality, &depth, mode), cannotFindAtomErr);
        EXPECT_EQ(QTSettings_DimensionsValues(bare, &w, &hgt, mode), cannotFindAtomErr);
    }
    uint32_t t = 6, s = 7, m = 8;
    int32_t k = 9, d = 10, f = 11;
    Fixed r = 12;
    for (int mode : {0, 1}) {
        TemporalSettingsValues(bare, &t, &k, &r, mode);
        DataRateSettingsValues(bare, &d, &f, &s, &m, mode);
    }
    EXPECT_EQ(std::vector<int64_t>({codec, quality, depth, w, hgt, t, s, m, k, d, f, r}),
              std::vector<int64_t>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    // Nothing was created.
    int32_t after = 0;
    ASSERT_EQ(QTGetFlattenedSize(bare, &after), noErr);
    EXPECT_EQ(after, flatSize);
    DisposeHandle(h);
    QTDisposeAtomContainer(bare);
}

TEST_F(CompressionSettingsTest, BadArguments) {
    Handle h = NewHandle(0);
    uint8_t record[16] = {0};
    uint32_t codec = 0;
    EXPECT_EQ(VideoSettingsGetDataAtomType(nullptr, kQTSettingsSpatial, h), paramErr);
    EXPECT_EQ(VideoSettingsGetDataAtomType(_settings, kQTSettingsSpatial, nullptr), paramErr);
    EXPECT_EQ(VideoSettingsGetDataAtomType(_settings, kQTSettingsVideo, h), paramErr);
    EXPECT_EQ(VideoSettingsGetDataAtomType(_settings, FOUR_CHAR_CODE("soun"), h), paramErr);
    EXPECT_EQ(VideoSettingsSetDataAtomType(nullptr, kQTSettingsSpatial, record), paramErr);
    EXPECT_EQ(VideoSettingsSetDataAtomType(_settings, kQTSettingsSpatial, nullptr), paramErr);
    EXPECT_EQ(VideoSettingsSetDataAtomType(_settings, 0, record), paramErr);
    EXPECT_EQ(SpatialSettingsValues(nullptr, &codec, nullptr, nullptr, 1), paramErr);
    EXPECT_EQ(QTCountChildren(_settings, _video), 0);
    // A child that is missing from an existing 'vide'.
    EXPECT_EQ(VideoSettingsGetDataAtomType(_settings, kQTSettingsDataRate, h), cannotFindAtomErr);
    EXPECT_EQ(SpatialSettingsValues(_settings, &codec, nullptr, nullptr, 0), cannotFindAtomErr);
    // Modes other than read and write do nothing.
    EXPECT_EQ(SpatialSettingsValues(_settings, &codec, nullptr, nullptr, 5), noErr);
    EXPECT_EQ(QTCountChildren(_settings, _video), 0);
    DisposeHandle(h);
}
