// The graphics import service: drives one platform graphics importer ('grip' component). It opens
// the importer on a data handle, a component or a data reference, exposes its image count and
// index, quality, flags, metadata and export settings, and decodes the image through its graphics
// context (a display transform made from the importer) into a new 32-bit buffer or a CG image,
// reporting the importer's progress as the component service's events ('THST', 'THPG', 'THED').
//
// The settings the service keeps are the importer's export settings; its settings documents are
// of type 'IMPI' and carry the importer's subtype as their tag, so that a document names the
// importer it belongs to. The default type and the file type are the importer's subtype; the
// default creator and the file creator 'TVOD'. The service sets the importer's flag that turns
// gamma correction off.
//
// On a service without importer every operation answers 0, false or null and changes nothing.
#pragma once

#include "KelvoComponentService.h"
#include "KelvoCoreVideoDataDescriptors.h"
#include "KelvoDataReference.h"
#include "KelvoGraphicsDisplay.h"
#include "KelvoUserData.h"
#include "KelvoVideo.h"

#include "PlatformCoreGraphics.h"
#include "PlatformFiles.h"
#include "PlatformGraphicsImport.h"
#include "PlatformObjects.h"

class Kelvo_ImportGraphics : public Kelvo_ComponentService {
  public:
    static constexpr uint32_t kServiceId = FOUR_CHAR_CODE("IMPI");
    // The creator the service's files are given.
    static constexpr OSType kCreator = FOUR_CHAR_CODE("TVOD");

    // The importer of that subtype; with `data` it reads the image in that handle, which the
    // caller keeps alive while the service uses it. An unknown subtype leaves no importer.
    Kelvo_ImportGraphics(uint32_t subtype, Handle data);
    // The importer `component`.
    explicit Kelvo_ImportGraphics(Component component);
    // The importer that the reference's content calls for (found as GetGraphicsImporterForDataRef
    // finds it; `dontValidate` skips the check that the content reads as an image). A null
    // reference gives -108, an invalid one its status (-50 when it has none); the service then has
    // no importer.
    Kelvo_ImportGraphics(const Kelvo_DataReference* reference, bool dontValidate);
    Kelvo_ImportGraphics(const Kelvo_ImportGraphics&) = delete;
    Kelvo_ImportGraphics& operator=(const Kelvo_ImportGraphics&) = delete;
    ~Kelvo_ImportGraphics() override;

    const char* qtObjName() const override { return "Kelvo_ImportGraphics"; }
    bool isA(const char* name) const override;

    uint32_t serviceId() override { return kServiceId; }
    // Takes the importer's export settings when none are held, makes the graphics context from
    // the importer, sets the types, creators and tag and the importer's no-gamma flag. An earlier
    // error status is kept.
    void InitService() override;
    bool hasGUI() override { return true; }
    // There is no dialog in this build: the importer answers as if the user cancelled it, which
    // leaves the status 0 and returns false. True only when the dialog succeeded.
    bool ShowDialog() override;
    bool ShowDialogWithin(OpaqueWindowPtr* window) override;
    // Five lines: the importer's name, the image count, the 0-based image index, whether export
    // settings are held, and whether gamma is corrected. `text` is new (delete[] by the caller),
    // or null on a service without importer.
    void settingsToString(char*& text) override;
    // Replaces the settings by those of the 'IMPI' document at `path` and gives them to the
    // importer. A document that cannot be read, is of another type (113), has no node (113), whose
    // node cannot be read, or whose tag names another importer (113) is not applied: the status
    // says why, and the settings are taken again from the importer, so they stay the importer's
    // own.
    void ReadSettings(const char* path) override;

    GraphicsImportComponent importer() const;

    // The importer's flags; the status is the platform's result.
    void Flags(int32_t flags);
    int32_t Flags();
    uint32_t ImageCount();
    // 0-based: the importer's index minus 1 (0 when it answers 0).
    uint32_t ImageIndex();
    void ImageIndex(uint32_t index);

    // A new description of the importer's image (the caller owns it) with its spatial quality and,
    // when the importer draws only part of the image, that part as its region of interest; null
    // with the status set when the image cannot be described.
    Kelvo_ImgDesc* videoParams();
    // The description's spatial quality becomes the importer's; its size, when valid, the graphics
    // context's destination; its region of interest, when valid and inside the image, the
    // context's source. A null or invalid description: -50.
    void videoParams(Kelvo_ImgDesc* description);

    // The transform the image is drawn through; the service owns it.
    Kelvo_DisplayTransform* graphicsContext() const { return _graphicsContext; }
    // Takes a copy of a valid transform; else -50.
    void graphicsContext(Kelvo_DisplayTransform* transform);

    // A new list (the caller owns it) of the importer's metadata.
    Kelvo_UDataList* metaData();
    // Appends the importer's metadata to a valid list; else -50.
    void metaDataCopyTo(Kelvo_UDataList* list);

    // The image drawn through the graphics context into a new 32-bit buffer that the caller
    // owns; `out` is null on failure, with the status set.
    Kelvo_QDGWorldBuffer* doService(Kelvo_QDGWorldBuffer*& out);
    // The same as a CG image that the caller releases.
    CGImageRef doService(CGImageRef& out);

  private:
    // Routes the importer's progress to the events handler and notifier when someone listens.
    void installProgress();

    ICMProgressProcPtr _eventsProc = nullptr;
    Kelvo_DisplayTransform* _graphicsContext = nullptr;
};

// Draws the image file into a new offscreen world (depth 32) that the caller owns, with its pixels
// locked: the world is `bounds` and the image is drawn onto it when `bounds` is given and the
// importer can map the image onto it, else the world is the image's natural bounds. -50 for a null
// file or world; the importer look-up's, the bounds', the world's and the draw's errors (an image
// whose header reads but whose pixels do not decode gives no world); -108 when the world's pixels
// cannot be locked. `*world` is null on failure.
OSErr KelvoFile_ImportGraphicsFile(FSSpec* file, GWorldPtr* world, Rect* bounds);
