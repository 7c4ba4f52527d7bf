// The runtime's message table, error boxes and command-line parsing, with
// real message boxes answered by a thread of the test that reads them the
// way the UI robot does.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>

#include <string>

#include "app/command_line.h"
#include "core/memory.h"
#include "core/path.h"
#include "core/win32/system_dirs.h"
#include "runtime/messages.h"
#include "runtime/run_state.h"
#include "tests/win32/box_answerer.h"

namespace {

std::string Text(const String& s) { return std::string(s.CStr(), (size_t)s.Length()); }

// CR and LF written as \r and \n, so a report on stderr keeps them exact.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
  return out;
}

// Reports a box on stderr (CR and LF escaped) before it is answered: death
// tests read it there, since their process ends with the box.
BoxAnswerer::Hook Report(bool withText) {
  return [withText](const BoxAnswerer& box) {
    fprintf(stderr, "caption=%s owner_is_dialog=%d\n", box.Caption().c_str(),
            box.Owner() != nullptr && box.Owner() == g_currentDialog);
    if (withText) fprintf(stderr, "text=%s\n", Escaped(box.Body()).c_str());
    fflush(stderr);
  };
}

void LoadTable(int languages, std::initializer_list<const char*> texts) {
  Array<String> table;
  for (const char* t : texts) table.Append(String(t));
  SetMessageTable(languages, table);
}

class MessagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_options = CommandLineOptions();
    g_productFlags = 0;
    SetCurrentLanguage(0);
  }
};

TEST_F(MessagesTest, PlaceholdersAreFilledIgnoringCaseAndStored) {
  g_options.DisplayName = "Trux Demo";
  LoadTable(1, {"<product> setup", "Install <PRODUCT> or <product>?", "Files go to <Os>\\Temp"});
  EXPECT_STREQ(MessageText(0), "Trux Demo setup");
  EXPECT_STREQ(MessageText(1), "Install Trux Demo or Trux Demo?");
  std::string expected = "Files go to " + Text(WindowsDir()) + "\\Temp";
  EXPECT_EQ(std::string(MessageText(2)), expected);
  // Filled once: a later change of the name does not reach the stored text.
  const char* first = MessageText(1);
  g_options.DisplayName = "Other";
  EXPECT_STREQ(MessageText(1), "Install Trux Demo or Trux Demo?");
  EXPECT_EQ(MessageText(1), first);
}

TEST_F(MessagesTest, MissingRowsAndLanguagesReadEmpty) {
  LoadTable(2, {"en0", "de0", "en1", "de1"});
  EXPECT_STREQ(MessageText(5000), "");
  EXPECT_STREQ(MessageText(-1), "");
  SetCurrentLanguage(1);
  EXPECT_STREQ(MessageText(1), "de1");
  SetCurrentLanguage(2);
  EXPECT_STREQ(MessageText(0), "");
}

TEST_F(MessagesTest, ErrorBoxCaptionFallsBackToError) {
  LoadTable(1, {"title"});  // no message 21
  BoxAnswerer answer(IDOK, 5000);
  ErrorBox("Cannot open %s (%d)", "file.txt", 5);
  answer.Join();
  ASSERT_TRUE(answer.Seen());
  EXPECT_EQ(answer.Caption(), "Error");
  EXPECT_EQ(answer.Body(), "Cannot open file.txt (5)");
}

TEST_F(MessagesTest, ErrorBoxUsesMessage21AsCaption) {
  Array<String> table;
  for (int i = 0; i < 22; ++i) table.Append(String());
  table[21] = "Setup problem";
  SetMessageTable(1, table);
  BoxAnswerer answer(IDOK, 5000);
  ShowErrorBox("x");
  answer.Join();
  ASSERT_TRUE(answer.Seen());
  EXPECT_EQ(answer.Caption(), "Setup problem");
}

TEST_F(MessagesTest, BlankTextShowsNoBox) {
  BoxAnswerer answer(IDOK, 800);
  ShowErrorBox(" \r\n\t");
  ShowErrorBox(nullptr);
  answer.Join();
  EXPECT_FALSE(answer.Seen());
}

TEST_F(MessagesTest, AutomaticModeSilencesErrorBoxUnlessFlag35) {
  g_options.automaticMode = true;
  {
    BoxAnswerer answer(IDOK, 800);
    ErrorBox("quiet");
    answer.Join();
    EXPECT_FALSE(answer.Seen());
  }
  g_productFlags = 1ull << 35;
  {
    BoxAnswerer answer(IDOK, 5000);
    ErrorBox("loud");
    answer.Join();
    ASSERT_TRUE(answer.Seen());
    EXPECT_EQ(answer.Body(), "loud");
  }
}

TEST_F(MessagesTest, ConfirmCancelAnsweredNoReturns) {
  Array<String> table;
  for (int i = 0; i < 29; ++i) table.Append(String());
  table[20] = "Question";
  table[28] = "Really cancel <product>?";
  g_options.DisplayName = "Demo";
  SetMessageTable(1, table);
  BoxAnswerer answer(IDNO, 5000);
  ConfirmCancel();
  answer.Join();
  ASSERT_TRUE(answer.Seen());
  EXPECT_EQ(answer.Caption(), "Question");
  EXPECT_EQ(answer.Body(), "Really cancel Demo?");
}

TEST_F(MessagesTest, ConfirmCancelAnsweredYesEndsWithExitCode1) {
  EXPECT_EXIT(
      {
        BoxAnswerer answer(IDYES, 5000);
        ConfirmCancel();
      },
      ::testing::ExitedWithCode(1), "");
}

TEST_F(MessagesTest, FatalMessageIsOwnedByTheCurrentDialogAndEndsTheProcess) {
  EXPECT_EXIT(
      {
        HWND dialog = CreateWindowExA(0, "STATIC", "progress", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
        g_currentDialog = dialog;
        // The answerer reports what it saw on stderr before it presses OK.
        BoxAnswerer answer(IDOK, 5000, Report(false));
        FatalMessage("it broke");
      },
      ::testing::ExitedWithCode(1), "caption=FATAL ERROR owner_is_dialog=1");
}

TEST_F(MessagesTest, FailedAllocationShowsTheOutOfMemoryReport) {
  // 2 GB cannot be had by a 32-bit process: the allocator's failure handler
  // shows the report (size, then the stack words from the marker words on).
  EXPECT_EXIT(
      {
        BoxAnswerer answer(IDOK, 5000, Report(true));
        void* block = MemAlloc(0x7FFFFFF0u);
        fprintf(stderr, "allocation returned %p\n", block);
      },
      ::testing::ExitedWithCode(1),
      "caption=FATAL ERROR owner_is_dialog=0\\s+text=Out Of Memory\\.  Make sure the hard drive is not full\\.\\\\r\\\\n"
      "Requested size = 2147483632 \\(0x7FFFFFF0\\)\\\\r\\\\n\\\\r\\\\nStack contents:\\\\r11223344 55667788 \\w\\w\\w\\w");
}

TEST_F(MessagesTest, PauseSinceMarkReturnsAtOnceInAutomaticModeAndWaitsOtherwise) {
  g_options.automaticMode = true;
  MarkTime();
  DWORD start = GetTickCount();
  PauseSinceMark(2000);
  EXPECT_LT(GetTickCount() - start, 500u);
  g_options.automaticMode = false;
  MarkTime();
  start = GetTickCount();
  PauseSinceMark(300);
  EXPECT_GE(GetTickCount() - start, 250u);
}

// ----------------------------------------------------------- command line

TEST(CommandLineAtoms, Table) {
  struct Case {
    const char* line;
    std::initializer_list<const char*> atoms;
  } cases[] = {
      {"  /a   -b\t/c\r\n/d", {"/a", "-b", "/c", "/d"}},
      {"/d:\"C:\\Program Files\\App\" /a", {"/d:\"C:\\Program Files\\App\"", "/a"}},
      {"/n:\"say \"\"hi\"\"\"", {"/n:\"say \"hi\"\""}},
      {"/r:\"unterminated value", {"/r:\"unterminated value\""}},
      {"a\"b c\"d e", {"a\"b c\"d", "e"}},
      {"", {}},
      {" \t ", {}},
  };
  for (const Case& c : cases) {
    String rest(c.line);
    for (const char* expected : c.atoms) EXPECT_EQ(Text(NextCommandLineAtom(rest)), expected) << c.line;
    EXPECT_EQ(Text(NextCommandLineAtom(rest)), "") << c.line;
  }
}

TEST(CommandLineTail, SkipsTheProgramNameAndBlanks) {
  struct Case {
    const char* line;
    const char* tail;
  } cases[] = {
      {"setup.exe /a /b", "/a /b"},
      {"\"C:\\Program Files\\setup.exe\"  \t/q", "/q"},
      {"\"C:\\A B\\setup.exe\"/q", ""},           // a closing quote ends quoting, not the name
      {"C:\\A\" B\"\\setup.exe /x", "/x"},          // quotes inside the name
      {"\"C:\\never closed /x", ""},                   // an open quote runs to the end
      {"setup.exe", ""},
      {"", ""},
      {"C:\\Caf\xE9\\setup.exe /x", "/x"},          // letters from 0x80 up belong to an unquoted name
      {"setup.exe \xE9t\xE9 /x", "\xE9t\xE9 /x"},     // and are never skipped as blanks
      {"\"setup\xE9.exe\" /x", "/x"},
  };
  for (const Case& c : cases) {
    char line[64];
    snprintf(line, sizeof line, "%s", c.line);
    EXPECT_STREQ(CommandLineTail(line), c.tail) << c.line;
  }
}

TEST(CommandLineParse, ValidOptions) {
  CommandLineOptions o;
  ParseCommandLine("-a /D:C:\\Apps\\Tool /n:\"My App\" /r:\"notepad.exe `a b`\"", o);
  EXPECT_TRUE(o.automaticMode);
  EXPECT_EQ(Text(o.InstallDir), "C:\\Apps\\Tool");
  EXPECT_EQ(Text(o.DisplayName), "My App");
  EXPECT_EQ(Text(o.runAfterProgram), "notepad.exe \"a b\"");
  EXPECT_FALSE(o.uninstallMode);

  CommandLineOptions q;
  ParseCommandLine("/d:\"C:\\Apps\\Tool\" / /A", q);
  EXPECT_EQ(Text(q.InstallDir), "C:\\Apps\\Tool");
  EXPECT_TRUE(q.automaticMode);

  CommandLineOptions b;
  ParseCommandLine("/b1:\"echo one~~echo `two`\" /B3:\"x\" /b2:\"\"", b);
  EXPECT_EQ(Text(b.batchAdditions[0]), "echo one\r\necho \"two\"");
  EXPECT_EQ(Text(b.batchAdditions[1]), "");
  EXPECT_EQ(Text(b.batchAdditions[2]), "x");

  CommandLineOptions u;
  ParseCommandLine("/u:\"Trux Demo\" /d:first /d:second", u);
  EXPECT_TRUE(u.uninstallMode);
  EXPECT_EQ(Text(u.uninstallName), "Trux Demo");
  EXPECT_EQ(Text(u.InstallDir), "second");  // a later occurrence wins

  CommandLineOptions d;
  ParseCommandLine("/d:\"C:\\a \"\"b\"\"\"", d);
  EXPECT_EQ(Text(d.InstallDir), "C:\\a \"b\"");
}

TEST(CommandLineParse, OnlyNineteenAtomsAreExamined) {
  std::string line;
  for (int i = 1; i <= 25; ++i) line += "/d:dir" + std::to_string(i) + " ";
  CommandLineOptions o;
  ParseCommandLine(line.c_str(), o);
  EXPECT_EQ(Text(o.InstallDir), "dir19");
}

}  // namespace
