#include "runtime/settings_steps.h"

#include "core/path.h"
#include "core/path_check.h"
#include "core/win32/path_variables.h"
#include "core/win32/system.h"
#include "core/win32/system_dirs.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"

namespace {

// The Program Files or Common Files path of a 64-bit product: the 32-bit
// view's " (x86)" is dropped.
String NativeProgramFolder(String folder, bool product64, bool onlyTrailing) {
  if (!product64) return folder;
  if (onlyTrailing)
    folder.StripSuffix(" (x86)");
  else
    folder.ReplaceAll(" (x86)", "", kReplaceFirstOnly);
  return folder;
}

void DeriveSharedPath(const Run& run, ArchiveSettings& s) {
  if (s.SharedPath.IsEmpty()) s.SharedPath = s.Publisher.IsBlank() ? run.options.DisplayName : s.Publisher;
  if (!ProductFlag(run, kFlagUninstaller)) {
    s.SharedPath.Clear();
    return;
  }
  String base = NativeProgramFolder(CommonDir(), ProductFlag(run, kFlag64Bit), false);
  MakeAbsolute(s.SharedPath, base.CStr());
}

void DeriveStartMenuFolder(const Run& run, ArchiveSettings& s) {
  if (!s.ProductStartMenu.IsEmpty()) return;
  const String& product = run.options.DisplayName;
  s.ProductStartMenu = s.Publisher.IsEmpty() ? product : s.Publisher + "\\" + product;
}

// "<master>" and a registry value reference are resolved by the installation
// flow; everything else is made absolute against Program Files.
void DeriveDefaultInstallDir(const Run& run, ArchiveSettings& s) {
  String& dir = s.defaultInstallDir;
  if (dir.IsEmpty()) {
    dir = run.options.DisplayName;
  } else {
    dir.ReplaceAll("<os>", WindowsDir(), kFindIgnoreCase);
    ExpandPathVariables(dir, run.directories);
  }
  if (dir.CompareNoCase("<master>") == 0 || NamesRegistryValue(dir)) return;
  String base = NativeProgramFolder(ProgramsDir(), ProductFlag(run, kFlag64Bit), true);
  MakeAbsolute(dir, base.CStr());
}

}  // namespace

bool NamesRegistryValue(const String& dir) {
  return dir.CompareNoCase("HKLM\\", true, 5) == 0 || dir.CompareNoCase("HKCU\\", true, 5) == 0;
}

void RuntimeSettingsSteps::AfterFlags(ArchiveSettings& s) {
  run_.productFlags = s.Flags;
  if (ProductFlag(run_, kFlagAutomatic)) run_.options.automaticMode = true;
  // The install run adds the background window here (app/archive_run.cpp).
}

void RuntimeSettingsSteps::AfterProductName(ArchiveSettings& s) {
  CommandLineOptions& options = run_.options;
  if (options.DisplayName.IsEmpty()) options.DisplayName = s.productName;
  if (!ProductFlag(run_, kFlag64Bit)) return;
  if (!IsWow64()) {
    if (options.automaticMode) EndProcess(run_);
    FatalError("Sorry, %s requires a 64-bit operating system.", options.DisplayName.CStr());
  }
  // The redirection stays off for the whole run; without it the product is
  // installed as a 32-bit one.
  void* redirection = nullptr;
  if (!DisableWow64Redirection(&redirection)) run_.productFlags &= ~(1ull << kFlag64Bit);
}

void RuntimeSettingsSteps::AfterDirectories(ArchiveSettings& s) {
  DeriveSharedPath(run_, s);
  DeriveStartMenuFolder(run_, s);
  DeriveDefaultInstallDir(run_, s);
  run_.directories.shared = s.SharedPath;
  run_.directories.productVersion = s.DisplayVersion;
}
