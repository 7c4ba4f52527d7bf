// Deletion records on a real tree: every condition (dates with and without a
// time, sizes), several names and recursion, read-only files, a file held by
// another process with and without the reboot option, and an unparsable date
// that must delete nothing at all.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "core/win32/path_variables.h"
#include "install/deletion_records.h"
#include "install/file_writer.h"
#include "runtime/installer_archive.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "tests/win32/box_answerer.h"
#include "tests/win32/file_test_support.h"
#include "tests/win32/run_case.h"

using namespace filetest;

namespace {

std::string Text(const String& s) { return std::string(s.CStr(), (size_t)s.Length()); }

const std::string kInst = "C:\\del\\inst";

struct TreeFile {
  const char* name;
  int size;
  WORD year, month, day, hour, minute;
};
const TreeFile kTree[] = {
    {"a.tmp", 10, 2018, 1, 1, 0, 0},    {"b.tmp", 10, 2018, 1, 1, 0, 0},    {"ro.tmp", 10, 2018, 1, 1, 0, 0},
    {"sub\\c.tmp", 10, 2018, 1, 1, 0, 0}, {"empty.txt", 0, 2018, 1, 1, 0, 0}, {"small.bin", 1000, 2018, 1, 1, 0, 0},
    {"big.bin", 2000, 2018, 1, 1, 0, 0},  {"d1.txt", 10, 2019, 6, 5, 10, 0},  {"d2.txt", 10, 2019, 6, 5, 18, 30},
    {"d3.txt", 10, 2019, 6, 6, 9, 0},
};

void MakeTree() {
  FreshDirectory("del");
  CreateDirectoryA(kInst.c_str(), nullptr);
  CreateDirectoryA((kInst + "\\sub").c_str(), nullptr);
  for (const TreeFile& f : kTree) {
    const std::string path = kInst + "\\" + f.name;
    WriteRaw(path, std::string((size_t)f.size, 'x'));
    SetLocalWriteTime(path, f.year, f.month, f.day, f.hour, f.minute, 0);
  }
  SetFileAttributesA((kInst + "\\ro.tmp").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
}

std::set<std::string> Missing() {
  std::set<std::string> gone;
  for (const TreeFile& f : kTree)
    if (!Exists(kInst + "\\" + f.name)) gone.insert(f.name);
  return gone;
}

void Prepare(Run& run) {
  Array<String> table;
  for (int i = 0; i < 80; ++i) table.Append(String(i == 13 ? "Corrupt. Error code: %d" : "M"));
  run.messages.Set(1, table);
  run.directories.installation = kInst.c_str();
  MakeTree();
}

void AddRecord(Run& run, const char* spec, uint8_t condition, const char* argument, uint32_t options = 0) {
  FileDeletion& d = run.archive.settings.deletions.Append();
  d.specification = spec;
  d.condition = condition;
  d.argument = argument;
  d.options = options;
}

TEST(DeletionRecords, ConditionsOnARealTree) {
  struct Case {
    const char* spec;
    uint8_t condition;
    const char* argument;
    std::set<std::string> deleted;
  } cases[] = {
      {"%InstallDir%\\*.tmp", 0, "", {"a.tmp", "b.tmp", "ro.tmp"}},  // not the subdirectory's
      {"*.tmp /s", 9, "", {"a.tmp", "b.tmp", "ro.tmp", "sub\\c.tmp"}},
      {"*.bin;empty.txt", 0, "", {"small.bin", "big.bin", "empty.txt"}},
      {"*.*", 4, "0", {"empty.txt"}},
      {"*.bin", 4, "1000", {"small.bin"}},
      {"*.bin", 5, "size 1500", {"big.bin"}},
      {"*.bin", 6, "1024", {"small.bin"}},
      {"*.bin", 6, "-5", {}},
      {"d*.txt", 1, "6/5/2019", {"d1.txt", "d2.txt"}},
      {"d*.txt", 1, "6/5/2019 18:30:00", {"d2.txt"}},
      {"d*.txt", 2, "6/5/2019", {"d1.txt", "d2.txt", "d3.txt"}},
      {"d*.txt", 2, "6/5/2019 12:00", {"d2.txt", "d3.txt"}},
      {"d*.txt", 3, "6/5/2019 12:00", {"d1.txt"}},
      {"d*.txt", 3, "6/5/2019", {"d1.txt", "d2.txt"}},
      {"nothing*.xyz", 0, "", {}},
      {"C:\\del\\missing\\*.*", 0, "", {}},
  };
  for (const Case& c : cases) {
    AttachedRun fresh;
    ::Run& run = fresh.run;
    Prepare(run);
    AddRecord(run, c.spec, c.condition, c.argument);
    ApplyDeletionRecords(run);
    EXPECT_EQ(Missing(), c.deleted) << c.spec << " condition " << (int)c.condition << " " << c.argument;
    std::string expectedLog;
    for (const TreeFile& f : kTree)
      if (c.deleted.count(f.name)) expectedLog += "Deleted file: " + kInst + "\\" + f.name + "\r\n";
    // The log follows the listing order: compare as sets of lines.
    std::multiset<std::string> logLines, expectedLines;
    std::string log = Text(run.texts.installLog);
    for (size_t at; (at = log.find("\r\n")) != std::string::npos; log.erase(0, at + 2)) logLines.insert(log.substr(0, at));
    for (size_t at; (at = expectedLog.find("\r\n")) != std::string::npos; expectedLog.erase(0, at + 2))
      expectedLines.insert(expectedLog.substr(0, at));
    EXPECT_EQ(logLines, expectedLines) << c.spec;
    EXPECT_EQ(log, "");  // nothing after the last line break
    EXPECT_EQ(Text(run.texts.errors), "");
    EXPECT_EQ(Text(run.archive.settings.deletions[0].specification).find('%'), std::string::npos);  // expanded in place
  }
}

TEST(DeletionRecords, HeldFileIsLoggedOrScheduled) {
  for (uint32_t options : {0u, (uint32_t)kDeletionScheduleOnFailure}) {
    AttachedRun fresh;
    ::Run& run = fresh.run;
    Prepare(run);
    const std::string held = kInst + "\\a.tmp";
    FileHolder holder(held);
    ASSERT_TRUE(holder.Holding());
    AddRecord(run, "a.tmp", 0, "", options);
    ApplyDeletionRecords(run);
    const std::string log = Text(run.texts.installLog);
    if (options) {
      EXPECT_EQ(log.rfind("File '" + held + "' will be deleted after rebooting: ", 0), 0u) << log;
      EXPECT_TRUE(IsRebootRequired(run));
      EXPECT_EQ(Text(run.texts.errors), "");
    } else {
      EXPECT_EQ(log.rfind("Failed to delete file '" + held + "': ", 0), 0u) << log;
      EXPECT_GT(log.size(), std::string("Failed to delete file '" + held + "': \r\n").size());  // the system's reason
      EXPECT_FALSE(IsRebootRequired(run));
    }
    holder.Release();
    EXPECT_TRUE(Exists(held));
  }
}

void RunCorruptDate() {
  AttachedRun fresh;  // the process ends in its fatal path
  Run& run = fresh.run;
  Prepare(run);
  AddRecord(run, "*.tmp", 0, "");
  AddRecord(run, "*.bin", 5, "0");
  AddRecord(run, "d*.txt", 2, "no date here");
  BoxAnswerer box(IDOK, 20000, PrintBoxToStderr);
  ApplyDeletionRecords(run);
  fprintf(stderr, "not ended\n");
}

TEST(DeletionRecords, UnparsableDateDeletesNothing) {
  std::string output;
  EXPECT_EQ(RunSelfForLines("--corrupt-date", output, "C:\\"), 1);
  EXPECT_NE(output.find("caption=FATAL ERROR\ntext=Corrupt. Error code: 65\n"), std::string::npos) << output;
  EXPECT_EQ(output.find("not ended"), std::string::npos);
  EXPECT_EQ(Missing(), std::set<std::string>());  // the earlier records deleted nothing either
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && strcmp(argv[1], "--hold") == 0) return FileHolder::HoldMain(argv[2], argv[3], argv[4]);
  if (argc == 2 && strcmp(argv[1], "--corrupt-date") == 0) {
    RunCorruptDate();
    return 3;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
