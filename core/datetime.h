// Calendar dates and times of day: day numbers, the pattern language for
// formatting, and a tolerant parser for dates and times written by people.
//
// Guarantees:
//  - A Date is a continuous day number (1 January 2000 is 2451544; 0 means no
//    date) with its month, day, year and weekday (1 = Sunday). Dates before
//    15 October 1582 are Julian, later ones Gregorian; 4 October 1582 is
//    followed by 15 October 1582.
//  - Formatting never fails and never writes past its output: an invalid date
//    prints its stored numbers and empty names.
//  - Parsing reads a NUL-terminated text and never past its end. A failed
//    date parse leaves every date field 0 and returns null; a failed time
//    parse leaves the time parts at -1 and returns false.
//  - Arithmetic is done in 64 bits and years beyond +-kMaxCalendarYear are
//    refused (the date is cleared), so no input overflows a day number.
//  - The calendar, formatting and parsing are portable; reading the clock,
//    the time zone and converting file times go through the system
//    (datetime_win32.cpp on Windows; the C library elsewhere).
#pragma once
#include <stdint.h>

#include "core/string.h"

constexpr int32_t kUnusableYear = (int32_t)0x80000000;
constexpr int32_t kNoQuarter = (int32_t)0x80000000;
constexpr int32_t kMaxCalendarYear = 1000000;

extern const char* const kMonthNames[13];    // index 1..12; [0] is ""
extern const char* const kWeekdayNames[8];   // index 1..7, 1 = "Sunday"; [0] is ""
extern const char kDateSeparators[];         // "/.-"
extern const char kDefaultDateTimePattern[]; // "m/d/y h:ii:ssap"
extern const char kDefaultDatePattern[];     // "m/d/y"

bool IsLeapYear(int32_t year);
// 28..31; 0 for a month outside 1..12.
int32_t DaysInMonth(int32_t month, int32_t year);

// What the parser and the 'b' pattern item need to know of the local clock.
struct LocalClock {
  int32_t year;              // the current year, for two-digit years
  int32_t utcOffsetMinutes;  // local time minus UTC
};
LocalClock ReadLocalClock();

// Local time minus UTC in minutes, daylight saving time included when in
// effect.
int32_t LocalUtcOffsetMinutes();

// A year of 100 or less moved into the century nearest currentYear (of the
// previous, current and next century the closest wins; a tie goes to the
// later). Other years are returned unchanged.
int32_t WindowTwoDigitYear(int32_t year, int32_t currentYear);

// The fields of the system's time record (weekday and milliseconds 0 when
// made from a DateTime).
struct SystemTimeRecord {
  uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};

struct Date {
  int32_t dayNumber = 0;
  int32_t month = 0;
  int32_t day = 0;
  int32_t year = 0;
  int32_t weekday = 0;

  void Clear();
  // Computes the day number and weekday of the given date; a month <= 0 is
  // ignored, a year beyond kMaxCalendarYear clears the date.
  void Set(int32_t month, int32_t day, int32_t year);
  // Computes month, day, year and weekday; 0 clears the date.
  void SetDayNumber(int32_t n);
  // Moves by n days; a cleared date stays cleared.
  void AddDays(int32_t n);
  bool IsValid() const;
  // Invalid dates sort before valid ones and equal each other; otherwise by
  // day number. Negative, 0 or positive.
  int Compare(const Date& other) const;
  // 1..4, or kNoQuarter for an invalid date.
  int32_t Quarter() const;

  // Pattern items d dd D DD m mm M MM y yy Y YY w ww W WW Q; other characters
  // (the time letters too) are copied. A null or empty pattern means
  // kDefaultDatePattern. Replaces out.
  void Format(String& out, const char* pattern) const;

  // Parses a date at the start of text (after white space); returns the
  // position after it, or null with the date cleared when there is none.
  const char* Parse(const char* text, bool dayFirst, int32_t currentYear);
  const char* Parse(const char* text, bool dayFirst);

  static Date Today();
};

struct DateTime : Date {
  int32_t hours = -1;
  int32_t minutes = -1;
  int32_t seconds = -1;

  void Clear();  // no date and no time
  void ClearTime();
  void SetTime(int32_t hours, int32_t minutes, int32_t seconds);
  bool IsTimeValid() const;
  // Carry into hours and days (negative values borrow); nothing happens
  // without a valid time.
  void AddMinutes(int32_t n);
  void AddHours(int32_t n);
  // Dates first, then times (an invalid time sorts before a valid one).
  int Compare(const DateTime& other) const;

  // Every Date item plus h hh H HH i ii s ss ap AP b; 'a' or 'A' alone is
  // copied. A null or empty pattern means kDefaultDateTimePattern.
  void Format(String& out, const char* pattern) const;
  void Format(String& out, const char* pattern, int32_t utcOffsetMinutes) const;

  // A date (optional) followed by a time; true when a valid time was read.
  bool Parse(const char* text, bool dayFirst, const LocalClock& clock);
  bool Parse(const char* text, bool dayFirst);

  static DateTime Now();

  // The system time record of this local date and time; false (record
  // zeroed) when the date or time is invalid or the year is outside 1..30827.
  [[nodiscard]] bool ToSystemTime(SystemTimeRecord& record) const;
  // From a system time record; false (cleared) when it is not a valid time.
  bool FromSystemTime(const SystemTimeRecord& record);
  // File times count 100 ns units since 1 January 1601 UTC; this DateTime is
  // local time.
  [[nodiscard]] bool ToFileTime(uint64_t& fileTime) const;
  bool FromFileTime(uint64_t fileTime);
};

// English words for the pattern items DD, Y and YY ("Twenty-First",
// "Two Thousand Eight"); they replace out.
void NumberWords(String& out, int64_t n);
void OrdinalWords(String& out, int64_t n);
