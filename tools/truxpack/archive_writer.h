// The authoring tool's archive writer: settings stream, entry records, header
// and volume pieces, laid out as archive/format.h describes. The same
// ArchiveSettings record that the portable reader fills is the writer's
// input, so a writer→reader round trip compares like with like.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "archive/format.h"
#include "archive/settings.h"
#include "tools/truxpack/encoder.h"

using Bytes = std::vector<unsigned char>;

// Little-endian appender for the stream fields of format.h.
class ByteWriter {
 public:
  explicit ByteWriter(Bytes& out) : out_(out) {}
  void U8(uint32_t v) { out_.push_back((unsigned char)v); }
  void U16(uint32_t v);
  void U32(uint32_t v);
  void U64(uint64_t v);
  void Raw(const void* data, size_t n);
  // A NUL-terminated text. The caller guarantees it holds no NUL byte.
  void Text(const std::string& s);
  void Text(const String& s);
  void Counted(const String& s);
  void DateTime(const ArchiveDateTime& t);

 private:
  Bytes& out_;
};

// One product file as stored in the data region.
struct EntryInput {
  std::string name;      // relative path with backslashes; not empty
  int32_t kind = kKindInstallDir;
  uint32_t flags = 0;    // ArchiveEntryFlag bits
  uint32_t attributes = kKeepAttributes;
  Bytes data;
  ArchiveDateTime time{};
  std::string text1, text2, text3, text4, text5;  // text2 stored only with flags & 3
};

// The unpacked settings stream of s, fields 1 to 53 in order. Fields that the
// reader skips (29 without flag bit 16, 44 without flag bit 2) are skipped
// here too; the patch bytes are stored only when the patch offset is > 0.
// messages holds messageCount x languages texts, row by row.
Bytes SerializeSettings(const ArchiveSettings& s);

// The entry records one after another (the unpacked data region).
Bytes SerializeEntries(const std::vector<EntryInput>& entries);

// Why a project's settings cannot be stored (the runtime would refuse them
// with an archive error, or the stream could not be read back as written):
// empty when they can.
std::string CheckSettingsForWriting(const ArchiveSettings& s);

// The parts of an archive before it is placed in an installer.
struct ArchivePieces {
  ArchiveHeader header{};        // sectionArchiveSize and stubChecksum are set by the caller
  std::vector<uint32_t> entrySizes;
  Bytes packedSettings;          // compressed and scrambled
  Bytes region;                  // the data region as stored (packed with flag bit 5)
  int64_t firstPieceSize = 0;    // region bytes that stay with the installer
  std::vector<Bytes> volumes;    // volume files 2, 3, ...: identifier then data
};

struct PackOptions {
  PackLevel level = PackLevel::kBest;
  int64_t volumeSize = 0;        // region bytes per piece; 0: no volumes
  unsigned threads = 1;          // encoder threads (the bytes do not depend on it)
  bool releaseEntryData = false; // BuildInstaller frees the entries' bytes once packed
  PackProgress progress;         // told how far the data region's compression is
};

// Packs settings and entries. The region is compressed as one block when
// flag bit 5 is set. Returns false with a one-line reason on failure.
bool PackArchive(const ArchiveSettings& s, const std::vector<EntryInput>& entries, const PackOptions& options,
                 ArchivePieces& pieces, std::string& error);

// The header followed by the entry-size table (36 + 4N bytes).
Bytes EncodeHeader(const ArchiveHeader& header, const std::vector<uint32_t>& entrySizes);
