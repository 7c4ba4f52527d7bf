// The message table and the ways the runtime talks to the user about
// problems, the message pump, the stage pause and the one exit path.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "archive/format.h"
#include "core/containers.h"
#include "core/fatal.h"
#include "core/string.h"

// Takes over the table: rows x languages texts in row-major order (row r,
// language l at r * languages + l). Replaces any previous table.
void SetMessageTable(int32_t languages, Array<String>& texts);
void SetCurrentLanguage(int32_t language);
int32_t CurrentLanguage();

// Message n in the current language with "<product>" and "<os>" filled in
// (ignoring case), never null; "" for a missing row or language. The stored
// entry itself is filled in on first lookup.
const char* MessageText(int32_t n);

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
bool ShowsWindows();

// Every message box of the runtime goes through here: the arguments and
// result of MessageBoxA. The box and the answer taken go to the run log.
// With /s nothing is shown and the answer is silentAnswer or, when that is
// 0, the one that ends or refuses: Cancel where the box has it, else No,
// else OK.
int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT style, int silentAnswer = 0);
// The answer /s gives a box of style when its caller names none.
int RefusingAnswer(UINT style);

void ShowErrorBox(const char* text);  // nothing for a blank text
// printf-formatted ShowErrorBox; in automatic mode, unless flag bit 35, only
// written to the run log.
void ErrorBox(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// Appends message 31, ' ', subject, CR LF, the system's text for the calling
// thread's last error, CR LF.
void AppendErrorLine(String& errors, const char* subject);
// Asks message 28 (caption message 20); Yes ends the process as cancelled,
// No returns. With /s the answer is Yes: nobody is there to go on.
void ConfirmCancel();

// The one way the process ends: the run log gets the install log lines, the
// error text of a run that did not complete, and the exit code; the windows
// go, OLE is undone, and the process exits with the outcome's code (1
// without /s). Without an outcome the run failed.
[[noreturn]] void EndProcess(RunOutcome outcome = kRunFailed);
// FatalMessage for a run whose outcome is not a plain failure (a bad
// command line): the FATAL ERROR box (with /s only the run log), then
// EndProcess(outcome).
[[noreturn]] void FatalMessageAs(const char* text, RunOutcome outcome);
HWND MessageOwner();
// Handles every pending message through the one pump (the current modeless
// dialog's keys through the dialog manager), stopping after a WM_DESTROY,
// WM_CLOSE or WM_QUIT; true when it stopped so.
bool PumpMessages();
void MarkTime();
void PauseSinceMark(uint32_t ms);
