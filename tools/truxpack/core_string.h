// The core library's String where the tool works with standard strings.
#pragma once
#include <string>

#include "core/string.h"

// The bytes of s, embedded NULs included, as a standard string.
inline std::string Str(const String& s) { return std::string(s.CStr(), (size_t)s.Length()); }
