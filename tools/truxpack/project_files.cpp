#include <stdio.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <filesystem>

#include "core/path_check.h"
#include "tools/truxpack/file_io.h"
#include "tools/truxpack/glob.h"
#include "tools/truxpack/project_loaders.h"

namespace fs = std::filesystem;

namespace {

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

}  // namespace

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
    if (!shortcutName.empty() && !IsSafeLinkName(shortcutName.c_str())) return l.Fail(t.Key("shortcut_name"), kUnsafeLinkName);
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
