#include "runtime/run_log.h"

#include <windows.h>
#include <stdarg.h>

#include "core/datetime.h"
#include "core/win32/system_dirs.h"
#include "runtime/run_state.h"

namespace {

constexpr char kLogDatePattern[] = "yy-mm-dd HH:ii:ss";

bool Logging(const Run& run) { return !run.options.logPath.IsEmpty(); }

LinkSafeAppend Write(const Run& run, const String& entry) {
  return AppendWithoutLinks(run.options.logPath.CStr(), entry.CStr(), entry.Length());
}

// text's lines, each indented by two blanks (empty lines stay empty) and
// ended with CR LF; a line break at the very end adds no empty line.
void AppendIndented(String& out, const char* text) {
  const char* p = text;
  while (*p) {
    const char* end = p;
    while (*end && *end != '\r' && *end != '\n') ++end;
    if (end > p) {
      out.Append("  ");
      out.Append(p, (int32_t)(end - p));
    }
    out.Append("\r\n");
    if (*end == '\r' && end[1] == '\n') ++end;
    p = *end ? end + 1 : end;
  }
}

}  // namespace

LinkSafeAppend StartRunLog(const Run& run, const char* commandLine) {
  if (!Logging(run)) return LinkSafeAppend::kAppended;
  String when;
  DateTime::Now().Format(when, kLogDatePattern);
  String entry;
  AppendFormat(entry, "\r\nRun of %s at %s\r\nCommand line: %s\r\n", ModulePath().CStr(), when.CStr(),
               commandLine ? commandLine : "");
  return Write(run, entry);
}

void RunLogLine(const Run& run, const char* format, ...) {
  if (!Logging(run)) return;
  String entry;
  va_list args;
  va_start(args, format);
  AppendFormatV(entry, format, args);
  va_end(args);
  entry.Append("\r\n");
  (void)Write(run, entry);
}

void RunLogText(const Run& run, const char* heading, const char* text) {
  if (!Logging(run) || !text || String(text).IsBlank()) return;
  String entry(heading);
  entry.Append("\r\n");
  AppendIndented(entry, text);
  (void)Write(run, entry);
}

void RunLogBox(const Run& run, const char* caption, const char* text, bool shown, int answer) {
  if (!Logging(run)) return;
  String entry;
  AppendFormat(entry, "Message box \"%s\"%s, answered %s:\r\n", caption ? caption : "", shown ? "" : " (not shown)",
               AnswerText(answer));
  AppendIndented(entry, text ? text : "");
  (void)Write(run, entry);
}

void RunLogEnd(const Run& run, RunOutcome outcome, uint32_t exitCode) {
  if (!Logging(run)) return;
  RunLogText(run, run.options.uninstallMode ? "Uninstall log:" : "Install log:", run.texts.installLog.CStr());
  // A completed installation's error text holds the completion caption.
  if (outcome != kRunCompleted && outcome != kRunRestartNeeded) RunLogText(run, "Errors:", run.texts.errors.CStr());
  RunLogLine(run, "Exit code: %u (%s)", (unsigned)exitCode, OutcomeText(outcome));
}

const char* OutcomeText(RunOutcome outcome) {
  switch (outcome) {
    case kRunCompleted: return "completed";
    case kRunRestartNeeded: return "completed; a restart is needed to finish";
    case kRunCancelled: return "cancelled";
    case kRunFailed: return "failed";
    case kRunBadCommandLine: return "bad command line";
  }
  return "failed";
}

const char* AnswerText(int answer) {
  switch (answer) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDABORT: return "Abort";
    case IDRETRY: return "Retry";
    case IDIGNORE: return "Ignore";
    case IDYES: return "Yes";
    case IDNO: return "No";
  }
  return "none";
}
