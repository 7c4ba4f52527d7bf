// Conversions between String and numbers, and printf-style formatting into a
// String.
//
// Guarantees:
//  - Formatting never writes past a buffer. Output longer than
//    kFormatWorkSize - 1 (65,535) characters is cut there: the text is kept up
//    to that length and the rest is dropped. Arguments may point into the
//    output string itself (the text is built apart and then stored).
//  - On Windows the C library is msvcrt's: use %I64d rather than %lld.
//  - The parsers never read past the end of their input: String forms stop at
//    Length(), C-string forms at the NUL; a null C string counts as "".
#pragma once
#include <stdarg.h>
#include <stdint.h>

#include "core/string.h"

constexpr int32_t kFormatWorkSize = 65536;
// ParseInt's result for a position outside the text or a value out of range.
constexpr int32_t kParseIntFailed = (int32_t)0x80000000;
constexpr int64_t kParseInt64Failed = (int64_t)0x8000000000000000ull;

#if defined(__GNUC__)
#define VK_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define VK_PRINTF_FORMAT(f, a)
#endif

// out = the formatted text.
void Format(String& out, const char* format, ...) VK_PRINTF_FORMAT(2, 3);
// out += the formatted text.
void AppendFormat(String& out, const char* format, ...) VK_PRINTF_FORMAT(2, 3);
void AppendFormatV(String& out, const char* format, va_list args);
// A new string holding the formatted text.
String Formatted(const char* format, ...) VK_PRINTF_FORMAT(1, 2);

// precision >= 0: "%.*f"; negative: "%.6f" without trailing zeros and then
// without a trailing '.' (2.5 gives "2.5", 3.0 gives "3").
void FromDouble(String& out, int32_t precision, double x);
void FromInt(String& out, int32_t n);
void FromInt64(String& out, int64_t n);
// n followed by "st", "nd", "rd" or "th" (11th, 12th, 13th, 111th, 21st).
void Ordinal(String& out, int32_t n);
// "%d bytes" below 1024 (and for negative sizes), then KB, MB, GB, TB with
// two decimals.
void FormatByteSize(String& out, int64_t size);

// Trimmed text: false when empty, "0", or (ignoring case) "n", "no", "f",
// "false"; true otherwise.
bool ParseBool(const char* text);
bool ParseBool(const String& text);

// Reads an optional sign and decimal digits from text at pos and advances pos
// past them. No digits: 0 and pos unchanged. pos outside the text, or a value
// beyond 32 bits: kParseIntFailed (pos still moves past the digits when they
// were read).
int32_t ParseInt(const String& text, int32_t& pos);
// Leading white space, optional sign, digits. Beyond 64 bits:
// kParseInt64Failed. end (optional) receives the position after the digits.
int64_t ParseInt64(const char* text, const char** end = nullptr);
// Leading white space, optional sign, digits, optional '.' and fraction (no
// exponent). No number: 0.
double ParseDouble(const char* text, const char** end = nullptr);
// The number starting at the first digit, '+', '-' or '.' of text; 0 when
// there is none.
double ParseNumberAnywhere(const char* text);
double ParseNumberAnywhere(const String& text);
