#include "core/bmp_file.h"

#include "core/byte_order.h"

namespace {

constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kBitfields = 3;

}  // namespace

int32_t PackedDibPixelOffset(const char* dib, int32_t size) {
  if (!dib || size <= (int32_t)kCoreHeaderSize) return -1;
  const uint32_t headerSize = LoadLe32(dib);
  uint64_t colors = 0, entrySize = 4, masks = 0;
  uint32_t bitCount;
  if (headerSize == kCoreHeaderSize) {
    bitCount = LoadLe16(dib + 10);
    entrySize = 3;
    if (bitCount <= 8) colors = 1ull << bitCount;
  } else if (headerSize == kInfoHeaderSize) {
    if ((uint32_t)size < kInfoHeaderSize) return -1;
    bitCount = LoadLe16(dib + 14);
    if (LoadLe32(dib + 16) == kBitfields) masks = 12;
    colors = LoadLe32(dib + 32);
    if (colors == 0 && bitCount <= 8) colors = 1ull << bitCount;
  } else {
    return -1;
  }
  if (bitCount <= 8 && colors > 256) return -1;
  const uint64_t offset = headerSize + masks + colors * entrySize;
  if (offset > (uint64_t)size) return -1;
  return (int32_t)offset;
}

bool BmpFileFromPackedDib(const char* dib, int32_t size, String& out) {
  out.Clear();
  const int32_t pixels = PackedDibPixelOffset(dib, size);
  if (pixels < 0 || size > kMaxStringBlock - kBmpFileHeaderSize - 1) return false;
  char* p = out.SetLength(kBmpFileHeaderSize + size);
  p[0] = 'B';
  p[1] = 'M';
  StoreLe32(p + 2, (uint32_t)(kBmpFileHeaderSize + size));
  StoreLe32(p + 6, 0);
  StoreLe32(p + 10, (uint32_t)(kBmpFileHeaderSize + pixels));
  for (int32_t i = 0; i < size; ++i) p[kBmpFileHeaderSize + i] = dib[i];
  return true;
}
