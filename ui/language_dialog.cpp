#include "ui/language_dialog.h"

#include <windows.h>

#include "runtime/installer_archive.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "ui/dialog_ids.h"
#include "ui/placement.h"

namespace {

constexpr int kMsgOkButton = 48;
constexpr int kMsgCancelButton = 49;
constexpr int kFlagKeepTitle = 42;  // the title stays message 0 of the first language

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

// Relabels the dialog in the current language.
void ApplyTexts(HWND dialog) {
  if (!ProductFlag(kFlagKeepTitle)) g_displayTitle = MessageText(kMsgDisplayTitle);
  SetDlgItemTextA(dialog, IDC_DIALOG_OK, MessageText(kMsgOkButton));
  SetDlgItemTextA(dialog, IDC_DIALOG_CANCEL, MessageText(kMsgCancelButton));
  if (g_backgroundWindow) InvalidateRect(g_backgroundWindow, nullptr, TRUE);
}

void SelectInitialLanguage(HWND list) {
  String word = UserLanguageWord();
  LRESULT at = word.IsEmpty() ? LB_ERR : SendMessageA(list, LB_SELECTSTRING, (WPARAM)-1, (LPARAM)word.CStr());
  if (at == LB_ERR) at = SendMessageA(list, LB_SELECTSTRING, (WPARAM)-1, (LPARAM) "English");
  if (at == LB_ERR) at = SendMessageA(list, LB_SETCURSEL, 0, 0) == LB_ERR ? LB_ERR : 0;
  SetCurrentLanguage(at == LB_ERR ? 0 : (int32_t)at);
}

BOOL OnInitDialog(HWND dialog) {
  HWND list = GetDlgItem(dialog, IDC_LANGUAGE_LIST);
  const Array<String>& names = g_archive.settings.languageNames;
  for (int32_t i = 0; i < names.Count(); ++i) SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)names[i].CStr());
  SelectInitialLanguage(list);
  ApplyTexts(dialog);
  CenterOnScreen(dialog);
  return TRUE;
}

// OK or a double click: the selection, kept within the languages, is the choice.
void Accept(HWND dialog) {
  LRESULT selection = SendDlgItemMessageA(dialog, IDC_LANGUAGE_LIST, LB_GETCURSEL, 0, 0);
  int32_t last = g_archive.settings.LanguageCount() - 1;
  int32_t language = selection < 0 ? 0 : (selection > last ? last : (int32_t)selection);
  SetCurrentLanguage(language);
  EndDialog(dialog, kLanguageDialogOk);
}

void OnSelectionChange(HWND dialog) {
  LRESULT selection = SendDlgItemMessageA(dialog, IDC_LANGUAGE_LIST, LB_GETCURSEL, 0, 0);
  if (selection < 0 || selection >= g_archive.settings.LanguageCount()) return;
  SetCurrentLanguage((int32_t)selection);
  ApplyTexts(dialog);
}

BOOL OnCommand(HWND dialog, WPARAM wParam) {
  switch (LOWORD(wParam)) {
    case IDC_LANGUAGE_LIST:
      if (HIWORD(wParam) == LBN_SELCHANGE) OnSelectionChange(dialog);
      if (HIWORD(wParam) == LBN_DBLCLK) Accept(dialog);
      return TRUE;
    case IDC_DIALOG_OK:
      Accept(dialog);
      return TRUE;
    case IDC_DIALOG_CANCEL:
    case IDCANCEL:
      EndDialog(dialog, kLanguageDialogCancel);
      return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK LanguageDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog);
    case WM_COMMAND:
      return OnCommand(dialog, wParam);
  }
  return FALSE;
}

}  // namespace

int LanguageDialog() {
  INT_PTR result = DialogBoxParamA(g_instance, "LanguageDlg", g_backgroundWindow, LanguageDialogProc, 0);
  return result == kLanguageDialogOk ? kLanguageDialogOk : kLanguageDialogCancel;
}
