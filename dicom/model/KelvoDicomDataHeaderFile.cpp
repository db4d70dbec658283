// Reading the file meta information of a Part-10 file into a header: the 128-byte preamble, the
// magic "DICM" and the group 0002 elements that follow, always explicit VR little endian. Every
// length is checked against what remains of the file before anything is read; anything
// malformed is refused. The full DICOM reader reads the rest of the file.
#include "KelvoDicomDataSetViews.h"

#include "PlatformEndian.h"

#include <cstring>
#include <memory>

namespace {

constexpr int64_t kPreambleAndMagic = 132;
// Meta information is small; more than this is not a header but a damaged or hostile file.
constexpr int64_t kMaxMetaBytes = 16 * 1024 * 1024;
constexpr int kMaxMetaElements = 4096;

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

bool isVRText(const uint8_t* vr) {
    return vr[0] >= 'A' && vr[0] <= 'Z' && vr[1] >= 'A' && vr[1] <= 'Z';
}

} // namespace

KelvoDicomDataHeader* KelvoDicomDataHeader::openFile(const char* path, int32_t& status) {
    status = noErr;
    if (!path) {
        status = paramErr;
        return nullptr;
    }
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path, "rb"));
    if (!file) {
        status = kKelvoCannotOpenForReading;
        return nullptr;
    }
    FILE* f = file.get();
    if (fseeko(f, 0, SEEK_END) != 0) {
        status = ioErr;
        return nullptr;
    }
    const int64_t size = ftello(f);
    uint8_t head[kPreambleAndMagic];
    if (size < kPreambleAndMagic || fseeko(f, 0, SEEK_SET) != 0 ||
        std::fread(head, 1, sizeof head, f) != sizeof head || std::memcmp(head + 128, "DICM", 4) != 0) {
        status = kKelvoWrongFileFormat;
        return nullptr;
    }

    auto header = std::make_unique<KelvoDicomDataHeader>();
    if (header->_status != noErr || !header->_container) {
        status = header->_status != noErr ? header->_status : int32_t(memFullErr);
        return nullptr;
    }
    // The file's elements replace the defaults of a new header.
    QTRemoveChildren(header->_container, header->_root);

    int64_t pos = kPreambleAndMagic;
    for (int n = 0;; ++n) {
        uint8_t h[12];
        const int64_t left = size - pos;
        if (left < 2) break;
        const size_t want = left < 8 ? size_t(left) : 8;
        if (fseeko(f, pos, SEEK_SET) != 0 || std::fread(h, 1, want, f) != want) {
            status = ioErr;
            return nullptr;
        }
        if (platform::loadLE16(h) != 0x0002) break; // the data set starts
        if (want < 8 || n >= kMaxMetaElements || !isVRText(h + 4)) {
            status = kKelvoElementUnreadable;
            return nullptr;
        }
        const uint16_t element = platform::loadLE16(h + 2);
        char vr[3] = {char(h[4]), char(h[5]), 0};
        const dicmVRInfo* info = DicmDict_VRInfo(vr);
        if (!info || std::strcmp(vr, "SQ") == 0) {
            status = kKelvoElementUnreadable;
            return nullptr;
        }
        uint32_t length = platform::loadLE16(h + 6);
        int64_t valuePos = pos + 8;
        if (info->headerLength == 12) {
            if (left < 12 || std::fread(h + 8, 1, 4, f) != 4) {
                status = kKelvoElementUnreadable;
                return nullptr;
            }
            length = platform::loadLE32(h + 8);
            valuePos = pos + 12;
        }
        if (length == kDicomUndefinedLength || int64_t(length) > size - valuePos ||
            valuePos + int64_t(length) - kPreambleAndMagic > kMaxMetaBytes) {
            status = kKelvoElementUnreadable;
            return nullptr;
        }
        dicomNodeDescRecord desc{0x0002, element, {vr[0], vr[1]}, {0, 0}, length};
        dicomNodeFPosRecord fpos{pos, valuePos};
        KelvoDicomDataNode node;
        KelvoDicomDataNode::read(f, desc, fpos, !platform::kHostIsLittleEndian, node);
        if (node.Error() != noErr) {
            status = node.Error();
            return nullptr;
        }
        header->setProperty(element, vr, node);
        if (header->_status != noErr) {
            status = header->_status;
            return nullptr;
        }
        pos = valuePos + int64_t(length);
    }
    header->setupEncodingRules();
    // Without a transfer syntax the rest of the file cannot be read.
    if (!header->qtObjIsValid()) {
        status = kKelvoElementUnreadable;
        return nullptr;
    }
    return header.release();
}
