// The runtime's settings steps on real settings streams: automatic mode, the
// product name, the directory derivations against the real folders of the
// Wine prefix, and the message table handed to the message lookup.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/checksum.h"
#include "core/path.h"
#include "core/win32/path_variables.h"
#include "runtime/run_texts.h"
#include "core/win32/system_dirs.h"
#include "runtime/installer_archive.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "runtime/settings_steps.h"

namespace {

std::string Text(const String& s) { return std::string(s.CStr(), (size_t)s.Length()); }

// Builds a settings stream field by field, in stream order.
class Stream {
 public:
  Stream& U8(uint8_t v) {
    bytes_.push_back((char)v);
    return *this;
  }
  Stream& U16(uint16_t v) { return U8(v & 0xFF).U8(v >> 8); }
  Stream& U32(uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
  Stream& U64(uint64_t v) { return U32((uint32_t)v).U32((uint32_t)(v >> 32)); }
  Stream& Str(const std::string& s) {
    bytes_ += s;
    bytes_.push_back('\0');
    return *this;
  }
  Stream& Zeros(int n) {
    bytes_.append((size_t)n, '\0');
    return *this;
  }
  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

struct Fields {
  uint64_t flags = 0;
  std::string publisher = "Acme";
  std::string product = "Rocket";
  std::string sharedPath;
  std::string startMenu;
  std::string installDir = "Acme\\Rocket";
  std::vector<std::string> languages = {"English"};
  std::vector<std::string> messages = {"Install <product>"};  // row-major
};

std::string BuildStream(const Fields& f) {
  Stream s;
  s.U64(f.flags).Str("taskbar").U32(0).U16(0).U8(0).Zeros(24);
  s.Str(f.publisher).Str(f.product).Str(f.sharedPath).Str(f.startMenu).Str("1.0").Str(f.installDir);
  s.Str("Software\\Acme\\Rocket").U32(0).U32(0).U32(0).U32(0);  // registry, bitmap size, stretch, licences, readmes
  s.Str("uninst").Str("ROCKET").Str("uninstall.exe").Str("");    // subdir, volume name, uninstaller, uninstall name
  s.U32(0).U8(0).U8(0).Str("Arial").U32(0).U32(0).U32(0);          // title colour..bottom colour, bitmap
  if (f.flags & (1ull << kFlagAddOn)) s.Str("Master");
  s.Str("").U32(0);                                              // desktop shortcut name, icon
  s.Str("").Str("").Str("").Str("").Str("").Zeros(20);            // batches, uninstall batches, reserved date
  s.U32(0).U8(0).U8(0).U32(7).Str("").Str("");                    // excluded..password
  if (f.flags & (1ull << kFlagUninstaller)) s.U32(0);             // no patch
  s.Str(kDeletionListEnd).U32(0).U32(0).U32(0);
  s.U8((uint8_t)f.languages.size()).U32((uint32_t)(f.messages.size() / f.languages.size()));
  for (const std::string& l : f.languages) s.Str(l);
  for (const std::string& m : f.messages) s.Str(m);
  s.U32(kSettingsEndMarker);
  return s.Bytes();
}

class SettingsStepsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_options = CommandLineOptions();
    g_productFlags = 0;
    g_archive.settings = ArchiveSettings();
  }
  ArchiveError Read(const Fields& f) {
    std::string stream = BuildStream(f);
    RuntimeSettingsSteps steps;
    SettingsReadOptions options;
    options.expectedChecksum = BlockChecksum(stream.data(), (int32_t)stream.size());
    options.ownFileSize = 1 << 20;
    options.steps = &steps;
    return ReadSettings(stream.data(), (int32_t)stream.size(), options, g_archive.settings);
  }
  const ArchiveSettings& S() const { return g_archive.settings; }
};

TEST_F(SettingsStepsTest, ProductNameAutomaticModeAndVersion) {
  Fields f;
  f.flags = 1ull << kFlagAutomatic;
  ASSERT_EQ(Read(f), kArchiveOk);
  EXPECT_TRUE(g_options.automaticMode);
  EXPECT_EQ(Text(g_options.DisplayName), "Rocket");
  EXPECT_EQ(Text(ProductVersion()), "1.0");

  SetUp();
  g_options.DisplayName = "From the command line";
  ASSERT_EQ(Read(Fields()), kArchiveOk);
  EXPECT_FALSE(g_options.automaticMode);
  EXPECT_EQ(Text(g_options.DisplayName), "From the command line");
}

TEST_F(SettingsStepsTest, SharedPathDerivation) {
  Fields f;
  f.flags = 1ull << kFlagUninstaller;
  f.publisher = "";
  ASSERT_EQ(Read(f), kArchiveOk);
  EXPECT_EQ(Text(S().SharedPath), Text(JoinPath(CommonDir().CStr(), "Rocket")));
  EXPECT_EQ(Text(SharedDirectory()), Text(S().SharedPath));

  SetUp();
  f.publisher = "  ";  // blank counts as no publisher
  ASSERT_EQ(Read(f), kArchiveOk);
  EXPECT_EQ(Text(S().SharedPath), Text(JoinPath(CommonDir().CStr(), "Rocket")));

  SetUp();
  f.publisher = "Acme";
  ASSERT_EQ(Read(f), kArchiveOk);
  EXPECT_EQ(Text(S().SharedPath), Text(JoinPath(CommonDir().CStr(), "Acme")));

  SetUp();
  f.flags = 0;  // no uninstall support: no shared directory
  ASSERT_EQ(Read(f), kArchiveOk);
  EXPECT_EQ(Text(S().SharedPath), "");
}

TEST_F(SettingsStepsTest, StartMenuFolderDerivation) {
  Fields f;
  ASSERT_EQ(Read(f), kArchiveOk);
  EXPECT_EQ(Text(S().ProductStartMenu), "Acme\\Rocket");
  SetUp();
  f.publisher = "";
  ASSERT_EQ(Read(f), kArchiveOk);
  EXPECT_EQ(Text(S().ProductStartMenu), "Rocket");
  SetUp();
  f.startMenu = "Tools\\Rocket";
  ASSERT_EQ(Read(f), kArchiveOk);
  EXPECT_EQ(Text(S().ProductStartMenu), "Tools\\Rocket");
}

TEST_F(SettingsStepsTest, DefaultInstallationDirectory) {
  const std::string programs = Text(ProgramsDir());
  const std::string windows = Text(WindowsDir());
  struct Case {
    const char* stored;
    std::string expected;
  } cases[] = {
      {"Acme\\Rocket", programs + "\\Acme\\Rocket"},
      {"", programs + "\\Rocket"},
      {"HKLM\\Software\\Acme,Dir", "HKLM\\Software\\Acme,Dir"},
      {"HKCU\\Software\\Acme,Dir", "HKCU\\Software\\Acme,Dir"},
      {"hklm\\Software\\Acme", programs + "\\hklm\\Software\\Acme"},
      {"<MASTER>", "<MASTER>"},
      {"D:\\Apps\\Rocket", "D:\\Apps\\Rocket"},
      {"\\\\server\\share\\Rocket", "\\\\server\\share\\Rocket"},
      {"<OS>\\Rocket", windows + "\\Rocket"},
      {"%WinDir%\\Rocket", windows + "\\Rocket"},
  };
  for (const Case& c : cases) {
    SetUp();
    Fields f;
    f.installDir = c.stored;
    ASSERT_EQ(Read(f), kArchiveOk) << c.stored;
    EXPECT_EQ(Text(S().defaultInstallDir), c.expected) << c.stored;
  }
}

TEST_F(SettingsStepsTest, MessagesReachTheLookupInTheEnglishColumn) {
  Fields f;
  f.languages = {"Deutsch", "English", "english"};
  f.messages = {"Installiere <product>", "Install <product>", "install <product>",
                "Zeile eins\nZeile zwei", "Line one\nLine two", "line"};
  ASSERT_EQ(Read(f), kArchiveOk);
  EXPECT_EQ(S().englishLanguage, 1);
  SetMessageTable(S().LanguageCount(), g_archive.settings.messages);
  SetCurrentLanguage(S().englishLanguage);
  EXPECT_STREQ(MessageText(0), "Install Rocket");
  EXPECT_STREQ(MessageText(1), "Line one\r\nLine two");
  SetCurrentLanguage(0);
  EXPECT_STREQ(MessageText(0), "Installiere Rocket");
}

}  // namespace
