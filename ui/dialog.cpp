#include "ui/dialog.h"

#include "runtime/current_run.h"
#include "runtime/messages.h"
#include "runtime/run_log.h"

INT_PTR Dialog::RunModal(HINSTANCE instance, const char* templateName, HWND owner) {
  if (!ShowsWindows(CurrentRun())) {
    RunLogLine(CurrentRun(), "Dialog \"%s\" (not shown), answered Cancel", templateName);
    return -1;
  }
  return DialogBoxParamA(instance, templateName, owner, Procedure, (LPARAM)this);
}

HWND Dialog::CreateModeless(HINSTANCE instance, const char* templateName, HWND owner) {
  if (!ShowsWindows(CurrentRun())) return nullptr;
  return CreateDialogParamA(instance, templateName, owner, Procedure, (LPARAM)this);
}

INT_PTR Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_COMMAND:
      return OnCommand(LOWORD(wParam), HIWORD(wParam));
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
