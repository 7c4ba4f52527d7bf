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


// ------------------------------------------------------------ gradient

COLORREF Rgb(uint32_t color) { return color & 0x00FFFFFFu; }
int Component(uint32_t color, int index) { return (int)((color >> (8 * index)) & 0xFFu); }

void FillSolid(HDC dc, const RECT& r, COLORREF color) {
  HBRUSH brush = CreateSolidBrush(color);
  if (!brush) return;
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

bool FillWithGradientFill(const BackgroundLook& look, HDC dc, const RECT& r) {
  const auto gradientFill = SystemApi(kLibMsImg32).GradientFill;
  if (!gradientFill) return false;
  TRIVERTEX v[2];
  const uint32_t colors[2] = {look.TopColor, look.BottomColor};
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

void FillWithBands(const BackgroundLook& look, HDC dc, const RECT& r) {
  const int32_t span = r.bottom - r.top + 1;
  int32_t bandHeight = span / kBandsPerWindow;
  if (bandHeight < 1) bandHeight = 1;
  if (bandHeight > kMaxBandHeight) bandHeight = kMaxBandHeight;
  const int32_t count = span / bandHeight;
  BandComponent c[3] = {{Component(look.TopColor, 0), Component(look.BottomColor, 0), count},
                        {Component(look.TopColor, 1), Component(look.BottomColor, 1), count},
                        {Component(look.TopColor, 2), Component(look.BottomColor, 2), count}};
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

void DrawPicture(const BackgroundLook& look, HDC dc, const Box& to) {
  const PackedDib& p = look.picture;
  const BITMAPINFO* info = reinterpret_cast<const BITMAPINFO*>(look.pictureBytes);
  StretchDIBits(dc, to.left, to.top, to.Width(), to.Height(), 0, 0, p.width, p.height,
                look.pictureBytes + p.bitsOffset, info, DIB_RGB_COLORS, SRCCOPY);
}

void DrawTiles(const BackgroundLook& look, HDC dc, const RECT& r) {
  const int32_t w = look.picture.width, h = look.picture.height;
  const int32_t columns = (r.right - r.left + w - 1) / w, rows = (r.bottom - r.top + h - 1) / h;
  for (int32_t column = 0; column < columns; ++column)
    for (int32_t row = 0; row < rows; ++row)
      DrawPicture(look, dc, Box{column * w, row * h, column * w + w - 1, row * h + h - 1});
}

void DrawPictureInArea(const BackgroundLook& look, HDC dc, const RECT& r) {
  const int32_t w = look.picture.width, h = look.picture.height;
  const int32_t width = Percent(r.right - r.left, look.BitmapSize);
  const int32_t height = Percent(r.bottom - r.top, look.BitmapSize);
  if (width <= 0 || height <= 0) return;
  Box area;
  area.left = (r.left + r.right - width) / 2;
  area.top = (r.top + r.bottom - height) / 2;
  area.right = area.left + width - 1;
  area.bottom = area.top + height - 1;
  Box to = area;
  if (look.StretchMode == kStretchFit) {
    to = FitIn(area, w, h);
  } else if (look.StretchMode == kStretchWholeFactor) {
    const int32_t kw = area.Width() / w, kh = area.Height() / h;
    const int32_t k = kw < kh ? kw : kh;
    to = k >= 1 ? CentreIn(area, k * w, k * h) : FitIn(area, w, h);
  }
  if (to.Width() <= 0 || to.Height() <= 0) return;
  DrawPicture(look, dc, to);
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

enum class Align { kLeft, kCentre, kRight };

// Where the title's lines go: the first line's left edge and top, the width
// they are aligned in, and the height of a line.
struct TitlePlace {
  int32_t x, y, available, lineHeight;
  Align align;
};

int32_t FloorHalf(int32_t n) { return n >= 0 ? n / 2 : -((-n + 1) / 2); }

// Measures the title's lines in the context's font: the widest line and the
// lines' heights summed. With a place, each line is also drawn there.
TitleExtent TitleLines(HDC dc, const char* title, const TitlePlace* place) {
  TitleExtent e;
  if (!place) SetTextJustification(dc, 0, 0);
  int32_t y = place ? place->y : 0;
  ForEachLine(title, [&](const char* line, int length) {
    SIZE size = {0, 0};
    GetTextExtentPoint32A(dc, line, length, &size);
    if (size.cx > e.width) e.width = size.cx;
    e.height += size.cy;
    if (!place) return;
    int32_t offset = 0;
    if (place->align == Align::kCentre) offset = FloorHalf(place->available - size.cx);
    if (place->align == Align::kRight) offset = place->available - size.cx;
    TextOutA(dc, place->x + offset, y, line, length);
    y += place->lineHeight;
  });
  return e;
}

HFONT CreateTitleFont(const BackgroundLook& look, int32_t pixelHeight) {
  return CreateFontA(pixelHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_TT_PRECIS,
                     CLIP_DEFAULT_PRECIS, PROOF_QUALITY, DEFAULT_PITCH | FF_DONTCARE, look.TitleFont.CStr());
}

// The largest size from 26 points down whose title fits the width with the
// shadow and a margin; at 6 points the font is taken whatever the width.
HFONT ChooseTitleFont(const BackgroundLook& look, HDC dc, const char* title, int32_t clientWidth,
                      int32_t& pixelHeight) {
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  for (int points = kFirstTitlePoints;; --points) {
    pixelHeight = dpi * points / 72;
    HFONT font = CreateTitleFont(look, pixelHeight);
    if (!font || points <= kSmallestTitlePoints) return font;
    HGDIOBJ previous = SelectObject(dc, font);
    const TitleExtent e = TitleLines(dc, title, nullptr);
    SelectObject(dc, previous);
    if (look.TitleShadow + e.width + 2 < clientWidth) return font;
    DeleteObject(font);
  }
}

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

// ------------------------------------------------------------ window

// The class is registered once per process; a second registration finds it
// there already, which is as good.
bool RegisterBackgroundClass(HINSTANCE instance, WNDPROC procedure) {
  WNDCLASSA c = {};
  c.style = CS_HREDRAW | CS_VREDRAW;
  c.lpfnWndProc = procedure;
  c.hInstance = instance;
  c.lpszClassName = kClassName;
  return RegisterClassA(&c) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

}  // namespace

void SetBackgroundPicture(BackgroundLook& look, const char* bytes, int32_t size) {
  if (ReadPackedDib(bytes, size, look.picture))
    look.pictureBytes = bytes;
  else
    look.pictureBytes = nullptr;
}

void SetBackgroundBmpFile(BackgroundLook& look, const char* bytes, int32_t size) {
  if (bytes && size > kBmpFileHeaderSize && bytes[0] == 'B' && bytes[1] == 'M')
    SetBackgroundPicture(look, bytes + kBmpFileHeaderSize, size - kBmpFileHeaderSize);
  else
    SetBackgroundPicture(look, nullptr, 0);
}

void SetBackgroundFromSettings(BackgroundLook& look, const ArchiveSettings& s) {
  look.TitleColor = s.TitleColor;
  look.TopColor = s.TopColor;
  look.BottomColor = s.BottomColor;
  look.MonoColor = s.MonoColor();
  look.TitleShadow = s.TitleShadow;
  look.TitlePosition = s.TitlePosition;
  look.TitleFont = s.TitleFont;
  look.BitmapSize = s.BitmapSize;
  look.StretchMode = s.StretchMode;
  SetBackgroundPicture(look, s.backgroundBitmap.Buffer(), s.backgroundBitmap.Length());
}

void PaintBackground(const BackgroundLook& look, HDC dc, const RECT& r, GradientPath path) {
  if (look.MonoColor)
    FillSolid(dc, r, Rgb(look.TopColor));
  else if (path == GradientPath::kBands || !FillWithGradientFill(look, dc, r))
    FillWithBands(look, dc, r);

  if (!look.pictureBytes || look.picture.width <= 0 || look.BitmapSize == 0) return;
  // Shrinking a colour picture keeps whole pixels rather than blending them
  // into black (the context's default mode).
  const int previousMode = SetStretchBltMode(dc, COLORONCOLOR);
  if (look.StretchMode == kStretchTile)
    DrawTiles(look, dc, r);
  else
    DrawPictureInArea(look, dc, r);
  if (previousMode) SetStretchBltMode(dc, previousMode);
}

void PaintTitle(const BackgroundLook& look, HDC dc, const RECT& client, const char* title) {
  if (!title || !*title || look.TitlePosition == 0) return;
  const int32_t clientWidth = client.right - client.left;
  int32_t lineHeight = 0;
  HFONT font = ChooseTitleFont(look, dc, title, clientWidth, lineHeight);
  if (!font) return;
  HGDIOBJ previous = SelectObject(dc, font);
  const TitleExtent e = TitleLines(dc, title, nullptr);
  const int32_t shadow = look.TitleShadow;
  const int32_t y = TitleAtBottom(look.TitlePosition) ? client.bottom - shadow - e.height - 1 : 1;
  TitlePlace place = {shadow + 2, y + shadow, clientWidth - 2 * shadow - 4, lineHeight,
                      TitleAlignment(look.TitlePosition)};
  SetBkMode(dc, TRANSPARENT);
  if (shadow > 0) {
    SetTextColor(dc, RGB(0, 0, 0));
    TitleLines(dc, title, &place);
  }
  place.x = 2;
  place.y = y;
  SetTextColor(dc, Rgb(look.TitleColor));
  TitleLines(dc, title, &place);
  SelectObject(dc, previous);
  DeleteObject(font);
}

BackgroundWindow::~BackgroundWindow() {
  if (window_) DestroyWindow(window_);
}

LRESULT CALLBACK BackgroundWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE)
    SetWindowLongPtrA(window, GWLP_USERDATA,
                      (LONG_PTR) reinterpret_cast<const CREATESTRUCTA*>(lParam)->lpCreateParams);
  BackgroundWindow* self = reinterpret_cast<BackgroundWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  // Messages before WM_NCCREATE, and after the object let go of the window,
  // get the system's handling.
  if (!self) return DefWindowProcA(window, message, wParam, lParam);
  if (message == WM_NCCREATE) self->window_ = window;
  const LRESULT result = self->OnMessage(message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    self->window_ = nullptr;
  }
  return result;
}

LRESULT BackgroundWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND: {
      RECT client;
      GetClientRect(window_, &client);
      PaintBackground(look, reinterpret_cast<HDC>(wParam), client);
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window_, &ps);
      if (dc) {
        RECT client;
        GetClientRect(window_, &client);
        PaintTitle(look, dc, client, run_.displayTitle.CStr());
      }
      EndPaint(window_, &ps);
      return 0;
    }
    case WM_DESTROY:
      if (run_.windows.background == window_) run_.windows.background = nullptr;
      break;
  }
  return DefWindowProcA(window_, message, wParam, lParam);
}

void BackgroundWindow::Create(const char* taskbarText, bool maximised) {
  if (!ShowsWindows(run_)) return;
  if (!RegisterBackgroundClass(run_.instance, &Procedure)) FatalMessage(kWindowFailedText);
  RECT area = {0, 0, 0, 0};
  if (!maximised && !SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) maximised = true;
  if (maximised) area = RECT{0, 0, 0, 0};
  HWND window = CreateWindowExA(0, kClassName, "", WS_POPUP, area.left, area.top, area.right - area.left,
                                area.bottom - area.top, nullptr, nullptr, run_.instance, this);
  if (!window) FatalMessage(kWindowFailedText);
  run_.windows.background = window;
  SetWindowTextA(window, taskbarText ? taskbarText : "");
  ShowWindow(window, SW_HIDE);
  ShowWindow(window, maximised ? SW_SHOWMAXIMIZED : SW_SHOW);
  SetForegroundWindow(window);
  SetActiveWindow(window);
  InvalidateRect(window, nullptr, TRUE);
}

void BackgroundWindow::Repaint() const {
  if (window_) InvalidateRect(window_, nullptr, TRUE);
}
