#include "install/file_writer.h"

#include <windows.h>
#include <shellapi.h>
#include <string.h>

#include "core/format.h"
#include "core/path.h"
#include "core/win32/disk_file.h"
#include "core/win32/dynamic_library.h"
#include "core/win32/file_util.h"
#include "core/win32/system.h"
#include "core/win32/system_dirs.h"
#include "core/win32/system_error.h"
#include "runtime/installer_archive.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "runtime/run_texts.h"

namespace {

constexpr int32_t kWriteAttempts = 3;
constexpr uint32_t kClearOnRetryMask = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

bool WininitExists() { return FileExists(JoinPath(WindowsDir().CStr(), "wininit.exe").CStr()); }

// MoveFileExA with the delay-until-reboot flag, on NT platforms only. When
// it is missing or fails, the "[rename]" section serves only where
// "wininit.exe" exists; the last error of the failed call is kept for the
// caller's report.
enum class RebootMove { kDone, kUseWininit, kFailed };
RebootMove MoveAtReboot(const char* source, const char* destination, DWORD flags) {
  if (!IsNtPlatform()) return RebootMove::kUseWininit;
  const auto moveFileEx = SystemApi(kLibKernel32).MoveFileExA;
  if (moveFileEx && moveFileEx(source, destination, flags)) return RebootMove::kDone;
  const DWORD error = GetLastError();
  const bool wininit = WininitExists();
  SetLastError(error);
  return wininit ? RebootMove::kUseWininit : RebootMove::kFailed;
}

bool HasDateAndTime(const ArchiveDateTime& t) { return t.month != 0 && t.hour >= 0; }

// Both file times from the entry's local date-time, in one call on a fresh
// handle (the data went out through another handle, already closed, so no
// pending write can move the time again); failures are ignored.
void SetEntryTimes(const char* path, const ArchiveDateTime& t) {
  SYSTEMTIME local = {(WORD)t.year, (WORD)t.month, 0, (WORD)t.day, (WORD)t.hour, (WORD)t.minute, (WORD)t.second, 0};
  FILETIME localTime, utc;
  if (!SystemTimeToFileTime(&local, &localTime) || !LocalFileTimeToFileTime(&localTime, &utc)) return;
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  SetFileTime(file, &utc, nullptr, &utc);
  CloseHandle(file);
}

enum class Attempt { kWritten, kFailed, kMismatch };

Attempt WriteOnce(const Run& run, const char* path, const void* data, int32_t size) {
  DiskFile file;
  if (file.Open(path, kOpenWriteNew) != kOpenOk) return Attempt::kFailed;
  if (!file.WriteBlock(data, size)) {
    const DWORD error = GetLastError();
    file.Close();
    SetLastError(error);
    return Attempt::kFailed;
  }
  file.Close();
  if (ProductFlag(run, kFlagVerifyWrittenFiles) && !FileMatches(path, data, size)) return Attempt::kMismatch;
  return Attempt::kWritten;
}

// Stages data in a temporary file and schedules it to replace path at the
// next restart. Appends its lines to report; true when scheduled.
bool ScheduleReplacement(Run& run, const char* path, const void* data, int32_t size, String& report) {
  String temporary;
  if (!WriteTempFile(data, size, temporary)) {
    const String reason = LastErrorText();
    if (!temporary.IsEmpty()) DeleteFileA(temporary.CStr());  // a partly written file is not left behind
    AppendFormat(report,
                 "Failed to register '%s' for replacement because no temporary file could be created.\r\n%s\r\n",
                 path, reason.CStr());
    return false;
  }
  temporary = ShortPathOf(temporary.CStr());
  const char* moved = temporary.CStr();
  SetLastError(0);
  if (RenameFile(moved, path, kRenameAtReboot)) {
    SetRebootRequired(run);
    AppendFormat(report,
                 "\"%s\" was successfully registered for replacement.\r\nTemporary file is \"%s\"\r\nReboot will be "
                 "required.\r\n\r\n",
                 path, moved);
    return true;
  }
  AppendFormat(report, "Failed to register '%s' for replacement with temporary file '%s'\r\n%s\r\n", path,
               moved, LastErrorText().CStr());
  (void)RemoveFile(moved, 0);  // the failure is reported above; this only tidies up
  return false;
}

enum class TreeEntry { kDirectory, kDirectoryLink, kFileLink, kNoDirectory };

// What path is, as itself: a link or junction is never followed. On NT a
// directory is opened (FILE_FLAG_OPEN_REPARSE_POINT) and held in self,
// without delete sharing, so it cannot be renamed away and replaced by a
// link while its contents are removed by name; the caller closes it.
// Windows 9x knows no links and cannot open a directory: its attributes
// decide there, and self stays invalid. kNoDirectory leaves the reason in
// the thread's last error.
TreeEntry OpenTreeDirectory(const char* path, HANDLE& self) {
  self = INVALID_HANDLE_VALUE;
  if (!IsNtPlatform()) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return TreeEntry::kDirectory;
    if (attributes != INVALID_FILE_ATTRIBUTES) SetLastError(ERROR_DIRECTORY);
    return TreeEntry::kNoDirectory;
  }
  HANDLE h = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return TreeEntry::kNoDirectory;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(h, &info) != FALSE;
  const DWORD error = GetLastError();
  const DWORD attributes = known ? info.dwFileAttributes : 0;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    self = h;
    return TreeEntry::kDirectory;
  }
  CloseHandle(h);
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? TreeEntry::kDirectoryLink : TreeEntry::kFileLink;
  SetLastError(known ? (DWORD)ERROR_DIRECTORY : error);
  return TreeEntry::kNoDirectory;
}

}  // namespace

bool IsRebootRequired(const Run& run) { return ProductFlag(run, kFlagRestartNeeded); }
void SetRebootRequired(Run& run) { run.productFlags |= (uint64_t)1 << kFlagRestartNeeded; }

bool WriteFileOrSchedule(Run& run, const char* path, const void* data, int32_t size, const ArchiveDateTime& dateTime,
                         String& errorText, uint32_t attributes, bool existed) {
  if (size < 0) ReportCorruptArchive(run, kErrNegativeFileSize);
  Attempt result = Attempt::kFailed;
  DWORD error = 0;
  for (int32_t attempt = 1; attempt <= kWriteAttempts; ++attempt) {
    result = WriteOnce(run, path, data, size);
    if (result == Attempt::kWritten) break;
    error = GetLastError();
    if (attempt == 1 && result == Attempt::kFailed && ProductFlag(run, kFlagClearAttributesOnRetry))
      ClearAttributes(path, kClearOnRetryMask);
  }

  if (result == Attempt::kWritten) {
    if (HasDateAndTime(dateTime)) SetEntryTimes(path, dateTime);
    if (attributes != kLeaveAttributes) SetAttributeBits(path, attributes, kEntryAttributeMask);
    return true;
  }
  if (result == Attempt::kMismatch) {
    // The file was written but reads back differently: reported, no rescue.
    AppendFormat(errorText, "%s %s\r\n\r\n", MessageText(run, kMsgErrorLineStart), path);
    return false;
  }

  SetLastError(error);
  String report("\r\n");
  report.Append(MessageText(run, kMsgErrorLineStart));
  report.AppendChar(' ');
  report.Append(path);
  report.Append("\r\n");
  const String reason = LastErrorText();
  if (!reason.IsEmpty()) {
    report.Append(reason);
    report.Append("\r\n");
  }
  String* destination = &errorText;
  if (existed || ProductFlag(run, kFlagRescueNewFiles)) {
    if (ScheduleReplacement(run, path, data, size, report)) destination = &run.texts.installLog;
  }
  destination->Append(report);
  return false;
}

bool RemoveFile(const char* path, uint32_t options) {
  if (!path || !*path) return false;
  for (;;) {
    if (!(options & kRemoveKeepReadOnly)) SetReadOnly(path, false);
    if (options & kRemoveAtReboot) {
      const RebootMove move = MoveAtReboot(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
      if (move == RebootMove::kDone) return true;
      if (move == RebootMove::kFailed) return false;
      return AddWininitRename("NUL", ShortPathOf(path).CStr());
    }
    if (options & kRemoveToRecycleBin) {
      // The shell takes a list of names ending with an empty one.
      String names(path);
      names.AppendChar('\0');
      SHFILEOPSTRUCTA operation = {};
      operation.wFunc = FO_DELETE;
      operation.pFrom = names.CStr();
      operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_ALLOWUNDO | FOF_NOERRORUI;
      return SHFileOperationA(&operation) == 0;
    }
    if (DeleteFileA(path)) return true;
    if (!(options & kRemoveRebootOnFailure)) return false;
    options |= kRemoveAtReboot;
  }
}

bool RenameFile(const char* source, const char* destination, uint32_t options) {
  if (!source || !*source || !destination || !*destination) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (!FileExists(source)) return false;
  if (strcmp(source, destination) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return true;
  }
  if ((options & kRenameRefuseReadOnly) && IsReadOnly(destination)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (String(source).CompareNoCase(destination) != 0) {
    if (options & kRenameDestinationMustExist) {
      if (!FileExists(destination)) return false;
      (void)RemoveFile(destination, 0);  // a destination that stays makes the move below fail or be scheduled
    } else if (options & kRenameDestinationMustNotExist) {
      if (FileExists(destination)) return false;
    } else {
      // A destination held open by another process survives this and is
      // replaced at the restart.
      (void)RemoveFile(destination, 0);
    }
  }
  // A directory that cannot be created makes the move below fail and report.
  if (options & kRenameCreateDirectory) (void)CreateDirectoryTree(DirectoryOf(destination).CStr());
  if (!(options & kRenameAtReboot)) return MoveFileA(source, destination) != FALSE;
  const RebootMove move = MoveAtReboot(source, destination, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT);
  if (move == RebootMove::kDone) return true;
  if (move == RebootMove::kFailed) return false;
  return AddWininitRename(ShortPathOf(destination).CStr(), ShortPathOf(source).CStr());
}

bool AddWininitRename(const char* destination, const char* source) {
  SetLastError(0);
  if (!destination || !*destination || !source || !*source) return false;
  const String path = JoinPath(WindowsDir().CStr(), "wininit.ini");
  DiskFile file;
  if (file.Open(path.CStr(), kOpenAlways) != kOpenOk) return false;
  String text;
  if (!file.ReadAll(text)) return false;
  const int32_t section = text.Find("[rename]", kWholeText, 0, kFindIgnoreCase);
  if (section >= 0) {
    String line;
    Format(line, "\r\n%s=%s", destination, source);
    text.Insert(section + 8, line.CStr(), line.Length());
  } else {
    text.EnsureTrailingNewline();
    AppendFormat(text, "[rename]\r\n%s=%s", destination, source);
  }
  return file.SeekTo(0) && file.WriteBlock(text.CStr(), text.Length()) && file.Truncate();
}

bool RemoveDirectoryTree(const char* path, uint32_t options) {
  String directory(path);
  if (directory.Length() <= 3) return false;
  String windows = WindowsDir();
  String compared = directory;
  if (compared.EndsWithChar('\\')) compared.DeleteLast(1);
  if (windows.EndsWithChar('\\')) windows.DeleteLast(1);
  if (compared.CompareNoCase(windows.CStr()) == 0) return false;

  HANDLE self = INVALID_HANDLE_VALUE;
  switch (OpenTreeDirectory(compared.CStr(), self)) {
    case TreeEntry::kDirectory: break;
    case TreeEntry::kDirectoryLink: return RemoveDirectoryA(compared.CStr()) != FALSE;
    case TreeEntry::kFileLink: return DeleteFileA(compared.CStr()) != FALSE;
    case TreeEntry::kNoDirectory: return false;
  }

  bool ok = true;
  DWORD remembered = 0;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(JoinPath(directory.CStr(), "*.*").CStr(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const char* name = found.cFileName;
      if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) continue;
      const String full = JoinPath(directory.CStr(), name);
      // A subdirectory (or a link to one) checks what it is itself when it
      // is opened; a file name that is a link is deleted as the link.
      const bool isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      const bool removed = isDirectory ? RemoveDirectoryTree(full.CStr(), options) : RemoveFile(full.CStr(), options);
      if (!removed) {
        remembered = GetLastError();
        ok = false;
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  if (self != INVALID_HANDLE_VALUE) CloseHandle(self);
  if (!RemoveDirectoryIfEmpty(directory.CStr())) {
    if (ok) remembered = GetLastError();
    ok = false;
  }
  SetLastError(remembered);
  return ok;
}
