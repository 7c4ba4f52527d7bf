// What this truxpack is: its version, and the runtime stub the build put
// inside it.
#pragma once
#include <stddef.h>

#include <string>

// The tool's version (semantic versioning), from the VERSION file at the
// top of the source tree, the one place it is kept.
const char* ToolVersion();

// The runtime stub built into the program: its bytes, size and SHA-256 in
// hexadecimal. A build configured without one (TRUX_STUB empty: the
// sanitizer and fuzzing trees, for example) has size 0; `build` then needs
// --stub.
struct EmbeddedStub {
  const unsigned char* data;
  size_t size;
  const char* sha256;
};
EmbeddedStub BuiltInStub();

// "142,848 bytes, SHA-256 cd8c..." or "none built in".
std::string BuiltInStubSummary();
