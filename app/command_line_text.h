// The command line's rules that need no system: texts in, texts out.
// Portable, so they are tested and fuzzed on the host too; the rest of the
// command line is in command_line.h.
#pragma once

// The argument text of a process's whole command line. The Uninstall entry
// names the uninstaller by its path without quotes, so a path with blanks
// ("C:\Program Files\...") would be cut at its first blank by the usual
// split. When the line starts with the program's own path (ASCII case
// ignored, optionally in double quotes) followed by a blank or the end,
// what follows it, without leading blanks, is the argument text; otherwise
// the fallback (the system's own split) is.
const char* ArgumentsAfterProgram(const char* commandLine, const char* programPath, const char* fallback);
