#include "ui/language_dialog.h"

#include <windows.h>

#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "ui/dialog.h"
#include "ui/dialog_ids.h"
#include "ui/placement.h"

namespace {

// The first word of the user's language name ("English (United States)"
// gives "English").
String UserLanguageWord() {
  char buffer[256] = {0};
  GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SLANGUAGE, buffer, 255);
  String name(buffer);
  int32_t cut = name.FindChar('(');
  if (cut >= 0) name.Truncate(cut);
  cut = name.FindFirstOf(kBlankChars);
  if (cut >= 0) name.Truncate(cut);
  return name;
}

void SelectInitialLanguage(MessageTable& messages, HWND list) {
  String word = UserLanguageWord();
  LRESULT at = word.IsEmpty() ? LB_ERR : SendMessageA(list, LB_SELECTSTRING, (WPARAM)-1, (LPARAM)word.CStr());
  if (at == LB_ERR) at = SendMessageA(list, LB_SELECTSTRING, (WPARAM)-1, (LPARAM) "English");
  if (at == LB_ERR) at = SendMessageA(list, LB_SETCURSEL, 0, 0) == LB_ERR ? LB_ERR : 0;
  messages.SetCurrent(at == LB_ERR ? 0 : (int32_t)at);
}

class LanguageDialogBox : public Dialog {
 public:
  explicit LanguageDialogBox(Run& run) : run_(run) {}

 protected:
  BOOL OnInitDialog() override;
  BOOL OnCommand(WORD id, WORD code, HWND control) override;

 private:
  void ApplyTexts();
  void Accept();
  void OnSelectionChange();
  LRESULT Selection() const { return SendMessageA(Item(IDC_LANGUAGE_LIST), LB_GETCURSEL, 0, 0); }
  int32_t LanguageCount() const { return run_.archive.settings.LanguageCount(); }

  Run& run_;
};

// Relabels the dialog in the current language.
void LanguageDialogBox::ApplyTexts() {
  if (!ProductFlag(run_, kFlagKeepTitle)) run_.displayTitle = MessageText(run_, kMsgDisplayTitle);
  SetDlgItemTextA(Handle(), IDC_DIALOG_OK, MessageText(run_, kMsgOk));
  SetDlgItemTextA(Handle(), IDC_DIALOG_CANCEL, MessageText(run_, kMsgCancel));
  if (run_.windows.background) InvalidateRect(run_.windows.background, nullptr, TRUE);
}

BOOL LanguageDialogBox::OnInitDialog() {
  HWND list = Item(IDC_LANGUAGE_LIST);
  const Array<String>& names = run_.archive.settings.languageNames;
  for (int32_t i = 0; i < names.Count(); ++i) SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)names[i].CStr());
  SelectInitialLanguage(run_.messages, list);
  ApplyTexts();
  CenterOnScreen(Handle());
  return TRUE;
}

// OK or a double click: the selection, kept within the languages, is the choice.
void LanguageDialogBox::Accept() {
  LRESULT selection = Selection();
  int32_t last = LanguageCount() - 1;
  int32_t language = selection < 0 ? 0 : (selection > last ? last : (int32_t)selection);
  run_.messages.SetCurrent(language);
  End(kLanguageDialogOk);
}

void LanguageDialogBox::OnSelectionChange() {
  LRESULT selection = Selection();
  if (selection < 0 || selection >= LanguageCount()) return;
  run_.messages.SetCurrent((int32_t)selection);
  ApplyTexts();
}

BOOL LanguageDialogBox::OnCommand(WORD id, WORD code, HWND) {
  switch (id) {
    case IDC_LANGUAGE_LIST:
      if (code == LBN_SELCHANGE) OnSelectionChange();
      if (code == LBN_DBLCLK) Accept();
      return TRUE;
    case IDC_DIALOG_OK:
      Accept();
      return TRUE;
    case IDC_DIALOG_CANCEL:
    case IDCANCEL:
      End(kLanguageDialogCancel);
      return TRUE;
  }
  return FALSE;
}

}  // namespace

int LanguageDialog(Run& run) {
  LanguageDialogBox dialog(run);
  INT_PTR result = dialog.RunModal(run, "LanguageDlg");
  return result == kLanguageDialogOk ? kLanguageDialogOk : kLanguageDialogCancel;
}
