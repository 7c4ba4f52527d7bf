#include <stdio.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "core/path_check.h"
#include "tools/truxpack/file_io.h"
#include "tools/truxpack/glob.h"
#include "tools/truxpack/names.h"
#include "tools/truxpack/project_loaders.h"

namespace fs = std::filesystem;

namespace {

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


// The archive's date-time of a source file: its modification time, clamped
// to SOURCE_DATE_EPOCH when that is set, as wall-clock time in the project's
// fixed zone (UTC unless data.time_zone names an offset). The runtime applies
// these times in the installing machine's zone, so one fixed zone here keeps
// a build the same on every machine.
bool FileDateTime(const struct stat& st, const Project& p, ArchiveDateTime& out) {
  int64_t t = (int64_t)st.st_mtime;
  if (p.sourceDateEpoch >= 0 && t > p.sourceDateEpoch) t = p.sourceDateEpoch;
  time_t shifted = (time_t)(t + p.timeZoneOffset);
  struct tm utc;
  if (!gmtime_r(&shifted, &utc)) return false;
  out = {utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec};
  return true;
}

// One file a [[file]] table selects.
struct Selected {
  fs::path path;          // as found (a link stays a link: it is read through)
  std::string name;       // entry name, '/' separated, UTF-8
};

bool IsDotName(const std::string& component) { return !component.empty() && component[0] == '.'; }

// Whether path (a link) resolves to somewhere inside root (both canonical).
bool InsideTree(const fs::path& link, const fs::path& canonicalRoot, fs::path& target) {
  std::error_code ec;
  target = fs::canonical(link, ec);
  if (ec) return false;
  auto r = canonicalRoot.begin(), t = target.begin();
  for (; r != canonicalRoot.end(); ++r, ++t)
    if (t == target.end() || *r != *t) return false;
  return true;
}

struct WalkRules {
  std::vector<std::string> pattern;   // the glob's components below the base
  std::vector<std::string> excludes;  // '/' separated patterns
  bool followOutsideLinks = false;
};

bool Excluded(const std::string& relative, const WalkRules& rules) {
  std::string last = relative.substr(relative.rfind('/') == std::string::npos ? 0 : relative.rfind('/') + 1);
  for (const std::string& x : rules.excludes) {
    if (GlobMatch(x, relative)) return true;
    if (x.find('/') == std::string::npos && GlobMatch(x, last)) return true;
  }
  return false;
}

// Whether a directory could hold matches (a dot directory only when the
// pattern names it; an excluded directory never).
bool PatternNamesDot(const WalkRules& rules, size_t depth) {
  return depth < rules.pattern.size() && IsDotName(rules.pattern[depth]);
}

// A source named without wildcards that leads out of the project directory.
// A link inside the project that leads out follows the rule of a link a glob
// meets (refused unless follow_outside_links); a file named outside (an
// absolute path, "..") is the project's choice, warned about or, with
// --confine, refused.
bool CheckNamedSource(Loader& l, const std::string& key, const std::string& named, const fs::path& path,
                      bool followOutsideLinks) {
  std::error_code ec;
  const fs::path real = fs::canonical(path, ec);
  if (ec || l.projectRoot.empty() || PathWithin(real, l.projectRoot)) return true;
  const fs::path lexical = fs::absolute(path, ec).lexically_normal();
  const fs::path lexicalRoot = fs::absolute(l.directory.empty() ? fs::path(".") : l.directory, ec).lexically_normal();
  if (!followOutsideLinks && PathWithin(lexical, lexicalRoot))
    return l.Fail(key, PrintablePath(named) + ": a symbolic link to " + PrintablePath(real.string()) +
                           ", outside the project directory; refused (follow_outside_links = true packs it)");
  return l.CheckInside(key, named, path);
}

// Walks base without following links to directories; files are collected
// with their '/' relative names. Links to files inside the tree are taken
// under their own names; links leaving it are refused unless allowed.
bool Walk(Loader& l, const std::string& key, const fs::path& base, const fs::path& canonicalBase,
          const std::string& prefix, size_t depth, const WalkRules& rules, std::vector<Selected>& found,
          std::vector<std::string>& warnings) {
  std::error_code ec;
  std::vector<fs::directory_entry> children;
  for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) children.push_back(*it);
  if (ec) return l.Fail(key, PrintablePath(base.string()) + ": " + ec.message());
  std::sort(children.begin(), children.end(),
            [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path().filename() < b.path().filename(); });
  for (const fs::directory_entry& child : children) {
    std::string leaf = child.path().filename().string();
    std::string relative = prefix.empty() ? leaf : prefix + "/" + leaf;
    if (IsDotName(leaf) && !PatternNamesDot(rules, depth)) continue;
    if (Excluded(relative, rules)) continue;
    fs::file_status st = child.symlink_status(ec);
    if (ec) return l.Fail(key, PrintablePath(child.path().string()) + ": " + ec.message());
    if (fs::is_directory(st)) {
      if (!Walk(l, key, child.path(), canonicalBase, relative, depth + 1, rules, found, warnings)) return false;
      continue;
    }
    if (fs::is_symlink(st)) {
      fs::path target;
      bool inside = InsideTree(child.path(), canonicalBase, target);
      if (target.empty())
        return l.Fail(key, PrintablePath(child.path().string()) + ": a symbolic link whose target does not exist");
      if (fs::is_directory(target, ec)) {
        warnings.push_back(PrintablePath(child.path().string()) + ": a link to a directory; not followed");
        continue;
      }
      if (!inside && !rules.followOutsideLinks)
        return l.Fail(key, PrintablePath(child.path().string()) + ": a symbolic link to " +
                               PrintablePath(target.string()) +
                               ", outside the source tree; refused (follow_outside_links = true packs it)");
      if (!inside && !l.CheckInside(key, child.path().string(), child.path())) return false;
      if (!fs::is_regular_file(target, ec)) continue;
    } else if (!fs::is_regular_file(st)) {
      continue;  // sockets, FIFOs, devices are never product files
    }
    if (GlobMatchFrom(rules.pattern, 0, SplitSlash(relative), 0)) found.push_back({child.path(), relative});
  }
  return true;
}

// Where an entry lands, in the form the runtime builds it (for comparing
// destinations and measuring path lengths): the destination override or the
// kind's directory, then the name, upper-cased as Windows compares names.
std::string DestinationKey(const EntryInput& e) {
  std::string where = e.text4.empty() ? "kind" + std::to_string(e.kind) : e.text4;
  if (e.flags & kEntryToUninstallDir) where = "uninstall";
  std::string key = where + "\\" + e.name;
  for (char& c : key)
    if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
  return key;
}

void WarnAboutEntries(Project& p) {
  if (p.entries.empty()) p.warnings.push_back("the project has no [[file]] entries: the installer installs no files");
  std::map<std::string, size_t> seen;
  std::string dir(p.settings.defaultInstallDir.CStr(), (size_t)p.settings.defaultInstallDir.Length());
  // The runtime uses the product name for an empty default directory, and
  // puts a relative one under C:\Program Files (17 characters with both
  // backslashes). A directory read from the registry or the master
  // product's is not known here, so it is not measured.
  if (dir.empty()) dir.assign(p.settings.productName.CStr(), (size_t)p.settings.productName.Length());
  const bool known = dir.compare(0, 5, "HKLM\\") != 0 && dir.compare(0, 5, "HKCU\\") != 0 && dir != "<master>";
  size_t base = (dir.size() > 1 && dir[1] == ':') ? dir.size() : 17 + dir.size();
  for (size_t i = 0; i < p.entries.size(); ++i) {
    const EntryInput& e = p.entries[i];
    auto [at, added] = seen.emplace(DestinationKey(e), i);
    if (!added)
      p.warnings.push_back("\"" + PrintableName(e.name) + "\" (" + PrintablePath(p.sources[i]) + ") and \"" +
                           PrintableName(p.entries[at->second].name) + "\" (" + PrintablePath(p.sources[at->second]) +
                           ") go to the same place; the later one replaces the earlier");
    if (known && e.kind == kKindInstallDir && e.text4.empty() && !(e.flags & kEntryToUninstallDir) &&
        base + 1 + e.name.size() > 259)
      p.warnings.push_back("\"" + PrintableName(e.name) + "\": " + std::to_string(base + 1 + e.name.size()) +
                           " characters once installed under the default directory, more than Windows' 259");
  }
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
    WalkRules rules;
    if (!t.RawText("source", source) || !t.RawText("name", name) || !t.Pick("kind", kind) ||
        !t.Pick("overwrite", overwrite) || !t.Bool("desktop_shortcut", desktop) ||
        !t.Bool("start_menu_shortcut", startMenu) || !t.Bool("permanent", permanent) ||
        !t.Bool("to_uninstall_dir", toUninstall) || !t.Text("version", version) || !t.Text("font_name", font) ||
        !t.Text("shortcut_name", shortcutName) || !t.Text("shortcut_icon", e.text2) ||
        !t.Text("shortcut_arguments", e.text3) || !t.Text("destination", e.text4) ||
        !t.Text("shortcut_working_dir", e.text5) || !t.DateTime("date", e.time, dated) ||
        !t.Int("raw_flags", rawFlags))
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
    if (!t.NameSet("attributes", e.attributes)) return false;
    std::vector<std::string> excludes;
    bool excludesOk = t.TextList("exclude", rules.excludes) && t.Bool("follow_outside_links", rules.followOutsideLinks);
    if (!excludesOk) return false;
    for (std::string& x : rules.excludes) x = Slashes(x, '\\', '/');
    if (!t.CheckUnknown()) return false;

    // The sources: one file, or every file a glob selects.
    std::vector<Selected> selected;
    const bool glob = source.find_first_of("*?") != std::string::npos;
    std::string pattern = Slashes(source, '\\', '/');
    if (!glob) {
      fs::path path = l.Resolve(pattern);
      std::error_code ec;
      if (!fs::is_regular_file(path, ec))
        return l.Fail(t.Key("source"), PrintablePath(pattern) + (fs::exists(path, ec) ? ": not a regular file" : ": no such file"));
      if (!CheckNamedSource(l, t.Key("source"), pattern, path, rules.followOutsideLinks)) return false;
      selected.push_back({path, name.empty() ? path.filename().string() : Slashes(name, '\\', '/')});
    } else {
      if (!excludesOk) return false;
      std::vector<std::string> parts = SplitSlash(pattern);
      size_t fixed = 0;
      while (fixed < parts.size() && parts[fixed].find_first_of("*?") == std::string::npos) ++fixed;
      std::string base;
      for (size_t i = 0; i < fixed; ++i) base += (i ? "/" : "") + parts[i];
      rules.pattern.assign(parts.begin() + (ptrdiff_t)fixed, parts.end());
      fs::path basePath = l.Resolve(base.empty() ? "." : base);
      std::error_code ec;
      if (!fs::is_directory(basePath, ec)) return l.Fail(t.Key("source"), PrintablePath(base) + ": no such directory");
      fs::path canonicalBase = fs::canonical(basePath, ec);
      if (ec) return l.Fail(t.Key("source"), PrintablePath(base) + ": " + ec.message());
      if (!l.CheckInside(t.Key("source"), base.empty() ? "." : base, basePath)) return false;
      std::vector<Selected> found;
      if (!Walk(l, t.Key("source"), basePath, canonicalBase, "", 0, rules, found, p.warnings)) return false;
      if (found.empty()) return l.Fail(t.Key("source"), PrintablePath(pattern) + " matches no file");
      std::string prefix = Slashes(name, '\\', '/');
      if (!prefix.empty() && prefix.back() != '/') prefix += '/';
      for (Selected& f : found) selected.push_back({f.path, prefix + f.name});
    }
    for (Selected& f : selected) {
      EntryInput entry = e;
      std::string why;
      const std::string nameKey = t.Key(glob || name.empty() ? "source" : "name");
      if (!l.Convert(nameKey, Slashes(f.name, '/', '\\'), entry.name)) {
        l.error += " (in the name " + PrintablePath(f.name) + ")";
        return false;
      }
      std::string problem = WindowsNameProblem(entry.name);
      if (!problem.empty()) return l.Fail(nameKey, PrintablePath(f.name) + ": " + problem);
      if (!SafeEntryName(entry.name, why)) return l.Fail(nameKey, why);
      // Checked before reading, so a huge or sparse file costs nothing.
      uint64_t size = 0;
      FileIdentity identity;
      if (!StatRegularFile(f.path.string(), size, identity, why)) return l.Fail(t.Key("source"), PrintablePath(why));
      if (size > kMaxEntrySize)
        return l.Fail(t.Key("source"), PrintablePath(f.path.string()) + " is larger than 1 GiB, the largest file an "
                                                                        "installer can hold");
      if (p.readData) {
        std::vector<unsigned char> data;
        if (!ReadWholeFile(f.path.string(), data, why, kMaxEntrySize, &identity))
          return l.Fail(t.Key("source"), PrintablePath(why));
        entry.data = std::move(data);
      } else {
        entry.source = f.path.string();
        entry.sourceSize = size;
        entry.sourceIdentity = identity;
      }
      p.inputs.push_back(identity);
      struct stat st;
      if (!dated && (stat(f.path.string().c_str(), &st) != 0 || !FileDateTime(st, p, entry.time)))
        return l.Fail(t.Key("source"), PrintablePath(f.path.string()) + ": cannot read its modification time");
      p.entries.push_back(std::move(entry));
      p.sources.push_back(f.path.string());
    }
  }
  WarnAboutEntries(p);
  return true;
}
