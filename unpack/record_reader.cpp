#include "record_reader.h"

#include "bounded_format.h"
#include "check_record.h"
#include "crc32.h"

namespace {

void Pump(const RecordIo* io) {
  if (io->pump) io->pump(io->context);
}

bool HasMagic(const uint8_t* header) {
  for (uint32_t i = 0; i < PackMagicSize; ++i) {
    if (header[i] != (uint8_t)PackMagic[i]) return false;
  }
  return true;
}

void ReportProgress(const RecordProgress* progress, uint32_t consumed, uint32_t total) {
  if (!progress || progress->target == 0 || !progress->callback || total == 0) return;
  // Formed in 64 bits: no range overflows, and sources beyond 42,949,672
  // bytes report correctly.
  int64_t span = (int64_t)progress->end - progress->start;
  if (span <= 0 || span > 100) span = 100;
  int64_t part = (int64_t)(((uint64_t)span * consumed) / total);
  progress->callback(progress->target, (int32_t)(uint32_t)(progress->start + part));
}

// Reads the check record found as record `index`; 0 (with the message) when
// it makes the file damaged.
int TakeCheckRecord(const uint8_t* body, uint32_t packedSize, uint32_t expandedSize, uint32_t index,
                    PackCheck* found, char* errorText, uint32_t errorSize) {
  CheckRecord record;
  uint32_t status = ReadCheckRecord(body, packedSize, &record);
  if (index != 0) {
    FormatBounded(errorText, errorSize, "Pack check record error (not the first record)");
  } else if (expandedSize != 0) {
    FormatBounded(errorText, errorSize, "Pack check record error (expanded size %u, not 0)", expandedSize);
  } else if (status == CheckRecordUnknownVersion) {
    FormatBounded(errorText, errorSize, "Pack check record error (layout version %u unknown)",
                  record.version);
  } else if (status != CheckRecordOk) {
    FormatBounded(errorText, errorSize, "Pack check record error (damaged)");
  } else {
    found->present = 1;
    found->listedRecords = record.listedRecords;
    found->expectedSize = record.expandedSize;
    found->expectedCrc = record.crc;
    return 1;
  }
  return 0;
}

}  // namespace

int ReadRecords(DecoderState* decoder, const RecordIo* io, uint32_t totalSize, uint8_t* inputBuffer,
                uint8_t* outputBuffer, const RecordProgress* progress, char* errorText, uint32_t errorSize,
                RecordPosition* failedAt, PackCheck* check) {
  // 64 bits: a damaged header near the end of a 4 GB source cannot wrap it.
  uint64_t consumed = 0;
  uint32_t index = 0;
  PackCheck local;
  PackCheck* found = check ? check : &local;
  *found = PackCheck();

  while (consumed < totalSize) {
    if (failedAt) {
      failedAt->index = index;
      failedAt->offset = (uint32_t)consumed;
    }

    // Header bytes that cannot be read stay zero and fail the magic test.
    uint8_t header[PackHeaderSize] = {0};
    io->read(io->context, header, PackHeaderSize);
    consumed += PackHeaderSize;
    Pump(io);

    if (!HasMagic(header)) {
      FormatBounded(errorText, errorSize, "Pack data header error");
      return 0;
    }
    uint32_t packedSize = ReadLE32(header + 8);
    uint32_t expandedSize = ReadLE32(header + 12);
    if (packedSize > BlockBufferSize || expandedSize > BlockBufferSize) {
      FormatBounded(errorText, errorSize, "Pack record size error (%u packed, %u expanded bytes; at most %u)",
                    packedSize, expandedSize, BlockBufferSize);
      return 0;
    }

    const uint8_t* body = 0;  // what the record writes; none for a check record
    if (packedSize != 0) {
      uint32_t got = io->read(io->context, inputBuffer, packedSize);
      if (got < packedSize) {
        FormatBounded(errorText, errorSize, "Read source error (%d of %d bytes)", got, packedSize);
        return 0;
      }
      Pump(io);
      consumed += packedSize;
      if (IsCheckRecordBody(inputBuffer, packedSize)) {
        // Every decoder expands it to nothing; here it is read instead.
        if (!TakeCheckRecord(inputBuffer, packedSize, expandedSize, index, found, errorText, errorSize)) {
          return 0;
        }
      } else {
        uint32_t decoded = DecodeBlock(decoder, outputBuffer, expandedSize, inputBuffer, packedSize);
        Pump(io);
        if (decoded != DecodeOk) {
          FormatBounded(errorText, errorSize, "Pack data damaged (block of %d bytes)", packedSize);
          return 0;
        }
        body = outputBuffer;
      }
    } else {
      uint32_t got = io->read(io->context, inputBuffer, expandedSize);
      if (got < expandedSize) {
        FormatBounded(errorText, errorSize, "Read source error (%d of %d bytes)", got, expandedSize);
        return 0;
      }
      Pump(io);
      body = inputBuffer;
      consumed += expandedSize;
    }

    if (body) {
      uint32_t written = io->write(io->context, body, expandedSize);
      if (written < expandedSize) {
        FormatBounded(errorText, errorSize, "Write dest error (%d of %d bytes)", written, expandedSize);
        return 0;
      }
      found->expandedSize += expandedSize;
      found->dataRecords += 1;
      if (found->present) found->expandedCrc = Crc32Update(found->expandedCrc, body, expandedSize);
    }

    ReportProgress(progress, (uint32_t)(consumed < totalSize ? consumed : totalSize), totalSize);
    Pump(io);
    ++index;
  }

  if (found->present &&
      (found->expandedSize != found->expectedSize || found->expandedCrc != found->expectedCrc ||
       (found->listedRecords != 0 && found->listedRecords != found->dataRecords))) {
    if (failedAt) {
      failedAt->index = index;
      failedAt->offset = (uint32_t)consumed;
    }
    FormatBounded(errorText, errorSize, "Pack check error (the expansion differs from the check record)");
    return 0;
  }
  return 1;
}
