#include "core/win32/version_info.h"

#include "core/string_chars.h"

using string_chars::IsAsciiLetter;

namespace {
constexpr int32_t kPaddedPartWidth = 10;

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// Hands out the numbers of a version text one at a time, so comparing never
// needs a list as long as the text.
class VersionNumbers {
 public:
  explicit VersionNumbers(const char* text) : at_(text ? text : "") {}
  // The next number; false when the text has no more.
  bool Next(uint32_t& value) {
    for (; *at_; ++at_) {
      if (IsAsciiDigit(*at_)) {
        uint64_t n = 0;
        for (; IsAsciiDigit(*at_); ++at_) {
          n = n * 10 + (uint64_t)(*at_ - '0');
          if (n > 0xFFFFFFFFu) n = 0xFFFFFFFFu;
        }
        value = (uint32_t)n;
        seenAny_ = true;
        return true;
      }
      if (*at_ == '.' && !seenAny_) {
        ++at_;
        value = 0;
        seenAny_ = true;
        return true;
      }
    }
    return false;
  }

 private:
  const char* at_;
  bool seenAny_ = false;
};

unsigned char SuffixLetter(const char* text) {
  unsigned char suffix = 0;
  for (const char* p = text ? text : ""; *p; ++p)
    if (IsAsciiLetter(*p)) suffix = (unsigned char)*p;
  return suffix;
}
}  // namespace

int CompareVersions(const char* a, const char* b) {
  VersionNumbers left(a), right(b);
  for (;;) {
    uint32_t x = 0, y = 0;
    const bool hasX = left.Next(x);
    const bool hasY = right.Next(y);
    if (!hasX && !hasY) break;
    if (!hasX) return -1;
    if (!hasY) return 1;
    if (x != y) return x < y ? -1 : 1;
  }
  return (int)SuffixLetter(a) - (int)SuffixLetter(b);
}

void CleanVersionText(String& version) {
  version.StripLastChar('\0');
  version.ReplaceChar(',', '.');
  for (const char* c = kBlankChars; *c; ++c) version.RemoveChar(*c);
}

void PadVersionText(String& version) {
  if (version.IsEmpty()) return;
  version.UpperCaseAscii();
  String padded;
  int32_t start = 0;
  for (;;) {
    int32_t dot = version.FindChar('.', start);
    int32_t end = dot < 0 ? version.Length() : dot;
    for (int32_t n = end - start; n < kPaddedPartWidth; ++n) padded.AppendChar('0');
    padded.Append(version.CStr() + start, end - start);
    if (dot < 0) break;
    padded.AppendChar('.');
    start = dot + 1;
  }
  version = static_cast<String&&>(padded);
}
