// The uninstall list and the association log: what this installation
// created, kept in memory for the run and written into the uninstall data
// file at the end.
//
// Uninstall list: one line per item, each ending in CR LF, in the order the
// installing steps report them:
//   file        the full path, no prefix
//   directory   '~' followed by the full path
//   class key   '!' followed by a key path under HKEY_CLASSES_ROOT
// Files are never de-duplicated (the same file recorded twice gives two
// lines); directories and class keys are recorded once, compared with ASCII
// letters folded, so the uninstaller never removes a directory twice.
//
// Association log: one line per file association made, formatted
// "extension~!~file type~!~verb\r\n".
#pragma once
#include <stdint.h>

#include "core/containers.h"
#include "core/string.h"

enum UninstallEntryKind : int32_t {
  kUninstallFile = 0,
  kUninstallDirectory = 1,
  kUninstallClassKey = 2,
};

class UninstallRecord {
 public:
  // Records path as an item of the given kind. A path shorter than 4
  // characters (a bare drive root such as "C:\") is ignored, and so is an
  // unknown kind. Directories and class keys already recorded (ASCII case
  // folded) add nothing. Returns true when a line was added.
  bool Add(const char* path, int32_t kind);

  // The list as accumulated: its lines, each ending in CR LF.
  const String& List() const { return list_; }

  // Empties the list and the set of recorded directory and class-key names.
  void Clear();

  // The association log as accumulated.
  const String& AssociationLog() const { return associationLog_; }

  // Appends one association line.
  void AddAssociation(const char* extension, const char* fileType, const char* verb);

 private:
  String list_;
  // The recorded directory and class-key names, upper-cased. The kind
  // character is part of the key, so a directory and a class key of the same
  // text are told apart. Its buckets are made on the first name.
  HashTable<bool, String> recordedNames_;
  String associationLog_;
};
