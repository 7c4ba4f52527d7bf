// The block checksum: a 32-bit additive sum seeded with 0x79E2BC9D.
//
// It guards the settings block, the stub image, the data region and every
// archive entry, and it is also the hash of String. It lives in the core
// library because String (the lowest layer) needs it; archive/ builds on it.
#pragma once
#include <stdint.h>

constexpr uint32_t kChecksumSeed = 0x79E2BC9Du;

// Adds every complete 32-bit little-endian word, then the 0-3 tail bytes as
// signed 8-bit values, then the length; all modulo 2^32. An absent block or a
// length <= 0 gives the seed. Never fails; reads exactly `length` bytes.
uint32_t BlockChecksum(const void* data, int32_t length);

// BlockChecksum of bytes that arrive in pieces of any size: after Add has
// seen the same bytes in the same order, Value() equals BlockChecksum of
// them all. Lengths are counted in 64 bits and taken modulo 2^32, as the
// 32-bit length of BlockChecksum would be for inputs up to 2 GiB.
class RunningChecksum {
 public:
  void Add(const void* data, uint64_t length);
  uint32_t Value() const;
  uint64_t Length() const { return length_; }

 private:
  uint32_t sum_ = kChecksumSeed;
  uint64_t length_ = 0;
  unsigned char partial_[4] = {0, 0, 0, 0};  // bytes of an unfinished word
  uint32_t partialCount_ = 0;
};
