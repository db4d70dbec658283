// Relocatable blocks (handles) and plain blocks in the platform's style. A handle is a pointer
// to a master pointer kept in a hidden block; the master pointer changes only when the handle is
// resized. Failures set the value that MemError() answers.
#pragma once

#include "PlatformTypes.h"

OSErr MemError();

Handle NewHandle(Size size);
Handle NewHandleClear(Size size);
Handle NewEmptyHandle();
void DisposeHandle(Handle h);
Size GetHandleSize(Handle h);
void SetHandleSize(Handle h, Size newSize);
void EmptyHandle(Handle h);
void ReallocateHandle(Handle h, Size size);

void HLock(Handle h);
void HLockHi(Handle h);
void HUnlock(Handle h);
void HPurge(Handle h);
void HNoPurge(Handle h);
SInt8 HGetState(Handle h);
void HSetState(Handle h, SInt8 state);
enum : uint8_t { kHandleIsLockedBit = 0x80, kHandleIsPurgeableBit = 0x40, kHandleIsResourceBit = 0x20 };

// New handle holding a copy of `size` bytes at `src`.
OSErr PtrToHand(const void* src, Handle* dest, Size size);
// Replaces `*h` by a new handle holding a copy of its bytes; the original is left alone.
OSErr HandToHand(Handle* h);
// Appends bytes to a handle.
OSErr PtrAndHand(const void* src, Handle dest, Size size);
OSErr HandAndHand(Handle src, Handle dest);
// Replaces the bytes of `dest` by `size` bytes at `src`.
OSErr PtrToXHand(const void* src, Handle dest, Size size);
// Inserts `size` bytes at `offset`, or removes `size` bytes from `offset`. Offsets and sizes
// beyond the end are refused with paramErr.
OSErr HandInsertBytes(Handle h, Size offset, const void* src, Size size);
OSErr HandRemoveBytes(Handle h, Size offset, Size size);

Ptr NewPtr(Size size);
Ptr NewPtrClear(Size size);
void DisposePtr(Ptr p);
Size GetPtrSize(Ptr p);

void BlockMove(const void* src, void* dest, Size size);
void BlockMoveData(const void* src, void* dest, Size size);
void BlockZero(void* dest, Size size);
