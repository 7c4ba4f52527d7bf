#include "tools/truxpack/text_encoding.h"

#include <stdio.h>

namespace {

// Windows-1252 for 0x80..0x9F; 0 marks the five unassigned positions.
const uint16_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                  0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

size_t DecodeUtf8(const std::string& s, size_t i, uint32_t& cp) {
  unsigned char c = (unsigned char)s[i];
  size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
  for (size_t k = 1; k < n; ++k) {
    unsigned char d = (unsigned char)s[i + k];
    if ((d & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (d & 0x3F);
  }
  static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

bool Utf8ToCp1252(const std::string& in, std::string& out, std::string& bad) {
  out.clear();
  for (size_t i = 0; i < in.size();) {
    uint32_t cp = 0;
    size_t n = DecodeUtf8(in, i, cp);
    if (n == 0) {
      bad = "invalid UTF-8";
      return false;
    }
    int byte = -1;
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) byte = (int)cp;
    for (int k = 0; k < 32 && byte < 0; ++k)
      if (kCp1252High[k] == cp && cp != 0) byte = 0x80 + k;
    if (byte < 0) {
      bad = "character U+" + [&] {
        char hex[16];
        snprintf(hex, sizeof hex, "%04X", cp);
        return std::string(hex);
      }() + " has no Windows-1252 form";
      return false;
    }
    out += (char)byte;
    i += n;
  }
  return true;
}

bool IsValidUtf8(const std::string& s) {
  uint32_t cp;
  for (size_t i = 0; i < s.size();) {
    size_t n = DecodeUtf8(s, i, cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string ToCrLf(const std::string& in) {
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '\n' && (i == 0 || in[i - 1] != '\r')) out += '\r';
    out += in[i];
  }
  return out;
}


namespace {

// Appends the UTF-8 form of cp (below U+10000).
void AppendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += (char)cp;
  } else if (cp < 0x800) {
    out += (char)(0xC0 | (cp >> 6));
    out += (char)(0x80 | (cp & 0x3F));
  } else {
    out += (char)(0xE0 | (cp >> 12));
    out += (char)(0x80 | ((cp >> 6) & 0x3F));
    out += (char)(0x80 | (cp & 0x3F));
  }
}

}  // namespace

bool Cp1252ToUtf8(const std::string& in, std::string& out) {
  out.clear();
  for (unsigned char c : in) {
    uint32_t cp = c;
    if (c >= 0x80 && c < 0xA0) cp = kCp1252High[c - 0x80];
    if (cp == 0 && c != 0) return false;
    AppendUtf8(cp, out);
  }
  return true;
}

std::string Cp1252ToUtf8AsWindows(const std::string& in) {
  std::string out;
  for (unsigned char c : in) {
    uint32_t cp = c;
    if (c >= 0x80 && c < 0xA0 && kCp1252High[c - 0x80] != 0) cp = kCp1252High[c - 0x80];
    AppendUtf8(cp, out);
  }
  return out;
}
