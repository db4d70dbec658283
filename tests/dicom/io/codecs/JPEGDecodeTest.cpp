#include "CodecFixtures.h"
#include "JPEGLib.h"
#include "JPEGTestStreams.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

using namespace codectest;

namespace {

struct Decoded {
    OSStatus status;
    uint32_t size;
    std::vector<uint8_t> bytes;
};

// Decodes into a buffer of exactly `capacity` bytes, so that a write past it is caught.
Decoded decode(const std::vector<uint8_t>& stream, uint32_t capacity = 1 << 16) {
    std::vector<uint8_t> src(stream);
    uint8_t* p = src.data();
    uint32_t size = uint32_t(src.size());
    auto* dst = static_cast<uint8_t*>(std::malloc(capacity ? capacity : 1));
    std::memset(dst, 0xEE, capacity);
    const OSStatus status = DecodeJPEGData(&p, reinterpret_cast<uint16_t*>(dst), &size, capacity);
    Decoded d{status, size, std::vector<uint8_t>(dst, dst + (status == noErr ? size : 0))};
    std::free(dst);
    return d;
}

// The table most hand-made streams use: "0" is category 3, "10" is category 0.
StreamBuilder& smallTable(StreamBuilder& s, int index = 0) {
    return s.dht(index, {1, 1}, {3, 0});
}

// A 4 x 2 8-bit frame, predictor 1: the first sample 128 + 5, the first of row 1 its upper
// neighbour - 6, every other difference 0.
std::vector<uint8_t> fourByTwo() {
    StreamBuilder s;
    s.soi().sof(0xC3, 8, 2, 4);
    smallTable(s).sos({{1, 0x00}}, 1);
    return s.bits("0101 10 10 10  0001 10 10 10").eoi().out;
}

} // namespace

TEST(JPEGDecode, EqualsDcmtkOnItsStreamsAndPydicomsCorpus) {
    const auto cases = fixtureCases("jpeg");
    ASSERT_GE(cases.size(), 20u) << "fixtures missing: see " << (fixtureDir() / "make.log");
    for (const FixtureCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> reference = readFile(fixtureDir() / (c.name + ".ref.bin"));
        ASSERT_EQ(reference.size(), size_t(c.frameBytes()) * c.frames);
        for (uint32_t f = 0; f < c.frames; ++f) {
            const auto stream = readFile(fixtureDir() / (c.name + ".f" + std::to_string(f) + ".bin"));
            const Decoded d = decode(stream, c.frameBytes());
            ASSERT_EQ(d.status, noErr) << "frame " << f;
            ASSERT_EQ(d.size, c.frameBytes());
            // Samples over 8 bits come out in host order; the reference is little-endian.
            EXPECT_TRUE(
                std::equal(d.bytes.begin(), d.bytes.end(), reference.begin() + size_t(f) * c.frameBytes()))
                << "frame " << f;
        }
    }
}

TEST(JPEGDecode, SmallFrameFollowsItsPredictions) {
    const Decoded d = decode(fourByTwo());
    ASSERT_EQ(d.status, noErr);
    EXPECT_EQ(d.bytes, (std::vector<uint8_t>{133, 133, 133, 133, 127, 127, 127, 127}));
}

TEST(JPEGDecode, RestartsStartRowsAfreshInMarkerOrder) {
    auto stream = [](int first, int second) {
        StreamBuilder s;
        s.soi().sof(0xC3, 8, 3, 4).dri(4);
        smallTable(s).sos({{1, 0x00}}, 1);
        const char* row = "0101 10 10 10";
        return s.bits(row).rst(first).bits(row).rst(second).bits(row).eoi().out;
    };
    const Decoded d = decode(stream(0, 1));
    ASSERT_EQ(d.status, noErr);
    EXPECT_EQ(d.bytes,
              std::vector<uint8_t>(12, 133)); // without the restarts rows 1 and 2 would start at 138, 143
    EXPECT_EQ(decode(stream(1, 2)).status, kJPEGCorruptDataErr);
    EXPECT_EQ(decode(stream(0, 0)).status, kJPEGCorruptDataErr);
}

TEST(JPEGDecode, StuffedFFIsDataAndUnstuffedFFIsAMarker) {
    // "1" is category 0: sixteen zero differences are two FF bytes of data.
    auto stream = [](bool stuffed) {
        StreamBuilder s;
        s.soi().sof(0xC3, 8, 1, 16).dht(0, {2}, {5, 0}).sos({{1, 0x00}}, 1);
        return s.bits("1111111111111111", stuffed).eoi().out;
    };
    const Decoded d = decode(stream(true));
    ASSERT_EQ(d.status, noErr);
    EXPECT_EQ(d.bytes, std::vector<uint8_t>(16, 128));
    EXPECT_EQ(decode(stream(false)).status, kJPEGCorruptDataErr);
}

TEST(JPEGDecode, InterleavedComponentsComeOutPixelByPixel) {
    StreamBuilder s;
    s.soi().sof(0xC3, 8, 1, 2, {{1, 0x11}, {2, 0x11}, {3, 0x11}, {4, 0x11}});
    smallTable(s).sos({{1, 0}, {2, 0}, {3, 0}, {4, 0}}, 1);
    // Component c's first sample is 128 + 5, its second 6 less.
    const Decoded d = decode(s.bits("0101 0101 0101 0101  0001 0001 0001 0001").eoi().out);
    ASSERT_EQ(d.status, noErr);
    EXPECT_EQ(d.bytes, (std::vector<uint8_t>{133, 133, 133, 133, 127, 127, 127, 127}));
}

TEST(JPEGDecode, OtherSegmentsAndStrayMarkersArePassedOver) {
    StreamBuilder s;
    s.soi()
        .segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0})
        .segment(0xFE, {0xFF, 0xD9, 0xFF}) // a comment holding marker-like bytes
        .segment(0xDB, std::vector<int>(65, 0xFF))
        .raw({0x12, 0xFF, 0x00, 0xFF, 0xFF, 0xD0}) // junk, FF 00, fill and a stray RST0
        .sof(0xC3, 8, 2, 4);
    smallTable(s).raw({0xFF, 0x01}).sos({{1, 0x00}}, 1);
    const std::vector<uint8_t> expected = decode(fourByTwo()).bytes;
    const Decoded d = decode(s.bits("0101 10 10 10  0001 10 10 10").eoi().out);
    ASSERT_EQ(d.status, noErr);
    EXPECT_EQ(d.bytes, expected);
}

TEST(JPEGDecode, HeaderFaultsHaveTheirStatuses) {
    const char* row = "0101 10 10 10";
    struct Case {
        const char* what;
        std::vector<uint8_t> stream;
        OSStatus status;
    };
    auto base = [] { return StreamBuilder().soi(); };
    auto table = [](StreamBuilder s) {
        smallTable(s);
        return s;
    };
    const std::vector<Case> cases = {
        {"no SOI", StreamBuilder().raw({0xFF, 0xD9, 0xFF, 0xD8}).out, kJPEGNoSOIErr},
        {"one byte", StreamBuilder().raw({0xFF}).out, kJPEGNoSOIErr},
        {"progressive", base().sof(0xC2, 8, 1, 4).out, kJPEGFrameTypeErr},
        {"differential", base().sof(0xC5, 8, 1, 4).out, kJPEGFrameTypeErr},
        {"scan before frame", table(base()).sos({{1, 0}}, 1).out, kJPEGFrameTypeErr},
        {"end before frame", base().eoi().out, kJPEGFrameTypeErr},
        {"stream ends in tables", base().raw({0xFF, 0xC4, 0x00}).out, kJPEGCorruptDataErr},
        {"end of image before scan", table(base().sof(0xC3, 8, 1, 4)).eoi().out, kJPEGNoScanErr},
        {"second frame", table(base().sof(0xC3, 8, 1, 4)).sof(0xC3, 8, 1, 4).out, kJPEGNoScanErr},
        {"zero width", base().sof(0xC3, 8, 1, 0).out, kJPEGEmptyImageErr},
        {"zero height", base().sof(0xC3, 8, 0, 4).out, kJPEGEmptyImageErr},
        {"no components", base().sof(0xC3, 8, 1, 4, {}).out, kJPEGEmptyImageErr},
        {"precision 1", base().sof(0xC3, 1, 1, 4).out, kJPEGPrecisionErr},
        {"precision 17", base().sof(0xC3, 17, 1, 4).out, kJPEGPrecisionErr},
        {"frame length", base().sof(0xC3, 8, 1, 4, {{1, 0x11}}, 1).out, kJPEGBogusSOFErr},
        {"sampling 2x1", table(base().sof(0xC3, 8, 1, 4, {{1, 0x21}})).sos({{1, 0}}, 1).bits(row).out,
         kJPEGSamplingFactorsErr},
        {"sampling 1x2 of the second component",
         table(base().sof(0xC3, 8, 1, 4, {{1, 0x11}, {2, 0x12}})).sos({{1, 0}, {2, 0}}, 1).bits(row).out,
         kJPEGSamplingFactorsErr},
        {"scan of no components", table(base().sof(0xC3, 8, 1, 4)).sos({}, 1).out, kJPEGBogusSOSErr},
        {"scan length", table(base().sof(0xC3, 8, 1, 4)).raw({0xFF, 0xDA, 0, 9, 1, 1, 0, 1, 0, 0}).out,
         kJPEGBogusSOSErr},
        {"five components",
         table(base().sof(0xC3, 8, 1, 1, {{1, 0x11}, {2, 0x11}, {3, 0x11}, {4, 0x11}, {5, 0x11}}))
             .sos({{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}}, 1)
             .out,
         kJPEGTooManyComponentsErr},
        {"unknown component", table(base().sof(0xC3, 8, 1, 4)).sos({{7, 0}}, 1).out, kJPEGBadComponentErr},
        {"undefined table", table(base().sof(0xC3, 8, 1, 4)).sos({{1, 0x10}}, 1).bits(row).out,
         kJPEGUndefinedTableErr},
        {"table number 5", table(base().sof(0xC3, 8, 1, 4)).sos({{1, 0x50}}, 1).bits(row).out,
         kJPEGUndefinedTableErr},
        {"AC table", base().dht(0x10, {1, 1}, {3, 0}).out, kJPEGBogusDHTIndexErr},
        {"table index 4", base().dht(4, {1, 1}, {3, 0}).out, kJPEGBogusDHTIndexErr},
        {"too many codes", base().dht(0, std::vector<int>(16, 17), std::vector<int>(272, 0)).out,
         kJPEGBogusDHTCountsErr},
        {"segment past the stream", base().raw({0xFF, 0xC4, 0, 20, 0, 0, 5}).out, kJPEGCorruptDataErr},
        {"values past the segment",
         base()
             .raw({0xFF, 0xC4, 0, 21, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2})
             .sof(0xC3, 8, 1, 4)
             .out,
         kJPEGBogusDHTCountsErr},
        {"oversubscribed code lengths",
         base().sof(0xC3, 8, 1, 4).dht(0, {3}, {0, 1, 2}).sos({{1, 0}}, 1).bits(row).out,
         kJPEGBadHuffmanTableErr},
        {"category 17", base().sof(0xC3, 8, 1, 4).dht(0, {1, 1}, {17, 0}).sos({{1, 0}}, 1).bits(row).out,
         kJPEGBadHuffmanTableErr},
        {"restart segment length", base().raw({0xFF, 0xDD, 0, 5, 0, 4, 0}).out, kJPEGBogusDRIErr},
        {"scan without the frame's other components",
         table(base().sof(0xC3, 8, 1, 4, {{1, 0x11}, {2, 0x11}})).sos({{1, 0}}, 1).bits(row).out,
         kJPEGUnsupportedErr},
        {"restart inside a row", table(base().sof(0xC3, 8, 2, 4).dri(3)).sos({{1, 0}}, 1).bits(row).out,
         kJPEGUnsupportedErr},
        {"point transform of the whole precision",
         table(base().sof(0xC3, 8, 1, 4)).sos({{1, 0}}, 1, 8).bits(row).out, kJPEGCorruptDataErr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Decoded d = decode(c.stream);
        EXPECT_EQ(d.status, c.status);
        EXPECT_EQ(d.size, 0u);
    }
}

TEST(JPEGDecode, AHuffmanTableOfTheLossyProcessEndsTheDecode) {
    // A baseline stream: quantisation table, frame, then its AC table.
    StreamBuilder s;
    s.soi()
        .segment(0xDB, std::vector<int>(65, 1))
        .sof(0xC0, 8, 8, 8)
        .dht(0x00, {0, 1, 5, 1, 1, 1, 1, 1, 1}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    s.dht(0x10, {0, 2, 1}, {1, 2, 3});
    EXPECT_EQ(decode(s.out).status, kJPEGBogusDHTIndexErr);
}

TEST(JPEGDecode, CorruptDataIsReported) {
    // No code begins with 1: the data holds a code the table does not have.
    StreamBuilder bad;
    bad.soi().sof(0xC3, 8, 1, 4).dht(0, {0, 1}, {0}).sos({{1, 0}}, 1);
    EXPECT_EQ(decode(bad.raw({0xFF, 0x00, 0xFF, 0x00}).eoi().out).status, kJPEGCorruptDataErr);

    // A frame larger than the data could ever hold is refused before any output is made.
    StreamBuilder huge;
    huge.soi().sof(0xC3, 8, 65535, 65535);
    smallTable(huge).sos({{1, 0}}, 1);
    EXPECT_EQ(decode(huge.bits("0101").eoi().out).status, kJPEGCorruptDataErr);
}

TEST(JPEGDecode, TruncatedStreamsFailAndAMissingEndMarkerDoesNot) {
    // A real stream: a DCMTK 16-bit frame.
    const auto cases = fixtureCases("jpeg");
    ASSERT_FALSE(cases.empty());
    const FixtureCase* c = nullptr;
    for (const auto& k : cases)
        if (k.name == "jpeg_g12_e1") c = &k;
    ASSERT_NE(c, nullptr);
    const auto stream = readFile(fixtureDir() / (c->name + ".f0.bin"));
    const Decoded whole = decode(stream, c->frameBytes());
    ASSERT_EQ(whole.status, noErr);
    // The stream ends with FF D9, possibly followed by a pad byte; FF fill bytes may come before
    // the marker. Everything before them is needed.
    size_t eoi = stream.size() - 2;
    while (!(stream[eoi] == 0xFF && stream[eoi + 1] == 0xD9))
        --eoi;
    while (stream[eoi - 1] == 0xFF)
        --eoi;
    for (size_t cut = 0; cut < eoi; cut += (cut < 400 || cut + 64 > eoi) ? 1 : 37) {
        const std::vector<uint8_t> part(stream.begin(), stream.begin() + ptrdiff_t(cut));
        const Decoded d = decode(part, c->frameBytes());
        ASSERT_NE(d.status, noErr) << "cut at " << cut;
        ASSERT_EQ(d.size, 0u);
    }
    for (size_t cut : {eoi, eoi + 1}) {
        const Decoded d =
            decode(std::vector<uint8_t>(stream.begin(), stream.begin() + ptrdiff_t(cut)), c->frameBytes());
        EXPECT_EQ(d.status, noErr);
        EXPECT_EQ(d.bytes, whole.bytes);
    }
}

TEST(JPEGDecode, NeverWritesPastTheCallersBuffer) {
    // decode() gives the decoder a buffer of exactly the capacity; ASan watches its end.
    const Decoded tooSmall = decode(fourByTwo(), 7);
    EXPECT_EQ(tooSmall.status, kJPEGOutputTooSmallErr);
    EXPECT_EQ(tooSmall.size, 0u);
    const Decoded exact = decode(fourByTwo(), 8);
    EXPECT_EQ(exact.status, noErr);
    EXPECT_EQ(exact.size, 8u);
}

TEST(JPEGDecode, MissingArguments) {
    std::vector<uint8_t> stream = fourByTwo();
    uint8_t* src = stream.data();
    uint8_t* none = nullptr;
    uint16_t dst[8];
    uint32_t size = 0;
    EXPECT_EQ(DecodeJPEGData(&src, dst, &size, sizeof dst), kJPEGNoSourceErr);
    size = uint32_t(stream.size());
    EXPECT_EQ(DecodeJPEGData(&none, dst, &size, sizeof dst), kJPEGNoSourceErr);
    EXPECT_EQ(size, 0u);
    size = uint32_t(stream.size());
    EXPECT_EQ(DecodeJPEGData(nullptr, dst, &size, sizeof dst), kJPEGNoSourceErr);
    size = uint32_t(stream.size());
    EXPECT_EQ(DecodeJPEGData(&src, nullptr, &size, sizeof dst), paramErr);
    EXPECT_EQ(DecodeJPEGData(&src, dst, nullptr, sizeof dst), kJPEGNoSourceErr);
}

TEST(JPEGDecode, TakingOverTheSource) {
    const std::vector<uint8_t> stream = fourByTwo();
    const std::vector<uint8_t> expected = decode(stream).bytes;
    auto copy = [&] {
        auto* p = static_cast<uint8_t*>(std::malloc(stream.size()));
        std::memcpy(p, stream.data(), stream.size());
        return p;
    };

    uint8_t* src = copy();
    uint32_t size = uint32_t(stream.size());
    void* out = nullptr;
    testing::internal::CaptureStderr();
    ASSERT_EQ(DecodeJPEGImage(&src, &size, &out, 1), noErr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "sample precision=8\nimage height=2\nimage width=4\ncomponent=1\n");
    EXPECT_EQ(src, nullptr);
    ASSERT_EQ(size, expected.size());
    EXPECT_EQ(std::memcmp(out, expected.data(), size), 0);
    std::free(out);

    void* buffer = copy();
    size = uint32_t(stream.size());
    ASSERT_EQ(DecodeJPEGImage1Buffer(&buffer, &size), noErr);
    ASSERT_EQ(size, expected.size());
    EXPECT_EQ(std::memcmp(buffer, expected.data(), size), 0);
    std::free(buffer);

    // On failure the source is released too and nothing is handed out (ASan checks for leaks).
    src = copy();
    src[0] = 0;
    size = uint32_t(stream.size());
    testing::internal::CaptureStderr();
    EXPECT_EQ(DecodeJPEGImage(&src, &size, &out, 0), kJPEGNoSOIErr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(src, nullptr);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(size, 0u);
    buffer = copy();
    static_cast<uint8_t*>(buffer)[1] = 0;
    size = uint32_t(stream.size());
    EXPECT_EQ(DecodeJPEGImage1Buffer(&buffer, &size), kJPEGNoSOIErr);
    EXPECT_EQ(buffer, nullptr);
}

TEST(JPEGDecode, TableDerivation) {
    // The standard luminance table: 00, 010, 011, 100, 101, 110, 1110, 11110, ...
    HuffmanTable t{};
    const uint8_t bits[17] = {0, 0, 1, 5, 1, 1, 1, 1, 1, 1};
    std::memcpy(t.bits, bits, sizeof bits);
    for (int i = 0; i < 12; ++i)
        t.huffval[i] = uint8_t(i);
    ASSERT_TRUE(FixHuffTbl(&t));
    EXPECT_EQ(t.ehufsi[0], 2);
    EXPECT_EQ(t.ehufco[0], 0b00);
    EXPECT_EQ(t.ehufsi[5], 3);
    EXPECT_EQ(t.ehufco[5], 0b110);
    EXPECT_EQ(t.ehufsi[11], 9);
    EXPECT_EQ(t.ehufco[11], 0b111111110);
    EXPECT_EQ(t.mincode[3], 0b010);
    EXPECT_EQ(t.maxcode[3], 0b110);
    EXPECT_EQ(t.maxcode[1], -1);
    EXPECT_EQ(t.maxcode[17], 0xFFFFF);
    EXPECT_EQ(t.valptr[3], 1);
    // Every 8-bit prefix that starts with 110 is category 5; 111111110 is longer than 8 bits.
    for (int i = 0b11000000; i < 0b11100000; ++i) {
        EXPECT_EQ(t.numbits[i], 3);
        EXPECT_EQ(t.value[i], 5);
    }
    EXPECT_EQ(t.numbits[0xFF], 0);

    HuffmanTable over{};
    over.bits[2] = 5; // only four codes of two bits exist
    EXPECT_FALSE(FixHuffTbl(&over));
}
