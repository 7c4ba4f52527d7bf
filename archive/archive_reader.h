// Reading the archive: the cursor over its bytes, the header checks and the
// settings block.
//
// Portable: the runtime reads the section as the loader mapped it, the
// authoring tool reads an installer file held in memory. Every read of the
// cursor is bounded by the bytes that are really there (the mapped section,
// or later the assembled data region): reaching past them is the archive
// error kErrArchiveTruncated, never a read outside the buffer.
#pragma once
#include <stdint.h>

#include "archive/format.h"
#include "core/containers.h"
#include "core/string.h"

class ArchiveCursor {
 public:
  ArchiveCursor() = default;
  ArchiveCursor(const unsigned char* begin, const unsigned char* end) : base_(begin), at_(begin), end_(end) {}

  // Each returns false, without moving, when the bytes are not all there.
  [[nodiscard]] bool U32(uint32_t& value);
  [[nodiscard]] bool Text(String& text);  // up to and past the NUL; a missing NUL is a failure
  [[nodiscard]] bool Bytes(int32_t n, String& bytes);
  [[nodiscard]] bool Skip(int32_t n);

  const unsigned char* At() const { return at_; }
  const unsigned char* Base() const { return base_; }
  int64_t Offset() const { return at_ - base_; }
  int64_t Left() const { return end_ - at_; }

 private:
  const unsigned char* base_ = nullptr;
  const unsigned char* at_ = nullptr;
  const unsigned char* end_ = nullptr;
};

struct ArchiveHeaderValues {
  ArchiveHeader header{};
  Vector<uint32_t> entrySizes;
  int32_t dataRegionOffset = 0;  // from the section start
};

// What the version check found wrong, for the caller's message.
struct ArchiveVersionProblem {
  bool tooNew = false;
  double version = 0;  // formatVersion / 100
};

// Reads and checks the header at the cursor, in order: magic (20), version
// (problem.tooNew: one-sided, 17.20 and lower pass), settingsPackedSize (22),
// sectionArchiveSize (45), entryCount (27), dataRegionSize (29), the entry
// sizes (28); a header or size table that reaches past the cursor's end is
// kErrArchiveTruncated. On success the cursor stands on the packed settings.
// On a version problem the result is kArchiveOk with problem.tooNew set, so
// the caller shows its message.
[[nodiscard]] ArchiveError ReadArchiveHeader(ArchiveCursor& cursor, ArchiveHeaderValues& values, ArchiveVersionProblem& problem);

// How the header's sectionArchiveSize relates to the section the archive is
// read from.
enum class SectionArchiveSizeCheck {
  kFits,               // within the mapped bytes, and reaching the data region's start
  kBeyondSection,      // claims more bytes than are mapped
  kBeforeDataRegion,   // ends before the data region starts: its first piece would be negative
};

// Checks values.header.sectionArchiveSize against the mapped section size
// (the cursor's whole extent) and values.dataRegionOffset. Anything but kFits
// is the archive error kErrArchiveTruncated, whether the data region lies in
// the section or outside the image.
[[nodiscard]] SectionArchiveSizeCheck CheckSectionArchiveSize(const ArchiveHeaderValues& values, int64_t mappedSize);

// Takes the packed settings from the cursor (kErrArchiveTruncated when they
// are not all there), unscrambles them with the settings checksum and
// unpacks them (47). On success the cursor stands on the data region.
[[nodiscard]] ArchiveError LoadSettingsBlock(ArchiveCursor& cursor, const ArchiveHeaderValues& values, String& settings);
