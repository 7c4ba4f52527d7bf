// A thread of a Win32 test that waits for a message box of this process,
// reads its caption and text the way the UI robot does (class #32770, text
// in the static with id 0xFFFF) and presses a button.
#pragma once
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <functional>
#include <string>

class BoxAnswerer {
 public:
  // beforeAnswer, when given, runs on the answering thread once the box has
  // been read and before the button is pressed (for example to report what
  // was seen from inside a death test, whose process ends with the box).
  using Hook = std::function<void(const BoxAnswerer&)>;
  BoxAnswerer(int button, DWORD timeoutMs, Hook beforeAnswer = Hook())
      : button_(button), timeout_(timeoutMs), beforeAnswer_(static_cast<Hook&&>(beforeAnswer)) {
    thread_ = CreateThread(nullptr, 0, &BoxAnswerer::Run, this, 0, nullptr);
  }
  ~BoxAnswerer() { Join(); }
  BoxAnswerer(const BoxAnswerer&) = delete;
  BoxAnswerer& operator=(const BoxAnswerer&) = delete;

  // Waits until a box was answered or the time ran out.
  void Join() {
    if (thread_) {
      WaitForSingleObject(thread_, INFINITE);
      CloseHandle(thread_);
      thread_ = nullptr;
    }
  }
  bool Seen() const { return seen_; }
  const std::string& Caption() const { return caption_; }
  const std::string& Body() const { return body_; }
  HWND Owner() const { return owner_; }  // the box's owner window, null for none

 private:
  struct Search {
    DWORD process;
    HWND found;
  };
  static BOOL CALLBACK Visit(HWND window, LPARAM param) {
    Search* search = reinterpret_cast<Search*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char cls[64];
    if (process == search->process && GetClassNameA(window, cls, sizeof cls) && strcmp(cls, "#32770") == 0 &&
        GetDlgItem(window, 0xFFFF)) {
      search->found = window;
      return FALSE;
    }
    return TRUE;
  }
  static DWORD WINAPI Run(void* self) {
    static_cast<BoxAnswerer*>(self)->Answer();
    return 0;
  }
  void Answer() {
    DWORD start = GetTickCount();
    Search search = {GetCurrentProcessId(), nullptr};
    while (!search.found && GetTickCount() - start < timeout_) {
      EnumWindows(&BoxAnswerer::Visit, reinterpret_cast<LPARAM>(&search));
      if (!search.found) Sleep(20);
    }
    if (!search.found) return;
    char buffer[4096];
    GetWindowTextA(search.found, buffer, sizeof buffer);
    caption_ = buffer;
    GetDlgItemTextA(search.found, 0xFFFF, buffer, sizeof buffer);
    body_ = buffer;
    owner_ = GetWindow(search.found, GW_OWNER);
    seen_ = true;
    if (beforeAnswer_) beforeAnswer_(*this);
    PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(button_, BN_CLICKED),
                 (LPARAM)GetDlgItem(search.found, button_));
  }

  int button_;
  DWORD timeout_;
  Hook beforeAnswer_;
  HANDLE thread_ = nullptr;
  volatile bool seen_ = false;
  std::string caption_, body_;
  HWND owner_ = nullptr;
};

// The hook of a child process whose box ends it (a fatal error): the box's
// caption and text go to stderr as "caption=...\ntext=...\n" for the parent.
inline void PrintBoxToStderr(const BoxAnswerer& b) {
  fprintf(stderr, "caption=%s\ntext=%s\n", b.Caption().c_str(), b.Body().c_str());
  fflush(stderr);
}
