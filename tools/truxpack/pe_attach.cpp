#include "tools/truxpack/pe_attach.h"

#include <string.h>

#include "core/byte_order.h"
#include "archive/format.h"
#include "archive/pe_image.h"

namespace {

constexpr uint32_t kSectionHeaderBytes = kSectionHeaderSize;

uint32_t Get16(const std::vector<unsigned char>& d, size_t at) { return LoadLe16(&d[at]); }
uint32_t Get32(const std::vector<unsigned char>& d, size_t at) { return LoadLe32(&d[at]); }
void Put16(std::vector<unsigned char>& d, size_t at, uint32_t v) { StoreLe16(&d[at], v); }
void Put32(std::vector<unsigned char>& d, size_t at, uint32_t v) { StoreLe32(&d[at], v); }

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

bool Fail(std::string& error, const std::string& why) {
  error = "stub: " + why;
  return false;
}

}  // namespace

bool InspectStub(const std::vector<unsigned char>& stub, StubInfo& info, std::string& error) {
  const size_t size = stub.size();
  if (size < 0x40 || stub[0] != 'M' || stub[1] != 'Z') return Fail(error, "not a Windows program (no MZ header)");
  info.peHeaderOffset = Get32(stub, 0x3C);
  if (info.peHeaderOffset < 0x40 || info.peHeaderOffset > 0x1000)
    return Fail(error, "PE header offset outside 0x40..0x1000");
  const size_t pe = info.peHeaderOffset;
  if (pe + 24 + 96 > size || memcmp(&stub[pe], "PE\0\0", 4) != 0) return Fail(error, "no PE header");
  if (Get16(stub, pe + 4) != 0x14C) return Fail(error, "not a 32-bit x86 program");
  const uint32_t optionalSize = Get16(stub, pe + 20);
  const size_t opt = pe + 24;
  if (optionalSize < 96 || Get16(stub, opt) != 0x10B) return Fail(error, "not a PE32 image");
  info.sectionCount = Get16(stub, pe + 6);
  info.sectionTable = (uint32_t)(opt + optionalSize);
  info.sectionAlignment = Get32(stub, opt + 32);
  info.fileAlignment = Get32(stub, opt + 36);
  info.sizeOfImage = Get32(stub, opt + 56);
  info.sizeOfHeaders = Get32(stub, opt + 60);
  if (!IsPowerOfTwo(info.sectionAlignment) || !IsPowerOfTwo(info.fileAlignment) ||
      info.sectionAlignment < info.fileAlignment)
    return Fail(error, "unusual section or file alignment");
  if (info.sizeOfImage % info.sectionAlignment != 0) return Fail(error, "SizeOfImage is not section-aligned");
  if (size % info.fileAlignment != 0) return Fail(error, "file size is not a multiple of the file alignment");
  if (info.sectionCount + 1 < kMinSectionCount || info.sectionCount + 1 > kMaxSectionCount)
    return Fail(error, "has " + std::to_string(info.sectionCount) + " sections; with the archive it needs " +
                           std::to_string(kMinSectionCount) + " to " + std::to_string(kMaxSectionCount));
  const size_t tableEnd = (size_t)info.sectionTable + (size_t)info.sectionCount * kSectionHeaderBytes;
  if (tableEnd > size) return Fail(error, "section table runs past the end of the file");

  // Every section must lie within the file and the image; the file must end
  // where the last section's data ends (no overlay such as a signature,
  // which the runtime would carry into the uninstaller).
  uint64_t dataEnd = info.sizeOfHeaders;
  uint32_t firstData = UINT32_MAX;
  for (uint32_t i = 0; i < info.sectionCount; ++i) {
    const size_t h = info.sectionTable + (size_t)i * kSectionHeaderBytes;
    if (memcmp(&stub[h], kArchiveSectionName, sizeof kArchiveSectionName) == 0)
      return Fail(error, "already has a .trux section");
    const uint32_t virtualSize = Get32(stub, h + 8), virtualAddress = Get32(stub, h + 12);
    const uint32_t rawSize = Get32(stub, h + 16), rawOffset = Get32(stub, h + 20);
    if ((uint64_t)virtualAddress + virtualSize > info.sizeOfImage) return Fail(error, "a section lies past SizeOfImage");
    if (rawSize == 0) continue;
    if ((uint64_t)rawOffset + rawSize > size) return Fail(error, "a section's data lies past the end of the file");
    if ((uint64_t)rawOffset + rawSize > dataEnd) dataEnd = (uint64_t)rawOffset + rawSize;
    if (rawOffset < firstData) firstData = rawOffset;
  }
  if (dataEnd != size)
    return Fail(error, "has " + std::to_string(size - dataEnd) +
                           " bytes after its last section (overlay or signature); use an unsigned stub");
  // The new header's slot: inside the headers, before any section data, and
  // zero-filled (it is the padding the runtime moves back when it removes
  // the header again).
  if (tableEnd + kSectionHeaderBytes > info.sizeOfHeaders || tableEnd + kSectionHeaderBytes > firstData)
    return Fail(error, "no room for one more section header");
  for (size_t i = tableEnd; i < tableEnd + kSectionHeaderBytes; ++i)
    if (stub[i] != 0) return Fail(error, "the slot after the section table is not free");
  return true;
}

uint32_t ArchiveSectionRawSize(const StubInfo& info, uint64_t n) {
  uint64_t a = info.sectionAlignment;
  uint64_t raw = (n + a - 1) / a * a;
  if (raw == 0) raw = a;
  return raw > UINT32_MAX ? 0 : (uint32_t)raw;
}

bool AttachedStub(const std::vector<unsigned char>& stub, const StubInfo& info, uint32_t rawSize,
                  std::vector<unsigned char>& out, std::string& error) {
  if (rawSize == 0 || rawSize % info.sectionAlignment != 0) {
    error = "internal: bad archive section size";
    return false;
  }
  const size_t pe = info.peHeaderOffset, opt = pe + 24;
  const uint64_t newImage = (uint64_t)info.sizeOfImage + rawSize;
  // A 32-bit process maps the whole image below 2 GiB.
  if (newImage > 0x7FFFFFFFu) {
    error = "the installer image would exceed 2 GiB; keep the data outside the image or use volumes";
    return false;
  }
  out = stub;
  Put16(out, pe + 6, info.sectionCount + 1);
  Put32(out, opt + 8, Get32(out, opt + 8) + rawSize);      // SizeOfInitializedData
  Put32(out, opt + 56, (uint32_t)newImage);                // SizeOfImage

  const size_t h = info.sectionTable + (size_t)info.sectionCount * kSectionHeaderBytes;
  memset(&out[h], 0, kSectionHeaderBytes);
  memcpy(&out[h], kArchiveSectionName, sizeof kArchiveSectionName - 1);
  Put32(out, h + 8, rawSize);                  // VirtualSize
  Put32(out, h + 12, info.sizeOfImage);        // VirtualAddress
  Put32(out, h + 16, rawSize);                 // SizeOfRawData
  Put32(out, h + 20, (uint32_t)stub.size());   // PointerToRawData
  Put32(out, h + 36, kArchiveSectionCharacteristics);
  return true;
}

bool AttachArchiveSection(const std::vector<unsigned char>& stub, const StubInfo& info,
                          const std::vector<unsigned char>& sectionBytes, uint32_t rawSize,
                          const std::vector<unsigned char>& trailing, std::vector<unsigned char>& out,
                          std::string& error) {
  if (rawSize < sectionBytes.size()) {
    error = "internal: bad archive section size";
    return false;
  }
  out.clear();
  out.reserve(stub.size() + rawSize + trailing.size());
  if (!AttachedStub(stub, info, rawSize, out, error)) return false;
  out.insert(out.end(), sectionBytes.begin(), sectionBytes.end());
  out.resize(stub.size() + rawSize, 0);
  out.insert(out.end(), trailing.begin(), trailing.end());
  return true;
}
