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
#include <stdint.h>

struct Run;

// An item's text from the message table: item 0 is the dialog's caption.
struct DialogText {
  uint16_t item;
  uint8_t message;
};

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

  // Sets the items' texts from the message table in the current language,
  // up to count entries or the first with message 0 (the display title,
  // never a dialog's text).
  void SetItemTexts(Run& run, const DialogText* texts, int32_t count);
  // Ends a modal dialog with result.
  void End(INT_PTR result) { EndDialog(handle_, result); }
  HWND Item(int id) const { return GetDlgItem(handle_, id); }

 private:
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

  HWND handle_ = nullptr;
};

// What most of the flow's modal dialogs are: a template, texts from the
// message table in the current language, an item that takes the focus, and
// OK (1001) and Cancel (1003, also Escape and the close box) ending it with
// their own ids. The dialog is centred on the screen.
struct DialogLayout {
  const char* templateName;
  DialogText texts[5];  // as SetItemTexts takes them
  uint16_t focus;       // 0: the system gives the first tab stop the focus
};

// A modal dialog run from its layout. Its own behaviour comes in through
// the hooks; the layout does the rest.
class FlowDialog : public Dialog {
 public:
  // True when the dialog ended with OK; false for Cancel, when it could not
  // be created, and in a silent run.
  bool Show();

 protected:
  FlowDialog(Run& run, const DialogLayout& layout) : run_(run), layout_(layout) {}
  ~FlowDialog() = default;

  // Before the layout's texts are set, for the dialog's own items.
  virtual void OnSetup() {}
  // OK: false keeps the dialog open.
  virtual bool OnAccept() { return true; }
  // A command of any item but OK and Cancel; TRUE when handled.
  virtual BOOL OnItem(WORD id, WORD code) {
    (void)id;
    (void)code;
    return FALSE;
  }

  // Sets the layout's texts in the current language.
  void SetTexts();
  // What OK does: ends the dialog with 1001 unless OnAccept refuses.
  void Accept();

  Run& run_;

 private:
  BOOL OnInitDialog() final;
  BOOL OnCommand(WORD id, WORD code, HWND control) final;

  const DialogLayout& layout_;
};
