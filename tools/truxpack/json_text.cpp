#include "tools/truxpack/json_text.h"

#include <stdio.h>

std::string JsonQuote(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += (char)c;
    } else if (c < 0x20 || c == 0x7F) {
      char esc[8];
      snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out += (char)c;
    }
  }
  return out + "\"";
}

JsonValue& JsonValue::Set(const std::string& name, JsonValue value) {
  members_.emplace_back(name, std::move(value));
  return *this;
}

JsonValue& JsonValue::Add(JsonValue value) {
  items_.push_back(std::move(value));
  return *this;
}

JsonValue& JsonValue::Merge(JsonValue object) {
  for (auto& member : object.members_) members_.push_back(std::move(member));
  return *this;
}

std::string JsonValue::Print(int indent) const {
  if (type_ == kScalar) return scalar_;
  const std::string inner(indent + 2, ' '), outer(indent, ' ');
  std::string out;
  if (type_ == kArray) {
    bool flat = true;
    for (const JsonValue& v : items_) flat = flat && v.type_ == kScalar;
    out = "[";
    for (size_t i = 0; i < items_.size(); ++i) {
      if (flat)
        out += (i ? ", " : "") + items_[i].scalar_;
      else
        out += (i ? ",\n" : "\n") + inner + items_[i].Print(indent + 2);
    }
    return out + (flat || items_.empty() ? "]" : "\n" + outer + "]");
  }
  out = "{";
  for (size_t i = 0; i < members_.size(); ++i)
    out += (i ? ",\n" : "\n") + inner + JsonQuote(members_[i].first) + ": " + members_[i].second.Print(indent + 2);
  return out + (members_.empty() ? "}" : "\n" + outer + "}");
}
