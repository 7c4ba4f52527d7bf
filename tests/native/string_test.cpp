#include "core/string.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>

namespace {

std::string Text(const String& s) { return std::string(s.CStr(), (size_t)s.Length()); }

TEST(StringStorage, EmptyStringOwnsNoBlockAndYieldsSharedEmptyText) {
  String s("abc");
  ASSERT_NE(s.Buffer(), nullptr);
  s.DeleteLast(3);
  EXPECT_EQ(s.Buffer(), nullptr);
  EXPECT_EQ(s.Capacity(), 0);
  ASSERT_NE(s.CStr(), nullptr);
  EXPECT_STREQ(s.CStr(), "");
  String t;
  EXPECT_EQ(t.CStr(), s.CStr());  // one shared ""
}

TEST(StringStorage, CapacityRule) {
  struct Case {
    int32_t n, capacity;
  } cases[] = {{0, 1}, {1, 2}, {63, 64}, {64, 104}, {16383, 16423}, {16384, 20480}, {100000, 104096}};
  for (const Case& c : cases) EXPECT_EQ(String::CapacityFor(c.n), c.capacity) << c.n;
}

TEST(StringStorage, SetLengthReallocatesOnlyWhenNeededOrWasteful) {
  String s;
  s.SetLength(70);
  EXPECT_EQ(s.Capacity(), 110);
  char* block = s.Buffer();
  s.SetLength(10);  // 110 - 10 < 1024 wasted: block kept
  EXPECT_EQ(s.Capacity(), 110);
  EXPECT_EQ(s.Buffer(), block);
  EXPECT_EQ(s.Buffer()[10], '\0');
  s.SetLength(2000);
  EXPECT_EQ(s.Capacity(), 2040);
  s.SetLength(500);  // 2040 - 500 > 1024: shrinks
  EXPECT_EQ(s.Capacity(), 540);
  EXPECT_EQ(s.Length(), 500);
  s.SetLength(539);  // still fits with its NUL
  EXPECT_EQ(s.Capacity(), 540);
  s.SetLength(540);  // no room for the NUL
  EXPECT_EQ(s.Capacity(), 580);
  s.SetLength(-5);
  EXPECT_EQ(s.Buffer(), nullptr);
  EXPECT_EQ(s.Length(), 0);
}

TEST(StringStorage, TrySetLengthFailsWithoutChange) {
  String s("keep");
  // Far more than a test machine can give in one block, yet below the
  // overflow limit: the allocation fails and the string stays as it was.
  char* result = s.TrySetLength(0x3FFF0000);
  if (result == nullptr) {
    EXPECT_EQ(Text(s), "keep");
  } else {
    EXPECT_EQ(s.Length(), 0x3FFF0000);  // the machine had the memory after all
  }
}

TEST(StringStorage, EnsureLengthGrowsInPlaceOnlyWithinCapacity) {
  String s;
  s.SetLength(70);  // capacity 110
  EXPECT_FALSE(s.EnsureLength(100));
  EXPECT_EQ(s.Length(), 100);
  EXPECT_FALSE(s.EnsureLength(20));  // never shrinks
  EXPECT_EQ(s.Length(), 100);
  EXPECT_TRUE(s.EnsureLength(200));
  EXPECT_EQ(s.Length(), 200);
}

TEST(StringStorage, AdoptBufferTakesOwnership) {
  char* block = (char*)malloc(5);
  memcpy(block, "hello", 5);
  String s;
  s.AdoptBuffer(block, 5);
  EXPECT_EQ(Text(s), "hello");
  EXPECT_EQ(s.Capacity(), 6);
  s.AdoptBuffer(nullptr, 3);
  EXPECT_TRUE(s.IsEmpty());
}

TEST(StringStorage, EmbeddedNulsCountButCStringInputsStop) {
  String s("a\0b", 3);
  EXPECT_EQ(s.Length(), 3);
  String t("a\0b");
  EXPECT_EQ(t.Length(), 1);
  String u;
  u.AssignPrefix("abc\0def", 10);
  EXPECT_EQ(Text(u), "abc");
  u.AssignPrefix("abcdef", 2);
  EXPECT_EQ(Text(u), "ab");
}

TEST(StringFatal, AtOutOfRangeIsAnInternalFatalError) {
  String s("ab");
  EXPECT_EQ(s.At(1), 'b');
  EXPECT_EXIT(s.At(2), ::testing::ExitedWithCode(1), "Internal Fatal Error\r\nModule: vk_core\r\nLine: 10278");
  EXPECT_EXIT(s.At(-1), ::testing::ExitedWithCode(1), "Line: 10278");
  EXPECT_EQ(s.CharAt(2), '\0');
  EXPECT_EQ(s.CharAt(-1), '\0');
}

TEST(StringFatal, OverflowIsFatal) {
  String s;
  EXPECT_EXIT(s.SetLength(0x3FFFFFFF), ::testing::ExitedWithCode(1), "String overflow \\(1073745919\\)");
  EXPECT_EXIT((void)s.TrySetLength(0x40000000), ::testing::ExitedWithCode(1), "String overflow");
}

// ------------------------------------------------------------------ editing

TEST(StringEdit, SelfReferencingEdits) {
  String s("abc");
  s.Append(s);
  EXPECT_EQ(Text(s), "abcabc");
  s.Append(s.CStr() + 1, 2);  // "bc" from inside
  EXPECT_EQ(Text(s), "abcabcbc");
  s.Insert(0, s.CStr() + 6);  // "bc" inserted at the front
  EXPECT_EQ(Text(s), "bcabcabcbc");
  s.Assign(s.CStr() + 2, 3);  // a piece of itself
  EXPECT_EQ(Text(s), "abc");
  s.Assign(s);
  EXPECT_EQ(Text(s), "abc");
  // A source overlapping the replaced range itself.
  s.Assign("0123456789");
  s.Replace(2, 3, s.CStr() + 3, 6);
  EXPECT_EQ(Text(s), "01345678" "56789");
  s.Assign("0123456789");
  s.Replace(1, 6, s.CStr() + 2, 2);
  EXPECT_EQ(Text(s), "0" "23" "789");
  // Growth forces a reallocation while the source is inside the old block.
  String big("x");
  for (int i = 0; i < 12; ++i) big.Append(big);
  EXPECT_EQ(big.Length(), 4096);
  EXPECT_EQ(big.Find("y"), -1);
}

TEST(StringEdit, ReplaceRejectsBadPositionsAndEmptyInsertions) {
  String s("abc");
  EXPECT_FALSE(s.Replace(-1, 1, "x", 1));
  EXPECT_FALSE(s.Replace(4, 0, "x", 1));
  EXPECT_FALSE(s.Replace(1, 0, "", 0));
  EXPECT_TRUE(s.Replace(3, 0, "d", 1));
  EXPECT_TRUE(s.Replace(1, 100, "Z", 1));  // clamped to the end
  EXPECT_EQ(Text(s), "aZ");
  EXPECT_TRUE(s.Replace(0, 2, nullptr, 0));
  EXPECT_EQ(s.Buffer(), nullptr);
}

TEST(StringEdit, PrefixAndSuffixStripping) {
  String s("/A:x");
  EXPECT_TRUE(s.StripPrefix("/a"));
  EXPECT_EQ(Text(s), ":x");
  String slash("/");
  EXPECT_FALSE(slash.StripPrefix("/a"));
  EXPECT_EQ(Text(slash), "/");
  String t("Abc");
  EXPECT_FALSE(t.StripPrefixExact("ab"));
  EXPECT_TRUE(t.StripPrefixExact("Ab"));
  String u("file.EXE");
  EXPECT_FALSE(u.StripSuffix(".exe"));
  EXPECT_TRUE(u.StripSuffixNoCase(".exe"));
  EXPECT_EQ(Text(u), "file");
  EXPECT_FALSE(u.StripPrefix(""));
}

TEST(StringEdit, TrimQuoteAndFriends) {
  String s(" \t\"quoted text\"\r\n");
  s.TrimUnquote();
  EXPECT_EQ(Text(s), "quoted text");
  s.Quote();
  EXPECT_EQ(Text(s), "\"quoted text\"");
  EXPECT_TRUE(s.Unquote());
  EXPECT_FALSE(s.Unquote());
  String dots("a...");
  EXPECT_EQ(dots.TrimRightChar('.'), 3);
  EXPECT_TRUE(String(" \r\n\t").IsBlank());
  EXPECT_TRUE(String().IsBlank());
  EXPECT_FALSE(String(" x").IsBlank());
  String f("x");
  EXPECT_TRUE(f.EnsureFirstChar('\\'));
  EXPECT_FALSE(f.EnsureFirstChar('\\'));
  EXPECT_EQ(Text(f), "\\x");
}

TEST(StringEdit, NormalizeNewlines) {
  struct Case {
    const char* in;
    const char* out;
    int changed;
  } cases[] = {
      {"a\nb", "a\r\nb", 1},        {"a\rb", "a\r\nb", 1},         {"a\r\nb", "a\r\nb", 0},
      {"a\n\rb", "a\r\nb", 1},      {"\n\n", "\r\n\r\n", 2},       {"x\r\n\ny", "x\r\n\r\ny", 1},
      {"", "", 0},                  {"plain", "plain", 0},         {"\r", "\r\n", 1},
  };
  for (const Case& c : cases) {
    String s(c.in);
    EXPECT_EQ(s.NormalizeNewlines(), c.changed) << c.in;
    EXPECT_EQ(Text(s), c.out);
  }
}

TEST(StringEdit, LinesAndSplitting) {
  String s("one\r\ntwo\n\rthree\nfour");
  String line;
  EXPECT_TRUE(s.ExtractLine(line));
  EXPECT_EQ(Text(line), "one");
  EXPECT_TRUE(s.ExtractLineWithBreak(line));
  EXPECT_EQ(Text(line), "two\n\r");
  EXPECT_TRUE(s.ExtractLine(line));
  EXPECT_EQ(Text(line), "three");
  EXPECT_TRUE(s.ExtractLine(line));
  EXPECT_EQ(Text(line), "four");
  EXPECT_TRUE(s.IsEmpty());
  EXPECT_FALSE(s.ExtractLine(line));

  String kv("name=value=more");
  String key;
  EXPECT_TRUE(kv.SplitAtChar(key, '='));
  EXPECT_EQ(Text(key), "name");
  EXPECT_EQ(Text(kv), "value=more");
  String none("abc");
  EXPECT_FALSE(none.SplitAtChar(key, ';'));
  EXPECT_EQ(Text(key), "abc");
  EXPECT_TRUE(none.IsEmpty());
}

TEST(StringEdit, ExtractQuoted) {
  struct Case {
    const char* in;
    int pos;
    bool ok;
    const char* out;
    const char* rest;
  } cases[] = {
      {"\"abc\" tail", 0, true, "abc", " tail"},
      {"x\"a\"\"b\"y", 1, true, "a\"b", "xy"},  // doubled quote collapses
      {"\"open ended", 0, true, "open ended", ""},
      {"\"\"", 0, true, "", ""},
      {"abc", 0, false, "", "abc"},
      {"abc", 7, false, "", "abc"},
  };
  for (const Case& c : cases) {
    String s(c.in), out;
    EXPECT_EQ(s.ExtractQuoted(out, '"', c.pos), c.ok) << c.in;
    if (c.ok) {
      EXPECT_EQ(Text(out), c.out) << c.in;
    }
    EXPECT_EQ(Text(s), c.rest) << c.in;
  }
}

TEST(StringEdit, MidCutAndRemove) {
  String s("0123456789"), out;
  s.Mid(out, 3, 4);
  EXPECT_EQ(Text(out), "3456");
  s.Mid(out, 8, 100);
  EXPECT_EQ(Text(out), "89");
  s.Cut(out, 2, 3);
  EXPECT_EQ(Text(out), "234");
  EXPECT_EQ(Text(s), "0156789");
  s.CutAfter(out, "67", 0);
  EXPECT_EQ(Text(out), "6789");
  EXPECT_EQ(Text(s), "015");
  String r("a-b-c-d");
  EXPECT_EQ(r.RemoveChar('-', 2, 3), 1);
  EXPECT_EQ(Text(r), "a-bc-d");
  EXPECT_EQ(r.RemoveChar('-'), 2);
  EXPECT_EQ(Text(r), "abcd");
  EXPECT_EQ(r.ReplaceChar('B', 'x', false), 1);
  EXPECT_EQ(Text(r), "axcd");
}

// --------------------------------------------------------------- comparison

TEST(StringCompare, CompareFollowsBytesAndTheNul) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  } cases[] = {{"abc", "abc", 0}, {"abc", "abd", -1}, {"abd", "abc", 1}, {"ab", "abc", -1},
               {"abc", "ab", 1},  {"", "", 0},        {"", "x", -1},     {"x", "", 1},
               {"x", nullptr, 1}, {"", nullptr, 0},   {"\xE9", "e", 1}};
  for (const Case& c : cases) {
    int r = String(c.a).Compare(c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << (c.b ? c.b : "(null)");
  }
  EXPECT_EQ(String("HeLLo").CompareNoCase("hello"), 0);
  EXPECT_NE(String("HeLLo").CompareNoCase("hello", true), 0);
  EXPECT_EQ(String("Program Files").CompareNoCase("PROGRAM X", false, 8), 0);
}

TEST(StringCompare, HashIsTheBlockChecksum) {
  EXPECT_EQ(String().Hash(), 2044902557u);
  EXPECT_EQ(String("abc").Hash(), 0x79E2BDC6u);
  EXPECT_EQ(String("abcd").Hash(), 0xDE461F02u);
}

// ---------------------------------------------------------------- searching

TEST(StringFind, FlagsTable) {
  struct Case {
    const char* text;
    const char* pattern;
    int32_t start;
    uint32_t flags;
    int32_t expected;
  } cases[] = {
      {"Hello World", "world", 0, 0, -1},
      {"Hello World", "world", 0, kFindIgnoreCase, 6},
      {"Hello World", "o", 5, 0, 7},
      {"Hello World", "o", 11, kFindBackwards, 7},
      {"Hello World", "o", 7, kFindBackwards, 4},
      {"Hello World", "Wor", 0, kFindReturnEnd, 9},
      {"cat concat cat", "cat", 1, kFindWholeWord, 11},
      {"cat_x cat", "cat", 0, kFindWholeWord, 6},
      {"\xE9" "cat cat", "cat", 0, kFindWholeWord, 1},
      {"\xE9" "cat cat", "cat", 0, kFindWholeWord | kFindHighWordChars, 5},
      {"file.txt", "f?le", 0, kFindQuestionAny, 0},
      {"file.txt", "f?le", 0, 0, -1},
      {"say \"key\" key", "key", 0, kFindSkipQuoted, 10},
      {"say \"key\" key", "key", 0, 0, 5},
      {"path\\name;x", ";\\", 0, kFindCharSet, 4},
      {"path\\name;x", ";\\", 0, kFindCharSet | kFindBackwards | 0, -1},
      {"abc", "", 0, 0, -1},
      {"", "a", 0, 0, -1},
      {"abc", "abcd", 0, 0, -1},
      {"abc", "c", 3, 0, -1},
      {"abcabc", "bc", -5, 0, 1},
      {"one*two", "one**two", 0, kFindStarWildcard, 0},
      {"xx abc", "a*c", 0, kFindStarWildcard, 3},
      {"ab\r\nc", "a*c", 0, kFindStarWildcard, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(String(c.text).Find(c.pattern, kWholeText, c.start, c.flags), c.expected)
        << '"' << c.text << "\" / \"" << c.pattern << "\" flags " << std::hex << c.flags;
  }
  // The backwards char-set search starts before `start`.
  EXPECT_EQ(String("a;b;c").Find(";", kWholeText, 5, kFindCharSet | kFindBackwards), 3);
}

TEST(StringFind, CharSearches) {
  String s("C:\\dir\\file.ext");
  EXPECT_EQ(s.FindChar('\\'), 2);
  EXPECT_EQ(s.FindChar('\\', 3), 6);
  EXPECT_EQ(s.FindLastChar('\\'), 6);
  EXPECT_EQ(s.FindLastChar('\\', 6), 2);
  EXPECT_EQ(s.FindChar('E', 0, kFindIgnoreCase), 10);
  EXPECT_EQ(s.FindFirstOf(".:"), 1);
  EXPECT_EQ(s.FindFirstNotOf("C:\\"), 3);
  EXPECT_EQ(s.FindChar('z'), -1);
  EXPECT_EQ(String("\"a b\" c").FindChar(' ', 0, kFindSkipQuoted), 5);
}

// ---------------------------------------------------------------- replacing

TEST(StringReplaceAll, SameLengthInPlace) {
  String s("a.b.c.d");
  EXPECT_EQ(s.ReplaceAll(".", "/"), 3);
  EXPECT_EQ(Text(s), "a/b/c/d");
  String t("a.b.c.d");
  EXPECT_EQ(t.ReplaceAll(".", "/", 0, 0, 2, 1), 3);  // skip one, then two
  EXPECT_EQ(Text(t), "a.b/c/d");
  String u("x.y.z");
  EXPECT_EQ(u.ReplaceAll(".", "-", kReplaceFirstOnly, 2), 3);
  EXPECT_EQ(Text(u), "x.y-z");
  EXPECT_EQ(u.ReplaceAll("#", "-", kReplaceFirstOnly), -1);
}

TEST(StringReplaceAll, DifferentLengths) {
  String s("%InstallDir%\\bin;%installdir%\\lib;%INSTALLDIR%");
  EXPECT_EQ(s.ReplaceAll("%InstallDir%", "C:\\Program Files\\App", kFindIgnoreCase), 3);
  EXPECT_EQ(Text(s), "C:\\Program Files\\App\\bin;C:\\Program Files\\App\\lib;C:\\Program Files\\App");
  String t("%InstallDir%");
  EXPECT_EQ(t.ReplaceAll("%InstallDir%", "x"), 1);  // exact case only without the flag
  String u("%installdir%");
  EXPECT_EQ(u.ReplaceAll("%InstallDir%", "x"), 0);
  EXPECT_EQ(Text(u), "%installdir%");
  String g("aXbXc");
  EXPECT_EQ(g.ReplaceAll("X", ""), 2);
  EXPECT_EQ(Text(g), "abc");
  String all("XX");
  EXPECT_EQ(all.ReplaceAll("X", ""), 2);
  EXPECT_EQ(all.Buffer(), nullptr);
  String shrink("one~~two~~three");
  EXPECT_EQ(shrink.ReplaceAll("~~", "\r\n", 0, 0, 1), 1);  // at most one replaced
  EXPECT_EQ(Text(shrink), "one\r\ntwo~~three");
  String first("a--b--c");
  EXPECT_EQ(first.ReplaceAll("--", "+", kReplaceFirstOnly, 0, kWholeText, 1), 4);
  EXPECT_EQ(Text(first), "a--b+c");
  String self("ab");
  EXPECT_EQ(self.ReplaceAll("b", self), 1);
  EXPECT_EQ(Text(self), "aab");
}

TEST(StringReplaceAll, QuestionMarksCarryMatchedCharacters) {
  String s("file1.txt file2.txt");
  EXPECT_EQ(s.ReplaceAll("file?.txt", "doc?.md", kFindQuestionAny), 2);
  EXPECT_EQ(Text(s), "doc1.md doc2.md");
  String t("a1b a2b");
  EXPECT_EQ(t.ReplaceAll("a?b", "<?>", kFindQuestionAny), 2);
  EXPECT_EQ(Text(t), "<1> <2>");
}

TEST(StringReplaceAll, StarWildcards) {
  String s("set PATH=old;x\r\nset TEMP=c:\\t\r\n");
  EXPECT_EQ(s.ReplaceAll("set *", "x", kFindStarWildcard), 0);  // an empty last portion never matches
  EXPECT_EQ(s.ReplaceAll("set *=*;", "[*] is <*>;", kFindStarWildcard), 1);
  EXPECT_EQ(Text(s), "[PATH] is <old>;x\r\nset TEMP=c:\\t\r\n");
  String t("<a>1</a> <b>2</b>");
  EXPECT_EQ(t.ReplaceAll("<*>*</*>", "*=*;", kFindStarWildcard), 2);
  EXPECT_EQ(Text(t), "a=1; b=2;");
  String lit("price: 2*3 and 4*5");
  EXPECT_EQ(lit.ReplaceAll("2**3", "six", kFindStarWildcard), 1);
  EXPECT_EQ(Text(lit), "price: six and 4*5");
  String none("nothing here");
  EXPECT_EQ(none.ReplaceAll("a*z", "q", kFindStarWildcard), 0);
  EXPECT_EQ(Text(none), "nothing here");
  String lines("ab\r\ncb");
  EXPECT_EQ(lines.ReplaceAll("a*b", "X", kFindStarWildcard), 1);  // "ab" only, not across the break
  EXPECT_EQ(Text(lines), "X\r\ncb");
  String skip("a1b a2b a3b");
  EXPECT_EQ(skip.ReplaceAll("a*b", "(*)", kFindStarWildcard, 0, 1, 1), 2);
  EXPECT_EQ(Text(skip), "a1b (2) a3b");
  String pos("xx a1b");
  EXPECT_EQ(pos.ReplaceAll("a*b", "z", kFindStarWildcard | kReplaceFirstOnly), 3);
}

TEST(StringConcat, Operators) {
  String a("ab");
  EXPECT_EQ(Text(a + 'c'), "abc");
  EXPECT_EQ(Text(a + "cd"), "abcd");
  EXPECT_EQ(Text(a + a), "abab");
  EXPECT_EQ(Text("x" + a), "xab");
  EXPECT_EQ(Text(String() + String()), "");
}

}  // namespace
