#include "core/scale.h"

#include <gtest/gtest.h>

TEST(ScaleDown, ExactThroughAWideProduct) {
  struct Case {
    uint32_t a, b, bias, c, result;
  } const cases[] = {
      {0, 40, 0, 7, 0},
      {6, 40, 0, 7, 34},                              // 240 / 7, rounded down
      {149, 100, 50, 100, 149},                        // a percentage, rounded half up
      {3, 50, 50, 100, 2},                             // 1.5 rounds up
      {2000000000u, 30, 0, 2000000001u, 29},           // the product needs more than 32 bits
      {0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0xFFFFFFFFu, 0xFFFFFFFFu},  // product near 2^64
      {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 1, 0},  // no wrap before the division: 2^64 - 2^32, truncated
      {0x80000000u, 4, 0, 1, 0},                       // 2^33 truncated to 32 bits
  };
  for (const Case& c : cases) EXPECT_EQ(ScaleDown(c.a, c.b, c.bias, c.c), c.result) << c.a << " " << c.b;
}
