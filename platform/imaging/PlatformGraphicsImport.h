// Graphics importers: components of type 'grip' that read one still image (PNG 'PNGf', JPEG
// 'JPEG', BMP 'BMPf', GIF 'GIFf', JPEG 2000 'jp2 ') from a file or a handle and draw it into a
// graphics world. The importers are registered with the component manager on the first call of
// this file; an importer is found for data by its content (its signature), never by its name.
//
// An importer reads its data source on each call (a handle's bytes as they are then), so a source
// that changes is seen as changed. Drawing puts the picture at its natural size into the world's
// top-left corner.
//
// GraphicsImportGetNaturalBounds is declared with the core's pending calls
// (PlatformPendingCalls.h), GetGraphicsImporterForDataRefWithFlags with the toolbox calls
// (PlatformPendingToolboxCalls.h) and GraphicsImportGetImageDescription with the image
// descriptions (PlatformImageDescriptions.h); all are defined here.
#pragma once

#include "PlatformComponents.h"
#include "PlatformFiles.h"
#include "PlatformGWorlds.h"
#include "PlatformImageDescriptions.h"
#include "PlatformObjects.h"
#include "PlatformPendingCalls.h"
#include "PlatformPendingToolboxCalls.h"

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
// Draws the image at natural size into the world's top-left corner.
ComponentResult GraphicsImportDraw(GraphicsImportComponent importer);

namespace platform {
// Registers the graphics importers if they are not yet (every call above does it first).
void installGraphicsImporters();
} // namespace platform
