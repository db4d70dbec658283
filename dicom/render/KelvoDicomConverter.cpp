// The converter base: sources, image-pixel parameters, notifier and transfer syntax.
#include "KelvoDicomConverter.h"

#include "KelvoDicomDataImagePixel.h"
#include "KelvoDicomDataSetViews.h"
#include "KelvoDicomDataTree.h"
#include "KelvoDicomUtils.h"
#include "PlatformFiles.h"
#include "VUXDicomLib.h"

#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// The I/O mode goes to the element writers as their flags.
static_assert(uint32_t(kDicomWriteImplicitVR) == kDicmIOImplicitVR &&
              uint32_t(kDicomWriteBigEndian) == kDicmIOSwap);

namespace {

constexpr int32_t kUnknownTransferSyntax = 301;
constexpr int32_t kUnreadableTransferSyntax = 350;

} // namespace

KelvoDicomConverter::KelvoDicomConverter() = default;

KelvoDicomConverter::KelvoDicomConverter(const KelvoDicomConverter& other) : Kelvo_QTObj(other) {
    if (other._notifier) _notifier = static_cast<Kelvo_ProgressNotifier*>(other._notifier->clone());
}

KelvoDicomConverter::~KelvoDicomConverter() {
    delete _dataSource;
    delete _dicomSource;
    delete _params;
    delete _notifier;
}

bool KelvoDicomConverter::isA(const char* name) const {
    return Kelvo_QTObj::isA(name) || (name && std::strcmp(name, "KelvoDicomConverter") == 0);
}

void KelvoDicomConverter::takeSourcesOf(KelvoDicomConverter& other) {
    if (!other.qtObjIsValid()) return;
    setDataSource(other._dataSource);
    setDicomSource(other._dicomSource);
}

void KelvoDicomConverter::copy(Kelvo_QTObj& other) {
    reset();
    if (&other == this || !other.isA(qtObjName())) return;
    auto& converter = static_cast<KelvoDicomConverter&>(other);
    setDicomSource(converter._dicomSource);
    setDataSource(converter._dataSource);
}

void KelvoDicomConverter::defaultStatus() {
    reset();
    getDataParams();
}

void KelvoDicomConverter::reset() {
    delete _dataSource;
    _dataSource = nullptr;
    delete _dicomSource;
    _dicomSource = nullptr;
    delete _params;
    _params = nullptr;
    delete _notifier;
    _notifier = nullptr;
    _xferID = 1;
}

void KelvoDicomConverter::getDataParams() {
    delete _params;
    _params = nullptr;
    if (_dicomSource) {
        Kelvo_QTObj* group = _dicomSource->getObjValue(0x0028);
        if (group && group->isA("KelvoDicomDataImagePixel")) {
            _params = static_cast<KelvoDicomDataImagePixel*>(group);
            return;
        }
        delete group;
    }
    _params = new KelvoDicomDataImagePixel();
    _params->setUSValueProperty(0x0011, 512);
    _params->setUSValueProperty(0x0010, 512);
}

void KelvoDicomConverter::setDicomSource(KelvoDicomDataTree* tree) {
    delete _dicomSource;
    _dicomSource = nullptr;
    _xferID = 1;
    delete _params;
    _params = nullptr;
    if (tree && tree->qtObjIsValid()) {
        KelvoDicomDataHeader* header = tree->Header();
        const std::string uid = trimmed(header ? header->getStringValueProperty(0x0010) : nullptr);
        const dicmXferSyntaxInfo* info = uid.empty() ? nullptr : DicmDict_XFerSyntax(uid.c_str());
        if (!info)
            _status = kUnknownTransferSyntax;
        else if (!(info->flags & kDicmXferReadable))
            _status = kUnreadableTransferSyntax;
        else
            _xferID = int32_t(info->id);
        delete header;
        _dicomSource = static_cast<KelvoDicomDataTree*>(tree->clone());
    }
    getDataParams();
}

bool KelvoDicomConverter::setDataSource(Kelvo_QTObj* object) {
    delete _dataSource;
    _dataSource = nullptr;
    if (!checkDataSource(object)) return false;
    _dataSource = object->clone();
    if (!_dataSource) _status = -108;
    return _dataSource != nullptr;
}

void KelvoDicomConverter::convert(FILE* file) {
    if (!_params || !file) {
        _status = -50;
        return;
    }
    // Writing into the source's own file would destroy what is being converted.
    if (isSourceFile(file)) {
        _status = -50;
        return;
    }
    const off_t start = ftello(file);
    writeData(file, getIOMode());
    if (std::fflush(file) != 0 || std::ferror(file)) {
        if (_status == 0) _status = -36; // the platform's I/O error: a write that did not land
    }
    // A failed conversion leaves no half-written file behind.
    if (_status != 0 && start >= 0) {
        if (ftruncate(fileno(file), start) == 0) fseeko(file, start, SEEK_SET);
    }
}

void KelvoDicomConverter::convertToFile(const char* path) {
    if (!path || !path[0] || !_params) {
        _status = -50;
        return;
    }
    // A link stays a link: the file it points to is the one replaced.
    std::error_code ec;
    std::filesystem::path target = std::filesystem::weakly_canonical(path, ec);
    if (ec) target = path;
    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && _dicomSource && _dicomSource->Path()) {
        struct stat source {};
        if (::stat(_dicomSource->Path(), &source) == 0 && source.st_dev == existing.st_dev &&
            source.st_ino == existing.st_ino) {
            _status = -50;
            return;
        }
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        _status = -50; // a folder or a device is no file to replace
        return;
    }
    // Written beside the destination and put in place whole: a failed conversion leaves the
    // destination as it was.
    PlatformSafeFile output;
    FILE* file = output.open(target.c_str()) == noErr ? output.stream() : nullptr;
    if (!file) {
        _status = -50;
        return;
    }
    convert(file);
    if (_status != 0) {
        output.abandon();
        return;
    }
    if (output.commit() != noErr) _status = -36;
}

bool KelvoDicomConverter::isSourceFile(FILE* file) {
    if (!file || !_dicomSource || !_dicomSource->Path()) return false;
    struct stat stream {};
    struct stat source {};
    return ::fstat(fileno(file), &stream) == 0 && ::stat(_dicomSource->Path(), &source) == 0 &&
           stream.st_dev == source.st_dev && stream.st_ino == source.st_ino;
}

void KelvoDicomConverter::Callback(Kelvo_ProgressNotifier* notifier) {
    delete _notifier;
    _notifier = notifier ? static_cast<Kelvo_ProgressNotifier*>(notifier->clone()) : nullptr;
}

uint32_t KelvoDicomConverter::getIOMode() {
    if (!_dicomSource) return 0;
    KelvoDicomDataHeader* header = _dicomSource->Header();
    if (!header) return 0;
    uint32_t mode = 0;
    if (header->Implicit()) mode |= kDicmIOImplicitVR;
    if (header->Swap()) mode |= kDicmIOSwap;
    delete header;
    return mode;
}

void KelvoDicomConverter::progress(double value, int32_t code) {
    if (_notifier) _notifier->Call(value, code);
}

void KelvoDicomConverter::writePixelDataHeader(FILE* file, uint32_t ioMode, const char* vr, uint32_t length) {
    dicomNodeDescRecord desc{0x7FE0, 0x0010, {vr[0], vr[1]}, {0, 0}, length};
    DicomUtils_WriteItemsContainerStart(file, int32_t(ioMode), desc);
}

void KelvoDicomConverter::defaultWindow() {
    if (_params->HasKey(0x1050) && _params->HasKey(0x1051)) return;
    const uint16_t stored = _params->getUSValueProperty(0x0101);
    if (stored < 1 || stored > 32) return;
    char centre[24], width[24];
    std::snprintf(centre, sizeof centre, "%lld", 1LL << (stored - 1));
    std::snprintf(width, sizeof width, "%lld", 1LL << stored);
    _params->setStringValueProperty(0x1050, centre);
    _params->setStringValueProperty(0x1051, width);
}

uint64_t KelvoDicomConverter::frameSize() {
    return uint64_t(_params->getUSValueProperty(0x0011)) * _params->getUSValueProperty(0x0010) *
           _params->PixelSamples() * (_params->getUSValueProperty(0x0100) / 8);
}

void KelvoDicomConverter::writeRows(FILE* file, const uint8_t* base, size_t rowBytes, size_t rowLength,
                                    size_t rows, bool swap) {
    std::vector<uint8_t> row(rowLength);
    for (size_t y = 0; y < rows; ++y) {
        std::memcpy(row.data(), base + y * rowBytes, rowLength);
        if (swap) DicmUtils_OWSwap(row.data(), uint32_t(rowLength));
        std::fwrite(row.data(), 1, rowLength, file);
    }
}

std::string KelvoDicomConverter::trimmed(const char* text) {
    std::string s = text ? text : "";
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.pop_back();
    return s;
}

int32_t KelvoDicomConverter::writeAttributes(FILE* file, uint32_t ioMode) {
    if (!_dicomSource) {
        uint32_t flags = ioMode;
        _params->flushToBinary(file, &flags);
        _status = _params->Error();
        return _status;
    }
    // The source's own pixel data would stand beside the element written after the tree.
    Kelvo_QTObj* found = _dicomSource->getObjValue(0x7FE0);
    if (found && found->isA("KelvoDicomDataSet")) {
        auto* pixels = static_cast<KelvoDicomDataSet*>(found);
        if (pixels->HasKey(0x0010)) {
            pixels->RemoveKey(0x0010);
            _dicomSource->setObjValue(0x7FE0, pixels);
        }
    }
    delete found;
    // Digital signatures and trailing padding would come before the pixel data appended after
    // the tree, out of tag order; they cannot describe the new file anyway.
    _dicomSource->RemoveKey(0xFFFA);
    _dicomSource->RemoveKey(0xFFFC);
    _dicomSource->setObjValue(0x0028, _params);
    _dicomSource->flushToBinary(file, nullptr);
    _status = _dicomSource->Error();
    return _status;
}
