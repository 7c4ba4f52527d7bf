// Path texts: joining, directory and file parts, drive letters.
#include <gtest/gtest.h>

#include <string>

#include "core/path.h"

namespace {

std::string Text(const String& s) { return std::string(s.CStr(), (size_t)s.Length()); }

struct TwoIn {
  const char* a;
  const char* b;
  const char* expected;
};

TEST(JoinPath, AddsOneSeparatorOnlyWhereNeeded) {
  const TwoIn cases[] = {
      {"C:", "x", "C:x"},
      {"C:\\dir\\", "\\x", "C:\\dir\\x"},
      {"C:\\dir", "\\x", "C:\\dir\\x"},
      {"C:\\dir", "x", "C:\\dir\\x"},
      {"C:\\dir\\", "x", "C:\\dir\\x"},
      {"C:\\", "x", "C:\\x"},
      {"", "x", "x"},
      {"C:\\dir", "", "C:\\dir"},
      {nullptr, "x", "x"},
      {"C:\\dir", nullptr, "C:\\dir"},
      {"", "", ""},
      {"\\\\server\\share", "a\\b", "\\\\server\\share\\a\\b"},
      // Only one trailing backslash gives way to the name's own.
      {"C:\\dir\\\\", "\\x", "C:\\dir\\\\x"},
  };
  for (const TwoIn& c : cases) {
    EXPECT_EQ(Text(JoinPath(c.a, c.b)), c.expected) << (c.a ? c.a : "(null)") << " + " << (c.b ? c.b : "(null)");
  }
}

struct OneIn {
  const char* path;
  const char* expected;
};

TEST(DirectoryOf, CutsAtTheLastSeparatorKeepingDriveRoots) {
  const OneIn cases[] = {
      {"C:\\file.exe", "C:\\"},
      {"C:\\dir\\file.exe", "C:\\dir"},
      {"C:file.exe", "C:"},
      {"file.exe", ""},
      {"", ""},
      {nullptr, ""},
      {"\\\\server\\share\\f.txt", "\\\\server\\share"},
      {"dir\\", "dir"},
      // The last backslash before the first ';' outside quotes counts.
      {"C:\\a\\b.exe;D:\\c\\d", "C:\\a"},
      {"\"C:\\a;b\\c.exe\";x", "\"C:\\a;b"},
      // No backslash before the ';': the first ':' is the separator.
      {"C:x;D:\\y", "C:"},
  };
  for (const OneIn& c : cases) {
    EXPECT_EQ(Text(DirectoryOf(c.path)), c.expected) << (c.path ? c.path : "(null)");
  }
}

TEST(FileNameOf, TakesTheTextAfterTheLastBackslashOrFirstColon) {
  const OneIn cases[] = {
      {"C:\\dir\\file.exe", "file.exe"}, {"C:file.exe", "file.exe"}, {"file.exe", "file.exe"},
      {"C:\\dir\\", ""},                 {"", ""},                   {nullptr, ""},
      {"a:b:c", "b:c"},
  };
  for (const OneIn& c : cases) {
    EXPECT_EQ(Text(FileNameOf(c.path)), c.expected) << (c.path ? c.path : "(null)");
  }
}

TEST(CutAfterLastSeparator, KeepsTheSeparator) {
  const OneIn cases[] = {
      {"C:\\dir\\file.exe", "C:\\dir\\"}, {"C:\\file.exe", "C:\\"}, {"C:file", "C:"},
      {"file", "file"},                   {"", ""},                 {"c:\\Inetpub\\wwwroot", "c:\\Inetpub\\"},
  };
  for (const OneIn& c : cases) {
    String path(c.path);
    CutAfterLastSeparator(path);
    EXPECT_EQ(Text(path), c.expected) << c.path;
  }
}

TEST(DriveOf, IsTheUpperCaseLetterBeforeAColon) {
  const struct {
    const char* path;
    char expected;
  } cases[] = {
      {"c:\\x", 'C'}, {"D:", 'D'}, {"z:rel", 'Z'}, {"\\\\server\\share", '\0'}, {"1:\\x", '\0'},
      {"c", '\0'},    {"", '\0'},  {nullptr, '\0'}, {"\xC4:\\x", '\0'},        {"cd:\\x", '\0'},
  };
  for (const auto& c : cases) EXPECT_EQ(DriveOf(c.path), c.expected) << (c.path ? c.path : "(null)");
}

TEST(DriveText, IsTheLetterAndAColonForLettersOnly) {
  EXPECT_EQ(Text(DriveText('D')), "D:");
  EXPECT_EQ(Text(DriveText('c')), "c:");
  EXPECT_EQ(Text(DriveText('\0')), "");
  EXPECT_EQ(Text(DriveText('1')), "");
  EXPECT_EQ(Text(DriveText('\\')), "");
}

}  // namespace
