// The base of the runtime's dialogs. A dialog is an object: its procedure
// receives the object through the creation parameter (WM_INITDIALOG) and
// finds it again in the window's DWLP_USER slot for every later message, so
// no dialog keeps its state in globals.
//
// Messages that arrive before WM_INITDIALOG (WM_SETFONT and the like) and
// after WM_NCDESTROY go to the system's default handling. The object must
// outlive its window; Handle() is null before creation and after destruction.
#pragma once
#include <windows.h>

struct Run;

class Dialog {
 public:
  Dialog() = default;
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Runs the dialog of the named template of the run's module modally, owned
  // by the run's background window (none when there is none). Returns the
  // value given to End, or -1 when the dialog could not be created - also in
  // a silent run (/s), which shows no dialog and takes -1 as its answer:
  // every dialog reads it as Cancel.
  INT_PTR RunModal(const Run& run, const char* templateName);

  // Creates the dialog of the named template modelessly, owned as RunModal's.
  // Returns its window, null when it could not be created or the run is
  // silent.
  HWND CreateModeless(const Run& run, const char* templateName);

  HWND Handle() const { return handle_; }

 protected:
  ~Dialog() = default;

  // WM_INITDIALOG; the result is the procedure's (TRUE: the system sets the
  // focus).
  virtual BOOL OnInitDialog() { return TRUE; }
  // WM_COMMAND: control id, notification code and the control's window
  // (null for a command from the keyboard or a menu); TRUE when handled.
  virtual BOOL OnCommand(WORD id, WORD code, HWND control) {
    (void)id;
    (void)code;
    (void)control;
    return FALSE;
  }
  // Every other message; the result is the procedure's (FALSE: not handled).
  virtual INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    (void)message;
    (void)wParam;
    (void)lParam;
    return FALSE;
  }

  // Ends a modal dialog with result.
  void End(INT_PTR result) { EndDialog(handle_, result); }
  HWND Item(int id) const { return GetDlgItem(handle_, id); }

 private:
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

  HWND handle_ = nullptr;
};
