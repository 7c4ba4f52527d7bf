// Whole-file helpers of the authoring tool.
#pragma once
#include <string>
#include <vector>

// Reads the whole file. On failure returns false and sets error to a
// one-line reason naming the file.
bool ReadWholeFile(const std::string& path, std::vector<unsigned char>& data, std::string& error);

// Writes data to path through a temporary file in the same directory that is
// renamed over path only when everything was written, so a failure never
// leaves a partial file behind. On failure returns false and sets error.
bool WriteWholeFileAtomically(const std::string& path, const unsigned char* data, size_t size, std::string& error);
