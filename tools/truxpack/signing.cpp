#include "tools/truxpack/signing.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "archive/pe_image.h"
#include "core/byte_order.h"
#include "tools/truxpack/authenticode.h"
#include "tools/truxpack/cli.h"
#include "tools/truxpack/names.h"
#include "tools/truxpack/pe_attach.h"

namespace fs = std::filesystem;

namespace {

constexpr char kSigningTool[] = "osslsigncode";
constexpr size_t kChunk = 1u << 20;

std::string EffectiveHash(const SigningOptions& o) { return o.hash.empty() ? "sha256" : o.hash; }

// A name for a file handed to a signer, which may show it in its logs: the
// wanted one when it is plain printable ASCII, else the fallback.
std::string WorkName(const std::string& wanted, const char* fallback) {
  if (!IsPlainFileName(wanted)) return fallback;
  for (unsigned char c : wanted)
    if (c < 0x20 || c > 0x7E || c == '\'') return fallback;
  return wanted;
}

// path in single quotes for /bin/sh, each quote in it written as '\''.
std::string ShellQuoted(const std::string& path) {
  std::string out = "'";
  for (char c : path) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string CommandFor(const SigningOptions& o, const std::string& path) {
  std::string command = o.command;
  const std::string quoted = ShellQuoted(path);
  for (size_t at = command.find("{file}"); at != std::string::npos; at = command.find("{file}", at + quoted.size()))
    command.replace(at, 6, quoted);
  return command;
}

std::string ExitText(int status) {
  if (WIFEXITED(status)) return "exit code " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "ended by signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

// Runs argv (argv[0] looked up in PATH) in directory (empty: here), its
// standard input the text input (a pipe, so a password never touches the
// disk or a command line), its output on our standard error unless quiet
// (its own errors always are).
// The exit status, or -1 with error set when it cannot be started.
int Run(const std::vector<std::string>& argv, const std::string& directory, const std::string& input, bool quiet,
        std::string& error) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    error = std::string("cannot start ") + argv[0] + ": " + strerror(errno);
    return -1;
  }
  // The input goes into the pipe before the program starts: a password is
  // far below a pipe's capacity, and a program that never reads it cannot
  // leave this process writing into a closed pipe.
  bool written = input.size() <= 4096;
  for (size_t done = 0; written && done < input.size();) {
    ssize_t n = write(pipeFds[1], input.data() + done, input.size() - done);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) done += (size_t)n;
  }
  close(pipeFds[1]);
  if (!written) {
    close(pipeFds[0]);
    error = std::string("cannot hand the password to ") + argv[0];
    return -1;
  }
  const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    dup2(pipeFds[0], 0);
    if (quiet && devNull >= 0)
      dup2(devNull, 1);
    else
      dup2(2, 1);
    if (!directory.empty() && chdir(directory.c_str()) != 0) _exit(126);
    execvp(args[0], args.data());
    _exit(127);
  }
  const int startError = errno;
  close(pipeFds[0]);
  if (devNull >= 0) close(devNull);
  if (pid < 0) {
    error = std::string("cannot start ") + argv[0] + ": " + strerror(startError);
    return -1;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// Signs the file work/name: with a command in place, with osslsigncode into
// work/signed-name. signedPath receives the signed file's path.
bool RunSigner(const SigningOptions& o, PrivateDirectory& work, const std::string& name, std::string& signedPath,
               std::string& error) {
  const std::string input = work.File(name);
  std::string password;
  int status;
  std::string what;
  if (!o.command.empty()) {
    signedPath = input;
    const std::string command = CommandFor(o, input);
    what = "signing.command (" + PrintablePath(o.command) + ")";
    status = Run({"/bin/sh", "-c", command}, o.commandDirectory, std::string(), Verbosity() == 0, error);
  } else {
    signedPath = work.File("signed-" + name);
    std::vector<std::string> argv = {kSigningTool, "sign", "-h", EffectiveHash(o)};
    if (!o.pkcs12.empty()) {
      argv.insert(argv.end(), {"-pkcs12", o.pkcs12});
    } else {
      argv.insert(argv.end(), {"-certs", o.certificate, "-key", o.key});
    }
    if (!o.passwordFile.empty()) argv.insert(argv.end(), {"-readpass", o.passwordFile});
    if (!o.passwordEnv.empty()) {
      const char* value = getenv(o.passwordEnv.c_str());
      if (!value) {
        error = "signing.password_env: the environment has no variable " + o.passwordEnv;
        return false;
      }
      password = value;
      argv.insert(argv.end(), {"-readpass", "/dev/stdin"});
    }
    if (!o.timestampUrl.empty()) argv.insert(argv.end(), {"-ts", o.timestampUrl});
    argv.insert(argv.end(), {"-in", input, "-out", signedPath});
    what = kSigningTool;
    status = Run(argv, std::string(), password, Verbosity() == 0, error);
  }
  if (status < 0) return false;
  if (o.command.empty() && WIFEXITED(status) && WEXITSTATUS(status) == 127) {
    error = std::string(kSigningTool) + " was not found: install it (Debian: apt-get install osslsigncode) or sign " +
            "with signing.command";
    return false;
  }
  if (status != 0) {
    error = what + " failed (" + ExitText(status) + "); nothing written";
    return false;
  }
  return true;
}

// Copies size bytes of from into the new file work/name.
bool CopyInto(PrivateDirectory& work, const std::string& name, ByteSource& from, std::string& error) {
  const int fd = work.CreateFile(name, error);
  if (fd < 0) return false;
  Bytes chunk(kChunk);
  bool ok = true;
  for (uint64_t at = 0; ok && at < from.Size();) {
    const size_t take = from.Size() - at < kChunk ? (size_t)(from.Size() - at) : kChunk;
    ok = from.ReadAt(at, chunk.data(), take);
    for (size_t done = 0; ok && done < take;) {
      ssize_t n = write(fd, chunk.data() + done, take - done);
      if (n < 0 && errno == EINTR) continue;
      ok = n > 0;
      if (ok) done += (size_t)n;
    }
    at += take;
  }
  if (close(fd) != 0) ok = false;
  if (!ok) error = "cannot write the file to sign: " + std::string(strerror(errno));
  return ok;
}

// Signs the image in unsignedImage (called name for the signer) and checks
// the result: only signing's changes, and a signature that holds with the
// hash asked for. signedFile is left open on the result.
bool SignImage(const SigningOptions& o, PrivateDirectory& work, const std::string& name, const char* role,
               ByteSource& unsignedImage, std::unique_ptr<FileSource>& signedFile, std::string& error) {
  std::string signedPath;
  if (!CopyInto(work, name, unsignedImage, error) || !RunSigner(o, work, name, signedPath, error)) return false;
  std::string why;
  signedFile = OpenFileSource(signedPath, why);
  // The names are free for the next image (the installer may be called as
  // the uninstaller is); the open file stays readable.
  unlink(work.File(name).c_str());
  unlink(signedPath.c_str());
  if (!signedFile) {
    error = std::string("the signed ") + role + " cannot be read: " + PrintablePath(why);
    return false;
  }
  if (!SignatureOnlyAdded(unsignedImage, *signedFile, why)) {
    error = std::string("signing the ") + role + " changed more than its signature: " + why + "; nothing written";
    return false;
  }
  const SignatureCheck check = CheckSignature(*signedFile);
  if (check.state != SignatureCheck::State::kValid) {
    error = std::string("the ") + role + "'s signature does not hold: " + check.problem + "; nothing written";
    return false;
  }
  if (o.command.empty() && check.hash != EffectiveHash(o)) {
    error = std::string("the ") + role + " was signed with " + check.hash + ", not " + EffectiveHash(o);
    return false;
  }
  return true;
}

}  // namespace

std::string SigningProblem(const SigningOptions& o, const ArchiveSettings& s) {
  const bool keyFiles = !o.certificate.empty() || !o.key.empty() || !o.pkcs12.empty();
  if (!o.Enabled()) {
    if (!o.passwordFile.empty() || !o.passwordEnv.empty() || !o.timestampUrl.empty() || !o.hash.empty())
      return "signing: no key: give certificate and key, pkcs12, or command";
    return std::string();
  }
  if (!o.command.empty() && keyFiles) return "signing.command: signs on its own; it excludes certificate, key and pkcs12";
  if (!o.pkcs12.empty() && (!o.certificate.empty() || !o.key.empty()))
    return "signing.pkcs12: holds key and certificate; it excludes certificate and key";
  if (o.pkcs12.empty() && o.command.empty() && (o.certificate.empty() || o.key.empty()))
    return o.certificate.empty() ? "signing.key: needs signing.certificate" : "signing.certificate: needs signing.key";
  if (!o.passwordFile.empty() && !o.passwordEnv.empty())
    return "signing.password_file: excludes signing.password_env (one password)";
  if (!o.command.empty() && (!o.passwordFile.empty() || !o.passwordEnv.empty() || !o.hash.empty() ||
                             !o.timestampUrl.empty()))
    return "signing.command: chooses its own password, hash and timestamp; password_file, password_env, hash and "
           "timestamp_url are for key files";
  if (s.dataOutsideImage)
    return "data.outside_image: cannot be signed: the installer reads that data to the end of its file, where the "
           "signature goes; keep the data in the image or use volumes";
  if (o.uninstaller && s.Flag(kFlagUninstaller) && s.patchOffset > 0)
    return "uninstall.patch_file: a project that sets its own uninstaller patch cannot also sign the uninstaller "
           "(the uninstaller's signature travels as that patch); drop the patch, or set signing.uninstaller = false "
           "to sign the installer only";
  return std::string();
}

bool SignUninstaller(const SigningOptions& o, Project& project, const Bytes& stub, PrivateDirectory& work,
                     std::string& error) {
  ArchiveSettings& s = project.settings;
  if (!o.Enabled() || !o.uninstaller || !s.Flag(kFlagUninstaller)) return true;
  StubInfo info;
  if (!InspectStub(stub, info, error)) return false;
  // The runtime's uninstaller of an installer with its data in the image
  // is the stub (WriteInstaller checks this of every build).
  MemorySource image(stub.data(), stub.size());
  std::unique_ptr<FileSource> signedFile;
  const std::string name = WorkName(std::string(s.uninstallerFileName.CStr()), "uninstall.exe");
  if (!SignImage(o, work, name, "uninstaller", image, signedFile, error)) return false;

  const uint32_t pe = info.peHeaderOffset;
  String patch;
  char* bytes = patch.TrySetLength((int32_t)kSignedHeaderBytes);
  project.uninstallerTail.resize((size_t)(signedFile->Size() - stub.size()));
  if (!bytes || !signedFile->ReadAt(pe + kPeChecksumField, bytes, kSignedHeaderBytes) ||
      !signedFile->ReadAt(stub.size(), project.uninstallerTail.data(), project.uninstallerTail.size())) {
    error = "the signed uninstaller cannot be read";
    return false;
  }
  s.patchOffset = (int32_t)(pe + kPeChecksumField);
  s.patchBytes = patch;
  return true;
}

bool SignInstaller(const SigningOptions& o, OutputSet& out, int index, const std::string& shownName,
                   WrittenInstaller& written, PrivateDirectory& work, std::string& error) {
  if (!o.Enabled()) return true;
  struct stat st;
  if (fstat(out.Fd(index), &st) != 0) {
    error = "cannot read back the installer just written";
    return false;
  }
  const uint64_t size = (uint64_t)st.st_size;
  FileSource installer(out.Fd(index), size, false);
  String before;
  if (DeriveUninstaller(installer, written.contents, before) != kArchiveOk) {
    error = "cannot read back the installer just written";
    return false;
  }
  std::unique_ptr<FileSource> signedFile;
  const std::string name = WorkName(fs::path(shownName).filename().string(), "setup.exe");
  if (!SignImage(o, work, name, "installer", installer, signedFile, error)) return false;

  // The signature goes into the output: the table appended, the two header
  // fields set.
  uint32_t pe = 0;
  unsigned char two[2];
  if (!installer.ReadAt(0x3C, two, 2)) return false;
  pe = LoadLe16(two);
  Bytes appended((size_t)(signedFile->Size() - size));
  unsigned char checksum[4], directory[8];
  if (!signedFile->ReadAt(size, appended.data(), appended.size()) ||
      !signedFile->ReadAt(pe + kPeChecksumField, checksum, sizeof checksum) ||
      !signedFile->ReadAt(pe + kPeSecurityDirectoryField, directory, sizeof directory)) {
    error = "the signed installer cannot be read";
    return false;
  }
  if (!out.Write(index, appended.data(), appended.size(), error) ||
      !out.WriteAt(index, pe + kPeChecksumField, checksum, sizeof checksum, error) ||
      !out.WriteAt(index, pe + kPeSecurityDirectoryField, directory, sizeof directory, error))
    return false;

  // Read back as a user's machine will: the signature holds over the
  // output, and the runtime's uninstaller is what it was before signing.
  FileSource result(out.Fd(index), size + appended.size(), false);
  const SignatureCheck check = CheckSignature(result);
  if (check.state != SignatureCheck::State::kValid) {
    error = "internal: the signed installer's signature does not hold: " + check.problem;
    return false;
  }
  // The PE checksum is the one header field the derivation takes from the
  // signed installer as it is: an uninstaller signed too gets its own back
  // from the patch; an unsigned one keeps the installer's (Windows checks no
  // program's checksum).
  String after;
  if (DeriveUninstaller(result, written.contents, after) != kArchiveOk || after.Length() != before.Length()) {
    error = "the signed installer would give another uninstaller than the one built (the signer padded the "
            "installer?); nothing written";
    return false;
  }
  const int32_t field = (int32_t)(pe + kPeChecksumField);
  if (field + 4 <= before.Length()) memcpy(before.Buffer() + field, after.CStr() + field, 4);
  if (memcmp(after.CStr(), before.CStr(), (size_t)before.Length()) != 0) {
    error = "the signed installer would give another uninstaller than the one built; nothing written";
    return false;
  }
  written.installerSize = result.Size();
  MemorySource uninstaller(reinterpret_cast<const unsigned char*>(after.CStr()), (size_t)after.Length());
  const SignatureCheck uninstallerCheck = CheckSignature(uninstaller);
  if (uninstallerCheck.state == SignatureCheck::State::kInvalid) {
    error = "internal: the uninstaller's signature does not hold in the installer: " + uninstallerCheck.problem;
    return false;
  }
  return true;
}
