// truxpack compress / decompress: raw compressed blocks, for diagnosis.
#pragma once
#include "tools/truxpack/cli.h"

extern const CommandHelp kCompressCommand, kDecompressCommand;

// Each takes the arguments after the command name and returns the exit code:
// 0 success, 1 bad input file or failed write, 2 bad arguments (after one
// usage line on stderr).
int RunCompress(int argc, char** argv);
int RunDecompress(int argc, char** argv);
