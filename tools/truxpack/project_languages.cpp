#include <stdlib.h>

#include <algorithm>
#include <map>

#include "tools/truxpack/messages.h"
#include "tools/truxpack/project_loaders.h"

namespace fs = std::filesystem;

namespace {

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
  if (!l.CheckInside(key, file, path)) return false;
  toml::table doc;
  Loader inner;
  inner.file = file;
  inner.directory = path.parent_path();
  inner.rawText = l.rawText;
  inner.inputs = l.inputs;
  inner.keys = &LanguageFileKeys();
  if (!inner.Parse(path, doc)) return l.Fail(key, inner.error);
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

}  // namespace

bool LoadLanguages(Loader& l, Table& root, ArchiveSettings& s) {
  Language english;
  english.name = "English";
  const toml::node* overrides = root.Get("messages");
  if (overrides && !overrides->is_table()) return l.Fail("messages", "expected a table [messages]");
  if (!LoadMessages(l, overrides ? overrides->as_table() : nullptr, "messages", english.messages)) return false;

  Table t = root.Sub("languages");
  std::vector<std::string> files;
  std::string englishPlace = "first";
  if (!t.TextList("files", files) || !t.Name("english", englishPlace)) return false;
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
