// The host classes of the data tree and its two document kinds: a whole DICOM file in memory, read
// from a folder item, handed out by the module's openFile, or made empty. The tree keeps its data
// sets in its own storage: every getter hands out a copy (byRef 0), which reaches the tree again
// only when it is stored back. An empty host object, a parameter out of range, a nil argument or
// an object of another class gives an empty result and leaves a setter without effect.
#include "KelvoAtomicsLists.h"
#include "KelvoDicomDataHandlers.h"
#include "KelvoDicomDataSetViews.h"
#include "KelvoDicomDataTree.h"
#include "KelvoDicomSequence.h"
#include "KelvoDicomVideoPresentation.h"
#include "RBPluginUtils.h"
#include "RBQTHostMembers.h"

#include <iterator>
#include <memory>
#include <new>

using namespace fenra;

namespace {

// ---------------------------------------------------------------------------------------------
// What the tree and the documents share

// The toolkit classes of the three host classes, as the toolkit names them.
constexpr char kTreeClass[] = "KelvoDicomDataTree";
constexpr char kDocumentClass[] = "KelvoDicomDocument";
constexpr char kDirectoryClass[] = "KelvoDicomDirectoryDocument";

// A tree whose file could not be read whole holds only part of it: it reads as empty, so that
// nothing takes that part for the file.
template <class T> T* usable(T* tree) {
    return tree && tree->readError() == 0 ? tree : nullptr;
}

KelvoDicomDataTree* validTreeOf(REALobject self) {
    return usable(validObjectAs<KelvoDicomDataTree>(self, kTreeClass));
}

// A new tree read from the file gives itself to the host object; one whose read failed is let go.
void adoptRead(REALobject self, KelvoDicomDataTree* tree) {
    if (tree && tree->readError() != 0) {
        delete tree;
        return;
    }
    adopt(self, tree);
}

// The three constructors each kind has: an empty one, a copy of another object of the same kind
// (or a kind derived from it), and one read from a file. The file is read as this kind whatever
// it holds: only the module's openFile tells documents apart.
template <class T, const char* kToolkitClass> struct Constructors {
    static void empty(REALobject self) { adopt(self, new (std::nothrow) T()); }

    static void clone(REALobject self, REALobject other) {
        if (objectAs<T>(other, kToolkitClass)) FenraNewClonedObject(self, other);
    }

    static void fromFile(REALobject self, REALfolderItem src) {
        std::unique_ptr<KelvoDataT<char>> path(FolderitemPath(src));
        if (path) adoptRead(self, new (std::nothrow) T(path->items()));
    }
};

using TreeConstructors = Constructors<KelvoDicomDataTree, kTreeClass>;
using DocumentConstructors = Constructors<KelvoDicomDocument, kDocumentClass>;
using DirectoryConstructors = Constructors<KelvoDicomDirectoryDocument, kDirectoryClass>;

// A data set is stored only under its own group: under another key its elements would be taken
// for that group's elements, with that group's meanings and representations.
bool storeGroup(KelvoDicomDataTree& tree, RBInteger key, REALobject value) {
    auto* set = validObjectAs<KelvoDicomDataSet>(value, "KelvoDicomDataSet");
    if (!set || !fitsUInt16(key) || set->groupID() != key) return false;
    tree.setObjValue(int32_t(key), set);
    return true;
}

REALobject treeValue(REALobject self, RBInteger key) {
    if (!validTreeOf(self) || !fitsUInt16(key)) return nullptr;
    return FenraDictionaryGetValue(self, key);
}

void setTreeValue(REALobject self, RBInteger key, REALobject value) {
    if (KelvoDicomDataTree* tree = validTreeOf(self)) storeGroup(*tree, key, value);
}

// Trees keep their groups in their own storage and give none by reference.
REALobject noValueByRef(REALobject, RBInteger) {
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// FenraDicomTree

REALstring treeGetString(REALobject self, RBInteger param) {
    KelvoDicomDataTree* tree = validTreeOf(self);
    return hostString(tree && param == 0 ? tree->Path() : "");
}

RBBoolean treeGetBoolean(REALobject self, RBInteger param) {
    KelvoDicomDataTree* tree = validTreeOf(self);
    return tree && param == 0 && tree->thumbnailsCount() > 0 ? 1 : 0;
}

REALobject treeGetObject(REALobject self, RBInteger param) {
    KelvoDicomDataTree* tree = validTreeOf(self);
    if (!tree) return nullptr;
    switch (param) {
    case 0:
        return FenraWrapNewObject(tree->Header());
    case 1:
        return FenraWrapNewObject(tree->thumbnails());
    case 2:
        return FenraWrapNewObject(tree->getKeys());
    case 3:
        return FenraWrapNewObject(tree->values());
    default:
        return nullptr;
    }
}

void treeSetObject(REALobject self, RBInteger param, REALobject value) {
    KelvoDicomDataTree* tree = validTreeOf(self);
    if (!tree) return;
    if (param == 0) {
        auto* header = validObjectAs<KelvoDicomDataHeader>(value, "KelvoDicomDataHeader");
        if (!header) return;
        // A header of the other document kind (a directory's SOP class given to an image
        // document) would leave the tree unusable, and no later header could be stored: it is
        // refused, and the tree keeps the one it had.
        std::unique_ptr<KelvoDicomDataHeader> before(tree->Header());
        tree->Header(header);
        if (!tree->qtObjIsValid() && before) tree->Header(before.get());
    } else if (param == 3) {
        auto* list = objectAs<Kelvo_List>(value, "Kelvo_List");
        if (!list) return;
        // Each entry goes under its own group, as value(key) = set stores it.
        for (int32_t i = 0; i < list->count(); ++i) {
            Kelvo_QTObj* entry = list->getObjValueByRef(i);
            if (entry && entry->isA("KelvoDicomDataSet") && entry->qtObjIsValid()) {
                auto* set = static_cast<KelvoDicomDataSet*>(entry);
                tree->setObjValue(set->groupID(), set);
            }
        }
    }
}

void treeToDicomFile(REALobject self, REALfolderItem dst, RBBoolean useGroupLength) {
    KelvoDicomDataTree* tree = validTreeOf(self);
    std::unique_ptr<KelvoDataT<char>> path(tree ? FolderitemPath(dst) : nullptr);
    if (!path) return;
    tree->toDicomFile(path->items(), useGroupLength ? 1 : 0);
}

// A copy anonymised whole, or nil: a copy whose anonymisation failed part way still holds names
// and identifiers, and must not be taken for an anonymised one. The work is done from a fresh
// copy so that an earlier status of the tree cannot pass for a failure, nor hide one.
REALobject treeAnonymize(REALobject self) {
    KelvoDicomDataTree* tree = validTreeOf(self);
    if (!tree) return nullptr;
    std::unique_ptr<Kelvo_QTObj> source(tree->clone());
    if (!source) return nullptr;
    auto* from = static_cast<KelvoDicomDataTree*>(source.get());
    std::unique_ptr<KelvoDicomDataTree> copy(from->anonymize());
    if (!copy || from->Error() != 0) return nullptr;
    return FenraWrapNewObject(copy.release());
}

REALPropertyRecord treeProperties[] = {
    property("path", "string", fn(&treeGetString), nullptr, 0),
    property("hasThumbnails", "boolean", fn(&treeGetBoolean), nullptr, 0),
    property("header", "FenraDicomHeader", fn(&treeGetObject), fn(&treeSetObject), 0),
    property("thumbnails", "FenraList", fn(&treeGetObject), nullptr, 1),
    property("keys", "FenraDicomValue", fn(&treeGetObject), nullptr, 2),
    property("values", "FenraList", fn(&treeGetObject), fn(&treeSetObject), 3),
};

REALMethodRecord treeMethods[] = {
    method(fn(&TreeConstructors::empty), "Constructor()"),
    method(fn(&TreeConstructors::clone), "Constructor(other as FenraDicomTree)"),
    method(fn(&TreeConstructors::fromFile), "Constructor(src as folderitem)"),
    method(fn(&treeValue), "value(key as integer) as FenraObject", fn(&setTreeValue)),
    method(fn(&noValueByRef), "valueByRef(key as integer) as FenraObject"),
    method(fn(&treeToDicomFile), "toDicomFile(dst as folderitem, useGroupLength as boolean=false)"),
    method(fn(&treeAnonymize), "anonymize() as FenraDicomTree"),
};

// ---------------------------------------------------------------------------------------------
// FenraDicomDocument

KelvoDicomDocument* documentOf(REALobject self) {
    return usable(validObjectAs<KelvoDicomDocument>(self, kDocumentClass));
}

RBBoolean documentGetBoolean(REALobject self, RBInteger param) {
    KelvoDicomDocument* document = documentOf(self);
    return document && param == 0 && document->hasMedia() != 0 ? 1 : 0;
}

REALobject documentGetChunks(REALobject self, RBInteger param) {
    KelvoDicomDocument* document = documentOf(self);
    return document && param == 0 ? FenraWrapNewObject(document->mediaDataSamplesInfo()) : nullptr;
}

// The groups of the named views, by the views' parameters.
constexpr uint16_t kViewGroups[] = {0x0008, 0x0010, 0x0018, 0x0020, 0x0028};

bool viewGroup(RBInteger param, uint16_t& group) {
    if (param < 0 || size_t(param) >= std::size(kViewGroups)) return false;
    group = kViewGroups[param];
    return true;
}

REALobject documentGetView(REALobject self, RBInteger param) {
    KelvoDicomDocument* document = documentOf(self);
    uint16_t group = 0;
    if (!document || !viewGroup(param, group)) return nullptr;
    return FenraWrapNewObject(document->getObjValue(group));
}

void documentSetView(REALobject self, RBInteger param, REALobject value) {
    KelvoDicomDocument* document = documentOf(self);
    uint16_t group = 0;
    if (document && viewGroup(param, group)) storeGroup(*document, group, value);
}

// A new presentation of the document's frames, nil when it has no pixel data to play.
REALobject documentDisplayContext(REALobject self) {
    KelvoDicomDocument* document = documentOf(self);
    return document ? FenraWrapNewObject(document->dataDisplay()) : nullptr;
}

REALPropertyRecord documentProperties[] = {
    property("hasData", "boolean", fn(&documentGetBoolean), nullptr, 0),
    property("dataSamplesInfo", "FenraDicomDataChunks", fn(&documentGetChunks), nullptr, 0),
    property("study", "FenraDicomStudy", fn(&documentGetView), fn(&documentSetView), 0),
    property("patient", "FenraDicomPatient", fn(&documentGetView), fn(&documentSetView), 1),
    property("acquisition", "FenraDicomAcquisition", fn(&documentGetView), fn(&documentSetView), 2),
    property("image", "FenraDicomImage", fn(&documentGetView), fn(&documentSetView), 3),
    property("imagePixel", "FenraDicomImagePixel", fn(&documentGetView), fn(&documentSetView), 4),
};

REALMethodRecord documentMethods[] = {
    method(fn(&DocumentConstructors::empty), "Constructor()"),
    method(fn(&DocumentConstructors::clone), "Constructor(other as FenraDicomDocument)"),
    method(fn(&DocumentConstructors::fromFile), "Constructor(src as folderitem)"),
    // The presentation plays frames in windows: console programs are not offered it.
    method(fn(&documentDisplayContext), "displayContext() as FenraDataPresentation", nullptr, 0),
};

// ---------------------------------------------------------------------------------------------
// FenraDicomDirectoryDocument

KelvoDicomDirectoryDocument* directoryOf(REALobject self) {
    return usable(validObjectAs<KelvoDicomDirectoryDocument>(self, kDirectoryClass));
}

REALobject directoryGetObject(REALobject self, RBInteger param) {
    KelvoDicomDirectoryDocument* directory = directoryOf(self);
    if (!directory) return nullptr;
    if (param == 0) return FenraWrapNewObject(directory->root());
    if (param == 1) return FenraWrapNewObject(directory->rootDirectory());
    return nullptr;
}

void directorySetObject(REALobject self, RBInteger param, REALobject value) {
    KelvoDicomDirectoryDocument* directory = directoryOf(self);
    auto* fileSet = validObjectAs<KelvoDicomDataFileSet>(value, "KelvoDicomDataFileSet");
    if (directory && fileSet && param == 0) directory->root(fileSet);
}

REALstring directoryGetSharedString(RBInteger param) {
    return hostString(param == 0 ? KelvoDicomDirectoryDocument::fileID() : "");
}

REALPropertyRecord directoryProperties[] = {
    property("root", "FenraDicomFileSet", fn(&directoryGetObject), fn(&directorySetObject), 0),
    property("rootDirectory", "FenraDicomItemSequence", fn(&directoryGetObject), nullptr, 1),
};

REALPropertyRecord directorySharedProperties[] = {
    property("fileID", "string", fn(&directoryGetSharedString), nullptr, 0),
};

REALMethodRecord directoryMethods[] = {
    method(fn(&DirectoryConstructors::empty), "Constructor()"),
    method(fn(&DirectoryConstructors::clone), "Constructor(other as FenraDicomDirectoryDocument)"),
    // For programs with windows; a console program opens a directory through the module.
    method(fn(&DirectoryConstructors::fromFile), "Constructor(src as folderitem)", nullptr, 0),
};

FenraClassTables directoryTables() {
    FenraClassTables t = tables(directoryProperties, directoryMethods);
    t.sharedProperties = directorySharedProperties;
    t.sharedPropertyCount = countOf(directorySharedProperties);
    return t;
}

} // namespace

REALClassRecord FenraDicomTreeClass =
    FenraMakeClassRecord("FenraDicomTree", "FenraDictionary", 0, tables(treeProperties, treeMethods));
REALClassRecord FenraDicomDocumentClass = FenraMakeClassRecord("FenraDicomDocument", "FenraDicomTree", 0,
                                                               tables(documentProperties, documentMethods));
REALClassRecord FenraDicomDirectoryDocumentClass = FenraMakeClassRecord(
    "FenraDicomDirectoryDocument", "FenraDicomTree", kREALConsoleSafe, directoryTables());
