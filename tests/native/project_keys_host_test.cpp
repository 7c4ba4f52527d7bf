// The project loader and its key table agree: every key of the table is
// read, with the kind of value the table gives it, and a key the loader asks
// for outside the table (or as another kind) fails the load. The schema is
// generated from the same table, so it holds exactly the loader's keys.
#include <gtest/gtest.h>

#include <string>

#include "tests/native/truxpack_test_support.h"
#include "tools/truxpack/json_text.h"
#include "tools/truxpack/project.h"
#include "tools/truxpack/project_keys.h"
#include "tools/truxpack/project_schema.h"
#include "tools/truxpack/project_toml.h"

using namespace trux_test;

namespace {

bool IsTableList(const std::string& table) {
  const ProjectKey* k = ProjectKeys().Find("", table);
  return k && k->kind == KeyKind::kTableList;
}

// Values for the required keys of one list's tables, so that its other
// keys are read.
std::string RequiredOf(const std::string& table, const std::string& except) {
  std::string toml;
  for (const ProjectKey& k : ProjectKeys().Keys())
    if (table == k.table && k.required && except != k.name)
      toml += std::string(k.name) + " = \"" + (table == "file" ? "a.txt" : table == "association" ? ".x" : "x") +
              "\"\n";
  return toml;
}

// A value of another kind than the key takes.
std::string WrongValue(const ProjectKey& key) { return key.kind == KeyKind::kBool ? "\"yes\"" : "true"; }

}  // namespace

TEST(ProjectKeysTest, EveryKeyIsReadWithTheKindItsTableGives) {
  TempDir dir;
  dir.Write("a.txt", "alpha");
  int keys = 0;
  for (const ProjectKey& key : ProjectKeys().Keys()) {
    const std::string table = key.table, name = key.name, wrong = name + " = " + WrongValue(key) + "\n";
    std::string toml, path;
    if (table.empty()) {
      toml = name == "product" ? wrong : wrong + "[product]\nname = \"P\"\n";
      path = name;
    } else if (IsTableList(table)) {
      toml = "[product]\nname = \"P\"\n[[" + table + "]]\n" + RequiredOf(table, name) + wrong;
      path = table + "[1]." + name;
    } else {
      toml = table == "product" ? "[product]\n" + (name == "name" ? "" : std::string("name = \"P\"\n")) + wrong
                                : "[product]\nname = \"P\"\n[" + table + "]\n" + wrong;
      path = table + "." + name;
    }
    dir.Write("p.toml", toml);
    Project p;
    std::string error;
    EXPECT_FALSE(LoadProject((dir.path / "p.toml").string(), p, error)) << toml;
    EXPECT_NE(std::string::npos, error.find(" " + path + ": ")) << toml << "\ngot: " << error;
    EXPECT_EQ(std::string::npos, error.find("fault in truxpack")) << error;
    EXPECT_EQ(std::string::npos, error.find("unknown key")) << "the loader never reads " << path;
    ++keys;
  }
  EXPECT_GT(keys, 100);

  // The language files' keys, read through their own table.
  for (const ProjectKey& key : LanguageFileKeys().Keys()) {
    dir.Write("l.toml", key.name == std::string("name") ? std::string("name = true\n")
                                                         : "name = \"L\"\n" + std::string(key.name) + " = true\n");
    dir.Write("p.toml", "[product]\nname = \"P\"\n[languages]\nfiles = [\"l.toml\"]\n");
    Project p;
    std::string error;
    EXPECT_FALSE(LoadProject((dir.path / "p.toml").string(), p, error)) << key.name;
    EXPECT_NE(std::string::npos, error.find(" " + std::string(key.name) + ": ")) << error;
  }
}

TEST(ProjectKeysTest, AKeyOutsideTheTableOrReadAsAnotherKindFailsTheLoad) {
  const KeyTable keys({ProjectKey{"", "known", KeyKind::kText, "a text"}});
  toml::table doc = toml::parse("known = \"x\"\nother = \"y\"\n");
  std::string text;
  bool flag = false;

  Loader outside;
  outside.file = "t.toml";
  outside.keys = &keys;
  Table t(outside, &doc, "");
  EXPECT_TRUE(t.Text("known", text));
  EXPECT_EQ("x", text);
  EXPECT_FALSE(t.Text("other", text));
  EXPECT_NE(std::string::npos, outside.error.find("other: read by the loader but missing from its key table"))
      << outside.error;

  Loader kind;
  kind.file = "t.toml";
  kind.keys = &keys;
  Table u(kind, &doc, "");
  EXPECT_FALSE(u.Bool("known", flag));
  EXPECT_NE(std::string::npos, kind.error.find("known: read as another kind of value than its key table says"))
      << kind.error;

  // A raw look-up is still bound to the table.
  Loader raw;
  raw.file = "t.toml";
  raw.keys = &keys;
  Table v(raw, &doc, "");
  EXPECT_EQ(nullptr, v.Get("other"));
  EXPECT_FALSE(raw.error.empty());
}

// A table given as a plain value is an error, whichever loader notes it.
TEST(ProjectKeysTest, ATableGivenAsAValueFailsTheLoad) {
  TempDir dir;
  dir.Write("a.txt", "alpha");
  for (const char* table : {"flags", "dialogs", "background", "shortcuts", "batches", "uninstall", "data", "languages"}) {
    dir.Write("p.toml", std::string(table) + " = 5\n[product]\nname = \"P\"\n[[file]]\nsource = \"a.txt\"\n");
    Project p;
    std::string error;
    EXPECT_FALSE(LoadProject((dir.path / "p.toml").string(), p, error)) << table;
    EXPECT_NE(std::string::npos, error.find(std::string(table) + ": expected a table")) << error;
  }
}

TEST(ProjectKeysTest, TheSchemaNamesEveryKeyOnceWithItsHelp) {
  const std::string schema = ProjectSchemaJson();
  for (const ProjectKey& key : ProjectKeys().Keys()) {
    EXPECT_NE(std::string::npos, schema.find(JsonQuote(key.name) + ": {")) << key.name;
    EXPECT_NE(std::string::npos, schema.find("\"description\": " + JsonQuote(key.help))) << key.name;
  }
  EXPECT_NE(std::string::npos, schema.find("\"required\": [\"product\"]"));
  EXPECT_NE(std::string::npos, schema.find("\"additionalProperties\": false"));
}

TEST(JsonTextTest, QuotesEscapeWhatJsonNeeds) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {std::string("\n\t\x01\x7f", 4), "\"\\u000a\\u0009\\u0001\\u007f\""},
      {"caf\xC3\xA9", "\"caf\xC3\xA9\""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.out, JsonQuote(c.in)) << c.in;
  JsonValue v = JsonValue::Object();
  v.Set("a", JsonValue::Array().Add(JsonValue::Number(1)).Add(JsonValue::Bool(false)));
  v.Set("b", JsonValue::Object().Set("c", JsonValue::Text("d")));
  v.Set("e", JsonValue::Array());
  EXPECT_EQ("{\n  \"a\": [1, false],\n  \"b\": {\n    \"c\": \"d\"\n  },\n  \"e\": []\n}", v.Print());
}
