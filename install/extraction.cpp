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
#include "runtime/run_texts.h"
#include "runtime/uninstall_list.h"
#include "ui/progress_dialog.h"

namespace {

struct ExtractionLists {
  Array<String> sharedFiles;
  Array<String> comServers;
  Array<String> typeLibraries;
  String fontText;
  bool fontAdded = false;
  String preparedDirectory;  // the directory the last in-tree entry was written to
};
ExtractionLists g_lists;

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
void ReadEntry(ArchiveCursor& cursor, uint32_t storedSize, InstallEntry& e) {
  const ArchiveError error = ReadEntryRecord(cursor, storedSize, e, e.data);
  if (error != kArchiveOk) ReportCorruptArchive(error);
}

// The destination of an entry; inTree says whether its directory is created
// (and recorded) before writing. An invalid kind without an override ends the
// process.
String ResolveDestination(InstallEntry& e, bool& inTree) {
  if (e.HasNewFileName()) {
    e.name = e.text4;  // a new file name in the default directory (checked usable by the walk)
    e.text4.Clear();
  }
  String destination;
  if (!e.text4.IsEmpty()) {
    destination = e.text4;
    ExpandPathVariables(destination);
    const String& base = e.kind == kKindSharedDir ? SharedDirectory() : InstallationDirectory();
    MakeAbsolute(destination, base.CStr());
    if (destination.EndsWithChar('\\')) destination.Append(FileNameOf(e.name.CStr()));
    inTree = true;
    return destination;
  }
  inTree = false;
  if (e.flags & kEntryToUninstallDir) return JoinPath(UninstallDirectory().CStr(), e.name.CStr());
  switch (e.kind) {
    case kKindInstallDir:
    case kKindStartup:
    case kKindVersioned:
      inTree = true;
      return JoinPath(InstallationDirectory().CStr(), e.name.CStr());
    case kKindSharedDir: return JoinPath(SharedDirectory().CStr(), e.name.CStr());
    case kKindFont: return JoinPath(FontDir().CStr(), e.name.CStr());
    case kKindSystemPermanent:
    case kKindComServer:
    case kKindTypeLibrary: return JoinPath(SystemDir().CStr(), e.name.CStr());
    default: ReportCorruptArchive(kErrEntryKind);
  }
}

void AddShared(const String& destination, char marker) {
  String& line = g_lists.sharedFiles.Append(destination);
  if (marker) line.AppendChar(marker);
}

void ListBookkeeping(const InstallEntry& e, const String& destination) {
  switch (e.kind) {
    case kKindSharedDir: AddShared(destination, e.Permanent() ? kSharedPermanentMarker : 0); break;
    case kKindSystemPermanent: AddShared(destination, kSharedPermanentMarker); break;
    case kKindComServer:
      g_lists.comServers.Append(destination);
      AddShared(destination, e.Permanent() ? kSharedPermanentMarker : kSharedComServerMarker);
      break;
    case kKindTypeLibrary:
      g_lists.typeLibraries.Append(destination);
      AddShared(destination, e.Permanent() ? kSharedPermanentMarker : kSharedTypeLibraryMarker);
      break;
    default: break;
  }
}

bool RecordsForUninstall(const InstallEntry& e) {
  return !ProductFlag(kFlagUninstallRemoveInstallDir) && !e.Permanent() && e.OwnedByProduct();
}

// The existing file's last-write time; false when it cannot be read.
bool ExistingWriteTime(const char* path, ArchiveDateTime& out) {
  FileInfo info;
  if (!ReadFileInfo(path, info) || !info.lastWrite.IsValid() || !info.lastWrite.IsTimeValid()) return false;
  out = {info.lastWrite.year, info.lastWrite.month, info.lastWrite.day,
         info.lastWrite.hours, info.lastWrite.minutes, info.lastWrite.seconds};
  return true;
}

void LogLine(const String& destination, const char* text) {
  String& log = InstallLogText();
  log.Append(destination);
  log.Append(text);
}

// The overwrite mode and the kind's checks. Returns true when the entry is to
// be written; existed receives what the kind's check found.
bool PassesOverwriteRules(const InstallEntry& e, const String& destination, bool& existed) {
  existed = false;
  const uint32_t mode = e.Mode();
  if (mode == kEntryNeverExtract) return false;
  if (mode == kEntryReplaceOnly && !FileExists(destination.CStr())) return false;
  if (mode == kEntryKeepExisting && FileExists(destination.CStr())) {
    if (RecordsForUninstall(e)) AddUninstallEntry(destination.CStr(), kUninstallFile);
    return false;
  }

  switch (e.kind) {
    case kKindSharedDir:
    case kKindFont: {
      existed = FileExists(destination.CStr());
      if (!existed) return true;
      ArchiveDateTime current;
      const bool outOfDate = e.dateTime.month == 0 || e.dateTime.hour < 0 ||
                             !ExistingWriteTime(destination.CStr(), current) ||
                             IsOlderThanEntry(current, e.dateTime);
      LogLine(destination, outOfDate ? " is out of date and will be replaced.\r\n" : " is up to date.\r\n");
      return outOfDate;
    }
    case kKindSystemPermanent:
    case kKindComServer:
    case kKindTypeLibrary:
    case kKindVersioned: {
      existed = FileExists(destination.CStr());
      if (!existed) return true;
      const bool recordKept = e.kind == kKindVersioned && !e.Permanent();
      if (!e.text1.IsEmpty()) {
        const String current = ExistingVersionText(destination.CStr());
        if (!current.IsEmpty() && CompareVersions(e.text1.CStr(), current.CStr()) <= 0) {
          LogLine(destination, " was not installed because its version is not newer.\r\n");
          if (recordKept) AddUninstallEntry(destination.CStr(), kUninstallFile);
          return false;
        }
      }
      ArchiveDateTime current;
      if (ExistingWriteTime(destination.CStr(), current) && !IsOlderThanEntry(current, e.dateTime)) {
        LogLine(destination, " was not installed because its date is not newer.\r\n");
        if (recordKept) AddUninstallEntry(destination.CStr(), kUninstallFile);
        return false;
      }
      LogLine(destination, " is out of date and will be replaced.\r\n");
      return true;
    }
    default: return true;
  }
}

void AppendShortcutRequest(const InstallEntry& e, const String& destination) {
  ShortcutRecord& s = g_archive.settings.shortcuts.Append();
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
// in the error text) when it cannot be created.
bool PrepareDirectory(const InstallEntry& e, const String& destination) {
  const String directory = DirectoryOf(destination.CStr());
  if (directory.CompareNoCase(InstallationDirectory().CStr()) == 0) return true;
  // Entries of one folder follow each other: the folder made for the last
  // one is not looked at again.
  const bool prepared = directory.CompareNoCase(g_lists.preparedDirectory.CStr()) == 0;
  if (!prepared && !CreateDirectoryTree(directory.CStr())) {
    const String reason = LastErrorText();
    AppendFormat(ErrorText(), "%s %s\r\n%s\r\nNot installed: %s\r\n\r\n", MessageText(kMsgDirectoryNotCreated),
                 directory.CStr(), reason.CStr(), destination.CStr());
    return false;
  }
  g_lists.preparedDirectory = directory;
  if (RecordsForUninstall(e)) AddUninstallEntry(directory.CStr(), kUninstallDirectory);
  return true;
}

void RegisterFont(const InstallEntry& e) {
  (void)SetFontValue(e.text1.CStr(), e.name.CStr());  // the font still works for this session without it
  AddFontResourceA(e.name.CStr());
  if (!e.Permanent()) {
    String& text = g_lists.fontText;
    text.AppendChar('"');
    text.Append(e.text1);
    text.Append("\" \"");
    text.Append(e.name);
    text.Append("\" ");
  }
  g_lists.fontAdded = true;
}

void ExtractEntry(InstallEntry& e, ItemProgress& progress) {
  bool inTree = false;
  const String destination = ResolveDestination(e, inTree);
  ListBookkeeping(e, destination);
  bool existed = false;
  if (!PassesOverwriteRules(e, destination, existed)) return;
  if ((e.kind == kKindInstallDir && (e.flags & (kEntryDesktopShortcut | kEntryStartMenuShortcut))) ||
      e.kind == kKindStartup)
    AppendShortcutRequest(e, destination);
  if (inTree && !PrepareDirectory(e, destination)) return;
  if (RecordsForUninstall(e)) AddUninstallEntry(destination.CStr(), kUninstallFile);
  if (!WriteFileOrSchedule(destination.CStr(), e.data, (int32_t)e.size, e.dateTime, ErrorText(), e.attributes, existed))
    return;
  if (e.kind == kKindFont) RegisterFont(e);
  String line;
  Format(line, "%s -> %s", e.name.CStr(), destination.CStr());
  if (!ProductFlag(kFlagNoFileStatus)) progress.Status(line);
  if (ProductFlag(kFlagVerboseLog)) {
    InstallLogText().Append(line);
    InstallLogText().Append("\r\n");
  }
}

}  // namespace

Array<String>& SharedFileList() { return g_lists.sharedFiles; }
Array<String>& ComServerList() { return g_lists.comServers; }
Array<String>& TypeLibraryList() { return g_lists.typeLibraries; }
String& FontListText() { return g_lists.fontText; }
bool FontAdded() { return g_lists.fontAdded; }

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

void ExtractEntries() {
  SetStatus("%s", MessageText(kMsgInstalling));
  ClearUninstallList();
  g_lists.sharedFiles.Clear();
  g_lists.comServers.Clear();
  g_lists.typeLibraries.Clear();
  g_lists.fontText.Clear();
  g_lists.fontAdded = false;
  g_lists.preparedDirectory.Clear();

  ArchiveCursor& cursor = g_archive.cursor;
  const Vector<uint32_t>& sizes = g_archive.header.entrySizes;
  const int32_t count = sizes.Count();
  ItemProgress progress;
  for (int32_t i = 0; i < count; ++i) {
    progress.Advance(45 + (int32_t)ScaleDown((uint32_t)i, 40, 0, (uint32_t)count));
    InstallEntry e;
    ReadEntry(cursor, sizes[i], e);
    ExtractEntry(e, progress);
  }
  progress.Finish();
  if (g_lists.fontAdded) PostMessageA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0);
  SetProgress(87);
}
