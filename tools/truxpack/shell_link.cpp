#include "tools/truxpack/shell_link.h"

#include <string.h>

#include "core/byte_order.h"
#include "tools/truxpack/text_encoding.h"
#include "tools/truxpack/wine_registry.h"

namespace {

constexpr uint32_t kHeaderSize = 0x4C;
// {00021401-0000-0000-C000-000000000046} as stored.
constexpr unsigned char kLinkClassId[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                            0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
constexpr uint32_t kHasItemList = 0x1;
constexpr uint32_t kHasLinkInfo = 0x2;
constexpr uint32_t kHasName = 0x4;
constexpr uint32_t kHasRelativePath = 0x8;
constexpr uint32_t kHasWorkingDir = 0x10;
constexpr uint32_t kHasArguments = 0x20;
constexpr uint32_t kHasIconLocation = 0x40;
constexpr uint32_t kIsUnicode = 0x80;
constexpr uint32_t kVolumeAndLocalBasePath = 0x1;
constexpr uint32_t kEnvironmentBlock = 0xA0000001;
constexpr size_t kEnvironmentBlockSize = 0x314;  // size, signature, 260 ANSI bytes, 260 UTF-16 units
constexpr size_t kPathUnits = 260;

// Bounded little-endian reads over the link's bytes.
class Reader {
 public:
  explicit Reader(const std::string& b) : data_((const unsigned char*)b.data()), size_(b.size()) {}
  bool Has(size_t at, size_t n) const { return at <= size_ && n <= size_ - at; }
  uint16_t U16(size_t at) const { return LoadLe16(data_ + at); }
  uint32_t U32(size_t at) const { return LoadLe32(data_ + at); }
  const unsigned char* At(size_t at) const { return data_ + at; }
  size_t Size() const { return size_; }

 private:
  const unsigned char* data_;
  size_t size_;
};

std::string AnsiToUtf8(const std::string& ansi) {
  std::string utf8;
  if (Cp1252ToUtf8(ansi, utf8)) return utf8;
  // The five bytes without a Windows-1252 character stay visible as escapes.
  utf8.clear();
  for (unsigned char c : ansi) {
    std::string one(1, (char)c), converted;
    if (Cp1252ToUtf8(one, converted)) {
      utf8 += converted;
    } else {
      static const char kHex[] = "0123456789ABCDEF";
      utf8 += std::string("\\x") + kHex[c >> 4] + kHex[c & 15];
    }
  }
  return utf8;
}

// A zero-terminated ANSI text at at, within [at, end).
bool AnsiZ(const Reader& r, size_t at, size_t end, std::string& out) {
  out.clear();
  for (size_t i = at; i < end; ++i) {
    if (!r.Has(i, 1)) return false;
    if (*r.At(i) == 0) {
      out = AnsiToUtf8(out);
      return true;
    }
    out += (char)*r.At(i);
  }
  return false;
}

// A zero-terminated UTF-16 text of at most units code units at at.
bool Utf16Z(const Reader& r, size_t at, size_t units, std::string& out) {
  std::u16string s;
  for (size_t k = 0; k < units; ++k) {
    if (!r.Has(at + 2 * k, 2)) return false;
    const char16_t c = r.U16(at + 2 * k);
    if (c == 0) break;
    s += c;
  }
  out = Utf16ToUtf8(s);
  return true;
}

bool ReadLinkInfo(const Reader& r, size_t at, std::string& target, size_t& next, std::string& problem) {
  if (!r.Has(at, 28)) {
    problem = "the link information block is cut short";
    return false;
  }
  const uint32_t size = r.U32(at);
  if (size < 28 || !r.Has(at, size)) {
    problem = "the link information block claims more bytes than the file has";
    return false;
  }
  const size_t end = at + size;
  const uint32_t flags = r.U32(at + 8);
  next = end;
  if (!(flags & kVolumeAndLocalBasePath)) return true;  // a network target: no local path
  const uint32_t baseOffset = r.U32(at + 16), suffixOffset = r.U32(at + 24);
  std::string base, suffix;
  if (baseOffset >= size || !AnsiZ(r, at + baseOffset, end, base)) {
    problem = "the local base path lies outside the link information block";
    return false;
  }
  if (suffixOffset != 0 && (suffixOffset >= size || !AnsiZ(r, at + suffixOffset, end, suffix))) {
    problem = "the path suffix lies outside the link information block";
    return false;
  }
  target = base + suffix;
  return true;
}

bool ReadCountedString(const Reader& r, size_t& at, bool unicode, std::string& out, std::string& problem) {
  if (!r.Has(at, 2)) {
    problem = "a string of the link is cut short";
    return false;
  }
  const size_t count = r.U16(at);
  at += 2;
  const size_t bytes = unicode ? 2 * count : count;
  if (!r.Has(at, bytes)) {
    problem = "a string of the link claims more bytes than the file has";
    return false;
  }
  // The strings are counted, not terminated; Wine counts a terminating zero
  // in, which ends the text.
  if (unicode) {
    std::u16string s;
    for (size_t k = 0; k < count && r.U16(at + 2 * k) != 0; ++k) s += (char16_t)r.U16(at + 2 * k);
    out = Utf16ToUtf8(s);
  } else {
    std::string ansi((const char*)r.At(at), count);
    out = AnsiToUtf8(ansi.substr(0, ansi.find('\0')));
  }
  at += bytes;
  return true;
}

// The target named by the environment-variable block, when the link has one
// and no local path: its UTF-16 form, else its ANSI form.
void ReadExtraTarget(const Reader& r, size_t at, std::string& target) {
  while (r.Has(at, 4)) {
    const uint32_t size = r.U32(at);
    if (size < 8 || !r.Has(at, size)) return;  // the terminal block (size 0) or a cut one
    if (r.U32(at + 4) == kEnvironmentBlock && size >= kEnvironmentBlockSize) {
      std::string unicode, ansi;
      if (Utf16Z(r, at + 8 + kPathUnits, kPathUnits, unicode) && !unicode.empty()) {
        target = unicode;
      } else if (AnsiZ(r, at + 8, at + 8 + kPathUnits, ansi)) {
        target = ansi;
      }
      return;
    }
    at += size;
  }
}

}  // namespace

bool ReadShellLink(const std::string& bytes, ShellLink& link, std::string& problem) {
  link = ShellLink();
  const Reader r(bytes);
  if (!r.Has(0, kHeaderSize) || r.U32(0) != kHeaderSize || memcmp(r.At(4), kLinkClassId, 16) != 0) {
    problem = "not a shell link (no shell link header)";
    return false;
  }
  const uint32_t flags = r.U32(20);
  link.iconIndex = (int32_t)r.U32(56);
  size_t at = kHeaderSize;
  if (flags & kHasItemList) {
    if (!r.Has(at, 2) || !r.Has(at + 2, r.U16(at))) {
      problem = "the item list is cut short";
      return false;
    }
    at += 2 + r.U16(at);
  }
  if (flags & kHasLinkInfo) {
    size_t next = at;
    if (!ReadLinkInfo(r, at, link.target, next, problem)) return false;
    at = next;
  }
  const bool unicode = (flags & kIsUnicode) != 0;
  std::string relative;
  struct Part {
    uint32_t flag;
    std::string* out;
  } parts[] = {{kHasName, &link.description},
               {kHasRelativePath, &relative},
               {kHasWorkingDir, &link.workingDirectory},
               {kHasArguments, &link.arguments},
               {kHasIconLocation, &link.iconLocation}};
  for (const Part& part : parts)
    if ((flags & part.flag) && !ReadCountedString(r, at, unicode, *part.out, problem)) return false;
  if (link.target.empty()) ReadExtraTarget(r, at, link.target);
  return true;
}
