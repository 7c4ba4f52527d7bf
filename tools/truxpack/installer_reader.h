// Reading an installer back: the checks the runtime makes, in its order and
// with its archive error codes, over a file held in memory. Used by list,
// verify and extract, and by build to check what it has just written.
//
// Every read is bounded by the bytes really present: a header, table or
// record that reaches past the archive section (or past the assembled data
// region) is kErrArchiveTruncated, never a read outside the buffer.
#pragma once
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "archive/format.h"
#include "archive/pe_image.h"
#include "archive/settings.h"

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

// One entry record as found in the data region.
struct ReadEntry {
  std::string name;
  int32_t kind = 0;
  uint32_t flags = 0;
  uint32_t attributes = 0;
  uint32_t size = 0;
  size_t dataOffset = 0;  // into InstallerContents::region
  uint32_t checksum = 0;
  ArchiveDateTime time{};
  std::string texts[5];
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
  Bytes region;             // the data region, unpacked
  std::vector<ReadEntry> entries;
};

// Loads a volume file by its name ("%s%d.XAV"); false when it is absent.
using VolumeLoader = std::function<bool(const std::string& name, Bytes& data)>;

// The most memory a read may take for what the archive declares: 1 GiB by
// default for the settings block unpacked, for the data region unpacked and
// for the entry table. A small installer can declare far more than it holds
// (a compressed region of 1 GiB zeros is a few kilobytes), so every declared
// size is checked against this before anything is allocated for it.
constexpr uint64_t kDefaultMaxUnpacked = 1ull << 30;

// Reads the whole installer: section, header, settings, stub checksum, data
// region with its volumes, entries. Stops at the first failure. Declared
// sizes above maxUnpacked end the read with kTooLarge.
void ReadInstaller(const Bytes& file, const VolumeLoader& volumes, InstallerContents& out,
                   uint64_t maxUnpacked = kDefaultMaxUnpacked);

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
