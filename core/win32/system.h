// The operating system: its name and class, 64-bit detection and file-system
// redirection, privileges and shutdown, administrator rights, directory
// access lists, shell notifications and the fonts key.
//
// The classification and naming rules are portable (OsClassOf, OsNameOf,
// ExitWindowsFlags) so that every system can be tested anywhere; the rest
// is Windows-only and reports failure by its result.
#pragma once
#include <stdint.h>

#include "core/string.h"

// One bit per system, as OsClass reports it.
enum OsClassFlag : uint32_t {
  kOsOther = 0x1,
  kOsWin32s = 0x2,
  kOsWin95 = 0x4,
  kOsWin98 = 0x8,
  kOsWinMe = 0x10,
  kOsNt3 = 0x20,  // Windows NT 3.x or lower
  kOsNt4 = 0x40,
  kOsWin2000 = 0x80,
  kOsWinXp = 0x100,
  kOsWin2003 = 0x200,
  kOsVista = 0x400,  // any NT version 6.x
};

// Platform ids as GetVersionExA reports them.
constexpr uint32_t kPlatformWin32s = 0;
constexpr uint32_t kPlatformWindows = 1;  // 95, 98, ME
constexpr uint32_t kPlatformNt = 2;

struct OsVersion {
  uint32_t platform = 0;
  uint32_t major = 0;
  uint32_t minor = 0;
  const char* servicePack = "";  // never null
};

uint32_t OsClassOf(const OsVersion& v);
// "Windows " and the system's name; unless withoutServicePack, the
// service-pack text after a space (none when the text starts with one).
// Trailing white space is trimmed.
void OsNameOf(String& out, const OsVersion& v, bool withoutServicePack);

// The modes of ExitWindows: how the session ends. Any other value shuts
// the system down.
enum ExitWindowsMode : int32_t {
  kExitPowerOff = 1,
  kExitRestart = 2,
  kExitLogOff = 3,
};

// The ExitWindowsEx flags of a mode (ExitWindowsMode, any other value shuts
// down); with EWX_FORCE when force, else EWX_FORCEIFHUNG.
uint32_t ExitWindowsFlags(int32_t mode, bool force);

// The fonts key under HKEY_LOCAL_MACHINE for the platform.
const char* FontsKeyPathFor(bool ntPlatform);

#if defined(_WIN32)
#include <windows.h>
// winuser.h defines ExitWindows as a macro; this library's ExitWindows takes
// its place. Include this header after <windows.h> (its guard then keeps the
// macro away).
#undef ExitWindows

// GetVersionExA of the running system (structure size 148).
OsVersion CurrentOsVersion();
uint32_t OsClass();
bool IsNtPlatform();
bool IsWin95Or98();  // platform 1, version 4.0 or 4.10
void OsName(String& out, bool withoutServicePack);

// IsWow64Process of "kernel32"; false when missing or when it reports false.
bool IsWow64();
// Wow64DisableWow64FsRedirection / Wow64RevertWow64FsRedirection from the
// run-time table; false when missing or failing.
[[nodiscard]] bool DisableWow64Redirection(void** state);
bool RevertWow64Redirection(void* state);

// 64 bits from the system's random source (RtlGenRandom); where that is
// missing or fails, a mix of the high-resolution counter, the clock and the
// process and thread ids. For names of files and directories that are then
// created exclusively: a guessed name only makes the creation retry.
uint64_t UnpredictableBits();

// Enables the named privilege of the process token; enable false disables
// all privileges of the token instead. Failures are ignored by callers; the
// result says whether the adjustment was made.
bool SetPrivilege(const char* name, bool enable);
// Enables "SeShutdownPrivilege", calls ExitWindowsEx with
// ExitWindowsFlags(mode, force), disables the privileges again. Returns the
// call's success.
[[nodiscard]] bool ExitWindows(int32_t mode, bool force);

// True when the user belongs to the built-in Administrators group, decided by
// an access check against a descriptor that admits only that group; fallback
// on any failure.
bool IsUserAdministrator(bool fallback);

// The access list the installer writes for a directory: oldAcl (may be null)
// plus one explicit entry. Returns a Win32 error code; on success *newAcl is a
// LocalAlloc'ed list the caller frees with LocalFree.
uint32_t AclWithAccessEntry(ACL* oldAcl, const char* account, uint32_t mode, uint32_t permissions,
                            uint32_t inheritance, uint32_t trusteeForm, ACL** newAcl);
// Adds that entry to the directory's own list. ERROR_PATH_NOT_FOUND when path
// is not an existing directory; 0 on success; else the failing call's code.
uint32_t GrantDirectoryAccess(const char* path, const char* account, uint32_t mode, uint32_t permissions,
                              uint32_t inheritance, uint32_t trusteeForm);

// Shell notifications; false when nothing was sent (blank path, shell
// function missing).
bool NotifyFolderChanged(const char* path);
bool NotifyAssociationsChanged();

const char* FontsKeyPath();
// name = file (REG_SZ) in the fonts key of HKEY_LOCAL_MACHINE, created when
// missing.
[[nodiscard]] bool SetFontValue(const char* name, const char* file);
// True when the value was deleted or there is no fonts key.
[[nodiscard]] bool DeleteFontValue(const char* name);
#endif
