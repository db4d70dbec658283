#include "KelvoExportGraphics.h"

#include "KelvoCoreObjectsDocument.h"
#include "KelvoCoreObjectsUtils.h"
#include "KelvoDrawingUtils.h"
#include "KelvoGraphicsDisplay.h"

#include "PlatformCF.h"
#include "PlatformDataRef.h"
#include "PlatformComponents.h"
#include "PlatformEndian.h"
#include "PlatformErrors.h"
#include "PlatformGraphicsMetaData.h"
#include "PlatformMemory.h"

#include <cstring>
#include <new>
#include <string>

namespace {

constexpr int32_t kNoDescription = kKelvoBadArgumentObject; // 9
constexpr int32_t kNoInput = kKelvoNothingToWorkOn;         // 79
constexpr int32_t kNoOutput = kKelvoMediaMissing;           // 80
constexpr int32_t kExtensionTextSize = 5;

// The settings tag of a subtype: its bytes read as the subtype's characters.
uint32_t tagOf(uint32_t subtype) {
    uint32_t tag = 0;
    platform::storeBE32(&tag, subtype);
    return tag;
}

uint32_t subtypeOf(uint32_t tag) {
    return platform::loadBE32(&tag);
}

// A size in pixels as an edge of a rectangle: whole, at least 1, within 16 bits.
bool edgeOf(double size, int16_t& edge) {
    if (!(size >= 1.0) || size >= 32768.0) return false;
    edge = int16_t(size);
    return true;
}

} // namespace

Kelvo_ExportGraphics::Kelvo_ExportGraphics() : Kelvo_ExportGraphics(uint32_t(kQTFileTypeJPEGExport)) {}

Kelvo_ExportGraphics::Kelvo_ExportGraphics(uint32_t subtype) {
    connect(subtype);
    InitService();
}

Kelvo_ExportGraphics::Kelvo_ExportGraphics(Component component) {
    platform::installGraphicsExporters();
    initConnection(new (std::nothrow) Kelvo_Component(component));
    InitService();
}

Kelvo_ExportGraphics::Kelvo_ExportGraphics(Kelvo_Component& component) {
    platform::installGraphicsExporters();
    initConnection(new (std::nothrow) Kelvo_Component(component));
    InitService();
}

Kelvo_ExportGraphics::Kelvo_ExportGraphics(const Kelvo_ExportGraphics& other)
    : Kelvo_ComponentService(other) {
    if (qtObjIsValid() && _settings) applySettings();
    InitService();
}

Kelvo_ExportGraphics::Kelvo_ExportGraphics(const char* path) {
    Kelvo_QTObjDocument document(path);
    if (document.Error() != noErr) {
        _status = document.Error();
        return;
    }
    if (document.DocType() != kServiceId || document.NodesCount() < 1) {
        _status = kKelvoWrongDocument;
        return;
    }
    QTAtomContainer settings = nullptr;
    uint32_t tag = 0;
    char* description = nullptr;
    document.Doc_NodeDataToAtomContainer(&settings, &tag, &description, 1);
    if (document.Error() != noErr || tag == 0) {
        _status = document.Error() != noErr ? document.Error() : kKelvoWrongDocument;
        if (settings) QTDisposeAtomContainer(settings);
        delete[] description;
        return;
    }
    _settings = settings;
    _settingsTag = tag;
    if (description) Description(description);
    delete[] description;
    connect(subtypeOf(tag));
    if (!qtObjIsValid()) return;
    applySettings();
    InitService();
}

Kelvo_ExportGraphics::~Kelvo_ExportGraphics() {
    delete[] _extensionText;
}

bool Kelvo_ExportGraphics::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_ComponentService::isA(name) || std::strcmp(name, "Kelvo_ExportGraphics") == 0;
}

Kelvo_QTObj* Kelvo_ExportGraphics::clone() {
    if (!qtObjIsValid()) return nullptr;
    auto* copy = new (std::nothrow) Kelvo_ExportGraphics(*this);
    if (!copy) {
        _status = memFullErr;
        return nullptr;
    }
    if (!copy->qtObjIsValid()) {
        _status = copy->Error();
        delete copy;
        return nullptr;
    }
    return copy;
}

GraphicsExportComponent Kelvo_ExportGraphics::exporter() const {
    return _component ? _component->instance() : nullptr;
}

void Kelvo_ExportGraphics::connect(uint32_t subtype) {
    // The exporters are registered on first use; the component is looked up before any call.
    platform::installGraphicsExporters();
    initConnection(new (std::nothrow) Kelvo_Component(GraphicsExporterComponentType, subtype));
}

void Kelvo_ExportGraphics::InitService() {
    _defaultExtension = 0;
    if (!qtObjIsValid()) return;
    GraphicsExportComponent ex = exporter();
    if (!_settings) _status = GraphicsExportGetSettingsAsAtomContainer(ex, &_settings);
    OSType type = 0, creator = 0;
    if (GraphicsExportGetDefaultFileTypeAndCreator(ex, &type, &creator) == noErr) {
        _defaultType = type;
        _defaultCreator = creator;
    }
    if (GraphicsExportGetOutputFileTypeAndCreator(ex, &type, &creator) == noErr) {
        _fileType = type;
        _fileCreator = creator;
    }
    OSType extension = 0;
    if (GraphicsExportGetDefaultFileNameExtension(ex, &extension) == noErr) _defaultExtension = extension;
    if (_settingsTag == 0) _settingsTag = tagOf(_component->SubType());
    _eventsProc = Kelvo_ComponentServiceICMEventsProc;
}

OSErr Kelvo_ExportGraphics::refreshSettings() {
    QTAtomContainer fresh = nullptr;
    OSErr err = GraphicsExportGetSettingsAsAtomContainer(exporter(), &fresh);
    if (err != noErr) return err;
    if (!_settings) {
        _settings = fresh;
        return noErr;
    }
    // The exporter's atoms replace those of their types; the caller's other atoms stay.
    QTAtom child = 0;
    while (QTNextChildAnyType(fresh, 0, child, &child) == noErr && child != 0) {
        QTAtomType type = 0;
        if (QTGetAtomTypeAndID(fresh, child, &type, nullptr) != noErr) continue;
        while (QTAtom old = QTFindChildByIndex(_settings, 0, type, 1, nullptr))
            if (QTRemoveAtom(_settings, old) != noErr) break;
    }
    err = QTInsertChildren(_settings, 0, fresh);
    QTDisposeAtomContainer(fresh);
    return err;
}

void Kelvo_ExportGraphics::applySettings() {
    _status = GraphicsExportSetSettingsFromAtomContainer(exporter(), _settings);
    if (_status == noErr) return;
    // Settings the exporter refuses are not kept: the held ones are the exporter's again.
    if (_settings) QTDisposeAtomContainer(_settings);
    _settings = nullptr;
    refreshSettings();
}

void Kelvo_ExportGraphics::afterChange(ComponentResult result) {
    _status = result;
    const OSErr err = refreshSettings();
    if (_status == noErr) _status = err;
}

void Kelvo_ExportGraphics::FileType(OSType type) {
    if (!qtObjIsValid()) return;
    const ComponentResult result = GraphicsExportSetOutputFileTypeAndCreator(exporter(), type, _fileCreator);
    if (result == noErr) _fileType = type;
    afterChange(result);
}

void Kelvo_ExportGraphics::FileCreator(OSType creator) {
    if (!qtObjIsValid()) return;
    const ComponentResult result = GraphicsExportSetOutputFileTypeAndCreator(exporter(), _fileType, creator);
    if (result == noErr) _fileCreator = creator;
    afterChange(result);
}

bool Kelvo_ExportGraphics::hasGUI() {
    return HasFeature(kGraphicsExportRequestSettingsSelect);
}

bool Kelvo_ExportGraphics::ShowDialog() {
    if (!qtObjIsValid()) return false;
    _status = GraphicsExportRequestSettings(exporter(), nullptr, nullptr);
    if (_status != noErr) return false;
    _status = refreshSettings();
    return true;
}

bool Kelvo_ExportGraphics::ShowDialogWithin(OpaqueWindowPtr*) {
    return ShowDialog();
}

void Kelvo_ExportGraphics::settingsToString(char*& text) {
    text = nullptr;
    if (!qtObjIsValid()) return;
    Handle h = nullptr;
    _status = GraphicsExportGetSettingsAsText(exporter(), &h);
    if (_status != noErr) return;
    _status = Kelvo_Utils::HandleToCString(h, text);
    DisposeHandle(h);
}

void Kelvo_ExportGraphics::ReadSettings(const char* path) {
    if (!qtObjIsValid()) return;
    if (_settings) QTDisposeAtomContainer(_settings);
    _settings = nullptr;
    Kelvo_QTObjDocument document(path);
    _status = document.Error();
    if (_status == noErr && (document.DocType() != kServiceId || document.NodesCount() < 1))
        _status = kKelvoWrongDocument;
    QTAtomContainer settings = nullptr;
    uint32_t tag = 0;
    char* description = nullptr;
    if (_status == noErr) {
        document.Doc_NodeDataToAtomContainer(&settings, &tag, &description, 1);
        _status = document.Error();
        if (_status == noErr && tag != _settingsTag) _status = kKelvoWrongDocument;
    }
    if (_status == noErr) {
        // The document is this exporter's: its settings and description become the service's.
        _settings = settings;
        Description(description ? description : "");
        delete[] description;
        applySettings();
        return;
    }
    if (settings) QTDisposeAtomContainer(settings);
    delete[] description;
    // A document that is not read leaves the service with its exporter's settings; the status
    // stays.
    const int32_t failure = _status;
    refreshSettings();
    _status = failure;
}

Kelvo_UDataList* Kelvo_ExportGraphics::MetaData() {
    if (!qtObjIsValid() || !HasFeature(kGraphicsExportGetMetaDataSelect)) return nullptr;
    auto* list = new (std::nothrow) Kelvo_UDataList(exporter(), GraphicsExporterComponentType);
    if (!list) {
        _status = memFullErr;
        return nullptr;
    }
    if (!list->qtObjIsValid()) {
        _status = list->Error();
        delete list;
        return nullptr;
    }
    return list;
}

void Kelvo_ExportGraphics::MetaData(Kelvo_UDataList* list) {
    if (!qtObjIsValid() || !list || !HasFeature(kGraphicsExportSetMetaDataSelect)) return;
    _status = GraphicsExportSetMetaData(exporter(), list->UDList());
}

const char* Kelvo_ExportGraphics::DefaultExtensionStr() {
    if (!qtObjIsValid()) return nullptr;
    if (!_extensionText) {
        _extensionText = new (std::nothrow) char[kExtensionTextSize]();
        if (!_extensionText) {
            _status = memFullErr;
            return nullptr;
        }
    }
    // The code's four characters, lower-cased up to the first space, which ends the text.
    platform::storeBE32(_extensionText, _defaultExtension);
    for (int i = 0; i < kExtensionTextSize - 1 && _extensionText[i]; ++i) {
        char& c = _extensionText[i];
        if (c == ' ') {
            c = 0;
            break;
        }
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    }
    return _extensionText;
}

void Kelvo_ExportGraphics::TargetDataSize(uint32_t size) {
    if (!qtObjIsValid()) return;
    afterChange(GraphicsExportSetTargetDataSize(exporter(), size));
}

uint32_t Kelvo_ExportGraphics::TargetDataSize() {
    UInt32 size = 0;
    if (!qtObjIsValid() || GraphicsExportGetTargetDataSize(exporter(), &size) != noErr) return 0;
    return size;
}

bool Kelvo_ExportGraphics::RecompressEnabled() {
    if (!qtObjIsValid()) return false;
    Boolean dontRecompress = 0;
    GraphicsExportGetDontRecompress(exporter(), &dontRecompress);
    return !dontRecompress;
}

void Kelvo_ExportGraphics::RecompressEnabled(bool on) {
    if (!qtObjIsValid()) return;
    afterChange(GraphicsExportSetDontRecompress(exporter(), on ? 0 : 1));
}

Kelvo_ImgDesc* Kelvo_ExportGraphics::videoParams() {
    auto* description = new (std::nothrow) Kelvo_ImgDesc();
    if (!description) {
        _status = memFullErr;
        return nullptr;
    }
    if (!qtObjIsValid()) return description;
    GraphicsExportComponent ex = exporter();
    CodecQ quality = 0;
    if (GraphicsExportGetCompressionQuality(ex, &quality) == noErr) description->qtSpatialQuality(quality);
    Fixed h = 0, v = 0;
    if (GraphicsExportGetResolution(ex, &h, &v) == noErr) {
        description->qtFixHRes(h);
        description->qtFixVRes(v);
    }
    int32_t depth = 0;
    if (GraphicsExportGetDepth(ex, &depth) == noErr) description->qtDepth(int16_t(depth));
    description->size(_targetSize);
    return description;
}

void Kelvo_ExportGraphics::videoParams(Kelvo_ImgDesc* description) {
    if (!qtObjIsValid()) return;
    if (!Kelvo_QTObj::isValidInstance(description, _status, false)) return;
    if (!description->qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    GraphicsExportComponent ex = exporter();
    ComponentResult first = GraphicsExportSetCompressionQuality(ex, description->qtSpatialQuality());
    ComponentResult result = GraphicsExportSetDepth(ex, description->qtDepth());
    if (first == noErr) first = result;
    result = GraphicsExportSetResolution(ex, description->qtFixHRes(), description->qtFixVRes());
    if (first == noErr) first = result;
    _targetSize = description->size();
    afterChange(first);
}

void Kelvo_ExportGraphics::_setInputData(compressionInputRecord* record) {
    if (!qtObjIsValid()) return;
    _inputSet = false;
    if (!record) {
        _status = paramErr;
        return;
    }
    GraphicsExportComponent ex = exporter();
    ComponentResult result = noErr;
    switch (record->kind) {
    case 2: {
        const pointerDataRecordForCompression& p = record->pointer;
        if (!p.desc || !p.desc->hImageDesc())
            result = kNoDescription;
        else if (!p.data || p.size <= 0) // a negative size is never read as a huge one
            result = paramErr;
        else
            result =
                GraphicsExportSetInputPtr(ex, static_cast<Ptr>(p.data), UInt32(p.size), p.desc->hImageDesc());
        break;
    }
    case 3:
        result = GraphicsExportSetInputPicture(ex, record->picture);
        break;
    case 4:
        result = GraphicsExportSetInputGWorld(ex, record->world);
        break;
    case 6:
        result = GraphicsExportSetInputCGImage(ex, record->image);
        break;
    case 7:
        result = GraphicsExportSetInputCGBitmapContext(ex, record->context);
        break;
    default:
        result = kNoInput;
        break;
    }
    _status = result;
    _inputSet = result == noErr;
}

void Kelvo_ExportGraphics::_setOutputData(compressionOutputRecord* record) {
    if (!qtObjIsValid()) return;
    if (!record) {
        _status = paramErr;
        return;
    }
    GraphicsExportComponent ex = exporter();
    switch (record->kind) {
    case kCompressionOutputDataReference:
        if (!record->dataReference || !record->dataReference->DataRef())
            _status = kNoOutput;
        else
            _status = GraphicsExportSetOutputDataReference(ex, record->dataReference->DataRef(),
                                                           record->dataReference->Type());
        break;
    case kCompressionOutputFile:
        _status = GraphicsExportSetOutputFile(ex, record->file);
        break;
    case kCompressionOutputHandle:
        _status = GraphicsExportSetOutputHandle(ex, record->handle);
        break;
    default:
        // Exporting anyway would write to whatever output was set before.
        _status = kNoOutput;
        break;
    }
}

uint32_t Kelvo_ExportGraphics::doService(compressionOutputRecord* out) {
    if (!qtObjIsValid()) return 0;
    if (!out || !_inputSet) {
        _status = !out ? kNoOutput : kNoInput;
        _eventsHandler.notifyEvent(kKelvoEventWorkFailed, &_uid, _status);
        return 0;
    }
    _setOutputData(out);
    if (_status != noErr) return 0;
    GraphicsExportComponent ex = exporter();
    if (!Callback() && !_eventsHandler.qtObjIsValid()) {
        GraphicsExportSetProgressProc(ex, DefaultCallback() ? kGraphicsExportDefaultProgress : nullptr);
    } else {
        const ICMProgressProcRecord progress{
            _eventsProc, reinterpret_cast<intptr_t>(static_cast<Kelvo_ComponentService*>(this))};
        _status = GraphicsExportSetProgressProc(ex, &progress);
    }
    _eventsHandler.notifyEvent(kKelvoEventWorkStarted, &_uid, _status);
    UInt32 written = 0;
    _status = GraphicsExportDoExport(ex, &written);
    if (_status != noErr) {
        _eventsHandler.notifyEvent(kKelvoEventWorkFailed, &_uid, _status);
        return 0;
    }
    _eventsHandler.notifyEvent(kKelvoEventWorkEnded, &_uid, 0);
    return written;
}

namespace {

// The file an export goes to, or the empty path when it goes to none.
std::string outputPath(const compressionOutputRecord* out) {
    if (!out) return {};
    if (out->kind == kCompressionOutputFile && out->file &&
        std::memchr(out->file->path, 0, sizeof out->file->path))
        return out->file->path;
    if (out->kind == kCompressionOutputDataReference && out->dataReference &&
        out->dataReference->isFileStorage())
        return platform::aliasPath(out->dataReference->DataRef());
    return {};
}

} // namespace

uint32_t Kelvo_ExportGraphics::doService(const Kelvo_DataReference* reference, compressionOutputRecord* out) {
    if (!qtObjIsValid()) return 0;
    // The image is not written over the file it is read from.
    if (reference && reference->isFileStorage()) {
        const std::string destination = outputPath(out);
        if (!destination.empty() &&
            PlatformSameFile(platform::aliasPath(reference->DataRef()).c_str(), destination.c_str())) {
            _status = paramErr;
            return 0;
        }
    }
    Kelvo_DisplayTransform transform;
    if (_targetSize.qtObjIsValid()) {
        int16_t width = 0, height = 0;
        if (!edgeOf(_targetSize.width(), width) || !edgeOf(_targetSize.height(), height)) {
            _status = paramErr;
            return 0;
        }
        const Rect destination{0, 0, height, width};
        transform.DstRect(&destination);
    }
    int32_t err = noErr;
    Kelvo_QDGWorldBuffer* buffer =
        Kelvo_DrawingUtils::draw(const_cast<Kelvo_DataReference*>(reference), &transform, err);
    if (!buffer || err != noErr) {
        // A buffer that was not wholly drawn is not exported.
        delete buffer;
        _status = err != noErr ? err : int32_t(kNoInput);
        return 0;
    }
    const uint32_t written = doService(buffer, out);
    delete buffer;
    // The exporter's input was the buffer's world, which is gone.
    _inputSet = false;
    return written;
}

uint32_t Kelvo_ExportGraphics::doService(Kelvo_QDGWorldBuffer* buffer, compressionOutputRecord* out) {
    if (!qtObjIsValid() || !buffer) return 0;
    if (!buffer->buffer()) {
        _status = kNoInput;
        return 0;
    }
    compressionInputRecord input{};
    input.kind = 4;
    input.world = buffer->buffer();
    _setInputData(&input);
    return doService(out);
}

uint32_t Kelvo_ExportGraphics::doService(const void* object, compressionOutputRecord* out) {
    if (!qtObjIsValid() || !object) return 0;
    const CFTypeID type = CFGetTypeID(reinterpret_cast<CFTypeRef>(object));
    compressionInputRecord input{};
    if (type == CGImageGetTypeID()) {
        input.kind = 6;
        input.image = reinterpret_cast<CGImageRef>(const_cast<void*>(object));
    } else if (type == CGContextGetTypeID()) {
        input.kind = 7;
        input.context = reinterpret_cast<CGContextRef>(const_cast<void*>(object));
    } else {
        _status = kNoInput;
        return 0;
    }
    _status = noErr;
    _setInputData(&input);
    return doService(out);
}
