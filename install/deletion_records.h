// Deletion records: files of an earlier installation removed before the new
// files are written.
//
// Each record of the archive names files (path variables, wildcards, several
// names per line, relative names taken from the install directory) and a
// condition on their last-write time or size; every listed file that meets
// it loses its read-only, hidden and system attributes and is deleted. A
// file that cannot be deleted is logged and, with option 0x2, scheduled for
// deletion at the next restart (which sets the reboot-required state).
//
// Guarantee: every date argument of every record is checked before the first
// file is touched, so an archive with an unparsable date (corrupt archive,
// code 65) deletes nothing at all.
#pragma once
#include <stdint.h>

#include "core/datetime.h"
#include "core/string.h"

// Record conditions; any other value deletes every listed file.
enum DeletionCondition : uint8_t {
  kDeleteOnDate = 1,         // last written on the argument's date (and time, when it has one)
  kDeleteFromDate = 2,       // last written at or after the argument
  kDeleteUntilDate = 3,      // last written at or before the argument
  kDeleteSizeEquals = 4,     // size equals N
  kDeleteSizeAtLeast = 5,    // size N or more
  kDeleteSizeAtMost = 6,     // size N or less
};

// Record option: schedule a failed deletion for the next restart.
constexpr uint32_t kDeletionScheduleOnFailure = 0x2;

// Applies every record of the archive settings, in order. Writes to the
// install log text and the error text; ends the process with code 65 when a
// date argument cannot be parsed.
void ApplyDeletionRecords();

// The argument of a date condition; false when it holds no valid date.
bool ParseDeletionDate(const String& argument, DateTime& when);

// Whether a file with this last-write time and size meets the condition.
// when is the parsed argument of conditions 1 to 3; n the number argument of
// conditions 4 to 6.
bool MeetsDeletionCondition(uint8_t condition, const DateTime& lastWrite, uint64_t size, const DateTime& when,
                            int32_t n);
