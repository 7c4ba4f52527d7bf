// Data-region records for the Win32 tests, laid out byte by byte the way a
// packer writes them, so that a test can also write them wrong.
#pragma once
#include <stdint.h>

#include <string>

#include "archive/format.h"
#include "core/checksum.h"

namespace entrytest {

// v as 4 little-endian bytes.
inline std::string Le32(uint32_t v) {
  std::string out;
  for (int i = 0; i < 4; ++i) out.push_back((char)(v >> (8 * i)));
  return out;
}

inline void Put32(std::string& out, uint32_t v) { out += Le32(v); }

inline void PutText(std::string& out, const std::string& s) {
  out += s;
  out.push_back('\0');
}

constexpr ArchiveDateTime kEntryDate = {2099, 2, 3, 4, 5, 6};

// One entry: by default a file of the installation directory, overwritten
// always, with its attributes kept.
struct Entry {
  std::string name;
  std::string data = "data";
  int32_t kind = 0;
  uint32_t flags = 0;
  ArchiveDateTime when = kEntryDate;
  std::string text1, text2, text3, text4, text5;
  uint32_t attributes = kKeepAttributes;
};

// The entry's record: name, kind, flags, attributes, data, the data's
// checksum, the date-time and the texts (text 2 only with a shortcut flag).
inline std::string Record(const Entry& e) {
  std::string r;
  PutText(r, e.name);
  Put32(r, (uint32_t)e.kind);
  Put32(r, e.flags);
  Put32(r, e.attributes);
  r += e.data;
  Put32(r, BlockChecksum(e.data.data(), (int32_t)e.data.size()));
  const int32_t* t = &e.when.year;
  for (int i = 0; i < 6; ++i) Put32(r, (uint32_t)t[i]);
  PutText(r, e.text1);
  if (e.flags & 3) PutText(r, e.text2);
  PutText(r, e.text3);
  PutText(r, e.text4);
  PutText(r, e.text5);
  return r;
}

}  // namespace entrytest
