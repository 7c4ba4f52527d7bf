// The archive commands: build, list, verify, extract, init. Each returns the
// process exit code: 0 success, 1 bad input file, 2 bad arguments.
#pragma once
#include <string>
#include <vector>

#include "tools/truxpack/archive_writer.h"
#include "tools/truxpack/project.h"

#include "tools/truxpack/cli.h"

extern const CommandHelp kBuildCommand, kListCommand, kVerifyCommand, kExtractCommand, kInitCommand;

int RunBuild(int argc, char** argv);
int RunList(int argc, char** argv);
int RunVerify(int argc, char** argv);
int RunExtract(int argc, char** argv);
int RunInit(int argc, char** argv);

// The installer and volume files for a loaded project and a stub, built and
// checked in memory (nothing is written). volumeBaseName is used when the
// project sets none. Returns false with a one-line reason.
struct BuiltInstaller {
  Bytes installer;
  std::vector<std::pair<std::string, Bytes>> volumes;  // file name, bytes
  Bytes uninstaller;  // what the runtime derives from the installer
};
bool BuildInstaller(Project& project, const Bytes& stub, const std::string& volumeBaseName, BuiltInstaller& out,
                    std::string& error);

// Maps an entry name to a path below a directory: backslashes become
// slashes, and drive letters, root slashes, empty, "." and ".." components
// are dropped, so the result never leaves the directory. Empty when nothing
// is left.
std::string SafeRelativePath(const std::string& entryName);
