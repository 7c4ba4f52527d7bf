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

#include "archive/record_rules.h"

struct Run;

// Applies every record of the run's archive settings, in order (each
// specification is expanded in place). Writes to the run's install log text
// and error text; ends the process with code 65 when a date argument cannot
// be parsed.
void ApplyDeletionRecords(Run& run);
