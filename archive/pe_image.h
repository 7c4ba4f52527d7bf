// Finding the archive section in the installer's PE image, and cutting it
// back out to make the uninstaller.
//
// Portable: the runtime reads its own file through a positioned reader; the
// authoring tool uses the same code on a file held in memory, so both agree
// on what the runtime will find and on the uninstaller image it derives.
#pragma once
#include <stdint.h>

#include "archive/format.h"
#include "core/string.h"

// Where the archive section is, as read from the PE headers.
struct PeLayout {
  uint32_t peHeaderOffset = 0;      // 16 bits at 0x3C
  uint32_t sectionCount = 0;        // 16 bits at peHeaderOffset + 6
  uint32_t sectionTable = 0;        // file offset of the first section header
  int32_t archiveIndex = -1;        // index of the ".trux" header
  uint32_t sectionVirtualSize = 0;  // bytes the loader maps for the section
  uint32_t sectionVirtualAddress = 0;
  uint32_t sectionRawSize = 0;      // SizeOfRawData
  uint32_t sectionFileOffset = 0;   // PointerToRawData
};

constexpr int32_t kSectionHeaderSize = 40;
// The section counts the runtime accepts in an installer (the archive
// section included); the authoring tool refuses to build outside them.
constexpr uint32_t kMinSectionCount = 4;
constexpr uint32_t kMaxSectionCount = 99;
// FindArchiveSection's result when the file is a sound PE image without an
// archive section (the bare uninstaller).
constexpr int32_t kNoArchiveSection = -1;

// The bytes of the archive section the loader maps and the archive may be
// read from: its raw data, cut to its virtual size when that is set (0 means
// "as large as the raw data"). The runtime bounds its cursor by this and the
// authoring tool bounds its reads by the same value, so both see the same
// archive bytes.
uint32_t MappedSectionSize(const PeLayout& layout);

// A positioned read of exactly n bytes; false when they cannot all be read.
using ReadAtFunction = bool (*)(void* context, int64_t offset, void* out, int32_t n);

// Walks the PE headers to the ".trux" section header (exact, case-sensitive
// name). Returns kArchiveOk with layout filled, kNoArchiveSection, or the
// archive error 43 (PE header offset unreadable or outside 0x40..0x1000),
// 44 (section count or optional-header size unreadable, or count outside
// 4..99) or 9 (file offset 0, or the matching header cut off after its name).
[[nodiscard]] int32_t FindArchiveSection(ReadAtFunction readAt, void* context, PeLayout& layout);

// Turns image (the file's bytes before the section followed by those after
// it) into the uninstaller: one section fewer, SizeOfInitializedData and
// SizeOfImage less the section's raw size, the section header removed from
// the table (later headers move up, their file offsets less the raw size),
// then the patch bytes written at patchOffset. Every patch that would fall
// outside the image is skipped.
void PatchUninstallerImage(String& image, const PeLayout& layout, int32_t patchOffset, const String& patch);
