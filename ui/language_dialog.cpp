#include "ui/language_dialog.h"

#include <windows.h>

#include "runtime/current_run.h"
#include "runtime/installer_archive.h"
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

void SelectInitialLanguage(HWND list) {
  String word = UserLanguageWord();
  LRESULT at = word.IsEmpty() ? LB_ERR : SendMessageA(list, LB_SELECTSTRING, (WPARAM)-1, (LPARAM)word.CStr());
  if (at == LB_ERR) at = SendMessageA(list, LB_SELECTSTRING, (WPARAM)-1, (LPARAM) "English");
  if (at == LB_ERR) at = SendMessageA(list, LB_SETCURSEL, 0, 0) == LB_ERR ? LB_ERR : 0;
  CurrentRun().messages.SetCurrent(at == LB_ERR ? 0 : (int32_t)at);
}

class LanguageDialogBox : public Dialog {
 protected:
  BOOL OnInitDialog() override;
  BOOL OnCommand(WORD id, WORD code) override;

 private:
  void ApplyTexts();
  void Accept();
  void OnSelectionChange();
  LRESULT Selection() const { return SendMessageA(Item(IDC_LANGUAGE_LIST), LB_GETCURSEL, 0, 0); }
};

// Relabels the dialog in the current language.
void LanguageDialogBox::ApplyTexts() {
  if (!ProductFlag(CurrentRun(), kFlagKeepTitle)) CurrentRun().displayTitle = MessageText(CurrentRun(), kMsgDisplayTitle);
  SetDlgItemTextA(Handle(), IDC_DIALOG_OK, MessageText(CurrentRun(), kMsgOk));
  SetDlgItemTextA(Handle(), IDC_DIALOG_CANCEL, MessageText(CurrentRun(), kMsgCancel));
  if (CurrentRun().windows.background) InvalidateRect(CurrentRun().windows.background, nullptr, TRUE);
}

BOOL LanguageDialogBox::OnInitDialog() {
  HWND list = Item(IDC_LANGUAGE_LIST);
  const Array<String>& names = CurrentRun().archive.settings.languageNames;
  for (int32_t i = 0; i < names.Count(); ++i) SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)names[i].CStr());
  SelectInitialLanguage(list);
  ApplyTexts();
  CenterOnScreen(Handle());
  return TRUE;
}

// OK or a double click: the selection, kept within the languages, is the choice.
void LanguageDialogBox::Accept() {
  LRESULT selection = Selection();
  int32_t last = CurrentRun().archive.settings.LanguageCount() - 1;
  int32_t language = selection < 0 ? 0 : (selection > last ? last : (int32_t)selection);
  CurrentRun().messages.SetCurrent(language);
  End(kLanguageDialogOk);
}

void LanguageDialogBox::OnSelectionChange() {
  LRESULT selection = Selection();
  if (selection < 0 || selection >= CurrentRun().archive.settings.LanguageCount()) return;
  CurrentRun().messages.SetCurrent((int32_t)selection);
  ApplyTexts();
}

BOOL LanguageDialogBox::OnCommand(WORD id, WORD code) {
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

int LanguageDialog() {
  LanguageDialogBox dialog;
  INT_PTR result = dialog.RunModal(CurrentRun().instance, "LanguageDlg", CurrentRun().windows.background);
  return result == kLanguageDialogOk ? kLanguageDialogOk : kLanguageDialogCancel;
}
