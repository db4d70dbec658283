// Conversions between host values (strings, folder items, memory blocks, exceptions) and the
// platform's and toolkit's values. Host objects are driven by their property and method names
// through the host's services. Failures give null, nil, false or the codes given; only the two
// raise functions raise anything in the host.
#pragma once

#include "KelvoDataReference.h"
#include "KelvoImageTypes.h"
#include "PlatformCF.h"
#include "PlatformFiles.h"
#include "PlatformTypes.h"
#include "REALplugin.h"

#include <cstdint>

// Strings.
// The one-character string of the host's "Chr(char as integer) as string"; an empty string when
// the host has no such method.
REALstring charToRealString(unsigned char c);
// The string as a new NUL-terminated UTF-8 array in `out` (delete[] it) -> 0. A nil string -> 0
// with `out` null; no conversion -> -5224; an empty or unreadable string -> -109.
int32_t RealStringToCString(REALstring s, char*& out);
// A new platform string of the string's bytes in its own encoding; none for nil or empty.
CFStringRef StringToCFString(REALstring s);
// The four-character text of a code as a host string.
REALstring FenraOSTypeToRBString(OSType code);
// A new memory block with a copy of the handle's bytes; with `dispose` the handle is disposed
// and cleared. Nil for a null handle.
REALmemoryBlock HandleToMemoryBlock(Handle& handle, bool dispose);
// 16-bit channels as 0xRRGGBB (each divided by 257), and back (each byte times 257).
int32_t RGBColorToLong(const RGBColor& rgb);
RGBColor LongToRGBColor(int32_t value);

// Folder items.
// The item's "UrlPath" as a platform URL (the caller releases it); none for nil, a missing
// property or an empty string.
CFURLRef CreateCFUrlWithFolderitem(REALfolderItem item);
// The item's file-system path as a new array holding the text and its NUL (the caller deletes
// it); none when the item, its URL or the conversion fails.
KelvoDataT<char>* FolderitemPath(REALfolderItem item);
// The same path as a new C string (delete[] it); false with `out` null on failure.
bool FolderitemPath(REALfolderItem item, char*& out);
bool FolderitemToFSRef(REALfolderItem item, FSRef* ref);
// The file record of an existing item, or of a file about to be made: the item's name in its
// parent folder (the root folder when it has none).
bool FolderitemToFSSpec(REALfolderItem item, FSSpec* spec);
// A new folder item of the record's existing file (through the host's "GetFolderItem" with a
// URL); nil on any failure.
REALfolderItem FSSpecToFolderitem(const FSSpec* spec);
// A new folder item of a path of this system; nil for an empty path.
REALfolderItem systemPathToFolderitem(const char* path);
// The item's host path as a POSIX path in a new 1024-byte buffer (delete[] it) -> 0; nil item
// -50, no path 50, no platform string 107, no URL 108, no memory -108, conversion failed 100.
int32_t RBUtils_FolderitemToXPath(REALfolderItem item, char*& out);
// The item's "ShellPath" (the caller releases it), and the same as a new C string.
REALstring RBUtils_FolderitemGetPath(REALfolderItem item);
bool RBUtils_FolderitemGetPath(REALfolderItem item, char*& out);
// A new data reference to the item's URL; none on failure.
Kelvo_DataReference* FenraFolderitemToDataReference(REALfolderItem item);

// The build for the host's Carbon runtime converts strings and folder items through the host's
// own calls; it installs its routes here when it loads. Every route left null is this build's
// own. Without file references, FolderitemToFSRef gives none: that build has no such conversion,
// and nothing it carries asks for one.
struct RBBridgeRoutes {
    REALstring (*charToString)(unsigned char c);
    int32_t (*stringToCString)(REALstring s, char*& out);
    CFStringRef (*stringToCFString)(REALstring s);
    bool (*folderItemToFSSpec)(REALfolderItem item, FSSpec* spec);
    REALfolderItem (*fsSpecToFolderItem)(const FSSpec* spec);
    Kelvo_DataReference* (*folderItemToDataReference)(REALfolderItem item);
    bool withoutFileReferences;
};
void RBInstallBridgeRoutes(const RBBridgeRoutes& routes);

// Exceptions raised in the host.
void RaiseNILPtrException();
void RaiseOutOfBoundsException();

// Debug writer: the text and its NUL into a new file.
void RBUtils_DbgWriteResultToFile(const char* path, const char* text);
