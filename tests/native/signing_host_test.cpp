// Signed builds as a publisher makes them: the demo product signed with a
// certificate made for the test, checked with osslsigncode (an independent
// Authenticode implementation) on the installer and on the uninstaller the
// runtime will derive; the command form; every way a signer can fail; and
// the reports of `verify` and `list --json`.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

#include "archive/pe_image.h"
#include "tests/native/truxpack_test_support.h"
#include "tools/truxpack/authenticode.h"
#include "tools/truxpack/file_io.h"

#ifdef TRUXPACK_BINARY

namespace fs = std::filesystem;
using namespace trux_test;

namespace {

const fs::path kDemo = fs::path(__FILE__).parent_path().parent_path().parent_path() / "examples" / "demo" / "demo.toml";

int Shell(const fs::path& cwd, const std::string& command) {
  return system(("cd '" + cwd.string() + "' && " + command).c_str());
}

// A scratch directory with the signable stub, a throwaway code-signing
// certificate (cert.pem, key.pem; enc-key.pem is the same key encrypted with
// the password "trux secret") and the demo project.
struct SignedWorkspace : TempDir {
  SignedWorkspace() {
    Bytes stub = MakeSignableStub();
    Write("stub.exe", std::string(stub.begin(), stub.end()));
    EXPECT_EQ(0, Shell(path, "openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 "
                             "-subj '/CN=Trux Test Publisher' -addext extendedKeyUsage=codeSigning >/dev/null 2>&1"))
        << "openssl is needed (scripts/install-deps installs it)";
    EXPECT_EQ(0, Shell(path, "openssl pkey -in key.pem -aes256 -passout 'pass:trux secret' -out enc-key.pem"));
    EXPECT_EQ(0, Shell(path, "command -v osslsigncode >/dev/null"))
        << "osslsigncode is needed (scripts/install-deps installs it)";
    fs::copy(kDemo.parent_path(), path / "demo", fs::copy_options::recursive);
  }
  Outcome Build(const std::string& output, std::vector<std::string> more = {}, std::vector<std::string> env = {},
                const std::string& project = "demo/demo.toml") const {
    std::vector<std::string> args = {"build", "-q", project, "-o", output, "--stub", "stub.exe"};
    args.insert(args.end(), more.begin(), more.end());
    return Truxpack(path, args, env);
  }
  Outcome BuildSigned(const std::string& output, std::vector<std::string> more = {}) const {
    more.insert(more.begin(), {"--sign-certificate", "cert.pem", "--sign-key", "key.pem"});
    return Build(output, more);
  }
  // osslsigncode's verdict on a file, the certificate taken as trusted.
  bool OsslVerifies(const std::string& file) const {
    return Shell(path, "osslsigncode verify -in '" + file + "' -CAfile cert.pem >/dev/null 2>&1") == 0;
  }
  // The uninstaller truxpack derives from installer, written to file.
  Outcome Derive(const std::string& installer, const std::string& file) const {
    return Truxpack(path, {"verify", "-q", installer, "--write-uninstaller", file});
  }
  Bytes Read(const std::string& file) const {
    std::string text = Slurp(path / file);
    return Bytes(text.begin(), text.end());
  }
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> left;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(path))
      if (e.path().filename().string().rfind(".trux-", 0) == 0) left.push_back(e.path().string());
    return left;
  }
};

SignatureCheck Check(const Bytes& image) {
  MemorySource source(image.data(), image.size());
  return CheckSignature(source);
}

}  // namespace

TEST(SigningTest, SignedDemoAndTheUninstallerTheRuntimeDerivesVerify) {
  SignedWorkspace w;
  Outcome built = w.BuildSigned("setup.exe");
  ASSERT_EQ(0, built.code) << built.err;
  EXPECT_TRUE(w.OsslVerifies("setup.exe"));
  ASSERT_EQ(0, w.Derive("setup.exe", "uninstaller.exe").code);
  EXPECT_TRUE(w.OsslVerifies("uninstaller.exe"));

  // The uninstaller is the stub with a signature added, nothing else.
  Bytes stub = w.Read("stub.exe"), uninstaller = w.Read("uninstaller.exe");
  MemorySource before(stub.data(), stub.size()), after(uninstaller.data(), uninstaller.size());
  std::string why;
  EXPECT_TRUE(SignatureOnlyAdded(before, after, why)) << why;
  // The installer's own table is not in it: its table starts where the stub ends.
  SignatureCheck own = Check(uninstaller);
  EXPECT_EQ(SignatureCheck::State::kValid, own.state) << own.problem;
  EXPECT_EQ(stub.size(), own.tableOffset);
  EXPECT_EQ("sha256", own.hash);
  EXPECT_EQ("CN=Trux Test Publisher", own.signer);
  SignatureCheck installer = Check(w.Read("setup.exe"));
  EXPECT_EQ(SignatureCheck::State::kValid, installer.state) << installer.problem;
  EXPECT_GT(installer.tableOffset, stub.size() + own.tableSize);
  EXPECT_TRUE(w.Leftovers().empty()) << w.Leftovers()[0];
  // An installer named as its uninstaller: the signer sees the same name twice.
  ASSERT_EQ(0, w.BuildSigned("Uninstall Trux Demo.exe").code);
  EXPECT_TRUE(w.OsslVerifies("Uninstall Trux Demo.exe"));

  Outcome verify = Truxpack(w.path, {"verify", "setup.exe"});
  ASSERT_EQ(0, verify.code) << verify.err;
  EXPECT_NE(std::string::npos, verify.out.find("installer: valid, sha256, signed by CN=Trux Test Publisher")) << verify.out;
  EXPECT_NE(std::string::npos, verify.out.find("uninstaller: valid, sha256, signed by CN=Trux Test Publisher")) << verify.out;
  Outcome json = Truxpack(w.path, {"list", "--json", "setup.exe"});
  ASSERT_EQ(0, json.code) << json.err;
  w.Write("list.json", json.out);
  EXPECT_EQ(0, Shell(w.path, "python3 -c 'import json; s = json.load(open(\"list.json\"))[\"signatures\"]; "
                             "assert s[\"installer\"][\"state\"] == \"valid\" and s[\"uninstaller\"][\"state\"] == \"valid\"; "
                             "assert s[\"uninstaller\"][\"signer\"] == \"CN=Trux Test Publisher\"; "
                             "assert s[\"installer\"][\"hash\"] == \"sha256\"'"))
      << json.out;
}

TEST(SigningTest, UnsignedBuildsGiveTheStubAsUninstallerAndReportNoSignature) {
  SignedWorkspace w;
  ASSERT_EQ(0, w.Build("setup.exe").code);
  ASSERT_EQ(0, w.Derive("setup.exe", "uninstaller.exe").code);
  EXPECT_EQ(w.Read("stub.exe"), w.Read("uninstaller.exe"));
  Outcome verify = Truxpack(w.path, {"verify", "setup.exe"});
  EXPECT_EQ(0, verify.code);
  EXPECT_NE(std::string::npos, verify.out.find("installer: none")) << verify.out;
  EXPECT_NE(std::string::npos, verify.out.find("uninstaller: none")) << verify.out;

  // --no-sign wins over a project's [signing] table (the same project file:
  // its name is the volume base name).
  std::string project = Slurp(w.path / "demo" / "demo.toml");
  w.Write("demo/demo.toml", project + "\n[signing]\ncertificate = \"../cert.pem\"\nkey = \"../key.pem\"\n");
  ASSERT_EQ(0, w.Build("nosign.exe", {"--no-sign"}).code);
  EXPECT_EQ(w.Read("setup.exe"), w.Read("nosign.exe"));
  ASSERT_EQ(0, w.Build("table.exe").code);
  EXPECT_TRUE(w.OsslVerifies("table.exe"));
}

TEST(SigningTest, KeyFilesPasswordsAndHashes) {
  SignedWorkspace w;
  w.Write("password.txt", "trux secret\n");
  std::string project = Slurp(w.path / "demo" / "demo.toml");
  struct Case {
    const char* what;
    std::string signing;  // the [signing] table's keys
    std::vector<std::string> options;
    std::vector<std::string> env;
    std::string hash;
  } cases[] = {
      {"certificate and key", "certificate = \"../cert.pem\"\nkey = \"../key.pem\"\n", {}, {}, "sha256"},
      {"sha512", "certificate = \"../cert.pem\"\nkey = \"../key.pem\"\nhash = \"sha512\"\n", {}, {}, "sha512"},
      {"password file", "certificate = \"../cert.pem\"\nkey = \"../enc-key.pem\"\npassword_file = \"../password.txt\"\n",
       {}, {}, "sha256"},
      {"password in the environment",
       "certificate = \"../cert.pem\"\nkey = \"../enc-key.pem\"\npassword_env = \"TRUX_TEST_PASSWORD\"\n", {},
       {"TRUX_TEST_PASSWORD=trux secret"}, "sha256"},
      {"options override the table", "command = \"false {file}\"\n",
       {"--sign-certificate", "cert.pem", "--sign-key", "key.pem", "--sign-hash", "sha384"}, {}, "sha384"},
  };
  ASSERT_EQ(0, Shell(w.path, "openssl pkcs12 -export -in cert.pem -inkey key.pem -passout 'pass:trux secret' -out k.p12"));
  for (const Case& c : cases) {
    w.Write("demo/signed.toml", project + "\n[signing]\n" + c.signing);
    Outcome r = w.Build("setup.exe", c.options, c.env, "demo/signed.toml");
    ASSERT_EQ(0, r.code) << c.what << ": " << r.err;
    EXPECT_TRUE(w.OsslVerifies("setup.exe")) << c.what;
    ASSERT_EQ(0, w.Derive("setup.exe", "uninstaller.exe").code) << c.what;
    EXPECT_TRUE(w.OsslVerifies("uninstaller.exe")) << c.what;
    EXPECT_EQ(c.hash, Check(w.Read("setup.exe")).hash) << c.what;
    EXPECT_EQ(c.hash, Check(w.Read("uninstaller.exe")).hash) << c.what;
  }
  // A PKCS#12 file, its password in the environment.
  w.Write("demo/signed.toml", project + "\n[signing]\npkcs12 = \"../k.p12\"\npassword_env = \"P12\"\n");
  Outcome r = w.Build("setup.exe", {}, {"P12=trux secret"}, "demo/signed.toml");
  ASSERT_EQ(0, r.code) << r.err;
  EXPECT_TRUE(w.OsslVerifies("setup.exe"));
}

TEST(SigningTest, TheCommandSignsTheUninstallerThenTheInstaller) {
  SignedWorkspace w;
  // A signer of the jsign kind: it signs the file it is given in place.
  w.Write("sign.sh",
          "#!/bin/sh\n"
          "echo \"$(basename \"$1\")\" >>\"$LOG\"\n"
          "osslsigncode sign -certs \"$CERTS\" -key \"$KEY\" -in \"$1\" -out \"$1.signed\" >/dev/null && mv \"$1.signed\" \"$1\"\n");
  const std::string env = "LOG=" + (w.path / "log.txt").string();
  const std::vector<std::string> keys = {"CERTS=" + (w.path / "cert.pem").string(), "KEY=" + (w.path / "key.pem").string(),
                                         env};
  Outcome r = w.Build("setup.exe", {"--sign-command", "sh sign.sh {file}"}, keys);
  ASSERT_EQ(0, r.code) << r.err;
  EXPECT_EQ("Uninstall Trux Demo.exe\nsetup.exe\n", Slurp(w.path / "log.txt"));
  EXPECT_TRUE(w.OsslVerifies("setup.exe"));
  ASSERT_EQ(0, w.Derive("setup.exe", "uninstaller.exe").code);
  EXPECT_TRUE(w.OsslVerifies("uninstaller.exe"));

  // In the project, the command runs in the project's directory.
  fs::copy_file(w.path / "sign.sh", w.path / "demo" / "sign.sh");
  std::string project = Slurp(w.path / "demo" / "demo.toml");
  w.Write("demo/signed.toml", project + "\n[signing]\ncommand = \"sh sign.sh {file}\"\n");
  r = w.Build("table.exe", {}, keys, "demo/signed.toml");
  ASSERT_EQ(0, r.code) << r.err;
  EXPECT_TRUE(w.OsslVerifies("table.exe"));
}

TEST(SigningTest, AFailingOrMisbehavingSignerWritesNothing) {
  SignedWorkspace w;
  const std::string sign = "osslsigncode sign -certs cert.pem -key key.pem -in \"$1\" -out \"$1.s\" >/dev/null && ";
  struct Case {
    const char* what;
    std::string script;  // run as sh bad.sh {file}, from the workspace
    std::string message;
  } cases[] = {
      {"the command fails", "exit 3\n", "signing.command (sh bad.sh {file}) failed (exit code 3)"},
      {"the command signs nothing", "true\n", "does not end with the certificate table"},
      {"a byte of the image changes", sign + "mv \"$1.s\" \"$1\" && printf X | dd of=\"$1\" bs=1 seek=1100 conv=notrunc 2>/dev/null\n",
       "changed byte 1100"},
      {"bytes follow the table", sign + "mv \"$1.s\" \"$1\" && printf JUNK >>\"$1\"\n", "does not end with the certificate table"},
      {"the installer alone fails", "case \"$1\" in *setup.exe) exit 9;; esac\n" + sign + "mv \"$1.s\" \"$1\"\n",
       "failed (exit code 9)"},
      {"the signature does not match the file",
       sign + "mv \"$1.s\" \"$1\" && printf 'X' | dd of=\"$1\" bs=1 seek=$(($(stat -c %s \"$1\") - 300)) conv=notrunc 2>/dev/null\n",
       "signature does not hold"},
  };
  w.Write("setup.exe", "the previous installer");
  for (const Case& c : cases) {
    w.Write("bad.sh", "#!/bin/sh\n" + c.script);
    Outcome r = w.Build("setup.exe", {"--sign-command", "sh bad.sh {file}"});
    EXPECT_EQ(1, r.code) << c.what;
    EXPECT_NE(std::string::npos, r.err.find(c.message)) << c.what << ": " << r.err;
    EXPECT_EQ("the previous installer", Slurp(w.path / "setup.exe")) << c.what;
    EXPECT_TRUE(w.Leftovers().empty()) << c.what << ": " << w.Leftovers()[0];
  }
}

TEST(SigningTest, SettingsSigningCannotGoWith) {
  SignedWorkspace w;
  const std::string project = Slurp(w.path / "demo" / "demo.toml");
  w.Write("patch.bin", "PATCH");
  const std::string keys = "[signing]\ncertificate = \"../cert.pem\"\nkey = \"../key.pem\"\n";
  const std::string patch = "[uninstall]\npatch_offset = 64\npatch_file = \"../patch.bin\"";
  struct Case {
    const char* what;
    std::string uninstall;  // replaces the project's "[uninstall]" line when not empty
    std::string extra;      // appended to the project
    std::vector<std::string> options;
    int code;
    std::string message;
  } cases[] = {
      {"certificate without key", "", "[signing]\ncertificate = \"../cert.pem\"\n", {}, 1,
       "signing.certificate: needs signing.key"},
      {"pkcs12 with key", "", "[signing]\npkcs12 = \"../cert.pem\"\nkey = \"../key.pem\"\n", {}, 1,
       "signing.pkcs12: holds key and certificate"},
      {"command and key files", "", keys + "command = \"x {file}\"\n", {}, 1, "signing.command: signs on its own"},
      {"a command with a hash", "", "[signing]\ncommand = \"x {file}\"\nhash = \"sha1\"\n", {}, 1,
       "are for key files"},
      {"a command without {file}", "", "[signing]\ncommand = \"jsign setup.exe\"\n", {}, 1,
       "signing.command: must name the file to sign as {file}"},
      {"an unknown hash", "", "[signing]\nhash = \"md5\"\n", {}, 1, "signing.hash: expected sha1, sha256"},
      {"a missing key file", "", "[signing]\nkey = \"../nokey.pem\"\n", {}, 1, "signing.key: cannot open"},
      {"a password without a key", "", "[signing]\npassword_env = \"X\"\n", {}, 1, "signing: no key"},
      {"an unknown key", "", "[signing]\ncertificat = \"../cert.pem\"\n", {}, 1, "did you mean certificate?"},
      {"a bad timestamp address", "", "[signing]\ntimestamp_url = \"ftp://x\"\n", {}, 1,
       "an http:// or https:// address"},
      {"data outside the image", "[data]\noutside_image = true\n\n[uninstall]", keys, {}, 1,
       "data.outside_image: cannot be signed"},
      {"an own uninstaller patch", patch, keys, {}, 1, "cannot also sign the uninstaller"},
      {"a bad option value", "", "", {"--sign-hash", "md4"}, 2, "--sign-hash: expected sha1, sha256"},
      {"a bad switch value", "", "", {"--sign-uninstaller", "yes"}, 2, "--sign-uninstaller: expected true or false"},
  };
  for (const Case& c : cases) {
    std::string text = project;
    if (!c.uninstall.empty()) text.replace(text.find("[uninstall]"), 11, c.uninstall);
    w.Write("demo/signed.toml", text + "\n" + c.extra);
    Outcome r = w.Build("out.exe", c.options, {}, "demo/signed.toml");
    EXPECT_EQ(c.code, r.code) << c.what << ": " << r.err;
    EXPECT_NE(std::string::npos, r.err.find(c.message)) << c.what << ": " << r.err;
    EXPECT_FALSE(fs::exists(w.path / "out.exe")) << c.what;
  }

  // With signing.uninstaller = false the installer is signed over the
  // project's own patch, and the uninstaller stays the patched stub, but
  // for the PE checksum, which it takes from the installer like every other
  // header byte.
  std::string text = project;
  text.replace(text.find("[uninstall]"), 11, patch);
  w.Write("demo/signed.toml", text + "\n" + keys + "uninstaller = false\n");
  Outcome r = w.Build("out.exe", {}, {}, "demo/signed.toml");
  ASSERT_EQ(0, r.code) << r.err;
  EXPECT_TRUE(w.OsslVerifies("out.exe"));
  ASSERT_EQ(0, w.Derive("out.exe", "uninstaller.exe").code);
  Bytes expected = w.Read("stub.exe");
  memcpy(&expected[64], "PATCH", 5);
  memcpy(&expected[kPe + kPeChecksumField], &w.Read("out.exe")[kPe + kPeChecksumField], 4);
  EXPECT_EQ(expected, w.Read("uninstaller.exe"));
  EXPECT_EQ(SignatureCheck::State::kNone, Check(w.Read("uninstaller.exe")).state);
}

// Key files are read by the signer and never packed: outside the project
// they draw no warning, --confine leaves them alone, and no output may
// replace one, whether the project or an option names it.
TEST(SigningTest, KeyFilesOutsideTheProjectAreInputsButNotPacked) {
  SignedWorkspace w;
  const std::string project = Slurp(w.path / "demo" / "demo.toml");
  w.Write("demo/signed.toml", project + "\n[signing]\ncertificate = \"../cert.pem\"\nkey = \"../key.pem\"\n");
  Outcome r = w.Build("setup.exe", {"--confine"}, {}, "demo/signed.toml");
  ASSERT_EQ(0, r.code) << r.err;
  EXPECT_EQ(std::string::npos, r.err.find("outside")) << r.err;
  EXPECT_TRUE(w.OsslVerifies("setup.exe"));

  const std::string key = Slurp(w.path / "key.pem"), cert = Slurp(w.path / "cert.pem");
  struct Case {
    const char* what;
    std::string project, output;
    std::vector<std::string> options;
  } cases[] = {
      {"the project's key", "demo/signed.toml", "key.pem", {}},
      {"the project's certificate", "demo/signed.toml", "cert.pem", {}},
      {"an option's key", "demo/demo.toml", "key.pem", {"--sign-certificate", "cert.pem", "--sign-key", "key.pem"}},
      {"an option's certificate", "demo/demo.toml", "cert.pem",
       {"--sign-certificate", "cert.pem", "--sign-key", "key.pem"}},
  };
  for (const Case& c : cases) {
    Outcome o = w.Build(c.output, c.options, {}, c.project);
    EXPECT_EQ(1, o.code) << c.what << ": " << o.err;
    EXPECT_EQ(key, Slurp(w.path / "key.pem")) << c.what;
    EXPECT_EQ(cert, Slurp(w.path / "cert.pem")) << c.what;
  }
  EXPECT_TRUE(w.Leftovers().empty()) << w.Leftovers()[0];
}

TEST(SigningTest, VerifyFailsOnASignatureThatDoesNotHold) {
  SignedWorkspace w;
  ASSERT_EQ(0, w.BuildSigned("setup.exe").code);
  ASSERT_EQ(0, w.Derive("setup.exe", "u.exe").code);
  const Bytes good = w.Read("setup.exe");
  const SignatureCheck installer = Check(good);
  ASSERT_EQ(SignatureCheck::State::kValid, installer.state);
  // The uninstaller's table (with its padding) lies right before the
  // installer's own.
  const size_t carried = w.Read("u.exe").size() - w.Read("stub.exe").size();
  const size_t uninstallerTable = installer.tableOffset - carried;
  struct Case {
    const char* what;
    size_t at;
    std::string message;
  } cases[] = {
      {"a byte of the stub's headers", 0x50, "the installer's signature does not hold: the file's digest differs"},
      {"a byte of the uninstaller's table", uninstallerTable + carried - 20, "the installer's signature does not hold"},
      {"a byte of the installer's own signature", installer.tableOffset + installer.tableSize - 20,
       "the installer's signature does not hold"},
  };
  for (const Case& c : cases) {
    Bytes bad = good;
    ASSERT_LT(c.at, bad.size()) << c.what;
    bad[c.at] ^= 0x55;
    w.Write("bad.exe", std::string(bad.begin(), bad.end()));
    Outcome r = Truxpack(w.path, {"verify", "bad.exe"});
    EXPECT_EQ(1, r.code) << c.what;
    EXPECT_NE(std::string::npos, r.err.find(c.message)) << c.what << ": " << r.err;
    EXPECT_FALSE(w.OsslVerifies("bad.exe")) << c.what;
  }

  // The uninstaller's signature damaged and the installer signed again over
  // it: the installer's signature holds, the uninstaller's does not.
  Bytes bad = good;
  bad[uninstallerTable + carried - 20] ^= 0x55;
  w.Write("bad.exe", std::string(bad.begin(), bad.end()));
  ASSERT_EQ(0, Shell(w.path, "osslsigncode remove-signature -in bad.exe -out bare.exe >/dev/null 2>&1 && "
                             "osslsigncode sign -certs cert.pem -key key.pem -in bare.exe -out resigned.exe >/dev/null 2>&1"));
  EXPECT_TRUE(w.OsslVerifies("resigned.exe"));
  Outcome r = Truxpack(w.path, {"verify", "resigned.exe"});
  EXPECT_EQ(1, r.code);
  EXPECT_NE(std::string::npos, r.err.find("the uninstaller's signature does not hold")) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("installer: valid")) << r.out;
  // The uninstaller is still written out, for a closer look.
  EXPECT_EQ(1, w.Derive("resigned.exe", "u2.exe").code);
  EXPECT_FALSE(w.OsslVerifies("u2.exe"));
}

#endif  // TRUXPACK_BINARY
