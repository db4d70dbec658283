#include "KelvoDicomVideoPresentation.h"

#include "JPEGLib.h"
#include "KelvoCoreObjectsTypes.h"
#include "KelvoDicomImageIcon.h"
#include "KelvoDicomUtils.h"
#include "KelvoImage.h"
#include "KelvoImageDescriptors.h"
#include "KelvoImageTypes.h"
#include "KelvoMovie.h"
#include "KelvoTrackProviders.h"
#include "KelvoVideo.h"
#include "KelvoVideoDecompression.h"
#include "PlatformCodecEngines.h"
#include "PlatformEndian.h"
#include "PlatformMemory.h"
#include "RLELib.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

namespace {

constexpr uint16_t kColumns = 0x0011;
constexpr uint16_t kRows = 0x0010;
constexpr uint16_t kBitsAllocated = 0x0100;
constexpr uint32_t kLosslessJPEGSyntax = 21;
constexpr uint32_t kRLESyntax = 24;
constexpr uint32_t kJPEGBaselineSyntax = 4;
constexpr uint32_t kJPEG2000LosslessSyntax = 25;
constexpr uint32_t kJPEG2000Syntax = 26;
const char* const kExplicitLittleEndianUID = "1.2.840.10008.1.2.1";
// Frames of a multi-frame image: 25 a second at the time scale of 600.
constexpr int32_t kFrameDuration = 24;
constexpr int32_t kStillDuration = 600;

inline uint16_t load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

// How the samples of a grey frame become raw values, read from the description once for a
// whole call: every element of the description is an atom look-up, far too dear for a sample.
// The values are the modality values of the stored bits (rescaled for samples over 8 bits), in
// 32 bits: a value below zero (or past 65535) stays what it is.
struct RawSamples16 {
    DicomStoredValues values;
    // The drawer swaps the frames it draws as it windows them, so the samples kept are as
    // stored: they are swapped here. Otherwise they were swapped when read.
    bool swap = false;
    bool wide = true;

    int32_t operator()(uint16_t raw) const {
        if (swap) raw = uint16_t((raw >> 8) | (raw << 8));
        return values.valueOfWord(raw);
    }
    int32_t at(const uint8_t* frame, size_t index) const {
        return wide ? (*this)(load16(frame + 2 * index)) : values.valueOfWord(frame[index]);
    }
};

// Read in one fixed order, whatever the call: the description keeps the status of its last
// look-up, which is then the same after one raw value as after a whole frame's.
RawSamples16 rawSamples16(KelvoDicomDataImagePixel& imagePixel, bool autoCorrection) {
    RawSamples16 d;
    d.values = DicomStoredValues::of(imagePixel);
    d.wide = imagePixel.getUSValueProperty(kBitsAllocated) > 8;
    // Rescaling applies only to samples over 8 bits.
    if (!d.wide) d.values.rescale = false;
    d.swap = autoCorrection && imagePixel.needByteSwapping();
    return d;
}

// The raw values of the rows [top, bottom) and columns [left, right) of a frame `columns` wide,
// one after the other into `out`.
template <class T>
void collectRaw16(const RawSamples16& d, const uint8_t* frame, uint32_t columns, uint32_t left, uint32_t top,
                  uint32_t right, uint32_t bottom, T* out) {
    const uint32_t width = right - left;
    for (uint32_t y = top; y < bottom; ++y, out += width) {
        const uint8_t* row = frame + (d.wide ? 2 : 1) * (size_t(y) * columns + left);
        for (uint32_t x = 0; x < width; ++x)
            out[x] = T(d.at(row, x));
    }
}

} // namespace

bool KelvoDicomVideoPresentation::Bytes::reserve(uint32_t n) {
    if (n <= capacity) return true;
    bytes.reset(new (std::nothrow) uint8_t[n]);
    capacity = bytes ? n : 0;
    length = 0;
    return bytes != nullptr;
}

// ---------------------------------------------------------------------------------------------
// Life

KelvoDicomVideoPresentation::KelvoDicomVideoPresentation() = default;

KelvoDicomVideoPresentation::KelvoDicomVideoPresentation(KelvoDicomDataImagePixel* imagePixel,
                                                         KelvoDicomPixelData* pixelData) {
    if (!imagePixel || !pixelData || !imagePixel->isA("KelvoDicomDataImagePixel") ||
        !pixelData->isA("KelvoDicomPixelData")) {
        _status = kKelvoBadArgumentObject;
        return;
    }
    _imagePixel = new KelvoDicomDataImagePixel(*imagePixel);
    _chunks = new KelvoDicomPixelData(*pixelData);
    initMediaSamplesContext();
    if (_status != noErr) return;
    Update();
    // A frame that could not be read leaves its status; the time controller is made anyway so
    // that the other frames can be played.
    const int32_t frameError = _status;
    _initTimeController();
    if (_status == noErr) _status = frameError;
}

KelvoDicomVideoPresentation::KelvoDicomVideoPresentation(KelvoDicomImageIcon* icon) {
    if (!icon || !icon->qtObjIsValid()) {
        _status = icon ? (icon->Error() != noErr ? icon->Error() : int32_t(paramErr)) : int32_t(memFullErr);
        return;
    }
    _chunks = icon->iconSamplesTable();
    if (!_chunks) {
        _status = icon->Error() != noErr ? icon->Error() : int32_t(memFullErr);
        return;
    }
    _imagePixel = new KelvoDicomDataImagePixel(*icon->iconDescription());
    initMediaSamplesContext();
    if (_singleFrame && _status == noErr) {
        const uint32_t bytes = _chunks->chunkSize(0);
        const uint32_t available = icon->icon()->bufferSize();
        // The icon's pixels and its description agree on the frame's size; never read or write
        // past either when they do not.
        const uint32_t n = std::min({bytes, available, _imagePixel->size()});
        std::memcpy(_singleFrame, icon->icon()->buffer(), n);
        Update();
    }
}

KelvoDicomVideoPresentation::~KelvoDicomVideoPresentation() {
    Kelvo_CoreIdler::_stopIdlingLoop();
    _autoIdling = 0;
    // Playback stops quietly: nobody is told about an object that is going away.
    if (_timeBase) _timeBase->rate(0.0);
    if (_stream) std::fclose(_stream);
    _stream = nullptr;
    delete _chunks;
    _chunks = nullptr;
    delete[] _singleFrame;
    _singleFrame = nullptr;
    // The effect draws from the drawer's offscreen buffer, which goes with the drawer.
    if (_effectSession && _effectSession->isActive()) _effectSession->endSession();
    _dataSourceBuffer = nullptr;
    _dataSource = nullptr;
    _drawer.attachDataSource(nullptr, nullptr);
    delete[] _workingBuffer;
    _workingBuffer = nullptr;
    delete _imagePixel;
    _imagePixel = nullptr;
}

bool KelvoDicomVideoPresentation::qtObjIsValid() {
    return Kelvo_VideoPresentation::qtObjIsValid() && _drawer.qtObjIsValid();
}

bool KelvoDicomVideoPresentation::qtObjIsValid() const {
    return Kelvo_VideoPresentation::qtObjIsValid() && _drawer.qtObjIsValid();
}

bool KelvoDicomVideoPresentation::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_VideoPresentation::isA(name) || std::strcmp(name, "KelvoDicomVideoPresentation") == 0;
}

bool KelvoDicomVideoPresentation::platformDrawn() const {
    const dicmXferSyntaxInfo* syntax = _imagePixel ? _imagePixel->pixelEncoding() : nullptr;
    return syntax && (syntax->flags & kDicmXferPlatformCodec) && !_decodeHere;
}

bool KelvoDicomVideoPresentation::encapsulated() const {
    const dicmXferSyntaxInfo* syntax = _imagePixel ? _imagePixel->pixelEncoding() : nullptr;
    return syntax && (syntax->flags & kDicmXferEncapsulated);
}

// ---------------------------------------------------------------------------------------------
// Media set-up

void KelvoDicomVideoPresentation::initMediaSamplesContext() {
    int32_t error = 0;
    if (!_chunks || !_chunks->qtObjIsValid()) {
        _status = _chunks && _chunks->Error() != noErr ? _chunks->Error() : int32_t(paramErr);
        return;
    }
    if (!_imagePixel || !Kelvo_QTObj::isValidInstance(_imagePixel, error, false)) {
        _status = error != noErr ? error : int32_t(paramErr);
        return;
    }
    const dicmXferSyntaxInfo* syntax = _chunks->chunksEncodingInfo();
    if (!syntax || !(syntax->flags & kDicmXferReadable)) {
        _status = kDicomSyntaxNotReadable;
        return;
    }
    // Only JPEG and JPEG 2000 have a platform codec: frames of the other codec syntaxes (the
    // MPEG ones) would reach the session as raw pixels and show their compressed bytes.
    if ((syntax->flags & kDicmXferPlatformCodec) && syntax->id != kJPEGBaselineSyntax &&
        syntax->id != kJPEG2000LosslessSyntax && syntax->id != kJPEG2000Syntax) {
        _status = noCodecErr;
        return;
    }
    const uint32_t frameBytes = _imagePixel->size();
    if (frameBytes == 0) {
        // Nothing to show: no rows, no columns or no bits allocated.
        _status = _imagePixel->Error() != noErr ? _imagePixel->Error() : int32_t(paramErr);
        return;
    }
    // Pixels are grey, colour or colour with alpha, in samples of whole bytes up to 64 bits: a
    // description outside that is not an image, and its frame size (thousands of samples of
    // thousands of bits) would only be memory asked for nothing.
    const uint16_t samplesPerPixel = _imagePixel->PixelSamples();
    const uint16_t allocated = _imagePixel->getUSValueProperty(kBitsAllocated);
    if ((samplesPerPixel != 1 && samplesPerPixel != 3 && samplesPerPixel != 4) || allocated > 64 ||
        allocated % 8 != 0) {
        _status = paramErr;
        return;
    }
    // Grey frames of the JPEG and JPEG 2000 syntaxes are decoded into samples here, so that they
    // are windowed, inverted and answer raw values as native ones do. The codec's own drawing
    // has no window: a frame of more than 8 bits would show its low byte, MONOCHROME1 would not
    // be inverted, and no samples would be kept.
    const uint16_t bitsAllocated = _imagePixel->getUSValueProperty(kBitsAllocated);
    _decodeHere = (syntax->flags & kDicmXferPlatformCodec) && _imagePixel->PixelSamples() == 1 &&
                  (bitsAllocated == 8 || bitsAllocated == 16);
    const bool codecDrawn = (syntax->flags & kDicmXferPlatformCodec) && !_decodeHere;
    _workingCapacity = frameBytes;
    if (codecDrawn) {
        // The codec reads the compressed frame from the working buffer: a small picture may
        // take more bytes compressed than drawn. Chunks are only trusted as far as the file goes.
        struct stat st {};
        const char* source = _chunks->pathToFile();
        const uint64_t bound = source && *source && stat(source, &st) == 0 ? uint64_t(st.st_size) : 0;
        uint64_t largest = frameBytes;
        for (uint32_t i = 0; i < _chunks->count(); ++i)
            largest = std::max<uint64_t>(largest, std::min<uint64_t>(_chunks->chunkSize(i), bound));
        _workingCapacity = uint32_t(std::min<uint64_t>(largest, std::numeric_limits<uint32_t>::max()));
    }
    // Nothing the size of a frame is made for a file whose chunks cannot fill one.
    if (!dataFillsAFrame()) return;
    // Frames read from a file are filled by the read (or cleared when it fails) before they are
    // shown; an icon's pixels are copied in by the caller, as far as they go.
    const char* source = _chunks->pathToFile();
    const bool inMemory = !source || !*source;
    _workingBuffer = inMemory ? new (std::nothrow) uint8_t[_workingCapacity]()
                              : new (std::nothrow) uint8_t[_workingCapacity];
    if (!_workingBuffer) {
        _status = memFullErr;
        return;
    }
    _imagePixel->pixelEncoding() = syntax;
    const bool packed = syntax->flags & kDicmXferEncapsulated;
    if (_chunks->count() == 1 && !packed) {
        _sampleDuration = kStillDuration;
        _singleFrame =
            inMemory ? new (std::nothrow) uint8_t[frameBytes]() : new (std::nothrow) uint8_t[frameBytes];
        if (!_singleFrame) {
            _status = memFullErr;
            return;
        }
    } else {
        _sampleDuration = kFrameDuration;
        if (!codecDrawn && !_rawCopy.reserve(frameBytes)) {
            _status = memFullErr;
            return;
        }
    }
    _status = noErr;
    const char* path = _chunks->pathToFile();
    if (path && *path) {
        _stream = std::fopen(path, "rb");
        if (!_stream) {
            _status = kKelvoCannotOpenForReading;
            return;
        }
        struct stat st {};
        if (fstat(fileno(_stream), &st) == 0) {
            _fileSize = int64_t(st.st_size);
            _fileTime = st.st_mtim;
        }
        if (_singleFrame) {
            readDataFromMedia(_singleFrame);
            // A frame that cannot be read shows blank.
            if (_status != noErr) std::memset(_singleFrame, 0, frameBytes);
        }
        // Compressed frames get their bytes as they are read, as many as each chunk has.
    } else {
        // Pixels that lie in memory (an icon's): the copy is filled by the caller.
        _currentFrame = 1;
    }
    const int32_t readError = _status;
    if (_decodeHere) {
        // The drawer renders the decoded samples as a native frame in the byte order of the host
        // (little endian, as the syntax below says).
        KelvoDicomDataImagePixel samples(*_imagePixel);
        samples.pixelEncoding() = DicmDict_XFerSyntax(kExplicitLittleEndianUID);
        _drawer.attachDataSource(_workingBuffer, &samples);
    } else {
        _drawer.attachDataSource(_workingBuffer, _imagePixel);
    }
    if (_drawer.qtPixelBuffer() && _drawer.data()) {
        _dataSource = &_drawer;
        _dataSourceBuffer = _drawer.qtPixelBuffer();
        const Kelvo_Rect bounds(_dataSourceBuffer->width(), _dataSourceBuffer->height());
        _displayTransform = new Kelvo_DisplayTransform(bounds, bounds);
        initDataPlayer();
        if (_status == noErr) _status = readError;
    } else {
        _status = _drawer.Error() != noErr ? _drawer.Error() : int32_t(paramErr);
    }
}

bool KelvoDicomVideoPresentation::dataFillsAFrame() {
    const char* path = _chunks->pathToFile();
    if (!path || !*path) return true;
    struct stat st {};
    if (stat(path, &st) != 0) {
        _status = kKelvoCannotOpenForReading;
        return false;
    }
    const int64_t fileSize = int64_t(st.st_size);
    const dicmXferSyntaxInfo* syntax = _chunks->chunksEncodingInfo();
    const bool packed = syntax && (syntax->flags & kDicmXferEncapsulated);
    const bool platformCodec = syntax && (syntax->flags & kDicmXferPlatformCodec);
    if (platformCodec) return codestreamFitsFrame(fileSize);
    const uint64_t frameBytes = _imagePixel->size();
    const uint64_t samples = uint64_t(_imagePixel->getUSValueProperty(kColumns)) *
                             _imagePixel->getUSValueProperty(kRows) *
                             std::max<uint16_t>(_imagePixel->PixelSamples(), 1);
    // What the bytes of one chunk can give at most: themselves for native frames; 64 bytes a
    // byte for RLE (a two-byte run of 128); for lossless JPEG a sample for every bit (the
    // shortest Huffman code), at the bytes a sample of the frame.
    uint64_t needed = storedFrameBytes(), perByte = 1;
    if (packed && syntax->id == kRLESyntax) {
        needed = frameBytes;
        perByte = 64;
    } else if (packed && syntax->id == kLosslessJPEGSyntax) {
        needed = samples;
        perByte = 8;
    }
    for (uint32_t i = 0; i < _chunks->count(); ++i) {
        int64_t offset = 0;
        uint32_t size = 0;
        _chunks->chunkInfo(offset, size, i);
        if (_chunks->Error() != noErr || offset < 0 || offset >= fileSize) continue;
        const uint64_t present = std::min<uint64_t>(size, uint64_t(fileSize - offset));
        if (present * perByte >= needed) return true;
    }
    _status = !packed                    ? int32_t(eofErr)
              : syntax->id == kRLESyntax ? int32_t(kRLECorruptErr)
                                         : int32_t(kKelvoElementUnreadable);
    return false;
}

bool KelvoDicomVideoPresentation::codestreamFitsFrame(int64_t fileSize) {
    const dicmXferSyntaxInfo* syntax = _chunks->chunksEncodingInfo();
    const bool jpeg = syntax->id == kJPEGBaselineSyntax;
    const auto format = jpeg ? platform::codec::Format::JPEG : platform::codec::Format::JPEG2000;
    const uint32_t columns = _imagePixel->getUSValueProperty(kColumns);
    const uint32_t rows = _imagePixel->getUSValueProperty(kRows);
    const uint64_t pixels = uint64_t(columns) * rows;
    // A JPEG block of 64 pixels takes at least a bit of entropy-coded data: a stream of n bytes
    // codes at most 512n pixels. A JPEG 2000 codestream has no such bound (a constant picture of
    // any size takes a few bytes), so there the header's own word is all there is.
    constexpr uint64_t kJPEGPixelsPerByte = 512;
    // The main header lies in the first fragment: a stream whose header needs more than this
    // is taken as unreadable rather than read whole.
    constexpr uint32_t kHeaderBytes = 1u << 22;
    std::FILE* file = std::fopen(_chunks->pathToFile(), "rb");
    if (!file) {
        _status = kKelvoCannotOpenForReading;
        return false;
    }
    std::vector<uint8_t> header;
    bool fits = false;
    for (uint32_t i = 0; i < _chunks->count() && !fits; ++i) {
        int64_t offset = 0;
        uint32_t size = 0;
        _chunks->chunkInfo(offset, size, i);
        if (_chunks->Error() != noErr || offset < 8 || offset >= fileSize) continue;
        uint64_t present = std::min<uint64_t>(size, uint64_t(fileSize - offset));
        if (jpeg && present * kJPEGPixelsPerByte < pixels) continue;
        // A chunk starting with a fragment's item header holds that fragment first.
        uint8_t item[8];
        if (fseeko(file, off_t(offset - 8), SEEK_SET) != 0 || std::fread(item, 1, 8, file) != 8) continue;
        if (load16(item) == 0xFFFE && load16(item + 2) == 0xE000)
            present = std::min<uint64_t>(present, platform::loadLE32(item + 4));
        try {
            header.resize(size_t(std::min<uint64_t>(present, kHeaderBytes)));
        } catch (const std::bad_alloc&) {
            break;
        }
        if (std::fread(header.data(), 1, header.size(), file) != header.size()) continue;
        platform::codec::Picture layout;
        if (platform::codec::inspect(format, header.data(), header.size(), layout) != noErr) continue;
        fits = uint32_t(layout.width) == columns && uint32_t(layout.height) == rows;
    }
    std::fclose(file);
    // The codestreams are the frames the description gives, never a part of them, nor more.
    if (!fits) _status = kKelvoElementUnreadable;
    return fits;
}

// ---------------------------------------------------------------------------------------------
// Reading frames

bool KelvoDicomVideoPresentation::streamUnchanged() {
    struct stat st {};
    if (!_stream || fstat(fileno(_stream), &st) != 0) return false;
    return int64_t(st.st_size) == _fileSize && st.st_mtim.tv_sec == _fileTime.tv_sec &&
           st.st_mtim.tv_nsec == _fileTime.tv_nsec;
}

int64_t KelvoDicomVideoPresentation::readChunkBytes(uint8_t* out, uint64_t capacity, Bytes* grow) {
    int64_t offset = 0;
    uint32_t size = 0;
    _chunks->chunkInfo(offset, size, _currentFrame);
    if (_chunks->Error() != noErr) {
        _status = _chunks->Error();
        return -1;
    }
    // A file rewritten since it was opened no longer holds the chunks the table points at.
    if (!streamUnchanged()) {
        _status = kKelvoElementUnreadable;
        return -1;
    }
    if (offset < 0 || int64_t(size) > _fileSize - offset) {
        _status = eofErr;
        return -1;
    }
    // An encapsulated frame may span several fragments: the chunk then runs from the value of
    // the first to the end of the last, with the item headers between them.
    const bool items = encapsulated() && offset >= 8;
    if (grow && size > capacity) {
        if (!grow->reserve(size)) {
            _status = memFullErr;
            return -1;
        }
        out = grow->data();
        capacity = size;
    }
    if (grow) grow->length = size;
    if (size > capacity) {
        _status = paramErr;
        return -1;
    }
    if (fseeko(_stream, off_t(offset), SEEK_SET) != 0) {
        _status = ioErr;
        return -1;
    }
    if (size > 0 && std::fread(out, 1, size, _stream) != size) {
        // End of file counts as an error too: a short chunk is never a frame.
        _status = std::ferror(_stream) ? int32_t(ioErr) : int32_t(eofErr);
        std::clearerr(_stream);
        return -1;
    }
    if (!items) return int64_t(size);
    // Compact the fragments' values over their item headers, checking every header on the way.
    uint64_t read = 0, written = 0;
    bool first = true;
    while (read < size) {
        uint32_t length = 0;
        if (first) {
            length = uint32_t(std::min<uint64_t>(size, std::numeric_limits<uint32_t>::max()));
            // The first fragment's length is in the header just before the chunk.
            uint8_t h[8];
            if (fseeko(_stream, off_t(offset - 8), SEEK_SET) != 0 || std::fread(h, 1, 8, _stream) != 8) {
                std::clearerr(_stream);
                _status = eofErr;
                return -1;
            }
            if (load16(h) != 0xFFFE || load16(h + 2) != 0xE000) return int64_t(size); // a bare chunk
            length = platform::loadLE32(h + 4);
            first = false;
        } else {
            if (size - read < 8 || load16(out + read) != 0xFFFE || load16(out + read + 2) != 0xE000) {
                _status = kKelvoElementUnreadable;
                return -1;
            }
            length = platform::loadLE32(out + read + 4);
            read += 8;
        }
        if (uint64_t(length) > size - read) {
            _status = kKelvoElementUnreadable;
            return -1;
        }
        if (written != read) std::memmove(out + written, out + read, length);
        written += length;
        read += length;
    }
    return int64_t(written);
}

void KelvoDicomVideoPresentation::readDataFromMedia(uint8_t* buffer) {
    if (!buffer || !_stream || !_chunks || !_imagePixel) {
        _status = memFullErr;
        return;
    }
    _status = noErr;
    const uint32_t frameBytes = _imagePixel->size();
    if (!encapsulated() || platformDrawn()) {
        // The working buffer may hold more than a frame for compressed frames (see above).
        const uint32_t capacity = buffer == _workingBuffer ? _workingCapacity : frameBytes;
        const int64_t n = readChunkBytes(buffer, platformDrawn() ? capacity : frameBytes, nullptr);
        if (n < 0) return;
        if (platformDrawn()) {
            _compressedSize = uint32_t(n);
            return;
        }
        if (uint64_t(n) < storedFrameBytes()) {
            // A chunk shorter than the frame its description gives.
            _status = eofErr;
            return;
        }
        // The drawer leaves the samples alone: they are swapped once, here. The rescale is never
        // applied to the samples: it lives in the drawer's table and in the raw values.
        if (!_drawer.autoCorrectionEnabled() && _imagePixel->needByteSwapping())
            DicmUtils_OWSwap(buffer, frameBytes);
        return;
    }
    const int64_t n = readChunkBytes(_compressed.data(), _compressed.capacity, &_compressed);
    if (n < 0) return;
    const dicmXferSyntaxInfo* syntax = _imagePixel->pixelEncoding();
    if (syntax->id == kRLESyntax)
        _status = decodeRLE(uint32_t(n), buffer);
    else if (syntax->id == kLosslessJPEGSyntax)
        _status = decodeLosslessJPEG(uint32_t(n), buffer);
    else if (_decodeHere)
        // Samples in host order, as the drawer reads them.
        _status = decodeWithCodec(uint32_t(n), buffer);
    else
        _status = kDicomSyntaxNotReadable;
}

int32_t KelvoDicomVideoPresentation::decodeRLE(uint32_t n, uint8_t* buffer) {
    const uint32_t frameBytes = _imagePixel->size();
    RLEHeader header{};
    // The decoder reads the header as 32-bit words: the stored bytes are aligned.
    OSStatus err = RLEheaderDecode(reinterpret_cast<const uint32_t*>(_compressed.data()), n, &header);
    if (err != noErr) return err;
    const uint32_t samples = _imagePixel->PixelSamples();
    const uint32_t bytes = (_imagePixel->getUSValueProperty(kBitsAllocated) & ~7u) / 8;
    const uint32_t pixels =
        uint32_t(_imagePixel->getUSValueProperty(kColumns)) * _imagePixel->getUSValueProperty(kRows);
    if (header.count != 1 && header.count != samples * bytes) return kRLESegmentCountErr;
    // Segments that cannot fill the frame are refused before its planes are made.
    err = RLEcheckFrame(reinterpret_cast<const uint32_t*>(_compressed.data()), n, frameBytes);
    if (err != noErr) return err;
    uint32_t size = n;
    if (header.count == 1)
        return RLEDecode(reinterpret_cast<const uint32_t*>(_compressed.data()), buffer, &size, frameBytes);
    if (!_planes.reserve(frameBytes)) return memFullErr;
    err = RLEDecode(reinterpret_cast<const uint32_t*>(_compressed.data()), _planes.data(), &size, frameBytes);
    if (err != noErr) return err;
    // Segment s × B + b holds byte b (0 the most significant) of sample s of every pixel; the
    // frame keeps its samples interleaved, each least significant byte first.
    for (uint32_t s = 0; s < samples; ++s) {
        for (uint32_t b = 0; b < bytes; ++b) {
            const uint8_t* plane = _planes.data() + size_t(s * bytes + b) * pixels;
            uint8_t* out = buffer + size_t(s) * bytes + (bytes - 1 - b);
            const size_t step = size_t(samples) * bytes;
            for (uint32_t p = 0; p < pixels; ++p)
                out[size_t(p) * step] = plane[p];
        }
    }
    return noErr;
}

int32_t KelvoDicomVideoPresentation::decodeLosslessJPEG(uint32_t n, uint8_t* buffer) {
    const uint32_t frameBytes = _imagePixel->size();
    uint8_t* source = _compressed.data();
    uint32_t size = n;
    OSStatus err = DecodeJPEGData(&source, reinterpret_cast<uint16_t*>(buffer), &size, frameBytes);
    if (err != noErr) return err;
    if (size == frameBytes) return noErr;
    // Samples of up to 8 bits come out a byte each: a frame of 16 bits allocated widens them.
    if (_imagePixel->getUSValueProperty(kBitsAllocated) == 16 && uint64_t(size) * 2 == frameBytes) {
        for (uint32_t i = size; i-- > 0;) {
            const uint16_t v = buffer[i];
            std::memcpy(buffer + 2 * size_t(i), &v, 2);
        }
        return noErr;
    }
    return kKelvoElementUnreadable;
}

uint32_t KelvoDicomVideoPresentation::storedFrameBytes() {
    const uint32_t frameBytes = _imagePixel->size();
    if (encapsulated() || _imagePixel->getUSValueProperty(kBitsAllocated) != 8 ||
        std::strcmp(_imagePixel->PhotoInterpretation(), "YBR_FULL_422") != 0)
        return frameBytes;
    // Y0 Y1 Cb Cr: four bytes for every two pixels.
    return uint32_t(uint64_t(frameBytes) * 2 / 3);
}

int32_t KelvoDicomVideoPresentation::decodeWithCodec(uint32_t n, uint8_t* buffer) {
    const dicmXferSyntaxInfo* syntax = _imagePixel->pixelEncoding();
    const auto format =
        syntax->id == kJPEGBaselineSyntax ? platform::codec::Format::JPEG : platform::codec::Format::JPEG2000;
    platform::codec::Picture picture;
    OSErr err = platform::codec::decode(format, _compressed.data(), n, picture);
    if (err != noErr) return err;
    const uint32_t columns = _imagePixel->getUSValueProperty(kColumns);
    const uint32_t rows = _imagePixel->getUSValueProperty(kRows);
    const uint16_t bits = _imagePixel->getUSValueProperty(kBitsAllocated);
    // The codestream must be the frame the description gives: never a part of it, nor more.
    if (picture.components != 1 || uint32_t(picture.width) != columns || uint32_t(picture.height) != rows ||
        (bits == 8 && picture.bitsPerSample != 8))
        return kKelvoElementUnreadable;
    const size_t pixels = size_t(columns) * rows;
    if (bits == 8) {
        std::memcpy(buffer, picture.samples.data(), pixels);
        return noErr;
    }
    // 16 bits allocated: samples in host order, as the drawer reads them. A signed frame is
    // sign-extended from the codestream's precision: the codec keeps the bit pattern of its
    // precision, whether the codestream itself says signed or not.
    const bool isSigned = _imagePixel->isTwoComplement();
    const int precision = std::clamp(picture.precision, 1, 16);
    const uint32_t signBit = 1u << (precision - 1);
    const uint32_t mask = precision == 16 ? 0xFFFFu : (1u << precision) - 1;
    for (size_t i = 0; i < pixels; ++i) {
        uint32_t v = picture.samples[i];
        if (picture.bitsPerSample == 16) {
            uint16_t wide = 0;
            std::memcpy(&wide, picture.samples.data() + 2 * i, 2);
            v = wide;
        }
        if (isSigned && (v & signBit)) v |= ~mask;
        const uint16_t sample = uint16_t(v);
        std::memcpy(buffer + 2 * i, &sample, 2);
    }
    return noErr;
}

void KelvoDicomVideoPresentation::refreshBuffer() {
    if (!_workingBuffer) return;
    const uint32_t frameBytes = _imagePixel->size();
    if (_singleFrame) {
        std::memcpy(_workingBuffer, _singleFrame, std::min(frameBytes, _chunks->chunkSize(0)));
        return;
    }
    readDataFromMedia(_workingBuffer);
    if (_status != noErr && !platformDrawn()) {
        // A frame that cannot be read shows blank rather than what was left of another one.
        std::memset(_workingBuffer, 0, frameBytes);
    }
    if (platformDrawn()) {
        if (_status != noErr) _compressedSize = 0;
        return;
    }
    if (_rawCopy.capacity >= frameBytes) {
        std::memcpy(_rawCopy.data(), _workingBuffer, frameBytes);
        _rawCopy.length = frameBytes;
    }
}

const uint8_t* KelvoDicomVideoPresentation::rawFrame() const {
    if (_singleFrame) return _singleFrame;
    if (!_rawCopy.empty()) return _rawCopy.data();
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Drawing

void KelvoDicomVideoPresentation::drawFrame(bool refreshed) {
    if (platformDrawn()) {
        // A frame that could not be read has no bytes for the codec: nothing is drawn over the
        // picture, which is then erased.
        if (_compressedSize > 0)
            _drawer.playDataCompressed(_compressedSize);
        else if (_dataSourceBuffer)
            _dataSourceBuffer->erase(nullptr);
    } else if (_drawer.decompressionSession()) {
        _drawer.playData(refreshed);
    }
}

void KelvoDicomVideoPresentation::Update() {
    if (!qtObjIsValid()) return;
    refreshBuffer();
    const int32_t frameError = _status;
    // A frame that failed is drawn blank, and keeps its status.
    drawFrame(true);
    drawToDisplay();
    if (frameError != noErr) _status = frameError;
}

void KelvoDicomVideoPresentation::idle() {
    if (!qtObjIsValid()) return;
    AliveScope alive(*this);
    bool changed = false;
    int32_t frameError = noErr;
    double now = 0.0;
    if (_timeBase) {
        int32_t t = _timeBase->currentTime();
        const uint32_t count = _chunks->count();
        uint32_t frame = t > 0 ? uint32_t(t / _sampleDuration) : 0;
        if (frame > count) {
            // Beyond the end: back to the start.
            _timeBase->currentTime(0);
            t = 0;
            frame = 0;
        }
        now = double(t);
        const uint32_t shown = frame == count ? count - 1 : frame;
        if (shown != _currentFrame) {
            _currentFrame = shown;
            refreshBuffer();
            frameError = _status;
            // A frame that failed is drawn blank: its buffer was cleared.
            changed = true;
        }
    }
    if (_eventsHandler.qtObjIsValid()) {
        _eventsHandler.notifyEvent(kKelvoPresentationIdle, &now, 0);
        if (alive.gone()) return;
    }
    if (platformDrawn())
        drawFrame(false);
    else if (_drawer.decompressionSession())
        _drawer.playData(changed);
    drawToDisplay();
    if (alive.gone()) return;
    if (_statisticsEnabled) statisticsUpdate();
    if (isDone()) {
        Stop();
        if (alive.gone()) return;
    }
    // The frame's failure outlives the drawing and the stop that follow it.
    if (frameError != noErr) _status = frameError;
}

void KelvoDicomVideoPresentation::windowLevels(const Kelvo_NumericalRange* range) {
    _drawer.windowLevels(range);
    Update();
}

// ---------------------------------------------------------------------------------------------
// Time

int32_t KelvoDicomVideoPresentation::Time(int32_t kind) {
    if (!qtObjIsValid()) return 0;
    switch (kind) {
    case kKelvoTimeCurrent:
        return _timeBase ? _timeBase->currentTime() : 0;
    case kKelvoTimeScale:
        return _timeScale;
    case kKelvoTimeDuration: {
        const int64_t d = int64_t(_chunks->count()) * _sampleDuration;
        return d > std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max() : int32_t(d);
    }
    default:
        return 0;
    }
}

int32_t KelvoDicomVideoPresentation::SamplesCount() {
    return _chunks ? int32_t(std::min<uint32_t>(_chunks->count(), std::numeric_limits<int32_t>::max())) : 0;
}

int32_t KelvoDicomVideoPresentation::SampleID() {
    return int32_t(_currentFrame) + 1;
}

bool KelvoDicomVideoPresentation::isDone() {
    if (SamplesCount() < 2) return true;
    if (SampleID() < SamplesCount()) return false;
    return !loop();
}

bool KelvoDicomVideoPresentation::isPlaying() {
    return _timeBase && _timeBase->rate() != 0.0 && !isDone();
}

void KelvoDicomVideoPresentation::statisticsEnabled(bool& on) {
    if (!qtObjIsValid() || SamplesCount() < 2) return;
    Kelvo_DataPresentation::statisticsEnabled(on);
}

void KelvoDicomVideoPresentation::statisticsUpdate() {
    if (!isPlaying()) return;
    const int32_t now = Time(kKelvoTimeCurrent);
    if (now <= _statisticsTime) {
        _statisticsTime = now;
        return;
    }
    const double seconds = double(now - _statisticsTime) / double(Time(kKelvoTimeScale));
    if (seconds < 1.0) return;
    const int32_t firstID = SampleIDForTime(_statisticsTime) - 1;
    const uint32_t first = firstID > 0 ? uint32_t(firstID) : 0;
    double bytes = 0.0;
    for (uint32_t i = first; i <= _currentFrame && i < _chunks->count(); ++i)
        bytes += double(_chunks->chunkSize(i));
    _dataRate = bytes / seconds;
    _sampleRate = (double(_currentFrame) - double(first)) / seconds;
    _statisticsTime = now;
}

void KelvoDicomVideoPresentation::Play(double rate) {
    if (!_timeBase) return;
    AliveScope alive(*this);
    _timeBase->rate(rate);
    _status = _timeBase->Error();
    if (_eventsHandler.qtObjIsValid()) {
        _eventsHandler.notifyEvent(kKelvoPresentationStart, nullptr, 0);
        if (alive.gone()) return;
    }
    if (_statisticsEnabled) statisticsUpdate();
}

void KelvoDicomVideoPresentation::Stop() {
    if (!_timeBase) return;
    AliveScope alive(*this);
    _timeBase->rate(0.0);
    _status = _timeBase->Error();
    if (_eventsHandler.qtObjIsValid()) {
        _eventsHandler.notifyEvent(kKelvoPresentationStop, nullptr, 0);
        if (alive.gone()) return;
    }
    if (_statisticsEnabled) statisticsReset();
}

void KelvoDicomVideoPresentation::PlayAction(int32_t action) {
    switch (action) {
    case kKelvoPlayActionStart:
        PlayTime(palindrome() ? Time(kKelvoTimeDuration) : 0);
        break;
    case kKelvoPlayActionEnd:
        PlayTime(palindrome() ? 0 : Time(kKelvoTimeDuration));
        break;
    case kKelvoPlayActionBack:
        PlayTime(Time(kKelvoTimeCurrent) - _sampleDuration);
        break;
    case kKelvoPlayActionForward:
        PlayTime(Time(kKelvoTimeCurrent) + _sampleDuration);
        break;
    default:
        break;
    }
}

void KelvoDicomVideoPresentation::PlayTime(int32_t time) {
    AliveScope alive(*this);
    Stop();
    if (alive.gone()) return;
    if (_timeBase) {
        const int32_t end = Time(kKelvoTimeDuration);
        _timeBase->currentTime(time < 0 ? 0 : (time > end ? end : time));
    }
    idle();
}

// ---------------------------------------------------------------------------------------------
// Raw values

double KelvoDicomVideoPresentation::rawValueAtPoint(Kelvo_Point& point) {
    if (!qtObjIsValid() || !point.qtObjIsValid() || _imagePixel->PixelSamples() != 1) return 0.0;
    const uint8_t* frame = rawFrame();
    if (!frame) return 0.0;
    const int32_t columns = _imagePixel->getUSValueProperty(kColumns);
    const int32_t rows = _imagePixel->getUSValueProperty(kRows);
    // Only pixels of the frame have values.
    if (point.x() < 0 || point.y() < 0 || point.x() >= columns || point.y() >= rows) return 0.0;
    const uint32_t offset = uint32_t(point.y()) * uint32_t(columns) + uint32_t(point.x());
    switch (_imagePixel->getUSValueProperty(kBitsAllocated)) {
    case 8:
    case 16:
        // The copy holds the samples as stored: the grey is inverted only where it is drawn.
        return double(rawSamples16(*_imagePixel, _drawer.autoCorrectionEnabled()).at(frame, offset));
    default:
        return 0.0;
    }
}

Kelvo_ImageInfo* KelvoDicomVideoPresentation::rawValuesStatistics(Kelvo_Rect& rect) {
    if (!qtObjIsValid()) return nullptr;
    auto* info = new Kelvo_ImageInfo();
    if (!rect.qtObjIsValid()) return info;
    if (_imagePixel->PixelSamples() != 1) {
        _status = paramErr;
        return info;
    }
    const uint8_t* frame = rawFrame();
    if (!frame) return info;
    const int32_t columns = _imagePixel->getUSValueProperty(kColumns);
    const int32_t rows = _imagePixel->getUSValueProperty(kRows);
    // The part of the rect inside the frame.
    const int32_t left = std::max<int32_t>(rect.left(), 0), top = std::max<int32_t>(rect.top(), 0);
    const int32_t right = std::min<int32_t>(int32_t(rect.left()) + rect.width(), columns);
    const int32_t bottom = std::min<int32_t>(int32_t(rect.top()) + rect.height(), rows);
    if (right <= left || bottom <= top) return info;
    const uint32_t n = uint32_t(right - left) * uint32_t(bottom - top);
    const uint16_t bits = _imagePixel->getUSValueProperty(kBitsAllocated);
    if (bits != 8 && bits != 16) return info;
    const RawSamples16 d = rawSamples16(*_imagePixel, _drawer.autoCorrectionEnabled());
    auto describe = [&](auto* values) {
        using T = std::remove_reference_t<decltype(*values->items())>;
        collectRaw16(d, frame, uint32_t(columns), uint32_t(left), uint32_t(top), uint32_t(right),
                     uint32_t(bottom), values->items());
        KelvoStatisticsT<T> stats;
        stats.init(values->items(), n, 1);
        info->take(stats);
    };
    // The narrowest type that holds every value.
    if (d.values.rescale) {
        // Rescaled values may leave the 16-bit range of the stored samples.
        KelvoDataT<int32_t> values(n);
        describe(&values);
    } else if (d.values.isSigned) {
        KelvoDataT<int16_t> values(n);
        describe(&values);
    } else if (bits == 8) {
        KelvoDataT<uint8_t> values(n);
        describe(&values);
    } else {
        KelvoDataT<uint16_t> values(n);
        describe(&values);
    }
    return info;
}

// ---------------------------------------------------------------------------------------------
// Grabs

Kelvo_Image* KelvoDicomVideoPresentation::grabRawImage(Kelvo_DisplayTransform* t, Kelvo_OSType& pixelType) {
    _status = noErr;
    if (!qtObjIsValid()) return nullptr;
    if (t || platformDrawn()) return Kelvo_VideoPresentation::grabRawImage(t, pixelType);
    const uint32_t columns = _imagePixel->getUSValueProperty(kColumns);
    const uint32_t rows = _imagePixel->getUSValueProperty(kRows);
    const uint32_t pixels = columns * rows;
    const Kelvo_Size size{double(columns), double(rows)};
    const uint16_t samples = _imagePixel->PixelSamples();
    const std::string photometric = _imagePixel->PhotoInterpretation();
    const uint16_t bits = _imagePixel->getUSValueProperty(kBitsAllocated);
    Kelvo_Image* image = nullptr;
    switch (pixelType.getOSType()) {
    case 24:
        if (samples == 3 && photometric == "RGB" && bits == 8)
            image = new Kelvo_ImageRGB(size, _workingBuffer);
        break;
    case 32:
        if (samples == 4 && photometric == "ARGB" && bits == 8)
            image = new Kelvo_ImageARGB(size, _workingBuffer);
        break;
    case 40:
        if (samples == 1) {
            // The working buffer holds the frame as drawn at depth 40 (0 white): the grey image
            // is its complement.
            std::vector<uint8_t> grey(pixels);
            for (uint32_t i = 0; i < pixels; ++i)
                grey[i] = uint8_t(~_workingBuffer[i]);
            image = new Kelvo_Image8BitGrey(size, grey.data());
        }
        break;
    case FOUR_CHAR_CODE("16GR"):
        if (samples == 1) {
            // Raw samples, rescaled, never windowed: the working buffer was windowed in place.
            std::vector<uint16_t> wide(pixels);
            // Values outside what 16 unsigned bits hold are clamped to their ends, never wrapped.
            const uint8_t* frame = rawFrame();
            if (frame && pixels > 0 && (bits == 16 || bits == 8)) {
                const RawSamples16 d = rawSamples16(*_imagePixel, _drawer.autoCorrectionEnabled());
                uint16_t* out = wide.data();
                for (uint32_t i = 0; i < pixels; ++i)
                    out[i] = uint16_t(std::clamp<int32_t>(d.at(frame, i), 0, 65535));
            }
            image = new Kelvo_Image16BitGrey(size, wide.data());
        }
        break;
    case FOUR_CHAR_CODE("FLOA"):
        if (samples == 1) {
            std::vector<float> values(pixels);
            for (uint32_t i = 0; i < pixels; ++i)
                values[i] = 255.0f - float(_workingBuffer[i]);
            image = new Kelvo_Image8BitGreyFloat(size, values.data());
        }
        break;
    default:
        break;
    }
    if (image && !image->qtObjIsValid()) {
        _status = image->Error() != noErr ? image->Error() : int32_t(memFullErr);
        delete image;
        image = nullptr;
    }
    if (!image && _status == noErr) return Kelvo_VideoPresentation::grabRawImage(nullptr, pixelType);
    return image;
}

// ---------------------------------------------------------------------------------------------
// Raw movie export

void KelvoDicomVideoPresentation::presentationToRawMovie(FSSpec* destination, Kelvo_TimeRange* range) {
    if (!qtObjIsValid()) return;
    if (!destination) {
        _status = kKelvoMediaMissing;
        return;
    }
    // A movie written over the file its frames are read from would take that file's place.
    if (_chunks && PlatformSameFile(destination->path, _chunks->pathToFile())) {
        _status = paramErr;
        return;
    }
    // The description of what is shown (palette colours, RGB for YBR, windowed grey), or of the
    // compressed frames a codec draws.
    Kelvo_ImgDesc* desc = _drawer.displayedDescription();
    if (!desc) {
        _status = _drawer.Error() != noErr ? _drawer.Error() : int32_t(paramErr);
        return;
    }
    const uint32_t count = _chunks->count();
    uint32_t first = 0, last = count;
    if (range && range->qtObjIsValid()) {
        first = uint32_t(range->start() / _sampleDuration);
        const int64_t end = int64_t(range->start()) + range->duration();
        last = uint32_t(std::min<int64_t>(end / _sampleDuration, count));
    }
    auto* movie = new Kelvo_Movie(destination, true);
    if (!movie->qtObjIsValid()) {
        _status = movie->Error() != noErr ? movie->Error() : int32_t(kKelvoCannotOpenForWriting);
        delete movie;
        delete desc;
        return;
    }
    auto* provider = new Kelvo_TrackVideoSimpleProvider(movie, desc, Kelvo_TrackProvider::defaultTimeScale);
    delete desc;
    if (!provider->qtObjIsValid()) {
        _status = provider->Error() != noErr ? provider->Error() : int32_t(paramErr);
        delete provider;
        delete movie;
        return;
    }
    AliveScope alive(*this);
    provider->BeginSession();
    const uint32_t frameBytes = _imagePixel->size();
    Handle sample = NewHandle(int32_t(std::max({frameBytes, _workingCapacity, _drawer.displayedSize()})));
    if (!sample) {
        _status = memFullErr;
        delete provider;
        delete movie;
        return;
    }
    const uint32_t saved = _currentFrame;
    bool failed = false;
    _status = noErr;
    for (uint32_t i = first; i < last; ++i) {
        _currentFrame = i;
        double progress = double(i) / double(last);
        readDataFromMedia(_workingBuffer);
        if (_status != noErr) {
            failed = true;
            break;
        }
        uint32_t sampleSize = 0;
        const uint8_t* bytes = _workingBuffer;
        if (platformDrawn()) {
            sampleSize = std::min(_compressedSize, _workingCapacity);
        } else {
            // The frame as it is shown: swapped, rescaled, windowed, through the palette, in RGB
            // for YBR colour and inverted for depth 40, without the drawing.
            _drawer.refreshData();
            bytes = _drawer.displayed();
            sampleSize = std::min<uint32_t>(_drawer.displayedSize(), uint32_t(GetHandleSize(sample)));
        }
        std::memcpy(*sample, bytes, sampleSize);
        provider->addSample(sample, int32_t(sampleSize), _sampleDuration, 0);
        _status = provider->Error();
        reportProgress(progress);
        if (alive.gone()) {
            DisposeHandle(sample);
            delete provider;
            delete movie;
            return;
        }
        if (_status != noErr) {
            failed = true;
            break;
        }
    }
    DisposeHandle(sample);
    _currentFrame = saved;
    if (!failed) {
        reportProgress(1.0);
        if (alive.gone()) {
            delete provider;
            delete movie;
            return;
        }
        provider->EndSession();
        _status = provider->Error();
        if (_status == noErr) {
            movie->flush();
            _status = movie->Error();
        }
    }
    delete provider;
    delete movie;
    // The working buffer held the exported frames: the current frame comes back.
    const int32_t status = _status;
    refreshBuffer();
    drawFrame(true);
    _status = status;
}
