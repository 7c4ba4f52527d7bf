#include "tools/truxpack/json_text.h"

#include <stdio.h>

#include "tools/truxpack/text_encoding.h"

// Control characters (C0, DEL and C1) are escaped so that none reaches a
// terminal, and a byte that is not UTF-8 (a path on this machine can hold
// any) becomes U+FFFD, since JSON holds characters, not bytes.
std::string JsonQuote(const std::string& utf8) {
  std::string out = "\"";
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp = 0;
    size_t n = DecodeUtf8(utf8, i, cp);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    if (cp == '"' || cp == '\\') {
      out += '\\';
      out += (char)cp;
    } else if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
      char esc[8];
      snprintf(esc, sizeof esc, "\\u%04x", (unsigned)cp);
      out += esc;
    } else {
      out.append(utf8, i, n);
    }
    i += n;
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
