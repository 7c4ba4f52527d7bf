// Loads and stores on raw bytes: every multi-byte field of the archive, of
// the PE headers and of BMP files is little-endian, whatever the host's
// order; SHA-256 alone works on big-endian words. The caller guarantees that
// the bytes are there; the pointers need no alignment.
#pragma once
#include <stdint.h>

inline uint32_t LoadLe16(const void* at) {
  const unsigned char* p = static_cast<const unsigned char*>(at);
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8);
}

inline uint32_t LoadLe32(const void* at) {
  const unsigned char* p = static_cast<const unsigned char*>(at);
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

inline uint64_t LoadLe64(const void* at) {
  const unsigned char* p = static_cast<const unsigned char*>(at);
  return (uint64_t)LoadLe32(p) | ((uint64_t)LoadLe32(p + 4) << 32);
}

// The low 16 bits of value.
inline void StoreLe16(void* at, uint32_t value) {
  unsigned char* p = static_cast<unsigned char*>(at);
  p[0] = (unsigned char)value;
  p[1] = (unsigned char)(value >> 8);
}

inline void StoreLe32(void* at, uint32_t value) {
  unsigned char* p = static_cast<unsigned char*>(at);
  p[0] = (unsigned char)value;
  p[1] = (unsigned char)(value >> 8);
  p[2] = (unsigned char)(value >> 16);
  p[3] = (unsigned char)(value >> 24);
}

inline uint32_t LoadBe32(const void* at) {
  const unsigned char* p = static_cast<const unsigned char*>(at);
  return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | (uint32_t)p[3];
}

inline void StoreBe32(void* at, uint32_t value) {
  unsigned char* p = static_cast<unsigned char*>(at);
  p[0] = (unsigned char)(value >> 24);
  p[1] = (unsigned char)(value >> 16);
  p[2] = (unsigned char)(value >> 8);
  p[3] = (unsigned char)value;
}
