// The authoring tool's archive writer: settings stream, entry records, header
// and volume pieces, laid out as archive/format.h describes. The same
// ArchiveSettings record that the portable reader fills is the writer's
// input, so a writer→reader round trip compares like with like.
#pragma once
#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "archive/format.h"
#include "archive/settings.h"
#include "tools/truxpack/encoder.h"
#include "tools/truxpack/file_io.h"

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

// One product file as stored in the data region. Its bytes are either held
// (data) or, when source is set, read from that file when the installer is
// written, so that a stored build holds one piece of one file at a time.
struct EntryInput {
  std::string name;      // relative path with backslashes; not empty
  int32_t kind = kKindInstallDir;
  uint32_t flags = 0;    // ArchiveEntryFlag bits
  uint32_t attributes = kKeepAttributes;
  Bytes data;
  std::string source;       // when not empty: the file holding the bytes (data is not used)
  uint64_t sourceSize = 0;  // its size when the project was read
  FileIdentity sourceIdentity;  // the file the project checked (zeros: not known)
  ArchiveDateTime time{};
  std::string text1, text2, text3, text4, text5;  // text2 stored only with flags & 3

  bool Deferred() const { return !source.empty(); }
  uint64_t DataSize() const { return Deferred() ? sourceSize : data.size(); }
};

// An entry record's bytes before its data (name, kind, flags, attributes)
// and after it (checksum, date-time, texts), and the record's whole size.
void AppendEntryHead(Bytes& out, const EntryInput& e);
void AppendEntryTail(Bytes& out, const EntryInput& e, uint32_t checksum);
uint64_t EntryRecordSize(const EntryInput& e);

// Opens a deferred entry's file for reading its bytes; null with error set
// when it cannot be opened or its size is no longer the size the project
// recorded (the header and the checksums were sized by that).
std::unique_ptr<FileSource> OpenEntrySource(const EntryInput& e, std::string& error);


// The unpacked settings stream of s, fields 1 to 53 in order. Fields that the
// reader skips (29 without flag bit 16, 44 without flag bit 2) are skipped
// here too; the patch bytes are stored only when the patch offset is > 0.
// messages holds messageCount x languages texts, row by row.
Bytes SerializeSettings(const ArchiveSettings& s);

// The entry records one after another (the unpacked data region). A
// deferred entry's bytes are read from its source straight into the result
// (a file that no longer has the size it had is an error): the product is
// held once. False with a one-line reason.
bool SerializeEntriesInto(const std::vector<EntryInput>& entries, Bytes& out, std::string& error);
// The same for entries whose bytes are all held.
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
  // The data region as stored: packed with flag bit 5; otherwise, when
  // regionStreamed, not held at all (the writer serializes the entries
  // straight into the output and dataRegionChecksum is left for it to fill).
  Bytes region;
  bool regionStreamed = false;
  int64_t regionSize = 0;        // bytes of the region as stored
};

struct PackOptions {
  PackLevel level = PackLevel::kBest;
  int64_t volumeSize = 0;        // region bytes per piece; 0: no volumes
  unsigned threads = 1;          // encoder threads (the bytes do not depend on it)
  bool releaseEntryData = false; // PackArchive frees each entry's bytes once they are in the region
  bool streamStoredRegion = false; // a stored region is left to the writer (ArchivePieces::regionStreamed)
  PackProgress progress;         // told how far the data region's compression is
};

// Packs settings and entries. The region is compressed as one block when
// flag bit 5 is set. With options.releaseEntryData the entries' bytes are
// freed as they are copied into the region. Returns false with a one-line
// reason on failure.
bool PackArchive(const ArchiveSettings& s, std::vector<EntryInput>& entries, const PackOptions& options,
                 ArchivePieces& pieces, std::string& error);

// The header followed by the entry-size table (36 + 4N bytes).
Bytes EncodeHeader(const ArchiveHeader& header, const std::vector<uint32_t>& entrySizes);
