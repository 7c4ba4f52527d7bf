// The end-of-installation registration of the product for its uninstaller:
// the uninstaller copy, the values under the product's Uninstall key, and
// the uninstall data file.
#pragma once
#include "core/string.h"

// The uninstaller's name when the archive gives none.
constexpr char kDefaultUninstallerName[] = "Uninstall.exe";

// The uninstaller copy's path: the archive's uninstaller file name (or
// kDefaultUninstallerName when it is blank) in the uninstall directory.
String UninstallerPath();

// The subkey path of the product's entry under HKEY_LOCAL_MACHINE.
String UninstallKeyPath(const char* uninstallName);

// Writes "Uninstall.DAT" in the uninstall directory from the uninstall list,
// the uninstall messages in the current language and the association log.
// The text goes to a new temporary file beside it that then replaces the old
// file, so a failed write never leaves a cut or emptied data file behind.
// False on failure (the thread's last error tells why).
[[nodiscard]] bool WriteUninstallData();

// The uninstaller copy, the Uninstall key's values in their fixed order
// (sharedFilesText is the SharedFiles value), then the uninstall data file.
// Every failure appends its message to the error text; the installation
// goes on.
void RegisterUninstall(const String& sharedFilesText);
