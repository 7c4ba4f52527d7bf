// Directory entries, ListFiles and ExpandFileSpecs under Wine, on a real
// tree of files with known sizes and last-write times.
#include "core/win32/file_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/win32/file_util.h"
#include "file_test_support.h"

using namespace filetest;

namespace {

using Names = std::vector<std::string>;

Names ToNames(const Array<String>& list) {
  Names names;
  for (const String& s : list) names.push_back(Str(s));
  return names;
}

Names Sorted(Names names) {
  std::sort(names.begin(), names.end());
  return names;
}

// root\a.txt      1 byte    2001-01-01
// root\B.txt     22 bytes   2003-03-03
// root\c.doc    333 bytes   2002-02-02
// root\sub\d.txt       4444 bytes  2004-04-04
// root\sub\deep\e.txt     5 bytes  2000-01-01
// root\sub2\f.txt         6 bytes  2005-05-05
// root\emptydir (empty)
class FileListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = FreshDirectory(std::string("fl_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    for (const char* d : {"sub", "sub\\deep", "sub2", "emptydir"}) CreateDirectoryA(P(d).c_str(), nullptr);
    Make("a.txt", 1, 2001, 1, 1);
    Make("B.txt", 22, 2003, 3, 3);
    Make("c.doc", 333, 2002, 2, 2);
    Make("sub\\d.txt", 4444, 2004, 4, 4);
    Make("sub\\deep\\e.txt", 5, 2000, 1, 1);
    Make("sub2\\f.txt", 6, 2005, 5, 5);
  }
  void Make(const char* name, size_t size, WORD year, WORD month, WORD day) {
    ASSERT_TRUE(WriteRaw(P(name), std::string(size, 'x')));
    ASSERT_TRUE(SetLocalWriteTime(P(name), year, month, day, 12, 0, 0));
  }
  std::string P(const char* name) const { return root_ + "\\" + name; }
  std::string root_;
};

TEST_F(FileListTest, ReadFileInfoFillsEveryField) {
  FileInfo info;
  ASSERT_TRUE(ReadFileInfo(P("c.doc").c_str(), info));
  EXPECT_EQ(Str(info.name), "c.doc");
  EXPECT_EQ(info.size, 333u);
  EXPECT_EQ(info.attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(info.lastWrite.year, 2002);
  EXPECT_EQ(info.lastWrite.month, 2);
  EXPECT_EQ(info.lastWrite.day, 2);
  EXPECT_EQ(info.lastWrite.hours, 12);
  EXPECT_EQ(info.lastWrite.minutes, 0);
  EXPECT_TRUE(info.lastAccess.IsValid());
  EXPECT_TRUE(info.creation.IsValid());

  ASSERT_TRUE(ReadFileInfo(P("sub").c_str(), info));
  EXPECT_NE(info.attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(Str(info.name), "sub");

  info.name = "stale";
  EXPECT_FALSE(ReadFileInfo(P("gone.txt").c_str(), info));
  EXPECT_TRUE(info.name.IsEmpty());
  EXPECT_FALSE(ReadFileInfo(P("*.txt").c_str(), info));  // one entry, never a search
  EXPECT_FALSE(ReadFileInfo("", info));
}

TEST_F(FileListTest, ListFilesFlagsAndSorts) {
  const std::string txt = P("*.txt"), all = P("*.*");
  struct Case {
    std::string pattern;
    uint32_t flags;
    Names expected;
    uint64_t total;
  } cases[] = {
      {txt, kListByName, {P("a.txt"), P("B.txt")}, 23},
      {txt, kListByName | kListReverse, {P("B.txt"), P("a.txt")}, 23},
      {all, kListByTime, {P("B.txt"), P("c.doc"), P("a.txt")}, 356},
      {all, kListByTime | kListReverse, {P("a.txt"), P("c.doc"), P("B.txt")}, 356},
      {all, kListByName | kListDirectories,
       {P("a.txt"), P("B.txt"), P("c.doc"), P("emptydir"), P("sub"), P("sub2")}, 356},
      {all, kListByName | kListDirectoriesOnly, {P("emptydir"), P("sub"), P("sub2")}, 0},
      {txt, kListByName | kListNamesOnly, {"a.txt", "B.txt"}, 23},
      {txt, kListByName | kListStripExtension, {P("a"), P("B")}, 23},
      {all, kListByName | kListNamesOnly | kListStripExtension, {"a", "B", "c"}, 356},
      {P("*.none"), kListByName, {}, 0},
      {P("missing\\*.*"), kListByName, {}, 0},
      {P("c.doc"), 0, {P("c.doc")}, 333},
  };
  for (const Case& c : cases) {
    Array<String> list;
    list.Append(String("stale"));
    EXPECT_EQ(ListFiles(list, c.flags, c.pattern.c_str()), c.total) << c.pattern << " " << c.flags;
    EXPECT_EQ(ToNames(list), c.expected) << c.pattern << " " << c.flags;
  }
}

TEST_F(FileListTest, ListFilesKeepsTheListWhenAsked) {
  Array<String> list;
  list.Append(String("kept"));
  ListFiles(list, kListKeepList | kListByName | kListNamesOnly, P("*.txt").c_str());
  EXPECT_EQ(ToNames(list), Names({"kept", "a.txt", "B.txt"}));
}

TEST_F(FileListTest, NameSortBeforeOrAfterStripping) {
  // "a-b.txt" sorts before "a.txt" ('-' < '.'), but "a" before "a-b".
  CreateDirectoryA(P("order").c_str(), nullptr);
  ASSERT_TRUE(WriteRaw(P("order\\a.txt"), ""));
  ASSERT_TRUE(WriteRaw(P("order\\a-b.txt"), ""));
  const std::string pattern = P("order\\*.txt");
  Array<String> list;
  ListFiles(list, kListByName | kListNamesOnly | kListStripExtension, pattern.c_str());
  EXPECT_EQ(ToNames(list), Names({"a-b", "a"}));
  ListFiles(list, kListByNameAfterStrip | kListNamesOnly | kListStripExtension, pattern.c_str());
  EXPECT_EQ(ToNames(list), Names({"a", "a-b"}));
  ListFiles(list, kListByNameAfterStrip | kListReverse | kListNamesOnly | kListStripExtension, pattern.c_str());
  EXPECT_EQ(ToNames(list), Names({"a-b", "a"}));
}

TEST_F(FileListTest, RecursiveSearchByFlagAndBySuffix) {
  const Names expected = {P("B.txt"), P("a.txt"), P("sub\\d.txt"), P("sub\\deep\\e.txt"), P("sub2\\f.txt")};
  for (const std::string& pattern : {P("*.txt"), P("*.txt") + " /s", P("*.txt") + " /S"}) {
    const uint32_t flags = pattern.back() == 't' ? (uint32_t)kListRecursive : 0u;
    Array<String> list;
    EXPECT_EQ(ListFiles(list, flags | kListByName, pattern.c_str()), 1u + 22 + 4444 + 5 + 6) << pattern;
    const Names names = ToNames(list);
    EXPECT_EQ(Sorted(names), Sorted(expected)) << pattern;
    // This directory's own entries come first, sorted; each subdirectory's
    // entries follow its parent's.
    ASSERT_EQ(names.size(), 5u);
    EXPECT_EQ(names[0], P("a.txt"));
    EXPECT_EQ(names[1], P("B.txt"));
    const size_t d = std::find(names.begin(), names.end(), P("sub\\d.txt")) - names.begin();
    const size_t e = std::find(names.begin(), names.end(), P("sub\\deep\\e.txt")) - names.begin();
    EXPECT_LT(d, e);
  }
  Array<String> dirs;
  ListFiles(dirs, kListRecursive | kListDirectoriesOnly | kListByName, P("*.*").c_str());
  EXPECT_EQ(Sorted(ToNames(dirs)), Names({P("emptydir"), P("sub"), P("sub2"), P("sub\\deep")}));
}

// Counts the messages a message-only window receives.
int g_received = 0;
LRESULT CALLBACK CountingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER + 5) ++g_received;
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

TEST_F(FileListTest, ListFilesPumpsPendingMessagesUnlessTold) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = CountingProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "H5CountingWindow";
  ASSERT_TRUE(RegisterClassA(&wc));
  HWND window = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  ASSERT_TRUE(window != nullptr);
  Array<String> list;
  g_received = 0;
  ASSERT_TRUE(PostMessageA(window, WM_USER + 5, 0, 0));
  ListFiles(list, kListNoPump, P("*.txt").c_str());
  EXPECT_EQ(g_received, 0);
  ListFiles(list, 0, P("*.txt").c_str());
  EXPECT_EQ(g_received, 1);
  DestroyWindow(window);
}

TEST_F(FileListTest, ExpandSeveralNamesPerLine) {
  Array<String> list;
  String errors;
  FileSpecOptions options;
  options.errors = &errors;
  uint64_t total = 0;
  options.totalSize = &total;
  const std::string text = root_ + "\\*.txt; *.doc";
  EXPECT_EQ(ExpandFileSpecs(text.c_str(), list, options), 3);
  EXPECT_EQ(Sorted(ToNames(list)), Names({P("B.txt"), P("a.txt"), P("c.doc")}));
  EXPECT_EQ(ToNames(list).back(), P("c.doc"));  // names are searched in line order
  EXPECT_EQ(total, 356u);
  EXPECT_EQ(Str(errors), "");
}

TEST_F(FileListTest, ExpandRecursiveLines) {
  Array<String> list;
  String errors;
  FileSpecOptions options;
  options.errors = &errors;
  const std::string text = root_ + "\\*.txt /s\r\n" + root_ + "\\*.doc";
  EXPECT_EQ(ExpandFileSpecs(text.c_str(), list, options), 6);
  EXPECT_EQ(Sorted(ToNames(list)), Sorted({P("a.txt"), P("B.txt"), P("sub\\d.txt"), P("sub\\deep\\e.txt"),
                                           P("sub2\\f.txt"), P("c.doc")}));
  EXPECT_EQ(Str(errors), "");
}

TEST_F(FileListTest, ExpandReportsARepeatedFileOnceAndListsItOnce) {
  Array<String> list;
  String errors;
  FileSpecOptions options;
  options.errors = &errors;
  uint64_t total = 0;
  options.totalSize = &total;
  const std::string text = root_ + "\\A.TXT\n" + root_ + "\\*.txt";
  EXPECT_EQ(ExpandFileSpecs(text.c_str(), list, options), 2);
  EXPECT_EQ(ToNames(list)[0], P("a.txt"));  // the name as the directory holds it
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(Str(errors), "The file \"" + P("a.txt") + "\" occurs more than once.\r\n");
  EXPECT_EQ(total, 23u);  // the repeated file is counted once

  options.flags = kSpecAllowRepeats | kSpecClearList | kSpecClearErrors;
  EXPECT_EQ(ExpandFileSpecs(text.c_str(), list, options), 3);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(Str(errors), "");
  EXPECT_EQ(total, 24u);
}

TEST_F(FileListTest, ExpandMessagesForSpecificationsThatMatchNothing) {
  const std::string none = root_ + "\\*.xyz";
  struct Case {
    std::string text;
    uint32_t flags;
    std::string errors;
  } cases[] = {
      {none + "\r\n" + P("a.txt"), 0, "The file specification \"" + none + "\" on line 1 did not match any files.\r\n"},
      {P("a.txt") + "\r\n\r\n" + none, 0,
       "The file specification \"" + none + "\" on line 3 did not match any files.\r\n"},
      {none, 0, "The file specification \"" + none + "\" did not match any files.\r\n"},
      {none + "\r\n", 0, "The file specification \"" + none + "\" did not match any files.\r\n"},
      {none + "\r\n" + P("a.txt"), kSpecNoLineNumbers,
       "The file specification \"" + none + "\" did not match any files.\r\n"},
      {none + "\r\n" + P("a.txt"), kSpecQuietNoMatch, ""},
  };
  for (const Case& c : cases) {
    Array<String> list;
    String errors;
    FileSpecOptions options;
    options.errors = &errors;
    options.flags = c.flags;
    ExpandFileSpecs(c.text.c_str(), list, options);
    EXPECT_EQ(Str(errors), c.errors) << c.text;
  }
}

TEST_F(FileListTest, ExpandRelativeLinesAgainstTheDefaultDirectory) {
  Array<String> list;
  String errors;
  Vector<int32_t> lines;
  Array<String> directories;
  FileSpecOptions options;
  options.errors = &errors;
  options.lineIndexes = &lines;
  options.directories = &directories;
  options.defaultDirectory = root_.c_str();
  // Line 2's directory is "sub" (the last '\' before the first ';'); its
  // second name "deep\*.txt" is taken from there.
  EXPECT_EQ(ExpandFileSpecs("*.doc\r\nsub\\*.txt;deep\\*.txt;*.doc\r\n\\fl_none\\*.txt", list, options), 3);
  EXPECT_EQ(ToNames(list), Names({P("c.doc"), P("sub\\d.txt"), P("sub\\deep\\e.txt")}));
  ASSERT_EQ(lines.Count(), 3);
  EXPECT_EQ(lines[0], 0);
  EXPECT_EQ(lines[1], 1);
  EXPECT_EQ(lines[2], 1);
  EXPECT_EQ(ToNames(directories), Names({root_, P("sub"), P("sub")}));
  EXPECT_EQ(Str(errors), "The file specification \"" + P("sub\\*.doc") +
                             "\" on line 2 did not match any files.\r\n"
                             "The file specification \"C:\\fl_none\\*.txt\" on line 3 did not match any files.\r\n");

  // A relative default directory is taken from the current directory.
  const String before = CurrentDirectory();
  ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
  const std::string relative = root_.substr(3) + "\\sub";
  options.defaultDirectory = relative.c_str();
  options.flags = kSpecClearList | kSpecClearLineIndexes | kSpecClearErrors;
  EXPECT_EQ(ExpandFileSpecs("*.txt", list, options), 1);
  EXPECT_EQ(ToNames(list), Names({P("sub\\d.txt")}));
  EXPECT_EQ(ToNames(directories), Names({P("sub")}));

  // Without a default directory, the current one.
  ASSERT_TRUE(SetCurrentDirectoryA(P("sub2").c_str()));
  options.defaultDirectory = nullptr;
  EXPECT_EQ(ExpandFileSpecs("*.txt", list, options), 1);
  EXPECT_EQ(ToNames(list), Names({P("sub2\\f.txt")}));
  EXPECT_EQ(Str(errors), "");
  SetCurrentDirectoryA(before.CStr());
}

TEST_F(FileListTest, ExpandErrorTextRules) {
  Array<String> list;
  String errors("earlier\r\n");
  FileSpecOptions options;
  options.errors = &errors;
  options.defaultDirectory = "C:\\fl_nowhere";
  ExpandFileSpecs(P("a.txt").c_str(), list, options);
  EXPECT_EQ(Str(errors), "earlier\r\nThe default directory \"C:\\fl_nowhere\" does not exist.\r\n");
  EXPECT_EQ(list.Count(), 1);

  options.defaultDirectory = root_.c_str();
  options.flags = kSpecClearErrors;
  ExpandFileSpecs(" \r\n\t", list, options);
  EXPECT_EQ(Str(errors), "");
  EXPECT_EQ(list.Count(), 1);  // neither cleared nor extended

  errors = "earlier\r\n";
  options.flags = kSpecBlankIsError | kSpecClearList;
  EXPECT_EQ(ExpandFileSpecs(" \r\n\t", list, options), 0);
  EXPECT_EQ(Str(errors), "No files were specified.\r\n");
  EXPECT_EQ(list.Count(), 1);  // nothing else happens

  // Not absolute: a line that names the root of the current drive while the
  // default directory is a network path without a drive.
  options.flags = kSpecClearErrors;
  options.defaultDirectory = "\\\\fl_server\\share";
  errors.Clear();
  ExpandFileSpecs("\\x.txt", list, options);
  EXPECT_EQ(Str(errors),
            "The default directory \"\\\\fl_server\\share\" does not exist.\r\n"
            "The file specification \"\\x.txt\" is not an absolute path.  Please include the drive and directory.\r\n");

  // Without an error text the problems are skipped silently.
  options.errors = nullptr;
  options.flags = kSpecClearList;
  EXPECT_EQ(ExpandFileSpecs((P("*.xyz") + "\r\n" + P("a.txt")).c_str(), list, options), 1);
}

TEST_F(FileListTest, ExpandKeepsOrClearsTheLists) {
  Array<String> list;
  list.Append(String(P("a.txt").c_str()));  // already listed: a repeat
  Vector<int32_t> lines;
  lines.Append(99);
  String errors;
  FileSpecOptions options;
  options.errors = &errors;
  options.lineIndexes = &lines;
  EXPECT_EQ(ExpandFileSpecs(P("*.txt").c_str(), list, options), 1);
  EXPECT_EQ(ToNames(list), Names({P("a.txt"), P("B.txt")}));
  EXPECT_EQ(lines.Count(), 2);
  EXPECT_EQ(lines[0], 99);
  EXPECT_EQ(Str(errors), "The file \"" + P("a.txt") + "\" occurs more than once.\r\n");

  options.flags = kSpecClearList | kSpecClearLineIndexes | kSpecClearErrors;
  EXPECT_EQ(ExpandFileSpecs(P("*.txt").c_str(), list, options), 2);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(lines.Count(), 2);
  EXPECT_EQ(lines[0], 0);
  EXPECT_EQ(Str(errors), "");
}

TEST_F(FileListTest, ExpandFinalSortByNameAndByTime) {
  const std::string text = root_ + "\\sub2\\*.txt\r\n" + root_ + "\\*.*\r\n" + root_ + "\\sub\\*.txt /s";
  struct Case {
    uint32_t flags;
    Names expected;
  } cases[] = {
      // Whole paths compared ignoring case: '2' sorts before '\'.
      {kListByName,
       {P("a.txt"), P("B.txt"), P("c.doc"), P("sub2\\f.txt"), P("sub\\d.txt"), P("sub\\deep\\e.txt")}},
      {kListByName | kListReverse,
       {P("sub\\deep\\e.txt"), P("sub\\d.txt"), P("sub2\\f.txt"), P("c.doc"), P("B.txt"), P("a.txt")}},
      {kListByTime,
       {P("sub2\\f.txt"), P("sub\\d.txt"), P("B.txt"), P("c.doc"), P("a.txt"), P("sub\\deep\\e.txt")}},
      {kListByTime | kListReverse,
       {P("sub\\deep\\e.txt"), P("a.txt"), P("c.doc"), P("B.txt"), P("sub\\d.txt"), P("sub2\\f.txt")}},
  };
  for (const Case& c : cases) {
    Array<String> list;
    Vector<int32_t> lines;
    Array<String> directories;
    FileSpecOptions options;
    options.lineIndexes = &lines;
    options.directories = &directories;
    options.flags = c.flags;
    EXPECT_EQ(ExpandFileSpecs(text.c_str(), list, options), 6);
    EXPECT_EQ(ToNames(list), c.expected) << c.flags;
    // The parallel lists follow the sort.
    ASSERT_EQ(lines.Count(), 6);
    for (int32_t i = 0; i < 6; ++i) {
      const std::string name = Str(list[i]);
      const int32_t line = name.find("sub2") != std::string::npos ? 0 : name.find("sub\\") != std::string::npos ? 2 : 1;
      EXPECT_EQ(lines[i], line) << name;
      EXPECT_EQ(Str(directories[i]), line == 0 ? P("sub2") : line == 2 ? P("sub") : root_) << name;
    }
  }
  // Both sort bits: no final sort (line order stays).
  Array<String> list;
  FileSpecOptions options;
  options.flags = kListByName | kListByTime;
  ExpandFileSpecs(text.c_str(), list, options);
  EXPECT_EQ(ToNames(list)[0], P("sub2\\f.txt"));
}

TEST_F(FileListTest, ExpandPassesTheDirectoryFlagOn) {
  Array<String> list;
  FileSpecOptions options;
  options.flags = kListDirectories | kListByName;
  EXPECT_EQ(ExpandFileSpecs(P("*.*").c_str(), list, options), 6);
  EXPECT_EQ(ToNames(list), Names({P("a.txt"), P("B.txt"), P("c.doc"), P("emptydir"), P("sub"), P("sub2")}));
}

}  // namespace
