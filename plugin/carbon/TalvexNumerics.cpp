#include "TalvexNumerics.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace {

constexpr int32_t kBadArgument = -50;
constexpr int32_t kNoMemory = -1;

// Residuals below this (relative to a non-zero y) do not pull the slope either way.
constexpr float kDeviationFloor = 1e-7f;
// Each bracketing step widens the interval by 1.6; far fewer steps than this already overflow a
// float, so a bracket that still has not closed has run off to infinity.
constexpr int kMaxBracketSteps = 400;

// Moves a pointer by a signed count of floats without pointer arithmetic outside the block.
float* offsetFloats(float* p, int64_t count) {
    return reinterpret_cast<float*>(reinterpret_cast<uintptr_t>(p) +
                                    uintptr_t(count * int64_t(sizeof(float))));
}

bool allXEqual(const PointI* points, int count) {
    for (int j = 1; j < count; ++j)
        if (points[j].x != points[0].x) return false;
    return true;
}

// The state of a robust fit shared by its trial slopes.
struct RobustFit {
    int32_t n;
    float* x;
    float* y;
    float* residual;
    // Set by each trial: the slope tried, the median intercept for it and the absolute deviation.
    float slope = 0.0f;
    float intercept = 0.0f;
    float deviationSum = 0.0f;
};

// For slope b: the intercept that is the median of y - b x, and the sum of x weighted by the sign
// of each point's deviation from that line; the fit's slope is where this sum changes sign.
float rofunc(float b, RobustFit& fit) {
    const uint32_t n = uint32_t(fit.n);
    for (uint32_t j = 1; j <= n; ++j)
        fit.residual[j] = fit.y[j] - b * fit.x[j];
    float aa;
    if (n % 2 == 1) {
        aa = select((n + 1) / 2, n, fit.residual);
    } else {
        const uint32_t k = n / 2;
        aa = 0.5f * (select(k, n, fit.residual) + select(k + 1, n, fit.residual));
    }
    float sum = 0.0f;
    float abdev = 0.0f;
    for (uint32_t j = 1; j <= n; ++j) {
        float d = fit.y[j] - (b * fit.x[j] + aa);
        abdev += std::fabs(d);
        if (fit.y[j] != 0.0f) d /= std::fabs(fit.y[j]);
        if (std::fabs(d) > kDeviationFloor) sum += d >= 0.0f ? fit.x[j] : -fit.x[j];
    }
    fit.slope = b;
    fit.intercept = aa;
    fit.deviationSum = abdev;
    return sum;
}

} // namespace

float* vector(int32_t low, int32_t high) {
    if (high < low) return nullptr;
    const int64_t count = int64_t(high) - int64_t(low) + 2;
    float* block = static_cast<float*>(std::malloc(size_t(count) * sizeof(float)));
    if (!block) return nullptr;
    return offsetFloats(block, 1 - int64_t(low));
}

void free_vector(float* v, int32_t low) {
    if (v) std::free(offsetFloats(v, int64_t(low) - 1));
}

int32_t InitGaussf(float* kernel, int n, float sigma) {
    if (!kernel || n < 1 || std::isnan(sigma)) return kBadArgument;
    const int64_t r = (int64_t(n) - 1) / 2;
    const int64_t side = 2 * r + 1;
    const size_t total = size_t(n) * size_t(n);
    const float twoSigma2 = 2.0f * sigma * sigma;
    float sum = 0.0f;
    for (int64_t y = -r; y <= r; ++y) {
        for (int64_t x = -r; x <= r; ++x) {
            const int64_t d2 = x * x + y * y;
            float& entry = kernel[size_t((y + r) * side + (x + r))];
            if (double(r) >= std::sqrt(double(d2))) {
                // The centre is 1 whatever sigma is: a zero sigma would make it 0/0.
                const float exponent = d2 == 0 ? 0.0f : -float(d2) / twoSigma2;
                entry = float(std::exp(double(exponent)));
                sum += entry;
            } else {
                entry = 0.0f;
            }
        }
    }
    // An even side leaves entries past the odd kernel: they are part of the table, so give them a
    // value rather than leave whatever the caller's memory held.
    for (size_t k = size_t(side * side); k < total; ++k)
        kernel[k] = 0.0f;
    for (size_t k = 0; k < total; ++k)
        kernel[k] /= sum;
    return 0;
}

int32_t TalvexLinearRegression(const PointI* points, int count, float* a, float* b) {
    if (!points || !a || !b || count < 1 || allXEqual(points, count)) return kBadArgument;
    float sx = 0.0f, sy = 0.0f;
    for (int j = 0; j < count; ++j) {
        sx += float(points[j].x);
        sy += float(points[j].y);
    }
    const float mx = sx / float(count);
    float stt = 0.0f, sty = 0.0f;
    for (int j = 0; j < count; ++j) {
        const float t = float(points[j].x) - mx;
        stt += t * t;
        sty += t * float(points[j].y);
    }
    float slope = sty / stt;
    const float intercept = (sy - sx * slope) / float(count);
    if (!std::isfinite(slope) || !std::isfinite(intercept)) return kBadArgument;
    if (slope == 0.0f) slope = 1e-20f;
    *a = intercept;
    *b = slope;
    return 0;
}

int32_t TalvexRobustRegression(const PointI* points, int count, float* a, float* b, float* abdev) {
    if (!points || !a || !b || !abdev || count < 1 || allXEqual(points, count)) return kBadArgument;
    RobustFit fit{count, vector(1, count), vector(1, count), vector(1, count)};
    auto release = [&fit] {
        free_vector(fit.residual, 1);
        free_vector(fit.y, 1);
        free_vector(fit.x, 1);
    };
    if (!fit.x || !fit.y || !fit.residual) {
        release();
        return kNoMemory;
    }

    // The least-squares line starts the search, its slope's spread sets the steps.
    const float n = float(count);
    float sx = 0.0f, sy = 0.0f, sxy = 0.0f, sxx = 0.0f;
    for (int j = 1; j <= count; ++j) {
        fit.x[j] = float(points[j - 1].x);
        fit.y[j] = float(points[j - 1].y);
        sx += fit.x[j];
        sy += fit.y[j];
        sxy += fit.x[j] * fit.y[j];
        sxx += fit.x[j] * fit.x[j];
    }
    const float del = n * sxx - sx * sx;
    // Distinct x give a positive del; x so close together that it cancels away fix no slope here.
    if (!(del > 0.0f) || !std::isfinite(del)) {
        release();
        return kBadArgument;
    }
    const float aa = (sxx * sy - sx * sxy) / del;
    const float bb = (n * sxy - sx * sy) / del;
    float chisq = 0.0f;
    for (int j = 1; j <= count; ++j) {
        const float e = fit.y[j] - (aa + bb * fit.x[j]);
        chisq += e * e;
    }
    const float sigb = std::sqrt(chisq / del);

    float b1 = bb;
    float f1 = rofunc(b1, fit);
    if (sigb > 0.0f) {
        float b2 = bb + (f1 >= 0.0f ? std::fabs(3.0f * sigb) : -std::fabs(3.0f * sigb));
        float f2 = rofunc(b2, fit);
        if (b2 != b1) {
            for (int step = 0; f1 * f2 > 0.0f; ++step) {
                if (step == kMaxBracketSteps) {
                    release();
                    return kBadArgument;
                }
                const float next = b2 + 1.6f * (b2 - b1);
                b1 = b2;
                f1 = f2;
                b2 = next;
                f2 = rofunc(b2, fit);
            }
            const float tolerance = 0.01f * sigb;
            while (std::fabs(b2 - b1) > tolerance) {
                const float mid = b1 + 0.5f * (b2 - b1);
                if (mid == b1 || mid == b2) break;
                const float f = rofunc(mid, fit);
                if (f * f1 >= 0.0f) {
                    f1 = f;
                    b1 = mid;
                } else {
                    f2 = f;
                    b2 = mid;
                }
            }
        }
    }
    // The answer is the last slope tried with the intercept and deviation found for it, so the
    // three always describe one line.
    const float slope = fit.slope, intercept = fit.intercept, meanDeviation = fit.deviationSum / n;
    release();
    if (!std::isfinite(slope) || !std::isfinite(intercept) || !std::isfinite(meanDeviation))
        return kBadArgument;
    *a = intercept;
    *b = slope;
    *abdev = meanDeviation;
    return 0;
}

float select(uint32_t k, uint32_t n, float* arr) {
    if (!arr || k < 1 || k > n) return 0.0f;
    uint32_t l = 1, ir = n;
    for (;;) {
        if (ir <= l + 1) {
            if (ir == l + 1 && arr[ir] < arr[l]) std::swap(arr[l], arr[ir]);
            return arr[k];
        }
        // Median of three as the pivot, placed at l + 1; arr[l] <= pivot <= arr[ir] then bound the
        // two scans below.
        const uint32_t mid = l + (ir - l) / 2;
        std::swap(arr[mid], arr[l + 1]);
        if (arr[l] > arr[ir]) std::swap(arr[l], arr[ir]);
        if (arr[l + 1] > arr[ir]) std::swap(arr[l + 1], arr[ir]);
        if (arr[l] > arr[l + 1]) std::swap(arr[l], arr[l + 1]);
        uint32_t i = l + 1, j = ir;
        const float pivot = arr[l + 1];
        for (;;) {
            do
                ++i;
            while (arr[i] < pivot);
            do
                --j;
            while (arr[j] > pivot);
            if (j < i) break;
            std::swap(arr[i], arr[j]);
        }
        arr[l + 1] = arr[j];
        arr[j] = pivot;
        if (j >= k) ir = j - 1;
        if (j <= k) l = i;
    }
}

float Talvex_FOAM_float(const ImageARGB& image, unsigned short cx, unsigned short cy,
                        const float* meanWeights, const float* deviationWeights, unsigned short size) {
    if (!image.pixels || !meanWeights || !deviationWeights || size == 0) return 0.0f;
    const uint32_t h = (uint32_t(size) - 1) / 2;
    if (cx < h || cy < h) return 0.0f;
    if (uint64_t(cx) + h >= image.width || uint64_t(cy) + h >= image.height) return 0.0f;
    // The red byte: the second byte in memory of an alpha, red, green, blue pixel.
    auto sample = [&image](uint32_t row, uint32_t column) {
        const auto* pixel =
            reinterpret_cast<const uint8_t*>(image.pixels + size_t(row) * image.width + column);
        return float(pixel[1]);
    };
    float mean = 0.0f;
    size_t k = 0;
    for (uint32_t row = cy - h; row <= cy + h; ++row)
        for (uint32_t column = cx - h; column <= cx + h; ++column)
            mean += sample(row, column) * meanWeights[k++];
    float result = 0.0f;
    k = 0;
    for (uint32_t row = cy - h; row <= cy + h; ++row)
        for (uint32_t column = cx - h; column <= cx + h; ++column)
            result += std::fabs(sample(row, column) - mean) * deviationWeights[k++];
    return result;
}
