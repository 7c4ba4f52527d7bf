// The segmented parse of both levels: segments reach back into their
// history and, through the long-range table, anywhere before; the block does
// not depend on the thread count; every block decodes to its input exactly.
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

Bytes Pack(const Bytes& in, uint32_t segment, uint32_t history, unsigned threads,
           PackLevel level = PackLevel::kBest) {
  Bytes block;
  std::string error;
  EXPECT_TRUE(PackBlockWithSegments(in.data(), in.size(), level, segment, history, threads, block, error)) << error;
  Bytes out(in.size() + 16, 0x5A);
  EXPECT_EQ((int32_t)in.size(), UnpackBlockInto(block.data(), (int32_t)block.size(), out.data(), (int32_t)in.size()));
  EXPECT_TRUE(std::equal(in.begin(), in.end(), out.begin()))
      << "segment " << segment << " threads " << threads << " level " << (int)level;
  for (size_t i = in.size(); i < out.size(); ++i) EXPECT_EQ(0x5A, out[i]);
  return block;
}

}  // namespace

TEST(EncoderSegmentsTest, SameBlockForEveryThreadCountAndExactRoundTrip) {
  Bytes in = Mixed(700 * 1000, 7);
  // A byte run and a long repeat across the segment boundaries.
  for (size_t i = 65536 - 500; i < 65536 + 500; ++i) in[i] = 'Z';
  for (size_t i = 0; i < 3000; ++i) in[3 * 65536 - 1000 + i] = in[2 * 65536 - 2000 + i];
  // Segments that end and start with literals: each segment's bits end
  // with its own literals whatever thread wrote them.
  for (size_t i = 4 * 65536 - 300; i < 4 * 65536 + 300; ++i) in[i] = (unsigned char)(i * 2654435761u >> 24);
  for (PackLevel level : {PackLevel::kFast, PackLevel::kBest}) {
    Bytes first = Pack(in, 65536, 32768, 1, level);
    for (unsigned threads : {2u, 3u, 8u})
      EXPECT_EQ(first, Pack(in, 65536, 32768, threads, level)) << threads << " threads, level " << (int)level;
  }
  Bytes one = Pack(in, 65536, 32768, 1);
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

// Already compressed data: searched sparsely, so its bytes go out as
// literals at about their own size, yet a second copy of it far beyond
// every finder's reach is still found; and the compressible data after it
// is matched again at once.
TEST(EncoderSegmentsTest, IncompressibleStretchesAndTheirRepeats) {
  Bytes noise(400 * 1000);
  uint32_t x = 99;
  for (auto& c : noise) c = (unsigned char)((x = x * 1664525u + 1013904223u) >> 24);
  Bytes text = Mixed(100 * 1000, 5);
  Bytes in = noise;
  in.insert(in.end(), text.begin(), text.end());
  in.insert(in.end(), noise.begin(), noise.end());
  in.insert(in.end(), text.begin(), text.end());
  for (PackLevel level : {PackLevel::kFast, PackLevel::kBest}) {
    size_t alone = Pack(text, 0, 0, 1, level).size();
    size_t whole = Pack(in, 65536, 4096, 2, level).size();
    // One copy of the noise (at most a few bytes in a thousand over its
    // size), one of the text, and little for the repeats.
    EXPECT_LT(whole, noise.size() + noise.size() / 200 + alone + alone / 10) << "level " << (int)level;
    EXPECT_GT(whole, noise.size()) << "level " << (int)level;
  }
}

// Long byte runs, short periods and a long copy inside one segment take one
// code each and decode exactly; the positions they cover are not all
// entered into the finders, which must not lose the matches after them.
TEST(EncoderSegmentsTest, LongRunsPeriodsAndCopies) {
  Bytes text = Mixed(30 * 1000, 3);
  struct Case {
    const char* name;
    Bytes middle;
  };
  Bytes periodic;
  for (size_t i = 0; i < 500 * 1000; ++i) periodic.push_back("abc"[i % 3]);
  Bytes copy = text;
  std::vector<Case> cases = {
      {"zero run", Bytes(700 * 1000, 0)},
      {"period of three", periodic},
      {"copy of the text", copy},
  };
  for (const Case& c : cases) {
    Bytes in = text;
    in.insert(in.end(), c.middle.begin(), c.middle.end());
    in.insert(in.end(), text.begin(), text.begin() + 10000);  // found again after the long code
    for (PackLevel level : {PackLevel::kFast, PackLevel::kBest}) {
      size_t alone = Pack(text, 0, 0, 1, level).size();
      size_t whole = Pack(in, 0, 0, 1, level).size();
      EXPECT_LT(whole, alone + 400) << c.name << ", level " << (int)level;
    }
  }
}
