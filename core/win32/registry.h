// The registry key object (Windows only).
//
// A RegistryKey holds at most one open key, the "current" one, and remembers
// the keys it was opened from: opening a key while another is open pushes the
// outer key and its path text, and Close returns to it. Every key the object
// opened is closed by Close, CloseAll or the destructor; predefined roots are
// never closed.
//
// Key path texts are the root's long name, a backslash and the subkey path
// (HKEY_LOCAL_MACHINE\Software\X); a child opened with OpenChild adds a
// backslash and its own subkey.
//
// Failures are results. The one exception is ReadValue with
// kRegistryRequired: a missing value ends the process with the
// required-key message.
#pragma once
#include <windows.h>

#include <stdint.h>

#include "core/containers.h"
#include "core/string.h"

enum RegistryFlag : uint32_t {
  kRegistryRequired = 0x2,      // ReadValue: a missing value is fatal
  kRegistryDeleteEmpty = 0x8,   // WriteText/WriteNumber: "" or 0 deletes the value
  kRegistryErrorBox = 0x10,     // Open/DeleteKey: a failure shows the "Registry Error" box
  kRegistryOnlyIfEmpty = 0x20,  // DeleteKey: delete only a key without subkeys and values
  kRegistryExisting = 0x40,     // Open: open an existing key only, never create
  kRegistryBinary = 0x80,       // WriteText: REG_BINARY
  kRegistryExpand = 0x100,      // WriteText: REG_EXPAND_SZ
};

enum RegistryOpenResult : int32_t {
  kRegistryOpenFailed = 0,
  kRegistryOpenedExisting = 1,
  kRegistryCreated = 2,
};

enum RegistryDeleteResult : int32_t {
  kRegistryDeleted = 1,
  kRegistryNoKey = 2,         // no key open, no subkey named, or the parent does not exist
  kRegistryDeleteFailed = 3,
  kRegistryKeyNotEmpty = 4,   // kRegistryOnlyIfEmpty and the key has subkeys or values
};

// The longest subkey name EnumerateSubkeys returns (the registry's own limit).
constexpr int32_t kMaxRegistryKeyName = 255;

// A value as read: its registry type, its bytes (texts without their
// terminating NUL) and, for REG_DWORD, its number.
struct RegistryValue {
  DWORD type = REG_NONE;
  String bytes;
  uint32_t number = 0;
};

// The predefined roots with their long names and abbreviations.
struct RegistryRoot {
  HKEY key;
  const char* name;          // "HKEY_LOCAL_MACHINE"
  const char* abbreviation;  // "HKLM"
};
// The six roots: HKLM, HKCU, HKCR, HKU, HKCC, HKDD. count receives 6.
const RegistryRoot* RegistryRoots(int32_t* count);
// The long name of a predefined root, or "" for any other handle.
const char* RegistryRootName(HKEY root);
// A root named by its long name or abbreviation (any case); null when none.
HKEY RegistryRootByName(const char* name);

class RegistryKey {
 public:
  // createMissing false makes every Open behave as with kRegistryExisting.
  explicit RegistryKey(bool createMissing = true) : createMissing_(createMissing) {}
  ~RegistryKey();  // CloseAll
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens (kRegistryExisting) or opens-or-creates subkey of root with full
  // access. Returns a RegistryOpenResult; on failure nothing changes.
  [[nodiscard]] int32_t Open(HKEY root, const char* subkey, uint32_t flags = 0);
  // Open under HKEY_CURRENT_USER (perUser) or HKEY_LOCAL_MACHINE of
  // "Software\" + path.
  [[nodiscard]] int32_t OpenSoftware(bool perUser, const char* path, uint32_t flags = 0);
  // Open relative to the current key; fails without one.
  [[nodiscard]] int32_t OpenChild(const char* subkey, uint32_t flags = 0);
  // Closes the current key and returns to the one it was opened from.
  void Close();
  void CloseAll();

  bool IsOpen() const { return key_ != nullptr; }
  HKEY Handle() const { return key_; }
  const String& Path() const { return path_; }
  int32_t Depth() const { return parents_.Count(); }

  // Reads a value of the current key. REG_SZ and REG_EXPAND_SZ give their
  // text up to the first NUL, REG_BINARY and REG_MULTI_SZ their bytes, a
  // 4-byte REG_DWORD its number; any other type fails. A missing value fails,
  // and with kRegistryRequired ends the process with the required-key message.
  bool ReadValue(const char* name, RegistryValue& value, uint32_t flags = 0);
  // The value as text (a number as decimal digits), or fallback.
  String ReadText(const char* name, const char* fallback = "", uint32_t flags = 0);
  // A REG_DWORD, or a text that is a whole decimal 32-bit number; else fallback.
  int32_t ReadNumber(const char* name, int32_t fallback = 0, uint32_t flags = 0);
  // A number is true when non-zero; a text through ParseBool.
  bool ReadBool(const char* name, bool fallback = false, uint32_t flags = 0);
  // fullPath is "key path\value name" under root: opens that key (Open with
  // flags), reads the value as text and closes the key again. A fullPath
  // without a backslash names a value of root itself, except that "X:name"
  // takes "X:" as the key. fallback when anything fails.
  String ReadPathValue(HKEY root, const char* fullPath, const char* fallback = "", uint32_t flags = 0);

  // REG_SZ (REG_EXPAND_SZ with kRegistryExpand, REG_BINARY with
  // kRegistryBinary). Texts are stored with their terminating NUL, binary
  // values as the text's bytes. With kRegistryDeleteEmpty an empty text
  // deletes the value instead. True on success (a deletion succeeds when the
  // value is gone afterwards).
  [[nodiscard]] bool WriteText(const char* name, const char* text, uint32_t flags = 0);
  [[nodiscard]] bool WriteText(const char* name, const String& text, uint32_t flags = 0);
  // REG_DWORD; with kRegistryDeleteEmpty the value 0 deletes it.
  [[nodiscard]] bool WriteNumber(const char* name, uint32_t value, uint32_t flags = 0);
  // kRegistryDeleted, kRegistryNoKey (no key open) or kRegistryDeleteFailed.
  int32_t DeleteValue(const char* name);

  // Deletes subkey of the current key with all its subkeys. A null or empty
  // subkey is kRegistryNoKey (it never means the current key itself).
  int32_t DeleteKey(const char* subkey, uint32_t flags = 0);
  // Open the parent ("Software\" + path, existing only) and delete subkey in
  // it; kRegistryNoKey when the parent does not exist.
  int32_t DeleteSoftwareKey(bool perUser, const char* path, const char* subkey, uint32_t flags = 0);
  // fullPath is "parent\subkey" under root; a path without a backslash is a
  // subkey of root itself.
  int32_t DeletePathKey(HKEY root, const char* fullPath, uint32_t flags = 0);

  // Number of subkeys of the current key; -1 without one.
  int32_t SubkeyCount() const;
  // True when the current key has no subkeys and no values (false without one).
  bool IsEmpty() const;
  // Appends the names of the current key's subkeys in index order; returns
  // how many were appended. The last error is 0 after a complete listing.
  int32_t EnumerateSubkeys(Array<String>& names) const;

  static bool KeyExists(HKEY root, const char* subkey);
  static bool SoftwareKeyExists(bool perUser, const char* path);

 private:
  int32_t OpenWithPath(HKEY root, const char* subkey, uint32_t flags, const String& path);

  // A key the current one was opened from, with its path text.
  struct Parent {
    HKEY key;
    String path;
  };

  HKEY key_ = nullptr;
  String path_;
  Stack<Parent> parents_;
  bool createMissing_;
};

// The library's names, under "Software\", of the shared-file counts and of
// the list of installed programs.
extern const char kSharedDllsPath[];  // "Microsoft\Windows\CurrentVersion\SharedDLLs"
extern const char kUninstallPath[];   // "Microsoft\Windows\CurrentVersion\Uninstall"
