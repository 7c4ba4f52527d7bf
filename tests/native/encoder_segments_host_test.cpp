// The best level's segmented parse: segments reach back into their history,
// the block does not depend on the thread count, and every block decodes to
// its input exactly.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive/block.h"
#include "tools/truxpack/encoder.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Text-like bytes with repeats near and far, byte runs and noise.
Bytes Mixed(size_t n, uint32_t seed) {
  Bytes b;
  uint32_t x = seed;
  auto next = [&x] { return x = x * 1664525u + 1013904223u; };
  static const char* kWords[] = {"installer ", "archive ", "segment ", "history ", "entry ", "volume ", "\r\n"};
  while (b.size() < n) {
    uint32_t r = next() >> 8;
    switch (r % 5) {
      case 0:
      case 1: {
        const char* w = kWords[(r >> 4) % 7];
        b.insert(b.end(), w, w + strlen(w));
        break;
      }
      case 2: b.insert(b.end(), 1 + (r >> 4) % 300, (unsigned char)(r >> 12)); break;
      case 3:
        for (uint32_t i = 0; i < 1 + (r >> 4) % 64; ++i) b.push_back((unsigned char)(next() >> 24));
        break;
      default:
        if (b.size() > 5000) {
          size_t len = 50 + (r >> 4) % 3000, from = (next() >> 4) % (b.size() - 4000);
          for (size_t i = 0; i < len; ++i) b.push_back(b[from + i]);
        }
    }
  }
  b.resize(n);
  return b;
}

Bytes Pack(const Bytes& in, uint32_t segment, uint32_t history, unsigned threads) {
  Bytes block;
  std::string error;
  EXPECT_TRUE(PackBlockWithSegments(in.data(), in.size(), PackLevel::kBest, segment, history, threads, block, error))
      << error;
  Bytes out(in.size() + 16, 0x5A);
  EXPECT_EQ((int32_t)in.size(), UnpackBlockInto(block.data(), (int32_t)block.size(), out.data(), (int32_t)in.size()));
  EXPECT_TRUE(std::equal(in.begin(), in.end(), out.begin())) << "segment " << segment << " threads " << threads;
  for (size_t i = in.size(); i < out.size(); ++i) EXPECT_EQ(0x5A, out[i]);
  return block;
}

}  // namespace

TEST(EncoderSegmentsTest, SameBlockForEveryThreadCountAndExactRoundTrip) {
  Bytes in = Mixed(700 * 1000, 7);
  // A byte run and a long repeat across the segment boundaries.
  for (size_t i = 65536 - 500; i < 65536 + 500; ++i) in[i] = 'Z';
  for (size_t i = 0; i < 3000; ++i) in[3 * 65536 - 1000 + i] = in[2 * 65536 - 2000 + i];
  Bytes one = Pack(in, 65536, 32768, 1);
  for (unsigned threads : {2u, 3u, 8u}) EXPECT_EQ(one, Pack(in, 65536, 32768, threads)) << threads << " threads";
  // Uneven tails and a segment larger than the input.
  Pack(Bytes(in.begin(), in.begin() + 65536 * 3 + 1), 65536, 32768, 2);
  EXPECT_EQ(Pack(in, 0, 0, 1), Pack(in, 1u << 30, 0, 4));
  std::string error;
  EXPECT_TRUE(PackBlockWithSegments(in.data(), 0, PackLevel::kBest, 65536, 32768, 2, one, error)) << error;
  EXPECT_EQ(0, BlockDecodedSize(one.data(), (int32_t)one.size()));
}

TEST(EncoderSegmentsTest, RepeatsFromFarBackAreFoundInEverySegment) {
  // The second half repeats the first (a file shipped twice): whether the
  // first copy lies in a segment's history or far before it, the second
  // costs next to nothing.
  Bytes half = Mixed(200 * 1000, 11), in = half;
  in.insert(in.end(), half.begin(), half.end());
  size_t alone = Pack(half, 0, 0, 1).size();
  for (uint32_t history : {200u * 1000, 1000u, 0u}) {
    size_t doubled = Pack(in, 50000, history, 2).size();
    EXPECT_LT(doubled, alone + alone / 10) << "history " << history << ": " << doubled << " vs " << alone;
  }
}
