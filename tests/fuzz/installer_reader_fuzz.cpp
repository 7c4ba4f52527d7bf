// Fuzzes the authoring tool's installer reader (what list, verify and extract
// run on installers other tools wrote): the whole read from PE headers to
// entry records, on an exactly sized copy of the input. Volume files are
// served from the input too, so the multi-volume path is explored. A second
// pass walks entry records directly, since reaching them through a whole
// installer needs matching checksums the fuzzer rarely finds.
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
