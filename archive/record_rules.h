// Rules on archive records that the runtime and the authoring tool apply
// alike, so that what truxpack accepts and verifies is exactly what the
// installer accepts. Portable.
#pragma once
#include <stdint.h>

#include "core/datetime.h"
#include "core/string.h"

// An entry name the installer joins to a directory: a relative path that
// stays inside it. Refused: an empty name, a leading '\' or '/', any ':'
// (a drive or a stream name) and any ".." part ('\' and '/' both separate
// parts). A refused name is a corrupt archive (code 70).
bool IsUsableEntryName(const char* name);

// The name of the value that keeps an association's replaced default text,
// written by the installer and read back by the uninstaller: the product
// name followed by " Backup", every backslash, CR, LF and tab removed.
String BackupValueName(const char* productName);

// Deletion-record conditions; any other value deletes every listed file.
enum DeletionCondition : uint8_t {
  kDeleteOnDate = 1,       // last written on the argument's date (and time, when it has one)
  kDeleteFromDate = 2,     // last written at or after the argument
  kDeleteUntilDate = 3,    // last written at or before the argument
  kDeleteSizeEquals = 4,   // size equals N
  kDeleteSizeAtLeast = 5,  // size N or more
  kDeleteSizeAtMost = 6,   // size N or less
};

// Deletion-record option: schedule a failed deletion for the next restart.
constexpr uint32_t kDeletionScheduleOnFailure = 0x2;

inline bool IsDateCondition(uint8_t condition) {
  return condition >= kDeleteOnDate && condition <= kDeleteUntilDate;
}

// The date (and optional time) of a date condition's argument, read month
// first; false when the argument holds no valid date (a corrupt archive,
// code 65). A valid time is hours 0-23, minutes and seconds 0-59.
[[nodiscard]] bool ParseDeletionDate(const char* argument, DateTime& when);

// N of a size condition: the integer at the argument's first digit, '+', '-'
// or '.' (0 without one), held within 32 bits.
int32_t DeletionSizeArgument(const char* argument);

// Whether a file with this last-write time (local) and size meets the
// condition; when is the parsed argument of a date condition, n that of a
// size condition (compared with the size after sign extension). Date
// conditions compare the dates, and also the times when the argument has a
// valid time.
bool MeetsDeletionCondition(uint8_t condition, const DateTime& lastWrite, uint64_t size, const DateTime& when,
                            int32_t n);
