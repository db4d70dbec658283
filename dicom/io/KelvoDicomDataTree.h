// A whole DICOM file in memory: an atom container whose top-level children are the groups ('DAST'
// atoms), the file meta header, the icon sequences met while reading, the pixel-data chunk table
// and the path of the file it came from (pixel data stay there). A document is the tree of an
// image file, a directory document the tree of a DICOMDIR; the header's Media Storage SOP Class
// chooses between them when a file is opened.
#pragma once

#include "KelvoDicomData.h"
#include "KelvoDicomDataHandlers.h"
#include "KelvoDicomDataSet.h"
#include "KelvoDicomSequence.h"

#include <string>

class KelvoDicomDataHeader;
class KelvoDicomDataFileSet;
class KelvoDicomOutputFile;
class KelvoDicomImageIcon;
class KelvoDicomVideoPresentation;

class KelvoDicomDataTree : public Kelvo_Dictionary {
  public:
    KelvoDicomDataTree();
    explicit KelvoDicomDataTree(const char* path);
    KelvoDicomDataTree(const KelvoDicomDataTree& other);
    KelvoDicomDataTree& operator=(const KelvoDicomDataTree& other);
    ~KelvoDicomDataTree() override;

    // A new directory document or document for the file (caller owns; check its status), or null
    // when the file has no readable header.
    static KelvoDicomDataTree* openFile(const char* path);

    const char* qtObjName() const override { return "KelvoDicomDataTree"; }
    bool qtObjIsValid() override;
    bool qtObjIsValid() const override { return const_cast<KelvoDicomDataTree*>(this)->qtObjIsValid(); }
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;
    // A tree is dumped through the writers only.
    void flushToText(FILE*, QTAtom) override {}
    void flushToXml(FILE*, QTAtom) override {}
    QTAtom FindItem(int32_t key, QTAtom parentAtom) override;
    int32_t Key(int16_t index) override;
    // A new data-set view of the group (caller owns), or null.
    Kelvo_QTObj* getObjValue(int32_t key) override;
    void setObjValue(int32_t key, Kelvo_QTObj* value) override;
    void toTextFile(const char* path) override;
    void toXmlFile(const char* path) override;
    // The Part 10 form of the tree (or the DICOMDIR of a directory document) into the caller's
    // open stream, which stays open after the last group; `flags` is not used.
    void flushToBinary(FILE* file, const void* flags) override;
    // A DICOM file at `path`; `option` points to a byte that asks for group lengths (none when
    // null). The tree's status is the writer's. Written over the file its pixel or waveform data
    // come from, the tree then finds them where they are in the new file.
    void toBinaryFile(const char* path, const void* option) override;
    void toDicomFile(const char* path, uint8_t useGroupLength);

    virtual void _anonymizeData(KelvoDicomDataTree& target);
    virtual void _addThumbnailEntry(QTAtom atom);
    virtual void _writeToStream(KelvoDicomOutputFile& out);
    // A new copy of the header (caller owns), null when the tree is not valid.
    virtual KelvoDicomDataHeader* Header() const;
    virtual void Header(KelvoDicomDataHeader* header);
    virtual int32_t thumbnailsCount();
    // One new icon per icon image sequence met while reading, in file order (caller owns the
    // list and its icons); null when there is none or the list cannot be made.
    Kelvo_QTObjectsList* thumbnails();
    // A new icon for entry `index` (from 0) of the icon sequences (caller owns), or null with the
    // status: -50 for no such entry, else the icon's own error.
    KelvoDicomImageIcon* thumbnail(int32_t index);
    // A new presentation of icon `index` (caller owns), or null with the status of what failed.
    // It is built by the rendering library, which callers of it link.
    KelvoDicomVideoPresentation* thumbnailDisplay(int32_t index);
    // A clone with its names, dates, times and identifiers anonymised (caller owns).
    virtual KelvoDicomDataTree* anonymize();

    bool hasFileStorage() const { return !_path.empty(); }
    const char* Path() const { return _path.empty() ? nullptr : _path.c_str(); }
    KelvoDicomDataNode* getKeys();
    Kelvo_QTObjectsList* values();
    void values(Kelvo_List* list);
    int32_t newKeyIndex(int32_t key, QTAtom parent);
    QTAtom newKeyAtom(int32_t key, QTAtom parent);
    // The table of pixel-data chunks the reader built, owned by the tree (null when none).
    KelvoDicomDataChunks* pixelData() const { return _pixelData; }
    void pixelData(KelvoDicomDataChunks* chunks);
    // The atoms of the icon image sequences met while reading, in file order.
    KelvoDicomDataNode& thumbnailEntries() { return _thumbnails; }
    // The status of a read that failed (0 otherwise): such a tree is not written or dumped.
    int32_t readError() const { return _readError; }

  protected:
    void readFrom(const char* path);

    std::string _path;
    KelvoDicomDataHeader* _header = nullptr;
    KelvoDicomDataNode _thumbnails{"SL"};
    KelvoDicomDataChunks* _pixelData = nullptr;
    int32_t _readError = 0;
};

class KelvoDicomDocument : public KelvoDicomDataTree {
  public:
    KelvoDicomDocument() = default;
    explicit KelvoDicomDocument(const char* path) : KelvoDicomDataTree(path) {}
    KelvoDicomDocument(const KelvoDicomDocument& other) = default;

    const char* qtObjName() const override { return "KelvoDicomDocument"; }
    bool qtObjIsValid() override;
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;
    void setObjValue(int32_t key, Kelvo_QTObj* value) override;

    // The atom of the pixel data element, else of the waveform data, else 0.
    QTAtom hasMedia();
    // A new copy of the pixel-data chunk table (caller owns), or null.
    virtual KelvoDicomPixelData* mediaDataSamplesInfo();
    // A new presentation of the pixel data (caller owns), or null with the status: -108 without
    // pixel data, else the presentation's own error. Built by the rendering library.
    KelvoDicomVideoPresentation* dataDisplay();
};

class KelvoDicomDirectoryDocument : public KelvoDicomDataTree {
  public:
    KelvoDicomDirectoryDocument();
    explicit KelvoDicomDirectoryDocument(const char* path) : KelvoDicomDataTree(path) {}
    KelvoDicomDirectoryDocument(const KelvoDicomDirectoryDocument& other) = default;

    static const char* fileID() { return "DICOMDIR"; }
    const char* qtObjName() const override { return "KelvoDicomDirectoryDocument"; }
    bool qtObjIsValid() override;
    Kelvo_QTObj* clone() override;
    bool isA(const char* name) const override;
    Kelvo_QTObj* getObjValue(int32_t key) override;
    void setObjValue(int32_t key, Kelvo_QTObj* value) override;
    void Header(KelvoDicomDataHeader* header) override;
    void _anonymizeData(KelvoDicomDataTree& target) override;

    bool _headerCheck(KelvoDicomDataHeader* header);
    KelvoDicomDataFileSet* root();
    void root(KelvoDicomDataFileSet* fileSet);
    QTAtom getRootOfItems();
    KelvoDicomDataItemGroup* rootDirectory();
};
