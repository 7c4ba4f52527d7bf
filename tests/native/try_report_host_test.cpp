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

// A run log as a summary line per entry: "box|CAPTION|ANSWER|TEXT" (or
// dialog), "error|TEXT", then "exit N" and "gap" when the log says so.
std::string Summary(const RunLog& log) {
  std::string out;
  for (const ShownWindow& w : log.windows) {
    EXPECT_FALSE(w.shown) << w.caption;
    out += std::string(w.dialog ? "dialog|" : "box|") + w.caption + "|" + std::to_string(w.answer) + "|" + w.text + "\n";
  }
  for (const std::string& e : log.errors) out += "error|" + e + "\n";
  if (log.exitCode >= 0) out += "exit " + std::to_string(log.exitCode) + "\n";
  if (log.gapMayHideEntries) out += "gap\n";
  return out;
}

// A run log's start, as the runtime writes it.
const std::string kLogStart =
    "\r\nRun of Z:\\work\\setup.exe at 2026-03-02 09:14:05\r\nCommand line: /s /l:\"Z:\\work\\install.log\"\r\n"
    "Product: Product, version 2.1\r\nInstallation directory: C:\\Program Files\\Product\r\n";

TEST(TryReport, RunLogIsReadBack) {
  const std::string huge(2u << 20, 'x');
  static const char kNul[] = "Message box \"a\0b\" (not shown), answered OK:\r\n  x\ry\r\n";
  struct Case {
    const char* name;
    std::string log;
    const char* expected;
  } cases[] = {
      {"empty", "", ""},
      {"no box", kLogStart + "Install log:\r\n  Created C:\\x\r\nExit code: 0 (completed)\r\n", "exit 0\n"},
      {"one box of several lines, one of them empty, and the install log after it",
       kLogStart +
           "Message box \"Question\" (not shown), answered No:\r\n"
           "  The computer must be restarted to complete the installation of Product.\r\n\r\n  Restart now?\r\n"
           "Install log:\r\n\r\n  Error writing C:\\Program Files\\Product\\app.exe\r\n  Reboot will be required.\r\n\r\n"
           "Exit code: 3010 (completed; a restart is needed to finish)\r\n",
       "box|Question|7|The computer must be restarted to complete the installation of Product.\n\nRestart now?\n"
       "exit 3010\n"},
      {"several: boxes, a cancelled dialog, a shown box (the robot reads those), the error texts",
       kLogStart +
           "Message box \"Warning\" (not shown), answered OK:\r\n  Low on disk space\r\n"
           "Dialog \"EnterPassword\" (not shown), answered Cancel\r\n"
           "Message box \"Shown\", answered Yes:\r\n  read by the robot\r\n"
           "Error report (not shown in automatic mode):\r\n  Error writing a.txt\r\n  Access denied\r\n"
           "Message box \"Retry?\" (not shown), answered Cancel:\r\n"
           "Corrupt archive: error code 3\r\n"
           "Errors:\r\n  Error writing a.txt\r\nExit code: 1602 (cancelled)\r\n",
       "box|Warning|1|Low on disk space\ndialog|EnterPassword|2|\nbox|Retry?|2|\n"
       "error|Error writing a.txt\nAccess denied\nerror|Error writing a.txt\nexit 1602\n"},
      {"two runs in one log: the last exit code",
       kLogStart + "Exit code: 0 (completed)\r\n" + kLogStart +
           "Message box \"FATAL ERROR\" (not shown), answered OK:\r\n  Corrupt\r\nExit code: 1603 (failed)\r\n",
       "box|FATAL ERROR|1|Corrupt\nexit 1603\n"},
      {"LF line ends and a text that begins with an empty line",
       "Message box \"A\" (not shown), answered OK:\n\n  after an empty line\nExit code: 0 (completed)\n",
       "box|A|1|\nafter an empty line\nexit 0\n"},
      {"cut short while a box was written: the lines there are kept, no exit code",
       kLogStart + "Message box \"Error\" (not shown), answered Abort:\r\n  first line\r\n  second li",
       "box|Error|3|first line\nsecond li\n"},
      {"Windows-1252 text as UTF-8",
       "Message box \"Caf\xE9\" (not shown), answered OK:\r\n  \x80 5\r\n", "box|Caf\xC3\xA9|1|\xE2\x82\xAC 5\n"},
      {"a caption that holds the heading's own words: the last ones count",
       "Message box \"a\", answered Yes:\" (not shown), answered No:\r\n  t\r\n", "box|a\", answered Yes:|7|t\n"},
      {"an answer the runtime does not give: none", "Message box \"A\" (not shown), answered Maybe:\r\n", "box|A|0|\n"},
      {"headings that only look like boxes are no boxes",
       "Message box \"A\" (not shown), answered OK\r\nMessage box A (not shown), answered OK:\r\n"
       "Message box \"A (not shown), answered OK:\r\nDialog \"B\" (not shown), answered Cancel:\r\n  t\r\n",
       ""},
      {"exit codes: 32 bits at most, digits only",
       "Exit code: 4294967295 (failed)\r\nExit code: 4294967296 (x)\r\nExit code: 99999999999999999999 (x)\r\n"
       "Exit code: x\r\nExit code: \r\n",
       "exit 4294967295\n"},
      {"a huge line without a line break", huge, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, Summary(ParseRunLog(c.log))) << c.name;

  // A huge caption and a huge text line are read whole.
  RunLog log = ParseRunLog("Message box \"" + huge + "\" (not shown), answered OK:\r\n  " + huge +
                           "\r\nExit code: 1603 (failed)\r\n");
  ASSERT_EQ(1u, log.windows.size());
  EXPECT_EQ(huge, log.windows[0].caption);
  EXPECT_EQ(huge, log.windows[0].text);
  EXPECT_EQ(1603, log.exitCode);
  // NUL bytes and lone CRs are text.
  log = ParseRunLog(std::string(kNul, sizeof kNul - 1));
  ASSERT_EQ(1u, log.windows.size());
  EXPECT_EQ(std::string("a\0b", 3), log.windows[0].caption);
  EXPECT_EQ("x\ry", log.windows[0].text);
}

// A log too long to read whole comes as its head and its tail: each one's
// cut line is dropped, and a box may hide in between unless the head already
// reached the run's end section (the install log, the errors, the exit code).
TEST(TryReport, RunLogReadAsHeadAndTail) {
  struct Case {
    const char* name;
    std::string head, tail;
    const char* expected;
  } cases[] = {
      {"the head reached the install log: the tail gives the exit code",
       kLogStart + "Message box \"A\" (not shown), answered OK:\r\n  t\r\nInstall log:\r\n  Created C:\\a\r\n  Crea",
       "ted C:\\b\r\n  Created C:\\c\r\nErrors:\r\n  e\r\nExit code: 1603 (failed)\r\n",
       "box|A|1|t\nerror|e\nexit 1603\n"},
      {"the head ends in a box: its read lines are kept, the cut one dropped, and the gap may hide more",
       kLogStart + "Message box \"A\" (not shown), answered OK:\r\n  line 1\r\n  line 2 is cu",
       "t here\r\n  more of some text\r\nExit code: 0 (completed)\r\n", "box|A|1|line 1\nexit 0\ngap\n"},
      {"a box in the tail is read; lines before its first heading belong to no entry",
       kLogStart + "Message box \"A\" (not shown), answered OK:\r\n  a",
       "xx\r\n  continued\r\nMessage box \"B\" (not shown), answered No:\r\n  b\r\nExit code: 1602 (cancelled)\r\n",
       "box|A|1|\nbox|B|7|b\nexit 1602\ngap\n"},
      {"a tail without a whole line", kLogStart + "Install log:\r\n", "Exit code: 0 (comp", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, Summary(ParseRunLog(c.head, &c.tail))) << c.name;
}

// The run log read from a real file, whole or as head and tail, and what it
// adds to the run.
TEST(TryReport, RunLogFileIsReadWithinItsLimits) {
  TempDir dir;
  std::string installLog;
  for (int i = 0; i < 2000; ++i) installLog += "  Created C:\\Program Files\\Product\\file" + std::to_string(i) + ".txt\r\n";
  const std::string box = "Message box \"Question\" (not shown), answered No:\r\n  Restart now?\r\n";
  dir.Write("whole.log", kLogStart + box + "Install log:\r\n" + installLog + "Exit code: 3010 (completed; a restart is needed to finish)\r\n");
  dir.Write("cut.log", kLogStart + "Message box \"A\" (not shown), answered OK:\r\n" + installLog + "Exit code: 0 (completed)\r\n");
  struct Case {
    const char* name;
    const char* file;
    uint64_t head, tail;
    int64_t exitCode;  // the program's
    size_t windows;
    const char* logProblem;
  } cases[] = {
      {"whole", "whole.log", 1 << 20, 64 << 10, 3010, 1, ""},
      {"head and tail, the gap in the install log", "whole.log", 1024, 512, 3010, 1, ""},
      {"head and tail, the gap in a box's text", "cut.log", 1024, 512, 0, 1,
       "it is too long to be read whole: a box in its unread middle part is not reported"},
      {"missing", "none.log", 1 << 20, 64 << 10, 0, 0, "it cannot be read"},
      {"a directory", ".", 1 << 20, 64 << 10, 0, 0, "it cannot be read"},
      {"at odds with the program's exit code", "whole.log", 1 << 20, 64 << 10, 0, 1,
       "it gives exit code 3010, the program ended with 0"},
  };
  for (const Case& c : cases) {
    ProgramRun run;
    run.ran = run.silent = true;
    run.exitCode = c.exitCode;
    ReadRunLog((dir.path / c.file).string(), c.head, c.tail, run);
    EXPECT_EQ(c.windows, run.windows.size()) << c.name;
    EXPECT_EQ(0u, run.logProblem.find(c.logProblem)) << c.name << ": " << run.logProblem;
    EXPECT_EQ(std::string(c.logProblem).empty(), run.logProblem.empty()) << c.name << ": " << run.logProblem;
  }
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
  r.install.silent = true;
  r.install.exitCode = 0;
  r.install.commandLine = "\"Z:\\work\\setup.exe\" /s /l:\"Z:\\work\\logs\\install.log\"";
  Difference key = Value("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Demo", "");
  key.kind = ItemKind::kKey;
  key.name.clear();
  r.installChanges = {FileItem("Program Files/Demo/readme.txt"), key,
                      Value(key.path, "UninstallString", "\"C:\\\\Demo\\\\Uninstall.exe /u:\\\"Demo\\\"\"")};
  r.uninstallEntries = {key.path};
  ProgramRun removal = r.install;
  removal.commandLine = "C:\\Demo\\Uninstall.exe /u:\"Demo\" /s /l:\"Z:\\work\\logs\\uninstall-1.log\"";
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
      {"a silent run that failed", [](TryReport& r) { r.install.exitCode = 1603; }, 1, false,
       "the installer ended with exit code 1603: failed"},
      {"a silent run that was cancelled", [](TryReport& r) { r.install.exitCode = 1602; }, 1, false,
       "the installer ended with exit code 1602: cancelled"},
      {"a bad command line", [](TryReport& r) { r.install.exitCode = 1639; }, 1, false,
       "the installer ended with exit code 1639: bad command line"},
      {"an exit code no silent run gives", [](TryReport& r) { r.install.exitCode = 1; }, 1, false,
       "the installer ended with exit code 1: not an exit code of a silent run"},
      {"a crash's exit code, beyond 31 bits", [](TryReport& r) { r.install.exitCode = 3221225477ll; }, 1, false,
       "the installer ended with exit code 3221225477: not an exit code of a silent run"},
      {"a restart needed: success", [](TryReport& r) { r.install.exitCode = 3010; }, 0, true, ""},
      {"an uninstaller that failed", [](TryReport& r) { r.uninstall[0].exitCode = 1603; }, 1, true,
       "the uninstaller ended with exit code 1603: failed"},
      {"interactive (--screens): 1 is the runtime's usual end",
       [](TryReport& r) { r.install.silent = false; r.install.exitCode = 1; r.screens = "/tmp/shots"; }, 0, true, ""},
      {"interactive: another exit code",
       [](TryReport& r) { r.install.silent = false; r.install.exitCode = 0; r.screens = "/tmp/shots"; }, 1, false,
       "the installer ended with exit code 0 (without /s the runtime always ends with 1)"},
      {"a box the silent run answered itself",
       [](TryReport& r) { ApplyRunLog(r.install, ParseRunLog("Message box \"Warning\" (not shown), answered OK:\r\n  Disk low\r\nExit code: 0 (completed)\r\n")); },
       1, false, "the installer would have shown a message box \"Warning\" (the silent run answered OK): Disk low"},
      {"a dialog the silent run cancelled",
       [](TryReport& r) { ApplyRunLog(r.install, ParseRunLog("Dialog \"EnterPassword\" (not shown), answered Cancel\r\nExit code: 0 (completed)\r\n")); },
       1, false, "the installer would have shown a dialog \"EnterPassword\" (the silent run answered Cancel)"},
      {"a run log at odds with the exit code",
       [](TryReport& r) { ApplyRunLog(r.install, ParseRunLog("Exit code: 1603 (failed)\r\n")); }, 1, false,
       "the installer's run log: it gives exit code 1603, the program ended with 0"},
      {"a run log without its end",
       [](TryReport& r) { ApplyRunLog(r.install, ParseRunLog("Run of setup.exe\r\n")); }, 1, false,
       "the installer's run log: it ends without an exit code: the program did not end as the runtime does"},
      {"a run log that could not be read",
       [](TryReport& r) { r.uninstall[0].logProblem = "it cannot be read (x)"; }, 1, true,
       "the uninstaller's run log: it cannot be read (x)"},
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
           "Installation: \"Z:\\work\\setup.exe\" /s /l:\"Z:\\work\\logs\\install.log\"\n"
           "  ended after 0.0 s with exit code 0 (completed); no message box or dialog\n",
           "Removal: C:\\Demo\\Uninstall.exe /u:\"Demo\" /s /l:\"Z:\\work\\logs\\uninstall-1.log\"\n"
           "  ended after 0.0 s with exit code 0 (completed); no message box or dialog\n",
           "Left behind: nothing\n  Wine's own housekeeping (not counted):\n    Wine's console host stores its defaults:\n      (1 values)\n",
           "Result: the installation succeeded and its removal left nothing behind\n",
       })
    EXPECT_NE(std::string::npos, text.find(line)) << line << "\n---\n" << text;
}

// A silent run's box is shown with its text and the answer the run gave,
// the exit code with its meaning, the log's error texts; a restart that is
// needed is said in the result.
TEST(TryReport, TextShowsWhatTheSilentRunAnsweredAndItsOutcome) {
  TryReport r = CleanDemo();
  r.install.exitCode = 3010;
  JudgeTry(r);
  EXPECT_NE(std::string::npos,
            Printed(r, false).find("Result: the installation succeeded (a restart is needed to finish) and its removal "
                                   "left nothing behind\n"))
      << Printed(r, false);
  ApplyRunLog(r.install, ParseRunLog("Message box \"Question\" (not shown), answered No:\r\n  Restart now?\r\n"
                                     "Errors:\r\n  Error writing x\r\nExit code: 3010 (completed; a restart is needed)\r\n"));
  JudgeTry(r);
  const std::string text = Printed(r, false);
  for (const char* line : {
           "  ended after 0.0 s with exit code 3010 (completed; a restart is needed to finish)\n"
           "  a message box \"Question\", not shown (the silent run answered it itself):\n"
           "    | Restart now?\n"
           "    answered: No\n"
           "  an error in its run log:\n"
           "    | Error writing x\n",
           "Result: FAILED\n  - the installer would have shown a message box \"Question\" (the silent run answered No): "
           "Restart now?\n",
       })
    EXPECT_NE(std::string::npos, text.find(line)) << line << "\n---\n" << text;
  const std::string json = Printed(r, true);
  for (const char* part : {"\"silent\": true, \"exit_code\": 3010, \"outcome\": \"completed; a restart is needed to finish\"",
                           "\"errors\": [\"Error writing x\"], \"log_problem\": null",
                           "{\"kind\": \"box\", \"shown\": false, \"caption\": \"Question\", \"text\": \"Restart now?\", "
                           "\"buttons\": [], \"default\": 0, \"answer\": 7}"})
    EXPECT_NE(std::string::npos, json.find(part)) << part << "\n---\n" << json;
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
  // A silent run that failed: a box and a dialog it answered itself, its
  // error texts, a log at odds with the exit code.
  TryReport silentFailure = CleanDemo();
  silentFailure.install.exitCode = 3221225477ll;
  ApplyRunLog(silentFailure.install,
              ParseRunLog("Message box \"Caf\xE9\" (not shown), answered No:\r\n  a\r\n\r\n  b\r\n"
                          "Dialog \"EnterPassword\" (not shown), answered Cancel\r\nErrors:\r\n  Error writing x\r\n"
                          "Exit code: 1603 (failed)\r\n"));
  // An interactive run (--screens) and an uninstaller that did not end.
  TryReport interactive = CleanDemo();
  interactive.install.silent = false;
  interactive.install.exitCode = 1;
  interactive.screens = "/tmp/shots";
  interactive.uninstall[0].timedOut = true;
  interactive.uninstall[0].exitCode = -1;
  interactive.uninstall[0].problem = "still running";
  for (TryReport* r : {&clean, &failed, &silentFailure, &interactive}) {
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
