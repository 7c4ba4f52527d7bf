// The commands about truxpack itself: `stub` writes the runtime stub built
// into the program, `schema` prints the project file's JSON Schema. Each
// returns the process exit code.
#pragma once
#include "tools/truxpack/cli.h"

extern const CommandHelp kStubCommand, kSchemaCommand;

int RunStub(int argc, char** argv);
int RunSchema(int argc, char** argv);
