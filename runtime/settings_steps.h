// The steps of the settings read that need the running system: automatic
// mode from flag bit 8, the product name, the 64-bit requirement and the
// directory derivations.
#pragma once
#include "archive/settings.h"

struct Run;

// Whether a default installation directory names a registry value:
// "HKLM\" or "HKCU\" (letter case significant) and the value's path.
bool NamesRegistryValue(const String& dir);

// The steps write into the run they are made for.
class RuntimeSettingsSteps : public SettingsSteps {
 public:
  explicit RuntimeSettingsSteps(Run& run) : run_(run) {}

  void AfterFlags(ArchiveSettings& settings) override;
  void AfterProductName(ArchiveSettings& settings) override;
  void AfterDirectories(ArchiveSettings& settings) override;

 protected:
  Run& run_;
};
