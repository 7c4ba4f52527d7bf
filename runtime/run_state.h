// Process-wide state of one run of the runtime: the command-line options, the
// instance handle, the window handles the exit path destroys, and the flags
// word of the archive settings. Set during start-up and the settings step;
// read-only afterwards. Lives for the whole process and is never freed early.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "core/string.h"

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

extern CommandLineOptions g_options;
extern HINSTANCE g_instance;
extern HWND g_backgroundWindow;  // may be null
extern HWND g_currentDialog;     // the current modeless dialog, may be null
extern bool g_fatalError;        // set once the fatal box is shown; never cleared
extern uint64_t g_productFlags;  // the settings' 64-bit flags word
extern String g_displayTitle;    // the background window's title: message 0 of the chosen language

inline bool ProductFlag(int bit) { return (g_productFlags >> bit) & 1u; }
