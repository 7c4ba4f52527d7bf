// truxpack's manual, kept in one place: the commands with their help
// (each command's CommandHelp), what every command shares, the exit codes,
// the environment and the examples. `truxpack --help`, the man page
// truxpack(1), the guide's command reference (docs/truxpack.md, between its
// "generated" marks) and the bash, zsh and fish completions are all written
// from it, so none of them can drift from the options the commands parse.
#pragma once
#include <stdio.h>

#include <string>
#include <vector>

#include "tools/truxpack/cli.h"

struct Command {
  const CommandHelp* help;
  int (*run)(int argc, char** argv);  // arguments after the command name
};

// Every command, in the order help lists them.
const std::vector<Command>& Commands();
const Command* FindCommand(const std::string& name);

// A term and what it means: an exit code, a variable, an example.
struct ManualEntry {
  const char* term;
  const char* text;
};

struct Manual {
  const char* summary;                    // one line, for NAME and --help
  std::vector<const char*> description;   // paragraphs
  std::vector<ManualEntry> exitCodes;
  std::vector<ManualEntry> environment;
  std::vector<ManualEntry> examples;      // command line, what it does
  std::vector<ManualEntry> files;         // path, what it is
};
const Manual& TheManual();

// truxpack --help.
void PrintToolHelp(FILE* out);
// truxpack(1), in man(7) markup.
std::string ManPage();
// The guide's command reference, in Markdown.
std::string GuideReference();
// The completion script for "bash", "zsh" or "fish"; empty for another shell.
std::string CompletionScript(const std::string& shell);
