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

const CommandHelp kCompressCommand = {
    "compress", "IN OUT", "Compresses IN into one raw block OUT (for diagnosis).",
    {{"level", 0, "fast|best", "compression level (default best)"},
     {"threads", 'j', "N", "encoder threads (default: the machine's cores; the output is the same for any N)"}},
    2, 2, {"file", "file"}};
const CommandHelp kDecompressCommand = {
    "decompress", "IN OUT", "Decodes the raw block IN into OUT (for diagnosis).", {}, 2, 2, {"file", "file"}};

int RunCompress(int argc, char** argv) {
  ParsedArgs args;
  int code = ParseArgs(kCompressCommand, argc, argv, args);
  if (code >= 0) return code;
  PackLevel level = PackLevel::kBest;
  if (args.Has("level")) {
    if (args.Get("level") == "fast")
      level = PackLevel::kFast;
    else if (args.Get("level") != "best")
      return Usage("truxpack compress IN OUT [--level fast|best]");
  }
  uint64_t threads = DefaultPackThreads();
  if (args.Has("threads") && (!ParseSize(args.Get("threads"), 256, threads) || threads < 1))
    return Usage("truxpack compress IN OUT [--level fast|best] [--threads N]");
  std::vector<unsigned char> input, block;
  std::string error;
  const std::string in = args.positional[0], out = args.positional[1];
  if (!ReadWholeFile(in, input, error)) return Fail(error);
  Progress progress("compressing", 0, 0);
  progress.Stage("compressing " + std::to_string(input.size()) + " bytes");
  if (!PackBlock(input.data(), input.size(), level, block, error, (unsigned)threads)) return Fail(in + ": " + error);
  progress.Done();
  if (!WriteWholeFileAtomically(out, block.data(), block.size(), error)) return Fail(error);
  return 0;
}

int RunDecompress(int argc, char** argv) {
  ParsedArgs args;
  int code = ParseArgs(kDecompressCommand, argc, argv, args);
  if (code >= 0) return code;
  const std::string in = args.positional[0], out = args.positional[1];
  std::vector<unsigned char> input;
  std::string error;
  if (!ReadWholeFile(in, input, error, (uint64_t)INT32_MAX)) return Fail(error);
  const unsigned char* data = input.data();
  int32_t length = static_cast<int32_t>(input.size());
  if (!UnpackBlock(data, length)) {
    int32_t declared = BlockDecodedSize(input.data(), static_cast<int32_t>(input.size()));
    if (declared < 0) return Fail(in + ": not a valid compressed block (bad header)");
    return Fail(in + ": not a valid compressed block (corrupt or truncated stream, " + std::to_string(declared) +
                " bytes declared)");
  }
  bool ok = WriteWholeFileAtomically(out, data, static_cast<size_t>(length), error);
  MemFree(const_cast<unsigned char*>(data));
  return ok ? 0 : Fail(error);
}
