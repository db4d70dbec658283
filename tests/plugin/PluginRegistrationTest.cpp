// Every member of every class the plug-in registers, as the host keeps it: constants with their
// values, properties with their type, parameter and setter, methods and shared methods by their
// declaration text, and which of them programs without windows may use. The table below is the
// whole public face of the classes: a member missing from the host, declared otherwise, or
// registered without being in the table fails the test with its class and its line.
#include "PluginDesktopScript.h"
#include "PluginHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

using namespace sylhost;
using plugintest::host;

namespace {

enum Kind { C, P, SP, M, SM };
// Marks of a member: it can be assigned to, and it is for programs with windows only (its record
// carries no console-safe flag).
constexpr int S = 1, W = 2;

struct Member {
    Kind kind;
    // A constant's or property's name, or a method's declaration text.
    const char* text;
    // A property's type, or a constant's value as declared (strings in double quotes).
    const char* type = nullptr;
    int param = 0;
    int marks = 0;
};

struct ClassTable {
    const char* name;
    const char* superName;
    // The class and every member of it are for programs with windows only.
    bool windowsOnly;
    std::vector<Member> members;
};

// clang-format off
const std::vector<ClassTable> kClasses = {
    {"_FenraObjectDicomStub", nullptr, false, {}},
    {"FenraDicomValue", "FenraDictionary", false, {
        {C, "ktype_unknown", "0"},
        {C, "ktype_string", "1"},
        {C, "ktype_integer", "2"},
        {C, "ktype_double", "3"},
        {C, "ktype_pointer", "4"},
        {P, "valueType", "integer", 0},
        {P, "valueFormat", "string", 0},
        {M, "Constructor(other as FenraDicomValue)"},
        {M, "Constructor(valueFormat as string)"},
        {M, "Constructor(group as integer,element as integer)"},
        {M, "stringValue() as string", nullptr, 0, S},
        {M, "integerValue(i as integer) as integer", nullptr, 0, S},
        {M, "doubleValue(i as integer) as double", nullptr, 0, S},
        {M, "pointerValue(i as integer) as memoryblock", nullptr, 0, S},
    }},
    {"FenraDicomVRValue", "FenraObject", false, {
        {P, "vr", "string", 0},
        {P, "paddingByte", "string", 1},
        {P, "stringValue", "string", 2, S},
        {P, "allowsMultipleValues", "boolean", 0},
        {P, "hasMultipleValues", "boolean", 1},
        {P, "valuesCount", "integer", 0},
        {P, "value", "FenraDicomValue", 0, S},
        {M, "Constructor(other as FenraDicomVRValue)"},
        {M, "item(i as integer) as FenraDicomVRValue", nullptr, 0, S},
        {M, "remove(i as integer) as boolean"},
        {M, "append(item as FenraDicomVRValue) as boolean"},
        {M, "Operator_Convert() as FenraDicomValue"},
        {M, "Operator_Convert() as string"},
    }},
    {"FenraDicomBinaryValue", "FenraDicomVRValue", false, {
        {P, "data", "memoryblock", 0, S},
        {M, "Operator_Convert() as memoryblock"},
        {SM, "createWithBytes(value as memoryblock) as FenraDicomBinaryValue"},
        {SM, "createWithUnknownData(value as memoryblock) as FenraDicomBinaryValue"},
        {SM, "createWithWords(value as memoryblock) as FenraDicomBinaryValue"},
        {SM, "createWithFloats(value as memoryblock) as FenraDicomBinaryValue"},
    }},
    {"FenraDicomAttributeTag", "FenraDicomVRValue", false, {
        {P, "group", "UInt16", 0, S},
        {P, "element", "UInt16", 1, S},
        {M, "Constructor(group as UInt16,element as UInt16)"},
    }},
    {"FenraDicomVRStringValue", "FenraDicomVRValue", false, {
        {P, "multipleValuesSeparator", "string", 0},
        {P, "concatStringValues", "string", 1},
        {P, "maxSize", "double", 0},
    }},
    {"FenraDicomText", "FenraDicomVRStringValue", false, {
        {SM, "createWithLongText(data as string) as FenraDicomText"},
        {SM, "createWithShortText(data as string) as FenraDicomText"},
        {SM, "createWithUnlimitedText(data as string) as FenraDicomText"},
    }},
    {"FenraDicomAge", "FenraDicomVRStringValue", false, {
        {P, "years", "integer", 0, S},
        {P, "months", "integer", 1, S},
        {P, "days", "integer", 2, S},
        {P, "weeks", "integer", 3, S},
        {M, "Constructor(age as string)"},
    }},
    {"FenraDicomApplicationEntity", "FenraDicomVRStringValue", false, {
        {M, "Constructor(value as string)"},
    }},
    {"FenraDicomCodeString", "FenraDicomVRStringValue", false, {
        {M, "Constructor(data as string)"},
    }},
    {"FenraDicomUID", "FenraDicomVRStringValue", false, {
        {M, "Constructor(uid as string)"},
        {SM, "create(organizationRoot as string) as FenraDicomUID"},
    }},
    {"FenraDicomLongString", "FenraDicomVRStringValue", false, {
        {M, "Constructor(value as string)"},
    }},
    {"FenraDicomShortString", "FenraDicomVRStringValue", false, {
        {M, "Constructor(value as string)"},
    }},
    {"FenraDicomPersonName", "FenraDicomVRStringValue", false, {
        {P, "givenName", "string", 0, S},
        {P, "familyName", "string", 1, S},
        {P, "middleName", "string", 2, S},
        {P, "prefix", "string", 3, S},
        {P, "suffix", "string", 4, S},
        {M, "Constructor(firstName as string,lastName as string)"},
    }},
    {"FenraDicomDate", "FenraDicomVRStringValue", false, {
        {P, "year", "integer", 0, S},
        {P, "month", "integer", 1, S},
        {P, "day", "integer", 2, S},
        {P, "sqlDate", "string", 0, S},
        {M, "Constructor(year as integer,month as integer,day as integer)"},
        {M, "Constructor(sqlDate as string)"},
        {M, "Operator_Convert() as Date"},
    }},
    {"FenraDicomTime", "FenraDicomVRStringValue", false, {
        {P, "hours", "integer", 0, S},
        {P, "minutes", "integer", 1, S},
        {P, "seconds", "integer", 2, S},
        {P, "microseconds", "integer", 3, S},
        {P, "sqlTime", "string", 0, S},
        {M, "Constructor(hours as integer,minutes as integer,seconds as integer)"},
        {M, "Constructor(sqlTime as string)"},
        {M, "useCurrentTime()"},
    }},
    {"FenraDicomDateTime", "FenraDicomVRStringValue", false, {
        {P, "utcOffsetHours", "integer", 0, S},
        {P, "utcOffsetMinutes", "integer", 1, S},
        {P, "date", "FenraDicomDate", 0, S},
        {P, "time", "FenraDicomTime", 1, S},
        {P, "sqlDateTime", "string", 0, S},
        {M, "Constructor(sqlDateTime as string)"},
        {M, "Operator_Convert() as Date"},
    }},
    {"FenraDicomIntegerString", "FenraDicomVRStringValue", false, {
        {P, "integerValue", "integer", 0, S},
        {M, "Constructor()"},
        {M, "Constructor(value as integer)"},
        {M, "Constructor(data as string)"},
        {M, "Operator_Convert() as integer"},
    }},
    {"FenraDicomDecimalString", "FenraDicomVRStringValue", false, {
        {P, "exponentialNotation", "boolean", 0, S},
        {P, "doubleValue", "double", 0, S},
        {M, "Constructor()"},
        {M, "Constructor(value as double)"},
        {M, "Constructor(data as string)"},
        {M, "Operator_Convert() as double"},
    }},
    {"FenraDicomNumber", "FenraDicomVRValue", false, {
        {P, "singleValue", "double", 0, S},
        {P, "doubleValue", "double", 1, S},
        {P, "shortValue", "integer", 0, S},
        {P, "integerValue", "integer", 1, S},
        {P, "UInt16Value", "integer", 2, S},
        {P, "UInt32Value", "UInt32", 0, S},
        {M, "Operator_Convert() as double"},
        {M, "Operator_Convert() as UInt32"},
        {SM, "createWithSingle(value as double) as FenraDicomNumber"},
        {SM, "createWithDouble(value as double) as FenraDicomNumber"},
        {SM, "createWithInteger(value as integer) as FenraDicomNumber"},
        {SM, "createWithUInt32(value as UInt32) as FenraDicomNumber"},
        {SM, "createWithShort(value as integer) as FenraDicomNumber"},
        {SM, "createWithUnsignedShort(value as integer) as FenraDicomNumber"},
    }},
    {"FenraDicomDataElement", "FenraObject", false, {
        {P, "vr", "string", 0},
        {P, "description", "string", 1},
        {P, "elementTag", "FenraDicomAttributeTag", 0},
        {P, "multeplicity", "FenraNumericalRange", 1},
        {P, "value", "FenraObject", 2, S},
        {M, "Constructor(elementTag as FenraDicomAttributeTag,data as FenraDicomVRValue=nil)"},
        {M, "Constructor(elementTag as FenraDicomAttributeTag,vr as string,multeplicity as string=\"\","
            "data as FenraDicomVRValue=nil)"},
    }},
    {"FenraDicomItem", "FenraDictionary", false, {
        {P, "values", "FenraList", 0, S},
        {P, "keys", "FenraDicomValue", 1},
        {M, "Constructor()"},
        {M, "Constructor(other as FenraDicomItem)"},
        {M, "value(key as integer) as FenraObject", nullptr, 0, S},
        {M, "valueByRef(key as integer) as FenraObject"},
    }},
    {"FenraDicomItemSequence", "FenraDictionary", false, {
        {P, "elementID", "integer", 0, S},
        {P, "values", "FenraList", 0, S},
        {M, "Constructor()"},
        {M, "Constructor(elementID as integer)"},
        {M, "Constructor(other as FenraDicomItemSequence)"},
        {M, "value(key as integer) as FenraObject", nullptr, 0, S},
        {M, "valueByRef(key as integer) as FenraObject"},
    }},
    {"FenraDicomDataSet", "FenraDictionary", false, {
        {P, "groupID", "integer", 0},
        {P, "groupLength", "integer", 1},
        {P, "keys", "FenraDicomValue", 0},
        {P, "values", "FenraList", 1, S},
        {M, "Constructor(groupID as integer)"},
        {M, "Constructor(other as FenraDicomDataSet)"},
        {M, "value(key as integer) as FenraObject", nullptr, 0, S},
        {M, "valueByRef(key as integer) as FenraObject"},
        {M, "dataElement(key as integer) as FenraDicomDataElement", nullptr, 0, S},
        {M, "privateValue(key as integer,vr as string,value as FenraDicomValue)"},
    }},
    {"FenraDicomHeader", "FenraDicomDataSet", false, {
        {C, "kEnc_ImplicitLE", "\"1.2.840.10008.1.2\""},
        {C, "kEnc_ExplicitLE", "\"1.2.840.10008.1.2.1\""},
        {C, "kEnc_ExplicitBE", "\"1.2.840.10008.1.2.2\""},
        {C, "kEnc_DeflatedExplicitLE", "\"1.2.840.10008.1.2.1.99\""},
        {C, "kEnc_JPEGBaselineP1", "\"1.2.840.10008.1.2.4.50\""},
        {C, "kEnc_JPEGLosslessP14", "\"1.2.840.10008.1.2.4.70\""},
        {C, "kEnc_RLELossless", "\"1.2.840.10008.1.2.5\""},
        {C, "kEnc_JPEG2000", "\"1.2.840.10008.1.2.4.91\""},
        {C, "kClass_DicomDir", "\"1.2.840.10008.1.3.10\""},
        {C, "kClass_XRayAngiographic", "\"1.2.840.10008.5.1.4.1.1.12.1\""},
        {C, "kClass_SecondaryCaptureImage", "\"1.2.840.10008.5.1.4.1.1.7\""},
        {C, "kClass_ComputedRadiography", "\"1.2.840.10008.5.1.4.1.1.1\""},
        {P, "isDataCompressed", "boolean", 0},
        {P, "version", "FenraDicomValue", 0x0001, S},
        {P, "sopClass", "string", 0, S},
        {P, "sopInstance", "string", 1, S},
        {P, "encoding", "string", 2, S},
        {P, "implementation", "string", 3, S},
        {P, "implementationVers", "string", 4, S},
        {P, "appEntityTitle", "string", 5, S},
        {P, "privateInfoCreator", "string", 6, S},
        {P, "privateInfo", "FenraDicomValue", 0x0102, S},
        {M, "Constructor()"},
        {M, "Constructor(dicomFile as folderitem)"},
    }},
    {"FenraDicomFileSet", "FenraDicomDataSet", false, {
        {C, "kDir_Patient", "\"PATIENT\""},
        {C, "kDir_Topic", "\"TOPIC\""},
        {C, "kDir_Private", "\"PRIVATE\""},
        {C, "kDir_Study", "\"STUDY\""},
        {C, "kDir_Series", "\"SERIES\""},
        {C, "kDir_Image", "\"IMAGE\""},
        {C, "kDir_Visit", "\"VISIT\""},
        {C, "kDir_Results", "\"RESULTS\""},
        {C, "kDir_Interpretation", "\"INTERPRETATION\""},
        {P, "isConsistent", "boolean", 0, S},
        {P, "isActive", "boolean", 1, S},
        {P, "fileSetID", "string", 0, S},
        {P, "fileSetDescFileID", "string", 1, S},
        {P, "fileSetDescFileCharSet", "string", 2, S},
        {P, "directoryRecordType", "string", 3, S},
        {P, "referencedFileID", "string", 4, S},
        {P, "sopClassInFile", "string", 5, S},
        {P, "sopInstanceInFile", "string", 6, S},
        {P, "xferSyntaxInFile", "string", 7, S},
        // Its own getter and setter, which need no parameter.
        {P, "directory", "FenraDicomItemSequence", 0, S},
    }},
    {"FenraDicomPatient", "FenraDicomDataSet", false, {
        {P, "name", "string", 0, S},
        {P, "id", "string", 1, S},
        {P, "birthDate", "string", 2, S},
        {P, "birthTime", "string", 3, S},
        {P, "sex", "string", 4, S},
        {P, "birthName", "string", 5, S},
        {P, "age", "string", 6, S},
        {P, "height", "string", 7, S},
        {P, "weight", "string", 8, S},
        {P, "address", "string", 9, S},
    }},
    {"FenraDicomStudy", "FenraDicomDataSet", false, {
        {P, "characterSet", "FenraDicomValue", 0x0005, S},
        {P, "imageType", "FenraDicomValue", 0x0008, S},
        {P, "performingPhysician", "FenraDicomValue", 0x1050, S},
        {P, "sopClass", "string", 0, S},
        {P, "sopInstance", "string", 1, S},
        {P, "studyDate", "string", 2, S},
        {P, "seriesDate", "string", 3, S},
        {P, "acquisitionDate", "string", 4, S},
        {P, "contentDate", "string", 5, S},
        {P, "studyTime", "string", 6, S},
        {P, "seriesTime", "string", 7, S},
        {P, "acquisitionTime", "string", 8, S},
        {P, "contentTime", "string", 9, S},
        {P, "accessionNumber", "string", 10, S},
        {P, "modality", "string", 11, S},
        {P, "manufacturer", "string", 12, S},
        {P, "institution", "string", 13, S},
        {P, "institutionAddress", "string", 14, S},
        {P, "referringPhysician", "string", 15, S},
        {P, "stationName", "string", 16, S},
        {P, "studyDescription", "string", 17, S},
        {P, "seriesDescription", "string", 18, S},
        {P, "manufacturerModel", "string", 19, S},
    }},
    {"FenraDicomAcquisition", "FenraDicomDataSet", false, {
        {P, "deviceSerialNumber", "string", 0, S},
        {P, "spatialResolution", "string", 1, S},
        {P, "secondaryCaptureDate", "string", 2, S},
        {P, "secondaryCaptureTime", "string", 3, S},
        {P, "softwareVersion", "FenraDicomValue", 0x1020, S},
        {P, "lastCalibrationDate", "FenraDicomValue", 0x1200, S},
        {P, "lastCalibrationTime", "FenraDicomValue", 0x1201, S},
    }},
    {"FenraDicomImage", "FenraDicomDataSet", false, {
        {P, "studyInstanceUID", "string", 0, S},
        {P, "seriesInstanceUID", "string", 1, S},
        {P, "studyID", "string", 2, S},
        {P, "seriesNumber", "string", 3, S},
        {P, "acquisitionNumber", "string", 4, S},
        {P, "instanceNumber", "string", 5, S},
        {P, "imageComments", "FenraDicomValue", 0x4000, S},
    }},
    {"FenraDicomPixelLut", "FenraObject", false, {
        {P, "entries", "integer", 0},
        {P, "bitsPerEntry", "integer", 1},
        {P, "sizeOfLuts", "integer", 2},
        {P, "lastMappedValue", "integer", 3},
        {P, "firstMappedValue", "integer", 4, S},
        {P, "hasAlpha", "boolean", 0, S},
        {P, "lutRed", "memoryblock", 1, S},
        {P, "lutGreen", "memoryblock", 2, S},
        {P, "lutBlue", "memoryblock", 3, S},
        {P, "lutAlpha", "memoryblock", 4, S},
        {M, "Constructor()"},
        {M, "Constructor(entries as integer,bitsPerEntry as integer,hasAlpha as boolean)"},
        {M, "init(entries as integer,bitsPerEntry as integer,hasAlpha as boolean)"},
    }},
    {"FenraDicomImagePixel", "FenraDicomDataSet", false, {
        {P, "photoInterpretation", "string", 0, S},
        {P, "rescaleType", "string", 1, S},
        {P, "pixelIntensityRelationship", "string", 2, S},
        {P, "isTwoComplement", "boolean", 0, S},
        {P, "hasWindowing", "boolean", 1},
        {P, "frameIncrementPointer", "FenraDicomValue", 0x0009, S},
        {P, "windowCenter", "FenraDicomValue", 0x1050, S},
        {P, "windowWidth", "FenraDicomValue", 0x1051, S},
        {P, "samplesPerPixel", "integer", 0, S},
        {P, "planarType", "integer", 1, S},
        {P, "height", "integer", 2, S},
        {P, "width", "integer", 3, S},
        {P, "bitsAllocated", "integer", 4, S},
        {P, "bitsStored", "integer", 5, S},
        {P, "highBit", "integer", 6, S},
        {P, "framesCount", "integer", 7, S},
        {P, "posterFrame", "integer", 8, S},
        {P, "intercept", "double", 0, S},
        {P, "slope", "double", 1, S},
        {P, "imageSettings", "FenraImageDesc", 0, S},
        {P, "colorPalette", "FenraDicomPixelLut", 1, S},
        {P, "imageSize", "FenraSize", 2, S},
        {P, "defaultWindowLevels", "FenraNumericalRange", 0, S},
        {P, "windowCenterRange", "FenraNumericalRange", 1},
        {P, "windowWidthRange", "FenraNumericalRange", 2},
        {M, "windowRange(byref minC as integer,byref maxC as integer,byref minW as integer,"
            "byref maxW as integer)", nullptr, 0, W},
        {M, "Constructor()"},
    }},
    {"FenraDicomDataChunks", "FenraObject", false, {
        {P, "path", "string", 0},
        {P, "encoding", "string", 1},
        {P, "variableChunksSize", "boolean", 0},
        {P, "dataSwapping", "boolean", 1},
        {P, "count", "integer", 0},
        {M, "chunkEnabled(i as integer) as boolean", nullptr, 0, S},
        {M, "chunkOffset(i as integer) as double"},
        {M, "chunkSize(i as integer) as double"},
    }},
    {"FenraDicomPixelData", "FenraDicomDataChunks", false, {
        {M, "Constructor(other as FenraDicomPixelData)"},
    }},
    {"FenraDicomIcon", "FenraObject", false, {
        {P, "imagePixel", "FenraDicomImagePixel", 0, S},
        {P, "image", "FenraImage", 1, S},
        {P, "iconDataSet", "FenraDicomDataSet", 2},
        {M, "Constructor()"},
        {M, "Constructor(iconDataSet as FenraDicomDataSet)"},
        {M, "Constructor(other as FenraDicomIcon)"},
    }},
    {"FenraDicomVideoPresentation", "FenraVideoPresentation", true, {
        {P, "windowCenter", "double", 0, S},
        {P, "windowWidth", "double", 1, S},
        {P, "imageProperties", "FenraDicomImagePixel", 0},
        {P, "sampleReferences", "FenraDicomPixelData", 1},
        {P, "windowLevels", "FenraNumericalRange", 2, S},
        {M, "Constructor(dicomIcon as FenraDicomIcon)"},
        {M, "Constructor(pixelDesc as FenraDicomImagePixel,samplesTable as FenraDicomPixelData)"},
        {M, "outputToRawMovie(dst as folderitem,timeRange as FenraTimeRange)"},
        {M, "rawValueAtPoint(p as FenraPoint) as double"},
        {M, "rawValuesStatistics(roi as FenraRect) as FenraImageStatistics"},
    }},
    {"FenraDicomTree", "FenraDictionary", false, {
        {P, "path", "string", 0},
        {P, "hasThumbnails", "boolean", 0},
        {P, "header", "FenraDicomHeader", 0, S},
        {P, "thumbnails", "FenraList", 1},
        {P, "keys", "FenraDicomValue", 2},
        {P, "values", "FenraList", 3, S},
        {M, "Constructor()"},
        {M, "Constructor(other as FenraDicomTree)"},
        {M, "Constructor(src as folderitem)"},
        {M, "value(key as integer) as FenraObject", nullptr, 0, S},
        {M, "valueByRef(key as integer) as FenraObject"},
        {M, "toDicomFile(dst as folderitem, useGroupLength as boolean=false)"},
        {M, "anonymize() as FenraDicomTree"},
    }},
    {"FenraDicomDocument", "FenraDicomTree", false, {
        {P, "hasData", "boolean", 0},
        {P, "dataSamplesInfo", "FenraDicomDataChunks", 0},
        {P, "study", "FenraDicomStudy", 0, S},
        {P, "patient", "FenraDicomPatient", 1, S},
        {P, "acquisition", "FenraDicomAcquisition", 2, S},
        {P, "image", "FenraDicomImage", 3, S},
        {P, "imagePixel", "FenraDicomImagePixel", 4, S},
        {M, "Constructor()"},
        {M, "Constructor(other as FenraDicomDocument)"},
        {M, "Constructor(src as folderitem)"},
        {M, "displayContext() as FenraDataPresentation", nullptr, 0, W},
    }},
    {"FenraDicomDirectoryDocument", "FenraDicomTree", false, {
        {P, "root", "FenraDicomFileSet", 0, S},
        {P, "rootDirectory", "FenraDicomItemSequence", 1},
        {SP, "fileID", "string", 0},
        {M, "Constructor()"},
        {M, "Constructor(other as FenraDicomDirectoryDocument)"},
        {M, "Constructor(src as folderitem)", nullptr, 0, W},
    }},
    {"FenraDicomConverter", "FenraObject", false, {
        {P, "dicomSource", "FenraDicomTree", 0, S},
        {P, "progressProc", "FenraProgressCallback", 1, S | W},
        {M, "convert(dst as folderitem)"},
    }},
    {"FenraDicomMovieConverter", "FenraDicomConverter", true, {
        {P, "dataSource", "FenraMovie", 2, S},
        {M, "Constructor()"},
        {M, "Constructor(m as FenraMovie)"},
    }},
    {"FenraDicomImageConverter", "FenraDicomConverter", false, {
        {P, "dataSource", "FenraImage", 2, S},
        {M, "Constructor()"},
        {M, "Constructor(image as FenraImage)"},
    }},
};
// clang-format on

const char* const kKindNames[] = {"constant", "property", "shared property", "method", "shared method"};

// One line per member, the same for what the table expects and what the host holds, so that a
// difference reads as the member it is.
std::string line(Kind kind, const std::string& text, const std::string& type, long param, bool setter,
                 bool consoleSafe) {
    std::string s = std::string(kKindNames[kind]) + " " + text;
    if (kind == C) return s + " = " + type;
    if (kind == P || kind == SP) s += " as " + type + " [" + std::to_string(param) + "]";
    if (setter) s += " (assignable)";
    if (!consoleSafe) s += " (windows only)";
    return s;
}

std::vector<std::string> expectedLines(const ClassTable& cls) {
    std::vector<std::string> lines;
    for (const Member& m : cls.members) {
        bool safe = !cls.windowsOnly && !(m.marks & W);
        lines.push_back(line(m.kind, m.text, m.type ? m.type : "", m.param, m.marks & S, safe));
    }
    return lines;
}

// A record whose words the host does not use must leave them zero (and a property names no
// group): anything there is a record laid out otherwise.
std::string recordFlags(RBRecordWord flags, const RBRecordWord* reserved, size_t count, const char* group) {
    std::string s;
    if (flags != 0 && flags != kREALConsoleSafe) s += " (flags " + std::to_string(flags) + ")";
    if (std::any_of(reserved, reserved + count, [](RBRecordWord w) { return w != 0; }) || group)
        s += " (unused words set)";
    return s;
}

// What the host keeps of a class: read from the record it was given, every table entry of which it
// accepted (checked by the caller).
std::vector<std::string> registeredLines(const ClassInfo& cls) {
    const REALClassRecord& r = *cls.record;
    std::vector<std::string> lines;
    for (const ConstantInfo& c : cls.constants)
        lines.push_back(line(C, c.spec.name, c.spec.isString ? "\"" + c.spec.value + "\"" : c.spec.value, 0,
                             false, true));
    auto properties = [&](Kind kind, const REALPropertyRecord* table, RBRecordWord count) {
        for (RBRecordWord i = 0; i < count; ++i) {
            const REALPropertyRecord& p = table[i];
            lines.push_back(line(kind, p.name ? p.name : "", p.type ? p.type : "", long(p.param), p.setter,
                                 p.flags & kREALConsoleSafe) +
                            recordFlags(p.flags, p.reserved, std::size(p.reserved), p.group));
        }
    };
    auto methods = [&](Kind kind, const REALMethodRecord* table, RBRecordWord count) {
        for (RBRecordWord i = 0; i < count; ++i) {
            const REALMethodRecord& m = table[i];
            lines.push_back(line(kind, m.declaration ? m.declaration : "", "", 0, m.setterFunction,
                                 m.flags & kREALConsoleSafe) +
                            recordFlags(m.flags, m.reserved, std::size(m.reserved), nullptr));
        }
    };
    properties(P, r.properties, r.propertyCount);
    properties(SP, r.sharedProperties, r.sharedPropertyCount);
    methods(M, r.methods, r.methodCount);
    methods(SM, r.sharedMethods, r.sharedMethodCount);
    return lines;
}

// Lines of `a` that `b` lacks, each as often as it is missing.
std::vector<std::string> missingFrom(std::vector<std::string> a, std::vector<std::string> b) {
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    std::vector<std::string> out;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string s;
    for (const std::string& l : lines)
        s += "\n    " + l;
    return s;
}

} // namespace

class PluginRegistration : public plugintest::PluginTest {};

TEST_F(PluginRegistration, EveryClassHasExactlyItsMembers) {
    const PluginInfo& plugin = host().plugins().at(1);
    // A member the host could not declare would be missing below; say why first.
    EXPECT_TRUE(plugin.problems.empty()) << joined(plugin.problems);

    std::vector<std::string> expectedClasses, registeredClasses(plugin.classes);
    for (const ClassTable& table : kClasses)
        expectedClasses.push_back(table.name);
    EXPECT_TRUE(missingFrom(expectedClasses, registeredClasses).empty())
        << "not registered:" << joined(missingFrom(expectedClasses, registeredClasses));
    EXPECT_TRUE(missingFrom(registeredClasses, expectedClasses).empty())
        << "registered beyond the table:" << joined(missingFrom(registeredClasses, expectedClasses));

    for (const ClassTable& table : kClasses) {
        SCOPED_TRACE(table.name);
        const ClassInfo* cls = host().findClass(table.name);
        ASSERT_TRUE(cls);
        const REALClassRecord& r = *cls->record;
        EXPECT_EQ(cls->plugin, 1);
        EXPECT_EQ(r.version, kREALPluginVersion);
        EXPECT_STREQ(r.name, table.name);
        if (table.superName) {
            ASSERT_TRUE(cls->super);
            EXPECT_EQ(cls->super->name, table.superName);
        } else {
            EXPECT_FALSE(cls->super);
        }
        EXPECT_EQ(cls->consoleSafe(), !table.windowsOnly);
        EXPECT_EQ(r.forSystemUse, 0);
        EXPECT_EQ(r.eventCount, 0);
        EXPECT_EQ(r.eventInstanceCount, 0);
        EXPECT_EQ(r.attributeCount, 0);
        EXPECT_FALSE(r.interfaces);

        // The host accepted every entry of every table.
        EXPECT_EQ(cls->properties.size(), size_t(r.propertyCount));
        EXPECT_EQ(cls->sharedProperties.size(), size_t(r.sharedPropertyCount));
        EXPECT_EQ(cls->methods.size(), size_t(r.methodCount));
        EXPECT_EQ(cls->sharedMethods.size(), size_t(r.sharedMethodCount));
        EXPECT_EQ(cls->constants.size(), size_t(r.constantCount));

        std::vector<std::string> expected = expectedLines(table), registered = registeredLines(*cls);
        std::vector<std::string> missing = missingFrom(expected, registered);
        std::vector<std::string> extra = missingFrom(registered, expected);
        EXPECT_TRUE(missing.empty()) << table.name << " lacks or declares otherwise:" << joined(missing);
        EXPECT_TRUE(extra.empty()) << table.name << " registers beyond the table:" << joined(extra);
    }
}

// A constant's declaration is its name, a blank, tabs, "=", tabs and its value, as the host's own
// constants are written; the host reads the same name and value back.
TEST_F(PluginRegistration, ConstantsAreDeclaredInTheHostsLayout) {
    const std::regex layout(R"(^[A-Za-z_][A-Za-z0-9_]* \t+=\t+("[^"]*"|-?[0-9]+)$)");
    size_t seen = 0;
    for (const ClassTable& table : kClasses) {
        const ClassInfo* cls = host().findClass(table.name);
        ASSERT_TRUE(cls) << table.name;
        for (const ConstantInfo& c : cls->constants) {
            ++seen;
            EXPECT_TRUE(std::regex_match(c.declaration, layout)) << table.name << ": " << c.declaration;
            std::string value = c.spec.isString ? "\"" + c.spec.value + "\"" : c.spec.value;
            EXPECT_EQ(c.declaration.substr(0, c.spec.name.size() + 1), c.spec.name + " ") << table.name;
            EXPECT_EQ(c.declaration.substr(c.declaration.size() - value.size()), value) << table.name;
        }
    }
    EXPECT_EQ(seen, 5u + 12u + 9u);
}

// What a program without windows sees of the classes: the members marked for windows only are
// out of its reach, their console-safe neighbours answer.
TEST_F(PluginRegistration, ProgramsWithoutWindowsReachOnlyConsoleSafeMembers) {
    ASSERT_TRUE(host().console());
    Value document = host().newInstance("FenraDicomDocument");
    ASSERT_EQ(document.className(), "FenraDicomDocument");
    CallOutcome display = host().callMethod(document, "displayContext", {});
    EXPECT_FALSE(display.ok);
    EXPECT_NE(display.error.find("does not exist"), std::string::npos) << display.error;
    EXPECT_TRUE(host().callMethod(document, "anonymize", {}).ok);

    Value pixel = host().newInstance("FenraDicomImagePixel");
    CallOutcome range = host().callMethod(pixel, "windowRange", std::vector<Value>(4, Value::integer(0)));
    EXPECT_FALSE(range.ok);
    EXPECT_NE(range.error.find("does not exist"), std::string::npos) << range.error;
    EXPECT_EQ(host().getProperty(pixel, "hasWindowing").kind(), TypeKind::Boolean);

    Value converter = host().newInstance("FenraDicomImageConverter");
    std::string error;
    EXPECT_FALSE(host().setProperty(converter, "progressProc", Value::nil(), error));
    EXPECT_NE(error.find("has no property"), std::string::npos) << error;
    EXPECT_TRUE(host().setProperty(converter, "dicomSource", Value::nil(), error)) << error;

    // A directory document is made empty, never read from a folder item, by such a program.
    EXPECT_EQ(host().construct("FenraDicomDirectoryDocument", {}).result.className(),
              "FenraDicomDirectoryDocument");
    CallOutcome fromFile =
        host().construct("FenraDicomDirectoryDocument", {host().newFolderItem("DICOMDIR")});
    EXPECT_FALSE(fromFile.ok);
}

// A program with windows reaches what a console program is not offered: a directory document read
// from a folder item, and a document's display.
TEST(PluginRegistrationWindows, ProgramsWithWindowsReachTheWindowsOnlyMembers) {
    testsupport::ScratchDir dir("plugin-registration");
    const std::string corpus = testsupport::pydicomTestFiles();
    plugintest::DesktopResult r =
        plugintest::runDesktopScript(dir, "d = FenraDicomDirectoryDocument.Constructor(\"" + corpus +
                                              "/dicomdirtests/DICOMDIR\")\n"
                                              "r = d.root\n"
                                              "print r.fileSetID\n"
                                              "t = FenraDicomDocument.Constructor(\"" +
                                              corpus +
                                              "/CT_small.dcm\")\n"
                                              "v = t.displayContext()\n"
                                              "print v.samplesCount\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.lines, (std::vector<std::string>{"PYDICOM_TEST", "1"})) << r.err;
}
