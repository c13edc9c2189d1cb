#include "record_reader.h"

#include "bounded_format.h"

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

}  // namespace

int ReadRecords(DecoderState* decoder, const RecordIo* io, uint32_t totalSize, uint8_t* inputBuffer,
                uint8_t* outputBuffer, const RecordProgress* progress, char* errorText, uint32_t errorSize,
                RecordPosition* failedAt) {
  // 64 bits: a damaged header near the end of a 4 GB source cannot wrap it.
  uint64_t consumed = 0;
  uint32_t index = 0;

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

    const uint8_t* body;
    if (packedSize != 0) {
      uint32_t got = io->read(io->context, inputBuffer, packedSize);
      if (got < packedSize) {
        FormatBounded(errorText, errorSize, "Read source error (%d of %d bytes)", got, packedSize);
        return 0;
      }
      Pump(io);
      uint32_t decoded = DecodeBlock(decoder, outputBuffer, expandedSize, inputBuffer, packedSize);
      Pump(io);
      if (decoded != DecodeOk) {
        FormatBounded(errorText, errorSize, "Pack data damaged (block of %d bytes)", packedSize);
        return 0;
      }
      body = outputBuffer;
      consumed += packedSize;
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

    uint32_t written = io->write(io->context, body, expandedSize);
    if (written < expandedSize) {
      FormatBounded(errorText, errorSize, "Write dest error (%d of %d bytes)", written, expandedSize);
      return 0;
    }

    ReportProgress(progress, (uint32_t)(consumed < totalSize ? consumed : totalSize), totalSize);
    Pump(io);
    ++index;
  }
  return 1;
}
