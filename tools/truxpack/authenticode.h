// Authenticode signatures of PE images: reading and checking the one a file
// carries, and checking that a signing tool changed nothing but what
// signing changes.
//
// A signed image is the unsigned one with three changes: the PE checksum,
// the security directory entry (data directory 4), and a certificate table
// appended at the end (after at most 7 zero bytes that align it to 8). The
// table holds a WIN_CERTIFICATE whose PKCS#7 SignedData carries the digest
// of every file byte but those three (SpcIndirectDataContent), signed by the
// publisher's key over its authenticated attributes.
//
// Checks here decide whether a signature belongs to the file and was made by
// the certificate it names. Whether that certificate is trusted (chains to a
// root the machine trusts, is not revoked) is for Windows to decide; the
// certificate's names and dates are reported for people to judge.
#pragma once
#include <stdint.h>

#include <string>

#include "core/string.h"
#include "tools/truxpack/file_io.h"
#include "tools/truxpack/installer_reader.h"

struct SignatureCheck {
  enum class State { kNone, kValid, kInvalid };
  State state = State::kNone;
  std::string problem;    // kInvalid: why, in a few words
  std::string hash;       // the digest algorithm, "sha256"
  std::string signer;     // the signing certificate's subject (RFC 2253)
  std::string issuer;     // and its issuer
  std::string notBefore;  // its validity, "YYYY-MM-DD"
  std::string notAfter;
  bool timestamped = false;  // a timestamp is attached (it is not checked)
  uint32_t tableOffset = 0;
  uint32_t tableSize = 0;
};

// "valid", "invalid" or "none".
const char* SignatureStateName(SignatureCheck::State state);

// The signature of the PE32 image in file, checked against the file's bytes.
// Hostile input is a result (kInvalid with a reason), never a crash; at most
// the certificate table (limited to 16 MiB) is held in memory.
SignatureCheck CheckSignature(ByteSource& file);

// Whether signedImage is unsignedImage with only what signing changes: the
// PE checksum and the security directory entry, then appended bytes (zeros
// up to the 8-byte boundary, then the certificate table the entry names,
// which ends the file). False with a reason otherwise.
bool SignatureOnlyAdded(ByteSource& unsignedImage, ByteSource& signedImage, std::string& why);

// The signatures of an installer that ReadInstaller accepted: its own, and
// that of the uninstaller the runtime will derive from it.
struct InstallerSignatures {
  SignatureCheck installer;
  bool uninstallerWritten = false;  // flags.uninstaller: the runtime writes one
  SignatureCheck uninstaller;
  std::string uninstallerUnchecked;  // why the uninstaller was not derived, when it was not
};

// Checks both. The uninstaller is derived (into uninstaller, when given)
// only when it takes at most maxSize bytes and the installer has no more
// after its archive section than two certificate tables (an installer with
// data outside its image carries that data into its uninstaller, and cannot
// be signed: see docs/truxpack.md).
InstallerSignatures CheckInstallerSignatures(ByteSource& file, const InstallerContents& contents, uint64_t maxSize,
                                             String* uninstaller = nullptr);
