// The steps of the settings read that need the running system: automatic
// mode from flag bit 8, the product name, the 64-bit requirement and the
// directory derivations.
#pragma once
#include "archive/settings.h"

class RuntimeSettingsSteps : public SettingsSteps {
 public:
  void AfterFlags(ArchiveSettings& settings) override;
  void AfterProductName(ArchiveSettings& settings) override;
  void AfterDirectories(ArchiveSettings& settings) override;
};
