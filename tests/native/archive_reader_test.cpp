#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/block.h"
#include "archive/pe_image.h"

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

}  // namespace
