#include "tools/truxpack/manual.h"

#include "archive/format.h"
#include "tools/truxpack/cmd_archive.h"
#include "tools/truxpack/cmd_codec.h"
#include "tools/truxpack/cmd_tool.h"
#include "tools/truxpack/cmd_try.h"
#include "tools/truxpack/tool_info.h"

namespace {

const Manual kManual = {
    "build Windows installers from a TOML project file, and read them back",
    {
        "truxpack packs a product described in a TOML project file into an installer: the runtime stub, a "
        "32-bit Windows program that installs and uninstalls, with the product's archive in a section of its "
        "own. It also lists, verifies and extracts installers, so that a build can be checked on the machine "
        "that made it.",
        "The runtime stub is built into truxpack: build needs no other file. build --stub FILE takes another "
        "stub, truxpack stub -o FILE writes the built-in one out, and truxpack --version names its size and "
        "SHA-256.",
        "Options have long names (--output FILE or --output=FILE) and some a one-letter alias (-o FILE). "
        "Errors are one line on standard error; a project error names the file, line, column and key, and an "
        "unknown key or option the nearest known one. Progress goes to standard error: on a terminal one line "
        "rewritten in place, elsewhere a plain line every few seconds once a command has run for five "
        "seconds.",
    },
    {
        {"0", "success"},
        {"1", "a bad input file (project, language file, source, stub, installer) or a failed write; nothing "
              "is written"},
        {"2", "bad arguments: an unknown command or option, a missing or extra argument, a bad value, or build "
              "without --stub in a truxpack built without a runtime stub"},
    },
    {
        {"SOURCE_DATE_EPOCH",
         "seconds since 1970: build clamps every source file's modification time later than it to it, as "
         "other reproducible-build tools do (a date written in a [[file]] table is used as written). A value "
         "that is not such a number is an error."},
    },
    {
        {"truxpack init myproduct", "writes a commented example project into myproduct/"},
        {"truxpack build myproduct/project.toml -o setup.exe", "builds the installer"},
        {"truxpack verify setup.exe", "makes every check the runtime makes"},
        {"truxpack list --json setup.exe", "prints everything in the installer as one JSON document"},
        {"truxpack extract setup.exe contents", "writes the installer's files below contents/"},
        {"SOURCE_DATE_EPOCH=$(git log -1 --format=%ct) truxpack build project.toml -o setup.exe",
         "builds the same bytes on any machine, given the same sources"},
        {"truxpack schema > truxpack.schema.json", "writes the project file's schema for an editor"},
    },
    {
        {"project.toml", "a project file, as init writes it; relative file names in it are taken relative to it"},
        {"truxpack.schema.json", "the project file's JSON Schema, written by init beside the project"},
        {"NAME2.XAV, NAME3.XAV, ...", "volume files, written and read beside the installer"},
        {"PREFIX/lib/truxpack/trux-robot.exe",
         "the UI robot, a Windows program that try runs under Wine; try looks for trux-robot.exe beside truxpack "
         "first, then at ../lib/truxpack/ from truxpack's directory, where make install and the Debian package put "
         "it (--robot names another)"},
    },
};

// --version and --help of the tool itself, beside the commands' options.
const std::vector<Option> kToolOptions = {
    {"help", 'h', nullptr, "list the commands (truxpack help COMMAND or truxpack COMMAND --help: one command's options)"},
    {"version", 'V', nullptr, "print the tool's version, the archive format version, and the built-in runtime "
                              "stub's size and SHA-256"},
};

std::vector<std::string> Lines(const char* text) {
  std::vector<std::string> lines;
  std::string s = text;
  size_t start = 0;
  while (start <= s.size()) {
    size_t end = s.find('\n', start);
    if (end == std::string::npos) end = s.size();
    lines.push_back(s.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string Capitalized(std::string s) {
  if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = (char)(s[0] - 'a' + 'A');
  return s;
}

// "-o, --output FILE" (or "--stub FILE").
std::string OptionForm(const Option& o) {
  std::string form = o.letter ? std::string("-") + o.letter + ", " : "";
  form += std::string("--") + o.name;
  if (o.value) form += std::string(" ") + o.value;
  return form;
}

// ------------------------------------------------------------------ roff

// Prose for man(7): backslashes kept, dashes that start an option written as
// minus signs, and a line that would start with a control character
// guarded.
std::string Roff(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-' && (i == 0 || std::string(" ([/,=|").find(text[i - 1]) != std::string::npos ||
                            (text[i - 1] == '-' && out.size() >= 2 && out.compare(out.size() - 2, 2, "\\-") == 0))) {
      out += "\\-";
    } else {
      out += c;
    }
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
  return out;
}

// "\fB-o\fR, \fB--output\fR \fIFILE\fR".
std::string RoffOption(const Option& o) {
  std::string form = o.letter ? std::string("\\fB\\-") + o.letter + "\\fR, " : "";
  form += "\\fB" + Roff(std::string("--") + o.name) + "\\fR";
  if (o.value) form += " \\fI" + Roff(o.value) + "\\fR";
  return form;
}

void RoffOptions(std::string& out, const std::vector<Option>& options) {
  for (const Option& o : options) out += ".TP\n" + RoffOption(o) + "\n" + Roff(o.help) + "\n";
}

// ------------------------------------------------------------- Markdown

std::string Cell(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '|' ? std::string("\\|") : std::string(1, c);
  return out;
}

void MarkdownOptions(std::string& out, const std::vector<Option>& options) {
  out += "| Option | |\n|---|---|\n";
  for (const Option& o : options) {
    std::string form = o.letter ? std::string("`-") + o.letter + "`, " : "";
    form += std::string("`--") + o.name + (o.value ? std::string(" ") + o.value : "") + "`";
    out += "| " + Cell(form) + " | " + Cell(o.help) + " |\n";
  }
}

}  // namespace

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {&kBuildCommand, RunBuild},       {&kListCommand, RunList},       {&kVerifyCommand, RunVerify},
      {&kExtractCommand, RunExtract},   {&kInitCommand, RunInit},       {&kSchemaCommand, RunSchema},
      {&kStubCommand, RunStub},         {&kCompressCommand, RunCompress}, {&kDecompressCommand, RunDecompress},
      {&kTryCommand, RunTry},           {&kSnapshotCommand, RunSnapshot}, {&kDiffCommand, RunDiff},
  };
  return commands;
}

const Command* FindCommand(const std::string& name) {
  for (const Command& c : Commands())
    if (name == c.help->name) return &c;
  return nullptr;
}

const Manual& TheManual() { return kManual; }

void PrintToolHelp(FILE* out) {
  fprintf(out, "usage: truxpack COMMAND [OPTIONS] ARGUMENTS...\n\n%s.\n\ncommands:\n",
          Capitalized(kManual.summary).c_str());
  for (const Command& c : Commands()) fprintf(out, "  %-11s %s\n", c.help->name, SummaryLine(*c.help).c_str());
  std::string common;
  for (const Option& o : CommonOptions())
    common += std::string(common.empty() ? "" : ", ") + "-" + o.letter + "/--" + o.name;
  fprintf(out, "\noptions of every command: %s\n", common.c_str());
  for (const Option& o : kToolOptions) fprintf(out, "truxpack %s: %s\n", OptionForm(o).c_str(), o.help);
  fprintf(out, "exit codes:\n");
  for (const ManualEntry& e : kManual.exitCodes) fprintf(out, "  %s  %s\n", e.term, e.text);
  fprintf(out, "environment:\n");
  for (const ManualEntry& e : kManual.environment) fprintf(out, "  %s: %s\n", e.term, e.text);
  fprintf(out, "quick start:\n");
  for (size_t i = 0; i < 3 && i < kManual.examples.size(); ++i) fprintf(out, "  %s\n", kManual.examples[i].term);
}

std::string ManPage() {
  std::string out = std::string(".\\\" truxpack(1), generated by truxpack-docgen from truxpack's command tables.\n") +
                    ".TH TRUXPACK 1 \"\" \"truxpack " + ToolVersion() + "\" \"User Commands\"\n";
  out += ".SH NAME\ntruxpack \\- " + Roff(kManual.summary) + "\n";
  out += ".SH SYNOPSIS\n.nf\n";
  for (const Command& c : Commands()) {
    out += "\\fBtruxpack " + std::string(c.help->name) + "\\fR";
    if (!c.help->options.empty()) out += " [\\fIOPTIONS\\fR]";
    if (c.help->arguments[0]) out += " \\fI" + Roff(c.help->arguments) + "\\fR";
    out += "\n";
  }
  out += "\\fBtruxpack help\\fR [\\fICOMMAND\\fR]\n\\fBtruxpack \\-\\-help\\fR | \\fB\\-\\-version\\fR\n.fi\n";
  out += ".SH DESCRIPTION\n";
  for (size_t i = 0; i < kManual.description.size(); ++i) out += (i ? ".PP\n" : "") + Roff(kManual.description[i]) + "\n";
  out += ".SH COMMANDS\n";
  for (const Command& c : Commands()) {
    out += ".SS \"" + Roff(UsageLine(*c.help)) + "\"\n";
    std::vector<std::string> lines = Lines(c.help->summary);
    for (size_t i = 0; i < lines.size(); ++i) out += (i ? ".PP\n" : "") + Roff(lines[i]) + "\n";
    RoffOptions(out, c.help->options);
  }
  out += ".SH OPTIONS\nEvery command takes:\n";
  RoffOptions(out, CommonOptions());
  out += ".PP\nThe tool itself takes:\n";
  RoffOptions(out, kToolOptions);
  out += ".SH \"EXIT STATUS\"\n";
  for (const ManualEntry& e : kManual.exitCodes) out += ".TP\n.B " + std::string(e.term) + "\n" + Roff(e.text) + "\n";
  out += ".SH ENVIRONMENT\n";
  for (const ManualEntry& e : kManual.environment) out += ".TP\n.B " + std::string(e.term) + "\n" + Roff(e.text) + "\n";
  out += ".SH FILES\n";
  for (const ManualEntry& e : kManual.files) out += ".TP\n.I " + Roff(e.term) + "\n" + Roff(e.text) + "\n";
  out += ".SH EXAMPLES\n";
  for (size_t i = 0; i < kManual.examples.size(); ++i) {
    const ManualEntry& e = kManual.examples[i];
    out += (i ? ".PP\n" : "") + Capitalized(Roff(e.text)) + ":\n.RS\n.nf\n" + Roff(e.term) + "\n.fi\n.RE\n";
  }
  out += ".SH \"SEE ALSO\"\n";
  out += Roff("The guide truxpack.md, installed with the tool's documentation (share/doc/truxpack under the "
              "installation prefix), describes the installer's layout, every key of the project file, the archive "
              "error codes and the JSON document of list --json.") +
         "\n";
  return out;
}

std::string GuideReference() {
  std::string out = "## Commands\n";
  for (const Command& c : Commands()) {
    out += "\n### `truxpack " + std::string(c.help->name) + "`\n\n```\n" + UsageLine(*c.help) + "\n```\n\n";
    std::vector<std::string> lines = Lines(c.help->summary);
    for (size_t i = 0; i < lines.size(); ++i) out += (i ? "\n" : "") + lines[i] + "\n";
    if (!c.help->options.empty()) {
      out += "\n";
      MarkdownOptions(out, c.help->options);
    }
  }
  out += "\n### Options of every command\n\n";
  MarkdownOptions(out, CommonOptions());
  out += "\nThe tool itself: `truxpack help [COMMAND]`, and\n\n";
  MarkdownOptions(out, kToolOptions);
  out += "\n### Exit codes\n\n| Code | |\n|---|---|\n";
  for (const ManualEntry& e : kManual.exitCodes) out += "| " + std::string(e.term) + " | " + Cell(e.text) + " |\n";
  out += "\n### Environment\n\n| Variable | |\n|---|---|\n";
  for (const ManualEntry& e : kManual.environment)
    out += "| `" + std::string(e.term) + "` | " + Cell(e.text) + " |\n";
  return out;
}
