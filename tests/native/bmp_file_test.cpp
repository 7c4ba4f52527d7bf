// The .BMP file form of a packed bitmap: where the pixel rows start for each
// header kind and colour table, the file header written in front, and the
// rejection of bytes that are not a packed bitmap.
#include "core/bmp_file.h"

#include <gtest/gtest.h>
#include <stdint.h>

#include <string>

namespace {

void Put16(std::string& s, size_t at, uint32_t v) {
  s[at] = (char)v;
  s[at + 1] = (char)(v >> 8);
}
void Put32(std::string& s, size_t at, uint32_t v) {
  Put16(s, at, v & 0xFFFF);
  Put16(s, at + 2, v >> 16);
}
uint32_t Get32(const char* p) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(p);
  return b[0] | (b[1] << 8) | (b[2] << 16) | ((uint32_t)b[3] << 24);
}

// A 40-byte header followed by size - 40 bytes of table and pixels.
std::string InfoDib(uint32_t bitCount, uint32_t compression, uint32_t colorsUsed, size_t size) {
  std::string s(size, '\x5A');
  Put32(s, 0, 40);
  Put32(s, 4, 2);  // width
  Put32(s, 8, 2);  // height
  Put16(s, 12, 1);
  Put16(s, 14, bitCount);
  Put32(s, 16, compression);
  Put32(s, 32, colorsUsed);
  return s;
}

std::string CoreDib(uint32_t bitCount, size_t size) {
  std::string s(size, '\x33');
  Put32(s, 0, 12);
  Put16(s, 4, 2);
  Put16(s, 6, 2);
  Put16(s, 8, 1);
  Put16(s, 10, bitCount);
  return s;
}

TEST(PackedDibPixelOffset, Table) {
  struct Case {
    const char* what;
    std::string dib;
    int32_t expected;
  } cases[] = {
      {"24 bits, no table", InfoDib(24, 0, 0, 40 + 16), 40},
      {"8 bits, full table", InfoDib(8, 0, 0, 40 + 1024 + 4), 40 + 1024},
      {"8 bits, 16 colours used", InfoDib(8, 0, 16, 40 + 64 + 4), 40 + 64},
      {"1 bit, full table", InfoDib(1, 0, 0, 40 + 8 + 8), 48},
      {"32 bits with colour masks", InfoDib(32, 3, 0, 40 + 12 + 16), 52},
      {"core header, 4 bits", CoreDib(4, 12 + 48 + 4), 12 + 48},
      {"core header, 24 bits", CoreDib(24, 12 + 12), 12},
      {"table reaches past the bytes", InfoDib(8, 0, 0, 40 + 1000), -1},
      {"more than 256 colours at 8 bits", InfoDib(8, 0, 257, 40 + 257 * 4 + 4), -1},
      {"huge colour count", InfoDib(24, 0, 0xFFFFFFFFu, 60), -1},
      {"unknown header size", [] { std::string s = InfoDib(24, 0, 0, 60); Put32(s, 0, 41); return s; }(), -1},
      {"only 12 bytes", CoreDib(24, 12), -1},
      {"40-byte header cut short", InfoDib(24, 0, 0, 40).substr(0, 30), -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(PackedDibPixelOffset(c.dib.data(), (int32_t)c.dib.size()), c.expected) << c.what;
  EXPECT_EQ(PackedDibPixelOffset(nullptr, 100), -1);
}

TEST(BmpFileFromPackedDib, FileHeaderThenTheBytesUnchanged) {
  std::string dib = InfoDib(8, 0, 2, 40 + 8 + 8);
  String file;
  ASSERT_TRUE(BmpFileFromPackedDib(dib.data(), (int32_t)dib.size(), file));
  ASSERT_EQ(file.Length(), (int32_t)(14 + dib.size()));
  const char* p = file.CStr();
  EXPECT_EQ(std::string(p, 2), "BM");
  EXPECT_EQ(Get32(p + 2), 14 + dib.size());
  EXPECT_EQ(Get32(p + 6), 0u);
  EXPECT_EQ(Get32(p + 10), 14u + 40 + 8);
  EXPECT_EQ(std::string(p + 14, dib.size()), dib);
}

TEST(BmpFileFromPackedDib, RejectsWhatIsNoBitmapAndLeavesOutEmpty) {
  std::string bad = CoreDib(24, 12);
  String file = "previous";
  EXPECT_FALSE(BmpFileFromPackedDib(bad.data(), (int32_t)bad.size(), file));
  EXPECT_TRUE(file.IsEmpty());
}

}  // namespace
