// String: the one text type of the system.
//
// A growable, heap-backed, NUL-terminated byte string (single-byte ANSI; no
// multi-byte awareness). Guarantees:
//  - An empty string owns no heap block (buffer null, length 0, capacity 0);
//    CStr() then yields a shared static "" and never null.
//  - With a block, buffer[length] == NUL and length < capacity.
//  - Embedded NULs are kept (length counts them); C-string inputs stop at the
//    first NUL; a null C string counts as "".
//  - Sources may point into the string itself: every editing operation copes.
//  - Count kWholeText (0x7FFFFFFF) means "to the end" / "the whole C string".
//  - A wanted block above 0x3FFFFFFF bytes is fatal ("String overflow (%d)");
//    an allocation failure is fatal (out-of-memory report) except in
//    TrySetLength; an out-of-range At() is an internal fatal error. Every
//    other bad argument makes the operation return false, -1 or 0 and change
//    nothing.
#pragma once
#include <stdint.h>

constexpr int32_t kWholeText = 0x7FFFFFFF;
constexpr int32_t kMaxStringBlock = 0x3FFFFFFF;
extern const char kBlankChars[];  // " \r\n\t"

// Flag bits of Find, ReplaceAll and MatchWildcard.
enum FindFlag : uint32_t {
  kFindIgnoreCase = 0x1,      // ASCII letters folded
  kFindWholeWord = 0x2,       // neighbours of a match must not be word characters
  kFindQuestionAny = 0x4,     // '?' in the pattern matches any one character
  kReplaceFirstOnly = 0x8,    // ReplaceAll: first occurrence only, return its position
  kFindSkipQuoted = 0x10,     // skip text inside double quotes
  kFindBackwards = 0x20,      // search backwards from start - 1
  kFindReturnEnd = 0x2000,    // return the position just after the match
  kFindCharSet = 0x4000,      // the pattern is a set of characters
  kFindStarWildcard = 0x80000,  // the pattern is a '*' wildcard pattern
  kFindHighWordChars = 0x100000,  // with kFindWholeWord: bytes >= 128 are word characters
};

// Searches text[0, length) for pattern as String::Find does. length and
// patternLength may be kWholeText (C-string length). Never reads outside the
// given ranges.
int32_t FindInText(const char* text, int32_t length, const char* pattern, int32_t patternLength,
                   int32_t start, uint32_t flags);
// FindInText without wildcards: kFindStarWildcard is ignored. The wildcard
// matcher searches its portions with it.
int32_t FindPlainText(const char* text, int32_t length, const char* pattern, int32_t patternLength,
                      int32_t start, uint32_t flags);
bool IsWordChar(unsigned char c, uint32_t flags);

class String {
 public:
  String() = default;
  String(const char* text);  // NOLINT: implicit from C strings on purpose
  explicit String(char c);
  String(const char* text, int32_t count);
  String(const String& other);
  String(String&& other) noexcept;
  ~String();
  String& operator=(const String& other);
  String& operator=(String&& other) noexcept;
  String& operator=(const char* text);

  // The block size chosen for a wanted length n: n+1 below 64, n+40 below
  // 16384, n+4096 above.
  static int32_t CapacityFor(int32_t n);

  // --- storage and access ---
  int32_t Length() const { return length_; }
  int32_t Capacity() const { return capacity_; }
  bool IsEmpty() const { return length_ == 0; }
  char* Buffer() { return buffer_; }              // null while empty
  const char* Buffer() const { return buffer_; }  // null while empty
  const char* CStr() const;
  void Clear();
  // New length n: n <= 0 empties; the block is reallocated only when there is
  // no room for the NUL or more than 1024 bytes would be wasted. New bytes are
  // not cleared. Returns the buffer (null when empty).
  char* SetLength(int32_t n);
  // SetLength whose allocation failure returns null and leaves the string as
  // it was.
  [[nodiscard]] char* TrySetLength(int32_t n);
  // Extends by n uninitialised bytes; returns the first new byte (null for n <= 0).
  char* GrowBy(int32_t n);
  // With n < capacity only raises the length (never shrinks) and returns
  // false; otherwise SetLength(n) and true.
  bool EnsureLength(int32_t n);
  // Takes ownership of a MemAlloc'ed block of n characters (resized to n + 1
  // and terminated). A null block or n < 1 leaves the string empty.
  void AdoptBuffer(char* block, int32_t n);
  // Gives up the block to the caller (who frees it with MemFree); the string
  // becomes empty.
  char* ReleaseBuffer();
  void RecountLength();
  char& At(int32_t i);
  char CharAt(int32_t i) const;
  bool StartsWithChar(char c) const;
  bool EndsWithChar(char c) const;

  // --- assignment and editing ---
  bool Assign(const char* source, int32_t count);
  bool Assign(const String& other);
  bool Assign(const char* text);
  bool AssignPrefix(const char* source, int32_t max);
  bool Replace(int32_t pos, int32_t count, const char* source, int32_t sourceCount);
  bool Insert(int32_t pos, const char* text);
  bool Insert(int32_t pos, const char* source, int32_t count);
  bool Append(const String& other);
  bool Append(const char* source, int32_t count);
  bool Append(const char* text);
  bool AppendChar(char c);
  bool Truncate(int32_t pos);
  int32_t DeleteFirst(int32_t n);
  int32_t DeleteLast(int32_t n);
  bool StripFirstChar(char c);
  bool StripLastChar(char c);
  bool StripPrefix(const char* text);       // ASCII case folded
  bool StripPrefixExact(const char* text);  // byte compare
  bool StripSuffix(const char* text);       // byte compare
  bool StripSuffixNoCase(const char* text);
  bool EnsureFirstChar(char c);
  void Quote();
  bool Unquote(char c = '"');
  void TrimUnquote();
  int32_t TrimRight(const char* set = kBlankChars);
  int32_t TrimLeft(const char* set = kBlankChars);
  int32_t Trim(const char* set = kBlankChars);
  int32_t TrimRightChar(char c);
  bool IsBlank() const;
  void EnsureTrailingNewline();
  int32_t NormalizeNewlines();
  void UpperCaseAscii();
  int32_t ReplaceChar(char from, char to, bool caseSensitive = true);
  int32_t RemoveChar(char c, int32_t start = 0, int32_t count = kWholeText);
  // Moves the first line (without its break) to out. False when the string
  // was empty.
  bool ExtractLine(String& out);
  bool ExtractLineWithBreak(String& out);
  // True when c occurs (out = text before it, this = text after it); else
  // out = whole text, this empty, false.
  bool SplitAtChar(String& out, char c);
  // When the character at pos is quote: out = the quoted text (doubled quotes
  // collapsed; an unterminated section runs to the end), the section with its
  // quotes is removed from the string, true. Otherwise false, nothing changes.
  bool ExtractQuoted(String& out, char quote, int32_t pos);
  String& Mid(String& out, int32_t start, int32_t count) const;
  String& Cut(String& out, int32_t start, int32_t count);
  String& CutAfter(String& out, const char* text, uint32_t flags);

  // --- comparison ---
  bool Equals(const String& other) const;
  int Compare(const char* text) const;
  int CompareNoCase(const char* text, bool caseSensitive = false, int32_t maxCount = kWholeText) const;
  uint32_t Hash() const;

  // --- searching ---
  int32_t Find(const char* pattern, int32_t patternLength = kWholeText, int32_t start = 0,
               uint32_t flags = 0) const;
  int32_t FindChar(char c, int32_t start = 0, uint32_t flags = 0) const;
  int32_t FindLastChar(char c, int32_t before = kWholeText, uint32_t flags = 0) const;
  int32_t FindFirstOf(const char* set, int32_t start = 0) const;
  int32_t FindFirstNotOf(const char* set, int32_t start = 0) const;

  // --- replacing ---
  // Returns the number of occurrences found (skipped ones included), or with
  // kReplaceFirstOnly the position of the replaced occurrence (-1 when none).
  int32_t ReplaceAll(const char* find, const char* replacement, uint32_t flags = 0, int32_t start = 0,
                     int32_t maxCount = kWholeText, int32_t skipCount = 0);
  int32_t ReplaceAll(const char* find, const String& replacement, uint32_t flags = 0, int32_t start = 0,
                     int32_t maxCount = kWholeText, int32_t skipCount = 0);
  int32_t ReplaceAllChar(const char* find, char c, uint32_t flags = 0, int32_t start = 0);

  bool operator==(const String& other) const { return Equals(other); }

 private:
  char* Reallocate(int32_t capacity, bool fatalOnFailure);
  bool OwnsPointer(const char* p) const;
  int32_t ReplaceAllSpan(const char* find, const char* replacement, int32_t replacementLength,
                         uint32_t flags, int32_t start, int32_t maxCount, int32_t skipCount);
  int32_t ReplaceAllWildcard(const char* find, const char* replacement, int32_t replacementLength,
                             uint32_t flags, int32_t start, int32_t maxCount, int32_t skipCount);

  char* buffer_ = nullptr;
  int32_t length_ = 0;
  int32_t capacity_ = 0;
};

String operator+(const String& a, char c);
String operator+(const String& a, const char* b);
String operator+(const String& a, const String& b);
String operator+(const char* a, const String& b);
