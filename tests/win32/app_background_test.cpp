// The background window's painting on a memory bitmap: the banded gradient
// used when GradientFill is missing (Wine always has it, so the window itself
// never shows the bands), the flat colour, and pictures whose header promises
// more than their bytes hold.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <vector>

#include "core/bmp_file.h"
#include "ui/background_window.h"

namespace {

// A top-down 32-bit bitmap selected into a memory context.
class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    previous_ = SelectObject(dc_, bitmap_);
    // A colour no case paints, so untouched pixels show.
    for (int i = 0; i < width * height; ++i) bits_[i] = 0x00ABCDEF;
  }
  ~Canvas() {
    SelectObject(dc_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  HDC Dc() const { return dc_; }
  RECT Client() const { return RECT{0, 0, width_, height_}; }
  // As a COLORREF (0x00BBGGRR).
  uint32_t At(int x, int y) const {
    const uint32_t p = bits_[y * width_ + x];
    return ((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF);
  }

 private:
  int width_, height_;
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ previous_;
  uint32_t* bits_ = nullptr;
};

// Rows where the colour changes, counted down the left column.
std::vector<int> ColourChanges(const Canvas& c, int height) {
  std::vector<int> rows;
  for (int y = 1; y < height; ++y)
    if (c.At(0, y) != c.At(0, y - 1)) rows.push_back(y);
  return rows;
}

TEST(BackgroundBands, BandHeightFollowsTheWindowHeight) {
  // Band height = (height + 1) / 224, limited to 1 .. 3 pixels. From black
  // to full red the colour changes only at band starts; with up to 255 bands
  // it changes at every one, with more at nearly every one.
  const struct {
    int height, band;
  } cases[] = {{200, 1}, {446, 1}, {447, 2}, {480, 2}, {670, 2}, {671, 3}, {768, 3}, {1000, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.height);
    BackgroundLook look;
    look.TopColor = RGB(0, 0, 0);
    look.BottomColor = RGB(255, 0, 0);
    Canvas canvas(4, c.height);
    PaintBackground(look, canvas.Dc(), canvas.Client(), GradientPath::kBands);
    std::vector<int> changes = ColourChanges(canvas, c.height);
    ASSERT_GT(changes.size(), 100u);
    int smallestGap = c.height;
    for (size_t i = 0; i < changes.size(); ++i) {
      EXPECT_EQ(changes[i] % c.band, 0) << "change at row " << changes[i];
      if (i) smallestGap = std::min(smallestGap, changes[i] - changes[i - 1]);
    }
    EXPECT_EQ(smallestGap, c.band);
    // The bands span the whole width.
    EXPECT_EQ(canvas.At(3, c.height - 1), canvas.At(0, c.height - 1));
  }
}

TEST(BackgroundBands, FirstBandTakesOneStepAndTheLastReachesTheBottomColour) {
  // 480 rows: 240 bands of 2. Each component moves by its difference / 240,
  // the remainder spread by the accumulator.
  const struct {
    uint32_t top, bottom, firstBand, lastBand;
  } cases[] = {
      {RGB(0, 0, 0), RGB(255, 0, 0), RGB(1, 0, 0), RGB(255, 0, 0)},
      {RGB(255, 255, 255), RGB(0, 0, 0), RGB(254, 254, 254), RGB(0, 0, 0)},
      {RGB(10, 200, 30), RGB(250, 20, 30), RGB(11, 200, 30), RGB(250, 20, 30)},
  };
  for (const auto& c : cases) {
    BackgroundLook look;
    look.TopColor = c.top;
    look.BottomColor = c.bottom;
    Canvas canvas(2, 480);
    PaintBackground(look, canvas.Dc(), canvas.Client(), GradientPath::kBands);
    EXPECT_EQ(canvas.At(0, 0), c.firstBand);
    EXPECT_EQ(canvas.At(0, 1), c.firstBand);
    EXPECT_EQ(canvas.At(0, 479), c.lastBand);
    // In between, every component lies between its two ends.
    const uint32_t mid = canvas.At(0, 240);
    for (int shift = 0; shift < 24; shift += 8) {
      const int v = (mid >> shift) & 0xFF, a = (c.top >> shift) & 0xFF, b = (c.bottom >> shift) & 0xFF;
      EXPECT_GE(v, a < b ? a : b);
      EXPECT_LE(v, a < b ? b : a);
    }
  }
}

TEST(BackgroundBands, OneColourIgnoresTheBottomColourOnBothPaths) {
  for (GradientPath path : {GradientPath::kBands, GradientPath::kGradientFillIfPresent}) {
    BackgroundLook look;
    look.TopColor = RGB(0x33, 0x66, 0x99);
    look.BottomColor = RGB(0xFF, 0, 0);
    look.MonoColor = true;
    Canvas canvas(3, 300);
    PaintBackground(look, canvas.Dc(), canvas.Client(), path);
    EXPECT_TRUE(ColourChanges(canvas, 300).empty());
    EXPECT_EQ(canvas.At(2, 299), RGB(0x33, 0x66, 0x99));
  }
}

// A 24-bit 2 x 2 packed DIB, bottom-up: red, green / blue, white (top row
// first as drawn), padded rows of 8 bytes.
std::vector<char> TinyPicture() {
  std::vector<char> dib(40 + 16, 0);
  BITMAPINFOHEADER h = {};
  h.biSize = 40;
  h.biWidth = 2;
  h.biHeight = 2;
  h.biPlanes = 1;
  h.biBitCount = 24;
  memcpy(dib.data(), &h, sizeof h);
  const unsigned char rows[16] = {0xFF, 0, 0, 0xFF, 0xFF, 0xFF, 0, 0,   // bottom: blue, white (B G R)
                                  0, 0, 0xFF, 0, 0xFF, 0, 0, 0};        // top: red, green
  memcpy(dib.data() + 40, rows, sizeof rows);
  return dib;
}

TEST(BackgroundPicture, StretchedOverTheWholeAreaWhenValid) {
  std::vector<char> dib = TinyPicture();
  BackgroundLook look;
  look.MonoColor = true;
  look.BitmapSize = 100;
  look.StretchMode = 0;
  SetBackgroundPicture(look, dib.data(), (int32_t)dib.size());
  ASSERT_EQ(look.picture.width, 2);
  Canvas canvas(40, 20);
  PaintBackground(look, canvas.Dc(), canvas.Client(), GradientPath::kBands);
  EXPECT_EQ(canvas.At(5, 2), RGB(255, 0, 0));
  EXPECT_EQ(canvas.At(35, 2), RGB(0, 255, 0));
  EXPECT_EQ(canvas.At(5, 17), RGB(0, 0, 255));
  EXPECT_EQ(canvas.At(35, 17), RGB(255, 255, 255));
}

TEST(BackgroundPicture, ABmpFileIsDrawnLikeItsPackedBitmap) {
  String file;
  std::vector<char> dib = TinyPicture();
  ASSERT_TRUE(BmpFileFromPackedDib(dib.data(), (int32_t)dib.size(), file));
  BackgroundLook look;
  look.MonoColor = true;
  look.BitmapSize = 100;
  look.StretchMode = 0;
  SetBackgroundBmpFile(look, file.CStr(), file.Length());
  ASSERT_EQ(look.picture.width, 2);
  Canvas canvas(40, 20);
  PaintBackground(look, canvas.Dc(), canvas.Client(), GradientPath::kBands);
  EXPECT_EQ(canvas.At(5, 2), RGB(255, 0, 0));
  EXPECT_EQ(canvas.At(35, 17), RGB(255, 255, 255));
}

TEST(BackgroundPicture, ABmpFileMustStartWithItsFileHeader) {
  // A packed bitmap, a file header alone and nothing at all: no picture,
  // even after a drawable one.
  String file;
  std::vector<char> dib = TinyPicture();
  ASSERT_TRUE(BmpFileFromPackedDib(dib.data(), (int32_t)dib.size(), file));
  const struct {
    const char* what;
    const char* bytes;
    int32_t size;
  } cases[] = {
      {"packed bitmap", dib.data(), (int32_t)dib.size()},
      {"file header only", file.CStr(), kBmpFileHeaderSize},
      {"null", nullptr, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    BackgroundLook look;
    SetBackgroundBmpFile(look, file.CStr(), file.Length());
    ASSERT_EQ(look.picture.width, 2);
    SetBackgroundBmpFile(look, c.bytes, c.size);
    EXPECT_EQ(look.picture.width, 0);
    EXPECT_EQ(look.pictureBytes, nullptr);
  }
}

TEST(BackgroundPicture, APictureShorterThanItsHeaderClaimsIsNotDrawn) {
  const struct {
    const char* what;
    int32_t cut;        // bytes removed from the end
    int32_t height;     // header height written over the real one
  } cases[] = {
      {"last row missing", 8, 2},
      {"one byte missing", 1, 2},
      {"header claims 1000 rows", 0, 1000},
      {"header claims a top-down picture of 1000 rows", 0, -1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<char> dib = TinyPicture();
    memcpy(dib.data() + 8, &c.height, 4);
    // The bytes sit at the very end of a heap block of their own size, so a
    // read past them would be a read past the allocation.
    std::vector<char> exact(dib.begin(), dib.end() - c.cut);
    BackgroundLook look;
    look.TopColor = RGB(0x40, 0x40, 0x40);
    look.MonoColor = true;
    look.BitmapSize = 100;
    look.StretchMode = 0;
    SetBackgroundPicture(look, exact.data(), (int32_t)exact.size());
    EXPECT_EQ(look.picture.width, 0);
    Canvas canvas(40, 20);
    PaintBackground(look, canvas.Dc(), canvas.Client(), GradientPath::kBands);
    EXPECT_EQ(canvas.At(5, 2), RGB(0x40, 0x40, 0x40));
    EXPECT_EQ(canvas.At(35, 17), RGB(0x40, 0x40, 0x40));
  }
}

}  // namespace
