// CRC-32 as zlib, PNG and gzip compute it (reflected polynomial 0xEDB88320,
// all ones before and after), so that the check of a pack file can be
// confirmed with standard tools.
#pragma once

#include <stdint.h>

// Extends crc, the CRC-32 of the bytes so far (0 for none), by size bytes.
uint32_t Crc32Update(uint32_t crc, const uint8_t* data, uint32_t size);
