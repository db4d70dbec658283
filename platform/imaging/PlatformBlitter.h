// The one blitter: every path that draws pixels into a map (CopyBits, image sequences, movies)
// ends here.
//
// Mapping. A source point (x, y), in the coordinates of the source map, lands at
// [x y 1] x matrix in the destination's; without a matrix the mapping is the one that takes
// srcRect onto dstRect (scaling each axis by the ratio of the sizes). The blitter works
// backwards, nearest neighbour: a destination pixel is drawn when the centre of it,
// (x + 0.5, y + 0.5), maps back into srcRect, and it takes the source pixel that contains the
// mapped-back point. A point on the edge between two source pixels belongs to the right (lower)
// one, so halving a 4-pixel row takes source pixels 1 and 3. Pixels whose centres map back outside
// srcRect, or outside the source's bounds, are left as they were.
//
// Drawn area. The destination pixels drawn lie inside dstRect (without a matrix; with one,
// dstRect is not used and the matrix image of srcRect bounds the drawing), inside the
// destination's bounds, and inside `clip` (a region in destination coordinates) when one is
// given. The order of clipping does not change which pixels are drawn.
//
// Colours go through the conversion engine of PlatformPixelFormats.h, exactly as convertPixels
// converts them (8-bit A, R, G, B, or 16-bit samples when both ends hold 16-bit samples);
// notSrcCopy inverts the source colour, not its alpha. ditherCopy is accepted as a flag and
// changes nothing. Source and destination may share memory: the source is then read from a copy.
//
// Refused with paramErr: unusable rasters, other transfer modes, matrices with perspective
// terms or a [2][2] term that is not positive, and matrices that have no inverse. Empty rectangles draw
// nothing and succeed. memFullErr when a work buffer cannot be had.
#pragma once

#include "PlatformMatrix.h"
#include "PlatformPixelFormats.h"
#include "PlatformRegions.h"
#include "PlatformTypes.h"

namespace platform {

// A raster placed in a coordinate space: its first pixel is at (left, top).
struct BlitSurface {
    PixelRaster raster;
    int32_t left = 0;
    int32_t top = 0;
};

OSErr blit(const BlitSurface& src, const Rect& srcRect, const BlitSurface& dst, const Rect& dstRect,
           const MatrixRecord* matrix, RgnHandle clip, int16_t mode, const RGBColor* opColor);

} // namespace platform
