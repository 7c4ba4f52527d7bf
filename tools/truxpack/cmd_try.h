// The commands that run an installer under Wine and compare Wine prefixes:
//   try       install and remove a product in a throwaway prefix and report
//             what it did and what it left (exit 0 clean, 1 failed or left,
//             2 bad arguments)
//   snapshot  write a prefix's snapshot to a file
//   diff      the differences of two snapshot files, Wine's housekeeping
//             left out (or marked, with --all)
#pragma once
#include "tools/truxpack/cli.h"

extern const CommandHelp kTryCommand, kSnapshotCommand, kDiffCommand;

int RunTry(int argc, char** argv);
int RunSnapshot(int argc, char** argv);
int RunDiff(int argc, char** argv);
