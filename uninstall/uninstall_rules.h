// The uninstaller's text rules: how it reads the values that the
// installation left under the product's Uninstall key, which directories it
// refuses to delete as a whole, and the text of the self-deleting batch.
//
// Portable and free of system calls, so every rule is tested on the host and
// fuzzed. Guarantees:
//  - The parsers read only the given text, never past its length, and never
//    fail: malformed input yields fewer entries (or all flags clear), never a
//    crash. Work is linear in the text's length.
//  - Quoted sections follow the library's convention: a doubled double quote
//    inside stands for one; an unterminated section runs to the end.
#pragma once
#include <stdint.h>

#include "core/containers.h"
#include "core/string.h"
#include "uninstall/uninstall_data.h"

// The 64-bit flag word of ProductFlags: signed decimal, leading white space
// allowed. Text that is not a number, or a number outside 64 bits, gives 0
// (all flags clear): a damaged value must never switch on whole-directory
// removal or a restart by accident.
uint64_t ParseProductFlags(const char* text);

// Reads the next pair of double-quoted texts (font registry name, font file
// name) of the ProductFonts value from *position on; white space between the
// texts is skipped. False when no complete pair is left.
bool NextFontPair(const String& text, int32_t* position, String& fontName, String& fileName);

// True when name is a bare file name that may be joined to the fonts
// directory: not empty, no '\', '/' or ':', and not "." or "..". The fonts
// step deletes only such names, so a damaged value cannot reach outside
// that directory.
bool IsPlainFileName(const char* name);

// What one body line of Uninstall.DAT asks for.
enum UninstallLineKind : int32_t {
  kUninstallLineEmpty = 0,      // blank: ignored
  kUninstallLineFile = 1,       // a file path
  kUninstallLineDirectory = 2,  // "~" + a directory path
  kUninstallLineClassKey = 3,   // "!" + a key path under HKEY_CLASSES_ROOT
};
// The kind of line and, in path, the line without its marker.
UninstallLineKind ClassifyUninstallLine(const String& line, String& path);

// True when a class-key line may be deleted: a non-blank relative key path
// that neither starts with a backslash nor contains an empty component, so a
// damaged line can never name the root itself.
bool IsDeletableClassKey(const char* path);

// True when a class-key line names a key the installation itself created or
// backed up, as the association records of the same data file say: an
// extension key, a file-type key, or below a file type its "DefaultIcon",
// its "shell", the record's verb key or that verb's "command". Key names
// compare ignoring ASCII letter case and a trailing backslash. Any other
// key ("CLSID", another program's file type) is not the installation's to
// delete.
bool IsAssociationClassKey(const char* path, const Array<UninstallAssociation>& associations);

// The root of the install drive where the clean-uninstall batch runs: the
// drive letter, a colon and a backslash, without the backslash when the path
// has none after the colon. "" when the path has no drive letter.
String InstallDriveRoot(const char* installLocation);

// Path comparison ignoring ASCII letter case and trailing backslashes.
bool SamePath(const char* a, const char* b);

// The one parent step of the directory walks: the text before the last '\'
// (a drive root keeps its backslash: C:\a -> C:\). False when the path has
// no parent to go to (a root, or a name without '\').
bool ParentDirectory(const String& path, String& parent);

// Why a whole-directory removal is refused (0: it is allowed).
enum TreeRemovalRefusal : int32_t {
  kTreeRemovalAllowed = 0,
  kTreeRemovalNotAbsolute = 1,      // not "X:\dir..." or "\\server\share\dir..."
  kTreeRemovalDotComponent = 2,     // a "." or ".." component (the real target is unclear)
  kTreeRemovalRoot = 3,             // a drive root or a network share's root
  kTreeRemovalSystemFolder = 4,     // one of the protected folders, or a folder that holds one
};
// Decides whether the install directory may be deleted with everything in
// it. protectedFolders are the system's and the user's folders (Windows,
// system, Program Files, the profile, desktop, documents, the special
// folders of the path variables...); empty entries are ignored. A location
// equal to one of them, or containing one of them, is refused.
TreeRemovalRefusal CheckTreeRemoval(const char* installLocation, const Array<String>& protectedFolders);

// The commands of the self-deleting batch: repeat deleting the program until
// it is gone (it is still running when the batch starts), remove the
// uninstall subdirectory (only when uninstallSubdir is not empty) and the
// install directory when they are empty, then delete the batch file and its
// own directory on one line (the interpreter has read the whole line before
// the file goes, so the directory removal still runs).
String SelfDeleteBatchText(const char* programPath, const char* uninstallSubdir, const char* uninstallDir,
                           const char* installDir, const char* batchPath, const char* batchDir);
