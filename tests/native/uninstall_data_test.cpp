#include "uninstall/uninstall_data.h"

#include <gtest/gtest.h>

namespace {

// Message n reads "text n"; message 34 spans two lines.
const char* NumberedMessage(int32_t n) {
  static String text;
  text = "text ";
  text.Append(String(n == 34 ? "34\r\nsecond line" : (n == 10 ? "10 %s" : "")));
  if (n != 34 && n != 10) text.Append(String((char)('0' + n % 10)));
  return text.CStr();
}

const char* NumberedSource(void*, int32_t n) { return NumberedMessage(n); }

String Joined(const Array<String>& lines) {
  String out;
  for (const String& s : lines) {
    out.AppendChar('[');
    out.Append(s);
    out.AppendChar(']');
  }
  return out;
}

TEST(UninstallData, FileTextIsExact) {
  String file;
  BuildUninstallData(file, String("C:\\P\\a.txt\r\n~C:\\P\\docs\r\n"), NumberedSource, nullptr, String());
  String expected("C:\\P\\a.txt\r\n~C:\\P\\docs\r\n\r\n\r\n[Strings]\r\n");
  for (int32_t n : kUninstallMessageSet) {
    expected.Append("~");
    expected.Append(String((char)('0' + n / 10)));
    expected.Append(String((char)('0' + n % 10)));
    expected.Append("\r\n");
    expected.Append(NumberedMessage(n));
    expected.Append("\r\n");
  }
  EXPECT_STREQ(expected.CStr(), file.CStr());
  EXPECT_EQ(-1, file.Find("[Associations]"));  // no associations, no section

  String withAssociations;
  BuildUninstallData(withAssociations, String(), NumberedSource, nullptr, String(".trx~!~TruxFile~!~open\r\n"));
  String tail("\r\n~74\r\ntext 4\r\n\r\n\r\n[Associations]\r\n.trx~!~TruxFile~!~open\r\n");
  ASSERT_GE(withAssociations.Length(), tail.Length());
  String end;
  withAssociations.Mid(end, withAssociations.Length() - tail.Length(), kWholeText);
  EXPECT_STREQ(tail.CStr(), end.CStr());
  EXPECT_TRUE(withAssociations.StartsWithChar('\r'));  // an empty list adds nothing before the blank line
}

TEST(UninstallData, RoundTrip) {
  String file;
  BuildUninstallData(file, String("C:\\P\\a.txt\r\n~C:\\P\\docs\r\n!TruxFile\r\n"), NumberedSource, nullptr,
                     String(".trx~!~TruxFile~!~open\r\n.trz~!~TruxZ~!~edit\r\n"));
  UninstallDataContents c;
  ParseUninstallData(file, c);
  EXPECT_STREQ("[C:\\P\\a.txt][~C:\\P\\docs][!TruxFile]", Joined(c.bodyLines).CStr());
  for (int32_t n : kUninstallMessageSet) EXPECT_STREQ(NumberedMessage(n), c.Message(n)) << n;
  ASSERT_EQ(2, c.associations.Count());
  EXPECT_STREQ(".trz", c.associations[1].extension.CStr());
  EXPECT_STREQ("TruxZ", c.associations[1].fileType.CStr());
  EXPECT_STREQ("edit", c.associations[1].verb.CStr());
  EXPECT_STREQ("", c.Message(11));  // not in the file
}

struct ParseCase {
  const char* name;
  const char* text;
  const char* body;        // bracketed lines
  int32_t message;         // a message number to look at
  const char* messageText;
  const char* associations;  // "ext|type|verb;" per record
};

String AssociationsText(const UninstallDataContents& c) {
  String out;
  for (const UninstallAssociation& a : c.associations) {
    out.Append(a.extension);
    out.AppendChar('|');
    out.Append(a.fileType);
    out.AppendChar('|');
    out.Append(a.verb);
    out.AppendChar(';');
  }
  return out;
}

TEST(UninstallData, ReaderCases) {
  const ParseCase cases[] = {
      {"no sections: all body, every break kind", "a\r\n\r\nb\nc\rd\n\re", "[a][b][c][d][e]", 10, "", ""},
      {"section names ignore case", "x\r\n[STRINGS]\r\n~10\r\nTen\r\n[associations]\r\n.a~!~A~!~open\r\n",
       "[x]", 10, "Ten", ".a|A|open;"},
      {"message trailing blanks trimmed", "[Strings]\r\n~15\r\nDone \t\r\n\r\n\r\n", "", 15, "Done", ""},
      {"a line starting with ~ cuts a message", "[Strings]\r\n~20\r\nfirst\r\n~second\r\n", "", 20, "first", ""},
      {"number from the first digit", "[Strings]\r\n~ x42y\r\nforty-two\r\n", "", 42, "forty-two", ""},
      {"numbers outside 1..1000 skipped", "[Strings]\r\n~0\r\nzero\r\n~1001\r\nbig\r\n~1000\r\nlast\r\n", "", 1000,
       "last", ""},
      {"a huge number does not wrap", "[Strings]\r\n~4294967306\r\nwrapped\r\n", "", 10, "", ""},
      {"message without text", "[Strings]\r\n~30\r\n~31\r\nx\r\n", "", 30, "", ""},
      {"lines before the first ~ are skipped", "[Strings]\r\nnoise\r\n~34\r\nok\r\n", "", 34, "ok", ""},
      {"incomplete association records dropped",
       "[Strings]\r\n[Associations]\r\n~!~T~!~open\r\n.a~!~~!~open\r\n.a~!~T~!~\r\n.a~!~T\r\n.b~!~T~!~open~!~x\r\n", "",
       10, "", ".b|T|open~!~x;"},
      {"associations without strings are not read", "body\r\n[Associations]\r\n.a~!~A~!~open\r\n",
       "[body][[Associations]][.a~!~A~!~open]", 10, "", ""},
      {"a multi-line message keeps its inner breaks", "[Strings]\r\n~10\r\nline one\r\nline two\r\n\r\n", "", 10,
       "line one\r\nline two", ""},
  };
  for (const ParseCase& k : cases) {
    UninstallDataContents c;
    ParseUninstallData(String(k.text), c);
    EXPECT_STREQ(k.body, Joined(c.bodyLines).CStr()) << k.name;
    EXPECT_STREQ(k.messageText, c.Message(k.message)) << k.name;
    EXPECT_STREQ(k.associations, AssociationsText(c).CStr()) << k.name;
  }
}

TEST(UninstallData, SectionLineLimits) {
  // 600 association lines: only the first 500 lines are looked at, and the
  // first of them is the empty rest of the section's own line.
  String text("[Strings]\r\n[Associations]\r\n");
  for (int i = 0; i < 600; ++i) text.Append(".e~!~T~!~open\r\n");
  UninstallDataContents c;
  ParseUninstallData(text, c);
  EXPECT_EQ(kMaxUninstallSectionLines - 1, c.associations.Count());

  // A message after 500 other lines of the strings part is not read.
  String strings("[Strings]\r\n");
  for (int i = 0; i < 499; ++i) strings.Append("noise\r\n");
  strings.Append("~10\r\nlate\r\n");
  ParseUninstallData(strings, c);
  EXPECT_STREQ("", c.Message(10));
  strings.DeleteFirst(18);  // one noise line fewer: it is the 500th line now
  strings.Insert(0, "[Strings]\r\n");
  ParseUninstallData(strings, c);
  EXPECT_STREQ("late", c.Message(10));
}

}  // namespace

namespace {

struct VersionCase {
  const char* text;
  bool has;
  uint32_t major, minor;
};

TEST(UninstallData, VersionNumbers) {
  const VersionCase cases[] = {
      {"2.10", true, 2, 10},  {"1.0.2", true, 1, 0},     {"v3.7 beta", true, 3, 7}, {"10", false, 0, 0},
      {"", false, 0, 0},      {".5", true, 0, 5},        {"4.", true, 4, 0},        {"1.x", true, 1, 0},
      {"7.99999999999", true, 7, 0},
  };
  for (const VersionCase& k : cases) {
    uint32_t major = 0, minor = 0;
    EXPECT_EQ(k.has, VersionNumbers(String(k.text), major, minor)) << k.text;
    if (!k.has) continue;
    EXPECT_EQ(k.major, major) << k.text;
    EXPECT_EQ(k.minor, minor) << k.text;
  }
}

}  // namespace
