#include "tools/truxpack/installer_writer.h"

#include <stddef.h>
#include <string.h>
#include <sys/stat.h>

#include <filesystem>

#include "archive/pe_image.h"
#include "core/byte_order.h"
#include "core/checksum.h"
#include "tools/truxpack/core_string.h"
#include "tools/truxpack/installer_reader.h"
#include "tools/truxpack/pe_attach.h"

namespace {

constexpr size_t kChunk = 1u << 20;  // the most of a source file held at once

// Routes the data region's bytes, in order, to where they belong: the
// section, the zero padding that ends it, the part outside the image, then
// one volume file after another (each opened with its identifier when its
// first byte arrives). The region's checksum is taken on the way.
class RegionRouter {
 public:
  struct Plan {
    uint64_t inSection = 0;   // region bytes inside the section
    uint64_t firstPiece = 0;  // region bytes in the installer file
    uint64_t padding = 0;     // zeros after the section's archive bytes
    uint64_t total = 0;
    int64_t volumeSize = 0;
    std::string baseName;
    uint32_t identifier = 0;
  };

  RegionRouter(BuildTargets& targets, const Plan& plan) : targets_(targets), plan_(plan) {}

  bool Put(const unsigned char* p, size_t n, std::string& error) {
    if (at_ + n > plan_.total) {
      error = "internal: the data region is longer than planned";
      return false;
    }
    sum_.Add(p, n);
    while (n > 0) {
      uint64_t end;
      if (at_ < plan_.inSection) {
        end = plan_.inSection;
      } else {
        if (!padded_ && !Pad(error)) return false;
        if (at_ < plan_.firstPiece) {
          end = plan_.firstPiece;
        } else {
          const uint64_t index = (at_ - plan_.firstPiece) / (uint64_t)plan_.volumeSize;
          const uint64_t start = plan_.firstPiece + index * (uint64_t)plan_.volumeSize;
          end = start + (uint64_t)plan_.volumeSize;
          if (at_ == start && !OpenVolume(index, error)) return false;
        }
      }
      size_t take = end - at_ < n ? (size_t)(end - at_) : n;
      if (!targets_.Write(output_, p, take, error)) return false;
      p += take;
      n -= take;
      at_ += take;
    }
    return true;
  }

  // After the last byte: the section's padding, when no byte has followed it.
  bool Finish(std::string& error) {
    if (at_ != plan_.total) {
      error = "internal: the data region is shorter than planned";
      return false;
    }
    return padded_ || Pad(error);
  }

  uint32_t Checksum() const { return sum_.Value(); }
  const std::vector<std::string>& VolumeNames() const { return volumeNames_; }

 private:
  bool Pad(std::string& error) {
    padded_ = true;
    static const unsigned char kZeros[4096] = {0};
    for (uint64_t left = plan_.padding; left > 0;) {
      size_t take = left < sizeof kZeros ? (size_t)left : sizeof kZeros;
      if (!targets_.Write(0, kZeros, take, error)) return false;
      left -= take;
    }
    return true;
  }

  bool OpenVolume(uint64_t index, std::string& error) {
    std::string name = VolumeFileName(plan_.baseName, kFirstVolumeNumber + (int32_t)index);
    output_ = targets_.OpenVolume(name, error);
    if (output_ < 0) return false;
    volumeNames_.push_back(name);
    unsigned char bytes[kVolumeIdentifierSize];
    StoreLe32(bytes, plan_.identifier + (uint32_t)index);
    return targets_.Write(output_, bytes, sizeof bytes, error);
  }

  BuildTargets& targets_;
  Plan plan_;
  uint64_t at_ = 0;
  int output_ = 0;
  bool padded_ = false;
  RunningChecksum sum_;
  std::vector<std::string> volumeNames_;
};

// One entry record, its data read from its source file in pieces (or from
// memory when loaded).
bool WriteEntry(const EntryInput& e, RegionRouter& router, Bytes& buffer, const PackProgress& progress,
                uint64_t& done, uint64_t total, std::string& error) {
  Bytes head;
  AppendEntryHead(head, e);
  if (!router.Put(head.data(), head.size(), error)) return false;
  RunningChecksum sum;
  if (!e.Deferred()) {
    sum.Add(e.data.data(), e.data.size());
    if (!router.Put(e.data.data(), e.data.size(), error)) return false;
    done += e.data.size();
  } else {
    std::unique_ptr<FileSource> file = OpenEntrySource(e, error);
    if (!file) return false;
    for (uint64_t at = 0; at < e.sourceSize;) {
      size_t take = e.sourceSize - at < kChunk ? (size_t)(e.sourceSize - at) : kChunk;
      if (!file->ReadAt(at, buffer.data(), take)) {
        error = "cannot read " + e.source + " (it changed since the project was read?)";
        return false;
      }
      sum.Add(buffer.data(), take);
      if (!router.Put(buffer.data(), take, error)) return false;
      at += take;
      done += take;
      if (progress) progress(done, total);
    }
  }
  Bytes tail;
  AppendEntryTail(tail, e, sum.Value());
  return router.Put(tail.data(), tail.size(), error);
}

}  // namespace

int MemoryTargets::OpenVolume(const std::string& name, std::string&) {
  outputs_.emplace_back();
  names_.push_back(name);
  return (int)outputs_.size() - 1;
}

bool MemoryTargets::Write(int output, const unsigned char* data, size_t n, std::string&) {
  Bytes& b = outputs_[(size_t)output];
  if (n) b.insert(b.end(), data, data + n);
  return true;
}

bool MemoryTargets::WriteAt(int output, uint64_t offset, const unsigned char* data, size_t n, std::string& error) {
  Bytes& b = outputs_[(size_t)output];
  if (offset > b.size() || n > b.size() - offset) {
    error = "internal: a patch past the bytes written";
    return false;
  }
  if (n) memcpy(b.data() + offset, data, n);
  return true;
}

std::unique_ptr<ByteSource> MemoryTargets::ReadBack(int output) {
  const Bytes& b = outputs_[(size_t)output];
  return std::make_unique<MemorySource>(b.data(), b.size());
}

std::vector<std::pair<std::string, Bytes>> MemoryTargets::TakeVolumes() {
  std::vector<std::pair<std::string, Bytes>> volumes;
  for (size_t i = 0; i < names_.size(); ++i) volumes.emplace_back(names_[i], std::move(outputs_[i + 1]));
  return volumes;
}

int FileTargets::OpenVolume(const std::string& name, std::string& error) {
  const std::string shown = (std::filesystem::path(directory_) / name).string();
  if (!IsPlainFileName(name)) {
    error = shown + ": not a file name";
    return -1;
  }
  // Beside the installer: in the directory its handle holds, never through
  // the directory's name again.
  int index = set_.OpenAt(set_.DirFd(indices_[0]), shown, name, error, true);
  if (index < 0) return -1;
  indices_.push_back(index);
  return (int)indices_.size() - 1;
}

bool FileTargets::Write(int output, const unsigned char* data, size_t n, std::string& error) {
  return set_.Write(indices_[(size_t)output], data, n, error);
}

bool FileTargets::WriteAt(int output, uint64_t offset, const unsigned char* data, size_t n, std::string& error) {
  return set_.WriteAt(indices_[(size_t)output], offset, data, n, error);
}

std::unique_ptr<ByteSource> FileTargets::ReadBack(int output) {
  int fd = set_.Fd(indices_[(size_t)output]);
  struct stat st;
  if (fstat(fd, &st) != 0) return nullptr;
  return std::make_unique<FileSource>(fd, (uint64_t)st.st_size, false);
}

bool WriteInstaller(Project& project, const Bytes& stub, const std::string& volumeBaseName, BuildTargets& targets,
                    bool wantUninstaller, WrittenInstaller& out, std::string& error) {
  ArchiveSettings& s = project.settings;
  if (!project.volumeBaseNameSet) s.volumeBaseName = String(volumeBaseName.c_str());
  StubInfo info;
  if (!InspectStub(stub, info, error)) return false;
  if (s.Flag(kFlagUninstaller) && s.patchOffset > 0 &&
      (uint64_t)s.patchOffset + (uint64_t)s.patchBytes.Length() > stub.size()) {
    error = "uninstall.patch_offset: the patch does not fit inside the uninstaller (" + std::to_string(stub.size()) +
            " bytes); the runtime would skip it";
    return false;
  }

  PackOptions options = project.pack;
  options.streamStoredRegion = true;
  ArchivePieces pieces;
  if (!PackArchive(s, project.entries, options, pieces, error)) return false;

  // Layout: how much of the region the section holds, and its raw size.
  ArchiveHeader& h = pieces.header;
  const uint64_t n = (uint64_t)pieces.regionSize;
  const uint64_t dataRegionOffset = kArchiveHeaderSize + 4ull * pieces.entrySizes.size() + pieces.packedSettings.size();
  const int64_t volumeSize = project.pack.volumeSize;
  const uint64_t firstPiece = (volumeSize <= 0 || (uint64_t)volumeSize >= n) ? n : (uint64_t)volumeSize;
  uint64_t inSection = firstPiece;
  uint32_t rawSize;
  if (s.dataOutsideImage) {
    // Only the header and settings need to be mapped; the section ends at
    // the first alignment boundary and the region continues in the file.
    rawSize = ArchiveSectionRawSize(info, dataRegionOffset);
    if (rawSize != 0 && inSection > rawSize - dataRegionOffset) inSection = rawSize - dataRegionOffset;
  } else {
    rawSize = ArchiveSectionRawSize(info, dataRegionOffset + inSection);
  }
  if (rawSize == 0 || dataRegionOffset + inSection > (uint64_t)INT32_MAX) {
    error = "the archive is too large for the installer image; use data.outside_image or volumes";
    return false;
  }
  h.sectionArchiveSize = (int32_t)(dataRegionOffset + inSection);
  // The runtime copies the region's bytes after the section into the
  // uninstaller image, one String behind the stub, whose block (with its
  // 4 KiB growth margin) holds at most kMaxStringBlock bytes; a larger image
  // would stop the installer.
  if ((uint64_t)stub.size() + (firstPiece - inSection) + 4096 > (uint64_t)kMaxStringBlock) {
    error = "data.outside_image: the uninstaller, which carries the data after the section, would exceed 1 GiB; "
            "keep the data in the image or use volumes";
    return false;
  }

  Bytes head;
  if (!AttachedStub(stub, info, rawSize, head, error)) return false;
  // The runtime checks the file bytes before the section: the stub with the
  // attach's header changes.
  h.stubChecksum = BlockChecksum(head.data(), (int32_t)head.size());
  Bytes archive = EncodeHeader(h, pieces.entrySizes);
  archive.insert(archive.end(), pieces.packedSettings.begin(), pieces.packedSettings.end());
  Bytes().swap(pieces.packedSettings);
  if (!targets.Write(0, head.data(), head.size(), error) || !targets.Write(0, archive.data(), archive.size(), error))
    return false;
  Bytes().swap(archive);

  RegionRouter::Plan plan;
  plan.inSection = inSection;
  plan.firstPiece = firstPiece;
  plan.padding = rawSize - (dataRegionOffset + inSection);
  plan.total = n;
  plan.volumeSize = volumeSize;
  plan.baseName = Str(s.volumeBaseName);
  plan.identifier = s.volumeIdentifier;
  RegionRouter router(targets, plan);
  if (pieces.regionStreamed) {
    Bytes buffer(kChunk);
    uint64_t done = 0, total = 0;
    for (const EntryInput& e : project.entries) total += e.DataSize();
    for (const EntryInput& e : project.entries)
      if (!WriteEntry(e, router, buffer, project.pack.progress, done, total, error)) return false;
  } else if (!router.Put(pieces.region.data(), pieces.region.size(), error)) {
    return false;
  }
  Bytes().swap(pieces.region);
  if (!router.Finish(error)) return false;
  if (!project.uninstallerTail.empty()) {
    // Data outside the image is read to the end of the file: nothing may follow it.
    if (s.dataOutsideImage || firstPiece != inSection) {
      error = "internal: bytes for the uninstaller after data outside the image";
      return false;
    }
    if (!targets.Write(0, project.uninstallerTail.data(), project.uninstallerTail.size(), error)) return false;
  }
  if (pieces.regionStreamed) {
    h.dataRegionChecksum = router.Checksum();
    unsigned char bytes[4];
    StoreLe32(bytes, h.dataRegionChecksum);
    if (!targets.WriteAt(0, stub.size() + offsetof(ArchiveHeader, dataRegionChecksum), bytes, sizeof bytes, error))
      return false;
  }
  out.volumeNames = router.VolumeNames();

  // Read the result back the way the runtime will, and derive the
  // uninstaller: a writer fault must never reach a user's machine.
  std::unique_ptr<ByteSource> installer = targets.ReadBack(0);
  if (!installer) {
    error = "cannot read back the installer just written";
    return false;
  }
  out.installerSize = installer->Size();
  VolumeOpener volumes = [&targets, &out](const std::string& name) -> std::unique_ptr<ByteSource> {
    for (size_t i = 0; i < out.volumeNames.size(); ++i)
      if (out.volumeNames[i] == name) return targets.ReadBack((int)i + 1);
    return nullptr;
  };
  InstallerContents check;
  ReadInstaller(*installer, volumes, check);
  if (check.status != ReadStatus::kOk || check.entries.size() != project.entries.size()) {
    error = "internal: the installer just built does not read back: " + check.message;
    return false;
  }
  Bytes().swap(check.region);
  out.contents = check;
  // The uninstaller the runtime will derive: the stub (with the project's
  // patch) followed by what the section is followed by. It is derived here
  // as the runtime derives it; with data after the section it carries that
  // data and is held only when asked for.
  const PeLayout& L = check.layout;
  const bool onlyTail =
      (uint64_t)L.sectionFileOffset + L.sectionRawSize + project.uninstallerTail.size() == installer->Size();
  if (!wantUninstaller && !onlyTail) return true;
  String image;
  if (DeriveUninstaller(*installer, check, image) != kArchiveOk) {
    error = "cannot read back the installer just written";
    return false;
  }
  if (wantUninstaller) out.uninstaller.assign(image.CStr(), image.CStr() + image.Length());
  if (onlyTail) {
    Bytes expected = stub;
    if (s.Flag(kFlagUninstaller) && s.patchOffset > 0)
      memcpy(expected.data() + s.patchOffset, s.patchBytes.CStr(), (size_t)s.patchBytes.Length());
    expected.insert(expected.end(), project.uninstallerTail.begin(), project.uninstallerTail.end());
    if ((size_t)image.Length() != expected.size() || memcmp(image.CStr(), expected.data(), expected.size()) != 0) {
      error = "stub: cutting the archive section back out would not give the stub back (its header area after the "
              "section table is not zero-filled)";
      return false;
    }
  }
  return true;
}
