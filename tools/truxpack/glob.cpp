#include "tools/truxpack/glob.h"

namespace {

bool ComponentMatch(const char* p, const char* s) {
  for (; *p; ++p, ++s) {
    if (*p == '*') {
      for (const char* t = s;; ++t) {
        if (ComponentMatch(p + 1, t)) return true;
        if (!*t) return false;
      }
    }
    if (!*s || (*p != '?' && *p != *s)) return false;
  }
  return *s == 0;
}

}  // namespace

std::vector<std::string> SplitSlash(const std::string& s) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = s.find('/', start);
    parts.push_back(s.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

bool GlobMatchFrom(const std::vector<std::string>& pattern, size_t p, const std::vector<std::string>& path, size_t i) {
  if (p == pattern.size()) return i == path.size();
  if (pattern[p] == "**") {
    for (size_t k = i; k <= path.size(); ++k)
      if (GlobMatchFrom(pattern, p + 1, path, k)) return true;
    return false;
  }
  return i < path.size() && ComponentMatch(pattern[p].c_str(), path[i].c_str()) &&
         GlobMatchFrom(pattern, p + 1, path, i + 1);
}

bool GlobMatch(const std::string& pattern, const std::string& path) {
  return GlobMatchFrom(SplitSlash(pattern), 0, SplitSlash(path), 0);
}
