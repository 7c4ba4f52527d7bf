// String: the pattern operations, which understand '*' wildcards: Find,
// CutAfter and the ReplaceAll family.
#include "core/string.h"

#include <string.h>

#include "core/containers.h"
#include "core/fatal.h"
#include "core/memory.h"
#include "core/string_chars.h"
#include "core/wildcard.h"

using string_chars::CLength;

// ---------------------------------------------------------------- searching

int32_t FindInText(const char* text, int32_t length, const char* pattern, int32_t patternLength,
                   int32_t start, uint32_t flags) {
  if (!(flags & kFindStarWildcard)) return FindPlainText(text, length, pattern, patternLength, start, flags);
  if (length == kWholeText) length = CLength(text);
  if (patternLength == kWholeText) patternLength = CLength(pattern);
  if (!text || length <= 0 || !pattern || patternLength <= 0) return -1;
  return MatchWildcard(text, length, pattern, patternLength, start, flags, nullptr);
}

int32_t String::Find(const char* pattern, int32_t patternLength, int32_t start, uint32_t flags) const {
  return FindInText(buffer_, length_, pattern, patternLength, start, flags);
}

String& String::CutAfter(String& out, const char* text, uint32_t flags) {
  int32_t at = Find(text, kWholeText, 0, flags & ~(uint32_t)kFindReturnEnd);
  if (at < 0) {
    if (&out != this) out.Clear();
    return out;
  }
  return Cut(out, at, kWholeText);
}

// ---------------------------------------------------------------- replacing

namespace {

// Copies the replacement to out; with kFindQuestionAny each '?' of the
// replacement takes the character that the corresponding '?' of find matched
// in `matched` (a '?' without a counterpart stays '?').
void PutReplacement(char* out, const char* replacement, int32_t replacementLength, const char* find,
                    int32_t findLength, const char* matched, uint32_t flags) {
  if (!(flags & kFindQuestionAny)) {
    memcpy(out, replacement, (size_t)replacementLength);
    return;
  }
  int32_t f = 0;
  for (int32_t r = 0; r < replacementLength; ++r) {
    char c = replacement[r];
    if (c == '?') {
      while (f < findLength && find[f] != '?') ++f;
      if (f < findLength) c = matched[f++];
    }
    out[r] = c;
  }
}

// A growable scratch list of match positions, local to one ReplaceAll call.
struct PositionList {
  int32_t* items = nullptr;
  int32_t count = 0;
  int32_t capacity = 0;
  ~PositionList() { MemFree(items); }
  void Add(int32_t p) {
    if (count == capacity) {
      capacity = capacity ? capacity * 2 : 16;
      items = (int32_t*)MemRealloc(items, sizeof(int32_t) * (size_t)capacity);
    }
    items[count++] = p;
  }
};

constexpr uint32_t kReplaceSearchMask = ~(uint32_t)(kReplaceFirstOnly | kFindBackwards | kFindReturnEnd);

}  // namespace

int32_t String::ReplaceAll(const char* find, const char* replacement, uint32_t flags, int32_t start,
                           int32_t maxCount, int32_t skipCount) {
  return (flags & kFindStarWildcard)
             ? ReplaceAllWildcard(find, replacement, CLength(replacement), flags, start, maxCount, skipCount)
             : ReplaceAllSpan(find, replacement, CLength(replacement), flags, start, maxCount, skipCount);
}

int32_t String::ReplaceAll(const char* find, const String& replacement, uint32_t flags, int32_t start,
                           int32_t maxCount, int32_t skipCount) {
  if (&replacement == this) {
    String copy(replacement);
    return ReplaceAll(find, copy, flags, start, maxCount, skipCount);
  }
  return (flags & kFindStarWildcard)
             ? ReplaceAllWildcard(find, replacement.CStr(), replacement.Length(), flags, start, maxCount, skipCount)
             : ReplaceAllSpan(find, replacement.CStr(), replacement.Length(), flags, start, maxCount, skipCount);
}

int32_t String::ReplaceAllChar(const char* find, char c, uint32_t flags, int32_t start) {
  return ReplaceAllSpan(find, &c, 1, flags & ~(uint32_t)kFindStarWildcard, start, kWholeText, 0);
}

int32_t String::ReplaceAllSpan(const char* find, const char* replacement, int32_t replacementLength,
                               uint32_t flags, int32_t start, int32_t maxCount, int32_t skipCount) {
  const bool firstOnly = (flags & kReplaceFirstOnly) != 0;
  const int32_t notFound = firstOnly ? -1 : 0;
  const int32_t findLength = CLength(find);
  if (findLength == 0 || length_ == 0 || maxCount <= 0) return notFound;
  if (start < 0) start = 0;
  const uint32_t searchFlags = flags & kReplaceSearchMask;
  if (firstOnly) maxCount = 1;
  if (replacement == nullptr) replacementLength = 0;

  if (replacementLength == findLength) {
    // Same length: overwrite each match where it stands.
    int32_t found = 0, replaced = 0, firstPos = -1;
    char* scratch = (flags & kFindQuestionAny) ? (char*)MemAlloc((size_t)findLength) : nullptr;
    for (int32_t at = Find(find, findLength, start, searchFlags); at >= 0;
         at = Find(find, findLength, at + findLength, searchFlags)) {
      ++found;
      if (skipCount > 0) {
        --skipCount;
        continue;
      }
      if (scratch) {
        PutReplacement(scratch, replacement, replacementLength, find, findLength, buffer_ + at, flags);
        memcpy(buffer_ + at, scratch, (size_t)findLength);
      } else {
        memcpy(buffer_ + at, replacement, (size_t)findLength);
      }
      if (firstPos < 0) firstPos = at;
      if (++replaced >= maxCount) break;
    }
    MemFree(scratch);
    return firstOnly ? firstPos : found;
  }

  // Different lengths: find every match first, then build the result in one
  // new block, so the text is reallocated once and each character moves once.
  PositionList matches;
  int32_t found = 0;
  for (int32_t at = Find(find, findLength, start, searchFlags); at >= 0;
       at = Find(find, findLength, at + findLength, searchFlags)) {
    ++found;
    if (skipCount > 0) {
      --skipCount;
      continue;
    }
    matches.Add(at);
    if (matches.count >= maxCount) break;
  }
  if (matches.count == 0) return firstOnly ? -1 : found;

  const int64_t finalLength = (int64_t)length_ + (int64_t)matches.count * (replacementLength - findLength);
  if (finalLength <= 0) {
    Clear();
    return firstOnly ? matches.items[0] : found;
  }
  if (finalLength + 1 > kMaxStringBlock) FatalError("String overflow (%d)", (int)(finalLength + 1));
  char* out = (char*)MemAlloc((size_t)finalLength + 1);
  int32_t from = 0, o = 0;
  for (int32_t i = 0; i < matches.count; ++i) {
    int32_t at = matches.items[i];
    memcpy(out + o, buffer_ + from, (size_t)(at - from));
    o += at - from;
    PutReplacement(out + o, replacement, replacementLength, find, findLength, buffer_ + at, flags);
    o += replacementLength;
    from = at + findLength;
  }
  memcpy(out + o, buffer_ + from, (size_t)(length_ - from));
  o += length_ - from;
  int32_t firstPos = matches.items[0];
  AdoptBuffer(out, o);
  return firstOnly ? firstPos : found;
}

int32_t String::ReplaceAllWildcard(const char* find, const char* replacement, int32_t replacementLength,
                                   uint32_t flags, int32_t start, int32_t maxCount, int32_t skipCount) {
  const bool firstOnly = (flags & kReplaceFirstOnly) != 0;
  const int32_t notFound = firstOnly ? -1 : 0;
  if (CLength(find) == 0 || length_ == 0 || maxCount <= 0) return notFound;
  if (start < 0) start = 0;
  if (firstOnly) maxCount = 1;
  const uint32_t searchFlags = flags & kReplaceSearchMask;

  // Every occurrence is located first; the next search starts where the
  // previous occurrence ended.
  Array<WildcardA_Occurrence> matches;
  int32_t found = 0;
  for (;;) {
    WildcardA_Occurrence occurrence;
    if (MatchWildcard(buffer_, length_, find, kWholeText, start, searchFlags, &occurrence) < 0) break;
    ++found;
    start = occurrence.End() > occurrence.Start() ? occurrence.End() : occurrence.Start() + 1;
    if (skipCount > 0) {
      --skipCount;
      continue;
    }
    matches.Append(static_cast<WildcardA_Occurrence&&>(occurrence));
    if (matches.Count() >= maxCount) break;
  }
  if (matches.Count() == 0) return firstOnly ? -1 : found;

  Array<WildcardA_Portion> pieces;
  SplitWildcard(replacement, replacementLength, pieces);

  // The text matched by each '*' of find is carried to the same '*' of the
  // replacement.
  String out;
  int32_t from = 0;
  for (int32_t m = 0; m < matches.Count(); ++m) {
    const Array<WildcardA_Portion>& portions = matches[m].portions;
    out.Append(buffer_ + from, portions[0].position - from);
    for (int32_t k = 0; k < pieces.Count(); ++k) {
      const String& piece = pieces[k].text;
      if (k < portions.Count() && (flags & kFindQuestionAny)) {
        const WildcardA_Portion& source = portions[k];
        char* dest = out.GrowBy(piece.Length());
        if (dest)
          PutReplacement(dest, piece.CStr(), piece.Length(), source.text.CStr(), source.text.Length(),
                         buffer_ + source.position, flags);
      } else {
        out.Append(piece);
      }
      if (k + 1 < pieces.Count() && k + 1 < portions.Count()) {
        int32_t gapStart = portions[k].position + portions[k].text.Length();
        out.Append(buffer_ + gapStart, portions[k + 1].position - gapStart);
      }
    }
    from = matches[m].End();
  }
  out.Append(buffer_ + from, length_ - from);
  int32_t firstPos = matches[0].Start();
  int32_t newLength = out.Length();
  AdoptBuffer(out.ReleaseBuffer(), newLength);
  return firstOnly ? firstPos : found;
}
