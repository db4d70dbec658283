#include "PlatformMatrix.h"

#include "PlatformFixed.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

using i128 = __int128;

// The number of fraction bits of each column.
constexpr int kColumnBits[3] = {16, 16, 30};

// n / 2^shift rounded to nearest, halves away from zero.
i128 roundShift(i128 n, int shift) {
    if (shift <= 0) return n;
    i128 half = i128(1) << (shift - 1);
    return n >= 0 ? (n + half) >> shift : -((-n + half) >> shift);
}

// n / d rounded to nearest, halves away from zero; d != 0.
i128 roundDiv(i128 n, i128 d) {
    if (d < 0) {
        n = -n;
        d = -d;
    }
    return n >= 0 ? (n + d / 2) / d : -((-n + d / 2) / d);
}

int32_t saturate(i128 v) {
    return v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : int32_t(v));
}

MatrixRecord identity() {
    MatrixRecord m{};
    m.matrix[0][0] = fixed1;
    m.matrix[1][1] = fixed1;
    m.matrix[2][2] = fract1;
    return m;
}

// a x b, each entry rounded into its column's format.
MatrixRecord multiply(const MatrixRecord& a, const MatrixRecord& b) {
    MatrixRecord c{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            // a[i][k] has kColumnBits[k] fraction bits, b[k][j] has kColumnBits[j]: bring every
            // product to 30 + kColumnBits[j] bits, then round back to kColumnBits[j].
            i128 sum = 0;
            for (int k = 0; k < 3; ++k)
                sum += (i128(a.matrix[i][k]) * b.matrix[k][j]) << (30 - kColumnBits[k]);
            c.matrix[i][j] = saturate(roundShift(sum, 30));
        }
    return c;
}

void append(MatrixRecord* m, const MatrixRecord& t) {
    *m = multiply(*m, t);
}

MatrixRecord translation(Fixed dx, Fixed dy) {
    MatrixRecord t = identity();
    t.matrix[2][0] = dx;
    t.matrix[2][1] = dy;
    return t;
}

Fixed negate(Fixed v) {
    return v == INT32_MIN ? INT32_MAX : -v;
}

// The transformation `t` applied about the point: move the point to the origin, apply, move back.
void appendAbout(MatrixRecord* m, const MatrixRecord& t, Fixed aboutX, Fixed aboutY) {
    if (aboutX == 0 && aboutY == 0) {
        append(m, t);
        return;
    }
    MatrixRecord about =
        multiply(multiply(translation(negate(aboutX), negate(aboutY)), t), translation(aboutX, aboutY));
    append(m, about);
}

// cos and sin of the angle as Fixed; exact at multiples of 90 degrees.
void cosSin(Fixed degrees, Fixed& c, Fixed& s) {
    if (degrees % (90 * fixed1) == 0) {
        int64_t quarter = ((int64_t(degrees) / (90 * fixed1)) % 4 + 4) % 4;
        static const Fixed cs[4][2] = {{fixed1, 0}, {0, fixed1}, {-fixed1, 0}, {0, -fixed1}};
        c = cs[quarter][0];
        s = cs[quarter][1];
        return;
    }
    double radians = Fix2X(degrees) * (3.14159265358979323846 / 180.0);
    c = X2Fix(std::cos(radians));
    s = X2Fix(std::sin(radians));
}

// [x y 1] x m, with the perspective divide; false when the point goes to infinity.
bool transform(const MatrixRecord& m, i128 x, i128 y, int fracBits, i128& ox, i128& oy) {
    // x, y carry fracBits fraction bits.
    const auto& a = m.matrix;
    i128 one = i128(1) << fracBits;
    i128 nx = x * a[0][0] + y * a[1][0] + one * a[2][0]; // fracBits + 16
    i128 ny = x * a[0][1] + y * a[1][1] + one * a[2][1];
    i128 w = x * a[0][2] + y * a[1][2] + one * a[2][2]; // fracBits + 30
    if (w == 0) return false;
    if (a[0][2] == 0 && a[1][2] == 0 && a[2][2] == fract1) {
        ox = roundShift(nx, 16);
        oy = roundShift(ny, 16);
        return true;
    }
    // (nx / 2^(f+16)) / (w / 2^(f+30)), written with f fraction bits.
    ox = roundDiv(nx << (14 + fracBits), w);
    oy = roundDiv(ny << (14 + fracBits), w);
    return true;
}

} // namespace

void SetIdentityMatrix(MatrixRecord* m) {
    if (m) *m = identity();
}

void CopyMatrix(const MatrixRecord* from, MatrixRecord* to) {
    if (from && to && from != to) std::memcpy(to, from, sizeof *to);
}

Boolean EqualMatrix(const MatrixRecord* a, const MatrixRecord* b) {
    if (!a || !b) return false;
    return std::memcmp(a, b, sizeof *a) == 0;
}

int16_t GetMatrixType(const MatrixRecord* m) {
    if (!m) return identityMatrixType;
    const auto& a = m->matrix;
    if (a[0][2] != 0 || a[1][2] != 0 || a[2][2] != fract1) return perspectiveMatrixType;
    int16_t translate = (a[2][0] != 0 || a[2][1] != 0) ? translateMatrixType : 0;
    if (a[0][1] != 0 || a[1][0] != 0) return int16_t(linearMatrixType | translate);
    if (a[0][0] != fixed1 || a[1][1] != fixed1) return int16_t(scaleMatrixType | translate);
    return translate;
}

void ConcatMatrix(const MatrixRecord* a, MatrixRecord* b) {
    if (!a || !b) return;
    *b = multiply(*a, *b);
}

void TranslateMatrix(MatrixRecord* m, Fixed deltaH, Fixed deltaV) {
    if (m) append(m, translation(deltaH, deltaV));
}

void ScaleMatrix(MatrixRecord* m, Fixed scaleX, Fixed scaleY, Fixed aboutX, Fixed aboutY) {
    if (!m) return;
    MatrixRecord s = identity();
    s.matrix[0][0] = scaleX;
    s.matrix[1][1] = scaleY;
    appendAbout(m, s, aboutX, aboutY);
}

void RotateMatrix(MatrixRecord* m, Fixed degrees, Fixed aboutX, Fixed aboutY) {
    if (!m) return;
    Fixed c, s;
    cosSin(degrees, c, s);
    MatrixRecord r = identity();
    r.matrix[0][0] = c;
    r.matrix[0][1] = s;
    r.matrix[1][0] = negate(s);
    r.matrix[1][1] = c;
    appendAbout(m, r, aboutX, aboutY);
}

void SkewMatrix(MatrixRecord* m, Fixed skewX, Fixed skewY, Fixed aboutX, Fixed aboutY) {
    if (!m) return;
    MatrixRecord k = identity();
    k.matrix[1][0] = skewX;
    k.matrix[0][1] = skewY;
    appendAbout(m, k, aboutX, aboutY);
}

void MapMatrix(MatrixRecord* m, const Rect* fromRect, const Rect* toRect) {
    if (!m || !fromRect || !toRect) return;
    int64_t fw = int64_t(fromRect->right) - fromRect->left, fh = int64_t(fromRect->bottom) - fromRect->top;
    int64_t tw = int64_t(toRect->right) - toRect->left, th = int64_t(toRect->bottom) - toRect->top;
    if (fw <= 0 || fh <= 0) return;
    MatrixRecord s = identity();
    s.matrix[0][0] = saturate(roundDiv(i128(tw) << 16, fw));
    s.matrix[1][1] = saturate(roundDiv(i128(th) << 16, fh));
    MatrixRecord map = multiply(multiply(translation(Long2Fix(-fromRect->left), Long2Fix(-fromRect->top)), s),
                                translation(Long2Fix(toRect->left), Long2Fix(toRect->top)));
    append(m, map);
}

Boolean InverseMatrix(const MatrixRecord* m, MatrixRecord* im) {
    if (!m || !im) return false;
    const auto& a = m->matrix;
    MatrixRecord r = identity();
    if (a[0][2] == 0 && a[1][2] == 0 && a[2][2] == fract1) {
        // Affine: exact from the integers. With A = a * 2^16, det = (A00 A11 - A01 A10) / 2^32.
        i128 det = i128(a[0][0]) * a[1][1] - i128(a[0][1]) * a[1][0];
        if (det == 0) return false;
        i128 e[6] = {
            roundDiv(i128(a[1][1]) << 32, det),
            roundDiv(-(i128(a[0][1]) << 32), det),
            roundDiv(-(i128(a[1][0]) << 32), det),
            roundDiv(i128(a[0][0]) << 32, det),
            roundDiv((i128(a[1][0]) * a[2][1] - i128(a[1][1]) * a[2][0]) << 16, det),
            roundDiv((i128(a[0][1]) * a[2][0] - i128(a[0][0]) * a[2][1]) << 16, det),
        };
        for (i128 v : e)
            if (v > INT32_MAX || v < INT32_MIN) return false;
        r.matrix[0][0] = int32_t(e[0]);
        r.matrix[0][1] = int32_t(e[1]);
        r.matrix[1][0] = int32_t(e[2]);
        r.matrix[1][1] = int32_t(e[3]);
        r.matrix[2][0] = int32_t(e[4]);
        r.matrix[2][1] = int32_t(e[5]);
        *im = r;
        return true;
    }
    // Perspective: the adjugate in long double.
    long double v[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            v[i][j] = (long double)a[i][j] / (long double)(i128(1) << kColumnBits[j]);
    long double c[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            c[j][i] = v[i1][j1] * v[i2][j2] - v[i1][j2] * v[i2][j1];
        }
    long double det = v[0][0] * c[0][0] + v[0][1] * c[1][0] + v[0][2] * c[2][0];
    if (det == 0.0L || !std::isfinite(det)) return false;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            long double x = std::round(c[i][j] / det * (long double)(i128(1) << kColumnBits[j]));
            if (!(x <= 2147483647.0L && x >= -2147483648.0L)) return false;
            r.matrix[i][j] = int32_t(x);
        }
    *im = r;
    return true;
}

OSErr TransformFixedPoints(const MatrixRecord* m, FixedPoint* points, int32_t count) {
    if (!m || (count > 0 && !points) || count < 0) return paramErr;
    for (int32_t i = 0; i < count; ++i) {
        i128 x, y;
        if (!transform(*m, points[i].x, points[i].y, 16, x, y)) return paramErr;
        points[i].x = saturate(x);
        points[i].y = saturate(y);
    }
    return noErr;
}

OSErr TransformPoints(const MatrixRecord* m, Point* points, int32_t count) {
    if (!m || (count > 0 && !points) || count < 0) return paramErr;
    for (int32_t i = 0; i < count; ++i) {
        i128 x, y;
        if (!transform(*m, points[i].h, points[i].v, 0, x, y)) return paramErr;
        points[i].h = int16_t(std::clamp<i128>(x, INT16_MIN, INT16_MAX));
        points[i].v = int16_t(std::clamp<i128>(y, INT16_MIN, INT16_MAX));
    }
    return noErr;
}

Boolean TransformFixedRect(const MatrixRecord* m, FixedRect* r, FixedPoint* points) {
    if (!m || !r) return false;
    FixedPoint q[4] = {{r->left, r->top}, {r->right, r->top}, {r->right, r->bottom}, {r->left, r->bottom}};
    if (TransformFixedPoints(m, q, 4) != noErr) return false;
    if (points) std::memcpy(points, q, sizeof q);
    r->left = std::min({q[0].x, q[1].x, q[2].x, q[3].x});
    r->right = std::max({q[0].x, q[1].x, q[2].x, q[3].x});
    r->top = std::min({q[0].y, q[1].y, q[2].y, q[3].y});
    r->bottom = std::max({q[0].y, q[1].y, q[2].y, q[3].y});
    bool upright = (q[0].y == q[1].y && q[1].x == q[2].x && q[2].y == q[3].y && q[3].x == q[0].x) ||
                   (q[0].x == q[1].x && q[1].y == q[2].y && q[2].x == q[3].x && q[3].y == q[0].y);
    return upright;
}

Boolean TransformRect(const MatrixRecord* m, Rect* r, FixedPoint* points) {
    if (!m || !r) return false;
    FixedRect f{Long2Fix(r->left), Long2Fix(r->top), Long2Fix(r->right), Long2Fix(r->bottom)};
    Boolean upright = TransformFixedRect(m, &f, points);
    auto edge = [](Fixed v) { return int16_t(std::clamp<int32_t>(Fix2Long(v), INT16_MIN, INT16_MAX)); };
    r->left = edge(f.left);
    r->top = edge(f.top);
    r->right = edge(f.right);
    r->bottom = edge(f.bottom);
    return upright;
}
