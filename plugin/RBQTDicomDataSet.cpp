// The host classes of items, item sequences, data sets and their named group views, and of the
// palette lookup table. Registered with their superclasses; their members are not declared yet.
#include "RBQTCommon.h"

REALClassRecord FenraDicomItemClass = FenraMakeClassRecord("FenraDicomItem", "FenraDictionary", 0);
REALClassRecord FenraDicomItemSequenceClass =
    FenraMakeClassRecord("FenraDicomItemSequence", "FenraDictionary", 0);
REALClassRecord FenraDicomDataSetClass = FenraMakeClassRecord("FenraDicomDataSet", "FenraDictionary", 0);
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
