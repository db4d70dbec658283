// Small value classes: a four-character code, a UUID with configurable text forms, a 32-bit
// movie-time range and a time range with its own time scale in doubles.
#pragma once

#include "KelvoCocoaTypes.h"
#include "KelvoCoreObjects.h"
#include "PlatformObjects.h"
#include "PlatformTypes.h"
#include "PlatformUUID.h"

class Kelvo_OSType : public Kelvo_QTObj {
  public:
    Kelvo_OSType() = default;
    explicit Kelvo_OSType(uint32_t value) { setOSType(value); }
    explicit Kelvo_OSType(const char* text) { stringValue(text); }
    Kelvo_OSType(const Kelvo_OSType& other) : Kelvo_QTObj(other) { setOSType(other._value); }
    Kelvo_OSType& operator=(const Kelvo_OSType& other) {
        if (&other != this) setOSType(other._value);
        return *this;
    }
    Kelvo_OSType& operator=(uint32_t value) {
        setOSType(value);
        return *this;
    }
    Kelvo_OSType& operator=(const char* text) {
        stringValue(text);
        return *this;
    }
    // Cocoa build: the platform's code for the string; a null string changes nothing.
    Kelvo_OSType& operator=(NSString* text);

    const char* qtObjName() const override { return "Kelvo_OSType"; }
    void defaultStatus() override;
    Kelvo_QTObj* clone() override { return new Kelvo_OSType(*this); }

    const char* setOSType(uint32_t value);
    // Exactly four characters make a code; any other text gives 0 and the empty text.
    const char* stringValue(const char* text);
    uint32_t getOSType() const { return _value; }
    operator uint32_t() const { return _value; }
    const char* stringValue() const { return _text; }
    // Cocoa build: the platform's string for the value, autoreleased.
    explicit operator NSString*() const;

    bool operator==(const Kelvo_OSType& o) const { return _value == o._value; }
    bool operator!=(const Kelvo_OSType& o) const { return _value != o._value; }

    // The value with its four bytes reversed.
    uint32_t nativeToBig() const;
    uint32_t bigToNative() const { return nativeToBig(); }

  private:
    char _text[5] = {};
    uint32_t _value = 0;
};

class Kelvo_UUID : public Kelvo_QTObj {
  public:
    // A new UUID from the platform; the status is the platform's result.
    Kelvo_UUID();
    // The UUID, splitter and format; the text is cleared.
    Kelvo_UUID(const Kelvo_UUID& other);
    Kelvo_UUID& operator=(const Kelvo_UUID& other) {
        copy(const_cast<Kelvo_UUID&>(other));
        return *this;
    }

    const char* qtObjName() const override { return "Kelvo_UUID"; }
    void copy(Kelvo_QTObj& source) override;
    Kelvo_QTObj* clone() override { return new Kelvo_UUID(*this); }

    bool operator==(const Kelvo_UUID& o) const { return isEqual(o); }
    bool operator!=(const Kelvo_UUID& o) const { return !isEqual(o); }
    bool isEqual(const Kelvo_UUID& o) const;

    char splitter() const { return _splitter; }
    void splitter(char c) { _splitter = c; }
    int formatType() const { return _format; }
    // 0 and 1 print decimal numbers, 2 hexadecimal ones; other values are ignored.
    void formatType(int format);

    // The text form, rebuilt on every call into the object's buffer.
    const char* stringValue();
    const QTUUID& uuid() const { return _uuid; }
    void uuid(const QTUUID& u) { _uuid = u; }

  private:
    QTUUID _uuid{};
    char _text[80] = {};
    char _splitter = 0;
    int _format = 0;
};

class Kelvo_TimeRange : public Kelvo_QTObj {
  public:
    Kelvo_TimeRange() = default;
    Kelvo_TimeRange(int32_t start, int32_t duration) : _start(start), _duration(duration) {}
    Kelvo_TimeRange(const Kelvo_TimeRange& other)
        : Kelvo_QTObj(other), _start(other._start), _duration(other._duration) {}
    // Start 0 and the movie's duration; -2010 for a null movie.
    explicit Kelvo_TimeRange(Movie movie);
    explicit Kelvo_TimeRange(MovieController mc) { setWithMovieController(mc); }
    Kelvo_TimeRange& operator=(const Kelvo_TimeRange& other) {
        if (&other != this) {
            _start = other._start;
            _duration = other._duration;
        }
        return *this;
    }
    Kelvo_TimeRange& operator=(MovieController mc) {
        setWithMovieController(mc);
        return *this;
    }

    const char* qtObjName() const override { return "Kelvo_TimeRange"; }
    bool qtObjIsValid() override { return _start >= 0 && _duration >= 0; }
    bool qtObjIsValid() const override { return _start >= 0 && _duration >= 0; }
    void defaultStatus() override { _start = _duration = 0; }
    Kelvo_QTObj* clone() override;

    // The controller's play selection (both 0 when editing is off).
    void setWithMovieController(MovieController mc);
    void operator()(int32_t start, int32_t duration) {
        _start = start;
        _duration = duration;
    }
    int32_t start() const { return _start; }
    int32_t duration() const { return _duration; }
    // In 64 bits: two 32-bit times may add beyond the 32-bit range.
    int64_t End() const { return int64_t(_start) + _duration; }

    bool operator==(const Kelvo_TimeRange& o) const;
    bool operator!=(const Kelvo_TimeRange& o) const;

  private:
    int32_t _start = 0;
    int32_t _duration = 0;
};

class Kelvo_TimeRange64 : public Kelvo_QTObj {
  public:
    Kelvo_TimeRange64() = default;
    Kelvo_TimeRange64(double start, double duration) : _start(start), _duration(duration) {}
    Kelvo_TimeRange64(const Kelvo_TimeRange64& other)
        : Kelvo_QTObj(other), _scale(other._scale), _start(other._start), _duration(other._duration) {}
    explicit Kelvo_TimeRange64(const Kelvo_TimeRange& range)
        : _start(range.start()), _duration(range.duration()) {}
    explicit Kelvo_TimeRange64(MovieController mc) { _fromMovieController(mc); }
    // Cocoa build: the scale of the range's time, and start and duration in it. A null string
    // leaves the range empty; any other is read with the platform's parse.
    explicit Kelvo_TimeRange64(const QTTimeRange& range);
    explicit Kelvo_TimeRange64(NSString* text);
    Kelvo_TimeRange64& operator=(const Kelvo_TimeRange64& other);
    Kelvo_TimeRange64& operator=(const Kelvo_TimeRange& range);
    Kelvo_TimeRange64& operator=(MovieController mc);
    // Cocoa build; a null string changes nothing.
    Kelvo_TimeRange64& operator=(const QTTimeRange& range);
    Kelvo_TimeRange64& operator=(NSString* text);

    const char* qtObjName() const override { return "Kelvo_TimeRange64"; }
    bool qtObjIsValid() override { return _start >= 0 && _duration >= 0; }
    bool qtObjIsValid() const override { return _start >= 0 && _duration >= 0; }
    void defaultStatus() override;
    Kelvo_QTObj* clone() override;

    // Both as doubles; the scale stays.
    void operator()(int32_t start, int32_t duration) {
        _start = start;
        _duration = duration;
    }
    int32_t& scale() { return _scale; }
    double& start() { return _start; }
    double& duration() { return _duration; }
    int32_t scale() const { return _scale; }
    double start() const { return _start; }
    double duration() const { return _duration; }
    double end() const { return _start + _duration; }

    double startInSeconds() const;
    double durationInSeconds() const;
    double endInSeconds() const;

    // Start and duration truncated toward zero to 32 bits (NaN gives 0, values beyond the range
    // its nearest limit).
    operator Kelvo_TimeRange() const;
    void toTimeRange(Kelvo_TimeRange& range) const;

    // Cocoa build. Start and duration truncated to 64-bit times of the range's scale (NaN gives
    // 0, values beyond the range its nearest limit); both are the zero time when the scale is
    // not positive. The text is the platform's, autoreleased.
    operator QTTimeRange() const;
    void toQTTimeRange(QTTimeRange& range) const;
    QTTime startInQTTime() const;
    QTTime durationInQTTime() const;
    QTTime endInQTTime() const;
    explicit operator NSString*() const;

    bool operator==(const Kelvo_TimeRange64& o) const;
    bool operator!=(const Kelvo_TimeRange64& o) const { return !(*this == o); }

  private:
    void _fromMovieController(MovieController mc);

    int32_t _scale = 0;
    double _start = 0.0;
    double _duration = 0.0;
};
