// Round trips of both encoder levels through the runtime's decoder, with a
// canary after the decoded bytes.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive/block.h"
#include "tools/truxpack/encoder.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Lcg {
  uint32_t state;
  uint32_t Next(uint32_t n) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % n;
  }
};

Bytes RandomBytes(size_t n, uint32_t seed) {
  Lcg r{seed};
  Bytes b(n);
  for (auto& c : b) c = static_cast<unsigned char>(r.Next(256));
  return b;
}

Bytes Repeat(const std::string& unit, size_t n) {
  Bytes b;
  while (b.size() < n) b.push_back(static_cast<unsigned char>(unit[b.size() % unit.size()]));
  return b;
}

// Resembles what installers ship: text built from a small vocabulary,
// table-like binary records with small integers, zero padding, and a copy of
// an earlier stretch far back (a second copy of a file).
Bytes CorpusLike(size_t n, uint32_t seed) {
  Lcg r{seed};
  static const char* kWords[] = {"install", "the ", "file", "System32", "\r\n", "version ", "Copyright ",
                                 "registry", "(c) ", "DLL", "program", "data", ".", ", ", "0x00401000"};
  Bytes b;
  while (b.size() < n) {
    switch (r.Next(5)) {
      case 0:
        for (int i = 0; i < 40; ++i) {
          const char* w = kWords[r.Next(15)];
          b.insert(b.end(), w, w + strlen(w));
        }
        break;
      case 1:
        for (int i = 0; i < 64; ++i) {
          uint32_t v = r.Next(8) == 0 ? r.Next(1u << 24) : r.Next(300);
          for (int k = 0; k < 4; ++k) b.push_back(static_cast<unsigned char>(v >> (8 * k)));
        }
        break;
      case 2: b.insert(b.end(), 1 + r.Next(700), 0); break;
      case 3: {
        Bytes noise = RandomBytes(1 + r.Next(300), r.Next(1000));
        b.insert(b.end(), noise.begin(), noise.end());
        break;
      }
      default:
        if (b.size() > 1000) {
          size_t len = 100 + r.Next(5000);
          size_t from = r.Next(static_cast<uint32_t>(b.size() - 100));
          for (size_t i = 0; i < len; ++i) b.push_back(b[from + i]);
        }
    }
  }
  b.resize(n);
  return b;
}

// Packs, checks the header, decodes into an exactly sized buffer followed by
// a canary, and returns the packed size.
size_t RoundTrip(const Bytes& input, PackLevel level) {
  Bytes block;
  std::string error;
  EXPECT_TRUE(PackBlock(input.data(), input.size(), level, block, error)) << error;
  EXPECT_EQ(BlockDecodedSize(block.data(), static_cast<int32_t>(block.size())), static_cast<int32_t>(input.size()));
  Bytes out(input.size() + 32, 0x5A);
  int32_t got = UnpackBlockInto(block.data(), static_cast<int32_t>(block.size()), out.data(),
                                static_cast<int32_t>(input.size()));
  EXPECT_EQ(got, static_cast<int32_t>(input.size()));
  EXPECT_TRUE(std::equal(input.begin(), input.end(), out.begin())) << "decoded bytes differ";
  for (size_t i = input.size(); i < out.size(); ++i) EXPECT_EQ(out[i], 0x5A) << "canary at +" << i - input.size();
  return block.size();
}

struct Sample {
  const char* name;
  Bytes data;
  double maxRatio;  // packed size / input size must not exceed this
};

std::vector<Sample> Samples() {
  std::vector<Sample> s;
  s.push_back({"empty", {}, 100.0});
  s.push_back({"one byte", Bytes{0x42}, 100.0});
  s.push_back({"three bytes", Bytes{1, 2, 3}, 100.0});
  s.push_back({"random 200 KB", RandomBytes(200000, 7), 1.01});
  s.push_back({"zeros 1 MB", Bytes(1 << 20, 0), 0.001});
  s.push_back({"period 2", Repeat("ab", 300000), 0.01});
  s.push_back({"period 3", Repeat("xyz", 300000), 0.01});
  s.push_back({"period 7", Repeat("1234567", 300000), 0.01});
  s.push_back({"period 200", Repeat(std::string(reinterpret_cast<const char*>(RandomBytes(200, 3).data()), 200), 300000), 0.01});
  s.push_back({"corpus-like 3 MB", CorpusLike(3 << 20, 99), 0.6});
  return s;
}

TEST(CodecRoundTrip, FastLevel) {
  for (const Sample& s : Samples()) {
    SCOPED_TRACE(s.name);
    size_t packed = RoundTrip(s.data, PackLevel::kFast);
    EXPECT_LE(static_cast<double>(packed), s.maxRatio * static_cast<double>(s.data.size()) + 16);
  }
}

TEST(CodecRoundTrip, BestLevel) {
  for (const Sample& s : Samples()) {
    SCOPED_TRACE(s.name);
    size_t packed = RoundTrip(s.data, PackLevel::kBest);
    EXPECT_LE(static_cast<double>(packed), s.maxRatio * static_cast<double>(s.data.size()) + 16);
  }
}

TEST(CodecRoundTrip, BestIsNoLargerThanFastOnCorpusLikeData) {
  Bytes data = CorpusLike(2 << 20, 5);
  EXPECT_LE(RoundTrip(data, PackLevel::kBest), RoundTrip(data, PackLevel::kFast));
}

TEST(CodecRoundTrip, EveryLengthUpToSixtyFour) {
  // Short inputs cross every boundary between the fast and the checked
  // decoding paths.
  Bytes data = CorpusLike(64, 11);
  for (size_t n = 0; n <= data.size(); ++n) {
    Bytes prefix(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
    RoundTrip(prefix, PackLevel::kFast);
    RoundTrip(prefix, PackLevel::kBest);
  }
}

TEST(CodecRoundTrip, OversizedInputIsRefused) {
  Bytes block;
  std::string error;
  EXPECT_FALSE(PackBlock(nullptr, static_cast<size_t>(kMaxBlockOutput) + 1, PackLevel::kFast, block, error));
  EXPECT_NE(error.find("too large"), std::string::npos);
}

}  // namespace
