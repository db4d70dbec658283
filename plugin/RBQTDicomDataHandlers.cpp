// The host classes of the pixel-data chunk tables, the image icon and the video presentation.
//
// A chunk table says where each frame of a document's pixel data lies in its file; host programs
// get one from a document (dataSamplesInfo) and read it, or turn frames on and off. An icon is the
// small preview of a data set's Icon Image Sequence: its description and its 8-bit grey image,
// which it turns back into an (0088,0200) data set. An empty host object, a parameter out of
// range, a nil argument or an object of another class gives an empty result and leaves a setter
// without effect; a chunk index out of range reads the table's error answers.
//
// The video presentation plays the frames of a document's pixel data or of an icon; playing and
// showing come from its host superclass, through the toolkit object's virtual operations. Here it
// adds the window levels, its description and chunk table, the raw values under a point or in a
// rectangle, and the writing of its frames as a raw movie.
#include "KelvoCoreGraphics.h"
#include "KelvoCoreObjectsRange.h"
#include "KelvoCoreObjectsTypes.h"
#include "KelvoDicomDataHandlers.h"
#include "KelvoDicomDataImagePixel.h"
#include "KelvoDicomImageIcon.h"
#include "KelvoDicomVideoPresentation.h"
#include "KelvoImage.h"
#include "KelvoImageDescriptors.h"
#include "RBPluginUtils.h"
#include "RBQTHostMembers.h"

#include <cmath>
#include <cstdint>
#include <new>

using namespace fenra;

namespace {

// ---------------------------------------------------------------------------------------------
// FenraDicomDataChunks

constexpr char kChunksClass[] = "KelvoDicomDataChunks";

KelvoDicomDataChunks* chunksOf(REALobject self) {
    return validObjectAs<KelvoDicomDataChunks>(self, kChunksClass);
}

// A host index as the table's: a negative one is out of range like one past the count, and the
// table says so in its status.
uint32_t chunkIndex(RBInteger i) {
    return i < 0 ? UINT32_MAX : uint32_t(i);
}

REALstring chunksGetString(REALobject self, RBInteger param) {
    KelvoDicomDataChunks* chunks = chunksOf(self);
    const char* text = nullptr;
    if (chunks && param == 0) text = chunks->pathToFile();
    if (chunks && param == 1) text = chunks->chunksEncodingUID();
    return hostString(text ? text : "");
}

RBBoolean chunksGetBoolean(REALobject self, RBInteger param) {
    KelvoDicomDataChunks* chunks = chunksOf(self);
    if (!chunks) return 0;
    if (param == 0) return chunks->isVariableSizeLength() ? 1 : 0;
    if (param == 1) return chunks->needDataSwapping() ? 1 : 0;
    return 0;
}

RBInteger chunksGetInteger(REALobject self, RBInteger param) {
    KelvoDicomDataChunks* chunks = chunksOf(self);
    return chunks && param == 0 ? hostCount(chunks->count()) : 0;
}

RBBoolean chunksEnabled(REALobject self, RBInteger i) {
    KelvoDicomDataChunks* chunks = chunksOf(self);
    return chunks && chunks->chunkEnabled(chunkIndex(i)) ? 1 : 0;
}

void chunksSetEnabled(REALobject self, RBInteger i, RBBoolean value) {
    KelvoDicomDataChunks* chunks = chunksOf(self);
    if (chunks && i >= 0) chunks->chunkEnabled(value ? 1 : 0, uint32_t(i), 1);
}

// Past the count the table answers its error offset (-1) or size (0) and sets its status.
double chunksOffset(REALobject self, RBInteger i) {
    KelvoDicomDataChunks* chunks = chunksOf(self);
    return chunks ? double(chunks->chunkOffset(chunkIndex(i))) : 0.0;
}

double chunksSize(REALobject self, RBInteger i) {
    KelvoDicomDataChunks* chunks = chunksOf(self);
    return chunks ? double(chunks->chunkSize(chunkIndex(i))) : 0.0;
}

REALPropertyRecord chunksProperties[] = {
    property("path", "string", fn(&chunksGetString), nullptr, 0),
    property("encoding", "string", fn(&chunksGetString), nullptr, 1),
    property("variableChunksSize", "boolean", fn(&chunksGetBoolean), nullptr, 0),
    property("dataSwapping", "boolean", fn(&chunksGetBoolean), nullptr, 1),
    property("count", "integer", fn(&chunksGetInteger), nullptr, 0),
};

REALMethodRecord chunksMethods[] = {
    method(fn(&chunksEnabled), "chunkEnabled(i as integer) as boolean", fn(&chunksSetEnabled)),
    method(fn(&chunksOffset), "chunkOffset(i as integer) as double"),
    method(fn(&chunksSize), "chunkSize(i as integer) as double"),
};

// ---------------------------------------------------------------------------------------------
// FenraDicomPixelData

void pixelDataClone(REALobject self, REALobject other) {
    if (objectAs<KelvoDicomPixelData>(other, "KelvoDicomPixelData")) FenraNewClonedObject(self, other);
}

REALMethodRecord pixelDataMethods[] = {
    method(fn(&pixelDataClone), "Constructor(other as FenraDicomPixelData)"),
};

// ---------------------------------------------------------------------------------------------
// FenraDicomIcon

constexpr char kIconClass[] = "KelvoDicomImageIcon";

KelvoDicomImageIcon* iconOf(REALobject self) {
    return validObjectAs<KelvoDicomImageIcon>(self, kIconClass);
}

void iconEmpty(REALobject self) {
    adopt(self, new (std::nothrow) KelvoDicomImageIcon());
}

// The icon of a group 0088 data set; one that holds no usable icon gives an icon that reads
// empty, its status saying why.
void iconFromDataSet(REALobject self, REALobject iconDataSet) {
    auto* set = objectAs<KelvoDicomDataSet>(iconDataSet, "KelvoDicomDataSet");
    if (set) adopt(self, new (std::nothrow) KelvoDicomImageIcon(set));
}

void iconClone(REALobject self, REALobject other) {
    if (objectAs<KelvoDicomImageIcon>(other, kIconClass)) FenraNewClonedObject(self, other);
}

REALobject iconGetObject(REALobject self, RBInteger param) {
    KelvoDicomImageIcon* icon = iconOf(self);
    if (!icon) return nullptr;
    switch (param) {
    case 0: {
        KelvoDicomDataImagePixel* description = icon->iconDescription();
        if (!description) return nullptr;
        return FenraWrapNewObject(new (std::nothrow) KelvoDicomDataImagePixel(*description));
    }
    case 1:
        // A copy: the icon replaces its image when a new description resizes it, and a host
        // object referring to the old one would be left with nothing under it. A changed copy
        // reaches the icon when it is given back.
        return icon->icon() ? FenraWrapNewObject(icon->icon()->clone()) : nullptr;
    case 2:
        return FenraWrapNewObject(icon->iconDataSet());
    default:
        return nullptr;
    }
}

void iconSetObject(REALobject self, RBInteger param, REALobject value) {
    KelvoDicomImageIcon* icon = iconOf(self);
    if (!icon) return;
    if (param == 0) {
        auto* description = validObjectAs<KelvoDicomDataImagePixel>(value, "KelvoDicomDataImagePixel");
        if (description) icon->iconDescription(description);
    } else if (param == 1) {
        auto* image = validObjectAs<Kelvo_Image>(value, "Kelvo_Image");
        if (image) icon->icon(image);
    }
}

REALPropertyRecord iconProperties[] = {
    property("imagePixel", "FenraDicomImagePixel", fn(&iconGetObject), fn(&iconSetObject), 0),
    property("image", "FenraImage", fn(&iconGetObject), fn(&iconSetObject), 1),
    property("iconDataSet", "FenraDicomDataSet", fn(&iconGetObject), nullptr, 2),
};

REALMethodRecord iconMethods[] = {
    method(fn(&iconEmpty), "Constructor()"),
    method(fn(&iconFromDataSet), "Constructor(iconDataSet as FenraDicomDataSet)"),
    method(fn(&iconClone), "Constructor(other as FenraDicomIcon)"),
};

// ---------------------------------------------------------------------------------------------
// FenraDicomVideoPresentation

constexpr char kPresentationClass[] = "KelvoDicomVideoPresentation";

KelvoDicomVideoPresentation* presentationOf(REALobject self) {
    return validObjectAs<KelvoDicomVideoPresentation>(self, kPresentationClass);
}

void presentationFromIcon(REALobject self, REALobject dicomIcon) {
    auto* icon = objectAs<KelvoDicomImageIcon>(dicomIcon, kIconClass);
    if (icon) adopt(self, new (std::nothrow) KelvoDicomVideoPresentation(icon));
}

void presentationFromPixels(REALobject self, REALobject pixelDesc, REALobject samplesTable) {
    auto* description = objectAs<KelvoDicomDataImagePixel>(pixelDesc, "KelvoDicomDataImagePixel");
    auto* pixels = objectAs<KelvoDicomPixelData>(samplesTable, "KelvoDicomPixelData");
    if (description && pixels)
        adopt(self, new (std::nothrow) KelvoDicomVideoPresentation(description, pixels));
}

double presentationGetDouble(REALobject self, RBInteger param) {
    KelvoDicomVideoPresentation* presentation = presentationOf(self);
    if (!presentation) return 0.0;
    if (param == 0) return presentation->windowLevels().getStart();
    if (param == 1) return presentation->windowLevels().getEnd();
    return 0.0;
}

// The centre and the width are the start and the end of the window levels: each setter changes
// its own and keeps the other. A value that is not a number would leave the frames undrawable.
void presentationSetDouble(REALobject self, RBInteger param, double value) {
    KelvoDicomVideoPresentation* presentation = presentationOf(self);
    if (!presentation || (param != 0 && param != 1) || std::isnan(value)) return;
    Kelvo_NumericalRange range(presentation->windowLevels());
    if (param == 0)
        range.setStart(value);
    else
        range.setEnd(value);
    presentation->windowLevels(&range);
}

REALobject presentationGetObject(REALobject self, RBInteger param) {
    KelvoDicomVideoPresentation* presentation = presentationOf(self);
    if (!presentation) return nullptr;
    switch (param) {
    case 0: {
        KelvoDicomDataImagePixel* description = presentation->imagePixelDesc();
        if (!description) return nullptr;
        return FenraWrapNewObject(new (std::nothrow) KelvoDicomDataImagePixel(*description));
    }
    case 1:
        // A copy: a host object referring to the presentation's own table would be left with
        // nothing under it once the presentation is gone.
        return presentation->samplesTable() ? FenraWrapNewObject(presentation->samplesTable()->clone())
                                            : nullptr;
    case 2:
        return FenraWrapNewObject(new (std::nothrow) Kelvo_NumericalRange(presentation->windowLevels()));
    default:
        return nullptr;
    }
}

void presentationSetObject(REALobject self, RBInteger param, REALobject value) {
    KelvoDicomVideoPresentation* presentation = presentationOf(self);
    auto* range = validObjectAs<Kelvo_NumericalRange>(value, "Kelvo_NumericalRange");
    if (presentation && range && param == 2) presentation->windowLevels(range);
}

void presentationToRawMovie(REALobject self, REALfolderItem dst, REALobject timeRange) {
    KelvoDicomVideoPresentation* presentation = presentationOf(self);
    FSSpec spec{};
    if (!presentation || !dst || !FolderitemToFSSpec(dst, &spec)) return;
    // Without a range (or with one of another class) every frame is written.
    presentation->presentationToRawMovie(&spec, objectAs<Kelvo_TimeRange>(timeRange, "Kelvo_TimeRange"));
}

double presentationRawValue(REALobject self, REALobject p) {
    KelvoDicomVideoPresentation* presentation = presentationOf(self);
    auto* point = validObjectAs<Kelvo_Point>(p, "Kelvo_Point");
    return presentation && point ? presentation->rawValueAtPoint(*point) : 0.0;
}

REALobject presentationStatistics(REALobject self, REALobject roi) {
    KelvoDicomVideoPresentation* presentation = presentationOf(self);
    auto* rect = validObjectAs<Kelvo_Rect>(roi, "Kelvo_Rect");
    return presentation && rect ? FenraWrapNewObject(presentation->rawValuesStatistics(*rect)) : nullptr;
}

// No member of the presentation is console-safe: it draws in windows.
REALPropertyRecord windowed(REALPropertyRecord record) {
    record.flags = 0;
    return record;
}

REALMethodRecord windowedMethod(void* function, const char* declaration, void* setter = nullptr) {
    return method(function, declaration, setter, 0);
}

REALPropertyRecord presentationProperties[] = {
    windowed(property("windowCenter", "double", fn(&presentationGetDouble), fn(&presentationSetDouble), 0)),
    windowed(property("windowWidth", "double", fn(&presentationGetDouble), fn(&presentationSetDouble), 1)),
    windowed(property("imageProperties", "FenraDicomImagePixel", fn(&presentationGetObject), nullptr, 0)),
    windowed(property("sampleReferences", "FenraDicomPixelData", fn(&presentationGetObject), nullptr, 1)),
    windowed(property("windowLevels", "FenraNumericalRange", fn(&presentationGetObject),
                      fn(&presentationSetObject), 2)),
};

REALMethodRecord presentationMethods[] = {
    windowedMethod(fn(&presentationFromIcon), "Constructor(dicomIcon as FenraDicomIcon)"),
    windowedMethod(fn(&presentationFromPixels),
                   "Constructor(pixelDesc as FenraDicomImagePixel,samplesTable as FenraDicomPixelData)"),
    windowedMethod(fn(&presentationToRawMovie),
                   "outputToRawMovie(dst as folderitem,timeRange as FenraTimeRange)"),
    windowedMethod(fn(&presentationRawValue), "rawValueAtPoint(p as FenraPoint) as double"),
    windowedMethod(fn(&presentationStatistics),
                   "rawValuesStatistics(roi as FenraRect) as FenraImageStatistics"),
};

} // namespace

REALClassRecord FenraDicomDataChunksClass =
    FenraMakeClassRecord("FenraDicomDataChunks", "FenraObject", 0, tables(chunksProperties, chunksMethods));
REALClassRecord FenraDicomPixelDataClass =
    FenraMakeClassRecord("FenraDicomPixelData", "FenraDicomDataChunks", 0, methodTables(pixelDataMethods));
REALClassRecord FenraDicomIconClass =
    FenraMakeClassRecord("FenraDicomIcon", "FenraObject", 0, tables(iconProperties, iconMethods));
// Plays frames in a window: never console-safe.
REALClassRecord FenraDicomVideoPresentationClass =
    FenraMakeClassRecord("FenraDicomVideoPresentation", "FenraVideoPresentation", 0,
                         tables(presentationProperties, presentationMethods));
