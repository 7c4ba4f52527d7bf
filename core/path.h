// Path texts and the system directories.
//
// Portable: the text operations never touch the file system. The system's
// directories are in core/win32/system_dirs.h.
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
