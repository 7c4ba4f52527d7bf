// Extraction against real files: overwrite modes, version and date rules
// against files already on disk (DLLs with version resources built for the
// test), destinations and overrides, fonts, the shared-file, COM-server and
// type-library lists, shortcut requests, the uninstall list and the
// corrupt-record codes (each in a child process, whose fatal box is read).
#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "core/checksum.h"
#include "core/path.h"
#include "core/win32/path_variables.h"
#include "core/win32/system_dirs.h"
#include "install/extraction.h"
#include "runtime/installer_archive.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "tests/win32/box_answerer.h"
#include "tests/win32/entry_records.h"
#include "tests/win32/file_test_support.h"
#include "tests/win32/run_case.h"
#include "ui/progress_dialog.h"

using namespace filetest;
using namespace entrytest;

namespace {

std::string Text(const String& s) { return std::string(s.CStr(), (size_t)s.Length()); }

constexpr ArchiveDateTime kOld = {2001, 2, 3, 4, 5, 6};
constexpr ArchiveDateTime kNew = kEntryDate;  // an entry's date unless a test sets another


std::string g_region;  // the region the cursor reads; lives until the next load

// Points the archive at a region of these records. sizes, when given,
// replaces the entry-size table; cut shortens the region.
void LoadRegion(Run& run, const std::vector<Entry>& entries, const std::vector<uint32_t>* sizes = nullptr, size_t cut = 0) {
  g_region.clear();
  run.archive.header.entrySizes.Clear();
  for (const Entry& e : entries) {
    g_region += Record(e);
    if (!sizes) run.archive.header.entrySizes.Append((uint32_t)e.data.size());
  }
  if (sizes)
    for (uint32_t s : *sizes) run.archive.header.entrySizes.Append(s);
  if (cut) g_region.resize(g_region.size() - cut);
  const unsigned char* base = reinterpret_cast<const unsigned char*>(g_region.data());
  run.archive.cursor = ArchiveCursor(base, base + g_region.size());
}

void LoadMessages(Run& run) {
  Array<String> table;
  for (int i = 0; i < 80; ++i) {
    const char* text = "M";
    if (i == 13) text = "Corrupt. Error code: %d";
    if (i == 25) text = "Could not create";
    if (i == 54) text = "Installing";
    table.Append(String(text));
  }
  run.messages.Set(1, table);
}

const std::string kRoot = "C:\\ext";
const std::string kInst = kRoot + "\\inst";
const std::string kShared = kRoot + "\\shared";
const std::string kUninst = kInst + "\\un";

std::string FixturePath(const char* name) {
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  return std::string(DirectoryOf(exe).CStr()) + "\\" + name;
}

std::string System(const std::string& name) { return std::string(SystemDir().CStr()) + "\\" + name; }

void Prepare(Run& run) {
  LoadMessages(run);
  FreshDirectory("ext");
  CreateDirectoryA(kInst.c_str(), nullptr);
  CreateDirectoryA(kShared.c_str(), nullptr);
  CreateDirectoryA(kUninst.c_str(), nullptr);
  run.directories.installation = kInst.c_str();
  run.directories.shared = kShared.c_str();
  run.directories.uninstall = kUninst.c_str();
}

class ExtractionTest : public RunCase {
 protected:
  void SetUp() override { Prepare(run); }

  ProgressDialog progress{run};  // never shown: the steps only pump messages
};

TEST_F(ExtractionTest, OverwriteModesOfInstallDirectoryFiles) {
  ASSERT_TRUE(WriteRaw(kInst + "\\m8there.txt", "old"));
  ASSERT_TRUE(WriteRaw(kInst + "\\mCthere.txt", "old"));
  Entry e;
  std::vector<Entry> entries;
  auto add = [&](const char* name, uint32_t flags) {
    e.name = name;
    e.flags = flags;
    e.data = std::string("new ") + name;
    entries.push_back(e);
  };
  add("m0.txt", 0);
  add("m4.txt", kEntryNeverExtract);
  add("m8missing.txt", kEntryReplaceOnly);
  add("m8there.txt", kEntryReplaceOnly);
  add("mCthere.txt", kEntryKeepExisting);
  add("mCmissing.txt", kEntryKeepExisting);
  add("sub\\deep\\f.txt", 0);
  add("sub\\deep\\g.txt", 0);   // the directory is recorded once
  add("perm.txt", kEntryPermanent);
  add("permC.txt", kEntryPermanent | kEntryKeepExisting);
  LoadRegion(run, entries);
  ExtractEntries(run, progress);

  struct Expect {
    const char* name;
    const char* content;
  } expected[] = {
      {"m0.txt", "new m0.txt"},          {"m4.txt", "<missing>"},         {"m8missing.txt", "<missing>"},
      {"m8there.txt", "new m8there.txt"}, {"mCthere.txt", "old"},          {"mCmissing.txt", "new mCmissing.txt"},
      {"sub\\deep\\f.txt", "new sub\\deep\\f.txt"}, {"perm.txt", "new perm.txt"},
      {"permC.txt", "new permC.txt"},
  };
  for (const Expect& x : expected) EXPECT_EQ(ReadRaw(kInst + "\\" + x.name), x.content) << x.name;
  EXPECT_EQ(Text(run.uninstall.List()), kInst + "\\m0.txt\r\n" + kInst + "\\m8there.txt\r\n" + kInst +
                                       "\\mCthere.txt\r\n" + kInst + "\\mCmissing.txt\r\n~" + kInst +
                                       "\\sub\\deep\r\n" + kInst + "\\sub\\deep\\f.txt\r\n" + kInst +
                                       "\\sub\\deep\\g.txt\r\n");
  EXPECT_EQ(Text(run.texts.installLog), "");  // kind 0 has no checks and bit 20 is clear
  EXPECT_EQ(Text(run.texts.errors), "");
}

TEST_F(ExtractionTest, RemoveInstallDirFlagRecordsNothingAndVerboseLogListsWrites) {
  run.productFlags = (1ull << kFlagUninstallRemoveInstallDir) | (1ull << kFlagVerboseLog);
  Entry a;
  a.name = "dir\\a.txt";
  LoadRegion(run, {a});
  ExtractEntries(run, progress);
  EXPECT_EQ(ReadRaw(kInst + "\\dir\\a.txt"), "data");
  EXPECT_EQ(Text(run.uninstall.List()), "");
  EXPECT_EQ(Text(run.texts.installLog), "dir\\a.txt -> " + kInst + "\\dir\\a.txt\r\n");
}

TEST_F(ExtractionTest, VersionThenDateRulesOfVersionedFiles) {
  struct Case {
    const char* existing;  // fixture copied to the destination first, or null
    const char* text1;
    ArchiveDateTime when;
    uint32_t flags;
    bool replaced;
    const char* log;        // the install-log line after the path, or ""
    bool recorded;
  } cases[] = {
      {"version200_fixture.dll", "1.5", kNew, 0, false, " was not installed because its version is not newer.\r\n", true},
      {"version200_fixture.dll", "2.0", kNew, 0, false, " was not installed because its version is not newer.\r\n", true},
      {"version200_fixture.dll", "3.0", kOld, 0, false, " was not installed because its date is not newer.\r\n", true},
      {"version200_fixture.dll", "3.0", kNew, 0, true, " is out of date and will be replaced.\r\n", true},
      {"version200_fixture.dll", "", kNew, 0, true, " is out of date and will be replaced.\r\n", true},
      {"version10b_fixture.dll", "1.0b", kNew, 0, true, " is out of date and will be replaced.\r\n", true},
      {"version10b_fixture.dll", "1.0B", kNew, 0, false, " was not installed because its version is not newer.\r\n", true},
      {"noversion_fixture.dll", "1.0", kNew, 0, true, " is out of date and will be replaced.\r\n", true},
      {"version200_fixture.dll", "1.5", kNew, kEntryPermanent, false,
       " was not installed because its version is not newer.\r\n", false},
      {nullptr, "1.0", kOld, 0, true, "", true},
  };
  int i = 0;
  for (const Case& c : cases) {
    AttachedRun fresh;
    ::Run& run = fresh.run;
    Prepare(run);
    std::string name = "v";  // built by appends: GCC 12 warns wrongly about "x" + std::string
    name += std::to_string(i++);
    name += ".dll";
    const std::string path = kInst + "\\" + name;
    if (c.existing) {
      ASSERT_TRUE(CopyFileA(FixturePath(c.existing).c_str(), path.c_str(), FALSE)) << c.existing;
      ASSERT_TRUE(SetLocalWriteTime(path, 2020, 5, 5, 12, 0, 0));
    }
    const std::string before = ReadRaw(path);
    Entry e;
    e.name = name;
    e.kind = kKindVersioned;
    e.flags = c.flags;
    e.text1 = c.text1;
    e.when = c.when;
    e.data = "replacement bytes";
    LoadRegion(run, {e});
    ProgressDialog progress(run);
    ExtractEntries(run, progress);
    EXPECT_EQ(ReadRaw(path), c.replaced ? e.data : before) << name;
    std::string expectedLog;
    if (*c.log) expectedLog = path + c.log;
    EXPECT_EQ(Text(run.texts.installLog), expectedLog) << name;
    EXPECT_EQ(Text(run.uninstall.List()), c.recorded ? path + "\r\n" : "") << name;
  }
}

TEST_F(ExtractionTest, SharedFilesDateRuleAndLists) {
  const std::string newer = kShared + "\\newer.dll", older = kShared + "\\older.dll";
  ASSERT_TRUE(WriteRaw(newer, "on disk"));
  ASSERT_TRUE(WriteRaw(older, "on disk"));
  ASSERT_TRUE(SetLocalWriteTime(newer, 2050, 1, 1, 0, 0, 0));
  ASSERT_TRUE(SetLocalWriteTime(older, 2000, 1, 1, 0, 0, 0));
  std::vector<Entry> entries(8);
  entries[0].name = "newer.dll";
  entries[0].kind = kKindSharedDir;
  entries[0].when = {2040, 1, 1, 0, 0, 0};
  entries[1].name = "older.dll";
  entries[1].kind = kKindSharedDir;
  entries[1].flags = kEntryPermanent;
  entries[2].name = "trux_com.dll";
  entries[2].kind = kKindComServer;
  entries[2].text1 = "1.0";
  entries[3].name = "trux_com.dll";  // the same again, now skipped as not newer: still listed
  entries[3].kind = kKindComServer;
  entries[3].text1 = "1.0";
  entries[4].name = "trux_perm_com.dll";
  entries[4].kind = kKindComServer;
  entries[4].flags = kEntryPermanent;
  entries[5].name = "trux.tlb";
  entries[5].kind = kKindTypeLibrary;
  entries[6].name = "trux_sys.dll";
  entries[6].kind = kKindSystemPermanent;
  entries[7].name = "undated.dll";
  entries[7].kind = kKindSharedDir;
  entries[7].when = {0, 0, 0, -1, 0, 0};
  ASSERT_TRUE(WriteRaw(kShared + "\\undated.dll", "on disk"));
  for (const char* n : {"trux_com.dll", "trux_perm_com.dll", "trux.tlb", "trux_sys.dll"}) DeleteFileA(System(n).c_str());
  LoadRegion(run, entries);
  ExtractEntries(run, progress);

  EXPECT_EQ(ReadRaw(newer), "on disk");
  EXPECT_EQ(ReadRaw(older), "data");
  EXPECT_EQ(ReadRaw(kShared + "\\undated.dll"), "data");  // no date: always out of date
  EXPECT_EQ(ReadRaw(System("trux_com.dll")), "data");
  std::vector<std::string> shared;
  for (const String& s : run.extraction.sharedFiles) shared.push_back(Text(s));
  const std::vector<std::string> expectedShared = {
      newer, older + " ", System("trux_com.dll") + "^", System("trux_com.dll") + "^", System("trux_perm_com.dll") + " ",
      System("trux.tlb") + "\xA9", System("trux_sys.dll") + " ", kShared + "\\undated.dll"};
  EXPECT_EQ(shared, expectedShared);
  ASSERT_EQ(run.extraction.comServers.Count(), 3);
  EXPECT_EQ(Text(run.extraction.comServers[1]), System("trux_com.dll"));
  ASSERT_EQ(run.extraction.typeLibraries.Count(), 1);
  EXPECT_EQ(Text(run.extraction.typeLibraries[0]), System("trux.tlb"));
  const std::string log = Text(run.texts.installLog);
  EXPECT_NE(log.find(newer + " is up to date.\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find(older + " is out of date and will be replaced.\r\n"), std::string::npos) << log;
  EXPECT_NE(log.find(System("trux_com.dll") + " was not installed because its"), std::string::npos) << log;
  EXPECT_EQ(Text(run.uninstall.List()), "");  // shared and system kinds are never recorded
}

TEST_F(ExtractionTest, DestinationOverrides) {
  std::vector<Entry> entries(5);
  entries[0].name = "orig.txt";
  entries[0].text4 = "renamed.txt";  // a new name in the default directory
  entries[1].name = "dir\\sys_override.txt";
  entries[1].text4 = "%SystemDir%\\";
  entries[2].name = "to_uninstall_dir.txt";
  entries[2].kind = 2;  // not a valid kind, but the destination does not depend on it
  entries[2].flags = kEntryToUninstallDir;
  entries[3].name = "rel.txt";
  entries[3].text4 = "made\\here\\";  // relative to the install directory, in-tree
  entries[4].name = "s.txt";
  entries[4].kind = kKindSharedDir;
  entries[4].text4 = "sub\\shared_named.txt";  // relative to the shared directory
  DeleteFileA(System("sys_override.txt").c_str());
  LoadRegion(run, entries);
  ExtractEntries(run, progress);
  EXPECT_EQ(ReadRaw(kInst + "\\renamed.txt"), "data");
  EXPECT_FALSE(Exists(kInst + "\\orig.txt"));
  EXPECT_EQ(ReadRaw(System("sys_override.txt")), "data");
  EXPECT_EQ(ReadRaw(kUninst + "\\to_uninstall_dir.txt"), "data");
  EXPECT_EQ(ReadRaw(kInst + "\\made\\here\\rel.txt"), "data");
  EXPECT_EQ(ReadRaw(kShared + "\\sub\\shared_named.txt"), "data");  // in-tree: its directory was created
  EXPECT_EQ(Text(run.uninstall.List()), kInst + "\\renamed.txt\r\n~" + std::string(SystemDir().CStr()) + "\r\n" +
                                       System("sys_override.txt") + "\r\n~" + kInst + "\\made\\here\r\n" + kInst +
                                       "\\made\\here\\rel.txt\r\n");
  EXPECT_EQ(Text(run.texts.errors), "");
}

TEST_F(ExtractionTest, DirectoryThatCannotBeCreatedSkipsTheEntry) {
  ASSERT_TRUE(WriteRaw(kInst + "\\blocker", "a file where a directory should be"));
  std::vector<Entry> entries(2);
  entries[0].name = "blocker\\x.txt";
  entries[1].name = "after.txt";
  LoadRegion(run, entries);
  ExtractEntries(run, progress);
  const std::string errors = Text(run.texts.errors);
  EXPECT_EQ(errors.rfind("Could not create " + kInst + "\\blocker\r\n", 0), 0u) << errors;
  EXPECT_NE(errors.find("\r\nNot installed: " + kInst + "\\blocker\\x.txt\r\n\r\n"), std::string::npos) << errors;
  EXPECT_EQ(ReadRaw(kInst + "\\after.txt"), "data");  // the loop goes on
  EXPECT_EQ(Text(run.uninstall.List()), kInst + "\\after.txt\r\n");
}

TEST_F(ExtractionTest, FontsAreRegisteredAndListed) {
  const std::string fonts = std::string(FontDir().CStr());
  std::vector<Entry> entries(2);
  entries[0].name = "TruxTest.ttf";
  entries[0].kind = kKindFont;
  entries[0].text1 = "Trux Test (TrueType)";
  entries[1].name = "TruxPerm.ttf";
  entries[1].kind = kKindFont;
  entries[1].flags = kEntryPermanent;
  entries[1].text1 = "Trux Perm (TrueType)";
  for (const Entry& e : entries) DeleteFileA((fonts + "\\" + e.name).c_str());
  LoadRegion(run, entries);
  ExtractEntries(run, progress);
  EXPECT_EQ(ReadRaw(fonts + "\\TruxTest.ttf"), "data");
  EXPECT_EQ(Text(run.extraction.fontText), "\"Trux Test (TrueType)\" \"TruxTest.ttf\" ");
  EXPECT_TRUE(run.extraction.fontAdded);
  char value[MAX_PATH] = "";
  DWORD size = sizeof value;
  EXPECT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
                         "Trux Perm (TrueType)", RRF_RT_REG_SZ, nullptr, value, &size),
            ERROR_SUCCESS);
  EXPECT_STREQ(value, "TruxPerm.ttf");
  EXPECT_EQ(Text(run.uninstall.List()), "");

  // Installed again by another run: up to date (same date), not registered
  // again, nothing listed.
  AttachedRun again;
  Prepare(again.run);
  LoadRegion(again.run, {entries[0]});
  ProgressDialog againProgress(again.run);
  ExtractEntries(again.run, againProgress);
  EXPECT_EQ(Text(again.run.extraction.fontText), "");
  EXPECT_FALSE(again.run.extraction.fontAdded);
  EXPECT_EQ(Text(again.run.texts.installLog), fonts + "\\TruxTest.ttf is up to date.\r\n");
}

TEST_F(ExtractionTest, ShortcutRequestsFromEntries) {
  run.archive.settings.shortcuts.Append().name = "from the archive";
  std::vector<Entry> entries(3);
  entries[0].name = "app.exe";
  entries[0].flags = kEntryDesktopShortcut | kEntryStartMenuShortcut | kEntryPermanent;
  entries[0].text1 = "App";
  entries[0].text2 = "app.ico";
  entries[0].text3 = "/x";
  entries[0].text5 = "C:\\work";
  entries[1].name = "tray.exe";
  entries[1].kind = kKindStartup;
  entries[1].text1 = "Tray";
  entries[2].name = "plain.exe";
  entries[2].text1 = "No shortcut";
  LoadRegion(run, entries);
  ExtractEntries(run, progress);
  // The requests are the run's; the archive's parsed records stay as read.
  ASSERT_EQ(run.archive.settings.shortcuts.Count(), 1);
  ASSERT_EQ(run.extraction.shortcuts.Count(), 2);
  const ShortcutRecord& a = run.extraction.shortcuts[0];
  EXPECT_EQ(Text(a.target), kInst + "\\app.exe");
  EXPECT_EQ(Text(a.name), "App");
  EXPECT_EQ(Text(a.iconFile), "app.ico");
  EXPECT_EQ(Text(a.arguments), "/x");
  EXPECT_EQ(Text(a.workingDirectory), "C:\\work");
  EXPECT_EQ(a.desktop + 10 * a.startMenu + 100 * a.startup + 1000 * a.permanent, 1011);
  EXPECT_FALSE(a.expandTarget);
  const ShortcutRecord& b = run.extraction.shortcuts[1];
  EXPECT_EQ(Text(b.target), kInst + "\\tray.exe");
  EXPECT_EQ(b.desktop + 10 * b.startMenu + 100 * b.startup + 1000 * b.permanent, 100);
  EXPECT_EQ(Text(b.iconFile), "");
}

TEST_F(ExtractionTest, EmptyArchiveTouchesNothing) {
  LoadRegion(run, {});
  ExtractEntries(run, progress);
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((kInst + "\\*").c_str(), &found);
  int names = 0;
  if (h != INVALID_HANDLE_VALUE) {
    do names += strcmp(found.cFileName, ".") && strcmp(found.cFileName, "..") ? 1 : 0;
    while (FindNextFileA(h, &found));
    FindClose(h);
  }
  EXPECT_EQ(names, 1);  // only the uninstall directory made by the test
  EXPECT_EQ(Text(run.uninstall.List()), "");
  EXPECT_EQ(run.extraction.sharedFiles.Count(), 0);
  EXPECT_EQ(Text(run.texts.errors) + Text(run.texts.installLog), "");
}

// Each corrupt case runs in a child that reports the fatal box on stderr.
struct CorruptCase {
  const char* name;
  int code;
  bool firstWritten;  // the valid first entry was written before the corrupt one was met
};
const CorruptCase kCorruptCases[] = {
    {"empty-name", 70, true},   {"parent-name", 70, true}, {"absolute-name", 70, true},
    {"negative-size", 71, true}, {"huge-size", 72, true},  {"checksum", 100, true},
    {"kind", 110, true},        {"truncated", 46, true},   {"short-size-table", 46, true},
};

void RunCorruptCase(const std::string& which) {
  AttachedRun fresh;  // the process ends in its fatal path
  Run& run = fresh.run;
  Prepare(run);
  Entry good;
  good.name = "first.txt";
  Entry bad;
  bad.name = "second.txt";
  std::vector<uint32_t> sizes = {4, 4};
  const std::vector<uint32_t>* sizeTable = nullptr;
  size_t cut = 0;
  if (which == "empty-name") bad.name = "";
  if (which == "parent-name") bad.name = "a\\..\\..\\escape.txt";
  if (which == "absolute-name") bad.name = "C:\\escape.txt";
  if (which == "kind") bad.kind = 3;
  if (which == "negative-size") sizes[1] = 0x80000000u, sizeTable = &sizes;
  if (which == "huge-size") sizes[1] = 0x40000001u, sizeTable = &sizes;
  if (which == "short-size-table") sizes[1] = 400, sizeTable = &sizes;
  if (which == "truncated") cut = 3;
  std::string checksumBroken;
  LoadRegion(run, {good, bad}, sizeTable, cut);
  if (which == "checksum") g_region[Record(good).size() + strlen("second.txt") + 1 + 12] ^= 1;
  BoxAnswerer box(IDOK, 20000, PrintBoxToStderr);
  ProgressDialog progress(run);
  ExtractEntries(run, progress);
  fprintf(stderr, "not ended\n");
}

TEST(ExtractionCorrupt, EveryCorruptRecordEndsWithItsCode) {
  for (const CorruptCase& c : kCorruptCases) {
    std::string output;
    // A directory of its own per child: a child that has just ended may still
    // hold its output file for a moment.
    const std::string scratch = FreshDirectory(std::string("corrupt_") + c.name);
    const int exitCode = RunSelfForLines(std::string("--corrupt ") + c.name, output, scratch);
    EXPECT_EQ(exitCode, 1) << c.name;
    EXPECT_NE(output.find("caption=FATAL ERROR\ntext=Corrupt. Error code: " + std::to_string(c.code) + "\n"),
              std::string::npos)
        << c.name << ": " << output;
    EXPECT_EQ(output.find("not ended"), std::string::npos) << c.name;
    EXPECT_EQ(ReadRaw(kInst + "\\first.txt"), c.firstWritten ? "data" : "<missing>") << c.name;
    EXPECT_FALSE(Exists(kInst + "\\second.txt")) << c.name;
    EXPECT_FALSE(Exists("C:\\escape.txt")) << c.name;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "--corrupt") == 0) {
    RunCorruptCase(argv[2]);
    return 3;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
