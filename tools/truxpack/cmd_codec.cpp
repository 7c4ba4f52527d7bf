#include "tools/truxpack/cmd_codec.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "archive/block.h"
#include "core/memory.h"
#include "tools/truxpack/encoder.h"
#include "tools/truxpack/cli.h"
#include "tools/truxpack/file_io.h"

namespace {

}  // namespace

int RunCompress(int argc, char** argv) {
  const char* kUsage = "truxpack compress IN OUT [--level fast|best]";
  std::vector<std::string> files;
  PackLevel level = PackLevel::kBest;
  for (int i = 0; i < argc; ++i) {
    if (strcmp(argv[i], "--level") == 0) {
      if (i + 1 >= argc) return Usage(kUsage);
      std::string value = argv[++i];
      if (value == "fast") {
        level = PackLevel::kFast;
      } else if (value == "best") {
        level = PackLevel::kBest;
      } else {
        return Usage(kUsage);
      }
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      return Usage(kUsage);
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.size() != 2) return Usage(kUsage);
  std::vector<unsigned char> input, block;
  std::string error;
  if (!ReadWholeFile(files[0], input, error)) return Fail(error);
  if (!PackBlock(input.data(), input.size(), level, block, error)) return Fail(files[0] + ": " + error);
  if (!WriteWholeFileAtomically(files[1], block.data(), block.size(), error)) return Fail(error);
  return 0;
}

int RunDecompress(int argc, char** argv) {
  const char* kUsage = "truxpack decompress IN OUT";
  if (argc != 2 || argv[0][0] == '-' || argv[1][0] == '-') return Usage(kUsage);
  std::vector<unsigned char> input;
  std::string error;
  if (!ReadWholeFile(argv[0], input, error)) return Fail(error);
  if (input.size() > static_cast<size_t>(INT32_MAX))
    return Fail(std::string(argv[0]) + ": not a valid compressed block (larger than 2 GB)");
  const unsigned char* data = input.data();
  int32_t length = static_cast<int32_t>(input.size());
  if (!UnpackBlock(data, length)) {
    int32_t declared = BlockDecodedSize(input.data(), static_cast<int32_t>(input.size()));
    if (declared < 0) return Fail(std::string(argv[0]) + ": not a valid compressed block (bad header)");
    return Fail(std::string(argv[0]) + ": not a valid compressed block (corrupt or truncated stream, " +
                std::to_string(declared) + " bytes declared)");
  }
  bool ok = WriteWholeFileAtomically(argv[1], data, static_cast<size_t>(length), error);
  MemFree(const_cast<unsigned char*>(data));
  return ok ? 0 : Fail(error);
}
