// The progress dialog ("ProgressDlg"): a modeless dialog with a heading, a
// progress bar over the placeholder 1007, a two-line status line and Cancel.
// While it exists it is the run's current modeless dialog, so it owns the
// message boxes, and the exit path destroys it before the background window.
// The object owns its window and its bar: the window goes with the object at
// the latest, and its handle is registered with the run only while it exists.
//
// The installer works on the GUI thread; every progress step pumps the
// message queue, so the windows stay alive and a Cancel click is handled from
// inside whichever step is running.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "core/format.h"
#include "core/string.h"
#include "ui/dialog.h"

class ProgressDialog : public Dialog {
 public:
  explicit ProgressDialog(Run& run) : run_(run) {}
  ~ProgressDialog();

  // Creates the dialog owned by the background window (or by no window) and
  // makes it the run's current modeless dialog; labels it for an install or
  // an uninstall run. When the system refuses the dialog, and in a silent
  // run (/s), the run goes on without it: the progress steps then do nothing
  // but pump messages.
  void Create();

  // The dialog goes (before the final message: from here on the boxes
  // belong to the background window again), then the queue is pumped.
  void Close();

  // Moves the bar to percent (posted, so a busy step never waits on it), then
  // pumps the queue.
  void SetProgress(int32_t percent);

  // Formats the status line (two lines high), shows it at once and pumps the
  // queue. Message texts go through "%s", never as the format itself.
  void SetStatus(const char* format, ...) VK_PRINTF_FORMAT(2, 3);

  // Marks the start of a stage (the stage pause counts from here), shows
  // message n as the status and moves the bar to percent.
  void SetStage(int32_t message, int32_t percent);

  // Pumps the queue (with the dialog's keys through the dialog manager).
  void Pump();

 protected:
  BOOL OnInitDialog() override;
  BOOL OnCommand(WORD id, WORD code, HWND control) override;
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void CreateBar();

  Run& run_;
  HWND bar_ = nullptr;  // the progress bar over the placeholder; null while there is none
};

// The bar, the status line and the message pump for a loop over many small
// items (the files of an installation or a removal). Each refresh of the
// dialog costs about as much as writing a small file, so the items' positions
// and lines are shown at most once every kItemRefreshMs: fast enough that a
// person sees every stretch of the run and a Cancel click is handled at once,
// slow enough that the display never costs more than the work. The line and
// the pump keep their own clocks, so a bar that moves often never holds the
// line back. A position other than the one shown is posted at once (the bar
// has 100 steps, so that is rare). Finish shows the last line kept back, so
// the dialog ends as one refresh per item would leave it.
class ItemProgress {
 public:
  static constexpr uint32_t kItemRefreshMs = 30;

  explicit ItemProgress(ProgressDialog& dialog);
  // Moves the bar to percent when it shows another position; otherwise
  // pumps the queue when a refresh is due.
  void Advance(int32_t percent);
  // Shows line on the status line when a refresh is due, else keeps it.
  void Status(const String& line);
  // Shows the line kept back, if any.
  void Finish();

 private:
  static bool Due(uint32_t since);

  ProgressDialog& dialog_;
  uint32_t lastPump_;
  uint32_t lastLine_;
  int32_t shownPercent_ = -1;
  String pendingLine_;
  bool linePending_ = false;
};
