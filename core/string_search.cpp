// String: the plain searches (literal patterns and character sets, no
// wildcards). They sit below the wildcard matcher, which searches its
// portions with FindPlainText.
#include "core/string.h"

#include <string.h>

#include "core/string_chars.h"

using string_chars::CLength;
using string_chars::FoldAscii;
using string_chars::InSet;

namespace {

bool CharsMatch(char t, char p, uint32_t flags) {
  if ((flags & kFindQuestionAny) && p == '?') return true;
  if (flags & kFindIgnoreCase) return FoldAscii(t) == FoldAscii(p);
  return t == p;
}

bool MatchesAt(const char* text, const char* pattern, int32_t n, uint32_t flags) {
  if (!(flags & (kFindQuestionAny | kFindIgnoreCase))) return memcmp(text, pattern, (size_t)n) == 0;
  for (int32_t i = 0; i < n; ++i)
    if (!CharsMatch(text[i], pattern[i], flags)) return false;
  return true;
}

// True when position pos of text lies inside a double-quoted section, judged
// by the quotes before it.
bool InsideQuotes(const char* text, int32_t pos) {
  bool inside = false;
  for (int32_t i = 0; i < pos; ++i)
    if (text[i] == '"') inside = !inside;
  return inside;
}

bool InCharSet(const char* set, int32_t n, char c, uint32_t flags) {
  for (int32_t i = 0; i < n; ++i)
    if (CharsMatch(c, set[i], flags & kFindIgnoreCase)) return true;
  return false;
}

bool WholeWordAt(const char* text, int32_t length, int32_t pos, int32_t end, uint32_t flags) {
  if (pos > 0 && IsWordChar((unsigned char)text[pos - 1], flags)) return false;
  if (end < length && IsWordChar((unsigned char)text[end], flags)) return false;
  return true;
}

}  // namespace

bool IsWordChar(unsigned char c, uint32_t flags) {
  if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_') return true;
  return c >= 128 && (flags & kFindHighWordChars);
}

int32_t FindPlainText(const char* text, int32_t length, const char* pattern, int32_t patternLength,
                      int32_t start, uint32_t flags) {
  if (length == kWholeText) length = CLength(text);
  if (patternLength == kWholeText) patternLength = CLength(pattern);
  if (!text || length <= 0 || !pattern || patternLength <= 0) return -1;

  const bool backwards = (flags & kFindBackwards) != 0;
  const bool skipQuoted = (flags & kFindSkipQuoted) != 0;
  const bool charSet = (flags & kFindCharSet) != 0;
  const int32_t width = charSet ? 1 : patternLength;
  const int32_t last = length - width;  // last possible match position
  if (last < 0) return -1;

  // A match counts only when its first character lies outside double quotes
  // (an even number of quotes before it).
  auto matchAt = [&](int32_t i) {
    bool hit = charSet ? InCharSet(pattern, patternLength, text[i], flags)
                       : MatchesAt(text + i, pattern, patternLength, flags);
    return hit && (!(flags & kFindWholeWord) || WholeWordAt(text, length, i, i + width, flags));
  };
  auto result = [&](int32_t i) { return (flags & kFindReturnEnd) ? i + width : i; };

  if (backwards) {
    int32_t from = start - 1;
    if (from > last) from = last;
    for (int32_t i = from; i >= 0; --i)
      if (matchAt(i) && !(skipQuoted && InsideQuotes(text, i))) return result(i);
    return -1;
  }
  if (start < 0) start = 0;
  if (start > last) return -1;
  bool quoted = skipQuoted && InsideQuotes(text, start);
  for (int32_t i = start; i <= last; ++i) {
    if (!quoted && matchAt(i)) return result(i);
    if (skipQuoted && text[i] == '"') quoted = !quoted;
  }
  return -1;
}

int32_t String::FindChar(char c, int32_t start, uint32_t flags) const {
  return FindPlainText(buffer_, length_, &c, 1, start, flags & (kFindIgnoreCase | kFindSkipQuoted));
}

int32_t String::FindLastChar(char c, int32_t before, uint32_t flags) const {
  if (before > length_) before = length_;
  return FindPlainText(buffer_, length_, &c, 1, before, (flags & (kFindIgnoreCase | kFindSkipQuoted)) | kFindBackwards);
}

int32_t String::FindFirstOf(const char* set, int32_t start) const {
  return FindPlainText(buffer_, length_, set, kWholeText, start, kFindCharSet);
}

int32_t String::FindFirstNotOf(const char* set, int32_t start) const {
  if (start < 0) start = 0;
  for (int32_t i = start; i < length_; ++i)
    if (!InSet(set, buffer_[i])) return i;
  return -1;
}
