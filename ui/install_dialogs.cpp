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

struct PageLabels {
  int32_t caption, label, ok, cancel;
};

class TextPage : public Dialog {
 public:
  TextPage(Run& run, const PageLabels& labels, const String& text) : run_(run), labels_(labels), text_(text) {}

 protected:
  BOOL OnInitDialog() override {
    HWND w = Handle();
    SetWindowTextA(w, MessageText(run_, labels_.caption));
    SetDlgItemTextA(w, IDC_DIALOG_LABEL, MessageText(run_, labels_.label));
    SetDlgItemTextA(w, IDC_DIALOG_OK, MessageText(run_, labels_.ok));
    SetDlgItemTextA(w, IDC_DIALOG_CANCEL, MessageText(run_, labels_.cancel));
    // The edit control breaks lines only at CR LF.
    String text(text_);
    text.NormalizeNewlines();
    SetDlgItemTextA(w, IDC_PAGE_TEXT, text.CStr());
    CenterOnScreen(w);
    SetFocus(Item(IDC_DIALOG_OK));
    return FALSE;  // the focus is set
  }
  BOOL OnCommand(WORD id, WORD, HWND) override {
    switch (id) {
      case IDC_DIALOG_OK:
        End(kPageAccepted);
        return TRUE;
      case IDC_DIALOG_CANCEL:
      case IDCANCEL:
        End(kPageDeclined);
        return TRUE;
    }
    return FALSE;
  }

 private:
  Run& run_;
  PageLabels labels_;
  const String& text_;
};

int ShowPage(Run& run, const char* templateName, const PageLabels& labels, const String& text) {
  TextPage page(run, labels, text);
  return page.RunModal(run, templateName) == kPageAccepted ? kPageAccepted : kPageDeclined;
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

class DirectoryDialog : public Dialog {
 public:
  explicit DirectoryDialog(Run& run) : run_(run) {}

 protected:
  BOOL OnInitDialog() override {
    HWND w = Handle();
    CenterOnScreen(w);
    SetWindowTextA(w, MessageText(run_, kMsgDirectoryCaption));
    SetDlgItemTextA(w, IDC_DIALOG_LABEL, MessageText(run_, kMsgChooseDirText));
    SendMessageA(Item(IDC_DIRECTORY), EM_LIMITTEXT, kDirectoryLimit, 0);
    SetDlgItemTextA(w, IDC_DIRECTORY, run_.directories.installation.CStr());
    SetDlgItemTextA(w, IDC_DIALOG_OK, MessageText(run_, kMsgOk));
    SetDlgItemTextA(w, IDC_DIALOG_CANCEL, MessageText(run_, kMsgCancel));
    SetDlgItemTextA(w, IDC_BROWSE, MessageText(run_, kMsgBrowse));
    return TRUE;
  }
  BOOL OnCommand(WORD id, WORD, HWND) override {
    switch (id) {
      case IDC_DIALOG_OK:
        run_.directories.installation = ItemText(Item(IDC_DIRECTORY));
        End(1);
        return TRUE;
      case IDC_DIALOG_CANCEL:
      case IDCANCEL:
        End(0);
        return TRUE;
      case IDC_BROWSE:
        Browse();
        return TRUE;
    }
    return FALSE;
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
    FreeItemList(chosen);
    FreeItemList(root);
  }

  Run& run_;
};

// ---- password ----------------------------------------------------------------

class PasswordBox : public Dialog {
 public:
  PasswordBox(Run& run, const String& password) : run_(run), password_(password) {}

 protected:
  BOOL OnInitDialog() override {
    HWND w = Handle();
    CenterOnScreen(w);
    SetWindowTextA(w, MessageText(run_, kMsgPasswordCaption));
    SetDlgItemTextA(w, IDC_DIALOG_LABEL, MessageText(run_, kMsgPasswordText));
    SetDlgItemTextA(w, IDC_DIALOG_CANCEL, MessageText(run_, kMsgCancel));
    // A password longer than the usual limit must still be typeable.
    const int limit = password_.Length() > kPasswordLimit ? password_.Length() : kPasswordLimit;
    SendMessageA(Item(IDC_PASSWORD), EM_LIMITTEXT, limit, 0);
    EnableWindow(Item(IDC_DIALOG_OK), FALSE);
    return TRUE;
  }
  BOOL OnCommand(WORD id, WORD code, HWND) override {
    switch (id) {
      case IDC_PASSWORD:
        if (code == EN_CHANGE) EnableWindow(Item(IDC_DIALOG_OK), ItemText(Item(IDC_PASSWORD)) == password_);
        return TRUE;
      case IDC_DIALOG_OK:
        // Enter presses the default button even while it is disabled.
        if (IsWindowEnabled(Item(IDC_DIALOG_OK))) End(1);
        return TRUE;
      case IDC_DIALOG_CANCEL:
      case IDCANCEL:
        End(0);
        return TRUE;
    }
    return FALSE;
  }

 private:
  Run& run_;
  const String& password_;
};

}  // namespace

int LicensePage(Run& run, const String& text) {
  return ShowPage(run, "LicenseDlg",
                  PageLabels{kMsgLicenseCaption, kMsgLicenseText, kMsgLicenseAccept, kMsgLicenseDecline}, text);
}

int ReadmePage(Run& run, const String& text) {
  return ShowPage(run, "ReadmeDlg", PageLabels{kMsgReadmeCaption, kMsgReadmeText, kMsgOk, kMsgCancel}, text);
}

bool ChooseDirectoryDialog(Run& run) {
  DirectoryDialog dialog(run);
  return dialog.RunModal(run, "ChooseDirDlg") == 1;
}

bool PasswordDialog(Run& run, const String& password) {
  PasswordBox dialog(run, password);
  return dialog.RunModal(run, "EnterPassword") == 1;
}
