#include "KelvoDicomLookupTables.h"

#include "PlatformMemory.h"

#include <cstring>
#include <new>

// ---------------------------------------------------------------------------------------------
// One table

KelvoDicomBaseLut::KelvoDicomBaseLut() = default;

KelvoDicomBaseLut::KelvoDicomBaseLut(uint32_t entries, uint16_t bits) {
    if (entries == 0 || (bits != 8 && bits != 16)) {
        _status = paramErr;
        return;
    }
    // Not through the virtual init(): the object is still being built.
    KelvoDicomBaseLut::init(entries, bits);
}

KelvoDicomBaseLut::KelvoDicomBaseLut(const KelvoDicomBaseLut& other) : Kelvo_QTObj(other) {
    takeOver(other);
}

KelvoDicomBaseLut& KelvoDicomBaseLut::operator=(const KelvoDicomBaseLut& other) {
    if (&other != this) takeOver(other);
    return *this;
}

KelvoDicomBaseLut::~KelvoDicomBaseLut() {
    release();
}

void KelvoDicomBaseLut::release() {
    delete[] _data;
    _data = nullptr;
    _entries = 0;
    _firstMapped = 0;
    _bits = 0;
}

void KelvoDicomBaseLut::defaultStatus() {
    release();
}

void KelvoDicomBaseLut::takeOver(const KelvoDicomBaseLut& other) {
    release();
    KelvoDicomBaseLut::init(other._entries, other._bits);
    _firstMapped = other._firstMapped;
    if (_data && other._data) {
        std::memcpy(_data, other._data, sizeOfLuts());
        _status = noErr;
    } else {
        _status = paramErr;
    }
}

void KelvoDicomBaseLut::copy(Kelvo_QTObj& other) {
    if (&other == this || !other.isA(qtObjName())) return;
    takeOver(static_cast<KelvoDicomBaseLut&>(other));
}

Kelvo_QTObj* KelvoDicomBaseLut::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new KelvoDicomBaseLut(*this);
}

void KelvoDicomBaseLut::init(uint32_t entries, uint16_t bits) {
    delete[] _data;
    _data = nullptr;
    _entries = 0;
    _bits = 0;
    if (entries == 0 || entries > kDicomLutMaxEntries || (bits != 8 && bits != 16)) {
        _status = paramErr;
        return;
    }
    _data = new (std::nothrow) uint8_t[size_t(entries) * (bits / 8)]();
    if (!_data) {
        _status = memFullErr;
        return;
    }
    _entries = entries;
    _bits = bits;
    _status = noErr;
}

void KelvoDicomBaseLut::allocate(uint32_t entries, uint16_t bits) {
    if (entries == 0 || (bits != 8 && bits != 16)) {
        _status = paramErr;
        return;
    }
    release();
    init(entries, bits);
}

int32_t KelvoDicomBaseLut::lutData(const uint8_t* source) {
    if (!_data) return _status;
    if (!source) {
        _status = paramErr;
        return _status;
    }
    std::memcpy(_data, source, sizeOfLuts());
    _status = noErr;
    return _status;
}

int32_t KelvoDicomBaseLut::lutData(const uint8_t* source, uint32_t size) {
    if (!_data) return _status;
    if (!source) {
        _status = paramErr;
        return _status;
    }
    const uint32_t whole = sizeOfLuts();
    const uint32_t n = size < whole ? size : whole;
    std::memcpy(_data, source, n);
    std::memset(_data + n, 0, whole - n);
    _status = n == whole ? noErr : paramErr;
    return _status;
}

void KelvoDicomBaseLut::dicomLutDescriptor(KelvoDicomDataNode& node) {
    if (!_data) return;
    if (!node.qtObjIsValid() ||
        (node.Format() != int32_t(kDicmFormatUS) && node.Format() != int32_t(kDicmFormatSS))) {
        _status = paramErr;
        return;
    }
    // Three separate values, as the descriptor's value multiplicity says; the first mapped value
    // keeps its 16 bits so that a signed one reads back through SS.
    const uint16_t values[3] = {uint16_t(_entries >= kDicomLutMaxEntries ? 0 : _entries),
                                uint16_t(_firstMapped), _bits};
    node.Clear();
    for (uint16_t v : values)
        node.numberSet(0, &v);
    _status = node.Error();
}

void KelvoDicomBaseLut::dicomLutData(KelvoDicomDataNode& node) {
    if (!_data) return;
    Handle bytes = nullptr;
    OSErr err = PtrToHand(_data, &bytes, Size(sizeOfLuts()));
    if (err != noErr || !bytes) {
        _status = err != noErr ? err : memFullErr;
        return;
    }
    node.Value(bytes, 0);
    DisposeHandle(bytes);
    _status = node.Error();
}

// ---------------------------------------------------------------------------------------------
// The palette

KelvoDicomPixelLut::KelvoDicomPixelLut(uint32_t entries, uint16_t bits, bool alpha) {
    initLuts(entries, bits, alpha);
}

KelvoDicomPixelLut::KelvoDicomPixelLut(const KelvoDicomPixelLut& other) : Kelvo_QTObj(other) {
    takeOver(other);
}

KelvoDicomPixelLut& KelvoDicomPixelLut::operator=(const KelvoDicomPixelLut& other) {
    if (&other != this) takeOver(other);
    return *this;
}

void KelvoDicomPixelLut::takeOver(const KelvoDicomPixelLut& other) {
    for (KelvoDicomBaseLut& t : _luts)
        t.defaultStatus();
    _status = noErr;
    const int n = other.hasAlpha() ? 4 : 3;
    for (int i = 0; i < n; ++i) {
        _luts[i] = other._luts[i];
        if (_status == noErr) _status = _luts[i].Error();
    }
}

void KelvoDicomPixelLut::copy(Kelvo_QTObj& other) {
    if (&other == this || !other.isA(qtObjName())) return;
    takeOver(static_cast<KelvoDicomPixelLut&>(other));
}

Kelvo_QTObj* KelvoDicomPixelLut::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new KelvoDicomPixelLut(*this);
}

void KelvoDicomPixelLut::defaultStatus() {
    for (KelvoDicomBaseLut& t : _luts)
        t.defaultStatus();
}

void KelvoDicomPixelLut::initLuts(uint32_t entries, uint16_t bits, bool alpha) {
    const uint16_t used = alpha ? 8 : bits;
    const int n = alpha ? 4 : 3;
    for (int i = 0; i < n; ++i) {
        _luts[i].allocate(entries, used);
        if (_luts[i].Error() != noErr || !_luts[i].qtObjIsValid()) {
            _status = _luts[i].Error();
            // Not through the virtual defaultStatus(): constructors come here too.
            for (KelvoDicomBaseLut& t : _luts)
                t.defaultStatus();
            return;
        }
    }
    _status = noErr;
}

void KelvoDicomPixelLut::allocate(uint32_t entries, uint16_t bits, bool alpha) {
    initLuts(entries, bits, alpha);
}

void KelvoDicomPixelLut::hasAlpha(bool on) {
    if (on == hasAlpha()) return;
    if (!on) {
        _luts[3].defaultStatus();
        return;
    }
    if (_luts[0].bitsPerEntry() != 8) return;
    _luts[3].allocate(_luts[0].entries(), 8);
    _luts[3].firstMappedValue(_luts[0].firstMappedValue());
}

void KelvoDicomPixelLut::firstMappedValue(int32_t value) {
    for (KelvoDicomBaseLut& t : _luts)
        t.firstMappedValue(uint32_t(value));
}

uint8_t* KelvoDicomPixelLut::lutData(lutselector s) {
    if (s < 1 || s > 4) {
        _status = paramErr;
        return nullptr;
    }
    return valid() ? _luts[s - 1].lutData() : nullptr;
}

uint8_t* KelvoDicomPixelLut::lutData(const uint8_t* source, lutselector s) {
    if (!valid() || s < 1 || s > 4 || !_luts[s - 1].qtObjIsValid()) {
        _status = paramErr;
        return nullptr;
    }
    if (source) _luts[s - 1].lutData(source);
    return _luts[s - 1].lutData();
}

uint8_t* KelvoDicomPixelLut::lutData(const uint8_t* source, uint32_t size, lutselector s) {
    if (!valid() || s < 1 || s > 4 || !_luts[s - 1].qtObjIsValid()) {
        _status = paramErr;
        return nullptr;
    }
    if (source && _luts[s - 1].lutData(source, size) != noErr) _status = _luts[s - 1].Error();
    return _luts[s - 1].lutData();
}

KelvoDicomDataNode* KelvoDicomPixelLut::dicomLutData(lutselector s) {
    if (s < 1 || s > 4) {
        _status = paramErr;
        return nullptr;
    }
    KelvoDicomBaseLut& table = _luts[s - 1];
    if (!table.qtObjIsValid()) return nullptr;
    auto* node = new KelvoDicomDataNode("OW");
    table.dicomLutData(*node);
    if (table.Error() != noErr || node->valueCount() == 0) {
        _status = table.Error() != noErr ? table.Error() : node->Error();
        delete node;
        return nullptr;
    }
    return node;
}

void KelvoDicomPixelLut::applyLutsToDataARGB(const uint8_t* source, uint8_t* destination,
                                             uint32_t count) const {
    if (!valid() || !source || !destination || count == 0) return;
    const uint8_t* red = _luts[0].lutData();
    const uint8_t* green = _luts[1].lutData();
    const uint8_t* blue = _luts[2].lutData();
    const uint8_t* alpha = _luts[3].lutData();
    // Red, green and blue always share their entries and bits. An alpha table can be left from
    // an earlier allocation of another size, so it is bounded by its own.
    const int64_t last = int64_t(_luts[0].entries()) - 1;
    const int64_t alphaLast = int64_t(_luts[3].entries()) - 1;
    // A first mapped value from a signed descriptor is negative; it is kept in 32 bits.
    const int64_t first = int32_t(_luts[0].firstMappedValue());
    const bool wide = _luts[0].bitsPerEntry() == 16;
    const bool alphaWide = _luts[3].bitsPerEntry() == 16;
    auto entry16 = [](const uint8_t* table, int64_t i) -> uint8_t {
        uint16_t e;
        std::memcpy(&e, table + 2 * i, 2);
        return uint8_t(float(e) / 65535.0 * 255.0);
    };
    for (uint32_t n = 0; n < count; ++n) {
        int64_t i = int64_t(source[n]) - first;
        i = i < 0 ? 0 : (i > last ? last : i);
        if (alpha) {
            const int64_t a = i > alphaLast ? alphaLast : i;
            *destination++ = alphaWide ? entry16(alpha, a) : alpha[a];
        }
        if (wide) {
            destination[0] = entry16(red, i);
            destination[1] = entry16(green, i);
            destination[2] = entry16(blue, i);
        } else {
            destination[0] = red[i];
            destination[1] = green[i];
            destination[2] = blue[i];
        }
        destination += 3;
    }
}
