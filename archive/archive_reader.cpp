#include "archive/archive_reader.h"

#include <string.h>

#include "archive/block.h"
#include "core/byte_order.h"

bool ArchiveCursor::U32(uint32_t& value) {
  if (Left() < 4) return false;
  value = LoadLe32(at_);
  at_ += 4;
  return true;
}

bool ArchiveCursor::Text(String& text) {
  if (Left() <= 0) return false;
  const void* nul = memchr(at_, 0, (size_t)Left());
  if (!nul) return false;
  int32_t n = (int32_t)(static_cast<const unsigned char*>(nul) - at_);
  text.Assign(reinterpret_cast<const char*>(at_), n);
  at_ += n + 1;
  return true;
}

bool ArchiveCursor::Bytes(int32_t n, String& bytes) {
  if (n < 0 || Left() < n) return false;
  bytes.Assign(reinterpret_cast<const char*>(at_), n);
  at_ += n;
  return true;
}

bool ArchiveCursor::Skip(int32_t n) {
  if (n < 0 || Left() < n) return false;
  at_ += n;
  return true;
}

ArchiveError ReadArchiveHeader(ArchiveCursor& cursor, ArchiveHeaderValues& values, ArchiveVersionProblem& problem) {
  ArchiveHeader& h = values.header;
  uint32_t field = 0;
  if (!cursor.U32(h.magic)) return kErrArchiveTruncated;
  if (h.magic != kArchiveMagic) return kErrMagic;
  if (!cursor.U32(field)) return kErrArchiveTruncated;
  h.formatVersion = (int32_t)field;
  problem.version = h.formatVersion * 0.01;
  // One-sided: any older archive passes; 17.21 already fails, since in
  // double precision 17.21 - 17.2 is slightly above 0.01.
  if (problem.version - kArchiveFormatVersionValue > 0.01) {
    problem.tooNew = true;
    return kArchiveOk;
  }
  uint32_t fields[7];
  for (uint32_t& f : fields)
    if (!cursor.U32(f)) return kErrArchiveTruncated;
  h.settingsPackedSize = (int32_t)fields[0];
  if (fields[0] - 1u > (uint32_t)kMaxSettingsPackedSize - 1u) return kErrSettingsPackedSize;
  h.settingsChecksum = fields[1];
  h.stubChecksum = fields[2];
  h.sectionArchiveSize = (int32_t)fields[3];
  h.entryCount = (int32_t)fields[4];
  h.dataRegionSize = (int32_t)fields[5];
  h.dataRegionChecksum = fields[6];
  if (h.sectionArchiveSize < 0) return kErrSectionArchiveSize;
  if (h.entryCount < 0) return kErrEntryCount;
  if (h.dataRegionSize < 0) return kErrDataRegionSize;
  // The size table must be there before anything is reserved for it.
  if (cursor.Left() / 4 < h.entryCount) return kErrArchiveTruncated;
  values.entrySizes.Clear();
  for (int32_t i = 0; i < h.entryCount; ++i) {
    uint32_t size = 0;
    if (!cursor.U32(size)) return kErrArchiveTruncated;  // the table's length was checked above
    if (size > kMaxEntrySize) return kErrEntrySize;
    values.entrySizes.Append(size);
  }
  values.dataRegionOffset = (int32_t)(cursor.Offset() + h.settingsPackedSize);
  return kArchiveOk;
}

SectionArchiveSizeCheck CheckSectionArchiveSize(const ArchiveHeaderValues& values, int64_t mappedSize) {
  const int64_t claimed = values.header.sectionArchiveSize;
  if (claimed > mappedSize) return SectionArchiveSizeCheck::kBeyondSection;
  if (claimed < values.dataRegionOffset) return SectionArchiveSizeCheck::kBeforeDataRegion;
  return SectionArchiveSizeCheck::kFits;
}

ArchiveError LoadSettingsBlock(ArchiveCursor& cursor, const ArchiveHeaderValues& values, String& settings) {
  if (!cursor.Bytes(values.header.settingsPackedSize, settings)) return kErrArchiveTruncated;
  XorScramble(settings.Buffer(), settings.Length(), values.header.settingsChecksum);
  if (!UnpackInPlace(settings)) return kErrSettingsUnpack;
  return kArchiveOk;
}
