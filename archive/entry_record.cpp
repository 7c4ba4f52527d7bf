#include "archive/entry_record.h"

#include "archive/record_rules.h"
#include "core/checksum.h"

ArchiveError ReadEntryHead(ArchiveCursor& cursor, EntryRecord& entry) {
  ArchiveCursor at = cursor;
  uint32_t kind = 0;
  if (!at.Text(entry.name)) return kErrArchiveTruncated;
  if (!IsUsableEntryName(entry.name.CStr())) return kErrEntryNameEmpty;
  if (!at.U32(kind) || !at.U32(entry.flags) || !at.U32(entry.attributes)) return kErrArchiveTruncated;
  entry.kind = (int32_t)kind;
  cursor = at;
  return kArchiveOk;
}

ArchiveError CheckEntrySize(uint32_t storedSize) {
  if ((int32_t)storedSize < 0) return kErrEntrySizeNegative;
  if (storedSize > kMaxEntrySize) return kErrEntrySizeTooLarge;
  return kArchiveOk;
}

ArchiveError ReadEntryTail(ArchiveCursor& cursor, EntryRecord& entry) {
  ArchiveCursor at = cursor;
  uint32_t t[6];
  for (uint32_t& v : t)
    if (!at.U32(v)) return kErrArchiveTruncated;
  entry.dateTime = {(int32_t)t[0], (int32_t)t[1], (int32_t)t[2], (int32_t)t[3], (int32_t)t[4], (int32_t)t[5]};
  if (!at.Text(entry.text1)) return kErrArchiveTruncated;
  entry.text2.Clear();
  if ((entry.flags & (kEntryDesktopShortcut | kEntryStartMenuShortcut)) && !at.Text(entry.text2))
    return kErrArchiveTruncated;
  if (!at.Text(entry.text3) || !at.Text(entry.text4) || !at.Text(entry.text5)) return kErrArchiveTruncated;
  cursor = at;
  return kArchiveOk;
}

bool EntryRecord::HasNewFileName() const { return !text4.IsEmpty() && text4.FindChar('\\') < 0; }

ArchiveError CheckEntryDestination(const EntryRecord& entry) {
  const bool newFileName = entry.HasNewFileName();
  if (newFileName && !IsUsableEntryName(entry.text4.CStr())) return kErrEntryNameEmpty;
  // The kind only matters when neither a destination path in text 4 nor the
  // uninstall-directory flag gives the destination; a new file name alone
  // leaves the entry in its kind's directory, so its kind is examined.
  const bool destinationPath = !entry.text4.IsEmpty() && !newFileName;  // HasDestinationPath, text 4 searched once
  if (!destinationPath && !(entry.flags & kEntryToUninstallDir) && !IsValidEntryKind(entry.kind))
    return kErrEntryKind;
  return kArchiveOk;
}

ArchiveError ReadEntryRecord(ArchiveCursor& cursor, uint32_t storedSize, EntryRecord& entry,
                             const unsigned char*& data) {
  ArchiveError error = ReadEntryHead(cursor, entry);
  if (error == kArchiveOk) error = CheckEntrySize(storedSize);
  if (error != kArchiveOk) return error;
  entry.size = storedSize;
  data = cursor.At();
  if (!cursor.Skip((int32_t)storedSize) || !cursor.U32(entry.checksum)) return kErrArchiveTruncated;
  if (BlockChecksum(data, (int32_t)storedSize) != entry.checksum) return kErrEntryChecksum;
  error = ReadEntryTail(cursor, entry);
  if (error != kArchiveOk) return error;
  return CheckEntryDestination(entry);
}
