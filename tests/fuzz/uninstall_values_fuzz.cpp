// The values of the Uninstall key that the uninstaller parses with its own
// rules, fed with arbitrary bytes: ProductFlags and ProductFonts, plus the
// whole-directory guard and the line classification on the same text.
// Checks that every parser ends, moves forward, and never returns more text
// than it was given.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "app/command_line_text.h"
#include "uninstall/uninstall_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const String text(reinterpret_cast<const char*>(data), (int32_t)size);

  (void)ParseProductFlags(text.CStr());

  int32_t position = 0;
  int32_t pairs = 0, previous = -1;
  String name, file;
  while (NextFontPair(text, &position, name, file)) {
    if (position <= previous || position > text.Length()) abort();
    previous = position;
    if (name.Length() + file.Length() > text.Length()) abort();
    ++pairs;
    (void)IsPlainFileName(file.CStr());
  }

  String path;
  (void)ClassifyUninstallLine(text, path);
  if (path.Length() > text.Length()) abort();
  (void)IsDeletableClassKey(text.CStr());
  String parent;
  if (ParentDirectory(text, parent) && parent.Length() >= text.Length()) abort();
  Array<String> folders;
  folders.Append(String("C:\\windows"));
  folders.Append(text);
  const TreeRemovalRefusal refusal = CheckTreeRemoval(text.CStr(), folders);
  // The text is in its own protected list, so it can never be allowed.
  if (refusal == kTreeRemovalAllowed) abort();
  const char* arguments = ArgumentsAfterProgram(text.CStr(), "C:\\Program Files\\A B\\u.exe", "");
  if (*arguments && (arguments < text.CStr() || arguments > text.CStr() + strlen(text.CStr()))) abort();
  return 0;
}
