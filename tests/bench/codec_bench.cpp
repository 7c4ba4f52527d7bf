// Block codec beside its peers, in one run on one corpus taken as one solid
// block: this codec (fast and best encoders, the runtime's decoder), zlib
// (deflate level 9, inflate), LZ4 and LZ4HC, and a plain memcpy. "trux rt"
// is the same decoder built at the level the runtime builds it with (on this
// host's processor), decoding the "trux best" block.
//
// Usage: codec_bench [benchmark flags] CORPUS_FILE
// After the usual benchmark lines it prints one summary table: decode and
// encode MB/s, compressed size and the size as a fraction of zlib level 9's.
#include <benchmark/benchmark.h>
#include <lz4.h>
#include <lz4hc.h>
#include <stdio.h>
#include <string.h>
#include <zlib.h>

#include <map>
#include <string>
#include <vector>

#include "archive/block.h"
#include "tools/truxpack/encoder.h"
#include "tools/truxpack/file_io.h"

// The runtime's decoder at the runtime's optimisation level (runtime_block.cpp).
int32_t RuntimeLevelUnpackBlockInto(const void* block, int32_t length, void* output, int32_t capacity);

namespace {

std::vector<unsigned char> gCorpus;
std::map<std::string, std::vector<unsigned char>> gPacked;  // codec name -> compressed corpus

struct Codec {
  const char* name;
  std::vector<unsigned char> (*encode)(const std::vector<unsigned char>&);
  bool (*decode)(const std::vector<unsigned char>& packed, std::vector<unsigned char>& out);
  const char* blocksOf = nullptr;  // decodes the blocks of that codec instead of encoding its own
};

std::vector<unsigned char> EncodeTrux(const std::vector<unsigned char>& in, PackLevel level) {
  std::vector<unsigned char> block;
  std::string error;
  if (!PackBlock(in.data(), in.size(), level, block, error)) block.clear();
  return block;
}
std::vector<unsigned char> EncodeTruxFast(const std::vector<unsigned char>& in) { return EncodeTrux(in, PackLevel::kFast); }
std::vector<unsigned char> EncodeTruxBest(const std::vector<unsigned char>& in) { return EncodeTrux(in, PackLevel::kBest); }
bool DecodeTrux(const std::vector<unsigned char>& packed, std::vector<unsigned char>& out) {
  return UnpackBlockInto(packed.data(), static_cast<int32_t>(packed.size()), out.data(),
                         static_cast<int32_t>(out.size())) == static_cast<int32_t>(out.size());
}

bool DecodeTruxRuntimeLevel(const std::vector<unsigned char>& packed, std::vector<unsigned char>& out) {
  return RuntimeLevelUnpackBlockInto(packed.data(), static_cast<int32_t>(packed.size()), out.data(),
                                     static_cast<int32_t>(out.size())) == static_cast<int32_t>(out.size());
}

std::vector<unsigned char> EncodeZlib9(const std::vector<unsigned char>& in) {
  uLongf size = compressBound(in.size());
  std::vector<unsigned char> out(size);
  if (compress2(out.data(), &size, in.data(), in.size(), 9) != Z_OK) size = 0;
  out.resize(size);
  return out;
}
bool DecodeZlib(const std::vector<unsigned char>& packed, std::vector<unsigned char>& out) {
  uLongf size = out.size();
  return uncompress(out.data(), &size, packed.data(), packed.size()) == Z_OK && size == out.size();
}

std::vector<unsigned char> EncodeLz4(const std::vector<unsigned char>& in) {
  std::vector<unsigned char> out(LZ4_compressBound(static_cast<int>(in.size())));
  int n = LZ4_compress_default(reinterpret_cast<const char*>(in.data()), reinterpret_cast<char*>(out.data()),
                               static_cast<int>(in.size()), static_cast<int>(out.size()));
  out.resize(n > 0 ? n : 0);
  return out;
}
std::vector<unsigned char> EncodeLz4Hc(const std::vector<unsigned char>& in) {
  std::vector<unsigned char> out(LZ4_compressBound(static_cast<int>(in.size())));
  int n = LZ4_compress_HC(reinterpret_cast<const char*>(in.data()), reinterpret_cast<char*>(out.data()),
                          static_cast<int>(in.size()), static_cast<int>(out.size()), LZ4HC_CLEVEL_DEFAULT);
  out.resize(n > 0 ? n : 0);
  return out;
}
bool DecodeLz4(const std::vector<unsigned char>& packed, std::vector<unsigned char>& out) {
  int n = LZ4_decompress_safe(reinterpret_cast<const char*>(packed.data()), reinterpret_cast<char*>(out.data()),
                              static_cast<int>(packed.size()), static_cast<int>(out.size()));
  return n == static_cast<int>(out.size());
}

std::vector<unsigned char> EncodeCopy(const std::vector<unsigned char>& in) { return in; }
bool DecodeCopy(const std::vector<unsigned char>& packed, std::vector<unsigned char>& out) {
  memcpy(out.data(), packed.data(), packed.size());
  return packed.size() == out.size();
}

const Codec kCodecs[] = {
    {"trux fast", EncodeTruxFast, DecodeTrux}, {"trux best", EncodeTruxBest, DecodeTrux},
    {"zlib 9", EncodeZlib9, DecodeZlib},       {"lz4", EncodeLz4, DecodeLz4},
    {"lz4hc 9", EncodeLz4Hc, DecodeLz4},       {"memcpy", EncodeCopy, DecodeCopy},
    {"trux rt", nullptr, DecodeTruxRuntimeLevel, "trux best"},
};

const Codec* FindCodec(const char* name) {
  for (const Codec& codec : kCodecs)
    if (strcmp(codec.name, name) == 0) return &codec;
  return nullptr;
}

const std::vector<unsigned char>& Packed(const Codec& codec) {
  if (codec.blocksOf) return Packed(*FindCodec(codec.blocksOf));
  auto it = gPacked.find(codec.name);
  if (it == gPacked.end()) it = gPacked.emplace(codec.name, codec.encode(gCorpus)).first;
  return it->second;
}

void BM_Encode(benchmark::State& state, const Codec* codec) {
  std::vector<unsigned char> packed;
  for (auto _ : state) {
    packed = codec->encode(gCorpus);
    benchmark::DoNotOptimize(packed.data());
  }
  if (packed.empty() && !gCorpus.empty()) state.SkipWithError("encoder failed");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * gCorpus.size()));
  state.counters["size"] = static_cast<double>(packed.size());
  gPacked[codec->name] = std::move(packed);
}

void BM_Decode(benchmark::State& state, const Codec* codec) {
  const std::vector<unsigned char>& packed = Packed(*codec);
  std::vector<unsigned char> out(gCorpus.size());
  bool ok = true;
  for (auto _ : state) {
    ok = codec->decode(packed, out) && ok;
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  if (!ok || out != gCorpus) state.SkipWithError("decoded bytes differ from the corpus");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * gCorpus.size()));
  state.counters["size"] = static_cast<double>(packed.size());
}

// Forwards to the console and keeps the throughput of every run for the
// closing table.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  SummaryReporter() : ConsoleReporter(OO_Tabular) {}  // no colour codes: the table goes into notes
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      auto it = run.counters.find("bytes_per_second");
      if (it != run.counters.end()) rates_[run.benchmark_name()] = it->second.value / 1e6;
    }
  }
  double Rate(const std::string& name) const {
    for (const auto& [key, value] : rates_)
      if (key.rfind(name, 0) == 0) return value;
    return 0;
  }

 private:
  std::map<std::string, double> rates_;
};

void PrintSummary(const SummaryReporter& reporter) {
  double zlibSize = gPacked.count("zlib 9") ? static_cast<double>(gPacked["zlib 9"].size()) : 0;
  double inflate = reporter.Rate("decode/zlib 9");
  printf("\ncorpus: %zu bytes as one block\n", gCorpus.size());
  printf("%-10s %12s %12s %12s %10s %10s %10s\n", "codec", "decode MB/s", "encode MB/s", "size", "ratio",
         "vs zlib-9", "decode/inflate");
  for (const Codec& codec : kCodecs) {
    double decode = reporter.Rate(std::string("decode/") + codec.name);
    double encode = reporter.Rate(std::string("encode/") + codec.name);
    const char* blocks = codec.blocksOf ? codec.blocksOf : codec.name;
    double size = gPacked.count(blocks) ? static_cast<double>(gPacked[blocks].size()) : 0;
    printf("%-10s %12.1f %12.1f %12.0f %10.4f %10.4f %10.2fx\n", codec.name, decode, encode, size,
           size / static_cast<double>(gCorpus.size()), zlibSize > 0 ? size / zlibSize : 0.0,
           inflate > 0 ? decode / inflate : 0.0);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (argc != 2) {
    fprintf(stderr, "usage: codec_bench [benchmark flags] CORPUS_FILE\n");
    return 2;
  }
  std::string error;
  if (!ReadWholeFile(argv[1], gCorpus, error)) {
    fprintf(stderr, "codec_bench: %s\n", error.c_str());
    return 1;
  }
  // Encoders first (each once: the slow ones take seconds on tens of MB),
  // then the decoders on the blocks they produced.
  for (const Codec& codec : kCodecs)
    if (!codec.blocksOf)
      benchmark::RegisterBenchmark((std::string("encode/") + codec.name).c_str(), BM_Encode, &codec)
          ->Unit(benchmark::kMillisecond)
          ->Iterations(1)
          ->UseRealTime();
  for (const Codec& codec : kCodecs)
    benchmark::RegisterBenchmark((std::string("decode/") + codec.name).c_str(), BM_Decode, &codec)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0)
        ->UseRealTime();
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintSummary(reporter);
  benchmark::Shutdown();
  return 0;
}
