// The host classes of the converters that write movies and images as DICOM files. Registered
// with their superclasses; their members are not declared yet.
#include "RBQTCommon.h"

REALClassRecord FenraDicomConverterClass = FenraMakeClassRecord("FenraDicomConverter", "FenraObject", 0);
// Works on movies, which need a program with windows: never console-safe.
REALClassRecord FenraDicomMovieConverterClass =
    FenraMakeClassRecord("FenraDicomMovieConverter", "FenraDicomConverter", 0);
REALClassRecord FenraDicomImageConverterClass =
    FenraMakeClassRecord("FenraDicomImageConverter", "FenraDicomConverter", 0);
