#include "CodecFixtures.h"
#include "JPEGInternal.h"
#include "JPEGLib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

using namespace codectest;

namespace {

struct Params {
    uint32_t optimal = 0, restartRows = 0, pt = 0, width = 0, height = 0, predictors = 1, maxValue = 255;
};

struct Encoded {
    OSStatus status;
    std::vector<uint8_t> stream;
};

Encoded encode(const std::vector<uint8_t>& samples, const Params& p) {
    const uint32_t params[kJPEGParamCount] = {p.optimal, p.restartRows, p.pt,      p.width,
                                              p.height,  p.predictors,  p.maxValue};
    void* out = nullptr;
    uint32_t size = 0;
    const OSStatus status = JPEG14Encode(samples.data(), &out, &size, params);
    Encoded e{status, {}};
    if (status == noErr) e.stream.assign(static_cast<uint8_t*>(out), static_cast<uint8_t*>(out) + size);
    std::free(out);
    return e;
}

// Our decoder's samples, widened to 16 bits.
std::vector<uint16_t> decodeOurs(const std::vector<uint8_t>& stream, size_t samples, int bytesPerSample,
                                 OSStatus* status) {
    std::vector<uint8_t> src(stream);
    uint8_t* p = src.data();
    uint32_t size = uint32_t(src.size());
    std::vector<uint16_t> dst(samples);
    *status = DecodeJPEGData(&p, dst.data(), &size, uint32_t(samples * size_t(bytesPerSample)));
    if (bytesPerSample == 2) return dst;
    const auto* bytes = reinterpret_cast<const uint8_t*>(dst.data());
    return std::vector<uint16_t>(bytes, bytes + samples);
}

int scanPredictor(const std::vector<uint8_t>& stream) {
    for (size_t i = 0; i + 9 < stream.size(); ++i)
        if (stream[i] == 0xFF && stream[i + 1] == 0xDA) return stream[i + 7];
    return -1;
}

// DCMTK's decoder on the stream, wrapped into a DICOM file.
std::vector<uint16_t> decodeDcmtk(const std::vector<uint8_t>& stream, uint32_t rows, uint32_t columns,
                                  int precision, const std::string& label) {
    const uint32_t bitsAllocated = precision > 8 ? 16 : 8;
    const std::filesystem::path dir = CODEC_WORK_DIR;
    std::filesystem::create_directories(dir);
    const std::string base = (dir / (label + "." + std::to_string(::getpid()))).string();
    const bool firstOrder = scanPredictor(stream) == 1;
    writeFile(base + ".dcm",
              wrapJPEGAsDicom(stream, rows, columns, bitsAllocated, uint32_t(precision), firstOrder));
    if (!run("dcmdjpeg '" + base + ".dcm' '" + base + ".out.dcm' >/dev/null 2>&1")) return {};
    const std::vector<uint8_t> file = readFile(base + ".out.dcm");
    std::filesystem::remove(base + ".dcm");
    std::filesystem::remove(base + ".out.dcm");
    // The pixel data is the file's last element: 12 bytes of header, then the samples.
    const size_t bytes = size_t(rows) * columns * (bitsAllocated / 8);
    if (file.size() < bytes + 12) return {};
    const uint8_t* value = file.data() + file.size() - bytes;
    const uint8_t* header = value - 12;
    if (header[0] != 0xE0 || header[1] != 0x7F || header[2] != 0x10 || header[3] != 0x00) return {};
    std::vector<uint16_t> samples(size_t(rows) * columns);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = bitsAllocated == 8 ? value[i] : uint16_t(value[2 * i] | (value[2 * i + 1] << 8));
    return samples;
}

// A small deterministic generator for test images.
struct Lcg {
    uint32_t state;
    uint32_t next(uint32_t bound) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % bound;
    }
};

// An image that predictor k fits exactly, away from the first row and column (which are coded
// alike by all predictors): k is then the best of 1 ... k.
std::vector<uint8_t> imageFor(int k, uint32_t w, uint32_t h) {
    Lcg rng{uint32_t(k) * 7919u};
    std::vector<uint8_t> img(size_t(w) * h);
    auto at = [&](uint32_t x, uint32_t y) -> uint8_t& { return img[size_t(y) * w + x]; };
    std::vector<int> f(w + h), g(h);
    for (int& v : f)
        v = int(rng.next(128));
    for (int& v : g)
        v = int(rng.next(128));
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            int v = 0;
            switch (k) {
            case 1:
                v = g[y];
                break;
            case 2:
                v = f[x];
                break;
            case 3:
                v = f[(x + h - y) % (w + h)];
                break;
            case 4:
                v = f[x] + g[y];
                break;
            default:
                if (x == 0 || y == 0) {
                    v = 64 + int(rng.next(128));
                } else {
                    const int ra = at(x - 1, y), rb = at(x, y - 1), rc = at(x - 1, y - 1);
                    v = k == 5 ? ra + ((rb - rc) >> 1) : k == 6 ? rb + ((ra - rc) >> 1) : (ra + rb) >> 1;
                }
            }
            at(x, y) = uint8_t(std::clamp(v, 0, 255));
        }
    return img;
}

std::vector<uint16_t> widen(const std::vector<uint8_t>& v, uint32_t pt = 0) {
    std::vector<uint16_t> w(v.size());
    for (size_t i = 0; i < v.size(); ++i)
        w[i] = uint16_t((v[i] >> pt) << pt);
    return w;
}

} // namespace

TEST(JPEGEncode, EveryPredictorTableAndRestartChoiceDecodesToTheSamples) {
    const uint32_t w = 24, h = 16;
    for (int k = 1; k <= 7; ++k)
        for (uint32_t optimal : {0u, 1u})
            for (uint32_t restart : {0u, 3u}) {
                SCOPED_TRACE("predictor " + std::to_string(k) + (optimal ? " optimal" : " standard") +
                             " restart " + std::to_string(restart));
                const std::vector<uint8_t> img = imageFor(k, w, h);
                Params p;
                p.optimal = optimal;
                p.restartRows = restart;
                p.width = w;
                p.height = h;
                p.predictors = uint32_t(k);
                const Encoded e = encode(img, p);
                ASSERT_EQ(e.status, noErr);
                EXPECT_EQ(e.stream.size() % 2, 0u);
                EXPECT_EQ(scanPredictor(e.stream), k);
                OSStatus status;
                EXPECT_EQ(decodeOurs(e.stream, img.size(), 1, &status), widen(img));
                EXPECT_EQ(status, noErr);
                EXPECT_EQ(decodeDcmtk(e.stream, h, w, 8, "pred"), widen(img));
            }
}

TEST(JPEGEncode, PointTransformAndWiderPrecisions) {
    const uint32_t w = 20, h = 12;
    std::vector<uint8_t> img = imageFor(4, w, h);
    img[0] = 0; // against the first prediction of 2^(P-1): the largest difference
    img[1] = 255;
    struct Case {
        uint32_t optimal, pt, maxValue, predictors;
    };
    for (const Case c : {Case{0, 2, 255, 7}, Case{1, 3, 255, 4}, Case{0, 0, 1023, 7}, Case{1, 0, 4095, 7},
                         Case{1, 0, 65535, 7}, Case{1, 5, 65535, 2}}) {
        SCOPED_TRACE("pt " + std::to_string(c.pt) + " max " + std::to_string(c.maxValue));
        Params p;
        p.optimal = c.optimal;
        p.pt = c.pt;
        p.width = w;
        p.height = h;
        p.predictors = c.predictors;
        p.maxValue = c.maxValue;
        const Encoded e = encode(img, p);
        ASSERT_EQ(e.status, noErr);
        const int precision = int(std::bit_width(c.maxValue));
        OSStatus status;
        EXPECT_EQ(decodeOurs(e.stream, img.size(), precision > 8 ? 2 : 1, &status), widen(img, c.pt));
        EXPECT_EQ(status, noErr);
        EXPECT_EQ(decodeDcmtk(e.stream, h, w, precision, "pt"), widen(img, c.pt));
    }
}

TEST(JPEGEncode, EqualSamplesWithStandardTablesGolden) {
    Params p;
    p.width = 2;
    p.height = 2;
    const Encoded e = encode(std::vector<uint8_t>(4, 128), p);
    ASSERT_EQ(e.status, noErr);
    const std::vector<uint8_t> expected = {
        0xFF, 0xD8,                                                  // SOI
        0xFF, 0xC3, 0x00, 0x0B, 8,    0, 2,    0, 2, 1, 0,  0x11, 0, // frame: 8 bits, 2 x 2, component 0
        0xFF, 0xC4, 0x00, 0x1F, 0x00,                                // DC table 0
        0,    1,    5,    1,    1,    1, 1,    1, 1, 0, 0,  0,    0, 0, 0, 0, //   code counts
        0,    1,    2,    3,    4,    5, 6,    7, 8, 9, 10, 11,               //   categories
        0xFF, 0xDA, 0x00, 0x08, 1,    0, 0x00, 1, 0, 0,                       // scan: predictor 1
        0x00,              // four differences of 0: 00 00 00 00
        0xFF, 0xD9, 0xFF}; // EOI; odd length padded with FF
    EXPECT_EQ(e.stream, expected);

    // Six differences of 0 take 12 bits, two bytes: the stream is even and ends at EOI.
    p.width = 3;
    const Encoded even = encode(std::vector<uint8_t>(6, 128), p);
    ASSERT_EQ(even.status, noErr);
    ASSERT_EQ(even.stream.size() % 2, 0u);
    EXPECT_EQ(std::vector<uint8_t>(even.stream.end() - 4, even.stream.end()),
              (std::vector<uint8_t>{0x00, 0x0F, 0xFF, 0xD9}));
}

TEST(JPEGEncode, RestartEveryRowWritesTheIntervalInPixelsAndNumberedMarkers) {
    Params p;
    p.width = 4;
    p.height = 3;
    p.restartRows = 1;
    const Encoded e = encode(std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, p);
    ASSERT_EQ(e.status, noErr);
    const auto& s = e.stream;
    const std::vector<uint8_t> dri = {0xFF, 0xDD, 0x00, 0x04, 0x00, 0x04};
    EXPECT_NE(std::search(s.begin(), s.end(), dri.begin(), dri.end()), s.end());
    std::vector<int> markers;
    for (size_t i = 0; i + 1 < s.size(); ++i)
        if (s[i] == 0xFF && s[i + 1] >= 0xD0 && s[i + 1] <= 0xD7) markers.push_back(s[i + 1] - 0xD0);
    EXPECT_EQ(markers, (std::vector<int>{0, 1}));
    OSStatus status;
    EXPECT_EQ(decodeOurs(s, 12, 1, &status), widen({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(status, noErr);
}

TEST(JPEGEncode, OptimalTablesCoverDifferencesFoundOnlyInRestartRows) {
    // Rows 0-2 are 10, rows 3-5 the ramp 18, 22, 26, ...: predictor 2 (the row above) wins. Only the
    // first row of the second restart interval, coded against its left neighbour, has differences
    // of 4 (category 3); against the row above, as if there were no restart, they would be 8-36.
    const uint32_t w = 8, h = 6;
    std::vector<uint8_t> img(size_t(w) * h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            img[size_t(y) * w + x] = uint8_t(y < 3 ? 10 : 18 + 4 * x);
    Params p;
    p.optimal = 1;
    p.restartRows = 3;
    p.width = w;
    p.height = h;
    p.predictors = 2;
    const Encoded e = encode(img, p);
    ASSERT_EQ(e.status, noErr);
    EXPECT_EQ(scanPredictor(e.stream), 2);
    OSStatus status;
    EXPECT_EQ(decodeOurs(e.stream, img.size(), 1, &status), widen(img));
    EXPECT_EQ(status, noErr);
}

TEST(JPEGEncode, OnePredictorMeansPredictorOneAndSevenMayChooseAny) {
    const std::vector<uint8_t> stripes = imageFor(2, 16, 8);
    Params p;
    p.width = 16;
    p.height = 8;
    p.predictors = 1;
    EXPECT_EQ(scanPredictor(encode(stripes, p).stream), 1);
    p.predictors = 0;
    EXPECT_EQ(scanPredictor(encode(stripes, p).stream), 1);
    p.predictors = 7;
    p.optimal = 1;
    for (int k = 1; k <= 7; ++k) {
        const Encoded e = encode(imageFor(k, 16, 8), p);
        ASSERT_EQ(e.status, noErr);
        EXPECT_GE(scanPredictor(e.stream), 1);
        EXPECT_LE(scanPredictor(e.stream), 7);
    }
    // The diagonal image is fitted by predictor 3 alone.
    EXPECT_EQ(scanPredictor(encode(imageFor(3, 16, 8), p).stream), 3);
}

TEST(JPEGEncode, Refusals) {
    const std::vector<uint8_t> img(64 * 4, 7);
    struct Case {
        const char* what;
        Params p;
        OSStatus status;
    };
    auto with = [](auto change) {
        Params p;
        p.width = 64;
        p.height = 4;
        change(p);
        return p;
    };
    const std::vector<Case> cases = {
        {"maximum 1", with([](Params& p) { p.maxValue = 1; }), kJPEGMaxSampleValueErr},
        {"maximum 65536", with([](Params& p) { p.maxValue = 65536; }), kJPEGMaxSampleValueErr},
        {"width 65536", with([](Params& p) {
             p.width = 65536;
             p.height = 1;
         }),
         kJPEGDimensionErr},
        {"height 65536", with([](Params& p) {
             p.width = 1;
             p.height = 65536;
         }),
         kJPEGDimensionErr},
        {"width 0", with([](Params& p) { p.width = 0; }), paramErr},
        {"eight predictors", with([](Params& p) { p.predictors = 8; }), paramErr},
        {"point transform of the whole precision", with([](Params& p) { p.pt = 8; }), paramErr},
        {"restart interval past 65535 pixels", with([](Params& p) { p.restartRows = 1024; }), paramErr},
        {"sample above the maximum", with([](Params& p) { p.maxValue = 6; }), paramErr},
        // The standard table codes categories up to 11: 7 - 4096 needs category 12.
        {"standard table and 13 bits", with([](Params& p) { p.maxValue = 8191; }), kJPEGNoHuffmanCodeErr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(encode(img, c.p).status, c.status);
    }
    const uint32_t params[kJPEGParamCount] = {0, 0, 0, 4, 4, 1, 255};
    void* out = reinterpret_cast<void*>(1);
    uint32_t size = 99;
    EXPECT_EQ(JPEG14Encode(nullptr, &out, &size, params), kJPEGNoSourceErr);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(JPEG14Encode(img.data(), nullptr, &size, params), paramErr);
    EXPECT_EQ(JPEG14Encode(img.data(), &out, &size, nullptr), paramErr);
}

TEST(JPEGEncode, OptimalTablesAreLimitedTo16BitCodes) {
    // Counts that double from category to category give an unlimited Huffman tree 18 levels deep.
    uint64_t counts[17];
    for (int s = 0; s < 17; ++s)
        counts[s] = uint64_t(1) << s;
    HuffmanTable t;
    ASSERT_TRUE(ljpeg::GenOptimalTable(counts, &t));
    double kraft = 0;
    for (int s = 0; s < 17; ++s) {
        ASSERT_GT(t.ehufsi[s], 0) << "category " << s;
        ASSERT_LE(t.ehufsi[s], 16);
        kraft += 1.0 / double(1u << t.ehufsi[s]);
    }
    EXPECT_LT(kraft, 1.0); // room is left: no code is all 1-bits
    // More frequent categories never get longer codes.
    for (int s = 1; s < 17; ++s)
        EXPECT_LE(t.ehufsi[s], t.ehufsi[s - 1]);
}

TEST(JPEGEncode, PrintMCU) {
    const uint16_t samples[3] = {5, 7, 65535};
    testing::internal::CaptureStdout();
    PrintMCU(3, samples);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "0: 5 1: 7 2: 65535 \n");
}
