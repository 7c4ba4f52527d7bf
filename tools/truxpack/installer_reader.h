// Reading an installer back: the checks the runtime makes, in its order and
// with its archive error codes. Used by list, verify and extract, and by
// build to check what it has just written.
//
// Every read is bounded by the bytes really present: a header, table or
// record that reaches past the archive section (or past the data region) is
// kErrArchiveTruncated, never a read outside a buffer.
//
// Memory: the installer and its volumes are read piece by piece through
// positioned reads. The header, the entry-size table and the settings are
// held whole; a stored data region is never held: its checksum is taken as
// it passes, and the entry records are walked with a window that holds one
// record's head or tail (entry data passes through in bounded chunks). A
// compressed region is one block whose back-references may reach anywhere
// in its output, so it is held and unpacked whole, as the runtime does,
// within the --max-size limit.
#pragma once
#include <stdint.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/entry_record.h"
#include "archive/format.h"
#include "archive/pe_image.h"
#include "archive/settings.h"
#include "tools/truxpack/file_io.h"

using Bytes = std::vector<unsigned char>;

enum class ReadStatus {
  kOk,
  kNoArchive,        // a PE image without a ".trux" section (the runtime's no-archive message)
  kCorrupt,          // an archive error code (code)
  kVersionMismatch,  // a format version the runtime refuses
  kDataUnreadable,   // data outside the image: the file ends before the region starts
  kVolumeMissing,    // a volume file is absent or is not the expected volume
  kTooLarge,         // the archive declares more than the caller's memory limit
};

// One entry record as found in the data region, and where its data lies.
struct ReadEntry : EntryRecord {
  uint64_t dataOffset = 0;  // offset in the (unpacked) data region
};

struct InstallerContents {
  ReadStatus status = ReadStatus::kOk;
  int32_t code = 0;         // with kCorrupt: the archive error code
  std::string message;      // one line: what is wrong, or empty
  PeLayout layout;
  uint32_t sectionBytes = 0;  // archive bytes the mapped section holds
  ArchiveHeader header{};
  std::vector<uint32_t> entrySizes;
  int64_t dataRegionOffset = 0;
  bool haveSettings = false;
  ArchiveSettings settings;
  int32_t volumesRead = 0;
  // The data region unpacked, when it is compressed (or when the memory
  // form of ReadInstaller was used); empty for a stored region read from a
  // file, whose entries' data is reached through StreamEntryData.
  Bytes region;
  bool regionHeld = false;
  uint64_t firstPieceOffset = 0;  // the region's first piece in the installer file
  uint64_t firstPieceLength = 0;
  std::vector<ReadEntry> entries;
};

// Loads a volume file by its name ("%s%d.XAV"); false when it is absent.
using VolumeLoader = std::function<bool(const std::string& name, Bytes& data)>;
// Opens a volume file by its name for reading; null when it is absent.
using VolumeOpener = std::function<std::unique_ptr<ByteSource>(const std::string& name)>;
// How far a read has come through the data region: the step (kChecksumStep
// while its checksum is taken, kEntriesStep while the records are walked),
// the region's bytes passed, of how many, and the entries walked so far.
enum ReadStep { kChecksumStep, kEntriesStep };
using ReadProgress =
    std::function<void(ReadStep step, uint64_t done, uint64_t total, uint64_t files, uint64_t totalFiles)>;

// The most memory a read may take for what the archive declares: 1 GiB by
// default for the settings block unpacked, for the data region unpacked and
// for the entry table. A small installer can declare far more than it holds
// (a compressed region of 1 GiB zeros is a few kilobytes), so every declared
// size is checked against this before anything is allocated for it.
constexpr uint64_t kDefaultMaxUnpacked = 1ull << 30;

// Reads and checks the whole installer: section, header, settings, stub
// checksum, data region with its volumes (checksum first, as the runtime
// does), entries with their checksums. Stops at the first failure.
// Declared sizes above maxUnpacked end the read with kTooLarge, and so do
// the entries' names and texts once they add up to more. A stored region is
// read twice (its checksum, then its records), and the second read must give
// the same checksum.
void ReadInstaller(ByteSource& file, const VolumeOpener& volumes, InstallerContents& out,
                   uint64_t maxUnpacked = kDefaultMaxUnpacked, const ReadProgress& progress = nullptr);

// The same over a file held in memory, with volumes loaded whole; the data
// region is then always held in out.region (stored or unpacked).
void ReadInstaller(const Bytes& file, const VolumeLoader& volumes, InstallerContents& out,
                   uint64_t maxUnpacked = kDefaultMaxUnpacked);

// The entries' data of an installer that ReadInstaller accepted, walked
// again in archive order: data receives each entry's bytes in pieces of at
// most a few megabytes (none for an empty entry), done follows the last
// piece once the entry's checksum holds. A callback returning false stops
// the walk (its error is kept). The records are checked again on the way
// (each must be the entry ReadInstaller listed, and its head or tail stays
// within maxUnpacked), and before done is called for the last entry the
// data region's checksum is taken over exactly the bytes this walk read: a
// file changed since it was checked is an error, never other data passed on
// as the data checked. volumes should hand out the files the first read
// opened (kept open), so that a name swapped meanwhile changes nothing.
struct EntryDataVisitor {
  std::function<bool(size_t index, const unsigned char* data, size_t n, std::string& error)> data;
  std::function<bool(size_t index, std::string& error)> done;
};
bool StreamEntryData(ByteSource& file, const VolumeOpener& volumes, const InstallerContents& contents,
                     const EntryDataVisitor& visitor, std::string& error,
                     uint64_t maxUnpacked = kDefaultMaxUnpacked, const ReadProgress& progress = nullptr);

// The uninstaller image the runtime derives from an installer whose
// settings ReadInstaller has read: the one derivation the runtime runs
// (DeriveUninstallerImage), over file. Returns kArchiveOk or the runtime's
// code (35, 40, 42).
int32_t DeriveUninstaller(ByteSource& file, const InstallerContents& contents, String& image);

// Walks the entry records of an unpacked region with the given sizes.
// Returns kArchiveOk, or the code of the first bad record (70, 71, 72, 100,
// 110, or kErrArchiveTruncated for a record that runs past the region);
// detail then names the entry.
int32_t WalkEntries(const unsigned char* region, size_t size, const std::vector<uint32_t>& sizes,
                    std::vector<ReadEntry>& entries, std::string& detail);

// A short English description of an archive error code.
const char* ArchiveErrorText(int32_t code);

// The volume file name for volume k, by the archive's rule (VolumeFileName
// in archive/volume_name.h).
std::string VolumeFileName(const std::string& baseName, int32_t k);
