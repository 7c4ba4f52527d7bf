// The progress dialog in process, from the runtime's own template: its
// labels in an install and an uninstall run, the stage and status helpers,
// Cancel and its refusals, the owner of message boxes, and the exit path
// taking down the dialog before the background window.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>

#include "runtime/installer_archive.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "tests/win32/box_answerer.h"
#include "tests/win32/run_case.h"
#include "ui/background_window.h"
#include "ui/placement.h"
#include "ui/progress_dialog.h"

namespace {

constexpr int kHeading = 1009, kPlaceholder = 1007, kStatus = 1011, kCancel = 1003;

std::string ItemText(HWND dialog, int id) {
  char buffer[512] = {0};
  GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
  return buffer;
}

std::string Caption(HWND window) {
  char buffer[512] = {0};
  GetWindowTextA(window, buffer, sizeof buffer);
  return buffer;
}

HWND ProgressBar(HWND dialog) { return FindWindowExA(dialog, nullptr, PROGRESS_CLASSA, nullptr); }

class ProgressTest : public RunCase {
 protected:
  void SetUp() override {
    run.instance = GetModuleHandleA(nullptr);
    // Message n reads "mN"; message 8 carries printf directives of its own.
    Array<String> table;
    for (int i = 0; i < 72; ++i) {
      char text[16];
      snprintf(text, sizeof text, "m%d", i);
      table.Append(String(text));
    }
    table[8] = "100% sure %s %d";
    run.messages.Set(1, table);
  }
};

TEST_F(ProgressTest, InstallAndUninstallLabels) {
  const struct {
    bool uninstall;
    uint64_t flags;
    const char *caption, *heading;
    bool cancelEnabled;
  } cases[] = {
      {false, 0, "m54", "m39", true},
      {false, 1ull << 21, "m54", "m39", false},
      {true, 0, "m55", "m71", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.caption);
    run.options.uninstallMode = c.uninstall;
    run.productFlags = c.flags;
    ProgressDialog progress(run);
    progress.Create();
    HWND dialog = run.windows.dialog;
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog, progress.Handle());
    EXPECT_EQ(Caption(dialog), c.caption);
    EXPECT_EQ(ItemText(dialog, kHeading), c.heading);
    EXPECT_EQ(ItemText(dialog, kCancel), "m49");
    EXPECT_EQ(IsWindowEnabled(GetDlgItem(dialog, kCancel)) != FALSE, c.cancelEnabled);
  }
  // The window went with its object, and the run no longer names it.
  EXPECT_EQ(run.windows.dialog, nullptr);
}

TEST_F(ProgressTest, StageShowsTheMessageAsItIsAndMovesTheBar) {
  ProgressDialog progress(run);
  progress.Create();
  HWND dialog = run.windows.dialog;
  ASSERT_TRUE(dialog);
  HWND bar = ProgressBar(dialog);
  ASSERT_TRUE(bar);
  progress.SetStage(8, 37);
  EXPECT_EQ(ItemText(dialog, kStatus), "100% sure %s %d");
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 37);
  progress.SetStatus("%s: %d of %d", "file.txt", 3, 7);
  EXPECT_EQ(ItemText(dialog, kStatus), "file.txt: 3 of 7");
  progress.SetProgress(100);
  EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 100);
}

TEST_F(ProgressTest, TheBarCoversThePlaceholder) {
  ProgressDialog progress(run);
  progress.Create();
  HWND dialog = run.windows.dialog;
  ASSERT_TRUE(dialog);
  RECT frame, bar;
  ASSERT_TRUE(GetWindowRect(GetDlgItem(dialog, kPlaceholder), &frame));
  ASSERT_TRUE(GetWindowRect(ProgressBar(dialog), &bar));
  EXPECT_EQ(bar.left, frame.left - 1);
  EXPECT_EQ(bar.top, frame.top - 1);
  EXPECT_EQ(bar.right, frame.right + 2);
  EXPECT_EQ(bar.bottom, frame.bottom + 2);
}

TEST_F(ProgressTest, WithoutTheDialogTheHelpersOnlyPump) {
  ProgressDialog progress(run);  // never created, as in a silent run
  progress.SetStage(8, 50);
  progress.SetStatus("%d", 1);
  progress.SetProgress(10);
  progress.Close();
  EXPECT_EQ(progress.Handle(), nullptr);
  EXPECT_EQ(run.windows.dialog, nullptr);
}

// Closing takes the window down and lets go of it; the uninstall run closes
// its dialog the same way as the install run.
TEST_F(ProgressTest, CloseTakesTheDialogDownAndTheRunForgetsIt) {
  for (bool uninstall : {false, true}) {
    SCOPED_TRACE(uninstall ? "uninstall" : "install");
    run.options.uninstallMode = uninstall;
    ProgressDialog progress(run);
    progress.Create();
    HWND dialog = progress.Handle();
    ASSERT_TRUE(dialog);
    progress.Close();
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(progress.Handle(), nullptr);
    EXPECT_EQ(run.windows.dialog, nullptr);
    EXPECT_EQ(MessageOwner(run), nullptr);
    progress.SetProgress(50);  // the bar went with its dialog
  }
}

TEST_F(ProgressTest, MessageBoxOwnerFollowsTheWindows) {
  EXPECT_EQ(MessageOwner(run), nullptr);
  BackgroundWindow background(run);
  background.Create("Taskbar text", false);
  ASSERT_TRUE(run.windows.background);
  EXPECT_EQ(run.windows.background, background.Handle());
  EXPECT_EQ(Caption(run.windows.background), "Taskbar text");
  EXPECT_EQ(MessageOwner(run), run.windows.background);
  {
    ProgressDialog progress(run);
    progress.Create();
    ASSERT_TRUE(run.windows.dialog);
    EXPECT_EQ(GetWindow(run.windows.dialog, GW_OWNER), run.windows.background);
    EXPECT_EQ(MessageOwner(run), run.windows.dialog);
  }
  EXPECT_EQ(MessageOwner(run), run.windows.background);
}

// The window class is registered once per process: a second window finds
// it there. Each window leaves the run when it goes, by its object or by
// someone else destroying it.
TEST_F(ProgressTest, BackgroundWindowsComeAndGoWithTheirObjects) {
  HWND first = nullptr;
  {
    BackgroundWindow background(run);
    background.Create("first", false);
    first = background.Handle();
    ASSERT_TRUE(first);
    EXPECT_EQ(run.windows.background, first);
  }
  EXPECT_FALSE(IsWindow(first));
  EXPECT_EQ(run.windows.background, nullptr);

  BackgroundWindow second(run);
  second.Create("second", false);
  ASSERT_TRUE(second.Handle());
  EXPECT_EQ(Caption(second.Handle()), "second");
  EXPECT_EQ(run.windows.background, second.Handle());
  DestroyWindow(second.Handle());
  EXPECT_EQ(second.Handle(), nullptr);
  EXPECT_EQ(run.windows.background, nullptr);
  second.Repaint();  // nothing left to repaint
}

// A click of Cancel asks; with flag bit 21 it does not, even when the
// command reaches the dialog; Escape never asks.
TEST_F(ProgressTest, CancelAsksOnlyForTheButtonItself) {
  const struct {
    const char* what;
    uint64_t flags;
    bool fromButton;
    bool asks;
  } cases[] = {
      {"Cancel clicked", 0, true, true},
      {"Cancel with flag bit 21", 1ull << 21, true, false},
      {"Escape", 0, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    run.productFlags = c.flags;
    ProgressDialog progress(run);
    progress.Create();
    HWND dialog = run.windows.dialog;
    ASSERT_TRUE(dialog);
    BoxAnswerer answer(IDNO, c.asks ? 5000 : 800);
    if (c.fromButton)
      SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(kCancel, BN_CLICKED), (LPARAM)GetDlgItem(dialog, kCancel));
    else
      SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    answer.Join();
    EXPECT_EQ(answer.Seen(), c.asks);
    if (c.asks) {
      EXPECT_EQ(answer.Body(), "m28");
      EXPECT_EQ(answer.Caption(), "m20");
      EXPECT_EQ(answer.Owner(), dialog);
    }
  }
}

// ----------------------------------------------------------- items of a loop

// Counts the status line's texts and the bar's positions as they arrive.
struct RefreshCounter {
  static WNDPROC statusProc, barProc;
  static int statusTexts, barPositions;
  static LRESULT CALLBACK Status(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT) ++statusTexts;
    return CallWindowProcA(statusProc, window, message, wParam, lParam);
  }
  static LRESULT CALLBACK Bar(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PBM_SETPOS) ++barPositions;
    return CallWindowProcA(barProc, window, message, wParam, lParam);
  }
  static void Attach(HWND dialog) {
    statusTexts = barPositions = 0;
    statusProc = (WNDPROC)SetWindowLongPtrA(GetDlgItem(dialog, kStatus), GWLP_WNDPROC, (LONG_PTR)&Status);
    barProc = (WNDPROC)SetWindowLongPtrA(ProgressBar(dialog), GWLP_WNDPROC, (LONG_PTR)&Bar);
  }
};
WNDPROC RefreshCounter::statusProc, RefreshCounter::barProc;
int RefreshCounter::statusTexts, RefreshCounter::barPositions;

// Items that take a millisecond each refresh the line only as often as the
// clock allows, the bar once per position, and the dialog still ends on the
// last item.
TEST_F(ProgressTest, ItemsRefreshTheDialogByTimeAndEndOnTheLastItem) {
  ProgressDialog progressDialog(run);
  progressDialog.Create();
  HWND dialog = run.windows.dialog;
  ASSERT_TRUE(dialog);
  RefreshCounter::Attach(dialog);
  constexpr int kItems = 400;
  const DWORD start = GetTickCount();
  {
    ItemProgress progress(progressDialog);
    for (int i = 0; i < kItems; ++i) {
      progress.Advance(45 + i * 40 / kItems);
      Sleep(1);
      char line[32];
      snprintf(line, sizeof line, "item %d", i);
      progress.Status(String(line));
    }
    progress.Finish();
  }
  const DWORD elapsed = GetTickCount() - start;
  ASSERT_GE(elapsed, 4 * ItemProgress::kItemRefreshMs);
  EXPECT_EQ(ItemText(dialog, kStatus), "item 399");
  EXPECT_EQ(SendMessageA(ProgressBar(dialog), PBM_GETPOS, 0, 0), 84);
  EXPECT_EQ(RefreshCounter::barPositions, 40);
  // The first line at once, then at most one per interval, and the last:
  // the line moves during the run, not only at its end.
  EXPECT_GE(RefreshCounter::statusTexts, 3);
  EXPECT_LE(RefreshCounter::statusTexts, (int)(elapsed / ItemProgress::kItemRefreshMs) + 2);
}

// A Cancel click that arrives while the items run is handled within the loop,
// though the bar stays where it is and no line is shown (flag bit 49).
TEST_F(ProgressTest, ItemsKeepCancelAnswered) {
  ProgressDialog progressDialog(run);
  progressDialog.Create();
  HWND dialog = run.windows.dialog;
  ASSERT_TRUE(dialog);
  ItemProgress progress(progressDialog);
  progress.Advance(50);
  BoxAnswerer answer(IDNO, 5000);
  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(kCancel, BN_CLICKED), (LPARAM)GetDlgItem(dialog, kCancel));
  const DWORD start = GetTickCount();
  while (!answer.Seen() && GetTickCount() - start < 3000) {
    progress.Advance(50);  // the same position and no lines: only a due refresh pumps
  }
  answer.Join();
  EXPECT_TRUE(answer.Seen());
  EXPECT_EQ(answer.Body(), "m28");
}

// Reports on stderr what happens to a window, so a death test can read it.
WNDPROC g_previousProcs[2];
const char* const kNames[2] = {"dialog", "background"};

template <int N>
LRESULT CALLBACK Logging(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) fprintf(stderr, "destroyed %s\n", kNames[N]);
  if (message == WM_SIZE && wParam == SIZE_MINIMIZED) fprintf(stderr, "minimised %s\n", kNames[N]);
  fflush(stderr);
  return CallWindowProcA(g_previousProcs[N], window, message, wParam, lParam);
}

TEST_F(ProgressTest, TheExitPathTakesDownTheDialogThenTheBackground) {
  EXPECT_EXIT(
      {
        BackgroundWindow background(run);
        background.Create("", false);
        ProgressDialog progress(run);
        progress.Create();
        g_previousProcs[0] =
            (WNDPROC)SetWindowLongPtrA(run.windows.dialog, GWLP_WNDPROC, (LONG_PTR)(WNDPROC)Logging<0>);
        g_previousProcs[1] =
            (WNDPROC)SetWindowLongPtrA(run.windows.background, GWLP_WNDPROC, (LONG_PTR)(WNDPROC)Logging<1>);
        EndProcess(run);
      },
      ::testing::ExitedWithCode(1), "destroyed dialog\\s+minimised background\\s+destroyed background");
}

// ----------------------------------------------------------- placement

HWND Popup(int width, int height) {
  return CreateWindowExA(0, "STATIC", "", WS_POPUP, 10, 20, width, height, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

RECT Rect(HWND window) {
  RECT r = {};
  GetWindowRect(window, &r);
  return r;
}

TEST(Placement, CenterOnScreenCutsAWindowDownToTheScreen) {
  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  const struct {
    int width, height;
    RECT expected;
  } cases[] = {
      {200, 100, {(sw - 200) / 2, (sh - 100) / 2, (sw - 200) / 2 + 200, (sh - 100) / 2 + 100}},
      {sw + 500, 100, {0, (sh - 100) / 2, sw, (sh - 100) / 2 + 100}},
      {sw * 3, sh * 2, {0, 0, sw, sh}},
  };
  for (const auto& c : cases) {
    HWND w = Popup(c.width, c.height);
    ASSERT_TRUE(w);
    CenterOnScreen(w);
    RECT r = Rect(w);
    EXPECT_EQ(r.left, c.expected.left);
    EXPECT_EQ(r.top, c.expected.top);
    EXPECT_EQ(r.right, c.expected.right);
    EXPECT_EQ(r.bottom, c.expected.bottom);
    DestroyWindow(w);
  }
}

TEST(Placement, ByDialogPosition) {
  const int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  const int w = 300, h = 100, cx = (sw - w) / 2, cy = (sh - h) / 2;
  const struct {
    uint32_t position;
    int x, y;
  } cases[] = {{0, cx, cy},          {1, 0, 0},           {2, cx, 0},      {3, sw - w, 0},
               {4, 0, sh - h},      {5, cx, sh - h},     {6, sw - w, sh - h}, {7, 0, cy},
               {8, sw - w, cy},     {9, 10, 20},         {0xFFFFFFFFu, 10, 20}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.position);
    HWND window = Popup(w, h);
    PlaceByDialogPosition(window, c.position);
    RECT r = Rect(window);
    EXPECT_EQ(r.left, c.x);
    EXPECT_EQ(r.top, c.y);
    EXPECT_EQ(r.right - r.left, w);
    DestroyWindow(window);
  }
  // Larger than the screen: the top left corner stays on it.
  HWND big = Popup(sw + 100, sh + 100);
  PlaceByDialogPosition(big, 6);
  EXPECT_EQ(Rect(big).left, 0);
  EXPECT_EQ(Rect(big).top, 0);
  DestroyWindow(big);
}

}  // namespace
