#include "archive/block.h"

#include <string.h>

#include "core/byte_order.h"
#include "core/memory.h"
#include "core/string.h"

namespace {

inline uint64_t Load64(const unsigned char* p) {
  uint64_t v;
  memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

inline void Store64(unsigned char* p, uint64_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  memcpy(p, &v, 8);
}

inline uint64_t Mask(uint32_t width) { return (uint64_t{1} << width) - 1; }

// Number of one-bits at the bottom of w; w must have a zero bit somewhere.
inline uint32_t LowOnes(uint64_t w) { return static_cast<uint32_t>(__builtin_ctzll(~w)); }

struct BitSource {
  const unsigned char* in;
  size_t length;  // bytes
  uint64_t end;   // bits
};

// The 64 bits from bit pos on. Bits at or past the end of the block read as
// 0, and so do the top (pos & 7) bits, so at least 57 bits are meaningful.
inline uint64_t PeekBits(const BitSource& s, uint64_t pos) {
  size_t byte = static_cast<size_t>(pos >> 3);
  uint64_t v = 0;
  if (byte < s.length) {
    if (s.length - byte >= 8) {
      v = Load64(s.in + byte);
    } else {
      unsigned char tail[8] = {0, 0, 0, 0, 0, 0, 0, 0};
      memcpy(tail, s.in + byte, s.length - byte);
      v = Load64(tail);
    }
  }
  return v >> (pos & 7);
}

// Reads a field of n <= 32 bits; fails without advancing when fewer remain.
// Invariant of every reader: pos <= s.end before and after.
inline bool ReadBits(const BitSource& s, uint64_t& pos, uint32_t n, uint64_t& value) {
  if (s.end - pos < n) return false;
  value = PeekBits(s, pos) & Mask(n);
  pos += n;
  return true;
}

// Reads VarNum(code) with any prefix length: the prefix is counted a word at
// a time, so a long run of one-bits costs one step per 57 bits and can never
// pass the end of the block (bits past the end read as zero, and a prefix
// ended by such a zero fails).
bool ReadVarNum(const BitSource& s, uint64_t& pos, VarNumCode code, uint64_t& value) {
  uint64_t k = 0;
  for (;;) {
    uint64_t w = PeekBits(s, pos);
    uint32_t meaningful = 64 - static_cast<uint32_t>(pos & 7);
    uint32_t ones = ~w == 0 ? 64 : LowOnes(w);
    if (ones >= meaningful) {  // every bit of this word is a prefix bit
      pos += meaningful;
      k += meaningful;
      if (pos >= s.end) return false;
      continue;
    }
    if (s.end - pos <= ones) return false;  // the terminating zero lies past the end
    pos += ones + 1;
    k += ones;
    break;
  }
  return ReadBits(s, pos, VarNumWidth(code, k), value);
}

// Copies n literal bytes starting at bit pos. The caller has checked that the
// n * 8 bits lie inside the block and that n <= room (output bytes left).
inline void CopyLiterals(const BitSource& s, uint64_t pos, unsigned char* dst, uint64_t n, uint64_t room) {
  size_t b = static_cast<size_t>(pos >> 3);
  uint32_t shift = static_cast<uint32_t>(pos & 7);
  const unsigned char* src = s.in + b;
  if (shift == 0) {
    memcpy(dst, src, static_cast<size_t>(n));
    return;
  }
  // Eight bytes per step while both the whole last step (reads up to
  // src[n + 7], writes up to dst[n + 6]) stay inside block and output.
  if (n + 8 <= room && s.length - b >= n + 8) {
    for (uint64_t i = 0; i < n; i += 8) {
      uint64_t v = (Load64(src + i) >> shift) | (static_cast<uint64_t>(src[i + 8]) << (64 - shift));
      Store64(dst + i, v);
    }
    return;
  }
  // Byte by byte: the last byte's high bits come from src[n], which exists
  // because the n * 8 bits from pos end inside the block and shift > 0.
  for (uint64_t i = 0; i < n; ++i)
    dst[i] = static_cast<unsigned char>((src[i] >> shift) | (src[i + 1] << (8 - shift)));
}

// Copies L bytes from D bytes back; the caller has checked L <= D <= produced
// and L <= room, so source and destination never overlap.
inline void CopyMatch(unsigned char* dst, uint64_t distance, uint64_t length, uint64_t room) {
  const unsigned char* src = dst - distance;
  if (length <= 32 && room >= length + 8) {
    // Eight bytes per step, each load after the previous store: a step may
    // read bytes the earlier steps wrote (when D < L + 8), but those lie past
    // the L source bytes, which all precede dst. Matching 8-byte loads and
    // stores also keep store-to-load forwarding cheap for short distances.
    unsigned char* stop = dst + length;
    do {
      uint64_t v;
      memcpy(&v, src, 8);
      memcpy(dst, &v, 8);
      src += 8;
      dst += 8;
    } while (dst < stop);
    return;
  }
  memcpy(dst, src, static_cast<size_t>(length));
}

// Writes C copies of value; C <= room.
inline void FillRun(unsigned char* dst, int value, uint64_t count, uint64_t room) {
  if (count <= 8 && room >= 8) {
    uint64_t v = 0x0101010101010101ull * static_cast<unsigned char>(value);
    memcpy(dst, &v, 8);
    return;
  }
  memset(dst, value, static_cast<size_t>(count));
}

// Decodes one code with every read checked; used wherever the fast path of
// DecodeStream does not apply (near the end of the block, long prefixes).
__attribute__((noinline)) bool DecodeCodeChecked(const BitSource& s, uint64_t& pos, unsigned char* out, uint64_t& p, uint64_t size) {
  uint64_t selector;
  if (!ReadBits(s, pos, 1, selector)) return false;
  uint64_t room = size - p;
  if (selector == 0) {
    uint64_t n;
    if (!ReadVarNum(s, pos, kLiteralCount, n)) return false;
    n += kMinLiteralRun;
    if (n > room || (s.end - pos) / 8 < n) return false;
    CopyLiterals(s, pos, out + p, n, room);
    pos += 8 * n;
    p += n;
    return true;
  }
  if (!ReadBits(s, pos, 1, selector)) return false;
  if (selector == 0) {
    uint64_t length, distance;
    if (!ReadVarNum(s, pos, kMatchLength, length) || !ReadVarNum(s, pos, kMatchDistance, distance)) return false;
    length += kMinMatchLength;
    distance += kMinMatchDistance;
    if (distance > p || length > distance || length > room) return false;
    CopyMatch(out + p, distance, length, room);
    p += length;
    return true;
  }
  uint64_t value, count;
  if (!ReadBits(s, pos, 8, value) || !ReadVarNum(s, pos, kRunCount, count)) return false;
  count += kMinRunCount;
  if (count > room) return false;
  FillRun(out + p, static_cast<int>(value), count, room);
  p += count;
  return true;
}

// Sixteen bytes from src to dst through a temporary, so the copy is correct
// even when the two ranges overlap (the compiler turns it into one load and
// one store, or two of each).
inline void Copy16(unsigned char* dst, const unsigned char* src) {
  unsigned char t[16];
  memcpy(t, src, 16);
  memcpy(dst, t, 16);
}

// Eight literal bytes from the stream: the 64 bits from bit `shift` (0-7) of
// src[0] on. Reads src[0, 9). The second load supplies the top `shift` bits;
// its other bits land where the first load put the same bits.
inline uint64_t LiteralBits(const unsigned char* src, uint32_t shift) {
  return (Load64(src) >> shift) | (Load64(src + 1) << (8 - shift));
}

// Bytes of block and output the fast path may touch beyond what a code
// needs: it reads up to 32 bytes past the current byte of the stream, and it
// copies in 16-byte steps (at least two for a back-reference), so it writes
// up to 28 bytes past a code's output and reads as far past its source.
constexpr size_t kInputSlack = 32;
constexpr uint64_t kOutputSlack = 32;

// Decodes the bit stream of a block into out[0, size).
//
// The fast path decodes one code from one 64-bit load (at least 57
// meaningful bits) when its prefixes are short, and copies in 16-byte steps,
// rounding each copy up. It runs only while at least kInputSlack bytes of
// the block follow the current byte and only for a code whose output ends at
// least kOutputSlack bytes before S, so its overreads stay inside the block
// and its overwrites inside the output (later codes overwrite them). Any code
// it does not take, including every invalid one, is decoded again from its
// first bit by DecodeCodeChecked, which applies every rule of the format; so
// the fast path never decides that a block is invalid.
bool DecodeStream(const unsigned char* in, size_t length, unsigned char* out, uint64_t size) {
  const BitSource s{in, length, static_cast<uint64_t>(length) * 8};
  const uint64_t fastEnd = length > kInputSlack ? static_cast<uint64_t>(length - kInputSlack) * 8 : 0;
  // p + n <= limit: a copy of n bytes rounded up to 16 (at least 32) stays
  // inside the output.
  const uint64_t limit = size > kOutputSlack ? size - kOutputSlack : 0;
  uint64_t pos = 8 * static_cast<uint64_t>(kBlockHeaderSize);
  uint64_t p = 0;
  while (p < size) {
    if (pos < fastEnd) {
      uint64_t w = Load64(in + (pos >> 3)) >> (pos & 7);
      unsigned char* dst = out + p;
      if ((w & 1) == 0) {
        // Literal run: selector at bit 0, count prefix from bit 1.
        uint32_t k = LowOnes(w >> 1);
        if (k <= 3) {
          uint32_t width = VarNumWidth(kLiteralCount, k);
          uint64_t q = pos + 2 + k + width;  // first literal bit; at most 13 bits on
          uint64_t n = ((w >> (k + 2)) & Mask(width)) + kMinLiteralRun;
          const unsigned char* src = in + (q >> 3);
          uint32_t shift = static_cast<uint32_t>(q & 7);
          if (n <= 16 && p + 16 <= limit) {
            // Reads src[0, 17): inside the block, src is at most 2 bytes on.
            Store64(dst, LiteralBits(src, shift));
            Store64(dst + 8, LiteralBits(src + 8, shift));
            pos = q + 8 * n;
            p += n;
            continue;
          }
          // Longer runs: the last 16-byte step reads up to src[n + 16].
          if (p + n <= limit && static_cast<size_t>(src - in) + n + 17 <= length) {
            for (uint64_t i = 0; i < n; i += 16) {
              Store64(dst + i, LiteralBits(src + i, shift));
              Store64(dst + i + 8, LiteralBits(src + i + 8, shift));
            }
            pos = q + 8 * n;
            p += n;
            continue;
          }
        }
      } else if ((w & 2) == 0) {
        // Back-reference: length prefix from bit 2, distance right after.
        uint32_t k = LowOnes(w >> 2);
        if (k <= 12) {
          // Fields of at most 14 and 32 bits: no capping needed.
          uint32_t at = 5 + 2 * k;  // distance prefix
          uint64_t len = ((w >> (k + 3)) & Mask(2 + k)) + kMinMatchLength;
          uint64_t w2 = w >> at;
          uint32_t k2 = LowOnes(w2);
          uint32_t bits = at + 3 * k2 + 13;
          // The whole code lies within the 57 meaningful bits of w, the
          // copy is valid, and its rounded-up writes stay inside the output.
          if (k2 <= 10 && bits <= 57) {
            uint64_t distance = ((w2 >> (k2 + 1)) & Mask(12 + 2 * k2)) + kMinMatchDistance;
            if (distance <= p && len <= distance && p + len <= limit) {
              const unsigned char* from = dst - distance;
              // Each step loads before it stores; every byte of the L source
              // bytes precedes dst (L <= D), so no step reads a byte that
              // this copy has already written and still needs. Two steps
              // cover most back-references without a loop test.
              Copy16(dst, from);
              Copy16(dst + 16, from + 16);
              for (uint64_t i = 32; i < len; i += 16) Copy16(dst + i, from + i);
              pos += bits;
              p += len;
              continue;
            }
          }
        }
      } else {
        // Byte run: value in bits 2-9, count prefix from bit 10.
        uint32_t k = LowOnes(w >> 10);
        if (k <= 22) {
          uint32_t width = VarNumWidth(kRunCount, k);
          uint64_t count = ((w >> (11 + k)) & Mask(width)) + kMinRunCount;
          if (p + count <= limit) {
            uint64_t v = 0x0101010101010101ull * ((w >> 2) & 0xFF);
            for (uint64_t i = 0; i < count; i += 16) {
              Store64(dst + i, v);
              Store64(dst + i + 8, v);
            }
            pos += 11 + k + width;
            p += count;
            continue;
          }
        }
      }
    }
    if (!DecodeCodeChecked(s, pos, out, p, size)) return false;
  }
  return true;
}

}  // namespace

void XorScramble(void* buffer, int32_t length, uint32_t key) {
  if (!buffer || length <= 0) return;
  unsigned char* p = static_cast<unsigned char*>(buffer);
  const unsigned char k[4] = {static_cast<unsigned char>(key), static_cast<unsigned char>(key >> 8),
                              static_cast<unsigned char>(key >> 16), static_cast<unsigned char>(key >> 24)};
  for (int32_t i = 0; i < length; ++i) p[i] ^= k[i & 3];
}

int32_t BlockDecodedSize(const void* block, int32_t length) {
  if (!block || length < kBlockHeaderSize) return -1;
  const unsigned char* b = static_cast<const unsigned char*>(block);
  uint32_t magic = LoadLe32(b);
  uint32_t size = LoadLe32(b + 4);
  if (magic != kBlockMagic) return -1;
  // The size field is signed: 0x80000000 and up are negative sizes.
  if (size > static_cast<uint32_t>(kMaxBlockOutput)) return -1;
  return static_cast<int32_t>(size);
}

int32_t UnpackBlockInto(const void* block, int32_t length, void* output, int32_t capacity) {
  int32_t size = BlockDecodedSize(block, length);
  if (size < 0 || size > capacity || (size > 0 && !output)) return -1;
  bool ok = DecodeStream(static_cast<const unsigned char*>(block), static_cast<size_t>(length),
                         static_cast<unsigned char*>(output), static_cast<uint64_t>(size));
  return ok ? size : -1;
}

bool UnpackBlock(const unsigned char*& data, int32_t& length) {
  int32_t size = BlockDecodedSize(data, length);
  if (size < 0) return false;
  // S comes from the block: a corrupt size must fail, not end the process.
  unsigned char* out = static_cast<unsigned char*>(MemTryRealloc(nullptr, static_cast<size_t>(size) + 1));
  if (!out) return false;
  if (!DecodeStream(data, static_cast<size_t>(length), out, static_cast<uint64_t>(size))) {
    MemFree(out);
    return false;
  }
  data = out;
  length = size;
  return true;
}

bool UnpackInPlace(String& block) {
  const unsigned char* data = reinterpret_cast<const unsigned char*>(block.Buffer());
  int32_t length = block.Length();
  // A String block holds at most kMaxStringBlock bytes including its NUL.
  if (BlockDecodedSize(data, length) >= kMaxStringBlock) return false;
  if (!UnpackBlock(data, length)) return false;
  unsigned char* decoded = const_cast<unsigned char*>(data);
  if (length == 0) {
    MemFree(decoded);
    block.Clear();
    return true;
  }
  block.AdoptBuffer(reinterpret_cast<char*>(decoded), length);
  return true;
}
