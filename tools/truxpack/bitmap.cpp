#include "tools/truxpack/bitmap.h"

#include <stddef.h>
#include <stdint.h>

#include "core/byte_order.h"

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3;

bool Fail(std::string& error, const char* why) {
  error = why;
  return false;
}

}  // namespace

bool BmpFileToPackedDib(const std::vector<unsigned char>& bmp, std::vector<unsigned char>& dib, std::string& error) {
  const size_t size = bmp.size();
  if (size < kFileHeaderSize + kCoreHeaderSize || bmp[0] != 'B' || bmp[1] != 'M')
    return Fail(error, "not a BMP file (no BM header)");
  const uint64_t pixelOffset = LoadLe32(&bmp[10]);
  const unsigned char* h = &bmp[kFileHeaderSize];
  const uint32_t headerSize = LoadLe32(h);
  const bool core = headerSize == kCoreHeaderSize;
  if (!core && headerSize != kInfoHeaderSize && headerSize != 52 && headerSize != 56 && headerSize != 108 &&
      headerSize != 124)
    return Fail(error, "unknown BMP header size");
  if (kFileHeaderSize + (uint64_t)headerSize > size) return Fail(error, "BMP header cut short");

  int64_t width, height;
  uint32_t bitCount, compression = kRgb, colorsUsed = 0, imageSize = 0;
  if (core) {
    width = LoadLe16(h + 4);
    height = LoadLe16(h + 6);
    bitCount = LoadLe16(h + 10);
  } else {
    width = (int32_t)LoadLe32(h + 4);
    height = (int32_t)LoadLe32(h + 8);
    bitCount = LoadLe16(h + 14);
    compression = LoadLe32(h + 16);
    imageSize = LoadLe32(h + 20);
    colorsUsed = LoadLe32(h + 32);
  }
  if (width <= 0 || height == 0) return Fail(error, "BMP has no pixels");
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32)
    return Fail(error, "unsupported BMP bit depth");
  if (core && (bitCount == 16 || bitCount == 32)) return Fail(error, "unsupported BMP bit depth");
  if (compression != kRgb && compression != kRle8 && compression != kRle4 && compression != kBitfields)
    return Fail(error, "unsupported BMP compression (JPEG, PNG or alpha masks)");
  if ((compression == kRle8 && bitCount != 8) || (compression == kRle4 && bitCount != 4) ||
      (compression == kBitfields && bitCount != 16 && bitCount != 32))
    return Fail(error, "BMP compression does not match its bit depth");

  // Colour masks: after a 40-byte header, inside a newer one.
  const uint32_t maskBytes = compression == kBitfields ? 12 : 0;
  uint64_t colors = colorsUsed;
  if (colors == 0 && bitCount <= 8) colors = 1ull << bitCount;
  if (colors > 256 && bitCount <= 8) return Fail(error, "BMP colour table too large");
  const uint64_t colorBytes = colors * (core ? 3 : 4);
  const uint64_t tableStart = kFileHeaderSize + (uint64_t)headerSize + (headerSize == kInfoHeaderSize ? maskBytes : 0);
  if (tableStart + colorBytes > size) return Fail(error, "BMP colour table cut short");

  const uint64_t rows = height < 0 ? (uint64_t)(-height) : (uint64_t)height;
  uint64_t pixelBytes;
  if (compression == kRle8 || compression == kRle4) {
    if (imageSize == 0) return Fail(error, "compressed BMP without an image size");
    pixelBytes = imageSize;
  } else {
    pixelBytes = ((uint64_t)width * bitCount + 31) / 32 * 4 * rows;
  }
  if (pixelOffset < tableStart + colorBytes || pixelOffset > size || size - pixelOffset < pixelBytes)
    return Fail(error, "BMP pixel data cut short");

  dib.clear();
  const unsigned char* header = &bmp[kFileHeaderSize];
  if (core) {
    dib.insert(dib.end(), header, header + kCoreHeaderSize);
  } else {
    dib.insert(dib.end(), header, header + kInfoHeaderSize);
    StoreLe32(&dib[0], kInfoHeaderSize);
    if (maskBytes) {
      // The masks follow a 40-byte header; a newer header holds them at 40.
      const unsigned char* masks = headerSize == kInfoHeaderSize ? header + kInfoHeaderSize : header + 40;
      if (headerSize != kInfoHeaderSize && headerSize < 52) return Fail(error, "BMP colour masks missing");
      dib.insert(dib.end(), masks, masks + maskBytes);
    }
  }
  dib.insert(dib.end(), bmp.begin() + (ptrdiff_t)tableStart, bmp.begin() + (ptrdiff_t)(tableStart + colorBytes));
  dib.insert(dib.end(), bmp.begin() + (ptrdiff_t)pixelOffset, bmp.begin() + (ptrdiff_t)(pixelOffset + pixelBytes));
  return true;
}
