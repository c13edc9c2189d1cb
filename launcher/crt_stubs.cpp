// The few routines the compiler may call on its own (block moves and fills,
// structure copies) for a program linked without the C runtime. Built with
// -fno-builtin and no loop-to-call patterns, so they cannot call themselves.
#include <stddef.h>

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

}  // extern "C"
