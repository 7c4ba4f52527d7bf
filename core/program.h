// The program's short description of itself, which library messages name
// (for example the required-registry-key error). Process-wide; set once at
// start-up.
#pragma once

void SetProgramDescription(const char* text);
const char* ProgramDescription();  // never null
