// The data set of the right class for a group atom: the typed views for the groups that have
// one, a plain data set for every other group. The file meta information (0002) is read into its
// header by the file readers, never made here.
#include "KelvoDicomDataImagePixel.h"
#include "KelvoDicomDataSet.h"
#include "KelvoDicomDataSetViews.h"

#include "PlatformErrors.h"

KelvoDicomDataSet* DicmUtils_DataSetFactory(Kelvo_AtomCoord& dataSetAtom, int32_t& status) {
    if (!dataSetAtom.qtObjIsValid()) {
        status = kKelvoNotFound;
        return nullptr;
    }
    if (dataSetAtom.type() != kDicomGroupAtom) {
        status = invalidAtomTypeErr;
        return nullptr;
    }
    QTAtomContainer container = dataSetAtom.container();
    QTAtom atom = dataSetAtom.atom();
    KelvoDicomDataSet* set = nullptr;
    switch (dataSetAtom.id()) {
    case 0x0004:
        set = new KelvoDicomDataFileSet(container, atom);
        break;
    case 0x0008:
        set = new KelvoDicomDataStudy(container, atom);
        break;
    case 0x0010:
        set = new KelvoDicomDataPatient(container, atom);
        break;
    case 0x0018:
        set = new KelvoDicomDataAcquisition(container, atom);
        break;
    case 0x0020:
        set = new KelvoDicomDataImage(container, atom);
        break;
    case 0x0028:
        set = new KelvoDicomDataImagePixel(container, atom);
        break;
    default:
        set = new KelvoDicomDataSet(container, atom);
        break;
    }
    status = set->Error();
    return set;
}
