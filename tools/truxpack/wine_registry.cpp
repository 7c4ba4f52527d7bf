#include "tools/truxpack/wine_registry.h"

#include <stdio.h>
#include <string.h>

namespace {

constexpr char kHeader[] = "WINE REGISTRY Version 2";
constexpr size_t kShownBytes = 64;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads an escaped UTF-16 text from s[i] up to the unescaped terminator,
// which it passes. The escapes are the wineserver's: \\ and \<terminator>
// for themselves, C letters for control characters, \xH to \xHHHH, and
// octal \O to \OOO.
bool ReadEscaped(const std::string& s, size_t& i, char terminator, std::u16string& out) {
  out.clear();
  while (i < s.size()) {
    char c = s[i++];
    if (c == terminator) return true;
    if (c != '\\') {
      out += (char16_t)(unsigned char)c;
      continue;
    }
    if (i >= s.size()) return false;
    c = s[i++];
    switch (c) {
      case 'a': out += u'\a'; break;
      case 'b': out += u'\b'; break;
      case 'e': out += (char16_t)0x1B; break;
      case 'f': out += u'\f'; break;
      case 'n': out += u'\n'; break;
      case 'r': out += u'\r'; break;
      case 't': out += u'\t'; break;
      case 'v': out += u'\v'; break;
      case 'x': {
        uint32_t v = 0;
        int n = 0;
        for (; n < 4 && i < s.size() && HexDigit(s[i]) >= 0; ++n) v = v * 16 + (uint32_t)HexDigit(s[i++]);
        if (n == 0) return false;
        out += (char16_t)v;
        break;
      }
      default:
        if (c >= '0' && c <= '7') {
          uint32_t v = (uint32_t)(c - '0');
          for (int n = 1; n < 3 && i < s.size() && s[i] >= '0' && s[i] <= '7'; ++n) v = v * 8 + (uint32_t)(s[i++] - '0');
          out += (char16_t)v;
        } else {
          out += (char16_t)(unsigned char)c;
        }
    }
  }
  return false;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += (char)cp;
  } else if (cp < 0x800) {
    out += (char)(0xC0 | (cp >> 6));
    out += (char)(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += (char)(0xE0 | (cp >> 12));
    out += (char)(0x80 | ((cp >> 6) & 0x3F));
    out += (char)(0x80 | (cp & 0x3F));
  } else {
    out += (char)(0xF0 | (cp >> 18));
    out += (char)(0x80 | ((cp >> 12) & 0x3F));
    out += (char)(0x80 | ((cp >> 6) & 0x3F));
    out += (char)(0x80 | (cp & 0x3F));
  }
}

bool StartsWith(const std::string& s, size_t at, const char* prefix) {
  const size_t n = strlen(prefix);
  return s.size() - at >= n && s.compare(at, n, prefix) == 0;
}

// One line of the text from pos (without its LF or CR LF); pos moves past it.
std::string NextLine(const std::string& text, size_t& pos) {
  size_t end = text.find('\n', pos);
  if (end == std::string::npos) end = text.size();
  std::string line = text.substr(pos, end - pos);
  pos = end < text.size() ? end + 1 : end;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string LineError(size_t line, const std::string& problem) {
  return "line " + std::to_string(line) + ": " + problem;
}

std::u16string FromUtf16Le(const std::string& bytes) {
  std::u16string s;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    s += (char16_t)((unsigned char)bytes[i] | ((unsigned char)bytes[i + 1] << 8));
  return s;
}

// A text for people: control characters as \xNN, so a value can never move
// a terminal's cursor.
std::string Quoted(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    if (c < 0x20 || c == 0x7F) {
      char esc[8];
      snprintf(esc, sizeof esc, "\\x%02X", c);
      out += esc;
    } else {
      out += (char)c;
    }
  }
  return out + "\"";
}

}  // namespace

std::string Utf16ToUtf8(const std::u16string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t)(s[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, c);
  }
  return out;
}

bool ParseWineRegistry(const std::string& text, const std::string& root, std::vector<RegistryKey>& keys,
                       std::string& error) {
  size_t pos = 0, lineNumber = 1;
  if (NextLine(text, pos) != kHeader) {
    error = LineError(1, std::string("not a Wine registry file (it does not begin with \"") + kHeader + "\")");
    return false;
  }
  RegistryKey* current = nullptr;
  std::u16string decoded;
  while (pos < text.size()) {
    std::string line = NextLine(text, pos);
    ++lineNumber;
    const size_t at = lineNumber;
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') {
      size_t i = 1;
      if (!ReadEscaped(line, i, ']', decoded)) {
        error = LineError(at, "a key name without its closing ]");
        return false;
      }
      keys.push_back(RegistryKey{root + "\\" + Utf16ToUtf8(decoded), {}});
      current = &keys.back();
      continue;
    }
    if (line[0] != '"' && line[0] != '@') {
      error = LineError(at, "neither a key, a value nor a comment");
      return false;
    }
    if (!current) {
      error = LineError(at, "a value before the first key");
      return false;
    }
    RegistryValue value;
    size_t i = 1;
    if (line[0] == '"') {
      if (!ReadEscaped(line, i, '"', decoded)) {
        error = LineError(at, "a value name without its closing quote");
        return false;
      }
      value.name = Utf16ToUtf8(decoded);
    }
    if (i >= line.size() || line[i] != '=') {
      error = LineError(at, "a value name without =");
      return false;
    }
    value.data = line.substr(i + 1);
    // Lists of bytes go on over lines that end in a backslash.
    if (StartsWith(value.data, 0, "hex")) {
      while (!value.data.empty() && value.data.back() == '\\') {
        value.data.pop_back();
        if (pos >= text.size()) {
          error = LineError(at, "a list of bytes that the file cuts off");
          return false;
        }
        std::string more = NextLine(text, pos);
        ++lineNumber;
        size_t start = more.find_first_not_of(" \t");
        value.data += start == std::string::npos ? std::string() : more.substr(start);
      }
    }
    uint32_t type;
    std::string bytes;
    if (!DecodeRegistryData(value.data, type, bytes)) {
      error = LineError(at, "value data in no known form");
      return false;
    }
    current->values.push_back(std::move(value));
  }
  return true;
}

namespace {

// The hexadecimal type number of "str(T):" and "hex(T):" at i (just after
// the parenthesis), at most eight digits; i then stands after the "):".
bool ReadTypeNumber(const std::string& data, size_t& i, uint32_t& type) {
  uint32_t t = 0;
  int n = 0;
  for (; i < data.size() && HexDigit(data[i]) >= 0 && n < 8; ++n) t = t * 16 + (uint32_t)HexDigit(data[i++]);
  if (n == 0 || !StartsWith(data, i, "):")) return false;
  type = t;
  i += 2;
  return true;
}

}  // namespace

bool DecodeRegistryData(const std::string& data, uint32_t& type, std::string& bytes) {
  bytes.clear();
  size_t i = 0;
  type = kRegSz;
  if (StartsWith(data, 0, "str(")) {
    i = 4;
    if (!ReadTypeNumber(data, i, type)) return false;
  }
  if (i < data.size() && data[i] == '"') {
    ++i;
    std::u16string s;
    if (!ReadEscaped(data, i, '"', s) || i != data.size()) return false;
    s += u'\0';
    for (char16_t c : s) {
      bytes += (char)(c & 0xFF);
      bytes += (char)(c >> 8);
    }
    return true;
  }
  if (i != 0) return false;
  if (StartsWith(data, 0, "dword:")) {
    if (data.size() != 14) return false;
    uint32_t v = 0;
    for (size_t k = 6; k < 14; ++k) {
      if (HexDigit(data[k]) < 0) return false;
      v = v * 16 + (uint32_t)HexDigit(data[k]);
    }
    type = kRegDword;
    for (int k = 0; k < 4; ++k) bytes += (char)((v >> (8 * k)) & 0xFF);
    return true;
  }
  if (StartsWith(data, 0, "hex:")) {
    type = kRegBinary;
    i = 4;
  } else if (StartsWith(data, 0, "hex(")) {
    i = 4;
    if (!ReadTypeNumber(data, i, type)) return false;
  } else {
    return false;
  }
  while (i < data.size()) {
    if (i + 1 >= data.size() || HexDigit(data[i]) < 0 || HexDigit(data[i + 1]) < 0) return false;
    bytes += (char)(HexDigit(data[i]) * 16 + HexDigit(data[i + 1]));
    i += 2;
    if (i < data.size()) {
      if (data[i] != ',') return false;
      ++i;
    }
  }
  return true;
}

uint32_t RegistryDataType(const std::string& data) {
  uint32_t type;
  std::string bytes;
  return DecodeRegistryData(data, type, bytes) ? type : (uint32_t)kRegNone;
}

std::string RegistryTypeName(uint32_t type) {
  switch (type) {
    case kRegNone: return "REG_NONE";
    case kRegSz: return "REG_SZ";
    case kRegExpandSz: return "REG_EXPAND_SZ";
    case kRegBinary: return "REG_BINARY";
    case kRegDword: return "REG_DWORD";
    case kRegLink: return "REG_LINK";
    case kRegMultiSz: return "REG_MULTI_SZ";
    case kRegQword: return "REG_QWORD";
    default: return "type " + std::to_string(type);
  }
}

bool RegistryDataStrings(const std::string& data, std::vector<std::string>& strings) {
  strings.clear();
  uint32_t type;
  std::string bytes;
  if (!DecodeRegistryData(data, type, bytes) || (type != kRegSz && type != kRegExpandSz && type != kRegMultiSz))
    return false;
  std::u16string s = FromUtf16Le(bytes);
  if (type != kRegMultiSz) {
    size_t end = s.find(u'\0');
    strings.push_back(Utf16ToUtf8(s.substr(0, end)));
    return true;
  }
  // A list ends with an empty string; each string ends with a zero.
  size_t start = 0;
  while (start < s.size()) {
    size_t end = s.find(u'\0', start);
    if (end == std::string::npos) end = s.size();
    if (end == start) break;
    strings.push_back(Utf16ToUtf8(s.substr(start, end - start)));
    start = end + 1;
  }
  return true;
}

bool RegistryDataNumber(const std::string& data, uint64_t& number) {
  uint32_t type;
  std::string bytes;
  if (!DecodeRegistryData(data, type, bytes)) return false;
  if (!((type == kRegDword && bytes.size() == 4) || (type == kRegQword && bytes.size() == 8))) return false;
  number = 0;
  for (size_t k = bytes.size(); k-- > 0;) number = (number << 8) | (unsigned char)bytes[k];
  return true;
}

std::string RegistryDataText(const std::string& data) {
  uint32_t type;
  std::string bytes;
  if (!DecodeRegistryData(data, type, bytes)) return Quoted(data);
  std::vector<std::string> strings;
  if (RegistryDataStrings(data, strings)) {
    std::string out;
    for (size_t k = 0; k < strings.size(); ++k) out += (k ? ", " : "") + Quoted(strings[k]);
    return type == kRegMultiSz && strings.empty() ? "(empty list)" : out;
  }
  uint64_t number;
  if (RegistryDataNumber(data, number)) {
    char text[64];
    snprintf(text, sizeof text, "%llu (0x%0*llx)", (unsigned long long)number, type == kRegDword ? 8 : 16,
             (unsigned long long)number);
    return text;
  }
  std::string out;
  for (size_t k = 0; k < bytes.size() && k < kShownBytes; ++k) {
    char hex[4];
    snprintf(hex, sizeof hex, "%s%02x", k ? " " : "", (unsigned char)bytes[k]);
    out += hex;
  }
  if (bytes.size() > kShownBytes) out += " ... (" + std::to_string(bytes.size()) + " bytes)";
  if (bytes.empty()) out = "(no bytes)";
  return type == kRegBinary ? out : RegistryTypeName(type) + ": " + out;
}
