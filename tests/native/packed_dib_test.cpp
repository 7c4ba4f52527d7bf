// The background picture's header check: a picture is accepted only when
// every byte its header promises is present, and nothing outside the given
// bytes is read (run under the sanitizers, each case in a block of exactly
// its own size).
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <vector>

#include "archive/packed_dib.h"

namespace {

void Put16(std::vector<unsigned char>& b, size_t at, uint32_t v) {
  b[at] = (unsigned char)v;
  b[at + 1] = (unsigned char)(v >> 8);
}
void Put32(std::vector<unsigned char>& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

struct Info {
  int32_t width = 2, height = 2;
  uint32_t planes = 1, bits = 24, compression = 0, sizeImage = 0, colorsUsed = 0;
};

// A 40-byte header followed by `extra` zero bytes.
std::vector<unsigned char> InfoDib(const Info& i, size_t extra) {
  std::vector<unsigned char> b(40 + extra, 0);
  Put32(b, 0, 40);
  Put32(b, 4, (uint32_t)i.width);
  Put32(b, 8, (uint32_t)i.height);
  Put16(b, 12, i.planes);
  Put16(b, 14, i.bits);
  Put32(b, 16, i.compression);
  Put32(b, 20, i.sizeImage);
  Put32(b, 32, i.colorsUsed);
  return b;
}

std::vector<unsigned char> CoreDib(uint32_t width, uint32_t height, uint32_t bits, size_t extra) {
  std::vector<unsigned char> b(12 + extra, 0);
  Put32(b, 0, 12);
  Put16(b, 4, width);
  Put16(b, 6, height);
  Put16(b, 8, 1);
  Put16(b, 10, bits);
  return b;
}

bool Read(const std::vector<unsigned char>& bytes, PackedDib& out) {
  // A block of exactly the bytes' size: a read past them is a heap overflow.
  std::vector<unsigned char> exact(bytes);
  return ReadPackedDib(exact.data(), (int32_t)exact.size(), out);
}

Info With(void (*change)(Info&)) {
  Info i;
  change(i);
  return i;
}

TEST(PackedDib, AcceptedPicturesAndWhereTheirRowsStart) {
  const struct {
    const char* what;
    std::vector<unsigned char> bytes;
    int32_t width, height, bitsOffset, bitsSize;
    bool topDown;
  } cases[] = {
      {"24-bit 2x2: rows of 8 bytes", InfoDib(Info(), 16), 2, 2, 40, 16, false},
      {"24-bit top-down", InfoDib(With([](Info& i) { i.height = -2; }), 16), 2, 2, 40, 16, true},
      {"8-bit: the full 256-entry table", InfoDib(With([](Info& i) { i.bits = 8; }), 1024 + 8), 2, 2, 1064, 8, false},
      {"8-bit with 4 colours used", InfoDib(With([](Info& i) { i.bits = 8, i.colorsUsed = 4; }), 16 + 8), 2, 2, 56, 8,
       false},
      {"1-bit 33 wide: rows of 8 bytes", InfoDib(With([](Info& i) { i.bits = 1, i.width = 33, i.height = 3; }), 8 + 24),
       33, 3, 48, 24, false},
      {"16-bit bit fields: three masks", InfoDib(With([](Info& i) { i.bits = 16, i.compression = 3; }), 12 + 8), 2, 2,
       52, 8, false},
      {"32-bit with a 2-entry table", InfoDib(With([](Info& i) { i.bits = 32, i.colorsUsed = 2; }), 8 + 16), 2, 2, 48,
       16, false},
      {"RLE8: the header's image size", InfoDib(With([](Info& i) { i.bits = 8, i.compression = 1, i.sizeImage = 6; }),
                                               1024 + 6),
       2, 2, 1064, 6, false},
      {"core 24-bit", CoreDib(2, 2, 24, 16), 2, 2, 12, 16, false},
      {"core 8-bit: 3-byte table entries", CoreDib(2, 2, 8, 768 + 8), 2, 2, 780, 8, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PackedDib dib;
    ASSERT_TRUE(Read(c.bytes, dib));
    EXPECT_EQ(dib.width, c.width);
    EXPECT_EQ(dib.height, c.height);
    EXPECT_EQ(dib.bitsOffset, c.bitsOffset);
    EXPECT_EQ(dib.bitsSize, c.bitsSize);
    EXPECT_EQ(dib.topDown, c.topDown);
  }
}

TEST(PackedDib, RefusedPictures) {
  const struct {
    const char* what;
    std::vector<unsigned char> bytes;
  } cases[] = {
      {"12 bytes or fewer", std::vector<unsigned char>{12, 0, 0, 0, 2, 0, 2, 0, 1, 0, 24, 0}},
      {"unknown header size", [] {
         auto b = InfoDib(Info(), 16);
         b[0] = 41;
         return b;
       }()},
      {"a 40-byte header cut short", [] {
         auto b = InfoDib(Info(), 0);
         b.resize(20);
         return b;
       }()},
      {"width 0", InfoDib(With([](Info& i) { i.width = 0; }), 16)},
      {"negative width", InfoDib(With([](Info& i) { i.width = -2; }), 16)},
      {"height 0", InfoDib(With([](Info& i) { i.height = 0; }), 16)},
      {"lowest height", InfoDib(With([](Info& i) { i.height = INT32_MIN; }), 16)},
      {"side above 32767", InfoDib(With([](Info& i) { i.width = 32768, i.height = 1, i.bits = 1; }), 4096)},
      {"more than 2^25 pixels", InfoDib(With([](Info& i) { i.width = 8192, i.height = 8192, i.bits = 1; }), 16)},
      {"two planes", InfoDib(With([](Info& i) { i.planes = 2; }), 16)},
      {"bit count 0 (embedded JPEG or PNG)", InfoDib(With([](Info& i) { i.bits = 0, i.compression = 4; }), 16)},
      {"bit count 7", InfoDib(With([](Info& i) { i.bits = 7; }), 16)},
      {"unknown compression", InfoDib(With([](Info& i) { i.compression = 9; }), 16)},
      {"RLE8 with a 24-bit count", InfoDib(With([](Info& i) { i.compression = 1, i.sizeImage = 4; }), 16)},
      {"RLE without an image size", InfoDib(With([](Info& i) { i.bits = 8, i.compression = 1; }), 1024 + 16)},
      {"RLE image size past the end",
       InfoDib(With([](Info& i) { i.bits = 8, i.compression = 1, i.sizeImage = 17; }), 1024 + 16)},
      {"top-down RLE", InfoDib(With([](Info& i) { i.bits = 8, i.compression = 1, i.sizeImage = 4, i.height = -2; }),
                               1024 + 16)},
      {"colours used beyond the depth", InfoDib(With([](Info& i) { i.bits = 4, i.colorsUsed = 17; }), 68 + 8)},
      {"colour table past the end", InfoDib(With([](Info& i) { i.bits = 8; }), 1000)},
      {"huge colours used at 24 bits", InfoDib(With([](Info& i) { i.colorsUsed = 0xFFFFFFFFu; }), 16)},
      {"rows past the end", InfoDib(With([](Info& i) { i.height = 1000; }), 16)},
      {"top-down rows past the end", InfoDib(With([](Info& i) { i.height = -1000; }), 16)},
      {"core 16-bit", CoreDib(2, 2, 16, 8)},
      {"core width 0", CoreDib(0, 2, 24, 16)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    PackedDib dib;
    dib.width = 99;
    EXPECT_FALSE(Read(c.bytes, dib));
    EXPECT_EQ(dib.width, 0);
  }
  PackedDib dib;
  EXPECT_FALSE(ReadPackedDib(nullptr, 100, dib));
  EXPECT_FALSE(ReadPackedDib("x", -1, dib));
}

TEST(PackedDib, EveryShorterCopyOfAValidPictureIsRefused) {
  const std::vector<unsigned char> pictures[] = {
      InfoDib(With([](Info& i) { i.bits = 8, i.colorsUsed = 4, i.width = 5, i.height = 3; }), 16 + 24),
      InfoDib(With([](Info& i) { i.bits = 16, i.compression = 3; }), 12 + 8),
      CoreDib(3, 2, 4, 48 + 8),
  };
  for (const auto& full : pictures) {
    PackedDib dib;
    ASSERT_TRUE(Read(full, dib));
    for (size_t n = 0; n < full.size(); ++n) {
      std::vector<unsigned char> cut(full.begin(), full.begin() + (long)n);
      EXPECT_FALSE(Read(cut, dib)) << n << " of " << full.size() << " bytes";
    }
  }
}

}  // namespace
