// Histograms with their equalisation and contrast-stretch tables, and sample statistics, checked
// against numpy over a picture PIL makes; the image statistics and pixel value records.
#include "ImagePeer.h"
#include "KelvoImageDescriptors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

namespace {

// A Mandelbrot picture (a lumpy histogram with empty bins) and random 16-bit and float samples;
// numpy's histograms, tables and statistics of them, for strides 1 and 3.
const char* kPeerScript = R"(import sys, os
import numpy as np
from PIL import Image
out = sys.argv[1]
grey = np.asarray(Image.effect_mandelbrot((64, 48), (-2.0, -1.5, 1.0, 1.5), 100), dtype=np.uint8).ravel()
rng = np.random.default_rng(11)
samples = {
    'u8': grey,
    'u16': (grey.astype(np.uint16) * 257 + rng.integers(0, 200, grey.size)).astype(np.uint16),
    's16': rng.integers(-32768, 32768, 3001).astype(np.int16),
    'f32': (rng.standard_normal(2500) * 1000.0 + 3.5).astype(np.float32),
}
for name, a in samples.items():
    a.tofile(os.path.join(out, name + '.bin'))
lines = []
def put(key, values):
    lines.append(key + ' ' + ' '.join(repr(float(v)) for v in values))
for stride in (1, 3):
    x = grey[::stride]
    bins = np.bincount(x, minlength=256).astype(np.uint32)
    cum = np.cumsum(bins).astype(np.uint32)
    total = int(x.size)
    put('bins%d' % stride, bins)
    put('cum%d' % stride, cum)
    put('total%d' % stride, [total])
    eq = np.floor(cum.astype(np.float32) * (np.float32(255) / np.float32(total)))
    put('eq%d' % stride, eq.astype(np.uint8))
    scale = np.float32(100) / np.float32(total)
    for low, high in ((0, 0), (5, 5), (2, 10), (1, 99), (40, 40), (-3, 7)):
        lo_p = np.trunc(cum.astype(np.float32) * scale).astype(np.int64)
        hi_p = np.trunc((total - cum).astype(np.float32) * scale).astype(np.int64)
        lo_ok = np.nonzero(lo_p >= low)[0] if low >= 0 else np.array([], dtype=np.int64)
        hi_ok = np.nonzero(hi_p >= high)[0] if high >= 0 else np.array([], dtype=np.int64)
        li = int(lo_ok[0]) if lo_ok.size else 0
        hi = int(hi_ok[-1]) if hi_ok.size else 0
        t = np.zeros(256, dtype=np.int64)
        if li != hi:
            j = np.arange(256)
            mid = (j > li) & (j < hi)
            t[mid] = 255 * (j[mid] - li) // (hi - li)
            t[j >= max(hi, li + 1)] = 255
        put('cs%d_%d_%d' % (stride, low, high), t)
for name, a in samples.items():
    for stride in (1, 3):
        x = a[::stride].astype(np.float64)
        mean = x.mean()
        put('stats_%s_%d' % (name, stride),
            [a.size // stride, mean, x.var(ddof=1), x.std(ddof=1), np.abs(x - mean).mean(), x.min(), x.max()])
open(os.path.join(out, 'expected.txt'), 'w').write('\n'.join(lines) + '\n')
)";

struct Peer {
    std::vector<uint8_t> grey;
    std::vector<uint16_t> u16;
    std::vector<int16_t> s16;
    std::vector<float> f32;
    std::map<std::string, std::vector<double>> expected;
};

const Peer& peer() {
    static testsupport::ScratchDir scratch("image-descriptors");
    static const Peer p = [] {
        Peer out;
        if (!imagepeer::runPeer(scratch, kPeerScript)) return out;
        out.grey = imagepeer::samplesOf<uint8_t>(scratch.file("u8.bin"));
        out.u16 = imagepeer::samplesOf<uint16_t>(scratch.file("u16.bin"));
        out.s16 = imagepeer::samplesOf<int16_t>(scratch.file("s16.bin"));
        out.f32 = imagepeer::samplesOf<float>(scratch.file("f32.bin"));
        out.expected = imagepeer::valuesOf(scratch.file("expected.txt"));
        return out;
    }();
    return p;
}

void expectTable(KelvoDataT<uint8_t>* table, const std::vector<double>& want, const std::string& what) {
    ASSERT_NE(table, nullptr) << what;
    ASSERT_EQ(table->itemCount(), want.size()) << what;
    for (uint32_t i = 0; i < table->itemCount(); ++i)
        ASSERT_EQ(double((*table)[i]), want[i]) << what << " entry " << i;
}

TEST(Kelvo_Histogram, BinsAndTablesMatchNumpy) {
    const Peer& p = peer();
    ASSERT_EQ(p.grey.size(), 64u * 48u);
    for (uint32_t stride : {1u, 3u}) {
        const std::string s = std::to_string(stride);
        Kelvo_Histogram h(p.grey.data(), uint32_t(p.grey.size()), stride);
        EXPECT_EQ(h.Error(), 0);
        EXPECT_EQ(double(h.total()), p.expected.at("total" + s)[0]);
        const std::vector<double>& bins = p.expected.at("bins" + s);
        const std::vector<double>& cum = p.expected.at("cum" + s);
        for (uint32_t i = 0; i < 256; ++i) {
            ASSERT_EQ(h.intensityCount(i), bins[i]) << i;
            ASSERT_EQ(double(h.cumulativeCount(i)), cum[i]) << i;
        }
        std::unique_ptr<KelvoDataT<uint8_t>> eq(h.getLutNormalized());
        expectTable(eq.get(), p.expected.at("eq" + s), "equalisation, stride " + s);
        for (auto [low, high] : {std::pair{0, 0}, {5, 5}, {2, 10}, {1, 99}, {40, 40}, {-3, 7}}) {
            const std::string key = "cs" + s + "_" + std::to_string(low) + "_" + std::to_string(high);
            std::unique_ptr<KelvoDataT<uint8_t>> cs(h.getLutContrastStretch(low, high));
            expectTable(cs.get(), p.expected.at(key), key);
        }
        EXPECT_EQ(h.Error(), 0);
    }
}

TEST(Kelvo_Histogram, SmallCountsByHand) {
    // Two blacks and two whites: equalisation sends 0 to 127 and 255 to 255.
    const uint8_t four[4] = {0, 0, 255, 255};
    Kelvo_Histogram h(four, 4, 1);
    EXPECT_EQ(h.intensityCount(0), 2.0);
    EXPECT_EQ(h.intensityCount(255), 2.0);
    EXPECT_EQ(h.cumulativeCount(0), 2u);
    EXPECT_EQ(h.cumulativeCount(254), 2u);
    EXPECT_EQ(h.cumulativeCount(255), 4u);
    EXPECT_EQ(h.total(), 4u);
    std::unique_ptr<KelvoDataT<uint8_t>> eq(h.getLutNormalized());
    ASSERT_TRUE(eq);
    EXPECT_EQ((*eq)[0], 127);
    EXPECT_EQ((*eq)[255], 255);

    // Single-precision steps: 7 samples of 7 give 254 at the top, not 255.
    const uint8_t seven[7] = {9, 9, 9, 9, 9, 9, 9};
    Kelvo_Histogram s(seven, 7, 1);
    std::unique_ptr<KelvoDataT<uint8_t>> top(s.getLutNormalized());
    EXPECT_EQ((*top)[9], 254);
    EXPECT_EQ((*top)[8], 0);

    // Stride 3 over 12 bytes counts four samples.
    const uint8_t twelve[12] = {1, 50, 50, 2, 50, 50, 3, 50, 50, 4, 50, 50};
    Kelvo_Histogram strided(twelve, 12, 3);
    EXPECT_EQ(strided.total(), 4u);
    EXPECT_EQ(strided.intensityCount(50), 0.0);
    EXPECT_EQ(strided.intensityCount(4), 1.0);
}

TEST(Kelvo_Histogram, CountingAgainAddsAndCreateStartsOver) {
    const uint8_t four[4] = {0, 0, 255, 255};
    Kelvo_Histogram h(four, 4, 1);
    h.initHistogram(four, 4, 1);
    EXPECT_EQ(h.intensityCount(0), 4.0);
    EXPECT_EQ(h.cumulativeCount(255), 8u);
    // The total grows with the bins, so the tables stay within a byte's range: 255 maps to 255,
    // not to a wrapped 2 x 255.
    EXPECT_EQ(h.total(), 8u);
    std::unique_ptr<KelvoDataT<uint8_t>> eq(h.getLutNormalized());
    EXPECT_EQ((*eq)[0], 127);
    EXPECT_EQ((*eq)[255], 255);

    h.create(four, 2, 1);
    EXPECT_EQ(h.intensityCount(0), 2.0);
    EXPECT_EQ(h.intensityCount(255), 0.0);
    EXPECT_EQ(h.total(), 2u);
    EXPECT_EQ(h.cumulativeCount(255), 2u);
}

TEST(Kelvo_Histogram, ContrastStretchByHand) {
    // One sample in each of bins 0 .. 99.
    std::vector<uint8_t> ramp(100);
    std::iota(ramp.begin(), ramp.end(), 0);
    Kelvo_Histogram h(ramp.data(), 100, 1);
    int low = 5, high = 5;
    std::unique_ptr<KelvoDataT<uint8_t>> t(h.getLutContrastStretch(low, high));
    ASSERT_TRUE(t);
    for (int j = 0; j <= 4; ++j)
        EXPECT_EQ((*t)[j], 0) << j;
    EXPECT_EQ((*t)[5], 255 * 1 / 90);
    EXPECT_EQ((*t)[49], 127);
    for (int j = 94; j < 256; ++j)
        ASSERT_EQ((*t)[j], 255) << j;

    // Percentages out of order are put in order, in the caller's variables too.
    int a = 10, b = 2;
    std::unique_ptr<KelvoDataT<uint8_t>> swapped(h.getLutContrastStretch(a, b));
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 10);
    int c = 2, d = 10;
    std::unique_ptr<KelvoDataT<uint8_t>> ordered(h.getLutContrastStretch(c, d));
    for (int j = 0; j < 256; ++j)
        ASSERT_EQ((*swapped)[j], (*ordered)[j]) << j;
}

TEST(Kelvo_Histogram, FailuresAndEmptyHistograms) {
    const uint8_t bytes[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    struct Case {
        const char* what;
        const void* data;
        uint32_t stride;
    } cases[] = {{"null data", nullptr, 1}, {"zero stride", bytes, 0}};
    for (const Case& c : cases) {
        Kelvo_Histogram h;
        h.initHistogram(c.data, 8, c.stride);
        EXPECT_EQ(h.Error(), -50) << c.what;
        EXPECT_EQ(h.total(), 0u) << c.what;
        EXPECT_EQ(h.intensityCount(0), 0.0) << c.what;
    }

    // Four bins: bytes 4 .. 7 fall outside and go to the spare bin, never beyond the table.
    Kelvo_Histogram four(4);
    four.initHistogram(bytes, 8, 1);
    EXPECT_EQ(four.Error(), -50);
    for (uint32_t i = 0; i < 4; ++i)
        EXPECT_EQ(four.intensityCount(i), 1.0) << i;
    EXPECT_EQ(four.cumulativeCount(3), 4u);
    std::unique_ptr<KelvoDataT<uint8_t>> small(four.getLutNormalized());
    ASSERT_TRUE(small);
    EXPECT_EQ(small->itemCount(), 4u);

    // A bad bin index: -50 and the spare bin's count.
    Kelvo_Histogram h(bytes, 8, 1);
    EXPECT_EQ(h.Error(), 0);
    (void)h.intensityCount(256);
    EXPECT_EQ(h.Error(), -50);

    // Nothing counted: both tables are zero; no bins: the empty table.
    Kelvo_Histogram nothing;
    std::unique_ptr<KelvoDataT<uint8_t>> zeros(nothing.getLutNormalized());
    ASSERT_TRUE(zeros);
    int low = 5, high = 5;
    std::unique_ptr<KelvoDataT<uint8_t>> stretched(nothing.getLutContrastStretch(low, high));
    ASSERT_TRUE(stretched);
    for (uint32_t i = 0; i < 256; ++i)
        ASSERT_EQ((*zeros)[i] + (*stretched)[i], 0) << i;
    Kelvo_Histogram none(0u);
    EXPECT_FALSE(none.qtObjIsValid());
    EXPECT_TRUE(static_cast<const Kelvo_Histogram&>(none).qtObjIsValid());
    std::unique_ptr<KelvoDataT<uint8_t>> empty(none.getLutNormalized());
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->itemCount(), 0u);
}

TEST(Kelvo_Histogram, CopiesCloneAndClear) {
    const uint8_t bytes[5] = {3, 3, 4, 200, 3};
    Kelvo_Histogram h(bytes, 5, 1);
    std::unique_ptr<Kelvo_Histogram> c(h.clone());
    ASSERT_TRUE(c);
    EXPECT_STREQ(c->qtObjName(), "Kelvo_Histogram");
    EXPECT_EQ(c->total(), 5u);
    EXPECT_EQ(c->intensityCount(3), 3.0);
    EXPECT_EQ(c->cumulativeCount(4), 4u);
    EXPECT_NE(c->items(), h.items());
    h.defaultStatus();
    EXPECT_EQ(h.total(), 0u);
    EXPECT_EQ(h.intensityCount(3), 0.0);
    EXPECT_EQ(h.cumulativeCount(255), 0u);
    EXPECT_EQ(c->intensityCount(3), 3.0);
}

template <class T>
void expectStatistics(const std::vector<T>& samples, uint32_t stride, const std::vector<double>& want) {
    ASSERT_EQ(want.size(), 7u);
    ASSERT_FALSE(samples.empty());
    KelvoStatisticsT<T> s;
    s.init(const_cast<T*>(samples.data()), uint32_t(samples.size()), stride);
    EXPECT_EQ(s.Error(), 0);
    EXPECT_EQ(double(s.count), want[0]);
    // numpy sums pairwise and we sum in order: equal to a few units in the last place.
    auto near = [](double got, double expected) {
        EXPECT_NEAR(got, expected, 1e-12 * std::max(1.0, std::fabs(expected)));
    };
    near(s.mean, want[1]);
    near(s.variance, want[2]);
    near(s.stdDeviation, want[3]);
    near(s.meanAbsDeviation, want[4]);
    EXPECT_EQ(s.min, want[5]);
    EXPECT_EQ(s.max, want[6]);
}

TEST(KelvoStatisticsT, EverySampleTypeMatchesNumpy) {
    const Peer& p = peer();
    for (uint32_t stride : {1u, 3u}) {
        SCOPED_TRACE(stride);
        const std::string s = "_" + std::to_string(stride);
        expectStatistics(p.grey, stride, p.expected.at("stats_u8" + s));
        expectStatistics(p.u16, stride, p.expected.at("stats_u16" + s));
        expectStatistics(p.s16, stride, p.expected.at("stats_s16" + s));
        expectStatistics(p.f32, stride, p.expected.at("stats_f32" + s));
    }
}

TEST(Kelvo_ImageInfo, CopyAssignAndClone) {
    Kelvo_ImageInfo a;
    EXPECT_FALSE(a.qtObjIsValid());
    EXPECT_EQ(a.clone(), nullptr);
    a.count = 4;
    a.mean = 1.5;
    a.variance = 2.0;
    a.stdDeviation = std::sqrt(2.0);
    a.meanAbsDeviation = 0.5;
    a.min = -1.0;
    a.max = 9.0;
    Kelvo_ImageInfo b;
    b = a;
    EXPECT_EQ(b.count, 4u);
    EXPECT_EQ(b.max, 9.0);
    EXPECT_EQ(b.stdDeviation, std::sqrt(2.0));
    std::unique_ptr<Kelvo_ImageInfo> c(a.clone());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->min, -1.0);
    Kelvo_ImageInfo d(a);
    EXPECT_EQ(d.meanAbsDeviation, 0.5);

    b = static_cast<const Kelvo_ImageInfo*>(nullptr); // changes nothing
    EXPECT_EQ(b.count, 4u);
    b.copy(b); // itself: nothing
    EXPECT_EQ(b.mean, 1.5);

    // Another class: cleared, status 10.
    Kelvo_ImageValue other;
    b.copy(other);
    EXPECT_EQ(b.Error(), 10);
    EXPECT_EQ(b.count, 0u);
    EXPECT_EQ(b.max, 0.0);
}

TEST(Kelvo_ImageValue, EqualityCopyAndNaN) {
    Kelvo_ImageValue a;
    a.grey() = 1.0;
    a.red() = 2.0;
    a.green() = 3.0;
    a.blue() = 4.0;
    Kelvo_ImageValue b(a);
    EXPECT_TRUE(a == b);
    b.blue() = 5.0;
    EXPECT_TRUE(a != b);
    b = a;
    EXPECT_TRUE(a == b);

    Kelvo_ImageValue n;
    n.red() = std::numeric_limits<double>::quiet_NaN();
    Kelvo_ImageValue m(n);
    EXPECT_TRUE(n == n);
    EXPECT_FALSE(n == m);
    EXPECT_TRUE(n != m);

    // Another class changes nothing, not even the status.
    Kelvo_ImageInfo info;
    a.copy(info);
    EXPECT_EQ(a.grey(), 1.0);
    EXPECT_EQ(a.Error(), 0);
    std::unique_ptr<Kelvo_ImageValue> c(a.clone());
    ASSERT_TRUE(c);
    EXPECT_TRUE(*c == a);
    a.defaultStatus();
    EXPECT_EQ(a.red(), 0.0);
    EXPECT_TRUE(static_cast<const Kelvo_ImageValue&>(a).qtObjIsValid());
}

} // namespace
