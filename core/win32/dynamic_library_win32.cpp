#include "core/win32/dynamic_library.h"

#include <stddef.h>

#include "core/path.h"
#include "core/path_check.h"

namespace {

// The flags of LoadLibraryExA's restricted search; older headers and
// systems lack them (KB2533623 and Windows 8 brought them).
constexpr DWORD kSearchDllLoadDir = 0x00000100;  // LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
constexpr DWORD kSearchSystem32 = 0x00000800;    // LOAD_LIBRARY_SEARCH_SYSTEM32

const char* const kLibraryFiles[kSystemLibraryCount] = {
    "kernel32.dll", "advapi32.dll", "shell32.dll", "oleaut32.dll", "version.dll", "comctl32.dll", "msimg32.dll",
};

// One function of the table: its library, its exported name and the member
// that receives its address.
struct SystemFunctionRow {
  SystemLibrary library;
  const char* name;
  size_t member;
};

#define TRUX_ROW(library, function) {library, #function, offsetof(SystemFunctions, function)}
const SystemFunctionRow kRows[] = {
    TRUX_ROW(kLibKernel32, MoveFileExA),
    TRUX_ROW(kLibKernel32, GetDiskFreeSpaceExA),
    TRUX_ROW(kLibKernel32, IsWow64Process),
    TRUX_ROW(kLibKernel32, Wow64DisableWow64FsRedirection),
    TRUX_ROW(kLibKernel32, Wow64RevertWow64FsRedirection),
    TRUX_ROW(kLibKernel32, GetSystemWow64DirectoryA),
    TRUX_ROW(kLibKernel32, SetDefaultDllDirectories),
    TRUX_ROW(kLibKernel32, SetDllDirectoryA),
    TRUX_ROW(kLibKernel32, GetLongPathNameA),
    TRUX_ROW(kLibKernel32, GetFinalPathNameByHandleA),
    TRUX_ROW(kLibAdvapi32, OpenProcessToken),
    TRUX_ROW(kLibAdvapi32, OpenThreadToken),
    TRUX_ROW(kLibAdvapi32, LookupPrivilegeValueA),
    TRUX_ROW(kLibAdvapi32, AdjustTokenPrivileges),
    TRUX_ROW(kLibAdvapi32, DuplicateToken),
    TRUX_ROW(kLibAdvapi32, AllocateAndInitializeSid),
    TRUX_ROW(kLibAdvapi32, FreeSid),
    TRUX_ROW(kLibAdvapi32, GetLengthSid),
    TRUX_ROW(kLibAdvapi32, InitializeSecurityDescriptor),
    TRUX_ROW(kLibAdvapi32, SetSecurityDescriptorDacl),
    TRUX_ROW(kLibAdvapi32, SetSecurityDescriptorOwner),
    TRUX_ROW(kLibAdvapi32, SetSecurityDescriptorGroup),
    TRUX_ROW(kLibAdvapi32, InitializeAcl),
    TRUX_ROW(kLibAdvapi32, AddAccessAllowedAce),
    TRUX_ROW(kLibAdvapi32, AccessCheck),
    TRUX_ROW(kLibAdvapi32, GetNamedSecurityInfoA),
    TRUX_ROW(kLibAdvapi32, SetNamedSecurityInfoA),
    TRUX_ROW(kLibAdvapi32, SetEntriesInAclA),
    TRUX_ROW(kLibAdvapi32, SystemFunction036),
    TRUX_ROW(kLibShell32, SHGetSpecialFolderPathA),
    TRUX_ROW(kLibShell32, SHChangeNotify),
    TRUX_ROW(kLibOleAut32, LoadTypeLib),
    TRUX_ROW(kLibOleAut32, RegisterTypeLib),
    TRUX_ROW(kLibOleAut32, UnRegisterTypeLib),
    TRUX_ROW(kLibVersion, GetFileVersionInfoSizeA),
    TRUX_ROW(kLibVersion, GetFileVersionInfoA),
    TRUX_ROW(kLibVersion, VerQueryValueA),
    TRUX_ROW(kLibComCtl32, InitCommonControls),
    TRUX_ROW(kLibMsImg32, GradientFill),
};
#undef TRUX_ROW
static_assert(sizeof(kRows) / sizeof(kRows[0]) == sizeof(SystemFunctions) / sizeof(void*),
              "every member of SystemFunctions has its row");

// The process's one table: set up by the loader (all zero), filled library
// by library, never freed, so the addresses stay valid for the whole run.
struct LoadedTable {
  SystemFunctions functions;
  bool looked[kSystemLibraryCount];
};

LoadedTable& Table() {
  static LoadedTable table;
  return table;
}

// Loads a system library by its full path. Its own dependencies are then
// looked up in its folder first (the altered search order), which is the
// system's.
HMODULE LoadSystemLibrary(const char* fileName) {
  if (!fileName || !*fileName || String(fileName).FindFirstOf("\\/:") >= 0) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  const String directory = SystemLibraryDirectory();
  if (directory.IsEmpty()) return nullptr;
  return LoadLibraryExA(JoinPath(directory.CStr(), fileName).CStr(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void FillLibrary(SystemLibrary library, SystemFunctions& functions) {
  // kernel32 is in every process from its start; it needs no loading, and
  // finding the system directory already uses it.
  HMODULE module = library == kLibKernel32 ? GetModuleHandleA(kLibraryFiles[library])
                                           : LoadSystemLibrary(kLibraryFiles[library]);
  if (!module) return;
  for (const SystemFunctionRow& row : kRows) {
    if (row.library != library) continue;
    void** target = reinterpret_cast<void**>(reinterpret_cast<char*>(&functions) + row.member);
    *target = reinterpret_cast<void*>(GetProcAddress(module, row.name));
  }
}

}  // namespace

const SystemFunctions& SystemApi(SystemLibrary library) {
  LoadedTable& table = Table();
  if (library < kSystemLibraryCount && !table.looked[library]) {
    table.looked[library] = true;
    FillLibrary(library, table.functions);
  }
  return table.functions;
}

void RestrictLibrarySearch() {
  const SystemFunctions& kernel = SystemApi(kLibKernel32);
  if (kernel.SetDefaultDllDirectories && kernel.SetDefaultDllDirectories(kSearchSystem32)) return;
  if (kernel.SetDllDirectoryA) kernel.SetDllDirectoryA("");
}

String SystemLibraryDirectory() {
  char buffer[MAX_PATH + 1];
  const SystemFunctions& kernel = SystemApi(kLibKernel32);
  UINT n = kernel.GetSystemWow64DirectoryA ? kernel.GetSystemWow64DirectoryA(buffer, MAX_PATH) : 0;
  if (n == 0 || n >= MAX_PATH) n = GetSystemDirectoryA(buffer, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return String();
  return String(buffer, (int32_t)n);
}

HMODULE LoadProductLibrary(const char* path) {
  if (!IsAbsolutePath(path)) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  // The restricted search flags came with SetDefaultDllDirectories.
  const bool restricted = SystemApi(kLibKernel32).SetDefaultDllDirectories != nullptr;
  return LoadLibraryExA(path, nullptr, restricted ? kSearchDllLoadDir | kSearchSystem32 : LOAD_WITH_ALTERED_SEARCH_PATH);
}

bool DynamicLibrary::Load(const char* fileName) {
  Free();
  module_ = LoadSystemLibrary(fileName);
  return module_ != nullptr;
}

void DynamicLibrary::Free() {
  if (module_) FreeLibrary(module_);
  module_ = nullptr;
}

void* DynamicLibrary::Find(const char* name) const {
  if (!module_ || !name) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(module_, name));
}

bool DynamicLibrary::Resolve(const DynamicFunction* table) const {
  bool complete = module_ != nullptr;
  for (const DynamicFunction* row = table; row && row->target; ++row) {
    *row->target = Find(row->name);
    if (!*row->target && !row->optional) complete = false;
  }
  return complete;
}
