#include "tools/truxpack/installer_reader.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "archive/archive_reader.h"
#include "archive/block.h"
#include "archive/entry_record.h"
#include "archive/record_rules.h"
#include "archive/volume_name.h"
#include "core/byte_order.h"
#include "core/checksum.h"
#include "tools/truxpack/core_string.h"
#include "tools/truxpack/names.h"

namespace {

void Corrupt(InstallerContents& out, int32_t code, const std::string& detail = std::string()) {
  out.status = ReadStatus::kCorrupt;
  out.code = code;
  out.message = "corrupt archive, error code " + std::to_string(code) + ": " + ArchiveErrorText(code);
  if (!detail.empty()) out.message += " (" + detail + ")";
}

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

namespace {

constexpr size_t kChunk = 1u << 20;  // the most entry data handed on at once

// The data region's bytes in order, from wherever they lie.
class RegionInput {
 public:
  virtual ~RegionInput() = default;
  // Up to want bytes into out; got < want only at the region's end. False
  // when a piece cannot be read (the input's failure says why).
  virtual bool Read(unsigned char* out, size_t want, size_t& got) = 0;
};

class MemoryRegion : public RegionInput {
 public:
  MemoryRegion(const unsigned char* data, size_t size) : at_(data), left_(size) {}
  bool Read(unsigned char* out, size_t want, size_t& got) override {
    got = want < left_ ? want : left_;
    if (got) memcpy(out, at_, got);
    at_ += got;
    left_ -= got;
    return true;
  }

 private:
  const unsigned char* at_;
  size_t left_;
};

struct ReadFailure {
  ReadStatus status = ReadStatus::kOk;
  int32_t code = 0;
  std::string message;
};

// The stored region: its first piece in the installer file, then volume
// files 2, 3, ... opened one at a time, each checked (identifier, size)
// before its bytes are used.
class PieceRegion : public RegionInput {
 public:
  PieceRegion(ByteSource& file, uint64_t firstOffset, uint64_t firstLength, uint64_t total,
              const VolumeOpener& volumes, const std::string& baseName, uint32_t identifier)
      : file_(file), volumes_(volumes), baseName_(baseName), identifier_(identifier), pieceOffset_(firstOffset),
        pieceLeft_(firstLength < total ? firstLength : total), left_(total) {}

  bool Read(unsigned char* out, size_t want, size_t& got) override {
    got = 0;
    while (got < want && left_ > 0) {
      if (pieceLeft_ == 0 && !NextVolume()) return false;
      uint64_t take = want - got;
      if (take > pieceLeft_) take = pieceLeft_;
      ByteSource& from = volume_ ? *volume_ : file_;
      if (!from.ReadAt(pieceOffset_, out + got, (size_t)take)) {
        const char* why = from.CutShort() ? " was cut short while it was read" : " cannot be read";
        if (volume_) {
          Fail(ReadStatus::kCorrupt, kErrVolumeRead, VolumeFileName(baseName_, number_) + why);
        } else {
          Fail(ReadStatus::kDataUnreadable, 0, std::string("failed to read archive data: the installer") + why);
        }
        return false;
      }
      sum_.Add(out + got, take);
      got += (size_t)take;
      pieceOffset_ += take;
      pieceLeft_ -= take;
      left_ -= take;
    }
    return true;
  }

  const ReadFailure& Failure() const { return failure_; }
  int32_t VolumesRead() const { return number_ - 1; }
  // The checksum of every byte handed out so far.
  uint32_t Checksum() const { return sum_.Value(); }
  // Reads on to the region's end, so that Checksum covers all of it.
  bool Drain() {
    Bytes scratch(kChunk);
    for (size_t got = scratch.size(); left_ > 0 && got == scratch.size();)
      if (!Read(scratch.data(), scratch.size(), got)) return false;
    return true;
  }

 private:
  void Fail(ReadStatus status, int32_t code, const std::string& message) {
    failure_.status = status;
    failure_.code = code;
    failure_.message = message;
  }

  bool NextVolume() {
    volume_.reset();
    const int32_t k = ++number_;
    const uint32_t identifier = identifier_++;
    std::string name = VolumeFileName(baseName_, k);
    // Volumes are looked for beside the installer only: a base name with a
    // directory, drive or control character in it is never opened.
    if (!PlainVolumeName(name)) {
      Fail(ReadStatus::kVolumeMissing, 0,
           "the archive names its volumes \"" + PrintableName(name) + "\", which is not a plain file name; not opened");
      return false;
    }
    std::unique_ptr<ByteSource> volume = volumes_ ? volumes_(name) : nullptr;
    if (!volume) {
      Fail(ReadStatus::kVolumeMissing, 0,
           "volume file " + name + " is missing (" + std::to_string(left_) + " bytes of the data region still needed)");
      return false;
    }
    unsigned char id[kVolumeIdentifierSize];
    if (volume->Size() <= (uint64_t)kVolumeIdentifierSize || !volume->ReadAt(0, id, sizeof id) ||
        LoadLe32(id) != identifier) {
      Fail(ReadStatus::kVolumeMissing, 0,
           name + " is not volume " + std::to_string(k) + " of this installer (identifier " +
               std::to_string(identifier) + " expected)");
      return false;
    }
    uint64_t take = volume->Size() - kVolumeIdentifierSize;
    if (take > left_) {
      Fail(ReadStatus::kCorrupt, kErrVolumeRead,
           name + " holds " + std::to_string(take) + " bytes, more than the " + std::to_string(left_) +
               " still missing");
      return false;
    }
    volume_ = std::move(volume);
    pieceOffset_ = kVolumeIdentifierSize;
    pieceLeft_ = take;
    return true;
  }

  ByteSource& file_;
  const VolumeOpener& volumes_;
  std::string baseName_;
  uint32_t identifier_;
  int32_t number_ = kFirstVolumeNumber - 1;
  std::unique_ptr<ByteSource> volume_;
  uint64_t pieceOffset_, pieceLeft_, left_;
  RunningChecksum sum_;
  ReadFailure failure_;
};

// The input failed (its failure says why), a caller's callback stopped the
// walk, or one record's head or tail needs a window above the limit.
constexpr int32_t kInputFailed = -1;
constexpr int32_t kStopped = -2;
constexpr int32_t kRecordTooLarge = -3;

// Walks entry records over a RegionInput with a window that holds at least
// the record piece being parsed: a head or tail is parsed by the shared
// record walk and, when it runs past the window, parsed again once more
// bytes are in. The window grows only as far as one piece needs.
class EntryWalker {
 public:
  // maxWindow: the most memory one record's head or tail may take.
  EntryWalker(RegionInput& in, uint64_t maxWindow) : in_(in), maxWindow_(maxWindow) {}

  using DataSink = std::function<bool(const unsigned char* data, size_t n)>;

  // The next record, its size from the header's table; data (optional)
  // receives its data in pieces. Returns kArchiveOk, an archive error code
  // (detail names the entry), kInputFailed, kStopped or kRecordTooLarge.
  int32_t Next(size_t index, uint32_t storedSize, ReadEntry& e, const DataSink& data, std::string& detail) {
    detail = "entry " + std::to_string(index + 1);
    int32_t code = Piece([&e](ArchiveCursor& c) { return ReadEntryHead(c, e); });
    if (code != kArchiveOk) return code;
    detail += " \"" + PrintableName(Str(e.name)) + "\"";
    code = CheckEntrySize(storedSize);
    if (code != kArchiveOk) return code;
    e.size = storedSize;
    e.dataOffset = base_ + start_;
    RunningChecksum sum;
    for (uint64_t left = storedSize; left > 0;) {
      if (start_ == end_) {
        if (!Fill()) return tooLarge_ ? kRecordTooLarge : kInputFailed;
        if (start_ == end_) return kErrArchiveTruncated;
      }
      size_t take = end_ - start_ < left ? end_ - start_ : (size_t)left;
      if (take > kChunk) take = kChunk;
      sum.Add(window_.data() + start_, take);
      if (data && !data(window_.data() + start_, take)) return kStopped;
      start_ += take;
      left -= take;
    }
    code = Piece([&e](ArchiveCursor& c) { return c.U32(e.checksum) ? kArchiveOk : kErrArchiveTruncated; });
    if (code != kArchiveOk) return code;
    if (sum.Value() != e.checksum) return kErrEntryChecksum;
    code = Piece([&e](ArchiveCursor& c) { return ReadEntryTail(c, e); });
    if (code != kArchiveOk) return code;
    return CheckEntryDestination(e);
  }

  uint64_t Position() const { return base_ + start_; }
  // The window size refused with kRecordTooLarge.
  uint64_t Refused() const { return refused_; }

 private:
  // More bytes after those in the window; false when the input failed.
  bool Fill() {
    if (eof_) return true;
    if (start_ > 0) {
      memmove(window_.data(), window_.data() + start_, end_ - start_);
      end_ -= start_;
      base_ += start_;
      start_ = 0;
    }
    if (end_ == window_.size()) {
      const size_t grown = window_.empty() ? kChunk : window_.size() * 2;
      if (!window_.empty() && grown > maxWindow_) {
        tooLarge_ = true;
        refused_ = grown;
        return false;
      }
      window_.resize(grown);
    }
    size_t want = window_.size() - end_, got = 0;
    if (!in_.Read(window_.data() + end_, want, got)) return false;
    end_ += got;
    if (got < want) eof_ = true;
    return true;
  }

  template <class Parse>
  int32_t Piece(Parse parse) {
    for (;;) {
      ArchiveCursor c(window_.data() + start_, window_.data() + end_);
      int32_t code = parse(c);
      if (code == kArchiveOk) {
        start_ += (size_t)c.Offset();
        return kArchiveOk;
      }
      if (code != kErrArchiveTruncated || eof_) return code;
      if (!Fill()) return tooLarge_ ? kRecordTooLarge : kInputFailed;
    }
  }

  RegionInput& in_;
  const uint64_t maxWindow_;
  Bytes window_;
  size_t start_ = 0, end_ = 0;
  uint64_t base_ = 0;  // region offset of window_[0]
  bool eof_ = false;
  bool tooLarge_ = false;
  uint64_t refused_ = 0;
};

}  // namespace

int32_t WalkEntries(const unsigned char* region, size_t size, const std::vector<uint32_t>& sizes,
                    std::vector<ReadEntry>& entries, std::string& detail) {
  MemoryRegion in(region, size);
  EntryWalker walker(in, UINT64_MAX);  // the region is held already
  entries.clear();
  for (size_t i = 0; i < sizes.size(); ++i) {
    ReadEntry e;
    int32_t code = walker.Next(i, sizes[i], e, nullptr, detail);
    if (code != kArchiveOk) return code;
    entries.push_back(std::move(e));
  }
  detail.clear();
  return kArchiveOk;
}

namespace {

std::string TooLargeText(const std::string& what, uint64_t size, uint64_t limit) {
  return what + " would take " + std::to_string(size) + " bytes, more than the limit of " + std::to_string(limit) +
         " (raise it with --max-size)";
}

void TooLarge(InstallerContents& out, const std::string& what, uint64_t size, uint64_t limit) {
  out.status = ReadStatus::kTooLarge;
  out.message = TooLargeText(what, size, limit);
}

// The memory an entry's name and texts keep once read.
uint64_t KeptTexts(const ReadEntry& e) {
  uint64_t n = (uint64_t)e.name.Length();
  for (const String* t : {&e.text1, &e.text2, &e.text3, &e.text4, &e.text5}) n += (uint64_t)t->Length();
  return n;
}

// The region input of a read pass: the region held, or its pieces in the
// installer and the volumes (pieces is then set).
std::unique_ptr<RegionInput> RegionOf(ByteSource& file, const VolumeOpener& volumes, const InstallerContents& c,
                                      PieceRegion*& pieces);

// Set when the bytes a pass read do not give the checksum the first pass
// found: the installer or a volume changed in between.
constexpr char kChangedWhileRead[] = "the installer changed while it was read";

void Failed(InstallerContents& out, const ReadFailure& f) {
  if (f.status == ReadStatus::kCorrupt) return Corrupt(out, f.code, f.message);
  out.status = f.status;
  out.message = f.message;
}

// An entry's record costs this much memory beyond its data, at most.
constexpr uint64_t kEntryMemory = sizeof(ReadEntry) + 64;

bool ReadAtSource(void* context, int64_t offset, void* out, int32_t n) {
  if (offset < 0 || n < 0) return false;
  return static_cast<ByteSource*>(context)->ReadAt((uint64_t)offset, out, (size_t)n);
}

PieceRegion MakePieceRegion(ByteSource& file, const VolumeOpener& volumes, const InstallerContents& c) {
  return PieceRegion(file, c.firstPieceOffset, c.firstPieceLength, (uint64_t)c.header.dataRegionSize, volumes,
                     Str(c.settings.volumeBaseName), c.settings.volumeIdentifier);
}

std::unique_ptr<RegionInput> RegionOf(ByteSource& file, const VolumeOpener& volumes, const InstallerContents& c,
                                      PieceRegion*& pieces) {
  pieces = nullptr;
  if (c.regionHeld) return std::make_unique<MemoryRegion>(c.region.data(), c.region.size());
  auto p = std::make_unique<PieceRegion>(MakePieceRegion(file, volumes, c));
  pieces = p.get();
  return p;
}

}  // namespace

void ReadInstaller(ByteSource& file, const VolumeOpener& volumes, InstallerContents& out, uint64_t maxUnpacked,
                   const ReadProgress& progress) {
  out = InstallerContents();
  int32_t found = FindArchiveSection(ReadAtSource, &file, out.layout);
  if (found == kNoArchiveSection) {
    out.status = ReadStatus::kNoArchive;
    out.message = "no installation archive: the file has no .trux section";
    return;
  }
  if (found != kArchiveOk) return Corrupt(out, found);

  // The bytes the loader maps, as the runtime computes them. A file cut
  // short within them could not be loaded at all; cutting them to what the
  // file holds only keeps the reads inside the file.
  const PeLayout& L = out.layout;
  const uint64_t fileSize = file.Size();
  uint64_t available = L.sectionFileOffset < fileSize ? fileSize - L.sectionFileOffset : 0;
  uint64_t mapped = MappedSectionSize(L);
  if (mapped > available) mapped = available;
  out.sectionBytes = (uint32_t)mapped;

  // The header's fixed fields first: the entry count they give decides how
  // much of the section is read for the size table and the settings.
  ArchiveHeaderValues values;
  ArchiveVersionProblem problem;
  ArchiveHeader& h = out.header;
  Bytes head((size_t)(mapped < (uint64_t)kArchiveHeaderSize ? mapped : (uint64_t)kArchiveHeaderSize));
  if (!file.ReadAt(L.sectionFileOffset, head.data(), head.size())) return Corrupt(out, kErrArchiveTruncated);
  {
    ArchiveCursor cursor(head.data(), head.data() + head.size());
    ArchiveError headerError = ReadArchiveHeader(cursor, values, problem);
    h = values.header;
    const bool onlyTableMissing = headerError == kErrArchiveTruncated && head.size() == (size_t)kArchiveHeaderSize;
    if (!problem.tooNew && headerError != kArchiveOk && !onlyTableMissing) return Corrupt(out, headerError);
    // A size table that the section cannot hold is corrupt, however many
    // entries it claims.
    if (onlyTableMissing && (mapped - (uint64_t)kArchiveHeaderSize) / 4 < (uint64_t)h.entryCount)
      return Corrupt(out, kErrArchiveTruncated);
  }
  if (!problem.tooNew && (uint64_t)h.entryCount * kEntryMemory > maxUnpacked)
    return TooLarge(out, "the entry table of " + std::to_string(h.entryCount) + " entries",
                    (uint64_t)h.entryCount * kEntryMemory, maxUnpacked);
  uint64_t needed = problem.tooNew ? head.size()
                                   : (uint64_t)kArchiveHeaderSize + 4ull * (uint64_t)h.entryCount +
                                         (uint64_t)(uint32_t)h.settingsPackedSize;
  if (needed > mapped) needed = mapped;
  Bytes sectionHead((size_t)needed);
  if (!file.ReadAt(L.sectionFileOffset, sectionHead.data(), sectionHead.size()))
    return Corrupt(out, kErrArchiveTruncated);
  const unsigned char* section = sectionHead.data();
  ArchiveCursor cursor(section, section + sectionHead.size());
  values = ArchiveHeaderValues();
  problem = ArchiveVersionProblem();
  ArchiveError headerError = ReadArchiveHeader(cursor, values, problem);
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
  {
    // The settings block's declared unpacked size, read from a copy of its
    // header before it is unpacked.
    int64_t at = cursor.Offset();
    int32_t packed = h.settingsPackedSize;
    if (packed >= 8 && at >= 0 && (uint64_t)at + (uint64_t)packed <= sectionHead.size()) {
      unsigned char copy[8];
      memcpy(copy, section + at, sizeof copy);
      XorScramble(copy, (int32_t)sizeof copy, h.settingsChecksum);
      int32_t declared = BlockDecodedSize(copy, (int32_t)sizeof copy);
      if (declared > 0 && (uint64_t)declared > maxUnpacked)
        return TooLarge(out, "the settings block", (uint64_t)declared, maxUnpacked);
    }
  }
  String block;
  ArchiveError blockError = LoadSettingsBlock(cursor, values, block);
  if (blockError != kArchiveOk) return Corrupt(out, blockError, blockError == kErrArchiveTruncated ? "settings block" : "");
  Bytes().swap(sectionHead);
  SettingsReadOptions options;
  options.expectedChecksum = h.settingsChecksum;
  options.ownFileSize = (int64_t)fileSize;
  ArchiveError settingsError = ReadSettings(block.CStr(), block.Length(), options, out.settings);
  block = String();
  if (settingsError != kArchiveOk) return Corrupt(out, settingsError);
  out.haveSettings = true;
  const ArchiveSettings& s = out.settings;
  if (s.Flag(kFlagCheckStub)) {
    RunningChecksum stub;
    Bytes chunk(kChunk);
    for (uint64_t at = 0; at < L.sectionFileOffset;) {
      size_t take = L.sectionFileOffset - at < chunk.size() ? (size_t)(L.sectionFileOffset - at) : chunk.size();
      if (!file.ReadAt(at, chunk.data(), take)) return Corrupt(out, kErrStubRead);
      stub.Add(chunk.data(), take);
      at += take;
    }
    if (stub.Value() != h.stubChecksum) return Corrupt(out, kErrStubChecksum);
  }

  // Data region: the first piece, then the volumes.
  const int64_t n = h.dataRegionSize;
  if (s.dataOutsideImage) {
    uint64_t start = (uint64_t)L.sectionFileOffset + (uint64_t)out.dataRegionOffset;
    if (start > fileSize) {
      out.status = ReadStatus::kDataUnreadable;
      out.message = "failed to read archive data: the file ends before the data region starts";
      return;
    }
    // More bytes than the region after its start would not fit the runtime's
    // region buffer: it refuses them as corrupt.
    if (fileSize - start > (uint64_t)n)
      return Corrupt(out, kErrVolumeRead, "the file holds " + std::to_string(fileSize - start) +
                                              " bytes after the data region's start, more than its " +
                                              std::to_string(n));
    out.firstPieceOffset = start;
    out.firstPieceLength = fileSize - start;
  } else {
    // Not negative and within the mapped bytes: checked after the header.
    int64_t piece = (int64_t)h.sectionArchiveSize - out.dataRegionOffset;
    if (piece > n) piece = n;
    out.firstPieceOffset = (uint64_t)L.sectionFileOffset + (uint64_t)out.dataRegionOffset;
    out.firstPieceLength = (uint64_t)piece;
  }
  const bool compressed = s.Flag(kFlagCompressedRegion) && n != 0;
  if (compressed && (uint64_t)n > maxUnpacked) return TooLarge(out, "the data region", (uint64_t)n, maxUnpacked);

  // The checksum covers the region as stored, and is checked before any
  // entry is looked at. A compressed region is kept on the way, to be
  // unpacked; a stored one only passes.
  {
    PieceRegion pieces = MakePieceRegion(file, volumes, out);
    RunningChecksum sum;
    Bytes packed, chunk;
    if (compressed)
      packed.resize((size_t)n);
    else
      chunk.resize(kChunk);
    for (uint64_t at = 0; at < (uint64_t)n;) {
      const size_t want = (size_t)std::min<uint64_t>(kChunk, (uint64_t)n - at);
      unsigned char* to = compressed ? packed.data() + at : chunk.data();
      size_t got = 0;
      if (!pieces.Read(to, want, got)) {
        out.volumesRead = pieces.VolumesRead();
        return Failed(out, pieces.Failure());
      }
      if (got == 0) break;
      sum.Add(to, got);
      at += got;
      if (progress) progress(kChecksumStep, at, (uint64_t)n, 0, 0);
    }
    out.volumesRead = pieces.VolumesRead();
    if (sum.Value() != h.dataRegionChecksum) return Corrupt(out, kErrDataRegionChecksum);
    if (compressed) {
      int32_t declared = BlockDecodedSize(packed.data(), (int32_t)packed.size());
      if (declared > 0 && (uint64_t)declared > maxUnpacked)
        return TooLarge(out, "the data region unpacked", (uint64_t)declared, maxUnpacked);
      // Decoded straight into the region held: the packed block and the
      // unpacked bytes are the only copies.
      if (declared < 0) return Corrupt(out, kErrDataRegionUnpack);
      out.region.resize((size_t)declared);
      if (UnpackBlockInto(packed.data(), (int32_t)packed.size(), out.region.data(), declared) != declared) {
        out.region.clear();
        return Corrupt(out, kErrDataRegionUnpack);
      }
      Bytes().swap(packed);
      out.regionHeld = true;
    } else if (n == 0) {
      out.regionHeld = true;
    }
  }
  // The runtime checks every deletion date before it deletes anything.
  for (int32_t i = 0; i < s.deletions.Count(); ++i) {
    DateTime when;
    const FileDeletion& d = s.deletions[i];
    if (IsDateCondition(d.condition) && !ParseDeletionDate(d.argument.CStr(), when))
      return Corrupt(out, kErrDeletionDate, "deletion record " + std::to_string(i + 1) + ", \"" + Str(d.argument) + "\"");
  }
  // The entry records. Memory: the window holding one record's head or tail,
  // and the names and texts kept for every entry, each within the limit.
  std::string detail;
  PieceRegion* pieces = nullptr;
  std::unique_ptr<RegionInput> input = RegionOf(file, volumes, out, pieces);
  EntryWalker walker(*input, maxUnpacked);
  uint64_t kept = (uint64_t)out.entrySizes.size() * kEntryMemory;
  out.entries.reserve(out.entrySizes.size());
  for (size_t i = 0; i < out.entrySizes.size(); ++i) {
    ReadEntry e;
    int32_t code = walker.Next(i, out.entrySizes[i], e, nullptr, detail);
    if (code == kInputFailed) return pieces ? Failed(out, pieces->Failure()) : Corrupt(out, kErrArchiveTruncated);
    if (code == kRecordTooLarge)
      return TooLarge(out, detail + ", its name and texts,", walker.Refused(), maxUnpacked);
    if (code != kArchiveOk) return Corrupt(out, code, detail);
    kept += KeptTexts(e);
    if (kept > maxUnpacked) return TooLarge(out, "the entries' names and texts", kept, maxUnpacked);
    out.entries.push_back(std::move(e));
    if (progress) progress(kEntriesStep, walker.Position(), (uint64_t)n, i + 1, out.entrySizes.size());
  }
  // Read from the files a second time: the entries listed must come from
  // the bytes whose checksum held.
  if (pieces && (!pieces->Drain() || pieces->Checksum() != h.dataRegionChecksum)) {
    if (pieces->Failure().status != ReadStatus::kOk) return Failed(out, pieces->Failure());
    return Corrupt(out, kErrDataRegionChecksum, kChangedWhileRead);
  }
}

int32_t DeriveUninstaller(ByteSource& file, const InstallerContents& c, String& image) {
  UninstallerInputs inputs;
  inputs.checkStub = c.settings.Flag(kFlagCheckStub);
  inputs.stubChecksum = c.header.stubChecksum;
  inputs.patchOffset = c.settings.patchOffset;
  inputs.patch = &c.settings.patchBytes;
  return DeriveUninstallerImage(ReadAtSource, &file, (int64_t)file.Size(), c.layout, inputs, image);
}

bool StreamEntryData(ByteSource& file, const VolumeOpener& volumes, const InstallerContents& c,
                     const EntryDataVisitor& visitor, std::string& error, uint64_t maxUnpacked,
                     const ReadProgress& progress) {
  PieceRegion* pieces = nullptr;
  std::unique_ptr<RegionInput> in = RegionOf(file, volumes, c, pieces);
  const uint64_t total = c.regionHeld ? c.region.size() : (uint64_t)c.header.dataRegionSize;
  auto corrupt = [&error](int32_t code, const std::string& detail) {
    error = "corrupt archive, error code " + std::to_string(code) + ": " + ArchiveErrorText(code) + " (" + detail +
            ")";
    return false;
  };
  auto inputFailed = [&error, pieces] {
    error = pieces ? pieces->Failure().message : "the data region cannot be read";
    if (pieces && pieces->Failure().status == ReadStatus::kCorrupt)
      error = "corrupt archive, error code " + std::to_string(pieces->Failure().code) + ": " + error;
    return false;
  };
  // Bounded as the first walk was: the records read now need not be the
  // records read then.
  EntryWalker walker(*in, maxUnpacked);
  const bool listed = c.entries.size() == c.entrySizes.size();
  std::string detail;
  for (size_t i = 0; i < c.entrySizes.size(); ++i) {
    ReadEntry e;
    int32_t code = walker.Next(
        i, c.entrySizes[i], e,
        [&](const unsigned char* data, size_t n) { return !visitor.data || visitor.data(i, data, n, error); },
        detail);
    if (code == kStopped) return false;
    if (code == kInputFailed) return inputFailed();
    if (code == kRecordTooLarge) {
      error = TooLargeText(detail + ", its name and texts,", walker.Refused(), maxUnpacked);
      return false;
    }
    if (code != kArchiveOk) return corrupt(code, detail + "; " + kChangedWhileRead);
    if (listed && (e.name != c.entries[i].name || e.kind != c.entries[i].kind || e.flags != c.entries[i].flags ||
                   e.text4 != c.entries[i].text4))
      return corrupt(kErrDataRegionChecksum, detail + " is not the entry listed; " + kChangedWhileRead);
    // Before the last entry is handed on, the region's checksum is taken over
    // exactly the bytes this walk read (and so wrote): the region the first
    // read checked is the region written, or nothing more is put in place.
    if (pieces && i + 1 == c.entrySizes.size()) {
      if (!pieces->Drain()) return inputFailed();
      if (pieces->Checksum() != c.header.dataRegionChecksum) return corrupt(kErrDataRegionChecksum, kChangedWhileRead);
    }
    if (visitor.done && !visitor.done(i, error)) return false;
    if (progress) progress(kEntriesStep, walker.Position(), total, i + 1, c.entrySizes.size());
  }
  return true;
}

void ReadInstaller(const Bytes& file, const VolumeLoader& volumes, InstallerContents& out, uint64_t maxUnpacked) {
  MemorySource source(file.data(), file.size());
  VolumeOpener opener = [&volumes](const std::string& name) -> std::unique_ptr<ByteSource> {
    Bytes data;
    if (!volumes || !volumes(name, data)) return nullptr;
    return std::make_unique<MemorySource>(std::move(data));
  };
  ReadInstaller(source, opener, out, maxUnpacked);
  if (out.status != ReadStatus::kOk || out.regionHeld) return;
  // Held in memory here, as callers of this form expect.
  PieceRegion pieces = MakePieceRegion(source, opener, out);
  out.region.resize((size_t)out.header.dataRegionSize);
  size_t got = 0;
  if (!pieces.Read(out.region.data(), out.region.size(), got) || got != out.region.size()) {
    out.region.clear();
    return Failed(out, pieces.Failure());
  }
  out.regionHeld = true;
}
