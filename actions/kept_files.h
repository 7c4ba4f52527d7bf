// Files the installation leaves for later use: the background picture for
// the uninstaller's own background window, and the readme and licence texts.
//
// Each file written is recorded in the run's uninstall list as a file line:
//  - "Installer Background.BMP" in the uninstall directory (flag bit 15, the
//    archive carrying a valid packed bitmap), a complete .BMP file;
//  - with flag bit 46, the non-empty readme texts in the install directory:
//    "readme.txt" when there is only one, else "readme1.txt", "readme2.txt",
//    ... numbered over the non-empty texts;
//  - with flag bit 47, the licence texts the same way as "eula.txt" or
//    "eula1.txt", "eula2.txt", ...
// A file that cannot be written is neither reported nor recorded.
#pragma once
#include "archive/settings.h"
#include "core/containers.h"
#include "core/string.h"

struct Run;

constexpr char kKeptBackgroundName[] = "Installer Background.BMP";

void WriteKeptFiles(Run& run, const ArchiveSettings& settings);

// The file name of text number (1-based) among count non-empty texts:
// base + ".txt" when count is 1, else base + number + ".txt".
String KeptTextFileName(const char* base, int32_t number, int32_t count);
