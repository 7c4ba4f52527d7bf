#include <gtest/gtest.h>

#include "archive/format.h"
#include "archive/volume_name.h"

namespace {

TEST(VolumeName, BaseNameThenNumberThenExtension) {
  struct Case {
    const char* base;
    int32_t number;
    const char* name;
  } cases[] = {
      {"setup", kFirstVolumeNumber, "setup2.XAV"},
      {"setup", 10, "setup10.XAV"},
      {"my product", 3, "my product3.XAV"},
      {"disk-7", 2, "disk-72.XAV"},  // a base ending in a digit runs into the number
      {"%s%d", 2, "%s%d2.XAV"},      // the base is data, never a format
      {"", 2, "2.XAV"},
      {"v", 2147483647, "v2147483647.XAV"},
  };
  for (const Case& c : cases) EXPECT_STREQ(c.name, VolumeFileName(c.base, c.number).CStr()) << c.base;
}

}  // namespace
