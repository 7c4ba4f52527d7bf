// Splits arbitrary text under arbitrary flags and delimiters, and runs the
// command-text helpers on it. Checks the token count and, where tokens are
// plain slices of the text, that they never add characters.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "core/tokenize.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint32_t flags = (uint32_t)data[0] | ((uint32_t)(data[1] & 0x0F) << 8);
  // Up to 4 delimiter characters, ended early by a NUL.
  char delimiters[5] = {0};
  size_t used = 2;
  for (int i = 0; i < 4 && used < size && data[used]; ++i) delimiters[i] = (char)data[used++];
  if (used < size) ++used;
  const String text(reinterpret_cast<const char*>(data + used), (int32_t)(size - used));

  Array<String> tokens;
  const int32_t n = Split(text, tokens, delimiters, flags);
  if (n != tokens.Count()) abort();
  int64_t total = 0;
  for (const String& token : tokens) {
    if (token.IsEmpty() && !(flags & kSplitKeepEmpty)) abort();
    total += token.Length();
  }
  if (total > text.Length()) abort();  // no token ever overlaps another
  if (!(flags & kSplitKeepEmpty) && n > text.Length()) abort();

  String line(text);
  String first;
  const int32_t before = line.Length();
  const bool found = TakeFirstToken(first, line);
  if (found == first.IsEmpty()) abort();
  if (line.Length() > before) abort();

  String batch(text);
  RemovePauseLines(batch);
  return 0;
}
