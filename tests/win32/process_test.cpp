// Running real child processes: exit codes, start failures with their box,
// priority, window state, directory, handle inheritance, keeping the user
// interface alive while waiting, the command interpreter and OpenDocument.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>

#include "core/path.h"
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
