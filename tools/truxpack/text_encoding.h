// Text encodings of the authoring tool: the project is UTF-8, the archive's
// texts and names are Windows-1252 (what the runtime's "A" calls show).
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

// Decodes one UTF-8 sequence at s[i]; returns its length, or 0 when the bytes
// there are not valid UTF-8 (overlong forms and surrogates included).
size_t DecodeUtf8(const std::string& s, size_t i, uint32_t& cp);

// UTF-8 to Windows-1252. Returns false (bad set to the first character that
// has no 8-bit form, or "invalid UTF-8") when the text cannot be converted.
bool Utf8ToCp1252(const std::string& in, std::string& out, std::string& bad);

bool IsValidUtf8(const std::string& s);

// Line ends as the runtime's edit controls need them: every lone LF becomes CRLF.
std::string ToCrLf(const std::string& in);

// Windows-1252 to UTF-8; the five unassigned bytes (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) have no character and give false.
bool Cp1252ToUtf8(const std::string& in, std::string& out);

// Windows-1252 to UTF-8 as Windows' own conversion reads it: the five
// unassigned bytes become the control characters U+0081, U+008D, U+008F,
// U+0090 and U+009D, so every byte string has a text and no two share one.
std::string Cp1252ToUtf8AsWindows(const std::string& in);
