#include "KelvoDicomBinaryData.h"

#include "PlatformGeometry.h"
#include "PlatformMemory.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

// Items shown by the preview text, and its longest text with the NUL: 20 bytes as two digits, or
// 20 words or floats as up to eight digits (negative numbers), then "...".
constexpr uint32_t kPreviewItems = 20;
constexpr size_t kPreviewBytesSize = kPreviewItems * 2 + 3 + 1;
constexpr size_t kPreviewWideSize = kPreviewItems * 8 + 3 + 1;

// An owned copy of `count` bytes; null when there is nothing to hold or no memory.
KelvoDataT<uint8_t>* copyOfBytes(const uint8_t* bytes, uint32_t count) {
    if (!bytes || count == 0) return nullptr;
    auto* copy = new (std::nothrow) KelvoDataT<uint8_t>(const_cast<uint8_t*>(bytes), count, 0);
    if (copy && !copy->qtObjIsValid()) {
        delete copy;
        copy = nullptr;
    }
    return copy;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// KelvoDicomDataBinary

KelvoDicomDataBinary::~KelvoDicomDataBinary() {
    delete _data;
    delete[] _text;
}

KelvoDicomDataBinary& KelvoDicomDataBinary::operator=(const KelvoDicomDataBinary& other) {
    if (&other != this) copy(const_cast<KelvoDicomDataBinary&>(other));
    return *this;
}

void KelvoDicomDataBinary::reset() {
    KelvoDicomDataElementValue::defaultStatus();
    delete _data;
    _data = nullptr;
    delete[] _text;
    _text = nullptr;
}

void KelvoDicomDataBinary::defaultStatus() {
    reset();
}

bool KelvoDicomDataBinary::isA(const char* name) const {
    if (!name) return false;
    return KelvoDicomDataElementValue::isA(name) || std::strcmp(name, "KelvoDicomDataBinary") == 0;
}

void KelvoDicomDataBinary::copy(Kelvo_QTObj& source) {
    if (&source == this || !source.isA("KelvoDicomDataBinary")) return;
    takeData(static_cast<KelvoDicomDataBinary&>(source)._data, 1);
}

bool KelvoDicomDataBinary::nodeHasVR(KelvoDicomDataNode* node, const char* vr) {
    if (!node) {
        _status = -108;
        return false;
    }
    if (!node->qtObjIsValid()) {
        Kelvo_QTObj* object = node;
        int32_t error = 0;
        Kelvo_QTObj::isValidInstance(object, error, false);
        _status = error;
        return false;
    }
    if (std::strncmp(node->VR(), vr, 2) == 0) return true;
    _status = kKelvoWrongType;
    return false;
}

bool KelvoDicomDataBinary::readNode(KelvoDicomDataNode* node) {
    reset();
    if (!node) return false;
    Handle bytes = node->Value(0);
    if (!bytes) return true;
    Size size = GetHandleSize(bytes);
    if (size > 0) _data = copyOfBytes(reinterpret_cast<const uint8_t*>(*bytes), uint32_t(size));
    DisposeHandle(bytes);
    return true;
}

bool KelvoDicomDataBinary::_initWithData(KelvoDicomDataNode* node) {
    return readNode(node);
}

bool KelvoDicomDataBinary::takeData(const KelvoDataT<uint8_t>* data, uint8_t copy) {
    if (data == _data) return false;
    // The replacement is made before the old data goes: `data` may refer to the bytes held.
    KelvoDataT<uint8_t>* fresh = nullptr;
    if (data)
        fresh = copy ? copyOfBytes(data->items(), data->itemCount()) : const_cast<KelvoDataT<uint8_t>*>(data);
    reset();
    _data = fresh;
    return true;
}

bool KelvoDicomDataBinary::takeBytes(const void* bytes, uint32_t count) {
    if (!bytes || count == 0 || (_data && bytes == _data->items())) return false;
    KelvoDataT<uint8_t>* fresh = copyOfBytes(static_cast<const uint8_t*>(bytes), count);
    reset();
    _data = fresh;
    return true;
}

bool KelvoDicomDataBinary::takeValue(const KelvoDicomDataBinary& other, const char* vr) {
    if (&other == this || std::strncmp(other.vr(), vr, 2) != 0) return false;
    KelvoDataT<uint8_t>* fresh =
        other._data ? copyOfBytes(other._data->items(), other._data->itemCount()) : nullptr;
    reset();
    _data = fresh;
    return true;
}

bool KelvoDicomDataBinary::_initWithData(const KelvoDicomDataBinary& other) {
    return takeValue(other, vr());
}

bool KelvoDicomDataBinary::_initWithData(const KelvoDataT<uint8_t>* data, uint8_t copy) {
    return takeData(data, copy);
}

bool KelvoDicomDataBinary::binaryData(const void* bytes, uint32_t count) {
    return takeBytes(bytes, count);
}

uint32_t KelvoDicomDataBinary::_dataLengthForDicom() const {
    return _data ? _data->itemCount() : 0;
}

KelvoDicomDataNode* KelvoDicomDataBinary::_encodeForDicom() const {
    auto* node = new (std::nothrow) KelvoDicomDataNode(vr());
    if (!node) return nullptr;
    // A handle holds at most 2 GB; larger data leaves the node without value.
    if (_data && _data->qtObjIsValid() && _data->itemCount() <= uint32_t(INT32_MAX)) {
        Handle bytes = nullptr;
        if (PtrToHand(_data->items(), &bytes, Size(_data->itemCount())) == noErr && bytes) {
            node->Value(bytes, 0);
            DisposeHandle(bytes);
        }
    }
    return node;
}

const char* KelvoDicomDataBinary::preview(int itemSize) {
    const uint32_t items = itemsCount();
    if (items == 0) return _text;
    const size_t capacity = itemSize == 1 ? kPreviewBytesSize : kPreviewWideSize;
    if (!_text) {
        _text = new (std::nothrow) char[capacity];
        if (!_text) return nullptr;
    }
    _text[0] = 0;
    size_t used = 0;
    const uint8_t* bytes = _data->items();
    const uint32_t shown = items < kPreviewItems ? items : kPreviewItems;
    for (uint32_t i = 0; i < shown; ++i) {
        unsigned int number = 0;
        const char* format = "%02X";
        if (itemSize == 1) {
            number = bytes[i];
        } else if (itemSize == 2) {
            // Taken as signed: a negative word shows as the eight digits of its 32-bit form.
            int16_t word;
            std::memcpy(&word, bytes + size_t(i) * 2, sizeof word);
            number = static_cast<unsigned int>(int32_t(word));
        } else {
            float value;
            std::memcpy(&value, bytes + size_t(i) * 4, sizeof value);
            // NaN shows as 0 and values beyond 32 bits as the nearest limit.
            number = static_cast<unsigned int>(platform::truncToInt32(double(value)));
            format = "%04X";
        }
        int written = std::snprintf(_text + used, capacity - used, format, number);
        if (written > 0) used += size_t(written);
    }
    std::snprintf(_text + used, capacity - used, "...");
    return _text;
}

KelvoDicomDataBinary* KelvoDicomDataBinary::createWithVR(const char* vr) {
    if (!vr || std::strlen(vr) != 2) return nullptr;
    if (std::strcmp(vr, "OB") == 0) return new (std::nothrow) KelvoDicomDataOtherByte();
    if (std::strcmp(vr, "OW") == 0) return new (std::nothrow) KelvoDicomDataOtherWord();
    if (std::strcmp(vr, "OF") == 0) return new (std::nothrow) KelvoDicomDataOtherFloat();
    if (std::strcmp(vr, "UN") == 0) return new (std::nothrow) KelvoDicomDataUnknownData();
    return nullptr;
}

KelvoDicomDataBinary* KelvoDicomDataBinary::createWithBytes(const KelvoDataT<uint8_t>* data, uint8_t copy) {
    return new (std::nothrow) KelvoDicomDataOtherByte(data, copy);
}

KelvoDicomDataBinary* KelvoDicomDataBinary::createWithUnknownData(const KelvoDataT<uint8_t>* data,
                                                                  uint8_t copy) {
    return new (std::nothrow) KelvoDicomDataUnknownData(data, copy);
}

KelvoDicomDataBinary* KelvoDicomDataBinary::createWithWords(const KelvoDataT<uint8_t>* data, uint8_t copy) {
    return new (std::nothrow) KelvoDicomDataOtherWord(data, copy);
}

KelvoDicomDataBinary* KelvoDicomDataBinary::createWithFloats(const KelvoDataT<uint8_t>* data, uint8_t copy) {
    return new (std::nothrow) KelvoDicomDataOtherFloat(data, copy);
}

// ---------------------------------------------------------------------------------------------
// The concrete classes. Their constructors use the non-virtual helpers, with their own VR.

KelvoDicomDataOtherByte::KelvoDicomDataOtherByte(KelvoDicomDataNode* node) {
    if (nodeHasVR(node, "OB")) readNode(node);
}

KelvoDicomDataOtherByte::KelvoDicomDataOtherByte(const KelvoDataT<uint8_t>* data, uint8_t copy) {
    takeData(data, copy);
}

KelvoDicomDataOtherByte::KelvoDicomDataOtherByte(const KelvoDicomDataOtherByte& other)
    : KelvoDicomDataBinary(other) {
    takeValue(other, "OB");
}

KelvoDicomDataOtherByte* KelvoDicomDataOtherByte::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) KelvoDicomDataOtherByte(*this);
}

KelvoDicomDataUnknownData::KelvoDicomDataUnknownData(KelvoDicomDataNode* node) {
    if (nodeHasVR(node, "UN")) readNode(node);
}

KelvoDicomDataUnknownData::KelvoDicomDataUnknownData(const KelvoDataT<uint8_t>* data, uint8_t copy) {
    takeData(data, copy);
}

KelvoDicomDataUnknownData::KelvoDicomDataUnknownData(const KelvoDicomDataUnknownData& other)
    : KelvoDicomDataOtherByte() {
    takeValue(other, "UN");
}

KelvoDicomDataUnknownData* KelvoDicomDataUnknownData::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) KelvoDicomDataUnknownData(*this);
}

KelvoDicomDataOtherWord::KelvoDicomDataOtherWord(KelvoDicomDataNode* node) {
    if (nodeHasVR(node, "OW")) readNode(node);
}

KelvoDicomDataOtherWord::KelvoDicomDataOtherWord(const KelvoDataT<uint8_t>* data, uint8_t copy) {
    takeData(data, copy);
}

KelvoDicomDataOtherWord::KelvoDicomDataOtherWord(const KelvoDicomDataOtherWord& other)
    : KelvoDicomDataBinary(other) {
    takeValue(other, "OW");
}

KelvoDicomDataOtherWord* KelvoDicomDataOtherWord::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) KelvoDicomDataOtherWord(*this);
}

KelvoDicomDataOtherFloat::KelvoDicomDataOtherFloat(KelvoDicomDataNode* node) {
    if (nodeHasVR(node, "OF")) readNode(node);
}

KelvoDicomDataOtherFloat::KelvoDicomDataOtherFloat(const KelvoDataT<uint8_t>* data, uint8_t copy) {
    takeData(data, copy);
}

KelvoDicomDataOtherFloat::KelvoDicomDataOtherFloat(const KelvoDicomDataOtherFloat& other)
    : KelvoDicomDataBinary(other) {
    takeValue(other, "OF");
}

KelvoDicomDataOtherFloat* KelvoDicomDataOtherFloat::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new (std::nothrow) KelvoDicomDataOtherFloat(*this);
}
