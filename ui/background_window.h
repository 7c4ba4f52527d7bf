// The background window ("XAV Window Class"): a borderless window over the
// work area that shows a vertical colour gradient (or one colour), an
// optional picture and the product's title in large type with an optional
// drop shadow. It owns the installer's dialogs and message boxes until the
// progress dialog exists, and its text is the taskbar button's.
//
// The window is an object (BackgroundWindow): its procedure finds the object
// through the window's user data, set from the creation parameter. All of
// its work happens in that procedure on the GUI thread. Fonts and brushes
// are created per paint and deleted at once; nothing is cached (GradientFill
// comes from the run-time table, core/win32/dynamic_library).
#pragma once
#include <windows.h>
#include <stdint.h>

#include "archive/packed_dib.h"
#include "archive/settings.h"
#include "core/string.h"

struct Run;

// What the window draws. The initial values are in force until the settings
// are read (the uninstaller sets what it stored).
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

// Takes the look from the archive settings (the picture is read in place from
// the settings' bytes, which live for the whole run).
void SetBackgroundFromSettings(BackgroundLook& look, const ArchiveSettings& settings);

// Checks and keeps the picture in look: a packed DIB. Bytes that do not hold
// a drawable picture leave no picture. The bytes must stay for the window's
// life.
void SetBackgroundPicture(BackgroundLook& look, const char* bytes, int32_t size);

// The same for a .BMP file (the uninstaller keeps the installer's picture
// as one): the packed DIB after its 14-byte file header is the picture.
// Bytes that do not start with a file header leave no picture.
void SetBackgroundBmpFile(BackgroundLook& look, const char* bytes, int32_t size);

class BackgroundWindow {
 public:
  explicit BackgroundWindow(Run& run) : run_(run) {}
  ~BackgroundWindow();
  BackgroundWindow(const BackgroundWindow&) = delete;
  BackgroundWindow& operator=(const BackgroundWindow&) = delete;

  // Registers the class on first use, creates and shows the window (over
  // the work area, or maximised when asked or when the work area is
  // unknown) and makes it the run's background window. Failure shows the
  // fatal message and ends the process. A silent run (/s) gets no window.
  // The title drawn is the run's display title.
  void Create(const char* taskbarText, bool maximised);

  // Repaints the whole window, if there is one (after a language change,
  // when the title changed, or when the look was read).
  void Repaint() const;

  HWND Handle() const { return window_; }

  BackgroundLook look;
  // A picture read at run time (the uninstaller's kept file) lives here, so
  // that the look can read it in place for the window's life.
  String pictureBytes;

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

  Run& run_;
  HWND window_ = nullptr;
};

// The painting itself, of a look on any device context: the window calls
// them for its client rectangle; tests paint into memory bitmaps. PaintBackground fills
// the gradient (through GradientFill, or in bands when it is unavailable or
// not wanted) and draws the picture; PaintTitle draws title (its lines end at
// CR, LF or CR LF) in the look's font, colour, place and shadow.
enum class GradientPath { kGradientFillIfPresent, kBands };
void PaintBackground(const BackgroundLook& look, HDC dc, const RECT& client,
                     GradientPath path = GradientPath::kGradientFillIfPresent);
void PaintTitle(const BackgroundLook& look, HDC dc, const RECT& client, const char* title);
