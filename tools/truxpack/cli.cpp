#include "tools/truxpack/cli.h"

#include <string.h>
#include <time.h>
#include <unistd.h>

#include "archive/format.h"
#include "tools/truxpack/project_toml.h"

namespace {

int g_verbosity = 1;

double Now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + ts.tv_nsec * 1e-9;
}

int BadArguments(const CommandHelp& c, const std::string& problem) {
  fprintf(stderr, "truxpack %s: %s\n", c.name, problem.c_str());
  fprintf(stderr, "usage: %s\n(truxpack %s --help lists every option)\n", UsageLine(c).c_str(), c.name);
  return 2;
}

const Option* FindLong(const CommandHelp& c, const std::string& name) {
  for (const Option& o : c.options)
    if (name == o.name) return &o;
  for (const Option& o : CommonOptions())
    if (name == o.name) return &o;
  return nullptr;
}

const Option* FindLetter(const CommandHelp& c, char letter) {
  for (const Option& o : c.options)
    if (o.letter == letter) return &o;
  for (const Option& o : CommonOptions())
    if (o.letter == letter) return &o;
  return nullptr;
}

std::string Rate(double bytesPerSecond) {
  char text[32];
  if (bytesPerSecond >= 1 << 20)
    snprintf(text, sizeof text, "%.1f MB/s", bytesPerSecond / (1 << 20));
  else
    snprintf(text, sizeof text, "%.0f KB/s", bytesPerSecond / 1024);
  return text;
}

std::string Megabytes(uint64_t n) {
  char text[32];
  snprintf(text, sizeof text, "%.1f MB", (double)n / (1 << 20));
  return text;
}

}  // namespace

int Usage(const char* line) {
  fprintf(stderr, "usage: %s\n", line);
  return 2;
}

int Fail(const std::string& message) {
  fprintf(stderr, "truxpack: %s\n", message.c_str());
  return 1;
}

void Warn(const std::string& message) {
  if (g_verbosity > 0) fprintf(stderr, "truxpack: warning: %s\n", message.c_str());
}

int Verbosity() { return g_verbosity; }

const std::vector<Option>& CommonOptions() {
  static const std::vector<Option> options = {
      {"quiet", 'q', nullptr, "print nothing but errors"},
      {"verbose", 'v', nullptr, "print more (each file as it is handled)"},
      {"help", 'h', nullptr, "show this help"},
  };
  return options;
}

std::string SummaryLine(const CommandHelp& c) {
  std::string s = c.summary;
  return s.substr(0, s.find('\n'));
}

std::string UsageLine(const CommandHelp& c) {
  std::string line = std::string("truxpack ") + c.name;
  if (!c.options.empty()) line += " [OPTIONS]";
  if (c.arguments[0]) line += std::string(" ") + c.arguments;
  return line;
}

std::string OptionCompletion(const Option& o) {
  if (o.complete) return o.complete;
  if (!o.value) return "";
  std::string value = o.value;
  if (value.find('|') != std::string::npos) return value;
  return value == "FILE" ? "file" : value == "DIR" ? "dir" : "";
}

void PrintCommandHelp(const CommandHelp& c, FILE* out) {
  fprintf(out, "usage: %s\n\n%s\n\noptions:\n", UsageLine(c).c_str(), c.summary);
  auto print = [out](const Option& o) {
    std::string left = o.letter ? std::string("-") + o.letter + ", " : std::string("    ");
    left += std::string("--") + o.name + (o.value ? std::string(" ") + o.value : std::string());
    fprintf(out, "  %-28s %s\n", left.c_str(), o.help);
  };
  for (const Option& o : c.options) print(o);
  for (const Option& o : CommonOptions()) print(o);
}

int ParseArgs(const CommandHelp& c, int argc, char** argv, ParsedArgs& args) {
  bool optionsEnd = false;
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
      args.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnd = true;
      continue;
    }
    const Option* o = nullptr;
    std::string value;
    bool inlineValue = false;
    if (arg[1] == '-') {
      std::string name = arg.substr(2);
      size_t eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name = name.substr(0, eq);
        inlineValue = true;
      }
      o = FindLong(c, name);
      if (!o) {
        std::vector<std::string> known;
        for (const Option& k : c.options) known.push_back(k.name);
        for (const Option& k : CommonOptions()) known.push_back(k.name);
        std::string nearest = NearestName(name, known);
        return BadArguments(c, "unknown option --" + name + (nearest.empty() ? "" : "; did you mean --" + nearest + "?"));
      }
    } else {
      if (arg.size() != 2) return BadArguments(c, "unknown option " + arg + " (one-letter options stand alone)");
      o = FindLetter(c, arg[1]);
      if (!o) return BadArguments(c, "unknown option " + arg);
    }
    if (o->value && !inlineValue) {
      if (i + 1 >= argc) return BadArguments(c, std::string("--") + o->name + " needs a value " + o->value);
      value = argv[++i];
    } else if (!o->value && inlineValue) {
      return BadArguments(c, std::string("--") + o->name + " takes no value");
    }
    args.values[o->name] = value;
  }
  if (args.Has("help")) {
    PrintCommandHelp(c, stdout);
    return 0;
  }
  g_verbosity = args.Has("quiet") ? 0 : args.Has("verbose") ? 2 : 1;
  if ((int)args.positional.size() < c.minPositional)
    return BadArguments(c, std::string("missing ") + c.arguments);
  if ((int)args.positional.size() > c.maxPositional)
    return BadArguments(c, "unexpected argument " + args.positional[(size_t)c.maxPositional]);
  return -1;
}

bool ParseSize(const std::string& text, uint64_t max, uint64_t& out) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  uint64_t v = 0;
  size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (v > (UINT64_MAX - 9) / 10) return false;
    v = v * 10 + (uint64_t)(text[i] - '0');
  }
  int shift = 0;
  if (i < text.size()) {
    char unit = text[i++];
    shift = unit == 'K' || unit == 'k' ? 10 : unit == 'M' || unit == 'm' ? 20 : unit == 'G' || unit == 'g' ? 30 : -1;
    if (shift < 0 || i != text.size()) return false;
  }
  if (v > (max >> shift)) return false;
  out = v << shift;
  return true;
}

Progress::Progress(const std::string& verb, uint64_t totalBytes, uint64_t totalFiles)
    : verb_(verb), totalBytes_(totalBytes), totalFiles_(totalFiles), start_(Now()), terminal_(isatty(2) != 0) {}

Progress::~Progress() { Done(); }

void Progress::Advance(uint64_t bytes, uint64_t files) {
  bytes_ += bytes;
  files_ += files;
  Show(false);
}

void Progress::Update(uint64_t doneBytes, uint64_t totalBytes) {
  bytes_ = doneBytes;
  totalBytes_ = totalBytes;
  Show(false);
}

void Progress::Set(uint64_t doneBytes, uint64_t totalBytes, uint64_t doneFiles, uint64_t totalFiles) {
  bytes_ = doneBytes;
  totalBytes_ = totalBytes;
  files_ = doneFiles;
  totalFiles_ = totalFiles;
  Show(false);
}

void Progress::Stage(const std::string& verb) {
  verb_ = verb;
  totalBytes_ = totalFiles_ = bytes_ = files_ = 0;
  Show(true);
}

void Progress::Show(bool force) {
  if (g_verbosity == 0 || done_) return;
  double now = Now();
  // A terminal line is refreshed a few times a second; a log gets a line
  // every five seconds at most.
  if (!force && now - lastShown_ < (terminal_ ? 0.2 : 5.0)) return;
  // A log gets lines only from operations that take a while.
  if (!terminal_ && now - start_ < 5.0) return;
  lastShown_ = now;
  std::string line = verb_;
  if (totalFiles_ || totalBytes_) {
    double elapsed = now - start_;
    double rate = elapsed > 0 ? bytes_ / elapsed : 0;
    char text[160];
    int percent = totalBytes_ ? (int)(bytes_ * 100 / totalBytes_) : totalFiles_ ? (int)(files_ * 100 / totalFiles_) : 0;
    if (totalFiles_)
      snprintf(text, sizeof text, " %s of %s, %llu of %llu files, %d%%", Megabytes(bytes_).c_str(),
               Megabytes(totalBytes_).c_str(), (unsigned long long)files_, (unsigned long long)totalFiles_, percent);
    else
      snprintf(text, sizeof text, " %s of %s, %d%%", Megabytes(bytes_).c_str(), Megabytes(totalBytes_).c_str(),
               percent);
    line += text;
    if (elapsed > 0.5 && rate > 0) {
      line += ", " + Rate(rate);
      if (totalBytes_ > bytes_) {
        snprintf(text, sizeof text, ", %.0f s left", (totalBytes_ - bytes_) / rate);
        line += text;
      }
    }
  }
  if (terminal_) {
    fprintf(stderr, "\r\033[K%s", line.c_str());
    shown_ = true;
  } else {
    fprintf(stderr, "truxpack: %s\n", line.c_str());
  }
  fflush(stderr);
}

void Progress::Done() {
  if (done_) return;
  done_ = true;
  if (terminal_ && shown_) fprintf(stderr, "\r\033[K");
}
