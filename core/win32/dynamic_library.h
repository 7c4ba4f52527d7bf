// Optional system functions, looked up at run time (Windows only).
//
// A DynamicLibrary owns one module handle: Load frees any previous module
// first, destruction frees the current one. Resolve fills a caller's table of
// function pointers; an entry that cannot be found leaves its pointer null.
//
// The shell32, oleaut32 and advapi32 tables below are process-wide: loaded once, on
// first use, and kept loaded until the process ends. A member that is null
// means the system lacks that function; callers fall back or fail.
#pragma once
#include <windows.h>
#include <aclapi.h>
#include <oleauto.h>
#include <shlobj.h>

#include <stdint.h>

// One row of a run-time lookup table. The table ends with a row whose target
// is null.
struct DynamicFunction {
  const char* name;
  void** target;   // receives the address, or null when not found
  bool optional;   // a missing optional function does not fail Resolve
};

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  explicit DynamicLibrary(const char* name) { Load(name); }
  ~DynamicLibrary() { Free(); }
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // Frees any previous module, then LoadLibraryA. True when loaded.
  bool Load(const char* name);
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

// The shell functions the library uses, from "shell32.dll".
struct ShellFunctions {
  BOOL(WINAPI* SHGetSpecialFolderPathA)(HWND, LPSTR, int, BOOL);
  void(WINAPI* SHChangeNotify)(LONG, UINT, LPCVOID, LPCVOID);
};
const ShellFunctions& Shell32();

// The type-library functions, from "oleaut32.dll". A null member makes every
// registration or unregistration of a type library fail.
struct TypeLibraryFunctions {
  HRESULT(WINAPI* LoadTypeLib)(LPCOLESTR, ITypeLib**);
  HRESULT(WINAPI* RegisterTypeLib)(ITypeLib*, LPCOLESTR, LPCOLESTR);
  HRESULT(WINAPI* UnRegisterTypeLib)(REFGUID, WORD, WORD, LCID, SYSKIND);
};
const TypeLibraryFunctions& OleAut32();

// The token and security functions the library uses, from "advapi32.dll".
struct SecurityFunctions {
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
};
const SecurityFunctions& Advapi32();
