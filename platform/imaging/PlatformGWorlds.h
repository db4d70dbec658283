// Offscreen graphics worlds and pixel maps in plain memory, the current port, and pixel copies
// between any two pixel maps.
//
// A world owns a pixel map (a handle), an offscreen device and, unless it was made over a
// caller's memory, its pixels (zeroed when made). Pixel maps of every format of
// PlatformPixelFormats.h are supported; rows are padded to 4 bytes.
//
// Row bytes: the 16-bit `rowBytes` word of a pixel map keeps QuickDraw's flag bits
// (kPixMapFlag always; kLongRowBytesFlag when the row length does not fit the 14 bits the word
// leaves) and, when it fits, a copy of the row length. The row length itself is always in the
// 32-bit `longRowBytes` field, which GetPixRowBytes and QTGetPixMapHandleRowBytes answer; there is
// no cap on it. A one-bit map's rows always fit the word, so such a map reads as a BitMap.
//
// Worlds and pixel maps that these calls did not make (or that were disposed) are refused, never
// dereferenced.
#pragma once

#include "PlatformCodecEngines.h"
#include "PlatformDescriptions.h"
#include "PlatformMatrix.h"
#include "PlatformObjects.h"
#include "PlatformPixelFormats.h"
#include "PlatformRegions.h"
#include "PlatformTypes.h"

using QDErr = int16_t;
using GWorldFlags = uint32_t;

enum : GWorldFlags {
    pixPurge = 1u << 0,
    noNewDevice = 1u << 1,
    useTempMem = 1u << 2,
    keepLocal = 1u << 3,
    pixelsPurgeable = 1u << 6,
    pixelsLocked = 1u << 7,
    kNativeEndianPixMap = 1u << 8,
};

constexpr OSErr cDepthErr = -157;

// Flag bits of a pixel map's 16-bit row-bytes word.
constexpr uint16_t kPixMapFlag = 0x8000;       // the record is a pixel map, not a BitMap
constexpr uint16_t kLongRowBytesFlag = 0x4000; // the row length is only in longRowBytes
constexpr uint16_t kRowBytesFlagsMask = 0xC000;

// Pixel types.
constexpr int16_t kChunkyPixelType = 0;
constexpr int16_t RGBDirect = 16;

// A pixel map begins with the fields of a BitMap (PlatformRegions.h).
struct PixMap {
    Ptr baseAddr;
    int16_t rowBytes; // flags, and the row length when it is under 0x4000
    Rect bounds;
    int16_t pmVersion;
    int16_t packType;
    int32_t packSize;
    Fixed hRes;
    Fixed vRes;
    int16_t pixelType;
    int16_t pixelSize;
    int16_t cmpCount;
    int16_t cmpSize;
    OSType pixelFormat;
    CTabHandle pmTable;
    int32_t longRowBytes; // the row length, whatever its size
    int32_t planeBytes;   // planar formats: bytes between the planes' runs in a row
};
static_assert(offsetof(PixMap, baseAddr) == offsetof(BitMap, baseAddr));
static_assert(offsetof(PixMap, rowBytes) == offsetof(BitMap, rowBytes));
static_assert(offsetof(PixMap, bounds) == offsetof(BitMap, bounds));
using PixMapPtr = PixMap*;
using PixMapHandle = PixMap**;

// The offscreen device of a world.
struct GDevice {
    int16_t gdRefNum;
    int16_t gdID;
    int16_t gdType; // 2: direct, 0: indexed
    int16_t gdFlags;
    PixMapHandle gdPMap;
    Rect gdRect;
};
using GDPtr = GDevice*;
using GDHandle = GDevice**;
constexpr int16_t clutType = 0;
constexpr int16_t directType = 2;

struct CGContext;
using CGContextRef = CGContext*;

// A port: the offscreen world.
struct OpaqueGrafPort {
    PixMapHandle portPixMap;
    Rect portRect;
    GDHandle device;
    GWorldFlags flags;       // as made
    GWorldFlags pixelsState; // pixelsLocked, pixelsPurgeable
    bool ownsPixels;
    CGContextRef cgContext; // open between QDBeginCGContext and QDEndCGContext
};

// Worlds. The format is a depth or a four-character code of PlatformPixelFormats.h; an unknown
// one gives cDepthErr, an empty or missing rectangle paramErr, pixels beyond 2 GiB memFullErr.
// An indexed world takes a copy of `cTable` (the default ramp of its depth without one); other
// worlds ignore it. The flag pixelsLocked makes the world with its pixels locked.
QDErr QTNewGWorld(GWorldPtr* offscreenGWorld, OSType pixelFormat, const Rect* boundsRect, CTabHandle cTable,
                  GDHandle aGDevice, GWorldFlags flags);
// The depth form: depth 0 means 32.
QDErr NewGWorld(GWorldPtr* offscreenGWorld, int16_t pixelDepth, const Rect* boundsRect, CTabHandle cTable,
                GDHandle aGDevice, GWorldFlags flags);
// A world over the caller's pixels, which stay the caller's. Rows shorter than the bounds need,
// or a null buffer, give paramErr.
QDErr QTNewGWorldFromPtr(GWorldPtr* gw, OSType pixelFormat, const Rect* boundsRect, CTabHandle cTable,
                         GDHandle aGDevice, GWorldFlags flags, void* baseAddr, int32_t rowBytes);
QDErr NewGWorldFromPtr(GWorldPtr* offscreenGWorld, uint32_t pixelFormat, const Rect* boundsRect,
                       CTabHandle cTable, GDHandle aGDevice, GWorldFlags flags, Ptr newBuffer,
                       int32_t rowBytes);
// A world of the description's width and height in the format its compression type and depth
// name ('raw ' with a depth, or a pixel format code); a colour table that follows the record
// (clutID 0) becomes the world's. cDepthErr for a type that is not pixels.
OSErr NewImageGWorld(GWorldPtr* gworld, ImageDescriptionHandle idh, GWorldFlags flags);
// Disposes the world, its map and device, and its pixels when they are its own. When the world
// is the current port, the current port becomes null.
void DisposeGWorld(GWorldPtr offscreenGWorld);

PixMapHandle GetGWorldPixMap(GWorldPtr offscreenGWorld);
PixMapHandle GetPortPixMap(CGrafPtr port);
GDHandle GetGWorldDevice(GWorldPtr offscreenGWorld);
// Bounds of a port or offscreen world; a null or unknown port leaves the empty rectangle.
Rect* GetPortBounds(CGrafPtr port, Rect* bounds);
Rect* GetPixBounds(PixMapHandle pixMap, Rect* bounds);
// The port's pixel map as CopyBits takes it.
const BitMap* GetPortBitMapForCopyBits(CGrafPtr port);

// Pixels state. Pixels never move or get purged here, so LockPixels always succeeds for a
// world's map (false for anything else).
Boolean LockPixels(PixMapHandle pm);
void UnlockPixels(PixMapHandle pm);
GWorldFlags GetPixelsState(PixMapHandle pm);
void SetPixelsState(PixMapHandle pm, GWorldFlags state);
Ptr GetPixBaseAddr(PixMapHandle pm);
// The row length without the flag bits (0 for null).
int32_t GetPixRowBytes(PixMapHandle pm);
int32_t QTGetPixMapHandleRowBytes(PixMapHandle pm);
int32_t QTGetPixMapPtrRowBytes(PixMapPtr pm);
int16_t GetPixDepth(PixMapHandle pm);

// The current port and device. SetGWorld with a world takes the world's device.
void GetGWorld(CGrafPtr* port, GDHandle* gdh);
void SetGWorld(CGrafPtr port, GDHandle gdh);

// Paints the rectangle (in the current port's coordinates, clipped to its bounds) with the
// background colour, white, in the encoding of the port's format: 0 in a depth-40 world, every
// bit set in a 32-bit one, index 0 in a default-table indexed one, Y 235 and neutral chroma in
// 4:2:2 ones. Nothing without a current port.
void EraseRect(const Rect* r);

// A new 86-byte description of the map's pixels (the caller disposes it): cType 'raw ' for the
// classic depths, the format code for the others; width, height, depth for a description of the
// format, 72 dpi, one frame, clutID -1, or clutID 0 with the table after the record when an
// indexed map's table is not the default one.
OSErr MakeImageDescriptionForPixMap(PixMapHandle pixmap, ImageDescriptionHandle* idh);

// Transfer modes.
enum : int16_t {
    srcCopy = 0,
    srcOr = 1,
    srcXor = 2,
    srcBic = 3,
    notSrcCopy = 4,
    ditherCopy = 64,
};

// Copies the pixels of srcRect (in the source's coordinates) to dstRect (in the destination's)
// through the blitter (PlatformBlitter.h): scaled to dstRect nearest neighbour, converted between
// the maps' formats, kept within the destination's bounds and, when given, `mask` (destination
// coordinates); notSrcCopy inverts the source colours. Parts of srcRect beyond the source's
// bounds draw nothing. A map whose row-bytes word lacks kPixMapFlag is read as a one-bit BitMap
// (1 = black). The ditherCopy flag is accepted and changes nothing; other modes give paramErr.
OSErr CopyBits(const BitMap* srcBits, const BitMap* dstBits, const Rect* srcRect, const Rect* dstRect,
               int16_t mode, RgnHandle maskRgn);

namespace platform {

// A raster over the pixel map (an unusable one, with a null base, for a bad map).
PixelRaster rasterOfPixMap(const PixMap& pixMap);
// Draws srcRect of `src` (all of it when null) into `dst` through `matrix`, which maps source
// coordinates to destination ones (null: the identity), clipped to `clip` (destination
// coordinates) when given; the image sequences' drawing. Both maps must be worlds' maps.
OSErr drawPixMap(PixMapHandle src, const Rect* srcRect, PixMapHandle dst, const MatrixRecord* matrix,
                 RgnHandle clip, int16_t mode);
// The pixel format a description's pixels have: its depth for 'raw ', else its type when that
// names a pixel format; 0 when the description does not describe pixels.
OSType pixelFormatOfDescription(const ImageDescription& d);
// Whether the world is one that QTNewGWorld and its kin made and that is not yet disposed.
bool isGWorld(GWorldPtr world);

// The map's pixels as a picture of their natural shape: grey formats (and indexed maps whose
// table is grey) give 1 component, alpha formats 4, colour formats 3; 'b16g', 'b48r' and 'v216'
// give 16-bit samples, the others 8-bit. Samples are visual values: 0 is black.
OSErr pixMapToPicture(PixMapHandle pixMap, codec::Picture& out);
// Draws the picture into the map from its top-left pixel; what lies outside the map is dropped.
// A picture without alpha draws opaque pixels.
OSErr pictureToPixMap(const codec::Picture& picture, PixMapHandle pixMap);

} // namespace platform
