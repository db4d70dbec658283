// The graphics export service: drives one platform graphics exporter ('grex' component). It takes
// one input (pointer data, a picture, an offscreen world, a CGImage or a bitmap context), writes
// the encoded image to a handle, a file or a data reference, and exposes the exporter's settings
// (as a settings document, a text or a dialog), metadata, file type and creator, default
// extension, target size, quality, depth and resolution. Progress and outcome are reported as
// 'THST', 'THPG', 'THED' and 'THER' events.
//
// The settings tag holds the exporter's subtype, stored so that its four bytes read as the
// subtype's characters: a settings document names the exporter it belongs to.
//
// The held settings follow the exporter: whenever the service changes the exporter's settings
// (quality, depth, resolution, target data size, recompression, file type or creator), the atoms
// the exporter keeps are taken again into the held container, whose other atoms stay. A settings
// document written afterwards, or a copy of the service, carries what the exporter does.
#pragma once

#include "KelvoComponentService.h"
#include "KelvoDataReference.h"
#include "KelvoUserData.h"
#include "KelvoVideo.h"
#include "KelvoVideoDecompression.h"

#include "PlatformFiles.h"
#include "PlatformGraphicsExport.h"

// Where an export goes: a kind and its data.
enum : uint32_t {
    kCompressionOutputHandle = 2,
    kCompressionOutputFile = 4,
    kCompressionOutputDataReference = 6,
};

struct compressionOutputRecord {
    uint32_t kind;
    union {
        Handle handle;                            // 2: resized to the stream
        const FSSpec* file;                       // 4: created or replaced
        const Kelvo_DataReference* dataReference; // 6: a file ('alis') or a handle ('hndl')
    };
};

class Kelvo_ExportGraphics : public Kelvo_ComponentService {
  public:
    static constexpr uint32_t kServiceId = FOUR_CHAR_CODE("EXPI");

    // Each connects its exporter and ends with InitService.
    // The JPEG exporter.
    Kelvo_ExportGraphics();
    explicit Kelvo_ExportGraphics(uint32_t subtype);
    explicit Kelvo_ExportGraphics(Component component);
    // A new connection to the component that `component` describes.
    explicit Kelvo_ExportGraphics(Kelvo_Component& component);
    // A new connection to the other's exporter, with its settings applied.
    Kelvo_ExportGraphics(const Kelvo_ExportGraphics& other);
    // The exporter that the settings document at `path` names, with the document's settings and
    // description. The document's status; 113 for a document of another service, without node or
    // without tag; the connection's status when there is no such exporter.
    explicit Kelvo_ExportGraphics(const char* path);
    Kelvo_ExportGraphics& operator=(const Kelvo_ExportGraphics&) = delete;
    ~Kelvo_ExportGraphics() override;

    const char* qtObjName() const override { return "Kelvo_ExportGraphics"; }
    bool isA(const char* name) const override;
    // The copy, or null for an invalid service.
    Kelvo_QTObj* clone() override;

    uint32_t serviceId() override { return kServiceId; }
    // Takes the exporter's settings (when none are held), default and output file type and
    // creator, default extension and subtype (as the settings tag, when none is set).
    void InitService() override;
    // The exporter's output type and creator; the service's take them when the exporter does.
    void FileType(OSType type) override;
    void FileCreator(OSType creator) override;
    using Kelvo_ComponentService::FileCreator;
    using Kelvo_ComponentService::FileType;
    // Whether the exporter has a settings dialog.
    bool hasGUI() override;
    // Asks the exporter for its settings dialog; true when the user accepted it, after which the
    // held settings are the exporter's. A cancelled dialog gives -128.
    bool ShowDialog() override;
    bool ShowDialogWithin(OpaqueWindowPtr* window) override;
    // The exporter's settings as text; `text` is null on failure.
    void settingsToString(char*& text) override;
    // Applies the settings of a document that this service's exporter wrote. A document of another
    // service, without node or of another exporter gives 113, a node that cannot be read its status,
    // and settings that the exporter refuses their status: the held settings are then the exporter's
    // own again.
    void ReadSettings(const char* path) override;

    // The exporter's metadata as a new list (owned by the caller), or null when it keeps none.
    Kelvo_UDataList* MetaData();
    // Gives the exporter a copy of the list's items.
    void MetaData(Kelvo_UDataList* list);

    // Not supported by the exporters: always false, and setting changes nothing.
    bool ExportExifEnabled() { return false; }
    void ExportExifEnabled(bool) {}
    bool CreateThumbnailEnabled() { return false; }
    void CreateThumbnailEnabled(bool) {}

    OSType DefaultExtension() const { return _defaultExtension; }
    // The default extension as lower-case text up to its first space ("jpg" for 'jpg '). The text
    // belongs to the service and is rewritten by the next call. Null on an invalid service.
    const char* DefaultExtensionStr();

    void TargetDataSize(uint32_t size);
    // 0 when it cannot be read.
    uint32_t TargetDataSize();
    bool RecompressEnabled();
    void RecompressEnabled(bool on);

    // A new description (owned by the caller) with the exporter's quality, resolution and depth
    // and the target size.
    Kelvo_ImgDesc* videoParams();
    // The description's quality, depth and resolution go to the exporter (the status is the first
    // refusal) and its size becomes the target size.
    void videoParams(Kelvo_ImgDesc* description);
    // When valid, a data reference is drawn at this size before it is exported.
    const Kelvo_Size& targetSize() const { return _targetSize; }

    // The exporter's input: kinds 2 (pointer data with a description, else 9), 3 (picture),
    // 4 (world), 6 (CGImage), 7 (bitmap context); 79 for other kinds, -50 for null. The input is
    // read when the export runs: the caller keeps it alive until then.
    void _setInputData(compressionInputRecord* record);
    // The exporter's output; -50 for null, 80 for a kind or data reference it cannot write to.
    void _setOutputData(compressionOutputRecord* record);
    // Exports the input set last to `out`: the bytes written, 0 on failure.
    uint32_t doService(compressionOutputRecord* out);
    // Draws the image the reference names (at the target size when it is valid) and exports it.
    uint32_t doService(const Kelvo_DataReference* reference, compressionOutputRecord* out);
    // Exports the buffer's world.
    uint32_t doService(Kelvo_QDGWorldBuffer* buffer, compressionOutputRecord* out);
    // Exports a CGImage or a CG bitmap context, told apart by their type; 79 for anything else.
    uint32_t doService(const void* object, compressionOutputRecord* out);

    bool inputSet() const { return _inputSet; }

  protected:
    // The service's exporter, or null.
    GraphicsExportComponent exporter() const;
    // Applies the held settings to the exporter; when it refuses them the status is its answer
    // and the held settings become the exporter's own.
    void applySettings();
    // Takes the exporter's settings again into the held container, keeping atoms of other types.
    OSErr refreshSettings();
    void connect(uint32_t subtype);
    void afterChange(ComponentResult result);

    OSType _defaultExtension = 0;
    char* _extensionText = nullptr;
    Kelvo_Size _targetSize;
    bool _inputSet = false;
    ICMProgressProcPtr _eventsProc = nullptr;
};
