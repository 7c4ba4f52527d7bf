#include "uninstall/uninstall_data.h"

#include "archive/format.h"
#include "core/format.h"
#include "core/tokenize.h"

const int32_t kUninstallMessageSet[kUninstallMessageCount] = {
    kMsgUninstallErrors,    kMsgUninstallDoneCaption, kMsgQuestionCaption,   kMsgWrongVolume,
    kMsgUninstallDone,      kMsgSharedFileCaption,    kMsgInstallHeading,    kMsgCancel,
    kMsgUninstallConfirm,   kMsgUninstallCaption,     kMsgFontQuestion,      kMsgFontCaption,
    kMsgRemoveFailed,       kMsgSharedFileQuestion,   kMsgStatusFonts,       kMsgStatusCleanup,
    kMsgStatusKeys,         kMsgStatusAssociations,   kMsgUninstallHeading,  kMsgUninstallRestart};

namespace {

const char kStringsSection[] = "[Strings]";
const char kAssociationsSection[] = "[Associations]";
const char kAssociationSeparator[] = "~!~";

// A read-only walk over text[begin, end) one line at a time. A line ends at
// CR, LF, CR LF or LF CR; the break is not part of the line.
class LineCursor {
 public:
  LineCursor(const char* text, int32_t begin, int32_t end) : text_(text), pos_(begin), end_(end) {}
  bool AtEnd() const { return pos_ >= end_; }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  // The next line's bounds [start, stop); the cursor moves past its break.
  // withBreak makes stop include the break.
  void Next(int32_t& start, int32_t& stop, bool withBreak) {
    start = pos_;
    int32_t i = pos_;
    while (i < end_ && text_[i] != '\r' && text_[i] != '\n') ++i;
    int32_t lineEnd = i;
    if (i < end_) {
      char c = text_[i++];
      if (i < end_ && (text_[i] == '\r' || text_[i] == '\n') && text_[i] != c) ++i;
    }
    stop = withBreak ? i : lineEnd;
    pos_ = i;
  }

 private:
  const char* text_;
  int32_t pos_;
  int32_t end_;
};

// The message number of a "~N" line: the digits from its first digit on;
// -1 without digits. Values beyond the message range stop growing.
int32_t MessageNumberOf(const char* line, int32_t length) {
  int32_t i = 0;
  while (i < length && (line[i] < '0' || line[i] > '9')) ++i;
  if (i == length) return -1;
  int32_t n = 0;
  for (; i < length && line[i] >= '0' && line[i] <= '9'; ++i) {
    n = n * 10 + (line[i] - '0');
    if (n > kMaxUninstallMessage) return kMaxUninstallMessage + 1;
  }
  return n;
}

void ParseAssociations(const char* text, int32_t begin, int32_t end, Array<UninstallAssociation>& out) {
  LineCursor lines(text, begin, end);
  for (int32_t taken = 0; taken < kMaxUninstallSectionLines && !lines.AtEnd(); ++taken) {
    int32_t start, stop;
    lines.Next(start, stop, false);
    if (start == stop) continue;
    String line(text + start, stop - start);
    int32_t first = line.Find(kAssociationSeparator);
    if (first < 0) continue;
    int32_t second = line.Find(kAssociationSeparator, kWholeText, first + 3);
    if (second < 0) continue;
    UninstallAssociation record;
    line.Mid(record.extension, 0, first);
    line.Mid(record.fileType, first + 3, second - first - 3);
    line.Mid(record.verb, second + 3, kWholeText);
    if (record.extension.IsEmpty() || record.fileType.IsEmpty() || record.verb.IsEmpty()) continue;
    out.Append(static_cast<UninstallAssociation&&>(record));
  }
}

void ParseMessages(const char* text, int32_t begin, int32_t end, Array<String>& out) {
  LineCursor lines(text, begin, end);
  for (int32_t taken = 0; taken < kMaxUninstallSectionLines && !lines.AtEnd(); ++taken) {
    int32_t start, stop;
    lines.Next(start, stop, false);
    if (start == stop || text[start] != '~') continue;
    int32_t n = MessageNumberOf(text + start, stop - start);
    if (n < 1 || n > kMaxUninstallMessage) continue;
    // The message runs up to the next line that begins with '~'.
    int32_t bodyStart = -1, bodyStop = -1;
    while (!lines.AtEnd() && lines.Peek() != '~') {
      int32_t s, e;
      lines.Next(s, e, true);
      if (bodyStart < 0) bodyStart = s;
      bodyStop = e;
    }
    if (out.Count() <= kMaxUninstallMessage) out.SetCount(kMaxUninstallMessage + 1);
    String& message = out[n];
    if (bodyStart < 0) {
      message.Clear();
      continue;
    }
    message.Assign(text + bodyStart, bodyStop - bodyStart);
    message.TrimRight();
  }
}

}  // namespace

const char* UninstallDataContents::Message(int32_t n) const {
  const String* m = messages.TryAt(n);
  return (n >= 1 && m) ? m->CStr() : "";
}

void BuildUninstallData(String& out, const String& uninstallList, UninstallMessageSource messages, void* context,
                        const String& associationLog) {
  out = uninstallList;
  out.Append("\r\n\r\n");
  out.Append(kStringsSection);
  out.Append("\r\n");
  for (int32_t i = 0; i < kUninstallMessageCount; ++i) {
    const int32_t n = kUninstallMessageSet[i];
    AppendFormat(out, "~%d\r\n", (int)n);
    out.Append(messages ? messages(context, n) : "");
    out.Append("\r\n");
  }
  if (associationLog.IsEmpty()) return;
  out.Append("\r\n\r\n");
  out.Append(kAssociationsSection);
  out.Append("\r\n");
  out.Append(associationLog);
}

void ParseUninstallData(const String& text, UninstallDataContents& out) {
  out.bodyLines.Clear();
  out.associations.Clear();
  out.messages.Clear();
  const char* t = text.CStr();
  const int32_t length = text.Length();

  int32_t bodyEnd = length;
  int32_t stringsAt = text.Find(kStringsSection, kWholeText, 0, kFindIgnoreCase);
  if (stringsAt >= 0) {
    bodyEnd = stringsAt;
    int32_t stringsBegin = stringsAt + (int32_t)sizeof kStringsSection - 1;
    int32_t stringsEnd = length;
    int32_t associationsAt = text.Find(kAssociationsSection, kWholeText, stringsBegin, kFindIgnoreCase);
    if (associationsAt >= 0) {
      stringsEnd = associationsAt;
      ParseAssociations(t, associationsAt + (int32_t)sizeof kAssociationsSection - 1, length, out.associations);
    }
    ParseMessages(t, stringsBegin, stringsEnd, out.messages);
  }
  String body(t, bodyEnd);
  Split(body, out.bodyLines, "", kSplitLineBreaks);
}

bool VersionNumbers(const String& version, uint32_t& major, uint32_t& minor) {
  const int32_t point = version.FindChar('.');
  if (point < 0) return false;
  const double leading = ParseNumberAnywhere(version);
  major = (uint32_t)(int32_t)(leading < -2147483648.0 ? -2147483648.0 : leading > 2147483647.0 ? 2147483647.0 : leading);
  int32_t pos = point + 1;
  int32_t after = ParseInt(version, pos);
  minor = (after == kParseIntFailed) ? 0u : (uint32_t)after;
  return true;
}
