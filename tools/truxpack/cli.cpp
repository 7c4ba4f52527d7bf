#include "tools/truxpack/cli.h"

#include <stdio.h>

int Usage(const char* line) {
  fprintf(stderr, "usage: %s\n", line);
  return 2;
}

int Fail(const std::string& message) {
  fprintf(stderr, "truxpack: %s\n", message.c_str());
  return 1;
}
