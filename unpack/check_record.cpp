#include "check_record.h"

#include "crc32.h"

int IsCheckRecordBody(const uint8_t* body, uint32_t size) {
  if (size < CheckRecordIdSize) return 0;
  for (uint32_t i = 0; i < CheckRecordIdSize; ++i) {
    if (body[i] != CheckRecordId[i]) return 0;
  }
  return 1;
}

uint32_t ReadCheckRecord(const uint8_t* body, uint32_t size, CheckRecord* check) {
  // Its own CRC first: any damage to the record is named as such, before
  // any field of it is believed.
  if (size < CheckFixedSize || Crc32Update(0, body, size - 4) != ReadLE32(body + size - 4)) {
    return CheckRecordDamaged;
  }
  check->version = ReadLE32(body + 8);
  if (check->version != CheckLayoutVersion) return CheckRecordUnknownVersion;
  check->listedRecords = ReadLE32(body + 12);
  check->expandedSize = (uint64_t)ReadLE32(body + 16) | ((uint64_t)ReadLE32(body + 20) << 32);
  check->crc = ReadLE32(body + 24);
  check->recordCrcs = body + 28;
  if (check->listedRecords > (size - CheckFixedSize) / 4 ||
      size != CheckFixedSize + 4 * check->listedRecords) {
    return CheckRecordDamaged;
  }
  return CheckRecordOk;
}

uint32_t WriteCheckRecord(uint8_t* body, uint32_t capacity, const CheckRecord* check,
                          const uint32_t* recordCrcs) {
  uint32_t n = check->listedRecords;
  if (n > CheckMaxListedRecords || CheckFixedSize + 4 * n > capacity) return 0;
  uint32_t size = CheckFixedSize + 4 * n;
  for (uint32_t i = 0; i < CheckRecordIdSize; ++i) body[i] = CheckRecordId[i];
  WriteLE32(body + 8, CheckLayoutVersion);
  WriteLE32(body + 12, n);
  WriteLE32(body + 16, (uint32_t)check->expandedSize);
  WriteLE32(body + 20, (uint32_t)(check->expandedSize >> 32));
  WriteLE32(body + 24, check->crc);
  for (uint32_t i = 0; i < n; ++i) WriteLE32(body + 28 + 4 * i, recordCrcs[i]);
  WriteLE32(body + size - 4, Crc32Update(0, body, size - 4));
  return size;
}
