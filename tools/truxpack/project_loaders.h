// The loaders of the project file's sections, one per table or list of
// tables; project.cpp calls them in order. Each returns false with the
// loader's error set at the first problem.
#pragma once
#include <vector>

#include "archive/settings.h"
#include "tools/truxpack/project.h"
#include "tools/truxpack/project_toml.h"

// The error of a shortcut or folder name that would leave its folder.
constexpr char kUnsafeLinkName[] = "must stay inside its folder: no drive, no leading \\, no .. part";

// Settings tables (project_settings.cpp).
bool LoadFlags(Loader& l, Table t, ArchiveSettings& s);
bool LoadProduct(Loader& l, Table t, ArchiveSettings& s);
bool LoadDialogs(Loader& l, Table t, ArchiveSettings& s);
bool LoadBackground(Loader& l, Table t, ArchiveSettings& s);
bool LoadShortcutsTable(Loader& l, Table t, ArchiveSettings& s);
bool LoadBatches(Table t, ArchiveSettings& s);
bool LoadUninstall(Loader& l, Table t, ArchiveSettings& s);
bool LoadData(Loader& l, Table t, Project& p);
bool LoadRecordLists(Loader& l, Table& root, ArchiveSettings& s);
// [signing]: how the build is signed; nothing of it reaches the archive.
bool LoadSigning(Loader& l, Table t, Project& p);

// [messages] and [languages] (project_languages.cpp).
bool LoadLanguages(Loader& l, Table& root, ArchiveSettings& s);

// [[file]] (project_files.cpp).
bool LoadFiles(Loader& l, Table& root, Project& p);
