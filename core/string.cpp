// String: storage, editing, comparison and concatenation. The plain
// searches are in string_search.cpp, the wildcard-aware Find and ReplaceAll
// in string_replace.cpp.
#include "core/string.h"

#include <string.h>

#include "core/checksum.h"
#include "core/fatal.h"
#include "core/memory.h"
#include "core/string_chars.h"

using string_chars::CLength;
using string_chars::FoldAscii;
using string_chars::InSet;
using string_chars::SameBytes;

const char kBlankChars[] = " \r\n\t";

namespace {

const char kEmpty[1] = {0};

// At() reports its index errors under this line number so that the message is
// the same in every build.
constexpr int kAtFatalLine = 10278;

}  // namespace

// ---------------------------------------------------------------- storage

int32_t String::CapacityFor(int32_t n) {
  if (n < 64) return n + 1;
  if (n < 0x4000) return n + 40;
  return n + 4096;
}

String::String(const char* text) { Assign(text); }
String::String(char c) { Assign(&c, 1); }
String::String(const char* text, int32_t count) { Assign(text, count); }
String::String(const String& other) { Assign(other); }
String::String(String&& other) noexcept
    : buffer_(other.buffer_), length_(other.length_), capacity_(other.capacity_) {
  other.buffer_ = nullptr;
  other.length_ = other.capacity_ = 0;
}
String::~String() { Clear(); }

String& String::operator=(const String& other) {
  Assign(other);
  return *this;
}

String& String::operator=(String&& other) noexcept {
  if (this != &other) {
    Clear();
    buffer_ = other.buffer_;
    length_ = other.length_;
    capacity_ = other.capacity_;
    other.buffer_ = nullptr;
    other.length_ = other.capacity_ = 0;
  }
  return *this;
}

String& String::operator=(const char* text) {
  Assign(text);
  return *this;
}

// Out of line: inlined, this test and the address of "" (with its relocation)
// repeat at hundreds of call sites; a call is smaller.
[[gnu::noinline]] const char* String::CStr() const { return buffer_ ? buffer_ : kEmpty; }

void String::Clear() {
  MemFree(buffer_);
  buffer_ = nullptr;
  length_ = capacity_ = 0;
}

char* String::Reallocate(int32_t capacity, bool fatalOnFailure) {
  if (capacity > kMaxStringBlock || capacity < 0) FatalError("String overflow (%d)", capacity);
  char* block = fatalOnFailure ? (char*)MemRealloc(buffer_, (size_t)capacity)
                               : (char*)MemTryRealloc(buffer_, (size_t)capacity);
  if (!block) return nullptr;
  buffer_ = block;
  capacity_ = capacity;
  return block;
}

static bool NeedsNewBlock(int32_t n, int32_t capacity) { return n >= capacity || n < capacity - 1024; }

char* String::SetLength(int32_t n) {
  if (n <= 0) {
    Clear();
    return nullptr;
  }
  if (n == length_) return buffer_;
  if (NeedsNewBlock(n, capacity_)) Reallocate(CapacityFor(n), true);
  length_ = n;
  buffer_[n] = '\0';
  return buffer_;
}

char* String::TrySetLength(int32_t n) {
  if (n <= 0) {
    Clear();
    return nullptr;
  }
  if (n == length_) return buffer_;
  if (NeedsNewBlock(n, capacity_) && !Reallocate(CapacityFor(n), false)) return nullptr;
  length_ = n;
  buffer_[n] = '\0';
  return buffer_;
}

char* String::GrowBy(int32_t n) {
  if (n <= 0) return nullptr;
  if (n > kMaxStringBlock - length_) FatalError("String overflow (%d)", n);
  int32_t old = length_;
  SetLength(old + n);
  return buffer_ + old;
}

bool String::EnsureLength(int32_t n) {
  if (n < capacity_) {
    if (n > length_) {
      length_ = n;
      buffer_[n] = '\0';
    }
    return false;
  }
  SetLength(n);
  return true;
}

void String::AdoptBuffer(char* block, int32_t n) {
  Clear();
  if (!block || n < 1) {
    MemFree(block);
    return;
  }
  if (n + 1 > kMaxStringBlock) {
    MemFree(block);
    FatalError("String overflow (%d)", n + 1);
  }
  buffer_ = (char*)MemRealloc(block, (size_t)n + 1);
  buffer_[n] = '\0';
  length_ = n;
  capacity_ = n + 1;
}

char* String::ReleaseBuffer() {
  char* block = buffer_;
  buffer_ = nullptr;
  length_ = capacity_ = 0;
  return block;
}

void String::RecountLength() {
  if (!buffer_) return;
  int32_t n = (int32_t)strnlen(buffer_, (size_t)capacity_);
  if (n >= capacity_) n = capacity_ - 1;  // an API left no NUL: keep the invariant
  SetLength(n);
}

char& String::At(int32_t i) {
  if (i < 0 || i >= length_) InternalFatalError("vk_core", kAtFatalLine);
  return buffer_[i];
}

char String::CharAt(int32_t i) const { return (i >= 0 && i < length_) ? buffer_[i] : '\0'; }
bool String::StartsWithChar(char c) const { return CharAt(0) == c; }
bool String::EndsWithChar(char c) const { return length_ ? buffer_[length_ - 1] == c : c == '\0'; }

bool String::OwnsPointer(const char* p) const {
  return buffer_ && p >= buffer_ && p < buffer_ + capacity_;
}

// ---------------------------------------------------------------- editing

bool String::Assign(const char* source, int32_t count) {
  if (count == kWholeText) count = CLength(source);
  if (!source || count < 1) {
    Clear();
    return false;
  }
  if (OwnsPointer(source)) {
    if (source == buffer_ && count == length_) return true;
    int32_t capacity = CapacityFor(count);
    if (capacity > kMaxStringBlock) FatalError("String overflow (%d)", capacity);
    char* block = (char*)MemAlloc((size_t)capacity);
    memcpy(block, source, (size_t)count);
    block[count] = '\0';
    MemFree(buffer_);
    buffer_ = block;
    length_ = count;
    capacity_ = capacity;
    return true;
  }
  if (length_ == 0) {
    // Replace() cannot insert into an empty string at a count of 0; size once.
    SetLength(count);
    memcpy(buffer_, source, (size_t)count);
    return true;
  }
  return Replace(0, length_, source, count);
}

bool String::Assign(const String& other) {
  if (&other == this) return true;
  if (other.length_ == 0) {
    Clear();
    return true;
  }
  return Assign(other.buffer_, other.length_);
}

bool String::Assign(const char* text) { return Assign(text, kWholeText); }

bool String::AssignPrefix(const char* source, int32_t max) {
  if (!source || max < 1) {
    Clear();
    return false;
  }
  const void* nul = memchr(source, 0, (size_t)max);
  int32_t n = nul ? (int32_t)((const char*)nul - source) : max;
  return Assign(source, n);
}

bool String::Replace(int32_t pos, int32_t count, const char* source, int32_t n) {
  if (pos < 0 || pos > length_) return false;
  if (n == kWholeText) n = CLength(source);
  if (n < 0 || (!source && n > 0)) return false;
  if (count > 0) {
    if (count > length_ - pos) count = length_ - pos;
  } else {
    if (n <= 0) return false;
    count = 0;
  }
  // A source inside the own block is found again after the reallocation by
  // its offset. One that reaches into the replaced range would be disturbed
  // by the tail move, so it is copied aside first.
  char* snapshot = nullptr;
  int32_t sourceOffset = -1;
  if (n > 0 && OwnsPointer(source)) {
    sourceOffset = (int32_t)(source - buffer_);
    if (sourceOffset + n > pos && sourceOffset < pos + count) {
      snapshot = (char*)MemAlloc((size_t)n);
      memcpy(snapshot, source, (size_t)n);
      source = snapshot;
      sourceOffset = -1;
    } else if (sourceOffset >= pos + count) {
      sourceOffset += n - count;
    }
  }
  const int32_t oldLength = length_;
  if (n > kMaxStringBlock - (oldLength - count)) FatalError("String overflow (%d)", n);
  const int32_t newLength = oldLength - count + n;
  const size_t tail = (size_t)(oldLength - pos - count);

  if (n > count) {
    SetLength(newLength);
    memmove(buffer_ + pos + n, buffer_ + pos + count, tail);
  } else if (n < count) {
    memmove(buffer_ + pos + n, buffer_ + pos + count, tail);
    SetLength(newLength);
  }
  if (n > 0) {
    if (sourceOffset >= 0)
      memmove(buffer_ + pos, buffer_ + sourceOffset, (size_t)n);
    else
      memcpy(buffer_ + pos, source, (size_t)n);
  }
  MemFree(snapshot);
  return true;
}

bool String::Insert(int32_t pos, const char* text) { return Replace(pos, 0, text, CLength(text)); }
bool String::Insert(int32_t pos, const char* source, int32_t count) { return Replace(pos, 0, source, count); }
bool String::Append(const String& other) { return Replace(length_, 0, other.buffer_, other.length_); }
bool String::Append(const char* source, int32_t count) { return Replace(length_, 0, source, count); }
bool String::Append(const char* text) { return Replace(length_, 0, text, CLength(text)); }
bool String::AppendChar(char c) { return Replace(length_, 0, &c, 1); }

bool String::Truncate(int32_t pos) {
  if (pos < 0 || pos > length_) return false;
  SetLength(pos);
  return true;
}

int32_t String::DeleteFirst(int32_t n) {
  if (n <= 0) return 0;
  if (n > length_) n = length_;
  Replace(0, n, nullptr, 0);
  return n;
}

int32_t String::DeleteLast(int32_t n) {
  if (n <= 0) return 0;
  if (n > length_) n = length_;
  SetLength(length_ - n);
  return n;
}

bool String::StripFirstChar(char c) {
  if (length_ == 0 || buffer_[0] != c) return false;
  DeleteFirst(1);
  return true;
}

bool String::StripLastChar(char c) {
  if (length_ == 0 || buffer_[length_ - 1] != c) return false;
  DeleteLast(1);
  return true;
}

static bool HasAffix(const String& s, const char* text, bool atEnd, bool ignoreCase, int32_t* n) {
  *n = CLength(text);
  if (*n == 0 || *n > s.Length()) return false;
  const char* at = s.CStr() + (atEnd ? s.Length() - *n : 0);
  return SameBytes(at, text, *n, ignoreCase);
}

bool String::StripPrefix(const char* text) {
  int32_t n;
  if (!HasAffix(*this, text, false, true, &n)) return false;
  DeleteFirst(n);
  return true;
}

bool String::StripPrefixExact(const char* text) {
  int32_t n;
  if (!HasAffix(*this, text, false, false, &n)) return false;
  DeleteFirst(n);
  return true;
}

bool String::StripSuffix(const char* text) {
  int32_t n;
  if (!HasAffix(*this, text, true, false, &n)) return false;
  DeleteLast(n);
  return true;
}

bool String::StripSuffixNoCase(const char* text) {
  int32_t n;
  if (!HasAffix(*this, text, true, true, &n)) return false;
  DeleteLast(n);
  return true;
}

bool String::EnsureFirstChar(char c) {
  if (length_ > 0 && buffer_[0] == c) return false;
  return Replace(0, 0, &c, 1);
}

void String::Quote() {
  Insert(0, "\"");
  AppendChar('"');
}

bool String::Unquote(char c) {
  if (length_ < 2 || buffer_[0] != c || buffer_[length_ - 1] != c) return false;
  DeleteLast(1);
  DeleteFirst(1);
  return true;
}

void String::TrimUnquote() {
  Trim();
  Unquote('"');
  Trim();
}

int32_t String::TrimRight(const char* set) {
  int32_t n = length_;
  while (n > 0 && InSet(set, buffer_[n - 1])) --n;
  int32_t removed = length_ - n;
  if (removed) SetLength(n);
  return removed;
}

int32_t String::TrimLeft(const char* set) {
  int32_t n = 0;
  while (n < length_ && InSet(set, buffer_[n])) ++n;
  return DeleteFirst(n);
}

int32_t String::Trim(const char* set) { return TrimRight(set) + TrimLeft(set); }

int32_t String::TrimRightChar(char c) {
  int32_t n = length_;
  while (n > 0 && buffer_[n - 1] == c) --n;
  int32_t removed = length_ - n;
  if (removed) SetLength(n);
  return removed;
}

bool String::IsBlank() const {
  for (int32_t i = 0; i < length_; ++i)
    if (!InSet(kBlankChars, buffer_[i])) return false;
  return true;
}

void String::EnsureTrailingNewline() {
  if (EndsWithChar('\r') || EndsWithChar('\n')) return;
  Append("\r\n", 2);
}

int32_t String::NormalizeNewlines() {
  // Count the breaks that change first, so the result is built in one block.
  int32_t changed = 0, extra = 0;
  for (int32_t i = 0; i < length_; ++i) {
    char c = buffer_[i];
    if (c != '\r' && c != '\n') continue;
    char next = CharAt(i + 1);
    if (c == '\r' && next == '\n') {
      ++i;  // CR LF stays
    } else if (c == '\n' && next == '\r') {
      ++changed;  // LF CR becomes CR LF, same length
      ++i;
    } else {
      ++changed;  // lone CR or LF grows by one
      ++extra;
    }
  }
  if (changed == 0) return 0;
  char* out = (char*)MemAlloc((size_t)length_ + (size_t)extra + 1);
  int32_t o = 0;
  for (int32_t i = 0; i < length_; ++i) {
    char c = buffer_[i];
    if (c != '\r' && c != '\n') {
      out[o++] = c;
      continue;
    }
    char next = CharAt(i + 1);
    if ((c == '\r' && next == '\n') || (c == '\n' && next == '\r')) ++i;
    out[o++] = '\r';
    out[o++] = '\n';
  }
  AdoptBuffer(out, o);
  return changed;
}

void String::UpperCaseAscii() {
  for (int32_t i = 0; i < length_; ++i)
    if (buffer_[i] >= 'a' && buffer_[i] <= 'z') buffer_[i] = char(buffer_[i] - ('a' - 'A'));
}

int32_t String::ReplaceChar(char from, char to, bool caseSensitive) {
  int32_t count = 0;
  for (int32_t i = 0; i < length_; ++i) {
    bool hit = caseSensitive ? buffer_[i] == from : FoldAscii(buffer_[i]) == FoldAscii(from);
    if (hit) {
      buffer_[i] = to;
      ++count;
    }
  }
  return count;
}

int32_t String::RemoveChar(char c, int32_t start, int32_t count) {
  if (start < 0 || start >= length_ || count <= 0) return 0;
  int32_t end = (count > length_ - start) ? length_ : start + count;
  int32_t o = start;
  for (int32_t i = start; i < end; ++i)
    if (buffer_[i] != c) buffer_[o++] = buffer_[i];
  int32_t removed = end - o;
  if (removed == 0) return 0;
  memmove(buffer_ + o, buffer_ + end, (size_t)(length_ - end));
  SetLength(length_ - removed);
  return removed;
}

static int32_t LineEnd(const char* text, int32_t length) {
  for (int32_t i = 0; i < length; ++i)
    if (text[i] == '\r' || text[i] == '\n' || text[i] == '\0') return i;
  return length;
}

static int32_t BreakWidth(const String& s, int32_t at) {
  char c = s.CharAt(at);
  if (at >= s.Length()) return 0;
  if (c == '\0') return 1;
  char next = s.CharAt(at + 1);
  if ((c == '\r' && next == '\n') || (c == '\n' && next == '\r')) return 2;
  return 1;
}

bool String::ExtractLine(String& out) {
  if (length_ == 0) {
    out.Clear();
    return false;
  }
  int32_t end = LineEnd(buffer_, length_);
  int32_t width = BreakWidth(*this, end);
  out.Assign(buffer_, end);
  DeleteFirst(end + width);
  return true;
}

bool String::ExtractLineWithBreak(String& out) {
  if (length_ == 0) {
    out.Clear();
    return false;
  }
  int32_t end = LineEnd(buffer_, length_);
  int32_t width = BreakWidth(*this, end);
  out.Assign(buffer_, end + width);
  DeleteFirst(end + width);
  return true;
}

bool String::SplitAtChar(String& out, char c) {
  int32_t at = FindChar(c);
  if (at < 0) {
    out = static_cast<String&&>(*this);
    return false;
  }
  out.Assign(buffer_, at);
  DeleteFirst(at + 1);
  return true;
}

bool String::ExtractQuoted(String& out, char quote, int32_t pos) {
  if (pos < 0 || pos >= length_ || buffer_[pos] != quote) return false;
  String text;
  int32_t i = pos + 1;
  int32_t runStart = i;
  while (i < length_) {
    if (buffer_[i] != quote) {
      ++i;
      continue;
    }
    if (i + 1 < length_ && buffer_[i + 1] == quote) {
      // A doubled quote stands for one quote character.
      text.Append(buffer_ + runStart, i + 1 - runStart);
      i += 2;
      runStart = i;
      continue;
    }
    break;  // the closing quote
  }
  text.Append(buffer_ + runStart, i - runStart);
  int32_t sectionEnd = (i < length_) ? i + 1 : length_;
  Replace(pos, sectionEnd - pos, nullptr, 0);
  out = static_cast<String&&>(text);
  return true;
}

String& String::Mid(String& out, int32_t start, int32_t count) const {
  if (start < 0) start = 0;
  if (start >= length_ || count <= 0) {
    out.Clear();
    return out;
  }
  if (count > length_ - start) count = length_ - start;
  if (&out == this) {
    String copy(buffer_ + start, count);
    out = static_cast<String&&>(copy);
  } else {
    out.Assign(buffer_ + start, count);
  }
  return out;
}

String& String::Cut(String& out, int32_t start, int32_t count) {
  if (start < 0) start = 0;
  if (start >= length_ || count <= 0) {
    if (&out != this) out.Clear();
    return out;
  }
  if (count > length_ - start) count = length_ - start;
  String piece(buffer_ + start, count);
  Replace(start, count, nullptr, 0);
  out = static_cast<String&&>(piece);
  return out;
}

// ---------------------------------------------------------------- comparison

bool String::Equals(const String& other) const {
  return length_ == other.length_ && (length_ == 0 || memcmp(buffer_, other.buffer_, (size_t)length_) == 0);
}

int String::Compare(const char* text) const { return CompareNoCase(text, true, kWholeText); }

int String::CompareNoCase(const char* text, bool caseSensitive, int32_t maxCount) const {
  int32_t other = CLength(text);
  if (other == 0) return length_ == 0 ? 0 : 1;
  if (length_ == 0) return -1;
  // The NUL after the shorter text takes part, so a prefix compares lower.
  int32_t n = (length_ < other ? length_ : other) + 1;
  if (maxCount >= 0 && maxCount < n) n = maxCount;
  for (int32_t i = 0; i < n; ++i) {
    unsigned char a = (unsigned char)buffer_[i];  // buffer_[length_] is NUL
    unsigned char b = (unsigned char)text[i];
    if (!caseSensitive) {
      a = (unsigned char)FoldAscii((char)a);
      b = (unsigned char)FoldAscii((char)b);
    }
    if (a != b) return a < b ? -1 : 1;
  }
  return 0;
}

uint32_t String::Hash() const { return BlockChecksum(buffer_, length_); }

// ---------------------------------------------------------------- concatenation

String operator+(const String& a, char c) {
  String r(a);
  r.AppendChar(c);
  return r;
}

String operator+(const String& a, const char* b) {
  String r(a);
  r.Append(b);
  return r;
}

String operator+(const String& a, const String& b) {
  String r(a);
  r.Append(b);
  return r;
}

String operator+(const char* a, const String& b) {
  String r(a);
  r.Append(b);
  return r;
}
