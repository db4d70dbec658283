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

#include "PlatformAtoms.h"
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
// Decodes the image to see that its data holds one: *valid true and noErr when it does, else
// false and the decoder's status. The picture is kept for the next GraphicsImportDraw, which
// then does not decode again, so that a caller can check the data before it makes a world of the
// size the header announces.
ComponentResult GraphicsImportValidate(GraphicsImportComponent importer, Boolean* valid);

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
// The flag that asks for no gamma correction; the importers never correct it anyway.
constexpr int32_t kGraphicsImporterDontDoGammaCorrection = 1;
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

// Export settings: how the importer's image is to be exported. Each importer keeps its own, and
// has none until they are set. The one setting they carry is an 'expo' atom at the root: the file
// type to export as, a big-endian OSType (4 bytes). Other atoms are kept as they are given.
// Get gives a new copy of them that the caller disposes, or null (with noErr) when the importer
// holds none. Set keeps a copy; paramErr for null settings, or for more than one 'expo' atom or
// one that is not 4 bytes holding a non-zero type, and the settings held before stay.
constexpr QTAtomType kGraphicsImportExportTypeAtom = FOUR_CHAR_CODE("expo");
ComponentResult GraphicsImportGetExportSettingsAsAtomContainer(GraphicsImportComponent importer,
                                                               QTAtomContainer* settings);
ComponentResult GraphicsImportSetExportSettingsFromAtomContainer(GraphicsImportComponent importer,
                                                                 QTAtomContainer settings);

// The export dialog. There is no user interface here: nothing is shown, nothing changes, and the
// call answers userCanceledErr as a dialog the user cancelled does; the exported type and subtype,
// when asked for, are 0. badComponentInstance for what is no importer.
ComponentResult GraphicsImportDoExportImageFileDialog(GraphicsImportComponent importer,
                                                      const FSSpec* defaultSpec, ConstStringPtr prompt,
                                                      const void* filterProc, OSType* exportedType,
                                                      OSType* exportedSubType);

// The importer's progress procedure: null for none; a record pointer of -1 for the platform's
// own, which shows nothing here; else the importer keeps a copy of the record (one without a
// procedure is none). GraphicsImportDraw and GraphicsImportCreateCGImage call it on the calling
// thread, outside the importer's lock (so it may call the importer): open, update with 1/2 once
// the image is decoded and with 1 once it is drawn, then close, which follows an open even when
// the work fails.
ComponentResult GraphicsImportSetProgressProc(GraphicsImportComponent importer,
                                              ICMProgressProcRecord* progressProc);

// The selectors of the importer's calls, numbered as the platform numbers them. Asked through the
// component manager (kComponentCanDoSelect) whether it can do one, an importer answers 1 for these
// and 0 for any other; it answers no other selector through the manager.
enum : int16_t {
    kGraphicsImportSetDataFileSelect = 0x0003,
    kGraphicsImportSetDataHandleSelect = 0x0005,
    kGraphicsImportGetImageDescriptionSelect = 0x0007,
    kGraphicsImportSetClipSelect = 0x000A,
    kGraphicsImportGetClipSelect = 0x000B,
    kGraphicsImportSetSourceRectSelect = 0x000C,
    kGraphicsImportGetSourceRectSelect = 0x000D,
    kGraphicsImportGetNaturalBoundsSelect = 0x000E,
    kGraphicsImportDrawSelect = 0x000F,
    kGraphicsImportSetGWorldSelect = 0x0010,
    kGraphicsImportSetMatrixSelect = 0x0012,
    kGraphicsImportGetMatrixSelect = 0x0013,
    kGraphicsImportSetBoundsRectSelect = 0x0014,
    kGraphicsImportSetGraphicsModeSelect = 0x0017,
    kGraphicsImportGetGraphicsModeSelect = 0x0018,
    kGraphicsImportSetQualitySelect = 0x0019,
    kGraphicsImportGetQualitySelect = 0x001A,
    kGraphicsImportGetMetaDataSelect = 0x0020,
    kGraphicsImportDoExportImageFileDialogSelect = 0x0026,
    kGraphicsImportGetExportSettingsAsAtomContainerSelect = 0x0027,
    kGraphicsImportSetExportSettingsFromAtomContainerSelect = 0x0028,
    kGraphicsImportSetProgressProcSelect = 0x0029,
    kGraphicsImportGetImageCountSelect = 0x002B,
    kGraphicsImportSetImageIndexSelect = 0x002C,
    kGraphicsImportGetImageIndexSelect = 0x002D,
    kGraphicsImportSetDestRectSelect = 0x0038,
    kGraphicsImportGetDestRectSelect = 0x0039,
    kGraphicsImportSetFlagsSelect = 0x003A,
    kGraphicsImportGetFlagsSelect = 0x003B,
    kGraphicsImportCreateCGImageSelect = 0x0040,
};

namespace platform {
namespace codec {
struct RowTarget;
}

// Registers the graphics importers if they are not yet (every call above does it first).
void installGraphicsImporters();

// Decodes the importer's whole image at natural size straight into `target`, whose size must be
// the image's, when its engine writes rows of the target's layout (codec::decodeInto), with no
// picture or world between. codecUnimpErr, with nothing written, when it does not: the caller
// draws the image instead. The drawing settings, the world, a picture a check kept and the
// progress procedure take no part; badComponentInstance for what is no importer. On a failure
// after rows were written, the rows hold what was decoded.
ComponentResult graphicsImportDecodeInto(GraphicsImportComponent importer, const codec::RowTarget& target);
} // namespace platform
