#include "runtime/settings_steps.h"

#include "core/path.h"
#include "core/path_check.h"
#include "core/win32/path_variables.h"
#include "core/win32/system.h"
#include "core/win32/system_dirs.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "runtime/run_texts.h"

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

bool NamesRegistryValue(const String& dir) {
  return dir.CompareNoCase("HKLM\\", true, 5) == 0 || dir.CompareNoCase("HKCU\\", true, 5) == 0;
}

void DeriveSharedPath(ArchiveSettings& s) {
  if (s.SharedPath.IsEmpty()) s.SharedPath = s.Publisher.IsBlank() ? g_options.DisplayName : s.Publisher;
  if (!ProductFlag(kFlagUninstaller)) {
    s.SharedPath.Clear();
    return;
  }
  String base = NativeProgramFolder(CommonDir(), ProductFlag(kFlag64Bit), false);
  MakeAbsolute(s.SharedPath, base.CStr());
}

void DeriveStartMenuFolder(ArchiveSettings& s) {
  if (!s.ProductStartMenu.IsEmpty()) return;
  s.ProductStartMenu = s.Publisher.IsEmpty() ? g_options.DisplayName : s.Publisher + "\\" + g_options.DisplayName;
}

// "<master>" and a registry value reference are resolved by the installation
// flow; everything else is made absolute against Program Files.
void DeriveDefaultInstallDir(ArchiveSettings& s) {
  String& dir = s.defaultInstallDir;
  if (dir.IsEmpty()) {
    dir = g_options.DisplayName;
  } else {
    dir.ReplaceAll("<os>", WindowsDir(), kFindIgnoreCase);
    ExpandPathVariables(dir, Directories());
  }
  if (dir.CompareNoCase("<master>") == 0 || NamesRegistryValue(dir)) return;
  String base = NativeProgramFolder(ProgramsDir(), ProductFlag(kFlag64Bit), true);
  MakeAbsolute(dir, base.CStr());
}

}  // namespace

void RuntimeSettingsSteps::AfterFlags(ArchiveSettings& s) {
  g_productFlags = s.Flags;
  if (ProductFlag(kFlagAutomatic)) g_options.automaticMode = true;
  // The install run adds the background window here (app/archive_run.cpp).
}

void RuntimeSettingsSteps::AfterProductName(ArchiveSettings& s) {
  if (g_options.DisplayName.IsEmpty()) g_options.DisplayName = s.productName;
  if (!ProductFlag(kFlag64Bit)) return;
  if (!IsWow64()) {
    if (g_options.automaticMode) EndProcess();
    FatalError("Sorry, %s requires a 64-bit operating system.", g_options.DisplayName.CStr());
  }
  // The redirection stays off for the whole run; without it the product is
  // installed as a 32-bit one.
  void* redirection = nullptr;
  if (!DisableWow64Redirection(&redirection)) g_productFlags &= ~(1ull << kFlag64Bit);
}

void RuntimeSettingsSteps::AfterDirectories(ArchiveSettings& s) {
  DeriveSharedPath(s);
  DeriveStartMenuFolder(s);
  DeriveDefaultInstallDir(s);
  SharedDirectory() = s.SharedPath;
  ProductVersion() = s.DisplayVersion;
}
