#include "bounded_format.h"

namespace {

struct Writer {
  char* buffer;
  uint32_t size;
  uint32_t used;
  int fits;

  void Put(char c) {
    if (used + 1 < size) {
      buffer[used++] = c;
    } else {
      fits = 0;
    }
  }
  void PutText(const char* text) {
    if (!text) text = "(null)";
    while (*text) Put(*text++);
  }
  void PutUnsigned(uint32_t value) {
    char digits[10];
    int n = 0;
    do {
      digits[n++] = (char)('0' + value % 10);
      value /= 10;
    } while (value != 0);
    while (n > 0) Put(digits[--n]);
  }
};

}  // namespace

int FormatBoundedV(char* buffer, uint32_t size, const char* format, va_list args) {
  Writer out = {buffer, size, 0, 1};
  for (const char* f = format; *f; ++f) {
    if (*f != '%') {
      out.Put(*f);
      continue;
    }
    ++f;
    switch (*f) {
      case 's':
        out.PutText(va_arg(args, const char*));
        break;
      case 'd': {
        int32_t value = va_arg(args, int32_t);
        if (value < 0) {
          out.Put('-');
          out.PutUnsigned(0u - (uint32_t)value);
        } else {
          out.PutUnsigned((uint32_t)value);
        }
        break;
      }
      case 'u':
        out.PutUnsigned(va_arg(args, uint32_t));
        break;
      case '%':
        out.Put('%');
        break;
      default:  // unknown or cut-off conversion: keep it as text
        out.Put('%');
        if (!*f) {
          --f;
        } else {
          out.Put(*f);
        }
        break;
    }
  }
  buffer[out.used] = '\0';
  return out.fits;
}

int FormatBounded(char* buffer, uint32_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int fits = FormatBoundedV(buffer, size, format, args);
  va_end(args);
  return fits;
}

void CopyBounded(char* destination, const char* source, uint32_t size) {
  uint32_t i = 0;
  for (; i < size && source[i]; ++i) destination[i] = source[i];
  for (; i < size; ++i) destination[i] = '\0';
  destination[size - 1] = '\0';
}
