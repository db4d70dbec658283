// Data references: a handle whose bytes a data handler reads according to a four-character type.
// The core builds and reads four kinds:
// - 'alis': a file, named by its path (zero-terminated), as the alias records of PlatformFiles.h;
// - 'url ': a URL text and its zero byte;
// - 'hndl': the handle value (a pointer's width, native order), then optionally a name as a
//   length-prefixed string and extension atoms (8-byte header: big-endian size including the
//   header, then the type; 'ftyp' holds a big-endian file type, 'mime' a length-prefixed text);
// - 'ptr ': the block's address (a pointer's width) and its 32-bit length, native order, then the
//   same optional name and extension atoms as 'hndl'.
#pragma once

#include "PlatformCF.h"
#include "PlatformFiles.h"
#include "PlatformObjects.h"
#include "PlatformPendingToolboxCalls.h"
#include "PlatformTypes.h"

struct TimeBaseRecord;

// DataReferenceRecord (type and handle) comes with the toolbox calls that take one.

constexpr OSType AliasDataHandlerSubType = FOUR_CHAR_CODE("alis");
constexpr OSType URLDataHandlerSubType = FOUR_CHAR_CODE("url ");
constexpr OSType HandleDataHandlerSubType = FOUR_CHAR_CODE("hndl");
constexpr OSType PointerDataHandlerSubType = FOUR_CHAR_CODE("ptr ");
constexpr OSType kDataRefExtensionFileName = FOUR_CHAR_CODE("fnam");
constexpr OSType kDataRefExtensionMacOSFileType = FOUR_CHAR_CODE("ftyp");
constexpr OSType kDataRefExtensionMIMEType = FOUR_CHAR_CODE("mime");
constexpr int32_t kQTNativeDefaultPathStyle = -1;
constexpr int32_t kQTPOSIXPathStyle = 0;

// Attributes a media or a sequence grabber reports for its data references.
constexpr int32_t kDataRefIsSelfContained = 1;
constexpr int32_t kDataRefWasNotResolved = 2;

// Each returns a new reference (owned by the caller) and its type.
OSErr QTNewDataReferenceFromFSSpec(const FSSpec* file, UInt32 flags, Handle* outDataRef, OSType* outType);
OSErr QTNewDataReferenceFromFSRef(const FSRef* file, UInt32 flags, Handle* outDataRef, OSType* outType);
// A file URL gives an 'alis' reference to its path; any other URL a 'url ' reference.
OSErr QTNewDataReferenceFromCFURL(CFURLRef url, UInt32 flags, Handle* outDataRef, OSType* outType);
OSErr QTNewDataReferenceFromFullPathCFString(CFStringRef path, int32_t pathStyle, UInt32 flags,
                                             Handle* outDataRef, OSType* outType);
OSErr QTNewDataReferenceFromFSRefCFString(const FSRef* directory, CFStringRef fileName, UInt32 flags,
                                          Handle* outDataRef, OSType* outType);
// The item `fileName` inside the folder (or URL folder) that `dataRef` names.
OSErr QTNewDataReferenceWithDirectoryCFString(Handle dataRef, OSType dataRefType, CFStringRef fileName,
                                              UInt32 flags, Handle* outDataRef, OSType* outType);
// The name of the item an 'alis' or 'url ' reference names (the caller releases it).
OSErr QTGetDataReferenceTargetNameCFString(Handle dataRef, OSType dataRefType, CFStringRef* name);
// A reference to the folder that holds the item.
OSErr QTGetDataReferenceDirectoryDataReference(Handle dataRef, OSType dataRefType, UInt32 flags,
                                               Handle* outDataRef, OSType* outType);

// Data handlers of memory references ('hndl' and 'ptr '): extensions are set one by one and the
// extended reference read back.
OSErr OpenADataHandler(Handle dataRef, OSType dataHandlerSubType, Handle anchorDataRef,
                       OSType anchorDataRefType, TimeBaseRecord* timeBase, int32_t flags,
                       DataHandler* handler);
ComponentResult DataHSetDataRefExtension(DataHandler handler, Handle extension, OSType idType);
// A new handle (owned by the caller) with the extension's data; cantFindHandler when the
// reference has no such extension.
ComponentResult DataHGetDataRefExtension(DataHandler handler, Handle* extension, OSType idType);
// A new reference (owned by the caller) with the handler's extensions.
ComponentResult DataHGetDataRef(DataHandler handler, Handle* dataRef);
OSErr CloseComponent(DataHandler handler);

namespace platform {
// The path an 'alis' reference holds, or the empty text when it holds none.
std::string aliasPath(Handle dataRef);
} // namespace platform
