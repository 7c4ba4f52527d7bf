#include "core/datetime.h"

#include "core/format.h"

#if !defined(_WIN32)
#include <time.h>
#endif

const char* const kMonthNames[13] = {"",     "January", "February",  "March",   "April",    "May",     "June",
                                     "July", "August",  "September", "October", "November", "December"};
const char* const kWeekdayNames[8] = {"", "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char kDateSeparators[] = "/.-";
const char kDefaultDateTimePattern[] = "m/d/y h:ii:ssap";
const char kDefaultDatePattern[] = "m/d/y";

namespace {

const int32_t kDaysPerMonth[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// The first Gregorian day (15 October 1582) as a day number.
constexpr int64_t kGregorianStart = 2299160;
constexpr int32_t kMaxParsedNumber = 999999999;

bool InInt32(int64_t v) { return v >= -0x7FFFFFFFll && v <= 0x7FFFFFFFll; }

// The quotient rounded toward minus infinity, for a positive divisor. Only
// unsigned 64-bit division is used, so the runtime links one division routine
// rather than a signed one beside it. Out of line: inlined with a constant
// divisor, the compiler still names the signed routine, which the link then
// carries along unused.
[[gnu::noinline]] int64_t FloorDiv(int64_t a, uint32_t b) {
  const bool negative = a < 0;
  const uint64_t magnitude = negative ? 0 - (uint64_t)a : (uint64_t)a;
  const uint64_t q = (magnitude + (negative ? b - 1 : 0)) / b;
  return (int64_t)(negative ? 0 - q : q);
}

int32_t WeekdayOf(int64_t dayNumber) {
  if (dayNumber == 0) return 0;
  return (int32_t)(dayNumber + 2 - FloorDiv(dayNumber + 2, 7) * 7) + 1;
}

// --- number words ----------------------------------------------------------

const char* const kSmallWords[20] = {"Zero",    "One",     "Two",       "Three",    "Four",
                                     "Five",    "Six",     "Seven",     "Eight",    "Nine",
                                     "Ten",     "Eleven",  "Twelve",    "Thirteen", "Fourteen",
                                     "Fifteen", "Sixteen", "Seventeen", "Eighteen", "Nineteen"};
const char* const kTensWords[10] = {"", "", "Twenty", "Thirty", "Forty", "Fifty", "Sixty", "Seventy", "Eighty", "Ninety"};

// Below a billion: 32-bit arithmetic throughout.
void AppendSmallCardinal(String& out, uint32_t n) {
  static const struct {
    uint32_t size;
    const char* name;
  } kScales[] = {{1000000u, " Million"}, {1000u, " Thousand"}, {100u, " Hundred"}};
  for (const auto& scale : kScales) {
    if (n < scale.size) continue;
    AppendSmallCardinal(out, n / scale.size);
    out.Append(scale.name);
    n %= scale.size;
    if (n == 0) return;
    out.AppendChar(' ');
  }
  if (n < 20) {
    out.Append(kSmallWords[n]);
    return;
  }
  out.Append(kTensWords[n / 10]);
  if (n % 10) {
    out.AppendChar('-');
    out.Append(kSmallWords[n % 10]);
  }
}

void AppendCardinal(String& out, uint64_t n) {
  constexpr uint32_t kBillion = 1000000000u;
  if (n < kBillion) return AppendSmallCardinal(out, (uint32_t)n);
  const uint64_t billions = n / kBillion;
  AppendCardinal(out, billions);
  out.Append(" Billion");
  // The rest is below a billion, so its low 32 bits are all of it (and no
  // second 64-bit division routine is needed for a remainder).
  const uint32_t rest = (uint32_t)n - (uint32_t)billions * kBillion;
  if (rest == 0) return;
  out.AppendChar(' ');
  AppendSmallCardinal(out, rest);
}

// --- formatting ------------------------------------------------------------

struct TimeParts {
  int32_t hours, minutes, seconds, utcOffsetMinutes;
};

// The numbers a pattern item prints, gathered once per pattern.
enum Field : uint8_t {
  kDay, kMonth, kYear, kYearInCentury, kWeekday, kQuarterOfYear,
  kHour12, kHour, kMinute, kSecond, kUtcOffset, kFieldCount
};

// What an item prints of its field.
enum class Print : uint8_t {
  kLetter,        // the item's letter itself
  kNumber,        // "%d"
  kTwoDigits,     // "%02d"
  kFourDigits,    // "%04d"
  kOrdinal,       // "21st"
  kOrdinalWords,  // "Twenty-First"
  kWords,         // "Two Thousand Eight"
  kCenturyWords,  // "Oh Eight": words, "Oh " before a single digit
  kShortName,     // the name's first three letters
  kFullName,
  kQuarter,       // "Q" and the quarter, if any
  kMarker,        // "a" / "p"
  kDottedMarker,  // "a.m." / "p.m."
  kZone,          // "+hhmm" from UTC
};

enum class Scope : uint8_t { kAny, kTime, kDate };  // kTime: DateTime only; kDate: Date only

// A form is one byte: what is printed (low four bits) of which field.
using Form = uint8_t;
constexpr Form MakeForm(Print print, Field field) { return (Form)((uint8_t)print | field << 4); }
Print PrintOf(Form form) { return (Print)(form & 15); }
Field FieldOf(Form form) { return (Field)(form >> 4); }

// A pattern item: its letter, printed as `single` or, when `next` follows it,
// as `paired` with both letters taken. Items outside their scope are text.
struct PatternItem {
  char letter;
  char next;  // the same letter for a doubled item; 0: the item is never paired
  Scope scope;
  Form single, paired;
};

#define TRUX_FORM(print, field) MakeForm(Print::print, field)
constexpr PatternItem kPatternItems[] = {
    {'d', 'd', Scope::kAny, TRUX_FORM(kNumber, kDay), TRUX_FORM(kTwoDigits, kDay)},
    {'D', 'D', Scope::kAny, TRUX_FORM(kOrdinal, kDay), TRUX_FORM(kOrdinalWords, kDay)},
    {'m', 'm', Scope::kAny, TRUX_FORM(kNumber, kMonth), TRUX_FORM(kTwoDigits, kMonth)},
    {'M', 'M', Scope::kAny, TRUX_FORM(kShortName, kMonth), TRUX_FORM(kFullName, kMonth)},
    {'y', 'y', Scope::kAny, TRUX_FORM(kTwoDigits, kYearInCentury), TRUX_FORM(kFourDigits, kYear)},
    {'Y', 'Y', Scope::kAny, TRUX_FORM(kCenturyWords, kYearInCentury), TRUX_FORM(kWords, kYear)},
    {'w', 'w', Scope::kAny, TRUX_FORM(kNumber, kWeekday), TRUX_FORM(kTwoDigits, kWeekday)},
    {'W', 'W', Scope::kAny, TRUX_FORM(kShortName, kWeekday), TRUX_FORM(kFullName, kWeekday)},
    {'Q', 0, Scope::kDate, TRUX_FORM(kQuarter, kQuarterOfYear), 0},
    {'h', 'h', Scope::kTime, TRUX_FORM(kNumber, kHour12), TRUX_FORM(kTwoDigits, kHour12)},
    {'H', 'H', Scope::kTime, TRUX_FORM(kNumber, kHour), TRUX_FORM(kTwoDigits, kHour)},
    {'i', 'i', Scope::kTime, TRUX_FORM(kNumber, kMinute), TRUX_FORM(kTwoDigits, kMinute)},
    {'s', 's', Scope::kTime, TRUX_FORM(kNumber, kSecond), TRUX_FORM(kTwoDigits, kSecond)},
    {'a', 'p', Scope::kTime, TRUX_FORM(kLetter, kHour), TRUX_FORM(kMarker, kHour)},
    {'A', 'P', Scope::kTime, TRUX_FORM(kLetter, kHour), TRUX_FORM(kDottedMarker, kHour)},
    {'b', 0, Scope::kTime, TRUX_FORM(kZone, kUtcOffset), 0},
};
#undef TRUX_FORM

int32_t LastTwoDigits(int32_t year) { return (int32_t)((year % 100 + 100) % 100); }

const PatternItem* FindItem(char c, Scope excluded) {
  for (const PatternItem& item : kPatternItems)
    if (item.letter == c) return item.scope == excluded ? nullptr : &item;
  return nullptr;
}

void AppendForm(String& out, Form form, char letter, const int32_t* fields) {
  const Print print = PrintOf(form);
  const int32_t value = fields[FieldOf(form)];
  String words;
  switch (print) {
    case Print::kLetter: out.AppendChar(letter); return;
    case Print::kNumber:
    case Print::kTwoDigits:
    case Print::kFourDigits:
      // At least 1, 2 or 4 digits ("%01d" prints as "%d").
      AppendFormat(out, "%0*d", 1 << ((int)print - (int)Print::kNumber), (int)value);
      return;
    case Print::kOrdinal: Ordinal(words, value); break;
    case Print::kOrdinalWords: OrdinalWords(words, value); break;
    case Print::kCenturyWords:
      if (value < 10) out.Append("Oh ");
      [[fallthrough]];
    case Print::kWords: NumberWords(words, value); break;
    case Print::kShortName:
    case Print::kFullName: {
      const bool month = FieldOf(form) == kMonth;
      if (value < 1 || value > (month ? 12 : 7)) return;
      out.Append((month ? kMonthNames : kWeekdayNames)[value], print == Print::kFullName ? kWholeText : 3);
      return;
    }
    case Print::kQuarter:
      out.AppendChar('Q');
      if (value != kNoQuarter) AppendFormat(out, "%d", (int)value);
      return;
    case Print::kMarker:
    case Print::kDottedMarker:
      out.AppendChar(value < 12 ? 'a' : 'p');
      if (print == Print::kDottedMarker) out.Append(".m.");
      return;
    case Print::kZone: {
      const int32_t magnitude = value < 0 ? -value : value;
      AppendFormat(out, "%c%02d%02d", value < 0 ? '-' : '+', (int)(magnitude / 60), (int)(magnitude % 60));
      return;
    }
  }
  out.Append(words);
}

// One pattern walk for both types: without time parts the time letters are
// copied and Q is an item.
void FormatPattern(String& out, const Date& date, const TimeParts* time, const char* pattern) {
  out.Clear();
  int32_t fields[kFieldCount] = {date.day,     date.month,   date.year, LastTwoDigits(date.year),
                                 date.weekday, date.Quarter()};
  if (time) {
    fields[kHour12] = time->hours == 0 ? 12 : (time->hours > 12 ? time->hours - 12 : time->hours);
    fields[kHour] = time->hours;
    fields[kMinute] = time->minutes;
    fields[kSecond] = time->seconds;
    fields[kUtcOffset] = time->utcOffsetMinutes;
  }
  const Scope excluded = time ? Scope::kDate : Scope::kTime;
  for (const char* p = pattern; *p; ++p) {
    const PatternItem* item = FindItem(*p, excluded);
    if (!item) {
      out.AppendChar(*p);
      continue;
    }
    const bool paired = item->next && p[1] == item->next;
    AppendForm(out, paired ? item->paired : item->single, *p, fields);
    if (paired) ++p;
  }
}

// --- parsing ---------------------------------------------------------------

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSeparator(char c) { return c == '/' || c == '.' || c == '-'; }
char Fold(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c + 32) : c; }

const char* SkipSpace(const char* p) {
  while (IsSpace(*p)) ++p;
  return p;
}

// Length of the match of name's first n letters at p, ignoring case; 0 when
// they differ (the text's NUL differs from every letter).
int32_t PrefixMatch(const char* p, const char* name, int32_t n) {
  for (int32_t i = 0; i < n; ++i)
    if (!name[i] || Fold(p[i]) != Fold(name[i])) return 0;
  return n;
}

// Tries names[1..count] in order, the full name and then its first three
// letters; returns the length matched and sets index, or 0.
int32_t MatchName(const char* p, const char* const* names, int32_t count, int32_t& index) {
  for (int32_t i = 1; i <= count; ++i) {
    int32_t full = 0;
    while (names[i][full]) ++full;
    int32_t n = PrefixMatch(p, names[i], full);
    if (!n) n = PrefixMatch(p, names[i], 3);
    if (n) {
      index = i;
      return n;
    }
  }
  return 0;
}

// Reads the decimal digits at p into value (0 when there are none; the
// value saturates at kMaxParsedNumber). Returns the position after them, or
// null when there are none.
const char* ReadNumber(const char* p, int32_t& value) {
  const char* const start = p;
  int64_t v = 0;
  for (; IsDigit(*p); ++p) {
    v = v * 10 + (*p - '0');
    if (v > kMaxParsedNumber) v = kMaxParsedNumber;
  }
  value = (int32_t)v;
  return p > start ? p : nullptr;
}

// Which of a numeric date's numbers (0 to 2; 3 stands for 1) are its month,
// day and year, for each way of writing it.
enum NumericOrder : uint8_t { kMonthDayYear, kDayMonthYear, kYearMonthDay, kMonthYear };
constexpr uint8_t kNumberRoles[4][3] = {{0, 1, 2}, {1, 0, 2}, {1, 2, 0}, {0, 3, 1}};

const char* SkipOrdinalSuffix(const char* p) {
  static const char* const kSuffixes[] = {"st", "nd", "rd", "th"};
  for (const char* suffix : kSuffixes)
    if (PrefixMatch(p, suffix, 2)) return p + 2;
  return p;
}

}  // namespace

// --- calendar ----------------------------------------------------------------

bool IsLeapYear(int32_t year) {
  if (year >= 1582) return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return year % 4 == 0;
}

int32_t DaysInMonth(int32_t month, int32_t year) {
  if (month < 1 || month > 12) return 0;
  return kDaysPerMonth[month] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

int32_t WindowTwoDigitYear(int32_t year, int32_t currentYear) {
  if (year < 0 || year > 100) return year;
  const int64_t base = (int64_t)(currentYear / 100) * 100 + year;
  int64_t best = base + 100;
  int64_t bestDistance = best - currentYear;
  if (bestDistance < 0) bestDistance = -bestDistance;
  const int64_t earlier[2] = {base, base - 100};
  for (int64_t candidate : earlier) {  // a tie keeps the later year
    int64_t distance = candidate - currentYear;
    if (distance < 0) distance = -distance;
    if (distance < bestDistance) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return InInt32(best) ? (int32_t)best : year;
}

void Date::Clear() { dayNumber = month = day = year = weekday = 0; }

void Date::Set(int32_t m, int32_t d, int32_t y) {
  if (m <= 0) return;
  if (y > kMaxCalendarYear || y < -kMaxCalendarYear) return Clear();
  const int64_t bigM = m > 2 ? m : (int64_t)m + 12;
  const int64_t bigY = (int64_t)y + (y < 0 ? 1 : 0) - (m < 3 ? 1 : 0);
  const double key = ((double)bigM + 100.0 * (double)bigY) * 100.0 + d;
  const int32_t smallY = (int32_t)bigY;  // exact: the year was bounded just above
  const int64_t base = key < 15821015.0 ? 1720994 : smallY / 400 - smallY / 100 + 1720996;
  const int64_t n =
      (int64_t)(365.25 * (double)bigY) + d + base + (int64_t)(30.6001 * (double)(bigM + 1));
  if (!InInt32(n)) return Clear();
  dayNumber = (int32_t)n;
  month = m;
  day = d;
  year = y;
  weekday = WeekdayOf(n);
}

void Date::SetDayNumber(int32_t n) {
  if (n == 0) return Clear();
  int64_t b = (int64_t)n + 1;
  if (n >= kGregorianStart) {
    const int64_t c = (int64_t)(((double)b - 1867216.25) * 0.000027379070069885075);
    b += c - c / 4 + 1;
  }
  b += b > 1721423 ? 1524 : 1158;
  const int64_t bigC = (int64_t)(((double)b - 122.1) / 365.25);
  const int64_t bigD = (int64_t)(365.25 * (double)bigC);
  const int64_t bigE = (int64_t)((double)(b - bigD) / 30.6001);
  dayNumber = n;
  day = (int32_t)(b - bigD - (int64_t)(30.6001 * (double)bigE));
  month = (int32_t)(bigE < 14 ? bigE - 1 : bigE - 13);
  year = (int32_t)(month > 2 ? bigC - 4716 : bigC - 4715);
  weekday = WeekdayOf(n);
}

void Date::AddDays(int32_t n) {
  if (dayNumber == 0) return;
  const int64_t target = (int64_t)dayNumber + n;
  if (!InInt32(target)) return Clear();
  SetDayNumber((int32_t)target);
}

bool Date::IsValid() const {
  return month >= 1 && month <= 12 && weekday >= 1 && weekday <= 7 && day >= 1 && day <= DaysInMonth(month, year) &&
         year != kUnusableYear;
}

int Date::Compare(const Date& other) const {
  const bool valid = IsValid();
  const bool otherValid = other.IsValid();
  if (!valid || !otherValid) return (int)valid - (int)otherValid;
  return dayNumber < other.dayNumber ? -1 : (dayNumber > other.dayNumber ? 1 : 0);
}

int32_t Date::Quarter() const { return IsValid() ? (month - 1) / 3 + 1 : kNoQuarter; }

void Date::Format(String& out, const char* pattern) const {
  FormatPattern(out, *this, nullptr, (pattern && *pattern) ? pattern : kDefaultDatePattern);
}

const char* Date::Parse(const char* text, bool dayFirst, int32_t currentYear) {
  Clear();
  if (!text) return nullptr;
  const char* p = SkipSpace(text);
  if (!*p) return nullptr;
  int32_t m = 0, d = 0, y = 0, index = 0;
  if (IsLetter(*p)) {
    if (int32_t n = MatchName(p, kWeekdayNames, 7, index)) {
      p += n;
      if (*p == ',') ++p;
      p = SkipSpace(p);
    }
  }
  if (IsLetter(*p)) {
    // Month name, day, year; or month name and year only.
    const int32_t n = MatchName(p, kMonthNames, 12, m);
    if (!n) return nullptr;
    p = ReadNumber(SkipSpace(p + n), d);
    if (!p || d == 0) return nullptr;
    p = SkipOrdinalSuffix(p);
    if (*p == ',') ++p;
    p = SkipSpace(p);
    const char* const end = ReadNumber(p, y);
    if (end && y > 0 && *end != ':') {
      p = end;
    } else {
      y = d;  // the number read as the day was the year; what follows is left
      d = 1;
    }
  } else {
    int32_t numbers[4] = {0, 0, 0, 1};
    p = ReadNumber(p, numbers[0]);
    if (!p || numbers[0] == 0) return nullptr;
    p = SkipSpace(p);
    const bool separated = IsSeparator(*p);
    const char* next = SkipSpace(separated ? p + 1 : p);
    int32_t n = IsLetter(*next) ? MatchName(next, kMonthNames, 12, m) : 0;
    if (n) {
      // Day, month name, year.
      d = numbers[0];
      p = next + n;
      if (IsSeparator(*p)) ++p;
      p = ReadNumber(SkipSpace(p), y);
      if (!p) return nullptr;
    } else if (separated) {
      p = ReadNumber(next, numbers[1]);
      if (!p || numbers[1] == 0) return nullptr;
      const char* q = SkipSpace(p);
      q = IsSeparator(*q) ? ReadNumber(SkipSpace(q + 1), numbers[2]) : nullptr;
      NumericOrder order = kMonthYear;  // month and year only
      if (q) {
        p = q;
        order = numbers[0] > 1000 && numbers[2] < 32 ? kYearMonthDay : dayFirst ? kDayMonthYear : kMonthDayYear;
      }
      m = numbers[kNumberRoles[order][0]];
      d = numbers[kNumberRoles[order][1]];
      y = numbers[kNumberRoles[order][2]];
    } else {
      return nullptr;
    }
  }
  Set(m, d, WindowTwoDigitYear(y, currentYear));
  if (!IsValid()) {
    Clear();
    return nullptr;
  }
  return p;
}

const char* Date::Parse(const char* text, bool dayFirst) { return Parse(text, dayFirst, ReadLocalClock().year); }

// --- DateTime ------------------------------------------------------------------

namespace {

void MoveByMinutes(DateTime& t, int64_t n) {
  if (!t.IsTimeValid()) return;
  const int64_t total = (int64_t)t.hours * 60 + t.minutes + n;
  const int64_t days = FloorDiv(total, 1440);
  const int32_t rest = (int32_t)(total - days * 1440);  // 0 to 1439
  t.hours = rest / 60;
  t.minutes = rest % 60;
  if (days == 0 || t.dayNumber == 0) return;
  if (!InInt32(days)) return t.Date::Clear();
  t.AddDays((int32_t)days);
}

}  // namespace

void DateTime::Clear() {
  Date::Clear();
  ClearTime();
}

void DateTime::ClearTime() { hours = minutes = seconds = -1; }

void DateTime::SetTime(int32_t h, int32_t m, int32_t s) {
  hours = h;
  minutes = m;
  seconds = s;
}

bool DateTime::IsTimeValid() const {
  return hours >= 0 && hours <= 23 && minutes >= 0 && minutes <= 59 && seconds >= 0 && seconds <= 59;
}

void DateTime::AddMinutes(int32_t n) { MoveByMinutes(*this, n); }

void DateTime::AddHours(int32_t n) { MoveByMinutes(*this, (int64_t)n * 60); }

int DateTime::Compare(const DateTime& other) const {
  const int byDate = Date::Compare(other);
  if (byDate) return byDate;
  const bool valid = IsTimeValid();
  const bool otherValid = other.IsTimeValid();
  if (!valid || !otherValid) return (int)valid - (int)otherValid;
  const int32_t a = (hours * 60 + minutes) * 60 + seconds;
  const int32_t b = (other.hours * 60 + other.minutes) * 60 + other.seconds;
  return a < b ? -1 : (a > b ? 1 : 0);
}

void DateTime::Format(String& out, const char* pattern, int32_t utcOffsetMinutes) const {
  const TimeParts time = {hours, minutes, seconds, utcOffsetMinutes};
  FormatPattern(out, *this, &time, (pattern && *pattern) ? pattern : kDefaultDateTimePattern);
}

void DateTime::Format(String& out, const char* pattern) const {
  const char* used = (pattern && *pattern) ? pattern : kDefaultDateTimePattern;
  bool needsOffset = false;
  for (const char* p = used; *p; ++p) needsOffset |= *p == 'b';
  Format(out, used, needsOffset ? LocalUtcOffsetMinutes() : 0);
}

bool DateTime::Parse(const char* text, bool dayFirst, const LocalClock& clock) {
  ClearTime();
  const char* p = Date::Parse(text, dayFirst, clock.year);
  if (p) {
    if (*p == ',') ++p;
  } else {
    p = text ? text : "";
  }
  int32_t h = 0, m = 0, s = 0;
  p = ReadNumber(SkipSpace(p), h);
  if (!p || *p != ':') return false;
  p = ReadNumber(p + 1, m);
  if (!p) return false;
  p = SkipSpace(p);
  if (*p == ':') {
    p = ReadNumber(p + 1, s);
    if (!p) return false;
    p = SkipSpace(p);
  }
  // 'a' or 'p', optionally written a.m. / p.m. Midnight's hour is written 12
  // with 'a' (this library's own "h...ap" output does so), so 12 a is hour 0.
  const char marker = Fold(*p);
  if (marker == 'a' || marker == 'p') {
    ++p;
    if (*p == '.') ++p;
    if (Fold(*p) == 'm') {
      ++p;
      if (*p == '.') ++p;
    }
    if (marker == 'p' && h < 12) h += 12;
    if (marker == 'a' && h == 12) h = 0;
  }
  if (h > 23 || m > 59 || s > 59) return false;
  SetTime(h, m, s);
  p = SkipSpace(p);
  if (*p != '+' && *p != '-') return true;
  // "+hhmm": the digits' worth in minutes.
  static const int16_t kZoneDigitMinutes[4] = {600, 60, 10, 1};
  int32_t zone = 0;
  for (int i = 0; i < 4; ++i) {
    if (!IsDigit(p[i + 1])) return true;
    zone += (p[i + 1] - '0') * kZoneDigitMinutes[i];
  }
  MoveByMinutes(*this, (int64_t)clock.utcOffsetMinutes - (*p == '-' ? -zone : zone));
  return true;
}

bool DateTime::Parse(const char* text, bool dayFirst) { return Parse(text, dayFirst, ReadLocalClock()); }

bool DateTime::ToSystemTime(SystemTimeRecord& record) const {
  record = SystemTimeRecord{};
  if (!IsValid() || !IsTimeValid() || year < 1 || year > 30827) return false;
  record.year = (uint16_t)year;
  record.month = (uint16_t)month;
  record.day = (uint16_t)day;
  record.hour = (uint16_t)hours;
  record.minute = (uint16_t)minutes;
  record.second = (uint16_t)seconds;
  return true;
}

bool DateTime::FromSystemTime(const SystemTimeRecord& record) {
  Clear();
  Set(record.month, record.day, record.year);
  SetTime(record.hour, record.minute, record.second);
  if (IsValid() && IsTimeValid()) return true;
  Clear();
  return false;
}

void NumberWords(String& out, int64_t n) {
  out.Clear();
  if (n < 0) out.Append("Minus ");
  AppendCardinal(out, n < 0 ? 0 - (uint64_t)n : (uint64_t)n);
}

void OrdinalWords(String& out, int64_t n) {
  NumberWords(out, n);
  int32_t start = out.Length();
  while (start > 0 && out.CharAt(start - 1) != ' ' && out.CharAt(start - 1) != '-') --start;
  static const struct {
    const char* cardinal;
    const char* ordinal;
  } kIrregular[] = {{"One", "First"},   {"Two", "Second"},  {"Three", "Third"},
                    {"Five", "Fifth"},  {"Eight", "Eighth"}, {"Nine", "Ninth"}, {"Twelve", "Twelfth"}};
  for (const auto& word : kIrregular) {
    if (String(out.CStr() + start).Compare(word.cardinal) == 0) {
      out.Truncate(start);
      out.Append(word.ordinal);
      return;
    }
  }
  if (out.EndsWithChar('y')) {
    out.DeleteLast(1);
    out.Append("ieth");
  } else {
    out.Append("th");
  }
}

// --- the clock on hosts other than Windows -------------------------------------
// (datetime_win32.cpp holds the Windows versions.)
#if !defined(_WIN32)

namespace {

bool LocalNow(struct tm& local) {
  const time_t now = time(nullptr);
  return localtime_r(&now, &local) != nullptr;
}

// Day number of 1 January 1601, the start of file time.
constexpr int64_t kFileTimeEpochDay = 2305813;
constexpr int64_t kTicksPerSecond = 10000000;

}  // namespace

int32_t LocalUtcOffsetMinutes() {
  struct tm local;
  return LocalNow(local) ? (int32_t)(local.tm_gmtoff / 60) : 0;
}

LocalClock ReadLocalClock() {
  struct tm local;
  if (!LocalNow(local)) return LocalClock{2000, 0};
  return LocalClock{local.tm_year + 1900, (int32_t)(local.tm_gmtoff / 60)};
}

Date Date::Today() { return DateTime::Now(); }

DateTime DateTime::Now() {
  DateTime now;
  struct tm local;
  if (!LocalNow(local)) return now;
  now.Set(local.tm_mon + 1, local.tm_mday, local.tm_year + 1900);
  now.SetTime(local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec);
  return now;
}

bool DateTime::ToFileTime(uint64_t& fileTime) const {
  fileTime = 0;
  SystemTimeRecord record;
  if (!ToSystemTime(record) || year < 1601) return false;
  const int64_t seconds = (dayNumber - kFileTimeEpochDay) * 86400 + hours * 3600 + minutes * 60 + this->seconds -
                          (int64_t)LocalUtcOffsetMinutes() * 60;
  if (seconds < 0) return false;
  fileTime = (uint64_t)seconds * kTicksPerSecond;
  return true;
}

bool DateTime::FromFileTime(uint64_t fileTime) {
  Clear();
  const int64_t seconds = (int64_t)(fileTime / kTicksPerSecond) + (int64_t)LocalUtcOffsetMinutes() * 60;
  const int64_t days = FloorDiv(seconds, 86400);
  const int32_t rest = (int32_t)(seconds - days * 86400);  // 0 to 86399
  if (!InInt32(kFileTimeEpochDay + days)) return false;
  SetDayNumber((int32_t)(kFileTimeEpochDay + days));
  SetTime(rest / 3600, rest / 60 % 60, rest % 60);
  return IsValid();
}

#endif
