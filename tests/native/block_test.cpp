// Block codec of the runtime: checksum, scrambler and decoder, checked
// against hand-built blocks (a small independent bit writer below) and the
// documented examples byte for byte.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive/block.h"
#include "core/memory.h"
#include "core/string.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Hex(const char* text) {
  Bytes out;
  unsigned value = 0;
  int digits = 0;
  for (const char* p = text; *p; ++p) {
    char c = *p;
    if (c == ' ') continue;
    value = value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    if (++digits == 2) {
      out.push_back(static_cast<unsigned char>(value));
      value = 0;
      digits = 0;
    }
  }
  return out;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Writes codes field by field, least significant bit first, with an
// explicit VarNum prefix length where a test needs a longer one than usual.
class BlockBuilder {
 public:
  BlockBuilder& Bits(uint64_t value, int n) {
    for (int i = 0; i < n; ++i) bits_.push_back(static_cast<unsigned char>((value >> i) & 1));
    return *this;
  }
  BlockBuilder& VarNum(uint32_t base, uint32_t step, uint64_t value, int prefix = -1) {
    int k = 0;
    if (prefix >= 0) {
      k = prefix;
    } else {
      while (Width(base, step, k) < 32 && (value >> Width(base, step, k)) != 0) ++k;
    }
    for (int i = 0; i < k; ++i) Bits(1, 1);
    Bits(0, 1);
    return Bits(value, static_cast<int>(Width(base, step, k)));
  }
  BlockBuilder& Literal(const std::string& s, int prefix = -1) {
    Bits(0, 1).VarNum(2, 2, s.size() - 1, prefix);
    for (unsigned char c : s) Bits(c, 8);
    return *this;
  }
  BlockBuilder& Match(uint64_t length, uint64_t distance, int distancePrefix = -1) {
    return Bits(1, 1).Bits(0, 1).VarNum(2, 1, length - 4).VarNum(12, 2, distance - 4, distancePrefix);
  }
  BlockBuilder& Run(unsigned char value, uint64_t count) { return Bits(1, 1).Bits(1, 1).Bits(value, 8).VarNum(1, 1, count - 3); }
  // The block with decoded size S; the stream is padded with zero bits to a
  // whole byte, then extra padding bytes are appended.
  Bytes Finish(int32_t size, const Bytes& extra = {}) const {
    Bytes out = Hex("A1 2B C7 9E");
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(static_cast<uint32_t>(size) >> (8 * i)));
    for (size_t i = 0; i < bits_.size(); i += 8) {
      unsigned char b = 0;
      for (size_t j = 0; j < 8 && i + j < bits_.size(); ++j) b |= static_cast<unsigned char>(bits_[i + j] << j);
      out.push_back(b);
    }
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
  }

 private:
  static uint32_t Width(uint32_t base, uint32_t step, int k) {
    uint64_t w = base + static_cast<uint64_t>(k) * step;
    return w > 32 ? 32 : static_cast<uint32_t>(w);
  }
  std::vector<unsigned char> bits_;
};

// Decodes through all three entry points and checks they agree; returns
// the decoded bytes, or fails the test.
::testing::AssertionResult DecodesTo(const Bytes& block, const Bytes& expected) {
  const int32_t n = static_cast<int32_t>(expected.size());
  // Caller's buffer sized exactly S, followed by a canary.
  Bytes buffer(expected.size() + 16, 0xA5);
  int32_t got = UnpackBlockInto(block.data(), static_cast<int32_t>(block.size()), buffer.data(), n);
  if (got != n) return ::testing::AssertionFailure() << "UnpackBlockInto returned " << got;
  if (!std::equal(expected.begin(), expected.end(), buffer.begin()))
    return ::testing::AssertionFailure() << "UnpackBlockInto produced other bytes";
  for (size_t i = expected.size(); i < buffer.size(); ++i)
    if (buffer[i] != 0xA5) return ::testing::AssertionFailure() << "canary overwritten at +" << i - expected.size();

  const unsigned char* data = block.data();
  int32_t length = static_cast<int32_t>(block.size());
  if (!UnpackBlock(data, length)) return ::testing::AssertionFailure() << "UnpackBlock failed";
  bool same = length == n && (n == 0 || memcmp(data, expected.data(), expected.size()) == 0);
  bool fresh = data != block.data();
  MemFree(const_cast<unsigned char*>(data));
  if (!same || !fresh) return ::testing::AssertionFailure() << "UnpackBlock produced other bytes";

  String s(reinterpret_cast<const char*>(block.data()), static_cast<int32_t>(block.size()));
  if (!UnpackInPlace(s)) return ::testing::AssertionFailure() << "UnpackInPlace failed";
  if (s.Length() != n || (n > 0 && memcmp(s.Buffer(), expected.data(), expected.size()) != 0))
    return ::testing::AssertionFailure() << "UnpackInPlace produced other bytes";
  return ::testing::AssertionSuccess();
}

// Every entry point rejects the block and leaves its arguments unchanged.
::testing::AssertionResult Rejected(const Bytes& block) {
  Bytes buffer(64, 0xA5);
  int32_t got = UnpackBlockInto(block.data(), static_cast<int32_t>(block.size()), buffer.data(), 48);
  if (got != -1) return ::testing::AssertionFailure() << "UnpackBlockInto returned " << got;
  for (size_t i = 48; i < buffer.size(); ++i)
    if (buffer[i] != 0xA5) return ::testing::AssertionFailure() << "wrote past the capacity";

  const unsigned char* data = block.data();
  int32_t length = static_cast<int32_t>(block.size());
  if (UnpackBlock(data, length)) {
    MemFree(const_cast<unsigned char*>(data));
    return ::testing::AssertionFailure() << "UnpackBlock accepted it";
  }
  if (data != block.data() || length != static_cast<int32_t>(block.size()))
    return ::testing::AssertionFailure() << "UnpackBlock changed its arguments on failure";

  String s(reinterpret_cast<const char*>(block.data()), static_cast<int32_t>(block.size()));
  if (UnpackInPlace(s)) return ::testing::AssertionFailure() << "UnpackInPlace accepted it";
  if (s.Length() != static_cast<int32_t>(block.size()) ||
      (!block.empty() && memcmp(s.Buffer(), block.data(), block.size()) != 0))
    return ::testing::AssertionFailure() << "UnpackInPlace changed the string on failure";
  return ::testing::AssertionSuccess();
}

TEST(BlockChecksum, DocumentedValues) {
  EXPECT_EQ(BlockChecksum("abc", 3), 0x79E2BDC6u);
  EXPECT_EQ(BlockChecksum("abcd", 4), 0xDE461F02u);
  const unsigned char ff = 0xFF;
  EXPECT_EQ(BlockChecksum(&ff, 1), kChecksumSeed);  // -1 + length 1
  EXPECT_EQ(BlockChecksum("", 0), kChecksumSeed);
  EXPECT_EQ(BlockChecksum(nullptr, 5), kChecksumSeed);
  EXPECT_EQ(BlockChecksum("abc", -1), kChecksumSeed);
}

TEST(XorScramble, KeyZeroLeavesBufferUnchanged) {
  Bytes b = Text("settings");
  XorScramble(b.data(), static_cast<int32_t>(b.size()), 0);
  EXPECT_EQ(b, Text("settings"));
}

TEST(XorScramble, FiveBytesUseKeyBytesInOrderAndTwiceRestores) {
  Bytes b = Hex("00 00 00 00 00");
  XorScramble(b.data(), 5, 0x44332211u);
  EXPECT_EQ(b, Hex("11 22 33 44 11"));  // the fifth byte meets the lowest key byte only
  Bytes c = Hex("10 20 30 40 50 60 70");
  XorScramble(c.data(), 7, 0xDEADBEEFu);
  EXPECT_EQ(c, Hex("FF 9E 9D 9E BF DE DD"));
  XorScramble(c.data(), 7, 0xDEADBEEFu);
  EXPECT_EQ(c, Hex("10 20 30 40 50 60 70"));
}

TEST(UnpackBlock, DocumentedExamples) {
  EXPECT_TRUE(DecodesTo(Hex("A1 2B C7 9E 03 00 00 00 07 01"), Text("AAA")));
  EXPECT_TRUE(DecodesTo(Hex("A1 2B C7 9E 08 00 00 00 1C 26 36 46 16 00 00"), Text("abcdabcd")));
  EXPECT_TRUE(DecodesTo(Hex("A1 2B C7 9E 00 00 00 00"), Bytes{}));
}

TEST(UnpackBlock, BuilderReproducesDocumentedExamples) {
  EXPECT_EQ(BlockBuilder().Run('A', 3).Finish(3), Hex("A1 2B C7 9E 03 00 00 00 07 01"));
  EXPECT_EQ(BlockBuilder().Literal("abcd").Match(4, 4).Finish(8),
            Hex("A1 2B C7 9E 08 00 00 00 1C 26 36 46 16 00 00"));
}

struct ValidCase {
  const char* name;
  Bytes block;
  Bytes expected;
};

TEST(UnpackBlock, ValidEdgeCases) {
  const ValidCase cases[] = {
      {"distance equal to the bytes produced copies from the start",
       BlockBuilder().Literal("abcde").Match(4, 5).Finish(9), Text("abcdeabcd")},
      {"padding bits and bytes after the last code are ignored",
       BlockBuilder().Run('A', 3).Finish(3, Hex("FF FF FF")), Text("AAA")},
      {"distance prefix of 20 one-bits still reads a 32-bit field",
       BlockBuilder().Literal("abcd").Match(4, 4, 20).Finish(8), Text("abcdabcd")},
      {"prefix longer than a 64-bit word",
       BlockBuilder().Literal("z", 100).Finish(1), Text("z")},
      {"literal count with a wider prefix than needed", BlockBuilder().Literal("xy", 3).Finish(2), Text("xy")},
      {"long byte run", BlockBuilder().Run(0, 5000).Finish(5000), Bytes(5000, 0)},
      {"long back-reference", BlockBuilder().Literal(std::string(300, 'q')).Match(300, 300).Finish(600),
       Bytes(600, 'q')},
  };
  for (const ValidCase& c : cases) EXPECT_TRUE(DecodesTo(c.block, c.expected)) << c.name;
}

struct InvalidCase {
  const char* name;
  Bytes block;
};

TEST(UnpackBlock, InvalidBlocksAreRejected) {
  const InvalidCase cases[] = {
      {"empty", Bytes{}},
      {"wrong magic", Hex("A2 2B C7 9E 03 00 00 00 07 01")},
      {"shorter than the header", Hex("A1 2B C7 9E 03 00 00")},
      {"truncated stream", Hex("A1 2B C7 9E 08 00 00 00 1C 26 36 46 16")},
      {"stream ends one code early", Hex("A1 2B C7 9E 0B 00 00 00 1C 26 36 46 16 00 00")},
      {"last code goes past S", Hex("A1 2B C7 9E 02 00 00 00 07 01")},
      {"literal run goes past S", BlockBuilder().Literal("abcde").Finish(4)},
      {"distance one past the bytes produced", BlockBuilder().Literal("abcde").Match(4, 6).Finish(9)},
      {"distance before any output", BlockBuilder().Match(4, 4).Finish(4)},
      {"length greater than distance", BlockBuilder().Literal("abcd").Match(5, 4).Finish(9)},
      {"20-bit prefix whose 32-bit field is cut short",
       [] {
         Bytes b = BlockBuilder().Literal("abcd").Match(4, 4, 20).Finish(8);
         b.resize(b.size() - 3);
         return b;
       }()},
      {"20-bit prefix with a distance beyond the output",
       BlockBuilder().Literal("abcd").Match(4, 0x80000004u, 20).Finish(8)},
      {"literal bytes missing at the end", [] {
         Bytes b = BlockBuilder().Literal("abcdefgh").Finish(8);
         b.pop_back();
         return b;
       }()},
      {"prefix of one-bits up to the end", Hex("A1 2B C7 9E 04 00 00 00 FE FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF")},
      {"negative size", Hex("A1 2B C7 9E FF FF FF FF 07 01")},
      {"size above the 32-bit process limit", Hex("A1 2B C7 9E 00 00 00 40 07 01")},
      {"empty stream for a non-empty size", Hex("A1 2B C7 9E 01 00 00 00")},
  };
  for (const InvalidCase& c : cases) EXPECT_TRUE(Rejected(c.block)) << c.name;
}

TEST(UnpackBlock, NullBlockIsRejected) {
  const unsigned char* data = nullptr;
  int32_t length = 10;
  EXPECT_FALSE(UnpackBlock(data, length));
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(length, 10);
  EXPECT_EQ(UnpackBlockInto(nullptr, 10, nullptr, 0), -1);
  String empty;
  EXPECT_FALSE(UnpackInPlace(empty));
  EXPECT_TRUE(empty.IsEmpty());
}

TEST(UnpackBlock, CapacitySmallerThanSizeIsRejectedWithoutWriting) {
  Bytes block = Hex("A1 2B C7 9E 08 00 00 00 1C 26 36 46 16 00 00");
  Bytes buffer(8, 0xA5);
  EXPECT_EQ(UnpackBlockInto(block.data(), static_cast<int32_t>(block.size()), buffer.data(), 7), -1);
  EXPECT_EQ(buffer, Bytes(8, 0xA5));
  EXPECT_EQ(BlockDecodedSize(block.data(), static_cast<int32_t>(block.size())), 8);
}

// Many random codes through the word-at-a-time path: the expected output is
// built alongside the stream by the plain rules.
TEST(UnpackBlock, RandomCodeSequencesMatchTheRules) {
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  for (int round = 0; round < 20; ++round) {
    BlockBuilder builder;
    Bytes expected;
    for (int code = 0; code < 400; ++code) {
      uint32_t kind = next(3);
      if (kind == 0 || expected.size() < 4) {
        std::string s;
        uint32_t n = 1 + (next(4) == 0 ? next(200) : next(6));
        for (uint32_t i = 0; i < n; ++i) s.push_back(static_cast<char>(next(256)));
        builder.Literal(s, next(8) == 0 ? static_cast<int>(3 + next(4)) : -1);
        expected.insert(expected.end(), s.begin(), s.end());
      } else if (kind == 1) {
        uint32_t distance = 4 + next(static_cast<uint32_t>(expected.size()) - 3);
        uint32_t length = 4 + next(std::min<uint32_t>(distance - 3, next(5) == 0 ? 400 : 20));
        builder.Match(length, distance);
        for (uint32_t i = 0; i < length; ++i) expected.push_back(expected[expected.size() - distance]);
      } else {
        unsigned char value = static_cast<unsigned char>(next(256));
        uint32_t count = 3 + (next(4) == 0 ? next(3000) : next(12));
        builder.Run(value, count);
        expected.insert(expected.end(), count, value);
      }
    }
    ASSERT_TRUE(DecodesTo(builder.Finish(static_cast<int32_t>(expected.size())), expected)) << "round " << round;
  }
}

}  // namespace
