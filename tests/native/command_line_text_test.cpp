// The command line's portable rules: the argument text after the
// program's own path.
#include "app/command_line_text.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandLine, ArgumentsFollowTheProgramsOwnPath) {
  const char* program = "C:\\Program Files\\Demo App\\Uninstall Demo.exe";
  struct Case {
    const char* line;
    const char* arguments;
  } cases[] = {
      // the Uninstall entry's form: the path unquoted, blanks and all
      {"C:\\Program Files\\Demo App\\Uninstall Demo.exe /u:\"Demo\"", "/u:\"Demo\""},
      {"c:\\program files\\demo app\\uninstall demo.exe  /a /u:\"Demo\"", "/a /u:\"Demo\""},
      {"\"C:\\Program Files\\Demo App\\Uninstall Demo.exe\" /u:\"Demo\"", "/u:\"Demo\""},
      {"C:\\Program Files\\Demo App\\Uninstall Demo.exe", ""},
      // anything else keeps the system's split
      {"Uninstall Demo.exe /u:\"Demo\"", "FALLBACK"},
      {"C:\\Program Files\\Demo App\\Uninstall Demo.exe2 /a", "FALLBACK"},
      {"\"C:\\Program Files\\Demo App\\Uninstall Demo.exe /a", "FALLBACK"},
      {"C:\\Program", "FALLBACK"},
      {"", "FALLBACK"},
  };
  for (const Case& c : cases) EXPECT_STREQ(ArgumentsAfterProgram(c.line, program, "FALLBACK"), c.arguments) << c.line;
  EXPECT_STREQ(ArgumentsAfterProgram(nullptr, program, "F"), "F");
  EXPECT_STREQ(ArgumentsAfterProgram("x /a", "", "F"), "F");
}

}  // namespace
