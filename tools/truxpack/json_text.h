// JSON texts: a UTF-8 text as a JSON string, and a small document tree
// printed with two-space indentation, for the documents truxpack prints.
#pragma once
#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

// The text in double quotes, with '"', '\\' and every control character
// (C0, DEL, C1) escaped as \u00XX; bytes that are not UTF-8 become U+FFFD.
std::string JsonQuote(const std::string& utf8);

// A JSON value: an object (members in the order added), an array, or a
// scalar already written as JSON.
class JsonValue {
 public:
  static JsonValue Object() { return JsonValue(kObject); }
  static JsonValue Array() { return JsonValue(kArray); }
  static JsonValue Text(const std::string& utf8) { return Scalar(JsonQuote(utf8)); }
  static JsonValue Number(int64_t n) { return Scalar(std::to_string(n)); }
  static JsonValue Bool(bool b) { return Scalar(b ? "true" : "false"); }

  // Object members and array items; each returns *this for chaining.
  JsonValue& Set(const std::string& name, JsonValue value);
  JsonValue& Add(JsonValue value);
  // Appends the members of another object.
  JsonValue& Merge(JsonValue object);
  bool Empty() const { return members_.empty() && items_.empty(); }

  // The value as JSON; arrays of scalars stay on one line.
  std::string Print(int indent = 0) const;

 private:
  enum Type { kObject, kArray, kScalar };
  explicit JsonValue(Type type) : type_(type) {}
  static JsonValue Scalar(std::string json) {
    JsonValue v(kScalar);
    v.scalar_ = std::move(json);
    return v;
  }
  Type type_;
  std::string scalar_;
  std::vector<std::pair<std::string, JsonValue>> members_;
  std::vector<JsonValue> items_;
};
