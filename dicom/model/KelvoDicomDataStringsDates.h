// Dates (DA), times (TM), date-times (DT) and ages (AS), kept as numbers and written back as
// DICOM text; dates and times also read and write an SQL-like form ("2024-03-07", "10:15:30",
// the two joined by a space) for the host binding. An empty value read from a file stays empty:
// it is written back empty, never as today or as midnight.
#pragma once

#include "KelvoDicomDataStrings.h"

#include <string>

struct KelvoDicomDateTimeFields;

class KelvoDicomDataDate final : public KelvoDicomDataElementValueString {
  public:
    static constexpr uint32_t kMaxSize = 8;
    // Years that fit the four digits of the DICOM text.
    static constexpr uint32_t kMaxYear = 9999;

    KelvoDicomDataDate() = default;
    // A text that is no date of the calendar leaves the date empty and the status -50.
    explicit KelvoDicomDataDate(const char* text);
    // A date of the calendar (all three 0: the empty date); any other numbers leave the date
    // empty and the status -50.
    KelvoDicomDataDate(uint32_t year, uint32_t month, uint32_t day);
    explicit KelvoDicomDataDate(KelvoDicomDataNode* node) { value(node); }
    KelvoDicomDataDate(const KelvoDicomDataDate& other);
    KelvoDicomDataDate& operator=(const KelvoDicomDataDate& other) {
        KelvoDicomDataElementValue::operator=(other);
        return *this;
    }
    using KelvoDicomDataElementValueString::operator=;
    using KelvoDicomDataElementValueString::stringValue;

    const char* qtObjName() const override { return "KelvoDicomDataDate"; }
    bool qtObjIsValid() override { return _year != 0 && _month != 0 && _day != 0; }
    bool qtObjIsValid() const override { return _year != 0 && _month != 0 && _day != 0; }
    // Empties the date (year, month and day 0).
    void defaultStatus() override;
    Kelvo_QTObj* clone() override { return new (std::nothrow) KelvoDicomDataDate(*this); }
    // "YYYYMMDD", "YYYY-MM-DD" or "YYYY.MM.DD" of a date of the calendar (status 0), or blank
    // (the empty date). Any other text, 29 February of a common year or a month 13 included, is
    // refused: the status is -50 and the date keeps its value.
    bool _initWithStringData(const char* text) override;
    const char* vr() const override { return "DA"; }
    char paddingByte() const override { return 0; }
    // "YYYYMMDD"; empty for an empty date (all three 0).
    const char* stringValue() override;
    void _initWithOther(const KelvoDicomDataElementValueString& other) override;
    uint32_t maxSizeAllowed() const override { return kMaxSize; }

    uint32_t year() const { return _year; }
    uint32_t month() const { return _month; }
    uint32_t day() const { return _day; }
    // Each setter stores a value that keeps the date possible (status 0) and refuses any other
    // (status -50, the date as it was). Years up to 9999, and not one without the day held
    // (29 February).
    void year(uint32_t value) { setYear(value); }
    // 1 to 12, and not a month without the day held.
    void month(uint32_t value) { setMonth(value); }
    // A day of the month held (any month up to 31 while the month is 0).
    void day(uint32_t value) { setDay(value); }
    // "YYYY-MM-DD", empty when the date is not valid.
    const char* sqlDate();
    void sqlDate(const char* text) { _initWithStringData(text); }
    bool isEmpty() const { return _year == 0 && _month == 0 && _day == 0; }

  private:
    friend class KelvoDicomDataDateTime;
    void setYear(uint32_t value);
    void setMonth(uint32_t value);
    void setDay(uint32_t value);
    void parse(const char* text);
    // Reads the three numbers of a text in one of the three forms, followed by nothing but what
    // follows a blank; true for a date of the calendar.
    static bool readDate(const char* text, uint32_t& year, uint32_t& month, uint32_t& day);

    char _text[kMaxSize + 1] = {};
    char _sqlText[11] = {};
    uint32_t _year = 0;
    uint32_t _month = 0;
    uint32_t _day = 0;
};

class KelvoDicomDataTime final : public KelvoDicomDataElementValueString {
  public:
    static constexpr uint32_t kMaxSize = 16;

    KelvoDicomDataTime() = default;
    explicit KelvoDicomDataTime(const char* text);
    // Each number stored when in range.
    KelvoDicomDataTime(uint32_t hours, uint32_t minutes, uint32_t seconds);
    explicit KelvoDicomDataTime(KelvoDicomDataNode* node) { value(node); }
    KelvoDicomDataTime(const KelvoDicomDataTime& other);
    KelvoDicomDataTime& operator=(const KelvoDicomDataTime& other) {
        KelvoDicomDataElementValue::operator=(other);
        return *this;
    }
    using KelvoDicomDataElementValueString::operator=;
    using KelvoDicomDataElementValueString::stringValue;

    const char* qtObjName() const override { return "KelvoDicomDataTime"; }
    // Empties the time (all fields 0, nothing set).
    void defaultStatus() override;
    Kelvo_QTObj* clone() override { return new (std::nothrow) KelvoDicomDataTime(*this); }
    bool _initWithStringData(const char* text) override;
    const char* vr() const override { return "TM"; }
    // "HHMMSS", with ".FFFFFF" when the microseconds are not 0; empty when nothing was set.
    const char* stringValue() override;
    void _initWithOther(const KelvoDicomDataElementValueString& other) override;
    uint32_t maxSizeAllowed() const override { return kMaxSize; }

    uint32_t hours() const { return _hours; }
    uint32_t minutes() const { return _minutes; }
    uint32_t seconds() const { return _seconds; }
    uint32_t microseconds() const { return _microseconds; }
    // Stored below 24, 60, 61 and up to 999999; other values are ignored.
    void hours(uint32_t value) { setHours(value); }
    void minutes(uint32_t value) { setMinutes(value); }
    void seconds(uint32_t value) { setSeconds(value); }
    void microseconds(uint32_t value) { setMicroseconds(value); }
    // "HH:MM:SS".
    const char* sqlTime();
    void sqlTime(const char* text) { _initWithStringData(text); }
    // The local time now (seconds precision).
    void useCurrentTime();
    // No field was ever set: the time of an empty element.
    bool isEmpty() const { return _empty; }

  private:
    friend class KelvoDicomDataDateTime;
    void setHours(uint32_t value);
    void setMinutes(uint32_t value);
    void setSeconds(uint32_t value);
    void setMicroseconds(uint32_t value);
    void clearFields();
    void parse(const char* text);

    char _text[kMaxSize + 1] = {};
    char _sqlText[11] = {};
    uint32_t _hours = 0;
    uint32_t _minutes = 0;
    uint32_t _seconds = 0;
    uint32_t _microseconds = 0;
    bool _empty = true;
};

class KelvoDicomDataDateTime final : public KelvoDicomDataElementValueString {
  public:
    static constexpr uint32_t kMaxSize = 26;

    KelvoDicomDataDateTime() = default;
    explicit KelvoDicomDataDateTime(const char* text);
    explicit KelvoDicomDataDateTime(KelvoDicomDataNode* node) { value(node); }
    KelvoDicomDataDateTime(const KelvoDicomDataDateTime& other);
    KelvoDicomDataDateTime& operator=(const KelvoDicomDataDateTime& other) {
        KelvoDicomDataElementValue::operator=(other);
        return *this;
    }
    using KelvoDicomDataElementValueString::operator=;
    using KelvoDicomDataElementValueString::stringValue;

    const char* qtObjName() const override { return "KelvoDicomDataDateTime"; }
    void defaultStatus() override;
    Kelvo_QTObj* clone() override { return new (std::nothrow) KelvoDicomDataDateTime(*this); }
    // A DICOM date-time element: date, time, fraction and UTC offset of each value, to the
    // precision each gives. A value that is no date-time stays empty and the status is -50.
    bool _initWithData(KelvoDicomDataNode* node) override;
    // The DICOM form ("20240229235959.999999+1400", "2024", "202402+0100"), which replaces the
    // whole value; the SQL-like form ("2024-03-07 10:15:30"), which replaces the date and, when a
    // time follows the space, the time; a plain date ("20240307", "2024-03-07"), which replaces
    // the date alone. Blank: the empty value. Status 0 then; any other text, or a field out of
    // range, is refused with -50 and the value stays as it was.
    bool _initWithStringData(const char* text) override;
    const char* vr() const override { return "DT"; }
    // The DICOM form to the precision given: the date's components as far as they are set when
    // there is no time, the whole date before a time, the time's components and the fraction's
    // digits as given (more when the value needs them), then the offset ("+0530", "-0030") when
    // one is held; empty for an empty date-time.
    const char* stringValue() override;
    void _initWithOther(const KelvoDicomDataElementValueString& other) override;
    uint32_t maxSizeAllowed() const override { return kMaxSize; }

    KelvoDicomDataDate& date() { return _date; }
    const KelvoDicomDataDate& date() const { return _date; }
    KelvoDicomDataTime& time() { return _time; }
    const KelvoDicomDataTime& time() const { return _time; }
    int32_t utcOffsetHours() const { return _offsetHours; }
    uint32_t utcOffsetMinutes() const { return _offsetMinutes; }
    // Stored from -12 to 14; 0 means no offset. The sign of the offset is the sign of the hours.
    void utcOffsetHours(int32_t hours);
    // Stored from 0 to 59.
    void utcOffsetMinutes(uint32_t minutes);
    // Whether the offset read from a text was negative (also for "-0030", whose hours are 0).
    bool utcOffsetNegative() const { return _offsetNegative; }
    const char* sqlDateTime();
    void sqlDateTime(const char* text) { _initWithStringData(text); }

  private:
    void clearAll();
    void parseText(const char* text);
    // False for a text that is no DICOM date-time (the value is then left as it was).
    bool parseDicom(const std::string& text);
    void takeFields(const KelvoDicomDateTimeFields& fields);
    void takeOver(const KelvoDicomDataDateTime& other);

    char _text[kMaxSize + 1] = {};
    char _sqlText[29] = {};
    KelvoDicomDataDate _date;
    KelvoDicomDataTime _time;
    int32_t _offsetHours = 0;
    uint32_t _offsetMinutes = 0;
    // An offset read from a text is written back even when its hours are 0 ("+0000", "-0030").
    bool _offsetRead = false;
    bool _offsetNegative = false;
    // The precision given: the time's components (1 hours to 3 seconds) and the fraction's digits
    // (0 when none was given).
    uint8_t _timeParts = 3;
    uint8_t _fractionDigits = 0;
};

class KelvoDicomDataAge final : public KelvoDicomDataElementValueString {
  public:
    static constexpr uint32_t kMaxSize = 4;
    static constexpr char kUnits[4] = {'D', 'W', 'M', 'Y'};

    KelvoDicomDataAge() = default;
    explicit KelvoDicomDataAge(const char* text);
    explicit KelvoDicomDataAge(KelvoDicomDataNode* node) { value(node); }
    KelvoDicomDataAge(const KelvoDicomDataAge& other);
    KelvoDicomDataAge& operator=(const KelvoDicomDataAge& other) {
        KelvoDicomDataElementValue::operator=(other);
        return *this;
    }
    using KelvoDicomDataElementValueString::operator=;
    using KelvoDicomDataElementValueString::stringValue;

    const char* qtObjName() const override { return "KelvoDicomDataAge"; }
    bool qtObjIsValid() override;
    bool qtObjIsValid() const override;
    void defaultStatus() override;
    Kelvo_QTObj* clone() override { return new (std::nothrow) KelvoDicomDataAge(*this); }
    // "nnnU": -50 for an unknown unit or a count outside 1 to 999.
    bool _initWithStringData(const char* text) override;
    const char* vr() const override { return "AS"; }
    // "045Y"; empty when not valid.
    const char* stringValue() override;
    void _initWithOther(const KelvoDicomDataElementValueString& other) override;
    uint32_t maxSizeAllowed() const override { return kMaxSize; }

    int32_t days() const { return _counts[0]; }
    int32_t weeks() const { return _counts[1]; }
    int32_t months() const { return _counts[2]; }
    int32_t years() const { return _counts[3]; }
    // 1 to 999 replaces the age; any other count sets -50 and changes nothing.
    void days(int32_t n) { setCount(0, n); }
    void weeks(int32_t n) { setCount(1, n); }
    void months(int32_t n) { setCount(2, n); }
    void years(int32_t n) { setCount(3, n); }

  private:
    void setCount(int unit, int32_t n);
    void parse(const char* text);

    char _text[kMaxSize + 1] = {};
    int32_t _counts[4] = {0, 0, 0, 0};
};
