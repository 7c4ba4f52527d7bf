// How every truxpack command reports: one usage line and exit code 2 for bad
// arguments, one "truxpack: ..." line and exit code 1 for bad input files or
// failed writes.
#pragma once
#include <string>

int Usage(const char* line);           // prints "usage: LINE", returns 2
int Fail(const std::string& message);  // prints "truxpack: MESSAGE", returns 1
