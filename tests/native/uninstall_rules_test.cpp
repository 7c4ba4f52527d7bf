// The uninstaller's text rules: flag words, font lists,
// backup names, line kinds, drive roots, the whole-directory guard and the
// self-deleting batch.
#include "uninstall/uninstall_rules.h"
#include "archive/record_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ProductFlags, ParsesSignedDecimalAndRejectsDamage) {
  struct Case {
    const char* text;
    uint64_t flags;
  } cases[] = {
      {"", 0},
      {"0", 0},
      {"1024", 1u << 10},
      {"  36", 36},
      {"-1", ~0ull},
      {"9223372036854775807", 0x7FFFFFFFFFFFFFFFull},
      {"-9223372036854775808", 0x8000000000000000ull},   // bit 63 alone
      {"9223372036854775808", 0},                        // beyond 64 bits
      {"99999999999999999999999", 0},
      {"abc", 0},
      {"35184372088832", 1ull << 45},
      {"1024junk", 1024},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseProductFlags(c.text), c.flags) << '"' << c.text << '"';
  EXPECT_EQ(ParseProductFlags(nullptr), 0u);
}

TEST(ProductFonts, PairsUntilNoCompletePairIsLeft) {
  struct Case {
    const char* text;
    std::vector<std::pair<std::string, std::string>> pairs;
  } cases[] = {
      {"", {}},
      {"\"Demo Sans (TrueType)\" \"demosans.ttf\" ", {{"Demo Sans (TrueType)", "demosans.ttf"}}},
      {"\"A\" \"a.ttf\" \"B\" \"b.fon\" ", {{"A", "a.ttf"}, {"B", "b.fon"}}},
      {"\"A\" \"a.ttf\" \"B\"", {{"A", "a.ttf"}}},  // half a pair is dropped
      {"junk \"A\" \"a.ttf\"", {}},                 // the list must start with a quote
      {"\"A\"\"a.ttf\"", {}},                       // that is one text with a quote inside
      {"\"A\"\r\n\t\"a.ttf\"", {{"A", "a.ttf"}}},
  };
  for (const Case& c : cases) {
    String text(c.text), name, file;
    int32_t position = 0;
    std::vector<std::pair<std::string, std::string>> got;
    while (NextFontPair(text, &position, name, file) && got.size() < 50) got.push_back({name.CStr(), file.CStr()});
    EXPECT_EQ(got, c.pairs) << c.text;
  }
}

TEST(ProductFonts, OnlyPlainFileNamesReachTheFontsDirectory) {
  for (const char* ok : {"demo.ttf", "a b.fon", "x"}) EXPECT_TRUE(IsPlainFileName(ok)) << ok;
  for (const char* bad : {"", ".", "..", "..\\win.ini", "C:\\x.ttf", "c:x.ttf", "a/b.ttf", "\\\\s\\x"})
    EXPECT_FALSE(IsPlainFileName(bad)) << bad;
  EXPECT_FALSE(IsPlainFileName(nullptr));
}

TEST(Associations, BackupNameLosesBackslashesAndBreaks) {
  EXPECT_STREQ(BackupValueName("Demo").CStr(), "Demo Backup");
  EXPECT_STREQ(BackupValueName("A\\B\r\nC\tD").CStr(), "ABCD Backup");
  EXPECT_STREQ(BackupValueName("").CStr(), " Backup");
}

TEST(UninstallLines, KindsByFirstCharacter) {
  struct Case {
    const char* line;
    UninstallLineKind kind;
    const char* path;
  } cases[] = {
      {"C:\\App\\a.txt", kUninstallLineFile, "C:\\App\\a.txt"},
      {"~C:\\App\\docs", kUninstallLineDirectory, "C:\\App\\docs"},
      {"!.demo", kUninstallLineClassKey, ".demo"},
      {"", kUninstallLineEmpty, ""},
      {"  \t", kUninstallLineEmpty, ""},
      {"~", kUninstallLineDirectory, ""},
  };
  for (const Case& c : cases) {
    String path;
    EXPECT_EQ(ClassifyUninstallLine(String(c.line), path), c.kind) << c.line;
    EXPECT_STREQ(path.CStr(), c.path) << c.line;
  }
}

TEST(UninstallLines, ClassKeyLinesNeverNameTheRoot) {
  for (const char* ok : {".demo", "DemoFile\\shell\\open", "CLSID\\{x}"}) EXPECT_TRUE(IsDeletableClassKey(ok)) << ok;
  for (const char* bad : {"", "   ", "\\", "\\.demo", "a\\\\b"}) EXPECT_FALSE(IsDeletableClassKey(bad)) << bad;
}

// Only keys the association log names go: the extension, the file type and
// the keys the installation made below it for the record's verb.
TEST(UninstallLines, ClassKeyLinesOnlyForTheInstallationsAssociations) {
  Array<UninstallAssociation> associations;
  UninstallAssociation& a = associations.Append();
  a.extension = ".demo";
  a.fileType = "DemoFile";
  a.verb = "open";
  UninstallAssociation& bad = associations.Append();  // a record that names the root is no help
  bad.extension = ".other";
  bad.fileType = "\\";
  bad.verb = "x";
  for (const char* ok : {".demo", ".DEMO", "DemoFile", "demofile\\", "DemoFile\\DefaultIcon", "DemoFile\\shell",
                         "DemoFile\\shell\\open", "DEMOFILE\\SHELL\\OPEN\\command"})
    EXPECT_TRUE(IsAssociationClassKey(ok, associations)) << ok;
  for (const char* refused : {"CLSID", "CLSID\\{x}", "txtfile", "DemoFile\\shell\\print", "DemoFile\\other",
                              ".demo\\ShellNew", ".other", "\\", "", "Demo", "DemoFile\\shell\\open\\command\\x"})
    EXPECT_FALSE(IsAssociationClassKey(refused, associations)) << refused;
  EXPECT_FALSE(IsAssociationClassKey(".demo", Array<UninstallAssociation>()));
}

TEST(DriveRoot, LetterColonAndBackslashWhenPresent) {
  struct Case {
    const char* path;
    const char* root;
  } cases[] = {
      {"C:\\Program Files\\Demo", "C:\\"}, {"d:Demo", "d:"}, {"E:", "E:"}, {"\\\\srv\\share\\x", ""}, {"", ""},
  };
  for (const Case& c : cases) EXPECT_STREQ(InstallDriveRoot(c.path).CStr(), c.root) << c.path;
}

TEST(Paths, SamePathAndParents) {
  EXPECT_TRUE(SamePath("C:\\Program Files\\Demo", "c:\\PROGRAM FILES\\demo\\"));
  EXPECT_TRUE(SamePath("C:\\", "c:\\\\"));
  EXPECT_FALSE(SamePath("C:\\Demo", "C:\\Demo2"));
  struct Case {
    const char* path;
    bool has;
    const char* parent;
  } cases[] = {
      {"C:\\a\\b", true, "C:\\a"},   {"C:\\a", true, "C:\\"},   {"C:\\a\\", true, "C:\\"},
      {"C:\\", false, ""},           {"C:", false, ""},         {"name", false, ""},
      {"\\\\s\\share\\d", true, "\\\\s\\share"},
  };
  for (const Case& c : cases) {
    String parent;
    EXPECT_EQ(ParentDirectory(String(c.path), parent), c.has) << c.path;
    if (c.has) {
      EXPECT_STREQ(parent.CStr(), c.parent) << c.path;
    }
  }
}

TEST(TreeRemoval, RefusesRootsSystemAndUserFolders) {
  Array<String> folders;
  for (const char* f : {"C:\\windows", "C:\\windows\\system32", "C:\\Program Files", "C:\\users\\alice",
                        "C:\\users\\alice\\Desktop", "C:\\users\\alice\\Documents", "", "C:\\users\\Public\\Desktop"})
    folders.Append(String(f));
  struct Case {
    const char* location;
    TreeRemovalRefusal result;
  } cases[] = {
      {"C:\\Program Files\\Demo", kTreeRemovalAllowed},
      {"c:\\program files\\demo\\", kTreeRemovalAllowed},
      {"D:\\Apps\\Demo", kTreeRemovalAllowed},
      {"\\\\srv\\share\\Demo", kTreeRemovalAllowed},
      {"C:\\users\\alice\\Desktop\\Demo", kTreeRemovalAllowed},  // inside, not the folder itself
      {"C:\\", kTreeRemovalRoot},
      {"C:\\\\", kTreeRemovalRoot},
      {"D:\\", kTreeRemovalRoot},
      {"\\\\srv\\share", kTreeRemovalRoot},
      {"\\\\srv\\share\\", kTreeRemovalRoot},
      {"C:", kTreeRemovalNotAbsolute},
      {"Demo", kTreeRemovalNotAbsolute},
      {"\\Demo", kTreeRemovalNotAbsolute},
      {"", kTreeRemovalNotAbsolute},
      {"C:\\Program Files\\..", kTreeRemovalDotComponent},
      {"C:\\Demo\\.\\x", kTreeRemovalDotComponent},
      {"C:\\WINDOWS", kTreeRemovalSystemFolder},
      {"C:\\Windows\\System32\\", kTreeRemovalSystemFolder},
      {"C:\\Program Files", kTreeRemovalSystemFolder},
      {"C:\\users\\alice", kTreeRemovalSystemFolder},
      {"C:\\users", kTreeRemovalSystemFolder},          // holds the profiles
      {"C:\\users\\alice\\desktop", kTreeRemovalSystemFolder},
      {"C:\\users\\ali", kTreeRemovalAllowed},           // a prefix of a name is not a parent
  };
  for (const Case& c : cases) EXPECT_EQ(CheckTreeRemoval(c.location, folders), c.result) << c.location;
}

TEST(SelfDeleteBatch, DeletesProgramDirectoriesAndItself) {
  String text = SelfDeleteBatchText("C:\\App\\Uninst\\unins.exe", "Uninst", "C:\\App\\Uninst", "C:\\App",
                                    "C:\\T\\u1\\delunins.bat", "C:\\T\\u1");
  EXPECT_STREQ(text.CStr(),
               ":Repeat\r\ndel \"C:\\App\\Uninst\\unins.exe\"\r\nif exist \"C:\\App\\Uninst\\unins.exe\" goto Repeat\r\n"
               "rd \"C:\\App\\Uninst\"\r\nrd \"C:\\App\"\r\ndel \"C:\\T\\u1\\delunins.bat\" & rd \"C:\\T\\u1\"\r\n");
  // Without an uninstall subdirectory there is one rd for the install directory;
  // a '%' in a path is doubled so that the interpreter keeps it literally.
  text = SelfDeleteBatchText("C:\\100%\\u.exe", "", "C:\\100%", "C:\\100%", "C:\\T\\d.bat", "C:\\T");
  EXPECT_STREQ(text.CStr(),
               ":Repeat\r\ndel \"C:\\100%%\\u.exe\"\r\nif exist \"C:\\100%%\\u.exe\" goto Repeat\r\n"
               "rd \"C:\\100%%\"\r\ndel \"C:\\T\\d.bat\" & rd \"C:\\T\"\r\n");
}

}  // namespace
