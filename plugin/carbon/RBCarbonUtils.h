// Host utilities that the Carbon build carries beside the shared bridge utilities: a folder item's
// path with a success flag, a host string's length in bytes as the host measures it, and a host
// array of four integers as a QuickDraw rectangle. And the build's own string and folder-item
// conversions, which go through the host's calls of its Carbon runtime; they are installed into
// the shared conversions when the build loads.
#pragma once

#include "PlatformTypes.h"
#include "RBPluginUtils.h"
#include "REALplugin.h"

#include <cstdint>

// The item's POSIX path as a new NUL-terminated text (delete[] it), with `ok` telling whether
// there was one. A nil item gives null and leaves `ok` as it was.
unsigned char* RBFolderitemToCrossPlatformPath(REALfolderItem item, unsigned char& ok);

// The string's length in bytes, through the host's "LenB( s as string ) as integer"; 0 for nil
// or when the host has no such method.
int32_t RBUtils_StringLength(REALstring s);

// An array whose upper bound is 3 holds left, top, right, bottom (with `sizes`: left, top, width,
// height) -> the rectangle, 0. Any other array, or an edge outside the signed 16-bit range, zeroes
// the rectangle -> -50. Nothing is written without a rectangle (-50).
int32_t RBUtils_IntArrayToRect(REALintArray values, Rect* rect, unsigned char sizes);

namespace tarnwick {

// The host's global "Chr(char as integer) as string"; an empty string when the host has none.
REALstring charToRealString(unsigned char c);
// The string in UTF-8 up to its first NUL as a new C string (delete[] it) -> 0. Nil -> 0 with
// `out` null; no conversion -> -5224; an empty text -> -109.
int32_t RealStringToCString(REALstring s, char*& out);
// The host's own platform string of the string (REALGetStringCFString); none for nil or empty.
CFStringRef StringToCFString(REALstring s);
// The host's file record of the item (REALFSSpecFromFolderItem); false for nil or no record.
bool FolderitemToFSSpec(REALfolderItem item, FSSpec* spec);
// The host's folder item of the record (REALFolderItemFromFSSpec); nil for none.
REALfolderItem FSSpecToFolderitem(const FSSpec* spec);
// An existing item's file record as a data reference, or for an item not made yet the file URL
// of its "ShellPath"; none on failure.
Kelvo_DataReference* FenraFolderitemToDataReference(REALfolderItem item);

// The routes the build installs into the shared conversions when it loads: the five above and no
// file references from folder items.
const RBBridgeRoutes& bridgeRoutes();

} // namespace tarnwick
