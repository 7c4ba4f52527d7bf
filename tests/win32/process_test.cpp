// Running real child processes: exit codes, start failures with their box,
// priority, window state, directory, handle inheritance, keeping the user
// interface alive while waiting, the command interpreter and OpenDocument.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>

#include "core/path.h"
#include "core/win32/file_util.h"
#include "core/win32/message_pump.h"
#include "core/win32/process.h"
#include "core/win32/system_dirs.h"
#include "tests/win32/box_answerer.h"

namespace {

std::string Text(const String& s) { return std::string(s.CStr(), (size_t)s.Length()); }

// The child fixture beside this test program, quoted, with its arguments.
std::string Child(const std::string& arguments) {
  String path = JoinPath(DirectoryOf(ModulePath().CStr()).CStr(), "child_fixture.exe");
  return "\"" + Text(path) + "\" " + arguments;
}

TEST(RunProcess, WaitsForTheChildAndReturnsItsExitCode) {
  for (uint32_t code : {0u, 7u, 255u, 1234567u}) {
    EXPECT_EQ(RunProcess(Child("exit " + std::to_string(code)).c_str(), kRunWait, nullptr), code);
  }
  // The child really ran to its end: a sleeping child is waited for.
  DWORD start = GetTickCount();
  EXPECT_EQ(RunProcess(Child("sleep 400 9").c_str(), kRunWait, nullptr), 9u);
  EXPECT_GE(GetTickCount() - start, 350u);
}

TEST(RunProcess, WithoutWaitingThereIsNoExitCode) {
  EXPECT_EQ(RunProcess(Child("exit 3").c_str(), 0, nullptr), kRunNoExitCode);
}

TEST(RunProcess, MissingProgramShowsTheBoxWithTheErrorFlag) {
  const char* command = "C:\\no\\such\\program.exe /x";
  BoxAnswerer answerer(IDOK, 10000);
  EXPECT_EQ(RunProcess(command, kRunWait | kRunErrorBox, nullptr), kRunNotStarted);
  answerer.Join();
  ASSERT_TRUE(answerer.Seen());
  EXPECT_EQ(answerer.Caption(), "Error");
  EXPECT_EQ(answerer.Body(), std::string("Unable to create process:\r\n") + command);
}

TEST(RunProcess, MissingProgramWithoutTheErrorFlagShowsNothing) {
  BoxAnswerer answerer(IDOK, 1000);
  EXPECT_EQ(RunProcess("C:\\no\\such\\program.exe", kRunWait, nullptr), kRunNotStarted);
  answerer.Join();
  EXPECT_FALSE(answerer.Seen());
}

TEST(RunProcess, EmptyCommandLineIsNotStarted) {
  EXPECT_EQ(RunProcess("", kRunWait, nullptr), kRunNotStarted);
  EXPECT_EQ(RunProcess(nullptr, kRunWait, nullptr), kRunNotStarted);
}

// The priority class a child gets cannot be observed here: Wine starts
// every process at the normal class whatever CreateProcessA asks for. The
// mapping of the flags is tested on the host (ProcessCreationFlags).

TEST(RunProcess, WindowFlagsSetTheShowStateInOrderOfPrecedence) {
  const struct {
    uint32_t flags;
    uint32_t show;  // 1000: no show state given
  } cases[] = {
      {0, 1000},
      {kRunHidden, SW_HIDE},
      {kRunMinimized, SW_MINIMIZE},
      {kRunMaximized, SW_SHOWMAXIMIZED},
      {kRunHidden | kRunMinimized, SW_MINIMIZE},
      {kRunHidden | kRunMinimized | kRunMaximized, SW_SHOWMAXIMIZED},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RunProcess(Child("show").c_str(), kRunWait | c.flags, nullptr), c.show) << c.flags;
  }
}

TEST(RunProcess, RunsInTheGivenDirectory) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  std::string dir = std::string(temp) + "trux_process_dir";
  CreateDirectoryA(dir.c_str(), nullptr);
  std::string marker = dir + "\\marker.txt";
  FILE* f = fopen(marker.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fclose(f);
  EXPECT_EQ(RunProcess(Child("has marker.txt").c_str(), kRunWait, dir.c_str()), 1u);
  EXPECT_EQ(RunProcess(Child("has marker.txt").c_str(), kRunWait, ""), 0u);
  DeleteFileA(marker.c_str());
  RemoveDirectoryA(dir.c_str());
}

TEST(RunProcess, InheritsHandlesOnlyWhenAsked) {
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  HANDLE event = CreateEventA(&inheritable, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  std::string command = Child("handle " + std::to_string((uintptr_t)event));
  EXPECT_EQ(RunProcess(command.c_str(), kRunWait | kRunInheritHandles, nullptr), 1u);
  EXPECT_EQ(RunProcess(command.c_str(), kRunWait, nullptr), 0u);
  CloseHandle(event);
}

TEST(RunProcess, CanTellTheChildNeverToRunProgramsFromItsCurrentDirectory) {
  SetEnvironmentVariableA("NoDefaultCurrentDirectoryInExePath", nullptr);
  SetEnvironmentVariableA("TRUX_PROCESS_KEPT", "1");
  EXPECT_EQ(RunProcess(Child("env NoDefaultCurrentDirectoryInExePath").c_str(), kRunWait, nullptr), 0u);
  EXPECT_EQ(RunProcess(Child("env NoDefaultCurrentDirectoryInExePath").c_str(),
                       kRunWait | kRunNoCurrentDirectoryPrograms, nullptr),
            1u);
  // The rest of the environment goes along, and the caller's stays as it was.
  EXPECT_EQ(RunProcess(Child("env TRUX_PROCESS_KEPT").c_str(), kRunWait | kRunNoCurrentDirectoryPrograms, nullptr), 1u);
  EXPECT_EQ(GetEnvironmentVariableA("NoDefaultCurrentDirectoryInExePath", nullptr, 0), 0u);
  SetEnvironmentVariableA("TRUX_PROCESS_KEPT", nullptr);
}

// A copy of the child fixture at path (its directory created).
bool CopyChild(const std::string& path) {
  if (!CreateDirectoryTree(DirectoryOf(path.c_str()).CStr())) return false;
  return CopyFileA(Text(JoinPath(DirectoryOf(ModulePath().CStr()).CStr(), "child_fixture.exe")).c_str(), path.c_str(),
                   FALSE) != FALSE;
}

// The program is always named explicitly: a bare name is looked up only in
// the system's folders and PATH, never beside the running program or in the
// current directory; an unquoted path with blanks is the longest that
// exists, never a shorter one someone planted.
TEST(FindProgram, NamesTheProgramExplicitly) {
  const std::string root = "C:\\trux find program";
  ASSERT_TRUE(CopyChild(root + "\\My App\\run.exe"));
  ASSERT_TRUE(CopyChild(root + "\\My.exe"));  // what the system would start first
  ASSERT_TRUE(CopyChild(root + "\\noext.exe"));
  const std::string beside = Text(JoinPath(DirectoryOf(ModulePath().CStr()).CStr(), "trux_beside.exe"));
  ASSERT_TRUE(CopyChild(beside));
  ASSERT_TRUE(CopyChild(root + "\\cwd\\trux_cwd.exe"));
  const std::string previous = Text(CurrentDirectory());
  ASSERT_TRUE(SetCurrentDirectoryA((root + "\\cwd").c_str()));
  char system[MAX_PATH];
  GetSystemDirectoryA(system, sizeof system);

  const struct {
    std::string commandLine;
    std::string program;  // "" = not found
  } cases[] = {
      {root + "\\My App\\run.exe exit 5", root + "\\My App\\run.exe"},
      {"\"" + root + "\\My App\\run.exe\" exit 5", root + "\\My App\\run.exe"},
      {root + "\\noext exit 3", root + "\\noext.exe"},
      {root + "\\missing\\x.exe /y", "C:\\trux"},  // nothing there: the first word, which cannot start
      {"cmd.exe /c exit", std::string(system) + "\\cmd.exe"},
      {"cmd /c exit", std::string(system) + "\\cmd.exe"},
      {"trux_beside.exe exit 1", ""},
      {"trux_cwd.exe exit 1", ""},
      {"trux_cwd exit 1", ""},
      {"..\\My.exe exit 2", root + "\\cwd\\..\\My.exe"},
      {"", ""},
  };
  for (const auto& c : cases) {
    String program;
    SetLastError(0);
    const bool found = FindProgram(c.commandLine.c_str(), program);
    EXPECT_EQ(found, !c.program.empty()) << c.commandLine;
    EXPECT_EQ(String(program).CompareNoCase(c.program.c_str()), 0) << c.commandLine << " -> " << Text(program);
    if (!found) {
      EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND) << c.commandLine;
    }
  }
  // What runs is the program named, with the whole command line.
  EXPECT_EQ(RunProcess(("\"" + root + "\\My App\\run.exe\" exit 5").c_str(), kRunWait, nullptr), 5u);
  EXPECT_EQ(RunProcess("trux_cwd.exe exit 1", kRunWait, nullptr), kRunNotStarted);
  EXPECT_EQ(RunProcess("trux_beside.exe exit 1", kRunWait, nullptr), kRunNotStarted);

  SetCurrentDirectoryA(previous.c_str());
  DeleteFileA(beside.c_str());
  for (const char* file : {"\\My App\\run.exe", "\\My.exe", "\\noext.exe", "\\cwd\\trux_cwd.exe"})
    DeleteFileA((root + file).c_str());
  RemoveDirectoryA((root + "\\My App").c_str());
  RemoveDirectoryA((root + "\\cwd").c_str());
  RemoveDirectoryA(root.c_str());
}

// A window that counts the WM_USER messages it receives.
int g_received = 0;
LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_USER) {
    ++g_received;
    return 0;
  }
  return DefWindowProcA(window, message, w, l);
}

HWND CountingWindow() {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = CountingProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "TruxCountingWindow";
  RegisterClassA(&wc);
  return CreateWindowA("TruxCountingWindow", "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, wc.hInstance,
                       nullptr);
}

TEST(RunProcess, KeepsTheUserInterfaceAliveOnlyWhenAsked) {
  HWND window = CountingWindow();
  ASSERT_NE(window, nullptr);
  g_received = 0;
  for (int i = 0; i < 3; ++i) PostMessageA(window, WM_USER, 0, 0);
  EXPECT_EQ(RunProcess(Child("sleep 300 4").c_str(), kRunWait, nullptr), 4u);
  EXPECT_EQ(g_received, 0);
  EXPECT_EQ(RunProcess(Child("sleep 300 5").c_str(), kRunWait | kRunKeepUiAlive, nullptr), 5u);
  EXPECT_EQ(g_received, 3);
  DestroyWindow(window);
}

TEST(RunProcess, QuittingStopsThePumpButNotTheWait) {
  HWND window = CountingWindow();
  ASSERT_NE(window, nullptr);
  g_received = 0;
  PostMessageA(window, WM_USER, 0, 0);
  SetQuitting(true);
  EXPECT_EQ(RunProcess(Child("sleep 200 6").c_str(), kRunWait | kRunKeepUiAlive, nullptr), 6u);
  SetQuitting(false);
  EXPECT_EQ(g_received, 0);
  PumpSomeMessages();
  EXPECT_EQ(g_received, 1);
  DestroyWindow(window);
}

TEST(PumpSomeMessages, DispatchesAtMostAHundred) {
  HWND window = CountingWindow();
  ASSERT_NE(window, nullptr);
  g_received = 0;
  for (int i = 0; i < 150; ++i) PostMessageA(window, WM_USER, 0, 0);
  EXPECT_EQ(PumpSomeMessages(), 100);
  EXPECT_EQ(g_received, 100);
  EXPECT_EQ(PumpSomeMessages(), 50);
  EXPECT_EQ(g_received, 150);
  EXPECT_EQ(PumpSomeMessages(), 0);
  DestroyWindow(window);
  PumpSomeMessages();
}

TEST(PumpPending, StopsAfterAClosingMessageOnlyWhenAsked) {
  HWND window = CountingWindow();
  ASSERT_NE(window, nullptr);
  g_received = 0;
  PostMessageA(window, WM_USER, 0, 0);
  PostMessageA(window, WM_DESTROY, 0, 0);  // the default handling of a posted WM_DESTROY does nothing
  PostMessageA(window, WM_USER, 0, 0);
  PumpResult first = PumpPending(kPumpNoLimit, kPumpStopAtClose);
  EXPECT_EQ(first.handled, 2);
  EXPECT_TRUE(first.sawClose);
  EXPECT_EQ(g_received, 1);
  PostMessageA(window, WM_DESTROY, 0, 0);
  PumpResult rest = PumpPending(kPumpNoLimit, 0);
  EXPECT_EQ(rest.handled, 2);
  EXPECT_TRUE(rest.sawClose);
  EXPECT_EQ(g_received, 2);
  EXPECT_EQ(PumpPending(kPumpNoLimit, kPumpStopAtClose).handled, 0);
  DestroyWindow(window);
  PumpSomeMessages();
}

// An in-memory dialog template: no caption, two push buttons with tab stops
// (ids 1 and 2), so Tab moves the focus between them under the dialog manager.
struct TwoButtonTemplate {
  alignas(4) WORD words[64] = {};
  int n = 0;
  void Put(WORD w) { words[n++] = w; }
  void Put32(DWORD d) {
    Put(LOWORD(d));
    Put(HIWORD(d));
  }
  void Align() {
    if (n % 2) Put(0);
  }
  void Item(WORD id, short x) {
    Align();
    Put32(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON);
    Put32(0);
    Put((WORD)x), Put(5), Put(40), Put(14);
    Put(id);
    Put(0xFFFF), Put(0x0080);  // the button class
    Put(0);                    // no text
    Put(0);                    // no creation data
  }
  TwoButtonTemplate() {
    Put32(WS_POPUP | WS_VISIBLE);
    Put32(0);
    Put(2);
    Put(0), Put(0), Put(100), Put(30);
    Put(0), Put(0), Put(0);  // no menu, the default class, no title
    Item(1, 5);
    Item(2, 50);
  }
};

INT_PTR CALLBACK QuietDialogProc(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

TEST(PumpPending, TheModelessDialogGetsItsKeysThroughTheDialogManager) {
  TwoButtonTemplate t;
  HWND dialog = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), reinterpret_cast<DLGTEMPLATE*>(t.words),
                                           nullptr, QuietDialogProc, 0);
  ASSERT_NE(dialog, nullptr);
  HWND first = GetDlgItem(dialog, 1), second = GetDlgItem(dialog, 2);
  ASSERT_TRUE(first && second);
  for (bool registered : {false, true}) {
    SetPumpDialog(registered ? dialog : nullptr);
    SetFocus(first);
    PumpPending(kPumpNoLimit, 0);
    ASSERT_EQ(GetFocus(), first);
    PostMessageA(first, WM_KEYDOWN, VK_TAB, 1);
    PostMessageA(first, WM_KEYUP, VK_TAB, 0xC0000001);
    PumpPending(kPumpNoLimit, 0);
    // Tab moves the focus only when the pump hands it to the dialog manager.
    EXPECT_EQ(GetFocus(), registered ? second : first) << "registered " << registered;
  }
  SetPumpDialog(nullptr);
  DestroyWindow(dialog);
  PumpSomeMessages();
}

TEST(CommandInterpreter, IsTheExpandedComspecAndRuns) {
  char comspec[MAX_PATH];
  ASSERT_GT(GetEnvironmentVariableA("COMSPEC", comspec, sizeof comspec), 0u);
  EXPECT_EQ(Text(CommandInterpreter()), comspec);
  // Reused, not worked out again.
  EXPECT_EQ(&CommandInterpreter(), &CommandInterpreter());
  std::string command = Text(CommandInterpreter()) + " /c exit 5";
  EXPECT_EQ(RunProcess(command.c_str(), kRunWait | kRunHidden, nullptr), 5u);
}

TEST(OpenDocument, RefusesAnEmptyNameAndOpensAProgram) {
  SetLastError(0);
  EXPECT_FALSE(OpenDocument("", nullptr, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(OpenDocument(nullptr, nullptr, nullptr, "open"));
  EXPECT_FALSE(OpenDocument("C:\\no\\such\\document.txt", nullptr, nullptr, "open"));
  String child = JoinPath(DirectoryOf(ModulePath().CStr()).CStr(), "child_fixture.exe");
  EXPECT_TRUE(OpenDocument(child.CStr(), "exit 0", nullptr, "open"));
}

}  // namespace
