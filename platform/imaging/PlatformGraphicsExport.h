// Graphics exporters: components of type 'grex' that write one still image as a PNG ('PNGf'), BMP
// ('BMPf'), JPEG ('JPEG') or JPEG 2000 ('jp2 ', a JP2 file) stream into a file, a handle or a
// data reference. The exporters are registered with the component manager on the first call of
// this file, as the importers are; OpenADefaultComponent finds them.
//
// An exporter keeps its input and its output as references: the world, pixel map, data, handle,
// description or picture it was given is read when the export runs (the caller keeps them alive
// until then); a CGImage or bitmap context is retained by the exporter until another input
// replaces it or the exporter is closed. A data reference is read when it is set. Nothing is
// written before the image is encoded, and a file is replaced only once the whole stream is on
// disk, so a failed export leaves its output as it was.
//
// Depth: 0 (the default) keeps the input's own shape: grey stays grey, colour colour, and alpha
// is kept where the format can hold it (PNG, BMP, JPEG 2000; JPEG drops it); 16-bit samples stay
// 16 bits in PNG and JPEG 2000 (BMP and JPEG take 8). Depth 8 or 40 writes 8-bit grey (visual
// values: 0 black), 24 8-bit RGB, 32 8-bit RGB with alpha (RGB for JPEG). Colour becomes grey by
// grey = (306 R + 601 G + 117 B) >> 10, as everywhere on this platform.
//
// Settings travel as atoms at the root of a container (see GraphicsExportGetSettingsAsAtomContainer),
// and as a text for people. There is no user interface here: asking for the settings dialog is
// answered as if the user cancelled it.
//
// Progress: an exporter given a progress procedure calls it while it exports, on the exporting
// thread and with no lock held: open (0) once it starts the work, updates (1) with the part done
// (Fixed, 0 to 1) as the pixels are read, encoded and written, and close (2) once the whole stream
// is written. A failed export ends without close, so that close always means the image was
// written. What the procedure answers is not looked at.
//
// Statuses: badComponentInstance for a closed or foreign exporter; paramErr for a null or unusable
// input (no world, pixel map, image or context; empty data; a description shorter than its
// record; a picture without a frame), for a depth other than those above and for a missing
// result pointer; paramErr too when the export has no input, dataNoDataRef when it has no
// output; cantFindHandler for a data reference kind other than 'alis' and 'hndl'; the status of
// the decoder, of the reading of a CG input (cgImageToPicture) or of the encoder when those
// fail; fnfErr when the output file's folder does not exist, ioErr when the file cannot be
// written.
#pragma once

#include "PlatformAtoms.h"
#include "PlatformComponents.h"
#include "PlatformCoreGraphics.h"
#include "PlatformDescriptions.h"
#include "PlatformFiles.h"
#include "PlatformGWorlds.h"
#include "PlatformImageDescriptions.h"
#include "PlatformObjects.h"

using GraphicsExportComponent = ComponentInstance;
using CodecQ = uint32_t;

// The spatial-quality scale of the codec registry.
constexpr CodecQ codecMinQuality = 0x000;
constexpr CodecQ codecLowQuality = 0x100;
constexpr CodecQ codecNormalQuality = 0x200;
constexpr CodecQ codecHighQuality = 0x300;
constexpr CodecQ codecMaxQuality = 0x3FF;
constexpr CodecQ codecLosslessQuality = 0x400;

// The exporter subtypes (the importers' file types).
constexpr OSType kQTFileTypePNGExport = FOUR_CHAR_CODE("PNGf");
constexpr OSType kQTFileTypeBMPExport = FOUR_CHAR_CODE("BMPf");
constexpr OSType kQTFileTypeJPEGExport = FOUR_CHAR_CODE("JPEG");
constexpr OSType kQTFileTypeJPEG2000Export = FOUR_CHAR_CODE("jp2 ");

// The export has no output to write to.
constexpr OSErr dataNoDataRef = -2212;

// Opens an instance of the first component of the type and subtype, whatever its manufacturer
// (the caller closes it with CloseComponent); cantFindHandler when there is none.
OSErr OpenADefaultComponent(OSType componentType, OSType componentSubType, ComponentInstance* ci);

// Inputs; each replaces the one set before, and a refused one leaves that as it was.
ComponentResult GraphicsExportSetInputGWorld(GraphicsExportComponent exporter, GWorldPtr gworld);
ComponentResult GraphicsExportSetInputPixmap(GraphicsExportComponent exporter, PixMapHandle pixmap);
// Compressed data that the description describes, decoded through the codec registry when the
// export runs: `size` bytes at `p`, or the handle's bytes as they are then.
ComponentResult GraphicsExportSetInputPtr(GraphicsExportComponent exporter, Ptr p, UInt32 size,
                                          ImageDescriptionHandle desc);
ComponentResult GraphicsExportSetInputHandle(GraphicsExportComponent exporter, Handle h,
                                             ImageDescriptionHandle desc);
// A picture, drawn when the export runs into a 32-bit world of its frame erased to white.
ComponentResult GraphicsExportSetInputPicture(GraphicsExportComponent exporter, PicHandle picture);
ComponentResult GraphicsExportSetInputCGImage(GraphicsExportComponent exporter, CGImageRef image);
ComponentResult GraphicsExportSetInputCGBitmapContext(GraphicsExportComponent exporter, CGContextRef context);

// Outputs; each replaces the one set before. A file is created or replaced (and given the output
// file type and creator where the volume keeps them); a handle is resized to the stream.
ComponentResult GraphicsExportSetOutputFile(GraphicsExportComponent exporter, const FSSpec* file);
ComponentResult GraphicsExportSetOutputHandle(GraphicsExportComponent exporter, Handle h);
// An 'alis' reference names a file, a 'hndl' reference a handle (PlatformDataRef.h).
ComponentResult GraphicsExportSetOutputDataReference(GraphicsExportComponent exporter, Handle dataRef,
                                                     OSType dataRefType);

// Encodes the input and writes it to the output; the stream's size in `actualSizeWritten`
// (optional; 0 on failure).
ComponentResult GraphicsExportDoExport(GraphicsExportComponent exporter, UInt32* actualSizeWritten);

// Spatial quality on the scale above (larger values are kept as codecLosslessQuality);
// codecNormalQuality until set. PNG and BMP are always lossless; JPEG 2000 is lossless at
// codecLosslessQuality.
ComponentResult GraphicsExportSetCompressionQuality(GraphicsExportComponent exporter, CodecQ spatialQuality);
ComponentResult GraphicsExportGetCompressionQuality(GraphicsExportComponent exporter, CodecQ* spatialQuality);

// The depth written (see above); 0 until set.
ComponentResult GraphicsExportSetDepth(GraphicsExportComponent exporter, int32_t depth);
ComponentResult GraphicsExportGetDepth(GraphicsExportComponent exporter, int32_t* depth);

// Values kept for the caller, which the streams do not carry: the resolution (positive; 72 dpi
// until set), the target data size and the don't-recompress flag (0 until set).
ComponentResult GraphicsExportSetResolution(GraphicsExportComponent exporter, Fixed horizontalResolution,
                                            Fixed verticalResolution);
ComponentResult GraphicsExportGetResolution(GraphicsExportComponent exporter, Fixed* horizontalResolution,
                                            Fixed* verticalResolution);
ComponentResult GraphicsExportSetTargetDataSize(GraphicsExportComponent exporter, UInt32 targetDataSize);
ComponentResult GraphicsExportGetTargetDataSize(GraphicsExportComponent exporter, UInt32* targetDataSize);
ComponentResult GraphicsExportSetDontRecompress(GraphicsExportComponent exporter, Boolean dontRecompress);
ComponentResult GraphicsExportGetDontRecompress(GraphicsExportComponent exporter, Boolean* dontRecompress);

// The file type and creator of the files the exporter writes (the creator is this platform's
// vendor code), and the file name extension as a four-character code padded with spaces ('png ',
// 'bmp ', 'jpg ', 'jp2 ').
ComponentResult GraphicsExportGetDefaultFileTypeAndCreator(GraphicsExportComponent exporter, OSType* fileType,
                                                           OSType* fileCreator);
ComponentResult GraphicsExportGetDefaultFileNameExtension(GraphicsExportComponent exporter,
                                                          OSType* fileNameExtension);
// The type and creator given to the files written; the defaults until set.
ComponentResult GraphicsExportSetOutputFileTypeAndCreator(GraphicsExportComponent exporter, OSType fileType,
                                                          OSType fileCreator);
ComponentResult GraphicsExportGetOutputFileTypeAndCreator(GraphicsExportComponent exporter, OSType* fileType,
                                                          OSType* fileCreator);

// The exporter's settings as atoms, each at the root of the container (the first of its type is
// the one read), big-endian:
//   'qual'  4 bytes  spatial quality, 0 to codecLosslessQuality
//   'dpth'  4 bytes  depth: 0, 8, 24, 32 or 40
//   'dpi '  8 bytes  horizontal then vertical resolution (Fixed, positive)
//   'tsiz'  4 bytes  target data size
//   'dntr'  1 byte   don't recompress: 0 or 1
//   'otyp'  8 bytes  output file type then creator
constexpr QTAtomType kGraphicsExportQualityAtom = FOUR_CHAR_CODE("qual");
constexpr QTAtomType kGraphicsExportDepthAtom = FOUR_CHAR_CODE("dpth");
constexpr QTAtomType kGraphicsExportResolutionAtom = FOUR_CHAR_CODE("dpi ");
constexpr QTAtomType kGraphicsExportTargetDataSizeAtom = FOUR_CHAR_CODE("tsiz");
constexpr QTAtomType kGraphicsExportDontRecompressAtom = FOUR_CHAR_CODE("dntr");
constexpr QTAtomType kGraphicsExportOutputTypeAtom = FOUR_CHAR_CODE("otyp");

// A new container (the caller disposes of it) holding every setting above.
ComponentResult GraphicsExportGetSettingsAsAtomContainer(GraphicsExportComponent exporter,
                                                         QTAtomContainer* qtAtomContainer);
// Applies the settings the container holds; those it does not hold are left as they are, and
// atoms of other types are passed over. A null container, or one whose atom of a type above has
// another size or a value out of its range, is refused with paramErr and changes nothing.
ComponentResult GraphicsExportSetSettingsFromAtomContainer(GraphicsExportComponent exporter,
                                                           QTAtomContainer qtAtomContainer);
// The settings as lines of "Name=value" text (no terminating zero) in a new handle that the caller
// disposes of.
ComponentResult GraphicsExportGetSettingsAsText(GraphicsExportComponent exporter, Handle* theText);
// There is no dialog to show: userCanceledErr, and the settings stay as they are. The filter
// procedure and its reference value are not used.
ComponentResult GraphicsExportRequestSettings(GraphicsExportComponent exporter, void* filterProc,
                                              void* yourDataProc);

// Progress (see above). The record is copied: the caller's may go once it is set.
// Stands for the platform's own progress procedure, which shows nothing in this build.
inline ICMProgressProcRecord* const kGraphicsExportDefaultProgress =
    reinterpret_cast<ICMProgressProcRecord*>(intptr_t(-1));
// Null, or a record without procedure: no progress is reported.
ComponentResult GraphicsExportSetProgressProc(GraphicsExportComponent exporter,
                                              const ICMProgressProcRecord* progressProc);

// The selectors that callers ask about through kComponentCanDoSelect; the exporters answer 1 for
// these and for kComponentCanDoSelect itself, 0 for any other. The calls themselves are the
// functions of this file.
constexpr int16_t kGraphicsExportRequestSettingsSelect = 11;
constexpr int16_t kGraphicsExportSetMetaDataSelect = 19;
constexpr int16_t kGraphicsExportGetMetaDataSelect = 20;

namespace platform {
// Registers the graphics exporters if they are not yet (every call above does it first).
void installGraphicsExporters();
} // namespace platform
