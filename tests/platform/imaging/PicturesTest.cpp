// Pictures: recording what reaches the current port, replaying it scaled, and refusing what is
// no picture.
#include "PlatformGWorlds.h"
#include "PlatformMemory.h"
#include "PlatformPictures.h"
#include "PlatformRegions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

Rect rect(int16_t left, int16_t top, int16_t right, int16_t bottom) {
    return Rect{top, left, bottom, right};
}

// A 32-bit world of one colour (A, R, G, B).
GWorldPtr solidWorld(int16_t w, int16_t h, uint32_t argb) {
    GWorldPtr world = nullptr;
    const Rect bounds = rect(0, 0, w, h);
    EXPECT_EQ(QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0), noErr);
    PixMapHandle map = GetGWorldPixMap(world);
    const uint8_t bytes[4] = {uint8_t(argb >> 24), uint8_t(argb >> 16), uint8_t(argb >> 8), uint8_t(argb)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            std::memcpy((*map)->baseAddr + y * GetPixRowBytes(map) + x * 4, bytes, 4);
    return world;
}

uint32_t pixelAt(GWorldPtr world, int x, int y) {
    PixMapHandle map = GetGWorldPixMap(world);
    const auto* p = reinterpret_cast<const uint8_t*>((*map)->baseAddr + y * GetPixRowBytes(map) + x * 4);
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The world's pixels as one letter each: R red, W white, B blue, K black, ? other; rows split by '|'.
std::string letters(GWorldPtr world) {
    Rect b;
    GetPortBounds(world, &b);
    std::string out;
    for (int y = 0; y < b.bottom - b.top; ++y) {
        if (y) out += '|';
        for (int x = 0; x < b.right - b.left; ++x) {
            switch (pixelAt(world, x, y)) {
            case 0xFFFF0000: out += 'R'; break;
            case 0xFFFFFFFF: out += 'W'; break;
            case 0xFF0000FF: out += 'B'; break;
            case 0xFF000000: out += 'K'; break;
            default: out += '?';
            }
        }
    }
    return out;
}

void copyAll(GWorldPtr from, GWorldPtr to, const Rect& dst, RgnHandle mask = nullptr) {
    Rect src;
    GetPortBounds(from, &src);
    ASSERT_EQ(CopyBits(GetPortBitMapForCopyBits(from), GetPortBitMapForCopyBits(to), &src, &dst, srcCopy, mask),
              noErr);
}

class PicturesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        GetGWorld(&savedPort, &savedDevice);
        port = solidWorld(4, 4, 0xFF000000);
        red = solidWorld(2, 2, 0xFFFF0000);
        SetGWorld(port, nullptr);
    }
    void TearDown() override {
        ClosePicture();
        SetGWorld(savedPort, savedDevice);
        DisposeGWorld(port);
        DisposeGWorld(red);
    }
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GWorldPtr port = nullptr;
    GWorldPtr red = nullptr;
};

} // namespace

TEST_F(PicturesTest, ReplaysWhatWasDrawnScaledAndLeavesTheRest) {
    const Rect frame = rect(0, 0, 4, 4);
    PicHandle pic = OpenPicture(&frame);
    ASSERT_NE(pic, nullptr);
    EXPECT_EQ(QDError(), noErr);
    copyAll(red, port, rect(0, 0, 2, 2));
    const Rect erased = rect(3, 2, 4, 4);
    EraseRect(&erased);
    ClosePicture();
    // What the port held before the recording is not part of the picture.
    Rect bounds;
    EXPECT_EQ(QDGetPictureBounds(pic, &bounds), noErr);
    EXPECT_EQ(std::memcmp(&bounds, &frame, sizeof frame), 0);
    const Size expectedSize = 22 + 16 * 5;
    EXPECT_EQ(GetHandleSize(reinterpret_cast<Handle>(pic)), expectedSize);
    EXPECT_EQ((*pic)->picSize, expectedSize);

    GWorldPtr canvas = solidWorld(8, 8, 0xFF0000FF);
    SetGWorld(canvas, nullptr);
    const Rect twice = rect(0, 0, 8, 8);
    DrawPicture(pic, &twice);
    EXPECT_EQ(QDError(), noErr);
    EXPECT_EQ(letters(canvas), "RRRRBBBB|RRRRBBBB|RRRRBBBB|RRRRBBBB|BBBBBBWW|BBBBBBWW|BBBBBBWW|BBBBBBWW");

    // A copy of the handle is the same picture; a destination partly off the port is cut.
    Handle copy = reinterpret_cast<Handle>(pic);
    ASSERT_EQ(HandToHand(&copy), noErr);
    GWorldPtr small = solidWorld(3, 3, 0xFF0000FF);
    SetGWorld(small, nullptr);
    const Rect shifted = rect(-1, -1, 3, 3);
    DrawPicture(reinterpret_cast<PicHandle>(copy), &shifted);
    EXPECT_EQ(letters(small), "RBB|BBW|BBW");
    SetGWorld(port, nullptr);
    DisposeGWorld(small);
    DisposeGWorld(canvas);
    DisposeHandle(copy);
    KillPicture(pic);
}

TEST_F(PicturesTest, RecordsOnlyThePortAndOnlyWhatTheClipLets) {
    GWorldPtr other = solidWorld(4, 4, 0xFF000000);
    const Rect frame = rect(0, 0, 4, 4);
    PicHandle pic = OpenPicture(&frame);
    ASSERT_NE(pic, nullptr);
    copyAll(red, other, rect(0, 0, 4, 4)); // not the current port when the picture opened
    RgnHandle mask = NewRgn();
    SetRectRgn(mask, 1, 1, 3, 2);
    copyAll(red, port, rect(0, 0, 4, 4), mask);
    DisposeRgn(mask);
    ClosePicture();
    GWorldPtr canvas = solidWorld(4, 4, 0xFF0000FF);
    SetGWorld(canvas, nullptr);
    DrawPicture(pic, &frame);
    EXPECT_EQ(letters(canvas), "BBBB|BRRB|BBBB|BBBB");
    // A picture drawn while another records is recorded in turn.
    GWorldPtr target = solidWorld(4, 4, 0xFF0000FF);
    SetGWorld(target, nullptr);
    PicHandle outer = OpenPicture(&frame);
    ASSERT_NE(outer, nullptr);
    DrawPicture(pic, &frame);
    ClosePicture();
    SetGWorld(canvas, nullptr);
    EraseRect(&frame);
    DrawPicture(outer, &frame);
    EXPECT_EQ(letters(canvas), "WWWW|WRRW|WWWW|WWWW");
    SetGWorld(port, nullptr);
    DisposeGWorld(target);
    DisposeGWorld(canvas);
    DisposeGWorld(other);
    KillPicture(outer);
    KillPicture(pic);
}

TEST_F(PicturesTest, RefusesWhatIsNoPictureAndOneRecordingAtATime) {
    const Rect frame = rect(0, 0, 4, 4);
    const Rect empty = rect(2, 2, 2, 6);
    EXPECT_EQ(OpenPicture(nullptr), nullptr);
    EXPECT_EQ(QDError(), paramErr);
    EXPECT_EQ(OpenPicture(&empty), nullptr);
    PicHandle pic = OpenPicture(&frame);
    ASSERT_NE(pic, nullptr);
    EXPECT_EQ(OpenPicture(&frame), nullptr); // one at a time
    EXPECT_EQ(QDError(), paramErr);
    // An open picture is not drawable yet, and killing it ends the recording.
    DrawPicture(pic, &frame);
    EXPECT_EQ(QDError(), paramErr);
    KillPicture(pic);
    pic = OpenPicture(&frame);
    ASSERT_NE(pic, nullptr);
    ClosePicture();
    ClosePicture(); // nothing open: nothing happens

    // Foreign handles, bad sizes and a missing port draw nothing.
    Picture bare{10, frame};
    Handle h = nullptr;
    ASSERT_EQ(PtrToHand(&bare, &h, sizeof bare), noErr);
    const std::string before = letters(port);
    DrawPicture(reinterpret_cast<PicHandle>(h), &frame);
    EXPECT_EQ(QDError(), paramErr);
    Handle cut = reinterpret_cast<Handle>(pic);
    ASSERT_EQ(HandToHand(&cut), noErr);
    SetHandleSize(cut, GetHandleSize(cut) - 1);
    DrawPicture(reinterpret_cast<PicHandle>(cut), &frame);
    EXPECT_EQ(QDError(), paramErr);
    DrawPicture(nullptr, &frame);
    DrawPicture(pic, nullptr);
    EXPECT_EQ(letters(port), before);
    SetGWorld(nullptr, nullptr);
    DrawPicture(pic, &frame);
    EXPECT_EQ(QDError(), paramErr);
    EXPECT_EQ(OpenPicture(&frame), nullptr);
    SetGWorld(port, nullptr);
    DisposeHandle(cut);
    DisposeHandle(h);
    KillPicture(pic);
}
