// Snapshots of a Wine prefix and their comparison, as `truxpack try` and the
// round-trip tests use them: Wine's registry files read as the wineserver
// writes them, shell links read back to their targets, a prefix directory
// walked without following links, and the differences of two snapshots with
// Wine's own housekeeping told apart.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/native/truxpack_test_support.h"
#include "tools/truxpack/prefix_snapshot.h"
#include "tools/truxpack/shell_link.h"
#include "tools/truxpack/snapshot_diff.h"
#include "tools/truxpack/wine_registry.h"

using namespace trux_test;

namespace {

const char kRegHeader[] = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win32\n\n";

// ---- registry values ----------------------------------------------------------

struct DataCase {
  const char* data;
  uint32_t type;
  const char* text;  // RegistryDataText
};

TEST(WineRegistry, ValueDataTable) {
  const DataCase cases[] = {
      {"\"plain\"", kRegSz, "\"plain\""},
      {"\"C:\\\\windows\\\\notepad.exe \\\"%1\\\"\"", kRegSz, "\"C:\\windows\\notepad.exe \"%1\"\""},
      {"\"\"", kRegSz, "\"\""},
      {"\"caf\\xe9 \\x20ac\"", kRegSz, "\"caf\xc3\xa9 \xe2\x82\xac\""},
      {"\"tab\\there\\n\"", kRegSz, "\"tab\\x09here\\x0A\""},
      {"\"\\x41BC\"", kRegSz, "\"\xe4\x86\xbc\""},  // \x takes up to four digits: U+41BC
      {"\"oct\\101\\0\"", kRegSz, "\"octA\""},        // a zero ends the string for people
      {"str(2):\"%ProgramFiles%\\\\x\"", kRegExpandSz, "\"%ProgramFiles%\\x\""},
      {"str(7):\"one\\0two\\0\"", kRegMultiSz, "\"one\", \"two\""},
      {"dword:0000002a", kRegDword, "42 (0x0000002a)"},
      {"dword:ffffffff", kRegDword, "4294967295 (0xffffffff)"},
      {"hex:01,02,ff", kRegBinary, "01 02 ff"},
      {"hex:", kRegBinary, "(no bytes)"},
      {"hex(b):01,00,00,00,00,00,00,00", kRegQword, "1 (0x0000000000000001)"},
      {"hex(7):61,00,00,00,00,00", kRegMultiSz, "\"a\""},
      {"hex(0):", kRegNone, "REG_NONE: (no bytes)"},
  };
  for (const DataCase& c : cases) {
    SCOPED_TRACE(c.data);
    uint32_t type = 99;
    std::string bytes;
    EXPECT_TRUE(DecodeRegistryData(c.data, type, bytes));
    EXPECT_EQ(c.type, type);
    EXPECT_EQ(c.text, RegistryDataText(c.data));
  }
  for (const char* bad : {"dword:2a", "dword:0000002g", "hex:1", "hex:01,,02", "hex:0102", "hex(zz):01",
                          "\"open", "str(2)\"x\"", "\"x\"y", "-", "word:1"}) {
    SCOPED_TRACE(bad);
    uint32_t type;
    std::string bytes;
    EXPECT_FALSE(DecodeRegistryData(bad, type, bytes));
  }
  uint64_t n = 0;
  EXPECT_TRUE(RegistryDataNumber("dword:00000002", n));
  EXPECT_EQ(2u, n);
  EXPECT_FALSE(RegistryDataNumber("\"2\"", n));
}

TEST(WineRegistry, KeysValuesAndContinuations) {
  const std::string text = std::string(kRegHeader) +
                           "[Software\\\\Classes\\\\.trxdemo] 1796968341\n"
                           "#time=1dd8933ca649aa4\n"
                           "@=\"TruxDemo.Document\"\n"
                           "\n"
                           "[Software\\\\Odd \\[key\\]\\\\x] 1796968341\n"
                           "#link\n"
                           "\"Name with \\\"quote\\\"\"=hex:01,02,\\\n"
                           "  03,04\r\n"
                           "\"Count\"=dword:00000003\n";
  std::vector<RegistryKey> keys;
  std::string error;
  ASSERT_TRUE(ParseWineRegistry(text, "HKEY_LOCAL_MACHINE", keys, error)) << error;
  ASSERT_EQ(2u, keys.size());
  EXPECT_EQ("HKEY_LOCAL_MACHINE\\Software\\Classes\\.trxdemo", keys[0].path);
  ASSERT_EQ(1u, keys[0].values.size());
  EXPECT_EQ("", keys[0].values[0].name);
  EXPECT_EQ("\"TruxDemo.Document\"", keys[0].values[0].data);
  EXPECT_EQ("HKEY_LOCAL_MACHINE\\Software\\Odd [key]\\x", keys[1].path);
  ASSERT_EQ(2u, keys[1].values.size());
  EXPECT_EQ("Name with \"quote\"", keys[1].values[0].name);
  EXPECT_EQ("hex:01,02,03,04", keys[1].values[0].data);
  EXPECT_EQ("dword:00000003", keys[1].values[1].data);
}

TEST(WineRegistry, MalformedFilesNameTheLine) {
  struct Case {
    std::string text;
    const char* error;
  } cases[] = {
      {"REGEDIT4\n", "line 1: not a Wine registry file"},
      {std::string(kRegHeader) + "\"x\"=\"y\"\n", "line 6: a value before the first key"},
      {std::string(kRegHeader) + "[Software\\\\open 1\n", "line 6: a key name without its closing ]"},
      {std::string(kRegHeader) + "[k] 1\nrubbish\n", "line 7: neither a key, a value nor a comment"},
      {std::string(kRegHeader) + "[k] 1\n\"x\"\n", "line 7: a value name without ="},
      {std::string(kRegHeader) + "[k] 1\n\"x\"=dword:1\n", "line 7: value data in no known form"},
      {std::string(kRegHeader) + "[k] 1\n\"x\"=hex:01,\\\n", "line 7: a list of bytes that the file cuts off"},
      {std::string(kRegHeader) + "[k] 1\n\"x=\"y\"\n", "line 7: a value name without ="},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<RegistryKey> keys;
    std::string error;
    EXPECT_FALSE(ParseWineRegistry(c.text, "HKEY_LOCAL_MACHINE", keys, error));
    EXPECT_EQ(0u, error.find(c.error)) << error;
  }
}

// ---- shell links --------------------------------------------------------------

void Put(std::string& s, size_t at, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) s[at + (size_t)i] = (char)((v >> (8 * i)) & 0xFF);
}
void Append(std::string& s, uint32_t v, int n) {
  s.append((size_t)n, '\0');
  Put(s, s.size() - (size_t)n, v, n);
}
// Wine counts a terminating zero into the string (withZero); Windows does not.
void AppendUnicode(std::string& s, const std::string& ascii, bool withZero = false) {
  Append(s, (uint32_t)ascii.size() + (withZero ? 1 : 0), 2);
  for (char c : ascii) Append(s, (unsigned char)c, 2);
  if (withZero) Append(s, 0, 2);
}

// A link as Windows and Wine write one: header, a small item list, link
// information with the local base path, then UTF-16 counted strings.
std::string MakeLink(const std::string& base, const std::string& suffix) {
  std::string s(0x4C, '\0');
  Put(s, 0, 0x4C, 4);
  const unsigned char id[16] = {0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  for (int i = 0; i < 16; ++i) s[4 + (size_t)i] = (char)id[i];
  Put(s, 20, 0x1 | 0x2 | 0x4 | 0x10 | 0x20 | 0x40 | 0x80, 4);
  Put(s, 56, 3, 4);  // icon index
  Append(s, 4, 2);   // item list: 4 bytes
  Append(s, 0, 4);
  std::string info(0x1C, '\0');
  const std::string volume = std::string("\x11\0\0\0\x03\0\0\0\x78\x56\x34\x12\x10\0\0\0\0", 17);
  Put(info, 4, 0x1C, 4);
  Put(info, 8, 1, 4);
  Put(info, 12, 0x1C, 4);
  Put(info, 16, (uint32_t)(0x1C + volume.size()), 4);
  Put(info, 24, (uint32_t)(0x1C + volume.size() + base.size() + 1), 4);
  info += volume + base + '\0' + suffix + '\0';
  Put(info, 0, (uint32_t)info.size(), 4);
  s += info;
  AppendUnicode(s, "The demo");
  AppendUnicode(s, "C:\\Program Files\\Demo", true);
  AppendUnicode(s, "--open \"x\"");
  AppendUnicode(s, "C:\\windows\\notepad.exe");
  Append(s, 0, 4);  // the terminal extra block
  return s;
}

TEST(ShellLink, ReadsWhatWindowsWrites) {
  ShellLink link;
  std::string problem;
  ASSERT_TRUE(ReadShellLink(MakeLink("C:\\Program Files\\Demo\\", "r\xe9" "adme.txt"), link, problem)) << problem;
  EXPECT_EQ("C:\\Program Files\\Demo\\r\xc3\xa9" "adme.txt", link.target);
  EXPECT_EQ("The demo", link.description);
  EXPECT_EQ("C:\\Program Files\\Demo", link.workingDirectory);
  EXPECT_EQ("--open \"x\"", link.arguments);
  EXPECT_EQ("C:\\windows\\notepad.exe", link.iconLocation);
  EXPECT_EQ(3, link.iconIndex);
}

TEST(ShellLink, CutOrLyingLinksAreProblemsNotReads) {
  const std::string good = MakeLink("C:\\a.txt", "");
  // Every shorter prefix of a good link is refused or read without reading
  // past its end (the sanitizer run checks the latter).
  for (size_t n = 0; n < good.size(); ++n) {
    ShellLink link;
    std::string problem;
    if (!ReadShellLink(good.substr(0, n), link, problem)) {
      EXPECT_FALSE(problem.empty()) << n;
    }
  }
  struct Case {
    size_t at;
    uint32_t value;
    int width;
    const char* problem;
  } cases[] = {
      {0, 0x4D, 4, "not a shell link"},
      {4, 0x02, 1, "not a shell link"},
      {0x4C, 0xFFFF, 2, "the item list is cut short"},
      {0x4C + 6, 0xFFFFFF, 4, "the link information block claims more bytes than the file has"},
      {0x4C + 6 + 16, 0xFFFF, 4, "the local base path lies outside the link information block"},
      {0x4C + 6 + 24, 0x7FFF, 4, "the path suffix lies outside the link information block"},
  };
  for (const Case& c : cases) {
    std::string bad = good;
    Put(bad, c.at, c.value, c.width);
    ShellLink link;
    std::string problem;
    EXPECT_FALSE(ReadShellLink(bad, link, problem)) << c.problem;
    EXPECT_EQ(0u, problem.find(c.problem)) << problem;
  }
  // A string that claims more characters than follow.
  std::string lying = good;
  Put(lying, lying.size() - 4 - 2 - 2 * 22, 0xFFFF, 2);
  ASSERT_EQ('C', lying[lying.size() - 4 - 2 * 22]);
  ShellLink link;
  std::string problem;
  EXPECT_FALSE(ReadShellLink(lying, link, problem));
  EXPECT_EQ("a string of the link claims more bytes than the file has", problem);
}

// ---- snapshots of a directory -------------------------------------------------

struct FakePrefix {
  TempDir dir;
  std::string Root() const { return dir.path.string(); }
  FakePrefix() {
    dir.Write("drive_c/windows/win.ini", "[windows]\r\n");
    dir.Write("drive_c/Program Files/Demo/abc.txt", "abc");
    dir.Write("drive_c/users/me/Desktop/Demo.lnk", MakeLink("C:\\Program Files\\Demo\\abc.txt", ""));
    Registry("[Software\\\\Demo] 1\n\"Count\"=dword:00000001\n", "");
  }
  void Registry(const std::string& machine, const std::string& user) const {
    dir.Write("system.reg", kRegHeader + machine);
    dir.Write("user.reg", kRegHeader + user);
  }
};

TEST(PrefixSnapshot, RecordsFilesLinksShortcutsAndRegistry) {
  FakePrefix p;
  ASSERT_EQ(0, chmod((p.dir.path / "drive_c/windows/win.ini").c_str(), 0444));
  ASSERT_EQ(0, symlink("/etc/passwd", (p.dir.path / "drive_c/users/me/Templates").c_str()));
  Snapshot s;
  std::string error;
  ASSERT_TRUE(TakeSnapshot(p.Root(), nullptr, s, error)) << error;
  const SnapshotEntry& abc = s.files.at("Program Files/Demo/abc.txt");
  EXPECT_EQ(SnapshotEntry::kFile, abc.kind);
  EXPECT_EQ(3u, abc.size);
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", abc.hash);  // SHA-256("abc")
  EXPECT_EQ("R", s.files.at("windows/win.ini").attributes);
  EXPECT_EQ(SnapshotEntry::kDirectory, s.files.at("Program Files/Demo").kind);
  const SnapshotEntry& link = s.files.at("users/me/Templates");
  EXPECT_EQ(SnapshotEntry::kSymlink, link.kind);  // recorded, never followed
  EXPECT_EQ("/etc/passwd", link.linkTarget);
  EXPECT_EQ(0u, s.files.count("users/me/Templates/passwd"));
  ASSERT_TRUE(s.shortcuts.at("users/me/Desktop/Demo.lnk").read);
  EXPECT_EQ("C:\\Program Files\\Demo\\abc.txt", s.shortcuts.at("users/me/Desktop/Demo.lnk").link.target);
  ASSERT_EQ(1u, s.keys.count("hkey_local_machine\\software\\demo"));
  // A key the file writes only through its subkeys exists too.
  ASSERT_EQ(1u, s.keys.count("hkey_local_machine\\software"));
  EXPECT_EQ("HKEY_LOCAL_MACHINE\\Software", s.keys.at("hkey_local_machine\\software").path);
  EXPECT_EQ(0u, s.keys.count("hkey_local_machine"));
  EXPECT_EQ("dword:00000001", s.keys.at("hkey_local_machine\\software\\demo").values.at("count").data);

  // The text form gives the same snapshot back.
  Snapshot back;
  ASSERT_TRUE(LoadSnapshot(SaveSnapshot(s), back, error)) << error;
  EXPECT_EQ(SaveSnapshot(s), SaveSnapshot(back));
  EXPECT_TRUE(DiffSnapshots(s, back).empty());
}

TEST(PrefixSnapshot, MissingPartsAndBadTextAreErrors) {
  TempDir empty;
  Snapshot s;
  std::string error;
  EXPECT_FALSE(TakeSnapshot(empty.path.string(), nullptr, s, error));
  EXPECT_NE(std::string::npos, error.find("is it a Wine prefix?")) << error;
  FakePrefix p;
  p.dir.Write("user.reg", "not a registry");
  EXPECT_FALSE(TakeSnapshot(p.Root(), nullptr, s, error));
  EXPECT_NE(std::string::npos, error.find("user.reg: line 1:")) << error;
  for (const char* bad : {"", "something else\t1\n", "truxpack-snapshot 1\t5\nfile\tx\t1\n",
                          "truxpack-snapshot 1\t5\nvalue\tHKEY_CURRENT_USER\\X\tn\t\"d\"\n",
                          "truxpack-snapshot 1\t5\ndir\ta\\q\t\n"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(LoadSnapshot(bad, s, error));
  }
}

TEST(PrefixSnapshot, HashesAreReusedOnlyForFilesUntouchedSinceWellBeforeTheLastSnapshot) {
  FakePrefix p;
  Snapshot first, second;
  std::string error;
  ASSERT_TRUE(TakeSnapshot(p.Root(), nullptr, first, error)) << error;
  // A file unchanged since long before: its recorded hash is taken as it is
  // (a planted wrong hash shows that it was not read again).
  first.takenNs += 3600ll * 1000000000;
  first.files.at("windows/win.ini").hash = "planted";
  ASSERT_TRUE(TakeSnapshot(p.Root(), &first, second, error)) << error;
  EXPECT_EQ("planted", second.files.at("windows/win.ini").hash);
  // Rewritten with the same size and its old modification time: the change
  // time gives it away and it is read again.
  const std::string path = (p.dir.path / "drive_c/Program Files/Demo/abc.txt").string();
  struct stat before;
  ASSERT_EQ(0, stat(path.c_str(), &before));
  p.dir.Write("drive_c/Program Files/Demo/abc.txt", "xyz");
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0));
  Snapshot third;
  ASSERT_TRUE(TakeSnapshot(p.Root(), &first, third, error)) << error;
  EXPECT_EQ("3608bca1e44ea6c4d268eb6db02260269892c0b42b86bbf1e77a6fa16c3c9282", third.files.at("Program Files/Demo/abc.txt").hash);
  // A previous snapshot taken within moments of the file's last change: the
  // file may have changed again within the clock's resolution, so it is read.
  Snapshot racy = third, fourth;
  racy.files.at("Program Files/Demo/abc.txt").hash = "planted";
  ASSERT_TRUE(TakeSnapshot(p.Root(), &racy, fourth, error)) << error;
  EXPECT_EQ(third.files.at("Program Files/Demo/abc.txt").hash, fourth.files.at("Program Files/Demo/abc.txt").hash);
}

// ---- differences ---------------------------------------------------------------

SnapshotEntry File(uint64_t size, const char* hash, const char* attributes = "") {
  SnapshotEntry e;
  e.size = size;
  e.hash = hash;
  e.attributes = attributes;
  return e;
}

SnapshotEntry Dir() {
  SnapshotEntry e;
  e.kind = SnapshotEntry::kDirectory;
  return e;
}

void Key(Snapshot& s, const std::string& path, std::vector<std::pair<std::string, std::string>> values = {}) {
  SnapshotKey& k = s.keys[FoldCase(path)];
  k.path = path;
  for (auto& [name, data] : values) k.values[FoldCase(name)] = RegistryValue{name, data};
}

TEST(SnapshotDiff, AddedRemovedChangedAndWineHousekeeping) {
  Snapshot a, b;
  a.files["windows/win.ini"] = b.files["windows/win.ini"] = File(10, "same");
  a.files["gone.txt"] = File(4, "g");
  a.files["content.txt"] = File(5, "h1");
  b.files["content.txt"] = File(5, "h2");
  a.files["grown.txt"] = File(5, "h1");
  b.files["grown.txt"] = File(9, "h3");
  a.files["flags.txt"] = File(5, "h1");
  b.files["flags.txt"] = File(5, "h1", "RH");
  a.files["mtime.txt"] = File(5, "h1");
  b.files["mtime.txt"] = File(5, "h1");
  b.files["mtime.txt"].mtimeNs = 12345;  // a new time alone is no change
  a.files["became"] = File(1, "x");
  b.files["became"] = Dir();
  b.files["Program Files/Demo"] = Dir();
  b.files["Program Files/Demo/new.txt"] = File(7, "n");
  b.files["users/me/Temp/trux-0123456789abcdef"] = Dir();
  b.files["users/me/Temp/trux-0123456789abcdeg"] = Dir();
  b.files["users/me/Temp/trux-0123456789abcdef0"] = Dir();
  Key(a, "HKEY_LOCAL_MACHINE\\Software\\Same", {{"v", "\"1\""}});
  Key(b, "HKEY_LOCAL_MACHINE\\Software\\SAME", {{"V", "\"1\""}});
  Key(b, "HKEY_LOCAL_MACHINE\\Software\\Demo", {{"", "\"default\""}, {"Count", "dword:00000001"}});
  Key(a, "HKEY_LOCAL_MACHINE\\Software\\Old", {{"x", "\"1\""}});
  Key(a, "HKEY_CURRENT_USER\\Software\\Kept", {{"changed", "\"1\""}, {"removed", "\"2\""}});
  Key(b, "HKEY_CURRENT_USER\\Software\\Kept", {{"changed", "\"3\""}});
  Key(b, "HKEY_CURRENT_USER\\Console", {{"ScreenSize", "dword:00190050"}});
  Key(b, "HKEY_CURRENT_USER\\Console2", {{"x", "\"1\""}});
  Key(a, "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\ServiceCurrent", {{"", "dword:00000001"}});
  Key(b, "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\ServiceCurrent", {{"", "dword:00000002"}});
  Key(b, "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Video\\{1}\\0000", {{"x", "\"1\""}});
  Key(b, "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
      {{"C:\\Common\\x.dll", "dword:00000001"}});

  struct Expected {
    const char* line;
    bool housekeeping;
  } expected[] = {
      {"+ dir C:\\Program Files\\Demo", false},
      {"+ file C:\\Program Files\\Demo\\new.txt (7 bytes)", false},
      {"~ dir C:\\became (was a file, now a directory)", false},
      {"~ file C:\\content.txt (content changed, 5 bytes)", false},
      {"~ file C:\\flags.txt (attributes none -> RH)", false},
      {"- file C:\\gone.txt (4 bytes)", false},
      {"~ file C:\\grown.txt (5 bytes -> 9 bytes)", false},
      {"+ dir C:\\users\\me\\Temp\\trux-0123456789abcdef", true},
      {"+ dir C:\\users\\me\\Temp\\trux-0123456789abcdef0", false},
      {"+ dir C:\\users\\me\\Temp\\trux-0123456789abcdeg", false},
      {"+ key HKEY_CURRENT_USER\\Console", true},
      {"+ value HKEY_CURRENT_USER\\Console \"ScreenSize\" = 1638480 (0x00190050)", true},
      {"+ key HKEY_CURRENT_USER\\Console2", false},
      {"+ value HKEY_CURRENT_USER\\Console2 \"x\" = \"1\"", false},
      {"~ value HKEY_CURRENT_USER\\Software\\Kept \"changed\" \"1\" -> \"3\"", false},
      {"- value HKEY_CURRENT_USER\\Software\\Kept \"removed\" was \"2\"", false},
      {"+ key HKEY_LOCAL_MACHINE\\Software\\Demo", false},
      {"+ value HKEY_LOCAL_MACHINE\\Software\\Demo (default) = \"default\"", false},
      {"+ value HKEY_LOCAL_MACHINE\\Software\\Demo \"Count\" = 1 (0x00000001)", false},
      {"+ key HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs", true},
      {"+ value HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs \"C:\\Common\\x.dll\" = 1 "
       "(0x00000001)",
       false},
      {"- key HKEY_LOCAL_MACHINE\\Software\\Old", false},
      {"- value HKEY_LOCAL_MACHINE\\Software\\Old \"x\" was \"1\"", false},
      {"~ value HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\ServiceCurrent (default) 1 (0x00000001) -> 2 "
       "(0x00000002)",
       true},
      {"+ key HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Video\\{1}\\0000", true},
      {"+ value HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Video\\{1}\\0000 \"x\" = \"1\"", true},
  };
  const std::vector<Difference> diffs = DiffSnapshots(a, b);
  ASSERT_EQ(sizeof expected / sizeof expected[0], diffs.size());
  for (size_t i = 0; i < diffs.size(); ++i) {
    EXPECT_EQ(expected[i].line, DifferenceLine(diffs[i])) << i;
    EXPECT_EQ(expected[i].housekeeping, diffs[i].housekeeping != nullptr) << expected[i].line;
  }
  // The same snapshots the other way round: the removed items are no Wine
  // housekeeping where only additions are (SharedDLLs, the batch directory).
  for (const Difference& d : DiffSnapshots(b, a)) {
    if (d.kind == ItemKind::kDirectory || (d.kind == ItemKind::kKey && d.path.find("SharedDLLs") != std::string::npos)) {
      EXPECT_EQ(nullptr, d.housekeeping) << DifferenceLine(d);
    }
  }
}

}  // namespace
