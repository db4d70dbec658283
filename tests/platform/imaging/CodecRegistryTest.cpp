// The codec registry: capability records, the name list, codec components and the frame entry
// points.
#include "PlatformCodecRaw.h"
#include "PlatformCodecRegistry.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

using Frame = platform::codec::Picture;

namespace {

std::string pstring(const unsigned char* p) {
    return std::string(reinterpret_cast<const char*>(p + 1), p[0]);
}

struct Expected {
    OSType cType;
    const char* name;
    bool lossless;
};

const Expected kCodecs[] = {
    {FOUR_CHAR_CODE("raw "), "None", true},
    {FOUR_CHAR_CODE("jpeg"), "Photo - JPEG", false},
    {FOUR_CHAR_CODE("mjp2"), "JPEG 2000", false},
    {FOUR_CHAR_CODE("png "), "PNG", true},
    {FOUR_CHAR_CODE("WRLE"), "BMP", true},
    {FOUR_CHAR_CODE("8BPS"), "Planar RGB", true},
    {FOUR_CHAR_CODE("cmyk"), "CMYK", true},
    {FOUR_CHAR_CODE("2vuy"), "Component Y'CbCr 8-bit 4:2:2", true},
    {FOUR_CHAR_CODE("v216"), "Component Y'CbCr 10,12,14,16-bit 4:2:2", true},
    {FOUR_CHAR_CODE("b16g"), "16-bit Grayscale", true},
    {FOUR_CHAR_CODE("b48r"), "48-bit RGB", true},
};

Component codecComponent(OSType componentType, OSType cType) {
    ComponentDescription d{componentType, cType, 0, 0, 0};
    return FindNextComponent(nullptr, &d);
}

Frame gradient(int32_t width, int32_t height, int32_t components) {
    Frame p;
    p.width = width;
    p.height = height;
    p.components = components;
    p.samples.resize(size_t(width) * height * components);
    for (size_t i = 0; i < p.samples.size(); ++i)
        p.samples[i] = uint8_t(i * 7 + (i / 3) * 13);
    return p;
}

// A description handle of the type, dimensions and depth (`bytes` long, 86 by default).
ImageDescriptionHandle describe(OSType cType, int16_t width, int16_t height, int16_t depth, Size bytes = 86) {
    Handle h = NewHandleClear(bytes);
    if (bytes >= Size(sizeof(ImageDescription))) {
        ImageDescription d{};
        d.idSize = bytes;
        d.cType = cType;
        d.width = width;
        d.height = height;
        d.depth = depth;
        std::memcpy(*h, &d, sizeof d);
    }
    return reinterpret_cast<ImageDescriptionHandle>(h);
}

} // namespace

TEST(CodecRegistry, CodecInfoLayout) {
    struct Field {
        size_t offset, expected;
    } fields[] = {
        {offsetof(CodecInfo, typeName), 0},
        {offsetof(CodecInfo, version), 32},
        {offsetof(CodecInfo, revisionLevel), 34},
        {offsetof(CodecInfo, vendor), 36},
        {offsetof(CodecInfo, decompressFlags), 40},
        {offsetof(CodecInfo, compressFlags), 44},
        {offsetof(CodecInfo, formatFlags), 48},
        {offsetof(CodecInfo, compressionAccuracy), 52},
        {offsetof(CodecInfo, decompressionAccuracy), 53},
        {offsetof(CodecInfo, compressionSpeed), 54},
        {offsetof(CodecInfo, decompressionSpeed), 56},
        {offsetof(CodecInfo, compressionLevel), 58},
        {offsetof(CodecInfo, resvd), 59},
        {offsetof(CodecInfo, minimumHeight), 60},
        {offsetof(CodecInfo, minimumWidth), 62},
        {offsetof(CodecInfo, decompressPipelineLatency), 64},
        {offsetof(CodecInfo, compressPipelineLatency), 66},
        {offsetof(CodecInfo, privateData), 68},
    };
    for (const Field& f : fields)
        EXPECT_EQ(f.offset, f.expected);
}

TEST(CodecRegistry, NameListInOrder) {
    CodecNameSpecListPtr list = nullptr;
    ASSERT_EQ(GetCodecNameList(&list, 1), noErr);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->count, int16_t(std::size(kCodecs)));
    for (int i = 0; i < list->count; ++i) {
        const CodecNameSpec& spec = list->list[i];
        const Expected& e = kCodecs[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(spec.cType, e.cType);
        // The record's type name is a Str31; the name handle keeps the whole name.
        EXPECT_EQ(pstring(spec.typeName), std::string(e.name).substr(0, 31));
        ASSERT_TRUE(spec.name);
        EXPECT_EQ(pstring(reinterpret_cast<unsigned char*>(*spec.name)), e.name);
        EXPECT_EQ(spec.codec, codecComponent(compressorComponentType, e.cType));
    }
    EXPECT_EQ(pstring(list->list[8].typeName), "Component Y'CbCr 10,12,14,16-bi");
    EXPECT_EQ(DisposeCodecNameList(list), noErr);
    EXPECT_EQ(GetCodecNameList(nullptr, 1), paramErr);
    EXPECT_EQ(DisposeCodecNameList(nullptr), paramErr);
}

TEST(CodecRegistry, ShowAllListsEveryCompressorOfAType) {
    CodecInfo info{};
    ASSERT_EQ(GetCodecInfo(&info, FOUR_CHAR_CODE("jpeg"), anyCodec), noErr);
    Component second = platform::registerCodecComponent(compressorComponentType, FOUR_CHAR_CODE("jpeg"),
                                                        "JPEG Too", info, false, {}, nullptr);
    ASSERT_TRUE(second);
    for (int16_t showAll : {0, 1}) {
        CodecNameSpecListPtr list = nullptr;
        ASSERT_EQ(GetCodecNameList(&list, showAll), noErr);
        EXPECT_EQ(list->count, int16_t(std::size(kCodecs) + showAll));
        if (showAll) {
            EXPECT_EQ(list->list[list->count - 1].codec, second);
            EXPECT_EQ(pstring(reinterpret_cast<unsigned char*>(*list->list[list->count - 1].name)),
                      "JPEG Too");
        }
        DisposeCodecNameList(list);
    }
    // Without the thread-safe flag, its component flags are the compress flags alone.
    ComponentDescription cd{};
    ASSERT_EQ(GetComponentInfo(second, &cd, nullptr, nullptr, nullptr), noErr);
    EXPECT_EQ(cd.componentFlags, info.compressFlags);
    EXPECT_EQ(platform::unregisterComponent(second), noErr);
}

TEST(CodecRegistry, CodecInfoOfEachCodec) {
    for (const Expected& e : kCodecs) {
        SCOPED_TRACE(e.name);
        CodecInfo info{};
        ASSERT_EQ(GetCodecInfo(&info, e.cType, anyCodec), noErr);
        EXPECT_EQ(pstring(info.typeName), std::string(e.name).substr(0, 31));
        EXPECT_EQ(info.vendor, int32_t(platform::kVendorCode));
        EXPECT_EQ(info.version, 1);
        EXPECT_EQ((info.formatFlags & codecInfoDoesLossless) != 0, e.lossless);
        EXPECT_EQ(info.decompressFlags & codecInfoDoesEffect, 0u);
        EXPECT_NE(info.compressFlags & (codecInfoDoes8 | codecInfoDoes32), 0u);
        EXPECT_NE(info.decompressFlags & codecInfoDoes32, 0u);
        EXPECT_GE(info.minimumWidth, 1);
        // One compressor and one decompressor, flags = the record's, thread-safe.
        for (OSType type : {compressorComponentType, decompressorComponentType}) {
            Component c = codecComponent(type, e.cType);
            ASSERT_TRUE(c);
            ComponentDescription cd{};
            ASSERT_EQ(GetComponentInfo(c, &cd, nullptr, nullptr, nullptr), noErr);
            EXPECT_EQ(cd.componentManufacturer, platform::kVendorCode);
            const uint32_t flags =
                type == compressorComponentType ? info.compressFlags : info.decompressFlags;
            EXPECT_EQ(cd.componentFlags, flags | cmpThreadSafe);
            CodecInfo viaComponent{};
            ASSERT_EQ(GetCodecInfo(&viaComponent, e.cType, c), noErr);
            EXPECT_EQ(std::memcmp(&viaComponent, &info, sizeof info), 0);
            Handle icon = nullptr;
            EXPECT_EQ(GetComponentIconSuite(c, &icon), noErr);
            DisposeHandle(icon);
        }
    }
}

TEST(CodecRegistry, CodecInfoRefusals) {
    CodecInfo info{};
    info.version = 77;
    const Component jpegDecompressor = codecComponent(decompressorComponentType, FOUR_CHAR_CODE("jpeg"));
    ComponentDescription clocks{clockComponentType, 0, 0, 0, 0};
    const Component clock = FindNextComponent(nullptr, &clocks);
    int bogus = 0;
    struct Case {
        CodecType cType;
        CodecComponent codec;
        OSErr expected;
    } cases[] = {
        {FOUR_CHAR_CODE("zzzz"), anyCodec, noCodecErr},
        {0, anyCodec, noCodecErr},
        {FOUR_CHAR_CODE("png "), jpegDecompressor, noCodecErr}, // a component of another type
        {FOUR_CHAR_CODE("jpeg"), clock, noCodecErr},            // not a codec
        {FOUR_CHAR_CODE("jpeg"), reinterpret_cast<Component>(&bogus), noCodecErr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetCodecInfo(&info, c.cType, c.codec), c.expected) << c.cType;
        EXPECT_EQ(info.version, 77); // untouched
    }
    EXPECT_EQ(GetCodecInfo(nullptr, FOUR_CHAR_CODE("jpeg"), anyCodec), paramErr);
    // A type of 0 takes the component's; an instance stands for its component.
    ASSERT_EQ(GetCodecInfo(&info, 0, jpegDecompressor), noErr);
    EXPECT_EQ(pstring(info.typeName), "Photo - JPEG");
    ComponentInstance ci = OpenComponent(jpegDecompressor);
    ASSERT_TRUE(ci);
    EXPECT_EQ(GetCodecInfo(&info, FOUR_CHAR_CODE("jpeg"), reinterpret_cast<Component>(ci)), noErr);
    EXPECT_EQ(CloseComponent(ci), noErr);
}

TEST(CodecRegistry, FramesRoundTripThroughEachFamily) {
    struct Case {
        OSType cType;
        int16_t depth;
        int32_t components;
        bool exact;
    } cases[] = {
        {FOUR_CHAR_CODE("raw "), 24, 3, true},  {FOUR_CHAR_CODE("raw "), 40, 1, true},
        {FOUR_CHAR_CODE("8BPS"), 24, 3, true},  {FOUR_CHAR_CODE("png "), 24, 3, true},
        {FOUR_CHAR_CODE("WRLE"), 32, 4, true},  {FOUR_CHAR_CODE("jpeg"), 24, 3, false},
        {FOUR_CHAR_CODE("mjp2"), 24, 3, false}, {FOUR_CHAR_CODE("mjp2"), 40, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(reinterpret_cast<const char*>(&c.cType), 4) + " " + std::to_string(c.depth));
        const Frame in = gradient(9, 5, c.components);
        std::vector<uint8_t> bytes;
        ASSERT_EQ(platform::codecEncodeFrame(c.cType, c.depth, 1023, in, bytes), noErr);
        ASSERT_FALSE(bytes.empty());
        ImageDescriptionHandle desc = describe(c.cType, 9, 5, c.depth);
        Frame out;
        ASSERT_EQ(platform::codecDecodeFrame(desc, bytes.data(), bytes.size(), out), noErr);
        EXPECT_EQ(out.width, 9);
        EXPECT_EQ(out.height, 5);
        EXPECT_EQ(out.components, c.components);
        if (c.exact) {
            EXPECT_EQ(out.samples, in.samples);
        }
        // A description of other dimensions does not describe this frame.
        (*desc)->height = 6;
        EXPECT_EQ(platform::codecDecodeFrame(desc, bytes.data(), bytes.size(), out), codecBadDataErr);
        EXPECT_TRUE(out.samples.empty());
        EXPECT_EQ(out.width, 0);
        DisposeHandle(reinterpret_cast<Handle>(desc));
    }
}

TEST(CodecRegistry, FrameRefusals) {
    const Frame in = gradient(4, 4, 3);
    std::vector<uint8_t> bytes;
    ASSERT_EQ(platform::codecEncodeFrame(FOUR_CHAR_CODE("png "), 24, 512, in, bytes), noErr);
    Frame out = in;
    EXPECT_EQ(platform::codecDecodeFrame(nullptr, bytes.data(), bytes.size(), out), paramErr);
    EXPECT_TRUE(out.samples.empty());
    struct Case {
        OSType cType;
        int16_t width, height;
        Size bytes;
        OSErr expected;
    } cases[] = {
        {FOUR_CHAR_CODE("png "), 4, 4, 85, paramErr}, // short description
        {FOUR_CHAR_CODE("png "), 0, 4, 86, paramErr},        {FOUR_CHAR_CODE("png "), 4, -4, 86, paramErr},
        {FOUR_CHAR_CODE("zzzz"), 4, 4, 86, noCodecErr},      {0, 4, 4, 86, noCodecErr},
        {FOUR_CHAR_CODE("jpeg"), 4, 4, 86, codecBadDataErr}, // PNG bytes are no JPEG stream
        {FOUR_CHAR_CODE("png "), 4, 4, 120, noErr},          // a longer description (extensions)
    };
    for (const Case& c : cases) {
        ImageDescriptionHandle desc = describe(c.cType, c.width, c.height, 24, c.bytes);
        EXPECT_EQ(platform::codecDecodeFrame(desc, bytes.data(), bytes.size(), out), c.expected) << c.cType;
        DisposeHandle(reinterpret_cast<Handle>(desc));
    }
    ImageDescriptionHandle desc = describe(FOUR_CHAR_CODE("png "), 4, 4, 24);
    EXPECT_EQ(platform::codecDecodeFrame(desc, nullptr, 10, out), paramErr);
    EXPECT_EQ(platform::codecDecodeFrame(desc, nullptr, 0, out), codecBadDataErr);
    EXPECT_EQ(platform::codecDecodeFrame(desc, bytes.data(), bytes.size() / 2, out), codecBadDataErr);
    DisposeHandle(reinterpret_cast<Handle>(desc));

    // Encoding: unknown types, layouts and shapes.
    bytes.assign(3, 0);
    EXPECT_EQ(platform::codecEncodeFrame(FOUR_CHAR_CODE("zzzz"), 24, 512, in, bytes), noCodecErr);
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(platform::codecEncodeFrame(FOUR_CHAR_CODE("raw "), 12, 512, in, bytes), codecUnimpErr);
    Frame broken = in;
    broken.samples.pop_back();
    EXPECT_EQ(platform::codecEncodeFrame(FOUR_CHAR_CODE("png "), 24, 512, broken, bytes), paramErr);
    EXPECT_TRUE(bytes.empty());
}

TEST(CodecRegistry, CodecsOfOtherLayers) {
    // An effect registered by another layer: listed by its record, but no frames of ours.
    CodecInfo info{};
    info.typeName[0] = 4;
    std::memcpy(info.typeName + 1, "Wipe", 4);
    info.vendor = int32_t(FOUR_CHAR_CODE("test"));
    info.decompressFlags =
        codecInfoDoesEffect | codecInfoDoes32 | cmpThreadSafe; // the manager's bit is dropped
    Component effect = platform::registerCodecComponent(decompressorComponentType, FOUR_CHAR_CODE("wipe"),
                                                        "Wipe", info, false, {}, nullptr);
    ASSERT_TRUE(effect);
    ComponentDescription cd{};
    ASSERT_EQ(GetComponentInfo(effect, &cd, nullptr, nullptr, nullptr), noErr);
    EXPECT_EQ(cd.componentFlags, codecInfoDoesEffect | codecInfoDoes32);
    EXPECT_EQ(cd.componentManufacturer, FOUR_CHAR_CODE("test"));
    // The platform's own effects are found too; this layer's is the one of its maker.
    ComponentDescription effects{decompressorComponentType, 0, FOUR_CHAR_CODE("test"), codecInfoDoesEffect,
                                 codecInfoDoesEffect};
    EXPECT_EQ(FindNextComponent(nullptr, &effects), effect);
    ComponentDescription ours{decompressorComponentType, 0, platform::kVendorCode, codecInfoDoesEffect,
                              codecInfoDoesEffect};
    Component brco = FindNextComponent(nullptr, &ours);
    ASSERT_TRUE(brco);
    ASSERT_EQ(GetComponentInfo(brco, &cd, nullptr, nullptr, nullptr), noErr);
    EXPECT_EQ(cd.componentSubType, FOUR_CHAR_CODE("brco"));
    CodecInfo got{};
    ASSERT_EQ(GetCodecInfo(&got, FOUR_CHAR_CODE("wipe"), anyCodec), noErr);
    EXPECT_EQ(pstring(got.typeName), "Wipe");
    ImageDescriptionHandle desc = describe(FOUR_CHAR_CODE("wipe"), 4, 4, 32);
    Frame out;
    uint8_t byte = 0;
    EXPECT_EQ(platform::codecDecodeFrame(desc, &byte, 1, out), codecUnimpErr);
    DisposeHandle(reinterpret_cast<Handle>(desc));
    EXPECT_EQ(platform::registerCodecComponent(FOUR_CHAR_CODE("grip"), FOUR_CHAR_CODE("wipe"), "x", info,
                                               true, {}, nullptr),
              nullptr);
    EXPECT_EQ(platform::unregisterComponent(effect), noErr);
    EXPECT_EQ(GetCodecInfo(&got, FOUR_CHAR_CODE("wipe"), anyCodec), noCodecErr);
}
