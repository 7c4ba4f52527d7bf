// Writing an installer and its volume files in one pass, in bounded memory.
//
// The installer's bytes are written in file order: the stub with the
// section header added, the archive header and entry-size table, the packed
// settings, the data region as far as the section holds it, the padding to
// the section's raw size, the region's part outside the image; then the
// volume files, each its identifier and its share of the region. A stored
// region is serialized straight from the product's files, one file and one
// piece at a time; its checksum is taken as it passes and written into the
// header once known. A compressed region is one block made in memory (the
// encoder needs the whole input) and copied out from there.
//
// What was written is then read back the way the runtime reads it (every
// count, limit and checksum), and the uninstaller the runtime would derive
// from it is compared with the stub, so a writer fault never reaches a
// user's machine.
#pragma once
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "tools/truxpack/archive_writer.h"
#include "tools/truxpack/file_io.h"
#include "tools/truxpack/installer_reader.h"
#include "tools/truxpack/project.h"

// Where a build's outputs go. Output 0 is the installer, opened by the
// caller; volumes are opened by the writer as it reaches them.
class BuildTargets {
 public:
  virtual ~BuildTargets() = default;
  // Starts the volume file called name; returns its output number (> 0),
  // or -1 with error set.
  virtual int OpenVolume(const std::string& name, std::string& error) = 0;
  virtual bool Write(int output, const unsigned char* data, size_t n, std::string& error) = 0;
  // Replaces bytes already written.
  virtual bool WriteAt(int output, uint64_t offset, const unsigned char* data, size_t n, std::string& error) = 0;
  // What an output holds so far, for reading it back.
  virtual std::unique_ptr<ByteSource> ReadBack(int output) = 0;
};

// Outputs held in memory: the installer, then each volume with its name.
class MemoryTargets : public BuildTargets {
 public:
  MemoryTargets() : outputs_(1) {}
  int OpenVolume(const std::string& name, std::string& error) override;
  bool Write(int output, const unsigned char* data, size_t n, std::string& error) override;
  bool WriteAt(int output, uint64_t offset, const unsigned char* data, size_t n, std::string& error) override;
  std::unique_ptr<ByteSource> ReadBack(int output) override;

  Bytes& Installer() { return outputs_[0]; }
  std::vector<std::pair<std::string, Bytes>> TakeVolumes();

 private:
  std::vector<Bytes> outputs_;
  std::vector<std::string> names_;  // of outputs 1, 2, ...
};

// Outputs written to the temporary files of an OutputSet; the caller
// commits the set once the writer succeeded. installerIndex is the set's
// index of the installer; volumes go beside it, in directory.
class FileTargets : public BuildTargets {
 public:
  FileTargets(OutputSet& set, int installerIndex, const std::string& directory)
      : set_(set), indices_{installerIndex}, directory_(directory) {}
  int OpenVolume(const std::string& name, std::string& error) override;
  bool Write(int output, const unsigned char* data, size_t n, std::string& error) override;
  bool WriteAt(int output, uint64_t offset, const unsigned char* data, size_t n, std::string& error) override;
  std::unique_ptr<ByteSource> ReadBack(int output) override;
  size_t VolumeCount() const { return indices_.size() - 1; }

 private:
  OutputSet& set_;
  std::vector<int> indices_;  // output number -> index in the set
  std::string directory_;
};

struct WrittenInstaller {
  uint64_t installerSize = 0;
  std::vector<std::string> volumeNames;
  Bytes uninstaller;  // filled only when asked for
  InstallerContents contents;  // what reading the installer back found (its region not held)
};

// Packs the loaded project (entries with their bytes held, or read from
// their source files as they are needed) and writes the installer and its
// volumes to targets. volumeBaseName is used when the project sets none.
// Returns false with a one-line reason; the targets then hold garbage.
bool WriteInstaller(Project& project, const Bytes& stub, const std::string& volumeBaseName, BuildTargets& targets,
                    bool wantUninstaller, WrittenInstaller& out, std::string& error);
