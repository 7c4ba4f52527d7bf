#include "core/program.h"

namespace {
const char* g_programDescription = "";
}

void SetProgramDescription(const char* text) { g_programDescription = text ? text : ""; }
const char* ProgramDescription() { return g_programDescription; }
