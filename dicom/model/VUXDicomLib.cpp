// The DICOM library's identity constants, the byte-order attributes of transfer syntaxes and the
// detection of how a stream is encoded.
#include "VUXDicomLib.h"

#include "VUXUtils.h"

#include <cstring>
#include <istream>
#include <ostream>

namespace VUX::VUXDCM {

namespace {

const char kImplicitVRLittleEndian[] = "1.2.840.10008.1.2";
const char kExplicitVRLittleEndian[] = "1.2.840.10008.1.2.1";
const char kExplicitVRBigEndian[] = "1.2.840.10008.1.2.2";

const char kVersionText[] = "4.0.0";
const char kRuleLine[] = "#========================================================";

// The organisation's UID root (five components, 16 characters) and the implementation class UID
// built on it with the date and time of the implementation's release.
const char kRootOrganization[] = "1.2.999.10.70611";
const char kImplementationUID[] = "1.2.999.10.70611.20090301.120000";
static_assert(sizeof kRootOrganization - 1 == 16);
static_assert(sizeof kImplementationUID - 1 == 32);

// The Part-10 magic follows the 128-byte preamble.
constexpr long kMagicOffset = 128;

bool isEmpty(const char* text) {
    return !text || !*text;
}

// The first four bytes of a raw stream, read as a little-endian tag, name a standard element.
bool startsWithStandardTag(const unsigned char bytes[4]) {
    dataElementTagRecord tag;
    tag.group = uint16_t(bytes[0] | (bytes[1] << 8));
    tag.element = uint16_t(bytes[2] | (bytes[3] << 8));
    return VUXDicomLibrary::stdDataElementInfo(tag) != nullptr;
}

} // namespace

uint32_t VUXDicomLibrary::libraryVersion() {
    return 0x04000000u;
}
const char* VUXDicomLibrary::libraryVersionStr() {
    return kVersionText;
}
const char* VUXDicomLibrary::defaultImplementationVersionName() {
    return "VUXDCM100.0";
}
const char* VUXDicomLibrary::defaultAETitle() {
    return "VUXDICM-ZW";
}
const char* VUXDicomLibrary::dicomMimeType() {
    return "application/dicom";
}
const char* VUXDicomLibrary::defaultRootOrganization() {
    return kRootOrganization;
}
const char* VUXDicomLibrary::defaultImplementationUID() {
    return kImplementationUID;
}

std::ostream& VUXDicomLibrary::libraryInfoWrite(std::ostream& stream, dicmIOStreamType type) {
    switch (type) {
    case dicmIOStreamText:
        stream << kRuleLine << '\n'
               << "#VUXDicom Library version " << kVersionText << '\n'
               << kRuleLine << '\n';
        break;
    case dicmIOStreamXML:
        stream << "<KelvoDicomInfo>\n"
               << "<version>\n"
               << kVersionText << "\n</version>\n"
               << "</KelvoDicomInfo>\n";
        break;
    default:
        break;
    }
    return stream;
}

bool VUXDicomLibrary::xferSyntaxNeedSwap(const char* uid) {
    if (isEmpty(uid)) return false;
    if (std::strcmp(uid, kImplicitVRLittleEndian) == 0 || std::strcmp(uid, kExplicitVRLittleEndian) == 0)
        return !isPlatformLittleEndian();
    if (std::strcmp(uid, kExplicitVRBigEndian) == 0) return isPlatformLittleEndian();
    return false;
}

uint32_t VUXDicomLibrary::xferSyntaxIOAttributes(const char* uid) {
    if (isEmpty(uid)) return 0;
    uint32_t attributes = 0;
    if (std::strcmp(uid, kImplicitVRLittleEndian) == 0) attributes |= kDicmIOImplicitVR;
    const bool bigEndianSyntax = std::strcmp(uid, kExplicitVRBigEndian) == 0;
    if (isPlatformLittleEndian() ? bigEndianSyntax : !bigEndianSyntax) attributes |= kDicmIOSwap;
    return attributes;
}

uint32_t VUXDicomLibrary::streamIOAttributes(FILE* stream, bool& isDicom) {
    isDicom = false;
    if (!stream) return 0;
    unsigned char bytes[4];
    if (std::fseek(stream, kMagicOffset, SEEK_SET) == 0 && std::fread(bytes, 1, 4, stream) == 4 &&
        std::memcmp(bytes, "DICM", 4) == 0) {
        isDicom = true;
        return xferSyntaxIOAttributes(kExplicitVRLittleEndian);
    }
    std::clearerr(stream);
    if (std::fseek(stream, 0, SEEK_SET) != 0 || std::fread(bytes, 1, 4, stream) != 4) return 0;
    if (!startsWithStandardTag(bytes)) return 0;
    if (std::fseek(stream, 0, SEEK_SET) != 0) return 0;
    isDicom = true;
    return xferSyntaxIOAttributes(kImplicitVRLittleEndian) | kDicmIONoPreamble;
}

uint32_t VUXDicomLibrary::streamIOAttributes(std::istream& stream, bool& isDicom) {
    isDicom = false;
    if (stream.fail()) return 0;
    char bytes[4];
    stream.seekg(kMagicOffset, std::ios::beg);
    if (stream.read(bytes, 4) && std::memcmp(bytes, "DICM", 4) == 0) {
        isDicom = true;
        return xferSyntaxIOAttributes(kExplicitVRLittleEndian);
    }
    // A stream shorter than the preamble fails the first read; that says nothing about its start.
    stream.clear();
    stream.seekg(0, std::ios::beg);
    if (!stream.read(bytes, 4)) return 0;
    if (!startsWithStandardTag(reinterpret_cast<const unsigned char*>(bytes))) return 0;
    stream.seekg(0, std::ios::beg);
    if (stream.fail()) return 0;
    isDicom = true;
    return xferSyntaxIOAttributes(kImplicitVRLittleEndian) | kDicmIONoPreamble;
}

} // namespace VUX::VUXDCM
