// Processes, the command interpreter and opening documents (Windows only).
#pragma once
#include <stdint.h>

#include "core/string.h"

enum RunProcessFlag : uint32_t {
  kRunWait = 0x1,            // wait for the end and return the exit code
  kRunNewConsole = 0x2,      // CREATE_NEW_CONSOLE
  kRunIdlePriority = 0x4,    // unless kRunHighPriority
  kRunHighPriority = 0x8,
  kRunHidden = 0x10,         // SW_HIDE
  kRunMaximized = 0x20,      // SW_SHOWMAXIMIZED (before minimized and hidden)
  kRunMinimized = 0x40,      // SW_MINIMIZE (before hidden)
  kRunErrorBox = 0x80,       // on failure, the "Unable to create process" box
  kRunKeepUiAlive = 0x100,   // while waiting, pump messages every 75 ms
  kRunInheritHandles = 0x200,
};

// RunProcess results that are not exit codes.
constexpr uint32_t kRunNotStarted = 0x80000000u;  // could not start, or empty command line
constexpr uint32_t kRunNoExitCode = 0x80000001u;  // not waited for, or no exit code available

// The CreateProcess creation flags for RunProcess flags: exactly one priority
// class (HIGH_PRIORITY_CLASS 0x80 with kRunHighPriority, else
// IDLE_PRIORITY_CLASS 0x40 with kRunIdlePriority, else
// NORMAL_PRIORITY_CLASS 0x20), plus CREATE_NEW_CONSOLE (0x10) with
// kRunNewConsole. One class only: with several class bits the system is free
// to pick the lowest, which would make kRunHighPriority useless.
uint32_t ProcessCreationFlags(uint32_t runFlags);

#if defined(_WIN32)
// Starts commandLine (CreateProcessA, no application name, the inherited
// environment, directory null or "" for the current one). Returns the exit
// code with kRunWait, else kRunNoExitCode; kRunNotStarted when it could not
// be started. Both process handles are closed before returning.
uint32_t RunProcess(const char* commandLine, uint32_t flags, const char* directory);

// The command processor for batches, worked out on the first call and reused:
// "%comspec%" expanded from the environment, else the Windows directory
// joined with "command.com"; enclosed in double quotes when it contains white
// space.
const String& CommandInterpreter();

// ShellExecuteA with no owner window and SW_SHOW. False for an empty file
// name (last error ERROR_INVALID_PARAMETER) or a result of 32 or less.
[[nodiscard]] bool OpenDocument(const char* file, const char* parameters, const char* directory, const char* verb);
#endif
