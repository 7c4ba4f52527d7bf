// The progress dialog ("ProgressDlg"): a modeless dialog with a heading, a
// progress bar over the placeholder 1007, a two-line status line and Cancel.
// It is the current modeless dialog of the run (g_currentDialog), so it owns
// the message boxes while it exists, and the exit path destroys it before the
// background window.
//
// The installer works on the GUI thread; every progress step pumps the
// message queue, so the windows stay alive and a Cancel click is handled from
// inside whichever step is running.
#pragma once
#include <stdint.h>

#include "core/format.h"

// Creates the dialog owned by the background window (or by no window) and
// makes it the current modeless dialog; labels it for an install or an
// uninstall run. When the system refuses the dialog the run goes on without
// it: the progress helpers then do nothing but pump messages.
void CreateProgressDialog();

// Moves the bar to percent (posted, so a busy step never waits on it), then
// pumps the queue.
void SetProgress(int32_t percent);

// Formats the status line (two lines high), shows it at once and pumps the
// queue. Message texts go through "%s", never as the format itself.
void SetStatus(const char* format, ...) VK_PRINTF_FORMAT(1, 2);

// Marks the start of a stage (the stage pause counts from here), shows
// message n as the status and moves the bar to percent.
void SetStage(int32_t message, int32_t percent);
