// Whole-file helpers, directories, temporary files, attributes and disk
// space under Wine, against real files in a clean prefix.
#include "core/win32/file_util.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "core/path.h"
#include "core/win32/disk_file.h"
#include "core/win32/system_dirs.h"
#include "file_test_support.h"

using namespace filetest;

namespace {

class FileUtilTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = FreshDirectory(std::string("fu_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
  }
  std::string Path(const char* name) const { return dir_ + "\\" + name; }
  std::string dir_;
};

TEST_F(FileUtilTest, WriteAndReadWholeFiles) {
  const std::string path = Path("whole.bin");
  const std::string data("bytes\0with\0nul", 14);
  EXPECT_EQ(WriteStringToFile(path.c_str(), data.data(), (int32_t)data.size()), 0);
  EXPECT_EQ(ReadRaw(path), data);
  String read("stale");
  EXPECT_EQ(ReadFileToString(path.c_str(), read), 0);
  EXPECT_EQ(Str(read), data);

  EXPECT_EQ(WriteStringToFile(path.c_str(), "c string", kWholeText), 0);  // truncates the longer file
  EXPECT_EQ(ReadRaw(path), "c string");
  EXPECT_EQ(WriteStringToFile(path.c_str(), nullptr, 0), 0);
  EXPECT_EQ(ReadRaw(path), "");
  EXPECT_EQ(ReadFileToString(path.c_str(), read), 0);
  EXPECT_TRUE(read.IsEmpty());

  EXPECT_EQ(WriteStringToFile("", "x", 1), 2);
  EXPECT_EQ(WriteStringToFile(Path("no\\dir.txt").c_str(), "x", 1), 4);
  ASSERT_TRUE(WriteRaw(path, "kept"));
  EXPECT_EQ(WriteStringToFile(path.c_str(), nullptr, 5), 7);  // nothing to write from
  EXPECT_EQ(WriteStringToFile(path.c_str(), "x", -2), 7);
  EXPECT_EQ(ReadRaw(path), "kept");  // bad arguments leave the file alone
  read = "stale";
  EXPECT_EQ(ReadFileToString("", read), 2);
  EXPECT_TRUE(read.IsEmpty());
  EXPECT_EQ(ReadFileToString(Path("missing").c_str(), read), 3);
}

TEST_F(FileUtilTest, WriteTempFileNamesTheNewFile) {
  String name;
  ASSERT_TRUE(WriteTempFile("temporary", 9, name));
  EXPECT_EQ(Str(DirectoryOf(name.CStr())), Str(TempDir()));
  EXPECT_EQ(ReadRaw(Str(name)), "temporary");
  String second;
  ASSERT_TRUE(WriteTempFile("", 0, second));
  EXPECT_NE(Str(second), Str(name));
  EXPECT_EQ(ReadRaw(Str(second)), "");
}

TEST_F(FileUtilTest, FileMatchesComparesSizeAndEveryChunk) {
  std::string data(10000, 'q');
  const std::string path = Path("match.bin");
  ASSERT_TRUE(WriteRaw(path, data));
  EXPECT_TRUE(FileMatches(path.c_str(), data.data(), (int32_t)data.size()));
  std::string changed = data;
  changed[9000] = 'x';  // in the third 4096-byte piece
  EXPECT_FALSE(FileMatches(path.c_str(), changed.data(), (int32_t)changed.size()));
  EXPECT_FALSE(FileMatches(path.c_str(), data.data(), (int32_t)data.size() - 1));
  EXPECT_FALSE(FileMatches(Path("missing").c_str(), data.data(), 0));
  ASSERT_TRUE(WriteRaw(Path("empty"), ""));
  EXPECT_TRUE(FileMatches(Path("empty").c_str(), nullptr, 0));
  EXPECT_FALSE(FileMatches(path.c_str(), nullptr, 10000));
}

TEST_F(FileUtilTest, FileExistsForFilesNotDirectoriesOrMissingPaths) {
  ASSERT_TRUE(WriteRaw(Path("here.txt"), "1"));
  EXPECT_TRUE(FileExists(Path("here.txt").c_str()));
  EXPECT_FALSE(FileExists(Path("gone.txt").c_str()));
  EXPECT_FALSE(FileExists(Path("nodir\\gone.txt").c_str()));
  EXPECT_FALSE(FileExists(""));
  // Held open without sharing by another process: it still exists.
  FileHolder holder(Path("here.txt"));
  ASSERT_TRUE(holder.Holding());
  EXPECT_TRUE(FileExists(Path("here.txt").c_str()));
}

TEST_F(FileUtilTest, AppendTextToFile) {
  const std::string path = Path("log.txt");
  EXPECT_FALSE(AppendTextToFile(path.c_str(), "x", kAppendExistingOnly));
  EXPECT_FALSE(Exists(path));
  EXPECT_TRUE(AppendTextToFile(path.c_str(), "first", 0));
  EXPECT_TRUE(AppendTextToFile(path.c_str(), "second", kAppendEndLineFirst));
  EXPECT_TRUE(AppendTextToFile(path.c_str(), "\r\n", 0));
  EXPECT_TRUE(AppendTextToFile(path.c_str(), "third", kAppendEndLineFirst | kAppendExistingOnly));
  EXPECT_TRUE(AppendTextToFile(path.c_str(), nullptr, kAppendEndLineFirst));
  EXPECT_EQ(ReadRaw(path), "first\r\nsecond\r\nthird\r\n");
  EXPECT_FALSE(AppendTextToFile(Path("no\\dir.txt").c_str(), "x", 0));
}

TEST_F(FileUtilTest, AppendGivesUpOnAFileHeldByAnotherProcess) {
  const std::string path = Path("held.txt");
  ASSERT_TRUE(WriteRaw(path, "kept"));
  FileHolder holder(path);
  ASSERT_TRUE(holder.Holding());
  EXPECT_FALSE(AppendTextToFile(path.c_str(), "more", 0));
  holder.Release();
  EXPECT_EQ(ReadRaw(path), "kept");
  EXPECT_TRUE(AppendTextToFile(path.c_str(), "more", kAppendEndLineFirst));
  EXPECT_EQ(ReadRaw(path), "kept\r\nmore");
}

TEST_F(FileUtilTest, AppendWithoutLinksCreatesExclusivelyThenAppends) {
  const std::string path = Path("run.log");
  EXPECT_EQ(AppendWithoutLinks(path.c_str(), "first\r\n", 7), LinkSafeAppend::kAppended);
  EXPECT_EQ(AppendWithoutLinks(path.c_str(), "second\r\n", 8), LinkSafeAppend::kAppended);
  EXPECT_EQ(AppendWithoutLinks(path.c_str(), "", 0), LinkSafeAppend::kAppended);
  EXPECT_EQ(ReadRaw(path), "first\r\nsecond\r\n");
  // An existing file keeps what it had.
  const std::string old = Path("old.log");
  ASSERT_TRUE(WriteRaw(old, "earlier run\r\n"));
  EXPECT_EQ(AppendWithoutLinks(old.c_str(), "this run\r\n", 10), LinkSafeAppend::kAppended);
  EXPECT_EQ(ReadRaw(old), "earlier run\r\nthis run\r\n");
  struct Bad {
    const char* path;
    const char* data;
    int32_t size;
  } bad[] = {{nullptr, "x", 1}, {"", "x", 1}, {path.c_str(), "x", -1}, {path.c_str(), nullptr, 1}};
  for (const Bad& b : bad) EXPECT_EQ(AppendWithoutLinks(b.path, b.data, b.size), LinkSafeAppend::kFailed);
  EXPECT_EQ(AppendWithoutLinks(Path("no\\dir.log").c_str(), "x", 1), LinkSafeAppend::kFailed);
  EXPECT_EQ(ReadRaw(path), "first\r\nsecond\r\n");
}

TEST_F(FileUtilTest, AppendWithoutLinksRefusesLinksAndDirectories) {
  const std::string target = Path("target.txt");
  ASSERT_TRUE(WriteRaw(target, "not a log"));
  const std::string link = Path("hard.log");
  ASSERT_TRUE(CreateHardLinkA(link.c_str(), target.c_str(), nullptr));
  // Both names of a file with two are refused: either may be the one the
  // caller did not mean.
  for (const std::string& name : {link, target}) {
    SetLastError(0);
    EXPECT_EQ(AppendWithoutLinks(name.c_str(), "x", 1), LinkSafeAppend::kRefusedLink) << name;
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_CANT_ACCESS_FILE) << name;
  }
  EXPECT_EQ(ReadRaw(target), "not a log");
  const std::string directory = Path("folder.log");
  ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr));
  EXPECT_EQ(AppendWithoutLinks(directory.c_str(), "x", 1), LinkSafeAppend::kRefusedLink);
  EXPECT_TRUE(IsDirectoryRaw(directory));
}

TEST_F(FileUtilTest, AppendWithoutLinksTakesOtherSpellingsOfTheSameName) {
  // Letter case, the short name and trailing dots name the file itself.
  const std::string path = Path("Run Log File.txt");
  ASSERT_TRUE(WriteRaw(path, "a"));
  char shortPath[MAX_PATH] = "";
  ASSERT_GT(GetShortPathNameA(path.c_str(), shortPath, sizeof shortPath), 0u);
  for (const std::string& name : {Path("RUN LOG FILE.TXT"), std::string(shortPath), path + "."}) {
    EXPECT_EQ(AppendWithoutLinks(name.c_str(), "b", 1), LinkSafeAppend::kAppended) << name;
  }
  EXPECT_EQ(ReadRaw(path), "abbb");
}

TEST_F(FileUtilTest, AppendWithoutLinksFailsOnAFileHeldByAnotherProcess) {
  const std::string path = Path("held.log");
  ASSERT_TRUE(WriteRaw(path, "kept"));
  FileHolder holder(path);
  ASSERT_TRUE(holder.Holding());
  EXPECT_EQ(AppendWithoutLinks(path.c_str(), "more", 4), LinkSafeAppend::kFailed);
  holder.Release();
  EXPECT_EQ(AppendWithoutLinks(path.c_str(), "more", 4), LinkSafeAppend::kAppended);
  EXPECT_EQ(ReadRaw(path), "keptmore");
}

TEST_F(FileUtilTest, CreateDirectoryTreeThreeLevelsDeep) {
  const std::string deep = Path("a\\b\\c");
  EXPECT_FALSE(IsDirectoryRaw(Path("a")));
  const String before = CurrentDirectory();
  EXPECT_TRUE(CreateDirectoryTree(deep.c_str()));
  EXPECT_TRUE(IsDirectoryRaw(Path("a")));
  EXPECT_TRUE(IsDirectoryRaw(Path("a\\b")));
  EXPECT_TRUE(IsDirectoryRaw(deep));
  EXPECT_EQ(Str(CurrentDirectory()), Str(before));  // the directory tests restore it
  // Existing: success, nothing created.
  EXPECT_TRUE(CreateDirectoryTree(deep.c_str()));
  EXPECT_TRUE(CreateDirectoryTree((deep + "\\").c_str()));
  EXPECT_TRUE(CreateDirectoryTree("C:\\"));
  // A file in the way fails.
  ASSERT_TRUE(WriteRaw(Path("file"), "x"));
  EXPECT_FALSE(CreateDirectoryTree(Path("file\\sub").c_str()));
  EXPECT_FALSE(IsDirectoryRaw(Path("file\\sub")));
  EXPECT_FALSE(CreateDirectoryTree(""));
  EXPECT_FALSE(CreateDirectoryTree((dir_ + "\\bad|name\\x").c_str()));
}

TEST_F(FileUtilTest, IsDirectoryAndCurrentDirectory) {
  ASSERT_TRUE(WriteRaw(Path("f.txt"), ""));
  const String before = CurrentDirectory();
  EXPECT_FALSE(before.IsEmpty());
  EXPECT_TRUE(IsDirectory(dir_.c_str()));
  EXPECT_TRUE(IsDirectory("C:\\"));
  EXPECT_FALSE(IsDirectory(Path("f.txt").c_str()));
  EXPECT_FALSE(IsDirectory(Path("none").c_str()));
  EXPECT_FALSE(IsDirectory(""));
  EXPECT_EQ(Str(CurrentDirectory()), Str(before));

  // A current directory longer than the first 100-character buffer.
  std::string longDir = dir_;
  while (longDir.size() < 150) longDir += "\\level_directory";
  ASSERT_TRUE(CreateDirectoryTree(longDir.c_str()));
  ASSERT_TRUE(SetCurrentDirectoryA(longDir.c_str()));
  EXPECT_EQ(Str(CurrentDirectory()), longDir);
  SetCurrentDirectoryA(before.CStr());
}

TEST_F(FileUtilTest, RemoveDirectoryIfEmpty) {
  CreateDirectoryA(Path("empty").c_str(), nullptr);
  CreateDirectoryA(Path("full").c_str(), nullptr);
  ASSERT_TRUE(WriteRaw(Path("full\\x"), "x"));
  EXPECT_TRUE(RemoveDirectoryIfEmpty((Path("empty") + "\\").c_str()));
  EXPECT_FALSE(IsDirectoryRaw(Path("empty")));
  EXPECT_FALSE(RemoveDirectoryIfEmpty(Path("full").c_str()));
  EXPECT_TRUE(IsDirectoryRaw(Path("full")));
  EXPECT_FALSE(RemoveDirectoryIfEmpty("C:\\"));
  EXPECT_FALSE(RemoveDirectoryIfEmpty(""));
}

TEST_F(FileUtilTest, CreateTempFile) {
  const String inDir = CreateTempFile(dir_.c_str());
  ASSERT_FALSE(inDir.IsEmpty());
  EXPECT_EQ(Str(DirectoryOf(inDir.CStr())), dir_);
  const std::string name = Str(FileNameOf(inDir.CStr()));
  EXPECT_EQ(name.substr(0, 3), "VKT");
  EXPECT_EQ(ReadRaw(Str(inDir)), "");  // created, empty

  const String inTemp = CreateTempFile("");
  ASSERT_FALSE(inTemp.IsEmpty());
  EXPECT_EQ(Str(DirectoryOf(inTemp.CStr())), Str(TempDir()));
  EXPECT_TRUE(Exists(Str(inTemp)));

  EXPECT_TRUE(CreateTempFile(Path("missing").c_str()).IsEmpty());
  const std::string tooLong = "C:\\" + std::string(250, 'd');
  EXPECT_TRUE(CreateTempFile(tooLong.c_str()).IsEmpty());
}

TEST_F(FileUtilTest, ShortPathOf) {
  const std::string longName = Path("A Rather Long File Name.text");
  ASSERT_TRUE(WriteRaw(longName, "s"));
  const String shortPath = ShortPathOf(longName.c_str());
  EXPECT_NE(Str(shortPath), longName);
  EXPECT_LE(Str(FileNameOf(shortPath.CStr())).size(), 12u);  // 8.3
  EXPECT_EQ(ReadRaw(Str(shortPath)), "s");                    // the same file
  const std::string missing = Path("Not There At All.text");
  EXPECT_EQ(Str(ShortPathOf(missing.c_str())), missing);
  EXPECT_EQ(Str(ShortPathOf("")), "");
}

TEST_F(FileUtilTest, AttributeHelpers) {
  const std::string path = Path("attr.txt");
  ASSERT_TRUE(WriteRaw(path, "a"));
  const char* p = path.c_str();
  EXPECT_FALSE(IsReadOnly(p));
  EXPECT_TRUE(SetReadOnly(p, true));
  EXPECT_TRUE(IsReadOnly(p));
  EXPECT_TRUE(SetReadOnly(p, true));  // unchanged: nothing written
  EXPECT_TRUE(ClearAttributes(p, FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(IsReadOnly(p));
  const DWORD both = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
  EXPECT_TRUE(SetAttributeBits(p, both, both));
  EXPECT_EQ(GetFileAttributesA(p) & both, both);
  EXPECT_TRUE(ClearAttributes(p, FILE_ATTRIBUTE_HIDDEN));  // only the masked bit changes
  EXPECT_EQ(GetFileAttributesA(p) & both, (DWORD)FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(SetAttributeBits(p, FILE_ATTRIBUTE_HIDDEN, both));  // replaces both masked bits
  EXPECT_EQ(GetFileAttributesA(p) & both, (DWORD)FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(SetAttributeBits(p, 0, both));
  EXPECT_EQ(GetFileAttributesA(p) & both, 0u);

  const char* missing = "C:\\nowhere\\none.txt";
  EXPECT_FALSE(IsReadOnly(missing));
  EXPECT_FALSE(SetReadOnly(missing, true));
  EXPECT_FALSE(ClearAttributes(missing, FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(SetAttributeBits(missing, 0, 0));
}

TEST_F(FileUtilTest, DrivesAndDiskSpace) {
  EXPECT_TRUE(DriveExists("C:\\"));
  EXPECT_TRUE(DriveExists("c:\\some\\path"));
  // A letter Wine's clean prefix does not map.
  EXPECT_FALSE(DriveExists("R:\\"));
  EXPECT_FALSE(DriveExists("1:\\"));
  EXPECT_FALSE(DriveExists("\\\\server\\share"));
  EXPECT_FALSE(DriveExists(""));

  uint64_t freeBytes = 0, totalBytes = 0;
  ASSERT_TRUE(DiskSpace("C:\\any\\path", &freeBytes, &totalBytes));
  EXPECT_GT(totalBytes, 0u);
  EXPECT_LE(freeBytes, totalBytes);
  EXPECT_TRUE(DiskSpace("C:", nullptr, nullptr));
  const int64_t free2 = FreeSpace("C:\\");
  EXPECT_GT(free2, 0);
  EXPECT_FALSE(DiskSpace("\\\\server\\share", &freeBytes, &totalBytes));
  EXPECT_FALSE(DiskSpace("", &freeBytes, &totalBytes));
  EXPECT_FALSE(DiskSpace("R:\\", &freeBytes, &totalBytes));
  EXPECT_EQ(FreeSpace("relative"), -1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && strcmp(argv[1], "--hold") == 0) return FileHolder::HoldMain(argv[2], argv[3], argv[4]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
