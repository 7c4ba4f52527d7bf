// The command line: atoms, the option rules and the usage error.
//
// The whole command line is checked before any file is opened, so a bad
// option never leaves anything behind but the run log it names: it ends in
// UsageError.
#pragma once
#include "app/command_line_text.h"
#include "core/string.h"
#include "runtime/run_state.h"

constexpr int kMaxCommandLineAtoms = 19;  // atoms after the 19th are ignored

// Removes and returns the next atom of rest. Leading blanks, CR, LF and tabs
// are skipped; an atom ends at the next unquoted blank, CR, LF or tab (which
// is consumed). A double-quoted section (doubled quotes inside standing for
// one, unterminated sections running to the end) stays in the atom with its
// enclosing quotes.
String NextCommandLineAtom(String& rest);

// The command line after the program's name and the blanks that follow it,
// as WinMain receives it: a double quote toggles quoting, and outside quotes
// a blank or control character ends the name. Bytes from 0x80 up are part of
// the name (the usual start-up code compared them signed and cut an unquoted
// name at its first such letter).
char* CommandLineTail(char* commandLine);

// Parses text into options and returns the usage problem to report, ""
// for none: the first malformed atom, else "Product name required" for an
// uninstall without a name. The whole line is applied even after a
// malformed atom, so a /s or /l: anywhere on it governs how the problem is
// reported.
String ParseCommandLine(const char* text, CommandLineOptions& options);

// The fatal usage message of the run: message, then the usage text naming
// the running program's file name. Does not return.
[[noreturn]] void UsageError(Run& run, const char* message);
