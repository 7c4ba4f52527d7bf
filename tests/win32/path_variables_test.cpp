// Directory variables against the folders of a clean prefix: every variable
// in one text (checked against the system's own answers), letter case,
// environment names, unknown names, the order of the rows, and the registry
// sources with their fallbacks.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/path.h"
#include "core/win32/path_variables.h"
#include "core/win32/registry.h"
#include "core/win32/system_dirs.h"

namespace {

std::string Text(const String& s) { return std::string(s.CStr(), (size_t)s.Length()); }

std::string Env(const char* name) {
  char buffer[MAX_PATH];
  DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  return (n > 0 && n < sizeof buffer) ? std::string(buffer, n) : std::string();
}

std::string Expanded(const char* text, const RunDirectories& run) {
  String s(text);
  EXPECT_TRUE(ExpandPathVariables(s, run)) << text;
  return Text(s);
}

class PathVariablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run.installation = "D:\\Apps\\Trux";
    run.shared = "D:\\Apps\\Shared";
    run.uninstall = "D:\\Apps\\Trux\\Uninstall";
    run.productVersion = "1.2.3";
  }

  std::string Expanded(const char* text) const { return ::Expanded(text, run); }

  RunDirectories run;  // each test's own run values
};

TEST_F(PathVariablesTest, EveryVariableInOneText) {
  char buffer[MAX_PATH];
  GetWindowsDirectoryA(buffer, sizeof buffer);
  const std::string windows = buffer;
  GetSystemDirectoryA(buffer, sizeof buffer);
  const std::string system = buffer;
  GetTempPathA(sizeof buffer, buffer);
  std::string temp = buffer;
  temp.pop_back();
  GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  const std::string module = buffer;
  const size_t slash = module.rfind('\\');
  const std::string appData = Env("APPDATA"), profile = Env("USERPROFILE"), everyone = Env("ALLUSERSPROFILE"),
                    pub = Env("PUBLIC");
  ASSERT_FALSE(appData.empty() || profile.empty() || everyone.empty() || pub.empty());
  const std::string startMenu = appData + "\\Microsoft\\Windows\\Start Menu";
  const std::string startMenuAll = everyone + "\\Microsoft\\Windows\\Start Menu";

  const std::vector<std::pair<const char*, std::string>> rows = {
      {"%AppDataAllDir%", everyone},
      {"%AppDataDir%", appData},
      {"%BootDrive%", "C:"},
      {"%CommonDir%", "C:\\Program Files\\Common Files"},
      {"%DesktopAllDir%", pub + "\\Desktop"},
      {"%DesktopDir%", profile + "\\Desktop"},
      {"%DeviceDir%", windows + "\\INF"},
      {"%DocumentAllDir%", pub + "\\Documents"},
      {"%DocumentDir%", profile + "\\Documents"},
      {"%FavoritesAllDir%", profile + "\\Favorites"},
      {"%FavoritesDir%", profile + "\\Favorites"},
      {"%FontDir%", windows + "\\Fonts"},
      {"%Inetpub%", "c:\\Inetpub"},
      {"%InstallDir%", "D:\\Apps\\Trux"},
      {"%InstallDrive%", "D:"},
      {"%InstallerDir%", module.substr(0, slash)},
      {"%InstallerDrive%", module.substr(0, 1)},
      {"%InstallerFilename%", module.substr(slash + 1)},
      {"%InstallerFilepath%", module},
      {"%MediaDir%", windows + "\\Media"},
      {"%ProgramsDir%", "C:\\Program Files"},
      {"%SharedDir%", "D:\\Apps\\Shared"},
      {"%SMProgramsAllDir%", startMenuAll + "\\Programs"},
      {"%SMProgramsDir%", startMenu + "\\Programs"},
      {"%StartMenuAllDir%", startMenuAll},
      {"%StartMenuDir%", startMenu},
      {"%StartupAllDir%", startMenuAll + "\\Programs\\StartUp"},
      {"%StartupDir%", startMenu + "\\Programs\\StartUp"},
      {"%SystemDir%", system},
      {"%Temp%", temp},
      {"%UninstallDir%", "D:\\Apps\\Trux\\Uninstall"},
      {"%Version%", "1.2.3"},
      {"%WinDir%", windows},
  };
  // The rows are the table's, in its order.
  int32_t count = 0;
  const PathVariable* table = PathVariables(&count);
  ASSERT_EQ(count, 33);
  ASSERT_EQ(rows.size(), 33u);
  std::string text, expected;
  for (int32_t i = 0; i < count; ++i) {
    EXPECT_STREQ(table[i].name, rows[i].first);
    text += std::string("<") + rows[i].first + ">";
    expected += "<" + rows[i].second + ">";
  }
  EXPECT_EQ(Expanded(text.c_str()), expected);
}

TEST_F(PathVariablesTest, NamesMatchInAnyLetterCase) {
  EXPECT_EQ(Expanded("%installdir%|%INSTALLDIR%|%InStAlLdIr%\\bin"), "D:\\Apps\\Trux|D:\\Apps\\Trux|D:\\Apps\\Trux\\bin");
  EXPECT_EQ(Expanded("%installerdrive%-%INSTALLDRIVE%-%bootdrive%"), Text(InstallerDrive()) + "-D:-C:");
}

TEST_F(PathVariablesTest, EnvironmentNamesAndUnknownNames) {
  ASSERT_TRUE(SetEnvironmentVariableA("TRUX_TEST_VARIABLE", "from the environment"));
  EXPECT_EQ(Expanded("%trux_test_variable%"), "from the environment");
  EXPECT_EQ(Expanded("%SystemRoot%\\x"), Env("SystemRoot") + "\\x");
  EXPECT_EQ(Expanded("%NoSuchTruxVariable%\\x"), "%NoSuchTruxVariable%\\x");
  EXPECT_EQ(Expanded("100% sure, 50%"), "100% sure, 50%");
  EXPECT_EQ(Expanded(""), "");
}

TEST_F(PathVariablesTest, UncInstallationDirectoryHasNoDrive) {
  run.installation = "\\\\server\\share\\Trux";
  EXPECT_EQ(Expanded("[%InstallDrive%] [%InstallDir%]"), "[] [\\\\server\\share\\Trux]");
  EXPECT_EQ(Text(InstallDrive(run.installation)), "");
}

TEST_F(PathVariablesTest, LaterRowsScanWhatEarlierRowsInserted) {
  // %InstallDir% (row 14) inserts "%Temp%", which row 30 replaces; %Version%
  // (row 32) inserts "%InstallDir%" after row 14 has run, and no environment
  // variable has that name, so it stays.
  run.installation = "%Temp%\\Trux";
  run.productVersion = "%InstallDir%";
  EXPECT_EQ(Expanded("%InstallDir%|%Version%"), Text(TempDir()) + "\\Trux|%InstallDir%");
}

// Writes a registry text for one test and puts the old state back after it.
class ScopedRegistryText {
 public:
  ScopedRegistryText(HKEY root, const char* key, const char* name, const char* text, uint32_t flags = 0)
      : root_(root), key_(key), name_(name) {
    RegistryKey k;
    existed_ = RegistryKey::KeyExists(root, key);
    EXPECT_NE(kRegistryOpenFailed, k.Open(root, key));
    RegistryValue old;
    had_ = k.ReadValue(name, old);
    old_ = Text(old.bytes);
    oldType_ = old.type;
    EXPECT_TRUE(k.WriteText(name, text, flags));
  }
  ~ScopedRegistryText() {
    RegistryKey k;
    EXPECT_NE(kRegistryOpenFailed, k.Open(root_, key_.c_str()));
    if (had_) {
      EXPECT_TRUE(k.WriteText(name_.c_str(), old_.c_str(), oldType_ == REG_EXPAND_SZ ? (uint32_t)kRegistryExpand : 0u));
    } else {
      k.DeleteValue(name_.c_str());
    }
    k.CloseAll();
    if (!existed_) k.DeletePathKey(root_, key_.c_str());
  }

 private:
  HKEY root_;
  std::string key_, name_, old_;
  DWORD oldType_ = REG_NONE;
  bool existed_ = false, had_ = false;
};

const char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

TEST_F(PathVariablesTest, ShellFolderValuesLoseOneTrailingBackslashUnlessARoot) {
  {
    ScopedRegistryText personal(HKEY_CURRENT_USER, kShellFolders, "Personal", "C:\\Docs\\");
    EXPECT_EQ(Text(ReadShellFolder("Personal", false)), "C:\\Docs");
    EXPECT_EQ(Expanded("%DocumentDir%"), "C:\\Docs");
  }
  {
    ScopedRegistryText personal(HKEY_CURRENT_USER, kShellFolders, "Personal", "C:\\");
    EXPECT_EQ(Expanded("%DocumentDir%"), "C:\\");
  }
  {
    // An empty value falls through to the shell's folder.
    ScopedRegistryText personal(HKEY_CURRENT_USER, kShellFolders, "Personal", "");
    EXPECT_EQ(Expanded("%DocumentDir%"), Text(SpecialFolderPath(CSIDL_PERSONAL)));
  }
  {
    ScopedRegistryText common(HKEY_LOCAL_MACHINE, kShellFolders, "Common Desktop", "E:\\Everyone\\Desk\\\\");
    EXPECT_EQ(Text(ReadShellFolder("Common Desktop", true)), "E:\\Everyone\\Desk\\");
    EXPECT_EQ(Text(ReadShellFolder("Common Desktop", false)), "");
  }
  EXPECT_EQ(Text(ReadShellFolder("NoSuchTruxFolder", false)), "");
}

TEST_F(PathVariablesTest, CommonStartupGivesTheAllUsersStartMenuFolders) {
  // Rows 23 and 25 fall back to the parents of "Common Startup" only when
  // their own sources are empty; here the first source is set directly.
  ScopedRegistryText programs(HKEY_LOCAL_MACHINE, kShellFolders, "Common Programs", "F:\\Menu\\Programs\\");
  EXPECT_EQ(Text(SMProgramsAllDir()), "F:\\Menu\\Programs");
}

TEST_F(PathVariablesTest, WebRootIsReadOnlyWhenPresent) {
  const char* key = "SOFTWARE\\Microsoft\\INetStp";
  ASSERT_FALSE(RegistryKey::KeyExists(HKEY_LOCAL_MACHINE, key));
  EXPECT_EQ(Expanded("%Inetpub%"), "c:\\Inetpub");
  EXPECT_FALSE(RegistryKey::KeyExists(HKEY_LOCAL_MACHINE, key));
  {
    ScopedRegistryText root(HKEY_LOCAL_MACHINE, key, "PathWWWRoot", "D:\\Web\\root\\");
    EXPECT_EQ(Expanded("%inetpub%"), "D:\\Web");
  }
  EXPECT_FALSE(RegistryKey::KeyExists(HKEY_LOCAL_MACHINE, key));
}

TEST_F(PathVariablesTest, DevicePathReplacesTheFirstSystemRoot) {
  ScopedRegistryText device(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "DevicePath",
                            "%systemroot%\\inf;%SystemRoot%\\more", kRegistryExpand);
  const std::string root = Env("SystemRoot");
  EXPECT_EQ(Text(DeviceDir()), root + "\\inf;%SystemRoot%\\more");
  // In a whole expansion the environment step takes the second one too.
  EXPECT_EQ(Expanded("%DeviceDir%"), root + "\\inf;" + root + "\\more");
}

TEST_F(PathVariablesTest, CurrentVersionValuesSplitAtTheLastBackslash) {
  ScopedRegistryText appData(HKEY_LOCAL_MACHINE, kShellFolders, "Common AppData", "G:\\Shared Data\\");
  EXPECT_EQ(Text(ReadCurrentVersionValue("Explorer\\Shell Folders\\Common AppData")), "G:\\Shared Data");
  ScopedRegistryText media(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", "MediaPath", "H:\\");
  EXPECT_EQ(Text(ReadCurrentVersionValue("MediaPath")), "H:\\");
  EXPECT_EQ(Expanded("%MediaDir%"), "H:\\");
  EXPECT_EQ(Text(ReadCurrentVersionValue("NoSuchTruxValue")), "");
}

TEST_F(PathVariablesTest, BootDriveComesFromTheSetupKey) {
  const char* setup = "Software\\Microsoft\\Windows\\CurrentVersion\\Setup";
  EXPECT_EQ(BootDriveLetter(), 'C');
  const struct {
    const char* bootDir;
    char letter;
  } cases[] = {{"d:\\", 'D'}, {"E:", 'E'}, {"xyz", 'C'}, {"1:\\", 'C'}, {"", 'C'}};
  for (const auto& c : cases) {
    ScopedRegistryText boot(HKEY_LOCAL_MACHINE, setup, "BootDir", c.bootDir);
    EXPECT_EQ(BootDriveLetter(), c.letter) << c.bootDir;
  }
  ScopedRegistryText boot(HKEY_LOCAL_MACHINE, setup, "BootDir", "d:\\");
  EXPECT_EQ(Expanded("%BootDrive%"), "D:");
}

TEST(SystemFolders, MatchTheSystemsAnswers) {
  char buffer[MAX_PATH];
  GetWindowsDirectoryA(buffer, sizeof buffer);
  EXPECT_EQ(Text(WindowsDir()), buffer);
  GetSystemDirectoryA(buffer, sizeof buffer);
  EXPECT_EQ(Text(SystemDir()), buffer);
  GetTempPathA(sizeof buffer, buffer);
  std::string temp = buffer;
  ASSERT_EQ(temp.back(), '\\');
  temp.pop_back();
  EXPECT_EQ(Text(TempDir()), temp);
  GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  EXPECT_EQ(Text(ModulePath()), buffer);
  EXPECT_EQ(Text(SpecialFolderPath(CSIDL_FONTS)), Text(WindowsDir()) + "\\Fonts");
  EXPECT_EQ(Text(SpecialFolderPath(-1)), "");
}

TEST(SystemFolders, TempDirFollowsTheEnvironmentWithoutItsBackslash) {
  std::string tmp = Env("TMP"), tempVar = Env("TEMP");
  SetEnvironmentVariableA("TMP", "Q:\\Somewhere\\");
  EXPECT_EQ(Text(TempDir()), "Q:\\Somewhere");
  EXPECT_EQ(Expanded("%temp%", RunDirectories()), "Q:\\Somewhere");
  SetEnvironmentVariableA("TMP", tmp.c_str());
  SetEnvironmentVariableA("TEMP", tempVar.c_str());
}

}  // namespace
