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
  // The child's environment has NoDefaultCurrentDirectoryInExePath=1: a
  // command interpreter then never runs a program from its current
  // directory (the install directory) in place of the system's.
  kRunNoCurrentDirectoryPrograms = 0x400,
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

// The program part of a command line as the system reads it: the text
// inside a leading pair of double quotes (to the end without the closing
// one), else the text up to the first blank or tab; leading blanks and tabs
// are skipped. quoted (may be null) tells which.
String CommandLineProgram(const char* commandLine, bool* quoted);
// A name without a directory part: not empty, no '\', '/' or ':'.
bool IsBareProgramName(const char* name);
// True when the last part of name (after its last '\', '/' or ':') has a
// '.' followed by at least one character.
bool HasFileExtension(const char* name);

// An environment block in a String: entries "name=value", each followed by
// a NUL (the String's own terminator ends the block). Sets name to value:
// an entry of that name (letter case ignored) is replaced in place, else
// the new one goes before the first entry whose name sorts after it. The
// entries of the drives' current directories ("=C:=C:\dir") stay first.
void SetEnvironmentEntry(String& block, const char* name, const char* value);

#if defined(_WIN32)
// The program a command line starts, as a full path, so that the system
// never looks a name up itself: its own search tries the folder of the
// running program (an installer's download folder) first.
//  - an absolute path: that file, with ".exe" added when it has no
//    extension and only the longer name exists; without quotes, a path with
//    blanks is the longest blank-separated start of the command line that
//    names an existing file (the system would try the shortest first, so
//    "C:\Tools\My App\run.exe" could start a planted "C:\Tools\My.exe");
//  - a bare name: looked up in the system directory, the Windows directory
//    and then the absolute directories of PATH, never in the program's
//    folder or the current directory;
//  - a relative path with a directory: completed against the current
//    directory.
// False (last error ERROR_FILE_NOT_FOUND) when a bare name is found in none
// of those places or the command line names no program.
[[nodiscard]] bool FindProgram(const char* commandLine, String& program);

// Starts commandLine (CreateProcessA with the program FindProgram names,
// the inherited environment, directory null or "" for the current one).
// Returns the exit code with kRunWait, else kRunNoExitCode; kRunNotStarted
// when it could not be started. Both process handles are closed before
// returning.
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
