// The named views of one group each: file meta information, directory information, patient,
// study, acquisition and image. Their properties are element reads and writes in the view's own
// group: a string property reads the element's text and writes a C string (a few through the
// view's own rule); a value property hands out a copy of the element's raw value and stores a
// given one. A host object that holds a data set of another kind reads empty and ignores writes,
// so that no view ever reads or writes another group's elements under its own names.
#include "KelvoDataReference.h"
#include "KelvoDicomDataSetViews.h"
#include "KelvoDicomSequence.h"
#include "KelvoDicomStream.h"
#include "RBPluginUtils.h"
#include "RBQTDicomDataSetMembers.h"
#include "RBQTHostMembers.h"

#include <memory>
#include <new>

using namespace fenra;

namespace {

enum View { kHeader, kFileSet, kPatient, kStudy, kAcquisition, kImage };

struct ViewInfo {
    const char* toolkitClass;
    // The elements of the string properties, by their parameter.
    const uint16_t* strings;
    size_t stringCount;
};

constexpr uint16_t kHeaderStrings[] = {0x0002, 0x0003, 0x0010, 0x0012, 0x0013, 0x0016, 0x0100};
constexpr uint16_t kFileSetStrings[] = {0x1130, 0x1141, 0x1142, 0x1430, 0x1500, 0x1510, 0x1511, 0x1512};
constexpr uint16_t kPatientStrings[] = {0x0010, 0x0020, 0x0030, 0x0032, 0x0040,
                                        0x1005, 0x1010, 0x1020, 0x1030, 0x1040};
constexpr uint16_t kStudyStrings[] = {0x0016, 0x0018, 0x0020, 0x0021, 0x0022, 0x0023, 0x0030,
                                      0x0031, 0x0032, 0x0033, 0x0050, 0x0060, 0x0070, 0x0080,
                                      0x0081, 0x0090, 0x1010, 0x1030, 0x103E, 0x1090};
constexpr uint16_t kAcquisitionStrings[] = {0x1000, 0x1050, 0x1012, 0x1014};
constexpr uint16_t kImageStrings[] = {0x000D, 0x000E, 0x0010, 0x0011, 0x0012, 0x0013};

constexpr ViewInfo kViews[] = {
    {"KelvoDicomDataHeader", kHeaderStrings, std::size(kHeaderStrings)},
    {"KelvoDicomDataFileSet", kFileSetStrings, std::size(kFileSetStrings)},
    {"KelvoDicomDataPatient", kPatientStrings, std::size(kPatientStrings)},
    {"KelvoDicomDataStudy", kStudyStrings, std::size(kStudyStrings)},
    {"KelvoDicomDataAcquisition", kAcquisitionStrings, std::size(kAcquisitionStrings)},
    {"KelvoDicomDataImage", kImageStrings, std::size(kImageStrings)},
};

template <View V> KelvoDicomDataSet* viewOf(REALobject self) {
    return objectAs<KelvoDicomDataSet>(self, kViews[V].toolkitClass);
}

// The element of a string property, or 0 for a parameter out of range (no string property
// names a group length).
template <View V> uint16_t stringElement(RBInteger param) {
    return param >= 0 && size_t(param) < kViews[V].stringCount ? kViews[V].strings[param] : 0;
}

template <View V> REALstring viewGetString(REALobject self, RBInteger param) {
    KelvoDicomDataSet* set = viewOf<V>(self);
    uint16_t element = stringElement<V>(param);
    if (!set || !element) return hostString("");
    return hostString(set->getStringValueProperty(element));
}

template <View V> void viewSetString(REALobject self, RBInteger param, REALstring value) {
    KelvoDicomDataSet* set = viewOf<V>(self);
    uint16_t element = stringElement<V>(param);
    if (!set || !element) return;
    auto text = hostText(value);
    // The file set's identifiers and file references are cleared by nil; other strings ignore it.
    if (!text && V == kFileSet && param <= 4) text = std::string();
    if (!text) return;
    if (V == kHeader && element == 0x0010) {
        static_cast<KelvoDicomDataHeader*>(set)->XFerSyntax(text->c_str());
    } else if (V == kFileSet && element == 0x1430) {
        static_cast<KelvoDicomDataFileSet*>(set)->DirectoryType(text->c_str());
    } else if (V == kPatient && element == 0x0040) {
        static_cast<KelvoDicomDataPatient*>(set)->Sex(text->c_str());
    } else {
        set->setStringValueProperty(element, text->c_str());
    }
}

// Value properties: the parameter is the element number.
template <View V> REALobject viewGetValue(REALobject self, RBInteger element) {
    KelvoDicomDataSet* set = viewOf<V>(self);
    if (!set || !fitsUInt16(element)) return nullptr;
    Kelvo_QTObj* value = set->getObjValue(element);
    // A sequence in the element's place is not a raw value.
    if (value && !value->isA("KelvoDicomDataNode")) {
        delete value;
        return nullptr;
    }
    return FenraWrapNewObject(value);
}

template <View V> void viewSetValue(REALobject self, RBInteger element, REALobject value) {
    KelvoDicomDataSet* set = viewOf<V>(self);
    auto* node = validObjectAs<KelvoDicomDataNode>(value, "KelvoDicomDataNode");
    if (!set || !node || !fitsUInt16(element) || !FenraValueFitsElement(*set, uint16_t(element), *node))
        return;
    set->setObjValue(element, node);
}

// ---------------------------------------------------------------------------------------------
// FenraDicomHeader

RBBoolean headerGetBoolean(REALobject self, RBInteger param) {
    auto* header = static_cast<KelvoDicomDataHeader*>(viewOf<kHeader>(self));
    return header && param == 0 && header->isDataCompressed() ? 1 : 0;
}

void headerConstructor(REALobject self) {
    adopt(self, new (std::nothrow) KelvoDicomDataHeader());
}

void headerConstructorFile(REALobject self, REALfolderItem file) {
    std::unique_ptr<KelvoDataT<char>> path(FolderitemPath(file));
    if (!path) return;
    KelvoDicomInputFileBinary in(*path);
    adopt(self, in.readHeader());
}

REALConstantRecord headerConstants[] = {
    {"kEnc_ImplicitLE \t\t=\t\t\"1.2.840.10008.1.2\"", {}},
    {"kEnc_ExplicitLE \t\t=\t\t\"1.2.840.10008.1.2.1\"", {}},
    {"kEnc_ExplicitBE \t\t=\t\t\"1.2.840.10008.1.2.2\"", {}},
    {"kEnc_DeflatedExplicitLE \t\t=\t\t\"1.2.840.10008.1.2.1.99\"", {}},
    {"kEnc_JPEGBaselineP1 \t\t=\t\t\"1.2.840.10008.1.2.4.50\"", {}},
    {"kEnc_JPEGLosslessP14 \t\t=\t\t\"1.2.840.10008.1.2.4.70\"", {}},
    {"kEnc_RLELossless \t\t=\t\t\"1.2.840.10008.1.2.5\"", {}},
    {"kEnc_JPEG2000 \t\t=\t\t\"1.2.840.10008.1.2.4.91\"", {}},
    {"kClass_DicomDir \t\t=\t\t\"1.2.840.10008.1.3.10\"", {}},
    {"kClass_XRayAngiographic \t\t=\t\t\"1.2.840.10008.5.1.4.1.1.12.1\"", {}},
    {"kClass_SecondaryCaptureImage \t\t=\t\t\"1.2.840.10008.5.1.4.1.1.7\"", {}},
    {"kClass_ComputedRadiography \t\t=\t\t\"1.2.840.10008.5.1.4.1.1.1\"", {}},
};

#define VIEW_STRING(V, name, param)                                                                          \
    property(name, "string", fn(&viewGetString<V>), fn(&viewSetString<V>), param)
#define VIEW_VALUE(V, name, element)                                                                         \
    property(name, "FenraDicomValue", fn(&viewGetValue<V>), fn(&viewSetValue<V>), element)

REALPropertyRecord headerProperties[] = {
    property("isDataCompressed", "boolean", fn(&headerGetBoolean), nullptr, 0),
    VIEW_VALUE(kHeader, "version", 0x0001),
    VIEW_STRING(kHeader, "sopClass", 0),
    VIEW_STRING(kHeader, "sopInstance", 1),
    VIEW_STRING(kHeader, "encoding", 2),
    VIEW_STRING(kHeader, "implementation", 3),
    VIEW_STRING(kHeader, "implementationVers", 4),
    VIEW_STRING(kHeader, "appEntityTitle", 5),
    VIEW_STRING(kHeader, "privateInfoCreator", 6),
    VIEW_VALUE(kHeader, "privateInfo", 0x0102),
};

REALMethodRecord headerMethods[] = {
    method(fn(&headerConstructor), "Constructor()"),
    method(fn(&headerConstructorFile), "Constructor(dicomFile as folderitem)"),
};

// ---------------------------------------------------------------------------------------------
// FenraDicomFileSet

RBBoolean fileSetGetBoolean(REALobject self, RBInteger param) {
    KelvoDicomDataSet* set = viewOf<kFileSet>(self);
    if (!set) return 0;
    if (param == 0) return set->getUSValueProperty(0x1212) == 0 ? 1 : 0;
    if (param == 1) return set->getUSValueProperty(0x1410) == 0xFFFF ? 1 : 0;
    return 0;
}

void fileSetSetBoolean(REALobject self, RBInteger param, RBBoolean value) {
    auto* set = static_cast<KelvoDicomDataFileSet*>(viewOf<kFileSet>(self));
    if (!set) return;
    if (param == 0) set->isConsistent(value != 0);
    if (param == 1) set->isActive(value != 0);
}

REALobject fileSetGetDirectory(REALobject self, RBInteger) {
    KelvoDicomDataSet* set = viewOf<kFileSet>(self);
    if (!set) return nullptr;
    Kelvo_QTObj* records = set->getObjValue(0x1220);
    if (records && !records->isA("KelvoDicomDataItemGroup")) {
        delete records;
        return nullptr;
    }
    return FenraWrapNewObject(records);
}

// nil takes the directory away.
void fileSetSetDirectory(REALobject self, RBInteger, REALobject value) {
    auto* set = static_cast<KelvoDicomDataFileSet*>(viewOf<kFileSet>(self));
    if (!set) return;
    if (!value) {
        set->Directory(nullptr);
        return;
    }
    auto* records = objectAs<KelvoDicomDataItemGroup>(value, "KelvoDicomDataItemGroup");
    if (records) set->Directory(records);
}

REALConstantRecord fileSetConstants[] = {
    {"kDir_Patient \t\t=\t\t\"PATIENT\"", {}},
    {"kDir_Topic \t\t=\t\t\"TOPIC\"", {}},
    {"kDir_Private \t\t=\t\t\"PRIVATE\"", {}},
    {"kDir_Study \t\t=\t\t\"STUDY\"", {}},
    {"kDir_Series \t\t=\t\t\"SERIES\"", {}},
    {"kDir_Image \t\t=\t\t\"IMAGE\"", {}},
    {"kDir_Visit \t\t=\t\t\"VISIT\"", {}},
    {"kDir_Results \t\t=\t\t\"RESULTS\"", {}},
    {"kDir_Interpretation \t\t=\t\t\"INTERPRETATION\"", {}},
};

REALPropertyRecord fileSetProperties[] = {
    property("isConsistent", "boolean", fn(&fileSetGetBoolean), fn(&fileSetSetBoolean), 0),
    property("isActive", "boolean", fn(&fileSetGetBoolean), fn(&fileSetSetBoolean), 1),
    VIEW_STRING(kFileSet, "fileSetID", 0),
    VIEW_STRING(kFileSet, "fileSetDescFileID", 1),
    VIEW_STRING(kFileSet, "fileSetDescFileCharSet", 2),
    VIEW_STRING(kFileSet, "directoryRecordType", 3),
    VIEW_STRING(kFileSet, "referencedFileID", 4),
    VIEW_STRING(kFileSet, "sopClassInFile", 5),
    VIEW_STRING(kFileSet, "sopInstanceInFile", 6),
    VIEW_STRING(kFileSet, "xferSyntaxInFile", 7),
    property("directory", "FenraDicomItemSequence", fn(&fileSetGetDirectory), fn(&fileSetSetDirectory), 0),
};

// ---------------------------------------------------------------------------------------------
// Patient, study, acquisition and image

REALPropertyRecord patientProperties[] = {
    VIEW_STRING(kPatient, "name", 0),      VIEW_STRING(kPatient, "id", 1),
    VIEW_STRING(kPatient, "birthDate", 2), VIEW_STRING(kPatient, "birthTime", 3),
    VIEW_STRING(kPatient, "sex", 4),       VIEW_STRING(kPatient, "birthName", 5),
    VIEW_STRING(kPatient, "age", 6),       VIEW_STRING(kPatient, "height", 7),
    VIEW_STRING(kPatient, "weight", 8),    VIEW_STRING(kPatient, "address", 9),
};

REALPropertyRecord studyProperties[] = {
    VIEW_VALUE(kStudy, "characterSet", 0x0005),
    VIEW_VALUE(kStudy, "imageType", 0x0008),
    VIEW_VALUE(kStudy, "performingPhysician", 0x1050),
    VIEW_STRING(kStudy, "sopClass", 0),
    VIEW_STRING(kStudy, "sopInstance", 1),
    VIEW_STRING(kStudy, "studyDate", 2),
    VIEW_STRING(kStudy, "seriesDate", 3),
    VIEW_STRING(kStudy, "acquisitionDate", 4),
    VIEW_STRING(kStudy, "contentDate", 5),
    VIEW_STRING(kStudy, "studyTime", 6),
    VIEW_STRING(kStudy, "seriesTime", 7),
    VIEW_STRING(kStudy, "acquisitionTime", 8),
    VIEW_STRING(kStudy, "contentTime", 9),
    VIEW_STRING(kStudy, "accessionNumber", 10),
    VIEW_STRING(kStudy, "modality", 11),
    VIEW_STRING(kStudy, "manufacturer", 12),
    VIEW_STRING(kStudy, "institution", 13),
    VIEW_STRING(kStudy, "institutionAddress", 14),
    VIEW_STRING(kStudy, "referringPhysician", 15),
    VIEW_STRING(kStudy, "stationName", 16),
    VIEW_STRING(kStudy, "studyDescription", 17),
    VIEW_STRING(kStudy, "seriesDescription", 18),
    VIEW_STRING(kStudy, "manufacturerModel", 19),
};

REALPropertyRecord acquisitionProperties[] = {
    VIEW_STRING(kAcquisition, "deviceSerialNumber", 0),
    VIEW_STRING(kAcquisition, "spatialResolution", 1),
    VIEW_STRING(kAcquisition, "secondaryCaptureDate", 2),
    VIEW_STRING(kAcquisition, "secondaryCaptureTime", 3),
    VIEW_VALUE(kAcquisition, "softwareVersion", 0x1020),
    VIEW_VALUE(kAcquisition, "lastCalibrationDate", 0x1200),
    VIEW_VALUE(kAcquisition, "lastCalibrationTime", 0x1201),
};

REALPropertyRecord imageProperties[] = {
    VIEW_STRING(kImage, "studyInstanceUID", 0),  VIEW_STRING(kImage, "seriesInstanceUID", 1),
    VIEW_STRING(kImage, "studyID", 2),           VIEW_STRING(kImage, "seriesNumber", 3),
    VIEW_STRING(kImage, "acquisitionNumber", 4), VIEW_STRING(kImage, "instanceNumber", 5),
    VIEW_VALUE(kImage, "imageComments", 0x4000),
};

#undef VIEW_STRING
#undef VIEW_VALUE

FenraClassTables headerTables() {
    FenraClassTables t = tables(headerProperties, headerMethods);
    t.constants = headerConstants;
    t.constantCount = countOf(headerConstants);
    return t;
}

FenraClassTables fileSetTables() {
    FenraClassTables t = propertyTables(fileSetProperties);
    t.constants = fileSetConstants;
    t.constantCount = countOf(fileSetConstants);
    return t;
}

} // namespace

REALClassRecord FenraDicomHeaderClass =
    FenraMakeClassRecord("FenraDicomHeader", "FenraDicomDataSet", 0, headerTables());
REALClassRecord FenraDicomFileSetClass =
    FenraMakeClassRecord("FenraDicomFileSet", "FenraDicomDataSet", 0, fileSetTables());
REALClassRecord FenraDicomPatientClass =
    FenraMakeClassRecord("FenraDicomPatient", "FenraDicomDataSet", 0, propertyTables(patientProperties));
REALClassRecord FenraDicomStudyClass =
    FenraMakeClassRecord("FenraDicomStudy", "FenraDicomDataSet", 0, propertyTables(studyProperties));
REALClassRecord FenraDicomAcquisitionClass = FenraMakeClassRecord(
    "FenraDicomAcquisition", "FenraDicomDataSet", 0, propertyTables(acquisitionProperties));
REALClassRecord FenraDicomImageClass =
    FenraMakeClassRecord("FenraDicomImage", "FenraDicomDataSet", 0, propertyTables(imageProperties));
