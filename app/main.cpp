// The runtime's entry point: start-up, the command line, the run log and the
// run mode. Every run ends through EndProcess (exit code 1, or with /s the
// outcome's code); WinMain never returns.
#include <float.h>
#include <stdlib.h>
#include <windows.h>
#include <ole2.h>

#include "app/archive_run.h"
#include "app/command_line.h"
#include "app/install_flow.h"
#include "core/format.h"
#include "core/program.h"
#include "core/win32/dynamic_library.h"
#include "core/win32/process.h"
#include "core/win32/system_dirs.h"
#include "core/win32/system_error.h"
#include "runtime/messages.h"
#include "runtime/run_log.h"
#include "runtime/run_state.h"
#include "ui/background_window.h"
#include "uninstall/uninstaller.h"

namespace {

// The install run: the archive is found, checked and read, the language
// chosen, then the installation runs to its end.
[[noreturn]] void RunInstallation(Run& run) {
  BackgroundWindow background(run);  // the frame never returns: it lives as long as the process
  ReadArchive(run, background);
  RunInstallFlow(run);
}

// The uninstall run: a successful uninstallation ends with the program
// deleting itself through its batch.
[[noreturn]] void RunUninstaller(Run& run, const String& name) {
  BackgroundWindow background(run);  // the frame never returns: it lives as long as the process
  const RunOutcome outcome = Uninstall(run, background, name);
  if (outcome != kRunFailed) WriteSelfDeleteBatch(run.directories);
  EndProcess(run, outcome);
}

// The run log named by /l: is checked before anything else happens: one
// that cannot be written, or that is a link, is refused like a bad option.
void StartLog(Run& run, const char* arguments) {
  const LinkSafeAppend started = StartRunLog(run, arguments);
  if (started == LinkSafeAppend::kAppended) return;
  const DWORD error = GetLastError();
  const String path = run.options.logPath;
  const String reason = SystemErrorText(error);
  run.options.logPath.Clear();  // nothing more is written there
  String text;
  if (started == LinkSafeAppend::kRefusedLink)
    Format(text, "The log file \"%s\" is a link, a directory or a file with another name; it is not written.",
           path.CStr());
  else
    Format(text, "The log file \"%s\" cannot be written:\r\n%s", path.CStr(), reason.CStr());
  FatalMessageAs(run, text.CStr(), kRunBadCommandLine);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  // The run's state for the whole process: WinMain never returns, so it
  // outlives every step and window that refers to it.
  Run run;
  AttachFatalPath(&run);
  SetProgramDescription("Installer");
  CommandInterpreter();
  OleInitialize(nullptr);
  run.instance = instance;
  // Started through its Uninstall entry, the program's path may hold blanks
  // without quotes: the arguments are what follows the whole path.
  const char* arguments = ArgumentsAfterProgram(GetCommandLineA(), ModulePath().CStr(), commandLine);
  const String problem = ParseCommandLine(arguments, run.options);
  StartLog(run, arguments);
  if (!problem.IsEmpty()) UsageError(run, problem.CStr());

  if (run.options.uninstallMode) RunUninstaller(run, run.options.uninstallName);
  RunInstallation(run);
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
