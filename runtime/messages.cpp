#include "runtime/messages.h"

#include <stdarg.h>

#include "core/cformat.h"
#include "core/path.h"
#include "core/win32/message_pump.h"
#include "core/win32/system_dirs.h"
#include "core/win32/system_error.h"
#include "runtime/run_log.h"
#include "runtime/run_state.h"

namespace {

// The run the fatal path ends (see AttachFatalPath): the one way to the run
// that is not an argument, for the core library's FatalMessage.
Run* g_fatalPathRun;

// The outcome's code with /s; 1 for every run without it.
uint32_t ExitCode(const Run& run, RunOutcome outcome) { return run.options.silentMode ? (uint32_t)outcome : 1u; }

// The windows go (the progress dialog first, then the background window),
// OLE is undone, and the process exits with the outcome's code.
[[noreturn]] void ExitRun(Run& run, RunOutcome outcome) {
  SetQuitting(true);  // library loops that pump messages stop early from here on
  if (run.windows.dialog) {
    DestroyWindow(run.windows.dialog);
    run.windows.dialog = nullptr;
  }
  if (run.windows.background) {
    ShowWindow(run.windows.background, SW_MINIMIZE);
    DestroyWindow(run.windows.background);
    run.windows.background = nullptr;
  }
  PumpMessages(run);
  OleUninitialize();
  ExitProcess(ExitCode(run, outcome));
}

}  // namespace

void MessageTable::Set(int32_t languages, Array<String>& texts) {
  texts_ = static_cast<Array<String>&&>(texts);
  languages_ = languages > 0 ? languages : 0;
  current_ = 0;
}

const char* MessageTable::Text(int32_t n, const String& product) {
  if (n < 0 || languages_ <= 0 || current_ < 0 || current_ >= languages_) return "";
  const int64_t index = (int64_t)n * languages_ + current_;
  if (index >= texts_.Count()) return "";
  String& entry = texts_[(int32_t)index];
  if (entry.Find("<", 1) >= 0) {
    entry.ReplaceAll("<product>", product, kFindIgnoreCase);
    entry.ReplaceAll("<os>", WindowsDir(), kFindIgnoreCase);
  }
  return entry.CStr();
}

const char* MessageText(Run& run, int32_t n) { return run.messages.Text(n, run.options.DisplayName); }

HWND MessageOwner(const Run& run) {
  if (run.windows.dialog) return run.windows.dialog;
  return run.windows.background;
}

bool ShowsWindows(const Run& run) { return !run.options.silentMode; }

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

int ShowMessageBox(const Run& run, HWND owner, const char* text, const char* caption, UINT style,
                   int silentAnswer) {
  if (!ShowsWindows(run)) {
    const int answer = silentAnswer ? silentAnswer : RefusingAnswer(style);
    RunLogBox(run, caption, text, false, answer);
    return answer;
  }
  const int answer = MessageBoxA(owner, text, caption, style);
  RunLogBox(run, caption, text, true, answer);
  return answer;
}

void ShowErrorBox(Run& run, const char* text) {
  String body(text);
  if (body.IsBlank()) return;
  const char* caption = MessageText(run, kMsgErrorCaption);
  ShowMessageBox(run, MessageOwner(run), body.CStr(), *caption ? caption : "Error", MB_OK | MB_ICONERROR);
}

void ErrorBox(Run& run, const char* format, ...) {
  char text[2048];
  va_list args;
  va_start(args, format);
  BoundedFormatV(text, sizeof text, format, args);  // a longer text is cut
  va_end(args);
  if (run.options.automaticMode && !ProductFlag(run, kFlagErrorBoxesInAutomatic)) {
    RunLogText(run, "Error report (not shown in automatic mode):", text);
    return;
  }
  ShowErrorBox(run, text);
}

void AppendErrorLine(Run& run, String& errors, const char* subject) {
  DWORD code = GetLastError();
  errors.Append(MessageText(run, kMsgErrorLineStart));
  errors.AppendChar(' ');
  errors.Append(subject);
  errors.Append("\r\n");
  errors.Append(SystemErrorText(code));
  errors.Append("\r\n");
}

void ConfirmCancel(Run& run) {
  int answer = ShowMessageBox(run, MessageOwner(run), MessageText(run, kMsgConfirmCancel),
                              MessageText(run, kMsgQuestionCaption), MB_YESNO | MB_ICONQUESTION, IDYES);
  if (answer == IDYES) EndProcess(run, kRunCancelled);
}

Run* AttachFatalPath(Run* run) {
  Run* previous = g_fatalPathRun;
  g_fatalPathRun = run;
  return previous;
}

void FatalMessage(const char* text) {
  if (g_fatalPathRun) FatalMessageAs(*g_fatalPathRun, text, kRunFailed);
  MessageBoxA(nullptr, text ? text : "", "FATAL ERROR", MB_OK | MB_ICONERROR | MB_TASKMODAL);
  ExitProcess(1);
}

void FatalMessageAs(Run& run, const char* text, RunOutcome outcome) {
  // Reported once: a second fatal error (while the first is shown, or while
  // the end is logged with memory gone) ends the process at once, without
  // another box or log entry that could fail the same way.
  if (run.fatalError) ExitRun(run, outcome);
  run.fatalError = true;
  ShowMessageBox(run, MessageOwner(run), text ? text : "", "FATAL ERROR", MB_OK | MB_ICONERROR | MB_TASKMODAL);
  EndProcess(run, outcome);
}

void EndProcess(Run& run, RunOutcome outcome) {
  RunLogEnd(run, outcome, ExitCode(run, outcome));
  ExitRun(run, outcome);
}

bool PumpMessages(const Run& run) {
  SetPumpDialog(run.windows.dialog);  // the library's own waits pump with the same dialog
  return PumpPending(kPumpNoLimit, kPumpStopAtClose).sawClose;
}

void MarkTime(Run& run) { run.timeMark = GetTickCount(); }

void PauseSinceMark(const Run& run, uint32_t ms) {
  if (run.options.automaticMode) return;
  for (uint32_t i = 0; i < ms; ++i) {
    if (PumpMessages(run)) return;
    // The elapsed time is the absolute value of the 32-bit tick difference
    // (the tick count wraps after 49.7 days); only 0x80000000 stays negative.
    uint32_t difference = GetTickCount() - run.timeMark;
    if (difference > 0x7FFFFFFFu) difference = 0u - difference;
    int32_t elapsed = (int32_t)difference;
    if (elapsed < 0 || (uint32_t)elapsed >= ms) return;
    Sleep(50);
  }
}
