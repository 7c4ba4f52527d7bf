#include "tools/truxpack/snapshot_diff.h"

#include <ctype.h>

#include "tools/truxpack/glob.h"
#include "tools/truxpack/names.h"

namespace {

ItemKind KindOf(const SnapshotEntry& e) {
  switch (e.kind) {
    case SnapshotEntry::kDirectory: return ItemKind::kDirectory;
    case SnapshotEntry::kFile: return ItemKind::kFile;
    case SnapshotEntry::kSymlink: return ItemKind::kSymlink;
    default: return ItemKind::kOther;
  }
}

bool SameEntry(const SnapshotEntry& a, const SnapshotEntry& b) {
  if (a.kind != b.kind || a.attributes != b.attributes) return false;
  switch (a.kind) {
    case SnapshotEntry::kFile: return a.size == b.size && a.hash == b.hash;
    case SnapshotEntry::kSymlink: return a.linkTarget == b.linkTarget;
    default: return true;
  }
}

void DiffFiles(const Snapshot& before, const Snapshot& after, std::vector<Difference>& out) {
  auto a = before.files.begin(), b = after.files.begin();
  while (a != before.files.end() || b != after.files.end()) {
    Difference d;
    if (b == after.files.end() || (a != before.files.end() && a->first < b->first)) {
      d.change = Change::kRemoved;
      d.path = a->first;
      d.before = a->second;
      d.kind = KindOf(a->second);
      ++a;
    } else if (a == before.files.end() || b->first < a->first) {
      d.change = Change::kAdded;
      d.path = b->first;
      d.after = b->second;
      d.kind = KindOf(b->second);
      ++b;
    } else {
      const bool same = SameEntry(a->second, b->second);
      d.change = Change::kChanged;
      d.path = a->first;
      d.before = a->second;
      d.after = b->second;
      d.kind = KindOf(b->second);
      ++a;
      ++b;
      if (same) continue;
    }
    out.push_back(d);
  }
}

Difference KeyDifference(Change change, const std::string& path) {
  Difference d;
  d.kind = ItemKind::kKey;
  d.change = change;
  d.path = path;
  return d;
}

Difference ValueDifference(Change change, const std::string& key, const RegistryValue* before,
                           const RegistryValue* after) {
  Difference d;
  d.kind = ItemKind::kValue;
  d.change = change;
  d.path = key;
  d.name = after ? after->name : before->name;
  if (before) d.dataBefore = before->data;
  if (after) d.dataAfter = after->data;
  return d;
}

void DiffValues(const SnapshotKey* before, const SnapshotKey* after, std::vector<Difference>& out) {
  static const std::map<std::string, RegistryValue> kNone;
  const auto& va = before ? before->values : kNone;
  const auto& vb = after ? after->values : kNone;
  const std::string& key = after ? after->path : before->path;
  auto a = va.begin(), b = vb.begin();
  while (a != va.end() || b != vb.end()) {
    if (b == vb.end() || (a != va.end() && a->first < b->first)) {
      out.push_back(ValueDifference(Change::kRemoved, key, &a->second, nullptr));
      ++a;
    } else if (a == va.end() || b->first < a->first) {
      out.push_back(ValueDifference(Change::kAdded, key, nullptr, &b->second));
      ++b;
    } else {
      if (a->second.data != b->second.data) out.push_back(ValueDifference(Change::kChanged, key, &a->second, &b->second));
      ++a;
      ++b;
    }
  }
}

void DiffKeys(const Snapshot& before, const Snapshot& after, std::vector<Difference>& out) {
  auto a = before.keys.begin(), b = after.keys.begin();
  while (a != before.keys.end() || b != after.keys.end()) {
    if (b == after.keys.end() || (a != before.keys.end() && a->first < b->first)) {
      out.push_back(KeyDifference(Change::kRemoved, a->second.path));
      DiffValues(&a->second, nullptr, out);
      ++a;
    } else if (a == before.keys.end() || b->first < a->first) {
      out.push_back(KeyDifference(Change::kAdded, b->second.path));
      DiffValues(nullptr, &b->second, out);
      ++b;
    } else {
      DiffValues(&a->second, &b->second, out);
      ++a;
      ++b;
    }
  }
}

bool IsUnder(const std::string& foldedPath, const std::string& foldedKey) {
  return foldedPath == foldedKey ||
         (foldedPath.size() > foldedKey.size() && foldedPath.compare(0, foldedKey.size(), foldedKey) == 0 &&
          foldedPath[foldedKey.size()] == '\\');
}

// A drive path for the glob matcher: folded, '/' between components, and a
// '/' inside a name (possible in a key name) kept apart from separators.
std::string GlobForm(const std::string& path, char separator) {
  std::string out;
  for (char c : FoldCase(path)) {
    if (c == separator) out += '/';
    else if (c == '/') out += '\x1f';
    else out += c;
  }
  return out;
}

bool IsBatchDirectoryName(const std::string& name) {
  static const std::string kPrefix = "trux-";
  if (name.size() != kPrefix.size() + 16 || name.compare(0, kPrefix.size(), kPrefix) != 0) return false;
  for (size_t i = kPrefix.size(); i < name.size(); ++i)
    if (!isxdigit((unsigned char)name[i])) return false;
  return true;
}

std::string Size(uint64_t n) { return std::to_string((unsigned long long)n) + " bytes"; }

std::string Attrs(const std::string& a) { return a.empty() ? "none" : a; }

const char* KindWord(ItemKind k) {
  switch (k) {
    case ItemKind::kDirectory: return "dir";
    case ItemKind::kFile: return "file";
    case ItemKind::kSymlink: return "symlink";
    case ItemKind::kOther: return "other";
    case ItemKind::kKey: return "key";
    default: return "value";
  }
}

const char* Noun(SnapshotEntry::Kind k) {
  switch (k) {
    case SnapshotEntry::kDirectory: return "directory";
    case SnapshotEntry::kFile: return "file";
    case SnapshotEntry::kSymlink: return "symbolic link";
    default: return "special file";
  }
}

std::string EntryText(const SnapshotEntry& e) {
  switch (e.kind) {
    case SnapshotEntry::kFile: return Size(e.size) + (e.attributes.empty() ? "" : ", " + e.attributes);
    case SnapshotEntry::kSymlink: return "-> " + PrintablePath(e.linkTarget);
    case SnapshotEntry::kDirectory: return e.attributes.empty() ? "" : e.attributes;
    default: return "not a file or directory";
  }
}

std::string FileChange(const Difference& d) {
  const SnapshotEntry &a = d.before, &b = d.after;
  if (a.kind != b.kind) return std::string("was a ") + Noun(a.kind) + ", now a " + Noun(b.kind);
  std::string what;
  if (a.kind == SnapshotEntry::kFile) {
    what = a.size != b.size ? Size(a.size) + " -> " + Size(b.size) : a.hash != b.hash ? "content changed, " + Size(b.size) : "";
  } else if (a.kind == SnapshotEntry::kSymlink) {
    what = "-> " + PrintablePath(a.linkTarget) + " now -> " + PrintablePath(b.linkTarget);
  }
  if (a.attributes != b.attributes)
    what += (what.empty() ? "" : ", ") + std::string("attributes ") + Attrs(a.attributes) + " -> " + Attrs(b.attributes);
  return what;
}

}  // namespace

std::vector<Difference> DiffSnapshots(const Snapshot& before, const Snapshot& after) {
  std::vector<Difference> out;
  DiffFiles(before, after, out);
  DiffKeys(before, after, out);
  for (Difference& d : out) d.housekeeping = WineHousekeeping(d);
  return out;
}

const std::vector<HousekeepingRule>& WineHousekeepingRules() {
  static const char kDisplay[] =
      "the display driver registers the display adapter, monitor and video devices when the prefix's first window "
      "opens";
  static const std::vector<HousekeepingRule> rules = {
      {HousekeepingRule::kKeySubtree, "HKEY_CURRENT_USER\\Console",
       "Wine's console host stores its defaults when the first program opens a console"},
      {HousekeepingRule::kKeySubtree, "HKEY_CURRENT_USER\\Software\\Wine\\Temporary System Parameters",
       "the display driver keeps temporary system parameters"},
      {HousekeepingRule::kKeySubtree, "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Class", kDisplay},
      {HousekeepingRule::kKeySubtree, "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\DeviceClasses",
       kDisplay},
      {HousekeepingRule::kKeySubtree, "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Video", kDisplay},
      {HousekeepingRule::kKeySubtree, "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Hardware Profiles", kDisplay},
      {HousekeepingRule::kKeySubtree, "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\ServiceCurrent",
       "every start of Wine's service host counts this value up"},
      {HousekeepingRule::kKeyAddedAlone, "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
       "a key of the system's that every Windows has and other programs count their files in: a fresh Wine prefix "
       "lacks it, the first shared file creates it, and it stays (its values, the counts, are compared)"},
      {HousekeepingRule::kBatchDirectory, "users/*/Temp/*",
       "the self-deleting batch's directory stays, empty, under Wine only: its interpreter holds the batch file open "
       "until it ends (on Windows the batch removes it)"},
  };
  return rules;
}

const char* WineHousekeeping(const Difference& d) {
  const bool registry = d.kind == ItemKind::kKey || d.kind == ItemKind::kValue;
  for (const HousekeepingRule& r : WineHousekeepingRules()) {
    switch (r.scope) {
      case HousekeepingRule::kKeySubtree:
        if (registry && IsUnder(FoldCase(d.path), FoldCase(r.where))) return r.reason;
        break;
      case HousekeepingRule::kKeyAddedAlone:
        if (d.kind == ItemKind::kKey && d.change == Change::kAdded && FoldCase(d.path) == FoldCase(r.where))
          return r.reason;
        break;
      case HousekeepingRule::kBatchDirectory:
        if (d.kind == ItemKind::kDirectory && d.change == Change::kAdded &&
            GlobMatch(GlobForm(r.where, '/'), GlobForm(d.path, '/')) &&
            IsBatchDirectoryName(FoldCase(d.path.substr(d.path.rfind('/') + 1))))
          return r.reason;
        break;
    }
  }
  return nullptr;
}

std::string ItemName(const Difference& d) {
  if (d.kind == ItemKind::kKey) return PrintablePath(d.path);
  if (d.kind == ItemKind::kValue)
    return PrintablePath(d.path) + (d.name.empty() ? std::string(" (default)") : " \"" + PrintablePath(d.name) + "\"");
  return PrintablePath(DrivePath(d.path));
}

std::string DifferenceLine(const Difference& d) {
  const char sign = d.change == Change::kAdded ? '+' : d.change == Change::kRemoved ? '-' : '~';
  std::string line = std::string(1, sign) + " " + KindWord(d.kind) + " " + ItemName(d);
  std::string detail;
  if (d.kind == ItemKind::kValue) {
    if (d.change == Change::kAdded) detail = "= " + RegistryDataText(d.dataAfter);
    else if (d.change == Change::kRemoved) detail = "was " + RegistryDataText(d.dataBefore);
    else detail = RegistryDataText(d.dataBefore) + " -> " + RegistryDataText(d.dataAfter);
    return line + " " + detail;
  }
  if (d.kind == ItemKind::kKey) return line;
  if (d.change == Change::kAdded) detail = EntryText(d.after);
  else if (d.change == Change::kRemoved) detail = EntryText(d.before);
  else detail = FileChange(d);
  return detail.empty() ? line : line + " (" + detail + ")";
}
