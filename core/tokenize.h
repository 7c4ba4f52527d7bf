// Splitting texts into fields, and the command-text helpers built on it.
//
// Guarantees: the tokenizer reads only the given text (never past its
// length; embedded NULs are ordinary characters unless kSplitNulEnds) and
// never fails; an unterminated quoted section runs to the end of the text.
#pragma once
#include <stdint.h>

#include "core/containers.h"
#include "core/string.h"

enum SplitFlag : uint32_t {
  kSplitKeepEmpty = 0x1,          // empty tokens count, also one after a final delimiter
  kSplitNulEnds = 0x2,            // a NUL character ends a token
  kSplitLineBreaks = 0x4,         // CR, LF, CR LF and LF CR end a token
  kSplitTrim = 0x8,               // trim " \r\n\t" from each token
  kSplitQuotedSections = 0x10,    // delimiters inside double quotes do not count
  kSplitKeepDelimiter = 0x20,     // the ending delimiter or break stays at the end of its token
  kSplitUnquote = 0x100,          // a token enclosed in double quotes loses them
  kSplitCollapseQuotes = 0x200,   // with kSplitUnquote: "" inside becomes "
  kSplitDoubledDelimiter = 0x400, // a doubled delimiter stays in the token
  kSplitBackslashEscapes = 0x800, // a backslash keeps the next character in the token
};

// Receives each token; context is the caller's.
using SplitSink = void (*)(String& token, void* context);

// Splits text[0, length) at the characters of delimiters (a C string; null
// counts as "") under flags and hands every token to sink. Returns the
// number of tokens.
int32_t SplitText(const char* text, int32_t length, const char* delimiters, uint32_t flags, SplitSink sink,
                  void* context);

// Appends one String per token to list; returns the number of tokens.
int32_t Split(const String& text, Array<String>& list, const char* delimiters, uint32_t flags);

// The same for any container with an Append(String&&) operation.
template <class Container>
int32_t SplitInto(const String& text, Container& list, const char* delimiters, uint32_t flags) {
  return SplitText(
      text.Buffer(), text.Length(), delimiters, flags,
      [](String& token, void* context) { static_cast<Container*>(context)->Append(static_cast<String&&>(token)); },
      &list);
}

// Removes leading white space from commandLine and moves its first token to
// out: up to the first white-space character (removed too); a double-quoted
// section is taken whole and kept between double quotes, so a quoted path
// with spaces stays one token. commandLine keeps the argument text. False
// (out empty) when there was no token.
bool TakeFirstToken(String& out, String& commandLine);

// Rebuilds a batch text line by line without its PAUSE lines (trimmed, one
// leading '@' removed, compared ignoring case); every kept line ends with
// "\r\n".
void RemovePauseLines(String& batch);
