#include "core/win32/registry.h"

#include <string.h>

#include "core/cformat.h"
#include "core/fatal.h"
#include "core/format.h"
#include "core/program.h"
#include "core/win32/system_error.h"

const char kSharedDllsPath[] = "Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char kUninstallPath[] = "Microsoft\\Windows\\CurrentVersion\\Uninstall";

namespace {

const RegistryRoot kRoots[] = {
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE", "HKLM"}, {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "HKCU"},
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", "HKCR"},   {HKEY_USERS, "HKEY_USERS", "HKU"},
    {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG", "HKCC"}, {HKEY_DYN_DATA, "HKEY_DYN_DATA", "HKDD"},
};
constexpr int32_t kRootCount = (int32_t)(sizeof kRoots / sizeof kRoots[0]);

// The first read uses a buffer of this size; larger values are read again
// with the size the system reports.
constexpr DWORD kFirstReadSize = 32;

bool IsPredefined(HKEY key) {
  for (const RegistryRoot& root : kRoots)
    if (root.key == key) return true;
  return false;
}

void CloseOwned(HKEY key) {
  if (key && !IsPredefined(key)) RegCloseKey(key);
}

// Deletes a value for the write operations: success when it is gone
// afterwards, also when there was none.
bool RemoveValue(HKEY key, const char* name) {
  LONG rc = RegDeleteValueA(key, name);
  SetLastError((DWORD)rc);
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

void ShowRegistryError(LONG code) {
  String text = SystemErrorText((uint32_t)code);
  MessageBoxA(nullptr, text.CStr(), "Registry Error", MB_OK | MB_ICONERROR);
}

// The number of subkeys of key, and with values its number of values; -1
// when the key cannot be asked.
int32_t CountEntries(HKEY key, int32_t* values = nullptr) {
  DWORD subkeys = 0, valueCount = 0;
  if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &valueCount, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return -1;
  if (values) *values = (int32_t)valueCount;
  return (int32_t)subkeys;
}

bool KeyIsEmpty(HKEY key) {
  int32_t values = -1;
  return CountEntries(key, &values) == 0 && values == 0;
}

// What a walk does with each subkey: the key walked, the subkey's name and
// the caller's context.
using SubkeyVisitor = void (*)(HKEY key, const char* name, int32_t length, void* context);

// The one walk over a key's subkeys: calls visit for each, by index, first
// to last, or last to first so that a visitor may delete the subkey it is
// given (deleting one moves none of those still to come). Returns how many
// were visited; the last error is 0 after a complete walk, else the code
// that stopped it.
int32_t WalkSubkeys(HKEY key, bool lastFirst, SubkeyVisitor visit, void* context) {
  const int32_t count = lastFirst ? CountEntries(key) : 0;
  for (int32_t visited = 0;; ++visited) {
    LONG rc = ERROR_NO_MORE_ITEMS;
    char name[kMaxRegistryKeyName + 1];
    DWORD length = sizeof name;
    if (!lastFirst || visited < count)
      rc = RegEnumKeyExA(key, (DWORD)(lastFirst ? count - 1 - visited : visited), name, &length, nullptr, nullptr,
                         nullptr, nullptr);
    if (rc != ERROR_SUCCESS) {
      SetLastError(rc == ERROR_NO_MORE_ITEMS ? 0 : (DWORD)rc);
      return visited;
    }
    visit(key, name, (int32_t)length, context);
  }
}

void AppendSubkeyName(HKEY, const char* name, int32_t length, void* names) {
  static_cast<Array<String>*>(names)->Append(String(name, length));
}

LONG DeleteTree(HKEY parent, const char* subkey);

void DeleteSubkeyTree(HKEY key, const char* name, int32_t, void*) { DeleteTree(key, name); }

// Deletes the subkeys of parent\subkey depth first, then the key itself. The
// subkeys' own results do not matter: if one stays, deleting the key fails.
LONG DeleteTree(HKEY parent, const char* subkey) {
  HKEY child = nullptr;
  if (RegOpenKeyExA(parent, subkey, 0, KEY_ALL_ACCESS, &child) == ERROR_SUCCESS) {
    WalkSubkeys(child, true, DeleteSubkeyTree, nullptr);
    RegCloseKey(child);
  }
  return RegDeleteKeyA(parent, subkey);
}

// Splits "a\b\c" into "a\b" and "c"; without a backslash, "" and the text.
void SplitAtLastBackslash(const char* text, String& head, String& tail) {
  String full(text);
  int32_t slash = full.FindLastChar('\\');
  if (slash < 0) {
    head.Clear();
    tail = full;
    return;
  }
  head.Assign(full.CStr(), slash);
  tail.Assign(full.CStr() + slash + 1);
}

}  // namespace

const RegistryRoot* RegistryRoots(int32_t* count) {
  if (count) *count = kRootCount;
  return kRoots;
}

const char* RegistryRootName(HKEY root) {
  for (const RegistryRoot& r : kRoots)
    if (r.key == root) return r.name;
  return "";
}

HKEY RegistryRootByName(const char* name) {
  String text(name);
  for (const RegistryRoot& r : kRoots)
    if (text.CompareNoCase(r.name) == 0 || text.CompareNoCase(r.abbreviation) == 0) return r.key;
  return nullptr;
}

// --- opening and closing ---

int32_t RegistryKey::OpenWithPath(HKEY root, const char* subkey, uint32_t flags, const String& path) {
  if (!createMissing_) flags |= kRegistryExisting;
  if (!subkey) subkey = "";
  HKEY opened = nullptr;
  DWORD disposition = REG_OPENED_EXISTING_KEY;
  LONG rc;
  if (!root) {
    rc = ERROR_INVALID_HANDLE;
  } else if (flags & kRegistryExisting) {
    rc = RegOpenKeyExA(root, subkey, 0, KEY_ALL_ACCESS, &opened);
  } else {
    char noClass[] = "";
    rc = RegCreateKeyExA(root, subkey, 0, noClass, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &opened,
                         &disposition);
  }
  if (rc != ERROR_SUCCESS) {
    if (flags & kRegistryErrorBox) ShowRegistryError(rc);
    SetLastError((DWORD)rc);
    return kRegistryOpenFailed;
  }
  parents_.Push(Parent{key_, static_cast<String&&>(path_)});
  key_ = opened;
  path_ = path;
  return disposition == REG_CREATED_NEW_KEY ? kRegistryCreated : kRegistryOpenedExisting;
}

int32_t RegistryKey::Open(HKEY root, const char* subkey, uint32_t flags) {
  String path(RegistryRootName(root));
  if (subkey && *subkey) {
    if (!path.IsEmpty()) path.AppendChar('\\');
    path.Append(subkey);
  }
  return OpenWithPath(root, subkey, flags, path);
}

int32_t RegistryKey::OpenSoftware(bool perUser, const char* path, uint32_t flags) {
  String subkey("Software\\");
  subkey.Append(path);
  return Open(perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, subkey.CStr(), flags);
}

int32_t RegistryKey::OpenChild(const char* subkey, uint32_t flags) {
  if (!key_) {
    SetLastError(ERROR_INVALID_HANDLE);
    return kRegistryOpenFailed;
  }
  String path(path_);
  if (subkey && *subkey) {
    path.AppendChar('\\');
    path.Append(subkey);
  }
  return OpenWithPath(key_, subkey, flags, path);
}

void RegistryKey::Close() {
  if (!key_) return;
  CloseOwned(key_);
  if (parents_.IsEmpty()) {
    key_ = nullptr;
    path_.Clear();
    return;
  }
  Parent parent = parents_.Pop();
  key_ = parent.key;
  path_ = static_cast<String&&>(parent.path);
}

RegistryKey::~RegistryKey() { CloseAll(); }

void RegistryKey::CloseAll() {
  while (key_) Close();
  // Keys opened while none was open leave null entries below; drop them.
  parents_.Clear();
}

// --- reading ---

bool RegistryKey::ReadValue(const char* name, RegistryValue& value, uint32_t flags) {
  value = RegistryValue();
  if (!key_) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  char first[kFirstReadSize];
  DWORD type = REG_NONE;
  DWORD size = sizeof first;
  String data;
  LONG rc = RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(first), &size);
  if (rc == ERROR_SUCCESS) {
    data.Assign(first, (int32_t)size);
  }
  // A value that grows between the two reads is read again at its new size.
  for (int attempt = 0; rc == ERROR_MORE_DATA && attempt < 4; ++attempt) {
    if (size > (DWORD)kMaxStringBlock - 1 || !data.TrySetLength((int32_t)size)) {
      rc = ERROR_NOT_ENOUGH_MEMORY;
      break;
    }
    rc = RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(data.Buffer()), &size);
    if (rc == ERROR_SUCCESS) data.SetLength((int32_t)size);
  }
  if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_BADKEY) {
    if (flags & kRegistryRequired) {
      String keyText(path_);
      if (!keyText.EndsWithChar('\\')) keyText.AppendChar('\\');
      FatalError(
          "The following registry key is required by %s, but is invalid or does not exist:\n\n%s%s\n\n"
          "If you have tried moving this program to a different computer by copying files, this will not "
          "work.  This program must be reinstalled.",
          ProgramDescription(), keyText.CStr(), name ? name : "");
    }
  }
  if (rc != ERROR_SUCCESS) {
    SetLastError((DWORD)rc);
    return false;
  }
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      const char* nul = data.IsEmpty() ? nullptr : (const char*)memchr(data.Buffer(), 0, (size_t)data.Length());
      if (nul) data.Truncate((int32_t)(nul - data.Buffer()));
      break;
    }
    case REG_BINARY:
    case REG_MULTI_SZ:
      break;
    case REG_DWORD:
      if (data.Length() != 4) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
      }
      memcpy(&value.number, data.Buffer(), 4);
      data.Clear();
      break;
    default:
      SetLastError(ERROR_INVALID_DATA);
      return false;
  }
  value.type = type;
  value.bytes = static_cast<String&&>(data);
  return true;
}

String RegistryKey::ReadText(const char* name, const char* fallback, uint32_t flags) {
  RegistryValue value;
  if (!ReadValue(name, value, flags)) return String(fallback);
  if (value.type == REG_DWORD) {
    char digits[16];
    BoundedFormat(digits, sizeof digits, "%lu", (unsigned long)value.number);
    return String(digits);
  }
  return static_cast<String&&>(value.bytes);
}

int32_t RegistryKey::ReadNumber(const char* name, int32_t fallback, uint32_t flags) {
  RegistryValue value;
  if (!ReadValue(name, value, flags)) return fallback;
  if (value.type == REG_DWORD) return (int32_t)value.number;
  if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) return fallback;
  value.bytes.Trim();
  if (value.bytes.IsEmpty()) return fallback;
  const char* end = nullptr;
  int64_t n = ParseInt64(value.bytes.CStr(), &end);
  if (*end != '\0' || n < INT32_MIN || n > INT32_MAX) return fallback;
  return (int32_t)n;
}

bool RegistryKey::ReadBool(const char* name, bool fallback, uint32_t flags) {
  RegistryValue value;
  if (!ReadValue(name, value, flags)) return fallback;
  if (value.type == REG_DWORD) return value.number != 0;
  return ParseBool(value.bytes);
}

String RegistryKey::ReadPathValue(HKEY root, const char* fullPath, const char* fallback, uint32_t flags) {
  String keyPath, name;
  SplitAtLastBackslash(fullPath, keyPath, name);
  if (keyPath.IsEmpty() && name.Length() >= 2 && name.CharAt(1) == ':') {
    keyPath.Assign(name.CStr(), 2);
    name.DeleteFirst(2);
  }
  if (Open(root, keyPath.CStr(), flags) == kRegistryOpenFailed) return String(fallback);
  String text = ReadText(name.CStr(), fallback, flags);
  Close();
  return text;
}

// --- writing and deleting values ---

bool RegistryKey::WriteText(const char* name, const char* text, uint32_t flags) {
  return WriteText(name, String(text), flags);
}

bool RegistryKey::WriteText(const char* name, const String& text, uint32_t flags) {
  if (!key_) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if ((flags & kRegistryDeleteEmpty) && text.IsEmpty()) return RemoveValue(key_, name);
  DWORD type = (flags & kRegistryBinary) ? REG_BINARY : (flags & kRegistryExpand) ? REG_EXPAND_SZ : REG_SZ;
  // Texts keep their terminating NUL, as the registry's readers expect.
  DWORD size = (DWORD)text.Length() + (type == REG_BINARY ? 0 : 1);
  LONG rc = RegSetValueExA(key_, name, 0, type, reinterpret_cast<const BYTE*>(text.CStr()), size);
  SetLastError((DWORD)rc);
  return rc == ERROR_SUCCESS;
}

bool RegistryKey::WriteNumber(const char* name, uint32_t value, uint32_t flags) {
  if (!key_) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  if ((flags & kRegistryDeleteEmpty) && value == 0) return RemoveValue(key_, name);
  DWORD number = value;
  LONG rc = RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
  SetLastError((DWORD)rc);
  return rc == ERROR_SUCCESS;
}

int32_t RegistryKey::DeleteValue(const char* name) {
  if (!key_) return kRegistryNoKey;
  LONG rc = RegDeleteValueA(key_, name);
  SetLastError((DWORD)rc);
  return rc == ERROR_SUCCESS ? kRegistryDeleted : kRegistryDeleteFailed;
}

// --- deleting keys ---

int32_t RegistryKey::DeleteKey(const char* subkey, uint32_t flags) {
  if (!key_ || !subkey || !*subkey) return kRegistryNoKey;
  if (flags & kRegistryOnlyIfEmpty) {
    HKEY child = nullptr;
    if (RegOpenKeyExA(key_, subkey, 0, KEY_ALL_ACCESS, &child) == ERROR_SUCCESS) {
      bool empty = KeyIsEmpty(child);
      RegCloseKey(child);
      if (!empty) return kRegistryKeyNotEmpty;
    }
  }
  LONG rc = DeleteTree(key_, subkey);
  SetLastError((DWORD)rc);
  if (rc == ERROR_SUCCESS) return kRegistryDeleted;
  if (flags & kRegistryErrorBox) ShowRegistryError(rc);
  return kRegistryDeleteFailed;
}

int32_t RegistryKey::DeleteSoftwareKey(bool perUser, const char* path, const char* subkey, uint32_t flags) {
  if (OpenSoftware(perUser, path, kRegistryExisting) == kRegistryOpenFailed) return kRegistryNoKey;
  int32_t result = DeleteKey(subkey, flags);
  Close();
  return result;
}

int32_t RegistryKey::DeletePathKey(HKEY root, const char* fullPath, uint32_t flags) {
  String parent, subkey;
  SplitAtLastBackslash(fullPath, parent, subkey);
  if (Open(root, parent.CStr(), kRegistryExisting) == kRegistryOpenFailed) return kRegistryNoKey;
  int32_t result = DeleteKey(subkey.CStr(), flags);
  Close();
  return result;
}

// --- enumeration and existence ---

int32_t RegistryKey::SubkeyCount() const { return key_ ? CountEntries(key_) : -1; }

bool RegistryKey::IsEmpty() const { return key_ && KeyIsEmpty(key_); }

int32_t RegistryKey::EnumerateSubkeys(Array<String>& names) const {
  if (!key_) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return WalkSubkeys(key_, false, AppendSubkeyName, &names);
}

bool RegistryKey::KeyExists(HKEY root, const char* subkey) {
  HKEY key = nullptr;
  if (!root || RegOpenKeyExA(root, subkey ? subkey : "", 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
  CloseOwned(key);
  return true;
}

bool RegistryKey::SoftwareKeyExists(bool perUser, const char* path) {
  String subkey("Software\\");
  subkey.Append(path);
  return KeyExists(perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, subkey.CStr());
}
