#include "core/sha256.h"

#include <string.h>

#include "core/byte_order.h"

namespace {

constexpr uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr uint32_t kInitialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

inline uint32_t RotateRight(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

}  // namespace

Sha256::Sha256() { Reset(); }

void Sha256::Reset() {
  memcpy(state_, kInitialState, sizeof state_);
  length_ = 0;
  pendingCount_ = 0;
}

void Sha256::Compress(const uint8_t block[64]) {
  uint32_t w[64];
  for (int i = 0; i < 16; ++i) w[i] = LoadBe32(block + 4 * i);
  for (int i = 16; i < 64; ++i) {
    const uint32_t s0 = RotateRight(w[i - 15], 7) ^ RotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const uint32_t s1 = RotateRight(w[i - 2], 17) ^ RotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  uint32_t v[8];
  memcpy(v, state_, sizeof v);
  for (int i = 0; i < 64; ++i) {
    const uint32_t s1 = RotateRight(v[4], 6) ^ RotateRight(v[4], 11) ^ RotateRight(v[4], 25);
    const uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
    const uint32_t t1 = v[7] + s1 + choice + kRoundConstants[i] + w[i];
    const uint32_t s0 = RotateRight(v[0], 2) ^ RotateRight(v[0], 13) ^ RotateRight(v[0], 22);
    const uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
    memmove(v + 1, v, 7 * sizeof v[0]);
    v[4] += t1;
    v[0] = t1 + s0 + majority;
  }
  for (int i = 0; i < 8; ++i) state_[i] += v[i];
}

void Sha256::Add(const void* data, size_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  if (!p) return;
  length_ += length;
  while (length > 0) {
    const size_t room = 64 - pendingCount_;
    if (pendingCount_ == 0 && length >= 64) {
      Compress(p);
      p += 64;
      length -= 64;
      continue;
    }
    const size_t n = length < room ? length : room;
    memcpy(pending_ + pendingCount_, p, n);
    pendingCount_ += (uint32_t)n;
    p += n;
    length -= n;
    if (pendingCount_ == 64) {
      Compress(pending_);
      pendingCount_ = 0;
    }
  }
}

void Sha256::Finish(uint8_t digest[kSha256Size]) {
  const uint64_t bits = length_ * 8;
  pending_[pendingCount_++] = 0x80;
  if (pendingCount_ > 56) {
    memset(pending_ + pendingCount_, 0, 64 - pendingCount_);
    Compress(pending_);
    pendingCount_ = 0;
  }
  memset(pending_ + pendingCount_, 0, 56 - pendingCount_);
  StoreBe32(pending_ + 56, (uint32_t)(bits >> 32));
  StoreBe32(pending_ + 60, (uint32_t)bits);
  Compress(pending_);
  for (int i = 0; i < 8; ++i) StoreBe32(digest + 4 * i, state_[i]);
  Reset();
}

void Sha256Digest(const void* data, size_t length, uint8_t digest[kSha256Size]) {
  Sha256 hash;
  hash.Add(data, length);
  hash.Finish(digest);
}

String Sha256Text(const String& text) {
  uint8_t digest[kSha256Size];
  Sha256Digest(text.CStr(), (size_t)text.Length(), digest);
  static const char kHex[] = "0123456789abcdef";
  String out;
  for (uint8_t byte : digest) {
    out.AppendChar(kHex[byte >> 4]);
    out.AppendChar(kHex[byte & 15]);
  }
  return out;
}
