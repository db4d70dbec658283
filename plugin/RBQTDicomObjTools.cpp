#include "RBQTDicomObjTools.h"

#include "KelvoAtomicsDictionary.h"

#include <cstring>
#include <new>

// The class whose instance data is the record. It has no superclass, so its data sits at the
// start of every instance, where the companion's root class keeps the same record.
REALClassRecord FenraObjectDicomStubClass =
    FenraMakeClassRecord("_FenraObjectDicomStub", nullptr, 0, {}, sizeof(FenraInstanceRecord));

const FenraClassPair FenraClassesTable[] = {
    // The companion's classes.
    {"Kelvo_OSType", "FenraOSType"},
    {"Kelvo_NumericalRange", "FenraNumericalRange"},
    {"Kelvo_Dictionary", "FenraDictionary"},
    {"Kelvo_QTObjectsList", "FenraObjectsList"},
    {"Kelvo_ProgressNotifier", "FenraProgressCallback"},
    {"Kelvo_Size", "FenraSize"},
    {"Kelvo_Point", "FenraPoint"},
    {"Kelvo_Contour", "FenraContour"},
    {"Kelvo_Rect", "FenraRect"},
    {"Kelvo_Region", "FenraRegion"},
    {"Kelvo_TimeRange", "FenraTimeRange"},
    {"Kelvo_DisplayTransform", "FenraGraphicsContext"},
    {"Kelvo_UDataList", "FenraUserData"},
    {"Kelvo_DRefDescriptor", "FenraDataRef"},
    {"Kelvo_SmpDescriptor", "FenraSampleDesc"},
    {"Kelvo_ImgDesc", "FenraImageDesc"},
    {"Kelvo_ImgDescComp", "FenraImageDescComp"},
    {"Kelvo_MediaVideo", "FenraMediaVideo"},
    {"Kelvo_MediaSound", "FenraMediaSound"},
    {"Kelvo_MediaText", "FenraMediaText"},
    {"Kelvo_MediaTimeCode", "FenraMediaTimeCode"},
    {"Kelvo_Media", "FenraMedia"},
    {"Kelvo_Track", "FenraTrack"},
    {"Kelvo_Movie", "FenraMovie"},
    {"Kelvo_Histogram", "FenraImageHistogram"},
    {"Kelvo_ImageInfo", "FenraImageStatistics"},
    {"Kelvo_Image8BitMonochrome", "FenraImageMono8Bit"},
    {"Kelvo_Image8BitGrey", "FenraImage8Bit"},
    {"Kelvo_Image8BitGreyFloat", "FenraImage8BitFloat"},
    {"Kelvo_Image16BitGrey", "FenraImage16Bit"},
    {"Kelvo_ImageRGB", "FenraImageRGB"},
    {"Kelvo_ImageARGB", "FenraImageARGB"},
    // This plug-in's classes.
    {"KelvoDicomVideoPresentation", "FenraDicomVideoPresentation"},
    {"KelvoDicomDataNode", "FenraDicomValue"},
    {"KelvoDicomDataElementValue", "FenraDicomVRValue"},
    {"KelvoDicomDataBinary", "FenraDicomBinaryValue"},
    {"KelvoDicomDataOtherByte", "FenraDicomBinaryValue"},
    {"KelvoDicomDataUnknownData", "FenraDicomBinaryValue"},
    {"KelvoDicomDataOtherWord", "FenraDicomBinaryValue"},
    {"KelvoDicomDataOtherFloat", "FenraDicomBinaryValue"},
    {"KelvoDicomDataAttributeTag", "FenraDicomAttributeTag"},
    {"KelvoDicomDataElementValueString", "FenraDicomVRStringValue"},
    {"KelvoDicomDataElementValueText", "FenraDicomText"},
    {"KelvoDicomDataLongText", "FenraDicomText"},
    {"KelvoDicomDataShortText", "FenraDicomText"},
    {"KelvoDicomDataUnlimitedText", "FenraDicomText"},
    {"KelvoDicomDataCodeString", "FenraDicomCodeString"},
    {"KelvoDicomDataUID", "FenraDicomUID"},
    {"KelvoDicomDataAge", "FenraDicomAge"},
    {"KelvoDicomDataApplicationEntity", "FenraDicomApplicationEntity"},
    {"KelvoDicomDataLongString", "FenraDicomLongString"},
    {"KelvoDicomDataShortString", "FenraDicomShortString"},
    {"KelvoDicomDataPersonName", "FenraDicomPersonName"},
    {"KelvoDicomDataDate", "FenraDicomDate"},
    {"KelvoDicomDataTime", "FenraDicomTime"},
    {"KelvoDicomDataDateTime", "FenraDicomDateTime"},
    {"KelvoDicomIntegerString", "FenraDicomIntegerString"},
    {"KelvoDicomDecimalString", "FenraDicomDecimalString"},
    {"KelvoDicomDataNumber", "FenraDicomNumber"},
    {"KelvoDicomDataFloat", "FenraDicomNumber"},
    {"KelvoDicomDataDouble", "FenraDicomNumber"},
    {"KelvoDicomDataUnsignedLong", "FenraDicomNumber"},
    {"KelvoDicomDataSignedLong", "FenraDicomNumber"},
    {"KelvoDicomDataUnsignedShort", "FenraDicomNumber"},
    {"KelvoDicomDataSignedShort", "FenraDicomNumber"},
    {"KelvoDicomDataElement", "FenraDicomDataElement"},
    {"KelvoDicomDataItem", "FenraDicomItem"},
    {"KelvoDicomDataItemGroup", "FenraDicomItemSequence"},
    {"KelvoDicomDataSet", "FenraDicomDataSet"},
    {"KelvoDicomDataHeader", "FenraDicomHeader"},
    {"KelvoDicomDataFileSet", "FenraDicomFileSet"},
    {"KelvoDicomDataStudy", "FenraDicomStudy"},
    {"KelvoDicomDataPatient", "FenraDicomPatient"},
    {"KelvoDicomDataAcquisition", "FenraDicomAcquisition"},
    {"KelvoDicomDataImage", "FenraDicomImage"},
    {"KelvoDicomPixelLut", "FenraDicomPixelLut"},
    {"KelvoDicomDataImagePixel", "FenraDicomImagePixel"},
    {"KelvoDicomPixelData", "FenraDicomPixelData"},
    {"KelvoDicomImageIcon", "FenraDicomIcon"},
    {"KelvoDicomDocument", "FenraDicomDocument"},
    {"KelvoDicomDirectoryDocument", "FenraDicomDirectoryDocument"},
    {"KelvoDicomDataTree", "FenraDicomTree"},
    {nullptr, nullptr},
};

namespace {

constexpr size_t kToolkitPrefixLength = 5;

// The name past the toolkit prefix; a name too short to have one compares whole.
const char* pastPrefix(const char* name) {
    return std::strlen(name) > kToolkitPrefixLength ? name + kToolkitPrefixLength : name;
}

} // namespace

const char* FenraHostClassNameFor(const char* toolkitName) {
    if (!toolkitName) return nullptr;
    const char* wanted = pastPrefix(toolkitName);
    for (const FenraClassPair* row = FenraClassesTable; row->toolkitName; ++row)
        if (std::strcmp(pastPrefix(row->toolkitName), wanted) == 0) return row->hostName;
    return nullptr;
}

FenraInstanceRecord* FenraInstanceRecordOf(REALobject object) {
    if (!object) return nullptr;
    return static_cast<FenraInstanceRecord*>(REALGetClassData(object, &FenraObjectDicomStubClass));
}

Kelvo_QTObj* FenraKelvoObjectInstance(REALobject object) {
    FenraInstanceRecord* record = FenraInstanceRecordOf(object);
    return record ? record->object : nullptr;
}

REALobject FenraNewClassInstance(Kelvo_QTObj* object, uint8_t byRef) {
    if (!object) return nullptr;
    const char* hostName = FenraHostClassNameFor(object->qtObjName());
    if (!hostName) return nullptr;
    REALobject instance = REALnewInstance(hostName);
    if (!instance) return nullptr;
    FenraInstanceRecord* record = FenraInstanceRecordOf(instance);
    if (!record) {
        REALUnlockObject(instance);
        return nullptr;
    }
    record->object = object;
    record->byRef = byRef ? 1 : 0;
    return instance;
}

REALobject FenraWrapNewObject(Kelvo_QTObj* object) {
    REALobject instance = FenraNewClassInstance(object, 0);
    if (!instance) delete object;
    return instance;
}

bool FenraObjectIsValid(REALobject object) {
    Kelvo_QTObj* o = FenraKelvoObjectInstance(object);
    return o && o->qtObjIsValid();
}

void FenraNewClonedObject(REALobject self, REALobject other) {
    Kelvo_QTObj* source = FenraKelvoObjectInstance(other);
    FenraInstanceRecord* record = FenraInstanceRecordOf(self);
    if (!source || !record) return;
    Kelvo_QTObj* copy = source->clone();
    if (!copy) return;
    // A record that already owns an object gives it up rather than losing it.
    if (record->object && !record->byRef && record->object != source) delete record->object;
    record->object = copy;
    record->byRef = 0;
}

namespace {

Kelvo_Dictionary* dictionaryOf(REALobject self) {
    Kelvo_QTObj* o = FenraKelvoObjectInstance(self);
    if (!o || !o->isA("Kelvo_Dictionary")) return nullptr;
    return static_cast<Kelvo_Dictionary*>(o);
}

} // namespace

REALobject FenraDictionaryGetValue(REALobject self, RBInteger key) {
    Kelvo_Dictionary* dictionary = dictionaryOf(self);
    if (!dictionary) return nullptr;
    return FenraWrapNewObject(dictionary->getObjValue(key));
}

REALobject FenraDictionaryGetValueByRef(REALobject self, RBInteger key) {
    Kelvo_Dictionary* dictionary = dictionaryOf(self);
    if (!dictionary) return nullptr;
    return FenraNewClassInstance(dictionary->getObjValueByRef(key), 1);
}

void FenraDictionarySetValue(REALobject self, RBInteger key, REALobject object) {
    Kelvo_Dictionary* dictionary = dictionaryOf(self);
    if (!dictionary || !FenraObjectIsValid(object)) return;
    dictionary->setObjValue(key, FenraKelvoObjectInstance(object));
}
