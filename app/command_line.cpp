#include "app/command_line.h"

#include "core/format.h"
#include "core/path.h"
#include "core/win32/system_dirs.h"
#include "runtime/messages.h"

namespace {

const char kAtomBreaks[] = " \n\r\t";

bool IsAtomBreak(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Removes one enclosing pair of double quotes when present at both ends.
void StripEnclosingQuotes(String& value) { value.Unquote('"'); }

// Values of /r: and /b1: to /b3: were opened by the quote of their prefix:
// drop the closing quote and turn backquotes into double quotes.
void TakeQuotedCommand(String& value) {
  value.StripLastChar('"');
  value.ReplaceChar('`', '"');
}

bool StripBatchPrefix(String& atom, int& batch) {
  static const char* const kPrefixes[3] = {"B1:\"", "B2:\"", "B3:\""};
  for (int i = 0; i < 3; ++i) {
    if (atom.StripPrefix(kPrefixes[i])) {
      batch = i;
      return true;
    }
  }
  return false;
}

// Applies one atom whose switch character has been removed; returns the
// usage problem it makes, "" for none.
String ApplyAtom(String& atom, CommandLineOptions& options) {
  int batch = 0;
  if (atom.CompareNoCase("A") == 0) {
    options.automaticMode = true;
  } else if (atom.CompareNoCase("S") == 0) {
    options.silentMode = true;
    options.automaticMode = true;
  } else if (atom.StripPrefix("L:")) {
    options.logPath = atom;
    StripEnclosingQuotes(options.logPath);
    if (options.logPath.IsEmpty()) return String("Log file name required");
  } else if (atom.StripPrefix("D:")) {
    options.InstallDir = atom;
    StripEnclosingQuotes(options.InstallDir);
  } else if (atom.StripPrefix("N:")) {
    options.DisplayName = atom;
    StripEnclosingQuotes(options.DisplayName);
  } else if (atom.StripPrefix("U")) {
    options.uninstallMode = true;
    if (atom.StripFirstChar(':')) {
      options.uninstallName = atom;
      StripEnclosingQuotes(options.uninstallName);
    }
  } else if (atom.StripPrefix("R:\"")) {
    options.runAfterProgram = atom;
    TakeQuotedCommand(options.runAfterProgram);
  } else if (StripBatchPrefix(atom, batch)) {
    String& value = options.batchAdditions[batch];
    value = atom;
    TakeQuotedCommand(value);
    value.ReplaceAll("~~", "\r\n");
  } else if (!atom.IsEmpty()) {
    return String("Illegal command line atom:\n") + atom;
  }
  return String();
}

}  // namespace

char* CommandLineTail(char* commandLine) {
  // Bytes compare unsigned: a name's letters from 0x80 up (an accented
  // folder name in a code page) belong to the name.
  auto* p = reinterpret_cast<unsigned char*>(commandLine);
  bool quoted = false;
  while (*p > ' ' || (*p && quoted)) {
    if (*p == '"') quoted = !quoted;
    ++p;
  }
  while (*p && *p <= ' ') ++p;
  return reinterpret_cast<char*>(p);
}

String NextCommandLineAtom(String& rest) {
  rest.TrimLeft(kAtomBreaks);
  String atom;
  while (!rest.IsEmpty()) {
    if (rest.StartsWithChar('"')) {
      String section;
      rest.ExtractQuoted(section, '"', 0);
      atom.AppendChar('"');
      atom.Append(section);
      atom.AppendChar('"');
      continue;
    }
    char c = rest.CharAt(0);
    rest.DeleteFirst(1);
    if (IsAtomBreak(c)) break;
    atom.AppendChar(c);
  }
  return atom;
}

String ParseCommandLine(const char* text, CommandLineOptions& options) {
  String rest(text);
  String problem;
  for (int count = 1; !rest.IsEmpty() && count <= kMaxCommandLineAtoms; ++count) {
    String atom = NextCommandLineAtom(rest);
    if (atom.IsEmpty()) break;
    String found;
    if (!atom.StripFirstChar('/') && !atom.StripFirstChar('-'))
      found = String("Unexpected command line parameter:\n") + atom;
    else
      found = ApplyAtom(atom, options);
    if (problem.IsEmpty()) problem = found;
  }
  if (problem.IsEmpty() && options.uninstallMode && options.uninstallName.IsEmpty())
    problem = "Product name required";
  return problem;
}

void UsageError(Run& run, const char* message) {
  String program = FileNameOf(ModulePath().CStr());
  String text;
  Format(text,
      "%s\r\n\r\nUsage:\r\n%s [/a] [/s] [/b1:\"commands\"] [/b2:\"commands\"] [/b3:\"commands\"] [/d:\"dir\"] "
      "[/n:\"name\"] [/u:\"name\"] [/r:\"program\"] [/l:\"file\"]\r\n\r\n"
      "/a                  \tAutomatic mode.\r\n"
      "/s                  \tSilent mode: automatic, no windows, the outcome as exit code.\r\n"
      "/d:\"dir\"        \tOverride installation directory.\r\n"
      "/b1:\"commands\"\tAdd commands to the end of the Pre-Installation Batch.\r\n"
      "/b2:\"commands\"\tAdd commands to the end of the Post-Installation Batch.\r\n"
      "/b3:\"commands\"\tAdd commands to the end of the Installation-Exit Batch.\r\n"
      "/n:\"name\"\tOverride product name.\r\n"
      "/u:\"name\"\tUninstall product by name.\r\n"
      "/r:\"program\"\tRun the specified program after a successful installation.\r\n"
      "/l:\"file\"       \tAppend a log of the run to the file.",
      message, program.CStr());
  FatalMessageAs(run, text.CStr(), kRunBadCommandLine);
}
