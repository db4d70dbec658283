// Float samples at the edges of their type against numpy at test time: NaN and infinite samples
// in the statistics (numpy's NaN spread, NaN minimum and maximum), spans wider than the largest
// float in the byte stretch and the range normalisation, and sizes a buffer cannot hold.
#include "ImagePeer.h"
#include "KelvoImage.h"
#include "KelvoImageTypes.h"
#include "KelvoImageTypesAlgorithms.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// The cases, one a line, as numpy reads them.
const std::vector<std::vector<float>> kCases = {
    {1, 2, kNaN, 4, 5},
    {kNaN, 1, 2, 3},
    {1, kInf, 3, 4},
    {1, 2, 3, -kInf},
    {-kInf, kInf, 1, 2},
    {kInf, kInf, kInf, kInf},
    {-3e38f, 0, 3e38f, 1},
    {3e38f, 3e38f, 3e38f, 3e38f},
    {0.5f, 1.25f, -2, 8, 1e-30f},
};

std::string repr(float v) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    std::ostringstream s;
    s.precision(9);
    s << v;
    return s.str();
}

// A value of numpy's text ("nan", "inf", "-inf" or a number).
double parse(const std::string& t) {
    return std::strtod(t.c_str(), nullptr);
}

bool same(double ours, double theirs) {
    if (std::isnan(theirs)) return std::isnan(ours);
    if (std::isinf(theirs)) return ours == theirs;
    return std::fabs(ours - theirs) <= 1e-9 * std::max(1.0, std::fabs(theirs));
}

// Lines "count mean variance std mad min max" for every case: numpy in double over the float32
// samples, variance with n - 1.
std::vector<std::vector<double>> numpyStatistics(const testsupport::ScratchDir& dir) {
    std::string cases;
    for (const auto& c : kCases) {
        for (float v : c)
            cases += repr(v) + " ";
        cases += "\n";
    }
    testsupport::writeFile(dir.file("cases.txt"), cases);
    const std::string script = R"(
import sys, warnings
warnings.simplefilter('ignore')
import numpy as np
d = sys.argv[1]
out = []
for line in open(d + '/cases.txt'):
    x = np.array([float(t) for t in line.split()], dtype=np.float32).astype(np.float64)
    m = x.mean()
    v = x.var(ddof=1)
    out.append(' '.join(repr(float(a)) for a in [len(x), m, v, np.sqrt(v), np.mean(np.abs(x - m)), x.min(), x.max()]))
open(d + '/stats.txt', 'w').write('\n'.join(out) + '\n')
)";
    std::vector<std::vector<double>> rows;
    if (!imagepeer::runPeer(dir, script)) return rows;
    std::istringstream in(testsupport::readFile(dir.file("stats.txt")));
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::vector<double> row;
        for (std::string t; fields >> t;)
            row.push_back(parse(t));
        rows.push_back(row);
    }
    return rows;
}

TEST(FloatExtremes, StatisticsEqualNumpyWithNaNAndInfiniteSamples) {
    testsupport::ScratchDir dir("float-statistics");
    const auto expected = numpyStatistics(dir);
    ASSERT_EQ(expected.size(), kCases.size());
    for (size_t k = 0; k < kCases.size(); ++k) {
        std::vector<float> samples = kCases[k];
        SCOPED_TRACE("case " + std::to_string(k));
        // Straight, and through a float image of one row.
        KelvoStatisticsT<float> stats;
        stats.init(samples.data(), uint32_t(samples.size()), 1);
        Kelvo_Image8BitGreyFloat image(Kelvo_Size(double(samples.size()), 1), samples.data());
        std::unique_ptr<Kelvo_ImageInfo> info(image.channelInfo(0));
        ASSERT_TRUE(info);
        const double ours[2][7] = {{double(stats.count), stats.mean, stats.variance, stats.stdDeviation,
                                    stats.meanAbsDeviation, stats.min, stats.max},
                                   {double(info->count), info->mean, info->variance, info->stdDeviation,
                                    info->meanAbsDeviation, info->min, info->max}};
        const char* names[7] = {"count", "mean", "variance", "std", "mad", "min", "max"};
        ASSERT_EQ(expected[k].size(), 7u);
        for (const auto& row : ours)
            for (int i = 0; i < 7; ++i)
                EXPECT_TRUE(same(row[i], expected[k][size_t(i)]))
                    << names[i] << ": ours " << row[i] << ", numpy " << expected[k][size_t(i)];
    }
}

// numpy's equivalents of the byte stretch and the normalisation, in double from the float32
// samples, truncated to bytes or rounded to float32.
TEST(FloatExtremes, SpansWiderThanTheLargestFloatAreWorkedInDouble) {
    testsupport::ScratchDir dir("float-spans");
    const std::string script = R"(
import sys
import numpy as np
d = sys.argv[1]
x = np.array([-3e38, 0, 3e38, 1e38], dtype=np.float32).astype(np.float64)
b = np.clip((x - x.min()) * 255.0 / (x.max() - x.min()) + 0.0, 0, 255).astype(np.uint8)
b.tofile(d + '/bytes.bin')
y = np.array([-1, 0, 1, 2], dtype=np.float32).astype(np.float64)
lo, hi = float(np.float32(-3e38)), float(np.float32(3e38))
n = np.clip((y - y.min()) * (hi - lo) / (y.max() - y.min()) + lo, lo, hi).astype(np.float32)
n.tofile(d + '/normalized.bin')
)";
    ASSERT_TRUE(imagepeer::runPeer(dir, script));
    const auto bytes = imagepeer::samplesOf<uint8_t>(dir.file("bytes.bin"));
    const auto normalized = imagepeer::samplesOf<float>(dir.file("normalized.bin"));
    ASSERT_EQ(bytes.size(), 4u);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[1], 127);
    EXPECT_EQ(bytes[2], 255);

    std::vector<float> wide = {-3e38f, 0, 3e38f, 1e38f};
    Kelvo_Image8BitGreyFloat image(Kelvo_Size(4, 1), wide.data());
    std::unique_ptr<uint8_t[]> ours(image.convertToChar());
    ASSERT_TRUE(ours);
    EXPECT_EQ(std::vector<uint8_t>(ours.get(), ours.get() + 4), bytes);
    // The display stretch of the same samples.
    uint8_t* shown = nullptr;
    ASSERT_EQ(scaleToUInt8<float>(wide.data(), shown, 4), 0);
    std::unique_ptr<uint8_t[]> owned(shown);
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(int(shown[i]), int(bytes[size_t(i)]), 1) << i;
    EXPECT_EQ(shown[0], 0);
    EXPECT_EQ(shown[2], 255);

    std::vector<float> narrow = {-1, 0, 1, 2};
    Kelvo_Image8BitGreyFloat small(Kelvo_Size(4, 1), narrow.data());
    std::unique_ptr<Kelvo_Image> result(small.normalizeImage(-3e38, 3e38));
    ASSERT_TRUE(result);
    const auto* samples = static_cast<const float*>(result->buffer());
    ASSERT_EQ(normalized.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(std::isfinite(samples[i])) << i;
        EXPECT_EQ(samples[i], normalized[size_t(i)]) << i;
    }
}

TEST(FloatExtremes, SizesABufferCannotHoldAreRefused) {
    // 40000 columns do not fit the 16-bit edges of a buffer: no image, rather than an empty one
    // with nothing said.
    std::vector<float> row(40000, 1.0f);
    for (uint32_t format : {Kelvo_Image::kGreyFloat, Kelvo_Image::kGrey, Kelvo_Image::kRGB}) {
        std::unique_ptr<Kelvo_Image> image(
            Kelvo_Image::createWithData(Kelvo_OSType(format), Kelvo_Size(40000, 1), row.data()));
        EXPECT_EQ(image, nullptr) << format;
        Kelvo_Image8BitGreyFloat direct(Kelvo_Size(40000, 1), row.data());
        EXPECT_EQ(direct.Error(), -50);
        EXPECT_FALSE(direct.qtObjIsValid());
    }
    // The largest edge works.
    std::vector<float> most(32767, 2.0f);
    std::unique_ptr<Kelvo_Image> image(Kelvo_Image::createWithData(Kelvo_OSType(Kelvo_Image::kGreyFloat),
                                                                   Kelvo_Size(32767, 1), most.data()));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->Error(), 0);
    EXPECT_TRUE(image->qtObjIsValid());
    EXPECT_EQ(static_cast<const float*>(image->buffer())[32766], 2.0f);
}

} // namespace
