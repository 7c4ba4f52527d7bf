// The authoring tool's archive writer against the portable reader: settings
// round trips, the PE section attach and its exact undo, the installer
// reader's corrupt-archive codes on handcrafted installers, volumes, data
// outside the image, and the project file's errors.
#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "archive/block.h"
#include "archive/pe_image.h"
#include "core/checksum.h"
#include "tools/truxpack/archive_writer.h"
#include "tools/truxpack/glob.h"
#include "tools/truxpack/bitmap.h"
#include "tools/truxpack/cmd_archive.h"
#include "tools/truxpack/file_io.h"
#include "tools/truxpack/installer_reader.h"
#include "tools/truxpack/messages.h"
#include "tools/truxpack/pe_attach.h"
#include "tools/truxpack/project.h"
#include "tests/native/truxpack_test_support.h"

namespace fs = std::filesystem;
using namespace trux_test;

namespace {

// Settings the runtime accepts, with every field away from its zero value
// where the format allows it.
ArchiveSettings FullSettings() {
  ArchiveSettings s;
  s.Flags = (1ull << kFlagUninstaller) | (1ull << kFlagAddOn) | (1ull << 63) | (1ull << 33);
  s.TaskbarText = "Taskbar";
  s.DialogPosition = 6;
  s.StagePause = 9999;
  s.ShortcutMode = 1;
  s.UninstallerFileTime = {2024, 2, 29, 23, 59, 58};
  s.Publisher = "Publisher";
  s.productName = "Product";
  s.SharedPath = "Shared";
  s.ProductStartMenu = "Menu\\Product";
  s.DisplayVersion = "1.2.3";
  s.defaultInstallDir = "HKLM\\Software\\Vendor\\Path";
  s.ProductRegistry = "Vendor\\Product";
  s.BitmapSize = 100;
  s.StretchMode = 3;
  for (int i = 0; i < 20; ++i) {
    char text[16];
    snprintf(text, sizeof text, "licence %d", i);
    s.licenseTexts.Append(String(text));
  }
  s.readmeTexts.Append("readme\r\ntext");
  s.UninstallSubdir = "Uninst";
  s.volumeBaseName = "disk";
  s.uninstallerFileName = "unins.exe";
  s.uninstallName = "ProductKey";
  s.TitleColor = 0x00FFEEDD;
  s.TitleShadow = 3;
  s.TitlePosition = 5;
  s.TitleFont = "Arial";
  s.TopColor = 0x00112233;
  s.BottomColor = 0x00445566;
  s.backgroundBitmap = String("\x28\0\0\0bitmap", 10);
  s.masterProductName = "Master";
  s.desktopShortcutName = "Folder";
  s.desktopShortcutIcon = String("ico\0n", 5);
  s.batches[0] = "echo 1";
  s.batches[1] = "echo 2";
  s.batches[2] = "echo 3";
  s.UninstallBatch1 = "echo u1";
  s.UninstallBatch2 = "echo u2";
  for (int i = 0; i < kReservedDateRecordSize; ++i) s.reservedDate[i] = (uint8_t)(i + 1);
  s.excludedSystems = 4 | 8;
  s.dataOutsideImage = 0;
  s.adminRequirement = 2;
  s.volumeIdentifier = 0xCAFE0001;
  s.minimumVersion = "1.0";
  s.password = "Secret";
  s.patchOffset = 0x40;
  s.patchBytes = "PATCH";
  FileDeletion& d = s.deletions.Append();
  d.specification = "*.old";
  d.condition = 2;
  d.argument = "1/2/2020";
  d.options = 2;
  FileAssociation& a = s.associations.Append();
  a.number = 1;
  for (int i = 0; i < 8; ++i) a.texts[i] = String((std::string("assoc") + std::to_string(i)).c_str());
  ShortcutRecord& r = s.shortcuts.Append();
  r.target = "%InstallDir%\\app.exe";
  r.name = "App";
  r.iconFile = "app.ico";
  r.arguments = "-x";
  r.workingDirectory = "%InstallDir%";
  r.desktop = 1;
  r.startMenu = 0;
  r.startup = 1;
  r.permanent = 1;
  UninstallValue& u = s.uninstallValues.Append();
  u.name = "HelpLink";
  u.type = 4;
  u.value = "7";
  s.languageNames.Append("Deutsch");
  s.languageNames.Append("English");
  s.messageCount = 3;
  for (int m = 0; m < 3; ++m)
    for (int l = 0; l < 2; ++l) s.messages.Append(String((std::string("m") + std::to_string(m) + "l" + std::to_string(l)).c_str()));
  return s;
}

ArchiveSettings MinimalSettings() {
  ArchiveSettings s;
  s.productName = "P";
  s.volumeBaseName = "setup";
  s.languageNames.Append("English");
  s.messageCount = 1;
  s.messages.Append("title");
  return s;
}

std::string S(const String& s) { return std::string(s.CStr(), (size_t)s.Length()); }

void ExpectSameSettings(const ArchiveSettings& a, const ArchiveSettings& b) {
  EXPECT_EQ(a.Flags, b.Flags);
  EXPECT_EQ(S(a.TaskbarText), S(b.TaskbarText));
  EXPECT_EQ(a.DialogPosition, b.DialogPosition);
  EXPECT_EQ(a.StagePause, b.StagePause);
  EXPECT_EQ(a.ShortcutMode, b.ShortcutMode);
  EXPECT_EQ(0, memcmp(&a.UninstallerFileTime, &b.UninstallerFileTime, sizeof(ArchiveDateTime)));
  const String ArchiveSettings::*texts[] = {
      &ArchiveSettings::Publisher,       &ArchiveSettings::productName,       &ArchiveSettings::SharedPath,
      &ArchiveSettings::ProductStartMenu, &ArchiveSettings::DisplayVersion,   &ArchiveSettings::defaultInstallDir,
      &ArchiveSettings::ProductRegistry, &ArchiveSettings::UninstallSubdir,   &ArchiveSettings::volumeBaseName,
      &ArchiveSettings::uninstallerFileName, &ArchiveSettings::uninstallName, &ArchiveSettings::TitleFont,
      &ArchiveSettings::backgroundBitmap, &ArchiveSettings::masterProductName, &ArchiveSettings::desktopShortcutName,
      &ArchiveSettings::desktopShortcutIcon, &ArchiveSettings::UninstallBatch1, &ArchiveSettings::UninstallBatch2,
      &ArchiveSettings::minimumVersion,  &ArchiveSettings::password,          &ArchiveSettings::patchBytes};
  for (auto field : texts) EXPECT_EQ(S(a.*field), S(b.*field));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(S(a.batches[i]), S(b.batches[i]));
  EXPECT_EQ(a.BitmapSize, b.BitmapSize);
  EXPECT_EQ(a.StretchMode, b.StretchMode);
  ASSERT_EQ(a.licenseTexts.Count(), b.licenseTexts.Count());
  for (int i = 0; i < a.licenseTexts.Count(); ++i) EXPECT_EQ(S(a.licenseTexts[i]), S(b.licenseTexts[i]));
  ASSERT_EQ(a.readmeTexts.Count(), b.readmeTexts.Count());
  for (int i = 0; i < a.readmeTexts.Count(); ++i) EXPECT_EQ(S(a.readmeTexts[i]), S(b.readmeTexts[i]));
  EXPECT_EQ(a.TitleColor, b.TitleColor);
  EXPECT_EQ(a.TitleShadow, b.TitleShadow);
  EXPECT_EQ(a.TitlePosition, b.TitlePosition);
  EXPECT_EQ(a.TopColor, b.TopColor);
  EXPECT_EQ(a.BottomColor, b.BottomColor);
  EXPECT_EQ(0, memcmp(a.reservedDate, b.reservedDate, kReservedDateRecordSize));
  EXPECT_EQ(a.excludedSystems, b.excludedSystems);
  EXPECT_EQ(a.dataOutsideImage, b.dataOutsideImage);
  EXPECT_EQ(a.adminRequirement, b.adminRequirement);
  EXPECT_EQ(a.volumeIdentifier, b.volumeIdentifier);
  EXPECT_EQ(a.patchOffset, b.patchOffset);
  ASSERT_EQ(a.deletions.Count(), b.deletions.Count());
  for (int i = 0; i < a.deletions.Count(); ++i) {
    EXPECT_EQ(S(a.deletions[i].specification), S(b.deletions[i].specification));
    EXPECT_EQ(a.deletions[i].condition, b.deletions[i].condition);
    EXPECT_EQ(S(a.deletions[i].argument), S(b.deletions[i].argument));
    EXPECT_EQ(a.deletions[i].options, b.deletions[i].options);
  }
  ASSERT_EQ(a.associations.Count(), b.associations.Count());
  for (int i = 0; i < a.associations.Count(); ++i) {
    EXPECT_EQ(a.associations[i].number, b.associations[i].number);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(S(a.associations[i].texts[k]), S(b.associations[i].texts[k]));
  }
  ASSERT_EQ(a.shortcuts.Count(), b.shortcuts.Count());
  for (int i = 0; i < a.shortcuts.Count(); ++i) {
    const ShortcutRecord &x = a.shortcuts[i], &y = b.shortcuts[i];
    EXPECT_EQ(S(x.target), S(y.target));
    EXPECT_EQ(S(x.name), S(y.name));
    EXPECT_EQ(S(x.iconFile), S(y.iconFile));
    EXPECT_EQ(S(x.arguments), S(y.arguments));
    EXPECT_EQ(S(x.workingDirectory), S(y.workingDirectory));
    EXPECT_EQ(x.desktop, y.desktop);
    EXPECT_EQ(x.startMenu, y.startMenu);
    EXPECT_EQ(x.startup, y.startup);
    EXPECT_EQ(x.permanent, y.permanent);
  }
  ASSERT_EQ(a.uninstallValues.Count(), b.uninstallValues.Count());
  for (int i = 0; i < a.uninstallValues.Count(); ++i) {
    EXPECT_EQ(S(a.uninstallValues[i].name), S(b.uninstallValues[i].name));
    EXPECT_EQ(a.uninstallValues[i].type, b.uninstallValues[i].type);
    EXPECT_EQ(S(a.uninstallValues[i].value), S(b.uninstallValues[i].value));
  }
  ASSERT_EQ(a.languageNames.Count(), b.languageNames.Count());
  for (int i = 0; i < a.languageNames.Count(); ++i) EXPECT_EQ(S(a.languageNames[i]), S(b.languageNames[i]));
  EXPECT_EQ(a.messageCount, b.messageCount);
  ASSERT_EQ(a.messages.Count(), b.messages.Count());
  for (int i = 0; i < a.messages.Count(); ++i) EXPECT_EQ(S(a.messages[i]), S(b.messages[i]));
}

ArchiveError ReadBack(const Bytes& stream, ArchiveSettings& out, int64_t fileSize = 1 << 20) {
  SettingsReadOptions options;
  options.expectedChecksum = BlockChecksum(stream.data(), (int32_t)stream.size());
  options.ownFileSize = fileSize;
  return ReadSettings(reinterpret_cast<const char*>(stream.data()), (int32_t)stream.size(), options, out);
}

EntryInput Entry(const std::string& name, const std::string& data, int32_t kind = kKindInstallDir) {
  EntryInput e;
  e.name = name;
  e.kind = kind;
  e.data.assign(data.begin(), data.end());
  e.time = {2023, 5, 6, 7, 8, 9};
  return e;
}

// An installer assembled from explicit parts, without the writer's checks,
// for the corrupt-archive fixtures.
struct Parts {
  Bytes stream;                       // unpacked settings
  uint32_t scrambleKey = 0;           // 0: the stream's checksum
  uint32_t headerChecksum = 0;        // 0: the stream's checksum
  Bytes region;                       // stored data region
  std::vector<uint32_t> sizes;
  int32_t formatVersion = kArchiveFormatVersion;
  std::function<void(ArchiveHeader&)> patchHeader;
  std::function<void(Bytes& packedSettings)> patchPacked;
};

Bytes Assemble(const Parts& p, const Bytes& stub = MakeStub()) {
  uint32_t checksum = BlockChecksum(p.stream.data(), (int32_t)p.stream.size());
  Bytes packed;
  std::string error;
  EXPECT_TRUE(PackBlock(p.stream.data(), p.stream.size(), PackLevel::kFast, packed, error));
  XorScramble(packed.data(), (int32_t)packed.size(), p.scrambleKey ? p.scrambleKey : checksum);
  if (p.patchPacked) p.patchPacked(packed);
  ArchiveHeader h{};
  h.magic = kArchiveMagic;
  h.formatVersion = p.formatVersion;
  h.settingsPackedSize = (int32_t)packed.size();
  h.settingsChecksum = p.headerChecksum ? p.headerChecksum : checksum;
  h.entryCount = (int32_t)p.sizes.size();
  h.dataRegionSize = (int32_t)p.region.size();
  h.dataRegionChecksum = BlockChecksum(p.region.data(), (int32_t)p.region.size());
  h.sectionArchiveSize = (int32_t)(36 + 4 * p.sizes.size() + packed.size() + p.region.size());
  if (p.patchHeader) p.patchHeader(h);
  Bytes section = EncodeHeader(h, p.sizes);
  section.insert(section.end(), packed.begin(), packed.end());
  section.insert(section.end(), p.region.begin(), p.region.end());
  StubInfo info;
  EXPECT_TRUE(InspectStub(stub, info, error)) << error;
  Bytes out;
  EXPECT_TRUE(AttachArchiveSection(stub, info, section, ArchiveSectionRawSize(info, section.size()), {}, out, error));
  // The stub checksum covers the file bytes before the section, as attached.
  h.stubChecksum = BlockChecksum(out.data(), (int32_t)stub.size());
  if (p.patchHeader) p.patchHeader(h);
  Put32(out, stub.size() + 16, h.stubChecksum);
  return out;
}

Parts ValidParts(const ArchiveSettings& s = MinimalSettings()) {
  Parts p;
  p.stream = SerializeSettings(s);
  std::vector<EntryInput> entries = {Entry("a.txt", "alpha"), Entry("dir\\b.txt", "beta beta")};
  p.region = SerializeEntries(entries);
  p.sizes = {5, 9};
  return p;
}

InstallerContents Read(const Bytes& installer, const std::map<std::string, Bytes>& volumes = {}) {
  InstallerContents c;
  ReadInstaller(
      installer,
      [&volumes](const std::string& name, Bytes& data) {
        auto found = volumes.find(name);
        if (found == volumes.end()) return false;
        data = found->second;
        return true;
      },
      c);
  return c;
}

// The runtime's cut: bytes before the section, bytes after it, headers patched.
Bytes CutSection(const Bytes& installer) {
  InstallerContents c = Read(installer);
  const PeLayout& L = c.layout;
  String image(reinterpret_cast<const char*>(installer.data()), (int32_t)L.sectionFileOffset);
  size_t after = (size_t)L.sectionFileOffset + L.sectionRawSize;
  if (after < installer.size())
    image.Append(reinterpret_cast<const char*>(installer.data() + after), (int32_t)(installer.size() - after));
  PatchUninstallerImage(image, L, 0, String());
  return Bytes(image.CStr(), image.CStr() + image.Length());
}


}  // namespace

// ------------------------------------------------------------ settings

TEST(ArchiveWriterTest, EverySettingRoundTripsThroughThePortableReader) {
  ArchiveSettings written = FullSettings();
  ASSERT_EQ("", CheckSettingsForWriting(written));
  ArchiveSettings read;
  ASSERT_EQ(kArchiveOk, ReadBack(SerializeSettings(written), read));
  ExpectSameSettings(written, read);
  EXPECT_EQ(1, read.englishLanguage);
}

TEST(ArchiveWriterTest, ConditionalFieldsAreLeftOutAsTheReaderSkipsThem) {
  // Without flag bits 16 and 2, the master name and the patch are not in the
  // stream; with a zero patch offset only the offset is.
  ArchiveSettings s = FullSettings();
  s.Flags = 0;
  size_t without = SerializeSettings(s).size();
  s.Flags = 1ull << kFlagAddOn;
  EXPECT_EQ(without + s.masterProductName.Length() + 1, SerializeSettings(s).size());
  s.Flags = 1ull << kFlagUninstaller;
  s.patchOffset = 0;
  EXPECT_EQ(without + 4, SerializeSettings(s).size());
  ArchiveSettings read;
  ASSERT_EQ(kArchiveOk, ReadBack(SerializeSettings(s), read));
  EXPECT_EQ(0, read.patchOffset);
  EXPECT_TRUE(read.patchBytes.IsEmpty());
}

TEST(ArchiveWriterTest, WriterRefusesWhatTheRuntimeWouldRefuse) {
  struct Case {
    const char* what;
    std::function<void(ArchiveSettings&)> change;
  } cases[] = {
      {"stage pause", [](ArchiveSettings& s) { s.StagePause = 10000; }},
      {"bitmap size", [](ArchiveSettings& s) { s.BitmapSize = 101; }},
      {"licence texts", [](ArchiveSettings& s) { s.licenseTexts.Append("21st"); }},
      {"volume base name", [](ArchiveSettings& s) { s.volumeBaseName = " \t"; }},
      {"list end mark", [](ArchiveSettings& s) { s.deletions.Append().specification = kDeletionListEnd; }},
      {"languages", [](ArchiveSettings& s) {
         s.languageNames.Clear();
         s.messages.Clear();
       }},
      {"NUL byte", [](ArchiveSettings& s) { s.password = String("a\0b", 3); }},
  };
  for (const Case& c : cases) {
    ArchiveSettings s = FullSettings();
    c.change(s);
    EXPECT_NE("", CheckSettingsForWriting(s)) << c.what;
  }
}

// ------------------------------------------------------------ PE attach

TEST(PeAttachTest, CuttingTheSectionBackOutGivesTheStubByteForByte) {
  for (uint32_t sections : {3u, 9u}) {
    Bytes stub = MakeStub(sections);
    ArchiveSettings s = MinimalSettings();
    Parts p = ValidParts(s);
    Bytes installer = Assemble(p, stub);
    InstallerContents c = Read(installer);
    ASSERT_EQ(ReadStatus::kOk, c.status) << c.message;
    EXPECT_EQ(sections, (uint32_t)c.layout.archiveIndex);
    EXPECT_EQ(stub.size(), c.layout.sectionFileOffset);
    EXPECT_EQ(0u, c.layout.sectionRawSize % 0x1000);
    EXPECT_EQ(0x1234u, Get32(installer, kPe + 24 + 64)) << "PE checksum field left alone";
    EXPECT_EQ(Get32(stub, kPe + 24 + 56) + c.layout.sectionRawSize, Get32(installer, kPe + 24 + 56));
    EXPECT_EQ(stub, CutSection(installer)) << sections << " sections";
  }
}

// The mingw-built runtime, when this build tree or dist/ has one.
TEST(PeAttachTest, TheRealStubComesBackToo) {
  fs::path root = fs::path(__FILE__).parent_path().parent_path().parent_path();
  Bytes stub;
  std::string error;
  if (!ReadWholeFile((root / "build/win32/app/trux-stub.exe").string(), stub, error) &&
      !ReadWholeFile((root / "dist/trux-stub.exe").string(), stub, error))
    GTEST_SKIP() << "no cross-built stub here";
  Project project;
  project.settings = MinimalSettings();
  project.entries = {Entry("a.txt", "alpha")};
  BuiltInstaller built;
  ASSERT_TRUE(BuildInstaller(project, stub, "setup", built, error)) << error;
  EXPECT_EQ(stub, built.uninstaller);
  EXPECT_EQ(stub, CutSection(built.installer));
}

TEST(PeAttachTest, StubsThatCannotTakeTheSectionAreRefused) {
  struct Case {
    const char* what;
    std::function<void(Bytes&)> change;
  } cases[] = {
      {"not a Windows program", [](Bytes& f) { f[0] = 'X'; }},
      {"PE header offset", [](Bytes& f) { Put32(f, 0x3C, 0x1001); }},
      {"not a 32-bit x86 program", [](Bytes& f) { Put16(f, kPe + 4, 0x8664); }},
      {"overlay", [](Bytes& f) { f.insert(f.end(), 0x200, 0); }},
      {"slot after the section table", [](Bytes& f) { f[kTable + 4 * 40 + 3] = 1; }},
      {"no room", [](Bytes& f) { Put32(f, kPe + 24 + 60, kTable + 4 * 40 + 20); }},
      {"already has a .trux", [](Bytes& f) { memcpy(&f[kTable], ".trux", 5); }},
      {"sections", [](Bytes& f) { Put16(f, kPe + 6, 99); }},
  };
  for (const Case& c : cases) {
    Bytes stub = MakeStub();
    c.change(stub);
    StubInfo info;
    std::string error;
    EXPECT_FALSE(InspectStub(stub, info, error)) << c.what;
    EXPECT_EQ(0u, error.rfind("stub: ", 0)) << error;
  }
  StubInfo info;
  std::string error;
  EXPECT_TRUE(InspectStub(MakeStub(), info, error)) << error;
}

// ------------------------------------------------------------ reader codes

// Each fixture breaks one rule; the reader must name the runtime's code.
TEST(InstallerReaderTest, CorruptArchivesNameTheRuntimesCode) {
  auto withSettings = [](std::function<void(ArchiveSettings&)> change) {
    ArchiveSettings s = MinimalSettings();
    change(s);
    return ValidParts(s);
  };
  auto header = [](std::function<void(ArchiveHeader&)> change) {
    Parts p = ValidParts();
    p.patchHeader = change;
    return p;
  };
  struct Case {
    int32_t code;
    const char* what;
    Parts parts;
  } cases[] = {
      {20, "magic", header([](ArchiveHeader& h) { h.magic ^= 1; })},
      {22, "packed size 0", header([](ArchiveHeader& h) { h.settingsPackedSize = 0; })},
      {22, "packed size above the limit", header([](ArchiveHeader& h) { h.settingsPackedSize = 0x3200000; })},
      {45, "section archive size", header([](ArchiveHeader& h) { h.sectionArchiveSize = -1; })},
      {27, "entry count", header([](ArchiveHeader& h) { h.entryCount = -1; })},
      {29, "region size", header([](ArchiveHeader& h) { h.dataRegionSize = -5; })},
      {46, "entry table past the section", header([](ArchiveHeader& h) { h.entryCount = 0x10000000; })},
      {46, "packed settings past the section", header([](ArchiveHeader& h) { h.settingsPackedSize = 0x31FFFFF; })},
      {46, "section archive size past the section", header([](ArchiveHeader& h) { h.sectionArchiveSize = 0x7FFFFFF; })},
      {46, "section archive size before the data region", header([](ArchiveHeader& h) {
         h.sectionArchiveSize = 36 + 4 * 2;
       })},
      // Checked right after the header, as the runtime does: wherever the
      // data region lies, and before any settings fault.
      {46, "section archive size short, data outside the image", [] {
         Parts p = ValidParts([] {
           ArchiveSettings s = MinimalSettings();
           s.dataOutsideImage = 1;
           return s;
         }());
         p.patchHeader = [](ArchiveHeader& h) { h.sectionArchiveSize = 0; };
         return p;
       }()},
      {46, "section archive size past the section, then a settings fault", [] {
         ArchiveSettings s = MinimalSettings();
         s.StagePause = 10000;
         Parts p = ValidParts(s);
         p.patchHeader = [](ArchiveHeader& h) { h.sectionArchiveSize = 0x7FFFFFF; };
         return p;
       }()},
      {19, "stage pause", withSettings([](ArchiveSettings& s) { s.StagePause = 10000; })},
      {21, "blank volume name", withSettings([](ArchiveSettings& s) { s.volumeBaseName = "  "; })},
      {23, "patch offset", withSettings([](ArchiveSettings& s) {
         s.Flags |= 1ull << kFlagUninstaller;
         s.patchOffset = 0x7FFFFFF0;
         s.patchBytes = "x";
       })},
      {24, "licence texts", withSettings([](ArchiveSettings& s) {
         for (int i = 0; i < 21; ++i) s.licenseTexts.Append("l");
       })},
      {26, "readme texts", withSettings([](ArchiveSettings& s) {
         for (int i = 0; i < 21; ++i) s.readmeTexts.Append("r");
       })},
      {30, "no language", withSettings([](ArchiveSettings& s) {
         s.languageNames.Clear();
         s.messages.Clear();
       })},
      {31, "no message", withSettings([](ArchiveSettings& s) {
         s.messageCount = 0;
         s.messages.Clear();
       })},
      {36, "associations", withSettings([](ArchiveSettings& s) {
         for (int i = 0; i < 10001; ++i) s.associations.Append();
       })},
      {37, "uninstall values", withSettings([](ArchiveSettings& s) {
         for (int i = 0; i < 10001; ++i) s.uninstallValues.Append();
       })},
      {38, "deletions", withSettings([](ArchiveSettings& s) {
         for (int i = 0; i < 1002; ++i) s.deletions.Append().specification = "x";
       })},
      {39, "bitmap size", withSettings([](ArchiveSettings& s) { s.BitmapSize = 101; })},
      {48, "shortcuts", withSettings([](ArchiveSettings& s) {
         for (int i = 0; i < 10001; ++i) s.shortcuts.Append();
       })},
      {40, "stub checksum", [&] {
         Parts p = withSettings([](ArchiveSettings& s) { s.Flags |= 1ull << kFlagCheckStub; });
         p.patchHeader = [](ArchiveHeader& h) { h.stubChecksum ^= 1; };
         return p;
       }()},
      {55, "region checksum", header([](ArchiveHeader& h) { h.dataRegionChecksum ^= 1; })},
  };
  for (const Case& c : cases) {
    InstallerContents r = Read(Assemble(c.parts));
    EXPECT_EQ(ReadStatus::kCorrupt, r.status) << c.what << ": " << r.message;
    EXPECT_EQ(c.code, r.code) << c.what << ": " << r.message;
    EXPECT_NE(std::string::npos, r.message.find("error code " + std::to_string(c.code))) << r.message;
  }
}

TEST(InstallerReaderTest, SettingsStreamFaultsNameTheirCodes) {
  // 25: the block unscrambles and unpacks, but its checksum is not the
  // header's. 32: a stream whose last word is not the end marker. 47: a
  // block that does not unpack.
  Parts checksum = ValidParts();
  uint32_t real = BlockChecksum(checksum.stream.data(), (int32_t)checksum.stream.size());
  checksum.scrambleKey = checksum.headerChecksum = real + 1;
  EXPECT_EQ(25, Read(Assemble(checksum)).code);

  Parts marker = ValidParts();
  marker.stream.back() ^= 0xFF;
  EXPECT_EQ(32, Read(Assemble(marker)).code);

  Parts truncated = ValidParts();
  truncated.stream.resize(truncated.stream.size() - 6);
  EXPECT_EQ(32, Read(Assemble(truncated)).code);

  Parts garbage = ValidParts();
  garbage.patchPacked = [](Bytes& packed) { packed[0] ^= 0x55; };
  EXPECT_EQ(47, Read(Assemble(garbage)).code);
}

TEST(InstallerReaderTest, EntryRecordFaultsNameTheirCodes) {
  struct Case {
    int32_t code;
    const char* what;
    std::function<void(std::vector<EntryInput>&)> change;
    std::function<void(Bytes&)> damage;
  } cases[] = {
      {70, "empty name", [](std::vector<EntryInput>& e) { e[1].name = ""; }, nullptr},
      {110, "kind 2", [](std::vector<EntryInput>& e) { e[0].kind = 2; }, nullptr},
      {110, "kind 10", [](std::vector<EntryInput>& e) { e[0].kind = 10; }, nullptr},
      {100, "data checksum", nullptr, [](Bytes& region) { region[region.size() - 40] ^= 1; }},
      {46, "record cut short", nullptr, [](Bytes& region) { region.resize(region.size() - 3); }},
  };
  for (const Case& c : cases) {
    std::vector<EntryInput> entries = {Entry("a.txt", "alpha"), Entry("dir\\b.txt", "beta beta")};
    if (c.change) c.change(entries);
    Parts p = ValidParts();
    p.region = SerializeEntries(entries);
    if (c.damage) c.damage(p.region);
    InstallerContents r = Read(Assemble(p));
    EXPECT_EQ(c.code, r.code) << c.what << ": " << r.message;
  }
  // A kind that the destination override or the uninstall-directory flag
  // makes irrelevant is not examined.
  std::vector<EntryInput> entries = {Entry("a.txt", "alpha", 3), Entry("b.txt", "beta beta", 2)};
  entries[0].text4 = "%InstallDir%\\x\\";
  entries[1].flags = kEntryToUninstallDir;
  Parts p = ValidParts();
  p.region = SerializeEntries(entries);
  EXPECT_EQ(ReadStatus::kOk, Read(Assemble(p)).status);
}

TEST(InstallerReaderTest, EntrySizeCodesOfTheEntryWalk) {
  // The header check (28) already refuses these sizes, so only a walk over
  // sizes from elsewhere reaches 71 and 72.
  Bytes region = SerializeEntries({Entry("a", "x")});
  std::vector<ReadEntry> entries;
  std::string detail;
  EXPECT_EQ(71, WalkEntries(region.data(), region.size(), {0x80000000u}, entries, detail));
  EXPECT_EQ(72, WalkEntries(region.data(), region.size(), {0x40000001u}, entries, detail));
  EXPECT_EQ(0, WalkEntries(region.data(), region.size(), {1u}, entries, detail));
  EXPECT_EQ(46, WalkEntries(region.data(), region.size(), {1u, 1u}, entries, detail));
}

TEST(InstallerReaderTest, HeaderBoundariesAndVersions) {
  struct Case {
    const char* what;
    std::function<void(ArchiveHeader&)> change;
    ReadStatus status;
    int32_t code;
  } cases[] = {
      {"1720", [](ArchiveHeader& h) { h.formatVersion = 1720; }, ReadStatus::kOk, 0},
      {"1600", [](ArchiveHeader& h) { h.formatVersion = 1600; }, ReadStatus::kOk, 0},
      {"1721", [](ArchiveHeader& h) { h.formatVersion = 1721; }, ReadStatus::kVersionMismatch, 0},
  };
  for (const Case& c : cases) {
    Parts p = ValidParts();
    p.patchHeader = c.change;
    InstallerContents r = Read(Assemble(p));
    EXPECT_EQ(c.status, r.status) << c.what << ": " << r.message;
    EXPECT_EQ(c.code, r.code) << c.what;
  }
  // Entry sizes: 0x40000000 passes the header check (the region then does
  // not hold the data), 0x40000001 and 0xFFFFFFFF are 28.
  for (uint32_t size : {0x40000000u, 0x40000001u, 0xFFFFFFFFu}) {
    Parts p = ValidParts();
    p.sizes[1] = size;
    InstallerContents r = Read(Assemble(p));
    EXPECT_EQ(size == 0x40000000u ? 46 : 28, r.code) << std::hex << size << ": " << r.message;
  }
}

TEST(InstallerReaderTest, PeFaultsNameTheirCodes) {
  Bytes good = Assemble(ValidParts());
  struct Case {
    int32_t code;
    std::function<void(Bytes&)> change;
  } cases[] = {
      {43, [](Bytes& f) { Put16(f, 0x3C, 0x3F); }},
      {43, [](Bytes& f) { Put16(f, 0x3C, 0x1001); }},
      {44, [](Bytes& f) { Put16(f, kPe + 6, 3); }},
      {44, [](Bytes& f) { Put16(f, kPe + 6, 100); }},
      {9, [](Bytes& f) { Put32(f, kTable + 4 * 40 + 20, 0); }},
  };
  for (const Case& c : cases) {
    Bytes f = good;
    c.change(f);
    EXPECT_EQ(c.code, Read(f).code);
  }
  Bytes upper = good;
  memcpy(&upper[kTable + 4 * 40], ".TRUX", 5);
  EXPECT_EQ(ReadStatus::kNoArchive, Read(upper).status);
  EXPECT_EQ(ReadStatus::kNoArchive, Read(MakeStub()).status);
}

TEST(InstallerReaderTest, LimitsThatMustPass) {
  ArchiveSettings s = MinimalSettings();
  s.StagePause = 9999;
  s.BitmapSize = 100;
  for (int i = 0; i < 20; ++i) s.licenseTexts.Append("l");
  for (int i = 0; i < 20; ++i) s.readmeTexts.Append("r");
  for (int i = 0; i < 1001; ++i) s.deletions.Append().specification = "x";
  for (int i = 0; i < 10000; ++i) s.associations.Append();
  s.languageNames.Clear();
  s.messages.Clear();
  for (int i = 0; i < 100; ++i) {
    char name[16];
    snprintf(name, sizeof name, "L%d", i);
    s.languageNames.Append(String(name));
  }
  for (int i = 0; i < 100; ++i) s.messages.Append("m");
  InstallerContents r = Read(Assemble(ValidParts(s)));
  EXPECT_EQ(ReadStatus::kOk, r.status) << r.message;
  EXPECT_EQ(1001, r.settings.deletions.Count());
}

// ------------------------------------------------------------ whole builds

namespace {

Project SampleProject(bool compressed) {
  Project p;
  p.settings = MinimalSettings();
  if (compressed) p.settings.Flags |= 1ull << kFlagCompressedRegion;
  std::string big;
  for (int i = 0; i < 5000; ++i) big += "line " + std::to_string(i % 97) + "\n";
  p.entries = {Entry("a.txt", "alpha"), Entry("sub\\big.txt", big), Entry("sub\\deeper\\empty.bin", ""),
               Entry("font.ttf", "FONT", kKindFont)};
  p.entries[1].flags = kEntryDesktopShortcut | kEntryPermanent;
  p.entries[1].text1 = "Big";
  p.entries[1].text2 = "icon.ico";
  p.entries[1].text3 = "-a";
  p.entries[1].text5 = "%InstallDir%";
  p.entries[3].text1 = "Font Name";
  return p;
}

void ExpectEntriesBack(const Project& p, const InstallerContents& c) {
  ASSERT_EQ(ReadStatus::kOk, c.status) << c.message;
  ASSERT_EQ(p.entries.size(), c.entries.size());
  for (size_t i = 0; i < p.entries.size(); ++i) {
    const EntryInput& w = p.entries[i];
    const ReadEntry& r = c.entries[i];
    EXPECT_EQ(w.name, S(r.name));
    EXPECT_EQ(w.kind, r.kind);
    EXPECT_EQ(w.flags, r.flags);
    EXPECT_EQ(w.attributes, r.attributes);
    EXPECT_EQ(0, memcmp(&w.time, &r.dateTime, sizeof w.time));
    EXPECT_EQ(w.text1, S(r.text1));
    EXPECT_EQ(w.text2, S(r.text2));
    EXPECT_EQ(w.text3, S(r.text3));
    EXPECT_EQ(w.text4, S(r.text4));
    EXPECT_EQ(w.text5, S(r.text5));
    ASSERT_EQ(w.data.size(), r.size);
    EXPECT_TRUE(std::equal(w.data.begin(), w.data.end(), c.region.begin() + (ptrdiff_t)r.dataOffset));
  }
}

}  // namespace

TEST(ArchiveBuildTest, EntriesComeBackStoredCompressedInVolumesAndOutsideTheImage) {
  struct Case {
    const char* what;
    bool compressed;
    int64_t volumeSize;
    bool outside;
  } cases[] = {
      {"stored", false, 0, false},         {"compressed", true, 0, false},
      {"volumes", false, 7000, false},     {"compressed volumes", true, 100, false},
      {"outside the image", false, 0, true}, {"outside with volumes", false, 9000, true},
  };
  for (const Case& c : cases) {
    Project p = SampleProject(c.compressed);
    p.pack.volumeSize = c.volumeSize;
    p.pack.level = PackLevel::kFast;
    p.settings.dataOutsideImage = c.outside;
    p.settings.volumeIdentifier = 77;
    BuiltInstaller built;
    std::string error;
    Bytes stub = MakeStub();
    ASSERT_TRUE(BuildInstaller(p, stub, "setup", built, error)) << c.what << ": " << error;
    std::map<std::string, Bytes> volumes(built.volumes.begin(), built.volumes.end());
    EXPECT_EQ(c.volumeSize > 0, !volumes.empty()) << c.what;
    if (!volumes.empty()) {
      EXPECT_TRUE(volumes.count("setup2.XAV")) << c.what;
      EXPECT_EQ(77u, Get32(volumes["setup2.XAV"], 0));
    }
    InstallerContents r = Read(built.installer, volumes);
    ExpectEntriesBack(p, r);
    EXPECT_EQ((int32_t)volumes.size(), r.volumesRead) << c.what;
    if (!c.outside) {
      EXPECT_EQ(stub, built.uninstaller) << c.what;
    }
    if (c.outside) {
      EXPECT_LT(r.header.sectionArchiveSize, r.dataRegionOffset + r.header.dataRegionSize) << "data past the section";
    }
  }
}

TEST(ArchiveBuildTest, MissingOrWrongVolumesAreReported) {
  Project p = SampleProject(false);
  p.pack.volumeSize = 5000;
  BuiltInstaller built;
  std::string error;
  ASSERT_TRUE(BuildInstaller(p, MakeStub(), "setup", built, error)) << error;
  ASSERT_GE(built.volumes.size(), 2u);
  std::map<std::string, Bytes> volumes(built.volumes.begin(), built.volumes.end());

  std::map<std::string, Bytes> missing = volumes;
  missing.erase("setup3.XAV");
  InstallerContents r = Read(built.installer, missing);
  EXPECT_EQ(ReadStatus::kVolumeMissing, r.status);
  EXPECT_NE(std::string::npos, r.message.find("setup3.XAV")) << r.message;

  std::map<std::string, Bytes> swapped = volumes;
  std::swap(swapped["setup2.XAV"], swapped["setup3.XAV"]);
  EXPECT_EQ(ReadStatus::kVolumeMissing, Read(built.installer, swapped).status);

  std::map<std::string, Bytes> tiny = volumes;
  tiny["setup2.XAV"].resize(4);
  EXPECT_EQ(ReadStatus::kVolumeMissing, Read(built.installer, tiny).status);

  std::map<std::string, Bytes> damaged = volumes;
  damaged["setup2.XAV"][10] ^= 1;
  EXPECT_EQ(55, Read(built.installer, damaged).code);
}

TEST(ArchiveBuildTest, CompressedRegionThatDoesNotUnpackIs60) {
  Parts p = ValidParts();
  ArchiveSettings s = MinimalSettings();
  s.Flags |= 1ull << kFlagCompressedRegion;
  p.stream = SerializeSettings(s);
  p.region = {1, 2, 3, 4, 5, 6, 7, 8, 9};  // not a block; its checksum matches
  EXPECT_EQ(60, Read(Assemble(p)).code);
}

TEST(ArchiveBuildTest, UninstallerPatchIsAppliedWhereTheRuntimeAppliesIt) {
  Project p = SampleProject(false);
  p.settings.Flags |= 1ull << kFlagUninstaller;
  p.settings.patchOffset = 0x500;
  p.settings.patchBytes = "PATCHED";
  Bytes stub = MakeStub();
  BuiltInstaller built;
  std::string error;
  ASSERT_TRUE(BuildInstaller(p, stub, "setup", built, error)) << error;
  Bytes expected = stub;
  memcpy(&expected[0x500], "PATCHED", 7);
  EXPECT_EQ(expected, built.uninstaller);
  p.settings.patchOffset = (int32_t)stub.size() - 3;  // would not fit
  EXPECT_FALSE(BuildInstaller(p, stub, "setup", built, error));
}

// ------------------------------------------------------------ messages, BMP, names

TEST(MessagesTest, BuiltInTextsCarryTheConversionsTheRuntimePasses) {
  for (int32_t n = 0; n < kBuiltInMessageCount; ++n) {
    const BuiltInMessage& m = BuiltInMessageAt(n);
    EXPECT_EQ(n, m.number);
    std::string conversions;
    ASSERT_TRUE(MessageConversions(m.text, conversions)) << n;
    EXPECT_EQ(std::string(m.conversions), conversions) << "message " << n;
  }
  std::string c;
  EXPECT_TRUE(MessageConversions("100%% of %s, %5.2f", c));
  EXPECT_EQ("sf", c);
  EXPECT_FALSE(MessageConversions("%n", c));
  EXPECT_FALSE(MessageConversions("%*d", c));
  EXPECT_FALSE(MessageConversions("trailing %", c));
}

namespace {

Bytes Bmp(uint32_t headerSize, uint16_t bits, uint32_t compression, int32_t width, int32_t height, size_t extraGap) {
  uint32_t colors = bits <= 8 ? (1u << bits) : 0;
  uint32_t masks = (compression == 3 && headerSize == 40) ? 12 : 0;
  uint32_t row = ((uint32_t)width * bits + 31) / 32 * 4;
  uint32_t pixelOffset = 14 + headerSize + masks + colors * 4 + (uint32_t)extraGap;
  Bytes f(pixelOffset + row * (uint32_t)(height < 0 ? -height : height), 0);
  f[0] = 'B';
  f[1] = 'M';
  Put32(f, 2, (uint32_t)f.size());
  Put32(f, 10, pixelOffset);
  Put32(f, 14, headerSize);
  Put32(f, 18, (uint32_t)width);
  Put32(f, 22, (uint32_t)height);
  Put16(f, 26, 1);
  Put16(f, 28, bits);
  Put32(f, 30, compression);
  for (size_t i = 14 + headerSize; i < f.size(); ++i)
    if (i < 14 + headerSize + masks + colors * 4 || i >= pixelOffset) f[i] = (unsigned char)(i * 7);
  return f;
}

}  // namespace

TEST(BitmapTest, BmpFilesBecomePackedDibs) {
  std::string error;
  Bytes dib;
  // 24-bit: the 40-byte header then the rows; a gap before the pixels is dropped.
  Bytes f = Bmp(40, 24, 0, 3, 2, 6);
  ASSERT_TRUE(BmpFileToPackedDib(f, dib, error)) << error;
  ASSERT_EQ(40u + 12 * 2, dib.size());
  EXPECT_EQ(40u, Get32(dib, 0));
  EXPECT_TRUE(std::equal(dib.begin() + 40, dib.end(), f.end() - 24));
  // 8-bit: header, 256 colours, rows.
  ASSERT_TRUE(BmpFileToPackedDib(Bmp(40, 8, 0, 4, -2, 0), dib, error)) << error;
  EXPECT_EQ(40u + 1024 + 8, dib.size());
  // V5 with bit fields: cut to 40 bytes, the masks kept after it.
  f = Bmp(124, 32, 3, 1, 1, 0);
  Put32(f, 14 + 40, 0xFF0000);
  ASSERT_TRUE(BmpFileToPackedDib(f, dib, error)) << error;
  ASSERT_EQ(40u + 12 + 4, dib.size());
  EXPECT_EQ(40u, Get32(dib, 0));
  EXPECT_EQ(0xFF0000u, Get32(dib, 40));

  struct Bad {
    const char* what;
    Bytes file;
  } bad[] = {
      {"not BM", Bytes(60, 0)},
      {"cut short", [] {
         Bytes b = Bmp(40, 24, 0, 3, 2, 0);
         b.pop_back();
         return b;
       }()},
      {"PNG inside", Bmp(40, 24, 5, 3, 2, 0)},
      {"zero width", Bmp(40, 24, 0, 0, 2, 0)},
      {"pixel offset past the end", [] {
         Bytes b = Bmp(40, 24, 0, 3, 2, 0);
         Put32(b, 10, 0xFFFFFFF0u);
         return b;
       }()},
  };
  for (const Bad& b : bad) EXPECT_FALSE(BmpFileToPackedDib(b.file, dib, error)) << b.what;
}

TEST(NamesTest, GlobsAndExtractPaths) {
  struct GlobCase {
    const char* pattern;
    const char* path;
    bool match;
  } globs[] = {
      {"*.txt", "a.txt", true},        {"*.txt", "d/a.txt", false},   {"**/*.txt", "a.txt", true},
      {"**/*.txt", "d/e/a.txt", true}, {"d/?.txt", "d/a.txt", true},  {"d/?.txt", "d/ab.txt", false},
      {"**", "x/y", true},             {"a*b*c", "aXbYc", true},      {"a*b*c", "aXbY", false},
  };
  for (const GlobCase& g : globs) EXPECT_EQ(g.match, GlobMatch(g.pattern, g.path)) << g.pattern << " " << g.path;

  struct PathCase {
    const char* name;
    const char* path;
  } paths[] = {
      {"a\\b.txt", "a/b.txt"},         {"..\\..\\evil", "evil"},  {"C:\\Windows\\x", "Windows/x"},
      {"\\\\server\\share\\f", "server/share/f"}, {"a\\.\\b\\..\\c", "a/b/c"}, {"..", ""},
  };
  for (const PathCase& p : paths) EXPECT_EQ(p.path, SafeRelativePath(p.name)) << p.name;
}

// ------------------------------------------------------------ project files

TEST(ProjectTest, KeysReachTheirFields) {
  TempDir dir;
  dir.Write("lic.txt", "Licence \xC3\xA9\n");
  dir.Write("files/a.txt", "A");
  dir.Write("files/sub/b.txt", "BB");
  dir.Write("files/sub/c.dat", "CCC");
  dir.Write("patch.bin", "PP");
  dir.Write("lang/de.toml", "name = \"Deutsch\"\n[messages]\n0 = \"Titel \xC3\xBC\"\n13 = \"Fehler %d\"\n");
  dir.Write("p.toml", R"(
[product]
name = "Prod"
publisher = "Pub"
version = "2.0"
install_dir = "HKLM\\Software\\X\\Dir"
excluded_systems = ["95", "xp"]
administrator = "required"
password = "pw"
[flags]
uninstaller = true
compressed = true
check_stub = true
raw_flags = "0x8000000000000000"
[dialogs]
position = "bottom_right"
stage_pause = 250
license_files = ["lic.txt"]
[background]
title_color = "#102030"
title_position = "bottom_center"
stretch_mode = "tile"
bitmap_size = 40
[shortcuts]
all_users = true
[batches]
post_install = "echo hi"
[uninstall]
program = "un.exe"
file_time = "2020-01-02 03:04:05"
patch_offset = 64
patch_file = "patch.bin"
[data]
volume_base_name = "vol"
volume_identifier = 9
[messages]
42 = "Done."
[languages]
files = ["lang/de.toml"]
[[delete]]
files = "*.bak"
condition = "size_at_least"
argument = "100"
on_reboot = true
[[association]]
extension = ".x"
verb = "open"
default_verb = true
[[shortcut]]
target = "%InstallDir%\\a.txt"
name = "A"
startup = true
[[uninstall_value]]
name = "N"
value = "1"
type = "number"
[[file]]
source = "files/a.txt"
name = "renamed.txt"
kind = "versioned"
overwrite = "keep"
version = "1.2"
attributes = ["readonly", "hidden"]
date = "2021-06-07"
[[file]]
source = "files/**/*.txt"
name = "docs"
start_menu_shortcut = true
shortcut_icon = "i.ico"
)");
  Project p;
  std::string error;
  ASSERT_TRUE(LoadProject((dir.path / "p.toml").string(), p, error)) << error;
  const ArchiveSettings& s = p.settings;
  EXPECT_EQ("Prod", S(s.productName));
  EXPECT_EQ("HKLM\\Software\\X\\Dir", S(s.defaultInstallDir));
  EXPECT_EQ(4u | 256u, s.excludedSystems);
  EXPECT_EQ(1, s.adminRequirement);
  EXPECT_EQ((1ull << 2) | (1ull << 5) | (1ull << 32) | (1ull << 63), s.Flags);
  EXPECT_EQ(6u, s.DialogPosition);
  EXPECT_EQ(250, s.StagePause);
  ASSERT_EQ(1, s.licenseTexts.Count());
  EXPECT_EQ("Licence \xE9\r\n", S(s.licenseTexts[0]));  // Windows-1252, CR LF
  EXPECT_EQ(0x00302010u, s.TitleColor);
  EXPECT_EQ(5, s.TitlePosition);
  EXPECT_EQ(3u, s.StretchMode);
  EXPECT_EQ(40u, s.BitmapSize);
  EXPECT_EQ(1, s.ShortcutMode);
  EXPECT_EQ("echo hi", S(s.batches[1]));
  EXPECT_EQ("un.exe", S(s.uninstallerFileName));
  EXPECT_EQ(2020, s.UninstallerFileTime.year);
  EXPECT_EQ(5, s.UninstallerFileTime.second);
  EXPECT_EQ(64, s.patchOffset);
  EXPECT_EQ("PP", S(s.patchBytes));
  EXPECT_EQ("vol", S(s.volumeBaseName));
  EXPECT_EQ(9u, s.volumeIdentifier);
  ASSERT_EQ(2, s.languageNames.Count());
  EXPECT_EQ("Deutsch", S(s.languageNames[1]));
  EXPECT_EQ(kBuiltInMessageCount, s.messageCount);
  EXPECT_EQ("Titel \xFC", S(s.messages[0 * 2 + 1]));
  EXPECT_EQ("Done.", S(s.messages[42 * 2 + 0]));
  EXPECT_EQ("Done.", S(s.messages[42 * 2 + 1]));  // a language without its own text takes the English one
  EXPECT_EQ("Fehler %d", S(s.messages[13 * 2 + 1]));
  EXPECT_EQ(5, s.deletions[0].condition);
  EXPECT_EQ(2u, s.deletions[0].options);
  EXPECT_EQ(1u, s.associations[0].number);
  EXPECT_EQ(".x", S(s.associations[0].texts[0]));
  EXPECT_EQ(1, s.shortcuts[0].startup);
  EXPECT_EQ(4, s.uninstallValues[0].type);
  ASSERT_EQ(3u, p.entries.size());
  EXPECT_EQ("renamed.txt", p.entries[0].name);
  EXPECT_EQ(kKindVersioned, p.entries[0].kind);
  EXPECT_EQ((uint32_t)kEntryKeepExisting, p.entries[0].flags);
  EXPECT_EQ(3u, p.entries[0].attributes);
  EXPECT_EQ("1.2", p.entries[0].text1);
  EXPECT_EQ(-1, p.entries[0].time.hour);  // a date without a time
  EXPECT_EQ("docs\\a.txt", p.entries[1].name);
  EXPECT_EQ("docs\\sub\\b.txt", p.entries[2].name);
  EXPECT_EQ("BB", std::string(p.entries[2].data.begin(), p.entries[2].data.end()));
  EXPECT_EQ((uint32_t)kEntryStartMenuShortcut, p.entries[2].flags);
  EXPECT_EQ("i.ico", p.entries[2].text2);
  EXPECT_GT(p.entries[2].time.year, 2000);  // from the file's modification time

  // And the whole project through an installer and back.
  BuiltInstaller built;
  ASSERT_TRUE(BuildInstaller(p, MakeStub(), "ignored", built, error)) << error;
  InstallerContents r = Read(built.installer);
  ASSERT_EQ(ReadStatus::kOk, r.status) << r.message;
  ExpectSameSettings(p.settings, r.settings);
  ExpectEntriesBack(p, r);
}

TEST(ProjectTest, ErrorsNameTheFileTheKeyAndTheProblem) {
  struct Case {
    const char* toml;
    const char* expected;  // part of the message after "p.toml"
  } cases[] = {
      {"[product]\nname = \"P\"\nnmae = 1\n", "product.nmae: unknown key"},
      {"[product]\npublisher = \"x\"\n", "product.name: missing"},
      {"[product]\nname = 5\n", "product.name: expected a text"},
      {"[product]\nname = \"P\"\n[flags]\nuninstaler = true\n", "flags.uninstaler: unknown key"},
      {"[product]\nname = \"P\"\n[flags]\nautomatic = 1\n", "flags.automatic: expected true or false"},
      {"[product]\nname = \"P\"\n[background]\ntop_color = \"red\"\n", "background.top_color: expected a colour"},
      {"[product]\nname = \"P\"\n[dialogs]\nstage_pause = 10000\n", "dialogs.stage_pause: 10000 is outside 0 to 9999"},
      {"[product]\nname = \"P\"\n[messages]\n19 = \"%s free on %s\"\n", "messages.19: the runtime formats this message with %s %c %s"},
      {"[product]\nname = \"P\"\n[messages]\nx = \"a\"\n", "messages.x: message keys are numbers"},
      {"[product]\nname = \"P\\u4E00\"\n", "product.name: character U+4E00 has no Windows-1252 form"},
      {"[product]\nname = \"P\"\n[[file]]\nsource = \"nothing/*.txt\"\n", "file[1].source: nothing: no such directory"},
      {"[product]\nname = \"P\"\n[[file]]\nsource = \"f.txt\"\nname = \"..\\\\up.txt\"\n", "file[1].name:"},
      {"[product]\nname = \"P\"\n[[file]]\nsource = \"f.txt\"\nkind = \"driver\"\n", "file[1].kind: \"driver\" is not one of"},
      {"[product]\nname = \"P\"\n[[file]]\nsource = \"f.txt\"\nshortcut_icon = \"i\"\n", "needs desktop_shortcut"},
      {"[product]\nname = \"P\"\n[dialogs]\nlicense_files = [\"nul.txt\"]\n", "contains a NUL byte"},
      {"[product]\nname = \"P\"\nmaster_product = \"M\"\n", "product.master_product: needs flags.add_on"},
      {"[product]\nname = \"P\"\n[data]\nvolume_base_name = \"  \"\n", "data.volume_base_name: must not be blank"},
      {"[product\nname = \"P\"\n", "p.toml:1:"},
  };
  TempDir dir;
  dir.Write("f.txt", "x");
  dir.Write("nul.txt", std::string("a\0b", 3));
  for (const Case& c : cases) {
    dir.Write("p.toml", c.toml);
    Project p;
    std::string error;
    EXPECT_FALSE(LoadProject((dir.path / "p.toml").string(), p, error)) << c.toml;
    EXPECT_NE(std::string::npos, error.find("p.toml")) << error;
    EXPECT_NE(std::string::npos, error.find(c.expected)) << "got: " << error;
  }
}

TEST(CommandsTest, ExitCodesAndNoPartialOutput) {
  TempDir dir;
  dir.Write("stub.exe", [] {
    Bytes stub = MakeStub();
    return std::string(stub.begin(), stub.end());
  }());
  dir.Write("f.txt", "file");
  dir.Write("good.toml", "[product]\nname = \"P\"\n[[file]]\nsource = \"f.txt\"\n");
  dir.Write("bad.toml", "[product]\nname = \"P\"\n[[file]]\nsource = \"missing.txt\"\n");
  std::string stub = (dir.path / "stub.exe").string(), out = (dir.path / "setup.exe").string();
  auto run = [](int (*command)(int, char**), std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    return command((int)argv.size(), argv.data());
  };
  std::string good = (dir.path / "good.toml").string(), bad = (dir.path / "bad.toml").string();
  EXPECT_EQ(2, run(RunBuild, {good}));
  EXPECT_EQ(2, run(RunBuild, {good, "-o"}));
  EXPECT_EQ(2, run(RunBuild, {good, "-o", out, "--volume-size", "0"}));
  EXPECT_EQ(2, run(RunBuild, {good, "-o", out, "--frobnicate"}));
  EXPECT_EQ(1, run(RunBuild, {bad, "-o", out, "--stub", stub}));
  EXPECT_EQ(1, run(RunBuild, {good, "-o", out, "--stub", (dir.path / "nostub.exe").string()}));
  EXPECT_FALSE(fs::exists(out));
  EXPECT_EQ(0, run(RunBuild, {good, "-o", out, "--stub", stub}));
  EXPECT_EQ(0, run(RunVerify, {out}));
  EXPECT_EQ(0, run(RunList, {out}));
  EXPECT_EQ(2, run(RunVerify, {}));
  EXPECT_EQ(1, run(RunVerify, {stub}));  // no archive
  EXPECT_EQ(1, run(RunVerify, {(dir.path / "nothing.exe").string()}));
  EXPECT_EQ(0, run(RunExtract, {out, (dir.path / "x").string()}));
  std::string back;
  std::getline(std::ifstream(dir.path / "x" / "f.txt"), back);
  EXPECT_EQ("file", back);
  for (const fs::directory_entry& e : fs::directory_iterator(dir.path))
    EXPECT_EQ(std::string::npos, e.path().filename().string().find(".tmp-")) << e.path();
  EXPECT_EQ(0, run(RunInit, {(dir.path / "init").string()}));
  EXPECT_EQ(1, run(RunInit, {(dir.path / "init").string()}));  // never overwrites a project
  Project p;
  std::string error;
  EXPECT_TRUE(LoadProject((dir.path / "init" / "project.toml").string(), p, error)) << error;
  EXPECT_EQ(3u, p.entries.size());
}

// The demo project: several files, subfolders, two languages, volumes and a
// compressed region, built and read back byte for byte.
TEST(CommandsTest, DemoProjectRoundTrip) {
  fs::path root = fs::path(__FILE__).parent_path().parent_path().parent_path();
  fs::path demo = root / "examples" / "demo" / "demo.toml";
  ASSERT_TRUE(fs::exists(demo)) << demo;
  Project p;
  std::string error;
  ASSERT_TRUE(LoadProject(demo.string(), p, error)) << error;
  EXPECT_GE(p.settings.languageNames.Count(), 2);
  EXPECT_TRUE(p.settings.Flag(kFlagCompressedRegion));
  p.pack.volumeSize = 400;
  BuiltInstaller built;
  ASSERT_TRUE(BuildInstaller(p, MakeStub(), "demo", built, error)) << error;
  EXPECT_FALSE(built.volumes.empty());
  std::map<std::string, Bytes> volumes(built.volumes.begin(), built.volumes.end());
  InstallerContents r = Read(built.installer, volumes);
  ExpectEntriesBack(p, r);
  bool subfolder = false;
  for (const ReadEntry& e : r.entries) subfolder |= e.name.FindChar('\\') >= 0;
  EXPECT_TRUE(subfolder);
}
