#include "tools/truxpack/project_toml.h"

#include <stdlib.h>

#include "tools/truxpack/file_io.h"
#include "tools/truxpack/project.h"
#include "tools/truxpack/text_encoding.h"

namespace fs = std::filesystem;

bool Loader::Fail(const std::string& key, const std::string& what) {
  if (error.empty()) error = file + ": " + key + ": " + what;
  return false;
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

bool Loader::ReadFile(const std::string& key, const std::string& name, std::string& out) {
  std::vector<unsigned char> data;
  std::string why;
  if (!ReadWholeFile(Resolve(name).string(), data, why)) return Fail(key, why);
  out.assign(data.begin(), data.end());
  return true;
}

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
