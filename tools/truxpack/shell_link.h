// Shell links (.lnk files) read without Windows: where a shortcut points,
// with what arguments, from which working directory, with which icon.
//
// The layout is the shell link binary format: a 76-byte header (size 0x4C,
// the shell link class identifier, flags saying which parts follow, the icon
// index), an optional item list, an optional link information block whose
// local base path is the target as the ANSI program set it, then counted
// strings (description, relative path, working directory, arguments, icon
// location), in UTF-16 or ANSI as a flag says, then extra data blocks, of
// which the environment-variable block also names the target.
//
// Every field is checked against the bytes present before it is read; a
// file that ends early or claims sizes it does not have is a problem, never
// a read outside the buffer.
#pragma once
#include <stdint.h>

#include <string>

struct ShellLink {
  std::string target;            // UTF-8; ANSI texts are taken as Windows-1252
  std::string arguments;
  std::string workingDirectory;
  std::string iconLocation;
  int32_t iconIndex = 0;
  std::string description;
};

// Reads a link from its bytes. Returns false with problem set when the
// bytes are not a shell link or are cut short. A link whose target is only
// an item list (no path) is read, with an empty target.
bool ReadShellLink(const std::string& bytes, ShellLink& link, std::string& problem);
