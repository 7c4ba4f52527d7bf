// Messages of the archive's table used as printf formats. The table comes
// from the archive, so a message is used as a format only when its
// conversions are exactly the ones the caller supplies arguments for;
// anything else (an extra %s, a %n, a '*' width) is shown as plain text.
#pragma once
#include <stdint.h>

#include "core/string.h"

// True when every conversion of format, in order, fits the argument kinds of
// types ('s' text, 'c' character, 'd' integer), with no more conversions
// than types has ("%%" is no conversion; fewer conversions are fine). Flags,
// width and precision digits are allowed; '*', length modifiers and every
// other conversion are not.
bool FormatFitsArguments(const char* format, const char* types);

struct Run;

// out = the run's message n formatted with the arguments when it fits
// types, else the message as it is.
void FormatMessageText(Run& run, String& out, int32_t n, const char* types, ...);
