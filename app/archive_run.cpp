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

void ChooseLanguage(Run& run, BackgroundWindow& background) {
  ArchiveSettings& s = run.archive.settings;
  // With the keep-title flag the title is message 0 of the language the table
  // starts in, shown while the user browses and kept whatever the choice.
  const bool keepTitle = ProductFlag(run, kFlagKeepTitle);
  if (keepTitle) run.displayTitle = MessageText(run, kMsgDisplayTitle);
  if (s.LanguageCount() != 1 && !run.options.automaticMode) {
    if (LanguageDialog(run) != kLanguageDialogOk) EndProcess(run, kRunCancelled);
  }
  if (!keepTitle) run.displayTitle = MessageText(run, kMsgDisplayTitle);
  background.Repaint();
}

void ReadArchive(Run& run, BackgroundWindow& background) {
  LocateArchive(run);
  ReadInstallerHeader(run);
  String stream = LoadInstallerSettingsBlock(run);
  InstallerSettingsSteps steps(run, background);
  ReadInstallerSettings(run, stream, steps);
  SetBackgroundFromSettings(background.look, run.archive.settings);
  background.Repaint();  // it was painted with the initial look while the settings were read
  BuildUninstallerImage(run);
  const ArchiveSettings& s = run.archive.settings;
  RunLogLine(run, "Product: %s%s%s", run.options.DisplayName.CStr(), s.DisplayVersion.IsBlank() ? "" : ", version ",
             s.DisplayVersion.CStr());
  ChooseLanguage(run, background);
}
