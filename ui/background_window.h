// The background window ("XAV Window Class"): a borderless window over the
// work area that shows a vertical colour gradient (or one colour), an
// optional picture and the product's title in large type with an optional
// drop shadow. It owns the installer's dialogs and message boxes until the
// progress dialog exists, and its text is the taskbar button's.
//
// All of its work happens in its window procedure on the GUI thread. Fonts
// and brushes are created per paint and deleted at once; nothing is cached
// (GradientFill comes from the run-time table, core/win32/dynamic_library).
#pragma once
#include <windows.h>
#include <stdint.h>

#include "archive/packed_dib.h"
#include "archive/settings.h"
#include "core/string.h"

// What the window draws. Process-wide; the initial values are in force until
// the settings are read (the uninstaller sets what it stored).
struct BackgroundLook {
  uint32_t TitleColor = 0;   // COLORREF 0x00BBGGRR; the top byte is ignored
  uint32_t TopColor = 0;
  uint32_t BottomColor = 0;
  bool MonoColor = false;    // one flat TopColor instead of the gradient
  uint8_t TitleShadow = 1;   // the shadow's offset in pixels, 0 = none
  uint8_t TitlePosition = 0; // 0 none, 1-3 top left/centre/right, 4-6 bottom; others top left
  String TitleFont = "Times New Roman Bold Italic";
  uint32_t BitmapSize = 0;   // percent of the window the picture area takes
  uint32_t StretchMode = kStretchWholeFactor;  // kStretchFit, kStretchWholeFactor, kStretchTile; others stretch
  // The picture: packed DIB bytes read in place (they must stay for the
  // window's life), and what their header says; width 0 = no picture.
  const char* pictureBytes = nullptr;
  PackedDib picture;
};

BackgroundLook& Background();

// Takes the look from the archive settings (the picture is read in place from
// the settings' bytes, which live for the whole run).
void SetBackgroundFromSettings(const ArchiveSettings& settings);

// Checks and keeps the picture: a packed DIB. Bytes that do not hold a
// drawable picture leave no picture. The bytes must stay for the window's
// life.
void SetBackgroundPicture(const char* bytes, int32_t size);

// The same for a .BMP file (the uninstaller keeps the installer's picture
// as one): the packed DIB after its 14-byte file header is the picture.
// Bytes that do not start with a file header leave no picture.
void SetBackgroundBmpFile(const char* bytes, int32_t size);

// Registers the class on first use and creates and shows the window: over the
// work area, or maximised when asked (or when the work area is unknown).
// Failure shows the fatal message and ends the process. A silent run (/s)
// gets no window: null.
HWND CreateBackgroundWindow(HINSTANCE instance, HWND parent, const char* taskbarText, bool maximised);

// Repaints the whole background window, if there is one (after a language
// change, when the title changed).
void RepaintBackground();

// The painting itself, on any device context: the window calls them for its
// client rectangle; tests paint into memory bitmaps. PaintBackground fills
// the gradient (through GradientFill, or in bands when it is unavailable or
// not wanted) and draws the picture; PaintTitle draws title (its lines end at
// CR, LF or CR LF) in the look's font, colour, place and shadow.
enum class GradientPath { kGradientFillIfPresent, kBands };
void PaintBackground(HDC dc, const RECT& client, GradientPath path = GradientPath::kGradientFillIfPresent);
void PaintTitle(HDC dc, const RECT& client, const char* title);
