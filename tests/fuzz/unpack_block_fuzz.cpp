// Any byte string as a compressed block: the decoder must never read outside
// the block nor write outside its output, and its three entry points must
// agree on the result.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "archive/block.h"
#include "core/memory.h"
#include "core/string.h"

namespace {
// Larger declared sizes are still parsed (and must fail or succeed the same
// way), but only up to this many output bytes are allocated per input.
constexpr int32_t kMaxFuzzOutput = 1 << 22;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  const int32_t length = static_cast<int32_t>(size);
  int32_t declared = BlockDecodedSize(data, length);
  int32_t capacity = declared < 0 ? 0 : (declared < kMaxFuzzOutput ? declared : kMaxFuzzOutput);

  // An output of exactly `capacity` bytes: AddressSanitizer sees any write past it.
  unsigned char* out = static_cast<unsigned char*>(malloc(capacity > 0 ? capacity : 1));
  int32_t got = UnpackBlockInto(data, length, out, capacity);
  if (got >= 0 && (got != declared || got > capacity)) abort();

  if (declared >= 0 && declared <= kMaxFuzzOutput) {
    const unsigned char* unpacked = data;
    int32_t unpackedLength = length;
    bool ok = UnpackBlock(unpacked, unpackedLength);
    if (ok != (got >= 0)) abort();
    if (ok) {
      if (unpackedLength != got || memcmp(unpacked, out, static_cast<size_t>(got)) != 0) abort();
      MemFree(const_cast<unsigned char*>(unpacked));
    } else if (unpacked != data || unpackedLength != length) {
      abort();
    }
    if (size > 0 && declared <= 1 << 16) {
      String s(reinterpret_cast<const char*>(data), length);
      bool inPlace = UnpackInPlace(s);
      if (inPlace != ok) abort();
      if (inPlace ? (s.Length() != got || (got > 0 && memcmp(s.Buffer(), out, static_cast<size_t>(got)) != 0))
                  : (s.Length() != length || memcmp(s.Buffer(), data, size) != 0))
        abort();
    }
  }
  free(out);
  return 0;
}
