// Turning a .BMP file into the packed device-independent bitmap the runtime's
// background window draws: a BITMAPINFOHEADER (40 bytes) or BITMAPCOREHEADER
// (12 bytes), the colour table, then the pixel rows, without the 14-byte file
// header. Newer info headers (V4, V5) are cut down to the 40-byte form, their
// colour masks kept after it.
#pragma once
#include <string>
#include <vector>

// Returns false with a one-line reason (without the file name) when bmp is
// not a bitmap file the runtime can draw or is shorter than it claims.
bool BmpFileToPackedDib(const std::vector<unsigned char>& bmp, std::vector<unsigned char>& dib, std::string& error);
