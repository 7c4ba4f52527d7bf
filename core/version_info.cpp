#include "core/version_info.h"

namespace {
constexpr int32_t kPaddedPartWidth = 10;
}

void CleanVersionText(String& version) {
  version.StripLastChar('\0');
  version.ReplaceChar(',', '.');
  for (const char* c = kBlankChars; *c; ++c) version.RemoveChar(*c);
}

void PadVersionText(String& version) {
  if (version.IsEmpty()) return;
  version.UpperCaseAscii();
  String padded;
  int32_t start = 0;
  for (;;) {
    int32_t dot = version.FindChar('.', start);
    int32_t end = dot < 0 ? version.Length() : dot;
    for (int32_t n = end - start; n < kPaddedPartWidth; ++n) padded.AppendChar('0');
    padded.Append(version.CStr() + start, end - start);
    if (dot < 0) break;
    padded.AppendChar('.');
    start = dot + 1;
  }
  version = static_cast<String&&>(padded);
}
