// The glob matcher of [[file]] sources: '*' and '?' within one path
// component, "**" as a whole component for any number of directories.
// Paths and patterns use '/' between components.
#pragma once
#include <string>
#include <vector>

bool GlobMatch(const std::string& pattern, const std::string& path);

// The components of a '/'-separated path (empty components kept).
std::vector<std::string> SplitSlash(const std::string& s);

// Matches pattern[p..] against path[i..], both already split.
bool GlobMatchFrom(const std::vector<std::string>& pattern, size_t p, const std::vector<std::string>& path, size_t i);
