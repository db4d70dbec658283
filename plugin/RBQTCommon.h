// What every host class source of the plug-in shares: the way a class record is made, and the
// records of all classes and of the module, in the order the plug-in registers them.
#pragma once

#include "REALplugin.h"

// The member tables of a class record (each may be empty).
struct FenraClassTables {
    REALPropertyRecord* properties = nullptr;
    RBRecordWord propertyCount = 0;
    REALMethodRecord* methods = nullptr;
    RBRecordWord methodCount = 0;
    REALConstantRecord* constants = nullptr;
    RBRecordWord constantCount = 0;
    REALPropertyRecord* sharedProperties = nullptr;
    RBRecordWord sharedPropertyCount = 0;
    REALMethodRecord* sharedMethods = nullptr;
    RBRecordWord sharedMethodCount = 0;
};

// A class record of this plug-in: no constructor or destructor (instance data is zero-filled by
// the host and what it holds is freed by the companion's root class), no events, interfaces or
// attributes. `flags` is the console-safe mark where the record carries it from the start.
constexpr REALClassRecord FenraMakeClassRecord(const char* name, const char* superName, RBRecordWord flags,
                                               const FenraClassTables& tables = {},
                                               RBRecordWord dataSize = 0) {
    REALClassRecord record{};
    record.version = kREALPluginVersion;
    record.name = name;
    record.superName = superName;
    record.dataSize = dataSize;
    record.properties = tables.properties;
    record.propertyCount = tables.propertyCount;
    record.methods = tables.methods;
    record.methodCount = tables.methodCount;
    record.constants = tables.constants;
    record.constantCount = tables.constantCount;
    record.flags = flags;
    record.sharedProperties = tables.sharedProperties;
    record.sharedPropertyCount = tables.sharedPropertyCount;
    record.sharedMethods = tables.sharedMethods;
    record.sharedMethodCount = tables.sharedMethodCount;
    return record;
}

// Instance record, class mapping and generic members (RBQTDicomObjTools).
extern REALClassRecord FenraObjectDicomStubClass;
// Value classes (RBQTDicomValues).
extern REALClassRecord FenraDicomValueClass;
extern REALClassRecord FenraDicomVRValueClass;
extern REALClassRecord FenraDicomBinaryValueClass;
extern REALClassRecord FenraDicomAttributeTagClass;
extern REALClassRecord FenraDicomVRStringValueClass;
extern REALClassRecord FenraDicomTextClass;
extern REALClassRecord FenraDicomAgeClass;
extern REALClassRecord FenraDicomApplicationEntityClass;
extern REALClassRecord FenraDicomCodeStringClass;
extern REALClassRecord FenraDicomUIDClass;
extern REALClassRecord FenraDicomLongStringClass;
extern REALClassRecord FenraDicomShortStringClass;
extern REALClassRecord FenraDicomPersonNameClass;
extern REALClassRecord FenraDicomDateClass;
extern REALClassRecord FenraDicomTimeClass;
extern REALClassRecord FenraDicomDateTimeClass;
extern REALClassRecord FenraDicomIntegerStringClass;
extern REALClassRecord FenraDicomDecimalStringClass;
extern REALClassRecord FenraDicomNumberClass;
extern REALClassRecord FenraDicomDataElementClass;
// Items, sequences and data sets (RBQTDicomDataSet), their named group views
// (RBQTDicomDataSetViews), the image pixel view and the lookup table (RBQTDicomImagePixel).
extern REALClassRecord FenraDicomItemClass;
extern REALClassRecord FenraDicomItemSequenceClass;
extern REALClassRecord FenraDicomDataSetClass;
extern REALClassRecord FenraDicomHeaderClass;
extern REALClassRecord FenraDicomFileSetClass;
extern REALClassRecord FenraDicomPatientClass;
extern REALClassRecord FenraDicomStudyClass;
extern REALClassRecord FenraDicomAcquisitionClass;
extern REALClassRecord FenraDicomImageClass;
extern REALClassRecord FenraDicomPixelLutClass;
extern REALClassRecord FenraDicomImagePixelClass;
// Pixel data, icon and presentation (RBQTDicomDataHandlers).
extern REALClassRecord FenraDicomDataChunksClass;
extern REALClassRecord FenraDicomPixelDataClass;
extern REALClassRecord FenraDicomIconClass;
extern REALClassRecord FenraDicomVideoPresentationClass;
// Trees and documents (RBQTDicomDocuments).
extern REALClassRecord FenraDicomTreeClass;
extern REALClassRecord FenraDicomDocumentClass;
extern REALClassRecord FenraDicomDirectoryDocumentClass;
// Converters (RBQTDicomConverters).
extern REALClassRecord FenraDicomConverterClass;
extern REALClassRecord FenraDicomMovieConverterClass;
extern REALClassRecord FenraDicomImageConverterClass;
// The module (RBQTDicomModules).
extern REALModuleRecord FenraDicomSystemModule;
