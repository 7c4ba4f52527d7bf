// Stored installers are written and read piece by piece: memory follows the
// largest piece handled, not the product's size, and what the streaming
// code writes and reads is exactly what the in-memory code (the compressed
// path, which serializes the whole region at once) makes of the same
// product. The tool and the installer also walk entry records with one
// shared walk, so they must name the same code for every damaged region.
#include <fcntl.h>
#include <pty.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "archive/entry_record.h"
#include "core/checksum.h"
#include "tests/native/truxpack_test_support.h"
#include "tools/truxpack/cmd_archive.h"
#include "tools/truxpack/core_string.h"
#include "tools/truxpack/encoder.h"
#include "tools/truxpack/installer_reader.h"
#include "tools/truxpack/installer_writer.h"

namespace fs = std::filesystem;
using namespace trux_test;

namespace {

EntryInput Entry(const std::string& name, const std::string& data) {
  EntryInput e;
  e.name = name;
  e.data.assign(data.begin(), data.end());
  e.time = {2021, 3, 4, 5, 6, 7};
  return e;
}

Project SmallProject(std::vector<EntryInput> entries) {
  Project p;
  p.settings.productName = "P";
  p.settings.uninstallerFileName = "Uninstall.exe";
  p.settings.messageCount = 1;
  p.settings.languageNames.Append("English");
  p.settings.messages.Append("P");
  p.entries = std::move(entries);
  return p;
}

std::string Pattern(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    s[i] = (char)(x >> 24);
  }
  return s;
}

// The installer's way through a region: one record after another with the
// shared walk, stopping at the first bad one.
int32_t InstallerWalk(const Bytes& region, const std::vector<uint32_t>& sizes) {
  ArchiveCursor cursor(region.data(), region.data() + region.size());
  for (uint32_t size : sizes) {
    EntryRecord e;
    const unsigned char* data = nullptr;
    ArchiveError code = ReadEntryRecord(cursor, size, e, data);
    if (code != kArchiveOk) return code;
  }
  return kArchiveOk;
}

int32_t ToolWalk(const Bytes& region, const std::vector<uint32_t>& sizes) {
  std::vector<ReadEntry> entries;
  std::string detail;
  return WalkEntries(region.data(), region.size(), sizes, entries, detail);
}

}  // namespace

TEST(StreamedArchiveTest, ToolAndInstallerNameTheSameCodeForEveryDamagedRegion) {
  std::vector<EntryInput> entries = {Entry("a.txt", "alpha"), Entry("dir\\b.exe", "MZ beta"), Entry("c.ttf", "")};
  entries[1].flags = kEntryDesktopShortcut;
  entries[1].text1 = "B";
  entries[1].text2 = "b.ico";
  entries[2].kind = kKindFont;
  entries[2].text4 = "renamed.ttf";
  const Bytes region = SerializeEntries(entries);
  const std::vector<uint32_t> sizes = {5, 7, 0};
  ASSERT_EQ(kArchiveOk, InstallerWalk(region, sizes));
  ASSERT_EQ(kArchiveOk, ToolWalk(region, sizes));
  std::map<int32_t, int> seen;
  // Every cut, and every byte replaced by 0x00, 0x02, 0x2E ('.') and 0xFF.
  for (size_t cut = 0; cut < region.size(); ++cut) {
    Bytes shorter(region.begin(), region.begin() + (ptrdiff_t)cut);
    int32_t code = InstallerWalk(shorter, sizes);
    EXPECT_EQ(code, ToolWalk(shorter, sizes)) << "cut at " << cut;
    ++seen[code];
  }
  for (size_t at = 0; at < region.size(); ++at)
    for (unsigned char value : {0x00, 0x02, 0x2E, 0xFF}) {
      Bytes damaged = region;
      damaged[at] = value;
      int32_t code = InstallerWalk(damaged, sizes);
      EXPECT_EQ(code, ToolWalk(damaged, sizes)) << "byte " << at << " = " << (int)value;
      ++seen[code];
    }
  // The damage reaches every code a record can have.
  for (int32_t code : {kErrArchiveTruncated, kErrEntryNameEmpty, kErrEntryChecksum, kErrEntryKind})
    EXPECT_GT(seen[code], 0) << code;
  // Sizes from the header's table.
  EXPECT_EQ(kErrEntrySizeNegative, InstallerWalk(region, {5, 0x80000000u, 0}));
  EXPECT_EQ(kErrEntrySizeNegative, ToolWalk(region, {5, 0x80000000u, 0}));
  EXPECT_EQ(kErrEntrySizeTooLarge, InstallerWalk(region, {0x40000001u, 7, 0}));
  EXPECT_EQ(kErrEntrySizeTooLarge, ToolWalk(region, {0x40000001u, 7, 0}));
}

// Records whose heads, tails and data cross the reader's window, a text
// longer than the window, and volumes: the streamed walk finds every record
// and hands on every byte.
TEST(StreamedArchiveTest, RecordsAcrossTheReadWindowAndVolumes) {
  std::vector<EntryInput> entries;
  for (int i = 0; i < 400; ++i) entries.push_back(Entry("dir\\f" + std::to_string(i) + ".bin", Pattern(7001 + i, i)));
  entries.push_back(Entry("big.bin", Pattern(2500000, 7)));
  entries[200].flags = kEntryStartMenuShortcut;
  entries[200].text1 = "Shortcut";
  entries[200].text3 = std::string(3 << 20, 'a');  // arguments longer than the window
  entries.push_back(Entry("empty.txt", ""));
  const std::vector<EntryInput> expected = entries;
  Project p = SmallProject(std::move(entries));
  p.pack.volumeSize = 700000;
  MemoryTargets targets;
  WrittenInstaller written;
  std::string error;
  ASSERT_TRUE(WriteInstaller(p, MakeStub(), "setup", targets, false, written, error)) << error;
  ASSERT_GT(written.volumeNames.size(), 5u);
  const Bytes installer = targets.Installer();
  const auto volumes = targets.TakeVolumes();
  VolumeOpener opener = [&volumes](const std::string& name) -> std::unique_ptr<ByteSource> {
    for (const auto& v : volumes)
      if (v.first == name) return std::make_unique<MemorySource>(v.second.data(), v.second.size());
    return nullptr;
  };
  MemorySource file(installer.data(), installer.size());
  InstallerContents c;
  ReadInstaller(file, opener, c);
  ASSERT_EQ(ReadStatus::kOk, c.status) << c.message;
  EXPECT_FALSE(c.regionHeld);
  EXPECT_TRUE(c.region.empty());
  EXPECT_EQ((int32_t)volumes.size(), c.volumesRead);
  ASSERT_EQ(expected.size(), c.entries.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(expected[i].name, Str(c.entries[i].name));
    EXPECT_EQ(expected[i].data.size(), c.entries[i].size);
    EXPECT_EQ(expected[i].text3, Str(c.entries[i].text3)) << i;
  }
  std::vector<std::string> got(expected.size());
  std::vector<bool> done(expected.size(), false);
  size_t largestPiece = 0;
  EntryDataVisitor visitor;
  visitor.data = [&](size_t i, const unsigned char* data, size_t n, std::string&) {
    EXPECT_FALSE(done[i]);
    got[i].append(reinterpret_cast<const char*>(data), n);
    largestPiece = std::max(largestPiece, n);
    return true;
  };
  visitor.done = [&](size_t i, std::string&) {
    done[i] = true;
    return true;
  };
  ASSERT_TRUE(StreamEntryData(file, opener, c, visitor, error)) << error;
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_TRUE(done[i]) << i;
    EXPECT_TRUE(got[i] == std::string(expected[i].data.begin(), expected[i].data.end())) << i;
  }
  EXPECT_LE(largestPiece, 4u << 20);

  // A record whose texts need more memory than the limit is refused, as
  // any declared size above it is.
  InstallerContents limited;
  ReadInstaller(file, opener, limited, 2u << 20);
  EXPECT_EQ(ReadStatus::kTooLarge, limited.status);
  EXPECT_NE(std::string::npos, limited.message.find("entry 201 \"dir\\f200.bin\", its name and texts, would take"))
      << limited.message;

  // The in-memory form joins the same region: it is the records serialized
  // whole.
  InstallerContents whole;
  ReadInstaller(
      installer,
      [&volumes](const std::string& name, Bytes& data) {
        for (const auto& v : volumes)
          if (v.first == name) return data = v.second, true;
        return false;
      },
      whole);
  ASSERT_EQ(ReadStatus::kOk, whole.status) << whole.message;
  EXPECT_TRUE(whole.region == SerializeEntries(expected));

  // A changed byte in a volume is the region's checksum (55), found before
  // any record is looked at.
  auto damaged = volumes;
  damaged[3].second[100] ^= 0x40;
  VolumeOpener damagedOpener = [&damaged](const std::string& name) -> std::unique_ptr<ByteSource> {
    for (const auto& v : damaged)
      if (v.first == name) return std::make_unique<MemorySource>(v.second.data(), v.second.size());
    return nullptr;
  };
  InstallerContents bad;
  ReadInstaller(file, damagedOpener, bad);
  EXPECT_EQ(ReadStatus::kCorrupt, bad.status);
  EXPECT_EQ(kErrDataRegionChecksum, bad.code);
}

// Entries read from their files while the installer is written give the
// bytes that entries held in memory give; a file that changed or vanished
// since the project was read stops the build.
TEST(StreamedArchiveTest, EntriesReadFromTheirFilesWhileWriting) {
  TempDir w;
  std::vector<EntryInput> held, deferred;
  for (int i = 0; i < 4; ++i) {
    const std::string name = "f" + std::to_string(i) + ".bin";
    const std::string data = Pattern((size_t)i * 700000, i);  // one empty, the others across 1 MiB pieces
    w.Write(name, data);
    held.push_back(Entry(name, data));
    EntryInput e = Entry(name, "");
    e.source = (w.path / name).string();
    e.sourceSize = data.size();
    deferred.push_back(e);
  }
  auto build = [](std::vector<EntryInput> entries, Bytes& installer, std::string& error) {
    Project p = SmallProject(std::move(entries));
    p.pack.volumeSize = 900000;
    MemoryTargets targets;
    WrittenInstaller written;
    if (!WriteInstaller(p, MakeStub(), "setup", targets, true, written, error)) return false;
    installer = targets.Installer();
    for (auto& v : targets.TakeVolumes()) installer.insert(installer.end(), v.second.begin(), v.second.end());
    return true;
  };
  Bytes fromMemory, fromFiles;
  std::string error;
  ASSERT_TRUE(build(held, fromMemory, error)) << error;
  ASSERT_TRUE(build(deferred, fromFiles, error)) << error;
  EXPECT_TRUE(fromMemory == fromFiles);

  w.Write("f2.bin", "shorter now");
  EXPECT_FALSE(build(deferred, fromFiles, error));
  EXPECT_NE(std::string::npos, error.find("f2.bin: the file changed since the project was read")) << error;
  fs::remove(w.path / "f2.bin");
  EXPECT_FALSE(build(deferred, fromFiles, error));
  EXPECT_NE(std::string::npos, error.find("f2.bin")) << error;
}

// A compressed region read from the files is the region of the held bytes.
TEST(StreamedArchiveTest, CompressedRegionReadFromTheFiles) {
  TempDir w;
  std::vector<EntryInput> held, deferred;
  for (int i = 0; i < 3; ++i) {
    const std::string name = "c" + std::to_string(i) + ".txt";
    const std::string data = std::string((size_t)i * 5000, (char)('a' + i)) + Pattern(100, i);
    w.Write(name, data);
    held.push_back(Entry(name, data));
    EntryInput e = Entry(name, "");
    e.source = (w.path / name).string();
    e.sourceSize = data.size();
    deferred.push_back(e);
  }
  Bytes region;
  std::string error;
  ASSERT_TRUE(SerializeEntriesInto(deferred, region, error)) << error;
  EXPECT_TRUE(region == SerializeEntries(held));
  BuiltInstaller a, b;
  Project p = SmallProject(held), q = SmallProject(deferred);
  p.settings.Flags |= 1ull << kFlagCompressedRegion;
  q.settings.Flags |= 1ull << kFlagCompressedRegion;
  ASSERT_TRUE(BuildInstaller(p, MakeStub(), "setup", a, error)) << error;
  ASSERT_TRUE(BuildInstaller(q, MakeStub(), "setup", b, error)) << error;
  EXPECT_TRUE(a.installer == b.installer);
}

#ifdef TRUXPACK_BINARY

namespace {


// Files below root, by relative path: contents and modification time.
std::map<std::string, std::pair<std::string, int64_t>> Tree(const fs::path& root) {
  std::map<std::string, std::pair<std::string, int64_t>> files;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    struct stat st;
    stat(e.path().c_str(), &st);
    files[fs::relative(e.path(), root).string()] = {Slurp(e.path()), (int64_t)st.st_mtime};
  }
  return files;
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
  std::vector<char> p(1 << 20), q(1 << 20);
  while (x && y) {
    x.read(p.data(), (std::streamsize)p.size());
    y.read(q.data(), (std::streamsize)q.size());
    if (x.gcount() != y.gcount() || memcmp(p.data(), q.data(), (size_t)x.gcount()) != 0) return false;
  }
  return !x && !y;
}

}  // namespace

// The same product stored (streamed, in volumes) and compressed (the region
// serialized whole in memory, then packed) gives the same records byte for
// byte, and both extract to the source tree.
TEST(StreamedArchiveTest, StoredAndCompressedBuildsHoldTheSameRecords) {
  TempDir w;
  Bytes stub = MakeStub();
  w.Write("stub.exe", std::string(stub.begin(), stub.end()));
  for (int i = 0; i < 30; ++i)
    w.Write("files/d" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".bin", Pattern((size_t)i * i * 997, i));
  w.Write("files/big.bin", Pattern(2 << 20, 99));
  const std::string tree = "[product]\nname = \"P\"\n[data]\nvolume_base_name = \"vol\"\n[[file]]\nsource = \"files/**\"\n";
  w.Write("stored.toml", tree);
  w.Write("packed.toml", tree + "[flags]\ncompressed = true\n");
  Outcome stored = Truxpack(w.path, {"build", "stored.toml", "-o", "stored.exe", "--stub", "stub.exe", "--volume-size", "300K"});
  ASSERT_EQ(0, stored.code) << stored.err;
  ASSERT_TRUE(fs::exists(w.path / "vol3.XAV"));
  fs::create_directories(w.path / "packed");
  Outcome packed = Truxpack(w.path, {"build", "packed.toml", "-o", "packed/packed.exe", "--stub", "stub.exe", "--level", "fast"});
  ASSERT_EQ(0, packed.code) << packed.err;

  auto volumesIn = [&w](const fs::path& dir) {
    return [dir](const std::string& name, Bytes& data) {
      std::string error;
      return ReadWholeFile((dir / name).string(), data, error);
    };
  };
  Bytes storedFile, packedFile;
  std::string error;
  ASSERT_TRUE(ReadWholeFile((w.path / "stored.exe").string(), storedFile, error)) << error;
  ASSERT_TRUE(ReadWholeFile((w.path / "packed/packed.exe").string(), packedFile, error)) << error;
  InstallerContents a, b;
  ReadInstaller(storedFile, volumesIn(w.path), a);
  ReadInstaller(packedFile, volumesIn(w.path / "packed"), b);
  ASSERT_EQ(ReadStatus::kOk, a.status) << a.message;
  ASSERT_EQ(ReadStatus::kOk, b.status) << b.message;
  EXPECT_GT(a.volumesRead, 20);
  EXPECT_EQ(0, b.volumesRead);
  EXPECT_EQ(31u, a.entries.size());
  EXPECT_TRUE(a.region == b.region) << a.region.size() << " vs " << b.region.size();

  for (const char* which : {"stored.exe", "packed/packed.exe"}) {
    std::string target = std::string("out-") + (which[0] == 's' ? "stored" : "packed");
    Outcome listed = Truxpack(w.path, {"list", which});
    EXPECT_EQ(0, listed.code) << listed.err;
    Outcome verified = Truxpack(w.path, {"verify", which});
    EXPECT_EQ(0, verified.code) << verified.err;
    Outcome extracted = Truxpack(w.path, {"extract", which, target});
    ASSERT_EQ(0, extracted.code) << extracted.err;
    EXPECT_TRUE(Tree(w.path / target) == Tree(w.path / "files")) << which;
  }
  // A missing volume is named, and nothing is extracted.
  fs::remove(w.path / "vol3.XAV");
  Outcome missing = Truxpack(w.path, {"extract", "stored.exe", "out-missing"});
  EXPECT_EQ(1, missing.code);
  EXPECT_NE(std::string::npos, missing.err.find("vol3.XAV is missing")) << missing.err;
  EXPECT_FALSE(fs::exists(w.path / "out-missing" / "big.bin"));
}

// Under the address sanitizer the tool's resident set carries the
// sanitizer's shadow memory and freed-block quarantine, so peak figures say
// nothing about the tool's own memory there: the tests still run every
// command and check its bytes, and compare peaks only in a plain build.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPeaksMeaningful = false;
#else
constexpr bool kPeaksMeaningful = true;
#endif

// One large file among many small ones: a stored build and list, verify and
// extract of it stay within 1.2 times the largest file plus 64 MB, whatever
// the product's total; the bytes extracted are the bytes packed.
TEST(StreamedArchiveTest, PeakMemoryFollowsTheLargestFileNotTheProduct) {
  if (access(kTimeProgram, X_OK) != 0) GTEST_SKIP() << kTimeProgram << " is missing (scripts/install-deps installs it)";
  TempDir w;
  Bytes stub = MakeStub();
  w.Write("stub.exe", std::string(stub.begin(), stub.end()));
  constexpr size_t kLarge = 200u << 20;
  {
    fs::create_directories(w.path / "files");
    std::ofstream big(w.path / "files" / "large.bin", std::ios::binary);
    const std::string block = Pattern(1 << 20, 5);
    for (size_t i = 0; i < kLarge / block.size(); ++i) {
      std::string piece = block;
      memcpy(&piece[0], &i, sizeof i);  // no two blocks alike
      big << piece;
    }
  }
  for (int i = 0; i < 200; ++i) w.Write("files/small/s" + std::to_string(i) + ".txt", Pattern(1000 + i, i));
  w.Write("p.toml", "[product]\nname = \"P\"\n[data]\noutside_image = true\n[[file]]\nsource = \"files/**\"\n");
  const long limitKb = (long)(1.2 * (kLarge >> 10)) + (64 << 10);

  Outcome build = Truxpack(w.path, {"build", "-q", "p.toml", "-o", "setup.exe", "--stub", "stub.exe"}, {}, nullptr, true);
  ASSERT_EQ(0, build.code) << build.err;
  EXPECT_GT(fs::file_size(w.path / "setup.exe"), kLarge);
  EXPECT_GT(build.peakKb, 0);
  if (kPeaksMeaningful) {
    EXPECT_LE(build.peakKb, limitKb) << "build";
  }
  for (const char* command : {"list", "verify"}) {
    Outcome r = Truxpack(w.path, {command, "setup.exe"}, {}, nullptr, true);
    EXPECT_EQ(0, r.code) << r.err;
    EXPECT_GT(r.peakKb, 0) << command;
    if (kPeaksMeaningful) {
      EXPECT_LE(r.peakKb, limitKb) << command;
    }
  }
  Outcome extract = Truxpack(w.path, {"extract", "-q", "setup.exe", "out"}, {}, nullptr, true);
  ASSERT_EQ(0, extract.code) << extract.err;
  EXPECT_GT(extract.peakKb, 0);
  if (kPeaksMeaningful) {
    EXPECT_LE(extract.peakKb, limitKb) << "extract";
  }
  EXPECT_TRUE(SameFile(w.path / "files" / "large.bin", w.path / "out" / "large.bin"));
  EXPECT_EQ(Slurp(w.path / "files/small/s17.txt"), Slurp(w.path / "out/small/s17.txt"));
}

// A compressed build holds the product's files once, as the region being
// packed, not a second time beside it: with files that pack to almost
// nothing, its peak stays within the product two and a half times (the
// region, the long-range table, output and the heap's slack) plus the fast
// level's hash buckets on two threads; a second copy of the files takes it
// a product's size past that.
TEST(StreamedArchiveTest, CompressedBuildHoldsTheFilesOnce) {
  if (access(kTimeProgram, X_OK) != 0) GTEST_SKIP() << kTimeProgram << " is missing (scripts/install-deps installs it)";
  TempDir w;
  Bytes stub = MakeStub();
  w.Write("stub.exe", std::string(stub.begin(), stub.end()));
  constexpr size_t kFile = 16u << 20, kFiles = 4, kInput = kFile * kFiles;
  for (size_t i = 0; i < kFiles; ++i) {
    std::string unit = Pattern(64 << 10, (uint32_t)i + 7), file;
    while (file.size() < kFile) file += unit;
    w.Write("files/f" + std::to_string(i) + ".bin", file);
  }
  w.Write("p.toml", "[product]\nname = \"P\"\n[flags]\ncompressed = true\n[data]\noutside_image = true\n"
                    "[[file]]\nsource = \"files/**\"\n");
  Outcome build = Truxpack(
      w.path, {"build", "-q", "p.toml", "-o", "setup.exe", "--stub", "stub.exe", "--level", "fast", "--threads", "2"},
      {}, nullptr, true);
  ASSERT_EQ(0, build.code) << build.err;
  EXPECT_LT(fs::file_size(w.path / "setup.exe"), kInput / 50);
  EXPECT_GT(build.peakKb, 0);
  if (kPeaksMeaningful) {
    constexpr size_t kFastBuckets = size_t{32} << 20;  // per thread
    EXPECT_LE((size_t)build.peakKb, (5 * kInput / 2 + 2 * kFastBuckets) >> 10);
  }
  Outcome verify = Truxpack(w.path, {"verify", "setup.exe"});
  EXPECT_EQ(0, verify.code) << verify.err;
}

namespace {

// The tool's standard error when it is a terminal (a pseudo-terminal here).
std::string OnTerminal(const fs::path& cwd, std::vector<std::string> args) {
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    EnterAndRedirect(cwd, open("/dev/null", O_WRONLY), -1);  // only standard error stays on the terminal
    ExecTruxpack(args);
  }
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) text.append(buffer, (size_t)n);
  (void)WaitForExit(pid);  // what the terminal showed is the result
  close(master);
  return text;
}

}  // namespace

// verify and extract show where they are on a terminal, as build does; a
// log (not a terminal) gets no terminal codes, and -q silences them all.
TEST(StreamedArchiveTest, ProgressOnATerminal) {
  TempDir w;
  Bytes stub = MakeStub();
  w.Write("stub.exe", std::string(stub.begin(), stub.end()));
  for (int i = 0; i < 5; ++i) w.Write("files/f" + std::to_string(i) + ".bin", Pattern(100000, i));
  w.Write("p.toml", "[product]\nname = \"P\"\n[[file]]\nsource = \"files/*\"\n");
  ASSERT_EQ(0, Truxpack(w.path, {"build", "p.toml", "-o", "setup.exe", "--stub", "stub.exe"}).code);
  std::string verify = OnTerminal(w.path, {"verify", "setup.exe"});
  EXPECT_NE(std::string::npos, verify.find("verifying setup.exe, data checksum:")) << verify;
  EXPECT_NE(std::string::npos, verify.find("verifying setup.exe, entries:")) << verify;
  EXPECT_NE(std::string::npos, verify.find("\r\033[K")) << "the line is rewritten in place";
  std::string extract = OnTerminal(w.path, {"extract", "setup.exe", "out"});
  EXPECT_NE(std::string::npos, extract.find("extracting 0.1 MB of 0.5 MB, 0 of 5 files, 20%")) << extract;
  EXPECT_EQ("", OnTerminal(w.path, {"extract", "-q", "--force", "setup.exe", "out"}));
  Outcome logged = Truxpack(w.path, {"verify", "setup.exe"});
  EXPECT_EQ(0, logged.code);
  EXPECT_EQ("", logged.err);
}

#endif  // TRUXPACK_BINARY
