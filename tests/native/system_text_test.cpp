// The portable rules of the system helpers: naming and classifying the
// operating system, shutdown flags, the fonts key and version texts.
#include <gtest/gtest.h>

#include <string>

#include "core/win32/process.h"
#include "core/win32/system.h"
#include "core/win32/version_info.h"

namespace {

std::string Text(const String& s) { return std::string(s.CStr(), (size_t)s.Length()); }

struct OsCase {
  OsVersion version;
  uint32_t osClass;
  const char* name;           // with the service pack
  const char* nameWithoutSp;
};

TEST(OsName, NamesAndClassesEverySystem) {
  const OsCase cases[] = {
      {{0, 3, 11, ""}, kOsWin32s, "Windows 3.11", "Windows 3.11"},
      {{1, 4, 0, " B"}, kOsWin95, "Windows 95 B", "Windows 95"},
      {{1, 4, 9, ""}, kOsWin95, "Windows 95", "Windows 95"},
      {{1, 4, 10, " A"}, kOsWin98, "Windows 98 A", "Windows 98"},
      {{1, 4, 89, ""}, kOsWin98, "Windows 98", "Windows 98"},
      {{1, 4, 90, ""}, kOsWinMe, "Windows ME", "Windows ME"},
      {{1, 5, 1, ""}, kOsOther, "Windows 9x 5.1", "Windows 9x 5.1"},
      {{2, 3, 51, "Service Pack 5"}, kOsNt3, "Windows NT 3.51 Service Pack 5", "Windows NT 3.51"},
      {{2, 4, 0, "Service Pack 6"}, kOsNt4, "Windows NT 4.0 Service Pack 6", "Windows NT 4.0"},
      {{2, 5, 0, "Service Pack 4"}, kOsWin2000, "Windows 2000 Service Pack 4", "Windows 2000"},
      {{2, 5, 1, "Service Pack 2"}, kOsWinXp, "Windows XP Service Pack 2", "Windows XP"},
      {{2, 5, 1, ""}, kOsWinXp, "Windows XP", "Windows XP"},
      {{2, 5, 2, "Service Pack 1  "}, kOsWin2003, "Windows 2003 Service Pack 1", "Windows 2003"},
      {{2, 5, 3, ""}, kOsOther, "Windows NT 5.3", "Windows NT 5.3"},
      {{2, 6, 0, ""}, kOsVista, "Windows Vista", "Windows Vista"},
      {{2, 6, 1, "Service Pack 1"}, kOsVista, "Windows Vista Service Pack 1", "Windows Vista"},
      {{2, 10, 0, ""}, kOsOther, "Windows NT 10.0", "Windows NT 10.0"},
      {{7, 1, 0, ""}, kOsOther, "Windows NT 1.0", "Windows NT 1.0"},
  };
  for (const OsCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(OsClassOf(c.version), c.osClass);
    String name;
    OsNameOf(name, c.version, false);
    EXPECT_EQ(Text(name), c.name);
    OsNameOf(name, c.version, true);
    EXPECT_EQ(Text(name), c.nameWithoutSp);
  }
}

TEST(OsName, NullServicePackCountsAsEmpty) {
  OsVersion v{2, 5, 1, nullptr};
  String name;
  OsNameOf(name, v, false);
  EXPECT_EQ(Text(name), "Windows XP");
}

TEST(ExitWindowsFlags, MapsModesAndForce) {
  const struct {
    int32_t mode;
    uint32_t forced;
    uint32_t otherwise;
  } cases[] = {{1, 12, 24}, {2, 6, 18}, {3, 4, 16}, {0, 5, 17}, {4, 5, 17}, {-1, 5, 17}};
  for (const auto& c : cases) {
    EXPECT_EQ(ExitWindowsFlags(c.mode, true), c.forced) << c.mode;
    EXPECT_EQ(ExitWindowsFlags(c.mode, false), c.otherwise) << c.mode;
  }
}

TEST(ProcessCreationFlags, ChooseOnePriorityClassAndTheConsole) {
  const struct {
    uint32_t flags;
    uint32_t creation;
  } cases[] = {
      {0, 0x20},
      {kRunIdlePriority, 0x40},
      {kRunHighPriority, 0x80},
      {kRunIdlePriority | kRunHighPriority, 0x80},
      {kRunNewConsole, 0x30},
      {kRunNewConsole | kRunIdlePriority | kRunWait | kRunHidden | kRunErrorBox, 0x50},
  };
  for (const auto& c : cases) EXPECT_EQ(ProcessCreationFlags(c.flags), c.creation) << c.flags;
}

TEST(CommandLineProgram, TakesTheQuotedTextOrTheFirstWord) {
  const struct {
    const char* commandLine;
    const char* program;
    bool quoted;
  } cases[] = {
      {"\"C:\\My Tools\\run.exe\" /x", "C:\\My Tools\\run.exe", true},
      {"  \t\"C:\\a b\\c.exe\"", "C:\\a b\\c.exe", true},
      {"\"C:\\unterminated name /x", "C:\\unterminated name /x", true},
      {"C:\\My Tools\\run.exe /x", "C:\\My", false},
      {"notepad.exe C:\\log.txt", "notepad.exe", false},
      {"\tcmd\t/c x", "cmd", false},
      {"\"\" rest", "", true},
      {"", "", false},
      {nullptr, "", false},
  };
  for (const auto& c : cases) {
    bool quoted = !c.quoted;
    EXPECT_STREQ(CommandLineProgram(c.commandLine, &quoted).CStr(), c.program) << c.commandLine;
    EXPECT_EQ(quoted, c.quoted) << c.commandLine;
  }
  EXPECT_STREQ(CommandLineProgram("a b", nullptr).CStr(), "a");
}

TEST(ProgramNames, BareNamesAndExtensions) {
  const struct {
    const char* name;
    bool bare;
    bool extension;
  } cases[] = {
      {"notepad.exe", true, true}, {"notepad", true, false},     {"sub\\app.exe", false, true},
      {"sub/app", false, false},   {"C:app.exe", false, true},   {"C:\\dir.d\\app", false, false},
      {"app.", true, false},       {"", false, false},            {nullptr, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsBareProgramName(c.name), c.bare) << (c.name ? c.name : "(null)");
    EXPECT_EQ(HasFileExtension(c.name), c.extension) << (c.name ? c.name : "(null)");
  }
}

// Blocks are written with '|' for each NUL.
std::string Block(const String& block) {
  std::string out(block.CStr(), (size_t)block.Length());
  for (char& c : out)
    if (c == '\0') c = '|';
  return out;
}
String BlockOf(const char* text) {
  String block(text);
  block.ReplaceChar('|', '\0');
  return block;
}

TEST(SetEnvironmentEntry, ReplacesOrInsertsInOrderAfterTheDriveEntries) {
  const struct {
    const char* before;
    const char* after;
  } cases[] = {
      {"", "NoDefaultCurrentDirectoryInExePath=1|"},
      {"=C:=C:\\x|ALLUSERSPROFILE=C:\\a|PATH=C:\\w|",
       "=C:=C:\\x|ALLUSERSPROFILE=C:\\a|NoDefaultCurrentDirectoryInExePath=1|PATH=C:\\w|"},
      {"=C:=C:\\x|NODEFAULTCURRENTDIRECTORYINEXEPATH=0|Z=1|", "=C:=C:\\x|NoDefaultCurrentDirectoryInExePath=1|Z=1|"},
      {"A=1|B=2|", "A=1|B=2|NoDefaultCurrentDirectoryInExePath=1|"},
      {"NoDefaultCurrentDirectoryInExePathX=1|",
       "NoDefaultCurrentDirectoryInExePath=1|NoDefaultCurrentDirectoryInExePathX=1|"},
      {"=Z:=Z:\\|", "=Z:=Z:\\|NoDefaultCurrentDirectoryInExePath=1|"},
  };
  for (const auto& c : cases) {
    String block = BlockOf(c.before);
    SetEnvironmentEntry(block, "NoDefaultCurrentDirectoryInExePath", "1");
    EXPECT_EQ(Block(block), c.after) << c.before;
  }
}

TEST(FontsKeyPath, DependsOnThePlatform) {
  EXPECT_STREQ(FontsKeyPathFor(true), "Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts");
  EXPECT_STREQ(FontsKeyPathFor(false), "Software\\Microsoft\\Windows\\CurrentVersion\\Fonts");
}

TEST(VersionText, CleansAndPads) {
  const struct {
    const char* raw;
    int32_t rawLength;
    const char* clean;
    const char* padded;
  } cases[] = {
      {"1, 0, 2, 3\0", 11, "1.0.2.3", "0000000001.0000000000.0000000002.0000000003"},
      {"1.0.2.3", 7, "1.0.2.3", "0000000001.0000000000.0000000002.0000000003"},
      {" 2,\t5\r\n", 7, "2.5", "0000000002.0000000005"},
      {"1.0b", 4, "1.0b", "0000000001.000000000B"},
      {"12345678901.1", 13, "12345678901.1", "12345678901.0000000001"},
      {"1..2", 4, "1..2", "0000000001.0000000000.0000000002"},
      {"", 0, "", ""},
  };
  for (const auto& c : cases) {
    String version(c.raw, c.rawLength);
    CleanVersionText(version);
    EXPECT_EQ(Text(version), c.clean);
    PadVersionText(version);
    EXPECT_EQ(Text(version), c.padded) << c.clean;
  }
}

}  // namespace
