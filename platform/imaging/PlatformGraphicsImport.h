// Graphics importers: components of type 'grip' that read one still image (PNG 'PNGf', JPEG
// 'JPEG', BMP 'BMPf', GIF 'GIFf', JPEG 2000 'jp2 ') from a file or a handle and draw it into a
// graphics world. The importers are registered with the component manager on the first call of
// this file; an importer is found for data by its content (its signature), never by its name.
//
// An importer reads its data source on each call (a handle's bytes as they are then), so a source
// that changes is seen as changed.
//
// Drawing settings. The source rectangle picks the part of the image that is drawn (in the
// image's own coordinates: its natural bounds start at (0, 0)); the matrix takes image
// coordinates to the world's; the clip region, in the world's coordinates, limits the pixels
// drawn; the graphics mode is the transfer mode. A new importer draws the whole image through the
// identity matrix, so at natural size with its top-left corner at the world's (0, 0), unclipped,
// in ditherCopy with a 50% grey op colour (ditherCopy draws as srcCopy does). The destination
// rectangle is the source rectangle carried through the matrix. Giving the importer another data
// source makes the source rectangle the new image's natural bounds again; the other settings
// stay.
//
// Statuses: badComponentInstance for an instance that is no importer (or is closed), paramErr for
// a null result pointer and for rectangles and matrices that cannot be drawn, the codec's status
// when the image cannot be read.
//
// GraphicsImportGetNaturalBounds is declared with the core's pending calls
// (PlatformPendingCalls.h), GetGraphicsImporterForDataRefWithFlags with the toolbox calls
// (PlatformPendingToolboxCalls.h) and GraphicsImportGetImageDescription with the image
// descriptions (PlatformImageDescriptions.h); all are defined here.
#pragma once

#include "PlatformComponents.h"
#include "PlatformCoreGraphics.h"
#include "PlatformFiles.h"
#include "PlatformGWorlds.h"
#include "PlatformImageDescriptions.h"
#include "PlatformMatrix.h"
#include "PlatformObjects.h"
#include "PlatformPendingCalls.h"
#include "PlatformPendingToolboxCalls.h"
#include "PlatformRegions.h"

#include <cstdint>

// The importer subtypes.
constexpr OSType kQTFileTypePNG = FOUR_CHAR_CODE("PNGf");
constexpr OSType kQTFileTypeJPEG = FOUR_CHAR_CODE("JPEG");
constexpr OSType kQTFileTypeBMP = FOUR_CHAR_CODE("BMPf");
constexpr OSType kQTFileTypeGIF = FOUR_CHAR_CODE("GIFf");
constexpr OSType kQTFileTypeJPEG2000 = FOUR_CHAR_CODE("jp2 ");

// An importer for the file's content (the caller closes it with CloseComponent): fnfErr when the
// file cannot be read, cantFindHandler when no importer knows its content.
OSErr GetGraphicsImporterForFile(const FSSpec* file, GraphicsImportComponent* importer);

// The importer's data source: a file, or a handle (the caller keeps it and keeps it alive while
// the importer uses it).
ComponentResult GraphicsImportSetDataFile(GraphicsImportComponent importer, const FSSpec* file);
ComponentResult GraphicsImportSetDataHandle(GraphicsImportComponent importer, Handle data);

// The world drawn into (null: the current world when drawing).
ComponentResult GraphicsImportSetGWorld(GraphicsImportComponent importer, CGrafPtr port, GDHandle gd);
// Decodes the image and draws its source rectangle through the matrix into the world, within the
// clip region, in the graphics mode (srcCopy or notSrcCopy, either with the ditherCopy flag; other
// modes give paramErr), nearest neighbour as the blitter draws (PlatformBlitter.h). World pixels
// outside the drawn area are left as they were. paramErr when there is no world to draw into.
ComponentResult GraphicsImportDraw(GraphicsImportComponent importer);

// The clip region. The importer keeps its own copy of the region it is given; null removes the
// clip. GraphicsImportGetClip gives a new copy that the caller disposes, or null with noErr when
// there is no clip.
ComponentResult GraphicsImportSetClip(GraphicsImportComponent importer, RgnHandle clipRgn);
ComponentResult GraphicsImportGetClip(GraphicsImportComponent importer, RgnHandle* clipRgn);

// The matrix from image to world coordinates; null sets the identity. Matrices with perspective
// terms, a [2][2] term that is not positive, or no inverse are refused with paramErr.
ComponentResult GraphicsImportSetMatrix(GraphicsImportComponent importer, const MatrixRecord* matrix);
ComponentResult GraphicsImportGetMatrix(GraphicsImportComponent importer, MatrixRecord* matrix);

// The transfer mode and its op colour (a null op colour keeps the one held).
ComponentResult GraphicsImportSetGraphicsMode(GraphicsImportComponent importer, int32_t graphicsMode,
                                              const RGBColor* opColor);
ComponentResult GraphicsImportGetGraphicsMode(GraphicsImportComponent importer, int32_t* graphicsMode,
                                              RGBColor* opColor);

// The part of the image drawn: a non-empty rectangle inside the natural bounds (else paramErr).
// Until one is set it is the natural bounds, so reading it reads the image's header.
ComponentResult GraphicsImportSetSourceRect(GraphicsImportComponent importer, const Rect* sourceRect);
ComponentResult GraphicsImportGetSourceRect(GraphicsImportComponent importer, Rect* sourceRect);

// The destination rectangle: the bounding box of the source rectangle carried through the matrix,
// edges rounded to the nearest pixel (paramErr when it does not fit 16-bit edges). Setting it, or
// setting the bounds rectangle, replaces the matrix with the one that maps the source rectangle
// onto the given non-empty rectangle.
ComponentResult GraphicsImportGetDestRect(GraphicsImportComponent importer, Rect* destRect);
ComponentResult GraphicsImportSetDestRect(GraphicsImportComponent importer, const Rect* destRect);
ComponentResult GraphicsImportSetBoundsRect(GraphicsImportComponent importer, const Rect* bounds);

// Plain values the importer keeps for its callers: the quality (512, normal quality, until set)
// and the flags (0 until set). Drawing is the same whatever they are: it never corrects gamma.
using CodecQ = uint32_t;
ComponentResult GraphicsImportSetQuality(GraphicsImportComponent importer, CodecQ quality);
ComponentResult GraphicsImportGetQuality(GraphicsImportComponent importer, CodecQ* quality);
ComponentResult GraphicsImportSetFlags(GraphicsImportComponent importer, int32_t flags);
ComponentResult GraphicsImportGetFlags(GraphicsImportComponent importer, int32_t* flags);

// Every importer here reads one image (of a GIF, its first frame): the count is 1 and the index,
// 1-based, is 1; setting any other index gives paramErr.
ComponentResult GraphicsImportGetImageCount(GraphicsImportComponent importer, uint32_t* imageCount);
ComponentResult GraphicsImportGetImageIndex(GraphicsImportComponent importer, uint32_t* imageIndex);
ComponentResult GraphicsImportSetImageIndex(GraphicsImportComponent importer, uint32_t imageIndex);

// A new image (the caller releases it) of the decoded picture: 8 bits a component, A, R, G, B
// bytes with the colour premultiplied by the alpha (kCGImageAlphaPremultipliedFirst, default byte
// order), in the device RGB space, for grey images too (R = G = B). Without flags it is the whole
// image at natural size; with kGraphicsImportCreateCGImageUsingCurrentSettings it is what
// GraphicsImportDraw would draw with the current settings into a transparent world whose bounds
// are the destination rectangle (paramErr when that is empty). memFullErr when the image cannot be
// made.
constexpr uint32_t kGraphicsImportCreateCGImageUsingCurrentSettings = 1;
ComponentResult GraphicsImportCreateCGImage(GraphicsImportComponent importer, CGImageRef* imageRef,
                                            uint32_t flags);

namespace platform {
// Registers the graphics importers if they are not yet (every call above does it first).
void installGraphicsImporters();
} // namespace platform
