#include "tools/truxpack/cmd_archive.h"

#include <stddef.h>
#include <string.h>

#include "archive/pe_image.h"
#include "core/checksum.h"
#include "tools/truxpack/installer_reader.h"
#include "tools/truxpack/pe_attach.h"

namespace {

std::string Str(const String& s) { return std::string(s.CStr(), (size_t)s.Length()); }

}  // namespace

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

  ArchivePieces pieces;
  if (!PackArchive(s, project.entries, project.pack, pieces, error)) return false;
  // The files' bytes now live in the region; a caller that is done with them
  // lets them go before the installer is assembled and read back.
  if (project.pack.releaseEntryData)
    for (EntryInput& e : project.entries) Bytes().swap(e.data);

  ArchiveHeader& h = pieces.header;
  const uint64_t dataRegionOffset = kArchiveHeaderSize + 4ull * pieces.entrySizes.size() + pieces.packedSettings.size();
  uint64_t inSection = (uint64_t)pieces.firstPieceSize;
  uint32_t rawSize;
  if (s.dataOutsideImage) {
    // Only the header and settings need to be mapped; the section ends at
    // the first alignment boundary and the region continues in the file.
    rawSize = ArchiveSectionRawSize(info, dataRegionOffset);
    if (inSection > rawSize - dataRegionOffset) inSection = rawSize - dataRegionOffset;
  } else {
    rawSize = ArchiveSectionRawSize(info, dataRegionOffset + inSection);
  }
  if (rawSize == 0 || dataRegionOffset + inSection > (uint64_t)INT32_MAX) {
    error = "the archive is too large for the installer image; use data.outside_image or volumes";
    return false;
  }
  h.sectionArchiveSize = (int32_t)(dataRegionOffset + inSection);

  Bytes section = EncodeHeader(h, pieces.entrySizes);
  section.insert(section.end(), pieces.packedSettings.begin(), pieces.packedSettings.end());
  section.insert(section.end(), pieces.region.begin(), pieces.region.begin() + (ptrdiff_t)inSection);
  Bytes trailing(pieces.region.begin() + (ptrdiff_t)inSection,
                 pieces.region.begin() + (ptrdiff_t)pieces.firstPieceSize);
  Bytes().swap(pieces.region);  // now held by the section and the trailing bytes
  if (!AttachArchiveSection(stub, info, section, rawSize, trailing, out.installer, error)) return false;
  const bool hadTrailing = !trailing.empty();
  Bytes().swap(section);
  Bytes().swap(trailing);
  // The runtime checks the file bytes before the section: the stub with the
  // attach's header changes, so the checksum is taken after the attach.
  h.stubChecksum = BlockChecksum(out.installer.data(), (int32_t)stub.size());
  for (size_t i = 0; i < 4; ++i)
    out.installer[stub.size() + offsetof(ArchiveHeader, stubChecksum) + i] = (unsigned char)(h.stubChecksum >> (8 * i));

  out.volumes.clear();
  for (size_t i = 0; i < pieces.volumes.size(); ++i)
    out.volumes.emplace_back(VolumeFileName(Str(s.volumeBaseName), kFirstVolumeNumber + (int32_t)i),
                             std::move(pieces.volumes[i]));

  // Read the result back the way the runtime will, and derive the
  // uninstaller: a writer fault must never reach a user's machine.
  InstallerContents check;
  ReadInstaller(
      out.installer,
      [&out](const std::string& name, Bytes& data) {
        for (const auto& v : out.volumes)
          if (v.first == name) {
            data = v.second;
            return true;
          }
        return false;
      },
      check);
  if (check.status != ReadStatus::kOk || check.entries.size() != project.entries.size()) {
    error = "internal: the installer just built does not read back: " + check.message;
    return false;
  }
  Bytes().swap(check.region);
  const PeLayout& L = check.layout;
  String image(reinterpret_cast<const char*>(out.installer.data()), (int32_t)L.sectionFileOffset);
  uint64_t after = (uint64_t)L.sectionFileOffset + L.sectionRawSize;
  if (after < out.installer.size())
    image.Append(reinterpret_cast<const char*>(out.installer.data() + after), (int32_t)(out.installer.size() - after));
  PatchUninstallerImage(image, L, check.settings.Flag(kFlagUninstaller) ? check.settings.patchOffset : 0,
                        check.settings.patchBytes);
  out.uninstaller.assign(image.CStr(), image.CStr() + image.Length());
  if (!hadTrailing) {
    Bytes expected = stub;
    if (s.Flag(kFlagUninstaller) && s.patchOffset > 0)
      memcpy(expected.data() + s.patchOffset, s.patchBytes.CStr(), (size_t)s.patchBytes.Length());
    if (out.uninstaller != expected) {
      error = "stub: cutting the archive section back out would not give the stub back (its header area after the "
              "section table is not zero-filled)";
      return false;
    }
  }
  return true;
}

