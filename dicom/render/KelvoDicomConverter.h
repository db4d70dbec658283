// Converters that write a DICOM Part 10 file whose attributes come from a DICOM data tree (the
// DICOM source, optional) and whose pixels come from a toolkit object (the data source). The base
// holds both sources, the image-pixel parameters (group 0028) that describe what is written, the
// progress notifier and the transfer syntax; the movie converter writes one DICOM frame per video
// frame, raw or as JPEG / JPEG 2000 fragments.
#pragma once

#include "KelvoCoreObjects.h"
#include "KelvoCoreObjectsEvents.h"
#include "PlatformGWorlds.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

class Kelvo_Image;
class Kelvo_Movie;
class Kelvo_QDGWorldBuffer;
class KelvoDicomDataImagePixel;
class KelvoDicomDataTree;

class KelvoDicomConverter : public Kelvo_QTObj {
  public:
    KelvoDicomConverter();
    ~KelvoDicomConverter() override;
    KelvoDicomConverter& operator=(const KelvoDicomConverter&) = delete;

    const char* qtObjName() const override { return "KelvoDicomConverter"; }
    // A converter is usable once it holds a data source.
    bool qtObjIsValid() override { return _dataSource != nullptr; }
    bool qtObjIsValid() const override { return _dataSource != nullptr; }
    // Reset, then, from a converter of the same type, its DICOM source and its data source.
    void copy(Kelvo_QTObj& other) override;
    bool isA(const char* name) const override;
    // reset(), then fresh image-pixel parameters.
    void defaultStatus() override;

    // Virtual operations in slot order.
    virtual bool checkDataSource(Kelvo_QTObj* object) = 0;
    virtual void writeData(FILE* file, uint32_t ioMode) = 0;
    // The image-pixel parameters afresh: the source tree's group 0028, or a default set of 512 x
    // 512. Every converter takes them this way.
    virtual void getDataParams();
    // Deletes the sources, the parameters and the notifier; transfer syntax back to 1.
    virtual void reset();
    // Keeps a clone of the tree (or none for null) and takes its transfer syntax: 301 for an
    // unknown one, 350 for one whose pixels are not written here (the converter stays on the
    // previous syntax, 1). The parameters follow the new source.
    virtual void setDicomSource(KelvoDicomDataTree* tree);
    virtual KelvoDicomDataTree* getDicomSource() { return _dicomSource; }
    virtual Kelvo_QTObj* getDataSource() { return _dataSource; }
    // Keeps a clone of the object when checkDataSource accepts it; the old source goes either way.
    virtual bool setDataSource(Kelvo_QTObj* object);
    virtual void convert() = 0;
    // Writes the whole file into the open stream from its current position; -50 without a stream
    // or parameters. A conversion that fails leaves the stream as it found it (what was written
    // is cut off again), so that no half-written DICOM file remains.
    virtual void convert(FILE* file);
    // Writes the whole file at `path`: into a temporary file beside it, renamed over the path
    // once complete, so that a failed conversion leaves what was there before (or nothing) and
    // never a file cut short. -50 for no path, for a destination that cannot be created, or for
    // the very file the DICOM source was read from (which stays as it is); -36 when the
    // finished file cannot be put in place.
    void convertToFile(const char* path);

    // The notifier is a clone of the argument (null: none).
    void Callback(Kelvo_ProgressNotifier* notifier);
    Kelvo_ProgressNotifier* Callback() { return _notifier; }

    // The encoding of the data after the meta header that the source's header names, as the
    // kDicmIO bits (which are the writers' flag bits): 0 without a source or header.
    uint32_t getIOMode();

  protected:
    // The copy constructors of the converters take the other's sources through the setters, which
    // call the derived class's checks: they do it once their own object is complete.
    KelvoDicomConverter(const KelvoDicomConverter& other);
    void takeSourcesOf(KelvoDicomConverter& other);
    void progress(double value, int32_t code);
    // Whether the open stream is the file the DICOM source was read from.
    bool isSourceFile(FILE* file);
    // The attributes: with a DICOM source its tree (group 0028 stored back, its own pixel data and
    // what would follow them left out) as a Part 10 file, else the image-pixel set alone in the
    // I/O mode. The status is the writer's.
    int32_t writeAttributes(FILE* file, uint32_t ioMode);
    // Whether the transfer syntax keeps its pixels as raw samples, which the converters write as
    // they are; the others are encapsulated.
    bool nativeSyntax() const { return _xferID >= 0 && _xferID <= 3; }
    // The pixel data element's header (long form in explicit VR) in the I/O mode.
    static void writePixelDataHeader(FILE* file, uint32_t ioMode, const char* vr, uint32_t length);
    // Window centre and width over the whole range of Bits Stored, unless both are given.
    void defaultWindow();
    // The bytes of one frame as the parameters describe it.
    uint64_t frameSize();
    // `rows` rows of `rowLength` bytes, one every `rowBytes` from `base`, without the row padding
    // that the declared length has no room for; 16-bit samples swapped when `swap`.
    static void writeRows(FILE* file, const uint8_t* base, size_t rowBytes, size_t rowLength, size_t rows,
                          bool swap);
    // A value as stored may carry its padding.
    static std::string trimmed(const char* text);

    Kelvo_QTObj* _dataSource = nullptr;
    KelvoDicomDataTree* _dicomSource = nullptr;
    KelvoDicomDataImagePixel* _params = nullptr;
    Kelvo_ProgressNotifier* _notifier = nullptr;
    int32_t _xferID = 1;
};

class KelvoDicomConvertMovie : public KelvoDicomConverter {
  public:
    KelvoDicomConvertMovie();
    explicit KelvoDicomConvertMovie(Kelvo_Movie* movie);
    KelvoDicomConvertMovie(const KelvoDicomConvertMovie& other);
    ~KelvoDicomConvertMovie() override;

    const char* qtObjName() const override { return "KelvoDicomConvertMovie"; }
    bool isA(const char* name) const override;
    Kelvo_QTObj* clone() override;

    // 79 for a movie without video or without duration, 10 for another class, an invalid
    // object's own verdict.
    bool checkDataSource(Kelvo_QTObj* object) override;
    void writeData(FILE* file, uint32_t ioMode) override;
    void reset() override;
    using KelvoDicomConverter::convert;
    void convert() override {}

    // Whether a basic offset table is wanted; the writer always writes an empty one.
    bool& offsetTableEnabled() { return _offsetTable; }

    // The video frames from the movie's current time: 1 plus the steps to the next video sample
    // that succeed (the movie stands after the last one). 0 without a movie.
    int32_t countFrame();

    int32_t writeDicomData(FILE* file, uint32_t ioMode);
    void writeRaw8bitData(FILE* file, uint32_t ioMode, Kelvo_QDGWorldBuffer* world);
    void writeRawData(FILE* file, uint32_t ioMode, Kelvo_QDGWorldBuffer* world);
    void writeQTCompressedData(FILE* file, uint32_t ioMode);

  private:
    Kelvo_Movie* movie();

    bool _offsetTable = false;
};

// The world's pixels as 8-bit grey ((117 B + 601 G + 306 R) >> 10) or R, G, B samples, row after
// row; the world must be 32-bit with rows of at least width x 4 bytes (else 9). A status.
int32_t Kelvo_GWToGrayScaleBuffer(GWorldPtr world, uint8_t* out);
int32_t Kelvo_GWToRGBBuffer(GWorldPtr world, uint8_t* out);

// The image converter: one toolkit image as a single-frame DICOM file, made to fit the image-pixel
// parameters (scaled to Columns x Rows, converted to the pixel format their samples ask for).
class KelvoDicomConvertImage : public KelvoDicomConverter {
  public:
    KelvoDicomConvertImage();
    explicit KelvoDicomConvertImage(Kelvo_Image* image);
    KelvoDicomConvertImage(const KelvoDicomConvertImage& other);
    ~KelvoDicomConvertImage() override;

    const char* qtObjName() const override { return "KelvoDicomConvertImage"; }
    bool isA(const char* name) const override;
    Kelvo_QTObj* clone() override;

    // -50 for a null or invalid object, 10 for one that is not an image.
    bool checkDataSource(Kelvo_QTObj* object) override;
    void writeData(FILE* file, uint32_t ioMode) override;
    using KelvoDicomConverter::convert;
    void convert() override {}

    // The image to write; `owned` says whether the caller deletes it. Null when scaling fails.
    Kelvo_Image* imageForDicomParams(bool& owned);
    void writeUncompressedData(FILE* file);
    int32_t writeDicomData(FILE* file, uint32_t ioMode);
};
