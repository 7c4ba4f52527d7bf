// The system helpers against the real system of a clean prefix: the OS name
// under several Windows versions (a child copy run with the prefix's
// per-program version setting), WOW64, privileges and shutdown, the
// administrator test, directory access lists, shell notifications, fonts,
// run-time loading and error texts.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>

#include "core/path.h"
#include "core/win32/dynamic_library.h"
#include "core/win32/path_variables.h"
#include "core/win32/process.h"
#include "core/win32/registry.h"
#include "core/win32/system.h"
#include "core/win32/system_dirs.h"
#include "core/win32/system_error.h"

namespace {

std::string Text(const String& s) { return std::string(s.CStr(), (size_t)s.Length()); }

String Fixture(const char* name) { return JoinPath(DirectoryOf(ModulePath().CStr()).CStr(), name); }

std::string TempPath(const char* name) {
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  return std::string(temp) + name;
}

std::string ReadAll(const std::string& path) {
  std::string text;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return text;
  char buffer[512];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  fclose(f);
  return text;
}

// What the child fixture reports about the system under the given Wine
// version setting for it (HKCU\Software\Wine\AppDefaults\child_fixture.exe).
std::string OsReportUnder(const char* wineVersion) {
  RegistryKey key;
  EXPECT_NE(key.Open(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\child_fixture.exe"), kRegistryOpenFailed);
  EXPECT_TRUE(key.WriteText("Version", wineVersion));
  key.CloseAll();
  std::string out = TempPath("trux_os_report.txt");
  DeleteFileA(out.c_str());
  std::string command("\"");
  command.append(Text(Fixture("child_fixture.exe"))).append("\" os \"").append(out).append("\"");
  EXPECT_EQ(RunProcess(command.c_str(), kRunWait, nullptr), 0u);
  key.DeletePathKey(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\child_fixture.exe");
  return ReadAll(out);
}

TEST(OsName, NamesTheSystemTheProgramRunsOn) {
  // Lines: name, name without service pack, class, NT platform, 95 or 98.
  const struct {
    const char* version;
    const char* report;
  } cases[] = {
      {"winxp", "Windows XP Service Pack 3\nWindows XP\n256\n1\n0\n"},
      {"win2k", "Windows 2000 Service Pack 4\nWindows 2000\n128\n1\n0\n"},
      {"win2003", "Windows 2003 Service Pack 2\nWindows 2003\n512\n1\n0\n"},
      {"win98", "Windows 98 A\nWindows 98\n8\n0\n1\n"},
      {"win95", "Windows 95\nWindows 95\n4\n0\n1\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(OsReportUnder(c.version), c.report) << c.version;
}

TEST(OsName, MatchesTheVersionTheSystemReports) {
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_TRUE(GetVersionExA(&info));
  OsVersion v{info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion, info.szCSDVersion};
  String expected, actual;
  OsNameOf(expected, v, false);
  OsName(actual, false);
  EXPECT_EQ(Text(actual), Text(expected));
  EXPECT_EQ(OsClass(), OsClassOf(v));
  EXPECT_EQ(IsNtPlatform(), info.dwPlatformId == VER_PLATFORM_WIN32_NT);
  EXPECT_FALSE(IsWin95Or98());
}

TEST(Wow64, A32BitPrefixIsNoWow64System) {
  EXPECT_FALSE(IsWow64());
  // The redirection functions exist in this kernel32 but there is nothing to
  // redirect: both report failure, as the library passes on.
  void* state = nullptr;
  EXPECT_FALSE(DisableWow64Redirection(&state));
  EXPECT_FALSE(RevertWow64Redirection(state));
}

bool PrivilegeEnabled(const char* name) {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  LUID luid;
  LookupPrivilegeValueA(nullptr, name, &luid);
  char buffer[4096];
  DWORD size = 0;
  bool enabled = false;
  if (GetTokenInformation(token, TokenPrivileges, buffer, sizeof buffer, &size)) {
    const TOKEN_PRIVILEGES* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer);
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
      const LUID_AND_ATTRIBUTES& p = privileges->Privileges[i];
      if (p.Luid.LowPart == luid.LowPart && p.Luid.HighPart == luid.HighPart)
        enabled = (p.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
  }
  CloseHandle(token);
  return enabled;
}

TEST(SetPrivilege, EnablesOneAndDisablesAll) {
  ASSERT_TRUE(SetPrivilege("SeShutdownPrivilege", true));
  EXPECT_TRUE(PrivilegeEnabled("SeShutdownPrivilege"));
  ASSERT_TRUE(SetPrivilege("SeShutdownPrivilege", false));
  EXPECT_FALSE(PrivilegeEnabled("SeShutdownPrivilege"));
  EXPECT_FALSE(SetPrivilege("SeNoSuchPrivilege", true));
}

TEST(ExitWindows, RestartsAndLeavesThePrivilegeDisabled) {
  // In a prefix of its own the restart only restarts the prefix's services.
  EXPECT_TRUE(ExitWindows(kExitRestart, false));
  EXPECT_FALSE(PrivilegeEnabled("SeShutdownPrivilege"));
}

TEST(IsUserAdministrator, WineRunsAsAdministrator) {
  EXPECT_TRUE(IsUserAdministrator(false));
}

TEST(GrantDirectoryAccess, NeedsAnExistingDirectory) {
  std::string dir = TempPath("trux_grant_dir");
  std::string file = TempPath("trux_grant_file.txt");
  CreateDirectoryA(dir.c_str(), nullptr);
  FILE* f = fopen(file.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fclose(f);
  const uint32_t kGrant = GRANT_ACCESS, kAll = GENERIC_ALL, kInherit = 3, kByName = TRUSTEE_IS_NAME;
  EXPECT_EQ(GrantDirectoryAccess(TempPath("trux_no_such_dir").c_str(), "Users", kGrant, kAll, kInherit, kByName),
            (uint32_t)ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(GrantDirectoryAccess(file.c_str(), "Users", kGrant, kAll, kInherit, kByName),
            (uint32_t)ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(GrantDirectoryAccess(nullptr, "Users", kGrant, kAll, kInherit, kByName), (uint32_t)ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(GrantDirectoryAccess(dir.c_str(), "Users", kGrant, kAll, kInherit, kByName), 0u);
  DeleteFileA(file.c_str());
  RemoveDirectoryA(dir.c_str());
}

// Wine accepts SetNamedSecurityInfoA without storing the entry, so the list
// the installer builds is checked itself.
TEST(GrantDirectoryAccess, BuildsTheEntryForTheUsersGroup) {
  ACL* acl = nullptr;
  ASSERT_EQ(AclWithAccessEntry(nullptr, "Users", GRANT_ACCESS, GENERIC_ALL, 3, TRUSTEE_IS_NAME, &acl), 0u);
  ASSERT_NE(acl, nullptr);
  ASSERT_EQ(acl->AceCount, 1);
  void* ace = nullptr;
  ASSERT_TRUE(GetAce(acl, 0, &ace));
  const ACCESS_ALLOWED_ACE* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
  EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
  EXPECT_EQ(allowed->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
  EXPECT_EQ(allowed->Mask, (DWORD)GENERIC_ALL);
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  PSID users = nullptr;
  ASSERT_TRUE(AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS, 0, 0, 0, 0, 0, 0,
                                       &users));
  EXPECT_TRUE(EqualSid(users, const_cast<DWORD*>(&allowed->SidStart)));
  FreeSid(users);
  LocalFree(acl);

  // An unknown account fails (Windows says ERROR_NONE_MAPPED, Wine
  // ERROR_INVALID_PARAMETER) and builds nothing.
  EXPECT_NE(AclWithAccessEntry(nullptr, "NoSuchTruxAccount", GRANT_ACCESS, GENERIC_ALL, 3, TRUSTEE_IS_NAME, &acl),
            0u);
  EXPECT_EQ(acl, nullptr);
}

TEST(ShellNotifications, AreSentForRealFoldersOnly) {
  EXPECT_FALSE(NotifyFolderChanged(""));
  EXPECT_FALSE(NotifyFolderChanged(" \t"));
  EXPECT_FALSE(NotifyFolderChanged(nullptr));
  EXPECT_TRUE(NotifyFolderChanged(WindowsDir().CStr()));
  EXPECT_TRUE(RefreshDesktop(false));
  EXPECT_TRUE(RefreshDesktop(true));
  EXPECT_TRUE(NotifyAssociationsChanged());
}

TEST(Fonts, ValuesOfTheMachineFontsKey) {
  EXPECT_STREQ(FontsKeyPath(), "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts");
  ASSERT_TRUE(SetFontValue("Trux Test (TrueType)", "truxtest.ttf"));
  RegistryKey key;
  EXPECT_EQ(Text(key.ReadPathValue(HKEY_LOCAL_MACHINE,
                                   "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts\\Trux Test (TrueType)")),
            "truxtest.ttf");
  EXPECT_TRUE(DeleteFontValue("Trux Test (TrueType)"));
  EXPECT_EQ(Text(key.ReadPathValue(HKEY_LOCAL_MACHINE,
                                   "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts\\Trux Test (TrueType)",
                                   "gone")),
            "gone");
  // The key exists but the value does not: nothing was deleted.
  EXPECT_FALSE(DeleteFontValue("Trux Test (TrueType)"));
}

TEST(DynamicLibrary, LoadsFindsAndResolves) {
  DynamicLibrary missing;
  EXPECT_FALSE(missing.Load("no_such_trux_library.dll"));
  EXPECT_EQ(missing.Find("GetTickCount"), nullptr);
  void* any = nullptr;
  const DynamicFunction one[] = {{"GetTickCount", &any, false}, {nullptr, nullptr, false}};
  EXPECT_FALSE(missing.Resolve(one));

  DynamicLibrary kernel("kernel32.dll");
  ASSERT_TRUE(kernel.IsLoaded());
  EXPECT_EQ(kernel.Find("GetTickCount"), reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "GetTickCount")));
  void* tick = nullptr;
  void* absent = reinterpret_cast<void*>(1);
  const DynamicFunction optional[] = {
      {"GetTickCount", &tick, false}, {"NoSuchTruxFunction", &absent, true}, {nullptr, nullptr, false}};
  EXPECT_TRUE(kernel.Resolve(optional));
  EXPECT_NE(tick, nullptr);
  EXPECT_EQ(absent, nullptr);
  const DynamicFunction required[] = {{"NoSuchTruxFunction", &absent, false}, {nullptr, nullptr, false}};
  EXPECT_FALSE(kernel.Resolve(required));
  // Loading another module frees the first.
  EXPECT_TRUE(kernel.Load("version.dll"));
  EXPECT_NE(kernel.Find("GetFileVersionInfoA"), nullptr);
  EXPECT_EQ(kernel.Find("GetTickCount"), nullptr);
}

TEST(DynamicLibrary, SystemTablesAreComplete) {
  const SystemFunctions* table = nullptr;
  for (int library = 0; library < kSystemLibraryCount; ++library) {
    const SystemFunctions& functions = SystemApi((SystemLibrary)library);
    if (table) {
      EXPECT_EQ(table, &functions);  // one table for every library
    }
    table = &functions;
  }
  // Every function the runtime looks up exists on the systems it supports
  // that Wine stands for (GetSystemWow64DirectoryA exists and fails there).
  const void* const* functions = reinterpret_cast<const void* const*>(table);
  for (size_t i = 0; i < sizeof *table / sizeof(void*); ++i) EXPECT_NE(functions[i], nullptr) << i;
  EXPECT_EQ(table->SHChangeNotify, reinterpret_cast<decltype(table->SHChangeNotify)>(reinterpret_cast<void*>(
                                       GetProcAddress(GetModuleHandleA("shell32.dll"), "SHChangeNotify"))));
}

// Libraries come from the system directory by full path: a bare name is
// never looked up in the program's folder, and a name with a path is no
// system library.
TEST(DynamicLibrary, SystemLibrariesComeFromTheSystemDirectory) {
  char system[MAX_PATH];
  ASSERT_GT(GetSystemDirectoryA(system, sizeof system), 0u);
  EXPECT_EQ(Text(SystemLibraryDirectory()), system);  // a 32-bit system: no WOW64 directory
  DynamicLibrary version("version.dll");
  ASSERT_TRUE(version.IsLoaded());
  char loaded[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(version.Handle(), loaded, sizeof loaded), 0u);
  EXPECT_EQ(String(loaded).CompareNoCase((std::string(system) + "\\version.dll").c_str()), 0) << loaded;
  for (const char* name : {"C:\\windows\\system32\\version.dll", "..\\version.dll", "sub/version.dll", "C:version.dll", ""}) {
    DynamicLibrary refused;
    EXPECT_FALSE(refused.Load(name)) << name;
  }
  SetLastError(0);
  EXPECT_EQ(LoadProductLibrary("version.dll"), nullptr);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_NAME);
  HMODULE byPath = LoadProductLibrary((std::string(system) + "\\version.dll").c_str());
  EXPECT_EQ(byPath, version.Handle());
  if (byPath) FreeLibrary(byPath);
}

TEST(SystemErrorText, IsTheSystemMessageWithoutItsLineBreak) {
  EXPECT_EQ(Text(SystemErrorText(ERROR_FILE_NOT_FOUND)), "File not found.");
  EXPECT_EQ(Text(SystemErrorText(ERROR_ACCESS_DENIED)), "Access denied.");
  EXPECT_EQ(Text(SystemErrorText(0x2000FFFFu)), "Error 536936447");
}

}  // namespace
