// truxpack: the authoring tool's command dispatcher. Each command lives in
// its own module and is listed in manual.cpp; this file maps names to them
// and answers help and version.
#include <stdio.h>

#include <string>
#include <vector>

#include "archive/format.h"
#include "tools/truxpack/cli.h"
#include "tools/truxpack/file_io.h"
#include "tools/truxpack/manual.h"
#include "tools/truxpack/project_toml.h"
#include "tools/truxpack/tool_info.h"

namespace {

int UnknownCommand(const std::string& name) {
  std::vector<std::string> names;
  for (const Command& c : Commands()) names.push_back(c.help->name);
  std::string nearest = NearestName(name, names);
  fprintf(stderr, "truxpack: unknown command %s%s\n", name.c_str(),
          nearest.empty() ? "" : ("; did you mean " + nearest + "?").c_str());
  fprintf(stderr, "usage: truxpack COMMAND [OPTIONS] ARGUMENTS... (truxpack --help lists the commands)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  InstallCleanupHandlers();
  if (argc < 2) {
    PrintToolHelp(stderr);
    return 2;
  }
  std::string first = argv[1];
  if (first == "--help" || first == "-h") {
    PrintToolHelp(stdout);
    return 0;
  }
  if (first == "help") {
    if (argc == 2) {
      PrintToolHelp(stdout);
      return 0;
    }
    const Command* c = FindCommand(argv[2]);
    if (!c) return UnknownCommand(argv[2]);
    PrintCommandHelp(*c->help, stdout);
    return 0;
  }
  if (first == "--version" || first == "-V") {
    printf("truxpack %s (archive format %.2f)\nruntime stub: %s\n", ToolVersion(), kArchiveFormatVersion / 100.0,
           BuiltInStubSummary().c_str());
    return 0;
  }
  if (first.size() > 1 && first[0] == '-') {
    fprintf(stderr, "truxpack: %s must follow a command (truxpack COMMAND %s ...)\n", first.c_str(), first.c_str());
    return 2;
  }
  const Command* c = FindCommand(first);
  if (!c) return UnknownCommand(first);
  return c->run(argc - 2, argv + 2);
}
