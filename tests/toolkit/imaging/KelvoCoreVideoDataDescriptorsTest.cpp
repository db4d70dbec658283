#include "KelvoCoreVideoDataDescriptors.h"

#include "KelvoCoreComponents.h"
#include "KelvoVideoCompressionSettings.h"
#include "PlatformEndian.h"
#include "PlatformGWorlds.h"
#include "PlatformFixed.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

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

std::string handleBytes(Handle h) {
    return std::string(*h, size_t(GetHandleSize(h)));
}

TEST(ImgDesc, UninstalledCodecsAreRefusedAndInstalledOnesNamed) {
    Kelvo_ImgDesc d;
    d.dataFormat(FOUR_CHAR_CODE("jpeg"));
    EXPECT_EQ(d.dataFormat(), FOUR_CHAR_CODE("jpeg"));
    char name[32];
    d.qtCodecName(name, 0);
    EXPECT_STREQ(name, "Photo - JPEG");
    std::unique_ptr<Kelvo_Codec> codec(d.qtCodecInfo());
    ASSERT_NE(codec, nullptr);
    EXPECT_EQ(codec->Type(), FOUR_CHAR_CODE("jpeg"));

    // Asking for a codec nobody provides leaves the description as it was.
    d.dataFormat(FOUR_CHAR_CODE("zzzz"));
    EXPECT_EQ(d.dataFormat(), FOUR_CHAR_CODE("jpeg"));
    EXPECT_NE(d.Error(), 0);

    // A sample description of such a codec is not taken.
    Handle foreign = d.hdescCopy();
    reinterpret_cast<ImageDescription*>(*foreign)->cType = FOUR_CHAR_CODE("zzzz");
    Kelvo_ImgDesc fromForeign(reinterpret_cast<SampleDescriptionHandle>(foreign));
    EXPECT_FALSE(fromForeign.qtObjIsValid());
    EXPECT_EQ(fromForeign.Error(), 79);
    reinterpret_cast<ImageDescription*>(*foreign)->cType = FOUR_CHAR_CODE("raw ");
    Kelvo_ImgDesc fromRaw(reinterpret_cast<SampleDescriptionHandle>(foreign));
    EXPECT_TRUE(fromRaw.qtObjIsValid());
    DisposeHandle(foreign);

    Kelvo_ImgDesc none(static_cast<SampleDescriptionHandle>(nullptr));
    EXPECT_EQ(none.Error(), 79);
    EXPECT_EQ(Kelvo_ImgDesc(static_cast<GWorldPtr>(nullptr)).Error(), 79);
    EXPECT_EQ(Kelvo_ImgDesc(static_cast<ComponentInstance>(nullptr)).Error(), 79);
}

TEST(ImgDesc, NamesAreCutToTheirField) {
    Kelvo_ImgDesc d;
    std::string longName(40, 'n');
    d.qtCodecName(longName.data(), 1);
    auto* r = reinterpret_cast<ImageDescription*>(*d.hdesc());
    EXPECT_EQ(r->name[0], 31);
    char out[32];
    d.qtCodecName(out, 0);
    EXPECT_EQ(std::string(out), std::string(31, 'n'));
}

TEST(ImgDesc, BoundsSizesAndResolution) {
    Kelvo_ImgDesc d;
    d.qtWidth(320);
    d.qtHeight(200);
    Rect b{9, 9, 9, 9};
    d.activeBounds(&b);
    EXPECT_EQ(b.top, 0);
    EXPECT_EQ(b.left, 0);
    EXPECT_EQ(b.bottom, 200);
    EXPECT_EQ(b.right, 320);
    Rect roi{10, 20, 30, 40};
    d.qtROI(&roi);
    d.activeBounds(&b);
    EXPECT_EQ(b.top, 10);
    EXPECT_EQ(b.right, 40);
    d.activeBounds(nullptr); // nothing to fill

    d.size(Kelvo_Size(640.9, 480.2));
    EXPECT_EQ(d.qtWidth(), 640);
    EXPECT_EQ(d.qtHeight(), 480);
    d.size(Kelvo_Size(40000, 10)); // beyond the record's 16 bits
    EXPECT_EQ(d.Error(), -50);
    EXPECT_EQ(d.qtWidth(), 640);

    d.qtHRes(300);
    EXPECT_EQ(d.qtFixHRes(), Long2Fix(300));
    d.qtFixVRes(X2Fix(71.6));
    EXPECT_EQ(d.qtVRes(), 72);
    EXPECT_EQ(d.qtFixWidth(), Long2Fix(640));
    d.qtFixHeight(X2Fix(99.5));
    EXPECT_EQ(d.qtHeight(), 100);
    // Negative edges are refused as size() refuses them, and the record keeps its sizes.
    d.qtFixWidth(X2Fix(-3.0));
    EXPECT_EQ(d.Error(), -50);
    EXPECT_EQ(d.qtWidth(), 640);
    d.qtFixHeight(X2Fix(-0.75));
    EXPECT_EQ(d.Error(), -50);
    EXPECT_EQ(d.qtHeight(), 100);
}

TEST(ImgDesc, ExtensionAccessors) {
    Kelvo_ImgDesc d;
    d.qtWidth(720);
    d.qtHeight(486);
    EXPECT_FALSE(d.hasExtension());
    EXPECT_TRUE(d.gamma(2.2));
    EXPECT_TRUE(d.hasExtension());
    EXPECT_EQ(X2Fix(d.gamma()), X2Fix(2.2));
    EXPECT_TRUE(d.gamma(0.7)); // below 1: no gamma at all
    EXPECT_FALSE(d.hasExtension());
    EXPECT_EQ(d.gamma(), 0.0);

    EXPECT_FALSE(d.isInterlaced());
    FieldInfoImageDescriptionExtension2 fiel{2, 0};
    EXPECT_EQ(d.setProperty(kICMImageDescriptionPropertyID_FieldInfo, &fiel, sizeof fiel), 0);
    EXPECT_TRUE(d.isInterlaced());

    Kelvo_NCLCColorInfo bad;
    bad.matrix(3);
    EXPECT_FALSE(d.colorInfo(&bad));
    Kelvo_NCLCColorInfo good;
    good.chromaticCoordinates(1);
    good.transferFunction(1);
    good.matrix(1);
    EXPECT_TRUE(d.colorInfo(&good));
    std::unique_ptr<Kelvo_NCLCColorInfo> info(d.colorInfo());
    EXPECT_EQ(info->chromaticCoordinates(), 1);
    EXPECT_EQ(info->matrix(), 1);

    Kelvo_CleanAperture clap;
    clap.setNumeratorDimensions(Kelvo_Rect(704, 480));
    clap.setDenominatorDimensions(Kelvo_Rect(1, 1));
    clap.setDenominatorOffset(Kelvo_Point(1, 1));
    clap.setNumeratorDimensions(Kelvo_Rect());
    EXPECT_EQ(clap.Error(), -50);
    EXPECT_TRUE(d.cleanAperture(&clap));
    std::unique_ptr<Kelvo_CleanAperture> back(d.cleanAperture());
    EXPECT_EQ(back->getNumeratorDimensions().width(), 704);
    EXPECT_EQ(back->getNumeratorDimensions().height(), 480);

    Kelvo_Point ratio(40, 33);
    EXPECT_TRUE(d.pixelAspectRatio(&ratio));
    std::unique_ptr<Kelvo_Point> p(d.pixelAspectRatio());
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->x(), 40);
    EXPECT_EQ(p->y(), 33);

    std::unique_ptr<Kelvo_ApertureModesDimensions> modes(d.apertureDimensions());
    EXPECT_EQ(modes->classicDimensions().width(), 704);
    EXPECT_EQ(modes->cleanDimensions().width(), 704);
    EXPECT_EQ(modes->productionDimensions().width(), 853); // 704 * 40 / 33
    EXPECT_EQ(modes->encodedDimensions().width(), 720);
    EXPECT_EQ(modes->encodedDimensions().height(), 486);

    Kelvo_Size encoded(352, 240);
    EXPECT_TRUE(d.encodedDimensions(&encoded));
    std::unique_ptr<Kelvo_Size> e(d.encodedDimensions());
    EXPECT_EQ(e->width(), 352);
    EXPECT_EQ(e->height(), 240);

    char* text = reinterpret_cast<char*>(1);
    EXPECT_EQ(d.settingsToString(text), 0);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text).find("352 x 240") != std::string::npos, true);
    delete[] text;
}

TEST(ImgDesc, FromAWorldDescribesItsPixels) {
    struct Case {
        OSType format;
        OSType cType;
        int16_t depth;
    } cases[] = {{32, FOUR_CHAR_CODE("raw "), 32},
                 {40, FOUR_CHAR_CODE("raw "), 40},
                 {FOUR_CHAR_CODE("b16g"), FOUR_CHAR_CODE("b16g"), 40}};
    for (const Case& c : cases) {
        Rect bounds{0, 0, 30, 50};
        GWorldPtr world = nullptr;
        ASSERT_EQ(QTNewGWorld(&world, c.format, &bounds, nullptr, nullptr, 0), 0);
        Kelvo_ImgDesc d(world);
        EXPECT_EQ(d.Error(), 0);
        EXPECT_EQ(d.dataFormat(), c.cType);
        EXPECT_EQ(d.qtWidth(), 50);
        EXPECT_EQ(d.qtHeight(), 30);
        EXPECT_EQ(d.qtDepth(), c.depth);
        EXPECT_EQ(d.qtFixHRes(), Fixed(0x00480000));
        DisposeGWorld(world);
    }
}

TEST(ImgDesc, SettingsAtomsRoundTrip) {
    QTAtomContainer settings = nullptr;
    ASSERT_EQ(QTNewAtomContainer(&settings), 0);
    // Without the 'vide' atom nothing is written.
    Kelvo_ImgDesc d;
    d.dataFormat(FOUR_CHAR_CODE("jpeg"));
    d.qtDepth(24);
    d.qtSpatialQuality(768);
    EXPECT_EQ(d.FillQTAtomSettings(settings, false), -2101);
    ASSERT_EQ(
        QTInsertChild(settings, kParentAtomIsContainer, FOUR_CHAR_CODE("vide"), 1, 0, 0, nullptr, nullptr),
        0);
    d.qtWidth(320);
    d.qtHeight(240);
    EXPECT_EQ(d.FillQTAtomSettings(settings, true), 0);
    QTAtom vide = QTFindChildByIndex(settings, kParentAtomIsContainer, FOUR_CHAR_CODE("vide"), 1, nullptr);
    QTAtom sptl = QTFindChildByIndex(settings, vide, FOUR_CHAR_CODE("sptl"), 1, nullptr);
    int32_t size = 0;
    Ptr data = nullptr;
    ASSERT_EQ(QTGetAtomDataPtr(settings, sptl, &size, &data), 0);
    EXPECT_EQ(std::string(data, size_t(size)), std::string("jpeg\0\0\0\0\0\x18\0\0\x03\0", 14));

    Kelvo_ImgDesc from(settings);
    EXPECT_EQ(from.Error(), 0);
    EXPECT_EQ(from.dataFormat(), FOUR_CHAR_CODE("jpeg"));
    EXPECT_EQ(from.qtDepth(), 24);
    EXPECT_EQ(from.qtSpatialQuality(), 768u);
    EXPECT_EQ(from.qtWidth(), 320);
    EXPECT_EQ(from.qtHeight(), 240);
    QTDisposeAtomContainer(settings);

    Kelvo_ImgDesc nothing(static_cast<QTAtomContainer>(nullptr));
    EXPECT_EQ(nothing.Error(), 79);
    EXPECT_FALSE(nothing.qtObjIsValid());
}

TEST(ImgDesc, SwappingTheRecordAndItsColourTable) {
    Kelvo_ImgDesc d;
    d.dataFormat(FOUR_CHAR_CODE("raw "));
    d.qtWidth(0x0102);
    Handle big = d.nativeToBig();
    ASSERT_NE(big, nullptr);
    auto* b = reinterpret_cast<uint8_t*>(*big);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b) + 4, 4), "raw ");
    EXPECT_EQ(b[offsetof(ImageDescription, width)], 0x01);
    EXPECT_EQ(b[offsetof(ImageDescription, width) + 1], 0x02);
    EXPECT_EQ(b[3], 86); // idSize, big-endian
    Kelvo_ImgDesc::BtoN(big);
    EXPECT_EQ(handleBytes(big), handleBytes(d.hdesc()));
    DisposeHandle(big);

    // clutID other than 0: bytes past the record are never touched.
    Handle h = d.hdescCopy();
    const std::string tail("\x01\x02\x03\x04\x05\x06\x07\x08", 8);
    PtrAndHand(tail.data(), h, 8);
    Kelvo_ImgDesc::NtoB(h);
    EXPECT_EQ(std::string(*h + 86, 8), tail);
    DisposeHandle(h);

    // clutID 0 with no room for a table: it is told it has none.
    Handle bare = d.hdescCopy();
    reinterpret_cast<ImageDescription*>(*bare)->clutID = 0;
    Kelvo_ImgDesc::NtoB(bare);
    EXPECT_EQ(reinterpret_cast<ImageDescription*>(*bare)->clutID, -1);
    DisposeHandle(bare);

    // clutID 0 with a table of two entries (size word 1): header and entries swapped, the count
    // read in host order both ways; a table claiming more entries stops at the handle's end.
    Handle withTable = d.hdescCopy();
    reinterpret_cast<ImageDescription*>(*withTable)->clutID = 0;
    uint8_t table[24] = {};
    const uint32_t seed = 0x11223344;
    const uint16_t flags = 0x8000, count = 1;
    std::memcpy(table, &seed, 4);
    std::memcpy(table + 4, &flags, 2);
    std::memcpy(table + 6, &count, 2);
    for (int i = 0; i < 8; ++i) {
        const uint16_t w = uint16_t(0x0100 + i);
        std::memcpy(table + 8 + 2 * i, &w, 2);
    }
    PtrAndHand(table, withTable, 24);
    Handle original = withTable;
    HandToHand(&original);
    Kelvo_ImgDesc::NtoB(withTable);
    const auto* t = reinterpret_cast<uint8_t*>(*withTable) + 86;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(t), 8),
              std::string("\x11\x22\x33\x44\x80\x00\x00\x01", 8));
    EXPECT_EQ(t[8 + 14], 0x01);
    EXPECT_EQ(t[8 + 15], 0x07);
    Kelvo_ImgDesc::BtoN(withTable);
    EXPECT_EQ(handleBytes(withTable), handleBytes(original));
    DisposeHandle(withTable);
    DisposeHandle(original);
}

TEST(EffectDesc, ParametersAndSourceAtoms) {
    auto parameters = [](int32_t sources, bool withSpeed) {
        QTAtomContainer c = nullptr;
        QTNewAtomContainer(&c);
        const uint32_t what = EndianU32_NtoB(FOUR_CHAR_CODE("brco"));
        QTInsertChild(c, kParentAtomIsContainer, FOUR_CHAR_CODE("what"), 1, 0, 4,
                      const_cast<uint32_t*>(&what), nullptr);
        const int32_t srcs = EndianS32_NtoB(sources);
        QTInsertChild(c, kParentAtomIsContainer, FOUR_CHAR_CODE("srcs"), 1, 0, 4, const_cast<int32_t*>(&srcs),
                      nullptr);
        if (withSpeed) {
            const uint32_t speed = EndianU32_NtoB(uint32_t(Long2Fix(30)));
            QTInsertChild(c, kParentAtomIsContainer, FOUR_CHAR_CODE("sped"), 1, 0, 4,
                          const_cast<uint32_t*>(&speed), nullptr);
        }
        return c;
    };
    struct Case {
        int32_t sources;
        int expected; // 'src ' atoms added
    } cases[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 2}};
    for (const Case& c : cases) {
        QTAtomContainer p = parameters(c.sources, false);
        Kelvo_EffectDesc e(p);
        ASSERT_TRUE(e.qtObjIsValid()) << c.sources;
        EXPECT_EQ(e.dataFormat(), FOUR_CHAR_CODE("brco"));
        EXPECT_EQ(e.qtSourcesReq(), c.sources);
        EXPECT_TRUE(e.isRealTimeEffect());
        QTAtomContainer out = nullptr;
        ASSERT_EQ(e.effDescription(&out), 0);
        EXPECT_EQ(QTCountChildrenOfType(out, kParentAtomIsContainer, FOUR_CHAR_CODE("src ")), c.expected);
        if (c.expected >= 2) {
            QTAtom second = QTFindChildByID(out, kParentAtomIsContainer, FOUR_CHAR_CODE("src "), 2, nullptr);
            int32_t size = 0;
            Ptr data = nullptr;
            QTGetAtomDataPtr(out, second, &size, &data);
            EXPECT_EQ(std::string(data, size_t(size)), "srcB");
        }
        QTDisposeAtomContainer(out);
        // The effect keeps its own copy of the parameters.
        QTDisposeAtomContainer(p);
        std::unique_ptr<Kelvo_QTObj> copy(e.clone());
        ASSERT_NE(copy, nullptr);
        EXPECT_EQ(static_cast<Kelvo_EffectDesc*>(copy.get())->qtSourcesReq(), c.sources);
    }

    QTAtomContainer timed = parameters(1, true);
    Kelvo_EffectDesc slow(timed);
    EXPECT_EQ(slow.qtEffectSpeed(), 30.0);
    EXPECT_FALSE(slow.isRealTimeEffect());
    QTDisposeAtomContainer(timed);

    // Without a parameter container nothing can be described.
    Kelvo_EffectDesc empty;
    EXPECT_FALSE(empty.qtObjIsValid());
    QTAtomContainer out = nullptr;
    EXPECT_EQ(empty.effDescription(&out), -50);
    EXPECT_EQ(empty.qtEffectSpeed(), 0.0);
    EXPECT_EQ(Kelvo_EffectDesc(static_cast<QTAtomContainer>(nullptr)).Error(), 79);
}

TEST(ApertureModes, RectanglesAndCopies) {
    Kelvo_ApertureModesDimensions m;
    m.cleanDimensions(Kelvo_Rect(640, 480));
    m.productionDimensions(Kelvo_Rect()); // not a rectangle: zero
    EXPECT_EQ(m.clean().x, Long2Fix(640));
    EXPECT_EQ(m.production().x, 0);
    Kelvo_ApertureModesDimensions other;
    other.copy(m);
    EXPECT_EQ(other.cleanDimensions().height(), 480);
    EXPECT_EQ(Kelvo_ApertureModesDimensions(static_cast<Track>(nullptr)).clean().x, 0);
}

} // namespace
