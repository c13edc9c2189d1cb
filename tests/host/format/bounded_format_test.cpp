#include <gtest/gtest.h>

#include "bounded_format.h"

namespace {

TEST(FormatBounded, FormatsTheConversionsTheProgramUses) {
  char buffer[128];
  EXPECT_EQ(FormatBounded(buffer, sizeof buffer, "%s\\%s", "C:\\WINDOWS", "ZIMRO~SE.TUP"), 1);
  EXPECT_STREQ(buffer, "C:\\WINDOWS\\ZIMRO~SE.TUP");
  EXPECT_EQ(FormatBounded(buffer, sizeof buffer, "Read source error (%d of %d bytes)", 0, 528), 1);
  EXPECT_STREQ(buffer, "Read source error (0 of 528 bytes)");
  FormatBounded(buffer, sizeof buffer, "%d %d %u %% %x", -2147483647 - 1, 7, 4294967295u);
  EXPECT_STREQ(buffer, "-2147483648 7 4294967295 % %x");
}

TEST(FormatBounded, CutsAtTheBufferAndSaysSo) {
  char buffer[8];
  memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(FormatBounded(buffer, 6, "%s", "ABCDEFGH"), 0);
  EXPECT_STREQ(buffer, "ABCDE");
  EXPECT_EQ(buffer[6], '#');                        // nothing past the size given
  EXPECT_EQ(FormatBounded(buffer, 6, "ABCDE"), 1);  // exactly fits
  EXPECT_EQ(FormatBounded(buffer, 1, "%d", 5), 0);
  EXPECT_STREQ(buffer, "");
}

TEST(CopyBounded, FillsWithZerosAndAlwaysTerminates) {
  char buffer[8];
  memset(buffer, '#', sizeof buffer);
  CopyBounded(buffer, "AB", 6);
  EXPECT_EQ(std::string(buffer, 6), std::string("AB\0\0\0\0", 6));
  EXPECT_EQ(buffer[6], '#');
  CopyBounded(buffer, "ABCDEFGHIJ", 6);
  EXPECT_STREQ(buffer, "ABCDE");
  CopyBounded(buffer, "XYZ", 1);
  EXPECT_STREQ(buffer, "");
}

}  // namespace
