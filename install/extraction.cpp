#include "install/extraction.h"

#include <windows.h>
#include <string.h>

#include "archive/entry_record.h"
#include "archive/record_rules.h"
#include "core/checksum.h"
#include "core/format.h"
#include "core/path.h"
#include "core/path_check.h"
#include "core/scale.h"
#include "core/win32/file_list.h"
#include "core/win32/file_util.h"
#include "core/win32/path_variables.h"
#include "core/win32/system.h"
#include "core/win32/system_dirs.h"
#include "core/win32/system_error.h"
#include "core/win32/version_info.h"
#include "install/file_writer.h"
#include "runtime/installer_archive.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "ui/progress_dialog.h"

namespace {

// One entry record as read from the region. data points into the region.
struct InstallEntry : EntryRecord {
  const unsigned char* data = nullptr;

  uint32_t Mode() const { return flags & kEntryOverwriteMask; }
  bool Permanent() const { return (flags & kEntryPermanent) != 0; }
  // Kinds whose files belong to the product and are removed with it.
  bool OwnedByProduct() const { return kind == kKindInstallDir || kind == kKindStartup || kind == kKindVersioned; }
};

// Reads one entry record with the walk the authoring tool's verify uses;
// corrupt records end the process.
void ReadEntry(Run& run, ArchiveCursor& cursor, uint32_t storedSize, InstallEntry& e) {
  const ArchiveError error = ReadEntryRecord(cursor, storedSize, e, e.data);
  if (error != kArchiveOk) ReportCorruptArchive(run, error);
}

// The destination of an entry; inTree says whether its directory is created
// (and recorded) before writing. An invalid kind without an override ends the
// process.
String ResolveDestination(Run& run, InstallEntry& e, bool& inTree) {
  if (e.HasNewFileName()) {
    e.name = e.text4;  // a new file name in the default directory (checked usable by the walk)
    e.text4.Clear();
  }
  String destination;
  if (!e.text4.IsEmpty()) {
    destination = e.text4;
    ExpandPathVariables(destination, run.directories);
    const String& base = e.kind == kKindSharedDir ? run.directories.shared : run.directories.installation;
    MakeAbsolute(destination, base.CStr());
    if (destination.EndsWithChar('\\')) destination.Append(FileNameOf(e.name.CStr()));
    inTree = true;
    return destination;
  }
  inTree = false;
  if (e.flags & kEntryToUninstallDir) return JoinPath(run.directories.uninstall.CStr(), e.name.CStr());
  switch (e.kind) {
    case kKindInstallDir:
    case kKindStartup:
    case kKindVersioned:
      inTree = true;
      return JoinPath(run.directories.installation.CStr(), e.name.CStr());
    case kKindSharedDir: return JoinPath(run.directories.shared.CStr(), e.name.CStr());
    case kKindFont: return JoinPath(FontDir().CStr(), e.name.CStr());
    case kKindSystemPermanent:
    case kKindComServer:
    case kKindTypeLibrary: return JoinPath(SystemDir().CStr(), e.name.CStr());
    default: ReportCorruptArchive(run, kErrEntryKind);
  }
}

void AddShared(ExtractionLists& lists, const String& destination, char marker) {
  String& line = lists.sharedFiles.Append(destination);
  if (marker) line.AppendChar(marker);
}

void ListBookkeeping(ExtractionLists& lists, const InstallEntry& e, const String& destination) {
  switch (e.kind) {
    case kKindSharedDir: AddShared(lists, destination, e.Permanent() ? kSharedPermanentMarker : 0); break;
    case kKindSystemPermanent: AddShared(lists, destination, kSharedPermanentMarker); break;
    case kKindComServer:
      lists.comServers.Append(destination);
      AddShared(lists, destination, e.Permanent() ? kSharedPermanentMarker : kSharedComServerMarker);
      break;
    case kKindTypeLibrary:
      lists.typeLibraries.Append(destination);
      AddShared(lists, destination, e.Permanent() ? kSharedPermanentMarker : kSharedTypeLibraryMarker);
      break;
    default: break;
  }
}

bool RecordsForUninstall(const Run& run, const InstallEntry& e) {
  return !ProductFlag(run, kFlagUninstallRemoveInstallDir) && !e.Permanent() && e.OwnedByProduct();
}

// The existing file's last-write time; false when it cannot be read.
bool ExistingWriteTime(const char* path, ArchiveDateTime& out) {
  FileInfo info;
  if (!ReadFileInfo(path, info) || !info.lastWrite.IsValid() || !info.lastWrite.IsTimeValid()) return false;
  out = {info.lastWrite.year, info.lastWrite.month, info.lastWrite.day,
         info.lastWrite.hours, info.lastWrite.minutes, info.lastWrite.seconds};
  return true;
}

void LogLine(Run& run, const String& destination, const char* text) {
  String& log = run.texts.installLog;
  log.Append(destination);
  log.Append(text);
}

// The overwrite mode and the kind's checks. Returns true when the entry is to
// be written; existed receives what the kind's check found.
bool PassesOverwriteRules(Run& run, const InstallEntry& e, const String& destination, bool& existed) {
  existed = false;
  const char* path = destination.CStr();
  const uint32_t mode = e.Mode();
  if (mode == kEntryNeverExtract) return false;
  if (mode == kEntryReplaceOnly && !FileExists(path)) return false;
  if (mode == kEntryKeepExisting && FileExists(path)) {
    if (RecordsForUninstall(run, e)) run.uninstall.Add(path, kUninstallFile);
    return false;
  }

  switch (e.kind) {
    case kKindSharedDir:
    case kKindFont: {
      existed = FileExists(path);
      if (!existed) return true;
      ArchiveDateTime current;
      const bool outOfDate = e.dateTime.month == 0 || e.dateTime.hour < 0 ||
                             !ExistingWriteTime(path, current) ||
                             IsOlderThanEntry(current, e.dateTime);
      LogLine(run, destination, outOfDate ? " is out of date and will be replaced.\r\n" : " is up to date.\r\n");
      return outOfDate;
    }
    case kKindSystemPermanent:
    case kKindComServer:
    case kKindTypeLibrary:
    case kKindVersioned: {
      existed = FileExists(path);
      if (!existed) return true;
      const bool recordKept = e.kind == kKindVersioned && !e.Permanent();
      if (!e.text1.IsEmpty()) {
        const String current = ExistingVersionText(path);
        if (!current.IsEmpty() && CompareVersions(e.text1.CStr(), current.CStr()) <= 0) {
          LogLine(run, destination, " was not installed because its version is not newer.\r\n");
          if (recordKept) run.uninstall.Add(path, kUninstallFile);
          return false;
        }
      }
      ArchiveDateTime current;
      if (ExistingWriteTime(path, current) && !IsOlderThanEntry(current, e.dateTime)) {
        LogLine(run, destination, " was not installed because its date is not newer.\r\n");
        if (recordKept) run.uninstall.Add(path, kUninstallFile);
        return false;
      }
      LogLine(run, destination, " is out of date and will be replaced.\r\n");
      return true;
    }
    default: return true;
  }
}

void AppendShortcutRequest(ExtractionLists& lists, const InstallEntry& e, const String& destination) {
  ShortcutRecord& s = lists.shortcuts.Append();
  s.desktop = (e.flags & kEntryDesktopShortcut) ? 1 : 0;
  s.startMenu = (e.flags & kEntryStartMenuShortcut) ? 1 : 0;
  s.startup = e.kind == kKindStartup ? 1 : 0;
  s.permanent = e.Permanent() ? 1 : 0;
  s.target = destination;
  s.name = e.text1;
  s.iconFile = e.text2;
  s.arguments = e.text3;
  s.workingDirectory = e.text5;
  s.expandTarget = false;  // the destination is final already
}

// Creates the destination's directory for an in-tree entry. False (reported
// in the error text) when it cannot be created. lastDirectory is the
// directory the last in-tree entry was written to.
bool PrepareDirectory(Run& run, const InstallEntry& e, const String& destination, String& lastDirectory) {
  const String directory = DirectoryOf(destination.CStr());
  if (directory.CompareNoCase(run.directories.installation.CStr()) == 0) return true;
  // Entries of one folder follow each other: the folder made for the last
  // one is not looked at again.
  const bool prepared = directory.CompareNoCase(lastDirectory.CStr()) == 0;
  if (!prepared && !CreateDirectoryTree(directory.CStr())) {
    const String reason = LastErrorText();
    AppendFormat(run.texts.errors, "%s %s\r\n%s\r\nNot installed: %s\r\n\r\n", MessageText(run, kMsgDirectoryNotCreated),
                 directory.CStr(), reason.CStr(), destination.CStr());
    return false;
  }
  lastDirectory = directory;
  if (RecordsForUninstall(run, e)) run.uninstall.Add(directory.CStr(), kUninstallDirectory);
  return true;
}

void RegisterFont(ExtractionLists& lists, const InstallEntry& e) {
  (void)SetFontValue(e.text1.CStr(), e.name.CStr());  // the font still works for this session without it
  AddFontResourceA(e.name.CStr());
  if (!e.Permanent()) {
    String& text = lists.fontText;
    text.AppendChar('"');
    text.Append(e.text1);
    text.Append("\" \"");
    text.Append(e.name);
    text.Append("\" ");
  }
  lists.fontAdded = true;
}

void ExtractEntry(Run& run, InstallEntry& e, ItemProgress& progress, String& lastDirectory) {
  bool inTree = false;
  const String destination = ResolveDestination(run, e, inTree);
  const char* path = destination.CStr();
  ListBookkeeping(run.extraction, e, destination);
  bool existed = false;
  if (!PassesOverwriteRules(run, e, destination, existed)) return;
  if ((e.kind == kKindInstallDir && (e.flags & (kEntryDesktopShortcut | kEntryStartMenuShortcut))) ||
      e.kind == kKindStartup)
    AppendShortcutRequest(run.extraction, e, destination);
  if (inTree && !PrepareDirectory(run, e, destination, lastDirectory)) return;
  if (RecordsForUninstall(run, e)) run.uninstall.Add(path, kUninstallFile);
  if (!WriteFileOrSchedule(run, path, e.data, (int32_t)e.size, e.dateTime, run.texts.errors,
                           e.attributes, existed))
    return;
  if (e.kind == kKindFont) RegisterFont(run.extraction, e);
  String line;
  Format(line, "%s -> %s", e.name.CStr(), path);
  if (!ProductFlag(run, kFlagNoFileStatus)) progress.Status(line);
  if (ProductFlag(run, kFlagVerboseLog)) {
    run.texts.installLog.Append(line);
    run.texts.installLog.Append("\r\n");
  }
}

}  // namespace

bool IsOlderThanEntry(const ArchiveDateTime& a, const ArchiveDateTime& b) {
  if (b.month == 0) return true;
  if (a.year != b.year) return a.year < b.year;
  if (a.month != b.month) return a.month < b.month;
  if (a.day != b.day) return a.day < b.day;
  if (b.hour < 0) return true;
  if (a.hour != b.hour) return a.hour < b.hour;
  if (a.minute != b.minute) return a.minute < b.minute;
  return a.second < b.second;
}

String ExistingVersionText(const char* path) {
  String version;
  String block;
  if (!ReadVersionInfo(path, block)) return version;
  String subBlock("\\StringFileInfo\\");
  subBlock.Append(VersionTranslation(block));
  subBlock.Append("\\FileVersion");
  if (!QueryVersionValue(block, subBlock.CStr(), version)) return String();
  const int32_t nul = version.FindChar('\0');
  if (nul >= 0) version.Truncate(nul);
  version.ReplaceChar(',', '.');
  version.Trim();
  PadVersionText(version);
  return version;
}

void ExtractEntries(Run& run, ProgressDialog& dialog) {
  dialog.SetStatus("%s", MessageText(run, kMsgInstalling));
  ExtractionLists& lists = run.extraction;
  String lastDirectory;

  ArchiveCursor& cursor = run.archive.cursor;
  const Vector<uint32_t>& sizes = run.archive.header.entrySizes;
  const int32_t count = sizes.Count();
  ItemProgress progress(dialog);
  for (int32_t i = 0; i < count; ++i) {
    progress.Advance(45 + (int32_t)ScaleDown((uint32_t)i, 40, 0, (uint32_t)count));
    InstallEntry e;
    ReadEntry(run, cursor, sizes[i], e);
    ExtractEntry(run, e, progress, lastDirectory);
  }
  progress.Finish();
  if (lists.fontAdded) PostMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
  dialog.SetProgress(87);
}
