#include "PlatformMemory.h"

#include <cstdlib>
#include <cstring>

namespace {

// The hidden block behind a handle. The master pointer comes first so that a Handle (char**)
// points at the block itself.
struct HandleBlock {
    char* master;
    Size size;
    SInt8 state;
};
static_assert(offsetof(HandleBlock, master) == 0);

thread_local OSErr gMemError = noErr;

HandleBlock* blockOf(Handle h) {
    return reinterpret_cast<HandleBlock*>(h);
}

// Every handle keeps at least one byte so that its master pointer is never null.
char* allocBytes(Size size, bool clear) {
    size_t n = size > 0 ? size_t(size) : 1;
    return static_cast<char*>(clear ? std::calloc(n, 1) : std::malloc(n));
}

struct PtrHeader {
    Size size;
    uint32_t pad[3];
};
static_assert(sizeof(PtrHeader) == 16);

} // namespace

OSErr MemError() {
    return gMemError;
}

static Handle newHandle(Size size, bool clear) {
    if (size < 0) {
        gMemError = memFullErr;
        return nullptr;
    }
    auto* b = static_cast<HandleBlock*>(std::malloc(sizeof(HandleBlock)));
    if (!b) {
        gMemError = memFullErr;
        return nullptr;
    }
    b->master = allocBytes(size, clear);
    if (!b->master) {
        std::free(b);
        gMemError = memFullErr;
        return nullptr;
    }
    b->size = size;
    b->state = 0;
    gMemError = noErr;
    return &b->master;
}

Handle NewHandle(Size size) {
    return newHandle(size, false);
}
Handle NewHandleClear(Size size) {
    return newHandle(size, true);
}
Handle NewEmptyHandle() {
    return newHandle(0, true);
}

void DisposeHandle(Handle h) {
    if (!h) {
        gMemError = nilHandleErr;
        return;
    }
    HandleBlock* b = blockOf(h);
    std::free(b->master);
    std::free(b);
    gMemError = noErr;
}

Size GetHandleSize(Handle h) {
    if (!h) {
        gMemError = nilHandleErr;
        return 0;
    }
    gMemError = noErr;
    return blockOf(h)->size;
}

void SetHandleSize(Handle h, Size newSize) {
    if (!h) {
        gMemError = nilHandleErr;
        return;
    }
    if (newSize < 0) {
        gMemError = memFullErr;
        return;
    }
    HandleBlock* b = blockOf(h);
    if (newSize == b->size) {
        gMemError = noErr;
        return;
    }
    char* p = static_cast<char*>(std::realloc(b->master, newSize > 0 ? size_t(newSize) : 1));
    if (!p) {
        gMemError = memFullErr;
        return;
    }
    b->master = p;
    b->size = newSize;
    gMemError = noErr;
}

void EmptyHandle(Handle h) {
    SetHandleSize(h, 0);
}
void ReallocateHandle(Handle h, Size size) {
    SetHandleSize(h, size);
}

void HLock(Handle h) {
    if (!h) {
        gMemError = nilHandleErr;
        return;
    }
    blockOf(h)->state = SInt8(blockOf(h)->state | kHandleIsLockedBit);
    gMemError = noErr;
}
void HLockHi(Handle h) {
    HLock(h);
}
void HUnlock(Handle h) {
    if (!h) {
        gMemError = nilHandleErr;
        return;
    }
    blockOf(h)->state = SInt8(blockOf(h)->state & ~kHandleIsLockedBit);
    gMemError = noErr;
}
void HPurge(Handle h) {
    if (h) blockOf(h)->state = SInt8(blockOf(h)->state | kHandleIsPurgeableBit);
    gMemError = h ? noErr : nilHandleErr;
}
void HNoPurge(Handle h) {
    if (h) blockOf(h)->state = SInt8(blockOf(h)->state & ~kHandleIsPurgeableBit);
    gMemError = h ? noErr : nilHandleErr;
}
SInt8 HGetState(Handle h) {
    if (!h) {
        gMemError = nilHandleErr;
        return 0;
    }
    gMemError = noErr;
    return blockOf(h)->state;
}
void HSetState(Handle h, SInt8 state) {
    if (!h) {
        gMemError = nilHandleErr;
        return;
    }
    blockOf(h)->state = state;
    gMemError = noErr;
}

OSErr PtrToHand(const void* src, Handle* dest, Size size) {
    if (!dest || size < 0 || (!src && size > 0)) return gMemError = paramErr;
    *dest = nullptr;
    Handle h = NewHandle(size);
    if (!h) return gMemError = memFullErr;
    if (size > 0) std::memcpy(*h, src, size_t(size));
    *dest = h;
    return gMemError = noErr;
}

OSErr HandToHand(Handle* h) {
    if (!h || !*h) return gMemError = nilHandleErr;
    Handle src = *h;
    Handle copy = NewHandle(GetHandleSize(src));
    if (!copy) return gMemError = memFullErr;
    std::memcpy(*copy, *src, size_t(GetHandleSize(src)));
    *h = copy;
    return gMemError = noErr;
}

OSErr PtrAndHand(const void* src, Handle dest, Size size) {
    if (!dest) return gMemError = nilHandleErr;
    if (size < 0 || (!src && size > 0)) return gMemError = paramErr;
    Size old = GetHandleSize(dest);
    if (int64_t(old) + size > INT32_MAX) return gMemError = memFullErr;
    SetHandleSize(dest, old + size);
    if (gMemError != noErr) return gMemError;
    if (size > 0) std::memcpy(*dest + old, src, size_t(size));
    return gMemError = noErr;
}

OSErr HandAndHand(Handle src, Handle dest) {
    if (!src || !dest) return gMemError = nilHandleErr;
    if (src == dest) {
        // Appending a handle to itself: copy the bytes first, the block may move.
        Size n = GetHandleSize(src);
        char* tmp = static_cast<char*>(std::malloc(n > 0 ? size_t(n) : 1));
        if (!tmp) return gMemError = memFullErr;
        std::memcpy(tmp, *src, size_t(n));
        OSErr e = PtrAndHand(tmp, dest, n);
        std::free(tmp);
        return e;
    }
    return PtrAndHand(*src, dest, GetHandleSize(src));
}

OSErr PtrToXHand(const void* src, Handle dest, Size size) {
    if (!dest) return gMemError = nilHandleErr;
    if (size < 0 || (!src && size > 0)) return gMemError = paramErr;
    SetHandleSize(dest, size);
    if (gMemError != noErr) return gMemError;
    if (size > 0) std::memmove(*dest, src, size_t(size));
    return gMemError = noErr;
}

OSErr HandInsertBytes(Handle h, Size offset, const void* src, Size size) {
    if (!h) return gMemError = nilHandleErr;
    Size old = GetHandleSize(h);
    if (offset < 0 || offset > old || size < 0 || (!src && size > 0)) return gMemError = paramErr;
    if (int64_t(old) + size > INT32_MAX) return gMemError = memFullErr;
    SetHandleSize(h, old + size);
    if (gMemError != noErr) return gMemError;
    std::memmove(*h + offset + size, *h + offset, size_t(old - offset));
    if (size > 0) std::memcpy(*h + offset, src, size_t(size));
    return gMemError = noErr;
}

OSErr HandRemoveBytes(Handle h, Size offset, Size size) {
    if (!h) return gMemError = nilHandleErr;
    Size old = GetHandleSize(h);
    if (offset < 0 || size < 0 || offset > old || size > old - offset) return gMemError = paramErr;
    std::memmove(*h + offset, *h + offset + size, size_t(old - offset - size));
    SetHandleSize(h, old - size);
    return gMemError;
}

static Ptr newPtr(Size size, bool clear) {
    if (size < 0) {
        gMemError = memFullErr;
        return nullptr;
    }
    size_t n = sizeof(PtrHeader) + size_t(size);
    auto* hdr = static_cast<PtrHeader*>(clear ? std::calloc(n, 1) : std::malloc(n));
    if (!hdr) {
        gMemError = memFullErr;
        return nullptr;
    }
    hdr->size = size;
    gMemError = noErr;
    return reinterpret_cast<Ptr>(hdr + 1);
}

Ptr NewPtr(Size size) {
    return newPtr(size, false);
}
Ptr NewPtrClear(Size size) {
    return newPtr(size, true);
}
void DisposePtr(Ptr p) {
    if (p) std::free(reinterpret_cast<PtrHeader*>(p) - 1);
    gMemError = noErr;
}
Size GetPtrSize(Ptr p) {
    return p ? (reinterpret_cast<PtrHeader*>(p) - 1)->size : 0;
}

void BlockMove(const void* src, void* dest, Size size) {
    if (src && dest && size > 0) std::memmove(dest, src, size_t(size));
}
void BlockMoveData(const void* src, void* dest, Size size) {
    BlockMove(src, dest, size);
}
void BlockZero(void* dest, Size size) {
    if (dest && size > 0) std::memset(dest, 0, size_t(size));
}
