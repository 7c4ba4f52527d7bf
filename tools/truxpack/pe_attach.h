// Attaching the archive section to the runtime stub.
//
// The section is added as the last section: its file offset is the stub's
// end of file, its virtual address the stub's SizeOfImage, and its raw size
// (equal to its virtual size) is padded to the stub's SectionAlignment.
// NumberOfSections, SizeOfImage and SizeOfInitializedData grow by exactly
// what the runtime takes away when it cuts the section back out for the
// uninstaller, so that image equals the stub byte for byte. The PE checksum
// field is left as the stub has it (the loader ignores it for programs).
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

// What the attach needs to know about a stub, read and checked by InspectStub.
struct StubInfo {
  uint32_t peHeaderOffset = 0;
  uint32_t sectionCount = 0;
  uint32_t sectionTable = 0;     // file offset of the first section header
  uint32_t sectionAlignment = 0;
  uint32_t fileAlignment = 0;
  uint32_t sizeOfImage = 0;
  uint32_t sizeOfHeaders = 0;
};

constexpr uint32_t kArchiveSectionCharacteristics = 0x40000040u;  // initialised data, readable

// Checks that stub is a PE32 image the archive can be attached to: a sound
// header, no ".trux" section yet, no bytes after the last section (overlay,
// signature), a zero-filled slot for one more section header inside the
// headers, and a section count that stays within what the runtime accepts.
// On failure returns false with a one-line reason.
bool InspectStub(const std::vector<unsigned char>& stub, StubInfo& info, std::string& error);

// The raw size of a section holding n archive bytes.
uint32_t ArchiveSectionRawSize(const StubInfo& info, uint64_t n);

// out = the stub with the section header added and NumberOfSections,
// SizeOfImage and SizeOfInitializedData grown for a section of rawSize
// bytes: the installer's bytes before its section. False with a reason when
// the image would grow past what a 32-bit PE can describe.
bool AttachedStub(const std::vector<unsigned char>& stub, const StubInfo& info, uint32_t rawSize,
                  std::vector<unsigned char>& out, std::string& error);

// out = stub with the section header added, then sectionBytes padded with
// zeros to rawSize (>= sectionBytes.size(), a multiple of the section
// alignment), then trailing (bytes after the section: the data region's part
// outside the image). Returns false with a reason when the image would grow
// past what a 32-bit PE can describe.
bool AttachArchiveSection(const std::vector<unsigned char>& stub, const StubInfo& info,
                          const std::vector<unsigned char>& sectionBytes, uint32_t rawSize,
                          const std::vector<unsigned char>& trailing, std::vector<unsigned char>& out,
                          std::string& error);
