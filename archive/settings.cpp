#include "archive/settings.h"

#include <string.h>

#include "core/byte_order.h"
#include "core/checksum.h"

// ------------------------------------------------------------------ stream

bool SettingsStream::Read(void* out, int32_t n) {
  if (n <= 0) return n == 0;
  int32_t left = size_ - position_;
  int32_t take = n < left ? n : left;
  if (take > 0) memcpy(out, data_ + position_, (size_t)take);
  if (take < n) memset(static_cast<char*>(out) + take, 0, (size_t)(n - take));
  position_ += take;
  return take == n;
}

uint8_t SettingsStream::U8() {
  unsigned char b[1];
  Read(b, 1);
  return b[0];
}

uint16_t SettingsStream::U16() {
  unsigned char b[2];
  Read(b, 2);
  return (uint16_t)LoadLe16(b);
}

uint32_t SettingsStream::U32() {
  unsigned char b[4];
  Read(b, 4);
  return LoadLe32(b);
}

uint64_t SettingsStream::U64() {
  uint64_t low = U32();
  uint64_t high = U32();
  return low | (high << 32);
}

void SettingsStream::Text(String& out) {
  if (position_ >= size_) {
    out.Clear();
    return;
  }
  const char* start = data_ + position_;
  const void* nul = memchr(start, 0, (size_t)(size_ - position_));
  int32_t n = nul ? (int32_t)(static_cast<const char*>(nul) - start) : size_ - position_;
  out.Assign(start, n);
  position_ += nul ? n + 1 : n;
}

String SettingsStream::Text() {
  String text;
  Text(text);
  return text;
}

String SettingsStream::Bytes(uint32_t n) {
  // Only what the stream holds is taken: a length beyond it never makes the
  // reader allocate or zero-fill more than the stream's own size.
  int32_t left = size_ - position_;
  int32_t take = (n < (uint32_t)left) ? (int32_t)n : left;
  String bytes(data_ + position_, take);
  position_ += take > 0 ? take : 0;
  return bytes;
}

String SettingsStream::Counted() {
  int32_t n = (int32_t)U32();
  if (n <= 0) return String();
  return Bytes((uint32_t)n);
}

// ------------------------------------------------------------------ reader

namespace {

void ReadDateTime(SettingsStream& in, ArchiveDateTime& time) {
  time.year = (int32_t)in.U32();
  time.month = (int32_t)in.U32();
  time.day = (int32_t)in.U32();
  time.hour = (int32_t)in.U32();
  time.minute = (int32_t)in.U32();
  time.second = (int32_t)in.U32();
}

ArchiveError ReadTextList(SettingsStream& in, int32_t limit, ArchiveError error, Array<String>& list) {
  uint32_t n = in.U32();
  if (n > (uint32_t)limit) return error;
  for (uint32_t i = 0; i < n; ++i) in.Text(list.Append());
  return kArchiveOk;
}

ArchiveError ReadDeletions(SettingsStream& in, Array<FileDeletion>& list) {
  for (;;) {
    String specification;
    in.Text(specification);
    if (specification.Compare(kDeletionListEnd) == 0) return kArchiveOk;
    // A truncated stream reads empty names from here on; the record limit
    // ends the list then.
    if (list.Count() >= kMaxDeletionRecords) return kErrDeletionCount;
    FileDeletion& record = list.Append();
    record.specification = static_cast<String&&>(specification);
    record.condition = in.U8();
    in.Text(record.argument);
    record.options = in.U32();
  }
}

ArchiveError ReadAssociations(SettingsStream& in, Array<FileAssociation>& list) {
  uint32_t n = in.U32();
  if (n > (uint32_t)kMaxRecordListCount) return kErrAssociationCount;
  for (uint32_t i = 0; i < n; ++i) {
    FileAssociation& record = list.Append();
    record.number = in.U32();
    for (String& text : record.texts) in.Text(text);
  }
  return kArchiveOk;
}

ArchiveError ReadShortcuts(SettingsStream& in, Array<ShortcutRecord>& list) {
  uint32_t n = in.U32();
  if (n > (uint32_t)kMaxRecordListCount) return kErrShortcutCount;
  for (uint32_t i = 0; i < n; ++i) {
    ShortcutRecord& record = list.Append();
    in.Text(record.target);
    in.Text(record.name);
    in.Text(record.iconFile);
    in.Text(record.arguments);
    in.Text(record.workingDirectory);
    record.desktop = in.U8();
    record.startMenu = in.U8();
    record.startup = in.U8();
    record.permanent = in.U8();
    record.expandTarget = true;
  }
  return kArchiveOk;
}

ArchiveError ReadUninstallValues(SettingsStream& in, Array<UninstallValue>& list) {
  uint32_t n = in.U32();
  if (n > (uint32_t)kMaxRecordListCount) return kErrUninstallValueCount;
  for (uint32_t i = 0; i < n; ++i) {
    UninstallValue& record = list.Append();
    in.Text(record.name);
    record.type = in.U8();
    in.Text(record.value);
  }
  return kArchiveOk;
}

ArchiveError ReadLanguages(SettingsStream& in, ArchiveSettings& s) {
  uint8_t languages = in.U8();
  uint32_t messages = in.U32();
  if (languages < 1 || languages > kMaxLanguages) return kErrLanguageCount;
  if (messages < 1 || messages > (uint32_t)kMaxMessages) return kErrMessageCount;
  s.englishLanguage = 0;
  for (int32_t i = 0; i < languages; ++i) {
    in.Text(s.languageNames.Append());
    if (s.languageNames[i].Compare("English") == 0) s.englishLanguage = i;
  }
  s.messageCount = (int32_t)messages;
  const int32_t total = (int32_t)messages * languages;
  for (int32_t i = 0; i < total; ++i) {
    // A stream that ends among the messages cannot hold the end marker
    // after them: stop at once instead of reading up to a million empty texts.
    if (in.AtEnd()) return kErrEndMarker;
    String& text = s.messages.Append();
    in.Text(text);
    text.NormalizeNewlines();
  }
  return kArchiveOk;
}

// Fields 13 to 44.
ArchiveError ReadMiddleFields(SettingsStream& in, const SettingsReadOptions& options, ArchiveSettings& s) {
  in.Text(s.ProductRegistry);
  s.BitmapSize = in.U32();
  if (s.BitmapSize > (uint32_t)kMaxBitmapSize) return kErrBitmapSize;
  s.StretchMode = in.U32();
  if (ArchiveError e = ReadTextList(in, kMaxLicenseTexts, kErrLicenseCount, s.licenseTexts)) return e;
  if (ArchiveError e = ReadTextList(in, kMaxReadmeTexts, kErrReadmeCount, s.readmeTexts)) return e;
  in.Text(s.UninstallSubdir);
  in.Text(s.volumeBaseName);
  if (s.volumeBaseName.IsBlank()) return kErrVolumeBaseNameBlank;
  in.Text(s.uninstallerFileName);
  in.Text(s.uninstallName);
  s.TitleColor = in.U32();
  s.TitleShadow = in.U8();
  s.TitlePosition = in.U8();
  in.Text(s.TitleFont);
  s.TopColor = in.U32();
  s.BottomColor = in.U32();
  s.backgroundBitmap = in.Counted();
  if (s.Flag(kFlagAddOn)) in.Text(s.masterProductName);
  in.Text(s.desktopShortcutName);
  s.desktopShortcutIcon = in.Counted();
  for (String& batch : s.batches) in.Text(batch);
  in.Text(s.UninstallBatch1);
  in.Text(s.UninstallBatch2);
  in.Read(s.reservedDate, kReservedDateRecordSize);
  s.excludedSystems = in.U32();
  s.dataOutsideImage = in.U8();
  s.adminRequirement = in.U8();
  s.volumeIdentifier = in.U32();
  in.Text(s.minimumVersion);
  in.Text(s.password);
  if (s.Flag(kFlagUninstaller)) {
    s.patchOffset = (int32_t)in.U32();
    if (s.patchOffset < 0 || s.patchOffset > options.ownFileSize) return kErrPatchOffset;
    if (s.patchOffset > 0) s.patchBytes = in.Counted();
  }
  return kArchiveOk;
}

}  // namespace

ArchiveError ReadSettings(const char* data, int32_t size, const SettingsReadOptions& options,
                          ArchiveSettings& s) {
  SettingsSteps noSteps;
  SettingsSteps& steps = options.steps ? *options.steps : noSteps;
  SettingsStream in(data, size);

  s.Flags = in.U64();
  in.Text(s.TaskbarText);
  s.DialogPosition = in.U32();
  steps.AfterFlags(s);
  if (BlockChecksum(data, size) != options.expectedChecksum) return kErrSettingsChecksum;

  s.StagePause = in.U16();
  if (s.StagePause > kMaxStagePause) return kErrStagePause;
  s.ShortcutMode = in.U8();
  ReadDateTime(in, s.UninstallerFileTime);
  in.Text(s.Publisher);
  in.Text(s.productName);
  steps.AfterProductName(s);

  in.Text(s.SharedPath);
  in.Text(s.ProductStartMenu);
  in.Text(s.DisplayVersion);
  in.Text(s.defaultInstallDir);
  steps.AfterDirectories(s);

  if (ArchiveError e = ReadMiddleFields(in, options, s)) return e;
  if (ArchiveError e = ReadDeletions(in, s.deletions)) return e;
  if (ArchiveError e = ReadAssociations(in, s.associations)) return e;
  if (ArchiveError e = ReadShortcuts(in, s.shortcuts)) return e;
  if (ArchiveError e = ReadUninstallValues(in, s.uninstallValues)) return e;
  if (ArchiveError e = ReadLanguages(in, s)) return e;
  if (in.U32() != kSettingsEndMarker) return kErrEndMarker;
  return kArchiveOk;
}
