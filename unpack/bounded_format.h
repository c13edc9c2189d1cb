// A formatter that never writes past its buffer and says when a text was cut.
//
// The platform's formatter may store up to 1,024 bytes whatever the buffer, so
// every text the program joins from parts (paths, commands, messages) goes
// through this one instead. It knows %s, %d, %u and %%.
#pragma once

#include <stdarg.h>
#include <stdint.h>

// Formats into buffer (size >= 1 bytes, always zero-terminated). Returns 1
// when the whole text fit, 0 when it was cut.
int FormatBounded(char* buffer, uint32_t size, const char* format, ...);
int FormatBoundedV(char* buffer, uint32_t size, const char* format, va_list args);

// Copies at most size - 1 bytes of source, zero-fills the rest of the size bytes
// and always ends the buffer with a zero. Expects valid arguments and size >= 1.
void CopyBounded(char* destination, const char* source, uint32_t size);
