#include "core/datetime.h"

#include <gtest/gtest.h>

namespace {

// The clock the parser sees in these tests: 2008, one hour east of UTC.
const LocalClock kClock2008 = {2008, 60};

Date MakeDate(int32_t month, int32_t day, int32_t year) {
  Date d;
  d.Set(month, day, year);
  return d;
}

DateTime MakeDateTime(int32_t month, int32_t day, int32_t year, int32_t h, int32_t m, int32_t s) {
  DateTime t;
  t.Set(month, day, year);
  t.SetTime(h, m, s);
  return t;
}

TEST(Date, DayNumbersAndWeekdays) {
  const Date y2k = MakeDate(1, 1, 2000);
  EXPECT_EQ(y2k.dayNumber, 2451544);
  EXPECT_EQ(y2k.weekday, 7);  // Saturday
  EXPECT_STREQ(kWeekdayNames[y2k.weekday], "Saturday");
  EXPECT_EQ(MakeDate(7, 2, 2008).weekday, 4);  // Wednesday
  EXPECT_EQ(MakeDate(1, 1, 1601).weekday, 2);  // Monday

  const Date lastJulian = MakeDate(10, 4, 1582);
  const Date firstGregorian = MakeDate(10, 15, 1582);
  EXPECT_EQ(firstGregorian.dayNumber, lastJulian.dayNumber + 1);
  Date next = lastJulian;
  next.AddDays(1);
  EXPECT_EQ(next.month, 10);
  EXPECT_EQ(next.day, 15);
  EXPECT_EQ(next.year, 1582);
}

TEST(Date, WeekdaysRunOnAcrossDayNumberZero) {
  // Day numbers below zero (years long before the common era) keep the
  // seven-day cycle: each day is the weekday after the one before it.
  Date previous;
  previous.SetDayNumber(-30);
  for (int32_t n = -29; n <= 30; ++n) {
    if (n == 0) continue;  // day number 0 means "no date"
    Date d;
    d.SetDayNumber(n);
    const int32_t steps = n == 1 ? 2 : 1;  // day 1 follows day -1
    EXPECT_EQ(d.weekday, (previous.weekday - 1 + steps) % 7 + 1) << n;
    previous = d;
  }
  Date far;
  far.SetDayNumber(-2000000000);
  Date weekLater;
  weekLater.SetDayNumber(-2000000000 + 7);
  EXPECT_GE(far.weekday, 1);
  EXPECT_EQ(far.weekday, weekLater.weekday);
}

TEST(Date, SetDayNumberInvertsSet) {
  // Every 3rd day from 100 AD to 4000 AD, across the calendar change.
  for (int32_t n = 1757585; n < 3182030; n += 3) {
    Date d;
    d.SetDayNumber(n);
    ASSERT_TRUE(d.IsValid()) << n;
    ASSERT_EQ(MakeDate(d.month, d.day, d.year).dayNumber, n) << d.month << "/" << d.day << "/" << d.year;
  }
  Date cleared = MakeDate(5, 5, 2005);
  cleared.SetDayNumber(0);
  EXPECT_EQ(cleared.month, 0);
  EXPECT_EQ(cleared.weekday, 0);
  EXPECT_FALSE(cleared.IsValid());
}

TEST(Date, LeapYearsAndValidity) {
  struct Case {
    int32_t year;
    bool leap;
  } const cases[] = {{2000, true}, {1900, false}, {2008, true}, {2100, false}, {1500, true}, {1581, false},
                     {1600, true}, {-4, true},    {-1, false},  {1582, false}};
  for (const Case& c : cases) EXPECT_EQ(IsLeapYear(c.year), c.leap) << c.year;
  EXPECT_EQ(DaysInMonth(2, 1900), 28);
  EXPECT_EQ(DaysInMonth(2, 1500), 29);
  EXPECT_EQ(DaysInMonth(13, 2000), 0);
  EXPECT_TRUE(MakeDate(2, 29, 2000).IsValid());
  EXPECT_FALSE(MakeDate(2, 29, 1900).IsValid());
  EXPECT_FALSE(MakeDate(13, 1, 2000).IsValid());
  EXPECT_FALSE(MakeDate(4, 31, 2000).IsValid());
  EXPECT_FALSE(MakeDate(1, 1, kUnusableYear).IsValid());  // refused, cleared
  EXPECT_EQ(MakeDate(1, 1, 2000000).dayNumber, 0);
  Date untouched = MakeDate(3, 3, 2003);
  untouched.Set(0, 5, 2005);  // a month <= 0 is ignored
  EXPECT_EQ(untouched.year, 2003);
}

TEST(Date, CompareQuarterAndAddDays) {
  const Date a = MakeDate(3, 31, 2008), b = MakeDate(4, 1, 2008), invalid;
  EXPECT_LT(a.Compare(b), 0);
  EXPECT_GT(b.Compare(a), 0);
  EXPECT_EQ(a.Compare(MakeDate(3, 31, 2008)), 0);
  EXPECT_LT(invalid.Compare(a), 0);
  EXPECT_GT(a.Compare(invalid), 0);
  EXPECT_EQ(invalid.Compare(Date()), 0);
  EXPECT_EQ(a.Quarter(), 1);
  EXPECT_EQ(b.Quarter(), 2);
  EXPECT_EQ(MakeDate(12, 31, 2008).Quarter(), 4);
  EXPECT_EQ(invalid.Quarter(), kNoQuarter);
  Date d = MakeDate(12, 31, 2008);
  d.AddDays(1);
  EXPECT_EQ(d.Compare(MakeDate(1, 1, 2009)), 0);
  d.AddDays(-366);
  EXPECT_EQ(d.Compare(MakeDate(1, 1, 2008)), 0);
  Date none;
  none.AddDays(5);
  EXPECT_EQ(none.dayNumber, 0);
}

TEST(DateTime, AddMinutesAndHoursCarryAndBorrow) {
  DateTime t = MakeDateTime(12, 31, 2008, 23, 50, 0);
  t.AddMinutes(15);
  EXPECT_EQ(t.Compare(MakeDateTime(1, 1, 2009, 0, 5, 0)), 0);
  t.AddHours(-1);
  EXPECT_EQ(t.Compare(MakeDateTime(12, 31, 2008, 23, 5, 0)), 0);
  t.AddMinutes(-3 * 1440 - 6);
  EXPECT_EQ(t.Compare(MakeDateTime(12, 28, 2008, 22, 59, 0)), 0);
  t.AddHours(2147483647);  // far future: still a sound date
  EXPECT_TRUE(t.IsValid());
  DateTime noTime = MakeDateTime(1, 1, 2000, -1, -1, -1);
  noTime.AddMinutes(30);
  EXPECT_EQ(noTime.hours, -1);
  EXPECT_EQ(noTime.day, 1);
}

TEST(DateTime, CompareTimes) {
  const DateTime a = MakeDateTime(7, 2, 2008, 15, 5, 9);
  EXPECT_LT(a.Compare(MakeDateTime(7, 2, 2008, 15, 5, 10)), 0);
  EXPECT_GT(a.Compare(MakeDateTime(7, 1, 2008, 23, 0, 0)), 0);
  EXPECT_GT(a.Compare(MakeDateTime(7, 2, 2008, -1, -1, -1)), 0);
  EXPECT_EQ(MakeDateTime(7, 2, 2008, -1, -1, -1).Compare(MakeDateTime(7, 2, 2008, 25, 0, 0)), 0);
}

TEST(DateTime, FormatPatterns) {
  const DateTime t = MakeDateTime(7, 2, 2008, 15, 5, 9);
  struct Case {
    const char* pattern;
    const char* text;
  } const cases[] = {
      {"d-M-yy h:ii:ssap", "2-Jul-2008 3:05:09p"},
      {"MM D, yy", "July 2nd, 2008"},
      {"m/d/yy HH:ii:ss", "7/2/2008 15:05:09"},
      {"m/d/y h:ii:ssap", "7/2/08 3:05:09p"},
      {nullptr, "7/2/08 3:05:09p"},
      {"", "7/2/08 3:05:09p"},
      {"dd.mm.yy", "02.07.2008"},
      {"W WW w ww", "Wed Wednesday 4 04"},
      {"DD", "Second"},
      {"Y|YY", "Oh Eight|Two Thousand Eight"},
      {"hh HH i s AP", "03 15 5 9 p.m."},
      {"a A x Q", "a A x Q"},  // alone, the letters are text; Q is a date item only
      {"ddd", "022"},
      {"b", "-0130"},
  };
  String out;
  for (const Case& c : cases) {
    t.Format(out, c.pattern, -90);
    EXPECT_STREQ(out.CStr(), c.text) << (c.pattern ? c.pattern : "(null)");
  }
  t.Format(out, "b", 0);
  EXPECT_STREQ(out.CStr(), "+0000");
  t.Format(out, "b", 330);
  EXPECT_STREQ(out.CStr(), "+0530");
}

TEST(DateTime, TwelveHourClock) {
  struct Case {
    int32_t hours;
    const char* text;
  } const cases[] = {{0, "12a 12 a.m."}, {1, "1a 01 a.m."}, {11, "11a 11 a.m."}, {12, "12p 12 p.m."}, {13, "1p 01 p.m."},
                     {23, "11p 11 p.m."}};
  String out;
  for (const Case& c : cases) {
    MakeDateTime(1, 1, 2000, c.hours, 0, 0).Format(out, "hap hh AP", 0);
    EXPECT_STREQ(out.CStr(), c.text) << c.hours;
  }
}

TEST(Date, FormatPatternsAndQuarter) {
  const Date d = MakeDate(7, 2, 2008);
  String out;
  d.Format(out, nullptr);
  EXPECT_STREQ(out.CStr(), "7/2/08");
  d.Format(out, "Q yy, h:ii ap");  // time letters are text for a Date
  EXPECT_STREQ(out.CStr(), "Q3 2008, h:ii ap");
  MakeDate(1, 31, 1999).Format(out, "DD MM Y Q");
  EXPECT_STREQ(out.CStr(), "Thirty-First January Ninety-Nine Q1");
  Date invalid;
  invalid.Format(out, "d/m/y M W Q");
  EXPECT_STREQ(out.CStr(), "0/0/00   Q");
}

TEST(NumberWords, CardinalsAndOrdinals) {
  struct Case {
    int64_t n;
    const char* cardinal;
    const char* ordinal;
  } const cases[] = {
      {0, "Zero", "Zeroth"},
      {1, "One", "First"},
      {3, "Three", "Third"},
      {12, "Twelve", "Twelfth"},
      {20, "Twenty", "Twentieth"},
      {22, "Twenty-Two", "Twenty-Second"},
      {100, "One Hundred", "One Hundredth"},
      {1999, "One Thousand Nine Hundred Ninety-Nine", "One Thousand Nine Hundred Ninety-Ninth"},
      {2008, "Two Thousand Eight", "Two Thousand Eighth"},
      {-45, "Minus Forty-Five", "Minus Forty-Fifth"},
      {3000000001ll, "Three Billion One", "Three Billion First"},
      {2000000000ll, "Two Billion", "Two Billionth"},
      {INT64_MIN,
       "Minus Nine Billion Two Hundred Twenty-Three Million Three Hundred Seventy-Two Thousand Thirty-Six Billion "
       "Eight Hundred Fifty-Four Million Seven Hundred Seventy-Five Thousand Eight Hundred Eight",
       "Minus Nine Billion Two Hundred Twenty-Three Million Three Hundred Seventy-Two Thousand Thirty-Six Billion "
       "Eight Hundred Fifty-Four Million Seven Hundred Seventy-Five Thousand Eight Hundred Eighth"},
  };
  String out;
  for (const Case& c : cases) {
    NumberWords(out, c.n);
    EXPECT_STREQ(out.CStr(), c.cardinal);
    OrdinalWords(out, c.n);
    EXPECT_STREQ(out.CStr(), c.ordinal);
  }
}

TEST(WindowTwoDigitYear, NearestCenturyLaterOnTies) {
  struct Case {
    int32_t year, current, result;
  } const cases[] = {
      {8, 2008, 2008},  {99, 2008, 1999}, {50, 2008, 2050}, {58, 2008, 2058}, {59, 2008, 1959}, {0, 2008, 2000},
      {100, 2008, 2000}, {8, 2057, 2008}, {8, 2058, 2108}, {8, 1959, 2008},  {8, 1957, 1908}, {101, 2008, 101},
      {2008, 1990, 2008},
  };
  for (const Case& c : cases)
    EXPECT_EQ(WindowTwoDigitYear(c.year, c.current), c.result) << c.year << " in " << c.current;
}

TEST(Date, ParseAcceptedForms) {
  struct Case {
    const char* text;
    bool dayFirst;
    int32_t month, day, year;
    const char* rest;
  } const cases[] = {
      {"July 2nd, 2008", false, 7, 2, 2008, ""},
      {"2 July 08", false, 7, 2, 2008, ""},
      {"2008-07-02", false, 7, 2, 2008, ""},
      {"2008-07-02", true, 7, 2, 2008, ""},
      {"02/07/2008", false, 2, 7, 2008, ""},
      {"02/07/2008", true, 7, 2, 2008, ""},
      {"July 2008", false, 7, 1, 2008, ""},
      {"  Wednesday, July 2 2008 rest", false, 7, 2, 2008, " rest"},
      {"wed jul 2 08", false, 7, 2, 2008, ""},
      {"2-Jul-2008 3:05:09p", false, 7, 2, 2008, " 3:05:09p"},
      {"7/2/08 3:05:09p", false, 7, 2, 2008, " 3:05:09p"},
      {"7.2.99", false, 7, 2, 1999, ""},
      {"7 / 2 / 50", false, 7, 2, 2050, ""},
      {"7/2008", false, 7, 1, 2008, ""},
      {"DECEMBER 25TH 1999", false, 12, 25, 1999, ""},
      {"July 2008 15:30", false, 7, 1, 2008, "15:30"},
      {"29 feb 2000", false, 2, 29, 2000, ""},
  };
  for (const Case& c : cases) {
    Date d;
    const char* rest = d.Parse(c.text, c.dayFirst, 2008);
    ASSERT_NE(rest, nullptr) << c.text;
    EXPECT_STREQ(rest, c.rest) << c.text;
    EXPECT_EQ(d.month, c.month) << c.text;
    EXPECT_EQ(d.day, c.day) << c.text;
    EXPECT_EQ(d.year, c.year) << c.text;
    EXPECT_EQ(d.dayNumber, MakeDate(c.month, c.day, c.year).dayNumber) << c.text;
    EXPECT_EQ(d.weekday, MakeDate(c.month, c.day, c.year).weekday) << c.text;
  }
}

TEST(Date, ParseRefusals) {
  const char* const texts[] = {
      "", "   ", "Sundry 5", "Jul", "July 0, 2008", "0/5/2008", "5/0/2008", "15:30", "2008", "2 Julyish",
      "13/40/2008", "2/30/2008", "99999999999999/1/1", "Monday", "2 July", nullptr,
  };
  for (const char* text : texts) {
    Date d = MakeDate(1, 1, 2001);
    EXPECT_EQ(d.Parse(text, false, 2008), nullptr) << (text ? text : "(null)");
    EXPECT_EQ(d.dayNumber, 0);
    EXPECT_EQ(d.month, 0);
    EXPECT_EQ(d.day, 0);
    EXPECT_EQ(d.year, 0);
    EXPECT_EQ(d.weekday, 0);
  }
}

TEST(DateTime, ParseTimes) {
  const int32_t july2 = MakeDate(7, 2, 2008).dayNumber;
  struct Case {
    const char* text;
    int32_t dayNumber;  // 0: no date
    int32_t hours, minutes, seconds;
  } const cases[] = {
      {"12:30 pm", 0, 12, 30, 0},
      {"1:30 pm", 0, 13, 30, 0},
      {"1:30pm", 0, 13, 30, 0},
      {"12:15:00 AM", 0, 0, 15, 0},
      {"12:15 a.m.", 0, 0, 15, 0},
      {"11:59:59 p.m.", 0, 23, 59, 59},
      {"13:00 pm", 0, 13, 0, 0},
      {"  7:05", 0, 7, 5, 0},
      {"July 2nd, 2008, 15:05:09", july2, 15, 5, 9},
      {"7/2/08 3:05:09p", july2, 15, 5, 9},
      {"2-Jul-2008 3:05:09p", july2, 15, 5, 9},
      {"7/2/2008 23:30:00 -0030", july2 + 1, 1, 0, 0},  // UTC-00:30 seen from UTC+01:00
      {"7/2/2008 00:30:00 +0200", july2 - 1, 23, 30, 0},
      {"7/2/2008 10:00 +0100", july2, 10, 0, 0},
      {"7/2/2008 10:00 +0000", july2, 11, 0, 0},
      {"7/2/2008 10:00 +01", july2, 10, 0, 0},  // not a zone: ignored
  };
  for (const Case& c : cases) {
    DateTime t;
    EXPECT_TRUE(t.Parse(c.text, false, kClock2008)) << c.text;
    EXPECT_EQ(t.dayNumber, c.dayNumber) << c.text;
    EXPECT_EQ(t.hours, c.hours) << c.text;
    EXPECT_EQ(t.minutes, c.minutes) << c.text;
    EXPECT_EQ(t.seconds, c.seconds) << c.text;
  }
}

TEST(DateTime, ParseRefusesBadTimes) {
  const char* const texts[] = {"", "7/2/2008", "7/2/2008 25:00", "10:60", "10:30:60", "10", "10:", ":30", "a:b",
                               "12:00:", nullptr};
  for (const char* text : texts) {
    DateTime t = MakeDateTime(1, 1, 2001, 1, 2, 3);
    EXPECT_FALSE(t.Parse(text, false, kClock2008)) << (text ? text : "(null)");
    EXPECT_EQ(t.hours, -1);
    EXPECT_EQ(t.minutes, -1);
    EXPECT_EQ(t.seconds, -1);
  }
  DateTime dateOnly;
  EXPECT_FALSE(dateOnly.Parse("7/2/2008", false, kClock2008));
  EXPECT_EQ(dateOnly.dayNumber, MakeDate(7, 2, 2008).dayNumber);  // the date part stands
}

TEST(DateTime, FormatThenParseRoundTrips) {
  // Every hour of a day through the installer's own patterns.
  const char* const patterns[] = {"m/d/y h:ii:ssap", "d-M-yy h:ii:ssap", "m/d/yy HH:ii:ss", "MM D, yy HH:ii:ss AP"};
  for (const char* pattern : patterns) {
    for (int32_t h = 0; h < 24; ++h) {
      const DateTime t = MakeDateTime(7, 2, 2008, h, 5, 9);
      String text;
      t.Format(text, pattern, 0);
      DateTime back;
      ASSERT_TRUE(back.Parse(text.CStr(), false, kClock2008)) << text.CStr();
      EXPECT_EQ(back.Compare(t), 0) << pattern << " -> " << text.CStr();
    }
  }
}

TEST(DateTime, SystemTimeRecords) {
  SystemTimeRecord record;
  ASSERT_TRUE(MakeDateTime(7, 2, 2008, 15, 5, 9).ToSystemTime(record));
  EXPECT_EQ(record.year, 2008);
  EXPECT_EQ(record.month, 7);
  EXPECT_EQ(record.day, 2);
  EXPECT_EQ(record.hour, 15);
  EXPECT_EQ(record.minute, 5);
  EXPECT_EQ(record.second, 9);
  EXPECT_EQ(record.dayOfWeek, 0);
  EXPECT_EQ(record.milliseconds, 0);
  DateTime back;
  EXPECT_TRUE(back.FromSystemTime(record));
  EXPECT_EQ(back.Compare(MakeDateTime(7, 2, 2008, 15, 5, 9)), 0);
  EXPECT_FALSE(MakeDateTime(7, 2, 2008, -1, -1, -1).ToSystemTime(record));
  EXPECT_EQ(record.year, 0);
  record = SystemTimeRecord{2008, 2, 0, 30, 0, 0, 0, 0};
  EXPECT_FALSE(back.FromSystemTime(record));
  EXPECT_EQ(back.dayNumber, 0);
}

TEST(DateTime, FileTimeRoundTrip) {
  const DateTime t = MakeDateTime(7, 2, 2008, 15, 5, 9);
  uint64_t fileTime = 0;
  ASSERT_TRUE(t.ToFileTime(fileTime));
  // 2 July 2008 15:05:09 local is this many seconds after 1601 in UTC.
  const int64_t localSeconds = (int64_t)(t.dayNumber - MakeDate(1, 1, 1601).dayNumber) * 86400 + 15 * 3600 + 5 * 60 + 9;
  EXPECT_EQ((int64_t)(fileTime / 10000000), localSeconds - (int64_t)LocalUtcOffsetMinutes() * 60);
  DateTime back;
  ASSERT_TRUE(back.FromFileTime(fileTime));
  EXPECT_EQ(back.Compare(t), 0);
  EXPECT_FALSE(MakeDateTime(1, 1, 1500, 0, 0, 0).ToFileTime(fileTime));
}

TEST(DateTime, NowIsAValidMoment) {
  const DateTime now = DateTime::Now();
  EXPECT_TRUE(now.IsValid());
  EXPECT_TRUE(now.IsTimeValid());
  EXPECT_GE(now.year, 2020);
  const Date today = Date::Today();
  EXPECT_LE(today.dayNumber - now.dayNumber, 1);  // midnight may pass in between
  EXPECT_EQ(ReadLocalClock().year, today.year);
}

}  // namespace
