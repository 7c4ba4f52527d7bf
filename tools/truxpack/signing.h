// Signing a build: the options' choices checked together, and the two
// signatures a build makes (the keys and their values: signing_keys.h).
//
// The uninstaller is signed first. Its image is what the runtime derives
// from an installer whose data lies in its image: the stub, exactly (the
// build checks this for every installer). Signing adds a PE checksum, a
// security directory entry and a certificate table at its end; the 72
// header bytes from the checksum to the end of the security directory
// entry travel as the archive's uninstaller patch (settings field 44) and
// the table, with its alignment padding, as the bytes after the archive
// section. The runtime's derivation leaves out only the installer's own
// certificate table, so it writes the signed image back byte for byte.
// The installer is then signed over all of that.
//
// Keys in files are signed with osslsigncode (which also timestamps over
// RFC 3161); a `command` template signs with anything else (a hardware
// module, a cloud signing service). Either way truxpack checks the result:
// only the checksum, the security directory entry and the appended table may
// have changed, the signature must check against the file, and the
// uninstaller derived from the signed installer must be the signed image.
#pragma once
#include <string>
#include <vector>

#include "tools/truxpack/file_io.h"
#include "tools/truxpack/installer_writer.h"
#include "tools/truxpack/project.h"

// Why options cannot sign a build of settings s (a missing or conflicting
// choice, a setting signing cannot go with); empty when they can or when
// signing is off.
std::string SigningProblem(const SigningOptions& options, const ArchiveSettings& s);

// Signs the uninstaller image (the stub) when the options and the settings
// ask for it: sets the project's uninstaller patch and uninstallerTail.
// work is the private directory the signer works in. False with a reason.
bool SignUninstaller(const SigningOptions& options, Project& project, const Bytes& stub, PrivateDirectory& work,
                     std::string& error);

// Signs the installer written to output number index of out (named
// shownName), in place: the certificate table is appended and the two
// header fields are set. Then checks the signed installer: its signature
// holds, and the uninstaller derived from it is the image derived before
// (the signed uninstaller, when it was signed). False with a reason.
bool SignInstaller(const SigningOptions& options, OutputSet& out, int index, const std::string& shownName,
                   WrittenInstaller& written, PrivateDirectory& work, std::string& error);
