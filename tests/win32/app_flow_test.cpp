// The installation's end steps against the real system under Wine: batch
// files run by the real command interpreter, the autoexec.bat PATH edit,
// directory rights, the Uninstall key with every value kind, Uninstall.DAT,
// the uninstaller copy and the install log.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "actions/batch.h"
#include "actions/install_log.h"
#include "app/install_flow.h"
#include "core/path.h"
#include "core/sha256.h"
#include "core/win32/file_util.h"
#include "core/win32/path_variables.h"
#include "core/win32/process.h"
#include "core/win32/registry.h"
#include "core/win32/system_dirs.h"
#include "install/file_writer.h"
#include "runtime/installer_archive.h"
#include "runtime/message_format.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "tests/win32/file_test_support.h"
#include "tests/win32/run_case.h"
#include "ui/progress_dialog.h"
#include "uninstall/uninstall_data.h"
#include "uninstall/uninstall_registration.h"

using namespace filetest;

namespace {

std::string Text(const String& s) { return std::string(s.CStr(), (size_t)s.Length()); }

// Message n reads "M<n>", except those the tests look at.
void LoadMessages(Run& run) {
  Array<String> table;
  for (int i = 0; i < 80; ++i) {
    String text("M");
    text.Append(std::to_string(i).c_str());
    if (i == 31) text = "Error writing";
    if (i == 43) text = "Installation Complete";
    if (i == 34) text = "<product> is gone.\r\nBye.";
    table.Append(text);
  }
  run.messages.Set(1, table);
}

// The run's message n, as the uninstall data file is written with.
const char* RunMessage(void* run, int32_t n) { return MessageText(*static_cast<Run*>(run), n); }

// An automatic run of the product "Flow Unit".
void PrepareRun(Run& run) {
  LoadMessages(run);
  run.options.automaticMode = true;
  run.options.DisplayName = "Flow Unit";
  run.options.uninstallName = "Flow Unit";
}

class FlowTest : public RunCase {
 protected:
  void SetUp() override { PrepareRun(run); }
};

// ---- batches ---------------------------------------------------------------

TEST_F(FlowTest, BatchSetsVariablesDropsPausesAndDeletesItsFile) {
  const std::string dir = FreshDirectory("flow batch");
  run.directories.productVersion = "3.1";
  run.directories.uninstall = "C:\\flow batch\\uninst";
  // Automatic mode: the PAUSE lines must go, or the interpreter would wait.
  RunBatch(run, dir.c_str(), true,
           String("set InstallDir>out.txt\r\nPAUSE\r\n  @pause \r\nset Version>>out.txt\nset UninstallDir>>out.txt\r\n"
                  "set InstallDrive>>out.txt"));
  EXPECT_EQ("InstallDir=C:\\flow batch\r\nVersion=3.1\r\nUninstallDir=C:\\flow batch\\uninst\r\nInstallDrive=C:\r\n",
            ReadRaw(dir + "\\out.txt"));
  EXPECT_FALSE(Exists(dir + "\\TRUXBAT.BAT"));
}

TEST_F(FlowTest, BatchKeepsSpecialCharactersOfDirectoriesAsText) {
  // A directory name the interpreter would otherwise run as commands.
  const std::string dir = FreshDirectory("flow & (x) ^ y");
  const std::string victim = "C:\\flow_victim.txt";
  DeleteFileA(victim.c_str());
  run.directories.uninstall = "C:\\u & echo injected>C:\\flow_victim.txt";
  RunBatch(run, dir.c_str(), true, String("set InstallDir>out.txt\r\nset UninstallDir>>out.txt\r\n"));
  EXPECT_EQ("InstallDir=" + dir + "\r\nUninstallDir=C:\\u & echo injected>C:\\flow_victim.txt\r\n",
            ReadRaw(dir + "\\out.txt"));
  EXPECT_FALSE(Exists(victim)) << "a SET line ran part of its value as a command";
}

TEST_F(FlowTest, BatchNeverRunsAFileLeftUnderItsNameInTheDirectory) {
  const std::string dir = FreshDirectory("flow batch old");
  ASSERT_TRUE(WriteRaw(dir + "\\TRUXBAT.BAT", "@echo old>old.txt\r\n"));
  ASSERT_TRUE(SetFileAttributesA((dir + "\\TRUXBAT.BAT").c_str(), FILE_ATTRIBUTE_READONLY));
  RunBatch(run, dir.c_str(), true, String("echo new>new.txt"));
  EXPECT_EQ("new\r\n", ReadRaw(dir + "\\new.txt"));
  EXPECT_FALSE(Exists(dir + "\\old.txt"));
  // The batch is not written there at all: the file left there stays as it was.
  EXPECT_EQ("@echo old>old.txt\r\n", ReadRaw(dir + "\\TRUXBAT.BAT"));
  SetFileAttributesA((dir + "\\TRUXBAT.BAT").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The batch file is written in a new directory of the run's own under the
// temporary directory, held open against writers while it runs, and goes
// with its directory afterwards; the commands run in the group's directory.
TEST_F(FlowTest, BatchRunsFromADirectoryOfItsOwnHeldAgainstWriters) {
  const std::string dir = FreshDirectory("flow batch own");
  RunBatch(run, dir.c_str(), true,
           String("cd>cwd.txt\r\necho %~dp0>where.txt\r\n"
                  "(echo echo injected^>injected.txt)>>\"%~f0\" && echo appended>append.txt\r\n"
                  "if not exist append.txt echo refused>append.txt\r\n"));
  EXPECT_EQ(dir + "\r\n", ReadRaw(dir + "\\cwd.txt"));
  std::string where = ReadRaw(dir + "\\where.txt");
  while (!where.empty() && (where.back() == '\n' || where.back() == '\r' || where.back() == ' ')) where.pop_back();
  while (!where.empty() && where.back() == '\\') where.pop_back();
  const std::string temp = Text(TempDir());
  ASSERT_GT(where.size(), temp.size() + 6) << where;
  EXPECT_EQ(String(where.substr(0, temp.size() + 6).c_str()).CompareNoCase((temp + "\\trux-").c_str()), 0) << where;
  EXPECT_FALSE(Exists(where)) << "the batch's own directory stayed";
  EXPECT_EQ("refused\r\n", ReadRaw(dir + "\\append.txt"));
  EXPECT_FALSE(Exists(dir + "\\injected.txt"));
}

// The interpreter runs with NoDefaultCurrentDirectoryInExePath=1: a program
// planted in the group's directory under a system program's name is not
// what a command of the batch starts.
TEST_F(FlowTest, BatchDoesNotRunProgramsFromTheGroupsDirectory) {
  const std::string dir = FreshDirectory("flow batch planted");
  const std::string child = Text(JoinPath(DirectoryOf(ModulePath().CStr()).CStr(), "child_fixture.exe"));
  ASSERT_TRUE(CopyFileA(child.c_str(), (dir + "\\hostname.exe").c_str(), FALSE));
  // The control: started plainly there, the interpreter takes the planted one.
  const std::string control = "cmd.exe /c hostname.exe exit 7";
  const uint32_t planted = RunProcess(control.c_str(), kRunWait | kRunHidden, dir.c_str());
  if (planted != 7u) GTEST_SKIP() << "this interpreter never runs a program from its current directory first";
  RunBatch(run, dir.c_str(), true, String("hostname.exe exit 7\r\necho %errorlevel%>rc.txt\r\n"));
  std::string rc = ReadRaw(dir + "\\rc.txt");
  EXPECT_NE("7\r\n", rc) << "the planted hostname.exe ran";
  EXPECT_NE("<missing>", rc);
}

// ---- autoexec.bat ------------------------------------------------------------

TEST_F(FlowTest, AutoexecPathAddTwiceThenRemove) {
  const std::string dir = FreshDirectory("flow autoexec directory with a long name");
  run.directories.installation = dir.c_str();
  const std::string line = "PATH=%PATH%;" + Text(ShortPathOf(dir.c_str())) + "\r\n";
  const std::string autoexec = "C:\\autoexec.bat";
  for (const char* before : {"@ECHO OFF", "@ECHO OFF\r\n"}) {
    ASSERT_TRUE(WriteRaw(autoexec, before));
    EXPECT_EQ("", Text(EditAutoexecPath(run.directories.installation, true)));
    EXPECT_EQ("", Text(EditAutoexecPath(run.directories.installation, true)));
    EXPECT_EQ(std::string("@ECHO OFF\r\n") + line, ReadRaw(autoexec)) << before;
    EXPECT_EQ("", Text(EditAutoexecPath(run.directories.installation, false)));
    EXPECT_EQ("@ECHO OFF\r\n", ReadRaw(autoexec)) << before;
  }
  // The line as the file's last, without its break.
  ASSERT_TRUE(WriteRaw(autoexec, "REM x\r\n" + line.substr(0, line.size() - 2)));
  EXPECT_EQ("", Text(EditAutoexecPath(run.directories.installation, false)));
  EXPECT_EQ("REM x\r\n", ReadRaw(autoexec));

  DeleteFileA(autoexec.c_str());
  EXPECT_EQ("Unable to modify C:\\autoexec.bat.  You will need to manually remove " + dir +
                " from the PATH environment variable.\r\n\r\n",
            Text(EditAutoexecPath(run.directories.installation, false)));
  EXPECT_FALSE(Exists(autoexec));
  EXPECT_EQ("", Text(EditAutoexecPath(run.directories.installation, true)));  // adding creates the file
  EXPECT_EQ("\r\n" + line, ReadRaw(autoexec));
  DeleteFileA(autoexec.c_str());
}

TEST_F(FlowTest, GrantUsersAccessLogsItsOutcome) {
  const std::string dir = FreshDirectory("flow rights");
  GrantUsersAccess(run.texts.installLog, dir.c_str());
  GrantUsersAccess(run.texts.installLog, "C:\\flow rights\\missing");
  const std::string log = Text(run.texts.installLog);
  const std::string ok = "Granting rights to directory \"" + dir + "\"...OK\r\n";
  ASSERT_EQ(ok, log.substr(0, ok.size()));
  const std::string fail = "Granting rights to directory \"C:\\flow rights\\missing\"...FAIL code 3: ";
  EXPECT_EQ(fail, log.substr(ok.size(), fail.size()));
  EXPECT_EQ("\r\n", log.substr(log.size() - 2));
}

// ---- uninstall registration ---------------------------------------------------

struct Value {
  DWORD type;
  std::string data;
};

bool ReadRegistryValue(const char* name, Value& out) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Flow Unit", 0,
                    KEY_READ, &key))
    return false;
  char buffer[4096];
  DWORD size = sizeof buffer;
  LONG r = RegQueryValueExA(key, name, nullptr, &out.type, (BYTE*)buffer, &size);
  RegCloseKey(key);
  if (r) return false;
  if (out.type == REG_DWORD) {
    out.data = std::to_string(*(DWORD*)buffer);
  } else {
    out.data.assign(buffer, size && buffer[size - 1] == 0 ? size - 1 : size);
  }
  return true;
}

void PrepareSettings(Run& run, const std::string& dir) {
  ArchiveSettings& s = run.archive.settings;
  run.productFlags = (1ull << 2) | (1ull << 63);
  s.DisplayVersion = "2.10";
  s.Publisher = "";
  s.ProductRegistry = "Flow\\Unit";
  s.ProductStartMenu = "Flow Tests\\Flow Unit";
  s.uninstallerFileName = "Uninstall Flow.exe";
  s.UninstallSubdir = "uninst";
  s.TopColor = s.BottomColor = 0x123456;
  s.TitleColor = 0xFFFFFF;
  s.TitleShadow = 2;
  s.TitlePosition = 1;
  s.TitleFont = "Arial Bold";
  s.TaskbarText = "";
  s.ShortcutMode = 0;
  s.UninstallBatch1 = "echo one";
  s.uninstallValues.Append(UninstallValue{String("HelpLink"), 2, String("%InstallDir%\\help.txt")});
  s.uninstallValues.Append(UninstallValue{String("EstimatedSize"), 4, String("4294967295")});
  s.uninstallValues.Append(UninstallValue{String("Comments"), 1, String("")});
  s.uninstallValues.Append(UninstallValue{String("InstallLocation"), 1, String("overwritten")});
  run.displayTitle = "Flow Unit Title";
  run.directories.installation = dir.c_str();
  run.directories.uninstall = (dir + "\\uninst").c_str();
  run.directories.shared = "";
  CreateDirectoryA((dir + "\\uninst").c_str(), nullptr);
  run.archive.uninstallerImage = String("MZ\x90\0stub bytes\0\xff", 17);
}

TEST_F(FlowTest, RegisterUninstallWritesEveryValueTheDataFileAndTheUninstaller) {
  const std::string dir = FreshDirectory("flow registration");
  PrepareSettings(run, dir);
  // Values a previous installation left that this one must delete.
  {
    RegistryKey key;
    ASSERT_NE(kRegistryOpenFailed,
              key.Open(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Flow Unit"));
    ASSERT_TRUE(key.WriteText("Publisher", "Old Publisher"));
    ASSERT_TRUE(key.WriteNumber("BottomColor", 7));
    ASSERT_TRUE(key.WriteText("Comments", "old"));
    ASSERT_TRUE(key.WriteNumber("ShortcutMode", 1));
  }
  run.uninstall.Add((dir + "\\app.txt").c_str(), kUninstallFile);
  run.uninstall.Add((dir + "\\docs").c_str(), kUninstallDirectory);
  run.uninstall.AddAssociation(".flw", "FlowFile", "open");
  ProgressDialog progress(run);
  RegisterUninstall(run, progress, String("\"C:\\shared\\a.dll\";"));
  EXPECT_EQ("", Text(run.texts.errors));

  const std::string uninstaller = dir + "\\uninst\\Uninstall Flow.exe";
  EXPECT_EQ(std::string("MZ\x90\0stub bytes\0\xff", 17), ReadRaw(uninstaller));

  struct Expected {
    const char* name;
    DWORD type;
    std::string data;
  };
  const Expected expected[] = {
      {"UninstallString", REG_SZ, "\"" + uninstaller + "\" /u:\"Flow Unit\""},
      {"QuietUninstallString", REG_SZ, "\"" + uninstaller + "\" /a /u:\"Flow Unit\""},
      {"DisplayName", REG_SZ, "Flow Unit"},
      {"DisplayVersion", REG_SZ, "2.10"},
      {"VersionMajor", REG_DWORD, "2"},
      {"VersionMinor", REG_DWORD, "10"},
      {"ProductRegistry", REG_SZ, "Flow\\Unit"},
      {"ProductStartMenu", REG_SZ, "Flow Tests\\Flow Unit"},
      {"ProductFlags", REG_SZ, "-9223372036854775804"},
      {"UninstallBatch1", REG_SZ, "echo one"},
      {"SharedFiles", REG_SZ, "\"C:\\shared\\a.dll\";"},
      {"UninstallSubdir", REG_SZ, "uninst"},
      {"DisplayTitle", REG_SZ, "Flow Unit Title"},
      {"TitleColor", REG_DWORD, std::to_string(0xFFFFFF)},
      {"TopColor", REG_DWORD, std::to_string(0x123456)},
      {"MonoColor", REG_DWORD, "1"},
      {"TitleShadow", REG_DWORD, "2"},
      {"TitlePosition", REG_DWORD, "1"},
      {"TitleFont", REG_SZ, "Arial Bold"},
      {"TaskbarText", REG_SZ, ""},
      {"HelpLink", REG_EXPAND_SZ, dir + "\\help.txt"},
      {"EstimatedSize", REG_DWORD, "4294967295"},
      {"InstallLocation", REG_SZ, dir},
  };
  for (const Expected& e : expected) {
    Value v;
    ASSERT_TRUE(ReadRegistryValue(e.name, v)) << e.name;
    EXPECT_EQ(e.type, v.type) << e.name;
    EXPECT_EQ(e.data, v.data) << e.name;
  }
  for (const char* gone : {"Publisher", "BottomColor", "Comments", "ShortcutMode", "SharedPath", "ProductFonts",
                           "UninstallBatch2", "BitmapSize", "StretchMode"}) {
    Value v;
    EXPECT_FALSE(ReadRegistryValue(gone, v)) << gone;
  }
  Value source;
  ASSERT_TRUE(ReadRegistryValue("InstallSource", source));
  EXPECT_EQ(Text(ModulePath()), source.data);

  String expectedData;
  BuildUninstallData(expectedData, run.uninstall.List(), RunMessage, &run, run.uninstall.AssociationLog());
  const std::string data = ReadRaw(dir + "\\uninst\\Uninstall.DAT");
  EXPECT_EQ(Text(expectedData), data);
  EXPECT_NE(std::string::npos, data.find("\r\n~34\r\nFlow Unit is gone.\r\nBye.\r\n"));
  EXPECT_NE(std::string::npos, data.find("[Associations]\r\n.flw~!~FlowFile~!~open\r\n"));
  // The key holds the digest of exactly those bytes.
  Value digest;
  ASSERT_TRUE(ReadRegistryValue("UninstallDataSHA256", digest));
  EXPECT_EQ((DWORD)REG_SZ, digest.type);
  EXPECT_EQ(Text(Sha256Text(String(data.data(), (int32_t)data.size()))), digest.data);
}

// A file held open by another program while the installation writes it is
// replaced at the next restart; the restart the installation now needs is in
// the flags word the Uninstall key records, so the uninstaller knows of it.
TEST_F(FlowTest, ReplacementScheduledDuringExtractionReachesProductFlags) {
  const std::string dir = FreshDirectory("flow held");
  PrepareSettings(run, dir);
  const std::string held = dir + "\\held.dll";
  ASSERT_TRUE(WriteRaw(held, "old"));
  {
    FileHolder holder(held);
    ASSERT_TRUE(holder.Holding());
    const ArchiveDateTime noDate = {0, 0, 0, -1, 0, 0};
    EXPECT_FALSE(WriteFileOrSchedule(run, held.c_str(), "new", 3, noDate, run.texts.errors, kLeaveAttributes, true));
  }
  ASSERT_TRUE(IsRebootRequired(run));
  ProgressDialog progress(run);
  RegisterUninstall(run, progress, String());
  Value flags;
  ASSERT_TRUE(ReadRegistryValue("ProductFlags", flags));
  const uint64_t recorded = (uint64_t)_strtoi64(flags.data.c_str(), nullptr, 10);
  EXPECT_EQ((1ull << 2) | (1ull << 63) | (1ull << kFlagRestartNeeded), recorded) << flags.data;
}

TEST_F(FlowTest, UninstallDataReplacesTheOldFileOrReportsTheFailure) {
  const std::string dir = FreshDirectory("flow data");
  PrepareSettings(run, dir);
  ASSERT_TRUE(WriteRaw(dir + "\\uninst\\Uninstall.DAT", std::string(5000, 'x')));
  run.uninstall.Add((dir + "\\a.txt").c_str(), kUninstallFile);
  String digest;
  ASSERT_TRUE(WriteUninstallData(run, digest));
  EXPECT_EQ(Text(Sha256Text(String(ReadRaw(dir + "\\uninst\\Uninstall.DAT").c_str()))), Text(digest));
  UninstallDataContents back;
  ReadUninstallData((dir + "\\uninst\\Uninstall.DAT").c_str(), back);
  ASSERT_EQ(1, back.bodyLines.Count());
  EXPECT_EQ(dir + "\\a.txt", Text(back.bodyLines[0]));
  EXPECT_STREQ("Flow Unit is gone.\r\nBye.", back.Message(34));
  // No temporary file is left beside it.
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((dir + "\\uninst\\*.tmp").c_str(), &found);
  EXPECT_EQ(INVALID_HANDLE_VALUE, h);
  if (h != INVALID_HANDLE_VALUE) FindClose(h);

  // A missing uninstall directory: the data file fails and says so; the key
  // and the uninstaller's failure are reported on their own terms.
  run.directories.uninstall = (dir + "\\missing").c_str();
  ProgressDialog progress(run);
  RegisterUninstall(run, progress, String());
  const std::string errors = Text(run.texts.errors);
  EXPECT_NE(std::string::npos, errors.find("Error writing " + dir + "\\missing\\Uninstall.DAT\r\n")) << errors;

  UninstallDataContents none;
  ReadUninstallData((dir + "\\nothing.dat").c_str(), none);
  EXPECT_EQ(0, none.bodyLines.Count());
}

// ---- install log ------------------------------------------------------------

TEST_F(FlowTest, InstallLogBlocksAppendAndNeverTruncate) {
  const std::string dir = FreshDirectory("flow log");
  run.directories.uninstall = dir.c_str();
  run.directories.installation = dir.c_str();
  run.directories.productVersion = "";
  const std::string path = dir + "\\Install.LOG";

  // A clean installation without flag bit 6 writes nothing.
  String errors;
  FinishInstallLog(run, false, true, errors);
  EXPECT_EQ("Installation Complete\r\n\r\n", Text(errors));
  EXPECT_FALSE(Exists(path));

  // Errors always write a block, also in automatic mode; each installation
  // is a run of its own.
  ASSERT_TRUE(WriteRaw(path, "earlier content"));
  for (bool withErrors : {true, false}) {
    AttachedRun fresh;
    ::Run& next = fresh.run;
    PrepareRun(next);
    next.directories = run.directories;
    if (withErrors) {
      errors = "Error writing X\r\nDenied.\r\n\r\n";
      next.texts.installLog = "Launch on exit: x.exe\r\n";
    } else {
      // With flag bit 6 a clean installation appends its block too.
      next.productFlags = (1ull << 6) | (1ull << 2);
      errors.Clear();
    }
    FinishInstallLog(next, true, true, errors);
  }

  std::string log = ReadRaw(path);
  ASSERT_EQ("earlier content", log.substr(0, 15));
  log = log.substr(15);
  // The dates vary; everything else is exact.
  std::string constant;
  const std::string date = "Install date: ";
  for (size_t from = 0;;) {
    const size_t at = log.find(date, from);
    if (at == std::string::npos) {
      constant.append(log, from, std::string::npos);
      break;
    }
    constant.append(log, from, at - from);
    constant += date + "D";
    from = log.find("\r\n", at);
  }
  log = constant;
  EXPECT_EQ("\r\nInstallation log for: Flow Unit\r\nInstall date: D\r\nInstall location: " + dir +
                "\r\nInstaller version: 17.2\r\n\r\nLaunch on exit: x.exe\r\n\r\nError writing X\r\nDenied.\r\n\r\n"
                "\r\nInstallation log for: Flow Unit\r\nInstall date: D\r\nInstall type: Reinstall\r\n"
                "Install location: " + dir + "\r\nInstaller version: 17.2\r\n\r\nInstallation Complete\r\n\r\n",
            log);
}

// ---- decisions -------------------------------------------------------------

TEST(FlowDecisions, MessageFormatsMustFitTheirArguments) {
  struct Case {
    const char* format;
    const char* types;
    bool fits;
  };
  const Case cases[] = {
      {"Needs %s, drive %c: has %s.", "scs", true},
      {"no conversion", "s", true},
      {"100%% sure: %s", "s", true},
      {"%-20s|%5c", "sc", true},
      {"%s %s", "s", false},
      {"%d", "s", false},
      {"%n", "s", false},
      {"%*s", "s", false},
      {"%ls", "s", false},
      {"%c", "s", false},
      {"trailing %", "s", false},
      {"%x", "d", true},
  };
  for (const Case& k : cases) EXPECT_EQ(k.fits, FormatFitsArguments(k.format, k.types)) << k.format;
}

TEST(FlowDecisions, SpaceRoundsEachEntryToClusters) {
  const uint32_t sizes[] = {1, 4096, 4097, 0, 0xFFFFFFFFu};
  EXPECT_EQ(4096ull + 4096 + 8192 + 0 + 0x100000000ull, SpaceNeeded(sizes, 5, 4096));
  EXPECT_EQ(1ull + 4096 + 4097 + 0xFFFFFFFFull, SpaceNeeded(sizes, 5, 1));  // no rounding below 2
  EXPECT_EQ(1ull + 4096 + 4097 + 0xFFFFFFFFull, SpaceNeeded(sizes, 5, 0));
  EXPECT_EQ(0ull, SpaceNeeded(nullptr, 0, 4096));
}

TEST(FlowDecisions, ReinstallQuestionByVersion) {
  EXPECT_EQ(3, ReinstallQuestionMessage(false, String("1.0"), String("2.0")));
  EXPECT_EQ(3, ReinstallQuestionMessage(true, String(""), String("2.0")));
  EXPECT_EQ(3, ReinstallQuestionMessage(true, String("1.0"), String("")));
  EXPECT_EQ(4, ReinstallQuestionMessage(true, String("2.0"), String("2.0")));
  EXPECT_EQ(5, ReinstallQuestionMessage(true, String("1.9"), String("2.0")));
  EXPECT_EQ(6, ReinstallQuestionMessage(true, String("2.10"), String("2.9")));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && strcmp(argv[1], "--hold") == 0) return FileHolder::HoldMain(argv[2], argv[3], argv[4]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
