#include "ui/background_window.h"

#include "core/bmp_file.h"
#include "core/scale.h"
#include "core/win32/dynamic_library.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"

namespace {

const char kClassName[] = "XAV Window Class";
const char kWindowFailedText[] = "Failed to create the installer's window.  Please reboot your machine and try again.";

constexpr int kFirstTitlePoints = 26;
constexpr int kSmallestTitlePoints = 6;
constexpr int32_t kBandsPerWindow = 224;  // the fallback gradient's band height is the window height / 224
constexpr int32_t kMaxBandHeight = 3;

BackgroundLook g_look;
bool g_classRegistered;

// ------------------------------------------------------------ gradient

COLORREF Rgb(uint32_t color) { return color & 0x00FFFFFFu; }
int Component(uint32_t color, int index) { return (int)((color >> (8 * index)) & 0xFFu); }

void FillSolid(HDC dc, const RECT& r, COLORREF color) {
  HBRUSH brush = CreateSolidBrush(color);
  if (!brush) return;
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

bool FillWithGradientFill(HDC dc, const RECT& r) {
  const auto gradientFill = SystemApi(kLibMsImg32).GradientFill;
  if (!gradientFill) return false;
  TRIVERTEX v[2];
  const uint32_t colors[2] = {g_look.TopColor, g_look.BottomColor};
  for (int i = 0; i < 2; ++i) {
    v[i].x = i ? r.right : r.left;
    v[i].y = i ? r.bottom : r.top;
    v[i].Red = (COLOR16)(Component(colors[i], 0) << 8);
    v[i].Green = (COLOR16)(Component(colors[i], 1) << 8);
    v[i].Blue = (COLOR16)(Component(colors[i], 2) << 8);
    v[i].Alpha = 0;
  }
  GRADIENT_RECT joined = {0, 1};
  return gradientFill(dc, v, 2, &joined, 1, GRADIENT_FILL_RECT_V) != FALSE;
}

// One colour component stepping from the top value towards the bottom value
// over count bands; the remainder of the division is spread evenly by an
// error accumulator, so the last band of a full run reaches the bottom value.
struct BandComponent {
  int value, step, remainder, error, sign;
  BandComponent(int top, int bottom, int count) : value(top), error(0) {
    const int difference = bottom - top;
    step = difference / count;
    remainder = difference % count;
    sign = remainder < 0 ? -1 : 1;
    if (remainder < 0) remainder = -remainder;
  }
  void Advance(int count) {
    value += step;
    error += remainder;
    if (error >= count) {
      error -= count;
      value += sign;
    }
  }
  BYTE Byte() const { return (BYTE)(value < 0 ? 0 : value > 255 ? 255 : value); }
};

void FillWithBands(HDC dc, const RECT& r) {
  const int32_t span = r.bottom - r.top + 1;
  int32_t bandHeight = span / kBandsPerWindow;
  if (bandHeight < 1) bandHeight = 1;
  if (bandHeight > kMaxBandHeight) bandHeight = kMaxBandHeight;
  const int32_t count = span / bandHeight;
  BandComponent c[3] = {{Component(g_look.TopColor, 0), Component(g_look.BottomColor, 0), count},
                        {Component(g_look.TopColor, 1), Component(g_look.BottomColor, 1), count},
                        {Component(g_look.TopColor, 2), Component(g_look.BottomColor, 2), count}};
  for (int32_t y = r.top; y < r.bottom; y += bandHeight) {
    for (BandComponent& component : c) component.Advance(count);
    RECT band = {r.left, y, r.right + 1, y + bandHeight};
    FillSolid(dc, band, RGB(c[0].Byte(), c[1].Byte(), c[2].Byte()));
  }
}

// ------------------------------------------------------------ picture

// Rectangles are inclusive here, as the placement rules are written.
struct Box {
  int32_t left, top, right, bottom;
  int32_t Width() const { return right - left + 1; }
  int32_t Height() const { return bottom - top + 1; }
};

// Rounded half up; an empty or negative length gives 0.
int32_t Percent(int32_t length, uint32_t percent) {
  return length <= 0 ? 0 : (int32_t)ScaleDown((uint32_t)length, percent, 50, 100);
}

// A width by height rectangle centred in the area (rounding down).
Box CentreIn(const Box& area, int32_t width, int32_t height) {
  Box b;
  b.left = (area.left + area.right - width + 1) / 2;
  b.top = (area.top + area.bottom - height + 1) / 2;
  b.right = b.left + width - 1;
  b.bottom = b.top + height - 1;
  return b;
}

// The largest rectangle of the picture's proportions inside the area, centred
// on the axis that has room to spare.
// Every side is positive: the picture was validated and the area is not empty.
Box FitIn(const Box& area, int32_t w, int32_t h) {
  const int32_t W = area.Width(), H = area.Height();
  Box b = area;
  if (W / w < H / h) {
    const int32_t height = (int32_t)ScaleDown((uint32_t)h, (uint32_t)W, 0, (uint32_t)w);
    b.top = (area.top + area.bottom - height + 1) / 2;
    b.bottom = b.top + height - 1;
  } else {
    const int32_t width = (int32_t)ScaleDown((uint32_t)w, (uint32_t)H, 0, (uint32_t)h);
    b.left = (area.left + area.right - width + 1) / 2;
    b.right = b.left + width - 1;
  }
  return b;
}

void DrawPicture(HDC dc, const Box& to) {
  const PackedDib& p = g_look.picture;
  const BITMAPINFO* info = reinterpret_cast<const BITMAPINFO*>(g_look.pictureBytes);
  StretchDIBits(dc, to.left, to.top, to.Width(), to.Height(), 0, 0, p.width, p.height,
                g_look.pictureBytes + p.bitsOffset, info, DIB_RGB_COLORS, SRCCOPY);
}

void DrawTiles(HDC dc, const RECT& r) {
  const int32_t w = g_look.picture.width, h = g_look.picture.height;
  const int32_t columns = (r.right - r.left + w - 1) / w, rows = (r.bottom - r.top + h - 1) / h;
  for (int32_t column = 0; column < columns; ++column)
    for (int32_t row = 0; row < rows; ++row)
      DrawPicture(dc, Box{column * w, row * h, column * w + w - 1, row * h + h - 1});
}

void DrawPictureInArea(HDC dc, const RECT& r) {
  const int32_t w = g_look.picture.width, h = g_look.picture.height;
  const int32_t width = Percent(r.right - r.left, g_look.BitmapSize);
  const int32_t height = Percent(r.bottom - r.top, g_look.BitmapSize);
  if (width <= 0 || height <= 0) return;
  Box area;
  area.left = (r.left + r.right - width) / 2;
  area.top = (r.top + r.bottom - height) / 2;
  area.right = area.left + width - 1;
  area.bottom = area.top + height - 1;
  Box to = area;
  if (g_look.StretchMode == kStretchFit) {
    to = FitIn(area, w, h);
  } else if (g_look.StretchMode == kStretchWholeFactor) {
    const int32_t kw = area.Width() / w, kh = area.Height() / h;
    const int32_t k = kw < kh ? kw : kh;
    to = k >= 1 ? CentreIn(area, k * w, k * h) : FitIn(area, w, h);
  }
  if (to.Width() <= 0 || to.Height() <= 0) return;
  DrawPicture(dc, to);
}

// ------------------------------------------------------------ title

// Calls visit(line, length) for each line of the title: CR, LF and CR LF end
// a line and are not part of it.
template <typename Visit>
void ForEachLine(const char* title, Visit visit) {
  const char* start = title;
  for (const char* p = title;; ++p) {
    if (*p == '\r' || *p == '\n' || *p == 0) {
      if (p > start || *p != 0) visit(start, (int)(p - start));
      if (*p == 0) return;
      if (*p == '\r' && p[1] == '\n') ++p;
      start = p + 1;
    }
  }
}

struct TitleExtent {
  int32_t width = 0, height = 0;
};

TitleExtent MeasureTitle(HDC dc, const char* title) {
  TitleExtent e;
  SetTextJustification(dc, 0, 0);
  ForEachLine(title, [&](const char* line, int length) {
    SIZE size = {0, 0};
    GetTextExtentPoint32A(dc, line, length, &size);
    if (size.cx > e.width) e.width = size.cx;
    e.height += size.cy;
  });
  return e;
}

HFONT CreateTitleFont(int32_t pixelHeight) {
  return CreateFontA(pixelHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_TT_PRECIS,
                     CLIP_DEFAULT_PRECIS, PROOF_QUALITY, DEFAULT_PITCH | FF_DONTCARE, g_look.TitleFont.CStr());
}

// The largest size from 26 points down whose title fits the width with the
// shadow and a margin; at 6 points the font is taken whatever the width.
HFONT ChooseTitleFont(HDC dc, const char* title, int32_t clientWidth, int32_t& pixelHeight) {
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  for (int points = kFirstTitlePoints;; --points) {
    pixelHeight = dpi * points / 72;
    HFONT font = CreateTitleFont(pixelHeight);
    if (!font || points <= kSmallestTitlePoints) return font;
    HGDIOBJ previous = SelectObject(dc, font);
    const TitleExtent e = MeasureTitle(dc, title);
    SelectObject(dc, previous);
    if (g_look.TitleShadow + e.width + 2 < clientWidth) return font;
    DeleteObject(font);
  }
}

enum class Align { kLeft, kCentre, kRight };

Align TitleAlignment(uint8_t position) {
  switch (position) {
    case 2:
    case 5: return Align::kCentre;
    case 3:
    case 6: return Align::kRight;
  }
  return Align::kLeft;
}

bool TitleAtBottom(uint8_t position) { return position >= 4 && position <= 6; }

int32_t FloorHalf(int32_t n) { return n >= 0 ? n / 2 : -((-n + 1) / 2); }

void DrawTitleLines(HDC dc, const char* title, int32_t x0, int32_t y0, int32_t available, Align align,
                    int32_t lineHeight) {
  int32_t y = y0;
  ForEachLine(title, [&](const char* line, int length) {
    SIZE size = {0, 0};
    GetTextExtentPoint32A(dc, line, length, &size);
    int32_t offset = 0;
    if (align == Align::kCentre) offset = FloorHalf(available - size.cx);
    if (align == Align::kRight) offset = available - size.cx;
    TextOutA(dc, x0 + offset, y, line, length);
    y += lineHeight;
  });
}

// ------------------------------------------------------------ window

LRESULT OnEraseBackground(HWND window, HDC dc) {
  RECT client;
  GetClientRect(window, &client);
  PaintBackground(dc, client);
  return 1;
}

LRESULT OnPaint(HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  if (dc) {
    RECT client;
    GetClientRect(window, &client);
    PaintTitle(dc, client, g_displayTitle.CStr());
  }
  EndPaint(window, &ps);
  return 0;
}

LRESULT CALLBACK BackgroundWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      return OnEraseBackground(window, reinterpret_cast<HDC>(wParam));
    case WM_PAINT:
      return OnPaint(window);
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool RegisterBackgroundClass(HINSTANCE instance) {
  if (g_classRegistered) return true;
  WNDCLASSA c = {};
  c.style = CS_HREDRAW | CS_VREDRAW;
  c.lpfnWndProc = BackgroundWindowProc;
  c.hInstance = instance;
  c.lpszClassName = kClassName;
  g_classRegistered = RegisterClassA(&c) != 0;
  return g_classRegistered;
}

}  // namespace

BackgroundLook& Background() { return g_look; }

void SetBackgroundPicture(const char* bytes, int32_t size) {
  if (ReadPackedDib(bytes, size, g_look.picture))
    g_look.pictureBytes = bytes;
  else
    g_look.pictureBytes = nullptr;
}

void SetBackgroundBmpFile(const char* bytes, int32_t size) {
  if (bytes && size > kBmpFileHeaderSize && bytes[0] == 'B' && bytes[1] == 'M')
    SetBackgroundPicture(bytes + kBmpFileHeaderSize, size - kBmpFileHeaderSize);
  else
    SetBackgroundPicture(nullptr, 0);
}

void SetBackgroundFromSettings(const ArchiveSettings& s) {
  g_look.TitleColor = s.TitleColor;
  g_look.TopColor = s.TopColor;
  g_look.BottomColor = s.BottomColor;
  g_look.MonoColor = s.MonoColor();
  g_look.TitleShadow = s.TitleShadow;
  g_look.TitlePosition = s.TitlePosition;
  g_look.TitleFont = s.TitleFont;
  g_look.BitmapSize = s.BitmapSize;
  g_look.StretchMode = s.StretchMode;
  SetBackgroundPicture(s.backgroundBitmap.Buffer(), s.backgroundBitmap.Length());
}

void PaintBackground(HDC dc, const RECT& r, GradientPath path) {
  if (g_look.MonoColor)
    FillSolid(dc, r, Rgb(g_look.TopColor));
  else if (path == GradientPath::kBands || !FillWithGradientFill(dc, r))
    FillWithBands(dc, r);

  if (!g_look.pictureBytes || g_look.picture.width <= 0 || g_look.BitmapSize == 0) return;
  // Shrinking a colour picture keeps whole pixels rather than blending them
  // into black (the context's default mode).
  const int previousMode = SetStretchBltMode(dc, COLORONCOLOR);
  if (g_look.StretchMode == kStretchTile)
    DrawTiles(dc, r);
  else
    DrawPictureInArea(dc, r);
  if (previousMode) SetStretchBltMode(dc, previousMode);
}

void PaintTitle(HDC dc, const RECT& client, const char* title) {
  if (!title || !*title || g_look.TitlePosition == 0) return;
  const int32_t clientWidth = client.right - client.left;
  int32_t lineHeight = 0;
  HFONT font = ChooseTitleFont(dc, title, clientWidth, lineHeight);
  if (!font) return;
  HGDIOBJ previous = SelectObject(dc, font);
  const TitleExtent e = MeasureTitle(dc, title);
  const int32_t shadow = g_look.TitleShadow;
  const int32_t available = clientWidth - 2 * shadow - 4;
  const Align align = TitleAlignment(g_look.TitlePosition);
  const int32_t y = TitleAtBottom(g_look.TitlePosition) ? client.bottom - shadow - e.height - 1 : 1;
  SetBkMode(dc, TRANSPARENT);
  if (shadow > 0) {
    SetTextColor(dc, RGB(0, 0, 0));
    DrawTitleLines(dc, title, shadow + 2, y + shadow, available, align, lineHeight);
  }
  SetTextColor(dc, Rgb(g_look.TitleColor));
  DrawTitleLines(dc, title, 2, y, available, align, lineHeight);
  SelectObject(dc, previous);
  DeleteObject(font);
}

HWND CreateBackgroundWindow(HINSTANCE instance, HWND parent, const char* taskbarText, bool maximised) {
  if (!ShowsWindows()) return nullptr;
  if (!RegisterBackgroundClass(instance)) FatalMessage(kWindowFailedText);
  RECT area = {0, 0, 0, 0};
  if (!maximised && !SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) maximised = true;
  if (maximised) area = RECT{0, 0, 0, 0};
  HWND window = CreateWindowExA(0, kClassName, "", WS_POPUP, area.left, area.top, area.right - area.left,
                                area.bottom - area.top, parent, nullptr, instance, nullptr);
  if (!window) FatalMessage(kWindowFailedText);
  SetWindowTextA(window, taskbarText ? taskbarText : "");
  ShowWindow(window, SW_HIDE);
  ShowWindow(window, maximised ? SW_SHOWMAXIMIZED : SW_SHOW);
  SetForegroundWindow(window);
  SetActiveWindow(window);
  InvalidateRect(window, nullptr, TRUE);
  return window;
}

void RepaintBackground() {
  if (g_backgroundWindow) InvalidateRect(g_backgroundWindow, nullptr, TRUE);
}
