#include "uninstall/uninstall_registration.h"

#include <windows.h>

#include "archive/format.h"
#include "core/datetime.h"
#include "core/format.h"
#include "core/path.h"
#include "core/sha256.h"
#include "core/win32/disk_file.h"
#include "core/win32/file_util.h"
#include "core/win32/path_variables.h"
#include "core/win32/registry.h"
#include "core/win32/system_dirs.h"
#include "install/file_writer.h"
#include "runtime/installer_archive.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "ui/progress_dialog.h"
#include "uninstall/uninstall_data.h"

namespace {

constexpr uint32_t kTextOrDelete = kRegistryDeleteEmpty;

// The run's message n, for the data file's builder.
const char* RunMessage(void* run, int32_t n) { return MessageText(*static_cast<Run*>(run), n); }

// Each value is written without its own check: the registration is verified
// as a whole by reading UninstallString back, which is the one failure the
// run reports (with kUninstallRegistryFailure).
void PutText(RegistryKey& key, const char* name, const String& text, uint32_t flags = 0) {
  (void)key.WriteText(name, text, flags);
}
void PutNumber(RegistryKey& key, const char* name, uint32_t value, uint32_t flags = 0) {
  (void)key.WriteNumber(name, value, flags);
}

void WriteUninstallDataValues(const Run& run, RegistryKey& key, const ArchiveSettings& s) {
  for (const UninstallValue& entry : s.uninstallValues) {
    String value(entry.value);
    ExpandPathVariables(value, run.directories);
    if (entry.type == 4) {
      const int64_t n = ParseInt64(value.CStr());
      PutNumber(key, entry.name.CStr(), n == kParseInt64Failed ? 0u : (uint32_t)n, kRegistryDeleteEmpty);
    } else {
      PutText(key, entry.name.CStr(), value, kTextOrDelete | (entry.type == 2 ? kRegistryExpand : 0u));
    }
  }
}

// Every value in its order and kind.
void WriteUninstallValues(const Run& run, RegistryKey& key, const String& uninstallString, const String& quietString,
                          const String& sharedFilesText) {
  const ArchiveSettings& s = run.archive.settings;
  PutText(key, "UninstallString", uninstallString);
  PutText(key, "QuietUninstallString", quietString);
  PutText(key, "DisplayName", run.options.DisplayName);
  PutText(key, "InstallSource", ModulePath());
  PutText(key, "DisplayVersion", s.DisplayVersion, kTextOrDelete);
  PutText(key, "Publisher", s.Publisher, kTextOrDelete);
  uint32_t major = 0, minor = 0;
  if (VersionNumbers(s.DisplayVersion, major, minor)) {
    PutNumber(key, "VersionMajor", major);
    PutNumber(key, "VersionMinor", minor);
  }
  PutText(key, "ProductRegistry", s.ProductRegistry, kTextOrDelete);
  PutText(key, "ProductStartMenu", s.ProductStartMenu, kTextOrDelete);
  PutText(key, "SharedPath", run.directories.shared, kTextOrDelete);
  PutText(key, "ProductFonts", run.extraction.fontText, kTextOrDelete);
  String flags;
  Format(flags, "%I64d", (long long)(int64_t)run.productFlags);
  PutText(key, "ProductFlags", flags);
  PutText(key, "UninstallBatch1", s.UninstallBatch1, kTextOrDelete);
  PutText(key, "UninstallBatch2", s.UninstallBatch2, kTextOrDelete);
  PutText(key, "SharedFiles", sharedFilesText, kTextOrDelete);
  PutText(key, "UninstallSubdir", s.UninstallSubdir, kTextOrDelete);
  PutNumber(key, "ShortcutMode", s.ShortcutMode, kRegistryDeleteEmpty);
  PutText(key, "DisplayTitle", run.displayTitle);
  PutNumber(key, "TitleColor", s.TitleColor);
  PutNumber(key, "TopColor", s.TopColor);
  if (s.MonoColor())
    key.DeleteValue("BottomColor");
  else
    PutNumber(key, "BottomColor", s.BottomColor);
  PutNumber(key, "MonoColor", s.MonoColor() ? 1u : 0u);
  PutNumber(key, "TitleShadow", s.TitleShadow);
  PutNumber(key, "TitlePosition", s.TitlePosition);
  PutText(key, "TitleFont", s.TitleFont);
  PutText(key, "TaskbarText", s.TaskbarText);
  if (ProductFlag(run, kFlagKeepBackgroundBitmap)) {
    PutNumber(key, "BitmapSize", s.BitmapSize);
    PutNumber(key, "StretchMode", s.StretchMode);
  }
  WriteUninstallDataValues(run, key, s);
  PutText(key, "InstallLocation", run.directories.installation);
  String date;
  DateTime::Now().Format(date, kDefaultDateTimePattern);
  PutText(key, "InstallDate", date);
}

}  // namespace

String UninstallKeyPath(const char* uninstallName) {
  String path("Software\\");
  path.Append(kUninstallPath);
  path.AppendChar('\\');
  path.Append(uninstallName);
  return path;
}

bool WriteUninstallData(Run& run, String& digest) {
  digest.Clear();
  const String path = JoinPath(run.directories.uninstall.CStr(), kUninstallDataFileName);
  String text;
  BuildUninstallData(text, run.uninstall.List(), RunMessage, &run, run.uninstall.AssociationLog());
  String temporary;
  {
    DiskFile file;
    if (file.Open(path.CStr(), kOpenTempInPathDir | kOpenNoRead) != kOpenOk) return false;
    temporary = file.Path();
    if (!file.WriteBlock(text.CStr(), text.Length())) {
      const DWORD error = GetLastError();
      file.Close();
      DeleteFileA(temporary.CStr());
      SetLastError(error);
      return false;
    }
  }
  // Between the close and the move someone who may write the directory
  // could change the file; the digest of the bytes meant is what the
  // uninstaller compares, so such a change is refused there.
  if (!MoveFileExA(temporary.CStr(), path.CStr(), MOVEFILE_REPLACE_EXISTING)) {
    const DWORD error = GetLastError();
    DeleteFileA(temporary.CStr());
    SetLastError(error);
    return false;
  }
  digest = Sha256Text(text);
  return true;
}

String UninstallerPath(const Run& run) {
  const String& name = run.archive.settings.uninstallerFileName;
  // Without a name the path would be the uninstall directory itself, and the
  // copy would be scheduled to replace a directory at the next restart.
  return JoinPath(run.directories.uninstall.CStr(), name.IsBlank() ? kDefaultUninstallerName : name.CStr());
}

void RegisterUninstall(Run& run, ProgressDialog& progress, const String& sharedFilesText) {
  const ArchiveSettings& s = run.archive.settings;
  String& errors = run.texts.errors;
  const String uninstaller = UninstallerPath(run);
  const String& image = run.archive.uninstallerImage;
  // A failure is reported in errors; false after a scheduled copy only means
  // that the copy is in place after the restart.
  (void)WriteFileOrSchedule(run, uninstaller.CStr(), image.CStr(), image.Length(), s.UninstallerFileTime, errors, 0,
                            true);

  String switchText("/u:\"");
  switchText.Append(run.options.uninstallName);
  switchText.AppendChar('"');
  // Quoted: unquoted, "C:\Tools\My App\Uninstall.exe" would let the system
  // start a planted "C:\Tools\My.exe" instead.
  const String quotedUninstaller = "\"" + uninstaller + "\"";
  const String uninstallString = quotedUninstaller + " " + switchText;
  const String quietString = quotedUninstaller + " /a " + switchText;

  bool registered = false;
  {
    RegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, UninstallKeyPath(run.options.uninstallName.CStr()).CStr()) !=
        kRegistryOpenFailed) {
      WriteUninstallValues(run, key, uninstallString, quietString, sharedFilesText);
      registered = key.ReadText("UninstallString") == uninstallString;
    }
  }
  if (!registered) errors.Append(kUninstallRegistryFailure);
  progress.SetStage(kMsgFinishing, 100);

  String digest;
  if (!WriteUninstallData(run, digest)) {
    // The key keeps the digest of the data file that stays (a previous
    // installation's), or none.
    const String path = JoinPath(run.directories.uninstall.CStr(), kUninstallDataFileName);
    AppendErrorLine(run, errors, path.CStr());
  } else if (registered) {
    RegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, UninstallKeyPath(run.options.uninstallName.CStr()).CStr()) == kRegistryOpenFailed ||
        !key.WriteText(kUninstallDataHashValue, digest))
      errors.Append(kUninstallRegistryFailure);  // the uninstaller would refuse the data file
  }
}
