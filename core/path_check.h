// Checks and completion of path texts. Portable: nothing here touches the
// file system.
#pragma once
#include <stdint.h>

#include "core/string.h"

// Characters that may not occur in a file name. The backslash is in none of
// the sets: it is the path separator.
extern const char kForbiddenNameChars[];           // / " < > | * ? : ;
extern const char kForbiddenNameCharsStar[];       // the same without '*'
extern const char kForbiddenNameCharsWildcards[];  // the same without '*' and '?'

// False for a null or empty name, "." and "..", and any name holding a
// character of the full forbidden set (or a control character below 32,
// which no file system accepts in a name).
bool IsValidFileName(const char* name);

// After leading white space: two backslashes ("\\server\share") or an ASCII
// letter followed by ":\". A null text is not absolute.
bool IsAbsolutePath(const char* text);

// IsValidPathText flags.
enum PathTextFlag : uint32_t {
  kPathAllowStar = 0x1,       // '*' may occur
  kPathAllowWildcards = 0x2,  // '*' and '?' may occur
  kPathTrim = 0x4,            // trim white space first
};

// True when text (after optional trimming and removal of one pair of
// enclosing double quotes) is not empty, any ':' in the second position
// follows an ASCII letter, and the rest holds no forbidden file-name
// character (the full set; kPathAllowStar or kPathAllowWildcards choose the
// smaller sets; the backslash is always allowed).
bool IsValidPathText(const char* text, uint32_t flags);

// Completes path (trimmed first) against base, an absolute directory
// ("C:\dir" or "\\server\share", leading white space ignored):
//   "\name"      -> base's drive and colon in front (needs a drive in base);
//   "D:name"     -> base's text after its own drive and colon inserted after
//                   the colon, with a '\' unless base ends with one;
//   other names  -> base in front, with a '\' unless base ends with one.
// Returns true when path was completed. False, leaving path trimmed but
// otherwise unchanged, when path is empty, already absolute ("\\..." or
// "X:\..."), base is not absolute, or a needed drive is missing from base.
bool MakeAbsolute(String& path, const char* base);

// A name made inside a folder (a shortcut's relative name): true unless it is
// empty, absolute (a leading backslash, a colon anywhere) or has a ".." part
// (blanks around it ignored), so that joining it to the folder never leaves
// the folder.
bool IsSafeLinkName(const char* name);
