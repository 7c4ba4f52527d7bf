#include "tools/truxpack/installer_reader.h"

#include <stdio.h>
#include <string.h>

#include "archive/archive_reader.h"
#include "archive/block.h"
#include "archive/record_rules.h"
#include "archive/volume_name.h"
#include "core/byte_order.h"
#include "core/checksum.h"
#include "core/memory.h"
#include "tools/truxpack/names.h"

namespace {

struct MemoryFile {
  const Bytes* file;
};

bool ReadAtMemory(void* context, int64_t offset, void* out, int32_t n) {
  const Bytes& file = *static_cast<MemoryFile*>(context)->file;
  if (offset < 0 || n < 0 || (uint64_t)offset + (uint64_t)n > file.size()) return false;
  if (n) memcpy(out, file.data() + offset, (size_t)n);
  return true;
}

void Corrupt(InstallerContents& out, int32_t code, const std::string& detail = std::string()) {
  out.status = ReadStatus::kCorrupt;
  out.code = code;
  out.message = "corrupt archive, error code " + std::to_string(code) + ": " + ArchiveErrorText(code);
  if (!detail.empty()) out.message += " (" + detail + ")";
}

std::string Str(const String& s) { return std::string(s.CStr(), (size_t)s.Length()); }

bool PlainVolumeName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name)
    if (c == '/' || c == '\\' || c == ':' || c < 0x20 || c == 0x7F) return false;
  return true;
}

}  // namespace

std::string VolumeFileName(const std::string& baseName, int32_t k) {
  return Str(VolumeFileName(String(baseName.data(), (int32_t)baseName.size()), k));
}

const char* ArchiveErrorText(int32_t code) {
  switch (code) {
    case kErrNegativeFileSize: return "a file is given a negative size";
    case kErrSectionFileOffsetZero: return "the .trux section has file offset 0";
    case kErrSectionSeek: return "the section cannot be reached in the file";
    case kErrStagePause: return "stage pause above 9999 ms";
    case kErrMagic: return "wrong archive magic";
    case kErrVolumeBaseNameBlank: return "volume base name is blank";
    case kErrSettingsPackedSize: return "packed settings size not within 1 to 0x31FFFFF";
    case kErrPatchOffset: return "uninstaller patch offset negative or beyond the file size";
    case kErrLicenseCount: return "more than 20 licence texts";
    case kErrSettingsChecksum: return "settings checksum mismatch";
    case kErrReadmeCount: return "more than 20 readme texts";
    case kErrEntryCount: return "negative entry count";
    case kErrEntrySize: return "an entry size above 0x40000000";
    case kErrDataRegionSize: return "negative data region size";
    case kErrLanguageCount: return "language count not within 1 to 100";
    case kErrMessageCount: return "message count not within 1 to 10000";
    case kErrEndMarker: return "settings end marker missing";
    case kErrStubRead: return "the stub image cannot be read";
    case kErrAssociationCount: return "more than 10000 file associations";
    case kErrUninstallValueCount: return "more than 10000 uninstall values";
    case kErrDeletionCount: return "more than 1001 deletion records";
    case kErrBitmapSize: return "bitmap size above 100";
    case kErrStubChecksum: return "stub checksum mismatch";
    case kErrTrailingRead: return "the bytes after the section cannot be read";
    case kErrPeHeaderOffset: return "PE header offset unreadable or outside 0x40 to 0x1000";
    case kErrSectionCount: return "section count unreadable or outside 4 to 99";
    case kErrSectionArchiveSize: return "negative section archive size";
    case kErrArchiveTruncated: return "the archive reaches past the bytes present";
    case kErrSettingsUnpack: return "the settings block does not unpack";
    case kErrShortcutCount: return "more than 10000 shortcuts";
    case kErrVolumeRead: return "a volume, or the data beyond the image, cannot be read or is longer than the data region";
    case kErrDataRegionChecksum: return "data region checksum mismatch";
    case kErrDataRegionUnpack: return "the data region does not unpack";
    case kErrDeletionDate: return "a deletion record's date cannot be parsed";
    case kErrEntryNameEmpty: return "an entry's name is empty or leaves its directory";
    case kErrEntrySizeNegative: return "an entry's size is negative";
    case kErrEntrySizeTooLarge: return "an entry's size exceeds 0x40000000";
    case kErrEntryChecksum: return "an entry's data checksum mismatch";
    case kErrEntryKind: return "an entry's destination kind is unknown";
    default: return "unknown archive error";
  }
}

int32_t WalkEntries(const unsigned char* region, size_t size, const std::vector<uint32_t>& sizes,
                    std::vector<ReadEntry>& entries, std::string& detail) {
  ArchiveCursor in(region, region + size);
  entries.clear();
  String text;
  for (size_t i = 0; i < sizes.size(); ++i) {
    ReadEntry e;
    detail = "entry " + std::to_string(i + 1);
    if (!in.Text(text)) return kErrArchiveTruncated;
    e.name = Str(text);
    if (!IsUsableEntryName(e.name.c_str())) return kErrEntryNameEmpty;
    detail = "entry " + std::to_string(i + 1) + " \"" + PrintableName(e.name) + "\"";
    uint32_t kind = 0;
    if (!in.U32(kind) || !in.U32(e.flags) || !in.U32(e.attributes)) return kErrArchiveTruncated;
    e.kind = (int32_t)kind;
    if ((int32_t)sizes[i] < 0) return kErrEntrySizeNegative;
    if (sizes[i] > kMaxEntrySize) return kErrEntrySizeTooLarge;
    e.size = sizes[i];
    e.dataOffset = (size_t)in.Offset();
    if (!in.Skip((int32_t)e.size) || !in.U32(e.checksum)) return kErrArchiveTruncated;
    if (BlockChecksum(region + e.dataOffset, (int32_t)e.size) != e.checksum) return kErrEntryChecksum;
    uint32_t t[6];
    for (uint32_t& v : t)
      if (!in.U32(v)) return kErrArchiveTruncated;
    e.time = {(int32_t)t[0], (int32_t)t[1], (int32_t)t[2], (int32_t)t[3], (int32_t)t[4], (int32_t)t[5]};
    for (int k = 0; k < 5; ++k) {
      if (k == 1 && !(e.flags & 3)) continue;  // text 2 only with a shortcut flag
      if (!in.Text(text)) return kErrArchiveTruncated;
      e.texts[k] = Str(text);
    }
    // A new file name given by the override must be usable as well.
    if (!e.texts[3].empty() && e.texts[3].find('\\') == std::string::npos && !IsUsableEntryName(e.texts[3].c_str()))
      return kErrEntryNameEmpty;
    // The runtime examines the kind only when neither a destination override
    // nor the uninstall-directory flag gives the destination.
    if (e.texts[3].empty() && !(e.flags & kEntryToUninstallDir) && !IsValidEntryKind(e.kind)) return kErrEntryKind;
    entries.push_back(std::move(e));
  }
  detail.clear();
  return kArchiveOk;
}

namespace {

void TooLarge(InstallerContents& out, const std::string& what, uint64_t size, uint64_t limit) {
  out.status = ReadStatus::kTooLarge;
  out.message = what + " would take " + std::to_string(size) + " bytes, more than the limit of " +
                std::to_string(limit) + " (raise it with --max-size)";
}

// An entry's record costs this much memory beyond its data, at most.
constexpr uint64_t kEntryMemory = sizeof(ReadEntry) + 64;

}  // namespace

void ReadInstaller(const Bytes& file, const VolumeLoader& volumes, InstallerContents& out, uint64_t maxUnpacked) {
  out = InstallerContents();
  MemoryFile memory{&file};
  int32_t found = FindArchiveSection(ReadAtMemory, &memory, out.layout);
  if (found == kNoArchiveSection) {
    out.status = ReadStatus::kNoArchive;
    out.message = "no installation archive: the file has no .trux section";
    return;
  }
  if (found != kArchiveOk) return Corrupt(out, found);

  // The bytes the loader maps, as the runtime computes them. A file cut
  // short within them could not be loaded at all; cutting them to what the
  // file holds only keeps the reads inside the buffer.
  const PeLayout& L = out.layout;
  uint64_t available = L.sectionFileOffset < file.size() ? file.size() - L.sectionFileOffset : 0;
  uint64_t mapped = MappedSectionSize(L);
  if (mapped > available) mapped = available;
  out.sectionBytes = (uint32_t)mapped;
  const unsigned char* section = file.data() + (mapped ? L.sectionFileOffset : 0);

  ArchiveCursor cursor(section, section + mapped);
  ArchiveHeaderValues values;
  ArchiveVersionProblem problem;
  ArchiveError headerError = ReadArchiveHeader(cursor, values, problem);
  ArchiveHeader& h = out.header;
  h = values.header;
  for (int32_t i = 0; i < values.entrySizes.Count(); ++i) out.entrySizes.push_back(values.entrySizes[i]);
  if (headerError != kArchiveOk) return Corrupt(out, headerError);
  if (problem.tooNew) {
    out.status = ReadStatus::kVersionMismatch;
    char text[160];
    snprintf(text, sizeof text, "format version %.2f is newer than %.1f, the version the runtime reads",
             problem.version, kArchiveFormatVersionValue);
    out.message = text;
    return;
  }
  out.dataRegionOffset = values.dataRegionOffset;
  // Checked right after the header, wherever the data region lies, as the
  // runtime does.
  switch (CheckSectionArchiveSize(values, (int64_t)mapped)) {
    case SectionArchiveSizeCheck::kFits:
      break;
    case SectionArchiveSizeCheck::kBeyondSection:
      return Corrupt(out, kErrArchiveTruncated, "data region");
    case SectionArchiveSizeCheck::kBeforeDataRegion:
      return Corrupt(out, kErrArchiveTruncated, "section archive size ends before the data region");
  }
  if ((uint64_t)h.entryCount * kEntryMemory > maxUnpacked)
    return TooLarge(out, "the entry table of " + std::to_string(h.entryCount) + " entries",
                    (uint64_t)h.entryCount * kEntryMemory, maxUnpacked);
  {
    // The settings block's declared unpacked size, read from a copy of its
    // header before it is unpacked.
    int64_t at = cursor.Offset();
    int32_t packed = h.settingsPackedSize;
    if (packed >= 8 && at >= 0 && (uint64_t)at + (uint64_t)packed <= mapped) {
      Bytes copy(section + at, section + at + packed);
      XorScramble(copy.data(), (int32_t)copy.size(), h.settingsChecksum);
      int32_t declared = BlockDecodedSize(copy.data(), (int32_t)copy.size());
      if (declared > 0 && (uint64_t)declared > maxUnpacked)
        return TooLarge(out, "the settings block", (uint64_t)declared, maxUnpacked);
    }
  }
  String block;
  ArchiveError blockError = LoadSettingsBlock(cursor, values, block);
  if (blockError != kArchiveOk) return Corrupt(out, blockError, blockError == kErrArchiveTruncated ? "settings block" : "");
  SettingsReadOptions options;
  options.expectedChecksum = h.settingsChecksum;
  options.ownFileSize = (int64_t)file.size();
  ArchiveError settingsError = ReadSettings(block.CStr(), block.Length(), options, out.settings);
  if (settingsError != kArchiveOk) return Corrupt(out, settingsError);
  out.haveSettings = true;
  const ArchiveSettings& s = out.settings;
  if (s.Flag(kFlagCheckStub) && BlockChecksum(file.data(), (int32_t)L.sectionFileOffset) != h.stubChecksum)
    return Corrupt(out, kErrStubChecksum);

  // Data region: the first piece, then the volumes.
  const int64_t n = h.dataRegionSize;
  Bytes region;
  if (s.dataOutsideImage) {
    uint64_t start = (uint64_t)L.sectionFileOffset + (uint64_t)out.dataRegionOffset;
    if (start > file.size()) {
      out.status = ReadStatus::kDataUnreadable;
      out.message = "failed to read archive data: the file ends before the data region starts";
      return;
    }
    // More bytes than the region after its start would not fit the runtime's
    // region buffer: it refuses them as corrupt.
    if (file.size() - start > (uint64_t)n)
      return Corrupt(out, kErrVolumeRead, "the file holds " + std::to_string(file.size() - start) +
                                              " bytes after the data region's start, more than its " +
                                              std::to_string(n));
    uint64_t take = file.size() - start;
    region.assign(file.begin() + (ptrdiff_t)start, file.begin() + (ptrdiff_t)(start + take));
  } else {
    // Not negative and within the mapped bytes: checked after the header.
    int64_t piece = (int64_t)h.sectionArchiveSize - out.dataRegionOffset;
    if (piece > n) piece = n;
    region.assign(section + out.dataRegionOffset, section + out.dataRegionOffset + piece);
  }
  uint32_t identifier = s.volumeIdentifier;
  std::string baseName(s.volumeBaseName.CStr(), (size_t)s.volumeBaseName.Length());
  if ((uint64_t)n > maxUnpacked) return TooLarge(out, "the data region", (uint64_t)n, maxUnpacked);
  for (int32_t k = kFirstVolumeNumber; (int64_t)region.size() < n; ++k, ++identifier) {
    std::string name = VolumeFileName(baseName, k);
    // Volumes are looked for beside the installer only: a base name with a
    // directory, drive or control character in it is never opened.
    if (!PlainVolumeName(name)) {
      out.status = ReadStatus::kVolumeMissing;
      out.message = "the archive names its volumes \"" + PrintableName(name) +
                    "\", which is not a plain file name; not opened";
      return;
    }
    Bytes volume;
    if (!volumes || !volumes(name, volume)) {
      out.status = ReadStatus::kVolumeMissing;
      out.message = "volume file " + name + " is missing (" + std::to_string(n - (int64_t)region.size()) +
                    " bytes of the data region still needed)";
      return;
    }
    if (volume.size() <= (size_t)kVolumeIdentifierSize || LoadLe32(volume.data()) != identifier) {
      out.status = ReadStatus::kVolumeMissing;
      out.message = name + " is not volume " + std::to_string(k) + " of this installer (identifier " +
                    std::to_string(identifier) + " expected)";
      return;
    }
    uint64_t take = volume.size() - kVolumeIdentifierSize;
    if (take > (uint64_t)(n - (int64_t)region.size()))
      return Corrupt(out, kErrVolumeRead, name + " holds " + std::to_string(take) + " bytes, more than the " +
                                              std::to_string(n - (int64_t)region.size()) + " still missing");
    region.insert(region.end(), volume.begin() + kVolumeIdentifierSize,
                  volume.begin() + kVolumeIdentifierSize + (ptrdiff_t)take);
    ++out.volumesRead;
  }
  if (BlockChecksum(region.data(), (int32_t)region.size()) != h.dataRegionChecksum)
    return Corrupt(out, kErrDataRegionChecksum);
  if (s.Flag(kFlagCompressedRegion) && n != 0) {
    int32_t declared = BlockDecodedSize(region.data(), (int32_t)region.size());
    if (declared > 0 && (uint64_t)declared > maxUnpacked)
      return TooLarge(out, "the data region unpacked", (uint64_t)declared, maxUnpacked);
    const unsigned char* data = region.data();
    int32_t length = (int32_t)region.size();
    if (!UnpackBlock(data, length)) return Corrupt(out, kErrDataRegionUnpack);
    out.region.assign(data, data + length);
    MemFree(const_cast<unsigned char*>(data));
  } else {
    out.region.swap(region);
  }
  // The runtime checks every deletion date before it deletes anything.
  for (int32_t i = 0; i < s.deletions.Count(); ++i) {
    DateTime when;
    const FileDeletion& d = s.deletions[i];
    if (IsDateCondition(d.condition) && !ParseDeletionDate(d.argument.CStr(), when))
      return Corrupt(out, kErrDeletionDate, "deletion record " + std::to_string(i + 1) + ", \"" + Str(d.argument) + "\"");
  }
  std::string detail;
  int32_t code = WalkEntries(out.region.data(), out.region.size(), out.entrySizes, out.entries, detail);
  if (code != kArchiveOk) return Corrupt(out, code, detail);
}
