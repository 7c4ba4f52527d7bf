// Block codec of the runtime: the scrambler and the decoder of compressed
// blocks (format: archive/block_format.h). BlockChecksum, which guards the
// same blocks, comes from core/checksum.h.
//
// All functions are pure: no state between calls, no I/O. The decoder reads
// only the bytes [block, block + length) and writes only the S bytes of its
// output, whatever the input; a block that breaks any rule of the format is
// reported as a false (or -1) result, never by reading or writing outside.
#pragma once
#include <stdint.h>

#include "archive/block_format.h"
#include "core/checksum.h"

class String;

// XORs buffer[0, length) with the key's little-endian bytes repeated (byte i
// meets key byte i mod 4). Applying it twice with the same key restores the
// buffer. length <= 0 or a null buffer does nothing.
void XorScramble(void* buffer, int32_t length, uint32_t key);

// The decoded size S declared by a block's header.
// @return S, or -1 when the block is null, shorter than 8 bytes, has a wrong
//         magic number, or declares S < 0 or S > kMaxBlockOutput.
int32_t BlockDecodedSize(const void* block, int32_t length);

// Decodes a block into a caller's buffer.
// @return S (>= 0) when the block is valid and S <= capacity; -1 otherwise.
// Writes only output[0, S), and only when the header is acceptable and
// S <= capacity; after a failure output[0, S) holds garbage. output may be
// null when capacity is 0.
int32_t UnpackBlockInto(const void* block, int32_t length, void* output, int32_t capacity);

// Decodes the block [data, data + length) into a new heap block.
// @return true on success: data then points to a MemAlloc'ed block holding the
//         S decoded bytes (plus one spare byte, so a String can adopt it
//         without copying) and length is S; the caller owns it and frees it
//         with MemFree. The input block is not freed.
//         false on an invalid block or when the S bytes cannot be allocated;
//         data and length are then unchanged.
[[nodiscard]] bool UnpackBlock(const unsigned char*& data, int32_t& length);

// The String form: the string's content is a compressed block. On success
// the string holds the S decoded bytes (it adopts the decoded buffer) and the
// result is true; on failure the string is unchanged and the result is false.
[[nodiscard]] bool UnpackInPlace(String& block);
