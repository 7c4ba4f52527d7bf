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

// How a build is signed: the [signing] table, overridden by --sign-*
// options. Paths are absolute once loaded (the project's relative ones are
// taken from its directory, the options' from the current one). A build is
// signed when a key (certificate and key, or pkcs12) or a command is given.
struct SigningOptions {
  std::string certificate;   // PEM certificate chain, the signer's first
  std::string key;           // PEM private key
  std::string pkcs12;        // PKCS#12 file with key and chain, instead of the two
  std::string passwordFile;  // file whose content is the key's password
  std::string passwordEnv;   // or the environment variable holding it
  std::string command;       // or a command that signs the file "{file}" names, in place
  std::string commandDirectory;  // where the command runs: the directory its relative paths start from
  std::string hash;          // digest: sha1, sha256, sha384, sha512 (key files only); empty: sha256
  std::string timestampUrl;  // RFC 3161 timestamp server (key files only)
  bool uninstaller = true;   // sign the uninstaller too (flags.uninstaller)
  bool Enabled() const { return !certificate.empty() || !key.empty() || !pkcs12.empty() || !command.empty(); }
};

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
  // Bytes written after the archive section, which the uninstaller carries:
  // the signed uninstaller's certificate table with its alignment padding
  // (its headers' changes travel as the uninstaller patch). Empty unless the
  // build signs the uninstaller.
  Bytes uninstallerTail;
  SigningOptions signing;
};

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
