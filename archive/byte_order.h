// Little-endian loads from raw bytes: every multi-byte field of the archive
// and of the PE headers is little-endian. The caller guarantees the bytes.
#pragma once
#include <stdint.h>

inline uint32_t LoadLe16(const unsigned char* p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8); }
inline uint32_t LoadLe32(const unsigned char* p) { return LoadLe16(p) | (LoadLe16(p + 2) << 16); }
