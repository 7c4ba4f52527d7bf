// The entry-record walk shared by the installer's extraction and truxpack's
// readers, and the checksum taken over bytes that arrive in pieces.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "archive/entry_record.h"
#include "core/checksum.h"

namespace {

TEST(RunningChecksum, EqualsTheBlockChecksumForAnySplit) {
  unsigned char data[37];
  for (size_t i = 0; i < sizeof data; ++i) data[i] = (unsigned char)(i * 73 + 0x9B);  // signed tails included
  for (size_t length = 0; length <= sizeof data; ++length)
    for (size_t first = 0; first <= length; ++first)
      for (size_t second = first; second <= length; ++second) {
        RunningChecksum sum;
        sum.Add(data, first);
        sum.Add(data + first, second - first);
        sum.Add(data + second, length - second);
        ASSERT_EQ(BlockChecksum(data, (int32_t)length), sum.Value())
            << "length " << length << ", split at " << first << " and " << second;
      }
  RunningChecksum none;
  none.Add(nullptr, 5);
  EXPECT_EQ(kChecksumSeed, none.Value());
}

// A record built field by field: head, data, checksum, tail.
struct Record {
  std::string bytes;
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes += (char)(v >> (8 * i));
  }
  void Text(const std::string& s) {
    bytes += s;
    bytes += '\0';
  }
};

std::string MakeRecord(const std::string& name, uint32_t kind, uint32_t flags, const std::string& data,
                       const std::string& text4 = "", int checksumDelta = 0) {
  Record r;
  r.Text(name);
  r.U32(kind);
  r.U32(flags);
  r.U32(0xFFFFFFFFu);
  r.bytes += data;
  r.U32(BlockChecksum(data.data(), (int32_t)data.size()) + (uint32_t)checksumDelta);
  for (uint32_t v : {2024u, 5u, 6u, 7u, 8u, 9u}) r.U32(v);
  r.Text("1.0");
  if (flags & 3) r.Text("icon.ico");
  r.Text("args");
  r.Text(text4);
  r.Text("");
  return r.bytes;
}

ArchiveError Walk(const std::string& bytes, uint32_t size, EntryRecord& e, const unsigned char*& data) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
  ArchiveCursor cursor(p, p + bytes.size());
  return ReadEntryRecord(cursor, size, e, data);
}

TEST(EntryRecordWalk, CodesInTheInstallersOrder) {
  struct Case {
    const char* what;
    std::string bytes;
    uint32_t size;
    ArchiveError code;
  } cases[] = {
      {"plain", MakeRecord("a.txt", kKindInstallDir, 0, "hello"), 5, kArchiveOk},
      {"shortcut texts", MakeRecord("a.exe", kKindInstallDir, 3, "MZ"), 2, kArchiveOk},
      {"empty data", MakeRecord("e.txt", kKindInstallDir, 0, ""), 0, kArchiveOk},
      {"empty name", MakeRecord("", kKindInstallDir, 0, "x"), 1, kErrEntryNameEmpty},
      {"name leaves its directory", MakeRecord("..\\x", kKindInstallDir, 0, "x"), 1, kErrEntryNameEmpty},
      {"no NUL after the name", std::string("abc"), 0, kErrArchiveTruncated},
      {"negative size", MakeRecord("a", kKindInstallDir, 0, ""), 0x80000000u, kErrEntrySizeNegative},
      {"size above 1 GiB", MakeRecord("a", kKindInstallDir, 0, ""), 0x40000001u, kErrEntrySizeTooLarge},
      {"data past the region", MakeRecord("a", kKindInstallDir, 0, "xy"), 4000, kErrArchiveTruncated},
      {"checksum", MakeRecord("a", kKindInstallDir, 0, "data", "", 1), 4, kErrEntryChecksum},
      {"tail cut", MakeRecord("a", kKindInstallDir, 0, "data").substr(0, 40), 4, kErrArchiveTruncated},
      {"kind 2", MakeRecord("a", 2, 0, "x"), 1, kErrEntryKind},
      {"kind 10", MakeRecord("a", 10, 0, "x"), 1, kErrEntryKind},
      {"kind 2 with a destination path", MakeRecord("a", 2, 0, "x", "%SystemDir%\\"), 1, kArchiveOk},
      {"kind 2 into the uninstall directory", MakeRecord("a", 2, kEntryToUninstallDir, "x"), 1, kArchiveOk},
      // A new file name keeps the entry in its kind's directory: the kind
      // is examined.
      {"kind 2 renamed", MakeRecord("a", 2, 0, "x", "b.txt"), 1, kErrEntryKind},
      {"renamed to an unusable name", MakeRecord("a", 0, 0, "x", ":b"), 1, kErrEntryNameEmpty},
  };
  for (const Case& c : cases) {
    EntryRecord e;
    const unsigned char* data = nullptr;
    EXPECT_EQ(c.code, Walk(c.bytes, c.size, e, data)) << c.what;
  }
  EntryRecord e;
  const unsigned char* data = nullptr;
  const std::string bytes = MakeRecord("dir\\a.exe", kKindVersioned, 3, "MZdata");
  ASSERT_EQ(kArchiveOk, Walk(bytes, 6, e, data));
  EXPECT_STREQ("dir\\a.exe", e.name.CStr());
  EXPECT_EQ(kKindVersioned, e.kind);
  EXPECT_EQ(6u, e.size);
  EXPECT_EQ(0, memcmp(data, "MZdata", 6));
  EXPECT_EQ(reinterpret_cast<const unsigned char*>(bytes.data()) + 10 + 12, data);  // in place, not copied
  EXPECT_EQ(2024, e.dateTime.year);
  EXPECT_EQ(9, e.dateTime.second);
  EXPECT_STREQ("1.0", e.text1.CStr());
  EXPECT_STREQ("icon.ico", e.text2.CStr());
  EXPECT_STREQ("args", e.text3.CStr());
}

// One rule decides what text 4 is, for the installer and the tool alike:
// without a backslash a new file name, with one a destination path.
TEST(EntryRecordTexts, TextFourIsANewFileNameExactlyWhenItHasNoBackslash) {
  const struct {
    const char* text4;
    bool newFileName;
    bool destinationPath;
    const char* installedName;
  } cases[] = {
      {"", false, false, "dir\\a.txt"},
      {"b.txt", true, false, "b.txt"},
      {"B", true, false, "B"},
      {" ", true, false, " "},
      {"c:/x/b.txt", true, false, "c:/x/b.txt"},  // a slash is no separator here; the walk judges the name
      {"..", true, false, ".."},
      {"%SystemDir%\\", false, true, "dir\\a.txt"},
      {"%InstallDir%\\b.txt", false, true, "dir\\a.txt"},
      {"sub\\b.txt", false, true, "dir\\a.txt"},
      {"\\", false, true, "dir\\a.txt"},
      {"b.txt\\", false, true, "dir\\a.txt"},
  };
  for (const auto& c : cases) {
    EntryRecord e;
    e.name = "dir\\a.txt";
    e.text4 = c.text4;
    EXPECT_EQ(c.newFileName, e.HasNewFileName()) << '"' << c.text4 << '"';
    EXPECT_EQ(c.destinationPath, e.HasDestinationPath()) << '"' << c.text4 << '"';
    EXPECT_STREQ(c.installedName, e.InstalledName().CStr()) << '"' << c.text4 << '"';
    EXPECT_STREQ(c.text4, e.DestinationOverride().CStr());
  }
}

// A piece that is not all there leaves the cursor where it was, so that a
// reader can bring more bytes and read the piece again.
TEST(EntryRecordWalk, ACutPieceLeavesTheCursorInPlace) {
  const std::string bytes = MakeRecord("name.txt", kKindInstallDir, 1, "");
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t headSize = 9 + 12;
  for (size_t cut = 0; cut < headSize; ++cut) {
    ArchiveCursor cursor(p, p + cut);
    EntryRecord e;
    EXPECT_EQ(kErrArchiveTruncated, ReadEntryHead(cursor, e)) << cut;
    EXPECT_EQ(0, cursor.Offset()) << cut;
  }
  ArchiveCursor head(p, p + bytes.size());
  EntryRecord e;
  ASSERT_EQ(kArchiveOk, ReadEntryHead(head, e));
  EXPECT_EQ((int64_t)headSize, head.Offset());
  const unsigned char* tail = p + headSize + 4;  // past the (empty) data and its checksum
  for (size_t cut = 0; cut < bytes.size() - headSize - 4; ++cut) {
    ArchiveCursor cursor(tail, tail + cut);
    EXPECT_EQ(kErrArchiveTruncated, ReadEntryTail(cursor, e)) << cut;
    EXPECT_EQ(0, cursor.Offset()) << cut;
  }
  ArchiveCursor whole(tail, p + bytes.size());
  EXPECT_EQ(kArchiveOk, ReadEntryTail(whole, e));
  EXPECT_EQ(0, whole.Left());
}

}  // namespace
