#include "actions/batch_text.h"

#include <gtest/gtest.h>

namespace {

Array<BatchVariable> Variables(const char* installDir) {
  Array<BatchVariable> v;
  v.Append(BatchVariable{String("InstallDir"), String(installDir)});
  v.Append(BatchVariable{String("InstallDrive"), String("C:")});
  v.Append(BatchVariable{String("Version"), String("1.0.2")});
  return v;
}

TEST(BatchText, FileForOrdinaryPaths) {
  String out;
  BuildBatchFile(out, Variables("C:\\Program Files\\Trux Demo"), String("echo one\nPAUSE\r\n@pause \r\necho two"),
                 false, true);
  EXPECT_STREQ(
      "@echo off\r\nSET InstallDir=C:\\Program Files\\Trux Demo\r\nSET InstallDrive=C:\r\nSET Version=1.0.2\r\n"
      "echo one\r\nPAUSE\r\n@pause \r\necho two",
      out.CStr());
  BuildBatchFile(out, Array<BatchVariable>(), String("echo one\nPAUSE\r\n  @Pause\t\r\necho two"), true, true);
  EXPECT_STREQ("@echo off\r\necho one\r\necho two\r\n", out.CStr());
}

struct SetCase {
  const char* value;
  bool quotedForm;
  const char* line;
};

TEST(BatchText, SetLines) {
  const SetCase cases[] = {
      {"C:\\Program Files\\X", true, "SET D=C:\\Program Files\\X\r\n"},
      {"C:\\A (x86)\\B", true, "SET D=C:\\A (x86)\\B\r\n"},
      {"", true, "SET D=\r\n"},
      {"C:\\Tom & Jerry", true, "SET \"D=C:\\Tom & Jerry\"\r\n"},
      {"C:\\a|b<c>d^e", true, "SET \"D=C:\\a|b<c>d^e\"\r\n"},
      {"C:\\100%", true, "SET \"D=C:\\100%%\"\r\n"},
      {"C:\\Tom & Jerry", false, "SET D=C:\\Tom & Jerry\r\n"},  // the old interpreter has no quoted form
  };
  for (const SetCase& k : cases) {
    String out;
    AppendSetLine(out, BatchVariable{String("D"), String(k.value)}, k.quotedForm);
    EXPECT_STREQ(k.line, out.CStr()) << k.value;
  }
  EXPECT_TRUE(IsLegacyInterpreter("C:\\WINDOWS\\COMMAND.COM"));
  EXPECT_TRUE(IsLegacyInterpreter("\"C:\\My Windows\\command.com\""));
  EXPECT_FALSE(IsLegacyInterpreter("C:\\windows\\system32\\cmd.exe"));
  EXPECT_FALSE(IsLegacyInterpreter(""));
}

TEST(BatchText, PathArgument) {
  String line("cmd /c ");
  AppendBatchPathArgument(line, String("C:\\Program Files\\X\\TRUXBAT.BAT"), false);
  EXPECT_STREQ("cmd /c \"C:\\Program Files\\X\\TRUXBAT.BAT\"", line.CStr());
  line = "cmd /c ";
  AppendBatchPathArgument(line, String("C:\\A & B (x)\\TRUXBAT.BAT"), false);
  EXPECT_STREQ("cmd /c \"\"C:\\A & B (x)\\TRUXBAT.BAT\"\"", line.CStr());
  line = "command.com /c ";
  AppendBatchPathArgument(line, String("C:\\A&B\\TRUXBAT.BAT"), true);
  EXPECT_STREQ("command.com /c \"C:\\A&B\\TRUXBAT.BAT\"", line.CStr());
}

TEST(BatchText, JoinTexts) {
  EXPECT_STREQ("a\r\nb", JoinBatchTexts(String("a"), String("b")).CStr());
  EXPECT_STREQ("a\r\nb", JoinBatchTexts(String("a\r\n"), String("b")).CStr());
  EXPECT_STREQ("a\nb", JoinBatchTexts(String("a\n"), String("b")).CStr());
  EXPECT_STREQ("b", JoinBatchTexts(String(), String("b")).CStr());
  EXPECT_STREQ("a", JoinBatchTexts(String("a"), String()).CStr());
  EXPECT_TRUE(JoinBatchTexts(String(), String()).IsEmpty());
}

struct AutoexecCase {
  const char* name;
  const char* before;
  bool add;
  const char* after;
  bool changed;
};

TEST(BatchText, AutoexecEdits) {
  const String line = AutoexecPathLine("C:\\PROGRA~1\\TRUX");
  EXPECT_STREQ("PATH=%PATH%;C:\\PROGRA~1\\TRUX\r\n", line.CStr());
  const AutoexecCase cases[] = {
      {"add to empty", "", true, "\r\nPATH=%PATH%;C:\\PROGRA~1\\TRUX\r\n", true},
      {"add after a final break", "@ECHO OFF\r\n", true, "@ECHO OFF\r\nPATH=%PATH%;C:\\PROGRA~1\\TRUX\r\n", true},
      {"add after an unfinished line", "@ECHO OFF", true, "@ECHO OFF\r\nPATH=%PATH%;C:\\PROGRA~1\\TRUX\r\n", true},
      {"add twice", "x\r\npath=%path%;c:\\progra~1\\trux\r\n", true, "x\r\npath=%path%;c:\\progra~1\\trux\r\n", false},
      {"add when present without final break", "x\r\nPATH=%PATH%;C:\\PROGRA~1\\TRUX", true,
       "x\r\nPATH=%PATH%;C:\\PROGRA~1\\TRUX", false},
      {"remove with break", "a\r\nPATH=%PATH%;C:\\PROGRA~1\\TRUX\r\nb\r\n", false, "a\r\nb\r\n", true},
      {"remove ignoring case", "PATH=%path%;c:\\progra~1\\trux\r\n", false, "", true},
      {"remove at the end without break", "a\r\nPATH=%PATH%;C:\\PROGRA~1\\TRUX", false, "a\r\n", true},
      {"remove leaves a longer directory alone", "PATH=%PATH%;C:\\PROGRA~1\\TRUXER\r\n", false,
       "PATH=%PATH%;C:\\PROGRA~1\\TRUXER\r\n", false},
      {"remove leaves a line that merely ends with it", "SET OLDPATH=%PATH%;C:\\PROGRA~1\\TRUX\r\n", false,
       "SET OLDPATH=%PATH%;C:\\PROGRA~1\\TRUX\r\n", false},
      {"remove only the first", "PATH=%PATH%;C:\\PROGRA~1\\TRUX\r\nPATH=%PATH%;C:\\PROGRA~1\\TRUX\r\n", false,
       "PATH=%PATH%;C:\\PROGRA~1\\TRUX\r\n", true},
      {"remove from a text without it", "a\r\n", false, "a\r\n", false},
  };
  for (const AutoexecCase& k : cases) {
    String text(k.before);
    EXPECT_EQ(k.changed, EditAutoexecText(text, line, k.add)) << k.name;
    EXPECT_STREQ(k.after, text.CStr()) << k.name;
  }
}

}  // namespace

#include "actions/install_log_text.h"

namespace {

TEST(InstallLogText, BlockParts) {
  InstallLogBlock b;
  b.productName = "Trux Demo";
  b.date = "10-12-26 2:05:09pm";
  b.withInstallType = true;
  b.reinstall = false;
  b.installDir = "C:\\Program Files\\Trux Demo";
  b.productVersion = "1.0.2";
  b.logText = "Granting rights to directory \"C:\\x\"...OK\r\n";
  b.errorText = "Installation Complete\r\n\r\n";
  String out;
  BuildInstallLogBlock(out, b);
  EXPECT_STREQ(
      "\r\nInstallation log for: Trux Demo\r\nInstall date: 10-12-26 2:05:09pm\r\nInstall type: New\r\n"
      "Install location: C:\\Program Files\\Trux Demo\r\nInstaller version: 17.2\r\nProduct version: 1.0.2\r\n\r\n"
      "Granting rights to directory \"C:\\x\"...OK\r\n\r\nInstallation Complete\r\n\r\n",
      out.CStr());

  // No uninstaller: no install type; a blank version and a blank log add nothing.
  b.withInstallType = false;
  b.productVersion = " ";
  b.logText = "\r\n";
  b.errorText = "Error writing C:\\x\r\nAccess denied.\r\n\r\n";
  BuildInstallLogBlock(out, b);
  EXPECT_STREQ(
      "\r\nInstallation log for: Trux Demo\r\nInstall date: 10-12-26 2:05:09pm\r\n"
      "Install location: C:\\Program Files\\Trux Demo\r\nInstaller version: 17.2\r\n\r\n"
      "Error writing C:\\x\r\nAccess denied.\r\n\r\n",
      out.CStr());
  b.withInstallType = true;
  b.reinstall = true;
  BuildInstallLogBlock(out, b);
  EXPECT_GE(out.Find("\r\nInstall type: Reinstall\r\n"), 0);
}

}  // namespace
