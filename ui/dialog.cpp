#include "ui/dialog.h"

#include "runtime/messages.h"
#include "runtime/run_log.h"
#include "runtime/run_state.h"
#include "ui/dialog_ids.h"
#include "ui/placement.h"

INT_PTR Dialog::RunModal(const Run& run, const char* templateName) {
  if (!ShowsWindows(run)) {
    RunLogLine(run, "Dialog \"%s\" (not shown), answered Cancel", templateName);
    return -1;
  }
  return DialogBoxParamA(run.instance, templateName, run.windows.background, Procedure, (LPARAM)this);
}

HWND Dialog::CreateModeless(const Run& run, const char* templateName) {
  if (!ShowsWindows(run)) return nullptr;
  return CreateDialogParamA(run.instance, templateName, run.windows.background, Procedure, (LPARAM)this);
}

INT_PTR Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_COMMAND:
      return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
  }
  return OnMessage(message, wParam, lParam);
}

INT_PTR CALLBACK Dialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Dialog* dialog = nullptr;
  if (message == WM_INITDIALOG) {
    dialog = reinterpret_cast<Dialog*>(lParam);
    if (!dialog) return FALSE;
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    dialog->handle_ = window;
  } else {
    dialog = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, DWLP_USER));
    if (!dialog) return FALSE;
  }
  INT_PTR result = dialog->Dispatch(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    // The window is gone: the object no longer answers for it.
    SetWindowLongPtrA(window, DWLP_USER, 0);
    dialog->handle_ = nullptr;
  }
  return result;
}

bool FlowDialog::Show() { return RunModal(run_, layout_.templateName) == IDC_DIALOG_OK; }

void Dialog::SetItemTexts(Run& run, const DialogText* texts, int32_t count) {
  for (int32_t i = 0; i < count && texts[i].message; ++i)
    SetWindowTextA(texts[i].item ? Item(texts[i].item) : handle_, MessageText(run, texts[i].message));
}

void FlowDialog::SetTexts() { SetItemTexts(run_, layout_.texts, sizeof layout_.texts / sizeof layout_.texts[0]); }

BOOL FlowDialog::OnInitDialog() {
  OnSetup();
  SetTexts();
  CenterOnScreen(Handle());
  if (!layout_.focus) return TRUE;
  SetFocus(Item(layout_.focus));
  return FALSE;  // the focus is set
}

void FlowDialog::Accept() {
  if (OnAccept()) End(IDC_DIALOG_OK);
}

BOOL FlowDialog::OnCommand(WORD id, WORD code, HWND) {
  switch (id) {
    case IDC_DIALOG_OK: Accept(); return TRUE;
    case IDC_DIALOG_CANCEL:
    case IDCANCEL: End(IDC_DIALOG_CANCEL); return TRUE;
  }
  return OnItem(id, code);
}
