#include "ui/install_dialogs.h"

#include <windows.h>
#include <shlobj.h>

#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "ui/dialog.h"
#include "ui/dialog_ids.h"
#include "ui/placement.h"

namespace {

constexpr int kDirectoryLimit = 259;
constexpr int kPasswordLimit = 64;
constexpr int kMyComputerFolder = 0x11;  // CSIDL_DRIVES

String ItemText(HWND item) {
  const int length = GetWindowTextLengthA(item);
  String text;
  if (length <= 0) return text;
  text.SetLength(length);
  const int got = GetWindowTextA(item, text.Buffer(), length + 1);
  text.SetLength(got > 0 ? got : 0);
  return text;
}

// ---- licence and readme pages ----------------------------------------------

const DialogLayout kLicenseLayout = {"LicenseDlg",
                                     {{0, kMsgLicenseCaption},
                                      {IDC_DIALOG_LABEL, kMsgLicenseText},
                                      {IDC_DIALOG_OK, kMsgLicenseAccept},
                                      {IDC_DIALOG_CANCEL, kMsgLicenseDecline}},
                                     IDC_DIALOG_OK};
const DialogLayout kReadmeLayout = {
    "ReadmeDlg",
    {{0, kMsgReadmeCaption}, {IDC_DIALOG_LABEL, kMsgReadmeText}, {IDC_DIALOG_OK, kMsgOk}, {IDC_DIALOG_CANCEL, kMsgCancel}},
    IDC_DIALOG_OK};

class TextPage : public FlowDialog {
 public:
  TextPage(Run& run, const DialogLayout& layout, const String& text) : FlowDialog(run, layout), text_(text) {}

 protected:
  void OnSetup() override {
    // The edit control breaks lines only at CR LF.
    String text(text_);
    text.NormalizeNewlines();
    SetDlgItemTextA(Handle(), IDC_PAGE_TEXT, text.CStr());
  }

 private:
  const String& text_;
};

int ShowPage(Run& run, const DialogLayout& layout, const String& text) {
  TextPage page(run, layout, text);
  return page.Show() ? kPageAccepted : kPageDeclined;
}

// ---- directory -------------------------------------------------------------

int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM, LPARAM data) {
  if (message == BFFM_INITIALIZED) {
    CenterOnScreen(window);
    SendMessageA(window, BFFM_SETSELECTIONA, TRUE, data);
  }
  return 0;
}

const DialogLayout kDirectoryLayout = {"ChooseDirDlg",
                                       {{0, kMsgDirectoryCaption},
                                        {IDC_DIALOG_LABEL, kMsgChooseDirText},
                                        {IDC_DIALOG_OK, kMsgOk},
                                        {IDC_DIALOG_CANCEL, kMsgCancel},
                                        {IDC_BROWSE, kMsgBrowse}},
                                       0};

class DirectoryDialog : public FlowDialog {
 public:
  explicit DirectoryDialog(Run& run) : FlowDialog(run, kDirectoryLayout) {}

 protected:
  void OnSetup() override {
    SendMessageA(Item(IDC_DIRECTORY), EM_LIMITTEXT, kDirectoryLimit, 0);
    SetDlgItemTextA(Handle(), IDC_DIRECTORY, run_.directories.installation.CStr());
  }
  bool OnAccept() override {
    run_.directories.installation = ItemText(Item(IDC_DIRECTORY));
    return true;
  }
  BOOL OnItem(WORD id, WORD) override {
    if (id != IDC_BROWSE) return FALSE;
    Browse();
    return TRUE;
  }

 private:
  // The folder dialog under My Computer, opened at the typed directory; a
  // chosen folder with a file-system path replaces the edit's text.
  void Browse() {
    const String current = ItemText(Item(IDC_DIRECTORY));
    LPITEMIDLIST root = nullptr;
    SHGetSpecialFolderLocation(Handle(), kMyComputerFolder, &root);
    char displayName[MAX_PATH] = {0};
    BROWSEINFOA info = {};
    info.hwndOwner = Handle();
    info.pidlRoot = root;
    info.pszDisplayName = displayName;
    info.lpszTitle = MessageText(run_, kMsgChooseDirText);
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = BrowseCallback;
    info.lParam = (LPARAM)current.CStr();
    LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
    if (chosen) {
      char path[MAX_PATH] = {0};
      if (SHGetPathFromIDListA(chosen, path)) SetDlgItemTextA(Handle(), IDC_DIRECTORY, path);
    }
    // The shell's item lists come from the COM task allocator (null is
    // nothing to free).
    CoTaskMemFree(chosen);
    CoTaskMemFree(root);
  }
};

// ---- password ----------------------------------------------------------------

const DialogLayout kPasswordLayout = {
    "EnterPassword",
    {{0, kMsgPasswordCaption}, {IDC_DIALOG_LABEL, kMsgPasswordText}, {IDC_DIALOG_CANCEL, kMsgCancel}},
    0};

class PasswordBox : public FlowDialog {
 public:
  PasswordBox(Run& run, const String& password) : FlowDialog(run, kPasswordLayout), password_(password) {}

 protected:
  void OnSetup() override {
    // A password longer than the usual limit must still be typeable.
    const int limit = password_.Length() > kPasswordLimit ? password_.Length() : kPasswordLimit;
    SendMessageA(Item(IDC_PASSWORD), EM_LIMITTEXT, limit, 0);
    EnableWindow(Item(IDC_DIALOG_OK), FALSE);
  }
  // Enter presses the default button even while it is disabled.
  bool OnAccept() override { return IsWindowEnabled(Item(IDC_DIALOG_OK)); }
  BOOL OnItem(WORD id, WORD code) override {
    if (id != IDC_PASSWORD) return FALSE;
    if (code == EN_CHANGE) EnableWindow(Item(IDC_DIALOG_OK), ItemText(Item(IDC_PASSWORD)) == password_);
    return TRUE;
  }

 private:
  const String& password_;
};

}  // namespace

int LicensePage(Run& run, const String& text) { return ShowPage(run, kLicenseLayout, text); }

int ReadmePage(Run& run, const String& text) { return ShowPage(run, kReadmeLayout, text); }

bool ChooseDirectoryDialog(Run& run) {
  DirectoryDialog dialog(run);
  return dialog.Show();
}

bool PasswordDialog(Run& run, const String& password) {
  PasswordBox dialog(run, password);
  return dialog.Show();
}
