#include <stdlib.h>

#include <filesystem>

#include "archive/record_rules.h"
#include "core/path_check.h"
#include "tools/truxpack/bitmap.h"
#include "tools/truxpack/installer_reader.h"
#include "tools/truxpack/names.h"
#include "tools/truxpack/project_keys.h"
#include "tools/truxpack/project_loaders.h"
#include "tools/truxpack/signing_keys.h"
#include "tools/truxpack/text_encoding.h"

namespace {


bool LoadTextFiles(Loader& l, Table& t, const std::string& key, Array<String>& list) {
  std::vector<std::string> names;
  if (!t.TextList(key, names)) return false;
  for (const std::string& name : names) {
    std::string bytes, text;
    if (!l.ReadFile(t.Key(key), name, bytes)) return false;
    if (bytes.find('\0') != std::string::npos) return l.Fail(t.Key(key), name + " contains a NUL byte; texts only");
    // UTF-8 files are converted like the project's texts; other files are
    // taken as 8-bit text already.
    if (!l.rawText && IsValidUtf8(bytes)) {
      if (!l.Convert(t.Key(key) + " (" + name + ")", bytes, text)) return false;
    } else {
      text = bytes;
    }
    list.Append(ToString(ToCrLf(text)));
  }
  return true;
}

// "UTC", "Z" or "+HH:MM" / "-HH:MM" (hours up to 14) as seconds east of UTC.
bool ParseZoneOffset(const std::string& text, int32_t& seconds) {
  if (text == "UTC" || text == "Z") {
    seconds = 0;
    return true;
  }
  if (text.size() != 6 || (text[0] != '+' && text[0] != '-') || text[3] != ':') return false;
  for (int i : {1, 2, 4, 5})
    if (text[i] < '0' || text[i] > '9') return false;
  int hours = (text[1] - '0') * 10 + (text[2] - '0'), minutes = (text[4] - '0') * 10 + (text[5] - '0');
  if (hours > 14 || minutes > 59) return false;
  seconds = (text[0] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
  return true;
}

}  // namespace

bool LoadFlags(Loader& l, Table t, ArchiveSettings& s) {
  for (const FlagName& f : FlagNames()) {
    bool on = false;
    if (!t.Bool(f.key, on)) return false;
    if (on) s.Flags |= 1ull << f.bit;
  }
  // TOML integers are signed 64-bit, so bit 63 needs the text form "0x...".
  const toml::node* raw = t.Get("raw_flags");
  if (raw) {
    if (raw->is_integer() && raw->as_integer()->get() >= 0) {
      s.Flags |= (uint64_t)raw->as_integer()->get();
    } else if (raw->is_string() && raw->as_string()->get().size() > 2 && raw->as_string()->get().size() <= 18 &&
               raw->as_string()->get().compare(0, 2, "0x") == 0 &&
               raw->as_string()->get().find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos) {
      s.Flags |= (uint64_t)strtoull(raw->as_string()->get().c_str() + 2, nullptr, 16);
    } else {
      return l.Fail(t.Key("raw_flags"), "expected a number or a text \"0x...\" of up to 16 hexadecimal digits");
    }
  }
  // The installer then lets every user write the product's directories, and
  // administrators later run what is there.
  if (s.Flag(kFlagGrantUsersAccess)) {
    bool named = false;
    if (!t.Bool("grant_users_access", named)) return false;
    l.Warn(t.Key(named ? "grant_users_access" : "raw_flags"),
           std::string(named ? "" : "sets bit 50 (grant_users_access): ") +
               "the Users group gets full access to the product's directories, so every user can replace the "
               "product's programs and its uninstaller, which administrators later run");
  }
  return t.CheckUnknown();
}

bool LoadProduct(Loader& l, Table t, ArchiveSettings& s) {
  std::string name;
  if (!t.Text("name", name)) return false;
  if (!t.Present() || name.empty()) return l.Fail("product.name", "missing: every project needs a product name");
  s.productName = ToString(name);
  int64_t v = 0;
  if (!t.Text("publisher", s.Publisher) || !t.Text("version", s.DisplayVersion) ||
      !t.Text("install_dir", s.defaultInstallDir) || !t.Text("start_menu", s.ProductStartMenu) ||
      !t.Text("shared_dir", s.SharedPath) || !t.Text("registry_key", s.ProductRegistry) ||
      !t.Text("uninstall_name", s.uninstallName) || !t.Text("master_product", s.masterProductName) ||
      !t.Text("password", s.password) || !t.Text("minimum_version", s.minimumVersion))
    return false;
  if (!s.ProductStartMenu.IsEmpty() && !IsSafeLinkName(s.ProductStartMenu.CStr()))
    return l.Fail(t.Key("start_menu"), kUnsafeLinkName);
  if (!t.Pick("administrator", v)) return false;
  s.adminRequirement = (uint8_t)v;
  if (!t.NameSet("excluded_systems", s.excludedSystems)) return false;
  return t.CheckUnknown();
}

bool LoadDialogs(Loader& l, Table t, ArchiveSettings& s) {
  int64_t v = 0;
  if (!t.Pick("position", v)) return false;
  s.DialogPosition = (uint32_t)v;
  v = 0;
  if (!t.Int("stage_pause", v)) return false;
  s.StagePause = (uint16_t)v;
  if (!LoadTextFiles(l, t, "license_files", s.licenseTexts) || !LoadTextFiles(l, t, "readme_files", s.readmeTexts))
    return false;
  if (s.licenseTexts.Count() > kMaxLicenseTexts) return l.Fail(t.Key("license_files"), "at most 20 files");
  if (s.readmeTexts.Count() > kMaxReadmeTexts) return l.Fail(t.Key("readme_files"), "at most 20 files");
  return t.CheckUnknown();
}

bool LoadBackground(Loader& l, Table t, ArchiveSettings& s) {
  // The runtime's own defaults, so that a project without [background]
  // looks like the program without settings.
  s.StretchMode = 2;
  s.TitleShadow = 1;
  s.TitleFont = "Times New Roman Bold Italic";
  int64_t v = s.TitleShadow;
  if (!t.Text("taskbar_text", s.TaskbarText) || !t.Text("title_font", s.TitleFont) ||
      !t.Color("title_color", s.TitleColor) || !t.Color("top_color", s.TopColor) ||
      !t.Color("bottom_color", s.BottomColor) || !t.Int("title_shadow", v))
    return false;
  s.TitleShadow = (uint8_t)v;
  v = 0;
  if (!t.Pick("title_position", v)) return false;
  s.TitlePosition = (uint8_t)v;
  v = s.StretchMode;
  if (!t.Pick("stretch_mode", v)) return false;
  s.StretchMode = (uint32_t)v;
  v = 0;
  if (!t.Int("bitmap_size", v)) return false;
  s.BitmapSize = (uint32_t)v;
  std::string bmp;
  bool present = false;
  if (!t.FileBytes("bitmap", bmp, present)) return false;
  if (present) {
    std::vector<unsigned char> dib, in(bmp.begin(), bmp.end());
    std::string why;
    if (!BmpFileToPackedDib(in, dib, why)) return l.Fail(t.Key("bitmap"), why);
    s.backgroundBitmap = String(reinterpret_cast<const char*>(dib.data()), (int32_t)dib.size());
  }
  return t.CheckUnknown();
}

bool LoadShortcutsTable(Loader& l, Table t, ArchiveSettings& s) {
  bool allUsers = false;
  if (!t.Bool("all_users", allUsers) || !t.Text("desktop_folder", s.desktopShortcutName)) return false;
  s.ShortcutMode = allUsers ? kShortcutModeAllUsers : 0;
  if (!s.desktopShortcutName.IsEmpty() && !IsSafeLinkName(s.desktopShortcutName.CStr()))
    return l.Fail(t.Key("desktop_folder"), kUnsafeLinkName);
  std::string icon;
  bool present = false;
  if (!t.FileBytes("desktop_folder_icon", icon, present)) return false;
  if (present) {
    if (s.desktopShortcutName.IsEmpty())
      return l.Fail(t.Key("desktop_folder_icon"), "needs shortcuts.desktop_folder");
    s.desktopShortcutIcon = ToString(icon);
  }
  return t.CheckUnknown();
}

bool LoadBatches(Table t, ArchiveSettings& s) {
  return t.Text("pre_install", s.batches[0]) && t.Text("post_install", s.batches[1]) &&
         t.Text("on_exit", s.batches[2]) && t.Text("uninstall_first", s.UninstallBatch1) &&
         t.Text("uninstall_last", s.UninstallBatch2) && t.CheckUnknown();
}

bool LoadUninstall(Loader& l, Table t, ArchiveSettings& s) {
  s.uninstallerFileName = "Uninstall.exe";
  if (!t.Text("subdir", s.UninstallSubdir) || !t.Text("program", s.uninstallerFileName)) return false;
  bool present = false;
  if (!t.DateTime("file_time", s.UninstallerFileTime, present)) return false;
  int64_t offset = 0;
  if (!t.Int("patch_offset", offset)) return false;
  std::string patch;
  if (!t.FileBytes("patch_file", patch, present)) return false;
  if ((offset > 0) != present) return l.Fail(t.Key("patch_file"), "patch_offset and patch_file go together");
  if (present && patch.empty()) return l.Fail(t.Key("patch_file"), "the patch file is empty");
  s.patchOffset = (int32_t)offset;
  s.patchBytes = ToString(patch);
  if (present && !s.Flag(kFlagUninstaller)) return l.Fail(t.Key("patch_file"), "needs flags.uninstaller = true");
  return t.CheckUnknown();
}

bool LoadData(Loader& l, Table t, Project& p) {
  ArchiveSettings& s = p.settings;
  bool outside = false;
  if (!t.Bool("outside_image", outside)) return false;
  s.dataOutsideImage = outside ? 1 : 0;
  std::string base;
  if (!t.Text("volume_base_name", base)) return false;
  if (t.Get("volume_base_name")) {
    if (String(base.c_str()).IsBlank()) return l.Fail(t.Key("volume_base_name"), "must not be blank");
    // Volume files sit beside the installer: the base is a file name, never
    // a path that could put them (or make a reader look for them) elsewhere.
    if (!IsPlainFileName(base) || base.find(':') != std::string::npos)
      return l.Fail(t.Key("volume_base_name"), "\"" + PrintableName(base) +
                                                   "\" is not a plain file name (no directories, drive or control "
                                                   "characters)");
    std::string problem = WindowsNameProblem(VolumeFileName(base, kFirstVolumeNumber));
    if (!problem.empty()) return l.Fail(t.Key("volume_base_name"), problem);
    s.volumeBaseName = ToString(base);
    p.volumeBaseNameSet = true;
  }
  int64_t v = 0;
  if (!t.Int("volume_identifier", v)) return false;
  s.volumeIdentifier = (uint32_t)v;
  v = 0;
  if (!t.Int("volume_size", v)) return false;
  p.pack.volumeSize = v;
  v = 1;
  if (!t.Pick("level", v)) return false;
  p.pack.level = v == 0 ? PackLevel::kFast : PackLevel::kBest;
  std::string zone;
  if (!t.Text("time_zone", zone)) return false;
  if (!zone.empty() && !ParseZoneOffset(zone, p.timeZoneOffset))
    return l.Fail(t.Key("time_zone"), "expected \"UTC\" or an offset \"+HH:MM\" / \"-HH:MM\"");
  std::string hex;
  if (const toml::node* n = t.Get("reserved_date")) {
    if (!n->is_string() || n->as_string()->get().size() != 2 * kReservedDateRecordSize ||
        n->as_string()->get().find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
      return l.Fail(t.Key("reserved_date"), "expected 40 hexadecimal digits (20 bytes)");
    hex = n->as_string()->get();
    for (int i = 0; i < kReservedDateRecordSize; ++i)
      s.reservedDate[i] = (uint8_t)strtoul(hex.substr(2 * i, 2).c_str(), nullptr, 16);
  }
  return t.CheckUnknown();
}

bool LoadSigning(Loader& l, Table t, Project& p) {
  SigningOptions& o = p.signing;
  o.commandDirectory = std::filesystem::absolute(l.directory.empty() ? "." : l.directory).lexically_normal().string();
  // Key files are read by the signing tool, not here: each must be a
  // regular file, and is an input no output may replace.
  struct KeyValue {
    const char* key;
    std::string* value;
  };
  for (const KeyValue& k : {KeyValue{"certificate", &o.certificate}, KeyValue{"key", &o.key},
                            KeyValue{"pkcs12", &o.pkcs12}, KeyValue{"password_file", &o.passwordFile}}) {
    std::string name;
    if (!t.RawText(k.key, name)) return false;
    if (!t.Get(k.key)) continue;
    if (name.empty()) return l.Fail(t.Key(k.key), "must name a file");
    const std::string path = std::filesystem::absolute(l.Resolve(name)).lexically_normal().string();
    uint64_t size = 0;
    FileIdentity identity;
    std::string why;
    if (!StatRegularFile(path, size, identity, why)) return l.Fail(t.Key(k.key), PrintablePath(why));
    if (l.inputs) l.inputs->push_back(identity);
    *k.value = path;
  }
  // The other texts are used as written (a command line, a variable's
  // name, an address), each checked as its --sign-* option is.
  for (const KeyValue& k : {KeyValue{"password_env", &o.passwordEnv}, KeyValue{"command", &o.command},
                            KeyValue{"hash", &o.hash}, KeyValue{"timestamp_url", &o.timestampUrl}}) {
    const toml::node* n = t.Get(k.key);
    if (!l.error.empty()) return false;
    if (!n) continue;
    if (!n->is_string()) return l.Fail(t.Key(k.key), "expected a text in double quotes");
    const std::string value = n->as_string()->get();
    if (value.find('\0') != std::string::npos) return l.Fail(t.Key(k.key), "contains a NUL character");
    const std::string problem = SigningValueProblem(k.key, value);
    if (!problem.empty()) return l.Fail(t.Key(k.key), problem);
    *k.value = value;
  }
  if (!t.Bool("uninstaller", o.uninstaller)) return false;
  return t.CheckUnknown();
}

bool LoadRecordLists(Loader& l, Table& root, ArchiveSettings& s) {
  std::vector<Table> tables;
  if (!root.Arrays("delete", tables)) return false;
  for (Table& t : tables) {
    FileDeletion& d = s.deletions.Append();
    int64_t v = 0, options = 0;
    bool reboot = false;
    if (!t.Text("files", d.specification) || !t.Pick("condition", v) ||
        !t.Text("argument", d.argument) || !t.Bool("on_reboot", reboot) || !t.Int("options", options))
      return false;
    if (d.specification.IsEmpty()) return l.Fail(t.Key("files"), "missing");
    d.condition = (uint8_t)v;
    d.options = (uint32_t)options | (reboot ? 0x2u : 0u);
    DateTime when;
    if (IsDateCondition(d.condition) && !ParseDeletionDate(d.argument.CStr(), when))
      return l.Fail(t.Key("argument"), "\"" + std::string(d.argument.CStr()) +
                                           "\" is not a date the installer reads (month/day/year, optional time)");
    if (!t.CheckUnknown()) return false;
  }
  if (s.deletions.Count() > kMaxDeletionRecords) return l.Fail("delete", "at most 1001 deletion records");

  tables.clear();
  if (!root.Arrays("association", tables)) return false;
  static const char* kAssociationKeys[8] = {"extension", "file_type", "description", "verb",
                                            "caption",   "command",   "language",    "icon"};
  for (Table& t : tables) {
    FileAssociation& a = s.associations.Append();
    bool isDefault = false;
    int64_t flags = 0;
    for (int i = 0; i < 8; ++i)
      if (!t.Text(kAssociationKeys[i], a.texts[i])) return false;
    if (!t.Bool("default_verb", isDefault) || !t.Int("flags", flags)) return false;
    if (a.texts[0].IsEmpty()) return l.Fail(t.Key("extension"), "missing");
    if (a.texts[3].IsEmpty()) return l.Fail(t.Key("verb"), "missing (without a verb nothing is associated)");
    a.number = (uint32_t)flags | (isDefault ? 1u : 0u);
    if (!t.CheckUnknown()) return false;
  }

  tables.clear();
  if (!root.Arrays("shortcut", tables)) return false;
  for (Table& t : tables) {
    ShortcutRecord& r = s.shortcuts.Append();
    bool desktop = false, startMenu = false, startup = false, permanent = false;
    if (!t.Text("target", r.target) || !t.Text("name", r.name) || !t.Text("icon", r.iconFile) ||
        !t.Text("arguments", r.arguments) || !t.Text("working_dir", r.workingDirectory) ||
        !t.Bool("desktop", desktop) || !t.Bool("start_menu", startMenu) || !t.Bool("startup", startup) ||
        !t.Bool("permanent", permanent))
      return false;
    if (r.target.IsEmpty()) return l.Fail(t.Key("target"), "missing");
    if (!r.name.IsEmpty() && !IsSafeLinkName(r.name.CStr())) return l.Fail(t.Key("name"), kUnsafeLinkName);
    r.desktop = desktop;
    r.startMenu = startMenu;
    r.startup = startup;
    r.permanent = permanent;
    r.expandTarget = true;
    if (!t.CheckUnknown()) return false;
  }

  tables.clear();
  if (!root.Arrays("uninstall_value", tables)) return false;
  for (Table& t : tables) {
    UninstallValue& u = s.uninstallValues.Append();
    int64_t type = 1;
    if (!t.Text("name", u.name) || !t.Text("value", u.value) || !t.Pick("type", type))
      return false;
    if (u.name.IsEmpty()) return l.Fail(t.Key("name"), "missing");
    u.type = (uint8_t)type;
    if (!t.CheckUnknown()) return false;
  }
  return true;
}
