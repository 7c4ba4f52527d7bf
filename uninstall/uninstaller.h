// The uninstaller: removes one installed product as its installation
// recorded it, from the product's Uninstall key and its "Uninstall.DAT".
//
// Runs on the GUI thread of an uninstall run (/u:"name"). Every step that
// fails for one item records it and goes on; the run is clean only when no
// file deletion failed, and only a clean run removes the Uninstall key and
// the data file. After a run with failures the key, the uninstaller and a
// rewritten "Uninstall.DAT" naming only what is left stay for another run,
// which retries exactly those items (values already processed - the first
// uninstall batch, the fonts, the shared-file references, the product keys -
// are deleted as they are done and are not processed twice).
#pragma once
#include <stdint.h>

#include "core/string.h"
#include "runtime/messages.h"

class BackgroundWindow;
struct Run;
struct RunDirectories;

// Removes the product registered under name, showing the look the
// installation stored in background (whose owner keeps it for the process's
// life: the exit path takes its window down). kRunCompleted when everything
// was removed (the caller then deletes the program itself);
// kRunRestartNeeded when, with /s, files still in use were scheduled for
// deletion at the next restart and no restart was made (everything else is
// gone, and the caller deletes the program too); kRunFailed after any
// failure, when no such product is installed, or when its registration is
// unusable. Declining the confirmation ends the process at once as
// cancelled, with nothing changed.
RunOutcome Uninstall(Run& run, BackgroundWindow& background, const String& name);

// Writes the self-deleting batch into a new directory of the uninstaller's
// own under the temporary directory and starts it through the command
// interpreter, without waiting. The batch waits until the running program
// can be deleted, removes the uninstall and install directories of
// directories when they are empty, then deletes itself and its directory.
// Returns 0 on success, 1 when the batch file could not be written, 2 when
// the interpreter could not be started (the batch and its directory are
// then removed again).
int32_t WriteSelfDeleteBatch(const RunDirectories& directories);
