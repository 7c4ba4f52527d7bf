// The post-installation actions against a real prefix: shared-file counts
// in the real registry, a COM server DLL and a widl-built type library
// registered for real, shortcuts read back through IShellLinkA, the kept
// files on disk, the product keys and file associations under
// HKEY_CLASSES_ROOT. Each test sets up the run state the installation would
// have (flags, message table, directories) and calls the step directly.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "actions/kept_files.h"
#include "actions/product_keys.h"
#include "actions/registration.h"
#include "actions/shortcuts.h"
#include "archive/format.h"
#include "core/path.h"
#include "core/win32/path_variables.h"
#include "core/win32/registry.h"
#include "core/win32/system.h"
#include "core/win32/system_dirs.h"
#include "core/win32/system_error.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "tests/win32/file_test_support.h"
#include "tests/win32/run_case.h"

namespace {

using filetest::Exists;
using filetest::FreshDirectory;
using filetest::ReadRaw;
using filetest::WriteRaw;

std::string Text(const String& s) { return std::string(s.CStr(), (size_t)s.Length()); }

const char kSharedDlls[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char kProduct[] = "Trux Product";
const char kBackup[] = "Trux Product Backup";

uint64_t Bit(int bit) { return 1ull << bit; }

// --- registry helpers on the plain API ---

bool ReadRegText(HKEY root, const std::string& key, const char* name, std::string& out) {
  HKEY h;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  char buffer[2048];
  DWORD size = sizeof buffer, type = 0;
  LONG rc = RegQueryValueExA(h, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
  RegCloseKey(h);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return false;
  out.assign(buffer, size && buffer[size - 1] == '\0' ? size - 1 : size);
  return true;
}

// The text value, or "<none>" when the key or value is missing.
std::string RegText(HKEY root, const std::string& key, const char* name = "") {
  std::string out;
  return ReadRegText(root, key, name, out) ? out : "<none>";
}

bool KeyExists(HKEY root, const std::string& key) {
  HKEY h;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  RegCloseKey(h);
  return true;
}

void SetRegText(HKEY root, const std::string& key, const char* name, const std::string& value) {
  HKEY h;
  ASSERT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr), ERROR_SUCCESS);
  RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), (DWORD)value.size() + 1);
  RegCloseKey(h);
}

void DeleteTree(HKEY root, const std::string& key) {
  RegistryKey k;
  k.DeletePathKey(root, key.c_str());
}

// A count under SharedDLLs; -1 when the value is missing.
int64_t SharedCount(const std::string& path) {
  HKEY h;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_READ, &h) != ERROR_SUCCESS) return -1;
  DWORD value = 0, size = sizeof value, type = 0;
  LONG rc = RegQueryValueExA(h, path.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(h);
  if (rc != ERROR_SUCCESS) return -1;
  EXPECT_EQ(type, (DWORD)REG_DWORD) << path;
  return value;
}

void SetSharedCount(const std::string& path, int64_t count) {
  HKEY h;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSharedDlls, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
            ERROR_SUCCESS);
  if (count < 0) {
    RegDeleteValueA(h, path.c_str());
  } else {
    DWORD v = (DWORD)count;
    RegSetValueExA(h, path.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
  }
  RegCloseKey(h);
}

// --- the run state ---

std::string TestDir() {
  String dir = DirectoryOf(ModulePath().CStr());
  return Text(dir);
}

// A run of the test product installing under root (its directories made).
void PrepareRun(Run& run, const std::string& root) {
  run.options.DisplayName = kProduct;
  Array<String> table;
  for (int i = 0; i < 40; ++i) table.Append(String());
  table[31] = "Error writing file";
  table[33] = "Uninstall <product>";
  table[38] = "Shortcut to %s";
  run.messages.Set(1, table);
  run.directories.installation = (root + "\\App").c_str();
  run.directories.uninstall = (root + "\\App\\Uninst").c_str();
  CreateDirectoryA(run.directories.installation.CStr(), nullptr);
  CreateDirectoryA(run.directories.uninstall.CStr(), nullptr);
}

class ActionsTest : public RunCase {
 protected:
  void SetUp() override {
    CoInitialize(nullptr);
    root_ = FreshDirectory("TruxActions");
    PrepareRun(run, root_);
  }
  void TearDown() override { CoUninitialize(); }

  std::string Errors() const { return Text(run.texts.errors); }
  std::string Log() const { return Text(run.texts.installLog); }
  std::string Recorded() const { return Text(run.uninstall.List()); }

  std::string root_;
};

// ===================================================== shared-file counts

TEST(SharedFilesText, EntriesAndMarkers) {
  String text = "\"C:\\A.DLL\";\"C:\\B.DLL^\";;\"C:\\C.DLL \";\"C:\\D.TLB\xA9\";\"C:\\E.TLB \xA9\";\"\";\"C:\\F.DLL\"";
  struct Expected {
    const char* path;
    uint32_t marks;
  } expected[] = {
      {"C:\\A.DLL", 0},
      {"C:\\B.DLL", kMarkedComServer},
      {"C:\\C.DLL", kMarkedPermanent},
      {"C:\\D.TLB", kMarkedTypeLibrary},
      {"C:\\E.TLB ", kMarkedTypeLibrary},  // a space before the 0xA9 belongs to the path
  };
  String entry;
  for (const Expected& e : expected) {
    ASSERT_TRUE(TakeSharedFilesEntry(text, entry)) << e.path;
    EXPECT_EQ(StripSharedFileMarkers(entry), e.marks) << e.path;
    EXPECT_EQ(Text(entry), e.path);
  }
  // The empty entry ends the walk; what follows it is not taken.
  EXPECT_FALSE(TakeSharedFilesEntry(text, entry));
  String garbage = "C:\\no-quotes.dll";
  EXPECT_FALSE(TakeSharedFilesEntry(garbage, entry));
  EXPECT_EQ(Text(garbage), "C:\\no-quotes.dll");
}

class SharedFilesTest : public ActionsTest {
 protected:
  void SetUp() override {
    ActionsTest::SetUp();
    run.productFlags = Bit(kFlagUninstaller);
    for (const char* p : {kA, kB, kC}) SetSharedCount(p, -1);
  }
  static Array<String> List(std::initializer_list<std::string> entries) {
    Array<String> list;
    for (const std::string& e : entries) list.Append(String(e.data(), (int32_t)e.size()));
    return list;
  }
  static constexpr const char* kA = "C:\\TruxShared\\a.dll";
  static constexpr const char* kB = "C:\\TruxShared\\b.dll";
  static constexpr const char* kC = "C:\\TruxShared\\c.tlb";
};

TEST_F(SharedFilesTest, Scenarios) {
  struct Install {
    bool reinstall;
    std::string previous;                   // the product's SharedFiles text before
    std::vector<std::string> list;          // the extraction's shared-file list
    std::string text;                       // the SharedFiles text after
    int64_t a, b, c;                        // counts after (-1: no value)
  };
  struct Scenario {
    const char* what;
    int64_t a0, b0, c0;  // counts before
    std::vector<Install> installs;
  } scenarios[] = {
      {"one product: a plain file, a COM server, a permanent type library",
       -1, -1, -1,
       {{false, "", {kA, std::string(kB) + "^", std::string(kC) + " "},
         "\"C:\\TruxShared\\a.dll\";\"C:\\TruxShared\\b.dll^\";\"C:\\TruxShared\\c.tlb \"", 1, 1, 1}}},
      {"two products share a file: 1, then 2",
       -1, -1, -1,
       {{false, "", {kA}, "\"C:\\TruxShared\\a.dll\"", 1, -1, -1},
        {false, "", {kA, kB}, "\"C:\\TruxShared\\a.dll\";\"C:\\TruxShared\\b.dll\"", 2, 1, -1}}},
      {"a reinstall gives back the previous references first",
       -1, -1, -1,
       {{false, "", {kA, kC}, "\"C:\\TruxShared\\a.dll\";\"C:\\TruxShared\\c.tlb\"", 1, -1, 1},
        {true, "\"C:\\TruxShared\\a.dll\";\"C:\\TruxShared\\c.tlb\"", {kA}, "\"C:\\TruxShared\\a.dll\"", 1, -1, -1},
        {true, "\"C:\\TruxShared\\a.dll\"", {kA}, "\"C:\\TruxShared\\a.dll\"", 1, -1, -1}}},
      {"a reinstall beside another product keeps the other's reference",
       2, -1, -1,
       {{true, "\"C:\\TruxShared\\a.dll^\"", {std::string(kA) + "^"}, "\"C:\\TruxShared\\a.dll^\"", 2, -1, -1}}},
      {"release at 1 and at an absent value deletes, never writes 0",
       1, -1, 5,
       {{true, "\"C:\\TruxShared\\a.dll\";\"C:\\TruxShared\\b.dll \";\"C:\\TruxShared\\c.tlb\xA9\"", {}, "", -1, -1,
         4}}},
      {"not a reinstall: the previous text is kept and extended",
       -1, -1, -1,
       {{false, "\"C:\\TruxShared\\c.tlb\"", {kA}, "\"C:\\TruxShared\\c.tlb\";\"C:\\TruxShared\\a.dll\"", 1, -1,
         -1}}},
  };
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.what);
    SetSharedCount(kA, s.a0);
    SetSharedCount(kB, s.b0);
    SetSharedCount(kC, s.c0);
    int step = 0;
    for (const Install& in : s.installs) {
      SCOPED_TRACE(step++);
      Array<String> list;
      for (const std::string& e : in.list) list.Append(String(e.data(), (int32_t)e.size()));
      String text(in.previous.data(), (int32_t)in.previous.size());
      RegisterSharedFiles(run, in.reinstall, list, text);
      EXPECT_EQ(Text(text), in.text);
      EXPECT_EQ(SharedCount(kA), in.a);
      EXPECT_EQ(SharedCount(kB), in.b);
      EXPECT_EQ(SharedCount(kC), in.c);
    }
  }
  EXPECT_EQ(Errors(), "");
}

TEST_F(SharedFilesTest, NothingIsCountedWithoutAnUninstaller) {
  run.productFlags = 0;
  Array<String> list;
  list.Append(String(kA));
  String text = "\"C:\\TruxShared\\b.dll\"";
  SetSharedCount(kB, 3);
  RegisterSharedFiles(run, true, list, text);
  EXPECT_EQ(SharedCount(kA), -1);
  EXPECT_EQ(SharedCount(kB), 3);
  EXPECT_EQ(Text(text), "\"C:\\TruxShared\\b.dll\"");
}

// ============================================ COM servers, type libraries

class RegistrationTest : public ActionsTest {
 protected:
  void SetUp() override {
    ActionsTest::SetUp();
    DeleteTree(HKEY_CURRENT_USER, "Software\\TruxComFixture");
    DeleteTree(HKEY_CLASSES_ROOT, kTypeLibKey);
  }
  static constexpr const char* kTypeLibKey = "TypeLib\\{8C1A6E2B-3F5D-4C7A-9B21-5E4D3C2B1A90}";
};

TEST_F(RegistrationTest, ComServersAreCalledInProcessAndEachOutcomeIsLogged) {
  const std::string server = TestDir() + "\\com_server_fixture.dll";
  const std::string noExport = TestDir() + "\\noversion_fixture.dll";
  const std::string missing = root_ + "\\missing.dll";
  ASSERT_TRUE(Exists(server));
  ASSERT_TRUE(Exists(noExport));
  Array<String> list;
  for (const std::string& p : {server, noExport, missing}) list.Append(String(p.c_str()));
  RegisterComServers(run.texts.installLog, list);
  EXPECT_EQ(Log(), "Registering COM File \"" + server + "\"...OK\r\n" + "Registering COM File \"" + noExport +
                       "\"...GetProcAddress(\"DllRegisterServer\") Failed\r\n" + "Registering COM File \"" +
                       missing + "\"...LoadLibrary() Failed\r\n");
  EXPECT_EQ(RegText(HKEY_CURRENT_USER, "Software\\TruxComFixture", "Registered"), "yes");
  EXPECT_EQ(Errors(), "") << "COM failures go to the install log only";
}

TEST_F(RegistrationTest, TypeLibraryRegistersAndUnregisters) {
  const std::string tlb = TestDir() + "\\typelib_fixture.tlb";
  ASSERT_TRUE(Exists(tlb));
  ASSERT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey));
  ASSERT_TRUE(RegisterTypeLibrary(tlb.c_str())) << Text(SystemErrorText(GetLastError()));
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::string(kTypeLibKey) + "\\1.2"));
  EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, std::string(kTypeLibKey) + "\\1.2"), "Trux fixture type library");
  ASSERT_TRUE(UnregisterTypeLibrary(tlb.c_str())) << Text(SystemErrorText(GetLastError()));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::string(kTypeLibKey) + "\\1.2"));
}

TEST_F(RegistrationTest, TypeLibraryStepLogsOkAndFailures) {
  const std::string tlb = TestDir() + "\\typelib_fixture.tlb";
  const std::string missing = root_ + "\\missing.tlb";
  const std::string tooLong = root_ + "\\" + std::string(300, 'x') + ".tlb";
  Array<String> list;
  for (const std::string& p : {tlb, missing, tooLong}) list.Append(String(p.c_str()));
  RegisterTypeLibraries(run.texts.installLog, list);
  const std::string log = Log();
  const std::string okLine = "Registering Type Library \"" + tlb + "\"...OK\r\n";
  ASSERT_EQ(log.compare(0, okLine.size(), okLine), 0) << log;
  const std::string failed = "Registering Type Library \"" + missing + "\"...FAILED\r\n";
  const size_t at = log.find(failed);
  ASSERT_NE(at, std::string::npos) << log;
  // The reason follows on its own line, ending in a line break.
  const size_t reasonEnd = log.find("\r\n", at + failed.size());
  ASSERT_NE(reasonEnd, std::string::npos);
  EXPECT_GT(reasonEnd, at + failed.size()) << "a reason is given";
  const std::string longFailed = "Registering Type Library \"" + tooLong + "\"...FAILED\r\n" +
                                 Text(SystemErrorText(ERROR_FILENAME_EXCED_RANGE)) + "\r\n";
  EXPECT_EQ(log.substr(reasonEnd + 2), longFailed);
  EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::string(kTypeLibKey) + "\\1.2"));
  EXPECT_EQ(Errors(), "");
  UnregisterTypeLibrary(tlb.c_str());
}

// ============================================================= shortcuts

struct LinkData {
  std::string target, arguments, workingDirectory, icon;
  int iconIndex = -1;
};

bool ReadLink(const std::string& path, LinkData& out) {
  IShellLinkA* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(&link))))
    return false;
  IPersistFile* file = nullptr;
  bool ok = false;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    if (SUCCEEDED(file->Load(wide, STGM_READ))) {
      char buffer[MAX_PATH * 2];
      link->GetPath(buffer, sizeof buffer, nullptr, SLGP_RAWPATH);
      out.target = buffer;
      link->GetArguments(buffer, sizeof buffer);
      out.arguments = buffer;
      link->GetWorkingDirectory(buffer, sizeof buffer);
      out.workingDirectory = buffer;
      link->GetIconLocation(buffer, sizeof buffer, &out.iconIndex);
      out.icon = buffer;
      ok = true;
    }
    file->Release();
  }
  link->Release();
  return ok;
}

// Lines of the uninstall list, without their CR LF.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

class ShortcutsTest : public ActionsTest {
 protected:
  void SetUp() override {
    ActionsTest::SetUp();
    target_ = Text(run.directories.installation) + "\\app.exe";
    ASSERT_TRUE(WriteRaw(target_, "MZ"));
  }
  std::string target_;
};

TEST_F(ShortcutsTest, CreateShortcutNamesAndReadBack) {
  const struct {
    const char* name;
    const char* expected;  // the final link path below root_
  } cases[] = {
      {"App", "App.LNK"},
      {"Sub\\Deeper\\App", "Sub\\Deeper\\App.LNK"},
      {"Ready.lnk", "Ready.lnk"},
      {"Mixed.LnK", "Mixed.LnK"},
      {"My.lnk files\\App", "My.lnk files\\App.LNK"},  // ".lnk" inside the path is no extension
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    String link = (root_ + "\\Links\\" + c.name).c_str();
    ASSERT_TRUE(CreateShortcut(link, target_.c_str(), "-x \"a b\"", root_.c_str(), "C:\\icons\\app.ico"));
    EXPECT_EQ(Text(link), root_ + "\\Links\\" + c.expected);
    LinkData data;
    ASSERT_TRUE(ReadLink(Text(link), data));
    EXPECT_EQ(data.target, target_);
    EXPECT_EQ(data.arguments, "-x \"a b\"");
    EXPECT_EQ(data.workingDirectory, root_);
    EXPECT_EQ(data.icon, "C:\\icons\\app.ico");
    EXPECT_EQ(data.iconIndex, 0);
  }
  // Without an icon the target's own icon is used; empty texts are not set.
  String link = (root_ + "\\Links\\Plain").c_str();
  ASSERT_TRUE(CreateShortcut(link, target_.c_str(), "", "", ""));
  LinkData data;
  ASSERT_TRUE(ReadLink(Text(link), data));
  EXPECT_EQ(data.icon, target_);
  EXPECT_EQ(data.arguments, "");
  EXPECT_EQ(data.workingDirectory, "");
}

TEST_F(ShortcutsTest, LinkPathTooLongFailsWithoutWriting) {
  String link = (root_ + "\\" + std::string(270, 'n')).c_str();
  EXPECT_FALSE(CreateShortcut(link, target_.c_str(), "", "", ""));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILENAME_EXCED_RANGE);
}

TEST_F(ShortcutsTest, TheInstallationStep) {
  run.productFlags = Bit(kFlagUninstaller) | Bit(kFlagUninstallStartMenuShortcut) | Bit(kFlagUninstallShortcut) |
                   Bit(kFlagUninstallShortcutInUninstallDir) | Bit(kFlagVerboseLog);
  ArchiveSettings settings;
  settings.ShortcutMode = 0;
  settings.ProductStartMenu = "Trux Product";
  settings.desktopShortcutName = "Trux Folder";
  settings.desktopShortcutIcon = String("\0\0\1\0icon bytes", 14);
  settings.uninstallerFileName = "Uninstall.exe";
  settings.uninstallName = "Trux Product 1.0";

  const std::string desktop = Text(DesktopDir());
  const std::string programs = Text(SMProgramsDir());
  const std::string startup = Text(StartupDir());
  const std::string folder = desktop + "\\Trux Folder";
  const std::string install = Text(run.directories.installation);
  const std::string uninstallDir = Text(run.directories.uninstall);
  ASSERT_FALSE(desktop.empty());
  ASSERT_FALSE(programs.empty());
  ASSERT_FALSE(startup.empty());

  // The archive's own record first, then the entries' requests.
  Array<ShortcutRecord> requests;
  {
    ShortcutRecord& r = settings.shortcuts.Append();  // desktop folder and start menu, in a subfolder
    r.desktop = r.startMenu = 1;
    r.target = "%InstallDir%\\app.exe";
    r.expandTarget = true;
    r.name = "Tools\\Trux App";
    r.iconFile = "app.ico";  // relative to the uninstall directory
    r.arguments = "/open %InstallDir%";
    r.workingDirectory = "\"%InstallDir%\"";
  }
  {
    ShortcutRecord& r = requests.Append();  // permanent: made, not recorded
    r.desktop = 1;
    r.permanent = 1;
    r.target = target_.c_str();
    r.name = "Kept.lnk";
  }
  {
    ShortcutRecord& r = requests.Append();  // startup, no name, missing working directory
    r.startup = 1;
    r.target = "ignored.exe";
    r.arguments = "~\"%InstallDir%\\app.exe\"  -quiet ";
    r.workingDirectory = "C:\\does\\not\\exist";
    r.expandTarget = true;
  }
  const bool desktopChanged = CreateShortcuts(run, settings, requests);
  EXPECT_TRUE(desktopChanged);
  EXPECT_EQ(Errors(), "");
  // The uninstaller's desktop link is made without adding to either list.
  EXPECT_EQ(settings.shortcuts.Count(), 1);
  EXPECT_EQ(requests.Count(), 2);

  const std::string appLinkFolder = folder + "\\Tools\\Trux App.LNK";
  const std::string appLinkMenu = programs + "\\Trux Product\\Tools\\Trux App.LNK";
  const std::string keptLink = folder + "\\Kept.lnk";
  const std::string startupLink = startup + "\\Shortcut to app.exe.LNK";
  const std::string uninstallFolderLink = folder + "\\Uninstall Trux Product.LNK";
  const std::string uninstallMenuLink = programs + "\\Trux Product\\Uninstall Trux Product.LNK";
  const std::string uninstallDirLink = uninstallDir + "\\Uninstall Trux Product.LNK";
  const std::string uninstaller = uninstallDir + "\\Uninstall.exe";
  const std::string icon = uninstallDir + "\\Desktop Icon.ico";

  LinkData data;
  for (const std::string& link : {appLinkFolder, appLinkMenu}) {
    SCOPED_TRACE(link);
    ASSERT_TRUE(ReadLink(link, data));
    EXPECT_EQ(data.target, install + "\\app.exe");
    EXPECT_EQ(data.arguments, "/open " + install);
    EXPECT_EQ(data.workingDirectory, install);
    EXPECT_EQ(data.icon, uninstallDir + "\\app.ico");
  }
  ASSERT_TRUE(ReadLink(keptLink, data));
  EXPECT_EQ(data.target, target_);
  ASSERT_TRUE(ReadLink(startupLink, data));
  EXPECT_EQ(data.target, install + "\\app.exe");
  EXPECT_EQ(data.arguments, "-quiet");
  EXPECT_EQ(data.workingDirectory, install);
  for (const std::string& link : {uninstallFolderLink, uninstallMenuLink, uninstallDirLink}) {
    SCOPED_TRACE(link);
    ASSERT_TRUE(ReadLink(link, data));
    EXPECT_EQ(data.target, uninstaller);
    EXPECT_EQ(data.arguments, "/u:\"Trux Product 1.0\"");
  }

  // The desktop folder: made once, with its icon named by Desktop.ini.
  EXPECT_EQ(ReadRaw(icon), std::string("\0\0\1\0icon bytes", 14));
  char value[MAX_PATH];
  GetPrivateProfileStringA(".ShellClassInfo", "IconFile", "", value, sizeof value, (folder + "\\Desktop.ini").c_str());
  EXPECT_EQ(std::string(value), icon);
  GetPrivateProfileStringA(".ShellClassInfo", "IconIndex", "", value, sizeof value, (folder + "\\Desktop.ini").c_str());
  EXPECT_EQ(std::string(value), "0");
  EXPECT_TRUE(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_SYSTEM);
  const DWORD iniAttributes = GetFileAttributesA((folder + "\\Desktop.ini").c_str());
  EXPECT_EQ(iniAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
            (DWORD)(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));

  const std::vector<std::string> expectedRecord = {
      folder + "\\Desktop.ini", "~" + folder, icon, appLinkFolder, appLinkMenu, startupLink, uninstallFolderLink,
      uninstallMenuLink, uninstallDirLink,
  };
  EXPECT_EQ(Lines(Recorded()), expectedRecord);
  EXPECT_EQ(Log(), "Desktop Folder Shortcut(Tools\\Trux App) -> " + appLinkFolder + "\r\n" +
                       "Start Menu Shortcut(Tools\\Trux App) -> " + appLinkMenu + "\r\n" +
                       "Desktop Folder Shortcut(Kept.lnk) -> " + keptLink + "\r\n" +
                       "Startup Shortcut(Shortcut to app.exe) -> " + startupLink + "\r\n" +
                       "Desktop Folder Shortcut(Uninstall Trux Product) -> " + uninstallFolderLink + "\r\n" +
                       "Uninstaller Shortcut -> " + uninstallMenuLink + "\r\n" + "Uninstaller Shortcut -> " +
                       uninstallDirLink + "\r\n");
}

TEST_F(ShortcutsTest, PlainDesktopQuietLogAndFailures) {
  run.productFlags = 0;  // no verbose log, no uninstaller
  ArchiveSettings settings;
  settings.ShortcutMode = 1;  // all users
  Array<ShortcutRecord> requests;
  {
    ShortcutRecord& r = requests.Append();
    r.desktop = 1;
    r.target = target_.c_str();
    r.name = "Trux Desktop";
  }
  {
    ShortcutRecord& r = requests.Append();
    r.desktop = 1;
    r.target = target_.c_str();
    r.name = "..\\Escaped";
  }
  EXPECT_TRUE(CreateShortcuts(run, settings, requests));
  const std::string link = Text(DesktopAllDir()) + "\\Trux Desktop.LNK";
  LinkData data;
  ASSERT_TRUE(ReadLink(link, data));
  EXPECT_EQ(Lines(Recorded()), std::vector<std::string>{link});
  EXPECT_EQ(Log(), "");
  const std::string refused = Text(DesktopAllDir()) + "\\..\\Escaped";
  EXPECT_EQ(Errors(), "Error writing file " + refused + "\r\n" + Text(SystemErrorText(ERROR_INVALID_NAME)) + "\r\n");
  EXPECT_FALSE(Exists(refused + ".LNK"));

  // No desktop request: the desktop is not reported as changed.
  Array<ShortcutRecord> none;
  EXPECT_FALSE(CreateShortcuts(run, settings, none));
}

// The start-menu rule of Windows 95 and 98 needs the system version the
// program sees at start: the test runs itself again under that version.
TEST_F(ShortcutsTest, Windows98AllUsersStartMenuMakesTwoLinks) {
  if (GetEnvironmentVariableA("TRUX_WIN98_CHILD", nullptr, 0) == 0) {
    const std::string exe = Text(ModulePath());
    const std::string appKey = "Software\\Wine\\AppDefaults\\" + Text(FileNameOf(exe.c_str()));
    SetRegText(HKEY_CURRENT_USER, appKey, "Version", "win98");
    SetEnvironmentVariableA("TRUX_WIN98_CHILD", "1");
    std::string command = "\"" + exe + "\" --gtest_brief=1 --gtest_filter=ShortcutsTest.Windows98AllUsersStartMenuMakesTwoLinks";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    WaitForSingleObject(pi.hProcess, 120000);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    SetEnvironmentVariableA("TRUX_WIN98_CHILD", nullptr);
    DeleteTree(HKEY_CURRENT_USER, appKey);
    EXPECT_EQ(code, 0u) << "the run under win98 failed";
    return;
  }
  ASSERT_TRUE(IsWin95Or98()) << "the prefix's version for this program is not win98";
  run.productFlags = 0;
  ArchiveSettings settings;
  settings.ShortcutMode = 1;
  settings.ProductStartMenu = "Trux 98";
  Array<ShortcutRecord> requests;
  ShortcutRecord& r = requests.Append();
  r.startMenu = 1;
  r.target = target_.c_str();
  r.name = "App";
  EXPECT_FALSE(CreateShortcuts(run, settings, requests));  // start-menu links leave the desktop as it was
  const std::string allUsers = Text(SMProgramsAllDir()) + "\\Trux 98\\App.LNK";
  const std::string mine = Text(SMProgramsDir()) + "\\Trux 98\\App.LNK";
  ASSERT_NE(allUsers, mine);
  LinkData data;
  ASSERT_TRUE(ReadLink(allUsers, data));
  ASSERT_TRUE(ReadLink(mine, data));
  EXPECT_EQ(Lines(Recorded()), (std::vector<std::string>{allUsers, mine}));
  EXPECT_EQ(Errors(), "");
}

// ====================================================== kept files, keys

TEST_F(ActionsTest, KeptFiles) {
  // A 2 x 1 picture, 24 bits: header, no table, one padded row.
  std::string dib(40 + 8, '\0');
  dib[0] = 40;
  dib[4] = 2;
  dib[8] = 1;
  dib[12] = 1;
  dib[14] = 24;
  for (int i = 0; i < 6; ++i) dib[40 + i] = (char)(0x10 + i);
  const struct {
    const char* what;
    uint64_t flags;
    std::vector<std::string> readmes, licences;
    std::vector<std::string> files;     // names written, in order (B = the bitmap)
    std::vector<std::string> contents;  // what each text file holds
  } cases[] = {
      {"bitmap only", Bit(kFlagKeepBackgroundBitmap), {"r"}, {"l"}, {"B"}, {""}},
      {"one readme", Bit(kFlagKeepReadmeFiles), {"R1"}, {"L1"}, {"readme.txt"}, {"R1"}},
      {"numbered over the non-empty texts", Bit(kFlagKeepReadmeFiles) | Bit(kFlagKeepLicenseFiles),
       {"R1", "", "R2"}, {"", "L1"}, {"readme1.txt", "readme2.txt", "eula.txt"}, {"R1", "R2", "L1"}},
      {"nothing without the flags", 0, {"R1"}, {"L1"}, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    AttachedRun fresh;
    ::Run& run = fresh.run;
    PrepareRun(run, root_);
    ArchiveSettings settings;
    settings.backgroundBitmap = String(dib.data(), (int32_t)dib.size());
    for (const std::string& t : c.readmes) settings.readmeTexts.Append(String(t.c_str()));
    for (const std::string& t : c.licences) settings.licenseTexts.Append(String(t.c_str()));
    run.productFlags = c.flags;
    const std::string install = Text(run.directories.installation);
    for (const char* n : {"readme.txt", "readme1.txt", "readme2.txt", "eula.txt", "eula1.txt"})
      DeleteFileA((install + "\\" + n).c_str());
    const std::string bmp = Text(run.directories.uninstall) + "\\Installer Background.BMP";
    DeleteFileA(bmp.c_str());

    WriteKeptFiles(run, settings);
    std::vector<std::string> expected;
    for (const std::string& f : c.files) expected.push_back(f == "B" ? bmp : install + "\\" + f);
    EXPECT_EQ(Lines(Text(run.uninstall.List())), expected);
    for (size_t i = 0; i < c.files.size(); ++i) {
      const std::string& f = c.files[i];
      if (f != "B") {
        EXPECT_EQ(ReadRaw(install + "\\" + f), c.contents[i]);
      } else {
        std::string file = ReadRaw(bmp);
        ASSERT_EQ(file.size(), 14 + dib.size());
        EXPECT_EQ(file.substr(0, 2), "BM");
        EXPECT_EQ((unsigned char)file[10], 14 + 40);  // pixels right after the header
        EXPECT_EQ(file.substr(14), dib);
      }
    }
  }
}

TEST_F(ActionsTest, ProductKeysInBothHives) {
  DeleteTree(HKEY_LOCAL_MACHINE, "Software\\Trux Test");
  DeleteTree(HKEY_CURRENT_USER, "Software\\Trux Test");
  CreateProductKeys(run.texts, "Trux Test\\Product\\1.0");
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Trux Test\\Product\\1.0"));
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Trux Test\\Product\\1.0"));
  EXPECT_EQ(Errors(), "");
  CreateProductKeys(run.texts, "");  // nothing to do
  EXPECT_EQ(Errors(), "");
  // A key path the registry refuses (a name longer than 255 characters).
  const std::string bad = "Trux Test\\" + std::string(300, 'k');
  CreateProductKeys(run.texts, bad.c_str());
  EXPECT_EQ(Errors(), "Error creating registry keys:\r\n" + bad + "\r\n\r\n");
  DeleteTree(HKEY_LOCAL_MACHINE, "Software\\Trux Test");
  DeleteTree(HKEY_CURRENT_USER, "Software\\Trux Test");
}

// ========================================================= associations

class AssociationsTest : public ActionsTest {
 protected:
  void SetUp() override {
    ActionsTest::SetUp();
    for (const char* k : {".truxa", ".truxb", ".truxc", ".truxd", ".truxe", "Trux.Doc", "Other.Type", "Existing.Type"})
      DeleteTree(HKEY_CLASSES_ROOT, k);
  }
  void TearDown() override {
    for (const char* k : {".truxa", ".truxb", ".truxc", ".truxd", ".truxe", "Trux.Doc", "Other.Type", "Existing.Type"})
      DeleteTree(HKEY_CLASSES_ROOT, k);
    ActionsTest::TearDown();
  }
  static FileAssociation Record(const char* ext, const char* type, const char* verb, uint32_t flags = 0,
                                const char* language = "", const char* icon = "") {
    FileAssociation a;
    a.number = flags;
    a.texts[kAssocExtension] = ext;
    a.texts[kAssocFileType] = type;
    a.texts[kAssocDescription] = "Trux document";
    a.texts[kAssocVerb] = verb;
    a.texts[kAssocVerbCaption] = "&Open with Trux";
    a.texts[kAssocCommand] = "\"%InstallDir%\\app.exe\" \"%1\"";
    a.texts[kAssocLanguage] = language;
    a.texts[kAssocIcon] = icon;
    return a;
  }
  std::string Command() const { return "\"" + Text(run.directories.installation) + "\\app.exe\" \"%1\""; }
  std::string AssocLog() const { return Text(run.uninstall.AssociationLog()); }
};

TEST_F(AssociationsTest, ExtensionOwnedByAnotherProgramIsBackedUpAndReinstallKeepsTheBackup) {
  SetRegText(HKEY_CLASSES_ROOT, ".truxa", "", "Other.Type");
  SetRegText(HKEY_CLASSES_ROOT, "Other.Type", "", "Other document");
  SetRegText(HKEY_CLASSES_ROOT, "Trux.Doc\\shell", "", "print");
  Array<FileAssociation> records;
  records.Append(Record("truxa", "Trux.Doc", "open", kAssocDefaultVerb, "", "%InstallDir%\\app.exe,1"));
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass == 0 ? "first installation" : "installed again");
    AttachedRun fresh;  // each installation is a run of its own
    ::Run& run = fresh.run;
    PrepareRun(run, root_);
    AssociateFileTypes(run, records, "English", kProduct);
    EXPECT_EQ(Text(run.texts.errors), "");
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, ".truxa"), "Trux.Doc");
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, ".truxa", kBackup), "Other.Type");
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, "Trux.Doc"), "Trux document");
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, "Trux.Doc", kBackup), "<none>");
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, "Trux.Doc\\DefaultIcon"), Text(run.directories.installation) + "\\app.exe,1");
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, "Trux.Doc\\shell"), "open");
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, "Trux.Doc\\shell", kBackup), "print");
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, "Trux.Doc\\shell\\open"), "&Open with Trux");
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, "Trux.Doc\\shell\\open\\command"), Command());
    EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, "Trux.Doc\\shell\\open\\command", kBackup), "<none>");
    EXPECT_EQ(Text(run.uninstall.AssociationLog()), ".truxa~!~Trux.Doc~!~open\r\n");
  }
  EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, "Other.Type"), "Other document") << "another program's type is untouched";
}

TEST_F(AssociationsTest, UseExistingFileTypes) {
  SetRegText(HKEY_CLASSES_ROOT, ".truxb", "", "Existing.Type");
  SetRegText(HKEY_CLASSES_ROOT, "Existing.Type", "", "Existing description");
  SetRegText(HKEY_CLASSES_ROOT, ".truxd", "", "");  // an extension key without a file type
  Array<FileAssociation> records;
  records.Append(Record(".truxb", "!Trux.Doc", "edit"));  // has a type: the verb goes there
  records.Append(Record(".truxc", "!Trux.Doc", "open"));  // none: the name without "!"
  records.Append(Record(".truxd", "", "open"));           // empty type, no label
  records.Append(Record(".truxe", "", "open"));           // empty type, no key
  AssociateFileTypes(run, records, "English", kProduct);

  EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, ".truxb"), "Existing.Type");
  EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, ".truxb", kBackup), "<none>");
  EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, "Existing.Type"), "Existing description") << "description left alone";
  EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, "Existing.Type\\shell\\edit\\command"), Command());
  EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, ".truxc"), "Trux.Doc");
  EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, "Trux.Doc"), "Trux document");
  EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, "Trux.Doc\\shell\\open\\command"), Command());
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ".truxe")) << "an empty file type never creates the extension";
  EXPECT_EQ(AssocLog(), ".truxb~!~Existing.Type~!~edit\r\n.truxc~!~Trux.Doc~!~open\r\n");
  EXPECT_EQ(Errors(), "Association failed/no label:  \".truxd\".\r\n\r\n"
                      "Association failed/key inaccessible:  \".truxe\".\r\n\r\n");
}

TEST_F(AssociationsTest, LanguageEmptyExtensionAndEmptyVerb) {
  SetRegText(HKEY_CLASSES_ROOT, "Trux.Doc\\shell", "", "print");
  Array<FileAssociation> records;
  records.Append(Record(".truxa", "Trux.Doc", "open", 0, "Deutsch"));  // another language: skipped
  records.Append(Record(".truxb", "Trux.Doc", "open", 0, "English"));  // this language
  records.Append(Record("", "Trux.Doc", "open"));                      // no extension: skipped
  records.Append(Record(".truxc", "Trux.Doc", "", kAssocDefaultVerb)); // no verb: refused untouched
  AssociateFileTypes(run, records, "English", kProduct);
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ".truxa"));
  EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, ".truxb"), "Trux.Doc");
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ".truxc"));
  EXPECT_EQ(RegText(HKEY_CLASSES_ROOT, "Trux.Doc\\shell"), "print");
  EXPECT_EQ(AssocLog(), ".truxb~!~Trux.Doc~!~open\r\n");
  EXPECT_EQ(Errors(), "Failed to associate file type:  \".truxc\".\r\n\r\n");
}

TEST(BackupValueName, DropsSeparatorsAndControlCharacters) {
  EXPECT_EQ(Text(BackupValueName("Trux\\Pro\tduct\r\n 2")), "TruxProduct 2 Backup");
  EXPECT_EQ(Text(BackupValueName("")), " Backup");
}

}  // namespace
