// The host classes of items, item sequences, data sets and their named group views, and of the
// palette lookup table. Items, sequences and data sets answer the dictionary's value(key) (a copy
// of what they hold under the key) and valueByRef(key); their other members are not declared yet.
#include "RBQTCommon.h"
#include "RBQTDicomObjTools.h"

#include <iterator>

namespace {

REALMethodRecord dictionaryMethods[] = {
    {(REALproc)&FenraDictionaryGetValue,
     (REALproc)&FenraDictionarySetValue,
     "value(key as integer) as FenraObject",
     kREALConsoleSafe,
     {}},
    {(REALproc)&FenraDictionaryGetValueByRef,
     nullptr,
     "valueByRef(key as integer) as FenraObject",
     kREALConsoleSafe,
     {}},
};

FenraClassTables dictionaryTables() {
    FenraClassTables t;
    t.methods = dictionaryMethods;
    t.methodCount = RBRecordWord(std::size(dictionaryMethods));
    return t;
}

} // namespace

REALClassRecord FenraDicomItemClass =
    FenraMakeClassRecord("FenraDicomItem", "FenraDictionary", 0, dictionaryTables());
REALClassRecord FenraDicomItemSequenceClass =
    FenraMakeClassRecord("FenraDicomItemSequence", "FenraDictionary", 0, dictionaryTables());
REALClassRecord FenraDicomDataSetClass =
    FenraMakeClassRecord("FenraDicomDataSet", "FenraDictionary", 0, dictionaryTables());
REALClassRecord FenraDicomHeaderClass = FenraMakeClassRecord("FenraDicomHeader", "FenraDicomDataSet", 0);
REALClassRecord FenraDicomFileSetClass = FenraMakeClassRecord("FenraDicomFileSet", "FenraDicomDataSet", 0);
REALClassRecord FenraDicomPatientClass = FenraMakeClassRecord("FenraDicomPatient", "FenraDicomDataSet", 0);
REALClassRecord FenraDicomStudyClass = FenraMakeClassRecord("FenraDicomStudy", "FenraDicomDataSet", 0);
REALClassRecord FenraDicomAcquisitionClass =
    FenraMakeClassRecord("FenraDicomAcquisition", "FenraDicomDataSet", 0);
REALClassRecord FenraDicomImageClass = FenraMakeClassRecord("FenraDicomImage", "FenraDicomDataSet", 0);
REALClassRecord FenraDicomPixelLutClass = FenraMakeClassRecord("FenraDicomPixelLut", "FenraObject", 0);
REALClassRecord FenraDicomImagePixelClass =
    FenraMakeClassRecord("FenraDicomImagePixel", "FenraDicomDataSet", 0);
