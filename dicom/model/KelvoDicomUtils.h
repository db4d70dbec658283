// Shared DICOM helpers: UIDs and anonymous identifiers, anonymisation of strings, number texts,
// byte swapping of OW and OF data, data-set atoms, and the low-level writers of item, delimiter
// and sequence headers.
#pragma once

#include "KelvoAtomics.h"
#include "KelvoDicomTypes.h"

#include <cstdio>
#include <ctime>
#include <string>

// A new UID (65-byte buffer, caller deletes with delete[]): the root, the 14-digit time stamp
// and a number, or "1.650." and three numbers around the stamp without a root (null, empty or
// the DICOM root itself). UIDs made in one process never repeat: a root that is not digits and
// dots as a UID has them, or that leaves less than the 26 characters of the stamp and the number
// within 64, is refused with an empty result. The library twin is VUXDicomLibrary::dicomUIDCreate.
char* DicmUtils_UIDCreate(const char* root);
// The anonymous identifier: the local time stamp "YYYYMMDDhhmmss" (buffer of 17 bytes). No value
// is handed out twice in a process: within one second (or after the clock stepped back) the
// next identifier is the last one plus a second.
void DicmUtils_GetAnonymousID(char* buffer17);
// The same in a new 17-byte buffer (caller deletes with delete[]).
void DicmUtils_IDAnonymizer(char** out);
// Overwrites an identifier with the stamp cut to the identifier's own length.
void DicmUtils_IDAnonymizer(char* id);

// Where the local time of the stamps, dates and times comes from: false when it cannot be had.
using DicmUtils_LocalTimeSource = bool (*)(std::tm& out);
// Replaces the system clock (null restores it) and starts the anonymous identifiers afresh, so
// that a pinned clock gives a sequence of its own. For tests.
void DicmUtils_SetLocalTimeSource(DicmUtils_LocalTimeSource source);
char* DicmUtils_StringAnonymizer(char* value, const char* vr);
void DicmUtils_SecureStringCopy(char* dst, const char* src, uint32_t max);
void DicmUtils_CopyDicomCurrentTime(char* dst7);
void DicmUtils_CopyDicomCurrentDate(char* dst9);

float DicmUtils_DSToNumber(const char* text);
int32_t DicmUtils_ISToNumber(const char* text);
// A new array (free() it) of the backslash-separated decimal values of `text`.
void DicmUtils_StringDecimalToNumber(const char* text, float** values, int* count);

void DicmUtils_OWSwap(void* data, uint32_t size);
void DicmUtils_OFSwap(void* data, uint32_t size);

void DicomUtils_XferSyntaxInfo(const char* uid, bool& implicitVR, bool& bigEndian);
bool DicomUtils_IsFileDicomDirectory(const char* sopClassUID);

// The parent's group atom for `group`, inserted at `index` when missing.
QTAtom DicmUtils_AddDataSetNode(QTAtomContainer container, QTAtom parentAtom, uint16_t group, int32_t& status,
                                int16_t index);
QTAtom DicmUtils_AddDataSetNode(Kelvo_AtomCoord& parent, uint16_t group, int32_t& status, int16_t index);

// Binary output flags of the DICOM writers.
constexpr int32_t kDicomWriteImplicitVR = 0x2;
constexpr int32_t kDicomWriteBigEndian = 0x4;
constexpr int32_t kDicomWriteGroupLength = 0x8;

void DicomUtils_WriteItemStart(FILE* file, int32_t flags, const uint32_t* length);
void DicomUtils_WriteEndofDelimiter(FILE* file, int32_t flags, uint16_t element);
void DicomUtils_WriteItemsContainerStart(FILE* file, int32_t flags, const dicomNodeDescRecord& desc);

// Appends `text` to `out` as XML character data or attribute text: markup characters escaped,
// bytes that are not UTF-8 written as the Latin-1 characters they would be, and characters that
// XML cannot carry replaced by U+FFFD.
void DicomUtils_XmlEscape(std::string& out, const char* text, size_t length);
std::string DicomUtils_XmlEscape(const char* text);

// The status a public call answers for an internal one: the atom engine's numbers (-2101 to
// -2199) say how the tree failed inside, and reach callers as the toolkit's own codes (321 a key
// or item not found, 320 an index out of range, 322 a value the container does not take).
int32_t DicmUtils_PublicStatus(int32_t status);
