// Untrusted bytes into the atom container reader: anything accepted must flatten back to the
// same bytes.
#include "PlatformAtoms.h"

#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QTAtomContainer c = nullptr;
    if (QTUnflattenAtomContainer(data, size, &c) != noErr) return 0;
    int32_t flatSize = 0;
    if (QTGetFlattenedSize(c, &flatSize) != noErr || size_t(flatSize) != size) std::abort();
    Handle h = nullptr;
    if (QTFlattenAtomContainer(c, &h) != noErr) std::abort();
    // The reserved bytes of headers are not kept; compare the parts that carry meaning.
    QTAtomContainer again = nullptr;
    if (QTUnflattenAtomContainer(*h, size_t(GetHandleSize(h)), &again) != noErr) std::abort();
    Handle h2 = nullptr;
    QTFlattenAtomContainer(again, &h2);
    if (GetHandleSize(h2) != GetHandleSize(h) || std::memcmp(*h, *h2, size_t(GetHandleSize(h))) != 0)
        std::abort();
    DisposeHandle(h);
    DisposeHandle(h2);
    QTDisposeAtomContainer(again);
    QTDisposeAtomContainer(c);
    return 0;
}
