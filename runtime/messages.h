// The message table and the ways the runtime talks to the user about
// problems, the message pump, the stage pause and the one exit path.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "archive/format.h"
#include "core/containers.h"
#include "core/fatal.h"
#include "core/string.h"

struct Run;

// The message table: rows x languages texts, filled by the settings step (the
// uninstaller's from its data file), and the current language.
class MessageTable {
 public:
  // Takes over the table: rows x languages texts in row-major order (row r,
  // language l at r * languages + l). Replaces any previous table; the
  // current language becomes 0.
  void Set(int32_t languages, Array<String>& texts);
  void SetCurrent(int32_t language) { current_ = language; }
  int32_t Current() const { return current_; }

  // Message n in the current language with "<product>" (product) and "<os>"
  // (the Windows directory) filled in, ignoring case; never null, "" for a
  // missing row or language. The stored entry itself is filled in on first
  // lookup.
  const char* Text(int32_t n, const String& product);

 private:
  Array<String> texts_;  // row-major: row * languages + language
  int32_t languages_ = 0;
  int32_t current_ = 0;
};

// Message n of the run's table, the run's product name filled in.
const char* MessageText(Run& run, int32_t n);

// How a run ends. With /s the process exit code is the value, in the codes
// deployment tools read; without it every run ends with exit code 1.
enum RunOutcome : uint32_t {
  kRunCompleted = 0,         // installed or uninstalled completely
  kRunRestartNeeded = 3010,  // done; a scheduled replacement or deletion waits for a restart not made
  kRunCancelled = 1602,      // a question answered No or Cancel, a dialog cancelled, a volume not given
  kRunFailed = 1603,         // a fatal error, a corrupt archive, a refusal, or errors left in the error text
  kRunBadCommandLine = 1639, // a usage error, or a log file (/l:) that cannot be written
};

// False with /s: the run then shows no window, box or dialog at all.
bool ShowsWindows(const Run& run);

// Every message box of the runtime goes through here: the arguments and
// result of MessageBoxA. The box and the answer taken go to the run log.
// With /s nothing is shown and the answer is silentAnswer or, when that is
// 0, the one that ends or refuses: Cancel where the box has it, else No,
// else OK.
int ShowMessageBox(const Run& run, HWND owner, const char* text, const char* caption, UINT style,
                   int silentAnswer = 0);
// The answer /s gives a box of style when its caller names none.
int RefusingAnswer(UINT style);

void ShowErrorBox(Run& run, const char* text);  // nothing for a blank text
// printf-formatted ShowErrorBox; in automatic mode, unless flag bit 35, only
// written to the run log.
void ErrorBox(Run& run, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
// Appends message 31, ' ', subject, CR LF, the system's text for the calling
// thread's last error, CR LF.
void AppendErrorLine(Run& run, String& errors, const char* subject);
// Asks message 28 (caption message 20); Yes ends the process as cancelled,
// No returns. With /s the answer is Yes: nobody is there to go on.
void ConfirmCancel(Run& run);

// The one way the process ends: the run log gets the install log lines, the
// error text of a run that did not complete, and the exit code; the windows
// go, OLE is undone, and the process exits with the outcome's code (1
// without /s). Without an outcome the run failed.
[[noreturn]] void EndProcess(Run& run, RunOutcome outcome = kRunFailed);
// FatalMessage for a run whose outcome is not a plain failure (a bad
// command line): the FATAL ERROR box (with /s only the run log), then
// EndProcess(outcome).
[[noreturn]] void FatalMessageAs(Run& run, const char* text, RunOutcome outcome);

// The run the fatal path ends: FatalMessage (core/fatal.h) is called by the
// core library and the allocator, which know no run. WinMain attaches its
// run before anything can fail; a test attaches each case's own. Without a
// run attached, a fatal error shows its box unowned and exits with code 1.
// Returns the run attached before.
Run* AttachFatalPath(Run* run);

// The owner of message boxes: the current modeless dialog, else the
// background window, else none.
HWND MessageOwner(const Run& run);
// Handles every pending message through the one pump (the current modeless
// dialog's keys through the dialog manager), stopping after a WM_DESTROY,
// WM_CLOSE or WM_QUIT; true when it stopped so.
bool PumpMessages(const Run& run);
void MarkTime(Run& run);
// Waits, pumping messages, until ms have passed since MarkTime (nothing in
// automatic mode).
void PauseSinceMark(const Run& run, uint32_t ms);
