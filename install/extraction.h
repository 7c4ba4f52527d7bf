// Extraction: the product's files from the data region onto the disk.
//
// ExtractEntries walks the entry records in archive order. For each it
// checks the record (corrupt archive: 70 empty or unusable name, 71/72 bad
// size, 100 data checksum, 110 kind; a record list that ends before the last
// entry is 46), works out the destination, applies the overwrite mode and the
// kind's checks (dates, versions), creates the destination directory, writes
// the file through WriteFileOrSchedule straight from the region (the data is
// never copied) and records what it did: uninstall entries, shortcut
// requests, the extraction lists, install-log lines and the error text.
//
// The lists (runtime/extraction_lists.h) are the run's: they start empty
// with it, and the registration steps read them afterwards. A run extracts
// once.
#pragma once
#include <stdint.h>

#include "archive/format.h"
#include "core/containers.h"
#include "core/string.h"
#include "runtime/extraction_lists.h"

class ProgressDialog;
struct Run;

// The whole loop, over the run's archive: reads its cursor, which
// AssembleDataRegion left on the first entry record, and the header's entry
// count and sizes. Moves the progress bar from 45 to 85 across the entries
// and to 87 at the end. Corrupt records end the process; everything else is
// recorded in the run.
void ExtractEntries(Run& run, ProgressDialog& dialog);

// "Existing file A is older than entry B": B without a date (month 0) makes
// A older; otherwise the dates decide (year, month, day) and, on equal
// dates, B without a time (negative hour) makes A older, else the times
// (hour, minute, second) decide. Equal date-times are not older.
bool IsOlderThanEntry(const ArchiveDateTime& existing, const ArchiveDateTime& entry);

// The version text of an existing file as the overwrite rules compare it:
// the FileVersion string of its first translation, commas made points,
// white space trimmed from both ends, letters upper-cased, every
// point-separated part left-padded with '0' to 10 characters. "" when the
// file has no version resource or no such string.
String ExistingVersionText(const char* path);
