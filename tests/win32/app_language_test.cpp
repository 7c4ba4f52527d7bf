// The dialog base and the language step in process, from the runtime's own
// template: the dialog object reaches its handlers through the creation
// parameter and the window data, and the keep-title flag keeps the
// background's title in the table's first language after the choice too.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/archive_run.h"
#include "runtime/installer_archive.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "tests/win32/run_case.h"
#include "ui/background_window.h"
#include "ui/dialog.h"
#include "ui/dialog_ids.h"

namespace {

constexpr DWORD kWaitMs = 20000;

std::string ItemText(HWND dialog, int id) {
  char buffer[256] = {0};
  GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
  return buffer;
}

struct DialogSearch {
  DWORD process;
  HWND found;
};

BOOL CALLBACK VisitWindow(HWND window, LPARAM param) {
  DialogSearch* search = reinterpret_cast<DialogSearch*>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char cls[64];
  if (process == search->process && IsWindowVisible(window) && GetClassNameA(window, cls, sizeof cls) &&
      strcmp(cls, "#32770") == 0 && GetDlgItem(window, IDC_LANGUAGE_LIST)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

// A thread that waits for this process's language dialog and runs steps on
// it (messages sent to the dialog run on the dialog's own thread, so what
// they change is visible here when SendMessage returns).
class DialogDriver {
 public:
  using Steps = void (*)(HWND dialog, DialogDriver& driver);
  explicit DialogDriver(Steps steps) : steps_(steps) {
    thread_ = CreateThread(nullptr, 0, &DialogDriver::Run, this, 0, nullptr);
  }
  ~DialogDriver() { Join(); }
  void Join() {
    if (thread_) {
      WaitForSingleObject(thread_, INFINITE);
      CloseHandle(thread_);
      thread_ = nullptr;
    }
  }
  bool found = false;
  std::string okWhileEnglish, okWhileGerman, titleWhileGerman;
  const Run* run = nullptr;  // the run whose title the steps read

 private:
  static DWORD WINAPI Run(void* self) {
    DialogDriver& d = *static_cast<DialogDriver*>(self);
    DialogSearch search = {GetCurrentProcessId(), nullptr};
    for (DWORD start = GetTickCount(); !search.found && GetTickCount() - start < kWaitMs;) {
      EnumWindows(&VisitWindow, reinterpret_cast<LPARAM>(&search));
      if (!search.found) Sleep(20);
    }
    if (!search.found) return 0;
    d.found = true;
    d.steps_(search.found, d);
    return 0;
  }
  Steps steps_;
  HANDLE thread_ = nullptr;
};

// Selects list entry index as a user would: the selection, then the
// notification the list sends its parent.
void SelectLanguage(HWND dialog, int index) {
  HWND list = GetDlgItem(dialog, IDC_LANGUAGE_LIST);
  SendMessageA(list, LB_SETCURSEL, (WPARAM)index, 0);
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_LANGUAGE_LIST, LBN_SELCHANGE), (LPARAM)list);
}

void BrowseToGermanAndAccept(HWND dialog, DialogDriver& d) {
  SelectLanguage(dialog, 0);
  d.okWhileEnglish = ItemText(dialog, IDC_DIALOG_OK);
  SelectLanguage(dialog, 1);
  d.okWhileGerman = ItemText(dialog, IDC_DIALOG_OK);
  d.titleWhileGerman = d.run->displayTitle.CStr();
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_DIALOG_OK, BN_CLICKED), (LPARAM)GetDlgItem(dialog, IDC_DIALOG_OK));
}

// A run with two languages; keepTitle sets the keep-title flag.
void PrepareRun(Run& run, bool keepTitle) {
  run.instance = GetModuleHandleA(nullptr);
  ArchiveSettings& s = run.archive.settings;
  s.languageNames.Append(String("English"));
  s.languageNames.Append(String("Deutsch"));
  // Two languages, row-major: message n of language l at n * 2 + l.
  Array<String> table;
  for (int n = 0; n < 50; ++n) {
    table.Append(String(n == 0 ? "Title EN" : n == 48 ? "Next" : n == 49 ? "Stop" : ""));
    table.Append(String(n == 0 ? "Titel DE" : n == 48 ? "Weiter" : n == 49 ? "Abbrechen" : ""));
  }
  run.messages.Set(2, table);
  run.productFlags = keepTitle ? (1ull << kFlagKeepTitle) : 0;
}

TEST(LanguageStepTest, TheChoiceRelabelsAndSetsTheTitleUnlessTheTitleIsKept) {
  struct Case {
    bool keepTitle;
    const char* titleWhileBrowsing;
    const char* titleAfter;
  };
  const Case cases[] = {
      {false, "Titel DE", "Titel DE"},
      {true, "Title EN", "Title EN"},
  };
  for (const Case& c : cases) {
    AttachedRun attached;
    ::Run& run = attached.run;
    PrepareRun(run, c.keepTitle);
    DialogDriver driver(&BrowseToGermanAndAccept);
    driver.run = &run;
    BackgroundWindow background(run);
    ChooseLanguage(run, background);  // returns once the driver pressed OK
    driver.Join();
    ASSERT_TRUE(driver.found) << "keep title " << c.keepTitle;
    // The handlers reached the dialog's object: the buttons follow the browsing.
    EXPECT_EQ(driver.okWhileEnglish, "Next");
    EXPECT_EQ(driver.okWhileGerman, "Weiter");
    EXPECT_EQ(driver.titleWhileGerman, c.titleWhileBrowsing) << "keep title " << c.keepTitle;
    // The choice is the current language; the title lasts as the flag says.
    EXPECT_STREQ(MessageText(run, 48), "Weiter");
    EXPECT_STREQ(run.displayTitle.CStr(), c.titleAfter) << "keep title " << c.keepTitle;
  }
}

TEST(LanguageStepTest, AutomaticModeKeepsTheStartingLanguageWithoutADialog) {
  for (bool keep : {false, true}) {
    AttachedRun attached;
    ::Run& run = attached.run;
    PrepareRun(run, keep);
    run.options.automaticMode = true;
    BackgroundWindow background(run);
    ChooseLanguage(run, background);
    EXPECT_STREQ(MessageText(run, 48), "Next");
    EXPECT_STREQ(run.displayTitle.CStr(), "Title EN") << "keep title " << keep;
  }
}

// Dialogs of the test program's own templates.
class DialogBase : public RunCase {
 protected:
  void SetUp() override { run.instance = GetModuleHandleA(nullptr); }
};

// A dialog of the base class: what its handlers saw, from the inside.
class ProbeDialog : public Dialog {
 public:
  HWND seenAtInit = nullptr;
  int commands = 0;  // button clicks (the list's focus notifications not counted)
  bool otherMessages = false;

 protected:
  BOOL OnInitDialog() override {
    seenAtInit = Handle();
    PostMessageA(Handle(), WM_COMMAND, MAKEWPARAM(IDC_DIALOG_CANCEL, BN_CLICKED), 0);
    return TRUE;
  }
  BOOL OnCommand(WORD id, WORD, HWND) override {
    if (id != IDC_DIALOG_OK && id != IDC_DIALOG_CANCEL) return FALSE;
    ++commands;
    if (id == IDC_DIALOG_CANCEL) End(4242);
    return TRUE;
  }
  INT_PTR OnMessage(UINT, WPARAM, LPARAM) override {
    otherMessages = true;
    return FALSE;
  }
};

TEST_F(DialogBase, TheObjectTravelsWithTheWindowAndLetsGoOfItAtTheEnd) {
  ProbeDialog dialog;
  EXPECT_EQ(dialog.RunModal(run, "LanguageDlg"), 4242);
  EXPECT_NE(dialog.seenAtInit, nullptr);
  EXPECT_FALSE(IsWindow(dialog.seenAtInit));
  EXPECT_EQ(dialog.commands, 1);
  EXPECT_TRUE(dialog.otherMessages);
  EXPECT_EQ(dialog.Handle(), nullptr);  // cleared when the window went
}

TEST_F(DialogBase, AMissingTemplateIsReportedAndRunsNoHandler) {
  ProbeDialog dialog;
  EXPECT_EQ(dialog.RunModal(run, "NoSuchDlg"), -1);
  EXPECT_EQ(dialog.seenAtInit, nullptr);
  EXPECT_EQ(dialog.commands, 0);
  EXPECT_EQ(dialog.CreateModeless(run, "NoSuchDlg"), nullptr);
  EXPECT_EQ(dialog.Handle(), nullptr);
}

TEST_F(DialogBase, AModelessDialogAnswersThroughItsObjectUntilDestroyed) {
  ProbeDialog dialog;
  HWND window = dialog.CreateModeless(run, "LanguageDlg");
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(dialog.Handle(), window);
  EXPECT_EQ(dialog.seenAtInit, window);
  SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_DIALOG_OK, BN_CLICKED), 0);
  EXPECT_EQ(dialog.commands, 1);
  DestroyWindow(window);
  EXPECT_EQ(dialog.Handle(), nullptr);
  // Messages to the dead window no longer reach the object.
  SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_DIALOG_OK, BN_CLICKED), 0);
  EXPECT_EQ(dialog.commands, 1);
}

}  // namespace
