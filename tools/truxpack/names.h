// Names as Windows and a terminal see them.
#pragma once
#include <string>

// Why Windows cannot create a file or directory with this relative name
// (components separated by backslashes, Windows-1252 bytes): a reserved
// character, a control character, a component ending in a dot or a space,
// or a device name such as CON or LPT1 (with or without an extension).
// Empty when every component can be created.
std::string WindowsNameProblem(const std::string& name);

// A name for printing: Windows-1252 bytes shown as UTF-8, and every control
// character or byte without a character written as \xNN, so that a name can
// never move the cursor or change a terminal's state. Backslashes stay, as
// they separate the components.
std::string PrintableName(const std::string& cp1252);

// Printable form of a UTF-8 text from this machine (a path): control
// characters escaped as \xNN, invalid UTF-8 bytes likewise.
std::string PrintablePath(const std::string& utf8);
