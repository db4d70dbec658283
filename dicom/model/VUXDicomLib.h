// The DICOM library of the foundation: the fixed knowledge of the DICOM standard that the rest of
// the system looks up (value representations, transfer syntaxes, SOP classes, photometric
// interpretations, directory record types, modalities, character sets, DIMSE commands and the
// standard data dictionary) and the library's own identity constants.
//
// All tables are constant, searched linearly from their first row, and compare texts exactly
// (case-sensitive, whole string). A look-up by text answers nothing for a null or empty text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <iosfwd>
#include <utility>

// ---- Plain records shared with the toolkit side ----

// A data element tag; the toolkit's AttributeTagRecord has the same layout.
struct dataElementTagRecord {
    uint16_t group;
    uint16_t element;
};

// Kinds of value representation.
enum : uint32_t {
    kDicmVRKindText = 1,   // text
    kDicmVRKindBinary = 2, // fixed-size binary numbers and AT
    kDicmVRKindLong = 3,   // a 32-bit length in the explicit-VR header, and the pseudo-VR "na"
};

// Value format codes of the data node and the value factory.
enum : uint32_t {
    kDicmFormatNone = 0, // nothing, or a sequence
    kDicmFormatString = 1,
    kDicmFormatUL = 2,
    kDicmFormatUS = 3,
    kDicmFormatSS = 4,
    kDicmFormatSL = 5,
    kDicmFormatFL = 6,
    kDicmFormatFD = 7,
    kDicmFormatOB = 8, // raw bytes: OB, UN and the later binary VRs
    kDicmFormatOW = 9,
    kDicmFormatAT = 10,
    kDicmFormatOF = 11,
};

// Flags of a value representation.
enum : uint32_t {
    kDicmVRSingleValue = 1, // the VR holds one value only
    kDicmVRRawData = 2,
};

// One row of the value-representation table.
struct dicmVRInfo {
    const char* vr;        // the two-letter code
    uint32_t maxLength;    // bytes; 0 where unbounded or not applicable
    uint32_t kind;         // kDicmVRKind...
    uint32_t format;       // kDicmFormat...
    uint32_t headerLength; // bytes of the explicit-VR element header: 8 or 12
    uint32_t separator;    // the multiple-value separator (92, backslash) or 0
    uint32_t flags;        // kDicmVRSingleValue, kDicmVRRawData
};

// Flags of a transfer syntax.
enum : uint32_t {
    kDicmXferRetired = 1,
    kDicmXferEncapsulated = 2,  // encapsulated pixel data
    kDicmXferReadable = 4,      // the system reads and renders its pixel data
    kDicmXferPlatformCodec = 8, // its frames are decoded by the platform's image codecs
};

// One row of the transfer-syntax table. The id is the row number or a four-character code.
struct dicmXferSyntaxInfo {
    const char* uid;
    const char* name;
    uint32_t id;
    uint32_t flags;
};

// Flags of a SOP class row.
enum : uint32_t {
    kDicmSOPRetired = 1,
    kDicmSOPClass = 16, // a SOP class or meta SOP class, not a well-known instance
};

struct dicmSOPClassInfo {
    const char* uid;
    const char* name;
    uint32_t index;
    uint32_t flags;
};

struct dicmPhotoInfo {
    const char* name;
    int32_t samplesPerPixel;
    int32_t retired;
};

struct dicmModalityInfo {
    const char* code;
    const char* description;
    int32_t retired;
};

// Kinds of specific character set: 0 single-byte without code extensions, 1 single-byte with
// code extensions, 2 multi-byte with code extensions, 3 multi-byte without code extensions.
struct dicmCharSetInfo {
    const char* term;
    const char* description;
    int32_t kind;
};

struct dicmCommandInfo {
    uint16_t commandField;
    uint16_t reserved; // always 0
    const char* name;
};

// One row of a data dictionary: what every tag look-up answers.
struct dicmDictEntry {
    uint16_t element;
    const char* name;
    char vr[3]; // two characters and a NUL; all zero for tags whose VR depends on context
    const char* vm;
};

// The rows of one group.
struct dicmDictEntryIndex {
    uint16_t group;
    const dicmDictEntry* entries;
    uint32_t count;
};

// The record of an external dictionary entry, in memory and in binary dictionary files.
#pragma pack(push, 1)
struct dicmDictFileRecord {
    uint16_t group;
    uint16_t element;
    char name[120]; // NUL-terminated
    char vr[2];
    char vm[20]; // NUL-terminated
};
#pragma pack(pop)
static_assert(sizeof(dicmDictFileRecord) == 146, "the external dictionary record is 146 bytes");

// Formats of the dictionary files and of the dumps.
enum dicmIOformat : int32_t {
    dicmIOformatText = 1,
    dicmIOformatXML = 2,
    dicmIOformatBinary = 3,
};

enum dicmIOStreamType : int32_t {
    dicmIOStreamText = 1,
    dicmIOStreamXML = 2,
};

// Bits of the stream and transfer-syntax I/O attributes.
enum : uint32_t {
    kDicmIOImplicitVR = 2,
    kDicmIOSwap = 4,
    kDicmIONoPreamble = 16, // a stream without the Part-10 preamble and meta header
};

namespace VUX::VUXDCM {

class VUXDicomLibrary {
  public:
    VUXDicomLibrary() = delete;

    // ---- Identity ----
    static uint32_t libraryVersion();
    static const char* libraryVersionStr();
    static const char* defaultImplementationVersionName();
    static const char* defaultAETitle();
    static const char* dicomMimeType();
    static const char* defaultRootOrganization();
    static const char* defaultImplementationUID();
    // The version block at the head of text and XML dumps; other types write nothing.
    static std::ostream& libraryInfoWrite(std::ostream& stream, dicmIOStreamType type);

    // ---- UIDs, identifiers, anonymisation and number texts ----
    // The DicmUtils_ functions of the toolkit side answer the same: one clock, one sequence of
    // identifiers and one UID counter serve both.
    // A new UID (65 bytes, delete[]): see DicmUtils_UIDCreate. Empty for a refused root.
    static char* dicomUIDCreate(const char* root);
    // A new 17-byte buffer (delete[]) with the next anonymous identifier "YYYYMMDDhhmmss".
    static char* anonymousIDCreate();
    // "hhmmss" (7 bytes) and "YYYYMMDD" (9 bytes) of the local time; nothing for a null buffer.
    static void copyDicomCurrentTime(char* dst7);
    static void copyDicomCurrentDate(char* dst9);
    // Rewrites a value of the VR in place (times and dates become now, other texts "X"s but their
    // "^" and "="); returns it.
    static char* anonymizeString(char* value, const char* vr);
    // Overwrites an identifier with the anonymous identifier cut to its own length.
    static void anonymizeID(char* id);
    static float decimalStringToNumber(const char* text);
    static int32_t integerStringToNumber(const char* text);

    // ---- Value representations ----
    // The row whose code equals the first two characters of `vr`.
    static const dicmVRInfo* vrInfo(const char* vr);
    // The row's format, or 0xFFFFFFFF for an unknown VR.
    static uint32_t vrDataType(const char* vr);

    // ---- Transfer syntaxes ----
    static const dicmXferSyntaxInfo* xferSyntaxInfo(const char* uid);
    // By the row's id: its number or its four-character code.
    static const dicmXferSyntaxInfo* xferSyntaxInfoByIndex(uint32_t id);
    // The UID of that row, or an empty text.
    static const char* xferSyntaxUIDByIndex(uint32_t id);
    // Whether the values of a native syntax need byte swapping on this host.
    static bool xferSyntaxNeedSwap(const char* uid);
    // kDicmIOImplicitVR for implicit VR little endian; kDicmIOSwap when values need swapping.
    static uint32_t xferSyntaxIOAttributes(const char* uid);
    // How a stream is encoded: a Part-10 file (explicit VR little endian for its meta header),
    // or a raw stream starting with a standard tag (implicit VR little endian, with
    // kDicmIONoPreamble). 0 with isDicom false for anything else. The Part-10 case leaves the
    // stream after the magic; the raw case at its start.
    static uint32_t streamIOAttributes(FILE* stream, bool& isDicom);
    static uint32_t streamIOAttributes(std::istream& stream, bool& isDicom);

    // ---- SOP classes ----
    static const dicmSOPClassInfo* sopClassInfo(const char* uid);
    static bool isDicomDirectorySOPClass(const char* uid);
    static bool isStructuredReportSOPClass(const char* uid);

    // ---- Other defined terms ----
    static bool isDicomDirectoryTypeValid(const char* type);
    static bool isPhotoInterpretationTypeValid(const char* name);
    static const dicmPhotoInfo* photoInterpretationInfo(const char* name);
    static const dicmModalityInfo* modalityInfo(const char* code);
    static bool isDicomCharSetValid(const char* term);
    static const dicmCharSetInfo* charSetInfo(const char* term);
    // The row and its number; (null, 0) for field 0 and (null, 23) when no row has the field.
    static std::pair<const dicmCommandInfo*, uint32_t> commandInfo(uint16_t field);
    static const dicmCommandInfo* commandInfo(const char* name);
    // A DICOMDIR file ID: components of 1 to 8 letters or digits separated by backslashes, not
    // ending with one. An empty value is suitable.
    static bool isFileIDValueSuitable(const char* value);

    // ---- Standard data dictionary ----
    static const dicmDictEntry* stdDataElementInfo(dataElementTagRecord const& tag);
    static bool dataElementHasMultipleVR(dataElementTagRecord const& tag);
    // Writes the standard row's two VR characters and a NUL (three NULs without a row); true when
    // the row exists and has a VR.
    static bool vrOfStdDataElement(dataElementTagRecord const& tag, char vr[3]);
    static bool dataElementIsGroupReserved(uint16_t group);
    static bool dataElementIsGroupValidForPrivate(uint16_t group);
    static bool dataElementIsPrivate(dataElementTagRecord const& tag);
    // Swaps the bytes of the group and of the element in place.
    static void dataElementTagSwap(dataElementTagRecord& tag);
    // The swapped tag as one value: element in the high half, group in the low half.
    static uint32_t dataElementTagSwap(dataElementTagRecord const& tag);
};

// The row of a tag in a dictionary index: none for an odd (private) group or an empty index.
const dicmDictEntry* dicmDictTableEntry(dataElementTagRecord const& tag, const dicmDictEntryIndex* index,
                                        uint32_t count);

} // namespace VUX::VUXDCM

// Plain entry points of the toolkit side, each forwarding to the library.
extern "C" {
const dicmXferSyntaxInfo* DicmDict_XFerSyntax(const char* uid);
const dicmXferSyntaxInfo* DicmDict_XFerSyntaxByIndex(int id);
const char* DicmDict_XFerSyntaxUIDByIndex(int id);
const dicmSOPClassInfo* DicmDict_SOPClass(const char* uid);
const dicmVRInfo* DicmDict_VRInfo(const char* vr);
uint32_t DicmDict_VRFormat(const char* vr);
}
