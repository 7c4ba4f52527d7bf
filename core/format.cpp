#include "core/format.h"

#include <string.h>

#include "core/cformat.h"
#include "core/memory.h"

namespace {

// Most formatted texts are short: they are built on the stack, and only a
// longer one takes the full work buffer from the heap.
constexpr int32_t kShortFormatSize = 512;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Formats into out (assigning or appending). The text is complete in a
// separate buffer before out changes, so arguments may point into out.
void FormatInto(String& out, bool append, const char* format, va_list args) {
  if (!format) format = "";
  char small[kShortFormatSize];
  va_list again;
  va_copy(again, args);
  int n = BoundedFormatV(small, sizeof small, format, args);
  if (n >= 0) {
    append ? out.Append(small, n) : out.Assign(small, n);
  } else {
    char* work = static_cast<char*>(MemAlloc(kFormatWorkSize));
    n = BoundedFormatV(work, kFormatWorkSize, format, again);
    if (n < 0) n = (int)strlen(work);  // cut at kFormatWorkSize - 1
    append ? out.Append(work, n) : out.Assign(work, n);
    MemFree(work);
  }
  va_end(again);
}

// Decimal digits of n, written backwards from end; returns the first one.
char* DecimalBackwards(char* end, uint64_t n) {
  char* p = end;
  do {
    *--p = (char)('0' + n % 10);
    n /= 10;
  } while (n);
  return p;
}

const char* SkipBlanks(const char* text) {
  while (IsBlank(*text)) ++text;
  return text;
}

}  // namespace

void AppendFormatV(String& out, const char* format, va_list args) { FormatInto(out, true, format, args); }

void Format(String& out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatInto(out, false, format, args);
  va_end(args);
}

void AppendFormat(String& out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatInto(out, true, format, args);
  va_end(args);
}

String Formatted(const char* format, ...) {
  String out;
  va_list args;
  va_start(args, format);
  FormatInto(out, false, format, args);
  va_end(args);
  return out;
}

void FromDouble(String& out, int32_t precision, double x) {
  if (precision >= 0) {
    Format(out, "%.*f", (int)precision, x);
    return;
  }
  Format(out, "%.6f", x);
  if (out.FindChar('.') < 0) return;  // "inf" and the like keep their zeros
  out.TrimRightChar('0');
  out.StripLastChar('.');
}

void FromInt(String& out, int32_t n) { Format(out, "%d", (int)n); }

void FromInt64(String& out, int64_t n) {
  char digits[24];
  char* end = digits + sizeof digits;
  const uint64_t magnitude = n < 0 ? 0 - (uint64_t)n : (uint64_t)n;
  char* p = DecimalBackwards(end, magnitude);
  if (n < 0) *--p = '-';
  out.Assign(p, (int32_t)(end - p));
}

// The teens 11, 12 and 13 take "th" in every hundred (111th, not 111st).
void Ordinal(String& out, int32_t n) {
  const int32_t lastTwo = n % 100;
  const char* suffix = "th";
  if (!((n >= 4 && n <= 20) || (lastTwo >= 11 && lastTwo <= 13))) {
    switch (n % 10) {
      case 1: suffix = "st"; break;
      case 2: suffix = "nd"; break;
      case 3: suffix = "rd"; break;
      default: break;
    }
  }
  Format(out, "%d%s", (int)n, suffix);
}

void FormatByteSize(String& out, int64_t size) {
  if (size < 1024) {
    Format(out, "%d bytes", (int)(int32_t)(uint32_t)(uint64_t)size);
    return;
  }
  // Each unit is 1024 times the one before (dividing by a power of two is
  // exact); the last takes every larger size.
  static const char kUnits[] = "KMGT";
  int32_t unit = 0;
  double value = (double)size / 1024.0;
  while (unit < 3 && size >= ((int64_t)1 << (10 * (unit + 2)))) {
    value /= 1024.0;
    ++unit;
  }
  Format(out, "%.2f %cB", value, kUnits[unit]);
}

bool ParseBool(const char* text) {
  String trimmed(text);
  return ParseBool(trimmed);
}

bool ParseBool(const String& text) {
  String trimmed(text);
  trimmed.Trim();
  if (trimmed.IsEmpty() || trimmed.Compare("0") == 0) return false;
  static const char* const kFalseWords[] = {"n", "no", "f", "false"};
  for (const char* word : kFalseWords)
    if (trimmed.CompareNoCase(word) == 0) return false;
  return true;
}

int32_t ParseInt(const String& text, int32_t& pos) {
  const int32_t length = text.Length();
  if (pos < 0 || pos >= length) return kParseIntFailed;
  const char* s = text.Buffer();
  int32_t i = pos;
  bool negative = false;
  if (s[i] == '+' || s[i] == '-') negative = s[i++] == '-';
  if (i >= length || !IsDigit(s[i])) return 0;
  int64_t value = 0;
  bool overflow = false;
  for (; i < length && IsDigit(s[i]); ++i) {
    value = value * 10 + (s[i] - '0');
    if (value > 0x80000000ll) {
      overflow = true;
      value = 0x80000000ll;  // keeps the arithmetic small while the digits run on
    }
  }
  pos = i;
  if (negative) value = -value;
  if (overflow || value > 0x7FFFFFFF || value < -0x7FFFFFFF - 1) return kParseIntFailed;
  return (int32_t)value;
}

int64_t ParseInt64(const char* text, const char** end) {
  const char* p = SkipBlanks(text ? text : "");
  const char* start = text ? text : "";
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (!IsDigit(*p)) {
    if (end) *end = start;
    return 0;
  }
  const uint64_t limit = negative ? 0x8000000000000000ull : 0x7FFFFFFFFFFFFFFFull;
  uint64_t value = 0;
  bool overflow = false;
  for (; IsDigit(*p); ++p) {
    const unsigned digit = (unsigned)(*p - '0');
    if (value > (limit - digit) / 10) overflow = true;
    if (!overflow) value = value * 10 + digit;
  }
  if (end) *end = p;
  if (overflow) return kParseInt64Failed;
  return negative ? (int64_t)(0 - value) : (int64_t)value;
}

double ParseDouble(const char* text, const char** end) {
  const char* p = SkipBlanks(text ? text : "");
  const char* start = text ? text : "";
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  // Up to 19 significant digits are kept exactly in an integer; further
  // integer digits only scale it.
  uint64_t mantissa = 0;
  int32_t significant = 0;
  int32_t exponent = 0;
  bool anyDigit = false;
  for (; IsDigit(*p); ++p) {
    anyDigit = true;
    if (significant < 19) {
      mantissa = mantissa * 10 + (uint64_t)(*p - '0');
      if (mantissa) ++significant;
    } else {
      ++exponent;
    }
  }
  if (*p == '.') {
    const char* afterPoint = p + 1;
    if (IsDigit(*afterPoint) || anyDigit) {
      for (p = afterPoint; IsDigit(*p); ++p) {
        anyDigit = true;
        if (significant < 19) {
          mantissa = mantissa * 10 + (uint64_t)(*p - '0');
          if (mantissa) ++significant;
          --exponent;
        }
      }
    }
  }
  if (!anyDigit) {
    if (end) *end = start;
    return 0.0;
  }
  if (end) *end = p;
  double value = (double)mantissa;
  double scale = 1.0;
  for (int32_t e = exponent < 0 ? -exponent : exponent; e > 0; --e) scale *= 10.0;
  value = exponent < 0 ? value / scale : value * scale;
  return negative ? -value : value;
}

double ParseNumberAnywhere(const char* text) {
  if (!text) return 0.0;
  for (const char* p = text; *p; ++p)
    if (IsDigit(*p) || *p == '+' || *p == '-' || *p == '.') return ParseDouble(p);
  return 0.0;
}

double ParseNumberAnywhere(const String& text) { return ParseNumberAnywhere(text.CStr()); }
