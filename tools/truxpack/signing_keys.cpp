#include "tools/truxpack/signing_keys.h"

#include <string.h>

#include "tools/truxpack/project_keys.h"

namespace {

bool IsEnvironmentName(const std::string& name) {
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
  for (char c : name)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return true;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.compare(0, strlen(prefix), prefix) == 0; }

}  // namespace

// A function's own table: the build command's option list is made from it
// while the program's static objects are set up.
const std::vector<SigningKey>& SigningKeys() {
  static const std::vector<SigningKey> kSigningKeys = {
      {"certificate", "sign-certificate", "FILE", "PEM certificate chain, the signer's certificate first (with key)", "file"},
      {"key", "sign-key", "FILE", "PEM private key (with certificate)", "file"},
      {"pkcs12", "sign-pkcs12", "FILE", "PKCS#12 file holding the key and its chain (instead of certificate and key)", "file"},
      {"password_file", "sign-password-file", "FILE", "file holding the key's password", "file"},
      {"password_env", "sign-password-env", "NAME", "environment variable holding the key's password", nullptr},
      {"command", "sign-command", "TEMPLATE", "command that signs {file} in place (hardware or cloud keys)", nullptr},
      {"hash", "sign-hash", "sha1|sha256|sha384|sha512", "digest of the signature with key files (default sha256)", nullptr},
      {"timestamp_url", "sign-timestamp-url", "URL", "RFC 3161 timestamp server, with key files", nullptr},
      {"uninstaller", "sign-uninstaller", "true|false", "sign the uninstaller too (default true)", nullptr},
  };
  return kSigningKeys;
}

std::string SigningValueProblem(const std::string& key, const std::string& value) {
  if (key == "password_env" && !IsEnvironmentName(value))
    return "expected the name of an environment variable (letters, digits and _)";
  if (key == "command" && value.find("{file}") == std::string::npos) return "must name the file to sign as {file}";
  if (key == "hash") {
    // The digests are the key table's names for signing.hash (its schema too).
    const ProjectKey* spec = ProjectKeys().Find("signing", "hash");
    bool known = false;
    for (const Choice& c : *spec->choices) known = known || value == c.name;
    if (!known) return "expected " + ChoiceNames(*spec, " or ");
  }
  if (key == "timestamp_url" &&
      (!(StartsWith(value, "http://") || StartsWith(value, "https://")) || value.find_first_of(" \t\r\n") != std::string::npos))
    return "expected an http:// or https:// address";
  return std::string();
}
