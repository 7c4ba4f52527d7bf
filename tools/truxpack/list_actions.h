// The lines `truxpack list` prints for what the installation does after the
// files: the product key, the shortcut settings and requests, the file
// associations, and the entries that join the shared-file, COM-server and
// type-library lists or ask for a shortcut.
#pragma once
#include <stdio.h>

#include <string>
#include <vector>

#include "archive/settings.h"
#include "tools/truxpack/installer_reader.h"

// The settings' part: nothing is printed for an empty key or list.
void PrintActionSettings(FILE* out, const ArchiveSettings& s);

// The entries' part; destination gives an entry's destination as the list
// shows it.
void PrintEntryActions(FILE* out, const std::vector<ReadEntry>& entries,
                       std::string (*destination)(const ReadEntry&));

// The marker name of an entry in the shared-file list ("plain", "permanent",
// "com_server", "type_library"), or null when the entry is not shared.
const char* SharedFileRole(const ReadEntry& e);
