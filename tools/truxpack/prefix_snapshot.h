// The state of a Wine prefix, for comparing the machine before an
// installation with the machine after it and after the product's removal:
// every directory and file under drive_c (size, SHA-256, the attributes
// Windows programs see), every shortcut read back to its target, and every
// registry key and value of the machine (system.reg) and of the user
// (user.reg).
//
// The registry is read from the files the wineserver saves, so a snapshot
// sees what the server last saved: take it while no wineserver runs for the
// prefix, or after `wineserver -k` (which saves before it ends) or
// `wineserver -w`.
//
// Files are never followed through symbolic links (a link is recorded as a
// link, with its target text), never opened except as regular files, and
// read in pieces: memory follows the number of items, not their sizes.
#pragma once
#include <stdint.h>

#include <map>
#include <string>

#include "tools/truxpack/shell_link.h"
#include "tools/truxpack/wine_registry.h"

struct SnapshotEntry {
  enum Kind { kDirectory, kFile, kSymlink, kOther };
  Kind kind = kFile;
  uint64_t size = 0;
  std::string hash;        // files: SHA-256 in hexadecimal
  std::string attributes;  // the letters of R (read-only), H (hidden), S (system) that Wine reports
  std::string linkTarget;  // symbolic links: the target text
  // How the file was found, for reusing its hash in the next snapshot of the
  // same prefix; not compared.
  int64_t mtimeNs = 0;
  std::string stamp;  // device, inode and change time
};

struct SnapshotShortcut {
  bool read = false;
  ShellLink link;
  std::string problem;  // why it could not be read
};

struct SnapshotKey {
  std::string path;                                  // as the registry spells it
  std::map<std::string, RegistryValue> values;       // by folded name
};

struct Snapshot {
  int64_t takenNs = 0;                               // when it was started (wall clock)
  std::map<std::string, SnapshotEntry> files;        // by path below drive_c ("windows/win.ini")
  std::map<std::string, SnapshotShortcut> shortcuts; // .lnk files, by the same path
  std::map<std::string, SnapshotKey> keys;           // by folded key path
};

// How an earlier snapshot's hashes may be reused.
enum class SnapshotReuse {
  // previous is of the same prefix: a file whose device, inode, change time,
  // size and modification time are unchanged since well before previous was
  // taken keeps its hash (any write or attribute change moves the change
  // time, which no program can set).
  kSamePrefix,
  // previous is of the prefix this one was just copied from (cp -a keeps
  // modification times): a file with the same path, size and modification
  // time, not modified close to when previous was taken, keeps its hash.
  kCopySource,
};

// Takes a snapshot of the prefix directory, reusing hashes of previous (when
// given) as reuse says; every other file is read. False with error naming
// the file or registry line that could not be read.
bool TakeSnapshot(const std::string& prefix, const Snapshot* previous, Snapshot& out, std::string& error,
                  SnapshotReuse reuse = SnapshotReuse::kSamePrefix);

// The snapshot as text (one item per line, fields separated by tabs, with
// \\ \t \n \r escapes), and back. LoadSnapshot fails with the line number on
// text that is not such a snapshot.
std::string SaveSnapshot(const Snapshot& snapshot);
bool LoadSnapshot(const std::string& text, Snapshot& out, std::string& error);

// A path below drive_c as Windows programs name it: "C:\windows\win.ini".
std::string DrivePath(const std::string& relative);

// ASCII letters folded to lower case: the identity of registry names, which
// Windows compares without regard to case.
std::string FoldCase(const std::string& text);
