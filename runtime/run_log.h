// The run log of /l:"file": a plain-text account of one run, appended to
// the file the administrator named, for deployments where nobody watches
// the screen. Every entry is written when it happens, so a run that is
// killed still leaves what it did up to then: the start (program, time and
// command line), the product and its version, each message box with the
// answer taken, the reports automatic mode keeps off the screen, and at the
// end the install log lines, the error text and the exit code.
//
// Nothing is held open or remembered between entries: each is one append
// through AppendWithoutLinks (the file created exclusively when absent,
// never written through a link), so entries of runs sharing one log never
// mix. Multi-line texts follow their heading line indented by two blanks.
// Lines end in CR LF. The file is the run's option logPath. Without /l:
// every function here does nothing; a write
// that fails later in the run is dropped (there is nowhere to report it).
#pragma once
#include <stdint.h>

#include "core/format.h"
#include "core/win32/file_util.h"
#include "runtime/messages.h"

// Writes the first lines of the run: a blank line, the program's path with
// the local date and time, and the command line. kAppended when the log can
// be written (or none was asked for); else why not.
LinkSafeAppend StartRunLog(const Run& run, const char* commandLine);

// One line (CR LF added).
void RunLogLine(const Run& run, const char* format, ...) VK_PRINTF_FORMAT(2, 3);
// A heading line, then text indented; nothing for a blank text.
void RunLogText(const Run& run, const char* heading, const char* text);
// A message box: its caption, whether it was shown, the answer and its text.
void RunLogBox(const Run& run, const char* caption, const char* text, bool shown, int answer);
// The end of the run: the install log lines, the error text unless the run
// completed, and the exit code with the outcome in words.
void RunLogEnd(const Run& run, RunOutcome outcome, uint32_t exitCode);

// "completed", "cancelled", ... for the outcome's line.
const char* OutcomeText(RunOutcome outcome);
// "OK", "Cancel", "Yes", "No" ... for a box's answer; "none" for 0.
const char* AnswerText(int answer);
