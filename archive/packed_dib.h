// The background picture of the settings: a packed device-independent bitmap,
// that is a BITMAPINFOHEADER (size field 40) or a BITMAPCOREHEADER (size
// field 12), the colour masks of a bit-field picture, the colour table, then
// the pixel rows, without the 14-byte file header of a .BMP file.
//
// Portable: the runtime checks the picture before it hands it to the system's
// drawing functions, and the authoring tool can check what it stores.
//
// The system's drawing functions trust the header: they read as many pixel
// bytes as its width, height and bit count claim. ReadPackedDib therefore
// accepts a picture only when every byte the header promises lies inside the
// given bytes, so drawing a damaged or hostile picture never reads past them.
// A picture that fails the check has width 0 and is not drawn.
#pragma once
#include <stdint.h>

// Pictures larger than this are not drawn: a compressed (RLE) picture can
// claim a huge size in a few bytes, and stretching it would cost memory in
// proportion to the claim rather than to the archive.
constexpr int32_t kMaxPictureSide = 32767;
constexpr int64_t kMaxPicturePixels = (int64_t)1 << 25;

struct PackedDib {
  int32_t width = 0;          // 0: no picture
  int32_t height = 0;         // rows, always positive
  bool topDown = false;       // the header's height was negative
  int32_t headerSize = 0;     // 40 or 12
  int32_t bitCount = 0;
  uint32_t compression = 0;   // 0 RGB, 1 RLE8, 2 RLE4, 3 bit fields
  int32_t bitsOffset = 0;     // where the pixel rows start
  int32_t bitsSize = 0;       // the pixel bytes the header promises
};

// Compression values of BITMAPINFOHEADER.
constexpr uint32_t kDibRgb = 0, kDibRle8 = 1, kDibRle4 = 2, kDibBitFields = 3;

// Fills out and returns true when bytes[0 .. size) hold a drawable packed
// DIB; otherwise returns false and leaves out with width 0. Never reads
// outside the given bytes.
[[nodiscard]] bool ReadPackedDib(const void* bytes, int32_t size, PackedDib& out);
