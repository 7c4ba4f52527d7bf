#include "tools/truxpack/project_schema.h"

#include "tools/truxpack/json_text.h"
#include "tools/truxpack/tool_info.h"

namespace {

// Dates as TOML writes them (editors hand TOML dates to the schema as such
// texts) and as the project's texts may give them ("2024-05-01 12:00").
constexpr char kDatePattern[] =
    "^[0-9]{4}-[0-9]{2}-[0-9]{2}([T ][0-9]{2}:[0-9]{2}(:[0-9]{2}(\\.[0-9]+)?)?(Z|[+-][0-9]{2}:[0-9]{2})?)?$";
// Message numbers: 0 to 9999, written with up to five digits.
constexpr char kMessageNumberPattern[] = "^([0-9]{1,4}|0[0-9]{4})$";

JsonValue Names(const ProjectKey& key) {
  JsonValue names = JsonValue::Array();
  for (const Choice& c : *key.choices) names.Add(JsonValue::Text(c.name));
  return names;
}

JsonValue Integer(int64_t min, int64_t max) {
  return JsonValue::Object()
      .Set("type", JsonValue::Text("integer"))
      .Set("minimum", JsonValue::Number(min))
      .Set("maximum", JsonValue::Number(max));
}

JsonValue Typed(const char* type) { return JsonValue::Object().Set("type", JsonValue::Text(type)); }

JsonValue Patterned(const char* pattern) { return Typed("string").Set("pattern", JsonValue::Text(pattern)); }

JsonValue AnyOf(JsonValue a, JsonValue b) {
  return JsonValue::Object().Set("anyOf", JsonValue::Array().Add(std::move(a)).Add(std::move(b)));
}

JsonValue TableSchema(const KeyTable& table, const std::string& name);

// The schema of one key's value.
JsonValue ValueSchema(const KeyTable& table, const ProjectKey& key) {
  using enum KeyKind;
  switch (key.kind) {
    case kText:
    case kPath:
    case kFile: {
      JsonValue v = Typed("string");
      if (key.required || key.kind == kFile) v.Set("minLength", JsonValue::Number(1));
      return v;
    }
    case kBool:
      return Typed("boolean");
    case kInteger:
      return Integer(key.min, key.max);
    case kChoice:
      return AnyOf(JsonValue::Object().Set("enum", Names(key)), Integer(key.min, key.max));
    case kName:
      return JsonValue::Object().Set("enum", Names(key));
    case kNameSet:
      return AnyOf(Typed("array").Set("items", JsonValue::Object().Set("enum", Names(key))),
                   Integer(key.min, key.max));
    case kColor:
      return AnyOf(Patterned("^#[0-9A-Fa-f]{6}$"), Integer(0, 0xFFFFFFFFll));
    case kDate:
      return Patterned(kDatePattern);
    case kTextList: {
      JsonValue v = Typed("array").Set("items", Typed("string"));
      if (key.max > 0) v.Set("maxItems", JsonValue::Number(key.max));
      return v;
    }
    case kFlagWord:
      return AnyOf(Typed("integer").Set("minimum", JsonValue::Number(0)), Patterned("^0x[0-9A-Fa-f]{1,16}$"));
    case kPattern:
      return Patterned(key.pattern);
    case kMessages:
      return Typed("object")
          .Set("propertyNames", JsonValue::Object().Set("pattern", JsonValue::Text(kMessageNumberPattern)))
          .Set("additionalProperties", Typed("string"));
    case kTable:
      return TableSchema(table, KeyTable::Inner(key));
    case kTableList:
      return Typed("array").Set("items", TableSchema(table, KeyTable::Inner(key)));
  }
  return JsonValue::Object();
}

// The object schema of one table: its keys and no others.
JsonValue TableSchema(const KeyTable& table, const std::string& name) {
  JsonValue properties = JsonValue::Object(), required = JsonValue::Array();
  for (const ProjectKey& key : table.Keys()) {
    if (name != key.table) continue;
    JsonValue value = ValueSchema(table, key);
    // The description goes first, where an editor's hover shows it.
    JsonValue described = JsonValue::Object().Set("description", JsonValue::Text(key.help));
    described.Merge(std::move(value));
    properties.Set(key.name, std::move(described));
    if (key.required) required.Add(JsonValue::Text(key.name));
  }
  JsonValue schema = Typed("object").Set("properties", std::move(properties));
  if (!required.Empty()) schema.Set("required", std::move(required));
  return schema.Set("additionalProperties", JsonValue::Bool(false));
}

}  // namespace

std::string KeySchemaJson(const KeyTable& table, const std::string& title, const std::string& description) {
  JsonValue schema = JsonValue::Object()
                         .Set("$schema", JsonValue::Text("https://json-schema.org/draft/2020-12/schema"))
                         .Set("title", JsonValue::Text(title))
                         .Set("description", JsonValue::Text(description));
  schema.Merge(TableSchema(table, ""));
  return schema.Print() + "\n";
}

std::string ProjectSchemaJson() {
  return KeySchemaJson(ProjectKeys(), "truxpack project file",
                       std::string("A product for truxpack ") + ToolVersion() +
                           " to pack into an installer; written by `truxpack schema`.");
}
