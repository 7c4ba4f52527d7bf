// The end of an installation: the final message, the block appended to
// "Install.LOG" in the uninstall directory, and the offer to open it.
#pragma once
#include "core/string.h"

struct Run;
struct RunDirectories;

// Shows the final message when showFinalMessage is set (no errors: message
// 42 unless automatic mode or flag bit 22, and the error text becomes
// message 43 and a blank line; errors outside automatic mode: the question
// of message 40 whether to open the log). Appends the block when flag bit 6
// is set or there were errors; never truncates the file. Opens the log when
// the user asked for it and the block was written. The block carries the
// run's product name, directories, version and install log text.
void FinishInstallLog(Run& run, bool reinstall, bool showFinalMessage, String& errorText);

// The log's path: "Install.LOG" in the uninstall directory.
String InstallLogPath(const RunDirectories& directories);
