// The uninstall data file "Uninstall.DAT": the one definition of its text.
//
// Layout (8-bit text, CR LF breaks, no header or checksum):
//   the uninstall list, exactly as accumulated (one line per file, "~" +
//   directory, "!" + class key);
//   "\r\n\r\n[Strings]\r\n", then for each number of kUninstallMessageSet
//   "~N\r\n" + the message text + "\r\n";
//   only when the association log is not empty: "\r\n\r\n[Associations]\r\n"
//   and the log ("extension~!~file type~!~verb\r\n" per association).
//
// The builder and the parser are portable; the file helpers at the end are
// Windows only. The parser takes any bytes: it never reads outside the text,
// its work is linear in the text's length, and what it keeps is bounded by
// the text (at most 500 association records and messages 1..1000).
#pragma once
#include <stdint.h>

#include "core/containers.h"
#include "core/string.h"

// The messages the uninstaller needs, in the order they are written.
constexpr int32_t kUninstallMessageCount = 20;
extern const int32_t kUninstallMessageSet[kUninstallMessageCount];

// Messages read back are numbered 1..kMaxUninstallMessage.
constexpr int32_t kMaxUninstallMessage = 1000;
// At most this many lines of each of the two sections are looked at.
constexpr int32_t kMaxUninstallSectionLines = 500;

constexpr char kUninstallDataFileName[] = "Uninstall.DAT";

// Message n in the installation's language (never null; "" for none), read
// from context.
using UninstallMessageSource = const char* (*)(void* context, int32_t n);

// The whole file text.
void BuildUninstallData(String& out, const String& uninstallList, UninstallMessageSource messages, void* context,
                        const String& associationLog);

struct UninstallAssociation {
  String extension;
  String fileType;
  String verb;
};

struct UninstallDataContents {
  Array<String> bodyLines;                    // non-empty lines before "[Strings]"
  Array<UninstallAssociation> associations;   // complete records only
  Array<String> messages;                     // index N = message N; empty when absent
  // Message n read back, or "" (also for n outside 1..1000).
  const char* Message(int32_t n) const;
};

// Splits a file text into its three parts. Section names are found ignoring
// letter case; a file without "[Strings]" is all body.
void ParseUninstallData(const String& text, UninstallDataContents& out);

#if defined(_WIN32)
// Reads path (a missing or unreadable file reads as empty) and parses it.
void ReadUninstallData(const char* path, UninstallDataContents& out);
#endif

// The Uninstall key's VersionMajor and VersionMinor of a version text. Only
// a text with a '.' has them (false otherwise): major is the integer read at
// the text's first digit, sign or point, minor the integer right after the
// first '.' (0 without digits there). "2.10" gives 2 and 10.
bool VersionNumbers(const String& version, uint32_t& major, uint32_t& minor);
