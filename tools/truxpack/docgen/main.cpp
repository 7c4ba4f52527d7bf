// truxpack-docgen: writes what is generated from truxpack's command tables
// and manual (tools/truxpack/manual.h) on standard output, for the build
// and for `make docs`:
//   man               truxpack(1)
//   guide             the command reference of docs/truxpack.md
//   bash, zsh, fish   the shell's completion script
// Not installed.
#include <stdio.h>

#include <string>

#include "tools/truxpack/manual.h"

int main(int argc, char** argv) {
  const std::string what = argc == 2 ? argv[1] : "";
  std::string text;
  if (what == "man")
    text = ManPage();
  else if (what == "guide")
    text = GuideReference();
  else
    text = CompletionScript(what);
  if (text.empty()) {
    fprintf(stderr, "usage: truxpack-docgen man|guide|bash|zsh|fish\n");
    return 2;
  }
  if (fwrite(text.data(), 1, text.size(), stdout) != text.size() || fflush(stdout) != 0) {
    fprintf(stderr, "truxpack-docgen: cannot write to standard output\n");
    return 1;
  }
  return 0;
}
