// File version resources.
//
// The text rules (CleanVersionText, PadVersionText) are portable; reading a
// file's resource is Windows-only. A file without a version resource gives
// an empty block and an empty version text.
#pragma once
#include "core/string.h"

// Removes one trailing NUL, turns every ',' into '.', removes spaces, CR, LF
// and tabs: "1, 0, 2, 3" gives "1.0.2.3".
void CleanVersionText(String& version);
// Upper-cases the text and left-pads every '.'-separated part with '0' to
// 10 characters, so that versions compare correctly as texts. "" stays "".
void PadVersionText(String& version);

// Compares two version texts: negative, zero or positive as a is older than,
// equal to or newer than b. Each text reads as a list of numbers (every run
// of ASCII digits; a '.' before the first number counts as a leading 0; any
// other character separates) and one suffix letter (the last ASCII letter in
// the text, none when there is no letter). The lists are compared number by
// number; when one is a prefix of the other the longer is newer; equal lists
// are ordered by the suffix letters' codes (case-sensitive; none is lowest).
// A null text counts as "". Numbers beyond 32 bits saturate at 0xFFFFFFFF.
int CompareVersions(const char* a, const char* b);

#if defined(_WIN32)
// The file's whole version resource as a byte block; false (block empty)
// when the file has none.
[[nodiscard]] bool ReadVersionInfo(const char* path, String& block);
// VerQueryValueA of subBlock, its bytes copied to out (for texts, the
// system's count includes the terminating NUL). False when absent.
[[nodiscard]] bool QueryVersionValue(String& block, const char* subBlock, String& out);
// The first language and code page of "\VarFileInfo\Translation" as
// "%04X%04X"; "040904E4" when the resource lists none.
String VersionTranslation(String& block);
// The cleaned "FileVersion" text of the resource's first translation; padded
// as PadVersionText when asked. "" without a resource.
void FileVersionText(String& out, const char* path, bool padded);
#endif
