#include "tools/truxpack/cmd_archive.h"

#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>

#include "archive/pe_image.h"
#include "core/checksum.h"
#include "tools/truxpack/installer_reader.h"
#include "tools/truxpack/cli.h"
#include "tools/truxpack/file_io.h"
#include "tools/truxpack/list_actions.h"
#include "tools/truxpack/messages.h"
#include "tools/truxpack/pe_attach.h"

namespace fs = std::filesystem;

namespace {

constexpr char kDefaultStub[] = "dist/trux-stub.exe";

bool OnTerminal() { return isatty(1) != 0; }

// Progress lines on a terminal only, each overwriting the last.
void Progress(const std::string& text) {
  if (!OnTerminal()) return;
  printf("\r\033[K%s", text.c_str());
  fflush(stdout);
}

void ProgressDone() {
  if (OnTerminal()) printf("\r\033[K");
}

std::string Str(const String& s) { return std::string(s.CStr(), (size_t)s.Length()); }

bool IsOption(const char* arg) { return arg[0] == '-' && arg[1] != '\0'; }

VolumeLoader VolumesBeside(const std::string& installer) {
  fs::path directory = fs::path(installer).parent_path();
  return [directory](const std::string& name, Bytes& data) {
    std::string ignored;
    return ReadWholeFile((directory / name).string(), data, ignored);
  };
}

std::string Hex(uint64_t v) {
  char text[24];
  snprintf(text, sizeof text, "0x%llX", (unsigned long long)v);
  return text;
}

const char* KindName(int32_t kind) {
  switch (kind) {
    case kKindInstallDir: return "install";
    case kKindSharedDir: return "shared";
    case kKindFont: return "font";
    case kKindStartup: return "startup";
    case kKindSystemPermanent: return "system";
    case kKindComServer: return "com_server";
    case kKindTypeLibrary: return "type_library";
    case kKindVersioned: return "versioned";
    default: return "invalid";
  }
}

// Where the runtime will put an entry, in path-variable form.
std::string Destination(const ReadEntry& e) {
  std::string name = e.name, override = e.texts[3];
  if (!override.empty() && override.find('\\') == std::string::npos) {
    name = override;
    override.clear();
  }
  if (!override.empty()) {
    if (override.back() == '\\') override += name.substr(name.rfind('\\') == std::string::npos ? 0 : name.rfind('\\') + 1);
    return override;
  }
  if (e.flags & kEntryToUninstallDir) return "%UninstallDir%\\" + name;
  switch (e.kind) {
    case kKindSharedDir: return "%SharedDir%\\" + name;
    case kKindFont: return "%FontDir%\\" + name;
    case kKindSystemPermanent:
    case kKindComServer:
    case kKindTypeLibrary: return "%SystemDir%\\" + name;
    default: return "%InstallDir%\\" + name;
  }
}

bool ReadInstallerFile(const std::string& path, Bytes& file, InstallerContents& contents, std::string& error) {
  if (!ReadWholeFile(path, file, error)) return false;
  if (file.size() > (size_t)INT32_MAX) {
    error = path + ": larger than 2 GiB, not an installer";
    return false;
  }
  Progress("reading " + path + "...");
  ReadInstaller(file, VolumesBeside(path), contents);
  ProgressDone();
  return true;
}

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

  Progress("packing " + std::to_string(project.entries.size()) + " files...");
  ArchivePieces pieces;
  if (!PackArchive(s, project.entries, project.pack, pieces, error)) return false;
  ProgressDone();

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
  if (!AttachArchiveSection(stub, info, section, rawSize, trailing, out.installer, error)) return false;
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
  Progress("checking...");
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
  ProgressDone();
  if (check.status != ReadStatus::kOk || check.entries.size() != project.entries.size()) {
    error = "internal: the installer just built does not read back: " + check.message;
    return false;
  }
  const PeLayout& L = check.layout;
  String image(reinterpret_cast<const char*>(out.installer.data()), (int32_t)L.sectionFileOffset);
  uint64_t after = (uint64_t)L.sectionFileOffset + L.sectionRawSize;
  if (after < out.installer.size())
    image.Append(reinterpret_cast<const char*>(out.installer.data() + after), (int32_t)(out.installer.size() - after));
  PatchUninstallerImage(image, L, check.settings.Flag(kFlagUninstaller) ? check.settings.patchOffset : 0,
                        check.settings.patchBytes);
  out.uninstaller.assign(image.CStr(), image.CStr() + image.Length());
  if (trailing.empty()) {
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

int RunBuild(int argc, char** argv) {
  const char* kUsage = "truxpack build PROJECT.toml -o setup.exe [--stub PATH] [--volume-size N]";
  std::string projectPath, output, stubPath = kDefaultStub;
  int64_t volumeSize = -1;
  for (int i = 0; i < argc; ++i) {
    if (strcmp(argv[i], "-o") == 0 || strcmp(argv[i], "--stub") == 0 || strcmp(argv[i], "--volume-size") == 0) {
      if (i + 1 >= argc) return Usage(kUsage);
      const char* value = argv[++i];
      if (argv[i - 1][1] == 'o') {
        output = value;
      } else if (argv[i - 1][2] == 's') {
        stubPath = value;
      } else {
        char* end = nullptr;
        long long n = strtoll(value, &end, 10);
        if (!*value || *end || n < 1 || n > INT32_MAX) return Usage(kUsage);
        volumeSize = n;
      }
    } else if (IsOption(argv[i]) || !projectPath.empty()) {
      return Usage(kUsage);
    } else {
      projectPath = argv[i];
    }
  }
  if (projectPath.empty() || output.empty()) return Usage(kUsage);

  Project project;
  std::string error;
  if (!LoadProject(projectPath, project, error)) return Fail(error);
  if (volumeSize > 0) project.pack.volumeSize = volumeSize;
  Bytes stub;
  if (!ReadWholeFile(stubPath, stub, error)) return Fail(error + " (the runtime stub; give it with --stub)");
  BuiltInstaller built;
  if (!BuildInstaller(project, stub, fs::path(output).stem().string(), built, error)) return Fail(error);

  fs::path directory = fs::path(output).parent_path();
  for (const auto& [name, bytes] : built.volumes)
    if (!WriteWholeFileAtomically((directory / name).string(), bytes.data(), bytes.size(), error)) return Fail(error);
  if (!WriteWholeFileAtomically(output, built.installer.data(), built.installer.size(), error)) return Fail(error);
  if (OnTerminal())
    printf("%s: %zu files, %zu bytes%s\n", output.c_str(), project.entries.size(), built.installer.size(),
           built.volumes.empty() ? "" : (", " + std::to_string(built.volumes.size()) + " volume files").c_str());
  return 0;
}

int RunList(int argc, char** argv) {
  if (argc != 1 || IsOption(argv[0])) return Usage("truxpack list setup.exe");
  Bytes file;
  InstallerContents c;
  std::string error;
  if (!ReadInstallerFile(argv[0], file, c, error)) return Fail(error);
  if (c.status == ReadStatus::kNoArchive) return Fail(std::string(argv[0]) + ": " + c.message);
  printf("installer      %s (%zu bytes)\n", argv[0], file.size());
  if (c.layout.archiveIndex >= 0)
    printf("section        .trux #%d at file offset %s, %u raw bytes, %u bytes mapped\n",
           c.layout.archiveIndex + 1, Hex(c.layout.sectionFileOffset).c_str(), c.layout.sectionRawSize,
           c.sectionBytes);
  const ArchiveHeader& h = c.header;
  if (h.magic == kArchiveMagic)
    printf("header         format %.2f, %d entries, settings %d bytes packed, data region %d bytes\n",
           h.formatVersion * 0.01, h.entryCount, h.settingsPackedSize, h.dataRegionSize);
  if (c.haveSettings) {
    const ArchiveSettings& s = c.settings;
    printf("product        %s\n", Str(s.productName).c_str());
    printf("publisher      %s\n", Str(s.Publisher).c_str());
    printf("version        %s\n", Str(s.DisplayVersion).c_str());
    printf("install dir    %s\n", Str(s.defaultInstallDir).c_str());
    std::string names;
    uint64_t named = 0;
    for (const FlagName& f : FlagNames())
      if (s.Flag(f.bit)) {
        names += std::string(names.empty() ? "" : " ") + f.key;
        named |= 1ull << f.bit;
      }
    if (s.Flags & ~named) names += (names.empty() ? "raw " : " raw ") + Hex(s.Flags & ~named);
    printf("flags          %s (%s)\n", Hex(s.Flags).c_str(), names.c_str());
    printf("data           %s, %s%s, volume base \"%s\"\n",
           s.Flag(kFlagCompressedRegion) ? "compressed" : "stored",
           s.dataOutsideImage ? "outside the image" : "in the image",
           c.volumesRead ? (", " + std::to_string(c.volumesRead) + " volumes").c_str() : "",
           Str(s.volumeBaseName).c_str());
    printf("texts          %d licence, %d readme\n", s.licenseTexts.Count(), s.readmeTexts.Count());
    printf("records        %d deletions, %d associations, %d shortcuts, %d uninstall values\n", s.deletions.Count(),
           s.associations.Count(), s.shortcuts.Count(), s.uninstallValues.Count());
    std::string languages;
    for (int32_t i = 0; i < s.languageNames.Count(); ++i)
      languages += (i ? ", " : "") + Str(s.languageNames[i]);
    printf("languages      %s (%d messages each)\n", languages.c_str(), s.messageCount);
    PrintActionSettings(stdout, s);
  }
  if (c.status == ReadStatus::kOk) {
    printf("entries        %zu\n", c.entries.size());
    for (const ReadEntry& e : c.entries)
      printf("  %10u  %-12s  %s  <- %s\n", e.size, KindName(e.kind), Destination(e).c_str(), e.name.c_str());
    PrintEntryActions(stdout, c.entries, Destination);
    return 0;
  }
  return Fail(std::string(argv[0]) + ": " + c.message);
}

int RunVerify(int argc, char** argv) {
  if (argc != 1 || IsOption(argv[0])) return Usage("truxpack verify setup.exe");
  Bytes file;
  InstallerContents c;
  std::string error;
  if (!ReadInstallerFile(argv[0], file, c, error)) return Fail(error);
  if (c.status != ReadStatus::kOk) return Fail(std::string(argv[0]) + ": " + c.message);
  printf("%s: OK (%zu entries, %d bytes of data%s; every count, limit and checksum the runtime checks holds)\n",
         argv[0], c.entries.size(), c.header.dataRegionSize,
         c.volumesRead ? (" in " + std::to_string(c.volumesRead + 1) + " pieces").c_str() : "");
  return 0;
}

int RunExtract(int argc, char** argv) {
  if (argc != 2 || IsOption(argv[0]) || IsOption(argv[1])) return Usage("truxpack extract setup.exe DIR");
  Bytes file;
  InstallerContents c;
  std::string error;
  if (!ReadInstallerFile(argv[0], file, c, error)) return Fail(error);
  if (c.status != ReadStatus::kOk) return Fail(std::string(argv[0]) + ": " + c.message);
  fs::path root(argv[1]);
  size_t done = 0;
  for (const ReadEntry& e : c.entries) {
    std::string relative = SafeRelativePath(e.name);
    if (relative.empty()) return Fail(std::string(argv[0]) + ": entry \"" + e.name + "\" has no usable file name");
    std::string asStored = e.name;
    for (char& ch : asStored)
      if (ch == '\\') ch = '/';
    if (relative != asStored) fprintf(stderr, "truxpack: entry \"%s\" written as %s\n", e.name.c_str(), relative.c_str());
    fs::path target = root / relative;
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    if (ec) return Fail("cannot create " + target.parent_path().string() + ": " + ec.message());
    if (!WriteWholeFileAtomically(target.string(), c.region.data() + e.dataOffset, e.size, error)) return Fail(error);
    Progress("extracting " + std::to_string(++done) + "/" + std::to_string(c.entries.size()));
  }
  ProgressDone();
  return 0;
}

int RunInit(int argc, char** argv) {
  if (argc != 1 || IsOption(argv[0])) return Usage("truxpack init DIR");
  fs::path root(argv[0]);
  std::error_code ec;
  if (fs::exists(root / "project.toml", ec))
    return Fail((root / "project.toml").string() + " already exists; nothing written");
  std::string error;
  for (const InitFile& f : InitProjectFiles()) {
    fs::path target = root / f.path;
    fs::create_directories(target.parent_path(), ec);
    if (ec) return Fail("cannot create " + target.parent_path().string() + ": " + ec.message());
    if (fs::exists(target, ec)) continue;
    if (!WriteWholeFileAtomically(target.string(), reinterpret_cast<const unsigned char*>(f.content),
                                  strlen(f.content), error))
      return Fail(error);
  }
  return 0;
}
