// The Carbon build's numeric helpers: one-based float vectors, a normalised circular Gaussian
// kernel, least-squares and least-absolute-deviation line fits, and a windowed weighted measure
// of spread on a 32-bit ARGB raster. Plain free functions over plain records; all arithmetic is
// single precision, as the results are pinned in that precision.
//
// Statuses: 0 done; -50 an argument that gives no meaningful answer (a missing pointer, a side
// below 1, no points, points that do not fix a slope); -1 out of memory. A refused call writes
// nothing to its outputs.
#pragma once

#include <cstdint>

struct PointI {
    int32_t x;
    int32_t y;
};
static_assert(sizeof(PointI) == 8);

// Pixels are 32-bit words stored row after row, each holding alpha, red, green and blue bytes in
// that order in memory; width counts the words of a row and height the rows.
struct ImageARGB {
    uint32_t* pixels;
    uint32_t width;
    uint32_t height;
};

// A float vector addressed from index `low` to `high` (one block of high - low + 2 floats, the
// first left unused); null when high < low or memory is short. Release it with free_vector.
float* vector(int32_t low, int32_t high);
void free_vector(float* v, int32_t low);

// Fills the n x n kernel with exp(-(x^2 + y^2) / (2 sigma^2)) inside the circle of radius
// (n - 1) / 2 around the centre and 0 outside, normalised to sum to 1. An even side fills a kernel
// of side n - 1 at the start of the table and zeroes the rest. A zero sigma gives the centre alone.
// -50 for a null kernel, n < 1 or a sigma that is not a number.
int32_t InitGaussf(float* kernel, int n, float sigma);

// The least-squares line y = a + b x. A slope of exactly 0 is given as 1e-20. -50 when there are no
// points or all x are equal (a single point included): such points fix no slope.
int32_t TalvexLinearRegression(const PointI* points, int count, float* a, float* b);

// The least-absolute-deviation line y = a + b x, found by bracketing and bisecting the slope from
// the least-squares one, with abdev the mean absolute deviation from it. -50 as for the
// least-squares fit, -1 when memory is short.
int32_t TalvexRobustRegression(const PointI* points, int count, float* a, float* b, float* abdev);

// The k-th smallest (k from 1) of arr[1..n], by partition selection: the array is left partly
// reordered. 0 when k is not within 1..n.
float select(uint32_t k, uint32_t n, float* arr);

// Over the size x size window centred on (cx, cy) (an even size uses the odd window one smaller),
// with entry k of each weight table belonging to the k-th window pixel row by row, and the red byte
// as the sample: mean = sum(sample * meanWeights[k]), result = sum(|sample - mean| *
// deviationWeights[k]). 0 when the window does not lie wholly inside the raster, for size 0 and
// for missing pixels or tables.
float Talvex_FOAM_float(const ImageARGB& image, unsigned short cx, unsigned short cy,
                        const float* meanWeights, const float* deviationWeights, unsigned short size);
