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
#include "core/win32/system_dirs.h"
#include "runtime/installer_archive.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "runtime/settings_steps.h"
#include "tests/win32/run_case.h"

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

// Reads a stream of the fields with the runtime's steps into run.
ArchiveError Read(Run& run, const Fields& f) {
  std::string stream = BuildStream(f);
  RuntimeSettingsSteps steps(run);
  SettingsReadOptions options;
  options.expectedChecksum = BlockChecksum(stream.data(), (int32_t)stream.size());
  options.ownFileSize = 1 << 20;
  options.steps = &steps;
  return ReadSettings(stream.data(), (int32_t)stream.size(), options, run.archive.settings);
}

TEST(SettingsStepsTest, ProductNameAutomaticModeAndVersion) {
  {
    AttachedRun fresh;
    ::Run& run = fresh.run;
    Fields f;
    f.flags = 1ull << kFlagAutomatic;
    ASSERT_EQ(Read(run, f), kArchiveOk);
    EXPECT_TRUE(run.options.automaticMode);
    EXPECT_EQ(Text(run.options.DisplayName), "Rocket");
    EXPECT_EQ(Text(run.directories.productVersion), "1.0");
  }
  AttachedRun fresh;
  ::Run& run = fresh.run;
  run.options.DisplayName = "From the command line";
  ASSERT_EQ(Read(run, Fields()), kArchiveOk);
  EXPECT_FALSE(run.options.automaticMode);
  EXPECT_EQ(Text(run.options.DisplayName), "From the command line");
}

TEST(SettingsStepsTest, SharedPathDerivation) {
  const std::string common = Text(CommonDir());
  struct Case {
    uint64_t flags;
    const char* publisher;
    std::string expected;
  } cases[] = {
      {1ull << kFlagUninstaller, "", common + "\\Rocket"},
      {1ull << kFlagUninstaller, "  ", common + "\\Rocket"},  // blank counts as no publisher
      {1ull << kFlagUninstaller, "Acme", common + "\\Acme"},
      {0, "Acme", ""},  // no uninstall support: no shared directory
  };
  for (const Case& c : cases) {
    AttachedRun fresh;
    ::Run& run = fresh.run;
    Fields f;
    f.flags = c.flags;
    f.publisher = c.publisher;
    ASSERT_EQ(Read(run, f), kArchiveOk) << c.publisher;
    EXPECT_EQ(Text(run.archive.settings.SharedPath), c.expected) << c.publisher;
    EXPECT_EQ(Text(run.directories.shared), c.expected) << c.publisher;
  }
}

TEST(SettingsStepsTest, StartMenuFolderDerivation) {
  struct Case {
    const char* publisher;
    const char* startMenu;
    const char* expected;
  } cases[] = {
      {"Acme", "", "Acme\\Rocket"},
      {"", "", "Rocket"},
      {"", "Tools\\Rocket", "Tools\\Rocket"},
  };
  for (const Case& c : cases) {
    AttachedRun fresh;
    ::Run& run = fresh.run;
    Fields f;
    f.publisher = c.publisher;
    f.startMenu = c.startMenu;
    ASSERT_EQ(Read(run, f), kArchiveOk);
    EXPECT_EQ(Text(run.archive.settings.ProductStartMenu), c.expected);
  }
}

TEST(SettingsStepsTest, DefaultInstallationDirectory) {
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
    AttachedRun fresh;
    ::Run& run = fresh.run;
    Fields f;
    f.installDir = c.stored;
    ASSERT_EQ(Read(run, f), kArchiveOk) << c.stored;
    EXPECT_EQ(Text(run.archive.settings.defaultInstallDir), c.expected) << c.stored;
  }
}

TEST(SettingsStepsTest, MessagesReachTheLookupInTheEnglishColumn) {
  AttachedRun fresh;
  ::Run& run = fresh.run;
  Fields f;
  f.languages = {"Deutsch", "English", "english"};
  f.messages = {"Installiere <product>", "Install <product>", "install <product>",
                "Zeile eins\nZeile zwei", "Line one\nLine two", "line"};
  ASSERT_EQ(Read(run, f), kArchiveOk);
  const ArchiveSettings& s = run.archive.settings;
  EXPECT_EQ(s.englishLanguage, 1);
  run.messages.Set(s.LanguageCount(), run.archive.settings.messages);
  run.messages.SetCurrent(s.englishLanguage);
  EXPECT_STREQ(MessageText(run, 0), "Install Rocket");
  EXPECT_STREQ(MessageText(run, 1), "Line one\r\nLine two");
  run.messages.SetCurrent(0);
  EXPECT_STREQ(MessageText(run, 0), "Installiere Rocket");
}

}  // namespace
