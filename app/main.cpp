// The runtime's entry point: start-up, the command line and the run mode.
// Every run ends through EndProcess with exit code 1; WinMain never returns.
#include <windows.h>
#include <ole2.h>

#include "app/archive_run.h"
#include "app/command_line.h"
#include "app/install_flow.h"
#include "core/program.h"
#include "core/win32/process.h"
#include "core/win32/system_dirs.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "uninstall/uninstall_rules.h"
#include "uninstall/uninstaller.h"

namespace {

// The install run: the archive is found, checked and read, the language
// chosen, then the installation runs to its end.
[[noreturn]] void RunInstallation() {
  ReadArchive();
  RunInstallFlow();
}

// The uninstall run: a successful uninstallation ends with the program
// deleting itself through its batch.
[[noreturn]] void RunUninstaller(const String& name) {
  if (Uninstall(name)) WriteSelfDeleteBatch();
  EndProcess();
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  SetProgramDescription("Installer");
  CommandInterpreter();
  OleInitialize(nullptr);
  g_instance = instance;
  // Started through its Uninstall entry, the program's path may hold blanks
  // without quotes: the arguments are what follows the whole path.
  ParseCommandLine(ArgumentsAfterProgram(GetCommandLineA(), ModulePath().CStr(), commandLine), g_options);

  if (g_options.uninstallMode) {
    if (g_options.uninstallName.IsEmpty()) UsageError("Product name required");
    RunUninstaller(g_options.uninstallName);
  }
  RunInstallation();
}
