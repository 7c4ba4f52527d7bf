// What changed between two snapshots of a Wine prefix, and which of those
// changes are Wine's own housekeeping rather than a program's doing.
//
// The list of Wine's housekeeping (WineHousekeepingRules) is the one list:
// `truxpack try` leaves its items out of what it counts as left behind, and
// the round-trip tests compare prefixes through `truxpack diff`, which uses
// it too.
#pragma once
#include <string>
#include <vector>

#include "tools/truxpack/prefix_snapshot.h"

enum class ItemKind { kDirectory, kFile, kSymlink, kOther, kKey, kValue };
enum class Change { kAdded, kRemoved, kChanged };

struct Difference {
  ItemKind kind = ItemKind::kFile;
  Change change = Change::kAdded;
  std::string path;  // files: below drive_c ("windows/win.ini"); registry: the key's path
  std::string name;  // kValue: the value's name ("" for the default value)
  // What was there and what is there (kinds of drive items; a kind may
  // change, say from file to directory): the side that is absent stays empty.
  SnapshotEntry before, after;
  std::string dataBefore, dataAfter;  // kValue: the data as RegistryValue::data
  // Why Wine itself made this change, when it did; nullptr otherwise.
  const char* housekeeping = nullptr;
};

// Every difference, drive items first (by path), then keys and values (by
// key path, each key before its values). Files differ when their kind, size,
// hash, attributes or link target differ; modification times are not
// compared. Keys and value names are compared without regard to ASCII case.
std::vector<Difference> DiffSnapshots(const Snapshot& before, const Snapshot& after);

// One entry of the list of Wine's own housekeeping.
struct HousekeepingRule {
  enum Scope {
    kKeySubtree,      // the key, its subkeys and all their values, any change
    kKeyAddedAlone,   // the key itself added (its values are compared as usual)
    kBatchDirectory,  // an added directory named trux- and 16 hexadecimal digits
  };
  Scope scope;
  const char* where;  // a key path, or a drive path with * for one component
  const char* reason;
};
const std::vector<HousekeepingRule>& WineHousekeepingRules();

// The reason a difference is Wine's housekeeping, or nullptr.
const char* WineHousekeeping(const Difference& d);

// One line for a difference: a sign (+ added, - removed, ~ changed), the
// item's kind, its Windows name and what changed, e.g.
//   + file C:\Program Files\Demo\readme.txt (1234 bytes)
//   ~ value HKEY_LOCAL_MACHINE\Software\Demo "Count": 1 (0x00000001) -> 2 (0x00000002)
std::string DifferenceLine(const Difference& d);

// The Windows name of a difference's item (a drive path or a key path).
std::string ItemName(const Difference& d);
