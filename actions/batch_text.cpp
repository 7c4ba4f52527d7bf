#include "actions/batch_text.h"

#include "core/tokenize.h"

namespace {

bool StartsLine(const String& text, int32_t at) {
  if (at == 0) return true;
  char before = text.CharAt(at - 1);
  return before == '\n' || before == '\r';
}

// Where the line is present (see EditAutoexecText); length receives how many
// characters it occupies there. -1 when it is absent.
int32_t FindAutoexecLine(const String& text, const String& line, int32_t& length) {
  for (int32_t at = text.Find(line.CStr(), line.Length(), 0, kFindIgnoreCase); at >= 0;
       at = text.Find(line.CStr(), line.Length(), at + 1, kFindIgnoreCase)) {
    if (StartsLine(text, at)) {
      length = line.Length();
      return at;
    }
  }
  // The last line of a text without a final break.
  String bare(line);
  bare.StripSuffix("\r\n");
  const int32_t at = text.Length() - bare.Length();
  if (bare.IsEmpty() || at < 0 || !StartsLine(text, at)) return -1;
  if (String(text.CStr() + at, bare.Length()).CompareNoCase(bare.CStr()) != 0) return -1;
  length = bare.Length();
  return at;
}

}  // namespace

bool IsLegacyInterpreter(const char* interpreter) {
  String name(interpreter);
  name.Trim("\" ");
  return name.Length() >= 11 &&
         String(name.CStr() + name.Length() - 11).CompareNoCase("command.com") == 0;
}

bool NeedsQuotedSet(const String& value) { return value.FindFirstOf("&|<>^%") >= 0; }

void AppendSetLine(String& out, const BatchVariable& variable, bool quotedForm) {
  if (!quotedForm || !NeedsQuotedSet(variable.value)) {
    out.Append("SET ");
    out.Append(variable.name);
    out.AppendChar('=');
    out.Append(variable.value);
    out.Append("\r\n");
    return;
  }
  String value(variable.value);
  value.ReplaceAll("%", "%%");
  out.Append("SET \"");
  out.Append(variable.name);
  out.AppendChar('=');
  out.Append(value);
  out.Append("\"\r\n");
}

void BuildBatchFile(String& out, const Array<BatchVariable>& variables, const String& commands, bool removePauses,
                    bool quotedForm) {
  out = "@echo off\r\n";
  for (const BatchVariable& v : variables) AppendSetLine(out, v, quotedForm);
  String body(commands);
  if (removePauses) RemovePauseLines(body);
  body.NormalizeNewlines();
  out.Append(body);
}

void AppendBatchPathArgument(String& commandLine, const String& path, bool legacyInterpreter) {
  const bool outerQuotes = !legacyInterpreter && path.FindFirstOf("&<>()@^|") >= 0;
  if (outerQuotes) commandLine.AppendChar('"');
  commandLine.AppendChar('"');
  commandLine.Append(path);
  commandLine.AppendChar('"');
  if (outerQuotes) commandLine.AppendChar('"');
}

String JoinBatchTexts(const String& archiveText, const String& addition) {
  String out(archiveText);
  if (addition.IsEmpty()) return out;
  if (!out.IsEmpty() && !out.EndsWithChar('\n') && !out.EndsWithChar('\r')) out.Append("\r\n");
  out.Append(addition);
  return out;
}

String AutoexecPathLine(const char* shortDirectory) {
  String line("PATH=%PATH%;");
  line.Append(shortDirectory);
  line.Append("\r\n");
  return line;
}

bool EditAutoexecText(String& text, const String& line, bool add) {
  int32_t length = 0;
  const int32_t at = FindAutoexecLine(text, line, length);
  if (add) {
    if (at >= 0) return false;
    if (!text.EndsWithChar('\n')) text.Append("\r\n");
    text.Append(line);
    return true;
  }
  if (at < 0) return false;
  text.Replace(at, length, "", 0);
  return true;
}
