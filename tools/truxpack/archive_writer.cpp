#include "tools/truxpack/archive_writer.h"

#include <string.h>

#include "archive/block.h"
#include "core/checksum.h"
#include "tools/truxpack/file_io.h"

void ByteWriter::U16(uint32_t v) {
  U8(v);
  U8(v >> 8);
}

void ByteWriter::U32(uint32_t v) {
  U16(v & 0xFFFF);
  U16(v >> 16);
}

void ByteWriter::U64(uint64_t v) {
  U32((uint32_t)v);
  U32((uint32_t)(v >> 32));
}

void ByteWriter::Raw(const void* data, size_t n) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  if (n) out_.insert(out_.end(), p, p + n);
}

void ByteWriter::Text(const std::string& s) {
  Raw(s.data(), s.size());
  U8(0);
}

void ByteWriter::Text(const String& s) {
  Raw(s.CStr(), (size_t)s.Length());
  U8(0);
}

void ByteWriter::Counted(const String& s) {
  U32((uint32_t)s.Length());
  Raw(s.CStr(), (size_t)s.Length());
}

void ByteWriter::DateTime(const ArchiveDateTime& t) {
  U32((uint32_t)t.year);
  U32((uint32_t)t.month);
  U32((uint32_t)t.day);
  U32((uint32_t)t.hour);
  U32((uint32_t)t.minute);
  U32((uint32_t)t.second);
}

Bytes SerializeSettings(const ArchiveSettings& s) {
  Bytes out;
  ByteWriter w(out);
  w.U64(s.Flags);                          // 1
  w.Text(s.TaskbarText);                   // 2
  w.U32(s.DialogPosition);                 // 3
  w.U16(s.StagePause);                     // 4
  w.U8(s.ShortcutMode);                    // 5
  w.DateTime(s.UninstallerFileTime);       // 6
  w.Text(s.Publisher);                     // 7
  w.Text(s.productName);                   // 8
  w.Text(s.SharedPath);                    // 9
  w.Text(s.ProductStartMenu);              // 10
  w.Text(s.DisplayVersion);                // 11
  w.Text(s.defaultInstallDir);             // 12
  w.Text(s.ProductRegistry);               // 13
  w.U32(s.BitmapSize);                     // 14
  w.U32(s.StretchMode);                    // 15
  w.U32((uint32_t)s.licenseTexts.Count());  // 16
  for (int32_t i = 0; i < s.licenseTexts.Count(); ++i) w.Text(s.licenseTexts[i]);
  w.U32((uint32_t)s.readmeTexts.Count());  // 17
  for (int32_t i = 0; i < s.readmeTexts.Count(); ++i) w.Text(s.readmeTexts[i]);
  w.Text(s.UninstallSubdir);               // 18
  w.Text(s.volumeBaseName);                // 19
  w.Text(s.uninstallerFileName);           // 20
  w.Text(s.uninstallName);                 // 21
  w.U32(s.TitleColor);                     // 22
  w.U8(s.TitleShadow);                     // 23
  w.U8(s.TitlePosition);                   // 24
  w.Text(s.TitleFont);                     // 25
  w.U32(s.TopColor);                       // 26
  w.U32(s.BottomColor);                    // 27
  w.Counted(s.backgroundBitmap);           // 28
  if (s.Flag(kFlagAddOn)) w.Text(s.masterProductName);  // 29
  w.Text(s.desktopShortcutName);           // 30
  w.Counted(s.desktopShortcutIcon);        // 31
  for (const String& batch : s.batches) w.Text(batch);  // 32-34
  w.Text(s.UninstallBatch1);               // 35
  w.Text(s.UninstallBatch2);               // 36
  w.Raw(s.reservedDate, kReservedDateRecordSize);  // 37
  w.U32(s.excludedSystems);                // 38
  w.U8(s.dataOutsideImage);                // 39
  w.U8(s.adminRequirement);                // 40
  w.U32(s.volumeIdentifier);               // 41
  w.Text(s.minimumVersion);                // 42
  w.Text(s.password);                      // 43
  if (s.Flag(kFlagUninstaller)) {          // 44
    w.U32((uint32_t)s.patchOffset);
    if (s.patchOffset > 0) w.Counted(s.patchBytes);
  }
  for (int32_t i = 0; i < s.deletions.Count(); ++i) {  // 45
    const FileDeletion& d = s.deletions[i];
    w.Text(d.specification);
    w.U8(d.condition);
    w.Text(d.argument);
    w.U32(d.options);
  }
  w.Text(std::string(kDeletionListEnd));
  w.U32((uint32_t)s.associations.Count());  // 46
  for (int32_t i = 0; i < s.associations.Count(); ++i) {
    const FileAssociation& a = s.associations[i];
    w.U32(a.number);
    for (const String& t : a.texts) w.Text(t);
  }
  w.U32((uint32_t)s.shortcuts.Count());    // 47
  for (int32_t i = 0; i < s.shortcuts.Count(); ++i) {
    const ShortcutRecord& r = s.shortcuts[i];
    w.Text(r.target);
    w.Text(r.name);
    w.Text(r.iconFile);
    w.Text(r.arguments);
    w.Text(r.workingDirectory);
    w.U8(r.desktop);
    w.U8(r.startMenu);
    w.U8(r.startup);
    w.U8(r.permanent);
  }
  w.U32((uint32_t)s.uninstallValues.Count());  // 48
  for (int32_t i = 0; i < s.uninstallValues.Count(); ++i) {
    const UninstallValue& v = s.uninstallValues[i];
    w.Text(v.name);
    w.U8(v.type);
    w.Text(v.value);
  }
  w.U8((uint32_t)s.languageNames.Count());  // 49
  w.U32((uint32_t)s.messageCount);         // 50
  for (int32_t i = 0; i < s.languageNames.Count(); ++i) w.Text(s.languageNames[i]);  // 51
  for (int32_t i = 0; i < s.messages.Count(); ++i) w.Text(s.messages[i]);            // 52
  w.U32(kSettingsEndMarker);               // 53
  return out;
}

void AppendEntryHead(Bytes& out, const EntryInput& e) {
  ByteWriter w(out);
  w.Text(e.name);
  w.U32((uint32_t)e.kind);
  w.U32(e.flags);
  w.U32(e.attributes);
}

void AppendEntryTail(Bytes& out, const EntryInput& e, uint32_t checksum) {
  ByteWriter w(out);
  w.U32(checksum);
  w.DateTime(e.time);
  w.Text(e.text1);
  if (e.flags & (kEntryDesktopShortcut | kEntryStartMenuShortcut)) w.Text(e.text2);
  w.Text(e.text3);
  w.Text(e.text4);
  w.Text(e.text5);
}

uint64_t EntryRecordSize(const EntryInput& e) {
  uint64_t size = e.name.size() + 1 + 12 + e.DataSize() + 4 + sizeof(ArchiveDateTime) + e.text1.size() + 1 +
                  e.text3.size() + 1 + e.text4.size() + 1 + e.text5.size() + 1;
  if (e.flags & (kEntryDesktopShortcut | kEntryStartMenuShortcut)) size += e.text2.size() + 1;
  return size;
}

std::unique_ptr<FileSource> OpenEntrySource(const EntryInput& e, std::string& error) {
  FileIdentity opened;
  std::unique_ptr<FileSource> file = OpenFileSource(e.source, error, &opened);
  // The file read is the file the project checked (inside the project, a
  // regular file of this size), not whatever took its name meanwhile.
  const bool known = !(e.sourceIdentity == FileIdentity{});
  if (file && (file->Size() != e.sourceSize || (known && !(opened == e.sourceIdentity)))) {
    error = e.source + ": the file changed since the project was read";
    return nullptr;
  }
  return file;
}

namespace {

// One record; a deferred entry's bytes are read from its file straight into
// the region, so they are held once.
bool AppendEntry(Bytes& out, const EntryInput& e, std::string& error) {
  AppendEntryHead(out, e);
  const size_t at = out.size();
  if (!e.Deferred()) {
    out.insert(out.end(), e.data.begin(), e.data.end());
  } else {
    std::unique_ptr<FileSource> file = OpenEntrySource(e, error);
    if (!file) return false;
    out.resize(at + (size_t)e.sourceSize);
    if (!file->ReadAt(0, out.data() + at, (size_t)e.sourceSize)) {
      error = "cannot read " + e.source + " (it changed since the project was read?)";
      return false;
    }
  }
  AppendEntryTail(out, e, BlockChecksum(out.data() + at, (int32_t)(out.size() - at)));
  return true;
}

// The region's exact size, reserved at once: growing the buffer step by step
// would hold an old and a new copy of it at each step.
void ReserveRegion(Bytes& out, const std::vector<EntryInput>& entries) {
  uint64_t total = 0;
  for (const EntryInput& e : entries) total += EntryRecordSize(e);
  out.reserve((size_t)total);
}

}  // namespace

bool SerializeEntriesInto(const std::vector<EntryInput>& entries, Bytes& out, std::string& error) {
  out.clear();
  ReserveRegion(out, entries);
  for (const EntryInput& e : entries)
    if (!AppendEntry(out, e, error)) return false;
  return true;
}

Bytes SerializeEntries(const std::vector<EntryInput>& entries) {
  Bytes out;
  std::string ignored;
  SerializeEntriesInto(entries, out, ignored);
  return out;
}

namespace {

bool HasNul(const String& s) { return s.Length() > 0 && memchr(s.CStr(), 0, (size_t)s.Length()) != nullptr; }

std::string Count(const char* what, int32_t n, int32_t limit) {
  return std::string(what) + ": " + std::to_string(n) + " given, at most " + std::to_string(limit) + " allowed";
}

}  // namespace

std::string CheckSettingsForWriting(const ArchiveSettings& s) {
  if (s.StagePause > kMaxStagePause) return "stage pause above " + std::to_string(kMaxStagePause) + " ms";
  if (s.BitmapSize > (uint32_t)kMaxBitmapSize) return "bitmap size above 100 percent";
  if (s.licenseTexts.Count() > kMaxLicenseTexts) return Count("licence texts", s.licenseTexts.Count(), kMaxLicenseTexts);
  if (s.readmeTexts.Count() > kMaxReadmeTexts) return Count("readme texts", s.readmeTexts.Count(), kMaxReadmeTexts);
  if (s.volumeBaseName.IsBlank()) return "the volume base name is blank";
  if (s.deletions.Count() > kMaxDeletionRecords)
    return Count("deletion records", s.deletions.Count(), kMaxDeletionRecords);
  for (int32_t i = 0; i < s.deletions.Count(); ++i)
    if (s.deletions[i].specification.Compare(kDeletionListEnd) == 0)
      return std::string("a deletion record's specification is the list end mark \"") + kDeletionListEnd + "\"";
  if (s.associations.Count() > kMaxRecordListCount)
    return Count("file associations", s.associations.Count(), kMaxRecordListCount);
  if (s.shortcuts.Count() > kMaxRecordListCount) return Count("shortcuts", s.shortcuts.Count(), kMaxRecordListCount);
  if (s.uninstallValues.Count() > kMaxRecordListCount)
    return Count("uninstall values", s.uninstallValues.Count(), kMaxRecordListCount);
  if (s.languageNames.Count() < 1 || s.languageNames.Count() > kMaxLanguages)
    return Count("languages", s.languageNames.Count(), kMaxLanguages) + " (at least 1)";
  if (s.messageCount < 1 || s.messageCount > kMaxMessages)
    return Count("messages", s.messageCount, kMaxMessages) + " (at least 1)";
  if (s.messages.Count() != s.messageCount * s.languageNames.Count()) return "the message table is not complete";
  if (s.Flag(kFlagUninstaller) && s.patchOffset < 0) return "the uninstaller patch offset is negative";
  // Texts are NUL-terminated in the stream: an embedded NUL would cut the
  // text and shift every later field.
  const String* texts[] = {&s.TaskbarText, &s.Publisher, &s.productName, &s.SharedPath, &s.ProductStartMenu,
                           &s.DisplayVersion, &s.defaultInstallDir, &s.ProductRegistry, &s.UninstallSubdir,
                           &s.volumeBaseName, &s.uninstallerFileName, &s.uninstallName, &s.TitleFont,
                           &s.masterProductName, &s.desktopShortcutName, &s.batches[0], &s.batches[1],
                           &s.batches[2], &s.UninstallBatch1, &s.UninstallBatch2, &s.minimumVersion, &s.password};
  for (const String* t : texts)
    if (HasNul(*t)) return "a text setting contains a NUL byte";
  for (int32_t i = 0; i < s.licenseTexts.Count(); ++i)
    if (HasNul(s.licenseTexts[i])) return "licence text " + std::to_string(i + 1) + " contains a NUL byte";
  for (int32_t i = 0; i < s.readmeTexts.Count(); ++i)
    if (HasNul(s.readmeTexts[i])) return "readme text " + std::to_string(i + 1) + " contains a NUL byte";
  for (int32_t i = 0; i < s.messages.Count(); ++i)
    if (HasNul(s.messages[i])) return "message " + std::to_string(i / s.languageNames.Count()) + " contains a NUL byte";
  return std::string();
}

Bytes EncodeHeader(const ArchiveHeader& h, const std::vector<uint32_t>& entrySizes) {
  Bytes out;
  ByteWriter w(out);
  w.U32(h.magic);
  w.U32((uint32_t)h.formatVersion);
  w.U32((uint32_t)h.settingsPackedSize);
  w.U32(h.settingsChecksum);
  w.U32(h.stubChecksum);
  w.U32((uint32_t)h.sectionArchiveSize);
  w.U32((uint32_t)h.entryCount);
  w.U32((uint32_t)h.dataRegionSize);
  w.U32(h.dataRegionChecksum);
  for (uint32_t size : entrySizes) w.U32(size);
  return out;
}

bool PackArchive(const ArchiveSettings& s, std::vector<EntryInput>& entries, const PackOptions& options,
                 ArchivePieces& pieces, std::string& error) {
  std::string problem = CheckSettingsForWriting(s);
  if (!problem.empty()) {
    error = problem;
    return false;
  }
  if (entries.size() > (size_t)INT32_MAX / 4) {
    error = "too many files";
    return false;
  }
  pieces = ArchivePieces();
  uint64_t regionTotal = 0;
  for (const EntryInput& e : entries) {
    if (e.name.empty()) {
      error = "a file has an empty name";
      return false;
    }
    if (!IsValidEntryKind(e.kind)) {
      error = e.name + ": destination kind " + std::to_string(e.kind) + " is not a known kind";
      return false;
    }
    if (e.DataSize() > kMaxEntrySize) {
      error = e.name + ": larger than 1 GiB, the most one entry can hold";
      return false;
    }
    pieces.entrySizes.push_back((uint32_t)e.DataSize());
    regionTotal += EntryRecordSize(e);
  }
  // The region is one buffer of a 32-bit process, and its size a signed
  // 32-bit header field.
  if (regionTotal > (uint64_t)kMaxBlockOutput) {
    error = "the product's files add up to more than 1 GiB, the most one archive can hold";
    return false;
  }

  Bytes stream = SerializeSettings(s);
  uint32_t settingsChecksum = BlockChecksum(stream.data(), (int32_t)stream.size());
  if (!PackBlock(stream.data(), stream.size(), options.level, pieces.packedSettings, error, options.threads)) {
    error = "settings: " + error;
    return false;
  }
  if (pieces.packedSettings.size() > (size_t)kMaxSettingsPackedSize) {
    error = "the packed settings exceed the 52,428,799 bytes the format allows";
    return false;
  }
  XorScramble(pieces.packedSettings.data(), (int32_t)pieces.packedSettings.size(), settingsChecksum);

  const bool compressed = s.Flag(kFlagCompressedRegion) && regionTotal != 0;
  if (!compressed && options.streamStoredRegion) pieces.regionStreamed = true;
  Bytes plain;
  if (!pieces.regionStreamed && options.releaseEntryData) {
    // Each file's bytes go as soon as they are in the region (or are read
    // straight into it), so a compressed build holds the product's files
    // once, not twice, while it packs them.
    ReserveRegion(plain, entries);
    for (EntryInput& e : entries) {
      if (!AppendEntry(plain, e, error)) return false;
      Bytes().swap(e.data);
    }
  } else if (!pieces.regionStreamed && !SerializeEntriesInto(entries, plain, error)) {
    return false;
  }
  if (compressed) {
    if (!PackBlock(plain.data(), plain.size(), options.level, pieces.region, error, options.threads, options.progress)) {
      error = "data region: " + error;
      return false;
    }
  } else {
    pieces.region.swap(plain);
  }
  pieces.regionSize = pieces.regionStreamed ? (int64_t)regionTotal : (int64_t)pieces.region.size();
  if (pieces.regionSize > (int64_t)INT32_MAX) {
    error = "the data region exceeds 2 GiB";
    return false;
  }

  ArchiveHeader& h = pieces.header;
  h.magic = kArchiveMagic;
  h.formatVersion = kArchiveFormatVersion;
  h.settingsPackedSize = (int32_t)pieces.packedSettings.size();
  h.settingsChecksum = settingsChecksum;
  h.entryCount = (int32_t)entries.size();
  h.dataRegionSize = (int32_t)pieces.regionSize;
  if (!pieces.regionStreamed) h.dataRegionChecksum = BlockChecksum(pieces.region.data(), (int32_t)pieces.region.size());
  return true;
}
