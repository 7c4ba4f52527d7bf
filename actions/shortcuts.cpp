#include "actions/shortcuts.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include "archive/format.h"
#include "core/format.h"
#include "core/path.h"
#include "core/path_check.h"
#include "core/win32/file_util.h"
#include "core/win32/path_variables.h"
#include "core/win32/system.h"
#include "core/win32/system_error.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"

namespace {

constexpr int kMaxWidePath = 260;
constexpr char kDesktopIni[] = "Desktop.ini";
constexpr char kDesktopIcon[] = "Desktop Icon.ico";

bool EndsWithLnk(const String& path) {
  const int32_t n = path.Length();
  return n >= 4 && FindInText(path.CStr() + n - 4, 4, ".lnk", 4, 0, kFindIgnoreCase) == 0;
}

// The text before the last backslash ("" without one).
String FolderOf(const String& path) {
  int32_t slash = path.FindLastChar('\\');
  return slash > 0 ? String(path.CStr(), slash) : String();
}

// The shell link's class and the two interfaces used here, defined locally:
// the system's GUID library would bring a whole object of identifiers along.
constexpr GUID kShellLinkClass = {0x00021401, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kShellLinkInterface = {0x000214EE, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kPersistFileInterface = {0x0000010B, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

bool Failed(HRESULT hr) {
  if (SUCCEEDED(hr)) return false;
  SetLastError((DWORD)hr);
  return true;
}

String DesktopOf(bool allUsers) { return allUsers ? DesktopAllDir() : DesktopDir(); }
String ProgramsOf(bool allUsers) { return allUsers ? SMProgramsAllDir() : SMProgramsDir(); }
String StartupOf(bool allUsers) { return allUsers ? StartupAllDir() : StartupDir(); }

// template with its first "%s" replaced by value. The template comes from
// the archive's message table, so it is never used as a printf format.
String FillOneText(const char* templateText, const char* value) {
  String out = templateText;
  if (out.ReplaceAll("%s", value, kReplaceFirstOnly) < 0) out.Append(value);
  return out;
}

// The file-failure entry for a link that could not be made.
void ReportLinkFailure(Run& run, const String& linkPath) { AppendErrorLine(run, run.texts.errors, linkPath.CStr()); }

bool RefuseUnsafeName(const char* name, String& linkPath, const String& folder) {
  if (IsSafeLinkName(name)) return false;
  linkPath = JoinPath(folder.CStr(), name);
  SetLastError(ERROR_INVALID_NAME);
  return true;
}

void RecordLink(Run& run, const String& linkPath) {
  if (!linkPath.IsEmpty()) run.uninstall.Add(linkPath.CStr(), kUninstallFile);
}

void LogLink(Run& run, const char* format, const char* name, const String& linkPath) {
  if (!ProductFlag(run, kFlagVerboseLog)) return;
  if (name)
    AppendFormat(run.texts.installLog, format, name, linkPath.CStr());
  else
    AppendFormat(run.texts.installLog, format, linkPath.CStr());
}

// One request after its texts are settled.
struct Request {
  String target, name, icon, arguments, workingDirectory;
  bool permanent = false;
};

// The request's texts as the link gets them: path variables expanded, the
// working directory checked, a replacement target taken from the arguments,
// a default name, the icon made absolute.
Request Settle(Run& run, const ShortcutRecord& record) {
  Request r;
  r.target = record.target;
  r.name = record.name;
  r.icon = record.iconFile;
  r.arguments = record.arguments;
  r.workingDirectory = record.workingDirectory;
  r.permanent = record.permanent != 0;

  ExpandPathVariables(r.arguments, run.directories);
  ExpandPathVariables(r.workingDirectory, run.directories);
  r.workingDirectory.TrimUnquote();
  if (r.workingDirectory.IsEmpty() || !IsDirectory(r.workingDirectory.CStr()))
    r.workingDirectory = run.directories.installation;

  if (r.arguments.Length() >= 2 && r.arguments.CharAt(0) == '~' && r.arguments.CharAt(1) == '"') {
    r.arguments.DeleteFirst(1);
    r.arguments.ExtractQuoted(r.target, '"', 0);
    r.target.TrimUnquote();
    r.arguments.Trim();
  }
  if (record.expandTarget) ExpandPathVariables(r.target, run.directories);
  if (r.name.IsEmpty()) r.name = FillOneText(MessageText(run, kMsgMissingLinkName), FileNameOf(r.target.CStr()).CStr());
  if (!r.icon.IsEmpty()) MakeAbsolute(r.icon, run.directories.uninstall.CStr());
  return r;
}

// The desktop folder, made on the first request that needs it: the folder,
// its Desktop.ini and, with the archive's icon bytes, "Desktop Icon.ico" in
// the uninstall directory named by Desktop.ini.
void MakeDesktopFolder(Run& run, const String& folder, const ArchiveSettings& settings) {
  const char* folderPath = folder.CStr();
  if (!CreateDirectoryTree(folderPath)) {
    const String reason = LastErrorText();
    AppendFormat(run.texts.errors, "Failed to create directory %s: %s\r\n", folderPath, reason.CStr());
  }
  const String ini = JoinPath(folderPath, kDesktopIni);
  const char* iniPath = ini.CStr();
  run.uninstall.Add(iniPath, kUninstallFile);
  run.uninstall.Add(folderPath, kUninstallDirectory);
  if (settings.desktopShortcutIcon.IsEmpty()) return;
  const String icon = JoinPath(run.directories.uninstall.CStr(), kDesktopIcon);
  const char* iconPath = icon.CStr();
  if (WriteStringToFile(iconPath, settings.desktopShortcutIcon.CStr(), settings.desktopShortcutIcon.Length()) != 0) {
    AppendFormat(run.texts.errors, "Failed to create Desktop shortcut folder icon \"%s\"\r\n", iconPath);
    return;
  }
  WritePrivateProfileStringA(".ShellClassInfo", "IconFile", iconPath, iniPath);
  WritePrivateProfileStringA(".ShellClassInfo", "IconIndex", "0", iniPath);
  run.uninstall.Add(iconPath, kUninstallFile);
  SetAttributeBits(folderPath, FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_SYSTEM);
  SetAttributeBits(iniPath, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
}

class ShortcutStep {
 public:
  ShortcutStep(Run& run, const ArchiveSettings& settings)
      : run_(run), settings_(settings), allUsers_(settings.ShortcutMode == kShortcutModeAllUsers) {}

  void Desktop(const Request& r) {
    desktopChanged_ = true;
    String link;
    if (settings_.desktopShortcutName.IsEmpty()) {
      if (CreateDesktopShortcut(r.name.CStr(), r.target.CStr(), r.arguments.CStr(), r.workingDirectory.CStr(),
                                r.icon.CStr(), allUsers_, link))
        Made("Desktop Shortcut(%s) -> %s\r\n", r, link);
      else
        ReportLinkFailure(run_, link);
      return;
    }
    String relative = JoinPath(settings_.desktopShortcutName.CStr(), r.name.CStr());
    if (RefuseUnsafeName(relative.CStr(), link, DesktopOf(allUsers_))) return ReportLinkFailure(run_, link);
    if (!desktopFolderMade_) {
      desktopFolderMade_ = true;
      desktopFolder_ = JoinPath(DesktopOf(allUsers_).CStr(), settings_.desktopShortcutName.CStr());
      MakeDesktopFolder(run_, desktopFolder_, settings_);
    }
    link = JoinPath(desktopFolder_.CStr(), r.name.CStr());
    if (CreateShortcut(link, r.target.CStr(), r.arguments.CStr(), r.workingDirectory.CStr(), r.icon.CStr()))
      Made("Desktop Folder Shortcut(%s) -> %s\r\n", r, link);
    else
      ReportLinkFailure(run_, link);
  }

  void StartMenu(const Request& r) {
    String name = JoinPath(settings_.ProductStartMenu.CStr(), r.name.CStr());
    String link, second;
    if (CreateStartMenuShortcut(name.CStr(), r.target.CStr(), r.arguments.CStr(), r.workingDirectory.CStr(),
                                r.icon.CStr(), allUsers_, link, second)) {
      Made("Start Menu Shortcut(%s) -> %s\r\n", r, link);
      if (!r.permanent) RecordLink(run_, second);
    } else {
      ReportLinkFailure(run_, link);
    }
  }

  void Startup(const Request& r) {
    String folder = StartupOf(allUsers_);
    String link;
    if (RefuseUnsafeName(r.name.CStr(), link, folder)) return ReportLinkFailure(run_, link);
    link = JoinPath(folder.CStr(), r.name.CStr());
    if (CreateShortcut(link, r.target.CStr(), r.arguments.CStr(), r.workingDirectory.CStr(), r.icon.CStr()))
      Made("Startup Shortcut(%s) -> %s\r\n", r, link);
    else
      ReportLinkFailure(run_, link);
  }

  void Uninstaller(const String& uninstaller, const String& arguments) {
    String name = MessageText(run_, kMsgUninstallerShortcutName);
    if (ProductFlag(run_, kFlagUninstallStartMenuShortcut)) {
      String link, second;
      String relative = JoinPath(settings_.ProductStartMenu.CStr(), name.CStr());
      if (CreateStartMenuShortcut(relative.CStr(), uninstaller.CStr(), arguments.CStr(), "", "", allUsers_, link,
                                  second)) {
        LogLink(run_, "Uninstaller Shortcut -> %s\r\n", nullptr, link);
        RecordLink(run_, link);
        RecordLink(run_, second);
      } else {
        ReportLinkFailure(run_, link);
      }
    }
    if (ProductFlag(run_, kFlagUninstallShortcutInUninstallDir)) {
      String link;
      if (RefuseUnsafeName(name.CStr(), link, run_.directories.uninstall)) return ReportLinkFailure(run_, link);
      link = JoinPath(run_.directories.uninstall.CStr(), name.CStr());
      if (CreateShortcut(link, uninstaller.CStr(), arguments.CStr(), "", "")) {
        LogLink(run_, "Uninstaller Shortcut -> %s\r\n", nullptr, link);
        RecordLink(run_, link);
      } else {
        ReportLinkFailure(run_, link);
      }
    }
  }

  bool DesktopChanged() const { return desktopChanged_; }

 private:
  void Made(const char* logFormat, const Request& r, const String& link) {
    LogLink(run_, logFormat, r.name.CStr(), link);
    if (!r.permanent) RecordLink(run_, link);
  }

  Run& run_;
  const ArchiveSettings& settings_;
  const bool allUsers_;
  bool desktopChanged_ = false;
  bool desktopFolderMade_ = false;
  String desktopFolder_;
};

}  // namespace

bool CreateShortcut(String& linkPath, const char* target, const char* arguments, const char* workingDirectory,
                    const char* icon) {
  IShellLinkA* link = nullptr;
  if (Failed(CoCreateInstance(kShellLinkClass, nullptr, CLSCTX_INPROC_SERVER, kShellLinkInterface,
                              reinterpret_cast<void**>(&link))))
    return false;
  link->SetPath(target ? target : "");
  link->SetIconLocation(icon && *icon ? icon : (target ? target : ""), 0);
  if (arguments && *arguments) link->SetArguments(arguments);
  if (workingDirectory && *workingDirectory) link->SetWorkingDirectory(workingDirectory);

  bool saved = false;
  IPersistFile* file = nullptr;
  if (!Failed(link->QueryInterface(kPersistFileInterface, reinterpret_cast<void**>(&file)))) {
    if (!EndsWithLnk(linkPath)) linkPath.Append(".LNK");
    (void)CreateDirectoryTree(FolderOf(linkPath).CStr());  // a missing folder makes the save below fail and report
    wchar_t wide[kMaxWidePath + 1];
    if (MultiByteToWideChar(CP_ACP, 0, linkPath.CStr(), -1, wide, kMaxWidePath + 1) <= 0)
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
    else
      saved = !Failed(file->Save(wide, TRUE));
    file->Release();
  }
  link->Release();
  return saved;
}

bool CreateDesktopShortcut(const char* name, const char* target, const char* arguments,
                           const char* workingDirectory, const char* icon, bool allUsers, String& linkPath) {
  String folder = DesktopOf(allUsers);
  if (RefuseUnsafeName(name, linkPath, folder)) return false;
  linkPath = JoinPath(folder.CStr(), name);
  return CreateShortcut(linkPath, target, arguments, workingDirectory, icon);
}

bool CreateStartMenuShortcut(const char* name, const char* target, const char* arguments,
                             const char* workingDirectory, const char* icon, bool allUsers, String& linkPath,
                             String& secondLinkPath) {
  secondLinkPath.Clear();
  String folder = ProgramsOf(allUsers);
  if (RefuseUnsafeName(name, linkPath, folder)) return false;
  linkPath = JoinPath(folder.CStr(), name);
  bool made = CreateShortcut(linkPath, target, arguments, workingDirectory, icon);
  if (allUsers && IsWin95Or98()) {
    // These systems show only the current user's start menu: the link goes
    // there as well.
    String second = JoinPath(ProgramsOf(false).CStr(), name);
    String firstPlanned = JoinPath(folder.CStr(), name);
    if (second.CompareNoCase(firstPlanned.CStr()) != 0) {
      DWORD firstError = GetLastError();
      if (CreateShortcut(second, target, arguments, workingDirectory, icon)) secondLinkPath = second;
      SetLastError(firstError);
    }
  }
  return made;
}

bool CreateShortcuts(Run& run, const ArchiveSettings& settings, const Array<ShortcutRecord>& entryRequests) {
  ShortcutStep step(run, settings);
  const auto make = [&](const ShortcutRecord& record) {
    if (!record.desktop && !record.startMenu && !record.startup) return;
    Request r = Settle(run, record);
    if (record.desktop) step.Desktop(r);
    if (record.startMenu) step.StartMenu(r);
    if (record.startup) step.Startup(r);
  };
  for (const ShortcutRecord& record : settings.shortcuts) make(record);
  for (const ShortcutRecord& record : entryRequests) make(record);
  if (!ProductFlag(run, kFlagUninstaller)) return step.DesktopChanged();

  const String uninstaller = JoinPath(run.directories.uninstall.CStr(), settings.uninstallerFileName.CStr());
  String uninstallerArguments;
  Format(uninstallerArguments, "/u:\"%s\"", settings.uninstallName.CStr());
  if (ProductFlag(run, kFlagUninstallShortcut)) {
    ShortcutRecord r;
    r.desktop = 1;
    r.target = uninstaller;
    r.name = MessageText(run, kMsgUninstallerShortcutName);
    r.arguments = uninstallerArguments;
    make(r);
  }
  step.Uninstaller(uninstaller, uninstallerArguments);
  return step.DesktopChanged();
}
