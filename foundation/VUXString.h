// The foundation's text type: the abstract VUXStringT over a character type and its one concrete
// class VUXCString, an 8-bit, NUL-terminated string. The characters and their terminating NUL
// live in a VUXRawData; ranges over them are inclusive at both ends, and the whole-string range
// [0, length()] ends on the NUL.
//
// Edits build the new text in a fresh buffer before they let the old one go, so an argument may
// be the string itself or point into its characters. A string that wraps a caller's buffer
// (the byte-block constructor with wrap true) never writes into it: the first edit in place
// copies the characters into a buffer of the string's own.
#pragma once

#include "VUXContainer.h"
#include "VUXObject.h"
#include "VUXRawData.h"

#include <cstdint>
#include <iosfwd>

namespace VUX {

// What find answers when the pattern does not occur, or when the string or pattern is empty. No
// position can take this value.
constexpr int64_t kVUXStringNotFound = -1;

// Core Foundation's number for 7-bit ASCII, the tag every VUXCString is made with.
constexpr uint32_t kVUXStringEncodingASCII = 0x600;

template <typename CharT> class VUXStringT : public VUXObject {
  public:
    ~VUXStringT() override;

    static const char* objectName() { return "VUXStringT"; }
    const char* className() const override;
    bool isA(const char* name) const override;
    // The root's, then the storage released.
    void defaultStatus() override;

    virtual int64_t length() const = 0;
    // Checksum of the length() characters (the NUL excluded).
    virtual uint16_t checksum() const;
    virtual bool empty() const;
    // [0, length()].
    virtual VUXRange<int64_t> stringRange() const;
    // Null when there is no buffer.
    virtual const CharT* data() const;
    virtual VUXRawData const& bytes() const;
    // A new copy of the storage, owned by the caller.
    virtual VUXRawData* copyBytes() const;
    virtual uint32_t encoding() const;

    // Appending the string to itself, or an empty string, changes nothing.
    virtual void append(VUXStringT const& s);
    // Removes the characters [left, right]; left < right and 0 <= left, right <= length(), else
    // status 1. The terminating NUL always stays.
    virtual void remove(VUXRange<int64_t> const& r);
    // A negative position sets -50; at or past the end the text is appended.
    virtual void insertAt(int64_t pos, VUXStringT const& s);
    // New strings owned by the caller.
    virtual VUXStringT* concat(VUXStringT const& s) const;
    // Null (status unchanged) for an empty string; null with status 1 for an invalid range, one
    // with left >= right, or one starting past the NUL. A right end past the NUL is cut to it; a
    // negative left end takes the whole-string range.
    virtual VUXStringT* subString(VUXRange<int64_t> const& r) const;
    // The 0-based position of the first occurrence, or kVUXStringNotFound.
    virtual int64_t find(VUXStringT const& s, bool caseSensitive) const;
    // The positions of all occurrences, not overlapping (a new list owned by the caller); null
    // when the string or the pattern is empty.
    virtual VUXList<int64_t>* findAll(VUXStringT const& s, bool caseSensitive) const;
    virtual void capitalize();
    virtual void trim();
    virtual void uppercase();
    virtual void lowercase();
    virtual void replace(VUXStringT const& target, VUXStringT const& with, bool caseSensitive);
    virtual void replaceAll(VUXStringT const& target, VUXStringT const& with, bool caseSensitive);
    virtual VUXList<VUXRange<int64_t>>* paragraphs() const = 0;
    virtual VUXArray<VUXObject*>* split(VUXStringT const& separator) const = 0;

    virtual void hexEncode() = 0;
    virtual void hexDecode() = 0;

  protected:
    explicit VUXStringT(uint32_t encoding);
    VUXStringT(VUXStringT const& other);

    virtual void _initWithCString(const CharT* s) = 0;
    virtual void _append(VUXStringT const& s) = 0;
    virtual VUXStringT* _concat(VUXStringT const& s) const = 0;
    virtual void _insert(int64_t pos, VUXStringT const& s) = 0;
    virtual void _remove(VUXRange<int64_t> const& r) = 0;
    virtual VUXStringT* _extract(VUXRange<int64_t> const& r) const = 0;
    virtual int64_t _find(VUXStringT const& s, bool caseSensitive) const = 0;
    virtual VUXList<int64_t>* _findAll(VUXStringT const& s, bool caseSensitive) const = 0;
    virtual void _replace(int64_t pos, uint64_t count, VUXStringT const& with) = 0;
    virtual void _replaceAll(VUXContainer<int64_t> const& positions, uint64_t count,
                             VUXStringT const& with) = 0;
    virtual void _capitalize() = 0;
    virtual void _trim() = 0;
    virtual void _toUpper() = 0;
    virtual void _toLower() = 0;

    // Mark 1 (16-bit), the encoding (32-bit) and the raw length (64-bit, NUL included), all in
    // the writer's byte order, then the raw bytes.
    void _toStream(std::ostream& stream) const override;
    // Reads that form in either byte order. A mark that is 1 in neither order, a length beyond
    // what the stream holds, or bytes without their terminating NUL are refused with -50 (and
    // the stream's failbit); the string is then left as it was.
    void _fromStream(std::istream& stream) override;
    // Both take `other` as a VUXStringT<char>: anything else raises std::bad_cast. Strings are
    // equal when their encodings and their bytes are.
    bool _compare(VUXObject const& other) const override;
    void _copy(VUXObject const& other) override;

    // Lets the storage take a buffer made with new[] (rawLength bytes, NUL included).
    void adoptBuffer(CharT* buffer, uint64_t rawLength);
    // Gives the storage bytes of its own before they are changed in place.
    bool ownStorage();

    VUXRawData _storage;
    uint32_t _encoding;
};

class VUXCString : public VUXStringT<char> {
  public:
    VUXCString();
    // A copy of s; a null or empty s gives an empty string without buffer.
    VUXCString(const char* s);
    // Null bytes or size 0 give an empty string. wrap false: a copy of the size bytes and a NUL
    // (length() is size). wrap true: the caller's buffer used in place, never freed; size counts
    // its terminating NUL (length() is size - 1). A buffer whose last byte is not a NUL is not
    // wrapped: its first size - 1 bytes are copied instead.
    VUXCString(const void* bytes, uint64_t size, bool wrap);
    VUXCString(VUXCString const& other);
    ~VUXCString() override;

    static const char* objectName() { return "VUXCString"; }
    const char* className() const override;

    VUXCString& operator=(VUXCString const& other);
    // A non-empty s replaces the text; a null or empty one leaves it.
    VUXCString& operator=(const char* s);
    VUXCString& operator+=(const char* s);
    // Clears the string, then: adopt false copies the bytes and adds a NUL; adopt true takes the
    // buffer (made with new[]) and its ownership, size counting its NUL.
    VUXCString& operator()(const void* bytes, uint64_t size, bool adopt);

    int64_t length() const override;

    VUXList<VUXRange<int64_t>>* paragraphs() const override;
    VUXArray<VUXObject*>* split(VUXStringT<char> const& separator) const override;
    void hexEncode() override;
    void hexDecode() override;

    // New objects owned by the caller.
    static VUXCString* join(VUXContainer<char*> const& items, VUXCString const& separator);
    static VUXCString* hexEncode(VUXCString const& text);
    static VUXCString* hexDecode(VUXCString const& text);
    static VUXCString* base64Encode(VUXRawData const& data);
    static VUXRawData* base64Decode(VUXCString const& text);

  protected:
    VUXObject* _clone() const override;
    void _readableDescription(std::ostream& stream) const override;

    void _initWithCString(const char* s) override;
    void _append(VUXStringT<char> const& s) override;
    VUXStringT<char>* _concat(VUXStringT<char> const& s) const override;
    void _insert(int64_t pos, VUXStringT<char> const& s) override;
    void _remove(VUXRange<int64_t> const& r) override;
    VUXStringT<char>* _extract(VUXRange<int64_t> const& r) const override;
    int64_t _find(VUXStringT<char> const& s, bool caseSensitive) const override;
    VUXList<int64_t>* _findAll(VUXStringT<char> const& s, bool caseSensitive) const override;
    void _replace(int64_t pos, uint64_t count, VUXStringT<char> const& with) override;
    void _replaceAll(VUXContainer<int64_t> const& positions, uint64_t count,
                     VUXStringT<char> const& with) override;
    void _capitalize() override;
    void _trim() override;
    void _toUpper() override;
    void _toLower() override;
    // The search primitive over two C strings: the position of the first occurrence of the
    // pattern in the text, or kVUXStringNotFound.
    virtual int64_t _find(const char* text, const char* pattern, bool caseSensitive) const;
};

// A new string: a followed by b.
VUXCString operator+(VUXCString const& a, VUXCString const& b);

} // namespace VUX
