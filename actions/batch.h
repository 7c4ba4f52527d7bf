// Batch commands and environment edits of an installation: running a group
// of interpreter commands through a generated batch file, the install
// directory in the boot drive's autoexec.bat PATH, and the Users group's
// access to a directory.
#pragma once
#include "core/containers.h"
#include "core/string.h"

struct BatchVariable;
struct Run;
struct RunDirectories;

// The SET lines of a batch run in directory, in file order: InstallDir and
// InstallDrive (only for a non-empty directory), the run's directories, the
// installer's own file, the system folders and the run's product version.
void CollectBatchVariables(const RunDirectories& run, const char* directory, Array<BatchVariable>& out);

// Runs commands as "TRUXBAT.BAT" in directory through the command
// interpreter, waiting for it while the windows stay responsive, then
// deletes the file. Nothing happens for empty commands. hidden (and a
// silent run, /s) hides the interpreter's window; hidden or automatic mode
// drop the PAUSE lines. An
// existing file of that name is removed first and the batch file is created
// new, never written through whatever stood there. Failures are silent.
void RunBatch(const Run& run, const char* directory, bool hidden, const String& commands);

// Adds (add) or removes the short path of installDir in the PATH line of the
// boot drive's autoexec.bat. Empty on success, else the message to show or
// log.
String EditAutoexecPath(const String& installDir, bool add);

// Grants the Users group full access to directory, inherited by everything
// below, and logs "Granting rights to directory "..."..." with "OK" or
// "FAIL code N: text" to log (the run's install log text).
void GrantUsersAccess(String& log, const char* directory);
