// Text wildcard matching with '*' (used by String::Find and ReplaceAll with
// kFindStarWildcard).
//
// A pattern is split into literal portions at every single '*'; "**" stands
// for one literal '*' inside a portion. An occurrence is a run of portion
// matches in pattern order, where no '*' spans a CR or LF. Patterns that
// begin or end with '*' (an empty first or last portion) never match: a
// portion needs at least one character to be found.
#pragma once
#include <stdint.h>

#include "core/containers.h"
#include "core/string.h"

struct WildcardA_Portion {
  String text;
  int32_t position = -1;  // where this portion matched in the searched text
};

struct WildcardA_Occurrence {
  Array<WildcardA_Portion> portions;  // in pattern order
  int32_t Start() const;              // first portion's position, -1 when none
  int32_t End() const;                // last portion's position plus its length
};

// Splits pattern[0, length) at every single '*' into portions (n stars give
// n + 1 portions, some possibly empty). length may be kWholeText.
void SplitWildcard(const char* pattern, int32_t length, Array<WildcardA_Portion>& portions);

// Finds the first occurrence of pattern in text[0, length) at or after start.
// flags are the Find flags; kFindStarWildcard and kFindWholeWord are not used
// for the portion searches, whole words are tested on the whole occurrence.
// Returns the first portion's position or -1, and fills occurrence when given.
int32_t MatchWildcard(const char* text, int32_t length, const char* pattern, int32_t patternLength,
                      int32_t start, uint32_t flags, WildcardA_Occurrence* occurrence);
