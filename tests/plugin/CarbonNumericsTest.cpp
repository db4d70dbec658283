// The Carbon build's numeric helpers: the Gaussian kernel against a direct computation, both line
// fits against numpy and an exhaustive least-absolute-deviation search on noisy data with
// outliers, points that fix no line, the median selection, the vectors, and the windowed measure
// on a raster worked out by hand. Also which deliverable carries these helpers.
#include "TalvexNumerics.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr float kUnset = -12345.0f;

// Reference fits made by numpy: for each data set a line "name n ls_a ls_b lad_a lad_b lad_abdev
// sigb" and then the points. The least-squares line comes from polyfit in double precision; the
// least-absolute-deviation line from trying every line through two points with the median
// intercept (the optimum passes through two points), keeping the smallest deviation.
const char* kReference = R"PY(
import numpy as np

def lad(x, y):
    best = None
    for i in range(len(x)):
        for j in range(i + 1, len(x)):
            if x[i] == x[j]:
                continue
            b = (y[j] - y[i]) / (x[j] - x[i])
            a = np.median(y - b * x)
            dev = np.abs(y - a - b * x).sum()
            if best is None or dev < best[2]:
                best = (a, b, dev)
    return best[0], best[1], best[2] / len(x)

def emit(name, x, y):
    x = np.asarray(x, dtype=np.float64)
    y = np.asarray(y, dtype=np.float64)
    b, a = np.polyfit(x, y, 1)
    n = len(x)
    d = n * (x * x).sum() - x.sum() ** 2
    sigb = np.sqrt(((y - a - b * x) ** 2).sum() / d)
    la, lb, ldev = lad(x, y)
    print(name, n, repr(a), repr(b), repr(la), repr(lb), repr(ldev), repr(sigb))
    for xi, yi in zip(x, y):
        print(int(xi), int(yi))

rng = np.random.default_rng(20261210)
x = rng.integers(0, 200, 41)
y = np.rint(3 * x - 50 + rng.normal(0, 8, x.size)).astype(int)
y[[3, 17, 29]] += [900, -700, 1200]
emit('rising', x, y)

x = rng.integers(-500, 500, 30)
y = np.rint(-0.75 * x + 20 + rng.normal(0, 25, x.size)).astype(int)
y[[0, 11]] += [-4000, 3000]
emit('falling', x, y)

x = np.arange(0, 12)
y = 2 * x + 1
y[5] += 1000
emit('line_and_outlier', x, y)

emit('two_points', [3, 10], [7, -7])
)PY";

struct DataSet {
    std::string name;
    double lsA = 0, lsB = 0, ladA = 0, ladB = 0, ladAbdev = 0, sigb = 0;
    std::vector<PointI> points;
};

std::vector<DataSet> referenceSets() {
    testsupport::ScratchDir dir("carbon-numerics");
    const std::string script = dir.file("reference.py");
    testsupport::writeFile(script, kReference);
    int status = -1;
    std::istringstream in(testsupport::run("/usr/bin/python3 " + script + " 2>/dev/null", &status));
    std::vector<DataSet> sets;
    if (status != 0) return sets;
    DataSet set;
    int n = 0;
    while (in >> set.name >> n >> set.lsA >> set.lsB >> set.ladA >> set.ladB >> set.ladAbdev >> set.sigb) {
        set.points.resize(size_t(n));
        for (auto& p : set.points)
            in >> p.x >> p.y;
        sets.push_back(set);
    }
    return sets;
}

const std::vector<DataSet>& sets() {
    static const std::vector<DataSet> all = referenceSets();
    return all;
}

} // namespace

// ---- Gaussian kernel ----

TEST(CarbonGaussian, KernelsSumToOneAndMatchTheDirectFormula) {
    struct Case {
        int n;
        float sigma;
    };
    const Case cases[] = {{1, 1.0f}, {3, 100.0f}, {5, 1.5f}, {7, 0.8f}, {9, 3.0f}, {15, 4.0f}};
    for (const auto& c : cases) {
        SCOPED_TRACE("n=" + std::to_string(c.n) + " sigma=" + std::to_string(c.sigma));
        std::vector<float> kernel(size_t(c.n * c.n), kUnset);
        ASSERT_EQ(InitGaussf(kernel.data(), c.n, c.sigma), 0);
        const int r = (c.n - 1) / 2;
        std::vector<double> direct;
        double total = 0.0;
        for (int y = -r; y <= r; ++y)
            for (int x = -r; x <= r; ++x) {
                const double d2 = x * x + y * y;
                const double w = std::sqrt(d2) <= r ? std::exp(-d2 / (2.0 * c.sigma * c.sigma)) : 0.0;
                direct.push_back(w);
                total += w;
            }
        double sum = 0.0;
        for (size_t k = 0; k < kernel.size(); ++k) {
            EXPECT_NEAR(kernel[k], direct[k] / total, 1e-6) << "entry " << k;
            sum += kernel[k];
        }
        EXPECT_NEAR(sum, 1.0, 1e-5);
    }
}

TEST(CarbonGaussian, SmallKernelsAndTheCircle) {
    float one = kUnset;
    ASSERT_EQ(InitGaussf(&one, 1, 2.0f), 0);
    EXPECT_EQ(one, 1.0f);

    // The corners of a 3 x 3 kernel lie outside the circle of radius 1; a wide sigma makes the
    // other five nearly equal.
    float k3[9];
    ASSERT_EQ(InitGaussf(k3, 3, 1000.0f), 0);
    for (int k : {0, 2, 6, 8})
        EXPECT_EQ(k3[k], 0.0f);
    for (int k : {1, 3, 4, 5, 7})
        EXPECT_NEAR(k3[k], 0.2f, 1e-6);

    // A zero sigma is the centre alone rather than 0/0 at the centre and NaN everywhere.
    float delta[25];
    ASSERT_EQ(InitGaussf(delta, 5, 0.0f), 0);
    for (int k = 0; k < 25; ++k)
        EXPECT_EQ(delta[k], k == 12 ? 1.0f : 0.0f) << k;
}

TEST(CarbonGaussian, AnEvenSideFillsTheSmallerOddKernelAndZeroesTheRest) {
    std::vector<float> even(16, std::numeric_limits<float>::quiet_NaN());
    ASSERT_EQ(InitGaussf(even.data(), 4, 1.2f), 0);
    float odd[9];
    ASSERT_EQ(InitGaussf(odd, 3, 1.2f), 0);
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(even[size_t(k)], odd[k]) << k;
    for (int k = 9; k < 16; ++k)
        EXPECT_EQ(even[size_t(k)], 0.0f) << k;
}

TEST(CarbonGaussian, ArgumentsThatGiveNoKernelAreRefusedUntouched) {
    float kernel[4] = {kUnset, kUnset, kUnset, kUnset};
    EXPECT_EQ(InitGaussf(kernel, 0, 1.0f), -50);
    EXPECT_EQ(InitGaussf(kernel, -3, 1.0f), -50);
    EXPECT_EQ(InitGaussf(kernel, 1, std::numeric_limits<float>::quiet_NaN()), -50);
    EXPECT_EQ(InitGaussf(nullptr, 3, 1.0f), -50);
    for (float v : kernel)
        EXPECT_EQ(v, kUnset);
}

// ---- Line fits ----

TEST(CarbonLineFits, LeastSquaresMatchesNumpyOnNoisyData) {
    ASSERT_EQ(sets().size(), 4u) << "/usr/bin/python3 with numpy is needed for the reference fits";
    for (const auto& set : sets()) {
        SCOPED_TRACE(set.name);
        float a = kUnset, b = kUnset;
        ASSERT_EQ(TalvexLinearRegression(set.points.data(), int(set.points.size()), &a, &b), 0);
        EXPECT_NEAR(b, set.lsB, 1e-5 * (1.0 + std::fabs(set.lsB)));
        EXPECT_NEAR(a, set.lsA, 1e-4 * (1.0 + std::fabs(set.lsA)));
    }
}

TEST(CarbonLineFits, RobustFitFindsTheLeastAbsoluteDeviationLine) {
    ASSERT_EQ(sets().size(), 4u) << "/usr/bin/python3 with numpy is needed for the reference fits";
    for (const auto& set : sets()) {
        SCOPED_TRACE(set.name);
        float a = kUnset, b = kUnset, abdev = kUnset;
        ASSERT_EQ(TalvexRobustRegression(set.points.data(), int(set.points.size()), &a, &b, &abdev), 0);
        // The slope is bisected to a hundredth of the least-squares slope's spread.
        const double slopeTolerance = 0.01 * set.sigb + 1e-5 * (1.0 + std::fabs(set.ladB));
        EXPECT_NEAR(b, set.ladB, slopeTolerance);
        // The three describe one line: abdev is the mean deviation from a + b x, and a is the
        // median of y - b x.
        double deviation = 0.0;
        std::vector<double> residuals;
        double maxX = 0.0;
        for (const auto& p : set.points) {
            deviation += std::fabs(p.y - (double(a) + double(b) * p.x));
            residuals.push_back(p.y - double(b) * p.x);
            maxX = std::max(maxX, std::fabs(double(p.x)));
        }
        deviation /= double(set.points.size());
        EXPECT_NEAR(abdev, deviation, 1e-4 * (1.0 + deviation));
        std::sort(residuals.begin(), residuals.end());
        const size_t n = residuals.size();
        const double median = n % 2 ? residuals[n / 2] : 0.5 * (residuals[n / 2 - 1] + residuals[n / 2]);
        EXPECT_NEAR(a, median, 1e-4 * (1.0 + std::fabs(median)));
        // No line does better than the exhaustive optimum, and this one is as good as a slope that
        // close to it can be.
        EXPECT_GE(abdev, set.ladAbdev - 1e-4 * (1.0 + set.ladAbdev));
        EXPECT_LE(abdev, set.ladAbdev + slopeTolerance * maxX + 1e-4 * (1.0 + set.ladAbdev));
    }
}

TEST(CarbonLineFits, ExactLinesComeBackFromBothFits) {
    // Three points on y = 2x + 1, and a line of equal y whose zero slope is given as 1e-20.
    const PointI line[] = {{0, 1}, {1, 3}, {2, 5}};
    float a = kUnset, b = kUnset, abdev = kUnset;
    ASSERT_EQ(TalvexLinearRegression(line, 3, &a, &b), 0);
    EXPECT_FLOAT_EQ(a, 1.0f);
    EXPECT_FLOAT_EQ(b, 2.0f);
    ASSERT_EQ(TalvexRobustRegression(line, 3, &a, &b, &abdev), 0);
    EXPECT_FLOAT_EQ(a, 1.0f);
    EXPECT_FLOAT_EQ(b, 2.0f);
    EXPECT_EQ(abdev, 0.0f);

    const PointI flat[] = {{-4, 7}, {1, 7}, {9, 7}, {12, 7}};
    ASSERT_EQ(TalvexLinearRegression(flat, 4, &a, &b), 0);
    EXPECT_EQ(b, 1e-20f);
    EXPECT_FLOAT_EQ(a, 7.0f);
}

TEST(CarbonLineFits, PointsThatFixNoSlopeAreAnsweredWithAStatus) {
    const PointI one[] = {{5, 9}};
    const PointI vertical[] = {{4, 1}, {4, 8}, {4, -3}};
    // Distinct integers that single precision cannot tell apart.
    const PointI indistinct[] = {{16777216, 1}, {16777217, 2}, {16777216, 3}};
    struct Case {
        const char* what;
        const PointI* points;
        int count;
    };
    const Case cases[] = {
        {"empty", one, 0},
        {"negative count", one, -2},
        {"one point", one, 1},
        {"all x equal", vertical, 3},
        {"x too close for floats", indistinct, 3},
        {"no points", nullptr, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        float a = kUnset, b = kUnset, abdev = kUnset;
        EXPECT_EQ(TalvexLinearRegression(c.points, c.count, &a, &b), -50);
        EXPECT_EQ(TalvexRobustRegression(c.points, c.count, &a, &b, &abdev), -50);
        EXPECT_EQ(a, kUnset);
        EXPECT_EQ(b, kUnset);
        EXPECT_EQ(abdev, kUnset);
    }
    float a = 0, b = 0;
    EXPECT_EQ(TalvexLinearRegression(vertical, 3, nullptr, &b), -50);
    EXPECT_EQ(TalvexRobustRegression(vertical, 3, &a, &b, nullptr), -50);
}

// ---- Selection and vectors ----

TEST(CarbonSelection, SelectFindsEachOrderStatistic) {
    float small[] = {0.0f, 5.0f, 1.0f, 3.0f};
    EXPECT_EQ(select(2, 3, small), 3.0f);

    std::mt19937 rng(7);
    for (uint32_t n : {1u, 2u, 3u, 8u, 31u, 64u}) {
        std::vector<float> values(n);
        // Few distinct values, so that ties are common.
        for (auto& v : values)
            v = float(int(rng() % 9) - 4);
        std::vector<float> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        for (uint32_t k = 1; k <= n; ++k) {
            std::vector<float> work(1, 0.0f);
            work.insert(work.end(), values.begin(), values.end());
            EXPECT_EQ(select(k, n, work.data()), sorted[k - 1]) << "n=" << n << " k=" << k;
        }
    }
    EXPECT_EQ(select(0, 3, small), 0.0f);
    EXPECT_EQ(select(4, 3, small), 0.0f);
    EXPECT_EQ(select(1, 1, nullptr), 0.0f);
}

TEST(CarbonSelection, VectorsAddressTheirWholeRange) {
    for (auto [low, high] : {std::pair{1, 1}, std::pair{1, 40}, std::pair{-3, 3}, std::pair{5, 9}}) {
        float* v = vector(low, high);
        ASSERT_TRUE(v);
        for (int32_t i = low; i <= high; ++i)
            v[i] = float(i);
        for (int32_t i = low; i <= high; ++i)
            EXPECT_EQ(v[i], float(i));
        free_vector(v, low);
    }
    EXPECT_FALSE(vector(3, 2));
    free_vector(nullptr, 1);
}

// ---- Windowed measure ----

namespace {

// A 4 x 4 raster whose red bytes run 10, 20, ... 160 row by row; alpha, green and blue hold
// other values so that reading the wrong byte shows.
std::vector<uint32_t> raster() {
    std::vector<uint32_t> pixels(16);
    for (size_t i = 0; i < 16; ++i) {
        const uint8_t bytes[4] = {0xFF, uint8_t(10 * (i + 1)), uint8_t(200 - i), 3};
        std::memcpy(&pixels[i], bytes, 4);
    }
    return pixels;
}

} // namespace

TEST(CarbonWindowedMeasure, WeightedDeviationsOverTheWindow) {
    std::vector<uint32_t> pixels = raster();
    const ImageARGB image{pixels.data(), 4, 4};
    std::vector<float> uniform(16, 0.0f), ones(16, 0.0f), ramp(16, 0.0f), third(16, 0.0f);
    for (size_t k = 0; k < 9; ++k) {
        uniform[k] = 1.0f / 9.0f;
        ones[k] = 1.0f;
        ramp[k] = float(k + 1);
    }
    third[2] = 1.0f;
    // Around (1, 1): 10 20 30 / 50 60 70 / 90 100 110, mean 60, deviations 50 40 30 10 0 10 30 40 50.
    EXPECT_NEAR(Talvex_FOAM_float(image, 1, 1, uniform.data(), ones.data(), 3), 260.0f, 1e-3);
    // The mean taken from the third window pixel alone (30); deviations 20 10 0 20 30 40 60 70 80
    // weighted 1 to 9: 20 + 20 + 0 + 80 + 150 + 240 + 420 + 560 + 720.
    EXPECT_NEAR(Talvex_FOAM_float(image, 1, 1, third.data(), ramp.data(), 3), 2210.0f, 1e-3);
    // Around (2, 2): 60 70 80 / 100 110 120 / 140 150 160, mean 110.
    EXPECT_NEAR(Talvex_FOAM_float(image, 2, 2, uniform.data(), ones.data(), 3), 260.0f, 1e-3);
    // An even side uses the odd window one smaller.
    EXPECT_NEAR(Talvex_FOAM_float(image, 1, 1, uniform.data(), ones.data(), 4), 260.0f, 1e-3);
    // Size 1: |s - s w1| w2 with s = 120 at column 3, row 2.
    const float w1 = 0.5f, w2 = 2.0f;
    EXPECT_EQ(Talvex_FOAM_float(image, 3, 2, &w1, &w2, 1), 120.0f);
}

TEST(CarbonWindowedMeasure, WindowsOutsideTheRasterGiveZero) {
    std::vector<uint32_t> pixels = raster();
    const ImageARGB image{pixels.data(), 4, 4};
    std::vector<float> weights(25, 1.0f);
    struct Case {
        const char* what;
        unsigned short cx, cy, size;
    };
    const Case cases[] = {
        {"past the left edge", 0, 1, 3},
        {"past the top edge", 1, 0, 3},
        {"past the right edge", 3, 1, 3},
        {"past the bottom edge", 1, 3, 3},
        {"larger than the raster", 2, 2, 5},
        {"centre outside", 9, 9, 1},
        {"no window", 1, 1, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Talvex_FOAM_float(image, c.cx, c.cy, weights.data(), weights.data(), c.size), 0.0f)
            << c.what;
    const ImageARGB empty{nullptr, 4, 4};
    EXPECT_EQ(Talvex_FOAM_float(empty, 1, 1, weights.data(), weights.data(), 3), 0.0f);
    EXPECT_EQ(Talvex_FOAM_float(image, 1, 1, nullptr, weights.data(), 3), 0.0f);
}

// ---- The deliverables ----

TEST(CarbonDeliverable, OnlyTarnwickCarriesTheCarbonHelpers) {
    const char* helpers[] = {"InitGaussf(",           "TalvexRobustRegression(",
                             "Talvex_FOAM_float(",    "RBUtils_IntArrayToRect(",
                             "RBUtils_StringLength(", "RBFolderitemToCrossPlatformPath("};
    int status = -1;
    const std::string tarnwick =
        testsupport::run(std::string("nm -C --defined-only ") + TARNWICK_PLUGIN + " 2>/dev/null", &status);
    ASSERT_EQ(status, 0);
    const std::string sylmark =
        testsupport::run(std::string("nm -C --defined-only ") + SYLMARK_PLUGIN + " 2>/dev/null", &status);
    ASSERT_EQ(status, 0);
    for (const char* name : helpers) {
        EXPECT_NE(tarnwick.find(name), std::string::npos) << name;
        EXPECT_EQ(sylmark.find(name), std::string::npos) << name;
    }
    // Carried, not exported: the entry stays the one dynamic symbol.
    const std::string exported =
        testsupport::run(std::string("nm -D --defined-only --format=posix ") + TARNWICK_PLUGIN, &status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(exported.substr(0, exported.find(' ')), "REALPluginMain");
    EXPECT_EQ(std::count(exported.begin(), exported.end(), '\n'), 1) << exported;
}
