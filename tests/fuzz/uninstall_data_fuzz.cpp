// Parses arbitrary bytes as an uninstall data file and checks what the
// reader promises: records and lines are slices of the text (never longer
// than it, never holding a line break), associations are complete and at
// most 500, message numbers stay in 1..1000. Then builds a file from the
// same bytes and checks that the reader gives back every message written.
#include <stdint.h>
#include <stdlib.h>

#include "uninstall/uninstall_data.h"

namespace {

bool HasBreak(const String& s) { return s.FindChar('\r') >= 0 || s.FindChar('\n') >= 0; }

String g_written[kMaxUninstallMessage + 1];

const char* WrittenMessage(void*, int32_t n) { return g_written[n].CStr(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const String text(reinterpret_cast<const char*>(data), (int32_t)size);
  UninstallDataContents contents;
  ParseUninstallData(text, contents);

  int64_t total = 0;
  for (const String& line : contents.bodyLines) {
    if (line.IsEmpty() || HasBreak(line)) abort();
    total += line.Length();
  }
  if (total > text.Length()) abort();
  if (contents.associations.Count() > kMaxUninstallSectionLines) abort();
  for (const UninstallAssociation& a : contents.associations) {
    if (a.extension.IsEmpty() || a.fileType.IsEmpty() || a.verb.IsEmpty()) abort();
    if (HasBreak(a.extension) || HasBreak(a.fileType) || HasBreak(a.verb)) abort();
  }
  if (contents.messages.Count() > kMaxUninstallMessage + 1) abort();
  if (*contents.Message(0) || *contents.Message(kMaxUninstallMessage + 1) || *contents.Message(-1)) abort();

  // Round trip: message texts cut from the input, made safe the way every
  // real message is (no line starting with '~', nothing after a trailing
  // blank), come back unchanged.
  String rest(text);
  for (int32_t i = 0; i < kUninstallMessageCount; ++i) {
    String& m = g_written[kUninstallMessageSet[i]];
    int32_t cut = rest.FindChar('\0');
    rest.Cut(m, 0, cut < 0 ? 16 : cut);
    rest.DeleteFirst(1);
    m.ReplaceChar('~', '-');
    m.ReplaceAll("[", "(");
    m.Trim();
  }
  String file;
  BuildUninstallData(file, String("C:\\Program Files\\X\\a.txt\r\n~C:\\Program Files\\X\r\n"), WrittenMessage, nullptr,
                     String("x~!~y~!~open\r\n"));
  UninstallDataContents back;
  ParseUninstallData(file, back);
  for (int32_t i = 0; i < kUninstallMessageCount; ++i) {
    const int32_t n = kUninstallMessageSet[i];
    if (!(back.messages.TryAt(n) && back.messages[n] == g_written[n])) abort();
  }
  if (back.bodyLines.Count() != 2 || back.associations.Count() != 1) abort();
  return 0;
}
