#include <windows.h>

#include <new>
#include <shellapi.h>
#include <string.h>

#include "core/containers.h"
#include "core/path.h"
#include "core/path_check.h"
#include "core/win32/file_util.h"
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

// True for an existing file that is not a directory.
bool IsFile(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// path, or path + ".exe" when path has no extension and only that exists.
bool ExistingProgram(const String& path, String& program) {
  if (IsFile(path.CStr())) {
    program = path;
    return true;
  }
  if (HasFileExtension(path.CStr())) return false;
  const String withExe = path + ".exe";
  if (!IsFile(withExe.CStr())) return false;
  program = withExe;
  return true;
}

// An unquoted absolute path that may hold blanks: the longest start of the
// command line, ending before a blank or tab (or at its end), that names an
// existing program; the first word when none does.
String UnquotedAbsoluteProgram(const char* commandLine) {
  String text(commandLine);
  text.TrimLeft(" \t");
  for (int32_t end = text.Length(); end > 0; --end) {
    if (end < text.Length() && text.CharAt(end) != ' ' && text.CharAt(end) != '\t') continue;
    String candidate(text.CStr(), end);
    candidate.TrimRight(" \t");
    String program;
    if (!candidate.IsEmpty() && ExistingProgram(candidate, program)) return program;
  }
  return CommandLineProgram(commandLine, nullptr);
}

// The directories a bare program name is looked up in, in order.
void ProgramDirectories(Array<String>& out) {
  out.Append(SystemDir());
  out.Append(WindowsDir());
  // A PATH of 4096 bytes or more is not searched. The value is read into
  // the heap: a page-sized buffer on the stack would need stack probes.
  constexpr DWORD kPathValueBuffer = 4096;
  String rest, entry;
  const DWORD n = GetEnvironmentVariableA("PATH", rest.SetLength(kPathValueBuffer - 1), kPathValueBuffer);
  if (n == 0 || n >= kPathValueBuffer) return;
  rest.SetLength((int32_t)n);
  while (!rest.IsEmpty()) {
    rest.SplitAtChar(entry, ';');
    entry.Trim();
    entry.Unquote();
    // A relative entry ("." included) would name the current directory.
    if (IsAbsolutePath(entry.CStr())) out.Append(entry);
  }
}

bool FindBareProgram(const String& name, String& program) {
  Array<String> directories;
  ProgramDirectories(directories);
  for (const String& directory : directories) {
    if (!directory.IsEmpty() && ExistingProgram(JoinPath(directory.CStr(), name.CStr()), program)) return true;
  }
  return false;
}

// The calling process's environment with name=value set; false when the
// system gives none.
bool EnvironmentWith(const char* name, const char* value, String& block) {
  char* current = GetEnvironmentStringsA();
  if (!current) return false;
  const char* end = current;
  while (*end) end += strlen(end) + 1;
  block.Assign(current, (int32_t)(end - current));
  FreeEnvironmentStringsA(current);
  SetEnvironmentEntry(block, name, value);
  return true;
}

}  // namespace

bool FindProgram(const char* commandLine, String& program) {
  bool quoted = false;
  const String first = CommandLineProgram(commandLine, &quoted);
  program.Clear();
  if (!first.IsBlank()) {
    if (IsAbsolutePath(first.CStr())) {
      if (quoted) {
        if (!ExistingProgram(first, program)) program = first;
      } else {
        program = UnquotedAbsoluteProgram(commandLine);
      }
      return true;
    }
    if (IsBareProgramName(first.CStr())) {
      if (FindBareProgram(first, program)) return true;
    } else {
      String full(first);
      if (MakeAbsolute(full, CurrentDirectory().CStr())) {
        if (!ExistingProgram(full, program)) program = full;
        return true;
      }
    }
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return false;
}

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
  String program, environment;
  const bool ownEnvironment = (flags & kRunNoCurrentDirectoryPrograms) &&
                              EnvironmentWith("NoDefaultCurrentDirectoryInExePath", "1", environment);
  if (!FindProgram(commandLine, program) ||
      !CreateProcessA(program.CStr(), command.Buffer(), nullptr, nullptr, (flags & kRunInheritHandles) ? TRUE : FALSE,
                      ProcessCreationFlags(flags), ownEnvironment ? environment.Buffer() : nullptr,
                      (directory && *directory) ? directory : nullptr, &startup, &process)) {
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

// Built in place on the first call and kept for the process's life: no
// destructor is registered, since freeing its block as the process ends
// would change nothing anyone can see.
const String& CommandInterpreter() {
  alignas(String) static unsigned char storage[sizeof(String)];
  static const String* interpreter = new (storage) String(FindCommandInterpreter());
  return *interpreter;
}

bool OpenDocument(const char* file, const char* parameters, const char* directory, const char* verb) {
  if (!file || !*file) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  HINSTANCE result = ShellExecuteA(nullptr, verb, file, parameters, directory, SW_SHOW);
  return (INT_PTR)result > 32;
}
