// The built-in English message table: every message number the runtime
// looks up, with the placeholders it expects. A project overrides single
// messages; further languages take the English text for any message they
// leave out.
#pragma once
#include <stdint.h>

#include <string>

#include "archive/format.h"

struct BuiltInMessage {
  int32_t number;
  const char* text;
  // The printf conversions the runtime formats this message with, in order
  // (for example "sc s" is "%s", "%c", "%s" written as "scs"); empty when the
  // text is shown as it is. "<product>" and "<os>" may appear in any message.
  const char* conversions;
  const char* role;  // where the runtime shows it (for `truxpack list` and the docs)
};

// Messages 0 .. kBuiltInMessageCount - 1, in order: every row with a role.
constexpr int32_t kBuiltInMessageCount = kMessageRowCount;
const BuiltInMessage& BuiltInMessageAt(int32_t number);

// The conversions of text (each '%' directive's conversion letter, "%%"
// skipped), for comparing an override with what the runtime passes.
// Returns false when a directive is incomplete or uses '*' or '$'.
bool MessageConversions(const std::string& text, std::string& conversions);
