#include "tools/truxpack/project_toml.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>

#include "tools/truxpack/file_io.h"
#include "tools/truxpack/names.h"
#include "tools/truxpack/text_encoding.h"

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

namespace fs = std::filesystem;

bool Loader::Fail(const std::string& key, const std::string& what) {
  if (!error.empty()) return false;
  auto at = positions.find(key);
  if (at != positions.end())
    error = file + ":" + std::to_string(at->second.first) + ":" + std::to_string(at->second.second) + ": " + key +
            ": " + what;
  else
    error = file + ": " + key + ": " + what;
  return false;
}

void Loader::Remember(const std::string& key, const toml::node* node) {
  if (node && node->source().begin.line > 0) positions[key] = {node->source().begin.line, node->source().begin.column};
}

bool Loader::Parse(const fs::path& path, toml::table& doc) {
  std::vector<unsigned char> bytes;
  std::string why;
  FileIdentity identity;
  if (!ReadWholeFile(path.string(), bytes, why, kMaxProjectFileSize, &identity)) {
    if (error.empty()) error = why;
    return false;
  }
  if (inputs) inputs->push_back(identity);
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  try {
    doc = toml::parse(text, path.string());
  } catch (const toml::parse_error& e) {
    if (error.empty())
      error = file + ":" + std::to_string(e.source().begin.line) + ":" + std::to_string(e.source().begin.column) +
              ": " + std::string(e.description());
    return false;
  }
  return true;
}

namespace {

// Edit distance of two short key names (insert, delete, substitute, swap).
size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i)
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] != b[j - 1])});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

}  // namespace

std::string NearestName(const std::string& name, const std::vector<std::string>& known) {
  std::string best;
  size_t bestDistance = 0;
  if (name.size() > 64) return best;
  for (const std::string& k : known) {
    size_t d = Distance(name, k);
    if (best.empty() || d < bestDistance) best = k, bestDistance = d;
  }
  // Close enough to be a typing error: a third of the name, at least one.
  size_t allowed = std::max<size_t>(1, std::max(name.size(), best.size()) / 3);
  return bestDistance <= allowed ? best : std::string();
}

Table::Table(Loader& loader, const toml::table* table, std::string path)
    : l_(loader), t_(table), path_(std::move(path)) {
  // "file[3]" holds the keys of "file".
  for (size_t i = 0; i < path_.size(); ++i) {
    if (path_[i] != '[') {
      scope_ += path_[i];
      continue;
    }
    i = path_.find(']', i);
    if (i == std::string::npos) break;
  }
}

bool Table::Find(const std::string& k, std::initializer_list<KeyKind> kinds, const toml::node*& node,
                 const ProjectKey*& spec) {
  node = nullptr;
  spec = l_.keys->Find(scope_, k);
  if (!spec) return l_.Fail(Key(k), "read by the loader but missing from its key table (a fault in truxpack)");
  if (kinds.size() && std::find(kinds.begin(), kinds.end(), spec->kind) == kinds.end())
    return l_.Fail(Key(k), "read as another kind of value than its key table says (a fault in truxpack)");
  known_.insert(k);
  node = t_ ? t_->get(k) : nullptr;
  l_.Remember(Key(k), node);
  return true;
}

const toml::node* Table::Get(const std::string& k) {
  const toml::node* n = nullptr;
  const ProjectKey* spec = nullptr;
  return Find(k, {}, n, spec) ? n : nullptr;
}

bool Table::Read(const std::string& k, std::initializer_list<KeyKind> kinds, const toml::node*& node) {
  const ProjectKey* spec = nullptr;
  return Find(k, kinds, node, spec);
}

bool Table::RawText(const std::string& k, std::string& out) {
  const toml::node* n = nullptr;
  if (!Read(k, {KeyKind::kPath}, n)) return false;
  if (!n) return true;
  if (!n->is_string()) return l_.Fail(Key(k), "expected a text in double quotes");
  out = n->as_string()->get();
  if (out.find('\0') != std::string::npos) return l_.Fail(Key(k), "contains a NUL character");
  return true;
}

bool Loader::Convert(const std::string& key, const std::string& utf8, std::string& out) {
  if (utf8.find('\0') != std::string::npos) return Fail(key, "contains a NUL character");
  if (rawText) {
    out = utf8;
    return true;
  }
  std::string bad;
  if (!Utf8ToCp1252(utf8, out, bad)) return Fail(key, bad);
  return true;
}

fs::path Loader::Resolve(const std::string& name) const {
  fs::path p(name);
  return p.is_absolute() ? p : directory / p;
}

void Loader::Warn(const std::string& key, const std::string& what) {
  if (warnings) warnings->push_back(key + ": " + what);
}

bool PathWithin(const fs::path& path, const fs::path& root) {
  auto r = root.begin(), p = path.begin();
  for (; r != root.end(); ++r, ++p) {
    if (r->empty()) continue;  // the empty last part of a root ending in '/'
    if (p == path.end() || *r != *p) return false;
  }
  return true;
}

bool Loader::CheckInside(const std::string& key, const std::string& named, const fs::path& path) {
  if (projectRoot.empty()) return true;
  std::error_code ec;
  const fs::path real = fs::canonical(path, ec);
  if (ec || PathWithin(real, projectRoot)) return true;  // a missing file is reported by its read
  std::string what = PrintablePath(named) + " lies outside the project directory";
  if (real != fs::absolute(path, ec).lexically_normal()) what += " (it leads to " + PrintablePath(real.string()) + ")";
  if (confine) return Fail(key, what + "; refused (--confine)");
  Warn(key, what + " (--confine refuses it)");
  return true;
}

bool Loader::ReadFile(const std::string& key, const std::string& name, std::string& out) {
  std::vector<unsigned char> data;
  std::string why;
  FileIdentity identity;
  if (!CheckInside(key, name, Resolve(name))) return false;
  if (!ReadWholeFile(Resolve(name).string(), data, why, kMaxProjectFileSize * 4, &identity)) return Fail(key, why);
  if (inputs) inputs->push_back(identity);
  out.assign(data.begin(), data.end());
  return true;
}

bool Table::Text(const std::string& k, std::string& out, bool& present) {
  const toml::node* n = nullptr;
  if (!Read(k, {KeyKind::kText, KeyKind::kPattern}, n)) return false;
  present = n != nullptr;
  if (!n) return true;
  if (!n->is_string()) return l_.Fail(Key(k), "expected a text in double quotes");
  return l_.Convert(Key(k), n->as_string()->get(), out);
}

bool Table::Bool(const std::string& k, bool& out) {
  const toml::node* n = nullptr;
  if (!Read(k, {KeyKind::kBool}, n)) return false;
  if (!n) return true;
  if (!n->is_boolean()) return l_.Fail(Key(k), "expected true or false");
  out = n->as_boolean()->get();
  return true;
}

bool Table::Int(const std::string& k, int64_t& out) {
  const toml::node* n = nullptr;
  const ProjectKey* spec = nullptr;
  if (!Find(k, {KeyKind::kInteger}, n, spec)) return false;
  return !n || InRange(k, *n, *spec, out);
}

bool Table::InRange(const std::string& k, const toml::node& n, const ProjectKey& spec, int64_t& out) {
  if (!n.is_integer()) return l_.Fail(Key(k), "expected a whole number");
  int64_t v = n.as_integer()->get();
  if (v < spec.min || v > spec.max)
    return l_.Fail(Key(k), std::to_string(v) + " is outside " + std::to_string(spec.min) + " to " +
                               std::to_string(spec.max));
  out = v;
  return true;
}

bool Table::Pick(const std::string& k, int64_t& out) {
  const toml::node* n = nullptr;
  const ProjectKey* spec = nullptr;
  if (!Find(k, {KeyKind::kChoice}, n, spec)) return false;
  if (!n) return true;
  if (n->is_integer()) return InRange(k, *n, *spec, out);
  const std::string names = ChoiceNames(*spec, ", ");
  if (!n->is_string()) return l_.Fail(Key(k), "expected one of " + names + " or a number");
  const std::string& v = n->as_string()->get();
  for (const Choice& c : *spec->choices)
    if (v == c.name) {
      out = c.value;
      return true;
    }
  return l_.Fail(Key(k), "\"" + v + "\" is not one of " + names);
}

bool Table::NameSet(const std::string& k, uint32_t& out) {
  const toml::node* n = nullptr;
  const ProjectKey* spec = nullptr;
  if (!Find(k, {KeyKind::kNameSet}, n, spec)) return false;
  if (!n) return true;
  int64_t v = 0;
  if (n->is_integer()) {
    if (!InRange(k, *n, *spec, v)) return false;
    out = (uint32_t)v;
    return true;
  }
  const std::string names = "expected a list of names of " + ChoiceNames(*spec, ", ");
  if (!n->is_array()) return l_.Fail(Key(k), names + ", or a number");
  for (const toml::node& item : *n->as_array()) {
    bool found = false;
    if (item.is_string())
      for (const Choice& c : *spec->choices)
        if (item.as_string()->get() == c.name) {
          v |= c.value;
          found = true;
        }
    if (!found) return l_.Fail(Key(k), names);
  }
  out = (uint32_t)v;
  return true;
}

bool Table::Name(const std::string& k, std::string& out) {
  const toml::node* n = nullptr;
  const ProjectKey* spec = nullptr;
  if (!Find(k, {KeyKind::kName}, n, spec)) return false;
  if (!n) return true;
  if (n->is_string())
    for (const Choice& c : *spec->choices)
      if (n->as_string()->get() == c.name) {
        out = c.name;
        return true;
      }
  return l_.Fail(Key(k), "expected " + ChoiceNames(*spec, " or ", true));
}

bool Table::Color(const std::string& k, uint32_t& out) {
  const toml::node* n = nullptr;
  if (!Read(k, {KeyKind::kColor}, n)) return false;
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
  const toml::node* n = nullptr;
  if (!Read(k, {KeyKind::kDate}, n)) return false;
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
  const toml::node* n = nullptr;
  if (!Read(k, {KeyKind::kFile}, n)) return false;
  if (!n) return true;
  if (!n->is_string()) return l_.Fail(Key(k), "expected a file name");
  present = true;
  return l_.ReadFile(Key(k), n->as_string()->get(), out);
}

bool Table::TextList(const std::string& k, std::vector<std::string>& out) {
  const toml::node* n = nullptr;
  if (!Read(k, {KeyKind::kTextList}, n)) return false;
  if (!n) return true;
  if (!n->is_array()) return l_.Fail(Key(k), "expected a list of texts [\"...\", ...]");
  for (const toml::node& item : *n->as_array()) {
    if (!item.is_string()) return l_.Fail(Key(k), "expected a list of texts [\"...\", ...]");
    out.push_back(item.as_string()->get());
  }
  return true;
}

Table Table::Sub(const std::string& k) {
  const toml::node* n = nullptr;
  if (!Read(k, {KeyKind::kTable}, n)) return Table(l_, nullptr, Key(k));
  if (n && !n->is_table()) {
    l_.Fail(Key(k), "expected a table [" + Key(k) + "]");
    return Table(l_, nullptr, Key(k));
  }
  return Table(l_, n ? n->as_table() : nullptr, Key(k));
}

bool Table::Arrays(const std::string& k, std::vector<Table>& out) {
  const toml::node* n = nullptr;
  if (!Read(k, {KeyKind::kTableList}, n)) return false;
  if (!n) return true;
  if (!n->is_array_of_tables()) return l_.Fail(Key(k), "expected [[" + Key(k) + "]] tables");
  size_t i = 0;
  for (const toml::node& item : *n->as_array())
    out.emplace_back(l_, item.as_table(), Key(k) + "[" + std::to_string(++i) + "]");
  return true;
}

bool Table::CheckUnknown() {
  if (!t_) return true;
  for (const auto& [key, value] : *t_) {
    std::string name(key.str());
    if (known_.count(name)) continue;
    if (key.source().begin.line > 0) l_.positions[Key(name)] = {key.source().begin.line, key.source().begin.column};
    std::string nearest = NearestName(name, std::vector<std::string>(known_.begin(), known_.end()));
    return l_.Fail(Key(name), nearest.empty() ? "unknown key" : "unknown key; did you mean " + nearest + "?");
  }
  return true;
}
