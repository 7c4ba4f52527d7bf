#include "ui/language_dialog.h"

#include <windows.h>

#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "ui/dialog.h"
#include "ui/dialog_ids.h"

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

const DialogLayout kLanguageLayout = {"LanguageDlg", {{IDC_DIALOG_OK, kMsgOk}, {IDC_DIALOG_CANCEL, kMsgCancel}}, 0};

class LanguageDialogBox : public FlowDialog {
 public:
  explicit LanguageDialogBox(Run& run) : FlowDialog(run, kLanguageLayout) {}

 protected:
  void OnSetup() override;
  bool OnAccept() override;
  BOOL OnItem(WORD id, WORD code) override;

 private:
  void Relabel();
  LRESULT Selection() const { return SendMessageA(Item(IDC_LANGUAGE_LIST), LB_GETCURSEL, 0, 0); }
  int32_t LanguageCount() const { return run_.archive.settings.LanguageCount(); }
};

// The title and the background window in the current language; the buttons
// follow from the layout.
void LanguageDialogBox::Relabel() {
  if (!ProductFlag(run_, kFlagKeepTitle)) run_.displayTitle = MessageText(run_, kMsgDisplayTitle);
  if (run_.windows.background) InvalidateRect(run_.windows.background, nullptr, TRUE);
}

void LanguageDialogBox::OnSetup() {
  HWND list = Item(IDC_LANGUAGE_LIST);
  const Array<String>& names = run_.archive.settings.languageNames;
  for (int32_t i = 0; i < names.Count(); ++i) SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)names[i].CStr());
  SelectInitialLanguage(run_.messages, list);
  Relabel();
}

// OK or a double click: the selection, kept within the languages, is the choice.
bool LanguageDialogBox::OnAccept() {
  LRESULT selection = Selection();
  int32_t last = LanguageCount() - 1;
  int32_t language = selection < 0 ? 0 : (selection > last ? last : (int32_t)selection);
  run_.messages.SetCurrent(language);
  return true;
}

BOOL LanguageDialogBox::OnItem(WORD id, WORD code) {
  if (id != IDC_LANGUAGE_LIST) return FALSE;
  if (code == LBN_SELCHANGE) {
    LRESULT selection = Selection();
    if (selection >= 0 && selection < LanguageCount()) {
      run_.messages.SetCurrent((int32_t)selection);
      Relabel();
      SetTexts();
    }
  }
  if (code == LBN_DBLCLK) Accept();
  return TRUE;
}

}  // namespace

int LanguageDialog(Run& run) {
  LanguageDialogBox dialog(run);
  return dialog.Show() ? kLanguageDialogOk : kLanguageDialogCancel;
}
