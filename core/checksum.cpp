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
