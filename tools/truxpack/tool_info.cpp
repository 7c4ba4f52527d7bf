#include "tools/truxpack/tool_info.h"

#ifndef TRUXPACK_VERSION
#error "TRUXPACK_VERSION comes from the VERSION file (tools/truxpack/CMakeLists.txt)"
#endif

// Defined by the source cmake/embed_stub.cmake generates.
extern const unsigned char kEmbeddedStubBytes[];
extern const size_t kEmbeddedStubSize;
extern const char kEmbeddedStubSha256[];

const char* ToolVersion() { return TRUXPACK_VERSION; }

EmbeddedStub BuiltInStub() { return {kEmbeddedStubBytes, kEmbeddedStubSize, kEmbeddedStubSha256}; }

std::string BuiltInStubSummary() {
  EmbeddedStub stub = BuiltInStub();
  if (stub.size == 0) return "none built in";
  std::string digits = std::to_string(stub.size), grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped + " bytes, SHA-256 " + stub.sha256;
}
