// Reading the project file's TOML: tables whose read keys are remembered, so
// that a key nobody asked for (usually a typing error) is reported, and one
// place that words every error as "FILE: KEY: what is wrong".
#pragma once
#include <stdint.h>

#include <filesystem>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <toml++/toml.h>
#include <vector>

#include "archive/settings.h"
#include "core/string.h"
#include "tools/truxpack/file_io.h"
#include "tools/truxpack/project_keys.h"

// The largest project or language file read: 16 MiB (project files are a
// few kilobytes; the limit keeps a device or a huge file from being parsed).
constexpr uint64_t kMaxProjectFileSize = 16u << 20;

// Parses "YYYY-MM-DD", "YYYY-MM-DD HH:MM" or "YYYY-MM-DD HH:MM:SS" (a date
// without time gets hour -1, the format's mark for a missing time).
bool ParseDateTimeText(const std::string& text, ArchiveDateTime& time);

inline String ToString(const std::string& s) { return String(s.data(), (int32_t)s.size()); }

class Loader;

// The known name closest to name when it is close enough to be a typing
// error, else empty.
std::string NearestName(const std::string& name, const std::vector<std::string>& known);

// One TOML table with the keys read from it remembered, so that unknown keys
// (usually typing errors) are reported. Every key is read through the
// loader's key table: a key the table lacks is a load error, and ranges and
// names of choices come from the table.
class Table {
 public:
  Table(Loader& loader, const toml::table* table, std::string path);
  bool Present() const { return t_ != nullptr; }
  std::string Key(const std::string& k) const { return path_.empty() ? k : path_ + "." + k; }
  // The key's node, null when absent (or when the key table lacks the key,
  // which fails the load).
  const toml::node* Get(const std::string& k);
  bool Text(const std::string& k, std::string& out) {
    bool present = false;
    return Text(k, out, present);
  }
  bool Text(const std::string& k, std::string& out, bool& present);
  bool Text(const std::string& k, String& out) {
    std::string s;
    bool present = false;
    if (!Text(k, s, present)) return false;
    if (present) out = ToString(s);  // absent: the caller's default stays
    return true;
  }
  bool Bool(const std::string& k, bool& out);
  // A whole number within the key's range.
  bool Int(const std::string& k, int64_t& out);
  // One of the key's choices by name, or a number within its range.
  bool Pick(const std::string& k, int64_t& out);
  // A list of the key's choices by name (their values ORed), or a number
  // within its range.
  bool NameSet(const std::string& k, uint32_t& out);
  // One of the key's choices by name, as written.
  bool Name(const std::string& k, std::string& out);
  bool Color(const std::string& k, uint32_t& out);
  bool DateTime(const std::string& k, ArchiveDateTime& out, bool& present);
  bool FileBytes(const std::string& k, std::string& out, bool& present);
  bool TextList(const std::string& k, std::vector<std::string>& out);
  // A text used as it is written (a source file name on this machine).
  bool RawText(const std::string& k, std::string& out);
  Table Sub(const std::string& k);
  bool Arrays(const std::string& k, std::vector<Table>& out);
  bool CheckUnknown();

 private:
  // The key's node (null when absent) and its entry in the key table;
  // false, with the load failed, when the table lacks the key.
  // kinds: those the caller reads (empty: any).
  bool Find(const std::string& k, std::initializer_list<KeyKind> kinds, const toml::node*& node,
            const ProjectKey*& spec);
  bool Read(const std::string& k, std::initializer_list<KeyKind> kinds, const toml::node*& node);
  bool InRange(const std::string& k, const toml::node& n, const ProjectKey& spec, int64_t& out);
  Loader& l_;
  const toml::table* t_;
  std::string path_;
  std::string scope_;  // path_ without list indices: the key table's name for it
  std::set<std::string> known_;
};

// The state of one file's load: its name and directory, the text encoding,
// and the first error (later failures keep the first one).
class Loader {
 public:
  std::string file;                // as given, for messages
  std::filesystem::path directory; // base of relative file names
  bool rawText = false;            // text_encoding = "bytes"
  std::string error;
  // The keys this kind of file may hold.
  const KeyTable* keys = &ProjectKeys();
  // Every file read for the project (the project's inputs, which no output
  // may replace); may be null.
  std::vector<FileIdentity>* inputs = nullptr;
  // Problems that do not stop the load (the project's warnings); may be null.
  std::vector<std::string>* warnings = nullptr;
  // The project file's directory, canonical: a file the project names that
  // lies outside it is a warning, or with confine an error. Empty: no check.
  std::filesystem::path projectRoot;
  bool confine = false;
  // Where each key read so far stands in the file (line, column), so that an
  // error about a key names its place.
  std::map<std::string, std::pair<uint32_t, uint32_t>> positions;

  // "FILE:LINE:COLUMN: KEY: WHAT" when the key was read from the file, else
  // "FILE: KEY: WHAT". Keeps the first error.
  bool Fail(const std::string& key, const std::string& what);
  void Remember(const std::string& key, const toml::node* node);
  // Reads and parses a TOML file (a regular file of at most
  // kMaxProjectFileSize bytes); a syntax error is "FILE:LINE:COLUMN: what".
  bool Parse(const std::filesystem::path& path, toml::table& doc);
  // A text from the project, converted to the 8-bit form the runtime shows.
  bool Convert(const std::string& key, const std::string& utf8, std::string& out);
  std::filesystem::path Resolve(const std::string& name) const;
  // Reads the file the project names (checked with CheckInside first).
  bool ReadFile(const std::string& key, const std::string& name, std::string& out);
  // "KEY: WHAT" among the warnings.
  void Warn(const std::string& key, const std::string& what);
  // The file at path, named so in the project, wherever its links lead: when
  // that is outside the project directory, a warning, or with confine the
  // error (false). A project packed by someone who did not write it must not
  // ship the packing machine's files.
  bool CheckInside(const std::string& key, const std::string& named, const std::filesystem::path& path);
};

// Whether path lies in root or below it (both canonical or both lexically
// normal absolute paths).
bool PathWithin(const std::filesystem::path& path, const std::filesystem::path& root);
