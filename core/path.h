// Path texts and the system directories.
//
// The text operations are portable and never touch the file system. The
// directory getters (declared at the end) are Windows-only and never fail: a
// system call that fails gives "".
#pragma once
#include "core/string.h"

// directory + '\' + name, without doubling or adding needless separators:
// an empty part gives the other; no '\' is added after ':' or '\'; a name
// starting with '\' loses one trailing '\' of directory instead.
String JoinPath(const char* directory, const char* name);

// The separator is the last '\' at or before the first ';' outside double
// quotes (the whole text without such ';'), else the first ':'. The result is
// the text before it, keeping a ':' separator or a '\' that follows ':'.
String DirectoryOf(const char* path);

// The text after the last '\'; without one, after the first ':'; else all.
String FileNameOf(const char* path);

// Removes everything after the separator DirectoryOf finds, keeping it.
void CutAfterLastSeparator(String& path);

// The upper-cased drive letter of "X:..." (an ASCII letter followed by ':'),
// else NUL.
char DriveOf(const char* path);
// "X:" for an ASCII letter, else "".
String DriveText(char letter);

#if defined(_WIN32)
// GetWindowsDirectoryA (260 characters); "" when it fails or does not fit.
String WindowsDir();
// GetSystemDirectoryA (260 characters); when that gives "", the Windows
// directory joined with "System32" on NT platforms, "System" otherwise.
String SystemDir();
// GetTempPathA (260 characters), "c:\temp" when that gives "", then one
// trailing backslash removed.
String TempDir();
// The running executable's full name; "" when it is longer than 500
// characters.
String ModulePath();
#endif
