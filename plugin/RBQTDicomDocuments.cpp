// The host classes of the data tree and its two document kinds. The tree answers the
// dictionary's value(key) (a copy of the data set of group `key`) and valueByRef(key); its other
// members are not declared yet.
#include "RBQTCommon.h"
#include "RBQTDicomObjTools.h"

#include <iterator>

namespace {

REALMethodRecord treeMethods[] = {
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

FenraClassTables treeTables() {
    FenraClassTables t;
    t.methods = treeMethods;
    t.methodCount = RBRecordWord(std::size(treeMethods));
    return t;
}

} // namespace

REALClassRecord FenraDicomTreeClass =
    FenraMakeClassRecord("FenraDicomTree", "FenraDictionary", 0, treeTables());
REALClassRecord FenraDicomDocumentClass = FenraMakeClassRecord("FenraDicomDocument", "FenraDicomTree", 0);
REALClassRecord FenraDicomDirectoryDocumentClass =
    FenraMakeClassRecord("FenraDicomDirectoryDocument", "FenraDicomTree", kREALConsoleSafe);
