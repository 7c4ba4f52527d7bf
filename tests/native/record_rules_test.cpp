// The record rules shared by the installer and truxpack: usable entry names
// and the deletion-record conditions.
#include <gtest/gtest.h>

#include "archive/record_rules.h"

namespace {

TEST(RecordRules, UsableEntryNames) {
  struct Case {
    const char* name;
    bool usable;
  } cases[] = {
      {"a.txt", true},          {"docs\\guide\\a.txt", true}, {"..a\\b..\\c...", true}, {".\\a.txt", true},
      {"", false},              {nullptr, false},             {"\\a.txt", false},       {"/a.txt", false},
      {"C:\\a.txt", false},     {"a.txt:stream", false},      {"..", false},            {"..\\a.txt", false},
      {"a\\..\\..\\b", false},  {"a/../b", false},            {"a\\..", false},         {"a/..\\b", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsUsableEntryName(c.name), c.usable) << (c.name ? c.name : "(null)");
}

DateTime At(int y, int mo, int d, int h, int mi, int s) {
  DateTime t;
  t.Set(mo, d, y);
  t.SetTime(h, mi, s);
  return t;
}

TEST(RecordRules, DeletionDates) {
  struct Case {
    const char* argument;
    bool valid;
    bool timed;
  } cases[] = {
      {"6/5/2019", true, false},  {"6/5/2019 18:30:00", true, true}, {"2019-06-05", true, false},
      {"June 5, 2019 7:00pm", true, true}, {"", false, false},          {"no date here", false, false},
      {"13/45/2019", false, false},
  };
  for (const Case& c : cases) {
    DateTime when;
    EXPECT_EQ(ParseDeletionDate(c.argument, when), c.valid) << c.argument;
    if (c.valid) {
      EXPECT_EQ(when.IsTimeValid(), c.timed) << c.argument;
    }
  }
  DateTime when;
  ASSERT_TRUE(ParseDeletionDate("6/5/2019", when));
  EXPECT_EQ(when.year * 10000 + when.month * 100 + when.day, 20190605);  // month first
}

TEST(RecordRules, DeletionConditions) {
  DateTime day, noon;
  ASSERT_TRUE(ParseDeletionDate("6/5/2019", day));
  ASSERT_TRUE(ParseDeletionDate("6/5/2019 12:00", noon));
  const DateTime morning = At(2019, 6, 5, 10, 0, 0), evening = At(2019, 6, 5, 18, 30, 0),
                 before = At(2019, 6, 4, 23, 59, 59), after = At(2019, 6, 6, 0, 0, 0),
                 noonSharp = At(2019, 6, 5, 12, 0, 0);
  struct Case {
    uint8_t condition;
    const DateTime* when;
    const DateTime* file;
    bool meets;
  } cases[] = {
      {1, &day, &morning, true},    {1, &day, &after, false},      {1, &noon, &noonSharp, true},
      {1, &noon, &morning, false},  {2, &day, &morning, true},     {2, &day, &before, false},
      {2, &noon, &morning, false},  {2, &noon, &noonSharp, true},  {2, &noon, &evening, true},
      {3, &day, &evening, true},    {3, &day, &after, false},      {3, &noon, &morning, true},
      {3, &noon, &noonSharp, true}, {3, &noon, &evening, false},   {0, &day, &after, true},
      {7, &day, &after, true},      {255, &day, &before, true},
  };
  for (const Case& c : cases) {
    const int index = (int)(&c - cases);
    EXPECT_EQ(MeetsDeletionCondition(c.condition, *c.file, 0, *c.when, 0), c.meets) << "case " << index;
  }
}

TEST(RecordRules, DeletionSizes) {
  const DateTime none;
  struct Case {
    uint8_t condition;
    const char* argument;
    uint64_t size;
    bool meets;
  } cases[] = {
      {4, "0", 0, true},           {4, "0", 1, false},          {4, "size 1000 bytes", 1000, true},
      {5, "1500", 2000, true},     {5, "1500", 1000, false},    {6, "1024", 1024, true},
      {6, "1024", 1025, false},    {6, "-5", 0, false},         {5, "-5", 0, true},
      {6, "", 0, true},            {4, "1.9", 1, true},         {5, "99999999999", 0x7FFFFFFFull, true},
      {6, "1", 0xFFFFFFFFFFFFFFFFull, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(MeetsDeletionCondition(c.condition, none, c.size, none, DeletionSizeArgument(c.argument)), c.meets)
        << (int)c.condition << " " << c.argument << " " << c.size;
}

}  // namespace
