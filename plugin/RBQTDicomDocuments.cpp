// The host classes of the data tree and its two document kinds. The tree answers the
// dictionary's value(key) (a copy of the data set of group `key`) and valueByRef(key); its other
// members are not declared yet.
#include "RBQTCommon.h"
#include "RBQTDicomObjTools.h"
#include "RBQTHostMembers.h"

using namespace fenra;

namespace {

REALMethodRecord treeMethods[] = {
    method(fn(&FenraDictionaryGetValue), "value(key as integer) as FenraObject",
           fn(&FenraDictionarySetValue)),
    method(fn(&FenraDictionaryGetValueByRef), "valueByRef(key as integer) as FenraObject"),
};

} // namespace

REALClassRecord FenraDicomTreeClass =
    FenraMakeClassRecord("FenraDicomTree", "FenraDictionary", 0, methodTables(treeMethods));
REALClassRecord FenraDicomDocumentClass = FenraMakeClassRecord("FenraDicomDocument", "FenraDicomTree", 0);
REALClassRecord FenraDicomDirectoryDocumentClass =
    FenraMakeClassRecord("FenraDicomDirectoryDocument", "FenraDicomTree", kREALConsoleSafe);
