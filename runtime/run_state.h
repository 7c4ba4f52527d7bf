// What one run of the runtime owns, in one object: the command-line options,
// the module instance, the flags word, the message table, the installer's
// archive, the error and install-log texts, the directories, the uninstall
// list and association log, the extraction lists, the background window's
// title and the handles of the windows the exit path destroys.
//
// WinMain owns the one instance for the whole process and passes it, or the
// part a step needs, by reference; nothing reaches it through a global but
// the fatal path (runtime/messages.h), which the core library enters without
// one. Tests build a fresh instance per case.
//
// The windows themselves are objects of ui/ (the background window, the
// progress dialog), owned by the steps that show them: while a window exists
// its handle is registered here, so message boxes find their owner and the
// exit path finds what to destroy.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "core/string.h"
#include "core/win32/path_variables.h"
#include "runtime/extraction_lists.h"
#include "runtime/installer_archive.h"
#include "runtime/messages.h"
#include "runtime/run_texts.h"
#include "runtime/uninstall_list.h"

struct CommandLineOptions {
  bool automaticMode = false;  // /a, or flag bit 8 of the settings
  bool silentMode = false;     // /s: automatic mode, no window at all, the outcome as exit code
  String logPath;              // /l:"file", the run log
  bool uninstallMode = false;  // any atom starting with the letter u
  String uninstallName;        // /u:"name"
  String InstallDir;           // /d:"dir"
  String DisplayName;          // /n:"name"
  String runAfterProgram;      // /r:"program"
  String batchAdditions[3];    // /b1:, /b2:, /b3: (index 0 is batch 1)
};

// The handles of the run's windows; null while a window does not exist.
struct RunWindows {
  HWND background = nullptr;  // the background window
  HWND dialog = nullptr;      // the current modeless dialog (the progress dialog)
};

// The members most steps read come first: the code reaches them with short
// offsets.
struct Run {
  RunWindows windows;
  // The one flags word of the run: the settings' word from the settings step
  // on (or the Uninstall key's in an uninstall run), with the run's own
  // changes (the restart-needed bit, the 64-bit bit dropped). The parsed
  // settings keep the archive's value as read.
  uint64_t productFlags = 0;
  HINSTANCE instance = nullptr;
  bool fatalError = false;    // set once the fatal box is shown; never cleared
  uint32_t timeMark = 0;      // the stage pause's start, in milliseconds since system start
  RunTexts texts;
  RunDirectories directories;
  CommandLineOptions options;
  String displayTitle;        // the background window's title: message 0 of the chosen language
  MessageTable messages;
  UninstallRecord uninstall;
  ExtractionLists extraction;
  InstallerArchive archive;
};

inline bool ProductFlag(const Run& run, int bit) { return (run.productFlags >> bit) & 1u; }
