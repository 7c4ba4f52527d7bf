// Loads and stores on raw bytes: every multi-byte field of the archive, of
// the PE headers and of BMP files is little-endian, whatever the host's
// order; SHA-256 alone works on big-endian words. The caller guarantees that
// the bytes are there; the pointers need no alignment.
//
// On a little-endian host a field is one unaligned load or store (a copy of
// a constant size is a single move, which the compiler inlines everywhere,
// even where it sizes the byte-by-byte form as worth a call); elsewhere it
// is put together byte by byte.
#pragma once
#include <stdint.h>
#include <string.h>

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define TRUX_LITTLE_ENDIAN_HOST 1
#else
#define TRUX_LITTLE_ENDIAN_HOST 0
#endif

inline uint32_t LoadLe16(const void* at) {
#if TRUX_LITTLE_ENDIAN_HOST
  uint16_t value;
  memcpy(&value, at, 2);
  return value;
#else
  const unsigned char* p = static_cast<const unsigned char*>(at);
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8);
#endif
}

inline uint32_t LoadLe32(const void* at) {
#if TRUX_LITTLE_ENDIAN_HOST
  uint32_t value;
  memcpy(&value, at, 4);
  return value;
#else
  const unsigned char* p = static_cast<const unsigned char*>(at);
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
#endif
}

inline uint64_t LoadLe64(const void* at) {
  const unsigned char* p = static_cast<const unsigned char*>(at);
  return (uint64_t)LoadLe32(p) | ((uint64_t)LoadLe32(p + 4) << 32);
}

// The low 16 bits of value.
inline void StoreLe16(void* at, uint32_t value) {
#if TRUX_LITTLE_ENDIAN_HOST
  const uint16_t low = (uint16_t)value;
  memcpy(at, &low, 2);
#else
  unsigned char* p = static_cast<unsigned char*>(at);
  p[0] = (unsigned char)value;
  p[1] = (unsigned char)(value >> 8);
#endif
}

inline void StoreLe32(void* at, uint32_t value) {
#if TRUX_LITTLE_ENDIAN_HOST
  memcpy(at, &value, 4);
#else
  unsigned char* p = static_cast<unsigned char*>(at);
  p[0] = (unsigned char)value;
  p[1] = (unsigned char)(value >> 8);
  p[2] = (unsigned char)(value >> 16);
  p[3] = (unsigned char)(value >> 24);
#endif
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
