// The .BMP file form of a packed device-independent bitmap (a
// BITMAPINFOHEADER of 40 bytes or a BITMAPCOREHEADER of 12 bytes, the colour
// table and the pixel rows, without the 14-byte file header). Portable.
#pragma once
#include <stdint.h>

#include "core/string.h"

constexpr int32_t kBmpFileHeaderSize = 14;

// Where the pixel rows of the packed bitmap start (header, colour masks and
// colour table counted), or -1 when the bytes are not a packed bitmap: 12 or
// fewer bytes, a header size other than 12 or 40, a colour count beyond 256
// for 1 to 8 bits per pixel, or header and table reaching past size.
int32_t PackedDibPixelOffset(const char* dib, int32_t size);

// out = "BM", the file size, two reserved zero words, the pixel offset in
// the file, then the packed bitmap's bytes unchanged. False, with out
// empty, when PackedDibPixelOffset rejects the bytes.
[[nodiscard]] bool BmpFileFromPackedDib(const char* dib, int32_t size, String& out);
