#include "tools/truxpack/wine_session.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "tools/truxpack/file_io.h"
#include "tools/truxpack/names.h"
#include "tools/truxpack/prefix_snapshot.h"

extern char** environ;

namespace {

constexpr size_t kOutputLimit = 4u << 20;
constexpr double kWinebootSeconds = 900;  // a fresh prefix takes minutes in an emulated machine
constexpr char kDefaultLoader[] = "/usr/lib/wine/wine";
constexpr char kInstallHint[] =
    "on Debian or Ubuntu: sudo dpkg --add-architecture i386 && sudo apt-get update && "
    "sudo apt-get install wine wine32:i386";

double Now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + ts.tv_nsec * 1e-9;
}

std::string FindOnPath(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  for (;;) {
    size_t end = dirs.find(':', start);
    std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (dir.empty()) dir = ".";
    std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    if (end == std::string::npos) return std::string();
    start = end + 1;
  }
}

// This process's environment with the changes applied.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& changes) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.push_back(*e);
  for (const std::string& change : changes) {
    const size_t eq = change.find('=');
    const std::string name = change.substr(0, eq);
    for (size_t i = 0; i < env.size();) {
      if (env[i].compare(0, name.size() + 1, name + "=") == 0) env.erase(env.begin() + (long)i);
      else ++i;
    }
    if (eq != std::string::npos) env.push_back(change);
  }
  return env;
}

void ReadSome(int& fd, std::string& into) {
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      if (into.size() < kOutputLimit) into.append(buf, std::min((size_t)n, kOutputLimit - into.size()));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) {
      close(fd);
      fd = -1;
    }
    return;  // EAGAIN: nothing more for now
  }
}

// Creates path and any missing directory above it (mode 0700), and checks
// that path is a directory of this user's own, not a link.
bool MakePrivateDirectory(const std::string& path, std::string& error) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
    mkdir(path.substr(0, slash).c_str(), 0700);  // a failure shows below, at path itself
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot create " + PrintablePath(path) + ": " + strerror(errno);
    return false;
  }
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) {
    error = PrintablePath(path) + " is not a directory of this user's own";
    return false;
  }
  return true;
}

std::string Sanitized(const std::string& version) {
  std::string out;
  for (char c : version) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                      c == '-' || c == '_' || c == '~' || c == '+';
    out += keep ? c : '_';
  }
  return out.substr(0, 80);
}

std::string Failure(const char* what, const ProcessResult& r) {
  std::string why = !r.started ? r.startError
                    : r.timedOut ? "no end within its time limit"
                                 : "exit code " + std::to_string(r.exitCode);
  std::string err = r.err;
  while (!err.empty() && (err.back() == '\n' || err.back() == '\r')) err.pop_back();
  if (err.size() > 300) err = err.substr(err.size() - 300);
  return std::string(what) + " failed (" + why + ")" + (err.empty() ? "" : ": " + PrintablePath(err));
}

// Wine links the user's shell folders (Desktop, Documents, Templates ...)
// to the home directory; in a prefix of ours they are real directories, so
// that what an installer puts there stays inside the prefix.
bool ReplaceLinks(const std::string& dir, int depth, std::string& error) {
  if (depth > 8) return true;
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (struct dirent* e = readdir(d))
      if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    closedir(d);
  }
  for (const std::string& name : names) {
    const std::string path = dir + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISLNK(st.st_mode)) {
      if (unlink(path.c_str()) != 0 || mkdir(path.c_str(), 0755) != 0) {
        error = "cannot replace the link " + PrintablePath(path) + " with a directory: " + strerror(errno);
        return false;
      }
    } else if (S_ISDIR(st.st_mode) && !ReplaceLinks(path, depth + 1, error)) {
      return false;
    }
  }
  return true;
}

bool MakeBasePrefix(const std::string& version, const std::string& work, std::string& error) {
  WineEnvironment env{work + "/prefix", work + "/home", ""};
  if (!MakePrivateDirectory(env.home, error)) return false;
  ProcessResult r = RunWine(env, {"wineboot", "-i"}, kWinebootSeconds);
  if (r.exitCode != 0) {
    error = Failure("wineboot -i", r);
    return false;
  }
  r = RunWine(env, {"wineserver", "-w"}, kWinebootSeconds);
  if (!ReplaceLinks(env.prefix + "/drive_c/users", 0, error)) return false;
  // Windows, dialogs and message boxes exist without a display; nothing is drawn.
  r = RunWine(env, {"wine", "reg", "add", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics", "/d", "null", "/f"},
              kWinebootSeconds);
  if (r.exitCode != 0) {
    error = Failure("wine reg add (the null graphics driver)", r);
    return false;
  }
  r = RunWine(env, {"wineserver", "-w"}, kWinebootSeconds);
  RemoveTree(env.home);
  Snapshot snapshot;
  if (!TakeSnapshot(env.prefix, nullptr, snapshot, error)) return false;
  const std::string text = SaveSnapshot(snapshot);
  return WriteWholeFileAtomically(work + "/snapshot", (const unsigned char*)text.data(), text.size(), error) &&
         WriteWholeFileAtomically(work + "/ready", (const unsigned char*)version.data(), version.size(), error);
}

int RemoveOne(const char* path, const struct stat*, int type, struct FTW*) {
  if (type == FTW_DP) rmdir(path);
  else unlink(path);
  return 0;
}

// The null-terminated pointer array execve takes; the strings must outlive it.
std::vector<char*> ExecVector(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (const std::string& text : strings) pointers.push_back(const_cast<char*>(text.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

bool BackgroundProgram::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                              const std::string& outFile, const std::string& errFile, std::string& error) {
  const std::string program = FindOnPath(argv[0]);
  if (program.empty()) {
    error = argv[0] + " is not on PATH";
    return false;
  }
  const std::vector<std::string> envText = MergedEnvironment(env);
  std::vector<char*> args = ExecVector(argv), envp = ExecVector(envText);
  const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (out < 0 || err < 0) {
    error = "cannot create " + PrintablePath(out < 0 ? outFile : errFile) + ": " + strerror(errno);
    if (out >= 0) close(out);
    if (err >= 0) close(err);
    return false;
  }
  pid_ = fork();
  if (pid_ == 0) {
    setpgid(0, 0);
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(out, 1);
    dup2(err, 2);
    execve(program.c_str(), args.data(), envp.data());
    _exit(127);
  }
  close(out);
  close(err);
  if (pid_ < 0) {
    error = std::string("cannot start a process: ") + strerror(errno);
    return false;
  }
  return true;
}

bool BackgroundProgram::Running() {
  if (pid_ < 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
  exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  pid_ = -1;
  return false;
}

void BackgroundProgram::Kill() {
  if (pid_ < 0) return;
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

ProcessResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         double timeoutSeconds) {
  ProcessResult r;
  const double start = Now();
  const std::string program = FindOnPath(argv[0]);
  if (program.empty()) {
    r.startError = argv[0] + " is not on PATH";
    return r;
  }
  const std::vector<std::string> envText = MergedEnvironment(env);
  std::vector<char*> args = ExecVector(argv), envp = ExecVector(envText);
  int out[2], err[2], status[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 || pipe2(status, O_CLOEXEC) != 0) {
    r.startError = std::string("cannot make a pipe: ") + strerror(errno);
    return r;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    // execve, not execvp: a file the kernel refuses (a 32-bit loader on a
    // machine without 32-bit support) is reported, never handed to /bin/sh.
    execve(program.c_str(), args.data(), envp.data());
    const int e = errno;
    ssize_t ignored = write(status[1], &e, sizeof e);
    (void)ignored;
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  close(status[1]);
  if (pid < 0) {
    r.startError = std::string("cannot start a process: ") + strerror(errno);
    close(out[0]);
    close(err[0]);
    close(status[0]);
    return r;
  }
  int execError = 0;
  const bool execFailed = read(status[0], &execError, sizeof execError) == (ssize_t)sizeof execError;
  close(status[0]);
  fcntl(out[0], F_SETFL, O_NONBLOCK);
  fcntl(err[0], F_SETFL, O_NONBLOCK);
  int fds[2] = {out[0], err[0]};
  int wstatus = 0;
  bool ended = false;
  // The program's end, not the end of its output, ends the wait: a server
  // it started in the background may keep the pipes open for good.
  while (!ended) {
    struct pollfd p[2];
    int n = 0;
    for (int fd : fds)
      if (fd >= 0) p[n++] = {fd, POLLIN, 0};
    poll(p, (nfds_t)n, 50);
    ReadSome(fds[0], r.out);
    ReadSome(fds[1], r.err);
    if (waitpid(pid, &wstatus, WNOHANG) == pid) {
      ended = true;
    } else if (Now() - start > timeoutSeconds) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      waitpid(pid, &wstatus, 0);
      r.timedOut = true;
      ended = true;
    }
  }
  if (fds[0] >= 0) ReadSome(fds[0], r.out);
  if (fds[1] >= 0) ReadSome(fds[1], r.err);
  for (int fd : fds)
    if (fd >= 0) close(fd);
  r.seconds = Now() - start;
  if (execFailed) {
    r.startError = program + ": " + strerror(execError);
    r.exitCode = execError == ENOEXEC ? 126 : 127;
    return r;
  }
  r.started = true;
  if (!r.timedOut && WIFEXITED(wstatus)) r.exitCode = WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
  return r;
}

bool CheckWine(std::string& version, std::string& message) {
  const char* given = getenv("TRUX_WINE_LOADER");
  const std::string loader = given && *given ? given : kDefaultLoader;
  if (access(loader.c_str(), F_OK) != 0) {
    message = "Wine's 32-bit loader " + PrintablePath(loader) +
              " is not installed: truxpack try runs the installer under 32-bit Wine (" + kInstallHint +
              "; TRUX_WINE_LOADER names a loader installed elsewhere)";
    return false;
  }
  ProcessResult r = RunProgram({loader, "--version"}, {}, 60);
  if (r.exitCode == 126 || r.out.find("Exec format error") != std::string::npos ||
      r.err.find("Exec format error") != std::string::npos) {
    message = "this machine's kernel runs no 32-bit programs (" + PrintablePath(loader) +
              ": Exec format error): truxpack try needs an x86 machine whose kernel runs 32-bit programs "
              "(IA-32 emulation on)";
    return false;
  }
  if (r.exitCode != 0) {
    message = "Wine's 32-bit loader fails on a machine that should run it: " + Failure((loader + " --version").c_str(), r);
    return false;
  }
  for (const char* tool : {"wine", "wineserver", "wineboot"}) {
    if (FindOnPath(tool).empty()) {
      message = std::string(tool) + " is not on PATH: truxpack try runs the installer under 32-bit Wine (" +
                kInstallHint + ")";
      return false;
    }
  }
  version = r.out.substr(0, r.out.find('\n'));
  if (version.empty()) version = "wine (no version given)";
  return true;
}

std::vector<std::string> WineEnvironment::Entries() const {
  return {"WINEPREFIX=" + prefix,
          "WINEARCH=win32",
          "WINEDEBUG=-all",
          "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d",
          "HOME=" + home,
          "XDG_DATA_HOME=" + home + "/.local/share",
          "XDG_CONFIG_HOME=" + home + "/.config",
          "XDG_CACHE_HOME=" + home + "/.cache",
          display.empty() ? "DISPLAY" : "DISPLAY=" + display,
          "WAYLAND_DISPLAY"};
}

std::string FindProgram(const std::string& name) { return FindOnPath(name); }

ProcessResult RunWine(const WineEnvironment& env, const std::vector<std::string>& argv, double timeoutSeconds) {
  return RunProgram(argv, env.Entries(), timeoutSeconds);
}

bool FindOrMakeBasePrefix(const std::string& version, bool quiet, BasePrefix& base, std::string& error) {
  const char* xdg = getenv("XDG_CACHE_HOME");
  const char* home = getenv("HOME");
  std::string cache;
  if (xdg && xdg[0] == '/') cache = xdg;
  else if (home && home[0] == '/') cache = std::string(home) + "/.cache";
  else {
    error = "neither XDG_CACHE_HOME nor HOME names a directory for the cached Wine prefix";
    return false;
  }
  const std::string dir = cache + "/truxpack";
  if (!MakePrivateDirectory(cache, error) || !MakePrivateDirectory(dir, error)) return false;
  const std::string finalDir = dir + "/wine-base-" + Sanitized(version);
  base.prefix = finalDir + "/prefix";
  base.snapshotFile = finalDir + "/snapshot";
  if (access((finalDir + "/ready").c_str(), F_OK) == 0) return true;

  const std::string lockPath = finalDir + ".lock";
  int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (lock < 0 || flock(lock, LOCK_EX) != 0) {
    error = "cannot lock " + PrintablePath(lockPath) + ": " + strerror(errno);
    if (lock >= 0) close(lock);
    return false;
  }
  bool ok = true;
  if (access((finalDir + "/ready").c_str(), F_OK) != 0) {  // another try may have made it meanwhile
    if (!quiet)
      fprintf(stderr, "truxpack try: making the base Wine prefix for %s in %s (once per Wine version)\n",
              PrintablePath(version).c_str(), PrintablePath(finalDir).c_str());
    std::string work = dir + "/.wine-base-XXXXXX";
    if (!mkdtemp(&work[0])) {
      error = "cannot create a directory in " + PrintablePath(dir) + ": " + strerror(errno);
      ok = false;
    } else if (!MakeBasePrefix(version, work, error)) {
      RemoveTree(work);
      ok = false;
    } else {
      RemoveTree(finalDir);  // an unfinished one of an earlier, interrupted try
      if (rename(work.c_str(), finalDir.c_str()) != 0) {
        error = "cannot move the base Wine prefix to " + PrintablePath(finalDir) + ": " + strerror(errno);
        RemoveTree(work);
        ok = false;
      }
    }
  }
  close(lock);
  return ok;
}

std::string MakeTryDirectory(std::string& error) {
  const char* tmp = getenv("TMPDIR");
  std::string dir = std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") + "/truxpack-try-XXXXXX";
  if (!mkdtemp(&dir[0])) {
    error = "cannot create a directory for the try in " + PrintablePath(tmp ? tmp : "/tmp") + ": " + strerror(errno);
    return std::string();
  }
  return dir;
}

bool CopyPrefix(const std::string& base, const std::string& dest, std::string& error) {
  ProcessResult r = RunProgram({"cp", "-a", "--reflink=auto", "--", base, dest}, {}, 600);
  if (r.exitCode != 0) {
    error = Failure(("copying the base Wine prefix " + base).c_str(), r);
    return false;
  }
  return true;
}

void RemoveTree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    unlink(path.c_str());
    return;
  }
  nftw(path.c_str(), RemoveOne, 32, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

std::string WindowsPathOf(const std::string& unixPath) {
  std::string out = "Z:" + unixPath;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}
