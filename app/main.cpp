// The runtime's entry point: start-up, the command line and the run mode.
// Every run ends through EndProcess with exit code 1; WinMain never returns.
#include <windows.h>
#include <ole2.h>

#include "app/archive_run.h"
#include "app/command_line.h"
#include "app/install_flow.h"
#include "core/program.h"
#include "core/win32/process.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"

namespace {

// The install run: the archive is found, checked and read, the language
// chosen, then the installation runs to its end.
[[noreturn]] void RunInstallation() {
  ReadArchive();
  RunInstallFlow();
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
