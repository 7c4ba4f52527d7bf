#include <windows.h>

#include "core/win32/dynamic_library.h"
#include "core/win32/registry.h"
#include "core/win32/system.h"

// --- operating system ---

OsVersion CurrentOsVersion() {
  // The service-pack text lives in a static buffer so that OsVersion can
  // point at it; the system's answer never changes during a run.
  static OSVERSIONINFOA info;
  static_assert(sizeof info == 148, "GetVersionExA expects the 148-byte structure");
  ZeroMemory(&info, sizeof info);
  info.dwOSVersionInfoSize = sizeof info;
  OsVersion v;
  if (!GetVersionExA(&info)) return v;
  info.szCSDVersion[sizeof info.szCSDVersion - 1] = '\0';
  v.platform = info.dwPlatformId;
  v.major = info.dwMajorVersion;
  v.minor = info.dwMinorVersion;
  v.servicePack = info.szCSDVersion;
  return v;
}

uint32_t OsClass() { return OsClassOf(CurrentOsVersion()); }

bool IsNtPlatform() { return CurrentOsVersion().platform == kPlatformNt; }

bool IsWin95Or98() {
  OsVersion v = CurrentOsVersion();
  return v.platform == kPlatformWindows && v.major == 4 && (v.minor == 0 || v.minor == 10);
}

void OsName(String& out, bool withoutServicePack) { OsNameOf(out, CurrentOsVersion(), withoutServicePack); }

// --- WOW64 ---

bool IsWow64() {
  const SystemFunctions& kernel = SystemApi(kLibKernel32);
  BOOL wow64 = FALSE;
  return kernel.IsWow64Process && kernel.IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

bool DisableWow64Redirection(void** state) {
  const SystemFunctions& kernel = SystemApi(kLibKernel32);
  return kernel.Wow64DisableWow64FsRedirection && kernel.Wow64DisableWow64FsRedirection(state);
}

bool RevertWow64Redirection(void* state) {
  const SystemFunctions& kernel = SystemApi(kLibKernel32);
  return kernel.Wow64RevertWow64FsRedirection && kernel.Wow64RevertWow64FsRedirection(state);
}

// --- random names ---

uint64_t UnpredictableBits() {
  uint64_t bits = 0;
  const auto generate = SystemApi(kLibAdvapi32).SystemFunction036;
  if (generate && generate(&bits, sizeof bits)) return bits;
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  bits = (uint64_t)counter.QuadPart;
  bits ^= (uint64_t)GetTickCount() << 32;
  bits ^= (uint64_t)GetCurrentProcessId() * 0x9E3779B97F4A7C15ull;
  bits ^= (uint64_t)GetCurrentThreadId() << 17;
  bits ^= bits >> 29;
  bits *= 0xBF58476D1CE4E5B9ull;
  bits ^= bits >> 32;
  return bits;
}

// --- privileges and shutdown ---

bool SetPrivilege(const char* name, bool enable) {
  const SystemFunctions& api = SystemApi(kLibAdvapi32);
  if (!api.OpenProcessToken || !api.LookupPrivilegeValueA || !api.AdjustTokenPrivileges) return false;
  HANDLE token = nullptr;
  if (!api.OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return false;
  TOKEN_PRIVILEGES privileges = {};
  bool done = false;
  if (api.LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid)) {
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    // AdjustTokenPrivileges succeeds without assigning what the token lacks;
    // only ERROR_SUCCESS afterwards means the change was made.
    done = api.AdjustTokenPrivileges(token, enable ? FALSE : TRUE, &privileges, 0, nullptr, nullptr) &&
           GetLastError() == ERROR_SUCCESS;
  }
  CloseHandle(token);
  return done;
}

bool ExitWindows(int32_t mode, bool force) {
  SetPrivilege("SeShutdownPrivilege", true);
  bool done = ExitWindowsEx(ExitWindowsFlags(mode, force), 0) != FALSE;
  SetPrivilege("SeShutdownPrivilege", false);
  return done;
}

// --- administrator rights ---

namespace {

// The pieces of the access check, released in one place.
struct AdminCheck {
  const SystemFunctions& api;
  HANDLE token = nullptr;
  HANDLE impersonation = nullptr;
  PSID administrators = nullptr;
  ACL* acl = nullptr;

  explicit AdminCheck(const SystemFunctions& functions) : api(functions) {}
  ~AdminCheck() {
    if (acl) LocalFree(acl);
    if (administrators) api.FreeSid(administrators);
    if (impersonation) CloseHandle(impersonation);
    if (token) CloseHandle(token);
  }

  bool HasFunctions() const {
    return api.OpenThreadToken && api.OpenProcessToken && api.DuplicateToken && api.AllocateAndInitializeSid &&
           api.FreeSid && api.GetLengthSid && api.InitializeSecurityDescriptor && api.SetSecurityDescriptorDacl &&
           api.SetSecurityDescriptorOwner && api.SetSecurityDescriptorGroup && api.InitializeAcl &&
           api.AddAccessAllowedAce && api.AccessCheck;
  }

  // -1 when the check could not be made, else 0 or 1.
  int Run() {
    if (!HasFunctions()) return -1;
    if (!api.OpenThreadToken(GetCurrentThread(), TOKEN_DUPLICATE | TOKEN_QUERY, TRUE, &token) &&
        !api.OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &token))
      return -1;
    if (!api.DuplicateToken(token, SecurityImpersonation, &impersonation)) return -1;
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    if (!api.AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                      0, &administrators))
      return -1;
    const DWORD kRead = 1, kWrite = 2;
    DWORD aclSize = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + api.GetLengthSid(administrators) - sizeof(DWORD);
    acl = static_cast<ACL*>(LocalAlloc(LPTR, aclSize));
    if (!acl) return -1;
    SECURITY_DESCRIPTOR descriptor;
    if (!api.InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !api.InitializeAcl(acl, aclSize, ACL_REVISION2) ||
        !api.AddAccessAllowedAce(acl, ACL_REVISION2, kRead | kWrite, administrators) ||
        !api.SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) ||
        !api.SetSecurityDescriptorGroup(&descriptor, administrators, FALSE) ||
        !api.SetSecurityDescriptorOwner(&descriptor, administrators, FALSE))
      return -1;
    GENERIC_MAPPING mapping = {kRead, kWrite, 0, kRead | kWrite};
    PRIVILEGE_SET privileges;
    DWORD privilegesSize = sizeof privileges;
    DWORD granted = 0;
    BOOL status = FALSE;
    if (!api.AccessCheck(&descriptor, impersonation, kRead, &mapping, &privileges, &privilegesSize, &granted,
                         &status))
      return -1;
    return status ? 1 : 0;
  }
};

}  // namespace

bool IsUserAdministrator(bool fallback) {
  AdminCheck check(SystemApi(kLibAdvapi32));
  int result = check.Run();
  return result < 0 ? fallback : result == 1;
}

// --- directory access ---

uint32_t AclWithAccessEntry(ACL* oldAcl, const char* account, uint32_t mode, uint32_t permissions,
                            uint32_t inheritance, uint32_t trusteeForm, ACL** newAcl) {
  *newAcl = nullptr;
  const SystemFunctions& api = SystemApi(kLibAdvapi32);
  if (!api.SetEntriesInAclA) return ERROR_PROC_NOT_FOUND;
  EXPLICIT_ACCESS_A entry = {};
  entry.grfAccessPermissions = permissions;
  entry.grfAccessMode = (ACCESS_MODE)mode;
  entry.grfInheritance = inheritance;
  entry.Trustee.TrusteeForm = (TRUSTEE_FORM)trusteeForm;
  entry.Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
  entry.Trustee.ptstrName = const_cast<char*>(account ? account : "");
  return api.SetEntriesInAclA(1, &entry, oldAcl, newAcl);
}

uint32_t GrantDirectoryAccess(const char* path, const char* account, uint32_t mode, uint32_t permissions,
                              uint32_t inheritance, uint32_t trusteeForm) {
  DWORD attributes = path ? GetFileAttributesA(path) : INVALID_FILE_ATTRIBUTES;
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return ERROR_PATH_NOT_FOUND;
  const SystemFunctions& api = SystemApi(kLibAdvapi32);
  if (!api.GetNamedSecurityInfoA || !api.SetNamedSecurityInfoA) return ERROR_PROC_NOT_FOUND;
  ACL* oldAcl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD rc = api.GetNamedSecurityInfoA(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &oldAcl,
                                       nullptr, &descriptor);
  if (rc != ERROR_SUCCESS) return rc;
  ACL* newAcl = nullptr;
  rc = AclWithAccessEntry(oldAcl, account, mode, permissions, inheritance, trusteeForm, &newAcl);
  if (rc == ERROR_SUCCESS)
    rc = api.SetNamedSecurityInfoA(const_cast<char*>(path), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                   nullptr, newAcl, nullptr);
  if (newAcl) LocalFree(newAcl);
  if (descriptor) LocalFree(descriptor);
  return rc;
}

// --- shell notifications ---

bool NotifyFolderChanged(const char* path) {
  const SystemFunctions& shell = SystemApi(kLibShell32);
  if (!shell.SHChangeNotify || String(path).IsBlank()) return false;
  shell.SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHA, path, nullptr);
  return true;
}

bool NotifyAssociationsChanged() {
  const SystemFunctions& shell = SystemApi(kLibShell32);
  if (!shell.SHChangeNotify) return false;
  shell.SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return true;
}

// --- fonts ---

const char* FontsKeyPath() { return FontsKeyPathFor(IsNtPlatform()); }

bool SetFontValue(const char* name, const char* file) {
  RegistryKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, FontsKeyPath()) == kRegistryOpenFailed) return false;
  return key.WriteText(name, file);
}

bool DeleteFontValue(const char* name) {
  RegistryKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, FontsKeyPath(), kRegistryExisting) == kRegistryOpenFailed)
    return GetLastError() == ERROR_FILE_NOT_FOUND;
  return key.DeleteValue(name) == kRegistryDeleted;
}
