// The six image classes over their 2D buffers.
#include "KelvoImage.h"

#include "KelvoDrawingUtils.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr int32_t kBadArgument = -50;
constexpr int32_t kNoMemory = -108;
constexpr int32_t kNotOffered = -2053;

// A double as a sample: integers truncated toward zero with their low bits kept (NaN gives 0,
// values beyond 64 bits saturate first, so no conversion is undefined); floats rounded to single
// precision.
template <class T> T sampleOf(double v) {
    if constexpr (std::is_integral_v<T>) {
        int64_t whole = 0;
        if (v == v) {
            if (v >= 9223372036854775807.0)
                whole = INT64_MAX;
            else if (v <= -9223372036854775808.0)
                whole = INT64_MIN;
            else
                whole = int64_t(v);
        }
        return T(uint64_t(whole));
    } else {
        return T(v);
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Kelvo_Image8Greys

bool Kelvo_Image8Greys::isA(const char* name) const {
    return Kelvo_Image::isA(name) || (name && std::strcmp(name, "Kelvo_Image8Greys") == 0);
}

int32_t Kelvo_Image8Greys::qtBuffer(void*&, uint32_t& length) {
    length = 0;
    _status = kNotOffered;
    return _status;
}

// ---------------------------------------------------------------------------------------------
// KelvoImageClassT

template <class Base, class T, int N, uint32_t Format>
KelvoImageClassT<Base, T, N, Format>::KelvoImageClassT(Buffer* adopted) : _data(adopted) {
    if (qtObjIsValid()) {
        this->_width = uint32_t(_data->width());
        this->_height = uint32_t(_data->height());
    }
}

template <class Base, class T, int N, uint32_t Format>
void KelvoImageClassT<Base, T, N, Format>::copy(Kelvo_QTObj& source) {
    if (&source == this) return;
    this->defaultStatus();
    if (!source.qtObjIsValid()) {
        this->_status = kKelvoBadArgumentObject;
        return;
    }
    if (!source.isA("Kelvo_Image")) {
        this->_status = kKelvoWrongType;
        return;
    }
    auto& other = static_cast<Kelvo_Image&>(source);
    // Samples of the same format are copied over every one of the new buffer's.
    allocateData(other.size(), nullptr, other.pixelFormat() != Format);
    if (qtObjIsValid()) {
        if (other.pixelFormat() == Format) {
            _data->initWithData(static_cast<const T*>(other.buffer()), Kelvo_Rect(other.size()), 1);
        } else {
            Kelvo_QDGWorldBuffer* world = other.image(static_cast<Kelvo_DisplayTransform*>(nullptr));
            if (world) {
                initWithQDContext(world);
                delete world;
            } else {
                this->_status = other.Error();
            }
        }
    }
    this->_displayQuality = other.displayQuality();
}

template <class Base, class T, int N, uint32_t Format>
Kelvo_Image* KelvoImageClassT<Base, T, N, Format>::adopt(Buffer* result) {
    if (!result) {
        // The buffer's status says why; one that says nothing still leaves a failure here.
        const int32_t why = _data ? _data->Error() : 0;
        this->_status = why != 0 ? why : kKelvoNothingToWorkOn;
        return nullptr;
    }
    KelvoImageClassT* out = make(result);
    if (!out) {
        delete result;
        this->_status = kNoMemory;
    }
    return out;
}

template <class Base, class T, int N, uint32_t Format>
Kelvo_Image* KelvoImageClassT<Base, T, N, Format>::unchangedCopy() {
    if (!qtObjIsValid()) return nullptr;
    return adopt(new (std::nothrow) Buffer(*_data));
}

template <class Base, class T, int N, uint32_t Format>
Kelvo_Image* KelvoImageClassT<Base, T, N, Format>::opAddImage(const Kelvo_Image& other) {
    if (!qtObjIsValid() || !other.isA(this->qtObjName())) return nullptr;
    const Buffer* theirs = static_cast<const KelvoImageClassT&>(other)._data;
    if (!theirs) return nullptr;
    return adopt(*_data + *theirs);
}

template <class Base, class T, int N, uint32_t Format>
Kelvo_Image* KelvoImageClassT<Base, T, N, Format>::opSubImage(const Kelvo_Image& other) {
    if (!qtObjIsValid() || !other.isA(this->qtObjName())) return nullptr;
    const Buffer* theirs = static_cast<const KelvoImageClassT&>(other)._data;
    if (!theirs) return nullptr;
    return adopt(*_data - *theirs);
}

template <class Base, class T, int N, uint32_t Format>
Kelvo_Image* KelvoImageClassT<Base, T, N, Format>::opAddConst(double value) {
    if (!qtObjIsValid()) return nullptr;
    return adopt(*_data + sampleOf<T>(value));
}

template <class Base, class T, int N, uint32_t Format>
Kelvo_Image* KelvoImageClassT<Base, T, N, Format>::opSubConst(double value) {
    if (!qtObjIsValid()) return nullptr;
    return adopt(*_data - sampleOf<T>(value));
}

template <class Base, class T, int N, uint32_t Format>
void KelvoImageClassT<Base, T, N, Format>::newImageData(const Kelvo_Size& size, void* pixels) {
    // Given pixels fill the whole buffer.
    allocateData(size, pixels, pixels == nullptr);
}

template <class Base, class T, int N, uint32_t Format>
void KelvoImageClassT<Base, T, N, Format>::allocateData(const Kelvo_Size& size, void* pixels, bool cleared) {
    const Kelvo_Rect bounds(size);
    if (bounds.Error() != noErr) {
        // A size whose edges do not fit the 16-bit rectangle of a buffer is refused, not taken
        // for an empty image.
        deleteDataBuffer();
        this->_width = this->_height = 0;
        this->_status = bounds.Error();
        return;
    }
    // A buffer of another size is remade: width and height always describe the buffer.
    if (_data && (_data->width() != bounds.width() || _data->height() != bounds.height())) deleteDataBuffer();
    if (!_data) {
        _data = new (std::nothrow) Buffer(size, Format, cleared);
        if (!_data) {
            this->_status = kNoMemory;
            return;
        }
        if (!_data->qtObjIsValid()) {
            // A size that makes no buffer leaves the image empty; running out of memory is
            // reported.
            if (_data->Error() == kNoMemory) this->_status = kNoMemory;
            deleteDataBuffer();
        }
    }
    if (!_data) {
        this->_width = this->_height = 0;
        return;
    }
    this->_width = uint32_t(_data->width());
    this->_height = uint32_t(_data->height());
    if (pixels)
        std::memcpy(static_cast<void*>(_data->buffer()), pixels, size_t(_data->bufferSize()) * sizeof(T));
}

template <class Base, class T, int N, uint32_t Format>
void KelvoImageClassT<Base, T, N, Format>::initWithQDContext(Kelvo_QDGWorldBuffer* world) {
    int32_t status = 0;
    if (!Kelvo_QTObj::isValidInstance(world, status, false)) {
        this->_status = status;
        return;
    }
    // An empty world has nothing to give.
    if (!world->qtObjIsValid()) {
        this->_status = kKelvoBadArgumentObject;
        return;
    }
    constexpr uint8_t monochrome = Format == Kelvo_Image::kMonochrome ? 1 : 0;
    if (!qtObjIsValid()) {
        newImageData(Kelvo_Size(world->width(), world->height()), nullptr);
        if (qtObjIsValid()) this->_status = dataFromQDContext<T, N>(*world, _data->buffer(), monochrome);
        return;
    }
    if (_data->width() == world->width() && _data->height() == world->height()) {
        this->_status = dataFromQDContext<T, N>(*world, _data->buffer(), monochrome);
        return;
    }
    Kelvo_DisplayTransform transform(world->bounds(), _data->bounds());
    int32_t err = 0;
    std::unique_ptr<Kelvo_QDGWorldBuffer> drawn(Kelvo_DrawingUtils::draw(world->buffer(), &transform, err));
    this->_status = err;
    if (!drawn) {
        if (err == 0) this->_status = kNoMemory;
        return;
    }
    // The drawing must have the image's size, or the pixels would be read out of place.
    if (drawn->width() != _data->width() || drawn->height() != _data->height()) {
        this->_status = kKelvoBadArgumentObject;
        return;
    }
    this->_status = dataFromQDContext<T, N>(*drawn, _data->buffer(), monochrome);
}

template <class Base, class T, int N, uint32_t Format>
int16_t KelvoImageClassT<Base, T, N, Format>::depth() const {
    if constexpr (std::is_same_v<T, uint16_t>) {
        // 12 bits while every sample fits them (4096 included), else 16.
        if (!qtObjIsValid()) return 16;
        const uint16_t* p = _data->buffer();
        const int64_t n = _data->bufferSize();
        uint16_t top = 0;
        for (int64_t i = 0; i < n; ++i)
            if (p[i] > top) top = p[i];
        return top < 4097 ? 12 : 16;
    } else {
        return int16_t(8 * N);
    }
}

template <class Base, class T, int N, uint32_t Format>
Kelvo_ImageInfo* KelvoImageClassT<Base, T, N, Format>::channelInfo(uint16_t channel) {
    if (!qtObjIsValid()) return nullptr;
    if constexpr (N > 1) {
        if (channel >= N) {
            this->_status = kBadArgument;
            return nullptr;
        }
    } else {
        // One channel whatever is asked.
        channel = 0;
    }
    KelvoStatisticsT<T> stats;
    stats.init(_data->buffer() + channel, uint32_t(_data->bufferSize()), N);
    if (!stats.qtObjIsValid()) {
        // Too few samples to describe.
        this->_status = stats.Error() != 0 ? stats.Error() : kBadArgument;
        return nullptr;
    }
    auto* info = new (std::nothrow) Kelvo_ImageInfo;
    if (!info) {
        this->_status = kNoMemory;
        return nullptr;
    }
    info->take(stats);
    return info;
}

template <class Base, class T, int N, uint32_t Format>
const uint8_t* KelvoImageClassT<Base, T, N, Format>::bytesForTables(bool& owned) {
    owned = false;
    if constexpr (std::is_same_v<T, float>) {
        const uint32_t n = pixelCount();
        auto* bytes = new (std::nothrow) uint8_t[n];
        if (!bytes) {
            this->_status = kNoMemory;
            return nullptr;
        }
        const float* samples = _data->buffer();
        float smallest = samples[0], largest = samples[0];
        for (uint32_t i = 1; i < n; ++i) {
            if (samples[i] < smallest) smallest = samples[i];
            if (samples[i] > largest) largest = samples[i];
        }
        uint8_t low = 0, high = 255;
        this->_status = normalizeDataT<float, uint8_t>(samples, bytes, smallest, largest, low, high, n);
        owned = true;
        return bytes;
    } else {
        return reinterpret_cast<const uint8_t*>(_data->buffer());
    }
}

template <class Base, class T, int N, uint32_t Format>
Kelvo_Histogram* KelvoImageClassT<Base, T, N, Format>::channelHistogram(uint16_t channel) {
    if constexpr (std::is_same_v<T, uint16_t>) {
        return nullptr;
    } else {
        if (!qtObjIsValid()) return nullptr;
        if constexpr (N > 1) {
            if (channel >= N) {
                this->_status = kBadArgument;
                return nullptr;
            }
        } else {
            channel = 0;
        }
        bool owned = false;
        const uint8_t* bytes = bytesForTables(owned);
        if (!bytes) return nullptr;
        auto* histogram = new (std::nothrow) Kelvo_Histogram(bytes + channel, pixelCount() * N, N);
        if (owned) delete[] bytes;
        if (!histogram) {
            this->_status = kNoMemory;
            return nullptr;
        }
        if (!histogram->qtObjIsValid()) {
            this->_status = histogram->Error() != 0 ? histogram->Error() : kNoMemory;
            delete histogram;
            return nullptr;
        }
        return histogram;
    }
}

template <class Base, class T, int N, uint32_t Format>
template <class PerChannel>
Kelvo_QTObjectsList* KelvoImageClassT<Base, T, N, Format>::channelsList(PerChannel perChannel) {
    if (!qtObjIsValid()) return nullptr;
    auto* list = new (std::nothrow) Kelvo_QTObjectsList;
    int32_t status = 0;
    if (!Kelvo_QTObj::isValidInstance(list, status, true)) {
        this->_status = status;
        delete list;
        return nullptr;
    }
    for (uint16_t c = 0; c < N; ++c) {
        Kelvo_QTObj* item = perChannel(c);
        if (!item) {
            delete list;
            return nullptr;
        }
        list->addObjValueByRef(item);
    }
    return list;
}

template <class Base, class T, int N, uint32_t Format>
Kelvo_QTObjectsList* KelvoImageClassT<Base, T, N, Format>::channelsInfo() {
    return channelsList([this](uint16_t c) { return channelInfo(c); });
}

template <class Base, class T, int N, uint32_t Format>
Kelvo_QTObjectsList* KelvoImageClassT<Base, T, N, Format>::channelsHistogram() {
    if constexpr (std::is_same_v<T, uint16_t>) {
        return nullptr;
    } else {
        return channelsList([this](uint16_t c) { return channelHistogram(c); });
    }
}

template <class Base, class T, int N, uint32_t Format>
Kelvo_ImgDesc* KelvoImageClassT<Base, T, N, Format>::qtDataDescriptor() {
    if (!qtObjIsValid()) return nullptr;
    uint32_t type = FOUR_CHAR_CODE("raw ");
    int16_t depth = 40;
    // One byte a pixel for the 8-bit-style classes (the float grey image is shown as bytes).
    uint64_t dataSize = uint64_t(pixelCount());
    if constexpr (std::is_same_v<T, uint16_t>) {
        type = FOUR_CHAR_CODE("b16g");
        dataSize = bufferSize();
    } else if constexpr (N > 1) {
        depth = int16_t(8 * N);
        dataSize = bufferSize();
    }
    // The description's data size is 32 bits.
    if (dataSize > uint64_t(INT32_MAX)) {
        this->_status = kBadArgument;
        return nullptr;
    }
    auto* desc = new (std::nothrow) Kelvo_ImgDesc;
    if (!desc) {
        this->_status = kNoMemory;
        return nullptr;
    }
    desc->dataFormat(type);
    desc->qtWidth(int16_t(this->_width));
    desc->qtHeight(int16_t(this->_height));
    desc->qtDataSize(int32_t(dataSize));
    desc->qtDepth(depth);
    desc->qtSpatialQuality(this->_displayQuality);
    desc->qtFrameCount(1);
    if (!desc->qtObjIsValid() || desc->dataFormat() != type) {
        this->_status = desc->Error() != 0 ? desc->Error() : kKelvoNothingToWorkOn;
        delete desc;
        return nullptr;
    }
    return desc;
}

template <class Base, class T, int N, uint32_t Format>
Kelvo_QDGWorldBuffer* KelvoImageClassT<Base, T, N, Format>::image(Kelvo_DisplayTransform* transform) {
    if (!qtObjIsValid()) return nullptr;
    Kelvo_QDGWorldBuffer* world = nullptr;
    this->_status = drawToQDBuffer<T, N>(*_data, world, transform);
    return world;
}

template <class Base, class T, int N, uint32_t Format>
const Kelvo_ImageValue& KelvoImageClassT<Base, T, N, Format>::value(const Kelvo_Point& point) const {
    if (!qtObjIsValid()) return this->_value;
    const auto& sample = _data->value(point);
    Kelvo_ImageValue& v = this->_value;
    if constexpr (N == 1) {
        v.grey() = v.red() = v.green() = v.blue() = double(sample.values[0]);
    } else if constexpr (N == 3) {
        v.red() = double(sample.values[0]);
        v.green() = double(sample.values[1]);
        v.blue() = double(sample.values[2]);
    } else {
        v.grey() = double(sample.values[0]);
        v.red() = double(sample.values[1]);
        v.green() = double(sample.values[2]);
        v.blue() = double(sample.values[3]);
    }
    return v;
}

template <class Base, class T, int N, uint32_t Format>
bool KelvoImageClassT<Base, T, N, Format>::value(const Kelvo_Point& point, const Kelvo_ImageValue& v) {
    if (!qtObjIsValid() || !_data->bounds().isInRect(point)) return false;
    typename Buffer::Value sample;
    if constexpr (N == 1) {
        sample.values[0] = sampleOf<T>(v.grey());
    } else if constexpr (N == 3) {
        sample.values[0] = sampleOf<T>(v.red());
        sample.values[1] = sampleOf<T>(v.green());
        sample.values[2] = sampleOf<T>(v.blue());
    } else {
        sample.values[0] = sampleOf<T>(v.grey());
        sample.values[1] = sampleOf<T>(v.red());
        sample.values[2] = sampleOf<T>(v.green());
        sample.values[3] = sampleOf<T>(v.blue());
    }
    _data->value(point, sample);
    return true;
}

template <class Base, class T, int N, uint32_t Format>
void KelvoImageClassT<Base, T, N, Format>::swapBytes() {
    if constexpr (sizeof(T) > 1) {
        if (!qtObjIsValid()) return;
        auto* bytes = reinterpret_cast<uint8_t*>(_data->buffer());
        const int64_t n = _data->bufferSize();
        for (int64_t i = 0; i < n; ++i, bytes += sizeof(T))
            for (size_t a = 0, b = sizeof(T) - 1; a < b; ++a, --b)
                std::swap(bytes[a], bytes[b]);
    }
}

template <class Base, class T, int N, uint32_t Format>
Kelvo_Image* KelvoImageClassT<Base, T, N, Format>::cropImage(Kelvo_Rect* rect) {
    if (!qtObjIsValid()) return nullptr;
    int32_t status = 0;
    if (!Kelvo_QTObj::isValidInstance(rect, status, false) || !rect->qtObjIsValid()) {
        this->_status = status != 0 ? status : kBadArgument;
        return nullptr;
    }
    return adopt(_data->crop(*rect));
}

template <class Base, class T, int N, uint32_t Format>
Kelvo_Image* KelvoImageClassT<Base, T, N, Format>::scaleImage(const Kelvo_Size& size) {
    if (!qtObjIsValid()) return nullptr;
    if (!size.qtObjIsValid()) {
        this->_status = kBadArgument;
        return nullptr;
    }
    return adopt(_data->scale(size));
}

template <class Base, class T, int N, uint32_t Format>
Kelvo_Image* KelvoImageClassT<Base, T, N, Format>::normalizeImage(double low, double high) {
    if (!qtObjIsValid()) return nullptr;
    if constexpr (Format == Kelvo_Image::kMonochrome) {
        return unchangedCopy();
    } else {
        return adopt(_data->normalizeImage(sampleOf<T>(low), sampleOf<T>(high)));
    }
}

template <class Base, class T, int N, uint32_t Format>
Kelvo_Image* KelvoImageClassT<Base, T, N, Format>::blend(const Kelvo_Image& other, float weight) {
    if (!qtObjIsValid()) return nullptr;
    if constexpr (Format == Kelvo_Image::kMonochrome) {
        return unchangedCopy();
    } else {
        if (other.pixelFormat() != Format) return nullptr;
        const Buffer* theirs = static_cast<const KelvoImageClassT&>(other)._data;
        if (!other.buffer() || !theirs) {
            this->_status = kKelvoNothingToWorkOn;
            return nullptr;
        }
        return adopt(_data->blend(*theirs, weight));
    }
}

template <class Base, class T, int N, uint32_t Format>
template <class F>
Kelvo_Image* KelvoImageClassT<Base, T, N, Format>::mapThroughTables(F makeTable) {
    if (!qtObjIsValid()) return nullptr;
    auto* fresh = new (std::nothrow) Buffer(Kelvo_Size(_data->width(), _data->height()), Format);
    if (!fresh || !fresh->qtObjIsValid()) {
        this->_status = fresh ? fresh->Error() : kNoMemory;
        delete fresh;
        return nullptr;
    }
    std::unique_ptr<Buffer> out(fresh);
    bool owned = false;
    const uint8_t* bytes = bytesForTables(owned);
    if (!bytes) return nullptr;
    std::unique_ptr<const uint8_t[]> keep(owned ? bytes : nullptr);
    const uint32_t pixels = pixelCount();
    std::unique_ptr<KelvoDataT<uint8_t>> tables[N];
    bool mapped = true;
    for (int c = 0; c < N; ++c) {
        Kelvo_Histogram histogram(bytes + c, pixels * N, N);
        if (!histogram.qtObjIsValid()) {
            this->_status = histogram.Error();
            return nullptr;
        }
        tables[c].reset(makeTable(histogram));
        if (!tables[c] || !tables[c]->qtObjIsValid()) {
            if (tables[c] && tables[c]->Error() != 0) this->_status = tables[c]->Error();
            mapped = false;
        }
    }
    if (!mapped) {
        // One channel's failed table leaves a colour image without a result; a grey image keeps
        // its unmapped new image.
        if constexpr (N > 1) return nullptr;
    } else {
        T* dst = out->buffer();
        for (uint64_t i = 0; i < uint64_t(pixels) * N; ++i)
            dst[i] = T((*tables[i % N])[bytes[i]]);
    }
    return adopt(out.release());
}

template <class Base, class T, int N, uint32_t Format>
Kelvo_Image* KelvoImageClassT<Base, T, N, Format>::histEqualizeImage() {
    if constexpr (std::is_same_v<T, uint16_t>) {
        return nullptr;
    } else if constexpr (Format == Kelvo_Image::kMonochrome) {
        return unchangedCopy();
    } else {
        return mapThroughTables([](Kelvo_Histogram& h) { return h.getLutNormalized(); });
    }
}

template <class Base, class T, int N, uint32_t Format>
Kelvo_Image* KelvoImageClassT<Base, T, N, Format>::histContrastStretchImage(int lowPercent, int highPercent) {
    if constexpr (std::is_same_v<T, uint16_t>) {
        return nullptr;
    } else if constexpr (Format == Kelvo_Image::kMonochrome) {
        return unchangedCopy();
    } else {
        return mapThroughTables([lowPercent, highPercent](Kelvo_Histogram& h) {
            int low = lowPercent, high = highPercent;
            return h.getLutContrastStretch(low, high);
        });
    }
}

template class KelvoImageClassT<Kelvo_Image8Greys, uint8_t, 1, Kelvo_Image::kMonochrome>;
template class KelvoImageClassT<Kelvo_Image8Greys, uint8_t, 1, Kelvo_Image::kGrey>;
template class KelvoImageClassT<Kelvo_Image8Greys, float, 1, Kelvo_Image::kGreyFloat>;
template class KelvoImageClassT<Kelvo_Image, uint16_t, 1, Kelvo_Image::kGrey16>;
template class KelvoImageClassT<Kelvo_Image, uint8_t, 3, Kelvo_Image::kRGB>;
template class KelvoImageClassT<Kelvo_Image, uint8_t, 4, Kelvo_Image::kARGB>;

// ---------------------------------------------------------------------------------------------
// The classes

#define KELVO_IMAGE_CLASS_COMMON(Class)                                                                      \
    Class* Class::clone() {                                                                                  \
        if (!qtObjIsValid()) return nullptr;                                                                 \
        return new (std::nothrow) Class(*this);                                                              \
    }                                                                                                        \
    Class::KelvoImageClassT* Class::make(Buffer* adopted) const {                                            \
        return new (std::nothrow) Class(adopted);                                                            \
    }

KELVO_IMAGE_CLASS_COMMON(Kelvo_Image8BitMonochrome)
KELVO_IMAGE_CLASS_COMMON(Kelvo_Image8BitGrey)
KELVO_IMAGE_CLASS_COMMON(Kelvo_Image8BitGreyFloat)
KELVO_IMAGE_CLASS_COMMON(Kelvo_Image16BitGrey)
KELVO_IMAGE_CLASS_COMMON(Kelvo_ImageRGB)
KELVO_IMAGE_CLASS_COMMON(Kelvo_ImageARGB)

#undef KELVO_IMAGE_CLASS_COMMON

uint8_t* Kelvo_Image8BitGreyFloat::convertToChar() {
    if (!qtObjIsValid()) return nullptr;
    bool owned = false;
    const uint8_t* bytes = bytesForTables(owned);
    return const_cast<uint8_t*>(bytes);
}

namespace {

template <int N> void splitInto(const uint8_t* pixels, uint8_t* planes, uint32_t count) {
    for (int c = 0; c < N; ++c)
        for (uint32_t i = 0; i < count; ++i)
            planes[size_t(c) * count + i] = pixels[size_t(i) * N + c];
}

template <int N> void mergeFrom(uint8_t* pixels, const uint8_t* planes, uint32_t count) {
    for (int c = 0; c < N; ++c)
        for (uint32_t i = 0; i < count; ++i)
            pixels[size_t(i) * N + c] = planes[size_t(c) * count + i];
}

} // namespace

#define KELVO_IMAGE_PLANES(Class, N)                                                                         \
    uint8_t* Class::bufferPlanar() {                                                                         \
        if (!qtObjIsValid()) return nullptr;                                                                 \
        auto* planes = new (std::nothrow) uint8_t[size_t(pixelCount()) * N];                                 \
        if (!planes) {                                                                                       \
            _status = kNoMemory;                                                                             \
            return nullptr;                                                                                  \
        }                                                                                                    \
        splitInto<N>(_data->buffer(), planes, pixelCount());                                                 \
        return planes;                                                                                       \
    }                                                                                                        \
    void Class::splitPlanes(uint8_t* planes) {                                                               \
        if (!planes) {                                                                                       \
            _status = kBadArgument;                                                                          \
            return;                                                                                          \
        }                                                                                                    \
        if (qtObjIsValid()) splitInto<N>(_data->buffer(), planes, pixelCount());                             \
    }                                                                                                        \
    void Class::mergePlanes(uint8_t* planes) {                                                               \
        if (!qtObjIsValid()) return;                                                                         \
        if (!planes) {                                                                                       \
            _status = kNoMemory;                                                                             \
            return;                                                                                          \
        }                                                                                                    \
        mergeFrom<N>(_data->buffer(), planes, pixelCount());                                                 \
    }

KELVO_IMAGE_PLANES(Kelvo_ImageRGB, 3)
KELVO_IMAGE_PLANES(Kelvo_ImageARGB, 4)

#undef KELVO_IMAGE_PLANES
