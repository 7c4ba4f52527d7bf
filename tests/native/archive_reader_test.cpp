#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/block.h"
#include "archive/pe_image.h"
#include "core/byte_order.h"
#include "core/checksum.h"

namespace {

using Bytes = std::vector<unsigned char>;

void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back((unsigned char)(v >> (8 * i)));
}

struct HeaderFields {
  uint32_t magic = kArchiveMagic;
  uint32_t version = 1720;
  uint32_t packedSize = 10;
  uint32_t settingsChecksum = 0x12345678;
  uint32_t stubChecksum = 0;
  uint32_t sectionArchiveSize = 100;
  uint32_t entryCount = 2;
  uint32_t dataRegionSize = 0;
  uint32_t dataRegionChecksum = 0;
  std::vector<uint32_t> sizes = {5, 7};
};

Bytes Header(const HeaderFields& f) {
  Bytes b;
  for (uint32_t v : {f.magic, f.version, f.packedSize, f.settingsChecksum, f.stubChecksum, f.sectionArchiveSize,
                     f.entryCount, f.dataRegionSize, f.dataRegionChecksum})
    Put32(b, v);
  for (uint32_t s : f.sizes) Put32(b, s);
  return b;
}

struct Outcome {
  ArchiveError error;
  bool tooNew;
};

Outcome Read(const Bytes& b, ArchiveHeaderValues* out = nullptr) {
  ArchiveCursor cursor(b.data(), b.data() + b.size());
  ArchiveHeaderValues values;
  ArchiveVersionProblem problem;
  ArchiveError e = ReadArchiveHeader(cursor, values, problem);
  if (out) *out = values;
  return {e, problem.tooNew};
}

TEST(ArchiveHeader, ChecksTable) {
  struct Case {
    const char* what;
    void (*edit)(HeaderFields&);
    ArchiveError error;
    bool tooNew;
  } cases[] = {
      {"valid", [](HeaderFields&) {}, kArchiveOk, false},
      {"wrong magic", [](HeaderFields& f) { f.magic = 0xA4F23DE4; }, kErrMagic, false},
      {"version 17.20", [](HeaderFields& f) { f.version = 1720; }, kArchiveOk, false},
      {"version 16.00", [](HeaderFields& f) { f.version = 1600; }, kArchiveOk, false},
      {"version 17.21", [](HeaderFields& f) { f.version = 1721; }, kArchiveOk, true},
      {"packed size 0", [](HeaderFields& f) { f.packedSize = 0; }, kErrSettingsPackedSize, false},
      {"packed size max", [](HeaderFields& f) { f.packedSize = 52428799; }, kArchiveOk, false},
      {"packed size max+1", [](HeaderFields& f) { f.packedSize = 52428800; }, kErrSettingsPackedSize, false},
      {"packed size negative", [](HeaderFields& f) { f.packedSize = 0xFFFFFFFF; }, kErrSettingsPackedSize, false},
      {"archive size negative", [](HeaderFields& f) { f.sectionArchiveSize = 0x80000000; }, kErrSectionArchiveSize,
       false},
      {"entry count negative", [](HeaderFields& f) { f.entryCount = 0xFFFFFFFF; }, kErrEntryCount, false},
      {"region size negative", [](HeaderFields& f) { f.dataRegionSize = 0xFFFFFFFE; }, kErrDataRegionSize, false},
      {"entry size at the limit", [](HeaderFields& f) { f.sizes = {0x40000000, 1}; }, kArchiveOk, false},
      {"entry size over", [](HeaderFields& f) { f.sizes = {1, 0x40000001}; }, kErrEntrySize, false},
      {"entry size all ones", [](HeaderFields& f) { f.sizes = {0xFFFFFFFF, 1}; }, kErrEntrySize, false},
      {"size table past the end", [](HeaderFields& f) { f.entryCount = 1000000; }, kErrArchiveTruncated, false},
  };
  for (const Case& c : cases) {
    HeaderFields f;
    c.edit(f);
    Outcome o = Read(Header(f));
    EXPECT_EQ(o.error, c.error) << c.what;
    EXPECT_EQ(o.tooNew, c.tooNew) << c.what;
  }
}

TEST(ArchiveHeader, TruncatedHeadersNeverReadPastTheBytes) {
  Bytes full = Header(HeaderFields());
  for (size_t n = 0; n < full.size(); ++n) {
    Bytes part(full.begin(), full.begin() + (long)n);
    // An exact-size heap copy, so a read past it is caught by the sanitizers.
    std::unique_ptr<unsigned char[]> exact(new unsigned char[n ? n : 1]);
    if (n) memcpy(exact.get(), part.data(), n);
    ArchiveCursor cursor(exact.get(), exact.get() + n);
    ArchiveHeaderValues values;
    ArchiveVersionProblem problem;
    ArchiveError e = ReadArchiveHeader(cursor, values, problem);
    EXPECT_EQ(e, kErrArchiveTruncated) << n << " bytes";
  }
}

TEST(ArchiveHeader, DataRegionOffsetFollowsSizesAndSettings) {
  ArchiveHeaderValues values;
  ASSERT_EQ(Read(Header(HeaderFields()), &values).error, kArchiveOk);
  EXPECT_EQ(values.entrySizes.Count(), 2);
  EXPECT_EQ(values.entrySizes[1], 7u);
  EXPECT_EQ(values.dataRegionOffset, 36 + 8 + 10);
}

TEST(ArchiveSettingsBlock, UnscramblesAndUnpacks) {
  const unsigned char aaa[] = {0xA1, 0x2B, 0xC7, 0x9E, 0x03, 0x00, 0x00, 0x00, 0x07, 0x01};
  HeaderFields f;
  f.packedSize = sizeof aaa;
  Bytes b = Header(f);
  Bytes packed(aaa, aaa + sizeof aaa);
  XorScramble(packed.data(), (int32_t)packed.size(), f.settingsChecksum);
  b.insert(b.end(), packed.begin(), packed.end());
  b.push_back(0xEE);  // first byte of the data region

  ArchiveCursor cursor(b.data(), b.data() + b.size());
  ArchiveHeaderValues values;
  ArchiveVersionProblem problem;
  ASSERT_EQ(ReadArchiveHeader(cursor, values, problem), kArchiveOk);
  String settings;
  ASSERT_EQ(LoadSettingsBlock(cursor, values, settings), kArchiveOk);
  EXPECT_STREQ(settings.CStr(), "AAA");
  EXPECT_EQ(*cursor.At(), 0xEE);
  EXPECT_EQ(cursor.Offset(), values.dataRegionOffset);
}

TEST(ArchiveSettingsBlock, Failures) {
  HeaderFields f;
  f.packedSize = 10;
  Bytes b = Header(f);
  Bytes garbage(10, 0x55);
  b.insert(b.end(), garbage.begin(), garbage.end());
  {
    ArchiveCursor cursor(b.data(), b.data() + b.size());
    ArchiveHeaderValues values;
    ArchiveVersionProblem problem;
    ASSERT_EQ(ReadArchiveHeader(cursor, values, problem), kArchiveOk);
    String settings;
    EXPECT_EQ(LoadSettingsBlock(cursor, values, settings), kErrSettingsUnpack);
  }
  {
    b.resize(b.size() - 1);  // one packed byte short of the declared size
    ArchiveCursor cursor(b.data(), b.data() + b.size());
    ArchiveHeaderValues values;
    ArchiveVersionProblem problem;
    ASSERT_EQ(ReadArchiveHeader(cursor, values, problem), kArchiveOk);
    String settings;
    EXPECT_EQ(LoadSettingsBlock(cursor, values, settings), kErrArchiveTruncated);
  }
}

// ------------------------------------------------------------ PE layout

// A minimal PE-like image: headers, a section table, section bytes.
struct PeFixture {
  Bytes file;
  uint32_t pe = 0x80;
  uint32_t optionalSize = 0xE0;
  uint32_t table() const { return pe + 24 + optionalSize; }

  PeFixture(uint32_t peOffset, uint32_t count, std::vector<std::string> names = {}) : pe(peOffset) {
    file.assign(0x2000, 0);
    file[0] = 'M';
    file[1] = 'Z';
    Set16(0x3C, pe);
    Set16(pe + 6, count);
    Set16(pe + 20, optionalSize);
    Set32(pe + 0x20, 0x5000);  // SizeOfInitializedData
    Set32(pe + 0x50, 0x9000);  // SizeOfImage
    for (uint32_t i = 0; i < count && i < names.size(); ++i) {
      uint32_t h = table() + 40 * i;
      if (h + 40 > file.size()) break;
      memcpy(&file[h], names[i].data(), names[i].size() < 8 ? names[i].size() : 8);
      Set32(h + 8, 0x100 + i);            // VirtualSize
      Set32(h + 12, 0x1000 * (i + 1));    // VirtualAddress
      Set32(h + 16, 0x200);               // SizeOfRawData
      Set32(h + 20, 0x400 + 0x200 * i);   // PointerToRawData
    }
  }
  void Set16(uint32_t at, uint32_t v) {
    file[at] = (unsigned char)v;
    file[at + 1] = (unsigned char)(v >> 8);
  }
  void Set32(uint32_t at, uint32_t v) {
    Set16(at, v & 0xFFFF);
    Set16(at + 2, v >> 16);
  }
  uint32_t Get32(uint32_t at) const {
    return file[at] | (file[at + 1] << 8) | (file[at + 2] << 16) | ((uint32_t)file[at + 3] << 24);
  }
};

bool ReadFromBytes(void* context, int64_t offset, void* out, int32_t n) {
  const Bytes* b = static_cast<const Bytes*>(context);
  if (offset < 0 || n < 0 || (uint64_t)offset + (uint64_t)n > b->size()) return false;
  memcpy(out, b->data() + offset, (size_t)n);
  return true;
}

int32_t Find(PeFixture& f, PeLayout& layout) { return FindArchiveSection(ReadFromBytes, &f.file, layout); }

TEST(PeLayout, HeaderOffsetAndSectionCountLimits) {
  const std::vector<std::string> four = {".text", ".data", ".rdata", ".trux"};
  struct Case {
    uint32_t pe, count;
    int32_t expected;
  } cases[] = {
      {0x80, 4, kArchiveOk},       {0x40, 4, kArchiveOk},          {0x1000, 4, kArchiveOk},
      {0x1001, 4, kErrPeHeaderOffset}, {0x3F, 4, kErrPeHeaderOffset}, {0, 4, kErrPeHeaderOffset},
      {0x80, 3, kErrSectionCount}, {0x80, 100, kErrSectionCount}, {0x80, 99, kNoArchiveSection},
  };
  for (const Case& c : cases) {
    std::vector<std::string> names = four;
    if (c.count == 99) names = {".text", ".data", ".rdata", ".rsrc"};
    PeFixture f(c.pe, c.count, names);
    PeLayout layout;
    EXPECT_EQ(Find(f, layout), c.expected) << std::hex << c.pe << " " << std::dec << c.count;
  }
}

TEST(PeLayout, NameIsCaseSensitiveAndOffsetZeroIsAnError) {
  PeFixture upper(0x80, 4, {".text", ".data", ".rdata", ".TRUX"});
  PeLayout layout;
  EXPECT_EQ(Find(upper, layout), kNoArchiveSection);

  PeFixture zero(0x80, 4, {".text", ".trux", ".data", ".rdata"});
  zero.Set32(zero.table() + 40 + 20, 0);
  EXPECT_EQ(Find(zero, layout), kErrSectionFileOffsetZero);

  PeFixture good(0x80, 5, {".text", ".data", ".trux", ".rsrc", ".reloc"});
  ASSERT_EQ(Find(good, layout), kArchiveOk);
  EXPECT_EQ(layout.archiveIndex, 2);
  EXPECT_EQ(layout.sectionVirtualSize, 0x102u);
  EXPECT_EQ(layout.sectionVirtualAddress, 0x3000u);
  EXPECT_EQ(layout.sectionRawSize, 0x200u);
  EXPECT_EQ(layout.sectionFileOffset, 0x800u);
  EXPECT_EQ(layout.sectionTable, 0x80u + 24 + 0xE0);
}

TEST(PeLayout, ShortReadsInTheHeadersAreErrors) {
  // Cut off inside the optional-header size: the section table cannot be found.
  PeFixture size(0x80, 4, {".text", ".data", ".rdata", ".trux"});
  size.file.resize(0x80 + 21);
  PeLayout layout;
  EXPECT_EQ(Find(size, layout), kErrSectionCount);

  // Cut off after the archive header's name, inside its fields.
  PeFixture fields(0x80, 4, {".text", ".data", ".rdata", ".trux"});
  fields.file.resize(fields.table() + 40 * 3 + 12);
  EXPECT_EQ(Find(fields, layout), kErrSectionFileOffsetZero);
}

// The archive bytes the runtime and the authoring tool read: raw data, cut to
// a virtual size that is set and smaller.
TEST(PeLayout, MappedSectionSizeEdges) {
  struct Case {
    uint32_t rawSize, virtualSize, mapped;
  } cases[] = {
      {0x200, 0, 0x200},          // virtual size unset: the raw data
      {0x200, 0x1FF, 0x1FF},      // smaller virtual size cuts
      {0x200, 0x200, 0x200},      // equal
      {0x200, 0x201, 0x200},      // larger virtual size maps zeros, not archive bytes
      {0, 0x1000, 0},             // no raw data
      {0, 0, 0},
      {0xFFFFFFFF, 0, 0xFFFFFFFF},
      {0xFFFFFFFF, 1, 1},
      {1, 0xFFFFFFFF, 1},
  };
  for (const Case& c : cases) {
    PeLayout layout;
    layout.sectionRawSize = c.rawSize;
    layout.sectionVirtualSize = c.virtualSize;
    EXPECT_EQ(c.mapped, MappedSectionSize(layout)) << std::hex << c.rawSize << " " << c.virtualSize;
  }
}

TEST(ArchiveHeader, SectionArchiveSizeAgainstTheMappedSection) {
  using C = SectionArchiveSizeCheck;
  struct Case {
    int32_t claimed, dataRegionOffset;
    int64_t mapped;
    C expected;
  } cases[] = {
      {100, 60, 100, C::kFits},             // exactly the mapped bytes
      {101, 60, 100, C::kBeyondSection},    // one byte past them
      {60, 60, 100, C::kFits},              // ends where the region starts: an empty first piece
      {59, 60, 100, C::kBeforeDataRegion},  // one byte short of the region
      {0, 0, 0, C::kFits},
      {0, 1, 0, C::kBeforeDataRegion},
      {1, 0, 0, C::kBeyondSection},
      {0x7FFFFFFF, 60, 0x7FFFFFFF, C::kFits},
      {0x7FFFFFFF, 60, 0x7FFFFFFE, C::kBeyondSection},
      {0x7FFFFFFF, 60, 0xFFFFFFFFll, C::kFits},  // a section mapped beyond 2 GiB
      // Past the section and before the region at once: past the section wins.
      {200, 300, 100, C::kBeyondSection},
  };
  for (const Case& c : cases) {
    ArchiveHeaderValues values;
    values.header.sectionArchiveSize = c.claimed;
    values.dataRegionOffset = c.dataRegionOffset;
    EXPECT_EQ(c.expected, CheckSectionArchiveSize(values, c.mapped))
        << c.claimed << " " << c.dataRegionOffset << " " << c.mapped;
  }
}

TEST(PeLayout, UninstallerImageDropsTheSectionHeader) {
  PeFixture f(0x80, 5, {".text", ".data", ".trux", ".rsrc", ".reloc"});
  PeLayout layout;
  ASSERT_EQ(Find(f, layout), kArchiveOk);
  // Image: the bytes before the section, then those after it.
  String image(reinterpret_cast<const char*>(f.file.data()), (int32_t)layout.sectionFileOffset);
  image.Append(reinterpret_cast<const char*>(f.file.data()) + layout.sectionFileOffset + layout.sectionRawSize,
               (int32_t)(f.file.size() - layout.sectionFileOffset - layout.sectionRawSize));
  String patch("PATCH");
  PatchUninstallerImage(image, layout, 0x10, patch);

  Bytes out(image.CStr(), image.CStr() + image.Length());
  PeFixture view = f;
  view.file = out;
  EXPECT_EQ(out[0x80 + 6], 4);
  EXPECT_EQ(view.Get32(0x80 + 0x20), 0x5000u - 0x200);
  EXPECT_EQ(view.Get32(0x80 + 0x50), 0x9000u - 0x200);
  const uint32_t t = f.table();
  EXPECT_EQ(memcmp(&out[t + 80], ".rsrc", 5), 0);
  EXPECT_EQ(view.Get32(t + 80 + 20), 0x400u + 0x200 * 3 - 0x200);  // moved up, offset less the raw size
  EXPECT_EQ(memcmp(&out[t + 120], ".reloc", 6), 0);
  EXPECT_EQ(view.Get32(t + 120 + 20), 0x400u + 0x200 * 4 - 0x200);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(out[t + 160 + i], 0) << i;  // vacated slot
  EXPECT_EQ(memcmp(&out[0x10], "PATCH", 5), 0);

  String small("MZ");
  PatchUninstallerImage(small, layout, 0x10, patch);  // every patch outside is skipped
  EXPECT_STREQ(small.CStr(), "MZ");
}

// The derivation the runtime and the authoring tool share, before signatures
// were considered: the bytes before the section, every byte after it, the
// headers patched. Unsigned installers must keep giving exactly this.
Bytes TodaysUninstaller(const Bytes& file, const PeLayout& layout, int32_t patchOffset, const String& patch) {
  String image(reinterpret_cast<const char*>(file.data()), (int32_t)layout.sectionFileOffset);
  const size_t after = (size_t)layout.sectionFileOffset + layout.sectionRawSize;
  if (after < file.size())
    image.Append(reinterpret_cast<const char*>(file.data()) + after, (int32_t)(file.size() - after));
  PatchUninstallerImage(image, layout, patchOffset, patch);
  return Bytes(image.CStr(), image.CStr() + image.Length());
}

// An installer laid out as truxpack lays it out: four sections, the archive
// last (file bytes 0xA00 to 0xC00), a PE32 optional header with 16 data
// directories, then `after` bytes (each 0xA0 + its index, so that a byte
// carried to a wrong place shows), and the security directory as given.
struct SignedFixture {
  PeFixture f{0x80, 4, {".text", ".data", ".rdata", ".trux"}};
  explicit SignedFixture(uint32_t after, uint32_t tableOffset = 0, uint32_t tableSize = 0) {
    f.file.resize(0xC00 + after);
    for (uint32_t i = 0; i < after; ++i) f.file[0xC00 + i] = (unsigned char)(0xA0 + i);
    f.Set16(f.pe + 24, 0x10B);
    f.Set32(f.pe + 24 + 92, 16);  // NumberOfRvaAndSizes
    f.Set32(f.pe + kPeChecksumField, 0xC5C5C5C5);
    f.Set32(f.pe + kPeSecurityDirectoryField, tableOffset);
    f.Set32(f.pe + kPeSecurityDirectoryField + 4, tableSize);
  }
};

TEST(UninstallerImage, TheInstallersOwnSignatureIsLeftOutAndNothingElseChanges) {
  constexpr uint32_t kEnd = 0xC00;  // the section's end
  struct Case {
    const char* what;
    uint32_t after, tableOffset, tableSize;
    uint32_t carried;  // bytes after the section the uninstaller keeps
    bool cleared;      // security directory entry cleared
    uint16_t magic = 0x10B;
    uint32_t directories = 16;
  } cases[] = {
      {"unsigned, nothing after the section", 0, 0, 0, 0, false},
      {"unsigned, data after the section", 0x300, 0, 0, 0x300, false},
      {"signed: the table follows the section", 0x5C8, kEnd, 0x5C8, 0, true},
      {"signed over a foreign overlay", 0x700, kEnd + 0x138, 0x5C8, 0x138, true},
      {"a table of one byte at the end", 0x10, kEnd + 0xF, 1, 0xF, true},
      {"the table reaches past the file's end", 0x300, kEnd + 0x100, 0x201, 0x300, false},
      {"the table lies wholly past the file's end", 0x300, 0x10000, 0x100, 0x300, false},
      {"bytes follow the table", 0x300, kEnd, 0x200, 0x300, false},
      {"the table starts inside the section", 0x300, kEnd - 8, 0x308, 0x300, false},
      {"the table lies in the stub", 0x300, 0x200, 0x100, 0x300, false},
      {"size 0", 0x300, kEnd + 0x300, 0, 0x300, false},
      {"offset and size wrap in 32 bits", 0x300, 0xFFFFFF00, 0xC00 + 0x300 + 0x100, 0x300, false},
      {"not PE32 (PE32+ magic)", 0x300, kEnd, 0x300, 0x300, false, 0x20B},
      {"only four data directories", 0x300, kEnd, 0x300, 0x300, false, 0x10B, 4},
  };
  for (const Case& c : cases) {
    SignedFixture s(c.after, c.tableOffset, c.tableSize);
    s.f.Set16(s.f.pe + 24, c.magic);
    s.f.Set32(s.f.pe + 24 + 92, c.directories);
    PeLayout layout;
    ASSERT_EQ(Find(s.f, layout), kArchiveOk) << c.what;
    ASSERT_EQ(layout.sectionFileOffset + layout.sectionRawSize, kEnd) << c.what;

    UninstallerTail tail = PlanUninstallerTail(s.f.file.data(), (int64_t)s.f.file.size(), layout,
                                               (int64_t)s.f.file.size());
    EXPECT_EQ(tail.offset, kEnd) << c.what;
    EXPECT_EQ(tail.size, c.carried) << c.what;
    EXPECT_EQ(tail.signatureLeft, c.cleared) << c.what;

    String image;
    ASSERT_EQ(DeriveUninstallerImage(ReadFromBytes, &s.f.file, (int64_t)s.f.file.size(), layout, UninstallerInputs(),
                                     image),
              kArchiveOk)
        << c.what;
    Bytes got(image.CStr(), image.CStr() + image.Length());
    Bytes today = TodaysUninstaller(s.f.file, layout, 0, String());
    if (!c.cleared) {
      EXPECT_EQ(got, today) << c.what;  // byte for byte what it was
      continue;
    }
    // Today's image without the table, with the entry cleared; nothing else.
    Bytes expected(today.begin(), today.begin() + (0xA00 + c.carried));
    for (uint32_t i = 0; i < 8; ++i) expected[s.f.pe + kPeSecurityDirectoryField + i] = 0;
    EXPECT_EQ(got, expected) << c.what;
    EXPECT_EQ(LoadLe32(&got[s.f.pe + kPeChecksumField]), 0xC5C5C5C5u) << c.what;
  }
}

TEST(UninstallerImage, ThePatchIsWrittenAfterTheEntryIsCleared) {
  // A signed uninstaller's headers travel as the patch: checksum to the end
  // of the security directory entry. They win over the cleared entry.
  SignedFixture s(0x5C8 + 0x100, 0xC00 + 0x100, 0x5C8);
  PeLayout layout;
  ASSERT_EQ(Find(s.f, layout), kArchiveOk);
  String patch;
  char* bytes = patch.TrySetLength((int32_t)kSignedHeaderBytes);
  ASSERT_NE(bytes, nullptr);
  // The headers as they are (data directory count and entries 0 to 3
  // included), with the signed image's checksum and table.
  memcpy(bytes, &s.f.file[s.f.pe + kPeChecksumField], kSignedHeaderBytes);
  StoreLe32(bytes, 0x00123456);                                                       // checksum
  StoreLe32(bytes + kPeSecurityDirectoryField - kPeChecksumField, 0xA00);             // the table's offset
  StoreLe32(bytes + kPeSecurityDirectoryField - kPeChecksumField + 4, 0x100);         // and size
  UninstallerInputs inputs;
  inputs.patchOffset = (int32_t)(s.f.pe + kPeChecksumField);
  inputs.patch = &patch;
  String image;
  ASSERT_EQ(DeriveUninstallerImage(ReadFromBytes, &s.f.file, (int64_t)s.f.file.size(), layout, inputs, image),
            kArchiveOk);
  ASSERT_EQ(image.Length(), 0xA00 + 0x100);
  const unsigned char* u = reinterpret_cast<const unsigned char*>(image.CStr());
  EXPECT_EQ(LoadLe32(u + s.f.pe + kPeChecksumField), 0x00123456u);
  CertificateTable table = SecurityDirectory(u, image.Length(), s.f.pe);
  EXPECT_EQ(table.offset, 0xA00u);
  EXPECT_EQ(table.size, 0x100u);
  EXPECT_EQ(u[0xA00], 0xA0);  // the overlay, now the uninstaller's own table, at its end
}

TEST(UninstallerImage, StubReadChecksumAndTailReadErrors) {
  SignedFixture s(0x300);
  PeLayout layout;
  ASSERT_EQ(Find(s.f, layout), kArchiveOk);
  String image;
  UninstallerInputs inputs;
  inputs.checkStub = true;
  inputs.stubChecksum = BlockChecksum(s.f.file.data(), 0xA00);
  EXPECT_EQ(DeriveUninstallerImage(ReadFromBytes, &s.f.file, (int64_t)s.f.file.size(), layout, inputs, image),
            kArchiveOk);
  inputs.stubChecksum ^= 1;
  EXPECT_EQ(DeriveUninstallerImage(ReadFromBytes, &s.f.file, (int64_t)s.f.file.size(), layout, inputs, image),
            kErrStubChecksum);
  inputs.checkStub = false;
  // A file size that claims more than the bytes there: the tail cannot be read.
  EXPECT_EQ(DeriveUninstallerImage(ReadFromBytes, &s.f.file, (int64_t)s.f.file.size() + 1, layout, inputs, image),
            kErrTrailingRead);
  // A file that ends before the section starts: the stub cannot be read.
  EXPECT_EQ(DeriveUninstallerImage(ReadFromBytes, &s.f.file, 0x900, layout, inputs, image), kErrStubRead);
}

}  // namespace
