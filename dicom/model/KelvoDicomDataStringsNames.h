// Person names (PN): the five components of the alphabetic group (family, given and middle name,
// prefix, suffix) and, as they stand, the ideographic and phonetic component groups that follow
// it after '='. The DICOM text is rebuilt from them when asked.
#pragma once

#include "KelvoDicomDataStrings.h"

class KelvoDicomDataPersonName final : public KelvoDicomDataElementValueString {
  public:
    static constexpr uint32_t kMaxSize = 64;
    // Bytes of an ideographic or phonetic group: 64 characters of up to four bytes each.
    static constexpr uint32_t kGroupMaxSize = 256;
    static constexpr char forbiddenChars[4] = {'\\', '\n', '\f', '\r'};

    KelvoDicomDataPersonName() = default;
    KelvoDicomDataPersonName(const char* firstName, const char* lastName);
    explicit KelvoDicomDataPersonName(KelvoDicomDataNode* node) { value(node); }
    KelvoDicomDataPersonName(const KelvoDicomDataPersonName& other);
    KelvoDicomDataPersonName& operator=(const KelvoDicomDataPersonName& other) {
        KelvoDicomDataElementValue::operator=(other);
        return *this;
    }
    using KelvoDicomDataElementValueString::operator=;
    using KelvoDicomDataElementValueString::stringValue;

    const char* qtObjName() const override { return "KelvoDicomDataPersonName"; }
    void defaultStatus() override;
    Kelvo_QTObj* clone() override { return new (std::nothrow) KelvoDicomDataPersonName(*this); }
    bool _initWithStringData(const char* text) override;
    const char* vr() const override { return "PN"; }
    // The components joined by '^' (the alphabetic group, at most 64 characters), then the
    // ideographic and phonetic groups after '=' when they are present.
    const char* stringValue() override;
    void _initWithOther(const KelvoDicomDataElementValueString& other) override;
    void _listOfForbiddenChars(const char*& list, uint32_t& count) const override;
    uint32_t maxSizeAllowed() const override { return kMaxSize; }

    const char* lastName() const { return _components[kLast]; }
    const char* firstName() const { return _components[kFirst]; }
    const char* middleName() const { return _components[kMiddle]; }
    const char* namePrefix() const { return _components[kPrefix]; }
    const char* nameSuffix() const { return _components[kSuffix]; }
    // Backslash, LF, FF and CR become '_'; cut at 64 characters; null or empty empties it.
    void lastName(const char* text) { _setValue(_components[kLast], text, kMaxSize); }
    void firstName(const char* text) { _setValue(_components[kFirst], text, kMaxSize); }
    void middleName(const char* text) { _setValue(_components[kMiddle], text, kMaxSize); }
    void namePrefix(const char* text) { _setValue(_components[kPrefix], text, kMaxSize); }
    void nameSuffix(const char* text) { _setValue(_components[kSuffix], text, kMaxSize); }

    // The ideographic and phonetic component groups, as read (empty when absent).
    const char* ideographicName() const { return _ideographic; }
    const char* phoneticName() const { return _phonetic; }

  private:
    enum { kLast, kFirst, kMiddle, kPrefix, kSuffix, kComponents };

    void clearAll();
    void parse(const char* text);

    char _text[kMaxSize + 1 + kGroupMaxSize + 1 + kGroupMaxSize + 1] = {};
    char _components[kComponents][kMaxSize + 1] = {};
    char _ideographic[kGroupMaxSize + 1] = {};
    char _phonetic[kGroupMaxSize + 1] = {};
};
