#include "core/tokenize.h"

#include <string.h>

namespace {

bool IsDelimiter(const char* delimiters, char c) { return c != '\0' && strchr(delimiters, c) != nullptr; }

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }

// Where the token starting at start ends: returns the index of the ending
// character (length when the text runs out) and sets breakWidth to the
// number of ending characters (0 at the end of the text).
int32_t TokenEnd(const char* text, int32_t length, int32_t start, const char* delimiters, uint32_t flags,
                 int32_t& breakWidth) {
  breakWidth = 0;
  int32_t i = start;
  while (i < length) {
    const char c = text[i];
    if ((flags & kSplitBackslashEscapes) && c == '\\') {
      i += (i + 1 < length) ? 2 : 1;
      continue;
    }
    if ((flags & kSplitQuotedSections) && c == '"') {
      ++i;
      while (i < length && text[i] != '"') i += ((flags & kSplitBackslashEscapes) && text[i] == '\\' && i + 1 < length) ? 2 : 1;
      if (i < length) ++i;  // the closing quote
      continue;
    }
    if ((flags & kSplitLineBreaks) && IsLineBreak(c)) {
      breakWidth = (i + 1 < length && IsLineBreak(text[i + 1]) && text[i + 1] != c) ? 2 : 1;
      return i;
    }
    if ((flags & kSplitNulEnds) && c == '\0') {
      breakWidth = 1;
      return i;
    }
    if (IsDelimiter(delimiters, c)) {
      if ((flags & kSplitDoubledDelimiter) && i + 1 < length && text[i + 1] == c) {
        i += 2;
        continue;
      }
      breakWidth = 1;
      return i;
    }
    ++i;
  }
  return length;
}

void Unquote(String& token, uint32_t flags) {
  if (token.Length() < 2 || !token.StartsWithChar('"') || !token.EndsWithChar('"')) return;
  token.DeleteLast(1);
  token.DeleteFirst(1);
  if (flags & kSplitCollapseQuotes) token.ReplaceAll("\"\"", "\"");
  if (flags & kSplitTrim) token.Trim();
}

void AppendToArray(String& token, void* context) {
  static_cast<Array<String>*>(context)->Append(static_cast<String&&>(token));
}

}  // namespace

int32_t SplitText(const char* text, int32_t length, const char* delimiters, uint32_t flags, SplitSink sink,
                  void* context) {
  if (!text || length <= 0 || !sink) return 0;
  if (!delimiters) delimiters = "";
  int32_t tokens = 0;
  int32_t pos = 0;
  String token;
  while (pos < length) {
    int32_t breakWidth;
    const int32_t end = TokenEnd(text, length, pos, delimiters, flags, breakWidth);
    const int32_t tokenEnd = (flags & kSplitKeepDelimiter) ? end + breakWidth : end;
    token.Assign(text + pos, tokenEnd - pos);
    if (flags & kSplitTrim) token.Trim();
    if (flags & kSplitUnquote) Unquote(token, flags);
    if (!token.IsEmpty() || (flags & kSplitKeepEmpty)) {
      sink(token, context);
      ++tokens;
    }
    pos = end + breakWidth;
    if (breakWidth > 0 && pos == length && (flags & kSplitKeepEmpty)) {
      token.Clear();
      sink(token, context);
      ++tokens;
    }
  }
  return tokens;
}

int32_t Split(const String& text, Array<String>& list, const char* delimiters, uint32_t flags) {
  return SplitText(text.Buffer(), text.Length(), delimiters, flags, &AppendToArray, &list);
}

bool TakeFirstToken(String& out, String& commandLine) {
  out.Clear();
  commandLine.TrimLeft();
  int32_t i = 0;
  while (i < commandLine.Length()) {
    const char c = commandLine.CharAt(i);
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      out.Append(commandLine.Buffer(), i);
      commandLine.DeleteFirst(i + 1);
      return true;
    }
    if (c == '"') {
      out.Append(commandLine.Buffer(), i);
      commandLine.DeleteFirst(i);
      String quoted;
      commandLine.ExtractQuoted(quoted, '"', 0);
      out.AppendChar('"');
      out.Append(quoted);
      out.AppendChar('"');
      i = 0;
      continue;
    }
    ++i;
  }
  out.Append(commandLine.Buffer(), commandLine.Length());
  commandLine.Clear();
  return !out.IsEmpty();
}

void RemovePauseLines(String& batch) {
  String rest(static_cast<String&&>(batch));
  batch.Clear();
  String line;
  String bare;
  while (rest.ExtractLine(line)) {
    bare = line;
    bare.Trim();
    bare.StripFirstChar('@');
    bare.TrimLeft();
    if (bare.CompareNoCase("PAUSE") == 0) continue;
    batch.Append(line);
    batch.Append("\r\n", 2);
  }
}
