// The install run's first steps: finding the archive in the own image,
// checking its header, reading the settings, building the uninstaller image
// and choosing the language.
//
// Every failure here ends the process: the numbered corrupt-archive errors
// through ReportCorruptArchive, the rest with their own fatal messages.
#pragma once
#include <stdint.h>

#include "archive/archive_reader.h"
#include "archive/pe_image.h"
#include "archive/settings.h"
#include "core/disk_file.h"

// The own image and the archive, process-wide for the whole run. The mapped
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

extern InstallerArchive g_archive;

// The corrupt-archive message (message 13 once the message table exists,
// else the built-in English text) with the code; ends the process.
[[noreturn]] void ReportCorruptArchive(int32_t code);

void LocateArchive();
void ReadInstallerHeader();
String LoadInstallerSettingsBlock();
void ReadInstallerSettings(const String& stream);
void BuildUninstallerImage();
void ChooseLanguage();

// The whole sequence, in order, for the install run.
void ReadArchive();
