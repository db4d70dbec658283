// Regions: sets of pixels kept as sorted bands of rectangles with 32-bit coordinates. A pixel
// (x, y) is the unit square whose top-left corner is (x, y); a rectangle covers
// [left, right) x [top, bottom). Regions are built from rectangles, from bitmaps, and by
// recording lines and framed ovals between OpenRgn and CloseRgn, and combined with the boolean
// operations. Every region is kept in one canonical form, so EqualRgn compares pixel sets.
//
// Recording: the lines (MoveTo/LineTo) and ovals (FrameOval) drawn while a region is open are
// outlines. Each outline inverts the pixels it encloses, so the recorded region holds the pixels
// enclosed an odd number of times. A line from (x1, y1) to (x2, y2) is a boundary for the rows
// y in [min(y1, y2), max(y1, y2)), crossing row y at the line's x at the row's top edge, rounded
// to nearest (halves up); horizontal lines bound nothing. On a row, crossings pair off from the
// left; an unpaired last crossing (an outline left open) encloses nothing. A recording whose lines
// cross more than 2^24 rows in all is refused with rgnTooBigErr. An oval holds the
// pixels whose centres lie inside the ellipse inscribed in its rectangle.
//
// Every call sets the value QDError() answers. Unknown or disposed regions are refused with
// paramErr, never dereferenced.
#pragma once

#include "PlatformMemory.h"
#include "PlatformTypes.h"

#include <vector>

struct OpaqueRgnHandle;
using RgnHandle = OpaqueRgnHandle*;

struct BitMap {
    Ptr baseAddr;
    int16_t rowBytes; // the top two bits are flags; the row length is rowBytes & 0x3FFF
    Rect bounds;
};

constexpr OSErr rgnOverflowErr = -147;
constexpr OSErr pixmapTooDeepErr = -148;
constexpr OSErr rgnTooBigErr = -500;

OSErr QDError();

// A new empty region; null when memory runs out (MemError() tells).
RgnHandle NewRgn();
void DisposeRgn(RgnHandle rgn);
void CopyRgn(RgnHandle src, RgnHandle dst);
void SetEmptyRgn(RgnHandle rgn);
// Empty when right <= left or bottom <= top.
void SetRectRgn(RgnHandle rgn, int32_t left, int32_t top, int32_t right, int32_t bottom);
void RectRgn(RgnHandle rgn, const Rect* r);
// Moves the region; a move past the 32-bit range is refused with rgnOverflowErr.
void OffsetRgn(RgnHandle rgn, int32_t dh, int32_t dv);

void UnionRgn(RgnHandle a, RgnHandle b, RgnHandle dst);
void DiffRgn(RgnHandle a, RgnHandle b, RgnHandle dst);
void SectRgn(RgnHandle a, RgnHandle b, RgnHandle dst);
void XorRgn(RgnHandle a, RgnHandle b, RgnHandle dst);

Boolean EqualRgn(RgnHandle a, RgnHandle b);
// True for an empty region, and for one that cannot be read.
Boolean EmptyRgn(RgnHandle rgn);
Boolean PtInRgn(Point pt, RgnHandle rgn);
// The smallest rectangle around the region, clamped to 16 bits; empty for an empty region.
Rect* GetRegionBounds(RgnHandle rgn, Rect* bounds);

// The pen moves in 32-bit coordinates, like the regions it draws.
void OpenRgn();
void CloseRgn(RgnHandle dst);
void MoveTo(int32_t h, int32_t v);
void LineTo(int32_t h, int32_t v);
void FrameOval(const Rect* r);

// The set bits of a one-bit bitmap (most significant bit first) as a region placed at the
// bitmap's bounds. A bitmap whose rows are shorter than its bounds is refused with paramErr.
OSStatus BitMapToRegion(RgnHandle region, const BitMap* bitmap);

// The flat form of a region: 16-bit words in the host's byte order, the first holding the size
// in bytes, so regions over 32767 bytes cannot be flattened (rgnTooBigErr). HandleToRgn also
// accepts the flat form with every word byte-swapped, and refuses malformed data with paramErr,
// leaving the region as it was.
OSStatus RgnToHandle(RgnHandle region, Handle flattenedRgnDataHdl);
OSStatus HandleToRgn(Handle oldRegion, RgnHandle region);

namespace platform {

struct RegionRect {
    int32_t left, top, right, bottom;
    bool operator==(const RegionRect&) const = default;
};

// The region's rectangles, band by band from the top, left to right within a band.
std::vector<RegionRect> regionRects(RgnHandle rgn);
bool regionContains(RgnHandle rgn, int32_t x, int32_t y);
// The number of pixels in the region (saturated).
int64_t regionArea(RgnHandle rgn);
bool isRegion(RgnHandle rgn);
// Sets what QDError() answers on this thread, for the other drawing calls.
void setQDError(OSErr err);

} // namespace platform
