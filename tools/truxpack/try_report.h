// The report of `truxpack try`: what an installation did to a throwaway
// Windows, grouped as a person thinks of it, and what its removal left, as
// text for people and as one JSON document for CI systems (the schema is in
// docs/truxpack.md, "Trying an installer").
#pragma once
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "tools/truxpack/snapshot_diff.h"

// A message box or dialog the program showed, read by the robot, or one a
// silent run answered without showing it, read from its run log.
struct ShownWindow {
  bool dialog = false;  // a dialog rather than a message box
  bool shown = true;    // false: answered by a silent run itself (its run log names it)
  std::string caption, text;  // UTF-8; a dialog from the run log is named by its template
  std::vector<std::pair<int, std::string>> buttons;  // id, label (none for a box not shown)
  int defaultButton = 0;
  int answer = 0;  // the button pressed: IDOK 1, IDCANCEL 2, ... IDNO 7
  int rect[4] = {0, 0, 0, 0};  // with --screens: left, top, right, bottom on the screen
  std::string screenshot;      // with --screens: the picture's file name
};

// One run of the installer or uninstaller.
struct ProgramRun {
  bool ran = false;
  bool silent = false;       // run with /s and /l:, so its exit code tells the outcome
  std::string commandLine;   // as Windows received it
  std::string problem;       // why it could not be run or did not end, empty when it ended
  bool timedOut = false;
  int64_t exitCode = -1;     // -1 when it did not end by itself
  double seconds = 0;
  std::vector<ShownWindow> windows;  // the robot's first, then those of the run log
  std::vector<std::string> errors;   // the error texts the run log holds (UTF-8)
  std::string logProblem;    // why the run log could not be read, or not whole, or disagrees
  bool Fatal() const;        // a box titled "FATAL ERROR" appeared
};

// Parses what the robot's until-exit --report printed.
std::vector<ShownWindow> ParseRobotReport(const std::string& out);

// What the run log of one silent run (/l:) says: the boxes and dialogs it
// answered without showing them, its error texts and its exit code.
struct RunLog {
  std::vector<ShownWindow> windows;
  std::vector<std::string> errors;  // "Errors:" and the error reports automatic mode keeps off the screen
  int64_t exitCode = -1;            // the last "Exit code:" line's, -1 without one
  bool gapMayHideEntries = false;   // an unread middle part may have held a box
};

// Parses a run log (Windows-1252, lines ending in CR LF). A log too long to
// read whole comes as its head and its tail (tail non-null): the head's last
// line and the tail's first may be cut and are dropped, and the part between
// them is unread. Every entry is read only from complete lines; a box whose
// text was cut keeps the lines that were read. Memory follows the texts.
RunLog ParseRunLog(const std::string& head, const std::string* tail = nullptr);

// Adds what the run log says to the run: its boxes, dialogs and error
// texts, and as logProblem whatever makes it incomplete or at odds with the
// exit code the program ended with.
void ApplyRunLog(ProgramRun& run, const RunLog& log);

// Reads the run log at path into run (ApplyRunLog): the whole log when it
// holds at most headLimit + tailLimit bytes, else its first headLimit and
// its last tailLimit bytes. A log that cannot be read becomes
// run.logProblem.
void ReadRunLog(const std::string& path, uint64_t headLimit, uint64_t tailLimit, ProgramRun& run);

// What a silent run's exit code means: "completed", "completed; a restart
// is needed to finish", "cancelled", "failed", "bad command line"; null for
// a code no silent run gives.
const char* SilentExitMeaning(int64_t code);
// Whether a silent run with that code did its work (0, 3010).
bool SilentSuccess(int64_t code);

// The groups of the report, in the order they are shown.
enum class ReportGroup {
  kFiles,
  kShortcuts,
  kAssociations,
  kComRegistrations,
  kFonts,
  kSharedCounts,
  kRestartReplacements,
  kUninstallEntry,
  kInstallLog,
  kRegistry,  // product keys and other registry values
};
ReportGroup GroupOf(const Difference& d);
const char* GroupTitle(ReportGroup g);
const char* GroupJsonName(ReportGroup g);

// A batch of commands the installer's settings hold.
struct BatchCommands {
  std::string when;      // "pre_install", "post_install", "on_exit", "uninstall_first", "uninstall_last"
  std::string commands;  // UTF-8
};

struct TryReport {
  std::string installer;          // the file tried
  std::string product, version;   // from its settings, when they could be read
  std::string readProblem;        // why the settings could not be read (truxpack verify would say so too)
  std::vector<BatchCommands> batches;
  std::string wineVersion;
  std::string keptPrefix;         // with --keep: the prefix left for inspection
  ProgramRun install;
  bool installed = false;         // the installation succeeded (see TryOutcome)
  std::vector<Difference> installChanges;  // snapshot 1 -> 2, housekeeping included
  Snapshot afterInstall;                   // for shortcut targets
  std::vector<std::string> installLog;     // the lines Install.LOG gained
  bool uninstallWanted = true;             // false with --no-uninstall
  std::vector<std::string> uninstallEntries;  // keys of the Uninstall entries the installation made
  std::vector<ProgramRun> uninstall;       // one per entry
  std::string batchProblem;                // the self-deleting batch did not finish
  bool leftChecked = false;
  std::vector<Difference> left;            // snapshot 1 -> 3, housekeeping included
  std::string screens;                     // with --screens: the directory of the pictures and index.md
  std::string screensProblem;              // why they could not all be taken or written
  std::string failure;                     // what stopped the try itself after the installation ran
  std::vector<std::string> problems;       // everything that makes the try fail, one line each
  int exitCode = 0;
};

// Fills problems, installed and exitCode from what the try saw: 0 when the
// installation succeeded and nothing was left behind, 1 otherwise.
void JudgeTry(TryReport& report);

void PrintTextReport(const TryReport& report, FILE* out);
void PrintJsonReport(const TryReport& report, FILE* out);
