// The file writer, deletion and rename routines against real files: retries,
// read-only files, a file held open by another process and its replacement
// at the next restart, the attribute mask, file times and "wininit.ini".
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "core/path.h"
#include "core/win32/file_util.h"
#include "core/win32/system.h"
#include "core/win32/system_dirs.h"
#include "install/file_writer.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "tests/win32/file_test_support.h"
#include "tests/win32/run_case.h"

using namespace filetest;

namespace {

std::string Text(const String& s) { return std::string(s.CStr(), (size_t)s.Length()); }

void LoadMessages(Run& run) {
  Array<String> table;
  for (int i = 0; i < 80; ++i) table.Append(String(i == 31 ? "Error writing" : "M"));
  run.messages.Set(1, table);
}

constexpr ArchiveDateTime kNoDate = {0, 0, 0, -1, 0, 0};
constexpr ArchiveDateTime kWhen = {2019, 6, 5, 14, 30, 45};

DWORD Attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

bool SetAttrs(const std::string& path, DWORD a) { return SetFileAttributesA(path.c_str(), a) != FALSE; }

// The pending renames the system keeps for the next restart, as one text
// with the NULs shown as '|'.
std::string PendingRenames() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ, &key))
    return "";
  char buffer[16384];
  DWORD size = sizeof buffer, type = 0;
  std::string out;
  if (RegQueryValueExA(key, "PendingFileRenameOperations", nullptr, &type, (BYTE*)buffer, &size) == 0) {
    for (DWORD i = 0; i < size; ++i) out += buffer[i] ? buffer[i] : '|';
  }
  RegCloseKey(key);
  return out;
}

std::string Lower(std::string s) {
  for (char& c : s) c = (char)tolower((unsigned char)c);
  return s;
}

class FileWriterTest : public RunCase {
 protected:
  void SetUp() override {
    LoadMessages(run);
    dir_ = FreshDirectory("writer_test");
  }
  std::string dir_;
};

// The attribute mask: bits of the entry's value inside 0x1127 are applied,
// others stay as they were; 0xFFFFFFFF leaves everything alone.
TEST_F(FileWriterTest, AttributesFollowTheMask) {
  struct Case {
    DWORD before;       // attributes of an existing file before the write
    uint32_t entry;     // the entry's attribute value
    DWORD expected;     // attributes after the write
  } cases[] = {
      {FILE_ATTRIBUTE_HIDDEN, kLeaveAttributes, FILE_ATTRIBUTE_HIDDEN},  // as the file was
      {FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_READONLY},
      {FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE,
       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE},
      {FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY, 0, 0},
      {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY | 0x4000,
       FILE_ATTRIBUTE_SYSTEM},  // directory and encrypted bits are outside the mask
  };
  int i = 0;
  for (const Case& c : cases) {
    const std::string path = dir_ + "\\attr" + std::to_string(i++) + ".bin";
    ASSERT_TRUE(WriteRaw(path, "old"));
    ASSERT_TRUE(SetAttrs(path, c.before));
    EXPECT_TRUE(WriteFileOrSchedule(run, path.c_str(), "new data", 8, kNoDate, run.texts.errors, c.entry, true)) << path;
    EXPECT_EQ(ReadRaw(path), "new data");
    // Wine reports the archive bit on every file whatever was set.
    EXPECT_EQ(Attributes(path) & ~FILE_ATTRIBUTE_ARCHIVE, c.expected & ~FILE_ATTRIBUTE_ARCHIVE) << path;
    SetAttrs(path, FILE_ATTRIBUTE_NORMAL);
  }
  EXPECT_EQ(Text(run.texts.errors), "");
}

TEST_F(FileWriterTest, TimesSetOnlyForACompleteDateTime) {
  const std::string dated = dir_ + "\\dated.txt", undated = dir_ + "\\undated.txt", untimed = dir_ + "\\untimed.txt";
  ASSERT_TRUE(WriteFileOrSchedule(run, dated.c_str(), "a", 1, kWhen, run.texts.errors, kLeaveAttributes, false));
  ASSERT_TRUE(WriteFileOrSchedule(run, undated.c_str(), "b", 1, kNoDate, run.texts.errors, kLeaveAttributes, false));
  const ArchiveDateTime noTime = {2019, 6, 5, -1, 0, 0};
  ASSERT_TRUE(WriteFileOrSchedule(run, untimed.c_str(), "c", 1, noTime, run.texts.errors, kLeaveAttributes, false));
  SYSTEMTIME t;
  ASSERT_TRUE(LocalWriteTime(dated, t));
  EXPECT_EQ(t.wYear, 2019);
  EXPECT_EQ(t.wMonth, 6);
  EXPECT_EQ(t.wDay, 5);
  EXPECT_EQ(t.wHour, 14);
  EXPECT_EQ(t.wMinute, 30);
  EXPECT_EQ(t.wSecond, 45);
  SYSTEMTIME now;
  GetLocalTime(&now);
  for (const std::string& p : {undated, untimed}) {
    ASSERT_TRUE(LocalWriteTime(p, t));
    EXPECT_EQ(t.wYear, now.wYear) << p;  // left as the system wrote it
  }
}

// Flag bit 19 clears the read-only, hidden and system attributes of an
// existing file after the first failed attempt. (Wine running as root writes
// read-only files anyway, so the failing attempts come from a process that
// holds the file.)
TEST_F(FileWriterTest, FailedAttemptClearsAttributesOnlyWithBit19) {
  const std::string path = dir_ + "\\guarded.txt";
  const DWORD guarded = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  for (bool clearFlag : {false, true}) {
    AttachedRun fresh;
    ::Run& run = fresh.run;
    LoadMessages(run);
    ASSERT_TRUE(WriteRaw(path, "old"));
    ASSERT_TRUE(SetAttrs(path, guarded));
    {
      FileHolder holder(path);
      ASSERT_TRUE(holder.Holding());
      run.productFlags = clearFlag ? (1ull << kFlagClearAttributesOnRetry) : 0;
      EXPECT_FALSE(WriteFileOrSchedule(run, path.c_str(), "new", 3, kNoDate, run.texts.errors, kLeaveAttributes, false));
    }
    EXPECT_EQ(Attributes(path) & guarded, clearFlag ? 0u : guarded);
    EXPECT_EQ(ReadRaw(path), "old");
    const std::string errors = Text(run.texts.errors);
    EXPECT_EQ(errors.rfind("\r\nError writing " + path + "\r\n", 0), 0u) << errors;
    EXPECT_EQ(PendingRenames().find(path), std::string::npos);  // a new file is not rescued
    SetAttrs(path, FILE_ATTRIBUTE_NORMAL);
  }
}

// A file held open without sharing by another process: with existed (or
// flag bit 11) the new content is staged and the replacement scheduled; a
// restart of the prefix then really puts it in place.
TEST_F(FileWriterTest, HeldFileIsReplacedAtTheNextRestart) {
  const std::string held = dir_ + "\\held.dll";
  const std::string heldNew = dir_ + "\\heldnew.dll";
  ASSERT_TRUE(WriteRaw(held, "old bytes"));
  ASSERT_TRUE(WriteRaw(heldNew, "old other"));
  FileHolder holder(held);
  FileHolder holder2(heldNew);
  ASSERT_TRUE(holder.Holding());
  ASSERT_TRUE(holder2.Holding());

  // Not existing before and bit 11 clear: reported, nothing scheduled.
  EXPECT_FALSE(WriteFileOrSchedule(run, heldNew.c_str(), "x", 1, kNoDate, run.texts.errors, kLeaveAttributes, false));
  EXPECT_NE(Text(run.texts.errors).find("Error writing " + heldNew), std::string::npos);
  EXPECT_FALSE(IsRebootRequired(run));
  EXPECT_EQ(Lower(PendingRenames()).find(Lower(FileNameOf(heldNew.c_str()).CStr())), std::string::npos);

  run.texts.errors.Clear();
  EXPECT_FALSE(WriteFileOrSchedule(run, held.c_str(), "new bytes", 9, kWhen, run.texts.errors, kLeaveAttributes, true));
  EXPECT_TRUE(IsRebootRequired(run));
  EXPECT_EQ(Text(run.texts.errors), "");
  const std::string log = Text(run.texts.installLog);
  EXPECT_EQ(log.rfind("\r\nError writing " + held + "\r\n", 0), 0u) << log;
  EXPECT_NE(log.find("\"" + held + "\" was successfully registered for replacement.\r\nTemporary file is \""),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("\"\r\nReboot will be required.\r\n\r\n"), std::string::npos) << log;
  const std::string pending = Lower(PendingRenames());
  EXPECT_NE(pending.find(Lower(held)), std::string::npos) << pending;
  holder.Release();
  holder2.Release();
  EXPECT_EQ(ReadRaw(held), "old bytes");
  // The restart of this prefix performs the pending operations.
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  char command[] = "wineboot.exe -r";
  ASSERT_TRUE(CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  WaitForSingleObject(pi.hProcess, 120000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  EXPECT_EQ(ReadRaw(held), "new bytes");
  EXPECT_EQ(ReadRaw(heldNew), "old other");
}

TEST_F(FileWriterTest, RemoveFileOptions) {
  const std::string plain = dir_ + "\\plain.txt", readOnly = dir_ + "\\ro.txt", kept = dir_ + "\\keep.txt";
  ASSERT_TRUE(WriteRaw(plain, "x"));
  ASSERT_TRUE(WriteRaw(readOnly, "x"));
  ASSERT_TRUE(WriteRaw(kept, "x"));
  ASSERT_TRUE(SetAttrs(readOnly, FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(SetAttrs(kept, FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(RemoveFile("", 0));
  EXPECT_FALSE(RemoveFile(nullptr, 0));
  EXPECT_TRUE(RemoveFile(plain.c_str(), 0));
  EXPECT_FALSE(Exists(plain));
  EXPECT_TRUE(RemoveFile(readOnly.c_str(), 0));  // read-only cleared first
  EXPECT_FALSE(Exists(readOnly));
  EXPECT_FALSE(RemoveFile(kept.c_str(), kRemoveKeepReadOnly));
  EXPECT_TRUE(Exists(kept));
  EXPECT_FALSE(RemoveFile((dir_ + "\\missing.txt").c_str(), 0));

  // Scheduled deletion of a held file.
  SetAttrs(kept, FILE_ATTRIBUTE_NORMAL);
  FileHolder holder(kept);
  ASSERT_TRUE(holder.Holding());
  EXPECT_FALSE(RemoveFile(kept.c_str(), 0));
  EXPECT_TRUE(RemoveFile(kept.c_str(), kRemoveRebootOnFailure));
  EXPECT_NE(Lower(PendingRenames()).find(Lower(kept) + "||"), std::string::npos);  // deletion: an empty target
}

TEST_F(FileWriterTest, RenameFileRules) {
  const std::string a = dir_ + "\\a.txt", b = dir_ + "\\b.txt", ro = dir_ + "\\ro.txt";
  ASSERT_TRUE(WriteRaw(a, "A"));
  EXPECT_FALSE(RenameFile("", b.c_str(), 0));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(RenameFile((dir_ + "\\none").c_str(), b.c_str(), 0));
  EXPECT_TRUE(RenameFile(a.c_str(), a.c_str(), 0));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(RenameFile(a.c_str(), b.c_str(), kRenameDestinationMustExist));
  ASSERT_TRUE(WriteRaw(ro, "R"));
  ASSERT_TRUE(SetAttrs(ro, FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(RenameFile(a.c_str(), ro.c_str(), kRenameRefuseReadOnly));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  EXPECT_FALSE(RenameFile(a.c_str(), ro.c_str(), kRenameDestinationMustNotExist));
  EXPECT_TRUE(RenameFile(a.c_str(), ro.c_str(), 0));  // the read-only destination is replaced
  EXPECT_EQ(ReadRaw(ro), "A");
  EXPECT_FALSE(Exists(a));
  const std::string deep = dir_ + "\\new\\sub\\c.txt";
  EXPECT_TRUE(RenameFile(ro.c_str(), deep.c_str(), kRenameCreateDirectory));
  EXPECT_EQ(ReadRaw(deep), "A");
}

TEST_F(FileWriterTest, WininitRenameSection) {
  const std::string ini = std::string(WindowsDir().CStr()) + "\\wininit.ini";
  struct Case {
    const char* before;
    const char* after;
  } cases[] = {
      {nullptr, "\r\n[rename]\r\nC:\\NEW=C:\\OLD"},  // an empty text also gets its line break first
      {"[boot]\r\nx=1", "[boot]\r\nx=1\r\n[rename]\r\nC:\\NEW=C:\\OLD"},
      {"[boot]\r\nx=1\r\n", "[boot]\r\nx=1\r\n[rename]\r\nC:\\NEW=C:\\OLD"},
      {"[Rename]\r\nNUL=C:\\A\r\n[z]\r\n", "[Rename]\r\nC:\\NEW=C:\\OLD\r\nNUL=C:\\A\r\n[z]\r\n"},
  };
  for (const Case& c : cases) {
    DeleteFileA(ini.c_str());
    if (c.before) {
      ASSERT_TRUE(WriteRaw(ini, c.before));
    }
    EXPECT_TRUE(AddWininitRename("C:\\NEW", "C:\\OLD"));
    EXPECT_EQ(ReadRaw(ini), c.after);
  }
  EXPECT_FALSE(AddWininitRename("", "C:\\OLD"));
  EXPECT_FALSE(AddWininitRename("C:\\NEW", nullptr));
  DeleteFileA(ini.c_str());
}

TEST_F(FileWriterTest, RemoveDirectoryTreeRemovesEverythingButRefusesRoots) {
  const std::string tree = dir_ + "\\tree";
  CreateDirectoryA(tree.c_str(), nullptr);
  CreateDirectoryA((tree + "\\sub").c_str(), nullptr);
  CreateDirectoryA((tree + "\\sub\\deeper").c_str(), nullptr);
  ASSERT_TRUE(WriteRaw(tree + "\\a.txt", "a"));
  ASSERT_TRUE(WriteRaw(tree + "\\sub\\b.txt", "b"));
  ASSERT_TRUE(WriteRaw(tree + "\\sub\\deeper\\c.txt", "c"));
  ASSERT_TRUE(SetAttrs(tree + "\\sub\\b.txt", FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(RemoveDirectoryTree("C:\\", 0));
  EXPECT_FALSE(RemoveDirectoryTree("C:", 0));
  EXPECT_FALSE(RemoveDirectoryTree((std::string(WindowsDir().CStr()) + "\\").c_str(), 0));
  EXPECT_TRUE(Exists(std::string(WindowsDir().CStr()) + "\\system32"));
  EXPECT_TRUE(RemoveDirectoryTree(tree.c_str(), 0));
  EXPECT_FALSE(Exists(tree));

  // A held file keeps its directory; the rest goes and the result says so.
  CreateDirectoryA(tree.c_str(), nullptr);
  ASSERT_TRUE(WriteRaw(tree + "\\held.txt", "h"));
  ASSERT_TRUE(WriteRaw(tree + "\\free.txt", "f"));
  FileHolder holder(tree + "\\held.txt");
  ASSERT_TRUE(holder.Holding());
  EXPECT_FALSE(RemoveDirectoryTree(tree.c_str(), 0));
  EXPECT_NE(GetLastError(), 0u);
  EXPECT_FALSE(Exists(tree + "\\free.txt"));
  EXPECT_TRUE(Exists(tree + "\\held.txt"));
}

// A directory junction at link pointing at target (an absolute path); true
// when the system made it and reports it as a reparse point.
bool MakeJunction(const std::string& link, const std::string& target) {
  if (!CreateDirectoryA(link.c_str(), nullptr)) return false;
  HANDLE h = CreateFileA(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  bool made = false;
  if (h != INVALID_HANDLE_VALUE) {
    // REPARSE_DATA_BUFFER for a mount point: tag, sizes, then the
    // substitute name ("\??\" + target) and the print name, each ending
    // with a NUL.
    std::wstring substitute = L"\\??\\" + std::wstring(target.begin(), target.end());
    std::wstring print(target.begin(), target.end());
    const size_t pathBytes = (substitute.size() + 1 + print.size() + 1) * sizeof(wchar_t);
    std::string buffer(8 + 8 + pathBytes, '\0');
    auto put16 = [&](size_t at, size_t v) { buffer[at] = (char)(v & 0xFF); buffer[at + 1] = (char)(v >> 8); };
    const DWORD tag = 0xA0000003;  // IO_REPARSE_TAG_MOUNT_POINT
    memcpy(&buffer[0], &tag, 4);
    put16(4, 8 + pathBytes);
    put16(8, 0);
    put16(10, substitute.size() * sizeof(wchar_t));
    put16(12, (substitute.size() + 1) * sizeof(wchar_t));
    put16(14, print.size() * sizeof(wchar_t));
    memcpy(&buffer[16], substitute.c_str(), (substitute.size() + 1) * sizeof(wchar_t));
    memcpy(&buffer[16 + (substitute.size() + 1) * sizeof(wchar_t)], print.c_str(), (print.size() + 1) * sizeof(wchar_t));
    DWORD returned = 0;
    made = DeviceIoControl(h, 0x000900A4 /* FSCTL_SET_REPARSE_POINT */, &buffer[0], (DWORD)buffer.size(), nullptr, 0,
                           &returned, nullptr) != FALSE;
    CloseHandle(h);
  }
  const DWORD attributes = GetFileAttributesA(link.c_str());
  if (made && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
  RemoveDirectoryA(link.c_str());
  return false;
}

// A junction inside the tree, or the tree itself being one, goes as the
// link: what it points at is never emptied.
TEST_F(FileWriterTest, RemoveDirectoryTreeRemovesLinksNeverTheirTargets) {
  const std::string outside = dir_ + "\\outside";
  CreateDirectoryA(outside.c_str(), nullptr);
  ASSERT_TRUE(WriteRaw(outside + "\\precious.txt", "p"));
  const std::string tree = dir_ + "\\linked tree";
  CreateDirectoryA(tree.c_str(), nullptr);
  ASSERT_TRUE(WriteRaw(tree + "\\own.txt", "o"));
  if (!MakeJunction(tree + "\\link", outside))
    GTEST_SKIP() << "this system cannot make a directory junction (Wine before reparse-point support)";
  EXPECT_TRUE(RemoveDirectoryTree(tree.c_str(), 0));
  EXPECT_FALSE(Exists(tree));
  EXPECT_EQ("p", ReadRaw(outside + "\\precious.txt"));

  const std::string top = dir_ + "\\top link";
  ASSERT_TRUE(MakeJunction(top, outside));
  EXPECT_TRUE(RemoveDirectoryTree(top.c_str(), 0));
  EXPECT_FALSE(Exists(top));
  EXPECT_EQ("p", ReadRaw(outside + "\\precious.txt"));
}

// On a system that is not an NT platform the reboot-time operations go into
// the "[rename]" section of wininit.ini with short paths. The child runs with
// Wine's per-program version set to Windows 98.
TEST_F(FileWriterTest, RebootOperationsOnWindows9xGoToWininit) {
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  const std::string key = std::string("Software\\Wine\\AppDefaults\\") + FileNameOf(exe).CStr();
  HKEY h;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr), 0);
  RegSetValueExA(h, "Version", 0, REG_SZ, (const BYTE*)"win98", 6);
  RegCloseKey(h);
  const std::string ini = std::string(WindowsDir().CStr()) + "\\wininit.ini";
  DeleteFileA(ini.c_str());
  const std::string locked = dir_ + "\\locked file.dll", replaced = dir_ + "\\replaced.dll";
  ASSERT_TRUE(WriteRaw(locked, "old"));
  ASSERT_TRUE(WriteRaw(replaced, "old"));
  std::string output;
  int code;
  {
    FileHolder holder(locked);
    FileHolder holder2(replaced);
    ASSERT_TRUE(holder.Holding());
    code = RunSelf("--win9x \"" + locked + "\" \"" + replaced + "\"", output, dir_);
  }
  RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
  EXPECT_EQ(code, 0) << output;
  const std::string shortLocked = ShortPathOf(locked.c_str()).CStr();
  const std::string text = ReadRaw(ini);
  // The newest line comes first, directly under the header.
  const std::string prefix = "\r\n[rename]\r\n" + std::string(ShortPathOf(replaced.c_str()).CStr()) + "=";
  EXPECT_EQ(text.rfind(prefix, 0), 0u) << text;
  EXPECT_NE(text.find("\r\nNUL=" + shortLocked), std::string::npos) << text;
  EXPECT_EQ(PendingRenames().find("locked file"), std::string::npos);
  DeleteFileA(ini.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && strcmp(argv[1], "--hold") == 0) return FileHolder::HoldMain(argv[2], argv[3], argv[4]);
  if (argc == 4 && strcmp(argv[1], "--win9x") == 0) {
    // Runs as Windows 98: a held file's deletion and replacement are scheduled.
    AttachedRun attached;
    Run& run = attached.run;
    LoadMessages(run);
    if (IsNtPlatform()) return 10;
    if (!RemoveFile(argv[2], kRemoveRebootOnFailure)) return 11;
    if (!RenameFile(argv[2], argv[2], kRenameAtReboot)) return 12;  // identical: nothing to do
    String errors;
    const ArchiveDateTime none = {0, 0, 0, -1, 0, 0};
    if (WriteFileOrSchedule(run, argv[3], "new", 3, none, errors, kLeaveAttributes, true)) return 13;
    if (!IsRebootRequired(run)) return 14;
    return 0;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
