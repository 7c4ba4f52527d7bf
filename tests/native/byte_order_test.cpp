#include <gtest/gtest.h>
#include <string.h>

#include "core/byte_order.h"

namespace {

// Stores at an odd offset (no alignment), then the exact bytes, then loads
// back; the canary after the field must survive.
TEST(ByteOrder, StoresAndLoadsLittleEndianAtAnyOffset) {
  struct Case {
    uint32_t value;
    unsigned char bytes[4];
  } cases[] = {
      {0x00000000u, {0x00, 0x00, 0x00, 0x00}},
      {0x12345678u, {0x78, 0x56, 0x34, 0x12}},
      {0x80000001u, {0x01, 0x00, 0x00, 0x80}},
      {0xFFFFFFFFu, {0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    unsigned char buffer[8];
    memset(buffer, 0xA5, sizeof buffer);
    StoreLe32(buffer + 1, c.value);
    EXPECT_EQ(0, memcmp(buffer + 1, c.bytes, 4)) << std::hex << c.value;
    EXPECT_EQ(0xA5, buffer[5]);
    EXPECT_EQ(c.value, LoadLe32(buffer + 1));
    EXPECT_EQ(c.value & 0xFFFF, LoadLe16(buffer + 1));

    memset(buffer, 0xA5, sizeof buffer);
    StoreLe16(buffer + 3, c.value);  // the low 16 bits only
    EXPECT_EQ(0, memcmp(buffer + 3, c.bytes, 2));
    EXPECT_EQ(0xA5, buffer[5]);
    EXPECT_EQ(0xA5, buffer[2]);
    EXPECT_EQ(c.value & 0xFFFF, LoadLe16(buffer + 3));
  }
  const char signedBytes[8] = {'\x01', '\x02', '\x03', '\x04', '\xF5', '\xF6', '\xF7', '\xF8'};
  EXPECT_EQ(0xF8F7F6F504030201ull, LoadLe64(signedBytes));  // char signedness never leaks into the value
  EXPECT_EQ(0xF8F7F6F5u, LoadLe32(signedBytes + 4));
}

}  // namespace

namespace {

TEST(ByteOrder, StoresAndLoadsBigEndianAtAnyOffset) {
  unsigned char buffer[8];
  memset(buffer, 0xA5, sizeof buffer);
  StoreBe32(buffer + 1, 0x80123456u);
  const unsigned char expected[4] = {0x80, 0x12, 0x34, 0x56};
  EXPECT_EQ(0, memcmp(buffer + 1, expected, 4));
  EXPECT_EQ(0xA5, buffer[0]);
  EXPECT_EQ(0xA5, buffer[5]);
  EXPECT_EQ(0x80123456u, LoadBe32(buffer + 1));
  EXPECT_EQ(0x56A5A5A5u, LoadBe32(buffer + 4));  // the canary bytes follow the field
}

}  // namespace
