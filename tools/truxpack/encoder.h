// Block encoder of the authoring tool: turns bytes into one compressed block
// (format: archive/block_format.h) that the runtime's UnpackBlock accepts.
//
// Every emitted back-reference satisfies 4 <= L <= D <= bytes produced, and
// the codes produce exactly the input, so any output is a valid block.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

// Both levels parse inputs above 32 MiB in 32 MiB segments on several
// threads, and find repeats from farther back than their finders reach (a
// file shipped twice) through one table of content-defined anchors over the
// whole input.
enum class PackLevel {
  kFast,  // hash buckets of the newest 8 positions per hash, lazy matching by exact bit gain;
          // back-references from far back priced a little above their bits, since they decode
          // slowly (see FarPenalty in encoder.cpp)
  kBest,  // binary-tree match finder over the last 8 MiB and a shortest-path parse priced in exact
          // bits; stretches that keep failing to match (compressed media) are searched sparsely
};

// The thread count used when the caller names none: the machine's cores.
unsigned DefaultPackThreads();

// Called as the encoder goes: bytes of the input coded so far, and the total.
using PackProgress = std::function<void(uint64_t done, uint64_t total)>;

// Compresses data[0, size) into block (header included; block is replaced).
// threads: segments of the best level parsed at once; the block is the same
// for every thread count.
// @return false only when size exceeds kMaxBlockOutput; error then says why.
bool PackBlock(const unsigned char* data, size_t size, PackLevel level, std::vector<unsigned char>& block,
               std::string& error, unsigned threads = 1, const PackProgress& progress = PackProgress());

// PackBlock with the segment and history sizes chosen (PackBlock uses 32 MiB
// and 8 MiB, of which the fast level enters the last 256 KiB; segment 0
// parses the input as one piece), for tests and measurements.
bool PackBlockWithSegments(const unsigned char* data, size_t size, PackLevel level, uint32_t segment,
                           uint32_t history, unsigned threads, std::vector<unsigned char>& block, std::string& error,
                           const PackProgress& progress = PackProgress());

// The encoder's working memory for an input of size bytes with threads
// threads, input and output not included (the output is at most
// size + size / 8 + 16 bytes).
size_t PackWorkingMemory(size_t size, PackLevel level, unsigned threads = 1);
