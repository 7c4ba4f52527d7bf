// The texts of the batch and environment steps, apart from the system: the
// generated batch file and the PATH line of autoexec.bat. Portable, so the
// exact bytes can be tested anywhere.
#pragma once
#include <stdint.h>

#include "core/containers.h"
#include "core/string.h"

constexpr char kBatchFileName[] = "TRUXBAT.BAT";

// One "SET name=value" line of the batch file.
struct BatchVariable {
  String name;
  String value;
};

// True when the interpreter is the old one ("command.com"), which knows
// neither the quoted SET form nor escapes.
bool IsLegacyInterpreter(const char* interpreter);

// The value needs the quoted SET form: it holds a character the interpreter
// would otherwise take as syntax (& | < > ^) or as a variable reference (%).
bool NeedsQuotedSet(const String& value);

// Appends the SET line of one variable. An ordinary value gives
// "SET name=value\r\n". With quotedForm and a value NeedsQuotedSet names,
// the line is "SET \"name=value\"\r\n" with every '%' doubled, which the
// interpreter reads back as exactly name = value instead of running the
// rest of the line as commands.
void AppendSetLine(String& out, const BatchVariable& variable, bool quotedForm);

// The whole batch file: "@echo off", the SET lines in the given order, then
// the commands with every line break made CR LF. With removePauses the
// commands lose their PAUSE lines first (RemovePauseLines).
void BuildBatchFile(String& out, const Array<BatchVariable>& variables, const String& commands, bool removePauses,
                    bool quotedForm);

// Appends the batch file's path to the interpreter's "/c" switch in double
// quotes. The new interpreter drops the first and the last double quote of
// a "/c" text that holds one of & < > ( ) @ ^ |, and would then split the
// path there; such a path gets a second pair of quotes around the first,
// which the interpreter removes, leaving the path quoted.
void AppendBatchPathArgument(String& commandLine, const String& path, bool legacyInterpreter);

// Batch text 1, 2 or 3 of the archive followed by its command-line addition:
// an archive text that does not end with a line break gets one before the
// addition. Either part may be empty.
String JoinBatchTexts(const String& archiveText, const String& addition);

// The PATH line of the autoexec.bat edit for a directory's short path:
// "PATH=%PATH%;<dir>\r\n".
String AutoexecPathLine(const char* shortDirectory);

// Adds the PATH line to an autoexec.bat text, or removes it. The line counts
// as present (letter case ignored) where it starts a line and either ends
// with its CR LF or, without them, ends the text. Adding appends "\r\n" first
// when the text does not end with a line feed. Returns whether the text
// changed.
bool EditAutoexecText(String& text, const String& line, bool add);
