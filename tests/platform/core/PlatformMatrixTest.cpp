#include "PlatformFixed.h"
#include "PlatformMatrix.h"

#include <gtest/gtest.h>

namespace {

MatrixRecord identity() {
    MatrixRecord m;
    SetIdentityMatrix(&m);
    return m;
}

FixedPoint apply(const MatrixRecord& m, int32_t x, int32_t y) {
    FixedPoint p{Long2Fix(x), Long2Fix(y)};
    EXPECT_EQ(TransformFixedPoints(&m, &p, 1), noErr);
    return p;
}

#define EXPECT_MAPS(m, fromX, fromY, toX, toY)                                                               \
    do {                                                                                                     \
        FixedPoint q = apply(m, fromX, fromY);                                                               \
        EXPECT_EQ(q.x, Long2Fix(toX));                                                                       \
        EXPECT_EQ(q.y, Long2Fix(toY));                                                                       \
    } while (0)

} // namespace

TEST(MatrixTest, IdentityAndTypes) {
    MatrixRecord m = identity();
    EXPECT_EQ(m.matrix[0][0], fixed1);
    EXPECT_EQ(m.matrix[2][2], fract1);
    EXPECT_EQ(GetMatrixType(&m), identityMatrixType);
    TranslateMatrix(&m, Long2Fix(3), 0);
    EXPECT_EQ(GetMatrixType(&m), translateMatrixType);
    ScaleMatrix(&m, Long2Fix(2), fixed1, 0, 0);
    EXPECT_EQ(GetMatrixType(&m), scaleTranslateMatrixType);
    RotateMatrix(&m, Long2Fix(30), 0, 0);
    EXPECT_EQ(GetMatrixType(&m), linearTranslateMatrixType);
    m.matrix[0][2] = 1;
    EXPECT_EQ(GetMatrixType(&m), perspectiveMatrixType);
}

TEST(MatrixTest, OperationsAppendInOrder) {
    // Scale by 2 then move by (10, 0): x' = 2x + 10.
    MatrixRecord m = identity();
    ScaleMatrix(&m, Long2Fix(2), Long2Fix(2), 0, 0);
    TranslateMatrix(&m, Long2Fix(10), 0);
    EXPECT_MAPS(m, 5, 1, 20, 2);
    // ConcatMatrix(a, b) leaves a-then-b in b.
    MatrixRecord move = identity(), twice = identity();
    TranslateMatrix(&move, Long2Fix(10), 0);
    ScaleMatrix(&twice, Long2Fix(2), Long2Fix(2), 0, 0);
    ConcatMatrix(&move, &twice);
    EXPECT_MAPS(twice, 5, 1, 30, 2);
}

TEST(MatrixTest, RotationsAboutAPoint) {
    struct Case {
        int32_t degrees;
        int32_t x, y; // where (12, 10) lands turning about (10, 10)
    };
    const Case cases[] = {{90, 10, 12}, {180, 8, 10},  {270, 10, 8},
                          {-90, 10, 8}, {360, 12, 10}, {450, 10, 12}};
    for (const Case& c : cases) {
        MatrixRecord m = identity();
        RotateMatrix(&m, Long2Fix(c.degrees), Long2Fix(10), Long2Fix(10));
        EXPECT_MAPS(m, 12, 10, c.x, c.y);
    }
    MatrixRecord m = identity();
    RotateMatrix(&m, Long2Fix(90), 0, 0);
    EXPECT_EQ(m.matrix[0][0], 0);
    EXPECT_EQ(m.matrix[0][1], fixed1);
    EXPECT_EQ(m.matrix[1][0], -fixed1);
    EXPECT_EQ(m.matrix[1][1], 0);
    // Not a quarter turn: rounded to the nearest 16.16 value.
    RotateMatrix(&(m = identity()), Long2Fix(45), 0, 0);
    EXPECT_EQ(m.matrix[0][0], 46341);
    EXPECT_EQ(m.matrix[1][0], -46341);
}

TEST(MatrixTest, ScaleSkewAndMap) {
    MatrixRecord m = identity();
    ScaleMatrix(&m, -fixed1, fixed1, Long2Fix(50), 0);
    EXPECT_MAPS(m, 0, 7, 100, 7);
    m = identity();
    SkewMatrix(&m, fixed1 / 2, 0, 0, 0);
    EXPECT_MAPS(m, 4, 10, 9, 10);
    Rect from{0, 0, 100, 100}, to{10, 20, 110, 220}; // top, left, bottom, right
    m = identity();
    MapMatrix(&m, &from, &to);
    EXPECT_MAPS(m, 0, 0, 20, 10);
    EXPECT_MAPS(m, 100, 100, 220, 110);
    Rect empty{0, 0, 0, 10};
    MatrixRecord before = m;
    MapMatrix(&m, &empty, &to);
    EXPECT_TRUE(EqualMatrix(&m, &before));
}

TEST(MatrixTest, InverseUndoesAndRefusesSingular) {
    MatrixRecord m = identity(), inv;
    ScaleMatrix(&m, Long2Fix(4), Long2Fix(2), 0, 0);
    TranslateMatrix(&m, Long2Fix(8), Long2Fix(-6));
    ASSERT_TRUE(InverseMatrix(&m, &inv));
    EXPECT_EQ(inv.matrix[0][0], fixed1 / 4);
    EXPECT_EQ(inv.matrix[1][1], fixed1 / 2);
    EXPECT_EQ(inv.matrix[2][0], -2 * fixed1);
    EXPECT_EQ(inv.matrix[2][1], 3 * fixed1);
    MatrixRecord flat = identity();
    flat.matrix[1][1] = 0;
    MatrixRecord untouched = identity();
    EXPECT_FALSE(InverseMatrix(&flat, &untouched));
    EXPECT_TRUE(EqualMatrix(&untouched, &(flat = identity())));
    // A perspective matrix goes through the general inverse.
    MatrixRecord p = identity();
    p.matrix[0][2] = fract1 / 2;
    ASSERT_TRUE(InverseMatrix(&p, &inv));
    EXPECT_EQ(inv.matrix[0][2], -fract1 / 2);
    EXPECT_EQ(inv.matrix[0][0], fixed1);
    EXPECT_EQ(inv.matrix[2][2], fract1);
}

TEST(MatrixTest, TransformRectReportsUprightness) {
    MatrixRecord m = identity();
    RotateMatrix(&m, Long2Fix(90), 0, 0);
    Rect r{0, 0, 10, 20}; // 20 wide, 10 high
    EXPECT_TRUE(TransformRect(&m, &r, nullptr));
    EXPECT_EQ(r.left, -10);
    EXPECT_EQ(r.right, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.bottom, 20);
    RotateMatrix(&(m = identity()), Long2Fix(30), 0, 0);
    Rect s{0, 0, 10, 10};
    EXPECT_FALSE(TransformRect(&m, &s, nullptr));
}
