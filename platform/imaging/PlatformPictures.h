// Pictures: a recording of what is drawn into a port, replayed into another port at any size.
//
// OpenPicture(frame) starts recording into a new picture what is drawn into the current port
// (through CopyBits, image sequences, importers, EraseRect, DrawPicture: everything that reaches
// the blitter); ClosePicture ends it. The picture keeps, for every pixel of its frame, the colour
// last drawn there (8-bit A, R, G, B) and whether anything was drawn there at all. DrawPicture
// replays it into the current port, scaling the frame onto the destination rectangle nearest
// neighbour: pixels the recording drew are drawn, the others are left as they were.
//
// A picture is a handle: the 10-byte record (size, frame) and the recording after it, so
// HandToHand copies it and KillPicture (or DisposeHandle) disposes it. Its frame is what
// QDGetPictureBounds answers. One picture records at a time on a thread.
#pragma once

#include "PlatformDescriptions.h"
#include "PlatformGWorlds.h"
#include "PlatformTypes.h"

// A new picture of the frame, recording from now on (the caller kills it). Null, with QDError
// answering paramErr, without a frame or current port, for an empty frame, or while another
// picture records on this thread; memFullErr when its pixels cannot be had.
PicHandle OpenPicture(const Rect* picFrame);
// Ends the recording; nothing when none is open.
void ClosePicture();
// Replays the picture into the current port, its frame scaled onto dstRect. A null, empty or
// foreign picture, or no current port, draws nothing (QDError answers paramErr).
void DrawPicture(PicHandle picture, const Rect* dstRect);
void KillPicture(PicHandle picture);

namespace platform {

struct BlitSurface;

// Called by the blitter after each drawing: records it into the open picture when it drew into
// the pixels the picture records.
void recordBlit(const BlitSurface& src, const Rect& srcRect, const BlitSurface& dst, const Rect& dstRect,
                const MatrixRecord* matrix, RgnHandle clip, int16_t mode, const RGBColor* opColor);
// Called by EraseRect: records the erased rectangle (in the port's coordinates) of the port.
void recordErase(CGrafPtr port, const Rect& area);

} // namespace platform
