// The keys of the project file, as one table: every table, list of tables
// and key the loader reads, with the kind of value it takes, its range or
// names, and a line of help. The loader reads keys only through this table
// (asking for a key it lacks is a load error naming the key), and the
// project file's JSON Schema is generated from it, so the schema holds
// exactly the keys the loader knows.
#pragma once
#include <stdint.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

// A named flag bit of the [flags] table: each is a key of that table.
struct FlagName {
  const char* key;
  int bit;
  const char* meaning;
};
const std::vector<FlagName>& FlagNames();

// One accepted name of a key whose value is picked from a list.
struct Choice {
  const char* name;
  int64_t value;
};

enum class KeyKind {
  kText,       // a text, converted to Windows-1252 (unless text_encoding = "bytes")
  kPath,       // a file name or glob on this machine, used as written
  kFile,       // a file name whose bytes the project takes
  kBool,
  kInteger,    // a whole number from min to max
  kChoice,     // one of the choices' names, or a number from min to max
  kName,       // one of the choices' names only
  kNameSet,    // a list of the choices' names (their values ORed), or a number from min to max
  kColor,      // "#RRGGBB" or a COLORREF number
  kDate,       // a TOML date or date-time, or a text "YYYY-MM-DD[ HH:MM[:SS]]"
  kTextList,   // a list of texts; at most max items when max > 0
  kFlagWord,   // a number from 0, or a text "0x" with up to 16 hexadecimal digits (bit 63 included)
  kPattern,    // a text the pattern matches
  kMessages,   // a table of texts keyed by message number
  kTable,      // a table of its own keys
  kTableList,  // a list of tables [[name]], each of its own keys
};

struct ProjectKey {
  const char* table;  // the table the key belongs to: "" for the top level, "product", "file", ...
  const char* name;
  KeyKind kind;
  const char* help;
  int64_t min = 0, max = 0;
  const std::vector<Choice>* choices = nullptr;
  const char* pattern = nullptr;  // kPattern: an ECMA-262 regular expression (the schema's dialect)
  bool required = false;          // must be present (a text: and not empty)

  ProjectKey Range(int64_t lo, int64_t hi) const {
    ProjectKey k = *this;
    k.min = lo;
    k.max = hi;
    return k;
  }
  ProjectKey Names(const std::vector<Choice>& list) const {
    ProjectKey k = *this;
    k.choices = &list;
    return k;
  }
  ProjectKey Pattern(const char* p) const {
    ProjectKey k = *this;
    k.pattern = p;
    return k;
  }
  ProjectKey Required() const {
    ProjectKey k = *this;
    k.required = true;
    return k;
  }
};

// The keys of one kind of file, in the order the guide lists them, with a
// lookup by table and name. A key of kind kTable or kTableList named N in
// table T opens the table "N" (T empty) or "T.N".
class KeyTable {
 public:
  explicit KeyTable(std::vector<ProjectKey> keys);
  const std::vector<ProjectKey>& Keys() const { return keys_; }
  // Null when the table has no such key.
  const ProjectKey* Find(const std::string& table, const std::string& name) const;
  // The table a kTable or kTableList key opens.
  static std::string Inner(const ProjectKey& key);

 private:
  std::vector<ProjectKey> keys_;
  std::map<std::pair<std::string, std::string>, size_t> index_;
};

// The project file's keys.
const KeyTable& ProjectKeys();
// A language file's keys (name and messages).
const KeyTable& LanguageFileKeys();

// The names of a key's choices for messages, the last joined by lastJoin:
// "a, b or c" (quoted: "\"a\", \"b\" or \"c\"").
std::string ChoiceNames(const ProjectKey& key, const char* lastJoin, bool quoted = false);
