// The plug-in's entry: every host class, superclasses before subclasses and the instance
// record's stub class first, each marked console-safe where a console program may use it, then
// the module. Nothing else starts at load: no thread, timer or idle task. The plug-in's own main
// loop (its presentations' timers) runs from the host's event loop through the pump it registers.
#include "RBQTCommon.h"
#include "RBQTDicomObjTools.h"
#include "REALpluginEventPump.h"

#include <iterator>

namespace {

struct Registration {
    REALClassRecord* record;
    // Marked console-safe here; the others carry the mark in their record already, or are for
    // programs with windows only.
    bool markConsoleSafe;
};

const Registration kRegistrations[] = {
    {&FenraObjectDicomStubClass, true},
    {&FenraDicomValueClass, true},
    {&FenraDicomVRValueClass, true},
    {&FenraDicomBinaryValueClass, false},
    {&FenraDicomAttributeTagClass, true},
    {&FenraDicomVRStringValueClass, true},
    {&FenraDicomTextClass, false},
    {&FenraDicomAgeClass, true},
    {&FenraDicomApplicationEntityClass, true},
    {&FenraDicomCodeStringClass, true},
    {&FenraDicomUIDClass, true},
    {&FenraDicomLongStringClass, true},
    {&FenraDicomShortStringClass, true},
    {&FenraDicomPersonNameClass, true},
    {&FenraDicomDateClass, true},
    {&FenraDicomTimeClass, true},
    {&FenraDicomDateTimeClass, true},
    {&FenraDicomIntegerStringClass, true},
    {&FenraDicomDecimalStringClass, true},
    {&FenraDicomNumberClass, false},
    {&FenraDicomDataElementClass, true},
    {&FenraDicomItemClass, true},
    {&FenraDicomItemSequenceClass, true},
    {&FenraDicomDataSetClass, true},
    {&FenraDicomHeaderClass, true},
    {&FenraDicomFileSetClass, true},
    {&FenraDicomPatientClass, true},
    {&FenraDicomStudyClass, true},
    {&FenraDicomAcquisitionClass, true},
    {&FenraDicomImageClass, true},
    {&FenraDicomPixelLutClass, true},
    {&FenraDicomImagePixelClass, true},
    {&FenraDicomDataChunksClass, true},
    {&FenraDicomPixelDataClass, true},
    {&FenraDicomIconClass, true},
    {&FenraDicomVideoPresentationClass, false},
    {&FenraDicomTreeClass, true},
    {&FenraDicomDocumentClass, true},
    {&FenraDicomDirectoryDocumentClass, false},
    {&FenraDicomConverterClass, true},
    {&FenraDicomMovieConverterClass, false},
    {&FenraDicomImageConverterClass, true},
};
static_assert(std::size(kRegistrations) == 42);

} // namespace

RBInteger PluginEntry() {
    realpump::registerEventPumpWithHost();
    for (const auto& r : kRegistrations) {
        if (r.markConsoleSafe) SetClassConsoleSafe(r.record);
        REALRegisterClass(r.record);
    }
    return REALRegisterModule(&FenraDicomSystemModule);
}
