#include "KelvoDicomData.h"

#include "KelvoDicomDictionaries.h"
#include "KelvoDicomUtils.h"
#include "PlatformEndian.h"
#include "PlatformErrors.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr int32_t kFormatNone = -1;

bool isPaddedWithZero(const char* vr) {
    return std::strncmp(vr, "OB", 2) == 0 || std::strncmp(vr, "UI", 2) == 0;
}

void reverseBytes(uint8_t* p, size_t n) {
    for (size_t i = 0; i < n / 2; ++i)
        std::swap(p[i], p[n - 1 - i]);
}

// The size of the numbers a raw value (formats 8, 9 and 11) is made of, by which it is swapped
// between the file's byte order and the host's: 2 for OW, 4 for OF and OL, 8 for OD, OV, SV and
// UV; 1 for bytes (OB, UN), which are never swapped.
size_t rawWordSize(const char* vr) {
    static const struct {
        const char* vr;
        size_t size;
    } sizes[] = {{"OW", 2}, {"OF", 4}, {"OL", 4}, {"OD", 8}, {"OV", 8}, {"SV", 8}, {"UV", 8}};
    for (const auto& s : sizes)
        if (std::strncmp(vr, s.vr, 2) == 0) return s.size;
    return 1;
}

void swapRawWords(uint8_t* p, size_t size, size_t word) {
    if (word < 2) return;
    for (size_t i = 0; i + word <= size; i += word)
        reverseBytes(p + i, word);
}

bool writeAll(FILE* file, const void* data, size_t size) {
    return size == 0 || std::fwrite(data, 1, size, file) == size;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Construction

KelvoDicomDataNode::KelvoDicomDataNode() {
    defaultStatus();
}

KelvoDicomDataNode::KelvoDicomDataNode(uint16_t group, uint16_t element) {
    defaultStatus();
    char vr[3];
    KelvoDicomStandardDictionaryUtils::dicomVRForTag(AttributeTagRecord{group, element}, 0, vr);
    init(vr);
}

KelvoDicomDataNode::KelvoDicomDataNode(const char* vr) {
    defaultStatus();
    init(vr);
}

KelvoDicomDataNode::KelvoDicomDataNode(const KelvoDicomDataNode& other) : Kelvo_Dictionary(other) {
    if (_container) {
        std::memcpy(_vr, other._vr, sizeof _vr);
        _format = other._format;
        _separator = other._separator;
        _multipleValuesAllowed = other._multipleValuesAllowed;
        _paddingByte = other._paddingByte;
    }
}

KelvoDicomDataNode& KelvoDicomDataNode::operator=(const KelvoDicomDataNode& other) {
    if (&other == this) return *this;
    initWithContainer(other._container);
    std::memcpy(_vr, other._vr, sizeof _vr);
    _format = other._format;
    _separator = other._separator;
    _multipleValuesAllowed = other._multipleValuesAllowed;
    _paddingByte = other._paddingByte;
    return *this;
}

KelvoDicomDataNode::~KelvoDicomDataNode() = default;

void KelvoDicomDataNode::defaultStatus() {
    // The node keeps a container of its own, emptied.
    if (_container)
        clear();
    else
        _status = QTNewAtomContainer(&_container);
    std::memset(_vr, 0, sizeof _vr);
    _format = kFormatNone;
    _paddingByte = ' ';
    _separator = 0;
    _multipleValuesAllowed = false;
}

Kelvo_QTObj* KelvoDicomDataNode::clone() {
    if (!qtObjIsValid()) return nullptr;
    return new KelvoDicomDataNode(*this);
}

bool KelvoDicomDataNode::isA(const char* name) const {
    if (!name) return false;
    return Kelvo_Dictionary::isA(name) || std::strcmp(name, "KelvoDicomDataNode") == 0;
}

void KelvoDicomDataNode::setVR(const dicmVRInfo* info) {
    _vr[0] = info->vr[0];
    _vr[1] = info->vr[1];
    _vr[2] = 0;
    _format = int32_t(info->format);
    _separator = char(info->separator);
    _paddingByte = isPaddedWithZero(_vr) ? 0 : ' ';
}

bool KelvoDicomDataNode::init(const char* vr) {
    const dicmVRInfo* info = vr && vr[0] && vr[1] ? DicmDict_VRInfo(vr) : nullptr;
    if (!info) {
        _status = paramErr;
        return false;
    }
    setVR(info);
    _multipleValuesAllowed = (info->flags & kDicmVRSingleValue) == 0;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Values

int32_t KelvoDicomDataNode::valueCount() {
    return _container ? QTCountChildrenOfType(_container, 0, kDicomNodeValueAtom) : 0;
}

QTAtom KelvoDicomDataNode::valueAtom(int32_t index) {
    if (!_container || index < 0) return 0;
    return QTFindChildByIndex(_container, 0, kDicomNodeValueAtom, index + 1, nullptr);
}

bool KelvoDicomDataNode::hasMultipleValues() {
    if (!_multipleValuesAllowed) return false;
    if (_format == kDicmFormatString) {
        const char* text = textValue();
        return text && _separator && std::strchr(text, _separator) != nullptr;
    }
    return valueCount() > 1;
}

const char* KelvoDicomDataNode::textValue() {
    QTAtom atom = valueAtom(0);
    if (!atom) return nullptr;
    int32_t size = 0;
    Ptr p = nullptr;
    if (QTGetAtomDataPtr(_container, atom, &size, &p) != noErr || size == 0 || p[size - 1] != 0)
        return nullptr;
    return p;
}

Handle KelvoDicomDataNode::Value(int32_t index) {
    if (index < 0) {
        _status = paramErr;
        return nullptr;
    }
    QTAtom atom = valueAtom(index);
    if (!atom) return nullptr;
    Handle h = NewHandle(0);
    if (!h) {
        _status = memFullErr;
        return nullptr;
    }
    _status = QTCopyAtomDataToHandle(_container, atom, h);
    if (_status != noErr) {
        DisposeHandle(h);
        return nullptr;
    }
    return h;
}

void KelvoDicomDataNode::Value(Handle handle, int32_t index) {
    if (!handle || index < 0 || !_container) {
        _status = paramErr;
        return;
    }
    std::vector<char> bytes(*handle, *handle + GetHandleSize(handle));
    if (_format == kDicmFormatOB && bytes.size() % 2 == 1) bytes.push_back(0);
    QTAtom atom = valueAtom(index);
    if (atom)
        _status = QTSetAtomData(_container, atom, int32_t(bytes.size()), bytes.data());
    else
        _status = QTInsertChild(_container, 0, kDicomNodeValueAtom, 0, 0, int32_t(bytes.size()), bytes.data(),
                                nullptr);
}

void KelvoDicomDataNode::Append(Handle handle) {
    if (!_container) {
        _status = paramErr;
        return;
    }
    std::vector<char> bytes;
    if (handle) bytes.assign(*handle, *handle + GetHandleSize(handle));
    if (_format == kDicmFormatOB && bytes.size() % 2 == 1) bytes.push_back(0);
    _status =
        QTInsertChild(_container, 0, kDicomNodeValueAtom, 0, 0, int32_t(bytes.size()), bytes.data(), nullptr);
}

void KelvoDicomDataNode::Append(Handle handle, uint32_t count) {
    if (!handle || count == 0) {
        _status = paramErr;
        return;
    }
    AddDicomNodeData(handle, count, false);
}

void KelvoDicomDataNode::strValue(const char* text) {
    if (!_container) {
        _status = paramErr;
        return;
    }
    QTRemoveChildren(_container, 0);
    if (!text) {
        _status = QTInsertChild(_container, 0, kDicomNodeValueAtom, 0, 0, 0, nullptr, nullptr);
        return;
    }
    _status = QTInsertChild(_container, 0, kDicomNodeValueAtom, 0, 0, int32_t(std::strlen(text) + 1), text,
                            nullptr);
}

bool KelvoDicomDataNode::isNumberFormat() const {
    return (_format >= int32_t(kDicmFormatUL) && _format <= int32_t(kDicmFormatFD)) ||
           _format == int32_t(kDicmFormatAT);
}

int32_t KelvoDicomDataNode::valueSizeForFormat() const {
    switch (_format) {
    case kDicmFormatUS:
    case kDicmFormatSS:
        return 2;
    case kDicmFormatFD:
        return 8;
    case kDicmFormatUL:
    case kDicmFormatSL:
    case kDicmFormatFL:
    case kDicmFormatAT:
        return 4;
    default:
        return 0;
    }
}

void KelvoDicomDataNode::numberGet(int32_t position, void* out, uint32_t size) {
    if (!out) return;
    QTAtom atom = position >= 1 ? valueAtom(position - 1) : 0;
    int32_t got = 0;
    _status =
        atom ? QTCopyAtomDataToPtr(_container, atom, true, int32_t(size), out, &got) : cannotFindAtomErr;
    if ((_status != noErr || got < int32_t(size)) && isNumberFormat()) {
        uint32_t n = uint32_t(valueSizeForFormat());
        std::memset(out, 0, n < size ? n : size);
    }
}

void KelvoDicomDataNode::numberSet(int32_t position, const void* value) {
    if (!isNumberFormat() || !value) return;
    int32_t size = valueSizeForFormat();
    if (position == 0) {
        _status = QTInsertChild(_container, 0, kDicomNodeValueAtom, 0, 0, size, value, nullptr);
    } else if (position >= 1 && position <= valueCount()) {
        _status = QTSetAtomData(_container, valueAtom(position - 1), size, value);
    } else {
        _status = paramErr;
    }
}

uint16_t KelvoDicomDataNode::usValue(int32_t index) {
    uint16_t v = 0;
    numberGet(index + 1, &v, sizeof v);
    return v;
}
int16_t KelvoDicomDataNode::shortValue(int32_t index) {
    int16_t v = 0;
    numberGet(index + 1, &v, sizeof v);
    return v;
}
uint32_t KelvoDicomDataNode::ulValue(int32_t index) {
    uint32_t v = 0;
    numberGet(index + 1, &v, sizeof v);
    return v;
}
int32_t KelvoDicomDataNode::longValue(int32_t index) {
    int32_t v = 0;
    numberGet(index + 1, &v, sizeof v);
    return v;
}
float KelvoDicomDataNode::floatValue(int32_t index) {
    float v = 0;
    numberGet(index + 1, &v, sizeof v);
    return v;
}
double KelvoDicomDataNode::doubleValue(int32_t index) {
    double v = 0;
    numberGet(index + 1, &v, sizeof v);
    return v;
}
void KelvoDicomDataNode::atValueGet(AttributeTagRecord* tag, int32_t index) {
    if (!tag) return;
    numberGet(index + 1, tag, sizeof *tag);
}

namespace {
template <class T>
void setNumber(KelvoDicomDataNode& node, int32_t format, int32_t wanted, const T& value, int32_t index) {
    if (format != wanted) return;
    node.numberSet(index == -1 ? 0 : (index >= 0 ? index + 1 : -1), &value);
}
} // namespace

void KelvoDicomDataNode::ulValueSet(uint32_t value, int32_t index) {
    setNumber(*this, _format, kDicmFormatUL, value, index);
}
void KelvoDicomDataNode::usValueSet(uint16_t value, int32_t index) {
    setNumber(*this, _format, kDicmFormatUS, value, index);
}
void KelvoDicomDataNode::shortValueSet(int16_t value, int32_t index) {
    setNumber(*this, _format, kDicmFormatSS, value, index);
}
void KelvoDicomDataNode::longValueSet(int32_t value, int32_t index) {
    setNumber(*this, _format, kDicmFormatSL, value, index);
}
void KelvoDicomDataNode::floatValueSet(float value, int32_t index) {
    setNumber(*this, _format, kDicmFormatFL, value, index);
}
void KelvoDicomDataNode::doubleValueSet(double value, int32_t index) {
    setNumber(*this, _format, kDicmFormatFD, value, index);
}
void KelvoDicomDataNode::atValueSet(const AttributeTagRecord* tag, int32_t index) {
    if (tag) setNumber(*this, _format, kDicmFormatAT, *tag, index);
}

uint32_t KelvoDicomDataNode::dataBinarySize() {
    if (!_container) return 0;
    uint64_t sum = 0;
    bool wasLocked = QTContainerLockCount(_container) > 0;
    QTLockContainer(_container);
    QTAtom atom = 0;
    while (QTNextChildAnyType(_container, 0, atom, &atom) == noErr && atom) {
        QTAtomType type = 0;
        QTGetAtomTypeAndID(_container, atom, &type, nullptr);
        if (type != kDicomNodeValueAtom) continue;
        int32_t size = 0;
        QTGetAtomDataSize(_container, atom, &size);
        sum += uint64_t(size);
    }
    if (!wasLocked) QTUnlockContainer(_container);
    if (_format == kDicmFormatString) sum &= ~uint64_t(1);
    return sum > 0xFFFFFFFEu ? 0xFFFFFFFEu : uint32_t(sum);
}

bool KelvoDicomDataNode::writtenDataSizeOf(QTAtomContainer container, QTAtom element, const char* vr,
                                           uint32_t& size, int32_t& valueCount) {
    size = 0;
    valueCount = 0;
    if (!container || !element || !vr || !vr[0]) return false;
    const QTAtom data = QTFindChildByIndex(container, element, kDicomNodeDataAtom, 1, nullptr);
    const dicmVRInfo* info = data ? DicmDict_VRInfo(vr) : nullptr;
    if (!info) return false;
    uint64_t sum = 0;
    QTAtom value = 0;
    while (QTNextChildAnyType(container, data, value, &value) == noErr && value) {
        QTAtomType type = 0;
        QTGetAtomTypeAndID(container, value, &type, nullptr);
        if (type != kDicomNodeValueAtom) continue;
        int32_t bytes = 0;
        QTGetAtomDataSize(container, value, &bytes);
        sum += uint64_t(bytes);
        ++valueCount;
    }
    const int32_t format = int32_t(info->format);
    if (format == kDicmFormatString) sum &= ~uint64_t(1);
    size = sum > 0xFFFFFFFEu ? 0xFFFFFFFEu : uint32_t(sum);
    if (format == kDicmFormatOB && (size & 1)) ++size;
    return true;
}

uint32_t KelvoDicomDataNode::writtenDataSize() {
    uint32_t size = dataBinarySize();
    if (_format == kDicmFormatOB && (size & 1)) ++size;
    return size;
}

int32_t KelvoDicomDataNode::fullBinarySize() {
    if (!qtObjIsValid()) return 0;
    const dicmVRInfo* info = DicmDict_VRInfo(_vr);
    if (!info) return paramErr;
    uint64_t full = uint64_t(writtenDataSize()) + info->headerLength;
    return full > uint64_t(INT32_MAX) ? INT32_MAX : int32_t(full);
}

int32_t KelvoDicomDataNode::AddDicomNodeData(Handle handle, uint32_t count, bool swap) {
    if (!_container || !handle) return paramErr;
    const OSErr last = addValues(_container, 0, _format, _vr, reinterpret_cast<uint8_t*>(*handle),
                                 size_t(GetHandleSize(handle)), count, swap);
    _status = last;
    return last;
}

OSErr KelvoDicomDataNode::addValues(QTAtomContainer container, QTAtom parent, int32_t format, const char* vr,
                                    uint8_t* bytes, size_t size, uint32_t count, bool swap) {
    OSErr last = noErr;
    auto insert = [&](const void* data, size_t n) {
        last = QTInsertChild(container, parent, kDicomNodeValueAtom, 0, 0, int32_t(n), data, nullptr);
        return last == noErr;
    };
    auto numbers = [&](size_t width, bool halves) {
        // Never beyond the bytes, whatever count says.
        size_t n = count < size / width ? count : size / width;
        uint8_t v[8];
        for (size_t i = 0; i < n; ++i) {
            std::memcpy(v, bytes + i * width, width);
            if (swap) {
                if (halves) {
                    reverseBytes(v, 2);
                    reverseBytes(v + 2, 2);
                } else {
                    reverseBytes(v, width);
                }
            }
            if (!insert(v, width)) return;
        }
    };
    switch (format) {
    case kDicmFormatString: {
        std::vector<uint8_t> text(bytes, bytes + size);
        if (!text.empty() && text.back() == ' ')
            text.back() = 0;
        else
            text.push_back(0);
        insert(text.data(), text.size());
        break;
    }
    case kDicmFormatUL:
    case kDicmFormatSL:
    case kDicmFormatFL:
        numbers(4, false);
        break;
    case kDicmFormatUS:
    case kDicmFormatSS:
        numbers(2, false);
        break;
    case kDicmFormatFD:
        numbers(8, false);
        break;
    case kDicmFormatAT:
        numbers(4, true);
        break;
    case kDicmFormatOB:
    case kDicmFormatOW:
    case kDicmFormatOF:
        // Held in host order, as every number is.
        if (swap) swapRawWords(bytes, size, rawWordSize(vr));
        insert(bytes, size);
        break;
    default:
        break;
    }
    return last;
}

// ---------------------------------------------------------------------------------------------
// Reading

void KelvoDicomDataNode::read(FILE* file, const dicomNodeDescRecord& desc, const dicomNodeFPosRecord& fpos,
                              bool swap, KelvoDicomDataNode& node, int64_t fileSize) {
    node.defaultStatus();
    if (!file || fpos.elementPosition >= fpos.valuePosition || fpos.elementPosition < 0) {
        node._status = kKelvoElementUnreadable;
        return;
    }
    char vr[3] = {desc.vr[0], desc.vr[1], 0};
    const dicmVRInfo* info = DicmDict_VRInfo(vr);
    if (!info) {
        node._status = paramErr;
        return;
    }
    node.setVR(info);
    if (desc.length == 0) return;
    // The length comes from the file: it must fit in what remains of it before anything is
    // allocated.
    struct stat st {};
    if (fileSize < 0) fileSize = fstat(fileno(file), &st) == 0 ? int64_t(st.st_size) : -1;
    if (fileSize < 0 || desc.length == kDicomUndefinedLength ||
        int64_t(desc.length) > fileSize - fpos.valuePosition || desc.length > uint32_t(INT32_MAX)) {
        node._status = kKelvoElementUnreadable;
        return;
    }
    Handle buffer = NewHandleClear(Size(desc.length));
    if (!buffer) {
        node._status = MemError();
        return;
    }
    // A reader walking the file is already there: a seek would cost a system call per element.
    if (ftello(file) != off_t(fpos.valuePosition) && fseeko(file, off_t(fpos.valuePosition), SEEK_SET) != 0) {
        node._status = errno ? int32_t(errno) : int32_t(ioErr);
        DisposeHandle(buffer);
        return;
    }
    if (std::fread(*buffer, 1, desc.length, file) != desc.length) {
        // A file that ends early is an error like any other failed read.
        node._status = kKelvoElementUnreadable;
        DisposeHandle(buffer);
        return;
    }
    uint32_t count = 1;
    if (info->kind == kDicmVRKindBinary && info->maxLength > 0) count = desc.length / info->maxLength;
    node.AddDicomNodeData(buffer, count, swap);
    DisposeHandle(buffer);
}

int32_t KelvoDicomDataNode::readInto(FILE* file, const dicomNodeDescRecord& desc,
                                     const dicomNodeFPosRecord& fpos, bool swap, QTAtomContainer container,
                                     QTAtom elementAtom, int64_t fileSize, std::vector<uint8_t>& buffer) {
    if (!file || !container || fpos.elementPosition >= fpos.valuePosition || fpos.elementPosition < 0)
        return kKelvoElementUnreadable;
    char vr[3] = {desc.vr[0], desc.vr[1], 0};
    const dicmVRInfo* info = DicmDict_VRInfo(vr);
    if (!info) return paramErr;
    if (desc.length == 0 || fileSize < 0 || desc.length == kDicomUndefinedLength ||
        int64_t(desc.length) > fileSize - fpos.valuePosition || desc.length > uint32_t(INT32_MAX))
        return kKelvoElementUnreadable;
    try {
        buffer.resize(desc.length);
    } catch (const std::bad_alloc&) {
        return memFullErr;
    }
    if (ftello(file) != off_t(fpos.valuePosition) && fseeko(file, off_t(fpos.valuePosition), SEEK_SET) != 0)
        return errno ? int32_t(errno) : int32_t(ioErr);
    if (std::fread(buffer.data(), 1, desc.length, file) != desc.length) return kKelvoElementUnreadable;
    QTAtom data = 0;
    if (OSErr err = QTInsertChild(container, elementAtom, kDicomNodeDataAtom, 0, 0, 0, nullptr, &data))
        return err;
    uint32_t count = 1;
    if (info->kind == kDicmVRKindBinary && info->maxLength > 0) count = desc.length / info->maxLength;
    return addValues(container, data, int32_t(info->format), vr, buffer.data(), desc.length, count, swap);
}

void KelvoDicomDataNode::read(FILE* file, const dataElementNode& element, bool swap,
                              KelvoDicomDataNode& node) {
    read(file, element.desc, element.fpos, swap, node);
}

void KelvoDicomDataNode::read(QTAtomContainer container, QTAtom elementAtom, const char* vr,
                              KelvoDicomDataNode& node) {
    Kelvo_AtomCoord element(container, elementAtom);
    read(element, vr, node);
}

void KelvoDicomDataNode::read(Kelvo_AtomCoord& element, const char* vr, KelvoDicomDataNode& node) {
    node.defaultStatus();
    if (!element.qtObjIsValid() || !vr || !vr[0]) {
        node._status = paramErr;
        return;
    }
    if (!node._container) return; // defaultStatus left the platform's status
    QTAtom data = QTFindChildByIndex(element.container(), element.atom(), kDicomNodeDataAtom, 1, nullptr);
    if (!data) {
        node._status = cannotFindAtomErr;
        return;
    }
    const dicmVRInfo* info = DicmDict_VRInfo(vr);
    if (!info) {
        node._status = paramErr;
        return;
    }
    node.setVR(info);
    QTAtom value = 0;
    while (QTNextChildAnyType(element.container(), data, value, &value) == noErr && value) {
        QTAtomType type = 0;
        QTGetAtomTypeAndID(element.container(), value, &type, nullptr);
        if (type != kDicomNodeValueAtom) continue;
        int32_t size = 0;
        Ptr p = nullptr;
        OSErr err = QTGetAtomDataPtr(element.container(), value, &size, &p);
        if (err == noErr)
            err = QTInsertChild(node._container, 0, kDicomNodeValueAtom, 0, 0, size, p, nullptr);
        if (err != noErr) {
            node._status = err;
            return;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Writing

void KelvoDicomDataNode::writeBinaryData(FILE* file, bool swap) {
    if (!file) {
        _status = paramErr;
        return;
    }
    switch (_format) {
    case kDicmFormatString:
    case kDicmFormatOB:
    case kDicmFormatOW:
    case kDicmFormatOF: {
        Handle h = Value(0);
        if (!h || GetHandleSize(h) == 0) {
            if (h) DisposeHandle(h);
            _status = paramErr;
            return;
        }
        std::vector<uint8_t> bytes(reinterpret_cast<uint8_t*>(*h),
                                   reinterpret_cast<uint8_t*>(*h) + GetHandleSize(h));
        DisposeHandle(h);
        if (_format == kDicmFormatString) {
            if (bytes.size() % 2 == 0)
                bytes.back() = uint8_t(_paddingByte);
            else
                bytes.pop_back();
        } else {
            if (swap) swapRawWords(bytes.data(), bytes.size(), rawWordSize(_vr));
            if (_format == kDicmFormatOB && bytes.size() % 2 == 1) bytes.push_back(uint8_t(_paddingByte));
        }
        if (!writeAll(file, bytes.data(), bytes.size())) _status = ioErr;
        return;
    }
    default:
        break;
    }
    if (!isNumberFormat()) return;
    const int32_t width = valueSizeForFormat();
    const int32_t n = valueCount();
    for (int32_t i = 1; i <= n; ++i) {
        uint8_t v[8] = {};
        numberGet(i, v, uint32_t(width));
        if (swap) {
            if (_format == kDicmFormatAT) {
                reverseBytes(v, 2);
                reverseBytes(v + 2, 2);
            } else {
                reverseBytes(v, size_t(width));
            }
        }
        if (!writeAll(file, v, size_t(width))) {
            _status = ioErr;
            return;
        }
    }
}

void KelvoDicomDataNode::flushToBinary(FILE* file, const void* flags) {
    if (!qtObjIsValid()) return;
    const dicmVRInfo* info = DicmDict_VRInfo(_vr);
    if (!file || !info) {
        _status = paramErr;
        return;
    }
    uint8_t f = flags ? *static_cast<const uint8_t*>(flags) : 0;
    bool implicit = (f & kDicomWriteImplicitVR) != 0;
    bool big = (f & kDicomWriteBigEndian) != 0;
    uint32_t length = writtenDataSize();
    uint8_t header[8];
    size_t headerSize = 0;
    auto put32 = [&](uint8_t* p, uint32_t v) { big ? platform::storeBE32(p, v) : platform::storeLE32(p, v); };
    if (implicit) {
        put32(header, length);
        headerSize = 4;
    } else if (info->headerLength == 8) {
        // A value too long for the 16-bit field cannot be written in this form.
        if (length > 0xFFFF) {
            _status = paramErr;
            return;
        }
        header[0] = uint8_t(_vr[0]);
        header[1] = uint8_t(_vr[1]);
        big ? platform::storeBE16(header + 2, uint16_t(length))
            : platform::storeLE16(header + 2, uint16_t(length));
        headerSize = 4;
    } else {
        header[0] = uint8_t(_vr[0]);
        header[1] = uint8_t(_vr[1]);
        header[2] = header[3] = 0;
        put32(header + 4, length);
        headerSize = 8;
    }
    if (!writeAll(file, header, headerSize)) {
        _status = ioErr;
        return;
    }
    if (length > 0) writeBinaryData(file, big != !platform::kHostIsLittleEndian);
}

void KelvoDicomDataNode::flushToText(FILE* file, QTAtom) {
    if (!file) return;
    const int32_t n = valueCount();
    if (n == 0) {
        std::fprintf(file, "%s\t", "(no value available)");
        return;
    }
    std::fprintf(file, "Data count=%d\t", int(n));
    auto firstValue = [&](std::vector<uint8_t>& out) {
        Handle h = Value(0);
        if (!h) return false;
        out.assign(reinterpret_cast<uint8_t*>(*h), reinterpret_cast<uint8_t*>(*h) + GetHandleSize(h));
        DisposeHandle(h);
        return true;
    };
    std::vector<uint8_t> bytes;
    switch (_format) {
    case kDicmFormatString: {
        const char* text = textValue();
        if (text)
            std::fprintf(file, "[%s]\t", text);
        else
            std::fprintf(file, "%s\t", "(no value available)");
        return;
    }
    case kDicmFormatOB:
        if (!firstValue(bytes)) break;
        for (uint8_t b : bytes)
            std::fprintf(file, "%02X\t", unsigned(b));
        return;
    case kDicmFormatOW:
        if (!firstValue(bytes)) break;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            uint16_t w;
            std::memcpy(&w, &bytes[i], 2);
            std::fprintf(file, "%02X\t", unsigned(w));
        }
        return;
    case kDicmFormatOF:
        if (!firstValue(bytes)) break;
        for (size_t i = 0; i + 3 < bytes.size(); i += 4) {
            float v;
            std::memcpy(&v, &bytes[i], 4);
            std::fprintf(file, "%f\t", double(v));
        }
        return;
    default:
        for (int32_t i = 0; i < n; ++i) {
            switch (_format) {
            case kDicmFormatUL:
                std::fprintf(file, "%lu\t", (unsigned long)ulValue(i));
                break;
            case kDicmFormatUS:
                std::fprintf(file, "%hu\t", usValue(i));
                break;
            case kDicmFormatSS:
                std::fprintf(file, "%hd\t", shortValue(i));
                break;
            case kDicmFormatSL:
                std::fprintf(file, "%ld\t", long(longValue(i)));
                break;
            case kDicmFormatFL:
                std::fprintf(file, "%f\t", double(floatValue(i)));
                break;
            case kDicmFormatFD:
                std::fprintf(file, "%f\t", doubleValue(i));
                break;
            case kDicmFormatAT: {
                AttributeTagRecord t{};
                atValueGet(&t, i);
                std::fprintf(file, "(0x%04X,0x%04X)\t", unsigned(t.group), unsigned(t.element));
                break;
            }
            default:
                break;
            }
        }
        return;
    }
    std::fprintf(file, "%s\t", "(no value available)");
}

void KelvoDicomDataNode::flushToXml(FILE* file, QTAtom) {
    if (!file) return;
    const int32_t n = valueCount();
    if (n == 0) {
        std::fputs("<Data/>\n", file);
        return;
    }
    std::fprintf(file, "<Data count=\"%d\">\n", int(n));
    if (_format == kDicmFormatString || _format == kDicmFormatOB || _format == kDicmFormatOW ||
        _format == kDicmFormatOF) {
        std::fputs("<Value>", file);
        Handle h = Value(0);
        if (!h) {
            std::fprintf(file, "%s\n", "(no value available)");
        } else {
            const auto* p = reinterpret_cast<const uint8_t*>(*h);
            size_t size = size_t(GetHandleSize(h));
            if (_format == kDicmFormatString) {
                size_t len = strnlen(reinterpret_cast<const char*>(p), size);
                std::string escaped;
                DicomUtils_XmlEscape(escaped, reinterpret_cast<const char*>(p), len);
                std::fputs(escaped.c_str(), file);
            } else if (_format == kDicmFormatOB) {
                for (size_t i = 0; i < size; ++i) {
                    std::fprintf(file, "%02X", unsigned(p[i]));
                    if ((i + 1) % 16 == 0) std::fputc('\n', file);
                }
            } else if (_format == kDicmFormatOW) {
                for (size_t i = 0; i + 1 < size; i += 2) {
                    uint16_t w;
                    std::memcpy(&w, p + i, 2);
                    std::fprintf(file, "%02X", unsigned(w));
                    if ((i / 2 + 1) % 32 == 0) std::fputc('\n', file);
                }
            } else {
                for (size_t i = 0; i + 3 < size; i += 4) {
                    float v;
                    std::memcpy(&v, p + i, 4);
                    std::fprintf(file, "%f", double(v));
                    if ((i / 4 + 1) % 32 == 0) std::fputc('\n', file);
                }
            }
            DisposeHandle(h);
        }
        std::fputs("</Value>\n", file);
    } else {
        for (int32_t i = 0; i < n; ++i) {
            switch (_format) {
            case kDicmFormatUL:
                std::fprintf(file, "<Value>%lu</Value>\n", (unsigned long)ulValue(i));
                break;
            case kDicmFormatUS:
                std::fprintf(file, "<Value>%hu</Value>\n", usValue(i));
                break;
            case kDicmFormatSS:
                std::fprintf(file, "<Value>%hd</Value>\n", shortValue(i));
                break;
            case kDicmFormatSL:
                std::fprintf(file, "<Value>%ld</Value>\n", long(longValue(i)));
                break;
            case kDicmFormatFL:
                std::fprintf(file, "<Value>%f</Value>\n", double(floatValue(i)));
                break;
            case kDicmFormatFD:
                std::fprintf(file, "<Value>%f</Value>\n", doubleValue(i));
                break;
            case kDicmFormatAT: {
                AttributeTagRecord t{};
                atValueGet(&t, i);
                std::fprintf(file, "<Value>0x%04X,0x%04X</Value>\n", unsigned(t.group), unsigned(t.element));
                break;
            }
            default:
                break;
            }
        }
    }
    std::fputs("</Data>\n", file);
}

// ---------------------------------------------------------------------------------------------
// Tree glue and debug trace

bool DicmUtils_NodeInfo(qtAtomNodeHeader& header, QTAtomContainer container, QTAtom parentAtom,
                        int32_t& status) {
    std::memset(&header, 0, sizeof header);
    if (!container) {
        status = paramErr;
        return false;
    }
    QTAtom atom = QTFindChildByIndex(container, parentAtom, kDicomNodeHeaderAtom, 1, nullptr);
    if (!atom) {
        status = GetMoviesError();
        return false;
    }
    int32_t got = 0;
    OSErr err = QTCopyAtomDataToPtr(container, atom, true, sizeof header, &header, &got);
    if (err != noErr || got != int32_t(sizeof header)) {
        std::memset(&header, 0, sizeof header);
        status = err != noErr ? int32_t(err) : int32_t(cannotFindAtomErr);
        return false;
    }
    return true;
}

bool DicmUtils_NodeInfo(Kelvo_AtomCoord& element, qtAtomNodeHeader& header, int32_t& status) {
    if (!element.qtObjIsValid()) {
        std::memset(&header, 0, sizeof header);
        status = paramErr;
        return false;
    }
    return DicmUtils_NodeInfo(header, element.container(), element.atom(), status);
}

QTAtom DicmUtils_DicomNodeAddData(QTAtomContainer container, QTAtom elementAtom, KelvoDicomDataNode& node,
                                  int32_t& status) {
    if (!container || !node.qtObjIsValid()) {
        status = paramErr;
        return 0;
    }
    QTAtom data = QTFindChildByIndex(container, elementAtom, kDicomNodeDataAtom, 1, nullptr);
    if (!data) {
        status = QTInsertChild(container, elementAtom, kDicomNodeDataAtom, 0, 0, 0, nullptr, &data);
        if (status != noErr) return 0;
    } else {
        QTRemoveChildren(container, data);
    }
    if (node.valueCount() > 0) {
        status = QTInsertChildren(container, data, node.Dictionary());
        if (status != noErr) {
            QTRemoveAtom(container, data);
            return 0;
        }
    }
    return data;
}

namespace {
FILE* gTraceFile = nullptr;
}

FILE* DicomUtils_DebugTrace(const char* path) {
    if (path && !gTraceFile) {
        gTraceFile = std::fopen(path, "a");
    } else if (!path && gTraceFile) {
        std::fflush(gTraceFile);
        std::fclose(gTraceFile);
        gTraceFile = nullptr;
    }
    return gTraceFile;
}

void DicomUtils_DebugPrintNodeInfo(FILE* file, const dicomNodeDescRecord& desc,
                                   const dicomNodeFPosRecord* fpos) {
    if (!file) return;
    char vr[3] = {desc.vr[0], desc.vr[1], 0};
    std::fprintf(file, "Tag=(%04X,%04X) VR=%s Length=%lu", unsigned(desc.group), unsigned(desc.element), vr,
                 (unsigned long)desc.length);
    if (fpos)
        std::fprintf(file, "\t Offset=%lu Data Offset=%lu", (unsigned long)uint32_t(fpos->elementPosition),
                     (unsigned long)uint32_t(fpos->valuePosition));
    std::fputc('\n', file);
}
