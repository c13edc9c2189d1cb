// Names Windows opens as devices, whatever their extension, and names it
// opens as files.
#include "rescue/safe_names.h"

#include <gtest/gtest.h>

namespace {

TEST(SafeNames, DeviceNamesGetAPrefix) {
  const struct {
    const char* name;
    const char* safe;
  } cases[] = {
      {"NUL.SCR", "_NUL.SCR"},
      {"con", "_con"},
      {"Com1.tar.gz", "_Com1.tar.gz"},
      {"LPT9.EXE", "_LPT9.EXE"},
      {"aux ", "_aux "},
      {"PRN .txt", "_PRN .txt"},
      {"COM0.SCR", "COM0.SCR"},
      {"COM10", "COM10"},
      {"LPT", "LPT"},
      {"NULL.SCR", "NULL.SCR"},
      {"CONSOLE", "CONSOLE"},
      {"INSTALL.SCR", "INSTALL.SCR"},
      {"at-0.expanded", "at-0.expanded"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(NotADeviceName(c.name), c.safe) << c.name;
}

}  // namespace
