#include "CodecFixtures.h"
#include "RLELib.h"

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

// Decodes a frame held in a block of exactly its size into a block of exactly `capacity` bytes,
// so that reading or writing past either is caught.
Decoded decode(const std::vector<uint8_t>& frame, uint32_t capacity) {
    auto* src = static_cast<uint32_t*>(std::malloc(frame.size() ? frame.size() : 1));
    if (!frame.empty()) std::memcpy(src, frame.data(), frame.size());
    auto* dst = static_cast<uint8_t*>(std::malloc(capacity ? capacity : 1));
    uint32_t size = uint32_t(frame.size());
    const OSStatus status = RLEDecode(src, dst, &size, capacity);
    Decoded d{status, size, std::vector<uint8_t>(dst, dst + (status == noErr ? size : 0))};
    std::free(src);
    std::free(dst);
    return d;
}

// A frame from its segments: the header (count, offsets), then the segments one after another.
std::vector<uint8_t> frame(const std::vector<std::vector<uint8_t>>& segments) {
    std::vector<uint8_t> f(64, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            f[at + size_t(i)] = uint8_t(v >> (8 * i));
    };
    put32(0, uint32_t(segments.size()));
    for (size_t k = 0; k < segments.size(); ++k) {
        put32(4 + 4 * k, uint32_t(f.size()));
        f.insert(f.end(), segments[k].begin(), segments[k].end());
    }
    return f;
}

void setOffset(std::vector<uint8_t>& f, int k, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        f[size_t(4 + 4 * k + i)] = uint8_t(v >> (8 * i));
}

// Puts the planes together as pixels: byte b (0 = most significant) of sample s of pixel p comes
// from plane s * B + b; samples are stored least significant byte first.
std::vector<uint8_t> interleave(const std::vector<uint8_t>& planes, uint32_t pixels, uint32_t samples,
                                uint32_t bytesPerSample) {
    std::vector<uint8_t> out(planes.size());
    for (uint32_t p = 0; p < pixels; ++p)
        for (uint32_t s = 0; s < samples; ++s)
            for (uint32_t b = 0; b < bytesPerSample; ++b)
                out[(size_t(p) * samples + s) * bytesPerSample + (bytesPerSample - 1 - b)] =
                    planes[size_t(s * bytesPerSample + b) * pixels + p];
    return out;
}

} // namespace

TEST(RLEDecode, EqualsDcmtkOnItsFramesAndPydicomsCorpus) {
    const auto cases = fixtureCases("rle");
    ASSERT_GE(cases.size(), 10u) << "fixtures missing: see " << (fixtureDir() / "make.log");
    for (const FixtureCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> reference = readFile(fixtureDir() / (c.name + ".ref.bin"));
        ASSERT_EQ(reference.size(), size_t(c.frameBytes()) * c.frames);
        for (uint32_t f = 0; f < c.frames; ++f) {
            const auto bytes = readFile(fixtureDir() / (c.name + ".f" + std::to_string(f) + ".bin"));
            const Decoded d = decode(bytes, c.frameBytes());
            ASSERT_EQ(d.status, noErr) << "frame " << f;
            ASSERT_EQ(d.size, c.frameBytes());
            const auto pixels = interleave(d.bytes, c.rows * c.columns, c.samples, c.bitsAllocated / 8);
            EXPECT_TRUE(
                std::equal(pixels.begin(), pixels.end(), reference.begin() + size_t(f) * c.frameBytes()))
                << "frame " << f;
        }
    }
}

TEST(RLEDecode, RunsAndLiterals) {
    const Decoded d = decode(frame({{0xFE, 0x41, 0x02, 0x42, 0x43, 0x44}}), 6);
    ASSERT_EQ(d.status, noErr);
    EXPECT_EQ(d.bytes, (std::vector<uint8_t>{0x41, 0x41, 0x41, 0x42, 0x43, 0x44}));
    // -128 is no operation; the longest run and the longest literal.
    std::vector<uint8_t> seg = {0x80, 0x81, 0x07, 0x7F};
    for (int i = 0; i < 128; ++i)
        seg.push_back(uint8_t(i));
    const Decoded longest = decode(frame({seg}), 256);
    ASSERT_EQ(longest.status, noErr);
    for (int i = 0; i < 128; ++i) {
        EXPECT_EQ(longest.bytes[size_t(i)], 7);
        EXPECT_EQ(longest.bytes[size_t(128 + i)], i);
    }
}

TEST(RLEDecode, SegmentsLandOnTheirOwnPlanes) {
    // Three planes of 2 x 2 bytes: red, green, blue.
    const Decoded d = decode(frame({{0xFD, 1}, {0x03, 2, 3, 4, 5}, {0xFF, 6, 0xFF, 7}}), 12);
    ASSERT_EQ(d.status, noErr);
    EXPECT_EQ(d.bytes, (std::vector<uint8_t>{1, 1, 1, 1, 2, 3, 4, 5, 6, 6, 7, 7}));
    // A short first segment does not move the others: the frame is refused.
    EXPECT_EQ(decode(frame({{0xFE, 1}, {0x03, 2, 3, 4, 5}, {0xFF, 6, 0xFF, 7}}), 12).status, kRLECorruptErr);
}

TEST(RLEDecode, APadByteAfterAFullPlaneIsIgnored) {
    const Decoded d = decode(frame({{0xFF, 0x41, 0x00}, {0x01, 1, 2, 0x00}}), 4);
    ASSERT_EQ(d.status, noErr);
    EXPECT_EQ(d.bytes, (std::vector<uint8_t>{0x41, 0x41, 1, 2}));
}

TEST(RLEDecode, FaultsHaveTheirStatuses) {
    struct Case {
        const char* what;
        std::vector<uint8_t> frame;
        uint32_t capacity;
        OSStatus status;
    };
    auto withCount = [](uint32_t count) {
        std::vector<uint8_t> f = frame({{0x00, 1}});
        f[0] = uint8_t(count);
        return f;
    };
    auto withOffset = [](uint32_t offset) {
        std::vector<uint8_t> f = frame({{0x00, 1}, {0x00, 2}});
        setOffset(f, 1, offset);
        return f;
    };
    const std::vector<Case> cases = {
        {"count 0", withCount(0), 1, kRLESegmentCountErr},
        {"count 16", withCount(16), 1, kRLESegmentCountErr},
        {"count 2^31",
         [&] {
             auto f = withCount(0);
             f[3] = 0x80;
             return f;
         }(),
         1, kRLESegmentCountErr},
        {"header cut short",
         [] {
             auto f = frame({{0x00, 1}});
             f.resize(40);
             return f;
         }(),
         1, kRLECorruptErr},
        {"offset 0",
         [] {
             auto f = frame({{0x00, 1}});
             setOffset(f, 0, 0);
             return f;
         }(),
         1, kRLECorruptErr},
        {"offset 16",
         [] {
             auto f = frame({{0x00, 1}});
             setOffset(f, 0, 16);
             return f;
         }(),
         1, kRLECorruptErr},
        {"offset past the frame", withOffset(1000), 2, kRLECorruptErr},
        {"offset before the previous",
         [] {
             auto f = frame({{0x00, 1}, {0x00, 2}, {0x00, 3}});
             setOffset(f, 2, 65);
             return f;
         }(),
         3, kRLECorruptErr},
        {"offset 2^32 - 1", withOffset(0xFFFFFFFF), 2, kRLECorruptErr},
        {"literal past the segment", frame({{0x05, 1, 2}}), 6, kRLECorruptErr},
        {"literal past the segment into the next", frame({{0x02, 1}, {0x00, 2}}), 6, kRLECorruptErr},
        {"run with no byte", frame({{0xFE}}), 3, kRLECorruptErr},
        {"run past the plane", frame({{0xFD, 9}}), 3, kRLECorruptErr},
        {"literal past the plane", frame({{0x03, 1, 2, 3, 4}}), 3, kRLECorruptErr},
        {"segment short of its plane", frame({{0x00, 1}}), 2, kRLECorruptErr},
        {"planes of unequal size", frame({{0x00, 1}, {0x00, 2}}), 3, kRLECorruptErr},
        {"no capacity", frame({{0x00, 1}}), 0, paramErr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Decoded d = decode(c.frame, c.capacity);
        EXPECT_EQ(d.status, c.status);
        EXPECT_EQ(d.size, 0u);
    }

    uint8_t dst[4];
    uint32_t words[20] = {1, 64};
    uint32_t size = sizeof words;
    EXPECT_EQ(RLEDecode(nullptr, dst, &size, 4), paramErr);
    EXPECT_EQ(size, 0u);
    size = sizeof words;
    EXPECT_EQ(RLEDecode(words, nullptr, &size, 4), paramErr);
    size = 0;
    EXPECT_EQ(RLEDecode(words, dst, &size, 4), paramErr);
    EXPECT_EQ(RLEDecode(words, dst, nullptr, 4), paramErr);
}

TEST(RLEDecode, HeaderRecord) {
    std::vector<uint8_t> f = frame({{0x00, 1}, {0x00, 2}, {0x00, 3}});
    f.resize(64);
    std::vector<uint32_t> words(16);
    std::memcpy(words.data(), f.data(), 64);
    RLEHeader h{};
    ASSERT_EQ(RLEheaderDecode(words.data(), 64, &h), noErr);
    EXPECT_EQ(h.count, 3u);
    EXPECT_EQ(h.offsets[0], 64u);
    EXPECT_EQ(h.offsets[1], 66u);
    EXPECT_EQ(h.offsets[2], 68u);
    EXPECT_EQ(h.offsets[3], 0u); // only the first count offsets are read
    EXPECT_EQ(RLEheaderDecode(words.data(), 63, &h), paramErr);
    f[0] = 16;
    std::memcpy(words.data(), f.data(), 64);
    EXPECT_EQ(RLEheaderDecode(words.data(), 64, &h), kRLESegmentCountErr);
}
