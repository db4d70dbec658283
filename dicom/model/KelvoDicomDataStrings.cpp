#include "KelvoDicomDataStrings.h"

#include "KelvoDicomDataStringsCodes.h"
#include "KelvoDicomDataStringsDates.h"
#include "KelvoDicomDataStringsNames.h"
#include "KelvoDicomDataStringsNumbers.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------------------------
// KelvoDicomDataElementValueString

KelvoDicomDataElementValueString::KelvoDicomDataElementValueString(
    const KelvoDicomDataElementValueString& other)
    : KelvoDicomDataElementValue() {
    // Both values are of the same class: the other's VR is this one's.
    copyFurtherValuesFrom(other, other.vr());
}

void KelvoDicomDataElementValueString::defaultStatus() {
    KelvoDicomDataElementValue::defaultStatus();
}

bool KelvoDicomDataElementValueString::isA(const char* name) const {
    if (!name) return false;
    return KelvoDicomDataElementValue::isA(name) ||
           std::strcmp(name, "KelvoDicomDataElementValueString") == 0;
}

namespace {

// Whether `value` is one of the further values of `holder` (or of theirs).
bool holdsValue(const KelvoDicomDataElementValue& holder, const Kelvo_QTObj* value) {
    auto* list = const_cast<Kelvo_QTObjectsList*>(holder._getList());
    if (!list) return false;
    const int32_t n = list->count();
    for (int32_t i = 0; i < n; ++i) {
        Kelvo_QTObj* held = list->getObjValueByRef(i);
        if (held == value) return true;
        if (held && held->isA("KelvoDicomDataElementValue") &&
            holdsValue(*static_cast<KelvoDicomDataElementValue*>(held), value))
            return true;
    }
    return false;
}

} // namespace

void KelvoDicomDataElementValueString::copy(Kelvo_QTObj& other) {
    if (&other == this || !other.isA("KelvoDicomDataElementValueString")) return;
    auto& source = static_cast<KelvoDicomDataElementValueString&>(other);
    if (holdsValue(*this, &other)) {
        // The copy replaces this value's further values, among them the source: copy a copy.
        std::unique_ptr<KelvoDicomDataElementValue> kept(createWithVR(source.vr(), nullptr));
        if (!kept || !kept->isA(source.qtObjName())) return;
        auto& copy = static_cast<KelvoDicomDataElementValueString&>(*kept);
        copy._initWithOther(source);
        _initWithOther(copy);
        return;
    }
    _initWithOther(source);
}

void KelvoDicomDataElementValueString::copyFurtherValuesFrom(const KelvoDicomDataElementValueString& other,
                                                             const char* vr) {
    if (&other == this) return;
    Kelvo_QTObjectsList* source = other._list;
    if (!source || source->count() == 0) {
        if (_list) _list->clear();
        return;
    }
    if (!_list) {
        auto* list = new (std::nothrow) Kelvo_QTObjectsList();
        if (!list || !list->qtObjIsValid()) {
            _status = list ? list->Error() : -108;
            delete list;
            return;
        }
        _list = list;
    }
    const bool sameVR = vr && std::strncmp(vr, other.vr(), 2) == 0;
    // The copies are made before the old values go: the other value may be among them.
    std::vector<Kelvo_QTObj*> copies;
    const int32_t n = source->count();
    for (int32_t i = 0; i < n; ++i) {
        Kelvo_QTObj* held = source->getObjValueByRef(i);
        if (!held || !held->isA("KelvoDicomDataElementValueString")) continue;
        auto* value = static_cast<KelvoDicomDataElementValueString*>(held);
        Kelvo_QTObj* copy = sameVR ? value->clone() : nullptr;
        if (!copy) {
            // A value that does not clone (an empty code string or UID is "not valid") or one of
            // another class is remade from its text, so that every value keeps its place.
            KelvoDicomDataElementValue* made = createWithVR(vr, value->stringValue());
            if (made && made->isA("KelvoDicomDataElementValueString"))
                static_cast<KelvoDicomDataElementValueString*>(made)->copyFurtherValuesFrom(*value, vr);
            copy = made;
        }
        if (copy) copies.push_back(copy);
    }
    _list->clear();
    for (Kelvo_QTObj* copy : copies)
        _list->addObjValueByRef(copy);
}

void KelvoDicomDataElementValueString::_copyList(const KelvoDicomDataElementValue& other) {
    if (&other == this || !other.isA("KelvoDicomDataElementValueString")) return;
    if (!multipleValuesAllowed()) return;
    copyFurtherValuesFrom(static_cast<const KelvoDicomDataElementValueString&>(other), vr());
}

void KelvoDicomDataElementValueString::takeOverByText(const KelvoDicomDataElementValueString& other) {
    auto& source = const_cast<KelvoDicomDataElementValueString&>(other);
    std::string first = source.stringValue() ? source.stringValue() : "";
    _initWithStringData(first.c_str());
    if (multipleValuesAllowed()) copyFurtherValuesFrom(other, vr());
}

bool KelvoDicomDataElementValueString::_initWithData(KelvoDicomDataNode* node) {
    defaultStatus();
    if (!node) return false;
    Handle bytes = node->Value(0);
    if (!bytes) return true; // no value: the value stays empty
    // The node holds the text and a NUL; never read beyond the bytes it holds.
    std::string text(*bytes, size_t(GetHandleSize(bytes)));
    DisposeHandle(bytes);
    text.resize(std::strlen(text.c_str()));

    const char separator = multipleValuesSeparator();
    if (!multipleValuesAllowed() || separator == 0) {
        stringValue(text.c_str());
        return true;
    }
    // Cut at every separator that is not half of a two-byte character.
    std::vector<std::string> parts(1);
    KelvoDicomTextScanner scanner;
    for (size_t i = 0; i < text.size(); ++i) {
        if (scanner.delimiterAllowed(text.c_str() + i) && text[i] == separator)
            parts.emplace_back();
        else
            parts.back() += text[i];
    }
    stringValue(parts[0].c_str());
    for (size_t i = 1; i < parts.size(); ++i) {
        KelvoDicomDataElementValue* further = createWithVR(vr(), parts[i].c_str());
        if (further && !_appendValueByRef(further)) delete further;
    }
    return true;
}

uint32_t KelvoDicomDataElementValueString::_dataLengthForDicom() const {
    auto* self = const_cast<KelvoDicomDataElementValueString*>(this);
    const char* first = self->stringValue();
    uint64_t length = first ? std::strlen(first) : 0;
    if (_list) {
        const int32_t n = _list->count();
        for (int32_t i = 0; i < n; ++i) {
            Kelvo_QTObj* held = _list->getObjValueByRef(i);
            if (held && held->isA("KelvoDicomDataElementValueString"))
                length += static_cast<KelvoDicomDataElementValueString*>(held)->_dataLengthForDicom();
            ++length; // the separator before it
        }
    }
    // One place is kept for the NUL of the joined array.
    return length > 0xFFFFFFFEu ? 0xFFFFFFFEu : uint32_t(length);
}

KelvoDataT<char>* KelvoDicomDataElementValueString::concatStringValues() const {
    auto* self = const_cast<KelvoDicomDataElementValueString*>(this);
    const uint32_t n = _dataLengthForDicom();
    if (n == 0) return nullptr;
    auto* joined = new (std::nothrow) KelvoDataT<char>(n + 1);
    if (!joined) {
        self->_status = -108;
        return nullptr;
    }
    int32_t error = 0;
    if (!joined->qtObjIsValid()) {
        Kelvo_QTObj::isValidInstance(joined, error, true);
        self->_status = error != 0 ? error : -108;
        delete joined;
        return nullptr;
    }
    char* out = joined->items();
    uint32_t used = 0;
    auto append = [&](const char* text, size_t length) {
        if (!text) return;
        size_t room = n - used;
        if (length > room) length = room;
        std::memcpy(out + used, text, length);
        used += uint32_t(length);
    };
    const char* first = self->stringValue();
    append(first, first ? std::strlen(first) : 0);
    const char separator = multipleValuesSeparator();
    if (_list) {
        const int32_t count = _list->count();
        for (int32_t i = 0; i < count; ++i) {
            append(&separator, 1);
            Kelvo_QTObj* held = _list->getObjValueByRef(i);
            if (!held || !held->isA("KelvoDicomDataElementValueString")) continue;
            KelvoDataT<char>* part =
                static_cast<KelvoDicomDataElementValueString*>(held)->concatStringValues();
            if (!part) continue;
            append(part->items(), std::strlen(part->items()));
            delete part;
        }
    }
    return joined;
}

KelvoDicomDataNode* KelvoDicomDataElementValueString::_encodeForDicom() const {
    auto* node = new (std::nothrow) KelvoDicomDataNode(vr());
    if (!node || !node->qtObjIsValid()) return node;
    if (valuesCount() > 1) {
        KelvoDataT<char>* joined = concatStringValues();
        if (joined) {
            node->strValue(joined->items());
            delete joined;
        }
        return node;
    }
    // A value without text is stored as an empty text, which writes as a value of length 0.
    const char* text = const_cast<KelvoDicomDataElementValueString*>(this)->stringValue();
    node->strValue(text ? text : "");
    return node;
}

void KelvoDicomDataElementValueString::_listOfForbiddenChars(const char*& list, uint32_t& count) const {
    list = nullptr;
    count = 0;
}

namespace {

// Whether the byte at `p` must be replaced: a forbidden character outside two-byte characters.
bool isForbiddenAt(const char* p, KelvoDicomTextScanner& scanner, const char* forbidden, uint32_t count) {
    const bool single = scanner.delimiterAllowed(p);
    return single && count && std::memchr(forbidden, *p, count) != nullptr;
}

} // namespace

const char* KelvoDicomDataElementValueString::_cleanUpString(const char* text, uint8_t& allocated) const {
    allocated = 0;
    if (!text) return nullptr;
    const char* forbidden = nullptr;
    uint32_t count = 0;
    _listOfForbiddenChars(forbidden, count);
    if (!forbidden || count == 0) return text;
    KelvoDicomTextScanner probe;
    const char* p = text;
    while (*p && !isForbiddenAt(p, probe, forbidden, count))
        ++p;
    if (!*p) return text;
    size_t length = std::strlen(text);
    char* clean = new (std::nothrow) char[length + 1];
    if (!clean) return nullptr;
    KelvoDicomTextScanner scanner;
    for (size_t i = 0; i < length; ++i)
        clean[i] = isForbiddenAt(text + i, scanner, forbidden, count) ? '_' : text[i];
    clean[length] = 0;
    allocated = 1;
    return clean;
}

void KelvoDicomDataElementValueString::setCleanValue(char* destination, const char* text, int32_t maximum,
                                                     const char* forbidden, uint32_t forbiddenCount,
                                                     char separator) {
    if (!destination) return;
    destination[0] = 0;
    if (!text || !*text || maximum < 1) return;
    size_t length = std::strlen(text);
    if (length > size_t(maximum)) length = size_t(maximum);
    KelvoDicomTextScanner scanner;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (scanner.delimiterAllowed(text + i)) {
            if (forbiddenCount && std::memchr(forbidden, c, forbiddenCount)) c = '_';
            if (separator && c == separator) c = '|';
        }
        destination[i] = c;
    }
    destination[length] = 0;
}

void KelvoDicomDataElementValueString::_setValue(char* destination, const char* text, int32_t maximum) const {
    if (!destination) return;
    uint8_t allocated = 0;
    const char* clean = _cleanUpString(text, allocated);
    // The text is clean now: only the separator remains to be kept out.
    setCleanValue(destination, clean, maximum, nullptr, 0, multipleValuesSeparator());
    if (allocated) delete[] clean;
}

KelvoDicomDataElementValue* KelvoDicomDataElementValueString::createWithVR(const char* vr, const char* text) {
    if (!vr || std::strlen(vr) != 2) return nullptr;
    auto is = [vr](const char* code) { return vr[0] == code[0] && vr[1] == code[1]; };
    if (is("AS")) return new (std::nothrow) KelvoDicomDataAge(text);
    if (is("AE")) return new (std::nothrow) KelvoDicomDataApplicationEntity(text);
    if (is("CS")) return new (std::nothrow) KelvoDicomDataCodeString(text);
    if (is("UI")) return new (std::nothrow) KelvoDicomDataUID(text);
    if (is("DA")) return new (std::nothrow) KelvoDicomDataDate(text);
    if (is("DT")) return new (std::nothrow) KelvoDicomDataDateTime(text);
    if (is("DS")) return new (std::nothrow) KelvoDicomDecimalString(text);
    if (is("IS")) return new (std::nothrow) KelvoDicomIntegerString(text);
    if (is("LO")) return new (std::nothrow) KelvoDicomDataLongString(text);
    if (is("SH")) return new (std::nothrow) KelvoDicomDataShortString(text);
    if (is("TM")) return new (std::nothrow) KelvoDicomDataTime(text);
    if (is("PN")) {
        auto* name = new (std::nothrow) KelvoDicomDataPersonName();
        if (name && text && *text) name->stringValue(text);
        return name;
    }
    return KelvoDicomDataElementValueText::createWithVR(vr, text);
}

// ---------------------------------------------------------------------------------------------
// KelvoDicomDataElementValueText

KelvoDicomDataElementValueText::KelvoDicomDataElementValueText(const KelvoDicomDataElementValueText& other,
                                                               uint32_t maximum)
    : KelvoDicomDataElementValueString() {
    assignText(other._text, maximum);
}

KelvoDicomDataElementValueText::~KelvoDicomDataElementValueText() {
    delete[] _text;
}

bool KelvoDicomDataElementValueText::isA(const char* name) const {
    if (!name) return false;
    return KelvoDicomDataElementValueString::isA(name) ||
           std::strcmp(name, "KelvoDicomDataElementValueText") == 0;
}

void KelvoDicomDataElementValueText::defaultStatus() {
    KelvoDicomDataElementValueString::defaultStatus();
    delete[] _text;
    _text = nullptr;
}

void KelvoDicomDataElementValueText::assignText(const char* text, uint32_t maximum) {
    delete[] _text;
    _text = nullptr;
    if (!text) return;
    size_t length = std::strlen(text);
    if (length > maximum) length = maximum;
    _text = new (std::nothrow) char[length + 1];
    if (!_text) {
        _status = -108;
        return;
    }
    std::memcpy(_text, text, length);
    _text[length] = 0;
}

bool KelvoDicomDataElementValueText::_initWithStringData(const char* text) {
    // The text may be this value's own: take a copy before the reset frees it.
    std::string kept = text ? text : "";
    defaultStatus();
    if (text) assignText(kept.c_str(), maxSizeAllowed());
    return true;
}

void KelvoDicomDataElementValueText::_initWithOther(const KelvoDicomDataElementValueString& other) {
    if (&other == this) return;
    const char* text = const_cast<KelvoDicomDataElementValueString&>(other).stringValue();
    std::string kept = text ? text : "";
    defaultStatus();
    if (text) assignText(kept.c_str(), maxSizeAllowed());
}

KelvoDicomDataElementValueText* KelvoDicomDataElementValueText::createWithVR(const char* vr,
                                                                             const char* text) {
    if (!vr || std::strlen(vr) != 2) return nullptr;
    if (std::strcmp(vr, "UT") == 0) return createWithUnlimitedText(text);
    if (std::strcmp(vr, "ST") == 0) return createWithShortText(text);
    if (std::strcmp(vr, "LT") == 0) return createWithLongText(text);
    return nullptr;
}

KelvoDicomDataElementValueText* KelvoDicomDataElementValueText::createWithLongText(const char* text) {
    return new (std::nothrow) KelvoDicomDataLongText(text);
}

KelvoDicomDataElementValueText* KelvoDicomDataElementValueText::createWithShortText(const char* text) {
    return new (std::nothrow) KelvoDicomDataShortText(text);
}

KelvoDicomDataElementValueText* KelvoDicomDataElementValueText::createWithUnlimitedText(const char* text) {
    return new (std::nothrow) KelvoDicomDataUnlimitedText(text);
}

// The node constructors run in final classes, whose own operations are the ones that run.
KelvoDicomDataLongText::KelvoDicomDataLongText(KelvoDicomDataNode* node) {
    value(node);
}

KelvoDicomDataShortText::KelvoDicomDataShortText(KelvoDicomDataNode* node) {
    value(node);
}

KelvoDicomDataUnlimitedText::KelvoDicomDataUnlimitedText(KelvoDicomDataNode* node) {
    value(node);
}
