// The end-of-installation registration of the product for its uninstaller:
// the uninstaller copy, the values under the product's Uninstall key, and
// the uninstall data file.
#pragma once
#include "core/string.h"

class ProgressDialog;
struct Run;

// The value of the product's Uninstall key that holds the SHA-256 of
// "Uninstall.DAT" (64 lowercase hexadecimal digits). The data file decides
// what an administrator's uninstall deletes and may lie in a folder others
// can write; the key only administrators can change. An installation made
// before the value existed has none.
constexpr char kUninstallDataHashValue[] = "UninstallDataSHA256";

// The report of an Uninstall key (or its data file's digest) that could not
// be written.
constexpr char kUninstallRegistryFailure[] =
    "Unable to save the uninstall information to the registry.  Uninstall will not work properly.\r\n\r\n";

// The uninstaller's name when the archive gives none.
constexpr char kDefaultUninstallerName[] = "Uninstall.exe";

// The uninstaller copy's path: the archive's uninstaller file name (or
// kDefaultUninstallerName when it is blank) in the run's uninstall directory.
String UninstallerPath(const Run& run);

// The subkey path of the product's entry under HKEY_LOCAL_MACHINE.
String UninstallKeyPath(const char* uninstallName);

// Writes "Uninstall.DAT" in the uninstall directory from the uninstall list,
// the uninstall messages in the current language and the association log.
// The text goes to a new temporary file beside it (created exclusively and
// written through the handle that created it) that then replaces the old
// file, so a failed write never leaves a cut or emptied data file behind.
// On success digest is the SHA-256 text of the bytes written, which the
// caller stores as kUninstallDataHashValue. False on failure (the thread's
// last error tells why; digest empty).
[[nodiscard]] bool WriteUninstallData(Run& run, String& digest);

// The uninstaller copy, the Uninstall key's values in their fixed order
// (sharedFilesText is the SharedFiles value; UninstallString and
// QuietUninstallString hold the uninstaller's path in double quotes), then
// the uninstall data file and its digest (kUninstallDataHashValue); the
// progress dialog shows the finishing stage.
// Every failure appends its message to the run's error text; the
// installation goes on.
void RegisterUninstall(Run& run, ProgressDialog& progress, const String& sharedFilesText);
