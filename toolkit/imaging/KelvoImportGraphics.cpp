#include "KelvoImportGraphics.h"

#include "KelvoCoreObjectsDocument.h"
#include "KelvoDrawingUtils.h"

#include "PlatformEndian.h"
#include "PlatformErrors.h"
#include "PlatformGWorlds.h"
#include "PlatformGraphicsMetaData.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

// The text of settingsToString is built in an area of this size.
constexpr size_t kSettingsTextSize = 1024;

// The platform's own progress procedure, as the importer is asked for it.
ICMProgressProcRecord* platformProgressProc() {
    return reinterpret_cast<ICMProgressProcRecord*>(intptr_t(-1));
}

// The subtype as it is stored in a tag: its four bytes in memory read as its characters.
uint32_t tagOf(OSType subtype) {
    uint32_t tag = 0;
    platform::storeBE32(reinterpret_cast<uint8_t*>(&tag), subtype);
    return tag;
}

bool sameRect(const Rect& a, const Rect& b) {
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

bool rectInside(const Rect& inner, const Rect& outer) {
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
           inner.bottom <= outer.bottom;
}

} // namespace

Kelvo_ImportGraphics::Kelvo_ImportGraphics(uint32_t subtype, Handle data) {
    // The importers join the component manager's catalogue on first use; this finds them there.
    platform::installGraphicsImporters();
    initConnection(new (std::nothrow) Kelvo_Component(GraphicsImporterComponentType, subtype));
    if (qtObjIsValid() && data) _status = GraphicsImportSetDataHandle(importer(), data);
    InitService();
}

Kelvo_ImportGraphics::Kelvo_ImportGraphics(Component component) {
    initConnection(new (std::nothrow) Kelvo_Component(component));
    InitService();
}

Kelvo_ImportGraphics::Kelvo_ImportGraphics(const Kelvo_DataReference* reference, bool dontValidate) {
    if (!reference) {
        _status = memFullErr;
        return;
    }
    if (!const_cast<Kelvo_DataReference*>(reference)->qtObjIsValid()) {
        _status = reference->Error() != noErr ? reference->Error() : int32_t(paramErr);
        return;
    }
    GraphicsImportComponent instance = nullptr;
    _status = GetGraphicsImporterForDataRefWithFlags(reference->DataRef(), reference->Type(), &instance,
                                                     dontValidate ? kGraphicsImporterDontValidate : 0);
    if (_status != noErr || !instance) {
        if (instance) CloseComponent(instance);
        return;
    }
    // The component object takes the instance as its connection and closes it when it goes.
    auto* component = new (std::nothrow) Kelvo_Component(instance, true);
    if (!component) {
        CloseComponent(instance);
        _status = memFullErr;
        return;
    }
    initConnection(component);
    InitService();
}

Kelvo_ImportGraphics::~Kelvo_ImportGraphics() {
    delete _graphicsContext;
}

bool Kelvo_ImportGraphics::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_ComponentService::isA(name) || std::strcmp(name, "Kelvo_ImportGraphics") == 0;
}

GraphicsImportComponent Kelvo_ImportGraphics::importer() const {
    return _component ? _component->instance() : nullptr;
}

void Kelvo_ImportGraphics::InitService() {
    if (!qtObjIsValid()) return;
    GraphicsImportComponent gi = importer();
    if (!_settings) {
        QTAtomContainer settings = nullptr;
        const OSErr err = GraphicsImportGetExportSettingsAsAtomContainer(gi, &settings);
        if (err == noErr)
            _settings = settings;
        else if (_status == noErr)
            _status = err;
    }
    delete _graphicsContext;
    _graphicsContext = new (std::nothrow) Kelvo_DisplayTransform(gi);
    if (!_graphicsContext && _status == noErr) _status = memFullErr;
    _defaultCreator = kCreator;
    _fileCreator = kCreator;
    int32_t flags = 0;
    if (GraphicsImportGetFlags(gi, &flags) == noErr)
        GraphicsImportSetFlags(gi, flags | kGraphicsImporterDontDoGammaCorrection);
    if (_settingsTag == 0) {
        const OSType subtype = _component->SubType();
        _settingsTag = tagOf(subtype);
        // A file type is an OSType value, so the types carry the subtype itself, not the bytes
        // of the tag read as a number.
        _defaultType = subtype;
        _fileType = subtype;
    }
    _eventsProc = Kelvo_ComponentServiceICMEventsProc;
}

bool Kelvo_ImportGraphics::ShowDialog() {
    if (!qtObjIsValid()) return false;
    const ComponentResult result =
        GraphicsImportDoExportImageFileDialog(importer(), nullptr, nullptr, nullptr, nullptr, nullptr);
    _status = result == userCanceledErr ? int32_t(noErr) : result;
    return result == noErr;
}

bool Kelvo_ImportGraphics::ShowDialogWithin(OpaqueWindowPtr*) {
    return ShowDialog();
}

void Kelvo_ImportGraphics::settingsToString(char*& text) {
    text = nullptr;
    if (!qtObjIsValid()) return;
    auto* area = new (std::nothrow) char[kSettingsTextSize]();
    if (!area) {
        _status = memFullErr;
        return;
    }
    const unsigned long count = ImageCount();
    const unsigned long index = ImageIndex();
    const bool gammaOff = (Flags() & kGraphicsImporterDontDoGammaCorrection) != 0;
    std::snprintf(
        area, kSettingsTextSize,
        "Decompressor=%s\nImages=%lu\nImage Index=%lu\nHas Export Settings=%s\nDo gamma correction=%s\n",
        _component->Name(), count, index, _settings ? "YES" : "NO", gammaOff ? "NO" : "YES");
    text = area;
}

void Kelvo_ImportGraphics::ReadSettings(const char* path) {
    if (!qtObjIsValid()) return;
    GraphicsImportComponent gi = importer();
    if (_settings) QTDisposeAtomContainer(_settings);
    _settings = nullptr;

    QTAtomContainer read = nullptr;
    {
        Kelvo_QTObjDocument document(path);
        _status = document.Error();
        if (_status == noErr && (document.DocType() != kServiceId || document.NodesCount() < 1))
            _status = kKelvoWrongDocument;
        if (_status == noErr) {
            uint32_t flags = 0;
            char* description = nullptr;
            document.Doc_NodeDataToAtomContainer(&read, &flags, &description, 1);
            _status = document.Error();
            if (description) {
                Description(description);
                delete[] description;
            }
            if (_status == noErr && flags != _settingsTag) _status = kKelvoWrongDocument;
        }
    }
    if (_status == noErr) {
        _status = GraphicsImportSetExportSettingsFromAtomContainer(gi, read);
        if (_status == noErr) {
            _settings = read;
            return;
        }
    }
    // Not applied: the settings stay the importer's own.
    if (read) QTDisposeAtomContainer(read);
    QTAtomContainer own = nullptr;
    if (GraphicsImportGetExportSettingsAsAtomContainer(gi, &own) == noErr) _settings = own;
}

void Kelvo_ImportGraphics::Flags(int32_t flags) {
    if (!qtObjIsValid()) return;
    _status = GraphicsImportSetFlags(importer(), flags);
}

int32_t Kelvo_ImportGraphics::Flags() {
    if (!qtObjIsValid()) return 0;
    int32_t flags = 0;
    const ComponentResult err = GraphicsImportGetFlags(importer(), &flags);
    if (err != noErr) _status = err;
    return err == noErr ? flags : 0;
}

uint32_t Kelvo_ImportGraphics::ImageCount() {
    if (!qtObjIsValid()) return 0;
    uint32_t count = 0;
    const ComponentResult err = GraphicsImportGetImageCount(importer(), &count);
    if (err != noErr) _status = err;
    return err == noErr ? count : 0;
}

uint32_t Kelvo_ImportGraphics::ImageIndex() {
    if (!qtObjIsValid()) return 0;
    uint32_t index = 0;
    const ComponentResult err = GraphicsImportGetImageIndex(importer(), &index);
    if (err != noErr) _status = err;
    return err == noErr && index > 0 ? index - 1 : 0;
}

void Kelvo_ImportGraphics::ImageIndex(uint32_t index) {
    if (!qtObjIsValid()) return;
    // The last index has no 1-based form.
    _status = index == UINT32_MAX ? int32_t(paramErr) : GraphicsImportSetImageIndex(importer(), index + 1);
}

Kelvo_ImgDesc* Kelvo_ImportGraphics::videoParams() {
    if (!qtObjIsValid()) return nullptr;
    GraphicsImportComponent gi = importer();
    auto* description = new (std::nothrow) Kelvo_ImgDesc(gi);
    if (!description) {
        _status = memFullErr;
        return nullptr;
    }
    if (!description->qtObjIsValid()) {
        _status = description->Error() != noErr ? description->Error() : int32_t(paramErr);
        delete description;
        return nullptr;
    }
    CodecQ quality = 0;
    if (GraphicsImportGetQuality(gi, &quality) == noErr) description->qtSpatialQuality(quality);
    Rect source{}, natural{};
    if (GraphicsImportGetSourceRect(gi, &source) == noErr &&
        GraphicsImportGetNaturalBounds(gi, &natural) == noErr && !sameRect(source, natural))
        description->qtROI(&source);
    return description;
}

void Kelvo_ImportGraphics::videoParams(Kelvo_ImgDesc* description) {
    if (!qtObjIsValid()) return;
    if (!description || !description->qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    GraphicsImportComponent gi = importer();
    _status = GraphicsImportSetQuality(gi, description->qtSpatialQuality());
    if (!_graphicsContext) return;
    const Kelvo_Rect size(description->qtWidth(), description->qtHeight());
    if (size.qtObjIsValid()) _graphicsContext->DstRect(size.rPtr());
    const Rect& roi = description->qtROI();
    Rect natural{};
    if (!EmptyRect(&roi) && GraphicsImportGetNaturalBounds(gi, &natural) == noErr && rectInside(roi, natural))
        _graphicsContext->SrcRect(&roi);
}

void Kelvo_ImportGraphics::graphicsContext(Kelvo_DisplayTransform* transform) {
    if (!qtObjIsValid()) return;
    if (!transform || !transform->qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    if (!_graphicsContext) {
        _graphicsContext = new (std::nothrow) Kelvo_DisplayTransform();
        if (!_graphicsContext) {
            _status = memFullErr;
            return;
        }
    }
    _graphicsContext->Copy(*transform);
}

Kelvo_UDataList* Kelvo_ImportGraphics::metaData() {
    if (!qtObjIsValid()) return nullptr;
    auto* list = new (std::nothrow) Kelvo_UDataList(importer(), GraphicsImporterComponentType);
    if (!list) _status = memFullErr;
    return list;
}

void Kelvo_ImportGraphics::metaDataCopyTo(Kelvo_UDataList* list) {
    if (!qtObjIsValid()) return;
    if (!list || !list->qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    _status = GraphicsImportGetMetaData(importer(), list->UDList());
}

void Kelvo_ImportGraphics::installProgress() {
    GraphicsImportComponent gi = importer();
    if (!Callback() && !_eventsHandler.qtObjIsValid()) {
        GraphicsImportSetProgressProc(gi, DefaultCallback() ? platformProgressProc() : nullptr);
        return;
    }
    ICMProgressProcRecord record{_eventsProc, reinterpret_cast<intptr_t>(this)};
    _status = GraphicsImportSetProgressProc(gi, &record);
}

Kelvo_QDGWorldBuffer* Kelvo_ImportGraphics::doService(Kelvo_QDGWorldBuffer*& out) {
    out = nullptr;
    if (!qtObjIsValid()) return nullptr;
    installProgress();
    int32_t err = noErr;
    out = Kelvo_DrawingUtils::draw(importer(), _graphicsContext, err);
    // A buffer that could not be made is a failure even when the draw said nothing.
    _status = out || err != noErr ? err : int32_t(memFullErr);
    return out;
}

CGImageRef Kelvo_ImportGraphics::doService(CGImageRef& out) {
    out = nullptr;
    if (!qtObjIsValid()) return nullptr;
    installProgress();
    int32_t err = noErr;
    out = Kelvo_DrawingUtils::drawCGImage(importer(), _graphicsContext, err);
    _status = out || err != noErr ? err : int32_t(memFullErr);
    return out;
}

OSErr KelvoFile_ImportGraphicsFile(FSSpec* file, GWorldPtr* world, Rect* bounds) {
    if (world) *world = nullptr;
    if (!file || !world) return paramErr;
    GraphicsImportComponent importer = nullptr;
    OSErr err = GetGraphicsImporterForFile(file, &importer);
    if (err != noErr) return err;
    Rect area{};
    if (bounds && GraphicsImportSetBoundsRect(importer, bounds) == noErr)
        area = *bounds;
    else
        err = GraphicsImportGetNaturalBounds(importer, &area);
    // Decoded before the world is made, so that data that cannot fill the announced picture
    // fails before memory of its size is asked for.
    Boolean valid = false;
    if (err == noErr) err = GraphicsImportValidate(importer, &valid);
    if (err == noErr && !valid) err = codecBadDataErr;
    if (err == noErr) err = NewGWorld(world, 0, &area, nullptr, nullptr, 0);
    if (err == noErr && !LockPixels(GetGWorldPixMap(*world))) {
        DisposeGWorld(*world);
        *world = nullptr;
        err = memFullErr;
    }
    if (err == noErr) {
        GraphicsImportSetGWorld(importer, *world, nullptr);
        // A world the image could not be drawn into is no copy of the file: its error is returned.
        err = GraphicsImportDraw(importer);
        GraphicsImportSetGWorld(importer, nullptr, nullptr);
    }
    if (err != noErr && *world) {
        DisposeGWorld(*world);
        *world = nullptr;
    }
    CloseComponent(importer);
    return err;
}
