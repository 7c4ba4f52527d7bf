#include "tools/truxpack/project.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <toml++/toml.h>

#include "tools/truxpack/bitmap.h"
#include "tools/truxpack/file_io.h"
#include "tools/truxpack/messages.h"

namespace fs = std::filesystem;

namespace {

// ------------------------------------------------------------ text encoding

// Windows-1252 for 0x80..0x9F; 0 marks the five unassigned positions.
const uint16_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                  0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Decodes one UTF-8 sequence at s[i]; returns its length or 0 when invalid.
size_t DecodeUtf8(const std::string& s, size_t i, uint32_t& cp) {
  unsigned char c = (unsigned char)s[i];
  size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
  for (size_t k = 1; k < n; ++k) {
    unsigned char d = (unsigned char)s[i + k];
    if ((d & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (d & 0x3F);
  }
  static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

// UTF-8 to Windows-1252. Returns false (bad set to the first character that
// has no 8-bit form) when the text cannot be converted.
bool Utf8ToCp1252(const std::string& in, std::string& out, std::string& bad) {
  out.clear();
  for (size_t i = 0; i < in.size();) {
    uint32_t cp = 0;
    size_t n = DecodeUtf8(in, i, cp);
    if (n == 0) {
      bad = "invalid UTF-8";
      return false;
    }
    int byte = -1;
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) byte = (int)cp;
    for (int k = 0; k < 32 && byte < 0; ++k)
      if (kCp1252High[k] == cp && cp != 0) byte = 0x80 + k;
    if (byte < 0) {
      bad = "character U+" + [&] {
        char hex[16];
        snprintf(hex, sizeof hex, "%04X", cp);
        return std::string(hex);
      }() + " has no Windows-1252 form";
      return false;
    }
    out += (char)byte;
    i += n;
  }
  return true;
}

bool IsValidUtf8(const std::string& s) {
  uint32_t cp;
  for (size_t i = 0; i < s.size();) {
    size_t n = DecodeUtf8(s, i, cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string ToCrLf(const std::string& in) {
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '\n' && (i == 0 || in[i - 1] != '\r')) out += '\r';
    out += in[i];
  }
  return out;
}

String ToString(const std::string& s) { return String(s.data(), (int32_t)s.size()); }

// ------------------------------------------------------------ the loader

struct Choice {
  const char* name;
  int64_t value;
};

class Loader;

// One TOML table with the keys read from it remembered, so that unknown keys
// (usually typing errors) are reported.
class Table {
 public:
  Table(Loader& loader, const toml::table* table, std::string path) : l_(loader), t_(table), path_(std::move(path)) {}
  bool Present() const { return t_ != nullptr; }
  std::string Key(const std::string& k) const { return path_.empty() ? k : path_ + "." + k; }
  const toml::node* Get(const std::string& k) {
    known_.insert(k);
    return t_ ? t_->get(k) : nullptr;
  }
  bool Text(const std::string& k, std::string& out);
  bool Text(const std::string& k, String& out) {
    std::string s;
    if (!Text(k, s)) return false;
    out = ToString(s);
    return true;
  }
  bool Bool(const std::string& k, bool& out);
  bool Int(const std::string& k, int64_t& out, int64_t min, int64_t max);
  bool Pick(const std::string& k, int64_t& out, const std::vector<Choice>& choices, int64_t min, int64_t max);
  bool Color(const std::string& k, uint32_t& out);
  bool DateTime(const std::string& k, ArchiveDateTime& out, bool& present);
  bool FileBytes(const std::string& k, std::string& out, bool& present);
  bool TextList(const std::string& k, std::vector<std::string>& out);
  Table Sub(const std::string& k);
  bool Arrays(const std::string& k, std::vector<Table>& out);
  bool CheckUnknown();

 private:
  Loader& l_;
  const toml::table* t_;
  std::string path_;
  std::set<std::string> known_;
};

class Loader {
 public:
  std::string file;      // as given, for messages
  fs::path directory;    // base of relative file names
  bool rawText = false;  // text_encoding = "bytes"
  std::string error;

  bool Fail(const std::string& key, const std::string& what) {
    if (error.empty()) error = file + ": " + key + ": " + what;
    return false;
  }
  // A text from the project, converted to the 8-bit form the runtime shows.
  bool Convert(const std::string& key, const std::string& utf8, std::string& out) {
    if (utf8.find('\0') != std::string::npos) return Fail(key, "contains a NUL character");
    if (rawText) {
      out = utf8;
      return true;
    }
    std::string bad;
    if (!Utf8ToCp1252(utf8, out, bad)) return Fail(key, bad);
    return true;
  }
  fs::path Resolve(const std::string& name) const {
    fs::path p(name);
    return p.is_absolute() ? p : directory / p;
  }
  bool ReadFile(const std::string& key, const std::string& name, std::string& out) {
    std::vector<unsigned char> data;
    std::string why;
    if (!ReadWholeFile(Resolve(name).string(), data, why)) return Fail(key, why);
    out.assign(data.begin(), data.end());
    return true;
  }
};

bool Table::Text(const std::string& k, std::string& out) {
  const toml::node* n = Get(k);
  if (!n) return true;
  if (!n->is_string()) return l_.Fail(Key(k), "expected a text in double quotes");
  return l_.Convert(Key(k), n->as_string()->get(), out);
}

bool Table::Bool(const std::string& k, bool& out) {
  const toml::node* n = Get(k);
  if (!n) return true;
  if (!n->is_boolean()) return l_.Fail(Key(k), "expected true or false");
  out = n->as_boolean()->get();
  return true;
}

bool Table::Int(const std::string& k, int64_t& out, int64_t min, int64_t max) {
  const toml::node* n = Get(k);
  if (!n) return true;
  if (!n->is_integer()) return l_.Fail(Key(k), "expected a whole number");
  int64_t v = n->as_integer()->get();
  if (v < min || v > max)
    return l_.Fail(Key(k), std::to_string(v) + " is outside " + std::to_string(min) + " to " + std::to_string(max));
  out = v;
  return true;
}

bool Table::Pick(const std::string& k, int64_t& out, const std::vector<Choice>& choices, int64_t min, int64_t max) {
  const toml::node* n = Get(k);
  if (!n) return true;
  if (n->is_integer()) return Int(k, out, min, max);
  std::string names;
  for (const Choice& c : choices) names += std::string(names.empty() ? "" : ", ") + c.name;
  if (!n->is_string()) return l_.Fail(Key(k), "expected one of " + names + " or a number");
  const std::string& v = n->as_string()->get();
  for (const Choice& c : choices)
    if (v == c.name) {
      out = c.value;
      return true;
    }
  return l_.Fail(Key(k), "\"" + v + "\" is not one of " + names);
}

bool Table::Color(const std::string& k, uint32_t& out) {
  const toml::node* n = Get(k);
  if (!n) return true;
  if (n->is_integer()) {
    int64_t v = n->as_integer()->get();
    if (v < 0 || v > 0xFFFFFFFFll) return l_.Fail(Key(k), "colour number outside 0 to 0xFFFFFFFF");
    out = (uint32_t)v;
    return true;
  }
  if (n->is_string()) {
    const std::string& v = n->as_string()->get();
    if (v.size() == 7 && v[0] == '#' && v.find_first_not_of("0123456789abcdefABCDEF", 1) == std::string::npos) {
      uint32_t rgb = (uint32_t)strtoul(v.c_str() + 1, nullptr, 16);
      out = ((rgb >> 16) & 0xFF) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16);  // COLORREF is 0x00BBGGRR
      return true;
    }
  }
  return l_.Fail(Key(k), "expected a colour \"#RRGGBB\" or a COLORREF number");
}

bool Table::DateTime(const std::string& k, ArchiveDateTime& out, bool& present) {
  present = false;
  const toml::node* n = Get(k);
  if (!n) return true;
  present = true;
  if (n->is_date_time()) {
    const toml::date_time& dt = n->as_date_time()->get();
    out = {dt.date.year, dt.date.month, dt.date.day, dt.time.hour, dt.time.minute, dt.time.second};
    return true;
  }
  if (n->is_date()) {
    const toml::date& d = n->as_date()->get();
    out = {d.year, d.month, d.day, -1, 0, 0};
    return true;
  }
  if (n->is_string() && ParseDateTimeText(n->as_string()->get(), out)) return true;
  return l_.Fail(Key(k), "expected a date YYYY-MM-DD or a date and time YYYY-MM-DD HH:MM:SS");
}

bool Table::FileBytes(const std::string& k, std::string& out, bool& present) {
  present = false;
  std::string name;
  if (!Get(k)) return true;
  const toml::node* n = Get(k);
  if (!n->is_string()) return l_.Fail(Key(k), "expected a file name");
  name = n->as_string()->get();
  present = true;
  return l_.ReadFile(Key(k), name, out);
}

bool Table::TextList(const std::string& k, std::vector<std::string>& out) {
  const toml::node* n = Get(k);
  if (!n) return true;
  if (!n->is_array()) return l_.Fail(Key(k), "expected a list of texts [\"...\", ...]");
  for (const toml::node& item : *n->as_array()) {
    if (!item.is_string()) return l_.Fail(Key(k), "expected a list of texts [\"...\", ...]");
    out.push_back(item.as_string()->get());
  }
  return true;
}

Table Table::Sub(const std::string& k) {
  const toml::node* n = Get(k);
  if (n && !n->is_table()) {
    l_.Fail(Key(k), "expected a table [" + Key(k) + "]");
    return Table(l_, nullptr, Key(k));
  }
  return Table(l_, n ? n->as_table() : nullptr, Key(k));
}

bool Table::Arrays(const std::string& k, std::vector<Table>& out) {
  const toml::node* n = Get(k);
  if (!n) return true;
  if (!n->is_array_of_tables()) return l_.Fail(Key(k), "expected [[" + Key(k) + "]] tables");
  size_t i = 0;
  for (const toml::node& item : *n->as_array())
    out.emplace_back(l_, item.as_table(), Key(k) + "[" + std::to_string(++i) + "]");
  return true;
}

bool Table::CheckUnknown() {
  if (!t_) return true;
  for (const auto& [key, value] : *t_)
    if (!known_.count(std::string(key.str()))) return l_.Fail(Key(std::string(key.str())), "unknown key");
  return true;
}

// ------------------------------------------------------------ tables of names

const std::vector<FlagName> kFlagNames = {
    {"refuse_reinstall", kFlagRefuseReinstall, "a previous installation ends the run with message 9"},
    {"uninstall_start_menu_shortcut", kFlagUninstallStartMenuShortcut, "uninstaller shortcut in the start-menu folder"},
    {"uninstaller", kFlagUninstaller, "write and register the uninstaller"},
    {"uninstall_ask_fonts", kFlagUninstallAskFonts, "the uninstaller asks before removing each font"},
    {"compressed", kFlagCompressedRegion, "the data region is one compressed block"},
    {"always_write_log", kFlagAlwaysWriteLog, "append to Install.LOG after a clean installation too"},
    {"choose_directory", kFlagChooseDirectory, "show the installation directory dialog"},
    {"automatic", kFlagAutomatic, "automatic mode, as with /a"},
    {"uninstall_automatic", kFlagUninstallAutomatic, "the uninstaller runs in automatic mode"},
    {"uninstall_remove_install_dir", kFlagUninstallRemoveInstallDir,
     "the uninstaller deletes the whole installation directory"},
    {"rescue_new_files", kFlagRescueNewFiles, "replace at reboot also files that did not exist before"},
    {"add_to_path", kFlagAddToPath, "add the installation directory to the autoexec.bat PATH"},
    {"restart_needed", kFlagRestartNeeded, "offer a restart at the end"},
    {"keep_background_bitmap", kFlagKeepBackgroundBitmap, "keep the background bitmap for the uninstaller"},
    {"add_on", kFlagAddOn, "the product is an add-on of product.master_product"},
    {"uninstall_ask_shared_files", kFlagUninstallAskSharedFiles,
     "the uninstaller asks before deleting unused shared files"},
    {"verify_written_files", kFlagVerifyWrittenFiles, "compare each written file with its data"},
    {"clear_attributes_on_retry", kFlagClearAttributesOnRetry,
     "clear read-only, hidden and system attributes after a failed write"},
    {"verbose_log", kFlagVerboseLog, "log every written file and shortcut"},
    {"no_cancel", kFlagNoCancel, "disable the progress dialog's Cancel button"},
    {"no_final_message", kFlagNoFinalMessage, "no final message after a clean installation"},
    {"hide_pre_install_batch", kFlagHideBatch1, "run batches.pre_install hidden"},
    {"hide_post_install_batch", kFlagHideBatch2, "run batches.post_install hidden"},
    {"hide_exit_batch", kFlagHideBatch3, "run batches.on_exit hidden"},
    {"hide_uninstall_first_batch", kFlagHideUninstallBatch1, "run batches.uninstall_first hidden"},
    {"hide_uninstall_last_batch", kFlagHideUninstallBatch2, "run batches.uninstall_last hidden"},
    {"no_reinstall_question", kFlagNoReinstallQuestion, "reuse a previous installation's directory without asking"},
    {"no_background", kFlagNoBackground, "no background window"},
    {"confirm_directory", kFlagConfirmDirectory, "ask before using the chosen directory (messages 22, 23)"},
    {"check_stub", kFlagCheckStub, "check the stub checksum (error 40)"},
    {"uninstall_desktop_shortcut", kFlagUninstallShortcut, "desktop shortcut to the uninstaller"},
    {"error_boxes_in_automatic", kFlagErrorBoxesInAutomatic, "show error boxes in automatic mode"},
    {"compare_versions", kFlagCompareVersions, "the reinstall question tells older, same or newer version"},
    {"refuse_double_backslash", kFlagRefuseDoubleBackslash, "refuse directory names with two backslashes"},
    {"uninstall_shortcut_in_uninstall_dir", kFlagUninstallShortcutInUninstallDir,
     "uninstaller shortcut in the uninstall directory"},
    {"maximized_background", kFlagMaximizedBackground, "show the background window maximised"},
    {"auto_restart", kFlagAutoRestart, "in automatic mode, restart without asking"},
    {"keep_title", kFlagKeepTitle, "the language choice leaves the background title alone"},
    {"no_start_question", kFlagNoStartQuestion, "no start question (message 1)"},
    {"check_minimum_version", kFlagMinimumVersion, "check the installed version against product.minimum_version"},
    {"uninstall_restart", kFlagUninstallRestart, "restart after uninstalling"},
    {"keep_readme_files", kFlagKeepReadmeFiles, "write the readme texts into the installation directory"},
    {"keep_license_files", kFlagKeepLicenseFiles, "write the licence texts into the installation directory"},
    {"x64", kFlag64Bit, "64-bit product: needs a 64-bit system"},
    {"no_file_status", kFlagNoFileStatus, "no status line per written file"},
    {"grant_users_access", kFlagGrantUsersAccess, "grant the Users group full access to the directories"},
};

const std::vector<Choice> kKinds = {{"install", kKindInstallDir}, {"shared", kKindSharedDir},
                                    {"font", kKindFont},          {"startup", kKindStartup},
                                    {"system", kKindSystemPermanent}, {"com_server", kKindComServer},
                                    {"type_library", kKindTypeLibrary}, {"versioned", kKindVersioned}};
const std::vector<Choice> kOverwrite = {{"normal", kEntryOverwriteNormal},
                                        {"never", kEntryNeverExtract},
                                        {"replace_only", kEntryReplaceOnly},
                                        {"keep", kEntryKeepExisting}};
const std::vector<Choice> kAttributes = {
    {"readonly", 0x1}, {"hidden", 0x2}, {"system", 0x4}, {"archive", 0x20}, {"normal", 0x80}};
const std::vector<Choice> kSystems = {{"other", 1},  {"win32s", 2}, {"95", 4},     {"98", 8},
                                      {"me", 16},    {"nt3", 32},   {"nt4", 64},   {"2000", 128},
                                      {"xp", 256},   {"2003", 512}, {"vista", 1024}};
const std::vector<Choice> kAdministrator = {{"none", 0}, {"required", 1}, {"recommended", 2}};
const std::vector<Choice> kPositions = {{"center", 0},      {"top_left", 1},    {"top_center", 2},
                                        {"top_right", 3},   {"bottom_left", 4}, {"bottom_center", 5},
                                        {"bottom_right", 6}, {"left_middle", 7}, {"right_middle", 8},
                                        {"leave", 9}};
const std::vector<Choice> kTitlePositions = {{"none", 0},        {"top_left", 1},      {"top_center", 2},
                                             {"top_right", 3},   {"bottom_left", 4},   {"bottom_center", 5},
                                             {"bottom_right", 6}};
const std::vector<Choice> kStretch = {{"stretch", 0}, {"fit", 1}, {"whole_factor", 2}, {"tile", 3}};
const std::vector<Choice> kConditions = {{"always", 0},       {"date_equal", 1},    {"date_after", 2},
                                         {"date_before", 3},  {"size_equal", 4},    {"size_at_least", 5},
                                         {"size_at_most", 6}};
const std::vector<Choice> kValueTypes = {{"string", 1}, {"expand", 2}, {"number", 4}};
const std::vector<Choice> kLevels = {{"fast", 0}, {"best", 1}};

// ------------------------------------------------------------ sections

bool LoadFlags(Loader& l, Table t, ArchiveSettings& s) {
  for (const FlagName& f : kFlagNames) {
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
  return t.CheckUnknown();
}

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
  if (!t.Pick("administrator", v, kAdministrator, 0, 255)) return false;
  s.adminRequirement = (uint8_t)v;
  if (const toml::node* n = t.Get("excluded_systems")) {
    if (n->is_integer()) {
      if (!t.Int("excluded_systems", v, 0, 0xFFFFFFFFll)) return false;
      s.excludedSystems = (uint32_t)v;
    } else if (n->is_array()) {
      for (const toml::node& item : *n->as_array()) {
        bool found = false;
        if (item.is_string())
          for (const Choice& c : kSystems)
            if (item.as_string()->get() == c.name) {
              s.excludedSystems |= (uint32_t)c.value;
              found = true;
            }
        if (!found)
          return l.Fail(t.Key("excluded_systems"),
                        "expected names of other, win32s, 95, 98, me, nt3, nt4, 2000, xp, 2003, vista");
      }
    } else {
      return l.Fail(t.Key("excluded_systems"), "expected a list of system names or a number");
    }
  }
  return t.CheckUnknown();
}

bool LoadDialogs(Loader& l, Table t, ArchiveSettings& s) {
  int64_t v = 0;
  if (!t.Pick("position", v, kPositions, 0, 0xFFFFFFFFll)) return false;
  s.DialogPosition = (uint32_t)v;
  v = 0;
  if (!t.Int("stage_pause", v, 0, kMaxStagePause)) return false;
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
      !t.Color("bottom_color", s.BottomColor) || !t.Int("title_shadow", v, 0, 255))
    return false;
  s.TitleShadow = (uint8_t)v;
  v = 0;
  if (!t.Pick("title_position", v, kTitlePositions, 0, 255)) return false;
  s.TitlePosition = (uint8_t)v;
  v = s.StretchMode;
  if (!t.Pick("stretch_mode", v, kStretch, 0, 0xFFFFFFFFll)) return false;
  s.StretchMode = (uint32_t)v;
  v = 0;
  if (!t.Int("bitmap_size", v, 0, kMaxBitmapSize)) return false;
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
  s.ShortcutMode = allUsers ? 1 : 0;
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
  if (!t.Int("patch_offset", offset, 0, INT32_MAX)) return false;
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
    s.volumeBaseName = ToString(base);
    p.volumeBaseNameSet = true;
  }
  int64_t v = 0;
  if (!t.Int("volume_identifier", v, 0, 0xFFFFFFFFll)) return false;
  s.volumeIdentifier = (uint32_t)v;
  v = 0;
  if (!t.Int("volume_size", v, 0, INT32_MAX)) return false;
  p.pack.volumeSize = v;
  v = 1;
  if (!t.Pick("level", v, kLevels, 0, 1)) return false;
  p.pack.level = v == 0 ? PackLevel::kFast : PackLevel::kBest;
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

bool LoadRecordLists(Loader& l, Table& root, ArchiveSettings& s) {
  std::vector<Table> tables;
  if (!root.Arrays("delete", tables)) return false;
  for (Table& t : tables) {
    FileDeletion& d = s.deletions.Append();
    int64_t v = 0, options = 0;
    bool reboot = false;
    if (!t.Text("files", d.specification) || !t.Pick("condition", v, kConditions, 0, 255) ||
        !t.Text("argument", d.argument) || !t.Bool("on_reboot", reboot) || !t.Int("options", options, 0, 0xFFFFFFFFll))
      return false;
    if (d.specification.IsEmpty()) return l.Fail(t.Key("files"), "missing");
    d.condition = (uint8_t)v;
    d.options = (uint32_t)options | (reboot ? 0x2u : 0u);
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
    if (!t.Bool("default_verb", isDefault) || !t.Int("flags", flags, 0, 0xFFFFFFFFll)) return false;
    if (a.texts[0].IsEmpty()) return l.Fail(t.Key("extension"), "missing");
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
    if (!t.Text("name", u.name) || !t.Text("value", u.value) || !t.Pick("type", type, kValueTypes, 0, 255))
      return false;
    if (u.name.IsEmpty()) return l.Fail(t.Key("name"), "missing");
    u.type = (uint8_t)type;
    if (!t.CheckUnknown()) return false;
  }
  return true;
}

// ------------------------------------------------------------ languages

bool ParseMessageNumber(const std::string& key, int32_t& n) {
  if (key.empty() || key.size() > 5 || key.find_first_not_of("0123456789") != std::string::npos) return false;
  n = atoi(key.c_str());
  return n < kMaxMessages;
}

// Reads a [messages] table: message number -> text. Formatted messages must
// keep the conversions the runtime passes, or its printf would read the
// wrong arguments.
bool LoadMessages(Loader& l, const toml::table* table, const std::string& where,
                  std::map<int32_t, std::string>& out) {
  if (!table) return true;
  for (const auto& [key, value] : *table) {
    std::string k(key.str());
    std::string name = where + "." + k;
    int32_t n = 0;
    if (!ParseMessageNumber(k, n)) return l.Fail(name, "message keys are numbers 0 to 9999");
    if (!value.is_string()) return l.Fail(name, "expected a text");
    std::string text;
    if (!l.Convert(name, value.as_string()->get(), text)) return false;
    if (n < kBuiltInMessageCount && BuiltInMessageAt(n).conversions[0]) {
      std::string conversions;
      if (!MessageConversions(text, conversions) || conversions != BuiltInMessageAt(n).conversions) {
        std::string expected;
        for (const char* c = BuiltInMessageAt(n).conversions; *c; ++c) expected += std::string(" %") + *c;
        return l.Fail(name, "the runtime formats this message with" + expected +
                                " in that order; write exactly those (and %% for a percent sign)");
      }
    }
    out[n] = text;
  }
  return true;
}

struct Language {
  std::string name;
  std::map<int32_t, std::string> messages;
};

bool LoadLanguageFile(Loader& l, const std::string& key, const std::string& file, Language& language) {
  fs::path path = l.Resolve(file);
  toml::table doc;
  try {
    doc = toml::parse_file(path.string());
  } catch (const toml::parse_error& e) {
    return l.Fail(key, file + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description()));
  }
  Loader inner;
  inner.file = file;
  inner.directory = path.parent_path();
  inner.rawText = l.rawText;
  Table t(inner, &doc, "");
  bool ok = t.Text("name", language.name);
  if (ok && language.name.empty()) ok = inner.Fail("name", "missing: the language's name as the list shows it");
  const toml::node* messages = t.Get("messages");
  if (ok && messages && !messages->is_table()) ok = inner.Fail("messages", "expected a table [messages]");
  if (ok) ok = LoadMessages(inner, messages ? messages->as_table() : nullptr, "messages", language.messages);
  if (ok) ok = t.CheckUnknown();
  if (!ok) return l.Fail(key, inner.error);
  return true;
}

bool LoadLanguages(Loader& l, Table& root, ArchiveSettings& s) {
  Language english;
  english.name = "English";
  const toml::node* overrides = root.Get("messages");
  if (overrides && !overrides->is_table()) return l.Fail("messages", "expected a table [messages]");
  if (!LoadMessages(l, overrides ? overrides->as_table() : nullptr, "messages", english.messages)) return false;

  Table t = root.Sub("languages");
  std::vector<std::string> files;
  std::string englishPlace = "first";
  if (!t.TextList("files", files) || !t.Text("english", englishPlace)) return false;
  if (englishPlace != "first" && englishPlace != "last" && englishPlace != "none")
    return l.Fail(t.Key("english"), "expected \"first\", \"last\" or \"none\"");
  if (!t.CheckUnknown()) return false;
  std::vector<Language> languages;
  if (englishPlace == "first") languages.push_back(english);
  for (size_t i = 0; i < files.size(); ++i) {
    Language language;
    if (!LoadLanguageFile(l, t.Key("files") + "[" + std::to_string(i + 1) + "]", files[i], language)) return false;
    languages.push_back(std::move(language));
  }
  if (englishPlace == "last") languages.push_back(english);
  if (languages.empty()) return l.Fail(t.Key("english"), "\"none\" needs at least one language file");
  if ((int32_t)languages.size() > kMaxLanguages) return l.Fail(t.Key("files"), "at most 100 languages");

  int32_t count = kBuiltInMessageCount;
  for (const Language& language : languages)
    if (!language.messages.empty()) count = std::max(count, language.messages.rbegin()->first + 1);
  s.messageCount = count;
  for (const Language& language : languages) s.languageNames.Append(ToString(language.name));
  for (int32_t n = 0; n < count; ++n)
    for (const Language& language : languages) {
      auto found = language.messages.find(n);
      if (found != language.messages.end()) {
        s.messages.Append(ToString(found->second));
      } else {
        // A language without its own text takes the project's English one,
        // else the built-in English one.
        auto own = english.messages.find(n);
        if (own != english.messages.end())
          s.messages.Append(ToString(own->second));
        else
          s.messages.Append(String(n < kBuiltInMessageCount ? BuiltInMessageAt(n).text : ""));
      }
    }
  return true;
}

// ------------------------------------------------------------ files

std::string Slashes(std::string s, char from, char to) {
  std::replace(s.begin(), s.end(), from, to);
  return s;
}

// A name the runtime joins to a directory must stay inside it.
bool SafeEntryName(const std::string& name, std::string& why) {
  if (name.empty()) return (why = "empty name", false);
  if (name[0] == '\\' || name[0] == '/' || (name.size() > 1 && name[1] == ':'))
    return (why = "\"" + name + "\" is not a relative path", false);
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('\\', start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..")
      return (why = "\"" + name + "\" has an empty, \".\" or \"..\" component", false);
    start = end + 1;
  }
  return true;
}

bool GlobMatchFrom(const std::vector<std::string>& pattern, size_t p, const std::vector<std::string>& path, size_t i);

bool ComponentMatch(const char* p, const char* s) {
  for (; *p; ++p, ++s) {
    if (*p == '*') {
      for (const char* t = s;; ++t) {
        if (ComponentMatch(p + 1, t)) return true;
        if (!*t) return false;
      }
    }
    if (!*s || (*p != '?' && *p != *s)) return false;
  }
  return *s == 0;
}

std::vector<std::string> SplitSlash(const std::string& s) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = s.find('/', start);
    parts.push_back(s.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

bool GlobMatchFrom(const std::vector<std::string>& pattern, size_t p, const std::vector<std::string>& path, size_t i) {
  if (p == pattern.size()) return i == path.size();
  if (pattern[p] == "**") {
    for (size_t k = i; k <= path.size(); ++k)
      if (GlobMatchFrom(pattern, p + 1, path, k)) return true;
    return false;
  }
  return i < path.size() && ComponentMatch(pattern[p].c_str(), path[i].c_str()) &&
         GlobMatchFrom(pattern, p + 1, path, i + 1);
}

bool FileDateTime(const fs::path& path, ArchiveDateTime& out) {
  struct stat st;
  if (stat(path.string().c_str(), &st) != 0) return false;
  time_t t = st.st_mtime;
  struct tm local;
#ifdef _WIN32
  if (localtime_s(&local, &t) != 0) return false;
#else
  if (!localtime_r(&t, &local)) return false;
#endif
  out = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
  return true;
}

bool LoadFiles(Loader& l, Table& root, Project& p) {
  std::vector<Table> tables;
  if (!root.Arrays("file", tables)) return false;
  for (Table& t : tables) {
    std::string source, name, version, font, shortcutName;
    EntryInput e;
    int64_t kind = kKindInstallDir, overwrite = kEntryOverwriteNormal, rawFlags = 0;
    bool desktop = false, startMenu = false, permanent = false, toUninstall = false, dated = false;
    if (!t.Text("source", source) || !t.Text("name", name) || !t.Pick("kind", kind, kKinds, 0, 9) ||
        !t.Pick("overwrite", overwrite, kOverwrite, 0, 0xC) || !t.Bool("desktop_shortcut", desktop) ||
        !t.Bool("start_menu_shortcut", startMenu) || !t.Bool("permanent", permanent) ||
        !t.Bool("to_uninstall_dir", toUninstall) || !t.Text("version", version) || !t.Text("font_name", font) ||
        !t.Text("shortcut_name", shortcutName) || !t.Text("shortcut_icon", e.text2) ||
        !t.Text("shortcut_arguments", e.text3) || !t.Text("destination", e.text4) ||
        !t.Text("shortcut_working_dir", e.text5) || !t.DateTime("date", e.time, dated) ||
        !t.Int("raw_flags", rawFlags, 0, 0xFFFFFFFFll))
      return false;
    if (source.empty()) return l.Fail(t.Key("source"), "missing");
    if (!IsValidEntryKind((int32_t)kind)) return l.Fail(t.Key("kind"), std::to_string(kind) + " is not a known kind");
    if ((overwrite & ~(int64_t)kEntryOverwriteMask) != 0)
      return l.Fail(t.Key("overwrite"), "expected normal, never, replace_only or keep");
    int texts = !version.empty() + !font.empty() + !shortcutName.empty();
    if (texts > 1) return l.Fail(t.Key("version"), "version, font_name and shortcut_name share one field; give one");
    e.text1 = !version.empty() ? version : !font.empty() ? font : shortcutName;
    e.kind = (int32_t)kind;
    e.flags = (uint32_t)overwrite | (uint32_t)rawFlags;
    if (desktop) e.flags |= kEntryDesktopShortcut;
    if (startMenu) e.flags |= kEntryStartMenuShortcut;
    if (permanent) e.flags |= kEntryPermanent;
    if (toUninstall) e.flags |= kEntryToUninstallDir;
    if (!e.text2.empty() && !(e.flags & (kEntryDesktopShortcut | kEntryStartMenuShortcut)))
      return l.Fail(t.Key("shortcut_icon"), "needs desktop_shortcut or start_menu_shortcut");
    if (const toml::node* n = t.Get("attributes")) {
      if (n->is_integer()) {
        int64_t v = 0;
        if (!t.Int("attributes", v, 0, 0xFFFFFFFFll)) return false;
        e.attributes = (uint32_t)v;
      } else if (n->is_array()) {
        e.attributes = 0;
        for (const toml::node& item : *n->as_array()) {
          bool found = false;
          if (item.is_string())
            for (const Choice& c : kAttributes)
              if (item.as_string()->get() == c.name) {
                e.attributes |= (uint32_t)c.value;
                found = true;
              }
          if (!found) return l.Fail(t.Key("attributes"), "expected names of readonly, hidden, system, archive, normal");
        }
      } else {
        return l.Fail(t.Key("attributes"), "expected a list of attribute names or a number");
      }
    }
    if (!t.CheckUnknown()) return false;

    // The sources: one file, or every file a glob selects.
    std::vector<std::pair<fs::path, std::string>> selected;  // path, relative name
    const bool glob = source.find_first_of("*?") != std::string::npos;
    std::string pattern = Slashes(source, '\\', '/');
    if (!glob) {
      fs::path path = l.Resolve(pattern);
      std::error_code ec;
      if (!fs::is_regular_file(path, ec)) return l.Fail(t.Key("source"), pattern + ": no such file");
      std::string entryName = name.empty() ? path.filename().string() : Slashes(name, '/', '\\');
      selected.emplace_back(path, entryName);
    } else {
      std::vector<std::string> parts = SplitSlash(pattern);
      size_t fixed = 0;
      while (fixed < parts.size() && parts[fixed].find_first_of("*?") == std::string::npos) ++fixed;
      std::string base;
      for (size_t i = 0; i < fixed; ++i) base += (i ? "/" : "") + parts[i];
      std::vector<std::string> rest(parts.begin() + (ptrdiff_t)fixed, parts.end());
      fs::path basePath = l.Resolve(base.empty() ? "." : base);
      std::error_code ec;
      if (!fs::is_directory(basePath, ec)) return l.Fail(t.Key("source"), base + ": no such directory");
      std::vector<std::string> found;
      for (fs::recursive_directory_iterator it(basePath, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        std::string relative = Slashes(fs::relative(it->path(), basePath, ec).generic_string(), '\\', '/');
        if (GlobMatchFrom(rest, 0, SplitSlash(relative), 0)) found.push_back(relative);
      }
      if (ec) return l.Fail(t.Key("source"), base + ": " + ec.message());
      if (found.empty()) return l.Fail(t.Key("source"), pattern + " matches no file");
      std::sort(found.begin(), found.end());
      std::string prefix = Slashes(name, '/', '\\');
      if (!prefix.empty() && prefix.back() != '\\') prefix += '\\';
      for (const std::string& relative : found)
        selected.emplace_back(basePath / relative, prefix + Slashes(relative, '/', '\\'));
    }
    for (auto& [path, entryName] : selected) {
      EntryInput entry = e;
      std::string why;
      if (!l.Convert(t.Key("source"), entryName, entry.name)) return false;
      if (!SafeEntryName(entry.name, why)) return l.Fail(t.Key(glob ? "source" : "name"), why);
      std::vector<unsigned char> data;
      if (!ReadWholeFile(path.string(), data, why)) return l.Fail(t.Key("source"), why);
      if (data.size() > kMaxEntrySize) return l.Fail(t.Key("source"), path.string() + " is larger than 1 GiB");
      entry.data = std::move(data);
      if (!dated && !FileDateTime(path, entry.time))
        return l.Fail(t.Key("source"), path.string() + ": cannot read its modification time");
      p.entries.push_back(std::move(entry));
      p.sources.push_back(path.string());
    }
  }
  return true;
}

}  // namespace

const std::vector<FlagName>& FlagNames() { return kFlagNames; }

bool GlobMatch(const std::string& pattern, const std::string& path) {
  return GlobMatchFrom(SplitSlash(pattern), 0, SplitSlash(path), 0);
}

bool ParseDateTimeText(const std::string& text, ArchiveDateTime& t) {
  int y, mo, d, h = -1, mi = 0, s = 0, used = 0;
  if (sscanf(text.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &used) == 3 && (size_t)used == text.size()) {
  } else if (sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d%n", &y, &mo, &d, &h, &mi, &used) == 5 &&
             (size_t)used == text.size()) {
  } else if (sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &s, &used) == 6 &&
             (size_t)used == text.size()) {
  } else {
    return false;
  }
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59) return false;
  t = {y, mo, d, h, mi, s};
  return true;
}

bool LoadProject(const std::string& path, Project& project, std::string& error) {
  project = Project();
  Loader l;
  l.file = path;
  l.directory = fs::path(path).parent_path();
  toml::table doc;
  try {
    doc = toml::parse_file(path);
  } catch (const toml::parse_error& e) {
    error = path + ":" + std::to_string(e.source().begin.line) + ":" + std::to_string(e.source().begin.column) +
            ": " + std::string(e.description());
    return false;
  }
  Table root(l, &doc, "");
  std::string encoding = "windows-1252";
  bool ok = root.Text("text_encoding", encoding);
  if (ok && encoding != "windows-1252" && encoding != "bytes")
    ok = l.Fail("text_encoding", "expected \"windows-1252\" or \"bytes\"");
  l.rawText = encoding == "bytes";
  ArchiveSettings& s = project.settings;
  ok = ok && LoadFlags(l, root.Sub("flags"), s) && LoadProduct(l, root.Sub("product"), s) &&
       LoadDialogs(l, root.Sub("dialogs"), s) && LoadBackground(l, root.Sub("background"), s) &&
       LoadShortcutsTable(l, root.Sub("shortcuts"), s) && LoadBatches(root.Sub("batches"), s) &&
       LoadUninstall(l, root.Sub("uninstall"), s) && LoadData(l, root.Sub("data"), project) &&
       LoadRecordLists(l, root, s) && LoadLanguages(l, root, s) && LoadFiles(l, root, project) &&
       root.CheckUnknown();
  if (ok && s.Flag(kFlagAddOn) == false && !s.masterProductName.IsEmpty())
    ok = l.Fail("product.master_product", "needs flags.add_on = true");
  if (ok) {
    std::string problem = CheckSettingsForWriting(s);
    if (!problem.empty() && !(problem == "the volume base name is blank" && !project.volumeBaseNameSet))
      ok = l.Fail("project", problem);
  }
  if (!ok) {
    error = l.error.empty() ? path + ": invalid project" : l.error;
    return false;
  }
  return true;
}
