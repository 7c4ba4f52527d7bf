#include <windows.h>

#include <string.h>

#include "core/path.h"
#include "core/path_check.h"
#include "core/win32/file_list.h"
#include "core/win32/file_util.h"
#include "core/win32/message_pump.h"

namespace {

// Buckets of the table that finds repeated files in ExpandFileSpecs.
constexpr int32_t kRepeatBuckets = 1024;

uint64_t JoinHalves(DWORD high, DWORD low) { return ((uint64_t)high << 32) | low; }
uint64_t FileTimeValue(const FILETIME& t) { return JoinHalves(t.dwHighDateTime, t.dwLowDateTime); }

// One entry found by a directory search.
struct FoundEntry {
  String path;
  uint64_t writeTime = 0;
  uint64_t size = 0;
  int32_t order = 0;  // place in the search, so that equal keys keep it
};

int CompareOrder(const FoundEntry* a, const FoundEntry* b) { return a->order < b->order ? -1 : a->order > b->order; }

int ByTimeNewestFirst(const FoundEntry* a, const FoundEntry* b) {
  if (a->writeTime != b->writeTime) return a->writeTime > b->writeTime ? -1 : 1;
  return CompareOrder(a, b);
}
int ByTimeOldestFirst(const FoundEntry* a, const FoundEntry* b) {
  if (a->writeTime != b->writeTime) return a->writeTime < b->writeTime ? -1 : 1;
  return CompareOrder(a, b);
}
int ByNameAscending(const FoundEntry* a, const FoundEntry* b) {
  const int c = a->path.CompareNoCase(b->path.CStr());
  return c ? c : CompareOrder(a, b);
}
int ByNameDescending(const FoundEntry* a, const FoundEntry* b) {
  const int c = b->path.CompareNoCase(a->path.CStr());
  return c ? c : CompareOrder(a, b);
}

// The order the sort bits ask for, or null for none. Both kListByTime and
// kListByName together ask for the name order (of stripped texts).
Array<FoundEntry>::Compare OrderFor(uint32_t flags) {
  const bool reverse = flags & kListReverse;
  if (flags & kListByName) return reverse ? ByNameDescending : ByNameAscending;
  if (flags & kListByTime) return reverse ? ByTimeOldestFirst : ByTimeNewestFirst;
  return nullptr;
}

void SortEntries(Array<FoundEntry>& entries, uint32_t flags) {
  for (int32_t i = 0; i < entries.Count(); ++i) entries[i].order = i;
  if (Array<FoundEntry>::Compare order = OrderFor(flags)) entries.Sort(order);
}

void StripEntries(Array<FoundEntry>& entries, uint32_t flags) {
  if (!(flags & (kListNamesOnly | kListStripExtension))) return;
  for (FoundEntry& entry : entries) {
    if (flags & kListNamesOnly) entry.path = FileNameOf(entry.path.CStr());
    if (flags & kListStripExtension) StripExtension(entry.path);
  }
}

void FillFileInfo(const WIN32_FIND_DATAA& data, FileInfo& info) {
  info.lastAccess.FromFileTime(FileTimeValue(data.ftLastAccessTime));
  info.attributes = data.dwFileAttributes;
  info.lastWrite.FromFileTime(FileTimeValue(data.ftLastWriteTime));
  info.creation.FromFileTime(FileTimeValue(data.ftCreationTime));
  info.name.AssignPrefix(data.cFileName, (int32_t)sizeof data.cFileName);
  info.shortName.AssignPrefix(data.cAlternateFileName, (int32_t)sizeof data.cAlternateFileName);
  info.size = JoinHalves(data.nFileSizeHigh, data.nFileSizeLow);
}

// The entries of one directory search of pattern, as flags select them
// (file names end with the NUL the system guarantees inside cFileName).
uint64_t SearchOneDirectory(const String& directory, const char* pattern, uint32_t flags,
                            Array<FoundEntry>& entries) {
  uint64_t total = 0;
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(pattern, &data);
  if (search == INVALID_HANDLE_VALUE) return 0;
  do {
    data.cFileName[sizeof data.cFileName - 1] = '\0';
    if (!IsValidFileName(data.cFileName)) continue;
    const bool isDirectory = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    const bool listed = isDirectory ? (flags & (kListDirectories | kListDirectoriesOnly)) != 0
                                    : !(flags & kListDirectoriesOnly);
    if (!listed) continue;
    FoundEntry& entry = entries.Append();
    entry.path = JoinPath(directory.CStr(), data.cFileName);
    entry.writeTime = FileTimeValue(data.ftLastWriteTime);
    entry.size = JoinHalves(data.nFileSizeHigh, data.nFileSizeLow);
    total += entry.size;
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return total;
}

uint64_t ListEntries(Array<FoundEntry>& out, uint32_t flags, const char* patternText) {
  if (!(flags & kListNoPump)) PumpSomeMessages();
  String pattern(patternText);
  if (StripRecursiveMarker(pattern)) flags |= kListRecursive;
  const String directory = DirectoryOf(pattern.CStr());

  Array<FoundEntry> entries;
  uint64_t total = SearchOneDirectory(directory, pattern.CStr(), flags, entries);
  const bool nameSortAfterStrip = (flags & kListByNameAfterStrip) == kListByNameAfterStrip;
  if (!nameSortAfterStrip) SortEntries(entries, flags);
  StripEntries(entries, flags);
  if (nameSortAfterStrip) SortEntries(entries, flags);
  for (FoundEntry& entry : entries) out.Append(static_cast<FoundEntry&&>(entry));

  if (!(flags & kListRecursive)) return total;
  const String namePattern = FileNameOf(pattern.CStr());
  const String everything = JoinPath(directory.CStr(), "*.*");
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(everything.CStr(), &data);
  if (search == INVALID_HANDLE_VALUE) return total;
  do {
    data.cFileName[sizeof data.cFileName - 1] = '\0';
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IsValidFileName(data.cFileName)) continue;
    const String subdirectory = JoinPath(directory.CStr(), data.cFileName);
    const String subPattern = JoinPath(subdirectory.CStr(), namePattern.CStr());
    total += ListEntries(out, flags, subPattern.CStr());
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return total;
}

// Index orders over the output list of ExpandFileSpecs.
struct FinalSortContext {
  const Array<String>* list;
  const Vector<uint64_t>* times;
  bool reverse;
};

int FinalOrderByName(const void* a, const void* b, const void* context) {
  const FinalSortContext* c = static_cast<const FinalSortContext*>(context);
  const int32_t i = *static_cast<const int32_t*>(a), j = *static_cast<const int32_t*>(b);
  int order = c->list->At(i).CompareNoCase(c->list->At(j).CStr());
  if (c->reverse) order = -order;
  return order ? order : (i < j ? -1 : i > j);
}

int FinalOrderByTime(const void* a, const void* b, const void* context) {
  const FinalSortContext* c = static_cast<const FinalSortContext*>(context);
  const int32_t i = *static_cast<const int32_t*>(a), j = *static_cast<const int32_t*>(b);
  const uint64_t ti = c->times->At(i), tj = c->times->At(j);
  int order = ti == tj ? 0 : (ti > tj ? -1 : 1);  // newest first
  if (c->reverse) order = -order;
  return order ? order : (i < j ? -1 : i > j);
}

uint64_t LastWriteTimeOf(const char* path) {
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(path, &data);
  if (search == INVALID_HANDLE_VALUE) return 0;
  FindClose(search);
  return FileTimeValue(data.ftLastWriteTime);
}

template <class List>
void Reorder(List& items, const Vector<int32_t>& order) {
  List sorted;
  for (int32_t i = 0; i < order.Count(); ++i) sorted.Append(items[order[i]]);
  items = static_cast<List&&>(sorted);
}

// Sorts list by name or time as flags say; the parallel lists follow when
// they hold one element per listed file.
void FinalSort(Array<String>& list, uint32_t flags, Vector<int32_t>* lineIndexes, Array<String>* directories) {
  const bool byTime = flags & kListByTime;
  const bool byName = flags & kListByName;
  if (byTime == byName || list.Count() < 2) return;  // none, or both: no final sort
  Vector<int32_t> order;
  for (int32_t i = 0; i < list.Count(); ++i) order.Append(i);
  Vector<uint64_t> times;
  if (byTime)
    for (const String& path : list) times.Append(LastWriteTimeOf(path.CStr()));
  const FinalSortContext context{&list, &times, (flags & kListReverse) != 0};
  order.SortSlots(byTime ? FinalOrderByTime : FinalOrderByName, &context);
  if (lineIndexes && lineIndexes->Count() == list.Count()) Reorder(*lineIndexes, order);
  if (directories && directories->Count() == list.Count()) Reorder(*directories, order);
  Reorder(list, order);
}

String UpperKey(const String& path) {
  String key(path);
  key.UpperCaseAscii();
  return key;
}

}  // namespace

bool ReadFileInfo(const char* path, FileInfo& info) {
  info = FileInfo();
  if (!path || !*path || strpbrk(path, "*?")) return false;
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(path, &data);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  data.cFileName[sizeof data.cFileName - 1] = '\0';
  data.cAlternateFileName[sizeof data.cAlternateFileName - 1] = '\0';
  FillFileInfo(data, info);
  return true;
}

uint64_t ListFiles(Array<String>& list, uint32_t flags, const char* pattern) {
  if (!(flags & kListKeepList)) list.Clear();
  Array<FoundEntry> entries;
  const uint64_t total = ListEntries(entries, flags, pattern);
  for (FoundEntry& entry : entries) list.Append(static_cast<String&&>(entry.path));
  return total;
}

int32_t ExpandFileSpecs(const char* text, Array<String>& list, const FileSpecOptions& options) {
  const uint32_t flags = options.flags;
  String* errors = options.errors;
  const String givenDefault(options.defaultDirectory);
  if (errors) {
    if (flags & kSpecClearErrors) errors->Clear();
    if (!givenDefault.IsEmpty() && !IsDirectory(givenDefault.CStr()))
      errors->Append("The default directory \"" + givenDefault + "\" does not exist.\r\n");
  }
  String remaining(text);
  if ((flags & kSpecBlankIsError) && remaining.IsBlank()) {
    if (errors) *errors = "No files were specified.\r\n";
    return 0;
  }
  if (flags & kSpecClearList) {
    list.Clear();
    if (options.directories) options.directories->Clear();
  }
  if ((flags & kSpecClearLineIndexes) && options.lineIndexes) options.lineIndexes->Clear();
  if (options.totalSize) *options.totalSize = 0;

  const String current = CurrentDirectory();
  String defaultDirectory = givenDefault;
  if (defaultDirectory.IsEmpty())
    defaultDirectory = current;
  else
    MakeAbsolute(defaultDirectory, current.CStr());

  const bool allowRepeats = flags & kSpecAllowRepeats;
  HashTable<bool, String> seen(allowRepeats ? 0 : kRepeatBuckets);
  if (!allowRepeats)
    for (const String& path : list) seen.Insert(UpperKey(path), true);

  const uint32_t listFlags = flags & kSpecPassedOn;
  int32_t added = 0;
  int32_t lineNumber = 0;
  String line, lineDirectory, names, name;
  Array<FoundEntry> found;
  while (!remaining.IsEmpty()) {
    remaining.ExtractLine(line);
    ++lineNumber;
    const String linePart = SpecLinePart(lineNumber, lineNumber == 1 && remaining.IsEmpty(), flags);
    line.Trim();
    const bool recursive = StripRecursiveMarker(line);
    line.TrimRight();
    if (line.IsEmpty()) continue;
    SplitSpecLine(line, lineDirectory, names);
    if (lineDirectory.IsEmpty())
      lineDirectory = defaultDirectory;
    else
      MakeAbsolute(lineDirectory, defaultDirectory.CStr());

    while (!names.IsEmpty()) {
      names.SplitAtChar(name, ';');
      name.Trim();
      if (name.IsEmpty()) continue;
      if (!lineDirectory.IsEmpty()) MakeAbsolute(name, lineDirectory.CStr());
      // Also a name that could not be completed (a directory that is not
      // absolute itself) is refused rather than searched relative to
      // whatever the current directory is.
      if (!IsAbsolutePath(name.CStr())) {
        if (errors)
          errors->Append("The file specification \"" + name + "\" " + linePart +
                         "is not an absolute path.  Please include the drive and directory.\r\n");
        continue;
      }
      found.Clear();
      ListEntries(found, listFlags | (recursive ? (uint32_t)kListRecursive : 0u), name.CStr());
      if (found.IsEmpty()) {
        if (errors && !(flags & kSpecQuietNoMatch))
          errors->Append("The file specification \"" + name + "\" " + linePart + "did not match any files.\r\n");
        continue;
      }
      for (FoundEntry& entry : found) {
        if (!allowRepeats && !seen.Insert(UpperKey(entry.path), true)) {
          if (errors) errors->Append("The file \"" + entry.path + "\" occurs more than once.\r\n");
          continue;
        }
        if (options.totalSize) *options.totalSize += entry.size;
        if (options.lineIndexes) options.lineIndexes->Append(lineNumber - 1);
        if (options.directories) options.directories->Append(lineDirectory);
        list.Append(static_cast<String&&>(entry.path));
        ++added;
      }
    }
  }
  FinalSort(list, flags, options.lineIndexes, options.directories);
  return added;
}
