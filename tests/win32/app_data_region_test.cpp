// The data region against real files: a region in the image used in place,
// data beyond the image in the own file, two and three volumes next to the
// program, the prompts for a missing or wrong volume (read and answered the
// way a person would, the volume appearing between two prompts), Cancel with
// and without the confirmation, a compressed region, and the fatal cases in
// child processes: a volume longer than the bytes still missing and an own
// file holding more than the region (50), a flipped byte (55), a broken
// compressed block (60) and a file too short to read ("Error code 2").
#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "core/checksum.h"
#include "core/path.h"
#include "install/data_region.h"
#include "runtime/installer_archive.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "tests/win32/entry_records.h"
#include "tests/win32/file_test_support.h"
#include "tests/win32/run_case.h"
#include "ui/progress_dialog.h"

using namespace filetest;
using entrytest::Le32;

namespace {

constexpr uint32_t kIdentifier = 0x5A5A0102;

std::string Pattern(size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = (char)((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
  return s;
}

// A valid compressed block holding data as one literal run: selector 0, the
// run length in the widest VarNum form (15 one-bits, a zero-bit, 32 bits),
// then the bytes.
std::string LiteralBlock(const std::string& data) {
  std::string out = Le32(0x9EC72BA1u) + Le32((uint32_t)data.size());
  std::vector<int> bits;
  bits.push_back(0);
  for (int i = 0; i < 15; ++i) bits.push_back(1);
  bits.push_back(0);
  for (int i = 0; i < 32; ++i) bits.push_back((int)(((uint32_t)data.size() - 1) >> i) & 1);
  for (unsigned char c : data)
    for (int i = 0; i < 8; ++i) bits.push_back((c >> i) & 1);
  for (size_t i = 0; i < bits.size(); i += 8) {
    int byte = 0;
    for (size_t j = 0; j < 8 && i + j < bits.size(); ++j) byte |= bits[i + j] << j;
    out.push_back((char)byte);
  }
  return out;
}

std::string ProgramDirectory() {
  char exe[MAX_PATH];
  GetModuleFileNameA(nullptr, exe, MAX_PATH);
  return DirectoryOf(exe).CStr();
}

std::string VolumePath(const std::string& base, int k) { return ProgramDirectory() + "\\" + base + std::to_string(k) + ".XAV"; }

// One archive layout for a test: the region as stored, how much of it the
// image (or the own file) holds, the volumes' data parts.
struct Layout {
  std::string stored;          // the region as stored (packed when compressed)
  size_t firstPiece = 0;       // bytes of it in the image / own file
  std::vector<size_t> volumes; // data bytes per volume, in order
  bool outsideImage = false;
  bool compressed = false;
  std::string extraInFile;     // bytes after the first piece in the own file
};

constexpr int32_t kRegionOffset = 100;  // settings and header before the region
constexpr uint32_t kSectionFileOffset = 512;

std::string g_section;   // the "mapped section"
std::string g_ownFile;   // path of the "own file"

void LoadMessages(Run& run) {
  Array<String> table;
  for (int i = 0; i < 80; ++i) {
    const char* text = "M";
    if (i == 13) text = "Corrupt. Error code: %d";
    if (i == 20) text = "Question";
    if (i == 26) text = "Insert volume %d in drive %c:";
    if (i == 27) text = "Insert Volume";
    if (i == 28) text = "Really cancel?";
    if (i == 30) text = "Wrong or missing volume.";
    table.Append(String(text));
  }
  run.messages.Set(1, table);
}

// Sets the run's archive up for layout and writes its volumes (base name
// given).
void Prepare(Run& run, const Layout& l, const std::string& base, bool writeVolumes = true) {
  LoadMessages(run);
  run.options.automaticMode = true;  // no stage pauses
  InstallerArchive& a = run.archive;
  run.productFlags = l.compressed ? (1ull << kFlagCompressedRegion) : 0;
  a.settings.dataOutsideImage = l.outsideImage ? 1 : 0;
  a.settings.volumeBaseName = base.c_str();
  a.settings.volumeIdentifier = kIdentifier;
  a.settings.StagePause = 0;
  a.header.header.dataRegionSize = (int32_t)l.stored.size();
  a.header.header.dataRegionChecksum = BlockChecksum(l.stored.data(), (int32_t)l.stored.size());
  a.header.dataRegionOffset = kRegionOffset;
  const std::string before(kRegionOffset, 'h');
  if (l.outsideImage) {
    g_section = before;
    a.header.header.sectionArchiveSize = kRegionOffset;
    const std::string dir = FreshDirectory("region_test");
    g_ownFile = dir + "\\own.exe";
    WriteRaw(g_ownFile, std::string(kSectionFileOffset, 's') + before + l.stored.substr(0, l.firstPiece) + l.extraInFile);
    ASSERT_EQ(kOpenOk, a.ownFile.Open(g_ownFile.c_str(), kOpenReadShared));
    a.ownFileSize = a.ownFile.Size();
    a.layout.sectionFileOffset = kSectionFileOffset;
  } else {
    g_section = before + l.stored.substr(0, l.firstPiece);
    a.header.header.sectionArchiveSize = (int32_t)g_section.size();
  }
  a.base = reinterpret_cast<const unsigned char*>(g_section.data());
  for (int k = 2; k < 12; ++k) DeleteFileA(VolumePath(base, k).c_str());
  if (!writeVolumes) return;
  size_t at = l.firstPiece;
  for (size_t i = 0; i < l.volumes.size(); ++i) {
    WriteRaw(VolumePath(base, (int)i + 2), Le32(kIdentifier + (uint32_t)i) + l.stored.substr(at, l.volumes[i]));
    at += l.volumes[i];
  }
}

void RemoveVolumes(const std::string& base) {
  for (int k = 2; k < 12; ++k) DeleteFileA(VolumePath(base, k).c_str());
}

std::string RegionAtCursor(const Run& run) {
  const ArchiveCursor& c = run.archive.cursor;
  return std::string(reinterpret_cast<const char*>(c.At()), (size_t)c.Left());
}

// Answers the boxes of this process in order, one step per box: records its
// caption and text, runs the step's action, presses its button, and waits
// until the box is gone.
struct BoxStep {
  int button;
  std::function<void()> action;
};
class BoxScript {
 public:
  explicit BoxScript(std::vector<BoxStep> steps) : steps_(std::move(steps)) {
    thread_ = CreateThread(nullptr, 0, &BoxScript::Run, this, 0, nullptr);
  }
  ~BoxScript() { Join(); }
  // Waits until every step ran (or a box did not come).
  void Join() {
    if (!thread_) return;
    WaitForSingleObject(thread_, 60000);
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  std::vector<std::string> seen;  // "caption|text" per box

 private:
  static BOOL CALLBACK Visit(HWND window, LPARAM param) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char cls[64];
    if (process == GetCurrentProcessId() && IsWindowVisible(window) && GetClassNameA(window, cls, sizeof cls) &&
        strcmp(cls, "#32770") == 0 && GetDlgItem(window, 0xFFFF)) {
      *reinterpret_cast<HWND*>(param) = window;
      return FALSE;
    }
    return TRUE;
  }
  static DWORD WINAPI Run(void* self) {
    static_cast<BoxScript*>(self)->Answer();
    return 0;
  }
  void Answer() {
    for (BoxStep& step : steps_) {
      HWND box = nullptr;
      for (DWORD start = GetTickCount(); !box && GetTickCount() - start < 20000;) {
        EnumWindows(&BoxScript::Visit, reinterpret_cast<LPARAM>(&box));
        if (!box) Sleep(20);
      }
      if (!box) return;
      char caption[256], text[2048];
      GetWindowTextA(box, caption, sizeof caption);
      GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
      seen.push_back(std::string(caption) + "|" + text);
      if (step.action) step.action();
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(step.button, BN_CLICKED), (LPARAM)GetDlgItem(box, step.button));
      for (DWORD start = GetTickCount(); IsWindow(box) && GetTickCount() - start < 20000;) Sleep(20);
    }
  }
  std::vector<BoxStep> steps_;
  HANDLE thread_;
};

struct RegionCase {
  const char* name;
  Layout layout;
};

TEST(DataRegion, PiecesAreJoinedAndVerified) {
  const std::string region = Pattern(10000, 1);
  const std::string packed = LiteralBlock(region);
  const RegionCase cases[] = {
      {"in the image", {region, 10000, {}, false, false, ""}},
      {"in the image, empty", {"", 0, {}, false, false, ""}},
      {"beyond the image", {region, 10000, {}, true, false, ""}},
      {"image and two volumes", {region, 4000, {3000, 3000}, false, false, ""}},
      {"image and three volumes", {region, 1, {1, 5000, 4998}, false, false, ""}},
      {"file and two volumes", {region, 2500, {5000, 2500}, true, false, ""}},
      {"nothing in the file, one volume", {region, 0, {10000}, true, false, ""}},
      {"compressed, in the image", {packed, packed.size(), {}, false, true, ""}},
      {"compressed, two volumes", {packed, 100, {5000, packed.size() - 5100}, false, true, ""}},
  };
  for (const RegionCase& c : cases) {
    AttachedRun fresh;
    ::Run& run = fresh.run;
    Prepare(run, c.layout, "rv_ok");
    ProgressDialog progress(run);
    AssembleDataRegion(run, progress);
    const std::string& expected = c.layout.compressed ? region : c.layout.stored;
    EXPECT_EQ(RegionAtCursor(run) == expected, true) << c.name << ": " << RegionAtCursor(run).size() << " bytes";
    if (!c.layout.outsideImage && c.layout.firstPiece >= c.layout.stored.size() && !c.layout.compressed) {
      EXPECT_EQ(run.archive.cursor.At(), run.archive.base + kRegionOffset) << c.name << ": used in place";
    }
  }
  RemoveVolumes("rv_ok");
}

TEST(DataRegion, MissingVolumeIsAskedForUntilItAppears) {
  const std::string region = Pattern(9000, 2);
  const Layout l = {region, 3000, {3000, 3000}, false, false, ""};
  AttachedRun fresh;
  ::Run& run = fresh.run;
  Prepare(run, l, "rv_missing");
  const std::string third = VolumePath("rv_missing", 3);
  std::string thirdBytes = ReadRaw(third);
  DeleteFileA(third.c_str());
  std::vector<BoxStep> steps = {
      {IDOK, nullptr},                                          // still missing after OK
      {IDCANCEL, nullptr},                                      // Cancel ...
      {IDNO, nullptr},                                          // ... not confirmed
      {IDOK, [&] { WriteRaw(third, thirdBytes); }},             // the volume is there now
  };
  {
    BoxScript script(steps);
    ProgressDialog progress(run);
    AssembleDataRegion(run, progress);
    script.Join();
    const std::string drive(1, ProgramDirectory()[0] & ~0x20);
    const std::string prompt = "Insert Volume|Insert volume 3 in drive " + drive + ":";
    const std::vector<std::string> expected = {prompt, "Insert Volume|Wrong or missing volume.\r\n\r\n" + prompt.substr(14),
                                               "Question|Really cancel?",
                                               "Insert Volume|Wrong or missing volume.\r\n\r\n" + prompt.substr(14)};
    std::vector<std::string> seen = script.seen;
    EXPECT_EQ(seen, expected);
  }
  EXPECT_TRUE(RegionAtCursor(run) == region);
  RemoveVolumes("rv_missing");
}

TEST(DataRegion, WrongVolumesArePromptedWithTheWrongVolumeText) {
  const std::string region = Pattern(6000, 3);
  const Layout l = {region, 3000, {3000}, false, false, ""};
  struct Case {
    const char* name;
    std::string content;  // what lies there first
  } cases[] = {
      {"four bytes", Le32(kIdentifier)},
      {"wrong identifier", Le32(kIdentifier + 1) + region.substr(3000)},
      {"empty", ""},
  };
  for (const Case& c : cases) {
    AttachedRun fresh;
    ::Run& run = fresh.run;
    Prepare(run, l, "rv_wrong");
    const std::string second = VolumePath("rv_wrong", 2);
    const std::string good = ReadRaw(second);
    WriteRaw(second, c.content);
    {
      BoxScript script({{IDOK, [&] { WriteRaw(second, good); }}});
      ProgressDialog progress(run);
      AssembleDataRegion(run, progress);
      script.Join();
      ASSERT_EQ(script.seen.size(), 1u) << c.name;
      EXPECT_EQ(script.seen[0].rfind("Insert Volume|Wrong or missing volume.\r\n\r\nInsert volume 2 in drive ", 0), 0u)
          << c.name << ": " << script.seen[0];
    }
    EXPECT_TRUE(RegionAtCursor(run) == region) << c.name;
  }
  RemoveVolumes("rv_wrong");
}

TEST(DataRegion, PromptTextThatIsNotAnIntegerFormatIsShownAsItIs) {
  EXPECT_TRUE(IsIntegerFormat("Insert volume %d in drive %c:", 2));
  EXPECT_TRUE(IsIntegerFormat("100%% sure: %3d %-2x %c", 3));
  EXPECT_TRUE(IsIntegerFormat("no conversion", 2));
  EXPECT_FALSE(IsIntegerFormat("volume %s", 2));
  EXPECT_FALSE(IsIntegerFormat("%d %d %d", 2));
  EXPECT_FALSE(IsIntegerFormat("%n", 2));
  EXPECT_FALSE(IsIntegerFormat("%*d", 2));
  EXPECT_FALSE(IsIntegerFormat("trailing %", 2));
}

// Fatal cases: each in a child that reports the fatal box on stderr.
struct FatalCase {
  const char* name;
  const char* text;  // the fatal box's text
};
const FatalCase kFatalCases[] = {
    {"volume-too-long", "Corrupt. Error code: 50"},
    {"file-too-long", "Corrupt. Error code: 50"},
    {"flipped-byte", "Corrupt. Error code: 55"},
    {"broken-block", "Corrupt. Error code: 60"},
    {"file-too-short", "Error code 2: failed to read archive data"},
    {"cancel-confirmed", nullptr},  // no fatal box: the run just ends
};

DWORD WINAPI ReportFatalBox(void*) {
  for (;;) {
    HWND box = FindWindowA("#32770", "FATAL ERROR");
    if (box) {
      char text[2048];
      GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
      fprintf(stderr, "fatal=%s\n", text);
      fflush(stderr);
      return 0;
    }
    Sleep(20);
  }
}

void RunFatalCase(const std::string& which) {
  const std::string region = Pattern(6000, 4);
  Layout l = {region, 3000, {3000}, false, false, ""};
  std::string base = "rv_fatal_" + which;
  if (which == "volume-too-long") l.volumes = {3001};  // one byte more than missing
  if (which == "file-too-long") l = {region, 6000, {}, true, false, "x"};
  if (which == "broken-block") l = {Le32(0x9EC72BA1u) + Le32(50) + "garbage", 15, {}, false, true, ""};
  if (which == "file-too-short") l = {region, 6000, {}, true, false, ""};
  if (which == "volume-too-long") {
    l.stored = region;  // the volume is written from the region plus one byte
  }
  AttachedRun fresh;  // the process ends in its fatal path
  Run& run = fresh.run;
  Prepare(run, l, base);
  if (which == "volume-too-long") WriteRaw(VolumePath(base, 2), Le32(kIdentifier) + region.substr(3000) + "!");
  if (which == "flipped-byte") g_section[kRegionOffset + 10] ^= 0x40;
  if (which == "file-too-short") run.archive.layout.sectionFileOffset = 1u << 20;  // the file ends before the region
  int button = IDOK;
  if (which == "cancel-confirmed") {
    DeleteFileA(VolumePath(base, 2).c_str());
    button = IDCANCEL;
  }
  // The first box stays up long enough for the reporter to read a fatal one.
  std::vector<BoxStep> steps = {{button, [] { Sleep(500); }}};
  if (which == "cancel-confirmed") steps.push_back({IDYES, nullptr});
  BoxScript* script = new BoxScript(steps);  // left running: the process ends with a box
  (void)script;
  // The fatal box is reported before it is answered.
  CreateThread(nullptr, 0, &ReportFatalBox, nullptr, 0, nullptr);
  ProgressDialog progress(run);
  AssembleDataRegion(run, progress);
  fprintf(stderr, "not ended\n");
}

TEST(DataRegion, FatalCasesEndTheRun) {
  for (const FatalCase& c : kFatalCases) {
    std::string output;
    const std::string scratch = FreshDirectory(std::string("region_fatal_") + c.name);
    const int exitCode = RunSelfForLines(std::string("--fatal ") + c.name, output, scratch);
    EXPECT_EQ(exitCode, 1) << c.name << ": " << output;
    if (c.text) {
      EXPECT_NE(output.find(std::string("fatal=") + c.text + "\n"), std::string::npos) << c.name << ": " << output;
    } else {
      EXPECT_EQ(output.find("fatal="), std::string::npos) << c.name << ": " << output;
    }
    EXPECT_EQ(output.find("not ended"), std::string::npos) << c.name;
    RemoveVolumes(std::string("rv_fatal_") + c.name);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "--fatal") == 0) {
    RunFatalCase(argv[2]);
    return 3;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
