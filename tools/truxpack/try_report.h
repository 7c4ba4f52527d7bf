// The report of `truxpack try`: what an installation did to a throwaway
// Windows, grouped as a person thinks of it, and what its removal left, as
// text for people and as one JSON document for CI systems (the schema is in
// docs/truxpack.md, "Trying an installer").
#pragma once
#include <stdio.h>

#include <string>
#include <vector>

#include "tools/truxpack/snapshot_diff.h"

// A message box or dialog the program showed, read by the robot.
struct ShownWindow {
  bool dialog = false;  // a dialog rather than a message box
  std::string caption, text;  // UTF-8
  std::vector<std::pair<int, std::string>> buttons;  // id, label
  int defaultButton = 0;
  int answer = 0;  // the button the robot pressed
  int rect[4] = {0, 0, 0, 0};  // with --screens: left, top, right, bottom on the screen
  std::string screenshot;      // with --screens: the picture's file name
};

// One run of the installer or uninstaller.
struct ProgramRun {
  bool ran = false;
  std::string commandLine;   // as Windows received it
  std::string problem;       // why it could not be run or did not end, empty when it ended
  bool timedOut = false;
  int exitCode = -1;         // -1 when it did not end by itself
  double seconds = 0;
  std::vector<ShownWindow> windows;
  bool Fatal() const;        // a box titled "FATAL ERROR" appeared
};

// Parses what the robot's until-exit --report printed.
std::vector<ShownWindow> ParseRobotReport(const std::string& out);

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
