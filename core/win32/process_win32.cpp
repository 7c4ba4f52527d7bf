#include <windows.h>
#include <shellapi.h>

#include "core/path.h"
#include "core/win32/message_pump.h"
#include "core/win32/process.h"
#include "core/win32/system_dirs.h"

namespace {

// Polling interval while keeping the user interface alive.
constexpr DWORD kKeepAlivePollMs = 75;

static_assert(HIGH_PRIORITY_CLASS == 0x80 && IDLE_PRIORITY_CLASS == 0x40 && NORMAL_PRIORITY_CLASS == 0x20 &&
                  CREATE_NEW_CONSOLE == 0x10,
              "ProcessCreationFlags uses the system's values");

void ShowStartFailure(const char* commandLine) {
  String text("Unable to create process:\r\n");
  text.Append(commandLine);
  MessageBoxA(nullptr, text.CStr(), "Error", MB_OK | MB_ICONERROR);
}

void WaitKeepingUiAlive(HANDLE process) {
  while (WaitForSingleObject(process, 1) == WAIT_TIMEOUT) {
    PumpSomeMessages();
    Sleep(kKeepAlivePollMs);
  }
}

String FindCommandInterpreter() {
  char buffer[MAX_PATH];
  DWORD n = ExpandEnvironmentStringsA("%comspec%", buffer, sizeof buffer);
  String path;
  // An unset variable expands to itself; that is no interpreter either.
  if (n > 0 && n <= sizeof buffer && String(buffer).CompareNoCase("%comspec%") != 0) path.Assign(buffer);
  if (path.IsBlank()) path = JoinPath(WindowsDir().CStr(), "command.com");
  if (path.FindFirstOf(kBlankChars) >= 0) path.Quote();
  return path;
}

}  // namespace

uint32_t RunProcess(const char* commandLine, uint32_t flags, const char* directory) {
  // CreateProcess may write into the command line; it gets a copy.
  String command(commandLine);
  if (command.IsEmpty()) {
    if (flags & kRunErrorBox) ShowStartFailure("");
    return kRunNotStarted;
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  if (flags & (kRunHidden | kRunMaximized | kRunMinimized)) {
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = (flags & kRunMaximized)   ? SW_SHOWMAXIMIZED
                          : (flags & kRunMinimized) ? SW_MINIMIZE
                                                    : SW_HIDE;
  }
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, command.Buffer(), nullptr, nullptr, (flags & kRunInheritHandles) ? TRUE : FALSE,
                      ProcessCreationFlags(flags), nullptr, (directory && *directory) ? directory : nullptr, &startup,
                      &process)) {
    DWORD error = GetLastError();
    if (flags & kRunErrorBox) ShowStartFailure(commandLine);
    SetLastError(error);
    return kRunNotStarted;
  }
  uint32_t result = kRunNoExitCode;
  if (flags & kRunWait) {
    if (flags & kRunKeepUiAlive) {
      WaitKeepingUiAlive(process.hProcess);
    } else {
      WaitForSingleObject(process.hProcess, INFINITE);
    }
    DWORD code = 0;
    if (GetExitCodeProcess(process.hProcess, &code)) result = code;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
}

const String& CommandInterpreter() {
  static String interpreter = FindCommandInterpreter();
  return interpreter;
}

bool OpenDocument(const char* file, const char* parameters, const char* directory, const char* verb) {
  if (!file || !*file) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  HINSTANCE result = ShellExecuteA(nullptr, verb, file, parameters, directory, SW_SHOW);
  return (INT_PTR)result > 32;
}
