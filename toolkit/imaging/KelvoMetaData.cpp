#include "KelvoMetaData.h"

#include "KelvoExportGraphics.h"
#include "KelvoImportGraphics.h"
#include "PlatformGraphicsImport.h"
#include "PlatformMemory.h"

#include "PlatformEndian.h"
#include "PlatformErrors.h"
#include "PlatformMovies.h"
#include "PlatformPendingCalls.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace {

constexpr uint32_t kNoStorageFormat = FOUR_CHAR_CODE("NONE");

bool isFourCharFormat(uint32_t f) {
    return f == kQTMetaDataKeyFormatCommon || f == kQTMetaDataKeyFormatItsk || f == kQTMetaDataKeyFormatUdta;
}

bool isTextFormat(uint32_t f) {
    return f == kQTMetaDataKeyFormatItlk || f == kQTMetaDataKeyFormatMdta;
}

// The width of the number that a format code holds; 0 for codes that are no numbers.
uint32_t numberWidth(uint32_t code) {
    switch (code) {
    case 3:
        return 1;
    case 4:
    case 6:
        return 2;
    case 5:
    case 7:
    case 8:
        return 4;
    case 9:
        return 8;
    default:
        return 0;
    }
}

uint64_t loadBE64(const void* p) {
    const auto* b = static_cast<const uint8_t*>(p);
    return (uint64_t(platform::loadBE32(b)) << 32) | platform::loadBE32(b + 4);
}

void storeBE64(void* p, uint64_t v) {
    auto* b = static_cast<uint8_t*>(p);
    platform::storeBE32(b, uint32_t(v >> 32));
    platform::storeBE32(b + 4, uint32_t(v));
}

// `v` without its fraction, saturated to [lo, hi]; NaN has no integer.
template <class T> T saturated(double v) {
    const double t = std::trunc(v);
    if (t <= double(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
    if (t >= double(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    return T(t);
}

// `v` as a 32-bit float; finite values past its range keep its largest magnitude.
float toFloat(double v) {
    if (std::isnan(v) || std::isinf(v)) return float(v);
    if (v > double(FLT_MAX)) return FLT_MAX;
    if (v < -double(FLT_MAX)) return -FLT_MAX;
    return float(v);
}

char* copyText(const char* text) {
    const size_t n = std::strlen(text);
    char* copy = new (std::nothrow) char[n + 1];
    if (copy) std::memcpy(copy, text, n + 1);
    return copy;
}

// Takes `object` into the list, which owns it from then on; deletes it when the list cannot.
bool append(Kelvo_QTObjectsList& list, Kelvo_QTObj* object) {
    if (!object) return false;
    if (!list.NewItem(object, 0) || list.Error() != noErr) {
        delete object;
        return false;
    }
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Kelvo_MetaDataKey

Kelvo_MetaDataKey::Kelvo_MetaDataKey() = default;

Kelvo_MetaDataKey::Kelvo_MetaDataKey(uint32_t format, const unsigned char* key) : _format(format) {
    rawValue(key);
}

Kelvo_MetaDataKey::Kelvo_MetaDataKey(const Kelvo_MetaDataKey& other)
    : Kelvo_QTObj(other), _format(other._format) {
    setKey(other._key, other._size);
}

Kelvo_MetaDataKey::Kelvo_MetaDataKey(QTMetaDataRef md, uint64_t item) {
    if (!md || item == 0) {
        _status = paramErr;
        return;
    }
    uint32_t format = 0;
    OSStatus err =
        QTMetaDataGetItemProperty(md, item, kPropertyClass_MetaDataItem, kQTMetaDataItemPropertyID_KeyFormat,
                                  sizeof format, &format, nullptr);
    if (err != noErr) {
        _status = err;
        return;
    }
    _format = format;
    ByteCount size = 0;
    if (QTMetaDataGetItemPropertyInfo(md, item, kPropertyClass_MetaDataItem, kQTMetaDataItemPropertyID_Key,
                                      nullptr, &size, nullptr) != noErr) {
        _status = memFullErr;
        return;
    }
    if (size == 0) return;
    auto* bytes = new (std::nothrow) unsigned char[size];
    if (!bytes) {
        _status = memFullErr;
        return;
    }
    ByteCount used = 0;
    err = QTMetaDataGetItemProperty(md, item, kPropertyClass_MetaDataItem, kQTMetaDataItemPropertyID_Key,
                                    size, bytes, &used);
    if (err != noErr || used == 0) {
        _status = err;
        delete[] bytes;
        return;
    }
    _key = bytes;
    _size = used;
}

Kelvo_MetaDataKey& Kelvo_MetaDataKey::operator=(const Kelvo_MetaDataKey& other) {
    if (&other == this) return *this;
    reset();
    _format = other._format;
    setKey(other._key, other._size);
    return *this;
}

Kelvo_MetaDataKey::~Kelvo_MetaDataKey() {
    dropKey();
}

Kelvo_QTObj* Kelvo_MetaDataKey::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) Kelvo_MetaDataKey(*this);
}

void Kelvo_MetaDataKey::reset() {
    dropKey();
    _format = 0;
}

void Kelvo_MetaDataKey::dropKey() {
    delete[] _key;
    _key = nullptr;
    _size = 0;
}

bool Kelvo_MetaDataKey::operator==(const Kelvo_MetaDataKey& other) const {
    if (_format != other._format || _size != other._size) return false;
    switch (_format) {
    case kQTMetaDataKeyFormatItsk:
    case kQTMetaDataKeyFormatUdta:
        // The codes: their 4 bytes, or as many as both keys have.
        return _size == 0 || std::memcmp(_key, other._key, _size < 4 ? _size : 4) == 0;
    case kQTMetaDataKeyFormatCommon:
        return true;
    case kQTMetaDataKeyFormatItlk:
    case kQTMetaDataKeyFormatMdta:
        return _size == 0 || std::strncmp(reinterpret_cast<const char*>(_key),
                                          reinterpret_cast<const char*>(other._key), _size) == 0;
    default:
        return false;
    }
}

void Kelvo_MetaDataKey::rawValue(const unsigned char* key) {
    if (_format == 0) return;
    if (!key) {
        dropKey();
    } else if (isFourCharFormat(_format)) {
        setKey(key, 4);
    } else if (isTextFormat(_format)) {
        setKey(key, uint32_t(std::strlen(reinterpret_cast<const char*>(key))));
    } else {
        dropKey();
        _status = kKelvoMetaDataNoKey;
    }
}

void Kelvo_MetaDataKey::setKey(const void* bytes, uint32_t size) {
    // The bytes may be this key's own.
    unsigned char* copy = nullptr;
    if (bytes && size > 0) {
        copy = new (std::nothrow) unsigned char[size];
        if (!copy) {
            dropKey();
            _status = memFullErr;
            return;
        }
        std::memcpy(copy, bytes, size);
    }
    dropKey();
    _key = copy;
    _size = copy ? size : 0;
}

void Kelvo_MetaDataKey::format(uint32_t f) {
    if (f == _format) return;
    if (!isFourCharFormat(f) && !isTextFormat(f)) {
        _status = kKelvoMetaDataNoKey;
        return;
    }
    _format = f;
    dropKey();
}

bool Kelvo_MetaDataKey::isOSTypeKey() const {
    return isFourCharFormat(_format);
}

bool Kelvo_MetaDataKey::isStringKey() const {
    return isTextFormat(_format);
}

uint32_t Kelvo_MetaDataKey::ostypeValue() const {
    if (_format != kQTMetaDataKeyFormatItsk && _format != kQTMetaDataKeyFormatUdta) return 0;
    if (!_key || _size < 4) return 0;
    uint32_t v = 0;
    std::memcpy(&v, _key, 4);
    return v;
}

void Kelvo_MetaDataKey::ostypeValue(uint32_t v) {
    unsigned char bytes[5] = {};
    // A text key takes the code's characters in reading order.
    if (isTextFormat(_format))
        platform::storeBE32(bytes, v);
    else
        std::memcpy(bytes, &v, 4);
    rawValue(bytes);
}

char* Kelvo_MetaDataKey::stringValue() const {
    if (!isTextFormat(_format) || !_key) return nullptr;
    char* text = new (std::nothrow) char[size_t(_size) + 1];
    if (!text) return nullptr;
    std::memcpy(text, _key, _size);
    text[_size] = 0;
    return text;
}

uint32_t Kelvo_MetaDataKey::requiredStorageFormat() const {
    switch (_format) {
    case kQTMetaDataKeyFormatItlk:
    case kQTMetaDataKeyFormatItsk:
        return kQTMetaDataStorageFormatItms;
    case kQTMetaDataKeyFormatMdta:
        return kQTMetaDataStorageFormatMdta;
    case kQTMetaDataKeyFormatUdta:
        return kQTMetaDataStorageFormatUdta;
    default:
        return kQTMetaDataStorageFormatWildcard;
    }
}

// ---------------------------------------------------------------------------------------------
// Kelvo_MetaDataValue

Kelvo_MetaDataValue::Kelvo_MetaDataValue() = default;

Kelvo_MetaDataValue::Kelvo_MetaDataValue(const Kelvo_MetaDataValue& other)
    : Kelvo_QTObj(other), _type(other._type) {
    if (other.qtObjIsValid()) setValue(other._data, other._size);
}

Kelvo_MetaDataValue::Kelvo_MetaDataValue(QTMetaDataRef md, uint64_t item) : _type(kNoType) {
    if (!md || item == 0) {
        _status = paramErr;
        return;
    }
    uint32_t type = 0;
    OSStatus err = QTMetaDataGetItemProperty(md, item, kPropertyClass_MetaDataItem,
                                             kQTMetaDataItemPropertyID_DataType, sizeof type, &type, nullptr);
    if (err != noErr) {
        _status = err;
        reset();
        return;
    }
    _type = int32_t(type);
    ByteCount size = 0;
    err = QTMetaDataGetItemValue(md, item, nullptr, 0, &size);
    if (err != noErr) {
        _status = err;
        return;
    }
    if (size == 0) return;
    if (!allocate(size)) return;
    ByteCount used = 0;
    err = QTMetaDataGetItemValue(md, item, _data, size, &used);
    if (err != noErr) {
        _status = err;
        dropData();
        return;
    }
    _size = used;
}

Kelvo_MetaDataValue& Kelvo_MetaDataValue::operator=(const Kelvo_MetaDataValue& other) {
    if (&other == this) return *this;
    reset();
    _type = other._type;
    setValue(other._data, other._size);
    return *this;
}

Kelvo_MetaDataValue::~Kelvo_MetaDataValue() {
    dropData();
}

Kelvo_QTObj* Kelvo_MetaDataValue::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) Kelvo_MetaDataValue(*this);
}

void Kelvo_MetaDataValue::reset() {
    dropData();
    _type = kNoType;
}

void Kelvo_MetaDataValue::dropData() {
    delete[] _data;
    _data = nullptr;
    _size = 0;
}

bool Kelvo_MetaDataValue::allocate(uint32_t size) {
    dropData();
    _data = new (std::nothrow) unsigned char[size_t(size) + 1]();
    if (!_data) {
        _status = memFullErr;
        return false;
    }
    _size = size;
    return true;
}

void Kelvo_MetaDataValue::setValue(const void* data, uint32_t size) {
    if (!data || size == 0) {
        dropData();
        return;
    }
    // The bytes may be this value's own.
    auto* copy = new (std::nothrow) unsigned char[size_t(size) + 1];
    if (!copy) {
        dropData();
        _status = memFullErr;
        return;
    }
    std::memcpy(copy, data, size);
    copy[size] = 0;
    dropData();
    _data = copy;
    _size = size;
}

// The importer and exporter subtypes of the image types. GIF values are read by the GIF importer;
// no exporter writes GIF (see imageValue(Kelvo_QDGWorldBuffer*)).
namespace {

uint32_t importerFor(int32_t type) {
    switch (type) {
    case kQTMetaDataTypeBMPImage: return FOUR_CHAR_CODE("BMPf");
    case kQTMetaDataTypeGIF: return FOUR_CHAR_CODE("GIFf");
    case kQTMetaDataTypeJPEGImage: return FOUR_CHAR_CODE("JPEG");
    case kQTMetaDataTypePNGImage: return FOUR_CHAR_CODE("PNGf");
    default: return 0;
    }
}

} // namespace

Kelvo_QDGWorldBuffer* Kelvo_MetaDataValue::imageValue() {
    if (!isDataImage() || !_data || _size == 0) return nullptr;
    Handle bytes = nullptr;
    if (PtrToHand(_data, &bytes, Size(_size)) != noErr || !bytes) {
        _status = memFullErr;
        return nullptr;
    }
    Kelvo_QDGWorldBuffer* buffer = nullptr;
    {
        Kelvo_ImportGraphics service(importerFor(_type), bytes);
        if (!service.qtObjIsValid() || !service.component()) {
            _status = service.Error() != noErr ? service.Error() : int32_t(paramErr);
        } else {
            ComponentInstance importer = service.component()->instance();
            Rect natural{};
            OSErr err = OSErr(GraphicsImportGetNaturalBounds(importer, &natural));
            buffer = new (std::nothrow) Kelvo_QDGWorldBuffer(Kelvo_Rect(natural), k32ARGBPixelFormat);
            if (!buffer) {
                _status = memFullErr;
            } else {
                if (err == noErr && buffer->qtObjIsValid()) {
                    GraphicsImportSetGWorld(importer, buffer->buffer(), nullptr);
                    err = OSErr(GraphicsImportDraw(importer));
                } else if (err == noErr) {
                    err = OSErr(buffer->Error() != noErr ? buffer->Error() : int32_t(paramErr));
                }
                // The buffer goes back also when the draw failed, as its callers expect.
                _status = err;
            }
        }
    }
    DisposeHandle(bytes);
    return buffer;
}

void Kelvo_MetaDataValue::imageValue(Kelvo_QDGWorldBuffer* b) {
    if (!isDataImage()) return;
    if (!b || !b->qtObjIsValid()) {
        _status = b ? b->Error() : int32_t(paramErr);
        if (_status == noErr) _status = paramErr;
        return;
    }
    // No exporter writes GIF: a GIF value given pixels becomes a PNG value, so that what it holds
    // is what its type says and reads back.
    if (_type == kQTMetaDataTypeGIF) _type = kQTMetaDataTypePNGImage;
    Kelvo_ExportGraphics service(importerFor(_type));
    if (!service.qtObjIsValid()) {
        _status = service.Error() != noErr ? service.Error() : int32_t(paramErr);
        return;
    }
    Handle out = NewHandle(0);
    if (!out) {
        _status = memFullErr;
        return;
    }
    compressionOutputRecord record{};
    record.kind = 2;
    record.handle = out;
    const uint32_t written = service.doService(b, &record);
    _status = service.Error();
    if (written > 0 && GetHandleSize(out) >= Size(written)) setValue(*out, written);
    DisposeHandle(out);
}

int32_t Kelvo_MetaDataValue::format() const {
    switch (_type) {
    case kQTMetaDataTypeBinary:
        return 0;
    case kQTMetaDataTypeUTF8:
    case kQTMetaDataTypePlatformText:
        return 1;
    case kQTMetaDataTypeUTF16BE:
        return 2;
    case kQTMetaDataTypeUnsignedIntegerBE:
        return _size == 1 ? 3 : _size == 2 ? 4 : _size == 4 ? 5 : -1;
    case kQTMetaDataTypeSignedIntegerBE:
        return _size == 2 ? 6 : _size == 4 ? 7 : -1;
    case kQTMetaDataTypeFloat32BE:
        return _size == 0 || _size == 4 ? 8 : -1;
    case kQTMetaDataTypeFloat64BE:
        return _size == 0 || _size == 8 ? 9 : -1;
    case kQTMetaDataTypeGIF:
    case kQTMetaDataTypeJPEGImage:
    case kQTMetaDataTypePNGImage:
    case kQTMetaDataTypeBMPImage:
        return _type;
    default:
        return -1;
    }
}

int32_t Kelvo_MetaDataValue::numberFormat() const {
    return isDataNumber() ? format() : -1;
}

void Kelvo_MetaDataValue::format(uint32_t code) {
    if (int64_t(code) == int64_t(format())) return;
    int32_t type = kNoType;
    switch (code) {
    case 0:
    case 1:
    case 2:
    case 12:
    case 13:
    case 14:
    case 27:
        type = int32_t(code);
        break;
    case 3:
    case 4:
    case 5:
        type = kQTMetaDataTypeUnsignedIntegerBE;
        break;
    case 6:
    case 7:
        type = kQTMetaDataTypeSignedIntegerBE;
        break;
    case 8:
        type = kQTMetaDataTypeFloat32BE;
        break;
    case 9:
        type = kQTMetaDataTypeFloat64BE;
        break;
    default:
        reset();
        _status = paramErr;
        return;
    }
    dropData();
    _type = type;
    if (uint32_t width = numberWidth(code)) allocate(width);
}

bool Kelvo_MetaDataValue::isDataNumber() const {
    return _type >= int32_t(kQTMetaDataTypeSignedIntegerBE) && _type <= int32_t(kQTMetaDataTypeFloat64BE);
}

bool Kelvo_MetaDataValue::isDataImage() const {
    return _type == kQTMetaDataTypeGIF || _type == kQTMetaDataTypeJPEGImage ||
           _type == kQTMetaDataTypePNGImage || _type == kQTMetaDataTypeBMPImage;
}

bool Kelvo_MetaDataValue::isDataBinary() const {
    return _type == kQTMetaDataTypeBinary;
}

bool Kelvo_MetaDataValue::isDataString() const {
    return _type == kQTMetaDataTypeUTF8 || _type == kQTMetaDataTypeUTF16BE ||
           _type == kQTMetaDataTypePlatformText;
}

void Kelvo_MetaDataValue::binaryValue(const void* data, uint32_t size) {
    if (_type == kQTMetaDataTypeBinary) setValue(data, size);
}

const char* Kelvo_MetaDataValue::utf8Value() const {
    if ((_type != kQTMetaDataTypeUTF8 && _type != kQTMetaDataTypePlatformText) || !_data) return "";
    return reinterpret_cast<const char*>(_data);
}

void Kelvo_MetaDataValue::utf8Value(const char* s) {
    if (_type != kQTMetaDataTypeUTF8 && _type != kQTMetaDataTypePlatformText) return;
    if (!s) {
        dropData();
        return;
    }
    setValue(s, uint32_t(std::strlen(s) + 1));
}

void Kelvo_MetaDataValue::utf16Value(const void* data, uint32_t size) {
    if (_type != kQTMetaDataTypeUTF16BE) return;
    setValue(data, size);
    for (uint32_t i = 0; _data && i + 1 < _size; i += 2) {
        uint16_t unit = 0;
        std::memcpy(&unit, _data + i, 2);
        platform::storeBE16(_data + i, unit);
    }
}

double Kelvo_MetaDataValue::numberValue() const {
    if (!isDataNumber() || !_data) return 0.0;
    switch (_type) {
    case kQTMetaDataTypeSignedIntegerBE:
        if (_size == 2) return double(int16_t(platform::loadBE16(_data)));
        if (_size == 4) return double(int32_t(platform::loadBE32(_data)));
        return 0.0;
    case kQTMetaDataTypeUnsignedIntegerBE:
        if (_size == 1) return double(_data[0]);
        if (_size == 2) return double(platform::loadBE16(_data));
        if (_size == 4) return double(platform::loadBE32(_data));
        return 0.0;
    case kQTMetaDataTypeFloat32BE:
        return _size == 4 ? double(std::bit_cast<float>(platform::loadBE32(_data))) : 0.0;
    default: // kQTMetaDataTypeFloat64BE
        return _size == 8 ? std::bit_cast<double>(loadBE64(_data)) : 0.0;
    }
}

void Kelvo_MetaDataValue::numberValue(double v) {
    const bool integer = _type == kQTMetaDataTypeSignedIntegerBE || _type == kQTMetaDataTypeUnsignedIntegerBE;
    if (integer) {
        if (!_data) return;
        if (std::isnan(v)) {
            _status = paramErr;
            return;
        }
        if (_type == kQTMetaDataTypeSignedIntegerBE) {
            if (_size == 2) platform::storeBE16(_data, uint16_t(saturated<int16_t>(v)));
            if (_size == 4) platform::storeBE32(_data, uint32_t(saturated<int32_t>(v)));
        } else {
            if (_size == 1) _data[0] = saturated<uint8_t>(v);
            if (_size == 2) platform::storeBE16(_data, saturated<uint16_t>(v));
            if (_size == 4) platform::storeBE32(_data, saturated<uint32_t>(v));
        }
        return;
    }
    if (_type == kQTMetaDataTypeFloat32BE) {
        if (_size != 4 && !allocate(4)) return;
        platform::storeBE32(_data, std::bit_cast<uint32_t>(toFloat(v)));
    } else if (_type == kQTMetaDataTypeFloat64BE) {
        if (_size != 8 && !allocate(8)) return;
        storeBE64(_data, std::bit_cast<uint64_t>(v));
    }
}

// ---------------------------------------------------------------------------------------------
// Kelvo_MetaDataItem

Kelvo_MetaDataItem::Kelvo_MetaDataItem() = default;

Kelvo_MetaDataItem::Kelvo_MetaDataItem(const Kelvo_MetaDataItem& other)
    : Kelvo_QTObj(other), _id(other._id), _storage(other._storage) {
    if (other._key) _key = new (std::nothrow) Kelvo_MetaDataKey(*other._key);
    if (other._value) _value = new (std::nothrow) Kelvo_MetaDataValue(*other._value);
    if (other._region) _region = copyText(other._region);
    if ((other._key && !_key) || (other._value && !_value) || (other._region && !_region))
        _status = memFullErr;
}

Kelvo_MetaDataItem::Kelvo_MetaDataItem(QTMetaDataRef md, uint64_t item) : _id(item) {
    if (!md || item == 0) {
        _status = paramErr;
        return;
    }
    // An item whose key or value cannot be read is left without them, with the reason.
    auto* key = new (std::nothrow) Kelvo_MetaDataKey(md, item);
    if (!key || !key->qtObjIsValid()) {
        _status = !key ? memFullErr : key->Error() != noErr ? key->Error() : kKelvoMetaDataNoKey;
        delete key;
        return;
    }
    _key = key;
    auto* value = new (std::nothrow) Kelvo_MetaDataValue(md, item);
    if (!value || !value->qtObjIsValid()) {
        _status = !value ? memFullErr : value->Error() != noErr ? value->Error() : paramErr;
        delete value;
        return;
    }
    _value = value;
    uint32_t storage = 0;
    if (QTMetaDataGetItemProperty(md, item, kPropertyClass_MetaDataItem,
                                  kQTMetaDataItemPropertyID_StorageFormat, sizeof storage, &storage,
                                  nullptr) == noErr)
        _storage = storage;
    ByteCount size = 0;
    _status = QTMetaDataGetItemPropertyInfo(md, item, kPropertyClass_MetaDataItem,
                                            kQTMetaDataItemPropertyID_Locale, nullptr, &size, nullptr);
    if (_status != noErr || size == 0) return;
    // The text is ended here whatever the bytes hold.
    char* text = new (std::nothrow) char[size_t(size) + 1]();
    if (!text) {
        _status = memFullErr;
        return;
    }
    if (QTMetaDataGetItemProperty(md, item, kPropertyClass_MetaDataItem, kQTMetaDataItemPropertyID_Locale,
                                  size, text, nullptr) == noErr &&
        text[0] != 0)
        _region = text;
    else
        delete[] text;
}

Kelvo_MetaDataItem::~Kelvo_MetaDataItem() {
    reset();
}

Kelvo_QTObj* Kelvo_MetaDataItem::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) Kelvo_MetaDataItem(*this);
}

void Kelvo_MetaDataItem::reset() {
    delete _key;
    _key = nullptr;
    delete _value;
    _value = nullptr;
    delete[] _region;
    _region = nullptr;
    _storage = 0;
}

void Kelvo_MetaDataItem::key(Kelvo_MetaDataKey* k) {
    // `k` may be this item's own key.
    Kelvo_MetaDataKey* copy = nullptr;
    if (!k) {
        _status = paramErr;
    } else if (!k->qtObjIsValid()) {
        _status = k->Error() != noErr ? k->Error() : kKelvoMetaDataNoKey;
    } else if (!(copy = new (std::nothrow) Kelvo_MetaDataKey(*k))) {
        _status = memFullErr;
    } else {
        _storage = k->requiredStorageFormat();
    }
    delete _key;
    _key = copy;
}

void Kelvo_MetaDataItem::value(Kelvo_MetaDataValue* v) {
    Kelvo_MetaDataValue* copy = nullptr;
    if (v && v->qtObjIsValid()) {
        copy = new (std::nothrow) Kelvo_MetaDataValue(*v);
        if (!copy) _status = memFullErr;
    }
    delete _value;
    _value = copy;
}

void Kelvo_MetaDataItem::regionCode(const char* text) {
    char* copy = nullptr;
    if (text && *text) {
        copy = copyText(text);
        if (!copy) _status = memFullErr;
    }
    delete[] _region;
    _region = copy;
}

// ---------------------------------------------------------------------------------------------
// Kelvo_MetaDataList

Kelvo_MetaDataList::Kelvo_MetaDataList(Movie movie) {
    _status = QTCopyMovieMetaData(movie, &_md);
    if (_status != noErr) reset();
}

Kelvo_MetaDataList::Kelvo_MetaDataList(Track track) {
    _status = QTCopyTrackMetaData(track, &_md);
    if (_status != noErr) reset();
}

Kelvo_MetaDataList::Kelvo_MetaDataList(Media media) {
    _status = QTCopyMediaMetaData(media, &_md);
    if (_status != noErr) reset();
}

Kelvo_MetaDataList::Kelvo_MetaDataList(QTMetaDataRef md) {
    if (!md) {
        _status = paramErr;
        return;
    }
    _md = QTMetaDataRetain(md);
    if (!_md) _status = kQTMetaDataInvalidMetaDataErr;
}

Kelvo_MetaDataList::Kelvo_MetaDataList(const Kelvo_MetaDataList& other) : Kelvo_QTObj(other) {
    if (!other.qtObjIsValid()) return;
    _md = QTMetaDataRetain(other._md);
    if (!_md) _status = kQTMetaDataInvalidMetaDataErr;
}

Kelvo_MetaDataList::~Kelvo_MetaDataList() {
    reset();
}

void Kelvo_MetaDataList::copy(Kelvo_QTObj& other) {
    if (&other == this) return;
    reset();
    if (!other.isA("Kelvo_MetaDataList")) {
        _status = paramErr;
        return;
    }
    if (!other.qtObjIsValid()) {
        _status = kKelvoBadArgumentObject;
        return;
    }
    _md = QTMetaDataRetain(static_cast<Kelvo_MetaDataList&>(other)._md);
    _status = _md ? noErr : kQTMetaDataInvalidMetaDataErr;
}

Kelvo_QTObj* Kelvo_MetaDataList::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) Kelvo_MetaDataList(*this);
}

void Kelvo_MetaDataList::reset() {
    if (_md) QTMetaDataRelease(_md);
    _md = nullptr;
}

uint32_t Kelvo_MetaDataList::propSize(uint32_t property) {
    ByteCount size = 0;
    OSStatus err = QTMetaDataGetPropertyInfo(_md, kPropertyClass_MetaData, property, nullptr, &size, nullptr);
    if (err != noErr) {
        _status = err;
        return 0;
    }
    return size;
}

uint32_t Kelvo_MetaDataList::ostypeToStorageFormat(Kelvo_OSType* t, int32_t& err) {
    err = noErr;
    if (!t) return kQTMetaDataStorageFormatWildcard;
    const uint32_t v = t->getOSType();
    if (v == kQTMetaDataStorageFormatItms || v == kQTMetaDataStorageFormatMdta ||
        v == kQTMetaDataStorageFormatUdta)
        return v;
    err = kKelvoMetaDataNoStorageFormat;
    return kNoStorageFormat;
}

uint64_t Kelvo_MetaDataList::nextItem(uint32_t storage, uint64_t current, const Kelvo_MetaDataKey* k,
                                      OSStatus& err) {
    QTMetaDataItem next = 0;
    err = QTMetaDataGetNextItem(_md, storage, current, k ? k->format() : kQTMetaDataKeyFormatWildcard,
                                k ? k->rawValue() : nullptr, k ? k->size() : 0, &next);
    return err == noErr ? next : 0;
}

uint32_t Kelvo_MetaDataList::count(Kelvo_OSType* t) {
    int32_t err = noErr;
    const uint32_t storage = ostypeToStorageFormat(t, err);
    _status = err;
    if (err != noErr || !_md) return 0;
    uint32_t n = 0;
    OSStatus result = noErr;
    for (uint64_t item = nextItem(storage, 0, nullptr, result); item;
         item = nextItem(storage, item, nullptr, result))
        ++n;
    if (result != kQTMetaDataNoMoreItemsErr) _status = result;
    return n;
}

Kelvo_QTObjectsList* Kelvo_MetaDataList::storageFormats() {
    const uint32_t size = propSize(kQTMetaDataPropertyID_StorageFormats);
    if (size < 4) return nullptr;
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(size);
    } catch (const std::bad_alloc&) {
        _status = memFullErr;
        return nullptr;
    }
    _status = QTMetaDataGetProperty(_md, kPropertyClass_MetaData, kQTMetaDataPropertyID_StorageFormats, size,
                                    bytes.data(), nullptr);
    if (_status != noErr) return nullptr;
    auto* list = new (std::nothrow) Kelvo_QTObjectsList();
    if (!list || !list->qtObjIsValid()) {
        _status = list ? list->Error() : memFullErr;
        delete list;
        return nullptr;
    }
    for (uint32_t i = 0; i + 4 <= size; i += 4) {
        uint32_t format = 0;
        std::memcpy(&format, bytes.data() + i, 4);
        append(*list, new (std::nothrow) Kelvo_OSType(format));
    }
    return list;
}

Kelvo_OSType* Kelvo_MetaDataList::ownerType() {
    ByteCount size = 0;
    _status = QTMetaDataGetPropertyInfo(_md, kPropertyClass_MetaData, kQTMetaDataPropertyID_OwnerType,
                                        nullptr, &size, nullptr);
    if (_status != noErr) return nullptr;
    if (size != 4) {
        _status = paramErr;
        return nullptr;
    }
    uint32_t owner = 0;
    _status = QTMetaDataGetProperty(_md, kPropertyClass_MetaData, kQTMetaDataPropertyID_OwnerType,
                                    sizeof owner, &owner, nullptr);
    if (_status != noErr) return nullptr;
    auto* type = new (std::nothrow) Kelvo_OSType(owner);
    if (!type) _status = memFullErr;
    return type;
}

Kelvo_QTObjectsList* Kelvo_MetaDataList::collect(uint32_t storage, const Kelvo_MetaDataKey* k) {
    auto* list = new (std::nothrow) Kelvo_QTObjectsList();
    if (!list || !list->qtObjIsValid()) {
        _status = list ? list->Error() : memFullErr;
        delete list;
        return nullptr;
    }
    OSStatus result = noErr;
    for (uint64_t item = nextItem(storage, 0, k, result); item; item = nextItem(storage, item, k, result))
        append(*list, new (std::nothrow) Kelvo_MetaDataItem(_md, item));
    if (result != kQTMetaDataNoMoreItemsErr) {
        _status = result;
        delete list;
        return nullptr;
    }
    _status = noErr;
    return list;
}

Kelvo_QTObjectsList* Kelvo_MetaDataList::items(Kelvo_OSType* t) {
    int32_t err = noErr;
    const uint32_t storage = ostypeToStorageFormat(t, err);
    if (err != noErr) {
        _status = err;
        return nullptr;
    }
    return collect(storage, nullptr);
}

Kelvo_QTObjectsList* Kelvo_MetaDataList::itemsForKey(Kelvo_MetaDataKey* k) {
    if (!k || !k->qtObjIsValid()) {
        _status = paramErr;
        return nullptr;
    }
    return collect(k->requiredStorageFormat(), k);
}

void Kelvo_MetaDataList::itemValue(Kelvo_MetaDataItem* i) {
    if (!i) {
        _status = paramErr;
        return;
    }
    if (!i->exists()) {
        _status = kKelvoMetaDataItemExists;
        return;
    }
    Kelvo_MetaDataValue* v = i->value();
    if (!v || !v->qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    _status = QTMetaDataSetItem(_md, i->id(), v->data(), v->size(), uint32_t(v->dataType()));
}

Kelvo_MetaDataItem* Kelvo_MetaDataList::addItem(Kelvo_MetaDataItem* i) {
    if (!_md) {
        _status = kQTMetaDataInvalidMetaDataErr;
        return nullptr;
    }
    if (!i || !i->qtObjIsValid()) {
        _status = paramErr;
        return nullptr;
    }
    if (i->exists()) {
        _status = kKelvoMetaDataItemExists;
        return nullptr;
    }
    Kelvo_MetaDataKey* k = i->key();
    if (!k || !k->qtObjIsValid()) {
        _status = kKelvoMetaDataNoKey;
        return nullptr;
    }
    Kelvo_MetaDataValue* v = i->value();
    QTMetaDataItem added = 0;
    _status = QTMetaDataAddItem(_md, i->typeOfStorage(), k->format(), k->rawValue(), k->size(), v->data(),
                                v->size(), uint32_t(v->dataType()), &added);
    const char* region = i->regionCode();
    if (added && *region) {
        OSStatus err = QTMetaDataSetItemProperty(_md, added, kPropertyClass_MetaDataItem,
                                                 kQTMetaDataItemPropertyID_Locale,
                                                 ByteCount(std::strlen(region) + 1), region);
        if (err != noErr) _status = err;
    }
    auto* stored = new (std::nothrow) Kelvo_MetaDataItem(_md, added);
    if (!stored) _status = memFullErr;
    return stored;
}

bool Kelvo_MetaDataList::removeItem(Kelvo_MetaDataKey* k) {
    if (!k || !k->qtObjIsValid()) {
        _status = paramErr;
        return false;
    }
    OSStatus err = noErr;
    const uint64_t item = nextItem(k->requiredStorageFormat(), 0, k, err);
    if (!item) {
        _status = err == kQTMetaDataNoMoreItemsErr ? noErr : err;
        return false;
    }
    _status = QTMetaDataRemoveItem(_md, item);
    return _status == noErr;
}

void Kelvo_MetaDataList::removeAllItems(Kelvo_MetaDataKey* k) {
    if (!k || !k->qtObjIsValid()) {
        _status = paramErr;
        return;
    }
    _status =
        QTMetaDataRemoveItemsWithKey(_md, k->requiredStorageFormat(), k->format(), k->rawValue(), k->size());
}

void Kelvo_MetaDataList::clear(Kelvo_OSType* t) {
    int32_t err = noErr;
    const uint32_t storage = ostypeToStorageFormat(t, err);
    _status = err;
    if (err != noErr) return;
    for (;;) {
        OSStatus result = noErr;
        const uint64_t item = nextItem(storage, 0, nullptr, result);
        if (!item) {
            if (result != kQTMetaDataNoMoreItemsErr) _status = result;
            return;
        }
        if ((result = QTMetaDataRemoveItem(_md, item)) != noErr) {
            _status = result;
            return;
        }
    }
}
