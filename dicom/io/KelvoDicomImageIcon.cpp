#include "KelvoDicomImageIcon.h"

#include "KelvoDicomBinaryData.h"
#include "PlatformErrors.h"

#include <cstring>
#include <memory>
#include <string>
#include <utility>

namespace {

constexpr uint16_t kIconGroup = 0x0088;
constexpr uint16_t kIconSequence = 0x0200;
constexpr uint16_t kPixelGroup = 0x0028;
constexpr uint16_t kPixelDataGroup = 0x7FE0;
constexpr uint16_t kPixelData = 0x0010;
constexpr uint16_t kRows = 0x0010;
constexpr uint16_t kColumns = 0x0011;
constexpr uint16_t kSamplesPerPixel = 0x0002;
constexpr uint16_t kPixelRepresentation = 0x0103;
constexpr uint16_t kFrames = 0x0008;
constexpr uint16_t kIntensityRelationship = 0x1040;
constexpr uint16_t kRepresentativeFrame = 0x6010;
// An icon is at most this many pixels wide and high.
constexpr uint16_t kIconMaxEdge = 128;
// Icon pixels are stored natively: explicit VR little endian.
constexpr int kNativeSyntax = 1;

// Whether `bytes` of pixel data hold exactly `pixels` 8-bit samples. A value of odd length is
// stored with one padding byte, so that byte is no pixel.
bool holdsPixels(uint64_t bytes, uint64_t pixels) {
    return bytes == pixels || ((pixels & 1) && bytes == pixels + 1);
}

} // namespace

KelvoDicomImageIcon::KelvoDicomImageIcon() {
    defaultStatus();
}

KelvoDicomImageIcon::KelvoDicomImageIcon(KelvoDicomDataSet* set) {
    if (!set || !set->qtObjIsValid()) {
        _status = set ? set->Error() : memFullErr;
        return;
    }
    if (set->groupID() != kIconGroup || !set->HasKey(kIconSequence)) {
        _status = paramErr;
        return;
    }
    std::unique_ptr<Kelvo_QTObj> value(set->getObjValue(kIconSequence));
    if (!value) {
        _status = set->Error();
        return;
    }
    if (!value->isA("KelvoDicomDataItemGroup")) {
        _status = kKelvoWrongType;
        return;
    }
    _initFromIconSequence(*static_cast<KelvoDicomDataItemGroup*>(value.get()));
}

KelvoDicomImageIcon::KelvoDicomImageIcon(QTAtomContainer container, QTAtom atom) {
    QTAtomType type = 0;
    QTAtomID id = 0;
    if (!container || QTGetAtomTypeAndID(container, atom, &type, &id) != noErr ||
        type != kDicomSequenceAtom || id != kIconSequence) {
        _status = paramErr;
        return;
    }
    KelvoDicomDataItemGroup items(container, atom);
    _initFromIconSequence(items);
}

KelvoDicomImageIcon::KelvoDicomImageIcon(const KelvoDicomImageIcon& other) : Kelvo_QTObj(other) {
    if (!other.qtObjIsValid()) {
        _status = kKelvoBadArgumentObject;
        return;
    }
    _description = new KelvoDicomDataImagePixel(*other._description);
    _icon = new Kelvo_Image8BitGrey(*other._icon);
}

KelvoDicomImageIcon::~KelvoDicomImageIcon() {
    release();
}

void KelvoDicomImageIcon::release() {
    delete _description;
    delete _icon;
    _description = nullptr;
    _icon = nullptr;
}

bool KelvoDicomImageIcon::qtObjIsValid() {
    return _description && _icon && _icon->qtObjIsValid();
}

bool KelvoDicomImageIcon::qtObjIsValid() const {
    return _description && _icon && _icon->qtObjIsValid();
}

void KelvoDicomImageIcon::defaultStatus() {
    release();
    _description = new KelvoDicomDataImagePixel();
    _description->setUSValueProperty(kColumns, kIconMaxEdge);
    _description->setUSValueProperty(kRows, kIconMaxEdge);
    // The Icon Image Sequence needs the whole Image Pixel description: one unsigned sample.
    _description->setUSValueProperty(kSamplesPerPixel, 1);
    _description->setUSValueProperty(kPixelRepresentation, 0);
    _description->pixelEncoding() = DicmDict_XFerSyntaxByIndex(kNativeSyntax);
    _icon = new Kelvo_Image8BitGrey(Kelvo_Size(kIconMaxEdge, kIconMaxEdge), nullptr);
    if (!_icon->qtObjIsValid()) _status = _icon->Error() ? _icon->Error() : memFullErr;
}

void KelvoDicomImageIcon::copy(Kelvo_QTObj& source) {
    if (&source == this) return;
    if (!source.isA("KelvoDicomImageIcon")) {
        _status = kKelvoWrongType;
        return;
    }
    auto& other = static_cast<KelvoDicomImageIcon&>(source);
    if (!other.qtObjIsValid()) {
        _status = kKelvoBadArgumentObject;
        return;
    }
    release();
    _description = new KelvoDicomDataImagePixel(*other._description);
    _icon = new Kelvo_Image8BitGrey(*other._icon);
    _status = 0;
}

Kelvo_QTObj* KelvoDicomImageIcon::clone() {
    return qtObjIsValid() ? new KelvoDicomImageIcon(*this) : nullptr;
}

void KelvoDicomImageIcon::_initFromIconSequence(KelvoDicomDataItemGroup& items) {
    if (!items.qtObjIsValid()) {
        _status = items.Error();
        return;
    }
    const int32_t count = items.count();
    if (count <= 0) {
        _status = kKelvoNotFound;
        return;
    }
    // The description and the pixels may come in separate items: the search goes on until both
    // were seen.
    std::unique_ptr<KelvoDicomDataSet> description, pixels;
    for (int32_t i = 1; i <= count && !(description && pixels); ++i) {
        std::unique_ptr<Kelvo_QTObj> item(items.getObjValue(i));
        if (!item || !item->isA("KelvoDicomDataItem")) continue;
        auto* it = static_cast<KelvoDicomDataItem*>(item.get());
        const std::pair<uint16_t, std::unique_ptr<KelvoDicomDataSet>*> wanted[] = {
            {kPixelGroup, &description}, {kPixelDataGroup, &pixels}};
        for (auto [group, slot] : wanted) {
            if (!it->HasKey(group)) continue;
            Kelvo_QTObj* set = it->getObjValue(group);
            if (set && set->isA("KelvoDicomDataSet"))
                slot->reset(static_cast<KelvoDicomDataSet*>(set));
            else
                delete set;
        }
    }
    if (!description || !pixels) {
        _status = kKelvoNotFound;
        return;
    }
    if (description->isA("KelvoDicomDataImagePixel"))
        _description = static_cast<KelvoDicomDataImagePixel*>(description.release());
    else
        _description = new KelvoDicomDataImagePixel(description->Dictionary(), description->getRootOfItems());
    _description->pixelEncoding() = DicmDict_XFerSyntaxByIndex(kNativeSyntax);

    const uint16_t columns = _description->getUSValueProperty(kColumns);
    const uint16_t rows = _description->getUSValueProperty(kRows);
    const uint64_t pixelCount = uint64_t(columns) * rows;
    std::unique_ptr<Kelvo_QTObj> value(pixels->getObjValue(kPixelData));
    const uint8_t* bytes = nullptr;
    uint64_t size = 0;
    Handle handle = nullptr;
    if (value && value->isA("KelvoDicomDataOtherByte")) {
        auto* ob = static_cast<KelvoDicomDataOtherByte*>(value.get());
        bytes = *ob;
        size = ob->itemsCount();
    } else if (value && value->isA("KelvoDicomDataNode")) {
        handle = static_cast<KelvoDicomDataNode*>(value.get())->Value(0);
        if (handle) {
            bytes = reinterpret_cast<const uint8_t*>(*handle);
            size = uint64_t(GetHandleSize(handle));
        }
    }
    if (!bytes) {
        _status = memFullErr;
    } else if (pixelCount == 0 || !holdsPixels(size, pixelCount)) {
        // Missing Columns or Rows, pixels short or long, or pixels of more than one byte (colour,
        // 16-bit grey): no grey icon can be made of them.
        _status = paramErr;
    } else {
        auto* image = new Kelvo_Image8BitGrey(Kelvo_Size(columns, rows), const_cast<uint8_t*>(bytes));
        if (image->qtObjIsValid()) {
            _icon = image;
        } else {
            _status = image->Error() ? image->Error() : paramErr;
            delete image;
        }
    }
    if (handle) DisposeHandle(handle);
}

void KelvoDicomImageIcon::iconDescription(KelvoDicomDataImagePixel* d) {
    if (!qtObjIsValid() || !d || !d->qtObjIsValid()) return;
    const std::string photometric = d->PhotoInterpretation();
    if (photometric == "MONOCHROME1" || photometric == "MONOCHROME2" || photometric == "PALETTE COLOR") {
        _description->PhotoInterpretation(photometric.c_str());
        // A palette icon is unusable without its palette: it comes along.
        if (photometric == "PALETTE COLOR") {
            std::unique_ptr<KelvoDicomPixelLut> palette(d->colorPalette());
            if (palette) _description->colorPalette(palette.get());
        }
    }
    if (d->HasKey(kIntensityRelationship))
        _description->PixelIntensityRelationShip(d->PixelIntensityRelationShip());
    if (d->HasKey(kFrames)) _description->FramesCount(d->FramesCount());
    if (d->HasKey(kRepresentativeFrame))
        _description->setUSValueProperty(kRepresentativeFrame, d->getUSValueProperty(kRepresentativeFrame));
    for (uint16_t edge : {kColumns, kRows}) {
        const uint16_t v = d->getUSValueProperty(edge);
        if (d->HasKey(edge) && v >= 1 && v <= kIconMaxEdge) _description->setUSValueProperty(edge, v);
    }
    _description->pixelEncoding() =
        d->pixelEncoding() ? d->pixelEncoding() : DicmDict_XFerSyntaxByIndex(kNativeSyntax);

    const uint16_t columns = _description->getUSValueProperty(kColumns);
    const uint16_t rows = _description->getUSValueProperty(kRows);
    if (_icon->width() == columns && _icon->height() == rows) return;
    Kelvo_Image* scaled = _icon->scaleImage(Kelvo_Size(columns, rows));
    if (scaled && scaled->isA("Kelvo_Image8BitGrey") && scaled->qtObjIsValid()) {
        delete _icon;
        _icon = static_cast<Kelvo_Image8BitGrey*>(scaled);
        return;
    }
    // The image keeps its size, and the description with it.
    _status = _icon->Error() ? _icon->Error() : paramErr;
    delete scaled;
    _description->setUSValueProperty(kColumns, uint16_t(_icon->width()));
    _description->setUSValueProperty(kRows, uint16_t(_icon->height()));
}

void KelvoDicomImageIcon::icon(Kelvo_Image* image) {
    if (!qtObjIsValid() || !image || !image->qtObjIsValid()) return;
    if (image == _icon) return;
    // Columns and Rows are 16-bit: an image larger than that cannot be described.
    if (image->width() > 0xFFFF || image->height() > 0xFFFF) {
        _status = paramErr;
        return;
    }
    _icon->copy(*image);
    _status = _icon->Error();
    // The description always says what the pixels are, so that the icon written out reads back.
    if (_icon->qtObjIsValid()) {
        _description->setUSValueProperty(kColumns, uint16_t(_icon->width()));
        _description->setUSValueProperty(kRows, uint16_t(_icon->height()));
    }
}

KelvoDicomDataSet* KelvoDicomImageIcon::iconDataSet() {
    if (!qtObjIsValid()) return nullptr;
    KelvoDicomDataSet pixels(kPixelDataGroup);
    KelvoDicomDataNode node("OB");
    const uint32_t size = _icon->width() * _icon->height();
    Handle data = NewHandle(Size(size));
    if (!data) {
        _status = memFullErr;
        return nullptr;
    }
    std::memcpy(*data, _icon->buffer(), size);
    node.Value(data, 0);
    DisposeHandle(data);
    pixels.setProperty(kPixelData, "OB", node);
    KelvoDicomDataItem item;
    item.setObjValue(kPixelGroup, _description);
    if (item.Error() == noErr) item.setObjValue(kPixelDataGroup, &pixels);
    KelvoDicomDataItemGroup sequence(kIconSequence);
    if (item.Error() == noErr && pixels.Error() == noErr) sequence.setObjValue(1, &item);
    auto* set = new KelvoDicomDataSet(kIconGroup);
    if (sequence.Error() == noErr) set->setObjValue(kIconSequence, &sequence);
    int32_t status = pixels.Error() ? pixels.Error() : item.Error() ? item.Error() : sequence.Error();
    if (status == noErr) status = set->Error();
    if (status != noErr) {
        _status = status;
        delete set;
        return nullptr;
    }
    return set;
}

KelvoDicomPixelData* KelvoDicomImageIcon::iconSamplesTable() {
    if (!qtObjIsValid()) {
        _status = memFullErr;
        return nullptr;
    }
    auto* table = new KelvoDicomPixelData(1, DicmDict_XFerSyntaxByIndex(kNativeSyntax), false, nullptr);
    if (!table->qtObjIsValid()) {
        _status = table->Error();
        delete table;
        return nullptr;
    }
    table->setChunkInfo(0, _icon->bufferSize(), 0);
    return table;
}
