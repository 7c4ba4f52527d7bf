// How every truxpack command takes its arguments and reports.
//
// Exit codes: 0 success, 1 a bad input file or a failed write (one
// "truxpack: ..." line on stderr), 2 bad arguments (the problem and a usage
// line on stderr). Help goes to stdout with exit code 0.
//
// Options: long names ("--output FILE" or "--output=FILE"), one-letter
// aliases ("-o FILE"), and -q, -v, -h on every command. An unknown option is
// named, with the nearest known one when it is close.
#pragma once
#include <stdint.h>
#include <stdio.h>

#include <map>
#include <string>
#include <vector>

int Usage(const char* line);           // prints "usage: LINE", returns 2
int Fail(const std::string& message);  // prints "truxpack: MESSAGE", returns 1
void Warn(const std::string& message); // prints "truxpack: warning: MESSAGE" unless -q

// What a shell completes for a value or an argument: "file", "dir",
// "command" (a command's name), a file pattern such as "*.exe", or a list
// of words "fast|best". Null: nothing (a number, a size).
struct Option {
  const char* name;    // long name without "--"
  char letter;         // one-letter alias, 0 for none
  const char* value;   // the value's placeholder, nullptr for a switch
  const char* help;
  const char* complete = nullptr;  // null: "fast|best" for a placeholder with a |, "file" for FILE, else nothing
};

struct CommandHelp {
  const char* name;
  const char* arguments;  // positional arguments, for the usage line
  const char* summary;    // the first line is the summary; the rest says more
  std::vector<Option> options;  // -q, -v and -h are added to every command
  int minPositional;
  int maxPositional;
  std::vector<const char*> complete = {};  // what each positional argument completes to
};

// The options every command takes: -q, -v, -h.
const std::vector<Option>& CommonOptions();

// The first line of the command's summary.
std::string SummaryLine(const CommandHelp& command);

// "truxpack NAME [OPTIONS] ARGUMENTS".
std::string UsageLine(const CommandHelp& command);

// What a shell completes for the option's value (see Option).
std::string OptionCompletion(const Option& option);

struct ParsedArgs {
  std::vector<std::string> positional;
  std::map<std::string, std::string> values;  // option name -> value ("" for a switch)
  bool Has(const std::string& name) const { return values.count(name) != 0; }
  std::string Get(const std::string& name, const std::string& otherwise = std::string()) const {
    auto it = values.find(name);
    return it == values.end() ? otherwise : it->second;
  }
};

// Parses argv for command. Returns -1 when the command should run, else
// the exit code to return at once (0 after printing help, 2 after a usage
// error). Sets the process's verbosity from -q / -v.
int ParseArgs(const CommandHelp& command, int argc, char** argv, ParsedArgs& args);

// The full help of one command on out.
void PrintCommandHelp(const CommandHelp& command, FILE* out);

// Parses a byte count: digits with an optional K, M or G suffix (powers of
// 1024). False when the text is not one or exceeds max.
bool ParseSize(const std::string& text, uint64_t max, uint64_t& out);

// -q: 0, normal: 1, -v: 2.
int Verbosity();

// Progress of a long operation on stderr: on a terminal one line rewritten
// in place (done/total bytes, files, percent, rate, time left), elsewhere a
// plain line every few seconds; nothing with -q.
class Progress {
 public:
  Progress(const std::string& verb, uint64_t totalBytes, uint64_t totalFiles);
  ~Progress();
  void Advance(uint64_t bytes, uint64_t files = 1);
  void Update(uint64_t doneBytes, uint64_t totalBytes);  // bytes so far of a new total
  void Set(uint64_t doneBytes, uint64_t totalBytes, uint64_t doneFiles, uint64_t totalFiles);
  void Stage(const std::string& verb);  // a step without a count (compressing, checking)
  void Done();

 private:
  void Show(bool force);
  std::string verb_;
  uint64_t totalBytes_, totalFiles_, bytes_ = 0, files_ = 0;
  double start_, lastShown_ = 0;
  bool terminal_, shown_ = false, done_ = false;
};
