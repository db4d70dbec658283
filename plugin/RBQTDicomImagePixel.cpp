// The image pixel view (group 0028) and the palette lookup table. The view's properties read and
// write its elements through the view's own rules (samples, planar configuration, frames,
// photometric interpretation, rescale, window and palette); objects handed out (descriptions,
// sizes, ranges, palettes, raw values) are new copies the caller owns. A host object that holds
// no image pixel view reads empty and ignores writes; so does an empty lookup table.
#include "KelvoCoreGraphics.h"
#include "KelvoCoreObjectsRange.h"
#include "KelvoCoreVideoDataDescriptors.h"
#include "KelvoDicomDataImagePixel.h"
#include "KelvoDicomLookupTables.h"
#include "RBQTDicomDataSetMembers.h"
#include "RBQTHostMembers.h"

#include <new>

using namespace fenra;

namespace {

constexpr uint16_t kRescaleType = 0x1054;

KelvoDicomDataImagePixel* pixelOf(REALobject self) {
    return objectAs<KelvoDicomDataImagePixel>(self, "KelvoDicomDataImagePixel");
}

void pixelConstructor(REALobject self) {
    adopt(self, new (std::nothrow) KelvoDicomDataImagePixel());
}

REALstring pixelGetString(REALobject self, RBInteger param) {
    KelvoDicomDataImagePixel* pixel = pixelOf(self);
    if (!pixel) return hostString("");
    switch (param) {
    case 0:
        return hostString(pixel->PhotoInterpretation());
    case 1:
        return hostString(pixel->getStringValueProperty(kRescaleType));
    case 2:
        return hostString(pixel->PixelIntensityRelationShip());
    default:
        return hostString("");
    }
}

void pixelSetString(REALobject self, RBInteger param, REALstring value) {
    KelvoDicomDataImagePixel* pixel = pixelOf(self);
    auto text = hostText(value);
    if (!pixel || !text) return;
    if (param == 0) pixel->PhotoInterpretation(text->c_str());
    if (param == 1) pixel->setStringValueProperty(kRescaleType, text->c_str());
    if (param == 2) pixel->PixelIntensityRelationShip(text->c_str());
}

RBBoolean pixelGetBoolean(REALobject self, RBInteger param) {
    KelvoDicomDataImagePixel* pixel = pixelOf(self);
    if (!pixel) return 0;
    if (param == 0) return pixel->isTwoComplement() ? 1 : 0;
    if (param == 1) return pixel->useWindowing() ? 1 : 0;
    return 0;
}

void pixelSetBoolean(REALobject self, RBInteger param, RBBoolean value) {
    KelvoDicomDataImagePixel* pixel = pixelOf(self);
    if (pixel && param == 0) pixel->isTwoComplement(value != 0);
}

// Value properties: the parameter is the element number.
REALobject pixelGetValue(REALobject self, RBInteger element) {
    KelvoDicomDataImagePixel* pixel = pixelOf(self);
    if (!pixel || !fitsUInt16(element)) return nullptr;
    Kelvo_QTObj* value = pixel->getObjValue(element);
    if (value && !value->isA("KelvoDicomDataNode")) {
        delete value;
        return nullptr;
    }
    return FenraWrapNewObject(value);
}

void pixelSetValue(REALobject self, RBInteger element, REALobject value) {
    KelvoDicomDataImagePixel* pixel = pixelOf(self);
    auto* node = validObjectAs<KelvoDicomDataNode>(value, "KelvoDicomDataNode");
    if (!pixel || !node || !fitsUInt16(element) || !FenraValueFitsElement(*pixel, uint16_t(element), *node))
        return;
    if (element == 0x0009) pixel->FrameIncrementPointer(node);
    if (element == 0x1050) pixel->WindowCenter(node);
    if (element == 0x1051) pixel->WindowWidth(node);
}

// The plain 16-bit elements of the integer properties, by parameter (0 where the view has its
// own rule).
constexpr uint16_t kIntegerElements[] = {0, 0, 0x0010, 0x0011, 0x0100, 0x0101, 0x0102, 0, 0x6010};

RBInteger pixelGetInteger(REALobject self, RBInteger param) {
    KelvoDicomDataImagePixel* pixel = pixelOf(self);
    if (!pixel || param < 0 || size_t(param) >= std::size(kIntegerElements)) return 0;
    if (param == 0) return pixel->PixelSamples();
    if (param == 1) return pixel->PlanarConfiguration();
    if (param == 7) return pixel->FramesCount();
    return pixel->getUSValueProperty(kIntegerElements[param]);
}

void pixelSetInteger(REALobject self, RBInteger param, RBInteger value) {
    KelvoDicomDataImagePixel* pixel = pixelOf(self);
    if (!pixel || param < 0 || size_t(param) >= std::size(kIntegerElements)) return;
    if (param == 7) {
        pixel->FramesCount(value);
        return;
    }
    if (!fitsUInt16(value)) return;
    if (param == 0)
        pixel->PixelSamples(uint16_t(value));
    else if (param == 1)
        pixel->PlanarConfiguration(uint16_t(value));
    else
        pixel->setUSValueProperty(kIntegerElements[param], uint16_t(value));
}

double pixelGetDouble(REALobject self, RBInteger param) {
    KelvoDicomDataImagePixel* pixel = pixelOf(self);
    if (!pixel) return 0.0;
    if (param == 0) return pixel->Intercept();
    if (param == 1) return pixel->Slope();
    return 0.0;
}

void pixelSetDouble(REALobject self, RBInteger param, double value) {
    KelvoDicomDataImagePixel* pixel = pixelOf(self);
    if (!pixel || !fitsFloat(value)) return;
    if (param == 0) pixel->Intercept(float(value));
    if (param == 1) pixel->Slope(float(value));
}

REALobject pixelGetObject(REALobject self, RBInteger param) {
    KelvoDicomDataImagePixel* pixel = pixelOf(self);
    if (!pixel) return nullptr;
    switch (param) {
    case 0:
        return FenraWrapNewObject(pixel->ImageParams());
    case 1:
        return FenraWrapNewObject(pixel->colorPalette());
    case 2:
        return FenraWrapNewObject(pixel->imageSize());
    default:
        return nullptr;
    }
}

void pixelSetObject(REALobject self, RBInteger param, REALobject value) {
    KelvoDicomDataImagePixel* pixel = pixelOf(self);
    if (!pixel) return;
    if (param == 0) {
        if (auto* desc = objectAs<Kelvo_ImgDesc>(value, "Kelvo_ImgDesc")) pixel->ImageParams(desc);
    } else if (param == 1) {
        if (auto* lut = objectAs<KelvoDicomPixelLut>(value, "KelvoDicomPixelLut")) pixel->colorPalette(lut);
    } else if (param == 2) {
        if (auto* size = objectAs<Kelvo_Size>(value, "Kelvo_Size")) pixel->imageSize(size);
    }
}

REALobject pixelGetRange(REALobject self, RBInteger param) {
    KelvoDicomDataImagePixel* pixel = pixelOf(self);
    if (!pixel || param < 0 || param > 2) return nullptr;
    auto* range = new (std::nothrow) Kelvo_NumericalRange();
    if (!range) return nullptr;
    if (param == 0) pixel->getWindowLevelsDefault(*range);
    if (param == 1) pixel->getWindowCenterRange(*range);
    if (param == 2) pixel->getWindowWidthRange(*range);
    return FenraWrapNewObject(range);
}

void pixelSetRange(REALobject self, RBInteger param, REALobject value) {
    KelvoDicomDataImagePixel* pixel = pixelOf(self);
    auto* range = validObjectAs<Kelvo_NumericalRange>(value, "Kelvo_NumericalRange");
    if (pixel && range && param == 0) pixel->setWindowLevelsDefault(*range);
}

void pixelWindowRange(REALobject self, RBInteger* minC, RBInteger* maxC, RBInteger* minW, RBInteger* maxW) {
    if (minC) *minC = 0;
    if (maxC) *maxC = 0;
    if (minW) *minW = 0;
    if (maxW) *maxW = 0;
    KelvoDicomDataImagePixel* pixel = pixelOf(self);
    if (!pixel || !minC || !maxC || !minW || !maxW) return;
    int32_t centreMax = 0, centreMin = 0, widthMax = 0, widthMin = 0;
    pixel->windowRange(centreMax, centreMin, widthMax, widthMin);
    *maxC = centreMax;
    *minC = centreMin;
    *maxW = widthMax;
    *minW = widthMin;
}

REALPropertyRecord pixelProperties[] = {
    property("photoInterpretation", "string", fn(&pixelGetString), fn(&pixelSetString), 0),
    property("rescaleType", "string", fn(&pixelGetString), fn(&pixelSetString), 1),
    property("pixelIntensityRelationship", "string", fn(&pixelGetString), fn(&pixelSetString), 2),
    property("isTwoComplement", "boolean", fn(&pixelGetBoolean), fn(&pixelSetBoolean), 0),
    property("hasWindowing", "boolean", fn(&pixelGetBoolean), nullptr, 1),
    property("frameIncrementPointer", "FenraDicomValue", fn(&pixelGetValue), fn(&pixelSetValue), 0x0009),
    property("windowCenter", "FenraDicomValue", fn(&pixelGetValue), fn(&pixelSetValue), 0x1050),
    property("windowWidth", "FenraDicomValue", fn(&pixelGetValue), fn(&pixelSetValue), 0x1051),
    property("samplesPerPixel", "integer", fn(&pixelGetInteger), fn(&pixelSetInteger), 0),
    property("planarType", "integer", fn(&pixelGetInteger), fn(&pixelSetInteger), 1),
    property("height", "integer", fn(&pixelGetInteger), fn(&pixelSetInteger), 2),
    property("width", "integer", fn(&pixelGetInteger), fn(&pixelSetInteger), 3),
    property("bitsAllocated", "integer", fn(&pixelGetInteger), fn(&pixelSetInteger), 4),
    property("bitsStored", "integer", fn(&pixelGetInteger), fn(&pixelSetInteger), 5),
    property("highBit", "integer", fn(&pixelGetInteger), fn(&pixelSetInteger), 6),
    property("framesCount", "integer", fn(&pixelGetInteger), fn(&pixelSetInteger), 7),
    property("posterFrame", "integer", fn(&pixelGetInteger), fn(&pixelSetInteger), 8),
    property("intercept", "double", fn(&pixelGetDouble), fn(&pixelSetDouble), 0),
    property("slope", "double", fn(&pixelGetDouble), fn(&pixelSetDouble), 1),
    property("imageSettings", "FenraImageDesc", fn(&pixelGetObject), fn(&pixelSetObject), 0),
    property("colorPalette", "FenraDicomPixelLut", fn(&pixelGetObject), fn(&pixelSetObject), 1),
    property("imageSize", "FenraSize", fn(&pixelGetObject), fn(&pixelSetObject), 2),
    property("defaultWindowLevels", "FenraNumericalRange", fn(&pixelGetRange), fn(&pixelSetRange), 0),
    property("windowCenterRange", "FenraNumericalRange", fn(&pixelGetRange), nullptr, 1),
    property("windowWidthRange", "FenraNumericalRange", fn(&pixelGetRange), nullptr, 2),
};

REALMethodRecord pixelMethods[] = {
    method(fn(&pixelConstructor), "Constructor()"),
    // For programs with windows, as the renderer's window controls are.
    method(fn(&pixelWindowRange),
           "windowRange(byref minC as integer,byref maxC as integer,byref minW as integer,byref maxW as "
           "integer)",
           nullptr, 0),
};

// ---------------------------------------------------------------------------------------------
// FenraDicomPixelLut

KelvoDicomPixelLut* lutOf(REALobject self) {
    return objectAs<KelvoDicomPixelLut>(self, "KelvoDicomPixelLut");
}

bool fitsLut(RBInteger entries, RBInteger bits) {
    return entries >= 0 && uint32_t(entries) <= kDicomLutMaxEntries && fitsUInt16(bits);
}

void lutConstructor(REALobject self) {
    adopt(self, new (std::nothrow) KelvoDicomPixelLut());
}

void lutConstructorSized(REALobject self, RBInteger entries, RBInteger bits, RBBoolean alpha) {
    if (!fitsLut(entries, bits)) return;
    adopt(self, new (std::nothrow) KelvoDicomPixelLut(uint32_t(entries), uint16_t(bits), alpha != 0));
}

void lutInit(REALobject self, RBInteger entries, RBInteger bits, RBBoolean alpha) {
    KelvoDicomPixelLut* lut = lutOf(self);
    if (lut && fitsLut(entries, bits)) lut->allocate(uint32_t(entries), uint16_t(bits), alpha != 0);
}

RBInteger lutGetInteger(REALobject self, RBInteger param) {
    KelvoDicomPixelLut* lut = lutOf(self);
    if (!lut || !lut->qtObjIsValid()) return 0;
    switch (param) {
    case 0:
        return hostCount(lut->entries());
    case 1:
        return lut->bitsPerEntry();
    case 2:
        return hostCount(lut->sizeOfLuts());
    case 3:
        return hostCount(lut->lastMappedValue());
    case 4:
        return hostCount(lut->firstMappedValue());
    default:
        return 0;
    }
}

void lutSetInteger(REALobject self, RBInteger param, RBInteger value) {
    KelvoDicomPixelLut* lut = lutOf(self);
    // The descriptor keeps the first mapped value in 16 bits.
    if (lut && lut->qtObjIsValid() && param == 4 && fitsUInt16(value)) lut->firstMappedValue(value);
}

RBBoolean lutGetBoolean(REALobject self, RBInteger param) {
    KelvoDicomPixelLut* lut = lutOf(self);
    return lut && param == 0 && lut->hasAlpha() ? 1 : 0;
}

void lutSetBoolean(REALobject self, RBInteger param, RBBoolean value) {
    KelvoDicomPixelLut* lut = lutOf(self);
    if (lut && lut->qtObjIsValid() && param == 0) lut->hasAlpha(value != 0);
}

REALmemoryBlock lutGetTable(REALobject self, RBInteger selector) {
    KelvoDicomPixelLut* lut = lutOf(self);
    if (!lut || !lut->qtObjIsValid() || selector < kDicomLutRed || selector > kDicomLutAlpha) return nullptr;
    const uint8_t* data = lut->lutData(lutselector(selector));
    return data ? newBlock(data, lut->sizeOfLuts()) : nullptr;
}

// Only a block of exactly the table's size is taken: a table half filled would map half its
// indices to black.
void lutSetTable(REALobject self, RBInteger selector, REALmemoryBlock block) {
    KelvoDicomPixelLut* lut = lutOf(self);
    if (!lut || !lut->qtObjIsValid() || !block || selector < kDicomLutRed || selector > kDicomLutAlpha)
        return;
    const RBInteger size = REALMemoryBlockGetSize(block);
    const void* bytes = REALMemoryBlockGetPtr(block);
    if (!bytes || size < 0 || uint32_t(size) != lut->sizeOfLuts() || !lut->lutData(lutselector(selector)))
        return;
    lut->lutData(static_cast<const uint8_t*>(bytes), lutselector(selector));
}

REALPropertyRecord lutProperties[] = {
    property("entries", "integer", fn(&lutGetInteger), nullptr, 0),
    property("bitsPerEntry", "integer", fn(&lutGetInteger), nullptr, 1),
    property("sizeOfLuts", "integer", fn(&lutGetInteger), nullptr, 2),
    property("lastMappedValue", "integer", fn(&lutGetInteger), nullptr, 3),
    property("firstMappedValue", "integer", fn(&lutGetInteger), fn(&lutSetInteger), 4),
    property("hasAlpha", "boolean", fn(&lutGetBoolean), fn(&lutSetBoolean), 0),
    property("lutRed", "memoryblock", fn(&lutGetTable), fn(&lutSetTable), kDicomLutRed),
    property("lutGreen", "memoryblock", fn(&lutGetTable), fn(&lutSetTable), kDicomLutGreen),
    property("lutBlue", "memoryblock", fn(&lutGetTable), fn(&lutSetTable), kDicomLutBlue),
    property("lutAlpha", "memoryblock", fn(&lutGetTable), fn(&lutSetTable), kDicomLutAlpha),
};

REALMethodRecord lutMethods[] = {
    method(fn(&lutConstructor), "Constructor()"),
    method(fn(&lutConstructorSized),
           "Constructor(entries as integer,bitsPerEntry as integer,hasAlpha as boolean)"),
    method(fn(&lutInit), "init(entries as integer,bitsPerEntry as integer,hasAlpha as boolean)"),
};

} // namespace

REALClassRecord FenraDicomPixelLutClass =
    FenraMakeClassRecord("FenraDicomPixelLut", "FenraObject", 0, tables(lutProperties, lutMethods));
REALClassRecord FenraDicomImagePixelClass = FenraMakeClassRecord("FenraDicomImagePixel", "FenraDicomDataSet",
                                                                 0, tables(pixelProperties, pixelMethods));
