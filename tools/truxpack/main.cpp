// truxpack: the authoring tool's command dispatcher. Each command lives in
// its own module; this file maps names to them and answers help and version.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "archive/format.h"
#include "tools/truxpack/cli.h"
#include "tools/truxpack/cmd_archive.h"
#include "tools/truxpack/cmd_codec.h"
#include "tools/truxpack/cmd_try.h"
#include "tools/truxpack/file_io.h"
#include "tools/truxpack/project_toml.h"

namespace {

struct Command {
  const CommandHelp* help;
  int (*run)(int argc, char** argv);  // arguments after the command name
};

const Command kCommands[] = {
    {&kBuildCommand, RunBuild},     {&kListCommand, RunList},         {&kVerifyCommand, RunVerify},
    {&kExtractCommand, RunExtract}, {&kInitCommand, RunInit},         {&kCompressCommand, RunCompress},
    {&kDecompressCommand, RunDecompress},
    {&kTryCommand, RunTry},         {&kSnapshotCommand, RunSnapshot}, {&kDiffCommand, RunDiff},
};

void PrintHelp(FILE* out) {
  fprintf(out,
          "usage: truxpack COMMAND [OPTIONS] ARGUMENTS...\n\n"
          "Builds Windows installers from a TOML project file and reads them back.\n\ncommands:\n");
  for (const Command& c : kCommands) {
    std::string summary = c.help->summary;
    summary = summary.substr(0, summary.find('\n'));
    fprintf(out, "  %-11s %s\n", c.help->name, summary.c_str());
  }
  fprintf(out,
          "\noptions of every command: -q/--quiet, -v/--verbose, -h/--help\n"
          "truxpack COMMAND --help (or truxpack help COMMAND) lists a command's options.\n"
          "truxpack --version prints the tool's and the archive format's versions.\n"
          "Exit codes: 0 success, 1 a bad input file or failed write, 2 bad arguments.\n"
          "Quick start: truxpack init myproduct; truxpack build myproduct/project.toml -o setup.exe; "
          "truxpack verify setup.exe\n");
}

const Command* Find(const std::string& name) {
  for (const Command& c : kCommands)
    if (name == c.help->name) return &c;
  return nullptr;
}

int UnknownCommand(const std::string& name) {
  std::vector<std::string> names;
  for (const Command& c : kCommands) names.push_back(c.help->name);
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
    PrintHelp(stderr);
    return 2;
  }
  std::string first = argv[1];
  if (first == "--help" || first == "-h") {
    PrintHelp(stdout);
    return 0;
  }
  if (first == "help") {
    if (argc == 2) {
      PrintHelp(stdout);
      return 0;
    }
    const Command* c = Find(argv[2]);
    if (!c) return UnknownCommand(argv[2]);
    PrintCommandHelp(*c->help, stdout);
    return 0;
  }
  if (first == "--version" || first == "-V") {
    printf("truxpack %s (archive format %.2f)\n", ToolVersion(), kArchiveFormatVersion / 100.0);
    return 0;
  }
  if (first.size() > 1 && first[0] == '-') {
    fprintf(stderr, "truxpack: %s must follow a command (truxpack COMMAND %s ...)\n", first.c_str(), first.c_str());
    return 2;
  }
  const Command* c = Find(first);
  if (!c) return UnknownCommand(first);
  return c->run(argc - 2, argv + 2);
}
