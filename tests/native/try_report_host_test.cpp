// The report of truxpack try without Wine: what the robot prints read back,
// changes grouped as a person thinks of them, the verdict and exit code,
// and the JSON document checked against its published schema.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <iterator>

#include <string>
#include <vector>

#include "tests/native/truxpack_test_support.h"
#include "tools/truxpack/try_report.h"

using namespace trux_test;

namespace {

TEST(TryReport, RobotReportIsReadBack) {
  const std::string out =
      "box FATAL ERROR\n"
      "text Corrupt archive\\r\\nError code: 3\\xE9\n"
      "button 1 OK\n"
      "default 1\n"
      "answer 1\n"
      "dialog Password\n"
      "text Enter the password:\\nIt is case sensitive\n"
      "button 1 OK\n"
      "button 2 Cancel\n"
      "default 1\n"
      "answer 2\n"
      "1\n";
  const std::vector<ShownWindow> w = ParseRobotReport(out);
  ASSERT_EQ(2u, w.size());
  EXPECT_FALSE(w[0].dialog);
  EXPECT_EQ("FATAL ERROR", w[0].caption);
  EXPECT_EQ("Corrupt archive\r\nError code: 3\xc3\xa9", w[0].text);
  ASSERT_EQ(1u, w[0].buttons.size());
  EXPECT_EQ(1, w[0].buttons[0].first);
  EXPECT_EQ("OK", w[0].buttons[0].second);
  EXPECT_TRUE(w[1].dialog);
  EXPECT_EQ("Enter the password:\nIt is case sensitive", w[1].text);
  EXPECT_EQ(2u, w[1].buttons.size());
  EXPECT_EQ(1, w[1].defaultButton);
  EXPECT_EQ(2, w[1].answer);
  ProgramRun run;
  run.windows = w;
  EXPECT_TRUE(run.Fatal());
  EXPECT_TRUE(ParseRobotReport("1\n").empty());
}

Difference Value(const std::string& key, const std::string& name, const std::string& data = "\"x\"") {
  Difference d;
  d.kind = ItemKind::kValue;
  d.path = key;
  d.name = name;
  d.dataAfter = data;
  return d;
}

Difference FileItem(const std::string& path, ItemKind kind = ItemKind::kFile) {
  Difference d;
  d.kind = kind;
  d.path = path;
  d.after.size = 5;
  return d;
}

TEST(TryReport, ChangesAreGroupedAsPeopleThinkOfThem) {
  struct Case {
    Difference d;
    ReportGroup group;
  } cases[] = {
      {FileItem("Program Files/Demo/readme.txt"), ReportGroup::kFiles},
      {FileItem("Program Files/Demo", ItemKind::kDirectory), ReportGroup::kFiles},
      {FileItem("users/me/Desktop/Demo.LNK"), ReportGroup::kShortcuts},
      {FileItem("users/me/Desktop/Demo.lnk.d", ItemKind::kDirectory), ReportGroup::kFiles},
      {FileItem("windows/Fonts/demo.ttf"), ReportGroup::kFonts},
      {FileItem("windows/wininit.ini"), ReportGroup::kRestartReplacements},
      {FileItem("Program Files/Demo/Install.LOG"), ReportGroup::kInstallLog},
      {Value("HKEY_LOCAL_MACHINE\\Software\\Classes\\.demo", ""), ReportGroup::kAssociations},
      {Value("HKEY_CURRENT_USER\\Software\\Classes\\Demo.Doc\\shell\\open\\command", ""), ReportGroup::kAssociations},
      {Value("HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{1}\\InprocServer32", ""), ReportGroup::kComRegistrations},
      {Value("HKEY_LOCAL_MACHINE\\Software\\Classes\\TypeLib\\{2}\\1.0", ""), ReportGroup::kComRegistrations},
      {Value("HKEY_LOCAL_MACHINE\\Software\\Classes\\Interface\\{3}", ""), ReportGroup::kComRegistrations},
      {Value("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts", "Demo (TrueType)"),
       ReportGroup::kFonts},
      {Value("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", "C:\\x.dll",
             "dword:00000001"),
       ReportGroup::kSharedCounts},
      {Value("HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager",
             "PendingFileRenameOperations", "str(7):\"\\\\??\\\\C:\\\\a\\0\\0\""),
       ReportGroup::kRestartReplacements},
      {Value("HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager", "Other"), ReportGroup::kRegistry},
      {Value("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Demo", "UninstallString"),
       ReportGroup::kUninstallEntry},
      {Value("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Demo", "DisplayName"),
       ReportGroup::kUninstallEntry},
      {Value("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\UninstallX", "v"), ReportGroup::kRegistry},
      {Value("HKEY_LOCAL_MACHINE\\Software\\Demo Team\\Demo", "Path"), ReportGroup::kRegistry},
  };
  for (const Case& c : cases) EXPECT_EQ((int)c.group, (int)GroupOf(c.d)) << c.d.path << " " << c.d.name;
}

TryReport CleanDemo() {
  TryReport r;
  r.installer = "/work/setup.exe";
  r.product = "Demo";
  r.version = "1.0";
  r.wineVersion = "wine-8.0";
  r.install.ran = true;
  r.install.exitCode = 1;
  r.install.commandLine = "\"Z:\\work\\setup.exe\" /a";
  Difference key = Value("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Demo", "");
  key.kind = ItemKind::kKey;
  key.name.clear();
  r.installChanges = {FileItem("Program Files/Demo/readme.txt"), key,
                      Value(key.path, "UninstallString", "\"C:\\\\Demo\\\\Uninstall.exe /u:\\\"Demo\\\"\"")};
  r.uninstallEntries = {key.path};
  ProgramRun removal = r.install;
  removal.commandLine = "C:\\Demo\\Uninstall.exe /u:\"Demo\" /a";
  r.uninstall = {removal};
  r.leftChecked = true;
  Difference console = Value("HKEY_CURRENT_USER\\Console", "ScreenSize", "dword:00190050");
  console.housekeeping = "Wine's console host stores its defaults";
  r.left = {console};
  return r;
}

TEST(TryReport, VerdictAndExitCode) {
  struct Case {
    const char* name;
    void (*change)(TryReport&);
    int exitCode;
    bool installed;
    const char* problem;  // the first problem, or ""
  } cases[] = {
      {"clean: installed, removed, only Wine's housekeeping left", [](TryReport&) {}, 0, true, ""},
      {"a fatal box", [](TryReport& r) { r.install.windows = ParseRobotReport("box FATAL ERROR\ntext Disk full\nbutton 1 OK\ndefault 1\nanswer 1\n"); },
       1, false, "the installer showed a message box \"FATAL ERROR\": Disk full"},
      {"a time-out", [](TryReport& r) { r.install.timedOut = true; r.install.exitCode = -1; r.install.problem = "still running"; },
       1, false, "the installer did not end within the time limit: still running"},
      {"another exit code", [](TryReport& r) { r.install.exitCode = 3; }, 1, false,
       "the installer ended with exit code 3 (the runtime always ends with 1)"},
      {"not run", [](TryReport& r) { r.install.ran = false; r.install.problem = "cannot copy"; }, 1, false,
       "the installer could not be run: cannot copy"},
      {"no Uninstall entry", [](TryReport& r) { r.uninstallEntries.clear(); r.uninstall.clear(); }, 1, true,
       "the installation made no Uninstall entry with an UninstallString: nothing removes the product"},
      {"a file left behind", [](TryReport& r) { r.left.push_back(FileItem("Program Files/Demo/held.txt")); }, 1, true,
       "1 item was left behind"},
      {"the batch did not finish", [](TryReport& r) { r.batchProblem = "the batch did not finish"; }, 1, true,
       "the batch did not finish"},
      {"a box of the uninstaller", [](TryReport& r) { r.uninstall[0].windows = ParseRobotReport("box Warning\ntext Unable to remove\nbutton 1 OK\ndefault 1\nanswer 1\n"); },
       1, true, "the uninstaller showed a message box \"Warning\": Unable to remove"},
      {"a snapshot failed after the installation", [](TryReport& r) { r.failure = "the snapshot after the removal: x"; },
       1, true, "the try could not go on: the snapshot after the removal: x"},
      {"--no-uninstall: the left-behind check is not made", [](TryReport& r) { r.uninstallWanted = false; r.left.push_back(FileItem("x")); },
       0, true, ""},
  };
  for (const Case& c : cases) {
    TryReport r = CleanDemo();
    c.change(r);
    JudgeTry(r);
    EXPECT_EQ(c.exitCode, r.exitCode) << c.name;
    EXPECT_EQ(c.installed, r.installed) << c.name;
    EXPECT_EQ(c.problem, r.problems.empty() ? std::string() : r.problems[0]) << c.name;
  }
}

std::string Printed(const TryReport& r, bool json) {
  TempDir dir;
  const std::string path = (dir.path / "report").string();
  FILE* f = fopen(path.c_str(), "w");
  if (json) PrintJsonReport(r, f);
  else PrintTextReport(r, f);
  fclose(f);
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(TryReport, TextShowsGroupsKeysWithTheirValuesAndTheResult) {
  TryReport r = CleanDemo();
  JudgeTry(r);
  const std::string text = Printed(r, false);
  for (const char* line : {
           "truxpack try /work/setup.exe: Demo 1.0, under wine-8.0\n",
           "  Files and directories (1):\n    + file C:\\Program Files\\Demo\\readme.txt (5 bytes)\n",
           "  Uninstall entry (1 key, 1 value):\n"
           "    + HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Demo\n"
           "        + \"UninstallString\" = \"C:\\Demo\\Uninstall.exe /u:\"Demo\"\"\n",
           "Removal: C:\\Demo\\Uninstall.exe /u:\"Demo\" /a\n  ended after 0.0 s with exit code 1; no message box or dialog\n",
           "Left behind: nothing\n  Wine's own housekeeping (not counted):\n    Wine's console host stores its defaults:\n      (1 values)\n",
           "Result: the installation succeeded and its removal left nothing behind\n",
       })
    EXPECT_NE(std::string::npos, text.find(line)) << line << "\n---\n" << text;
}

// The JSON document of a clean and of a failed try, checked against
// docs/try-report.schema.json by the checker the end-to-end tests use.
TEST(TryReport, JsonConformsToItsSchema) {
  if (system("python3 -c 'import json' >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is not installed";
  const std::string root = TRUX_SOURCE_ROOT;
  TryReport clean = CleanDemo();
  TryReport failed = CleanDemo();
  failed.install.windows = ParseRobotReport("box FATAL ERROR\ntext \"quoted\"\\\\ and \\x01\nbutton 1 OK\ndefault 1\nanswer 1\n");
  failed.uninstallWanted = false;
  failed.keptPrefix = "/tmp/kept";
  for (TryReport* r : {&clean, &failed}) {
    JudgeTry(*r);
    TempDir dir;
    dir.Write("report.json", Printed(*r, true));
    const std::string command = "python3 " + root + "/tests/e2e/lib/schema_check.py " + root +
                                "/docs/try-report.schema.json " + (dir.path / "report.json").string();
    EXPECT_EQ(0, system(command.c_str())) << Printed(*r, true);
  }
  // The checker can fail: a document without a required field does.
  TempDir dir;
  dir.Write("bad.json", "{\"schema\": 1}");
  const std::string command = "python3 " + root + "/tests/e2e/lib/schema_check.py " + root +
                              "/docs/try-report.schema.json " + (dir.path / "bad.json").string() + " >/dev/null";
  EXPECT_NE(0, system(command.c_str()));
}

}  // namespace
