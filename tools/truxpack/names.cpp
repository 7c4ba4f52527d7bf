#include "tools/truxpack/names.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "tools/truxpack/text_encoding.h"

namespace {

std::string Escaped(unsigned char c) {
  char text[8];
  snprintf(text, sizeof text, "\\x%02X", c);
  return text;
}

bool IsDeviceName(const std::string& component) {
  // The part before the first dot decides: "con.txt" is the device too.
  std::string stem = component.substr(0, component.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem)
    if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
  static const char* kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* d : kDevices)
    if (stem == d) return true;
  // COM1..COM9 and LPT1..LPT9, with the superscript digits Windows also takes.
  if (stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0))
    return (stem[3] >= '1' && stem[3] <= '9') || stem[3] == '\xB9' || stem[3] == '\xB2' || stem[3] == '\xB3';
  return false;
}

}  // namespace

std::string WindowsNameProblem(const std::string& name) {
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('\\', start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    std::string shown = "\"" + PrintableName(part) + "\"";
    for (unsigned char c : part) {
      if (c < 0x20 || c == 0x7F) return shown + " contains the control character " + Escaped(c);
      if (strchr("<>:\"/|?*", c))
        return shown + " contains '" + std::string(1, (char)c) + "', which Windows does not allow in file names";
    }
    if (!part.empty() && (part.back() == '.' || part.back() == ' ') && part != "." && part != "..")
      return shown + " ends with a " + std::string(part.back() == '.' ? "dot" : "space") +
             ", which Windows removes from file names";
    if (IsDeviceName(part)) return shown + " is a device name on Windows, not a file name";
    start = end + 1;
  }
  return std::string();
}

std::string PrintableName(const std::string& cp1252) {
  std::string out;
  for (unsigned char c : cp1252) {
    std::string one(1, (char)c), utf8;
    if (c < 0x20 || c == 0x7F || !Cp1252ToUtf8(one, utf8))
      out += Escaped(c);
    else
      out += utf8;
  }
  return out;
}

std::string PrintablePath(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp = 0;
    size_t n = DecodeUtf8(utf8, i, cp);
    if (n == 0 || cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0)) {
      if (n == 0) n = 1;
      for (size_t k = 0; k < n; ++k) out += Escaped((unsigned char)utf8[i + k]);
    } else {
      out.append(utf8, i, n);
    }
    i += n;
  }
  return out;
}
