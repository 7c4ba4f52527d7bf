// trux-robot: drives the windows of a program under test from another process
// of the same Wine prefix (or the same Windows desktop), the way a person would:
// it waits for windows and message boxes, reads their controls, types into
// edits, picks list entries, clicks buttons and answers boxes.
//
// The command line is a script of steps run in order; see kUsageText below. The
// robot stops at the first step that fails, says why on stderr, and exits with
//   0  every step succeeded
//   2  the robot's own command line is wrong
//   3  a wait timed out
//   4  a window or control is missing, or refused the action (disabled)
//   5  an expectation failed (exit code, box text)
//
// Only data a script asked for goes to stdout; the bytes are written with
// WriteFile, so no CR is added before LF. Texts are printed in one of three
// forms: by default CR LF becomes LF (for people); --escaped writes one line
// with \r \n \t \\ and \xNN escapes, so a script can tell CR LF from a bare
// LF and compare exactly; --raw writes the bytes as they are.
//
// Texts are read as UTF-16 (Wine answers cross-process ANSI queries of some
// controls with UTF-16) and converted to the ANSI code page, which is what the
// program under test wrote. Texts the robot is given (set-text, expect-text,
// select =ITEM, --reject) take the same escapes, so bytes beyond ASCII are
// written \xNN in the ANSI code page; start --args TEXT is passed unescaped.

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shlobj.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum Exit { kOk = 0, kUsage = 2, kTimeout = 3, kMissing = 4, kExpect = 5 };

const char kUsageText[] =
    "usage: trux-robot STEP [STEP ...]\n"
    "Steps run in order; the first failure ends the robot (exit 3 timeout,\n"
    "4 missing or disabled control, 5 failed expectation, 2 bad usage).\n"
    "\n"
    "  start PROGRAM [--args TEXT]\n"
    "                            start PROGRAM (a Windows path, or a Unix path\n"
    "                            taken as Z:PATH); its command line is exactly\n"
    "                            \"PROGRAM\" TEXT (TEXT is not re-quoted).\n"
    "                            Later waits only see this process's windows.\n"
    "  start PROGRAM --command-line TEXT\n"
    "                            start PROGRAM with TEXT as its whole command\n"
    "                            line (its first token need not name PROGRAM);\n"
    "                            PROGRAM - lets the system find the program in\n"
    "                            TEXT, as it does for an Uninstall entry.\n"
    "  wait-window TEXT [--exact] [--timeout S]\n"
    "                            wait for a visible top-level window whose\n"
    "                            caption contains (or equals) TEXT\n"
    "  wait-box [--caption TEXT] [--timeout S]\n"
    "                            wait for a visible message box\n"
    "  no-box [--for S]          fail if a message box appears within S seconds\n"
    "  print                     the current window and its controls\n"
    "  print-caption [--escaped] the current window's caption\n"
    "  print-text [ID] [--raw|--escaped]\n"
    "                            the text of control ID (default 65535, a message\n"
    "                            box's text); default form turns CR LF into LF\n"
    "  print-items ID            the entries of a list box or combo box\n"
    "  expect-text [ID] TEXT     fail unless the control's text equals TEXT (within 3 s)\n"
    "                            (TEXT may use \\r \\n \\t \\\\ \\xNN)\n"
    "  expect-enabled ID yes|no  fail unless control ID is enabled (yes) or\n"
    "                            disabled (no) (within 3 s)\n"
    "  set-text ID TEXT          WM_SETTEXT to an edit (TEXT unescaped as above)\n"
    "  select ID INDEX|=ITEM     select a list/combo entry and notify the dialog\n"
    "  dblclick ID INDEX|=ITEM   select a list entry and post LBN_DBLCLK\n"
    "  click ID                  post BM_CLICK to an enabled button\n"
    "  answer ID [--timeout S]   click button ID of the current box and wait\n"
    "                            until the box is gone\n"
    "  wait-gone [--timeout S]   wait until the current window is destroyed\n"
    "  wait-exit [--timeout S] [--expect N] [--print]\n"
    "                            wait for the started process to end\n"
    "  until-exit [--timeout S] [--answer ID] [--reject TEXT] [--expect N] [--no-window]\n"
    "                            until the started process ends: print every box\n"
    "                            it shows (caption line, escaped text line) and\n"
    "                            answer it with ID (default 1); --reject fails\n"
    "                            at once on a box whose text contains TEXT;\n"
    "                            --no-window fails at once on any visible window\n"
    "                            of the process (a silent run shows none)\n"
    "  until-exit --report [--timeout S] [--expect N]\n"
    "                            the same for every box and every dialog (a\n"
    "                            dialog window without a progress bar), each\n"
    "                            answered with its default button; each prints\n"
    "                            \"box CAPTION\" or \"dialog CAPTION\", \"text TEXT\"\n"
    "                            (a dialog's labels joined by \\n), one line\n"
    "                            \"button ID TEXT\" per push button, \"default ID\"\n"
    "                            (0: none) and \"answer ID\", texts escaped\n"
    "      --press CAPTION=LABEL answer the window captioned CAPTION with the\n"
    "                            push button labelled LABEL (& marks ignored)\n"
    "      --list-entry N        in a dialog with a list box, choose entry N\n"
    "                            (1-based) before answering\n"
    "      --shots DIR           before answering window K (1, 2, ...), print\n"
    "                            \"rect L T R B\", create DIR\\K.ready and wait\n"
    "                            (up to a minute) until DIR\\K.done exists, so\n"
    "                            that another program can take a screenshot\n"
    "  wait-class CLASS [--timeout S]\n"
    "                            wait for a visible top-level window of the\n"
    "                            window class CLASS (exactly)\n"
    "  print-rect [ID]           the screen rectangle of the current window (or\n"
    "                            of its control ID): left top right bottom\n"
    "  print-screen              the screen's width and height\n"
    "  print-owner               the current window's owner: none, or its class\n"
    "                            and caption\n"
    "  print-state               the current window's state: zoomed=0|1 iconic=0|1\n"
    "  print-progress            the position of the current window's progress\n"
    "                            bar (PBM_GETPOS)\n"
    "  hold-file PATH            open PATH (a Windows path) without sharing and keep it\n"
    "                            open until the robot ends, as a running program would\n"
    "                            (or until the session ends, in await-end-session)\n"
    "  make-file PATH            create the empty file PATH (a Windows path; it must\n"
    "                            not exist): a signal for wait-file\n"
    "  await-end-session [--timeout S]\n"
    "                            wait, with a hidden top-level window, until the\n"
    "                            session ends (a restart); let go of the held files\n"
    "                            in WM_ENDSESSION and print \"session ended\"\n"
    "  wait-file PATH [--timeout S]\n"
    "                            wait until PATH (a Windows path) exists: a test\n"
    "                            holds the robot there until it has done its part\n"
    "  list                      every visible top-level window\n"
    "  print-trust PATH          WinVerifyTrust's verdict on the file PATH (a Windows\n"
    "                            path), without revocation checks: ok, no-signature,\n"
    "                            bad-digest, untrusted-root, or the code in hex\n"
    "  print-link PATH           a shell link (.lnk) read back through IShellLinkA:\n"
    "                            target, arguments, working directory, icon\n"
    "  sleep MS\n"
    "\n"
    "Waits default to 20 seconds; --any makes a wait see every process.\n";

const double kDefaultTimeout = 20.0;
const DWORD kPollMs = 50;
const UINT kSendTimeoutMs = 5000;

// ---------------------------------------------------------------- output

void Out(const std::string& s) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), s.data(), static_cast<DWORD>(s.size()), &written, nullptr);
}

void Err(const char* fmt, ...) {
  char buf[2048];
  va_list ap;
  va_start(ap, fmt);
  _vsnprintf(buf, sizeof buf - 2, fmt, ap);
  va_end(ap);
  buf[sizeof buf - 2] = 0;
  std::string s = std::string("trux-robot: ") + buf + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), s.data(), static_cast<DWORD>(s.size()), &written, nullptr);
}

// A text as one line: CR, LF, tab, backslash and other control bytes become
// C escapes, so a script can compare texts exactly, line breaks included.
std::string Escape(const std::string& s) {
  std::string r;
  for (unsigned char c : s) {
    switch (c) {
      case '\r': r += "\\r"; break;
      case '\n': r += "\\n"; break;
      case '\t': r += "\\t"; break;
      case '\\': r += "\\\\"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char b[8];
          std::snprintf(b, sizeof b, "\\x%02X", c);
          r += b;
        } else {
          r += static_cast<char>(c);
        }
    }
  }
  return r;
}

// The reverse of Escape for texts given on the robot's command line.
bool Unescape(const std::string& s, std::string* out) {
  out->clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') { *out += s[i]; continue; }
    if (++i >= s.size()) return false;
    switch (s[i]) {
      case 'r': *out += '\r'; break;
      case 'n': *out += '\n'; break;
      case 't': *out += '\t'; break;
      case '\\': *out += '\\'; break;
      case 'x': {
        if (i + 2 >= s.size()) return false;
        char hex[3] = {s[i + 1], s[i + 2], 0};
        char* end = nullptr;
        long v = std::strtol(hex, &end, 16);
        if (end != hex + 2) return false;
        *out += static_cast<char>(v);
        i += 2;
        break;
      }
      default: return false;
    }
  }
  return true;
}

std::string CrLfToLf(const std::string& s) {
  std::string r;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
    r += s[i];
  }
  return r;
}

// ---------------------------------------------------------------- text

std::string Narrow(const wchar_t* w, int len) {
  if (len <= 0) return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, w, len, nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, w, len, &s[0], n, nullptr, nullptr);
  return s;
}

std::wstring Widen(const std::string& s) {
  if (s.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
  return w;
}

// WM_GETTEXT works for controls of other processes (GetWindowText does not
// ask them); a timeout keeps a hung target from hanging the robot.
bool WindowText(HWND h, std::string* out) {
  DWORD_PTR len = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &len)) return false;
  std::vector<wchar_t> buf(len + 2);
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG,
                           kSendTimeoutMs, &got))
    return false;
  *out = Narrow(buf.data(), static_cast<int>(got));
  return true;
}

std::string ClassOf(HWND h) {
  wchar_t buf[256];
  int n = GetClassNameW(h, buf, 256);
  return Narrow(buf, n);
}

int IdOf(HWND h) { return GetDlgCtrlID(h) & 0xFFFF; }

bool IEquals(const std::string& a, const char* b) { return lstrcmpiA(a.c_str(), b) == 0; }

bool IsListBox(HWND h) { return IEquals(ClassOf(h), "ListBox"); }
bool IsComboBox(HWND h) { return IEquals(ClassOf(h), "ComboBox"); }

bool ListItems(HWND h, std::vector<std::string>* items) {
  bool combo = IsComboBox(h);
  if (!combo && !IsListBox(h)) return false;
  UINT msgCount = combo ? CB_GETCOUNT : LB_GETCOUNT;
  UINT msgLen = combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN;
  UINT msgText = combo ? CB_GETLBTEXT : LB_GETTEXT;
  DWORD_PTR count = 0;
  if (!SendMessageTimeoutW(h, msgCount, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &count)) return false;
  items->clear();
  for (int i = 0; i < static_cast<int>(count); ++i) {
    DWORD_PTR len = 0;
    SendMessageTimeoutW(h, msgLen, i, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &len);
    if (static_cast<LONG_PTR>(len) < 0) len = 0;
    std::vector<wchar_t> buf(len + 2);
    DWORD_PTR got = 0;
    SendMessageTimeoutW(h, msgText, i, reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG, kSendTimeoutMs,
                        &got);
    if (static_cast<LONG_PTR>(got) < 0) got = 0;
    items->push_back(Narrow(buf.data(), static_cast<int>(got)));
  }
  return true;
}

// ---------------------------------------------------------------- windows

struct Robot {
  PROCESS_INFORMATION proc{};
  bool started = false;
  HWND current = nullptr;
  std::string currentName;
  std::vector<HANDLE> held;  // hold-file's handles, let go when the session ends
  bool sessionEnded = false;
};

BOOL CALLBACK CollectWindow(HWND h, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(h);
  return TRUE;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> v;
  EnumChildWindows(parent, CollectWindow, reinterpret_cast<LPARAM>(&v));
  return v;
}

HWND ChildById(HWND parent, int id) {
  for (HWND h : Children(parent))
    if (GetParent(h) == parent && IdOf(h) == (id & 0xFFFF)) return h;
  return nullptr;
}

std::vector<HWND> TopLevel(const Robot& r, bool any) {
  std::vector<HWND> v;
  EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&v));
  std::vector<HWND> keep;
  for (HWND h : v) {
    if (!IsWindowVisible(h)) continue;
    if (r.started && !any) {
      DWORD pid = 0;
      GetWindowThreadProcessId(h, &pid);
      if (pid != r.proc.dwProcessId) continue;
    }
    keep.push_back(h);
  }
  return keep;
}

// A message box is a dialog (#32770) with the text static 0xFFFF whose other
// controls are statics and buttons with the standard answer ids (1 to 11).
// Dialogs of the program use 0xFFFF for their labels too, but they carry
// edits, lists or buttons with their own ids.
bool IsMessageBox(HWND h) {
  if (ClassOf(h) != "#32770") return false;
  bool text = false;
  for (HWND c : Children(h)) {
    if (GetParent(c) != h) continue;
    std::string cls = ClassOf(c);
    int id = IdOf(c);
    if (IEquals(cls, "Static")) {
      if (id == 0xFFFF) text = true;
    } else if (IEquals(cls, "Button")) {
      if (id < 1 || id > 11) return false;
    } else {
      return false;
    }
  }
  return text;
}

std::string Caption(HWND h) {
  std::string s;
  WindowText(h, &s);
  return s;
}

// ---------------------------------------------------------------- arguments

struct Args {
  std::vector<std::string> v;
  size_t i = 0;
  bool Done() const { return i >= v.size(); }
  // Steps end where the next step word begins; options start with "--".
  bool AtOption() const { return !Done() && v[i].rfind("--", 0) == 0; }
  const std::string& Peek() const { return v[i]; }
  std::string Take() { return v[i++]; }
};

bool ParseSeconds(const std::string& s, double* out) {
  char* end = nullptr;
  double d = std::strtod(s.c_str(), &end);
  if (s.empty() || *end || d < 0) return false;
  *out = d;
  return true;
}

bool ParseInt(const std::string& s, long* out) {
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 0);
  if (s.empty() || *end) return false;
  *out = v;
  return true;
}

struct Options {
  double timeout = kDefaultTimeout;
  bool exact = false;
  bool any = false;
  bool raw = false;
  bool escaped = false;
  bool print = false;
  bool noWindow = false;
  bool haveExpect = false;
  bool report = false;
  long expect = 0;
  long answer = IDOK;
  std::string caption;
  std::vector<std::string> reject;
  std::string shots;                  // --shots DIR
  std::vector<std::string> press;     // --press CAPTION=LABEL
  long listEntry = 0;                 // --list-entry N (1-based, 0: none)
};

// Reads the options that follow a step's positional arguments.
bool ReadOptions(Args& a, Options* o, const char* step) {
  while (a.AtOption()) {
    std::string opt = a.Take();
    auto value = [&](std::string* v) {
      if (a.Done()) { Err("%s: %s needs a value", step, opt.c_str()); return false; }
      *v = a.Take();
      return true;
    };
    std::string v;
    if (opt == "--exact") o->exact = true;
    else if (opt == "--any") o->any = true;
    else if (opt == "--raw") o->raw = true;
    else if (opt == "--escaped") o->escaped = true;
    else if (opt == "--print") o->print = true;
    else if (opt == "--no-window") o->noWindow = true;
    else if (opt == "--report") o->report = true;
    else if (opt == "--timeout" || opt == "--for") {
      if (!value(&v) || !ParseSeconds(v, &o->timeout)) { Err("%s: bad %s", step, opt.c_str()); return false; }
    } else if (opt == "--expect") {
      if (!value(&v) || !ParseInt(v, &o->expect)) { Err("%s: bad --expect", step); return false; }
      o->haveExpect = true;
    } else if (opt == "--answer") {
      if (!value(&v) || !ParseInt(v, &o->answer)) { Err("%s: bad --answer", step); return false; }
    } else if (opt == "--caption") {
      if (!value(&o->caption)) return false;
    } else if (opt == "--shots") {
      if (!value(&o->shots)) return false;
    } else if (opt == "--press") {
      if (!value(&v)) return false;
      std::string u;
      if (!Unescape(v, &u) || u.find('=') == std::string::npos) { Err("%s: --press takes CAPTION=LABEL", step); return false; }
      o->press.push_back(u);
    } else if (opt == "--list-entry") {
      if (!value(&v) || !ParseInt(v, &o->listEntry) || o->listEntry < 1) { Err("%s: bad --list-entry", step); return false; }
    } else if (opt == "--reject") {
      if (!value(&v)) return false;
      std::string u;
      if (!Unescape(v, &u)) { Err("%s: bad escape in --reject", step); return false; }
      o->reject.push_back(u);
    } else {
      Err("%s: unknown option %s", step, opt.c_str());
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------- steps

class Deadline {
 public:
  explicit Deadline(double seconds) : start_(GetTickCount()), ms_(static_cast<DWORD>(seconds * 1000.0)) {}
  bool Passed() const { return GetTickCount() - start_ >= ms_; }

 private:
  DWORD start_;
  DWORD ms_;
};

bool ProcessEnded(const Robot& r) {
  return r.started && WaitForSingleObject(r.proc.hProcess, 0) == WAIT_OBJECT_0;
}

HWND FindBox(const Robot& r, const Options& o) {
  for (HWND h : TopLevel(r, o.any)) {
    if (!IsMessageBox(h)) continue;
    if (!o.caption.empty() && Caption(h) != o.caption) continue;
    return h;
  }
  return nullptr;
}

int StepStart(Robot& r, Args& a) {
  if (a.Done()) { Err("start: PROGRAM missing"); return kUsage; }
  std::string prog = a.Take();
  std::string argText, wholeLine;
  bool haveArgs = false, haveWholeLine = false;
  if (!a.Done() && a.Peek() == "--args") {
    a.Take();
    if (a.Done()) { Err("start: --args needs the argument text"); return kUsage; }
    argText = a.Take();
    haveArgs = true;
  } else if (!a.Done() && a.Peek() == "--command-line") {
    a.Take();
    if (a.Done()) { Err("start: --command-line needs the text"); return kUsage; }
    wholeLine = a.Take();
    haveWholeLine = true;
  }
  if (!prog.empty() && prog[0] == '/') {
    std::string w = "Z:";
    for (char c : prog) w += (c == '/') ? '\\' : c;
    prog = w;
  }
  if (r.started) {
    CloseHandle(r.proc.hProcess);
    CloseHandle(r.proc.hThread);
    r.started = false;
  }
  std::string cmd = "\"" + prog + "\"";
  if (haveArgs) cmd += " " + argText;
  if (haveWholeLine) cmd = wholeLine;
  std::vector<char> buf(cmd.begin(), cmd.end());
  buf.push_back(0);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  const bool systemFinds = prog == "-" && haveWholeLine;
  if (!CreateProcessA(systemFinds ? nullptr : prog.c_str(), buf.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &si, &r.proc)) {
    Err("start: cannot start %s (error %lu)", prog.c_str(), GetLastError());
    return kMissing;
  }
  r.started = true;
  r.current = nullptr;
  return kOk;
}

int StepWaitWindow(Robot& r, Args& a) {
  if (a.Done() || a.AtOption()) { Err("wait-window: TEXT missing"); return kUsage; }
  std::string text = a.Take();
  Options o;
  if (!ReadOptions(a, &o, "wait-window")) return kUsage;
  Deadline d(o.timeout);
  for (;;) {
    for (HWND h : TopLevel(r, o.any)) {
      std::string c = Caption(h);
      if (o.exact ? c == text : c.find(text) != std::string::npos) {
        r.current = h;
        r.currentName = "window \"" + c + "\"";
        return kOk;
      }
    }
    if (d.Passed()) { Err("wait-window: no window with caption \"%s\" after %.1f s", text.c_str(), o.timeout); return kTimeout; }
    if (ProcessEnded(r)) {
      Err("wait-window: the started process ended before a window \"%s\" appeared", text.c_str());
      return kMissing;
    }
    Sleep(kPollMs);
  }
}

int StepWaitBox(Robot& r, Args& a) {
  Options o;
  if (!ReadOptions(a, &o, "wait-box")) return kUsage;
  Deadline d(o.timeout);
  for (;;) {
    // A box whose program does not handle its messages yet (one still
    // starting up, under an emulator for seconds) is not ready to be read.
    HWND h = FindBox(r, o);
    DWORD_PTR ignored = 0;
    if (h && SendMessageTimeoutW(h, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored)) {
      r.current = h;
      r.currentName = "message box \"" + Caption(h) + "\"";
      return kOk;
    }
    if (d.Passed()) { Err("wait-box: no message box%s after %.1f s", h ? " that answers" : "", o.timeout); return kTimeout; }
    if (ProcessEnded(r)) {
      DWORD code = 0;
      GetExitCodeProcess(r.proc.hProcess, &code);
      Err("wait-box: the started process ended (exit code %lu) without a message box", code);
      return kMissing;
    }
    Sleep(kPollMs);
  }
}

int StepNoBox(Robot& r, Args& a) {
  Options o;
  o.timeout = 3.0;
  if (!ReadOptions(a, &o, "no-box")) return kUsage;
  Deadline d(o.timeout);
  for (;;) {
    if (HWND h = FindBox(r, o)) {
      std::string t;
      WindowText(ChildById(h, 0xFFFF), &t);
      Err("no-box: a message box appeared: \"%s\": %s", Caption(h).c_str(), Escape(t).c_str());
      return kExpect;
    }
    if (d.Passed() || ProcessEnded(r)) return kOk;
    Sleep(kPollMs);
  }
}

bool NeedCurrent(const Robot& r, const char* step) {
  if (r.current && IsWindow(r.current)) return true;
  Err("%s: no current window (a wait step must find one first, and it must still exist)", step);
  return false;
}

HWND NeedControl(const Robot& r, const char* step, int id) {
  if (!NeedCurrent(r, step)) return nullptr;
  HWND h = ChildById(r.current, id);
  if (!h) Err("%s: %s has no control with id %d", step, r.currentName.c_str(), id);
  return h;
}

int StepPrint(Robot& r, Args& a) {
  Options o;
  if (!ReadOptions(a, &o, "print")) return kUsage;
  if (!NeedCurrent(r, "print")) return kMissing;
  std::string out = "window class=" + ClassOf(r.current) + " caption=\"" + Escape(Caption(r.current)) + "\"" +
                    (IsMessageBox(r.current) ? " messagebox=1" : "") + "\n";
  for (HWND c : Children(r.current)) {
    if (GetParent(c) != r.current) continue;
    std::string t;
    WindowText(c, &t);
    char head[128];
    std::snprintf(head, sizeof head, "control id=%d class=%s enabled=%d visible=%d text=\"", IdOf(c),
                  ClassOf(c).c_str(), IsWindowEnabled(c) ? 1 : 0, IsWindowVisible(c) ? 1 : 0);
    out += head + Escape(t) + "\"\n";
  }
  Out(out);
  return kOk;
}

int StepPrintCaption(Robot& r, Args& a) {
  Options o;
  if (!ReadOptions(a, &o, "print-caption")) return kUsage;
  if (!NeedCurrent(r, "print-caption")) return kMissing;
  std::string c = Caption(r.current);
  Out((o.escaped ? Escape(c) : c) + "\n");
  return kOk;
}

// An optional leading control id, default the message box text 0xFFFF.
int TakeId(Args& a, const char* step, bool optional, int* id) {
  *id = 0xFFFF;
  if (!a.Done() && !a.AtOption()) {
    long v = 0;
    if (ParseInt(a.Peek(), &v)) {
      a.Take();
      *id = static_cast<int>(v);
      return kOk;
    }
  }
  if (optional) return kOk;
  Err("%s: control ID missing", step);
  return kUsage;
}

int StepPrintText(Robot& r, Args& a) {
  int id;
  if (TakeId(a, "print-text", true, &id)) return kUsage;
  Options o;
  if (!ReadOptions(a, &o, "print-text")) return kUsage;
  HWND h = NeedControl(r, "print-text", id);
  if (!h) return kMissing;
  std::string t;
  if (!WindowText(h, &t)) { Err("print-text: control %d does not answer", id); return kMissing; }
  if (o.escaped) Out(Escape(t) + "\n");
  else if (o.raw) Out(t);
  else Out(CrLfToLf(t) + "\n");
  return kOk;
}

constexpr double kExpectSettleSeconds = 3.0;

int StepExpectText(Robot& r, Args& a) {
  int id;
  if (TakeId(a, "expect-text", true, &id)) return kUsage;
  if (a.Done()) { Err("expect-text: TEXT missing"); return kUsage; }
  std::string want;
  if (!Unescape(a.Take(), &want)) { Err("expect-text: bad escape in TEXT"); return kUsage; }
  Options o;
  if (!ReadOptions(a, &o, "expect-text")) return kUsage;
  HWND h = NeedControl(r, "expect-text", id);
  if (!h) return kMissing;
  // The program may still be handling what an earlier step posted (a
  // selection it relabels on, a click): the text has a short while to settle.
  const double settle = o.timeout < kExpectSettleSeconds ? o.timeout : kExpectSettleSeconds;
  const DWORD start = GetTickCount();
  std::string t;
  WindowText(h, &t);
  while (t != want && (GetTickCount() - start) < settle * 1000) {
    Sleep(20);
    WindowText(h, &t);
  }
  if (t != want) {
    Err("expect-text: control %d of %s reads \"%s\", expected \"%s\"", id, r.currentName.c_str(), Escape(t).c_str(),
        Escape(want).c_str());
    return kExpect;
  }
  return kOk;
}

int StepExpectEnabled(Robot& r, Args& a) {
  int id;
  if (TakeId(a, "expect-enabled", false, &id)) return kUsage;
  if (a.Done()) { Err("expect-enabled: yes or no missing"); return kUsage; }
  const std::string which = a.Take();
  if (which != "yes" && which != "no") { Err("expect-enabled: say yes or no, not \"%s\"", which.c_str()); return kUsage; }
  Options o;
  if (!ReadOptions(a, &o, "expect-enabled")) return kUsage;
  HWND h = NeedControl(r, "expect-enabled", id);
  if (!h) return kMissing;
  const bool want = which == "yes";
  // Like expect-text: what an earlier posted step changes has a moment to land.
  const double settle = o.timeout < kExpectSettleSeconds ? o.timeout : kExpectSettleSeconds;
  const DWORD start = GetTickCount();
  while ((IsWindowEnabled(h) != FALSE) != want && (GetTickCount() - start) < settle * 1000) Sleep(20);
  if ((IsWindowEnabled(h) != FALSE) != want) {
    Err("expect-enabled: control %d of %s is %s", id, r.currentName.c_str(), want ? "disabled" : "enabled");
    return kExpect;
  }
  return kOk;
}

int StepPrintItems(Robot& r, Args& a) {
  int id;
  if (TakeId(a, "print-items", false, &id)) return kUsage;
  Options o;
  if (!ReadOptions(a, &o, "print-items")) return kUsage;
  HWND h = NeedControl(r, "print-items", id);
  if (!h) return kMissing;
  std::vector<std::string> items;
  if (!ListItems(h, &items)) { Err("print-items: control %d is not a list box or combo box", id); return kMissing; }
  std::string out;
  for (const auto& s : items) out += Escape(s) + "\n";
  Out(out);
  return kOk;
}

int StepSetText(Robot& r, Args& a) {
  int id;
  if (TakeId(a, "set-text", false, &id)) return kUsage;
  if (a.Done()) { Err("set-text: TEXT missing"); return kUsage; }
  std::string text;
  if (!Unescape(a.Take(), &text)) { Err("set-text: bad escape in TEXT"); return kUsage; }
  Options o;
  if (!ReadOptions(a, &o, "set-text")) return kUsage;
  HWND h = NeedControl(r, "set-text", id);
  if (!h) return kMissing;
  std::wstring w = Widen(text);
  DWORD_PTR res = 0;
  if (!SendMessageTimeoutW(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(w.c_str()), SMTO_ABORTIFHUNG, kSendTimeoutMs,
                           &res) ||
      !res) {
    Err("set-text: control %d refused the text", id);
    return kMissing;
  }
  return kOk;
}

// Picks a list entry by index or, written "=ITEM", by its exact text, and
// tells the dialog as a click would (LB_SETCURSEL itself notifies nobody).
int StepSelect(Robot& r, Args& a, bool doubleClick) {
  const char* step = doubleClick ? "dblclick" : "select";
  int id;
  if (TakeId(a, step, false, &id)) return kUsage;
  if (a.Done()) { Err("%s: INDEX or =ITEM missing", step); return kUsage; }
  std::string which = a.Take();
  Options o;
  if (!ReadOptions(a, &o, step)) return kUsage;
  HWND h = NeedControl(r, step, id);
  if (!h) return kMissing;
  std::vector<std::string> items;
  if (!ListItems(h, &items)) { Err("%s: control %d is not a list box or combo box", step, id); return kMissing; }
  long index = -1;
  if (!which.empty() && which[0] == '=') {
    std::string want;
    if (!Unescape(which.substr(1), &want)) { Err("%s: bad escape in ITEM", step); return kUsage; }
    for (size_t i = 0; i < items.size(); ++i)
      if (items[i] == want) { index = static_cast<long>(i); break; }
    if (index < 0) { Err("%s: control %d has no entry \"%s\"", step, id, Escape(want).c_str()); return kMissing; }
  } else if (!ParseInt(which, &index)) {
    Err("%s: bad INDEX %s", step, which.c_str());
    return kUsage;
  }
  if (index < 0 || index >= static_cast<long>(items.size())) {
    Err("%s: control %d has %u entries, no index %ld", step, id, static_cast<unsigned>(items.size()), index);
    return kMissing;
  }
  if (!IsWindowEnabled(h)) { Err("%s: control %d is disabled", step, id); return kMissing; }
  bool combo = IsComboBox(h);
  DWORD_PTR res = 0;
  SendMessageTimeoutW(h, combo ? CB_SETCURSEL : LB_SETCURSEL, index, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &res);
  HWND parent = GetParent(h);
  WORD code = combo ? CBN_SELCHANGE : LBN_SELCHANGE;
  PostMessageW(parent, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(h));
  if (doubleClick) {
    if (combo) { Err("dblclick: control %d is a combo box", id); return kMissing; }
    PostMessageW(parent, WM_COMMAND, MAKEWPARAM(id, LBN_DBLCLK), reinterpret_cast<LPARAM>(h));
  }
  return kOk;
}

// Posted, not sent: a click that opens a modal box would not return.
int ClickButton(Robot& r, const char* step, int id) {
  HWND h = NeedControl(r, step, id);
  if (!h) return kMissing;
  if (!IsWindowEnabled(h)) { Err("%s: button %d of %s is disabled", step, id, r.currentName.c_str()); return kMissing; }
  PostMessageW(h, BM_CLICK, 0, 0);
  return kOk;
}

int StepClick(Robot& r, Args& a) {
  int id;
  if (TakeId(a, "click", false, &id)) return kUsage;
  Options o;
  if (!ReadOptions(a, &o, "click")) return kUsage;
  return ClickButton(r, "click", id);
}

int WaitGone(Robot& r, const char* step, double timeout) {
  Deadline d(timeout);
  while (IsWindow(r.current) && IsWindowVisible(r.current)) {
    if (d.Passed()) { Err("%s: %s still there after %.1f s", step, r.currentName.c_str(), timeout); return kTimeout; }
    Sleep(kPollMs);
  }
  r.current = nullptr;
  return kOk;
}

int StepAnswer(Robot& r, Args& a) {
  int id;
  if (TakeId(a, "answer", false, &id)) return kUsage;
  Options o;
  if (!ReadOptions(a, &o, "answer")) return kUsage;
  if (int rc = ClickButton(r, "answer", id)) return rc;
  return WaitGone(r, "answer", o.timeout);
}

int StepWaitGone(Robot& r, Args& a) {
  Options o;
  if (!ReadOptions(a, &o, "wait-gone")) return kUsage;
  if (!r.current) { Err("wait-gone: no current window"); return kMissing; }
  return WaitGone(r, "wait-gone", o.timeout);
}

int CheckExit(Robot& r, const Options& o, const char* step) {
  DWORD code = 0;
  GetExitCodeProcess(r.proc.hProcess, &code);
  if (o.print) Out(std::to_string(code) + "\n");
  if (o.haveExpect && code != static_cast<DWORD>(o.expect)) {
    Err("%s: exit code %lu, expected %ld", step, code, o.expect);
    return kExpect;
  }
  return kOk;
}

int StepWaitExit(Robot& r, Args& a) {
  Options o;
  if (!ReadOptions(a, &o, "wait-exit")) return kUsage;
  if (!r.started) { Err("wait-exit: no process was started"); return kUsage; }
  if (WaitForSingleObject(r.proc.hProcess, static_cast<DWORD>(o.timeout * 1000)) != WAIT_OBJECT_0) {
    Err("wait-exit: the process is still running after %.1f s", o.timeout);
    return kTimeout;
  }
  return CheckExit(r, o, "wait-exit");
}

// A dialog of the started process waiting for an answer: a dialog window
// that is no message box and shows no progress bar (the installer's progress
// dialog is modeless and must never be answered).
bool IsQuestionDialog(HWND h) {
  if (ClassOf(h) != "#32770" || IsMessageBox(h) || !IsWindowEnabled(h)) return false;
  for (HWND c : Children(h))
    if (IEquals(ClassOf(c), "msctls_progress32")) return false;
  return true;
}

bool IsPushButton(HWND h) {
  if (!IEquals(ClassOf(h), "Button")) return false;
  const LONG type = GetWindowLongA(h, GWL_STYLE) & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

// The default button: what the dialog says (DM_GETDEFID), else the push
// button styled as the default; 0 when there is none.
int DefaultButton(HWND h) {
  DWORD_PTR def = 0;
  if (SendMessageTimeoutW(h, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &def) && HIWORD(def) == DC_HASDEFID)
    return LOWORD(def);
  for (HWND c : Children(h))
    if (GetParent(c) == h && IsPushButton(c) && (GetWindowLongA(c, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
      return IdOf(c);
  return 0;
}

// Prints a box or dialog as until-exit --report does and picks the button
// that answers it: the default when it is enabled, else Cancel, else the
// first enabled push button; 0 when none can be clicked. -1, with nothing
// printed, while the window does not answer yet (a program still starting
// up may not pump its messages for seconds): the caller asks again.
std::string WithoutMnemonics(const std::string& label) {
  std::string out;
  for (size_t i = 0; i < label.size(); ++i) {
    if (label[i] == '&' && i + 1 < label.size()) ++i;
    out += label[i];
  }
  return out;
}

int ReportWindow(HWND h, bool box, const Options& o) {
  std::string text, caption;
  if (!WindowText(h, &caption)) return -1;
  if (box) {
    if (!WindowText(ChildById(h, 0xFFFF), &text)) return -1;
  } else {
    for (HWND c : Children(h)) {
      std::string label;
      if (GetParent(c) == h && IEquals(ClassOf(c), "Static") && WindowText(c, &label) && !label.empty())
        text += (text.empty() ? "" : "\n") + label;
    }
  }
  std::string out = std::string(box ? "box " : "dialog ") + Escape(caption) + "\ntext " + Escape(text) + "\n";
  const int def = DefaultButton(h);
  int answer = 0, cancel = 0, first = 0;
  for (HWND c : Children(h)) {
    if (GetParent(c) != h || !IsPushButton(c) || !IsWindowVisible(c)) continue;
    std::string label;
    WindowText(c, &label);
    out += "button " + std::to_string(IdOf(c)) + " " + Escape(label) + "\n";
    if (!IsWindowEnabled(c)) continue;
    if (IdOf(c) == def) answer = def;
    if (IdOf(c) == IDCANCEL) cancel = IDCANCEL;
    if (!first) first = IdOf(c);
  }
  if (!answer) answer = cancel ? cancel : first;
  // An answer asked for by caption and label wins over the default.
  for (const std::string& p : o.press) {
    const size_t eq = p.find('=');
    if (caption != p.substr(0, eq)) continue;
    for (HWND c : Children(h)) {
      std::string label;
      if (GetParent(c) == h && IsPushButton(c) && IsWindowEnabled(c) && WindowText(c, &label) &&
          WithoutMnemonics(label) == WithoutMnemonics(p.substr(eq + 1)))
        answer = IdOf(c);
    }
  }
  out += "default " + std::to_string(def) + "\nanswer " + std::to_string(answer) + "\n";
  Out(out);
  return answer;
}

// In a dialog with a list box (the language dialog), choose entry n.
void ChooseListEntry(HWND h, long n) {
  for (HWND c : Children(h)) {
    if (GetParent(c) != h || !IsListBox(c)) continue;
    DWORD_PTR count = 0, ignored = 0;
    if (!SendMessageTimeoutW(c, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &count) || n > (long)count) return;
    SendMessageTimeoutW(c, LB_SETCURSEL, n - 1, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);
    PostMessageW(h, WM_COMMAND, MAKEWPARAM(IdOf(c), LBN_SELCHANGE), reinterpret_cast<LPARAM>(c));
    Sleep(300);  // the dialog relabels itself on the change
    return;
  }
}

// Tells another program that window k is on the screen and waits until it
// has taken its screenshot.
int AwaitShot(HWND h, const std::string& dir, int k) {
  RECT rc;
  GetWindowRect(h, &rc);
  Out("rect " + std::to_string(rc.left) + " " + std::to_string(rc.top) + " " + std::to_string(rc.right) + " " +
      std::to_string(rc.bottom) + "\n");
  const std::string base = dir + "\\" + std::to_string(k);
  HANDLE f = CreateFileA((base + ".ready").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) {
    Err("until-exit: cannot create %s.ready (error %lu)", base.c_str(), GetLastError());
    return kMissing;
  }
  CloseHandle(f);
  Deadline d(60.0);
  while (GetFileAttributesA((base + ".done").c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (d.Passed()) { Err("until-exit: no %s.done after 60 s", base.c_str()); return kTimeout; }
    if (!IsWindow(h)) break;
    Sleep(kPollMs);
  }
  return kOk;
}

int StepUntilExit(Robot& r, Args& a) {
  Options o;
  if (!ReadOptions(a, &o, "until-exit")) return kUsage;
  if (!r.started) { Err("until-exit: no process was started"); return kUsage; }
  Deadline d(o.timeout);
  int shot = 0;
  while (!ProcessEnded(r)) {
    if (o.noWindow) {
      const std::vector<HWND> shown = TopLevel(r, false);
      if (!shown.empty()) {
        Err("until-exit: a window appeared: class %s, caption \"%s\"", ClassOf(shown[0]).c_str(),
            Escape(Caption(shown[0])).c_str());
        return kExpect;
      }
    }
    if (o.report) {
      HWND found = nullptr;
      bool box = false;
      for (HWND h : TopLevel(r, o.any)) {
        if ((box = IsMessageBox(h)) || IsQuestionDialog(h)) {
          found = h;
          break;
        }
      }
      if (found) {
        r.current = found;
        r.currentName = std::string(box ? "message box" : "dialog") + " \"" + Caption(found) + "\"";
        if (!box && o.listEntry) ChooseListEntry(found, o.listEntry);
        const int answer = ReportWindow(found, box, o);
        if (answer < 0 && !d.Passed()) {
          Sleep(kPollMs);
          continue;
        }
        if (answer > 0 && !o.shots.empty()) {
          if (int rc = AwaitShot(found, o.shots, ++shot)) return rc;
        }
        if (answer < 0) { Err("until-exit: %s does not answer within %.1f s", r.currentName.c_str(), o.timeout); return kTimeout; }
        if (answer == 0) { Err("until-exit: %s has no button that can be clicked", r.currentName.c_str()); return kMissing; }
        if (int rc = ClickButton(r, "until-exit", answer)) return rc;
        if (int rc = WaitGone(r, "until-exit", 5.0)) return rc;
        continue;
      }
    } else if (HWND h = FindBox(r, o)) {
      r.current = h;
      r.currentName = "message box \"" + Caption(h) + "\"";
      std::string t;
      WindowText(ChildById(h, 0xFFFF), &t);
      Out("box " + Escape(Caption(h)) + "\n" + Escape(t) + "\n");
      for (const auto& bad : o.reject) {
        if (t.find(bad) != std::string::npos) {
          Err("until-exit: a message box with \"%s\" appeared: %s", Escape(bad).c_str(), Escape(t).c_str());
          return kExpect;
        }
      }
      if (int rc = ClickButton(r, "until-exit", static_cast<int>(o.answer))) return rc;
      if (int rc = WaitGone(r, "until-exit", 5.0)) return rc;
      continue;
    }
    if (d.Passed()) { Err("until-exit: the process is still running after %.1f s", o.timeout); return kTimeout; }
    Sleep(kPollMs);
  }
  return CheckExit(r, o, "until-exit");
}

int StepWaitClass(Robot& r, Args& a) {
  if (a.Done() || a.AtOption()) { Err("wait-class: CLASS missing"); return kUsage; }
  std::string cls = a.Take();
  Options o;
  if (!ReadOptions(a, &o, "wait-class")) return kUsage;
  Deadline d(o.timeout);
  for (;;) {
    for (HWND h : TopLevel(r, o.any)) {
      if (ClassOf(h) == cls) {
        r.current = h;
        r.currentName = "window of class \"" + cls + "\"";
        return kOk;
      }
    }
    if (d.Passed()) { Err("wait-class: no window of class \"%s\" after %.1f s", cls.c_str(), o.timeout); return kTimeout; }
    if (ProcessEnded(r)) {
      Err("wait-class: the started process ended before a window of class \"%s\" appeared", cls.c_str());
      return kMissing;
    }
    Sleep(kPollMs);
  }
}

int StepPrintRect(Robot& r, Args& a) {
  int id = -1;
  if (!a.Done() && !a.AtOption()) {
    long v = 0;
    if (ParseInt(a.Peek(), &v)) {
      a.Take();
      id = static_cast<int>(v);
    }
  }
  Options o;
  if (!ReadOptions(a, &o, "print-rect")) return kUsage;
  HWND h = id < 0 ? (NeedCurrent(r, "print-rect") ? r.current : nullptr) : NeedControl(r, "print-rect", id);
  if (!h) return kMissing;
  RECT rc;
  if (!GetWindowRect(h, &rc)) { Err("print-rect: no rectangle"); return kMissing; }
  Out(std::to_string(rc.left) + " " + std::to_string(rc.top) + " " + std::to_string(rc.right) + " " +
      std::to_string(rc.bottom) + "\n");
  return kOk;
}

int StepPrintScreen(Robot&, Args& a) {
  Options o;
  if (!ReadOptions(a, &o, "print-screen")) return kUsage;
  Out(std::to_string(GetSystemMetrics(SM_CXSCREEN)) + " " + std::to_string(GetSystemMetrics(SM_CYSCREEN)) + "\n");
  return kOk;
}

int StepPrintOwner(Robot& r, Args& a) {
  Options o;
  if (!ReadOptions(a, &o, "print-owner")) return kUsage;
  if (!NeedCurrent(r, "print-owner")) return kMissing;
  HWND owner = GetWindow(r.current, GW_OWNER);
  if (!owner) Out("none\n");
  else Out("class=" + ClassOf(owner) + " caption=\"" + Escape(Caption(owner)) + "\"\n");
  return kOk;
}

int StepPrintState(Robot& r, Args& a) {
  Options o;
  if (!ReadOptions(a, &o, "print-state")) return kUsage;
  if (!NeedCurrent(r, "print-state")) return kMissing;
  Out(std::string("zoomed=") + (IsZoomed(r.current) ? "1" : "0") + " iconic=" + (IsIconic(r.current) ? "1" : "0") +
      "\n");
  return kOk;
}

// The bar has no id of its own: the first child of the progress bar class.
int StepPrintProgress(Robot& r, Args& a) {
  Options o;
  if (!ReadOptions(a, &o, "print-progress")) return kUsage;
  if (!NeedCurrent(r, "print-progress")) return kMissing;
  for (HWND c : Children(r.current)) {
    if (!IEquals(ClassOf(c), "msctls_progress32")) continue;
    DWORD_PTR pos = 0;
    if (!SendMessageTimeoutW(c, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &pos)) {
      Err("print-progress: the progress bar does not answer");
      return kMissing;
    }
    Out(std::to_string(static_cast<long>(pos)) + "\n");
    return kOk;
  }
  Err("print-progress: %s has no progress bar", r.currentName.c_str());
  return kMissing;
}

int StepList(Robot& r, Args& a) {
  Options o;
  if (!ReadOptions(a, &o, "list")) return kUsage;
  std::string out;
  for (HWND h : TopLevel(r, o.any)) {
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    out += "pid=" + std::to_string(pid) + " class=" + ClassOf(h) + " caption=\"" + Escape(Caption(h)) + "\"" +
           (IsMessageBox(h) ? " messagebox=1" : "") + "\n";
  }
  Out(out);
  return kOk;
}

// The system's Authenticode check of a file, as Windows makes it before it
// runs a program: its result named where it tells signed from damaged or
// unsigned.
int StepPrintTrust(Robot&, Args& a) {
  if (a.Done() || a.AtOption()) { Err("print-trust: PATH missing"); return kUsage; }
  std::string path = a.Take();
  Options o;
  if (!ReadOptions(a, &o, "print-trust")) return kUsage;
  std::wstring wide(path.size() + 1, L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], static_cast<int>(wide.size())) <= 0) {
    Err("print-trust: cannot convert %s", path.c_str());
    return kUsage;
  }
  WINTRUST_FILE_INFO file = {};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = wide.c_str();
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  char code[16];
  snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(result));
  switch (static_cast<unsigned long>(result)) {
    case 0: Out("ok\n"); break;
    case static_cast<unsigned long>(TRUST_E_NOSIGNATURE): Out("no-signature\n"); break;
    case static_cast<unsigned long>(TRUST_E_BAD_DIGEST): Out("bad-digest\n"); break;
    case static_cast<unsigned long>(CERT_E_UNTRUSTEDROOT): Out("untrusted-root\n"); break;
    default: Out(std::string(code) + "\n"); break;
  }
  return kOk;
}

// Four lines: target=, arguments=, working_dir=, icon= (path,index).
int StepPrintLink(Robot&, Args& a) {
  if (a.Done() || a.AtOption()) { Err("print-link: PATH missing"); return kUsage; }
  std::string path = a.Take();
  Options o;
  if (!ReadOptions(a, &o, "print-link")) return kUsage;
  CoInitialize(nullptr);
  IShellLinkA* link = nullptr;
  IPersistFile* file = nullptr;
  std::string out;
  bool loaded = false;
  if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                 reinterpret_cast<void**>(&link))) &&
      SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    std::wstring wide(path.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    if (n > 0 && SUCCEEDED(file->Load(wide.c_str(), STGM_READ))) {
      char buffer[1024];
      int icon = 0;
      buffer[0] = 0;
      link->GetPath(buffer, sizeof buffer, nullptr, SLGP_RAWPATH);
      out += "target=" + std::string(buffer) + "\n";
      buffer[0] = 0;
      link->GetArguments(buffer, sizeof buffer);
      out += "arguments=" + std::string(buffer) + "\n";
      buffer[0] = 0;
      link->GetWorkingDirectory(buffer, sizeof buffer);
      out += "working_dir=" + std::string(buffer) + "\n";
      buffer[0] = 0;
      link->GetIconLocation(buffer, sizeof buffer, &icon);
      out += "icon=" + std::string(buffer) + "," + std::to_string(icon) + "\n";
      loaded = true;
    }
  }
  if (file) file->Release();
  if (link) link->Release();
  CoUninitialize();
  if (!loaded) { Err("print-link: cannot read the link %s", path.c_str()); return kMissing; }
  Out(out);
  return kOk;
}

// The handle stays open until the robot ends, or until the session ends
// while the robot waits in await-end-session.
int StepHoldFile(Robot& r, Args& a) {
  if (a.Done()) { Err("hold-file: PATH missing"); return kUsage; }
  const std::string path = a.Take();
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Err("hold-file: cannot open %s (error %lu)", path.c_str(), GetLastError());
    return kMissing;
  }
  r.held.push_back(h);
  return kOk;
}

// Tells a waiting script or robot (wait-file) that this robot has done its
// part, e.g. that a file is now held. The file must not exist yet, so a
// leftover from an earlier run cannot send the signal early.
int StepMakeFile(Robot&, Args& a) {
  if (a.Done()) { Err("make-file: PATH missing"); return kUsage; }
  const std::string path = a.Take();
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Err("make-file: cannot create %s (error %lu)", path.c_str(), GetLastError());
    return kMissing;
  }
  CloseHandle(h);
  return kOk;
}

// The session's end reaches every top-level window, hidden ones included,
// and the system waits for each answer. Letting go of the held files inside
// WM_ENDSESSION therefore happens before a restart carries out its pending
// replacements, as a running program's exit does on a real restart. The line
// is written there too: the system may end the robot right after the answer.
LRESULT CALLBACK SessionWindowProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_QUERYENDSESSION) return TRUE;
  if (msg == WM_ENDSESSION) {
    auto* r = reinterpret_cast<Robot*>(GetWindowLongPtrA(h, GWLP_USERDATA));
    if (w && r && !r->sessionEnded) {
      for (HANDLE held : r->held) CloseHandle(held);
      r->held.clear();
      r->sessionEnded = true;
      Out("session ended\n");
    }
    return 0;
  }
  return DefWindowProcA(h, msg, w, l);
}

int StepAwaitEndSession(Robot& r, Args& a) {
  Options o;
  if (!ReadOptions(a, &o, "await-end-session")) return kUsage;
  WNDCLASSA wc = {};
  wc.lpfnWndProc = SessionWindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "TruxRobotSession";
  RegisterClassA(&wc);
  HWND h = CreateWindowExA(0, wc.lpszClassName, "trux-robot session", WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr,
                           wc.hInstance, nullptr);
  if (!h) { Err("await-end-session: cannot create the window (error %lu)", GetLastError()); return kUsage; }
  SetWindowLongPtrA(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&r));
  Deadline d(o.timeout);
  while (!r.sessionEnded && !d.Passed()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, kPollMs, QS_ALLINPUT);
    MSG m;
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageA(&m);
    }
  }
  DestroyWindow(h);
  if (!r.sessionEnded) { Err("await-end-session: the session did not end within %.1f s", o.timeout); return kTimeout; }
  return kOk;
}

// Lets a test script hold the robot at a known point (a dialog on screen)
// for as long as its own work there takes, instead of guessing a sleep.
int StepWaitFile(Robot&, Args& a) {
  if (a.Done() || a.AtOption()) { Err("wait-file: PATH missing"); return kUsage; }
  const std::string path = a.Take();
  Options o;
  if (!ReadOptions(a, &o, "wait-file")) return kUsage;
  Deadline d(o.timeout);
  while (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (d.Passed()) { Err("wait-file: %s does not exist after %.1f s", path.c_str(), o.timeout); return kTimeout; }
    Sleep(kPollMs);
  }
  return kOk;
}

int StepSleep(Robot&, Args& a) {
  long ms = 0;
  if (a.Done() || !ParseInt(a.Take(), &ms) || ms < 0) { Err("sleep: bad MS"); return kUsage; }
  Sleep(static_cast<DWORD>(ms));
  return kOk;
}

int Run(Args& a) {
  Robot r;
  struct Step {
    const char* name;
    int (*fn)(Robot&, Args&);
  };
  static const Step steps[] = {
      {"start", StepStart},
      {"wait-window", StepWaitWindow},
      {"wait-box", StepWaitBox},
      {"no-box", StepNoBox},
      {"print", StepPrint},
      {"print-caption", StepPrintCaption},
      {"print-text", StepPrintText},
      {"print-items", StepPrintItems},
      {"expect-text", StepExpectText},
      {"expect-enabled", StepExpectEnabled},
      {"set-text", StepSetText},
      {"select", [](Robot& r, Args& a) { return StepSelect(r, a, false); }},
      {"dblclick", [](Robot& r, Args& a) { return StepSelect(r, a, true); }},
      {"click", StepClick},
      {"answer", StepAnswer},
      {"wait-gone", StepWaitGone},
      {"wait-exit", StepWaitExit},
      {"until-exit", StepUntilExit},
      {"wait-class", StepWaitClass},
      {"print-rect", StepPrintRect},
      {"print-screen", StepPrintScreen},
      {"print-owner", StepPrintOwner},
      {"print-state", StepPrintState},
      {"print-progress", StepPrintProgress},
      {"list", StepList},
      {"hold-file", StepHoldFile},
      {"wait-file", StepWaitFile},
      {"make-file", StepMakeFile},
      {"await-end-session", StepAwaitEndSession},
      {"print-link", StepPrintLink},
      {"print-trust", StepPrintTrust},
      {"sleep", StepSleep},
  };
  if (a.Done()) {
    Out(kUsageText);
    return kUsage;
  }
  while (!a.Done()) {
    std::string word = a.Take();
    if (word == "--help" || word == "-h" || word == "help") { Out(kUsageText); return kOk; }
    const Step* found = nullptr;
    for (const auto& s : steps)
      if (word == s.name) found = &s;
    if (!found) { Err("unknown step \"%s\" (trux-robot --help lists them)", word.c_str()); return kUsage; }
    if (int rc = found->fn(r, a)) return rc;
  }
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  Args a;
  for (int i = 1; i < argc; ++i) a.v.push_back(argv[i]);
  return Run(a);
}
