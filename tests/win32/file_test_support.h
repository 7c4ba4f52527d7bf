// Helpers of the file-access tests: fixtures made and read with the plain
// Win32 API (not with the code under test), and a second process that holds
// a file open.
#pragma once
#include <windows.h>

#include <stdint.h>

#include <string>

#include "core/string.h"

namespace filetest {

inline std::string Text(const char* s, int32_t n) { return std::string(s, (size_t)n); }
inline std::string Str(const String& s) { return Text(s.CStr(), s.Length()); }

// A fresh empty directory C:\<name> (removed first if a previous run left it).
inline std::string FreshDirectory(const std::string& name) {
  std::string dir = "C:\\" + name;
  std::string command = "cmd /c rmdir /s /q \"" + dir + "\" 2>nul";
  // Only this test's own directory inside the test prefix is removed.
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (GetFileAttributesA(dir.c_str()) != INVALID_FILE_ATTRIBUTES &&
      CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi)) {
    WaitForSingleObject(pi.hProcess, 30000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

inline bool WriteRaw(const std::string& path, const std::string& data) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = data.empty() || WriteFile(h, data.data(), (DWORD)data.size(), &written, nullptr);
  CloseHandle(h);
  return ok && written == data.size();
}

inline std::string ReadRaw(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing>";
  std::string data;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) data.append(buffer, got);
  CloseHandle(h);
  return data;
}

inline bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

inline bool IsDirectoryRaw(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Sets the last-write time of path to a local date and time.
inline bool SetLocalWriteTime(const std::string& path, WORD year, WORD month, WORD day, WORD hour, WORD minute,
                              WORD second) {
  SYSTEMTIME st = {year, month, 0, day, hour, minute, second, 0};
  FILETIME local, utc;
  if (!SystemTimeToFileTime(&st, &local) || !LocalFileTimeToFileTime(&local, &utc)) return false;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BOOL ok = SetFileTime(h, nullptr, nullptr, &utc);
  CloseHandle(h);
  return ok != FALSE;
}

// The last-write time of path as local SYSTEMTIME; false when missing.
inline bool LocalWriteTime(const std::string& path, SYSTEMTIME& out) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  FILETIME local;
  return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) &&
         FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) && FileTimeToSystemTime(&local, &out);
}

// A copy of this test program started as "<exe> --hold <path> <ready> <release>":
// it opens path without sharing, signals the ready event and keeps the file
// open until the release event (or 60 s).
class FileHolder {
 public:
  explicit FileHolder(const std::string& path) {
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    const std::string suffix = std::to_string(GetCurrentProcessId()) + "_" + std::to_string(counter_++);
    ready_name_ = "h5_ready_" + suffix;
    release_name_ = "h5_release_" + suffix;
    ready_ = CreateEventA(nullptr, TRUE, FALSE, ready_name_.c_str());
    release_ = CreateEventA(nullptr, TRUE, FALSE, release_name_.c_str());
    std::string command = "\"";  // built by appends: GCC 12 warns wrongly about "x" + std::string
    command += exe;
    command += "\" --hold \"" + path + "\" " + ready_name_ + " " + release_name_;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      process_ = pi.hProcess;
      CloseHandle(pi.hThread);
      HANDLE both[2] = {ready_, process_};
      holding_ = WaitForMultipleObjects(2, both, FALSE, 30000) == WAIT_OBJECT_0;
    }
  }
  ~FileHolder() { Release(); }
  bool Holding() const { return holding_; }
  void Release() {
    if (!process_) return;
    SetEvent(release_);
    WaitForSingleObject(process_, 30000);
    CloseHandle(process_);
    process_ = nullptr;
    CloseHandle(ready_);
    CloseHandle(release_);
  }

  // The child side; returns the process exit code.
  static int HoldMain(const char* path, const char* ready, const char* release) {
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    HANDLE readyEvent = OpenEventA(EVENT_MODIFY_STATE, FALSE, ready);
    HANDLE releaseEvent = OpenEventA(SYNCHRONIZE, FALSE, release);
    if (!readyEvent || !releaseEvent) return 3;
    SetEvent(readyEvent);
    WaitForSingleObject(releaseEvent, 60000);
    CloseHandle(file);
    return 0;
  }

 private:
  static inline int counter_ = 0;
  std::string ready_name_, release_name_;
  HANDLE ready_ = nullptr, release_ = nullptr, process_ = nullptr;
  bool holding_ = false;
};

// Runs this program again with extra arguments; returns its exit code and
// what it wrote to stderr.
inline int RunSelf(const std::string& arguments, std::string& errorOutput, const std::string& scratchDir) {
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  const std::string errPath = scratchDir + "\\child_stderr.txt";
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE err = CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
  std::string command = "\"";
  command += exe;
  command += "\" " + arguments;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = err;
  si.hStdError = err;
  PROCESS_INFORMATION pi = {};
  DWORD code = 0xFFFF;
  if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    WaitForSingleObject(pi.hProcess, 60000);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(err);
  errorOutput = ReadRaw(errPath);
  // The C library's text-mode stderr writes "\r\n" as "\r\r\n"; undo that.
  for (size_t at; (at = errorOutput.find("\r\r\n")) != std::string::npos;) errorOutput.erase(at, 1);
  return (int)code;
}

// RunSelf for a child that reports in lines: every CR of its output is
// dropped, so the lines compare with "\n" alone.
inline int RunSelfForLines(const std::string& arguments, std::string& errorOutput, const std::string& scratchDir) {
  const int code = RunSelf(arguments, errorOutput, scratchDir);
  for (size_t at; (at = errorOutput.find('\r')) != std::string::npos;) errorOutput.erase(at, 1);
  return code;
}

}  // namespace filetest
