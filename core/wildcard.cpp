#include "core/wildcard.h"

#include <string.h>

namespace {

constexpr uint32_t kPortionSearchMask = ~(uint32_t)(kFindStarWildcard | kFindWholeWord | kFindReturnEnd |
                                                   kFindBackwards | kFindCharSet);

bool HasLineBreak(const char* text, int32_t from, int32_t to) {
  for (int32_t i = from; i < to; ++i)
    if (text[i] == '\r' || text[i] == '\n') return true;
  return false;
}

// Matches portions[d..] starting the search of portion d at p; records the
// positions of a successful chain.
bool MatchFrom(const char* text, int32_t length, Array<WildcardA_Portion>& portions, int32_t d, int32_t p,
               uint32_t flags) {
  WildcardA_Portion& portion = portions[d];
  const int32_t n = portion.text.Length();
  for (int32_t from = p;;) {
    int32_t at = FindPlainText(text, length, portion.text.CStr(), n, from, flags);
    if (at < 0) return false;
    // A '*' never spans a line break.
    if (d > 0 && HasLineBreak(text, p, at)) return false;
    if (d + 1 == portions.Count() || MatchFrom(text, length, portions, d + 1, at + n, flags)) {
      portion.position = at;
      return true;
    }
    from = at + 1;
  }
}

}  // namespace

int32_t WildcardA_Occurrence::Start() const { return portions.Count() ? portions[0].position : -1; }

int32_t WildcardA_Occurrence::End() const {
  if (!portions.Count()) return -1;
  const WildcardA_Portion& last = portions[portions.Count() - 1];
  return last.position + last.text.Length();
}

void SplitWildcard(const char* pattern, int32_t length, Array<WildcardA_Portion>& portions) {
  portions.Clear();
  if (length == kWholeText) length = pattern ? (int32_t)strlen(pattern) : 0;
  WildcardA_Portion current;
  for (int32_t i = 0; i < length; ++i) {
    if (pattern[i] != '*') {
      current.text.AppendChar(pattern[i]);
    } else if (i + 1 < length && pattern[i + 1] == '*') {
      current.text.AppendChar('*');  // "**" is a literal star
      ++i;
    } else {
      portions.Append(current);
      current.text.Clear();
    }
  }
  portions.Append(current);
}

int32_t MatchWildcard(const char* text, int32_t length, const char* pattern, int32_t patternLength,
                      int32_t start, uint32_t flags, WildcardA_Occurrence* occurrence) {
  WildcardA_Occurrence local;
  WildcardA_Occurrence& found = occurrence ? *occurrence : local;
  SplitWildcard(pattern, patternLength, found.portions);
  if (length == kWholeText) length = text ? (int32_t)strlen(text) : 0;
  if (!text || length <= 0) return -1;
  if (start < 0) start = 0;
  const uint32_t portionFlags = flags & kPortionSearchMask;
  const bool wholeWord = (flags & kFindWholeWord) != 0;
  while (start < length && MatchFrom(text, length, found.portions, 0, start, portionFlags)) {
    const int32_t begin = found.Start(), end = found.End();
    if (!wholeWord || (!(begin > 0 && IsWordChar((unsigned char)text[begin - 1], flags)) &&
                       !(end < length && IsWordChar((unsigned char)text[end], flags))))
      return begin;
    start = end > begin ? end : begin + 1;  // a rejected occurrence: go on after it
  }
  for (int32_t i = 0; i < found.portions.Count(); ++i) found.portions[i].position = -1;
  return -1;
}
