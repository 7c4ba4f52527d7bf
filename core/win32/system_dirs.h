// The system's directories and the running program's path. Never fail: a
// system call that fails gives "" (or the documented fallback).
#pragma once
#include "core/string.h"

// GetWindowsDirectoryA (260 characters); "" when it fails or does not fit.
String WindowsDir();
// GetSystemDirectoryA (260 characters); when that gives "", the Windows
// directory joined with "System32" on NT platforms, "System" otherwise.
String SystemDir();
// GetTempPathA (260 characters), "c:\temp" when that gives "", then one
// trailing backslash removed.
String TempDir();
// The running executable's full name; "" when it is longer than 500
// characters.
String ModulePath();
