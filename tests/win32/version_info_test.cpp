// Version resources of real DLLs built for this test: one with file version
// 1, 0, 2, 3 under 040904B0, one without a translation list (4, 5, 6, 7
// under the default 040904E4), one without any resource.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "core/path.h"
#include "core/win32/system_dirs.h"
#include "core/win32/version_info.h"

namespace {

std::string Text(const String& s) { return std::string(s.CStr(), (size_t)s.Length()); }

String Fixture(const char* name) { return JoinPath(DirectoryOf(ModulePath().CStr()).CStr(), name); }

TEST(FileVersionText, ReadsCleansAndPadsTheFileVersion) {
  const struct {
    const char* file;
    const char* plain;
    const char* padded;
  } cases[] = {
      {"version_fixture.dll", "1.0.2.3", "0000000001.0000000000.0000000002.0000000003"},
      {"version_notrans_fixture.dll", "4.5.6.7", "0000000004.0000000005.0000000006.0000000007"},
      {"noversion_fixture.dll", "", ""},
      {"no_such_file.dll", "", ""},
  };
  for (const auto& c : cases) {
    String path = Fixture(c.file);
    String version("stale");
    FileVersionText(version, path.CStr(), false);
    EXPECT_EQ(Text(version), c.plain) << c.file;
    FileVersionText(version, path.CStr(), true);
    EXPECT_EQ(Text(version), c.padded) << c.file;
  }
}

TEST(ReadVersionInfo, FailsWithAnEmptyBlockWithoutAResource) {
  String block("stale");
  EXPECT_FALSE(ReadVersionInfo(Fixture("noversion_fixture.dll").CStr(), block));
  EXPECT_TRUE(block.IsEmpty());
  EXPECT_FALSE(ReadVersionInfo(nullptr, block));
  EXPECT_TRUE(ReadVersionInfo(Fixture("version_fixture.dll").CStr(), block));
  EXPECT_GT(block.Length(), 0);
}

TEST(VersionTranslation, IsTheFirstPairOrTheDefault) {
  String block;
  ASSERT_TRUE(ReadVersionInfo(Fixture("version_fixture.dll").CStr(), block));
  EXPECT_EQ(Text(VersionTranslation(block)), "040904B0");
  ASSERT_TRUE(ReadVersionInfo(Fixture("version_notrans_fixture.dll").CStr(), block));
  EXPECT_EQ(Text(VersionTranslation(block)), "040904E4");
  String empty;
  EXPECT_EQ(Text(VersionTranslation(empty)), "040904E4");
}

TEST(QueryVersionValue, CopiesTheValueOrFails) {
  String block;
  ASSERT_TRUE(ReadVersionInfo(Fixture("version_fixture.dll").CStr(), block));
  String value;
  ASSERT_TRUE(QueryVersionValue(block, "\\StringFileInfo\\040904B0\\ProductName", value));
  // The system counts the terminating NUL of a text.
  EXPECT_EQ(Text(value), std::string("Version fixture", 16));
  EXPECT_FALSE(QueryVersionValue(block, "\\StringFileInfo\\040904B0\\NoSuchValue", value));
  EXPECT_TRUE(value.IsEmpty());
  // The fixed part: the file version words 1.0 and 2.3.
  ASSERT_TRUE(QueryVersionValue(block, "\\", value));
  ASSERT_GE(value.Length(), (int32_t)sizeof(VS_FIXEDFILEINFO));
  const VS_FIXEDFILEINFO* fixed = reinterpret_cast<const VS_FIXEDFILEINFO*>(value.Buffer());
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00020003u);
}

}  // namespace
