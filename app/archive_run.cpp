#include "app/archive_run.h"

#include <windows.h>

#include "runtime/messages.h"
#include "runtime/run_log.h"
#include "runtime/run_state.h"
#include "runtime/settings_steps.h"
#include "ui/background_window.h"
#include "ui/language_dialog.h"

namespace {

// The install run's settings steps: the run state's, and the background
// window as soon as the flags are known.
class InstallerSettingsSteps : public RuntimeSettingsSteps {
 public:
  void AfterFlags(ArchiveSettings& s) override {
    RuntimeSettingsSteps::AfterFlags(s);
    // Shown this early so that it is already up during the remaining checks.
    if (!ProductFlag(kFlagNoBackground))
      g_backgroundWindow =
          CreateBackgroundWindow(g_instance, nullptr, s.TaskbarText.CStr(), ProductFlag(kFlagMaximizedBackground));
  }
};

}  // namespace

void ChooseLanguage() {
  ArchiveSettings& s = g_archive.settings;
  // With the keep-title flag the title is message 0 of the language the table
  // starts in, shown while the user browses and kept whatever the choice.
  const bool keepTitle = ProductFlag(kFlagKeepTitle);
  if (keepTitle) g_displayTitle = MessageText(kMsgDisplayTitle);
  if (s.LanguageCount() != 1 && !g_options.automaticMode) {
    if (LanguageDialog() != kLanguageDialogOk) EndProcess(kRunCancelled);
  }
  if (!keepTitle) g_displayTitle = MessageText(kMsgDisplayTitle);
  RepaintBackground();
}

void ReadArchive() {
  LocateArchive();
  ReadInstallerHeader();
  String stream = LoadInstallerSettingsBlock();
  InstallerSettingsSteps steps;
  ReadInstallerSettings(stream, steps);
  SetBackgroundFromSettings(g_archive.settings);
  RepaintBackground();  // it was painted with the initial look while the settings were read
  BuildUninstallerImage();
  const ArchiveSettings& s = g_archive.settings;
  RunLogLine("Product: %s%s%s", g_options.DisplayName.CStr(), s.DisplayVersion.IsBlank() ? "" : ", version ",
          s.DisplayVersion.CStr());
  ChooseLanguage();
}
