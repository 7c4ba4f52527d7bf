// Addresses above 2 GiB. This program is linked large-address-aware, as the
// runtime is, and before anything else it reserves every free piece of the
// address space below 2 GiB: every block allocated afterwards (the heap's new
// segments, the region buffer, the unpacked region) lies above 2 GiB, where a
// pointer or size taken through a signed 32-bit int turns negative.
//
// On top of that, the data region and the extraction run on a small product
// in each layout that puts the region in memory of its own (in the "mapped
// section" used in place, unpacked from a compressed block, read from the own
// file, joined from volumes), and every installed file is compared byte for
// byte; the block decoder runs on a block with every kind of code, placed so
// that its input and its output end exactly where committed memory ends at
// the end of a block of committed memory. Each test asserts that its buffers really lie
// above 2 GiB. A record whose size would carry the cursor past the end of the
// address space is reported as truncated (46), in a child process.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive/block.h"
#include "core/checksum.h"
#include "core/path.h"
#include "core/win32/path_variables.h"
#include "install/data_region.h"
#include "install/extraction.h"
#include "runtime/installer_archive.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "tests/win32/box_answerer.h"
#include "tests/win32/entry_records.h"
#include "tests/win32/file_test_support.h"
#include "tests/win32/run_case.h"
#include "ui/progress_dialog.h"

using namespace filetest;
using namespace entrytest;

namespace {

constexpr uintptr_t kTwoGiB = 0x80000000u;
constexpr size_t kPage = 4096;

bool IsHigh(const void* p) { return reinterpret_cast<uintptr_t>(p) >= kTwoGiB; }

// Reserves every free region below 2 GiB; returns the bytes reserved.
size_t ReserveBelowTwoGiB() {
  size_t reserved = 0;
  uintptr_t at = 0x10000;
  while (at < kTwoGiB) {
    MEMORY_BASIC_INFORMATION info;
    if (!VirtualQuery(reinterpret_cast<void*>(at), &info, sizeof info)) break;
    const uintptr_t base = reinterpret_cast<uintptr_t>(info.BaseAddress);
    uintptr_t end = base + info.RegionSize;
    if (end > kTwoGiB || end < base) end = kTwoGiB;
    if (info.State == MEM_FREE) {
      // Reservations start on the 64 KiB allocation granularity.
      const uintptr_t start = (base + 0xFFFF) & ~uintptr_t{0xFFFF};
      if (start < end && VirtualAlloc(reinterpret_cast<void*>(start), end - start, MEM_RESERVE, PAGE_NOACCESS))
        reserved += end - start;
    }
    at = end;
  }
  return reserved;
}

// Committed memory above 2 GiB whose last byte is the last byte of `size`
// bytes handed out: reading or writing one byte past them faults. Never
// freed (the tests' buffers live as long as the process).
unsigned char* EndAlignedHighBlock(size_t size) {
  const size_t pages = (size + kPage - 1) / kPage;
  unsigned char* block =
      static_cast<unsigned char*>(VirtualAlloc(nullptr, pages * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  if (!block) return nullptr;
  return block + pages * kPage - size;
}

// The same in the highest 64 KiB the process can have (size <= 64 KiB):
// reservations are handed out upwards, so once the whole address space is
// reserved, the last piece is the highest; everything else is given back.
unsigned char* EndAlignedTopBlock(size_t size) {
  std::vector<void*> pieces;
  for (size_t piece : {size_t{64} << 20, size_t{1} << 20, size_t{64} << 10})
    while (void* p = VirtualAlloc(nullptr, piece, MEM_RESERVE, PAGE_NOACCESS)) pieces.push_back(p);
  if (pieces.empty()) return nullptr;
  void* top = pieces.back();
  for (void* p : pieces)
    if (p > top) top = p;
  for (void* p : pieces)
    if (p != top) VirtualFree(p, 0, MEM_RELEASE);
  const size_t granule = size_t{64} << 10;
  unsigned char* block = static_cast<unsigned char*>(VirtualAlloc(top, granule, MEM_COMMIT, PAGE_READWRITE));
  if (!block || size > granule) return nullptr;
  return block + granule - size;
}


// File contents of a mixed kind: text-like lines, repeats from near and far
// back, runs of one byte, and bytes without a pattern.
std::string Content(size_t n, uint32_t seed) {
  std::string s;
  s.reserve(n);
  uint32_t x = seed * 2654435761u + 1;
  auto next = [&x] { return x = x * 1103515245u + 12345u; };
  while (s.size() < n) {
    switch ((next() >> 16) % 4) {
      case 0: s += "line " + std::to_string(next() % 1000) + " of the high-address product\r\n"; break;
      case 1:
        if (s.size() > 64) {
          const size_t from = (next() >> 4) % (s.size() - 32);
          s += s.substr(from, 4 + (next() >> 8) % 200);
        }
        break;
      case 2: s.append(3 + (next() >> 8) % 300, (char)(next() >> 24)); break;
      default:
        for (int i = (int)((next() >> 8) % 64); i >= 0; --i) s.push_back((char)(next() >> 24));
    }
  }
  s.resize(n);
  return s;
}

// ---------------------------------------------------------------- a block encoder for the tests

class BitWriter {
 public:
  void Put(uint64_t value, uint32_t bits) {
    for (uint32_t i = 0; i < bits; ++i) {
      if (used_ == 0) out_.push_back('\0');
      if ((value >> i) & 1) out_.back() = (char)(out_.back() | (1 << used_));
      used_ = (used_ + 1) & 7;
    }
  }
  void VarNum(VarNumCode code, uint64_t value) {
    const uint32_t k = VarNumPrefix(code, value);
    for (uint32_t i = 0; i < k; ++i) Put(1, 1);
    Put(0, 1);
    Put(value, VarNumWidth(code, k));
  }
  std::string& Bytes() { return out_; }

 private:
  std::string out_;
  uint32_t used_ = 0;
};

// Greedy: byte runs of 3 and more, back-references of 4 and more found
// through a hash of 4 bytes, literal runs between them. The codes of every
// kind come out, at distances near and far.
std::string Compress(const std::string& in) {
  BitWriter w;
  std::vector<int64_t> last(1 << 16, -1);
  size_t literalStart = 0;
  auto flush = [&](size_t end) {
    if (end == literalStart) return;
    w.Put(0, 1);
    w.VarNum(kLiteralCount, end - literalStart - kMinLiteralRun);
    for (size_t i = literalStart; i < end; ++i) w.Put((unsigned char)in[i], 8);
  };
  size_t i = 0;
  while (i < in.size()) {
    size_t run = 1;
    while (i + run < in.size() && in[i + run] == in[i]) ++run;
    if (run >= kMinRunCount) {
      flush(i);
      w.Put(1, 1);
      w.Put(1, 1);
      w.Put((unsigned char)in[i], 8);
      w.VarNum(kRunCount, run - kMinRunCount);
      i += run;
      literalStart = i;
      continue;
    }
    if (i + 4 <= in.size()) {
      uint32_t h;
      memcpy(&h, in.data() + i, 4);
      h = (h * 2654435761u) >> 16;
      const int64_t candidate = last[h];
      last[h] = (int64_t)i;
      if (candidate >= 0 && i - (size_t)candidate >= kMinMatchDistance) {
        const size_t distance = i - (size_t)candidate;
        size_t length = 0;
        while (i + length < in.size() && length < distance && in[(size_t)candidate + length] == in[i + length])
          ++length;
        if (length >= kMinMatchLength) {
          flush(i);
          w.Put(1, 1);
          w.Put(0, 1);
          w.VarNum(kMatchLength, length - kMinMatchLength);
          w.VarNum(kMatchDistance, distance - kMinMatchDistance);
          i += length;
          literalStart = i;
          continue;
        }
      }
    }
    ++i;
  }
  flush(in.size());
  return Le32(kBlockMagic) + Le32((uint32_t)in.size()) + w.Bytes();
}

// ---------------------------------------------------------------- the product

// A file of the product, dated 2024-05-06 07:08:10.
Entry File(const std::string& name, const std::string& data) {
  Entry e;
  e.name = name;
  e.data = data;
  e.when = {2024, 5, 6, 7, 8, 10};
  return e;
}

// About 3 MiB in nested folders: two files of a megabyte, many small ones,
// an empty one.
std::vector<Entry> Product() {
  std::vector<Entry> entries;
  entries.push_back(File("big\\one.bin", Content(1u << 20, 1)));
  entries.push_back(File("big\\two.dll", Content((1u << 20) + 777, 2)));
  for (uint32_t i = 0; i < 40; ++i)
    entries.push_back(File("small\\" + std::to_string(i % 5) + "\\file" + std::to_string(i) + ".txt",
                           Content(1 + i * 997 % 30000, 10 + i)));
  entries.push_back(File("empty.txt", ""));
  return entries;
}

std::string Region(const std::vector<Entry>& entries) {
  std::string region;
  for (const Entry& e : entries) region += Record(e);
  return region;
}

void LoadMessages(Run& run) {
  Array<String> table;
  for (int i = 0; i < 80; ++i) {
    const char* text = "M";
    if (i == 13) text = "Corrupt. Error code: %d";
    table.Append(String(text));
  }
  run.messages.Set(1, table);
}

constexpr int32_t kRegionOffset = 64;  // header and settings before the region
constexpr uint32_t kSectionFileOffset = 1024;
constexpr uint32_t kIdentifier = 0x11223344;
const std::string kInst = "C:\\high\\inst";

std::string ProgramDirectory() {
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  return DirectoryOf(exe).CStr();
}

std::string VolumePath(int k) { return ProgramDirectory() + "\\hv" + std::to_string(k) + ".XAV"; }

enum class Where { kImage, kImageCompressed, kOwnFile, kVolumes };

// Sets the archive up as the installer would find it: the section (above
// 2 GiB, at the top of the address space when atTop is set, ending where
// committed memory ends) holds the header bytes and the region or its first
// piece; the rest lies in the own file or in two volumes. Returns the
// section's first byte.
const unsigned char* Prepare(Run& run, Where where, const std::vector<Entry>& entries, bool atTop = false,
                             const std::string* packed = nullptr) {
  LoadMessages(run);
  run.options.automaticMode = true;
  FreshDirectory("high");
  CreateDirectoryA(kInst.c_str(), nullptr);
  run.directories.installation = kInst.c_str();
  run.directories.shared = kInst.c_str();
  run.directories.uninstall = kInst.c_str();

  const std::string plain = Region(entries);
  const std::string stored = packed ? *packed : where == Where::kImageCompressed ? Compress(plain) : plain;
  InstallerArchive& a = run.archive;
  run.productFlags = where == Where::kImageCompressed ? (1ull << kFlagCompressedRegion) : 0;
  a.settings.dataOutsideImage = where == Where::kOwnFile ? 1 : 0;
  a.settings.volumeBaseName = "hv";
  a.settings.volumeIdentifier = kIdentifier;
  a.settings.StagePause = 0;
  a.header.header.dataRegionSize = (int32_t)stored.size();
  a.header.header.dataRegionChecksum = BlockChecksum(stored.data(), (int32_t)stored.size());
  a.header.dataRegionOffset = kRegionOffset;
  for (const Entry& e : entries) a.header.entrySizes.Append((uint32_t)e.data.size());

  size_t firstPiece = stored.size();
  if (where == Where::kOwnFile) firstPiece = 0;
  if (where == Where::kVolumes) firstPiece = stored.size() / 3;
  const std::string section = std::string(kRegionOffset, 'h') + stored.substr(0, firstPiece);
  unsigned char* mapped = atTop ? EndAlignedTopBlock(section.size()) : EndAlignedHighBlock(section.size());
  if (!mapped) return nullptr;
  memcpy(mapped, section.data(), section.size());
  a.base = mapped;
  a.header.header.sectionArchiveSize = (int32_t)section.size();
  if (where == Where::kOwnFile) {
    const std::string own = ProgramDirectory() + "\\high_own.exe";
    WriteRaw(own, std::string(kSectionFileOffset, 's') + std::string(kRegionOffset, 'h') + stored);
    if (a.ownFile.Open(own.c_str(), kOpenReadShared) != kOpenOk) return nullptr;
    a.ownFileSize = a.ownFile.Size();
    a.layout.sectionFileOffset = kSectionFileOffset;
  }
  for (int k = 2; k < 5; ++k) DeleteFileA(VolumePath(k).c_str());
  if (where == Where::kVolumes) {
    const size_t second = (stored.size() - firstPiece) / 2;
    WriteRaw(VolumePath(2), Le32(kIdentifier) + stored.substr(firstPiece, second));
    WriteRaw(VolumePath(3), Le32(kIdentifier + 1) + stored.substr(firstPiece + second));
  }
  return mapped;
}

class HighAddressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Every new block of address space comes from above 2 GiB.
    void* probe = VirtualAlloc(nullptr, 1 << 16, MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_NE(probe, nullptr);
    EXPECT_TRUE(IsHigh(probe)) << probe;
    VirtualFree(probe, 0, MEM_RELEASE);
  }
};

TEST_F(HighAddressTest, RegionAndExtractionInEveryLayout) {
  const std::vector<Entry> entries = Product();
  struct Case {
    const char* name;
    Where where;
    bool inPlace;  // the cursor reads the section itself
  } cases[] = {
      {"in the image", Where::kImage, true},
      {"compressed, in the image", Where::kImageCompressed, false},
      {"beyond the image", Where::kOwnFile, false},
      {"image and two volumes", Where::kVolumes, false},
  };
  for (const Case& c : cases) {
    AttachedRun fresh;
    ::Run& run = fresh.run;
    const unsigned char* section = Prepare(run, c.where, entries);
    ASSERT_NE(section, nullptr) << c.name;
    ASSERT_TRUE(IsHigh(section)) << c.name;
    ProgressDialog progress(run);
    AssembleDataRegion(run, progress);
    const ArchiveCursor& cursor = run.archive.cursor;
    EXPECT_TRUE(IsHigh(cursor.Base())) << c.name << ": region at " << (const void*)cursor.Base();
    EXPECT_EQ(cursor.Base() == section + kRegionOffset, c.inPlace) << c.name;
    EXPECT_EQ(cursor.Left(), (int64_t)Region(entries).size()) << c.name;

    ExtractEntries(run, progress);
    EXPECT_EQ(std::string(run.texts.errors.CStr()), "") << c.name;
    for (const Entry& e : entries) {
      const std::string path = kInst + "\\" + e.name;
      EXPECT_TRUE(ReadRaw(path) == e.data) << c.name << ": " << e.name << " differs from its entry";
      SYSTEMTIME t;
      ASSERT_TRUE(LocalWriteTime(path, t)) << c.name << ": " << e.name;
      EXPECT_EQ(t.wYear * 10000 + t.wMonth * 100 + t.wDay, 20240506) << c.name << ": " << e.name;
      EXPECT_EQ(t.wHour * 10000 + t.wMinute * 100 + t.wSecond, 70810) << c.name << ": " << e.name;
    }
  }
  for (int k = 2; k < 5; ++k) DeleteFileA(VolumePath(k).c_str());
}

TEST_F(HighAddressTest, DecoderReadsAndWritesNothingPastItsBuffersAboveTwoGiB) {
  const std::string data = Content(3u << 20, 7);
  const std::string block = Compress(data);
  ASSERT_LT(block.size(), data.size());  // back-references and runs were used
  unsigned char* in = EndAlignedHighBlock(block.size());
  unsigned char* out = EndAlignedHighBlock(data.size());
  ASSERT_TRUE(in && out);
  ASSERT_TRUE(IsHigh(in) && IsHigh(out));
  memcpy(in, block.data(), block.size());
  EXPECT_EQ(UnpackBlockInto(in, (int32_t)block.size(), out, (int32_t)data.size()), (int32_t)data.size());
  EXPECT_TRUE(memcmp(out, data.data(), data.size()) == 0);

  // Cut anywhere, the block fails without reading past its end.
  for (size_t cut : {block.size() - 1, block.size() - 17, block.size() / 2, (size_t)9}) {
    unsigned char* shortIn = EndAlignedHighBlock(cut);
    ASSERT_NE(shortIn, nullptr);
    memcpy(shortIn, block.data(), cut);
    EXPECT_EQ(UnpackBlockInto(shortIn, (int32_t)cut, out, (int32_t)data.size()), -1) << cut;
  }

  // The heap form: its new block lies above 2 GiB too.
  const unsigned char* decoded = in;
  int32_t length = (int32_t)block.size();
  ASSERT_TRUE(UnpackBlock(decoded, length));
  EXPECT_TRUE(IsHigh(decoded)) << (const void*)decoded;
  ASSERT_EQ(length, (int32_t)data.size());
  EXPECT_TRUE(memcmp(decoded, data.data(), data.size()) == 0);
}

TEST_F(HighAddressTest, RecordSizeReachingPastTheAddressSpaceIsTruncated) {
  std::string output;
  const std::string scratch = FreshDirectory("high_corrupt");
  const int exitCode = RunSelfForLines("--corrupt past-the-top", output, scratch);
  EXPECT_EQ(exitCode, 1) << output;
  EXPECT_NE(output.find("section=high at "), std::string::npos) << output;
  EXPECT_NE(output.find("caption=FATAL ERROR\ntext=Corrupt. Error code: 46\n"), std::string::npos) << output;
  EXPECT_EQ(output.find("not ended"), std::string::npos) << output;
  EXPECT_FALSE(Exists(kInst + "\\far.bin"));
}

// The child of the test above: an entry whose size table claims 1 GiB - 1
// while its record lies in the last page of the address space, so the
// cursor's end plus that size would wrap around.
void RunCorruptCase() {
  const std::vector<Entry> entries = {File("far.bin", "abcd")};
  AttachedRun fresh;  // the process ends in its fatal path
  Run& run = fresh.run;
  const unsigned char* section = Prepare(run, Where::kImage, entries, true);
  // Past the top: the section's address plus the claimed size wraps around.
  const bool wraps = section && (uintptr_t)section + (uintptr_t)kMaxBlockOutput < (uintptr_t)section;
  fprintf(stderr, "section=%s at %p\n", wraps ? "high" : "low", (const void*)section);
  fflush(stderr);
  run.archive.header.entrySizes[0] = (uint32_t)kMaxBlockOutput;
  ProgressDialog progress(run);
  AssembleDataRegion(run, progress);
  BoxAnswerer box(IDOK, 20000, PrintBoxToStderr);
  ExtractEntries(run, progress);
  fprintf(stderr, "not ended\n");
}

TEST_F(HighAddressTest, RegionTooLargeForTheMemoryLeftIsReportedAsSuch) {
  std::string output;
  const std::string scratch = FreshDirectory("high_memory");
  const int exitCode = RunSelfForLines("--corrupt no-memory", output, scratch);
  EXPECT_EQ(exitCode, 1) << output;
  EXPECT_NE(output.find("caption=FATAL ERROR\ntext=Out Of Memory.  Make sure the hard drive is not full.\n"
                        "Requested size = 1073741823 (0x3FFFFFFF)\n"),
            std::string::npos)
      << output;
  EXPECT_EQ(output.find("not ended"), std::string::npos) << output;
}

// The child of the test above: a compressed region of a few bytes, one byte
// run of 1 GiB - 1, whose checksum holds, unpacked when no piece of the
// address space of 64 MiB is left.
void RunNoMemoryCase() {
  BitWriter w;
  w.Put(1, 1);
  w.Put(1, 1);
  w.Put('z', 8);
  w.VarNum(kRunCount, (uint64_t)kMaxBlockOutput - kMinRunCount);
  const std::string block = Le32(kBlockMagic) + Le32((uint32_t)kMaxBlockOutput) + w.Bytes();
  AttachedRun fresh;  // the process ends in its fatal path
  Run& run = fresh.run;
  Prepare(run, Where::kImageCompressed, {}, false, &block);
  while (VirtualAlloc(nullptr, size_t{64} << 20, MEM_RESERVE, PAGE_NOACCESS)) {
  }
  BoxAnswerer box(IDOK, 20000, [](const BoxAnswerer& b) {
    std::string body = b.Body();
    body.resize(std::min(body.size(), body.find("Stack")));  // the stack words differ from run to run
    fprintf(stderr, "caption=%s\ntext=%s\n", b.Caption().c_str(), body.c_str());
    fflush(stderr);
  });
  ProgressDialog progress(run);
  AssembleDataRegion(run, progress);
  fprintf(stderr, "not ended\n");
}

}  // namespace

int main(int argc, char** argv) {
  const size_t reserved = ReserveBelowTwoGiB();
  if (argc == 3 && strcmp(argv[1], "--corrupt") == 0) {
    if (strcmp(argv[2], "no-memory") == 0) RunNoMemoryCase();
    RunCorruptCase();
    return 3;
  }
  ::testing::InitGoogleTest(&argc, argv);
  printf("reserved %u MiB below 2 GiB\n", (unsigned)(reserved >> 20));
  return RUN_ALL_TESTS();
}
