#include "tools/truxpack/cmd_try.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <memory>

#include "archive/format.h"
#include "tools/truxpack/file_io.h"
#include "tools/truxpack/installer_reader.h"
#include "tools/truxpack/names.h"
#include "tools/truxpack/prefix_snapshot.h"
#include "tools/truxpack/snapshot_diff.h"
#include "tools/truxpack/text_encoding.h"
#include "tools/truxpack/try_report.h"
#include "tools/truxpack/wine_session.h"

const CommandHelp kTryCommand = {
    "try",
    "SETUP.EXE [-- INSTALLER-ARGS...]",
    "Installs a product in a throwaway Wine prefix, removes it, and reports what it did and left.\n"
    "The installer runs silently (/s) with a time limit; a box it answered itself is read from\n"
    "its run log (/l:) and reported, as is any window that still appears (answered with its\n"
    "default), and its exit code with its meaning. The product is then removed through its\n"
    "Uninstall entry, silently too. Exit code 0: installed and nothing left behind; 1: something\n"
    "failed or was left (or Wine is missing); 2: bad arguments. Needs 32-bit Wine.",
    {
        {"dir", 'd', "DIR", "the installation directory, given to the installer as /d:DIR (default: the product's)"},
        {"timeout", 0, "SECONDS", "time limit of the installer and of each uninstaller (default 300)"},
        {"keep", 'k', nullptr, "keep the prefix afterwards and print its path"},
        {"json", 0, nullptr, "print the report as one JSON document (schema in docs/truxpack.md)"},
        {"no-uninstall", 0, nullptr, "stop after the installation and its report"},
        {"robot", 0, "FILE", "the UI robot (default: trux-robot.exe beside truxpack, else ../lib/truxpack/ from there)",
         "*.exe"},
        {"base", 0, "DIR", "copy this ready Wine prefix instead of the cached one (it is never changed)", "dir"},
        {"screens", 0, "DIR", "install interactively on a virtual screen; one PNG per window and index.md into DIR",
         "dir"},
        {"answer", 0, "TITLE=BUTTON", "with --screens: answer the window TITLE with BUTTON (repeatable)"},
        {"language", 0, "N", "with --screens: choose the product's language N (1 is the first) when asked"},
    },
    1,
    1,
    {"*.exe"},
};

const CommandHelp kSnapshotCommand = {
    "snapshot",
    "PREFIX",
    "Writes a snapshot of a Wine prefix (files, shortcuts and registry) for truxpack diff.\n"
    "Every file under drive_c (size, SHA-256, attributes), every shortcut's target and every\n"
    "registry value of the machine and the user. The registry is\n"
    "read as the wineserver last saved it: end the prefix's wineserver (wineserver -k) first.",
    {
        {"output", 'o', "FILE", "write the snapshot to FILE (required)"},
        {"reuse", 0, "FILE", "an earlier snapshot of the same prefix: unchanged files are not read again"},
    },
    1,
    1,
    {"dir"},
};

const CommandHelp kDiffCommand = {
    "diff",
    "BEFORE AFTER",
    "Prints what differs between two prefix snapshots, Wine's own housekeeping left out.\n"
    "One line per item (+ added, - removed, ~ changed); nothing when they are the same.",
    {
        {"all", 'a', nullptr, "print Wine's housekeeping too, each line followed by its reason"},
    },
    2,
    2,
    {"file", "file"},
};

namespace {

// The switch that runs the runtime without questions and without any window
// (a box is answered by the runtime itself and written to the run log), for
// the installer and for the uninstaller; with it the exit code tells the
// outcome.
constexpr char kAutomaticSwitch[] = "/s";
constexpr double kDefaultTimeout = 300;
// Starting a robot and the program it drives costs Wine start-up time on
// top of the program's own limit (minutes in an emulated machine).
constexpr double kStartAllowance = 180;
constexpr double kBatchWaitSeconds = 60;
constexpr uint64_t kLogLimit = 1 << 20;
// Of a run log longer than kLogLimit, its end is read too: the exit code.
constexpr uint64_t kLogTailLimit = 64 << 10;
constexpr char kBatchFile[] = "delunins.bat";

double Now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + ts.tv_nsec * 1e-9;
}

void Stage(const std::string& what) {
  if (Verbosity() > 0) fprintf(stderr, "truxpack try: %s\n", what.c_str());
}

std::string Directory(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string Absolute(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (!real) return std::string();
  std::string out = real;
  free(real);
  return out;
}

// The robot: --robot, else trux-robot.exe beside this program (make build
// puts truxpack and the robot into dist/ together), else the one make
// install puts into PREFIX/lib/truxpack/ beside PREFIX/bin/truxpack. When
// neither is there, the first, for the message that says so.
std::string RobotPath(const ParsedArgs& args) {
  if (args.Has("robot")) return args.Get("robot");
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "trux-robot.exe";
  self[n] = 0;
  const std::string beside = Directory(self) + "/trux-robot.exe";
  const std::string installed = Directory(self) + "/../lib/truxpack/trux-robot.exe";
  struct stat st;
  if (stat(beside.c_str(), &st) != 0 && stat(installed.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return installed;
  return beside;
}

// A name the runtime can be started under from a Windows command line:
// printable ASCII without quotes.
bool PlainAscii(const std::string& s) {
  for (unsigned char c : s)
    if (c < 0x20 || c > 0x7E || c == '"') return false;
  return !s.empty();
}

// What truxpack can tell about the installer before it runs: product,
// version, batches, and the volume files it needs beside it.
void ReadSettings(const std::string& path, TryReport& report, std::vector<std::string>& volumes) {
  std::string error;
  std::unique_ptr<FileSource> file = OpenFileSource(path, error);
  if (!file) {
    report.readProblem = error;
    return;
  }
  const std::string dir = Directory(path);
  VolumeOpener opener = [dir](const std::string& name) -> std::unique_ptr<ByteSource> {
    std::string ignored;
    if (!IsPlainFileName(name)) return nullptr;
    return OpenFileSource(dir + "/" + name, ignored);
  };
  InstallerContents c;
  ReadInstaller(*file, opener, c);
  if (c.status != ReadStatus::kOk) report.readProblem = c.message;
  if (!c.haveSettings) return;
  const ArchiveSettings& s = c.settings;
  auto text = [](const String& t) {
    std::string utf8, bytes(t.CStr(), (size_t)t.Length());
    return Cp1252ToUtf8(bytes, utf8) ? utf8 : PrintableName(bytes);
  };
  report.product = text(s.productName);
  report.version = text(s.DisplayVersion);
  const String* batches[] = {&s.batches[0], &s.batches[1], &s.batches[2], &s.UninstallBatch1, &s.UninstallBatch2};
  const char* when[] = {"pre_install", "post_install", "on_exit", "uninstall_first", "uninstall_last"};
  for (int i = 0; i < 5; ++i)
    if (!batches[i]->IsEmpty()) report.batches.push_back({when[i], text(*batches[i])});
  for (int32_t k = 2; k <= c.volumesRead; ++k)
    volumes.push_back(VolumeFileName(std::string(s.volumeBaseName.CStr(), (size_t)s.volumeBaseName.Length()), k));
}

// The installer (and its volume files) as links in a directory of the try's
// own, under a name a Windows command line can carry.
bool PlaceInstaller(const std::string& setup, const std::vector<std::string>& volumes, const std::string& media,
                    std::string& placed, std::string& error) {
  if (mkdir(media.c_str(), 0700) != 0) {
    error = "cannot create " + PrintablePath(media) + ": " + strerror(errno);
    return false;
  }
  const std::string name = PlainAscii(BaseName(setup)) ? BaseName(setup) : "setup.exe";
  placed = media + "/" + name;
  if (symlink(setup.c_str(), placed.c_str()) != 0) {
    error = "cannot link " + PrintablePath(placed) + ": " + strerror(errno);
    return false;
  }
  for (const std::string& v : volumes) {
    const std::string source = Directory(setup) + "/" + v;
    if (IsPlainFileName(v) && symlink(source.c_str(), (media + "/" + v).c_str()) != 0) {
      error = "cannot link " + PrintablePath(v) + ": " + strerror(errno);
      return false;
    }
  }
  return true;
}

// The robot's command line for running a program and answering its windows.
std::vector<std::string> RobotCommand(const std::string& robot, const std::string& program,
                                      const std::string& commandLine, double timeout) {
  char limit[32];
  snprintf(limit, sizeof limit, "%.0f", timeout);
  return {"wine", robot, "start", program, "--command-line", commandLine, "until-exit", "--report", "--print",
          "--timeout", limit};
}

// What the robot's run says about the program it ran.
ProgramRun Interpret(const std::string& commandLine, const ProcessResult& r) {
  ProgramRun run;
  run.commandLine = commandLine;
  run.windows = ParseRobotReport(r.out);
  run.seconds = r.seconds;
  if (!r.started) {
    run.problem = r.startError;
    return run;
  }
  run.ran = true;
  std::string err = r.err;
  while (!err.empty() && (err.back() == '\n' || err.back() == '\r')) err.pop_back();
  if (r.timedOut || r.exitCode == 3) {
    run.timedOut = true;
    run.problem = err.empty() ? "the robot did not end within its time limit" : PrintablePath(err);
    return run;
  }
  if (r.exitCode != 0) {
    run.problem = "the robot failed (exit code " + std::to_string(r.exitCode) + ")" + (err.empty() ? "" : ": " + PrintablePath(err));
    return run;
  }
  // The exit code is the robot's last line: a Windows exit code, 32 bits.
  std::string out = r.out;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  const std::string last = out.substr(out.rfind('\n') == std::string::npos ? 0 : out.rfind('\n') + 1);
  if (!last.empty() && last.size() <= 10 && last.find_first_not_of("0123456789") == std::string::npos &&
      strtoll(last.c_str(), nullptr, 10) <= 0xFFFFFFFFll)
    run.exitCode = strtoll(last.c_str(), nullptr, 10);
  if (run.exitCode < 0) run.problem = "the robot did not report the exit code";
  return run;
}

// The switches of a silent run that writes its run log to logFile.
std::string SilentSwitches(const std::string& logFile) {
  return std::string(kAutomaticSwitch) + " /l:\"" + WindowsPathOf(logFile) + "\"";
}

// Runs a program silently through the robot, which reads and answers any
// box or dialog that still appears (a window a batch opens, say) and waits
// for the program's end; then adds what the program's run log says.
ProgramRun RunThroughRobot(const WineEnvironment& env, const std::string& robot, const std::string& program,
                           const std::string& commandLine, const std::string& logFile, double timeout) {
  ProcessResult server = RunWine(env, {"wineserver", "-p"}, 120);
  (void)server;  // without a persistent server each Wine program only starts slower
  ProgramRun run =
      Interpret(commandLine, RunWine(env, RobotCommand(robot, program, commandLine, timeout), timeout + kStartAllowance));
  run.silent = true;
  if (run.ran) ReadRunLog(logFile, kLogLimit, kLogTailLimit, run);
  return run;
}

// Ends every program of the prefix; the wineserver saves the registry as it goes.
void EndPrefix(const WineEnvironment& env) { (void)RunWine(env, {"wineserver", "-k"}, 120); }

bool Snap(const std::string& prefix, const Snapshot* previous, Snapshot& out, SnapshotReuse reuse, std::string& error) {
  const double start = Now();
  if (!TakeSnapshot(prefix, previous, out, error, reuse)) return false;
  if (Verbosity() > 1) fprintf(stderr, "truxpack try: snapshot in %.2f s\n", Now() - start);
  return true;
}

// A Windows path in the prefix (C: only) as a Unix path, each component
// matched without regard to ASCII case as Windows does; empty when some
// component does not exist.
std::string UnixPathInPrefix(const std::string& prefix, const std::string& windowsPath) {
  if (windowsPath.size() < 3 || (windowsPath[0] != 'C' && windowsPath[0] != 'c') || windowsPath[1] != ':' ||
      windowsPath[2] != '\\')
    return std::string();
  std::string path = prefix + "/drive_c";
  size_t start = 3;
  while (start <= windowsPath.size()) {
    size_t end = windowsPath.find('\\', start);
    if (end == std::string::npos) end = windowsPath.size();
    const std::string part = windowsPath.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    if (part == "." || part == ".." || part.find('/') != std::string::npos) return std::string();
    struct stat st;
    if (lstat((path + "/" + part).c_str(), &st) == 0) {
      path += "/" + part;
      continue;
    }
    std::string found;
    if (DIR* d = opendir(path.c_str())) {
      while (struct dirent* e = readdir(d))
        if (FoldCase(e->d_name) == FoldCase(part)) found = e->d_name;
      closedir(d);
    }
    if (found.empty()) return std::string();
    path += "/" + found;
  }
  return path;
}

// The program an UninstallString names: a quoted path, or the shortest run
// of words that names an existing file, as Windows reads an unquoted one.
std::string UninstallProgram(const std::string& prefix, const std::string& command) {
  std::string s = command.substr(command.find_first_not_of(" \t") == std::string::npos ? 0 : command.find_first_not_of(" \t"));
  if (!s.empty() && s[0] == '"') return s.substr(1, s.find('"', 1) == std::string::npos ? std::string::npos : s.find('"', 1) - 1);
  for (size_t i = 0; i <= s.size(); ++i) {
    if (i < s.size() && s[i] != ' ') continue;
    const std::string candidate = s.substr(0, i);
    struct stat st;
    const std::string unixPath = UnixPathInPrefix(prefix, candidate);
    if (!unixPath.empty() && stat(unixPath.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return candidate;
  }
  return s.substr(0, s.find(' '));
}

// Whether the uninstaller's self-deleting batch still runs: its file is
// gone once its interpreter has ended.
bool BatchRunning(const std::string& prefix) {
  const std::string users = prefix + "/drive_c/users";
  bool found = false;
  DIR* d = opendir(users.c_str());
  if (!d) return false;
  while (struct dirent* u = readdir(d)) {
    if (u->d_name[0] == '.') continue;
    const std::string temp = users + "/" + u->d_name + "/Temp";
    if (DIR* t = opendir(temp.c_str())) {
      while (struct dirent* b = readdir(t)) {
        struct stat st;
        if (strncmp(b->d_name, "trux-", 5) == 0 && lstat((temp + "/" + b->d_name + "/" + kBatchFile).c_str(), &st) == 0)
          found = true;
      }
      closedir(t);
    }
  }
  closedir(d);
  return found;
}

// The lines an Install.LOG gained: the whole file when it is new, what
// follows its earlier size when it grew.
void ReadInstallLogs(const std::string& prefix, TryReport& report) {
  for (const Difference& d : report.installChanges) {
    if (d.housekeeping || GroupOf(d) != ReportGroup::kInstallLog || d.change == Change::kRemoved) continue;
    std::vector<unsigned char> data;
    std::string error;
    if (!ReadWholeFile(prefix + "/drive_c/" + d.path, data, error, kLogLimit)) {
      report.installLog.push_back("(" + error + ")");
      continue;
    }
    size_t from = d.change == Change::kChanged && d.before.size <= data.size() ? (size_t)d.before.size : 0;
    std::string bytes(data.begin() + (long)from, data.end()), text;
    if (!Cp1252ToUtf8(bytes, text)) text = PrintableName(bytes);
    std::string line;
    for (char c : text) {
      if (c == '\r') continue;
      if (c == '\n') {
        report.installLog.push_back(line);
        line.clear();
      } else {
        line += c;
      }
    }
    if (!line.empty()) report.installLog.push_back(line);
  }
}

std::vector<std::string> UninstallEntries(const std::vector<Difference>& changes, const Snapshot& after) {
  std::vector<std::string> keys;
  for (const Difference& d : changes) {
    if (d.kind != ItemKind::kKey || d.change != Change::kAdded || d.housekeeping) continue;
    const std::string folded = FoldCase(d.path);
    bool entry = false;
    for (const char* root : {"hkey_local_machine", "hkey_current_user"}) {
      const std::string parent = std::string(root) + "\\software\\microsoft\\windows\\currentversion\\uninstall\\";
      if (folded.compare(0, parent.size(), parent) == 0 && folded.find('\\', parent.size()) == std::string::npos)
        entry = true;
    }
    auto key = after.keys.find(folded);
    if (entry && key != after.keys.end() && key->second.values.count("uninstallstring")) keys.push_back(d.path);
  }
  return keys;
}

struct TryOptions {
  std::string setup, dir, robot, base, screens;
  std::vector<std::string> installerArgs, answers;
  double timeout = kDefaultTimeout;
  long language = 0;
  bool keep = false, json = false, uninstall = true;
};

int BadTryArguments(const std::string& problem) {
  fprintf(stderr, "truxpack try: %s\nusage: truxpack try [OPTIONS] SETUP.EXE [-- INSTALLER-ARGS...]\n"
                  "(truxpack try --help lists every option)\n",
          problem.c_str());
  return 2;
}

int ParseTry(int argc, char** argv, TryOptions& o) {
  int split = argc;
  for (int i = 0; i < argc; ++i)
    if (strcmp(argv[i], "--") == 0) {
      split = i;
      break;
    }
  // --answer may be given more than once: taken here, the rest parsed as usual.
  std::vector<char*> rest;
  for (int i = 0; i < split; ++i) {
    if (strcmp(argv[i], "--answer") == 0) {
      if (i + 1 >= split) return BadTryArguments("--answer needs a value TITLE=BUTTON");
      o.answers.push_back(argv[++i]);
    } else if (strncmp(argv[i], "--answer=", 9) == 0) {
      o.answers.push_back(argv[i] + 9);
    } else {
      rest.push_back(argv[i]);
    }
  }
  ParsedArgs args;
  const int rc = ParseArgs(kTryCommand, (int)rest.size(), rest.data(), args);
  if (rc >= 0) return rc;
  for (int i = split + 1; i < argc; ++i) o.installerArgs.push_back(argv[i]);
  o.screens = args.Get("screens");
  for (const std::string& a : o.answers)
    if (a.find('=') == std::string::npos || !PlainAscii(a))
      return BadTryArguments("--answer takes TITLE=BUTTON in printable ASCII without quotes, not " + PrintablePath(a));
  if (args.Has("language")) {
    char* end = nullptr;
    o.language = strtol(args.Get("language").c_str(), &end, 10);
    if (*end || o.language < 1 || o.language > 1000)
      return BadTryArguments("--language takes the number of a language (1 is the first), not " +
                             PrintablePath(args.Get("language")));
  }
  if ((!o.answers.empty() || o.language) && o.screens.empty())
    return BadTryArguments("--answer and --language go with --screens (the silent installation asks nothing)");
  o.setup = args.positional[0];
  o.keep = args.Has("keep");
  o.json = args.Has("json");
  o.uninstall = !args.Has("no-uninstall");
  o.robot = RobotPath(args);
  o.base = args.Get("base");
  if (args.Has("dir")) {
    o.dir = args.Get("dir");
    if (!PlainAscii(o.dir)) return BadTryArguments("--dir must be printable ASCII without quotes: " + PrintablePath(o.dir));
  }
  if (args.Has("timeout")) {
    char* end = nullptr;
    o.timeout = strtod(args.Get("timeout").c_str(), &end);
    if (*end || !(o.timeout >= 1 && o.timeout <= 86400))
      return BadTryArguments("--timeout takes seconds from 1 to 86400, not " + PrintablePath(args.Get("timeout")));
  }
  for (const std::string& a : o.installerArgs)
    for (unsigned char c : a)
      if (c < 0x20) return BadTryArguments("an installer argument with a control character: " + PrintablePath(a));
  return -1;
}

// ---- --screens: the installation on a virtual screen

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string FileText(const std::string& path) {
  std::vector<unsigned char> data;
  std::string error;
  if (!ReadWholeFile(path, data, error, 16u << 20)) return std::string();
  return std::string(data.begin(), data.end());
}

// A private X server on the first free display from one that depends on
// this process (several tries may run at once).
bool StartXServer(BackgroundProgram& x, const std::string& work, std::string& display, std::string& error) {
  for (int n = 100 + getpid() % 300; n < 500; ++n) {
    const std::string number = std::to_string(n);
    if (Exists("/tmp/.X" + number + "-lock")) continue;
    if (!x.Start({"Xvfb", ":" + number, "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, {},
                 work + "/xvfb-" + number + ".out", work + "/xvfb-" + number + ".err", error))
      return false;
    const double start = Now();
    while (Now() - start < 30 && x.Running()) {
      if (Exists("/tmp/.X11-unix/X" + number)) {
        display = ":" + number;
        return true;
      }
      usleep(100000);
    }
    x.Kill();
  }
  error = "cannot start Xvfb on a free display from :100 to :499";
  return false;
}

// Wine's X11 driver instead of the null one, with unmanaged windows (there
// is no window manager, and Wine would wait for one on every hide).
bool UseXDriver(const WineEnvironment& env, std::string& error) {
  (void)RunWine(env, {"wine", "reg", "delete", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics", "/f"}, 300);
  ProcessResult r =
      RunWine(env, {"wine", "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed", "/d", "N", "/f"}, 300);
  EndPrefix(env);
  if (r.exitCode != 0) {
    error = "cannot switch the prefix to Wine's X11 driver (wine reg add: " +
            (r.started ? "exit code " + std::to_string(r.exitCode) : r.startError) + ")";
    return false;
  }
  return true;
}

// The whole screen once it has settled: a window shown a moment ago may not
// have painted yet, so pictures are taken until three in a row are the same
// (or twelve have been taken).
bool Screenshot(const std::string& display, const std::string& ppm) {
  auto grab = [&](const std::string& out) {
    return RunProgram({"import", "-display", display, "-window", "root", "-depth", "8", out}, {}, 120).exitCode == 0;
  };
  usleep(300000);
  if (!grab(ppm)) return false;
  const std::string next = ppm + ".next.ppm";
  int same = 0;
  for (int i = 0; i < 12 && same < 2; ++i) {
    usleep(200000);
    if (!grab(next)) return false;
    if (FileText(next) == FileText(ppm)) {
      ++same;
    } else {
      same = 0;
      rename(next.c_str(), ppm.c_str());
    }
  }
  unlink(next.c_str());
  return true;
}

// Runs the installer as a person would, through the robot, which stops at
// every window until its picture is taken. pictures receives the PNG of
// each window the robot answered, in order (empty when it failed).
ProgramRun RunOnScreen(const WineEnvironment& env, const TryOptions& o, const std::string& program,
                       const std::string& line, const std::string& work, std::vector<std::string>& pictures) {
  (void)RunWine(env, {"wineserver", "-p"}, 120);
  const std::string dir = work + "/shots";
  std::string error;
  ProcessResult r;
  std::vector<std::string> argv = RobotCommand(o.robot, program, line, o.timeout);
  argv.insert(argv.end(), {"--shots", WindowsPathOf(dir)});
  for (const std::string& a : o.answers) {
    std::string escaped;
    for (char c : a) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
    argv.insert(argv.end(), {"--press", escaped});
  }
  if (o.language) argv.insert(argv.end(), {"--list-entry", std::to_string(o.language)});
  BackgroundProgram robot;
  const double start = Now();
  if (mkdir(dir.c_str(), 0700) != 0 ||
      !robot.Start(argv, env.Entries(), work + "/robot.out", work + "/robot.err", error)) {
    r.startError = error.empty() ? "cannot create " + PrintablePath(dir) : error;
    return Interpret(line, r);
  }
  r.started = true;
  for (int next = 1; robot.Running();) {
    const std::string k = dir + "/" + std::to_string(next);
    if (Exists(k + ".ready")) {
      const bool shot = Screenshot(env.display, k + ".ppm") &&
                        RunProgram({"convert", k + ".ppm", k + ".png"}, {}, 120).exitCode == 0;
      pictures.push_back(shot ? k + ".png" : std::string());
      const int done = open((k + ".done").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (done >= 0) close(done);
      ++next;
      continue;
    }
    if (Now() - start > o.timeout + kStartAllowance) {
      robot.Kill();
      r.timedOut = true;
      break;
    }
    usleep(50000);
  }
  r.exitCode = robot.ExitCode();
  r.seconds = Now() - start;
  r.out = FileText(work + "/robot.out");
  r.err = FileText(work + "/robot.err");
  return Interpret(line, r);
}

// A button's label as shown: the & that marks its access key is not.
std::string ButtonLabel(const std::string& label) {
  std::string out;
  for (size_t i = 0; i < label.size(); ++i) {
    if (label[i] == '&' && i + 1 < label.size()) ++i;
    out += label[i];
  }
  return out;
}

std::string MarkdownText(const std::string& s) {
  std::string out;
  for (char c : PrintablePath(s)) {
    if (strchr("\\`*_[]<>#|", c)) out += '\\';
    out += c;
  }
  return out;
}

// The pictures and their index (Markdown) into the directory --screens
// names, written as every output of truxpack is (no link followed, each
// file complete or absent).
bool WriteScreens(const TryOptions& o, TryReport& report, const std::vector<std::string>& pictures,
                  std::string& error) {
  struct stat st;
  if (mkdir(o.screens.c_str(), 0755) != 0 && errno != EEXIST) {
    error = "cannot create " + PrintablePath(o.screens) + ": " + strerror(errno);
    return false;
  }
  if (lstat(o.screens.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = PrintablePath(o.screens) + " is not a directory";
    return false;
  }
  OutputSet out;
  std::string index = "# The windows of " + MarkdownText(BaseName(report.installer)) +
                      (report.product.empty() ? "" : " (" + MarkdownText(report.product) + " " + MarkdownText(report.version) + ")") +
                      "\n\nTaken by `truxpack try --screens` under " + MarkdownText(report.wineVersion) +
                      " on a 1024 x 768 virtual screen. Every window was answered with its default button" +
                      (o.answers.empty() ? "" : ", or as `--answer` said") +
                      (o.language ? "; language " + std::to_string(o.language) + " was chosen" : std::string()) + ".\n";
  std::vector<ShownWindow>& windows = report.install.windows;
  for (size_t i = 0; i < windows.size(); ++i) {
    ShownWindow& w = windows[i];
    char name[32];
    snprintf(name, sizeof name, "screen-%02zu.png", i + 1);
    index += "\n## " + std::to_string(i + 1) + ". " + MarkdownText(w.caption) + "\n\n";
    if (i < pictures.size() && !pictures[i].empty()) {
      std::vector<unsigned char> png;
      if (!ReadWholeFile(pictures[i], png, error, 64u << 20) ||
          !out.Add(o.screens + "/" + name, png.data(), png.size(), error))
        return false;
      w.screenshot = name;
      index += "![" + MarkdownText(w.caption) + "](" + name + ")\n\n";
    } else {
      index += "(no picture could be taken)\n\n";
    }
    index += std::string(w.dialog ? "A dialog" : "A message box") + ", at left " + std::to_string(w.rect[0]) + ", top " +
             std::to_string(w.rect[1]) + ", right " + std::to_string(w.rect[2]) + ", bottom " +
             std::to_string(w.rect[3]) + ".\n\n";
    std::string line;
    for (char c : w.text.empty() ? std::string() : w.text + "\n") {
      if (c == '\r') continue;
      if (c != '\n') {
        line += c;
        continue;
      }
      index += "> " + MarkdownText(line) + "\n";
      line.clear();
    }
    std::string buttons, answered;
    for (const auto& [id, label] : w.buttons) {
      const std::string shown = MarkdownText(ButtonLabel(label));
      buttons += (buttons.empty() ? "" : ", ") + shown + (id == w.defaultButton ? " (default)" : "");
      if (id == w.answer) answered = shown;
    }
    index += std::string(w.text.empty() ? "" : "\n") + "Buttons: " + (buttons.empty() ? std::string("none") : buttons) + ". Answered: " +
             (answered.empty() ? std::to_string(w.answer) : answered) + ".\n";
  }
  if (windows.empty()) index += "\nThe installer showed no window that asked anything.\n";
  return out.Add(o.screens + "/index.md", (const unsigned char*)index.data(), index.size(), error) && out.Commit(error);
}

// One try's directory, prefix, Wine environment and installer.
struct TryState {
  std::string logs;  // the run logs' directory, outside the prefix
  WineEnvironment env;
  BackgroundProgram xServer;  // with --screens, for the whole try
  std::string placed;         // the installer, linked into the try's directory
  Snapshot before, after;
};

// Copies the base prefix and places the installer; with --screens, starts
// the virtual screen. Then the snapshot before the installation.
bool Prepare(const TryOptions& o, const std::string& work, const BasePrefix& base, TryState& t, TryReport& report,
             std::string& error) {
  std::vector<std::string> volumes;
  ReadSettings(report.installer, report, volumes);
  if (mkdir(t.env.home.c_str(), 0700) != 0) {
    error = "cannot create " + PrintablePath(t.env.home) + ": " + strerror(errno);
    return false;
  }
  if (!PlaceInstaller(report.installer, volumes, work + "/media", t.placed, error)) return false;
  t.logs = work + "/logs";
  if (mkdir(t.logs.c_str(), 0700) != 0) {
    error = "cannot create " + PrintablePath(t.logs) + ": " + strerror(errno);
    return false;
  }
  Stage("copying the base prefix");
  if (!CopyPrefix(base.prefix, t.env.prefix, error)) return false;
  if (!o.screens.empty()) {
    Stage("starting a virtual screen");
    if (!StartXServer(t.xServer, work, t.env.display, error) || !UseXDriver(t.env, error)) return false;
    report.screens = o.screens;
  }
  Snapshot baseSnapshot;
  std::vector<unsigned char> data;
  std::string ignored;  // without the base's snapshot every file is read
  const bool haveBase = !base.snapshotFile.empty() && ReadWholeFile(base.snapshotFile, data, ignored) &&
                        LoadSnapshot(std::string(data.begin(), data.end()), baseSnapshot, ignored);
  if (Snap(t.env.prefix, haveBase ? &baseSnapshot : nullptr, t.before, SnapshotReuse::kCopySource, error)) return true;
  error = "the snapshot before the installation: " + error;
  return false;
}

// The installation (silent, or with --screens as a person would) and the
// snapshot after it.
bool Install(const TryOptions& o, const std::string& work, TryState& t, TryReport& report, std::string& error) {
  const std::string log = t.logs + "/install.log";
  std::string line = "\"" + WindowsPathOf(t.placed) + "\"" + (o.screens.empty() ? " " + SilentSwitches(log) : "");
  if (!o.dir.empty()) line += " /d:\"" + o.dir + "\"";
  for (const std::string& a : o.installerArgs) line += " " + a;
  Stage("installing: " + PrintablePath(line));
  if (o.screens.empty()) {
    report.install = RunThroughRobot(t.env, o.robot, WindowsPathOf(t.placed), line, log, o.timeout);
  } else {
    std::vector<std::string> pictures;
    report.install = RunOnScreen(t.env, o, WindowsPathOf(t.placed), line, work, pictures);
    std::string why;
    if (!WriteScreens(o, report, pictures, why)) report.screensProblem = "the pictures of the windows: " + why;
    for (const std::string& p : pictures)
      if (p.empty()) report.screensProblem = "a picture of a window could not be taken (Xvfb, import and convert)";
  }
  EndPrefix(t.env);
  if (!Snap(t.env.prefix, &t.before, t.after, SnapshotReuse::kSamePrefix, error)) {
    error = "the snapshot after the installation: " + error;
    return false;
  }
  report.installChanges = DiffSnapshots(t.before, t.after);
  ReadInstallLogs(t.env.prefix, report);
  report.uninstallEntries = UninstallEntries(report.installChanges, t.after);
  report.afterInstall = t.after;
  return true;
}

// Runs one Uninstall entry's UninstallString silently and waits for the
// self-deleting batch.
void RemoveEntry(const TryOptions& o, TryState& t, const std::string& key, TryReport& report) {
  const RegistryValue& value = t.after.keys.at(FoldCase(key)).values.at("uninstallstring");
  std::vector<std::string> strings;
  if (!RegistryDataStrings(value.data, strings) || strings.empty()) return;
  const std::string log = t.logs + "/uninstall-" + std::to_string(report.uninstall.size() + 1) + ".log";
  ProgramRun run;
  run.silent = true;
  run.commandLine = strings[0] + " " + SilentSwitches(log);
  std::string ansi, bad;
  Stage("removing: " + PrintablePath(run.commandLine));
  if (!Utf8ToCp1252(run.commandLine, ansi, bad)) {
    run.problem = "the UninstallString has a character without a Windows-1252 form: " + PrintablePath(bad);
    report.uninstall.push_back(run);
    return;
  }
  report.uninstall.push_back(
      RunThroughRobot(t.env, o.robot, UninstallProgram(t.env.prefix, strings[0]), run.commandLine, log, o.timeout));
  const double start = Now();
  while (BatchRunning(t.env.prefix) && Now() - start < kBatchWaitSeconds) usleep(100000);
  if (BatchRunning(t.env.prefix))
    report.batchProblem = "the uninstaller's self-deleting batch did not finish within " +
                          std::to_string((int)kBatchWaitSeconds) + " s";
}

// The removal through every Uninstall entry, and what it left.
bool Remove(const TryOptions& o, TryState& t, TryReport& report, std::string& error) {
  for (const std::string& key : report.uninstallEntries) RemoveEntry(o, t, key, report);
  EndPrefix(t.env);
  report.leftChecked = true;
  if (report.uninstall.empty()) {
    report.left = report.installChanges;  // nothing removed anything
    return true;
  }
  Snapshot removed;
  if (!Snap(t.env.prefix, &t.after, removed, SnapshotReuse::kSamePrefix, error)) {
    report.leftChecked = false;
    error = "the snapshot after the removal: " + error;
    return false;
  }
  report.left = DiffSnapshots(t.before, removed);
  return true;
}

// The try itself, in a directory of its own; the caller removes it.
void Try(const TryOptions& o, const std::string& work, const BasePrefix& base, TryReport& report) {
  TryState t;
  t.env = WineEnvironment{work + "/prefix", work + "/home", ""};
  std::string error;
  report.uninstallWanted = o.uninstall;
  if (!Prepare(o, work, base, t, report, error)) {
    report.install.problem = error;  // the installer could not be run
  } else if (!Install(o, work, t, report, error) || (o.uninstall && !Remove(o, t, report, error))) {
    report.failure = error;
  }
  JudgeTry(report);
}

void CopyVersion(std::string& version) {
  while (!version.empty() && (version.back() == '\n' || version.back() == '\r' || version.back() == ' ')) version.pop_back();
}

}  // namespace

int RunTry(int argc, char** argv) {
  TryOptions o;
  const int rc = ParseTry(argc, argv, o);
  if (rc >= 0) return rc;
  TryReport report;
  uint64_t size = 0;
  FileIdentity identity;
  std::string error;
  if (!StatRegularFile(o.setup, size, identity, error)) return Fail(PrintablePath(error));
  report.installer = Absolute(o.setup);
  if (!StatRegularFile(o.robot, size, identity, error))
    return Fail("the UI robot " + PrintablePath(o.robot) +
                " cannot be read (make build puts it beside truxpack in dist/, make install into lib/truxpack/ beside "
                "bin/; give it with --robot FILE)");
  o.robot = Absolute(o.robot);
  Stage("the UI robot: " + PrintablePath(o.robot));
  if (!CheckWine(report.wineVersion, error)) return Fail(error);
  if (!o.screens.empty())
    for (const char* tool : {"Xvfb", "import", "convert"})
      if (FindProgram(tool).empty())
        return Fail(std::string("--screens needs ") + tool +
                    " on PATH (on Debian or Ubuntu: sudo apt-get install xvfb imagemagick)");
  CopyVersion(report.wineVersion);

  BasePrefix base;
  if (!o.base.empty()) {
    struct stat st;
    base.prefix = Absolute(o.base);
    if (base.prefix.empty() || stat((base.prefix + "/system.reg").c_str(), &st) != 0 ||
        stat((base.prefix + "/drive_c").c_str(), &st) != 0)
      return Fail(PrintablePath(o.base) + " is not a Wine prefix (no system.reg and drive_c in it)");
  } else if (!FindOrMakeBasePrefix(report.wineVersion, Verbosity() == 0, base, error)) {
    return Fail(error);
  }
  const std::string work = MakeTryDirectory(error);
  if (work.empty()) return Fail(error);
  // The installer and its run log are named on a Windows command line.
  if (!PlainAscii(WindowsPathOf(work))) {
    RemoveTree(work);
    return Fail("the try's directory " + PrintablePath(work) +
                " cannot be named on a Windows command line (printable ASCII without quotes): set TMPDIR to such a directory");
  }
  Try(o, work, base, report);
  if (o.keep) report.keptPrefix = work + "/prefix";
  if (o.json) PrintJsonReport(report, stdout);
  else PrintTextReport(report, stdout);
  fflush(stdout);
  if (o.keep) {
    if (Verbosity() > 0) fprintf(stderr, "truxpack try: the prefix is kept: %s\n", PrintablePath(report.keptPrefix).c_str());
  } else {
    RemoveTree(work);
  }
  return report.exitCode;
}

int RunSnapshot(int argc, char** argv) {
  ParsedArgs args;
  const int rc = ParseArgs(kSnapshotCommand, argc, argv, args);
  if (rc >= 0) return rc;
  if (!args.Has("output")) return Usage("truxpack snapshot PREFIX -o FILE [--reuse FILE] (-o is required)");
  std::string error;
  Snapshot previous, snapshot;
  if (args.Has("reuse")) {
    std::vector<unsigned char> data;
    if (!ReadWholeFile(args.Get("reuse"), data, error)) return Fail(PrintablePath(error));
    if (!LoadSnapshot(std::string(data.begin(), data.end()), previous, error))
      return Fail(PrintablePath(args.Get("reuse")) + ": " + error);
  }
  if (!TakeSnapshot(args.positional[0], args.Has("reuse") ? &previous : nullptr, snapshot, error))
    return Fail(error);
  const std::string text = SaveSnapshot(snapshot);
  if (!WriteWholeFileAtomically(args.Get("output"), (const unsigned char*)text.data(), text.size(), error))
    return Fail(PrintablePath(error));
  return 0;
}

int RunDiff(int argc, char** argv) {
  ParsedArgs args;
  const int rc = ParseArgs(kDiffCommand, argc, argv, args);
  if (rc >= 0) return rc;
  Snapshot snapshots[2];
  for (int i = 0; i < 2; ++i) {
    std::vector<unsigned char> data;
    std::string error;
    if (!ReadWholeFile(args.positional[(size_t)i], data, error)) return Fail(PrintablePath(error));
    if (!LoadSnapshot(std::string(data.begin(), data.end()), snapshots[i], error))
      return Fail(PrintablePath(args.positional[(size_t)i]) + ": " + error);
  }
  const bool all = args.Has("all");
  for (const Difference& d : DiffSnapshots(snapshots[0], snapshots[1])) {
    if (d.housekeeping && !all) continue;
    printf("%s\n", DifferenceLine(d).c_str());
    if (d.housekeeping) printf("    Wine's own housekeeping: %s\n", d.housekeeping);
  }
  return 0;
}
