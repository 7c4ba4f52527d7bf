#include "tools/truxpack/try_report.h"

#include <map>

#include "archive/format.h"
#include "tools/truxpack/cli.h"
#include "tools/truxpack/file_io.h"
#include "tools/truxpack/names.h"
#include "tools/truxpack/text_encoding.h"
#include "tools/truxpack/tool_info.h"

namespace {

constexpr char kFatalCaption[] = "FATAL ERROR";
constexpr char kClasses[] = "\\software\\classes\\";
constexpr char kUninstallKey[] = "\\software\\microsoft\\windows\\currentversion\\uninstall\\";

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// A text of the program under test, in its ANSI code page (Windows-1252),
// as UTF-8.
std::string AnsiText(const std::string& bytes) {
  std::string utf8;
  return Cp1252ToUtf8(bytes, utf8) ? utf8 : PrintableName(bytes);
}

// The robot escapes texts as \r \n \t \\ \xNN; they are in the ANSI code
// page (Windows-1252) of the program under test.
std::string RobotText(const std::string& escaped) {
  std::string bytes;
  for (size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] != '\\' || i + 1 >= escaped.size()) {
      bytes += escaped[i];
      continue;
    }
    const char c = escaped[++i];
    if (c == 'r') bytes += '\r';
    else if (c == 'n') bytes += '\n';
    else if (c == 't') bytes += '\t';
    else if (c == 'x' && i + 2 < escaped.size()) {
      bytes += (char)strtol(escaped.substr(i + 1, 2).c_str(), nullptr, 16);
      i += 2;
    } else bytes += c;
  }
  return AnsiText(bytes);
}

// The buttons a box can be answered with, as the run log names them.
struct Answer {
  int id;
  const char* name;
};
constexpr Answer kAnswerNames[] = {{1, "OK"},     {2, "Cancel"}, {3, "Abort"}, {4, "Retry"},
                                       {5, "Ignore"}, {6, "Yes"},    {7, "No"}};

int AnswerId(const std::string& name) {
  for (const Answer& a : kAnswerNames)
    if (name == a.name) return a.id;
  return 0;
}

const char* AnswerName(int id) {
  for (const Answer& a : kAnswerNames)
    if (id == a.id) return a.name;
  return nullptr;
}

// ---- the run log

// The lines of text (CR LF or LF), without the part before the first line
// break when dropFirst and without an unended last line when dropLast.
std::vector<std::string> LogLines(const std::string& text, bool dropFirst, bool dropLast) {
  std::vector<std::string> lines;
  size_t pos = 0;
  if (dropFirst) {
    pos = text.find('\n');
    if (pos == std::string::npos) return lines;
    ++pos;
  }
  while (pos < text.size()) {
    const size_t end = text.find('\n', pos);
    if (end == std::string::npos && dropLast) break;
    std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  return lines;
}

// A heading "PREFIX"CAPTION" (not shown), answered ANSWER" (with the colon
// when colon): the caption and the answer's id. False for a box that was
// shown (the robot read it) and for anything else.
bool NotShownHeading(const std::string& line, const std::string& prefix, bool colon, std::string& caption,
                     int& answer) {
  if (line.compare(0, prefix.size(), prefix) != 0) return false;
  std::string body = line.substr(prefix.size());
  if (colon) {
    if (body.empty() || body.back() != ':') return false;
    body.pop_back();
  }
  const std::string answered = ", answered ", notShown = "\" (not shown)";
  const size_t at = body.rfind(answered);
  if (at == std::string::npos || at < notShown.size() || body.compare(at - notShown.size(), notShown.size(), notShown) != 0)
    return false;
  const std::string word = body.substr(at + answered.size());
  for (char c : word)
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
  caption = body.substr(0, at - notShown.size());
  answer = AnswerId(word);
  return true;
}

// Reads the run log line by line: a line that starts with two blanks (or is
// empty) continues the entry its last heading began.
class RunLogParser {
 public:
  explicit RunLogParser(RunLog& log) : log_(log) {}

  void Line(const std::string& line) {
    if (line.empty() || line.compare(0, 2, "  ") == 0) {
      if (entry_ == kWindow || entry_ == kError) text_.push_back(line.size() > 2 ? line.substr(2) : std::string());
      return;
    }
    Finish();
    Heading(line);
  }

  // Ends the entry being read (its trailing empty lines belong to no text).
  void Finish() {
    while (!text_.empty() && text_.back().empty()) text_.pop_back();
    std::string text;
    for (size_t i = 0; i < text_.size(); ++i) text += (i ? "\n" : "") + text_[i];
    if (entry_ == kWindow) log_.windows.back().text = AnsiText(text);
    if (entry_ == kError && !text.empty()) log_.errors.push_back(AnsiText(text));
    entry_ = kNone;
    text_.clear();
  }

  // Whether the run's end section (its install log, errors and exit code)
  // has begun: no box follows it.
  bool AtEnd() const { return atEnd_; }

 private:
  enum Entry { kNone, kWindow, kError, kOther };

  void Heading(const std::string& line) {
    std::string caption;
    int answer = 0;
    const bool box = NotShownHeading(line, "Message box \"", true, caption, answer);
    if (box || NotShownHeading(line, "Dialog \"", false, caption, answer)) {
      ShownWindow w;
      w.dialog = !box;
      w.shown = false;
      w.caption = AnsiText(caption);
      w.answer = answer;
      log_.windows.push_back(w);
      entry_ = kWindow;
      return;
    }
    entry_ = kOther;
    if (line.compare(0, 7, "Run of ") == 0) atEnd_ = false;  // a later run's block
    if (line == "Errors:" || line == "Error report (not shown in automatic mode):") entry_ = kError;
    if (line == "Install log:" || line == "Uninstall log:" || line == "Errors:") atEnd_ = true;
    const std::string exit = "Exit code: ";
    if (line.compare(0, exit.size(), exit) == 0) {
      atEnd_ = true;
      const size_t digits = line.find_first_not_of("0123456789", exit.size());
      const size_t n = (digits == std::string::npos ? line.size() : digits) - exit.size();
      if (n >= 1 && n <= 10) {
        const int64_t code = strtoll(line.substr(exit.size(), n).c_str(), nullptr, 10);
        if (code <= 0xFFFFFFFFll) log_.exitCode = code;
      }
    }
  }

  RunLog& log_;
  Entry entry_ = kNone;
  std::vector<std::string> text_;
  bool atEnd_ = false;
};

// The part of a registry path that says where it is: "hkey_local_machine" or
// "hkey_current_user" and the rest, folded.
bool Below(const std::string& folded, const char* part) {
  for (const char* root : {"hkey_local_machine", "hkey_current_user"})
    if (StartsWith(folded, std::string(root) + part)) return true;
  return false;
}

// A text of several lines, each indented and made printable.
std::string Lines(const std::string& text, const char* indent) {
  std::string out, line;
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      out += indent + PrintablePath(line) + "\n";
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) out += indent + PrintablePath(line) + "\n";
  return out;
}

// Registry paths as people know them: the classes under HKEY_CLASSES_ROOT.
std::string ShownKey(const std::string& path) {
  const std::string folded = FoldCase(path);
  const std::string machineClasses = std::string("hkey_local_machine") + kClasses;
  if (StartsWith(folded, machineClasses)) return "HKEY_CLASSES_ROOT\\" + path.substr(machineClasses.size());
  return path;
}

std::string ValueName(const Difference& d) { return d.name.empty() ? "(default)" : "\"" + PrintablePath(d.name) + "\""; }

char Sign(Change c) { return c == Change::kAdded ? '+' : c == Change::kRemoved ? '-' : '~'; }

std::string Quote(const std::string& s) { return "\"" + PrintablePath(s) + "\""; }

std::string ShortcutLines(const Difference& d, const Snapshot& snapshot, const std::string& indent) {
  std::string out = indent + Sign(d.change) + " " + PrintablePath(DrivePath(d.path)) + "\n";
  if (d.change == Change::kRemoved) return out;
  auto it = snapshot.shortcuts.find(d.path);
  if (it == snapshot.shortcuts.end()) return out;
  const SnapshotShortcut& s = it->second;
  if (!s.read) return out + indent + "    (cannot be read: " + PrintablePath(s.problem) + ")\n";
  out += indent + "    -> " + (s.link.target.empty() ? "(no path: a shell item list)" : PrintablePath(s.link.target)) + "\n";
  out += indent + "    arguments " + Quote(s.link.arguments) + ", working directory " + Quote(s.link.workingDirectory) +
         ", icon " + Quote(s.link.iconLocation) + "," + std::to_string(s.link.iconIndex) + "\n";
  return out;
}

// Registry items under their keys: a key added or removed with its sign,
// an unchanged key as a heading, each value below it.
std::string RegistryLines(const std::vector<const Difference*>& items, const std::string& indent) {
  std::string out, key;
  for (const Difference* d : items) {
    if (d->kind == ItemKind::kKey) {
      out += indent + Sign(d->change) + " " + PrintablePath(ShownKey(d->path)) + "\n";
      key = FoldCase(d->path);
      continue;
    }
    if (FoldCase(d->path) != key) {
      out += indent + "  " + PrintablePath(ShownKey(d->path)) + "\n";
      key = FoldCase(d->path);
    }
    std::string line = indent + "    " + Sign(d->change) + " " + ValueName(*d);
    if (d->change == Change::kAdded) line += " = " + RegistryDataText(d->dataAfter);
    else if (d->change == Change::kRemoved) line += " (was " + RegistryDataText(d->dataBefore) + ")";
    else line += ": " + RegistryDataText(d->dataBefore) + " -> " + RegistryDataText(d->dataAfter);
    out += line + "\n";
  }
  return out;
}

const ReportGroup kGroupOrder[] = {ReportGroup::kFiles,           ReportGroup::kShortcuts,
                                   ReportGroup::kAssociations,    ReportGroup::kComRegistrations,
                                   ReportGroup::kFonts,           ReportGroup::kSharedCounts,
                                   ReportGroup::kRestartReplacements, ReportGroup::kUninstallEntry,
                                   ReportGroup::kInstallLog,      ReportGroup::kRegistry};

std::string Count(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

void PrintGroups(const std::vector<Difference>& diffs, const Snapshot& snapshot, FILE* out, const char* indent) {
  const std::string inner = std::string(indent) + "  ";
  for (ReportGroup g : kGroupOrder) {
    std::string body;
    std::vector<const Difference*> registry;
    size_t items = 0, keys = 0, values = 0;
    for (const Difference& d : diffs) {
      if (d.housekeeping || GroupOf(d) != g) continue;
      if (d.kind == ItemKind::kKey || d.kind == ItemKind::kValue) {
        registry.push_back(&d);
        ++(d.kind == ItemKind::kKey ? keys : values);
      } else {
        ++items;
        body += g == ReportGroup::kShortcuts && d.kind == ItemKind::kFile ? ShortcutLines(d, snapshot, inner)
                                                                          : inner + DifferenceLine(d) + "\n";
      }
    }
    body += RegistryLines(registry, inner);
    if (body.empty()) continue;
    std::string counts;
    if (items) counts = std::to_string(items);
    if (keys) counts += (counts.empty() ? "" : ", ") + Count(keys, "key", "keys");
    if (values) counts += (counts.empty() ? "" : ", ") + Count(values, "value", "values");
    fprintf(out, "%s%s (%s):\n%s", indent, GroupTitle(g), counts.c_str(), body.c_str());
  }
}

void PrintHousekeeping(const std::vector<Difference>& diffs, FILE* out, const char* indent) {
  std::map<std::string, std::pair<std::string, size_t>> byReason;  // reason -> items, values
  std::vector<std::string> order;
  for (const Difference& d : diffs) {
    if (!d.housekeeping) continue;
    auto& entry = byReason[d.housekeeping];
    if (entry.first.empty() && entry.second == 0) order.push_back(d.housekeeping);
    if (d.kind == ItemKind::kValue) ++entry.second;
    else entry.first += std::string(indent) + "    " + DifferenceLine(d) + "\n";
  }
  if (order.empty()) return;
  fprintf(out, "%sWine's own housekeeping (not counted):\n", indent);
  for (const std::string& reason : order) {
    const auto& entry = byReason[reason];
    fprintf(out, "%s  %s:\n%s", indent, reason.c_str(), entry.first.c_str());
    if (entry.second) fprintf(out, "%s    (%zu values)\n", indent, entry.second);
  }
}

// What a silent run's exit code means, or that it is none a silent run gives.
std::string ExitMeaning(int64_t code) {
  const char* meaning = SilentExitMeaning(code);
  return meaning ? meaning : "not an exit code of a silent run";
}

std::string RunSummary(const ProgramRun& run) {
  if (!run.ran) return "not run: " + run.problem;
  char seconds[32];
  snprintf(seconds, sizeof seconds, "%.1f s", run.seconds);
  std::string s = run.timedOut ? "still running after " + std::string(seconds) + ", ended by truxpack"
                               : "ended after " + std::string(seconds) + " with exit code " + std::to_string(run.exitCode);
  if (!run.problem.empty() && !run.timedOut) s += " (" + run.problem + ")";
  else if (!run.timedOut && run.silent) s += " (" + ExitMeaning(run.exitCode) + ")";
  if (run.windows.empty()) s += "; no message box or dialog";
  return s;
}

// The answer of a box or dialog: its button's label as the robot read it,
// else the button's usual name.
std::string AnswerLabel(const ShownWindow& w) {
  for (const auto& [id, label] : w.buttons)
    if (id == w.answer) return PrintablePath(label);
  const char* name = AnswerName(w.answer);
  return name ? name : std::to_string(w.answer);
}

void PrintWindows(const ProgramRun& run, FILE* out) {
  for (const ShownWindow& w : run.windows) {
    if (!w.shown) {
      fprintf(out, "  %s \"%s\", not shown (the silent run answered it itself):\n%s    answered: %s\n",
              w.dialog ? "a dialog" : "a message box", PrintablePath(w.caption).c_str(), Lines(w.text, "    | ").c_str(),
              AnswerLabel(w).c_str());
      continue;
    }
    fprintf(out, "  %s \"%s\":\n%s", w.dialog ? "a dialog" : "a message box", PrintablePath(w.caption).c_str(),
            Lines(w.text, "    | ").c_str());
    std::string buttons;
    for (const auto& [id, label] : w.buttons)
      buttons += (buttons.empty() ? "" : ", ") + PrintablePath(label) + (id == w.defaultButton ? " (default)" : "");
    fprintf(out, "    buttons: %s; answered: %s\n", buttons.empty() ? "none" : buttons.c_str(), AnswerLabel(w).c_str());
  }
  for (const std::string& e : run.errors) fprintf(out, "  an error in its run log:\n%s", Lines(e, "    | ").c_str());
  if (!run.logProblem.empty()) fprintf(out, "  its run log: %s\n", PrintablePath(run.logProblem).c_str());
}

// ---- JSON

// A JSON string: control characters escaped, a byte that is not UTF-8 as
// U+FFFD.
std::string Json(const std::string& utf8) {
  std::string out = "\"";
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char c = (unsigned char)utf8[i];
    uint32_t cp;
    const size_t n = c < 0x80 ? 1 : DecodeUtf8(utf8, i, cp);
    if (n == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += (char)c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char esc[8];
      snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out.append(utf8, i, n);
    }
    i += n;
  }
  return out + "\"";
}

std::string JsonOrNull(bool present, const std::string& utf8) { return present ? Json(utf8) : "null"; }

const char* ChangeName(Change c) { return c == Change::kAdded ? "added" : c == Change::kRemoved ? "removed" : "changed"; }

const char* KindName(ItemKind k) {
  switch (k) {
    case ItemKind::kDirectory: return "directory";
    case ItemKind::kFile: return "file";
    case ItemKind::kSymlink: return "symlink";
    case ItemKind::kOther: return "other";
    case ItemKind::kKey: return "key";
    default: return "value";
  }
}

std::string JsonItem(const Difference& d, const Snapshot& snapshot) {
  std::string o = "{\"change\": \"" + std::string(ChangeName(d.change)) + "\", \"kind\": \"" + KindName(d.kind) + "\"";
  if (d.kind == ItemKind::kKey || d.kind == ItemKind::kValue) {
    o += ", \"path\": " + Json(ShownKey(d.path));
    if (d.kind == ItemKind::kValue) {
      const std::string& data = d.change == Change::kRemoved ? d.dataBefore : d.dataAfter;
      o += ", \"name\": " + Json(d.name) + ", \"type\": " + Json(RegistryTypeName(RegistryDataType(data))) +
           ", \"data\": " + JsonOrNull(d.change != Change::kRemoved, RegistryDataText(d.dataAfter)) +
           ", \"data_before\": " + JsonOrNull(d.change != Change::kAdded, RegistryDataText(d.dataBefore));
    }
  } else {
    o += ", \"path\": " + Json(DrivePath(d.path));
    const bool hasAfter = d.change != Change::kRemoved, hasBefore = d.change != Change::kAdded;
    const SnapshotEntry& now = hasAfter ? d.after : d.before;
    if (d.kind == ItemKind::kFile) {
      o += ", \"size\": " + (hasAfter ? std::to_string((unsigned long long)d.after.size) : std::string("null"));
      o += ", \"size_before\": " +
           (hasBefore && d.before.kind == SnapshotEntry::kFile ? std::to_string((unsigned long long)d.before.size)
                                                               : std::string("null"));
    }
    o += ", \"attributes\": " + Json(now.attributes);
    auto sc = snapshot.shortcuts.find(d.path);
    if (GroupOf(d) == ReportGroup::kShortcuts && hasAfter && sc != snapshot.shortcuts.end() && sc->second.read) {
      const ShellLink& l = sc->second.link;
      o += ", \"target\": " + Json(l.target) + ", \"arguments\": " + Json(l.arguments) +
           ", \"working_dir\": " + Json(l.workingDirectory) + ", \"icon\": " + Json(l.iconLocation) +
           ", \"icon_index\": " + std::to_string(l.iconIndex);
    }
  }
  if (d.housekeeping) o += ", \"reason\": " + Json(d.housekeeping);
  return o + "}";
}

std::string JsonChanges(const std::vector<Difference>& diffs, const Snapshot& snapshot, const char* indent) {
  std::string o = "{";
  const std::string inner = std::string(indent) + "  ";
  bool firstGroup = true;
  auto list = [&](const char* name, auto pick) {
    o += std::string(firstGroup ? "\n" : ",\n") + inner + "\"" + name + "\": [";
    firstGroup = false;
    bool first = true;
    for (const Difference& d : diffs) {
      if (!pick(d)) continue;
      o += std::string(first ? "\n" : ",\n") + inner + "  " + JsonItem(d, snapshot);
      first = false;
    }
    o += first ? "]" : "\n" + inner + "]";
  };
  for (ReportGroup g : kGroupOrder) list(GroupJsonName(g), [g](const Difference& d) { return !d.housekeeping && GroupOf(d) == g; });
  list("wine_housekeeping", [](const Difference& d) { return d.housekeeping != nullptr; });
  return o + "\n" + indent + "}";
}

std::string JsonStrings(const std::vector<std::string>& list) {
  std::string o = "[";
  for (size_t i = 0; i < list.size(); ++i) o += (i ? ", " : "") + Json(list[i]);
  return o + "]";
}

std::string JsonRun(const ProgramRun& run, const char* indent) {
  char seconds[32];
  snprintf(seconds, sizeof seconds, "%.3f", run.seconds);
  const bool ended = run.ran && !run.timedOut && run.problem.empty() && run.exitCode >= 0;
  std::string o = std::string("{\"command_line\": ") + Json(run.commandLine) + ", \"ran\": " + (run.ran ? "true" : "false") +
                  ", \"silent\": " + (run.silent ? "true" : "false") +
                  ", \"exit_code\": " + (run.exitCode >= 0 ? std::to_string(run.exitCode) : std::string("null")) +
                  ", \"outcome\": " + JsonOrNull(run.silent && ended, ExitMeaning(run.exitCode)) +
                  ", \"timed_out\": " + (run.timedOut ? "true" : "false") + ", \"seconds\": " + seconds +
                  ", \"problem\": " + JsonOrNull(!run.problem.empty(), run.problem) +
                  ", \"errors\": " + JsonStrings(run.errors) +
                  ", \"log_problem\": " + JsonOrNull(!run.logProblem.empty(), run.logProblem) + ", \"windows\": [";
  bool first = true;
  for (const ShownWindow& w : run.windows) {
    o += std::string(first ? "\n" : ",\n") + indent + "  {\"kind\": \"" + (w.dialog ? "dialog" : "box") +
         "\", \"shown\": " + (w.shown ? "true" : "false") + ", \"caption\": " + Json(w.caption) +
         ", \"text\": " + Json(w.text) + ", \"buttons\": [";
    bool firstButton = true;
    for (const auto& [id, label] : w.buttons) {
      o += std::string(firstButton ? "" : ", ") + "{\"id\": " + std::to_string(id) + ", \"text\": " + Json(label) + "}";
      firstButton = false;
    }
    o += "], \"default\": " + std::to_string(w.defaultButton) + ", \"answer\": " + std::to_string(w.answer) + "}";
    first = false;
  }
  return o + (first ? "]}" : "\n" + std::string(indent) + "]}");
}

}  // namespace

bool ProgramRun::Fatal() const {
  for (const ShownWindow& w : windows)
    if (!w.dialog && w.caption == kFatalCaption) return true;
  return false;
}

std::vector<ShownWindow> ParseRobotReport(const std::string& out) {
  std::vector<ShownWindow> windows;
  size_t pos = 0;
  while (pos < out.size()) {
    size_t end = out.find('\n', pos);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t space = line.find(' ');
    const std::string word = line.substr(0, space), rest = space == std::string::npos ? "" : line.substr(space + 1);
    if (word == "box" || word == "dialog") {
      windows.push_back(ShownWindow());
      windows.back().dialog = word == "dialog";
      windows.back().caption = RobotText(rest);
    } else if (windows.empty()) {
      continue;
    } else if (word == "text") {
      windows.back().text = RobotText(rest);
    } else if (word == "button") {
      const size_t gap = rest.find(' ');
      windows.back().buttons.push_back({atoi(rest.substr(0, gap).c_str()),
                                        gap == std::string::npos ? "" : RobotText(rest.substr(gap + 1))});
    } else if (word == "default") {
      windows.back().defaultButton = atoi(rest.c_str());
    } else if (word == "answer") {
      windows.back().answer = atoi(rest.c_str());
    } else if (word == "rect") {
      int* r = windows.back().rect;
      if (sscanf(rest.c_str(), "%d %d %d %d", &r[0], &r[1], &r[2], &r[3]) != 4) r[0] = r[1] = r[2] = r[3] = 0;
    }
  }
  return windows;
}

RunLog ParseRunLog(const std::string& head, const std::string* tail) {
  RunLog log;
  RunLogParser parser(log);
  for (const std::string& line : LogLines(head, false, tail != nullptr)) parser.Line(line);
  parser.Finish();
  if (!tail) return log;
  log.gapMayHideEntries = !parser.AtEnd();
  // The tail's first lines continue an entry of the unread part: a parser
  // of its own reads them as belonging to none.
  RunLogParser tailParser(log);
  for (const std::string& line : LogLines(*tail, true, false)) tailParser.Line(line);
  tailParser.Finish();
  return log;
}

void ReadRunLog(const std::string& path, uint64_t headLimit, uint64_t tailLimit, ProgramRun& run) {
  std::string error;
  std::unique_ptr<FileSource> file = OpenFileSource(path, error);
  if (!file) {
    run.logProblem = "it cannot be read (" + PrintablePath(error) + ")";
    return;
  }
  const uint64_t size = file->Size();
  const bool whole = size <= headLimit + tailLimit;
  std::string head((size_t)(whole ? size : headLimit), '\0'), tail;
  if (!whole) tail.resize((size_t)tailLimit);
  if (!file->ReadAt(0, head.data(), head.size()) ||
      (!whole && !file->ReadAt(size - tail.size(), tail.data(), tail.size()))) {
    run.logProblem = "it cannot be read (" + PrintablePath(path) + " was cut short while it was read)";
    return;
  }
  ApplyRunLog(run, ParseRunLog(head, whole ? nullptr : &tail));
}

const char* SilentExitMeaning(int64_t code) {
  switch (code) {
    case 0: return "completed";
    case 3010: return "completed; a restart is needed to finish";
    case 1602: return "cancelled";
    case 1603: return "failed";
    case 1639: return "bad command line";
  }
  return nullptr;
}

bool SilentSuccess(int64_t code) { return code == 0 || code == 3010; }

ReportGroup GroupOf(const Difference& d) {
  if (d.kind == ItemKind::kKey || d.kind == ItemKind::kValue) {
    const std::string k = FoldCase(d.path) + "\\";
    if (Below(k, kUninstallKey)) return ReportGroup::kUninstallEntry;
    for (const char* com : {"clsid\\", "typelib\\", "interface\\", "appid\\"})
      if (Below(k, (std::string(kClasses) + com).c_str())) return ReportGroup::kComRegistrations;
    if (Below(k, kClasses)) return ReportGroup::kAssociations;
    if (d.kind == ItemKind::kValue) {
      if (Below(k, "\\software\\microsoft\\windows nt\\currentversion\\fonts\\") ||
          Below(k, "\\software\\microsoft\\windows\\currentversion\\fonts\\"))
        return ReportGroup::kFonts;
      if (Below(k, "\\software\\microsoft\\windows\\currentversion\\shareddlls\\")) return ReportGroup::kSharedCounts;
      if (FoldCase(d.name) == "pendingfilerenameoperations" &&
          Below(k, "\\system\\currentcontrolset\\control\\session manager\\"))
        return ReportGroup::kRestartReplacements;
    }
    return ReportGroup::kRegistry;
  }
  const std::string p = FoldCase(d.path);
  const std::string name = p.substr(p.rfind('/') + 1);
  if (d.kind == ItemKind::kFile && name.size() > 4 && name.compare(name.size() - 4, 4, ".lnk") == 0)
    return ReportGroup::kShortcuts;
  if (StartsWith(p, "windows/fonts/")) return ReportGroup::kFonts;
  if (p == "windows/wininit.ini") return ReportGroup::kRestartReplacements;
  if (d.kind == ItemKind::kFile && name == "install.log") return ReportGroup::kInstallLog;
  return ReportGroup::kFiles;
}

const char* GroupTitle(ReportGroup g) {
  switch (g) {
    case ReportGroup::kFiles: return "Files and directories";
    case ReportGroup::kShortcuts: return "Shortcuts";
    case ReportGroup::kAssociations: return "File associations";
    case ReportGroup::kComRegistrations: return "COM and type-library registrations";
    case ReportGroup::kFonts: return "Fonts";
    case ReportGroup::kSharedCounts: return "Shared-file counts";
    case ReportGroup::kRestartReplacements: return "Restart-time replacements";
    case ReportGroup::kUninstallEntry: return "Uninstall entry";
    case ReportGroup::kInstallLog: return "Install.LOG";
    default: return "Product keys and other registry values";
  }
}

const char* GroupJsonName(ReportGroup g) {
  switch (g) {
    case ReportGroup::kFiles: return "files";
    case ReportGroup::kShortcuts: return "shortcuts";
    case ReportGroup::kAssociations: return "associations";
    case ReportGroup::kComRegistrations: return "com_registrations";
    case ReportGroup::kFonts: return "fonts";
    case ReportGroup::kSharedCounts: return "shared_counts";
    case ReportGroup::kRestartReplacements: return "restart_replacements";
    case ReportGroup::kUninstallEntry: return "uninstall_entry";
    case ReportGroup::kInstallLog: return "install_log_files";
    default: return "registry";
  }
}

void ApplyRunLog(ProgramRun& run, const RunLog& log) {
  run.windows.insert(run.windows.end(), log.windows.begin(), log.windows.end());
  run.errors.insert(run.errors.end(), log.errors.begin(), log.errors.end());
  const bool ended = run.ran && !run.timedOut && run.problem.empty() && run.exitCode >= 0;
  if (log.gapMayHideEntries)
    run.logProblem = "it is too long to be read whole: a box in its unread middle part is not reported";
  else if (ended && log.exitCode < 0)
    run.logProblem = "it ends without an exit code: the program did not end as the runtime does";
  else if (ended && log.exitCode != run.exitCode)
    run.logProblem = "it gives exit code " + std::to_string(log.exitCode) + ", the program ended with " +
                     std::to_string(run.exitCode);
}

void JudgeTry(TryReport& r) {
  auto windowProblems = [&](const ProgramRun& run, const char* who) {
    for (const ShownWindow& w : run.windows) {
      std::string text = w.text;
      for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
      const std::string what = std::string(w.dialog ? "a dialog" : "a message box") + " \"" + PrintablePath(w.caption) + "\"";
      if (w.shown)
        r.problems.push_back(std::string(who) + " showed " + what + ": " + PrintablePath(text));
      else
        r.problems.push_back(std::string(who) + " would have shown " + what + " (the silent run answered " +
                             AnswerLabel(w) + ")" + (text.empty() ? "" : ": " + PrintablePath(text)));
    }
  };
  auto runProblems = [&](const ProgramRun& run, const char* who) {
    if (!run.ran) {
      r.problems.push_back(std::string(who) + " could not be run: " + run.problem);
      return;
    }
    windowProblems(run, who);
    if (run.timedOut) {
      r.problems.push_back(std::string(who) + " did not end within the time limit: " + run.problem);
    } else if (!run.problem.empty()) {
      r.problems.push_back(std::string(who) + ": " + run.problem);
    } else if (run.silent) {
      if (!SilentSuccess(run.exitCode))
        r.problems.push_back(std::string(who) + " ended with exit code " + std::to_string(run.exitCode) + ": " +
                             ExitMeaning(run.exitCode));
    } else if (run.exitCode != 1) {
      r.problems.push_back(std::string(who) + " ended with exit code " + std::to_string(run.exitCode) +
                           " (without /s the runtime always ends with 1)");
    }
    if (!run.logProblem.empty()) r.problems.push_back(std::string(who) + "'s run log: " + run.logProblem);
  };
  r.problems.clear();
  // With --screens the installation is interactive: its windows are the point.
  ProgramRun install = r.install;
  if (!r.screens.empty()) {
    std::vector<ShownWindow> fatal;
    for (const ShownWindow& w : install.windows)
      if (!w.dialog && w.caption == kFatalCaption) fatal.push_back(w);
    install.windows = fatal;
  }
  runProblems(install, "the installer");
  r.installed = r.problems.empty();
  if (!r.screensProblem.empty()) r.problems.push_back(r.screensProblem);
  if (!r.failure.empty()) r.problems.push_back("the try could not go on: " + r.failure);
  if (r.uninstallWanted) {
    if (r.installed && r.uninstallEntries.empty())
      r.problems.push_back("the installation made no Uninstall entry with an UninstallString: nothing removes the product");
    for (const ProgramRun& run : r.uninstall) runProblems(run, "the uninstaller");
    if (!r.batchProblem.empty()) r.problems.push_back(r.batchProblem);
    size_t left = 0;
    for (const Difference& d : r.left)
      if (!d.housekeeping) ++left;
    if (left) r.problems.push_back(std::to_string(left) + " item" + (left == 1 ? " was" : "s were") + " left behind");
  }
  r.exitCode = r.problems.empty() ? 0 : 1;
}

void PrintTextReport(const TryReport& r, FILE* out) {
  fprintf(out, "truxpack try %s", PrintablePath(r.installer).c_str());
  if (!r.product.empty()) fprintf(out, ": %s%s%s", PrintablePath(r.product).c_str(), r.version.empty() ? "" : " ", PrintablePath(r.version).c_str());
  fprintf(out, ", under %s\n", PrintablePath(r.wineVersion).c_str());
  if (!r.readProblem.empty()) fprintf(out, "(truxpack cannot read its settings: %s)\n", PrintablePath(r.readProblem).c_str());
  fprintf(out, "\nInstallation: %s\n  %s\n", PrintablePath(r.install.commandLine).c_str(), RunSummary(r.install).c_str());
  PrintWindows(r.install, out);
  if (!r.screens.empty())
    fprintf(out, "  Pictures of its windows: %s/index.md\n", PrintablePath(r.screens).c_str());
  size_t counted = 0;
  for (const Difference& d : r.installChanges)
    if (!d.housekeeping) ++counted;
  fprintf(out, "\nWhat the installation did%s\n", counted ? ":" : ": nothing");
  PrintGroups(r.installChanges, r.afterInstall, out, "  ");
  if (!r.installLog.empty()) {
    fprintf(out, "  Install.LOG gained:\n");
    for (const std::string& line : r.installLog) fprintf(out, "    | %s\n", PrintablePath(line).c_str());
  }
  if (!r.batches.empty()) {
    fprintf(out, "  Batches the installer's settings hold (their console output is not captured; what they write "
                 "shows above):\n");
    for (const BatchCommands& b : r.batches)
      fprintf(out, "    %s:\n%s", b.when.c_str(), Lines(b.commands, "      | ").c_str());
  }
  PrintHousekeeping(r.installChanges, out, "  ");
  if (!r.uninstallWanted) {
    fprintf(out, "\nRemoval: not tried (--no-uninstall)\n");
  } else {
    for (const ProgramRun& run : r.uninstall) {
      fprintf(out, "\nRemoval: %s\n  %s\n", PrintablePath(run.commandLine).c_str(), RunSummary(run).c_str());
      PrintWindows(run, out);
    }
    if (!r.batchProblem.empty()) fprintf(out, "  %s\n", r.batchProblem.c_str());
    if (r.uninstall.empty()) fprintf(out, "\nRemoval: nothing to run (no Uninstall entry)\n");
    if (r.leftChecked) {
      size_t left = 0;
      for (const Difference& d : r.left)
        if (!d.housekeeping) ++left;
      fprintf(out, "\nLeft behind%s\n", left ? ":" : ": nothing");
      PrintGroups(r.left, r.afterInstall, out, "  ");
      PrintHousekeeping(r.left, out, "  ");
    }
  }
  if (!r.keptPrefix.empty()) fprintf(out, "\nThe prefix is kept: %s\n", PrintablePath(r.keptPrefix).c_str());
  if (r.problems.empty()) {
    const bool restart = r.install.silent && r.install.exitCode == 3010;
    fprintf(out, "\nResult: the installation succeeded%s%s\n", restart ? " (a restart is needed to finish)" : "",
            r.uninstallWanted ? " and its removal left nothing behind" : "");
  } else {
    fprintf(out, "\nResult: FAILED\n");
    for (const std::string& p : r.problems) fprintf(out, "  - %s\n", p.c_str());
  }
}

void PrintJsonReport(const TryReport& r, FILE* out) {
  char format[16];
  snprintf(format, sizeof format, "%.2f", kArchiveFormatVersion / 100.0);
  std::string o = "{\n  \"schema\": 1,\n";
  o += "  \"truxpack\": " + Json(ToolVersion()) + ",\n  \"format_version\": " + format + ",\n";
  o += "  \"wine\": " + Json(r.wineVersion) + ",\n";
  o += "  \"installer\": {\"file\": " + Json(r.installer) + ", \"product\": " + JsonOrNull(!r.product.empty(), r.product) +
       ", \"version\": " + JsonOrNull(!r.version.empty(), r.version) +
       ", \"read_problem\": " + JsonOrNull(!r.readProblem.empty(), r.readProblem) + "},\n";
  o += "  \"batches\": [";
  for (size_t i = 0; i < r.batches.size(); ++i)
    o += std::string(i ? ", " : "") + "{\"when\": " + Json(r.batches[i].when) + ", \"commands\": " + Json(r.batches[i].commands) + "}";
  o += "],\n";
  o += "  \"prefix\": " + JsonOrNull(!r.keptPrefix.empty(), r.keptPrefix) + ",\n";
  o += "  \"install\": " + JsonRun(r.install, "  ") + ",\n";
  o += std::string("  \"installed\": ") + (r.installed ? "true" : "false") + ",\n";
  o += "  \"changes\": " + JsonChanges(r.installChanges, r.afterInstall, "  ") + ",\n";
  o += "  \"install_log\": " + JsonStrings(r.installLog) + ",\n";
  o += "  \"uninstall_entries\": " + JsonStrings(r.uninstallEntries) + ",\n";
  if (!r.uninstallWanted) {
    o += "  \"uninstall\": null,\n";
  } else {
    o += "  \"uninstall\": [";
    for (size_t i = 0; i < r.uninstall.size(); ++i) o += std::string(i ? ",\n    " : "\n    ") + JsonRun(r.uninstall[i], "    ");
    o += r.uninstall.empty() ? "],\n" : "\n  ],\n";
  }
  o += "  \"left_behind\": " + (r.leftChecked ? JsonChanges(r.left, r.afterInstall, "  ") : std::string("null")) + ",\n";
  o += "  \"problems\": " + JsonStrings(r.problems) + ",\n";
  o += "  \"exit_code\": " + std::to_string(r.exitCode) + "\n}\n";
  fputs(o.c_str(), out);
}
