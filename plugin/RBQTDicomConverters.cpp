// The host classes of the converters that write a movie or an image as a DICOM file: the data
// source gives the pixels, the optional DICOM source (a tree) the attributes. The converter keeps
// its own copies of what it is given, and hands out copies too. An empty host object, a parameter
// out of range or an object of another class gives an empty result and leaves a setter without
// effect; nil given to a setter takes the source or notifier away.
#include "KelvoCoreObjectsEvents.h"
#include "KelvoDicomConverter.h"
#include "KelvoDicomDataTree.h"
#include "KelvoImage.h"
#include "KelvoMovie.h"
#include "KelvoModuleOrigin.h"
#include "RBPluginUtils.h"
#include "RBQTHostMembers.h"

#include <memory>
#include <new>

using namespace fenra;

namespace {

// A converter is of use before it holds a data source (its DICOM source and notifier are set
// first as often as not), so the members take it whether it is valid or not.
KelvoDicomConverter* converterOf(REALobject self) {
    return objectAs<KelvoDicomConverter>(self, "KelvoDicomConverter");
}

// A movie of another plug-in lives in that plug-in's movie layer, which this one does not share:
// every call the converter makes on it would be refused (or, its reference meaning another movie
// here, reach the wrong one). The converter is given the same movie opened here from the data
// reference it was opened from, or nothing (and refuses it) when it cannot be opened here. Other
// objects, and movies without a movie, which the converter refuses by their own verdict, are given
// as they are.
Kelvo_QTObj* sourceForConverter(Kelvo_QTObj* given, std::unique_ptr<Kelvo_Movie>& reopened) {
    if (!given || !given->isA("Kelvo_Movie") || KelvoMadeInThisModule(given) || !given->qtObjIsValid()) return given;
    // A movie opened from a file keeps the reference it was opened from.
    Kelvo_DataReference* from = static_cast<Kelvo_Movie*>(given)->defaultDataReference();
    if (!from || !from->qtObjIsValid()) return nullptr;
    Kelvo_DataReference reference(*from);
    reopened.reset(new (std::nothrow) Kelvo_Movie(&reference, false));
    return reopened && reopened->qtObjIsValid() ? reopened.get() : nullptr;
}

// Each source is handed out as a copy: the converter lets go of what it holds whenever it is
// given something new, and a host object referring to that would be left with nothing under it.
// A changed copy reaches the converter when it is given back.
REALobject converterGetObject(REALobject self, RBInteger param) {
    KelvoDicomConverter* converter = converterOf(self);
    if (!converter) return nullptr;
    Kelvo_QTObj* held = nullptr;
    switch (param) {
    case 0:
        held = converter->getDicomSource();
        break;
    case 1:
        held = converter->Callback();
        break;
    case 2:
        held = converter->getDataSource();
        break;
    default:
        break;
    }
    return held ? FenraWrapNewObject(held->clone()) : nullptr;
}

void converterSetObject(REALobject self, RBInteger param, REALobject value) {
    KelvoDicomConverter* converter = converterOf(self);
    if (!converter) return;
    Kelvo_QTObj* given = FenraKelvoObjectInstance(value);
    switch (param) {
    case 0:
        if (!given || given->isA("KelvoDicomDataTree"))
            converter->setDicomSource(static_cast<KelvoDicomDataTree*>(given));
        return;
    case 1:
        if (!given || given->isA("Kelvo_ProgressNotifier"))
            converter->Callback(static_cast<Kelvo_ProgressNotifier*>(given));
        return;
    case 2: {
        // The converter's own check says which objects it takes, and why not (its status).
        std::unique_ptr<Kelvo_Movie> reopened;
        converter->setDataSource(sourceForConverter(given, reopened));
        return;
    }
    default:
        return;
    }
}

// The file is written beside the destination and put in its place once complete, so that a
// conversion that fails leaves no file cut short; the converter's status says how it went (-50
// when the destination cannot be made).
void converterConvert(REALobject self, REALfolderItem dst) {
    KelvoDicomConverter* converter = converterOf(self);
    char* path = nullptr;
    if (!converter || !FolderitemPath(dst, path)) return;
    converter->convertToFile(path);
    delete[] path;
}

// The notifier calls back into the program's own code: for programs with windows only.
REALPropertyRecord withoutConsole(REALPropertyRecord record) {
    record.flags = 0;
    return record;
}

REALPropertyRecord converterProperties[] = {
    property("dicomSource", "FenraDicomTree", fn(&converterGetObject), fn(&converterSetObject), 0),
    withoutConsole(property("progressProc", "FenraProgressCallback", fn(&converterGetObject),
                            fn(&converterSetObject), 1)),
};

REALMethodRecord converterMethods[] = {
    method(fn(&converterConvert), "convert(dst as folderitem)"),
};

// ---------------------------------------------------------------------------------------------
// FenraDicomMovieConverter (for programs with windows: movies are drawn to be converted)

void movieConverterEmpty(REALobject self) {
    adopt(self, new (std::nothrow) KelvoDicomConvertMovie());
}

// A movie the converter cannot take (no video, no duration) leaves it without a data source and
// its status saying why.
void movieConverterWithMovie(REALobject self, REALobject movie) {
    auto* converter = new (std::nothrow) KelvoDicomConvertMovie();
    if (converter && movie) {
        std::unique_ptr<Kelvo_Movie> reopened;
        converter->setDataSource(sourceForConverter(FenraKelvoObjectInstance(movie), reopened));
    }
    adopt(self, converter);
}

REALPropertyRecord movieConverterProperties[] = {
    withoutConsole(property("dataSource", "FenraMovie", fn(&converterGetObject), fn(&converterSetObject), 2)),
};

REALMethodRecord movieConverterMethods[] = {
    method(fn(&movieConverterEmpty), "Constructor()", nullptr, 0),
    method(fn(&movieConverterWithMovie), "Constructor(m as FenraMovie)", nullptr, 0),
};

// ---------------------------------------------------------------------------------------------
// FenraDicomImageConverter

void imageConverterEmpty(REALobject self) {
    adopt(self, new (std::nothrow) KelvoDicomConvertImage());
}

void imageConverterWithImage(REALobject self, REALobject image) {
    auto* converter = new (std::nothrow) KelvoDicomConvertImage();
    if (converter && image) converter->setDataSource(FenraKelvoObjectInstance(image));
    adopt(self, converter);
}

REALPropertyRecord imageConverterProperties[] = {
    property("dataSource", "FenraImage", fn(&converterGetObject), fn(&converterSetObject), 2),
};

REALMethodRecord imageConverterMethods[] = {
    method(fn(&imageConverterEmpty), "Constructor()"),
    method(fn(&imageConverterWithImage), "Constructor(image as FenraImage)"),
};

} // namespace

REALClassRecord FenraDicomConverterClass = FenraMakeClassRecord(
    "FenraDicomConverter", "FenraObject", 0, tables(converterProperties, converterMethods));
// Works on movies, which need a program with windows: never console-safe.
REALClassRecord FenraDicomMovieConverterClass =
    FenraMakeClassRecord("FenraDicomMovieConverter", "FenraDicomConverter", 0,
                         tables(movieConverterProperties, movieConverterMethods));
REALClassRecord FenraDicomImageConverterClass =
    FenraMakeClassRecord("FenraDicomImageConverter", "FenraDicomConverter", 0,
                         tables(imageConverterProperties, imageConverterMethods));
