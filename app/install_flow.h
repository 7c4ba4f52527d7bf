// The installation from the settings read to the end of the process: the
// checks, the start question, password, licence and readme pages, the
// installation directory, then every installing step in its fixed order,
// and the end of the installation (final message, install log, restart,
// last batch, the program to launch).
#pragma once
#include <stdint.h>

#include "core/string.h"

struct Run;

// The earlier installation of the product, read from its Uninstall key
// (missing values read as "").
struct PreviousInstallation {
  String location;     // InstallLocation
  String version;      // DisplayVersion
  String sharedFiles;  // SharedFiles
  bool found = false;  // location is an existing directory
};

// The whole installation of the run, as the table of steps in
// install_flow.cpp walks it; never returns (the process ends through the
// exit path, with the outcome of the step that ended it).
[[noreturn]] void RunInstallFlow(Run& run);

// The free space a directory needs on its drive: every entry size rounded up
// to whole clusters of clusterBytes (no rounding below 2), in 64 bits.
uint64_t SpaceNeeded(const uint32_t* sizes, int32_t count, uint64_t clusterBytes);

// The first message of the reinstall question: 3, or with flag bit 36 and
// both versions known 4 (same), 5 (previous older) or 6 (previous newer).
int32_t ReinstallQuestionMessage(bool compareVersions, const String& previous, const String& archive);
