#include "RBQTDicomModules.h"

#include "KelvoDicomData.h"
#include "KelvoDicomDataElements.h"
#include "KelvoDicomDataSetViews.h"
#include "KelvoDicomDataTree.h"
#include "KelvoDicomDictionaries.h"
#include "KelvoDicomStream.h"
#include "KelvoDicomUtils.h"
#include "RBPluginUtils.h"
#include "RBQTCommon.h"
#include "RBQTDicomObjTools.h"
#include "VUXDicomLib.h"

#include <cstring>
#include <iterator>
#include <memory>

namespace {

constexpr uint32_t kModeText = FOUR_CHAR_CODE("TEXT");
constexpr uint32_t kModeXml = FOUR_CHAR_CODE("XMLT");
constexpr uint32_t kModeAnonymize = FOUR_CHAR_CODE("ANON");

constexpr RBInteger kNoPath = -108;
constexpr RBInteger kNotADicomTree = 100;

REALstring newString(const char* text) {
    return REALBuildString(text, RBInteger(std::strlen(text)), kREALTextEncodingUTF8);
}

// A string argument as a new C string, or null for nil, an empty string or one that cannot be
// read.
std::unique_ptr<char[]> cString(REALstring s) {
    char* text = nullptr;
    if (RealStringToCString(s, text) != 0) text = nullptr;
    return std::unique_ptr<char[]>(text);
}

// The header of a file (caller owns), or null when none can be read.
KelvoDicomDataHeader* readHeader(REALfolderItem src) {
    std::unique_ptr<KelvoDataT<char>> path(FolderitemPath(src));
    if (!path) return nullptr;
    KelvoDicomInputFileBinary in(*path);
    return in.readHeader();
}

// A failure must never read as success: a zero status where the work was not done becomes
// `fallback`.
RBInteger failureStatus(int32_t status, RBInteger fallback) {
    return status != 0 ? status : fallback;
}

// A value made by the factory, wrapped for the host; nil when there is none. For a VR it does
// not know, the factory answers with an invalid raw node: handed out, that would look like a
// value to the host while every use of it fails. (A new typed value may be empty, and so not
// yet valid; it is handed out all the same.)
REALobject wrapValue(Kelvo_QTObj* made) {
    if (made && made->isA("KelvoDicomDataNode") && !made->qtObjIsValid()) {
        delete made;
        return nullptr;
    }
    return FenraWrapNewObject(made);
}

} // namespace

REALstring FenraDicomMimeType() {
    return newString(VUX::VUXDCM::VUXDicomLibrary::dicomMimeType());
}

RBBoolean FenraDicomFileIsDicomFile(REALfolderItem src) {
    std::unique_ptr<KelvoDicomDataHeader> header(readHeader(src));
    return header ? 1 : 0;
}

REALobject FenraDicomFileGetMetaInformations(REALfolderItem src) {
    return FenraWrapNewObject(readHeader(src));
}

RBInteger FenraDicomFileDump(REALfolderItem src, REALfolderItem dst, uint32_t mode) {
    std::unique_ptr<KelvoDataT<char>> srcPath(FolderitemPath(src));
    if (!srcPath) return kNoPath;
    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(srcPath->items()));
    if (!tree) return kNotADicomTree;
    std::unique_ptr<KelvoDataT<char>> dstPath(FolderitemPath(dst));
    if (!dstPath) return kNoPath;
    if (!tree->qtObjIsValid()) return failureStatus(tree->Error(), kNotADicomTree);
    // A dump or an anonymised copy is a new file: written over its source, the source is lost.
    if (PlatformSameFile(srcPath->items(), dstPath->items())) return -50;
    srcPath.reset();

    int32_t status = 0;
    if (mode == kModeText) {
        tree->toTextFile(dstPath->items());
        status = tree->Error();
    } else if (mode == kModeXml) {
        tree->toXmlFile(dstPath->items());
        status = tree->Error();
    } else if (mode == kModeAnonymize) {
        std::unique_ptr<KelvoDicomDataTree> copy(tree->anonymize());
        if (copy && tree->Error() != 0) {
            // A copy that was only partly anonymised must not reach a file that is taken for an
            // anonymised one.
            status = tree->Error();
        } else if (copy) {
            copy->toBinaryFile(dstPath->items(), nullptr);
            status = copy->Error();
        } else {
            status = failureStatus(tree->Error(), kNotADicomTree);
        }
    } else {
        status = -50;
    }
    return DicmUtils_PublicStatus(status);
}

RBInteger FenraDicomFileToTextFile(REALfolderItem src, REALfolderItem dst) {
    return FenraDicomFileDump(src, dst, kModeText);
}

RBInteger FenraDicomFileToXmlFile(REALfolderItem src, REALfolderItem dst) {
    return FenraDicomFileDump(src, dst, kModeXml);
}

RBInteger FenraDicomFileAnonymize(REALfolderItem src, REALfolderItem dst) {
    return FenraDicomFileDump(src, dst, kModeAnonymize);
}

REALobject FenraDicomFileOpen(REALfolderItem src) {
    std::unique_ptr<KelvoDataT<char>> path(FolderitemPath(src));
    if (!path) return nullptr;
    // A file that could not be read whole gives no document: what was read of it is not the file.
    std::unique_ptr<KelvoDicomDataTree> tree(KelvoDicomDataTree::openFile(path->items()));
    if (!tree || tree->readError() != 0) return nullptr;
    return FenraWrapNewObject(tree.release());
}

RBInteger FenraDicomLoadExternalDictionary(REALfolderItem src, REALstring description) {
    std::unique_ptr<KelvoDataT<char>> path(FolderitemPath(src));
    if (!path) return -50;
    auto text = cString(description);
    return KelvoDicomStandardDictionaryUtils::loadExternalDictionary(text.get(), path->items(),
                                                                     dicmIOformatText);
}

REALstring FenraDicomCreateAnonymousID() {
    char* id = nullptr;
    DicmUtils_IDAnonymizer(&id);
    if (!id) return newString("");
    REALstring result = newString(id);
    delete[] id;
    return result;
}

REALstring FenraDicomCreateUID(REALstring prefix) {
    // An empty prefix (the declaration's default) is no prefix at all.
    auto root = cString(prefix);
    char* uid = DicmUtils_UIDCreate(root.get());
    if (!uid) return newString("");
    REALstring result = newString(uid);
    delete[] uid;
    return result;
}

REALobject FenraDicomCreateDataElementValue(REALstring valueFormat) {
    auto format = cString(valueFormat);
    // A format is one of the VRs the library knows, exactly: the factory would read only the
    // first two characters of a longer text.
    if (!format || std::strlen(format.get()) != 2 || !KelvoDicomStandardDictionaryUtils::vrInfo(format.get()))
        return nullptr;
    return wrapValue(KelvoDicomDataFactory::createElementValue(format.get()));
}

REALobject FenraDicomCreateDataElementValue2(REALobject value) {
    Kelvo_QTObj* object = FenraKelvoObjectInstance(value);
    if (!object || !object->isA("KelvoDicomDataNode")) return nullptr;
    return wrapValue(KelvoDicomDataFactory::createElementValue(*static_cast<KelvoDicomDataNode*>(object)));
}

namespace {

REALMethodRecord moduleMethods[] = {
    {(REALproc)&FenraDicomMimeType, nullptr, "dicomMimeType() as string", kREALConsoleSafe, {}},
    {(REALproc)&FenraDicomFileIsDicomFile,
     nullptr,
     "isFileDicomFile(srcFile as folderitem) as boolean",
     kREALConsoleSafe,
     {}},
    {(REALproc)&FenraDicomFileGetMetaInformations,
     nullptr,
     "metaInformationsFromFile(srcFile as folderitem) as FenraDicomHeader",
     kREALConsoleSafe,
     {}},
    {(REALproc)&FenraDicomFileToTextFile,
     nullptr,
     "dumpFileToTextFile(srcFile as folderitem,dstFile as folderitem) as integer",
     kREALConsoleSafe,
     {}},
    {(REALproc)&FenraDicomFileToXmlFile,
     nullptr,
     "dumpFileToXmlFile(srcFile as folderitem,dstFile as folderitem) as integer",
     kREALConsoleSafe,
     {}},
    {(REALproc)&FenraDicomFileAnonymize,
     nullptr,
     "anonymizeFile(srcFile as folderitem,dstFile as folderitem) as integer",
     kREALConsoleSafe,
     {}},
    {(REALproc)&FenraDicomFileOpen,
     nullptr,
     "openFile(srcFile as folderitem) as FenraDicomTree",
     kREALConsoleSafe,
     {}},
    {(REALproc)&FenraDicomLoadExternalDictionary,
     nullptr,
     "loadExternalDictionary(srcFile as folderitem,description as string) as integer",
     kREALConsoleSafe,
     {}},
    {(REALproc)&FenraDicomCreateAnonymousID, nullptr, "createAnonymousID() as string", kREALConsoleSafe, {}},
    {(REALproc)&FenraDicomCreateUID,
     nullptr,
     "createUID(prefix as string=\"\") as string",
     kREALConsoleSafe,
     {}},
    {(REALproc)&FenraDicomCreateDataElementValue,
     nullptr,
     "createDataElementValue(valueFormat as string) as FenraObject",
     kREALConsoleSafe,
     {}},
    {(REALproc)&FenraDicomCreateDataElementValue2,
     nullptr,
     "createDataElementValue(value as FenraDicomValue) as FenraObject",
     kREALConsoleSafe,
     {}},
};

REALConstantRecord moduleConstants[] = {
    {"kDicomPluginVersion \t\t=\t\t631", {}},
    {"kDicomPluginVersionStr \t\t=\t\t\"6.3.1\"", {}},
};

} // namespace

REALModuleRecord FenraDicomSystemModule = {kREALPluginVersion,
                                           "FenraDicomSystem",
                                           moduleMethods,
                                           RBRecordWord(std::size(moduleMethods)),
                                           moduleConstants,
                                           RBRecordWord(std::size(moduleConstants)),
                                           {},
                                           8,
                                           0};
