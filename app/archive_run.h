// The install run's first steps: the archive read from the own image (see
// runtime/installer_archive.h) and the language chosen.
#pragma once
#include "runtime/installer_archive.h"

class BackgroundWindow;
struct Run;

// The language dialog when the archive has several languages and the run is
// not automatic (Cancel ends the process); then the background window's
// title: message 0 in the chosen language, or with the keep-title flag
// (bit 42) message 0 in the language the table starts in (the last
// "English", else the first), whatever the user chose.
void ChooseLanguage(Run& run, BackgroundWindow& background);

// The whole sequence, in order, for the install run; the background window
// shows as soon as the flags are read.
void ReadArchive(Run& run, BackgroundWindow& background);
