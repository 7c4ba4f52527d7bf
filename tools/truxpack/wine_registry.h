// Wine's registry files (system.reg, user.reg) as the wineserver saves them,
// read without Wine: what `truxpack try` and `truxpack snapshot` compare.
//
// The format: a "WINE REGISTRY Version 2" line, then one section per key,
//   [Software\\Classes\\.txt] 1796968341        key path, escaped; save time
//   #time=1dd8933ca649aa4                       metadata lines start with '#'
//   @="txtfile"                                 the default value
//   "Content Type"="text/plain"                 a named value
//   "Count"=dword:00000002                      other types in their own forms:
//   "Path"=str(2):"%SystemRoot%"                  str(N): a string of type N
//   "Data"=hex:01,02,\                            hex: / hex(N): bytes, long
//     03                                          lists continued on the next line
// Names and strings are UTF-16 written with C escapes (\\ \" \n \x20ac ...).
//
// Memory and time follow the text's length; a malformed line is an error
// naming its line number, never a read outside the text.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

// Registry value types, as Windows numbers them.
enum RegistryType : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegLink = 6,
  kRegMultiSz = 7,
  kRegQword = 11,
};

struct RegistryValue {
  std::string name;  // UTF-8 (lone UTF-16 surrogates kept as their 3-byte forms); "" is the default value
  std::string data;  // the value exactly as the file writes it after '=' (continuations joined)
};

struct RegistryKey {
  std::string path;  // ROOT\path\below, UTF-8 as above
  std::vector<RegistryValue> values;
};

// Parses the text of one registry file; every key path gets root and a
// backslash in front ("HKEY_LOCAL_MACHINE"). Keys come in file order.
// Returns false with error set to "line N: problem".
bool ParseWineRegistry(const std::string& text, const std::string& root, std::vector<RegistryKey>& keys,
                       std::string& error);

// A value's data (RegistryValue::data) decoded: its type and bytes (strings
// as UTF-16LE with their terminating zero, as Windows stores them). False
// when the text is not one of the forms above.
bool DecodeRegistryData(const std::string& data, uint32_t& type, std::string& bytes);

// A value's data for people: strings in double quotes (UTF-8, control
// characters as \xNN), a list of strings as quoted strings joined by ", ",
// numbers in decimal with their hexadecimal form, other bytes in hexadecimal
// (the first 64, then the count).
std::string RegistryDataText(const std::string& data);

// The name of a value type ("REG_SZ", "REG_DWORD", ... or "type N").
std::string RegistryTypeName(uint32_t type);

// The type of a value's data (kRegNone when it cannot be decoded).
uint32_t RegistryDataType(const std::string& data);

// The strings of a REG_SZ, REG_EXPAND_SZ or REG_MULTI_SZ value in UTF-8
// (one for the first two); false for other types.
bool RegistryDataStrings(const std::string& data, std::vector<std::string>& strings);

// The number of a REG_DWORD or REG_QWORD value; false for other types.
bool RegistryDataNumber(const std::string& data, uint64_t& number);

// UTF-16 code units to UTF-8; a lone surrogate keeps its 3-byte form, so
// distinct names stay distinct.
std::string Utf16ToUtf8(const std::u16string& s);
