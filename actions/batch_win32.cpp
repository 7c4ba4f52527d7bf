#include "actions/batch.h"

#include <windows.h>
#include <aclapi.h>

#include "actions/batch_text.h"
#include "core/format.h"
#include "core/path.h"
#include "core/win32/disk_file.h"
#include "core/win32/file_util.h"
#include "core/win32/path_variables.h"
#include "core/win32/process.h"
#include "core/win32/system.h"
#include "core/win32/system_dirs.h"
#include "core/win32/system_error.h"
#include "install/file_writer.h"
#include "runtime/run_state.h"

namespace {

constexpr int32_t kBatchEnvironmentSize = 10000;

String InstallerDriveText() { return DriveText(DriveOf(ModulePath().CStr())); }

// The system's variables after InstallDir, InstallDrive, UninstallDir and
// SharedDir, in file order; Version follows them. A table rather than a
// call per line keeps the runtime small.
struct BatchSource {
  const char* name;
  String (*value)();
};
const BatchSource kBatchSources[] = {
    {"InstallerFilepath", ModulePath},
    {"InstallerDir", InstallerDir},
    {"InstallerFilename", InstallerFilename},
    {"InstallerDrive", InstallerDriveText},
    {"SystemDir", SystemDir},
    {"DeviceDir", DeviceDir},
    {"MediaDir", MediaDir},
    {"FavoritesDir", FavoritesDir},
    {"FavoritesAllDir", FavoritesAllDir},
    {"FontDir", FontDir},
    {"DesktopDir", DesktopDir},
    {"DesktopAllDir", DesktopAllDir},
    {"DocumentDir", DocumentDir},
    {"DocumentAllDir", DocumentAllDir},
    {"ProgramsDir", ProgramsDir},
    {"StartMenuDir", StartMenuDir},
    {"StartMenuAllDir", StartMenuAllDir},
    {"SMProgramsDir", SMProgramsDir},
    {"SMProgramsAllDir", SMProgramsAllDir},
    {"StartupDir", StartupDir},
    {"StartupAllDir", StartupAllDir},
    {"BootDrive", BootDrive},
    {"CommonDir", CommonDir},
    {"Inetpub", InetpubDir},
    {"AppDataDir", AppDataDir},
    {"AppDataAllDir", AppDataAllDir},
};

void Add(Array<BatchVariable>& out, const char* name, const String& value) {
  BatchVariable& v = out.Append();
  v.name = name;
  v.value = value;
}

}  // namespace

void CollectBatchVariables(const RunDirectories& run, const char* directory, Array<BatchVariable>& out) {
  if (directory && *directory) {
    Add(out, "InstallDir", String(directory));
    Add(out, "InstallDrive", DriveText(DriveOf(directory)));
  }
  Add(out, "UninstallDir", run.uninstall);
  Add(out, "SharedDir", run.shared);
  for (const BatchSource& source : kBatchSources) Add(out, source.name, source.value());
  Add(out, "Version", run.productVersion);
}

void RunBatch(const Run& run, const char* directory, bool hidden, const String& commands) {
  if (commands.IsEmpty()) return;
  const char* dir = directory ? directory : "";
  Array<BatchVariable> variables;
  CollectBatchVariables(run.directories, dir, variables);
  const String& interpreter = CommandInterpreter();
  String text;
  const bool legacy = IsLegacyInterpreter(interpreter.CStr());
  BuildBatchFile(text, variables, commands, run.options.automaticMode || hidden, !legacy);

  // The batch file lives in a new directory of the run's own, so nobody can
  // have put anything under its name, and it stays open with writing and
  // deleting shared with nobody until the interpreter is done: the commands
  // it runs are exactly the ones written. The interpreter's current
  // directory is still the group's.
  String own;
  if (!CreatePrivateDirectory(own)) return;
  const String path = JoinPath(own.CStr(), kBatchFileName);
  {
    DiskFile file;
    if (file.Open(path.CStr(), kOpenCreateNew | kOpenShareRead) == kOpenOk &&
        file.WriteBlock(text.CStr(), text.Length())) {
      String commandLine;
      Format(commandLine, "%s /e:%d /c ", interpreter.CStr(), (int)kBatchEnvironmentSize);
      AppendBatchPathArgument(commandLine, path, legacy);
      // Unless told not to, the interpreter looks a command's program up in
      // its current directory (the install directory) before the system's.
      // A silent run (/s) shows no window, the interpreter's console included.
      const bool hide = hidden || !ShowsWindows(run);
      RunProcess(commandLine.CStr(),
                 kRunWait | kRunKeepUiAlive | kRunNoCurrentDirectoryPrograms | (hide ? (uint32_t)kRunHidden : 0u),
                 dir);
    }
  }
  // A batch file still held by a program it started stays in the run's own
  // directory, which then stays too; nothing else ever uses either.
  (void)RemoveFile(path.CStr(), 0);
  RemoveDirectoryA(own.CStr());
}

String EditAutoexecPath(const String& installDir, bool add) {
  String path = DriveText(BootDriveLetter());
  path.Append("\\autoexec.bat");
  DiskFile file;
  String failure;
  if (file.Open(path.CStr(), add ? kOpenAlways : kOpenExisting) != kOpenOk) {
    Format(failure, "Unable to modify %s.  You will need to manually %s %s %s the PATH environment variable.\r\n\r\n",
           path.CStr(), add ? "add" : "remove", installDir.CStr(), add ? "to" : "from");
    return failure;
  }
  const String line = AutoexecPathLine(ShortPathOf(installDir.CStr()).CStr());
  String text;
  if (!file.ReadAll(text)) return failure;
  const int32_t oldLength = text.Length();
  if (!EditAutoexecText(text, line, add)) return failure;
  if (add) {
    // Only the new end is written: the existing lines are never rewritten.
    // The PATH edit is best-effort: a failed write leaves the file as it was
    // or ends it early, and the installation goes on either way.
    if (file.SeekFromEnd(0)) (void)file.WriteBlock(text.CStr() + oldLength, text.Length() - oldLength);
  } else if (file.SeekTo(0) && file.WriteBlock(text.CStr(), text.Length())) {
    (void)file.Truncate();  // best-effort as above; the shorter text is already written
  }
  return failure;
}

void GrantUsersAccess(String& log, const char* directory) {
  AppendFormat(log, "Granting rights to directory \"%s\"...", directory ? directory : "");
  const uint32_t code = GrantDirectoryAccess(directory, "Users", GRANT_ACCESS, GENERIC_ALL,
                                             SUB_CONTAINERS_AND_OBJECTS_INHERIT, TRUSTEE_IS_NAME);
  if (code == 0) {
    log.Append("OK\r\n");
  } else {
    AppendFormat(log, "FAIL code %d: %s\r\n", (int)code, SystemErrorText(code).CStr());
  }
}
