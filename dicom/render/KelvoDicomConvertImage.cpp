// The image converter: one toolkit image as a single-frame DICOM file.
#include "KelvoDicomConverter.h"

#include "KelvoCoreObjectsTypes.h"
#include "KelvoDicomDataImagePixel.h"
#include "KelvoImageBase.h"
#include "VUXDicomLib.h"

#include <cstring>

namespace {

constexpr uint16_t kRows = 0x0010;
constexpr uint16_t kColumns = 0x0011;
constexpr uint16_t kBitsAllocated = 0x0100;

} // namespace

KelvoDicomConvertImage::KelvoDicomConvertImage() {
    getDataParams();
}

KelvoDicomConvertImage::KelvoDicomConvertImage(Kelvo_Image* image) {
    getDataParams();
    setDataSource(image);
}

KelvoDicomConvertImage::KelvoDicomConvertImage(const KelvoDicomConvertImage& other)
    : KelvoDicomConverter(other) {
    takeSourcesOf(const_cast<KelvoDicomConvertImage&>(other));
    if (!_params) getDataParams();
}

KelvoDicomConvertImage::~KelvoDicomConvertImage() = default;

bool KelvoDicomConvertImage::isA(const char* name) const {
    return KelvoDicomConverter::isA(name) || (name && std::strcmp(name, "KelvoDicomConvertImage") == 0);
}

Kelvo_QTObj* KelvoDicomConvertImage::clone() {
    return new (std::nothrow) KelvoDicomConvertImage(*this);
}

bool KelvoDicomConvertImage::checkDataSource(Kelvo_QTObj* object) {
    _status = 0;
    if (!object || !object->qtObjIsValid()) {
        _status = -50;
        return false;
    }
    if (!object->isA("Kelvo_Image")) {
        _status = kKelvoWrongType;
        return false;
    }
    return true;
}

Kelvo_Image* KelvoDicomConvertImage::imageForDicomParams(bool& owned) {
    owned = false;
    auto* source = static_cast<Kelvo_Image*>(_dataSource);
    if (!source) return nullptr;
    const uint16_t columns = _params->getUSValueProperty(kColumns);
    const uint16_t rows = _params->getUSValueProperty(kRows);
    Kelvo_Image* image = source;
    if (source->width() != columns || source->height() != rows) {
        image = source->scaleImage(Kelvo_Size(columns, rows));
        if (!image) return nullptr;
        owned = true;
    }
    uint32_t needed = 0;
    switch (_params->PixelSamples()) {
    case 4:
        needed = Kelvo_Image::kARGB;
        break;
    case 3:
        needed = Kelvo_Image::kRGB;
        break;
    case 1:
        needed = _params->getUSValueProperty(kBitsAllocated) < 9 ? Kelvo_Image::kGrey : Kelvo_Image::kGrey16;
        break;
    default:
        return image;
    }
    if (image->pixelFormat() == needed) return image;
    Kelvo_Size size(image->width(), image->height());
    Kelvo_Image* converted = Kelvo_Image::create(Kelvo_OSType(needed), &size);
    if (converted) *converted = *image;
    if (owned) delete image;
    owned = converted != nullptr;
    return converted;
}

int32_t KelvoDicomConvertImage::writeDicomData(FILE* file, uint32_t ioMode) {
    defaultWindow();
    // The samples of the toolkit's images are unsigned; the range of the source's pixels no
    // longer describes them.
    _params->isTwoComplement(false);
    _params->RemoveKey(0x0106);
    _params->RemoveKey(0x0107);
    // Grey images hold brighter samples higher: MONOCHROME1 would show them as a negative.
    if (trimmed(_params->PhotoInterpretation()) == "MONOCHROME1") _params->PhotoInterpretation("MONOCHROME2");
    if (writeAttributes(file, ioMode) != 0) return _status;
    const uint64_t size = frameSize();
    if (size + 1 >= 0xFFFFFFFFu) {
        _status = -50;
        return _status;
    }
    // Values have even lengths: an odd number of 8-bit samples is followed by a zero byte.
    writePixelDataHeader(file, ioMode, _params->getUSValueProperty(kBitsAllocated) > 8 ? "OW" : "OB",
                         uint32_t(size + (size & 1)));
    return _status;
}

void KelvoDicomConvertImage::writeUncompressedData(FILE* file) {
    bool owned = false;
    Kelvo_Image* image = imageForDicomParams(owned);
    if (image && image->qtObjIsValid()) {
        // 16-bit samples in the byte order of the output.
        const size_t rowLength = size_t(image->width()) * image->bytesPerPixel();
        const size_t rowBytes = image->rowBytes();
        const bool swap = (getIOMode() & kDicmIOSwap) && image->pixelFormat() == Kelvo_Image::kGrey16;
        const auto* base = static_cast<const uint8_t*>(image->buffer());
        // Samples that are not what the parameters describe (two samples a pixel, 12 or 32 bits
        // allocated, colour of 16 bits) would not fill the length declared for them.
        if (rowBytes < rowLength || uint64_t(rowBytes) * image->height() > image->bufferSize() ||
            uint64_t(rowLength) * image->height() != frameSize()) {
            _status = -50;
        } else {
            writeRows(file, base, rowBytes, rowLength, image->height(), swap);
            if (frameSize() % 2 != 0) std::fputc(0, file);
        }
    } else {
        _status = image && image->Error() ? image->Error() : -50;
    }
    if (owned) delete image;
    progress(1.0, _status);
}

void KelvoDicomConvertImage::writeData(FILE* file, uint32_t ioMode) {
    if (!qtObjIsValid()) {
        _status = -50;
        return;
    }
    // The image is written as native samples only: under an encapsulated syntax the file would
    // claim pixels it does not hold.
    if (!nativeSyntax()) {
        _status = -50;
        return;
    }
    if (writeDicomData(file, ioMode) == 0) writeUncompressedData(file);
}
