#include "core/wildcard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Portions(const char* pattern) {
  Array<WildcardA_Portion> portions;
  SplitWildcard(pattern, kWholeText, portions);
  std::vector<std::string> texts;
  for (int32_t i = 0; i < portions.Count(); ++i) texts.emplace_back(portions[i].text.CStr());
  return texts;
}

TEST(SplitWildcard, StarsSplitAndDoubledStarsAreLiteral) {
  using V = std::vector<std::string>;
  EXPECT_EQ(Portions("abc"), V({"abc"}));
  EXPECT_EQ(Portions("a*c"), V({"a", "c"}));
  EXPECT_EQ(Portions("*a*"), V({"", "a", ""}));
  EXPECT_EQ(Portions("2**3"), V({"2*3"}));
  EXPECT_EQ(Portions("a***b"), V({"a*", "b"}));
  EXPECT_EQ(Portions(""), V({""}));
}

TEST(MatchWildcard, Table) {
  struct Case {
    const char* text;
    const char* pattern;
    uint32_t flags;
    int32_t start;
    int32_t expected;
    int32_t end;  // end of the occurrence when found
  } cases[] = {
      {"abc", "a*c", 0, 0, 0, 3},
      {"ab\r\nc", "a*c", 0, 0, -1, -1},          // a '*' never spans a line break
      {"xab\r\nabc", "a*c", 0, 0, 5, 8},         // the first 'a' fails, the second matches
      {"2*3", "2**3", 0, 0, 0, 3},               // "**" is one literal star
      {"23", "2**3", 0, 0, -1, -1},
      {"the Cat sat", "c*t", kFindIgnoreCase, 0, 4, 7},
      {"the Cat sat", "c*t", 0, 0, -1, -1},
      {"a-b a-b", "a*b", 0, 1, 4, 7},
      {"xa-b a-b", "a*b", kFindWholeWord, 0, 5, 8},  // "xa-b" is inside a word
      {"abc", "*b", 0, 0, -1, -1},               // an empty portion is never found
      {"file1.txt", "file?.*t", kFindQuestionAny, 0, 0, 7},  // the nearest "t" ends it
      {"", "a*b", 0, 0, -1, -1},
  };
  for (const Case& c : cases) {
    WildcardA_Occurrence occurrence;
    int32_t at = MatchWildcard(c.text, kWholeText, c.pattern, kWholeText, c.start, c.flags, &occurrence);
    EXPECT_EQ(at, c.expected) << c.text << " / " << c.pattern;
    if (c.expected >= 0) {
      EXPECT_EQ(occurrence.Start(), c.expected);
      EXPECT_EQ(occurrence.End(), c.end) << c.text << " / " << c.pattern;
    }
  }
}

TEST(MatchWildcard, RecordsEveryPortionPosition) {
  WildcardA_Occurrence occurrence;
  ASSERT_EQ(MatchWildcard("key = value;", kWholeText, "key*=*;", kWholeText, 0, 0, &occurrence), 0);
  ASSERT_EQ(occurrence.portions.Count(), 3);
  EXPECT_EQ(occurrence.portions[0].position, 0);
  EXPECT_EQ(occurrence.portions[1].position, 4);
  EXPECT_EQ(occurrence.portions[2].position, 11);
}

}  // namespace
