// The routines setup.exe carries instead of a C runtime (launcher/crt_stubs.cpp),
// linked into this program in place of the runtime's own: block fills, copies
// and moves, comparison, string length and, on i686, 64-bit division.
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <random>

extern "C" {
void* memset(void* destination, int value, size_t size);
void* memcpy(void* destination, const void* source, size_t size);
void* memmove(void* destination, const void* source, size_t size);
int memcmp(const void* left, const void* right, size_t size);
size_t strlen(const char* text);
#if defined(__i386__)
uint64_t __udivdi3(uint64_t dividend, uint64_t divisor);
int64_t __divdi3(int64_t dividend, int64_t divisor);
#endif
}

namespace {

TEST(CrtStubs, FillCopyAndCompare) {
  unsigned char block[16];
  EXPECT_EQ(block, memset(block, 0xAB, sizeof(block)));
  for (unsigned char byte : block) EXPECT_EQ(0xAB, byte);
  const char source[] = "0123456789abcdef";
  char copy[17] = {0};
  EXPECT_EQ(copy, memcpy(copy, source, 16));
  EXPECT_EQ(0, memcmp(copy, source, 16));
  EXPECT_LT(memcmp("abc", "abd", 3), 0);
  EXPECT_GT(memcmp("\xFF", "\x01", 1), 0);  // bytes compare unsigned
  EXPECT_EQ(0, memcmp("x", "y", 0));
  EXPECT_EQ(16u, strlen(source));
  EXPECT_EQ(0u, strlen(""));
}

TEST(CrtStubs, MoveHandlesOverlapBothWays) {
  char forward[] = "abcdefgh";
  EXPECT_EQ(forward + 2, memmove(forward + 2, forward, 5));
  EXPECT_STREQ("ababcdeh", forward);
  char backward[] = "abcdefgh";
  memmove(backward, backward + 3, 5);
  EXPECT_STREQ("defghfgh", backward);
}

#if defined(__i386__)
// q = a / b exactly when q * b <= a < q * b + b; checked with multiplication
// and subtraction only, so that the check does not divide.
void ExpectQuotient(uint64_t dividend, uint64_t divisor) {
  uint64_t quotient = __udivdi3(dividend, divisor);
  uint64_t product = quotient * divisor;
  ASSERT_LE(product, dividend) << dividend << " / " << divisor;
  ASSERT_LT(dividend - product, divisor) << dividend << " / " << divisor;
}

TEST(CrtStubs, UnsignedDivisionOf64BitValues) {
  EXPECT_EQ(0u, __udivdi3(0, 7));
  EXPECT_EQ(1u, __udivdi3(7, 7));
  EXPECT_EQ(UINT64_MAX, __udivdi3(UINT64_MAX, 1));
  EXPECT_EQ(1u, __udivdi3(UINT64_MAX, UINT64_MAX));
  EXPECT_EQ(0u, __udivdi3(UINT64_MAX - 1, UINT64_MAX));
  EXPECT_EQ(0x100000001ull, __udivdi3(UINT64_MAX, 0xFFFFFFFFull));
  EXPECT_EQ(1ull << 32, __udivdi3(1ull << 63, 1ull << 31));
  EXPECT_EQ(6148914691236517205ull, __udivdi3(UINT64_MAX, 3));
  // The progress figure of the record loop: span * consumed / total.
  EXPECT_EQ(50u, __udivdi3(100ull * 2147483648ull, 4294967295ull));
  std::mt19937_64 random(20261207);
  for (int i = 0; i < 20000; ++i) {
    uint64_t dividend = random() >> (random() % 64);
    uint64_t divisor = random() >> (random() % 64);
    if (divisor == 0) divisor = 1;
    ExpectQuotient(dividend, divisor);
  }
}

TEST(CrtStubs, SignedDivisionTruncatesTowardZero) {
  EXPECT_EQ(3, __divdi3(7, 2));
  EXPECT_EQ(-3, __divdi3(-7, 2));
  EXPECT_EQ(-3, __divdi3(7, -2));
  EXPECT_EQ(3, __divdi3(-7, -2));
  EXPECT_EQ(INT64_MIN, __divdi3(INT64_MIN, 1));
  EXPECT_EQ(-(INT64_MIN / 2), __divdi3(INT64_MIN, -2));
  EXPECT_EQ(0, __divdi3(-1, INT64_MIN));
  EXPECT_EQ(1, __divdi3(INT64_MIN, INT64_MIN));
  EXPECT_EQ(-4611686018427387904ll, __divdi3(INT64_MIN, 2));
}
#endif

}  // namespace
