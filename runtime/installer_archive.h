// The installer's archive of a run: finding it in the own image,
// checking its header, reading the settings and building the uninstaller
// image.
//
// Every failure here ends the process: the numbered corrupt-archive errors
// through ReportCorruptArchive, the rest with their own fatal messages.
#pragma once
#include <stdint.h>

#include "archive/archive_reader.h"
#include "archive/pe_image.h"
#include "archive/settings.h"
#include "core/win32/disk_file.h"
#include "runtime/settings_steps.h"

// The own image and the archive, the run's for its whole length. The mapped
// section is read in place; the own file stays open (later steps read data
// beyond the section through it).
struct InstallerArchive {
  DiskFile ownFile;
  int64_t ownFileSize = 0;
  PeLayout layout;
  const unsigned char* base = nullptr;  // the section as the loader mapped it
  ArchiveCursor cursor;
  ArchiveHeaderValues header;
  ArchiveSettings settings;
  String uninstallerImage;
};

struct Run;

// The corrupt-archive message (message 13 once the message table exists,
// else the built-in English text) with the code; ends the process.
[[noreturn]] void ReportCorruptArchive(Run& run, int32_t code);

// The steps on run.archive, in this order.
void LocateArchive(Run& run);
void ReadInstallerHeader(Run& run);
String LoadInstallerSettingsBlock(Run& run);
// Reads the settings stream with steps (the run state's, or a caller's that
// adds to them); then the message table and the uninstall name come from the
// settings.
void ReadInstallerSettings(Run& run, const String& stream, RuntimeSettingsSteps& steps);
void BuildUninstallerImage(Run& run);
