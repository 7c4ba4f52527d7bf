#include "archive/pe_image.h"

#include <string.h>

#include "core/byte_order.h"
#include "core/checksum.h"

namespace {

bool Fits(const String& image, int64_t offset, int64_t n) {
  return offset >= 0 && n >= 0 && offset + n <= image.Length();
}

void Put16(String& image, int64_t offset, uint32_t value) {
  if (Fits(image, offset, 2)) StoreLe16(image.Buffer() + offset, value);
}

void Put32(String& image, int64_t offset, uint32_t value) {
  if (Fits(image, offset, 4)) StoreLe32(image.Buffer() + offset, value);
}

uint32_t Read32(const String& image, int64_t offset) {
  return Fits(image, offset, 4) ? LoadLe32(image.CStr() + offset) : 0;
}

}  // namespace

int32_t FindArchiveSection(ReadAtFunction readAt, void* context, PeLayout& layout) {
  unsigned char two[2] = {0, 0};
  if (!readAt(context, 0x3C, two, 2)) return kErrPeHeaderOffset;
  layout.peHeaderOffset = LoadLe16(two);
  // Within 0x40 to 0x1000: the unsigned 16-bit distance from 0x40 is at most 0xFC0.
  if ((uint16_t)(layout.peHeaderOffset - 0x40) > 0xFC0) return kErrPeHeaderOffset;

  if (!readAt(context, layout.peHeaderOffset + 6, two, 2)) return kErrSectionCount;
  layout.sectionCount = LoadLe16(two);
  if (layout.sectionCount < kMinSectionCount || layout.sectionCount > kMaxSectionCount) return kErrSectionCount;

  // The optional-header size sits in the same file header as the count; a
  // file cut off before it cannot locate its section table.
  two[0] = two[1] = 0;
  if (!readAt(context, layout.peHeaderOffset + 20, two, 2)) return kErrSectionCount;
  layout.sectionTable = layout.peHeaderOffset + 24 + LoadLe16(two);

  for (uint32_t i = 0; i < layout.sectionCount; ++i) {
    int64_t header = (int64_t)layout.sectionTable + (int64_t)i * kSectionHeaderSize;
    char name[9] = {0};
    if (!readAt(context, header, name, 8)) continue;
    if (strcmp(name, kArchiveSectionName) != 0) continue;
    unsigned char fields[16] = {0};
    // A header cut off after its name has no usable file offset.
    if (!readAt(context, header + 8, fields, 16)) return kErrSectionFileOffsetZero;
    layout.archiveIndex = (int32_t)i;
    layout.sectionVirtualSize = LoadLe32(fields);
    layout.sectionVirtualAddress = LoadLe32(fields + 4);
    layout.sectionRawSize = LoadLe32(fields + 8);
    layout.sectionFileOffset = LoadLe32(fields + 12);
    if (layout.sectionFileOffset == 0) return kErrSectionFileOffsetZero;
    return kArchiveOk;
  }
  return kNoArchiveSection;
}

uint32_t MappedSectionSize(const PeLayout& layout) {
  uint32_t mapped = layout.sectionRawSize;
  if (layout.sectionVirtualSize != 0 && layout.sectionVirtualSize < mapped) mapped = layout.sectionVirtualSize;
  return mapped;
}

void PatchUninstallerImage(String& image, const PeLayout& layout, int32_t patchOffset, const String& patch) {
  const int64_t pe = layout.peHeaderOffset;
  const uint32_t n = layout.sectionCount;
  Put16(image, pe + 6, n - 1);
  Put32(image, pe + 0x20, Read32(image, pe + 0x20) - layout.sectionRawSize);  // SizeOfInitializedData
  Put32(image, pe + 0x50, Read32(image, pe + 0x50) - layout.sectionRawSize);  // SizeOfImage

  // Remove the archive's header: each later slot moves up one; the last
  // vacated slot takes what followed the table (normally zero padding).
  for (uint32_t i = (uint32_t)layout.archiveIndex; i <= n; ++i) {
    int64_t to = (int64_t)layout.sectionTable + (int64_t)i * kSectionHeaderSize;
    int64_t from = to + kSectionHeaderSize;
    if (!Fits(image, to, kSectionHeaderSize) || !Fits(image, from, kSectionHeaderSize)) continue;
    memmove(image.Buffer() + to, image.CStr() + from, kSectionHeaderSize);
    if (i + 1 < n) Put32(image, to + 20, Read32(image, to + 20) - layout.sectionRawSize);
  }

  if (patchOffset > 0 && !patch.IsEmpty() && Fits(image, patchOffset, patch.Length()))
    memcpy(image.Buffer() + patchOffset, patch.CStr(), (size_t)patch.Length());
}

CertificateTable SecurityDirectory(const unsigned char* head, int64_t headSize, uint32_t peHeaderOffset) {
  CertificateTable table;
  const int64_t pe = peHeaderOffset;
  const int64_t optionalHeader = pe + 24;
  const int64_t entry = pe + kPeSecurityDirectoryField;
  if (head == nullptr || entry + 8 > headSize) return table;
  if (LoadLe16(head + optionalHeader) != 0x10B) return table;       // PE32 only
  if (LoadLe16(head + pe + 20) < 128 + 8) return table;              // optional header reaches entry 4
  if (LoadLe32(head + optionalHeader + 92) < 5) return table;        // NumberOfRvaAndSizes
  table.offset = LoadLe32(head + entry);
  table.size = LoadLe32(head + entry + 4);
  return table;
}

UninstallerTail PlanUninstallerTail(const unsigned char* head, int64_t headSize, const PeLayout& layout,
                                    int64_t fileSize) {
  UninstallerTail tail;
  tail.offset = (int64_t)layout.sectionFileOffset + (int64_t)layout.sectionRawSize;
  tail.size = fileSize - tail.offset;
  if (tail.size <= 0) {
    tail.size = 0;
    return tail;
  }
  const CertificateTable table = SecurityDirectory(head, headSize, layout.peHeaderOffset);
  const int64_t start = table.offset, end = start + (int64_t)table.size;
  if (table.size != 0 && start >= tail.offset && end == fileSize) {
    tail.size = start - tail.offset;
    tail.signatureLeft = true;
  }
  return tail;
}

int32_t DeriveUninstallerImage(ReadAtFunction readAt, void* context, int64_t fileSize, const PeLayout& layout,
                               const UninstallerInputs& inputs, String& image) {
  const int64_t stubSize = layout.sectionFileOffset;
  if (stubSize > fileSize || stubSize > 0x7FFFFFFF || !image.TrySetLength((int32_t)stubSize) ||
      !readAt(context, 0, image.Buffer(), (int32_t)stubSize))
    return kErrStubRead;
  if (inputs.checkStub && BlockChecksum(image.CStr(), image.Length()) != inputs.stubChecksum) return kErrStubChecksum;

  const UninstallerTail tail =
      PlanUninstallerTail(reinterpret_cast<const unsigned char*>(image.CStr()), image.Length(), layout, fileSize);
  if (tail.size > 0) {
    if (stubSize + tail.size > 0x7FFFFFFF) return kErrTrailingRead;
    char* bytes = image.TrySetLength((int32_t)(stubSize + tail.size));
    if (!bytes || !readAt(context, tail.offset, bytes + stubSize, (int32_t)tail.size)) return kErrTrailingRead;
  }
  if (tail.signatureLeft) {
    Put32(image, (int64_t)layout.peHeaderOffset + kPeSecurityDirectoryField, 0);
    Put32(image, (int64_t)layout.peHeaderOffset + kPeSecurityDirectoryField + 4, 0);
  }
  const String none;
  PatchUninstallerImage(image, layout, inputs.patchOffset, inputs.patch ? *inputs.patch : none);
  return kArchiveOk;
}
