// The short text values kept in fixed arrays: code strings (CS) and UIDs (UI), which filter a
// text character by character and stop at the separator, and application entities (AE), long
// strings (LO) and short strings (SH), which replace their forbidden characters with '_'.
#pragma once

#include "KelvoDicomDataStrings.h"

class KelvoDicomDataCodeString final : public KelvoDicomDataElementValueString {
  public:
    static constexpr uint32_t kMaxSize = 16;
    KelvoDicomDataCodeString() = default;
    explicit KelvoDicomDataCodeString(const char* text);
    explicit KelvoDicomDataCodeString(KelvoDicomDataNode* node) { value(node); }
    KelvoDicomDataCodeString(const KelvoDicomDataCodeString& other);
    KelvoDicomDataCodeString& operator=(const KelvoDicomDataCodeString& other) {
        KelvoDicomDataElementValue::operator=(other);
        return *this;
    }
    using KelvoDicomDataElementValueString::operator=;
    using KelvoDicomDataElementValueString::stringValue;

    const char* qtObjName() const override { return "KelvoDicomDataCodeString"; }
    bool qtObjIsValid() override { return _text[0] != 0; }
    bool qtObjIsValid() const override { return _text[0] != 0; }
    void defaultStatus() override;
    Kelvo_QTObj* clone() override;
    bool _initWithStringData(const char* text) override;
    const char* vr() const override { return "CS"; }
    const char* stringValue() override { return _text; }
    void _initWithOther(const KelvoDicomDataElementValueString& other) override;
    uint32_t maxSizeAllowed() const override { return kMaxSize; }

  private:
    char _text[kMaxSize + 1] = {};
};

class KelvoDicomDataUID final : public KelvoDicomDataElementValueString {
  public:
    static constexpr uint32_t kMaxSize = 64;
    KelvoDicomDataUID() = default;
    explicit KelvoDicomDataUID(const char* text);
    explicit KelvoDicomDataUID(KelvoDicomDataNode* node) { value(node); }
    KelvoDicomDataUID(const KelvoDicomDataUID& other);
    KelvoDicomDataUID& operator=(const KelvoDicomDataUID& other) {
        KelvoDicomDataElementValue::operator=(other);
        return *this;
    }
    using KelvoDicomDataElementValueString::operator=;
    using KelvoDicomDataElementValueString::stringValue;

    // A new UID under `root` (owned by the caller); null when none could be made (a root the UID
    // maker refuses included).
    static KelvoDicomDataUID* generate(const char* root);

    const char* qtObjName() const override { return "KelvoDicomDataUID"; }
    bool qtObjIsValid() override { return _text[0] != 0; }
    bool qtObjIsValid() const override { return _text[0] != 0; }
    void defaultStatus() override;
    Kelvo_QTObj* clone() override;
    bool _initWithStringData(const char* text) override;
    const char* vr() const override { return "UI"; }
    char paddingByte() const override { return 0; }
    const char* stringValue() override { return _text; }
    void _initWithOther(const KelvoDicomDataElementValueString& other) override;
    uint32_t maxSizeAllowed() const override { return kMaxSize; }

  private:
    char _text[kMaxSize + 1] = {};
};

class KelvoDicomDataApplicationEntity final : public KelvoDicomDataElementValueString {
  public:
    static constexpr uint32_t kMaxSize = 16;
    static constexpr char forbiddenChars[5] = {'\\', '\n', '\f', '\r', '\x1b'};
    KelvoDicomDataApplicationEntity() = default;
    explicit KelvoDicomDataApplicationEntity(const char* text);
    explicit KelvoDicomDataApplicationEntity(KelvoDicomDataNode* node) { value(node); }
    KelvoDicomDataApplicationEntity(const KelvoDicomDataApplicationEntity& other);
    KelvoDicomDataApplicationEntity& operator=(const KelvoDicomDataApplicationEntity& other) {
        KelvoDicomDataElementValue::operator=(other);
        return *this;
    }
    using KelvoDicomDataElementValueString::operator=;
    using KelvoDicomDataElementValueString::stringValue;

    const char* qtObjName() const override { return "KelvoDicomDataApplicationEntity"; }
    // Empty, or holding something other than spaces.
    bool qtObjIsValid() override;
    bool qtObjIsValid() const override;
    void defaultStatus() override;
    Kelvo_QTObj* clone() override;
    bool _initWithStringData(const char* text) override;
    const char* vr() const override { return "AE"; }
    const char* stringValue() override { return _text; }
    void _initWithOther(const KelvoDicomDataElementValueString& other) override;
    void _listOfForbiddenChars(const char*& list, uint32_t& count) const override;
    uint32_t maxSizeAllowed() const override { return kMaxSize; }

  private:
    char _text[kMaxSize + 1] = {};
};

class KelvoDicomDataLongString final : public KelvoDicomDataElementValueString {
  public:
    static constexpr uint32_t kMaxSize = 64;
    static constexpr char forbiddenChars[4] = {'\\', '\n', '\f', '\r'};
    KelvoDicomDataLongString() = default;
    explicit KelvoDicomDataLongString(const char* text);
    explicit KelvoDicomDataLongString(KelvoDicomDataNode* node) { value(node); }
    KelvoDicomDataLongString(const KelvoDicomDataLongString& other);
    KelvoDicomDataLongString& operator=(const KelvoDicomDataLongString& other) {
        KelvoDicomDataElementValue::operator=(other);
        return *this;
    }
    using KelvoDicomDataElementValueString::operator=;
    using KelvoDicomDataElementValueString::stringValue;

    const char* qtObjName() const override { return "KelvoDicomDataLongString"; }
    void defaultStatus() override;
    Kelvo_QTObj* clone() override { return new (std::nothrow) KelvoDicomDataLongString(*this); }
    bool _initWithStringData(const char* text) override;
    const char* vr() const override { return "LO"; }
    const char* stringValue() override { return _text; }
    void _initWithOther(const KelvoDicomDataElementValueString& other) override;
    void _listOfForbiddenChars(const char*& list, uint32_t& count) const override;
    uint32_t maxSizeAllowed() const override { return kMaxSize; }

  private:
    char _text[kMaxSize + 1] = {};
};

class KelvoDicomDataShortString final : public KelvoDicomDataElementValueString {
  public:
    static constexpr uint32_t kMaxSize = 16;
    static constexpr char forbiddenChars[4] = {'\\', '\n', '\f', '\r'};
    KelvoDicomDataShortString() = default;
    explicit KelvoDicomDataShortString(const char* text);
    explicit KelvoDicomDataShortString(KelvoDicomDataNode* node) { value(node); }
    KelvoDicomDataShortString(const KelvoDicomDataShortString& other);
    KelvoDicomDataShortString& operator=(const KelvoDicomDataShortString& other) {
        KelvoDicomDataElementValue::operator=(other);
        return *this;
    }
    using KelvoDicomDataElementValueString::operator=;
    using KelvoDicomDataElementValueString::stringValue;

    const char* qtObjName() const override { return "KelvoDicomDataShortString"; }
    void defaultStatus() override;
    Kelvo_QTObj* clone() override { return new (std::nothrow) KelvoDicomDataShortString(*this); }
    bool _initWithStringData(const char* text) override;
    const char* vr() const override { return "SH"; }
    const char* stringValue() override { return _text; }
    void _initWithOther(const KelvoDicomDataElementValueString& other) override;
    void _listOfForbiddenChars(const char*& list, uint32_t& count) const override;
    uint32_t maxSizeAllowed() const override { return kMaxSize; }

  private:
    char _text[kMaxSize + 1] = {};
};
