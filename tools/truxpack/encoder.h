// Block encoder of the authoring tool: turns bytes into one compressed block
// (format: archive/block_format.h) that the runtime's UnpackBlock accepts.
//
// Every emitted back-reference satisfies 4 <= L <= D <= bytes produced, and
// the codes produce exactly the input, so any output is a valid block.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

enum class PackLevel {
  // Both price back-references from far back a little above their bits:
  // they decode slowly (see FarPenalty in encoder.cpp).
  kFast,  // hash chains, lazy matching by exact bit gain
  kBest,  // binary-tree match finder and a shortest-path parse priced in exact bits
};

// Compresses data[0, size) into block (header included; block is replaced).
// @return false only when size exceeds kMaxBlockOutput; error then says why.
bool PackBlock(const unsigned char* data, size_t size, PackLevel level, std::vector<unsigned char>& block,
               std::string& error);

// The encoder's working memory for an input of size bytes, input and output
// not included (the output is at most size + size / 8 + 16 bytes).
size_t PackWorkingMemory(size_t size, PackLevel level);
