// CompareVersions: the order of version texts used by the overwrite rules and
// the reinstall question.
#include <gtest/gtest.h>

#include "core/win32/version_info.h"

namespace {

int Sign(int x) { return (x > 0) - (x < 0); }

struct VersionCase {
  const char* a;
  const char* b;
  int sign;  // of CompareVersions(a, b)
};

TEST(CompareVersions, TableOfOrders) {
  const VersionCase cases[] = {
      {"1.0", "1.0", 0},
      {"1.2", "1.2.1", -1},             // a prefix is older
      {"1.10", "1.9", 1},               // numbers, not texts
      {"2.0.0.0", "1.5", 1},
      {"1.5", "0000000002.0000000000.0000000000.0000000000", -1},  // padded existing version
      {"1.0b", "0000000001.0000000000B", 1},  // 'b' - 'B' is positive
      {"1.0B", "1.0b", -1},
      {"1.0a", "1.0", 1},               // a letter beats none
      {"1.0", "1.0a", -1},
      {"1.0a", "1.0b", -1},
      {"1a.0b", "1.0b", 0},             // only the last letter counts
      {".5", "0.5", 0},                 // a leading point is a leading 0
      {"..5", "0.5", 0},                // only once
      {"v.5", "0.5", 1},                // the suffix letter 'v' remains
      {"1..2", "1.2", 0},               // other characters only separate
      {"1-2_3", "1.2.3", 0},
      {"", "", 0},
      {"", "0", -1},                    // any number beats none
      {nullptr, "", 0},
      {"1,2", "1.2", 0},
      {"99999999999999999999", "4294967295", 0},  // saturates
      {"4294967295", "4294967294", 1},
      {"0001.02", "1.2", 0},
  };
  for (const VersionCase& c : cases) {
    EXPECT_EQ(Sign(CompareVersions(c.a, c.b)), c.sign) << (c.a ? c.a : "(null)") << " vs " << c.b;
    EXPECT_EQ(Sign(CompareVersions(c.b, c.a)), -c.sign) << c.b << " vs " << (c.a ? c.a : "(null)");
  }
}

}  // namespace
