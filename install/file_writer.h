// Writing, removing and renaming files now or at the next restart.
//
// Installing over a running product meets files that another process holds
// open. WriteFileOrSchedule writes with retries and, when that fails for a
// file that was already there, stages the new content in a temporary file
// and has the system move it into place at the next restart. RemoveFile and
// RenameFile act now or schedule the act: through MoveFileExA with the
// delay-until-reboot flag on Windows NT platforms, and through the
// "[rename]" section of the Windows directory's "wininit.ini" elsewhere.
//
// The reboot-required state is flag bit 14 of the run's flags word: set by
// the archive or, at run time, by every scheduled replacement or deletion;
// once set it stays set.
//
// Everything runs on the GUI thread. Failures are results; the texts of
// WriteFileOrSchedule's reports go to the error text or the install log text
// as described below.
#pragma once
#include <stdint.h>

#include "archive/format.h"
#include "core/string.h"

struct Run;

// RemoveFile options.
enum RemoveFileOption : uint32_t {
  kRemoveKeepReadOnly = 0x1,      // leave the read-only attribute alone (else it is cleared first)
  kRemoveAtReboot = 0x2,          // do not delete now: schedule the deletion for the next restart
  kRemoveRebootOnFailure = 0x10,  // when deleting now fails, schedule it for the next restart
  kRemoveToRecycleBin = 0x80,     // move to the recycle bin instead of deleting
};

// RenameFile options.
enum RenameFileOption : uint32_t {
  kRenameDestinationMustExist = 0x1,  // the destination must exist; it is deleted first
  kRenameDestinationMustNotExist = 0x2,
  kRenameCreateDirectory = 0x4,       // create the destination's directory first
  kRenameAtReboot = 0x8,              // schedule the rename for the next restart
  kRenameRefuseReadOnly = 0x40,       // a read-only destination fails with ERROR_ACCESS_DENIED
};

// The attribute bits an entry's attributes may set or clear: read-only,
// hidden, system, archive, temporary, offline. Others stay as they are.
constexpr uint32_t kEntryAttributeMask = 0x1127;

// The attributes value that leaves the written file's attributes alone.
constexpr uint32_t kLeaveAttributes = kKeepAttributes;

// Writes size bytes of data to path (created or truncated, not shared while
// written), in up to three immediate attempts:
//  - after the first failed attempt, with flag bit 19, the read-only, hidden
//    and system attributes of the existing file are cleared;
//  - with flag bit 18 the written file is compared with data; a mismatch
//    counts as a failed attempt, and three mismatches report message 31 with
//    the path into errorText and return false with no rescue.
// On success: when dateTime has a date (month not 0) and a time (hour 0 or
// more) both the creation and the last-write time are set from it (local
// time); when attributes is not kLeaveAttributes the bits of
// kEntryAttributeMask are set as attributes says. Failures of these two
// steps are ignored. Returns true: the file holds the data.
// After three failures a report (message 31, the path, the system's text of
// the last error) goes to errorText. When existed is true, or flag bit 11 is
// set, the data is first staged in a new temporary file whose replacement of
// path at the next restart is scheduled; when that succeeds the reboot-
// required state is set and the report, with the scheduling lines, goes to
// the install log text instead. Returns false in every failure case (also
// after a successful scheduling: the file is not in place yet).
// A negative size is a corrupt archive (code 5; the process ends). data is
// never copied except into the temporary file of a rescue.
[[nodiscard]] bool WriteFileOrSchedule(Run& run, const char* path, const void* data, int32_t size,
                                       const ArchiveDateTime& dateTime, String& errorText, uint32_t attributes,
                                       bool existed);

// Deletes path as options say (RemoveFileOption). False for an empty path
// and whenever the deletion (or its scheduling) failed; the thread's last
// error then tells why.
[[nodiscard]] bool RemoveFile(const char* path, uint32_t options);

// Renames source to destination as options say (RenameFileOption). Either
// path empty: false with last error ERROR_INVALID_PARAMETER; a missing
// source: false; identical paths: true with last error
// ERROR_INVALID_PARAMETER (nothing to do).
[[nodiscard]] bool RenameFile(const char* source, const char* destination, uint32_t options);

// Adds "destination=source" to the "[rename]" section of "wininit.ini" in the
// Windows directory: directly under the section header when the section
// exists (the newest entry first), else a new section at the end of the
// file, whose other content is kept. False when either text is empty or the
// file cannot be read or rewritten.
[[nodiscard]] bool AddWininitRename(const char* destination, const char* source);

// Deletes the directory path with everything in it, each file through
// RemoveFile(file, options). Never follows a junction or symbolic link:
// every directory is opened as itself (FILE_FLAG_OPEN_REPARSE_POINT) and
// held against renaming while its contents go; a link, path itself
// included, is removed as the link and its target stays untouched. Refuses
// a drive root (3 characters or fewer) and the Windows directory. Goes on
// after a failure; true only when everything was removed, and the thread's
// last error is that of the last failure (0 when none).
[[nodiscard]] bool RemoveDirectoryTree(const char* path, uint32_t options);

// The reboot-required state: flag bit 14 of the run's flags word.
bool IsRebootRequired(const Run& run);
void SetRebootRequired(Run& run);
