#include "core/tokenize.h"

#include <gtest/gtest.h>

namespace {

// Tokens joined as [a][b] for readable comparison.
String Bracketed(const Array<String>& list) {
  String out;
  for (const String& s : list) {
    out.AppendChar('[');
    out.Append(s);
    out.AppendChar(']');
  }
  return out;
}

struct SplitCase {
  const char* text;
  const char* delimiters;
  uint32_t flags;
  const char* tokens;
};

TEST(Split, EveryFlag) {
  const SplitCase cases[] = {
      {"a,,b", ",", 0, "[a][b]"},
      {"a,,b", ",", kSplitKeepEmpty, "[a][][b]"},
      {"a,b,", ",", 0, "[a][b]"},
      {"a,b,", ",", kSplitKeepEmpty, "[a][b][]"},
      {",a", ",", kSplitKeepEmpty, "[][a]"},
      {"a;b c", "; ", 0, "[a][b][c]"},
      {"", ",", kSplitKeepEmpty, ""},
      {"abc", nullptr, 0, "[abc]"},
      {"a\r\nb\n\rc\rd\ne", "", kSplitLineBreaks, "[a][b][c][d][e]"},
      {"a\r\n\r\nb", "", kSplitLineBreaks | kSplitKeepEmpty, "[a][][b]"},
      {"a\n\nb", "", kSplitLineBreaks | kSplitKeepEmpty, "[a][][b]"},
      {"a\r\n", "", kSplitLineBreaks | kSplitKeepEmpty, "[a][]"},
      {"a\r\nb", "", 0, "[a\r\nb]"},
      {" a , b ,c ", ",", kSplitTrim, "[a][b][c]"},
      {" , ", ",", kSplitTrim, ""},
      {" , ", ",", kSplitTrim | kSplitKeepEmpty, "[][]"},
      {"x=\"a,b\",y", ",", kSplitQuotedSections, "[x=\"a,b\"][y]"},
      {"x=\"a,b\",y", ",", 0, "[x=\"a][b\"][y]"},
      {"\"open,end", ",", kSplitQuotedSections, "[\"open,end]"},
      {"a,b;c", ",;", kSplitKeepDelimiter, "[a,][b;][c]"},
      {"a\r\nb", "", kSplitLineBreaks | kSplitKeepDelimiter, "[a\r\n][b]"},
      {"\"a b\" c", " ", kSplitQuotedSections | kSplitUnquote, "[a b][c]"},
      {"\" a \",\"\"", ",", kSplitQuotedSections | kSplitUnquote | kSplitTrim, "[a]"},
      {"\"say \"\"hi\"\"\"", ",", kSplitQuotedSections | kSplitUnquote, "[say \"\"hi\"\"]"},
      {"\"say \"\"hi\"\"\"", ",", kSplitQuotedSections | kSplitUnquote | kSplitCollapseQuotes, "[say \"hi\"]"},
      {"\"", ",", kSplitUnquote, "[\"]"},
      {"a,,b,c", ",", kSplitDoubledDelimiter, "[a,,b][c]"},
      {"a,,,b", ",", kSplitDoubledDelimiter, "[a,,][b]"},
      {"a,,", ",", kSplitDoubledDelimiter, "[a,,]"},
      {"a\\,b,c", ",", kSplitBackslashEscapes, "[a\\,b][c]"},
      {"a\\,b,c", ",", 0, "[a\\][b][c]"},
      {"\"a\\\"b,c\",d", ",", kSplitQuotedSections | kSplitBackslashEscapes, "[\"a\\\"b,c\"][d]"},
      {"end\\", ",", kSplitBackslashEscapes, "[end\\]"},
  };
  for (const SplitCase& c : cases) {
    Array<String> list;
    const int32_t n = Split(String(c.text), list, c.delimiters, c.flags);
    EXPECT_EQ(n, list.Count()) << c.text;
    EXPECT_STREQ(Bracketed(list).CStr(), c.tokens) << "text " << c.text << " flags " << c.flags;
  }
}

TEST(Split, NulCharacters) {
  const char raw[] = {'a', '\0', 'b', ',', 'c'};
  const String text(raw, 5);
  Array<String> plain;
  EXPECT_EQ(Split(text, plain, ",", 0), 2);
  EXPECT_EQ(plain[0].Length(), 3);  // the NUL stays inside the token
  Array<String> ended;
  EXPECT_EQ(Split(text, ended, ",", kSplitNulEnds), 3);
  EXPECT_STREQ(Bracketed(ended).CStr(), "[a][b][c]");
}

TEST(Split, AppendsToExistingListAndOtherContainers) {
  Array<String> list;
  list.Append(String("first"));
  EXPECT_EQ(Split(String("x y"), list, " ", 0), 2);
  EXPECT_STREQ(Bracketed(list).CStr(), "[first][x][y]");
  List<String> chain;
  EXPECT_EQ(SplitInto(String("p|q|r"), chain, "|", 0), 3);
  EXPECT_STREQ(chain.Last()->item.CStr(), "r");
}

TEST(TakeFirstToken, PlainAndQuotedPrograms) {
  struct Case {
    const char* commandLine;
    bool found;
    const char* token;
    const char* rest;
  } const cases[] = {
      {"  setup.exe /a /d:x", true, "setup.exe", "/a /d:x"},
      {"\"C:\\Program Files\\App\\run.exe\" /s -q", true, "\"C:\\Program Files\\App\\run.exe\"", "/s -q"},
      {"\tprog", true, "prog", ""},
      {"pre\"fix a\"b rest", true, "pre\"fix a\"b", "rest"},
      {"\"unterminated path", true, "\"unterminated path\"", ""},
      {"   ", false, "", ""},
      {"", false, "", ""},
  };
  for (const Case& c : cases) {
    String line(c.commandLine);
    String token("stale");
    EXPECT_EQ(TakeFirstToken(token, line), c.found) << c.commandLine;
    EXPECT_STREQ(token.CStr(), c.token) << c.commandLine;
    EXPECT_STREQ(line.CStr(), c.rest) << c.commandLine;
  }
}

TEST(RemovePauseLines, DropsOnlyPauseLines) {
  struct Case {
    const char* batch;
    const char* result;
  } const cases[] = {
      {"echo a\r\npause\r\necho b", "echo a\r\necho b\r\n"},
      {"  @ Pause  \nPAUSE\r\n@@pause\r\n", "@@pause\r\n"},
      {"pause now\r\n\r\nrem pause\n", "pause now\r\n\r\nrem pause\r\n"},
      {"", ""},
  };
  for (const Case& c : cases) {
    String batch(c.batch);
    RemovePauseLines(batch);
    EXPECT_STREQ(batch.CStr(), c.result) << c.batch;
  }
}

}  // namespace
