// truxpack and the post-installation actions: project keys the runtime
// would refuse (names leaving their folder, associations without a verb)
// are refused when the project is loaded, and `list` shows the product key,
// shortcut settings and requests, associations, shared files with their
// roles and the entries' shortcut requests.
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/truxpack/list_actions.h"
#include "tools/truxpack/project.h"

namespace fs = std::filesystem;

namespace {

struct ScratchDir {
  fs::path path;
  ScratchDir() {
    path = fs::temp_directory_path() / ("truxpack_actions_" + std::to_string(getpid()));
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~ScratchDir() { fs::remove_all(path); }
  void Write(const std::string& name, const std::string& content) const {
    std::ofstream(path / name, std::ios::binary) << content;
  }
};

TEST(ActionsProjectTest, NamesThatLeaveTheirFolderAndVerblessAssociationsAreRefused) {
  const struct {
    const char* toml;
    const char* expected;
  } cases[] = {
      {"[[shortcut]]\ntarget = \"x.exe\"\nname = \"..\\\\x\"\n", "shortcut[1].name: must stay inside its folder"},
      {"[[shortcut]]\ntarget = \"x.exe\"\nname = \"C:\\\\x\"\n", "shortcut[1].name: must stay inside its folder"},
      {"[shortcuts]\ndesktop_folder = \"a\\\\..\\\\..\\\\b\"\n", "shortcuts.desktop_folder: must stay inside"},
      {"[[file]]\nsource = \"f.txt\"\ndesktop_shortcut = true\nshortcut_name = \"\\\\x\"\n",
       "file[1].shortcut_name: must stay inside"},
      {"[[association]]\nextension = \".x\"\nfile_type = \"X\"\n", "association[1].verb: missing"},
  };
  ScratchDir dir;
  dir.Write("f.txt", "x");
  for (const auto& c : cases) {
    dir.Write("p.toml", std::string("[product]\nname = \"P\"\n") + c.toml);
    Project p;
    std::string error;
    EXPECT_FALSE(LoadProject((dir.path / "p.toml").string(), p, error)) << c.toml;
    EXPECT_NE(std::string::npos, error.find(c.expected)) << "got: " << error;
  }
  dir.Write("p.toml", "[product]\nname = \"P\"\nstart_menu = \"Vendor\\\\P\"\n[[shortcut]]\ntarget = \"x\"\n"
                      "name = \"Sub\\\\..x\"\n[[association]]\nextension = \".x\"\nverb = \"open\"\n");
  Project p;
  std::string error;
  EXPECT_TRUE(LoadProject((dir.path / "p.toml").string(), p, error)) << error;
  dir.Write("p.toml", "[product]\nname = \"P\"\nstart_menu = \"..\\\\Escape\"\n");
  EXPECT_FALSE(LoadProject((dir.path / "p.toml").string(), p, error));
  EXPECT_NE(std::string::npos, error.find("product.start_menu: must stay inside")) << error;
}

// The uninstaller's name, which its shortcuts point to, keeps its default
// when the project has no [uninstall] table.
TEST(ActionsProjectTest, UninstallerNameDefaultsWithoutAnUninstallTable) {
  ScratchDir dir;
  dir.Write("p.toml", "[product]\nname = \"P\"\n[flags]\nuninstaller = true\n");
  Project p;
  std::string error;
  ASSERT_TRUE(LoadProject((dir.path / "p.toml").string(), p, error)) << error;
  EXPECT_STREQ(p.settings.uninstallerFileName.CStr(), "Uninstall.exe");
  dir.Write("p.toml", "[product]\nname = \"P\"\n[uninstall]\nprogram = \"Remove P.exe\"\n");
  ASSERT_TRUE(LoadProject((dir.path / "p.toml").string(), p = Project(), error)) << error;
  EXPECT_STREQ(p.settings.uninstallerFileName.CStr(), "Remove P.exe");
}

std::string Captured(const std::function<void(FILE*)>& print) {
  FILE* f = tmpfile();
  print(f);
  fflush(f);
  rewind(f);
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  fclose(f);
  return text;
}

TEST(ActionsListTest, SettingsPart) {
  ArchiveSettings s;
  s.ProductRegistry = "Trux\\Demo";
  s.ShortcutMode = 1;
  s.ProductStartMenu = "Trux Demo";
  s.desktopShortcutName = "Trux";
  s.desktopShortcutIcon = String("abcd", 4);
  ShortcutRecord& r = s.shortcuts.Append();
  r.desktop = r.startMenu = r.permanent = 1;
  r.target = "%InstallDir%\\demo.exe";
  r.name = "Demo";
  r.arguments = "-x";
  FileAssociation& a = s.associations.Append();
  a.number = 1;
  a.texts[0] = ".trxd";
  a.texts[1] = "!Trux.Doc";
  a.texts[3] = "open";
  a.texts[5] = "demo.exe \"%1\"";
  a.texts[6] = "English";
  EXPECT_EQ(Captured([&](FILE* f) { PrintActionSettings(f, s); }),
            "registry key   Software\\Trux\\Demo (local machine and current user)\n"
            "shortcuts      all users' folders, start menu \"Trux Demo\"\n"
            "desktop folder \"Trux\" with an icon of 4 bytes\n"
            "shortcut       desktop start_menu permanent \"Demo\" -> %InstallDir%\\demo.exe  arguments \"-x\"\n"
            "association    .trxd -> Trux.Doc (unless the extension has a file type), verb \"open\" (default)"
            "  command \"demo.exe \"%1\"\"  language \"English\"\n");
  ArchiveSettings plain;
  plain.productName = "Demo";
  EXPECT_EQ(Captured([&](FILE* f) { PrintActionSettings(f, plain); }),
            "shortcuts      current user's folders, start menu \"Demo\" (publisher and product name)\n");
  plain.Publisher = "Team";
  EXPECT_EQ(Captured([&](FILE* f) { PrintActionSettings(f, plain); }),
            "shortcuts      current user's folders, start menu \"Team\\Demo\" (publisher and product name)\n");
}

// The archive's texts are Windows-1252 and shown converted once: quoted ones
// were converted twice ("Café" shown as "CafÃ©"). Control characters stay
// escaped.
TEST(ActionsListTest, TextsAreConvertedOnce) {
  ArchiveSettings s;
  s.productName = "Caf\xE9";
  s.Publisher = "Zo\xEB";
  s.desktopShortcutName = "B\xFCro\x01";
  ShortcutRecord& r = s.shortcuts.Append();
  r.startMenu = 1;
  r.target = "%InstallDir%\\\xE9.exe";
  r.name = "\xC9t\xE9";
  r.arguments = "-\xE0";
  r.workingDirectory = "\xE7";
  r.iconFile = "\xF1.ico";
  FileAssociation& a = s.associations.Append();
  a.texts[0] = ".tr\xE9";
  a.texts[1] = "T\xE9.Doc";
  a.texts[2] = "D\xE9";
  a.texts[3] = "\xF6" "ffnen";
  a.texts[4] = "\xD6" "ffnen";
  a.texts[5] = "\xE9.exe";
  a.texts[6] = "Fran\xE7" "ais";
  a.texts[7] = "\xE9.ico";
  EXPECT_EQ(Captured([&](FILE* f) { PrintActionSettings(f, s); }),
            "shortcuts      current user's folders, start menu \"Zoë\\Café\" (publisher and product name)\n"
            "desktop folder \"Büro\\x01\"\n"
            "shortcut       start_menu \"Été\" -> %InstallDir%\\é.exe  arguments \"-à\"  working_dir \"ç\"  icon \"ñ.ico\"\n"
            "association    .tré -> Té.Doc, verb \"öffnen\"  caption \"Öffnen\"  command \"é.exe\"  description \"Dé\""
            "  icon \"é.ico\"  language \"Français\"\n");
  std::vector<ReadEntry> entries(1);
  entries[0].name = "\xE9.exe";
  entries[0].flags = kEntryDesktopShortcut;
  entries[0].text1 = "\xC9t\xE9";
  entries[0].text2 = "\xF1.ico";
  entries[0].text3 = "-\xE0";
  entries[0].text5 = "\xE7";
  EXPECT_EQ(Captured([&](FILE* f) { PrintEntryActions(f, entries, [](const ReadEntry&) { return std::string("x"); }); }),
            "entry shortcuts\n"
            "  desktop \"Été\" -> x  arguments \"-à\"  working_dir \"ç\"  icon \"ñ.ico\"\n");
}

std::string Where(const ReadEntry& e) {
  std::string shown = "<";
  shown += e.name.CStr();
  shown += '>';
  return shown;
}

TEST(ActionsListTest, EntryPart) {
  std::vector<ReadEntry> entries(7);
  const struct {
    const char* name;
    int32_t kind;
    uint32_t flags;
  } rows[] = {
      {"plain.dll", kKindSharedDir, 0},
      {"kept.dll", kKindSystemPermanent, 0},
      {"server.dll", kKindComServer, 0},
      {"types.tlb", kKindTypeLibrary, kEntryPermanent},
      {"app.exe", kKindInstallDir, kEntryDesktopShortcut | kEntryStartMenuShortcut},
      {"boot.exe", kKindStartup, 0},
      {"readme.txt", kKindInstallDir, 0},
  };
  for (size_t i = 0; i < entries.size(); ++i) {
    entries[i].name = rows[i].name;
    entries[i].kind = rows[i].kind;
    entries[i].flags = rows[i].flags;
  }
  entries[4].text1 = "App";
  entries[4].text3 = "-go";
  EXPECT_EQ(Captured([&](FILE* f) { PrintEntryActions(f, entries, Where); }),
            "shared files   (reference counted, in this order)\n"
            "  <plain.dll>  plain\n"
            "  <kept.dll>  permanent\n"
            "  <server.dll>  com_server\n"
            "  <types.tlb>  permanent type_library\n"
            "entry shortcuts\n"
            "  desktop start_menu \"App\" -> <app.exe>  arguments \"-go\"\n"
            "  startup (default name) -> <boot.exe>\n");
}

}  // namespace
