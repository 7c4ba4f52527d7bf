#include "install/data_region.h"

#include <windows.h>
#include <string.h>

#include "archive/block.h"
#include "archive/volume_name.h"
#include "core/cformat.h"
#include "core/byte_order.h"
#include "core/checksum.h"
#include "core/memory.h"
#include "core/path.h"
#include "core/scale.h"
#include "core/win32/disk_file.h"
#include "core/win32/system_dirs.h"
#include "runtime/installer_archive.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "ui/progress_dialog.h"

namespace {

constexpr uint32_t kOpenVolume = kOpenReadShared;

// The region buffer of an assembled region: allocated once, never freed.
unsigned char* AllocateRegion(int32_t n) { return static_cast<unsigned char*>(MemAlloc((size_t)(n > 0 ? n : 1))); }

// The first piece from the own file beyond the image, read into a new region
// buffer. Returns the buffer; pieceLength receives the bytes read.
unsigned char* ReadFilePiece(Run& run, int32_t n, int32_t& pieceLength) {
  InstallerArchive& a = run.archive;
  const int64_t start = (int64_t)a.layout.sectionFileOffset + a.header.dataRegionOffset;
  const int64_t length = a.ownFileSize - start;
  if (a.ownFileSize < 0 || length < 0 || start > 0x7FFFFFFF) FatalMessage("Error code 2: failed to read archive data");
  // More bytes than the region holds cannot be placed in its buffer.
  if (length > n) ReportCorruptArchive(run, kErrVolumeRead);
  unsigned char* region = AllocateRegion(n);
  if (!a.ownFile.ReadAt((int32_t)start, region, (int32_t)length))
    FatalMessage("Error code 2: failed to read archive data");
  pieceLength = (int32_t)length;
  return region;
}

// The prompt for a missing or wrong volume; returns when the user chose OK
// or declined the cancel.
void AskForVolume(Run& run, int32_t volumeNumber, const String& volumePath, int32_t attempt) {
  String text;
  if (attempt > 1) {
    text.Append(MessageText(run, kMsgWrongVolume));
    text.Append("\r\n\r\n");
  }
  const char* prompt = MessageText(run, kMsgInsertVolume);
  char drive = 0;
  if (volumePath.Length() >= 2 && volumePath.CharAt(1) == ':') {
    drive = volumePath.CharAt(0);
    if (drive >= 'a' && drive <= 'z') drive = (char)(drive - 'a' + 'A');
  }
  if (IsIntegerFormat(prompt, 2)) {
    char formatted[2048];
    BoundedFormat(formatted, sizeof formatted, prompt, (int)volumeNumber, (int)drive);
    text.Append(formatted);
  } else {
    text.Append(prompt);  // a text that is not a safe format is shown as it is
  }
  const int answer = ShowMessageBox(run, MessageOwner(run), text.CStr(), MessageText(run, kMsgInsertVolumeCaption),
                                    MB_OKCANCEL | MB_ICONQUESTION);
  if (answer != IDOK) ConfirmCancel(run);
}

// Opens volume volumeNumber, asking until it is there and carries the
// expected identifier. Returns its data size (its size - 4); the file stands
// after the identifier.
int32_t OpenVolume(Run& run, DiskFile& volume, int32_t volumeNumber, uint32_t expectedIdentifier) {
  const String name = VolumeFileName(run.archive.settings.volumeBaseName, volumeNumber);
  const String path = JoinPath(DirectoryOf(ModulePath().CStr()).CStr(), name.CStr());
  for (int32_t attempt = 0;; ) {
    if (attempt > 0) AskForVolume(run, volumeNumber, path, attempt);
    if (volume.Open(path.CStr(), kOpenVolume) != kOpenOk) {
      ++attempt;
      continue;
    }
    const int32_t size = volume.Size();
    uint32_t identifier = 0;
    unsigned char bytes[4];
    if (size > kVolumeIdentifierSize && volume.ReadBlock(bytes, 4)) {
      identifier = LoadLe32(bytes);
      if (identifier == expectedIdentifier) return size - kVolumeIdentifierSize;
    }
    volume.Close();
    attempt = 2;  // the next prompt says the volume was wrong
  }
}

// Reads the volumes into region[filled, n).
void ReadVolumes(Run& run, ProgressDialog& progress, unsigned char* region, int32_t n, int32_t filled) {
  int64_t remaining = (int64_t)n - filled;
  unsigned char* write = region + filled;
  uint32_t expected = run.archive.settings.volumeIdentifier;
  int32_t volumeNumber = 1;
  while (remaining > 0) {
    progress.SetProgress(5 + (int32_t)ScaleDown((uint32_t)(n - remaining), 30, 0, (uint32_t)n));
    ++volumeNumber;
    DiskFile volume;
    const int32_t dataSize = OpenVolume(run, volume, volumeNumber, expected);
    ++expected;
    // A volume that holds more than the bytes still missing would overflow
    // the region buffer.
    if (dataSize > remaining || !volume.ReadBlock(write, dataSize)) ReportCorruptArchive(run, kErrVolumeRead);
    write += dataSize;
    remaining -= dataSize;
  }
}

}  // namespace

bool IsIntegerFormat(const char* format, int32_t count) {
  if (!format) return true;
  int32_t seen = 0;
  for (const char* p = format; *p; ++p) {
    if (*p != '%') continue;
    ++p;
    while (*p && strchr("-+ #0123456789.", *p)) ++p;
    if (*p == '%') continue;
    if (!*p || !strchr("diouxXc", *p) || ++seen > count) return false;
  }
  return true;
}

void WaitStagePause(const Run& run) { PauseSinceMark(run, run.archive.settings.StagePause); }

void AssembleDataRegion(Run& run, ProgressDialog& progress) {
  InstallerArchive& a = run.archive;
  const int32_t n = a.header.header.dataRegionSize;
  const unsigned char* region = nullptr;
  int32_t pieceLength = 0;
  unsigned char* buffer = nullptr;

  if (a.settings.dataOutsideImage == 0) {
    region = a.base + a.header.dataRegionOffset;
    pieceLength = a.header.header.sectionArchiveSize - a.header.dataRegionOffset;
  } else {
    buffer = ReadFilePiece(run, n, pieceLength);
    region = buffer;
  }
  if (pieceLength < n) {
    if (!buffer) {
      buffer = AllocateRegion(n);
      memcpy(buffer, region, (size_t)pieceLength);
      region = buffer;
    }
    ReadVolumes(run, progress, buffer, n, pieceLength);
  }

  WaitStagePause(run);
  progress.SetStage(kMsgVerifying, 36);
  if (BlockChecksum(region, n) != a.header.header.dataRegionChecksum) ReportCorruptArchive(run, kErrDataRegionChecksum);
  WaitStagePause(run);

  int32_t size = n;
  if (ProductFlag(run, kFlagCompressedRegion) && n != 0) {
    progress.SetStage(kMsgUnpacking, 40);
    // The region passed its checksum, so its declared size is the packer's:
    // when that much memory is not there, the out-of-memory report says so
    // (AllocateRegion); only a block that does not decode is corrupt.
    const int32_t unpacked = BlockDecodedSize(region, n);
    if (unpacked < 0) ReportCorruptArchive(run, kErrDataRegionUnpack);
    unsigned char* out = AllocateRegion(unpacked);
    if (UnpackBlockInto(region, n, out, unpacked) != unpacked) ReportCorruptArchive(run, kErrDataRegionUnpack);
    region = out;
    size = unpacked;
    WaitStagePause(run);
  }
  a.cursor = ArchiveCursor(region, region + size);
  MarkTime(run);
}
