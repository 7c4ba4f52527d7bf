// What the extraction records for the steps after it (registration,
// shortcuts, the Uninstall key), filled by ExtractEntries (install/) and read
// afterwards:
//  - sharedFiles: destination paths of shared files (kinds 1, 6, 7, 8),
//    each followed by at most one marker: ' ' permanent, '^' COM server,
//    0xA9 type library, none for a plain shared file;
//  - comServers: destination paths of COM servers (kind 7), to be
//    registered through their DllRegisterServer;
//  - typeLibraries: destination paths of type libraries (kind 8);
//  - fontText: for each font written and not permanent, a double quote,
//    the font name, the three characters `" "`, the entry's name and `" `;
//  - fontAdded: true once a font was written (permanent ones included);
//  - shortcuts: the shortcut requests of the entries written, made after
//    the archive's own shortcut records.
// An entry skipped by the overwrite rules is still listed in the first
// three lists (so reference counts and registrations still happen), but
// never in fontText.
#pragma once
#include "archive/settings.h"
#include "core/containers.h"
#include "core/string.h"

// Shared-file markers.
constexpr char kSharedPermanentMarker = ' ';
constexpr char kSharedComServerMarker = '^';
constexpr char kSharedTypeLibraryMarker = (char)0xA9;

struct ExtractionLists {
  Array<String> sharedFiles;
  Array<String> comServers;
  Array<String> typeLibraries;
  String fontText;
  bool fontAdded = false;
  Array<ShortcutRecord> shortcuts;
};
