#include "ui/install_dialogs.h"

#include <windows.h>
#include <shlobj.h>

#include "core/win32/path_variables.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "ui/dialog_ids.h"
#include "ui/language_dialog.h"
#include "ui/placement.h"

namespace {

constexpr int32_t kMsgChooseDirText = 11;
constexpr int32_t kMsgChooseDirCaption = 24;
constexpr int32_t kMsgLicenseCaption = 44;
constexpr int32_t kMsgLicenseAccept = 45;
constexpr int32_t kMsgLicenseDecline = 46;
constexpr int32_t kMsgLicenseText = 47;
constexpr int32_t kMsgOk = 48;
constexpr int32_t kMsgCancel = 49;
constexpr int32_t kMsgReadmeCaption = 50;
constexpr int32_t kMsgReadmeText = 51;
constexpr int32_t kMsgBrowse = 52;
constexpr int32_t kMsgPasswordCaption = 75;
constexpr int32_t kMsgPasswordText = 76;

constexpr int kDirectoryLimit = 259;
constexpr int kPasswordLimit = 64;
constexpr int kMyComputerFolder = 0x11;  // CSIDL_DRIVES

INT_PTR RunDialog(const char* templateName, DLGPROC procedure, LPARAM parameter) {
  return DialogBoxParamA(g_instance, templateName, g_backgroundWindow, procedure, parameter);
}

String ItemText(HWND dialog, int id) {
  HWND item = GetDlgItem(dialog, id);
  const int length = GetWindowTextLengthA(item);
  String text;
  if (length <= 0) return text;
  text.SetLength(length);
  const int got = GetWindowTextA(item, text.Buffer(), length + 1);
  text.SetLength(got > 0 ? got : 0);
  return text;
}

// ---- licence and readme pages ----------------------------------------------

struct PageLabels {
  int32_t caption, label, ok, cancel;
  const String* text;
};

BOOL OnPageInit(HWND dialog, const PageLabels& p) {
  SetWindowTextA(dialog, MessageText(p.caption));
  SetDlgItemTextA(dialog, IDC_DIALOG_LABEL, MessageText(p.label));
  SetDlgItemTextA(dialog, IDC_DIALOG_OK, MessageText(p.ok));
  SetDlgItemTextA(dialog, IDC_DIALOG_CANCEL, MessageText(p.cancel));
  // The edit control breaks lines only at CR LF.
  String text(*p.text);
  text.NormalizeNewlines();
  SetDlgItemTextA(dialog, IDC_PAGE_TEXT, text.CStr());
  CenterOnScreen(dialog);
  SetFocus(GetDlgItem(dialog, IDC_DIALOG_OK));
  return FALSE;  // the focus is set
}

INT_PTR CALLBACK PageProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnPageInit(dialog, *reinterpret_cast<const PageLabels*>(lParam));
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_DIALOG_OK:
          EndDialog(dialog, kPageAccepted);
          return TRUE;
        case IDC_DIALOG_CANCEL:
        case IDCANCEL:
          EndDialog(dialog, kPageDeclined);
          return TRUE;
      }
  }
  return FALSE;
}

int ShowPage(const char* templateName, const PageLabels& labels) {
  INT_PTR result = RunDialog(templateName, PageProc, (LPARAM)&labels);
  return result == kPageAccepted ? kPageAccepted : kPageDeclined;
}

// ---- directory -------------------------------------------------------------

int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED) {
    CenterOnScreen(window);
    SendMessageA(window, BFFM_SETSELECTIONA, TRUE, data);
  }
  return 0;
}

void FreeItemList(LPITEMIDLIST list) {
  if (!list) return;
  IMalloc* allocator = nullptr;
  if (SUCCEEDED(SHGetMalloc(&allocator)) && allocator) {
    allocator->Free(list);
    allocator->Release();
  }
}

void Browse(HWND dialog) {
  const String current = ItemText(dialog, IDC_DIRECTORY);
  LPITEMIDLIST root = nullptr;
  SHGetSpecialFolderLocation(dialog, kMyComputerFolder, &root);
  char displayName[MAX_PATH] = {0};
  BROWSEINFOA info = {};
  info.hwndOwner = dialog;
  info.pidlRoot = root;
  info.pszDisplayName = displayName;
  info.lpszTitle = MessageText(kMsgChooseDirText);
  info.ulFlags = BIF_RETURNONLYFSDIRS;
  info.lpfn = BrowseCallback;
  info.lParam = (LPARAM)current.CStr();
  LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
  if (chosen) {
    char path[MAX_PATH] = {0};
    if (SHGetPathFromIDListA(chosen, path)) SetDlgItemTextA(dialog, IDC_DIRECTORY, path);
  }
  FreeItemList(chosen);
  FreeItemList(root);
}

BOOL OnDirectoryInit(HWND dialog) {
  CenterOnScreen(dialog);
  SetWindowTextA(dialog, MessageText(kMsgChooseDirCaption));
  SetDlgItemTextA(dialog, IDC_DIALOG_LABEL, MessageText(kMsgChooseDirText));
  SendDlgItemMessageA(dialog, IDC_DIRECTORY, EM_LIMITTEXT, kDirectoryLimit, 0);
  SetDlgItemTextA(dialog, IDC_DIRECTORY, InstallationDirectory().CStr());
  SetDlgItemTextA(dialog, IDC_DIALOG_OK, MessageText(kMsgOk));
  SetDlgItemTextA(dialog, IDC_DIALOG_CANCEL, MessageText(kMsgCancel));
  SetDlgItemTextA(dialog, IDC_BROWSE, MessageText(kMsgBrowse));
  return TRUE;
}

INT_PTR CALLBACK DirectoryProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return OnDirectoryInit(dialog);
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_DIALOG_OK:
          InstallationDirectory() = ItemText(dialog, IDC_DIRECTORY);
          EndDialog(dialog, 1);
          return TRUE;
        case IDC_DIALOG_CANCEL:
        case IDCANCEL:
          EndDialog(dialog, 0);
          return TRUE;
        case IDC_BROWSE:
          Browse(dialog);
          return TRUE;
      }
  }
  return FALSE;
}

// ---- password ----------------------------------------------------------------

void UpdatePasswordButton(HWND dialog) {
  const String* password = reinterpret_cast<const String*>(GetWindowLongPtrA(dialog, DWLP_USER));
  const String typed = ItemText(dialog, IDC_PASSWORD);
  EnableWindow(GetDlgItem(dialog, IDC_DIALOG_OK), password && typed == *password);
}

BOOL OnPasswordInit(HWND dialog, const String* password) {
  SetWindowLongPtrA(dialog, DWLP_USER, (LONG_PTR)password);
  CenterOnScreen(dialog);
  SetWindowTextA(dialog, MessageText(kMsgPasswordCaption));
  SetDlgItemTextA(dialog, IDC_DIALOG_LABEL, MessageText(kMsgPasswordText));
  SetDlgItemTextA(dialog, IDC_DIALOG_CANCEL, MessageText(kMsgCancel));
  // A password longer than the usual limit must still be typeable.
  const int limit = password->Length() > kPasswordLimit ? password->Length() : kPasswordLimit;
  SendDlgItemMessageA(dialog, IDC_PASSWORD, EM_LIMITTEXT, limit, 0);
  EnableWindow(GetDlgItem(dialog, IDC_DIALOG_OK), FALSE);
  return TRUE;
}

INT_PTR CALLBACK PasswordProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnPasswordInit(dialog, reinterpret_cast<const String*>(lParam));
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDC_PASSWORD:
          if (HIWORD(wParam) == EN_CHANGE) UpdatePasswordButton(dialog);
          return TRUE;
        case IDC_DIALOG_OK:
          // Enter presses the default button even while it is disabled.
          if (!IsWindowEnabled(GetDlgItem(dialog, IDC_DIALOG_OK))) return TRUE;
          EndDialog(dialog, 1);
          return TRUE;
        case IDC_DIALOG_CANCEL:
        case IDCANCEL:
          EndDialog(dialog, 0);
          return TRUE;
      }
  }
  return FALSE;
}

}  // namespace

int LicensePage(const String& text) {
  const PageLabels labels{kMsgLicenseCaption, kMsgLicenseText, kMsgLicenseAccept, kMsgLicenseDecline, &text};
  return ShowPage("LicenseDlg", labels);
}

int ReadmePage(const String& text) {
  const PageLabels labels{kMsgReadmeCaption, kMsgReadmeText, kMsgOk, kMsgCancel, &text};
  return ShowPage("ReadmeDlg", labels);
}

bool ChooseDirectoryDialog() { return RunDialog("ChooseDirDlg", DirectoryProc, 0) == 1; }

bool PasswordDialog(const String& password) {
  return RunDialog("EnterPassword", PasswordProc, (LPARAM)&password) == 1;
}
