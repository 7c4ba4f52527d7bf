// The runtime's entry point: start-up, the command line and the run mode.
// Every run ends through EndProcess with exit code 1; WinMain never returns.
#include <float.h>
#include <stdlib.h>
#include <windows.h>
#include <ole2.h>

#include "app/archive_run.h"
#include "app/command_line.h"
#include "app/install_flow.h"
#include "core/program.h"
#include "core/win32/dynamic_library.h"
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

// ---------------------------------------------------------------- start-up
// The program starts here rather than in the toolchain's start-up code, which
// brings about 7 KB of machinery the runtime has no use for (copied argument
// vectors, run-time relocation of imported data, its own exception filter and
// invalid-parameter handler). Before anything else, DLLs loaded by name are
// restricted to the system directory. What the runtime relies on is done here, in the same
// order: msvcrt is told the program has windows, the FPU gets the same control
// word, the static constructors run (registering their destructors with
// atexit), and WinMain receives the same arguments. msvcrt itself is
// initialised by the system loader before this runs.

extern "C" void __main();                 // runs the static constructors, once
extern "C" void __set_app_type(int type);  // msvcrt: how its own errors are shown

namespace {

constexpr int kGuiApp = 2;

int ShowCommand() {
  STARTUPINFOA info;
  info.cb = sizeof info;
  GetStartupInfoA(&info);
  return (info.dwFlags & STARTF_USESHOWWINDOW) ? info.wShowWindow : SW_SHOWDEFAULT;
}

}  // namespace

// Destructors of static objects are registered here. msvcrt exports atexit
// only as data, so the start-up files define it over _onexit; without them,
// so does the program (the link refuses automatic data imports, which would
// otherwise turn a call to atexit into a jump into the import table).
extern "C" int __cdecl atexit(void (__cdecl* function)()) { return _onexit((_onexit_t)function) ? 0 : -1; }

extern "C" [[noreturn]] void __cdecl TruxStart() {
  RestrictLibrarySearch();
  __set_app_type(kGuiApp);
  _fpreset();
  __main();
  exit(WinMain(GetModuleHandleA(nullptr), nullptr, CommandLineTail(GetCommandLineA()), ShowCommand()));
}
