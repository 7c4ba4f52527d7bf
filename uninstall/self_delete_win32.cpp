// The self-deleting batch of a successful uninstall run.
//
// The batch runs with the rights of the user who uninstalls, often an
// administrator. A fixed, well-known file name would let another user plant
// or change the batch before it runs, so it lives in a new directory that
// this run creates itself (CreatePrivateDirectory) and is created there as a
// new file.
#include <windows.h>

#include "core/format.h"
#include "core/path.h"
#include "core/win32/file_util.h"
#include "core/win32/path_variables.h"
#include "core/win32/process.h"
#include "core/win32/system_dirs.h"
#include "uninstall/uninstall_rules.h"
#include "uninstall/uninstaller.h"

namespace {

constexpr char kBatchFileName[] = "delunins.bat";

// Writes text into a file that must not exist yet.
bool WriteNewFile(const char* path, const String& text) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text.CStr(), (DWORD)text.Length(), &written, nullptr);
  const BOOL closed = CloseHandle(file);
  return ok && closed && written == (DWORD)text.Length();
}

}  // namespace

int32_t WriteSelfDeleteBatch(const RunDirectories& directories) {
  String directory;
  if (!CreatePrivateDirectory(directory)) return 1;
  const String batch = JoinPath(directory.CStr(), kBatchFileName);
  const String& installDir = directories.installation;
  const String& uninstallDir = directories.uninstall;
  // The uninstall directory has its own line only when it is a subdirectory.
  const char* subdir = SamePath(uninstallDir.CStr(), installDir.CStr()) ? "" : "subdir";
  const String text =
      SelfDeleteBatchText(ModulePath().CStr(), subdir, uninstallDir.CStr(), installDir.CStr(), batch.CStr(),
                          directory.CStr());
  if (!WriteNewFile(batch.CStr(), text)) {
    DeleteFileA(batch.CStr());
    RemoveDirectoryA(directory.CStr());
    return 1;
  }

  String interpreter(CommandInterpreter());
  interpreter.Unquote();
  String commandLine;
  Format(commandLine, "\"%s\" /c \"%s\"", interpreter.CStr(), batch.CStr());
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWMINNOACTIVE;
  PROCESS_INFORMATION process;
  // The batch runs from the temporary directory, so that neither its own
  // directory nor the install directory is its current one when it removes
  // them.
  const String temp = TempDir();
  // The interpreter by its full path, never a name looked up beside the
  // uninstaller or in the current directory.
  String program;
  if (!FindProgram(commandLine.CStr(), program) ||
      !CreateProcessA(program.CStr(), commandLine.Buffer(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                      temp.CStr(), &startup, &process)) {
    DeleteFileA(batch.CStr());
    RemoveDirectoryA(directory.CStr());
    return 2;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}
