#include "runtime/messages.h"

#include <stdarg.h>

#include "core/cformat.h"
#include "core/path.h"
#include "core/win32/message_pump.h"
#include "core/win32/system_dirs.h"
#include "core/win32/system_error.h"
#include "runtime/run_log.h"
#include "runtime/run_state.h"

CommandLineOptions g_options;
HINSTANCE g_instance;
HWND g_backgroundWindow;
HWND g_currentDialog;
bool g_fatalError;
uint64_t g_productFlags;
String g_displayTitle;

namespace {

// The message table, filled once by the settings step.
struct MessageTable {
  Array<String> texts;  // row-major: row * languages + language
  int32_t languages = 0;
  int32_t current = 0;
};
MessageTable g_messages;

// The time mark of PauseSinceMark, in milliseconds since system start.
DWORD g_timeMark;

// The outcome's code with /s; 1 for every run without it.
uint32_t ExitCode(RunOutcome outcome) { return g_options.silentMode ? (uint32_t)outcome : 1u; }

// The windows go (the progress dialog first, then the background window),
// OLE is undone, and the process exits with the outcome's code.
[[noreturn]] void ExitRun(RunOutcome outcome) {
  SetQuitting(true);  // library loops that pump messages stop early from here on
  if (g_currentDialog) {
    DestroyWindow(g_currentDialog);
    g_currentDialog = nullptr;
  }
  if (g_backgroundWindow) {
    ShowWindow(g_backgroundWindow, SW_MINIMIZE);
    DestroyWindow(g_backgroundWindow);
    g_backgroundWindow = nullptr;
  }
  PumpMessages();
  OleUninitialize();
  ExitProcess(ExitCode(outcome));
}

}  // namespace

void SetMessageTable(int32_t languages, Array<String>& texts) {
  g_messages.texts = static_cast<Array<String>&&>(texts);
  g_messages.languages = languages > 0 ? languages : 0;
  g_messages.current = 0;
}

void SetCurrentLanguage(int32_t language) { g_messages.current = language; }

int32_t CurrentLanguage() { return g_messages.current; }

const char* MessageText(int32_t n) {
  const int32_t languages = g_messages.languages;
  const int32_t language = g_messages.current;
  if (n < 0 || languages <= 0 || language < 0 || language >= languages) return "";
  const int64_t index = (int64_t)n * languages + language;
  if (index >= g_messages.texts.Count()) return "";
  String& entry = g_messages.texts[(int32_t)index];
  if (entry.Find("<", 1) >= 0) {
    entry.ReplaceAll("<product>", g_options.DisplayName, kFindIgnoreCase);
    entry.ReplaceAll("<os>", WindowsDir(), kFindIgnoreCase);
  }
  return entry.CStr();
}

HWND MessageOwner() {
  if (g_currentDialog) return g_currentDialog;
  return g_backgroundWindow;
}

bool ShowsWindows() { return !g_options.silentMode; }

int RefusingAnswer(UINT style) {
  switch (style & MB_TYPEMASK) {
    case MB_OKCANCEL:
    case MB_YESNOCANCEL:
    case MB_RETRYCANCEL:
      return IDCANCEL;
    case MB_YESNO: return IDNO;
    case MB_ABORTRETRYIGNORE: return IDABORT;
  }
  return IDOK;
}

int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT style, int silentAnswer) {
  if (!ShowsWindows()) {
    const int answer = silentAnswer ? silentAnswer : RefusingAnswer(style);
    RunLogBox(caption, text, false, answer);
    return answer;
  }
  const int answer = MessageBoxA(owner, text, caption, style);
  RunLogBox(caption, text, true, answer);
  return answer;
}

void ShowErrorBox(const char* text) {
  String body(text);
  if (body.IsBlank()) return;
  const char* caption = MessageText(kMsgErrorCaption);
  ShowMessageBox(MessageOwner(), body.CStr(), *caption ? caption : "Error", MB_OK | MB_ICONERROR);
}

void ErrorBox(const char* format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  BoundedFormatV(text, sizeof text, format, args);  // a longer text is cut
  va_end(args);
  if (g_options.automaticMode && !ProductFlag(kFlagErrorBoxesInAutomatic)) {
    RunLogText("Error report (not shown in automatic mode):", text);
    return;
  }
  ShowErrorBox(text);
}

void AppendErrorLine(String& errors, const char* subject) {
  DWORD code = GetLastError();
  errors.Append(MessageText(kMsgErrorLineStart));
  errors.AppendChar(' ');
  errors.Append(subject);
  errors.Append("\r\n");
  errors.Append(SystemErrorText(code));
  errors.Append("\r\n");
}

void ConfirmCancel() {
  int answer = ShowMessageBox(MessageOwner(), MessageText(kMsgConfirmCancel), MessageText(kMsgQuestionCaption),
                              MB_YESNO | MB_ICONQUESTION, IDYES);
  if (answer == IDYES) EndProcess(kRunCancelled);
}

void FatalMessage(const char* text) { FatalMessageAs(text, kRunFailed); }

void FatalMessageAs(const char* text, RunOutcome outcome) {
  // Reported once: a second fatal error (while the first is shown, or while
  // the end is logged with memory gone) ends the process at once, without
  // another box or log entry that could fail the same way.
  if (g_fatalError) ExitRun(outcome);
  g_fatalError = true;
  ShowMessageBox(MessageOwner(), text ? text : "", "FATAL ERROR", MB_OK | MB_ICONERROR | MB_TASKMODAL);
  EndProcess(outcome);
}

void EndProcess(RunOutcome outcome) {
  RunLogEnd(outcome, ExitCode(outcome));
  ExitRun(outcome);
}

bool PumpMessages() {
  SetPumpDialog(g_currentDialog);  // the library's own waits pump with the same dialog
  return PumpPending(kPumpNoLimit, kPumpStopAtClose).sawClose;
}

void MarkTime() { g_timeMark = GetTickCount(); }

void PauseSinceMark(uint32_t ms) {
  if (g_options.automaticMode) return;
  for (uint32_t i = 0; i < ms; ++i) {
    if (PumpMessages()) return;
    // The elapsed time is the absolute value of the 32-bit tick difference
    // (the tick count wraps after 49.7 days); only 0x80000000 stays negative.
    uint32_t difference = GetTickCount() - g_timeMark;
    if (difference > 0x7FFFFFFFu) difference = 0u - difference;
    int32_t elapsed = (int32_t)difference;
    if (elapsed < 0 || (uint32_t)elapsed >= ms) return;
    Sleep(50);
  }
}
