#include "tools/truxpack/file_io.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

bool ReadWholeFile(const std::string& path, std::vector<unsigned char>& data, std::string& error) {
  data.clear();
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) {
    error = "cannot open " + path + ": " + strerror(errno);
    return false;
  }
  unsigned char buffer[1 << 16];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, f)) > 0) data.insert(data.end(), buffer, buffer + got);
  bool ok = !ferror(f);
  int savedErrno = errno;
  fclose(f);
  if (!ok) error = "cannot read " + path + ": " + strerror(savedErrno);
  return ok;
}

bool WriteWholeFileAtomically(const std::string& path, const unsigned char* data, size_t size, std::string& error) {
  std::string temp = path + ".tmp-" + std::to_string(getpid());
  FILE* f = fopen(temp.c_str(), "wb");
  if (!f) {
    error = "cannot create " + temp + ": " + strerror(errno);
    return false;
  }
  bool ok = size == 0 || fwrite(data, 1, size, f) == size;
  int savedErrno = errno;
  if (fclose(f) != 0 && ok) {
    ok = false;
    savedErrno = errno;
  }
  if (ok && rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    remove(temp.c_str());
    error = "cannot write " + path + ": " + strerror(savedErrno);
  }
  return ok;
}
