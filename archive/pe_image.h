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

// ------------------------------------------------------------ signatures

// The PE32 header fields an Authenticode signature sets, as offsets from the
// PE signature: the image checksum (optional header + 64) and the security
// directory, data directory 4 (optional header + 128: the certificate
// table's file offset, then its size). A signed file differs from the file
// it was made from only in these and in the certificate table appended at
// its end, so the bytes from the checksum to the end of the security
// directory (72) are the part of a signed image's headers that signing made.
constexpr uint32_t kPeChecksumField = 24 + 64;
constexpr uint32_t kPeSecurityDirectoryField = 24 + 128;
constexpr uint32_t kSignedHeaderBytes = kPeSecurityDirectoryField + 8 - kPeChecksumField;
static_assert(kSignedHeaderBytes == 72, "checksum to the end of the security directory entry");

// Where a certificate table lies in a file; size 0: none.
struct CertificateTable {
  uint32_t offset = 0;
  uint32_t size = 0;
};

// The certificate table the PE32 headers in head (the file's first
// headSize bytes) name: the security directory entry, when the headers are
// PE32 (optional-header magic 0x10B) with an optional header and a data
// directory count that reach entry 4. Anything else names none.
CertificateTable SecurityDirectory(const unsigned char* head, int64_t headSize, uint32_t peHeaderOffset);

// Which of the bytes after the archive section the uninstaller carries: all
// of them, except a certificate table that the headers' security directory
// names wholly inside them and ending at the file's end. That table is the
// installer's own signature: carried over, it would be dead bytes, and the
// copied security directory would point past the uninstaller's end, which a
// system that checks signatures takes for a damaged signature. Any other
// table (one inside the section, one that does not end the file, one
// reaching past it) leaves the bytes as they are.
struct UninstallerTail {
  int64_t offset = 0;          // first file byte after the section
  int64_t size = 0;            // bytes carried into the uninstaller
  bool signatureLeft = false;  // the installer's certificate table is left out
};
UninstallerTail PlanUninstallerTail(const unsigned char* head, int64_t headSize, const PeLayout& layout,
                                    int64_t fileSize);

// What the settings ask of the uninstaller image.
struct UninstallerInputs {
  bool checkStub = false;      // flag bit 32: the stub bytes must match stubChecksum
  uint32_t stubChecksum = 0;
  int32_t patchOffset = 0;     // field 44; 0: no patch
  const String* patch = nullptr;
};

// The uninstaller image the installer of fileSize bytes (read through
// readAt) yields: its bytes before the section (their checksum checked when
// asked), the bytes after the section as PlanUninstallerTail says, the
// security directory entry cleared when the installer's certificate table
// was left out, then PatchUninstallerImage with the settings' patch. An
// unsigned installer gives exactly the image it gave before signatures were
// considered. Returns kArchiveOk, or kErrStubRead (35), kErrStubChecksum (40)
// or kErrTrailingRead (42); image is then incomplete.
[[nodiscard]] int32_t DeriveUninstallerImage(ReadAtFunction readAt, void* context, int64_t fileSize,
                                             const PeLayout& layout, const UninstallerInputs& inputs, String& image);
