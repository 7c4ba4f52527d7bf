// File names and file-specification lists.
//
// Portable: the text steps of a specification line (names are checked by
// IsValidFileName of core/path_check.h). Windows only: FileInfo (a
// directory-search record), ListFiles (a directory search into a list of paths) and
// ExpandFileSpecs (a multi-line text of specifications turned into a list of
// existing files, with one message per problem).
//
// File-name wildcards ('*', '?') are matched by the system's directory
// search, not by the text matcher of core/wildcard.h.
#pragma once
#include <stdint.h>

#include "core/containers.h"
#include "core/datetime.h"
#include "core/path_check.h"
#include "core/string.h"

enum ListFilesFlag : uint32_t {
  kListDirectories = 0x1,        // directories as well as files
  kListRecursive = 0x2,          // every subdirectory too, same name pattern
  kListNamesOnly = 0x4,          // strip the directory part
  kListStripExtension = 0x8,     // strip from the last '.' after the last '\'
  kListKeepList = 0x10,          // do not clear the list first
  kListReverse = 0x20,           // reverse the sort order
  kListByTime = 0x40,            // newest first (oldest with kListReverse)
  kListByName = 0x80,            // A to Z ignoring case (Z to A with kListReverse)
  kListByNameAfterStrip = 0xC0,  // name order of the stripped texts
  kListNoPump = 0x4000,          // do not pump window messages first
  kListDirectoriesOnly = 0x10000,
};

enum FileSpecFlag : uint32_t {
  kSpecPassedOn = kListDirectories | kListRecursive | kListNoPump,
  kSpecSortFlags = kListReverse | kListByTime | kListByName,
  kSpecNoLineNumbers = 0x100,     // never "on line %d " in messages
  kSpecAllowRepeats = 0x200,      // the same file may be listed more than once
  kSpecBlankIsError = 0x400,      // a blank text is an error
  kSpecClearErrors = 0x800,       // clear the error text first
  kSpecClearList = 0x1000,        // clear the output list (and directory list) first
  kSpecClearLineIndexes = 0x2000, // clear the line-index list first
  kSpecQuietNoMatch = 0x8000,     // no message for a specification matching nothing
};

// When text ends with a space followed by "/s" (any case), removes those
// three characters and returns true.
bool StripRecursiveMarker(String& text);

// Removes the extension: from the last '.' that follows the last '\'.
void StripExtension(String& path);

// Splits a trimmed specification line at its last path separator (the one
// DirectoryOf finds): directory receives the text before it (keeping the
// separator when it is ':' or follows ':'), names the text after it (a
// ';'-separated list). Without a separator directory is empty and names is
// the whole line.
void SplitSpecLine(const String& line, String& directory, String& names);

// The message part naming the line: "on line %d " or "" (single-line texts
// and kSpecNoLineNumbers).
String SpecLinePart(int32_t lineNumber, bool singleLine, uint32_t flags);

// A directory entry. Times are local date-times.
struct FileInfo {
  DateTime lastAccess;
  uint32_t attributes = 0;
  DateTime lastWrite;
  DateTime creation;
  String name;
  String shortName;
  uint64_t size = 0;
};

#if defined(_WIN32)
// Reads the directory entry of one existing file or directory (no
// wildcards). False, info cleared, when there is none.
[[nodiscard]] bool ReadFileInfo(const char* path, FileInfo& info);

// Appends the full paths (JoinPath of the pattern's directory and the name)
// of the entries matching pattern to list, as the ListFilesFlag bits say,
// and returns the total size of the listed entries. A pattern ending with
// " /s" (any case) is searched recursively. Names that IsValidFileName
// rejects are skipped. Entries of one directory are sorted by themselves;
// subdirectory results follow in the order the directory search gives.
// Patterns longer than the system's path limit find nothing.
uint64_t ListFiles(Array<String>& list, uint32_t flags, const char* pattern);

struct FileSpecOptions {
  const char* defaultDirectory = nullptr;  // null or "": the current directory
  String* errors = nullptr;                 // messages are appended here
  Vector<int32_t>* lineIndexes = nullptr;   // per listed file: its line number - 1
  Array<String>* directories = nullptr;     // per listed file: its line's directory
  uint64_t* totalSize = nullptr;            // size of the files added
  uint32_t flags = 0;                       // FileSpecFlag and the passed-on ListFiles bits
};

// Turns text, one or more specifications per line ("C:\Data\*.txt;*.doc",
// optionally ending with " /s"), into the list of existing files. Every
// problem appends one message to options.errors and the parse goes on.
// The line-index and directory lists stay parallel to the output list: a
// final sort reorders them with it. Returns the number of files added.
int32_t ExpandFileSpecs(const char* text, Array<String>& list, const FileSpecOptions& options);
#endif
