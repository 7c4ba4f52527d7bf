// The command line: atoms, the option rules and the usage error.
//
// The whole command line is checked before any file is opened, so a bad
// option never leaves anything behind: it ends in UsageError.
#pragma once
#include "core/string.h"
#include "runtime/run_state.h"

constexpr int kMaxCommandLineAtoms = 19;  // atoms after the 19th are ignored

// Removes and returns the next atom of rest. Leading blanks, CR, LF and tabs
// are skipped; an atom ends at the next unquoted blank, CR, LF or tab (which
// is consumed). A double-quoted section (doubled quotes inside standing for
// one, unterminated sections running to the end) stays in the atom with its
// enclosing quotes.
String NextCommandLineAtom(String& rest);

// The command line after the program's name and the blanks that follow it, as
// the usual start-up code hands it to WinMain: a double quote toggles quoting,
// and outside quotes every char not above a blank ends the name (char is
// signed, so bytes from 0x80 up end it too, as they do there).
char* CommandLineTail(char* commandLine);

// Parses text into options; a malformed atom ends in UsageError.
void ParseCommandLine(const char* text, CommandLineOptions& options);

// The fatal usage message: message, then the usage text naming the running
// program's file name. Does not return.
[[noreturn]] void UsageError(const char* message);
