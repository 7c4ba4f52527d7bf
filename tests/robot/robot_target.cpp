// robot-target: the practice program of the robot's self-test. Its dialog
// reports every action the robot takes (text changes, selections, answers)
// in labels the robot reads back, and its exit code tells which entry was
// chosen when the dialog closed. ANSI APIs throughout, like the runtime.
//
//   robot-target           the dialog; OK ends with 100 + selected entry
//                          (99 when none), Cancel with 2
//   robot-target box ...   first a task-modal error box whose text mixes
//                          CR LF, LF and a tab, then exit code 1
//   robot-target quiet ... no window at all, exit code 7
// The dialog's label 107 shows the command-line text the program was given.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

const char kBoxText[] = "First line\r\nSecond line\nTab\there";

int changes = 0;
const char* cmdText = "";

void SetLabel(HWND dlg, int id, const char* prefix, const char* value) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%s%s", prefix, value);
  SetDlgItemTextA(dlg, id, buf);
}

void SelectedItem(HWND dlg, int id, bool combo, char* out, int size) {
  HWND ctl = GetDlgItem(dlg, id);
  LRESULT i = SendMessageA(ctl, combo ? CB_GETCURSEL : LB_GETCURSEL, 0, 0);
  out[0] = 0;
  if (i < 0) return;
  LRESULT len = SendMessageA(ctl, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, i, 0);
  if (len < 0 || len >= size) return;
  SendMessageA(ctl, combo ? CB_GETLBTEXT : LB_GETTEXT, i, reinterpret_cast<LPARAM>(out));
}

void OnInit(HWND dlg) {
  static const char* const items[] = {"alpha", "beta", "g\xE4mma"};
  for (const char* s : items) SendDlgItemMessageA(dlg, 101, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
  static const char* const colours[] = {"red", "green"};
  for (const char* s : colours) SendDlgItemMessageA(dlg, 108, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
  SetDlgItemTextA(dlg, 107, cmdText);
}

void OnCommand(HWND dlg, int id, int code) {
  char item[256];
  char buf[512];
  switch (id) {
    case 100:
      if (code == EN_CHANGE) {
        std::snprintf(buf, sizeof buf, "%d", ++changes);
        SetLabel(dlg, 104, "changes: ", buf);
      }
      break;
    case 101:
      SelectedItem(dlg, 101, false, item, sizeof item);
      if (code == LBN_SELCHANGE) SetLabel(dlg, 105, "selected: ", item);
      if (code == LBN_DBLCLK) {
        std::snprintf(buf, sizeof buf, "You chose %s", item);
        int answer = MessageBoxA(dlg, buf, "Robot Choice", MB_OKCANCEL);
        std::snprintf(buf, sizeof buf, "%d", answer);
        SetLabel(dlg, 106, "answer: ", buf);
      }
      break;
    case 108:
      if (code == CBN_SELCHANGE) {
        SelectedItem(dlg, 108, true, item, sizeof item);
        SetLabel(dlg, 109, "colour: ", item);
      }
      break;
    case 102: {
      char name[200];
      GetDlgItemTextA(dlg, 100, name, sizeof name);
      std::snprintf(buf, sizeof buf, "Name: %s\r\nLine two\nTab\there", name);
      int answer = MessageBoxA(dlg, buf, "Robot Box", MB_YESNO | MB_ICONQUESTION);
      std::snprintf(buf, sizeof buf, "%d", answer);
      SetLabel(dlg, 106, "answer: ", buf);
      break;
    }
    case 103:
      SetLabel(dlg, 106, "answer: ", "the disabled button was clicked");
      break;
    case IDOK:
      EndDialog(dlg, 100 + SendDlgItemMessageA(dlg, 101, LB_GETCURSEL, 0, 0));
      break;
    case IDCANCEL:
      EndDialog(dlg, 2);
      break;
  }
}

INT_PTR CALLBACK DialogProc(HWND dlg, UINT msg, WPARAM wp, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG:
      OnInit(dlg);
      return TRUE;
    case WM_COMMAND:
      OnCommand(dlg, LOWORD(wp), HIWORD(wp));
      return TRUE;
  }
  return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR cmdLine, int) {
  cmdText = cmdLine ? cmdLine : "";
  if (std::strncmp(cmdText, "quiet", 5) == 0) return 7;
  if (std::strncmp(cmdText, "box", 3) == 0) {
    MessageBoxA(nullptr, kBoxText, "Target Box", MB_TASKMODAL | MB_ICONERROR | MB_OK);
    return 1;
  }
  return static_cast<int>(DialogBoxParamA(instance, MAKEINTRESOURCEA(1), nullptr, DialogProc, 0));
}
