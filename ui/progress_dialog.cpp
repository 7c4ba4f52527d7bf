#include "ui/progress_dialog.h"

#include <windows.h>
#include <commctrl.h>

#include "core/win32/dynamic_library.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "ui/dialog_ids.h"
#include "ui/placement.h"

namespace {

bool CancelDisabled(const Run& run) { return run.options.uninstallMode || ProductFlag(run, kFlagNoCancel); }

// The caption, the heading and the button, for an install and an uninstall.
const DialogText kProgressTexts[2][3] = {
    {{0, kMsgInstalling}, {IDC_DIALOG_HEADING, kMsgInstallHeading}, {IDC_DIALOG_CANCEL, kMsgCancel}},
    {{0, kMsgUninstallCaption}, {IDC_DIALOG_HEADING, kMsgUninstallHeading}, {IDC_DIALOG_CANCEL, kMsgCancel}},
};

}  // namespace

ProgressDialog::~ProgressDialog() {
  if (Handle()) DestroyWindow(Handle());
}

// The bar covers the placeholder's black frame: one pixel more on the left
// and top, two more on the right and bottom.
void ProgressDialog::CreateBar() {
  HWND placeholder = Item(IDC_PROGRESS_PLACEHOLDER);
  WINDOWPLACEMENT place;
  place.length = sizeof place;
  if (!placeholder || !GetWindowPlacement(placeholder, &place)) return;
  const RECT& r = place.rcNormalPosition;
  bar_ = CreateWindowExA(0, PROGRESS_CLASSA, nullptr, WS_CHILD | WS_VISIBLE, r.left - 1, r.top - 1,
                         r.right - r.left + 3, r.bottom - r.top + 3, Handle(), nullptr, run_.instance, nullptr);
}

BOOL ProgressDialog::OnInitDialog() {
  HWND dialog = Handle();
  PlaceByDialogPosition(dialog, run_.archive.settings.DialogPosition);
  CreateBar();
  SetItemTexts(run_, kProgressTexts[run_.options.uninstallMode], 3);
  if (CancelDisabled(run_)) EnableWindow(Item(IDC_DIALOG_CANCEL), FALSE);
  return TRUE;
}

// Only a click of the button itself (its handle comes with the command)
// asks; Escape and the close box do nothing, so the run cannot be ended by
// a stray key.
BOOL ProgressDialog::OnCommand(WORD id, WORD, HWND control) {
  if (id != IDC_DIALOG_CANCEL || !control) return FALSE;
  if (!ProductFlag(run_, kFlagNoCancel)) ConfirmCancel(run_);
  return TRUE;
}

// Whoever destroys the window (Close, the exit path), the run no longer
// names it and the bar is gone with it.
INT_PTR ProgressDialog::OnMessage(UINT message, WPARAM, LPARAM) {
  if (message == WM_DESTROY) {
    if (run_.windows.dialog == Handle()) run_.windows.dialog = nullptr;
    bar_ = nullptr;
  }
  return FALSE;
}

void ProgressDialog::Create() {
  if (!ShowsWindows(run_)) return;
  // The bar's class must be registered on Windows.
  if (const auto initCommonControls = SystemApi(kLibComCtl32).InitCommonControls) initCommonControls();
  HWND dialog = CreateModeless(run_, "ProgressDlg");
  if (!dialog) return;
  run_.windows.dialog = dialog;
}

void ProgressDialog::Close() {
  if (!Handle()) return;
  DestroyWindow(Handle());
  Pump();
}

void ProgressDialog::Pump() { PumpMessages(run_); }

void ProgressDialog::SetProgress(int32_t percent) {
  if (bar_) PostMessageA(bar_, PBM_SETPOS, (WPARAM)percent, 0);
  Pump();
}

void ProgressDialog::SetStatus(const char* format, ...) {
  String text;
  va_list args;
  va_start(args, format);
  AppendFormatV(text, format, args);
  va_end(args);
  if (Handle()) {
    SetDlgItemTextA(Handle(), IDC_STATUS_LINE, text.CStr());
    UpdateWindow(Handle());
  }
  Pump();
}

void ProgressDialog::SetStage(int32_t message, int32_t percent) {
  MarkTime(run_);
  SetStatus("%s", MessageText(run_, message));
  SetProgress(percent);
}

ItemProgress::ItemProgress(ProgressDialog& dialog)
    : dialog_(dialog), lastPump_(GetTickCount()), lastLine_(lastPump_ - kItemRefreshMs) {}

bool ItemProgress::Due(uint32_t since) { return GetTickCount() - since >= kItemRefreshMs; }

void ItemProgress::Advance(int32_t percent) {
  if (percent != shownPercent_) {
    shownPercent_ = percent;
    dialog_.SetProgress(percent);
  } else if (Due(lastPump_)) {
    dialog_.Pump();
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
  dialog_.SetStatus("%s", line.CStr());
  lastLine_ = lastPump_ = GetTickCount();
}

void ItemProgress::Finish() {
  if (!linePending_) return;
  linePending_ = false;
  dialog_.SetStatus("%s", pendingLine_.CStr());
}
