#include "app/archive_run.h"

#include <windows.h>

#include "runtime/current_run.h"
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
  InstallerSettingsSteps(Run& run, BackgroundWindow& background) : RuntimeSettingsSteps(run), background_(background) {}

  void AfterFlags(ArchiveSettings& s) override {
    RuntimeSettingsSteps::AfterFlags(s);
    // Shown this early so that it is already up during the remaining checks.
    if (!ProductFlag(run_, kFlagNoBackground))
      background_.Create(s.TaskbarText.CStr(), ProductFlag(run_, kFlagMaximizedBackground));
  }

 private:
  BackgroundWindow& background_;
};

}  // namespace

void ChooseLanguage(BackgroundWindow& background) {
  ArchiveSettings& s = CurrentRun().archive.settings;
  // With the keep-title flag the title is message 0 of the language the table
  // starts in, shown while the user browses and kept whatever the choice.
  const bool keepTitle = ProductFlag(CurrentRun(), kFlagKeepTitle);
  if (keepTitle) CurrentRun().displayTitle = MessageText(CurrentRun(), kMsgDisplayTitle);
  if (s.LanguageCount() != 1 && !CurrentRun().options.automaticMode) {
    if (LanguageDialog(CurrentRun()) != kLanguageDialogOk) EndProcess(CurrentRun(), kRunCancelled);
  }
  if (!keepTitle) CurrentRun().displayTitle = MessageText(CurrentRun(), kMsgDisplayTitle);
  background.Repaint();
}

void ReadArchive(BackgroundWindow& background) {
  LocateArchive(CurrentRun());
  ReadInstallerHeader(CurrentRun());
  String stream = LoadInstallerSettingsBlock(CurrentRun());
  InstallerSettingsSteps steps(CurrentRun(), background);
  ReadInstallerSettings(CurrentRun(), stream, steps);
  SetBackgroundFromSettings(background.look, CurrentRun().archive.settings);
  background.Repaint();  // it was painted with the initial look while the settings were read
  BuildUninstallerImage(CurrentRun());
  const ArchiveSettings& s = CurrentRun().archive.settings;
  RunLogLine(CurrentRun(), "Product: %s%s%s", CurrentRun().options.DisplayName.CStr(), s.DisplayVersion.IsBlank() ? "" : ", version ",
          s.DisplayVersion.CStr());
  ChooseLanguage(background);
}
