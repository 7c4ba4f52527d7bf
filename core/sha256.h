// SHA-256 (FIPS 180-4): the digest that lets the uninstaller tell whether
// its data file is still the one the installation wrote.
//
// Portable, no allocation. Add may be called with pieces of any size; after
// the same bytes in the same order the digest is the same. Lengths are
// counted in 64 bits, so any input the program can hold is hashed exactly.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "core/string.h"

constexpr int32_t kSha256Size = 32;
// The digest as text: 64 lowercase hexadecimal digits.
constexpr int32_t kSha256TextLength = 2 * kSha256Size;

class Sha256 {
 public:
  Sha256();
  // Adds length bytes; a null data with length 0 adds nothing.
  void Add(const void* data, size_t length);
  // Pads, writes the 32-byte digest and starts over with no bytes seen.
  void Finish(uint8_t digest[kSha256Size]);

 private:
  void Reset();
  void Compress(const uint8_t block[64]);

  uint32_t state_[8];
  uint64_t length_;       // bytes added since the start
  uint8_t pending_[64];   // the unfinished block
  uint32_t pendingCount_;
};

// The digest of data[0, length).
void Sha256Digest(const void* data, size_t length, uint8_t digest[kSha256Size]);
// The digest of text's bytes as 64 lowercase hexadecimal digits.
String Sha256Text(const String& text);
