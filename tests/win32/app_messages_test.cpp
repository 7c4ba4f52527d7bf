// The runtime's message table, error boxes and command-line parsing, with
// real message boxes answered by a thread of the test that reads them the
// way the UI robot does.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>

#include "app/command_line.h"
#include "core/memory.h"
#include "core/path.h"
#include "core/win32/system_dirs.h"
#include "core/win32/disk_file.h"
#include "core/win32/file_util.h"
#include "runtime/messages.h"
#include "runtime/run_log.h"
#include "runtime/run_state.h"
#include "tests/win32/box_answerer.h"
#include "tests/win32/run_case.h"

namespace {

std::string Text(const String& s) { return std::string(s.CStr(), (size_t)s.Length()); }

// CR and LF written as \r and \n, so a report on stderr keeps them exact.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
  return out;
}

// Reports a box on stderr (CR and LF escaped) before it is answered: death
// tests read it there, since their process ends with the box.
BoxAnswerer::Hook Report(const Run& run, bool withText) {
  return [&run, withText](const BoxAnswerer& box) {
    fprintf(stderr, "caption=%s owner_is_dialog=%d\n", box.Caption().c_str(),
            box.Owner() != nullptr && box.Owner() == run.windows.dialog);
    if (withText) fprintf(stderr, "text=%s\n", Escaped(box.Body()).c_str());
    fflush(stderr);
  };
}

void LoadTable(Run& run, int languages, std::initializer_list<const char*> texts) {
  Array<String> table;
  for (const char* t : texts) table.Append(String(t));
  run.messages.Set(languages, table);
}

using MessagesTest = RunCase;

TEST_F(MessagesTest, PlaceholdersAreFilledIgnoringCaseAndStored) {
  run.options.DisplayName = "Trux Demo";
  LoadTable(run, 1, {"<product> setup", "Install <PRODUCT> or <product>?", "Files go to <Os>\\Temp"});
  EXPECT_STREQ(MessageText(run, 0), "Trux Demo setup");
  EXPECT_STREQ(MessageText(run, 1), "Install Trux Demo or Trux Demo?");
  std::string expected = "Files go to " + Text(WindowsDir()) + "\\Temp";
  EXPECT_EQ(std::string(MessageText(run, 2)), expected);
  // Filled once: a later change of the name does not reach the stored text.
  const char* first = MessageText(run, 1);
  run.options.DisplayName = "Other";
  EXPECT_STREQ(MessageText(run, 1), "Install Trux Demo or Trux Demo?");
  EXPECT_EQ(MessageText(run, 1), first);
}

TEST_F(MessagesTest, MissingRowsAndLanguagesReadEmpty) {
  LoadTable(run, 2, {"en0", "de0", "en1", "de1"});
  EXPECT_STREQ(MessageText(run, 5000), "");
  EXPECT_STREQ(MessageText(run, -1), "");
  run.messages.SetCurrent(1);
  EXPECT_STREQ(MessageText(run, 1), "de1");
  run.messages.SetCurrent(2);
  EXPECT_STREQ(MessageText(run, 0), "");
}

TEST_F(MessagesTest, ErrorBoxCaptionFallsBackToError) {
  LoadTable(run, 1, {"title"});  // no message 21
  BoxAnswerer answer(IDOK, 5000);
  ErrorBox(run, "Cannot open %s (%d)", "file.txt", 5);
  answer.Join();
  ASSERT_TRUE(answer.Seen());
  EXPECT_EQ(answer.Caption(), "Error");
  EXPECT_EQ(answer.Body(), "Cannot open file.txt (5)");
}

TEST_F(MessagesTest, ErrorBoxUsesMessage21AsCaption) {
  Array<String> table;
  for (int i = 0; i < 22; ++i) table.Append(String());
  table[21] = "Setup problem";
  run.messages.Set(1, table);
  BoxAnswerer answer(IDOK, 5000);
  ShowErrorBox(run, "x");
  answer.Join();
  ASSERT_TRUE(answer.Seen());
  EXPECT_EQ(answer.Caption(), "Setup problem");
}

TEST_F(MessagesTest, BlankTextShowsNoBox) {
  BoxAnswerer answer(IDOK, 800);
  ShowErrorBox(run, " \r\n\t");
  ShowErrorBox(run, nullptr);
  answer.Join();
  EXPECT_FALSE(answer.Seen());
}

TEST_F(MessagesTest, AutomaticModeSilencesErrorBoxUnlessFlag35) {
  run.options.automaticMode = true;
  {
    BoxAnswerer answer(IDOK, 800);
    ErrorBox(run, "quiet");
    answer.Join();
    EXPECT_FALSE(answer.Seen());
  }
  run.productFlags = 1ull << 35;
  {
    BoxAnswerer answer(IDOK, 5000);
    ErrorBox(run, "loud");
    answer.Join();
    ASSERT_TRUE(answer.Seen());
    EXPECT_EQ(answer.Body(), "loud");
  }
}

TEST_F(MessagesTest, ConfirmCancelAnsweredNoReturns) {
  Array<String> table;
  for (int i = 0; i < 29; ++i) table.Append(String());
  table[20] = "Question";
  table[28] = "Really cancel <product>?";
  run.options.DisplayName = "Demo";
  run.messages.Set(1, table);
  BoxAnswerer answer(IDNO, 5000);
  ConfirmCancel(run);
  answer.Join();
  ASSERT_TRUE(answer.Seen());
  EXPECT_EQ(answer.Caption(), "Question");
  EXPECT_EQ(answer.Body(), "Really cancel Demo?");
}

TEST_F(MessagesTest, ConfirmCancelAnsweredYesEndsWithExitCode1) {
  EXPECT_EXIT(
      {
        BoxAnswerer answer(IDYES, 5000);
        ConfirmCancel(run);
      },
      ::testing::ExitedWithCode(1), "");
}

TEST_F(MessagesTest, FatalMessageIsOwnedByTheCurrentDialogAndEndsTheProcess) {
  EXPECT_EXIT(
      {
        HWND dialog = CreateWindowExA(0, "STATIC", "progress", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
        run.windows.dialog = dialog;
        // The answerer reports what it saw on stderr before it presses OK.
        BoxAnswerer answer(IDOK, 5000, Report(run, false));
        FatalMessage("it broke");
      },
      ::testing::ExitedWithCode(1), "caption=FATAL ERROR owner_is_dialog=1");
}

TEST_F(MessagesTest, FailedAllocationShowsTheOutOfMemoryReport) {
  // 2 GB cannot be had by a 32-bit process: the allocator's failure handler
  // shows the report (size, then the stack words from the marker words on).
  EXPECT_EXIT(
      {
        BoxAnswerer answer(IDOK, 5000, Report(run, true));
        void* block = MemAlloc(0x7FFFFFF0u);
        fprintf(stderr, "allocation returned %p\n", block);
      },
      ::testing::ExitedWithCode(1),
      "caption=FATAL ERROR owner_is_dialog=0\\s+text=Out Of Memory\\.  Make sure the hard drive is not full\\.\\\\r\\\\n"
      "Requested size = 2147483632 \\(0x7FFFFFF0\\)\\\\r\\\\n\\\\r\\\\nStack contents:\\\\r11223344 55667788 \\w\\w\\w\\w");
}

// ----------------------------------------------------------- silent runs

TEST_F(MessagesTest, SilentModeShowsNoBoxAndTakesTheAnswerThatRefuses) {
  struct Case {
    UINT style;
    int silentAnswer;
    int answer;
  } cases[] = {
      {MB_OK | MB_ICONERROR, 0, IDOK},          {MB_OKCANCEL | MB_ICONEXCLAMATION, 0, IDCANCEL},
      {MB_YESNO | MB_ICONQUESTION, 0, IDNO},    {MB_YESNOCANCEL, 0, IDCANCEL},
      {MB_RETRYCANCEL, 0, IDCANCEL},            {MB_ABORTRETRYIGNORE, 0, IDABORT},
      {MB_YESNO | MB_ICONQUESTION, IDYES, IDYES},
  };
  run.options.silentMode = true;
  run.options.automaticMode = true;
  run.productFlags = 1ull << 35;  // error reports would be shown in automatic mode
  BoxAnswerer answer(IDOK, 1500);
  for (const Case& c : cases) {
    if (!c.silentAnswer) {
      EXPECT_EQ(RefusingAnswer(c.style), c.answer) << c.style;
    }
    EXPECT_EQ(ShowMessageBox(run, nullptr, "question", "caption", c.style, c.silentAnswer), c.answer) << c.style;
  }
  ShowErrorBox(run, "not shown");
  ErrorBox(run, "not shown either: %d", 35);
  EXPECT_FALSE(ShowsWindows(run));
  answer.Join();
  EXPECT_FALSE(answer.Seen());
}

TEST_F(MessagesTest, ExitCodeIsTheOutcomeOnlyInSilentMode) {
  struct Case {
    RunOutcome outcome;
    bool silent;
    int code;
  } cases[] = {
      {kRunCompleted, true, 0},    {kRunRestartNeeded, true, 3010}, {kRunCancelled, true, 1602},
      {kRunFailed, true, 1603},    {kRunBadCommandLine, true, 1639}, {kRunCompleted, false, 1},
      {kRunRestartNeeded, false, 1}, {kRunCancelled, false, 1},      {kRunFailed, false, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EXIT(
        {
          run.options.silentMode = c.silent;
          EndProcess(run, c.outcome);
        },
        ::testing::ExitedWithCode(c.code), "")
        << c.outcome << (c.silent ? " silent" : "");
  }
  EXPECT_EXIT(EndProcess(run), ::testing::ExitedWithCode(1), "");
}

TEST_F(MessagesTest, SilentCancelConfirmationAndFatalErrorEndWithoutABox) {
  // The cancel confirmation is answered Yes (nobody is there to go on), the
  // fatal box is not shown; the answerer would report a box on stderr.
  EXPECT_EXIT(
      {
        run.options.silentMode = true;
        BoxAnswerer answer(IDNO, 3000, Report(run, true));
        ConfirmCancel(run);
      },
      ::testing::ExitedWithCode(1602), "^$");
  EXPECT_EXIT(
      {
        run.options.silentMode = true;
        BoxAnswerer answer(IDOK, 3000, Report(run, true));
        FatalMessage("it broke");
      },
      ::testing::ExitedWithCode(1603), "^$");
}

// The run log: a fresh file under the temporary directory per test.
class RunLogTest : public RunCase {
 protected:
  void SetUp() override {
    path_ = Text(JoinPath(TempDir().CStr(), "trux_run_log_test.log"));
    DeleteFileA(path_.c_str());
    run.options.logPath = path_.c_str();
  }
  void TearDown() override { DeleteFileA(path_.c_str()); }
  std::string Read() const {
    String text;
    EXPECT_EQ(ReadFileToString(path_.c_str(), text), kOpenOk);
    return Text(text);
  }
  std::string path_;
};

TEST_F(RunLogTest, EntriesAreWrittenAsTheRunGoes) {
  ASSERT_EQ(StartRunLog(run, "/s /l:\"x.log\""), LinkSafeAppend::kAppended);
  const std::string start = Read();
  EXPECT_EQ(start.rfind("\r\nRun of ", 0), 0u) << start;
  EXPECT_NE(start.find("\r\nCommand line: /s /l:\"x.log\"\r\n"), std::string::npos) << start;
  const size_t begun = start.size();

  RunLogLine(run, "Product: %s, version %s", "Demo", "1.0");
  run.options.silentMode = true;
  run.options.automaticMode = true;
  EXPECT_EQ(ShowMessageBox(run, nullptr, "First line\r\n\r\nThird line\r\n", "Setup", MB_YESNO), IDNO);
  ErrorBox(run, "Report %d", 7);
  RunLogText(run, "Never:", " \r\n ");  // a blank text writes nothing
  run.texts.installLog = "Registering COM File \"a.dll\"...OK\r\n";
  run.texts.errors = "Error writing C:\\x\r\n\r\n";
  RunLogEnd(run, kRunFailed, 1603);
  EXPECT_EQ(Read().substr(begun),
            "Product: Demo, version 1.0\r\n"
            "Message box \"Setup\" (not shown), answered No:\r\n"
            "  First line\r\n\r\n  Third line\r\n"
            "Error report (not shown in automatic mode):\r\n  Report 7\r\n"
            "Install log:\r\n  Registering COM File \"a.dll\"...OK\r\n"
            "Errors:\r\n  Error writing C:\\x\r\n\r\n"
            "Exit code: 1603 (failed)\r\n");
}

TEST_F(RunLogTest, ACompletedRunLogsNoErrorsAndAnAbsentLogWritesNothing) {
  run.texts.errors = "Installation Complete\r\n\r\n";  // the completion caption after the final message
  RunLogEnd(run, kRunRestartNeeded, 3010);
  EXPECT_EQ(Read(), "Exit code: 3010 (completed; a restart is needed to finish)\r\n");
  run.options.logPath.Clear();
  RunLogLine(run, "nothing");
  RunLogEnd(run, kRunFailed, 1);
  EXPECT_EQ(StartRunLog(run, "/a"), LinkSafeAppend::kAppended);
  EXPECT_EQ(Read(), "Exit code: 3010 (completed; a restart is needed to finish)\r\n");
}

TEST_F(RunLogTest, ALogPathThatIsADirectoryIsRefused) {
  const std::string directory = Text(JoinPath(TempDir().CStr(), "trux_run_log_dir"));
  CreateDirectoryA(directory.c_str(), nullptr);
  run.options.logPath = directory.c_str();
  EXPECT_EQ(StartRunLog(run, "/s"), LinkSafeAppend::kRefusedLink);
  RemoveDirectoryA(directory.c_str());
}

TEST_F(MessagesTest, PauseSinceMarkReturnsAtOnceInAutomaticModeAndWaitsOtherwise) {
  run.options.automaticMode = true;
  MarkTime(run);
  DWORD start = GetTickCount();
  PauseSinceMark(run, 2000);
  EXPECT_LT(GetTickCount() - start, 500u);
  run.options.automaticMode = false;
  MarkTime(run);
  start = GetTickCount();
  PauseSinceMark(run, 300);
  EXPECT_GE(GetTickCount() - start, 250u);
}

// ----------------------------------------------------------- command line

TEST(CommandLineAtoms, Table) {
  struct Case {
    const char* line;
    std::initializer_list<const char*> atoms;
  } cases[] = {
      {"  /a   -b\t/c\r\n/d", {"/a", "-b", "/c", "/d"}},
      {"/d:\"C:\\Program Files\\App\" /a", {"/d:\"C:\\Program Files\\App\"", "/a"}},
      {"/n:\"say \"\"hi\"\"\"", {"/n:\"say \"hi\"\""}},
      {"/r:\"unterminated value", {"/r:\"unterminated value\""}},
      {"a\"b c\"d e", {"a\"b c\"d", "e"}},
      {"", {}},
      {" \t ", {}},
  };
  for (const Case& c : cases) {
    String rest(c.line);
    for (const char* expected : c.atoms) EXPECT_EQ(Text(NextCommandLineAtom(rest)), expected) << c.line;
    EXPECT_EQ(Text(NextCommandLineAtom(rest)), "") << c.line;
  }
}

TEST(CommandLineTail, SkipsTheProgramNameAndBlanks) {
  struct Case {
    const char* line;
    const char* tail;
  } cases[] = {
      {"setup.exe /a /b", "/a /b"},
      {"\"C:\\Program Files\\setup.exe\"  \t/q", "/q"},
      {"\"C:\\A B\\setup.exe\"/q", ""},           // a closing quote ends quoting, not the name
      {"C:\\A\" B\"\\setup.exe /x", "/x"},          // quotes inside the name
      {"\"C:\\never closed /x", ""},                   // an open quote runs to the end
      {"setup.exe", ""},
      {"", ""},
      {"C:\\Caf\xE9\\setup.exe /x", "/x"},          // letters from 0x80 up belong to an unquoted name
      {"setup.exe \xE9t\xE9 /x", "\xE9t\xE9 /x"},     // and are never skipped as blanks
      {"\"setup\xE9.exe\" /x", "/x"},
  };
  for (const Case& c : cases) {
    char line[64];
    snprintf(line, sizeof line, "%s", c.line);
    EXPECT_STREQ(CommandLineTail(line), c.tail) << c.line;
  }
}

TEST(CommandLineParse, ValidOptions) {
  CommandLineOptions o;
  ParseCommandLine("-a /D:C:\\Apps\\Tool /n:\"My App\" /r:\"notepad.exe `a b`\"", o);
  EXPECT_TRUE(o.automaticMode);
  EXPECT_EQ(Text(o.InstallDir), "C:\\Apps\\Tool");
  EXPECT_EQ(Text(o.DisplayName), "My App");
  EXPECT_EQ(Text(o.runAfterProgram), "notepad.exe \"a b\"");
  EXPECT_FALSE(o.uninstallMode);

  CommandLineOptions q;
  ParseCommandLine("/d:\"C:\\Apps\\Tool\" / /A", q);
  EXPECT_EQ(Text(q.InstallDir), "C:\\Apps\\Tool");
  EXPECT_TRUE(q.automaticMode);

  CommandLineOptions b;
  ParseCommandLine("/b1:\"echo one~~echo `two`\" /B3:\"x\" /b2:\"\"", b);
  EXPECT_EQ(Text(b.batchAdditions[0]), "echo one\r\necho \"two\"");
  EXPECT_EQ(Text(b.batchAdditions[1]), "");
  EXPECT_EQ(Text(b.batchAdditions[2]), "x");

  CommandLineOptions u;
  ParseCommandLine("/u:\"Trux Demo\" /d:first /d:second", u);
  EXPECT_TRUE(u.uninstallMode);
  EXPECT_EQ(Text(u.uninstallName), "Trux Demo");
  EXPECT_EQ(Text(u.InstallDir), "second");  // a later occurrence wins

  CommandLineOptions d;
  ParseCommandLine("/d:\"C:\\a \"\"b\"\"\"", d);
  EXPECT_EQ(Text(d.InstallDir), "C:\\a \"b\"");
}

TEST(CommandLineParse, SilentModeAndLogFile) {
  struct Case {
    const char* line;
    bool silent;
    const char* log;
    const char* problem;
  } cases[] = {
      {"/s", true, "", ""},
      {"-S", true, "", ""},
      {"/l:C:\\logs\\run.log", false, "C:\\logs\\run.log", ""},
      {"/L:\"C:\\my logs\\run.log\" /s", true, "C:\\my logs\\run.log", ""},
      {"/silent", false, "", "Illegal command line atom:\nsilent"},
      {"/s:", false, "", "Illegal command line atom:\ns:"},
      {"/l", false, "", "Illegal command line atom:\nl"},
      {"/l:", false, "", "Log file name required"},
      {"/l:\"\"", false, "", "Log file name required"},
      // The whole line applies after a bad atom, so /s and /l: anywhere
      // decide how the first problem is reported.
      {"/x /s /l:run.log /y", true, "run.log", "Illegal command line atom:\nx"},
      {"setup.exe -s", true, "", "Unexpected command line parameter:\nsetup.exe"},
      {"/u /s", true, "", "Product name required"},
      {"/s /u:\"Trux Demo\"", true, "", ""},
  };
  for (const Case& c : cases) {
    CommandLineOptions o;
    const String problem = ParseCommandLine(c.line, o);
    EXPECT_EQ(Text(problem), c.problem) << c.line;
    EXPECT_EQ(o.silentMode, c.silent) << c.line;
    if (c.silent) {
      EXPECT_TRUE(o.automaticMode) << c.line;  // silent is automatic too
    }
    EXPECT_EQ(Text(o.logPath), c.log) << c.line;
  }
}

TEST(CommandLineParse, OnlyNineteenAtomsAreExamined) {
  std::string line;
  for (int i = 1; i <= 25; ++i) line += "/d:dir" + std::to_string(i) + " ";
  CommandLineOptions o;
  ParseCommandLine(line.c_str(), o);
  EXPECT_EQ(Text(o.InstallDir), "dir19");
}

}  // namespace
