// Running Windows programs under Wine for `truxpack try`: whether this
// machine can, the cached base prefix made once per Wine version, a fresh
// throwaway prefix copied from it, and programs run in that prefix with a
// time limit.
//
// Every Wine program runs with the same environment: an explicit prefix
// (never ~/.wine), a 32-bit prefix, Wine's debug output off, Mono, Gecko and
// the desktop-menu builder disabled (no download prompt, nothing written to
// the host's menus), no display (the base prefix uses Wine's null graphics
// driver: windows exist and can be driven, nothing is drawn), and a HOME of
// the try's own, so that nothing Wine does reaches the user's home.
#pragma once
#include <string>
#include <vector>

struct ProcessResult {
  bool started = false;
  std::string startError;  // why it could not be started
  bool timedOut = false;   // killed at the time limit
  int exitCode = -1;       // -1 when it did not end by itself
  int signal = 0;          // the signal that ended it
  std::string out, err;    // what it wrote, each kept up to a limit
  double seconds = 0;
};

// Runs argv (the program found through PATH) with env applied to this
// process's environment ("NAME=VALUE" sets, "NAME" alone removes), standard
// input from /dev/null, and its output captured (at most 4 MiB of each
// stream; the rest is read and dropped). After timeoutSeconds the program
// and its process group are killed.
ProcessResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         double timeoutSeconds);

// A program running beside truxpack (the X server of --screens, the robot
// it coordinates with): started like RunProgram, its standard output and
// error going to files. Ending it kills its process group.
class BackgroundProgram {
 public:
  BackgroundProgram() = default;
  BackgroundProgram(const BackgroundProgram&) = delete;
  BackgroundProgram& operator=(const BackgroundProgram&) = delete;
  ~BackgroundProgram() { Kill(); }
  // False with error when it cannot be started.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& outFile,
             const std::string& errFile, std::string& error);
  bool Running();          // false once it has ended (its exit code is then known)
  int ExitCode() const { return exitCode_; }  // -1 while running or when killed
  void Kill();

 private:
  int pid_ = -1;
  int exitCode_ = -1;
};

// Whether Wine can run 32-bit programs here, checked the way
// scripts/can-run-wine does: its 32-bit loader ($TRUX_WINE_LOADER or
// /usr/lib/wine/wine) must exist and answer --version, and wine, wineserver
// and wineboot must be on PATH. On success version is the loader's answer
// ("wine-8.0 (Debian 8.0~repack-4)"); otherwise message says plainly what
// is missing and how to get it.
bool CheckWine(std::string& version, std::string& message);

// The environment of every Wine program of one try.
struct WineEnvironment {
  std::string prefix;   // WINEPREFIX
  std::string home;     // HOME and the XDG directories under it
  std::string display;  // DISPLAY, or empty for none
  std::vector<std::string> Entries() const;
};

// The program's path found through PATH (or name itself when it holds a
// slash); empty when it is not there.
std::string FindProgram(const std::string& name);

// Runs a Wine program (wine, wineserver, wineboot ...) in the environment.
ProcessResult RunWine(const WineEnvironment& env, const std::vector<std::string>& argv, double timeoutSeconds);

// The cached base prefix for this Wine version, made when it is missing:
// $XDG_CACHE_HOME/truxpack/wine-base-VERSION/prefix (XDG_CACHE_HOME
// defaulting to ~/.cache). Making it (wineboot, about ten seconds on a fast
// machine, minutes in an emulator) is announced on stderr unless quiet.
// Concurrent tries wait for one another through a lock file. Returns false
// with a one-line error.
struct BasePrefix {
  std::string prefix;        // the prefix directory
  std::string snapshotFile;  // its snapshot, for reusing the hashes of the copy's files
};
bool FindOrMakeBasePrefix(const std::string& version, bool quiet, BasePrefix& base, std::string& error);

// A new directory of the try's own under $TMPDIR (or /tmp), mode 0700,
// with an unpredictable name. Empty with error on failure.
std::string MakeTryDirectory(std::string& error);

// Copies the base prefix to dest (which must not exist), links and times
// kept. False with error.
bool CopyPrefix(const std::string& base, const std::string& dest, std::string& error);

// Removes a directory tree of the try's own (no link is followed).
void RemoveTree(const std::string& path);

// A Unix path as Wine's Windows programs name it (Z: is the whole file system).
std::string WindowsPathOf(const std::string& unixPath);
