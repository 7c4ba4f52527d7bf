// Directory variables ("%InstallDir%", "%WinDir%", ...) and the folders
// behind them.
//
// The four run values (installation, shared and uninstall directories,
// product version) belong to the run that sets them as it learns them; the
// expansion and the table's getters take them as an argument.
//
// The folder getters are Windows-only, never fail and build their value
// afresh on every call: each source of a folder is tried in a fixed order and
// a missing registry value, shell function or failing call falls through to
// the next, ending in a fixed default or "". Folder values carry no trailing
// backslash except a drive root given so by a source (C:\).
#pragma once
#include <stdint.h>

#include "core/string.h"

// The run values the variables %InstallDir%, %InstallDrive%, %SharedDir%,
// %UninstallDir% and %Version% stand for; empty until the run sets them.
struct RunDirectories {
  String installation;
  String shared;
  String uninstall;
  String productVersion;
};

#if defined(_WIN32)
// One directory variable: its name with the percent signs, and its getter:
// a system folder's, or one that reads the run values.
struct PathVariable {
  const char* name;
  String (*systemValue)();                       // null for a run value
  String (*runValue)(const RunDirectories& run);  // null for a system folder
  String Value(const RunDirectories& run) const { return systemValue ? systemValue() : runValue(run); }
};
// The 33 variables in the order ExpandPathVariables replaces them.
const PathVariable* PathVariables(int32_t* count);

// Replaces every variable of the table in turn (ignoring case; a value
// inserted by one row is scanned by the later ones), then expands the
// remaining environment references with ExpandEnvironmentStringsA (31,999
// characters at most). Returns whether the environment step succeeded; when
// it fails the text stays as the table left it.
bool ExpandPathVariables(String& text, const RunDirectories& run);

// The text value name of the key
// "Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders"
// under HKEY_LOCAL_MACHINE (allUsers) or HKEY_CURRENT_USER; "" when missing. A result of 4 or more characters loses one trailing '\'.
String ReadShellFolder(const char* name, bool allUsers);
// A value under HKEY_LOCAL_MACHINE "Software\Microsoft\Windows\CurrentVersion\"
// + name, where the last backslash of the whole path separates key and value
// name ("Explorer\Shell Folders\Common AppData"). Same backslash rule.
String ReadCurrentVersionValue(const char* name);
// SHGetSpecialFolderPathA (looked up at run time) for a CSIDL, without
// creating the folder; "" when the function is missing or fails.
String SpecialFolderPath(int32_t csidl);
// The upper-cased letter of "BootDir" under HKEY_LOCAL_MACHINE
// "Software\Microsoft\Windows\CurrentVersion\Setup", else 'C'.
char BootDriveLetter();

// The folder getters, one per variable of the table.
String AppDataAllDir();     // %AppDataAllDir%
String AppDataDir();        // %AppDataDir%
String BootDrive();         // %BootDrive%: "C:"
String CommonDir();         // %CommonDir%
String DesktopAllDir();     // %DesktopAllDir%
String DesktopDir();        // %DesktopDir%
// Tells the shell that the desktop folder of all users or of the current
// user changed; false when nothing was sent.
bool RefreshDesktop(bool allUsers);
String DeviceDir();         // %DeviceDir%
String DocumentAllDir();    // %DocumentAllDir%
String DocumentDir();       // %DocumentDir%
String FavoritesAllDir();   // %FavoritesAllDir%
String FavoritesDir();      // %FavoritesDir%
String FontDir();           // %FontDir%
String InetpubDir();        // %Inetpub%: the parent of the web root
String InstallDrive(const String& installation);  // %InstallDrive%: "D:" or ""
String InstallerDir();      // %InstallerDir%
String InstallerDrive();    // %InstallerDrive%: a bare letter or ""
String InstallerFilename(); // %InstallerFilename%
String MediaDir();          // %MediaDir%
String ProgramsDir();       // %ProgramsDir%
String SMProgramsAllDir();  // %SMProgramsAllDir%
String SMProgramsDir();     // %SMProgramsDir%
String StartMenuAllDir();   // %StartMenuAllDir%
String StartMenuDir();      // %StartMenuDir%
String StartupAllDir();     // %StartupAllDir%
String StartupDir();        // %StartupDir%
#endif
