#include "tools/truxpack/cmd_archive.h"

#include <stddef.h>
#include <string.h>

#include "tools/truxpack/installer_writer.h"

std::string SafeRelativePath(const std::string& entryName) {
  std::string out;
  std::string name = entryName;
  for (char& c : name)
    if (c == '\\') c = '/';
  if (name.size() >= 2 && name[1] == ':') name = name.substr(2);
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    std::string part = name.substr(start, end - start);
    if (!part.empty() && part != "." && part != "..") out += (out.empty() ? "" : "/") + part;
    start = end + 1;
  }
  return out;
}

bool BuildInstaller(Project& project, const Bytes& stub, const std::string& volumeBaseName, BuiltInstaller& out,
                    std::string& error) {
  MemoryTargets targets;
  WrittenInstaller written;
  if (!WriteInstaller(project, stub, volumeBaseName, targets, true, written, error)) return false;
  out.installer = std::move(targets.Installer());
  out.volumes = targets.TakeVolumes();
  out.uninstaller = std::move(written.uninstaller);
  return true;
}
