// The runtime's entry point: start-up, the command line and the run mode.
// Every run ends through EndProcess with exit code 1; WinMain never returns.
#include <windows.h>
#include <ole2.h>

#include "app/archive_run.h"
#include "app/command_line.h"
#include "app/messages.h"
#include "app/run_state.h"
#include "core/process.h"
#include "core/program.h"
#include "ui/progress_dialog.h"

namespace {

constexpr int32_t kMsgPreparing = 8;  // the first stage's status

// The install run: the archive is found, checked and read, the language
// chosen, and the progress dialog opened at its first stage. The installation
// steps that follow it are not part of this build yet, so the run ends
// cleanly after the first stage's pause.
[[noreturn]] void RunInstallation() {
  ReadArchive();
  CreateProgressDialog();
  SetStage(kMsgPreparing, 2);
  // TODO: the installation steps (data region, deletion records, extraction
  // and the actions after them) follow here.
  PauseSinceMark(g_archive.settings.StagePause);
  EndProcess();
}

// The uninstall run. The uninstaller is not part of this build yet, so the
// run ends cleanly here.
[[noreturn]] void RunUninstaller(const String& /*name*/) { EndProcess(); }

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  SetProgramDescription("Installer");
  CommandInterpreter();
  OleInitialize(nullptr);
  g_instance = instance;
  ParseCommandLine(commandLine, g_options);

  if (g_options.uninstallMode) {
    if (g_options.uninstallName.IsEmpty()) UsageError("Product name required");
    RunUninstaller(g_options.uninstallName);
  }
  RunInstallation();
}
