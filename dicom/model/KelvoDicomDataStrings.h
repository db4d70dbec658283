// The element values of the value representations that hold text. KelvoDicomDataElementValueString
// is what they share: the choice of class by VR, the splitting of an element's text into one value
// per part, the clean-up of forbidden characters, the joining of several values with the separator
// and the encoding into a node. KelvoDicomDataElementValueText and its LT, ST and UT classes hold
// free text that is never split. The other text VRs live in the KelvoDicomDataStrings* files.
#pragma once

#include "KelvoDicomDataElements.h"
#include "KelvoImageTypes.h"

#include <new>

// Follows ISO 2022 escape sequences through a text: while G0 holds a two-byte character set
// (ESC $ B, ESC $ @, ESC $ ( D), the bytes of the delimiters ('\\', '^', '=') are halves of
// characters, not delimiters. Texts without escape sequences are single-byte throughout.
class KelvoDicomTextScanner {
  public:
    // Call for every byte in order; true when the byte at `p` may be a delimiter.
    bool delimiterAllowed(const char* p) {
        if (p[0] == '\x1b' && p[1]) {
            if (p[1] == '$' && p[2]) {
                if (p[2] == 'B' || p[2] == '@' || (p[2] == '(' && p[3])) _twoByte = true;
            } else if (p[1] == '(') {
                _twoByte = false;
            }
        }
        return !_twoByte;
    }

  private:
    bool _twoByte = false;
};

class KelvoDicomDataElementValueString : public KelvoDicomDataElementValue {
  public:
    using KelvoDicomDataElementValue::operator=;
    using KelvoDicomDataElementValue::stringValue;

    const char* qtObjName() const override { return "KelvoDicomDataElementValueString"; }
    void defaultStatus() override;
    void copy(Kelvo_QTObj& other) override;
    bool isA(const char* name) const override;
    bool _initWithData(KelvoDicomDataNode* node) override;
    KelvoDicomDataNode* _encodeForDicom() const override;
    // The characters of all values joined with their separators (no NUL, no padding).
    uint32_t _dataLengthForDicom() const override;
    // Further values that cannot be cloned (an empty code string is "invalid") keep their place.
    void _copyList(const KelvoDicomDataElementValue& other) override;

    // Virtual operations added by the string values, in slot order.
    virtual void _initWithOther(const KelvoDicomDataElementValueString& other) = 0;
    virtual void _listOfForbiddenChars(const char*& list, uint32_t& count) const;
    // `text` itself, or a new array (delete[]; `allocated` 1) with every forbidden character
    // replaced by '_'.
    virtual const char* _cleanUpString(const char* text, uint8_t& allocated) const;
    // Cleans `text` and copies at most `maximum` characters and a NUL into `destination`.
    virtual void _setValue(char* destination, const char* text, int32_t maximum) const;
    virtual char multipleValuesSeparator() const { return '\\'; }
    virtual uint32_t maxSizeAllowed() const = 0;
    // All values joined, in a new array owned by the caller; null when the joined text is empty.
    virtual KelvoDataT<char>* concatStringValues() const;

    // A new value (owned by the caller) of the class for a text VR, set from `text` (may be null);
    // null for a VR that names no text class.
    static KelvoDicomDataElementValue* createWithVR(const char* vr, const char* text);

  protected:
    KelvoDicomDataElementValueString() = default;
    // The further values are copied here (the base would drop those that cannot be cloned).
    KelvoDicomDataElementValueString(const KelvoDicomDataElementValueString& other);
    KelvoDicomDataElementValueString& operator=(const KelvoDicomDataElementValueString&) = default;

    bool lengthIsPerValue() const override { return false; }

    // This value's further values become copies of `other`'s (non-virtual: safe in constructors).
    // Values of another class are remade in `vr` from their text.
    void copyFurtherValuesFrom(const KelvoDicomDataElementValueString& other, const char* vr);
    // `text` cleaned of `forbidden` and cut at `maximum` into `destination`; the separator is
    // written as '|'. The one implementation behind `_setValue`, callable from constructors.
    static void setCleanValue(char* destination, const char* text, int32_t maximum, const char* forbidden,
                              uint32_t forbiddenCount, char separator);
    // `other`'s value 0 and further values taken over through their texts, for copies between
    // two different string classes.
    void takeOverByText(const KelvoDicomDataElementValueString& other);
};

// Free text (LT, ST, UT): one value, never split, never cleaned; the backslash is an ordinary
// character.
class KelvoDicomDataElementValueText : public KelvoDicomDataElementValueString {
  public:
    using KelvoDicomDataElementValueString::operator=;
    ~KelvoDicomDataElementValueText() override;

    const char* qtObjName() const override { return "KelvoDicomDataElementValueText"; }
    bool isA(const char* name) const override;
    void defaultStatus() override;
    bool _initWithStringData(const char* text) override;
    // The stored text; null when none was set.
    const char* stringValue() override { return _text; }
    using KelvoDicomDataElementValueString::stringValue;
    void _initWithOther(const KelvoDicomDataElementValueString& other) override;
    void _setValue(char*, const char*, int32_t) const override {}
    char multipleValuesSeparator() const override { return 0; }

    static KelvoDicomDataElementValueText* createWithVR(const char* vr, const char* text);
    static KelvoDicomDataElementValueText* createWithLongText(const char* text);
    static KelvoDicomDataElementValueText* createWithShortText(const char* text);
    static KelvoDicomDataElementValueText* createWithUnlimitedText(const char* text);

  protected:
    KelvoDicomDataElementValueText() = default;
    KelvoDicomDataElementValueText(const KelvoDicomDataElementValueText& other, uint32_t maximum);
    KelvoDicomDataElementValueText& operator=(const KelvoDicomDataElementValueText&) = delete;

    // Replaces the text with the first `maximum` characters of `text` (none for null).
    void assignText(const char* text, uint32_t maximum);

    char* _text = nullptr;
};

class KelvoDicomDataLongText final : public KelvoDicomDataElementValueText {
  public:
    static constexpr uint32_t kMaxSize = 10240;
    KelvoDicomDataLongText() = default;
    explicit KelvoDicomDataLongText(const char* text) { assignText(text, kMaxSize); }
    explicit KelvoDicomDataLongText(KelvoDicomDataNode* node);
    KelvoDicomDataLongText(const KelvoDicomDataLongText& other)
        : KelvoDicomDataElementValueText(other, kMaxSize) {}
    KelvoDicomDataLongText& operator=(const KelvoDicomDataLongText& other) {
        KelvoDicomDataElementValue::operator=(other);
        return *this;
    }
    using KelvoDicomDataElementValueText::operator=;

    const char* qtObjName() const override { return "KelvoDicomDataLongText"; }
    Kelvo_QTObj* clone() override { return new (std::nothrow) KelvoDicomDataLongText(*this); }
    const char* vr() const override { return "LT"; }
    uint32_t maxSizeAllowed() const override { return kMaxSize; }
};

class KelvoDicomDataShortText final : public KelvoDicomDataElementValueText {
  public:
    static constexpr uint32_t kMaxSize = 1024;
    KelvoDicomDataShortText() = default;
    explicit KelvoDicomDataShortText(const char* text) { assignText(text, kMaxSize); }
    explicit KelvoDicomDataShortText(KelvoDicomDataNode* node);
    KelvoDicomDataShortText(const KelvoDicomDataShortText& other)
        : KelvoDicomDataElementValueText(other, kMaxSize) {}
    KelvoDicomDataShortText& operator=(const KelvoDicomDataShortText& other) {
        KelvoDicomDataElementValue::operator=(other);
        return *this;
    }
    using KelvoDicomDataElementValueText::operator=;

    const char* qtObjName() const override { return "KelvoDicomDataShortText"; }
    Kelvo_QTObj* clone() override { return new (std::nothrow) KelvoDicomDataShortText(*this); }
    const char* vr() const override { return "ST"; }
    uint32_t maxSizeAllowed() const override { return kMaxSize; }
};

class KelvoDicomDataUnlimitedText final : public KelvoDicomDataElementValueText {
  public:
    static constexpr uint32_t kMaxSize = 4294967293u; // 2^32 - 3
    KelvoDicomDataUnlimitedText() = default;
    explicit KelvoDicomDataUnlimitedText(const char* text) { assignText(text, kMaxSize); }
    explicit KelvoDicomDataUnlimitedText(KelvoDicomDataNode* node);
    KelvoDicomDataUnlimitedText(const KelvoDicomDataUnlimitedText& other)
        : KelvoDicomDataElementValueText(other, kMaxSize) {}
    KelvoDicomDataUnlimitedText& operator=(const KelvoDicomDataUnlimitedText& other) {
        KelvoDicomDataElementValue::operator=(other);
        return *this;
    }
    using KelvoDicomDataElementValueText::operator=;

    const char* qtObjName() const override { return "KelvoDicomDataUnlimitedText"; }
    Kelvo_QTObj* clone() override { return new (std::nothrow) KelvoDicomDataUnlimitedText(*this); }
    const char* vr() const override { return "UT"; }
    uint32_t maxSizeAllowed() const override { return kMaxSize; }
};
