#include "archive/packed_dib.h"

#include "core/byte_order.h"
#include "core/bmp_file.h"

namespace {

constexpr int32_t kInfoHeaderSize = 40;
constexpr int32_t kCoreHeaderSize = 12;

bool IsPaletteDepth(int32_t bits) { return bits == 1 || bits == 4 || bits == 8; }

// Bytes of one stored row: rows are padded to whole 32-bit words.
int64_t RowBytes(int64_t width, int32_t bitCount) { return ((width * bitCount + 31) / 32) * 4; }

bool SizeIsDrawable(int64_t width, int64_t height) {
  return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
         width * height <= kMaxPicturePixels;
}

// The old OS/2 form: 16-bit width and height, 3-byte colour table entries,
// no compression.
bool ReadCoreHeader(const unsigned char* p, PackedDib& dib) {
  dib.width = (int32_t)LoadLe16(p + 4);
  dib.height = (int32_t)LoadLe16(p + 6);
  const uint32_t planes = LoadLe16(p + 8);
  dib.bitCount = (int32_t)LoadLe16(p + 10);
  dib.compression = kDibRgb;
  if (planes != 1 || !(IsPaletteDepth(dib.bitCount) || dib.bitCount == 24)) return false;
  return SizeIsDrawable(dib.width, dib.height);
}

bool DepthFitsCompression(int32_t bits, uint32_t compression) {
  switch (compression) {
    case kDibRgb: return IsPaletteDepth(bits) || bits == 16 || bits == 24 || bits == 32;
    case kDibRle8: return bits == 8;
    case kDibRle4: return bits == 4;
    case kDibBitFields: return bits == 16 || bits == 32;
  }
  return false;  // JPEG, PNG and unknown forms are not drawn
}

bool ReadInfoHeader(const unsigned char* p, PackedDib& dib) {
  const int64_t width = (int32_t)LoadLe32(p + 4);
  const int64_t height = (int32_t)LoadLe32(p + 8);
  const uint32_t planes = LoadLe16(p + 12);
  dib.bitCount = (int32_t)LoadLe16(p + 14);
  dib.compression = LoadLe32(p + 16);
  const uint32_t colorsUsed = LoadLe32(p + 32);
  if (planes != 1 || !DepthFitsCompression(dib.bitCount, dib.compression)) return false;
  dib.topDown = height < 0;
  // Compressed pictures are always stored bottom-up.
  if (dib.topDown && (dib.compression == kDibRle8 || dib.compression == kDibRle4)) return false;
  const int64_t rows = dib.topDown ? -height : height;
  if (!SizeIsDrawable(width, rows)) return false;
  dib.width = (int32_t)width;
  dib.height = (int32_t)rows;
  // A palette picture cannot use more colours than its depth can name.
  return !IsPaletteDepth(dib.bitCount) || colorsUsed <= (1u << dib.bitCount);
}

}  // namespace

bool ReadPackedDib(const void* bytes, int32_t size, PackedDib& out) {
  out = PackedDib();
  const unsigned char* p = static_cast<const unsigned char*>(bytes);
  if (!p || size <= kCoreHeaderSize) return false;
  PackedDib dib;
  dib.headerSize = (int32_t)LoadLe32(p);
  bool ok = false;
  if (dib.headerSize == kCoreHeaderSize)
    ok = ReadCoreHeader(p, dib);
  else if (dib.headerSize == kInfoHeaderSize && size >= kInfoHeaderSize)
    ok = ReadInfoHeader(p, dib);
  if (!ok) return false;

  // The header, the colour masks and the colour table, laid out as the
  // library's .BMP writer counts them.
  const int64_t bitsOffset = PackedDibPixelOffset(static_cast<const char*>(bytes), size);
  if (bitsOffset < 0) return false;
  int64_t bitsSize;
  if (dib.compression == kDibRle8 || dib.compression == kDibRle4) {
    // The compressed stream's length is the header's image size; the system
    // decoder reads no further than that.
    bitsSize = LoadLe32(p + 20);
    if (bitsSize == 0) return false;
  } else {
    bitsSize = RowBytes(dib.width, dib.bitCount) * dib.height;
  }
  if (bitsOffset > size || bitsSize > size - bitsOffset) return false;
  dib.bitsOffset = (int32_t)bitsOffset;
  dib.bitsSize = (int32_t)bitsSize;
  out = dib;
  return true;
}
