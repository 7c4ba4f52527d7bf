// Test helpers shared by the authoring tool's host tests: a synthetic stub
// shaped like the runtime's, and a scratch directory removed afterwards.
#pragma once
#include <stdint.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace trux_test {

using Bytes = std::vector<unsigned char>;
namespace fs = std::filesystem;

inline void Put16(Bytes& d, size_t at, uint32_t v) {
  d[at] = (unsigned char)v;
  d[at + 1] = (unsigned char)(v >> 8);
}
inline void Put32(Bytes& d, size_t at, uint32_t v) {
  Put16(d, at, v & 0xFFFF);
  Put16(d, at + 2, v >> 16);
}
inline uint32_t Get32(const Bytes& d, size_t at) {
  return (uint32_t)d[at] | ((uint32_t)d[at + 1] << 8) | ((uint32_t)d[at + 2] << 16) | ((uint32_t)d[at + 3] << 24);
}

inline constexpr uint32_t kPe = 0x80;
inline constexpr uint32_t kOptionalSize = 224;
inline constexpr uint32_t kTable = kPe + 24 + kOptionalSize;

// A minimal PE32 image shaped like the runtime stub: 0x400 bytes of headers,
// sections of 0x200 file bytes each with distinct contents.
inline Bytes MakeStub(uint32_t sections = 4) {
  Bytes f(0x400 + sections * 0x200, 0);
  f[0] = 'M';
  f[1] = 'Z';
  Put32(f, 0x3C, kPe);
  memcpy(&f[kPe], "PE\0\0", 4);
  Put16(f, kPe + 4, 0x14C);
  Put16(f, kPe + 6, sections);
  Put16(f, kPe + 20, kOptionalSize);
  const size_t opt = kPe + 24;
  Put16(f, opt, 0x10B);
  Put32(f, opt + 8, sections * 0x200);            // SizeOfInitializedData
  Put32(f, opt + 32, 0x1000);                     // SectionAlignment
  Put32(f, opt + 36, 0x200);                      // FileAlignment
  Put32(f, opt + 56, 0x1000 * (sections + 1));    // SizeOfImage
  Put32(f, opt + 60, 0x400);                      // SizeOfHeaders
  Put32(f, opt + 64, 0x1234);                     // CheckSum: must stay as it is
  for (uint32_t i = 0; i < sections; ++i) {
    size_t h = kTable + i * 40;
    f[h] = '.';
    f[h + 1] = (char)('a' + i);
    Put32(f, h + 8, 0x100);
    Put32(f, h + 12, 0x1000 * (i + 1));
    Put32(f, h + 16, 0x200);
    Put32(f, h + 20, 0x400 + i * 0x200);
    for (size_t k = 0; k < 0x200; ++k) f[0x400 + i * 0x200 + k] = (unsigned char)(i * 31 + k);
  }
  return f;
}

struct TempDir {
  fs::path path;
  TempDir() {
    path = fs::temp_directory_path() / ("truxpack_test_" + std::to_string(getpid()) + "_" + std::to_string(++counter));
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempDir() { fs::remove_all(path); }
  void Write(const std::string& name, const std::string& content) const {
    fs::create_directories((path / name).parent_path());
    std::ofstream(path / name, std::ios::binary) << content;
  }
  static inline int counter = 0;
};

}  // namespace trux_test
