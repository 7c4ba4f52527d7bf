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
#include "runtime/run_texts.h"

namespace {

constexpr int32_t kBatchEnvironmentSize = 10000;

void Add(Array<BatchVariable>& out, const char* name, const String& value) {
  BatchVariable& v = out.Append();
  v.name = name;
  v.value = value;
}

}  // namespace

void CollectBatchVariables(const char* directory, Array<BatchVariable>& out) {
  if (directory && *directory) {
    Add(out, "InstallDir", String(directory));
    Add(out, "InstallDrive", DriveText(DriveOf(directory)));
  }
  Add(out, "UninstallDir", UninstallDirectory());
  Add(out, "SharedDir", SharedDirectory());
  Add(out, "InstallerFilepath", ModulePath());
  Add(out, "InstallerDir", InstallerDir());
  Add(out, "InstallerFilename", InstallerFilename());
  Add(out, "InstallerDrive", DriveText(DriveOf(ModulePath().CStr())));
  Add(out, "SystemDir", SystemDir());
  Add(out, "DeviceDir", DeviceDir());
  Add(out, "MediaDir", MediaDir());
  Add(out, "FavoritesDir", FavoritesDir());
  Add(out, "FavoritesAllDir", FavoritesAllDir());
  Add(out, "FontDir", FontDir());
  Add(out, "DesktopDir", DesktopDir());
  Add(out, "DesktopAllDir", DesktopAllDir());
  Add(out, "DocumentDir", DocumentDir());
  Add(out, "DocumentAllDir", DocumentAllDir());
  Add(out, "ProgramsDir", ProgramsDir());
  Add(out, "StartMenuDir", StartMenuDir());
  Add(out, "StartMenuAllDir", StartMenuAllDir());
  Add(out, "SMProgramsDir", SMProgramsDir());
  Add(out, "SMProgramsAllDir", SMProgramsAllDir());
  Add(out, "StartupDir", StartupDir());
  Add(out, "StartupAllDir", StartupAllDir());
  Add(out, "BootDrive", BootDrive());
  Add(out, "CommonDir", CommonDir());
  Add(out, "Inetpub", InetpubDir());
  Add(out, "AppDataDir", AppDataDir());
  Add(out, "AppDataAllDir", AppDataAllDir());
  Add(out, "Version", ProductVersion());
}

void RunBatch(const char* directory, bool hidden, const String& commands) {
  if (commands.IsEmpty()) return;
  const char* dir = directory ? directory : "";
  Array<BatchVariable> variables;
  CollectBatchVariables(dir, variables);
  const String& interpreter = CommandInterpreter();
  String text;
  const bool legacy = IsLegacyInterpreter(interpreter.CStr());
  BuildBatchFile(text, variables, commands, g_options.automaticMode || hidden, !legacy);

  const String path = JoinPath(dir, kBatchFileName);
  // A file (or link) left under the name is removed, and the batch file is
  // then created new: the commands never go through something planted there.
  RemoveFile(path.CStr(), 0);
  {
    DiskFile file;
    if (file.Open(path.CStr(), kOpenCreateNew | kOpenNoRead) != kOpenOk) return;
    if (!file.WriteBlock(text.CStr(), text.Length())) {
      file.Close();
      RemoveFile(path.CStr(), 0);
      return;
    }
  }
  String commandLine;
  Format(commandLine, "%s /e:%d /c ", interpreter.CStr(), (int)kBatchEnvironmentSize);
  AppendBatchPathArgument(commandLine, path, legacy);
  RunProcess(commandLine.CStr(), kRunWait | kRunKeepUiAlive | (hidden ? (uint32_t)kRunHidden : 0u), dir);
  RemoveFile(path.CStr(), 0);
}

String EditAutoexecPath(bool add) {
  String path = DriveText(BootDriveLetter());
  path.Append("\\autoexec.bat");
  const String& installDir = InstallationDirectory();
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
    if (file.SeekFromEnd(0)) file.WriteBlock(text.CStr() + oldLength, text.Length() - oldLength);
  } else if (file.SeekTo(0) && file.WriteBlock(text.CStr(), text.Length())) {
    file.Truncate();
  }
  return failure;
}

void GrantUsersAccess(const char* directory) {
  String& log = InstallLogText();
  AppendFormat(log, "Granting rights to directory \"%s\"...", directory ? directory : "");
  const uint32_t code = GrantDirectoryAccess(directory, "Users", GRANT_ACCESS, GENERIC_ALL,
                                             SUB_CONTAINERS_AND_OBJECTS_INHERIT, TRUSTEE_IS_NAME);
  if (code == 0) {
    log.Append("OK\r\n");
  } else {
    AppendFormat(log, "FAIL code %d: %s\r\n", (int)code, SystemErrorText(code).CStr());
  }
}
