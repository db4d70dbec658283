#include "PlatformMemory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string bytes(Handle h) {
    return std::string(*h, size_t(GetHandleSize(h)));
}

TEST(Memory, HandlesKeepTheirMasterPointerUntilResized) {
    Handle h = NewHandleClear(4);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(bytes(h), std::string(4, '\0'));
    char* before = *h;
    HLock(h);
    EXPECT_EQ(HGetState(h) & kHandleIsLockedBit, kHandleIsLockedBit);
    HUnlock(h);
    EXPECT_EQ(*h, before);
    std::memcpy(*h, "abcd", 4);
    SetHandleSize(h, 100000);
    EXPECT_EQ(MemError(), noErr);
    EXPECT_EQ(GetHandleSize(h), 100000);
    EXPECT_EQ(std::string(*h, 4), "abcd");
    SetHandleSize(h, -1);
    EXPECT_EQ(MemError(), memFullErr);
    EXPECT_EQ(GetHandleSize(h), 100000);
    DisposeHandle(h);
    EXPECT_EQ(NewHandle(-5), nullptr);
    EXPECT_EQ(MemError(), memFullErr);
}

TEST(Memory, CopiesAndAppends) {
    Handle h = nullptr;
    ASSERT_EQ(PtrToHand("hello", &h, 5), noErr);
    Handle copy = h;
    ASSERT_EQ(HandToHand(&copy), noErr);
    EXPECT_NE(copy, h);
    EXPECT_EQ(bytes(copy), "hello");
    EXPECT_EQ(PtrAndHand(" world", h, 6), noErr);
    EXPECT_EQ(bytes(h), "hello world");
    EXPECT_EQ(bytes(copy), "hello");
    // Appending a handle to itself copies the bytes before the block moves.
    EXPECT_EQ(HandAndHand(copy, copy), noErr);
    EXPECT_EQ(bytes(copy), "hellohello");
    EXPECT_EQ(HandInsertBytes(h, 5, ",", 1), noErr);
    EXPECT_EQ(bytes(h), "hello, world");
    EXPECT_EQ(HandRemoveBytes(h, 0, 7), noErr);
    EXPECT_EQ(bytes(h), "world");
    EXPECT_EQ(HandRemoveBytes(h, 3, 3), paramErr);
    EXPECT_EQ(HandInsertBytes(h, 6, "x", 1), paramErr);
    EXPECT_EQ(PtrToXHand("ab", h, 2), noErr);
    EXPECT_EQ(bytes(h), "ab");
    DisposeHandle(h);
    DisposeHandle(copy);
    EXPECT_EQ(HandToHand(nullptr), nilHandleErr);
}

TEST(Memory, Pointers) {
    Ptr p = NewPtrClear(10);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(GetPtrSize(p), 10);
    EXPECT_EQ(p[9], 0);
    DisposePtr(p);
}

} // namespace
