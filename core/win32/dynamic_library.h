// System functions looked up at run time, and the one way the program loads
// a library (Windows only).
//
// A library found by name is looked up in the program's own folder first.
// An installer is started from a download folder, often as administrator,
// so a DLL planted beside it would run with those rights. The program
// therefore imports statically only libraries the system always takes from
// its own folder (kernel32, user32, gdi32, advapi32, shell32, ole32,
// msvcrt), and loads every other system library by its full path in the
// system directory, through the one table below.
//
// SystemApi(library) loads that library on its first call, fills the
// members that belong to it and keeps it loaded until the process ends. A
// member stays null when the system lacks the function (or the library):
// callers fall back or fail. Only members of the library asked for are
// meant to be read from the result.
#pragma once
#include <windows.h>
#include <aclapi.h>
#include <oleauto.h>
#include <shlobj.h>

#include <stdint.h>

#include "core/string.h"

enum SystemLibrary : uint8_t {
  kLibKernel32,
  kLibAdvapi32,
  kLibShell32,
  kLibOleAut32,
  kLibVersion,
  kLibComCtl32,
  kLibMsImg32,
  kSystemLibraryCount,
};

struct SystemFunctions {
  // kernel32: functions that older systems lack.
  BOOL(WINAPI* MoveFileExA)(LPCSTR, LPCSTR, DWORD);
  BOOL(WINAPI* GetDiskFreeSpaceExA)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
  BOOL(WINAPI* IsWow64Process)(HANDLE, PBOOL);
  BOOL(WINAPI* Wow64DisableWow64FsRedirection)(PVOID*);
  BOOL(WINAPI* Wow64RevertWow64FsRedirection)(PVOID);
  UINT(WINAPI* GetSystemWow64DirectoryA)(LPSTR, UINT);
  BOOL(WINAPI* SetDefaultDllDirectories)(DWORD);
  BOOL(WINAPI* SetDllDirectoryA)(LPCSTR);
  DWORD(WINAPI* GetLongPathNameA)(LPCSTR, LPSTR, DWORD);
  DWORD(WINAPI* GetFinalPathNameByHandleA)(HANDLE, LPSTR, DWORD, DWORD);
  // advapi32: tokens, security descriptors, access lists, random bytes.
  BOOL(WINAPI* OpenProcessToken)(HANDLE, DWORD, PHANDLE);
  BOOL(WINAPI* OpenThreadToken)(HANDLE, DWORD, BOOL, PHANDLE);
  BOOL(WINAPI* LookupPrivilegeValueA)(LPCSTR, LPCSTR, PLUID);
  BOOL(WINAPI* AdjustTokenPrivileges)(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD);
  BOOL(WINAPI* DuplicateToken)(HANDLE, SECURITY_IMPERSONATION_LEVEL, PHANDLE);
  BOOL(WINAPI* AllocateAndInitializeSid)(PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD, DWORD,
                                         DWORD, DWORD, DWORD, PSID*);
  PVOID(WINAPI* FreeSid)(PSID);
  DWORD(WINAPI* GetLengthSid)(PSID);
  BOOL(WINAPI* InitializeSecurityDescriptor)(PSECURITY_DESCRIPTOR, DWORD);
  BOOL(WINAPI* SetSecurityDescriptorDacl)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);
  BOOL(WINAPI* SetSecurityDescriptorOwner)(PSECURITY_DESCRIPTOR, PSID, BOOL);
  BOOL(WINAPI* SetSecurityDescriptorGroup)(PSECURITY_DESCRIPTOR, PSID, BOOL);
  BOOL(WINAPI* InitializeAcl)(PACL, DWORD, DWORD);
  BOOL(WINAPI* AddAccessAllowedAce)(PACL, DWORD, DWORD, PSID);
  BOOL(WINAPI* AccessCheck)(PSECURITY_DESCRIPTOR, HANDLE, DWORD, PGENERIC_MAPPING, PPRIVILEGE_SET, LPDWORD,
                            LPDWORD, LPBOOL);
  DWORD(WINAPI* GetNamedSecurityInfoA)(LPCSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*, PSID*, PACL*,
                                       PACL*, PSECURITY_DESCRIPTOR*);
  DWORD(WINAPI* SetNamedSecurityInfoA)(LPSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL);
  DWORD(WINAPI* SetEntriesInAclA)(ULONG, PEXPLICIT_ACCESS_A, PACL, PACL*);
  BOOLEAN(WINAPI* SystemFunction036)(PVOID, ULONG);  // RtlGenRandom
  // shell32: folders and change notifications of newer shells.
  BOOL(WINAPI* SHGetSpecialFolderPathA)(HWND, LPSTR, int, BOOL);
  void(WINAPI* SHChangeNotify)(LONG, UINT, LPCVOID, LPCVOID);
  // oleaut32: type libraries. A null member makes every registration or
  // unregistration of a type library fail.
  HRESULT(WINAPI* LoadTypeLib)(LPCOLESTR, ITypeLib**);
  HRESULT(WINAPI* RegisterTypeLib)(ITypeLib*, LPCOLESTR, LPCOLESTR);
  HRESULT(WINAPI* UnRegisterTypeLib)(REFGUID, WORD, WORD, LCID, SYSKIND);
  // version: version resources of files.
  DWORD(WINAPI* GetFileVersionInfoSizeA)(LPCSTR, LPDWORD);
  BOOL(WINAPI* GetFileVersionInfoA)(LPCSTR, DWORD, DWORD, LPVOID);
  BOOL(WINAPI* VerQueryValueA)(LPCVOID, LPCSTR, LPVOID*, PUINT);
  // comctl32: the progress bar's window class.
  void(WINAPI* InitCommonControls)();
  // msimg32: the background's gradient.
  BOOL(WINAPI* GradientFill)(HDC, PTRIVERTEX, ULONG, PVOID, ULONG, ULONG);
};

// The table with library's members filled (loaded on the first call).
const SystemFunctions& SystemApi(SystemLibrary library);

// The first step of the process: DLLs the program or the system loads by
// name are taken from the system directory only, never from the program's
// folder or the current directory (SetDefaultDllDirectories with
// LOAD_LIBRARY_SEARCH_SYSTEM32). Where the system lacks that function the
// current directory at least leaves the search order (SetDllDirectoryA
// with ""). Static imports are resolved before this runs, which is why the
// program has only those of libraries the system always takes from its own
// folder.
void RestrictLibrarySearch();

// The directory the system's own 32-bit libraries are loaded from: the
// 32-bit system directory under WOW64 (correct also while the file-system
// redirection is off), else the system directory.
String SystemLibraryDirectory();

// Loads a library of the product (a COM server) by its full path: its own
// dependencies are looked up in its own folder and the system directory
// only (LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32
// where the system has these flags, the altered search order of
// LOAD_WITH_ALTERED_SEARCH_PATH elsewhere), never in the program's folder.
// A path that is not absolute is refused (null, ERROR_INVALID_NAME).
HMODULE LoadProductLibrary(const char* path);

// Owns one module handle of a system library, loaded from
// SystemLibraryDirectory() by its file name: Load frees any previous module
// first, destruction frees the current one. Resolve fills a caller's table
// of function pointers; an entry that cannot be found leaves its pointer
// null.
struct DynamicFunction {
  const char* name;
  void** target;   // receives the address, or null when not found
  bool optional;   // a missing optional function does not fail Resolve
};

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  explicit DynamicLibrary(const char* fileName) { Load(fileName); }
  ~DynamicLibrary() { Free(); }
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Frees any previous module, then loads fileName (a bare file name; a
  // name with a path is refused) from the system library directory. True
  // when loaded.
  bool Load(const char* fileName);
  void Free();
  bool IsLoaded() const { return module_ != nullptr; }
  HMODULE Handle() const { return module_; }
  // GetProcAddress; null without a module or a function of that name.
  void* Find(const char* name) const;
  // Fills every row's target (null when not found). True unless a row that
  // is not optional stayed unresolved; false without a module.
  bool Resolve(const DynamicFunction* table) const;

 private:
  HMODULE module_ = nullptr;
};
