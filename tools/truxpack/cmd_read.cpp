// list, verify and extract: the commands that read an installer back.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>

#include "archive/record_rules.h"
#include "tools/truxpack/authenticode.h"
#include "tools/truxpack/cli.h"
#include "tools/truxpack/cmd_archive.h"
#include "tools/truxpack/core_string.h"
#include "tools/truxpack/file_io.h"
#include "tools/truxpack/installer_reader.h"
#include "tools/truxpack/json_text.h"
#include "tools/truxpack/list_actions.h"
#include "tools/truxpack/names.h"
#include "tools/truxpack/project_keys.h"
#include "tools/truxpack/text_encoding.h"
#include "tools/truxpack/tool_info.h"

namespace fs = std::filesystem;

const Option kMaxSizeOption = {"max-size", 0, "BYTES",
                               "largest settings block, compressed data region (packed or unpacked) or entry table to "
                               "accept (default 1G); a stored data region is streamed and needs no limit"};

const CommandHelp kListCommand = {
    "list", "setup.exe",
    "Shows the installer's header, settings, records and entries.\n"
    "Header, settings summary, languages, the product key, shortcut settings and requests, file associations, "
    "entries (size, kind, destination, name), then the shared files with their role (plain, permanent, "
    "com_server, type_library) and the entries' shortcut requests.",
    {{"json", 0, nullptr, "print everything as one JSON document (its fields: the guide, truxpack.md)"}, kMaxSizeOption},
    1, 1, {"*.exe"}};
const CommandHelp kVerifyCommand = {
    "verify", "setup.exe",
    "Checks every count, limit and checksum the runtime checks; on failure names the runtime's error code.\n"
    "Reports the installer's signature and the signature of the uninstaller the runtime will write; a "
    "signature that does not hold is a failure.",
    {kMaxSizeOption,
     {"write-uninstaller", 0, "FILE", "also write the uninstaller the runtime will derive to FILE (to check it with other tools)",
      "*.exe"}},
    1, 1, {"*.exe"}};
const CommandHelp kExtractCommand = {
    "extract", "setup.exe DIR",
    "Writes the installer's files below DIR with their date-times (for inspection; no Windows actions).\n"
    "Existing files and entries with the same name are errors unless --force is given.",
    {{"force", 'f', nullptr, "overwrite existing files; of entries with the same name the last one wins"},
     kMaxSizeOption},
    2, 2, {"*.exe", "dir"}};

namespace {

std::string Hex(uint64_t v) {
  char text[24];
  snprintf(text, sizeof text, "0x%llX", (unsigned long long)v);
  return text;
}

const char* KindName(int32_t kind) {
  switch (kind) {
    case kKindInstallDir: return "install";
    case kKindSharedDir: return "shared";
    case kKindFont: return "font";
    case kKindStartup: return "startup";
    case kKindSystemPermanent: return "system";
    case kKindComServer: return "com_server";
    case kKindTypeLibrary: return "type_library";
    case kKindVersioned: return "versioned";
    default: return "invalid";
  }
}

// Where the runtime will put an entry, in path-variable form.
std::string Destination(const ReadEntry& e) {
  const std::string name = Str(e.InstalledName());
  if (e.HasDestinationPath()) {
    std::string path = Str(e.DestinationOverride());
    if (path.back() == '\\') path += name.substr(name.rfind('\\') == std::string::npos ? 0 : name.rfind('\\') + 1);
    return path;
  }
  if (e.flags & kEntryToUninstallDir) return "%UninstallDir%\\" + name;
  switch (e.kind) {
    case kKindSharedDir: return "%SharedDir%\\" + name;
    case kKindFont: return "%FontDir%\\" + name;
    case kKindSystemPermanent:
    case kKindComServer:
    case kKindTypeLibrary: return "%SystemDir%\\" + name;
    default: return "%InstallDir%\\" + name;
  }
}


// The entry's fields beyond size, kind and destination, as the installer
// reads them: overwrite mode, flags, attributes, the kind's text 1 and the
// date-time. Empty when every field has its default.
std::string EntryDetails(const ReadEntry& e) {
  std::string out;
  auto add = [&out](const std::string& part) { out += (out.empty() ? "" : "; ") + part; };
  switch (e.flags & kEntryOverwriteMask) {
    case kEntryNeverExtract: add("overwrite never"); break;
    case kEntryReplaceOnly: add("overwrite replace_only"); break;
    case kEntryKeepExisting: add("overwrite keep"); break;
    default: break;
  }
  if (e.flags & kEntryPermanent) add("permanent");
  if (e.flags & kEntryToUninstallDir) add("to the uninstall directory");
  const uint32_t known = kEntryDesktopShortcut | kEntryStartMenuShortcut | kEntryOverwriteMask | kEntryPermanent |
                         kEntryToUninstallDir;
  if (e.flags & ~known) add("raw flags " + Hex(e.flags & ~known));
  if (e.attributes != kKeepAttributes) add("attributes " + Hex(e.attributes));
  if (e.kind == kKindFont && !e.FontName().IsEmpty()) {
    add("font \"" + PrintableName(Str(e.FontName())) + "\"");
  } else if (e.kind >= kKindSystemPermanent && e.kind <= kKindVersioned && !e.VersionText().IsEmpty()) {
    add("version " + PrintableName(Str(e.VersionText())));
  }
  if (e.HasNewFileName()) add("renamed");
  const ArchiveDateTime& t = e.dateTime;
  char when[64];
  if (t.month == 0) {
    add("no date");
  } else if (t.hour < 0) {
    snprintf(when, sizeof when, "date %04d-%02d-%02d", t.year, t.month, t.day);
    add(when);
  } else {
    snprintf(when, sizeof when, "date %04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
             t.second);
    add(when);
  }
  return out;
}

const char* ConditionName(uint8_t condition) {
  switch (condition) {
    case kDeleteOnDate: return "date_equal";
    case kDeleteFromDate: return "date_after";
    case kDeleteUntilDate: return "date_before";
    case kDeleteSizeEquals: return "size_equal";
    case kDeleteSizeAtLeast: return "size_at_least";
    case kDeleteSizeAtMost: return "size_at_most";
    default: return "always";
  }
}

void PrintDeletions(const ArchiveSettings& s) {
  if (s.deletions.Count() == 0) return;
  printf("deletions      (applied before the files, in this order)\n");
  for (int32_t i = 0; i < s.deletions.Count(); ++i) {
    const FileDeletion& d = s.deletions[i];
    std::string line = "  " + PrintableName(Str(d.specification)) + "  " + ConditionName(d.condition);
    if (d.condition >= kDeleteOnDate && d.condition <= kDeleteSizeAtMost)
      line += " \"" + PrintableName(Str(d.argument)) + "\"";
    if (d.options & kDeletionScheduleOnFailure) line += "  on_reboot";
    if (d.options & ~kDeletionScheduleOnFailure) line += "  raw options " + Hex(d.options & ~kDeletionScheduleOnFailure);
    printf("%s\n", line.c_str());
  }
}

// Volume files are read only beside the installer, and only as regular
// files (the reader refuses names with path parts). Each is opened once and
// kept open: every later pass over the data region reads the file the first
// pass checked, whatever happens to its name meanwhile.
VolumeOpener VolumesBeside(const std::string& installer) {
  fs::path directory = fs::path(installer).parent_path();
  // One descriptor per volume for the whole command: as many as the system
  // lets this process have.
  struct rlimit files;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  auto kept = std::make_shared<std::map<std::string, std::unique_ptr<FileSource>>>();
  return [directory, kept](const std::string& name) -> std::unique_ptr<ByteSource> {
    if (!IsPlainFileName(name)) return nullptr;
    auto at = kept->find(name);
    if (at == kept->end()) {
      std::string ignored;
      std::unique_ptr<FileSource> opened = OpenFileSource((directory / name).string(), ignored);
      if (!opened) return nullptr;
      at = kept->emplace(name, std::move(opened)).first;
    }
    return at->second->View();
  };
}

constexpr uint64_t kLargestMaxSize = 1ull << 40;

// --max-size, or the default; false (after saying why) for a value that is
// not a byte count the tool takes.
bool MaxSize(const char* command, const ParsedArgs& args, uint64_t& limit) {
  limit = kDefaultMaxUnpacked;
  if (!args.Has("max-size") || ParseSize(args.Get("max-size"), kLargestMaxSize, limit)) return true;
  fprintf(stderr,
          "truxpack %s: --max-size: expected a byte count (digits with an optional K, M or G suffix) of at most "
          "1024G, not \"%s\"\n",
          command, PrintablePath(args.Get("max-size")).c_str());
  return false;
}

// An installer opened for reading, with what ReadInstaller found in it.
struct OpenedInstaller {
  std::unique_ptr<FileSource> file;
  VolumeOpener volumes;
  InstallerContents contents;
  FileIdentity identity;
};

bool ReadInstallerFile(const std::string& path, uint64_t limit, OpenedInstaller& in, std::string& error,
                       const char* verb) {
  in.file = OpenFileSource(path, error, &in.identity);
  if (!in.file) {
    error = PrintablePath(error);
    return false;
  }
  if (in.file->Size() > (uint64_t)INT32_MAX) {
    error = PrintablePath(path) + ": " + std::to_string(in.file->Size()) +
            " bytes, more than the 2147483647 an installer may have";
    return false;
  }
  in.volumes = VolumesBeside(path);
  const std::string shown = std::string(verb) + " " + PrintablePath(path);
  Progress progress(shown, 0, 0);
  int lastStep = -1;
  ReadInstaller(*in.file, in.volumes, in.contents, limit,
                [&](ReadStep step, uint64_t done, uint64_t total, uint64_t files, uint64_t totalFiles) {
                  if (step != lastStep) {
                    progress.Stage(shown + (step == kChecksumStep ? ", data checksum:" : ", entries:"));
                    lastStep = step;
                  }
                  progress.Set(done, total, files, totalFiles);
                });
  if (in.contents.status == ReadStatus::kOk) progress.Done();
  return true;
}

// A JSON text of Windows-1252 bytes, read as Windows reads them: the five
// bytes without a character are U+0081, U+008D, U+008F, U+0090 and U+009D,
// which no other name can imitate.
std::string Json(const std::string& cp1252) { return JsonQuote(Cp1252ToUtf8AsWindows(cp1252)); }
std::string Json(const String& s) { return Json(Str(s)); }

std::string JsonTime(const ArchiveDateTime& t) {
  char text[48];
  if (t.hour < 0)
    snprintf(text, sizeof text, "\"%04d-%02d-%02d\"", t.year, t.month, t.day);
  else
    snprintf(text, sizeof text, "\"%04d-%02d-%02dT%02d:%02d:%02d\"", t.year, t.month, t.day, t.hour, t.minute,
             t.second);
  return text;
}

std::string JsonTexts(const Array<String>& list) {
  std::string out = "[";
  for (int32_t i = 0; i < list.Count(); ++i) out += (i ? ", " : "") + Json(list[i]);
  return out + "]";
}

// One signature in a line: state, hash, signer, issuer, validity, timestamp.
std::string SignatureText(const SignatureCheck& s) {
  if (s.state == SignatureCheck::State::kNone) return "none";
  std::string text = SignatureStateName(s.state);
  if (s.state == SignatureCheck::State::kInvalid) text += " (" + s.problem + ")";
  if (!s.hash.empty()) text += ", " + s.hash;
  if (!s.signer.empty())
    text += ", signed by " + PrintablePath(s.signer) + ", issued by " + PrintablePath(s.issuer) + ", certificate valid " +
            s.notBefore + " to " + s.notAfter + (s.timestamped ? ", timestamped" : ", no timestamp");
  return text;
}

void PrintSignatures(const InstallerSignatures& s) {
  printf("signature      installer: %s\n", SignatureText(s.installer).c_str());
  if (!s.uninstallerWritten)
    printf("               uninstaller: none written (flags.uninstaller is off)\n");
  else if (!s.uninstallerUnchecked.empty())
    printf("               uninstaller: not checked: %s\n", s.uninstallerUnchecked.c_str());
  else
    printf("               uninstaller: %s\n", SignatureText(s.uninstaller).c_str());
}

std::string SignatureJson(const SignatureCheck& s) {
  char table[64];
  snprintf(table, sizeof table, "\"table_offset\": %u, \"table_size\": %u", s.tableOffset, s.tableSize);
  return std::string("{\"state\": \"") + SignatureStateName(s.state) + "\", \"problem\": " + JsonQuote(s.problem) +
         ", \"hash\": " + JsonQuote(s.hash) + ", \"signer\": " + JsonQuote(s.signer) +
         ", \"issuer\": " + JsonQuote(s.issuer) + ", \"not_before\": " + JsonQuote(s.notBefore) +
         ", \"not_after\": " + JsonQuote(s.notAfter) + ", \"timestamped\": " + (s.timestamped ? "true" : "false") +
         ", " + table + "}";
}

void PrintJson(const std::string& path, size_t fileSize, const InstallerContents& c, const InstallerSignatures& sig) {
  const ArchiveHeader& h = c.header;
  const ArchiveSettings& s = c.settings;
  printf("{\n  \"schema\": 1,\n  \"tool\": {\"name\": \"truxpack\", \"version\": %s},\n", JsonQuote(ToolVersion()).c_str());
  printf("  \"installer\": {\"file\": %s, \"size\": %zu},\n", JsonQuote(path).c_str(), fileSize);
  printf("  \"header\": {\"format_version\": %d, \"entry_count\": %d, \"settings_packed_size\": %d, "
         "\"data_region_size\": %d, \"section_archive_size\": %d},\n",
         h.formatVersion, h.entryCount, h.settingsPackedSize, h.dataRegionSize, h.sectionArchiveSize);
  std::string flagNames;
  for (const FlagName& f : FlagNames())
    if (s.Flag(f.bit)) flagNames += std::string(flagNames.empty() ? "" : ", ") + "\"" + f.key + "\"";
  printf("  \"settings\": {\n");
  printf("    \"flags\": \"%s\", \"flag_names\": [%s],\n", Hex(s.Flags).c_str(), flagNames.c_str());
  printf("    \"product\": %s, \"publisher\": %s, \"version\": %s, \"install_dir\": %s,\n", Json(s.productName).c_str(),
         Json(s.Publisher).c_str(), Json(s.DisplayVersion).c_str(), Json(s.defaultInstallDir).c_str());
  printf("    \"start_menu\": %s, \"shared_dir\": %s, \"registry_key\": %s, \"uninstall_name\": %s,\n",
         Json(s.ProductStartMenu).c_str(), Json(s.SharedPath).c_str(), Json(s.ProductRegistry).c_str(),
         Json(s.uninstallName).c_str());
  printf("    \"master_product\": %s, \"minimum_version\": %s, \"password_set\": %s, \"administrator\": %d, "
         "\"excluded_systems\": %u,\n",
         Json(s.masterProductName).c_str(), Json(s.minimumVersion).c_str(), s.password.IsEmpty() ? "false" : "true",
         s.adminRequirement, s.excludedSystems);
  printf("    \"taskbar_text\": %s, \"dialog_position\": %u, \"stage_pause\": %u, \"shortcut_mode\": %u,\n",
         Json(s.TaskbarText).c_str(), s.DialogPosition, s.StagePause, s.ShortcutMode);
  printf("    \"title_font\": %s, \"title_color\": %u, \"title_shadow\": %u, \"title_position\": %u, "
         "\"top_color\": %u, \"bottom_color\": %u, \"stretch_mode\": %u, \"bitmap_size\": %u, "
         "\"background_bitmap_bytes\": %d,\n",
         Json(s.TitleFont).c_str(), s.TitleColor, s.TitleShadow, s.TitlePosition, s.TopColor, s.BottomColor,
         s.StretchMode, s.BitmapSize, s.backgroundBitmap.Length());
  printf("    \"desktop_folder\": %s, \"desktop_folder_icon_bytes\": %d,\n", Json(s.desktopShortcutName).c_str(),
         s.desktopShortcutIcon.Length());
  printf("    \"batches\": {\"pre_install\": %s, \"post_install\": %s, \"on_exit\": %s, \"uninstall_first\": %s, "
         "\"uninstall_last\": %s},\n",
         Json(s.batches[0]).c_str(), Json(s.batches[1]).c_str(), Json(s.batches[2]).c_str(),
         Json(s.UninstallBatch1).c_str(), Json(s.UninstallBatch2).c_str());
  printf("    \"uninstall\": {\"subdir\": %s, \"program\": %s, \"file_time\": %s, \"patch_offset\": %d, "
         "\"patch_bytes\": %d},\n",
         Json(s.UninstallSubdir).c_str(), Json(s.uninstallerFileName).c_str(), JsonTime(s.UninstallerFileTime).c_str(),
         s.patchOffset, s.patchBytes.Length());
  printf("    \"data\": {\"compressed\": %s, \"outside_image\": %s, \"volume_base_name\": %s, "
         "\"volume_identifier\": %u, \"volumes_read\": %d},\n",
         s.Flag(kFlagCompressedRegion) ? "true" : "false", s.dataOutsideImage ? "true" : "false",
         Json(s.volumeBaseName).c_str(), s.volumeIdentifier, c.volumesRead);
  printf("    \"license_texts\": %s,\n    \"readme_texts\": %s,\n", JsonTexts(s.licenseTexts).c_str(),
         JsonTexts(s.readmeTexts).c_str());
  printf("    \"languages\": %s, \"message_count\": %d,\n", JsonTexts(s.languageNames).c_str(), s.messageCount);
  printf("    \"messages\": [");
  for (int32_t i = 0; i < s.messages.Count(); ++i) printf("%s%s", i ? ", " : "", Json(s.messages[i]).c_str());
  printf("]\n  },\n  \"records\": {\n    \"deletions\": [");
  for (int32_t i = 0; i < s.deletions.Count(); ++i) {
    const FileDeletion& d = s.deletions[i];
    printf("%s\n      {\"files\": %s, \"condition\": %u, \"argument\": %s, \"options\": %u}", i ? "," : "",
           Json(d.specification).c_str(), d.condition, Json(d.argument).c_str(), d.options);
  }
  printf("],\n    \"associations\": [");
  for (int32_t i = 0; i < s.associations.Count(); ++i) {
    const FileAssociation& a = s.associations[i];
    printf("%s\n      {\"number\": %u, \"texts\": [", i ? "," : "", a.number);
    for (int k = 0; k < 8; ++k) printf("%s%s", k ? ", " : "", Json(a.texts[k]).c_str());
    printf("]}");
  }
  printf("],\n    \"shortcuts\": [");
  for (int32_t i = 0; i < s.shortcuts.Count(); ++i) {
    const ShortcutRecord& r = s.shortcuts[i];
    printf("%s\n      {\"target\": %s, \"name\": %s, \"icon\": %s, \"arguments\": %s, \"working_dir\": %s, "
           "\"desktop\": %s, \"start_menu\": %s, \"startup\": %s, \"permanent\": %s}",
           i ? "," : "", Json(r.target).c_str(), Json(r.name).c_str(), Json(r.iconFile).c_str(),
           Json(r.arguments).c_str(), Json(r.workingDirectory).c_str(), r.desktop ? "true" : "false",
           r.startMenu ? "true" : "false", r.startup ? "true" : "false", r.permanent ? "true" : "false");
  }
  printf("],\n    \"uninstall_values\": [");
  for (int32_t i = 0; i < s.uninstallValues.Count(); ++i) {
    const UninstallValue& u = s.uninstallValues[i];
    printf("%s\n      {\"name\": %s, \"type\": %u, \"value\": %s}", i ? "," : "", Json(u.name).c_str(), u.type,
           Json(u.value).c_str());
  }
  printf("]\n  },\n  \"entries\": [");
  for (size_t i = 0; i < c.entries.size(); ++i) {
    const ReadEntry& e = c.entries[i];
    printf("%s\n    {\"name\": %s, \"kind\": \"%s\", \"flags\": %u, \"attributes\": %u, \"size\": %u, "
           "\"checksum\": %u, \"time\": %s, \"destination\": %s, \"texts\": [",
           i ? "," : "", Json(e.name).c_str(), KindName(e.kind), e.flags, e.attributes, e.size, e.checksum,
           JsonTime(e.dateTime).c_str(), Json(Destination(e)).c_str());
    // The texts by their place in the record, whatever their roles.
    printf("%s, %s, %s, %s, %s", Json(e.text1).c_str(), Json(e.text2).c_str(), Json(e.text3).c_str(),
           Json(e.text4).c_str(), Json(e.text5).c_str());
    printf("]}");
  }
  printf("\n  ],\n  \"signatures\": {\"installer\": %s,\n                 \"uninstaller\": %s}\n}\n",
         SignatureJson(sig.installer).c_str(),
         sig.uninstallerWritten && sig.uninstallerUnchecked.empty() ? SignatureJson(sig.uninstaller).c_str() : "null");
}

// The modification time an extracted file gets: the entry's date-time read
// in UTC, the zone builds write by default; -1 when the record holds no
// usable date.
int64_t EntryTime(const ArchiveDateTime& t) {
  if (t.year < 1970 || t.year > 9999 || t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31) return -1;
  struct tm tm;
  memset(&tm, 0, sizeof tm);
  tm.tm_year = t.year - 1900;
  tm.tm_mon = t.month - 1;
  tm.tm_mday = t.day;
  if (t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second < 62) {
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
  }
  time_t v = timegm(&tm);
  return v < 0 ? -1 : (int64_t)v;
}

}  // namespace

int RunList(int argc, char** argv) {
  ParsedArgs args;
  int code = ParseArgs(kListCommand, argc, argv, args);
  if (code >= 0) return code;
  uint64_t limit;
  if (!MaxSize("list", args, limit)) return Usage("truxpack list [--json] [--max-size BYTES] setup.exe");
  const std::string path = args.positional[0];
  OpenedInstaller in;
  std::string error;
  if (!ReadInstallerFile(path, limit, in, error, "reading")) return Fail(error);
  const InstallerContents& c = in.contents;
  const size_t fileSize = (size_t)in.file->Size();
  if (c.status == ReadStatus::kNoArchive) return Fail(PrintablePath(path) + ": " + c.message);
  if (args.Has("json")) {
    if (c.status != ReadStatus::kOk) return Fail(PrintablePath(path) + ": " + c.message);
    PrintJson(path, fileSize, c, CheckInstallerSignatures(*in.file, c, limit));
    return 0;
  }
  printf("installer      %s (%zu bytes)\n", PrintablePath(path).c_str(), fileSize);
  if (c.layout.archiveIndex >= 0)
    printf("section        .trux #%d at file offset %s, %u raw bytes, %u bytes mapped\n",
           c.layout.archiveIndex + 1, Hex(c.layout.sectionFileOffset).c_str(), c.layout.sectionRawSize,
           c.sectionBytes);
  const ArchiveHeader& h = c.header;
  if (h.magic == kArchiveMagic)
    printf("header         format %.2f, %d entries, settings %d bytes packed, data region %d bytes\n",
           h.formatVersion * 0.01, h.entryCount, h.settingsPackedSize, h.dataRegionSize);
  if (c.haveSettings) {
    const ArchiveSettings& s = c.settings;
    printf("product        %s\n", PrintableName(Str(s.productName)).c_str());
    printf("publisher      %s\n", PrintableName(Str(s.Publisher)).c_str());
    printf("version        %s\n", PrintableName(Str(s.DisplayVersion)).c_str());
    printf("install dir    %s\n", PrintableName(Str(s.defaultInstallDir)).c_str());
    std::string names;
    uint64_t named = 0;
    for (const FlagName& f : FlagNames())
      if (s.Flag(f.bit)) {
        names += std::string(names.empty() ? "" : " ") + f.key;
        named |= 1ull << f.bit;
      }
    if (s.Flags & ~named) names += (names.empty() ? "raw " : " raw ") + Hex(s.Flags & ~named);
    printf("flags          %s (%s)\n", Hex(s.Flags).c_str(), names.c_str());
    printf("data           %s, %s%s, volume base \"%s\"\n",
           s.Flag(kFlagCompressedRegion) ? "compressed" : "stored",
           s.dataOutsideImage ? "outside the image" : "in the image",
           c.volumesRead ? (", " + std::to_string(c.volumesRead) + " volumes").c_str() : "",
           PrintableName(Str(s.volumeBaseName)).c_str());
    printf("texts          %d licence, %d readme\n", s.licenseTexts.Count(), s.readmeTexts.Count());
    printf("records        %d deletions, %d associations, %d shortcuts, %d uninstall values\n", s.deletions.Count(),
           s.associations.Count(), s.shortcuts.Count(), s.uninstallValues.Count());
    std::string languages;
    for (int32_t i = 0; i < s.languageNames.Count(); ++i)
      languages += (i ? ", " : "") + PrintableName(Str(s.languageNames[i]));
    printf("languages      %s (%d messages each)\n", languages.c_str(), s.messageCount);
    PrintActionSettings(stdout, s);
    PrintDeletions(s);
  }
  if (c.status == ReadStatus::kOk) {
    printf("entries        %zu (size, kind, destination <- name)\n", c.entries.size());
    for (const ReadEntry& e : c.entries) {
      printf("  %10u  %-12s  %s  <- %s\n", e.size, KindName(e.kind), PrintableName(Destination(e)).c_str(),
             PrintableName(Str(e.name)).c_str());
      const std::string details = EntryDetails(e);
      if (!details.empty()) printf("              %s\n", details.c_str());
    }
    PrintEntryActions(stdout, c.entries, Destination);
    PrintSignatures(CheckInstallerSignatures(*in.file, c, limit));
    return 0;
  }
  return Fail(PrintablePath(path) + ": " + c.message);
}

int RunVerify(int argc, char** argv) {
  ParsedArgs args;
  int code = ParseArgs(kVerifyCommand, argc, argv, args);
  if (code >= 0) return code;
  uint64_t limit;
  if (!MaxSize("verify", args, limit)) return Usage("truxpack verify [--max-size BYTES] setup.exe");
  const std::string path = args.positional[0];
  OpenedInstaller in;
  std::string error;
  if (!ReadInstallerFile(path, limit, in, error, "verifying")) return Fail(error);
  const InstallerContents& c = in.contents;
  if (c.status != ReadStatus::kOk) return Fail(PrintablePath(path) + ": " + c.message);
  String uninstaller;
  const InstallerSignatures signatures = CheckInstallerSignatures(*in.file, c, limit, &uninstaller);
  if (args.Has("write-uninstaller")) {
    if (!signatures.uninstallerUnchecked.empty()) return Fail(PrintablePath(path) + ": " + signatures.uninstallerUnchecked);
    OutputSet out;
    out.Protect(in.identity);
    if (!out.Add(args.Get("write-uninstaller"), reinterpret_cast<const unsigned char*>(uninstaller.CStr()),
                 (size_t)uninstaller.Length(), error) ||
        !out.Commit(error))
      return Fail(PrintablePath(error));
  }
  if (Verbosity() > 0) {
    printf("%s: OK (%zu entries, %d bytes of data%s; every count, limit and checksum the runtime checks holds)\n",
           PrintablePath(path).c_str(), c.entries.size(), c.header.dataRegionSize,
           c.volumesRead ? (" in " + std::to_string(c.volumesRead + 1) + " pieces").c_str() : "");
    PrintSignatures(signatures);
  }
  if (signatures.installer.state == SignatureCheck::State::kInvalid)
    return Fail(PrintablePath(path) + ": the installer's signature does not hold: " + signatures.installer.problem);
  if (signatures.uninstallerWritten && signatures.uninstallerUnchecked.empty() &&
      signatures.uninstaller.state == SignatureCheck::State::kInvalid)
    return Fail(PrintablePath(path) + ": the uninstaller's signature does not hold: " + signatures.uninstaller.problem);
  return 0;
}

namespace {

// One entry's file below DIR.
struct PlannedFile {
  const ReadEntry* entry;
  std::vector<std::string> parts;  // UTF-8 components
  std::string shown;
  bool skip = false;  // a later entry of the same name is written instead (--force)
};

// The key under which Windows finds a name: ASCII letters upper-cased.
std::string WindowsKey(std::string name) {
  for (char& ch : name)
    if (ch >= 'a' && ch <= 'z') ch = (char)(ch - 'a' + 'A');
  return name;
}

// Maps every entry to its file below root and checks the names before a
// byte is written: names that leave the directory lose those parts, names
// with no character form and names given twice are errors (with force the
// later entry wins, as it would on Windows), and so is a file that is also
// the directory of another. False with the problem.
bool PlanFiles(const InstallerContents& c, const std::string& root, bool force, std::vector<PlannedFile>& plan,
               std::string& problem) {
  std::map<std::string, size_t> byName;  // WindowsKey of the path -> index in plan
  std::set<std::string> directories;    // WindowsKey of every directory a file lies in
  for (const ReadEntry& e : c.entries) {
    const std::string installedName = Str(e.InstalledName()), shownName = PrintableName(Str(e.name));
    std::string relative = SafeRelativePath(installedName), utf8;
    if (relative.empty()) {
      problem = "entry \"" + shownName + "\" has no usable file name";
      return false;
    }
    if (!Cp1252ToUtf8(relative, utf8)) {
      problem = "entry \"" + shownName + "\" holds a byte with no Windows-1252 character; it has no file name here";
      return false;
    }
    PlannedFile p{&e, {}, root + "/" + utf8};
    size_t start = 0;
    for (size_t end; (end = utf8.find('/', start)) != std::string::npos; start = end + 1)
      p.parts.push_back(utf8.substr(start, end - start));
    p.parts.push_back(utf8.substr(start));
    for (const std::string& part : p.parts)
      for (unsigned char ch : part)
        if (ch < 0x20 || ch == 0x7F) {
          problem = "entry \"" + shownName + "\" has a control character in its name; not written";
          return false;
        }
    std::string asStored = installedName;
    for (char& ch : asStored)
      if (ch == '\\') ch = '/';
    if (relative != asStored && Verbosity() > 0)
      fprintf(stderr, "truxpack: entry \"%s\" written as %s\n", shownName.c_str(), PrintablePath(utf8).c_str());
    auto [at, added] = byName.emplace(WindowsKey(utf8), plan.size());
    if (!added) {
      if (!force) {
        problem = "entries \"" + PrintableName(Str(plan[at->second].entry->name)) + "\" and \"" + shownName +
                  "\" have the same name; nothing written (--force lets the later one win)";
        return false;
      }
      plan[at->second].skip = true;
      at->second = plan.size();
    }
    std::string prefix;
    for (size_t i = 0; i + 1 < p.parts.size(); ++i) {
      prefix += (i ? "/" : "") + p.parts[i];
      directories.insert(WindowsKey(prefix));
    }
    plan.push_back(std::move(p));
  }
  for (const auto& [name, index] : byName)
    if (directories.count(name)) {
      problem = "entry \"" + PrintableName(Str(plan[index].entry->name)) +
                "\" is both a file and a directory of other entries; nothing written";
      return false;
    }
  return true;
}

// Fails when a file of the plan exists already below rootfd, or when a
// directory on its way cannot be looked at; the error is printable.
bool NoPlannedFileExists(int rootfd, const std::string& root, const std::vector<PlannedFile>& plan,
                         std::string& error) {
  for (const PlannedFile& p : plan) {
    if (p.skip) continue;
    int dir = OpenDirectoryBelow(rootfd, p.parts, p.parts.size() - 1, false, root, error);
    if (dir == -1) {
      error = PrintablePath(error);
      return false;
    }
    if (dir < 0) continue;
    struct stat st;
    bool exists = fstatat(dir, p.parts.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    close(dir);
    if (exists) {
      error = PrintablePath(p.shown) + ": exists; nothing written (use --force to overwrite)";
      return false;
    }
  }
  return true;
}

// Writes the plan's files below rootfd as the entries' data comes, in
// archive order and each entry in pieces: its file is opened at the first
// piece (or at its end, when empty), written piece by piece and put in
// place once the entry's checksum held. False with the reason.
bool WritePlannedFiles(OpenedInstaller& in, int rootfd, const std::string& root, const std::vector<PlannedFile>& plan,
                       bool force, uint64_t limit, std::string& error) {
  uint64_t total = 0;
  for (const PlannedFile& p : plan)
    if (!p.skip) total += p.entry->size;
  Progress progress("extracting", total, plan.size());
  struct Current {
    int dir = -1;
    int index = -1;
    std::unique_ptr<OutputSet> out;
  } current;
  auto closeCurrent = [&current] {
    current.out.reset();
    if (current.dir >= 0) close(current.dir);
    current.dir = -1;
    current.index = -1;
  };
  auto begin = [&](size_t i, std::string& why) {
    if (current.out) return true;
    const PlannedFile& p = plan[i];
    current.dir = OpenDirectoryBelow(rootfd, p.parts, p.parts.size() - 1, true, root, why);
    if (current.dir < 0) {
      why = PrintablePath(why);
      return false;
    }
    // An entry named like the installer never replaces it.
    current.out = std::make_unique<OutputSet>();
    current.out->Protect(in.identity);
    if (force) current.out->ReplaceLinks();
    current.index = current.out->OpenAt(current.dir, PrintablePath(p.shown), p.parts.back(), why, force);
    return current.index >= 0;
  };
  EntryDataVisitor visitor;
  visitor.data = [&](size_t i, const unsigned char* data, size_t n, std::string& why) {
    if (plan[i].skip) return true;
    if (!begin(i, why) || !current.out->Write(current.index, data, n, why)) return false;
    progress.Advance(n, 0);
    return true;
  };
  visitor.done = [&](size_t i, std::string& why) {
    const PlannedFile& p = plan[i];
    if (p.skip) return true;
    if (!begin(i, why) || !current.out->SetTime(current.index, EntryTime(p.entry->dateTime), why) ||
        !current.out->Commit(why))
      return false;
    closeCurrent();
    if (Verbosity() > 1) fprintf(stderr, "%s\n", PrintablePath(p.shown).c_str());
    progress.Advance(0, 1);
    return true;
  };
  const bool ok = StreamEntryData(*in.file, in.volumes, in.contents, visitor, error, limit);
  closeCurrent();
  if (ok) progress.Done();
  return ok;
}

}  // namespace

int RunExtract(int argc, char** argv) {
  ParsedArgs args;
  int code = ParseArgs(kExtractCommand, argc, argv, args);
  if (code >= 0) return code;
  uint64_t limit;
  if (!MaxSize("extract", args, limit)) return Usage("truxpack extract [--force] [--max-size BYTES] setup.exe DIR");
  const bool force = args.Has("force");
  const std::string path = args.positional[0], root = args.positional[1];
  OpenedInstaller in;
  std::string error;
  if (!ReadInstallerFile(path, limit, in, error, "checking")) return Fail(error);
  if (in.contents.status != ReadStatus::kOk) return Fail(PrintablePath(path) + ": " + in.contents.message);
  std::vector<PlannedFile> plan;
  if (!PlanFiles(in.contents, root, force, plan, error)) return Fail(PrintablePath(path) + ": " + error);
  // DIR and everything below it are reached through directory handles that
  // never follow a link planted on the way.
  const int rootfd = OpenOutputDirectory(root, true, error);
  if (rootfd < 0) return Fail(PrintablePath(error));
  // Without --force, an existing file stops the extraction before anything
  // is written.
  bool ok = force || NoPlannedFileExists(rootfd, root, plan, error);
  if (!ok) {
    close(rootfd);
    return Fail(error);
  }
  ok = WritePlannedFiles(in, rootfd, root, plan, force, limit, error);
  close(rootfd);
  return ok ? 0 : Fail(PrintablePath(path) + ": " + error);
}
