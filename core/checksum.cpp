#include "core/checksum.h"

#include <string.h>

#include "core/byte_order.h"

uint32_t BlockChecksum(const void* data, int32_t length) {
  if (!data || length <= 0) return kChecksumSeed;
  const unsigned char* p = static_cast<const unsigned char*>(data);
  uint32_t sum = kChecksumSeed;
  int32_t words = length / 4;
  for (int32_t i = 0; i < words; ++i, p += 4) {
    sum += LoadLe32(p);
  }
  for (int32_t i = 0; i < length % 4; ++i) sum += (uint32_t)(int32_t)(signed char)p[i];
  return sum + (uint32_t)length;
}

void RunningChecksum::Add(const void* data, uint64_t length) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  if (!p || length == 0) return;
  length_ += length;
  if (partialCount_ != 0) {
    uint32_t need = 4 - (partialCount_ & 3);
    uint32_t take = length < need ? (uint32_t)length : need;
    memcpy(partial_ + (partialCount_ & 3), p, take);
    partialCount_ += take;
    p += take;
    length -= take;
    if (partialCount_ < 4) return;
    sum_ += LoadLe32(partial_);
    partialCount_ = 0;
  }
  // Here the unfinished word is empty.
  for (; length >= 4; length -= 4, p += 4) sum_ += LoadLe32(p);
  if (length) memcpy(partial_, p, (size_t)length);
  partialCount_ = (uint32_t)length;
}

uint32_t RunningChecksum::Value() const {
  if (length_ == 0) return kChecksumSeed;
  uint32_t sum = sum_;
  for (uint32_t i = 0; i < partialCount_; ++i) sum += (uint32_t)(int32_t)(signed char)partial_[i];
  return sum + (uint32_t)length_;
}
