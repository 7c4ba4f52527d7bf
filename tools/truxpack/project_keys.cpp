#include "tools/truxpack/project_keys.h"

#include <stdint.h>

#include "archive/format.h"

namespace {

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

const std::vector<Choice> kTextEncodings = {{"windows-1252", 0}, {"bytes", 1}};
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
const std::vector<Choice> kLevels = {{"fast", 0}, {"best", 1}};
const std::vector<Choice> kEnglishPlaces = {{"first", 0}, {"last", 1}, {"none", 2}};
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
const std::vector<Choice> kConditions = {{"always", 0},       {"date_equal", 1},    {"date_after", 2},
                                         {"date_before", 3},  {"size_equal", 4},    {"size_at_least", 5},
                                         {"size_at_most", 6}};
const std::vector<Choice> kValueTypes = {{"string", 1}, {"expand", 2}, {"number", 4}};
const std::vector<Choice> kSigningHashes = {{"sha1", 1}, {"sha256", 256}, {"sha384", 384}, {"sha512", 512}};

constexpr int64_t kU8 = 0xFF, kU32 = 0xFFFFFFFFll;

ProjectKey K(const char* table, const char* name, KeyKind kind, const char* help) {
  ProjectKey k{};
  k.table = table;
  k.name = name;
  k.kind = kind;
  k.help = help;
  return k;
}

std::vector<ProjectKey> MakeProjectKeys() {
  using enum KeyKind;
  std::vector<ProjectKey> k = {
      K("", "text_encoding", kName,
        "how texts are stored: \"windows-1252\" (converted from UTF-8, the default) or \"bytes\" (unchanged)")
          .Names(kTextEncodings),
      K("", "product", kTable, "the product: its name, publisher, version and where it installs").Required(),
      K("product", "name", kText, "the product's name: <product> in messages, DisplayName").Required(),
      K("product", "publisher", kText, "the publisher (Publisher)"),
      K("product", "version", kText, "the product's version (DisplayVersion, %Version%)"),
      K("product", "install_dir", kText,
        "default installation directory; relative: under Program Files; empty: the product name there; "
        "<os>, <master>, HKLM\\... or HKCU\\... registry values allowed"),
      K("product", "start_menu", kText, "the start-menu folder (ProductStartMenu); empty: publisher\\name"),
      K("product", "shared_dir", kText, "the shared files' folder under Common Files (SharedPath)"),
      K("product", "registry_key", kText, "the product's key under Software\\ (ProductRegistry)"),
      K("product", "uninstall_name", kText, "the name of the uninstall entry; empty: the product name"),
      K("product", "master_product", kText, "the product this add-on belongs to; needs flags.add_on"),
      K("product", "password", kText, "the installation password; empty: none"),
      K("product", "minimum_version", kText,
        "the oldest installed version this one installs over; with flags.check_minimum_version"),
      K("product", "administrator", kChoice, "administrator requirement: none, required, recommended or a number")
          .Names(kAdministrator)
          .Range(0, kU8),
      K("product", "excluded_systems", kNameSet, "systems the product refuses to install on, or a bit mask")
          .Names(kSystems)
          .Range(0, kU32),
      K("", "flags", kTable, "the 64-bit flag word: one key per named bit, each true or false (default)"),
  };
  for (const FlagName& f : FlagNames()) k.push_back(K("flags", f.key, kBool, f.meaning));
  std::vector<ProjectKey> rest = {
      K("flags", "raw_flags", kFlagWord,
        "further bits ORed into the word: a number, or a text \"0x...\" (for bit 63)"),
      K("", "dialogs", kTable, "the progress dialog and the licence and readme pages"),
      K("dialogs", "position", kChoice,
        "where the progress dialog stands: center, top_left, ..., leave, or a number")
          .Names(kPositions)
          .Range(0, kU32),
      K("dialogs", "stage_pause", kInteger, "milliseconds per progress stage").Range(0, kMaxStagePause),
      K("dialogs", "license_files", kTextList, "licence texts, one page per file").Range(0, kMaxLicenseTexts),
      K("dialogs", "readme_files", kTextList, "readme texts, one page per file").Range(0, kMaxReadmeTexts),
      K("", "background", kTable, "the background window: colours, title, picture"),
      K("background", "taskbar_text", kText, "the background window's text on the taskbar"),
      K("background", "title_font", kText, "the title's font (default \"Times New Roman Bold Italic\")"),
      K("background", "title_color", kColor, "the title's colour: \"#RRGGBB\" or a COLORREF number"),
      K("background", "top_color", kColor, "the gradient's top colour: \"#RRGGBB\" or a COLORREF number"),
      K("background", "bottom_color", kColor, "the gradient's bottom colour: \"#RRGGBB\" or a COLORREF number"),
      K("background", "title_shadow", kInteger, "the title's shadow offset in pixels (0: none; default 1)")
          .Range(0, kU8),
      K("background", "title_position", kChoice, "where the title stands: none, top_left, ..., or a number")
          .Names(kTitlePositions)
          .Range(0, kU8),
      K("background", "stretch_mode", kChoice,
        "how the picture fills its place: stretch, fit, whole_factor (default), tile, or a number")
          .Names(kStretch)
          .Range(0, kU32),
      K("background", "bitmap_size", kInteger, "the picture's size in percent of the window").Range(0, kMaxBitmapSize),
      K("background", "bitmap", kFile, "the background picture: a .BMP file"),
      K("", "shortcuts", kTable, "where the shortcuts go"),
      K("shortcuts", "all_users", kBool, "shortcuts in the all-users folders"),
      K("shortcuts", "desktop_folder", kText, "the desktop shortcut folder's name"),
      K("shortcuts", "desktop_folder_icon", kFile, "the desktop folder's icon: an .ico file; needs desktop_folder"),
      K("", "batches", kTable, "batch commands run during the installation and the uninstallation"),
      K("batches", "pre_install", kText, "run before the files are written"),
      K("batches", "post_install", kText, "run after the files are written"),
      K("batches", "on_exit", kText, "run when the installer ends"),
      K("batches", "uninstall_first", kText, "run before the uninstaller removes anything"),
      K("batches", "uninstall_last", kText, "run after the uninstaller is done"),
      K("", "uninstall", kTable, "the uninstaller"),
      K("uninstall", "subdir", kText, "the uninstaller's folder below the installation directory"),
      K("uninstall", "program", kText, "the uninstaller's file name (default \"Uninstall.exe\")"),
      K("uninstall", "file_time", kDate, "the uninstaller's date and time"),
      K("uninstall", "patch_offset", kInteger, "where the patch file's bytes go in the uninstaller")
          .Range(0, INT32_MAX),
      K("uninstall", "patch_file", kFile, "bytes written over the uninstaller at patch_offset; needs flags.uninstaller"),
      K("", "data", kTable, "how the data region is stored: in the image, after it, or in volume files"),
      K("data", "outside_image", kBool, "keep the data region after the image instead of in it"),
      K("data", "volume_base_name", kText, "volume files' name before \"2.XAV\", ... (a plain file name)"),
      K("data", "volume_identifier", kInteger, "volume 2's 32-bit identifier; each further volume one more")
          .Range(0, kU32),
      K("data", "volume_size", kInteger, "bytes per data-region piece (0: no volume files)").Range(0, INT32_MAX),
      K("data", "level", kChoice, "compression level: fast or best (default)").Names(kLevels).Range(0, 1),
      K("data", "time_zone", kPattern, "the fixed zone entry times are written in: \"UTC\" (default) or \"+HH:MM\"")
          .Pattern("^(|UTC|Z|[+-](0[0-9]|1[0-4]):[0-5][0-9])$"),
      K("data", "reserved_date", kPattern, "the reserved date record: 40 hexadecimal digits")
          .Pattern("^[0-9A-Fa-f]{40}$"),
      K("", "signing", kTable, "how the build is signed; nothing of it enters the installer"),
      K("signing", "certificate", kPath, "PEM certificate chain, the signer's certificate first (with key)"),
      K("signing", "key", kPath, "PEM private key (with certificate)"),
      K("signing", "pkcs12", kPath, "PKCS#12 file holding the key and its chain (instead of certificate and key)"),
      K("signing", "password_file", kPath, "file holding the key's password"),
      K("signing", "password_env", kPattern, "environment variable holding the key's password")
          .Pattern("^[A-Za-z_][A-Za-z0-9_]*$"),
      K("signing", "command", kPattern, "command that signs {file} in place (hardware or cloud keys)")
          .Pattern("\\{file\\}"),
      K("signing", "hash", kName, "digest of the signature with key files: sha1, sha256 (default), sha384 or sha512")
          .Names(kSigningHashes),
      K("signing", "timestamp_url", kPattern, "RFC 3161 timestamp server, with key files")
          .Pattern("^https?://[^ \\t\\r\\n]*$"),
      K("signing", "uninstaller", kBool, "sign the uninstaller too (default true)"),
      K("", "languages", kTable, "further languages"),
      K("languages", "files", kTextList, "language files in list order; each has name and [messages]"),
      K("languages", "english", kName, "where English goes: first (default), last or none").Names(kEnglishPlaces),
      K("", "messages", kMessages, "English message texts by number, overriding the built-in ones"),
      K("", "file", kTableList, "the product's files (entry records)"),
      K("file", "source", kPath, "a file, or a glob (*, ?, ** for any folders) selecting many").Required(),
      K("file", "name", kPath, "a single file's destination name, or the folder a glob's files go under"),
      K("file", "kind", kChoice,
        "install (default), shared, font, startup, system, com_server, type_library, versioned, or a number")
          .Names(kKinds)
          .Range(0, 9),
      K("file", "overwrite", kChoice, "normal (default), never, replace_only or keep").Names(kOverwrite).Range(0, 0xC),
      K("file", "desktop_shortcut", kBool, "a desktop shortcut to this file"),
      K("file", "start_menu_shortcut", kBool, "a start-menu shortcut to this file"),
      K("file", "permanent", kBool, "never removed by the uninstaller"),
      K("file", "to_uninstall_dir", kBool, "installed in the uninstall directory"),
      K("file", "version", kText, "the file's version (text 1; one of version, font_name, shortcut_name)"),
      K("file", "font_name", kText, "the font's name (text 1)"),
      K("file", "shortcut_name", kText, "the shortcut's name (text 1)"),
      K("file", "shortcut_icon", kText, "the shortcut's icon; needs a shortcut flag"),
      K("file", "shortcut_arguments", kText, "the shortcut's arguments"),
      K("file", "destination", kText, "a destination override: a file name, or a path with path variables"),
      K("file", "shortcut_working_dir", kText, "the shortcut's working directory"),
      K("file", "date", kDate, "the entry's date and time (default: the source's modification time)"),
      K("file", "raw_flags", kInteger, "further entry flag bits").Range(0, kU32),
      K("file", "attributes", kNameSet,
        "readonly, hidden, system, archive, normal, or a number (default: leave the attributes alone)")
          .Names(kAttributes)
          .Range(0, kU32),
      K("file", "exclude", kTextList, "glob patterns of files the source glob leaves out"),
      K("file", "follow_outside_links", kBool, "pack links that leave the glob's tree (default: refused)"),
      K("", "delete", kTableList, "files deleted before the installation (at most 1001)"),
      K("delete", "files", kText, "the files to delete (a path with wildcards)").Required(),
      K("delete", "condition", kChoice, "always (default), date_equal, date_after, ..., size_at_most, or a number")
          .Names(kConditions)
          .Range(0, kU8),
      K("delete", "argument", kText, "the condition's date (month/day/year) or byte count"),
      K("delete", "on_reboot", kBool, "delete at the next restart"),
      K("delete", "options", kInteger, "further option bits").Range(0, kU32),
      K("", "association", kTableList, "file associations"),
      K("association", "extension", kText, "the extension, such as \".txt\"").Required(),
      K("association", "file_type", kText, "the file type's name"),
      K("association", "description", kText, "the file type's description"),
      K("association", "verb", kText, "the verb, such as \"open\"").Required(),
      K("association", "caption", kText, "the verb's caption"),
      K("association", "command", kText, "the command line"),
      K("association", "language", kText, "the language"),
      K("association", "icon", kText, "the icon"),
      K("association", "default_verb", kBool, "the verb is the default one"),
      K("association", "flags", kInteger, "further flag bits").Range(0, kU32),
      K("", "shortcut", kTableList, "shortcuts to anything"),
      K("shortcut", "target", kText, "what the shortcut opens (path variables allowed)").Required(),
      K("shortcut", "name", kText, "the shortcut's name"),
      K("shortcut", "icon", kText, "the icon file"),
      K("shortcut", "arguments", kText, "the arguments"),
      K("shortcut", "working_dir", kText, "the working directory"),
      K("shortcut", "desktop", kBool, "on the desktop"),
      K("shortcut", "start_menu", kBool, "in the start menu"),
      K("shortcut", "startup", kBool, "in the startup folder"),
      K("shortcut", "permanent", kBool, "kept by the uninstaller"),
      K("", "uninstall_value", kTableList, "further values of the Uninstall key"),
      K("uninstall_value", "name", kText, "the value's name").Required(),
      K("uninstall_value", "value", kText, "the value's data"),
      K("uninstall_value", "type", kChoice, "string (default), expand, number, or a number")
          .Names(kValueTypes)
          .Range(0, kU8),
  };
  k.insert(k.end(), rest.begin(), rest.end());
  return k;
}

}  // namespace

KeyTable::KeyTable(std::vector<ProjectKey> keys) : keys_(std::move(keys)) {
  for (size_t i = 0; i < keys_.size(); ++i) index_[{keys_[i].table, keys_[i].name}] = i;
}

const ProjectKey* KeyTable::Find(const std::string& table, const std::string& name) const {
  auto at = index_.find({table, name});
  return at == index_.end() ? nullptr : &keys_[at->second];
}

std::string KeyTable::Inner(const ProjectKey& key) {
  return key.table[0] ? std::string(key.table) + "." + key.name : std::string(key.name);
}

const std::vector<FlagName>& FlagNames() { return kFlagNames; }

const KeyTable& ProjectKeys() {
  static const KeyTable table(MakeProjectKeys());
  return table;
}

const KeyTable& LanguageFileKeys() {
  static const KeyTable table({
      K("", "name", KeyKind::kText, "the language's name as the installer's list shows it").Required(),
      K("", "messages", KeyKind::kMessages, "the language's message texts by number"),
  });
  return table;
}

std::string ChoiceNames(const ProjectKey& key, const char* lastJoin, bool quoted) {
  std::string names;
  if (!key.choices) return names;
  const std::vector<Choice>& c = *key.choices;
  const char* quote = quoted ? "\"" : "";
  for (size_t i = 0; i < c.size(); ++i)
    names += std::string(i == 0 ? "" : i + 1 == c.size() ? lastJoin : ", ") + quote + c[i].name + quote;
  return names;
}
