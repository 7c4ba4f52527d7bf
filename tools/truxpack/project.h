// The project file: a TOML description of a product, turned into the archive
// settings and the entries to pack. docs/truxpack.md lists every key.
//
// Errors name the file, the key and what is wrong, in one line; the first
// error stops the load, and nothing is written by a failed load.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "archive/settings.h"
#include "tools/truxpack/archive_writer.h"
#include "tools/truxpack/file_io.h"

struct Project {
  ArchiveSettings settings;
  std::vector<EntryInput> entries;
  std::vector<std::string> sources;  // entries' source files, for messages
  PackOptions pack;
  bool volumeBaseNameSet = false;    // else the build uses the project file's stem
  std::vector<FileIdentity> inputs;  // every file the project read, which no output may replace
  std::vector<std::string> warnings; // problems that do not stop the build (--werror makes them errors)
  int32_t timeZoneOffset = 0;        // data.time_zone in seconds east of UTC
  int64_t sourceDateEpoch = -1;      // SOURCE_DATE_EPOCH, or -1 when not set
  bool readData = true;              // LoadProject's choice: entries' bytes read, or left in their files
};

// A named flag bit of the [flags] table.
struct FlagName {
  const char* key;
  int bit;
  const char* meaning;
};
const std::vector<FlagName>& FlagNames();

// Loads path. Relative file names inside it are taken relative to its
// directory. Returns false with error set. With readData false the entries'
// bytes are not read: each entry keeps its source file and size (checked
// against the 1 GiB limit), to be read when the installer is written.
// Files the project names outside its directory (absolute paths, "..",
// links leading out) are warnings, or with confine errors.
bool LoadProject(const std::string& path, Project& project, std::string& error, bool readData = true,
                 bool confine = false);

// The example project written by `truxpack init`, and the files it names.
struct InitFile {
  const char* path;
  const char* content;
};
const std::vector<InitFile>& InitProjectFiles();
