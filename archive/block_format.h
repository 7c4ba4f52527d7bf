// The compressed-block format: the one description shared by the runtime's
// decoder (archive/block.cpp) and the authoring tool's encoder
// (tools/truxpack/encoder.cpp).
//
// Map of a block (multi-byte header fields little-endian):
//
//   offset 0  u32  magic kBlockMagic (bytes A1 2B C7 9E)
//   offset 4  i32  decoded size S; 0 <= S <= kMaxBlockOutput is decodable
//   offset 8  ...  bit stream to the end of the block
//
// Bit stream: stream bit i is bit (i mod 8) of byte 8 + (i div 8); a field of
// n bits is assembled least significant bit first. Bits after the last code
// are padding.
//
// VarNum(base, step): k one-bits, a zero-bit, then a value field of
// min(base + k * step, 32) bits. Further one-bits past the 32-bit width still
// consume input. A larger k than needed is legal, so any value fits the field
// of every k whose width holds it.
//
// Codes (selector bits in reading order):
//   0     literal run    n = VarNum(kLiteralCount) + 1, then n bytes of 8 bits
//   1 0   back-reference L = VarNum(kMatchLength) + 4, D = VarNum(kMatchDistance) + 4;
//                        copies L bytes from D bytes back; valid only when
//                        D <= bytes produced and L <= D (never overlapping)
//   1 1   byte run       B = 8 bits, C = VarNum(kRunCount) + 3; C copies of B
// A block is valid only when its codes produce exactly S bytes.
#pragma once
#include <stdint.h>

constexpr uint32_t kBlockMagic = 0x9EC72BA1u;
constexpr int32_t kBlockHeaderSize = 8;
// The largest decoded size the decoder accepts. A 32-bit process cannot hold
// more in one block, so a larger S is treated as corrupt without trying the
// allocation.
constexpr int32_t kMaxBlockOutput = 0x3FFFFFFF;

struct VarNumCode {
  uint32_t base;
  uint32_t step;
};

constexpr uint32_t kVarNumMaxWidth = 32;
constexpr VarNumCode kLiteralCount{2, 2};    // literal run length n - 1
constexpr VarNumCode kMatchLength{2, 1};     // back-reference length L - 4
constexpr VarNumCode kMatchDistance{12, 2};  // back-reference distance D - 4
constexpr VarNumCode kRunCount{1, 1};        // byte run count C - 3

constexpr uint32_t kMinLiteralRun = 1;
constexpr uint32_t kMinMatchLength = 4;
constexpr uint32_t kMinMatchDistance = 4;
constexpr uint32_t kMinRunCount = 3;

// Selector values as written: the first bit read is bit 0.
constexpr uint32_t kSelectLiteral = 0x0;  // 1 bit: 0
constexpr uint32_t kSelectMatch = 0x1;    // 2 bits: 1, then 0
constexpr uint32_t kSelectRun = 0x3;      // 2 bits: 1, then 1
constexpr uint32_t kLiteralSelectorBits = 1;
constexpr uint32_t kMatchSelectorBits = 2;
constexpr uint32_t kRunSelectorBits = 2;

// Width of the value field after a prefix of k one-bits.
constexpr uint32_t VarNumWidth(VarNumCode code, uint64_t k) {
  return k >= kVarNumMaxWidth ? kVarNumMaxWidth
                              : (code.base + k * code.step > kVarNumMaxWidth
                                     ? kVarNumMaxWidth
                                     : static_cast<uint32_t>(code.base + k * code.step));
}

// The shortest prefix whose field holds value (value < 2^32).
constexpr uint32_t VarNumPrefix(VarNumCode code, uint64_t value) {
  uint32_t k = 0;
  while (VarNumWidth(code, k) < kVarNumMaxWidth && (value >> VarNumWidth(code, k)) != 0) ++k;
  return k;
}

// Bits of the shortest encoding of value: prefix, terminating zero, field.
constexpr uint32_t VarNumBits(VarNumCode code, uint64_t value) {
  uint32_t k = VarNumPrefix(code, value);
  return k + 1 + VarNumWidth(code, k);
}

// The largest value + 1 a VarNum with prefix k holds (fields are <= 32 bits).
constexpr uint64_t VarNumLimit(VarNumCode code, uint32_t k) { return uint64_t{1} << VarNumWidth(code, k); }

// Exact bit costs of the three codes, as the encoder prices them.
constexpr uint32_t LiteralRunBits(uint64_t n) {
  return kLiteralSelectorBits + VarNumBits(kLiteralCount, n - kMinLiteralRun) + 8 * static_cast<uint32_t>(n);
}
constexpr uint32_t MatchBits(uint64_t length, uint64_t distance) {
  return kMatchSelectorBits + VarNumBits(kMatchLength, length - kMinMatchLength) +
         VarNumBits(kMatchDistance, distance - kMinMatchDistance);
}
constexpr uint32_t ByteRunBits(uint64_t count) {
  return kRunSelectorBits + 8 + VarNumBits(kRunCount, count - kMinRunCount);
}

// The largest literal run, back-reference length/distance and byte run count
// one code can express.
constexpr uint64_t kMaxLiteralRun = (uint64_t{1} << 32) + kMinLiteralRun - 1;
constexpr uint64_t kMaxMatchLength = (uint64_t{1} << 32) + kMinMatchLength - 1;
constexpr uint64_t kMaxMatchDistance = (uint64_t{1} << 32) + kMinMatchDistance - 1;
constexpr uint64_t kMaxRunCount = (uint64_t{1} << 32) + kMinRunCount - 1;

static_assert(LiteralRunBits(1) == 1 + 3 + 8, "shortest literal run");
static_assert(LiteralRunBits(5) == 1 + 6 + 40, "literal count needs one prefix bit from 5 bytes on");
static_assert(MatchBits(4, 4) == 18, "shortest back-reference");
static_assert(MatchBits(7, 4099) == 18 && MatchBits(8, 4100) == 2 + 5 + 16, "prefix boundaries");
static_assert(ByteRunBits(3) == 12 && ByteRunBits(4) == 12 && ByteRunBits(5) == 14, "byte run costs");
static_assert(VarNumWidth(kMatchDistance, 20) == 32, "a long prefix caps the field at 32 bits");
