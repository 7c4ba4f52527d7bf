// The walk of one entry record of the data region, shared by the runtime's
// extraction and the authoring tool's readers, so that both find the same
// records corrupt with the same codes, in the same order.
//
// A record is read in pieces, because the authoring tool streams an entry's
// data instead of holding it: the head (name, kind, flags, attributes), the
// data (its size comes from the header's table), the u32 checksum of the
// data, then the tail (date-time and texts). Each piece is read from a
// bounded ArchiveCursor; a piece whose bytes are not all there is
// kErrArchiveTruncated and leaves the cursor where it was, so a streaming
// caller can supply more bytes and read the piece again.
//
// Order of the checks, as an installation meets them:
//   head      46 cut off, 70 empty or unusable name
//   size      71 negative, 72 above 1 GiB
//   data      46 cut off, 100 checksum mismatch
//   tail      46 cut off
//   then      70 a new file name (HasNewFileName) that is not usable,
//             110 a kind that is not known, unless text 4 or the
//             uninstall-directory flag gives the destination
#pragma once
#include <stdint.h>

#include "archive/archive_reader.h"
#include "archive/format.h"
#include "core/string.h"

struct EntryRecord {
  String name;
  int32_t kind = 0;
  uint32_t flags = 0;
  uint32_t attributes = 0;
  uint32_t size = 0;      // from the header's entry-size table
  uint32_t checksum = 0;  // as stored after the data
  ArchiveDateTime dateTime{};
  // The five texts in the record's order. What a text means depends on the
  // kind and the flags; the accessors below name the roles.
  String text1, text2, text3, text4, text5;

  // Text 1: the version text of the kinds compared by version (6 to 9), the
  // font name of a font (kind 4), the name of the entry's shortcut.
  const String& VersionText() const { return text1; }
  const String& FontName() const { return text1; }
  const String& ShortcutName() const { return text1; }
  // Text 2, in the record only with a shortcut flag: the shortcut's icon file.
  const String& ShortcutIconFile() const { return text2; }
  const String& ShortcutArguments() const { return text3; }
  const String& ShortcutWorkingDirectory() const { return text5; }
  // Text 4, the destination override: empty, a new file name or a
  // destination path.
  const String& DestinationOverride() const { return text4; }

  // Text 4 without a backslash is a new file name: the entry keeps its
  // kind's directory and is installed under that name instead of its own.
  bool HasNewFileName() const;
  // Text 4 with a backslash is a destination path, which replaces the
  // kind's directory (and, ending in a backslash, takes the entry's file
  // name).
  bool HasDestinationPath() const { return !text4.IsEmpty() && !HasNewFileName(); }
  // The name the entry is installed under inside its directory.
  const String& InstalledName() const { return HasNewFileName() ? text4 : name; }
};

// Name, kind, flags and attributes.
ArchiveError ReadEntryHead(ArchiveCursor& cursor, EntryRecord& entry);

// The entry's size from the header's table: 71 when it is negative as a
// signed 32-bit value, 72 when it exceeds 1 GiB.
ArchiveError CheckEntrySize(uint32_t storedSize);

// Date-time and texts; text 2 only when entry flags 0x1 or 0x2 is set.
ArchiveError ReadEntryTail(ArchiveCursor& cursor, EntryRecord& entry);

// The checks made once the record is read: the renamed file name (70) and
// the kind (110).
ArchiveError CheckEntryDestination(const EntryRecord& entry);

// The whole record from a region held in memory. data receives the address
// of the entry's data inside the cursor's bytes (never copied). On failure
// the cursor's position is unspecified.
ArchiveError ReadEntryRecord(ArchiveCursor& cursor, uint32_t storedSize, EntryRecord& entry,
                             const unsigned char*& data);
