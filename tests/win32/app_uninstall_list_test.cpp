// The uninstall list and the association log: the lines the uninstall data
// file is made of.
#include <gtest/gtest.h>

#include <string>

#include "runtime/uninstall_list.h"

namespace {

std::string Text(const String& s) { return std::string(s.CStr(), (size_t)s.Length()); }

class UninstallListTest : public ::testing::Test {
 protected:
  UninstallRecord record;  // each case's own
};

struct EntryCase {
  const char* path;
  int32_t kind;
  bool added;
};

TEST_F(UninstallListTest, LinesInOrderWithKindPrefixAndDuplicateRules) {
  const EntryCase cases[] = {
      {"C:\\Prog\\a.exe", kUninstallFile, true},
      {"C:\\Prog\\a.exe", kUninstallFile, true},     // files are never de-duplicated
      {"C:\\Prog\\Sub", kUninstallDirectory, true},
      {"c:\\prog\\SUB", kUninstallDirectory, false},  // the same directory in another case
      {"Software\\Trux", kUninstallClassKey, true},
      {"SOFTWARE\\trux", kUninstallClassKey, false},
      {"C:\\Prog\\Sub", kUninstallClassKey, true},    // a class key is not a directory
      {"C:\\", kUninstallFile, false},                // a drive root is too short
      {"C:\\", kUninstallDirectory, false},
      {"", kUninstallFile, false},
      {nullptr, kUninstallFile, false},
      {"C:\\Prog\\b.dll", 3, false},                  // unknown kind
      {"C:\\Prog\\b.dll", -1, false},
      {"C:\\x", kUninstallDirectory, true},           // exactly 4 characters is enough
  };
  for (const EntryCase& c : cases)
    EXPECT_EQ(record.Add(c.path, c.kind), c.added) << (c.path ? c.path : "(null)") << " kind " << c.kind;
  EXPECT_EQ(Text(record.List()),
            "C:\\Prog\\a.exe\r\nC:\\Prog\\a.exe\r\n~C:\\Prog\\Sub\r\n!Software\\Trux\r\n!C:\\Prog\\Sub\r\n~C:\\x\r\n");
}

TEST_F(UninstallListTest, ClearingForgetsRecordedDirectories) {
  EXPECT_TRUE(record.Add("C:\\Prog", kUninstallDirectory));
  record.Clear();
  EXPECT_EQ(Text(record.List()), "");
  EXPECT_TRUE(record.Add("C:\\PROG", kUninstallDirectory));
  EXPECT_EQ(Text(record.List()), "~C:\\PROG\r\n");
}

TEST_F(UninstallListTest, AssociationLogLines) {
  record.AddAssociation(".trx", "Trux.Document", "open");
  record.AddAssociation(".log", "", "print");
  EXPECT_EQ(Text(record.AssociationLog()), ".trx~!~Trux.Document~!~open\r\n.log~!~~!~print\r\n");
  EXPECT_EQ(Text(record.List()), "");  // the two texts are apart
}

}  // namespace
