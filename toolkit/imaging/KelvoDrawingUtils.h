// Drawing utilities: every picture source of the system (an offscreen world, compressed data, a
// movie frame, a picture, a graphics importer, an image file, a data reference) drawn through a
// display transform into a NEW 32-bit frame buffer that the caller owns, then the transform's
// two pixel post-steps: its gamma table and colour discarding.
//
// Each draw takes the transform (may be null) and an error out-parameter and returns the new
// buffer or null. The caller's transform is changed by prepareDrawingContext (source and
// destination rectangles, clip) even when the draw later fails.
#pragma once

#include "KelvoDataReference.h"
#include "KelvoGraphicsDisplay.h"
#include "KelvoVideo.h"
#include "KelvoVideoDecompression.h"
#include "PlatformCoreGraphics.h"
#include "PlatformDescriptions.h"
#include "PlatformFiles.h"
#include "PlatformObjects.h"

class Kelvo_DrawingUtils {
  public:
    // A new 32-bit buffer erased to 0, of the transform's destination rectangle (or `bounds`):
    // the transform's missing source rectangle becomes `bounds`, its destination the bounds
    // fitted and centred in the work rectangle, and its clip that rectangle when it has none.
    static Kelvo_QDGWorldBuffer* prepareDrawingContext(Kelvo_Rect& bounds, Kelvo_DisplayTransform* transform);
    // Gamma (when not exactly 1.0), then colour discarding (when asked), in place.
    static int32_t postProcessingDrawingContext(Kelvo_QDGWorldBuffer& buffer, Kelvo_DisplayTransform* transform);

    static Kelvo_QDGWorldBuffer* draw(GWorldPtr world, Kelvo_DisplayTransform* transform, int32_t& err);
    static Kelvo_QDGWorldBuffer* draw(pointerDataRecordForCompression& record, Kelvo_DisplayTransform* transform,
                                      int32_t& err);
    // The movie's frame at `time`, drawn from a copy of the movie.
    static Kelvo_QDGWorldBuffer* draw(Movie movie, int32_t time, Kelvo_DisplayTransform* transform, int32_t& err);
    static Kelvo_QDGWorldBuffer* draw(PicHandle picture, Kelvo_DisplayTransform* transform, int32_t& err);
    static Kelvo_QDGWorldBuffer* draw(GraphicsImportComponent importer, Kelvo_DisplayTransform* transform,
                                      int32_t& err);
    // The importer's image through the transform as a CGImage (the caller releases it), or null.
    static CGImageRef drawCGImage(GraphicsImportComponent importer, Kelvo_DisplayTransform* transform, int32_t& err);
    static Kelvo_QDGWorldBuffer* draw(const FSSpec* file, Kelvo_DisplayTransform* transform, int32_t& err);
    static Kelvo_QDGWorldBuffer* draw(Kelvo_DataReference* reference, Kelvo_DisplayTransform* transform,
                                      int32_t& err);
    // Kinds 2 (pointer data), 3 (picture), 4 (world) and 8 (file); 79 for the others.
    static Kelvo_QDGWorldBuffer* draw(compressionInputRecord& record, Kelvo_DisplayTransform* transform,
                                      int32_t& err);

    // In place over a 32-bit world: R, G, B become (306 R + 601 G + 117 B) >> 10, alpha 255.
    static int32_t discardColor(GWorldPtr world);
    // In place over a 32-bit world: R, G, B through the 256-entry table, alpha 255.
    static int32_t changeGamma(GWorldPtr world, const unsigned char* table);
};
