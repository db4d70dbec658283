// The movie converter: every video frame of a movie becomes one DICOM frame, raw 8- or 16-bit
// samples or JPEG / JPEG 2000 fragments compressed through an image-sequence session.
#include "KelvoDicomConverter.h"

#include "KelvoCoreGraphics.h"
#include "KelvoDicomData.h"
#include "KelvoDicomDataImagePixel.h"
#include "KelvoDicomDataSet.h"
#include "KelvoDicomDataTree.h"
#include "KelvoDicomTypes.h"
#include "KelvoDicomUtils.h"
#include "KelvoGraphicsDisplay.h"
#include "KelvoImageTypes2D.h"
#include "KelvoMovie.h"
#include "KelvoVideo.h"
#include "KelvoVideoCompression.h"
#include "PlatformGraphicsExport.h"
#include "PlatformMemory.h"
#include "PlatformMoviePlayback.h"
#include "VUXDicomLib.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint16_t kRows = 0x0010;
constexpr uint16_t kColumns = 0x0011;
constexpr uint16_t kBitsAllocated = 0x0100;
constexpr uint16_t kBitsStored = 0x0101;
constexpr uint16_t kHighBit = 0x0102;
constexpr uint16_t kRepresentativeFrame = 0x6010;
constexpr uint16_t kFrameTime = 0x1063;
// The platform's interesting-time search takes media types, not characteristics.
constexpr uint32_t kVideoFrames = FOUR_CHAR_CODE("vide");
constexpr uint32_t kUndefinedLength = 0xFFFFFFFFu;

bool isJPEGFamily(int32_t id) {
    return id == 4 || id == 25;
}

// Where the movie draws for the conversion, and where it drew before.
class MovieWorld {
  public:
    explicit MovieWorld(Movie movie) : _movie(movie) { GetMovieGWorld(movie, &_port, &_device); }
    ~MovieWorld() { SetMovieGWorld(_movie, _port, _device); }
    MovieWorld(const MovieWorld&) = delete;
    MovieWorld& operator=(const MovieWorld&) = delete;

  private:
    Movie _movie;
    CGrafPtr _port = nullptr;
    GDHandle _device = nullptr;
};

} // namespace

int32_t Kelvo_GWToGrayScaleBuffer(GWorldPtr world, uint8_t* out) {
    Kelvo_QDGWorldBuffer wrapper(world, false);
    if (!wrapper.qtObjIsValid()) return wrapper.Error() ? wrapper.Error() : kKelvoBadArgumentObject;
    return dataFromQDContext<uint8_t, 1>(wrapper, out, 0);
}

int32_t Kelvo_GWToRGBBuffer(GWorldPtr world, uint8_t* out) {
    Kelvo_QDGWorldBuffer wrapper(world, false);
    if (!wrapper.qtObjIsValid()) return wrapper.Error() ? wrapper.Error() : kKelvoBadArgumentObject;
    return dataFromQDContext<uint8_t, 3>(wrapper, out, 0);
}

KelvoDicomConvertMovie::KelvoDicomConvertMovie() {
    getDataParams();
}

KelvoDicomConvertMovie::KelvoDicomConvertMovie(Kelvo_Movie* movie) {
    getDataParams();
    setDataSource(movie);
}

KelvoDicomConvertMovie::KelvoDicomConvertMovie(const KelvoDicomConvertMovie& other)
    : KelvoDicomConverter(other) {
    takeSourcesOf(const_cast<KelvoDicomConvertMovie&>(other));
    if (!_params) getDataParams();
}

KelvoDicomConvertMovie::~KelvoDicomConvertMovie() = default;

bool KelvoDicomConvertMovie::isA(const char* name) const {
    return KelvoDicomConverter::isA(name) || (name && std::strcmp(name, "KelvoDicomConvertMovie") == 0);
}

Kelvo_QTObj* KelvoDicomConvertMovie::clone() {
    return new (std::nothrow) KelvoDicomConvertMovie(*this);
}

void KelvoDicomConvertMovie::reset() {
    KelvoDicomConverter::reset();
    _offsetTable = false;
}

Kelvo_Movie* KelvoDicomConvertMovie::movie() {
    return static_cast<Kelvo_Movie*>(_dataSource);
}

bool KelvoDicomConvertMovie::checkDataSource(Kelvo_QTObj* object) {
    _status = 0;
    if (!object) {
        _status = kKelvoNothingToWorkOn;
        return false;
    }
    if (!object->qtObjIsValid()) {
        _status = object->Error() ? object->Error() : kKelvoNothingToWorkOn;
        return false;
    }
    if (!object->isA("Kelvo_Movie")) {
        _status = kKelvoWrongType;
        return false;
    }
    auto* m = static_cast<Kelvo_Movie*>(object);
    if (!m->qtHasVideo() || m->duration() <= 0) {
        _status = kKelvoNothingToWorkOn;
        return false;
    }
    return true;
}

int32_t KelvoDicomConvertMovie::countFrame() {
    if (!qtObjIsValid()) return 0;
    Kelvo_Movie* m = movie();
    int32_t frames = 1;
    int32_t last = m->time();
    for (;;) {
        const int32_t next = m->nextSampleTime(kVideoFrames, 4, true);
        // A step that does not move forward would count the same frame forever.
        if (next < 0 || next <= last) break;
        last = next;
        ++frames;
    }
    _status = m->Error();
    return frames;
}

int32_t KelvoDicomConvertMovie::writeDicomData(FILE* file, uint32_t ioMode) {
    // Frames are counted from the start, where the writers begin: a movie that stood in its
    // middle would otherwise lose its last frames.
    GoToBeginningOfMovie(*movie());
    const int32_t frames = countFrame();
    _params->FramesCount(frames);
    if (!_params->HasKey(kRepresentativeFrame))
        _params->setUSValueProperty(kRepresentativeFrame, uint16_t(frames / 2 + 1));
    defaultWindow();
    if (frames > 1) {
        KelvoDicomDataNode pointer("AT");
        AttributeTagRecord tag{0x0018, kFrameTime};
        pointer.atValueSet(&tag, -1);
        _params->FrameIncrementPointer(&pointer);
        if (_dicomSource) {
            Kelvo_QTObj* found = _dicomSource->getObjValue(0x0018);
            KelvoDicomDataSet* acquisition =
                found && found->isA("KelvoDicomDataSet") ? static_cast<KelvoDicomDataSet*>(found) : nullptr;
            if (!acquisition) {
                delete found;
                acquisition = new KelvoDicomDataSet(0x0018);
            }
            if (!acquisition->HasKey(kFrameTime)) {
                acquisition->setStringValueProperty(kFrameTime, "40");
                _dicomSource->setObjValue(0x0018, acquisition);
            }
            delete acquisition;
        }
    }
    writeAttributes(file, ioMode);
    if (_status != 0 || _params->FramesCount() == 0) return _status;

    const uint16_t allocated = _params->getUSValueProperty(kBitsAllocated);
    const char* vr = allocated >= 9 ? "OW" : "OB";
    if (nativeSyntax()) {
        const uint64_t total = frameSize() * uint64_t(frames);
        // Pixel data that its 32-bit length cannot describe is refused, not written cut.
        if (total + 1 >= kUndefinedLength) {
            _status = -50;
            return _status;
        }
        // Values have even lengths: an odd number of 8-bit samples is followed by a zero byte.
        writePixelDataHeader(file, ioMode, vr, uint32_t(total + (total & 1)));
    } else {
        writePixelDataHeader(file, ioMode, vr, kUndefinedLength);
        const uint32_t empty = 0; // the basic offset table
        DicomUtils_WriteItemStart(file, int32_t(ioMode), &empty);
    }
    return _status;
}

void KelvoDicomConvertMovie::writeData(FILE* file, uint32_t ioMode) {
    if (!qtObjIsValid()) {
        _status = kKelvoNothingToWorkOn;
        return;
    }
    // Frames are encoded raw, as JPEG or as JPEG 2000 only: a file of another encapsulated syntax
    // would claim frames it does not hold.
    if (!nativeSyntax() && !isJPEGFamily(_xferID)) {
        _status = -50;
        return;
    }
    const std::string photometric = trimmed(_params->PhotoInterpretation());
    const uint16_t columns = _params->getUSValueProperty(kColumns);
    const uint16_t rows = _params->getUSValueProperty(kRows);
    if (photometric.empty() || columns == 0 || rows == 0) {
        _status = -50;
        return;
    }
    const uint16_t allocated = _params->getUSValueProperty(kBitsAllocated);
    auto resetKeepingSize = [&] {
        _params->defaultStatus();
        _params->setUSValueProperty(kColumns, columns);
        _params->setUSValueProperty(kRows, rows);
    };
    uint32_t format = 0;
    // Grey frames are written as the movie drew them, brighter samples higher: MONOCHROME1 would
    // show them as a negative.
    if (photometric == "MONOCHROME1") _params->PhotoInterpretation("MONOCHROME2");
    if (photometric == "MONOCHROME1" || photometric == "MONOCHROME2") {
        if (allocated == 8) {
            format = isJPEGFamily(_xferID) ? 40 : 32;
        } else if (allocated == 16) {
            if (isJPEGFamily(_xferID)) {
                format = 24;
                _params->PhotoInterpretation("RGB");
                _params->setUSValueProperty(kBitsAllocated, 8);
                _params->setUSValueProperty(kBitsStored, 8);
                _params->setUSValueProperty(kHighBit, 7);
            } else if (_xferID == 21 || _xferID == 24) {
                format = FOUR_CHAR_CODE("b16g");
                resetKeepingSize();
            } else {
                format = FOUR_CHAR_CODE("b16g");
            }
        }
    } else if (photometric == "RGB") {
        if (allocated == 8) {
            format = 32;
        } else if (allocated >= 9 && isJPEGFamily(_xferID)) {
            // The codecs code 8-bit samples: a file that claimed 16 would be read wrongly.
            format = 32;
            _params->setUSValueProperty(kBitsAllocated, 8);
            _params->setUSValueProperty(kBitsStored, 8);
            _params->setUSValueProperty(kHighBit, 7);
        } else if (allocated >= 9) {
            format = FOUR_CHAR_CODE("b48r");
        }
    } else {
        format = 32;
        resetKeepingSize();
    }
    if (format == 0) {
        _status = -50;
        return;
    }
    // Colour frames are written sample after sample, whatever the source said.
    if (_params->PixelSamples() == 3) _params->PlanarConfiguration(0);
    // Baseline JPEG codes colour as Y, Cb, Cr: its frames are labelled so, or readers would show
    // the components as red, green and blue.
    if (_xferID == 4 && _params->PixelSamples() == 3) _params->PhotoInterpretation("YBR_FULL_422");
    // Frames drawn by a movie are unsigned samples; the range of the source's pixels no longer
    // describes them.
    _params->isTwoComplement(false);
    _params->RemoveKey(0x0106);
    _params->RemoveKey(0x0107);

    Kelvo_QDGWorldBuffer world(columns, rows, format);
    _status = world.Error();
    if (_status != 0 || !world.qtObjIsValid()) {
        if (_status == 0) _status = -50;
        return;
    }
    world.erase(nullptr);
    Kelvo_Movie* m = movie();
    MovieWorld restore(*m);
    SetMovieGWorld(*m, world.buffer(), nullptr);
    _status = GetMoviesError();
    if (_status != 0) return;
    Kelvo_Rect& natural = m->qtNaturalBounds();
    const Rect bounds = *const_cast<Kelvo_Rect&>(world.bounds()).rPtr();
    const Rect source = *natural.rPtr();
    if (std::memcmp(&source, &bounds, sizeof(Rect)) != 0) {
        Rect fitted{0, 0, 0, 0};
        Kelvo_RectScaleInRect(&bounds, &source, &fitted);
        // The movie's clip is in movie coordinates, where the whole natural frame is wanted: the
        // matrix alone keeps the drawing inside the fitted rectangle.
        Kelvo_DisplayTransform transform(natural, Kelvo_Rect(fitted));
        m->qtDisplayProperties(&transform);
    }

    if (writeDicomData(file, ioMode) == 0) {
        if (nativeSyntax()) {
            if (_params->getUSValueProperty(kBitsAllocated) < 9)
                writeRaw8bitData(file, ioMode, &world);
            else
                writeRawData(file, ioMode, &world);
            if (_status == 0 && (frameSize() * uint64_t(_params->FramesCount())) % 2 != 0)
                std::fputc(0, file);
        } else if (isJPEGFamily(_xferID)) {
            writeQTCompressedData(file, ioMode);
        }
    }
    if (_status == 0 && !nativeSyntax()) DicomUtils_WriteEndofDelimiter(file, int32_t(ioMode), 0xE0DD);
}

void KelvoDicomConvertMovie::writeRaw8bitData(FILE* file, uint32_t, Kelvo_QDGWorldBuffer* world) {
    const uint16_t samples = _params->PixelSamples();
    const uint16_t columns = _params->getUSValueProperty(kColumns);
    const uint16_t rows = _params->getUSValueProperty(kRows);
    if (samples != 1 && samples != 3) {
        _status = -50;
        progress(1.0, _status);
        return;
    }
    std::vector<uint8_t> frame(size_t(columns) * rows * samples);
    Kelvo_Movie* m = movie();
    GoToBeginningOfMovie(*m);
    const int32_t count = _params->FramesCount();
    for (int32_t i = 0; i < count; ++i) {
        MoviesTask(*m, 0);
        const int32_t err = samples == 1 ? Kelvo_GWToGrayScaleBuffer(world->buffer(), frame.data())
                                         : Kelvo_GWToRGBBuffer(world->buffer(), frame.data());
        if (err != 0) {
            _status = err;
            break;
        }
        std::fwrite(frame.data(), 1, frame.size(), file);
        if (i + 1 < count && m->nextSampleTime(kVideoFrames, 4, true) < 0) break;
        progress(double(i) / count, 0);
    }
    progress(1.0, _status);
}

void KelvoDicomConvertMovie::writeRawData(FILE* file, uint32_t ioMode, Kelvo_QDGWorldBuffer* world) {
    const size_t rowLength = size_t(world->width()) * size_t(world->bitsPerPixel() / 8);
    const size_t rowBytes = size_t(world->rowBytes());
    const bool swap = (ioMode & kDicmIOSwap) && world->bitsPerPixel() >= 16;
    Kelvo_Movie* m = movie();
    GoToBeginningOfMovie(*m);
    const int32_t count = _params->FramesCount();
    for (int32_t i = 0; i < count; ++i) {
        MoviesTask(*m, 0);
        const auto* base = reinterpret_cast<const uint8_t*>(world->baseAddress());
        if (!base || rowBytes < rowLength) {
            _status = kKelvoBadArgumentObject;
            break;
        }
        writeRows(file, base, rowBytes, rowLength, size_t(std::max(world->height(), 0)), swap);
        if (i + 1 < count && m->nextSampleTime(kVideoFrames, 4, true) < 0) break;
        progress(double(i) / count, 0);
    }
    progress(1.0, _status);
}

void KelvoDicomConvertMovie::writeQTCompressedData(FILE* file, uint32_t ioMode) {
    Kelvo_ImgDesc* description = _params->ImageParams();
    if (!description) {
        _status = _params->Error() ? _params->Error() : -50;
        return;
    }
    Kelvo_QDGWorldBuffer world(_params->getUSValueProperty(kColumns), _params->getUSValueProperty(kRows), 32);
    if (!world.qtObjIsValid()) {
        _status = world.Error() ? world.Error() : -50;
        delete description;
        return;
    }
    world.erase(nullptr);
    description->dataFormat(_xferID == 25 ? FOUR_CHAR_CODE("mjp2") : FOUR_CHAR_CODE("jpeg"));
    // The JPEG 2000 syntax written is the lossless-only one: its frames must be lossless.
    description->qtSpatialQuality(_xferID == 25 ? codecLosslessQuality : 768);
    description->qtTemporalQuality(0);
    Kelvo_ImgDescComp* parameters = new Kelvo_ImgDescComp(description->hImageDesc());
    Kelvo_ImageSequenceCompressionSession* session =
        new Kelvo_ImageSequenceCompressionSession(parameters, 600);
    Handle data = NewHandle(0);
    session->outputStorage() = KelvoCompressionOutput{2, data};
    Kelvo_Movie* m = movie();
    MovieWorld restore(*m);
    SetMovieGWorld(*m, world.buffer(), nullptr);
    if (!session->beginSession(&world)) {
        _status = session->Error() ? session->Error() : -50;
    } else {
        GoToBeginningOfMovie(*m);
        const int32_t count = _params->FramesCount();
        for (int32_t i = 0; i < count; ++i) {
            SetHandleSize(data, 0);
            MoviesTask(*m, 0);
            _status = session->compressData(-1, -1);
            if (_status != 0) break;
            const uint64_t n = uint64_t(GetHandleSize(data));
            if (n + 1 >= kUndefinedLength) {
                _status = -50;
                break;
            }
            const uint32_t length = uint32_t(n + (n & 1));
            DicomUtils_WriteItemStart(file, int32_t(ioMode), &length);
            std::fwrite(*data, 1, size_t(n), file);
            if (n & 1) std::fputc(0, file);
            if (i + 1 < count && m->nextSampleTime(kVideoFrames, 4, true) < 0) break;
            progress(double(i) / count, 0);
        }
        progress(1.0, _status);
        session->endSession();
    }
    delete session;
    delete parameters;
    DisposeHandle(data);
    delete description;
}
