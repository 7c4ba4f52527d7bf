#include "runtime/message_format.h"

#include <stdarg.h>
#include <string.h>

#include "core/format.h"
#include "runtime/messages.h"

bool FormatFitsArguments(const char* format, const char* types) {
  if (!format) return true;
  const size_t available = types ? strlen(types) : 0;
  size_t used = 0;
  for (const char* p = format; *p; ++p) {
    if (*p != '%') continue;
    ++p;
    if (*p == '%') continue;
    while (*p && strchr("-+ #0123456789.", *p)) ++p;
    if (!*p || used >= available) return false;
    const char kind = types[used++];
    const char* allowed = kind == 's' ? "s" : kind == 'c' ? "c" : kind == 'd' ? "diuxXo" : "";
    if (!strchr(allowed, *p)) return false;
  }
  return true;
}

void FormatMessageText(Run& run, String& out, int32_t n, const char* types, ...) {
  const char* message = MessageText(run, n);
  if (!FormatFitsArguments(message, types)) {
    out = message;
    return;
  }
  out.Clear();
  va_list args;
  va_start(args, types);
  AppendFormatV(out, message, args);
  va_end(args);
}
