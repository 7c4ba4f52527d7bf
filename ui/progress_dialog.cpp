#include "ui/progress_dialog.h"

#include <windows.h>
#include <commctrl.h>

#include "core/win32/dynamic_library.h"
#include "runtime/current_run.h"
#include "runtime/installer_archive.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "ui/dialog_ids.h"
#include "ui/placement.h"

namespace {

// The progress bar over the placeholder; null until the dialog exists.
HWND g_progressBar;

bool CancelDisabled() { return CurrentRun().options.uninstallMode || ProductFlag(CurrentRun(), kFlagNoCancel); }

// The bar covers the placeholder's black frame: one pixel more on the left
// and top, two more on the right and bottom.
void CreateProgressBar(HWND dialog) {
  HWND placeholder = GetDlgItem(dialog, IDC_PROGRESS_PLACEHOLDER);
  WINDOWPLACEMENT place;
  place.length = sizeof place;
  if (!placeholder || !GetWindowPlacement(placeholder, &place)) return;
  const RECT& r = place.rcNormalPosition;
  g_progressBar = CreateWindowExA(0, PROGRESS_CLASSA, nullptr, WS_CHILD | WS_VISIBLE, r.left - 1, r.top - 1,
                                  r.right - r.left + 3, r.bottom - r.top + 3, dialog, nullptr, CurrentRun().instance, nullptr);
}

BOOL OnInitDialog(HWND dialog) {
  PlaceByDialogPosition(dialog, CurrentRun().archive.settings.DialogPosition);
  CreateProgressBar(dialog);
  SetDlgItemTextA(dialog, IDC_DIALOG_CANCEL, MessageText(CurrentRun(), kMsgCancel));
  if (CancelDisabled()) EnableWindow(GetDlgItem(dialog, IDC_DIALOG_CANCEL), FALSE);
  return TRUE;
}

// Only a click of the button itself (its handle comes with the command)
// asks; Escape and the close box do nothing, so the run cannot be ended by
// a stray key.
BOOL OnCommand(WPARAM wParam, LPARAM lParam) {
  if (LOWORD(wParam) != IDC_DIALOG_CANCEL || !lParam) return FALSE;
  if (!ProductFlag(CurrentRun(), kFlagNoCancel)) ConfirmCancel(CurrentRun());
  return TRUE;
}

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog);
    case WM_COMMAND:
      return OnCommand(wParam, lParam);
  }
  return FALSE;
}

}  // namespace

void CreateProgressDialog() {
  if (!ShowsWindows(CurrentRun())) return;
  // The bar's class must be registered on Windows.
  if (const auto initCommonControls = SystemApi(kLibComCtl32).InitCommonControls) initCommonControls();
  HWND dialog = CreateDialogParamA(CurrentRun().instance, "ProgressDlg", CurrentRun().windows.background, ProgressDialogProc, 0);
  if (!dialog) return;
  CurrentRun().windows.dialog = dialog;
  const bool uninstall = CurrentRun().options.uninstallMode;
  SetWindowTextA(dialog, MessageText(CurrentRun(), uninstall ? kMsgUninstallCaption : kMsgInstalling));
  SetDlgItemTextA(dialog, IDC_DIALOG_HEADING, MessageText(CurrentRun(), uninstall ? kMsgUninstallHeading : kMsgInstallHeading));
}

void SetProgress(int32_t percent) {
  // The bar dies with its dialog when the exit path destroys it.
  if (g_progressBar && IsWindow(g_progressBar)) PostMessageA(g_progressBar, PBM_SETPOS, (WPARAM)percent, 0);
  PumpMessages(CurrentRun());
}

void SetStatus(const char* format, ...) {
  String text;
  va_list args;
  va_start(args, format);
  AppendFormatV(text, format, args);
  va_end(args);
  if (CurrentRun().windows.dialog) {
    SetDlgItemTextA(CurrentRun().windows.dialog, IDC_STATUS_LINE, text.CStr());
    UpdateWindow(CurrentRun().windows.dialog);
  }
  PumpMessages(CurrentRun());
}

void SetStage(int32_t message, int32_t percent) {
  MarkTime(CurrentRun());
  SetStatus("%s", MessageText(CurrentRun(), message));
  SetProgress(percent);
}

ItemProgress::ItemProgress() : lastPump_(GetTickCount()), lastLine_(lastPump_ - kItemRefreshMs) {}

bool ItemProgress::Due(uint32_t since) { return GetTickCount() - since >= kItemRefreshMs; }

void ItemProgress::Advance(int32_t percent) {
  if (percent != shownPercent_) {
    shownPercent_ = percent;
    SetProgress(percent);
  } else if (Due(lastPump_)) {
    PumpMessages(CurrentRun());
  } else {
    return;
  }
  lastPump_ = GetTickCount();
}

void ItemProgress::Status(const String& line) {
  if (!Due(lastLine_)) {
    pendingLine_ = line;
    linePending_ = true;
    return;
  }
  linePending_ = false;
  SetStatus("%s", line.CStr());
  lastLine_ = lastPump_ = GetTickCount();
}

void ItemProgress::Finish() {
  if (!linePending_) return;
  linePending_ = false;
  SetStatus("%s", pendingLine_.CStr());
}
