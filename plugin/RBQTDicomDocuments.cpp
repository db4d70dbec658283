// The host classes of the data tree and its two document kinds. Registered with their
// superclasses; their members are not declared yet.
#include "RBQTCommon.h"

REALClassRecord FenraDicomTreeClass = FenraMakeClassRecord("FenraDicomTree", "FenraDictionary", 0);
REALClassRecord FenraDicomDocumentClass = FenraMakeClassRecord("FenraDicomDocument", "FenraDicomTree", 0);
REALClassRecord FenraDicomDirectoryDocumentClass =
    FenraMakeClassRecord("FenraDicomDirectoryDocument", "FenraDicomTree", kREALConsoleSafe);
