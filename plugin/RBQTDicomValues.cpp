// The host classes of DICOM values: the raw value of an element, the typed values by value
// representation and the data element. The classes are registered with their superclasses so
// that values the module makes wrap into them; their members are not declared yet.
#include "RBQTCommon.h"

REALClassRecord FenraDicomValueClass = FenraMakeClassRecord("FenraDicomValue", "FenraDictionary", 0);
REALClassRecord FenraDicomVRValueClass = FenraMakeClassRecord("FenraDicomVRValue", "FenraObject", 0);
REALClassRecord FenraDicomBinaryValueClass =
    FenraMakeClassRecord("FenraDicomBinaryValue", "FenraDicomVRValue", kREALConsoleSafe);
REALClassRecord FenraDicomAttributeTagClass =
    FenraMakeClassRecord("FenraDicomAttributeTag", "FenraDicomVRValue", 0);
REALClassRecord FenraDicomVRStringValueClass =
    FenraMakeClassRecord("FenraDicomVRStringValue", "FenraDicomVRValue", 0);
REALClassRecord FenraDicomTextClass =
    FenraMakeClassRecord("FenraDicomText", "FenraDicomVRStringValue", kREALConsoleSafe);
REALClassRecord FenraDicomAgeClass = FenraMakeClassRecord("FenraDicomAge", "FenraDicomVRStringValue", 0);
REALClassRecord FenraDicomApplicationEntityClass =
    FenraMakeClassRecord("FenraDicomApplicationEntity", "FenraDicomVRStringValue", 0);
REALClassRecord FenraDicomCodeStringClass =
    FenraMakeClassRecord("FenraDicomCodeString", "FenraDicomVRStringValue", 0);
REALClassRecord FenraDicomUIDClass = FenraMakeClassRecord("FenraDicomUID", "FenraDicomVRStringValue", 0);
REALClassRecord FenraDicomLongStringClass =
    FenraMakeClassRecord("FenraDicomLongString", "FenraDicomVRStringValue", 0);
REALClassRecord FenraDicomShortStringClass =
    FenraMakeClassRecord("FenraDicomShortString", "FenraDicomVRStringValue", 0);
REALClassRecord FenraDicomPersonNameClass =
    FenraMakeClassRecord("FenraDicomPersonName", "FenraDicomVRStringValue", 0);
REALClassRecord FenraDicomDateClass = FenraMakeClassRecord("FenraDicomDate", "FenraDicomVRStringValue", 0);
REALClassRecord FenraDicomTimeClass = FenraMakeClassRecord("FenraDicomTime", "FenraDicomVRStringValue", 0);
REALClassRecord FenraDicomDateTimeClass =
    FenraMakeClassRecord("FenraDicomDateTime", "FenraDicomVRStringValue", 0);
REALClassRecord FenraDicomIntegerStringClass =
    FenraMakeClassRecord("FenraDicomIntegerString", "FenraDicomVRStringValue", 0);
REALClassRecord FenraDicomDecimalStringClass =
    FenraMakeClassRecord("FenraDicomDecimalString", "FenraDicomVRStringValue", 0);
REALClassRecord FenraDicomNumberClass =
    FenraMakeClassRecord("FenraDicomNumber", "FenraDicomVRValue", kREALConsoleSafe);
REALClassRecord FenraDicomDataElementClass = FenraMakeClassRecord("FenraDicomDataElement", "FenraObject", 0);
