// Path-text checks, file-name rules, the text steps of specification lines
// and the open-result table: the portable side of file access and file lists.
#include "core/path_check.h"

#include <gtest/gtest.h>
#include <stdint.h>

#include <string>

#include "core/win32/disk_file.h"
#include "core/win32/file_list.h"
#include "core/win32/file_util.h"

namespace {

TEST(IsAbsolutePath, Table) {
  struct Case {
    const char* text;
    bool expected;
  } cases[] = {
      {"C:\\dir", true},     {"c:\\", true},          {"  \t z:\\x", true}, {"\\\\server\\share", true},
      {"C:dir", false},      {"\\dir", false},        {"dir\\x", false},    {"", false},
      {"1:\\x", false},      {" \\\\srv", true},      {"C:/dir", false},    {":\\x", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsAbsolutePath(c.text), c.expected) << c.text;
  EXPECT_FALSE(IsAbsolutePath(nullptr));
}

TEST(IsSafeLinkName, Table) {
  const struct {
    const char* name;
    bool safe;
  } cases[] = {
      {"App", true},          {"Sub\\App", true},       {"..App", true},        {"App..", true},
      {"", false},            {"..\\App", false},       {"Sub\\..\\App", false}, {"Sub\\ .. \\App", false},
      {"\\App", false},       {"C:\\App", false},       {"C:App", false},        {"Sub\\..", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSafeLinkName(c.name), c.safe) << c.name;
}

TEST(IsValidPathText, Table) {
  struct Case {
    const char* text;
    uint32_t flags;
    bool expected;
  } cases[] = {
      {"C:\\Program Files\\Product", 0, true},
      {"\"C:\\Program Files\\Product\"", 0, true},  // one pair of quotes is removed
      {"relative\\dir", 0, true},
      {"", 0, false},
      {"\"\"", 0, false},                // empty once unquoted
      {"   ", 0, true},                  // blanks are not forbidden characters; only trimming empties it
      {"   ", kPathTrim, false},
      {"  C:\\x  ", kPathTrim, true},
      {"  C:\\x", 0, false},             // untrimmed: the ':' is not in the second position
      {"1:\\x", 0, false},               // a drive colon needs a letter
      {"C:\\a:b", 0, false},             // only the drive's colon is allowed
      {"C:\\a;b", 0, false},
      {"C:\\a/b", 0, false},
      {"C:\\a|b", 0, false},
      {"C:\\a<b", 0, false},
      {"C:\\a\"b", 0, false},
      {"C:\\*.txt", 0, false},
      {"C:\\*.txt", kPathAllowStar, true},
      {"C:\\a?.txt", kPathAllowStar, false},
      {"C:\\a?.txt", kPathAllowWildcards, true},
      {"C:\\*?.txt", kPathAllowWildcards, true},
      {"C:\\a:b", kPathAllowWildcards, false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsValidPathText(c.text, c.flags), c.expected) << c.text << " " << c.flags;
  EXPECT_FALSE(IsValidPathText(nullptr, 0));
}

TEST(MakeAbsolute, Table) {
  struct Case {
    const char* path;
    const char* base;
    bool expected;
    const char* result;
  } cases[] = {
      {"file.txt", "C:\\Base", true, "C:\\Base\\file.txt"},
      {"  file.txt  ", "C:\\Base\\", true, "C:\\Base\\file.txt"},  // trimmed; no doubled '\'
      {"sub\\f", "  C:\\Base", true, "C:\\Base\\sub\\f"},           // base's leading blanks ignored
      {"\\root.txt", "C:\\Base", true, "C:\\root.txt"},
      {"D:name", "C:\\Base", true, "D:\\Base\\name"},
      {"D:name", "C:\\", true, "D:\\name"},
      {"D:", "C:\\Base", true, "D:\\Base\\"},
      {"f", "\\\\srv\\share", true, "\\\\srv\\share\\f"},
      {"\\f", "\\\\srv\\share", false, "\\f"},      // no drive in base
      {"D:f", "\\\\srv\\share", false, "D:f"},
      {"C:\\abs", "D:\\Base", false, "C:\\abs"},   // already absolute
      {"\\\\srv\\x", "D:\\Base", false, "\\\\srv\\x"},
      {"", "C:\\Base", false, ""},
      {"   ", "C:\\Base", false, ""},
      {"f", "relative", false, "f"},
      {"f", "", false, "f"},
      {"f", "\\dir", true, "\\dir\\f"},            // a base starting with '\' is accepted
  };
  for (const Case& c : cases) {
    String path(c.path);
    EXPECT_EQ(MakeAbsolute(path, c.base), c.expected) << c.path << " | " << c.base;
    EXPECT_STREQ(path.CStr(), c.result) << c.path << " | " << c.base;
  }
  String path("f");
  EXPECT_FALSE(MakeAbsolute(path, nullptr));
}

TEST(IsValidFileName, Table) {
  struct Case {
    const char* name;
    bool expected;
  } cases[] = {
      {"readme.txt", true}, {"a b.c.d", true}, {"dir\\name", true},  // '\' is the separator, allowed
      {"", false},          {".", false},      {"..", false},       {"...", true},
      {"a/b", false},       {"a\"b", false},   {"a<b", false},      {"a>b", false},
      {"a|b", false},       {"a*b", false},    {"a?b", false},      {"a:b", false},
      {"a;b", false},       {"a\tb", false},   {"\x01", false},     {"\xe9t\xe9", true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsValidFileName(c.name), c.expected) << c.name;
  EXPECT_FALSE(IsValidFileName(nullptr));
}

TEST(ForbiddenNameChars, ThreeSets) {
  EXPECT_STREQ(kForbiddenNameChars, "/\"<>|*?:;");
  EXPECT_STREQ(kForbiddenNameCharsStar, "/\"<>|?:;");
  EXPECT_STREQ(kForbiddenNameCharsWildcards, "/\"<>|:;");
}

TEST(StripRecursiveMarker, Table) {
  struct Case {
    const char* text;
    bool expected;
    const char* result;
  } cases[] = {
      {"C:\\x\\*.txt /s", true, "C:\\x\\*.txt"}, {"C:\\x\\*.txt /S", true, "C:\\x\\*.txt"},
      {"*.txt/s", false, "*.txt/s"},             {"*.txt /s ", false, "*.txt /s "},
      {" /s", true, ""},                         {"/s", false, "/s"},
      {"*.txt /x", false, "*.txt /x"},
  };
  for (const Case& c : cases) {
    String text(c.text);
    EXPECT_EQ(StripRecursiveMarker(text), c.expected) << c.text;
    EXPECT_STREQ(text.CStr(), c.result) << c.text;
  }
}

TEST(StripExtension, OnlyAfterTheLastBackslash) {
  struct Case {
    const char* path;
    const char* result;
  } cases[] = {
      {"C:\\dir\\file.txt", "C:\\dir\\file"}, {"C:\\dir.d\\file", "C:\\dir.d\\file"},
      {"a.b.c", "a.b"},                       {"noext", "noext"},
      {"C:\\dir\\.hidden", "C:\\dir\\"},
  };
  for (const Case& c : cases) {
    String path(c.path);
    StripExtension(path);
    EXPECT_STREQ(path.CStr(), c.result) << c.path;
  }
}

TEST(SplitSpecLine, Table) {
  struct Case {
    const char* line;
    const char* directory;
    const char* names;
  } cases[] = {
      {"C:\\Data\\*.txt;*.doc", "C:\\Data", "*.txt;*.doc"},
      {"C:\\*.txt", "C:\\", "*.txt"},
      {"C:*.txt", "C:", "*.txt"},
      {"*.txt", "", "*.txt"},
      {"a.txt;b.txt", "", "a.txt;b.txt"},
      {"a.txt;b\\c.txt", "", "a.txt;b\\c.txt"},  // the separator must come before the first ';'
      {"sub\\dir\\*.c", "sub\\dir", "*.c"},
      {"\\*.txt", "\\", "*.txt"},
      {"\\\\srv\\share\\*.txt", "\\\\srv\\share", "*.txt"},
      {"C:\\Data\\", "C:\\Data", ""},
  };
  for (const Case& c : cases) {
    String directory("stale"), names("stale");
    SplitSpecLine(String(c.line), directory, names);
    EXPECT_STREQ(directory.CStr(), c.directory) << c.line;
    EXPECT_STREQ(names.CStr(), c.names) << c.line;
  }
}

TEST(SpecLinePart, LineNumbersUnlessSingleLineOrSwitchedOff) {
  EXPECT_STREQ(SpecLinePart(3, false, 0).CStr(), "on line 3 ");
  EXPECT_STREQ(SpecLinePart(1, true, 0).CStr(), "");
  EXPECT_STREQ(SpecLinePart(3, false, kSpecNoLineNumbers).CStr(), "");
}

TEST(OpenResultText, EveryCode) {
  const char* expected[] = {
      "The file was successfully opened.",
      "An unknown error occurred.",
      "The filename is invalid.",
      "The file was not found.",
      "The directory does not exist.",
      "The file is locked by another application.",
      "Failed to read the file into memory.",
      "Failed to write data to the file.",
      "Too many files are already open.",
      "An invalid parameter was used.",
      "The file already exists.",
      "Too many indexed files exist.",
      "Access denied.",
      "The file's Read-Only attribute is set.",
      "The file's contents are corrupted.",
      "Deletion failed.",
  };
  for (int32_t code = 0; code < 16; ++code) EXPECT_STREQ(OpenResultText(code), expected[code]) << code;
  for (int32_t code : {16, 100, -1, INT32_MIN}) EXPECT_STREQ(OpenResultText(code), "An unknown error occurred.");
}

TEST(OpenResultForError, SystemErrorsToOpenResults) {
  struct Case {
    uint32_t error;
    bool write;
    bool readOnly;
    int32_t code;
  } cases[] = {
      {2, false, false, 3},   {3, false, false, 4},  {4, false, false, 8},   {5, true, true, 13},
      {5, false, true, 12},   {5, true, false, 12},  {32, false, false, 5},  {80, true, false, 10},
      {87, false, false, 9},  {123, false, false, 2}, {206, false, false, 2}, {0, false, false, 1},
      {112, true, false, 1},  {33, false, false, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(OpenResultForError(c.error, c.write, c.readOnly), c.code) << c.error << " " << c.write << c.readOnly;
}

TEST(ClusterBytes, SixtyFourBitsAndSaturation) {
  EXPECT_EQ(ClusterBytes(8, 512, 0xFFFFFFFFu), 8ull * 512 * 0xFFFFFFFFull);  // beyond 32 bits
  EXPECT_EQ(ClusterBytes(0, 512, 100), 0u);
  EXPECT_EQ(ClusterBytes(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu), UINT64_MAX);
}

}  // namespace
