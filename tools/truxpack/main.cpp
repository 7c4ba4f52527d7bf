// truxpack: the authoring tool's command dispatcher. Each command lives in
// its own module; this file only maps names to them.
#include <stdio.h>
#include <string.h>

#include "tools/truxpack/cmd_archive.h"
#include "tools/truxpack/cmd_codec.h"

namespace {

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);  // arguments after the command name
};

const Command kCommands[] = {
    {"build", RunBuild},
    {"list", RunList},
    {"verify", RunVerify},
    {"extract", RunExtract},
    {"init", RunInit},
    {"compress", RunCompress},
    {"decompress", RunDecompress},
};

int UsageAll() {
  fprintf(stderr, "usage: truxpack COMMAND ARGS... (commands:");
  for (const Command& c : kCommands) fprintf(stderr, " %s", c.name);
  fprintf(stderr, ")\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return UsageAll();
  for (const Command& c : kCommands)
    if (strcmp(argv[1], c.name) == 0) return c.run(argc - 2, argv + 2);
  return UsageAll();
}
