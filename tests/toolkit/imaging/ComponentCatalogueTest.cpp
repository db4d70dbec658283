// The component and codec catalogue: component, search, codec and clock objects and the lists.
#include "KelvoCoreComponents.h"
#include "KelvoCoreObjectsTimeBase.h"

#include "PlatformClock.h"
#include "PlatformErrors.h"
#include "PlatformGWorlds.h"
#include "PlatformTimeBase.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr OSType kJPEG = FOUR_CHAR_CODE("jpeg");
constexpr OSType kPNG = FOUR_CHAR_CODE("png ");
constexpr OSType kTestType = FOUR_CHAR_CODE("tstk");

Component codecComponent(OSType componentType, OSType cType) {
    ComponentDescription d{componentType, cType, 0, 0, 0};
    return FindNextComponent(nullptr, &d);
}

// Components registered by a test, taken out again when it ends.
class ComponentCatalogueTest : public ::testing::Test {
  protected:
    ~ComponentCatalogueTest() override {
        for (Component c : _registered)
            platform::unregisterComponent(c);
    }
    Component add(OSType type, OSType subType, uint32_t flags, const char* name = "Test") {
        Component c = platform::registerComponent({type, subType, FOUR_CHAR_CODE("test"), flags, 0}, name,
                                                  nullptr, nullptr, {}, nullptr);
        if (c) _registered.push_back(c);
        return c;
    }
    Component addCodec(OSType componentType, OSType cType, const CodecInfo& info) {
        Component c =
            platform::registerCodecComponent(componentType, cType, "Test codec", info, true, {}, nullptr);
        if (c) _registered.push_back(c);
        return c;
    }
    std::vector<Component> _registered;
};

} // namespace

TEST_F(ComponentCatalogueTest, DefaultComponentIsInvalid) {
    Kelvo_Component none;
    EXPECT_FALSE(none.qtObjIsValid());
    EXPECT_EQ(none.Error(), paramErr);
    EXPECT_FALSE(none.openConnection());
    EXPECT_FALSE(none.isConnected());
    EXPECT_TRUE(none.closeConnection());
    EXPECT_STREQ(none.Name(), "");
    EXPECT_FALSE(none == none); // invalid objects are never equal
    EXPECT_TRUE(none != none);
    EXPECT_EQ(none.threadSafeInstance(), nullptr);
    Kelvo_Component noDescription(static_cast<ComponentDescription*>(nullptr));
    EXPECT_EQ(noDescription.Error(), paramErr);
    Kelvo_Component noMatch(kTestType, FOUR_CHAR_CODE("none"));
    EXPECT_FALSE(noMatch.qtObjIsValid());
    EXPECT_EQ(noMatch.Error(), paramErr);
    Kelvo_Component unknown(reinterpret_cast<Component>(&none)); // not a component: described with an error
    EXPECT_EQ(unknown.Error(), invalidComponentID);
    EXPECT_FALSE(unknown.openConnection());
}

TEST_F(ComponentCatalogueTest, ComponentDescribesAndConnects) {
    Kelvo_Component clock(clockComponentType, systemMicrosecondClock);
    ASSERT_TRUE(clock.qtObjIsValid());
    EXPECT_EQ(clock.Error(), 0);
    EXPECT_STREQ(clock.Name(), "System Clock");
    EXPECT_EQ(clock.PStrName()[0], 12);
    EXPECT_EQ(std::memcmp(clock.PStrName() + 1, "System Clock", 12), 0);
    EXPECT_EQ(clock.Type(), clockComponentType);
    EXPECT_EQ(clock.SubType(), systemMicrosecondClock);
    EXPECT_EQ(clock.Manufacturer(), platform::kVendorCode);
    EXPECT_TRUE(clock.CheckAttribute(Kelvo_QTObjComponent::kThreadSafeFlag));
    EXPECT_FALSE(clock.CheckAttribute(Kelvo_QTObjComponent::kThreadSafeFlag | 1));
    EXPECT_TRUE(clock.HasIcon());
    EXPECT_EQ(GetHandleSize(clock.Icon()), kIconSuiteBytes);
    EXPECT_TRUE(clock.isThreadSafe());
    EXPECT_TRUE(clock.isA("Kelvo_QTObjComponent"));

    ASSERT_TRUE(clock.openConnection());
    ComponentInstance ci = clock.instance();
    EXPECT_TRUE(platform::isClockInstance(ci));
    EXPECT_TRUE(clock.isConnected());
    EXPECT_TRUE(clock.openConnection()); // already connected: the same instance
    EXPECT_EQ(clock.instance(), ci);
    EXPECT_EQ(static_cast<ComponentInstance>(clock), ci);

    // A copy describes the same component, without the connection.
    Kelvo_Component copy(clock);
    EXPECT_TRUE(copy == clock);
    EXPECT_FALSE(copy.isConnected());
    EXPECT_STREQ(copy.Name(), "System Clock");
    EXPECT_NE(copy.Icon(), clock.Icon());
    std::unique_ptr<Kelvo_QTObj> cloned(clock.clone());
    ASSERT_TRUE(cloned && cloned->isA("Kelvo_Component"));
    EXPECT_TRUE(*static_cast<Kelvo_Component*>(cloned.get()) == clock);

    ASSERT_TRUE(clock.closeConnection());
    EXPECT_EQ(clock.instance(), nullptr);
    EXPECT_FALSE(platform::isClockInstance(ci));

    // The destructor closes an open connection; reset does too and forgets the component.
    {
        Kelvo_Component scoped(clock.id());
        ASSERT_TRUE(scoped.openConnection());
        ci = scoped.instance();
    }
    EXPECT_FALSE(platform::isClockInstance(ci));
    ASSERT_TRUE(copy.openConnection());
    ci = copy.instance();
    copy.reset();
    EXPECT_FALSE(platform::isClockInstance(ci));
    EXPECT_FALSE(copy.qtObjIsValid());
    EXPECT_EQ(copy.Error(), 0);
    EXPECT_STREQ(copy.Name(), "");
    EXPECT_FALSE(copy.HasIcon());

    // Copy takes another component object's component.
    Kelvo_Component steady(clockComponentType, systemSteadyClock);
    copy.Copy(steady);
    EXPECT_TRUE(copy == steady);
    EXPECT_TRUE(copy != clock);
}

TEST_F(ComponentCatalogueTest, ComponentFromAnInstance) {
    platform::ManualClock own(0);
    ComponentInstance ci = platform::openClock(&own);
    {
        Kelvo_Component described(ci, false);
        EXPECT_EQ(described.id(), reinterpret_cast<Component>(ci));
        EXPECT_EQ(described.Type(), clockComponentType);
        EXPECT_FALSE(described.isConnected());
    }
    EXPECT_TRUE(platform::isClockInstance(ci));
    {
        Kelvo_Component adopted(ci, true);
        EXPECT_TRUE(adopted.isConnected());
        EXPECT_EQ(adopted.instance(), ci);
    }
    EXPECT_FALSE(platform::isClockInstance(ci)); // adopted connections are closed
}

TEST_F(ComponentCatalogueTest, ClocksOwnTheirConnectionsOrNot) {
    Kelvo_Clock system(systemMicrosecondClock);
    ASSERT_TRUE(system.qtObjIsValid());
    EXPECT_TRUE(system.isA("Kelvo_Clock"));
    EXPECT_STREQ(system.qtObjName(), "Kelvo_Clock");
    ASSERT_TRUE(system.openConnection());
    ComponentInstance opened = system.instance();

    platform::ManualClock own(0);
    ComponentInstance ci = platform::openClock(&own);
    {
        Kelvo_Clock borrowed(ci, 1, 0);
        EXPECT_EQ(borrowed.instance(), ci);
        EXPECT_EQ(borrowed.SubType(), systemMicrosecondClock);
        borrowed.reset(); // forgets, never closes, what it does not own
        EXPECT_TRUE(platform::isClockInstance(ci));
        borrowed.initComponent(reinterpret_cast<Component>(ci));
    }
    EXPECT_TRUE(platform::isClockInstance(ci));
    { Kelvo_Clock owner(ci, 1, 1); }
    EXPECT_FALSE(platform::isClockInstance(ci));
    Kelvo_Clock none(nullptr, 1, 1);
    EXPECT_FALSE(none.qtObjIsValid());
    EXPECT_EQ(none.Error(), paramErr);
    EXPECT_TRUE(platform::isClockInstance(opened));
}

TEST_F(ComponentCatalogueTest, CodecDescribesItsRecord) {
    Kelvo_Codec jpeg(kJPEG, anyCodec);
    ASSERT_TRUE(jpeg.qtObjIsValid());
    EXPECT_EQ(jpeg.Error(), 0);
    EXPECT_STREQ(jpeg.Name(), "Photo - JPEG");
    EXPECT_EQ(jpeg.Type(), kJPEG);
    EXPECT_EQ(jpeg.Manufacturer(), platform::kVendorCode);
    CodecInfo info{};
    ASSERT_EQ(GetCodecInfo(&info, kJPEG, anyCodec), noErr);
    EXPECT_EQ(jpeg.Properties(), info.formatFlags);
    EXPECT_TRUE(jpeg.HasIcon());
    EXPECT_EQ(jpeg.CompVers(), info.version);
    EXPECT_EQ(jpeg.CodecVers(), info.revisionLevel);
    EXPECT_EQ(jpeg.CmpAccuracy(), info.compressionAccuracy);
    EXPECT_EQ(jpeg.DcmpSpeed(), info.decompressionSpeed);
    EXPECT_EQ(jpeg.CmpLevel(), info.compressionLevel);
    EXPECT_EQ(jpeg.MinWidth(), info.minimumWidth);
    EXPECT_FALSE(jpeg.CodecDoesLossless());
    EXPECT_FALSE(jpeg.CodecDoesEffect());
    EXPECT_TRUE(jpeg.isThreadSafeForCompression());
    EXPECT_TRUE(jpeg.isThreadSafeForDecompression());
    EXPECT_TRUE(jpeg.CodecCheckProperty(Kelvo_Codec::kCompressFlags, codecInfoDoes32));
    EXPECT_TRUE(jpeg.CodecCheckProperty(Kelvo_Codec::kDecompressFlags, codecInfoDoes8 | codecInfoDoes32));
    EXPECT_FALSE(jpeg.CodecCheckProperty(Kelvo_Codec::kCompressFlags, codecInfoDoesTemporal));
    EXPECT_FALSE(jpeg.CodecCheckProperty(2, 0));
    EXPECT_TRUE(Kelvo_Codec(kPNG, anyCodec).CodecDoesLossless());
    // The record's type name is a Str31.
    EXPECT_STREQ(Kelvo_Codec(FOUR_CHAR_CODE("v216"), anyCodec).Name(), "Component Y'CbCr 10,12,14,16-bi");

    // A codec of another layer with every capability.
    CodecInfo all{};
    all.typeName[0] = 3;
    std::memcpy(all.typeName + 1, "All", 3);
    all.compressFlags = codecInfoDoesTemporal | codecInfoDoesReorder | codecInfoDoesMultiPass |
                        codecInfoDoesRecompress | codecInfoDoesRateConstrain;
    all.decompressFlags = codecInfoDoesEffect;
    all.formatFlags = codecInfoDoesLossless;
    ASSERT_TRUE(addCodec(decompressorComponentType, FOUR_CHAR_CODE("tall"), all));
    Kelvo_Codec capable(FOUR_CHAR_CODE("tall"), anyCodec);
    ASSERT_TRUE(capable.qtObjIsValid());
    for (bool does : {capable.CodecDoesTemporal(), capable.CodecDoesReorder(), capable.CodecDoesMultiPass(),
                      capable.CodecDoesRecompress(), capable.CodecDoesDataRate(), capable.CodecDoesEffect(),
                      capable.CodecDoesLossless()})
        EXPECT_TRUE(does);
    EXPECT_FALSE(capable.isThreadSafeForCompression()); // no compressor
    EXPECT_TRUE(capable.isThreadSafeForDecompression());

    // Invalid codecs answer false to every capability.
    Kelvo_Codec unknown(FOUR_CHAR_CODE("zzzz"), anyCodec);
    EXPECT_FALSE(unknown.qtObjIsValid());
    EXPECT_EQ(unknown.Error(), noCodecErr);
    Kelvo_Codec empty;
    for (const Kelvo_Codec* c : {&unknown, &empty}) {
        EXPECT_FALSE(c->CodecDoesTemporal() || c->CodecDoesEffect() || c->CodecDoesLossless() ||
                     c->isThreadSafeForCompression() || c->isThreadSafeForDecompression());
    }
    EXPECT_FALSE(Kelvo_Codec::codecExists(0));
    EXPECT_FALSE(Kelvo_Codec::codecExists(FOUR_CHAR_CODE("zzzz")));
    EXPECT_TRUE(Kelvo_Codec::codecExists(kPNG));
}

TEST_F(ComponentCatalogueTest, CodecEqualityFollowsTheComponent) {
    const Component compressor = codecComponent(compressorComponentType, kJPEG);
    const Component decompressor = codecComponent(decompressorComponentType, kJPEG);
    Kelvo_Codec a(kJPEG, compressor), b(kJPEG, decompressor), c(kJPEG, compressor);
    ASSERT_TRUE(a.qtObjIsValid() && b.qtObjIsValid());
    EXPECT_FALSE(a == b);
    EXPECT_TRUE(a != b);
    EXPECT_TRUE(a == c);
    EXPECT_FALSE(a == Kelvo_Codec(kPNG, anyCodec));
    // The type may come from the component.
    Kelvo_Codec fromComponent(0, decompressor);
    EXPECT_EQ(fromComponent.Type(), kJPEG);
    EXPECT_TRUE(fromComponent == b);
    // Copies keep the record and the component.
    Kelvo_Codec copy(b);
    EXPECT_TRUE(copy == b);
    EXPECT_STREQ(copy.Name(), "Photo - JPEG");
    copy = a;
    EXPECT_TRUE(copy == a);
    EXPECT_EQ(copy.codec(), compressor);
    std::unique_ptr<Kelvo_QTObj> cloned(a.clone());
    ASSERT_TRUE(cloned && cloned->isA("Kelvo_Codec"));
    EXPECT_TRUE(*static_cast<Kelvo_Codec*>(cloned.get()) == a);
    Kelvo_Codec other;
    other.copy(*cloned);
    EXPECT_TRUE(other == a);
    Kelvo_Codec invalid1, invalid2;
    EXPECT_FALSE(invalid1 == invalid2);
    copy.reset();
    EXPECT_FALSE(copy.qtObjIsValid());
    EXPECT_EQ(copy.codec(), nullptr);
    EXPECT_EQ(copy.CmpLevel(), 0);
}

TEST_F(ComponentCatalogueTest, SearchObjectsAndThreadSafety) {
    Kelvo_ComponentForSearch search(kTestType, FOUR_CHAR_CODE("safe"), 0, 0, 0);
    search.PropertiesMask() = Kelvo_QTObjComponent::kMissingFlag;
    ComponentDescription d{};
    search.getDescription(d);
    EXPECT_EQ(d.componentType, kTestType);
    EXPECT_EQ(d.componentSubType, FOUR_CHAR_CODE("safe"));
    EXPECT_EQ(d.componentFlagsMask, Kelvo_QTObjComponent::kMissingFlag);
    Kelvo_ComponentForSearch copy;
    copy.Copy(search);
    ComponentDescription c{};
    copy.getDescription(c);
    EXPECT_EQ(std::memcmp(&c, &d, sizeof c), 0);
    copy.setDescription({1, 2, 3, 4, 5});
    EXPECT_EQ(copy.Manufacturer(), 3u);
    EXPECT_EQ(copy.Properties(), 4u);
    EXPECT_EQ(copy.PropertiesMask(), 5u);
    copy.reset();
    EXPECT_EQ(copy.PropertiesMask(), 0u);
    EXPECT_EQ(copy.Type(), 0u);

    // Unsafe first, a missing safe one, then a safe one: lookups pick the safe one present.
    Component unsafe = add(kTestType, FOUR_CHAR_CODE("safe"), 0, "Unsafe");
    add(kTestType, FOUR_CHAR_CODE("safe"),
        Kelvo_QTObjComponent::kThreadSafeFlag | Kelvo_QTObjComponent::kMissingFlag, "Missing");
    EXPECT_FALSE(Kelvo_QTObjComponent::isThreadSafe(kTestType, FOUR_CHAR_CODE("safe")));
    Kelvo_Component first(unsafe);
    EXPECT_FALSE(first.isThreadSafe());
    EXPECT_EQ(first.threadSafeInstance(), nullptr);
    Component safe = add(kTestType, FOUR_CHAR_CODE("safe"), Kelvo_QTObjComponent::kThreadSafeFlag, "Safe");
    EXPECT_TRUE(first.isThreadSafe());
    EXPECT_EQ(Kelvo_QTObjComponent::threadSafeComponent(d), safe);
    std::unique_ptr<Kelvo_Component> instance(first.threadSafeInstance());
    ASSERT_TRUE(instance);
    EXPECT_EQ(instance->id(), safe);
    EXPECT_STREQ(instance->Name(), "Safe");

    int32_t err = -1;
    std::unique_ptr<Kelvo_QTObjectsList> list(Kelvo_GetListOfComponents(&search, err));
    ASSERT_TRUE(list);
    EXPECT_EQ(err, 0);
    EXPECT_EQ(list->count(), 2); // the missing one is masked out
    EXPECT_EQ(Kelvo_GetListOfComponents(static_cast<Kelvo_ComponentForSearch*>(nullptr), err), nullptr);
    EXPECT_EQ(err, paramErr);
}

TEST_F(ComponentCatalogueTest, ListOfAvailableCodecsInOrder) {
    int32_t err = -1;
    std::unique_ptr<Kelvo_QTObjectsList> list(Kelvo_GetListOfAvailableCodecs(err));
    ASSERT_TRUE(list);
    EXPECT_EQ(err, 0);
    const OSType expected[] = {FOUR_CHAR_CODE("raw "), kJPEG,
                               FOUR_CHAR_CODE("mjp2"), kPNG,
                               FOUR_CHAR_CODE("WRLE"), FOUR_CHAR_CODE("8BPS"),
                               FOUR_CHAR_CODE("cmyk"), FOUR_CHAR_CODE("2vuy"),
                               FOUR_CHAR_CODE("v216"), FOUR_CHAR_CODE("b16g"),
                               FOUR_CHAR_CODE("b48r")};
    ASSERT_EQ(list->count(), int32_t(std::size(expected)));
    for (int i = 0; i < list->count(); ++i) {
        Kelvo_QTObj* object = list->getObjValueByRef(i);
        ASSERT_TRUE(object && object->isA("Kelvo_Codec"));
        auto* codec = static_cast<Kelvo_Codec*>(object);
        EXPECT_EQ(codec->Type(), expected[i]);
        EXPECT_EQ(codec->codec(), codecComponent(compressorComponentType, expected[i]));
    }
    EXPECT_STREQ(static_cast<Kelvo_Codec*>(list->getObjValueByRef(1))->Name(), "Photo - JPEG");
}

TEST_F(ComponentCatalogueTest, ListsOfComponentsByKind) {
    int32_t err = -1;
    for (int kind : {0, 7, 8, 10, -1}) {
        err = 0;
        EXPECT_EQ(Kelvo_GetListOfComponents(kind, err), nullptr) << kind;
        EXPECT_EQ(err, paramErr) << kind;
    }
    Component importer = add(GraphicsImporterComponentType, FOUR_CHAR_CODE("tpng"), 0, "Importer");
    add(GraphicsExporterComponentType, FOUR_CHAR_CODE("tpng"), 1, "Exporter with bit 0");
    Component exporter = add(GraphicsExporterComponentType, FOUR_CHAR_CODE("tjpg"), 2, "Exporter");
    CodecInfo effect{};
    effect.decompressFlags = codecInfoDoesEffect;
    Component wipe = addCodec(decompressorComponentType, FOUR_CHAR_CODE("twip"), effect);
    struct Case {
        int kind;
        std::vector<Component> expected;
    } cases[] = {{1, {importer}}, {2, {exporter}}, {9, {wipe}}, {3, {}}, {4, {}}, {5, {}}, {6, {}}};
    for (const Case& c : cases) {
        std::unique_ptr<Kelvo_QTObjectsList> list(Kelvo_GetListOfComponents(c.kind, err));
        ASSERT_TRUE(list) << c.kind;
        EXPECT_EQ(err, 0);
        // The platform's own importers and effects are listed too: only this test's are compared.
        std::vector<Component> got;
        for (int i = 0; i < list->count(); ++i) {
            auto* component = static_cast<Kelvo_Component*>(list->getObjValueByRef(i));
            if (component->Manufacturer() != platform::kVendorCode) got.push_back(component->id());
        }
        EXPECT_EQ(got, c.expected) << c.kind;
    }

    std::unique_ptr<Kelvo_QTObjectsList> all(Kelvo_GetListOfComponents(err));
    ASSERT_TRUE(all);
    EXPECT_EQ(all->count(), CountComponents(nullptr));
    auto* firstOfAll = static_cast<Kelvo_Component*>(all->getObjValueByRef(0));
    EXPECT_EQ(firstOfAll->Type(), clockComponentType);
    EXPECT_EQ(Kelvo_GetListOfComponents(static_cast<ComponentDescription*>(nullptr), err), nullptr);
    EXPECT_EQ(err, paramErr);
}

TEST_F(ComponentCatalogueTest, IconImageDrawsTheIcon) {
    Kelvo_Codec png(kPNG, anyCodec);
    ASSERT_TRUE(png.HasIcon());
    GWorldPtr world = png.IconImage();
    ASSERT_NE(world, nullptr) << png.Error();
    Rect bounds{};
    GetPortBounds(world, &bounds);
    EXPECT_EQ(bounds.right - bounds.left, 32);
    EXPECT_EQ(bounds.bottom - bounds.top, 32);
    // The world holds the icon's pixels, row for row.
    PixMapHandle map = GetGWorldPixMap(world);
    const auto* pixels = reinterpret_cast<const uint8_t*>(GetPixBaseAddr(map));
    const int32_t rowBytes = GetPixRowBytes(map);
    const auto* icon = reinterpret_cast<const uint8_t*>(*png.Icon());
    for (int row = 0; row < 32; ++row)
        EXPECT_EQ(std::memcmp(pixels + row * rowBytes, icon + row * 128, 128), 0) << row;
    DisposeGWorld(world);
    // Without an icon there is no image, and no error either.
    Kelvo_Codec none;
    EXPECT_EQ(none.IconImage(), nullptr);
    EXPECT_EQ(none.Error(), 0);
    // An icon suite is drawn only whole.
    Rect r{0, 0, 32, 32};
    Handle tooSmall = NewHandle(16);
    EXPECT_EQ(PlotIconSuite(&r, kAlignNone, kTransformNone, tooSmall), paramErr);
    EXPECT_EQ(PlotIconSuite(nullptr, kAlignNone, kTransformNone, png.Icon()), paramErr);
    DisposeHandle(tooSmall);
}

TEST_F(ComponentCatalogueTest, ConcurrentLookupsAndConnections) {
    constexpr int kThreads = 6, kRounds = 150;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                Kelvo_Codec codec(kJPEG, anyCodec);
                if (!codec.qtObjIsValid() || std::strcmp(codec.Name(), "Photo - JPEG") != 0) ++failures;
                if (!codec.isThreadSafeForDecompression()) ++failures;
                Kelvo_Clock clock(systemMicrosecondClock);
                if (!clock.openConnection() || !clock.closeConnection()) ++failures;
                if (!Kelvo_Codec::codecExists(kPNG)) ++failures;
            }
        });
    }
    for (std::thread& th : threads)
        th.join();
    EXPECT_EQ(failures.load(), 0);
}

// A presentation makes a clock component, attaches it to its time base and lets the wrapper go:
// the clock instance the time base opened keeps driving it, and goes with its last time base.
TEST_F(ComponentCatalogueTest, AClockComponentDrivesATimeBaseAfterItsWrapperGoes) {
    platform::ManualClock manual(0);
    platform::ScopedSystemClock scoped(manual);
    Kelvo_TimeBase tb;
    tb.rate(1.0);
    {
        Kelvo_Clock clock(systemMicrosecondClock);
        ASSERT_TRUE(clock.qtObjIsValid());
        EXPECT_FALSE(clock.isConnected());
        tb.attachClock(clock);
        EXPECT_EQ(tb.Error(), 0);
    }
    auto base = static_cast<TimeBase>(tb.qtObjReference());
    ComponentInstance master = GetTimeBaseMasterClock(base);
    ASSERT_NE(master, nullptr);
    EXPECT_TRUE(platform::isClockInstance(master));
    manual.advanceMilliseconds(500);
    EXPECT_EQ(tb.currentTime(), 300);

    // The same clock again keeps it; another master closes it.
    SetTimeBaseMasterClock(base, reinterpret_cast<Component>(master), nullptr);
    EXPECT_EQ(GetMoviesError(), noErr);
    EXPECT_TRUE(platform::isClockInstance(master));
    SetTimeBaseMasterClock(base, nullptr, nullptr);
    EXPECT_FALSE(platform::isClockInstance(master));

    // A component that is not a clock is refused.
    Kelvo_Component png(FOUR_CHAR_CODE("imdc"), FOUR_CHAR_CODE("png "));
    ASSERT_TRUE(png.qtObjIsValid());
    SetTimeBaseMasterClock(base, png.id(), nullptr);
    EXPECT_EQ(GetMoviesError(), paramErr);
}
