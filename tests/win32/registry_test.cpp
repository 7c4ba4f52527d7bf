// The registry key object against the real registry of a clean prefix:
// round trips of every value kind, the parent stack, key deletion with
// subkeys, enumeration, ReadPathValue splitting and the required-key fatal
// message.
#include <windows.h>

#include <gtest/gtest.h>

#include <ctype.h>

#include <string>

#include "core/program.h"
#include "core/win32/registry.h"
#include "core/win32/system_error.h"
#include "tests/win32/box_answerer.h"

namespace {

std::string Text(const String& s) { return std::string(s.CStr(), (size_t)s.Length()); }

// A regular expression (gtest's simple syntax) matching text literally.
std::string Literal(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (ispunct((unsigned char)c)) out += '\\';
    out += c;
  }
  return out;
}

const char kTestKey[] = "Software\\TruxRegistryTest";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeOf(kTestKey); }
  void TearDown() override { RegDeleteTreeOf(kTestKey); }
  static void RegDeleteTreeOf(const char* subkey) {
    RegistryKey key;
    key.DeletePathKey(HKEY_CURRENT_USER, subkey);
  }
  // Raw bytes and type of a value as the system stores them.
  static bool RawValue(const char* subkey, const char* name, DWORD& type, std::string& bytes) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, subkey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    char buffer[4096];
    DWORD size = sizeof buffer;
    LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS) return false;
    bytes.assign(buffer, size);
    return true;
  }
};

TEST_F(RegistryTest, TextKindsRoundTrip) {
  const std::string longText(300, 'x');  // beyond the first 32-byte read
  const std::string binary("\x01\x00\xFF\x80 binary with a NUL and more than thirty-two bytes", 53);
  const struct {
    const char* name;
    std::string text;
    uint32_t flags;
    DWORD type;
    std::string stored;  // bytes the system keeps
  } cases[] = {
      {"Short", "hello", 0, REG_SZ, std::string("hello", 6)},
      {"Empty", "", 0, REG_SZ, std::string("", 1)},
      {"Long", longText, 0, REG_SZ, longText + '\0'},
      {"Expand", "%TEMP%\\x", kRegistryExpand, REG_EXPAND_SZ, std::string("%TEMP%\\x", 9)},
      {"LongExpand", "%TEMP%\\" + longText, kRegistryExpand, REG_EXPAND_SZ, "%TEMP%\\" + longText + '\0'},
      {"Binary", binary, kRegistryBinary, REG_BINARY, binary},
      {"ShortBinary", std::string("\0\1", 2), kRegistryBinary, REG_BINARY, std::string("\0\1", 2)},
  };
  RegistryKey key;
  ASSERT_EQ(key.Open(HKEY_CURRENT_USER, kTestKey), kRegistryCreated);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(key.WriteText(c.name, String(c.text.data(), (int32_t)c.text.size()), c.flags));
    DWORD type = 0;
    std::string stored;
    ASSERT_TRUE(RawValue(kTestKey, c.name, type, stored));
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(stored, c.stored);
    RegistryValue value;
    ASSERT_TRUE(key.ReadValue(c.name, value));
    EXPECT_EQ(value.type, c.type);
    EXPECT_EQ(Text(value.bytes), c.text);
    EXPECT_EQ(Text(key.ReadText(c.name, "fallback")), c.text);
  }
}

TEST_F(RegistryTest, ValuesWrittenByOthersReadTheSame) {
  RegistryKey key;
  ASSERT_NE(key.Open(HKEY_CURRENT_USER, kTestKey), kRegistryOpenFailed);
  // A text stored without its NUL, a text with an embedded NUL, multi-texts
  // below and above the first read size.
  const std::string multiShort("a\0bc\0\0", 6);
  const std::string multiLong = std::string(40, 'm') + '\0' + std::string(20, 'n') + '\0' + '\0';
  const struct {
    const char* name;
    DWORD type;
    std::string stored;
    std::string read;
  } cases[] = {
      {"NoNul", REG_SZ, "abc", "abc"},
      {"Embedded", REG_SZ, std::string("ab\0cd\0", 6), "ab"},
      {"ExpandWithNul", REG_EXPAND_SZ, std::string("%WINDIR%\\inf\0", 13), "%WINDIR%\\inf"},
      {"MultiShort", REG_MULTI_SZ, multiShort, multiShort},
      {"MultiLong", REG_MULTI_SZ, multiLong, multiLong},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(RegSetValueExA(key.Handle(), c.name, 0, c.type, reinterpret_cast<const BYTE*>(c.stored.data()),
                             (DWORD)c.stored.size()),
              ERROR_SUCCESS);
    RegistryValue value;
    ASSERT_TRUE(key.ReadValue(c.name, value));
    EXPECT_EQ(value.type, c.type);
    EXPECT_EQ(Text(value.bytes), c.read);
  }
}

TEST_F(RegistryTest, NumbersAndBooleans) {
  RegistryKey key;
  ASSERT_NE(key.Open(HKEY_CURRENT_USER, kTestKey), kRegistryOpenFailed);
  ASSERT_TRUE(key.WriteNumber("Zero", 0));
  ASSERT_TRUE(key.WriteNumber("Big", 0xFFFFFFFFu));
  ASSERT_TRUE(key.WriteNumber("Seven", 7));
  ASSERT_TRUE(key.WriteText("TextNumber", " 42 "));
  ASSERT_TRUE(key.WriteText("TextWord", "4x2"));
  ASSERT_TRUE(key.WriteText("No", "no"));
  ASSERT_TRUE(key.WriteText("Yes", "yes"));
  RegistryValue value;
  ASSERT_TRUE(key.ReadValue("Big", value));
  EXPECT_EQ(value.type, (DWORD)REG_DWORD);
  EXPECT_EQ(value.number, 0xFFFFFFFFu);
  EXPECT_EQ(Text(key.ReadText("Big")), "4294967295");
  EXPECT_EQ(Text(key.ReadText("Zero")), "0");
  EXPECT_EQ(key.ReadNumber("Seven", -1), 7);
  EXPECT_EQ(key.ReadNumber("Big", 0), -1);
  EXPECT_EQ(key.ReadNumber("TextNumber", -1), 42);
  EXPECT_EQ(key.ReadNumber("TextWord", -1), -1);
  EXPECT_EQ(key.ReadNumber("Missing", -5), -5);
  EXPECT_FALSE(key.ReadBool("Zero", true));
  EXPECT_TRUE(key.ReadBool("Seven", false));
  EXPECT_FALSE(key.ReadBool("No", true));
  EXPECT_TRUE(key.ReadBool("Yes", false));
  EXPECT_TRUE(key.ReadBool("Missing", true));
}

TEST_F(RegistryTest, OtherTypesAndMissingValuesFail) {
  RegistryKey key;
  ASSERT_NE(key.Open(HKEY_CURRENT_USER, kTestKey), kRegistryOpenFailed);
  const unsigned char eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  RegSetValueExA(key.Handle(), "Qword", 0, REG_QWORD, eight, 8);
  RegSetValueExA(key.Handle(), "ShortDword", 0, REG_DWORD, eight, 2);
  RegSetValueExA(key.Handle(), "None", 0, REG_NONE, eight, 3);
  for (const char* name : {"Qword", "ShortDword", "None", "Missing"}) {
    RegistryValue value;
    EXPECT_FALSE(key.ReadValue(name, value)) << name;
    EXPECT_EQ(Text(key.ReadText(name, "fallback")), "fallback") << name;
  }
  RegistryKey closed;
  RegistryValue value;
  EXPECT_FALSE(closed.ReadValue("x", value));
  EXPECT_FALSE(closed.WriteText("x", "y"));
  EXPECT_FALSE(closed.WriteNumber("x", 1));
}

TEST_F(RegistryTest, DeletingValues) {
  RegistryKey key;
  EXPECT_EQ(key.DeleteValue("x"), kRegistryNoKey);
  ASSERT_NE(key.Open(HKEY_CURRENT_USER, kTestKey), kRegistryOpenFailed);
  ASSERT_TRUE(key.WriteText("Text", "t"));
  ASSERT_TRUE(key.WriteNumber("Number", 3));
  // An empty text or a zero deletes with kRegistryDeleteEmpty, also when
  // the value is already gone; without the flag they are written.
  EXPECT_TRUE(key.WriteText("Text", "", kRegistryDeleteEmpty));
  EXPECT_TRUE(key.WriteNumber("Number", 0, kRegistryDeleteEmpty));
  RegistryValue value;
  EXPECT_FALSE(key.ReadValue("Text", value));
  EXPECT_FALSE(key.ReadValue("Number", value));
  EXPECT_TRUE(key.WriteText("Text", "", kRegistryDeleteEmpty));
  EXPECT_TRUE(key.WriteText("Kept", ""));
  EXPECT_TRUE(key.ReadValue("Kept", value));
  EXPECT_EQ(key.DeleteValue("Kept"), kRegistryDeleted);
  EXPECT_EQ(key.DeleteValue("Kept"), kRegistryDeleteFailed);
}

TEST_F(RegistryTest, OpeningRemembersTheParentKeys) {
  RegistryKey key;
  EXPECT_EQ(key.Open(HKEY_CURRENT_USER, "Software\\TruxRegistryTest\\Missing", kRegistryExisting),
            kRegistryOpenFailed);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(key.OpenChild("x"), kRegistryOpenFailed);
  ASSERT_EQ(key.Open(HKEY_CURRENT_USER, kTestKey), kRegistryCreated);
  HKEY outer = key.Handle();
  EXPECT_EQ(Text(key.Path()), "HKEY_CURRENT_USER\\Software\\TruxRegistryTest");
  ASSERT_EQ(key.OpenChild("A"), kRegistryCreated);
  EXPECT_EQ(Text(key.Path()), "HKEY_CURRENT_USER\\Software\\TruxRegistryTest\\A");
  ASSERT_EQ(key.OpenChild("B\\C"), kRegistryCreated);
  EXPECT_EQ(Text(key.Path()), "HKEY_CURRENT_USER\\Software\\TruxRegistryTest\\A\\B\\C");
  ASSERT_TRUE(key.WriteText("Deep", "d"));
  // A failed open changes nothing.
  EXPECT_EQ(key.OpenChild("Nope", kRegistryExisting), kRegistryOpenFailed);
  EXPECT_EQ(Text(key.Path()), "HKEY_CURRENT_USER\\Software\\TruxRegistryTest\\A\\B\\C");
  key.Close();
  EXPECT_EQ(Text(key.Path()), "HKEY_CURRENT_USER\\Software\\TruxRegistryTest\\A");
  key.Close();
  EXPECT_EQ(key.Handle(), outer);
  EXPECT_EQ(Text(key.Path()), "HKEY_CURRENT_USER\\Software\\TruxRegistryTest");
  EXPECT_EQ(key.OpenSoftware(true, "TruxRegistryTest\\A\\B\\C", kRegistryExisting), kRegistryOpenedExisting);
  EXPECT_EQ(Text(key.ReadText("Deep")), "d");
  key.CloseAll();
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(Text(key.Path()), "");
  key.Close();  // nothing open: nothing happens
  EXPECT_FALSE(key.IsOpen());
  // An object made not to create keys only opens existing ones.
  RegistryKey existingOnly(false);
  EXPECT_EQ(existingOnly.Open(HKEY_CURRENT_USER, "Software\\TruxRegistryTest\\New"), kRegistryOpenFailed);
  EXPECT_FALSE(RegistryKey::KeyExists(HKEY_CURRENT_USER, "Software\\TruxRegistryTest\\New"));
}

TEST_F(RegistryTest, OpenFailureShowsTheRegistryErrorBoxWhenAsked) {
  RegistryKey key;
  BoxAnswerer answerer(IDOK, 10000);
  EXPECT_EQ(key.Open(HKEY_CURRENT_USER, "Software\\TruxRegistryTest\\Missing", kRegistryExisting | kRegistryErrorBox),
            kRegistryOpenFailed);
  answerer.Join();
  ASSERT_TRUE(answerer.Seen());
  EXPECT_EQ(answerer.Caption(), "Registry Error");
  EXPECT_EQ(answerer.Body(), Text(SystemErrorText(ERROR_FILE_NOT_FOUND)));
}

TEST_F(RegistryTest, DeleteKeyRemovesSubkeysFirst) {
  RegistryKey key;
  ASSERT_NE(key.Open(HKEY_CURRENT_USER, "Software\\TruxRegistryTest\\Tree\\L1a\\L2\\L3"), kRegistryOpenFailed);
  ASSERT_TRUE(key.WriteText("v", "3"));
  key.CloseAll();
  ASSERT_NE(key.Open(HKEY_CURRENT_USER, "Software\\TruxRegistryTest\\Tree\\L1b"), kRegistryOpenFailed);
  ASSERT_TRUE(key.WriteNumber("n", 1));
  key.CloseAll();
  ASSERT_NE(key.Open(HKEY_CURRENT_USER, "Software\\TruxRegistryTest\\Empty"), kRegistryOpenFailed);
  key.CloseAll();

  ASSERT_NE(key.Open(HKEY_CURRENT_USER, kTestKey, kRegistryExisting), kRegistryOpenFailed);
  EXPECT_EQ(key.DeleteKey("Tree", kRegistryOnlyIfEmpty), kRegistryKeyNotEmpty);
  EXPECT_TRUE(RegistryKey::KeyExists(HKEY_CURRENT_USER, "Software\\TruxRegistryTest\\Tree\\L1a\\L2\\L3"));
  EXPECT_EQ(key.DeleteKey("Tree"), kRegistryDeleted);
  EXPECT_FALSE(RegistryKey::KeyExists(HKEY_CURRENT_USER, "Software\\TruxRegistryTest\\Tree"));
  EXPECT_EQ(key.DeleteKey("Empty", kRegistryOnlyIfEmpty), kRegistryDeleted);
  EXPECT_EQ(key.DeleteKey("Missing"), kRegistryDeleteFailed);
  // Neither a null nor an empty name means the open key itself.
  EXPECT_EQ(key.DeleteKey(nullptr), kRegistryNoKey);
  EXPECT_EQ(key.DeleteKey(""), kRegistryNoKey);
  EXPECT_TRUE(RegistryKey::KeyExists(HKEY_CURRENT_USER, kTestKey));
  key.CloseAll();
  EXPECT_EQ(key.DeleteKey("Tree"), kRegistryNoKey);
}

TEST_F(RegistryTest, DeleteThroughAParentPath) {
  RegistryKey key;
  ASSERT_NE(key.Open(HKEY_CURRENT_USER, "Software\\TruxRegistryTest\\P\\Q\\R"), kRegistryOpenFailed);
  key.CloseAll();
  EXPECT_EQ(key.DeleteSoftwareKey(true, "TruxRegistryTest\\Nope", "Q"), kRegistryNoKey);
  EXPECT_EQ(key.DeletePathKey(HKEY_CURRENT_USER, "Software\\TruxRegistryTest\\Nope\\Q"), kRegistryNoKey);
  EXPECT_EQ(key.DeleteSoftwareKey(true, "TruxRegistryTest\\P", "Q"), kRegistryDeleted);
  EXPECT_FALSE(RegistryKey::SoftwareKeyExists(true, "TruxRegistryTest\\P\\Q"));
  EXPECT_TRUE(RegistryKey::SoftwareKeyExists(true, "TruxRegistryTest\\P"));
  EXPECT_EQ(key.DeletePathKey(HKEY_CURRENT_USER, "Software\\TruxRegistryTest\\P"), kRegistryDeleted);
  EXPECT_FALSE(RegistryKey::SoftwareKeyExists(true, "TruxRegistryTest\\P"));
  EXPECT_FALSE(key.IsOpen());
}

TEST_F(RegistryTest, EnumerationAndCounts) {
  RegistryKey key;
  EXPECT_EQ(key.SubkeyCount(), -1);
  EXPECT_FALSE(key.IsEmpty());
  ASSERT_NE(key.Open(HKEY_CURRENT_USER, kTestKey), kRegistryOpenFailed);
  EXPECT_TRUE(key.IsEmpty());
  EXPECT_EQ(key.SubkeyCount(), 0);
  ASSERT_TRUE(key.WriteText("v", "x"));
  EXPECT_FALSE(key.IsEmpty());
  EXPECT_TRUE(key.DeleteValue("v") == kRegistryDeleted);
  // Names up to the registry's limit of 255 characters are listed whole.
  const std::string longName(kMaxRegistryKeyName, 'k');
  const char* names[] = {"alpha", "Beta", "gamma"};
  for (const char* name : names) {
    ASSERT_NE(key.OpenChild(name), kRegistryOpenFailed);
    key.Close();
  }
  ASSERT_NE(key.OpenChild(longName.c_str()), kRegistryOpenFailed);
  key.Close();
  EXPECT_EQ(key.SubkeyCount(), 4);
  EXPECT_FALSE(key.IsEmpty());
  Array<String> listed;
  listed.Append(String("kept"));
  SetLastError(1234);
  EXPECT_EQ(key.EnumerateSubkeys(listed), 4);
  EXPECT_EQ(GetLastError(), 0u);
  ASSERT_EQ(listed.Count(), 5);
  EXPECT_EQ(Text(listed[0]), "kept");
  std::string all;
  for (int32_t i = 1; i < listed.Count(); ++i) all += Text(listed[i]) + "|";
  for (const char* name : names) EXPECT_NE(all.find(std::string(name) + "|"), std::string::npos) << all;
  EXPECT_NE(all.find(longName + "|"), std::string::npos);
}

TEST_F(RegistryTest, ReadPathValueSplitsKeyAndValueName) {
  RegistryKey key;
  ASSERT_NE(key.Open(HKEY_CURRENT_USER, "Software\\TruxRegistryTest\\Path"), kRegistryOpenFailed);
  ASSERT_TRUE(key.WriteText("Value", "in key"));
  ASSERT_TRUE(key.WriteText(nullptr, "default of key"));
  key.CloseAll();
  ASSERT_NE(key.Open(HKEY_CURRENT_USER, "C:"), kRegistryOpenFailed);
  ASSERT_TRUE(key.WriteText("drive", "under C:"));
  key.CloseAll();
  ASSERT_NE(key.Open(HKEY_CURRENT_USER, ""), kRegistryOpenFailed);
  ASSERT_TRUE(key.WriteText("TruxRootValue", "at root"));
  key.CloseAll();

  const struct {
    const char* path;
    const char* expected;
  } cases[] = {
      {"Software\\TruxRegistryTest\\Path\\Value", "in key"},
      {"Software\\TruxRegistryTest\\Path\\", "default of key"},
      {"Software\\TruxRegistryTest\\Path\\Missing", "fallback"},
      {"TruxRootValue", "at root"},
      {"C:drive", "under C:"},
      {"", "fallback"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Text(key.ReadPathValue(HKEY_CURRENT_USER, c.path, "fallback")), c.expected) << c.path;
    EXPECT_FALSE(key.IsOpen()) << c.path;
  }
  // Opened for reading inside another key: the outer key is current again.
  ASSERT_NE(key.Open(HKEY_CURRENT_USER, kTestKey), kRegistryOpenFailed);
  EXPECT_EQ(Text(key.ReadPathValue(HKEY_CURRENT_USER, "Software\\TruxRegistryTest\\Path\\Value")), "in key");
  EXPECT_EQ(Text(key.Path()), "HKEY_CURRENT_USER\\Software\\TruxRegistryTest");
  key.CloseAll();
  RegDeleteKeyA(HKEY_CURRENT_USER, "C:");
  // Clean-up: a failure here changes nothing the test looked at.
  (void)key.Open(HKEY_CURRENT_USER, "");
  key.DeleteValue("TruxRootValue");
}

// Not a RegistryTest: the death test's child process runs the fixture's
// set-up, which would delete the key the parent holds open.
TEST(RegistryRequired, MissingValueIsFatalWithTheKeyAndValueNamed) {
  SetProgramDescription("Trux Test");
  RegistryKey key;
  ASSERT_NE(key.Open(HKEY_CURRENT_USER, "Software\\TruxRequiredTest"), kRegistryOpenFailed);
  const std::string message =
      "FATAL ERROR: The following registry key is required by Trux Test, but is invalid or does not exist:\n\n"
      "HKEY_CURRENT_USER\\Software\\TruxRequiredTest\\Missing\n\n"
      "If you have tried moving this program to a different computer by copying files, this will not work.  "
      "This program must be reinstalled.";
  EXPECT_EXIT(key.ReadText("Missing", "", kRegistryRequired), ::testing::ExitedWithCode(1), Literal(message));
  // A present value is read normally with the flag.
  ASSERT_TRUE(key.WriteText("Present", "p"));
  EXPECT_EQ(Text(key.ReadText("Present", "", kRegistryRequired)), "p");
}

TEST(RegistryRoots, NamesAndAbbreviations) {
  int32_t count = 0;
  const RegistryRoot* roots = RegistryRoots(&count);
  ASSERT_EQ(count, 6);
  const char* expected[][2] = {{"HKEY_LOCAL_MACHINE", "HKLM"}, {"HKEY_CURRENT_USER", "HKCU"},
                               {"HKEY_CLASSES_ROOT", "HKCR"},  {"HKEY_USERS", "HKU"},
                               {"HKEY_CURRENT_CONFIG", "HKCC"}, {"HKEY_DYN_DATA", "HKDD"}};
  for (int32_t i = 0; i < count; ++i) {
    EXPECT_STREQ(roots[i].name, expected[i][0]);
    EXPECT_STREQ(roots[i].abbreviation, expected[i][1]);
    EXPECT_EQ(RegistryRootByName(expected[i][0]), roots[i].key);
    EXPECT_EQ(RegistryRootByName(expected[i][1]), roots[i].key);
    EXPECT_STREQ(RegistryRootName(roots[i].key), expected[i][0]);
  }
  EXPECT_EQ(RegistryRootByName("hkcu"), HKEY_CURRENT_USER);
  EXPECT_EQ(RegistryRootByName("HKEY_NOPE"), nullptr);
  EXPECT_EQ(RegistryRootByName(nullptr), nullptr);
  EXPECT_STREQ(RegistryRootName(nullptr), "");
  EXPECT_STREQ(kSharedDllsPath, "Microsoft\\Windows\\CurrentVersion\\SharedDLLs");
  EXPECT_STREQ(kUninstallPath, "Microsoft\\Windows\\CurrentVersion\\Uninstall");
}

TEST(RegistryKeyExists, OpensAndClosesAgain) {
  EXPECT_TRUE(RegistryKey::KeyExists(HKEY_LOCAL_MACHINE, "Software\\Microsoft"));
  EXPECT_TRUE(RegistryKey::SoftwareKeyExists(false, "Microsoft\\Windows\\CurrentVersion"));
  EXPECT_FALSE(RegistryKey::KeyExists(HKEY_LOCAL_MACHINE, "Software\\NoSuchTruxKey"));
  EXPECT_FALSE(RegistryKey::KeyExists(nullptr, "Software"));
  // HKEY_CLASSES_ROOT writes land in the machine's Software\Classes.
  RegistryKey key;
  ASSERT_EQ(key.Open(HKEY_CLASSES_ROOT, ".truxtest"), kRegistryCreated);
  EXPECT_EQ(Text(key.Path()), "HKEY_CLASSES_ROOT\\.truxtest");
  key.CloseAll();
  EXPECT_TRUE(RegistryKey::SoftwareKeyExists(false, "Classes\\.truxtest"));
  EXPECT_EQ(key.DeletePathKey(HKEY_CLASSES_ROOT, ".truxtest"), kRegistryDeleted);
}

}  // namespace
