// Test helpers shared by the authoring tool's host tests: a synthetic stub
// shaped like the runtime's, and a scratch directory removed afterwards.
#pragma once
#include <stdint.h>
#include <string.h>
#include <unistd.h>

#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace trux_test {

using Bytes = std::vector<unsigned char>;
namespace fs = std::filesystem;

inline void Put16(Bytes& d, size_t at, uint32_t v) {
  d[at] = (unsigned char)v;
  d[at + 1] = (unsigned char)(v >> 8);
}
inline void Put32(Bytes& d, size_t at, uint32_t v) {
  Put16(d, at, v & 0xFFFF);
  Put16(d, at + 2, v >> 16);
}
inline uint32_t Get32(const Bytes& d, size_t at) {
  return (uint32_t)d[at] | ((uint32_t)d[at + 1] << 8) | ((uint32_t)d[at + 2] << 16) | ((uint32_t)d[at + 3] << 24);
}

inline constexpr uint32_t kPe = 0x80;
inline constexpr uint32_t kOptionalSize = 224;
inline constexpr uint32_t kTable = kPe + 24 + kOptionalSize;

// A minimal PE32 image shaped like the runtime stub: 0x400 bytes of headers,
// sections of 0x200 file bytes each with distinct contents.
inline Bytes MakeStub(uint32_t sections = 4) {
  Bytes f(0x400 + sections * 0x200, 0);
  f[0] = 'M';
  f[1] = 'Z';
  Put32(f, 0x3C, kPe);
  memcpy(&f[kPe], "PE\0\0", 4);
  Put16(f, kPe + 4, 0x14C);
  Put16(f, kPe + 6, sections);
  Put16(f, kPe + 20, kOptionalSize);
  const size_t opt = kPe + 24;
  Put16(f, opt, 0x10B);
  Put32(f, opt + 8, sections * 0x200);            // SizeOfInitializedData
  Put32(f, opt + 32, 0x1000);                     // SectionAlignment
  Put32(f, opt + 36, 0x200);                      // FileAlignment
  Put32(f, opt + 56, 0x1000 * (sections + 1));    // SizeOfImage
  Put32(f, opt + 60, 0x400);                      // SizeOfHeaders
  Put32(f, opt + 64, 0x1234);                     // CheckSum: must stay as it is
  for (uint32_t i = 0; i < sections; ++i) {
    size_t h = kTable + i * 40;
    f[h] = '.';
    f[h + 1] = (char)('a' + i);
    Put32(f, h + 8, 0x100);
    Put32(f, h + 12, 0x1000 * (i + 1));
    Put32(f, h + 16, 0x200);
    Put32(f, h + 20, 0x400 + i * 0x200);
    for (size_t k = 0; k < 0x200; ++k) f[0x400 + i * 0x200 + k] = (unsigned char)(i * 31 + k);
  }
  return f;
}

// MakeStub with the 16 data directories a real PE32 image has: a signing
// tool needs the security directory (entry 4) to exist.
inline Bytes MakeSignableStub() {
  Bytes f = MakeStub();
  Put32(f, kPe + 24 + 92, 16);  // NumberOfRvaAndSizes
  return f;
}

struct TempDir {
  fs::path path;
  TempDir() {
    path = fs::temp_directory_path() / ("truxpack_test_" + std::to_string(getpid()) + "_" + std::to_string(++counter));
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempDir() { fs::remove_all(path); }
  void Write(const std::string& name, const std::string& content) const {
    fs::create_directories((path / name).parent_path());
    std::ofstream(path / name, std::ios::binary) << content;
  }
  static inline int counter = 0;
};

#ifdef TRUXPACK_BINARY
// The tool run as a separate process, as its users run it.
struct Outcome {
  int code = -1;
  long peakKb = -1;  // the tool's maximum resident set, when measured
  std::string out, err;
};

inline std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The peak is measured by /usr/bin/time, a small program of its own: a
// child forked from this (large) test process would carry the test's
// resident size into its own maximum across exec.
inline constexpr char kTimeProgram[] = "/usr/bin/time";

// Another user of the machine, for attacks made by someone unprivileged.
struct User {
  uid_t uid;
  gid_t gid;
  std::string tool;  // a copy of the tool this user can run (the build tree may be closed to it)
};

// In a child process: becomes user for good; false when that fails.
inline bool BecomeUser(const User& u) {
  return setgroups(0, nullptr) == 0 && setgid(u.gid) == 0 && setuid(u.uid) == 0 && getuid() == u.uid;
}

// In a child process: enters cwd and sends standard output to the
// descriptor out and standard error to err (-1 leaves a stream as it is);
// exit code 126 when cwd cannot be entered.
inline void EnterAndRedirect(const fs::path& cwd, int out, int err) {
  if (chdir(cwd.c_str()) != 0) _exit(126);
  if (out >= 0) dup2(out, 1);
  if (err >= 0) dup2(err, 2);
}

// Waits for the child process pid to end: its exit code, or 128 plus the
// number of the signal that ended it.
inline int WaitForExit(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// In a child process: replaces it with the program line[0] and its
// arguments; exit code 127 when that program cannot be started.
[[noreturn]] inline void ExecLine(std::vector<std::string> line) {
  std::vector<char*> argv;
  for (std::string& a : line) argv.push_back(a.data());
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

// In a child process: replaces it with the tool run with args.
[[noreturn]] inline void ExecTruxpack(const std::vector<std::string>& args) {
  std::vector<std::string> line{TRUXPACK_BINARY};
  line.insert(line.end(), args.begin(), args.end());
  ExecLine(std::move(line));
}

// Runs the tool with args in directory cwd, with extra environment entries;
// as another user when `as` is given; measure: also its peak memory.
inline Outcome Truxpack(const fs::path& cwd, std::vector<std::string> args, std::vector<std::string> env = {},
                        const User* as = nullptr, bool measure = false) {
  fs::path out = cwd / ".run-out", err = cwd / ".run-err", peak = cwd / ".run-peak";
  pid_t pid = fork();
  if (pid == 0) {
    EnterAndRedirect(cwd, open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
                     open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
    if (as && !BecomeUser(*as)) _exit(125);
    for (std::string& v : env) putenv(v.data());
    std::vector<std::string> line;
    if (measure) line = {kTimeProgram, "-f", "%M", "-o", peak.string()};
    line.push_back(as && !as->tool.empty() ? as->tool : std::string(TRUXPACK_BINARY));
    line.insert(line.end(), args.begin(), args.end());
    ExecLine(std::move(line));
  }
  Outcome r;
  r.code = WaitForExit(pid);
  if (measure) {
    // The last line of the report is the peak in kilobytes.
    std::istringstream report(Slurp(peak));
    std::string text;
    while (std::getline(report, text))
      if (!text.empty() && text[0] >= '0' && text[0] <= '9') r.peakKb = std::stol(text);
    fs::remove(peak);
  }
  r.out = Slurp(out);
  r.err = Slurp(err);
  fs::remove(out);
  fs::remove(err);
  return r;
}
#endif

}  // namespace trux_test
