// Fuzzes the authoring tool's installer reader (what list, verify and extract
// run on installers other tools wrote): the whole read from PE headers to
// entry records, on an exactly sized copy of the input. Volume files are
// served from the input too, so the multi-volume path is explored. A second
// pass walks entry records directly, since reaching them through a whole
// installer needs matching checksums the fuzzer rarely finds. An installer
// that reads is read again piece by piece, as list, verify and extract read
// files, and must give the same records and data.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "tools/truxpack/installer_reader.h"

namespace {

// Declared sizes above this end the read with kTooLarge: keeps the fuzzer's
// memory bounded while still exercising the limit check.
constexpr uint64_t kFuzzMaxUnpacked = 16u << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const Bytes file(data, data + size);

  // Any volume name is answered with the input itself: the reader must check
  // the volume's own header rather than trust whatever a name yields.
  VolumeLoader volumes = [&file](const std::string&, Bytes& out) {
    out = file;
    return true;
  };
  InstallerContents contents;
  ReadInstaller(file, volumes, contents, kFuzzMaxUnpacked);
  if (contents.status == ReadStatus::kOk) {
    // The streamed read must find what the read held in memory found: the
    // same records and, piece by piece, the same data.
    MemorySource source(file.data(), file.size());
    VolumeOpener opener = [&file](const std::string&) -> std::unique_ptr<ByteSource> {
      return std::make_unique<MemorySource>(file.data(), file.size());
    };
    InstallerContents streamed;
    ReadInstaller(source, opener, streamed, kFuzzMaxUnpacked);
    if (streamed.status != ReadStatus::kOk || streamed.entries.size() != contents.entries.size()) __builtin_trap();
    std::vector<uint64_t> at(contents.entries.size(), 0);
    EntryDataVisitor visitor;
    visitor.data = [&](size_t i, const unsigned char* piece, size_t n, std::string&) {
      const ReadEntry& e = contents.entries[i];
      if (at[i] + n > e.size || memcmp(contents.region.data() + e.dataOffset + at[i], piece, n) != 0) __builtin_trap();
      at[i] += n;
      return true;
    };
    std::string error;
    if (!StreamEntryData(source, opener, streamed, visitor, error)) __builtin_trap();
    for (size_t i = 0; i < at.size(); ++i)
      if (at[i] != contents.entries[i].size) __builtin_trap();
  }

  InstallerContents noVolumes;
  ReadInstaller(file, [](const std::string&, Bytes&) { return false; }, noVolumes, kFuzzMaxUnpacked);

  // Entry walk: first byte = entry count (0..15), then that many u32 sizes,
  // the rest is the region.
  if (size >= 1) {
    size_t count = data[0] & 15;
    size_t at = 1;
    std::vector<uint32_t> sizes;
    for (size_t i = 0; i < count && at + 4 <= size; ++i, at += 4)
      sizes.push_back((uint32_t)data[at] | ((uint32_t)data[at + 1] << 8) | ((uint32_t)data[at + 2] << 16) |
                      ((uint32_t)data[at + 3] << 24));
    const Bytes region(data + at, data + size);
    std::vector<ReadEntry> entries;
    std::string detail;
    WalkEntries(region.data(), region.size(), sizes, entries, detail);
  }
  return 0;
}
