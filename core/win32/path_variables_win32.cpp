#include <windows.h>

#include <string.h>

#include "core/path.h"
#include "core/win32/dynamic_library.h"
#include "core/win32/path_variables.h"
#include "core/win32/registry.h"
#include "core/win32/system.h"
#include "core/win32/system_dirs.h"

namespace {

const char kShellFoldersKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kCurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\";
const char kWebRootKey[] = "SOFTWARE\\Microsoft\\INetStp";

// The environment step's output buffer, in characters.
constexpr DWORD kEnvironmentBuffer = 31999;

// Registry folder texts lose one trailing backslash, but a drive root such
// as "C:\" (shorter than 4 characters) keeps it.
void StripFolderBackslash(String& folder) {
  if (folder.Length() >= 4) folder.StripLastChar('\\');
}

// The parent folder of a folder text: cut after its last separator, then
// one trailing backslash removed.
void ToParentFolder(String& folder) {
  CutAfterLastSeparator(folder);
  folder.StripLastChar('\\');
}

// The environment's expansion of text into out; false when the call fails
// or the result would not fit even at the size the system asks for.
bool ExpandEnvironment(const char* text, String& out) {
  String buffer;
  DWORD size = kEnvironmentBuffer;
  for (int attempt = 0; attempt < 2; ++attempt) {
    buffer.SetLength((int32_t)size);
    char* chars = buffer.Buffer();
    DWORD n = ExpandEnvironmentStringsA(text, chars, size);
    chars[size - 1] = '\0';
    if (n == 0) return false;
    if (n <= size) {
      out.Assign(chars);
      return true;
    }
    // Too small: the buffer holds a cut text. Ask once more at the size the
    // system reported rather than losing the end of the text.
    if (n > (DWORD)kMaxStringBlock - 1) return false;
    size = n;
  }
  return false;
}

}  // namespace

// --- sources ---

String ReadShellFolder(const char* name, bool allUsers) {
  RegistryKey key;
  String folder;
  if (key.Open(allUsers ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, kShellFoldersKey) != kRegistryOpenFailed)
    folder = key.ReadText(name, "");
  StripFolderBackslash(folder);
  return folder;
}

String ReadCurrentVersionValue(const char* name) {
  String path(kCurrentVersionKey);
  path.Append(name);
  RegistryKey key;
  String value = key.ReadPathValue(HKEY_LOCAL_MACHINE, path.CStr(), "");
  StripFolderBackslash(value);
  return value;
}

String SpecialFolderPath(int32_t csidl) {
  const SystemFunctions& shell = SystemApi(kLibShell32);
  char buffer[MAX_PATH];
  buffer[0] = '\0';
  if (!shell.SHGetSpecialFolderPathA || !shell.SHGetSpecialFolderPathA(nullptr, buffer, csidl, FALSE))
    return String();
  buffer[MAX_PATH - 1] = '\0';
  return String(buffer);
}

char BootDriveLetter() {
  RegistryKey key;
  String boot = key.ReadPathValue(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\BootDir");
  char letter = DriveOf(boot.CStr());
  return letter ? letter : 'C';
}

// --- the folder getters, each with its sources in order ---

String AppDataAllDir() {
  String dir = SpecialFolderPath(CSIDL_COMMON_APPDATA);
  if (dir.IsEmpty()) dir = ReadCurrentVersionValue("Explorer\\Shell Folders\\Common AppData");
  return dir;
}

String AppDataDir() {
  String dir = ReadShellFolder("AppData", false);
  if (dir.IsEmpty()) dir = SpecialFolderPath(CSIDL_APPDATA);
  return dir;
}

String BootDrive() { return DriveText(BootDriveLetter()); }

String CommonDir() {
  String dir = SpecialFolderPath(CSIDL_PROGRAM_FILES_COMMON);
  if (dir.IsEmpty()) dir = ReadCurrentVersionValue("CommonFilesDir");
  if (dir.IsEmpty()) dir = JoinPath(ProgramsDir().CStr(), "Common Files");
  return dir;
}

String DesktopAllDir() {
  String dir = ReadShellFolder("Common Desktop", true);
  if (dir.IsEmpty()) dir = SpecialFolderPath(CSIDL_COMMON_DESKTOPDIRECTORY);
  if (dir.IsEmpty()) dir = DesktopDir();
  return dir;
}

String DesktopDir() {
  String dir = ReadShellFolder("Desktop", false);
  if (dir.IsEmpty()) dir = SpecialFolderPath(CSIDL_DESKTOPDIRECTORY);
  if (dir.IsEmpty()) dir = JoinPath(WindowsDir().CStr(), "Desktop");
  return dir;
}

String DeviceDir() {
  String dir = ReadCurrentVersionValue("DevicePath");
  if (!dir.IsEmpty()) {
    String systemRoot;
    if (ExpandEnvironment("%SystemRoot%", systemRoot) && !systemRoot.IsEmpty())
      dir.ReplaceAll("%SystemRoot%", systemRoot, kFindIgnoreCase | kReplaceFirstOnly);
  }
  if (dir.IsEmpty()) dir = JoinPath(WindowsDir().CStr(), "INF");
  return dir;
}

String DocumentAllDir() {
  String dir = ReadShellFolder("Common Documents", true);
  if (dir.IsEmpty()) dir = SpecialFolderPath(CSIDL_COMMON_DOCUMENTS);
  if (dir.IsEmpty()) dir = DocumentDir();
  return dir;
}

String DocumentDir() {
  String dir = ReadShellFolder("Personal", false);
  if (dir.IsEmpty()) dir = SpecialFolderPath(CSIDL_PERSONAL);
  if (dir.IsEmpty()) dir = "c:\\My Documents";
  return dir;
}

String FavoritesAllDir() {
  String dir = ReadShellFolder("Common Favorites", true);
  if (dir.IsEmpty()) dir = SpecialFolderPath(CSIDL_COMMON_FAVORITES);
  if (dir.IsEmpty()) dir = FavoritesDir();
  return dir;
}

String FavoritesDir() {
  String dir = ReadShellFolder("Favorites", false);
  if (dir.IsEmpty()) dir = SpecialFolderPath(CSIDL_FAVORITES);
  if (dir.IsEmpty()) dir = JoinPath(WindowsDir().CStr(), "Favorites");
  return dir;
}

String FontDir() {
  String dir = ReadShellFolder("Fonts", false);
  if (dir.IsEmpty()) dir = SpecialFolderPath(CSIDL_FONTS);
  if (dir.IsEmpty()) dir = JoinPath(WindowsDir().CStr(), "Fonts");
  return dir;
}

String InetpubDir() {
  String root;
  RegistryKey key;
  // Only read when present: the web server's key is never created here.
  if (key.Open(HKEY_LOCAL_MACHINE, kWebRootKey, kRegistryExisting) != kRegistryOpenFailed)
    root = key.ReadText("PathWWWRoot", "");
  key.CloseAll();
  if (root.IsEmpty()) root = "c:\\Inetpub\\wwwroot";
  root.StripLastChar('\\');
  ToParentFolder(root);
  return root;
}

String InstallDrive(const String& installation) { return DriveText(DriveOf(installation.CStr())); }

String InstallerDir() { return DirectoryOf(ModulePath().CStr()); }

String InstallerDrive() {
  char letter = DriveOf(ModulePath().CStr());
  return letter ? String(letter) : String();
}

String InstallerFilename() { return FileNameOf(ModulePath().CStr()); }

String MediaDir() {
  String dir = ReadCurrentVersionValue("MediaPath");
  if (dir.IsEmpty()) dir = JoinPath(WindowsDir().CStr(), "Media");
  return dir;
}

String ProgramsDir() {
  String dir = SpecialFolderPath(CSIDL_PROGRAM_FILES);
  if (dir.IsEmpty()) dir = ReadCurrentVersionValue("ProgramFilesDir");
  if (dir.IsEmpty()) dir = "c:\\Program Files";
  return dir;
}

String SMProgramsAllDir() {
  String dir = ReadShellFolder("Common Programs", true);
  if (dir.IsEmpty()) dir = SpecialFolderPath(CSIDL_COMMON_PROGRAMS);
  if (dir.IsEmpty()) {
    dir = ReadShellFolder("Common Startup", true);
    if (!dir.IsEmpty()) ToParentFolder(dir);
  }
  if (dir.IsEmpty()) dir = SMProgramsDir();
  return dir;
}

String SMProgramsDir() {
  String dir = ReadShellFolder("Programs", false);
  if (dir.IsEmpty()) dir = SpecialFolderPath(CSIDL_PROGRAMS);
  if (dir.IsEmpty()) dir = JoinPath(StartMenuDir().CStr(), "Programs");
  return dir;
}

String StartMenuAllDir() {
  String dir = ReadShellFolder("Common Start Menu", true);
  if (dir.IsEmpty()) dir = SpecialFolderPath(CSIDL_COMMON_STARTMENU);
  if (dir.IsEmpty()) {
    dir = ReadShellFolder("Common Startup", true);
    if (!dir.IsEmpty()) {
      ToParentFolder(dir);
      ToParentFolder(dir);
    }
  }
  if (dir.IsEmpty()) dir = StartMenuDir();
  return dir;
}

String StartMenuDir() {
  String dir = ReadShellFolder("Start Menu", false);
  if (dir.IsEmpty()) dir = SpecialFolderPath(CSIDL_STARTMENU);
  if (dir.IsEmpty()) dir = JoinPath(WindowsDir().CStr(), "Start Menu");
  return dir;
}

String StartupAllDir() {
  String dir = ReadShellFolder("Common Startup", true);
  if (dir.IsEmpty()) dir = SpecialFolderPath(CSIDL_COMMON_STARTUP);
  if (dir.IsEmpty()) dir = StartupDir();
  return dir;
}

String StartupDir() {
  String dir = ReadShellFolder("Startup", false);
  if (dir.IsEmpty()) dir = SpecialFolderPath(CSIDL_STARTUP);
  if (dir.IsEmpty()) dir = JoinPath(SMProgramsDir().CStr(), "StartUp");
  return dir;
}

// --- the table and the expansion ---

namespace {

const PathVariable kPathVariables[] = {
    {"%AppDataAllDir%", &AppDataAllDir, nullptr},
    {"%AppDataDir%", &AppDataDir, nullptr},
    {"%BootDrive%", &BootDrive, nullptr},
    {"%CommonDir%", &CommonDir, nullptr},
    {"%DesktopAllDir%", &DesktopAllDir, nullptr},
    {"%DesktopDir%", &DesktopDir, nullptr},
    {"%DeviceDir%", &DeviceDir, nullptr},
    {"%DocumentAllDir%", &DocumentAllDir, nullptr},
    {"%DocumentDir%", &DocumentDir, nullptr},
    {"%FavoritesAllDir%", &FavoritesAllDir, nullptr},
    {"%FavoritesDir%", &FavoritesDir, nullptr},
    {"%FontDir%", &FontDir, nullptr},
    {"%Inetpub%", &InetpubDir, nullptr},
    {"%InstallDir%", nullptr, [](const RunDirectories& run) { return run.installation; }},
    {"%InstallDrive%", nullptr, [](const RunDirectories& run) { return InstallDrive(run.installation); }},
    {"%InstallerDir%", &InstallerDir, nullptr},
    {"%InstallerDrive%", &InstallerDrive, nullptr},
    {"%InstallerFilename%", &InstallerFilename, nullptr},
    {"%InstallerFilepath%", &ModulePath, nullptr},
    {"%MediaDir%", &MediaDir, nullptr},
    {"%ProgramsDir%", &ProgramsDir, nullptr},
    {"%SharedDir%", nullptr, [](const RunDirectories& run) { return run.shared; }},
    {"%SMProgramsAllDir%", &SMProgramsAllDir, nullptr},
    {"%SMProgramsDir%", &SMProgramsDir, nullptr},
    {"%StartMenuAllDir%", &StartMenuAllDir, nullptr},
    {"%StartMenuDir%", &StartMenuDir, nullptr},
    {"%StartupAllDir%", &StartupAllDir, nullptr},
    {"%StartupDir%", &StartupDir, nullptr},
    {"%SystemDir%", &SystemDir, nullptr},
    {"%Temp%", &TempDir, nullptr},
    {"%UninstallDir%", nullptr, [](const RunDirectories& run) { return run.uninstall; }},
    {"%Version%", nullptr, [](const RunDirectories& run) { return run.productVersion; }},
    {"%WinDir%", &WindowsDir, nullptr},
};
constexpr int32_t kPathVariableCount = (int32_t)(sizeof kPathVariables / sizeof kPathVariables[0]);
static_assert(kPathVariableCount == 33, "the directory variables are a fixed set of 33");

}  // namespace

const PathVariable* PathVariables(int32_t* count) {
  if (count) *count = kPathVariableCount;
  return kPathVariables;
}

bool ExpandPathVariables(String& text, const RunDirectories& run) {
  for (const PathVariable& row : kPathVariables) {
    String value = row.Value(run);
    text.ReplaceAll(row.name, value, kFindIgnoreCase);
  }
  String expanded;
  if (!ExpandEnvironment(text.CStr(), expanded)) return false;
  text = static_cast<String&&>(expanded);
  return true;
}

bool RefreshDesktop(bool allUsers) {
  String desktop = allUsers ? DesktopAllDir() : DesktopDir();
  return NotifyFolderChanged(desktop.CStr());
}
