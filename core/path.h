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

#if defined(_WIN32)
String WindowsDir();
String ModulePath();  // "" when the name is longer than 500 characters
#endif
