// build and init: the commands that write a product's files.
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tools/truxpack/cli.h"
#include "tools/truxpack/cmd_archive.h"
#include "tools/truxpack/file_io.h"
#include "tools/truxpack/installer_reader.h"
#include "tools/truxpack/installer_writer.h"
#include "tools/truxpack/names.h"
#include "tools/truxpack/project.h"
#include "tools/truxpack/signing.h"
#include "tools/truxpack/signing_keys.h"
#include "tools/truxpack/tool_info.h"

namespace fs = std::filesystem;

namespace {

// The build's options: the packing ones, then one per [signing] key.
std::vector<Option> BuildOptions() {
  std::vector<Option> options = {
      {"output", 'o', "FILE", "the installer to write (required)", "*.exe"},
      {"stub", 0, "FILE", "the runtime stub (default: the one built into truxpack)", "*.exe"},
      {"volume-size", 0, "BYTES", "cut the data into volume files of at most BYTES (K, M, G suffixes)"},
      {"level", 0, "fast|best", "compression level, overriding data.level"},
      {"threads", 'j', "N", "encoder threads (default: the machine's cores; the output is the same for any N)"},
      {"werror", 0, nullptr, "treat warnings as errors"},
      {"confine", 0, nullptr,
       "refuse files outside the project's directory (absolute paths, .., links leading out) instead of warning"},
      {"no-sign", 0, nullptr, "build unsigned, whatever [signing] says"}};
  for (const SigningKey& k : SigningKeys()) options.push_back({k.option, 0, k.value, k.help, k.complete});
  return options;
}

}  // namespace

const CommandHelp kBuildCommand = {
    "build", "PROJECT.toml",
    "Packs the product the project describes into an installer (and its volume files, if any).\n"
    "It is signed when [signing] or the --sign-* options give a key (each option overrides the key of the same "
    "name); --no-sign builds unsigned.\n"
    "Nothing is written when anything fails: every output appears only once all are complete.\n"
    "The installer is made of the runtime stub built into truxpack, unless --stub names another.",
    BuildOptions(), 1, 1, {"*.toml"}};

const CommandHelp kInitCommand = {
    "init", "DIR",
    "Writes a commented example project and the files it names into DIR (never overwrites).\n"
    "The project's first line names its JSON Schema (truxpack.schema.json, written beside it), from which "
    "TOML editors complete and check the keys.",
    {}, 1, 1, {"dir"}};

namespace {

// The volume base name a project without data.volume_base_name gets: its
// own file name without the extension, so the output's name never reaches
// the archive (two builds to different names give the same bytes).
std::string DefaultVolumeBaseName(const std::string& projectPath) {
  std::string stem = fs::path(projectPath).stem().string();
  if (!IsPlainFileName(stem) || stem.find(':') != std::string::npos || !WindowsNameProblem(VolumeFileName(stem, kFirstVolumeNumber)).empty())
    return "setup";
  for (unsigned char c : stem)
    if (c >= 0x80) return "setup";  // keep the name ASCII rather than guess its code page
  return stem;
}

// The --sign-* options over the project's [signing] table. An option naming
// a key source (certificate, key, pkcs12, command) replaces the project's
// choice of source, and a password option its password; paths are taken
// from the current directory. The files named are added to inputs, which
// no output may replace (a private key is not to be overwritten by -o).
bool ApplySigningArguments(const ParsedArgs& args, SigningOptions& o, std::vector<FileIdentity>& inputs,
                           std::string& error) {
  auto has = [&args](const char* key) {
    for (const SigningKey& k : SigningKeys())
      if (std::string(k.key) == key) return args.Has(k.option);
    return false;
  };
  if (has("certificate") || has("key") || has("pkcs12") || has("command")) {
    o.certificate.clear();
    o.key.clear();
    o.pkcs12.clear();
    o.command.clear();
  }
  if (has("password_file") || has("password_env")) {
    o.passwordFile.clear();
    o.passwordEnv.clear();
  }
  for (const SigningKey& k : SigningKeys()) {
    if (!args.Has(k.option)) continue;
    const std::string key = k.key, value = args.Get(k.option);
    const std::string problem = SigningValueProblem(key, value);
    if (!problem.empty()) {
      error = std::string("--") + k.option + ": " + problem;
      return false;
    }
    std::string path;
    if (key == "certificate" || key == "key" || key == "pkcs12" || key == "password_file") {
      uint64_t size = 0;
      FileIdentity identity;
      path = fs::absolute(value).lexically_normal().string();
      if (value.empty() || !StatRegularFile(path, size, identity, error)) {
        error = std::string("--") + k.option + ": " + (value.empty() ? "must name a file" : PrintablePath(error));
        return false;
      }
      inputs.push_back(identity);
    }
    if (key == "certificate") o.certificate = path;
    if (key == "key") o.key = path;
    if (key == "pkcs12") o.pkcs12 = path;
    if (key == "password_file") o.passwordFile = path;
    if (key == "password_env") o.passwordEnv = value;
    if (key == "hash") o.hash = value;
    if (key == "timestamp_url") o.timestampUrl = value;
    if (key == "command") {
      o.command = value;
      o.commandDirectory = fs::current_path().string();
    }
    if (key == "uninstaller") {
      if (value != "true" && value != "false") {
        error = std::string("--") + k.option + ": expected true or false";
        return false;
      }
      o.uninstaller = value == "true";
    }
  }
  return true;
}

}  // namespace

int RunBuild(int argc, char** argv) {
  ParsedArgs args;
  int code = ParseArgs(kBuildCommand, argc, argv, args);
  if (code >= 0) return code;
  const char* kUsage =
      "truxpack build PROJECT.toml -o setup.exe [--stub FILE] [--volume-size BYTES] [--level fast|best] [--confine] [--no-sign] [--sign-* ...]";
  if (!args.Has("output") || args.Get("output").empty()) {
    fprintf(stderr, "truxpack build: missing -o/--output FILE\n");
    return Usage(kUsage);
  }
  const std::string projectPath = args.positional[0], output = args.Get("output");
  uint64_t volumeSize = 0;
  if (args.Has("volume-size") && (!ParseSize(args.Get("volume-size"), INT32_MAX, volumeSize) || volumeSize < 1)) {
    fprintf(stderr, "truxpack build: --volume-size: expected a byte count from 1 to 2G-1\n");
    return Usage(kUsage);
  }
  uint64_t threads = DefaultPackThreads();
  if (args.Has("threads") && (!ParseSize(args.Get("threads"), 256, threads) || threads < 1)) {
    fprintf(stderr, "truxpack build: --threads: expected a number from 1 to 256\n");
    return Usage(kUsage);
  }
  if (args.Has("level") && args.Get("level") != "fast" && args.Get("level") != "best") {
    fprintf(stderr, "truxpack build: --level: expected fast or best\n");
    return Usage(kUsage);
  }

  Project project;
  std::string error;
  // The stub first: a wrong --stub is reported before the product is read.
  Bytes stub;
  FileIdentity stubIdentity;
  const bool stubFromFile = args.Has("stub");
  if (stubFromFile) {
    if (!ReadWholeFile(args.Get("stub"), stub, error, 256u << 20, &stubIdentity))
      return Fail(PrintablePath(error) + " (the runtime stub given with --stub)");
  } else {
    const EmbeddedStub builtIn = BuiltInStub();
    if (builtIn.size == 0) {
      fprintf(stderr, "truxpack build: this truxpack was built without a runtime stub; give one with --stub FILE\n");
      return Usage(kUsage);
    }
    stub.assign(builtIn.data, builtIn.data + builtIn.size);
  }
  // The files' bytes stay in their files until the installer is written (a
  // compressed region reads them into the one buffer the encoder needs).
  if (!LoadProject(projectPath, project, error, false, args.Has("confine"))) return Fail(PrintablePath(error));
  for (const std::string& w : project.warnings) Warn(w);
  if (args.Has("werror") && !project.warnings.empty())
    return Fail(std::to_string(project.warnings.size()) + " warning(s) and --werror; nothing written");
  if (args.Has("no-sign")) {
    project.signing = SigningOptions();
  } else if (!ApplySigningArguments(args, project.signing, project.inputs, error)) {
    fprintf(stderr, "truxpack build: %s\n", error.c_str());
    return Usage(kUsage);
  }
  const std::string signingProblem = SigningProblem(project.signing, project.settings);
  if (!signingProblem.empty()) return Fail(PrintablePath(projectPath) + ": " + signingProblem);
  if (volumeSize > 0) project.pack.volumeSize = (int64_t)volumeSize;
  project.pack.threads = (unsigned)threads;
  project.pack.releaseEntryData = true;
  if (args.Has("level")) project.pack.level = args.Get("level") == "fast" ? PackLevel::kFast : PackLevel::kBest;
  const bool compressed = project.settings.Flag(kFlagCompressedRegion);

  Progress progress("packing", 0, 0);
  progress.Stage((compressed ? "packing " : "writing ") + std::to_string(project.entries.size()) + " files:");
  project.pack.progress = [&progress](uint64_t done, uint64_t total) { progress.Update(done, total); };

  // Every output goes to a temporary file first; they are put in place
  // together, the installer last, once all are written and read back.
  OutputSet out;
  if (stubFromFile) out.Protect(stubIdentity);
  for (const FileIdentity& input : project.inputs) out.Protect(input);
  const int installer = out.Open(output, error);
  if (installer < 0) return Fail(PrintablePath(error));
  out.CommitLast(installer);
  FileTargets targets(out, installer, fs::path(output).parent_path().string());
  // A signer works on copies in a directory of its own beside the output.
  PrivateDirectory work;
  const SigningOptions& signing = project.signing;
  if (signing.Enabled()) {
    progress.Stage("signing");
    if (!work.Create(fs::path(output).parent_path().string(), error) ||
        !SignUninstaller(signing, project, stub, work, error))
      return Fail(PrintablePath(error));
  }
  WrittenInstaller written;
  if (!WriteInstaller(project, stub, DefaultVolumeBaseName(projectPath), targets, false, written, error))
    return Fail(PrintablePath(error));
  if (signing.Enabled()) {
    progress.Stage("signing the installer");
    if (!SignInstaller(signing, out, installer, output, written, work, error)) return Fail(PrintablePath(error));
  }
  progress.Stage("writing");
  if (!out.Commit(error)) return Fail(PrintablePath(error));
  progress.Done();
  if (Verbosity() > 0)
    printf("%s: %zu files, %llu bytes%s\n", PrintablePath(output).c_str(), project.entries.size(),
           (unsigned long long)written.installerSize,
           written.volumeNames.empty() ? "" : (", " + std::to_string(written.volumeNames.size()) + " volume files").c_str());
  return 0;
}

int RunInit(int argc, char** argv) {
  ParsedArgs args;
  int code = ParseArgs(kInitCommand, argc, argv, args);
  if (code >= 0) return code;
  const std::string root = args.positional[0];
  std::string error;
  // DIR and the folders below it are made and entered through directory
  // handles that never follow a link, so links planted in an existing DIR
  // send nothing elsewhere.
  const int rootfd = OpenOutputDirectory(root, true, error);
  if (rootfd < 0) return Fail(PrintablePath(error));
  std::vector<int> directories = {rootfd};  // open until the outputs are in place or gone
  struct Closer {
    std::vector<int>& fds;
    ~Closer() {
      for (int fd : fds) close(fd);
    }
  } closer{directories};
  const std::string shownRoot = (fs::path(root) / "").string();
  struct stat st;
  if (fstatat(rootfd, "project.toml", &st, AT_SYMLINK_NOFOLLOW) == 0)
    return Fail(PrintablePath(shownRoot + "project.toml") + " already exists; nothing written");
  OutputSet out;
  std::vector<std::string> written;
  for (const InitFile& f : InitProjectFiles()) {
    std::vector<std::string> parts;
    for (const auto& part : fs::path(f.path)) parts.push_back(part.string());
    const std::string shown = shownRoot + f.path;
    const int dir = OpenDirectoryBelow(rootfd, parts, parts.size() - 1, true, root, error);
    if (dir < 0) return Fail(PrintablePath(error));
    directories.push_back(dir);
    if (fstatat(dir, parts.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      if (Verbosity() > 0) printf("kept %s (exists)\n", PrintablePath(shown).c_str());
      continue;
    }
    if (!out.AddAt(dir, PrintablePath(shown), parts.back(), reinterpret_cast<const unsigned char*>(f.content),
                   strlen(f.content), error, false))
      return Fail(error);
    written.push_back(shown);
  }
  if (!out.Commit(error)) return Fail(error);
  for (const std::string& w : written)
    if (Verbosity() > 0) printf("wrote %s\n", PrintablePath(w).c_str());
  if (Verbosity() > 0) printf("next: truxpack build %s -o setup.exe\n", PrintablePath(shownRoot + "project.toml").c_str());
  return 0;
}
