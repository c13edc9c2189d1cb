// The few routines the compiler may call on its own (block moves and fills,
// structure copies, 64-bit division on i686) for a program linked without
// the C runtime. Built with -fno-builtin and no loop-to-call patterns, so
// they cannot call themselves.
#include <stddef.h>
#include <stdint.h>

extern "C" {

void* memset(void* destination, int value, size_t size) {
  unsigned char* d = static_cast<unsigned char*>(destination);
  while (size--) *d++ = (unsigned char)value;
  return destination;
}

void* memcpy(void* destination, const void* source, size_t size) {
  unsigned char* d = static_cast<unsigned char*>(destination);
  const unsigned char* s = static_cast<const unsigned char*>(source);
  while (size--) *d++ = *s++;
  return destination;
}

void* memmove(void* destination, const void* source, size_t size) {
  unsigned char* d = static_cast<unsigned char*>(destination);
  const unsigned char* s = static_cast<const unsigned char*>(source);
  if (d < s) {
    while (size--) *d++ = *s++;
  } else {
    d += size;
    s += size;
    while (size--) *--d = *--s;
  }
  return destination;
}

int memcmp(const void* left, const void* right, size_t size) {
  const unsigned char* l = static_cast<const unsigned char*>(left);
  const unsigned char* r = static_cast<const unsigned char*>(right);
  for (; size != 0; --size, ++l, ++r) {
    if (*l != *r) return *l < *r ? -1 : 1;
  }
  return 0;
}

size_t strlen(const char* text) {
  size_t length = 0;
  while (text[length] != '\0') ++length;
  return length;
}

#if defined(__i386__)
// 64-bit division for i686 (the progress figure of the record loop), one
// quotient bit a step. libgcc's versions are twice the size and bring unwind
// tables the program never uses; they are called once a record at most.
// Shifts of 64-bit values are inline on i686, so these cannot call
// themselves. A zero divisor yields all ones instead of a trap; no caller
// divides by zero.
uint64_t __udivdi3(uint64_t dividend, uint64_t divisor) {
  // The dividend shifts out into the remainder at the top while the
  // quotient bits shift in at the bottom.
  uint64_t remainder = 0;
  for (int step = 0; step < 64; ++step) {
    remainder = (remainder << 1) | (dividend >> 63);
    dividend <<= 1;
    if (remainder >= divisor) {
      remainder -= divisor;
      dividend |= 1;
    }
  }
  return dividend;
}

int64_t __divdi3(int64_t dividend, int64_t divisor) {
  // On magnitudes as unsigned values, so that INT64_MIN does not overflow;
  // the quotient truncates toward zero.
  uint64_t magnitude = dividend < 0 ? 0 - (uint64_t)dividend : (uint64_t)dividend;
  uint64_t by = divisor < 0 ? 0 - (uint64_t)divisor : (uint64_t)divisor;
  uint64_t quotient = __udivdi3(magnitude, by);
  return (int64_t)(((dividend ^ divisor) < 0) ? 0 - quotient : quotient);
}
#endif

}  // extern "C"
