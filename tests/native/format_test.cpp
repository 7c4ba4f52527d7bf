#include "core/format.h"

#include <gtest/gtest.h>

#include <string.h>

#include "core/memory.h"

namespace {

TEST(Format, AssignAppendConstruct) {
  String s("old");
  Format(s, "%s-%d", "x", 42);
  EXPECT_STREQ(s.CStr(), "x-42");
  AppendFormat(s, " %05.1f|%c", 2.5, 'z');
  EXPECT_STREQ(s.CStr(), "x-42 002.5|z");
  EXPECT_STREQ(Formatted("%d%%", 7).CStr(), "7%");
  Format(s, "%s", "");
  EXPECT_TRUE(s.IsEmpty());
}

TEST(Format, ArgumentsMayPointIntoTheOutput) {
  String s("abc");
  Format(s, "[%s]", s.CStr());
  EXPECT_STREQ(s.CStr(), "[abc]");
  AppendFormat(s, "%s%s", s.CStr(), s.CStr());
  EXPECT_STREQ(s.CStr(), "[abc][abc][abc]");
  String big;
  big.SetLength(1000);
  memset(big.Buffer(), 'q', 1000);
  Format(big, "<%s>", big.CStr());  // beyond the short stack buffer
  EXPECT_EQ(big.Length(), 1002);
  EXPECT_EQ(big.CharAt(1001), '>');
}

TEST(Format, LongOutputIsCutAtTheWorkBuffer) {
  char* text = static_cast<char*>(MemAlloc(100001));
  memset(text, 'a', 100000);
  text[100000] = '\0';
  String s;
  Format(s, "%s", text);
  EXPECT_EQ(s.Length(), kFormatWorkSize - 1);
  EXPECT_EQ(s.CharAt(kFormatWorkSize - 2), 'a');
  AppendFormat(s, "%.70000d", 5);  // the padded number alone passes the buffer
  EXPECT_EQ(s.Length(), 2 * (kFormatWorkSize - 1));
  Format(s, "%s!", text + 100000 - (kFormatWorkSize - 2));  // exactly fits
  EXPECT_EQ(s.Length(), kFormatWorkSize - 1);
  EXPECT_EQ(s.CharAt(kFormatWorkSize - 2), '!');
  MemFree(text);
}

TEST(FromDouble, PrecisionAndTrimming) {
  struct Case {
    int32_t precision;
    double x;
    const char* text;
  } const cases[] = {
      {-1, 2.5, "2.5"},  {-1, 3.0, "3"},      {-1, 0.0, "0"},     {-1, -0.125, "-0.125"}, {-1, 100.0, "100"},
      {-3, 1.0000004, "1"}, {-1, 1234567.5, "1234567.5"}, {2, 2.5, "2.50"}, {0, 2.4, "2"}, {3, -1.0, "-1.000"},
  };
  String out;
  for (const Case& c : cases) {
    FromDouble(out, c.precision, c.x);
    EXPECT_STREQ(out.CStr(), c.text) << c.precision << " " << c.x;
  }
}

TEST(FromInt, Extremes) {
  String out;
  FromInt(out, 0);
  EXPECT_STREQ(out.CStr(), "0");
  FromInt(out, -2147483647 - 1);
  EXPECT_STREQ(out.CStr(), "-2147483648");
  FromInt64(out, (int64_t)0x8000000000000000ull);
  EXPECT_STREQ(out.CStr(), "-9223372036854775808");
  FromInt64(out, 0x7FFFFFFFFFFFFFFFll);
  EXPECT_STREQ(out.CStr(), "9223372036854775807");
  FromInt64(out, -45);
  EXPECT_STREQ(out.CStr(), "-45");
}

TEST(Ordinal, Suffixes) {
  struct Case {
    int32_t n;
    const char* text;
  } const cases[] = {
      {1, "1st"},   {2, "2nd"},   {3, "3rd"},   {4, "4th"},     {11, "11th"},   {12, "12th"},   {13, "13th"},
      {20, "20th"}, {21, "21st"}, {22, "22nd"}, {23, "23rd"},   {31, "31st"},   {101, "101st"}, {111, "111th"},
      {112, "112th"}, {0, "0th"}, {1002, "1002nd"}, {-1, "-1th"},
  };
  String out;
  for (const Case& c : cases) {
    Ordinal(out, c.n);
    EXPECT_STREQ(out.CStr(), c.text);
  }
}

TEST(FormatByteSize, UnitBoundaries) {
  struct Case {
    int64_t size;
    const char* text;
  } const cases[] = {
      {0, "0 bytes"},
      {1023, "1023 bytes"},
      {1024, "1.00 KB"},
      {1536, "1.50 KB"},
      {1048575, "1024.00 KB"},
      {1048576, "1.00 MB"},
      {1073741823, "1024.00 MB"},
      {1073741824, "1.00 GB"},
      {((int64_t)1 << 40) - 1, "1024.00 GB"},
      {(int64_t)1 << 40, "1.00 TB"},
      {(int64_t)5 << 50, "5120.00 TB"},
      {-1, "-1 bytes"},
      {-5000000000ll, "-705032704 bytes"},  // the low 32 bits, signed
  };
  String out;
  for (const Case& c : cases) {
    FormatByteSize(out, c.size);
    EXPECT_STREQ(out.CStr(), c.text) << c.size;
  }
}

TEST(ParseBool, Words) {
  struct Case {
    const char* text;
    bool value;
  } const cases[] = {
      {"No", false},  {"", false},     {nullptr, false}, {"  \t", false}, {"0", false},   {" n ", false},
      {"F", false},   {"FALSE", false}, {"yes", true},    {"2", true},     {"00", true},   {"nope", true},
      {"true", true}, {"-", true},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseBool(c.text), c.value) << (c.text ? c.text : "(null)");
  EXPECT_FALSE(ParseBool(String(" false\r\n")));
}

TEST(ParseInt, SignsDigitsAndPositions) {
  struct Case {
    const char* text;
    int32_t pos;
    int32_t value;
    int32_t posAfter;
  } const cases[] = {
      {"123abc", 0, 123, 3},  {"x-42,", 1, -42, 4},       {"+7", 0, 7, 2},         {"abc", 0, 0, 0},
      {"-", 0, 0, 0},         {"12", 2, kParseIntFailed, 2}, {"12", -1, kParseIntFailed, -1},
      {"", 0, kParseIntFailed, 0}, {"2147483647", 0, 2147483647, 10}, {"-2147483648", 0, -2147483647 - 1, 11},
      {"2147483648", 0, kParseIntFailed, 10}, {"99999999999999999999x", 0, kParseIntFailed, 20},
  };
  for (const Case& c : cases) {
    String text(c.text);
    int32_t pos = c.pos;
    EXPECT_EQ(ParseInt(text, pos), c.value) << c.text;
    EXPECT_EQ(pos, c.posAfter) << c.text;
  }
}

TEST(ParseInt64, AndParseDouble) {
  const char* end = nullptr;
  EXPECT_EQ(ParseInt64("  -9223372036854775808z", &end), (int64_t)0x8000000000000000ull);
  EXPECT_EQ(*end, 'z');
  EXPECT_EQ(ParseInt64("9223372036854775807"), 0x7FFFFFFFFFFFFFFFll);
  EXPECT_EQ(ParseInt64("9223372036854775808"), kParseInt64Failed);
  EXPECT_EQ(ParseInt64("+12 "), 12);
  EXPECT_EQ(ParseInt64("x1", &end), 0);
  EXPECT_STREQ(end, "x1");
  EXPECT_EQ(ParseInt64(nullptr), 0);

  struct Case {
    const char* text;
    double value;
    int32_t consumed;
  } const cases[] = {
      {"2.5", 2.5, 3},     {" -0.125x", -0.125, 7}, {"3.", 3.0, 2},    {".5", 0.5, 2},  {".", 0.0, 0},
      {"1e5", 1.0, 1},     {"+", 0.0, 0},           {"007", 7.0, 3},   {"", 0.0, 0},    {"12345678901234567890123", 12345678901234567890123.0, 23},
      {"0.000000000000000000001", 1e-21, 23},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(ParseDouble(c.text, &end), c.value) << c.text;
    EXPECT_EQ(end - c.text, c.consumed) << c.text;
  }
}

TEST(ParseNumberAnywhere, FirstNumberInText) {
  EXPECT_DOUBLE_EQ(ParseNumberAnywhere("Version 4.25 beta"), 4.25);
  EXPECT_DOUBLE_EQ(ParseNumberAnywhere(String("size: -12 KB")), -12.0);
  EXPECT_DOUBLE_EQ(ParseNumberAnywhere("no digits"), 0.0);
  EXPECT_DOUBLE_EQ(ParseNumberAnywhere(nullptr), 0.0);
}

}  // namespace
